#pragma once
// HostLocks and OpenOutcome: lock files and the open of a port: a live UUCP-style lock file in any
// lock directory holds the port, under the node's name ("LCK..ttyUSB0"), its /dev/serial/by-id
// name, or its device number in the SVR4 form ("LCK.188.000"); an open through here takes flock
// and TIOCEXCL itself, as other well-behaved programs do.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/Win32.h"
#include "platform/host/HostPortClaim.h"

namespace win::host {

struct OpenOutcome {
  int fd = -1;                       // the opened tty, or -1
  DWORD error = 0;                   // Win32 code when fd is -1
  int errnoValue = 0;                // the errno behind `error`, where there is one
  bool deniedByPermissions = false;  // EACCES / EPERM: the user may not open the node
};

class HostLocks {
 public:
  explicit HostLocks(std::vector<std::string> lockDirs, std::string procDir = "/proc");

  // The names a lock file of the port may have: "LCK..<node>", "LCK..<byId>" where it has a
  // by-id name, and "LCK.<major>.<minor>" of the node at `devicePath`, where it is a device.
  static std::vector<std::string> LockFileNames(const std::string& node, const std::string& byId,
                                                const std::string& devicePath);

  // The pid of a live process that a lock file of one of these names holds, in the first lock
  // directory that has one. Stale files (dead or zombie pid, or our pid on a file we do not own),
  // unreadable or hostile ones and missing lock directories count as no lock.
  std::optional<pid_t> LockFileHolder(const std::vector<std::string>& names) const;

  // The system's lock directory: the first of the lock directories that exists; empty for none.
  std::string OwnLockDir() const;
  const std::string& ProcDir() const { return proc_; }

  // Opens `devicePath` read-write, non-blocking, not as controlling tty, and makes it ours
  // alone; `claim` hears of the open and of a close on the way. ENOENT gives
  // ERROR_FILE_NOT_FOUND; a lock or exclusive open of another program (found only now, after
  // the open) gives ERROR_ACCESS_DENIED.
  static OpenOutcome OpenExclusive(const std::string& devicePath, HostPortClaim& claim);

 private:
  std::vector<std::string> lockDirs_;
  std::string proc_;
};

}  // namespace win::host
