// Dates and times by the regional formats (pinned to the C locale here), calendar steps.

#include <cstdlib>

#include "Clock.h"
#include "Failure.h"
#include "TestSupport.h"

namespace {

class ClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("LC_ALL", "C", 1);
    LoadRegionalFormats();
  }
  void TearDown() override {
    unsetenv("LC_ALL");
    LoadRegionalFormats();
  }
};

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return TDateTime{y, mo, d, h, mi, s, ms};
}

bool Same(const TDateTime& a, const TDateTime& b) {
  return a.Year == b.Year && a.Month == b.Month && a.Day == b.Day && a.Hour == b.Hour &&
         a.Minute == b.Minute && a.Second == b.Second;
}

std::string ErrorOf(const std::string& text) {
  try {
    StrToDateTime(text);
  } catch (const EFailure& e) {
    return e.Message();
  }
  return "";
}

TEST_F(ClockTest, ShortDateBlankLongTimeAndTheMidnightRule) {
  EXPECT_EQ(DateTimeToStr(At(2026, 12, 8, 13, 5, 9)), "12/08/26 13:05:09");
  EXPECT_EQ(DateTimeToStr(At(2026, 12, 8)), "12/08/26");
  EXPECT_EQ(DateTimeToStr(At(2026, 12, 8, 0, 0, 0, 999)), "12/08/26");  // to the second
  EXPECT_EQ(DateTimeToStr(At(2026, 12, 8, 0, 0, 1)), "12/08/26 00:00:01");
}

TEST_F(ClockTest, TextBackToDateTime) {
  for (const TDateTime& t : {At(2026, 12, 8, 13, 5, 9), At(2026, 1, 1), At(2024, 2, 29, 23, 59, 59),
                             At(2000, 6, 30, 0, 0, 1)})
    EXPECT_TRUE(Same(StrToDateTime(DateTimeToStr(t)), t)) << DateTimeToStr(t);
  EXPECT_TRUE(Same(StrToDateTime(" 12/8/2026  1:02:03 "), At(2026, 12, 8, 1, 2, 3)));
}

TEST_F(ClockTest, WhatIsNoDateTime) {
  for (const std::string bad : {"", "abc", "13/01/26", "02/30/26", "12/08/26 24:00:00", "12/08/26 12:60:00",
                                "12/08/26x", "12/08/26 13:05:09 extra", "12-08-26"})
    EXPECT_EQ(ErrorOf(bad), "'" + bad + "' is not a valid date and time") << bad;
}

TEST_F(ClockTest, DayArithmeticAndFixedFormats) {
  const TDateTime t = At(2024, 3, 1, 10, 20, 30);
  const TDateTime back = IncDays(t, -2);
  EXPECT_TRUE(Same(back, At(2024, 2, 28, 10, 20, 30)));
  EXPECT_TRUE(Same(IncDays(At(2026, 12, 31), 1), At(2027, 1, 1)));
  EXPECT_TRUE(Same(IncDays(At(2023, 3, 1), -1), At(2023, 2, 28)));
  EXPECT_EQ(IsoDate(At(2026, 12, 8)), "2026-12-08");
  EXPECT_EQ(CompactDate(At(2026, 1, 9)), "20260109");
  const TDateTime now = SystemNow();
  EXPECT_GE(now.Year, 2024);
  EXPECT_TRUE(now.Month >= 1 && now.Month <= 12 && now.MSec >= 0 && now.MSec < 1000);
}

}  // namespace
