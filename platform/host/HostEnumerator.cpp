#include "platform/host/HostEnumerator.h"

#include <linux/serial_core.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

namespace win::host {
namespace fs = std::filesystem;
namespace {

// First line of a sysfs attribute without surrounding blanks; empty when it cannot be read.
std::string ReadAttribute(const fs::path& path) {
  std::ifstream file(path);
  std::string line;
  if (!file || !std::getline(file, line)) {
    return {};
  }
  const auto first = line.find_first_not_of(" \t\r\n");
  const auto last = line.find_last_not_of(" \t\r\n");
  return first == std::string::npos ? std::string{} : line.substr(first, last - first + 1);
}

std::string LinkName(const fs::path& link) {
  std::error_code error;
  const fs::path target = fs::read_symlink(link, error);
  return error ? std::string{} : target.filename().string();
}

bool Exists(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error);
}

// The nearest directory at or above `from` (and below `root`) that holds `marker`.
fs::path AncestorWith(fs::path from, const fs::path& root, const std::string& marker) {
  while (!from.empty() && from != root && from != from.root_path()) {
    if (Exists(from / marker)) {
      return from;
    }
    from = from.parent_path();
  }
  return {};
}

// "ttyS<n>" gives n; anything else -1.
int NativeIndex(const std::string& node) {
  if (!node.starts_with("ttyS") || node.size() == 4 || node.size() > 6) {
    return -1;
  }
  for (std::size_t i = 4; i < node.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(node[i])) == 0) {
      return -1;
    }
  }
  return std::atoi(node.c_str() + 4);
}

std::string UpperCase(std::string text) {
  for (auto& c : text) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return text;
}

// The entries of <dev>/serial/<kind> (by-id, by-path), by the node they link to.
std::map<std::string, std::string> SerialLinks(const fs::path& dev, const std::string& kind) {
  std::map<std::string, std::string> links;
  std::error_code error;
  for (fs::directory_iterator it(dev / "serial" / kind, error), end; !error && it != end;
       it.increment(error)) {
    links.emplace(LinkName(it->path()), it->path().filename().string());
  }
  return links;
}

std::string Lookup(const std::map<std::string, std::string>& map, const std::string& key) {
  const auto it = map.find(key);
  return it == map.end() ? std::string{} : it->second;
}

// The UART chip of an 8250-family port by the serial core's type number (its `type` attribute),
// named as the kernel names it; empty for other numbers, whose driver name says more.
std::string UartName(const std::string& type) {
  static constexpr std::array<const char*, PORT_NS16550A + 1> kNames = {
      "",        "8250",     "16450",      "16550",   "16550A",  "Cirrus", "ST16650", "ST16650V2",
      "TI16750", "Startech", "16C950/954", "ST16654", "XR16850", "RSA",    "NS16550A"};
  static_assert(kNames[PORT_16550A] == std::string_view("16550A"));
  char* end = nullptr;
  const unsigned long number = std::strtoul(type.c_str(), &end, 10);
  if (type.empty() || *end != '\0' || number >= kNames.size()) {
    return {};
  }
  return kNames[number];
}

constexpr unsigned long kLowLatencyFlag = 1ul << 13;  // UPF_LOW_LATENCY of the serial core
constexpr int kMaxNativeIndex = 98;                   // ttyS0..ttyS98 are COM1..COM99

}  // namespace

HostEnumerator::HostEnumerator(std::string sysfsRoot, std::string devDir)
    : sysfs_(std::move(sysfsRoot)), dev_(std::move(devDir)) {
  std::error_code error;
  canonicalRoot_ = fs::weakly_canonical(sysfs_, error).string();
}

std::vector<HostPortInfo> HostEnumerator::Scan() {
  std::vector<std::string> nodes;
  std::error_code error;
  for (fs::directory_iterator it(fs::path(sysfs_) / "class" / "tty", error), end;
       !error && it != end; it.increment(error)) {
    nodes.push_back(it->path().filename().string());
  }
  std::sort(nodes.begin(), nodes.end());
  scanKeys_.clear();
  const auto byId = SerialLinks(dev_, "by-id");
  const auto byPath = SerialLinks(dev_, "by-path");
  std::vector<HostPortInfo> ports;
  for (const auto& node : nodes) {
    if (auto info = Inspect(node)) {
      info->byId = Lookup(byId, node);
      info->byPath = Lookup(byPath, node);
      ports.push_back(std::move(*info));
    }
  }
  std::stable_sort(ports.begin(), ports.end(),
                   [](const auto& a, const auto& b) { return a.comNumber < b.comNumber; });
  return ports;
}

std::optional<HostPortInfo> HostEnumerator::Inspect(const std::string& node) {
  const fs::path root(sysfs_);
  const fs::path entry = root / "class" / "tty" / node;
  HostPortInfo info;
  info.node = node;
  info.devicePath = (fs::path(dev_) / node).string();

  // Bluetooth RFCOMM ttys are ports whether bound or connected. A connected one hangs below its
  // controller, often a USB dongle, but is no USB port: it keeps its Bluetooth enumerator and
  // the number its node gave it.
  if (node.starts_with("rfcomm")) {
    info.enumerator = "BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}";
    info.description = "Bluetooth RFCOMM, " + node;
    info.comNumber = aliases_.NumberFor(UniqueKey("node:" + node, node));
    return info;
  }
  std::error_code error;
  const fs::path device = fs::canonical(entry / "device", error);
  if (error) {
    return std::nullopt;
  }
  // A serial-core port whose probe found no UART.
  const std::string uartType = ReadAttribute(entry / "type");
  if (uartType == "0") {
    return std::nullopt;
  }
  // Newer kernels put serial-core ports on their own bus ("serial-base": a port below a
  // controller); the driver and bus that matter are those of the hardware above them.
  fs::path hardware = device;
  while (LinkName(hardware / "subsystem") == "serial-base" && hardware.has_parent_path() &&
         hardware.parent_path() != hardware) {
    hardware = hardware.parent_path();
  }
  info.driver = LinkName(hardware / "driver");
  const std::string subsystem = LinkName(hardware / "subsystem");
  const fs::path usbDevice = AncestorWith(device, canonicalRoot_, "idVendor");
  const fs::path usbInterface = AncestorWith(device, canonicalRoot_, "bInterfaceNumber");
  info.usb = !usbDevice.empty();

  std::string product;
  if (info.usb) {
    info.enumerator = "USB";
    info.vendorId = ReadAttribute(usbDevice / "idVendor");
    info.productId = ReadAttribute(usbDevice / "idProduct");
    info.serialNumber = ReadAttribute(usbDevice / "serial");
    info.manufacturer = ReadAttribute(usbDevice / "manufacturer");
    product = ReadAttribute(usbDevice / "product");
    if (Exists(device / "latency_timer")) {
      info.latencyTimer = ReadAttribute(device / "latency_timer");
      info.latencyTimerPath = (device / "latency_timer").string();
    }
  } else if (subsystem == "pnp" || subsystem == "acpi") {
    info.enumerator = "ACPI";
  } else if (subsystem.empty()) {
    info.enumerator = "PLATFORM";
  } else {
    info.enumerator = UpperCase(subsystem);
  }
  if (product.empty()) {
    product = UartName(uartType);
  }
  if (product.empty()) {
    product = info.driver.empty() ? std::string("Serial port") : info.driver;
  }
  // The product's own parentheses stay ("Intel(R) ..."): the port name is the parenthesised
  // group that ends the friendly name.
  info.description = product + ", " + node;

  if (const std::string flags = ReadAttribute(entry / "flags"); !flags.empty()) {
    info.lowLatency = (std::strtoul(flags.c_str(), nullptr, 0) & kLowLatencyFlag) != 0;
  }

  const int native = NativeIndex(node);
  if (!info.usb && native >= 0 && native <= kMaxNativeIndex) {
    info.comNumber = native + 1;
  } else {
    info.comNumber =
        aliases_.NumberFor(UniqueKey(AliasKey(info, usbDevice, usbInterface, device), node));
  }
  return info;
}

// Two adapters that claim the same serial number still get a number each.
std::string HostEnumerator::UniqueKey(std::string key, const std::string& node) {
  if (!scanKeys_.insert(key).second) {
    key += "#" + node;
    scanKeys_.insert(key);
  }
  return key;
}

// USB ports with a serial number keep their number in any socket; those without one keep the
// number of their place on the bus (the same place /dev/serial/by-path names).
std::string HostEnumerator::AliasKey(const HostPortInfo& info, const std::string& usbDevice,
                                     const std::string& usbInterface,
                                     const std::string& portDevice) const {
  if (!info.usb) {
    return "node:" + info.node;
  }
  std::string key = info.serialNumber.empty()
                        ? "usb-path:" + fs::path(usbDevice).filename().string()
                        : "usb:" + info.vendorId + ":" + info.productId + ":" + info.serialNumber;
  if (!usbInterface.empty()) {
    key += ":if" + ReadAttribute(fs::path(usbInterface) / "bInterfaceNumber");
  }
  const std::string port = ReadAttribute(fs::path(portDevice) / "port_number");
  if (!port.empty()) {
    key += ":port" + port;
  }
  return key;
}

}  // namespace win::host
