// Opening and closing the comm component, and what it writes to the driver on the way.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>

#include "serial/SpCommEventThread.h"
#include "serial/SpCommWriteThread.h"
#include "serial/tests/CommFixture.h"

using namespace win;

namespace {

using CommOpen = CommFixture;

int CountCalls(const bench::PortState& state, const std::string& name) {
  return static_cast<int>(std::count(state.calls.begin(), state.calls.end(), name));
}

TEST_F(CommOpen, OpenFailuresNameTheDeviceAndTheSystemText) {
  TSpComm comm;
  EXPECT_EQ(CommErrorOf([&] { comm.Open(); }), "Specified device not found (COM0).");
  EXPECT_FALSE(comm.Active());

  comm.SetDeviceName("%s%n");
  EXPECT_EQ(CommErrorOf([&] { comm.Open(); }), "Specified device not found (%s%n).");
  comm.SetDeviceName(std::string(10240, 'X'));
  EXPECT_EQ(CommErrorOf([&] { comm.Open(); }),
            "Specified device not found (" + std::string(10240, 'X') + ").");

  bench::Faults held;
  held.held = true;
  bench->SetFaults("COM3", held);
  comm.SetDeviceName("COM%d");
  comm.SetPortNum(3);
  EXPECT_EQ(CommErrorOf([&] { comm.Open(); }), "Can't open specified device COM3 (Error 5, " +
                                                   SysErrorMessage(ERROR_ACCESS_DENIED) + ")");
  EXPECT_FALSE(comm.Active());
}

TEST_F(CommOpen, RefusedControlBlockLeavesThePortClosedAndAbleToOpenAgain) {
  TSpComm comm;
  comm.SetDeviceName("COM3");
  bench::Faults faults;
  faults.refuseCommState = true;
  bench->SetFaults("COM3", faults);
  EXPECT_EQ(CommErrorOf([&] { comm.Open(); }),
            "Error writing dcb (87), " + SysErrorMessage(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(comm.Active());
  EXPECT_FALSE(Port().open);
  EXPECT_EQ(comm.EventThread(), nullptr);
  EXPECT_EQ(comm.WriteThread(), nullptr);

  faults = {};
  faults.refuseQueueSizes = true;
  bench->SetFaults("COM3", faults);
  EXPECT_EQ(CommErrorOf([&] { comm.Open(); }),
            "Error initializing buffers (87), " + SysErrorMessage(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(Port().open);

  bench->SetFaults("COM3", {});
  comm.Open();
  EXPECT_TRUE(comm.Active());
  EXPECT_TRUE(Port().open);
}

// Starts the threads as usual and then fails, as a thread creation error would.
class FailingStart : public TSpComm {
 public:
  std::shared_ptr<TSpCommEventThread> eventThread;
  std::shared_ptr<TSpCommWriteThread> writeThread;

 protected:
  void StartThreads() override {
    TSpComm::StartThreads();
    eventThread = EventThread();
    writeThread = WriteThread();
    throw ESpCommError("Thread creation error: test");
  }
};

TEST_F(CommOpen, FailureAfterThreadsStartedStopsThemBeforeClosing) {
  FailingStart comm;
  comm.SetDeviceName("COM3");
  EXPECT_EQ(CommErrorOf([&] { comm.Open(); }), "Thread creation error: test");
  EXPECT_FALSE(comm.Active());
  EXPECT_FALSE(Port().open);
  EXPECT_EQ(comm.EventThread(), nullptr);
  EXPECT_EQ(comm.WriteThread(), nullptr);
  ASSERT_NE(comm.eventThread, nullptr);
  ASSERT_NE(comm.writeThread, nullptr);
  EXPECT_TRUE(comm.eventThread->Terminated());
  EXPECT_TRUE(PumpUntil([&] { return comm.writeThread->Terminated(); }, 5000));
}

TEST_F(CommOpen, OpenOnAnOpenPortIsRefusedAndChangesNothing) {
  TSpComm comm;
  Quiet(comm);
  comm.Open();
  const HANDLE handle = comm.Handle();
  EXPECT_EQ(CommErrorOf([&] { comm.Open(); }), "Can't perform this operation while port is open");
  EXPECT_EQ(comm.Handle(), handle);
  EXPECT_TRUE(Port().open);
  EXPECT_EQ(Port().opens, 1);
}

TEST_F(CommOpen, OpenWritesTimeoutsQueueSizesAndDefaultMask) {
  TSpComm comm;
  comm.SetDeviceName("COM3");
  comm.Buffers().SetReadSize(512);
  comm.Buffers().SetWriteSize(256);
  comm.Open();
  const bench::PortState port = Port();
  EXPECT_EQ(port.timeouts.ReadIntervalTimeout, 5u);
  EXPECT_EQ(port.timeouts.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(port.timeouts.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(port.timeouts.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(port.timeouts.WriteTotalTimeoutConstant, 0u);
  EXPECT_EQ(port.inQueueSize, 512u);
  EXPECT_EQ(port.outQueueSize, 256u);
  // ceTxEmpty is monitored but reported by the write thread, not the driver.
  EXPECT_EQ(comm.EventMask(), 0x0081u);
  EXPECT_EQ(port.eventMask, 0x0081u);
  EXPECT_NE(comm.EventThread(), nullptr);
  EXPECT_NE(comm.WriteThread(), nullptr);
}

TEST_F(CommOpen, EventMaskDecidesWhichThreadsRun) {
  struct Case {
    TSpCommEvents events;
    bool directWrite;
    DWORD mask;
    bool eventThread;
    bool writeThread;
  };
  const Case cases[] = {
      {{}, false, 0, false, true},
      {{ceTxEmpty}, false, 0, false, true},
      {{ceTxEmpty}, true, EV_TXEMPTY, true, false},
      {{}, true, 0, false, false},
      {{ceBreak, ceCts, ceDsr, ceError, ceRing, ceRlsd, ceRxChar, ceTxEmpty, ceRxFlag, cePErr,
        ceRx80Full, ceEvent1, ceEvent2},
       true,
       0x1FFF,
       true,
       false},
      {{ceRing, ceEvent2}, false, EV_RING | EV_EVENT2, true, true},
  };
  for (const Case& c : cases) {
    TSpComm comm;
    comm.SetDeviceName("COM3");
    comm.SetMonitorEvents(c.events);
    comm.SetDirectWrite(c.directWrite);
    comm.Open();
    EXPECT_EQ(comm.EventMask(), c.mask);
    EXPECT_EQ(Port().eventMask, c.mask);
    EXPECT_EQ(comm.EventThread() != nullptr, c.eventThread) << c.mask;
    EXPECT_EQ(comm.WriteThread() != nullptr, c.writeThread) << c.mask;
  }
}

TEST_F(CommOpen, ControlBlockCarriesEverySetting) {
  TSpComm comm;
  Quiet(comm);
  comm.Open();
  DCB dcb = Port().dcb;
  EXPECT_EQ(DcbFlags(dcb), 0x0001u);  // fBinary only
  EXPECT_EQ(dcb.DCBlength, 0u);
  EXPECT_EQ(dcb.BaudRate, 1200u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.XonLim, 1024);
  EXPECT_EQ(dcb.XoffLim, 1024);
  EXPECT_EQ(dcb.XonChar, 17);
  EXPECT_EQ(dcb.XoffChar, 19);

  struct FlagCase {
    const char* what;
    void (*set)(TSpCustomComm&);
    DWORD bits;
  };
  const FlagCase flags[] = {
      {"OutCtsFlow", [](TSpCustomComm& c) { c.FlowControl().SetOutCtsFlow(true); }, 0x0004},
      {"OutDsrFlow", [](TSpCustomComm& c) { c.FlowControl().SetOutDsrFlow(true); }, 0x0008},
      {"XonXoffOut", [](TSpCustomComm& c) { c.FlowControl().SetXonXoffOut(true); }, 0x0100},
      {"XonXoffIn", [](TSpCustomComm& c) { c.FlowControl().SetXonXoffIn(true); }, 0x0200},
      {"dtrEnabled", [](TSpCustomComm& c) { c.FlowControl().SetControlDtr(dtrEnabled); }, 0x0010},
      {"dtrHandshake", [](TSpCustomComm& c) { c.FlowControl().SetControlDtr(dtrHandshake); },
       0x0020},
      {"rtsEnabled", [](TSpCustomComm& c) { c.FlowControl().SetControlRts(rtsEnabled); }, 0x1000},
      {"rtsHandshake", [](TSpCustomComm& c) { c.FlowControl().SetControlRts(rtsHandshake); },
       0x2000},
      {"rtsToggle", [](TSpCustomComm& c) { c.FlowControl().SetControlRts(rtsToggle); }, 0x3000},
      {"DsrSensitivity", [](TSpCustomComm& c) { c.FlowControl().SetDsrSensitivity(true); }, 0x0040},
      {"TxContinueOnXoff", [](TSpCustomComm& c) { c.FlowControl().SetTxContinueOnXoff(true); },
       0x0080},
      {"coErrorChar", [](TSpCustomComm& c) { c.SetOptions({coErrorChar}); }, 0x0400},
      {"coNullStrip", [](TSpCustomComm& c) { c.SetOptions({coNullStrip}); }, 0x0800},
      {"coParityCheck", [](TSpCustomComm& c) { c.SetOptions({coParityCheck}); }, 0x0002},
  };
  for (const FlagCase& flag : flags) {
    comm.SetFlowControl(TSpFlowControl());
    comm.SetOptions({});
    flag.set(comm);
    EXPECT_EQ(DcbFlags(Port().dcb), 0x0001u | flag.bits) << flag.what;
  }

  comm.SetBaudrate(br256000);
  comm.SetDatabits(db5);
  comm.SetParity(paSpace);
  comm.SetStopbits(sb15);
  comm.EventChars().SetErrorChar('?');
  comm.EventChars().SetEofChar(26);
  comm.EventChars().SetEventChar('\r');
  comm.EventChars().SetXonChar('Q');
  comm.EventChars().SetXoffChar('S');
  dcb = Port().dcb;
  EXPECT_EQ(dcb.BaudRate, 256000u);
  EXPECT_EQ(dcb.ByteSize, 5);
  EXPECT_EQ(dcb.Parity, SPACEPARITY);
  EXPECT_EQ(dcb.StopBits, ONE5STOPBITS);
  EXPECT_EQ(dcb.ErrorChar, '?');
  EXPECT_EQ(dcb.EofChar, 26);
  EXPECT_EQ(dcb.EvtChar, '\r');
  EXPECT_EQ(dcb.XonChar, 'Q');
  EXPECT_EQ(dcb.XoffChar, 'S');
}

TEST_F(CommOpen, BufferLimitsReachTheControlBlockAtTheNextOpen) {
  TSpComm comm;
  Quiet(comm);
  comm.Buffers().SetXonLimit(70000);  // 16-bit field: 70000 - 65536
  comm.Buffers().SetXoffLimit(12);
  comm.Open();
  EXPECT_EQ(Port().dcb.XonLim, 4464);
  EXPECT_EQ(Port().dcb.XoffLim, 12);
}

TEST_F(CommOpen, BaudrateAndUserBaudrateSelectEachOther) {
  TSpComm comm;
  Quiet(comm);
  comm.Open();
  const int writes = Port().dcbWrites;
  comm.SetBaudrate(br1200);
  EXPECT_EQ(Port().dcbWrites, writes);

  comm.SetUserBaudrate(12345);
  EXPECT_EQ(comm.Baudrate(), brUser);
  EXPECT_EQ(Port().dcb.BaudRate, 12345u);
  comm.SetBaudrate(br9600);
  EXPECT_EQ(comm.UserBaudrate(), 0);
  EXPECT_EQ(Port().dcb.BaudRate, 9600u);

  // A rate the driver refuses raises with the new value stored; the device keeps the old one.
  bench::Faults faults;
  faults.refusedBaudRates = {57600};
  bench->SetFaults("COM3", faults);
  EXPECT_EQ(CommErrorOf([&] { comm.SetBaudrate(br57600); }),
            "Error writing dcb (87), " + SysErrorMessage(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(comm.Baudrate(), br57600);
  EXPECT_EQ(Port().dcb.BaudRate, 9600u);
}

TEST_F(CommOpen, WithoutUpdateDcbTheControlBlockIsNeverWritten) {
  TSpComm comm;
  Quiet(comm);
  comm.SetUpdateDCB(false);
  comm.Open();
  comm.SetBaudrate(br9600);
  comm.SetUserBaudrate(777);
  comm.FlowControl().SetOutCtsFlow(true);
  comm.EventChars().SetEofChar('x');
  comm.SetOptions({coNullStrip});
  EXPECT_EQ(CountCalls(Port(), "SetCommState"), 0);
  EXPECT_FALSE(Port().dcbSet);
}

TEST_F(CommOpen, SettersThatNeedAClosedPortRefuseAndKeepTheOldValue) {
  TSpComm comm;
  Quiet(comm);
  comm.Open();
  const std::string refused = "Can't perform this operation while port is open";
  EXPECT_EQ(CommErrorOf([&] { comm.SetPortNum(4); }), refused);
  EXPECT_EQ(CommErrorOf([&] { comm.SetDeviceName("COM4"); }), refused);
  EXPECT_EQ(CommErrorOf([&] { comm.SetMonitorEvents({ceCts}); }), refused);
  EXPECT_EQ(CommErrorOf([&] { comm.SetDirectWrite(false); }), refused);
  EXPECT_EQ(CommErrorOf([&] { comm.SetUpdateDCB(false); }), refused);
  TSpBuffers other;
  other.SetReadSize(1);
  EXPECT_EQ(CommErrorOf([&] { comm.SetBuffers(other); }), refused);
  EXPECT_EQ(comm.PortNum(), 0);
  EXPECT_EQ(comm.DeviceName(), "COM3");
  EXPECT_TRUE(comm.MonitorEvents().empty());
  EXPECT_TRUE(comm.DirectWrite());
  EXPECT_TRUE(comm.UpdateDCB());
  EXPECT_EQ(comm.Buffers().ReadSize(), 4096);

  // A member of Buffers is stored first, then refused; it takes effect at the next open.
  EXPECT_EQ(CommErrorOf([&] { comm.Buffers().SetReadSize(100); }), refused);
  EXPECT_EQ(comm.Buffers().ReadSize(), 100);
  EXPECT_EQ(Port().inQueueSize, 4096u);
  comm.Close();
  comm.Open();
  EXPECT_EQ(Port().inQueueSize, 100u);
}

TEST_F(CommOpen, PrioritiesApplyToRunningThreads) {
  TSpComm comm;
  comm.SetDeviceName("COM3");
  comm.SetEventPriority(tpLower);
  comm.Open();
  ASSERT_NE(comm.EventThread(), nullptr);
  ASSERT_NE(comm.WriteThread(), nullptr);
  EXPECT_EQ(comm.EventThread()->Priority(), tpLower);
  EXPECT_EQ(comm.WriteThread()->Priority(), tpHighest);
  comm.SetEventPriority(tpHigher);
  comm.SetWritePriority(tpIdle);
  EXPECT_EQ(comm.EventThread()->Priority(), tpHigher);
  EXPECT_EQ(comm.WriteThread()->Priority(), tpIdle);
}

TEST_F(CommOpen, OpenHandlerExceptionIsReportedAndOpenSucceeds) {
  TSpComm comm;
  Quiet(comm);
  int opened = 0;
  comm.OnOpen = [&](TSpCustomComm& sender) {
    EXPECT_EQ(&sender, &comm);
    ++opened;
    throw std::runtime_error("handler failed");
  };
  comm.Open();
  EXPECT_EQ(opened, 1);
  EXPECT_TRUE(comm.Active());
  EXPECT_EQ(reported, std::vector<std::string>{"handler failed"});
}

TEST_F(CommOpen, CloseStopsTheThreadsClosesAndPauses) {
  TSpComm comm;
  comm.SetDeviceName("COM3");
  int closed = 0;
  comm.OnClose = [&](TSpCustomComm&) {
    EXPECT_FALSE(comm.Active());
    ++closed;
  };
  comm.Close();  // closed port: nothing
  EXPECT_EQ(closed, 0);
  comm.Open();
  const auto start = std::chrono::steady_clock::now();
  comm.Close();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(300));
  EXPECT_EQ(closed, 1);
  EXPECT_FALSE(comm.Active());
  EXPECT_FALSE(Port().open);
  EXPECT_EQ(comm.EventThread(), nullptr);
  EXPECT_EQ(comm.WriteThread(), nullptr);
}

TEST_F(CommOpen, CloseHandlerExceptionReachesTheCallerWithThePortClosed) {
  TSpComm comm;
  Quiet(comm);
  comm.OnClose = [](TSpCustomComm&) { throw std::runtime_error("close failed"); };
  comm.Open();
  EXPECT_THROW(comm.Close(), std::runtime_error);
  EXPECT_FALSE(comm.Active());
  EXPECT_FALSE(Port().open);
}

TEST_F(CommOpen, DestroyingAnOpenComponentClosesWithoutOnClose) {
  int closed = 0;
  {
    TSpComm comm;
    comm.SetDeviceName("COM3");
    comm.OnClose = [&](TSpCustomComm&) { ++closed; };
    comm.Open();
  }
  EXPECT_EQ(closed, 0);
  EXPECT_FALSE(Port().open);
}

}  // namespace
