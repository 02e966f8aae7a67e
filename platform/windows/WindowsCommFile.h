#pragma once
// WindowsCommFile: a serial device the system opened, behind a handle of the layer's table. Every
// call goes to the system with the real handle, which never leaves this object; overlapped
// operations are the system's, completed by the system in the caller's OVERLAPPED.

#include <shared_mutex>

#include "platform/DeviceWorld.h"

namespace win::windows {

class WindowsCommFile final : public CommFile {
 public:
  // Takes ownership of `system`, an opened handle of a serial device, opened for overlapped I/O
  // always. `overlapped` says whether the caller asked for it; without it reads, writes and event
  // waits block until done, as on a handle opened without FILE_FLAG_OVERLAPPED.
  WindowsCommFile(HANDLE system, bool overlapped);
  ~WindowsCommFile() override;
  WindowsCommFile(const WindowsCommFile&) = delete;
  WindowsCommFile& operator=(const WindowsCommFile&) = delete;

  // Cancels everything pending; every later call fails with ERROR_INVALID_HANDLE, and no call
  // that began before starts anything in the system after the cancel. The system completes the
  // cancelled operations soon after, not always before this returns. The real handle is closed
  // when the last call that still uses it has returned, so no other thread's call meets a closed
  // or reused handle.
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
  // Runs `call` with the real handle unless the file is closed, holding the gate shared so that
  // the close waits until it has returned. Never holds the gate across a blocking wait.
  template <class Call>
  BOOL Start(Call call);
  // An I/O call: started under the gate; on a handle the caller opened without
  // FILE_FLAG_OVERLAPPED, then waited for outside it.
  template <class Call>
  BOOL Transfer(DWORD* transferred, OVERLAPPED* overlapped, Call call);

  HANDLE system_;
  bool overlapped_;
  std::shared_mutex gate_;
  bool closed_ = false;
};

}  // namespace win::windows
