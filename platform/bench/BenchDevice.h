#pragma once
// BenchDevice: one device of the bench as the world and its open file share it: the description,
// what the port has seen, and the file that has it open. Everything here is guarded by `mutex`; a
// world that takes its own lock takes it before this one.

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/bench/BenchWorld.h"

namespace win::bench {

class BenchPort;

struct BenchDevice {
  std::mutex mutex;
  Device device;
  PortState state;
  DWORD devInst = 0;                      // the device's number in device-information lists
  std::map<std::string, int> callCounts;  // calls by name, for pull-out faults
  std::weak_ptr<BenchPort> port;          // the file that has the port open, if any

  // Records a call on the port. True when the pull-out fault fires at this call.
  bool CountCall(const std::string& name) {
    state.calls.push_back(name);
    const int count = ++callCounts[name];
    const auto& pull = device.faults.pullOutAt;
    return pull && pull->call == name && pull->count == count && device.present;
  }
};

}  // namespace win::bench
