#include "serial/SpUtils.h"

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

std::string SysErrorMessage(DWORD code) {
  char buffer[256];
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
  while (length > 0 &&
         (static_cast<unsigned char>(buffer[length - 1]) <= ' ' || buffer[length - 1] == '.')) {
    --length;
  }
  return std::string(buffer, length);
}
