// How late a bench read completes after the end of its byte's wire time, at 115200 baud:
// for a byte sent from the device side, and for a byte looped back by an echo wiring.
// Reports the median, the 99th percentile and the worst case in microseconds.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "testing/UseBench.h"

namespace {

using namespace win;
using Clock = std::chrono::steady_clock;

struct OpenPort {
  HANDLE port = INVALID_HANDLE_VALUE;
  OVERLAPPED read{};
  OVERLAPPED write{};
  std::chrono::nanoseconds charTime{};

  explicit OpenPort(bench::BenchWorld& world) {
    port = win::CreateFileA("\\\\.\\COM3", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
    DCB dcb{};
    win::GetCommState(port, &dcb);
    dcb.BaudRate = 115200;
    win::SetCommState(port, &dcb);
    COMMTIMEOUTS timeouts{5, 0, 0, 0, 0};
    win::SetCommTimeouts(port, &timeouts);
    read.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    charTime = std::chrono::microseconds(world.CharTimeMicros("COM3"));
  }
  ~OpenPort() {
    win::CloseHandle(port);
    win::CloseHandle(read.hEvent);
    win::CloseHandle(write.hEvent);
  }
  OpenPort(const OpenPort&) = delete;
  OpenPort& operator=(const OpenPort&) = delete;
};

void Report(benchmark::State& state, std::vector<double>& lateness) {
  if (lateness.empty()) {
    return;
  }
  std::sort(lateness.begin(), lateness.end());
  auto at = [&](double q) {
    return lateness[std::min(lateness.size() - 1, static_cast<std::size_t>(q * lateness.size()))];
  };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
  state.counters["max_us"] = lateness.back();
}

double MicrosLate(Clock::time_point start, std::chrono::nanoseconds wire) {
  return std::chrono::duration<double, std::micro>(Clock::now() - (start + wire)).count();
}

void BM_ReadAfterDeviceByte(benchmark::State& state) {
  auto& world = bench::UseBench();
  world.AddDevice(bench::MakePort("COM3", "Communications Port", "ACPI"));
  OpenPort open(world);
  std::vector<double> lateness;
  char byte = 0;
  DWORD count = 0;
  for (auto _ : state) {
    win::ReadFile(open.port, &byte, 1, &count, &open.read);
    const auto start = Clock::now();
    world.SendFromDevice("COM3", "U");
    WaitForSingleObject(open.read.hEvent, INFINITE);
    lateness.push_back(MicrosLate(start, open.charTime));
  }
  Report(state, lateness);
}
BENCHMARK(BM_ReadAfterDeviceByte)->Iterations(3000)->Unit(benchmark::kMicrosecond);

void BM_ReadAfterEcho(benchmark::State& state) {
  auto& world = bench::UseBench();
  bench::Device device = bench::MakePort("COM3", "Communications Port", "ACPI");
  device.wiring.echo = bench::Echo::Always;
  world.AddDevice(device);
  OpenPort open(world);
  std::vector<double> lateness;
  char byte = 0;
  DWORD count = 0;
  for (auto _ : state) {
    win::ReadFile(open.port, &byte, 1, &count, &open.read);
    const auto start = Clock::now();
    win::WriteFile(open.port, "U", 1, &count, &open.write);
    WaitForSingleObject(open.read.hEvent, INFINITE);
    lateness.push_back(MicrosLate(start, open.charTime));
    win::GetOverlappedResult(open.port, &open.write, &count, TRUE);
  }
  Report(state, lateness);
}
BENCHMARK(BM_ReadAfterEcho)->Iterations(3000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
