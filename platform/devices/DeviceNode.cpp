#include "platform/Additions.h"
#include "platform/devices/DeviceWorldRegistry.h"

namespace win {

std::string DeviceNodeOf(const std::string& portName) {
  return CurrentDeviceWorld()->DeviceNode(portName);
}

}  // namespace win
