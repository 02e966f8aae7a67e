#include "platform/host/HostHolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <utility>

namespace win::host {
namespace {

struct Target {
  std::string path;       // as given
  std::string canonical;  // what /proc/<pid>/fd links to
  bool statted = false;
  unsigned major = 0;  // of the file system the node lives on, as /proc/locks shows it
  unsigned minor = 0;
  unsigned long inode = 0;
};

// The most a directory entry of getdents64 takes.
constexpr std::size_t kLongestEntry = sizeof(dirent64);

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

bool AllDigits(const char* name) {
  if (*name == '\0') {
    return false;
  }
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9') {
      return false;
    }
  }
  return true;
}

std::vector<Target> Targets(const std::vector<std::string>& paths) {
  std::vector<Target> targets;
  for (const auto& path : paths) {
    Target target;
    target.path = path;
    char resolved[PATH_MAX];
    target.canonical = realpath(path.c_str(), resolved) != nullptr ? resolved : path;
    struct stat node {};
    if (stat(path.c_str(), &node) == 0) {
      target.statted = true;
      target.major = major(node.st_dev);
      target.minor = minor(node.st_dev);
      target.inode = static_cast<unsigned long>(node.st_ino);
    }
    targets.push_back(std::move(target));
  }
  return targets;
}

// A line of /proc/locks: "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF". Lines with "->" are
// programs waiting for a lock, not holding one.
bool ParseLockLine(const std::string& line, long& pid, unsigned& major, unsigned& minor,
                   unsigned long& inode) {
  std::istringstream in(line);
  std::string id;
  std::string type;
  std::string mode;
  std::string access;
  std::string node;
  if (!(in >> id >> type) || type == "->" || !(in >> mode >> access >> pid >> node)) {
    return false;
  }
  char tail = 0;
  return std::sscanf(node.c_str(), "%x:%x:%lu%c", &major, &minor, &inode, &tail) == 3;
}

}  // namespace

HostHolders::HostHolders(std::string procDir) : proc_(std::move(procDir)) {}

std::map<std::string, HostHolder> HostHolders::Find(
    const std::vector<std::string>& devicePaths) const {
  const std::vector<Target> targets = Targets(devicePaths);
  std::map<std::string, pid_t> found;  // path to pid; 0 for a lock without a known owner

  // Processes that have a node open: the most precise answer, and the only one for a holder
  // that took no lock. One readlink per descriptor is the bulk of the work, so nothing else is
  // done per descriptor, and each process costs only an open, one or two reads and a close.
  if (Dir proc{opendir(proc_.c_str())}) {
    char target[PATH_MAX];
    alignas(8) char entries[32768];
    while (found.size() < targets.size()) {
      const dirent* process = readdir(proc.get());
      if (process == nullptr) {
        break;
      }
      if (!AllDigits(process->d_name)) {
        continue;
      }
      char fdDir[NAME_MAX + 4];
      std::snprintf(fdDir, sizeof fdDir, "%s/fd", process->d_name);
      const int fds = openat(dirfd(proc.get()), fdDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fds < 0) {
        continue;  // gone, or another user's process
      }
      for (;;) {
        const ssize_t size = getdents64(fds, entries, sizeof entries);
        for (ssize_t at = 0; at < size;) {
          const auto* descriptor = reinterpret_cast<const dirent64*>(entries + at);
          at += descriptor->d_reclen;
          const ssize_t n = readlinkat(fds, descriptor->d_name, target, sizeof target - 1);
          if (n <= 0 || target[0] != '/') {
            continue;  // ".", "..", sockets, pipes
          }
          target[n] = '\0';
          for (const auto& wanted : targets) {
            if (wanted.canonical == target) {
              found.emplace(wanted.path, static_cast<pid_t>(std::atoi(process->d_name)));
            }
          }
        }
        // A read that left room for more entries was the last.
        if (size <= 0 || static_cast<std::size_t>(size) + kLongestEntry < sizeof entries) {
          break;
        }
      }
      close(fds);
    }
  }

  // Locks, also those of processes this user cannot look into.
  std::ifstream locks(proc_ + "/locks");
  for (std::string line; found.size() < targets.size() && std::getline(locks, line);) {
    long pid = 0;
    unsigned major = 0;
    unsigned minor = 0;
    unsigned long inode = 0;
    if (!ParseLockLine(line, pid, major, minor, inode)) {
      continue;
    }
    for (const auto& wanted : targets) {
      if (wanted.statted && wanted.major == major && wanted.minor == minor &&
          wanted.inode == inode) {
        found.emplace(wanted.path, pid > 0 ? static_cast<pid_t>(pid) : 0);
      }
    }
  }

  std::map<std::string, HostHolder> holders;
  for (const auto& [path, pid] : found) {
    HostHolder holder;
    holder.pid = pid;
    if (pid > 0) {
      holder = Process(pid).value_or(holder);
    }
    holders.emplace(path, std::move(holder));
  }
  return holders;
}

std::optional<HostHolder> HostHolders::Process(pid_t pid) const {
  if (pid <= 0) {
    return std::nullopt;
  }
  const std::string dir = proc_ + "/" + std::to_string(pid);
  struct stat process {};
  if (stat(dir.c_str(), &process) != 0) {
    return std::nullopt;
  }
  HostHolder holder;
  holder.pid = pid;
  std::ifstream comm(dir + "/comm");
  std::getline(comm, holder.name);
  if (process.st_uid != getuid()) {
    passwd entry{};
    passwd* result = nullptr;
    char buffer[1024];
    holder.user =
        getpwuid_r(process.st_uid, &entry, buffer, sizeof buffer, &result) == 0 && result != nullptr
            ? result->pw_name
            : std::to_string(process.st_uid);
  }
  return holder;
}

}  // namespace win::host
