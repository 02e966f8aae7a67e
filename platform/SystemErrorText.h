#pragma once
// The system's text of an error code, in UTF-8, as the system gives it (line end included).

#include <string>

#include "platform/Win32.h"

namespace win::detail {

std::string SystemErrorText(DWORD code);

}  // namespace win::detail
