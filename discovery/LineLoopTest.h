#pragma once
// TestUsbLineLoops: tells line adapters on free USB ports apart by the loops they wire from the
// port's modem-control outputs back to its status inputs: RTS to CTS, and DTR to DSR.

#include <cstdint>
#include <string>

#include "platform/Win32.h"

// Opens the port named in the friendly name `name` and classifies its loops: 0 none (or the port
// cannot be opened), 2 both loops, 3 RTS to CTS only.
std::int32_t TestUsbLineLoops(const std::string& name);

// 0, 2 or 3 for an open port; the DTR loop is tested only when the RTS loop is there.
std::int32_t ClassifyLineLoops(win::HANDLE port);

bool TestRtsCtsLoop(win::HANDLE port);
bool TestDtrDsrLoop(win::HANDLE port);

// Whether status line `line` (1 to 4) is on; false for any other line number.
bool ModemLineIsSet(win::HANDLE port, std::int32_t line);
