// The communications file functions: find the opened file behind the handle, check what the
// system checks itself, and hand the call to the file of the device world that opened it.

#include <cstring>
#include <string_view>

#include "platform/devices/DeviceWorldRegistry.h"

namespace win {

namespace {

std::shared_ptr<CommFile> FindComm(HANDLE handle) {
  auto file = std::dynamic_pointer_cast<CommFile>(LookupHandle(handle));
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
  }
  return file;
}

BOOL InvalidParameter() {
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

constexpr std::string_view kDevicePrefixes[] = {"\\\\.\\", "\\\\?\\"};

}  // namespace

DWORD DcbFlags(const DCB& dcb) {
  // The flags word follows DCBlength and BaudRate, as in the system's layout.
  static_assert(sizeof(DCB) == 28);
  DWORD flags = 0;
  std::memcpy(&flags, reinterpret_cast<const BYTE*>(&dcb) + 2 * sizeof(DWORD), sizeof flags);
  return flags;
}

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE) {
  if (fileName == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::string_view path(fileName);
  bool device = false;
  for (std::string_view prefix : kDevicePrefixes) {
    if (path.starts_with(prefix)) {
      path.remove_prefix(prefix.size());
      device = true;
      break;
    }
  }
  if (!device || path.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  DWORD error = ERROR_SUCCESS;
  auto file = CurrentDeviceWorld()->OpenComm(path, desiredAccess, shareMode, creationDisposition,
                                             flagsAndAttributes, error);
  if (!file) {
    SetLastError(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE handle = AllocateHandle(std::move(file));
  SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL GetCommState(HANDLE file, LPDCB dcb) {
  auto comm = FindComm(file);
  if (!comm) {
    return FALSE;
  }
  return dcb == nullptr ? InvalidParameter() : comm->GetCommState(*dcb);
}

BOOL SetCommState(HANDLE file, LPDCB dcb) {
  auto comm = FindComm(file);
  if (!comm) {
    return FALSE;
  }
  return dcb == nullptr ? InvalidParameter() : comm->SetCommState(*dcb);
}

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) {
  auto comm = FindComm(file);
  return comm ? comm->SetupComm(inQueue, outQueue) : FALSE;
}

BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
  auto comm = FindComm(file);
  if (!comm) {
    return FALSE;
  }
  return timeouts == nullptr ? InvalidParameter() : comm->GetCommTimeouts(*timeouts);
}

BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
  auto comm = FindComm(file);
  if (!comm) {
    return FALSE;
  }
  return timeouts == nullptr ? InvalidParameter() : comm->SetCommTimeouts(*timeouts);
}

BOOL GetCommMask(HANDLE file, LPDWORD mask) {
  auto comm = FindComm(file);
  if (!comm) {
    return FALSE;
  }
  return mask == nullptr ? InvalidParameter() : comm->GetCommMask(*mask);
}

BOOL SetCommMask(HANDLE file, DWORD mask) {
  auto comm = FindComm(file);
  return comm ? comm->SetCommMask(mask) : FALSE;
}

BOOL WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped) {
  auto comm = FindComm(file);
  if (!comm) {
    return FALSE;
  }
  return eventMask == nullptr ? InvalidParameter() : comm->WaitCommEvent(eventMask, overlapped);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
  auto comm = FindComm(file);
  if (!comm) {
    return FALSE;
  }
  if ((buffer == nullptr && toRead > 0) || (read == nullptr && overlapped == nullptr)) {
    return InvalidParameter();
  }
  return comm->ReadFile(buffer, toRead, read, overlapped);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               LPOVERLAPPED overlapped) {
  auto comm = FindComm(file);
  if (!comm) {
    return FALSE;
  }
  if ((buffer == nullptr && toWrite > 0) || (written == nullptr && overlapped == nullptr)) {
    return InvalidParameter();
  }
  return comm->WriteFile(buffer, toWrite, written, overlapped);
}

BOOL CancelIo(HANDLE file) {
  auto comm = FindComm(file);
  return comm ? comm->CancelIo(nullptr, GetCurrentThreadId()) : FALSE;
}

BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
  auto comm = FindComm(file);
  return comm ? comm->CancelIo(overlapped, 0) : FALSE;
}

BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status) {
  auto comm = FindComm(file);
  return comm ? comm->ClearCommError(errors, status) : FALSE;
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
  auto comm = FindComm(file);
  return comm ? comm->PurgeComm(flags) : FALSE;
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) {
  auto comm = FindComm(file);
  return comm ? comm->EscapeCommFunction(function) : FALSE;
}

BOOL GetCommModemStatus(HANDLE file, LPDWORD modemStatus) {
  auto comm = FindComm(file);
  if (!comm) {
    return FALSE;
  }
  return modemStatus == nullptr ? InvalidParameter() : comm->GetCommModemStatus(*modemStatus);
}

}  // namespace win
