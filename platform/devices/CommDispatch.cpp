// The communications file functions: find the opened file behind the handle, check what the
// system checks itself, hand the call to the file of the device world that opened it, and trace
// the call when the trace is on.

#include <cstring>
#include <string_view>

#include "platform/CallTrace.h"
#include "platform/devices/DeviceWorldRegistry.h"

namespace win {

namespace {

BOOL InvalidParameter() {
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

// Runs `call` on the file behind `handle` (FALSE with ERROR_INVALID_HANDLE when the handle names
// none) and traces it.
template <class Call>
BOOL OnComm(const char* name, HANDLE handle, Call call) {
  const bool tracing = detail::Tracing();
  if (tracing) {
    ForgetLastErrno();
  }
  auto comm = std::dynamic_pointer_cast<CommFile>(LookupHandle(handle));
  BOOL result = FALSE;
  if (comm) {
    result = call(*comm);
  } else {
    SetLastError(ERROR_INVALID_HANDLE);
  }
  if (tracing) {
    detail::TraceBool(name, comm ? comm->Name() : detail::HandleText(handle), result);
  }
  return result;
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
  const bool tracing = detail::Tracing();
  if (tracing) {
    ForgetLastErrno();
  }
  std::string_view path(fileName != nullptr ? fileName : "");
  bool device = false;
  for (std::string_view prefix : kDevicePrefixes) {
    if (path.starts_with(prefix)) {
      path.remove_prefix(prefix.size());
      device = true;
      break;
    }
  }
  HANDLE handle = INVALID_HANDLE_VALUE;
  if (fileName == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
  } else if (!device || path.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
  } else {
    DWORD error = ERROR_SUCCESS;
    auto file = CurrentDeviceWorld()->OpenComm(path, desiredAccess, shareMode, creationDisposition,
                                               flagsAndAttributes, error);
    if (file) {
      file->SetName(std::string(path));
      handle = AllocateHandle(std::move(file));
      SetLastError(ERROR_SUCCESS);
    } else if (error == ERROR_SUCCESS) {
      SetLastError(ERROR_GEN_FAILURE);
    } else if (GetLastError() != error) {
      SetLastError(error);  // a world that set this code itself keeps its errno beside it
    }
  }
  if (tracing) {
    detail::TraceLine("CreateFileA", path,
                      handle != INVALID_HANDLE_VALUE ? "handle" : "INVALID_HANDLE_VALUE",
                      handle == INVALID_HANDLE_VALUE);
  }
  return handle;
}

BOOL GetCommState(HANDLE file, LPDCB dcb) {
  return OnComm("GetCommState", file, [&](CommFile& comm) {
    return dcb == nullptr ? InvalidParameter() : comm.GetCommState(*dcb);
  });
}

BOOL SetCommState(HANDLE file, LPDCB dcb) {
  return OnComm("SetCommState", file, [&](CommFile& comm) {
    return dcb == nullptr ? InvalidParameter() : comm.SetCommState(*dcb);
  });
}

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) {
  return OnComm("SetupComm", file,
                [&](CommFile& comm) { return comm.SetupComm(inQueue, outQueue); });
}

BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
  return OnComm("GetCommTimeouts", file, [&](CommFile& comm) {
    return timeouts == nullptr ? InvalidParameter() : comm.GetCommTimeouts(*timeouts);
  });
}

BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
  return OnComm("SetCommTimeouts", file, [&](CommFile& comm) {
    return timeouts == nullptr ? InvalidParameter() : comm.SetCommTimeouts(*timeouts);
  });
}

BOOL GetCommMask(HANDLE file, LPDWORD mask) {
  return OnComm("GetCommMask", file, [&](CommFile& comm) {
    return mask == nullptr ? InvalidParameter() : comm.GetCommMask(*mask);
  });
}

BOOL SetCommMask(HANDLE file, DWORD mask) {
  return OnComm("SetCommMask", file, [&](CommFile& comm) { return comm.SetCommMask(mask); });
}

BOOL WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped) {
  return OnComm("WaitCommEvent", file, [&](CommFile& comm) {
    return eventMask == nullptr ? InvalidParameter() : comm.WaitCommEvent(eventMask, overlapped);
  });
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
  return OnComm("ReadFile", file, [&](CommFile& comm) {
    if ((buffer == nullptr && toRead > 0) || (read == nullptr && overlapped == nullptr)) {
      return InvalidParameter();
    }
    return comm.ReadFile(buffer, toRead, read, overlapped);
  });
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               LPOVERLAPPED overlapped) {
  return OnComm("WriteFile", file, [&](CommFile& comm) {
    if ((buffer == nullptr && toWrite > 0) || (written == nullptr && overlapped == nullptr)) {
      return InvalidParameter();
    }
    return comm.WriteFile(buffer, toWrite, written, overlapped);
  });
}

BOOL CancelIo(HANDLE file) {
  return OnComm("CancelIo", file,
                [&](CommFile& comm) { return comm.CancelIo(nullptr, GetCurrentThreadId()); });
}

BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
  return OnComm("CancelIoEx", file, [&](CommFile& comm) { return comm.CancelIo(overlapped, 0); });
}

BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status) {
  return OnComm("ClearCommError", file,
                [&](CommFile& comm) { return comm.ClearCommError(errors, status); });
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
  return OnComm("PurgeComm", file, [&](CommFile& comm) { return comm.PurgeComm(flags); });
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) {
  return OnComm("EscapeCommFunction", file,
                [&](CommFile& comm) { return comm.EscapeCommFunction(function); });
}

BOOL GetCommModemStatus(HANDLE file, LPDWORD modemStatus) {
  return OnComm("GetCommModemStatus", file, [&](CommFile& comm) {
    return modemStatus == nullptr ? InvalidParameter() : comm.GetCommModemStatus(*modemStatus);
  });
}

}  // namespace win
