// Reads, writes, status, purge, DTR and modem lines of the comm component on the bench.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "serial/tests/CommFixture.h"

using namespace win;

namespace {

using CommIo = CommFixture;

TEST_F(CommIo, ClosedPortDoesNothingAndRaisesNothing) {
  TSpComm comm;
  char buffer[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(comm.WriteBuf(buffer, 4), 0);
  EXPECT_EQ(comm.ReadBuf(buffer, 4), 0);
  EXPECT_FALSE(comm.WriteText("U"));
  EXPECT_TRUE(comm.WriteText(""));
  char ch = 'k';
  EXPECT_FALSE(comm.ReadChar(ch));
  EXPECT_EQ(ch, 'k');
  CommStatus status;
  status.Errors = 7;
  status.Stat.cbInQue = 9;
  comm.ReadStatus(status);
  EXPECT_EQ(status.Errors, 0u);
  EXPECT_EQ(status.Stat.cbInQue, 0u);
  EXPECT_EQ(comm.InQueCount(), 0);
  EXPECT_FALSE(comm.CheckLineErrors());
  comm.PurgeRead();
  comm.SetDTR(true);
  for (int line = 0; line <= 5; ++line) {
    EXPECT_FALSE(comm.GetModemState(line));
  }
}

TEST_F(CommIo, ReadCharWaitsReadTimeoutThenTakesTheNextByte) {
  TSpComm comm;
  Quiet(comm);
  comm.Buffers().SetReadTimeout(50);
  comm.Open();
  char ch = 'k';
  EXPECT_FALSE(comm.ReadChar(ch));
  EXPECT_EQ(ch, 'k');
  // The timed-out read is over: the next byte goes to the next read, not the cancelled one.
  bench->SendFromDevice("COM3", "Z");
  ASSERT_TRUE(PumpUntil([&] { return comm.InQueCount() == 1; }, 5000));
  EXPECT_TRUE(comm.ReadChar(ch));
  EXPECT_EQ(ch, 'Z');
  EXPECT_EQ(comm.InQueCount(), 0);
}

TEST_F(CommIo, ReadThatTimesOutMidTransferLosesNoByte) {
  TSpComm comm;
  Quiet(comm);
  comm.SetBaudrate(br9600);  // about 1 ms a byte: the 5 ms gap never ends the read
  comm.Buffers().SetReadTimeout(30);
  comm.Open();
  std::string sent;
  for (int i = 0; i < 100; ++i) {
    sent += static_cast<char>('0' + i % 64);
  }
  bench->SendFromDevice("COM3", sent);
  char buffer[100] = {};
  std::int32_t total = comm.ReadBuf(buffer, 100);
  comm.Buffers().SetReadTimeout(5000);
  while (total < 100) {
    const std::int32_t more = comm.ReadBuf(buffer + total, 100 - total);
    if (more == 0) {
      break;
    }
    total += more;
  }
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(total)), sent);
}

TEST_F(CommIo, ReadEndedByAnErrorKeepsTheBytesItDelivered) {
  TSpComm comm;
  Quiet(comm);
  comm.Buffers().SetReadTimeout(10000);
  comm.Open();
  // No time limit on the port: the read waits for all four bytes, and only the error ends it.
  COMMTIMEOUTS none{};
  ASSERT_TRUE(win::SetCommTimeouts(comm.Handle(), &none));
  std::thread device([&] {
    bench->SendFromDevice("COM3", "abc");
    Sleep(500);  // the three bytes take 25 ms at 1200 baud
    bench->PullOut("COM3");
  });
  char buffer[4] = {};
  const std::int32_t read = comm.ReadBuf(buffer, 4);
  device.join();
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(std::max(read, 0))), "abc");
}

TEST_F(CommIo, ReadBufTakesWhatArrivedAndRefusesBadCounts) {
  TSpComm comm;
  Quiet(comm);
  comm.SetBaudrate(br115200);
  comm.Buffers().SetReadTimeout(200);
  comm.Open();
  bench->SendFromDevice("COM3", "hello");
  ASSERT_TRUE(PumpUntil([&] { return comm.InQueCount() == 5; }, 5000));
  char buffer[16] = {};
  EXPECT_EQ(comm.ReadBuf(buffer, -1), 0);
  EXPECT_EQ(comm.ReadBuf(nullptr, 3), 0);
  EXPECT_EQ(comm.InQueCount(), 5);
  EXPECT_EQ(comm.ReadBuf(buffer, 3), 3);
  EXPECT_EQ(std::string(buffer, 3), "hel");
  // Fewer bytes than asked: the read ends 5 ms after the last one.
  EXPECT_EQ(comm.ReadBuf(buffer, 16), 2);
  EXPECT_EQ(std::string(buffer, 2), "lo");
}

TEST_F(CommIo, DirectWriteSendsAndReportsTheCount) {
  TSpComm comm;
  Quiet(comm);
  comm.SetBaudrate(br115200);
  comm.Open();
  EXPECT_TRUE(comm.WriteText("U\x00x"));
  EXPECT_EQ(comm.WriteBuf("AB", 2), 2);
  EXPECT_EQ(comm.WriteBuf("AB", -3), 0);
  EXPECT_TRUE(comm.WriteText(""));
  EXPECT_EQ(Port().transmitted, "UAB");
}

TEST_F(CommIo, DirectWriteThatOutlastsReadTimeoutIsCancelled) {
  TSpComm comm;
  Quiet(comm);
  comm.SetBaudrate(br110);  // about 91 ms a byte
  comm.Buffers().SetReadTimeout(30);
  comm.Open();
  const std::string text(50, 'w');
  const std::int32_t written = comm.WriteBuf(text.data(), 50);
  EXPECT_LT(written, 50);
  // The port is usable again at once: nothing of the cancelled write is still pending.
  comm.Buffers().SetReadTimeout(5000);
  comm.SetBaudrate(br115200);
  EXPECT_EQ(comm.WriteBuf("k", 1), 1);
}

TEST_F(CommIo, WriteThroughTheThreadFailsWhenItCanNeverFit) {
  TSpComm comm;
  comm.SetDeviceName("COM3");
  comm.SetMonitorEvents({});
  comm.Buffers().SetWriteSize(16);
  comm.Buffers().SetWriteTimeout(20);
  comm.Open();
  const std::string text(17, 'x');
  EXPECT_EQ(CommErrorOf([&] { comm.WriteBuf(text.data(), 17); }),
            "Output buffer is full. Please check comm status.");
  EXPECT_EQ(comm.WriteBuf(text.data(), -1), 0);
  EXPECT_TRUE(comm.WriteText("U"));
  EXPECT_TRUE(PumpUntil([&] { return Port().transmitted == "U"; }, 5000));
}

TEST_F(CommIo, PurgeReadEmptiesInputAndLeavesOutputAlone) {
  TSpComm comm;
  comm.SetDeviceName("COM3");
  comm.SetMonitorEvents({});
  comm.SetBaudrate(br9600);
  comm.Open();
  bench->SendFromDevice("COM3", "abc");
  ASSERT_TRUE(PumpUntil([&] { return comm.InQueCount() == 3; }, 5000));
  const std::string text(40, 'o');  // about 40 ms on the wire
  ASSERT_TRUE(comm.WriteText(text));
  comm.PurgeRead();
  EXPECT_EQ(comm.InQueCount(), 0);
  EXPECT_TRUE(PumpUntil([&] { return Port().transmitted == text; }, 10000));
}

TEST_F(CommIo, SetDtrMovesTheLineUnlessItIsHandshake) {
  TSpComm comm;
  Quiet(comm);
  comm.Open();
  comm.SetDTR(true);
  EXPECT_TRUE(Port().dtr);
  comm.SetDTR(false);
  EXPECT_FALSE(Port().dtr);
  EXPECT_EQ(Port().dtrRaised, 1);

  const std::string refused = "DTR line updates not allowed when flowcontrol is set to Handshake.";
  comm.FlowControl().SetControlDtr(dtrHandshake);
  const auto escapes = [&] {
    const auto calls = Port().calls;
    return std::count(calls.begin(), calls.end(), "EscapeCommFunction");
  };
  const auto before = escapes();
  EXPECT_EQ(CommErrorOf([&] { comm.SetDTR(false); }), refused);
  comm.Close();
  EXPECT_EQ(CommErrorOf([&] { comm.SetDTR(true); }), refused);
  EXPECT_EQ(escapes(), before);
}

TEST_F(CommIo, ModemStateReportsEachLine) {
  bench::Wiring wiring;
  wiring.ctsHeldOn = true;
  wiring.dtrToDsr = true;
  wiring.carrier = bench::Carrier::FollowsDtr;
  bench->SetWiring("COM3", wiring);
  TSpComm comm;
  Quiet(comm);
  comm.Open();
  EXPECT_TRUE(comm.GetModemState(1));
  EXPECT_FALSE(comm.GetModemState(2));
  EXPECT_FALSE(comm.GetModemState(4));
  comm.SetDTR(true);
  EXPECT_TRUE(PumpUntil([&] { return comm.GetModemState(2) && comm.GetModemState(4); }, 5000));
  EXPECT_FALSE(comm.GetModemState(3));
  EXPECT_FALSE(comm.GetModemState(0));
  EXPECT_FALSE(comm.GetModemState(5));
  EXPECT_FALSE(comm.GetModemState(-2147483647 - 1));
}

TEST_F(CommIo, LineErrorsAreReportedOnceThroughOnError) {
  TSpComm comm;
  Quiet(comm);
  std::vector<DWORD> errors;
  comm.OnError = [&](TSpCustomComm& sender, DWORD flags) {
    EXPECT_EQ(&sender, &comm);
    errors.push_back(flags);
  };
  comm.Open();
  EXPECT_FALSE(comm.CheckLineErrors());
  bench->RaiseLineError("COM3", CE_FRAME | CE_OVERRUN);
  EXPECT_TRUE(PumpUntil([&] { return comm.CheckLineErrors(); }, 5000));
  EXPECT_EQ(errors, std::vector<DWORD>{CE_FRAME | CE_OVERRUN});
  EXPECT_FALSE(comm.CheckLineErrors());
  // Any status query takes the flags: they are not reported again.
  bench->RaiseLineError("COM3", CE_RXPARITY);
  EXPECT_TRUE(PumpUntil(
      [&] {
        CommStatus status;
        comm.ReadStatus(status);
        return status.Errors == CE_RXPARITY;
      },
      5000));
  EXPECT_FALSE(comm.CheckLineErrors());
  EXPECT_EQ(errors.size(), 1u);
}

TEST_F(CommIo, PulledOutDeviceFailsEachOperationWithItsOwnMessage) {
  TSpComm comm;
  Quiet(comm);
  comm.Open();
  bench->PullOut("COM3");
  const auto startsWith = [](const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
  };
  char ch = 0;
  EXPECT_TRUE(startsWith(CommErrorOf([&] { comm.ReadChar(ch); }), "Read error ("));
  EXPECT_TRUE(startsWith(CommErrorOf([&] { comm.WriteText("U"); }), "Write error ("));
  EXPECT_TRUE(startsWith(CommErrorOf([&] { comm.InQueCount(); }), "Error retrieving statistics ("));
  EXPECT_TRUE(startsWith(CommErrorOf([&] { comm.PurgeRead(); }), "Error clearing buffers ("));
  EXPECT_TRUE(startsWith(CommErrorOf([&] { comm.SetDTR(true); }), "Error calling comm function ("));
  EXPECT_TRUE(
      startsWith(CommErrorOf([&] { comm.GetModemState(1); }), "Error reading modem state ("));
  // The locks were released on the way out: another thread gets both (a leak would hang here).
  bool locked = false;
  std::thread other([&] {
    comm.LockRead();
    comm.UnlockRead();
    comm.LockWrite();
    comm.UnlockWrite();
    locked = true;
  });
  other.join();
  EXPECT_TRUE(locked);
}

}  // namespace
