// Discovery of 256 bench ports with their open tests: time per device, and the longest stretch
// during which the main loop got no chance to handle a message (between two pumps).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "benchmarks/support/DiscardingWindow.h"
#include "discovery/ExistingSerialPorts.h"
#include "discovery/ScanMessages.h"
#include "platform/Additions.h"
#include "testing/UseBench.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int DeviceCount = 256;

void FillBench() {
  auto& bench = win::bench::UseBench();
  for (int i = 0; i < DeviceCount; ++i) {
    const std::string port = "COM" + std::to_string(i + 1);
    win::bench::Device device = win::bench::MakePort(
        port, i % 2 == 0 ? "USB Serial Port" : "Communications Port", i % 2 == 0 ? "USB" : "ACPI");
    device.wiring.rtsToCts = i % 4 == 0;
    device.wiring.dtrToDsr = i % 8 == 0;
    device.faults.held = i % 16 == 5;
    bench.AddDevice(device);
  }
}

void BM_DiscoverBenchPorts(benchmark::State& state) {
  FillBench();
  DiscardingWindow window;
  const win::HWND handle = win::RegisterMessageTarget(&window, false);
  Clock::duration longest{};
  std::int64_t gaps = 0;
  std::int64_t longGaps = 0;
  Clock::time_point last;
  const auto gapEnds = [&](Clock::time_point now) {
    longest = std::max(longest, now - last);
    ++gaps;
    longGaps += now - last > std::chrono::milliseconds(16) ? 1 : 0;
    last = now;
  };
  win::SetMessagePump([&] { gapEnds(Clock::now()); });
  const Clock::time_point start = Clock::now();
  for (auto _ : state) {
    last = Clock::now();
    EnumerateSerialPorts(handle);
    gapEnds(Clock::now());
  }
  const auto elapsed = std::chrono::duration<double, std::micro>(Clock::now() - start);
  win::SetMessagePump([] {});
  win::UnregisterMessageTarget(handle);
  win::bench::UseBench();

  if (window.found != state.iterations() * DeviceCount) {
    state.SkipWithError("not every port was reported");
  }
  state.SetItemsProcessed(window.found);
  state.counters["us_per_device"] = elapsed.count() / static_cast<double>(window.found);
  state.counters["longest_pump_gap_ms"] =
      std::chrono::duration<double, std::milli>(longest).count();
  state.counters["gaps_over_16ms"] = static_cast<double>(longGaps);
  state.counters["gaps"] = static_cast<double>(gaps);
}
BENCHMARK(BM_DiscoverBenchPorts)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
