#pragma once
// ReadLatencyTimer and WriteLatencyTimer: the latency timer of an FTDI adapter (sysfs attribute
// "latency_timer" of its usb-serial port): how long the chip holds back a short packet before
// sending it to the host, in milliseconds.

#include <optional>
#include <string>

#include "platform/Win32.h"

namespace win::host {

inline constexpr int kLatencyTimerMin = 1;
inline constexpr int kLatencyTimerMax = 255;

// The present value; nothing when the attribute cannot be read or holds no number.
std::optional<int> ReadLatencyTimer(const std::string& path);

// Whether this process may write the attribute (as a rule only root may).
bool LatencyTimerChangeable(const std::string& path);

// Writes a value in range; NO_ERROR or the Windows error that says why not.
DWORD WriteLatencyTimer(const std::string& path, int value);

}  // namespace win::host
