#pragma once
// KernelObject, what a HANDLE names, with the handle table, the overlapped completion protocol,
// wait drivers and the thread-exit hooks: the core's services for the device worlds.

#include <cstddef>
#include <functional>
#include <memory>

#include "platform/Win32.h"

namespace win {

// Anything a HANDLE can name. The handle table holds shared ownership; CloseHandle removes the
// entry and calls OnClose once.
class KernelObject {
 public:
  virtual ~KernelObject() = default;
  virtual void OnClose() {}
};

// The handle table, for world implementations.
HANDLE AllocateHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
// The handles open in the process, for checks that nothing is left open.
std::size_t OpenHandleCount();

// The overlapped protocol shared by every world. OVERLAPPED.Internal holds STATUS_PENDING while
// an operation is under way, then its result in the platform's encoding: on Windows an NTSTATUS
// as the system writes it (STATUS_CANCELLED for ERROR_OPERATION_ABORTED), elsewhere the Win32
// error code (0 for success). It is written last, atomically with release order, after
// InternalHigh (the count); GetOverlappedResult reads it with acquire order and answers the Win32
// code, whoever completed the record.
// StartOverlapped: marks the record pending and resets its event (every overlapped call does this
// first). CompleteOverlapped: fills count and status, then sets the event. Call it exactly once.
// OverlappedError: the Win32 code of a completed record (0 for success).
void StartOverlapped(OVERLAPPED* overlapped);
void CompleteOverlapped(OVERLAPPED* overlapped, DWORD error, DWORD transferred);
bool OverlappedPending(const OVERLAPPED* overlapped);
DWORD OverlappedError(const OVERLAPPED* overlapped);

// A world that can finish a pending overlapped operation on the thread that waits for it,
// without a hand-off from a helper thread. While such an operation is pending its event carries
// the driver, and a thread about to block on that event calls Drive instead of sleeping.
class WaitDriver {
 public:
  virtual ~WaitDriver() = default;
  // Waits in the world's own way for at most `milliseconds` (INFINITE: no limit) and completes
  // what has become complete meanwhile. Returns early after Interrupt. False, at once, when this
  // thread cannot drive now (another does, or nothing is left to drive).
  virtual bool Drive(DWORD milliseconds) = 0;
  // Makes a Drive that is under way return soon. Called with the wait lock held: it must neither
  // block nor signal.
  virtual void Interrupt() = 0;
};

// Lets the waiters of `event` drive through `driver` until the event is next set or reset.
// Nothing happens when the event is set already.
void AttachWaitDriver(HANDLE event, std::weak_ptr<WaitDriver> driver);

// Called (from the ending thread) when any thread ends, after its body has returned, so that a
// world can cancel what that thread left pending. Returns an id for RemoveThreadExitHook.
using ThreadExitHook = std::function<void(DWORD threadId)>;
int AddThreadExitHook(ThreadExitHook hook);
void RemoveThreadExitHook(int id);

}  // namespace win
