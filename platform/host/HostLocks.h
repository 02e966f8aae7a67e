#pragma once
// HostLocks and OpenOutcome: lock files and the open of a port: a live UUCP-style lock file
// "LCK..<node>" in any lock directory holds the port; an open through here takes flock and TIOCEXCL
// itself, as other well-behaved programs do.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/Win32.h"

namespace win::host {

struct OpenOutcome {
  int fd = -1;                       // the opened tty, or -1
  DWORD error = 0;                   // Win32 code when fd is -1
  int errnoValue = 0;                // the errno behind `error`, where there is one
  bool deniedByPermissions = false;  // EACCES / EPERM: the user may not open the node
};

class HostLocks {
 public:
  explicit HostLocks(std::vector<std::string> lockDirs);

  // The pid of a live process that a lock file names for the node, in the first lock directory
  // that has one. Stale files (dead pid), unreadable or hostile ones and missing lock
  // directories count as no lock.
  std::optional<pid_t> LockFileHolder(const std::string& node) const;

  // Opens `devicePath` read-write, non-blocking, not as controlling tty, and makes it ours
  // alone. ENOENT gives ERROR_FILE_NOT_FOUND; a lock or exclusive open of another program
  // (found only now, after the open) gives ERROR_ACCESS_DENIED.
  static OpenOutcome OpenExclusive(const std::string& devicePath);

 private:
  std::vector<std::string> lockDirs_;
};

}  // namespace win::host
