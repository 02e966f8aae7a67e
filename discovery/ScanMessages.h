#pragma once
// WM_PROBE_RESULT, WM_PORT_FOUND, WM_PORTS_ENUMERATED and WM_START_SCAN: the private window
// messages through which discovery, the probe and start-up reach the window.

#include "platform/Win32.h"

// Numbered from WM_USER (0x0400), written out: <windows.h> makes WM_USER a macro.
inline constexpr win::UINT WM_PROBE_RESULT = 0x0400 + 10;  // wParam 1: echo came back
inline constexpr win::UINT WM_PORT_FOUND = 0x0400 + 12;  // lParam: TAPort*; non-zero answer: taken
inline constexpr win::UINT WM_PORTS_ENUMERATED = 0x0400 + 13;  // discovery is over
inline constexpr win::UINT WM_START_SCAN = 0x0400 + 20;        // first scan after start
