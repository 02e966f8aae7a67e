#pragma once
// TPortList: the ports of the current scan in discovery order: (port name, record) pairs. The list
// owns its records, is not sorted and accepts duplicate keys.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "discovery/ExistingSerialPorts.h"

class TPortList {
 public:
  void Add(const std::string& key, std::unique_ptr<TAPort> port);
  void Clear();
  int Count() const { return static_cast<int>(Entries_.size()); }
  const std::string& Key(int index) const { return Entries_.at(index).first; }
  TAPort& Object(int index) const { return *Entries_.at(index).second; }
  // The first entry whose key equals `key` without regard to letter case, or -1.
  int IndexOf(const std::string& key) const;

 private:
  std::vector<std::pair<std::string, std::unique_ptr<TAPort>>> Entries_;
};
