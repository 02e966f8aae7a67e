// The Windows world against the system (Wine in CI): the class "Ports" through the real
// "SetupApi.dll", the wall between the system's handles and the bench's, the system's texts in
// UTF-8, system libraries from the system's folder, and a real serial line. The line is the one
// that TALVIK_ECHO_PORT names (scripts/run-windows-tests.sh points it at a pseudo-terminal whose
// far end echoes); no test opens any other port: under Wine, COM1 is the machine's first serial
// line.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Additions.h"
#include "platform/DeviceWorld.h"
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

std::string Lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string ModulePath(HMODULE module) {
  char path[MAX_PATH]{};
  const DWORD length = ::GetModuleFileNameA(module, path, MAX_PATH);
  return std::string(path, length);
}

// A "msports.dll" of the test's own lies beside the program (the build puts it there), where
// the loader would look first for a bare name. The layer takes the system's from its folder.
TEST_F(WindowsWorldTest, APlantedSystemLibraryBesideTheProgramIsNeverLoaded) {
  HMODULE msports = win::LoadLibraryA("msports.dll");
  ASSERT_NE(msports, nullptr) << GetLastError();
  EXPECT_NE(Lowered(ModulePath(msports)).find("\\system32\\"), std::string::npos)
      << ModulePath(msports);
  EXPECT_EQ(win::GetProcAddress(msports, "TalvikPlantedLibrary"), nullptr);
  EXPECT_TRUE(win::FreeLibrary(msports));

  // The planted copy is what a bare name finds: without it the case above would prove nothing.
  HMODULE bare = ::LoadLibraryA("msports.dll");
  ASSERT_NE(bare, nullptr);
  EXPECT_NE(::GetProcAddress(bare, "TalvikPlantedLibrary"), nullptr)
      << "the planted copy was not found; Wine needs WINEDLLOVERRIDES=msports=n,b to look "
         "beside the program first, as Windows does";
  ::FreeLibrary(bare);
}

// The system's texts come in UTF-16 and leave as UTF-8, whatever the ANSI code page (the
// script runs this program with Wine's Russian locale, code page 1251).
TEST_F(WindowsWorldTest, SystemTextsAreUtf8InAnyCodePage) {
  for (DWORD code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_OPERATION_ABORTED}) {
    wchar_t wide[512]{};
    DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                         MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), wide, 512, nullptr);
    ASSERT_GT(length, 0u) << code;
    while (length > 0 && (wide[length - 1] <= L' ' || wide[length - 1] == L'.')) {
      --length;
    }
    std::string expected(4 * length, '\0');
    expected.resize(::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length),
                                          expected.data(), static_cast<int>(expected.size()),
                                          nullptr, nullptr));
    const std::string text = SysErrorMessage(code);
    EXPECT_NE(::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                    static_cast<int>(text.size()), nullptr, 0),
              0)
        << "not UTF-8: code " << code << " in code page " << ::GetACP();
    EXPECT_EQ(text, expected) << "code " << code << " in code page " << ::GetACP();
  }
}

// A device of the class "Ports" registered with the system for one test, with texts beyond the
// ANSI code page; removed again at the end.
class RegisteredPort {
 public:
  RegisteredPort() : set_(::SetupDiCreateDeviceInfoList(&kPortsClass, nullptr)) {
    data_.cbSize = sizeof data_;
    registered_ = set_ != INVALID_HANDLE_VALUE &&
                  ::SetupDiCreateDeviceInfoW(set_, L"Ports", &kPortsClass, nullptr, nullptr,
                                             DICD_GENERATE_ID, &data_) &&
                  ::SetupDiRegisterDeviceInfo(set_, &data_, 0, nullptr, nullptr, nullptr) &&
                  Set(SPDRP_FRIENDLYNAME, std::wstring(kName) + L'\0') &&
                  Set(SPDRP_HARDWAREID, std::wstring(kHardwareIds, std::size(kHardwareIds)));
  }
  ~RegisteredPort() {
    ::SetupDiRemoveDevice(set_, &data_);
    ::SetupDiDestroyDeviceInfoList(set_);
  }
  RegisteredPort(const RegisteredPort&) = delete;
  RegisteredPort& operator=(const RegisteredPort&) = delete;

  bool Registered() const { return registered_; }

  static constexpr const wchar_t* kName = L"\u041f\u043e\u0440\u0442 \u2116 1 (COM9)";
  static constexpr const char* kNameUtf8 = "\u041f\u043e\u0440\u0442 \u2116 1 (COM9)";
  static constexpr wchar_t kHardwareIds[] = L"\u0410\0B\0";  // "А", "B" and the final NUL

 private:
  bool Set(DWORD property, const std::wstring& value) {
    return ::SetupDiSetDeviceRegistryPropertyW(set_, &data_, property,
                                               reinterpret_cast<const BYTE*>(value.data()),
                                               static_cast<DWORD>(value.size() * sizeof(wchar_t)));
  }

  HDEVINFO set_;
  SP_DEVINFO_DATA data_{};
  bool registered_ = false;
};

// Property texts come in UTF-8 whatever the ANSI code page, with the A entry point's contract:
// the size asked first is the UTF-8 size, a short buffer names it, texts end in NUL(s).
TEST_F(WindowsWorldTest, PropertyTextsAreUtf8WithTheSizesOfTheAnsiCalls) {
  const RegisteredPort registered;
  ASSERT_TRUE(registered.Registered()) << ::GetLastError();
  HDEVINFO list = win::SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  ASSERT_NE(list, INVALID_HANDLE_VALUE) << GetLastError();
  const std::string name = std::string(RegisteredPort::kNameUtf8) + '\0';
  const std::string ids("\xD0\x90\0B\0\0", 6);
  bool found = false;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; !found && win::SetupDiEnumDeviceInfo(list, index, &device); ++index) {
    DWORD type = 0;
    DWORD required = 0;
    EXPECT_FALSE(win::SetupDiGetDeviceRegistryPropertyA(list, &device, SPDRP_FRIENDLYNAME, &type,
                                                        nullptr, 0, &required));
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required != name.size()) {
      continue;
    }
    found = true;
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    std::vector<BYTE> text(required + 4, 0xEE);
    DWORD again = 0;
    EXPECT_FALSE(win::SetupDiGetDeviceRegistryPropertyA(list, &device, SPDRP_FRIENDLYNAME, &type,
                                                        text.data(), required - 1, &again));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(again, required);
    ASSERT_TRUE(win::SetupDiGetDeviceRegistryPropertyA(list, &device, SPDRP_FRIENDLYNAME, &type,
                                                       text.data(), required + 4, &again))
        << GetLastError();
    EXPECT_EQ(again, required);
    EXPECT_EQ(std::string(text.begin(), text.begin() + required), name);
    EXPECT_EQ(text[required], 0xEE) << "nothing written past the text";

    ASSERT_TRUE(win::SetupDiGetDeviceRegistryPropertyA(list, &device, SPDRP_HARDWAREID, &type,
                                                       text.data(), 0x10, &again))
        << GetLastError();
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(std::string(text.begin(), text.begin() + again), ids);
  }
  EXPECT_TRUE(found) << "no device named " << RegisteredPort::kNameUtf8 << " in code page "
                     << ::GetACP();
  EXPECT_TRUE(win::SetupDiDestroyDeviceInfoList(list));
}

// ---------------------------------------------------------------------------------------------
// A real serial line

// An OVERLAPPED with its own manual-reset event.
struct Io {
  OVERLAPPED ov{};
  Io() { ov.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~Io() { ::CloseHandle(ov.hEvent); }
  Io(const Io&) = delete;
  Io& operator=(const Io&) = delete;
  bool Done() const { return ::WaitForSingleObject(ov.hEvent, 10000) == WAIT_OBJECT_0; }
};

class WindowsLineTest : public WindowsWorldTest {
 protected:
  void SetUp() override {
    const char* port = std::getenv("TALVIK_ECHO_PORT");
    if (port == nullptr || *port == '\0') {
      GTEST_SKIP() << "TALVIK_ECHO_PORT names no echoing serial line "
                      "(scripts/run-windows-tests.sh sets it)";
    }
    WindowsWorldTest::SetUp();
    path = std::string("\\\\.\\") + port;
  }

  HANDLE Open(DWORD flags = FILE_FLAG_OVERLAPPED) {
    return win::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            flags, nullptr);
  }

  std::string path;
};

// Open, settings, an echo, and a close with a read and an event wait pending: both end as
// cancelled (995, whoever reads the record, and after the close too), and a call that found
// the file before the close starts nothing in the system after it.
TEST_F(WindowsLineTest, EchoesAndClosingEndsWhatIsPending) {
  HANDLE port = Open();
  ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(win::GetCommState(port, &dcb)) << GetLastError();
  dcb.BaudRate = CBR_1200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  ASSERT_TRUE(win::SetCommState(port, &dcb)) << GetLastError();
  ASSERT_TRUE(win::SetupComm(port, 1024, 1024)) << GetLastError();
  COMMTIMEOUTS timeouts{0, 0, 5000, 0, 0};
  ASSERT_TRUE(win::SetCommTimeouts(port, &timeouts)) << GetLastError();

  Io write;
  DWORD count = 0;
  if (!win::WriteFile(port, "U\0", 2, &count, &write.ov)) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(win::GetOverlappedResult(port, &write.ov, &count, TRUE)) << GetLastError();
  }
  EXPECT_EQ(count, 2u);
  char echo[2]{};
  Io read;
  if (!win::ReadFile(port, echo, 2, &count, &read.ov)) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(win::GetOverlappedResult(port, &read.ov, &count, TRUE)) << GetLastError();
  }
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(std::string(echo, 2), std::string("U\0", 2));

  timeouts = COMMTIMEOUTS{0, 0, 0, 0, 0};
  ASSERT_TRUE(win::SetCommTimeouts(port, &timeouts));
  ASSERT_TRUE(win::SetCommMask(port, EV_RXCHAR));
  DWORD mask = 0xFFFF;
  Io wait;
  ASSERT_FALSE(win::WaitCommEvent(port, &mask, &wait.ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  char buffer[8]{};
  Io pending;
  ASSERT_FALSE(win::ReadFile(port, buffer, sizeof buffer, nullptr, &pending.ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  const auto file = std::dynamic_pointer_cast<CommFile>(LookupHandle(port));
  ASSERT_TRUE(file);

  ASSERT_TRUE(win::CloseHandle(port));
  // The system ends cancelled operations soon after the close, not always before it returns.
  ASSERT_TRUE(pending.Done());
  ASSERT_TRUE(wait.Done());
  EXPECT_FALSE(win::GetOverlappedResult(port, &pending.ov, &count, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_FALSE(win::GetOverlappedResult(port, &wait.ov, &count, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_EQ(OverlappedError(&pending.ov), ERROR_OPERATION_ABORTED);

  // Calls that looked the file up before the close fail and start nothing.
  Io late;
  EXPECT_FALSE(file->ReadFile(buffer, sizeof buffer, nullptr, &late.ov));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(file->WaitCommEvent(&mask, &late.ov));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(file->WriteFile("x", 1, nullptr, &late.ov));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(file->SetCommMask(EV_RXCHAR));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(win::OverlappedPending(&late.ov));
  EXPECT_EQ(::WaitForSingleObject(late.ov.hEvent, 0), WAIT_TIMEOUT);

  // The port opens again at once.
  HANDLE again = Open();
  EXPECT_NE(again, INVALID_HANDLE_VALUE) << GetLastError();
  win::CloseHandle(again);
}

// A read that its total time-out ends may complete with STATUS_TIMEOUT (Wine's does when it got
// nothing), a success status: it succeeds with what it got, whoever reads the record. Wine's own
// GetOverlappedResult calls it a failure, ERROR_TIMEOUT.
TEST_F(WindowsLineTest, AReadEndedByItsTimeOutSucceedsWithWhatItGot) {
  for (const DWORD flags : {DWORD{FILE_FLAG_OVERLAPPED}, DWORD{FILE_ATTRIBUTE_NORMAL}}) {
    HANDLE port = Open(flags);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_TRUE(win::PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR));
    COMMTIMEOUTS timeouts{0, 0, 100, 0, 0};
    ASSERT_TRUE(win::SetCommTimeouts(port, &timeouts));
    for (const std::string sent : {"", "a"}) {
      Io io;
      OVERLAPPED* overlapped = flags == FILE_FLAG_OVERLAPPED ? &io.ov : nullptr;
      DWORD count = 99;
      if (!sent.empty()) {
        ASSERT_TRUE(win::WriteFile(port, sent.data(), 1, &count, overlapped) ||
                    win::GetOverlappedResult(port, &io.ov, &count, TRUE));
        COMSTAT status{};
        for (int tries = 0; tries < 1000 && status.cbInQue == 0; ++tries) {
          ASSERT_TRUE(win::ClearCommError(port, nullptr, &status));
          ::Sleep(10);
        }
        ASSERT_EQ(status.cbInQue, 1u) << "no echo";
      }
      char buffer[4]{};
      count = 99;
      const BOOL read = win::ReadFile(port, buffer, sizeof buffer, &count, overlapped);
      if (overlapped != nullptr) {
        ASSERT_FALSE(read);
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        ASSERT_TRUE(io.Done());
        EXPECT_EQ(OverlappedError(&io.ov), NO_ERROR) << "echo " << sent;
        EXPECT_TRUE(win::GetOverlappedResult(port, &io.ov, &count, FALSE))
            << "echo " << sent << ": error " << GetLastError();
      } else {
        EXPECT_TRUE(read) << "echo " << sent << ": error " << GetLastError();
      }
      ASSERT_EQ(count, sent.size());
      EXPECT_EQ(std::string(buffer, count), sent);
    }
    EXPECT_TRUE(win::CloseHandle(port));
  }
}

// The import slot of GetFileType in this program, which the world's calls go through.
extern "C" decltype(&::GetFileType) __imp_GetFileType;

// Some vendor and virtual drivers do not report a character device; the system then calls
// the file FILE_TYPE_UNKNOWN. The communications properties decide, not the file type.
TEST_F(WindowsLineTest, APortIsWhatHasCommunicationsPropertiesWhateverItsFileType) {
  struct UnknownFileType {
    decltype(&::GetFileType) saved = __imp_GetFileType;
    UnknownFileType() {
      Set([](HANDLE) -> DWORD { return FILE_TYPE_UNKNOWN; });
    }
    ~UnknownFileType() { Set(saved); }
    UnknownFileType(const UnknownFileType&) = delete;
    UnknownFileType& operator=(const UnknownFileType&) = delete;
    static void Set(decltype(&::GetFileType) function) {
      DWORD protection = 0;
      ::VirtualProtect(&__imp_GetFileType, sizeof function, PAGE_READWRITE, &protection);
      __imp_GetFileType = function;
      ::VirtualProtect(&__imp_GetFileType, sizeof function, protection, &protection);
    }
  };
  HANDLE port = INVALID_HANDLE_VALUE;
  {
    const UnknownFileType driver;
    ASSERT_EQ(::GetFileType(::GetStdHandle(STD_OUTPUT_HANDLE)),
              static_cast<DWORD>(FILE_TYPE_UNKNOWN));
    port = Open();
  }
  ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_TRUE(win::CloseHandle(port));
}

}  // namespace
