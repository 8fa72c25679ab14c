#pragma once
// The regional formats of dates and times as the clock renders and reads them, and the host's
// part in them. Shared by the clock and the host implementation only; the program asks the
// clock (Clock.h).

#include <string>
#include <vector>

enum class TField {
  Literal, Day, DaySpaced, Month, Year2, Year4, Hour24, Hour12, Minute, Second, AmPm,
  MonthAbbr, MonthName, DayAbbr, DayName
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

// The formats the host's regional settings give, texts in GBK. Where the host gives none, or
// none that can be carried into GBK, Date and Time stay empty for the clock's own fallback.
TFormats HostRegionalFormats();
