// Who holds a port: the host world refuses ports that the console, a lock, or another program's
// open holds, names the holder, and reads lock files as the hostile input they can be.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/host/HostLockFile.h"
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
  }

  void CreateWorld() {
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

  FakeHostTree tree;
  Pty consolePty;
  Pty pty;
  std::unique_ptr<HostWorld> world;
  std::string usbPort;
};

TEST_F(HostLocksTest, AFreePortOpensAndUnknownNamesAreNotFound) {
  CreateWorld();
  EXPECT_EQ(TryOpen(usbPort), 0u);
  EXPECT_EQ(TryOpen(usbPort), 0u);  // our own hold ends with the close
  EXPECT_EQ(world->Facts(usbPort).access, PortAccess::Granted);
  EXPECT_EQ(TryOpen("COM77"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(TryOpen("ttyUSB0"), ERROR_FILE_NOT_FOUND);
  tree.LinkDev("ttyUSB0", (tree.Dev() / "gone").string());  // in sysfs, missing in /dev
  EXPECT_EQ(TryOpen(usbPort), ERROR_FILE_NOT_FOUND);
}

TEST_F(HostLocksTest, TheSystemConsoleIsBusyAndSaidToBeTheConsole) {
  CreateWorld();
  EXPECT_EQ(TryOpen("COM1"), ERROR_ACCESS_DENIED);
  const PortFacts facts = world->Facts("COM1");
  EXPECT_TRUE(facts.console);
  EXPECT_TRUE(facts.held);
  EXPECT_NE(facts.access, PortAccess::Denied);
  EXPECT_FALSE(world->Facts(usbPort).console);
}

TEST_F(HostLocksTest, WhileWeHoldThePortASecondOpenIsRefused) {
  CreateWorld();
  DWORD error = 0;
  auto held = world->OpenComm(usbPort, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, error);
  ASSERT_TRUE(held);
  EXPECT_EQ(TryOpen(usbPort), ERROR_ACCESS_DENIED);
  held->OnClose();
  EXPECT_EQ(TryOpen(usbPort), 0u);
}

// Holders that only /proc shows, in a fake /proc: a lock of a process this user cannot look
// into, an open-file-description lock that names no process, and a known port-grabbing service
// whose hint says what to do.
TEST_F(HostLocksTest, LocksAndOpenFilesOfProcNameTheHolderAndKnownServicesGetAHint) {
  tree.UseFakeProc();
  struct stat node {};
  ASSERT_EQ(stat(pty.SlavePath().c_str(), &node), 0);
  char fileId[64];
  std::snprintf(fileId, sizeof fileId, "%02x:%02x:%lu", major(node.st_dev), minor(node.st_dev),
                static_cast<unsigned long>(node.st_ino));
  tree.AddProcess(4242, "minicom", {});
  tree.AddProcess(4243, "waiting", {});
  // A program waiting for a lock ("->") holds nothing.
  tree.SetLocks(
      "1: FLOCK  ADVISORY  WRITE 1 00:00:1 0 EOF\n"
      "2: -> FLOCK  ADVISORY  WRITE 4243 " +
      std::string(fileId) +
      " 0 EOF\n"
      "2: FLOCK  ADVISORY  WRITE 4242 " +
      std::string(fileId) + " 0 EOF\n");
  CreateWorld();
  EXPECT_EQ(TryOpen(usbPort), ERROR_ACCESS_DENIED);
  PortFacts facts = world->Facts(usbPort);
  ASSERT_TRUE(facts.heldBy);
  EXPECT_EQ(facts.heldBy->pid, 4242);
  EXPECT_EQ(facts.heldBy->name, "minicom");
  EXPECT_EQ(facts.heldBy->user, "");  // the fake /proc belongs to this user
  EXPECT_EQ(facts.hint, "");

  tree.SetLocks("1: OFDLCK ADVISORY  WRITE -1 " + std::string(fileId) + " 0 EOF\n");
  world->Ports();
  EXPECT_EQ(TryOpen(usbPort), ERROR_ACCESS_DENIED);
  facts = world->Facts(usbPort);
  EXPECT_TRUE(facts.held);
  EXPECT_FALSE(facts.heldBy);

  tree.SetLocks("");
  tree.AddProcess(977, "ModemManager", {"/dev/null", "socket:[81]", pty.SlavePath()});
  world->Ports();
  EXPECT_EQ(TryOpen(usbPort), ERROR_ACCESS_DENIED);
  facts = world->Facts(usbPort);
  ASSERT_TRUE(facts.heldBy);
  EXPECT_EQ(facts.heldBy->name, "ModemManager");
  EXPECT_NE(facts.hint.find("ID_MM_DEVICE_IGNORE"), std::string::npos) << facts.hint;
  EXPECT_NE(facts.hint.find("ATTRS{idVendor}==\"0403\""), std::string::npos) << facts.hint;
}

TEST(HostLockFile, ContentsNameAProcessOnlyInTheTwoKnownForms) {
  const std::int32_t binary = 31337;
  std::string binaryText(4, '\0');
  std::memcpy(binaryText.data(), &binary, 4);
  EXPECT_EQ(ParseLockFilePid("      4711\n"), 4711);         // HDB
  EXPECT_EQ(ParseLockFilePid("4711 minicom anna\n"), 4711);  // with the program's name
  EXPECT_EQ(ParseLockFilePid(binaryText), 31337);            // Kermit, exactly four bytes
  for (const std::string& wrong :
       {std::string(), std::string("0\n"), std::string("-4711\n"), std::string("4711abc\n"),
        std::string("12345678901\n"), std::string("pid 4711\n"), binaryText + '\n',
        binaryText.substr(0, 3), std::string("\xff\xff\xff\xff", 4)}) {
    EXPECT_FALSE(ParseLockFilePid(wrong)) << "[" << wrong << "]";
  }
}

}  // namespace
}  // namespace win::host
