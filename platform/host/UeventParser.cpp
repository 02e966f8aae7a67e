#include "platform/host/UeventParser.h"

namespace win::host {

std::optional<Uevent> ParseUevent(std::string_view datagram) {
  const auto headerEnd = datagram.find('\0');
  const std::string_view header = datagram.substr(0, headerEnd);
  const auto at = header.find('@');
  if (at == std::string_view::npos || at == 0 || at + 1 == header.size()) {
    return std::nullopt;
  }
  Uevent event;
  event.action = header.substr(0, at);
  event.devpath = header.substr(at + 1);
  std::string_view rest =
      headerEnd == std::string_view::npos ? std::string_view{} : datagram.substr(headerEnd + 1);
  while (!rest.empty()) {
    const auto end = rest.find('\0');
    const std::string_view field = rest.substr(0, end);
    const auto eq = field.find('=');
    if (eq != std::string_view::npos && eq > 0) {
      event.values.insert_or_assign(std::string(field.substr(0, eq)),
                                    std::string(field.substr(eq + 1)));
    }
    if (end == std::string_view::npos) {
      break;
    }
    rest.remove_prefix(end + 1);
  }
  // The fields win over the header: they are what the kernel means.
  if (const auto it = event.values.find("ACTION"); it != event.values.end()) {
    event.action = it->second;
  }
  if (const auto it = event.values.find("DEVPATH"); it != event.values.end()) {
    event.devpath = it->second;
  }
  if (const auto it = event.values.find("SUBSYSTEM"); it != event.values.end()) {
    event.subsystem = it->second;
  }
  if (const auto it = event.values.find("DEVNAME"); it != event.values.end()) {
    event.devname = it->second;
    if (event.devname.starts_with("/dev/")) {
      event.devname.erase(0, 5);
    }
  }
  return event;
}

}  // namespace win::host
