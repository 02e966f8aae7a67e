#include "app/windows/WindowsGlue.h"

#include <dbt.h>

#include <cstdio>

#include "platform/Additions.h"

namespace glue {

namespace {

// The device interface class of serial ports (GUID_DEVINTERFACE_COMPORT).
constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

bool IsPortChange(WPARAM event, LPARAM lParam) {
  if ((event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) || lParam == 0) {
    return false;
  }
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
  if (header->dbch_devicetype == DBT_DEVTYP_PORT) {
    return true;
  }
  if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
      header->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)) {
    return false;
  }
  const auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(lParam);
  return IsEqualGUID(device->dbcc_classguid, kComPortInterface) != FALSE;
}

}  // namespace

HWND SystemWindow(std::uintptr_t winId) {
  // The system's window handles are 32-bit values, sign-extended; the system reads only those
  // 32 bits, so a wider value (such as the platform layer's, from 2^40 up) would name whatever
  // window its low half happens to name.
  const auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(winId & 0xFFFFFFFFU));
  if (winId == 0 || static_cast<std::uintptr_t>(static_cast<std::intptr_t>(low)) != winId) {
    return nullptr;
  }
  const auto window = reinterpret_cast<HWND>(winId);
  return ::IsWindow(window) != FALSE ? window : nullptr;
}

bool ForwardDeviceChange(const MSG& message, LRESULT& result) {
  if (message.message != WM_DEVICECHANGE || !IsPortChange(message.wParam, message.lParam)) {
    return false;
  }
  win::BroadcastDeviceChange(message.wParam, DBT_DEVTYP_PORT);
  result = TRUE;
  return true;
}

PortNotifications::PortNotifications(HWND window) {
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = kComPortInterface;
  notify_ = ::RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

PortNotifications::~PortNotifications() {
  if (notify_ != nullptr) {
    ::UnregisterDeviceNotification(notify_);
  }
}

Utf8Console::Utf8Console() : previous_(::GetConsoleOutputCP()) {
  ::SetConsoleOutputCP(CP_UTF8);
}

Utf8Console::~Utf8Console() {
  if (previous_ != 0) {
    ::SetConsoleOutputCP(previous_);
  }
}

void WriteToParentConsole() {
  const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (output != nullptr && output != INVALID_HANDLE_VALUE) {
    return;
  }
  if (::AttachConsole(ATTACH_PARENT_PROCESS) != FALSE) {
    static_cast<void>(std::freopen("CONOUT$", "w", stdout));
    static_cast<void>(std::freopen("CONOUT$", "w", stderr));
  }
}

}  // namespace glue
