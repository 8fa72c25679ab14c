// The check of the settings file: each finding on its line and key, and a file that says
// what the program reads gives none.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Convert.h"
#include "Platform.h"
#include "SettingsCheck.h"
#include "TestSupport.h"

namespace {

struct TCase {
  const char* Name;
  std::vector<std::string> Lines;  // UTF-8; "{}" stands for the temporary folder's drive path
  int Line;                        // the line the one finding names (0: the file)
  std::string Key;                 // and its key
  std::string Says;                // a piece of its text
  bool ConfiguresAMarket = true;
};

class TSettingsCheck : public ::testing::TestWithParam<TCase> {
 protected:
  TSettingsCheck() : Fs(NewSystemPlatform(testsupport::HostText(Tmp.Path()))) {
    for (const char* dir : {"src", "dst", "mirror"}) testsupport::fs::create_directories(Tmp / dir);
  }
  TSettingsFindings Check(const std::vector<std::string>& lines, bool utf8 = false) {
    std::string bytes;
    for (std::string line : lines) {
      for (std::size_t at; (at = line.find("{}")) != std::string::npos;) line.replace(at, 2, Tmp.Drive(""));
      bytes += (utf8 ? line : Utf8ToGbk(line)) + "\r\n";
    }
    testsupport::WriteFile(Tmp / "LORVANE.INI", bytes);
    return CheckSettings(*Fs, Tmp.Drive("LORVANE.INI"));
  }
  testsupport::TTempDir Tmp;
  std::unique_ptr<TPlatform> Fs;
};

const std::vector<std::string> kGood = {"[OPTION]", "SRC={}\\src", "DES={}\\dst", "INTERNAL=5", "INDEX=1",
                                        "[多路径拷贝]", "SH1={}\\mirror", "[大盘代码]", "SHSZ=999999"};

TEST_F(TSettingsCheck, SettingsThatSayWhatTheProgramReadsGiveNoFinding) {
  testsupport::WriteFile(Tmp / "src/000001.F10", std::string(16, '\0'));
  const TSettingsFindings findings = Check(kGood);
  for (const TSettingsWarning& w : findings.Warnings) ADD_FAILURE() << w.Line << " " << GbkToUtf8(w.Text);
  EXPECT_TRUE(findings.ConfiguresAMarket);
}

TEST_P(TSettingsCheck, NamesTheLineTheKeyAndTheCause) {
  const TCase& c = GetParam();
  testsupport::WriteFile(Tmp / "src/000001.F10", std::string(16, '\0'));
  const TSettingsFindings findings = Check(c.Lines, std::string(c.Name) == "Utf8ReadAsGbk");
  ASSERT_EQ(findings.Warnings.size(), 1u) << (findings.Warnings.empty() ? "" : GbkToUtf8(findings.Warnings.back().Text));
  const TSettingsWarning& w = findings.Warnings[0];
  EXPECT_EQ(w.Line, c.Line);
  EXPECT_EQ(GbkToUtf8(w.Key), c.Key);
  EXPECT_NE(GbkToUtf8(w.Text).find(c.Says), std::string::npos) << GbkToUtf8(w.Text);
  EXPECT_EQ(findings.ConfiguresAMarket, c.ConfiguresAMarket);
}

const TCase kCases[] = {
    {"MisspeltSection", {"[OPTOIN]", "SRC={}\\src", "DES={}\\dst"}, 1, "[OPTOIN]", "unknown section", false},
    {"MisspeltKey", {"[option]", "SCR={}\\src", "SZSRC={}\\src", "SZDES={}\\dst"}, 2,
     "option\\SCR", "unknown key SCR"},
    {"KeyGivenTwice", {"[OPTION]", "SRC={}\\src", "DES={}\\dst", "src=x"}, 4, "OPTION\\src", "line 2 counts"},
    {"SectionGivenTwice", {"[OPTION]", "SRC={}\\src", "DES={}\\dst", "[Option]", "INDEX=1"}, 4, "[Option]",
     "only the section of line 1"},
    {"MissingRoot", {"[OPTION]", "SRC={}\\src", "DES={}\\gone"}, 3, "OPTION\\DES", "is no folder"},
    {"OneRootOfAMarket", {"[OPTION]", "SRC={}\\src", "DES={}\\dst", "SZSRC={}\\src"}, 4, "OPTION\\SZSRC",
     "Shenzhen market is left alone"},
    {"IntervalNotMinutes", {"[OPTION]", "SRC={}\\src", "DES={}\\dst", "INTERNAL=5 min"}, 4, "OPTION\\INTERNAL",
     "whole number of minutes"},
    {"IndexNotANumber", {"[OPTION]", "SRC={}\\src", "DES={}\\dst", "INDEX=yes"}, 4, "OPTION\\INDEX", "reads as 0"},
    {"LastFileTimeNoDate", {"[OPTION]", "SRC={}\\src", "DES={}\\dst", "LASTFILETIME=soon"}, 4, "OPTION\\LASTFILETIME",
     "no run starts"},
    {"MirrorNamingNoMarket", {"[OPTION]", "SRC={}\\src", "DES={}\\dst", "[多路径拷贝]", "sh1={}\\mirror"}, 5,
     "多路径拷贝\\sh1", "names no market"},
    {"CompositeNamingNoMarket", {"[OPTION]", "SRC={}\\src", "DES={}\\dst", "[大盘代码]", "INDEX1=999999"}, 5,
     "大盘代码\\INDEX1", "no composite is built"},
#ifndef _WIN32
    // Drive letters and [DRIVES] are this program's own only on Linux.
    {"UnmappedDrive", {"[OPTION]", "SRC={}\\src", "DES=Q:\\dst"}, 3, "OPTION\\DES", "drive Q: is mapped to no folder"},
    {"RelativeDrive", {"[OPTION]", "SRC={}\\src", "DES={}\\dst", "[DRIVES]", "D=feed"}, 5, "DRIVES\\D",
     "every run is refused"},
#endif
    {"KeyBeforeAnySection", {"SRC=x", "[OPTION]", "SRC={}\\src", "DES={}\\dst"}, 1, "SRC", "before any section"},
    {"Utf8ReadAsGbk", {"[OPTION]", "SRC={}\\src", "DES={}\\dst", "; 上海"}, 4, "", "UTF-8 but is read as GBK"},
};

INSTANTIATE_TEST_SUITE_P(Findings, TSettingsCheck, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TCase>& row) { return std::string(row.param.Name); });

}  // namespace
