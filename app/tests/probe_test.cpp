// The echo probe against the wirings of the bench: outcomes, what reaches the line, which ports
// are opened, the order of the rows, and devices pulled out in the middle of a probe.

#include <QTest>
#include <set>
#include <string>

#include "app/PortList.h"
#include "app/tests/AppTestSupport.h"
#include "discovery/ScanMessages.h"
#include "serial/SpComm.h"

namespace talvik_test {
namespace {

using namespace win;

using win::bench::Carrier;
using win::bench::Echo;
using win::bench::Wiring;

class ProbeTest : public AppTest {
 protected:
  // Scans a bench of the one port COM4 with `wiring`; returns its row.
  TPortRowView ProbeOne(const Wiring& wiring) {
    AddPort("COM4", wiring);
    CreateForm();
    EXPECT_TRUE(WaitForScans(1));
    const auto rows = Rows();
    EXPECT_EQ(rows.size(), 1u);
    return rows.empty() ? TPortRowView{} : rows[0];
  }
};

TEST_F(ProbeTest, NothingAttachedGivesNoTypeAfterBothPhases) {
  const TPortRowView row = ProbeOne({});
  EXPECT_EQ(row.Adapter, Cell(""));
  EXPECT_EQ(row.State, Cell("Свободен"));
  EXPECT_EQ(row.StateImage, 1);
  EXPECT_EQ(Form->PortList()->Object(0).AdapterType, -1);
  EXPECT_EQ(Form->ProbePhase(), 1);

  const win::bench::PortState state = Bench->State("COM4");
  EXPECT_EQ(state.opens, 2);  // the busy test of discovery, then the probe
  EXPECT_EQ(state.transmitted, std::string("U\0U\0", 4));
  EXPECT_EQ(state.dtrRaised, 1);
  EXPECT_FALSE(state.rts);
  EXPECT_EQ(state.dcb.BaudRate, 1200u);
  EXPECT_EQ(state.dcb.ByteSize, 8);
  EXPECT_EQ(state.dcb.Parity, NOPARITY);
  EXPECT_EQ(state.dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(win::DcbFlags(state.dcb), 1u);  // binary only: no handshake, DTR and RTS disabled
  EXPECT_FALSE(state.open);                 // FinishScan closed the last port
  EXPECT_FALSE(Form->SpComm1().Active());
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(ProbeTest, LoopBackEchoesWithDtrLow) {
  const TPortRowView row = ProbeOne(EchoWiring(Echo::Always));
  EXPECT_EQ(row.Adapter, Cell("Адаптер К-Лайн"));
  EXPECT_EQ(row.StateImage, 1);
  EXPECT_EQ(Form->PortList()->Object(0).AdapterType, 0);
  EXPECT_EQ(Form->ProbePhase(), 0);
  const win::bench::PortState state = Bench->State("COM4");
  EXPECT_EQ(state.dtrRaised, 0);
  // One probe message at most: the port may close before its 0x00 has left.
  EXPECT_EQ(state.transmitted.rfind('U'), 0u);
  EXPECT_LE(state.transmitted.size(), 2u);
}

TEST_F(ProbeTest, EchoOnlyWithDtrHighIsTypedByTheCarrier) {
  {
    const TPortRowView row = ProbeOne(EchoWiring(Echo::WhileDtrHigh, Carrier::On));
    EXPECT_EQ(row.Adapter, Cell("Кварион COM v1"));
    EXPECT_EQ(row.StateImage, 3);
    EXPECT_EQ(Form->PortList()->Object(0).AdapterType, 1);
    EXPECT_EQ(Form->ProbePhase(), 1);
  }
  TearDown();
  SetUp();
  {
    const TPortRowView row = ProbeOne(EchoWiring(Echo::WhileDtrHigh, Carrier::Off));
    EXPECT_EQ(row.Adapter, Cell("Адаптер К-Лайн"));
    EXPECT_EQ(Form->PortList()->Object(0).AdapterType, 0);
  }
  TearDown();
  SetUp();
  {
    // The carrier is read when the echo is handled, while DTR is still high.
    const TPortRowView row = ProbeOne(EchoWiring(Echo::WhileDtrHigh, Carrier::FollowsDtr));
    EXPECT_EQ(Form->PortList()->Object(0).AdapterType, 1);
    EXPECT_EQ(row.Adapter, Cell("Кварион COM v1"));
  }
}

TEST_F(ProbeTest, OnlyTheFirstByteIsJudged) {
  // Another byte instead of the echo: no echo in either phase.
  ProbeOne(EchoWiring(Echo::Always, Carrier::Off, "?"));
  EXPECT_EQ(Form->PortList()->Object(0).AdapterType, -1);
  EXPECT_EQ(Bench->State("COM4").dtrRaised, 1);
  TearDown();
  SetUp();
  // "U" first, then more: the echo counts and the rest is discarded.
  ProbeOne(EchoWiring(Echo::Always, Carrier::Off, "U?"));
  EXPECT_EQ(Form->PortList()->Object(0).AdapterType, 0);
  EXPECT_EQ(Bench->State("COM4").dtrRaised, 0);
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(ProbeTest, BusyAndTypedPortsAreNeverOpenedByTheProbe) {
  AddHeldPort("COM1");
  AddPort("COM2", {}, "BTHENUM\\{00001101-0000-1000-8000-00805f9b34fb}");
  Wiring cable;
  cable.rtsToCts = true;
  AddPort("COM3", cable, "USB", "USB Serial Port");
  CreateForm();
  ASSERT_TRUE(WaitForScans(1));

  EXPECT_EQ(Bench->State("COM1").opens, 0);
  EXPECT_EQ(Bench->State("COM2").opens, 0);
  EXPECT_EQ(Bench->State("COM2").refusedOpens, 0);
  // Discovery opens the USB port for its busy and loop tests; the probe never configures it.
  EXPECT_FALSE(Bench->State("COM3").dcbSet);
  EXPECT_TRUE(Bench->State("COM3").transmitted.empty());

  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].StateImage, 2);
  EXPECT_EQ(rows[0].Adapter, Cell(""));
  EXPECT_EQ(rows[1].StateImage, 2);
  EXPECT_EQ(rows[2].Adapter, Cell("Кварион USB v3"));
  EXPECT_EQ(rows[2].StateImage, 3);
  EXPECT_FALSE(Form->SpComm1().Active());
}

TEST_F(ProbeTest, RowsOfLaterPortsWaitForTheProbe) {
  AddPort("COM1");  // nothing attached
  AddHeldPort("COM2");
  AddPort("COM3", EchoWiring(Echo::Always));
  TForm1& form = CreateForm();

  ASSERT_TRUE(SpinUntil([&] { return form.SpComm1().Active(); }));
  EXPECT_EQ(form.SpComm1().DeviceName(), "COM1");
  EXPECT_EQ(form.Frame21().RowCount(), 0);
  ASSERT_TRUE(SpinUntil([&] { return form.Frame21().RowCount() >= 2 || ScansFinished > 0; }));
  EXPECT_EQ(Rows()[0].Port, Cell("COM1"));
  EXPECT_EQ(Rows()[1].Port, Cell("COM2"));

  ASSERT_TRUE(WaitForScans(1));
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2].Port, Cell("COM3"));
  EXPECT_EQ(rows[2].Adapter, Cell("Адаптер К-Лайн"));
  EXPECT_FALSE(Bench->State("COM1").open);
  EXPECT_FALSE(Bench->State("COM3").open);
}

TEST_F(ProbeTest, PortTakenSinceDiscoveryIsShownAndGetsABusyRow) {
  AddPort("COM1", EchoWiring(Echo::Always));
  AddPort("COM2", EchoWiring(Echo::Always));
  win::bench::Faults faults;
  faults.pullOutAt = win::bench::PullOutAt{"CreateFileA", 2};  // the probe's open
  Bench->SetFaults("COM1", faults);
  TForm1& form = CreateForm();
  // The port's removal came during the scan: one more scan follows, without it.
  ASSERT_TRUE(WaitForScans(2));

  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].type, MB_ICONERROR);
  EXPECT_NE(Boxes[0].text.find("COM1"), std::string::npos) << Boxes[0].text;
  const auto& rows = Reports[0];
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].State, Cell("Занят"));
  EXPECT_EQ(rows[1].Adapter, Cell("Адаптер К-Лайн"));
  ASSERT_EQ(Reports[1].size(), 1u);
  EXPECT_EQ(Reports[1][0].Port, Cell("COM2"));
  EXPECT_TRUE(form.ACheck().isEnabled());
}

TEST_F(ProbeTest, PortThatRefusesTheProbeSettingsStaysFree) {
  AddPort("COM1", EchoWiring(Echo::Always));
  AddPort("COM2", EchoWiring(Echo::Always));
  win::bench::Faults faults;
  faults.refuseCommState = true;
  Bench->SetFaults("COM1", faults);
  CreateForm();
  ASSERT_TRUE(WaitForScans(1));

  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_NE(Boxes[0].text.find("(87)"), std::string::npos) << Boxes[0].text;
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].State, Cell("Свободен"));
  EXPECT_EQ(rows[0].Adapter, Cell(""));
  EXPECT_FALSE(Form->PortList()->Object(0).Busy);
  EXPECT_EQ(Form->PortList()->Object(0).AdapterType, -1);
  EXPECT_EQ(rows[1].Adapter, Cell("Адаптер К-Лайн"));
  // The record keeps why nothing was found; the next port's does not inherit it.
  ASSERT_EQ(Form->Records().size(), 2u);
  EXPECT_EQ(Form->Records()[0].Kind, AdapterKind::NoneFound);
  EXPECT_EQ(Form->Records()[0].ProbeError, Boxes[0].text);
  EXPECT_EQ(Form->Records()[1].Kind, AdapterKind::KLine);
  EXPECT_EQ(Form->Records()[1].ProbeError, "");
}

TEST_F(ProbeTest, AFailedPhaseStepEndsThePhaseBeforeItsErrorIsShown) {
  AddPort("COM1");  // nothing attached
  TForm1& form = CreateForm();
  // While the error box is on screen, a "U" comes in and is handled in the box's own loop.
  UseModalBoxes(kScanTimeoutMs, [&](const RecordedBox&) { Bench->SendFromDevice("COM1", "U"); });
  ASSERT_TRUE(SpinUntil([&] { return form.SpComm1().Active(); }));
  // DTR comes under handshake control during the first phase, so the second cannot raise it.
  form.SpComm1().FlowControl().SetControlDtr(dtrHandshake);
  ASSERT_TRUE(WaitForScans(1));
  SpinFor(200);

  EXPECT_EQ(ScansFinished, 1);
  ASSERT_EQ(Rows().size(), 1u);
  EXPECT_EQ(form.PortList()->Object(0).AdapterType, -1);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].text, "DTR line updates not allowed when flowcontrol is set to Handshake.");
}

TEST_F(ProbeTest, OnePulledCableGivesOneMessage) {
  // Four of eight probed devices are pulled out, each at another step of its probe.
  const struct {
    const char* port;
    Echo echo;
    const char* call;
    int count;
  } devices[] = {
      {"COM1", Echo::None, "EscapeCommFunction", 1},  // lowering DTR in the first phase
      {"COM2", Echo::Always, nullptr, 0},
      {"COM3", Echo::None, "PurgeComm", 2},  // clearing the input in the second phase
      {"COM4", Echo::Always, nullptr, 0},
      {"COM5", Echo::None, "WriteFile", 1},  // the write thread's first write
      {"COM6", Echo::Always, nullptr, 0},
      {"COM7", Echo::Always, "ReadFile", 1},  // reading the echo
      {"COM8", Echo::Always, nullptr, 0},
  };
  for (const auto& device : devices) {
    AddPort(device.port, EchoWiring(device.echo));
    if (device.call != nullptr) {
      win::bench::Faults faults;
      faults.pullOutAt = win::bench::PullOutAt{device.call, device.count};
      Bench->SetFaults(device.port, faults);
    }
  }
  UseModalBoxes(kScanTimeoutMs);
  const int repeatedBefore = TApplication::RepeatedReports();
  CreateForm();
  ASSERT_TRUE(WaitForScans(2));  // the removals bring one more scan, without the pulled four

  std::set<std::string> texts;
  for (const RecordedBox& box : Boxes) {
    texts.insert(box.text);
  }
  EXPECT_EQ(Boxes.size(), texts.size());
  EXPECT_GT(TApplication::RepeatedReports(), repeatedBefore);
  EXPECT_EQ(Reports[1].size(), 4u);
  const auto& rows = Reports[0];
  ASSERT_EQ(rows.size(), 8u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const bool pulled = devices[i].call != nullptr;
    EXPECT_EQ(Bench->State(devices[i].port).pulledOut, pulled) << devices[i].port;
    EXPECT_EQ(rows[i].Adapter, Cell(pulled ? "" : "Адаптер К-Лайн")) << devices[i].port;
  }
}

// A device pulled out just before the n-th call of a kind: every such scan still finishes with
// a row for every port, the next port is probed as usual, and the scan that follows has the
// device gone.
struct PullOutCase {
  const char* call;
  int count;
  Echo echo;
  Carrier carrier;
};

class ProbePullOutTest : public ProbeTest, public ::testing::WithParamInterface<PullOutCase> {};

TEST_P(ProbePullOutTest, ScanStillFinishesWithEveryRow) {
  const PullOutCase& pull = GetParam();
  AddPort("COM1", EchoWiring(pull.echo, pull.carrier));
  AddPort("COM2", EchoWiring(Echo::Always));
  win::bench::Faults faults;
  faults.pullOutAt = win::bench::PullOutAt{pull.call, pull.count};
  Bench->SetFaults("COM1", faults);
  TForm1& form = CreateForm();
  // The removal came during the scan: one more scan follows, and its rows are the last.
  ASSERT_TRUE(WaitForScans(2));

  EXPECT_TRUE(Bench->State("COM1").pulledOut) << pull.call;
  const auto& rows = Reports[0];
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Port, Cell("COM1"));
  EXPECT_EQ(rows[1].Port, Cell("COM2"));
  EXPECT_EQ(rows[1].Adapter, Cell("Адаптер К-Лайн"));
  SpinFor(300);
  EXPECT_EQ(ScansFinished, 2);
  const auto last = Rows();
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(last[0].Port, Cell("COM2"));
  EXPECT_EQ(last[0].Adapter, Cell("Адаптер К-Лайн"));
  EXPECT_FALSE(form.Scanning());
  EXPECT_FALSE(form.SpComm1().Active());
  for (const RecordedBox& box : Boxes) {
    EXPECT_EQ(box.caption, "Тальвик");
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, ProbePullOutTest,
    ::testing::Values(PullOutCase{"CreateFileA", 2, Echo::None, Carrier::Off},
                      PullOutCase{"EscapeCommFunction", 1, Echo::None, Carrier::Off},
                      PullOutCase{"EscapeCommFunction", 2, Echo::None, Carrier::Off},
                      PullOutCase{"PurgeComm", 1, Echo::None, Carrier::Off},
                      PullOutCase{"PurgeComm", 2, Echo::None, Carrier::Off},
                      PullOutCase{"WriteFile", 1, Echo::None, Carrier::Off},
                      PullOutCase{"WriteFile", 2, Echo::None, Carrier::Off},
                      PullOutCase{"ReadFile", 1, Echo::Always, Carrier::Off},
                      PullOutCase{"GetCommModemStatus", 1, Echo::WhileDtrHigh, Carrier::On}),
    [](const ::testing::TestParamInfo<PullOutCase>& test) {
      return std::string(test.param.call) + std::to_string(test.param.count);
    });

TEST_F(ProbeTest, StaleOutcomesAreDropped) {
  AddPort("COM1");  // nothing attached
  TForm1& form = CreateForm();
  ASSERT_TRUE(SpinUntil([&] { return form.SpComm1().Active(); }));
  // An echo outcome that no phase of this probe posted is not taken as this port's.
  win::PostMessageA(form.Handle(), WM_PROBE_RESULT, 1, 0);
  ASSERT_TRUE(WaitForScans(1));
  ASSERT_EQ(form.PortList()->Object(0).AdapterType, -1);
  EXPECT_EQ(Bench->State("COM1").dtrRaised, 1);

  // No probe waits: neither an unmarked outcome nor one of the last phase changes anything.
  win::PostMessageA(form.Handle(), WM_PROBE_RESULT, 0, 0);
  win::PostMessageA(form.Handle(), WM_PROBE_RESULT, 1, 0);
  SpinFor(200);
  EXPECT_EQ(form.PortList()->Object(0).AdapterType, -1);
  EXPECT_EQ(form.Frame21().RowCount(), 1);
  EXPECT_FALSE(form.Scanning());
  EXPECT_FALSE(form.SpComm1().Active());
}

}  // namespace
}  // namespace talvik_test
