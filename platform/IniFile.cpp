#include "IniFile.h"

#include <string_view>

#include "Convert.h"
#include "Platform.h"
#include "Texts.h"

namespace {

// The settings file is replaced atomically, so a reader only ever meets a short lock of
// another thread or program; it is waited out rather than read as an empty file.
constexpr int kBusyTries = 40;
constexpr int kBusyPauseMs = 25;

// One line of the file: where its bytes start, where its text ends and where its line end
// ends (the start of the next line).
struct TRawLine {
  std::size_t Start, TextEnd, End;
};

std::vector<TRawLine> SplitRaw(std::string_view bytes) {
  std::vector<TRawLine> lines;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::size_t start = i;
    while (i < bytes.size() && bytes[i] != '\r' && bytes[i] != '\n') ++i;
    const std::size_t textEnd = i;
    if (i < bytes.size() && bytes[i] == '\r') ++i;
    if (i < bytes.size() && bytes[i] == '\n') ++i;
    lines.push_back(TRawLine{start, textEnd, i});
  }
  return lines;
}

enum class TLineKind { Other, Section, Key };

struct TParsedLine {
  TLineKind Kind = TLineKind::Other;
  std::string_view Name;   // section or key name, blanks removed
  std::string_view Value;  // key value, blanks removed
};

TParsedLine ParseLine(std::string_view text) {
  TParsedLine out;
  const std::string_view t = Trim(text);
  if (t.empty() || t[0] == ';') return out;
  if (t[0] == '[') {
    const auto close = t.find(']');
    if (close == std::string_view::npos) return out;  // a broken header is no section
    out.Kind = TLineKind::Section;
    out.Name = Trim(t.substr(1, close - 1));
    return out;
  }
  const auto eq = t.find('=');
  if (eq == std::string_view::npos) return out;
  out.Kind = TLineKind::Key;
  out.Name = Trim(t.substr(0, eq));
  out.Value = Trim(t.substr(eq + 1));
  return out;
}

// A value in matching quotes reads without them, as the profile functions read it.
std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
    return v.substr(1, v.size() - 2);
  return v;
}

// Calls `each` with every key line of the first section named `section`, in file order,
// until it returns false.
template <typename F>
void ForEachKey(std::string_view bytes, const std::string& section, F&& each) {
  bool inSection = false, seen = false;
  for (const TRawLine& raw : SplitRaw(bytes)) {
    const TParsedLine line = ParseLine(bytes.substr(raw.Start, raw.TextEnd - raw.Start));
    if (line.Kind == TLineKind::Section) {
      if (inSection) return;  // only the first section of that name counts
      inSection = !seen && SameText(line.Name, section);
      seen = seen || inSection;
    } else if (line.Kind == TLineKind::Key && inSection) {
      if (!each(line)) return;
    }
  }
}

// The byte order mark some editors put at the start of a UTF-8 file.
const std::string kUtf8Mark = "\xEF\xBB\xBF";

enum class TEncoding { Gbk, Utf8, Utf8Marked };

// Whether `text` is well-formed UTF-8: no overlong form, no surrogate, nothing past U+10FFFF.
bool IsUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t more = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the byte after the first
    if (b < 0x80) more = 0;
    else if (b >= 0xC2 && b <= 0xDF) more = 1;
    else if (b == 0xE0) more = 2, low = 0xA0;
    else if (b == 0xED) more = 2, high = 0x9F;
    else if (b >= 0xE1 && b <= 0xEF) more = 2;
    else if (b == 0xF0) more = 3, low = 0x90;
    else if (b == 0xF4) more = 3, high = 0x8F;
    else if (b >= 0xF1 && b <= 0xF3) more = 3;
    else return false;
    if (i + more >= text.size()) return false;  // cut off at the end
    for (std::size_t k = 1; k <= more; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if (k == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) return false;
    }
    i += more + 1;
  }
  return true;
}

// Whether a section line of `bytes` names the program's mirror or index-code section, as
// spelt in GBK (`utf8` false) or in UTF-8.
bool NamesOwnSection(std::string_view bytes, bool utf8) {
  for (const std::string* name : {&Texts::SectionMirrors, &Texts::SectionIndexCodes}) {
    const std::string wanted = utf8 ? GbkToUtf8(*name) : *name;
    for (const TRawLine& raw : SplitRaw(bytes)) {
      const TParsedLine line = ParseLine(bytes.substr(raw.Start, raw.TextEnd - raw.Start));
      if (line.Kind == TLineKind::Section && SameText(line.Name, wanted)) return true;
    }
  }
  return false;
}

// A settings file as the program reads it: its text in GBK and the encoding it is kept in,
// or why it cannot be read at all.
struct TDecoded {
  TEncoding Encoding = TEncoding::Gbk;
  std::string Gbk;
  std::string Problem;  // GBK; empty when the file was read
};

TDecoded Decode(const std::string& bytes) {
  TDecoded d;
  std::string_view text = bytes;
  if (bytes.compare(0, kUtf8Mark.size(), kUtf8Mark) == 0) {
    d.Encoding = TEncoding::Utf8Marked;
    text.remove_prefix(kUtf8Mark.size());
  } else {
    // The program's own sections tell the encoding apart: their names are Chinese, and an
    // editor that saved the file in UTF-8 spelt them so. Read as GBK, such a file would lose
    // them without a word.
    const bool gbk = NamesOwnSection(bytes, false);
    const bool utf8 = NamesOwnSection(bytes, true);
    if (gbk && utf8) {
      d.Problem = Texts::SettingsMixed;
      return d;
    }
    if (!utf8) {
      d.Gbk = bytes;
      return d;
    }
    d.Encoding = TEncoding::Utf8;
  }
  // Line by line, so that a refusal can name its line. Every line must come back from GBK
  // byte for byte, or a later write could not keep the lines it does not change.
  int lineNo = 1;
  for (std::size_t start = 0; start < text.size(); ++lineNo) {
    const std::size_t eol = text.find('\n', start);
    const std::size_t end = eol == std::string_view::npos ? text.size() : eol + 1;
    const std::string_view line = text.substr(start, end - start);
    if (!IsUtf8(line)) {
      d.Problem = Fmt(Texts::SettingsNotUtf8, std::to_string(lineNo));
      return d;
    }
    std::string gbk = Utf8ToGbk(line);
    if (GbkToUtf8(gbk) != line) {
      d.Problem = Fmt(Texts::SettingsNotGbk, std::to_string(lineNo));
      return d;
    }
    d.Gbk += gbk;
    start = end;
  }
  return d;
}

// The bytes to write for the GBK text `gbk` of a file kept in `encoding`.
std::string Encode(const std::string& gbk, TEncoding encoding) {
  switch (encoding) {
    case TEncoding::Gbk: return gbk;
    case TEncoding::Utf8: return GbkToUtf8(gbk);
    case TEncoding::Utf8Marked: return kUtf8Mark + GbkToUtf8(gbk);
  }
  return gbk;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// Reads the file; a missing file (or folder) is an empty file. Returns 0 or the error.
int LoadBytes(TPlatform& fs, const std::string& path, std::string& bytes) {
  for (int attempt = 1;; ++attempt) {
    try {
      // An administrator may link the settings into place; they are the program's own.
      bytes = ReadWholeFile(fs, path, true);
      return 0;
    } catch (const EFailure& e) {
      bytes.clear();
      if (e.Code() == kErrFileNotFound || e.Code() == kErrPathNotFound) return 0;
      if (e.Code() != kErrSharingViolation || attempt >= kBusyTries)
        return e.Code() ? e.Code() : kErrAccessDenied;
      fs.Sleep(kBusyPauseMs);
    }
  }
}

// The file's bytes with the key line `newLine` of `name` put in place: replacing the first
// line of that key in the first section of that name, else added after the section's last
// key, else in a new section at the end. Every other byte stays.
std::string WithLine(const std::string& bytes, std::string_view sectionName, std::string_view name,
                     const std::string& newLine) {
  const std::vector<TRawLine> raws = SplitRaw(bytes);
  std::string out;
  bool inSection = false, sectionSeen = false, done = false;
  std::size_t insertAfter = std::string::npos;  // index of the section's last key (or header)
  for (std::size_t i = 0; i < raws.size() && !done; ++i) {
    const TRawLine& raw = raws[i];
    const TParsedLine line = ParseLine(std::string_view(bytes).substr(raw.Start, raw.TextEnd - raw.Start));
    if (line.Kind == TLineKind::Section) {
      if (inSection) break;
      inSection = !sectionSeen && SameText(line.Name, sectionName);
      if (inSection) {
        sectionSeen = true;
        insertAfter = i;
      }
    } else if (line.Kind == TLineKind::Key && inSection) {
      if (SameText(line.Name, name)) {
        out = bytes.substr(0, raw.Start) + newLine + bytes.substr(raw.TextEnd);
        done = true;
      } else {
        insertAfter = i;
      }
    }
  }
  if (!done && sectionSeen) {
    const TRawLine& after = raws[insertAfter];
    std::string eol = bytes.substr(after.TextEnd, after.End - after.TextEnd);
    out = bytes.substr(0, after.End);
    if (eol.empty()) {
      eol = "\r\n";
      out += eol;
    }
    out += newLine + eol + bytes.substr(after.End);
  } else if (!done) {
    std::string eol = "\r\n";
    out = bytes;
    if (!raws.empty()) {
      const TRawLine& last = raws.back();
      if (last.End > last.TextEnd) eol = bytes.substr(last.TextEnd, last.End - last.TextEnd);
      else out += eol;
      if (!Trim(std::string_view(bytes).substr(last.Start, last.TextEnd - last.Start)).empty())
        out += eol;  // a blank line between sections, as the profile functions write it
    }
    out += "[" + std::string(sectionName) + "]" + eol + newLine + eol;
  }

  return out;
}

}  // namespace

TIniFile::TIniFile(TPlatform& fs, std::string path) : FPlatform(fs), FPath(std::move(path)) {}

std::string TIniFile::Load() {
  std::string bytes;
  FReadError = LoadBytes(FPlatform, FPath, bytes);
  FReadErrorText = FReadError ? IoErrorText(FReadError) : std::string();
  FUtf8AsGbkLine = 0;
  if (FReadError) return bytes;
  TDecoded decoded = Decode(bytes);
  if (decoded.Problem.empty() && decoded.Encoding == TEncoding::Gbk && IsUtf8(bytes)) {
    const std::vector<TRawLine> raws = SplitRaw(bytes);
    for (std::size_t i = 0; i < raws.size() && FUtf8AsGbkLine == 0; ++i)
      for (std::size_t k = raws[i].Start; k < raws[i].TextEnd; ++k)
        if (static_cast<unsigned char>(bytes[k]) >= 0x80) {
          FUtf8AsGbkLine = static_cast<int>(i) + 1;
          break;
        }
  }
  if (!decoded.Problem.empty()) {
    // Never half of it: a file that cannot be read whole reads as nothing, and says why.
    FReadError = kErrInvalidData;
    FReadErrorText = decoded.Problem;
    return std::string();
  }
  return std::move(decoded.Gbk);
}

TNameValues TIniFile::ReadSectionValues(const std::string& section) {
  const std::string bytes = Load();
  TNameValues out;
  ForEachKey(bytes, section, [&](const TParsedLine& line) {
    const std::string_view value = Unquote(line.Value);
    if (value.empty()) return true;
    for (const auto& entry : out)
      if (SameText(entry.first, line.Name)) return true;
    out.emplace_back(std::string(line.Name), std::string(value));
    return true;
  });
  return out;
}

std::vector<TIniEntry> TIniFile::Entries() {
  const std::string bytes = Load();
  std::vector<TIniEntry> out;
  std::string section;
  int lineNo = 0;
  for (const TRawLine& raw : SplitRaw(bytes)) {
    ++lineNo;
    const TParsedLine line = ParseLine(std::string_view(bytes).substr(raw.Start, raw.TextEnd - raw.Start));
    if (line.Kind == TLineKind::Section) {
      section = std::string(line.Name);
      out.push_back(TIniEntry{lineNo, section, "", ""});
    } else if (line.Kind == TLineKind::Key) {
      out.push_back(TIniEntry{lineNo, section, std::string(line.Name), std::string(Unquote(line.Value))});
    }
  }
  return out;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) {
  const std::string bytes = Load();
  std::string result = fallback;
  const std::string_view wanted = Trim(key);
  ForEachKey(bytes, section, [&](const TParsedLine& line) {
    if (!SameText(line.Name, wanted)) return true;
    result = std::string(Unquote(line.Value));
    return false;
  });
  return result;
}

std::int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                                   std::int32_t fallback) {
  // A key that is missing and a key whose text is no number both give the fallback.
  return ProfileInt(ReadString(section, key, ""), fallback);
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  const std::string unableToWrite = Fmt(Texts::UnableToWrite, FPath);
  const std::string_view name = Trim(key);
  const std::string_view sectionName = Trim(section);
  // Anything that would make the line read back as another line, or as another section,
  // is refused rather than written.
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) ||
      sectionName.find(']') != std::string_view::npos ||
      name.find('=') != std::string_view::npos || (!name.empty() && (name[0] == '[' || name[0] == ';')))
    throw EFailure(unableToWrite);

  const std::string newLine = std::string(name) + "=" + value;
  for (int attempt = 1;; ++attempt) {
    // Read anew on every attempt: whoever held the file may have changed it.
    std::string bytes;
    if (const int code = LoadBytes(FPlatform, FPath, bytes)) throw EFailure(unableToWrite, code, "read", FPath);
    // A file the program cannot read whole is not rewritten: that would mix two encodings.
    const TDecoded decoded = Decode(bytes);
    if (!decoded.Problem.empty())
      throw EFailure(unableToWrite + " (" + decoded.Problem + ")", kErrInvalidData, "read", FPath);
    try {
      WriteWholeFile(FPlatform, FPath, Encode(WithLine(decoded.Gbk, sectionName, name, newLine), decoded.Encoding));
      return;
    } catch (const EFailure& e) {
      if (e.Code() != kErrSharingViolation || attempt >= kBusyTries)
        throw EFailure(unableToWrite, e.Code(), e.Operation(), FPath);
    }
    FPlatform.Sleep(kBusyPauseMs);
  }
}
void TIniFile::WriteInteger(const std::string& section, const std::string& key, std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}
