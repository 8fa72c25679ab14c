#include "Win32Text.h"

#include "Win32Api.h"

#include "Convert.h"
#include "WideText.h"

namespace win32 {

namespace {

constexpr UINT kGbk = 936;
constexpr wchar_t kByteBase = 0xF700;  // U+F700 + byte: a byte that is no GBK character

bool IsAscii(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

bool IsAscii(std::wstring_view text) {
  for (const wchar_t c : text)
    if (c >= 0x80) return false;
  return true;
}

// Converts the whole text at once, or gives false when any part of it does not convert.
bool WholeToWide(UINT codePage, std::string_view text, std::wstring& out) {
  if (text.empty()) {
    out.clear();
    return true;
  }
  const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0);
  if (n <= 0) return false;
  out.assign(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), out.data(), n);
  return true;
}

// Converts to `codePage` without a substitute: false when a character has no form there.
bool WholeToNarrow(UINT codePage, std::wstring_view text, std::string& out) {
  if (text.empty()) {
    out.clear();
    return true;
  }
  const DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* used = codePage == CP_UTF8 ? nullptr : &usedDefault;
  const int n = WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, used);
  if (n <= 0 || usedDefault) return false;
  out.assign(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, used);
  return !usedDefault;
}

// The length of the character of `text` at `i` in UTF-16 units (a surrogate pair is two).
std::size_t WideLength(std::wstring_view text, std::size_t i) {
  return text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                 text[i + 1] <= 0xDFFF
             ? 2
             : 1;
}

// The length of the UTF-8 sequence at `i` when it is one, else 0.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  return n;
}

}  // namespace

std::wstring Wide(std::string_view gbk) {
  std::wstring out;
  if (IsAscii(gbk)) return std::wstring(gbk.begin(), gbk.end());
  if (WholeToWide(kGbk, gbk, out)) return out;
  // Character by character, so that a stray byte costs only itself.
  out.clear();
  for (std::size_t i = 0; i < gbk.size();) {
    const auto b = static_cast<unsigned char>(gbk[i]);
    std::wstring one;
    if (b < 0x80) {
      out += static_cast<wchar_t>(b);
      ++i;
    } else if (IsGbkLead(b) && i + 1 < gbk.size() && WholeToWide(kGbk, gbk.substr(i, 2), one) && one.size() == 1) {
      out += one;
      i += 2;
    } else {
      out += static_cast<wchar_t>(kByteBase + b);
      ++i;
    }
  }
  return out;
}

std::string Narrow(std::wstring_view wide, bool* exact) {
  if (exact) *exact = true;
  std::string out;
  if (IsAscii(wide)) return std::string(wide.begin(), wide.end());
  bool stray = false;
  for (const wchar_t c : wide) stray = stray || (c >= kByteBase && c <= kByteBase + 0xFF);
  if (!stray && WholeToNarrow(kGbk, wide, out)) return out;
  out.clear();
  for (std::size_t i = 0; i < wide.size();) {
    const std::size_t n = WideLength(wide, i);
    const wchar_t c = wide[i];
    std::string one;
    if (c >= kByteBase && c <= kByteBase + 0xFF) {
      out += static_cast<char>(c - kByteBase);
      if (exact) *exact = false;  // a name no GBK text could give
    } else if (WholeToNarrow(kGbk, wide.substr(i, n), one)) {
      out += one;
    } else {
      // No GBK form: the UTF-8 bytes are carried over, as the POSIX side does with a host
      // name it cannot convert.
      out += Utf8FromWide(wide.substr(i, n));
      if (exact) *exact = false;
    }
    i += n;
  }
  return out;
}

std::wstring WideFromUtf8(std::string_view utf8) {
  std::wstring out;
  if (IsAscii(utf8)) return std::wstring(utf8.begin(), utf8.end());
  if (WholeToWide(CP_UTF8, utf8, out)) return out;
  out.clear();
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t n = Utf8Length(utf8, i);
    std::wstring one;
    if (n > 0 && WholeToWide(CP_UTF8, utf8.substr(i, n), one)) {
      out += one;
      i += n;
    } else {
      out += static_cast<wchar_t>(kByteBase + static_cast<unsigned char>(utf8[i]));
      ++i;
    }
  }
  return out;
}

std::string Utf8FromWide(std::wstring_view wide) {
  std::string out;
  if (IsAscii(wide)) return std::string(wide.begin(), wide.end());
  for (std::size_t i = 0; i < wide.size();) {
    std::size_t j = i;
    while (j < wide.size() && !(wide[j] >= kByteBase && wide[j] <= kByteBase + 0xFF)) ++j;
    std::string run;
    if (j > i) {
      if (!WholeToNarrow(CP_UTF8, wide.substr(i, j - i), run)) {
        // A lone surrogate: UTF-8 has no form for it.
        run.clear();
        for (std::size_t k = i; k < j; ++k) {
          std::string one;
          const std::size_t n = WideLength(wide, k);
          run += WholeToNarrow(CP_UTF8, wide.substr(k, n), one) ? one : std::string("?");
          k += n - 1;
        }
      }
      out += run;
    }
    if (j < wide.size()) out += static_cast<char>(wide[j] - kByteBase);
    i = j + 1;
  }
  return out;
}

}  // namespace win32

// The program's conversions, on the same tables as the rest of the Windows build: a byte
// that does not convert is carried over as it is, both ways.
std::string GbkToUtf8(std::string_view gbk) { return win32::Utf8FromWide(win32::Wide(gbk)); }

std::string Utf8ToGbk(std::string_view utf8) { return win32::Narrow(win32::WideFromUtf8(utf8)); }

std::wstring GbkToWide(std::string_view gbk) { return win32::Wide(gbk); }

std::string WideToGbk(std::wstring_view wide) { return win32::Narrow(wide); }

std::wstring Utf8ToWide(std::string_view utf8) { return win32::WideFromUtf8(utf8); }

std::string WideToUtf8(std::wstring_view wide) { return win32::Utf8FromWide(wide); }
