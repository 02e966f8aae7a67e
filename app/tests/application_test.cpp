// The application object: the default error report, handlers that raise, the message box, and
// main-thread calls from other threads in the main loop, in the pump and in modal loops.

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "app/Action.h"
#include "app/tests/AppTestSupport.h"
#include "serial/SpSynchronize.h"

namespace talvik_test {
namespace {

using namespace win;

TEST(ErrorReportTextTest, FullStopOnlyAfterCharactersSortingAfterIt) {
  EXPECT_EQ(TApplication::ErrorReportText("Read error (5), Access is denied"),
            "Read error (5), Access is denied.");
  EXPECT_EQ(TApplication::ErrorReportText("Specified device not found (COM3)."),
            "Specified device not found (COM3).");
  EXPECT_EQ(TApplication::ErrorReportText("Can't open specified device COM3 (Error 5, x)"),
            "Can't open specified device COM3 (Error 5, x)");  // ")" sorts before "."
  EXPECT_EQ(TApplication::ErrorReportText("Stop!"), "Stop!");
  EXPECT_EQ(TApplication::ErrorReportText("Count: 7"), "Count: 7.");  // "0" to "9" follow "."
  EXPECT_EQ(TApplication::ErrorReportText("a/"), "a/.");              // "/" follows "." directly
  EXPECT_EQ(TApplication::ErrorReportText("Ошибка открытия порта"), "Ошибка открытия порта.");
  EXPECT_EQ(TApplication::ErrorReportText(""), "");
}

class ApplicationTest : public AppTest {};

TEST_F(ApplicationTest, HandlerThatRaisesIsReportedAndTheProgramGoesOn) {
  TAction action;
  int runs = 0;
  action.OnExecute = [&] {
    ++runs;
    throw std::runtime_error("Output buffer is full. Please check comm status");
  };
  EXPECT_TRUE(action.Execute());
  EXPECT_TRUE(action.Execute());
  EXPECT_EQ(runs, 2);
  ASSERT_EQ(Boxes.size(), 2u);
  EXPECT_EQ(Boxes[0].text, "Output buffer is full. Please check comm status.");
  EXPECT_EQ(Boxes[0].caption, "Тальвик");
  EXPECT_EQ(Boxes[0].type, MB_ICONERROR);

  action.setEnabled(false);
  EXPECT_FALSE(action.Execute());
  EXPECT_EQ(runs, 2);

  // Something that is not a standard exception is reported too.
  TApplication::Dispatch([] { throw 42; });
  ASSERT_EQ(Boxes.size(), 3u);
  EXPECT_FALSE(Boxes[2].text.empty());
}

TEST_F(ApplicationTest, MessageBoxHasTitleIconAndOneButton) {
  Application.reset();
  Application = std::make_unique<TApplication>("Тальвик");  // its own box, not the recorder
  struct Seen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
  };
  std::vector<Seen> seen;
  const auto inspect = [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      return;
    }
    seen.push_back(
        {box->windowTitle(), box->text(), box->icon(), static_cast<int>(box->buttons().size())});
    box->accept();
  };
  QTimer::singleShot(0, inspect);
  TApplication::ShowException(std::make_exception_ptr(std::runtime_error("Сбой")));
  QTimer::singleShot(0, inspect);
  win::MessageBoxA(nullptr, "Ошибка открытия порта COM3", win::ApplicationTitle().c_str(), MB_OK);

  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].title, QStringLiteral("Тальвик"));
  EXPECT_EQ(seen[0].text, QStringLiteral("Сбой."));
  EXPECT_EQ(seen[0].icon, QMessageBox::Critical);
  EXPECT_EQ(seen[0].buttons, 1);
  EXPECT_EQ(seen[1].text, QStringLiteral("Ошибка открытия порта COM3"));
  EXPECT_EQ(seen[1].icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen[1].buttons, 1);
}

TEST_F(ApplicationTest, MainThreadCallsRunInTheLoopThePumpAndModalLoops) {
  // The main loop: the thread waits until its routine ran on the main thread.
  std::atomic<bool> ranOnMain{false};
  std::atomic<bool> threadDone{false};
  std::thread worker([&] {
    SpSynchronize([&] { ranOnMain = SpIsMainThread(); });
    threadDone = true;
  });
  EXPECT_TRUE(SpinUntil([&] { return threadDone.load(); }, 20000));
  worker.join();
  EXPECT_TRUE(ranOnMain);

  // The pump: never blocks, and runs what is queued.
  std::atomic<bool> pumped{false};
  std::thread second([&] { SpSynchronize([&] { pumped = true; }); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!pumped && std::chrono::steady_clock::now() < deadline) {
    win::PumpOneMessage();
  }
  second.join();
  EXPECT_TRUE(pumped);
  win::PumpOneMessage();  // nothing waits: returns at once

  // A modal dialog's loop: a call queued while it is open runs before it closes.
  std::atomic<bool> inModal{false};
  QDialog dialog;
  std::thread third;
  QTimer::singleShot(0, [&] {
    third = std::thread([&] { SpSynchronize([&] { inModal = dialog.isVisible(); }); });
  });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (inModal) {
      dialog.accept();
    }
  });
  poll.start(5);
  QTimer::singleShot(20000, &dialog, &QDialog::reject);
  dialog.exec();
  third.join();
  EXPECT_TRUE(inModal);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace talvik_test
