#pragma once
// TestUsbLineLoops: tells line adapters on free USB ports apart by the loops they wire from the
// port's modem-control outputs back to its status inputs: RTS to CTS, and DTR to DSR.

#include <array>
#include <cstdint>
#include <string>

#include "platform/Win32.h"

// Masks of the modem status word for the line numbers 1 (CTS), 2 (DSR), 3 (RING), 4 (RLSD).
inline constexpr std::array<win::DWORD, 4> ModemLineMasks{win::MS_CTS_ON, win::MS_DSR_ON,
                                                          win::MS_RING_ON, win::MS_RLSD_ON};

// Opens the port named in the friendly name `name` and classifies its loops: 0 none (or the port
// cannot be opened), 2 both loops, 3 RTS to CTS only.
std::int32_t TestUsbLineLoops(const std::string& name);

// 0, 2 or 3 for an open port; the DTR loop is tested only when the RTS loop is there.
std::int32_t ClassifyLineLoops(win::HANDLE port);

bool TestRtsCtsLoop(win::HANDLE port);
bool TestDtrDsrLoop(win::HANDLE port);

// Whether status line `line` (1 to 4) is on; false for any other line number.
bool ModemLineIsSet(win::HANDLE port, std::int32_t line);
