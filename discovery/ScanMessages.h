#pragma once
// WM_PROBE_RESULT, WM_PORT_FOUND, WM_PORTS_ENUMERATED and WM_START_SCAN: the private window
// messages through which discovery, the probe and start-up reach the window.

#include "platform/Win32.h"

inline constexpr win::UINT WM_PROBE_RESULT = win::WM_USER + 10;  // wParam 1: echo came back
inline constexpr win::UINT WM_PORT_FOUND =
    win::WM_USER + 12;  // lParam: TAPort*; non-zero answer: taken
inline constexpr win::UINT WM_PORTS_ENUMERATED = win::WM_USER + 13;  // discovery is over
inline constexpr win::UINT WM_START_SCAN = win::WM_USER + 20;        // first scan after start
