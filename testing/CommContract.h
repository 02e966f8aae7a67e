#pragma once
// CommContract: the driver contract that every device world keeps, as one typed test suite.
// Each world instantiates it in a file of its own with a World type that opens ports of one
// device and plays that device's far end:
//
//   struct SomeWorld {
//     static constexpr std::array<contract::Skip, N> kSkipped;  // cases the world cannot run
//     std::string Path() const;                    // "\\.\COMn" of the device
//     void Send(const std::string& bytes);         // the far end transmits
//     std::string Received(DWORD ms);              // what reached the far end; waits up to ms
//     void GoAway();                               // the device vanishes
//     void RaiseLineError(DWORD ceFlags);          // only where no skip names the case
//     void SetLoops(bool rtsToCts, bool dtrToDsr); // likewise
//   };
//
// A case the world cannot run is skipped by its name, with the reason, never left out silently;
// EverySkipNamesACase fails when a skip names no case.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/CommDriverRules.h"
#include "platform/DeviceWorld.h"

namespace win::contract {

struct Skip {
  const char* testCase;
  const char* reason;
};

inline constexpr DWORD kLongMs = 10000;  // only ever reached when something is broken
inline constexpr DWORD kQuietMs = 60;    // long enough for a wrong completion to show
inline constexpr DWORD kBufferSize = 8;
inline constexpr DWORD kLongWrite = 1 << 20;

// An OVERLAPPED with its own manual-reset event.
struct Io {
  OVERLAPPED ov{};
  Io() { ov.hEvent = win::CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~Io() { win::CloseHandle(ov.hEvent); }
  Io(const Io&) = delete;
  Io& operator=(const Io&) = delete;
  bool Done(DWORD ms = kLongMs) const {
    return win::WaitForSingleObject(ov.hEvent, ms) == WAIT_OBJECT_0;
  }
  bool Pending() const { return win::OverlappedPending(&ov); }
  DWORD Error() const { return win::OverlappedError(&ov); }
  DWORD Count() const { return static_cast<DWORD>(ov.InternalHigh); }
};

template <class World>
class CommContract : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string_view name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (const Skip& skip : World::kSkipped) {
      if (name == skip.testCase) {
        GTEST_SKIP() << skip.reason;
      }
    }
    handle = Open(FILE_FLAG_OVERLAPPED);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << win::GetLastError();
    DCB dcb{};
    ASSERT_TRUE(win::GetCommState(handle, &dcb));
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    ASSERT_TRUE(win::SetCommState(handle, &dcb));
    SetTimeouts(0, 0, 0);
  }

  void TearDown() override {
    if (handle != INVALID_HANDLE_VALUE) {
      win::CloseHandle(handle);
    }
    // Windows completes what the close ended soon after it returns: the records wait for that.
    for (const auto& io : ios) {
      if (io->Pending()) {
        io->Done();
      }
    }
  }

  HANDLE Open(DWORD flags) {
    return win::CreateFileA(world.Path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, flags, nullptr);
  }

  void SetTimeouts(DWORD interval, DWORD multiplier, DWORD constant) {
    COMMTIMEOUTS timeouts{interval, multiplier, constant, 0, 0};
    ASSERT_TRUE(win::SetCommTimeouts(handle, &timeouts));
  }

  // Waits until the input queue holds `count` bytes.
  bool InQueueReaches(DWORD count) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLongMs);
    while (std::chrono::steady_clock::now() < end) {
      COMSTAT status{};
      if (win::ClearCommError(handle, nullptr, &status) && status.cbInQue == count) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }

  // Starts an overlapped read that must stay pending.
  void StartRead(char* buffer, DWORD count, Io& io) {
    EXPECT_FALSE(win::ReadFile(handle, buffer, count, nullptr, &io.ov));
    EXPECT_EQ(win::GetLastError(), ERROR_IO_PENDING);
  }

  // A write that the port cannot finish at once: far more than any driver queues.
  void StartLongWrite(Io& io) {
    DWORD written = 0;
    ASSERT_FALSE(win::WriteFile(handle, longWrite.data(), kLongWrite, &written, &io.ov));
    ASSERT_EQ(win::GetLastError(), ERROR_IO_PENDING);
  }

  // Records and buffers outlive the port, so that what a failing case leaves pending ends
  // before they go.
  Io& NewIo() { return *ios.emplace_back(std::make_unique<Io>()); }
  char* Buffer() { return buffers.emplace_back(std::make_unique<char[]>(kBufferSize)).get(); }

  std::vector<std::unique_ptr<Io>> ios;
  std::vector<std::unique_ptr<char[]>> buffers;
  std::vector<char> longWrite = std::vector<char>(kLongWrite, 'w');
  World world;
  HANDLE handle = INVALID_HANDLE_VALUE;
};

TYPED_TEST_SUITE_P(CommContract);

TYPED_TEST_P(CommContract, EverySkipNamesACase) {
  const ::testing::TestSuite* suite = ::testing::UnitTest::GetInstance()->current_test_suite();
  for (const Skip& skip : TypeParam::kSkipped) {
    bool found = false;
    for (int i = 0; i < suite->total_test_count(); ++i) {
      found = found || std::string_view(suite->GetTestInfo(i)->name()) == skip.testCase;
    }
    EXPECT_TRUE(found) << skip.testCase;
  }
}

TYPED_TEST_P(CommContract, ControlBlocksTheLineCannotCarryAreRefused) {
  HANDLE port = this->handle;
  DCB good{};
  ASSERT_TRUE(win::GetCommState(port, &good));
  good.BaudRate = 19200;
  good.StopBits = TWOSTOPBITS;
  ASSERT_TRUE(win::SetCommState(port, &good));

  using Change = void (*)(DCB&);
  const Change refused[] = {
      [](DCB& d) { d.BaudRate = 0; },
      [](DCB& d) { d.ByteSize = 9; },
      [](DCB& d) { d.ByteSize = 4; },
      [](DCB& d) { d.Parity = 5; },
      [](DCB& d) { d.StopBits = 3; },
      [](DCB& d) { d.StopBits = ONE5STOPBITS; },  // only with 5 data bits
      [](DCB& d) {
        d.ByteSize = 5;
        d.StopBits = TWOSTOPBITS;  // never with 5 data bits
      },
      [](DCB& d) {
        d.fOutX = 1;
        d.XonChar = d.XoffChar = 0x11;
      },
  };
  for (std::size_t i = 0; i < std::size(refused); ++i) {
    DCB bad = good;
    refused[i](bad);
    EXPECT_FALSE(win::SetCommState(port, &bad)) << "change " << i;
    EXPECT_EQ(win::GetLastError(), ERROR_INVALID_PARAMETER) << "change " << i;
  }
  DCB now{};
  ASSERT_TRUE(win::GetCommState(port, &now));
  EXPECT_EQ(now.BaudRate, 19200u);
  EXPECT_EQ(now.ByteSize, 8);
  EXPECT_EQ(now.StopBits, TWOSTOPBITS);
}

TYPED_TEST_P(CommContract, ReadsEndWhenFullOrWhenTheirTimeIsUp) {
  HANDLE port = this->handle;
  COMMTIMEOUTS never{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
  EXPECT_FALSE(win::SetCommTimeouts(port, &never));
  EXPECT_EQ(win::GetLastError(), ERROR_INVALID_PARAMETER);

  // No limits: the read waits for every byte it asked for.
  char* buffer = this->Buffer();
  Io& full = this->NewIo();
  this->StartRead(buffer, 3, full);
  this->world.Send("ab");
  EXPECT_FALSE(full.Done(kQuietMs));
  this->world.Send("c");
  ASSERT_TRUE(full.Done());
  EXPECT_EQ(full.Error(), NO_ERROR);
  EXPECT_EQ(full.Count(), 3u);
  EXPECT_EQ(std::string(buffer, 3), "abc");

  // A total limit (multiplier times count, plus constant) with nothing arriving: success with
  // no bytes.
  this->SetTimeouts(0, 10, 20);
  Io& timed = this->NewIo();
  const auto start = std::chrono::steady_clock::now();
  this->StartRead(buffer, 2, timed);
  ASSERT_TRUE(timed.Done());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
  EXPECT_EQ(timed.Error(), NO_ERROR);
  EXPECT_EQ(timed.Count(), 0u);

  // An interval: no limit before the first byte, then the quiet line ends the read.
  this->SetTimeouts(20, 0, 0);
  Io& quiet = this->NewIo();
  this->StartRead(buffer, kBufferSize, quiet);
  EXPECT_FALSE(quiet.Done(kQuietMs));
  this->world.Send("xy");
  ASSERT_TRUE(quiet.Done());
  EXPECT_EQ(quiet.Error(), NO_ERROR);
  EXPECT_EQ(quiet.Count(), 2u);
  EXPECT_EQ(std::string(buffer, 2), "xy");
}

TYPED_TEST_P(CommContract, QueuedBytesAreTakenAtOnce) {
  HANDLE port = this->handle;
  char* buffer = this->Buffer();
  this->SetTimeouts(20, 0, 0);
  this->world.Send("pqr");
  ASSERT_TRUE(this->InQueueReaches(3));
  Io& queued = this->NewIo();
  DWORD got = 0;
  ASSERT_TRUE(win::ReadFile(port, buffer, 2, &got, &queued.ov));
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(std::string(buffer, 2), "pq");
  EXPECT_TRUE(this->InQueueReaches(1));
}

TYPED_TEST_P(CommContract, MaxdwordIntervalReturnsAtOnceOrWithTheFirstByte) {
  HANDLE port = this->handle;
  char* buffer = this->Buffer();
  DWORD got = 99;

  // MAXDWORD interval alone: at once, with what is queued, even nothing.
  this->SetTimeouts(MAXDWORD, 0, 0);
  Io& empty = this->NewIo();
  ASSERT_TRUE(win::ReadFile(port, buffer, kBufferSize, &got, &empty.ov));
  EXPECT_EQ(got, 0u);
  this->world.Send("z");
  ASSERT_TRUE(this->InQueueReaches(1));
  Io& one = this->NewIo();
  ASSERT_TRUE(win::ReadFile(port, buffer, kBufferSize, &got, &one.ov));
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(buffer[0], 'z');

  // With MAXDWORD multiplier too: the first byte ends the read, or the constant does.
  this->SetTimeouts(MAXDWORD, MAXDWORD, kLongMs);
  Io& first = this->NewIo();
  this->StartRead(buffer, kBufferSize, first);
  EXPECT_FALSE(first.Done(kQuietMs));
  this->world.Send("Q");
  ASSERT_TRUE(first.Done());
  EXPECT_EQ(first.Error(), NO_ERROR);
  EXPECT_EQ(first.Count(), 1u);
  EXPECT_EQ(buffer[0], 'Q');

  this->SetTimeouts(MAXDWORD, MAXDWORD, 20);
  Io& nothing = this->NewIo();
  this->StartRead(buffer, kBufferSize, nothing);
  ASSERT_TRUE(nothing.Done());
  EXPECT_EQ(nothing.Error(), NO_ERROR);
  EXPECT_EQ(nothing.Count(), 0u);
}

TYPED_TEST_P(CommContract, EventsWaitForTheMaskAndAreKeptForTheNextWait) {
  HANDLE port = this->handle;
  DWORD mask = 0;
  Io& refused = this->NewIo();
  EXPECT_FALSE(win::WaitCommEvent(port, &mask, &refused.ov));  // no mask yet
  EXPECT_EQ(win::GetLastError(), ERROR_INVALID_PARAMETER);

  ASSERT_TRUE(win::SetCommMask(port, EV_RXCHAR | EV_ERR));
  Io& wait = this->NewIo();
  EXPECT_FALSE(win::WaitCommEvent(port, &mask, &wait.ov));
  ASSERT_EQ(win::GetLastError(), ERROR_IO_PENDING);
  this->world.Send("U");
  ASSERT_TRUE(wait.Done());
  EXPECT_EQ(wait.Error(), NO_ERROR);
  EXPECT_EQ(mask, EV_RXCHAR);

  // The byte stays unread: the next wait waits for a new one.
  Io& next = this->NewIo();
  EXPECT_FALSE(win::WaitCommEvent(port, &mask, &next.ov));
  EXPECT_FALSE(next.Done(kQuietMs));
  // A second wait while one is pending is refused; a new mask ends the pending one with 0.
  Io& second = this->NewIo();
  DWORD other = 0;
  EXPECT_FALSE(win::WaitCommEvent(port, &other, &second.ov));
  EXPECT_EQ(win::GetLastError(), ERROR_INVALID_PARAMETER);
  mask = 0xFFFF;
  ASSERT_TRUE(win::SetCommMask(port, EV_RXCHAR));
  ASSERT_TRUE(next.Done(0));
  EXPECT_EQ(next.Error(), NO_ERROR);
  EXPECT_EQ(mask, 0u);

  // What happens while no wait is pending is kept for the next one...
  this->world.Send("V");
  ASSERT_TRUE(this->InQueueReaches(2));
  Io& kept = this->NewIo();
  EXPECT_TRUE(win::WaitCommEvent(port, &mask, &kept.ov));
  EXPECT_EQ(mask, EV_RXCHAR);
  // ...unless a new mask comes first.
  this->world.Send("W");
  ASSERT_TRUE(this->InQueueReaches(3));
  ASSERT_TRUE(win::SetCommMask(port, EV_RXCHAR));
  Io& forgotten = this->NewIo();
  EXPECT_FALSE(win::WaitCommEvent(port, &mask, &forgotten.ov));
  EXPECT_FALSE(forgotten.Done(kQuietMs));

  // Only the events of the mask count: the event character raises EV_RXFLAG alone.
  DCB dcb{};
  ASSERT_TRUE(win::GetCommState(port, &dcb));
  dcb.EvtChar = '\n';
  ASSERT_TRUE(win::SetCommState(port, &dcb));
  ASSERT_TRUE(win::SetCommMask(port, EV_RXFLAG));
  Io& flag = this->NewIo();
  EXPECT_FALSE(win::WaitCommEvent(port, &mask, &flag.ov));
  this->world.Send("a");
  EXPECT_FALSE(flag.Done(kQuietMs));
  this->world.Send("\n");
  ASSERT_TRUE(flag.Done());
  EXPECT_EQ(mask, EV_RXFLAG);
}

TYPED_TEST_P(CommContract, WritesReachTheFarEndAndTransmitEmptyFollows) {
  HANDLE port = this->handle;
  ASSERT_TRUE(win::SetCommMask(port, EV_TXEMPTY));
  DWORD mask = 0;
  Io& empty = this->NewIo();
  EXPECT_FALSE(win::WaitCommEvent(port, &mask, &empty.ov));
  Io& write = this->NewIo();
  DWORD written = 0;
  if (!win::WriteFile(port, "hello", 5, &written, &write.ov)) {
    ASSERT_EQ(win::GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(win::GetOverlappedResult(port, &write.ov, &written, TRUE));
  }
  EXPECT_EQ(written, 5u);
  EXPECT_EQ(this->world.Received(kLongMs), "hello");
  ASSERT_TRUE(empty.Done());
  EXPECT_EQ(mask, EV_TXEMPTY);
}

TYPED_TEST_P(CommContract, PurgeEndsPendingOperationsAndEmptiesTheQueues) {
  HANDLE port = this->handle;
  char* buffer = this->Buffer();
  Io& read = this->NewIo();
  this->StartRead(buffer, kBufferSize, read);
  ASSERT_TRUE(win::PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR));
  ASSERT_TRUE(read.Done(0));  // ended by the purge itself, not later
  EXPECT_EQ(read.Error(), rules::kAbortedError);

  this->world.Send("xyz");
  ASSERT_TRUE(this->InQueueReaches(3));
  ASSERT_TRUE(win::PurgeComm(port, PURGE_RXCLEAR));
  EXPECT_TRUE(this->InQueueReaches(0));

  Io& write = this->NewIo();
  this->StartLongWrite(write);
  ASSERT_TRUE(win::PurgeComm(port, PURGE_TXABORT | PURGE_TXCLEAR));
  ASSERT_TRUE(write.Done(0));
  EXPECT_EQ(write.Error(), rules::kAbortedError);
  EXPECT_LT(write.Count(), kLongWrite);

  EXPECT_FALSE(win::PurgeComm(port, 0x100));
  EXPECT_EQ(win::GetLastError(), ERROR_INVALID_PARAMETER);

  // The port goes on working.
  Io& again = this->NewIo();
  this->StartRead(buffer, 1, again);
  this->world.Send("k");
  ASSERT_TRUE(again.Done());
  EXPECT_EQ(buffer[0], 'k');
}

TYPED_TEST_P(CommContract, ClosingEndsWhatIsPendingAndLaterCallsFail) {
  HANDLE port = this->handle;
  ASSERT_TRUE(win::SetCommMask(port, EV_RXCHAR));
  DWORD mask = 0xFFFF;
  char* buffer = this->Buffer();
  Io& wait = this->NewIo();
  Io& read = this->NewIo();
  Io& write = this->NewIo();
  EXPECT_FALSE(win::WaitCommEvent(port, &mask, &wait.ov));
  this->StartRead(buffer, kBufferSize, read);
  this->StartLongWrite(write);
  const auto file = std::dynamic_pointer_cast<CommFile>(LookupHandle(port));
  ASSERT_TRUE(file);

  this->handle = INVALID_HANDLE_VALUE;
  ASSERT_TRUE(win::CloseHandle(port));
  // The worlds of the layer end everything before the close returns. Windows promises less: the
  // system completes cancelled operations asynchronously, soon after, each exactly once (and
  // ends an event wait as cancelled); platform/windows/tests checks that on a real line.
  ASSERT_TRUE(wait.Done(0));
  EXPECT_EQ(wait.Error(), NO_ERROR);
  EXPECT_EQ(mask, 0u);
  ASSERT_TRUE(read.Done(0));
  EXPECT_EQ(read.Error(), rules::kAbortedError);
  ASSERT_TRUE(write.Done(0));
  EXPECT_EQ(write.Error(), rules::kAbortedError);

  // The handle is gone. A call that looked the file up just before the close reaches it
  // after it and fails, leaving nothing pending.
  EXPECT_FALSE(win::PurgeComm(port, PURGE_RXCLEAR));
  EXPECT_EQ(win::GetLastError(), ERROR_INVALID_HANDLE);
  Io& late = this->NewIo();
  EXPECT_FALSE(file->WaitCommEvent(&mask, &late.ov));
  EXPECT_EQ(win::GetLastError(), rules::kClosedPortError);
  EXPECT_FALSE(file->ReadFile(buffer, kBufferSize, nullptr, &late.ov));
  EXPECT_EQ(win::GetLastError(), rules::kClosedPortError);
  EXPECT_FALSE(late.Pending());

  // The port opens again at once.
  this->handle = this->Open(FILE_FLAG_OVERLAPPED);
  EXPECT_NE(this->handle, INVALID_HANDLE_VALUE);
}

TYPED_TEST_P(CommContract, AVanishedDeviceEndsWhatIsPendingAndRefusesLaterCalls) {
  HANDLE port = this->handle;
  ASSERT_TRUE(win::SetCommMask(port, EV_RXCHAR));
  char* buffer = this->Buffer();
  Io& read = this->NewIo();
  this->StartRead(buffer, kBufferSize, read);
  this->world.GoAway();
  ASSERT_TRUE(read.Done());
  EXPECT_EQ(read.Error(), rules::kAbortedError);

  DWORD mask = 0;
  Io& wait = this->NewIo();
  EXPECT_FALSE(win::WaitCommEvent(port, &mask, &wait.ov));
  EXPECT_EQ(win::GetLastError(), rules::kGonePortError);
  Io& again = this->NewIo();
  EXPECT_FALSE(win::ReadFile(port, buffer, kBufferSize, nullptr, &again.ov));
  EXPECT_EQ(win::GetLastError(), rules::kGonePortError);
  COMSTAT status{};
  EXPECT_FALSE(win::ClearCommError(port, nullptr, &status));
  EXPECT_EQ(win::GetLastError(), rules::kGonePortError);
  EXPECT_FALSE(wait.Pending());
  EXPECT_FALSE(again.Pending());
}

// A read issued by a thread that then ends.
struct ThreadRead {
  HANDLE port;
  Io* io;
  char* buffer;
  DWORD error;
};

inline DWORD IssueReadAndEnd(LPVOID parameter) {
  auto* job = static_cast<ThreadRead*>(parameter);
  win::ReadFile(job->port, job->buffer, 1, nullptr, &job->io->ov);
  job->error = win::GetLastError();
  return 0;
}

TYPED_TEST_P(CommContract, CancelEndsOneRecordOrWhatAnEndingThreadLeft) {
  HANDLE port = this->handle;
  char* a = this->Buffer();
  char* b = this->Buffer();
  Io& first = this->NewIo();
  Io& second = this->NewIo();
  Io& fromThread = this->NewIo();
  this->StartRead(a, 1, first);
  this->StartRead(b, 1, second);

  ASSERT_TRUE(win::CancelIoEx(port, &second.ov));
  ASSERT_TRUE(second.Done(0));
  EXPECT_EQ(second.Error(), rules::kAbortedError);
  EXPECT_FALSE(first.Done(0));
  EXPECT_FALSE(win::CancelIoEx(port, &second.ov));
  EXPECT_EQ(win::GetLastError(), ERROR_NOT_FOUND);

  ThreadRead job{port, &fromThread, this->Buffer(), 0};
  HANDLE thread = win::CreateThread(nullptr, 0, IssueReadAndEnd, &job, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(win::WaitForSingleObject(thread, kLongMs), WAIT_OBJECT_0);
  win::CloseHandle(thread);
  EXPECT_EQ(job.error, ERROR_IO_PENDING);
  ASSERT_TRUE(fromThread.Done());
  EXPECT_EQ(fromThread.Error(), rules::kAbortedError);

  // The calling thread's own read is still there and still receives.
  EXPECT_FALSE(first.Done(0));
  this->world.Send("!");
  ASSERT_TRUE(first.Done());
  EXPECT_EQ(a[0], '!');
}

TYPED_TEST_P(CommContract, AHandleWithoutOverlappedBlocksUntilDone) {
  win::CloseHandle(std::exchange(this->handle, INVALID_HANDLE_VALUE));
  this->handle = this->Open(FILE_ATTRIBUTE_NORMAL);
  HANDLE port = this->handle;
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(win::WriteFile(port, "ab", 2, &written, nullptr));
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(this->world.Received(kLongMs), "ab");

  std::thread farEnd([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    this->world.Send("cd");
  });
  char* buffer = this->Buffer();
  DWORD got = 0;
  EXPECT_TRUE(win::ReadFile(port, buffer, 2, &got, nullptr));  // waits for both bytes
  farEnd.join();
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(std::string(buffer, got), "cd");
}

TYPED_TEST_P(CommContract, LineErrorsRaiseTheirEventsAndAbortOnErrorHoldsReads) {
  HANDLE port = this->handle;
  ASSERT_TRUE(win::SetCommMask(port, EV_ERR | EV_BREAK));
  DWORD mask = 0;
  Io& wait = this->NewIo();
  EXPECT_FALSE(win::WaitCommEvent(port, &mask, &wait.ov));
  this->world.RaiseLineError(CE_FRAME);
  ASSERT_TRUE(wait.Done());
  EXPECT_EQ(mask, EV_ERR);
  this->world.RaiseLineError(CE_BREAK);
  Io& brk = this->NewIo();
  EXPECT_TRUE(win::WaitCommEvent(port, &mask, &brk.ov));
  EXPECT_EQ(mask, EV_BREAK);
  DWORD errors = 0;
  ASSERT_TRUE(win::ClearCommError(port, &errors, nullptr));
  EXPECT_EQ(errors, static_cast<DWORD>(CE_FRAME | CE_BREAK));
  ASSERT_TRUE(win::ClearCommError(port, &errors, nullptr));
  EXPECT_EQ(errors, 0u);  // taken once

  DCB dcb{};
  ASSERT_TRUE(win::GetCommState(port, &dcb));
  dcb.fAbortOnError = 1;
  ASSERT_TRUE(win::SetCommState(port, &dcb));
  char* buffer = this->Buffer();
  Io& read = this->NewIo();
  this->StartRead(buffer, 1, read);
  this->world.RaiseLineError(CE_RXPARITY);
  ASSERT_TRUE(read.Done());
  EXPECT_EQ(read.Error(), rules::kAbortedError);
  Io& refused = this->NewIo();
  EXPECT_FALSE(win::ReadFile(port, buffer, 1, nullptr, &refused.ov));
  EXPECT_EQ(win::GetLastError(), rules::kAbortedError);
  ASSERT_TRUE(win::ClearCommError(port, &errors, nullptr));
  EXPECT_EQ(errors, static_cast<DWORD>(CE_RXPARITY));
  Io& after = this->NewIo();
  this->StartRead(buffer, 1, after);
  this->world.Send("r");
  ASSERT_TRUE(after.Done());
  EXPECT_EQ(buffer[0], 'r');
}

TYPED_TEST_P(CommContract, ModemLinesFollowTheOutputsAndRaiseTheirEvents) {
  HANDLE port = this->handle;
  this->world.SetLoops(true, true);
  ASSERT_TRUE(win::EscapeCommFunction(port, CLRRTS));
  ASSERT_TRUE(win::EscapeCommFunction(port, CLRDTR));
  DWORD status = 0xFF;
  ASSERT_TRUE(win::GetCommModemStatus(port, &status));
  EXPECT_EQ(status & (MS_CTS_ON | MS_DSR_ON), 0u);

  ASSERT_TRUE(win::SetCommMask(port, EV_CTS | EV_DSR));
  DWORD mask = 0;
  Io& wait = this->NewIo();
  EXPECT_FALSE(win::WaitCommEvent(port, &mask, &wait.ov));
  ASSERT_TRUE(win::EscapeCommFunction(port, SETRTS));
  ASSERT_TRUE(wait.Done());
  EXPECT_EQ(mask, EV_CTS);
  ASSERT_TRUE(win::EscapeCommFunction(port, SETDTR));
  ASSERT_TRUE(win::GetCommModemStatus(port, &status));
  EXPECT_EQ(status & (MS_CTS_ON | MS_DSR_ON), static_cast<DWORD>(MS_CTS_ON | MS_DSR_ON));
  Io& kept = this->NewIo();
  EXPECT_TRUE(win::WaitCommEvent(port, &mask, &kept.ov));
  EXPECT_EQ(mask, EV_DSR);
  EXPECT_FALSE(win::EscapeCommFunction(port, 77));
  EXPECT_EQ(win::GetLastError(), ERROR_INVALID_PARAMETER);
}

REGISTER_TYPED_TEST_SUITE_P(
    CommContract, EverySkipNamesACase, ControlBlocksTheLineCannotCarryAreRefused,
    ReadsEndWhenFullOrWhenTheirTimeIsUp, QueuedBytesAreTakenAtOnce,
    MaxdwordIntervalReturnsAtOnceOrWithTheFirstByte, EventsWaitForTheMaskAndAreKeptForTheNextWait,
    WritesReachTheFarEndAndTransmitEmptyFollows, PurgeEndsPendingOperationsAndEmptiesTheQueues,
    ClosingEndsWhatIsPendingAndLaterCallsFail, AVanishedDeviceEndsWhatIsPendingAndRefusesLaterCalls,
    CancelEndsOneRecordOrWhatAnEndingThreadLeft, AHandleWithoutOverlappedBlocksUntilDone,
    LineErrorsRaiseTheirEventsAndAbortOnErrorHoldsReads,
    ModemLinesFollowTheOutputsAndRaiseTheirEvents);

}  // namespace win::contract
