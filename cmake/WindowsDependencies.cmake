# The Windows build's dependencies, from Debian's source and header packages: GoogleTest built
# from /usr/src/googletest with the cross compiler (it names its targets GTest::gtest and so on),
# and nlohmann's JSON headers (header-only) seen through a folder of their own, so that no other
# Linux header reaches the build.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

set(TALVIK_JSON_INCLUDE ${PROJECT_BINARY_DIR}/nlohmann-json/include)
file(MAKE_DIRECTORY ${TALVIK_JSON_INCLUDE})
file(CREATE_LINK /usr/include/nlohmann ${TALVIK_JSON_INCLUDE}/nlohmann SYMBOLIC)
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${TALVIK_JSON_INCLUDE})
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)
