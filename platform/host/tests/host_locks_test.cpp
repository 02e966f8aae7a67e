// Who holds a port: the host world refuses ports that another program or the console has.

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/host/HostWorld.h"
#include "testing/HostFakeTree.h"
#include "testing/HostPty.h"

namespace win::host {
namespace {

using testing::FakeHostTree;
using testing::Pty;
using testing::UsbAdapter;

class HostLocksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree.AddNative("ttyS0", "4");
    tree.AddUsb(UsbAdapter().Node("ttyUSB0"));
    tree.LinkDev("ttyS0", consolePty.SlavePath());
    tree.LinkDev("ttyUSB0", pty.SlavePath());
    tree.SetConsole("tty0 ttyS0");
    world = std::make_unique<HostWorld>(tree.Paths());
    usbPort = world->Ports().back().PortName();
  }

  // Opens the port as discovery's busy test does; returns the error (0 when it opened).
  DWORD TryOpen(const std::string& name) {
    DWORD error = 0;
    auto file = world->OpenComm(name, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, error);
    if (file) {
      file->OnClose();
      return 0;
    }
    EXPECT_NE(error, 0u);
    return error;
  }

  void WriteLockFile(const std::string& content) {
    tree.Write(tree.Lock() / "LCK..ttyUSB0", content);
  }

  FakeHostTree tree;
  Pty consolePty;
  Pty pty;
  std::unique_ptr<HostWorld> world;
  std::string usbPort;
};

TEST_F(HostLocksTest, AFreePortOpensAndUnknownNamesAreNotFound) {
  EXPECT_EQ(TryOpen(usbPort), 0u);
  EXPECT_EQ(TryOpen(usbPort), 0u);  // our own hold ends with the close
  EXPECT_EQ(TryOpen("COM77"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(TryOpen("ttyUSB0"), ERROR_FILE_NOT_FOUND);
  tree.LinkDev("ttyUSB0", (tree.Dev() / "gone").string());  // in sysfs, missing in /dev
  EXPECT_EQ(TryOpen(usbPort), ERROR_FILE_NOT_FOUND);
}

TEST_F(HostLocksTest, TheSystemConsoleIsBusy) {
  EXPECT_EQ(TryOpen("COM1"), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(HostWorld::LastOpenDeniedByPermissions());
}

TEST_F(HostLocksTest, AnFlockOfAnotherOpenFileDescriptionMakesThePortBusy) {
  const int other = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(TryOpen(usbPort), ERROR_ACCESS_DENIED);
  close(other);
  EXPECT_EQ(TryOpen(usbPort), 0u);
}

TEST_F(HostLocksTest, WhileWeHoldThePortASecondOpenIsRefused) {
  DWORD error = 0;
  auto held = world->OpenComm(usbPort, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, error);
  ASSERT_TRUE(held);
  EXPECT_EQ(TryOpen(usbPort), ERROR_ACCESS_DENIED);
  held->OnClose();
  EXPECT_EQ(TryOpen(usbPort), 0u);
}

TEST_F(HostLocksTest, LiveLockFilesHoldThePortStaleOnesDoNot) {
  WriteLockFile("      " + std::to_string(getpid()));  // HDB style, a live process
  EXPECT_EQ(TryOpen(usbPort), ERROR_ACCESS_DENIED);

  const pid_t child = fork();
  if (child == 0) {
    _exit(0);
  }
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);
  WriteLockFile(std::to_string(child));  // its process is gone
  EXPECT_EQ(TryOpen(usbPort), 0u);

  WriteLockFile("not a pid");
  EXPECT_EQ(TryOpen(usbPort), 0u);
}

}  // namespace
}  // namespace win::host
