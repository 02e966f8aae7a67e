#pragma once
// DeviceWorldRegistry: the world registry: the one place that names every device world, creates
// one, and holds the world installed for the process.

#include <memory>

#include "platform/DeviceWorld.h"

namespace win {

enum class DeviceWorldKind { Bench, Host };

// The one factory. A bench world starts empty; a host world watches this machine's ports.
std::shared_ptr<DeviceWorld> CreateDeviceWorld(DeviceWorldKind kind);

// Chooses the world of the process. Replacing it is for tests and front ends that start up;
// handles opened in the previous world keep working against it.
void InstallDeviceWorld(std::shared_ptr<DeviceWorld> world);
// The installed world; an empty bench world if none was installed.
std::shared_ptr<DeviceWorld> CurrentDeviceWorld();

}  // namespace win
