// Windows: handles, windows and modules that the layer does not know are the system's: events,
// threads, the real files behind the Windows world, the application's real windows and the
// system's libraries.

#include "platform/SystemHandles.h"

namespace win::detail {

BOOL CloseSystemHandle(HANDLE handle) {
  return ::CloseHandle(handle);
}

LRESULT SendSystemMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageA(window, message, wParam, lParam);
}

BOOL PostSystemMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageA(window, message, wParam, lParam);
}

// From the system's folder only: a library of the same name beside the program, or anywhere on
// the search path, is never loaded in its place.
HMODULE LoadSystemLibrary(LPCSTR fileName) {
  return ::LoadLibraryExA(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

FARPROC FindSystemProc(HMODULE module, LPCSTR procName) {
  return ::GetProcAddress(module, procName);
}

BOOL FreeSystemLibrary(HMODULE module) {
  return ::FreeLibrary(module);
}

}  // namespace win::detail
