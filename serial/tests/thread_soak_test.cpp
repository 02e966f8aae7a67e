#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "serial/tests/ThreadFixture.h"

using namespace win;
using namespace win::bench;

namespace {

constexpr int kCycles = 1000;

enum PullOutStep { None, BeforeWrite, AfterWrite, FromAnotherThread, AtACall, StepCount };

}  // namespace

class ThreadSoak : public ThreadTest {
 protected:
  // What the port saw in a cycle that went wrong: whether the write left, and the last calls,
  // which show where the write, the echo or its hand-off stopped.
  std::string CycleReport() const {
    const PortState state = Bench->State("COM3");
    std::string report = "sent \"" + state.transmitted + "\", last calls:";
    const std::size_t first = state.calls.size() > 12 ? state.calls.size() - 12 : 0;
    for (std::size_t i = first; i < state.calls.size(); ++i) {
      report += " " + state.calls[i];
    }
    return report + "; " + std::to_string(TSpThread::LiveCount()) + " thread objects";
  }
};

// Open, write, receive the echo, close: a thousand times, with the device pulled out at a random
// step in most cycles. Close goes through StopThreads and CloseHandle without the 300 ms pause.
TEST_F(ThreadSoak, OpenWriteReceiveCloseWithRandomPullOuts) {
  std::mt19937 random(20261208);
  std::string received;
  Comm->OnRxChar = [&](TSpCustomComm& sender, std::int32_t count) {
    std::string bytes(static_cast<std::size_t>(count), '\0');
    bytes.resize(static_cast<std::size_t>(sender.ReadBuf(bytes.data(), count)));
    received += bytes;
  };
  Comm->Buffers().SetWriteSize(64);
  Comm->Buffers().SetWriteTimeout(50);
  Comm->Buffers().SetReadTimeout(20);
  int echoedCycles = 0;
  int cleanCycles = 0;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    Bench->Reset();
    Device port = MakePort("COM3", "Communications Port", "ACPI");
    port.wiring.echo = Echo::Always;
    const auto step = static_cast<PullOutStep>(random() % StepCount);
    if (step == AtACall) {
      static const char* const kCalls[] = {"WriteFile", "WaitCommEvent", "ClearCommError"};
      port.faults.pullOutAt = PullOutAt{kCalls[random() % 3], static_cast<int>(random() % 2 + 1)};
    }
    Bench->AddDevice(port);
    received.clear();

    ASSERT_NO_THROW(Comm->Open()) << "cycle " << cycle;
    if (step == BeforeWrite) {
      Bench->PullOut("COM3");
    }
    EXPECT_TRUE(Comm->WriteText("hello"));
    if (step == AfterWrite) {
      Bench->PullOut("COM3");
    }
    std::thread puller;
    if (step == FromAnotherThread) {
      const auto delay = std::chrono::microseconds(random() % 1500);
      puller = std::thread([this, delay] {
        std::this_thread::sleep_for(delay);
        Bench->PullOut("COM3");
      });
    }
    PumpUntil([&] { return received.size() == 5 || Bench->State("COM3").pulledOut; }, 5000);
    if (puller.joinable()) {
      puller.join();
    }
    if (step == None) {
      ++cleanCycles;
      EXPECT_EQ(received, "hello") << "cycle " << cycle << ": " << CycleReport();
    }
    echoedCycles += received == "hello" ? 1 : 0;
    Comm->QuickClose();
    ASSERT_FALSE(Bench->State("COM3").open) << "cycle " << cycle;
  }
  EXPECT_TRUE(PumpUntil([] { return TSpThread::LiveCount() == 0; }, 20000))
      << TSpThread::LiveCount() << " thread objects left";
  EXPECT_GE(echoedCycles, cleanCycles);
  EXPECT_GT(cleanCycles, 0);
}
