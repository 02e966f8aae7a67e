// POSIX: every handle, window and module is one of the layer's own, so any other is unknown,
// except the current process's pseudo-handle, which closes without effect as on Windows.

#include "platform/SystemHandles.h"

namespace win::detail {

BOOL CloseSystemHandle(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE) {
    return TRUE;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

LRESULT SendSystemMessage(HWND, UINT, WPARAM, LPARAM) {
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return 0;
}

BOOL PostSystemMessage(HWND, UINT, WPARAM, LPARAM) {
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

HMODULE LoadSystemLibrary(LPCSTR) {
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

FARPROC FindSystemProc(HMODULE, LPCSTR) {
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

BOOL FreeSystemLibrary(HMODULE) {
  SetLastError(ERROR_MOD_NOT_FOUND);
  return FALSE;
}

}  // namespace win::detail
