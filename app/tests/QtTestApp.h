// One QApplication for the whole app test binary, created on first use.
#pragma once

#include <QApplication>

namespace talvik_test {

// Returns the process-wide application, creating it on the first call. The test preset sets
// QT_QPA_PLATFORM=offscreen; without it the offscreen platform is chosen here. The object is
// never destroyed: tearing it down after main returns would race Qt's own global objects.
inline QApplication& EnsureQtApp() {
  static int argc = 1;
  static char name[] = "talvik_app_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
      qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    return new QApplication(argc, argv);
  }();
  return *app;
}

}  // namespace talvik_test
