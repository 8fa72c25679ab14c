// The clock and the regional formats on Windows: the local time of GetLocalTime, and the
// user's short date and time formats (Control Panel, Region) as GetLocaleInfoW gives them.
#include "Win32Api.h"

#include "Clock.h"
#include "RegionalFormats.h"
#include "Win32Text.h"

namespace {

std::string LocaleText(LCTYPE item) {
  wchar_t buffer[128];
  const int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, item, buffer, static_cast<int>(std::size(buffer)));
  if (n <= 1) return {};
  return win32::Narrow(std::wstring_view(buffer, static_cast<std::size_t>(n - 1)));
}

void AddLiteral(std::vector<TToken>& out, const std::string& text) {
  if (text.empty()) return;
  if (!out.empty() && out.back().Field == TField::Literal) out.back().Text += text;
  else out.push_back(TToken{TField::Literal, text});
}

// A Windows format picture ("yyyy/M/d", "H:mm:ss", "dddd, MMMM d, yyyy", "h:mm:ss tt") in
// tokens: runs of one letter are fields by their length, text in single quotes is literal
// ('' a quote), every other character is itself.
std::vector<TToken> Picture(const std::string& picture) {
  std::vector<TToken> out;
  for (std::size_t i = 0; i < picture.size();) {
    const char c = picture[i];
    if (c == '\'') {
      std::string literal;
      ++i;
      while (i < picture.size()) {
        if (picture[i] == '\'') {
          if (i + 1 < picture.size() && picture[i + 1] == '\'') {
            literal += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        literal += picture[i++];
      }
      AddLiteral(out, literal);
      continue;
    }
    std::size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c) ++run;
    const auto field = [&](TField one, TField two) { out.push_back({run == 1 ? one : two, ""}); };
    switch (c) {
      case 'd':
        if (run <= 2) field(TField::Day1, TField::Day);
        else out.push_back({run == 3 ? TField::DayAbbr : TField::DayName, ""});
        break;
      case 'M':
        if (run <= 2) field(TField::Month1, TField::Month);
        else out.push_back({run == 3 ? TField::MonthAbbr : TField::MonthName, ""});
        break;
      case 'y': out.push_back({run <= 2 ? TField::Year2 : TField::Year4, ""}); break;
      case 'H': field(TField::Hour24_1, TField::Hour24); break;
      case 'h': field(TField::Hour12_1, TField::Hour12); break;
      case 'm': field(TField::Minute1, TField::Minute); break;
      case 's': field(TField::Second1, TField::Second); break;
      case 't': out.push_back({TField::AmPm, ""}); break;
      case 'g': break;  // the era: nothing a stamp of this program needs
      default: AddLiteral(out, picture.substr(i, run)); break;
    }
    i += run;
  }
  return out;
}

}  // namespace

TDateTime SystemNow() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  return TDateTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

void ReadHostFormats(TFormats& f) {
  f.Date = Picture(LocaleText(LOCALE_SSHORTDATE));
  f.Time = Picture(LocaleText(LOCALE_STIMEFORMAT));
  if (const std::string am = LocaleText(LOCALE_S1159); !am.empty()) f.Am = am;
  if (const std::string pm = LocaleText(LOCALE_S2359); !pm.empty()) f.Pm = pm;
  for (int i = 0; i < 12; ++i) {
    f.MonthAbbr[i] = LocaleText(static_cast<LCTYPE>(LOCALE_SABBREVMONTHNAME1 + i));
    f.MonthName[i] = LocaleText(static_cast<LCTYPE>(LOCALE_SMONTHNAME1 + i));
  }
  // Windows counts the days from Monday (1) to Sunday (7); the clock from Sunday (0).
  for (int i = 0; i < 7; ++i) {
    const int windowsDay = i == 0 ? 6 : i - 1;
    f.DayAbbr[i] = LocaleText(static_cast<LCTYPE>(LOCALE_SABBREVDAYNAME1 + windowsDay));
    f.DayName[i] = LocaleText(static_cast<LCTYPE>(LOCALE_SDAYNAME1 + windowsDay));
  }
}
