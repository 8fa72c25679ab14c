// Dates and times by the regional formats, calendar steps. The formats are pinned to the C
// locale, except where a test switches locale through the environment and reloads them.

#include <locale.h>

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "Clock.h"
#include "Failure.h"
#include "TestSupport.h"

namespace {

const char* const kLocaleVars[] = {"LC_ALL", "LC_TIME", "LANG", "LOCPATH"};

class ClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kLocaleVars) {
      const char* value = std::getenv(name);
      FSaved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
    }
    setenv("LC_ALL", "C", 1);
    LoadRegionalFormats();
  }
  void TearDown() override {
    for (std::size_t i = 0; i < FSaved.size(); ++i)
      SetVar(kLocaleVars[i], FSaved[i] ? FSaved[i]->c_str() : nullptr);
    LoadRegionalFormats();
  }
  static void SetVar(const char* name, const char* value) {
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }

 private:
  std::vector<std::optional<std::string>> FSaved;
};

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return TDateTime{y, mo, d, h, mi, s, ms};
}

bool Same(const TDateTime& a, const TDateTime& b) {
  return a.Year == b.Year && a.Month == b.Month && a.Day == b.Day && a.Hour == b.Hour &&
         a.Minute == b.Minute && a.Second == b.Second;
}

// What a text reads as, "yyyy-mm-dd hh:nn:ss", or the error it raises.
std::string ReadBack(const std::string& text) {
  try {
    const TDateTime t = StrToDateTime(text);
    char time[16];
    std::snprintf(time, sizeof time, " %02d:%02d:%02d", t.Hour, t.Minute, t.Second);
    return IsoDate(t) + time;
  } catch (const EFailure& e) {
    return e.Message();
  }
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
                                "12/08/26x", "12/08/26 13:05:09 extra", "12-08-26", "26-12-08 13:05:09",
                                "2026-13-08", "2026-02-30", "2026-12-08 24:00:00", "2026-12-08 13:05",
                                "2026-12-8", "2026-12-08T13:05:09", "2026-12-0813:05:09"})
    EXPECT_EQ(ReadBack(bad), "'" + bad + "' is not a valid date and time") << bad;
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

// The log stamp and LASTFILETIME under the locales the program's users run. Each row names the
// environment it runs in; the stamps are the GBK bytes the day log must hold.
enum class TStyle { C, Chinese, German };

struct TRegion {
  const char* LcAll;  // nullptr: unset
  const char* LcTime;
  const char* Lang;
  TStyle Style;
};

// 2026-12-09 11:08:49 and that day's midnight as each style writes them.
struct TStamps {
  std::string Stamp, Midnight;
};

TStamps StampsOf(TStyle style) {
  switch (style) {
    case TStyle::C: return {"12/09/26 11:08:49", "12/09/26"};
    case TStyle::German: return {"09.12.2026 11:08:49", "09.12.2026"};
    case TStyle::Chinese:
      // 2026年12月09日 11时08分49秒, 2026年12月09日
      return {"2026\xC4\xEA" "12\xD4\xC2" "09\xC8\xD5 11\xCA\xB1" "08\xB7\xD6" "49\xC3\xEB",
              "2026\xC4\xEA" "12\xD4\xC2" "09\xC8\xD5"};
  }
  return {};
}

// The Chinese stamp in UTF-8 bytes, which must not pass for a date in a GBK settings file.
const std::string kChineseInUtf8 =
    "2026\xE5\xB9\xB4" "12\xE6\x9C\x88" "09\xE6\x97\xA5 11\xE6\x97\xB6" "08\xE5\x88\x86" "49\xE7\xA7\x92";

TEST_F(ClockTest, StampAndLastFileTimeFollowTheLocale) {
  setenv("LOCPATH", LORVANE_TEST_LOCALES, 1);
  for (const char* name : {"zh_CN.UTF-8", "zh_CN.GB18030", "de_DE.UTF-8"}) {
    const locale_t loc = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
    ASSERT_NE(loc, static_cast<locale_t>(nullptr))
        << "the test locale " << name << " is missing from " << LORVANE_TEST_LOCALES
        << ": the build makes it with localedef from the Debian package locales (see its warnings)";
    freelocale(loc);
  }
  const TRegion rows[] = {
      {"C", nullptr, nullptr, TStyle::C},
      {"zh_CN.UTF-8", nullptr, nullptr, TStyle::Chinese},
      {"zh_CN.GB18030", nullptr, nullptr, TStyle::Chinese},
      {"de_DE.UTF-8", nullptr, nullptr, TStyle::German},
      // An empty LC_ALL counts as unset; the formats' bytes are in the time locale's own
      // character set, not in the one LANG names for character types.
      {"", "zh_CN.UTF-8", "zh_CN.GB18030", TStyle::Chinese},
      {"de_DE.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8", TStyle::German},
  };
  const TDateTime stampTime = At(2026, 12, 9, 11, 8, 49), midnight = At(2026, 12, 9);
  for (const TRegion& row : rows) {
    SCOPED_TRACE(std::string("LC_ALL=") + (row.LcAll ? row.LcAll : "(unset)") +
                 " LC_TIME=" + (row.LcTime ? row.LcTime : "(unset)") + " LANG=" + (row.Lang ? row.Lang : "(unset)"));
    SetVar("LC_ALL", row.LcAll);
    SetVar("LC_TIME", row.LcTime);
    SetVar("LANG", row.Lang);
    LoadRegionalFormats();
    const TStamps own = StampsOf(row.Style);
    EXPECT_EQ(DateTimeToStr(stampTime), own.Stamp);
    EXPECT_EQ(DateTimeToStr(midnight), own.Midnight);
    EXPECT_EQ(ReadBack(own.Stamp), "2026-12-09 11:08:49");
    EXPECT_EQ(ReadBack(own.Midnight), "2026-12-09 00:00:00");
    EXPECT_EQ(ReadBack("2026-12-07 11:10:00"), "2026-12-07 11:10:00");
    EXPECT_EQ(ReadBack("2026-12-07"), "2026-12-07 00:00:00");
    std::vector<std::string> foreign = {kChineseInUtf8};
    for (const TStyle other : {TStyle::C, TStyle::Chinese, TStyle::German})
      if (other != row.Style) foreign.push_back(StampsOf(other).Stamp);
    for (const std::string& text : foreign)
      EXPECT_EQ(ReadBack(text), "'" + text + "' is not a valid date and time");
  }
}

}  // namespace
