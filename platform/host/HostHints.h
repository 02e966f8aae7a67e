#pragma once
// AccessHint and HolderHint: what the user can do about a port that another program holds or that
// this user may not open, as a hint code and the values that the application words it with.

#include <optional>
#include <string>

#include "platform/Additions.h"
#include "platform/host/HostEnumerator.h"

namespace win::host {

// The group of a device node, and whether its members may read and write it.
struct NodeGroup {
  std::string name;  // the group's name, or its number when it has none
  bool root = false;
  bool membersMayOpen = false;
};
// Nothing when the node cannot be looked at.
std::optional<NodeGroup> GroupOfNode(const std::string& devicePath);

// For a user refused for missing rights: join the group where its members may open the node,
// else ask an administrator for a udev rule.
PortHint AccessHint(const NodeGroup& group);

// For a port that the program `holder` holds: what to do about the known port-grabbing
// services (ModemManager, brltty, getty); no hint for any other program.
PortHint HolderHint(const std::string& holder, const HostPortInfo& port);

}  // namespace win::host
