// System texts, built-in modules, GUID texts, tick count, control-block flags, application hooks.

#include <gtest/gtest.h>

#include <array>
#include <stdexcept>
#include <string>

#include "platform/Additions.h"

using namespace win;

namespace {

std::string SystemText(DWORD code, DWORD size = 512) {
  std::string buffer(size, '\xAA');
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer.data(), size, nullptr);
  if (length == 0) {
    return {};
  }
  EXPECT_EQ(buffer[length], '\0');
  return buffer.substr(0, length);
}

// The texts themselves are the system's (Wine words them otherwise than Windows): every code this
// layer reports has one, ending as the system ends them.
TEST(BasicsSystem, FormatMessageGivesTheSystemTexts) {
  for (DWORD code : {1u,   2u,   3u,   5u,   6u,    8u,    13u,   21u,   22u,  31u,
                     32u,  50u,  87u,  120u, 121u,  122u,  123u,  126u,  127u, 259u,
                     317u, 995u, 996u, 997u, 1004u, 1167u, 1168u, 1400u, 1784u}) {
    const std::string text = SystemText(code);
    ASSERT_GT(text.size(), 3u) << code;
    EXPECT_EQ(text.substr(text.size() - 3), ".\r\n") << code;
  }
}

TEST(BasicsSystem, FormatMessageFailures) {
  std::array<char, 64> buffer{};
  SetLastError(0);
  EXPECT_EQ(
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 12345, 0, buffer.data(), 64, nullptr),
      0u);
  EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);

  const std::string denied = SystemText(ERROR_ACCESS_DENIED);
  const auto fits = static_cast<DWORD>(denied.size() + 1);  // the NUL needs its place
  SetLastError(0);
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0,
                           buffer.data(), fits - 1, nullptr),
            0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0,
                           buffer.data(), fits, nullptr),
            denied.size());
  EXPECT_EQ(std::string(buffer.data()), denied);
}

using ClassGuidsProc = BOOL (*)(PCSTR, LPGUID, DWORD, PDWORD);
using ClassNameProc = BOOL (*)(const GUID*, char*, DWORD, PDWORD);

INT_PTR Answer() {
  return 1;
}
INT_PTR OtherAnswer() {
  return 2;
}

TEST(BasicsSystem, SetupApiIsBuiltInWithEveryExport) {
  HMODULE module = win::LoadLibraryA("SETUPAPI.DLL");
  ASSERT_NE(module, nullptr);
  for (const char* name : {"SetupDiClassGuidsFromNameA",
                           "SetupDiGetClassDevsA",
                           "SetupDiEnumDeviceInfo",
                           "SetupDiGetDeviceRegistryPropertyA",
                           "SetupDiDestroyDeviceInfoList",
                           "SetupGetInfInformationA",
                           "SetupGetInfInformationW",
                           "SetupOpenInfFileA",
                           "SetupOpenInfFileW",
                           "SetupCloseInfFile",
                           "SetupDiClassGuidsFromNameW",
                           "SetupDiGetClassDevsW",
                           "SetupDiGetDeviceRegistryPropertyW",
                           "SetupDiClassNameFromGuidA",
                           "SetupDiClassNameFromGuidW",
                           "SetupDiGetClassDescriptionA",
                           "SetupDiGetClassDescriptionW",
                           "SetupDiGetDeviceInstanceIdA",
                           "SetupDiGetDeviceInstanceIdW",
                           "SetupDiOpenDevRegKey",
                           "SetupDiCreateDeviceInfoList",
                           "SetupDiEnumDeviceInterfaces",
                           "SetupDiGetDeviceInterfaceDetailA",
                           "SetupDiGetDeviceInterfaceDetailW"}) {
    EXPECT_NE(win::GetProcAddress(module, name), nullptr) << name;
  }
  EXPECT_EQ(ProcCast<ClassGuidsProc>(win::GetProcAddress(module, "SetupDiClassGuidsFromNameA")),
            &win::SetupDiClassGuidsFromNameA);
  auto className =
      ProcCast<ClassNameProc>(win::GetProcAddress(module, "SetupDiClassNameFromGuidA"));
  SetLastError(0);
  EXPECT_FALSE(className(nullptr, nullptr, 0, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);

  SetLastError(0);
  EXPECT_EQ(win::GetProcAddress(module, "setupdiclassguidsfromnamea"), nullptr);  // names are exact
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_TRUE(win::FreeLibrary(module));
}

TEST(BasicsSystem, ModuleLoadFailures) {
  SetLastError(0);
  EXPECT_EQ(win::LoadLibraryA("nosuch.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

  RegisterBuiltinModule({"broken.dll", {{"Answer", ToFarProc(&Answer)}}, ERROR_ACCESS_DENIED});
  SetLastError(0);
  EXPECT_EQ(win::LoadLibraryA("Broken.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  UnregisterBuiltinModule("broken.dll");
  SetLastError(0);
  EXPECT_EQ(win::LoadLibraryA("broken.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

  SetLastError(0);
  EXPECT_FALSE(win::FreeLibrary(reinterpret_cast<HMODULE>(0x1234)));
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(BasicsSystem, ModulesAreCountedAndOutliveTheirRegistration) {
  RegisterBuiltinModule({"answers.dll", {{"Answer", ToFarProc(&Answer)}}, 0});
  HMODULE first = win::LoadLibraryA("answers.dll");
  HMODULE second = win::LoadLibraryA("ANSWERS");  // no extension: a .dll
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);

  RegisterBuiltinModule({"answers.dll", {{"Answer", ToFarProc(&OtherAnswer)}}, 0});
  HMODULE replaced = win::LoadLibraryA("answers.dll");
  ASSERT_NE(replaced, nullptr);
  EXPECT_NE(replaced, first);
  EXPECT_EQ(ProcCast<INT_PTR (*)()>(win::GetProcAddress(replaced, "Answer"))(), 2);
  UnregisterBuiltinModule("answers.dll");
  EXPECT_EQ(ProcCast<INT_PTR (*)()>(win::GetProcAddress(first, "Answer"))(), 1);

  EXPECT_TRUE(win::FreeLibrary(first));
  EXPECT_NE(win::GetProcAddress(first, "Answer"), nullptr);  // one reference left
  EXPECT_TRUE(win::FreeLibrary(first));
  SetLastError(0);
  EXPECT_EQ(win::GetProcAddress(first, "Answer"), nullptr);
  EXPECT_FALSE(win::FreeLibrary(first));
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_TRUE(win::FreeLibrary(replaced));
}

TEST(BasicsSystem, ClsidFromStringReadsBracedGuids) {
  GUID guid{};
  ASSERT_EQ(CLSIDFromString(L"{4D36E978-e325-11CE-BFC1-08002BE10318}", &guid), S_OK);
  EXPECT_EQ(guid.Data1, 0x4D36E978u);
  EXPECT_EQ(guid.Data2, 0xE325u);
  EXPECT_EQ(guid.Data3, 0x11CEu);
  const std::array<BYTE, 8> data4{0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18};
  EXPECT_TRUE(std::equal(data4.begin(), data4.end(), guid.Data4));

  for (const wchar_t* bad :
       {L"4D36E978-E325-11CE-BFC1-08002BE10318", L"{4D36E978-E325-11CE-BFC1-08002BE10318",
        L"{4D36E978-E325-11CE-BFC1-08002BE103180}", L"{4D36E978-E325-11CE-BFC1-08002BE1031G}",
        L"{4D36E978E-325-11CE-BFC1-08002BE10318}", L"{4D36E978-E325-11CE-BFC1+08002BE10318}",
        L"{ 4D36E978-E325-11CE}", L""}) {
    GUID rejected{};
    EXPECT_EQ(CLSIDFromString(bad, &rejected), CO_E_CLASSSTRING);
  }
}

TEST(BasicsSystem, TickCountFollowsSleep) {
  // Windows moves the count in steps of up to 16 ms.
  const DWORD start = GetTickCount();
  Sleep(40);
  EXPECT_GE(GetTickCount() - start, 24u);
}

TEST(BasicsSystem, DcbFlagsIsTheFlagsWord) {
  DCB dcb{};
  dcb.fBinary = 1;
  dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
  dcb.fRtsControl = RTS_CONTROL_TOGGLE;
  dcb.fAbortOnError = 1;
  dcb.BaudRate = 0xFFFFFFFF;
  EXPECT_EQ(DcbFlags(dcb), 0x1u | (2u << 4) | (3u << 12) | (1u << 14));
}

TEST(BasicsSystem, ApplicationHooksReceiveBoxesAndErrors) {
  std::string shown;
  SetMessageBoxHook([&](HWND, const std::string& text, const std::string& caption, UINT type) {
    shown = caption + "|" + text + "|" + std::to_string(type);
    return 7;
  });
  SetApplicationTitle("Тальвик");
  EXPECT_EQ(win::MessageBoxA(nullptr, "Нет портов", ApplicationTitle().c_str(), MB_ICONERROR), 7);
  EXPECT_EQ(shown, "Тальвик|Нет портов|16");

  std::string reported;
  SetApplicationExceptionHook([&](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      reported = e.what();
    }
  });
  HandleApplicationException(std::make_exception_ptr(std::runtime_error("broken")));
  EXPECT_EQ(reported, "broken");

  int pumped = 0;
  SetMessagePump([&] { ++pumped; });
  PumpOneMessage();
  EXPECT_EQ(pumped, 1);

  SetMessageBoxHook(nullptr);
  SetApplicationExceptionHook(nullptr);
  SetMessagePump(nullptr);
  SetApplicationTitle("");
  PumpOneMessage();
  EXPECT_EQ(pumped, 1);
}

}  // namespace
