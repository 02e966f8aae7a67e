// What the host world does beyond the driver contract, on a pseudo-terminal standing in for a
// USB serial port: the control block as termios, what a tty cannot honour, NUL stripping.

#include <gtest/gtest.h>
#include <termios.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/host/HostTermios.h"
#include "platform/host/HostWorld.h"
#include "testing/HostFakeTree.h"
#include "testing/HostPty.h"

namespace win::host {
namespace {

using testing::FakeHostTree;
using testing::Pty;
using testing::UsbAdapter;

constexpr DWORD kLongWaitMs = 10000;  // only ever reached when something is broken

// An OVERLAPPED with its own manual-reset event.
struct Overlapped : OVERLAPPED {
  Overlapped() : OVERLAPPED{} { hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~Overlapped() { CloseHandle(hEvent); }
  Overlapped(const Overlapped&) = delete;
  Overlapped& operator=(const Overlapped&) = delete;

  bool Done(DWORD ms = kLongWaitMs) const {
    return WaitForSingleObject(hEvent, ms) == WAIT_OBJECT_0;
  }
};

class HostPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree.AddUsb(UsbAdapter().Node("ttyUSB0"));
    tree.LinkDev("ttyUSB0", pty.SlavePath());
    world = std::make_unique<HostWorld>(tree.Paths());
    DWORD error = 0;
    port = world->OpenComm(world->Ports().at(0).PortName(), GENERIC_READ | GENERIC_WRITE, 0,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, error);
    ASSERT_TRUE(port) << error;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 1200;
    dcb.fBinary = 1;
    dcb.ByteSize = 8;
    ASSERT_TRUE(port->SetCommState(dcb));
  }

  void TearDown() override {
    if (port) {
      port->OnClose();
    }
  }

  // Waits until the port's input queue holds `count` bytes.
  bool InQueueReaches(DWORD count) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLongWaitMs);
    while (std::chrono::steady_clock::now() < end) {
      DWORD errors = 0;
      COMSTAT status{};
      if (port->ClearCommError(&errors, &status) && status.cbInQue == count) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }

  FakeHostTree tree;
  Pty pty;
  std::unique_ptr<HostWorld> world;
  std::shared_ptr<CommFile> port;
};

TEST_F(HostPortTest, ControlBlockBecomesTermiosAndWhatTheDriverRefusesIsRefused) {
  DCB dcb{};
  ASSERT_TRUE(port->GetCommState(dcb));
  dcb.BaudRate = 19200;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fOutX = 1;
  dcb.fInX = 1;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  ASSERT_TRUE(port->SetCommState(dcb));

  // The master side of a pty reads the slave's termios.
  termios t{};
  ASSERT_EQ(tcgetattr(pty.Master(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_NE(t.c_iflag & IXON, 0u);
  EXPECT_NE(t.c_iflag & IXOFF, 0u);
  EXPECT_EQ(t.c_cc[VSTART], 0x11);
  EXPECT_EQ(t.c_cc[VSTOP], 0x13);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);  // raw: nothing echoed or edited
  EXPECT_EQ(t.c_oflag & OPOST, 0u);

  // Any rate, also one without a B constant.
  dcb.BaudRate = 12345;
  ASSERT_TRUE(port->SetCommState(dcb));
  LineSettings line;
  ASSERT_EQ(ReadLineSettings(pty.Master(), line), 0);
  EXPECT_EQ(line.baud, 12345u);
  dcb.BaudRate = 19200;
  ASSERT_TRUE(port->SetCommState(dcb));

  // A pty keeps 8 data bits without parity: 7E1 is refused and the old state stays.
  DCB refused = dcb;
  refused.ByteSize = 7;
  refused.Parity = EVENPARITY;
  EXPECT_FALSE(port->SetCommState(refused));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  DCB now{};
  ASSERT_TRUE(port->GetCommState(now));
  EXPECT_EQ(now.ByteSize, 8);
  EXPECT_EQ(now.BaudRate, 19200u);

  // Settings no Linux tty can honour.
  for (auto change :
       {+[](DCB& d) { d.fOutxDsrFlow = 1; }, +[](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; },
        +[](DCB& d) { d.fDsrSensitivity = 1; },
        +[](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }}) {
    DCB bad = dcb;
    change(bad);
    EXPECT_FALSE(port->SetCommState(bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
}

TEST_F(HostPortTest, ModemLinesOnAPtyAreUnsupportedNotFaked) {
  for (DWORD function : {SETDTR, CLRDTR, SETRTS, CLRRTS}) {
    EXPECT_FALSE(port->EscapeCommFunction(function)) << function;
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  }
  DWORD status = 0xFF;
  EXPECT_FALSE(port->GetCommModemStatus(status));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  EXPECT_FALSE(port->EscapeCommFunction(77));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  // The port goes on working.
  Overlapped write;
  DWORD written = 0;
  if (!port->WriteFile("U", 1, &written, &write)) {
    ASSERT_TRUE(write.Done());
  }
  EXPECT_EQ(pty.Receive(static_cast<int>(kLongWaitMs)), "U");
}

TEST_F(HostPortTest, NullStrippingDropsReceivedNuls) {
  DCB dcb{};
  ASSERT_TRUE(port->GetCommState(dcb));
  dcb.fNull = 1;
  ASSERT_TRUE(port->SetCommState(dcb));
  pty.Send(std::string("a\0b", 3));
  ASSERT_TRUE(InQueueReaches(2));
  char buffer[2];
  Overlapped read;
  DWORD got = 0;
  ASSERT_TRUE(port->ReadFile(buffer, 2, &got, &read));
  EXPECT_EQ(std::string(buffer, got), "ab");
}

}  // namespace
}  // namespace win::host
