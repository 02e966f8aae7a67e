#include "platform/host/HostLockFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace win::host {
namespace {

constexpr std::size_t kMaxDigits = 10;
constexpr long long kMaxPid = INT32_MAX;

bool Blank(char c) {
  return c == ' ' || c == '\t';
}

bool LineSpace(char c) {
  return Blank(c) || c == '\n' || c == '\r';
}

bool Digit(char c) {
  return c >= '0' && c <= '9';
}

std::optional<pid_t> AsciiPid(std::string_view content) {
  std::size_t at = 0;
  while (at < content.size() && Blank(content[at])) {
    ++at;
  }
  const std::size_t first = at;
  long long pid = 0;
  while (at < content.size() && Digit(content[at])) {
    if (at - first == kMaxDigits) {
      return std::nullopt;
    }
    pid = pid * 10 + (content[at] - '0');
    ++at;
  }
  if (at == first || (at < content.size() && !LineSpace(content[at])) || pid < 1 || pid > kMaxPid) {
    return std::nullopt;
  }
  return static_cast<pid_t>(pid);
}

}  // namespace

std::optional<pid_t> ParseLockFilePid(std::string_view content) {
  if (content.size() > kLockFileMaxBytes) {
    return std::nullopt;
  }
  if (const auto pid = AsciiPid(content)) {
    return pid;
  }
  if (content.size() != sizeof(std::int32_t)) {
    return std::nullopt;
  }
  std::int32_t pid = 0;
  std::memcpy(&pid, content.data(), sizeof pid);
  return pid >= 1 ? std::optional<pid_t>(pid) : std::nullopt;
}

std::optional<pid_t> ReadLockFilePid(const std::string& path) {
  struct stat link {};
  if (lstat(path.c_str(), &link) != 0 || !S_ISREG(link.st_mode) ||
      link.st_size > static_cast<off_t>(kLockFileMaxBytes)) {
    return std::nullopt;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return std::nullopt;
  }
  // The name may have been replaced between the look and the open.
  struct stat opened {};
  char buffer[kLockFileMaxBytes + 1];
  std::size_t size = 0;
  bool ok = fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_ino == link.st_ino &&
            opened.st_dev == link.st_dev;
  while (ok && size < sizeof buffer) {
    const ssize_t n = read(fd, buffer + size, sizeof buffer - size);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    size += static_cast<std::size_t>(n);
  }
  close(fd);
  if (!ok || size > kLockFileMaxBytes) {
    return std::nullopt;
  }
  return ParseLockFilePid(std::string_view(buffer, size));
}

}  // namespace win::host
