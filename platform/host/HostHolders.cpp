#include "platform/host/HostHolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utmp.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/host/HostProcStat.h"

namespace win::host {
namespace {

struct Target {
  std::string path;      // as given
  bool device = false;   // the path names a character device
  dev_t rdev = 0;        // its device number
  bool statted = false;  // the node itself could be looked at
  unsigned major = 0;    // of the file system the node lives on, as /proc/locks shows it
  unsigned minor = 0;
  unsigned long inode = 0;
};

// How a process holds a node; a lower kind says more and wins.
enum class Kind : std::uint8_t { Open, Terminal, Login, Lock, None };

struct Found {
  Kind kind = Kind::None;
  pid_t pid = 0;

  void Offer(Kind k, pid_t p) {
    if (k < kind || (k == kind && p < pid)) {
      kind = k;
      pid = p;
    }
  }
};

// The most a directory entry of getdents64 takes.
constexpr std::size_t kLongestEntry = sizeof(dirent64);
// A walk is split over threads only where each gets at least this many processes.
constexpr std::size_t kProcessesPerThread = 128;
constexpr unsigned kMostThreads = 8;

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
    struct stat node {};
    if (stat(path.c_str(), &node) == 0) {
      target.statted = true;
      target.device = S_ISCHR(node.st_mode);
      target.rdev = node.st_rdev;
      target.major = major(node.st_dev);
      target.minor = minor(node.st_dev);
      target.inode = static_cast<unsigned long>(node.st_ino);
    }
    targets.push_back(std::move(target));
  }
  return targets;
}

void OfferDevice(const std::vector<Target>& targets, std::vector<Found>& found, dev_t rdev,
                 Kind kind, pid_t pid) {
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (targets[i].device && targets[i].rdev == rdev) {
      found[i].Offer(kind, pid);
    }
  }
}

// The processes of `pids` that have a target open or as their controlling terminal. One
// readlink per descriptor is the bulk of the work; only descriptors whose link names a path (not
// a socket, pipe or anonymous inode) are looked at by device number. A process costs an open and
// a read of its stat line and the reads of its descriptor folder.
void Search(int proc, const std::vector<pid_t>& pids, std::size_t begin, std::size_t end,
            const std::vector<Target>& targets, std::vector<Found>& found) {
  char link[PATH_MAX];
  alignas(8) char entries[32768];
  char path[32];
  for (std::size_t at = begin; at < end; ++at) {
    const pid_t pid = pids[at];
    std::snprintf(path, sizeof path, "%d/stat", static_cast<int>(pid));
    if (const int statFd = openat(proc, path, O_RDONLY | O_CLOEXEC); statFd >= 0) {
      char line[512];
      const ssize_t n = read(statFd, line, sizeof line);
      close(statFd);
      const std::optional<ProcStat> stat =
          n > 0 ? ParseProcStat(std::string_view(line, static_cast<std::size_t>(n))) : std::nullopt;
      if (stat && (stat->state == 'Z' || stat->state == 'X')) {
        continue;  // holds nothing any more
      }
      if (stat && stat->tty != 0) {
        OfferDevice(targets, found, stat->tty, Kind::Terminal, pid);
      }
    }
    std::snprintf(path, sizeof path, "%d/fd", static_cast<int>(pid));
    const int fds = openat(proc, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fds < 0) {
      continue;  // gone, or another user's process
    }
    for (;;) {
      const ssize_t size = getdents64(fds, entries, sizeof entries);
      for (ssize_t offset = 0; offset < size;) {
        const auto* descriptor = reinterpret_cast<const dirent64*>(entries + offset);
        offset += descriptor->d_reclen;
        if (readlinkat(fds, descriptor->d_name, link, 1) != 1 || link[0] != '/') {
          continue;  // ".", "..", sockets, pipes, anonymous inodes
        }
        // Cached attributes are enough for the type and device number, and never wait for a
        // network file system's server.
        struct statx file {};
        if (statx(fds, descriptor->d_name, AT_STATX_DONT_SYNC, STATX_TYPE, &file) == 0 &&
            S_ISCHR(file.stx_mode)) {
          OfferDevice(targets, found, makedev(file.stx_rdev_major, file.stx_rdev_minor), Kind::Open,
                      pid);
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

void SearchLocks(const std::string& proc, const std::vector<Target>& targets,
                 std::vector<Found>& found) {
  std::ifstream locks(proc + "/locks");
  for (std::string line; std::getline(locks, line);) {
    long pid = 0;
    unsigned major = 0;
    unsigned minor = 0;
    unsigned long inode = 0;
    if (!ParseLockLine(line, pid, major, minor, inode)) {
      continue;
    }
    for (std::size_t i = 0; i < targets.size(); ++i) {
      const Target& wanted = targets[i];
      if (wanted.statted && wanted.major == major && wanted.minor == minor &&
          wanted.inode == inode) {
        found[i].Offer(Kind::Lock, pid > 0 ? static_cast<pid_t>(pid) : 0);
      }
    }
  }
}

}  // namespace

HostHolders::HostHolders(std::string procDir, std::string devDir, std::string utmpFile)
    : proc_(std::move(procDir)), dev_(std::move(devDir)), utmp_(std::move(utmpFile)) {}

std::map<std::string, HostHolder> HostHolders::Find(
    const std::vector<std::string>& devicePaths) const {
  const std::vector<Target> targets = Targets(devicePaths);
  std::vector<Found> found(targets.size());
  walks_.fetch_add(1, std::memory_order_relaxed);

  if (Dir proc{opendir(proc_.c_str())}) {
    std::vector<pid_t> pids;
    while (const dirent* process = readdir(proc.get())) {
      if (AllDigits(process->d_name)) {
        pids.push_back(static_cast<pid_t>(std::atoi(process->d_name)));
      }
    }
    const unsigned cores =
        std::max(1u, std::min(kMostThreads, std::thread::hardware_concurrency()));
    const std::size_t slices =
        std::max<std::size_t>(1, std::min<std::size_t>(cores, pids.size() / kProcessesPerThread));
    std::vector<std::vector<Found>> results(slices, std::vector<Found>(targets.size()));
    std::vector<std::thread> helpers;
    const auto bounds = [&](std::size_t slice) {
      return std::make_pair(pids.size() * slice / slices, pids.size() * (slice + 1) / slices);
    };
    // The first slice is this thread's; a helper that cannot be started leaves its slice here too.
    std::vector<std::size_t> here{0};
    for (std::size_t slice = 1; slice < slices; ++slice) {
      try {
        helpers.emplace_back([&, slice] {
          const auto [begin, end] = bounds(slice);
          Search(dirfd(proc.get()), pids, begin, end, targets, results[slice]);
        });
      } catch (const std::system_error&) {
        here.push_back(slice);
      }
    }
    for (const std::size_t slice : here) {
      const auto [begin, end] = bounds(slice);
      Search(dirfd(proc.get()), pids, begin, end, targets, results[slice]);
    }
    for (auto& helper : helpers) {
      helper.join();
    }
    for (const auto& result : results) {
      for (std::size_t i = 0; i < targets.size(); ++i) {
        if (result[i].kind != Kind::None) {
          found[i].Offer(result[i].kind, result[i].pid);
        }
      }
    }
  }

  // Logins: getty and login write their line to utmp.
  if (!utmp_.empty()) {
    std::ifstream logins(utmp_, std::ios::binary);
    utmp entry{};
    while (logins.read(reinterpret_cast<char*>(&entry), sizeof entry)) {
      if ((entry.ut_type != USER_PROCESS && entry.ut_type != LOGIN_PROCESS) ||
          !ProcessAlive(proc_, entry.ut_pid)) {
        continue;
      }
      const std::string line(entry.ut_line, strnlen(entry.ut_line, sizeof entry.ut_line));
      struct stat node {};
      if (line.empty() || line.find("..") != std::string::npos ||
          stat((dev_ + "/" + line).c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) {
        continue;
      }
      OfferDevice(targets, found, node.st_rdev, Kind::Login, entry.ut_pid);
    }
  }

  // Locks, also those of processes this user cannot look into.
  SearchLocks(proc_, targets, found);

  std::map<std::string, HostHolder> holders;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (found[i].kind == Kind::None) {
      continue;
    }
    HostHolder holder;
    holder.pid = found[i].pid;
    if (holder.pid > 0) {
      holder = Process(holder.pid).value_or(holder);
    }
    holders.emplace(targets[i].path, std::move(holder));
  }
  return holders;
}

std::optional<HostHolder> HostHolders::LockHolder(const std::string& devicePath) const {
  const std::vector<Target> targets = Targets({devicePath});
  std::vector<Found> found(1);
  SearchLocks(proc_, targets, found);
  if (found[0].kind == Kind::None) {
    return std::nullopt;
  }
  HostHolder holder;
  holder.pid = found[0].pid;
  return holder.pid > 0 ? Process(holder.pid).value_or(holder) : holder;
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
