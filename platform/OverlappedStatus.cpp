// POSIX: the completion word is the Win32 error code (0 for success).

#include "platform/OverlappedStatus.h"

namespace win::detail {

ULONG_PTR EncodeOverlappedStatus(DWORD error) {
  return error;
}

DWORD DecodeOverlappedStatus(ULONG_PTR status) {
  return static_cast<DWORD>(status);
}

}  // namespace win::detail
