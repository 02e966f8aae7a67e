#pragma once
// HostWorld and HostPaths: the device world of this machine's real serial ports on Linux: sysfs for
// the devices of the class "Ports", termios and ioctls for the opened ports, netlink uevents for
// arrival and removal.
//
// Linux is not Windows: a second open of a tty succeeds, an open raises DTR and RTS, and a
// refused open usually means missing rights. So the world finds the holders of a port before
// any open (the console, live lock files, /proc/locks, open files and controlling terminals in
// /proc, logins in utmp), looks again right before each open (lock files, /proc/locks, and the
// opens the kernel noted since the walk), and refuses a held port without touching it, as
// Windows refuses a port in use. While it holds a port it owns the port's lock file.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/DeviceWorld.h"
#include "platform/host/HostEnumerator.h"
#include "platform/host/HostHolders.h"
#include "platform/host/HostLocks.h"
#include "platform/host/HostOpenWatch.h"
#include "platform/host/UeventParser.h"

namespace win::host {

class HostHotplug;

// Where the world looks; tests point these at a fake tree.
struct HostPaths {
  std::string sysfsRoot = "/sys";
  std::string devDir = "/dev";
  std::string procDir = "/proc";
  // Logins and gettys by line; empty: none are read.
  std::string utmpFile = "/run/utmp";
  // Lock directories of the distributions: FHS, its /run twin, lockdev's, and old UUCP's.
  std::vector<std::string> lockDirs{"/var/lock", "/run/lock", "/var/lock/lockdev",
                                    "/run/lock/lockdev", "/var/spool/uucp"};
  // Tells whether a node ("ttyS0") is the system console. Unset: the consoles that
  // <sysfs>/class/tty/console/active lists.
  std::function<bool(const std::string& node)> isConsole;
  // Where udev keeps a data file for every device it has set up; without it, no udev runs.
  std::string udevDataDir = "/run/udev/data";
  // How long a new port may wait for udev to give its node the final group and mode.
  std::chrono::milliseconds arrivalWait{2000};
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
  std::vector<DeviceDetail> Describe(HDEVINFO list, SP_DEVINFO_DATA* data) override;
  std::vector<DeviceSetting> Settings(HDEVINFO list, SP_DEVINFO_DATA* data) override;
  BOOL ChangeSetting(HDEVINFO list, SP_DEVINFO_DATA* data, const std::string& key,
                     int value) override;
  PortFacts Facts(std::string_view portName) override;

  // Walks sysfs anew, as building a device list does, and gives the present ports.
  std::vector<HostPortInfo> Ports();
  // How often sysfs has been walked.
  std::uint64_t Walks() const;
  // How often /proc has been walked for holders: once per scan.
  std::uint64_t ProcWalks() const;

  // Arrival and removal of ttys: broadcasts the device change for ports. The hot-plug thread
  // calls these; tests may too.
  void HandleUevent(const Uevent& event);
  // Events were lost: looks again and broadcasts what changed.
  void HandleOverflow();
  // Announces the new ports whose nodes have become usable (or have waited long enough); gives
  // the milliseconds until the next look is due, or -1 when no port waits.
  int AnnounceArrivals();
  bool WatchingHotplug() const;

 private:
  // How a port stood at its last open.
  struct Outcome {
    bool console = false;
    bool held = false;
    std::optional<HostHolder> holder;
    PortAccess access = PortAccess::Unknown;
  };

  using Clock = std::chrono::steady_clock;
  struct Arrival {
    std::string devicePath;
    Clock::time_point deadline;
  };

  std::vector<HostPortInfo> WalkLocked();
  bool NodeSetUp(const std::string& devicePath) const;
  bool Settling(const std::string& devicePath) const;
  const HostPortInfo* PortLocked(int comNumber);
  Outcome HoldLocked(const HostPortInfo& port);
  void SayNoLockFile(const std::string& dir, const std::string& node, int errnoValue);
  void Reconcile();
  const HostPortInfo* FindLocked(HDEVINFO list, const SP_DEVINFO_DATA* data) const;
  bool IsConsole(const std::string& node) const;

  HostPaths paths_;
  HostLocks locks_;
  HostHolders holders_;
  std::shared_ptr<HostOpenWatch> watch_ = std::make_shared<HostOpenWatch>();
  std::atomic<bool> saidNoLockFile_{false};
  mutable std::mutex mutex_;
  HostEnumerator enumerator_;
  std::uint64_t walks_ = 0;
  // The ports of the last walk and who held them then: the busy tests and opens of a scan use
  // these instead of walking sysfs and /proc again for every port.
  std::vector<HostPortInfo> lastWalk_;
  std::map<std::string, HostHolder> walkHolders_;  // by node
  std::map<std::string, Outcome> outcomes_;        // by node, of the last open
  std::set<std::string> known_;                    // nodes the hot-plug handling has seen
  std::map<std::string, Arrival> arrivals_;        // by node: seen, not yet announced
  std::map<std::uintptr_t, std::vector<HostPortInfo>> lists_;
  std::uintptr_t nextList_ = 0x1000;
  std::unique_ptr<HostHotplug> hotplug_;  // last: stops first
};

}  // namespace win::host
