#pragma once
// Small helpers of the serial component: a polling deadline, a flag test, system error texts.

#include <string>

#include "platform/Platform.h"

struct TSpTimeout {
  win::DWORD StartTick = 0;
  win::DWORD Timeout = 0;
};

void StartTimeout(TSpTimeout& timeout, win::DWORD milliseconds);
// True once more than Timeout ms have passed since StartTick (tick arithmetic modulo 2^32).
bool TimeoutElapsed(const TSpTimeout& timeout);
bool TimeoutElapsedAt(const TSpTimeout& timeout, win::DWORD now);

// True when mask AND value, read as a signed 32-bit number, is greater than 0.
bool TestFlags(win::DWORD mask, win::DWORD value);
