#pragma once
// RecordingComm and the thread fixture: a component on the bench port COM3 that records what the
// threads hand to it, and a fixture that checks every thread object is gone at the end of each
// test.

#include <gtest/gtest.h>

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "serial/SpComm.h"
#include "serial/SpThread.h"
#include "serial/tests/TestPump.h"
#include "testing/UseBench.h"

class RecordingComm : public TSpComm {
 public:
  struct Call {
    char Kind;  // 'R' HandleRxChar, 'E' HandleEvents
    win::DWORD Mask;
  };

  void HandleRxChar() override {
    EXPECT_TRUE(SpIsMainThread());
    Calls.push_back({'R', 0});
    TSpComm::HandleRxChar();
  }
  void HandleEvents(win::DWORD mask) override {
    EXPECT_TRUE(SpIsMainThread());
    Calls.push_back({'E', mask});
    TSpComm::HandleEvents(mask);
  }
  int EventCalls(win::DWORD mask) const {
    int n = 0;
    for (const Call& call : Calls) {
      n += call.Kind == 'E' && call.Mask == mask ? 1 : 0;
    }
    return n;
  }
  // Stops the threads and closes the handle as Close does, without its pause.
  void QuickClose() {
    if (!Active()) {
      return;
    }
    LockRead();
    StopThreads();
    UnlockRead();
    CloseDevice();
  }

  std::vector<Call> Calls;  // main thread only
};

class ThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testpump::SetUpMainThread();
    Bench = &win::bench::UseBench();
    Bench->AddDevice(win::bench::MakePort("COM3", "Communications Port", "ACPI"));
    win::SetApplicationExceptionHook([this](std::exception_ptr error) {
      try {
        std::rethrow_exception(error);
      } catch (const std::exception& e) {
        Reported.push_back(e.what());
      }
    });
    Comm = std::make_unique<RecordingComm>();
    Comm->SetDeviceName("COM3");
    Comm->SetBaudrate(br115200);
  }

  void TearDown() override {
    if (Comm) {
      Comm->QuickClose();
      Comm.reset();
    }
    EXPECT_TRUE(PumpUntil([] { return TSpThread::LiveCount() == 0; }, 10000))
        << TSpThread::LiveCount() << " thread objects left";
    win::SetApplicationExceptionHook(nullptr);
  }

  // Waits, without running main-thread calls, until a thread has queued one.
  static bool WaitForQueuedCall(int timeoutMs) {
    for (int i = 0; i < timeoutMs && !SpHasQueuedCalls(); ++i) {
      win::Sleep(1);
    }
    return SpHasQueuedCalls();
  }

  int CountCalls(const std::string& name) const {
    int n = 0;
    for (const std::string& call : Bench->State("COM3").calls) {
      n += call == name ? 1 : 0;
    }
    return n;
  }

  win::bench::BenchWorld* Bench = nullptr;
  std::unique_ptr<RecordingComm> Comm;
  std::vector<std::string> Reported;
};
