#include "serial/SpCommWriteThread.h"

#include <algorithm>
#include <exception>

#include "platform/Additions.h"
#include "serial/SpComm.h"
#include "serial/SpUtils.h"

using namespace win;

std::shared_ptr<TSpCommWriteThread> TSpCommWriteThread::Create(TSpCustomComm& owner) {
  std::shared_ptr<TSpCommWriteThread> thread(new TSpCommWriteThread(owner));
  Start(thread);
  return thread;
}

TSpCommWriteThread::TSpCommWriteThread(TSpCustomComm& owner)
    : FBuffer(owner.Buffers().WriteSize()),
      FOwner(&owner),
      FPort(owner.Handle()),
      FWriteLock(owner.WriteLockShared()),
      FTxEmptyCall([this] { Notify(EV_TXEMPTY); }),
      FErrorCall([this] { Notify(EV_ERR); }) {}

bool TSpCommWriteThread::Write(const void* data, std::int32_t count) {
  if (count < 0 || (count > 0 && data == nullptr)) {
    return false;
  }
  const TSpBuffers& buffers = FOwner->Buffers();
  // The queue never grows past the block allocated, even if WriteSize changed since.
  const std::int64_t limit = std::min<std::int64_t>(buffers.WriteSize(), FBuffer.Capacity());
  if (FBuffer.Size() + std::int64_t{count} > limit) {
    TSpTimeout timeout;
    StartTimeout(timeout, static_cast<DWORD>(std::max<std::int32_t>(buffers.WriteTimeout(), 0)));
    for (;;) {
      const std::int64_t size = FBuffer.Size();
      if (TimeoutElapsed(timeout)) {
        return false;
      }
      // Once it had to wait, a write goes in only with one byte more free than it needs.
      if (size + count < limit) {
        break;
      }
      Sleep(1);
    }
  }
  TSpLockGuard guard(*FWriteLock);
  if (FBuffer.Size() + std::int64_t{count} > FBuffer.Capacity()) {
    return false;  // another writer took the room meanwhile
  }
  FBuffer.Append(data, count);
  FWriteEvent.SetEvent();
  return true;
}

void TSpCommWriteThread::Stop() {
  MarkStopped();
  FCloseEvent.SetEvent();
}

void TSpCommWriteThread::Execute() {
  const HANDLE idle[2] = {FCloseEvent.Handle(), FWriteEvent.Handle()};
  const HANDLE busy[2] = {FCloseEvent.Handle(), FOverlappedEvent.Handle()};
  while (!Terminated()) {
    const DWORD ready = WaitForMultipleObjects(2, idle, FALSE, INFINITE);
    if (ready == WAIT_OBJECT_0) {
      Terminate();
      break;
    }
    if (ready != WAIT_OBJECT_0 + 1) {
      PauseAfterFailure();
      continue;
    }
    std::int32_t count = 0;
    const std::uint8_t* data = nullptr;
    {
      TSpLockGuard guard(*FWriteLock);
      count = FBuffer.Size();
      data = FBuffer.Data();
    }
    FOverlapped = OVERLAPPED{};
    FOverlapped.hEvent = FOverlappedEvent.Handle();
    DWORD written = 0;
    bool failed = false;
    if (win::WriteFile(FPort, data, static_cast<DWORD>(count), &written, &FOverlapped)) {
      WriteDone(count, written);
    } else if (GetLastError() == ERROR_IO_PENDING) {
      FPending = true;
      const DWORD finished = WaitForMultipleObjects(2, busy, FALSE, INFINITE);
      if (finished == WAIT_OBJECT_0) {
        Terminate();
      } else if (finished == WAIT_OBJECT_0 + 1) {
        const BOOL ok = win::GetOverlappedResult(FPort, &FOverlapped, &written, TRUE);
        FPending = false;
        if (ok) {
          WriteDone(count, written);
        } else {
          failed = true;  // the bytes stay queued and go again on the next pass
        }
      }
    } else {
      Synchronize(FErrorCall);
      failed = true;
    }
    if (failed) {
      PauseAfterFailure();
    } else {
      FPauseMs = 0;
    }
  }
  EndPendingWrite();
}

void TSpCommWriteThread::WriteDone(std::int32_t sent, DWORD written) {
  const auto removed = static_cast<std::int32_t>(std::min<DWORD>(written, sent));
  bool empty = false;
  {
    TSpLockGuard guard(*FWriteLock);
    FBuffer.Remove(removed);
    empty = FBuffer.Size() == 0;
    if (empty) {
      FWriteEvent.ResetEvent();
    } else {
      FWriteEvent.SetEvent();
    }
  }
  if (empty) {
    Synchronize(FTxEmptyCall);
  }
}

void TSpCommWriteThread::Notify(DWORD mask) {
  // Runs on the main thread, where Stop also runs: once stopped, the owner may be gone.
  if (Stopped()) {
    return;
  }
  try {
    FOwner->HandleEvents(mask);
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
}

void TSpCommWriteThread::PauseAfterFailure() {
  FPauseMs = NextFailurePause(FPauseMs);
  if (FCloseEvent.WaitFor(FPauseMs) == wrSignaled) {
    Terminate();
  }
}

void TSpCommWriteThread::EndPendingWrite() {
  if (!FPending) {
    return;
  }
  // The queue and the record must outlive the write: cancel it and wait for its completion.
  win::CancelIoEx(FPort, &FOverlapped);
  DWORD written = 0;
  win::GetOverlappedResult(FPort, &FOverlapped, &written, TRUE);
  FPending = false;
}
