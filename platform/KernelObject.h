#pragma once
// KernelObject, what a HANDLE names, with the handle table, the overlapped completion protocol
// and the thread-exit hooks: the core's services for the device worlds.

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
// an operation is under way, then 0 for success or the Win32 error code of its failure; it is
// written last, atomically with release order, after InternalHigh (the count). GetOverlappedResult
// reads it with acquire order.
// StartOverlapped: marks the record pending and resets its event (every overlapped call does this
// first). CompleteOverlapped: fills count and status, then sets the event. Call it exactly once.
void StartOverlapped(OVERLAPPED* overlapped);
void CompleteOverlapped(OVERLAPPED* overlapped, DWORD error, DWORD transferred);
bool OverlappedPending(const OVERLAPPED* overlapped);

// Called (from the ending thread) when any thread ends, after its body has returned, so that a
// world can cancel what that thread left pending. Returns an id for RemoveThreadExitHook.
using ThreadExitHook = std::function<void(DWORD threadId)>;
int AddThreadExitHook(ThreadExitHook hook);
void RemoveThreadExitHook(int id);

}  // namespace win
