#include "platform/host/HostOpenWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace win::host {

HostOpenWatch::HostOpenWatch() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

HostOpenWatch::~HostOpenWatch() {
  if (fd_ >= 0) {
    close(fd_);
  }
}

void HostOpenWatch::DrainLocked() {
  if (fd_ < 0) {
    return;
  }
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t size = read(fd_, buffer, sizeof buffer);
    if (size < 0 && errno == EINTR) {
      continue;
    }
    if (size <= 0) {
      return;
    }
    for (ssize_t at = 0; at < size;) {
      inotify_event event{};
      std::memcpy(&event, buffer + at, sizeof event);
      at += static_cast<ssize_t>(sizeof event + event.len);
      if ((event.mask & IN_Q_OVERFLOW) != 0) {
        lost_ = true;
        continue;
      }
      const auto name = byWatch_.find(event.wd);
      if (name == byWatch_.end()) {
        continue;
      }
      if ((event.mask & IN_IGNORED) != 0) {  // the node went away
        nodes_[name->second].watch = -1;
        byWatch_.erase(name);
        continue;
      }
      Node& node = nodes_[name->second];
      if ((event.mask & IN_OPEN) != 0) {
        if (node.ownOpens > 0) {
          --node.ownOpens;
        } else {
          ++node.others;
        }
      }
      if ((event.mask & IN_CLOSE) != 0) {
        if (node.ownCloses > 0) {
          --node.ownCloses;
        } else {
          node.others = std::max(0, node.others - 1);
        }
      }
    }
  }
}

void HostOpenWatch::Reset(const std::vector<std::pair<std::string, std::string>>& nodes) {
  std::lock_guard lock(mutex_);
  DrainLocked();
  lost_ = false;
  std::map<std::string, Node> next;
  std::map<int, std::string> byWatch;
  for (const auto& [name, path] : nodes) {
    Node node;
    if (const auto old = nodes_.find(name); old != nodes_.end()) {
      node.ownOpens = old->second.ownOpens;  // our open or close under way
      node.ownCloses = old->second.ownCloses;
    }
    if (fd_ >= 0) {
      // The same inode keeps its watch; a new node under the old name gets a new one.
      node.watch = inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_CLOSE);
      node.missing = node.watch < 0 && (errno == ENOENT || errno == ENOTDIR);
    }
    if (node.watch >= 0) {
      byWatch[node.watch] = name;
    }
    next[name] = node;
  }
  for (const auto& [watch, name] : byWatch_) {
    if (!byWatch.contains(watch)) {
      inotify_rm_watch(fd_, watch);
    }
  }
  nodes_ = std::move(next);
  byWatch_ = std::move(byWatch);
}

HostOpenWatch::Others HostOpenWatch::OpenedByOthers(const std::string& node) {
  std::lock_guard lock(mutex_);
  DrainLocked();
  const auto it = nodes_.find(node);
  if (it == nodes_.end()) {
    return Others::Unknown;
  }
  if (it->second.others > 0) {
    return Others::Opened;
  }
  if (it->second.missing) {
    return Others::None;
  }
  return lost_ || it->second.watch < 0 ? Others::Unknown : Others::None;
}

void HostOpenWatch::OwnOpen(const std::string& node) {
  std::lock_guard lock(mutex_);
  ++nodes_[node].ownOpens;
}

void HostOpenWatch::OwnOpenFailed(const std::string& node) {
  std::lock_guard lock(mutex_);
  DrainLocked();
  Node& entry = nodes_[node];
  entry.ownOpens = std::max(0, entry.ownOpens - 1);
}

void HostOpenWatch::OwnClose(const std::string& node) {
  std::lock_guard lock(mutex_);
  ++nodes_[node].ownCloses;
}

}  // namespace win::host
