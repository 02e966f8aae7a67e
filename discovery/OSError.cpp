#include "discovery/OSError.h"

#include "platform/Additions.h"

using namespace win;

EOSError::EOSError(const std::string& message, DWORD errorCode)
    : std::runtime_error(message), FErrorCode(errorCode) {}

void RaiseLastOSError() {
  const DWORD code = GetLastError();
  if (code == 0) {
    throw EOSError("A call to an OS function failed", code);
  }
  throw EOSError("System Error.  Code: " + std::to_string(code) + ".\r\n" + SysErrorMessage(code),
                 code);
}
