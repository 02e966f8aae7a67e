#pragma once
// HostOpenWatch: whether another program opened a port's node after the walk that found the port
// free, learnt from the kernel's open and close notes (inotify) on the nodes of the walk. Talvik's
// own opens and closes raise the same notes, so each is announced before its system call and
// taken off the count.

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace win::host {

class HostOpenWatch {
 public:
  enum class Others : std::uint8_t { None, Opened, Unknown };

  HostOpenWatch();
  ~HostOpenWatch();
  HostOpenWatch(const HostOpenWatch&) = delete;
  HostOpenWatch& operator=(const HostOpenWatch&) = delete;

  // At a walk: watches these nodes (name, device path) from now on, and forgets what happened
  // before.
  void Reset(const std::vector<std::pair<std::string, std::string>>& nodes);

  // Whether another program has opened the node since the walk and not closed it again. Unknown
  // when notes were lost or the node could not be watched.
  Others OpenedByOthers(const std::string& node);

  // Our own open of the node is about to be made; OwnOpenFailed when it failed.
  void OwnOpen(const std::string& node);
  void OwnOpenFailed(const std::string& node);
  // Our own close of an opened node is about to be made.
  void OwnClose(const std::string& node);

 private:
  struct Node {
    int watch = -1;
    bool missing = false;  // no node to watch: nothing can open it
    int others = 0;        // opens of other programs not closed again
    int ownOpens = 0;      // announced, not yet seen
    int ownCloses = 0;
  };

  void DrainLocked();

  std::mutex mutex_;
  int fd_ = -1;
  bool lost_ = false;  // the kernel dropped notes since the walk
  std::map<std::string, Node> nodes_;
  std::map<int, std::string> byWatch_;
};

}  // namespace win::host
