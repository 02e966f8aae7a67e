// Lock files: whatever a lock file holds, asking whether its owner lives is safe.

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/host/HostLocks.h"

namespace {

const std::string& LockDir() {
  static const std::string dir = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "talvik-fuzz-lock-XXXXXX").string();
    return std::string(mkdtemp(pattern.data()));
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    std::ofstream file(LockDir() + "/LCK..ttyUSB0", std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const win::host::HostLocks locks({LockDir()}, nullptr);
  static_cast<void>(locks.LockFileLive("ttyUSB0"));
  return 0;
}
