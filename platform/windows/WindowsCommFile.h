#pragma once
// WindowsCommFile: a serial device the system opened, behind a handle of the layer's table. Every
// call goes to the system with the real handle, which never leaves this object; overlapped
// operations are the system's, completed by the system in the caller's OVERLAPPED.

#include "platform/DeviceWorld.h"

namespace win::windows {

class WindowsCommFile final : public CommFile {
 public:
  // Takes ownership of `system`, an opened handle of a serial device.
  explicit WindowsCommFile(HANDLE system);
  ~WindowsCommFile() override;
  WindowsCommFile(const WindowsCommFile&) = delete;
  WindowsCommFile& operator=(const WindowsCommFile&) = delete;

  // Ends what is pending at once. The real handle is closed when the last call that still uses
  // it has returned, so no other thread's call meets a closed or reused handle.
  void OnClose() override;

  BOOL GetCommState(DCB& dcb) override;
  BOOL SetCommState(const DCB& dcb) override;
  BOOL SetupComm(DWORD inQueue, DWORD outQueue) override;
  BOOL GetCommTimeouts(COMMTIMEOUTS& timeouts) override;
  BOOL SetCommTimeouts(const COMMTIMEOUTS& timeouts) override;
  BOOL GetCommMask(DWORD& mask) override;
  BOOL SetCommMask(DWORD mask) override;
  BOOL WaitCommEvent(DWORD* mask, OVERLAPPED* overlapped) override;
  BOOL ReadFile(void* buffer, DWORD toRead, DWORD* read, OVERLAPPED* overlapped) override;
  BOOL WriteFile(const void* buffer, DWORD toWrite, DWORD* written,
                 OVERLAPPED* overlapped) override;
  BOOL CancelIo(OVERLAPPED* overlapped, DWORD threadId) override;
  BOOL ClearCommError(DWORD* errors, COMSTAT* status) override;
  BOOL PurgeComm(DWORD flags) override;
  BOOL EscapeCommFunction(DWORD function) override;
  BOOL GetCommModemStatus(DWORD& status) override;
  BOOL GetOverlappedResult(OVERLAPPED& overlapped, DWORD* transferred, BOOL wait) override;

 private:
  HANDLE system_;
};

}  // namespace win::windows
