#pragma once
// WindowsGlue: what only the Windows program needs between its Qt window and the system, without
// Qt: the system window behind a Qt window id (the settings page's parent), the device-change
// broadcast from the window's native messages, the registration for port interface
// notifications, and a console that shows UTF-8.

#include <windows.h>

#include <cstdint>

namespace glue {

// The system's top-level window for a Qt window id (QWidget::winId()); null when the id names no
// window of the system, as for a widget that has none yet or a handle of the platform layer.
HWND SystemWindow(std::uintptr_t winId);

// Hands a native message of the main window on: WM_DEVICECHANGE for the arrival or removal of a
// port (a port broadcast, or a serial port interface notification) becomes the platform layer's
// device-change broadcast, which is posted to the window's message target, so that no scan starts
// inside the system's send. True when the message was such a change; `result` is then what the
// window procedure answers.
bool ForwardDeviceChange(const MSG& message, LRESULT& result);

// Registers a window for serial port interface notifications: arrivals and removals of ports
// whose drivers do not send the plain port broadcast. Unregistered by the destructor.
class PortNotifications {
 public:
  // Registered() is false when the system refused (the last error tells why).
  explicit PortNotifications(HWND window);
  ~PortNotifications();
  PortNotifications(const PortNotifications&) = delete;
  PortNotifications& operator=(const PortNotifications&) = delete;

  bool Registered() const { return notify_ != nullptr; }

 private:
  HDEVNOTIFY notify_ = nullptr;
};

// Makes the console show what the program writes as UTF-8, and keeps the code page it had, for
// the destructor to put back.
class Utf8Console {
 public:
  Utf8Console();
  ~Utf8Console();
  Utf8Console(const Utf8Console&) = delete;
  Utf8Console& operator=(const Utf8Console&) = delete;

 private:
  UINT previous_;
};

// A program of the window subsystem has no console of its own: when its standard output goes
// nowhere and the program that started it has a console, its output goes there (for --help and
// --version typed at a prompt).
void WriteToParentConsole();

}  // namespace glue
