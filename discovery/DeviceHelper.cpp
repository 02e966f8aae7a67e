#include "discovery/DeviceHelper.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "discovery/SetupApi.h"
#include "platform/ConvertError.h"

using namespace win;

bool TDeviceHelper::ReadRawProperty(DWORD property, void* buffer, DWORD size) {
  DWORD type = REG_BINARY;
  DWORD required = 0;
  return SetupApi().SetupDiGetDeviceRegistryPropertyA(DeviceList, &DeviceInfoData, property, &type,
                                                      static_cast<PBYTE>(buffer), size,
                                                      &required) != FALSE;
}

DWORD TDeviceHelper::ReadDWordProperty(DWORD property) {
  std::array<BYTE, 4> bytes{};
  DWORD type = REG_DWORD;
  DWORD required = 4;
  if (!SetupApi().SetupDiGetDeviceRegistryPropertyA(DeviceList, &DeviceInfoData, property, &type,
                                                    bytes.data(), bytes.size(), &required)) {
    return 0;
  }
  return static_cast<DWORD>(bytes[0]) | (static_cast<DWORD>(bytes[1]) << 8) |
         (static_cast<DWORD>(bytes[2]) << 16) | (static_cast<DWORD>(bytes[3]) << 24);
}

GUID TDeviceHelper::ReadGuidProperty(DWORD property) {
  GUID guid{};
  const std::string text = ReadStringProperty(property);
  if (!text.empty()) {
    std::wstring wide;
    wide.reserve(text.size());
    for (const char c : text) {
      wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    if (CLSIDFromString(wide.c_str(), &guid) != NOERROR) {
      throw EConvertError("'" + text + "' is not a valid GUID value");
    }
    return guid;
  }
  DWORD type = REG_BINARY;
  DWORD required = 0;
  SetupApi().SetupDiGetDeviceRegistryPropertyA(DeviceList, &DeviceInfoData, property, &type,
                                               nullptr, 0, &required);
  if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    std::array<BYTE, sizeof(GUID)> bytes{};
    const DWORD size = std::min<DWORD>(required, bytes.size());
    if (SetupApi().SetupDiGetDeviceRegistryPropertyA(DeviceList, &DeviceInfoData, property, &type,
                                                     bytes.data(), size, &required)) {
      std::memcpy(&guid, bytes.data(), bytes.size());
    }
  }
  return guid;
}

std::string TDeviceHelper::ReadStringProperty(DWORD property) {
  std::string text;
  DWORD type = REG_SZ;
  DWORD required = 0;
  SetupApi().SetupDiGetDeviceRegistryPropertyA(DeviceList, &DeviceInfoData, property, &type,
                                               nullptr, 0, &required);
  if (type != REG_SZ && type != REG_MULTI_SZ) {
    return text;
  }
  if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    text.resize(required);
    SetupApi().SetupDiGetDeviceRegistryPropertyA(DeviceList, &DeviceInfoData, property, &type,
                                                 reinterpret_cast<PBYTE>(text.data()), required,
                                                 &required);
  }
  if (type == REG_MULTI_SZ) {
    return JoinMultiSz(text);
  }
  if (type == REG_SZ) {
    text.resize(std::min(text.size(), text.find('\0')));
    return text;
  }
  return {};
}

std::string TDeviceHelper::ReadRemovalPolicyText(DWORD property) {
  return RemovalPolicyText(ReadDWordProperty(property));
}

std::string JoinMultiSz(std::string_view bytes) {
  std::string joined;
  bool first = true;
  while (!bytes.empty()) {
    const std::size_t end = std::min(bytes.size(), bytes.find('\0'));
    if (end == 0) {
      break;
    }
    if (!first) {
      joined += ", ";
    }
    joined.append(bytes.substr(0, end));
    first = false;
    bytes.remove_prefix(std::min(bytes.size(), end + 1));
  }
  return joined;
}

std::string RemovalPolicyText(DWORD value) {
  switch (value) {
    case 0:
      return {};
    case 1:
      return "CM_REMOVAL_POLICY_EXPECT_NO_REMOVAL";
    case 2:
      return "CM_REMOVAL_POLICY_EXPECT_ORDERLY_REMOVAL";
    case 3:
      return "CM_REMOVAL_POLICY_EXPECT_SURPRISE_REMOVAL";
    default:
      break;
  }
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string text = "unknown 0x00000000";
  for (std::size_t i = text.size(); value != 0; value >>= 4) {
    text[--i] = Digits[value & 0xF];
  }
  return text;
}
