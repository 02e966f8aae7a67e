#include "discovery/SetupApi.h"

#include <array>
#include <string_view>

#include "discovery/ModuleLoader.h"
#include "discovery/OSError.h"
#include "platform/Additions.h"

using namespace win;

namespace {

struct TSlotName {
  const char* Name;    // the name the slot stands for
  const char* Export;  // the export it is bound to
};

// General installation functions first, then the device-installation functions. A function with
// ANSI and wide forms takes three slots: A, W, and the neutral name bound to the A export. The
// device-interface functions add one slot per form for their older alias.
constexpr std::array<TSlotName, 37> SlotNames{{
    {"SetupGetInfInformationA", "SetupGetInfInformationA"},
    {"SetupGetInfInformationW", "SetupGetInfInformationW"},
    {"SetupGetInfInformation", "SetupGetInfInformationA"},
    {"SetupOpenInfFileA", "SetupOpenInfFileA"},
    {"SetupOpenInfFileW", "SetupOpenInfFileW"},
    {"SetupOpenInfFile", "SetupOpenInfFileA"},
    {"SetupCloseInfFile", "SetupCloseInfFile"},
    {"SetupDiClassGuidsFromNameA", "SetupDiClassGuidsFromNameA"},
    {"SetupDiClassGuidsFromNameW", "SetupDiClassGuidsFromNameW"},
    {"SetupDiClassGuidsFromName", "SetupDiClassGuidsFromNameA"},
    {"SetupDiGetClassDevsA", "SetupDiGetClassDevsA"},
    {"SetupDiGetClassDevsW", "SetupDiGetClassDevsW"},
    {"SetupDiGetClassDevs", "SetupDiGetClassDevsA"},
    {"SetupDiEnumDeviceInfo", "SetupDiEnumDeviceInfo"},
    {"SetupDiGetDeviceRegistryPropertyA", "SetupDiGetDeviceRegistryPropertyA"},
    {"SetupDiGetDeviceRegistryPropertyW", "SetupDiGetDeviceRegistryPropertyW"},
    {"SetupDiGetDeviceRegistryProperty", "SetupDiGetDeviceRegistryPropertyA"},
    {"SetupDiDestroyDeviceInfoList", "SetupDiDestroyDeviceInfoList"},
    {"SetupDiClassNameFromGuidA", "SetupDiClassNameFromGuidA"},
    {"SetupDiClassNameFromGuidW", "SetupDiClassNameFromGuidW"},
    {"SetupDiClassNameFromGuid", "SetupDiClassNameFromGuidA"},
    {"SetupDiGetClassDescriptionA", "SetupDiGetClassDescriptionA"},
    {"SetupDiGetClassDescriptionW", "SetupDiGetClassDescriptionW"},
    {"SetupDiGetClassDescription", "SetupDiGetClassDescriptionA"},
    {"SetupDiGetDeviceInstanceIdA", "SetupDiGetDeviceInstanceIdA"},
    {"SetupDiGetDeviceInstanceIdW", "SetupDiGetDeviceInstanceIdW"},
    {"SetupDiGetDeviceInstanceId", "SetupDiGetDeviceInstanceIdA"},
    {"SetupDiOpenDevRegKey", "SetupDiOpenDevRegKey"},
    {"SetupDiCreateDeviceInfoList", "SetupDiCreateDeviceInfoList"},
    {"SetupDiEnumDeviceInterfaces", "SetupDiEnumDeviceInterfaces"},
    {"SetupDiEnumInterfaceDevice", "SetupDiEnumDeviceInterfaces"},
    {"SetupDiGetDeviceInterfaceDetailA", "SetupDiGetDeviceInterfaceDetailA"},
    {"SetupDiGetDeviceInterfaceDetailW", "SetupDiGetDeviceInterfaceDetailW"},
    {"SetupDiGetDeviceInterfaceDetail", "SetupDiGetDeviceInterfaceDetailA"},
    {"SetupDiGetInterfaceDeviceDetailA", "SetupDiGetDeviceInterfaceDetailA"},
    {"SetupDiGetInterfaceDeviceDetailW", "SetupDiGetDeviceInterfaceDetailW"},
    {"SetupDiGetInterfaceDeviceDetail", "SetupDiGetDeviceInterfaceDetailA"},
}};

// Slots of the entry points this system calls.
enum TSlot : std::size_t {
  slClassGuidsFromNameA = 7,
  slGetClassDevsA = 10,
  slEnumDeviceInfo = 13,
  slGetDeviceRegistryPropertyA = 14,
  slDestroyDeviceInfoList = 17,
};

constexpr bool SlotIs(TSlot slot, std::string_view name) {
  return SlotNames[slot].Name == name;
}
static_assert(SlotIs(slClassGuidsFromNameA, "SetupDiClassGuidsFromNameA"));
static_assert(SlotIs(slGetClassDevsA, "SetupDiGetClassDevsA"));
static_assert(SlotIs(slEnumDeviceInfo, "SetupDiEnumDeviceInfo"));
static_assert(SlotIs(slGetDeviceRegistryPropertyA, "SetupDiGetDeviceRegistryPropertyA"));
static_assert(SlotIs(slDestroyDeviceInfoList, "SetupDiDestroyDeviceInfoList"));

HMODULE LibraryHandle = nullptr;
std::int32_t BindCount = 0;
std::array<FARPROC, SlotNames.size()> Slots{};

template <class Function>
Function Entry(TSlot slot) {
  return ProcCast<Function>(Slots[slot]);
}

}  // namespace

bool BindSetupApi() {
  ++BindCount;
  if (BindCount > 1) {
    return true;
  }
  bool allFound = OpenModule(LibraryHandle, "SetupApi.dll");
  if (!allFound) {
    --BindCount;
    return false;
  }
  for (std::size_t i = 0; i < SlotNames.size(); ++i) {
    Slots[i] = FindModuleSymbol(LibraryHandle, SlotNames[i].Export, allFound);
  }
  if (!allFound) {
    const DWORD error = GetLastError();
    UnbindSetupApi();
    SetLastError(error);
    return false;
  }
  return true;
}

void UnbindSetupApi() {
  --BindCount;
  if (BindCount <= 0) {
    BindCount = 0;
    CloseModule(LibraryHandle);
    Slots.fill(nullptr);
  }
}

std::int32_t SetupApiBindCount() {
  return BindCount;
}

bool SetupApiLoaded() {
  return LibraryHandle != nullptr;
}

std::size_t SetupApiSlotCount() {
  return Slots.size();
}

FARPROC SetupApiSlot(std::size_t index) {
  return index < Slots.size() ? Slots[index] : nullptr;
}

BOOL TSetupApi::SetupDiClassGuidsFromNameA(PCSTR className, LPGUID guidList, DWORD guidListSize,
                                           PDWORD requiredSize) const {
  using Function = BOOL (*)(PCSTR, LPGUID, DWORD, PDWORD);
  const auto call = Entry<Function>(slClassGuidsFromNameA);
  if (call == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return call(className, guidList, guidListSize, requiredSize);
}

HDEVINFO TSetupApi::SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                         DWORD flags) const {
  using Function = HDEVINFO (*)(const GUID*, PCSTR, HWND, DWORD);
  const auto call = Entry<Function>(slGetClassDevsA);
  if (call == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return call(classGuid, enumerator, parent, flags);
}

BOOL TSetupApi::SetupDiEnumDeviceInfo(HDEVINFO list, DWORD memberIndex,
                                      PSP_DEVINFO_DATA data) const {
  using Function = BOOL (*)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
  const auto call = Entry<Function>(slEnumDeviceInfo);
  if (call == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return call(list, memberIndex, data);
}

BOOL TSetupApi::SetupDiGetDeviceRegistryPropertyA(HDEVINFO list, PSP_DEVINFO_DATA data,
                                                  DWORD property, PDWORD propertyRegDataType,
                                                  PBYTE propertyBuffer, DWORD propertyBufferSize,
                                                  PDWORD requiredSize) const {
  using Function = BOOL (*)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD);
  const auto call = Entry<Function>(slGetDeviceRegistryPropertyA);
  if (call == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return call(list, data, property, propertyRegDataType, propertyBuffer, propertyBufferSize,
              requiredSize);
}

BOOL TSetupApi::SetupDiDestroyDeviceInfoList(HDEVINFO list) const {
  using Function = BOOL (*)(HDEVINFO);
  const auto call = Entry<Function>(slDestroyDeviceInfoList);
  if (call == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return call(list);
}

const TSetupApi& SetupApi() {
  static const TSetupApi api;
  return api;
}

TSetupApiBinding::TSetupApiBinding() {
  if (!BindSetupApi()) {
    RaiseLastOSError();
  }
}

TSetupApiBinding::~TSetupApiBinding() {
  UnbindSetupApi();
}
