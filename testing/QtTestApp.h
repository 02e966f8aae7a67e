// QtAppEnvironment: one QApplication for the whole app test binary, created on first use.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace talvik_test {

// Destroys the application when the test run ends, before main returns, so that Qt releases
// what it holds (fonts, platform) while its own global objects are still alive.
class QtAppEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { App.reset(); }

  std::unique_ptr<QApplication> App;
};

// Returns the process-wide application, creating it on the first call. The test preset sets
// QT_QPA_PLATFORM=offscreen; without it the offscreen platform is chosen here.
inline QApplication& EnsureQtApp() {
  static int argc = 1;
  static char name[] = "talvik_app_tests";
  static char* argv[] = {name, nullptr};
  // GoogleTest owns the environment. A repeated run creates the application anew.
  static QtAppEnvironment* const environment = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
      qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    auto* created = new QtAppEnvironment;
    ::testing::AddGlobalTestEnvironment(created);
    return created;
  }();
  if (!environment->App) {
    environment->App = std::make_unique<QApplication>(argc, argv);
  }
  return *environment->App;
}

}  // namespace talvik_test
