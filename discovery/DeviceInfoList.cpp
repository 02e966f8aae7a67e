#include "discovery/DeviceInfoList.h"

#include <atomic>

#include "discovery/SetupApi.h"

using namespace win;

namespace {
std::atomic<std::int32_t> Live{0};
}

TDeviceInfoList::TDeviceInfoList(HDEVINFO handle) : FHandle(handle) {
  ++Live;
}

TDeviceInfoList::~TDeviceInfoList() {
  SetupApi().SetupDiDestroyDeviceInfoList(FHandle);
  --Live;
}

std::int32_t TDeviceInfoList::LiveCount() {
  return Live;
}
