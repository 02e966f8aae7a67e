// The catalogue's wording of the codes and facts that the layers below hand up: each hint
// carries its values into the right places of its sentence.

#include <gtest/gtest.h>

#include <string>

#include "app/Texts.h"

namespace talvik_test {
namespace {

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
