// What hangs on a bench port (echo, answers, modem-line loops, carrier) and the events it raises.

#include "testing/BenchTestSupport.h"

namespace bench_test {
namespace {

using win::bench::BenchWorld;
using win::bench::Carrier;
using win::bench::Device;
using win::bench::Echo;
using win::bench::MakePort;
using win::bench::UseBench;
using win::bench::Wiring;

class BenchWiringTest : public ::testing::Test {
 protected:
  void Add(const std::string& name, Wiring wiring) {
    Device device = MakePort(name, "Test Port", "FTDIBUS");
    device.wiring = std::move(wiring);
    bench.AddDevice(std::move(device));
  }

  // Writes `bytes` and collects what comes back within `ms`.
  static std::string Exchange(Port& port, const std::string& bytes, DWORD ms = 300) {
    Io write;
    Io read;
    DWORD count = 0;
    if (!win::WriteFile(port.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &count,
                        &write.ov)) {
      EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    }
    EXPECT_TRUE(win::GetOverlappedResult(port.get(), &write.ov, &count, TRUE));
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    win::SetCommTimeouts(port.get(), &timeouts);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    char buffer[64] = {};
    EXPECT_TRUE(win::ReadFile(port.get(), buffer, sizeof buffer, &count, &read.ov));
    return std::string(buffer, count);
  }

  BenchWorld& bench = UseBench();
};

TEST_F(BenchWiringTest, EchoAlwaysAndOnlyWhileDtrIsHigh) {
  Wiring always;
  always.echo = Echo::Always;
  Add("COM3", always);
  Wiring gated;
  gated.echo = Echo::WhileDtrHigh;
  Add("COM8", gated);
  Add("COM4", Wiring{});

  Port loop("COM3");
  loop.Configure(9600);
  EXPECT_EQ(Exchange(loop, std::string("U\0", 2)), std::string("U\0", 2));

  Port cable("COM8");
  cable.Configure(9600);
  EXPECT_EQ(Exchange(cable, "U"), "");  // DTR is low after the open
  ASSERT_TRUE(win::EscapeCommFunction(cable.get(), SETDTR));
  EXPECT_EQ(Exchange(cable, "U"), "U");
  EXPECT_EQ(bench.State("COM8").dtrRaised, 1);

  Port empty("COM4");
  empty.Configure(9600);
  EXPECT_EQ(Exchange(empty, "U"), "");
  EXPECT_EQ(bench.State("COM4").transmitted, "U");
}

TEST_F(BenchWiringTest, AnswerAndLatencyComeFromTheDevice) {
  Wiring wiring;
  wiring.echo = Echo::Always;
  wiring.answer = "?!";
  wiring.latencyMs = 40;
  Add("COM10", wiring);
  Port port("COM10");
  port.Configure(9600, 0);
  Io write;
  Io read;
  DWORD count = 0;
  char buffer[4] = {};
  ASSERT_FALSE(win::ReadFile(port.get(), buffer, 4, &count, &read.ov));
  const auto start = Clock::now();
  ASSERT_FALSE(win::WriteFile(port.get(), "AB", 2, &count, &write.ov));
  ASSERT_TRUE(win::GetOverlappedResult(port.get(), &read.ov, &count, TRUE));
  // Two characters out, 40 ms, then the second answer of two characters is complete.
  const double charMs = 10.0 * 1000.0 / 9600.0;
  EXPECT_GE(MillisSince(start), 2 * charMs + 40 + 2 * charMs - 0.5);
  EXPECT_EQ(std::string(buffer, count), "?!?!");
}

TEST_F(BenchWiringTest, ModemLinesFollowTheLoops) {
  Wiring v2;
  v2.rtsToCts = true;
  v2.dtrToDsr = true;
  Add("COM6", v2);
  Wiring carrier;
  carrier.carrier = Carrier::FollowsDtr;
  carrier.ctsHeldOn = true;
  Add("COM8", carrier);

  Port port("COM6", false);
  ASSERT_TRUE(port.valid());
  EXPECT_EQ(port.ModemStatus(), 0u);
  ASSERT_TRUE(win::EscapeCommFunction(port.get(), SETRTS));
  EXPECT_EQ(port.ModemStatus(), MS_CTS_ON);  // at once, no delay
  ASSERT_TRUE(win::EscapeCommFunction(port.get(), SETDTR));
  EXPECT_EQ(port.ModemStatus(), MS_CTS_ON | MS_DSR_ON);
  ASSERT_TRUE(win::EscapeCommFunction(port.get(), CLRRTS));
  EXPECT_EQ(port.ModemStatus(), MS_DSR_ON);
  EXPECT_FALSE(win::EscapeCommFunction(port.get(), 77));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  port.Close();

  // A new open starts with both outputs low again.
  Port again("COM6");
  EXPECT_EQ(again.ModemStatus(), 0u);
  again.Close();

  Port other("COM8");
  EXPECT_EQ(other.ModemStatus(), MS_CTS_ON);
  ASSERT_TRUE(win::EscapeCommFunction(other.get(), SETDTR));
  EXPECT_EQ(other.ModemStatus(), MS_CTS_ON | MS_RLSD_ON);
  // The control block's DTR control drives the line too.
  DCB dcb{};
  ASSERT_TRUE(win::GetCommState(other.get(), &dcb));
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  ASSERT_TRUE(win::SetCommState(other.get(), &dcb));
  EXPECT_EQ(other.ModemStatus(), MS_CTS_ON);

  // Rewiring an open port takes effect at once.
  Wiring off;
  bench.SetWiring("COM8", off);
  EXPECT_EQ(other.ModemStatus(), 0u);
}

TEST_F(BenchWiringTest, OnlyOutputChangesThatMoveAnInputRaiseEvents) {
  Wiring wiring;
  wiring.rtsToCts = true;
  wiring.carrier = Carrier::FollowsDtr;
  Add("COM7", wiring);
  Io io;
  Port port("COM7");
  DWORD mask = 0xFFFF;
  ASSERT_TRUE(win::SetCommMask(port.get(), EV_CTS | EV_RLSD));
  ASSERT_FALSE(win::WaitCommEvent(port.get(), &mask, &io.ov));
  ASSERT_TRUE(win::EscapeCommFunction(port.get(), SETRTS));
  ASSERT_TRUE(io.Signalled(1000));
  EXPECT_EQ(mask, EV_CTS);
  // An output change that moves no input raises nothing; DTR moves the carrier.
  ASSERT_FALSE(win::WaitCommEvent(port.get(), &mask, &io.ov));
  ASSERT_TRUE(win::EscapeCommFunction(port.get(), SETRTS));
  EXPECT_FALSE(io.Signalled(20));
  ASSERT_TRUE(win::EscapeCommFunction(port.get(), SETDTR));
  ASSERT_TRUE(io.Signalled(1000));
  EXPECT_EQ(mask, EV_RLSD);
}

TEST_F(BenchWiringTest, TransmitEmptyAndCtsFlowControl) {
  Wiring wiring;
  wiring.rtsToCts = true;
  Add("COM7", wiring);
  Io wait;
  Io write;
  Port port("COM7");
  port.Configure(115200);
  DCB dcb{};
  ASSERT_TRUE(win::GetCommState(port.get(), &dcb));
  dcb.fOutxCtsFlow = 1;
  ASSERT_TRUE(win::SetCommState(port.get(), &dcb));
  ASSERT_TRUE(win::SetCommMask(port.get(), EV_TXEMPTY));

  DWORD mask = 0;
  DWORD count = 0;
  ASSERT_FALSE(win::WaitCommEvent(port.get(), &mask, &wait.ov));
  ASSERT_FALSE(win::WriteFile(port.get(), "held", 4, &count, &write.ov));
  // CTS is off (RTS low): nothing leaves.
  EXPECT_FALSE(write.Signalled(50));
  COMSTAT status{};
  ASSERT_TRUE(win::ClearCommError(port.get(), nullptr, &status));
  EXPECT_EQ(status.cbOutQue, 4u);
  EXPECT_EQ(status.fCtsHold, 1u);
  EXPECT_EQ(bench.State("COM7").transmitted, "");

  ASSERT_TRUE(win::EscapeCommFunction(port.get(), SETRTS));
  ASSERT_TRUE(win::GetOverlappedResult(port.get(), &write.ov, &count, TRUE));
  EXPECT_EQ(count, 4u);
  ASSERT_TRUE(wait.Signalled(1000));
  EXPECT_EQ(mask, EV_TXEMPTY);
  EXPECT_EQ(bench.State("COM7").transmitted, "held");
}

}  // namespace
}  // namespace bench_test
