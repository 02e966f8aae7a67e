#include "serial/SpThread.h"

#include <exception>
#include <stdexcept>

#include "platform/Additions.h"
#include "serial/SpSynchronize.h"
#include "serial/SpUtils.h"

using namespace win;

namespace {

std::atomic<int> gLiveThreads{0};

}  // namespace

int SpSystemPriority(TThreadPriority priority) {
  static constexpr int kValues[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                    THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                    THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                    THREAD_PRIORITY_TIME_CRITICAL};
  return priority <= tpTimeCritical ? kValues[priority] : THREAD_PRIORITY_NORMAL;
}

TSpThread::TSpThread() {
  ++gLiveThreads;
}

TSpThread::~TSpThread() {
  win::CloseHandle(FThreadHandle);
  --gLiveThreads;
}

int TSpThread::LiveCount() {
  return gLiveThreads.load();
}

void TSpThread::Start(const std::shared_ptr<TSpThread>& self) {
  self->FBodyReference = self;
  self->FThreadHandle =
      CreateThread(nullptr, 0, &TSpThread::ThreadProc, self.get(), CREATE_SUSPENDED, nullptr);
  if (self->FThreadHandle == nullptr) {
    const DWORD error = GetLastError();
    self->FBodyReference.reset();
    throw std::runtime_error("Thread creation error: " + SysErrorMessage(error));
  }
}

void TSpThread::SetPriority(TThreadPriority priority) {
  FPriority = priority;
  SetThreadPriority(FThreadHandle, SpSystemPriority(priority));
}

void TSpThread::Resume() {
  if (!FResumed.exchange(true)) {
    ResumeThread(FThreadHandle);
  }
}

void TSpThread::MarkStopped() {
  FStopped.store(true);
  Resume();
}

void TSpThread::Synchronize(const std::function<void()>& routine) {
  SpSynchronize(routine);
}

DWORD TSpThread::ThreadProc(LPVOID parameter) {
  // The start of the thread orders this after Start() stored the reference.
  std::shared_ptr<TSpThread> self = std::move(static_cast<TSpThread*>(parameter)->FBodyReference);
  if (self->Stopped()) {
    self->Terminate();  // stopped before it ever ran: the body is skipped
  } else {
    try {
      self->Execute();
    } catch (...) {
      const std::exception_ptr error = std::current_exception();
      try {
        SpSynchronize([&error] { HandleApplicationException(error); });
      } catch (...) {
        // Nothing more can be reported from a thread that is ending.
      }
    }
  }
  return 0;
}
