// Devices of the bench: device-setup results, opens, faults, pull-outs and broadcasts.

#include <cstring>

#include "testing/BenchTestSupport.h"

namespace bench_test {
namespace {

using win::bench::BenchWorld;
using win::bench::Device;
using win::bench::Faults;
using win::bench::MakePort;
using win::bench::Property;
using win::bench::PullOutAt;
using win::bench::UseBench;

constexpr GUID kPorts = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

bool Same(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

class BenchDevicesTest : public ::testing::Test {
 protected:
  // Friendly names of the list's members, in order.
  static std::vector<std::string> Names(HDEVINFO list) {
    std::vector<std::string> names;
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; win::SetupDiEnumDeviceInfo(list, i, &data); ++i) {
      char buffer[256] = {};
      DWORD type = 0;
      names.emplace_back(win::SetupDiGetDeviceRegistryPropertyA(
                             list, &data, SPDRP_FRIENDLYNAME, &type,
                             reinterpret_cast<BYTE*>(buffer), sizeof buffer, nullptr)
                             ? buffer
                             : "-");
    }
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    return names;
  }

  static HDEVINFO PortsList(DWORD flags = DIGCF_PRESENT) {
    return win::SetupDiGetClassDevsA(&kPorts, nullptr, nullptr, flags);
  }

  BenchWorld& bench = UseBench();
};

TEST_F(BenchDevicesTest, ClassGuidsFromNameAsWindowsGivesThem) {
  Device printer = MakePort("", "Printer Port", "ACPI");
  printer.className = "Printer";
  bench.AddDevice(printer);
  Device sensor;
  sensor.className = "Sensors";
  bench.AddDevice(sensor);

  GUID guid{};
  DWORD required = 99;
  ASSERT_TRUE(win::SetupDiClassGuidsFromNameA("Ports", &guid, 1, &required));
  EXPECT_EQ(required, 1u);
  EXPECT_TRUE(Same(guid, kPorts));

  required = 0;
  EXPECT_FALSE(win::SetupDiClassGuidsFromNameA("Ports", &guid, 0, &required));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(required, 1u);

  GUID sensors{};
  ASSERT_TRUE(win::SetupDiClassGuidsFromNameA("Sensors", &sensors, 1, &required));
  EXPECT_EQ(required, 1u);
  EXPECT_FALSE(Same(sensors, kPorts));

  required = 99;
  ASSERT_TRUE(win::SetupDiClassGuidsFromNameA("NoSuchClass", &guid, 1, &required));
  EXPECT_EQ(required, 0u);
}

TEST_F(BenchDevicesTest, ClassListsHoldThePresentDevicesOfTheClassInOrder) {
  bench.AddDevice(MakePort("COM1", "Communications Port", "ACPI"));
  Device printer = MakePort("", "Printer Port", "ACPI");
  printer.className = "Printer";
  bench.AddDevice(printer);
  Device absent = MakePort("COM2", "Communications Port", "ACPI");
  absent.present = false;
  bench.AddDevice(absent);
  bench.AddDevice(MakePort("COM6", "USB Serial Port", "USB"));

  HDEVINFO present = PortsList();
  ASSERT_NE(present, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Names(present),
            (std::vector<std::string>{"Communications Port (COM1)", "USB Serial Port (COM6)"}));
  HDEVINFO all = PortsList(0);
  EXPECT_EQ(Names(all).size(), 3u);
  HDEVINFO usb = win::SetupDiGetClassDevsA(&kPorts, "usb", nullptr, DIGCF_PRESENT);
  EXPECT_EQ(Names(usb), (std::vector<std::string>{"USB Serial Port (COM6)"}));
  HDEVINFO every = win::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  EXPECT_EQ(Names(every).size(), 4u);

  EXPECT_EQ(win::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  SP_DEVINFO_DATA data{};
  data.cbSize = 28;  // the 32-bit size is not this system's record
  if (sizeof(SP_DEVINFO_DATA) != 28) {
    EXPECT_FALSE(win::SetupDiEnumDeviceInfo(present, 0, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
  }
  data.cbSize = sizeof data;
  ASSERT_TRUE(win::SetupDiEnumDeviceInfo(present, 1, &data));
  EXPECT_TRUE(Same(data.ClassGuid, kPorts));
  EXPECT_FALSE(win::SetupDiEnumDeviceInfo(present, 2, &data));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);

  for (HDEVINFO list : {present, all, usb, every}) {
    EXPECT_TRUE(win::SetupDiDestroyDeviceInfoList(list));
  }
  EXPECT_FALSE(win::SetupDiDestroyDeviceInfoList(present));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(BenchDevicesTest, PropertyReadsGiveTheSystemsResults) {
  Device device = MakePort("COM5", "Port", "BTHENUM");
  device.properties.erase(SPDRP_FRIENDLYNAME);
  device.properties[SPDRP_HARDWAREID] = Property::MultiString({"ACPI\\PNP0501", "*PNP0501"});
  device.properties[SPDRP_REMOVAL_POLICY] = Property::DWord(3);
  bench.AddDevice(device);
  HDEVINFO list = PortsList();
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(win::SetupDiEnumDeviceInfo(list, 0, &data));

  // Missing: ERROR_INVALID_DATA, the type word untouched.
  DWORD type = REG_SZ;
  DWORD required = 77;
  EXPECT_FALSE(win::SetupDiGetDeviceRegistryPropertyA(list, &data, SPDRP_FRIENDLYNAME, &type,
                                                      nullptr, 0, &required));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(required, 77u);

  // No buffer, then one too small: the type and the size needed are reported.
  type = 0;
  EXPECT_FALSE(win::SetupDiGetDeviceRegistryPropertyA(list, &data, SPDRP_HARDWAREID, &type, nullptr,
                                                      0, &required));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(type, REG_MULTI_SZ);
  const char expected[] = "ACPI\\PNP0501\0*PNP0501\0";  // and the array's own final NUL
  EXPECT_EQ(required, sizeof expected);
  BYTE small[4] = {};
  EXPECT_FALSE(win::SetupDiGetDeviceRegistryPropertyA(list, &data, SPDRP_HARDWAREID, &type, small,
                                                      sizeof small, &required));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  std::vector<BYTE> buffer(required);
  ASSERT_TRUE(win::SetupDiGetDeviceRegistryPropertyA(list, &data, SPDRP_HARDWAREID, &type,
                                                     buffer.data(), required, nullptr));
  EXPECT_EQ(std::memcmp(buffer.data(), expected, sizeof expected), 0);

  DWORD policy = 0;
  ASSERT_TRUE(win::SetupDiGetDeviceRegistryPropertyA(
      list, &data, SPDRP_REMOVAL_POLICY, &type, reinterpret_cast<BYTE*>(&policy), 4, &required));
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(policy, 3u);

  // A text of three characters fits a four-byte buffer with its NUL.
  char text[8] = {};
  ASSERT_TRUE(win::SetupDiGetDeviceRegistryPropertyA(list, &data, SPDRP_DEVICEDESC, &type,
                                                     reinterpret_cast<BYTE*>(text), 5, &required));
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(required, 5u);
  EXPECT_STREQ(text, "Port");
  win::SetupDiDestroyDeviceInfoList(list);
}

TEST_F(BenchDevicesTest, AListIsASnapshotThatOutlivesTheDevice) {
  bench.AddDevice(MakePort("COM3", "Communications Port", "ACPI"));
  HDEVINFO list = PortsList();
  bench.PullOut("COM3");
  bench.AddDevice(MakePort("COM4", "Communications Port", "ACPI"));
  EXPECT_EQ(Names(list), (std::vector<std::string>{"Communications Port (COM3)"}));

  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(win::SetupDiEnumDeviceInfo(list, 0, &data));
  auto described = DescribeDevice(list, &data);
  ASSERT_FALSE(described.empty());
  EXPECT_EQ(described.front().fact, win::DeviceFact::Bus);
  EXPECT_EQ(described.front().text, "ACPI");
  EXPECT_EQ(described.back().fact, win::DeviceFact::State);
  EXPECT_EQ(described.back().state, win::DeviceState::PulledOut);

  bench.Reset();
  EXPECT_EQ(Names(list).size(), 1u);
  HDEVINFO fresh = PortsList();
  EXPECT_TRUE(Names(fresh).empty());
  win::SetupDiDestroyDeviceInfoList(fresh);
  win::SetupDiDestroyDeviceInfoList(list);
}

TEST_F(BenchDevicesTest, OpensRefusedAsWindowsRefusesThem) {
  Device held = MakePort("COM1", "Communications Port", "ACPI");
  held.faults.held = true;
  bench.AddDevice(held);
  Device failing = MakePort("COM2", "Communications Port", "ACPI");
  failing.faults.openError = ERROR_GEN_FAILURE;
  bench.AddDevice(failing);
  bench.AddDevice(MakePort("COM3", "Communications Port", "ACPI"));

  EXPECT_EQ(Port("COM1").error(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Port("COM2").error(), ERROR_GEN_FAILURE);
  EXPECT_EQ(Port("COM9").error(), ERROR_FILE_NOT_FOUND);

  Port first("com3");  // names compare without regard to case
  ASSERT_TRUE(first.valid());
  Port second("COM3");
  EXPECT_EQ(second.error(), ERROR_ACCESS_DENIED);
  auto state = bench.State("COM3");
  EXPECT_TRUE(state.open);
  EXPECT_EQ(state.opens, 1);
  EXPECT_EQ(state.refusedOpens, 1);
  EXPECT_FALSE(state.dtr);
  EXPECT_FALSE(state.rts);
  EXPECT_EQ(bench.State("COM1").refusedOpens, 1);

  bench.SetPresent("COM3", false, false);
  EXPECT_EQ(Port("COM3").error(), ERROR_FILE_NOT_FOUND);
}

TEST_F(BenchDevicesTest, DriverRefusalsOfSettings) {
  Device device = MakePort("COM3", "Communications Port", "ACPI");
  device.faults.refusedBaudRates = {1200};
  device.faults.refuseQueueSizes = true;
  bench.AddDevice(device);
  Port port("COM3");
  DCB dcb{};
  ASSERT_TRUE(win::GetCommState(port.get(), &dcb));
  dcb.BaudRate = 1200;
  EXPECT_FALSE(win::SetCommState(port.get(), &dcb));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  dcb.BaudRate = 2400;
  EXPECT_TRUE(win::SetCommState(port.get(), &dcb));
  EXPECT_FALSE(win::SetupComm(port.get(), 4096, 2048));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  Faults faults;
  faults.refuseCommState = true;
  bench.SetFaults("COM3", faults);
  EXPECT_FALSE(win::SetCommState(port.get(), &dcb));
  EXPECT_TRUE(win::SetupComm(port.get(), 4096, 2048));
  auto state = bench.State("COM3");
  EXPECT_EQ(state.dcb.BaudRate, 2400u);
  EXPECT_EQ(state.dcbWrites, 1);
  EXPECT_EQ(state.inQueueSize, 4096u);
}

TEST_F(BenchDevicesTest, PullOutAtAChosenCall) {
  BroadcastRecorder broadcasts;
  Device device = MakePort("COM6", "USB Serial Port", "USB");
  device.faults.pullOutAt = PullOutAt{"EscapeCommFunction", 2};
  bench.AddDevice(device);
  Io io;
  Port port("COM6");
  ASSERT_TRUE(win::SetCommMask(port.get(), EV_RXCHAR));
  DWORD mask = 0xFF;
  ASSERT_FALSE(win::WaitCommEvent(port.get(), &mask, &io.ov));

  EXPECT_TRUE(win::EscapeCommFunction(port.get(), SETRTS));
  EXPECT_FALSE(win::EscapeCommFunction(port.get(), SETDTR));
  EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
  ASSERT_TRUE(io.Signalled(1000));
  EXPECT_EQ(win::OverlappedError(&io.ov), ERROR_OPERATION_ABORTED);
  EXPECT_EQ(mask, 0u);

  DWORD status = 0;
  EXPECT_FALSE(win::GetCommModemStatus(port.get(), &status));
  EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
  auto state = bench.State("COM6");
  EXPECT_TRUE(state.pulledOut);
  EXPECT_FALSE(state.open);
  EXPECT_EQ(state.calls, (std::vector<std::string>{"CreateFileA", "SetCommMask", "WaitCommEvent",
                                                   "EscapeCommFunction", "EscapeCommFunction",
                                                   "GetCommModemStatus"}));
  EXPECT_EQ(Port("COM6").error(), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(port.Close());  // closing still works on a pulled-out handle

  // Replugged: present again and announced.
  bench.SetPresent("COM6", true);
  Port again("COM6");
  EXPECT_TRUE(again.valid());
  ASSERT_TRUE(Eventually([&] { return broadcasts.Seen().size() == 2; }));
  EXPECT_EQ(broadcasts.Seen(),
            (std::vector<std::pair<WPARAM, DWORD>>{{DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT},
                                                   {DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT}}));
}

TEST_F(BenchDevicesTest, PullOutOnOpenAndBroadcastsOnAddAndReset) {
  BroadcastRecorder broadcasts;
  Device device = MakePort("COM8", "USB-SERIAL CH340", "FTDIBUS");
  device.faults.pullOutAt = PullOutAt{"CreateFileA", 1};
  bench.AddDevice(device, true);
  EXPECT_EQ(Port("COM8").error(), ERROR_FILE_NOT_FOUND);
  bench.AddDevice(MakePort("COM9", "Port", "ACPI"));  // no broadcast asked for

  Io io;
  Port open("COM9");
  char buffer[1];
  DWORD count = 0;
  ASSERT_FALSE(win::ReadFile(open.get(), buffer, 1, &count, &io.ov));
  bench.Reset();  // silent, but the pending read ends
  ASSERT_TRUE(io.Signalled(1000));
  EXPECT_EQ(win::OverlappedError(&io.ov), ERROR_OPERATION_ABORTED);
  EXPECT_FALSE(win::PurgeComm(open.get(), PURGE_RXCLEAR));
  EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);

  ASSERT_TRUE(Eventually([&] { return broadcasts.Seen().size() >= 2; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(broadcasts.Seen(),
            (std::vector<std::pair<WPARAM, DWORD>>{{DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT},
                                                   {DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT}}));
}

TEST_F(BenchDevicesTest, BenchCallsNameTheirMistakes) {
  bench.AddDevice(MakePort("COM3", "Port", "ACPI"));
  EXPECT_THROW(bench.AddDevice(MakePort("com3", "Port", "ACPI")), std::invalid_argument);
  EXPECT_THROW(bench.PullOut("COM42"), std::invalid_argument);
  EXPECT_THROW(bench.State("COM42"), std::invalid_argument);
}

}  // namespace
}  // namespace bench_test
