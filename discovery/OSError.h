#pragma once
// EOSError: the last-OS-error exception: "System Error.  Code: %d." with the system's text for the
// code.

#include <stdexcept>
#include <string>

#include "platform/Win32.h"

class EOSError : public std::runtime_error {
 public:
  EOSError(const std::string& message, win::DWORD errorCode);
  win::DWORD ErrorCode() const { return FErrorCode; }

 private:
  win::DWORD FErrorCode;
};

// Raises EOSError for the thread's last OS error.
[[noreturn]] void RaiseLastOSError();
