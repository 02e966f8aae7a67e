// Message filling, device name expansion and system texts of the comm component.

#include <gtest/gtest.h>

#include <string>

#include "platform/Additions.h"
#include "serial/SpCommText.h"

namespace {

TEST(CommText, FillsCodeAndTextInOrderAndNothingElse) {
  EXPECT_EQ(SpFormat("Error writing dcb (%d), %s", {87, "The parameter is incorrect"}),
            "Error writing dcb (87), The parameter is incorrect");
  // Formats without placeholders come out unchanged.
  EXPECT_EQ(SpFormat("Can't perform this operation while port is open", {5, "x"}),
            "Can't perform this operation while port is open");
  // A filled-in text is data: its directives are not filled again.
  EXPECT_EQ(SpFormat("device %s (Error %d, %s)", {"%s%d%n", 5, "100%"}),
            "device %s%d%n (Error 5, 100%)");
  EXPECT_EQ(SpFormat("%x %% %d %s %s", {1, "a"}), "%x % 1 a %s");
  EXPECT_EQ(SpFormat("ends with %", {}), "ends with %");
}

TEST(CommText, DeviceNameExpandsOnlyPortNumberAndPercent) {
  EXPECT_EQ(SpExpandDeviceName("COM%d", 3), "COM3");
  EXPECT_EQ(SpExpandDeviceName("COM7", 3), "COM7");
  EXPECT_EQ(SpExpandDeviceName("COM%d%d", 1), "COM11");
  EXPECT_EQ(SpExpandDeviceName("%%d", 4), "%d");
  EXPECT_EQ(SpExpandDeviceName("%s%n%x%", 4), "%s%n%x%");
  EXPECT_EQ(SpExpandDeviceName("COM%d", 2147483647), "COM2147483647");
  const std::string huge(10240, '%');
  EXPECT_EQ(SpExpandDeviceName(huge + "d", 9), std::string(5120, '%') + "d");
  const std::string longName(10240, 'n');
  EXPECT_EQ(SpExpandDeviceName(longName + "%d", 1), longName + "1");
}

TEST(CommText, CodeWithoutSystemTextGivesNoText) {
  EXPECT_EQ(win::SysErrorMessage(0xFFFFFF0u), "");
}

}  // namespace
