#include "platform/host/HostLocks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "platform/host/HostErrno.h"
#include "platform/host/HostLockFile.h"
#include "platform/host/HostOwnLock.h"
#include "platform/host/HostProcStat.h"

namespace win::host {

HostLocks::HostLocks(std::vector<std::string> lockDirs, std::string procDir)
    : lockDirs_(std::move(lockDirs)), proc_(std::move(procDir)) {}

std::vector<std::string> HostLocks::LockFileNames(const std::string& node, const std::string& byId,
                                                  const std::string& devicePath) {
  std::vector<std::string> names{"LCK.." + node};
  if (!byId.empty()) {
    names.push_back("LCK.." + byId);
  }
  struct stat device {};
  if (stat(devicePath.c_str(), &device) == 0 && S_ISCHR(device.st_mode)) {
    char name[32];
    std::snprintf(name, sizeof name, "LCK.%03u.%03u", major(device.st_rdev), minor(device.st_rdev));
    names.emplace_back(name);
  }
  return names;
}

std::optional<pid_t> HostLocks::LockFileHolder(const std::vector<std::string>& names) const {
  for (const auto& dir : lockDirs_) {
    for (const auto& name : names) {
      const std::string path = dir + "/" + name;
      const std::optional<pid_t> pid = ReadLockFilePid(path);
      if (pid && (*pid == getpid() ? OwnsLockFile(path) : ProcessAlive(proc_, *pid))) {
        return pid;
      }
    }
  }
  return std::nullopt;
}

std::string HostLocks::OwnLockDir() const {
  for (const auto& dir : lockDirs_) {
    struct stat folder {};
    if (stat(dir.c_str(), &folder) == 0 && S_ISDIR(folder.st_mode)) {
      return dir;
    }
  }
  return {};
}

OpenOutcome HostLocks::OpenExclusive(const std::string& devicePath, HostPortClaim& claim) {
  OpenOutcome outcome;
  claim.BeforeOpen();
  const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    outcome.errnoValue = errno;
    claim.OpenFailed();
    outcome.error = Win32ErrorOf(outcome.errnoValue, ErrnoUse::Open);
    outcome.deniedByPermissions = outcome.errnoValue == EACCES || outcome.errnoValue == EPERM;
    return outcome;
  }
  if (!isatty(fd)) {
    claim.BeforeClose();
    close(fd);
    outcome.error = ERROR_FILE_NOT_FOUND;
    return outcome;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    const int error = errno;
    tcflush(fd, TCOFLUSH);
    claim.BeforeClose();
    close(fd);
    outcome.errnoValue = error;
    outcome.error = Win32ErrorOf(error, ErrnoUse::Open);
    return outcome;
  }
  outcome.fd = fd;
  return outcome;
}

}  // namespace win::host
