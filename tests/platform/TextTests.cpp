// Byte-level helpers: GBK conversion, number rules, trimming, error texts, line lists,
// settings path and program title.

#include <random>

#include "Convert.h"
#include "Lines.h"
#include "Platform.h"
#include "ProgramFiles.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {

int IntOrCode(const std::string& text) {
  try {
    return StrToInt(text);
  } catch (const EFailure& e) {
    EXPECT_EQ(e.Message(), "'" + text + "' is not a valid integer value");
    return -999;
  }
}

std::vector<std::string> Split(std::string_view bytes) {
  const TLines lines = TLines::Parse(bytes);
  std::vector<std::string> out;
  for (std::size_t i = 0; i < lines.Count(); ++i) out.emplace_back(lines[i]);
  return out;
}

using V = std::vector<std::string>;

TEST(Gbk, KnownCharactersBothWays) {
  EXPECT_EQ(Utf8ToGbk("合并"), "\xBA\xCF\xB2\xA2");
  EXPECT_EQ(GbkToUtf8("\xBA\xCF\xB2\xA2"), "合并");
  EXPECT_EQ(Utf8ToGbk("\u3000"), "\xA1\xA1");  // the ideographic space
  EXPECT_EQ(GbkToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Gbk, BytesThatDoNotConvertAreCarriedOver) {
  EXPECT_EQ(GbkToUtf8("\xFF" "a\xBA\xCF"), "\xFF" "a合");
  EXPECT_EQ(Utf8ToGbk("\xFF\xFE合"), "\xFF\xFE\xBA\xCF");
  EXPECT_EQ(GbkToUtf8("\xBA"), "\xBA");  // cut off at the end
  // Any byte string survives the way there and back.
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(random() % 12, '\0');
    for (char& c : bytes) c = static_cast<char>(random() % 256);
    ASSERT_EQ(Utf8ToGbk(GbkToUtf8(bytes)), bytes) << round;
  }
}

TEST(Numbers, StrToIntReadsLikeTheRuntime) {
  EXPECT_EQ(IntOrCode("12"), 12);
  EXPECT_EQ(IntOrCode("  -7"), -7);
  EXPECT_EQ(IntOrCode("+5"), 5);
  EXPECT_EQ(IntOrCode("$1F"), 31);
  EXPECT_EQ(IntOrCode("0x10"), 16);
  EXPECT_EQ(IntOrCode("$FFFFFFFF"), -1);
  EXPECT_EQ(IntOrCode("2147483647"), 2147483647);
  EXPECT_EQ(IntOrCode("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(IntOrCode("2147483648"), -999);
  EXPECT_EQ(IntOrCode("abc"), -999);
  EXPECT_EQ(IntOrCode(""), -999);
  EXPECT_EQ(IntOrCode("1 "), -999);  // trailing blanks are not a number
  EXPECT_EQ(IntOrCode("-"), -999);
  EXPECT_EQ(IntOrCode("$"), -999);
  EXPECT_EQ(IntOrCode("1.5"), -999);
}

TEST(Numbers, ProfileIntRules) {
  EXPECT_EQ(ProfileInt("1", 0), 1);
  EXPECT_EQ(ProfileInt("0x1A", 0), 26);
  EXPECT_EQ(ProfileInt("0X1a", 0), 26);
  EXPECT_EQ(ProfileInt("0x", 9), 9);  // two characters are no hexadecimal number
  EXPECT_EQ(ProfileInt("", 9), 9);
  EXPECT_EQ(ProfileInt("yes", 9), 9);
  EXPECT_EQ(ProfileInt("0xZZ", 9), 9);
  EXPECT_EQ(ProfileInt("-3", 9), -3);
}

TEST(Text, TrimUpperAndSameText) {
  EXPECT_EQ(Trim(std::string("\x01 \t a b \r\n\0", 11)), "a b");
  EXPECT_EQ(Trim("\xA1\xA1x\xA1\xA1"), "\xA1\xA1x\xA1\xA1");  // the ideographic space stays
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(UpperAscii("abz\xB0\x61{"), "ABZ\xB0\x41{");
  EXPECT_TRUE(SameText("Option", "OPTION"));
  EXPECT_FALSE(SameText("OPTION", "OPTIONS"));
  // 0x81 0x61 and 0x81 0x41 are two different characters, not one in two cases.
  EXPECT_FALSE(SameText("\x81\x61", "\x81\x41"));
  EXPECT_TRUE(SameText("\x81\x61z", "\x81\x61Z"));
  EXPECT_EQ(LastPathDelimiter("a\\b/c"), 3u);
  EXPECT_EQ(LastPathDelimiter("D:\\\x81\x5C"), 2u);  // 0x5C here is half of a character
}

TEST(Failures, TextsByCode) {
  EXPECT_EQ(IoErrorText(2), "File not found");
  EXPECT_EQ(IoErrorText(3), "Invalid filename");
  EXPECT_EQ(IoErrorText(4), "Too many open files");
  EXPECT_EQ(IoErrorText(5), "File access denied");
  EXPECT_EQ(IoErrorText(32), "I/O error 32");
  EXPECT_EQ(IoErrorText(112), "I/O error 112");
  EXPECT_EQ(IoFailure(5).Code(), 5);
  EXPECT_EQ(Fmt("'%s' is not a valid integer value", "abc"), "'abc' is not a valid integer value");
  EXPECT_EQ(Fmt("no place", "abc"), "no place");
}

TEST(Lines, SplittingRules) {
  EXPECT_EQ(Split(""), V{});
  EXPECT_EQ(Split("a\r\nb\r\n"), (V{"a", "b"}));
  EXPECT_EQ(Split("a\nb"), (V{"a", "b"}));            // last line without line end counts
  EXPECT_EQ(Split("a\rb\r"), (V{"a", "b"}));          // lone CR
  EXPECT_EQ(Split("a\n\rb"), (V{"a", "", "b"}));      // LF CR is two line ends
  EXPECT_EQ(Split("\r\n\r\n"), (V{"", ""}));
  EXPECT_EQ(Split("\r\r\n"), (V{"", ""}));
  EXPECT_EQ(Split(std::string("ab\r\ncd\0ef\r\ngh", 14)), (V{"ab", "cd"}));  // stops at a zero byte
  EXPECT_EQ(Split(std::string("\0abc", 4)), V{});
  EXPECT_EQ(Split(std::string("ab\r\n\0", 5)), V{"ab"});
}

TEST(Lines, SavedBytesAndJoinedLength) {
  TLines lines;
  EXPECT_EQ(lines.Text(), "");
  EXPECT_EQ(lines.JoinedLength(), 0u);
  lines.Add("one");
  lines.Add("");
  lines.Add("\xBA\xCF");
  EXPECT_EQ(lines.Text(), "one\r\n\r\n\xBA\xCF\r\n");
  EXPECT_EQ(lines.JoinedLength(), lines.Text().size());
  lines.Add(lines[0]);  // a line of the list itself
  lines.AddAll(lines);
  EXPECT_EQ(lines.Count(), 8u);
  EXPECT_EQ(lines[3], "one");
  EXPECT_EQ(lines[7], "one");
  EXPECT_EQ(lines.JoinedLength(), 2 * (3 + 0 + 2 + 3) + 16u);
  lines.Clear();
  EXPECT_TRUE(lines.Empty());
  EXPECT_EQ(lines.JoinedLength(), 0u);
}

TEST(Lines, SaveAndLoadThroughTheFileSystem) {
  TTempDir tmp;
  const std::unique_ptr<TPlatform> system = NewSystemPlatform();
  TPlatform& fs = *system;
  TLines lines = TLines::Parse("x\ny\rz");
  SaveLines(fs, tmp.Drive("t.txt"), lines);
  EXPECT_EQ(ReadFile(tmp / "t.txt"), "x\r\ny\r\nz\r\n");
  EXPECT_EQ(LoadLines(fs, tmp.Drive("T.TXT")).Text(), "x\r\ny\r\nz\r\n");
  SaveLines(fs, tmp.Drive("t.txt"), TLines());
  EXPECT_EQ(ReadFile(tmp / "t.txt"), "");
  EXPECT_TRUE(LoadLines(fs, tmp.Drive("t.txt")).Empty());
  try {
    LoadLines(fs, tmp.Drive("none.txt"));
    FAIL();
  } catch (const EFailure& e) {
    EXPECT_EQ(e.Message(), "File not found");
  }
}

TEST(Program, SettingsPathFor) {
  EXPECT_EQ(SettingsPathFor("D:\\Data\\Merge.exe"), "D:\\DATA\\MERGE.INI");
  EXPECT_EQ(SettingsPathFor("Z:\\OPT\\LORVANE\\lorvane"), "Z:\\OPT\\LORVANE\\LORVANE.INI");
  EXPECT_EQ(SettingsPathFor("C:\\Tools.Exe\\merge.EXE"), "C:\\TOOLS.INI\\MERGE.INI");
  // The second byte of a GBK character is not upper-cased: it would name another folder.
  EXPECT_EQ(SettingsPathFor("C:\\\x81\x61x\\m.exe"), "C:\\\x81\x61X\\M.INI");
}

TEST(Program, TitleAndFolder) {
  EXPECT_EQ(ProgramTitle("D:\\Data\\MERGE.EXE"), "Merge");
  EXPECT_EQ(ProgramTitle("Z:\\opt\\lorvane\\lorvane"), "lorvane");
  EXPECT_EQ(ProgramTitle("Z:\\opt\\x.y\\LorVane.bin.exe"), "Lorvane");
  EXPECT_EQ(ProgramTitle("C:\\\x81\x41\x41.EXE"), "\x81\x41\x61");
}

}  // namespace
