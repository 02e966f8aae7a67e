#include "discovery/ExistingSerialPorts.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <string_view>

#include "discovery/DeviceHelper.h"
#include "discovery/DeviceInfoList.h"
#include "discovery/LineLoopTest.h"
#include "discovery/ModuleLoader.h"
#include "discovery/OSError.h"
#include "discovery/PortHandle.h"
#include "discovery/ScanMessages.h"
#include "discovery/SetupApi.h"
#include "platform/Additions.h"

using namespace win;

namespace {

// Each walk and settings call owns the list it builds until it returns (a settings page can run
// inside a walk and a walk inside a settings page); the module only remembers the latest one.
std::weak_ptr<TDeviceInfoList> CurrentList;
HWND SettingsParent = nullptr;

// A library loaded for the duration of one call.
struct TLoadedModule {
  HMODULE Handle = nullptr;
  TLoadedModule() = default;
  TLoadedModule(const TLoadedModule&) = delete;
  TLoadedModule& operator=(const TLoadedModule&) = delete;
  ~TLoadedModule() { CloseModule(Handle); }
};

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// Ports of a "{...}" enumerator, and of Windows' own Bluetooth stack, whose open dials the remote
// device and can take seconds, are never opened.
bool Untestable(const std::string& enumerator) {
  constexpr std::string_view kBluetooth = "BTHENUM";
  return Contains(enumerator, "{") ||
         std::equal(
             enumerator.begin(), enumerator.end(), kBluetooth.begin(), kBluetooth.end(),
             [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
}

// The present devices of the class "Ports"; null when the class is unknown.
std::shared_ptr<TDeviceInfoList> BuildPortsList() {
  GUID guid{};
  DWORD required = 0;
  if (!SetupApi().SetupDiClassGuidsFromNameA("Ports", &guid, 1, &required)) {
    return nullptr;
  }
  const HDEVINFO handle = SetupApi().SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT);
  if (handle == INVALID_HANDLE_VALUE) {
    RaiseLastOSError();
  }
  auto list = std::make_shared<TDeviceInfoList>(handle);
  CurrentList = list;
  return list;
}

// The "(" of the last parenthesised group when that group ends the name and is not the only
// "(": "Intel(R) Active Management Technology - SOL (COM3)" names COM3, not "R". npos otherwise.
std::size_t LastGroupOpening(const std::string& name) {
  if (name.empty() || name.back() != ')') {
    return std::string::npos;
  }
  const std::size_t open = name.rfind('(');
  if (open == std::string::npos || open == name.find('(') ||
      name.find(')', open) != name.size() - 1) {
    return std::string::npos;
  }
  return open;
}

SP_DEVINFO_DATA EmptyDeviceInfo() {
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof(SP_DEVINFO_DATA);
  return data;
}

// The device's display name: its friendly name, or its description when it has none.
std::string DisplayName(TDeviceHelper& helper) {
  std::string name = helper.ReadStringProperty(SPDRP_FRIENDLYNAME);
  return name.empty() ? helper.ReadStringProperty(SPDRP_DEVICEDESC) : name;
}

std::unique_ptr<TAPort> ClassifyDevice(TDeviceHelper& helper, std::int32_t index) {
  const std::string name = DisplayName(helper);
  if (!Contains(name, "COM")) {
    return nullptr;
  }
  std::int32_t type = 0;
  bool busy = true;
  if (Untestable(helper.ReadStringProperty(SPDRP_ENUMERATOR_NAME))) {
    type = -1;
  } else {
    busy = !CanOpenPort(ExtractPortName(name));
  }
  if (!busy && helper.ReadStringProperty(SPDRP_ENUMERATOR_NAME) == "USB") {
    type = TestUsbLineLoops(name);
  }
  auto record = std::make_unique<TAPort>();
  record->Fill(name, type, busy, index);
  return record;
}

// True when the member of `list` that `data` names is a port named `portName`.
bool IsPort(HDEVINFO list, const SP_DEVINFO_DATA& data, const std::string& portName) {
  TDeviceHelper helper;
  helper.DeviceList = list;
  helper.DeviceInfoData = data;
  const std::string name = DisplayName(helper);
  return Contains(name, "COM") && ExtractPortName(name) == portName;
}

// The member of a new list that is the port a walk found at `deviceIndex` as `portName`: that
// member while it still has that name (devices added or removed since move the others), else the
// first port of that name. False when the port is gone.
bool FindPortDevice(HDEVINFO list, std::int32_t deviceIndex, const std::string& portName,
                    SP_DEVINFO_DATA& data) {
  if (deviceIndex >= 0 &&
      SetupApi().SetupDiEnumDeviceInfo(list, static_cast<DWORD>(deviceIndex), &data) &&
      IsPort(list, data, portName)) {
    return true;
  }
  for (DWORD i = 0; SetupApi().SetupDiEnumDeviceInfo(list, i, &data); ++i) {
    if (IsPort(list, data, portName)) {
      return true;
    }
  }
  return false;
}

// Hands the record to the window, which answers non-zero when it took the record; otherwise
// the record stays here and goes.
void SendPortFound(HWND window, std::unique_ptr<TAPort> record) {
  if (win::SendMessageA(window, WM_PORT_FOUND, 0, reinterpret_cast<LPARAM>(record.get())) != 0) {
    static_cast<void>(record.release());
  }
}

}  // namespace

void TAPort::Fill(const std::string& name, std::int32_t type, bool busy, std::int32_t index) {
  FriendlyName = name;
  AdapterType = type;
  DeviceIndex = index;
  Busy = busy;
  PortName = ExtractPortName(name);
  Description = ExtractDescription(name);
}

void EnumerateSerialPorts(HWND window) {
  const TSetupApiBinding binding;
  const std::shared_ptr<TDeviceInfoList> list = BuildPortsList();
  TDeviceHelper helper;
  if (list) {
    helper.DeviceList = list->Handle();
    SP_DEVINFO_DATA data = EmptyDeviceInfo();
    for (DWORD i = 0; SetupApi().SetupDiEnumDeviceInfo(list->Handle(), i, &data); ++i) {
      helper.DeviceInfoData = data;
      std::unique_ptr<TAPort> record = ClassifyDevice(helper, static_cast<std::int32_t>(i));
      if (record) {
        SendPortFound(window, std::move(record));
        PumpOneMessage();
      }
    }
  }
  win::PostMessageA(window, WM_PORTS_ENUMERATED, 0, 0);
}

void ShowAdvancedSettings(std::int32_t deviceIndex, const std::string& portName) {
  const TSetupApiBinding binding;
  const std::shared_ptr<TDeviceInfoList> list = BuildPortsList();
  SP_DEVINFO_DATA data = EmptyDeviceInfo();
  if (!list || !FindPortDevice(list->Handle(), deviceIndex, portName, data)) {
    return;
  }
  TLoadedModule msports;
  if (!OpenModule(msports.Handle, "msports.dll")) {
    RaiseLastOSError();
  }
  bool found = true;
  const auto display = ProcCast<SerialDisplayAdvancedSettingsProc>(
      FindModuleSymbol(msports.Handle, "SerialDisplayAdvancedSettings", found));
  if (!found) {
    RaiseLastOSError();
  }
  if (display(SettingsParent, list->Handle(), &data) != 0) {
    const DWORD error = GetLastError();
    win::MessageBoxA(nullptr, ("SerialDisplayAdvancedSettings: " + SysErrorMessage(error)).c_str(),
                     ApplicationTitle().c_str(), MB_OK);
  }
}

void SetAdvancedSettingsParent(HWND parent) {
  SettingsParent = parent;
}

bool CanOpenPort(const std::string& portName) {
  if (!Contains(portName, "COM")) {
    return false;
  }
  try {
    const TPortHandle port(portName);
    return port.Valid();
  } catch (...) {
    win::MessageBoxA(nullptr, ("Ошибка открытия порта " + portName).c_str(),
                     ApplicationTitle().c_str(), MB_OK);
    return false;
  }
}

std::string ExtractPortName(const std::string& name) {
  if (const std::size_t open = LastGroupOpening(name); open != std::string::npos) {
    return name.substr(open + 1, name.size() - open - 2);
  }
  const std::size_t open = name.find('(');
  const std::string rest = open == std::string::npos ? name : name.substr(open + 1);
  const std::size_t close = rest.find(')');
  return close == std::string::npos ? std::string() : rest.substr(0, close);
}

std::string ExtractDescription(const std::string& name) {
  const std::size_t last = LastGroupOpening(name);
  const std::size_t open = last != std::string::npos ? last : name.find('(');
  return open == std::string::npos ? std::string() : name.substr(0, open);
}

HDEVINFO CurrentDeviceList() {
  const std::shared_ptr<TDeviceInfoList> list = CurrentList.lock();
  return list ? list->Handle() : nullptr;
}
