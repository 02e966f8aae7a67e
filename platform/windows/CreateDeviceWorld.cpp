// The worlds of a Windows build: the bench, and this machine's ports through the system itself.

#include <stdexcept>

#include "platform/bench/BenchWorld.h"
#include "platform/devices/DeviceWorldRegistry.h"
#include "platform/windows/WindowsWorld.h"

namespace win {

std::shared_ptr<DeviceWorld> CreateDeviceWorld(DeviceWorldKind kind) {
  switch (kind) {
    case DeviceWorldKind::Bench:
      return bench::BenchWorld::Create();
    case DeviceWorldKind::Host:
      return std::make_shared<windows::WindowsWorld>();
  }
  throw std::invalid_argument("unknown device world");
}

}  // namespace win
