// The driver contract on the bench: a port with nothing but the line behind it.

#include <chrono>
#include <thread>

#include "testing/CommContract.h"
#include "testing/UseBench.h"

namespace win::contract {
namespace {

class BenchContractWorld {
 public:
  static constexpr std::array<Skip, 0> kSkipped{};

  BenchContractWorld() { bench_.AddDevice(bench::MakePort("COM3", "Communications Port", "ACPI")); }

  std::string Path() const { return "\\\\.\\COM3"; }
  void Send(const std::string& bytes) { bench_.SendFromDevice("COM3", bytes); }
  // What left the port since the last call, once the line has been quiet for a moment.
  std::string Received(DWORD ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::string sent = bench_.State("COM3").transmitted.substr(taken_);
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      std::string now = bench_.State("COM3").transmitted.substr(taken_);
      if ((!now.empty() && now == sent) || std::chrono::steady_clock::now() > end) {
        taken_ += now.size();
        return now;
      }
      sent = std::move(now);
    }
  }
  void GoAway() { bench_.PullOut("COM3"); }
  void RaiseLineError(DWORD ceFlags) { bench_.RaiseLineError("COM3", ceFlags); }
  void SetLoops(bool rtsToCts, bool dtrToDsr) {
    bench::Wiring wiring;
    wiring.rtsToCts = rtsToCts;
    wiring.dtrToDsr = dtrToDsr;
    bench_.SetWiring("COM3", wiring);
  }

 private:
  bench::BenchWorld& bench_ = bench::UseBench();
  std::size_t taken_ = 0;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Bench, CommContract, BenchContractWorld);

}  // namespace
}  // namespace win::contract
