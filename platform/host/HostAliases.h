#pragma once
// HostAliases: COM numbers for ports that have no fixed one: derived from a stable key of the port
// (its USB serial number, or its place on the USB bus) so that they do not depend on plug order, in
// the range COM100 to COM999, remembered for the life of the object.

#include <map>
#include <set>
#include <string>

namespace win::host {

class HostAliases {
 public:
  static constexpr int kFirst = 100;
  static constexpr int kLast = 999;

  // The number of this key: the one it had before, else its hashed slot, else the next free one.
  int NumberFor(const std::string& key);

 private:
  std::map<std::string, int> byKey_;
  std::set<int> taken_;
};

}  // namespace win::host
