// Threads: suspended creation, exit codes, priorities, thread ids, exit hooks, last error,
// recursive critical sections.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/KernelObject.h"

using namespace win;

namespace {

struct Body {
  std::atomic<bool> ran{false};
  std::atomic<DWORD> seenId{0};
  HANDLE release = nullptr;  // when set, the body waits for it before returning
};

DWORD RunBody(LPVOID parameter) {
  auto* body = static_cast<Body*>(parameter);
  body->ran = true;
  body->seenId = GetCurrentThreadId();
  if (body->release != nullptr) {
    WaitForSingleObject(body->release, INFINITE);
  }
  return 42;
}

// Records the ids that the exit hooks see, for as long as it lives.
class HookRecorder {
 public:
  HookRecorder()
      : id_(AddThreadExitHook([this](DWORD threadId) {
          std::lock_guard lock(mutex_);
          ids_.push_back(threadId);
        })) {}
  ~HookRecorder() { RemoveThreadExitHook(id_); }
  HookRecorder(const HookRecorder&) = delete;
  HookRecorder& operator=(const HookRecorder&) = delete;

  int Count(DWORD threadId) {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(ids_.begin(), ids_.end(), threadId));
  }

 private:
  std::mutex mutex_;
  std::vector<DWORD> ids_;
  int id_;
};

TEST(BasicsThreads, SuspendedThreadRunsOnlyAfterResume) {
  Body body;
  DWORD threadId = 0;
  HANDLE thread = CreateThread(nullptr, 0, RunBody, &body, CREATE_SUSPENDED, &threadId);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(threadId, 0u);
  Sleep(50);
  EXPECT_FALSE(body.ran);
  DWORD exitCode = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &exitCode));
  EXPECT_EQ(exitCode, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);

  EXPECT_EQ(ResumeThread(thread), 1u);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(body.ran);
  EXPECT_EQ(body.seenId, threadId);
  EXPECT_NE(threadId, GetCurrentThreadId());
  ASSERT_TRUE(GetExitCodeThread(thread, &exitCode));
  EXPECT_EQ(exitCode, 42u);
  EXPECT_EQ(ResumeThread(thread), 0u);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // stays signalled
  win::CloseHandle(thread);
}

TEST(BasicsThreads, ClosingTheHandleDoesNotEndTheThread) {
  HANDLE release = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  auto body = std::make_shared<Body>();
  body->release = release;
  HANDLE thread = CreateThread(nullptr, 0, RunBody, body.get(), 0, nullptr);
  ASSERT_NE(thread, nullptr);
  HookRecorder hooks;
  while (!body->ran) {
    Sleep(1);
  }
  win::CloseHandle(thread);
  const DWORD id = body->seenId;
  SetEvent(release);
  for (int i = 0; i < 10000 && hooks.Count(id) == 0; ++i) {
    Sleep(1);
  }
  EXPECT_EQ(hooks.Count(id), 1);
  win::CloseHandle(release);
}

TEST(BasicsThreads, PrioritiesAreKeptAndValidated) {
  Body body;
  HANDLE thread = CreateThread(nullptr, 0, RunBody, &body, CREATE_SUSPENDED, nullptr);
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_NORMAL);
  EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL));
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_TIME_CRITICAL);
  EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_IDLE));
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_IDLE);
  SetLastError(0);
  EXPECT_FALSE(SetThreadPriority(thread, 7));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_IDLE);
  ResumeThread(thread);
  WaitForSingleObject(thread, 10000);
  win::CloseHandle(thread);
}

TEST(BasicsThreads, ThreadCallsFailOnHandlesThatAreNoThreads) {
  HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  DWORD exitCode = 0;
  for (HANDLE bad : {HANDLE{nullptr}, event}) {
    SetLastError(0);
    EXPECT_EQ(ResumeThread(bad), 0xFFFFFFFFu);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetThreadPriority(bad, THREAD_PRIORITY_NORMAL));
    EXPECT_EQ(GetThreadPriority(bad), THREAD_PRIORITY_ERROR_RETURN);
    SetLastError(0);
    EXPECT_FALSE(GetExitCodeThread(bad, &exitCode));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  win::CloseHandle(event);
}

TEST(BasicsThreads, ExitHooksRunOnceBeforeTheHandleIsSignalled) {
  HookRecorder hooks;
  Body body;
  DWORD threadId = 0;
  HANDLE thread = CreateThread(nullptr, 0, RunBody, &body, 0, &threadId);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(hooks.Count(threadId), 1);
  win::CloseHandle(thread);
  Sleep(20);  // the thread's own end must not run them a second time
  EXPECT_EQ(hooks.Count(threadId), 1);
}

TEST(BasicsThreads, ExitHooksRunForOtherThreadsThatUsedTheirId) {
  HookRecorder hooks;
  DWORD used = 0;
  std::thread([&] { used = GetCurrentThreadId(); }).join();
  ASSERT_NE(used, 0u);
  EXPECT_EQ(hooks.Count(used), 1);

  DWORD issued = 0;
  std::thread([&] {
    OVERLAPPED overlapped{};
    StartOverlapped(&overlapped);
    CompleteOverlapped(&overlapped, 0, 0);
    issued = GetCurrentThreadId();
  }).join();
  EXPECT_EQ(hooks.Count(issued), 1);
  EXPECT_NE(issued, used);
}

TEST(BasicsThreads, RemovedHooksAreNotCalled) {
  std::atomic<int> calls{0};
  const int id = AddThreadExitHook([&](DWORD) { ++calls; });
  RemoveThreadExitHook(id);
  std::thread([] { GetCurrentThreadId(); }).join();
  EXPECT_EQ(calls, 0);
}

// Set and read while the other thread runs: starting and ending a thread may set the last error.
TEST(BasicsThreads, LastErrorBelongsToEachThread) {
  std::atomic<DWORD> inThread{0xFFFFFFFFu};
  std::atomic<bool> go{false};
  std::atomic<bool> leave{false};
  std::thread other([&] {
    while (!go) {
    }
    const DWORD first = GetLastError();
    SetLastError(ERROR_INVALID_PARAMETER);
    inThread = first;
    while (!leave) {
    }
  });
  SetLastError(ERROR_ACCESS_DENIED);
  go = true;
  while (inThread == 0xFFFFFFFFu) {
  }
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  leave = true;
  other.join();
  EXPECT_EQ(inThread, ERROR_SUCCESS);
}

TEST(BasicsThreads, CriticalSectionIsRecursiveAndExcludesOtherThreads) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EnterCriticalSection(&section);
  EXPECT_TRUE(TryEnterCriticalSection(&section));
  auto tryFromOtherThread = [&] {
    BOOL entered = FALSE;
    std::thread([&] {
      entered = TryEnterCriticalSection(&section);
      if (entered) {
        LeaveCriticalSection(&section);
      }
    }).join();
    return entered;
  };
  LeaveCriticalSection(&section);
  LeaveCriticalSection(&section);
  EXPECT_FALSE(tryFromOtherThread());  // still held once
  LeaveCriticalSection(&section);
  EXPECT_TRUE(tryFromOtherThread());
  DeleteCriticalSection(&section);
}

}  // namespace
