#include "platform/Additions.h"
#include "platform/devices/DeviceWorldRegistry.h"

namespace win {

PortFacts PortFactsOf(const std::string& portName) {
  return CurrentDeviceWorld()->Facts(portName);
}

}  // namespace win
