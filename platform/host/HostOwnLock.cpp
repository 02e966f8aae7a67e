#include "platform/host/HostOwnLock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/host/HostLockFile.h"
#include "platform/host/HostProcStat.h"

namespace win::host {
namespace {

// The paths of the lock files held, where a signal handler can read them: a slot is free (0),
// being filled (1), or names a lock file (2) of the process `owner` (a child made by fork() sees
// the table but owns none of them). Threads change and look at the table under `tableMutex`; a
// signal handler only reads it.
constexpr int kSlots = 64;
constexpr std::size_t kSlotPath = 512;
struct Slot {
  std::atomic<int> state{0};
  std::atomic<pid_t> owner{0};
  char path[kSlotPath];
};
Slot slots[kSlots];
std::mutex tableMutex;

int Register(const std::string& path) {
  if (path.size() >= kSlotPath) {
    return -1;
  }
  std::lock_guard lock(tableMutex);
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (slots[i].state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
      std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
      slots[i].owner.store(getpid(), std::memory_order_relaxed);
      slots[i].state.store(2, std::memory_order_release);
      return i;
    }
  }
  return -1;
}

void Unregister(int slot) {
  if (slot >= 0) {
    std::lock_guard lock(tableMutex);
    slots[slot].state.store(0, std::memory_order_release);
  }
}

void OnEndingSignal(int signal) {
  const int savedErrno = errno;
  RemoveOwnLockFiles();
  errno = savedErrno;
  raise(signal);  // the action is the default again (SA_RESETHAND): it ends the process
}

}  // namespace

HostOwnLock::Outcome HostOwnLock::Take(const std::string& dir, const std::string& node,
                                       const std::string& procDir) {
  Outcome outcome;
  const std::string path = dir + "/LCK.." + node;
  char text[16];
  const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
      // The mode the umask may have narrowed: other programs must read the pid.
      const bool written = fchmod(fd, 0644) == 0 && write(fd, text, length) == length;
      struct stat created {};
      const bool statted = fstat(fd, &created) == 0;
      const int error = errno;
      close(fd);
      if (!written || !statted) {
        unlink(path.c_str());
        outcome.errnoValue = error;
        return outcome;
      }
      outcome.lock.reset(new HostOwnLock(path, created.st_dev, created.st_ino, Register(path)));
      return outcome;
    }
    if (errno != EEXIST) {
      outcome.errnoValue = errno;
      return outcome;
    }
    const std::optional<pid_t> pid = ReadLockFilePid(path);
    if (!pid) {
      outcome.errnoValue = EEXIST;  // not a lock file we understand: not ours to remove
      return outcome;
    }
    const bool ours = *pid == getpid();
    if (ours ? OwnsLockFile(path) : ProcessAlive(procDir, *pid)) {
      outcome.holder = pid;
      return outcome;
    }
    unlink(path.c_str());  // stale: its process is gone, or it is an earlier one of our pid
  }
  outcome.errnoValue = EEXIST;
  return outcome;
}

HostOwnLock::HostOwnLock(std::string path, dev_t device, ino_t inode, int slot)
    : path_(std::move(path)), device_(device), inode_(inode), slot_(slot) {}

HostOwnLock::~HostOwnLock() {
  // Only the file we made: another program may have replaced it meanwhile.
  struct stat now {};
  if (lstat(path_.c_str(), &now) == 0 && now.st_dev == device_ && now.st_ino == inode_) {
    unlink(path_.c_str());
  }
  Unregister(slot_);
}

bool OwnsLockFile(const std::string& path) {
  std::lock_guard lock(tableMutex);
  const pid_t self = getpid();
  for (const auto& slot : slots) {
    if (slot.state.load(std::memory_order_acquire) == 2 &&
        slot.owner.load(std::memory_order_relaxed) == self &&
        std::strncmp(slot.path, path.c_str(), kSlotPath) == 0) {
      return true;
    }
  }
  return false;
}

void RemoveOwnLockFiles() noexcept {
  const pid_t self = getpid();
  for (auto& slot : slots) {
    if (slot.state.load(std::memory_order_acquire) == 2 &&
        slot.owner.load(std::memory_order_relaxed) == self) {
      unlink(slot.path);
    }
  }
}

void InstallLockFileSignalHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction current {};
      if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
          (current.sa_flags & SA_SIGINFO) != 0) {
        continue;  // the program handles or ignores it itself
      }
      struct sigaction action {};
      action.sa_handler = OnEndingSignal;
      sigemptyset(&action.sa_mask);
      action.sa_flags = SA_RESETHAND;
      sigaction(signal, &action, nullptr);
    }
    std::atexit(RemoveOwnLockFiles);  // a program that exits with a port still open
  });
}

}  // namespace win::host
