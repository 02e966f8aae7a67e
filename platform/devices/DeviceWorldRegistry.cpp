#include "platform/devices/DeviceWorldRegistry.h"

#include <mutex>

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
