#include <gtest/gtest.h>

#include "discovery/ModuleLoader.h"
#include "discovery/OSError.h"
#include "discovery/SetupApi.h"
#include "discovery/tests/DiscoveryFixture.h"

using namespace win;

namespace {

class SetupApiBindingTest : public DiscoveryTest {
 protected:
  void TearDown() override {
    while (SetupApiBindCount() > 0) {
      UnbindSetupApi();
    }
    DiscoveryTest::TearDown();
  }

  static int FilledSlots() {
    int filled = 0;
    for (std::size_t i = 0; i < SetupApiSlotCount(); ++i) {
      filled += SetupApiSlot(i) != nullptr ? 1 : 0;
    }
    return filled;
  }
};

TEST_F(SetupApiBindingTest, ModuleLoaderLoadsOnceAndTracksMissingExports) {
  HMODULE module = nullptr;
  ASSERT_TRUE(OpenModule(module, "SetupApi.dll"));
  const HMODULE first = module;
  EXPECT_TRUE(OpenModule(module, "no-such-library.dll")) << "a held handle is left alone";
  EXPECT_EQ(module, first);

  bool allFound = true;
  EXPECT_NE(FindModuleSymbol(module, "SetupDiEnumDeviceInfo", allFound), nullptr);
  EXPECT_TRUE(allFound);
  EXPECT_EQ(FindModuleSymbol(module, "NoSuchExport", allFound), nullptr);
  EXPECT_FALSE(allFound);
  EXPECT_NE(FindModuleSymbol(module, "SetupDiEnumDeviceInfo", allFound), nullptr);
  EXPECT_FALSE(allFound) << "a later success must not set the flag again";

  CloseModule(module);
  EXPECT_EQ(module, nullptr);
  EXPECT_FALSE(OpenModule(module, "no-such-library.dll"));
}

TEST_F(SetupApiBindingTest, NestedBindingsShareOneLibraryUntilTheLastUnbind) {
  ASSERT_TRUE(BindSetupApi());
  const int slots = FilledSlots();
  EXPECT_EQ(static_cast<std::size_t>(slots), SetupApiSlotCount());
  ASSERT_TRUE(BindSetupApi());
  EXPECT_EQ(SetupApiBindCount(), 2);

  UnbindSetupApi();
  EXPECT_TRUE(SetupApiLoaded());
  EXPECT_EQ(FilledSlots(), slots);

  UnbindSetupApi();
  EXPECT_FALSE(SetupApiLoaded());
  EXPECT_EQ(FilledSlots(), 0);
  EXPECT_EQ(SetupApiBindCount(), 0);

  // Outside a binding a typed call fails cleanly instead of jumping through an empty slot.
  DWORD required = 0;
  GUID guid{};
  SetLastError(0);
  EXPECT_FALSE(SetupApi().SetupDiClassGuidsFromNameA("Ports", &guid, 1, &required));
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
}

TEST_F(SetupApiBindingTest, FailedLoadDoesNotCountAsBound) {
  RegisterBuiltinModule(BuiltinModule{"SetupApi.dll", {}, ERROR_MOD_NOT_FOUND});
  EXPECT_FALSE(BindSetupApi());
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(SetupApiBindCount(), 0);
  EXPECT_FALSE(SetupApiLoaded());

  EXPECT_THROW(TSetupApiBinding(), EOSError);
  EXPECT_EQ(SetupApiBindCount(), 0);

  RegisterBuiltinModule(detail::SetupApiModule());
  ASSERT_TRUE(BindSetupApi()) << "the next bind must load again, not trust a stale count";
  EXPECT_TRUE(SetupApiLoaded());
  EXPECT_EQ(SetupApiBindCount(), 1);
}

TEST_F(SetupApiBindingTest, AnyMissingExportLeavesNothingBound) {
  // One of the called entry points, and one that is bound but never called.
  for (const char* missing : {"SetupDiEnumDeviceInfo", "SetupGetInfInformationW"}) {
    SCOPED_TRACE(missing);
    ReplaceSetupApiExport(missing, nullptr);
    EXPECT_FALSE(BindSetupApi());
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(SetupApiBindCount(), 0);
    EXPECT_FALSE(SetupApiLoaded());
    EXPECT_EQ(FilledSlots(), 0);
  }
}

}  // namespace
