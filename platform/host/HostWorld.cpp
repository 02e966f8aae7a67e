#include "platform/host/HostWorld.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

#include "platform/host/HostHotplug.h"
#include "platform/host/HostLatencyTimer.h"
#include "platform/host/HostPort.h"

namespace win::host {
using namespace win;

namespace {

constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr char kPortsClassText[] = "{4d36e978-e325-11ce-bfc1-08002be10318}";

thread_local bool lastOpenDeniedByPermissions = false;

bool SameGuid(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// "COMn" (any case, n > 0) gives n; anything else 0.
int ComNumber(std::string_view name) {
  if (name.size() < 4 || name.size() > 10 || !EqualNoCase(name.substr(0, 3), "COM")) {
    return 0;
  }
  long number = 0;
  for (const char c : name.substr(3)) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
      return 0;
    }
    number = number * 10 + (c - '0');
  }
  return number > 0 && number < 100000 ? static_cast<int>(number) : 0;
}

std::vector<BYTE> StringValue(const std::string& text) {
  std::vector<BYTE> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

std::vector<BYTE> MultiStringValue(const std::vector<std::string>& texts) {
  std::vector<BYTE> bytes;
  for (const auto& text : texts) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
  }
  bytes.push_back(0);
  return bytes;
}

std::string UpperCase(std::string text) {
  for (auto& c : text) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return text;
}

}  // namespace

HostWorld::HostWorld(HostPaths paths)
    : paths_(std::move(paths)),
      locks_(paths_.lockDirs, [this](const std::string& node) { return IsConsole(node); }),
      enumerator_(paths_.sysfsRoot, paths_.devDir) {
  // Listen first, so that no port arriving during the first scan goes unnoticed.
  if (paths_.watchHotplug) {
    hotplug_ = std::make_unique<HostHotplug>([this](const Uevent& event) { HandleUevent(event); });
  }
  std::lock_guard lock(mutex_);
  ScanLocked();
}

HostWorld::~HostWorld() {
  hotplug_.reset();
}

bool HostWorld::IsConsole(const std::string& node) const {
  if (paths_.isConsole) {
    return paths_.isConsole(node);
  }
  std::ifstream active(paths_.sysfsRoot + "/class/tty/console/active");
  std::string name;
  while (active >> name) {
    if (name == node) {
      return true;
    }
  }
  return false;
}

std::vector<HostPortInfo> HostWorld::ScanLocked() {
  auto ports = enumerator_.Scan();
  known_.clear();
  for (const auto& port : ports) {
    known_.insert(port.node);
  }
  return ports;
}

std::vector<HostPortInfo> HostWorld::Ports() {
  std::lock_guard lock(mutex_);
  return ScanLocked();
}

bool HostWorld::LastOpenDeniedByPermissions() {
  return lastOpenDeniedByPermissions;
}

bool HostWorld::WatchingHotplug() const {
  return hotplug_ && hotplug_->Listening();
}

void HostWorld::HandleUevent(const Uevent& event) {
  if (event.subsystem != "tty" || event.devname.empty()) {
    return;
  }
  WPARAM change = 0;
  {
    std::lock_guard lock(mutex_);
    const bool wasKnown = known_.contains(event.devname);
    ScanLocked();
    const bool isKnown = known_.contains(event.devname);
    if (event.action == "add" && isKnown && !wasKnown) {
      change = DBT_DEVICEARRIVAL;
    } else if (event.action == "remove" && wasKnown && !isKnown) {
      change = DBT_DEVICEREMOVECOMPLETE;
    }
  }
  if (change != 0) {
    BroadcastDeviceChange(change, DBT_DEVTYP_PORT);
  }
}

std::shared_ptr<CommFile> HostWorld::OpenComm(std::string_view path, DWORD /*access*/,
                                              DWORD /*share*/, DWORD /*creation*/, DWORD flags,
                                              DWORD& error) {
  lastOpenDeniedByPermissions = false;
  const int number = ComNumber(path);
  std::string node;
  std::string devicePath;
  if (number > 0) {
    std::lock_guard lock(mutex_);
    for (const auto& port : ScanLocked()) {
      if (port.comNumber == number) {
        node = port.node;
        devicePath = port.devicePath;
        break;
      }
    }
  }
  if (node.empty()) {
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  const OpenOutcome outcome = locks_.OpenExclusive(devicePath, node);
  if (outcome.fd < 0) {
    lastOpenDeniedByPermissions = outcome.deniedByPermissions;
    error = outcome.error;
    return nullptr;
  }
  return HostPort::Create(outcome.fd, node, (flags & FILE_FLAG_OVERLAPPED) != 0);
}

// ---------------------------------------------------------------------------------------------
// Device setup

BOOL HostWorld::ClassGuidsFromName(PCSTR className, GUID* guids, DWORD size, DWORD* required) {
  if (className == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD count = EqualNoCase(className, "Ports") ? 1 : 0;
  if (required != nullptr) {
    *required = count;
  }
  if (count > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (count == 1) {
    guids[0] = kPortsClass;
  }
  return TRUE;
}

HDEVINFO HostWorld::GetClassDevs(const GUID* classGuid, PCSTR enumerator, DWORD flags) {
  const bool allClasses = (flags & DIGCF_ALLCLASSES) != 0;
  if (classGuid == nullptr && !allClasses) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard lock(mutex_);
  std::vector<HostPortInfo> members;
  if (allClasses || SameGuid(*classGuid, kPortsClass)) {
    for (auto& port : ScanLocked()) {
      if (enumerator == nullptr || EqualNoCase(enumerator, port.enumerator)) {
        members.push_back(std::move(port));
      }
    }
  }
  const std::uintptr_t id = nextList_;
  nextList_ += 0x10;
  lists_.emplace(id, std::move(members));
  return reinterpret_cast<HDEVINFO>(id);
}

const HostPortInfo* HostWorld::FindLocked(HDEVINFO list, const SP_DEVINFO_DATA* data) const {
  const auto it = lists_.find(reinterpret_cast<std::uintptr_t>(list));
  if (it == lists_.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (data == nullptr || data->Reserved == 0 || data->Reserved > it->second.size()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return &it->second[data->Reserved - 1];
}

BOOL HostWorld::EnumDeviceInfo(HDEVINFO list, DWORD index, SP_DEVINFO_DATA* data) {
  std::lock_guard lock(mutex_);
  const auto it = lists_.find(reinterpret_cast<std::uintptr_t>(list));
  if (it == lists_.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (index >= it->second.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->ClassGuid = kPortsClass;
  data->DevInst = static_cast<DWORD>(it->second[index].comNumber);
  data->Reserved = index + 1;
  return TRUE;
}

BOOL HostWorld::GetDeviceRegistryProperty(HDEVINFO list, SP_DEVINFO_DATA* data, DWORD property,
                                          DWORD* type, BYTE* buffer, DWORD size, DWORD* required) {
  std::lock_guard lock(mutex_);
  const HostPortInfo* port = FindLocked(list, data);
  if (port == nullptr) {
    return FALSE;
  }
  DWORD valueType = REG_SZ;
  std::vector<BYTE> value;
  switch (property) {
    case SPDRP_FRIENDLYNAME:
      value = StringValue(port->FriendlyName());
      break;
    case SPDRP_DEVICEDESC:
      value = StringValue(port->description);
      break;
    case SPDRP_ENUMERATOR_NAME:
      value = StringValue(port->enumerator);
      break;
    case SPDRP_CLASS:
      value = StringValue("Ports");
      break;
    case SPDRP_CLASSGUID:
      value = StringValue(kPortsClassText);
      break;
    case SPDRP_PHYSICAL_DEVICE_OBJECT_NAME:
      value = StringValue(port->devicePath);
      break;
    case SPDRP_SERVICE:
      if (!port->driver.empty()) {
        value = StringValue(port->driver);
      }
      break;
    case SPDRP_MFG:
      if (!port->manufacturer.empty()) {
        value = StringValue(port->manufacturer);
      }
      break;
    case SPDRP_LOCATION_INFORMATION:
      if (!port->byPath.empty()) {
        value = StringValue(port->byPath);
      }
      break;
    case SPDRP_HARDWAREID:
      if (port->usb) {
        valueType = REG_MULTI_SZ;
        const std::string id =
            "USB\\VID_" + UpperCase(port->vendorId) + "&PID_" + UpperCase(port->productId);
        value = MultiStringValue({id});
      }
      break;
    default:
      break;
  }
  if (value.empty()) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  const auto length = static_cast<DWORD>(value.size());
  if (type != nullptr) {
    *type = valueType;
  }
  if (required != nullptr) {
    *required = length;
  }
  if (buffer == nullptr || size < length) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::copy(value.begin(), value.end(), buffer);
  return TRUE;
}

BOOL HostWorld::DestroyDeviceInfoList(HDEVINFO list) {
  std::lock_guard lock(mutex_);
  if (lists_.erase(reinterpret_cast<std::uintptr_t>(list)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

std::string HostWorld::DeviceNode(std::string_view portName) {
  const int number = ComNumber(portName);
  if (number <= 0) {
    return {};
  }
  std::lock_guard lock(mutex_);
  for (const auto& port : ScanLocked()) {
    if (port.comNumber == number) {
      return port.devicePath;
    }
  }
  return {};
}

std::vector<DeviceSetting> HostWorld::Settings(HDEVINFO list, SP_DEVINFO_DATA* data) {
  std::string path;
  {
    std::lock_guard lock(mutex_);
    const HostPortInfo* port = FindLocked(list, data);
    if (port == nullptr) {
      return {};
    }
    path = port->latencyTimerPath;
  }
  const std::optional<int> value = path.empty() ? std::nullopt : ReadLatencyTimer(path);
  if (!value) {
    return {};
  }
  return {{kLatencyTimerKey, kLatencyTimerLabel, *value, kLatencyTimerMin, kLatencyTimerMax, "мс",
           LatencyTimerChangeable(path)}};
}

BOOL HostWorld::ChangeSetting(HDEVINFO list, SP_DEVINFO_DATA* data, const std::string& key,
                              int value) {
  std::string path;
  {
    std::lock_guard lock(mutex_);
    const HostPortInfo* port = FindLocked(list, data);
    if (port == nullptr) {
      return FALSE;
    }
    path = port->latencyTimerPath;
  }
  if (key != kLatencyTimerKey || path.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (const DWORD error = WriteLatencyTimer(path, value); error != NO_ERROR) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

std::vector<std::pair<std::string, std::string>> HostWorld::Describe(HDEVINFO list,
                                                                     SP_DEVINFO_DATA* data) {
  std::lock_guard lock(mutex_);
  const HostPortInfo* port = FindLocked(list, data);
  if (port == nullptr) {
    return {};
  }
  std::vector<std::pair<std::string, std::string>> entries;
  const auto add = [&](const char* label, const std::string& value) {
    if (!value.empty()) {
      entries.emplace_back(label, value);
    }
  };
  add("Устройство", port->devicePath);
  add("Имя в /dev/serial/by-id", port->byId);
  add("Имя в /dev/serial/by-path", port->byPath);
  add("Драйвер", port->driver);
  add("Шина", port->enumerator);
  add("USB VID", port->vendorId);
  add("USB PID", port->productId);
  add("Изготовитель", port->manufacturer);
  add("Серийный номер", port->serialNumber);
  if (port->lowLatency) {
    add("Режим low_latency", *port->lowLatency ? "включён" : "выключен");
  }
  if (port->latencyTimer) {
    add(kLatencyTimerLabel, *port->latencyTimer + " мс");
  }
  if (access(port->devicePath.c_str(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM)) {
    add("Доступ", "нет прав на открытие; добавьте пользователя в группу dialout");
  }
  if (IsConsole(port->node)) {
    add("Занят", "системная консоль");
  }
  return entries;
}

}  // namespace win::host
