#pragma once
// A run on a real temporary tree: the real platform with the temporary folder standing in for
// the program's folder (so the settings file and the day's logs live there), wrapped for
// fault injection and a fixed clock, and a host that records what the form would show.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Clock.h"
#include "Convert.h"
#include "FaultyPlatform.h"
#include "Index.h"
#include "IndexBytes.h"
#include "RecordingHost.h"
#include "TestSupport.h"
#include "RunTexts.h"
#include "uUniteThread.h"

namespace enginetest {

using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::WriteFile;

// The bytes of an index file whose records name the given section files (title, file).
inline std::string IndexBytes(const std::vector<indexbytes::TListed>& sections) {
  return indexbytes::Listing(sections, 20261208);
}

class TRunTest : public ::testing::Test {
 protected:
  TRunTest() : System(NewSystemPlatform(testsupport::HostText(Tmp.Path()))), Real(*System), Fs(Real) {
    Fs.SetClock([this] { return Clock; });
  }

  // A run over the four roots of this tree (folders made by the test as it needs them).
  std::unique_ptr<TUniteThread> NewRun() {
    auto run = std::make_unique<TUniteThread>(Fs, Host);
    run->FSrcPath = Drive("shsrc");
    run->FDesPath = Drive("shdes");
    run->FSzSrcPath = Drive("szsrc");
    run->FSzDesPath = Drive("szdes");
    run->FStageAhead = StageAhead;
    return run;
  }

  // A stock waiting in a source folder: its index listing every section, and the sections.
  void Deliver(const std::string& source, const std::string& code,
               const std::vector<std::string>& letters) {
    std::vector<indexbytes::TListed> sections;
    for (const std::string& letter : letters) {
      const std::string name = code + letter + ".sub";
      WriteFile(Tmp / (source + "/" + name), SectionBytes(code, letter));
      sections.push_back({"T" + letter, name});
    }
    WriteFile(Tmp / (source + "/" + code + ".F10"), IndexBytes(sections));
  }
  static std::string SectionBytes(const std::string& code, const std::string& letter) {
    return "section " + letter + " of " + code + "\r\n";
  }

  // The drive path of a name in the tree.
  std::string Drive(const std::string& name) const { return Tmp.Drive(name); }
  void MakeDir(const std::string& name) { testsupport::fs::create_directories(Tmp / name); }

  // Writes the settings file (UTF-8 text here, GBK on disk).
  void Settings(const std::string& utf8) {
    TUniteThread probe(Fs, Host);
    const std::string path = Real.HostPath(probe.SettingsPath());
    ASSERT_FALSE(path.empty());
    WriteFile(path, Utf8ToGbk(utf8));
  }

  // The day's log file of the fixed clock, as bytes, and as lines.
  std::string LogBytes() const { return ReadFile(Tmp / ("UniteLog" + IsoDate(Clock) + ".txt")); }
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    const std::string bytes = LogBytes();
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
      lines.push_back(bytes.substr(start, end - start));
    EXPECT_EQ(start, bytes.size()) << "the log must end with CR LF";
    return lines;
  }
  // The line the log gets for a message at the fixed clock.
  std::string Line(const std::string& message) const {
    return "[" + DateTimeToStr(Clock) + "] " + message;
  }
  bool Logged(const std::string& message) const {
    for (const std::string& line : LogLines())
      if (line == Line(message)) return true;
    return false;
  }
  // Whether any log line (file) mentions `text`.
  bool Mentioned(const std::string& text) const {
    return LogBytes().find(text) != std::string::npos;
  }

  // The caption a failure that ended the run leaves, with `archive` the folder of its market.
  static std::string Caption(const std::string& archive) {
    return Texts::ErrorCaption + archive + Texts::DirCreateErrorCaption;
  }

  testsupport::TTempDir Tmp;
  std::unique_ptr<TPlatform> System;
  TPlatform& Real;
  TFaultyPlatform Fs;
  testsupport::TRecordingHost Host;
  TDateTime Clock{2026, 12, 8, 14, 5, 9, 0};
  bool StageAhead = false;  // runs made by NewRun stage the next stock on a second thread
};

// For suites that must hold both ways: with the stocks staged in turn, and staged ahead.
inline std::string StagingName(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "StagedAhead" : "InTurn";
}

}  // namespace enginetest
