// Who holds a port: the host world refuses ports that the console, a lock, another program's
// open (whatever name it used, and also one made after the walk), a login or a controlling
// terminal holds, names the holder, reads lock files as the hostile input they can be, and owns
// a lock file itself while it holds a port.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>

#include "platform/host/HostLockFile.h"
#include "platform/host/HostOwnLock.h"
#include "platform/host/HostWorld.h"
#include "testing/HolderProcess.h"
#include "testing/HostFakeTree.h"
#include "testing/HostPty.h"

namespace win::host {
namespace {

using testing::FakeHostTree;
using testing::Pty;
using testing::UsbAdapter;

using Holder = testing::HolderProcess;

// A child that has ended and is not reaped yet: a zombie.
pid_t Zombie() {
  const pid_t pid = fork();
  if (pid == 0) {
    _exit(0);
  }
  siginfo_t info{};
  waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);  // ended, left unreaped
  return pid;
}

std::string LockText(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

class HostLocksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree.AddNative("ttyS0", "4");
    tree.AddUsb(UsbAdapter().Node("ttyUSB0"));
    tree.LinkDev("ttyS0", consolePty.SlavePath());
    tree.LinkDev("ttyUSB0", pty.SlavePath());
    tree.SetConsole("tty0 ttyS0");
  }

  void CreateWorld() { CreateWorld(tree.Paths()); }
  void CreateWorld(const HostPaths& paths) {
    world = std::make_unique<HostWorld>(paths);
    usbPort = world->Ports().back().PortName();
  }

  void WriteLock(const std::string& name, pid_t pid) {
    std::ofstream(tree.Lock() / name, std::ios::binary) << LockText(pid);
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
  EXPECT_EQ(facts.hint.code, Hint::None);

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
  EXPECT_EQ(facts.hint.code, Hint::ModemManager);
  EXPECT_EQ(facts.hint.vendorId + ":" + facts.hint.productId, "0403:6001");
}

// A process in its own mount namespace holds ttyUSB0's device through the path of ttyUSB1's node
// (a bind mount, as a container gets a host device under another name): the link in /proc names
// ttyUSB1's path, the device is ttyUSB0's.
TEST_F(HostLocksTest, OpenFilesAreMatchedByDeviceNumberNotByTheirPath) {
  Pty innocent;
  tree.AddUsb(UsbAdapter().Node("ttyUSB1").Bus("1-2"));
  tree.LinkDev("ttyUSB1", innocent.SlavePath());
  const std::string device = pty.SlavePath();
  const std::string other = innocent.SlavePath();
  Holder holder([&] {
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount(device.c_str(), other.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
           open(other.c_str(), O_RDWR | O_NOCTTY) >= 0;
  });
  if (!holder.Holding()) {
    GTEST_SKIP() << "no mount namespace for a child here";
  }
  world = std::make_unique<HostWorld>(tree.Paths());
  const auto ports = world->Ports();
  ASSERT_EQ(ports.size(), 3u);
  const std::string held = ports[1].PortName();
  const std::string free = ports[2].PortName();
  ASSERT_EQ(ports[2].node, "ttyUSB1");

  EXPECT_EQ(TryOpen(held), ERROR_ACCESS_DENIED);
  const PortFacts facts = world->Facts(held);
  ASSERT_TRUE(facts.heldBy);
  EXPECT_EQ(facts.heldBy->pid, holder.Pid());
  EXPECT_EQ(facts.heldBy->name, "talvik-holder");
  EXPECT_EQ(TryOpen(free), 0u);
  EXPECT_FALSE(world->Facts(free).heldBy);
}

// A getty's line: its controlling terminal, which it need not keep open, or its line in utmp.
// /proc/<pid>/stat and utmp are readable for every user, open files are not.
TEST_F(HostLocksTest, AControllingTerminalOrALoginHoldsThePort) {
  const std::string slave = pty.SlavePath();
  Holder getty([&] {
    if (setsid() < 0) {
      return false;
    }
    const int fd = open(slave.c_str(), O_RDWR);  // a session leader's first tty becomes its own
    const bool own = fd >= 0 && ioctl(fd, TIOCSCTTY, 0) == 0;
    close(fd);
    return own;
  });
  ASSERT_TRUE(getty.Holding());
  CreateWorld();
  EXPECT_EQ(TryOpen(usbPort), ERROR_ACCESS_DENIED);
  PortFacts facts = world->Facts(usbPort);
  ASSERT_TRUE(facts.heldBy);
  EXPECT_EQ(facts.heldBy->pid, getty.Pid());
  EXPECT_EQ(facts.heldBy->name, "talvik-holder");
  getty.Leave();

  Holder login([] { return true; });
  utmp entry{};
  entry.ut_type = LOGIN_PROCESS;
  entry.ut_pid = login.Pid();
  std::strncpy(entry.ut_line, "ttyUSB0", sizeof entry.ut_line);
  std::strncpy(entry.ut_user, "LOGIN", sizeof entry.ut_user);
  std::filesystem::create_directories(tree.Utmp().parent_path());
  std::ofstream(tree.Utmp(), std::ios::binary)
      .write(reinterpret_cast<const char*>(&entry), sizeof entry);
  world->Ports();
  EXPECT_EQ(TryOpen(usbPort), ERROR_ACCESS_DENIED);
  facts = world->Facts(usbPort);
  ASSERT_TRUE(facts.heldBy);
  EXPECT_EQ(facts.heldBy->pid, login.Pid());
}

// A program that opens the port between the walk and our open: the open is not made, so its line
// gets no byte and keeps its settings; once it has gone, the port opens again.
TEST_F(HostLocksTest, AProgramThatOpensThePortAfterTheWalkHoldsItAtTheOpen) {
  CreateWorld();
  termios before{};
  ASSERT_EQ(tcgetattr(pty.Master(), &before), 0);
  const std::string node = (tree.Dev() / "ttyUSB0").string();
  Holder late([&] { return open(node.c_str(), O_RDWR | O_NOCTTY) >= 0; });
  ASSERT_TRUE(late.Holding());

  EXPECT_EQ(TryOpen(usbPort), ERROR_ACCESS_DENIED);
  const PortFacts facts = world->Facts(usbPort);
  ASSERT_TRUE(facts.heldBy);
  EXPECT_EQ(facts.heldBy->pid, late.Pid());
  termios after{};
  ASSERT_EQ(tcgetattr(pty.Master(), &after), 0);
  EXPECT_EQ(before.c_lflag, after.c_lflag);
  EXPECT_EQ(before.c_iflag, after.c_iflag);
  EXPECT_EQ(before.c_cflag, after.c_cflag);
  EXPECT_EQ(pty.Receive(20), "");

  late.Leave();
  EXPECT_EQ(TryOpen(usbPort), 0u);
  EXPECT_EQ(TryOpen(usbPort), 0u);  // our own opens and closes count for no one else
}

// While we hold a port we own its lock file in the FHS form, and remove it on every way out, a
// signal that ends the process included. A lock of a dead or zombie process is stale; locks under
// the by-id name and in the SVR4 form hold the port.
TEST_F(HostLocksTest, OurLockFileLivesWithTheOpenAndOthersInEveryFormHoldThePort) {
  tree.AddSerialLink("by-id", "usb-FTDI_FT232R_USB_UART-if00-port0", "ttyUSB0");
  CreateWorld();
  const std::filesystem::path lock = tree.Lock() / "LCK..ttyUSB0";
  const pid_t zombie = Zombie();
  WriteLock("LCK..ttyUSB0", zombie);
  DWORD error = 0;
  auto held = world->OpenComm(usbPort, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, error);
  waitpid(zombie, nullptr, 0);
  ASSERT_TRUE(held) << error;
  EXPECT_EQ(ReadFile(lock), LockText(getpid()));
  struct stat file {};
  ASSERT_EQ(stat(lock.c_str(), &file), 0);
  EXPECT_EQ(file.st_mode & 0777, 0644u);
  EXPECT_EQ(TryOpen(usbPort), ERROR_ACCESS_DENIED);

  held->OnClose();
  EXPECT_FALSE(std::filesystem::exists(lock));

  // A SIGTERM of a process that holds a lock removes it before the process ends; a child that
  // ends removes none of its parent's.
  const std::string dir = tree.Lock().string();
  Holder ended(
      [&] { return HostOwnLock::Take(dir, "ttyUSB9", "/proc").lock.release() != nullptr; });
  ASSERT_TRUE(ended.Holding());
  EXPECT_EQ(ReadFile(tree.Lock() / "LCK..ttyUSB9"), LockText(ended.Pid()));
  kill(ended.Pid(), SIGTERM);
  int status = 0;
  waitpid(ended.Pid(), &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_FALSE(std::filesystem::exists(tree.Lock() / "LCK..ttyUSB9"));
  held = world->OpenComm(usbPort, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0, error);
  ASSERT_TRUE(held);
  const pid_t child = fork();
  if (child == 0) {
    raise(SIGTERM);
    _exit(0);
  }
  waitpid(child, nullptr, 0);
  EXPECT_EQ(ReadFile(lock), LockText(getpid()));
  held->OnClose();
  WriteLock("LCK..ttyUSB0", getpid());  // left by an earlier process of our pid: stale
  EXPECT_EQ(TryOpen(usbPort), 0u);
  EXPECT_FALSE(std::filesystem::exists(lock));

  Holder other([] { return true; });
  struct stat node {};
  ASSERT_EQ(stat(pty.SlavePath().c_str(), &node), 0);
  char svr4[32];
  std::snprintf(svr4, sizeof svr4, "LCK.%03u.%03u", major(node.st_rdev), minor(node.st_rdev));
  for (const std::string& name :
       {std::string("LCK..usb-FTDI_FT232R_USB_UART-if00-port0"), std::string(svr4)}) {
    SCOPED_TRACE(name);
    WriteLock(name, other.Pid());
    EXPECT_EQ(TryOpen(usbPort), ERROR_ACCESS_DENIED);
    const PortFacts facts = world->Facts(usbPort);
    ASSERT_TRUE(facts.heldBy);
    EXPECT_EQ(facts.heldBy->pid, other.Pid());
    std::filesystem::remove(tree.Lock() / name);
  }
}

// Where no lock file can be written, the port is opened without one, and the trace says so once.
TEST_F(HostLocksTest, WithoutALockDirectoryThePortOpensAndTheTraceSaysSoOnce) {
  HostPaths paths = tree.Paths();
  paths.lockDirs = {(tree.Lock() / "missing").string()};
  CreateWorld(paths);
  SetCallTrace(true);
  ::testing::internal::CaptureStderr();
  const DWORD first = TryOpen(usbPort);
  const DWORD second = TryOpen(usbPort);
  const std::string trace = ::testing::internal::GetCapturedStderr();
  SetCallTrace(false);
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(second, 0u);
  const auto said = trace.find("trace: LockFile(");
  ASSERT_NE(said, std::string::npos) << trace;
  EXPECT_EQ(trace.find("trace: LockFile(", said + 1), std::string::npos) << trace;
}

// /proc is walked once per scan: when the device list is built, not when the world is made, and
// not again for the busy tests and opens of the ports it lists.
TEST_F(HostLocksTest, AScanWalksProcOnce) {
  tree.UseFakeProc();
  const int notes = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(notes, 0);
  ASSERT_GE(inotify_add_watch(notes, tree.Proc().c_str(), IN_OPEN | IN_ONLYDIR), 0);
  HostWorld scanned(tree.Paths());
  GUID guid{};
  DWORD required = 0;
  ASSERT_TRUE(scanned.ClassGuidsFromName("Ports", &guid, 1, &required));
  const HDEVINFO list = scanned.GetClassDevs(&guid, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  int opened = 0;
  for (DWORD index = 0; scanned.EnumDeviceInfo(list, index, &data); ++index) {
    DWORD error = 0;
    const std::string name = "COM" + std::to_string(data.DevInst);
    if (auto file = scanned.OpenComm(name, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, error)) {
      file->OnClose();
      ++opened;
    }
  }
  scanned.DestroyDeviceInfoList(list);
  EXPECT_EQ(opened, 1);  // the console is not opened

  int walks = 0;
  alignas(inotify_event) char events[4096];
  for (ssize_t size = 0; (size = read(notes, events, sizeof events)) > 0;) {
    for (ssize_t at = 0; at < size;) {
      inotify_event event{};
      std::memcpy(&event, events + at, sizeof event);
      at += static_cast<ssize_t>(sizeof event + event.len);
      walks += event.len == 0 ? 1 : 0;  // an open of /proc itself, not of an entry in it
    }
  }
  close(notes);
  EXPECT_EQ(walks, 1);
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
