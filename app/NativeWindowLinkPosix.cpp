// Without a system window of its own kind: the settings page's parent is the layer's handle, and
// the device worlds broadcast arrivals and removals themselves.

#include "app/NativeWindowLink.h"
#include "discovery/ExistingSerialPorts.h"

struct TNativeWindowLink::State {};

TNativeWindowLink::TNativeWindowLink(QWidget&, win::HWND layerHandle) {
  SetAdvancedSettingsParent(layerHandle);
}

TNativeWindowLink::~TNativeWindowLink() = default;

void TNativeWindowLink::WindowChanged() {}

bool TNativeWindowLink::NativeEvent(const QByteArray&, void*, qintptr*) {
  return false;
}
