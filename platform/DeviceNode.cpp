#include "platform/DeviceWorld.h"
#include "platform/Platform.h"

namespace win {

std::string DeviceNodeOf(const std::string& portName) {
  return CurrentDeviceWorld()->DeviceNode(portName);
}

}  // namespace win
