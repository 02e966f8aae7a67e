// Port rows: cell texts and icons by port state, cell geometry, the scrolling row area, and the
// settings icon (busy ports, free ports, and a click while a scan runs).

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>

#include "app/AdvancedSettingsPage.h"
#include "app/PortList.h"
#include "app/Texts.h"
#include "app/tests/AppTestSupport.h"
#include "discovery/ExistingSerialPorts.h"

namespace talvik_test {
namespace {

using namespace win;

using win::bench::Echo;
using win::bench::Wiring;

PortRecord MakeRecord(const std::string& friendlyName, std::int32_t type, bool busy) {
  TAPort port;
  port.Fill(friendlyName, type, busy, 0);
  return RecordOf(port);
}

TEST(PortRowTest, TextsAndStateIconFollowTypeAndBusyFlag) {
  EnsureQtApp();
  struct Case {
    std::int32_t type;
    bool busy;
    int image;
    const char* adapter;
  };
  const Case cases[] = {
      {-1, false, 1, ""},
      {-1, true, 2, ""},
      {0, false, 1, "Адаптер К-Лайн"},
      {0, true, 2, ""},
      {1, false, 3, "Кварион COM v1"},
      {1, true, 6, "Кварион COM v1"},
      {2, false, 3, "Кварион USB v2"},
      {2, true, 6, "Кварион USB v2"},
      {3, false, 3, "Кварион USB v3"},
      {3, true, 6, "Кварион USB v3"},
  };
  for (const Case& c : cases) {
    PortRecord record = MakeRecord("Communications Port (COM3)", c.type, c.busy);
    TPortRow row(record, nullptr);
    record.Kind = AdapterKind::CableV3;  // a later change of the record does not reach the row
    const TPortRowView view = row.View();
    SCOPED_TRACE(testing::Message() << "type " << c.type << " busy " << c.busy);
    EXPECT_EQ(view.Key, "COM3");
    EXPECT_EQ(view.Port, "  COM3");
    EXPECT_EQ(view.Description, "  Communications Port ");
    EXPECT_EQ(view.State, c.busy ? "  Занят" : "  Свободен");
    EXPECT_EQ(view.Adapter, std::string("  ") + c.adapter);
    EXPECT_EQ(view.StateImage, c.image);
  }
}

TEST(PortRowTest, CellsKeepTheirWidthsWhateverTheText) {
  EnsureQtApp();
  const PortRecord longName = MakeRecord(std::string(300, 'W') + " (COM12)", 0, false);
  const PortRecord noName = MakeRecord("COM emulator", -1, true);  // no port name, description
  for (const PortRecord* record : {&longName, &noName}) {
    TPortRow row(*record, nullptr);
    row.resize(544, TPortRow::kHeight);
    EXPECT_EQ(row.height(), 19);
    const int rights[] = {48, 76, 276, 304, 384, 524};
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(row.Cell(i)->geometry().right() + 1, rights[i]) << "cell " << i;
      EXPECT_EQ(row.Cell(i)->height(), 19);
    }
  }
  TPortRow empty(noName, nullptr);
  EXPECT_EQ(empty.View().Port, "  ");
  EXPECT_EQ(empty.View().Description, "  ");
}

class RowAreaTest : public AppTest {};

TEST_F(RowAreaTest, ScrollsWhenRowsDoNotFitAndCellsLineUpWithTheHeader) {
  for (int i = 1; i <= 5; ++i) {
    AddHeldPort("COM" + std::to_string(i));
  }
  TForm1& form = CreateForm();
  ASSERT_TRUE(WaitForScans(1));
  ASSERT_EQ(form.Frame21().RowCount(), 5);
  EXPECT_FALSE(form.Frame21().verticalScrollBar()->isVisible());

  for (int i = 6; i <= 8; ++i) {
    AddHeldPort("COM" + std::to_string(i));
  }
  form.CheckButton().click();
  ASSERT_TRUE(WaitForScans(2));
  ASSERT_EQ(form.Frame21().RowCount(), 8);
  ASSERT_TRUE(SpinUntil([&] { return form.Frame21().verticalScrollBar()->isVisible(); }, 5000));
  EXPECT_GT(form.Frame21().verticalScrollBar()->maximum(), 0);

  // Every row, scrolled or not, has its cell edges under the header's pane edges.
  const int edges[] = {76, 276, 384, 524};
  const int cells[] = {1, 2, 4, 5};
  for (int r = 0; r < form.Frame21().RowCount(); ++r) {
    const TPortRow& row = form.Frame21().Row(r);
    EXPECT_EQ(row.mapTo(&form, QPoint(0, 0)).y() -
                  form.Frame21().widget()->mapTo(&form, QPoint(0, 0)).y(),
              r * 19);
    for (int k = 0; k < 4; ++k) {
      const QWidget* cell = row.Cell(cells[k]);
      EXPECT_EQ(cell->mapTo(&form, QPoint(cell->width(), 0)).x(), edges[k]);
    }
  }
  // Scrolling moves the rows only: the header strip stays where it is.
  const QRect header = form.StatusBar2().geometry();
  form.Frame21().verticalScrollBar()->setValue(form.Frame21().verticalScrollBar()->maximum());
  SpinFor(20);
  EXPECT_EQ(form.StatusBar2().geometry(), header);
  EXPECT_LT(form.Frame21().Row(0).mapTo(&form, QPoint(0, 0)).y(), 48);
}

// A settings page of the test's own: records which device it was opened for and, like a modal
// page, runs the event loop until the test lets it go.
struct PageRecorder {
  static inline std::vector<std::string> Opened;
  static inline std::function<bool()> CloseWhen;
  static inline bool ClosedInTime = true;

  static win::LONG Page(win::HWND, win::HDEVINFO list, win::PSP_DEVINFO_DATA data) {
    char name[256] = {};
    win::DWORD type = 0;
    win::DWORD required = 0;
    win::SetupDiGetDeviceRegistryPropertyA(list, data, SPDRP_FRIENDLYNAME, &type,
                                           reinterpret_cast<win::PBYTE>(name), sizeof name,
                                           &required);
    Opened.emplace_back(name);
    if (CloseWhen) {
      ClosedInTime = SpinUntil(CloseWhen) && ClosedInTime;
    }
    return 0;
  }

  static void Install() {
    Opened.clear();
    CloseWhen = nullptr;
    ClosedInTime = true;
    win::RegisterBuiltinModule(
        {"msports.dll", {{"SerialDisplayAdvancedSettings", win::ToFarProc(&Page)}}});
  }
};

class SettingsClickTest : public AppTest {
 protected:
  void TearDown() override {
    PageRecorder::CloseWhen = nullptr;
    AppTest::TearDown();
  }

  // Clicks the row's settings icon and lets the click be handled.
  void ClickSettings(int row) {
    QTest::mouseClick(&Form->Frame21().Row(row).SettingsCell(), Qt::LeftButton);
    SpinFor(50);
  }
};

TEST_F(SettingsClickTest, FreePortOpensItsPageAndBusyPortDoesNothing) {
  AddHeldPort("COM1");
  win::bench::Device printer = win::bench::MakePort("LPT1", "Printer Port", "ACPI");
  Bench->AddDevice(printer);  // takes a member index without a row
  AddPort("COM2", {}, "ACPI", "Second Port");
  TForm1& form = CreateForm();
  ASSERT_TRUE(WaitForScans(1));
  PageRecorder::Install();
  ASSERT_EQ(form.Frame21().RowCount(), 2);
  EXPECT_EQ(form.Frame21().Row(1).SettingsCell().cursor().shape(), Qt::PointingHandCursor);

  ClickSettings(0);
  EXPECT_TRUE(PageRecorder::Opened.empty());
  ClickSettings(1);
  ASSERT_EQ(PageRecorder::Opened.size(), 1u);
  EXPECT_EQ(PageRecorder::Opened[0], "Second Port (COM2)");
  EXPECT_TRUE(Boxes.empty());
  // The busy port's icon says why it does nothing; the free one's leaves the row's tool tip.
  EXPECT_EQ(Rows()[0].SettingsToolTip, texts::kBusySettings);
  EXPECT_EQ(Rows()[1].SettingsToolTip, "");

  // From the keyboard: Tab goes from one row's icon to the next, Space presses the one in focus.
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  form.Frame21().Row(0).SettingsCell().setFocus(Qt::TabFocusReason);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), &form.Frame21().Row(1).SettingsCell());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  SpinFor(50);
  ASSERT_EQ(PageRecorder::Opened.size(), 2u);
  EXPECT_EQ(PageRecorder::Opened[1], "Second Port (COM2)");
}

TEST_F(SettingsClickTest, BenchRowsNameTheHolderAndTheRefusal) {
  win::bench::Device held = win::bench::MakePort("COM1", "Communications Port", "ACPI");
  held.faults.held = true;
  held.faults.heldBy = win::PortHolder{4242, "minicom", "anna"};
  Bench->AddDevice(held);
  win::bench::Device refused = win::bench::MakePort("COM2", "Communications Port", "ACPI");
  refused.faults.accessDenied = true;
  refused.faults.group = "dialout";
  Bench->AddDevice(refused);
  AddHeldPort("COM3");
  CreateForm();
  ASSERT_TRUE(WaitForScans(1));
  PageRecorder::Install();

  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  const auto has = [](const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  };
  EXPECT_EQ(rows[0].State, Cell("Занят"));
  EXPECT_TRUE(has(rows[0].ToolTip, "Занят: minicom (PID 4242, пользователь anna)"))
      << rows[0].ToolTip;
  EXPECT_TRUE(has(rows[0].ToolTip, "Подключено: ")) << "the bench's description stays";
  EXPECT_EQ(rows[1].State, Cell("Нет доступа"));
  EXPECT_EQ(rows[1].StateImage, 2);
  EXPECT_TRUE(has(rows[1].ToolTip, "Нет доступа: узел принадлежит группе «dialout»"))
      << rows[1].ToolTip;
  EXPECT_TRUE(has(rows[2].ToolTip, "Занят: другая программа")) << rows[2].ToolTip;

  // The page of a refused port opens, to say why; that of a held port does not.
  ClickSettings(0);
  ClickSettings(1);
  ASSERT_EQ(PageRecorder::Opened.size(), 1u);
  EXPECT_EQ(PageRecorder::Opened[0], "Communications Port (COM2)");
}

TEST_F(SettingsClickTest, ClickDuringAScanOpensThePageWhileTheScanGoesOn) {
  AddPort("COM1", [] {
    Wiring loop;
    loop.echo = Echo::Always;
    return loop;
  }());
  AddPort("COM2");  // nothing attached: two phases and a close still to come
  AddHeldPort("COM3");
  TForm1& form = CreateForm();
  PageRecorder::Install();
  ASSERT_TRUE(SpinUntil([&] { return form.Frame21().RowCount() >= 1; }));
  ASSERT_TRUE(form.Scanning());

  PageRecorder::CloseWhen = [this] { return ScansFinished >= 1; };
  ClickSettings(0);
  EXPECT_TRUE(PageRecorder::ClosedInTime);
  ASSERT_EQ(PageRecorder::Opened.size(), 1u);
  EXPECT_EQ(PageRecorder::Opened[0], "Communications Port (COM1)");
  EXPECT_EQ(ScansFinished, 1);  // the scan ended behind the page
  EXPECT_EQ(form.Frame21().RowCount(), 3);
}

TEST_F(SettingsClickTest, ScanStartedBehindThePageReplacesTheRowsSafely) {
  AddPort("COM1");
  TForm1& form = CreateForm();
  ASSERT_TRUE(WaitForScans(1));
  PageRecorder::Install();
  // While the page is open a port arrives; the new scan destroys the clicked row.
  bool added = false;
  PageRecorder::CloseWhen = [this, &added] {
    if (!added) {
      added = true;
      Bench->AddDevice(win::bench::MakePort("COM2", "Communications Port", "ACPI"), true);
    }
    return ScansFinished >= 2;
  };
  ClickSettings(0);
  EXPECT_TRUE(PageRecorder::ClosedInTime);
  EXPECT_EQ(form.Frame21().RowCount(), 2);
}

TEST_F(RowAreaTest, OwnSettingsPageShowsTheDevice) {
  AddPort("COM5", {}, "ACPI", "Workshop Port");
  RegisterAdvancedSettingsPage(nullptr);

  win::GUID guid{};
  win::DWORD required = 0;
  ASSERT_TRUE(win::SetupDiClassGuidsFromNameA("Ports", &guid, 1, &required));
  const win::HDEVINFO list = win::SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT);
  ASSERT_NE(list, INVALID_HANDLE_VALUE);
  win::SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(win::SetupDiEnumDeviceInfo(list, 0, &data));

  QStringList shown;
  QString title;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    for (const QLabel* label : dialog->findChildren<QLabel*>()) {
      shown << label->text();
    }
    dialog->accept();
  });
  EXPECT_EQ(AppSerialDisplayAdvancedSettings(nullptr, list, &data), 0);
  win::SetupDiDestroyDeviceInfoList(list);

  EXPECT_EQ(title, QStringLiteral("Workshop Port (COM5)"));
  EXPECT_TRUE(shown.contains(QStringLiteral("Workshop Port (COM5)")))
      << shown.join("|").toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("Workshop Port"))) << shown.join("|").toStdString();
}

}  // namespace
}  // namespace talvik_test
