#pragma once
// TRecordingWindow and the discovery fixture: common set-up of the discovery tests: an empty bench,
// a recording window, recorded message boxes and pumps, and the built-in device-setup library
// restored afterwards.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "discovery/ExistingSerialPorts.h"
#include "discovery/ScanMessages.h"
#include "platform/Additions.h"
#include "platform/devices/SetupApiModule.h"
#include "testing/UseBench.h"

// A window that records what it is sent and posted and owns the port records it receives.
class TRecordingWindow : public win::MessageTarget {
 public:
  TRecordingWindow() : Handle(win::RegisterMessageTarget(this, false)) {}
  ~TRecordingWindow() override { win::UnregisterMessageTarget(Handle); }
  TRecordingWindow(const TRecordingWindow&) = delete;
  TRecordingWindow& operator=(const TRecordingWindow&) = delete;

  win::LRESULT WindowProc(win::UINT message, win::WPARAM, win::LPARAM lParam) override {
    Sent.push_back(message);
    if (message == WM_PORT_FOUND) {
      Ports.emplace_back(reinterpret_cast<TAPort*>(lParam));
      if (OnPortFound) {
        OnPortFound(*Ports.back());
      }
      return 1;
    }
    return 0;
  }
  void PostToQueue(win::UINT message, win::WPARAM, win::LPARAM) override {
    Posted.push_back(message);
  }

  win::HWND Handle;
  std::vector<std::unique_ptr<TAPort>> Ports;
  std::vector<win::UINT> Sent;
  std::vector<win::UINT> Posted;
  std::function<void(const TAPort&)> OnPortFound;
};

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bench = &win::bench::UseBench();
    win::SetMessageBoxHook(
        [this](win::HWND, const std::string& text, const std::string&, win::UINT) {
          Boxes.push_back(text);
          using namespace win;  // IDOK: a macro of <windows.h>
          return IDOK;
        });
    win::SetMessagePump([this] { ++Pumps; });
  }

  void TearDown() override {
    win::SetMessagePump([] {});
    win::SetMessageBoxHook(nullptr);
    win::RegisterBuiltinModule(win::detail::SetupApiModule());
    win::UnregisterBuiltinModule("msports.dll");
    bench->Reset();
  }

  // Adds a port device of the class "Ports" and returns its name.
  void AddPort(const std::string& port, const std::string& description = "Communications Port",
               const std::string& enumerator = "ACPI") {
    bench->AddDevice(win::bench::MakePort(port, description, enumerator));
  }

  // Replaces one export of the built-in device-setup library (null: the export goes).
  static void ReplaceSetupApiExport(const std::string& name, win::FARPROC proc) {
    win::BuiltinModule module = win::detail::SetupApiModule();
    std::erase_if(module.exports, [&](const auto& entry) { return entry.first == name; });
    if (proc != nullptr) {
      module.exports.emplace_back(name, proc);
    }
    win::RegisterBuiltinModule(std::move(module));
  }

  win::bench::BenchWorld* bench = nullptr;
  TRecordingWindow window;
  std::vector<std::string> Boxes;
  int Pumps = 0;
};
