// Kernel uevents: the parser on real uevent text, the watcher thread, and the device-change
// broadcast they lead to.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/HostHotplug.h"
#include "platform/host/HostWorld.h"
#include "platform/host/UeventParser.h"
#include "testing/HostFakeTree.h"
#include "testing/HostPty.h"

namespace win::host {
namespace {

using namespace std::string_literals;
using namespace std::chrono_literals;
using testing::FakeHostTree;
using testing::Pty;
using testing::UsbAdapter;

// As the kernel sends it when an FTDI adapter is plugged in.
const std::string kAddTtyUsb0 =
    "add@/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0\0"
    "ACTION=add\0"
    "DEVPATH=/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0\0"
    "SUBSYSTEM=tty\0"
    "MAJOR=188\0"
    "MINOR=0\0"
    "DEVNAME=ttyUSB0\0"
    "SEQNUM=4711\0"s;

TEST(UeventParser, ReadsKernelMessagesAndIgnoresOthers) {
  const auto event = ParseUevent(kAddTtyUsb0);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->action, "add");
  EXPECT_EQ(event->subsystem, "tty");
  EXPECT_EQ(event->devname, "ttyUSB0");
  EXPECT_EQ(event->devpath,
            "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0");
  EXPECT_EQ(event->values.at("SEQNUM"), "4711");

  const auto removal = ParseUevent(
      "remove@/devices/pnp0/00:01/tty/ttyS0\0ACTION=remove\0SUBSYSTEM=tty\0DEVNAME=/dev/ttyS0"s);
  ASSERT_TRUE(removal);
  EXPECT_EQ(removal->action, "remove");
  EXPECT_EQ(removal->devname, "ttyS0");

  // The interface of a USB device: no node.
  const auto usb = ParseUevent(
      "bind@/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0\0ACTION=bind\0SUBSYSTEM=usb\0"
      "DEVTYPE=usb_interface\0DRIVER=ftdi_sio\0"s);
  ASSERT_TRUE(usb);
  EXPECT_EQ(usb->subsystem, "usb");
  EXPECT_TRUE(usb->devname.empty());

  EXPECT_FALSE(ParseUevent("libudev\0\xfe\xed\xca\xfe"s));
  EXPECT_FALSE(ParseUevent(""));
  EXPECT_FALSE(ParseUevent("@/devices\0"s));
  EXPECT_FALSE(ParseUevent("add@\0"s));
}

TEST(HostHotplug, HandsEveryDatagramOfItsSocketToTheCallback) {
  int sockets[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sockets), 0);
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::string> names;
  {
    HostHotplug watcher(sockets[0], {[&](const Uevent& event) {
                                       std::lock_guard lock(mutex);
                                       names.push_back(event.action + " " + event.devname);
                                       arrived.notify_all();
                                     },
                                     {},
                                     {}});
    ASSERT_TRUE(watcher.Listening());
    const std::string junk = "libudev\0junk"s;
    const std::string removal = "remove@/devices/x/tty/ttyACM0\0SUBSYSTEM=tty\0DEVNAME=ttyACM0\0"s;
    for (const auto* message : {&kAddTtyUsb0, &junk, &removal}) {
      ASSERT_EQ(send(sockets[1], message->data(), message->size(), 0),
                static_cast<ssize_t>(message->size()));
    }
    std::unique_lock lock(mutex);
    ASSERT_TRUE(
        arrived.wait_for(lock, std::chrono::seconds(10), [&] { return names.size() == 2; }));
    EXPECT_EQ(names[0], "add ttyUSB0");
    EXPECT_EQ(names[1], "remove ttyACM0");
  }  // the watcher stops and closes its socket
  close(sockets[1]);
}

// Records the device-change broadcast.
class Recorder : public MessageTarget {
 public:
  LRESULT WindowProc(UINT, WPARAM, LPARAM) override { return 0; }
  void PostToQueue(UINT message, WPARAM wParam, LPARAM lParam) override {
    std::lock_guard lock(mutex_);
    if (message == WM_DEVICECHANGE) {
      const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
      changes_.emplace_back(wParam, header != nullptr ? header->dbch_devicetype : 0xFFFF);
    }
  }
  std::vector<std::pair<WPARAM, DWORD>> Changes() {
    std::lock_guard lock(mutex_);
    return changes_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<WPARAM, DWORD>> changes_;
};

std::string AddEvent(const std::string& node) {
  return "add@/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/" + node + "/tty/" + node +
         "\0SUBSYSTEM=tty\0DEVNAME="s + node + "\0"s;
}

// Without udev a new port is announced at once. Only hot-plug handling changes the ports it
// knows: a scan that walked sysfs after the port arrived and before its event was handled does
// not swallow the broadcast. Events the kernel dropped are made up for by looking again.
TEST(HostHotplug, PortsArrivingAndLeavingAreBroadcastWhateverScansSawFirst) {
  FakeHostTree tree;
  HostWorld world(tree.Paths());
  Recorder recorder;
  HWND window = RegisterMessageTarget(&recorder, true);

  tree.AddUsb(UsbAdapter().Node("ttyUSB0"));
  world.Ports();  // a scan's walk sees the new port first
  world.HandleUevent(*ParseUevent(kAddTtyUsb0));
  tree.AddVirtual("tty5");  // no port
  world.HandleUevent(*ParseUevent("add@/devices/virtual/tty/tty5\0SUBSYSTEM=tty\0DEVNAME=tty5\0"s));
  tree.Remove("ttyUSB0");
  world.HandleUevent(
      *ParseUevent("remove@/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0\0"
                   "SUBSYSTEM=tty\0DEVNAME=ttyUSB0\0"s));
  tree.AddUsb(UsbAdapter().Node("ttyUSB1").Bus("1-3"));  // its event was dropped
  world.HandleOverflow();

  UnregisterMessageTarget(window);
  const auto changes = recorder.Changes();
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0], std::make_pair(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT));
  EXPECT_EQ(changes[1], std::make_pair(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT));
  EXPECT_EQ(changes[2], std::make_pair(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT));
}

// The kernel makes a new node root's before udev gives it its group: the port is announced once
// udev has written the node's data file, not while an open would still be refused.
TEST(HostHotplug, WithUdevANewPortIsAnnouncedOnceUdevHasSetItUp) {
  FakeHostTree tree;
  tree.UseFakeUdev();
  HostWorld world(tree.Paths());
  Recorder recorder;
  HWND window = RegisterMessageTarget(&recorder, true);

  tree.AddUsb(UsbAdapter().Node("ttyUSB0"));
  tree.LinkDev("ttyUSB0", "/dev/null");  // a character device of root's group
  world.HandleUevent(*ParseUevent(AddEvent("ttyUSB0")));
  EXPECT_GT(world.AnnounceArrivals(), 0);
  EXPECT_TRUE(recorder.Changes().empty());

  struct stat node {};
  ASSERT_EQ(stat("/dev/null", &node), 0);
  // Appended piece by piece: `"c" + std::string` trips a false -Wrestrict of GCC 12 at -O3.
  std::string dataFile = "c";
  dataFile += std::to_string(major(node.st_rdev));
  dataFile += ':';
  dataFile += std::to_string(minor(node.st_rdev));
  tree.Write(tree.Udev() / dataFile, "");
  EXPECT_EQ(world.AnnounceArrivals(), -1);
  UnregisterMessageTarget(window);
  const auto changes = recorder.Changes();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], std::make_pair(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT));
}

// A node the kernel made a moment ago, still root's and without udev's data file, is no port
// yet: an open would be refused. A node that stayed so for longer than the wait is one.
TEST(HostHotplug, ANodeUdevIsStillSettingUpIsNoPortYet) {
  FakeHostTree tree;
  tree.UseFakeUdev();
  Pty fresh;
  tree.AddUsb(UsbAdapter().Node("ttyUSB0"));
  tree.AddUsb(UsbAdapter().Node("ttyUSB1").Bus("1-2"));
  tree.LinkDev("ttyUSB0", fresh.SlavePath());
  tree.LinkDev("ttyUSB1", "/dev/null");  // root's, made long ago
  if (chown(fresh.SlavePath().c_str(), 0, 0) != 0) {
    GTEST_SKIP() << "cannot give the node to root here";
  }
  HostWorld world(tree.Paths());
  auto ports = world.Ports();
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].node, "ttyUSB1");

  struct stat node {};
  ASSERT_EQ(stat(fresh.SlavePath().c_str(), &node), 0);
  std::string dataFile = "c";
  dataFile += std::to_string(major(node.st_rdev));
  dataFile += ':';
  dataFile += std::to_string(minor(node.st_rdev));
  tree.Write(tree.Udev() / dataFile, "");
  ports = world.Ports();
  ASSERT_EQ(ports.size(), 2u);
}

TEST(HostHotplug, StormOfUeventsDuringScansLeavesExactlyThePresentPorts) {
  FakeHostTree tree;
  tree.UseFakeProc();  // each scan looks for holders; the real /proc would make it slow
  tree.AddUsb(UsbAdapter().Node("ttyUSB0"));
  tree.AddUsb(UsbAdapter().Node("ttyUSB1").Bus("1-3").Serial("B1"));
  HostWorld world(tree.Paths());
  Recorder recorder;
  HWND window = RegisterMessageTarget(&recorder, true);
  const auto ttyDir =
      tree.Sys() / "devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/ttyUSB1/tty/ttyUSB1";
  const std::string devpath =
      "/devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/ttyUSB1/tty/ttyUSB1";

  // 1,000 removals and arrivals of ttyUSB1, each with its uevent, while scans run; it ends present.
  std::atomic<bool> stormOver{false};
  std::thread storm([&] {
    for (int i = 0; i < 1000; ++i) {
      const bool arrives = i % 2 != 0;
      if (arrives) {
        std::filesystem::create_directory_symlink(ttyDir, tree.Sys() / "class/tty/ttyUSB1");
      } else {
        tree.Remove("ttyUSB1");
      }
      world.HandleUevent(*ParseUevent((arrives ? "add@" : "remove@") + devpath +
                                      "\0SUBSYSTEM=tty\0DEVNAME=ttyUSB1\0"s));
    }
    stormOver = true;
  });
  const auto countPorts = [&] {
    GUID guid{};
    DWORD required = 0;
    EXPECT_TRUE(world.ClassGuidsFromName("Ports", &guid, 1, &required));
    const HDEVINFO list = world.GetClassDevs(&guid, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    DWORD count = 0;
    while (world.EnumDeviceInfo(list, count, &data)) {
      ++count;
    }
    world.DestroyDeviceInfoList(list);
    return count;
  };
  int scans = 0;
  while (!stormOver) {
    const DWORD ports = countPorts();
    EXPECT_TRUE(ports == 1 || ports == 2) << ports;
    ++scans;
    // A pause between scans: back to back, they would starve the storm of the world's lock
    // whenever the two threads share one core.
    std::this_thread::sleep_for(1ms);
  }
  storm.join();
  UnregisterMessageTarget(window);

  EXPECT_EQ(countPorts(), 2u);
  EXPECT_GT(scans, 0);
  const auto changes = recorder.Changes();
  EXPECT_LE(changes.size(), 1000u);
  for (const auto& change : changes) {
    EXPECT_EQ(change.second, DBT_DEVTYP_PORT);
  }
}

}  // namespace
}  // namespace win::host
