#pragma once
// DeviceWorld and CommFile: what stands behind the device functions of the Win32 subset. One
// device world serves a process; each world (bench, host) lives in its own folder and target,
// and platform/devices/DeviceWorldRegistry.h chooses one.

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Additions.h"
#include "platform/KernelObject.h"

namespace win {

// An opened serial device. Each call has already found its handle; results follow Win32 (FALSE
// with the last error set). Overlapped completion is the implementation's duty: fill Internal
// (0 or an error code) and InternalHigh, then set hEvent, exactly once.
class CommFile : public KernelObject {
 public:
  virtual BOOL GetCommState(DCB& dcb) = 0;
  virtual BOOL SetCommState(const DCB& dcb) = 0;
  virtual BOOL SetupComm(DWORD inQueue, DWORD outQueue) = 0;
  virtual BOOL GetCommTimeouts(COMMTIMEOUTS& timeouts) = 0;
  virtual BOOL SetCommTimeouts(const COMMTIMEOUTS& timeouts) = 0;
  virtual BOOL GetCommMask(DWORD& mask) = 0;
  virtual BOOL SetCommMask(DWORD mask) = 0;
  virtual BOOL WaitCommEvent(DWORD* mask, OVERLAPPED* overlapped) = 0;
  virtual BOOL ReadFile(void* buffer, DWORD toRead, DWORD* read, OVERLAPPED* overlapped) = 0;
  virtual BOOL WriteFile(const void* buffer, DWORD toWrite, DWORD* written,
                         OVERLAPPED* overlapped) = 0;
  // overlapped == nullptr: every pending operation of `threadId` (0: of every thread).
  virtual BOOL CancelIo(OVERLAPPED* overlapped, DWORD threadId) = 0;
  virtual BOOL ClearCommError(DWORD* errors, COMSTAT* status) = 0;
  virtual BOOL PurgeComm(DWORD flags) = 0;
  virtual BOOL EscapeCommFunction(DWORD function) = 0;
  virtual BOOL GetCommModemStatus(DWORD& status) = 0;
  // The result of an overlapped operation on this file. The default reads the layer's completion
  // protocol; a file whose operations the system completes asks the system.
  virtual BOOL GetOverlappedResult(OVERLAPPED& overlapped, DWORD* transferred, BOOL wait);

  // The name the file was opened by ("COM3"), for the call trace.
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

 private:
  std::string name_;
};

class DeviceWorld {
 public:
  virtual ~DeviceWorld() = default;

  // `path` is what follows "\\.\" or "\\?\". Returns the opened file, or null with `error` set.
  virtual std::shared_ptr<CommFile> OpenComm(std::string_view path, DWORD access, DWORD share,
                                             DWORD creation, DWORD flags, DWORD& error) = 0;

  virtual BOOL ClassGuidsFromName(PCSTR className, GUID* guids, DWORD size, DWORD* required) = 0;
  virtual HDEVINFO GetClassDevs(const GUID* classGuid, PCSTR enumerator, DWORD flags) = 0;
  virtual BOOL EnumDeviceInfo(HDEVINFO list, DWORD index, SP_DEVINFO_DATA* data) = 0;
  virtual BOOL GetDeviceRegistryProperty(HDEVINFO list, SP_DEVINFO_DATA* data, DWORD property,
                                         DWORD* type, BYTE* buffer, DWORD size,
                                         DWORD* required) = 0;
  virtual BOOL DestroyDeviceInfoList(HDEVINFO list) = 0;
  virtual std::vector<DeviceDetail> Describe(HDEVINFO list, SP_DEVINFO_DATA* data) = 0;
  // Settings of a device its page may change; none unless a world has some.
  virtual std::vector<DeviceSetting> Settings(HDEVINFO /*list*/, SP_DEVINFO_DATA* /*data*/) {
    return {};
  }
  virtual BOOL ChangeSetting(HDEVINFO /*list*/, SP_DEVINFO_DATA* /*data*/,
                             const std::string& /*key*/, int /*value*/) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // What this world knows of a port of its last device list beyond its properties.
  virtual PortFacts Facts(std::string_view /*portName*/) { return {}; }
  // True for the world that is the system itself: LoadLibraryA then loads the system's library
  // for a name that no built-in module has.
  virtual bool LoadsSystemLibraries() const { return false; }
};

}  // namespace win
