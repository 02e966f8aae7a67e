#pragma once
// Uevent and ParseUevent: kernel uevents as they arrive on a NETLINK_KOBJECT_UEVENT socket: a
// header "action@devpath" followed by NUL-separated KEY=value pairs.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace win::host {

struct Uevent {
  std::string action;     // "add", "remove", "change", "bind", ...
  std::string devpath;    // below /sys, e.g. "/devices/.../tty/ttyUSB0"
  std::string subsystem;  // "tty", "usb", ...
  std::string devname;    // the node below /dev, e.g. "ttyUSB0"; empty when none
  std::map<std::string, std::string, std::less<>> values;
};

// Parses one kernel datagram. Messages of the udev daemon ("libudev" header) and malformed ones
// give nothing.
std::optional<Uevent> ParseUevent(std::string_view datagram);

}  // namespace win::host
