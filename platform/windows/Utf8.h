#pragma once
// Text across the system boundary on Windows: the system speaks UTF-16, the program UTF-8.

#include <string>
#include <string_view>

namespace win::windows {

std::string Utf8FromWide(std::wstring_view wide);
std::wstring WideFromUtf8(std::string_view utf8);

}  // namespace win::windows
