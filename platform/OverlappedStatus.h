#pragma once
// The completion word of an OVERLAPPED record in the encoding of the platform: on Windows the
// system's NTSTATUS, so that a record the layer completed and one the system completed read
// alike; elsewhere the Win32 error code itself. STATUS_PENDING marks a pending record on both.

#include "platform/Win32.h"

namespace win::detail {

ULONG_PTR EncodeOverlappedStatus(DWORD error);
DWORD DecodeOverlappedStatus(ULONG_PTR status);

}  // namespace win::detail
