// The call trace names the errno behind a failure of this machine's ports.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/devices/DeviceWorldRegistry.h"
#include "platform/host/HostWorld.h"
#include "testing/HostFakeTree.h"

namespace win::host {
namespace {

using testing::FakeHostTree;
using ::testing::HasSubstr;
using testing::UsbAdapter;

TEST(HostTrace, AFailingOpenNamesItsErrno) {
  FakeHostTree tree;
  tree.AddUsb(UsbAdapter().Node("ttyUSB0"));  // no device node in /dev behind it
  auto world = std::make_shared<HostWorld>(tree.Paths());
  InstallDeviceWorld(world);
  const std::string name = world->Ports().at(0).PortName();

  SetCallTrace(true);
  ::testing::internal::CaptureStderr();
  HANDLE port = win::CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  const DWORD error = win::GetLastError();
  const int errnoValue = LastErrno();
  const std::string trace = ::testing::internal::GetCapturedStderr();
  SetCallTrace(false);
  InstallDeviceWorld(nullptr);

  EXPECT_EQ(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(errnoValue, ENOENT);
  EXPECT_THAT(trace,
              HasSubstr("trace: CreateFileA(" + name + ") = INVALID_HANDLE_VALUE, error 2, errno " +
                        std::to_string(ENOENT) + " (" + ErrnoText(ENOENT) + ")\n"));
}

}  // namespace
}  // namespace win::host
