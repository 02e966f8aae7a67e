// The Windows glue against a real (hidden) window of the system.

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "app/windows/WindowsGlue.h"
#include "platform/Additions.h"

namespace {

struct Message {
  UINT message;
  WPARAM wParam;
  DWORD deviceType;
};

// A top-level message target of the platform layer, as the main window is: it records what is
// posted to it and what its window procedure runs.
class Recorder : public win::MessageTarget {
 public:
  Recorder() : handle_(win::RegisterMessageTarget(this, true)) {}
  ~Recorder() override { win::UnregisterMessageTarget(handle_); }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    const DWORD type =
        lParam != 0 ? reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam)->dbch_devicetype : ~0UL;
    ran.push_back({message, wParam, type});
    return 0;
  }
  void PostToQueue(UINT message, WPARAM wParam, LPARAM lParam) override {
    std::lock_guard lock(mutex_);
    queued_.push_back({message, wParam, lParam});
  }
  // Runs what was posted, as the application's queue does later.
  void DeliverAll() {
    std::vector<Posted> posted;
    {
      std::lock_guard lock(mutex_);
      posted.swap(queued_);
    }
    for (const Posted& message : posted) {
      DeliverQueued(message.message, message.wParam, message.lParam);
    }
  }
  std::size_t Queued() {
    std::lock_guard lock(mutex_);
    return queued_.size();
  }
  HWND Handle() const { return handle_; }

  std::vector<Message> ran;

 private:
  struct Posted {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  std::mutex mutex_;
  std::vector<Posted> queued_;
  HWND handle_;
};

LRESULT CALLBACK GlueWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG native{};
  native.hwnd = window;
  native.message = message;
  native.wParam = wParam;
  native.lParam = lParam;
  LRESULT result = 0;
  if (glue::ForwardDeviceChange(native, result)) {
    return result;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

class WindowsGlueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = GlueWindowProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TalvikGlueTest";
    ::RegisterClassA(&windowClass);
    window_ = ::CreateWindowExA(0, "TalvikGlueTest", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window_, nullptr) << ::GetLastError();
  }
  void TearDown() override {
    if (window_ != nullptr) {
      ::DestroyWindow(window_);
    }
  }

  LRESULT Send(WPARAM event, const void* header) {
    return ::SendMessageA(window_, WM_DEVICECHANGE, event,
                          reinterpret_cast<LPARAM>(const_cast<void*>(header)));
  }

  HWND window_ = nullptr;
};

DEV_BROADCAST_DEVICEINTERFACE_A Interface(const GUID& interfaceClass) {
  DEV_BROADCAST_DEVICEINTERFACE_A device{};
  device.dbcc_size = sizeof device;
  device.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  device.dbcc_classguid = interfaceClass;
  return device;
}

constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
constexpr GUID kVolumeInterface = {
    0x53F5630D, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

TEST_F(WindowsGlueTest, PortChangesArePostedAsThePortBroadcastAndOthersAreLeftAlone) {
  Recorder main;
  // The header of a port broadcast; its name ("COM7") follows it, and nothing reads it.
  DEV_BROADCAST_HDR port{};
  port.dbch_size = sizeof port;
  port.dbch_devicetype = DBT_DEVTYP_PORT;
  const DEV_BROADCAST_DEVICEINTERFACE_A comPort = Interface(kComPortInterface);

  EXPECT_EQ(Send(DBT_DEVICEARRIVAL, &port), TRUE);
  EXPECT_EQ(Send(DBT_DEVICEREMOVECOMPLETE, &comPort), TRUE);
  // Posted: nothing of the window's handling runs inside the system's send.
  EXPECT_TRUE(main.ran.empty());
  EXPECT_EQ(main.Queued(), 2U);

  DEV_BROADCAST_HDR volume{};
  volume.dbch_size = sizeof volume;
  volume.dbch_devicetype = DBT_DEVTYP_VOLUME;
  const DEV_BROADCAST_DEVICEINTERFACE_A disk = Interface(kVolumeInterface);
  Send(DBT_DEVICEARRIVAL, &volume);
  Send(DBT_DEVICEARRIVAL, &disk);
  Send(DBT_DEVICEQUERYREMOVE, &port);
  Send(DBT_DEVNODES_CHANGED, nullptr);
  EXPECT_EQ(main.Queued(), 2U);

  main.DeliverAll();
  ASSERT_EQ(main.ran.size(), 2U);
  EXPECT_EQ(main.ran[0].message, static_cast<UINT>(WM_DEVICECHANGE));
  EXPECT_EQ(main.ran[0].wParam, static_cast<WPARAM>(DBT_DEVICEARRIVAL));
  EXPECT_EQ(main.ran[0].deviceType, static_cast<DWORD>(DBT_DEVTYP_PORT));
  EXPECT_EQ(main.ran[1].wParam, static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE));
  EXPECT_EQ(main.ran[1].deviceType, static_cast<DWORD>(DBT_DEVTYP_PORT));
}

TEST_F(WindowsGlueTest, SystemWindowIsTheRealWindowAndNullForAnythingElse) {
  EXPECT_EQ(glue::SystemWindow(reinterpret_cast<std::uintptr_t>(window_)), window_);
  EXPECT_EQ(glue::SystemWindow(0), nullptr);
  // The platform layer's own handles name no window of the system.
  Recorder target;
  EXPECT_EQ(glue::SystemWindow(reinterpret_cast<std::uintptr_t>(target.Handle())), nullptr);
  const HWND gone = window_;
  ::DestroyWindow(window_);
  window_ = nullptr;
  EXPECT_EQ(glue::SystemWindow(reinterpret_cast<std::uintptr_t>(gone)), nullptr);
}

TEST_F(WindowsGlueTest, PortNotificationsRegisterForTheWindow) {
  const glue::PortNotifications notifications(window_);
  EXPECT_TRUE(notifications.Registered()) << ::GetLastError();
}

}  // namespace
