// The worlds of a POSIX system: the bench, and this machine's ports through sysfs and termios.

#include <stdexcept>

#include "platform/bench/BenchWorld.h"
#include "platform/devices/DeviceWorldRegistry.h"
#include "platform/host/HostWorld.h"

namespace win {

std::shared_ptr<DeviceWorld> CreateDeviceWorld(DeviceWorldKind kind) {
  switch (kind) {
    case DeviceWorldKind::Bench:
      return bench::BenchWorld::Create();
    case DeviceWorldKind::Host:
      return std::make_shared<host::HostWorld>(host::HostPaths{});
  }
  throw std::invalid_argument("unknown device world");
}

}  // namespace win
