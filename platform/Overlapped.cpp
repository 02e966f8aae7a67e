// The overlapped completion protocol: Internal is the completion word in the platform's encoding
// (platform/OverlappedStatus.h), written last with release order; readers load it with acquire
// order before they look at InternalHigh.

#include <atomic>

#include "platform/CallTrace.h"
#include "platform/DeviceWorld.h"
#include "platform/OverlappedStatus.h"
#include "platform/ThreadExitHooks.h"

namespace win {

namespace {

std::atomic_ref<ULONG_PTR> StatusOf(const OVERLAPPED* overlapped) {
  return std::atomic_ref<ULONG_PTR>(const_cast<OVERLAPPED*>(overlapped)->Internal);
}

// Re-checks a pending record at this interval even without a signal, in case its event is
// shared with other operations and was reset by someone else in between.
constexpr DWORD kRecheckMs = 50;

}  // namespace

void StartOverlapped(OVERLAPPED* overlapped) {
  detail::WatchThreadEnd();  // the issuing thread's exit hooks must run when it ends
  overlapped->InternalHigh = 0;
  StatusOf(overlapped).store(STATUS_PENDING, std::memory_order_release);
  if (overlapped->hEvent != nullptr) {
    ResetEvent(overlapped->hEvent);
  }
}

void CompleteOverlapped(OVERLAPPED* overlapped, DWORD error, DWORD transferred) {
  // Read the event first: once the status is stored the owner may let the record go.
  HANDLE event = overlapped->hEvent;
  overlapped->InternalHigh = transferred;
  StatusOf(overlapped).store(detail::EncodeOverlappedStatus(error), std::memory_order_release);
  if (event != nullptr) {
    SetEvent(event);
  }
}

bool OverlappedPending(const OVERLAPPED* overlapped) {
  return StatusOf(overlapped).load(std::memory_order_acquire) == STATUS_PENDING;
}

DWORD OverlappedError(const OVERLAPPED* overlapped) {
  return detail::DecodeOverlappedStatus(StatusOf(overlapped).load(std::memory_order_acquire));
}

namespace {

BOOL ProtocolResult(OVERLAPPED& overlapped, LPDWORD transferred, BOOL wait) {
  while (OverlappedPending(&overlapped)) {
    if (wait == FALSE) {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
    if (overlapped.hEvent == nullptr) {
      Sleep(1);
    } else if (WaitForSingleObject(overlapped.hEvent, kRecheckMs) == WAIT_FAILED) {
      return FALSE;
    }
  }
  if (transferred != nullptr) {
    *transferred = static_cast<DWORD>(overlapped.InternalHigh);
  }
  const DWORD error = OverlappedError(&overlapped);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

BOOL OverlappedResult(KernelObject* file, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
  if (overlapped == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (auto* comm = dynamic_cast<CommFile*>(file)) {
    return comm->GetOverlappedResult(*overlapped, transferred, wait);
  }
  // With an event the wait needs only the event: the file may already be closed.
  if (overlapped->hEvent == nullptr && file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return ProtocolResult(*overlapped, transferred, wait);
}

}  // namespace

BOOL CommFile::GetOverlappedResult(OVERLAPPED& overlapped, DWORD* transferred, BOOL wait) {
  return ProtocolResult(overlapped, transferred, wait);
}

BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
  const bool tracing = detail::Tracing();
  if (tracing) {
    ForgetLastErrno();
  }
  const auto object = LookupHandle(file);
  const BOOL result = OverlappedResult(object.get(), overlapped, transferred, wait);
  if (!tracing) {
    return result;
  }
  const auto* comm = dynamic_cast<const CommFile*>(object.get());
  return detail::TraceBool("GetOverlappedResult", comm ? comm->Name() : detail::HandleText(file),
                           result);
}

}  // namespace win
