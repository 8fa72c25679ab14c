// The clock and the regional formats of the C library's locales.

#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <ctime>
#include <stdexcept>

#include "Clock.h"
#include "IconvText.h"
#include "RegionalFormats.h"

namespace {

// Reads the locale's texts and carries them into GBK from the character set they are in.
class TLocaleText {
 public:
  explicit TLocaleText(locale_t loc) : FLocale(loc), FCodeset(nl_langinfo_l(CODESET, loc)) {}
  std::string operator()(nl_item item) const { return HostToGbk(nl_langinfo_l(item, FLocale), FCodeset); }

 private:
  locale_t FLocale;
  std::string FCodeset;
};

void AddLiteral(std::vector<TToken>& out, const std::string& text) {
  if (text.empty()) return;
  if (!out.empty() && out.back().Field == TField::Literal) out.back().Text += text;
  else out.push_back(TToken{TField::Literal, text});
}

// Turns a strftime format into tokens; the composite conversions are expanded.
void Tokenize(const std::string& fmt, const TLocaleText& text, std::vector<TToken>& out, int depth = 0) {
  for (std::size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] != '%' || i + 1 >= fmt.size()) {
      AddLiteral(out, std::string(1, fmt[i]));
      continue;
    }
    char c = fmt[++i];
    while ((c == 'E' || c == 'O' || c == '-' || c == '_' || c == '0' || c == '^' || c == '#') &&
           i + 1 < fmt.size())
      c = fmt[++i];
    auto expand = [&](const std::string& sub) {
      if (depth < 3) Tokenize(sub, text, out, depth + 1);
    };
    switch (c) {
      case 'd': out.push_back({TField::Day, ""}); break;
      case 'e': out.push_back({TField::DaySpaced, ""}); break;
      case 'm': out.push_back({TField::Month, ""}); break;
      case 'y': out.push_back({TField::Year2, ""}); break;
      case 'Y': out.push_back({TField::Year4, ""}); break;
      case 'H': case 'k': out.push_back({TField::Hour24, ""}); break;
      case 'I': case 'l': out.push_back({TField::Hour12, ""}); break;
      case 'M': out.push_back({TField::Minute, ""}); break;
      case 'S': out.push_back({TField::Second, ""}); break;
      case 'p': case 'P': out.push_back({TField::AmPm, ""}); break;
      case 'b': case 'h': out.push_back({TField::MonthAbbr, ""}); break;
      case 'B': out.push_back({TField::MonthName, ""}); break;
      case 'a': out.push_back({TField::DayAbbr, ""}); break;
      case 'A': out.push_back({TField::DayName, ""}); break;
      case 'D': expand("%m/%d/%y"); break;
      case 'F': expand("%Y-%m-%d"); break;
      case 'T': expand("%H:%M:%S"); break;
      case 'R': expand("%H:%M"); break;
      case 'r': expand(text(T_FMT_AMPM)); break;
      case 'x': expand(text(D_FMT)); break;
      case 'X': expand(text(T_FMT)); break;
      case 'n': case 't': AddLiteral(out, " "); break;
      case '%': AddLiteral(out, "%"); break;
      default: break;  // nothing a date or a time needs
    }
  }
}

// The locale the environment names for dates and times, as the C library resolves it: the
// first of LC_ALL, LC_TIME and LANG that is set and not empty, else C.
std::string TimeLocaleName() {
  for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}

// The character set belongs to the character-type category, but the time texts are in the one
// their own locale was built with, which the environment may name differently for character
// types (LANG=zh_CN.GB18030 with LC_TIME=zh_CN.UTF-8); so both categories take the time name.
locale_t OpenTimeLocale() {
  const int mask = LC_TIME_MASK | LC_CTYPE_MASK;
  locale_t loc = newlocale(mask, TimeLocaleName().c_str(), static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr)) loc = newlocale(mask, "C", static_cast<locale_t>(nullptr));
  return loc;
}

void ReadFormats(locale_t loc, TFormats& f) {
  const TLocaleText text(loc);
  Tokenize(text(D_FMT), text, f.Date);
  Tokenize(text(T_FMT), text, f.Time);
  if (!text(AM_STR).empty()) f.Am = text(AM_STR);
  if (!text(PM_STR).empty()) f.Pm = text(PM_STR);
  for (int i = 0; i < 12; ++i) {
    f.MonthAbbr[i] = text(static_cast<nl_item>(ABMON_1 + i));
    f.MonthName[i] = text(static_cast<nl_item>(MON_1 + i));
  }
  for (int i = 0; i < 7; ++i) {
    f.DayAbbr[i] = text(static_cast<nl_item>(ABDAY_1 + i));
    f.DayName[i] = text(static_cast<nl_item>(DAY_1 + i));
  }
}

}  // namespace

TDateTime SystemNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  localtime_r(&ts.tv_sec, &tm);
  return TDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                   tm.tm_sec,        static_cast<int>(ts.tv_nsec / 1000000)};
}


void ReadHostFormats(TFormats& f) {
  if (const locale_t loc = OpenTimeLocale(); loc != static_cast<locale_t>(nullptr)) {
    try {
      ReadFormats(loc, f);
    } catch (const std::runtime_error&) {
      f = TFormats{};  // a character set iconv does not know: the C formats
    }
    freelocale(loc);
  }
}
