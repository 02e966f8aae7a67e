#include "platform/host/HostHints.h"

#include <grp.h>
#include <sys/stat.h>

namespace win::host {

std::optional<NodeGroup> GroupOfNode(const std::string& devicePath) {
  struct stat node {};
  if (stat(devicePath.c_str(), &node) != 0) {
    return std::nullopt;
  }
  NodeGroup result;
  struct group entry {};
  struct group* found = nullptr;
  char buffer[4096];
  result.name =
      getgrgid_r(node.st_gid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr
          ? found->gr_name
          : std::to_string(node.st_gid);
  result.root = node.st_gid == 0;
  result.membersMayOpen = (node.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  return result;
}

PortHint AccessHint(const NodeGroup& group) {
  PortHint hint;
  hint.code = group.membersMayOpen && !group.root ? Hint::JoinGroup : Hint::UdevRule;
  hint.group = group.name;
  return hint;
}

PortHint HolderHint(const std::string& holder, const HostPortInfo& port) {
  PortHint hint;
  if (holder == "ModemManager") {
    hint.code = Hint::ModemManager;
    hint.vendorId = port.vendorId;
    hint.productId = port.productId;
  } else if (holder == "brltty") {
    hint.code = Hint::Brltty;
  } else if (holder == "agetty" || holder == "getty" || holder == "mgetty") {
    hint.code = Hint::Getty;
    hint.program = holder;
    hint.line = port.node;
  }
  return hint;
}

}  // namespace win::host
