#include "platform/devices/DeviceWorldRegistry.h"

#include <mutex>
#include <stdexcept>

#include "platform/bench/BenchWorld.h"
#include "platform/host/HostWorld.h"

namespace win {

namespace {

struct WorldSlot {
  std::mutex mutex;
  std::shared_ptr<DeviceWorld> world;
};

WorldSlot& Slot() {
  static WorldSlot slot;
  return slot;
}

}  // namespace

std::shared_ptr<DeviceWorld> CreateDeviceWorld(DeviceWorldKind kind) {
  switch (kind) {
    case DeviceWorldKind::Bench:
      return bench::BenchWorld::Create();
    case DeviceWorldKind::Host:
      return std::make_shared<host::HostWorld>(host::HostPaths{});
  }
  throw std::invalid_argument("unknown device world");
}

void InstallDeviceWorld(std::shared_ptr<DeviceWorld> world) {
  auto& slot = Slot();
  std::shared_ptr<DeviceWorld> previous;
  {
    std::lock_guard lock(slot.mutex);
    previous = std::exchange(slot.world, std::move(world));
  }
  // The previous world goes (if nobody else holds it) outside the lock.
}

std::shared_ptr<DeviceWorld> CurrentDeviceWorld() {
  auto& slot = Slot();
  std::lock_guard lock(slot.mutex);
  if (!slot.world) {
    slot.world = CreateDeviceWorld(DeviceWorldKind::Bench);
  }
  return slot.world;
}

}  // namespace win
