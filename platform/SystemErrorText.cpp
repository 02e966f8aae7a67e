// POSIX: the layer's own texts, which are UTF-8 already.

#include <array>

#include "platform/SystemErrorText.h"

namespace win::detail {

std::string SystemErrorText(DWORD code) {
  std::array<char, 256> buffer{};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer.data(),
                                static_cast<DWORD>(buffer.size()), nullptr);
  if (length > buffer.size()) {
    length = static_cast<DWORD>(buffer.size());
  }
  return std::string(buffer.data(), length);
}

}  // namespace win::detail
