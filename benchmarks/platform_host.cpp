// The host world: the search for port holders over a fake /proc of 2,000 processes, a full
// discovery scan of a fake sysfs of 64 ports (with the number of sysfs and /proc walks it
// makes), the search on this machine's real /proc with 1,000 extra processes of 40 descriptors
// each, side by side with fuser (psmisc) on one node, both as a whole talvik-scan run and as the
// host world's walk alone, and an echo round trip on a pty pair through the raw comm calls
// (WriteFile "U", the far end echoes it, the overlapped ReadFile completes), reported as p50 /
// p99 in microseconds.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
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
using win::host::HostPaths;
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

// A fake sysfs of 64 ports (32 native, 32 USB; only ttyUSB7 has a node in /dev, a pty, so every
// other busy test fails at once) and a fake /proc of 2,000 processes with 20 open files each, one
// of which holds ttyUSB7.
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
    tree.LinkDev("ttyUSB7", pty.SlavePath());
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
  Pty pty;
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
  const std::uint64_t procWalksBefore = world->ProcWalks();
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
  const double scans = static_cast<double>(std::max<std::size_t>(samples.size(), 1));
  state.counters["walks_per_scan"] = static_cast<double>(world->Walks() - walksBefore) / scans;
  state.counters["proc_walks_per_scan"] =
      static_cast<double>(world->ProcWalks() - procWalksBefore) / scans;
  UnregisterMessageTarget(handle);
  InstallDeviceWorld(CreateDeviceWorld(DeviceWorldKind::Bench));
  std::sort(samples.begin(), samples.end());
  if (!samples.empty()) {
    state.counters["p50_ms"] = samples[samples.size() / 2];
  }
}
BENCHMARK(BM_FullScanFakeSysfs64Ports)->Unit(benchmark::kMillisecond);

// 1,000 extra processes with 40 open descriptors each (the null device, a regular file, pipes
// and sockets), for as long as the object lives; reaped when it goes.
class ExtraProcesses {
 public:
  static constexpr int kCount = 1000;
  static constexpr int kDescriptors = 40;

  ExtraProcesses() {
    int stay[2];
    if (pipe(stay) != 0) {
      return;
    }
    for (int i = 0; i < kCount; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        close(stay[1]);
        for (int kind = 0, last = 0; last < kDescriptors - 1; ++kind) {
          int pair[2] = {-1, -1};
          switch (kind % 4) {
            case 0:
              last = open("/dev/null", O_RDONLY);
              break;
            case 1:
              last = open("/proc/self/exe", O_RDONLY);
              break;
            case 2:
              last = pipe(pair) == 0 ? pair[1] : -1;
              break;
            default:
              last = socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0 ? pair[1] : -1;
              break;
          }
          if (last < 0) {
            _exit(1);
          }
        }
        char byte = 0;
        (void)!read(stay[0], &byte, 1);  // until the parent closes its end
        _exit(0);
      }
      if (pid > 0) {
        children_.push_back(pid);
      }
    }
    close(stay[0]);
    stay_ = stay[1];
  }
  ~ExtraProcesses() {
    if (stay_ >= 0) {
      close(stay_);
    }
    for (const pid_t pid : children_) {
      waitpid(pid, nullptr, 0);
    }
  }
  ExtraProcesses(const ExtraProcesses&) = delete;
  ExtraProcesses& operator=(const ExtraProcesses&) = delete;

  bool Complete() const { return children_.size() == kCount && stay_ >= 0; }

 private:
  std::vector<pid_t> children_;
  int stay_ = -1;
};

// Runs a program with its output thrown away; its wall time in milliseconds, or -1.
double RunMs(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (failed != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) == 127) {
    return -1;
  }
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples.empty() ? 0 : samples[samples.size() / 2];
}

// Each iteration runs Talvik's side and fuser on /dev/ttyS0 once, in turns, so that both see the
// same machine; the ratio is that of the medians.
void CompareWithFuser(benchmark::State& state, const std::function<double()>& talvik) {
  ExtraProcesses extra;
  if (!extra.Complete()) {
    state.SkipWithError("the extra processes did not start");
    return;
  }
  std::vector<double> ours;
  std::vector<double> fuser;
  for (auto _ : state) {
    const bool fuserFirst = ours.size() % 2 == 1;
    const double fuserBefore = fuserFirst ? RunMs({"fuser", "/dev/ttyS0"}) : 0;
    const double mine = talvik();
    const double theirs = fuserFirst ? fuserBefore : RunMs({"fuser", "/dev/ttyS0"});
    if (mine < 0 || theirs < 0) {
      state.SkipWithError("talvik-scan or fuser (psmisc) did not run");
      return;
    }
    ours.push_back(mine);
    fuser.push_back(theirs);
  }
  state.counters["talvik_ms"] = Median(ours);
  state.counters["fuser_ms"] = Median(fuser);
  state.counters["ratio"] = Median(ours) / Median(fuser);
}

// A whole talvik-scan run of the build this benchmark belongs to.
void BM_TalvikScanVsFuserRealProc(benchmark::State& state) {
  std::error_code error;
  const auto scan =
      std::filesystem::read_symlink("/proc/self/exe", error).parent_path().parent_path() / "cli" /
      "talvik-scan";
  if (!std::filesystem::exists(scan, error)) {
    state.SkipWithError("no talvik-scan beside the benchmarks");
    return;
  }
  CompareWithFuser(state, [&] { return RunMs({scan.string()}); });
}
BENCHMARK(BM_TalvikScanVsFuserRealProc)->Unit(benchmark::kMillisecond)->Iterations(15);

// The host world's walk as a scan makes it: the device list of this machine's ports, one walk of
// sysfs and /proc.
void BM_HostWalkVsFuserRealProc(benchmark::State& state) {
  HostPaths paths;
  paths.watchHotplug = false;
  HostWorld world(paths);
  CompareWithFuser(state, [&] {
    const auto start = std::chrono::steady_clock::now();
    GUID guid{};
    world.ClassGuidsFromName("Ports", &guid, 1, nullptr);
    world.DestroyDeviceInfoList(world.GetClassDevs(&guid, nullptr, DIGCF_PRESENT));
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
  });
}
BENCHMARK(BM_HostWalkVsFuserRealProc)->Unit(benchmark::kMillisecond)->Iterations(15);

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
