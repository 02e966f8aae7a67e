#pragma once
// FakeHostTree and UsbAdapter: a fake sysfs, /dev, lock directory and, where asked for, /proc in a
// temporary folder, laid out as the kernel lays out the real ones, for the host world's tests and
// benchmarks. Without a fake /proc the world looks at the real one, where test processes can hold
// ports.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/host/HostWorld.h"

namespace win::host::testing {

struct UsbAdapter {
  std::string node = "ttyUSB0";
  std::string busPath = "1-1";  // the USB device's name on the bus
  std::string vendorId = "0403";
  std::string productId = "6001";
  std::string product = "FT232R USB UART";
  std::string manufacturer = "FTDI";
  std::string serial;  // empty: the device has none
  std::string driver = "ftdi_sio";
  bool acm = false;  // CDC ACM: the tty hangs straight off the interface
  std::optional<std::string> latencyTimer;

  UsbAdapter& Node(std::string v) { return node = std::move(v), *this; }
  UsbAdapter& Bus(std::string v) { return busPath = std::move(v), *this; }
  UsbAdapter& Ids(std::string vendor, std::string product_) {
    vendorId = std::move(vendor);
    productId = std::move(product_);
    return *this;
  }
  UsbAdapter& Product(std::string v) { return product = std::move(v), *this; }
  UsbAdapter& Serial(std::string v) { return serial = std::move(v), *this; }
  UsbAdapter& Driver(std::string v) { return driver = std::move(v), *this; }
  UsbAdapter& Acm() { return acm = true, *this; }
  UsbAdapter& Latency(std::string v) { return latencyTimer = std::move(v), *this; }
};

class FakeHostTree {
 public:
  FakeHostTree() {
    std::string pattern = (std::filesystem::temp_directory_path() / "talvik-host-XXXXXX").string();
    root_ = mkdtemp(pattern.data());
    for (const char* dir : {"sys/class/tty", "sys/devices", "sys/bus", "dev/serial/by-id",
                            "dev/serial/by-path", "lock"}) {
      std::filesystem::create_directories(root_ / dir);
    }
  }
  ~FakeHostTree() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  FakeHostTree(const FakeHostTree&) = delete;
  FakeHostTree& operator=(const FakeHostTree&) = delete;

  std::filesystem::path Sys() const { return root_ / "sys"; }
  std::filesystem::path Dev() const { return root_ / "dev"; }
  std::filesystem::path Lock() const { return root_ / "lock"; }

  std::filesystem::path Proc() const { return root_ / "proc"; }
  std::filesystem::path Utmp() const { return root_ / "run/utmp"; }

  HostPaths Paths() const {
    HostPaths paths;
    paths.sysfsRoot = Sys().string();
    paths.devDir = Dev().string();
    paths.procDir = fakeProc_ ? Proc().string() : "/proc";
    paths.lockDirs = {Lock().string()};
    paths.utmpFile = Utmp().string();     // no logins until a test writes some
    paths.udevDataDir = Udev().string();  // no udev until UseFakeUdev
    paths.watchHotplug = false;
    return paths;
  }

  // udev's data directory; from now on the world waits for udev to set up new nodes.
  std::filesystem::path Udev() const { return root_ / "run/udev/data"; }
  void UseFakeUdev() { std::filesystem::create_directories(Udev()); }

  // From now on the world looks at a fake /proc: no processes and an empty lock table.
  void UseFakeProc() {
    fakeProc_ = true;
    Write(Proc() / "locks", "");
  }
  // A process of the fake /proc with its name and the files it has open (descriptors 0, 1, ...).
  void AddProcess(int pid, const std::string& name, const std::vector<std::string>& openFiles) {
    const auto dir = Proc() / std::to_string(pid);
    Write(dir / "comm", name);
    std::filesystem::create_directories(dir / "fd");
    for (std::size_t fd = 0; fd < openFiles.size(); ++fd) {
      std::filesystem::create_symlink(openFiles[fd], dir / "fd" / std::to_string(fd));
    }
  }
  // Lines of the fake /proc/locks, as the kernel writes them.
  void SetLocks(const std::string& lines) { Write(Proc() / "locks", lines); }

  void AddUsb(const UsbAdapter& a) {
    const auto usb = Sys() / "devices/pci0000:00/0000:00:14.0/usb1" / a.busPath;
    Write(usb / "idVendor", a.vendorId);
    Write(usb / "idProduct", a.productId);
    Write(usb / "product", a.product);
    Write(usb / "manufacturer", a.manufacturer);
    if (!a.serial.empty()) {
      Write(usb / "serial", a.serial);
    }
    const auto iface = usb / (a.busPath + ":1.0");
    Write(iface / "bInterfaceNumber", "00");
    std::filesystem::path device = iface;
    if (a.acm) {
      Driver(device, "usb", a.driver);
    } else {
      device = iface / a.node;
      Driver(device, "usb-serial", a.driver);
      Write(device / "port_number", "0");
      if (a.latencyTimer) {
        Write(device / "latency_timer", *a.latencyTimer);
      }
    }
    ClassEntry(a.node, device, std::nullopt);
  }

  // A native 8250 port: uartType "0" means no UART answered at its address.
  void AddNative(const std::string& node, const std::string& uartType, bool pnp = true) {
    const auto device = pnp ? Sys() / ("devices/pnp0/00:0" + node.substr(4))
                            : Sys() / "devices/platform/serial8250";
    Driver(device, pnp ? "pnp" : "platform", pnp ? "serial" : "serial8250");
    ClassEntry(node, device, uartType);
  }

  // A native port as kernels from 6.5 show it: the tty below a port and a controller of the
  // bus "serial-base", below the ACPI device.
  void AddSerialBasePort(const std::string& node) {
    const auto pnp = Sys() / ("devices/pnp0/00:1" + node.substr(4));
    Driver(pnp, "pnp", "serial");
    const auto ctrl = pnp / "00:01:0";
    Driver(ctrl, "serial-base", "ctrl");
    const auto port = ctrl / "00:01:0.0";
    Driver(port, "serial-base", "port");
    ClassEntry(node, port, "4");
  }

  void AddSocUart(const std::string& node, const std::string& driver) {
    const auto device = Sys() / "devices/platform/fe201000.serial";
    Driver(device, "amba", driver);
    ClassEntry(node, device, "83");
  }

  // A Bluetooth RFCOMM port with its link up: the tty hangs off the connection, below the
  // Bluetooth controller, which here is a USB dongle.
  void AddConnectedRfcomm(const std::string& node) {
    const auto usb = Sys() / "devices/pci0000:00/0000:00:14.0/usb1/1-9";
    Write(usb / "idVendor", "8087");
    Write(usb / "idProduct", "0a2b");
    const auto hci = usb / "1-9:1.0/bluetooth/hci0";
    Driver(usb / "1-9:1.0", "usb", "btusb");
    const auto connection = hci / "hci0:11";
    std::filesystem::create_directories(connection);
    std::filesystem::create_directory_symlink(Sys() / "class/bluetooth", connection / "subsystem");
    std::filesystem::create_directories(Sys() / "class/bluetooth");
    ClassEntry(node, connection, std::nullopt);
  }

  // A tty with no device behind it (virtual consoles, ptmx), or an unbound RFCOMM port.
  void AddVirtual(const std::string& node) {
    const auto dir = Sys() / "devices/virtual/tty" / node;
    std::filesystem::create_directories(dir);
    std::filesystem::create_directory_symlink(dir, Sys() / "class/tty" / node);
  }

  void Remove(const std::string& node) { std::filesystem::remove(Sys() / "class/tty" / node); }

  void SetConsole(const std::string& nodes) {
    AddVirtual("console");
    Write(Sys() / "devices/virtual/tty/console/active", nodes);
  }

  // The node in the fake /dev: a link to a real tty (a pty slave) or a dangling name.
  void LinkDev(const std::string& node, const std::string& target) {
    std::filesystem::remove(Dev() / node);
    std::filesystem::create_symlink(target, Dev() / node);
  }

  void AddSerialLink(const std::string& kind, const std::string& name, const std::string& node) {
    std::filesystem::create_symlink("../../" + node, Dev() / "serial" / kind / name);
  }

  void Write(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << text << '\n';
  }

 private:
  void Driver(const std::filesystem::path& device, const std::string& bus,
              const std::string& driver) {
    std::filesystem::create_directories(device);
    const auto busDir = Sys() / "bus" / bus;
    std::filesystem::create_directories(busDir / "drivers" / driver);
    if (!std::filesystem::is_symlink(device / "driver")) {
      std::filesystem::create_directory_symlink(busDir / "drivers" / driver, device / "driver");
      std::filesystem::create_directory_symlink(busDir, device / "subsystem");
    }
  }

  void ClassEntry(const std::string& node, const std::filesystem::path& device,
                  const std::optional<std::string>& type) {
    const auto dir = device / "tty" / node;
    std::filesystem::create_directories(dir);
    std::filesystem::create_directory_symlink(device, dir / "device");
    if (type) {
      Write(dir / "type", *type);
    }
    std::filesystem::create_directory_symlink(dir, Sys() / "class/tty" / node);
  }

  std::filesystem::path root_;
  bool fakeProc_ = false;
};

}  // namespace win::host::testing
