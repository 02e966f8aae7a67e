#include <cwchar>

#include "platform/Win32.h"

namespace win {

namespace {

// The value of `count` hex digits at `text`, or false when one of them is no hex digit.
template <class Integer>
bool ParseHex(const wchar_t* text, int count, Integer& value) {
  std::uint64_t result = 0;
  for (int i = 0; i < count; ++i) {
    const wchar_t c = text[i];
    int digit = 0;
    if (c >= L'0' && c <= L'9') {
      digit = c - L'0';
    } else if (c >= L'a' && c <= L'f') {
      digit = c - L'a' + 10;
    } else if (c >= L'A' && c <= L'F') {
      digit = c - L'A' + 10;
    } else {
      return false;
    }
    result = result * 16 + static_cast<std::uint64_t>(digit);
  }
  value = static_cast<Integer>(result);
  return true;
}

}  // namespace

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}": 38 characters exactly.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  constexpr std::size_t kLength = 38;
  if (text == nullptr || clsid == nullptr || std::wcslen(text) != kLength || text[0] != L'{' ||
      text[9] != L'-' || text[14] != L'-' || text[19] != L'-' || text[24] != L'-' ||
      text[37] != L'}') {
    return CO_E_CLASSSTRING;
  }
  GUID guid{};
  bool ok = ParseHex(text + 1, 8, guid.Data1) && ParseHex(text + 10, 4, guid.Data2) &&
            ParseHex(text + 15, 4, guid.Data3) && ParseHex(text + 20, 2, guid.Data4[0]) &&
            ParseHex(text + 22, 2, guid.Data4[1]);
  for (int i = 0; ok && i < 6; ++i) {
    ok = ParseHex(text + 25 + 2 * i, 2, guid.Data4[2 + i]);
  }
  if (!ok) {
    return CO_E_CLASSSTRING;
  }
  *clsid = guid;
  return S_OK;
}

}  // namespace win
