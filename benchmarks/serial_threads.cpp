// The event and write threads of an open bench port.
//
// - RxLatency: from the end of a byte's wire time to OnRxChar running on the main thread.
// - WriteOneByte: how long WriteText of one byte takes to return (queued for the write thread).
// - Allocations per queued write and per dispatched receive event, counted with a replaced
//   global operator new: on the main thread (where the component and the handlers run) and in
//   the whole process (the bench records every call it gets, which may allocate).
// - IdleCpu: CPU time of the process over 10 s with a port open and idle, and with the device
//   pulled out under the open port.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "serial/SpComm.h"
#include "serial/SpSynchronize.h"
#include "testing/AllocationCounter.h"
#include "testing/UseBench.h"

namespace {

using namespace win;
using Clock = std::chrono::steady_clock;

// The main thread sleeps on this until a thread queues a call, like the application's loop.
struct WakeUp {
  std::mutex Lock;
  std::condition_variable Signal;
  bool Woken = false;
};
WakeUp gWakeUp;

template <class Predicate>
void PumpUntil(Predicate done) {
  while (!done()) {
    SpDrainMainThreadCalls();
    if (done()) {
      return;
    }
    std::unique_lock<std::mutex> guard(gWakeUp.Lock);
    gWakeUp.Signal.wait_for(guard, std::chrono::milliseconds(1), [] { return gWakeUp.Woken; });
    gWakeUp.Woken = false;
  }
}

// COM3 on the bench, open at 115200 baud with both threads.
struct OpenPort {
  bench::BenchWorld& world = bench::UseBench();
  TSpComm comm;
  Clock::time_point rxAt{};
  long long rxCount = 0;
  long long txEmpty = 0;
  long long readAllocations = 0;  // by the handler's own ReadBuf, on the main thread

  OpenPort() {
    SpSetMainThread();
    SpSetWakeUp([] {
      std::lock_guard<std::mutex> guard(gWakeUp.Lock);
      gWakeUp.Woken = true;
      gWakeUp.Signal.notify_one();
    });
    world.AddDevice(bench::MakePort("COM3", "Communications Port", "ACPI"));
    comm.SetDeviceName("COM3");
    comm.SetBaudrate(br115200);
    comm.OnRxChar = [this](TSpCustomComm& sender, std::int32_t count) {
      rxAt = Clock::now();
      char bytes[64];
      const long long before = talvik_count::ThreadAllocations();
      sender.ReadBuf(bytes, std::min<std::int32_t>(count, sizeof bytes));
      readAllocations += talvik_count::ThreadAllocations() - before;
      ++rxCount;
    };
    comm.OnTxEmpty = [this](TSpCustomComm&) { ++txEmpty; };
    comm.Open();
  }
};

double Percentile(std::vector<double>& values, double fraction) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

void BM_RxLatency(benchmark::State& state) {
  OpenPort port;
  bench::BenchWorld& world = port.world;
  const auto wire = std::chrono::microseconds(world.CharTimeMicros("COM3"));
  std::vector<double> latencies;
  long long mainAllocations = 0;
  const long long processBefore = talvik_count::ProcessAllocations();
  for (auto _ : state) {
    const long long before = port.rxCount;
    const Clock::time_point sent = Clock::now();
    world.SendFromDevice("COM3", "A");
    const long long mainBefore = talvik_count::ThreadAllocations();
    PumpUntil([&] { return port.rxCount != before; });
    mainAllocations += talvik_count::ThreadAllocations() - mainBefore;
    const auto latency = port.rxAt - (sent + wire);
    latencies.push_back(std::chrono::duration<double, std::micro>(latency).count());
  }
  const double events = static_cast<double>(latencies.size());
  state.counters["p50_us"] = Percentile(latencies, 0.50);
  state.counters["p99_us"] = Percentile(latencies, 0.99);
  state.counters["max_us"] = latencies.back();
  state.counters["main_allocs_per_event"] = static_cast<double>(mainAllocations) / events;
  state.counters["of_which_handler_read"] = static_cast<double>(port.readAllocations) / events;
  state.counters["process_allocs_per_event"] =
      static_cast<double>(talvik_count::ProcessAllocations() - processBefore) / events;
}
BENCHMARK(BM_RxLatency)->Iterations(2000)->Unit(benchmark::kMicrosecond);

void BM_WriteOneByte(benchmark::State& state) {
  OpenPort port;
  std::vector<double> durations;
  long long mainAllocations = 0;
  const long long processBefore = talvik_count::ProcessAllocations();
  for (auto _ : state) {
    const long long before = port.txEmpty;
    const long long mainBefore = talvik_count::ThreadAllocations();
    const Clock::time_point start = Clock::now();
    const bool queued = port.comm.WriteText("U");
    const auto took = Clock::now() - start;
    mainAllocations += talvik_count::ThreadAllocations() - mainBefore;
    benchmark::DoNotOptimize(queued);
    state.SetIterationTime(std::chrono::duration<double>(took).count());
    durations.push_back(std::chrono::duration<double, std::micro>(took).count());
    PumpUntil([&] { return port.txEmpty != before; });
  }
  const double writes = static_cast<double>(durations.size());
  state.counters["p50_us"] = Percentile(durations, 0.50);
  state.counters["p99_us"] = Percentile(durations, 0.99);
  state.counters["max_us"] = durations.back();
  state.counters["main_allocs_per_write"] = static_cast<double>(mainAllocations) / writes;
  state.counters["process_allocs_per_write"] =
      static_cast<double>(talvik_count::ProcessAllocations() - processBefore) / writes;
}
BENCHMARK(BM_WriteOneByte)->Iterations(2000)->UseManualTime()->Unit(benchmark::kMicrosecond);

double CpuMilliseconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

void IdleCpu(benchmark::State& state, bool pulledOut) {
  OpenPort port;
  if (pulledOut) {
    port.world.PullOut("COM3");
    port.comm.WriteText("still queued");
  }
  double cpu = 0;
  for (auto _ : state) {
    const double before = CpuMilliseconds();
    // Woken only by queued calls, as the application's loop is.
    const Clock::time_point end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end) {
      SpDrainMainThreadCalls();
      std::unique_lock<std::mutex> guard(gWakeUp.Lock);
      gWakeUp.Signal.wait_until(guard, end, [] { return gWakeUp.Woken; });
      gWakeUp.Woken = false;
    }
    cpu = CpuMilliseconds() - before;
  }
  state.counters["cpu_ms_per_10s"] = cpu;
}
void BM_IdleCpuOpenPort(benchmark::State& state) {
  IdleCpu(state, false);
}
void BM_IdleCpuPulledOutPort(benchmark::State& state) {
  IdleCpu(state, true);
}
BENCHMARK(BM_IdleCpuOpenPort)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleCpuPulledOutPort)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
