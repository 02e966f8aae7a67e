#include "platform/windows/WindowsCommFile.h"

#include <mutex>

#include "platform/CommDriverRules.h"
#include "platform/OverlappedStatus.h"

namespace win::windows {

namespace {

BOOL Refuse() {
  ::SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

// The system's result of an overlapped operation. A success status other than 0 (a read that its
// time-outs ended may be STATUS_TIMEOUT) is success, as Windows' own GetOverlappedResult reads it;
// Wine's calls it a failure. The completion word is read as the layer reads every one.
BOOL SystemResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) {
  if (::GetOverlappedResult(file, overlapped, transferred, wait)) {
    return TRUE;
  }
  return detail::DecodeOverlappedStatus(overlapped->Internal) == NO_ERROR ? TRUE : FALSE;
}

}  // namespace

WindowsCommFile::WindowsCommFile(HANDLE system, bool overlapped)
    : system_(system), overlapped_(overlapped) {}

WindowsCommFile::~WindowsCommFile() {
  ::CloseHandle(system_);
}

void WindowsCommFile::OnClose() {
  // Exclusive: a call that passed its check has started, or will see the file closed.
  std::lock_guard lock(gate_);
  closed_ = true;
  ::CancelIoEx(system_, nullptr);
}

template <class Call>
BOOL WindowsCommFile::Start(Call call) {
  std::shared_lock lock(gate_);
  if (closed_) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return call(system_);
}

template <class Call>
BOOL WindowsCommFile::Transfer(DWORD* transferred, OVERLAPPED* overlapped, Call call) {
  if (overlapped_) {
    return Start([&](HANDLE file) { return call(file, transferred, overlapped); });
  }
  // The real handle is overlapped: a blocking call is an overlapped one and a wait for it, which
  // the close can cancel.
  OVERLAPPED own{};
  OVERLAPPED* record = overlapped != nullptr ? overlapped : &own;
  HANDLE event = nullptr;
  if (record == &own) {
    event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
      return FALSE;
    }
    own.hEvent = event;
  }
  DWORD count = 0;
  BOOL result = Start([&](HANDLE file) { return call(file, &count, record); });
  if (result == FALSE && ::GetLastError() == ERROR_IO_PENDING) {
    result = SystemResult(system_, record, &count, TRUE);
  }
  const DWORD error = ::GetLastError();
  if (event != nullptr) {
    ::CloseHandle(event);
  }
  if (transferred != nullptr) {
    *transferred = count;
  }
  ::SetLastError(error);
  return result;
}

BOOL WindowsCommFile::GetCommState(DCB& dcb) {
  return Start([&](HANDLE file) { return ::GetCommState(file, &dcb); });
}

// The layer's rules first: some drivers (Wine's among them) take framing the line cannot carry, or
// equal XON and XOFF characters.
BOOL WindowsCommFile::SetCommState(const DCB& dcb) {
  DCB copy = dcb;
  return Start([&](HANDLE file) {
    return rules::ValidControlBlock(copy) ? ::SetCommState(file, &copy) : Refuse();
  });
}

BOOL WindowsCommFile::SetupComm(DWORD inQueue, DWORD outQueue) {
  return Start([&](HANDLE file) { return ::SetupComm(file, inQueue, outQueue); });
}

BOOL WindowsCommFile::GetCommTimeouts(COMMTIMEOUTS& timeouts) {
  return Start([&](HANDLE file) { return ::GetCommTimeouts(file, &timeouts); });
}

// Likewise: Wine takes all three read limits at MAXDWORD.
BOOL WindowsCommFile::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
  COMMTIMEOUTS copy = timeouts;
  return Start([&](HANDLE file) {
    return rules::ValidTimeouts(copy) ? ::SetCommTimeouts(file, &copy) : Refuse();
  });
}

BOOL WindowsCommFile::GetCommMask(DWORD& mask) {
  return Start([&](HANDLE file) { return ::GetCommMask(file, &mask); });
}

BOOL WindowsCommFile::SetCommMask(DWORD mask) {
  return Start([&](HANDLE file) { return ::SetCommMask(file, mask); });
}

BOOL WindowsCommFile::WaitCommEvent(DWORD* mask, OVERLAPPED* overlapped) {
  return Transfer(nullptr, overlapped, [&](HANDLE file, DWORD*, OVERLAPPED* record) {
    return ::WaitCommEvent(file, mask, record);
  });
}

BOOL WindowsCommFile::ReadFile(void* buffer, DWORD toRead, DWORD* read, OVERLAPPED* overlapped) {
  return Transfer(read, overlapped, [&](HANDLE file, DWORD* count, OVERLAPPED* record) {
    return ::ReadFile(file, buffer, toRead, count, record);
  });
}

BOOL WindowsCommFile::WriteFile(const void* buffer, DWORD toWrite, DWORD* written,
                                OVERLAPPED* overlapped) {
  return Transfer(written, overlapped, [&](HANDLE file, DWORD* count, OVERLAPPED* record) {
    return ::WriteFile(file, buffer, toWrite, count, record);
  });
}

BOOL WindowsCommFile::CancelIo(OVERLAPPED* overlapped, DWORD threadId) {
  // The system cancels the calling thread's operations, one operation, or all of the file's.
  return Start([&](HANDLE file) {
    if (overlapped == nullptr && threadId == ::GetCurrentThreadId()) {
      return ::CancelIo(file);
    }
    return ::CancelIoEx(file, overlapped);
  });
}

BOOL WindowsCommFile::ClearCommError(DWORD* errors, COMSTAT* status) {
  return Start([&](HANDLE file) { return ::ClearCommError(file, errors, status); });
}

BOOL WindowsCommFile::PurgeComm(DWORD flags) {
  return Start([&](HANDLE file) { return ::PurgeComm(file, flags); });
}

BOOL WindowsCommFile::EscapeCommFunction(DWORD function) {
  return Start([&](HANDLE file) { return ::EscapeCommFunction(file, function); });
}

BOOL WindowsCommFile::GetCommModemStatus(DWORD& status) {
  return Start([&](HANDLE file) { return ::GetCommModemStatus(file, &status); });
}

BOOL WindowsCommFile::GetOverlappedResult(OVERLAPPED& overlapped, DWORD* transferred, BOOL wait) {
  // The system keeps its own status words in the record; only it can read them. This starts
  // nothing, so it may wait, and it answers after a close as well.
  DWORD count = 0;
  const BOOL result = SystemResult(system_, &overlapped, &count, wait);
  if (transferred != nullptr) {
    *transferred = count;
  }
  return result;
}

}  // namespace win::windows
