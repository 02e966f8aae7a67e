#pragma once
// WindowsWorld: the device world that is the system itself. Ports are opened with the system's
// CreateFileW, and the device-setup calls go to the system's "SetupApi.dll", loaded from the
// system's folder. Texts cross in UTF-16 and are UTF-8 on this side: property values keep the
// contract of the A entry points (sizes in UTF-8 bytes, texts NUL-terminated,
// ERROR_INSUFFICIENT_BUFFER with the size needed). Lists and files of this world never reach
// another world, and no other world's handle reaches the system: the world answers only the lists
// it made, and its files live behind handles of the layer's table.

#include <mutex>
#include <set>

#include "platform/DeviceWorld.h"

namespace win::windows {

class WindowsWorld final : public DeviceWorld {
 public:
  WindowsWorld();
  ~WindowsWorld() override;
  WindowsWorld(const WindowsWorld&) = delete;
  WindowsWorld& operator=(const WindowsWorld&) = delete;

  // Opens "\\.\<path>" when `path` is a plain device name and the device has the
  // communications properties of a serial port, whatever its file type. Anything else (a drive,
  // a path, a file) fails with ERROR_FILE_NOT_FOUND.
  std::shared_ptr<CommFile> OpenComm(std::string_view path, DWORD access, DWORD share,
                                     DWORD creation, DWORD flags, DWORD& error) override;

  BOOL ClassGuidsFromName(PCSTR className, GUID* guids, DWORD size, DWORD* required) override;
  HDEVINFO GetClassDevs(const GUID* classGuid, PCSTR enumerator, DWORD flags) override;
  BOOL EnumDeviceInfo(HDEVINFO list, DWORD index, SP_DEVINFO_DATA* data) override;
  BOOL GetDeviceRegistryProperty(HDEVINFO list, SP_DEVINFO_DATA* data, DWORD property, DWORD* type,
                                 BYTE* buffer, DWORD size, DWORD* required) override;
  BOOL DestroyDeviceInfoList(HDEVINFO list) override;
  // The system's own settings page shows what it knows; this world adds nothing.
  std::vector<DeviceDetail> Describe(HDEVINFO list, SP_DEVINFO_DATA* data) override;
  bool LoadsSystemLibraries() const override { return true; }

 private:
  struct SetupApi {
    decltype(&::SetupDiClassGuidsFromNameW) classGuidsFromName = nullptr;
    decltype(&::SetupDiGetClassDevsW) getClassDevs = nullptr;
    decltype(&::SetupDiEnumDeviceInfo) enumDeviceInfo = nullptr;
    decltype(&::SetupDiGetDeviceRegistryPropertyW) getDeviceRegistryProperty = nullptr;
    decltype(&::SetupDiDestroyDeviceInfoList) destroyDeviceInfoList = nullptr;
  };

  // False with the last error set when the system's library or one of its entry points is
  // missing.
  bool Bound() const;
  // False with ERROR_INVALID_HANDLE for a list this world did not make.
  bool Knows(HDEVINFO list);

  HMODULE library_ = nullptr;
  DWORD bindError_ = ERROR_SUCCESS;
  SetupApi api_;
  std::mutex mutex_;
  std::set<HDEVINFO> lists_;
};

}  // namespace win::windows
