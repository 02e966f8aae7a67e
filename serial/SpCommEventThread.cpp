#include "serial/SpCommEventThread.h"

#include <exception>

#include "platform/Additions.h"
#include "serial/SpComm.h"
#include "serial/SpUtils.h"

using namespace win;

std::shared_ptr<TSpCommEventThread> TSpCommEventThread::Create(TSpCustomComm& owner) {
  std::shared_ptr<TSpCommEventThread> thread(new TSpCommEventThread(owner));
  Start(thread);
  return thread;
}

TSpCommEventThread::TSpCommEventThread(TSpCustomComm& owner)
    : FOwner(&owner), FPort(owner.Handle()), FDoEvent([this] { DoEvent(); }) {}

void TSpCommEventThread::Stop() {
  Terminate();
  MarkStopped();
  FWaitEvent.SetEvent();
}

void TSpCommEventThread::Execute() {
  FOverlapped = OVERLAPPED{};
  FOverlapped.hEvent = FWaitEvent.Handle();
  while (!Terminated()) {
    FEvtMask = 0;
    bool signalled = false;
    if (win::WaitCommEvent(FPort, &FEvtMask, &FOverlapped)) {
      signalled = true;
    } else if (GetLastError() == ERROR_IO_PENDING) {
      FPending = true;
      // Stop sets Terminated before it signals, so a signal that the call reset is not missed.
      if (!Terminated()) {
        signalled = FWaitEvent.WaitFor(INFINITE) == wrSignaled;
      }
      if (signalled && !Terminated()) {
        FPending = false;  // only the completion signals while not stopped
      }
    } else {
      PauseAfterFailure();
      continue;
    }
    FPauseMs = 0;
    if (signalled && !Terminated()) {
      Synchronize(FDoEvent);
      FWaitEvent.ResetEvent();
    }
  }
  EndPendingWait();
}

void TSpCommEventThread::PauseAfterFailure() {
  FPauseMs = NextFailurePause(FPauseMs);
  if (FWaitEvent.WaitFor(FPauseMs) == wrSignaled && !Terminated()) {
    FWaitEvent.ResetEvent();
  }
}

void TSpCommEventThread::EndPendingWait() {
  if (!FPending) {
    return;
  }
  // The mask and the record must outlive the wait: cancel it and wait for its completion (a
  // closed handle has ended it already).
  FWaitEvent.ResetEvent();
  win::CancelIoEx(FPort, &FOverlapped);
  DWORD transferred = 0;
  win::GetOverlappedResult(FPort, &FOverlapped, &transferred, TRUE);
  FPending = false;
}

void TSpCommEventThread::DoEvent() {
  // Runs on the main thread, where Stop also runs: once stopped, the owner may be gone.
  if (Stopped()) {
    return;
  }
  try {
    FOwner->NotifyDisplay();
    if ((FEvtMask & EV_RXCHAR) != 0 && !Stopped()) {
      FOwner->HandleRxChar();
      FEvtMask &= ~EV_RXCHAR;
    }
    if (FEvtMask != 0 && !Stopped()) {
      FOwner->HandleEvents(FEvtMask);
    }
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
}
