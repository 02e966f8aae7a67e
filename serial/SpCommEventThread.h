#pragma once
// TSpCommEventThread: the event thread of an open port: waits in the driver for the monitored
// events and hands each reported mask to the component on the main thread.

#include <functional>
#include <memory>

#include "platform/Win32.h"
#include "serial/SpObjects.h"
#include "serial/SpThread.h"

class TSpCustomComm;

class TSpCommEventThread : public TSpThread {
 public:
  // The thread, suspended. Raises std::runtime_error("Thread creation error: ...") on failure.
  static std::shared_ptr<TSpCommEventThread> Create(TSpCustomComm& owner);

  // Main thread: ends the wait and the loop; never waits for the thread. The owner is not
  // touched afterwards, not even by a dispatch that is already queued.
  void Stop();

 protected:
  void Execute() override;

 private:
  explicit TSpCommEventThread(TSpCustomComm& owner);
  void DoEvent();
  void PauseAfterFailure();
  void EndPendingWait();

  win::DWORD FEvtMask = 0;
  TSpWaitEvent FWaitEvent;
  TSpCustomComm* FOwner;
  // The port handle, copied at creation: the thread never asks the owner for it.
  win::HANDLE FPort;
  // Lives in the object, not on a stack, so a wait still pending at the end stays valid.
  win::OVERLAPPED FOverlapped{};
  bool FPending = false;
  win::DWORD FPauseMs = 0;
  // Built once so that a dispatch allocates nothing.
  std::function<void()> FDoEvent;
};
