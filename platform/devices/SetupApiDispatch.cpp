// The device-setup functions, answered by the device world of the process, and traced when the
// trace is on.

#include <string>

#include "platform/CallTrace.h"
#include "platform/devices/DeviceWorldRegistry.h"

namespace win {

namespace {

std::string DeviceText(const SP_DEVINFO_DATA* data) {
  return data != nullptr ? "device " + std::to_string(data->DevInst) : "no device";
}

// Runs `call` and traces it under `subject`, which is only worked out when the trace is on.
template <class Subject, class Call>
BOOL Traced(const char* name, Subject subject, Call call) {
  if (!detail::Tracing()) {
    return call();
  }
  ForgetLastErrno();
  return detail::TraceBool(name, subject(), call());
}

}  // namespace

BOOL SetupDiClassGuidsFromNameA(PCSTR className, LPGUID guidList, DWORD guidListSize,
                                PDWORD requiredSize) {
  return Traced(
      "SetupDiClassGuidsFromNameA",
      [&] { return std::string(className != nullptr ? className : "(null)"); },
      [&] {
        if (className == nullptr) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return FALSE;
        }
        return CurrentDeviceWorld()->ClassGuidsFromName(className, guidList, guidListSize,
                                                        requiredSize);
      });
}

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND, DWORD flags) {
  if (!detail::Tracing()) {
    return CurrentDeviceWorld()->GetClassDevs(classGuid, enumerator, flags);
  }
  ForgetLastErrno();
  HDEVINFO list = CurrentDeviceWorld()->GetClassDevs(classGuid, enumerator, flags);
  const bool failed = list == INVALID_HANDLE_VALUE;
  detail::TraceLine("SetupDiGetClassDevsA", "flags " + std::to_string(flags),
                    failed ? "INVALID_HANDLE_VALUE" : detail::HandleText(list), failed);
  return list;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO list, DWORD memberIndex, PSP_DEVINFO_DATA data) {
  return Traced(
      "SetupDiEnumDeviceInfo", [&] { return "index " + std::to_string(memberIndex); },
      [&] { return CurrentDeviceWorld()->EnumDeviceInfo(list, memberIndex, data); });
}

BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO list, PSP_DEVINFO_DATA data, DWORD property,
                                       PDWORD propertyRegDataType, PBYTE propertyBuffer,
                                       DWORD propertyBufferSize, PDWORD requiredSize) {
  return Traced(
      "SetupDiGetDeviceRegistryPropertyA",
      [&] { return DeviceText(data) + ", property " + std::to_string(property); },
      [&] {
        return CurrentDeviceWorld()->GetDeviceRegistryProperty(list, data, property,
                                                               propertyRegDataType, propertyBuffer,
                                                               propertyBufferSize, requiredSize);
      });
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO list) {
  return Traced(
      "SetupDiDestroyDeviceInfoList", [&] { return detail::HandleText(list); },
      [&] { return CurrentDeviceWorld()->DestroyDeviceInfoList(list); });
}

std::vector<DeviceDetail> DescribeDevice(HDEVINFO list, PSP_DEVINFO_DATA data) {
  return CurrentDeviceWorld()->Describe(list, data);
}

std::vector<DeviceSetting> DeviceSettingsOf(HDEVINFO list, PSP_DEVINFO_DATA data) {
  return CurrentDeviceWorld()->Settings(list, data);
}

BOOL ChangeDeviceSetting(HDEVINFO list, PSP_DEVINFO_DATA data, const std::string& key, int value) {
  return Traced(
      "ChangeDeviceSetting", [&] { return DeviceText(data) + ", " + key; },
      [&] { return CurrentDeviceWorld()->ChangeSetting(list, data, key, value); });
}

}  // namespace win
