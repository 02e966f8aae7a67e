// talvik-scan: the Talvik scan for scripts and machines without a display.

#include <QApplication>
#include <iostream>
#include <string>
#include <vector>

#include "cli/ConsoleProgram.h"
#include "cli/ScanCommand.h"

namespace {

// Qt's own notes (missing runtime directories, fonts) are not part of the report.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) {
    std::cerr << message.toStdString() << '\n';
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  SetUpConsoleProgram();
  qInstallMessageHandler(QuietQtMessages);
  const std::vector<std::string> args(argv + 1, argv + argc);
  QApplication qt(argc, argv);
  return RunScanCommand(args, std::cout, std::cerr);
}
