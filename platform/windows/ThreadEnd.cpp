// Windows: the loader calls this image's TLS callback on every thread that ends, after its body
// has returned and before its handle is signalled; the thread-exit hooks run there.

#include "platform/ThreadExitHooks.h"

namespace win::detail {

namespace {

void NTAPI OnThreadEvent(PVOID, DWORD reason, PVOID) {
  if (reason == DLL_THREAD_DETACH) {
    RunThreadExitHooks(::GetCurrentThreadId());
  }
}

}  // namespace

// Every thread is watched already; the call keeps the callback below in the program.
void WatchThreadEnd() {}

}  // namespace win::detail

extern "C" {
// The C runtime's TLS directory gathers the callbacks of the .CRT$XL? sections.
__attribute__((section(".CRT$XLT"), used)) const PIMAGE_TLS_CALLBACK talvikThreadEndCallback =
    win::detail::OnThreadEvent;
}
