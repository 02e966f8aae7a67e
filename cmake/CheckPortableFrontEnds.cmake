# Fails when a source of the window or of talvik-scan (their tests aside) includes a header that
# only POSIX systems have, or the POSIX-only host world: those two must build for Windows too.
# Run as: cmake -DSOURCE_DIR=<tree> -P CheckPortableFrontEnds.cmake
set(posix_only
    "unistd\\.h|sys/[a-z_/]+\\.h|termios\\.h|fcntl\\.h|pthread\\.h|dirent\\.h|poll\\.h|pwd\\.h"
    "|grp\\.h|dlfcn\\.h|libgen\\.h|syslog\\.h|platform/host/[A-Za-z]+\\.h|testing/Host[A-Za-z]+\\.h")
string(JOIN "" posix_only ${posix_only})
file(GLOB_RECURSE sources ${SOURCE_DIR}/app/*.cpp ${SOURCE_DIR}/app/*.h ${SOURCE_DIR}/cli/*.cpp
     ${SOURCE_DIR}/cli/*.h)
list(FILTER sources EXCLUDE REGEX "/tests/")
set(found "")
foreach(source IN LISTS sources)
  file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](${posix_only})[>\"]")
  foreach(line IN LISTS lines)
    list(APPEND found "${source}: ${line}")
  endforeach()
endforeach()
list(LENGTH sources count)
if(count EQUAL 0)
  message(FATAL_ERROR "no sources of app/ or cli/ under ${SOURCE_DIR}")
endif()
if(found)
  list(JOIN found "\n" report)
  message(FATAL_ERROR "POSIX-only includes in the front ends:\n${report}")
endif()
message(STATUS "${count} sources of app/ and cli/ include no POSIX-only header")
