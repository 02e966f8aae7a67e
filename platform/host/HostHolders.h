#pragma once
// HostHolders and HostHolder: who holds a device node, as far as this user may read /proc: a lock
// on the node in /proc/locks (flock, POSIX or open-file-description locks, whoever owns them), or a
// process that has the node open (/proc/<pid>/fd; an ordinary user cannot look into other users'
// processes).

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace win::host {

struct HostHolder {
  pid_t pid = 0;     // 0 when not known (an open-file-description lock names no process)
  std::string name;  // the program's name (/proc/<pid>/comm), where readable
  std::string user;  // its user, when that is not the user of this process
};

class HostHolders {
 public:
  explicit HostHolders(std::string procDir);

  // The holders of the given device nodes (links followed), by the path given. One pass over
  // /proc for all of them.
  std::map<std::string, HostHolder> Find(const std::vector<std::string>& devicePaths) const;

  // The process `pid` as a holder; nothing when /proc shows no such process.
  std::optional<HostHolder> Process(pid_t pid) const;

 private:
  std::string proc_;
};

}  // namespace win::host
