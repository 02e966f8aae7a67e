#include "platform/host/HostProcStat.h"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

namespace win::host {
namespace {

// A field of digits (with an optional minus) at `at`, and where it ends.
bool Number(std::string_view text, std::size_t& at, long long& value) {
  while (at < text.size() && text[at] == ' ') {
    ++at;
  }
  const auto [end, error] = std::from_chars(text.data() + at, text.data() + text.size(), value);
  if (error != std::errc{}) {
    return false;
  }
  at = static_cast<std::size_t>(end - text.data());
  return true;
}

}  // namespace

std::optional<ProcStat> ParseProcStat(std::string_view text) {
  // "<pid> (<comm>) <state> <ppid> <pgrp> <session> <tty_nr> ..."
  const std::size_t close = text.rfind(')');
  if (close == std::string_view::npos || close + 2 >= text.size() || text[close + 1] != ' ') {
    return std::nullopt;
  }
  ProcStat stat;
  stat.state = text[close + 2];
  std::size_t at = close + 3;
  long long field = 0;
  for (int i = 0; i < 3; ++i) {  // ppid, pgrp, session
    if (!Number(text, at, field)) {
      return std::nullopt;
    }
  }
  if (!Number(text, at, field) || field < 0 || field > 0xffffffffLL) {
    return std::nullopt;
  }
  // The kernel's encoding of a device number in 32 bits: minor bits 0-7 and 20-31, major 8-19.
  const auto code = static_cast<unsigned long>(field);
  stat.tty =
      field == 0 ? 0 : makedev((code >> 8) & 0xfff, (code & 0xff) | ((code >> 12) & 0xfff00));
  return stat;
}

std::optional<ProcStat> ReadProcStat(const std::string& procDir, pid_t pid) {
  if (pid <= 0) {
    return std::nullopt;
  }
  const std::string path = procDir + "/" + std::to_string(pid) + "/stat";
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return std::nullopt;
  }
  char buffer[1024];
  ssize_t n = 0;
  do {
    n = read(fd, buffer, sizeof buffer);
  } while (n < 0 && errno == EINTR);
  close(fd);
  if (n <= 0) {
    return std::nullopt;
  }
  return ParseProcStat(std::string_view(buffer, static_cast<std::size_t>(n)));
}

bool ProcessAlive(const std::string& procDir, pid_t pid) {
  const std::optional<ProcStat> stat = ReadProcStat(procDir, pid);
  return stat && stat->state != 'Z' && stat->state != 'X';
}

}  // namespace win::host
