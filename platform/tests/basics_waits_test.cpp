// Events and waits: reset modes, waits on several handles, time-outs, wake-ups across threads.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "platform/KernelObject.h"

using namespace win;

namespace {

struct EventHandle {
  HANDLE handle;
  explicit EventHandle(bool manualReset, bool initial = false)
      : handle(CreateEvent(nullptr, manualReset ? TRUE : FALSE, initial ? TRUE : FALSE, nullptr)) {}
  ~EventHandle() { win::CloseHandle(handle); }
  EventHandle(const EventHandle&) = delete;
  EventHandle& operator=(const EventHandle&) = delete;
};

// Polls `done` for up to ten seconds: the condition is expected to hold long before that.
template <class Predicate>
bool Eventually(Predicate done) {
  for (int i = 0; i < 10000 && !done(); ++i) {
    Sleep(1);
  }
  return done();
}

TEST(BasicsWaits, ManualResetStaysSignalledUntilReset) {
  EventHandle event(true);
  EXPECT_EQ(WaitForSingleObject(event.handle, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(SetEvent(event.handle));
  EXPECT_EQ(WaitForSingleObject(event.handle, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event.handle, INFINITE), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(event.handle));
  EXPECT_EQ(WaitForSingleObject(event.handle, 0), WAIT_TIMEOUT);
}

TEST(BasicsWaits, AutoResetIsConsumedByOneWait) {
  EventHandle event(false, true);
  EXPECT_EQ(WaitForSingleObject(event.handle, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event.handle, 0), WAIT_TIMEOUT);
  SetEvent(event.handle);
  SetEvent(event.handle);  // setting twice still lets only one wait through
  EXPECT_EQ(WaitForSingleObject(event.handle, 10), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event.handle, 10), WAIT_TIMEOUT);
}

TEST(BasicsWaits, LowestSignalledIndexWinsAndOnlyItIsConsumed) {
  EventHandle a(false), b(false), c(false);
  const HANDLE handles[] = {a.handle, b.handle, c.handle};
  EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_TIMEOUT);
  SetEvent(c.handle);
  SetEvent(b.handle);
  EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_TIMEOUT);
}

TEST(BasicsWaits, WaitForAllTakesEveryObjectOnlyWhenAllAreSignalled) {
  EventHandle a(false), b(false);
  const HANDLE handles[] = {a.handle, b.handle};
  SetEvent(a.handle);
  EXPECT_EQ(WaitForMultipleObjects(2, handles, TRUE, 10), WAIT_TIMEOUT);
  std::thread setter([&] {
    Sleep(20);
    SetEvent(b.handle);
  });
  EXPECT_EQ(WaitForMultipleObjects(2, handles, TRUE, INFINITE), WAIT_OBJECT_0);
  setter.join();
  EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, 0), WAIT_TIMEOUT);
}

TEST(BasicsWaits, TimeOutWaitsAtLeastTheGivenTime) {
  EventHandle a(true), b(false);
  const HANDLE handles[] = {a.handle, b.handle};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, 40), WAIT_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
}

TEST(BasicsWaits, SetEventOnAnotherThreadWakesTheWaiter) {
  EventHandle a(false), b(true);
  const HANDLE handles[] = {a.handle, b.handle};
  std::atomic<DWORD> result{WAIT_FAILED};
  std::thread waiter([&] { result = WaitForMultipleObjects(2, handles, FALSE, INFINITE); });
  Sleep(20);
  SetEvent(b.handle);
  waiter.join();
  EXPECT_EQ(result, WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForSingleObject(b.handle, 0), WAIT_OBJECT_0);  // manual reset: still set
}

TEST(BasicsWaits, EachSetOfAnAutoResetEventReleasesOneOfTwoWaiters) {
  EventHandle event(false);
  std::atomic<int> woken{0};
  auto wait = [&] {
    if (WaitForSingleObject(event.handle, INFINITE) == WAIT_OBJECT_0) {
      ++woken;
    }
  };
  std::thread first(wait), second(wait);
  Sleep(20);
  SetEvent(event.handle);
  ASSERT_TRUE(Eventually([&] { return woken == 1; }));
  Sleep(50);
  EXPECT_EQ(woken, 1);
  SetEvent(event.handle);
  first.join();
  second.join();
  EXPECT_EQ(woken, 2);
  EXPECT_EQ(WaitForSingleObject(event.handle, 0), WAIT_TIMEOUT);
}

TEST(BasicsWaits, ClosingTheHandleDoesNotEndAWaitInProgress) {
  HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  std::atomic<DWORD> result{0};
  std::thread waiter([&] { result = WaitForSingleObject(event, 100); });
  Sleep(20);
  EXPECT_TRUE(win::CloseHandle(event));
  waiter.join();
  EXPECT_EQ(result, WAIT_TIMEOUT);
}

TEST(BasicsWaits, BadHandlesAndArgumentsFail) {
  EventHandle event(true);
  // A closed handle of this layer: the system reuses the values of its own closed handles.
  HANDLE closed = AllocateHandle(std::make_shared<KernelObject>());
  win::CloseHandle(closed);
  for (HANDLE bad : {HANDLE{nullptr}, closed}) {
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    const HANDLE pair[] = {event.handle, bad};
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(SetEvent(bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(ResetEvent(bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(win::CloseHandle(bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  SetLastError(0);
  EXPECT_EQ(WaitForMultipleObjects(0, &event.handle, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// INVALID_HANDLE_VALUE is the current process: it never ends while waited for, is no event, and
// closing it does nothing.
TEST(BasicsWaits, InvalidHandleValueIsTheCurrentProcess) {
  SetLastError(0);
  EXPECT_EQ(WaitForSingleObject(INVALID_HANDLE_VALUE, 10), WAIT_TIMEOUT);
  EXPECT_FALSE(SetEvent(INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(win::CloseHandle(INVALID_HANDLE_VALUE));
}

TEST(BasicsWaits, TableHandleValuesAreNeverReusedNullOrInvalid) {
  std::set<HANDLE> seen;
  for (int i = 0; i < 200; ++i) {
    HANDLE handle = AllocateHandle(std::make_shared<KernelObject>());
    ASSERT_NE(handle, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(seen.insert(handle).second);
    EXPECT_TRUE(win::CloseHandle(handle));
  }
}

}  // namespace
