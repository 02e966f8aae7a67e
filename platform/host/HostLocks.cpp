#include "platform/host/HostLocks.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/host/HostErrno.h"
#include "platform/host/HostLockFile.h"

namespace win::host {
namespace {

bool ProcessAlive(pid_t pid) {
  return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

}  // namespace

HostLocks::HostLocks(std::vector<std::string> lockDirs) : lockDirs_(std::move(lockDirs)) {}

std::optional<pid_t> HostLocks::LockFileHolder(const std::string& node) const {
  for (const auto& dir : lockDirs_) {
    const std::optional<pid_t> pid = ReadLockFilePid(dir + "/LCK.." + node);
    if (pid && ProcessAlive(*pid)) {
      return pid;
    }
  }
  return std::nullopt;
}

OpenOutcome HostLocks::OpenExclusive(const std::string& devicePath) {
  OpenOutcome outcome;
  const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    outcome.errnoValue = errno;
    outcome.error = Win32ErrorOf(outcome.errnoValue, ErrnoUse::Open);
    outcome.deniedByPermissions = errno == EACCES || errno == EPERM;
    return outcome;
  }
  if (!isatty(fd)) {
    close(fd);
    outcome.error = ERROR_FILE_NOT_FOUND;
    return outcome;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    const int error = errno;
    tcflush(fd, TCOFLUSH);
    close(fd);
    outcome.errnoValue = error;
    outcome.error = Win32ErrorOf(error, ErrnoUse::Open);
    return outcome;
  }
  outcome.fd = fd;
  return outcome;
}

}  // namespace win::host
