#pragma once
// AccessHint and HolderHint: what the user can do about a port that another program holds or that
// this user may not open: texts for the row's tool tip, the settings page and talvik-scan.

#include <string>

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

// For a user refused for missing rights.
std::string AccessHint(const NodeGroup& group);

// For a port that the program `holder` holds: what to do about the known port-grabbing
// services (ModemManager, brltty, getty); empty for any other program.
std::string HolderHint(const std::string& holder, const HostPortInfo& port);

}  // namespace win::host
