#include "platform/host/HostWorld.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "platform/CallTrace.h"
#include "platform/host/HostHints.h"
#include "platform/host/HostHotplug.h"
#include "platform/host/HostLatencyTimer.h"
#include "platform/host/HostOwnLock.h"
#include "platform/host/HostPort.h"

namespace win::host {
using namespace win;

namespace {

constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr char kPortsClassText[] = "{4d36e978-e325-11ce-bfc1-08002be10318}";

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
      locks_(paths_.lockDirs, paths_.procDir),
      holders_(paths_.procDir, paths_.devDir, paths_.utmpFile),
      enumerator_(paths_.sysfsRoot, paths_.devDir) {
  InstallLockFileSignalHandlers();
  // Listen first, so that no port arriving during the first walk goes unnoticed.
  if (paths_.watchHotplug) {
    hotplug_ = std::make_unique<HostHotplug>(
        HostHotplug::Handlers{[this](const Uevent& event) { HandleUevent(event); },
                              [this] { HandleOverflow(); }, [this] { return AnnounceArrivals(); }});
  }
  // Only sysfs: who holds the ports is looked for when a scan lists them.
  std::lock_guard lock(mutex_);
  for (const auto& port : enumerator_.Scan()) {
    known_.insert(port.node);
  }
  ++walks_;
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

// One walk of sysfs, and one look at /proc for who holds the ports found. A node that udev is
// still setting up is no port yet: it would read as refused; its arrival is announced later.
// From here on the kernel's notes of opens of the nodes tell who came after the look.
std::vector<HostPortInfo> HostWorld::WalkLocked() {
  lastWalk_ = enumerator_.Scan();
  ++walks_;
  std::erase_if(lastWalk_, [this](const HostPortInfo& port) { return Settling(port.devicePath); });
  std::vector<std::string> paths;
  std::vector<std::pair<std::string, std::string>> nodes;
  paths.reserve(lastWalk_.size());
  for (const auto& port : lastWalk_) {
    paths.push_back(port.devicePath);
    nodes.emplace_back(port.node, port.devicePath);
  }
  watch_->Reset(nodes);
  const auto byPath = holders_.Find(paths);
  walkHolders_.clear();
  for (const auto& port : lastWalk_) {
    if (const auto it = byPath.find(port.devicePath); it != byPath.end()) {
      walkHolders_.emplace(port.node, it->second);
    }
  }
  return lastWalk_;
}

// The port of the last walk with this number; a name the last walk did not see is looked for in
// a new walk. Valid until the next walk.
const HostPortInfo* HostWorld::PortLocked(int comNumber) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    for (const auto& port : lastWalk_) {
      if (port.comNumber == comNumber) {
        return &port;
      }
    }
    if (attempt == 0) {
      WalkLocked();
    }
  }
  return nullptr;
}

// Whether another program holds the port, decided without opening it: the console, a live lock
// file and /proc/locks (read now: they are cheap), the holders of the last walk's look at /proc,
// and a program that opened the node since then, which a look at /proc for this node names.
HostWorld::Outcome HostWorld::HoldLocked(const HostPortInfo& port) {
  Outcome outcome;
  outcome.console = IsConsole(port.node);
  const std::optional<pid_t> lockPid =
      locks_.LockFileHolder(HostLocks::LockFileNames(port.node, port.byId, port.devicePath));
  if (lockPid && *lockPid == getpid()) {
    outcome.held = true;  // our own lock: we hold the port already
    return outcome;
  }
  if (lockPid) {
    outcome.holder = holders_.Process(*lockPid).value_or(HostHolder{*lockPid, {}, {}});
  }
  if (const auto it = walkHolders_.find(port.node); it != walkHolders_.end()) {
    if (!outcome.holder || outcome.holder->pid == it->second.pid) {
      outcome.holder = it->second;
    }
  }
  if (!outcome.holder) {
    outcome.holder = holders_.LockHolder(port.devicePath);
  }
  if (!outcome.holder && !outcome.console) {
    const HostOpenWatch::Others others = watch_->OpenedByOthers(port.node);
    if (others != HostOpenWatch::Others::None) {
      const auto found = holders_.Find({port.devicePath});
      if (const auto it = found.find(port.devicePath); it != found.end()) {
        outcome.holder = it->second;
      } else if (others == HostOpenWatch::Others::Opened) {
        outcome.held = true;  // by a program this user cannot look into
      }
    }
  }
  outcome.held = outcome.held || outcome.console || outcome.holder.has_value();
  return outcome;
}

void HostWorld::SayNoLockFile(const std::string& dir, const std::string& node, int errnoValue) {
  if (!detail::Tracing() || saidNoLockFile_.exchange(true)) {
    return;
  }
  const DWORD lastError = GetLastError();
  const int lastErrno = LastErrno();
  SetLastErrorFromErrno(ERROR_ACCESS_DENIED, errnoValue);
  detail::TraceLine("LockFile", dir.empty() ? "LCK.." + node : dir + "/LCK.." + node,
                    "not written, the ports are opened without lock files", true);
  SetLastErrorFromErrno(lastError, lastErrno);
}

std::vector<HostPortInfo> HostWorld::Ports() {
  std::lock_guard lock(mutex_);
  return WalkLocked();
}

std::uint64_t HostWorld::Walks() const {
  std::lock_guard lock(mutex_);
  return walks_;
}

std::uint64_t HostWorld::ProcWalks() const {
  return holders_.Walks();
}

bool HostWorld::WatchingHotplug() const {
  return hotplug_ && hotplug_->Listening();
}

void HostWorld::HandleUevent(const Uevent& event) {
  if (event.subsystem != "tty" || event.devname.empty() ||
      (event.action != "add" && event.action != "remove")) {
    return;
  }
  Reconcile();
}

void HostWorld::HandleOverflow() {
  Reconcile();
}

// Only hot-plug handling changes the set of known ports: one walk, and the difference to what
// was known, taken under one lock, so that nothing that happens meanwhile is absorbed unseen.
// A new port is announced once its node is usable.
void HostWorld::Reconcile() {
  bool removed = false;
  {
    std::lock_guard lock(mutex_);
    std::map<std::string, std::string> present;  // node to device path
    for (const auto& port : enumerator_.Scan()) {
      present.emplace(port.node, port.devicePath);
    }
    ++walks_;
    for (const auto& [node, devicePath] : present) {
      if (!known_.contains(node)) {
        arrivals_.emplace(node, Arrival{devicePath, Clock::now() + paths_.arrivalWait});
      }
    }
    for (const auto& node : known_) {
      if (!present.contains(node)) {
        removed = true;
        arrivals_.erase(node);
      }
    }
    known_.clear();
    for (const auto& entry : present) {
      known_.insert(entry.first);
    }
  }
  AnnounceArrivals();
  if (removed) {
    BroadcastDeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT);
  }
}

int HostWorld::AnnounceArrivals() {
  bool arrived = false;
  std::optional<Clock::time_point> next;
  {
    std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    for (auto it = arrivals_.begin(); it != arrivals_.end();) {
      if (now >= it->second.deadline || NodeSetUp(it->second.devicePath)) {
        arrived = true;
        it = arrivals_.erase(it);
      } else {
        next = std::min(next.value_or(it->second.deadline), it->second.deadline);
        ++it;
      }
    }
  }
  if (arrived) {
    BroadcastDeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT);
  }
  // Looked at every 50 ms until udev is done or the wait is over.
  constexpr int kLookMs = 50;
  return next ? kLookMs : -1;
}

// The kernel makes a node root's, mode 0600, before udev gives it its group and mode: a port
// announced then would be refused for a moment and shown busy until the next scan. The node is
// set up when udev has written its data file, or its group is no longer root's; where no udev
// runs, nothing will change it.
bool HostWorld::NodeSetUp(const std::string& devicePath) const {
  std::error_code error;
  if (!std::filesystem::is_directory(paths_.udevDataDir, error)) {
    return true;
  }
  struct stat node {};
  if (stat(devicePath.c_str(), &node) != 0) {
    return false;
  }
  if (node.st_gid != 0) {
    return true;
  }
  const std::string dataFile = paths_.udevDataDir + "/c" + std::to_string(major(node.st_rdev)) +
                               ":" + std::to_string(minor(node.st_rdev));
  return std::filesystem::exists(dataFile, error);
}

// A node that changed less than the arrival wait ago (the kernel made it, or udev is at work on
// it) and that udev has not set up.
bool HostWorld::Settling(const std::string& devicePath) const {
  struct stat node {};
  timespec now{};
  if (stat(devicePath.c_str(), &node) != 0 || clock_gettime(CLOCK_REALTIME, &now) != 0) {
    return false;
  }
  const auto age = std::chrono::seconds(now.tv_sec - node.st_ctim.tv_sec) +
                   std::chrono::nanoseconds(now.tv_nsec - node.st_ctim.tv_nsec);
  return age < paths_.arrivalWait && !NodeSetUp(devicePath);
}

std::shared_ptr<CommFile> HostWorld::OpenComm(std::string_view path, DWORD /*access*/,
                                              DWORD /*share*/, DWORD /*creation*/, DWORD flags,
                                              DWORD& error) {
  const int number = ComNumber(path);
  std::string node;
  std::string devicePath;
  std::unique_ptr<HostOwnLock> ownLock;
  {
    std::lock_guard lock(mutex_);
    const HostPortInfo* port = number > 0 ? PortLocked(number) : nullptr;
    if (port == nullptr) {
      error = ERROR_FILE_NOT_FOUND;
      return nullptr;
    }
    node = port->node;
    devicePath = port->devicePath;
    Outcome hold = HoldLocked(*port);
    if (hold.held) {
      // Refused untouched: an open would raise DTR and RTS in the holder's session.
      outcomes_[node] = std::move(hold);
      error = ERROR_ACCESS_DENIED;
      return nullptr;
    }
    const std::string lockDir = locks_.OwnLockDir();
    HostOwnLock::Outcome taken = lockDir.empty()
                                     ? HostOwnLock::Outcome{nullptr, std::nullopt, ENOENT}
                                     : HostOwnLock::Take(lockDir, node, paths_.procDir);
    if (taken.holder) {  // a lock file that came after the look above
      Outcome& outcome = outcomes_[node];
      outcome = Outcome{};
      outcome.held = true;
      outcome.holder = holders_.Process(*taken.holder).value_or(HostHolder{*taken.holder, {}, {}});
      error = ERROR_ACCESS_DENIED;
      return nullptr;
    }
    if (!taken.lock) {
      SayNoLockFile(lockDir, node, taken.errnoValue);
    }
    ownLock = std::move(taken.lock);
  }
  auto claim = std::make_unique<HostPortClaim>(watch_, node, std::move(ownLock));
  const OpenOutcome opened = HostLocks::OpenExclusive(devicePath, *claim);
  {
    std::lock_guard lock(mutex_);
    Outcome& outcome = outcomes_[node];
    outcome = Outcome{};
    if (opened.fd >= 0) {
      outcome.access = PortAccess::Granted;
    } else if (opened.deniedByPermissions) {
      outcome.access = PortAccess::Denied;
    } else {
      // A lock or exclusive open that only the open itself could find.
      outcome.held = opened.error == ERROR_ACCESS_DENIED;
    }
  }
  if (opened.fd < 0) {
    SetLastErrorFromErrno(opened.error, opened.errnoValue);
    error = opened.error;
    return nullptr;
  }
  return HostPort::Create(opened.fd, node, (flags & FILE_FLAG_OVERLAPPED) != 0, std::move(claim));
}

PortFacts HostWorld::Facts(std::string_view portName) {
  const int number = ComNumber(portName);
  std::lock_guard lock(mutex_);
  const auto port = std::find_if(lastWalk_.begin(), lastWalk_.end(), [&](const auto& p) {
    return number > 0 && p.comNumber == number;
  });
  if (port == lastWalk_.end()) {
    return {};
  }
  PortFacts facts;
  facts.node = port->devicePath;
  facts.byId = port->byId;
  facts.driver = port->driver;
  facts.vendorId = port->vendorId;
  facts.productId = port->productId;
  facts.serial = port->serialNumber;
  facts.console = IsConsole(port->node);
  const auto outcome = outcomes_.find(port->node);
  if (outcome == outcomes_.end()) {
    return facts;
  }
  facts.held = outcome->second.held;
  facts.access = outcome->second.access;
  // A lock that names no process says only that the port is held.
  const auto& holder = outcome->second.holder;
  if (holder && (holder->pid > 0 || !holder->name.empty())) {
    facts.heldBy = PortHolder{holder->pid, holder->name, holder->user};
    facts.hint = HolderHint(holder->name, *port);
  }
  if (facts.access == PortAccess::Denied) {
    if (const std::optional<NodeGroup> group = GroupOfNode(port->devicePath)) {
      facts.group = group->name;
      facts.hint = AccessHint(*group);
    }
  }
  return facts;
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
    for (auto& port : WalkLocked()) {
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
  return {
      {kLatencyTimerKey, *value, kLatencyTimerMin, kLatencyTimerMax, LatencyTimerChangeable(path)}};
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
    // A setting changed under a program that holds the port would change its line.
    if (HoldLocked(*port).held) {
      SetLastError(ERROR_ACCESS_DENIED);
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

std::vector<DeviceDetail> HostWorld::Describe(HDEVINFO list, SP_DEVINFO_DATA* data) {
  std::lock_guard lock(mutex_);
  const HostPortInfo* port = FindLocked(list, data);
  if (port == nullptr) {
    return {};
  }
  std::vector<DeviceDetail> details;
  const auto add = [&](DeviceFact fact, const std::string& value) {
    if (!value.empty()) {
      details.push_back(DeviceDetail::Text(fact, value));
    }
  };
  add(DeviceFact::Node, port->devicePath);
  add(DeviceFact::ById, port->byId);
  add(DeviceFact::ByPath, port->byPath);
  add(DeviceFact::Driver, port->driver);
  add(DeviceFact::Bus, port->enumerator);
  add(DeviceFact::VendorId, port->vendorId);
  add(DeviceFact::ProductId, port->productId);
  add(DeviceFact::Manufacturer, port->manufacturer);
  add(DeviceFact::SerialNumber, port->serialNumber);
  if (port->lowLatency) {
    details.push_back(DeviceDetail::Switch(DeviceFact::LowLatency, *port->lowLatency));
  }
  if (port->latencyTimer) {
    details.push_back(DeviceDetail::Text(DeviceFact::LatencyTimer, *port->latencyTimer));
  }
  return details;
}

}  // namespace win::host
