#pragma once
// The device world of this machine's real serial ports on Linux: sysfs for the devices of the
// class "Ports", termios and ioctls for the opened ports, netlink uevents for arrival and removal.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/DeviceWorld.h"
#include "platform/host/HostEnumerator.h"
#include "platform/host/HostLocks.h"
#include "platform/host/UeventParser.h"

namespace win::host {

class HostHotplug;

// Where the world looks; tests point these at a fake tree.
struct HostPaths {
  std::string sysfsRoot = "/sys";
  std::string devDir = "/dev";
  std::vector<std::string> lockDirs{"/var/lock", "/run/lock"};
  // Tells whether a node ("ttyS0") is the system console. Unset: the consoles that
  // <sysfs>/class/tty/console/active lists.
  std::function<bool(const std::string& node)> isConsole;
  bool watchHotplug = true;
};

class HostWorld : public DeviceWorld {
 public:
  explicit HostWorld(HostPaths paths);
  ~HostWorld() override;
  HostWorld(const HostWorld&) = delete;
  HostWorld& operator=(const HostWorld&) = delete;

  std::shared_ptr<CommFile> OpenComm(std::string_view path, DWORD access, DWORD share,
                                     DWORD creation, DWORD flags, DWORD& error) override;
  BOOL ClassGuidsFromName(PCSTR className, GUID* guids, DWORD size, DWORD* required) override;
  HDEVINFO GetClassDevs(const GUID* classGuid, PCSTR enumerator, DWORD flags) override;
  BOOL EnumDeviceInfo(HDEVINFO list, DWORD index, SP_DEVINFO_DATA* data) override;
  BOOL GetDeviceRegistryProperty(HDEVINFO list, SP_DEVINFO_DATA* data, DWORD property, DWORD* type,
                                 BYTE* buffer, DWORD size, DWORD* required) override;
  BOOL DestroyDeviceInfoList(HDEVINFO list) override;
  std::vector<std::pair<std::string, std::string>> Describe(HDEVINFO list,
                                                            SP_DEVINFO_DATA* data) override;
  std::vector<DeviceSetting> Settings(HDEVINFO list, SP_DEVINFO_DATA* data) override;
  BOOL ChangeSetting(HDEVINFO list, SP_DEVINFO_DATA* data, const std::string& key,
                     int value) override;
  std::string DeviceNode(std::string_view portName) override;

  // The present ports as the last scan found them (a new scan is made).
  std::vector<HostPortInfo> Ports();
  // Whether the calling thread's last open failed because the user may not open the node
  // (EACCES / EPERM; on most systems: not in the group "dialout").
  static bool LastOpenDeniedByPermissions();
  // Arrival and removal of ttys: broadcasts the device change for ports. The hot-plug thread
  // calls this; tests may too.
  void HandleUevent(const Uevent& event);
  bool WatchingHotplug() const;

 private:
  std::vector<HostPortInfo> ScanLocked();
  const HostPortInfo* FindLocked(HDEVINFO list, const SP_DEVINFO_DATA* data) const;
  bool IsConsole(const std::string& node) const;

  HostPaths paths_;
  HostLocks locks_;
  mutable std::mutex mutex_;
  HostEnumerator enumerator_;
  std::set<std::string> known_;  // nodes of the last scan
  std::map<std::uintptr_t, std::vector<HostPortInfo>> lists_;
  std::uintptr_t nextList_ = 0x1000;
  std::unique_ptr<HostHotplug> hotplug_;  // last: stops first
};

}  // namespace win::host
