#pragma once
// HostHotplug: watches the kernel's device uevents (NETLINK_KOBJECT_UEVENT; no udev daemon needed)
// on a thread of its own and hands every parsed event to its handlers on that thread.

#include <functional>
#include <thread>

#include "platform/host/UeventParser.h"

namespace win::host {

class HostHotplug {
 public:
  struct Handlers {
    std::function<void(const Uevent&)> event;
    // The kernel dropped events because they came faster than they were read (ENOBUFS): what
    // changed meanwhile can only be found by looking again.
    std::function<void()> overflow;
    // Called before every wait; gives the milliseconds after which it wants to be called again
    // even if no event comes, or -1.
    std::function<int()> tick;
  };

  // Listens on a new netlink socket. Where the system refuses one (some containers), it watches
  // nothing: Listening() is false.
  explicit HostHotplug(Handlers handlers);
  // Listens on a datagram socket the caller opened (tests feed a socket pair); takes it over.
  HostHotplug(int socketFd, Handlers handlers);
  ~HostHotplug();
  HostHotplug(const HostHotplug&) = delete;
  HostHotplug& operator=(const HostHotplug&) = delete;

  bool Listening() const { return socket_ >= 0; }

 private:
  void Start();
  void Run();

  Handlers handlers_;
  int socket_ = -1;
  int wake_ = -1;
  std::thread thread_;
};

}  // namespace win::host
