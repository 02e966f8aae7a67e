// POSIX: Qt's offscreen platform; terminals take the bytes as they are.

#include <QByteArray>
#include <QtGlobal>

#include "cli/ConsoleProgram.h"

void SetUpConsoleProgram() {
  qputenv("QT_QPA_PLATFORM", "offscreen");
}
