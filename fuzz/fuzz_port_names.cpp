// Names and classification: one device of the bench whose friendly name, description and
// enumerator are the input, walked by the discovery. Every record it reports is consistent: its
// name begins with its description and its port name in parentheses.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "discovery/ExistingSerialPorts.h"
#include "discovery/ScanMessages.h"
#include "fuzz/FuzzInput.h"
#include "platform/Additions.h"
#include "testing/UseBench.h"

namespace {

// Takes every record and checks it against what discovery promises.
class TCheckingWindow : public win::MessageTarget {
 public:
  TCheckingWindow() : Handle(win::RegisterMessageTarget(this, false)) {}
  ~TCheckingWindow() override { win::UnregisterMessageTarget(Handle); }
  TCheckingWindow(const TCheckingWindow&) = delete;
  TCheckingWindow& operator=(const TCheckingWindow&) = delete;

  win::LRESULT WindowProc(win::UINT message, win::WPARAM, win::LPARAM lParam) override {
    if (message != WM_PORT_FOUND) {
      return 0;
    }
    const std::unique_ptr<TAPort> port(reinterpret_cast<TAPort*>(lParam));
    const bool typeKnown = port->AdapterType == -1 || port->AdapterType == 0 ||
                           port->AdapterType == 2 || port->AdapterType == 3;
    if (port->FriendlyName.find("COM") == std::string::npos || !typeKnown ||
        (port->AdapterType == -1 && !port->Busy) ||
        port->PortName != ExtractPortName(port->FriendlyName) ||
        port->Description != ExtractDescription(port->FriendlyName) ||
        (!port->PortName.empty() && port->FriendlyName.find('(') != std::string::npos &&
         port->FriendlyName.rfind(port->Description + "(" + port->PortName + ")", 0) != 0)) {
      std::abort();
    }
    return 1;
  }
  void PostToQueue(win::UINT, win::WPARAM, win::LPARAM) override {}

  win::HWND Handle;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    win::SetMessageBoxHook(
        [](win::HWND, const std::string&, const std::string&, win::UINT) { return win::IDOK; });
    win::SetMessagePump([] {});
    return true;
  }();
  static_cast<void>(quiet);
  if (size == 0) {
    return 0;
  }
  // The first byte wires the port; the rest are the three properties.
  const std::uint8_t wiring = data[0];
  const auto fields = talvik_fuzz::Fields(talvik_fuzz::Text(data + 1, size - 1), 3, '\0');
  win::bench::BenchWorld& bench = win::bench::UseBench();
  win::bench::Device device;
  device.portName = "COM1";
  device.properties[win::SPDRP_FRIENDLYNAME] = win::bench::Property::String(fields[0]);
  device.properties[win::SPDRP_DEVICEDESC] = win::bench::Property::String(fields[1]);
  device.properties[win::SPDRP_ENUMERATOR_NAME] = win::bench::Property::String(fields[2]);
  device.wiring.rtsToCts = (wiring & 1) != 0;
  device.wiring.dtrToDsr = (wiring & 2) != 0;
  device.wiring.ctsHeldOn = (wiring & 4) != 0;
  device.faults.held = (wiring & 8) != 0;
  bench.AddDevice(device);

  TCheckingWindow window;
  EnumerateSerialPorts(window.Handle);
  return 0;
}
