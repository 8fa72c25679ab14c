// Failures that end a run: their exact messages, the status caption, what survives them, the
// order in which the run hands the form back, and markets that are not configured.

#include "RunFixture.h"

namespace enginetest {
namespace {

class TRunFailureTest : public TRunTest, public ::testing::WithParamInterface<bool> {
 protected:
  TRunFailureTest() { StageAhead = GetParam(); }
  void SetUp() override {
    MakeDir("shdes");
    MakeDir("szdes");
  }
  // The run always gives the form back last, in this order, and only once.
  void ExpectHandedBack() {
    ASSERT_GE(Host.Events.size(), 5u);
    EXPECT_EQ(Host.Events[0], "timer:off");
    EXPECT_EQ(Host.Events[1], "button:off");
    const std::vector<std::string> tail(Host.Events.end() - 3, Host.Events.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"timer:on", "button:on", "ended"}));
    EXPECT_EQ(std::count(Host.Events.begin(), Host.Events.end(), "ended"), 1);
    EXPECT_TRUE(Host.TimerOn);
    EXPECT_TRUE(Host.ButtonOn);
  }
  // The failure's line went to the file and to the form, then the caption was set.
  void ExpectReported(const std::string& message, const std::string& archive) {
    EXPECT_TRUE(Logged(message)) << GbkToUtf8(LogBytes());
    EXPECT_EQ(Host.Status, Caption(archive)) << GbkToUtf8(Host.Status);
    const auto logged = std::find(Host.Events.begin(), Host.Events.end(), "log:" + Line(message));
    const auto status = std::find(Host.Events.begin(), Host.Events.end(), "status:" + Caption(archive));
    EXPECT_NE(logged, Host.Events.end());
    EXPECT_LT(logged, status);
  }
};

TEST_P(TRunFailureTest, MoveFailingOnTheSecondOfThreeSectionsEndsTheRun) {
  Deliver("shsrc", "600000", {"A"});
  Deliver("shsrc", "600001", {"A", "B", "C"});
  Deliver("shsrc", "600002", {"A"});
  Deliver("szsrc", "000002", {"A"});
  Fs.FailWhen("move", "600001B.sub", kErrAccessDenied);
  NewRun()->Execute();

  ExpectReported("600001" + Texts::CannotMove, Drive("shsrc") + "\\DATA");
  ExpectHandedBack();
  // The stock before is complete.
  EXPECT_TRUE(Exists(Tmp / "shsrc/DATA/600000/600000A.sub"));
  EXPECT_TRUE(Exists(Tmp / "shdes/600000.txt"));
  // The failing stock: the first section moved, the rest and its index wait for next time.
  EXPECT_TRUE(Exists(Tmp / "shsrc/DATA/600001/600001A.sub"));
  EXPECT_EQ(ReadFile(Tmp / "shsrc/600001B.sub"), SectionBytes("600001", "B"));
  EXPECT_EQ(ReadFile(Tmp / "shsrc/600001C.sub"), SectionBytes("600001", "C"));
  EXPECT_FALSE(Exists(Tmp / "shsrc/DATA/600001/600001B.sub"));
  EXPECT_FALSE(Exists(Tmp / "shsrc/DATA/600001/600001.F10"));
  EXPECT_TRUE(Exists(Tmp / "shsrc/600001.F10"));
  EXPECT_FALSE(Exists(Tmp / "shdes/600001.txt"));
  // Nothing after it, of either market.
  EXPECT_TRUE(Exists(Tmp / "shsrc/600002A.sub"));
  EXPECT_FALSE(Exists(Tmp / "shsrc/DATA/600002"));
  EXPECT_TRUE(Exists(Tmp / "szsrc/000002A.sub"));
  EXPECT_FALSE(Exists(Tmp / "szsrc/DATA"));
}

TEST_P(TRunFailureTest, MissingShanghaiSourceRootStillBuildsCompositesButStagesNothing) {
  Settings("[大盘代码]\r\nSH1=999999\r\n");
  Deliver("szsrc", "000002", {"A"});
  NewRun()->Execute();

  const std::string archive = Drive("shsrc") + "\\DATA";
  ExpectReported(archive + Texts::DirCreateError, archive);
  ExpectHandedBack();
  EXPECT_TRUE(Exists(Tmp / "shdes/999999.txt"));  // the composites came first
  EXPECT_FALSE(Exists(Tmp / "shsrc"));            // a missing root is not made
  EXPECT_TRUE(Exists(Tmp / "szsrc/000002A.sub"));
  EXPECT_FALSE(Exists(Tmp / "szsrc/DATA"));
}

TEST_P(TRunFailureTest, MissingShenzhenSourceRootEndsTheRunAfterShanghai) {
  Deliver("shsrc", "600000", {"A"});
  Deliver("shsrc", "600001", {"A"});
  NewRun()->Execute();

  const std::string archive = Drive("szsrc") + "\\DATA";
  ExpectReported(archive + Texts::DirCreateError, archive);
  ExpectHandedBack();
  EXPECT_TRUE(Exists(Tmp / "shdes/600000.txt"));
  EXPECT_TRUE(Exists(Tmp / "shdes/600001.txt"));
  EXPECT_FALSE(Exists(Tmp / "szsrc"));
}

TEST_P(TRunFailureTest, StageFolderBlockedByAFile) {
  WriteFile(Tmp / "shsrc/DATA/600000", "not a folder");
  Deliver("shsrc", "600000", {"A"});
  NewRun()->Execute();

  ExpectReported(Drive("shsrc") + "\\DATA\\600000" + Texts::DirCreateError,
                 Drive("shsrc") + "\\DATA");
  ExpectHandedBack();
  EXPECT_TRUE(Exists(Tmp / "shsrc/600000A.sub"));
  EXPECT_FALSE(Exists(Tmp / "szsrc/DATA"));
}

TEST_P(TRunFailureTest, CaptionNamesTheShenzhenArchiveOnceShenzhenHasBegun) {
  Deliver("shsrc", "600000", {"A"});
  Deliver("szsrc", "000002", {"A"});
  Deliver("szsrc", "000003", {"A"});
  Fs.FailWhen("mkdir", "DATA\\000002", kErrAccessDenied);
  NewRun()->Execute();

  ExpectReported(Drive("szsrc") + "\\DATA\\000002" + Texts::DirCreateError,
                 Drive("szsrc") + "\\DATA");
  ExpectHandedBack();
  EXPECT_TRUE(Exists(Tmp / "shdes/600000.txt"));
  EXPECT_TRUE(Exists(Tmp / "szsrc/000002A.sub"));
  EXPECT_TRUE(Exists(Tmp / "szsrc/000003A.sub"));
  EXPECT_FALSE(Exists(Tmp / "szsrc/DATA/000003"));
}

TEST_P(TRunFailureTest, StagedCopyThatCannotBeDeleted) {
  WriteFile(Tmp / "shsrc/DATA/600000/600000A.sub", "yesterday's section\r\n");
  Deliver("shsrc", "600000", {"A"});
  Fs.FailWhen("delete", "600000A.sub", kErrAccessDenied);
  NewRun()->Execute();

  ExpectReported(Texts::CannotDelete + Drive("shsrc") + "\\DATA\\600000\\600000A.sub",
                 Drive("shsrc") + "\\DATA");
  ExpectHandedBack();
  EXPECT_EQ(ReadFile(Tmp / "shsrc/DATA/600000/600000A.sub"), "yesterday's section\r\n");
  EXPECT_EQ(ReadFile(Tmp / "shsrc/600000A.sub"), SectionBytes("600000", "A"));
}

TEST_P(TRunFailureTest, SuccessfulRunHandsBackInOrderAndReportsNothing) {
  Deliver("shsrc", "600000", {"A"});
  Deliver("szsrc", "000002", {"A"});
  NewRun()->Execute();
  ExpectHandedBack();
  EXPECT_TRUE(Host.StatusHistory.empty());
  EXPECT_FALSE(Mentioned(Texts::DirCreateError));
}

// --- Markets without both roots ---

TEST_P(TRunFailureTest, MarketsWithoutBothRootsAreLeftAlone) {
  Deliver("shsrc", "600000", {"A"});
  Deliver("szsrc", "000002", {"A"});
  // Should the run ever take an empty root for a drive's root again, it must not be able to
  // leave anything there: only the log may be written.
  for (const char* kind : {"mkdir", "move", "copy", "create", "delete"})
    Fs.FailWhen(kind, "", kErrAccessDenied);
  std::vector<std::string> touched;
  Fs.OnOperation([&touched](const std::string& kind, const std::string& path) {
    touched.push_back(kind + " " + path);
  });
  auto run = NewRun();
  run->FSrcPath = "";    // Shanghai without a source root
  run->FSzDesPath = "";  // Shenzhen without a target root
  run->Execute();
  Fs.OnOperation(nullptr);

  const std::vector<std::string> expected{Line(Texts::MarketSh + Texts::MarketNotConfigured),
                                          Line(Texts::MarketSz + Texts::MarketNotConfigured)};
  EXPECT_EQ(LogLines(), expected);
  EXPECT_EQ(Host.FormLog, expected);
  EXPECT_TRUE(Host.StatusHistory.empty());
  ExpectHandedBack();
  // Only the settings file, the log and the list of owed mirror copies were looked at, and
  // the folders configured claimed and rid of leftovers: no archive, no listing, no staging.
  for (const std::string& op : touched) {
    const std::string upper = UpperAscii(op);
    EXPECT_TRUE(upper.find(".INI") != std::string::npos || upper.find("UNITELOG") != std::string::npos ||
                upper.find("UNITEMIRRORRETRY") != std::string::npos || upper.rfind("LOCK ", 0) == 0 ||
                (upper.rfind("SWEEP ", 0) == 0 && upper.find("DATA") == std::string::npos))
        << op;
  }
  EXPECT_TRUE(Exists(Tmp / "shsrc/600000A.sub"));
  EXPECT_TRUE(Exists(Tmp / "szsrc/000002A.sub"));
  EXPECT_FALSE(Exists(Tmp / "shsrc/DATA"));
  EXPECT_FALSE(Exists(Tmp / "szsrc/DATA"));
  EXPECT_FALSE(Exists("/DATA"));
}

TEST_P(TRunFailureTest, ConfiguredMarketRunsWhenTheOtherIsNot) {
  Deliver("szsrc", "000002", {"A"});
  auto run = NewRun();
  run->FDesPath = "";
  run->Execute();
  EXPECT_TRUE(Logged(Texts::MarketSh + Texts::MarketNotConfigured));
  EXPECT_TRUE(Exists(Tmp / "szsrc/DATA/000002/000002A.sub"));
  EXPECT_TRUE(Exists(Tmp / "szdes/000002.txt"));
  EXPECT_TRUE(Host.StatusHistory.empty());
}

TEST_P(TRunFailureTest, ALogThatCannotBeWrittenIsNamedAsTheCauseOnce) {
  Deliver("szsrc", "000002", {"A"});
  auto run = NewRun();
  run->FSrcPath = "";
  // The first line of the run cannot be written, nor can the report of that failure: the
  // caption names the log, not an archive the run never came to, and it is told once.
  Fs.FailWhen("append", "UniteLog", kErrAccessDenied);
  run->Execute();

  EXPECT_EQ(Host.Status, Texts::ErrorCaption + Texts::CannotWriteLog + run->LogFilePath() + " File access denied");
  ASSERT_EQ(Host.Details.size(), 1u);
  EXPECT_NE(Host.Details[0].find("permission denied"), std::string::npos) << Host.Details[0];
  EXPECT_TRUE(Host.FormLog.empty());
  ExpectHandedBack();
  EXPECT_TRUE(Exists(Tmp / "szsrc/000002A.sub"));
  EXPECT_FALSE(Exists(Tmp / "szsrc/DATA"));
}

INSTANTIATE_TEST_SUITE_P(BothWays, TRunFailureTest, ::testing::Bool(), StagingName);

}  // namespace
}  // namespace enginetest
