#pragma once
// Who holds a tty: the system console, a live UUCP-style lock file "LCK..<node>", an flock on the
// node, or an exclusive open (TIOCEXCL). An open through here takes flock and TIOCEXCL itself.

#include <functional>
#include <string>
#include <vector>

#include "platform/Win32.h"

namespace win::host {

struct OpenOutcome {
  int fd = -1;                       // the opened tty, or -1
  DWORD error = 0;                   // Win32 code when fd is -1
  bool deniedByPermissions = false;  // EACCES / EPERM: the user may not open the node
};

class HostLocks {
 public:
  HostLocks(std::vector<std::string> lockDirs, std::function<bool(const std::string&)> isConsole);

  // A lock file for the node whose process is alive. Stale files (dead or unreadable pid) and
  // missing lock directories are ignored.
  bool LockFileLive(const std::string& node) const;
  bool IsConsole(const std::string& node) const { return isConsole_ && isConsole_(node); }

  // Opens `devicePath` (the node `node`) read-write, non-blocking, not as controlling tty, and
  // makes it ours alone. ENOENT gives ERROR_FILE_NOT_FOUND; every sign of another holder gives
  // ERROR_ACCESS_DENIED.
  OpenOutcome OpenExclusive(const std::string& devicePath, const std::string& node) const;

 private:
  std::vector<std::string> lockDirs_;
  std::function<bool(const std::string&)> isConsole_;
};

}  // namespace win::host
