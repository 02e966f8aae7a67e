#include "platform/windows/WindowsWorld.h"

#include <algorithm>
#include <string>

#include "platform/windows/WindowsCommFile.h"

namespace win::windows {

namespace {

// A device name of the "\\.\" namespace, such as COM3 or CNCA0: letters, digits, '_' and '-'.
// Separators, drive colons and dots would name drives, volumes or files instead.
bool PlainDeviceName(std::string_view name) {
  constexpr std::size_t kLongestName = 64;
  return !name.empty() && name.size() <= kLongestName &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '-';
         });
}

// A serial port is a character device with the communications properties of one.
bool IsSerialPort(HANDLE file) {
  COMMPROP properties{};
  return ::GetFileType(file) == FILE_TYPE_CHAR && ::GetCommProperties(file, &properties) != FALSE;
}

template <class Function>
void Bind(HMODULE library, const char* name, Function& function, DWORD& error) {
  function = ProcCast<Function>(::GetProcAddress(library, name));
  if (function == nullptr && error == ERROR_SUCCESS) {
    error = ::GetLastError();
  }
}

}  // namespace

WindowsWorld::WindowsWorld() : library_(::LoadLibraryA("SetupApi.dll")) {
  if (library_ == nullptr) {
    bindError_ = ::GetLastError();
    return;
  }
  Bind(library_, "SetupDiClassGuidsFromNameA", api_.classGuidsFromName, bindError_);
  Bind(library_, "SetupDiGetClassDevsA", api_.getClassDevs, bindError_);
  Bind(library_, "SetupDiEnumDeviceInfo", api_.enumDeviceInfo, bindError_);
  Bind(library_, "SetupDiGetDeviceRegistryPropertyA", api_.getDeviceRegistryProperty, bindError_);
  Bind(library_, "SetupDiDestroyDeviceInfoList", api_.destroyDeviceInfoList, bindError_);
}

WindowsWorld::~WindowsWorld() {
  // Lists the callers left behind go with the world, before the library that made them.
  if (api_.destroyDeviceInfoList != nullptr) {
    for (HDEVINFO list : lists_) {
      api_.destroyDeviceInfoList(list);
    }
  }
  if (library_ != nullptr) {
    ::FreeLibrary(library_);
  }
}

std::shared_ptr<CommFile> WindowsWorld::OpenComm(std::string_view path, DWORD access, DWORD share,
                                                 DWORD creation, DWORD flags, DWORD& error) {
  if (!PlainDeviceName(path)) {
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  const std::string device = "\\\\.\\" + std::string(path);
  HANDLE file = ::CreateFileA(device.c_str(), access, share, nullptr, creation, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = ::GetLastError();
    return nullptr;
  }
  if (!IsSerialPort(file)) {
    ::CloseHandle(file);
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  return std::make_shared<WindowsCommFile>(file);
}

bool WindowsWorld::Bound() const {
  if (bindError_ != ERROR_SUCCESS) {
    ::SetLastError(bindError_);
    return false;
  }
  return true;
}

bool WindowsWorld::Knows(HDEVINFO list) {
  std::lock_guard lock(mutex_);
  if (!lists_.contains(list)) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}

BOOL WindowsWorld::ClassGuidsFromName(PCSTR className, GUID* guids, DWORD size, DWORD* required) {
  return Bound() ? api_.classGuidsFromName(className, guids, size, required) : FALSE;
}

HDEVINFO WindowsWorld::GetClassDevs(const GUID* classGuid, PCSTR enumerator, DWORD flags) {
  if (!Bound()) {
    return INVALID_HANDLE_VALUE;
  }
  HDEVINFO list = api_.getClassDevs(classGuid, enumerator, nullptr, flags);
  if (list != INVALID_HANDLE_VALUE) {
    std::lock_guard lock(mutex_);
    lists_.insert(list);
  }
  return list;
}

BOOL WindowsWorld::EnumDeviceInfo(HDEVINFO list, DWORD index, SP_DEVINFO_DATA* data) {
  return Bound() && Knows(list) ? api_.enumDeviceInfo(list, index, data) : FALSE;
}

BOOL WindowsWorld::GetDeviceRegistryProperty(HDEVINFO list, SP_DEVINFO_DATA* data, DWORD property,
                                             DWORD* type, BYTE* buffer, DWORD size,
                                             DWORD* required) {
  if (!Bound() || !Knows(list)) {
    return FALSE;
  }
  return api_.getDeviceRegistryProperty(list, data, property, type, buffer, size, required);
}

BOOL WindowsWorld::DestroyDeviceInfoList(HDEVINFO list) {
  if (!Bound()) {
    return FALSE;
  }
  {
    // Taken out first, so that no other thread can use or destroy the list meanwhile.
    std::lock_guard lock(mutex_);
    if (lists_.erase(list) == 0) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  return api_.destroyDeviceInfoList(list);
}

std::vector<std::pair<std::string, std::string>> WindowsWorld::Describe(HDEVINFO,
                                                                        SP_DEVINFO_DATA*) {
  return {};
}

}  // namespace win::windows
