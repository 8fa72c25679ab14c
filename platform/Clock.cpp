#include "Clock.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "Convert.h"
#include "Failure.h"
#include "RegionalFormats.h"

namespace {

// --- Calendar arithmetic on the proleptic Gregorian calendar ---

long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<long long>(yoe) + era * 400 + (m <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

int WeekDay(const TDateTime& t) {  // 0 = Sunday
  const long long z = DaysFromCivil(t.Year, static_cast<unsigned>(t.Month), static_cast<unsigned>(t.Day));
  return static_cast<int>(((z % 7) + 11) % 7);  // 1970-01-01 was a Thursday
}

// --- The regional formats ---

std::mutex gFormatsLock;
std::shared_ptr<const TFormats> gFormats;  // replaced whole, so a reader keeps a stable set

void LoadFormatsLocked() {
  TFormats f;
  ReadHostFormats(f);
  // Without usable regional formats the program still needs a stamp it can read back.
  if (f.Date.empty())
    f.Date = {{TField::Month, ""}, {TField::Literal, "/"}, {TField::Day, ""},
              {TField::Literal, "/"}, {TField::Year2, ""}};
  if (f.Time.empty())
    f.Time = {{TField::Hour24, ""}, {TField::Literal, ":"}, {TField::Minute, ""},
              {TField::Literal, ":"}, {TField::Second, ""}};
  gFormats = std::make_shared<const TFormats>(std::move(f));
}

std::shared_ptr<const TFormats> Formats() {
  std::lock_guard<std::mutex> lock(gFormatsLock);
  if (!gFormats) LoadFormatsLocked();
  return gFormats;
}

std::string Two(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

void Render(const std::vector<TToken>& tokens, const TFormats& f, const TDateTime& t, std::string& out) {
  for (const TToken& k : tokens) {
    switch (k.Field) {
      case TField::Literal: out += k.Text; break;
      case TField::Day: out += Two(t.Day); break;
      case TField::DaySpaced: out += (t.Day < 10 ? " " : "") + std::to_string(t.Day); break;
      case TField::Month: out += Two(t.Month); break;
      case TField::Year2: out += Two(((t.Year % 100) + 100) % 100); break;
      case TField::Year4: out += std::to_string(t.Year); break;
      case TField::Hour24: out += Two(t.Hour); break;
      case TField::Hour12: out += Two(t.Hour % 12 == 0 ? 12 : t.Hour % 12); break;
      case TField::Minute: out += Two(t.Minute); break;
      case TField::Second: out += Two(t.Second); break;
      case TField::AmPm: out += t.Hour < 12 ? f.Am : f.Pm; break;
      case TField::MonthAbbr: out += f.MonthAbbr[t.Month - 1]; break;
      case TField::MonthName: out += f.MonthName[t.Month - 1]; break;
      case TField::DayAbbr: out += f.DayAbbr[WeekDay(t)]; break;
      case TField::DayName: out += f.DayName[WeekDay(t)]; break;
      case TField::Day1: out += std::to_string(t.Day); break;
      case TField::Month1: out += std::to_string(t.Month); break;
      case TField::Hour24_1: out += std::to_string(t.Hour); break;
      case TField::Hour12_1: out += std::to_string(t.Hour % 12 == 0 ? 12 : t.Hour % 12); break;
      case TField::Minute1: out += std::to_string(t.Minute); break;
      case TField::Second1: out += std::to_string(t.Second); break;
    }
  }
}

// --- Reading a date-time text back ---

struct TParsed {
  int Year = -1, Month = -1, Day = -1, Hour = 0, Minute = 0, Second = 0;
  int Hour12 = -1, AmPm = -1;  // AmPm: 0 am, 1 pm
  bool TwoDigitYear = false;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || c == '\t'; }

bool StartsWithText(std::string_view s, std::size_t at, const std::string& word) {
  return !word.empty() && s.size() - at >= word.size() && SameText(s.substr(at, word.size()), word);
}

// Matches the longest of `names` at `at`; gives its index.
int MatchName(std::string_view s, std::size_t& at, const std::string* names, int count) {
  int best = -1;
  std::size_t bestLen = 0;
  for (int i = 0; i < count; ++i)
    if (names[i].size() > bestLen && StartsWithText(s, at, names[i])) {
      best = i;
      bestLen = names[i].size();
    }
  at += bestLen;
  return best;
}

bool ReadNumber(std::string_view s, std::size_t& at, std::size_t maxDigits, int& value, std::size_t* digits = nullptr) {
  while (at < s.size() && IsSpace(s[at])) ++at;
  std::size_t n = 0;
  value = 0;
  while (at < s.size() && IsDigit(s[at]) && n < maxDigits) {
    value = value * 10 + (s[at] - '0');
    ++at;
    ++n;
  }
  if (digits) *digits = n;
  return n > 0;
}

bool Match(const std::vector<TToken>& tokens, const TFormats& f, std::string_view s, std::size_t& at, TParsed& p) {
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    const TToken& tok = tokens[k];
    switch (tok.Field) {
      case TField::Literal:
        for (std::size_t i = 0; i < tok.Text.size(); ++i) {
          if (IsSpace(tok.Text[i])) {
            while (at < s.size() && IsSpace(s[at])) ++at;
            continue;
          }
          // A double-byte character is one unit, so its second byte is never matched by case.
          const std::size_t n = IsGbkLead(static_cast<unsigned char>(tok.Text[i])) && i + 1 < tok.Text.size() ? 2 : 1;
          if (s.size() - at < n || !SameText(s.substr(at, n), std::string_view(tok.Text).substr(i, n)))
            return false;
          at += n;
          i += n - 1;
        }
        break;
      case TField::Day:
      case TField::DaySpaced:
      case TField::Day1:
        if (!ReadNumber(s, at, 2, p.Day)) return false;
        break;
      case TField::Month:
      case TField::Month1:
        if (!ReadNumber(s, at, 2, p.Month)) return false;
        break;
      case TField::Year2:
      case TField::Year4: {
        std::size_t digits = 0;
        // A two-digit format still takes a full year when the text gives one.
        const bool glued = k + 1 < tokens.size() && tokens[k + 1].Field != TField::Literal;
        const std::size_t width = tok.Field == TField::Year4 || !glued ? 4 : 2;
        if (!ReadNumber(s, at, width, p.Year, &digits)) return false;
        p.TwoDigitYear = digits <= 2;
        break;
      }
      case TField::Hour24:
      case TField::Hour24_1:
        if (!ReadNumber(s, at, 2, p.Hour)) return false;
        break;
      case TField::Hour12:
      case TField::Hour12_1:
        if (!ReadNumber(s, at, 2, p.Hour12)) return false;
        break;
      case TField::Minute:
      case TField::Minute1:
        if (!ReadNumber(s, at, 2, p.Minute)) return false;
        break;
      case TField::Second:
      case TField::Second1:
        if (!ReadNumber(s, at, 2, p.Second)) return false;
        break;
      case TField::AmPm: {
        while (at < s.size() && IsSpace(s[at])) ++at;
        const std::string marks[] = {f.Am, f.Pm, "AM", "PM"};
        const int i = MatchName(s, at, marks, 4);
        if (i < 0) return false;
        p.AmPm = i % 2;
        break;
      }
      case TField::MonthAbbr:
      case TField::MonthName: {
        int i = MatchName(s, at, f.MonthName, 12);
        if (i < 0) i = MatchName(s, at, f.MonthAbbr, 12);
        if (i < 0) return false;
        p.Month = i + 1;
        break;
      }
      case TField::DayAbbr:
      case TField::DayName: {
        int i = MatchName(s, at, f.DayName, 7);
        if (i < 0) i = MatchName(s, at, f.DayAbbr, 7);
        if (i < 0) return false;
        break;  // the weekday follows from the date
      }
    }
  }
  return true;
}

bool Complete(TParsed p, TDateTime& out) {
  if (p.Year < 0 || p.Month < 1 || p.Month > 12 || p.Day < 1) return false;
  if (p.TwoDigitYear) {
    // Two-digit years fall within fifty years of the current one.
    const int window = SystemNow().Year - 50;
    p.Year += window / 100 * 100;
    if (p.Year < window) p.Year += 100;
  }
  if (p.Year < 1 || p.Year > 9999 || p.Day > DaysInMonth(p.Year, p.Month)) return false;
  if (p.Hour12 >= 0) {
    if (p.Hour12 < 1 || p.Hour12 > 12) return false;
    p.Hour = p.Hour12 % 12 + (p.AmPm == 1 ? 12 : 0);
  } else if (p.AmPm == 1 && p.Hour < 12) {
    p.Hour += 12;
  }
  if (p.Hour > 23 || p.Minute > 59 || p.Second > 59) return false;
  out = TDateTime{p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, 0};
  return true;
}

// Reads `pattern` at `at` ('#' a digit, any other byte itself) and gives its digits as one
// number per run of '#'.
bool MatchPattern(std::string_view s, std::size_t& at, std::string_view pattern, std::vector<int>& numbers) {
  if (s.size() - at < pattern.size()) return false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = s[at + i];
    if (pattern[i] != '#') {
      if (c != pattern[i]) return false;
    } else if (!IsDigit(c)) {
      return false;
    } else if (i > 0 && pattern[i - 1] == '#') {
      numbers.back() = numbers.back() * 10 + (c - '0');
    } else {
      numbers.push_back(c - '0');
    }
  }
  at += pattern.size();
  return true;
}

// "yyyy-mm-dd" or "yyyy-mm-dd hh:nn:ss", every digit in place: the one form that reads the
// same under every regional setting.
bool MatchIso(std::string_view s, TDateTime& out) {
  std::size_t at = 0;
  std::vector<int> n;
  if (!MatchPattern(s, at, "####-##-##", n)) return false;
  if (at < s.size()) {
    if (!IsSpace(s[at])) return false;
    while (at < s.size() && IsSpace(s[at])) ++at;
    if (!MatchPattern(s, at, "##:##:##", n) || at != s.size()) return false;
  }
  n.resize(6, 0);
  TParsed p;
  p.Year = n[0];
  p.Month = n[1];
  p.Day = n[2];
  p.Hour = n[3];
  p.Minute = n[4];
  p.Second = n[5];
  return Complete(p, out);
}

}  // namespace

TDateTime IncDays(const TDateTime& t, int days) {
  TDateTime out = t;
  const long long z = DaysFromCivil(t.Year, static_cast<unsigned>(t.Month), static_cast<unsigned>(t.Day)) + days;
  CivilFromDays(z, out.Year, out.Month, out.Day);
  return out;
}

std::string IsoDate(const TDateTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.Year, t.Month, t.Day);
  return buf;
}

std::string CompactDate(const TDateTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", t.Year, t.Month, t.Day);
  return buf;
}

std::string DateTimeToStr(const TDateTime& t) {
  const auto formats = Formats();
  const TFormats& f = *formats;
  std::string out;
  Render(f.Date, f, t, out);
  if (t.Hour == 0 && t.Minute == 0 && t.Second == 0) return out;
  out += ' ';
  Render(f.Time, f, t, out);
  return out;
}

TDateTime StrToDateTime(const std::string& text) {
  const auto formats = Formats();
  const TFormats& f = *formats;
  const std::string_view s = Trim(text);
  TParsed p;
  std::size_t at = 0;
  TDateTime out;
  if (Match(f.Date, f, s, at, p)) {
    const std::size_t dateEnd = at;
    if (dateEnd == s.size() && Complete(p, out)) return out;
    TParsed withTime = p;
    if (dateEnd < s.size() && IsSpace(s[dateEnd]) && Match(f.Time, f, s, at, withTime) &&
        at == s.size() && Complete(withTime, out))
      return out;
  }
  if (MatchIso(s, out)) return out;
  throw EFailure(Fmt(Texts::NotADateTime, text));
}

void LoadRegionalFormats() {
  std::lock_guard<std::mutex> lock(gFormatsLock);
  LoadFormatsLocked();
}
