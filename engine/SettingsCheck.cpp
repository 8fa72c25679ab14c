#include "SettingsCheck.h"

#include <map>

#include "Clock.h"
#include "Convert.h"
#include "Failure.h"
#include "IniFile.h"
#include "MirrorCopies.h"
#include "Platform.h"
#include "RunTerms.h"
#include "Texts.h"

namespace {

const std::vector<const std::string*> kOptionKeys = {
    &Texts::KeySrc,   &Texts::KeyDes,          &Texts::KeySzSrc,  &Texts::KeySzDes, &Texts::KeyInternal,
    &Texts::KeyIndex, &Texts::KeyLastFileTime, &Texts::KeyReport, &Texts::KeyMetrics};
const std::vector<const std::string*> kSections = {&Texts::SectionOption, &Texts::SectionMirrors,
                                                   &Texts::SectionIndexCodes, &Texts::SectionDrives};

bool IsOneOf(const std::string& name, const std::vector<const std::string*>& names) {
  for (const std::string* known : names)
    if (SameText(name, *known)) return true;
  return false;
}

std::string List(const std::vector<const std::string*>& names, const char* open, const char* close) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i)
    text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + std::string(open) + *names[i] + close;
  return text;
}

class TChecker {
 public:
  TChecker(TPlatform& fs, TSettingsFindings& out) : FPlatform(fs), FOut(out) {}

  void Warn(int line, const std::string& key, const std::string& text) { FOut.Warnings.push_back({line, key, text}); }

  // A folder the settings name: its drive must be mapped, and it should be there.
  void Folder(int line, const std::string& key, const std::string& path, const char* what) {
    if (path.empty()) return;
    int error = 0;
    const std::string host = FPlatform.HostPath(path, &error);
    if (host.empty()) {
      if (path.size() >= 2 && path[1] == ':')
        Warn(line, key, path + ": drive " + UpperAscii(path.substr(0, 2)) +
                            " is mapped to no folder (section [" + Texts::SectionDrives + "]), so " + what +
                            " is missing");
      else
        Warn(line, key, path + ": not a drive path (D:\\folder) or a rooted path (\\folder), so " + what +
                            " is missing");
      return;
    }
    if (!FPlatform.DirectoryExists(path))
      Warn(line, key, path + " (" + Utf8ToGbk(host) + ") is no folder, so " + what + " is missing");
  }

  void Option(const TIniEntry& e) {
    const std::string key = e.Section + "\\" + e.Key;
    if (!IsOneOf(e.Key, kOptionKeys)) {
      Warn(e.Line, key, "unknown key " + e.Key + ", so it means nothing; the keys of [" + Texts::SectionOption +
                            "] are " + List(kOptionKeys, "", ""));
      return;
    }
    if (SameText(e.Key, Texts::KeySrc)) Roots[0] = e, Folder(e.Line, key, e.Value, "the Shanghai source root");
    if (SameText(e.Key, Texts::KeyDes)) Roots[1] = e, Folder(e.Line, key, e.Value, "the Shanghai target root");
    if (SameText(e.Key, Texts::KeySzSrc)) Roots[2] = e, Folder(e.Line, key, e.Value, "the Shenzhen source root");
    if (SameText(e.Key, Texts::KeySzDes)) Roots[3] = e, Folder(e.Line, key, e.Value, "the Shenzhen target root");
    if (SameText(e.Key, Texts::KeyInternal) && !IsIntervalText(e.Value))
      Warn(e.Line, key, "'" + e.Value + "' is not a whole number of minutes from 0 to 35791, so the form starts no "
                                        "timed runs");
    if (SameText(e.Key, Texts::KeyIndex) && ProfileInt(e.Value, 0) != ProfileInt(e.Value, 1))
      Warn(e.Line, key, "'" + e.Value + "' is not a number, so it reads as 0: no indexes are generated");
    if (SameText(e.Key, Texts::KeyLastFileTime)) {
      try {
        StrToDateTime(e.Value);
      } catch (const EFailure& failure) {
        Warn(e.Line, key, failure.Message() + ", so no run starts until it is corrected or removed");
      }
    }
  }

  void Entry(const TIniEntry& e, bool mirror) {
    const std::string key = e.Section + "\\" + e.Key;
    if (!NamesAMarket(e.Key))
      Warn(e.Line, key, std::string("names no market, so ") + (mirror ? "it gets no copies" : "no composite is built") +
                            ": the name must hold SH (Shanghai) or SZ (Shenzhen) in capitals");
    if (e.Value.empty())
      Warn(e.Line, key, mirror ? "names no folder, so it is no mirror" : "names no code, so no composite is built");
    else if (mirror && NamesAMarket(e.Key))
      Folder(e.Line, key, e.Value, "copies to this mirror fail and are owed until it is there");
    else if (!mirror) HasComposites = HasComposites || NamesAMarket(e.Key);
  }

  void Drive(const TIniEntry& e) {
    const std::string key = e.Section + "\\" + e.Key;
    std::string_view letter = Trim(e.Key);
    if (letter.size() == 2 && letter[1] == ':') letter.remove_suffix(1);
    const char c = letter.size() == 1 ? UpperAscii(letter)[0] : '\0';
    if (c < 'A' || c > 'Y') {
      Warn(e.Line, key, "not a drive letter A to Y, so it maps nothing (Z: is always this machine's root)");
      return;
    }
    // On Windows the letters are the system's own and the section means nothing, which lets
    // one settings file serve both systems.
#ifndef _WIN32
    const std::string host = GbkToUtf8(std::string(Trim(e.Value)));
    if (host.empty() || host[0] != '/')
      Warn(e.Line, key, "'" + e.Value + "' is not an absolute folder (/srv/feed), so every run is refused");
#endif
  }

  // Settings of one market: both roots or neither.
  void Market(const TIniEntry& source, const TIniEntry& target, const char* name, const std::string& srcKey,
              const std::string& desKey) {
    const bool hasSource = !source.Value.empty(), hasTarget = !target.Value.empty();
    if (hasSource && hasTarget) FOut.ConfiguresAMarket = true;
    if (hasSource != hasTarget) {
      const TIniEntry& given = hasSource ? source : target;
      Warn(given.Line, given.Section + "\\" + given.Key,
           std::string("the ") + name + " market is left alone: " + (hasSource ? desKey : srcKey) + " is not set");
    }
  }

  TIniEntry Roots[4];
  bool HasComposites = false;

 private:
  TPlatform& FPlatform;
  TSettingsFindings& FOut;
};

}  // namespace

TSettingsFindings CheckSettings(TPlatform& fs, const std::string& settingsPath) {
  TSettingsFindings out;
  TIniFile ini(fs, settingsPath);
  const std::vector<TIniEntry> entries = ini.Entries();
  if (ini.ReadError()) return out;
  TChecker check(fs, out);
  if (const int line = ini.Utf8ReadAsGbkLine())
    check.Warn(line, "", "the file is UTF-8 but is read as GBK, so its Chinese texts (in paths too) are read as other "
                         "characters: save it as GBK (iconv -f UTF-8 -t GBK) or with the UTF-8 byte order mark");
  // Only the first section of a name is read, and only the first line of a key in it.
  std::map<std::string, int> sections, keys;
  bool skipSection = false;
  std::string section;
  for (const TIniEntry& e : entries) {
    if (e.Key.empty()) {
      section = UpperAscii(e.Section);
      skipSection = false;
      if (!IsOneOf(e.Section, kSections)) {
        check.Warn(e.Line, "[" + e.Section + "]",
                   "unknown section, so nothing in it is read; the sections are " + List(kSections, "[", "]"));
        skipSection = true;
      } else if (const auto [it, added] = sections.emplace(section, e.Line); !added) {
        check.Warn(e.Line, "[" + e.Section + "]",
                   "given again, so nothing in it is read: only the section of line " + std::to_string(it->second) +
                       " counts");
        skipSection = true;
      }
      continue;
    }
    if (skipSection) continue;
    if (section.empty()) {
      check.Warn(e.Line, e.Key, "stands before any section, so it means nothing");
      continue;
    }
    if (const auto [it, added] = keys.emplace(section + "\\" + UpperAscii(e.Key), e.Line); !added) {
      check.Warn(e.Line, e.Section + "\\" + e.Key,
                 "given again, so it means nothing: line " + std::to_string(it->second) + " counts");
      continue;
    }
    if (SameText(e.Section, Texts::SectionOption)) check.Option(e);
    else if (SameText(e.Section, Texts::SectionMirrors)) check.Entry(e, true);
    else if (SameText(e.Section, Texts::SectionIndexCodes)) check.Entry(e, false);
    else check.Drive(e);
  }
  check.Market(check.Roots[0], check.Roots[1], "Shanghai", Texts::KeySrc, Texts::KeyDes);
  check.Market(check.Roots[2], check.Roots[3], "Shenzhen", Texts::KeySzSrc, Texts::KeySzDes);
  if (check.HasComposites && !check.Roots[0].Value.empty()) {
    const std::string templatePath = check.Roots[0].Value + "\\" + kTemplateCode + ".F10";
    if (!fs.FileExists(templatePath))
      check.Warn(0, "[" + Texts::SectionIndexCodes + "]",
                 "the composites' template " + templatePath + " is not there, so every composite is built empty");
  }
  return out;
}

std::string WarningLine(TPlatform& fs, const std::string& settingsPath, const TSettingsWarning& warning) {
  std::string file = Utf8ToGbk(fs.HostPath(settingsPath));
  if (file.empty()) file = settingsPath;
  std::string where = file;
  if (warning.Line > 0) where += " line " + std::to_string(warning.Line);
  if (!warning.Key.empty()) where += ", " + warning.Key;
  return where + ": " + warning.Text;
}

bool IsIntervalText(const std::string& text) {
  // The most minutes whose milliseconds a signed 32-bit count holds.
  constexpr long kLongestIntervalMinutes = 35791;
  const std::string_view digits = Trim(text);
  if (digits.empty() || digits.size() > 5) return false;
  long minutes = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    minutes = minutes * 10 + (c - '0');
  }
  return minutes <= kLongestIntervalMinutes;
}
