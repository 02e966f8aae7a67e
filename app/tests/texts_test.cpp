// The catalogue's wording of the codes and facts that the layers below hand up: a device's
// description reads as its settings page shows it, and each hint carries its values into the
// right places of its sentence.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/Texts.h"
#include "platform/bench/BenchWorld.h"
#include "platform/host/HostWorld.h"
#include "testing/HostFakeTree.h"

namespace talvik_test {
namespace {

using Line = std::pair<std::string, std::string>;

// The described device at `index` of the world's ports, worded.
std::vector<Line> Described(win::DeviceWorld& world, win::DWORD index) {
  win::GUID guid{};
  world.ClassGuidsFromName("Ports", &guid, 1, nullptr);
  const win::HDEVINFO list = world.GetClassDevs(&guid, nullptr, 0);
  win::SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  std::vector<Line> lines;
  if (world.EnumDeviceInfo(list, index, &data)) {
    for (const win::DeviceDetail& detail : world.Describe(list, &data)) {
      lines.emplace_back(texts::DeviceFactLabel(detail.fact), texts::DeviceFactValue(detail));
    }
  }
  world.DestroyDeviceInfoList(list);
  return lines;
}

TEST(TextsTest, TheHostWorldsDescriptionIsWordedByFact) {
  win::host::testing::FakeHostTree tree;
  tree.AddNative("ttyS0", "4");
  tree.AddUsb(win::host::testing::UsbAdapter().Node("ttyUSB0").Serial("A50285BI").Latency("16"));
  tree.AddSerialLink("by-id", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
  tree.Write(tree.Sys() / "devices/pnp0/00:00/tty/ttyS0/flags", "0x10002040");
  win::host::HostWorld world(tree.Paths());

  const std::vector<Line> usb = Described(world, 1);
  std::map<std::string, std::string> entries(usb.begin(), usb.end());
  EXPECT_EQ(entries["Устройство"], (tree.Dev() / "ttyUSB0").string());
  EXPECT_EQ(entries["Имя в /dev/serial/by-id"], "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  EXPECT_EQ(entries["Драйвер"], "ftdi_sio");
  EXPECT_EQ(entries["USB VID"], "0403");
  EXPECT_EQ(entries["USB PID"], "6001");
  EXPECT_EQ(entries["Серийный номер"], "A50285BI");
  EXPECT_EQ(entries["Задержка FTDI (latency_timer)"], "16 мс");
  EXPECT_THAT(Described(world, 0), ::testing::Contains(Line("Режим low_latency", "включён")));
}

TEST(TextsTest, TheBenchsWiringAndStateAreWordedWithTheirNumbers) {
  const auto bench = win::bench::BenchWorld::Create();
  win::bench::Device port = win::bench::MakePort("COM3", "Communications Port", "ACPI");
  port.wiring.echo = win::bench::Echo::WhileDtrHigh;
  port.wiring.answer = "abc";
  port.wiring.latencyMs = 25;
  port.wiring.carrier = win::bench::Carrier::FollowsDtr;
  port.faults.openError = 31;
  bench->AddDevice(port);
  bench->AddDevice(win::bench::MakePort("COM4", "Communications Port", "ACPI"));
  bench->PullOut("COM4");

  EXPECT_THAT(
      Described(*bench, 0),
      ::testing::ElementsAre(
          Line("Шина", "ACPI"),
          Line("Подключено",
               "эхо при высоком DTR, ответ: 3 байт, задержка ответа 25 мс, CD следует за DTR"),
          Line("Состояние", "не открывается (ошибка 31)")));
  EXPECT_THAT(
      Described(*bench, 1),
      ::testing::ElementsAre(Line("Шина", "ACPI"), Line("Подключено", "ничего не подключено"),
                             Line("Состояние", "отключён")));
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(TextsTest, HintsWordTheValuesTheyCarry) {
  EXPECT_EQ(texts::HintText({}), "");

  win::PortHint modemManager;
  modemManager.code = win::Hint::ModemManager;
  modemManager.vendorId = "0403";
  modemManager.productId = "6001";
  const std::string byIds = texts::HintText(modemManager);
  EXPECT_TRUE(Has(byIds, "ID_MM_DEVICE_IGNORE")) << byIds;
  EXPECT_TRUE(Has(byIds, "ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\",")) << byIds;
  modemManager.vendorId.clear();
  modemManager.productId.clear();
  EXPECT_FALSE(Has(texts::HintText(modemManager), "ATTRS{"));

  win::PortHint getty;
  getty.code = win::Hint::Getty;
  getty.program = "agetty";
  getty.line = "ttyS0";
  const std::string login = texts::HintText(getty);
  EXPECT_TRUE(Has(login, " agetty: ")) << login;
  EXPECT_TRUE(Has(login, "serial-getty@ttyS0.service")) << login;

  win::PortHint group;
  group.group = "dialout";
  for (const win::Hint code : {win::Hint::JoinGroup, win::Hint::UdevRule}) {
    group.code = code;
    const std::string rights = texts::HintText(group);
    EXPECT_TRUE(Has(rights, "«dialout»")) << rights;
    EXPECT_TRUE(Has(rights, "повторного входа")) << rights;
    EXPECT_EQ(Has(rights, "usermod -aG dialout $USER"), code == win::Hint::JoinGroup) << rights;
  }
}

}  // namespace
}  // namespace talvik_test
