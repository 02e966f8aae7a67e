#pragma once
// HostEnumerator and HostPortInfo: finds the serial ports of this machine in sysfs: every tty of
// <sysfs>/class/tty with a real device behind it, except serial-core ports without a UART (type 0).

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/host/HostAliases.h"

namespace win::host {

struct HostPortInfo {
  std::string node;         // "ttyUSB0"
  std::string devicePath;   // "<dev>/ttyUSB0"
  int comNumber = 0;        // COMn
  std::string description;  // "FT232R USB UART, ttyUSB0"
  std::string enumerator;   // "USB", "ACPI", "PLATFORM", or one with "{" for Bluetooth
  std::string driver;
  bool usb = false;
  std::string vendorId;  // USB idVendor / idProduct, four hex digits
  std::string productId;
  std::string serialNumber;
  std::string manufacturer;
  std::string byId;                         // name in <dev>/serial/by-id, if any
  std::string byPath;                       // name in <dev>/serial/by-path, if any
  std::optional<bool> lowLatency;           // from the serial-core flags, where sysfs shows them
  std::optional<std::string> latencyTimer;  // FTDI latency_timer in ms, where the driver has it
  std::string latencyTimerPath;             // its sysfs attribute

  std::string PortName() const { return "COM" + std::to_string(comNumber); }
  std::string FriendlyName() const { return description + " (" + PortName() + ")"; }
};

class HostEnumerator {
 public:
  HostEnumerator(std::string sysfsRoot, std::string devDir);

  // The present ports, ordered by COM number. Aliases stay the same across scans.
  std::vector<HostPortInfo> Scan();

 private:
  std::optional<HostPortInfo> Inspect(const std::string& node);
  std::string AliasKey(const HostPortInfo& info, const std::string& usbDevice,
                       const std::string& usbInterface, const std::string& portDevice) const;
  std::string UniqueKey(std::string key, const std::string& node);

  std::string sysfs_;
  std::string canonicalRoot_;  // where the walk up from a device stops
  std::string dev_;
  HostAliases aliases_;
  std::set<std::string> scanKeys_;  // alias keys met in the scan under way
};

}  // namespace win::host
