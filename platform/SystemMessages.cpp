// The system message table: the texts the system gives for the codes this program meets.

#include <cstring>
#include <map>
#include <string_view>

#include "platform/Win32.h"

namespace win {

namespace {

const std::map<DWORD, std::string_view>& MessageTable() {
  static const auto& table = *new const std::map<DWORD, std::string_view>{
      {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
      {ERROR_INVALID_FUNCTION, "Incorrect function.\r\n"},
      {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
      {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
      {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
      {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
      {ERROR_NOT_ENOUGH_MEMORY,
       "Not enough memory resources are available to process this command.\r\n"},
      {ERROR_INVALID_DATA, "The data is invalid.\r\n"},
      {ERROR_NOT_READY, "The device is not ready.\r\n"},
      {ERROR_BAD_COMMAND, "The device does not recognize the command.\r\n"},
      {ERROR_GEN_FAILURE, "A device attached to the system is not functioning.\r\n"},
      {ERROR_SHARING_VIOLATION,
       "The process cannot access the file because it is being used by another process.\r\n"},
      {ERROR_NOT_SUPPORTED, "The request is not supported.\r\n"},
      {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
      {ERROR_CALL_NOT_IMPLEMENTED, "This function is not supported on this system.\r\n"},
      {ERROR_SEM_TIMEOUT, "The semaphore timeout period has expired.\r\n"},
      {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
      {ERROR_INVALID_NAME,
       "The filename, directory name, or volume label syntax is incorrect.\r\n"},
      {ERROR_MOD_NOT_FOUND, "The specified module could not be found.\r\n"},
      {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found.\r\n"},
      {ERROR_NO_MORE_ITEMS, "No more data is available.\r\n"},
      {ERROR_MR_MID_NOT_FOUND,
       "The system cannot find message text for message number 0x%1 in the message file for "
       "%2.\r\n"},
      {ERROR_OPERATION_ABORTED,
       "The I/O operation has been aborted because of either a thread exit or an application "
       "request.\r\n"},
      {ERROR_IO_INCOMPLETE, "Overlapped I/O event is not in a signaled state.\r\n"},
      {ERROR_IO_PENDING, "Overlapped I/O operation is in progress.\r\n"},
      {ERROR_INVALID_FLAGS, "Invalid flags.\r\n"},
      {ERROR_DEVICE_NOT_CONNECTED, "The device is not connected.\r\n"},
      {ERROR_NOT_FOUND, "Element not found.\r\n"},
      {ERROR_INVALID_WINDOW_HANDLE, "Invalid window handle.\r\n"},
      {ERROR_INVALID_USER_BUFFER,
       "The supplied user buffer is not valid for the requested operation.\r\n"},
  };
  return table;
}

}  // namespace

DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPSTR buffer, DWORD size,
                     void*) {
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const auto& table = MessageTable();
  auto found = table.find(messageId);
  if (found == table.end()) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  const std::string_view text = found->second;
  if (text.size() >= size) {  // the terminating NUL must fit too
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return static_cast<DWORD>(text.size());
}

}  // namespace win
