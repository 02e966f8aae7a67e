// Locks: whatever a UUCP lock file, the kernel's lock table (/proc/locks) or a process's stat line
// holds, asking who holds a port is safe.

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/host/HostHolders.h"
#include "platform/host/HostLocks.h"
#include "platform/host/HostProcStat.h"

namespace {

// A folder that serves as lock directory and as /proc.
const std::string& Folder() {
  static const std::string dir = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "talvik-fuzz-lock-XXXXXX").string();
    return std::string(mkdtemp(pattern.data()));
  }();
  return dir;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  WriteFile(Folder() + "/LCK..ttyUSB0", data, size);
  WriteFile(Folder() + "/locks", data, size);
  const win::host::HostLocks locks({Folder()});
  static_cast<void>(locks.LockFileHolder({"LCK..ttyUSB0"}));
  static_cast<void>(
      win::host::ParseProcStat(std::string_view(reinterpret_cast<const char*>(data), size)));
  const win::host::HostHolders holders(Folder());
  static_cast<void>(holders.Find({"/dev/null"}));
  return 0;
}
