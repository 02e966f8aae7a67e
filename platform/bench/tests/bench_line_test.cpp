// The line model of a bench port: reads, writes, time limits, purges and cancellation.

#include <atomic>
#include <cstring>
#include <memory>

#include "platform/bench/BenchClock.h"
#include "testing/BenchTestSupport.h"

namespace bench_test {
namespace {

using win::bench::BenchWorld;
using win::bench::MakePort;
using win::bench::UseBench;

constexpr double kCharMs1200 = 10.0 * 1000.0 / 1200.0;  // 8N1 at 1200 baud

class BenchLineTest : public ::testing::Test {
 protected:
  void SetUp() override { bench.AddDevice(MakePort("COM3", "Communications Port", "ACPI")); }
  BenchWorld& bench = UseBench();
};

TEST_F(BenchLineTest, CharacterTimeFollowsTheFraming) {
  Port port("COM3");
  ASSERT_TRUE(port.valid());
  port.Configure(1200);
  EXPECT_EQ(bench.CharTimeMicros("COM3"), 8333u);
  DCB dcb{};
  ASSERT_TRUE(win::GetCommState(port.get(), &dcb));
  dcb.BaudRate = 9600;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = TWOSTOPBITS;
  ASSERT_TRUE(win::SetCommState(port.get(), &dcb));
  EXPECT_EQ(bench.CharTimeMicros("COM3"), 1146u);  // 11 bits at 9600
  dcb.ByteSize = 5;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONE5STOPBITS;
  ASSERT_TRUE(win::SetCommState(port.get(), &dcb));
  EXPECT_EQ(bench.CharTimeMicros("COM3"), 781u);  // 7.5 bits
  EXPECT_EQ(bench.State("COM3").dcbWrites, 3);
}

TEST_F(BenchLineTest, PendingReadCompletesThroughItsEventAfterTheWireTime) {
  Io io;
  Port port("COM3");
  port.Configure(1200, 0);  // a 5 ms interval would end the read between two 8.3 ms characters
  char buffer[4] = {};
  DWORD read = 99;
  EXPECT_FALSE(win::ReadFile(port.get(), buffer, 2, &read, &io.ov));
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_FALSE(win::GetOverlappedResult(port.get(), &io.ov, &read, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

  const auto start = Clock::now();
  bench.SendFromDevice("COM3", "AB");
  ASSERT_TRUE(io.Signalled(5000));
  EXPECT_GE(MillisSince(start), 2 * kCharMs1200 - 0.5);
  ASSERT_TRUE(win::GetOverlappedResult(port.get(), &io.ov, &read, FALSE));
  EXPECT_EQ(read, 2u);
  EXPECT_EQ(std::string(buffer, 2), "AB");
}

TEST_F(BenchLineTest, ReadWithEnoughQueuedCompletesAtOnce) {
  Io io;
  Port port("COM3");
  port.Configure(115200);
  bench.SendFromDevice("COM3", "xyz");
  ASSERT_TRUE(Eventually([&] { return port.InQueue() == 3; }));

  char buffer[4] = {};
  DWORD read = 0;
  ASSERT_TRUE(win::ReadFile(port.get(), buffer, 2, &read, &io.ov));
  EXPECT_EQ(read, 2u);
  EXPECT_TRUE(io.Signalled());
  EXPECT_EQ(std::string(buffer, 2), "xy");
  EXPECT_EQ(port.InQueue(), 1u);

  // Asking for more than is there: the byte is taken, the rest waits for the interval.
  read = 0;
  const auto start = Clock::now();
  BOOL done = win::ReadFile(port.get(), buffer, 4, &read, &io.ov);
  EXPECT_FALSE(done);
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(win::GetOverlappedResult(port.get(), &io.ov, &read, TRUE));
  EXPECT_GE(MillisSince(start), 4.5);
  EXPECT_EQ(read, 1u);
  EXPECT_EQ(buffer[0], 'z');
}

TEST_F(BenchLineTest, WriteCompletesWhenItsLastByteHasLeft) {
  Io io;
  Port port("COM3");
  port.Configure(1200);
  DWORD written = 99;
  ASSERT_TRUE(win::WriteFile(port.get(), "", 0, &written, &io.ov));
  EXPECT_EQ(written, 0u);

  const auto start = Clock::now();
  ASSERT_FALSE(win::WriteFile(port.get(), "U\0U", 3, &written, &io.ov));
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  COMSTAT status{};
  DWORD errors = 0;
  ASSERT_TRUE(win::ClearCommError(port.get(), &errors, &status));
  EXPECT_GT(status.cbOutQue, 0u);
  ASSERT_TRUE(win::GetOverlappedResult(port.get(), &io.ov, &written, TRUE));
  EXPECT_GE(MillisSince(start), 3 * kCharMs1200 - 0.5);
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(bench.State("COM3").transmitted, std::string("U\0U", 3));
  ASSERT_TRUE(win::ClearCommError(port.get(), &errors, &status));
  EXPECT_EQ(status.cbOutQue, 0u);
}

TEST_F(BenchLineTest, InputOverflowAndWriteLimit) {
  Io io;
  Port port("COM3");
  port.Configure(115200);

  // A full input queue drops what arrives and says so.
  ASSERT_TRUE(win::SetupComm(port.get(), 2, 16));
  bench.SendFromDevice("COM3", "abcd");
  DWORD seen = 0;
  ASSERT_TRUE(Eventually([&] {
    DWORD errors = 0;
    win::ClearCommError(port.get(), &errors, nullptr);
    seen |= errors;
    return (seen & CE_RXOVER) != 0;
  }));
  EXPECT_EQ(port.InQueue(), 2u);
  ASSERT_TRUE(win::PurgeComm(port.get(), PURGE_RXCLEAR));
  DWORD count = 0;

  // A write time limit ends the write with what has left by then.
  port.Configure(1200);
  COMMTIMEOUTS limit{0, 0, 0, 0, 20};
  ASSERT_TRUE(win::SetCommTimeouts(port.get(), &limit));
  Io write;
  ASSERT_FALSE(win::WriteFile(port.get(), "0123456789", 10, &count, &write.ov));
  ASSERT_TRUE(win::GetOverlappedResult(port.get(), &write.ov, &count, TRUE));
  EXPECT_LT(count, 10u);
  ASSERT_TRUE(Eventually([&] {
    COMSTAT status{};
    return win::ClearCommError(port.get(), nullptr, &status) && status.cbOutQue == 0;
  }));
  EXPECT_EQ(bench.State("COM3").transmitted, std::string("0123456789").substr(0, count));
}

// A thread-exit hook that drops the last reference to a clock: on Windows the hooks run under the
// loader lock, where joining the clock's thread would never return (the clock's thread needs that
// lock to end). The ending thread must end all the same.
TEST(BenchClockTest, AnEndingThreadThatDropsTheLastClockEnds) {
  struct Job {
    std::unique_ptr<win::bench::BenchClock> clock = std::make_unique<win::bench::BenchClock>();
    std::atomic<DWORD> threadId{0};
    std::atomic<bool> ticked{false};
  } job;
  // The clock's thread is running before the test begins.
  job.clock->Schedule(win::bench::BenchClock::Now(), [&job] { job.ticked = true; });
  while (!job.ticked) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const int hook = AddThreadExitHook([&job](DWORD threadId) {
    if (threadId == job.threadId) {
      job.clock.reset();
    }
  });
  HANDLE thread = win::CreateThread(
      nullptr, 0,
      [](LPVOID parameter) -> DWORD {
        static_cast<Job*>(parameter)->threadId = win::GetCurrentThreadId();
        return 0;
      },
      &job, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(win::WaitForSingleObject(thread, 20000), WAIT_OBJECT_0) << "the thread never ended";
  win::CloseHandle(thread);
  RemoveThreadExitHook(hook);
  EXPECT_EQ(job.clock, nullptr);
}

}  // namespace
}  // namespace bench_test
