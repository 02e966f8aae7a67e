// The Windows world against the system (Wine in CI): the class "Ports" through the real
// "SetupApi.dll", and the wall between the system's handles and the bench's. No test opens a
// real port: under Wine, COM1 is the machine's first serial line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Additions.h"
#include "platform/KernelObject.h"
#include "platform/devices/DeviceWorldRegistry.h"
#include "testing/UseBench.h"

namespace {

using namespace win;

constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

class WindowsWorldTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallDeviceWorld(CreateDeviceWorld(DeviceWorldKind::Host)); }
  void TearDown() override { bench::UseBench(); }

  // The bytes in use on the process heap, where the system's SetupApi keeps its lists.
  static SIZE_T ProcessHeapInUse() {
    SIZE_T inUse = 0;
    HANDLE heap = ::GetProcessHeap();
    PROCESS_HEAP_ENTRY entry{};
    ::HeapLock(heap);
    while (::HeapWalk(heap, &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
        inUse += entry.cbData;
      }
    }
    ::HeapUnlock(heap);
    return inUse;
  }
};

// Reads a text property the way discovery does: size first, then the text, which must then be
// read. A device without the property answers ERROR_INVALID_DATA.
void ReadTextProperty(HDEVINFO list, SP_DEVINFO_DATA& device, DWORD property) {
  DWORD type = 0;
  DWORD required = 0;
  if (win::SetupDiGetDeviceRegistryPropertyA(list, &device, property, &type, nullptr, 0,
                                             &required)) {
    return;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_INVALID_DATA) {
    return;
  }
  ASSERT_EQ(error, ERROR_INSUFFICIENT_BUFFER) << "property " << property;
  if (required == 0) {
    return;  // Wine has no enumerator name: it asks for a larger buffer and names no size
  }
  std::vector<BYTE> text(required);
  ASSERT_TRUE(win::SetupDiGetDeviceRegistryPropertyA(list, &device, property, &type, text.data(),
                                                     required, nullptr))
      << "property " << property << ": error " << GetLastError();
}

// Enumerates a list to its end, reading the properties discovery reads, and destroys it.
void Walk(HDEVINFO list) {
  DWORD count = 0;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  while (win::SetupDiEnumDeviceInfo(list, count, &device)) {
    for (DWORD property : {SPDRP_FRIENDLYNAME, SPDRP_DEVICEDESC, SPDRP_ENUMERATOR_NAME}) {
      ReadTextProperty(list, device, property);
    }
    ++count;
  }
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  EXPECT_TRUE(win::SetupDiDestroyDeviceInfoList(list));
}

TEST_F(WindowsWorldTest, ListsThePortsClassThroughTheSystemAndReleasesEveryList) {
  // As discovery binds it: the layer's "SetupApi.dll", which hands the calls to this world.
  HMODULE setupApi = win::LoadLibraryA("SetupApi.dll");
  ASSERT_NE(setupApi, nullptr);
  EXPECT_EQ(win::GetProcAddress(setupApi, "SetupDiGetClassDevsA"),
            ToFarProc(&win::SetupDiGetClassDevsA));

  GUID guids[4]{};
  DWORD required = 0;
  ASSERT_TRUE(win::SetupDiClassGuidsFromNameA("Ports", guids, 4, &required)) << GetLastError();
  ASSERT_GE(required, 1u);
  EXPECT_TRUE(IsEqualGUID(guids[0], kPortsClass));

  // A first round loads what the system loads once; after it, rounds must leave nothing behind.
  Walk(win::SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT));
  Walk(win::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
  const SIZE_T heapInUse = ProcessHeapInUse();
  const std::size_t layerHandles = OpenHandleCount();
  for (int round = 0; round < 20; ++round) {
    HDEVINFO ports = win::SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    ASSERT_NE(ports, INVALID_HANDLE_VALUE) << GetLastError();
    Walk(ports);
    HDEVINFO all =
        win::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    ASSERT_NE(all, INVALID_HANDLE_VALUE) << GetLastError();
    Walk(all);
  }
  EXPECT_EQ(ProcessHeapInUse(), heapInUse);
  EXPECT_EQ(OpenHandleCount(), layerHandles);

  // A destroyed list is no longer this world's: a second destroy never reaches the system.
  HDEVINFO once = win::SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  ASSERT_TRUE(win::SetupDiDestroyDeviceInfoList(once));
  EXPECT_FALSE(win::SetupDiDestroyDeviceInfoList(once));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(win::FreeLibrary(setupApi));
}

TEST_F(WindowsWorldTest, NeitherWorldTakesTheOthersHandles) {
  // Made while the bench is the world: a port and a device list.
  auto& bench = bench::UseBench();
  bench.AddDevice(bench::MakePort("COM7", "Communications Port", "ACPI"));
  HANDLE benchPort = win::CreateFileA("\\\\.\\COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(benchPort, INVALID_HANDLE_VALUE);
  HDEVINFO benchList = win::SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  ASSERT_NE(benchList, INVALID_HANDLE_VALUE);

  InstallDeviceWorld(CreateDeviceWorld(DeviceWorldKind::Host));
  // The bench's port keeps answering from the bench; its list never reaches the system's
  // SetupApi, which would take the value for its own structure.
  DCB dcb{};
  EXPECT_TRUE(win::GetCommState(benchPort, &dcb));
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  EXPECT_FALSE(win::SetupDiEnumDeviceInfo(benchList, 0, &device));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  // A handle of the system is no port of the layer's, and stays the system's.
  HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_FALSE(win::GetCommState(event, &dcb));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(::SetEvent(event));
  EXPECT_EQ(::WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(win::CloseHandle(event));

  // Names that would open a drive, a path or a device that is no serial port are refused.
  for (const char* name : {"\\\\.\\C:", "\\\\.\\C:\\Windows", "\\\\.\\..\\COM7", "\\\\.\\NUL",
                           "\\\\.\\COM7 ", "\\\\?\\GLOBALROOT\\Device\\Null"}) {
    HANDLE file = win::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_EQ(file, INVALID_HANDLE_VALUE) << name;
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << name;
  }

  HDEVINFO systemList = win::SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  ASSERT_NE(systemList, INVALID_HANDLE_VALUE);
  // Back on the bench, the system's list is unknown there; the bench's own is still good.
  bench::UseBench();
  EXPECT_FALSE(win::SetupDiEnumDeviceInfo(systemList, 0, &device));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(win::SetupDiDestroyDeviceInfoList(benchList));
  EXPECT_TRUE(win::CloseHandle(benchPort));
  // The Windows world that made `systemList` is gone, and its lists went with it.
}

TEST_F(WindowsWorldTest, MessagesToWindowsThatAreNoTargetsGoToTheSystem) {
  HWND window = ::CreateWindowExA(0, "STATIC", "before", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr);
  ASSERT_NE(window, nullptr) << ::GetLastError();
  EXPECT_TRUE(win::SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("after")));
  char text[16]{};
  EXPECT_EQ(::GetWindowTextA(window, text, sizeof text), 5);
  EXPECT_STREQ(text, "after");
  EXPECT_TRUE(win::PostMessageA(window, WM_NULL, 0, 0));
  EXPECT_TRUE(::DestroyWindow(window));
  EXPECT_FALSE(win::PostMessageA(window, WM_NULL, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowsWorldTest, LibrariesWithNoBuiltInModuleAreTheSystemsOnlyInTheWindowsWorld) {
  HMODULE msports = win::LoadLibraryA("msports.dll");
  ASSERT_NE(msports, nullptr) << GetLastError();
  EXPECT_NE(win::GetProcAddress(msports, "SerialDisplayAdvancedSettings"), nullptr);
  EXPECT_TRUE(win::FreeLibrary(msports));

  bench::UseBench();
  EXPECT_EQ(win::LoadLibraryA("msports.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

}  // namespace
