// The stored settings of the comm component: defaults, text form, round trip, loading.

#include <gtest/gtest.h>

#include <string>

#include "serial/SpStoredProperties.h"
#include "serial/tests/CommFixture.h"

using namespace win;

namespace {

using CommStored = CommFixture;

std::string ReadError(TSpCustomComm& comm, const std::string& text) {
  try {
    comm.ReadStoredProperties(text);
  } catch (const EReadError& error) {
    return error.what();
  }
  return "";
}

TEST_F(CommStored, NewComponentHasTheDefaults) {
  TSpComm comm;
  EXPECT_FALSE(comm.Active());
  EXPECT_EQ(comm.Handle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(comm.AutoOpen());
  EXPECT_EQ(comm.Baudrate(), br1200);
  EXPECT_EQ(comm.Parity(), paNone);
  EXPECT_EQ(comm.Databits(), db8);
  EXPECT_EQ(comm.Stopbits(), sb1);
  EXPECT_TRUE(comm.Options().empty());
  EXPECT_EQ(comm.PortNum(), 0);
  EXPECT_EQ(comm.DeviceName(), "COM%d");
  EXPECT_EQ(comm.ExpandedDeviceName(), "COM0");
  EXPECT_EQ(comm.MonitorEvents(), (TSpCommEvents{ceError, ceRxChar, ceTxEmpty}));
  EXPECT_EQ(comm.EventPriority(), tpNormal);
  EXPECT_EQ(comm.WritePriority(), tpHighest);
  EXPECT_FALSE(comm.DirectWrite());
  EXPECT_TRUE(comm.UpdateDCB());
  EXPECT_EQ(comm.UserBaudrate(), 0);
  EXPECT_EQ(comm.Display(), nullptr);
  EXPECT_EQ(comm.EventThread(), nullptr);
  EXPECT_EQ(comm.WriteThread(), nullptr);
  EXPECT_FALSE(comm.OnRxChar);
}

TEST_F(CommStored, DefaultsStoreOnlyFlowControlAndDeviceName) {
  TSpComm comm;
  EXPECT_EQ(comm.WriteStoredProperties(),
            "FlowControl.OutCtsFlow = False\n"
            "FlowControl.OutDsrFlow = False\n"
            "FlowControl.ControlDtr = dtrDisabled\n"
            "FlowControl.ControlRts = rtsDisabled\n"
            "FlowControl.XonXoffOut = False\n"
            "FlowControl.XonXoffIn = False\n"
            "FlowControl.DsrSensitivity = False\n"
            "FlowControl.TxContinueOnXoff = False\n"
            "DeviceName = 'COM%d'\n");
}

TEST_F(CommStored, EverySettingSurvivesARoundTrip) {
  TSpComm source;
  source.SetName("SpComm1");
  source.SetTag(-7);
  source.SetBaudrate(br57600);
  source.SetParity(paMark);
  source.SetDatabits(db7);
  source.SetStopbits(sb2);
  source.EventChars().SetXonChar('A');
  source.EventChars().SetEofChar('\'');
  source.EventChars().SetEventChar(static_cast<char>(0xFF));
  source.FlowControl().SetControlDtr(dtrHandshake);
  source.FlowControl().SetControlRts(rtsToggle);
  source.FlowControl().SetXonXoffIn(true);
  source.SetOptions({coNullStrip, coParityCheck});
  source.SetPortNum(12);
  source.SetDeviceName("it's \"COM%d\"\t\xD0\x9F");
  source.SetMonitorEvents({ceBreak, ceEvent2});
  source.Buffers().SetReadSize(1);
  source.Buffers().SetWriteTimeout(2147483647);
  source.Buffers().SetXoffLimit(0);
  source.SetEventPriority(tpTimeCritical);
  source.SetWritePriority(tpIdle);
  source.SetDirectWrite(true);
  source.SetUpdateDCB(false);
  const std::string stored = source.WriteStoredProperties();

  TSpComm copy;
  copy.ReadStoredProperties(stored);
  EXPECT_EQ(copy.WriteStoredProperties(), stored);
  EXPECT_EQ(copy.Name(), "SpComm1");
  EXPECT_EQ(copy.Tag(), -7);
  EXPECT_EQ(copy.Baudrate(), br57600);
  EXPECT_EQ(copy.EventChars().EofChar(), '\'');
  EXPECT_EQ(copy.EventChars().EventChar(), static_cast<char>(0xFF));
  EXPECT_EQ(copy.FlowControl().ControlRts(), rtsToggle);
  EXPECT_EQ(copy.Options(), (TSpCommOptions{coNullStrip, coParityCheck}));
  EXPECT_EQ(copy.DeviceName(), "it's \"COM%d\"\t\xD0\x9F");
  EXPECT_EQ(copy.MonitorEvents(), (TSpCommEvents{ceBreak, ceEvent2}));
  EXPECT_EQ(copy.Buffers().WriteTimeout(), 2147483647);
  EXPECT_EQ(copy.Buffers().XoffLimit(), 0);
  EXPECT_EQ(copy.WritePriority(), tpIdle);
  EXPECT_FALSE(copy.UpdateDCB());
  EXPECT_FALSE(copy.IsLoading());
  EXPECT_FALSE(copy.Active());

  TSpComm user;
  user.SetUserBaudrate(31250);
  TSpComm userCopy;
  userCopy.ReadStoredProperties(user.WriteStoredProperties());
  EXPECT_EQ(userCopy.Baudrate(), brUser);
  EXPECT_EQ(userCopy.UserBaudrate(), 31250);
}

TEST_F(CommStored, AutoOpenOpensAtTheEndOfLoading) {
  TSpComm comm;
  comm.ReadStoredProperties(
      "AutoOpen = True\n"
      "DeviceName = 'COM3'\r\n"
      "\n"
      "MonitorEvents = []\n"
      "directwrite = true\n");
  EXPECT_TRUE(comm.Active());
  EXPECT_TRUE(Port().open);
  EXPECT_FALSE(comm.IsLoading());

  // A failing open reaches whoever loads.
  TSpComm missing;
  EXPECT_EQ(CommErrorOf([&] { missing.ReadStoredProperties("AutoOpen = True\nPortNum = 9\n"); }),
            "Specified device not found (COM9).");
}

TEST_F(CommStored, BadTextIsRefusedByLineAndSetsNothing) {
  TSpComm comm;
  EXPECT_EQ(ReadError(comm, "Baudrate = br9600\nParity = paWrong\n"),
            "Line 2: Parity: 'paWrong' is not one of [paNone, paOdd, paEven, paMark, paSpace]");
  EXPECT_EQ(comm.Baudrate(), br1200);
  EXPECT_EQ(ReadError(comm, "\nColour = 'red'"), "Line 2: unknown property 'Colour'");
  EXPECT_EQ(ReadError(comm, "Baudrate br9600"),
            "Line 1: expected 'Name = Value', found 'Baudrate br9600'");
  EXPECT_EQ(ReadError(comm, "PortNum = 2147483648"),
            "Line 1: PortNum: '2147483648' is not an integer in 0..2147483647");
  EXPECT_EQ(ReadError(comm, "DeviceName = 'COM3"), "Line 1: DeviceName: unterminated string 'COM3");
  EXPECT_EQ(ReadError(comm, "EventChars.XonChar = #256"),
            "Line 1: EventChars.XonChar: bad character code in #256");
  EXPECT_EQ(ReadError(comm, "MonitorEvents = [ceCts, ceNothing]").substr(0, 52),
            "Line 1: MonitorEvents: 'ceNothing' is not one of [ce");
  EXPECT_EQ(ReadError(comm, "AutoOpen = Yes"), "Line 1: AutoOpen: 'Yes' is not True or False");
  EXPECT_EQ(ReadError(comm, "AutoOpen ="), "Line 1: AutoOpen: missing value");
  EXPECT_EQ(comm.WriteStoredProperties(), TSpComm().WriteStoredProperties());
  EXPECT_FALSE(comm.IsLoading());
}

TEST_F(CommStored, LoadingIntoAnOpenPortNamesTheRefusedLine) {
  TSpComm comm;
  Quiet(comm);
  comm.Open();
  EXPECT_EQ(ReadError(comm, "Baudrate = br9600\nPortNum = 4\n"),
            "Line 2: PortNum: Can't perform this operation while port is open");
  EXPECT_EQ(comm.Baudrate(), br9600);
  EXPECT_EQ(comm.PortNum(), 0);
  EXPECT_FALSE(comm.IsLoading());
}

}  // namespace
