#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "serial/SpObjects.h"
#include "serial/SpSynchronize.h"
#include "serial/tests/TestPump.h"

using namespace win;

TEST(SyncObjects, WaitForMapsSignalledTimeoutAndFailure) {
  TSpWaitEvent event;
  ASSERT_NE(event.Handle(), nullptr);
  EXPECT_EQ(event.WaitFor(0), wrTimeout);
  EXPECT_TRUE(event.SetEvent());
  // Manual reset: a satisfied wait leaves it signalled.
  EXPECT_EQ(event.WaitFor(0), wrSignaled);
  EXPECT_EQ(event.WaitFor(0), wrSignaled);
  EXPECT_TRUE(event.ResetEvent());
  EXPECT_EQ(event.WaitFor(0), wrTimeout);
  EXPECT_EQ(event.LastError(), 0u);

  TSpEvent withoutHandle;
  EXPECT_EQ(withoutHandle.WaitFor(0), wrError);
  EXPECT_EQ(withoutHandle.LastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(withoutHandle.SetEvent());
}

TEST(SyncObjects, EventWakesAnotherThread) {
  TSpWaitEvent event;
  std::atomic<int> result{-1};
  std::thread waiter([&] { result = event.WaitFor(INFINITE); });
  event.SetEvent();
  waiter.join();
  EXPECT_EQ(result.load(), wrSignaled);
}

TEST(SyncObjects, CriticalSectionIsRecursiveAndExcludesOthers) {
  TSpCriticalSection section;
  int shared = 0;
  section.Enter();
  section.Enter();
  std::atomic<bool> entered{false};
  std::thread other([&] {
    TSpLockGuard guard(section);
    entered = true;
    shared = 2;
  });
  Sleep(20);
  EXPECT_FALSE(entered.load());
  shared = 1;
  section.Leave();
  EXPECT_FALSE(entered.load()) << "still held once";
  section.Leave();
  other.join();
  EXPECT_EQ(shared, 2);
}

class MainThreadCall : public ::testing::Test {
 protected:
  void SetUp() override { testpump::SetUpMainThread(); }
};

TEST_F(MainThreadCall, RunsAtOnceOnTheMainThread) {
  EXPECT_TRUE(SpIsMainThread());
  bool ran = false;
  SpSynchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_FALSE(SpHasQueuedCalls());
  EXPECT_FALSE(SpDrainMainThreadCalls());
}

TEST_F(MainThreadCall, CallFromAThreadRunsOnTheMainThreadWhileTheCallerWaits) {
  const std::thread::id mainId = std::this_thread::get_id();
  std::thread::id ranOn;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    EXPECT_FALSE(SpIsMainThread());
    EXPECT_FALSE(SpDrainMainThreadCalls());
    SpSynchronize([&] { ranOn = std::this_thread::get_id(); });
    returned = true;
  });
  // Not draining: the call stays queued and the caller keeps waiting.
  for (int i = 0; i < 5000 && !SpHasQueuedCalls(); ++i) {
    Sleep(1);
  }
  ASSERT_TRUE(SpHasQueuedCalls());
  Sleep(20);
  EXPECT_FALSE(returned.load()) << "the caller must wait until the main thread ran the routine";
  ASSERT_TRUE(PumpUntil([&] { return returned.load(); }, 5000));
  worker.join();
  EXPECT_EQ(ranOn, mainId);
  EXPECT_FALSE(SpHasQueuedCalls());
}

TEST_F(MainThreadCall, ExceptionIsRaisedAgainOnTheCaller) {
  std::atomic<bool> done{false};
  std::string caught;
  std::thread worker([&] {
    try {
      SpSynchronize([] { throw std::runtime_error("handler failed"); });
    } catch (const std::runtime_error& error) {
      caught = error.what();
    }
    done = true;
  });
  // The main thread's drain itself must not throw.
  EXPECT_NO_THROW(ASSERT_TRUE(PumpUntil([&] { return done.load(); }, 5000)));
  worker.join();
  EXPECT_EQ(caught, "handler failed");
}

TEST_F(MainThreadCall, RoutineThatPumpsRunsLaterCallsInside) {
  // A handler that opens a modal loop: calls queued meanwhile run inside it.
  std::vector<int> order;
  std::thread second;
  std::thread first([&] {
    SpSynchronize([&] {
      order.push_back(1);
      std::atomic<bool> secondDone{false};
      second = std::thread([&] {
        SpSynchronize([&] { order.push_back(2); });
        secondDone = true;
      });
      EXPECT_TRUE(PumpUntil([&] { return secondDone.load(); }, 5000));
      order.push_back(3);
    });
  });
  std::atomic<bool> firstDone{false};
  std::thread watcher([&] {
    first.join();
    firstDone = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return firstDone.load(); }, 5000));
  watcher.join();
  second.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(MainThreadCall, ManyThreadsLoseNoCall) {
  constexpr int kThreads = 6;
  constexpr int kCalls = 200;
  int counter = 0;  // touched only on the main thread
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&] {
      const std::function<void()> increment = [&] { ++counter; };
      for (int i = 0; i < kCalls; ++i) {
        SpSynchronize(increment);
      }
      ++finished;
    });
  }
  ASSERT_TRUE(PumpUntil([&] { return finished.load() == kThreads; }, 60000));
  for (auto& worker : workers) {
    worker.join();
  }
  EXPECT_EQ(counter, kThreads * kCalls);
}

TEST_F(MainThreadCall, WakeUpIsCalledForEachQueuedCall) {
  std::atomic<int> wakeUps{0};
  SpSetWakeUp([&] { ++wakeUps; });
  std::atomic<bool> done{false};
  std::thread worker([&] {
    SpSynchronize([] {});
    SpSynchronize([] {});
    done = true;
  });
  // Without the test wake-up installed, poll.
  for (int i = 0; i < 5000 && !done.load(); ++i) {
    SpDrainMainThreadCalls();
    Sleep(1);
  }
  worker.join();
  EXPECT_TRUE(done.load());
  EXPECT_EQ(wakeUps.load(), 2);
  testpump::SetUpMainThread();
}

TEST_F(MainThreadCall, WakeUpThatThrowsLeavesNothingQueued) {
  SpSetWakeUp([] { throw std::runtime_error("no wake-up"); });
  std::string caught;
  std::thread worker([&] {
    try {
      SpSynchronize([] {});
    } catch (const std::runtime_error& error) {
      caught = error.what();
    }
  });
  worker.join();
  testpump::SetUpMainThread();
  EXPECT_EQ(caught, "no wake-up");
  // The request lived in the worker's frame, which is gone: nothing of it may be left to run.
  ASSERT_FALSE(SpHasQueuedCalls());
  EXPECT_FALSE(SpDrainMainThreadCalls());
}

// Calls from a thread while exit runs the static destructors. Made before anything else, it is
// destroyed after everything else, the main-thread call's queue included.
struct TLateCaller {
  bool Armed = false;
  std::weak_ptr<int> WakeUpAlive;
  ~TLateCaller() {
    if (!Armed) {
      return;
    }
    if (WakeUpAlive.expired()) {
      std::_Exit(3);  // the queue is gone, and the installed wake-up with it
    }
    std::atomic<bool> done{false};
    std::thread worker([&] {
      SpSynchronize([] {});
      done = true;
    });
    while (!done) {
      SpDrainMainThreadCalls();
    }
    worker.join();
  }
};
static TLateCaller LateCaller __attribute__((init_priority(101)));

TEST(MainThreadCallDeathTest, QueueOutlivesStaticDestruction) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        SpSetMainThread();
        auto alive = std::make_shared<int>(0);
        LateCaller.WakeUpAlive = alive;
        SpSetWakeUp([alive = std::move(alive)] {});
        LateCaller.Armed = true;
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}
