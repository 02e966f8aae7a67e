// The scan cycle: start-up scan, scan requests while a scan runs, device-change broadcasts, the
// port list, and a discovery that fails.

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QToolButton>
#include <stdexcept>
#include <utility>

#include "app/Action.h"
#include "app/PortList.h"
#include "app/ScanReport.h"
#include "app/tests/AppTestSupport.h"
#include "platform/devices/SetupApiModule.h"

namespace talvik_test {
namespace {

using namespace win;

using win::bench::Echo;
using win::bench::Wiring;

class ScanCycleTest : public AppTest {};

TEST_F(ScanCycleTest, FirstScanStartsByItselfAndEndsWithRowsInListOrder) {
  AddHeldPort("COM1");
  AddPort("COM2");  // nothing attached: two silent phases
  AddPort("COM3", {}, "BTHENUM\\{00001101-0000-1000-8000-00805f9b34fb}");
  TForm1& form = CreateForm();
  EXPECT_EQ(form.GlyphStatus1().text(), QString());  // empty before the first scan

  ASSERT_TRUE(SpinUntil([&] { return form.Scanning(); }));
  EXPECT_EQ(form.GlyphStatus1().text(), QStringLiteral("Идет сканирование..."));
  EXPECT_FALSE(form.CheckButton().isEnabled());
  EXPECT_EQ(form.Toolbar1().cursor().shape(), Qt::WaitCursor);
  EXPECT_EQ(form.Frame21().cursor().shape(), Qt::WaitCursor);

  ASSERT_TRUE(WaitForScans(1));
  EXPECT_EQ(form.GlyphStatus1().text(), QStringLiteral("Сканирование завершено."));
  EXPECT_TRUE(form.ACheck().isEnabled());
  EXPECT_EQ(form.Toolbar1().cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(form.Frame21().cursor().shape(), Qt::ArrowCursor);

  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].Port, Cell("COM1"));
  EXPECT_EQ(rows[0].State, Cell("Занят"));
  EXPECT_EQ(rows[1].Port, Cell("COM2"));
  EXPECT_EQ(rows[1].State, Cell("Свободен"));
  EXPECT_EQ(rows[2].Port, Cell("COM3"));
  EXPECT_EQ(rows[2].State, Cell("Занят"));
  EXPECT_EQ(form.ProbeIndex(), 3);
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(ScanCycleTest, F5ScansAsTheButtonDoesAndTheReportCanBeCopied) {
  AddHeldPort("COM1");
  AddPort("COM2", [] {
    Wiring loop;
    loop.echo = Echo::Always;
    return loop;
  }());
  TForm1& form = CreateForm();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  ASSERT_TRUE(WaitForScans(1));

  // Ctrl+C and the context menu's one entry copy the report as talvik-scan prints it.
  QGuiApplication::clipboard()->clear();
  QTest::keyClick(&form, Qt::Key_C, Qt::ControlModifier);
  const std::string report = FormatScanText(form.Records());
  EXPECT_NE(report.find("Адаптер К-Лайн"), std::string::npos) << report;
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), report);
  QGuiApplication::clipboard()->clear();
  QString entry;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    entry = menu->actions()[0]->text();
    menu->actions()[0]->trigger();
    menu->close();
  });
  QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(200, 60),
                          form.mapToGlobal(QPoint(200, 60)));
  QApplication::sendEvent(&form, &click);
  EXPECT_EQ(entry, QStringLiteral("Копировать отчёт"));
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), report);

  // F5 starts a scan; pressed again while it runs, it is dropped.
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  QTest::keyClick(&form, Qt::Key_F5);
  ASSERT_TRUE(form.Scanning());
  QTest::keyClick(&form, Qt::Key_F5);
  ASSERT_TRUE(WaitForScans(2));
  SpinFor(200);
  EXPECT_EQ(ScansFinished, 2);
  EXPECT_FALSE(form.RescanDue());
}

TEST_F(ScanCycleTest, MachineWithoutPortsEndsEveryScanWithNoRows) {
  TForm1& form = CreateForm();
  ASSERT_TRUE(WaitForScans(1));
  EXPECT_EQ(form.Frame21().RowCount(), 0);
  EXPECT_EQ(form.GlyphStatus1().text(), QStringLiteral("Сканирование завершено."));
  ASSERT_NE(form.PortList(), nullptr);
  EXPECT_EQ(form.PortList()->Count(), 0);

  form.CheckButton().click();
  ASSERT_TRUE(WaitForScans(2));
  EXPECT_EQ(form.Frame21().RowCount(), 0);
  EXPECT_EQ(form.GlyphStatus1().text(), QStringLiteral("Сканирование завершено."));
}

TEST_F(ScanCycleTest, ClicksDuringAScanAreDroppedAndPortChangesBringOneMoreScan) {
  AddPort("COM1");  // keeps the scan busy for two phases and a close
  TForm1& form = CreateForm();
  ASSERT_TRUE(SpinUntil([&] { return form.SpComm1().Active(); }));

  // The button and a second start message land in the running scan and are dropped. The two
  // nodes of a two-port adapter arrive one after the other, in the first and the second phase.
  form.CheckButton().click();
  EXPECT_FALSE(form.ACheck().Execute());
  const auto adapterPort = [](const std::string& port, bool dtrToDsr) {
    win::bench::Device device = win::bench::MakePort(port, "USB Serial Port", "USB");
    device.wiring.rtsToCts = true;
    device.wiring.dtrToDsr = dtrToDsr;
    return device;
  };
  Bench->AddDevice(adapterPort("COM5", true), true);
  ASSERT_TRUE(SpinUntil([&] { return Bench->State("COM1").dtr; }));
  Bench->AddDevice(adapterPort("COM6", false), true);
  EXPECT_TRUE(form.Scanning());

  // Exactly one more scan, when this one has ended, and it has both ports right.
  ASSERT_TRUE(WaitForScans(2));
  SpinFor(500);
  EXPECT_EQ(ScansFinished, 2);
  EXPECT_FALSE(form.Scanning());
  ASSERT_EQ(Reports[0].size(), 1u);
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].Port, Cell("COM1"));
  EXPECT_EQ(rows[1].Port, Cell("COM5"));
  EXPECT_EQ(rows[1].Adapter, Cell("Кварион USB v2"));
  EXPECT_EQ(rows[2].Port, Cell("COM6"));
  EXPECT_EQ(rows[2].Adapter, Cell("Кварион USB v3"));

  // Idle: a port removal starts a full scan, exactly like the button.
  Bench->SetPresent("COM1", false, true);
  ASSERT_TRUE(WaitForScans(3));
  ASSERT_EQ(Rows().size(), 2u);
  EXPECT_EQ(Rows()[0].Port, Cell("COM5"));
}

TEST_F(ScanCycleTest, OnlyPortArrivalAndRemovalStartAScan) {
  TForm1& form = CreateForm();
  ASSERT_TRUE(WaitForScans(1));

  win::BroadcastDeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME);
  win::BroadcastDeviceChange(DBT_DEVNODES_CHANGED, DBT_DEVTYP_PORT);
  win::BroadcastDeviceChange(DBT_DEVICEQUERYREMOVE, DBT_DEVTYP_PORT);
  win::BroadcastDeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE);
  SpinFor(300);
  EXPECT_EQ(ScansFinished, 1);
  EXPECT_FALSE(form.Scanning());

  win::BroadcastDeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT);
  ASSERT_TRUE(WaitForScans(2));
  win::BroadcastDeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT);
  ASSERT_TRUE(WaitForScans(3));
}

TEST_F(ScanCycleTest, PreviousRowsAndListAreGoneBeforeDiscoveryStarts) {
  AddHeldPort("COM1");
  AddHeldPort("COM2");
  TForm1& form = CreateForm();
  ASSERT_TRUE(WaitForScans(1));
  ASSERT_EQ(form.Frame21().RowCount(), 2);

  // Discovery pumps once per port; every pump of the second scan sees no row of the first.
  std::vector<int> rowsSeen;
  std::vector<int> listSeen;
  win::SetMessagePump([&] {
    rowsSeen.push_back(form.Frame21().RowCount());
    listSeen.push_back(form.PortList()->Count());
    TApplication::PumpOneMessage();
  });
  form.CheckButton().click();
  win::SetMessagePump(&TApplication::PumpOneMessage);
  ASSERT_TRUE(WaitForScans(2));

  ASSERT_GE(rowsSeen.size(), 3u);  // before discovery, and after each of the two ports
  for (const int rows : rowsSeen) {
    EXPECT_EQ(rows, 0);
  }
  EXPECT_EQ(listSeen.front(), 0);
  EXPECT_EQ(form.Frame21().RowCount(), 2);
}

TEST_F(ScanCycleTest, FailedDiscoveryIsShownAndTheScanStillEnds) {
  struct BrokenSetupLibrary {
    BrokenSetupLibrary() { win::RegisterBuiltinModule({"SetupApi.dll", {}, ERROR_MOD_NOT_FOUND}); }
    ~BrokenSetupLibrary() { Restore(); }
    void Restore() { win::RegisterBuiltinModule(win::detail::SetupApiModule()); }
  } library;
  AddHeldPort("COM1");
  TForm1& form = CreateForm();
  ASSERT_TRUE(WaitForScans(1));
  library.Restore();

  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].caption, "Тальвик");
  EXPECT_EQ(Boxes[0].type, MB_ICONERROR);
  EXPECT_EQ(Boxes[0].text.rfind("System Error.  Code: 126.", 0), 0u) << Boxes[0].text;
  EXPECT_EQ(form.GlyphStatus1().text(), QStringLiteral("Сканирование завершено."));
  EXPECT_TRUE(form.ACheck().isEnabled());
  EXPECT_EQ(form.Frame21().cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(form.Frame21().RowCount(), 0);

  // With the library back, the next scan works.
  form.CheckButton().click();
  ASSERT_TRUE(WaitForScans(2));
  EXPECT_EQ(form.Frame21().RowCount(), 1);
}

TEST_F(ScanCycleTest, DiscoveryThatFailsMidWayStillShowsThePortsFoundSoFar) {
  // The third member of the device list cannot be read, with an error of no particular kind.
  struct ListFailingAtTheThirdMember {
    ListFailingAtTheThirdMember() {
      win::BuiltinModule module = win::detail::SetupApiModule();
      for (auto& [name, proc] : module.exports) {
        if (name == "SetupDiEnumDeviceInfo") {
          proc = win::ToFarProc(
              +[](win::HDEVINFO list, win::DWORD index, win::PSP_DEVINFO_DATA data) -> win::BOOL {
                if (index == 2) {
                  throw std::runtime_error("The device list went away");
                }
                return win::SetupDiEnumDeviceInfo(list, index, data);
              });
        }
      }
      win::RegisterBuiltinModule(std::move(module));
    }
    ~ListFailingAtTheThirdMember() { win::RegisterBuiltinModule(win::detail::SetupApiModule()); }
  } failing;
  AddHeldPort("COM1");
  AddPort("COM2", EchoWiring(Echo::Always));
  AddPort("COM3");
  TForm1& form = CreateForm();
  ASSERT_TRUE(WaitForScans(1));

  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].text, "The device list went away.");
  EXPECT_TRUE(form.DiscoveryFailed());
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].State, Cell("Занят"));
  EXPECT_EQ(rows[1].Adapter, Cell("Адаптер К-Лайн"));
  EXPECT_TRUE(form.ACheck().isEnabled());
}

TEST_F(ScanCycleTest, WindowKeepsEachRecordWhateverTheLastErrorSays) {
  AddPort("COM1", EchoWiring(Echo::Always));
  AddHeldPort("COM2");
  TForm1& form = CreateForm();
  // Whatever the window's pump runs leaves an error of a window that is gone behind.
  win::SetMessagePump([] {
    TApplication::PumpOneMessage();
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  });
  ASSERT_TRUE(WaitForScans(1));
  form.CheckButton().click();
  ASSERT_TRUE(WaitForScans(2));

  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Port, Cell("COM1"));
  EXPECT_EQ(rows[0].Adapter, Cell("Адаптер К-Лайн"));
  EXPECT_EQ(rows[1].Port, Cell("COM2"));
  EXPECT_EQ(form.PortList()->Object(1).PortName, "COM2");
}

TEST(PortListTest, KeepsOrderAndDuplicatesAndFindsTheFirstMatchIgnoringCase) {
  TPortList list;
  const auto port = [](const std::string& name, std::int32_t index) {
    auto record = std::make_unique<TAPort>();
    record->Fill("Port (" + name + ")", 0, false, index);
    return record;
  };
  list.Add("COM3", port("COM3", 0));
  list.Add("COM1", port("COM1", 1));
  list.Add("COM3", port("COM3", 2));
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Key(0), "COM3");
  EXPECT_EQ(list.Key(1), "COM1");
  EXPECT_EQ(list.IndexOf("com3"), 0);
  EXPECT_EQ(list.Object(list.IndexOf("Com1")).DeviceIndex, 1);
  EXPECT_EQ(list.IndexOf("COM2"), -1);
  EXPECT_EQ(list.IndexOf(""), -1);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.IndexOf("COM3"), -1);
}

}  // namespace
}  // namespace talvik_test
