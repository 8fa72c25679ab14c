// Index generation: sections cut at title lines, byte offsets, titles, the record bytes.

#include "MergeFixture.h"

using namespace mergetest;
namespace stdfs = std::filesystem;

namespace {

struct TSection {
  std::string Title;
  std::int32_t Offset;
  std::int32_t Length;
};

class GenerateIndexTest : public TMergeFixture {
 protected:
  GenerateIndexTest() { stdfs::create_directories(H("t")); }
  // Writes the text, generates its index with `titles` collected, reads the sections back.
  std::vector<TSection> Sections(const std::string& text, std::vector<std::string> titles,
                                 std::uint8_t market = 0, const std::string& base = "600000") {
    Write("t/" + base + ".txt", text);
    Thread.FTitles = std::move(titles);
    Thread.GenerateIndex(D("t"), base, market);
    std::vector<TSection> out;
    for (const TIndexRecord& r : ReadIndex(Read("t/" + base + ".F10")))
      out.push_back({FieldText(r.Title), r.TextOffset, r.TextLength});
    return out;
  }
};

bool operator==(const TSection& a, const TSection& b) {
  return a.Title == b.Title && a.Offset == b.Offset && a.Length == b.Length;
}
void PrintTo(const TSection& s, std::ostream* os) {
  *os << "{" << GbkToUtf8(s.Title) << ", " << s.Offset << ", " << s.Length << "}";
}

const std::string& Dflt = Texts::DefaultTitle;

}  // namespace

TEST(CodeText, MarketByteCodeWithoutItsLastFourZeroFilledToNine) {
  EXPECT_EQ(CodeText(2, "399001"), std::string("\x02" "39\0\0\0\0\0\0", 9));
  EXPECT_EQ(CodeText(0, "1234"), std::string(9, '\0'));
  EXPECT_EQ(CodeText(0, "ABCDEFGHIJKLM"), std::string("\0ABCDEFGHI", 10));
}

TEST_F(GenerateIndexTest, SectionsStartAtTitleLinesAndTheLastTitleIsKeptForTheTail) {
  const std::string text = "l1\r\n`t2`\r\nl3\r\n`t4`\r\n";  // 4 + 6 + 4 + 6 bytes
  EXPECT_EQ(Sections(text, {"A", "B"}), (std::vector<TSection>{{"A", 0, 14}, {"B", 14, 6}}));
  EXPECT_EQ(Sections(text, {"A"}), (std::vector<TSection>{{Dflt, 0, 14}, {"A", 14, 6}}));
  EXPECT_EQ(Sections(text, {}), (std::vector<TSection>{{Dflt, 0, 14}, {Dflt, 14, 6}}));
}

TEST_F(GenerateIndexTest, TextsWithFewTitleLines) {
  EXPECT_EQ(Sections("a\r\nb\r\n", {"X", "Y"}), (std::vector<TSection>{{"Y", 0, 6}}));
  EXPECT_EQ(Sections("`a`\r\nb\r\n", {"X"}), (std::vector<TSection>{{"X", 0, 8}}));
  // Adjacent title lines: the middle section is exactly the second title line.
  EXPECT_EQ(Sections("`a`\r\n`bb`\r\n`c`\r\n", {"P", "Q", "R"}),
            (std::vector<TSection>{{"P", 0, 5}, {"Q", 5, 6}, {"R", 11, 5}}));
  // Lengths count GBK bytes and CR LF after every line, the last one without it included.
  EXPECT_EQ(Sections("abc\n" + G("中文"), {"T"}), (std::vector<TSection>{{"T", 0, 11}}));
}

TEST_F(GenerateIndexTest, RecordBytes) {
  Sections("`x`\r\n", {G("概况")}, 2, "399001");
  const std::string bytes = Read("t/399001.F10");
  ASSERT_EQ(bytes.size(), 16u + 256u);
  EXPECT_EQ(bytes.substr(0, 16), std::string("VESPERIN\x01\x01\x01\0\0\0\0\0", 16));
  std::string rec(3, '\0');
  rec[1] = 4;
  rec[2] = 2;
  rec += std::string("\x58\x29\x35\x01", 4);  // 20261208
  rec += std::string(4, '\0');                // 00:00
  rec += G("概况") + std::string(60, '\0');
  rec += "399001.txt" + std::string(70, '\0');
  rec += std::string("\0\0\0\0\x05\0\0\0", 8);
  rec += std::string("\x02" "39", 3) + std::string(33, '\0');
  rec += std::string(56, '\0');
  unsigned sum = 0;
  for (unsigned char c : rec) sum += c;
  rec += static_cast<char>(sum & 0xFF);
  EXPECT_EQ(bytes.substr(16), rec);
}

TEST_F(GenerateIndexTest, EmptyOrUnreadableTextLeavesNoIndex) {
  Write("t/600000.F10", "old index");
  Write("t/600000.txt", "");
  Thread.GenerateIndex(D("t"), "600000", 0);
  EXPECT_FALSE(Exists("t/600000.F10"));
  EXPECT_EQ(Fs.Sleeps(), 0);

  Write("t/600001.F10", "old index");
  Thread.GenerateIndex(D("t"), "600001", 0);  // no text at all
  EXPECT_EQ(Fs.Sleeps(), 10);
  EXPECT_EQ(Fs.SleptMs(), 50000);
  EXPECT_FALSE(Exists("t/600001.F10"));
  EXPECT_EQ(FormMessages(), (std::vector<std::string>{G("生成600000索引"), G("生成600001索引")}));
}

TEST_F(GenerateIndexTest, AnErrorAmongTheRecordsKeepsTheRecordsBeforeIt) {
  // The clock stops working two records after the start message was written.
  bool logged = false;
  int calls = 0;
  Fs.OnOperation([&](const std::string& kind, const std::string&) {
    if (kind == "append") logged = true;
  });
  Fs.SetClock([&] {
    if (logged && ++calls > 2) throw EFailure("clock stopped");
    return TDateTime{2026, 12, 8, 10, 30, 0, 0};
  });
  Write("t/600000.txt", "`a`\r\n`b`\r\n`c`\r\n");
  Thread.FTitles = {"A", "B", "C"};
  try {
    Thread.GenerateIndex(D("t"), "600000", 0);
    ADD_FAILURE() << "the error did not reach the caller";
  } catch (const EFailure& e) {
    EXPECT_EQ(e.Message(), "clock stopped");
  }
  const auto recs = ReadIndex(Read("t/600000.F10"));
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(FieldText(recs[1].Title), "B");
}

TEST_F(GenerateIndexTest, AFailedStartMessageLeavesTheOldIndex) {
  Write("t/600000.txt", "`a`\r\n");
  Write("t/600000.F10", "old index");
  Fs.FailWhen("append", "UniteLog", kErrDiskFull);
  EXPECT_THROW(Thread.GenerateIndex(D("t"), "600000", 0), EFailure);
  EXPECT_EQ(Read("t/600000.F10"), "old index");
}
