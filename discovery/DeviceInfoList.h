#pragma once
// TDeviceInfoList: a device-information list of the device-setup service, destroyed with its last
// owner. It is destroyed through the bound setup library, so its owners hold a binding while it
// lives.

#include <cstdint>

#include "platform/Win32.h"

class TDeviceInfoList {
 public:
  explicit TDeviceInfoList(win::HDEVINFO handle);
  ~TDeviceInfoList();
  TDeviceInfoList(const TDeviceInfoList&) = delete;
  TDeviceInfoList& operator=(const TDeviceInfoList&) = delete;

  win::HDEVINFO Handle() const { return FHandle; }

  // How many lists exist right now.
  static std::int32_t LiveCount();

 private:
  win::HDEVINFO FHandle;
};
