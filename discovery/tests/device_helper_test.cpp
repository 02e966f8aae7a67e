#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "discovery/DeviceHelper.h"
#include "discovery/SetupApi.h"
#include "discovery/tests/DiscoveryFixture.h"
#include "platform/ConvertError.h"

using namespace win;
using win::bench::Property;

namespace {

class DeviceHelperTest : public DiscoveryTest {
 protected:
  void SetUp() override {
    DiscoveryTest::SetUp();
    ASSERT_TRUE(BindSetupApi());
  }

  void TearDown() override {
    if (list != nullptr) {
      win::SetupDiDestroyDeviceInfoList(list);
    }
    UnbindSetupApi();
    DiscoveryTest::TearDown();
  }

  // A reader pointed at a fresh device that has only `property`, stored under `code`.
  TDeviceHelper& ReaderFor(DWORD code, const Property& property) {
    if (list != nullptr) {
      win::SetupDiDestroyDeviceInfoList(list);
    }
    bench->Reset();
    bench::Device device;
    device.portName = "COM9";
    device.properties[code] = property;
    bench->AddDevice(device);
    GUID guid{};
    DWORD required = 0;
    EXPECT_TRUE(win::SetupDiClassGuidsFromNameA("Ports", &guid, 1, &required));
    list = win::SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT);
    helper.DeviceList = list;
    helper.DeviceInfoData.cbSize = sizeof(SP_DEVINFO_DATA);
    EXPECT_TRUE(win::SetupDiEnumDeviceInfo(list, 0, &helper.DeviceInfoData));
    return helper;
  }

  HDEVINFO list = nullptr;
  TDeviceHelper helper;
};

TEST_F(DeviceHelperTest, StringPropertiesReadAsTextOrEmpty) {
  TDeviceHelper& reader = ReaderFor(SPDRP_HARDWAREID, Property::MultiString({"a b", "c", "d"}));
  EXPECT_EQ(reader.ReadStringProperty(SPDRP_HARDWAREID), "a b, c, d");
  EXPECT_EQ(reader.ReadStringProperty(SPDRP_FRIENDLYNAME), "") << "missing property";

  EXPECT_EQ(ReaderFor(SPDRP_HARDWAREID, Property::MultiString({"only"}))
                .ReadStringProperty(SPDRP_HARDWAREID),
            "only");
  EXPECT_EQ(ReaderFor(SPDRP_FRIENDLYNAME, Property::DWord(0x4D4F43))
                .ReadStringProperty(SPDRP_FRIENDLYNAME),
            "")
      << "a number is no text";
  const std::string hostile = "Порт %s%n (COM4)" + std::string(5000, 'x');
  EXPECT_EQ(ReaderFor(SPDRP_FRIENDLYNAME, Property::String(hostile))
                .ReadStringProperty(SPDRP_FRIENDLYNAME),
            hostile);
}

TEST(JoinMultiSz, JoinsUpToTheEmptyStringOrTheEnd) {
  using namespace std::string_literals;
  EXPECT_EQ(JoinMultiSz("one\0two\0three\0\0"s), "one, two, three");
  EXPECT_EQ(JoinMultiSz("one\0\0two\0\0"s), "one") << "stops at the empty string";
  EXPECT_EQ(JoinMultiSz("\0one\0\0"s), "");
  EXPECT_EQ(JoinMultiSz("one\0tw"s), "one, tw") << "no terminator at the end";
  EXPECT_EQ(JoinMultiSz(""), "");
}

TEST_F(DeviceHelperTest, DWordPropertiesTakeAtMostFourBytes) {
  EXPECT_EQ(ReaderFor(SPDRP_REMOVAL_POLICY, Property::DWord(0x12345678))
                .ReadDWordProperty(SPDRP_REMOVAL_POLICY),
            0x12345678u);
  EXPECT_EQ(helper.ReadDWordProperty(SPDRP_FRIENDLYNAME), 0u) << "missing property";
  EXPECT_EQ(ReaderFor(SPDRP_MFG, Property::String("abc")).ReadDWordProperty(SPDRP_MFG),
            0x00636261u);
  EXPECT_EQ(ReaderFor(SPDRP_MFG, Property::String("abcd")).ReadDWordProperty(SPDRP_MFG), 0u);
}

TEST_F(DeviceHelperTest, RemovalPolicyNames) {
  EXPECT_EQ(ReaderFor(SPDRP_REMOVAL_POLICY, Property::DWord(16))
                .ReadRemovalPolicyText(SPDRP_REMOVAL_POLICY),
            "unknown 0x00000010");
  EXPECT_EQ(helper.ReadRemovalPolicyText(SPDRP_MFG), "") << "missing property reads as 0";
  EXPECT_EQ(RemovalPolicyText(0xFFFFFFFFu), "unknown 0xFFFFFFFF");
  EXPECT_EQ(RemovalPolicyText(0xABC), "unknown 0x00000ABC");
}

TEST_F(DeviceHelperTest, GuidPropertiesFromTextOrBytes) {
  const GUID expected{0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
  GUID read = ReaderFor(SPDRP_CLASSGUID, Property::String("{4D36E978-E325-11CE-BFC1-08002BE10318}"))
                  .ReadGuidProperty(SPDRP_CLASSGUID);
  EXPECT_EQ(std::memcmp(&read, &expected, sizeof(GUID)), 0);

  std::vector<BYTE> bytes(sizeof(GUID));
  std::memcpy(bytes.data(), &expected, sizeof(GUID));
  read = ReaderFor(SPDRP_BUSTYPEGUID, Property::Binary(bytes)).ReadGuidProperty(SPDRP_BUSTYPEGUID);
  EXPECT_EQ(std::memcmp(&read, &expected, sizeof(GUID)), 0);

  const GUID zero{};
  read = helper.ReadGuidProperty(SPDRP_CLASSGUID);
  EXPECT_EQ(std::memcmp(&read, &zero, sizeof(GUID)), 0) << "missing property";

  bytes.resize(20, 0xEE);
  read = ReaderFor(SPDRP_BUSTYPEGUID, Property::Binary(bytes)).ReadGuidProperty(SPDRP_BUSTYPEGUID);
  EXPECT_EQ(std::memcmp(&read, &zero, sizeof(GUID)), 0) << "longer than a GUID";
}

TEST_F(DeviceHelperTest, TextThatIsNoGuidRaisesAConversionError) {
  for (const std::string text : {"not a guid", "%s%n%x", "{4D36E978-E325-11CE-BFC1-08002BE1031}"}) {
    TDeviceHelper& reader = ReaderFor(SPDRP_CLASSGUID, Property::String(text));
    try {
      reader.ReadGuidProperty(SPDRP_CLASSGUID);
      ADD_FAILURE() << "no error for " << text;
    } catch (const EConvertError& error) {
      EXPECT_EQ(error.what(), "'" + text + "' is not a valid GUID value");
    }
  }
}

TEST_F(DeviceHelperTest, RawPropertiesNeedABufferTheirSize) {
  TDeviceHelper& reader = ReaderFor(SPDRP_BUSTYPEGUID, Property::Binary({1, 2, 3, 4, 5}));
  std::array<BYTE, 8> buffer{};
  EXPECT_TRUE(reader.ReadRawProperty(SPDRP_BUSTYPEGUID, buffer.data(), buffer.size()));
  EXPECT_EQ(buffer[4], 5);
  EXPECT_FALSE(reader.ReadRawProperty(SPDRP_BUSTYPEGUID, buffer.data(), 4));
  EXPECT_FALSE(reader.ReadRawProperty(SPDRP_MFG, buffer.data(), buffer.size()));
}

// A reader that replaces the basic operations changes the composite ones too.
class TFixedReader : public TDeviceHelper {
 public:
  std::string ReadStringProperty(DWORD) override {
    return "{00000001-0002-0003-0405-060708090A0B}";
  }
  DWORD ReadDWordProperty(DWORD) override { return 2; }
};

TEST(DeviceHelperComposition, CompositeReadersGoThroughTheVirtualBasics) {
  TFixedReader reader;
  TDeviceHelper& base = reader;
  const GUID guid = base.ReadGuidProperty(SPDRP_CLASSGUID);
  EXPECT_EQ(guid.Data1, 1u);
  EXPECT_EQ(guid.Data4[7], 0x0B);
  EXPECT_EQ(base.ReadRemovalPolicyText(SPDRP_REMOVAL_POLICY),
            "CM_REMOVAL_POLICY_EXPECT_ORDERLY_REMOVAL");
}

}  // namespace
