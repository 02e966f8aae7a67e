#include "platform/windows/WindowsCommFile.h"

namespace win::windows {

WindowsCommFile::WindowsCommFile(HANDLE system) : system_(system) {}

WindowsCommFile::~WindowsCommFile() {
  ::CloseHandle(system_);
}

void WindowsCommFile::OnClose() {
  ::CancelIoEx(system_, nullptr);
}

BOOL WindowsCommFile::GetCommState(DCB& dcb) {
  return ::GetCommState(system_, &dcb);
}

BOOL WindowsCommFile::SetCommState(const DCB& dcb) {
  DCB copy = dcb;
  return ::SetCommState(system_, &copy);
}

BOOL WindowsCommFile::SetupComm(DWORD inQueue, DWORD outQueue) {
  return ::SetupComm(system_, inQueue, outQueue);
}

BOOL WindowsCommFile::GetCommTimeouts(COMMTIMEOUTS& timeouts) {
  return ::GetCommTimeouts(system_, &timeouts);
}

BOOL WindowsCommFile::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
  COMMTIMEOUTS copy = timeouts;
  return ::SetCommTimeouts(system_, &copy);
}

BOOL WindowsCommFile::GetCommMask(DWORD& mask) {
  return ::GetCommMask(system_, &mask);
}

BOOL WindowsCommFile::SetCommMask(DWORD mask) {
  return ::SetCommMask(system_, mask);
}

BOOL WindowsCommFile::WaitCommEvent(DWORD* mask, OVERLAPPED* overlapped) {
  return ::WaitCommEvent(system_, mask, overlapped);
}

BOOL WindowsCommFile::ReadFile(void* buffer, DWORD toRead, DWORD* read, OVERLAPPED* overlapped) {
  return ::ReadFile(system_, buffer, toRead, read, overlapped);
}

BOOL WindowsCommFile::WriteFile(const void* buffer, DWORD toWrite, DWORD* written,
                                OVERLAPPED* overlapped) {
  return ::WriteFile(system_, buffer, toWrite, written, overlapped);
}

BOOL WindowsCommFile::CancelIo(OVERLAPPED* overlapped, DWORD threadId) {
  // The system cancels the calling thread's operations, one operation, or all of the file's.
  if (overlapped == nullptr && threadId == ::GetCurrentThreadId()) {
    return ::CancelIo(system_);
  }
  return ::CancelIoEx(system_, overlapped);
}

BOOL WindowsCommFile::ClearCommError(DWORD* errors, COMSTAT* status) {
  return ::ClearCommError(system_, errors, status);
}

BOOL WindowsCommFile::PurgeComm(DWORD flags) {
  return ::PurgeComm(system_, flags);
}

BOOL WindowsCommFile::EscapeCommFunction(DWORD function) {
  return ::EscapeCommFunction(system_, function);
}

BOOL WindowsCommFile::GetCommModemStatus(DWORD& status) {
  return ::GetCommModemStatus(system_, &status);
}

BOOL WindowsCommFile::GetOverlappedResult(OVERLAPPED& overlapped, DWORD* transferred, BOOL wait) {
  // The system keeps its own status words in the record; only it can read them.
  DWORD count = 0;
  const BOOL result = ::GetOverlappedResult(system_, &overlapped, &count, wait);
  if (transferred != nullptr) {
    *transferred = count;
  }
  return result;
}

}  // namespace win::windows
