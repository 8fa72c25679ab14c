#pragma once
// The regional date and time formats as the clock renders and reads them, and the one
// host-specific step that fills them in (from LC_TIME on POSIX, from the user's locale on
// Windows). Shared by the clock and the host's implementation only; the program asks the
// clock (Clock.h).

#include <string>
#include <vector>

enum class TField {
  Literal, Day, DaySpaced, Month, Year2, Year4, Hour24, Hour12, Minute, Second, AmPm,
  MonthAbbr, MonthName, DayAbbr, DayName,
  // Without a leading zero (Windows pictures "d", "M", "H", "h", "m", "s").
  Day1, Month1, Hour24_1, Hour12_1, Minute1, Second1,
};

struct TToken {
  TField Field;
  std::string Text;  // the literal, GBK
};

struct TFormats {
  std::vector<TToken> Date, Time;
  std::string Am = "AM", Pm = "PM";
  std::string MonthAbbr[12], MonthName[12], DayAbbr[7], DayName[7];
};

// Fills `f` from the host's regional settings, its texts in GBK. Whatever it leaves empty
// (Date, Time) falls back to the C formats.
void ReadHostFormats(TFormats& f);
