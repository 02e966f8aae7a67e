#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "serial/SpCommWriteThread.h"
#include "serial/tests/ThreadFixture.h"

using namespace win;

namespace {

std::int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

}  // namespace

class WriteThread : public ThreadTest {
 protected:
  void SetUp() override {
    ThreadTest::SetUp();
    Comm->OnTxEmpty = [this](TSpCustomComm&) {
      EXPECT_TRUE(SpIsMainThread());
      ++TxEmpty;
    };
  }
  int TxEmpty = 0;
};

TEST_F(WriteThread, QueuedByteLeavesAndTransmitEmptyIsRaisedWithoutBeingMonitored) {
  Comm->SetMonitorEvents({ceRxChar});
  Comm->Open();
  EXPECT_TRUE(Comm->WriteText("U"));
  ASSERT_TRUE(PumpUntil([&] { return TxEmpty == 1; }, 5000));
  EXPECT_EQ(Bench->State("COM3").transmitted, "U");
  PumpFor(50);
  EXPECT_EQ(TxEmpty, 1);
}

TEST_F(WriteThread, ExactFitIsAcceptedAndOneByteMoreFailsAfterTheTimeout) {
  Comm->SetBaudrate(br1200);
  Comm->Buffers().SetWriteSize(16);
  Comm->Buffers().SetWriteTimeout(200);
  Comm->Open();
  ASSERT_EQ(Comm->WriteThread()->Capacity(), 16);
  const std::string full(16, 'x');
  EXPECT_EQ(Comm->WriteBuf(full.data(), 16), 16);

  // 17 bytes can never fit a 16-byte queue, however long the wait.
  const std::string tooLong(17, 'y');
  ASSERT_TRUE(PumpUntil([&] { return TxEmpty == 1; }, 5000));
  const auto start = std::chrono::steady_clock::now();
  try {
    Comm->WriteBuf(tooLong.data(), 17);
    ADD_FAILURE() << "an over-long write was accepted";
  } catch (const ESpCommError& error) {
    EXPECT_STREQ(error.what(), "Output buffer is full. Please check comm status.");
  }
  EXPECT_GE(MillisecondsSince(start), 200);
  PumpFor(50);
  EXPECT_EQ(Bench->State("COM3").transmitted, full) << "nothing of the refused write was queued";
}

TEST_F(WriteThread, WriteThatMustWaitGoesInWhenRoomCame) {
  Comm->SetBaudrate(br1200);  // about 8.3 ms per character
  Comm->Buffers().SetWriteSize(8);
  Comm->Buffers().SetWriteTimeout(5000);
  Comm->Open();
  const std::string bytes = "abcdefgh";
  ASSERT_EQ(Comm->WriteBuf(bytes.data(), 8), 8);
  // The queue empties only when all 8 have left (about 66 ms), so 7 more wait for that.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Comm->WriteBuf(bytes.data(), 7), 7);
  EXPECT_GE(MillisecondsSince(start), 40);
  ASSERT_TRUE(PumpUntil([&] { return TxEmpty == 2; }, 5000));
  EXPECT_EQ(Bench->State("COM3").transmitted, "abcdefghabcdefg");
}

TEST_F(WriteThread, ZeroBytesMakeAnEmptyWriteAndTransmitEmpty) {
  Comm->Open();
  EXPECT_TRUE(Comm->WriteText(""));
  ASSERT_TRUE(PumpUntil([&] { return TxEmpty == 1; }, 5000));
  EXPECT_EQ(CountCalls("WriteFile"), 1);
  EXPECT_EQ(Bench->State("COM3").transmitted, "");
}

TEST_F(WriteThread, WritesQueuedDuringAPendingWriteGoOutTogether) {
  Comm->SetBaudrate(br1200);
  Comm->Open();
  ASSERT_TRUE(Comm->WriteText("A"));
  for (int i = 0; i < 5000 && CountCalls("WriteFile") == 0; ++i) {
    Sleep(1);
  }
  ASSERT_EQ(CountCalls("WriteFile"), 1);
  ASSERT_TRUE(Comm->WriteText("B"));
  ASSERT_TRUE(Comm->WriteText("C"));
  ASSERT_TRUE(PumpUntil([&] { return TxEmpty == 1; }, 5000));
  EXPECT_EQ(Bench->State("COM3").transmitted, "ABC");
  EXPECT_EQ(CountCalls("WriteFile"), 2);
  PumpFor(50);
  EXPECT_EQ(TxEmpty, 1) << "the queue drained only once";
}

TEST_F(WriteThread, CloseWhileAWriteIsPendingDiscardsTheQueue) {
  Comm->SetBaudrate(br1200);
  Comm->Open();
  const std::string many(40, 'z');  // about 330 ms on the wire
  ASSERT_EQ(Comm->WriteBuf(many.data(), 40), 40);
  for (int i = 0; i < 5000 && CountCalls("WriteFile") == 0; ++i) {
    Sleep(1);
  }
  Comm->QuickClose();
  EXPECT_TRUE(PumpUntil([] { return TSpThread::LiveCount() == 0; }, 10000));
  PumpFor(100);
  EXPECT_LT(Bench->State("COM3").transmitted.size(), 40u);
  EXPECT_EQ(TxEmpty, 0);
}

TEST_F(WriteThread, DevicePulledOutUnderAQueuedWriteGivesABoundedNumberOfReports) {
  Comm->SetBaudrate(br1200);
  Comm->Open();
  const std::string many(40, 'z');
  ASSERT_EQ(Comm->WriteBuf(many.data(), 40), 40);
  for (int i = 0; i < 5000 && CountCalls("WriteFile") == 0; ++i) {
    Sleep(1);
  }
  Bench->PullOut("COM3");
  PumpFor(1000);
  // Every failing pass reports once, and the passes slow down: a few within a second, not
  // thousands.
  const int errors = Comm->EventCalls(EV_ERR);
  EXPECT_GE(errors, 2);
  EXPECT_LE(errors, 20);
  EXPECT_EQ(TxEmpty, 0);
  Comm->QuickClose();
  EXPECT_TRUE(PumpUntil([] { return TSpThread::LiveCount() == 0; }, 10000));
  const int afterClose = Comm->EventCalls(EV_ERR);
  PumpFor(300);
  EXPECT_EQ(Comm->EventCalls(EV_ERR), afterClose) << "no report after close";
}

TEST_F(WriteThread, TransmitEmptyHandlerExceptionIsReportedAndWritingGoesOn) {
  Comm->OnTxEmpty = [this](TSpCustomComm&) {
    ++TxEmpty;
    throw std::runtime_error("tx handler failed");
  };
  Comm->Open();
  ASSERT_TRUE(Comm->WriteText("1"));
  ASSERT_TRUE(PumpUntil([&] { return TxEmpty == 1; }, 5000));
  ASSERT_TRUE(Comm->WriteText("2"));
  ASSERT_TRUE(PumpUntil([&] { return TxEmpty == 2; }, 5000));
  EXPECT_EQ(Reported, (std::vector<std::string>{"tx handler failed", "tx handler failed"}));
  EXPECT_EQ(Bench->State("COM3").transmitted, "12");
}

TEST_F(WriteThread, CapacityStaysThatOfTheBlockAllocated) {
  Comm->SetBaudrate(br1200);
  Comm->Buffers().SetWriteSize(8);
  Comm->Buffers().SetWriteTimeout(100);
  Comm->Open();
  // The settings object keeps a new size even though the open port refuses the change.
  try {
    Comm->Buffers().SetWriteSize(64);
  } catch (const std::exception&) {
  }
  ASSERT_EQ(Comm->WriteThread()->Capacity(), 8);
  const std::string sixteen(16, 'q');
  EXPECT_THROW(Comm->WriteBuf(sixteen.data(), 16), ESpCommError);
}
