// The driver contract on this machine's ports: a USB serial port of a fake sysfs tree whose
// device node is the slave side of a pseudo-terminal; the test holds the master side.

#include "platform/devices/DeviceWorldRegistry.h"
#include "platform/host/HostWorld.h"
#include "testing/CommContract.h"
#include "testing/HostFakeTree.h"
#include "testing/HostPty.h"

namespace win::contract {
namespace {

class HostContractWorld {
 public:
  static constexpr std::array<Skip, 2> kSkipped{{
      {"LineErrorsRaiseTheirEventsAndAbortOnErrorHoldsReads",
       "a pseudo-terminal has no line errors or breaks"},
      {"ModemLinesFollowTheOutputsAndRaiseTheirEvents",
       "a pseudo-terminal has no modem lines (they answer ERROR_NOT_SUPPORTED)"},
  }};

  HostContractWorld() {
    tree_.AddUsb(host::testing::UsbAdapter().Node("ttyUSB0"));
    tree_.LinkDev("ttyUSB0", pty_.SlavePath());
    world_ = std::make_shared<host::HostWorld>(tree_.Paths());
    path_ = "\\\\.\\" + world_->Ports().at(0).PortName();
    InstallDeviceWorld(world_);
  }
  ~HostContractWorld() { InstallDeviceWorld(nullptr); }
  HostContractWorld(const HostContractWorld&) = delete;
  HostContractWorld& operator=(const HostContractWorld&) = delete;

  std::string Path() const { return path_; }
  void Send(const std::string& bytes) { pty_.Send(bytes); }
  std::string Received(DWORD ms) { return pty_.Receive(static_cast<int>(ms)); }
  void GoAway() { pty_.CloseMaster(); }
  void RaiseLineError(DWORD) { ADD_FAILURE() << "a pseudo-terminal has no line errors"; }
  void SetLoops(bool, bool) { ADD_FAILURE() << "a pseudo-terminal has no modem lines"; }

 private:
  host::testing::FakeHostTree tree_;
  host::testing::Pty pty_;
  std::shared_ptr<host::HostWorld> world_;
  std::string path_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Host, CommContract, HostContractWorld);

}  // namespace
}  // namespace win::contract
