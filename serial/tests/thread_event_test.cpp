#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "serial/SpCommEventThread.h"
#include "serial/SpCommWriteThread.h"
#include "serial/tests/ThreadFixture.h"

using namespace win;

namespace {

// Reads what the handler was told is waiting.
std::string ReadAll(TSpCustomComm& comm, std::int32_t count) {
  std::string bytes(static_cast<std::size_t>(count), '\0');
  bytes.resize(static_cast<std::size_t>(comm.ReadBuf(bytes.data(), count)));
  return bytes;
}

}  // namespace

using EventThread = ThreadTest;

TEST_F(EventThread, WhichThreadsStart) {
  Comm->Open();
  EXPECT_NE(Comm->EventThread(), nullptr);
  EXPECT_NE(Comm->WriteThread(), nullptr);
  Comm->QuickClose();

  Comm->SetMonitorEvents({});
  Comm->Open();
  EXPECT_EQ(Comm->EventThread(), nullptr);
  EXPECT_NE(Comm->WriteThread(), nullptr);
  Bench->SendFromDevice("COM3", "A");
  PumpFor(50);
  EXPECT_TRUE(Comm->Calls.empty()) << "no event notification without monitored events";
  Comm->QuickClose();

  // The write thread reports transmit-empty itself, so the port is not asked for it.
  Comm->SetMonitorEvents({ceTxEmpty});
  Comm->Open();
  EXPECT_EQ(Comm->EventThread(), nullptr);
  EXPECT_NE(Comm->WriteThread(), nullptr);
  Comm->QuickClose();

  Comm->SetMonitorEvents({});
  Comm->SetDirectWrite(true);
  Comm->Open();
  EXPECT_EQ(Comm->EventThread(), nullptr);
  EXPECT_EQ(Comm->WriteThread(), nullptr);
  Comm->QuickClose();
  EXPECT_TRUE(PumpUntil([] { return TSpThread::LiveCount() == 0; }, 10000));
}

TEST_F(EventThread, OneByteRaisesExactlyOneRxCharOnTheMainThread) {
  std::vector<std::int32_t> counts;
  std::string received;
  Comm->OnRxChar = [&](TSpCustomComm& sender, std::int32_t count) {
    EXPECT_TRUE(SpIsMainThread());
    EXPECT_EQ(&sender, Comm.get());
    counts.push_back(count);
    received += ReadAll(sender, count);
  };
  Comm->Open();
  Bench->SendFromDevice("COM3", "A");
  ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }, 5000));
  PumpFor(100);
  EXPECT_EQ(counts, std::vector<std::int32_t>{1});
  EXPECT_EQ(received, "A");
}

TEST_F(EventThread, BytesBeforeTheDispatchComeInOneCall) {
  std::vector<std::int32_t> counts;
  Comm->OnRxChar = [&](TSpCustomComm& sender, std::int32_t count) {
    counts.push_back(count);
    ReadAll(sender, count);
  };
  Comm->Open();
  Bench->SendFromDevice("COM3", "ABCDE");
  ASSERT_TRUE(WaitForQueuedCall(5000));
  // The main thread is busy while the rest arrives (5 characters take well under 1 ms).
  Sleep(50);
  ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }, 5000));
  PumpFor(100);
  // The later arrivals still wake the next wait, but find nothing left to report.
  EXPECT_EQ(counts, std::vector<std::int32_t>{5});
}

TEST_F(EventThread, BytesDuringTheHandlerAreReportedAfterItReturns) {
  std::vector<std::int32_t> counts;
  std::string received;
  int depth = 0;
  Comm->OnRxChar = [&](TSpCustomComm& sender, std::int32_t count) {
    EXPECT_EQ(depth, 0) << "notifications must not nest";
    ++depth;
    counts.push_back(count);
    received += ReadAll(sender, count);
    if (counts.size() == 1) {
      Bench->SendFromDevice("COM3", "B");
      Sleep(50);  // arrives while the handler runs
    }
    --depth;
  };
  Comm->Open();
  Bench->SendFromDevice("COM3", "A");
  ASSERT_TRUE(PumpUntil([&] { return counts.size() >= 2; }, 5000));
  PumpFor(50);
  EXPECT_EQ(counts, (std::vector<std::int32_t>{1, 1}));
  EXPECT_EQ(received, "AB");
}

TEST_F(EventThread, ReceivedCharactersGoFirstAndAloneToTheirHandler) {
  std::vector<std::int32_t> counts;
  Comm->OnRxChar = [&](TSpCustomComm& sender, std::int32_t count) {
    counts.push_back(count);
    ReadAll(sender, count);
    if (counts.size() == 1) {
      // Both land in the driver's history and come back as one mask.
      Bench->SendFromDevice("COM3", "B");
      Bench->RaiseLineError("COM3", CE_FRAME);
      Sleep(50);
    }
  };
  Comm->Open();
  Bench->SendFromDevice("COM3", "A");
  ASSERT_TRUE(PumpUntil([&] { return Comm->EventCalls(EV_ERR) == 1; }, 5000));
  PumpFor(50);
  const auto& calls = Comm->Calls;
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].Kind, 'R');  // only EV_RXCHAR: no HandleEvents
  EXPECT_EQ(calls[1].Kind, 'R');
  EXPECT_EQ(calls[2].Kind, 'E');
  EXPECT_EQ(calls[2].Mask, EV_ERR);
  EXPECT_EQ(counts, (std::vector<std::int32_t>{1, 1}));
}

TEST_F(EventThread, HandlerExceptionIsReportedAndLaterBytesStillArrive) {
  int calls = 0;
  Comm->OnRxChar = [&](TSpCustomComm& sender, std::int32_t count) {
    ++calls;
    if (calls == 1) {
      throw std::runtime_error("handler failed");
    }
    ReadAll(sender, count);
  };
  Comm->Open();
  Bench->SendFromDevice("COM3", "A");
  ASSERT_TRUE(PumpUntil([&] { return !Reported.empty(); }, 5000));
  EXPECT_EQ(Reported, std::vector<std::string>{"handler failed"});
  Bench->SendFromDevice("COM3", "B");
  ASSERT_TRUE(PumpUntil([&] { return calls == 2; }, 5000));
  EXPECT_EQ(Reported.size(), 1u);
}

TEST_F(EventThread, StopEndsTheWaitWithoutDispatch) {
  Comm->Open();
  ASSERT_EQ(TSpThread::LiveCount(), 2);
  std::weak_ptr<TSpCommEventThread> thread = Comm->EventThread();
  Comm->QuickClose();
  EXPECT_TRUE(PumpUntil([&] { return thread.expired() && TSpThread::LiveCount() == 0; }, 10000));
  EXPECT_TRUE(Comm->Calls.empty());
}

TEST_F(EventThread, DispatchQueuedBeforeCloseDoesNothing) {
  Comm->OnRxChar = [&](TSpCustomComm&, std::int32_t) { ADD_FAILURE() << "raised after close"; };
  Comm->Open();
  Bench->SendFromDevice("COM3", "A");
  ASSERT_TRUE(WaitForQueuedCall(5000));
  Comm->QuickClose();
  EXPECT_TRUE(PumpUntil([] { return TSpThread::LiveCount() == 0; }, 10000));
  EXPECT_TRUE(Comm->Calls.empty());
}

TEST_F(EventThread, DispatchQueuedBeforeTheComponentWentDoesNothing) {
  Comm->Open();
  Bench->SendFromDevice("COM3", "A");
  ASSERT_TRUE(WaitForQueuedCall(5000));
  Comm.reset();  // closes through the destructor; the queued dispatch must not touch it
  EXPECT_TRUE(PumpUntil([] { return TSpThread::LiveCount() == 0; }, 10000));
  EXPECT_TRUE(Reported.empty());
}

TEST_F(EventThread, PriorityFollowsTheComponent) {
  Comm->SetEventPriority(tpHigher);
  Comm->Open();
  EXPECT_EQ(GetThreadPriority(Comm->EventThread()->ThreadHandle()), THREAD_PRIORITY_ABOVE_NORMAL);
  EXPECT_EQ(GetThreadPriority(Comm->WriteThread()->ThreadHandle()), THREAD_PRIORITY_HIGHEST);
  Comm->SetEventPriority(tpLowest);
  EXPECT_EQ(GetThreadPriority(Comm->EventThread()->ThreadHandle()), THREAD_PRIORITY_LOWEST);
}

TEST_F(EventThread, RemovedDeviceIsRetriedAtAGrowingPause) {
  Comm->Open();
  Bench->PullOut("COM3");
  PumpFor(1000);
  // Waits that fail at once are retried after 2, 4, 8 ... up to 200 ms: a handful per second.
  const int waits = CountCalls("WaitCommEvent");
  EXPECT_GE(waits, 3);
  EXPECT_LE(waits, 20);
  EXPECT_EQ(Comm->EventCalls(EV_ERR), 0);
}
