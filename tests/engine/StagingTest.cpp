// Staging: what a run does to the source trees, the stage folders and the mirrors when
// nothing goes wrong.

#include "RunFixture.h"

namespace enginetest {
namespace {

class TStagingTest : public TRunTest, public ::testing::WithParamInterface<bool> {
 protected:
  TStagingTest() { StageAhead = GetParam(); }
  void SetUp() override {
    for (const char* root : {"shsrc", "shdes", "szsrc", "szdes"}) MakeDir(root);
  }
};

TEST_P(TStagingTest, MovesSectionsCopiesIndexAndHandsEachStockToTheMerge) {
  Deliver("shsrc", "600000", {"A", "B"});
  Deliver("shsrc", "600001", {"A"});
  Deliver("szsrc", "000002", {"A"});
  const std::string index600000 = ReadFile(Tmp / "shsrc/600000.F10");
  NewRun()->Execute();

  EXPECT_FALSE(Exists(Tmp / "shsrc/600000A.sub"));
  EXPECT_FALSE(Exists(Tmp / "shsrc/600000B.sub"));
  EXPECT_EQ(ReadFile(Tmp / "shsrc/DATA/600000/600000A.sub"), SectionBytes("600000", "A"));
  EXPECT_EQ(ReadFile(Tmp / "shsrc/DATA/600000/600000B.sub"), SectionBytes("600000", "B"));
  EXPECT_EQ(ReadFile(Tmp / "shsrc/DATA/600001/600001A.sub"), SectionBytes("600001", "A"));
  EXPECT_EQ(ReadFile(Tmp / "szsrc/DATA/000002/000002A.sub"), SectionBytes("000002", "A"));
  // The index stays where the feed put it; the stage gets a copy of it.
  EXPECT_EQ(ReadFile(Tmp / "shsrc/600000.F10"), index600000);
  EXPECT_EQ(ReadFile(Tmp / "shsrc/DATA/600000/600000.F10"), index600000);
  EXPECT_TRUE(Exists(Tmp / "szsrc/DATA/000002/000002.F10"));
  // Each stock went on to its market's target root.
  EXPECT_TRUE(Exists(Tmp / "shdes/600000.txt"));
  EXPECT_TRUE(Exists(Tmp / "shdes/600001.txt"));
  EXPECT_TRUE(Exists(Tmp / "szdes/000002.txt"));
  EXPECT_FALSE(Exists(Tmp / "shdes/000002.txt"));
  EXPECT_EQ(Host.Status, "");
}

TEST_P(TStagingTest, EachMarketRunsUnderItsOwnMarketMark) {
  // Shanghai's 000001 is the composites' template and is not merged; Shenzhen's is a stock.
  Deliver("shsrc", "000001", {"A"});
  Deliver("szsrc", "000001", {"A"});
  NewRun()->Execute();
  EXPECT_TRUE(Exists(Tmp / "shsrc/DATA/000001/000001A.sub"));
  EXPECT_TRUE(Exists(Tmp / "szsrc/DATA/000001/000001A.sub"));
  EXPECT_FALSE(Exists(Tmp / "shdes/000001.txt"));
  EXPECT_TRUE(Exists(Tmp / "szdes/000001.txt"));
}

TEST_P(TStagingTest, SectionAlreadyStagedIsReplaced) {
  WriteFile(Tmp / "shsrc/DATA/600000/600000A.sub", "yesterday's section\r\n");
  Deliver("shsrc", "600000", {"A"});
  NewRun()->Execute();
  EXPECT_EQ(ReadFile(Tmp / "shsrc/DATA/600000/600000A.sub"), SectionBytes("600000", "A"));
  EXPECT_FALSE(Exists(Tmp / "shsrc/600000A.sub"));
  EXPECT_EQ(Host.Status, "");
}

TEST_P(TStagingTest, OnlyStocksWithIndexAndSectionsAreTouched) {
  Deliver("shsrc", "600003", {});                                  // index alone
  WriteFile(Tmp / "shsrc/600004A.sub", SectionBytes("600004", "A"));  // sections alone
  WriteFile(Tmp / "shsrc/600004B.sub", SectionBytes("600004", "B"));
  NewRun()->Execute();

  // The archive folders are made all the same.
  EXPECT_TRUE(testsupport::fs::is_directory(Tmp / "shsrc/DATA"));
  EXPECT_TRUE(testsupport::fs::is_directory(Tmp / "szsrc/DATA"));
  EXPECT_FALSE(Exists(Tmp / "shsrc/DATA/600003"));
  EXPECT_FALSE(Exists(Tmp / "shsrc/DATA/600004"));
  EXPECT_TRUE(Exists(Tmp / "shsrc/600003.F10"));
  EXPECT_EQ(ReadFile(Tmp / "shsrc/600004A.sub"), SectionBytes("600004", "A"));
  EXPECT_EQ(ReadFile(Tmp / "shsrc/600004B.sub"), SectionBytes("600004", "B"));
  EXPECT_FALSE(Mentioned("600003"));
  EXPECT_FALSE(Mentioned("600004"));
  EXPECT_TRUE(testsupport::fs::is_empty(Tmp / "szsrc/DATA"));  // nothing was waiting there
  EXPECT_EQ(Host.Status, "");
}

TEST_P(TStagingTest, FailedIndexCopyIsSilentAndTheMergeReadsTheOldCopy) {
  const std::string old = IndexBytes({{"OLD", "600000A.sub"}});
  WriteFile(Tmp / "shsrc/DATA/600000/600000.F10", old);
  Deliver("shsrc", "600000", {"A"});
  Fs.FailWhen("create", "DATA\\600000\\600000.F10", kErrSharingViolation);
  NewRun()->Execute();

  EXPECT_GE(Fs.Failures(), 1);
  EXPECT_EQ(ReadFile(Tmp / "shsrc/DATA/600000/600000.F10"), old);
  EXPECT_TRUE(Exists(Tmp / "shsrc/DATA/600000/600000A.sub"));
  EXPECT_TRUE(Exists(Tmp / "shdes/600000.txt"));
  EXPECT_EQ(Host.Status, "");
  for (const std::string& line : Host.FormLog) {
    EXPECT_EQ(line.find(Texts::ErrorCaption), std::string::npos) << line;
    EXPECT_EQ(line.find("I/O error"), std::string::npos) << line;
  }
}

TEST_P(TStagingTest, MirrorEntriesSelectTheirMarketByCaseSensitiveNames) {
  for (const char* dir : {"m_sh", "m_lower", "m_both", "m_sz", "m_none", "m_dup"}) MakeDir(dir);
  Settings("[多路径拷贝]\r\n"
           "SH1=" + Drive("m_sh") + "\r\n"
           "sh2=" + Drive("m_lower") + "\r\n"
           "xSHSZx=" + Drive("m_both") + "\r\n"
           "SZ1=" + Drive("m_sz") + "\r\n"
           "XX=" + Drive("m_none") + "\r\n"
           "SH3=\r\n"
           "sh1=" + Drive("m_dup") + "\r\n"
           "[大盘代码]\r\n");
  Deliver("shsrc", "600000", {"A"});
  Deliver("szsrc", "000002", {"A"});
  auto run = NewRun();
  run->Execute();

  const std::string sh = ReadFile(Tmp / "shdes/600000.txt");
  const std::string sz = ReadFile(Tmp / "szdes/000002.txt");
  EXPECT_EQ(ReadFile(Tmp / "m_sh/600000.txt"), sh);
  EXPECT_FALSE(Exists(Tmp / "m_sh/000002.txt"));
  EXPECT_EQ(ReadFile(Tmp / "m_both/600000.txt"), sh);
  EXPECT_EQ(ReadFile(Tmp / "m_both/000002.txt"), sz);
  EXPECT_EQ(ReadFile(Tmp / "m_sz/000002.txt"), sz);
  EXPECT_FALSE(Exists(Tmp / "m_sz/600000.txt"));
  for (const char* dir : {"m_lower", "m_none", "m_dup"})
    EXPECT_TRUE(testsupport::fs::is_empty(Tmp / dir)) << dir;
  // The entry without a folder names no folder: nothing lands at the root of the drive.
  EXPECT_FALSE(Exists("/600000.txt"));
  // The run's lists are gone with the run.
  EXPECT_TRUE(run->FMirrors.empty());
  EXPECT_TRUE(run->FTitles.empty());
}

TEST_P(TStagingTest, StopRequestEndsTheMarketBetweenTwoStocks) {
  Deliver("shsrc", "600000", {"A"});
  Deliver("shsrc", "600001", {"A"});
  Deliver("szsrc", "000002", {"A"});
  auto run = NewRun();
  TUniteThread* target = run.get();
  // The form asks the run to stop while the first stock is being staged.
  Fs.OnOperation([target](const std::string& kind, const std::string& path) {
    if (kind == "move" && path.find("600000A.sub") != std::string::npos) target->Terminate();
  });
  run->Execute();
  Fs.OnOperation(nullptr);

  EXPECT_TRUE(Exists(Tmp / "shsrc/DATA/600000/600000A.sub"));
  EXPECT_TRUE(Exists(Tmp / "shdes/600000.txt"));  // the stock begun is finished
  EXPECT_TRUE(Exists(Tmp / "shsrc/600001A.sub"));
  EXPECT_FALSE(Exists(Tmp / "shsrc/DATA/600001"));
  EXPECT_TRUE(Exists(Tmp / "szsrc/000002A.sub"));
  EXPECT_FALSE(Exists(Tmp / "szsrc/DATA"));
  EXPECT_EQ(Host.Status, "");
  ASSERT_GE(Host.Events.size(), 3u);
  EXPECT_EQ(Host.Events.back(), "ended");
}

TEST_P(TStagingTest, StopRequestBeforeTheRunStagesNothing) {
  Deliver("shsrc", "600000", {"A"});
  Deliver("szsrc", "000002", {"A"});
  auto run = NewRun();
  run->Terminate();
  run->Execute();
  EXPECT_TRUE(Exists(Tmp / "shsrc/600000A.sub"));
  EXPECT_TRUE(Exists(Tmp / "szsrc/000002A.sub"));
  EXPECT_FALSE(Exists(Tmp / "shsrc/DATA"));
  EXPECT_FALSE(Exists(Tmp / "szsrc/DATA"));
  EXPECT_EQ(Host.Events, (std::vector<std::string>{"timer:off", "button:off", "timer:on",
                                                    "button:on", "ended"}));
}

INSTANTIATE_TEST_SUITE_P(BothWays, TStagingTest, ::testing::Bool(), StagingName);

}  // namespace
}  // namespace enginetest
