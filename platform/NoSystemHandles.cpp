// POSIX: every handle is one of the table's, so any other is unknown, except the current
// process's pseudo-handle, which closes without effect as on Windows.

#include "platform/SystemHandles.h"

namespace win::detail {

BOOL CloseSystemHandle(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE) {
    return TRUE;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

}  // namespace win::detail
