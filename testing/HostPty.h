#pragma once
// Pty: a pseudo-terminal pair for the host world's I/O tests: the test holds the master side, the
// slave side stands in the fake /dev for a serial port.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace win::host::testing {

class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    slave_ = ptsname(master_);
  }
  ~Pty() { CloseMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& SlavePath() const { return slave_; }
  int Master() const { return master_; }

  void Send(const std::string& bytes) const {
    if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      throw std::runtime_error("pty write failed");
    }
  }

  // What the port sent, waiting up to `ms` for the first byte.
  std::string Receive(int ms) const {
    std::string got;
    pollfd fd{master_, POLLIN, 0};
    while (poll(&fd, 1, got.empty() ? ms : 50) > 0 && (fd.revents & POLLIN) != 0) {
      char buffer[256];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) {
        break;
      }
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

  void CloseMaster() {
    if (master_ >= 0) {
      close(master_);
      master_ = -1;
    }
  }

 private:
  int master_ = -1;
  std::string slave_;
};

}  // namespace win::host::testing
