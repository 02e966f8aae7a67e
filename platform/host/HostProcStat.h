#pragma once
// ProcStat: what /proc/<pid>/stat tells of a process that every user may read: its state and its
// controlling terminal. The program's name in that line may hold blanks and parentheses, so the
// fields are counted from the last ')'.

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace win::host {

struct ProcStat {
  char state = '?';  // 'R', 'S', 'Z', ...
  dev_t tty = 0;     // device number of the controlling terminal; 0 for none
};

// Parses the text of a /proc/<pid>/stat file; nothing when it is not in the kernel's form.
std::optional<ProcStat> ParseProcStat(std::string_view text);

// Reads <procDir>/<pid>/stat.
std::optional<ProcStat> ReadProcStat(const std::string& procDir, pid_t pid);

// A lock's process is alive when /proc shows it and it is not a zombie: a zombie holds nothing,
// and a pid that only kill() would find (another pid namespace) is no holder we can name.
bool ProcessAlive(const std::string& procDir, pid_t pid);

}  // namespace win::host
