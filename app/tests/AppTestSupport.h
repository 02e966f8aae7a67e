// AppTest, RecordedBox and SpinUntil: the shared set-up of the app tests (the Qt application, the
// application object with its message boxes recorded, an empty bench) and helpers that spin the
// event loop until something holds.
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QObject>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/Action.h"
#include "app/Application.h"
#include "app/PortContainerFrame.h"
#include "app/Unit1.h"
#include "serial/SpComm.h"
#include "testing/QtTestApp.h"
#include "testing/UseBench.h"

namespace talvik_test {

struct RecordedBox {
  std::string text;
  std::string caption;
  win::UINT type;
};

// Generous: sanitizer builds on two cores run the real-time bench several times slower.
inline constexpr int kScanTimeoutMs = 60000;
// The probe's phase time in tests. An echo at 1200 baud is back about 17 ms after the write; the
// designed 100 ms leave too little margin on a loaded machine, so tests wait longer.
inline constexpr int kTestPhaseMs = 500;

// Spins the Qt event loop until `done` holds or `timeoutMs` passed; returns done().
inline bool SpinUntil(const std::function<bool()>& done, int timeoutMs = kScanTimeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    QTest::qWait(2);
  }
  return true;
}

// Spins the event loop for a while, to show that something does not happen.
inline void SpinFor(int milliseconds) {
  QTest::qWait(milliseconds);
}

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureQtApp();
    Boxes.clear();
    ScansFinished = 0;
    Reports.clear();
    Bench = &win::bench::UseBench();
    Application = std::make_unique<TApplication>("Тальвик");
    win::SetMessageBoxHook(
        [this](win::HWND, const std::string& text, const std::string& caption, win::UINT type) {
          Boxes.push_back({text, caption, type});
          using namespace win;  // IDOK: a macro of <windows.h>
          return IDOK;
        });
  }

  void TearDown() override {
    Form.reset();
    Application.reset();
    Bench->Reset();
  }

  // Message boxes that stay open as QMessageBox::exec keeps them: each runs a nested event loop
  // until no scan runs or `openMs` passed. `onOpen` runs as a box opens.
  void UseModalBoxes(int openMs, std::function<void(const RecordedBox&)> onOpen = {}) {
    win::SetMessageBoxHook([this, openMs, onOpen](win::HWND, const std::string& text,
                                                  const std::string& caption, win::UINT type) {
      const RecordedBox box{text, caption, type};
      Boxes.push_back(box);
      if (onOpen) {
        onOpen(box);
      }
      SpinUntil([&] { return !Form || !Form->Scanning(); }, openMs);
      using namespace win;  // IDOK: a macro of <windows.h>
      return IDOK;
    });
  }

  static win::bench::Wiring EchoWiring(win::bench::Echo echo,
                                       win::bench::Carrier carrier = win::bench::Carrier::Off,
                                       std::string answer = {}) {
    win::bench::Wiring wiring;
    wiring.echo = echo;
    wiring.carrier = carrier;
    wiring.answer = std::move(answer);
    return wiring;
  }

  // A port of the class "Ports" with its wiring, added silently.
  void AddPort(const std::string& port, const win::bench::Wiring& wiring = {},
               const std::string& enumerator = "ACPI",
               const std::string& description = "Communications Port") {
    win::bench::Device device = win::bench::MakePort(port, description, enumerator);
    device.wiring = wiring;
    Bench->AddDevice(device);
  }

  void AddHeldPort(const std::string& port) {
    win::bench::Device device = win::bench::MakePort(port, "Communications Port", "ACPI");
    device.faults.held = true;
    Bench->AddDevice(device);
  }

  // Creates and shows the window; its first scan starts once the loop runs.
  TForm1& CreateForm() {
    Form = std::make_unique<TForm1>();
    Form->Timer1().setInterval(kTestPhaseMs);
    QObject::connect(Form.get(), &TForm1::ScanFinished, [this] {
      ++ScansFinished;
      if (RecordReports) {
        Reports.push_back(Rows());
      }
    });
    Form->show();
    return *Form;
  }

  // Waits until `count` scans have finished in all.
  bool WaitForScans(int count) {
    return SpinUntil([&] { return ScansFinished >= count; });
  }

  std::vector<TPortRowView> Rows() const { return Form->Frame21().RowViews(); }

  static std::string Cell(const std::string& text) { return "  " + text; }

  win::bench::BenchWorld* Bench = nullptr;
  std::unique_ptr<TApplication> Application;
  std::unique_ptr<TForm1> Form;
  std::vector<RecordedBox> Boxes;
  int ScansFinished = 0;
  // The rows of each finished scan, taken as it finished: a scan that follows at once (a port
  // changed during the last one) clears the rows.
  std::vector<std::vector<TPortRowView>> Reports;
  bool RecordReports = true;  // off where live allocations are counted
};

}  // namespace talvik_test
