#pragma once
// The world of the form's and the one-run mode's tests: a temporary folder standing in for
// the program's folder, the real platform on it wrapped for fault injection with a fixed clock
// (the program goes by "lorvane" there, so its settings file is LORVANE.INI), and helpers for
// its settings file and its feed.

#include <memory>
#include <string>
#include <vector>

#include "Clock.h"
#include "Convert.h"
#include "FaultyPlatform.h"
#include "IndexBytes.h"
#include "IniFile.h"
#include "Platform.h"
#include "TestSupport.h"
#include "ProgramFiles.h"
#include "RunTexts.h"

namespace testsupport {

class TProgramWorld {
 public:
  TProgramWorld() : System(NewSystemPlatform(HostText(Tmp.Path()))), Real(*System), Fs(Real) {
    Fs.SetProgramName("lorvane");
    Fs.SetClock([] { return Today(); });
  }

  static TDateTime Today() { return TDateTime{2026, 12, 8, 10, 30, 0, 0}; }

  // The settings file, from UTF-8 lines (written as GBK with CR LF).
  void Settings(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines) bytes += Utf8ToGbk(line) + "\r\n";
    WriteFile(Tmp / "LORVANE.INI", bytes);
  }
  // A key of section OPTION as the file holds it now (UTF-8), "<missing>" when absent.
  std::string Option(const std::string& key) {
    TIniFile ini(Real, SettingsPathFor(Drive("lorvane")));
    return GbkToUtf8(ini.ReadString("OPTION", key, "<missing>"));
  }

  // The drive path of a name in the program folder (UTF-8 in, GBK-free ASCII names out).
  std::string Drive(const std::string& name = "") const { return Tmp.Drive(name); }
  std::string Host(const std::string& name) const { return Tmp / name; }

  // A stock waiting in `source` (a folder of the tree): its index file and its sections.
  void Deliver(const std::string& source, const std::string& code, const std::vector<std::string>& letters) {
    std::vector<indexbytes::TListed> sections;
    for (const std::string& letter : letters) {
      const std::string name = code + letter + ".sub";
      WriteFile(Tmp / (source + "/" + name), "section " + letter + "\r\n");
      sections.push_back({letter, name});
    }
    WriteFile(Tmp / (source + "/" + code + ".F10"), indexbytes::Listing(sections, 20261208));
  }
  void MakeDir(const std::string& name) { fs::create_directories(HostFs(Tmp / name)); }

  // Settings with both markets' roots in this tree and the given extra lines of OPTION.
  void RootSettings(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> lines = {"[OPTION]", "SRC=" + Drive("shsrc"), "DES=" + Drive("shdes"),
                                      "SZSRC=" + Drive("szsrc"), "SZDES=" + Drive("szdes")};
    lines.insert(lines.end(), extra.begin(), extra.end());
    Settings(lines);
    for (const char* dir : {"shsrc", "shdes", "szsrc", "szdes"}) MakeDir(dir);
  }

  TTempDir Tmp;
  const std::unique_ptr<TPlatform> System;
  TPlatform& Real;
  TFaultyPlatform Fs;
};

}  // namespace testsupport
