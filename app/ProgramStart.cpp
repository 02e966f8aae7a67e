#include "app/ProgramStart.h"

#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* StartingProgram = "";
QtMessageHandler PreviousHandler = nullptr;
// Qt's notes while it starts, held back: when it cannot start, the first says why.
struct THeldMessage {
  QtMsgType type;
  std::string category;
  QString text;
};
std::vector<THeldMessage> HeldMessages;

[[noreturn]] void NoDisplay(const std::string& why) {
  std::fprintf(stderr,
               "%s: needs a graphical display, %s; talvik-scan prints the same scan "
               "without one\n",
               StartingProgram, why.c_str());
  std::fflush(stderr);
  std::_Exit(1);
}

// Qt ends the program when its platform plugin cannot start.
void StartMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg) {
    const QString& why = HeldMessages.empty() ? message : HeldMessages.front().text;
    NoDisplay("and the window system could not be reached (" +
              why.section(QLatin1Char('\n'), 0, 0).toStdString() + ")");
  }
  HeldMessages.push_back({type, context.category != nullptr ? context.category : "", message});
}

}  // namespace

std::optional<int> AnswerInfoOption(int argc, char** argv, const char* program, const char* usage) {
  for (int i = 1; i < argc; ++i) {
    const bool help = std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0;
    if (help || std::strcmp(argv[i], "--version") == 0) {
      UseStartingConsole();
    }
    if (help) {
      std::fputs(usage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("%s %s\n", program, TALVIK_VERSION);
      return 0;
    }
  }
  return std::nullopt;
}

TDisplayStart::TDisplayStart(const char* program) {
  StartingProgram = program;
  if (const std::optional<std::string> missing = MissingDisplay()) {
    NoDisplay(*missing);
  }
  PreviousHandler = qInstallMessageHandler(&StartMessages);
}

TDisplayStart::~TDisplayStart() {
  qInstallMessageHandler(PreviousHandler);
  PreviousHandler = nullptr;
  for (const THeldMessage& held : HeldMessages) {
    const QMessageLogContext context(nullptr, 0, nullptr, held.category.c_str());
    qt_message_output(held.type, context, held.text);
  }
  HeldMessages.clear();
}
