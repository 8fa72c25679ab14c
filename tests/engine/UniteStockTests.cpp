// The merge of one stock: title pass, section files, mirrors, the staging index, failures.

#include "MergeFixture.h"

using namespace mergetest;
using namespace std::string_literals;
namespace stdfs = std::filesystem;

namespace {

const std::string& B = Texts::BannerText;
const std::string& A = Texts::Arrow;

std::string Pass(const std::vector<std::string>& lines) {
  TLines merge;
  for (const std::string& line : lines) merge.Add(line);
  return TitlePass(merge);
}

}  // namespace

TEST(TitlePass, InsertsTitleBeforeBannerFromTheFollowingLine) {
  // Banner in mid-line; the following line is trimmed, cut at its first arrow, and kept.
  EXPECT_EQ(Pass({"x" + B + "y", "  " + G("概况") + A + "z" + A + " "}),
            "`" + G("概况") + "`\r\nx" + B + "y\r\n  " + G("概况") + A + "z" + A + " \r\n");
  // A blank before the arrow stays inside the title.
  EXPECT_EQ(Pass({B, "name " + A}), "`name `\r\n" + B + "\r\nname " + A + "\r\n");
}

TEST(TitlePass, BannerAloneWhenNoNameBeforeAnArrow) {
  EXPECT_EQ(Pass({"a", B}), "a\r\n" + B + "\r\n");                      // last line
  EXPECT_EQ(Pass({B, "no arrow"}), B + "\r\nno arrow\r\n");              // no arrow
  EXPECT_EQ(Pass({B, "   " + A + "x"}), B + "\r\n   " + A + "x\r\n");    // arrow first after trim
  // The following line is not consumed: a banner after a banner has its own turn.
  EXPECT_EQ(Pass({B, B, "n" + A}), B + "\r\n`n`\r\n" + B + "\r\nn" + A + "\r\n");
}

TEST(TitlePass, ABannerCutByTheEndOfASectionIsNone) {
  // Two sections whose bytes, side by side, spell the banner across the cut: neither line
  // holds it. A whole banner later in the second line still counts.
  TLines merge;
  merge.AddAll(TLines::Parse("a" + B.substr(0, 4)));
  merge.AddAll(TLines::Parse(B.substr(4) + "n" + A + "\r\n"));
  EXPECT_EQ(TitlePass(merge), "a" + B.substr(0, 4) + "\r\n" + B.substr(4) + "n" + A + "\r\n");
  merge.Clear();
  merge.AddAll(TLines::Parse("a" + B.substr(0, 4)));
  merge.AddAll(TLines::Parse(B.substr(4) + B + "\nn" + A));
  EXPECT_EQ(TitlePass(merge),
            "a" + B.substr(0, 4) + "\r\n`n`\r\n" + B.substr(4) + B + "\r\nn" + A + "\r\n");
  // An empty line begins where the next one does: the banner is the next one's alone.
  merge = TLines::Parse("\r\n" + B + "\r\nm" + A);
  EXPECT_EQ(TitlePass(merge), "\r\n`m`\r\n" + B + "\r\nm" + A + "\r\n");
}

class UniteStockTest : public TMergeFixture {
 protected:
  UniteStockTest() {
    Thread.FSrcPath = D("src");
    Thread.FDesPath = D("des");
    Thread.FSzSrcPath = D("szsrc");
    Thread.FSzDesPath = D("szdes");
    Thread.FMarket = "1";
    stdfs::create_directories(H("des"));
    stdfs::create_directories(H("szdes"));
  }
  // A staging index with three junk bytes after its records: a save drops them, so they
  // tell whether the index was released (saved) or discarded.
  void Stage(const std::string& code, const std::vector<TRec>& recs) {
    Write("src/DATA/" + code + "/" + code + ".F10", IndexBytes(recs) + "JNK");
  }
  std::string StagingIndex(const std::string& code) {
    return Read("src/DATA/" + code + "/" + code + ".F10");
  }
  void Merge(const std::string& code, const std::string& target = "des") {
    Thread.UniteStock(code, D("src/DATA/" + code), D(target));
  }
};

TEST_F(UniteStockTest, MergesSectionsByteForByteAndWritesTheStagingIndexBack) {
  Write("src/DATA/600000/a.sub",
        "head\r\nxx" + B + "yy\r\n  " + G("公司概况") + " " + A + "more\r\n");
  Write("src/DATA/600000/b.sub", "cr\rlf\n" + B + "\r\n" + A + "x\r\ncut\0gone\r\n"s);
  Stage("600000", {{G("概况"), "a.sub"}, {"", std::string("b.s\0ub", 6)}});
  Merge("600000");
  EXPECT_EQ(Read("des/600000.txt"), "head\r\n`" + G("公司概况") + " `\r\nxx" + B + "yy\r\n  " +
                                        G("公司概况") + " " + A + "more\r\ncr\r\nlf\r\n" + B +
                                        "\r\n" + A + "x\r\ncut\r\n");
  EXPECT_EQ(FormMessages(), (std::vector<std::string>{G("合并") + "600000...",
                                                      "600000" + G("合并完毕")}));
  EXPECT_EQ(StagingIndex("600000"), IndexBytes({{G("概况"), "a.sub"}, {"", std::string("b.s\0ub", 6)}}));
  EXPECT_TRUE(Thread.FTitles.empty());  // indexing off
  EXPECT_FALSE(Exists("des/600000.F10"));
}

TEST_F(UniteStockTest, MissingSectionWithTitleIsCreatedAndTitled) {
  Thread.FMakeIndex = true;
  Stage("600000", {{G("财务"), "new.sub"}, {"", "none.sub"}});
  Merge("600000");
  const std::string created = "`" + G("财务") + Texts::BannerTail + "\r\n\r\n";
  EXPECT_EQ(Read("src/DATA/600000/new.sub"), created);
  EXPECT_EQ(Read("des/600000.txt"), created);  // no title line: the line after it is empty
  EXPECT_FALSE(Exists("src/DATA/600000/none.sub"));
  EXPECT_EQ(Thread.FTitles, std::vector<std::string>{G("财务")});
  const std::string stage = D("src/DATA/600000");
  for (const char* name : {"\\new.sub", "\\none.sub"}) {
    EXPECT_TRUE(Has(FileMessages(), G("找不到文件") + stage + name));
    EXPECT_FALSE(Has(FormMessages(), G("找不到文件") + stage + name));
  }
}

TEST_F(UniteStockTest, ShanghaiSkips000001AndShenzhenMergesIt) {
  Write("src/DATA/000001/a.sub", "x\r\n");
  Stage("000001", {{"", "a.sub"}});
  Merge("000001");
  EXPECT_TRUE(Host.FormLog.empty());
  EXPECT_FALSE(Exists("des/000001.txt"));
  EXPECT_FALSE(stdfs::exists(Fs.HostPath(Thread.LogFilePath())));
  Thread.FMarket = "2";
  Merge("000001", "szdes");
  EXPECT_EQ(Read("szdes/000001.txt"), "x\r\n");
}

TEST_F(UniteStockTest, EmptyIndexGivesEmptyTextAndRemovesTheStagingIndex) {
  Thread.FMirrors = {{"SH", D("m")}};
  stdfs::create_directories(H("m"));
  Write("des/600000.txt", "old\r\n");
  Stage("600000", {});
  Merge("600000");
  EXPECT_TRUE(Exists("des/600000.txt"));
  EXPECT_EQ(Read("des/600000.txt"), "");
  EXPECT_TRUE(Exists("m/600000.txt"));
  EXPECT_EQ(Read("m/600000.txt"), "");
  EXPECT_FALSE(Exists("src/DATA/600000/600000.F10"));
}

TEST_F(UniteStockTest, TextFileNamesThatLeaveTheStageFolderAreRefused) {
  const std::string outside = D("src/DATA/outside.sub");
  for (const std::string& name : {std::string("..\\outside.sub"), std::string("sub/../../outside.sub"),
                                  outside.substr(2), outside}) {
    Stage("600000", {{"T", name}});
    Merge("600000");
    EXPECT_EQ(Host.Status, Texts::ErrorCaption + Texts::BadTextFileName + name);
    EXPECT_EQ(FormMessages().back(), Texts::BadTextFileName + name);
    EXPECT_FALSE(Exists("src/DATA/outside.sub")) << name;
  }
  // Nor is an existing file outside read.
  Write("src/DATA/outside.sub", "SECRET\r\n");
  Stage("600000", {{"T", "..\\outside.sub"}});
  Merge("600000");
  EXPECT_EQ(Read("des/600000.txt"), "");
  // A sub-folder of the stage folder is fine; a link there is not.
  Write("src/DATA/600000/sub/x.sub", "inner\r\n");
  Stage("600000", {{"", "sub\\x.sub"}});
  Merge("600000");
  EXPECT_EQ(Read("des/600000.txt"), "inner\r\n");
#ifndef _WIN32  // Wine shows a link as its target
  stdfs::create_directory_symlink(H("src/DATA"), H("src/DATA/600000/up"));
  Stage("600000", {{"", "sub\\x.sub"}, {"", "up\\outside.sub"}});
  Merge("600000");
  EXPECT_EQ(FormMessages().back(), Texts::BadTextFileName + "up\\outside.sub");
  EXPECT_EQ(Read("des/600000.txt"), "");
#endif
}

TEST_F(UniteStockTest, TextAndIndexGoToTheMirrorsOfTheirMarketOnly) {
  Thread.FMakeIndex = true;
  Thread.FMirrors = {{"xSHx", D("m/a")}, {"SZ", D("m/b")}, {"SHSZ", D("m/c")},
                     {"sh sz", D("m/d")}, {"other", D("m/e")}, {"SH2", D("m/gone/deeper")}};
  for (const char* m : {"m/a", "m/b", "m/c", "m/d", "m/e"}) stdfs::create_directories(H(m));
  Write("src/DATA/600000/a.sub", "`t`\r\n");
  Stage("600000", {{"t", "a.sub"}});
  Merge("600000");
  Thread.FMarket = "2";
  Write("src/DATA/000002/a.sub", "`t`\r\n");
  Stage("000002", {{"t", "a.sub"}});
  Merge("000002", "szdes");
  EXPECT_EQ(FormMessages().back(), "000002" + G("合并完毕"));
  for (const char* ext : {".txt", ".F10"}) {
    EXPECT_TRUE(Exists(std::string("m/a/600000") + ext));
    EXPECT_TRUE(Exists(std::string("m/c/600000") + ext));
    EXPECT_FALSE(Exists(std::string("m/b/600000") + ext));
    EXPECT_TRUE(Exists(std::string("m/b/000002") + ext));
    EXPECT_TRUE(Exists(std::string("m/c/000002") + ext));
    EXPECT_FALSE(Exists(std::string("m/a/000002") + ext));
  }
  EXPECT_TRUE(stdfs::is_empty(H("m/d")) && stdfs::is_empty(H("m/e")));
  EXPECT_EQ(Read("m/a/600000.F10"), Read("des/600000.F10"));
}

TEST_F(UniteStockTest, IndexingOffCollectsNoTitlesAndMakesNoIndex) {
  Thread.FMirrors = {{"SH", D("m")}};
  stdfs::create_directories(H("m"));
  Write("src/DATA/600000/a.sub", "`t`\r\n");
  Stage("600000", {{"t", "a.sub"}});
  Merge("600000");
  EXPECT_TRUE(Thread.FTitles.empty());
  EXPECT_TRUE(Exists("m/600000.txt"));
  EXPECT_FALSE(Exists("des/600000.F10"));
  EXPECT_FALSE(Exists("m/600000.F10"));
}

TEST_F(UniteStockTest, AFailedStockIsReportedLeavesItsStagingIndexAndTheRunGoesOn) {
  Write("src/DATA/600000/a.sub", "x\r\n");
  Stage("600000", {{"", "a.sub"}});
  Merge("600000", "missing");  // no target root: the text cannot be made
  const std::vector<std::string> failed = FormMessages();
  ASSERT_EQ(failed.size(), 2u);
  EXPECT_FALSE(failed[1].empty());
  EXPECT_EQ(Host.Status, Texts::ErrorCaption + failed[1]);
  EXPECT_EQ(StagingIndex("600000"), IndexBytes({{"", "a.sub"}}) + "JNK");  // discarded unsaved
  Merge("600000");
  EXPECT_EQ(FormMessages().back(), "600000" + G("合并完毕"));
  EXPECT_EQ(Read("des/600000.txt"), "x\r\n");
}

TEST_F(UniteStockTest, ASectionThatCannotBeReadLeavesTheTextEmptied) {
  Write("des/600000.txt", "stale\r\n");
  Write("src/DATA/600000/a.sub", "x\r\n");
  Write("src/DATA/600000/b.sub", "y\r\n");
  Stage("600000", {{"", "a.sub"}, {"", "b.sub"}});
  Fs.FailWhen("openshared", "b.sub", kErrAccessDenied);
  Merge("600000");
  EXPECT_FALSE(FormMessages().back().empty());
  EXPECT_EQ(Host.Status, Texts::ErrorCaption + FormMessages().back());
  EXPECT_EQ(Read("des/600000.txt"), "");
  EXPECT_EQ(StagingIndex("600000"), IndexBytes({{"", "a.sub"}, {"", "b.sub"}}) + "JNK");
}

TEST_F(UniteStockTest, WithoutStagingIndexTheIndexIsMadeFromTheOldTextWithoutOldTitles) {
  Thread.FMakeIndex = true;
  Thread.FTitles = {"left over"};
  Write("des/600000.txt", "`a`\r\nbody\r\n");
  Merge("600000");
  EXPECT_TRUE(Thread.FTitles.empty());
  // No text was written: the stock is not done, whatever its index.
  EXPECT_EQ(FormMessages(), (std::vector<std::string>{G("合并") + "600000...", G("生成600000索引")}));
  const auto recs = ReadIndex(Read("des/600000.F10"));
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(FieldText(recs[0].Title), Texts::DefaultTitle);
}

TEST_F(UniteStockTest, IndexOfAMergedTextPointsAtItsTitleLines) {
  Thread.FMakeIndex = true;
  Thread.FMarket = "2";
  Write("src/DATA/000002/a.sub", B + "\r\n" + G("公司概况") + A + "\r\n" + G("正文") + "\r\n");
  Write("src/DATA/000002/b.sub", "x" + B + "\r\n" + G("股东") + A + "y\r\nz\r\n");
  Stage("000002", {{G("概况"), "a.sub"}, {G("股东研究"), "b.sub"}});
  Merge("000002", "szdes");
  const std::string text = Read("szdes/000002.txt");
  const auto recs = ReadIndex(Read("szdes/000002.F10"));
  ASSERT_EQ(recs.size(), 2u);
  const std::string titles[] = {G("概况"), G("股东研究")};
  std::int32_t next = 0;
  for (int i = 0; i < 2; ++i) {
    const std::int32_t offset = recs[i].TextOffset;  // a packed field: read by value
    EXPECT_EQ(offset, next);
    EXPECT_EQ(text[static_cast<std::size_t>(offset)], '`');
    EXPECT_EQ(FieldText(recs[i].Title), titles[i]);
    EXPECT_EQ(recs[i].Market, 2);
    EXPECT_EQ(FieldText(recs[i].TextFile), "000002.txt");
    next = recs[i].TextOffset + recs[i].TextLength;
  }
  EXPECT_EQ(text.substr(static_cast<std::size_t>(recs[1].TextOffset), 8), "`" + G("股东") + "`\r\n");
  EXPECT_EQ(static_cast<std::size_t>(next), text.size());
}
