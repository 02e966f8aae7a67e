#pragma once
// RunThreadExitHooks: running the thread-exit hooks, for the thread functions of this layer.

#include "platform/Win32.h"

namespace win::detail {

// Calls every registered hook with the id of the ending thread, on that thread.
void RunThreadExitHooks(DWORD threadId);

// Makes sure the hooks run when the calling thread ends, whoever started it.
void WatchThreadEnd();

}  // namespace win::detail
