// I/O of the host world on a pseudo-terminal standing in for a USB serial port.

#include <gtest/gtest.h>
#include <termios.h>

#include <atomic>
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
  bool Pending() const { return OverlappedPending(this); }
  DWORD Error() const {
    return static_cast<DWORD>(std::atomic_ref(const_cast<ULONG_PTR&>(Internal)).load());
  }
  DWORD Count() const { return static_cast<DWORD>(InternalHigh); }
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

  void SetTimeouts(DWORD interval, DWORD multiplier, DWORD constant) {
    COMMTIMEOUTS t{interval, multiplier, constant, 0, 0};
    ASSERT_TRUE(port->SetCommTimeouts(t));
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

  // Blocks that no Linux tty (or no Windows driver) takes.
  for (auto change :
       {+[](DCB& d) { d.fOutxDsrFlow = 1; }, +[](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; },
        +[](DCB& d) { d.StopBits = ONE5STOPBITS; }, +[](DCB& d) { d.XoffChar = d.XonChar; },
        +[](DCB& d) { d.BaudRate = 0; }, +[](DCB& d) { d.ByteSize = 9; }}) {
    DCB bad = dcb;
    change(bad);
    EXPECT_FALSE(port->SetCommState(bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
}

TEST_F(HostPortTest, ReadsCompleteWhenDataArrivesOrTheirTimeRunsOut) {
  SetTimeouts(0, 0, 0);
  char buffer[8] = {};
  Overlapped read;
  EXPECT_FALSE(port->ReadFile(buffer, 3, nullptr, &read));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_TRUE(read.Pending());
  pty.Send("abc");
  ASSERT_TRUE(read.Done());
  EXPECT_EQ(read.Error(), 0u);
  EXPECT_EQ(read.Count(), 3u);
  EXPECT_EQ(std::string(buffer, 3), "abc");

  // Total time-out with nothing arriving: success with no bytes.
  SetTimeouts(0, 0, 30);
  Overlapped timed;
  EXPECT_FALSE(port->ReadFile(buffer, 4, nullptr, &timed));
  ASSERT_TRUE(timed.Done());
  EXPECT_EQ(timed.Error(), 0u);
  EXPECT_EQ(timed.Count(), 0u);

  // Interval time-out: ends after the line is quiet, with what came.
  SetTimeouts(5, 0, 0);
  Overlapped quiet;
  EXPECT_FALSE(port->ReadFile(buffer, 8, nullptr, &quiet));
  pty.Send("xy");
  ASSERT_TRUE(quiet.Done());
  EXPECT_EQ(quiet.Count(), 2u);
  EXPECT_EQ(std::string(buffer, 2), "xy");

  // "Return at once": bytes already queued, or none.
  SetTimeouts(MAXDWORD, 0, 0);
  Overlapped empty;
  DWORD got = 99;
  EXPECT_TRUE(port->ReadFile(buffer, 8, &got, &empty));
  EXPECT_EQ(got, 0u);
  pty.Send("z");
  ASSERT_TRUE(InQueueReaches(1));
  Overlapped queued;
  EXPECT_TRUE(port->ReadFile(buffer, 8, &got, &queued));
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(buffer[0], 'z');
}

TEST_F(HostPortTest, WritesReachTheFarEnd) {
  Overlapped write;
  const std::string text = "hello";
  DWORD written = 0;
  if (!port->WriteFile(text.data(), static_cast<DWORD>(text.size()), &written, &write)) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(write.Done());
    written = write.Count();
  }
  EXPECT_EQ(written, text.size());
  EXPECT_EQ(pty.Receive(static_cast<int>(kLongWaitMs)), "hello");
}

TEST_F(HostPortTest, PurgeAbortsPendingReadsAndDropsQueuedBytes) {
  SetTimeouts(0, 0, 0);
  char buffer[4];
  Overlapped read;
  EXPECT_FALSE(port->ReadFile(buffer, sizeof buffer, nullptr, &read));
  ASSERT_TRUE(port->PurgeComm(PURGE_RXABORT | PURGE_RXCLEAR));
  ASSERT_TRUE(read.Done(0));  // ended by the purge itself, not later
  EXPECT_EQ(read.Error(), ERROR_OPERATION_ABORTED);

  pty.Send("xyz");
  ASSERT_TRUE(InQueueReaches(3));
  ASSERT_TRUE(port->PurgeComm(PURGE_RXCLEAR));
  EXPECT_TRUE(InQueueReaches(0));
  EXPECT_FALSE(port->PurgeComm(0x100));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(HostPortTest, WaitCommEventReportsNewCharactersOnce) {
  ASSERT_TRUE(port->SetCommMask(EV_RXCHAR | EV_ERR));
  DWORD mask = 0;
  Overlapped wait;
  EXPECT_FALSE(port->WaitCommEvent(&mask, &wait));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  pty.Send("U");
  ASSERT_TRUE(wait.Done());
  EXPECT_EQ(wait.Error(), 0u);
  EXPECT_EQ(mask, EV_RXCHAR);

  // The byte stays unread: the next wait waits for a new one, it does not fire again.
  mask = 0;
  Overlapped next;
  EXPECT_FALSE(port->WaitCommEvent(&mask, &next));
  EXPECT_FALSE(next.Done(50));
  pty.Send("V");
  ASSERT_TRUE(next.Done());
  EXPECT_EQ(mask, EV_RXCHAR);
  EXPECT_TRUE(InQueueReaches(2));

  // A second wait while one is pending is refused; a new mask ends the pending one with 0.
  Overlapped third;
  EXPECT_FALSE(port->WaitCommEvent(&mask, &third));
  Overlapped fourth;
  DWORD other = 0;
  EXPECT_FALSE(port->WaitCommEvent(&other, &fourth));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  mask = 0xFFFF;
  ASSERT_TRUE(port->SetCommMask(EV_RXCHAR));
  ASSERT_TRUE(third.Done(0));
  EXPECT_EQ(third.Error(), 0u);
  EXPECT_EQ(mask, 0u);
}

TEST_F(HostPortTest, ClosingEndsPendingOperations) {
  ASSERT_TRUE(port->SetCommMask(EV_RXCHAR));
  DWORD mask = 0xFFFF;
  Overlapped wait;
  Overlapped read;
  char buffer[4];
  EXPECT_FALSE(port->WaitCommEvent(&mask, &wait));
  EXPECT_FALSE(port->ReadFile(buffer, sizeof buffer, nullptr, &read));

  HANDLE handle = AllocateHandle(port);
  port.reset();
  ASSERT_TRUE(CloseHandle(handle));
  ASSERT_TRUE(wait.Done(0));
  EXPECT_EQ(wait.Error(), 0u);
  EXPECT_EQ(mask, 0u);
  ASSERT_TRUE(read.Done(0));
  EXPECT_EQ(read.Error(), ERROR_OPERATION_ABORTED);

  // The port is free again at once.
  DWORD error = 0;
  port = world->OpenComm(world->Ports().at(0).PortName(), GENERIC_READ | GENERIC_WRITE, 0,
                         OPEN_EXISTING, FILE_FLAG_OVERLAPPED, error);
  EXPECT_TRUE(port) << error;
}

TEST_F(HostPortTest, ACallThatReachesThePortAfterItsCloseFailsInsteadOfPending) {
  ASSERT_TRUE(port->SetCommMask(EV_RXCHAR));
  const std::shared_ptr<CommFile> late = port;  // looked up just before the close
  port->OnClose();
  port.reset();
  DWORD mask = 0;
  Overlapped wait;
  Overlapped write;
  EXPECT_FALSE(late->WaitCommEvent(&mask, &wait));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(late->WriteFile("U", 1, nullptr, &write));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(wait.Pending());
  EXPECT_FALSE(write.Pending());
}

TEST_F(HostPortTest, TheFarEndGoingAwayFailsPendingAndLaterCalls) {
  ASSERT_TRUE(port->SetCommMask(EV_RXCHAR));
  char buffer[4];
  Overlapped read;
  EXPECT_FALSE(port->ReadFile(buffer, sizeof buffer, nullptr, &read));
  pty.CloseMaster();
  ASSERT_TRUE(read.Done());
  EXPECT_EQ(read.Error(), ERROR_OPERATION_ABORTED);

  DWORD mask = 0;
  Overlapped wait;
  EXPECT_FALSE(port->WaitCommEvent(&mask, &wait));
  EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
  Overlapped again;
  EXPECT_FALSE(port->ReadFile(buffer, sizeof buffer, nullptr, &again));
  EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
  DWORD errors = 0;
  COMSTAT status{};
  EXPECT_FALSE(port->ClearCommError(&errors, &status));
  EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
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

TEST_F(HostPortTest, EventCharacterTransmitEmptyAndNullStripping) {
  DCB dcb{};
  ASSERT_TRUE(port->GetCommState(dcb));
  dcb.EvtChar = '\n';
  dcb.fNull = 1;
  ASSERT_TRUE(port->SetCommState(dcb));
  ASSERT_TRUE(port->SetCommMask(EV_RXFLAG));
  DWORD mask = 0;
  Overlapped flag;
  EXPECT_FALSE(port->WaitCommEvent(&mask, &flag));
  pty.Send(std::string("a\0b", 3));
  EXPECT_FALSE(flag.Done(50));  // plain characters are not the event character
  pty.Send("\n");
  ASSERT_TRUE(flag.Done());
  EXPECT_EQ(mask, EV_RXFLAG);
  ASSERT_TRUE(InQueueReaches(3));  // the NUL was stripped
  char buffer[3];
  Overlapped read;
  DWORD got = 0;
  ASSERT_TRUE(port->ReadFile(buffer, 3, &got, &read));
  EXPECT_EQ(std::string(buffer, got), "ab\n");

  ASSERT_TRUE(port->SetCommMask(EV_TXEMPTY));
  Overlapped empty;
  EXPECT_FALSE(port->WaitCommEvent(&mask, &empty));
  Overlapped write;
  if (!port->WriteFile("x", 1, nullptr, &write)) {
    ASSERT_TRUE(write.Done());
  }
  EXPECT_EQ(pty.Receive(static_cast<int>(kLongWaitMs)), "x");
  ASSERT_TRUE(empty.Done());
  EXPECT_EQ(mask, EV_TXEMPTY);
}

TEST_F(HostPortTest, ANonOverlappedHandleBlocksUntilDone) {
  port->OnClose();
  DWORD error = 0;
  port = world->OpenComm(world->Ports().at(0).PortName(), GENERIC_READ | GENERIC_WRITE, 0,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, error);
  ASSERT_TRUE(port) << error;
  DWORD written = 0;
  ASSERT_TRUE(port->WriteFile("ab", 2, &written, nullptr));
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(pty.Receive(static_cast<int>(kLongWaitMs)), "ab");

  std::thread farEnd([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pty.Send("cd");
  });
  char buffer[2] = {};
  DWORD got = 0;
  EXPECT_TRUE(port->ReadFile(buffer, 2, &got, nullptr));  // waits for both bytes
  farEnd.join();
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(std::string(buffer, 2), "cd");
}

// A thread's pending read is cancelled when the thread ends, before its OVERLAPPED goes away.
struct ThreadRead {
  CommFile* port;
  Overlapped* overlapped;
  char buffer[4];
};

DWORD IssueReadAndEnd(LPVOID parameter) {
  auto* job = static_cast<ThreadRead*>(parameter);
  job->port->ReadFile(job->buffer, sizeof job->buffer, nullptr, job->overlapped);
  return 0;
}

TEST_F(HostPortTest, TheEndOfTheIssuingThreadCancelsItsOperations) {
  SetTimeouts(0, 0, 0);
  Overlapped read;
  ThreadRead job{port.get(), &read, {}};
  HANDLE thread = CreateThread(nullptr, 0, IssueReadAndEnd, &job, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, kLongWaitMs), WAIT_OBJECT_0);
  CloseHandle(thread);
  ASSERT_TRUE(read.Done());
  EXPECT_EQ(read.Error(), ERROR_OPERATION_ABORTED);

  // Bytes sent afterwards stay for the next reader.
  pty.Send("k");
  EXPECT_TRUE(InQueueReaches(1));
}

TEST_F(HostPortTest, CancelIoExEndsOneOperationAndReportsWhenNoneWasPending) {
  SetTimeouts(0, 0, 0);
  char buffer[2];
  Overlapped read;
  EXPECT_FALSE(port->ReadFile(buffer, sizeof buffer, nullptr, &read));
  EXPECT_TRUE(port->CancelIo(&read, 0));
  ASSERT_TRUE(read.Done(0));
  EXPECT_EQ(read.Error(), ERROR_OPERATION_ABORTED);
  EXPECT_FALSE(port->CancelIo(&read, 0));
  EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
}

}  // namespace
}  // namespace win::host
