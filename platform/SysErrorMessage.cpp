#include "platform/Additions.h"
#include "platform/SystemErrorText.h"

namespace win {

std::string SysErrorMessage(DWORD code) {
  std::string text = detail::SystemErrorText(code);
  // Without the line end and the closing full stop. Bytes of UTF-8 sequences are never below
  // 0x80, so a multi-byte character is never cut.
  while (!text.empty()) {
    const auto last = static_cast<unsigned char>(text.back());
    if (last > ' ' && last != '.') {
      break;
    }
    text.pop_back();
  }
  return text;
}

}  // namespace win
