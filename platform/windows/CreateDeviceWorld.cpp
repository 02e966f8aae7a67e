// The worlds of a Windows build: the bench. This machine's ports have no world here yet.

#include <stdexcept>

#include "platform/bench/BenchWorld.h"
#include "platform/devices/DeviceWorldRegistry.h"

namespace win {

std::shared_ptr<DeviceWorld> CreateDeviceWorld(DeviceWorldKind kind) {
  if (kind == DeviceWorldKind::Bench) {
    return bench::BenchWorld::Create();
  }
  throw std::invalid_argument("this machine's ports have no device world in this build");
}

}  // namespace win
