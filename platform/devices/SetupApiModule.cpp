#include "platform/devices/SetupApiModule.h"

#include "platform/Additions.h"

namespace win::detail {

namespace {

using PCWSTR = const wchar_t*;
using PWSTR = wchar_t*;
using PSTR = char*;

template <class Result>
Result NotImplemented(Result failure) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return failure;
}

BOOL GetInfInformationA(LPCVOID, DWORD, PVOID, DWORD, PDWORD) {
  return NotImplemented(FALSE);
}
BOOL GetInfInformationW(LPCVOID, DWORD, PVOID, DWORD, PDWORD) {
  return NotImplemented(FALSE);
}
HANDLE OpenInfFileA(PCSTR, PCSTR, DWORD, UINT*) {
  return NotImplemented(INVALID_HANDLE_VALUE);
}
HANDLE OpenInfFileW(PCWSTR, PCWSTR, DWORD, UINT*) {
  return NotImplemented(INVALID_HANDLE_VALUE);
}
void CloseInfFile(HANDLE) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
}
BOOL ClassGuidsFromNameW(PCWSTR, LPGUID, DWORD, PDWORD) {
  return NotImplemented(FALSE);
}
HDEVINFO GetClassDevsW(const GUID*, PCWSTR, HWND, DWORD) {
  return NotImplemented(INVALID_HANDLE_VALUE);
}
BOOL GetDeviceRegistryPropertyW(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD) {
  return NotImplemented(FALSE);
}
BOOL ClassNameFromGuidA(const GUID*, PSTR, DWORD, PDWORD) {
  return NotImplemented(FALSE);
}
BOOL ClassNameFromGuidW(const GUID*, PWSTR, DWORD, PDWORD) {
  return NotImplemented(FALSE);
}
BOOL GetClassDescriptionA(const GUID*, PSTR, DWORD, PDWORD) {
  return NotImplemented(FALSE);
}
BOOL GetClassDescriptionW(const GUID*, PWSTR, DWORD, PDWORD) {
  return NotImplemented(FALSE);
}
BOOL GetDeviceInstanceIdA(HDEVINFO, PSP_DEVINFO_DATA, PSTR, DWORD, PDWORD) {
  return NotImplemented(FALSE);
}
BOOL GetDeviceInstanceIdW(HDEVINFO, PSP_DEVINFO_DATA, PWSTR, DWORD, PDWORD) {
  return NotImplemented(FALSE);
}
HANDLE OpenDevRegKey(HDEVINFO, PSP_DEVINFO_DATA, DWORD, DWORD, DWORD, DWORD) {
  return NotImplemented(INVALID_HANDLE_VALUE);
}
HDEVINFO CreateDeviceInfoList(const GUID*, HWND) {
  return NotImplemented(INVALID_HANDLE_VALUE);
}
BOOL EnumDeviceInterfaces(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PVOID) {
  return NotImplemented(FALSE);
}
BOOL GetDeviceInterfaceDetailA(HDEVINFO, PVOID, PVOID, DWORD, PDWORD, PSP_DEVINFO_DATA) {
  return NotImplemented(FALSE);
}
BOOL GetDeviceInterfaceDetailW(HDEVINFO, PVOID, PVOID, DWORD, PDWORD, PSP_DEVINFO_DATA) {
  return NotImplemented(FALSE);
}

}  // namespace

BuiltinModule SetupApiModule() {
  return BuiltinModule{
      "SetupApi.dll",
      {
          {"SetupDiClassGuidsFromNameA", ToFarProc(&SetupDiClassGuidsFromNameA)},
          {"SetupDiGetClassDevsA", ToFarProc(&SetupDiGetClassDevsA)},
          {"SetupDiEnumDeviceInfo", ToFarProc(&SetupDiEnumDeviceInfo)},
          {"SetupDiGetDeviceRegistryPropertyA", ToFarProc(&SetupDiGetDeviceRegistryPropertyA)},
          {"SetupDiDestroyDeviceInfoList", ToFarProc(&SetupDiDestroyDeviceInfoList)},
          {"SetupGetInfInformationA", ToFarProc(&GetInfInformationA)},
          {"SetupGetInfInformationW", ToFarProc(&GetInfInformationW)},
          {"SetupOpenInfFileA", ToFarProc(&OpenInfFileA)},
          {"SetupOpenInfFileW", ToFarProc(&OpenInfFileW)},
          {"SetupCloseInfFile", ToFarProc(&CloseInfFile)},
          {"SetupDiClassGuidsFromNameW", ToFarProc(&ClassGuidsFromNameW)},
          {"SetupDiGetClassDevsW", ToFarProc(&GetClassDevsW)},
          {"SetupDiGetDeviceRegistryPropertyW", ToFarProc(&GetDeviceRegistryPropertyW)},
          {"SetupDiClassNameFromGuidA", ToFarProc(&ClassNameFromGuidA)},
          {"SetupDiClassNameFromGuidW", ToFarProc(&ClassNameFromGuidW)},
          {"SetupDiGetClassDescriptionA", ToFarProc(&GetClassDescriptionA)},
          {"SetupDiGetClassDescriptionW", ToFarProc(&GetClassDescriptionW)},
          {"SetupDiGetDeviceInstanceIdA", ToFarProc(&GetDeviceInstanceIdA)},
          {"SetupDiGetDeviceInstanceIdW", ToFarProc(&GetDeviceInstanceIdW)},
          {"SetupDiOpenDevRegKey", ToFarProc(&OpenDevRegKey)},
          {"SetupDiCreateDeviceInfoList", ToFarProc(&CreateDeviceInfoList)},
          {"SetupDiEnumDeviceInterfaces", ToFarProc(&EnumDeviceInterfaces)},
          {"SetupDiGetDeviceInterfaceDetailA", ToFarProc(&GetDeviceInterfaceDetailA)},
          {"SetupDiGetDeviceInterfaceDetailW", ToFarProc(&GetDeviceInterfaceDetailW)},
      },
      0};
}

}  // namespace win::detail
