#include "serial/SpUtils.h"

#include <algorithm>
#include <cstdint>

using namespace win;

void StartTimeout(TSpTimeout& timeout, DWORD milliseconds) {
  timeout.StartTick = GetTickCount();
  timeout.Timeout = milliseconds;
}

bool TimeoutElapsed(const TSpTimeout& timeout) {
  return TimeoutElapsedAt(timeout, GetTickCount());
}

bool TimeoutElapsedAt(const TSpTimeout& timeout, DWORD now) {
  const DWORD elapsed = now - timeout.StartTick;
  return elapsed > timeout.Timeout;
}

bool TestFlags(DWORD mask, DWORD value) {
  return static_cast<std::int32_t>(mask & value) > 0;
}

DWORD NextFailurePause(DWORD previous) {
  constexpr DWORD kFirstPauseMs = 2;
  constexpr DWORD kMaxPauseMs = 200;
  return previous == 0 ? kFirstPauseMs : std::min(previous * 2, kMaxPauseMs);
}
