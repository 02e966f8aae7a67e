// POSIX: Qt's window systems need DISPLAY or WAYLAND_DISPLAY, unless a platform is chosen by
// hand (offscreen, vnc, ...). Programs always write to the terminal they were started from.

#include <cstdlib>

#include "app/ProgramStart.h"

namespace {

bool Named(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

}  // namespace

std::optional<std::string> MissingDisplay() {
  if (Named("QT_QPA_PLATFORM") || Named("DISPLAY") || Named("WAYLAND_DISPLAY")) {
    return std::nullopt;
  }
  return "and neither DISPLAY nor WAYLAND_DISPLAY is set";
}

void UseStartingConsole() {}
