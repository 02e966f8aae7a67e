#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/Additions.h"
#include "serial/SpCommBuffer.h"
#include "serial/SpThread.h"
#include "serial/SpUtils.h"

using namespace win;

TEST(SpUtils, TimeoutIsStrictlyGreaterAndSurvivesTheTickWrap) {
  const TSpTimeout nearWrap{0xFFFFFFF0u, 100};
  EXPECT_FALSE(TimeoutElapsedAt(nearWrap, 0xFFFFFFF0u));
  EXPECT_FALSE(TimeoutElapsedAt(nearWrap, 0x00000053u));  // 99 ms after, past the wrap
  EXPECT_FALSE(TimeoutElapsedAt(nearWrap, 0x00000054u));  // exactly 100 ms: not yet
  EXPECT_TRUE(TimeoutElapsedAt(nearWrap, 0x00000055u));
  const TSpTimeout zero{1000, 0};
  EXPECT_FALSE(TimeoutElapsedAt(zero, 1000));
  EXPECT_TRUE(TimeoutElapsedAt(zero, 1001));
}

TEST(SpUtils, StartTimeoutUsesTheTickCount) {
  TSpTimeout timeout;
  StartTimeout(timeout, 5);
  EXPECT_EQ(timeout.Timeout, 5u);
  EXPECT_FALSE(TimeoutElapsed(TSpTimeout{GetTickCount(), 60000}));
  Sleep(30);
  EXPECT_TRUE(TimeoutElapsed(timeout));
}

TEST(SpUtils, TestFlagsReadsTheCommonBitsAsSigned) {
  EXPECT_TRUE(TestFlags(EV_RXCHAR | EV_ERR, EV_ERR));
  EXPECT_FALSE(TestFlags(EV_RXCHAR, EV_ERR));
  EXPECT_FALSE(TestFlags(0x80000000u, 0x80000000u));
  EXPECT_FALSE(TestFlags(0x80000001u, 0xFFFFFFFFu));
  EXPECT_TRUE(TestFlags(0x40000000u, 0xC0000000u));
}

TEST(SpUtils, FailurePausesGrowFromTwoMillisecondsAndStopAtTwoHundred) {
  std::vector<DWORD> pauses;
  for (DWORD pause = 0; pauses.size() < 10;) {
    pause = NextFailurePause(pause);
    pauses.push_back(pause);
  }
  EXPECT_EQ(pauses, (std::vector<DWORD>{2, 4, 8, 16, 32, 64, 128, 200, 200, 200}));
}

TEST(SpUtils, SysErrorMessageDropsTheTrailingFullStopAndLineBreak) {
  for (DWORD code : {ERROR_ACCESS_DENIED, ERROR_IO_PENDING}) {
    const std::string text = SysErrorMessage(code);
    ASSERT_FALSE(text.empty()) << code;
    EXPECT_NE(text.back(), '.') << code;
    EXPECT_NE(text.back(), '\n') << code;
    EXPECT_NE(text.back(), '\r') << code;
  }
}

TEST(SpThreadPriority, SystemValues) {
  EXPECT_EQ(SpSystemPriority(tpIdle), -15);
  EXPECT_EQ(SpSystemPriority(tpLowest), -2);
  EXPECT_EQ(SpSystemPriority(tpLower), -1);
  EXPECT_EQ(SpSystemPriority(tpNormal), 0);
  EXPECT_EQ(SpSystemPriority(tpHigher), 1);
  EXPECT_EQ(SpSystemPriority(tpHighest), 2);
  EXPECT_EQ(SpSystemPriority(tpTimeCritical), 15);
}

TEST(SpCommBuffer, QueueIsLinearAndItsBlockNeverMoves) {
  TSpCommBuffer buffer(8);
  std::uint8_t* const block = buffer.Data();
  EXPECT_EQ(buffer.Size(), 0);
  buffer.Append("abc", 3);
  buffer.Append("defgh", 5);  // exactly full
  EXPECT_EQ(buffer.Size(), 8);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.Data()), 8), "abcdefgh");
  buffer.Remove(3);  // a short completion: the rest moves to the front
  EXPECT_EQ(buffer.Size(), 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.Data()), 5), "defgh");
  buffer.Append("XY", 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.Data()), 7), "defghXY");
  buffer.Append("", 0);
  buffer.Remove(0);
  EXPECT_EQ(buffer.Size(), 7);
  buffer.Remove(7);
  EXPECT_EQ(buffer.Size(), 0);
  EXPECT_EQ(buffer.Data(), block);
}
