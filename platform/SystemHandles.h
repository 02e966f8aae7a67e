#pragma once
// Handles that the handle table does not know: the system's own where there is a system behind
// this layer (Windows), unknown handles where there is none.

#include "platform/Win32.h"

namespace win::detail {

BOOL CloseSystemHandle(HANDLE handle);

}  // namespace win::detail
