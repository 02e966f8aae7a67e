#include "platform/host/HostLatencyTimer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>

#include "platform/host/HostErrno.h"

namespace win::host {

namespace {

DWORD WriteError(int error) {
  return FailWithErrno(error, ErrnoUse::Attribute);
}

}  // namespace

std::optional<int> ReadLatencyTimer(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return std::nullopt;
  }
  char text[16];
  const ssize_t n = read(fd, text, sizeof text);
  close(fd);
  int value = 0;
  if (n <= 0 || std::from_chars(text, text + n, value).ec != std::errc{}) {
    return std::nullopt;
  }
  return value;
}

bool LatencyTimerChangeable(const std::string& path) {
  return access(path.c_str(), W_OK) == 0;
}

DWORD WriteLatencyTimer(const std::string& path, int value) {
  if (value < kLatencyTimerMin || value > kLatencyTimerMax) {
    return ERROR_INVALID_PARAMETER;
  }
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    return WriteError(errno);
  }
  const std::string text = std::to_string(value) + "\n";
  const ssize_t n = write(fd, text.data(), text.size());
  const int error = errno;
  // The driver's refusal comes back from write; a failing close is reported as well.
  const bool closed = close(fd) == 0;
  if (n != static_cast<ssize_t>(text.size())) {
    return n < 0 ? WriteError(error) : ERROR_GEN_FAILURE;
  }
  return closed ? NO_ERROR : WriteError(errno);
}

}  // namespace win::host
