// The line model of a bench port: reads, writes, time limits, purges and cancellation.

#include <cstring>

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
  ASSERT_TRUE(GetCommState(port.get(), &dcb));
  dcb.BaudRate = 9600;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = TWOSTOPBITS;
  ASSERT_TRUE(SetCommState(port.get(), &dcb));
  EXPECT_EQ(bench.CharTimeMicros("COM3"), 1146u);  // 11 bits at 9600
  dcb.ByteSize = 5;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONE5STOPBITS;
  ASSERT_TRUE(SetCommState(port.get(), &dcb));
  EXPECT_EQ(bench.CharTimeMicros("COM3"), 781u);  // 7.5 bits

  // Framing the line cannot carry is refused and leaves the settings as they were.
  dcb.ByteSize = 8;  // 1.5 stop bits only go with 5 data bits
  EXPECT_FALSE(SetCommState(port.get(), &dcb));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  dcb.ByteSize = 9;
  dcb.StopBits = ONESTOPBIT;
  EXPECT_FALSE(SetCommState(port.get(), &dcb));
  EXPECT_EQ(bench.CharTimeMicros("COM3"), 781u);
  EXPECT_EQ(bench.State("COM3").dcbWrites, 3);
}

TEST_F(BenchLineTest, PendingReadCompletesThroughItsEventAfterTheWireTime) {
  Io io;
  Port port("COM3");
  port.Configure(1200, 0);  // a 5 ms interval would end the read between two 8.3 ms characters
  char buffer[4] = {};
  DWORD read = 99;
  EXPECT_FALSE(ReadFile(port.get(), buffer, 2, &read, &io.ov));
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_FALSE(GetOverlappedResult(port.get(), &io.ov, &read, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

  const auto start = Clock::now();
  bench.SendFromDevice("COM3", "AB");
  ASSERT_TRUE(io.Signalled(5000));
  EXPECT_GE(MillisSince(start), 2 * kCharMs1200 - 0.5);
  ASSERT_TRUE(GetOverlappedResult(port.get(), &io.ov, &read, FALSE));
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
  ASSERT_TRUE(ReadFile(port.get(), buffer, 2, &read, &io.ov));
  EXPECT_EQ(read, 2u);
  EXPECT_TRUE(io.Signalled());
  EXPECT_EQ(std::string(buffer, 2), "xy");
  EXPECT_EQ(port.InQueue(), 1u);

  // Asking for more than is there: the byte is taken, the rest waits for the interval.
  read = 0;
  const auto start = Clock::now();
  BOOL done = ReadFile(port.get(), buffer, 4, &read, &io.ov);
  EXPECT_FALSE(done);
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(GetOverlappedResult(port.get(), &io.ov, &read, TRUE));
  EXPECT_GE(MillisSince(start), 4.5);
  EXPECT_EQ(read, 1u);
  EXPECT_EQ(buffer[0], 'z');
}

TEST_F(BenchLineTest, IntervalEndsAReadOnceBytesStopComing) {
  Io io;
  Port port("COM3");
  port.Configure(1200, 20);
  char buffer[16] = {};
  DWORD read = 0;
  ASSERT_FALSE(ReadFile(port.get(), buffer, sizeof buffer, &read, &io.ov));
  // No byte yet: no interval limit, the read waits.
  EXPECT_FALSE(io.Signalled(60));
  const auto start = Clock::now();
  bench.SendFromDevice("COM3", "abc");
  ASSERT_TRUE(GetOverlappedResult(port.get(), &io.ov, &read, TRUE));
  EXPECT_GE(MillisSince(start), 3 * kCharMs1200 + 20 - 0.5);
  EXPECT_EQ(read, 3u);
  EXPECT_EQ(std::string(buffer, 3), "abc");
}

TEST_F(BenchLineTest, TotalLimitsAndReturnAtOnce) {
  Io io;
  Port port("COM3");
  port.Configure(9600);
  char buffer[8] = {};
  DWORD read = 7;

  COMMTIMEOUTS immediate{MAXDWORD, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port.get(), &immediate));
  ASSERT_TRUE(ReadFile(port.get(), buffer, 8, &read, &io.ov));
  EXPECT_EQ(read, 0u);

  COMMTIMEOUTS total{0, 10, 30, 0, 0};  // 30 + 2 * 10 ms for two bytes
  ASSERT_TRUE(SetCommTimeouts(port.get(), &total));
  const auto start = Clock::now();
  ASSERT_FALSE(ReadFile(port.get(), buffer, 2, &read, &io.ov));
  ASSERT_TRUE(GetOverlappedResult(port.get(), &io.ov, &read, TRUE));
  EXPECT_GE(MillisSince(start), 49.5);
  EXPECT_EQ(read, 0u);

  // MAXDWORD interval and multiplier: the first byte ends the read.
  COMMTIMEOUTS first{MAXDWORD, MAXDWORD, 5000, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port.get(), &first));
  ASSERT_FALSE(ReadFile(port.get(), buffer, 8, &read, &io.ov));
  bench.SendFromDevice("COM3", "Q");
  ASSERT_TRUE(GetOverlappedResult(port.get(), &io.ov, &read, TRUE));
  EXPECT_EQ(read, 1u);
  EXPECT_EQ(buffer[0], 'Q');
}

TEST_F(BenchLineTest, PurgeAbortsAPendingReadAndClearsTheInputQueue) {
  Io io;
  Port port("COM3");
  port.Configure(115200);
  bench.SendFromDevice("COM3", "junk");
  ASSERT_TRUE(Eventually([&] { return port.InQueue() == 4; }));
  ASSERT_TRUE(PurgeComm(port.get(), PURGE_RXCLEAR));
  EXPECT_EQ(port.InQueue(), 0u);

  char buffer[4] = {};
  DWORD read = 0;
  ASSERT_FALSE(ReadFile(port.get(), buffer, 4, &read, &io.ov));
  ASSERT_TRUE(PurgeComm(port.get(), PURGE_RXABORT | PURGE_RXCLEAR));
  ASSERT_TRUE(io.Signalled(1000));
  EXPECT_FALSE(GetOverlappedResult(port.get(), &io.ov, &read, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);

  // The port goes on working after the purge.
  ASSERT_FALSE(ReadFile(port.get(), buffer, 1, &read, &io.ov));
  bench.SendFromDevice("COM3", "k");
  ASSERT_TRUE(GetOverlappedResult(port.get(), &io.ov, &read, TRUE));
  EXPECT_EQ(buffer[0], 'k');
}

TEST_F(BenchLineTest, WriteCompletesWhenItsLastByteHasLeft) {
  Io io;
  Port port("COM3");
  port.Configure(1200);
  DWORD written = 99;
  ASSERT_TRUE(WriteFile(port.get(), "", 0, &written, &io.ov));
  EXPECT_EQ(written, 0u);

  const auto start = Clock::now();
  ASSERT_FALSE(WriteFile(port.get(), "U\0U", 3, &written, &io.ov));
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  COMSTAT status{};
  DWORD errors = 0;
  ASSERT_TRUE(ClearCommError(port.get(), &errors, &status));
  EXPECT_GT(status.cbOutQue, 0u);
  ASSERT_TRUE(GetOverlappedResult(port.get(), &io.ov, &written, TRUE));
  EXPECT_GE(MillisSince(start), 3 * kCharMs1200 - 0.5);
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(bench.State("COM3").transmitted, std::string("U\0U", 3));
  ASSERT_TRUE(ClearCommError(port.get(), &errors, &status));
  EXPECT_EQ(status.cbOutQue, 0u);
}

TEST_F(BenchLineTest, PurgeAbortsAPendingWrite) {
  Io io;
  Port port("COM3");
  port.Configure(1200);
  DWORD written = 0;
  ASSERT_FALSE(WriteFile(port.get(), "0123456789", 10, &written, &io.ov));
  ASSERT_TRUE(PurgeComm(port.get(), PURGE_TXABORT | PURGE_TXCLEAR));
  ASSERT_TRUE(io.Signalled(1000));
  EXPECT_FALSE(GetOverlappedResult(port.get(), &io.ov, &written, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_LT(written, 10u);
  EXPECT_LT(bench.State("COM3").transmitted.size(), 10u);
}

TEST_F(BenchLineTest, BlockingCallsOnAPortOpenedWithoutOverlapped) {
  Port port("COM3", false);
  port.Configure(9600, 10);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(port.get(), "hello", 5, &written, nullptr));
  EXPECT_EQ(written, 5u);
  EXPECT_EQ(bench.State("COM3").transmitted, "hello");

  std::thread device([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    bench.SendFromDevice("COM3", "ok");
  });
  char buffer[8] = {};
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(port.get(), buffer, sizeof buffer, &read, nullptr));
  device.join();
  EXPECT_EQ(std::string(buffer, read), "ok");
}

TEST_F(BenchLineTest, CancellingByRecordByThreadAndByTheEndOfTheThread) {
  Io first;
  Io second;
  Io fromThread;
  Port port("COM3");
  port.Configure(9600);
  char a[1];
  char b[1];
  char c[1];
  DWORD count = 0;
  ASSERT_FALSE(ReadFile(port.get(), a, 1, &count, &first.ov));
  ASSERT_FALSE(ReadFile(port.get(), b, 1, &count, &second.ov));

  // One record: only that one ends.
  ASSERT_TRUE(CancelIoEx(port.get(), &second.ov));
  ASSERT_TRUE(second.Signalled(1000));
  EXPECT_FALSE(GetOverlappedResult(port.get(), &second.ov, &count, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_FALSE(first.Signalled());
  EXPECT_FALSE(CancelIoEx(port.get(), &second.ov));
  EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);

  // A read issued by a thread that then ends is cancelled by the end of that thread.
  struct Job {
    HANDLE port;
    char* buffer;
    OVERLAPPED* ov;
    BOOL result;
    DWORD error;
  } job{port.get(), c, &fromThread.ov, TRUE, 0};
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID parameter) -> DWORD {
        auto* j = static_cast<Job*>(parameter);
        DWORD n = 0;
        j->result = ReadFile(j->port, j->buffer, 1, &n, j->ov);
        j->error = GetLastError();
        return 0;
      },
      &job, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  CloseHandle(thread);
  EXPECT_FALSE(job.result);
  EXPECT_EQ(job.error, ERROR_IO_PENDING);
  ASSERT_TRUE(fromThread.Signalled(5000));
  EXPECT_FALSE(GetOverlappedResult(port.get(), &fromThread.ov, &count, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);

  // The calling thread's own read is still there and still receives.
  EXPECT_FALSE(first.Signalled());
  bench.SendFromDevice("COM3", "!");
  ASSERT_TRUE(GetOverlappedResult(port.get(), &first.ov, &count, TRUE));
  EXPECT_EQ(a[0], '!');
}

TEST_F(BenchLineTest, ClosingEndsPendingReadsAndWrites) {
  Io read;
  Io write;
  Port port("COM3");
  port.Configure(1200);
  char buffer[4];
  DWORD count = 0;
  ASSERT_FALSE(ReadFile(port.get(), buffer, 4, &count, &read.ov));
  ASSERT_FALSE(WriteFile(port.get(), "abcdef", 6, &count, &write.ov));
  HANDLE handle = port.get();
  port.Close();
  ASSERT_TRUE(read.Signalled(1000));
  ASSERT_TRUE(write.Signalled(1000));
  EXPECT_EQ(read.ov.Internal, ERROR_OPERATION_ABORTED);
  EXPECT_EQ(write.ov.Internal, ERROR_OPERATION_ABORTED);
  EXPECT_FALSE(bench.State("COM3").open);
  // The handle is gone; the port opens again.
  EXPECT_FALSE(PurgeComm(handle, PURGE_RXCLEAR));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  Port again("COM3");
  EXPECT_TRUE(again.valid());
}

TEST_F(BenchLineTest, DriverErrorHandlingAbortOnErrorOverflowAndWriteLimit) {
  Io io;
  Port port("COM3");
  port.Configure(115200);

  // A full input queue drops what arrives and says so.
  ASSERT_TRUE(SetupComm(port.get(), 2, 16));
  bench.SendFromDevice("COM3", "abcd");
  DWORD seen = 0;
  ASSERT_TRUE(Eventually([&] {
    DWORD errors = 0;
    ClearCommError(port.get(), &errors, nullptr);
    seen |= errors;
    return (seen & CE_RXOVER) != 0;
  }));
  EXPECT_EQ(port.InQueue(), 2u);
  ASSERT_TRUE(PurgeComm(port.get(), PURGE_RXCLEAR));

  // With fAbortOnError a line error ends reads until the error is cleared.
  DCB dcb{};
  ASSERT_TRUE(GetCommState(port.get(), &dcb));
  dcb.fAbortOnError = 1;
  ASSERT_TRUE(SetCommState(port.get(), &dcb));
  char buffer[4];
  DWORD count = 0;
  ASSERT_FALSE(ReadFile(port.get(), buffer, 1, &count, &io.ov));
  bench.RaiseLineError("COM3", CE_RXPARITY);
  ASSERT_TRUE(io.Signalled(1000));
  EXPECT_EQ(io.ov.Internal, ERROR_OPERATION_ABORTED);
  EXPECT_FALSE(ReadFile(port.get(), buffer, 1, &count, &io.ov));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  DWORD errors = 0;
  ASSERT_TRUE(ClearCommError(port.get(), &errors, nullptr));
  EXPECT_EQ(errors, CE_RXPARITY);
  ASSERT_FALSE(ReadFile(port.get(), buffer, 1, &count, &io.ov));
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  bench.SendFromDevice("COM3", "r");
  ASSERT_TRUE(GetOverlappedResult(port.get(), &io.ov, &count, TRUE));
  EXPECT_EQ(buffer[0], 'r');

  // A write time limit ends the write with what has left by then.
  port.Configure(1200);
  COMMTIMEOUTS limit{0, 0, 0, 0, 20};
  ASSERT_TRUE(SetCommTimeouts(port.get(), &limit));
  Io write;
  ASSERT_FALSE(WriteFile(port.get(), "0123456789", 10, &count, &write.ov));
  ASSERT_TRUE(GetOverlappedResult(port.get(), &write.ov, &count, TRUE));
  EXPECT_LT(count, 10u);
  ASSERT_TRUE(Eventually([&] {
    COMSTAT status{};
    return ClearCommError(port.get(), nullptr, &status) && status.cbOutQue == 0;
  }));
  EXPECT_EQ(bench.State("COM3").transmitted, std::string("0123456789").substr(0, count));
}

TEST_F(BenchLineTest, ACallThatReachesThePortAfterItsCloseFailsInsteadOfPending) {
  // A background thread may have looked the handle up just before another thread closed it;
  // its call then reaches a closed port and must not leave an operation nobody will end.
  DWORD error = 0;
  auto file = bench.OpenComm("COM3", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, error);
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(file->SetCommMask(EV_RXCHAR));
  file->OnClose();

  Io wait;
  Io read;
  Io write;
  DWORD mask = 0;
  char buffer[4] = {};
  EXPECT_FALSE(file->WaitCommEvent(&mask, &wait.ov));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(file->ReadFile(buffer, sizeof buffer, nullptr, &read.ov));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(file->WriteFile("U", 1, nullptr, &write.ov));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  for (const Io* io : {&wait, &read, &write}) {
    EXPECT_FALSE(win::OverlappedPending(&io->ov));
  }
  EXPECT_FALSE(bench.State("COM3").open);
}

}  // namespace
}  // namespace bench_test
