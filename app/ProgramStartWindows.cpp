// Windows: a desktop is always there, and the window programs have no console of their own.

#include "app/ProgramStart.h"
#include "app/windows/WindowsGlue.h"

std::optional<std::string> MissingDisplay() {
  return std::nullopt;
}

void UseStartingConsole() {
  glue::WriteToParentConsole();
}
