// What a run leaves for the next one when a stock is stopped half way: the stock stays marked
// in its archive, the next run takes it up without a new delivery and clears the mark; a mark
// that cannot be made stops the run before any section file leaves the source root.

#include "Scenario.h"

namespace reliability {
namespace {

class TRecovery : public ::testing::Test {
 protected:
  void SetUp() override {
    Root = Scratch.Path();
    for (const std::string& dir : TLayout::Allowed()) fs::create_directories(Root / dir);
    WriteFile(SettingsHostPath(Root / TLayout::Home), "");
    WriteFile((Root / "shsrc" / "600000A.sub").string(), "a\r\n");
    WriteFile((Root / "shsrc" / "600000B.sub").string(), "b\r\n");
    WriteFile((Root / "shsrc" / "600000.F10").string(),
              IndexBytes({{"A", "600000A.sub"}, {"B", "600000B.sub"}}));
  }
  std::string Text() const { return ReadFile((Root / "shdes" / "600000.txt").string()); }
  bool Marked() const { return fs::exists(Root / "shsrc" / "DATA" / "600000.pending"); }

  TScratch Scratch;
  fs::path Root;
};

TEST_F(TRecovery, AStockStoppedHalfWayIsMergedByTheNextRunWithoutANewDelivery) {
  {
    TTreeRun run(Root);
    run.Fs().FailWhen("openshared", "600000B.sub", kErrAccessDenied);
    run.Execute();
    EXPECT_EQ(run.Host().Status, Texts::ErrorCaption + IoErrorText(kErrAccessDenied));
  }
  EXPECT_EQ(Text(), "");  // emptied before its sections were read
  EXPECT_TRUE(Marked());
  EXPECT_FALSE(fs::exists(Root / "shsrc" / "600000B.sub")) << "staged before the failure";

  {
    TTreeRun run(Root);
    run.Execute();
    EXPECT_EQ(run.Host().Status, "");
  }
  EXPECT_EQ(Text(), "a\r\nb\r\n");
  EXPECT_FALSE(Marked());

  // Done: a third run has nothing to do for it.
  TTreeRun idle(Root);
  idle.Execute();
  for (const std::string& line : idle.Host().FormLog)
    EXPECT_EQ(line.find("600000"), std::string::npos) << GbkToUtf8(line);
}

// A finished stock's mark becomes the next stock's; one that finds its own mark there (left
// by a stopped run) must not leave the finished stock's behind.
TEST_F(TRecovery, NoMarkStaysAfterARunWhateverMarksItFound) {
  WriteFile((Root / "shsrc" / "600001A.sub").string(), "c\r\n");
  WriteFile((Root / "shsrc" / "600001.F10").string(), IndexBytes({{"A", "600001A.sub"}}));
  fs::create_directories(Root / "shsrc" / "DATA");
  WriteFile((Root / "shsrc" / "DATA" / "600001.pending").string(), "");
  TTreeRun run(Root);
  run.Execute();
  EXPECT_EQ(run.Host().Status, "");
  EXPECT_EQ(Text(), "a\r\nb\r\n");
  EXPECT_EQ(ReadFile((Root / "shdes" / "600001.txt").string()), "c\r\n");
  for (const auto& entry : fs::directory_iterator(Root / "shsrc" / "DATA"))
    EXPECT_TRUE(entry.is_directory()) << "left behind: " << entry.path();
}

TEST_F(TRecovery, AMarkThatCannotBeMadeStopsTheRunBeforeAnySectionMoves) {
  TTreeRun run(Root);
  run.Fs().FailWhen("createifmissing", ".pending", kErrDiskFull);
  run.Execute();
  EXPECT_EQ(run.Host().Status,
            Texts::ErrorCaption + "D:\\shsrc\\DATA" + Texts::DirCreateErrorCaption);
  EXPECT_TRUE(fs::exists(Root / "shsrc" / "600000A.sub"));
  EXPECT_TRUE(fs::exists(Root / "shsrc" / "600000B.sub"));
  EXPECT_FALSE(fs::exists(Root / "shdes" / "600000.txt"));
}

}  // namespace
}  // namespace reliability
