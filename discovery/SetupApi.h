#pragma once
// TSetupApi and TSetupApiBinding: run-time binding of the device-setup library "SetupApi.dll": a
// counted binding with a table of entry points that is either completely filled or completely
// empty.

#include <cstddef>
#include <cstdint>

#include "platform/Win32.h"

// Takes one binding; true when the library is loaded and every slot of the table is filled.
// A false result takes no binding and leaves the thread's last OS error of the failure.
bool BindSetupApi();
// Gives back one binding; the last one frees the library and empties every slot.
void UnbindSetupApi();

std::int32_t SetupApiBindCount();
bool SetupApiLoaded();
std::size_t SetupApiSlotCount();
win::FARPROC SetupApiSlot(std::size_t index);

// Typed calls through the table. Outside a binding every call fails with ERROR_PROC_NOT_FOUND.
class TSetupApi {
 public:
  win::BOOL SetupDiClassGuidsFromNameA(win::PCSTR className, win::LPGUID guidList,
                                       win::DWORD guidListSize, win::PDWORD requiredSize) const;
  win::HDEVINFO SetupDiGetClassDevsA(const win::GUID* classGuid, win::PCSTR enumerator,
                                     win::HWND parent, win::DWORD flags) const;
  win::BOOL SetupDiEnumDeviceInfo(win::HDEVINFO list, win::DWORD memberIndex,
                                  win::PSP_DEVINFO_DATA data) const;
  win::BOOL SetupDiGetDeviceRegistryPropertyA(win::HDEVINFO list, win::PSP_DEVINFO_DATA data,
                                              win::DWORD property, win::PDWORD propertyRegDataType,
                                              win::PBYTE propertyBuffer,
                                              win::DWORD propertyBufferSize,
                                              win::PDWORD requiredSize) const;
  win::BOOL SetupDiDestroyDeviceInfoList(win::HDEVINFO list) const;
};

const TSetupApi& SetupApi();

// Holds one binding for its lifetime; raises the last-OS-error exception when the bind fails.
class TSetupApiBinding {
 public:
  TSetupApiBinding();
  ~TSetupApiBinding();
  TSetupApiBinding(const TSetupApiBinding&) = delete;
  TSetupApiBinding& operator=(const TSetupApiBinding&) = delete;
};
