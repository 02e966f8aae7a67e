// Windows: the completion word is an NTSTATUS, as the system writes it. A cancelled operation
// is STATUS_CANCELLED; any other Win32 code is carried in the NTSTATUS_FROM_WIN32 form
// (0x8007xxxx), which the system's RtlNtStatusToDosError reads back as the code. Every success
// status but STATUS_PENDING is success: a serial read that its time-outs ended may complete with
// STATUS_TIMEOUT.

#include <winternl.h>

#include "platform/OverlappedStatus.h"

namespace win::detail {

namespace {

constexpr ULONG_PTR kStatusCancelled = 0xC0000120;
constexpr ULONG_PTR kFromWin32 = 0x80070000;

}  // namespace

ULONG_PTR EncodeOverlappedStatus(DWORD error) {
  if (error == NO_ERROR) {
    return 0;
  }
  if (error == ERROR_OPERATION_ABORTED) {
    return kStatusCancelled;
  }
  return kFromWin32 | (error & 0xFFFF);
}

DWORD DecodeOverlappedStatus(ULONG_PTR status) {
  const auto code = static_cast<NTSTATUS>(status);
  return code >= 0 && status != STATUS_PENDING ? NO_ERROR : ::RtlNtStatusToDosError(code);
}

}  // namespace win::detail
