#include "platform/host/HostHotplug.h"

#include <linux/netlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace win::host {
namespace {

int OpenUeventSocket() {
  const int fd =
      socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
  if (fd < 0) {
    return -1;
  }
  // Room for a burst (a hub of adapters plugged in at once) before the kernel drops events.
  const int room = 1 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = 1;  // the kernel's own events
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

HostHotplug::HostHotplug(Handlers handlers)
    : handlers_(std::move(handlers)), socket_(OpenUeventSocket()) {
  Start();
}

HostHotplug::HostHotplug(int socketFd, Handlers handlers)
    : handlers_(std::move(handlers)), socket_(socketFd) {
  Start();
}

HostHotplug::~HostHotplug() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    (void)!write(wake_, &one, sizeof one);
    thread_.join();
  }
  if (wake_ >= 0) {
    close(wake_);
  }
  if (socket_ >= 0) {
    close(socket_);
  }
}

void HostHotplug::Start() {
  if (socket_ < 0) {
    return;
  }
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) {
    close(socket_);
    socket_ = -1;
    return;
  }
  thread_ = std::thread([this] { Run(); });
}

void HostHotplug::Run() {
  std::vector<char> buffer(16384);
  for (;;) {
    const int timeout = handlers_.tick ? handlers_.tick() : -1;
    pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
    const int ready = poll(fds, 2, timeout);
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if (fds[1].revents != 0) {
      return;
    }
    if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (fds[0].revents & POLLIN) == 0) {
      return;
    }
    bool dropped = false;
    for (;;) {
      const ssize_t n = recv(socket_, buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (n < 0 && (errno == ENOBUFS || errno == EINTR)) {
        dropped = dropped || errno == ENOBUFS;  // the events after the gap still come
        continue;
      }
      if (n <= 0) {
        break;
      }
      if (auto event = ParseUevent(std::string_view(buffer.data(), static_cast<size_t>(n)));
          event && handlers_.event) {
        handlers_.event(*event);
      }
    }
    if (dropped && handlers_.overflow) {
      handlers_.overflow();
    }
  }
}

}  // namespace win::host
