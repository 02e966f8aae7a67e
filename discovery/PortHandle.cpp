#include "discovery/PortHandle.h"

using namespace win;

TPortHandle::TPortHandle(const std::string& portName)
    : FHandle(win::CreateFileA(("\\\\.\\" + portName).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}

TPortHandle::~TPortHandle() {
  if (Valid()) {
    win::CloseHandle(FHandle);
  }
}

bool TPortHandle::Valid() const {
  return FHandle != INVALID_HANDLE_VALUE;
}
