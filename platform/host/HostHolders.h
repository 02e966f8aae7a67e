#pragma once
// HostHolders and HostHolder: who holds a device node, as far as this user may read /proc: a
// process that has the node open (/proc/<pid>/fd; an ordinary user cannot look into other users'
// processes), a process whose controlling terminal it is (/proc/<pid>/stat, readable for every
// user), a login on its line (utmp), or a lock on the node in /proc/locks (flock, POSIX or
// open-file-description locks, whoever owns them). Open files and terminals are matched by the
// device number, never by a path: a process in another mount namespace, a chroot or behind a bind
// mount names the same device differently.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
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
  // `devDir` is where utmp's line names live; an empty `utmpFile` reads no logins.
  explicit HostHolders(std::string procDir, std::string devDir = "/dev", std::string utmpFile = {});

  // The holders of the given device nodes (links followed), by the path given. One walk over
  // /proc for all of them, spread over the machine's cores.
  std::map<std::string, HostHolder> Find(const std::vector<std::string>& devicePaths) const;

  // The owner of a lock on the node in /proc/locks alone: a cheap look that needs no walk.
  std::optional<HostHolder> LockHolder(const std::string& devicePath) const;

  // The process `pid` as a holder; nothing when /proc shows no such process.
  std::optional<HostHolder> Process(pid_t pid) const;

  // How many walks over /proc Find has made.
  std::uint64_t Walks() const { return walks_.load(std::memory_order_relaxed); }

 private:
  std::string proc_;
  std::string dev_;
  std::string utmp_;
  mutable std::atomic<std::uint64_t> walks_{0};
};

}  // namespace win::host
