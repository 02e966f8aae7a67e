#pragma once
// CommFixture: a bench with COM3 (nothing attached), the test thread as main thread, and a recorder
// for the application-wide exception handler.

#include <gtest/gtest.h>

#include <exception>
#include <string>
#include <vector>

#include "serial/SpComm.h"
#include "serial/tests/TestPump.h"
#include "testing/UseBench.h"

class CommFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    testpump::SetUpMainThread();
    win::bench::BenchWorld& world = win::bench::UseBench();
    bench = &world;
    bench->AddDevice(win::bench::MakePort("COM3", "Communications Port", "ACPI"));
    win::SetApplicationExceptionHook([this](std::exception_ptr error) {
      try {
        std::rethrow_exception(error);
      } catch (const std::exception& e) {
        reported.emplace_back(e.what());
      }
    });
  }

  void TearDown() override {
    // Dispatches still queued for components that are gone must do nothing.
    PumpFor(20);
    win::SetApplicationExceptionHook(nullptr);
  }

  // A component for COM3 without background threads unless a test asks for them.
  static void Quiet(TSpCustomComm& comm) {
    comm.SetDeviceName("COM3");
    comm.SetMonitorEvents({});
    comm.SetDirectWrite(true);
  }

  win::bench::PortState Port() const { return bench->State("COM3"); }

  win::bench::BenchWorld* bench = nullptr;
  std::vector<std::string> reported;
};

// The message of the ESpCommError that `call` raises ("" when none).
template <class Call>
std::string CommErrorOf(Call&& call) {
  try {
    call();
  } catch (const ESpCommError& error) {
    return error.what();
  }
  return "";
}
