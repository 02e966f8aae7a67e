// The device-setup functions, answered by the device world of the process.

#include "platform/devices/DeviceWorldRegistry.h"

namespace win {

BOOL SetupDiClassGuidsFromNameA(PCSTR className, LPGUID guidList, DWORD guidListSize,
                                PDWORD requiredSize) {
  if (className == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return CurrentDeviceWorld()->ClassGuidsFromName(className, guidList, guidListSize, requiredSize);
}

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND, DWORD flags) {
  return CurrentDeviceWorld()->GetClassDevs(classGuid, enumerator, flags);
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO list, DWORD memberIndex, PSP_DEVINFO_DATA data) {
  return CurrentDeviceWorld()->EnumDeviceInfo(list, memberIndex, data);
}

BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO list, PSP_DEVINFO_DATA data, DWORD property,
                                       PDWORD propertyRegDataType, PBYTE propertyBuffer,
                                       DWORD propertyBufferSize, PDWORD requiredSize) {
  return CurrentDeviceWorld()->GetDeviceRegistryProperty(
      list, data, property, propertyRegDataType, propertyBuffer, propertyBufferSize, requiredSize);
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO list) {
  return CurrentDeviceWorld()->DestroyDeviceInfoList(list);
}

std::vector<std::pair<std::string, std::string>> DescribeDevice(HDEVINFO list,
                                                                PSP_DEVINFO_DATA data) {
  return CurrentDeviceWorld()->Describe(list, data);
}

std::vector<DeviceSetting> DeviceSettingsOf(HDEVINFO list, PSP_DEVINFO_DATA data) {
  return CurrentDeviceWorld()->Settings(list, data);
}

BOOL ChangeDeviceSetting(HDEVINFO list, PSP_DEVINFO_DATA data, const std::string& key, int value) {
  return CurrentDeviceWorld()->ChangeSetting(list, data, key, value);
}

}  // namespace win
