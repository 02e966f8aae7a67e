#pragma once
// HostOwnLock: the lock file "LCK..<node>" that Talvik owns in the system's lock directory while
// it holds a port, as well-behaved serial programs do: created exclusively, mode 0644, the pid as
// ten characters right-aligned and a line end. It goes with the object on every way out; a signal
// that ends the process, or an exit with the port still open, removes it too
// (RemoveOwnLockFiles, InstallLockFileSignalHandlers).

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

namespace win::host {

class HostOwnLock {
 public:
  struct Outcome {
    std::unique_ptr<HostOwnLock> lock;  // set when the file is ours now
    std::optional<pid_t> holder;        // a live process whose lock is there already
    int errnoValue = 0;                 // why the file could not be written, when neither
  };

  // Takes the lock of `node` in `dir`. A lock file whose process is dead (by /proc in `procDir`),
  // one of an earlier run of ours among them, is replaced; one that names no process is left
  // alone and none is taken.
  static Outcome Take(const std::string& dir, const std::string& node, const std::string& procDir);

  ~HostOwnLock();
  HostOwnLock(const HostOwnLock&) = delete;
  HostOwnLock& operator=(const HostOwnLock&) = delete;

 private:
  HostOwnLock(std::string path, dev_t device, ino_t inode, int slot);

  std::string path_;
  dev_t device_;
  ino_t inode_;
  int slot_;  // in the table the signal handlers read; -1 when the path did not fit
};

// Whether this process owns the lock file at `path` now: a lock file that names our pid and is
// not ours was left by an earlier process of the same pid.
bool OwnsLockFile(const std::string& path);

// Removes every lock file this process owns now. Async-signal-safe: a front end that handles
// SIGINT or SIGTERM itself calls it from its handler.
void RemoveOwnLockFiles() noexcept;

// For SIGINT, SIGTERM and SIGHUP, where their action is still the default: a handler that removes
// the lock files and then ends the process as the signal would have; and the same removal at
// exit. Once per process.
void InstallLockFileSignalHandlers();

}  // namespace win::host
