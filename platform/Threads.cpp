// Threads with Win32 semantics over detached std::threads. The thread object is shared between
// its handle and the running body; whichever lets go last frees it.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/Additions.h"
#include "platform/ThreadExitHooks.h"
#include "platform/Waitable.h"

namespace win {

namespace {

std::atomic<DWORD> nextThreadId{1};

// Created on a thread's first use of its id. Its destructor runs the thread-exit hooks for
// threads that this layer did not start (std::thread, the main thread at exit).
struct CurrentThread {
  DWORD id = 0;
  bool hooksRun = false;

  CurrentThread() = default;
  CurrentThread(const CurrentThread&) = delete;
  CurrentThread& operator=(const CurrentThread&) = delete;
  ~CurrentThread() {
    if (id != 0 && !hooksRun) {
      detail::RunThreadExitHooks(id);
    }
  }
};

CurrentThread& Current() {
  thread_local CurrentThread current;
  return current;
}

class Thread final : public detail::Waitable {
 public:
  Thread(LPTHREAD_START_ROUTINE start, LPVOID parameter, bool suspended)
      : Waitable(true, false),
        id_(nextThreadId.fetch_add(1)),
        start_(start),
        parameter_(parameter),
        suspendCount_(suspended ? 1 : 0) {}

  DWORD Id() const { return id_; }

  void Run() {
    {
      std::unique_lock lock(mutex_);
      resumed_.wait(lock, [this] { return suspendCount_ == 0; });
    }
    auto& current = Current();
    current.id = id_;
    DWORD exitCode = 0;
    try {
      exitCode = start_(parameter_);
    } catch (...) {
      HandleApplicationException(std::current_exception());
    }
    detail::RunThreadExitHooks(id_);
    current.hooksRun = true;
    exitCode_.store(exitCode, std::memory_order_release);
    Signal();
  }

  DWORD Resume() {
    std::lock_guard lock(mutex_);
    const DWORD previous = suspendCount_;
    if (suspendCount_ > 0 && --suspendCount_ == 0) {
      resumed_.notify_all();
    }
    return previous;
  }

  DWORD ExitCode() const { return exitCode_.load(std::memory_order_acquire); }
  int Priority() const { return priority_.load(); }
  void SetPriority(int priority) { priority_.store(priority); }

 private:
  const DWORD id_;
  const LPTHREAD_START_ROUTINE start_;
  const LPVOID parameter_;
  std::mutex mutex_;
  std::condition_variable resumed_;
  DWORD suspendCount_;
  std::atomic<DWORD> exitCode_{STILL_ACTIVE};
  std::atomic<int> priority_{THREAD_PRIORITY_NORMAL};
};

std::shared_ptr<Thread> FindThread(HANDLE handle) {
  auto thread = std::dynamic_pointer_cast<Thread>(LookupHandle(handle));
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
  }
  return thread;
}

bool ValidPriority(int priority) {
  switch (priority) {
    case THREAD_PRIORITY_IDLE:
    case THREAD_PRIORITY_LOWEST:
    case THREAD_PRIORITY_BELOW_NORMAL:
    case THREAD_PRIORITY_NORMAL:
    case THREAD_PRIORITY_ABOVE_NORMAL:
    case THREAD_PRIORITY_HIGHEST:
    case THREAD_PRIORITY_TIME_CRITICAL:
      return true;
    default:
      return false;
  }
}

}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId) {
  if (start == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto thread = std::make_shared<Thread>(start, parameter, (creationFlags & CREATE_SUSPENDED) != 0);
  HANDLE handle = AllocateHandle(thread);
  try {
    std::thread([thread] { thread->Run(); }).detach();
  } catch (const std::system_error&) {
    CloseHandle(handle);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId != nullptr) {
    *threadId = thread->Id();
  }
  return handle;
}

DWORD ResumeThread(HANDLE thread) {
  auto object = FindThread(thread);
  return object ? object->Resume() : 0xFFFFFFFFu;
}

// Priorities are kept and reported back; ordinary users may not raise a thread's scheduling
// priority here, so the value is not applied to the system thread.
BOOL SetThreadPriority(HANDLE thread, int priority) {
  auto object = FindThread(thread);
  if (!object) {
    return FALSE;
  }
  if (!ValidPriority(priority)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  object->SetPriority(priority);
  return TRUE;
}

int GetThreadPriority(HANDLE thread) {
  auto object = FindThread(thread);
  return object ? object->Priority() : THREAD_PRIORITY_ERROR_RETURN;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
  auto object = FindThread(thread);
  if (!object) {
    return FALSE;
  }
  if (exitCode == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *exitCode = object->ExitCode();
  return TRUE;
}

void detail::WatchThreadEnd() {
  GetCurrentThreadId();  // gives the thread its id, and with it the hooks at its end
}

DWORD GetCurrentThreadId() {
  auto& current = Current();
  if (current.id == 0) {
    current.id = nextThreadId.fetch_add(1);
  }
  return current.id;
}

}  // namespace win
