#pragma once
// TSpTimeout and TestFlags: small helpers of the serial component: a polling deadline, a flag test,
// the retry pause of the background threads.

#include <string>

#include "platform/Win32.h"

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

// The pause before a background thread retries a call that failed (a removed device), in ms:
// 2 after the first failure, then doubling up to 200. `previous` is 0 after a success.
win::DWORD NextFailurePause(win::DWORD previous);
