// The echo round trip of a real tty through the serial component, against Qt's QSerialPort on
// the same pseudo-terminal pair and in the same Qt event loop. A thread on the far end sends
// every byte back. One round trip: "U" is written, and the clock stops when the receive handler
// runs on the main thread (the component's OnRxChar, QSerialPort's readyRead).
//
// The component is measured as the program uses it (the write thread sends the byte) and with
// DirectWrite, which leaves the write thread out. They and QSerialPort take turns in blocks
// (each holds the tty exclusively while open), so drift in the machine's load falls on all.
// Reported: p50 and p99 of each, in microseconds, and the ratios component / QSerialPort.

#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSerialPort>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "app/Application.h"
#include "platform/devices/DeviceWorldRegistry.h"
#include "platform/host/HostWorld.h"
#include "serial/SpComm.h"
#include "testing/HostFakeTree.h"
#include "testing/HostPty.h"

namespace {

using Clock = std::chrono::steady_clock;
using win::host::HostWorld;
using win::host::testing::FakeHostTree;
using win::host::testing::Pty;
using win::host::testing::UsbAdapter;

constexpr int kTripsPerBlock = 200;
constexpr int kWarmUpTrips = 10;  // the first trips of a block pay for the fresh open
constexpr auto kNoEcho = std::chrono::seconds(5);

// Sends back whatever the port writes, until destroyed.
class FarEndEcho {
 public:
  explicit FarEndEcho(int master) : master_(master), stop_(eventfd(0, EFD_CLOEXEC)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~FarEndEcho() {
    const std::uint64_t one = 1;
    (void)!write(stop_, &one, sizeof one);
    thread_.join();
    close(stop_);
  }
  FarEndEcho(const FarEndEcho&) = delete;
  FarEndEcho& operator=(const FarEndEcho&) = delete;

 private:
  void Run() const {
    for (;;) {
      pollfd fds[2] = {{stop_, POLLIN, 0}, {master_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 || fds[0].revents != 0) {
        return;
      }
      char bytes[64];
      const ssize_t n = read(master_, bytes, sizeof bytes);
      if (n > 0) {
        (void)!write(master_, bytes, static_cast<std::size_t>(n));
      } else if (fds[1].revents & POLLHUP) {
        // No slave side open between blocks: wait for the next open without spinning.
        poll(fds, 1, 1);
      }
    }
  }

  int master_;
  int stop_;
  std::thread thread_;
};

// Runs the Qt event loop, sleeping while nothing happens, until `done`; false when the echo did
// not come back in time. (The timed processEvents overload would spin instead of sleeping.)
template <class Done>
bool LoopUntil(Done done) {
  const auto limit = Clock::now() + kNoEcho;
  while (!done()) {
    if (Clock::now() > limit) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// One block of round trips: `send` writes "U"; the receive handler sets `arrived` and then
// `received`. The trips after the warm-up go into `samples`, in microseconds.
template <class Send>
bool RoundTrips(Send send, bool& received, const Clock::time_point& arrived,
                std::vector<double>& samples) {
  for (int trip = 0; trip < kTripsPerBlock; ++trip) {
    received = false;
    const auto sent = Clock::now();
    send();
    if (!LoopUntil([&] { return received; })) {
      return false;
    }
    if (trip >= kWarmUpTrips) {
      samples.push_back(std::chrono::duration<double, std::micro>(arrived - sent).count());
    }
  }
  return true;
}

// One block of round trips through TSpComm on "COMn" of the host world. With `directWrite`
// the byte is written on the main thread instead of being queued for the write thread.
bool ComponentBlock(const std::string& portName, bool directWrite, std::vector<double>& samples) {
  TSpComm comm;
  comm.SetDeviceName(portName);
  comm.SetDirectWrite(directWrite);
  comm.SetBaudrate(br115200);
  Clock::time_point arrived{};
  bool received = false;
  comm.OnRxChar = [&](TSpCustomComm& sender, std::int32_t count) {
    arrived = Clock::now();
    char bytes[64];
    sender.ReadBuf(bytes, std::min<std::int32_t>(count, sizeof bytes));
    received = true;
  };
  comm.Open();
  if (!RoundTrips([&] { comm.WriteText("U"); }, received, arrived, samples)) {
    return false;
  }
  comm.Close();
  return true;
}

// The same block through QSerialPort on the pty's own path.
bool QSerialPortBlock(const std::string& path, std::vector<double>& samples) {
  QSerialPort port(QString::fromStdString(path));
  port.setBaudRate(QSerialPort::Baud115200);
  if (!port.open(QIODevice::ReadWrite)) {
    return false;
  }
  Clock::time_point arrived{};
  bool received = false;
  QObject::connect(&port, &QSerialPort::readyRead, [&] {
    arrived = Clock::now();
    port.readAll();
    received = true;
  });
  if (!RoundTrips([&] { port.write("U", 1); }, received, arrived, samples)) {
    return false;
  }
  port.close();
  return true;
}

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

void BM_EchoRoundTripAgainstQSerialPort(benchmark::State& state) {
  FakeHostTree tree;
  Pty pty;
  tree.AddUsb(UsbAdapter().Node("ttyUSB0"));
  tree.LinkDev("ttyUSB0", pty.SlavePath());
  TApplication application("Тальвик");  // the main-thread call wakes Qt's event loop
  auto world = std::make_shared<HostWorld>(tree.Paths());
  win::InstallDeviceWorld(world);
  const std::string portName = world->Ports().at(0).PortName();
  FarEndEcho echo(pty.Master());
  QTimer heartbeat;  // wakes a waiting loop now and then, so a lost echo ends the run
  heartbeat.start(100);

  std::vector<double> component;
  std::vector<double> direct;
  std::vector<double> qt;
  for (auto _ : state) {
    try {
      if (!ComponentBlock(portName, false, component) || !ComponentBlock(portName, true, direct)) {
        state.SkipWithError("the component's echo did not come back");
        break;
      }
    } catch (const std::exception& error) {
      state.SkipWithError(error.what());  // the port did not open or refused a setting
      break;
    }
    if (!QSerialPortBlock(pty.SlavePath(), qt)) {
      state.SkipWithError("QSerialPort did not open the pty or its echo did not come back");
      break;
    }
  }
  win::InstallDeviceWorld(nullptr);
  if (component.empty() || direct.empty() || qt.empty()) {
    return;
  }
  const double componentP50 = Percentile(component, 0.50);
  const double componentP99 = Percentile(component, 0.99);
  const double qtP50 = Percentile(qt, 0.50);
  const double qtP99 = Percentile(qt, 0.99);
  state.counters["component_p50_us"] = componentP50;
  state.counters["component_p99_us"] = componentP99;
  state.counters["direct_write_p50_us"] = Percentile(direct, 0.50);
  state.counters["direct_write_p99_us"] = Percentile(direct, 0.99);
  state.counters["qserialport_p50_us"] = qtP50;
  state.counters["qserialport_p99_us"] = qtP99;
  state.counters["ratio_p50"] = componentP50 / qtP50;
  state.counters["ratio_p99"] = componentP99 / qtP99;
}
BENCHMARK(BM_EchoRoundTripAgainstQSerialPort)->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace
