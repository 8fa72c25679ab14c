// The settings file: reading by the profile rules, writing one line and keeping the others.

#include "Convert.h"
#include "FaultyPlatform.h"
#include "IniFile.h"
#include "ProgramFiles.h"
#include "TestSupport.h"

using namespace testsupport;
using namespace std::string_literals;

namespace {

class IniTest : public ::testing::Test {
 protected:
  TTempDir tmp;
  std::unique_ptr<TPlatform> system = NewSystemPlatform();
  TPlatform& fs = *system;
  std::string Host() { return tmp / "LORVANE.INI"; }
  TIniFile Ini() { return TIniFile(fs, tmp.Drive("LORVANE.INI")); }
};

TEST_F(IniTest, MissingFileSectionOrKeyReadsAsDefault) {
  EXPECT_EQ(Ini().ReadString("OPTION", "SRC", "dflt"), "dflt");
  EXPECT_EQ(Ini().ReadInteger("OPTION", "INDEX", 7), 7);
  EXPECT_TRUE(Ini().ReadSectionValues("OPTION").empty());
  WriteFile(Host(), "[OPTION]\r\nSRC=x\r\n");
  EXPECT_EQ(Ini().ReadString("OTHER", "SRC", "d"), "d");
  EXPECT_EQ(Ini().ReadString("OPTION", "DES", "d"), "d");
}

#ifndef _WIN32  // POSIX layer only: a link, and [DRIVES]
TEST_F(IniTest, SettingsLinkedIntoPlaceAreReadAndAWriteReplacesTheLink) {
  WriteFile(tmp / "etc/real.ini", "[OPTION]\r\nSRC=linked\r\n");
  fs::create_symlink(tmp / "etc/real.ini", Host());
  EXPECT_EQ(Ini().ReadString("OPTION", "SRC", ""), "linked");
  Ini().WriteString("OPTION", "DES", "x");
  EXPECT_EQ(ReadFile(tmp / "etc/real.ini"), "[OPTION]\r\nSRC=linked\r\n");  // never written through
  EXPECT_EQ(ReadFile(Host()), "[OPTION]\r\nSRC=linked\r\nDES=x\r\n");
}
#endif

TEST_F(IniTest, NamesMatchWithoutCaseAndValuesLoseTheirBlanks) {
  WriteFile(Host(), "[option]\r\n  src =  D:\\feed  \r\nIndex=0x10\r\nEMPTY=\r\nQUOTED=\"a b\"\r\n");
  EXPECT_EQ(TIniFile(fs, tmp.Drive("lorvane.ini")).ReadString("OPTION", "SRC", ""), "D:\\feed");
  EXPECT_EQ(Ini().ReadInteger("Option", "INDEX", 0), 16);
  EXPECT_EQ(Ini().ReadString("OPTION", "EMPTY", "dflt"), "");  // present, so not the default
  EXPECT_EQ(Ini().ReadInteger("OPTION", "EMPTY", 5), 5);
  EXPECT_EQ(Ini().ReadString("OPTION", "QUOTED", ""), "a b");
}

TEST_F(IniTest, SectionValuesInFileOrderWithoutEmptyAndDuplicateKeys) {
  const std::string mirrors = Utf8ToGbk("[多路径拷贝]\r\n");
  WriteFile(Host(), mirrors + "SH1=D:\\m1\r\nEMPTY=\r\nsz1=D:\\m2\r\nSH1=D:\\again\r\nno equals sign\r\n"
                              "; SH9=commented\r\nSH2 = D:\\m3\r\n[NEXT]\r\nSH3=D:\\m4\r\n");
  const TNameValues values = Ini().ReadSectionValues(Utf8ToGbk("多路径拷贝"));
  EXPECT_EQ(values, (TNameValues{{"SH1", "D:\\m1"}, {"sz1", "D:\\m2"}, {"SH2", "D:\\m3"}}));
}

TEST_F(IniTest, GarbageLinesLineFeedsAndAMissingLastLineEnd) {
  WriteFile(Host(), "\xFF\xFE garbage\n[broken\nkey=outside\n[OPTION]\n=novalue\n"
                    "[\n]\nSRC=a\0b\nDES=last"s);
  EXPECT_EQ(Ini().ReadString("OPTION", "SRC", ""), "a\0b"s);
  EXPECT_EQ(Ini().ReadString("OPTION", "DES", ""), "last");
  EXPECT_EQ(Ini().ReadString("", "key", "d"), "d");
  Ini().WriteString("OPTION", "DES", "new");
  EXPECT_EQ(ReadFile(Host()), "\xFF\xFE garbage\n[broken\nkey=outside\n[OPTION]\n=novalue\n"
                              "[\n]\nSRC=a\0b\nDES=new"s);
}

TEST_F(IniTest, AWriteChangesOneLineAndKeepsEveryOtherByte) {
  const std::string before =
      "; settings\r\n[OPTION]\r\nSRC=D:\\old\r\n  des = x \r\n\r\n[DRIVES]\nD=/srv/feed\n";
  WriteFile(Host(), before);
  Ini().WriteString("option", "DES", "D:\\new");
  EXPECT_EQ(ReadFile(Host()),
            "; settings\r\n[OPTION]\r\nSRC=D:\\old\r\nDES=D:\\new\r\n\r\n[DRIVES]\nD=/srv/feed\n");
  // A new key goes after the section's last key, with that line's line end.
  Ini().WriteInteger("DRIVES", "E", -5);
  Ini().WriteInteger("OPTION", "INDEX", 1);
  EXPECT_EQ(ReadFile(Host()), "; settings\r\n[OPTION]\r\nSRC=D:\\old\r\nDES=D:\\new\r\nINDEX=1\r\n\r\n"
                              "[DRIVES]\nD=/srv/feed\nE=-5\n");
  EXPECT_EQ(Ini().ReadInteger("DRIVES", "E", 0), -5);
}

TEST_F(IniTest, WritesCreateFileAndSection) {
  Ini().WriteString("OPTION", "SRC", "D:\\a");
  EXPECT_EQ(ReadFile(Host()), "[OPTION]\r\nSRC=D:\\a\r\n");
  Ini().WriteString("DRIVES", "D", "/srv");
  EXPECT_EQ(ReadFile(Host()), "[OPTION]\r\nSRC=D:\\a\r\n\r\n[DRIVES]\r\nD=/srv\r\n");
  WriteFile(Host(), "[A]\nk=1");  // no line end on the last line
  Ini().WriteString("A", "j", "2");
  EXPECT_EQ(ReadFile(Host()), "[A]\nk=1\r\nj=2\r\n");
  WriteFile(Host(), "[A]\nk=1");
  Ini().WriteString("B", "j", "2");
  EXPECT_EQ(ReadFile(Host()), "[A]\nk=1\r\n\r\n[B]\r\nj=2\r\n");
}

TEST_F(IniTest, AWriteThatCannotBeMadeSaysSoAndChangesNothing) {
  TIniFile missingFolder(fs, tmp.Drive("none\\LORVANE.INI"));
  try {
    missingFolder.WriteString("OPTION", "SRC", "x");
    FAIL();
  } catch (const EFailure& e) {
    EXPECT_EQ(e.Message(), "Unable to write to " + tmp.Drive("none\\LORVANE.INI"));
  }
  WriteFile(Host(), "[OPTION]\r\nSRC=a\r\n");
  TFaultyPlatform faulty(fs);
  faulty.FailWhen("commit", "", 112);
  TIniFile ini(faulty, tmp.Drive("LORVANE.INI"));
  EXPECT_THROW(ini.WriteString("OPTION", "SRC", "b"), EFailure);
  EXPECT_EQ(ReadFile(Host()), "[OPTION]\r\nSRC=a\r\n");
  // A line break in a value would smuggle in a line of its own.
  EXPECT_THROW(Ini().WriteString("OPTION", "SRC", "x\r\n[DRIVES]\r\nD=/"), EFailure);
  EXPECT_THROW(Ini().WriteString("OP]TION", "SRC", "x"), EFailure);
  EXPECT_EQ(ReadFile(Host()), "[OPTION]\r\nSRC=a\r\n");
}

TEST_F(IniTest, ABusyFileIsWaitedOutNotReadAsEmpty) {
  WriteFile(Host(), "[OPTION]\r\nSRC=a\r\n");
  TFaultyPlatform faulty(fs);
  TIniFile ini(faulty, tmp.Drive("LORVANE.INI"));
  faulty.FailNth(1, 32);  // the first read meets a writer
  EXPECT_EQ(ini.ReadString("OPTION", "SRC", ""), "a");
  EXPECT_EQ(faulty.Sleeps(), 1);
  faulty.HoldBusy("LORVANE.INI");
  EXPECT_EQ(ini.ReadString("OPTION", "SRC", "dflt"), "dflt");  // held for good: the default
  EXPECT_THROW(ini.WriteString("OPTION", "SRC", "b"), EFailure);
  EXPECT_EQ(ReadFile(Host()), "[OPTION]\r\nSRC=a\r\n");
}

// Files as Linux editors save them. Each row: the file's bytes (UTF-8 source text, turned
// into GBK where `gbk` says so), what the mirror section and SRC read as, and the bytes after
// SRC is written, or "" when the file is refused whole and must stay as it was.
struct TEncodingRow {
  const char* Name;
  std::string Bytes;
  TNameValues Mirrors;  // in GBK
  std::string Src;      // UTF-8
  std::string Written;  // after WriteString("OPTION", "SRC", GBK "D:\\新")
};

TEST_F(IniTest, SettingsSavedInUtf8AreReadWholeOrRefusedWhole) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::string mirrors = "[多路径拷贝]\r\nSH1=D:\\镜像\r\n";
  const std::string option = "[OPTION]\r\nSRC=D:\\旧\r\n";
  const TNameValues mirrorValues = {{"SH1", Utf8ToGbk("D:\\镜像")}};
  const std::vector<TEncodingRow> rows = {
      {"GBK as the program writes it", Utf8ToGbk(option + mirrors), mirrorValues, "D:\\旧",
       Utf8ToGbk("[OPTION]\r\nSRC=D:\\新\r\n" + mirrors)},
      {"UTF-8 with its mark", bom + option + mirrors, mirrorValues, "D:\\旧",
       bom + "[OPTION]\r\nSRC=D:\\新\r\n" + mirrors},
      {"UTF-8 known by its section names", "; 注释\n" + mirrors + option, mirrorValues, "D:\\旧",
       "; 注释\n" + mirrors + "[OPTION]\r\nSRC=D:\\新\r\n"},
      // GBK bytes that happen to be valid UTF-8 (D6 B0) are GBK while no section says else.
      {"GBK that reads as UTF-8 too", "[OPTION]\r\nSRC=\xD6\xB0\r\n", {}, GbkToUtf8("\xD6\xB0"),
       Utf8ToGbk("[OPTION]\r\nSRC=D:\\新\r\n")},
      {"UTF-8 with its mark and a broken line", bom + option + "SZSRC=\xE6\x96\r\n" + mirrors, {}, "", ""},
      {"UTF-8 with a character GBK lacks", option + "; 😀\r\n" + mirrors, {}, "", ""},
      {"both encodings", Utf8ToGbk(mirrors) + option + "[大盘代码]\r\nSH1=999999\r\n", {}, "", ""},
  };
  for (const TEncodingRow& row : rows) {
    SCOPED_TRACE(row.Name);
    WriteFile(Host(), row.Bytes);
    TIniFile ini = Ini();
    EXPECT_EQ(ini.ReadSectionValues(Utf8ToGbk("多路径拷贝")), row.Mirrors);
    EXPECT_EQ(ini.ReadError() != 0, row.Written.empty());
    EXPECT_EQ(GbkToUtf8(ini.ReadString("OPTION", "SRC", "")), row.Src);
    if (row.Written.empty()) {
      EXPECT_EQ(ini.ReadError(), kErrInvalidData);
      EXPECT_FALSE(ini.ReadErrorText().empty());
      EXPECT_THROW(ini.WriteString("OPTION", "SRC", Utf8ToGbk("D:\\新")), EFailure);
      EXPECT_EQ(ReadFile(Host()), row.Bytes);
    } else {
      ini.WriteString("OPTION", "SRC", Utf8ToGbk("D:\\新"));
      EXPECT_EQ(ReadFile(Host()), row.Written);
      EXPECT_EQ(Ini().ReadSectionValues(Utf8ToGbk("多路径拷贝")), row.Mirrors);
    }
  }
}

#ifndef _WIN32  // POSIX layer only: a link, and [DRIVES]
TEST_F(IniTest, DrivesSectionMapsLetters) {
  WriteFile(tmp / "feed/sh/x.txt", "x");
  WriteFile(Host(), "[DRIVES]\r\nd=" + (tmp / "feed") + "\r\nE:=" + (tmp / "feed/sh") +
                        "\r\nZ=/nowhere\r\nlong=/x\r\n");
  LoadDrives(fs, tmp.Drive("lorvane.ini"));
  EXPECT_TRUE(fs.FileExists("D:\\SH\\X.TXT"));
  EXPECT_TRUE(fs.FileExists("E:\\x.txt"));
  EXPECT_EQ(fs.HostPath("Z:\\etc"), "/etc");
}
#endif

}  // namespace
