#pragma once
// TApplication: the application object: title, the one message-box seam, the default error report,
// the main-thread call's wake-up and drain, and the one-message pump used between ports.

#include <QObject>
#include <exception>
#include <string>
#include <utility>

#include "platform/Additions.h"

class TApplication : public QObject {
  Q_OBJECT

 public:
  // Needs the QApplication to exist. Installs every hook; the destructor removes them.
  explicit TApplication(const std::string& title, QObject* parent = nullptr);
  ~TApplication() override;
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // The message an exception carries.
  static std::string ExceptionText(std::exception_ptr error);
  // The text of the default error report: a full stop is appended when the message's last
  // character sorts after ".".
  static std::string ErrorReportText(const std::string& message);
  // The default error report: error icon, the title as caption, one OK button. While a report
  // is on screen, another one with the same text is not shown again, only counted.
  static void ShowException(std::exception_ptr error);
  // How many reports were counted instead of shown since the program started.
  static int RepeatedReports();

  // Runs a handler; whatever escapes it goes to the default error report and the program goes
  // on. Every message, timer, action and component handler is called through this.
  template <class Handler>
  static void Dispatch(Handler&& handler) {
    try {
      std::forward<Handler>(handler)();
    } catch (...) {
      win::HandleApplicationException(std::current_exception());
    }
  }

  // Handles what is waiting and runs the queued main-thread calls; never blocks.
  static void PumpOneMessage();

  // Runs the queued main-thread calls.
  static void DrainMainThreadCalls();
};
