// Windows: Qt's minimal platform (the Windows Qt is built without the offscreen one), and the
// console's output code page UTF-8 while the program runs.

#include <QByteArray>
#include <QtGlobal>

#include "app/windows/WindowsGlue.h"
#include "cli/ConsoleProgram.h"

void SetUpConsoleProgram() {
  qputenv("QT_QPA_PLATFORM", "minimal");
  static const glue::Utf8Console console;
}
