#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "discovery/DeviceInfoList.h"
#include "discovery/OSError.h"
#include "discovery/SetupApi.h"
#include "discovery/tests/DiscoveryFixture.h"
#include "platform/devices/DeviceWorldRegistry.h"

using namespace win;

namespace {

using PortsTest = DiscoveryTest;

bench::Device UsbPort(const std::string& port, bool rtsToCts, bool dtrToDsr,
                      const std::string& enumerator = "USB") {
  bench::Device device = bench::MakePort(port, "USB Serial Port", enumerator);
  device.wiring.rtsToCts = rtsToCts;
  device.wiring.dtrToDsr = dtrToDsr;
  return device;
}

TEST(ExtractNames, TakeTheGroupThatEndsTheNameOrElseTheFirst) {
  struct Case {
    std::string name, port, description;
  };
  const std::vector<Case> cases{
      {"Communications Port (COM1)", "COM1", "Communications Port "},
      {"Intel(R) Active Management Technology - SOL (COM3)", "COM3",
       "Intel(R) Active Management Technology - SOL "},
      {"Serial A (B) (COM7)", "COM7", "Serial A (B) "},
      {"Serial A (B) (COM7) spare", "B", "Serial A "},
      {"Port (a(b)c)", "a(b", "Port "},
      {"(COM4)", "COM4", ""},
      {"COM emulator", "", ""},
      {"Port (COM3", "", "Port "},
      {"%s%n (%s%n)", "%s%n", "%s%n "},
      {"Порт \xFF (COM10)", "COM10", "Порт \xFF "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtractPortName(c.name), c.port) << c.name;
    EXPECT_EQ(ExtractDescription(c.name), c.description) << c.name;
  }
  const std::string longName = std::string(100000, 'A') + " (COM" + std::string(1000, '7') + ")";
  EXPECT_EQ(ExtractPortName(longName), "COM" + std::string(1000, '7'));
}

TEST_F(PortsTest, ReportsEveryComDeviceWithItsMemberIndex) {
  AddPort("COM1");
  bench::Device printer = bench::MakePort("LPT1", "Printer Port", "ACPI");
  bench->AddDevice(printer);
  bench::Device described = bench::MakePort("COM11", "Serial", "ACPI");
  described.properties.erase(SPDRP_FRIENDLYNAME);
  described.properties[SPDRP_DEVICEDESC] = bench::Property::String("Serial (COM11)");
  bench->AddDevice(described);
  bench::Device lowerCase = bench::MakePort("COM12", "x", "ACPI");
  lowerCase.properties[SPDRP_FRIENDLYNAME] = bench::Property::String("com port (com12)");
  bench->AddDevice(lowerCase);
  bench::Device nameless = bench::MakePort("COM13", "x", "ACPI");
  nameless.properties.erase(SPDRP_FRIENDLYNAME);
  nameless.properties.erase(SPDRP_DEVICEDESC);
  bench->AddDevice(nameless);
  AddPort("COM14", "Last Port");

  EnumerateSerialPorts(window.Handle);

  ASSERT_EQ(window.Ports.size(), 3u);
  EXPECT_EQ(window.Ports[0]->FriendlyName, "Communications Port (COM1)");
  EXPECT_EQ(window.Ports[0]->PortName, "COM1");
  EXPECT_EQ(window.Ports[0]->Description, "Communications Port ");
  EXPECT_EQ(window.Ports[0]->DeviceIndex, 0);
  EXPECT_EQ(window.Ports[1]->FriendlyName, "Serial (COM11)");
  EXPECT_EQ(window.Ports[1]->DeviceIndex, 2);
  EXPECT_EQ(window.Ports[2]->PortName, "COM14");
  EXPECT_EQ(window.Ports[2]->DeviceIndex, 5);
  EXPECT_EQ(window.Posted, std::vector<UINT>{WM_PORTS_ENUMERATED});
  EXPECT_EQ(Pumps, 3) << "one pump after each reported port";
  EXPECT_EQ(SetupApiBindCount(), 0);
  EXPECT_EQ(TDeviceInfoList::LiveCount(), 0);
  EXPECT_EQ(bench->State("COM12").opens + bench->State("COM12").refusedOpens, 0);
}

TEST_F(PortsTest, TellsBusyFreeAndUntestablePorts) {
  AddPort("COM1");
  AddPort("COM2", "Virtual Port", "{D77D4F4E-0000-4B55-9C38-6E5B2A4B0A01}");
  bench::Device held = UsbPort("COM3", true, true);
  held.faults.held = true;
  bench->AddDevice(held);
  bench::Device vanishing = bench::MakePort("COM4", "Communications Port", "ACPI");
  vanishing.faults.pullOutAt = bench::PullOutAt{"CreateFileA", 1};
  bench->AddDevice(vanishing);
  bench::Device noGroup = bench::MakePort("COM5", "x", "ACPI");
  noGroup.properties[SPDRP_FRIENDLYNAME] = bench::Property::String("COM emulator");
  bench->AddDevice(noGroup);
  bench::Device noEnumerator = bench::MakePort("COM6", "Communications Port", "ACPI");
  noEnumerator.properties.erase(SPDRP_ENUMERATOR_NAME);
  bench->AddDevice(noEnumerator);
  // A "(" in the description: the group that ends the name is the port.
  AddPort("COM7", "Intel(R) Active Management Technology - SOL", "PCI");

  EnumerateSerialPorts(window.Handle);

  ASSERT_EQ(window.Ports.size(), 7u);
  struct Expected {
    bool busy;
    std::int32_t type;
  };
  const std::vector<Expected> expected{{false, 0}, {true, -1}, {true, 0}, {true, 0},
                                       {true, 0},  {false, 0}, {false, 0}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(window.Ports[i]->Busy, expected[i].busy) << window.Ports[i]->FriendlyName;
    EXPECT_EQ(window.Ports[i]->AdapterType, expected[i].type) << window.Ports[i]->FriendlyName;
  }
  const bench::PortState untestable = bench->State("COM2");
  EXPECT_EQ(untestable.opens + untestable.refusedOpens, 0) << "no open for an untestable port";
  const bench::PortState held3 = bench->State("COM3");
  EXPECT_EQ(held3.opens, 0);
  EXPECT_EQ(held3.refusedOpens, 1) << "no line-loop test on a busy port";
  EXPECT_EQ(bench->State("COM5").opens + bench->State("COM5").refusedOpens, 0);
  EXPECT_EQ(bench->State("COM1").opens, 1);
  EXPECT_FALSE(bench->State("COM1").open) << "the open test closes the port at once";
  EXPECT_EQ(window.Ports[6]->PortName, "COM7");
  EXPECT_EQ(window.Ports[6]->Description, "Intel(R) Active Management Technology - SOL ");
  EXPECT_EQ(bench->State("COM7").opens, 1);
  EXPECT_TRUE(Boxes.empty());
  EXPECT_EQ(window.Posted, std::vector<UINT>{WM_PORTS_ENUMERATED});
}

// Opening a port of Windows' own Bluetooth stack dials the remote device and can take seconds:
// such ports are untestable, as the ones of "{...}" enumerators, and are never opened.
TEST_F(PortsTest, BluetoothPortsAreUntestableAndNeverOpened) {
  AddPort("COM8", "Standard Serial over Bluetooth link", "BTHENUM");
  AddPort("COM9", "Standard Serial over Bluetooth link", "bthenum");
  AddPort("COM10", "Bluetooth Adapter Port", "BTHENUMX");

  EnumerateSerialPorts(window.Handle);

  ASSERT_EQ(window.Ports.size(), 3u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_TRUE(window.Ports[i]->Busy) << window.Ports[i]->FriendlyName;
    EXPECT_EQ(window.Ports[i]->AdapterType, -1) << window.Ports[i]->FriendlyName;
  }
  for (const char* name : {"COM8", "COM9"}) {
    const bench::PortState state = bench->State(name);
    EXPECT_EQ(state.opens + state.refusedOpens, 0) << name;
  }
  EXPECT_FALSE(window.Ports[2]->Busy) << "only the stack's own enumerator is Bluetooth's";
  EXPECT_EQ(bench->State("COM10").opens, 1);
}

TEST_F(PortsTest, TypesFreeUsbPortsByTheirLineLoops) {
  bench->AddDevice(UsbPort("COM1", true, true));
  bench->AddDevice(UsbPort("COM2", true, false));
  bench->AddDevice(UsbPort("COM3", false, true));
  bench->AddDevice(UsbPort("COM4", true, true, "usb"));
  bench->AddDevice(UsbPort("COM5", true, true, "USBX"));

  EnumerateSerialPorts(window.Handle);

  ASSERT_EQ(window.Ports.size(), 5u);
  const std::vector<std::int32_t> types{2, 3, 0, 0, 0};
  for (std::size_t i = 0; i < types.size(); ++i) {
    EXPECT_FALSE(window.Ports[i]->Busy);
    EXPECT_EQ(window.Ports[i]->AdapterType, types[i]) << window.Ports[i]->FriendlyName;
  }
  EXPECT_EQ(bench->State("COM1").opens, 2) << "open test, then line-loop test";
  EXPECT_EQ(bench->State("COM3").dtrRaised, 0);
  EXPECT_EQ(bench->State("COM4").opens, 1) << "\"usb\" is not the USB bus";
  EXPECT_EQ(bench->State("COM4").rtsRaised, 0);
  for (const char* port : {"COM1", "COM2", "COM3"}) {
    EXPECT_FALSE(bench->State(port).open) << port;
  }
}

// The bench, except that the count-th open of a port throws something that is no std::exception.
class TThrowingOpenWorld : public DeviceWorld {
 public:
  TThrowingOpenWorld(DeviceWorld& bench, std::map<std::string, int> throwAt)
      : bench_(bench), throwAt_(std::move(throwAt)) {}

  std::shared_ptr<CommFile> OpenComm(std::string_view path, DWORD access, DWORD share,
                                     DWORD creation, DWORD flags, DWORD& error) override {
    const auto at = throwAt_.find(std::string(path));
    if (at != throwAt_.end() && --at->second == 0) {
      throw 42;
    }
    return bench_.OpenComm(path, access, share, creation, flags, error);
  }
  BOOL ClassGuidsFromName(PCSTR name, GUID* guids, DWORD size, DWORD* required) override {
    return bench_.ClassGuidsFromName(name, guids, size, required);
  }
  HDEVINFO GetClassDevs(const GUID* guid, PCSTR enumerator, DWORD flags) override {
    return bench_.GetClassDevs(guid, enumerator, flags);
  }
  BOOL EnumDeviceInfo(HDEVINFO list, DWORD index, SP_DEVINFO_DATA* data) override {
    return bench_.EnumDeviceInfo(list, index, data);
  }
  BOOL GetDeviceRegistryProperty(HDEVINFO list, SP_DEVINFO_DATA* data, DWORD property, DWORD* type,
                                 BYTE* buffer, DWORD size, DWORD* required) override {
    return bench_.GetDeviceRegistryProperty(list, data, property, type, buffer, size, required);
  }
  BOOL DestroyDeviceInfoList(HDEVINFO list) override { return bench_.DestroyDeviceInfoList(list); }
  std::vector<DeviceDetail> Describe(HDEVINFO list, SP_DEVINFO_DATA* data) override {
    return bench_.Describe(list, data);
  }

 private:
  DeviceWorld& bench_;
  std::map<std::string, int> throwAt_;
};

TEST_F(PortsTest, AnyExceptionInTheOpenOrLineLoopTestIsShownAndTheWalkGoesOn) {
  AddPort("COM1");
  bench->AddDevice(UsbPort("COM2", true, true));
  AddPort("COM3");
  // COM1 throws in the open test, COM2 in the line-loop test (its second open).
  InstallDeviceWorld(std::make_shared<TThrowingOpenWorld>(
      *bench, std::map<std::string, int>{{"COM1", 1}, {"COM2", 2}}));
  EnumerateSerialPorts(window.Handle);
  win::bench::UseBench();

  EXPECT_EQ(Boxes, (std::vector<std::string>{"Ошибка открытия порта COM1",
                                             "Ошибка проверки USB порта USB Serial Port (COM2)"}));
  ASSERT_EQ(window.Ports.size(), 3u);
  EXPECT_TRUE(window.Ports[0]->Busy);
  EXPECT_EQ(window.Ports[0]->AdapterType, 0);
  EXPECT_FALSE(window.Ports[1]->Busy);
  EXPECT_EQ(window.Ports[1]->AdapterType, 0);
  EXPECT_FALSE(window.Ports[2]->Busy);
  EXPECT_EQ(window.Posted, std::vector<UINT>{WM_PORTS_ENUMERATED});
}

TEST_F(PortsTest, EmptyOrUnknownClassEndsNormally) {
  EnumerateSerialPorts(window.Handle);
  EXPECT_TRUE(window.Sent.empty());
  EXPECT_EQ(window.Posted, std::vector<UINT>{WM_PORTS_ENUMERATED});
  EXPECT_EQ(SetupApiBindCount(), 0);

  // The class name cannot be resolved: no list is built and the walk finds nothing.
  AddPort("COM1");
  ReplaceSetupApiExport("SetupDiClassGuidsFromNameA",
                        ToFarProc(+[](PCSTR, LPGUID, DWORD, PDWORD) -> BOOL {
                          SetLastError(ERROR_INVALID_DATA);
                          return FALSE;
                        }));
  EnumerateSerialPorts(window.Handle);
  EXPECT_TRUE(window.Sent.empty());
  EXPECT_EQ(window.Posted, (std::vector<UINT>{WM_PORTS_ENUMERATED, WM_PORTS_ENUMERATED}));
  EXPECT_EQ(SetupApiBindCount(), 0);
  EXPECT_FALSE(SetupApiLoaded());
}

TEST_F(PortsTest, UnusableSetupServiceRaisesTheLastOSError) {
  AddPort("COM1");
  RegisterBuiltinModule(BuiltinModule{"SetupApi.dll", {}, ERROR_MOD_NOT_FOUND});
  try {
    EnumerateSerialPorts(window.Handle);
    ADD_FAILURE() << "no error";
  } catch (const EOSError& error) {
    EXPECT_EQ(error.ErrorCode(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(error.what(), "System Error.  Code: 126.\r\n" + SysErrorMessage(ERROR_MOD_NOT_FOUND));
  }
  EXPECT_THROW(ShowAdvancedSettings(0, "COM1"), EOSError);

  ReplaceSetupApiExport("SetupDiGetClassDevsA",
                        ToFarProc(+[](const GUID*, PCSTR, HWND, DWORD) -> HDEVINFO {
                          SetLastError(ERROR_INVALID_PARAMETER);
                          return INVALID_HANDLE_VALUE;
                        }));
  try {
    EnumerateSerialPorts(window.Handle);
    ADD_FAILURE() << "no error";
  } catch (const EOSError& error) {
    EXPECT_EQ(std::string(error.what()).rfind("System Error.  Code: 87.\r\n", 0), 0u)
        << error.what();
  }
  EXPECT_TRUE(window.Sent.empty());
  EXPECT_TRUE(window.Posted.empty());
  EXPECT_EQ(SetupApiBindCount(), 0);
  EXPECT_FALSE(SetupApiLoaded());
}

TEST(OSError, MessagesForTheLastError) {
  SetLastError(0);
  try {
    RaiseLastOSError();
  } catch (const EOSError& error) {
    EXPECT_STREQ(error.what(), "A call to an OS function failed");
  }
  const std::string text = SysErrorMessage(ERROR_ACCESS_DENIED);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '.') << "trailing full stop and line break are removed";
  EXPECT_GT(static_cast<unsigned char>(text.back()), ' ');
  EXPECT_EQ(SysErrorMessage(0xDEAD0000u), "");
}

TEST_F(PortsTest, ThousandScansKeepNoListAlive) {
  AddPort("COM1");
  int most = 0;
  window.OnPortFound = [&](const TAPort&) { most = std::max(most, TDeviceInfoList::LiveCount()); };
  for (int scan = 0; scan < 1000; ++scan) {
    EnumerateSerialPorts(window.Handle);
  }
  EXPECT_EQ(window.Ports.size(), 1000u);
  EXPECT_EQ(most, 1);
  EXPECT_EQ(TDeviceInfoList::LiveCount(), 0);
  EXPECT_EQ(CurrentDeviceList(), nullptr);
}

TEST_F(PortsTest, RecordsForAMissingWindowAreFreed) {
  AddPort("COM1");
  AddPort("COM2");
  TRecordingWindow gone;
  const HWND handle = gone.Handle;
  UnregisterMessageTarget(handle);
  gone.Handle = nullptr;
  EnumerateSerialPorts(handle);  // the sanitizer build reports a leaked record
  EXPECT_TRUE(gone.Ports.empty());
  EXPECT_EQ(SetupApiBindCount(), 0);
}

// The settings page the tests install as msports.dll.
struct TSettingsPage {
  static inline int Calls = 0;
  static inline HWND Parent = nullptr;
  static inline std::string Device;
  static inline HDEVINFO List = nullptr;
  static inline LONG Result = 0;
  static inline std::function<void()> During;

  static LONG Show(HWND parent, HDEVINFO list, PSP_DEVINFO_DATA data) {
    ++Calls;
    Parent = parent;
    List = list;
    DWORD type = 0;
    DWORD required = 0;
    std::string name(256, '\0');
    if (win::SetupDiGetDeviceRegistryPropertyA(list, data, SPDRP_FRIENDLYNAME, &type,
                                               reinterpret_cast<PBYTE>(name.data()), 256,
                                               &required)) {
      Device = name.c_str();
    }
    if (During) {
      During();
    }
    SetLastError(ERROR_ACCESS_DENIED);
    return Result;
  }

  static void Install() {
    Calls = 0;
    Parent = nullptr;
    Device.clear();
    Result = 0;
    During = nullptr;
    RegisterBuiltinModule(
        BuiltinModule{"msports.dll", {{"SerialDisplayAdvancedSettings", ToFarProc(&Show)}}, 0});
  }
};

class SettingsTest : public DiscoveryTest {
 protected:
  void SetUp() override {
    DiscoveryTest::SetUp();
    TSettingsPage::Install();
  }
  void TearDown() override {
    TSettingsPage::During = nullptr;
    SetAdvancedSettingsParent(nullptr);
    DiscoveryTest::TearDown();
  }
};

TEST_F(SettingsTest, OpensThePageOfTheDeviceAtTheIndex) {
  AddPort("COM1");
  bench->AddDevice(bench::MakePort("LPT1", "Printer Port", "ACPI"));
  AddPort("COM3", "Other Port");
  SetAdvancedSettingsParent(window.Handle);

  ShowAdvancedSettings(2, "COM3");
  EXPECT_EQ(TSettingsPage::Calls, 1);
  EXPECT_EQ(TSettingsPage::Device, "Other Port (COM3)");
  EXPECT_EQ(TSettingsPage::Parent, window.Handle);
  EXPECT_TRUE(Boxes.empty());

  ShowAdvancedSettings(3, "COM4");
  ShowAdvancedSettings(-1, "COM4");
  EXPECT_EQ(TSettingsPage::Calls, 1) << "no member at that index: nothing shown";
  EXPECT_TRUE(Boxes.empty());

  TSettingsPage::Result = 1;
  ShowAdvancedSettings(0, "COM1");
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0], "SerialDisplayAdvancedSettings: " + SysErrorMessage(ERROR_ACCESS_DENIED));
  EXPECT_EQ(SetupApiBindCount(), 0);
  EXPECT_EQ(TDeviceInfoList::LiveCount(), 0);
}

TEST_F(SettingsTest, ThePageIsOfTheRowsOwnPortAfterDevicesWent) {
  for (const char* port : {"COM1", "COM2", "COM3"}) {
    AddPort(port);
  }
  EnumerateSerialPorts(window.Handle);
  ASSERT_EQ(window.Ports.size(), 3u);

  // The row's own port has gone: its index names COM3 now, whose page must not open.
  bench->PullOut("COM2");
  ShowAdvancedSettings(window.Ports[1]->DeviceIndex, window.Ports[1]->PortName);
  EXPECT_EQ(TSettingsPage::Calls, 0);

  TSettingsPage::Install();
  // A port before the row's has gone: its index names no device, and the port is found by name.
  bench->PullOut("COM1");
  ShowAdvancedSettings(window.Ports[2]->DeviceIndex, window.Ports[2]->PortName);
  EXPECT_EQ(TSettingsPage::Calls, 1);
  EXPECT_EQ(TSettingsPage::Device, "Communications Port (COM3)");
  EXPECT_TRUE(Boxes.empty());
  EXPECT_EQ(SetupApiBindCount(), 0);
  EXPECT_EQ(TDeviceInfoList::LiveCount(), 0);
}

TEST_F(SettingsTest, MissingSettingsLibraryRaises) {
  AddPort("COM1");
  RegisterBuiltinModule(BuiltinModule{"msports.dll", {}, ERROR_MOD_NOT_FOUND});
  EXPECT_THROW(ShowAdvancedSettings(0, "COM1"), EOSError);
  RegisterBuiltinModule(BuiltinModule{"msports.dll", {}, 0});
  EXPECT_THROW(ShowAdvancedSettings(0, "COM1"), EOSError);
  EXPECT_EQ(SetupApiBindCount(), 0);
  EXPECT_EQ(TDeviceInfoList::LiveCount(), 0);
}

TEST_F(SettingsTest, SettingsPageInsideAWalkLeavesTheWalksListAlone) {
  for (const char* port : {"COM1", "COM2", "COM3"}) {
    AddPort(port);
  }
  HDEVINFO walkList = nullptr;
  window.OnPortFound = [&](const TAPort& port) {
    if (port.PortName == "COM1") {
      walkList = CurrentDeviceList();
      ShowAdvancedSettings(port.DeviceIndex, port.PortName);
      EXPECT_EQ(TDeviceInfoList::LiveCount(), 1) << "the page's list goes when the page does";
    }
  };
  TSettingsPage::During = [&] {
    EXPECT_EQ(TDeviceInfoList::LiveCount(), 2);
    EXPECT_NE(CurrentDeviceList(), walkList);
    EXPECT_EQ(SetupApiBindCount(), 2);
  };

  EnumerateSerialPorts(window.Handle);

  EXPECT_EQ(TSettingsPage::Calls, 1);
  ASSERT_EQ(window.Ports.size(), 3u) << "the walk must go on over its own list";
  EXPECT_EQ(window.Ports[2]->PortName, "COM3");
  EXPECT_EQ(TDeviceInfoList::LiveCount(), 0);
  EXPECT_EQ(SetupApiBindCount(), 0);
}

TEST_F(SettingsTest, WalkInsideASettingsPage) {
  AddPort("COM1");
  AddPort("COM2");
  TSettingsPage::During = [&] { EnumerateSerialPorts(window.Handle); };
  ShowAdvancedSettings(1, "COM2");
  EXPECT_EQ(window.Ports.size(), 2u);
  EXPECT_EQ(TSettingsPage::Device, "Communications Port (COM2)");
  EXPECT_EQ(TDeviceInfoList::LiveCount(), 0);
  EXPECT_EQ(SetupApiBindCount(), 0);
}

}  // namespace
