#pragma once
// Local date and time, and the host's regional formats (LC_TIME) for the texts that the log
// stamps and the LASTFILETIME setting use, in GBK like every other text.

#include <string>

struct TDateTime {
  int Year = 1970, Month = 1, Day = 1;
  int Hour = 0, Minute = 0, Second = 0, MSec = 0;
};

// The local date and time now, by the host clock.
TDateTime SystemNow();
// `t` moved by whole days (calendar arithmetic on the local fields).
TDateTime IncDays(const TDateTime& t, int days);
// "yyyy-mm-dd", whatever the regional settings say.
std::string IsoDate(const TDateTime& t);
// "YYYYMMDD".
std::string CompactDate(const TDateTime& t);
// Short date + " " + long time by the regional formats; the short date alone at exactly
// 00:00:00.
std::string DateTimeToStr(const TDateTime& t);
// The reverse of DateTimeToStr (the date alone, or the date and time), and the same in the
// form "yyyy-mm-dd" or "yyyy-mm-dd hh:nn:ss", which reads alike under every regional setting.
// Throws EFailure "'%s' is not a valid date and time" when `text` is none of these.
TDateTime StrToDateTime(const std::string& text);
// Re-reads the regional formats from the environment: the locale named by the first of
// LC_ALL, LC_TIME and LANG that is set, its texts carried from its own character set into GBK;
// the C formats when that locale cannot be loaded. Not safe while another thread sets the
// environment.
void LoadRegionalFormats();
