// The host world's view of this machine's ports, on fake sysfs trees.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/host/HostWorld.h"
#include "testing/HostFakeTree.h"

namespace win::host {
namespace {

using ::testing::ElementsAre;
using testing::FakeHostTree;
using testing::UsbAdapter;

std::map<std::string, HostPortInfo> ByNode(const std::vector<HostPortInfo>& ports) {
  std::map<std::string, HostPortInfo> result;
  for (const auto& port : ports) {
    result.emplace(port.node, port);
  }
  return result;
}

std::vector<std::string> Nodes(const std::vector<HostPortInfo>& ports) {
  std::vector<std::string> nodes;
  for (const auto& port : ports) {
    nodes.push_back(port.node);
  }
  return nodes;
}

TEST(HostEnumeration, KeepsTtysWithARealDeviceAndSkipsEmpty8250Slots) {
  FakeHostTree tree;
  tree.AddNative("ttyS0", "4");
  tree.AddNative("ttyS1", "0");  // no UART at that address
  tree.AddNative("ttyS3", "0", /*pnp=*/false);
  tree.AddSerialBasePort("ttyS4");
  tree.AddVirtual("tty0");
  tree.AddVirtual("ptmx");
  tree.AddSocUart("ttyAMA0", "uart-pl011");
  tree.AddUsb(UsbAdapter().Node("ttyUSB0").Bus("1-2").Serial("A50285BI"));
  tree.AddUsb(UsbAdapter()
                  .Node("ttyACM0")
                  .Bus("1-3")
                  .Ids("2341", "0043")
                  .Product("Arduino Uno")
                  .Driver("cdc_acm")
                  .Acm());

  HostWorld world(tree.Paths());
  const auto ports = world.Ports();
  const auto byNode = ByNode(ports);
  ASSERT_EQ(byNode.size(), 5u);
  EXPECT_EQ(ports.front().node, "ttyS0");  // ordered by COM number

  const auto& native = byNode.at("ttyS0");
  EXPECT_EQ(native.PortName(), "COM1");
  EXPECT_EQ(native.enumerator, "ACPI");
  EXPECT_FALSE(native.usb);
  EXPECT_EQ(native.FriendlyName(), "16550A, ttyS0 (COM1)");

  const auto& newer = byNode.at("ttyS4");
  EXPECT_EQ(newer.FriendlyName(), "16550A, ttyS4 (COM5)");
  EXPECT_EQ(newer.enumerator, "ACPI");

  const auto& ftdi = byNode.at("ttyUSB0");
  EXPECT_TRUE(ftdi.usb);
  EXPECT_EQ(ftdi.enumerator, "USB");
  EXPECT_EQ(ftdi.description, "FT232R USB UART, ttyUSB0");
  EXPECT_EQ(ftdi.FriendlyName(), "FT232R USB UART, ttyUSB0 (" + ftdi.PortName() + ")");
  EXPECT_EQ(ftdi.serialNumber, "A50285BI");
  EXPECT_EQ(ftdi.driver, "ftdi_sio");

  const auto& acm = byNode.at("ttyACM0");
  EXPECT_EQ(acm.enumerator, "USB");
  EXPECT_EQ(acm.description, "Arduino Uno, ttyACM0");
  EXPECT_EQ(acm.vendorId, "2341");

  const auto& soc = byNode.at("ttyAMA0");
  EXPECT_FALSE(soc.usb);
  EXPECT_EQ(soc.enumerator, "AMBA");
  EXPECT_EQ(soc.description, "uart-pl011, ttyAMA0");

  // USB, ACM and SoC ports get numbers of their own, clear of the ttyS range.
  for (const char* node : {"ttyUSB0", "ttyACM0", "ttyAMA0"}) {
    EXPECT_GE(byNode.at(node).comNumber, 100) << node;
    EXPECT_LE(byNode.at(node).comNumber, 999) << node;
  }
  EXPECT_NE(ftdi.comNumber, acm.comNumber);
  EXPECT_NE(ftdi.comNumber, soc.comNumber);
  EXPECT_NE(acm.comNumber, soc.comNumber);
}

// The port name is the parenthesised group that ends the friendly name; products keep their own
// parentheses, balanced or not.
TEST(HostEnumeration, TheLastParenthesisedGroupOfTheFriendlyNameIsThePort) {
  FakeHostTree tree;
  tree.AddUsb(UsbAdapter().Node("ttyUSB0").Product("USB-Serial Controller (PL2303)"));
  tree.AddUsb(UsbAdapter().Node("ttyUSB1").Bus("1-2").Product("Intel(R) Active Management"));
  tree.AddUsb(UsbAdapter().Node("ttyUSB2").Bus("1-3").Product("Odd) (name"));
  HostWorld world(tree.Paths());
  const auto ports = world.Ports();
  ASSERT_EQ(ports.size(), 3u);
  std::set<std::string> descriptions;
  for (const auto& port : ports) {
    descriptions.insert(port.description);
    const std::string name = port.FriendlyName();
    ASSERT_EQ(name.back(), ')') << name;
    const auto open = name.rfind('(');
    EXPECT_EQ(name.substr(open + 1, name.size() - open - 2), port.PortName()) << name;
    EXPECT_EQ(name.substr(0, open), port.description + " ") << name;
  }
  EXPECT_TRUE(descriptions.contains("USB-Serial Controller (PL2303), ttyUSB0"));
  EXPECT_TRUE(descriptions.contains("Intel(R) Active Management, ttyUSB1"));
}

TEST(HostEnumeration, PortNamesLeadBackToTheirDeviceNodesAndUsbFacts) {
  FakeHostTree tree;
  tree.AddUsb(UsbAdapter().Node("ttyUSB0").Product("FT232R USB UART").Serial("A50285BI"));
  tree.AddSerialLink("by-id", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
  HostWorld world(tree.Paths());
  const auto port = world.Ports().at(0);
  const PortFacts facts = world.Facts(port.PortName());
  EXPECT_EQ(facts.node, port.devicePath);
  EXPECT_NE(port.devicePath.find("ttyUSB0"), std::string::npos);
  EXPECT_EQ(facts.byId, "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  EXPECT_EQ(facts.driver, "ftdi_sio");
  EXPECT_EQ(facts.vendorId + ":" + facts.productId, "0403:6001");
  EXPECT_EQ(facts.serial, "A50285BI");
  EXPECT_EQ(facts.access, PortAccess::Unknown);  // not opened yet
  EXPECT_EQ(world.Facts("COM5000").node, "");
  EXPECT_EQ(world.Facts("ttyUSB0").node, "");
}

// Bound or connected, an RFCOMM port keeps its Bluetooth enumerator (so that discovery never
// opens it: an open would dial the remote device) and its number; connected through a USB
// dongle, it is still no USB port.
TEST(HostEnumeration, BluetoothPortsKeepTheirEnumeratorAndNumberWhenTheLinkComesUp) {
  FakeHostTree tree;
  tree.AddVirtual("rfcomm0");
  HostWorld world(tree.Paths());
  const auto bound = world.Ports();
  ASSERT_EQ(bound.size(), 1u);
  EXPECT_NE(bound[0].enumerator.find('{'), std::string::npos);
  EXPECT_GE(bound[0].comNumber, 100);

  tree.Remove("rfcomm0");
  tree.AddConnectedRfcomm("rfcomm0");
  const auto connected = world.Ports();
  ASSERT_EQ(connected.size(), 1u);
  EXPECT_FALSE(connected[0].usb);
  EXPECT_EQ(connected[0].enumerator, bound[0].enumerator);
  EXPECT_EQ(connected[0].comNumber, bound[0].comNumber);
}

TEST(HostEnumeration, AliasesSurviveRescansAndDoNotDependOnPlugOrder) {
  const UsbAdapter withSerial = UsbAdapter().Bus("1-1").Serial("FT1");
  const UsbAdapter withoutSerial = UsbAdapter().Bus("1-4").Product("CP2102").Driver("cp210x");

  // The adapter plugged in first becomes ttyUSB0.
  auto plug = [](FakeHostTree& tree, UsbAdapter first, UsbAdapter second) {
    first.node = "ttyUSB0";
    second.node = "ttyUSB1";
    tree.AddUsb(first);
    tree.AddUsb(second);
  };
  FakeHostTree one;
  plug(one, withSerial, withoutSerial);
  FakeHostTree two;
  plug(two, withoutSerial, withSerial);

  HostWorld worldOne(one.Paths());
  HostWorld worldTwo(two.Paths());
  const auto portsOne = ByNode(worldOne.Ports());
  const auto portsTwo = ByNode(worldTwo.Ports());
  EXPECT_EQ(portsOne.at("ttyUSB0").comNumber, portsTwo.at("ttyUSB1").comNumber);
  EXPECT_EQ(portsOne.at("ttyUSB1").comNumber, portsTwo.at("ttyUSB0").comNumber);
  EXPECT_NE(portsOne.at("ttyUSB0").comNumber, portsOne.at("ttyUSB1").comNumber);

  // Unplugged and plugged again (now as ttyUSB0): the same number within the process.
  const int before = portsOne.at("ttyUSB1").comNumber;
  one.Remove("ttyUSB0");
  EXPECT_THAT(Nodes(worldOne.Ports()), ElementsAre("ttyUSB1"));
  EXPECT_EQ(worldOne.Ports().at(0).comNumber, before);
}

TEST(HostEnumeration, TwoAdaptersClaimingOneSerialNumberStillGetTwoNumbers) {
  FakeHostTree tree;
  tree.AddUsb(UsbAdapter().Node("ttyUSB0").Bus("1-1").Serial("0001"));
  tree.AddUsb(UsbAdapter().Node("ttyUSB1").Bus("1-2").Serial("0001"));
  HostWorld world(tree.Paths());
  const auto ports = world.Ports();
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_NE(ports[0].comNumber, ports[1].comNumber);
}

class HostDeviceSetup : public ::testing::Test {
 protected:
  void SetUp() override {
    tree.AddNative("ttyS0", "4");
    tree.AddUsb(UsbAdapter().Node("ttyUSB0").Serial("A50285BI").Latency("16"));
    tree.AddSerialLink("by-id", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
    tree.Write(tree.Sys() / "devices/pnp0/00:00/tty/ttyS0/flags", "0x10002040");
  }

  FakeHostTree tree;
};

TEST_F(HostDeviceSetup, ListsThePortsOfTheClassPortsWithWindowsResults) {
  HostWorld world(tree.Paths());
  GUID guid{};
  DWORD required = 0;
  ASSERT_TRUE(world.ClassGuidsFromName("Ports", &guid, 1, &required));
  EXPECT_EQ(required, 1u);
  EXPECT_TRUE(world.ClassGuidsFromName("Printer", &guid, 1, &required));
  EXPECT_EQ(required, 0u);

  HDEVINFO list = world.GetClassDevs(&guid, nullptr, DIGCF_PRESENT);
  ASSERT_NE(list, INVALID_HANDLE_VALUE);
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  std::vector<std::string> names;
  for (DWORD i = 0; world.EnumDeviceInfo(list, i, &data); ++i) {
    char buffer[256];
    DWORD type = 0;
    ASSERT_TRUE(world.GetDeviceRegistryProperty(list, &data, SPDRP_FRIENDLYNAME, &type,
                                                reinterpret_cast<BYTE*>(buffer), sizeof buffer,
                                                &required));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(required, std::string(buffer).size() + 1);
    names.push_back(buffer);
  }
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0], "16550A, ttyS0 (COM1)");
  EXPECT_THAT(names[1], ::testing::StartsWith("FT232R USB UART, ttyUSB0 (COM"));

  // A buffer too small: type and size filled in; a missing property: type untouched.
  ASSERT_TRUE(world.EnumDeviceInfo(list, 1, &data));
  DWORD type = 0;
  BYTE small[2];
  EXPECT_FALSE(world.GetDeviceRegistryProperty(list, &data, SPDRP_ENUMERATOR_NAME, &type, small,
                                               sizeof small, &required));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(required, 4u);  // "USB" and its NUL
  ASSERT_TRUE(world.EnumDeviceInfo(list, 0, &data));
  type = 12345;
  EXPECT_FALSE(world.GetDeviceRegistryProperty(list, &data, SPDRP_HARDWAREID, &type, small,
                                               sizeof small, &required));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  EXPECT_EQ(type, 12345u);

  EXPECT_TRUE(world.DestroyDeviceInfoList(list));
  EXPECT_FALSE(world.EnumDeviceInfo(list, 0, &data));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(HostDeviceSetup, DescribesNodeDriverUsbIdsAndLatency) {
  HostWorld world(tree.Paths());
  GUID guid{};
  ASSERT_TRUE(world.ClassGuidsFromName("Ports", &guid, 1, nullptr));
  HDEVINFO list = world.GetClassDevs(&guid, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;

  ASSERT_TRUE(world.EnumDeviceInfo(list, 1, &data));
  std::map<DeviceFact, std::string> texts;
  for (const DeviceDetail& detail : world.Describe(list, &data)) {
    texts[detail.fact] = detail.text;
  }
  EXPECT_EQ(texts[DeviceFact::Node], (tree.Dev() / "ttyUSB0").string());
  EXPECT_EQ(texts[DeviceFact::ById], "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  EXPECT_EQ(texts[DeviceFact::Driver], "ftdi_sio");
  EXPECT_EQ(texts[DeviceFact::VendorId], "0403");
  EXPECT_EQ(texts[DeviceFact::ProductId], "6001");
  EXPECT_EQ(texts[DeviceFact::SerialNumber], "A50285BI");
  EXPECT_EQ(texts[DeviceFact::LatencyTimer], "16");

  ASSERT_TRUE(world.EnumDeviceInfo(list, 0, &data));
  const auto native = world.Describe(list, &data);
  EXPECT_TRUE(std::any_of(native.begin(), native.end(), [](const DeviceDetail& detail) {
    return detail.fact == DeviceFact::LowLatency && detail.number == 1;
  }));
  world.DestroyDeviceInfoList(list);
}

}  // namespace
}  // namespace win::host
