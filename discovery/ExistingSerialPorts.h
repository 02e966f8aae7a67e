#pragma once
// TAPort, EnumerateSerialPorts and ShowAdvancedSettings: finds the serial ports of the computer
// through the device-setup service, tells busy from free ports, types free USB ports by their line
// loops, and opens a port's advanced settings page.

#include <cstdint>
#include <string>

#include "platform/Win32.h"

// The record of one discovered port.
class TAPort {
 public:
  std::string FriendlyName, PortName, Description;
  std::int32_t AdapterType = 0;  // -1 not testable, 0 unknown, 1 to 3 cable versions
  std::int32_t DeviceIndex = 0;  // member index in the device list of the walk that found it
  bool Busy = false;

  void Fill(const std::string& name, std::int32_t type, bool busy, std::int32_t index);
};

// Sends WM_PORT_FOUND (lParam: a new TAPort, which the window owns when it answers non-zero) once
// per port, then posts WM_PORTS_ENUMERATED. Raises EOSError when the device-setup service is
// unusable.
void EnumerateSerialPorts(win::HWND window);

// Opens the advanced settings page of the port that a walk found at `deviceIndex` as `portName`,
// in a freshly built list: the device at that index while it still has that port name, else the
// port of that name; nothing when the port is gone.
void ShowAdvancedSettings(std::int32_t deviceIndex, const std::string& portName);
// The parent window of the settings page (the application's main window).
void SetAdvancedSettingsParent(win::HWND parent);

// True when the port can be opened for exclusive reading and writing.
bool CanOpenPort(const std::string& portName);

// The port name in `name`: the last parenthesised group when it ends the name, otherwise the
// first group; empty when that is not closed.
std::string ExtractPortName(const std::string& name);
// The text before the "(" of that group; empty when there is none.
std::string ExtractDescription(const std::string& name);

// The device-information list of the walk or settings call running now; null when none runs.
win::HDEVINFO CurrentDeviceList();
