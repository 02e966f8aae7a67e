#pragma once
// TDeviceHelper: reads the registry properties of one device of a device-information list through
// the bound device-setup library. Unreadable properties read as empty text, 0 or a zero GUID.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Win32.h"

class TDeviceHelper {
 public:
  TDeviceHelper() = default;
  virtual ~TDeviceHelper() = default;

  win::SP_DEVINFO_DATA DeviceInfoData{};  // the device to read; copied in by the caller
  win::HDEVINFO DeviceList = nullptr;     // the list the device belongs to; not owned

  // Reads the property into `buffer` as it is stored; false when it could not be read whole.
  virtual bool ReadRawProperty(win::DWORD property, void* buffer, win::DWORD size);
  // A property of at most four bytes, least significant byte first; 0 when unreadable.
  virtual win::DWORD ReadDWordProperty(win::DWORD property);
  // A GUID stored as braced text or as bytes; raises EConvertError for text that is no GUID.
  virtual win::GUID ReadGuidProperty(win::DWORD property);
  // A text or a multi-string (joined with ", "); empty for anything else.
  virtual std::string ReadStringProperty(win::DWORD property);
  // The removal policy named by ReadDWordProperty of `property`.
  virtual std::string ReadRemovalPolicyText(win::DWORD property);
};

// The strings of a multi-string joined with ", ", up to its empty string or its end.
std::string JoinMultiSz(std::string_view bytes);

// The name of a device removal policy value; "unknown 0x" and eight hex digits for others.
std::string RemovalPolicyText(win::DWORD value);
