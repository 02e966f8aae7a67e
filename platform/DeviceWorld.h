#pragma once
// What stands behind the device functions of Platform.h: one device world per process.
// Each world (bench, host) is its own class in its own files; CreateDeviceWorld chooses one.

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Platform.h"

namespace win {

// Anything a HANDLE can name. The handle table holds shared ownership; CloseHandle removes the
// entry and calls OnClose once.
class KernelObject {
 public:
  virtual ~KernelObject() = default;
  virtual void OnClose() {}
};

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
};

// The handle table, for world implementations.
HANDLE AllocateHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

// The overlapped protocol shared by every world. OVERLAPPED.Internal holds STATUS_PENDING while
// an operation is under way, then 0 for success or the Win32 error code of its failure; it is
// written last, atomically with release order, after InternalHigh (the count). GetOverlappedResult
// reads it with acquire order.
// StartOverlapped: marks the record pending and resets its event (every overlapped call does this
// first). CompleteOverlapped: fills count and status, then sets the event. Call it exactly once.
void StartOverlapped(OVERLAPPED* overlapped);
void CompleteOverlapped(OVERLAPPED* overlapped, DWORD error, DWORD transferred);
bool OverlappedPending(const OVERLAPPED* overlapped);

// Called (from the ending thread) when any thread ends, after its body has returned, so that a
// world can cancel what that thread left pending. Returns an id for RemoveThreadExitHook.
using ThreadExitHook = std::function<void(DWORD threadId)>;
int AddThreadExitHook(ThreadExitHook hook);
void RemoveThreadExitHook(int id);

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
  virtual std::vector<std::pair<std::string, std::string>> Describe(HDEVINFO list,
                                                                    SP_DEVINFO_DATA* data) = 0;
  // Settings of a device its page may change; none unless a world has some.
  virtual std::vector<DeviceSetting> Settings(HDEVINFO /*list*/, SP_DEVINFO_DATA* /*data*/) {
    return {};
  }
  virtual BOOL ChangeSetting(HDEVINFO /*list*/, SP_DEVINFO_DATA* /*data*/,
                             const std::string& /*key*/, int /*value*/) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The device node behind a port name, where this world has one.
  virtual std::string DeviceNode(std::string_view /*portName*/) { return {}; }
};

enum class DeviceWorldKind { Bench, Host };

// The one factory. A bench world starts empty; a host world watches this machine's ports.
std::shared_ptr<DeviceWorld> CreateDeviceWorld(DeviceWorldKind kind);

// Chooses the world of the process. Replacing it is for tests and front ends that start up;
// handles opened in the previous world keep working against it.
void InstallDeviceWorld(std::shared_ptr<DeviceWorld> world);
// The installed world; an empty bench world if none was installed.
std::shared_ptr<DeviceWorld> CurrentDeviceWorld();

}  // namespace win
