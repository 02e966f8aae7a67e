// The comm component's event dispatch and a read of a byte that is already queued.
//
// Counts allocations with a replaced global operator new: the dispatch must allocate nothing.
// Reads report the mean time per ReadChar plus the 99th percentile and the maximum.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "serial/SpComm.h"
#include "serial/SpSynchronize.h"
#include "testing/AllocationCounter.h"
#include "testing/UseBench.h"

namespace {

using namespace win;

// COM3 on the bench, open at 256000 baud, without background threads, every handler set.
struct OpenPort {
  bench::BenchWorld& world = bench::UseBench();
  TSpComm comm;
  long long handled = 0;

  OpenPort() {
    SpSetMainThread();
    world.AddDevice(bench::MakePort("COM3", "Communications Port", "ACPI"));
    comm.SetDeviceName("COM3");
    comm.SetMonitorEvents({});
    comm.SetDirectWrite(true);
    comm.SetBaudrate(br256000);
    comm.Buffers().SetReadSize(8192);
    const TNotifyEvent count = [this](TSpCustomComm&) { ++handled; };
    comm.OnCts = comm.OnDsr = comm.OnRing = comm.OnRlsd = comm.OnBreak = count;
    comm.OnRxFlag = comm.OnTxEmpty = comm.OnPErr = comm.OnRx80Full = count;
    comm.OnEvent1 = comm.OnEvent2 = count;
    comm.OnError = [this](TSpCustomComm&, DWORD) { ++handled; };
    comm.OnRxChar = [this](TSpCustomComm&, std::int32_t) { ++handled; };
    comm.Open();
  }

  // Queues `count` bytes from the device and waits until they have all arrived.
  void Fill(int count) {
    world.SendFromDevice("COM3", std::string(static_cast<std::size_t>(count), 'U'));
    while (comm.InQueCount() < count) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
};

void BM_HandleEventsEveryHandler(benchmark::State& state) {
  OpenPort port;
  const DWORD mask = 0x1FFF & ~EV_RXCHAR & ~EV_ERR;
  const long long before = talvik_count::ProcessAllocations();
  for (auto _ : state) {
    port.comm.HandleEvents(mask);
  }
  state.counters["allocs_per_dispatch"] =
      static_cast<double>(talvik_count::ProcessAllocations() - before) /
      static_cast<double>(state.iterations());
  state.counters["handlers_per_dispatch"] =
      static_cast<double>(port.handled) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_HandleEventsEveryHandler);

// EV_ERR and the received-character step each make one status query of the device.
void BM_HandleEventsErrorAndRxChar(benchmark::State& state) {
  OpenPort port;
  port.Fill(1);
  const long long before = talvik_count::ProcessAllocations();
  for (auto _ : state) {
    port.comm.HandleRxChar();
    port.comm.HandleEvents(EV_ERR | EV_CTS);
  }
  state.counters["allocs_per_dispatch"] =
      static_cast<double>(talvik_count::ProcessAllocations() - before) /
      static_cast<double>(state.iterations());
}
BENCHMARK(BM_HandleEventsErrorAndRxChar);

void BM_ReadCharQueued(benchmark::State& state) {
  OpenPort port;
  constexpr int kBatch = 4000;
  std::vector<double> micros;
  micros.reserve(1 << 20);
  int left = 0;
  for (auto _ : state) {
    if (left == 0) {
      state.PauseTiming();
      port.Fill(kBatch);
      left = kBatch;
      state.ResumeTiming();
    }
    char ch = 0;
    const auto start = std::chrono::steady_clock::now();
    const bool got = port.comm.ReadChar(ch);
    const auto stop = std::chrono::steady_clock::now();
    if (!got || ch != 'U') {
      state.SkipWithError("ReadChar did not deliver the queued byte");
      break;
    }
    --left;
    if (micros.size() < micros.capacity()) {
      micros.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
    }
  }
  if (!micros.empty()) {
    std::sort(micros.begin(), micros.end());
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
    state.counters["max_us"] = micros.back();
  }
}
BENCHMARK(BM_ReadCharQueued)->Iterations(20000);

}  // namespace

BENCHMARK_MAIN();
