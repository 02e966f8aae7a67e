// What the settings page of a real port may change (the FTDI latency timer), and what a user
// without the rights to a port is told.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "platform/host/HostWorld.h"
#include "testing/HostFakeTree.h"
#include "testing/HostPty.h"

namespace win::host {
namespace {

using testing::FakeHostTree;
using testing::Pty;
using testing::UsbAdapter;

std::string Contents(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string text;
  std::getline(in, text);
  return text;
}

class HostSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree.AddNative("ttyS0", "4");
    tree.AddUsb(UsbAdapter().Node("ttyUSB0").Serial("A50285BI").Latency("16"));
    tree.LinkDev("ttyUSB0", pty.SlavePath());
  }

  // The devices of the class "Ports" of `world`, in a list the test owns.
  struct Devices {
    explicit Devices(HostWorld& w) : world(w) {
      GUID guid{};
      world.ClassGuidsFromName("Ports", &guid, 1, nullptr);
      list = world.GetClassDevs(&guid, nullptr, DIGCF_PRESENT);
    }
    ~Devices() { world.DestroyDeviceInfoList(list); }
    Devices(const Devices&) = delete;
    Devices& operator=(const Devices&) = delete;

    SP_DEVINFO_DATA* At(DWORD index) {
      data = SP_DEVINFO_DATA{};
      data.cbSize = sizeof data;
      return world.EnumDeviceInfo(list, index, &data) ? &data : nullptr;
    }

    HostWorld& world;
    HDEVINFO list = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA data{};
  };

  std::filesystem::path LatencyFile() const {
    return tree.Sys() / "devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/ttyUSB0/latency_timer";
  }

  FakeHostTree tree;
  Pty pty;
};

TEST_F(HostSettingsTest, TheLatencyTimerIsOfferedAndWrittenWithinItsRange) {
  HostWorld world(tree.Paths());
  Devices devices(world);
  SP_DEVINFO_DATA* native = devices.At(0);
  ASSERT_NE(native, nullptr);
  EXPECT_TRUE(world.Settings(devices.list, native).empty());
  EXPECT_FALSE(world.ChangeSetting(devices.list, native, "latency_timer", 2));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  SP_DEVINFO_DATA* usb = devices.At(1);
  ASSERT_NE(usb, nullptr);
  const auto settings = world.Settings(devices.list, usb);
  ASSERT_EQ(settings.size(), 1u);
  EXPECT_EQ(settings[0].key, "latency_timer");
  EXPECT_EQ(settings[0].value, 16);
  EXPECT_EQ(settings[0].minimum, 1);
  EXPECT_EQ(settings[0].maximum, 255);
  EXPECT_TRUE(settings[0].changeable);

  EXPECT_TRUE(world.ChangeSetting(devices.list, usb, "latency_timer", 2));
  EXPECT_EQ(Contents(LatencyFile()), "2");
  EXPECT_EQ(world.Settings(devices.list, usb).at(0).value, 2);  // read afresh, not remembered

  for (const int wrong : {0, 256, -1}) {
    EXPECT_FALSE(world.ChangeSetting(devices.list, usb, "latency_timer", wrong)) << wrong;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  EXPECT_FALSE(world.ChangeSetting(devices.list, usb, "low_latency", 1));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Contents(LatencyFile()), "2");

  // The adapter pulled out while its page is open.
  std::filesystem::remove_all(LatencyFile().parent_path());
  EXPECT_FALSE(world.ChangeSetting(devices.list, usb, "latency_timer", 8));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(world.Settings(devices.list, usb).empty());
}

// The page was opened for a free port; a program that opened the port since then keeps its line
// as it was: the setting is not changed under it.
TEST_F(HostSettingsTest, ASettingIsNotChangedUnderAProgramThatOpenedThePortSinceTheWalk) {
  HostWorld world(tree.Paths());
  Devices devices(world);
  SP_DEVINFO_DATA* usb = devices.At(1);
  ASSERT_NE(usb, nullptr);
  const int other = open((tree.Dev() / "ttyUSB0").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  EXPECT_FALSE(world.ChangeSetting(devices.list, usb, "latency_timer", 2));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Contents(LatencyFile()), "16");
  close(other);
  EXPECT_TRUE(world.ChangeSetting(devices.list, usb, "latency_timer", 2));
  EXPECT_EQ(Contents(LatencyFile()), "2");
}

TEST_F(HostSettingsTest, AnAttributeTheDriverRefusesIsReportedAsAFailure) {
  HostWorld world(tree.Paths());
  Devices devices(world);
  SP_DEVINFO_DATA* usb = devices.At(1);
  ASSERT_NE(usb, nullptr);
  // A directory where the attribute should be: the write fails as a driver's refusal would.
  std::filesystem::remove(LatencyFile());
  std::filesystem::create_directory(LatencyFile());
  EXPECT_FALSE(world.ChangeSetting(devices.list, usb, "latency_timer", 4));
  EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
}

// Runs in a child process with the rights of an ordinary user: without membership of the port's
// group the port does not open, and the reason is kept apart from "held by another program".
// Root becomes "nobody" for the checks and root again to remove the child's tree.
void CheckAsUserWithoutRights(const FakeHostTree& tree, const std::string& slave,
                              const std::filesystem::path& latencyFile) {
  const bool root = geteuid() == 0;
  if (root) {
    chmod(tree.Sys().parent_path().c_str(), 0755);
    if (setresgid(65534, 65534, 0) != 0 || setresuid(65534, 65534, 0) != 0) {
      std::fprintf(stderr, "could not drop root\n");
      std::exit(2);
    }
  } else {
    chmod(slave.c_str(), 0);
    chmod(latencyFile.c_str(), 0444);
  }
  HostWorld world(tree.Paths());
  const std::string name = world.Ports().back().PortName();
  DWORD error = 0;
  auto file = world.OpenComm(name, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0, error);
  const PortFacts facts = world.Facts(name);
  struct stat node {};
  stat(slave.c_str(), &node);
  const struct group* group = getgrgid(node.st_gid);

  GUID guid{};
  world.ClassGuidsFromName("Ports", &guid, 1, nullptr);
  HDEVINFO list = world.GetClassDevs(&guid, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  world.EnumDeviceInfo(list, 1, &data);
  const auto settings = world.Settings(list, &data);
  const bool changed = world.ChangeSetting(list, &data, "latency_timer", 2);
  const DWORD changeError = GetLastError();
  world.DestroyDeviceInfoList(list);

  std::fprintf(stderr,
               "opened=%d error=%lu denied=%d held=%d group=%d hint=%d changeable=%d "
               "change=%d/%lu\n",
               file != nullptr, static_cast<unsigned long>(error),
               facts.access == PortAccess::Denied, facts.held,
               group != nullptr && facts.group == group->gr_name,
               facts.hint.code != Hint::None && facts.hint.group == facts.group,
               !settings.empty() && settings[0].changeable, changed,
               static_cast<unsigned long>(changeError));
  if (root && (setresuid(0, 0, 0) != 0 || setresgid(0, 0, 0) != 0)) {
    std::exit(3);
  }
  std::error_code ignored;
  std::filesystem::remove_all(tree.Sys().parent_path(), ignored);
  std::exit(0);
}

TEST_F(HostSettingsTest, AUserWithoutRightsIsToldSoAndMayOnlyLook) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(CheckAsUserWithoutRights(tree, pty.SlavePath(), LatencyFile()),
              ::testing::ExitedWithCode(0),
              "opened=0 error=5 denied=1 held=0 group=1 hint=1 changeable=0 change=0/5");
}

TEST_F(HostSettingsTest, AHeldPortIsNotMistakenForMissingRights) {
  HostWorld world(tree.Paths());
  const std::string name = world.Ports().back().PortName();
  DWORD error = 0;
  auto first = world.OpenComm(name, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0, error);
  ASSERT_NE(first, nullptr);
  auto second = world.OpenComm(name, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0, error);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(world.Facts(name).held);
  EXPECT_EQ(world.Facts(name).access, PortAccess::Unknown);
  first->OnClose();
}

}  // namespace
}  // namespace win::host
