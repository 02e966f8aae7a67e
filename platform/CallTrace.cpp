#include "platform/CallTrace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/Additions.h"

namespace win {

namespace detail {

namespace {

bool AskedForByEnvironment() {
  const char* value = std::getenv("TALVIK_TRACE");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

}  // namespace

std::atomic<bool> callTraceSwitch{AskedForByEnvironment()};

void TraceLine(std::string_view call, std::string_view subject, std::string_view result,
               bool failed) {
  const DWORD lastError = GetLastError();
  const int lastErrno = LastErrno();
  const DWORD code = failed ? lastError : ERROR_SUCCESS;
  const int errnoValue = failed ? lastErrno : 0;
  std::string line = "trace: ";
  line.append(call).append("(").append(subject).append(") = ").append(result);
  line += ", error " + std::to_string(code) + ", errno " + std::to_string(errnoValue);
  if (errnoValue != 0) {
    line += " (" + ErrnoText(errnoValue) + ")";
  }
  line += '\n';
  static std::mutex* const mutex = new std::mutex;  // lines of several threads never mix
  std::lock_guard lock(*mutex);
  std::fputs(line.c_str(), stderr);
  SetLastErrorFromErrno(lastError, lastErrno);  // the caller's last error stays as it was
}

std::string HandleText(const void* handle) {
  char text[32];
  std::snprintf(text, sizeof text, "handle %p", handle);
  return text;
}

}  // namespace detail

void SetCallTrace(bool on) {
  detail::callTraceSwitch.store(on, std::memory_order_relaxed);
}

bool CallTraceOn() {
  return detail::Tracing();
}

}  // namespace win
