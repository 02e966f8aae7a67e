#pragma once
// HostHotplug: watches the kernel's device uevents (NETLINK_KOBJECT_UEVENT; no udev daemon needed)
// on a thread of its own and hands every parsed event to a callback on that thread.

#include <functional>
#include <thread>

#include "platform/host/UeventParser.h"

namespace win::host {

class HostHotplug {
 public:
  using Callback = std::function<void(const Uevent&)>;

  // Listens on a new netlink socket. Where the system refuses one (some containers), it watches
  // nothing: Listening() is false.
  explicit HostHotplug(Callback callback);
  // Listens on a datagram socket the caller opened (tests feed a socket pair); takes it over.
  HostHotplug(int socketFd, Callback callback);
  ~HostHotplug();
  HostHotplug(const HostHotplug&) = delete;
  HostHotplug& operator=(const HostHotplug&) = delete;

  bool Listening() const { return socket_ >= 0; }

 private:
  void Start();
  void Run();

  Callback callback_;
  int socket_ = -1;
  int wake_ = -1;
  std::thread thread_;
};

}  // namespace win::host
