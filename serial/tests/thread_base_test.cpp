#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Additions.h"
#include "serial/SpThread.h"
#include "serial/tests/TestPump.h"

using namespace win;

namespace {

std::atomic<int> gBodiesRun{0};

class ProbeThread : public TSpThread {
 public:
  static std::shared_ptr<ProbeThread> Create(bool fail = false) {
    std::shared_ptr<ProbeThread> thread(new ProbeThread(fail));
    Start(thread);
    return thread;
  }
  void Stop() {
    Terminate();
    MarkStopped();
  }

  std::atomic<bool> Ran{false};
  std::atomic<bool> Release{false};
  std::thread::id RanOn;

 protected:
  void Execute() override {
    RanOn = std::this_thread::get_id();
    ++gBodiesRun;
    Ran = true;
    if (FFail) {
      throw std::runtime_error("body failed");
    }
    while (!Release.load() && !Terminated()) {
      Sleep(1);
    }
  }

 private:
  explicit ProbeThread(bool fail) : FFail(fail) {}
  bool FFail;
};

class ThreadBase : public ::testing::Test {
 protected:
  void SetUp() override {
    testpump::SetUpMainThread();
    Baseline = TSpThread::LiveCount();
  }
  void TearDown() override {
    EXPECT_TRUE(PumpUntil([this] { return TSpThread::LiveCount() == Baseline; }, 10000));
  }
  int Baseline = 0;
};

}  // namespace

TEST_F(ThreadBase, StartsSuspendedAndFreesItselfWhenBothOwnersLetGo) {
  auto thread = ProbeThread::Create();
  Sleep(30);
  EXPECT_FALSE(thread->Ran.load()) << "the body must wait for Resume";
  thread->Resume();
  ASSERT_TRUE(PumpUntil([&] { return thread->Ran.load(); }, 5000));
  EXPECT_NE(thread->RanOn, std::this_thread::get_id());

  // The creator lets go first: the running body keeps the object alive.
  std::weak_ptr<ProbeThread> weak = thread;
  ProbeThread* const raw = thread.get();
  thread.reset();
  Sleep(20);
  ASSERT_FALSE(weak.expired());
  raw->Release = true;
  EXPECT_TRUE(PumpUntil([&] { return weak.expired(); }, 5000));
}

TEST_F(ThreadBase, StopBeforeTheBodyRanSkipsItAndFrees) {
  const int bodiesBefore = gBodiesRun.load();
  auto thread = ProbeThread::Create();
  std::weak_ptr<ProbeThread> weak = thread;
  thread->Stop();
  thread.reset();
  ASSERT_TRUE(PumpUntil([&] { return weak.expired(); }, 5000));
  EXPECT_EQ(gBodiesRun.load(), bodiesBefore);
}

TEST_F(ThreadBase, BodyThatRaisesIsReportedOnTheMainThread) {
  std::vector<std::string> reported;
  bool onMain = false;
  SetApplicationExceptionHook([&](std::exception_ptr error) {
    onMain = SpIsMainThread();
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      reported.push_back(e.what());
    }
  });
  auto thread = ProbeThread::Create(true);
  thread->Resume();
  thread.reset();
  EXPECT_TRUE(PumpUntil([&] { return !reported.empty(); }, 5000));
  EXPECT_EQ(reported, std::vector<std::string>{"body failed"});
  EXPECT_TRUE(onMain);
  SetApplicationExceptionHook(nullptr);
}

TEST_F(ThreadBase, PriorityGoesToTheSystemThread) {
  auto thread = ProbeThread::Create();
  thread->SetPriority(tpTimeCritical);
  EXPECT_EQ(thread->Priority(), tpTimeCritical);
  EXPECT_EQ(GetThreadPriority(thread->ThreadHandle()), THREAD_PRIORITY_TIME_CRITICAL);
  thread->SetPriority(tpIdle);
  EXPECT_EQ(GetThreadPriority(thread->ThreadHandle()), THREAD_PRIORITY_IDLE);
  thread->Resume();
  thread->Stop();
}
