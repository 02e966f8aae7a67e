#pragma once
// RunThreadExitHooks: running the thread-exit hooks, for the thread functions of this layer.

#include "platform/Win32.h"

namespace win::detail {

// Calls every registered hook with the id of the ending thread, on that thread.
void RunThreadExitHooks(DWORD threadId);

// Makes sure the hooks run when the calling thread ends, whoever started it.
void WatchThreadEnd();

// True on a thread while it runs its exit hooks. On Windows they run under the loader lock, where
// waiting for another thread to end never returns (that thread needs the lock to end): code that
// may run there detaches instead of joining.
bool InThreadExitHooks();

}  // namespace win::detail
