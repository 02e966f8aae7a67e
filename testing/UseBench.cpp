#include "testing/UseBench.h"

#include <memory>

#include "platform/devices/DeviceWorldRegistry.h"

namespace win::bench {

BenchWorld& UseBench() {
  // Kept for the life of the process: handles opened by one test may outlive it.
  static auto* const world = new std::shared_ptr<BenchWorld>(BenchWorld::Create());
  InstallDeviceWorld(*world);
  (*world)->Reset();
  return **world;
}

}  // namespace win::bench
