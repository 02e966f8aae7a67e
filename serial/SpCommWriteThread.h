#pragma once
// TSpCommWriteThread: the write thread of an open port: callers queue bytes and return at once; the
// thread sends the queue with overlapped writes and reports a drained queue or a failed write on
// the main thread.

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Win32.h"
#include "serial/SpCommBuffer.h"
#include "serial/SpObjects.h"
#include "serial/SpThread.h"

class TSpCustomComm;

class TSpCommWriteThread : public TSpThread {
 public:
  // The thread, suspended, its queue sized by the owner's Buffers.WriteSize.
  static std::shared_ptr<TSpCommWriteThread> Create(TSpCustomComm& owner);

  // Caller's thread: queues the bytes; false when no room came within Buffers.WriteTimeout.
  bool Write(const void* data, std::int32_t count);
  // Main thread: ends the loop; never waits. Queued bytes are discarded.
  void Stop();

  std::int32_t Capacity() const { return FBuffer.Capacity(); }

 protected:
  void Execute() override;

 private:
  explicit TSpCommWriteThread(TSpCustomComm& owner);
  void WriteDone(std::int32_t sent, win::DWORD written);
  void Notify(win::DWORD mask);
  void PauseAfterFailure();
  void EndPendingWrite();

  TSpCommBuffer FBuffer;
  TSpWaitEvent FWriteEvent;
  TSpWaitEvent FCloseEvent;
  TSpWaitEvent FOverlappedEvent;
  TSpCustomComm* FOwner;
  win::HANDLE FPort;
  // Shared with the owner so that it outlives whichever of the two goes last.
  std::shared_ptr<TSpCriticalSection> FWriteLock;
  win::OVERLAPPED FOverlapped{};
  bool FPending = false;
  win::DWORD FPauseMs = 0;
  std::function<void()> FTxEmptyCall;
  std::function<void()> FErrorCall;
};
