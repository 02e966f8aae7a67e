#pragma once
// ReadLockFilePid: UUCP-style lock files ("LCK..ttyUSB0"): the pid of the program that holds a
// port. The lock directories are writable by every user, so a lock file is read as hostile input:
// never through a link, never when it is not a regular file, never more than its first 128 bytes,
// and never with an open that could wait.

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace win::host {

inline constexpr std::size_t kLockFileMaxBytes = 128;

// The pid a lock file's content names: ASCII digits in the HDB style (blanks before them, and
// after them a line end or a blank and any text, as programs that add their name write), or a
// binary int in the old Kermit style, accepted only as exactly four bytes. Anything else, and
// any pid below 1, names no process.
std::optional<pid_t> ParseLockFilePid(std::string_view content);

// Reads and parses the lock file at `path`. Nothing when it is missing, a link, not a regular
// file, larger than kLockFileMaxBytes, or unreadable.
std::optional<pid_t> ReadLockFilePid(const std::string& path);

}  // namespace win::host
