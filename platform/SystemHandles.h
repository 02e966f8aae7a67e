#pragma once
// Handles, windows and modules that the layer's own tables do not know: the system's own where
// there is a system behind this layer (Windows), unknown ones where there is none.

#include "platform/Win32.h"

namespace win::detail {

BOOL CloseSystemHandle(HANDLE handle);

// 0 (or FALSE) with ERROR_INVALID_WINDOW_HANDLE where there is no system.
LRESULT SendSystemMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostSystemMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Where there is no system, no library loads, is found or is freed (ERROR_MOD_NOT_FOUND).
HMODULE LoadSystemLibrary(LPCSTR fileName);
FARPROC FindSystemProc(HMODULE module, LPCSTR procName);
BOOL FreeSystemLibrary(HMODULE module);

}  // namespace win::detail
