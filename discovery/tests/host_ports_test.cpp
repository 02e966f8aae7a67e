// Discovery on Linux ports, in a fake sysfs whose nodes are pseudo-terminals: a port that another
// program holds is reported busy without ever being opened, whatever way it holds it; lock files
// that are no lock files neither hang the scan nor hold the port; and a scan walks sysfs once.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "discovery/PortHandle.h"
#include "discovery/tests/DiscoveryFixture.h"
#include "platform/devices/DeviceWorldRegistry.h"
#include "platform/host/HostWorld.h"
#include "testing/HolderProcess.h"
#include "testing/HostFakeTree.h"
#include "testing/HostPty.h"

namespace {

using win::host::HostWorld;
using win::host::testing::FakeHostTree;
using win::host::testing::Pty;
using win::host::testing::UsbAdapter;

enum class Hold { Open, Flock, Exclusive, AsciiLockFile, BinaryLockFile };

// A child process, "talvik-holder", that holds the port in one way until the object goes.
class Holder {
 public:
  Holder(Hold how, const std::string& slave)
      : process_([how, &slave] {
          if (how != Hold::Open && how != Hold::Flock && how != Hold::Exclusive) {
            return true;
          }
          const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
          return fd >= 0 && (how != Hold::Flock || flock(fd, LOCK_EX) == 0) &&
                 (how != Hold::Exclusive || ioctl(fd, TIOCEXCL) == 0);
        }) {
    if (!process_.Holding()) {
      throw std::runtime_error("the holder did not start");
    }
  }

  pid_t Pid() const { return process_.Pid(); }

 private:
  win::host::testing::HolderProcess process_;
};

// Notices every open of a node from its creation on.
class OpenWatch {
 public:
  explicit OpenWatch(const std::string& path) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    inotify_add_watch(fd_, path.c_str(), IN_OPEN);
  }
  ~OpenWatch() { close(fd_); }
  OpenWatch(const OpenWatch&) = delete;
  OpenWatch& operator=(const OpenWatch&) = delete;

  bool Opened() const {
    alignas(inotify_event) char events[4096];
    return read(fd_, events, sizeof events) > 0;
  }

 private:
  int fd_;
};

termios TermiosOf(const std::string& slave) {
  termios settings{};
  const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(tcgetattr(fd, &settings), 0);
  close(fd);
  return settings;
}

bool SameTermios(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

class HostDiscoveryTest : public DiscoveryTest {
 protected:
  void SetUp() override {
    DiscoveryTest::SetUp();
    tree.AddUsb(UsbAdapter().Node("ttyUSB0"));
    tree.LinkDev("ttyUSB0", pty.SlavePath());
    world = std::make_shared<HostWorld>(tree.Paths());
    win::InstallDeviceWorld(world);
  }

  void TearDown() override {
    DiscoveryTest::TearDown();
    win::bench::UseBench();
  }

  // One walk of discovery; the records it reported.
  const std::vector<std::unique_ptr<TAPort>>& Scan() {
    window.Ports.clear();
    EnumerateSerialPorts(window.Handle);
    return window.Ports;
  }

  void WriteLockFile(const std::string& content) {
    std::ofstream(tree.Lock() / "LCK..ttyUSB0", std::ios::binary) << content;
  }

  FakeHostTree tree;
  Pty pty;
  std::shared_ptr<HostWorld> world;
};

TEST_F(HostDiscoveryTest, APortAnotherProgramHoldsIsBusyNamedAndNeverOpened) {
  const termios before = TermiosOf(pty.SlavePath());
  for (const Hold how :
       {Hold::Open, Hold::Flock, Hold::Exclusive, Hold::AsciiLockFile, Hold::BinaryLockFile}) {
    SCOPED_TRACE(static_cast<int>(how));
    Holder holder(how, pty.SlavePath());
    if (how == Hold::AsciiLockFile) {
      char text[16];
      std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(holder.Pid()));
      WriteLockFile(text);
    } else if (how == Hold::BinaryLockFile) {
      const std::int32_t pid = holder.Pid();
      WriteLockFile(std::string(reinterpret_cast<const char*>(&pid), sizeof pid));
    }
    const OpenWatch watch(pty.SlavePath());
    const auto& ports = Scan();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_TRUE(ports[0]->Busy);
    EXPECT_FALSE(watch.Opened());
    const win::PortFacts facts = win::PortFactsOf(ports[0]->PortName);
    ASSERT_TRUE(facts.heldBy);
    EXPECT_EQ(facts.heldBy->pid, holder.Pid());
    EXPECT_EQ(facts.heldBy->name, "talvik-holder");
    std::filesystem::remove(tree.Lock() / "LCK..ttyUSB0");
  }
  EXPECT_TRUE(SameTermios(before, TermiosOf(pty.SlavePath())));
  EXPECT_EQ(pty.Receive(20), "");

  // The lock file of a process that is gone holds nothing: the port is free, and opened.
  const pid_t gone = fork();
  if (gone == 0) {
    _exit(0);
  }
  waitpid(gone, nullptr, 0);
  WriteLockFile(std::to_string(gone) + "\n");
  const OpenWatch watch(pty.SlavePath());
  const auto& ports = Scan();
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_FALSE(ports[0]->Busy);
  EXPECT_TRUE(watch.Opened());
}

TEST_F(HostDiscoveryTest, LockFilesThatAreNoLockFilesNeitherHangTheScanNorHoldThePort) {
  const std::filesystem::path lock = tree.Lock() / "LCK..ttyUSB0";
  const std::string ours = std::to_string(getpid()) + "\n";
  const std::filesystem::path large = tree.Lock() / "large";
  std::ofstream(large) << ours << std::string(1 << 20, ' ');
  std::string noise;
  for (unsigned i = 0; i < 97; ++i) {
    noise += static_cast<char>((i * 37 + 11) % 256);
  }
  const std::vector<std::function<void()>> makers = {
      [&] { ASSERT_EQ(mkfifo(lock.c_str(), 0666), 0); },
      [&] { std::filesystem::create_symlink(large, lock); },
      [&] { std::filesystem::copy_file(large, lock); },
      [&] { std::ofstream(lock, std::ios::binary) << noise; },
  };
  for (const auto& make : makers) {
    make();
    const auto& ports = Scan();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_FALSE(ports[0]->Busy);
    std::filesystem::remove(lock);
  }
}

TEST_F(HostDiscoveryTest, AScanOfEightPortsWalksSysfsOnce) {
  std::vector<std::unique_ptr<Pty>> more;
  for (int i = 1; i < 8; ++i) {
    const std::string node = "ttyUSB" + std::to_string(i);
    more.push_back(std::make_unique<Pty>());
    tree.AddUsb(UsbAdapter().Node(node).Bus("1-" + std::to_string(i + 1)));
    tree.LinkDev(node, more.back()->SlavePath());
  }
  const std::uint64_t before = world->Walks();
  const auto& ports = Scan();
  ASSERT_EQ(ports.size(), 8u);
  // What the window does next: open the free ports for the probe and ask for their facts.
  for (const auto& port : ports) {
    EXPECT_FALSE(port->Busy);
    EXPECT_TRUE(TPortHandle(port->PortName).Valid());
    EXPECT_FALSE(win::PortFactsOf(port->PortName).node.empty());
  }
  EXPECT_EQ(world->Walks(), before + 1);
}

}  // namespace
