// What the POSIX system basics promise beyond what Windows itself does: Windows' own English
// texts (Wine words them otherwise), a refused thread without a body (Windows starts it, and it
// crashes), and a GUID left as it was when its text is refused (Windows writes to it).

#include <gtest/gtest.h>

#include <string>

#include "platform/Win32.h"

using namespace win;

namespace {

std::string SystemText(DWORD code) {
  std::string buffer(512, '\0');
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer.data(), 512, nullptr);
  return buffer.substr(0, length);
}

TEST(BasicsPosix, SystemTextsAreWindowsOwn) {
  EXPECT_EQ(SystemText(ERROR_SUCCESS), "The operation completed successfully.\r\n");
  EXPECT_EQ(SystemText(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.\r\n");
  EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED), "Access is denied.\r\n");
  EXPECT_EQ(SystemText(ERROR_OPERATION_ABORTED),
            "The I/O operation has been aborted because of either a thread exit or an "
            "application request.\r\n");
  EXPECT_EQ(SystemText(ERROR_MR_MID_NOT_FOUND),
            "The system cannot find message text for message number 0x%1 in the message file "
            "for %2.\r\n");
  EXPECT_EQ(SystemText(ERROR_INVALID_WINDOW_HANDLE), "Invalid window handle.\r\n");
}

TEST(BasicsPosix, ThreadWithoutABodyIsRefused) {
  SetLastError(0);
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(BasicsPosix, RefusedGuidTextLeavesTheGuidAlone) {
  GUID untouched{1, 2, 3, {4}};
  EXPECT_EQ(CLSIDFromString(L"{4D36E978-E325-11CE-BFC1-08002BE1031G}", &untouched),
            CO_E_CLASSSTRING);
  EXPECT_EQ(untouched.Data1, 1u);
}

}  // namespace
