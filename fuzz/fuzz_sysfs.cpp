// The sysfs attribute readers: a fake sysfs with a USB adapter and a native port whose attribute
// files hold the input, scanned by the host enumeration.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz/FuzzInput.h"
#include "platform/host/HostEnumerator.h"
#include "testing/HostFakeTree.h"

namespace {

using win::host::testing::FakeHostTree;

// A file name made of the field: no separators, never "." or "..".
std::string FileName(std::string field) {
  for (char& c : field) {
    if (c == '/' || c == '\0') {
      c = '_';
    }
  }
  return field.empty() || field == "." || field == ".." ? "x" + field : field;
}

// Laid out once; each input rewrites the attribute files.
FakeHostTree& Tree() {
  static FakeHostTree& tree = []() -> FakeHostTree& {
    auto* made = new FakeHostTree;
    made->AddUsb(win::host::testing::UsbAdapter().Serial("1").Latency("16"));
    made->AddNative("ttyS0", "4");
    made->SetConsole("tty0");
    return *made;
  }();
  return tree;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto fields = talvik_fuzz::Fields(talvik_fuzz::Text(data, size), 9);
  FakeHostTree& tree = Tree();
  const auto usb = tree.Sys() / "devices/pci0000:00/0000:00:14.0/usb1/1-1";
  tree.Write(usb / "idVendor", fields[0]);
  tree.Write(usb / "idProduct", fields[1]);
  tree.Write(usb / "product", fields[2]);
  tree.Write(usb / "manufacturer", fields[3]);
  tree.Write(usb / "serial", fields[4]);
  tree.Write(usb / "1-1:1.0/ttyUSB0/latency_timer", fields[5]);
  tree.Write(tree.Sys() / "devices/pnp0/00:00/tty/ttyS0/type", fields[6]);
  tree.Write(tree.Sys() / "devices/virtual/tty/console/active", fields[7]);
  const auto byId = tree.Dev() / "serial/by-id";
  std::filesystem::remove_all(byId);
  std::filesystem::create_directories(byId);
  tree.AddSerialLink("by-id", FileName(fields[8]), "ttyUSB0");

  win::host::HostEnumerator enumerator(tree.Sys().string(), tree.Dev().string());
  for (const auto& port : enumerator.Scan()) {
    if (port.comNumber <= 0 || port.node.empty()) {
      std::abort();  // every port found gets a COM number and keeps its node
    }
  }
  return 0;
}
