// Windows: the settings page's parent is the real top-level window, taken again whenever Qt makes
// a new one, and the window's WM_DEVICECHANGE is the device-change broadcast of the program.

#include "app/NativeWindowLink.h"
#include "app/windows/WindowsGlue.h"
#include "discovery/ExistingSerialPorts.h"

struct TNativeWindowLink::State {
  QWidget* window;
  std::unique_ptr<glue::PortNotifications> notifications;
};

TNativeWindowLink::TNativeWindowLink(QWidget& window, win::HWND)
    : state_(std::make_unique<State>(State{&window, nullptr})) {
  // No system window yet: the page has no parent until Qt makes one.
  SetAdvancedSettingsParent(nullptr);
}

TNativeWindowLink::~TNativeWindowLink() {
  SetAdvancedSettingsParent(nullptr);
}

void TNativeWindowLink::WindowChanged() {
  const HWND native = glue::SystemWindow(static_cast<std::uintptr_t>(state_->window->winId()));
  SetAdvancedSettingsParent(native);
  state_->notifications.reset();
  if (native != nullptr) {
    state_->notifications = std::make_unique<glue::PortNotifications>(native);
  }
}

bool TNativeWindowLink::NativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
  if (eventType != "windows_generic_MSG" || message == nullptr) {
    return false;
  }
  LRESULT answer = 0;
  if (!glue::ForwardDeviceChange(*static_cast<const MSG*>(message), answer)) {
    return false;
  }
  *result = answer;
  return true;
}
