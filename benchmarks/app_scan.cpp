// A full scan of a 16-port mixed bench, against the waits the design imposes: two 100 ms phases
// per silent port, one phase and the echo's wire time per port that echoes only with DTR high,
// the echo's wire time per loop-back port, and the 300 ms close of every probed port. Reports
// the ratio of wall time to those waits, and the longest stretch in which the main loop could
// not run (the 300 ms closes excluded).
#include <benchmark/benchmark.h>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <string>

#include "app/Action.h"
#include "app/Application.h"
#include "app/PortContainerFrame.h"
#include "app/Unit1.h"
#include "serial/SpComm.h"
#include "testing/UseBench.h"

namespace {

using Clock = std::chrono::steady_clock;
using win::bench::Carrier;
using win::bench::Echo;
using win::bench::Wiring;

constexpr double kPhaseMs = 100.0;
constexpr double kCloseMs = 300.0;

void AddPort(win::bench::BenchWorld& bench, const std::string& name, const Wiring& wiring,
             const std::string& enumerator = "ACPI", bool held = false) {
  win::bench::Device device = win::bench::MakePort(name, "Communications Port", enumerator);
  device.wiring = wiring;
  device.faults.held = held;
  bench.AddDevice(device);
}

// Builds the bench and returns the waits its scan must spend, in milliseconds.
double BuildMixedBench(win::bench::BenchWorld& bench) {
  Wiring silent;
  Wiring loop;
  loop.echo = Echo::Always;
  Wiring cableV1;
  cableV1.echo = Echo::WhileDtrHigh;
  cableV1.carrier = Carrier::On;
  Wiring cableV2;
  cableV2.rtsToCts = true;
  cableV2.dtrToDsr = true;
  Wiring cableV3;
  cableV3.rtsToCts = true;

  int port = 1;
  const auto next = [&port] { return "COM" + std::to_string(port++); };
  for (int i = 0; i < 3; ++i) {
    AddPort(bench, next(), silent, "ACPI", true);  // busy
  }
  AddPort(bench, next(), silent, "BTHENUM\\{00001101-0000-1000-8000-00805f9b34fb}");
  AddPort(bench, next(), cableV2, "USB");
  AddPort(bench, next(), cableV3, "USB");
  for (int i = 0; i < 5; ++i) {
    AddPort(bench, next(), silent);
  }
  for (int i = 0; i < 3; ++i) {
    AddPort(bench, next(), loop);
  }
  for (int i = 0; i < 2; ++i) {
    AddPort(bench, next(), cableV1);
  }
  // The "U" goes out and comes back: two characters at 1200 baud, 8N1.
  const double echoMs = 2 * 10.0 * 1000.0 / 1200.0;
  return 5 * (2 * kPhaseMs + kCloseMs) + 3 * (echoMs + kCloseMs) +
         2 * (kPhaseMs + echoMs + kCloseMs);
}

void BM_MixedBenchScan(benchmark::State& state) {
  win::bench::BenchWorld& bench = win::bench::UseBench();
  const double imposedMs = BuildMixedBench(bench);
  TApplication application("Тальвик");
  int boxes = 0;
  win::SetMessageBoxHook([&boxes](win::HWND, const std::string&, const std::string&, win::UINT) {
    ++boxes;
    using namespace win;  // IDOK: a macro of <windows.h>
    return IDOK;
  });

  TForm1 form;
  bool closed = false;
  form.SpComm1().OnClose = [&closed](TSpCustomComm&) { closed = true; };
  {
    QEventLoop first;  // the scan that starts by itself
    QObject::connect(&form, &TForm1::ScanFinished, &first, &QEventLoop::quit);
    first.exec();
  }

  // Ticks as often as the loop lets it; a long gap between two ticks is a blocked loop.
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(1);
  Clock::time_point lastTick;
  double maxBlockMs = 0;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const Clock::time_point now = Clock::now();
    double gapMs = std::chrono::duration<double, std::milli>(now - lastTick).count();
    if (closed) {
      gapMs -= kCloseMs;  // the close's own pause is the design's, not a stall
    }
    maxBlockMs = std::max(maxBlockMs, gapMs);
    closed = false;
    lastTick = now;
  });

  double wallMs = 0;
  int scans = 0;
  for (auto _ : state) {
    QEventLoop loop;
    QObject::connect(&form, &TForm1::ScanFinished, &loop, &QEventLoop::quit);
    Clock::time_point start;
    QTimer::singleShot(0, &form, [&] {
      lastTick = Clock::now();
      closed = false;
      ticker.start();
      start = Clock::now();
      form.ACheck().Execute();
    });
    loop.exec();
    ticker.stop();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    state.SetIterationTime(ms / 1000.0);
    wallMs += ms;
    ++scans;
  }
  state.counters["imposed_ms"] = imposedMs;
  state.counters["wall_ms"] = wallMs / scans;
  state.counters["ratio"] = wallMs / scans / imposedMs;
  state.counters["max_block_ms"] = maxBlockMs;
  state.counters["boxes"] = boxes;
  state.counters["rows"] = form.Frame21().RowCount();
}
BENCHMARK(BM_MixedBenchScan)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
