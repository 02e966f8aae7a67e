#include "platform/windows/WindowsWorld.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/SystemHandles.h"
#include "platform/windows/Utf8.h"
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

// A serial port is a device with the communications properties of one. Its file type is no
// sign: vendor and virtual drivers may call their device anything.
bool IsSerialPort(HANDLE file) {
  COMMPROP properties{};
  return ::GetCommProperties(file, &properties) != FALSE;
}

bool IsText(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A property value as the A entry point gives it: texts in the program's encoding (UTF-8), a
// text ended by one NUL, a multi-text by two; other values as they are.
std::string AnsiStyle(DWORD type, const std::vector<BYTE>& value) {
  if (!IsText(type)) {
    return std::string(value.begin(), value.end());
  }
  std::wstring wide(value.size() / sizeof(wchar_t), L'\0');
  std::memcpy(wide.data(), value.data(), wide.size() * sizeof(wchar_t));
  while (!wide.empty() && wide.back() == L'\0') {
    wide.pop_back();
  }
  std::string text = windows::Utf8FromWide(wide);
  text.push_back('\0');
  if (type == REG_MULTI_SZ) {
    text.push_back('\0');
  }
  return text;
}

template <class Function>
void Bind(HMODULE library, const char* name, Function& function, DWORD& error) {
  function = ProcCast<Function>(::GetProcAddress(library, name));
  if (function == nullptr && error == ERROR_SUCCESS) {
    error = ::GetLastError();
  }
}

}  // namespace

WindowsWorld::WindowsWorld() : library_(detail::LoadSystemLibrary("SetupApi.dll")) {
  if (library_ == nullptr) {
    bindError_ = ::GetLastError();
    return;
  }
  Bind(library_, "SetupDiClassGuidsFromNameW", api_.classGuidsFromName, bindError_);
  Bind(library_, "SetupDiGetClassDevsW", api_.getClassDevs, bindError_);
  Bind(library_, "SetupDiEnumDeviceInfo", api_.enumDeviceInfo, bindError_);
  Bind(library_, "SetupDiGetDeviceRegistryPropertyW", api_.getDeviceRegistryProperty, bindError_);
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
  // Always overlapped in the system, so that the close can cancel a blocking call.
  const std::wstring device = L"\\\\.\\" + windows::WideFromUtf8(path);
  HANDLE file = ::CreateFileW(device.c_str(), access, share, nullptr, creation,
                              flags | FILE_FLAG_OVERLAPPED, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = ::GetLastError();
    return nullptr;
  }
  if (!IsSerialPort(file)) {
    ::CloseHandle(file);
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  return std::make_shared<WindowsCommFile>(file, (flags & FILE_FLAG_OVERLAPPED) != 0);
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
  if (!Bound()) {
    return FALSE;
  }
  if (className == nullptr) {
    return api_.classGuidsFromName(nullptr, guids, size, required);
  }
  return api_.classGuidsFromName(windows::WideFromUtf8(className).c_str(), guids, size, required);
}

HDEVINFO WindowsWorld::GetClassDevs(const GUID* classGuid, PCSTR enumerator, DWORD flags) {
  if (!Bound()) {
    return INVALID_HANDLE_VALUE;
  }
  const std::wstring wideEnumerator =
      enumerator != nullptr ? windows::WideFromUtf8(enumerator) : std::wstring();
  HDEVINFO list = api_.getClassDevs(
      classGuid, enumerator != nullptr ? wideEnumerator.c_str() : nullptr, nullptr, flags);
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
  // The value in UTF-16 from the system: its size first, then the value, again if it grew.
  DWORD valueType = 0;
  DWORD valueSize = 0;
  std::vector<BYTE> value;
  while (!api_.getDeviceRegistryProperty(list, data, property, &valueType, value.data(),
                                         static_cast<DWORD>(value.size()), &valueSize)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER || valueSize <= value.size()) {
      // A missing property, or no size named (Wine, for some properties): as the system said.
      if (error == ERROR_INSUFFICIENT_BUFFER) {
        if (type != nullptr) {
          *type = valueType;
        }
        if (required != nullptr) {
          *required = 0;
        }
      }
      return FALSE;
    }
    value.resize(valueSize);
  }
  value.resize(valueSize);
  const std::string answer = AnsiStyle(valueType, value);
  const auto answerSize = static_cast<DWORD>(answer.size());
  if (type != nullptr) {
    *type = valueType;
  }
  if (required != nullptr) {
    *required = answerSize;
  }
  if (buffer == nullptr || size < answerSize) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, answer.data(), answer.size());
  return TRUE;
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

std::vector<DeviceDetail> WindowsWorld::Describe(HDEVINFO, SP_DEVINFO_DATA*) {
  return {};
}

}  // namespace win::windows
