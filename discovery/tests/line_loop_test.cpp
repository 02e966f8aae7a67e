#include <gtest/gtest.h>

#include <algorithm>

#include "discovery/LineLoopTest.h"
#include "discovery/PortHandle.h"
#include "discovery/tests/DiscoveryFixture.h"

using namespace win;

namespace {

class LineLoopTest : public DiscoveryTest {
 protected:
  std::int32_t TestPort(const bench::Wiring& wiring) {
    bench->Reset();
    bench::Device device = bench::MakePort("COM7", "USB Serial Port", "USB");
    device.wiring = wiring;
    bench->AddDevice(device);
    return TestUsbLineLoops("USB Serial Port (COM7)");
  }

  static int Count(const std::vector<std::string>& calls, const std::string& name) {
    return static_cast<int>(std::count(calls.begin(), calls.end(), name));
  }
};

TEST_F(LineLoopTest, ClassifiesTheWiring) {
  EXPECT_EQ(TestPort({}), 0);
  EXPECT_EQ(bench->State("COM7").dtrRaised, 0);

  bench::Wiring rtsOnly;
  rtsOnly.rtsToCts = true;
  EXPECT_EQ(TestPort(rtsOnly), 3);

  bench::Wiring both = rtsOnly;
  both.dtrToDsr = true;
  EXPECT_EQ(TestPort(both), 2);
  const bench::PortState state = bench->State("COM7");
  EXPECT_FALSE(state.open);
  EXPECT_FALSE(state.rts) << "every raised line is lowered again";
  EXPECT_FALSE(state.dtr);
  EXPECT_EQ(state.rtsRaised, 1);
  EXPECT_EQ(state.dtrRaised, 1);
  EXPECT_EQ(state.dcbWrites, 0) << "the port's settings are not touched";

  bench::Wiring dtrOnly;
  dtrOnly.dtrToDsr = true;
  EXPECT_EQ(TestPort(dtrOnly), 0);
  EXPECT_EQ(bench->State("COM7").dtrRaised, 0) << "no DTR test without the RTS loop";
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(LineLoopTest, CtsHeldOnReadsAsALoopFromOneRead) {
  bench::Wiring held;
  held.ctsHeldOn = true;
  EXPECT_EQ(TestPort(held), 3);
  const bench::PortState state = bench->State("COM7");
  EXPECT_EQ(Count(state.calls, "GetCommModemStatus"), 2) << "one CTS read, one DSR read";
  const auto firstRead = std::find(state.calls.begin(), state.calls.end(), "GetCommModemStatus");
  ASSERT_NE(firstRead, state.calls.begin());
  EXPECT_EQ(*(firstRead - 1), "EscapeCommFunction") << "CTS is read with RTS raised";
}

TEST_F(LineLoopTest, NamesThatNameNoPortOpenNothing) {
  bench::Wiring both;
  both.rtsToCts = true;
  both.dtrToDsr = true;
  TestPort(both);
  const int opens = bench->State("COM7").opens;
  EXPECT_EQ(TestUsbLineLoops("USB Serial Port (com7)"), 0);
  EXPECT_EQ(TestUsbLineLoops("COM7 without a group"), 0);
  EXPECT_EQ(TestUsbLineLoops("%s%n (COM%s)"), 0);
  EXPECT_EQ(TestUsbLineLoops(std::string(70000, 'C') + "COM (COM7" + std::string(70000, '(')), 0);
  EXPECT_EQ(bench->State("COM7").opens, opens);

  bench::Faults held;
  held.held = true;
  bench->SetFaults("COM7", held);
  EXPECT_EQ(TestUsbLineLoops("USB Serial Port (COM7)"), 0);
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(LineLoopTest, ModemLinesOutsideTheTableReadAsOff) {
  bench::Device device = bench::MakePort("COM7", "USB Serial Port", "USB");
  device.wiring.ctsHeldOn = true;
  device.wiring.carrier = bench::Carrier::On;
  bench->AddDevice(device);
  const TPortHandle port("COM7");
  ASSERT_TRUE(port.Valid());
  EXPECT_TRUE(ModemLineIsSet(port.Handle(), 1));
  EXPECT_FALSE(ModemLineIsSet(port.Handle(), 2));
  EXPECT_TRUE(ModemLineIsSet(port.Handle(), 4));
  for (const std::int32_t line : {0, 5, -1, 1000000}) {
    EXPECT_FALSE(ModemLineIsSet(port.Handle(), line)) << line;
  }
  EXPECT_FALSE(ModemLineIsSet(INVALID_HANDLE_VALUE, 1)) << "a failed status read is all off";
}

}  // namespace
