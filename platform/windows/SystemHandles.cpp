// Windows: events, threads and the files of the Windows world are the system's handles.

#include "platform/SystemHandles.h"

namespace win::detail {

BOOL CloseSystemHandle(HANDLE handle) {
  return ::CloseHandle(handle);
}

}  // namespace win::detail
