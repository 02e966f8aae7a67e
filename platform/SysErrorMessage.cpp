#include <array>

#include "platform/Additions.h"

namespace win {

std::string SysErrorMessage(DWORD code) {
  std::array<char, 256> buffer{};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer.data(),
                                static_cast<DWORD>(buffer.size()), nullptr);
  if (length > buffer.size()) {
    length = static_cast<DWORD>(buffer.size());
  }
  while (length > 0) {
    const auto last = static_cast<unsigned char>(buffer[length - 1]);
    if (last > ' ' && last != '.') {
      break;
    }
    --length;
  }
  return std::string(buffer.data(), length);
}

}  // namespace win
