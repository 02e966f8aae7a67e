// Wake-up latency: from SetEvent on one thread to the return of WaitForSingleObject on another.
// Reports the median and the 99th percentile in microseconds.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/Win32.h"

using namespace win;

namespace {

using Clock = std::chrono::steady_clock;

void BM_EventWakeUp(benchmark::State& state) {
  HANDLE go = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  HANDLE woke = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  std::atomic<bool> stop{false};
  std::atomic<Clock::rep> wokeAt{0};
  std::thread waiter([&] {
    for (;;) {
      WaitForSingleObject(go, INFINITE);
      wokeAt.store(Clock::now().time_since_epoch().count());
      if (stop) {
        break;
      }
      SetEvent(woke);
    }
  });
  std::vector<double> micros;
  for (auto _ : state) {
    Sleep(1);  // let the waiter block before the signal
    const auto setAt = Clock::now();
    SetEvent(go);
    WaitForSingleObject(woke, INFINITE);
    const auto latency = Clock::duration(wokeAt.load()) - setAt.time_since_epoch();
    micros.push_back(std::chrono::duration<double, std::micro>(latency).count());
  }
  stop = true;
  SetEvent(go);
  waiter.join();
  win::CloseHandle(go);
  win::CloseHandle(woke);
  std::sort(micros.begin(), micros.end());
  if (!micros.empty()) {
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
  }
}

BENCHMARK(BM_EventWakeUp)->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
