#include <system_error>

#include "platform/Additions.h"

namespace win {

namespace {

// The errno that caused the thread's last error, with the code it was mapped to: it belongs to
// the last error only while that is still the code.
struct ErrnoBeside {
  DWORD code = ERROR_SUCCESS;
  int errnoValue = 0;
};
thread_local ErrnoBeside beside;

}  // namespace

void SetLastErrorFromErrno(DWORD code, int errnoValue) {
  beside = {code, errnoValue};
  SetLastError(code);
}

int LastErrno() {
  return beside.errnoValue != 0 && beside.code == GetLastError() ? beside.errnoValue : 0;
}

void ForgetLastErrno() {
  beside = {};
}

std::string ErrnoText(int errnoValue) {
  return std::generic_category().message(errnoValue);
}

}  // namespace win
