#include "platform/bench/BenchWorld.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "platform/bench/BenchClock.h"
#include "platform/bench/BenchDevice.h"
#include "platform/bench/BenchPort.h"

namespace win::bench {

using namespace win;

namespace {

constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

struct KnownClass {
  const char* name;
  GUID guid;
};

constexpr KnownClass kKnownClasses[] = {
    {"Ports", kPortsClass},
    {"Modem", {0x4D36E96D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}}},
    {"Printer", {0x4D36E979, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}}},
    {"MultiPortSerial",
     {0x50906CB8, 0xBA12, 0x11D1, {0xBF, 0x5D, 0x00, 0x00, 0xF8, 0x05, 0xF5, 0x30}}},
    {"USB", {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}}},
    {"Bluetooth", {0xE0CBF06C, 0xCD8B, 0x4647, {0xBB, 0x8A, 0x26, 0x3B, 0x43, 0xF0, 0xF9, 0x74}}},
};

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool SameGuid(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

// The class GUID of a class name: the system's for the well-known classes, otherwise one made
// from the name, so that every class on the bench has its own.
GUID ClassGuid(const std::string& className) {
  for (const auto& known : kKnownClasses) {
    if (SameText(known.name, className)) {
      return known.guid;
    }
  }
  DWORD hash = 2166136261u;
  for (char c : className) {
    hash = (hash ^ static_cast<BYTE>(std::tolower(static_cast<unsigned char>(c)))) * 16777619u;
  }
  return GUID{hash, 0xBE4C, 0x7A1F, {0x9B, 0x31, 0x54, 0x41, 0x4C, 0x56, 0x49, 0x4B}};
}

// A registry string property as text: REG_SZ up to its NUL, REG_MULTI_SZ joined with ", ".
std::string PropertyText(const std::map<DWORD, Property>& properties, DWORD code) {
  auto found = properties.find(code);
  if (found == properties.end() ||
      (found->second.type != REG_SZ && found->second.type != REG_MULTI_SZ)) {
    return {};
  }
  const auto& data = found->second.data;
  std::string text;
  std::size_t start = 0;
  while (start < data.size() && data[start] != 0) {
    std::size_t end = start;
    while (end < data.size() && data[end] != 0) {
      ++end;
    }
    if (!text.empty()) {
      text += ", ";
    }
    text.append(data.begin() + static_cast<std::ptrdiff_t>(start),
                data.begin() + static_cast<std::ptrdiff_t>(end));
    if (found->second.type == REG_SZ) {
      break;
    }
    start = end + 1;
  }
  return text;
}

std::vector<WiringPart> WiringParts(const Wiring& wiring) {
  std::vector<WiringPart> parts;
  if (wiring.echo == Echo::Always) {
    parts.emplace_back(Wire::Echo);
  } else if (wiring.echo == Echo::WhileDtrHigh) {
    parts.emplace_back(Wire::EchoWhileDtrHigh);
  }
  if (!wiring.answer.empty()) {
    parts.emplace_back(Wire::Answer, static_cast<std::int64_t>(wiring.answer.size()));
  }
  if (wiring.latencyMs != 0) {
    parts.emplace_back(Wire::AnswerLatency, wiring.latencyMs);
  }
  if (wiring.rtsToCts) {
    parts.emplace_back(Wire::RtsToCts);
  }
  if (wiring.dtrToDsr) {
    parts.emplace_back(Wire::DtrToDsr);
  }
  if (wiring.carrier == Carrier::On) {
    parts.emplace_back(Wire::CarrierOn);
  } else if (wiring.carrier == Carrier::FollowsDtr) {
    parts.emplace_back(Wire::CarrierFollowsDtr);
  }
  if (wiring.ctsHeldOn) {
    parts.emplace_back(Wire::CtsHeldOn);
  }
  return parts;
}

DeviceDetail StateOf(const BenchDevice& device) {
  if (!device.device.present) {
    return DeviceDetail::Standing(device.state.pulledOut ? DeviceState::PulledOut
                                                         : DeviceState::Absent);
  }
  if (device.device.faults.held) {
    return DeviceDetail::Standing(DeviceState::Held);
  }
  if (device.device.faults.accessDenied) {
    return DeviceDetail::Standing(DeviceState::AccessDenied);
  }
  if (device.state.open) {
    return DeviceDetail::Standing(DeviceState::Open);
  }
  if (device.device.faults.openError != 0) {
    return DeviceDetail::Standing(DeviceState::OpenFails, device.device.faults.openError);
  }
  return DeviceDetail::Standing(DeviceState::Free);
}

// What the bench tells of a device beyond its name and description, on its settings page
// (which shows those two itself) and in its row's tool tip.
std::vector<DeviceDetail> Description(const std::map<DWORD, Property>& properties,
                                      const BenchDevice& device) {
  return {
      DeviceDetail::Text(DeviceFact::Bus, PropertyText(properties, SPDRP_ENUMERATOR_NAME)),
      DeviceDetail::Wired(WiringParts(device.device.wiring)),
      StateOf(device),
  };
}

DWORD BroadcastType(const Device& device) {
  return device.portName.empty() ? DBT_DEVTYP_DEVICEINTERFACE : DBT_DEVTYP_PORT;
}

// One device of a device-information list, as it was when the list was made.
struct ListEntry {
  GUID classGuid;
  DWORD devInst;
  std::map<DWORD, Property> properties;
  std::shared_ptr<BenchDevice> device;
};

struct DeviceList {
  std::vector<ListEntry> entries;
};

class BenchWorldImpl final : public BenchWorld {
 public:
  BenchWorldImpl() : clock_(std::make_shared<BenchClock>()) {}
  ~BenchWorldImpl() override = default;

  BenchWorldImpl(const BenchWorldImpl&) = delete;
  BenchWorldImpl& operator=(const BenchWorldImpl&) = delete;

  // -------------------------------------------------------------------------------------------
  // Opens

  std::shared_ptr<CommFile> OpenComm(std::string_view path, DWORD, DWORD, DWORD, DWORD flags,
                                     DWORD& error) override {
    auto device = Find(path);
    if (!device) {
      error = ERROR_FILE_NOT_FOUND;
      return nullptr;
    }
    std::shared_ptr<BenchPort> port;
    bool broadcast = false;
    {
      std::lock_guard lock(device->mutex);
      if (device->CountCall("CreateFileA")) {
        broadcast = BenchPort::PullOutLocked(*device);
      }
      const Faults& faults = device->device.faults;
      DWORD refusal = ERROR_SUCCESS;
      if (!device->device.present) {
        refusal = ERROR_FILE_NOT_FOUND;
      } else if (faults.held || faults.accessDenied || !device->port.expired()) {
        // Held, refused to this user, or open already (a serial port has one opener at a time).
        refusal = ERROR_ACCESS_DENIED;
      } else if (faults.openError != 0) {
        refusal = faults.openError;
      }
      if (refusal != ERROR_SUCCESS) {
        ++device->state.refusedOpens;
        error = refusal;
      } else {
        port = BenchPort::Open(device, clock_, (flags & FILE_FLAG_OVERLAPPED) != 0);
        device->port = port;
        device->state.open = true;
        device->state.dtr = false;
        device->state.rts = false;
        ++device->state.opens;
      }
    }
    if (broadcast) {
      BroadcastDeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT);
    }
    return port;
  }

  // -------------------------------------------------------------------------------------------
  // Device setup

  BOOL ClassGuidsFromName(PCSTR className, GUID* guids, DWORD size, DWORD* required) override {
    if (className == nullptr || (guids == nullptr && size != 0)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (!KnownClass(className)) {
      if (required != nullptr) {
        *required = 0;
      }
      return TRUE;
    }
    if (required != nullptr) {
      *required = 1;
    }
    if (size < 1) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    guids[0] = ClassGuid(className);
    return TRUE;
  }

  HDEVINFO GetClassDevs(const GUID* classGuid, PCSTR enumerator, DWORD flags) override {
    const bool allClasses = (flags & DIGCF_ALLCLASSES) != 0;
    if (classGuid == nullptr && !allClasses) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    auto list = std::make_unique<DeviceList>();
    std::lock_guard lock(mutex_);
    for (const auto& device : devices_) {
      std::lock_guard deviceLock(device->mutex);
      const Device& d = device->device;
      const GUID guid = ClassGuid(d.className);
      if ((!allClasses && !SameGuid(guid, *classGuid)) ||
          ((flags & DIGCF_PRESENT) != 0 && !d.present) ||
          (enumerator != nullptr &&
           !SameText(PropertyText(d.properties, SPDRP_ENUMERATOR_NAME), enumerator))) {
        continue;
      }
      list->entries.push_back(ListEntry{guid, device->devInst, d.properties, device});
    }
    HDEVINFO handle = list.get();
    lists_.emplace(handle, std::move(list));
    return handle;
  }

  BOOL EnumDeviceInfo(HDEVINFO list, DWORD index, SP_DEVINFO_DATA* data) override {
    std::lock_guard lock(mutex_);
    auto* found = FindListLocked(list);
    if (found == nullptr || !CheckRecord(data)) {
      return FALSE;
    }
    if (index >= found->entries.size()) {
      SetLastError(ERROR_NO_MORE_ITEMS);
      return FALSE;
    }
    const ListEntry& entry = found->entries[index];
    data->ClassGuid = entry.classGuid;
    data->DevInst = entry.devInst;
    data->Reserved = index + 1;
    return TRUE;
  }

  BOOL GetDeviceRegistryProperty(HDEVINFO list, SP_DEVINFO_DATA* data, DWORD property, DWORD* type,
                                 BYTE* buffer, DWORD size, DWORD* required) override {
    std::lock_guard lock(mutex_);
    const ListEntry* entry = FindEntryLocked(list, data);
    if (entry == nullptr) {
      return FALSE;
    }
    if (buffer == nullptr && size != 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    auto found = entry->properties.find(property);
    if (found == entry->properties.end()) {
      SetLastError(ERROR_INVALID_DATA);  // the type word stays as the caller set it
      return FALSE;
    }
    const Property& value = found->second;
    const auto needed = static_cast<DWORD>(value.data.size());
    if (type != nullptr) {
      *type = value.type;
    }
    if (required != nullptr) {
      *required = needed;
    }
    if (size < needed) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    if (needed > 0) {
      std::memcpy(buffer, value.data.data(), needed);
    }
    return TRUE;
  }

  BOOL DestroyDeviceInfoList(HDEVINFO list) override {
    std::unique_ptr<DeviceList> gone;  // freed after the lock is released
    std::lock_guard lock(mutex_);
    auto found = lists_.find(list);
    if (found == lists_.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    gone = std::move(found->second);
    lists_.erase(found);
    return TRUE;
  }

  std::vector<DeviceDetail> Describe(HDEVINFO list, SP_DEVINFO_DATA* data) override {
    std::lock_guard lock(mutex_);
    const ListEntry* entry = FindEntryLocked(list, data);
    if (entry == nullptr) {
      return {};
    }
    std::lock_guard deviceLock(entry->device->mutex);
    return Description(entry->properties, *entry->device);
  }

  // The bench's description of the device, and the holder and refusal that its faults name.
  PortFacts Facts(std::string_view portName) override {
    PortFacts facts;
    if (const auto device = Find(portName)) {
      std::lock_guard lock(device->mutex);
      facts.details = Description(device->device.properties, *device);
      const Faults& faults = device->device.faults;
      facts.held = faults.held;
      if (faults.held) {
        facts.heldBy = faults.heldBy;
      }
      if (faults.accessDenied) {
        facts.access = PortAccess::Denied;
        facts.group = faults.group;
      }
    }
    return facts;
  }

  // -------------------------------------------------------------------------------------------
  // The bench

  void AddDevice(Device device, bool broadcast) override {
    const bool arrives = device.present;
    const DWORD type = BroadcastType(device);
    {
      std::lock_guard lock(mutex_);
      if (!device.portName.empty() && FindLocked(device.portName)) {
        throw std::invalid_argument("bench: port " + device.portName + " is already on the bench");
      }
      auto entry = std::make_shared<BenchDevice>();
      entry->device = std::move(device);
      entry->devInst = ++nextDevInst_;
      devices_.push_back(std::move(entry));
    }
    if (broadcast && arrives) {
      BroadcastDeviceChange(DBT_DEVICEARRIVAL, type);
    }
  }

  void SetPresent(const std::string& portName, bool present, bool broadcast) override {
    auto device = Get(portName);
    bool changed = false;
    {
      std::lock_guard lock(device->mutex);
      if (present) {
        changed = !device->device.present;
        device->device.present = true;
      } else {
        changed = BenchPort::PullOutLocked(*device);
      }
    }
    if (changed && broadcast) {
      BroadcastDeviceChange(present ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                            DBT_DEVTYP_PORT);
    }
  }

  void PullOut(const std::string& portName) override { SetPresent(portName, false, true); }

  void Reset() override {
    std::vector<std::shared_ptr<BenchDevice>> removed;
    {
      std::lock_guard lock(mutex_);
      removed.swap(devices_);
    }
    for (const auto& device : removed) {
      std::shared_ptr<BenchPort> port;  // let go after the lock
      std::lock_guard lock(device->mutex);
      port = device->port.lock();
      if (port) {
        port->VanishLocked();
      }
      device->port.reset();
      device->state.open = false;
    }
  }

  void SetWiring(const std::string& portName, const Wiring& wiring) override {
    auto device = Get(portName);
    std::shared_ptr<BenchPort> port;
    std::lock_guard lock(device->mutex);
    const Wiring previous = std::exchange(device->device.wiring, wiring);
    port = device->port.lock();
    if (port) {
      port->WiringChangedLocked(previous);
    }
  }

  void SetFaults(const std::string& portName, const Faults& faults) override {
    auto device = Get(portName);
    std::lock_guard lock(device->mutex);
    device->device.faults = faults;
    device->callCounts.clear();
  }

  void SendFromDevice(const std::string& portName, const std::string& bytes) override {
    WithPort(portName, [&](BenchPort& port) { port.SendLocked(bytes); });
  }

  void RaiseLineError(const std::string& portName, DWORD ceFlags) override {
    WithPort(portName, [&](BenchPort& port) { port.LineErrorLocked(ceFlags); });
  }

  void RaiseBreak(const std::string& portName) override {
    WithPort(portName, [&](BenchPort& port) { port.BreakLocked(); });
  }

  PortState State(const std::string& portName) const override {
    auto device = Get(portName);
    std::lock_guard lock(device->mutex);
    return device->state;
  }

  std::uint64_t CharTimeMicros(const std::string& portName) const override {
    auto device = Get(portName);
    std::shared_ptr<BenchPort> port;
    std::lock_guard lock(device->mutex);
    std::chrono::nanoseconds time{};
    port = device->port.lock();
    if (port) {
      time = port->CharTimeLocked();
    } else {
      time =
          BenchPort::CharTime(device->state.dcbSet ? device->state.dcb : BenchPort::DefaultDcb());
    }
    return static_cast<std::uint64_t>((time.count() + 500) / 1000);
  }

 private:
  std::shared_ptr<BenchDevice> FindLocked(std::string_view portName) const {
    for (const auto& device : devices_) {
      // Port names are fixed once added, so they are read without the device's lock.
      if (!device->device.portName.empty() && SameText(device->device.portName, portName)) {
        return device;
      }
    }
    return nullptr;
  }

  std::shared_ptr<BenchDevice> Find(std::string_view portName) const {
    std::lock_guard lock(mutex_);
    return FindLocked(portName);
  }

  std::shared_ptr<BenchDevice> Get(const std::string& portName) const {
    auto device = Find(portName);
    if (!device) {
      throw std::invalid_argument("bench: no port " + portName + " on the bench");
    }
    return device;
  }

  template <class Action>
  void WithPort(const std::string& portName, Action action) {
    auto device = Get(portName);
    std::shared_ptr<BenchPort> port;
    std::lock_guard lock(device->mutex);
    port = device->port.lock();
    if (port) {
      action(*port);
    }
  }

  bool KnownClass(const std::string& className) const {
    for (const auto& known : kKnownClasses) {
      if (SameText(known.name, className)) {
        return true;
      }
    }
    std::lock_guard lock(mutex_);
    return std::any_of(devices_.begin(), devices_.end(), [&](const auto& device) {
      return SameText(device->device.className, className);
    });
  }

  DeviceList* FindListLocked(HDEVINFO list) const {
    auto found = lists_.find(list);
    if (found == lists_.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    return found->second.get();
  }

  static bool CheckRecord(const SP_DEVINFO_DATA* data) {
    if (data == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
      SetLastError(ERROR_INVALID_USER_BUFFER);
      return false;
    }
    return true;
  }

  const ListEntry* FindEntryLocked(HDEVINFO list, const SP_DEVINFO_DATA* data) const {
    const DeviceList* found = FindListLocked(list);
    if (found == nullptr || !CheckRecord(data)) {
      return nullptr;
    }
    const ULONG_PTR index = data->Reserved;
    if (index == 0 || index > found->entries.size() ||
        found->entries[index - 1].devInst != data->DevInst) {
      SetLastError(ERROR_INVALID_PARAMETER);  // a record of another list
      return nullptr;
    }
    return &found->entries[index - 1];
  }

  std::shared_ptr<BenchClock> clock_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<BenchDevice>> devices_;
  std::map<HDEVINFO, std::unique_ptr<DeviceList>> lists_;
  DWORD nextDevInst_ = 0;
};

}  // namespace

std::shared_ptr<BenchWorld> BenchWorld::Create() {
  BenchPort::PrepareRegistry();
  return std::make_shared<BenchWorldImpl>();
}

}  // namespace win::bench
