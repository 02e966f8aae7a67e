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

HMODULE LoadSystemLibrary(LPCSTR fileName) {
  return ::LoadLibraryA(fileName);
}

FARPROC FindSystemProc(HMODULE module, LPCSTR procName) {
  return ::GetProcAddress(module, procName);
}

BOOL FreeSystemLibrary(HMODULE module) {
  return ::FreeLibrary(module);
}

}  // namespace win::detail
