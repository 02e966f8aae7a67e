// The application's own settings page of a real port: the FTDI latency timer can be changed
// there, a refusal is reported without losing the page's other values, and a user without the
// rights to a port sees why in its row and on its page.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "app/AdvancedSettingsPage.h"
#include "app/tests/AppTestSupport.h"
#include "platform/devices/DeviceWorldRegistry.h"
#include "platform/host/HostWorld.h"
#include "testing/HostFakeTree.h"
#include "testing/HostPty.h"

namespace talvik_test {
namespace {

using namespace win;

using win::host::testing::FakeHostTree;
using win::host::testing::Pty;
using win::host::testing::UsbAdapter;

class SettingsPageTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    tree.AddUsb(UsbAdapter().Node("ttyUSB0").Serial("A50285BI").Latency("16"));
    win::InstallDeviceWorld(std::make_shared<win::host::HostWorld>(tree.Paths()));
    RegisterAdvancedSettingsPage(nullptr);
  }

  void TearDown() override {
    win::bench::UseBench();
    AppTest::TearDown();
  }

  // Opens the page of the adapter; `use` acts on the dialog once it is shown.
  void ShowPage(const std::function<void(QDialog&)>& use) {
    win::GUID guid{};
    ASSERT_TRUE(win::SetupDiClassGuidsFromNameA("Ports", &guid, 1, nullptr));
    const win::HDEVINFO list = win::SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT);
    win::SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(win::SetupDiEnumDeviceInfo(list, 0, &data));
    bool shown = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      shown = true;
      use(*dialog);
    });
    EXPECT_EQ(AppSerialDisplayAdvancedSettings(nullptr, list, &data), 0);
    win::SetupDiDestroyDeviceInfoList(list);
    EXPECT_TRUE(shown);
  }

  std::filesystem::path LatencyFile() const {
    return tree.Sys() / "devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/ttyUSB0/latency_timer";
  }

  std::string Latency() const {
    std::ifstream in(LatencyFile());
    std::string text;
    std::getline(in, text);
    return text;
  }

  FakeHostTree tree;
};

TEST_F(SettingsPageTest, TheLatencyTimerIsChangedOnOkAndLeftAloneOnCancel) {
  ShowPage([](QDialog& dialog) {
    auto* box = dialog.findChild<QSpinBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->value(), 16);
    EXPECT_TRUE(box->isEnabled());
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    ASSERT_NE(buttons->button(QDialogButtonBox::Cancel), nullptr);
    EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Отмена"));
    box->setValue(3);
    dialog.reject();
  });
  EXPECT_EQ(Latency(), "16");

  ShowPage([](QDialog& dialog) {
    auto* box = dialog.findChild<QSpinBox*>();
    ASSERT_NE(box, nullptr);
    box->setValue(3);
    dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  });
  EXPECT_EQ(Latency(), "3");
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(SettingsPageTest, AValueOutsideTheRangeIsNotRewrittenByJustPressingOk) {
  std::filesystem::remove(LatencyFile());
  std::ofstream(LatencyFile()) << "0\n";
  ShowPage([](QDialog& dialog) {
    auto* box = dialog.findChild<QSpinBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->value(), 1);  // the box cannot show 0
    dialog.accept();
  });
  EXPECT_EQ(Latency(), "0");
}

TEST_F(SettingsPageTest, ARefusedValueIsReportedInABox) {
  ShowPage([this](QDialog& dialog) {
    auto* box = dialog.findChild<QSpinBox*>();
    ASSERT_NE(box, nullptr);
    box->setValue(200);
    // The adapter goes away while its page is open.
    std::filesystem::remove_all(LatencyFile().parent_path());
    dialog.accept();
  });
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].text,
            "Не удалось изменить «Задержка FTDI (latency_timer)»: The system cannot find the "
            "file specified");
  EXPECT_EQ(Boxes[0].caption, "Тальвик");
  EXPECT_EQ(Boxes[0].type, MB_OK | MB_ICONERROR);
}

// Runs in a child process with the rights of an ordinary user outside the port's group (root
// becomes "nobody" and its port a node of the group "dialout", as on most systems), scans, and
// opens the settings page of the port from its row.
class NoRightsTest : public SettingsPageTest {
 protected:
  void ScanAsUserWithoutRights(const std::string& slave);
};

void NoRightsTest::ScanAsUserWithoutRights(const std::string& slave) {
  const bool root = geteuid() == 0;
  if (root) {
    chmod(tree.Sys().parent_path().c_str(), 0755);
    if (const struct group* dialout = getgrnam("dialout")) {
      chown(slave.c_str(), 0, dialout->gr_gid);
    }
    chmod(slave.c_str(), 0660);
    if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 0) != 0 ||
        setresuid(65534, 65534, 0) != 0) {
      _exit(2);
    }
  } else {
    chmod(slave.c_str(), 0);
  }
  struct stat node {};
  stat(slave.c_str(), &node);
  const struct group* owner = getgrgid(node.st_gid);
  const std::string group = owner != nullptr ? owner->gr_name : std::to_string(node.st_gid);

  win::InstallDeviceWorld(std::make_shared<win::host::HostWorld>(tree.Paths()));
  TForm1& form = CreateForm();
  bool finished = SpinUntil([&] { return form.Frame21().RowCount() == 1 && !form.Scanning(); });
  QStringList page;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      for (const QLabel* label : dialog->findChildren<QLabel*>()) {
        page << label->text();
      }
      dialog->accept();
    }
  });
  watch.start(10);
  if (finished) {
    QTest::mouseClick(&form.Frame21().Row(0).SettingsCell(), Qt::LeftButton);
    finished = SpinUntil([&] { return !page.isEmpty(); }, 10000);
  }
  const TPortRowView row = finished ? form.Frame21().Row(0).View() : TPortRowView{};
  const std::string shown = page.join("\n").toStdString();
  const auto has = [](const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  };
  std::fprintf(stderr, "state=[%s] icon=%d tip-group=%d tip-relogin=%d page-group=%d\n",
               row.State.c_str(), row.StateImage, has(row.ToolTip, "«" + group + "»"),
               has(row.ToolTip, "повторного входа"), has(shown, "«" + group + "»"));
  if (root && (setresuid(0, 0, 0) != 0 || setresgid(0, 0, 0) != 0)) {
    _exit(3);
  }
  std::error_code ignored;
  std::filesystem::remove_all(tree.Sys().parent_path(), ignored);
  _exit(0);  // the window and the application are still up: no static destructors
}

TEST_F(NoRightsTest, AUserWithoutRightsSeesWhyInTheRowAndOnThePageThatStillOpens) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Pty pty;
  tree.LinkDev("ttyUSB0", pty.SlavePath());
  EXPECT_EXIT(ScanAsUserWithoutRights(pty.SlavePath()), ::testing::ExitedWithCode(0),
              "state=\\[  Нет доступа\\] icon=2 tip-group=1 tip-relogin=1 page-group=1");
}

}  // namespace
}  // namespace talvik_test
