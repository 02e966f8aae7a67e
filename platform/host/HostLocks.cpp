#include "platform/host/HostLocks.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

namespace win::host {
namespace {

// Lock files hold the pid as ten ASCII digits (HDB style) or as a binary int (old Kermit style).
pid_t LockFilePid(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return -1;
  }
  const std::string content((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
  if (content.size() == sizeof(std::int32_t) &&
      (content[0] < ' ' || static_cast<unsigned char>(content[0]) > '9')) {
    std::int32_t pid = 0;
    std::memcpy(&pid, content.data(), sizeof pid);
    return pid;
  }
  char* end = nullptr;
  const long pid = std::strtol(content.c_str(), &end, 10);
  if (end == content.c_str() || pid <= 0 || pid > INT32_MAX) {
    return -1;
  }
  return static_cast<pid_t>(pid);
}

bool ProcessAlive(pid_t pid) {
  return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

DWORD OpenError(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EBUSY:
    case EACCES:
    case EPERM:
    case EWOULDBLOCK:
      return ERROR_ACCESS_DENIED;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace

HostLocks::HostLocks(std::vector<std::string> lockDirs,
                     std::function<bool(const std::string&)> isConsole)
    : lockDirs_(std::move(lockDirs)), isConsole_(std::move(isConsole)) {}

bool HostLocks::LockFileLive(const std::string& node) const {
  for (const auto& dir : lockDirs_) {
    if (ProcessAlive(LockFilePid(dir + "/LCK.." + node))) {
      return true;
    }
  }
  return false;
}

OpenOutcome HostLocks::OpenExclusive(const std::string& devicePath, const std::string& node) const {
  OpenOutcome outcome;
  if (IsConsole(node) || LockFileLive(node)) {
    outcome.error = ERROR_ACCESS_DENIED;
    return outcome;
  }
  const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    outcome.error = OpenError(errno);
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
    close(fd);
    outcome.error = OpenError(error == EWOULDBLOCK ? EBUSY : error);
    return outcome;
  }
  outcome.fd = fd;
  return outcome;
}

}  // namespace win::host
