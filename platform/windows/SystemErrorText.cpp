// Windows: the system's text in UTF-16, converted here; FormatMessageA would give it in the ANSI
// code page.

#include <array>

#include "platform/SystemErrorText.h"
#include "platform/windows/Utf8.h"

namespace win::detail {

std::string SystemErrorText(DWORD code) {
  std::array<wchar_t, 512> buffer{};
  DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  buffer.data(), static_cast<DWORD>(buffer.size()), nullptr);
  if (length > buffer.size()) {
    length = static_cast<DWORD>(buffer.size());
  }
  return windows::Utf8FromWide(std::wstring_view(buffer.data(), length));
}

}  // namespace win::detail
