#pragma once
// TPortHandle: an exclusively opened serial port, closed when the object goes.

#include <string>

#include "platform/Win32.h"

class TPortHandle {
 public:
  // Opens "\\.\" + portName for exclusive reading and writing; Valid() tells whether it worked.
  explicit TPortHandle(const std::string& portName);
  ~TPortHandle();
  TPortHandle(const TPortHandle&) = delete;
  TPortHandle& operator=(const TPortHandle&) = delete;

  bool Valid() const;
  win::HANDLE Handle() const { return FHandle; }

 private:
  win::HANDLE FHandle;
};
