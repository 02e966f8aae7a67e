// The application's own settings page of a real port: the FTDI latency timer can be changed
// there, and a refusal is reported without losing the page's other values.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
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

namespace talvik_test {
namespace {

using win::host::testing::FakeHostTree;
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
    const win::HDEVINFO list =
        win::SetupDiGetClassDevsA(&guid, nullptr, nullptr, win::DIGCF_PRESENT);
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
  EXPECT_EQ(Boxes[0].type, win::MB_OK | win::MB_ICONERROR);
}

}  // namespace
}  // namespace talvik_test
