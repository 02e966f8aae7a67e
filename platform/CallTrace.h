#pragma once
// CallTrace: how the comm and device-setup functions write their trace lines, and the switch
// they test first, so that a trace that is off costs one relaxed load.

#include <atomic>
#include <string>
#include <string_view>

#include "platform/Win32.h"

namespace win::detail {

extern std::atomic<bool> callTraceSwitch;

inline bool Tracing() {
  return callTraceSwitch.load(std::memory_order_relaxed);
}

// "trace: <call>(<subject>) = <result>, error <code>, errno <n> (<text>)". The code and the
// errno are the thread's last ones when `failed`, else 0.
void TraceLine(std::string_view call, std::string_view subject, std::string_view result,
               bool failed);

// Traces a BOOL call and returns its result.
inline BOOL TraceBool(std::string_view call, std::string_view subject, BOOL result) {
  TraceLine(call, subject, result != FALSE ? "TRUE" : "FALSE", result == FALSE);
  return result;
}

// A handle as the trace names it when no port stands behind it.
std::string HandleText(const void* handle);

}  // namespace win::detail
