#include "app/Application.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QString>
#include <algorithm>
#include <vector>

#include "serial/SpSynchronize.h"

using namespace win;

namespace {

int ShowMessageBox(HWND /*owner*/, const std::string& text, const std::string& caption, UINT type) {
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(QString::fromStdString(caption));
  box.setText(QString::fromStdString(text));
  box.setIcon((type & MB_ICONERROR) != 0 ? QMessageBox::Critical : QMessageBox::NoIcon);
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return IDOK;
}

// The texts of the error reports on screen (boxes nested in each other's loops), and the count
// of reports that repeated one of them. Main thread only.
struct TReportsOnScreen {
  std::vector<std::string> Texts;
  int Repeated = 0;
};

TReportsOnScreen& ReportsOnScreen() {
  static TReportsOnScreen reports;
  return reports;
}

}  // namespace

TApplication::TApplication(const std::string& title, QObject* parent) : QObject(parent) {
  QCoreApplication::setApplicationName(QString::fromStdString(title));
  QApplication::setApplicationDisplayName(QString::fromStdString(title));
  SetApplicationTitle(title);
  SetMessageBoxHook(&ShowMessageBox);
  SetApplicationExceptionHook(&TApplication::ShowException);
  SetMessagePump(&TApplication::PumpOneMessage);

  SpSetMainThread();
  // Posted to the application object, which outlives every window, so that a thread still
  // holding this wake-up never reaches a destroyed receiver.
  SpSetWakeUp([] {
    if (QCoreApplication* application = QCoreApplication::instance()) {
      QMetaObject::invokeMethod(application, &TApplication::DrainMainThreadCalls,
                                Qt::QueuedConnection);
    }
  });
  // Queued calls also run whenever the loop (the main one, a pump or a modal one) is about to
  // wait, so a call queued while the wake-up is in flight is never left behind.
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
            &TApplication::DrainMainThreadCalls);
  }
}

TApplication::~TApplication() {
  SpSetWakeUp(nullptr);
  SetMessagePump(nullptr);
  SetApplicationExceptionHook(nullptr);
  SetMessageBoxHook(nullptr);
}

std::string TApplication::ExceptionText(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown exception";
  }
}

std::string TApplication::ErrorReportText(const std::string& message) {
  std::string text = message;
  if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) {
    text += '.';
  }
  return text;
}

void TApplication::ShowException(std::exception_ptr error) {
  const std::string text = ErrorReportText(ExceptionText(error));
  TReportsOnScreen& reports = ReportsOnScreen();
  if (std::find(reports.Texts.begin(), reports.Texts.end(), text) != reports.Texts.end()) {
    ++reports.Repeated;
    return;
  }
  reports.Texts.push_back(text);
  struct TOffScreen {
    TReportsOnScreen& Reports;
    ~TOffScreen() { Reports.Texts.pop_back(); }
  } offScreen{reports};
  const std::string title = ApplicationTitle();
  win::MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_ICONERROR);
}

int TApplication::RepeatedReports() {
  return ReportsOnScreen().Repeated;
}

void TApplication::PumpOneMessage() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  Dispatch([] { SpDrainMainThreadCalls(); });
}

void TApplication::DrainMainThreadCalls() {
  Dispatch([] { SpDrainMainThreadCalls(); });
}
