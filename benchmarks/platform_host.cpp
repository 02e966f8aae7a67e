// The host world: the search for port holders over a fake /proc of 2,000 processes, a full
// discovery scan of a fake sysfs of 64 ports (with the number of sysfs walks it makes), and an
// echo round trip on a pty pair through the raw comm calls (WriteFile "U", the far end echoes
// it, the overlapped ReadFile completes), reported as p50 / p99 in microseconds.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "benchmarks/support/DiscardingWindow.h"
#include "discovery/ExistingSerialPorts.h"
#include "discovery/ScanMessages.h"
#include "platform/devices/DeviceWorldRegistry.h"
#include "platform/host/HostHolders.h"
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

// A fake sysfs of 64 ports (32 native, 32 USB; no node in /dev, so every busy test fails at
// once) and a fake /proc of 2,000 processes with 20 open files each, one of which holds a port.
class FakeMachine {
 public:
  static constexpr int kProcesses = 2000;
  static constexpr int kFilesEach = 20;

  FakeMachine() {
    for (int i = 0; i < 32; ++i) {
      tree.AddNative("ttyS" + std::to_string(i), "4");
      tree.AddUsb(UsbAdapter()
                      .Node("ttyUSB" + std::to_string(i))
                      .Bus("1-" + std::to_string(i + 1))
                      .Serial("SN" + std::to_string(i)));
    }
    tree.UseFakeProc();
    for (int pid = 1000; pid < 1000 + kProcesses; ++pid) {
      std::vector<std::string> files = {"/dev/null", "/dev/null", "/dev/null"};
      while (files.size() < kFilesEach) {
        const int n = static_cast<int>(files.size()) + pid;
        files.push_back(n % 3 == 0   ? "socket:[" + std::to_string(n) + "]"
                        : n % 3 == 1 ? "pipe:[" + std::to_string(n) + "]"
                                     : "/usr/lib/x86_64-linux-gnu/lib" + std::to_string(n) + ".so");
      }
      if (pid == 1000 + kProcesses / 2) {
        files.back() = (tree.Dev() / "ttyUSB7").string();
      }
      tree.AddProcess(pid, "proc" + std::to_string(pid), files);
    }
  }

  FakeHostTree tree;
};

// The look at /proc that a walk makes once for all its ports.
void BM_HolderSearchFakeProc(benchmark::State& state) {
  FakeMachine machine;
  std::vector<std::string> nodes;
  for (const auto& port : HostWorld(machine.tree.Paths()).Ports()) {
    nodes.push_back(port.devicePath);
  }
  const win::host::HostHolders holders(machine.tree.Proc().string());
  std::size_t found = 0;
  for (auto _ : state) {
    found = holders.Find(nodes).size();
  }
  if (found != 1) {
    state.SkipWithError("the holder was not found");
  }
  state.counters["processes"] = FakeMachine::kProcesses;
  state.counters["ports"] = static_cast<double>(nodes.size());
}
BENCHMARK(BM_HolderSearchFakeProc)->Unit(benchmark::kMillisecond);

// Discovery's whole walk over the fake machine: the device list, a busy test per port, the
// properties; sysfs should be walked once per scan.
void BM_FullScanFakeSysfs64Ports(benchmark::State& state) {
  FakeMachine machine;
  auto world = std::make_shared<HostWorld>(machine.tree.Paths());
  InstallDeviceWorld(world);
  DiscardingWindow window;
  const HWND handle = RegisterMessageTarget(&window, false);
  const std::uint64_t walksBefore = world->Walks();
  std::vector<double> samples;
  for (auto _ : state) {
    window.found = 0;
    const auto start = std::chrono::steady_clock::now();
    EnumerateSerialPorts(handle);
    samples.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    if (window.found != 64) {
      state.SkipWithError("the scan did not report 64 ports");
      break;
    }
  }
  state.counters["walks_per_scan"] = static_cast<double>(world->Walks() - walksBefore) /
                                     static_cast<double>(std::max<std::size_t>(samples.size(), 1));
  UnregisterMessageTarget(handle);
  InstallDeviceWorld(CreateDeviceWorld(DeviceWorldKind::Bench));
  std::sort(samples.begin(), samples.end());
  if (!samples.empty()) {
    state.counters["p50_ms"] = samples[samples.size() / 2];
  }
}
BENCHMARK(BM_FullScanFakeSysfs64Ports)->Unit(benchmark::kMillisecond);

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
  win::CloseHandle(read.hEvent);
  win::CloseHandle(write.hEvent);
  ReportPercentiles(state, samples);
}
BENCHMARK(BM_PtyEchoRoundTrip)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
