// The host world: enumerating a fake sysfs of 64 ports, and an echo round trip on a pty pair
// through the raw comm calls (WriteFile "U", the far end echoes it, the overlapped ReadFile
// completes), reported as p50 / p99 in microseconds.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/host/HostWorld.h"
#include "testing/HostFakeTree.h"
#include "testing/HostPty.h"

namespace {

using namespace win;
using win::host::HostWorld;
using win::host::testing::FakeHostTree;
using win::host::testing::Pty;
using win::host::testing::UsbAdapter;

void ReportPercentiles(benchmark::State& state, std::vector<double>& samples) {
  if (samples.empty()) {
    return;
  }
  std::sort(samples.begin(), samples.end());
  const auto at = [&](double q) {
    return samples[std::min(samples.size() - 1, static_cast<std::size_t>(q * samples.size()))];
  };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
}

void BM_EnumerateFakeSysfs64Ports(benchmark::State& state) {
  FakeHostTree tree;
  for (int i = 0; i < 32; ++i) {
    tree.AddNative("ttyS" + std::to_string(i), "4");
    tree.AddUsb(UsbAdapter()
                    .Node("ttyUSB" + std::to_string(i))
                    .Bus("1-" + std::to_string(i + 1))
                    .Serial("SN" + std::to_string(i)));
  }
  HostWorld world(tree.Paths());
  GUID guid{};
  world.ClassGuidsFromName("Ports", &guid, 1, nullptr);
  std::vector<double> samples;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    HDEVINFO list = world.GetClassDevs(&guid, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    char name[256];
    DWORD count = 0;
    for (DWORD i = 0; world.EnumDeviceInfo(list, i, &data); ++i) {
      world.GetDeviceRegistryProperty(list, &data, SPDRP_FRIENDLYNAME, nullptr,
                                      reinterpret_cast<BYTE*>(name), sizeof name, nullptr);
      world.GetDeviceRegistryProperty(list, &data, SPDRP_ENUMERATOR_NAME, nullptr,
                                      reinterpret_cast<BYTE*>(name), sizeof name, nullptr);
      ++count;
    }
    world.DestroyDeviceInfoList(list);
    samples.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
    if (count != 64) {
      state.SkipWithError("the fake tree did not give 64 ports");
      break;
    }
  }
  ReportPercentiles(state, samples);
}
BENCHMARK(BM_EnumerateFakeSysfs64Ports)->Unit(benchmark::kMillisecond);

void BM_PtyEchoRoundTrip(benchmark::State& state) {
  FakeHostTree tree;
  Pty pty;
  tree.AddUsb(UsbAdapter().Node("ttyUSB0"));
  tree.LinkDev("ttyUSB0", pty.SlavePath());
  HostWorld world(tree.Paths());
  DWORD error = 0;
  auto port = world.OpenComm(world.Ports().at(0).PortName(), GENERIC_READ | GENERIC_WRITE, 0,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, error);
  if (!port) {
    state.SkipWithError("the pty did not open");
    return;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = 1200;
  dcb.fBinary = 1;
  dcb.ByteSize = 8;
  COMMTIMEOUTS timeouts{5, 0, 0, 0, 0};
  port->SetCommState(dcb);
  port->SetCommTimeouts(timeouts);
  OVERLAPPED read{};
  OVERLAPPED write{};
  read.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<double> samples;
  for (auto _ : state) {
    char echo = 0;
    const auto start = std::chrono::steady_clock::now();
    const bool readAtOnce = port->ReadFile(&echo, 1, nullptr, &read);
    if (!port->WriteFile("U", 1, nullptr, &write)) {
      WaitForSingleObject(write.hEvent, 5000);
    }
    char seen = 0;
    if (::read(pty.Master(), &seen, 1) != 1 || ::write(pty.Master(), &seen, 1) != 1) {
      state.SkipWithError("the far end failed");
      break;
    }
    if (!readAtOnce && WaitForSingleObject(read.hEvent, 5000) != WAIT_OBJECT_0) {
      state.SkipWithError("no echo within 5 s");
      break;
    }
    samples.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
  }
  port->OnClose();
  CloseHandle(read.hEvent);
  CloseHandle(write.hEvent);
  ReportPercentiles(state, samples);
}
BENCHMARK(BM_PtyEchoRoundTrip)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
