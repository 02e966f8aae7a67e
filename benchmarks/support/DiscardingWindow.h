#pragma once
// DiscardingWindow: a message target for the discovery benchmarks that takes every port record
// it is sent, answers that it took it, and frees it.

#include <cstdint>
#include <memory>

#include "discovery/ExistingSerialPorts.h"
#include "discovery/ScanMessages.h"
#include "platform/Additions.h"

class DiscardingWindow : public win::MessageTarget {
 public:
  win::LRESULT WindowProc(win::UINT message, win::WPARAM, win::LPARAM lParam) override {
    if (message == WM_PORT_FOUND) {
      const std::unique_ptr<TAPort> record(reinterpret_cast<TAPort*>(lParam));
      ++found;
      return 1;  // taken: the sender lets go of it
    }
    return 0;
  }
  void PostToQueue(win::UINT, win::WPARAM, win::LPARAM) override {}
  std::int64_t found = 0;
};
