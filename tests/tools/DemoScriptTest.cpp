// tools/demo.sh with the real feed generator and a stand-in for the program, whose exit
// status and outputs each case chooses: the script must show what a run did and fail loudly
// when the run did not do its job.

#include <sys/stat.h>

#include "ToolRun.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TTempDir;

// Writes what the mode asks for into the home folder and the feed, then exits as asked.
// The log line is GBK: "合并600000..." (merge 600000...).
constexpr char kFakeProgram[] = R"(#!/bin/sh
[ "$1" = --once ] && [ "$2" = --home ] || exit 64
home=$3
feed=$(dirname "$home")
case $FAKE_MODE in *log*)
  printf '[2024-01-01 10:00:00] \272\317\262\242600000...\r\n' > "$home/UniteLog2024-01-01.txt" ;;
esac
case $FAKE_MODE in *text*)
  printf 'x\r\n' > "$feed/sh/dst/600000.txt"
  printf 'y\r\n' > "$feed/mirror/sh/600000.txt" ;;
esac
case $FAKE_MODE in *staged*)
  mkdir -p "$feed/sh/src/DATA/600000" && mv "$feed"/sh/src/*.sub "$feed/sh/src/DATA/600000/"
  mkdir -p "$feed/sz/src/DATA/000001" && mv "$feed"/sz/src/*.sub "$feed/sz/src/DATA/000001/" ;;
esac
exit "${FAKE_STATUS:-0}"
)";

class DemoScript : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(FTmp / "build");
    fs::create_symlink(LORVANE_FEEDGEN, FTmp / "build/lorvane-feedgen");
    testsupport::WriteFile(FTmp / "build/lorvane", kFakeProgram);
    chmod((FTmp / "build/lorvane").c_str(), 0755);
  }
  toolrun::TResult RunDemo(const std::string& mode, int status = 0) {
    return toolrun::Run(FTmp,
                        {"bash", std::string(LORVANE_SOURCE_DIR) + "/tools/demo.sh", FTmp / "build"},
                        {"LORVANE_DEMO_DIR=" + toolrun::Quote(Demo()), "FAKE_MODE=" + mode,
                         "FAKE_STATUS=" + std::to_string(status)});
  }
  std::string Demo() const { return FTmp / "demo"; }

  TTempDir FTmp;
};

TEST_F(DemoScript, RegeneratesTheFeedRunsOnceAndShowsTheLogAndTheOutputs) {
  testsupport::WriteFile(Demo() + "/stale.txt", "from an earlier demo");
  const auto result = RunDemo("log+text+staged");
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_FALSE(fs::exists(Demo() + "/stale.txt"));
  EXPECT_TRUE(fs::exists(Demo() + "/sh/src/600004.F10"));
  EXPECT_TRUE(fs::exists(Demo() + "/sz/src/000005.F10"));
  EXPECT_NE(result.Out.find("合并600000..."), std::string::npos) << result.Out;
  EXPECT_EQ(result.Out.find('\r'), std::string::npos);
  EXPECT_NE(result.Out.find("sh/dst"), std::string::npos);
  EXPECT_NE(result.Out.find("       3  600000.txt"), std::string::npos) << result.Out;
  EXPECT_NE(result.Out.find("mirror/both"), std::string::npos);
  EXPECT_NE(result.Out.find("--home " + Demo() + "/home"), std::string::npos);
}

TEST_F(DemoScript, FailsLoudlyWhenTheProgramFailsAndStillShowsItsLog) {
  const auto result = RunDemo("log+text+staged", 2);
  EXPECT_NE(result.Status, 0);
  EXPECT_NE(result.Err.find("FAILED"), std::string::npos) << result.Err;
  EXPECT_NE(result.Err.find("exit status 2"), std::string::npos) << result.Err;
  EXPECT_NE(result.Out.find("合并600000..."), std::string::npos);
}

// Status 1 is a reported failure: a stock's is passed over by the run, which still stages
// every stock; one that ends the run leaves section files behind.
TEST_F(DemoScript, AcceptsAReportedStockFailureButNotARunThatEndedEarly) {
  const auto stock = RunDemo("log+text+staged", 1);
  EXPECT_EQ(stock.Status, 0) << stock.Err;
  EXPECT_NE(stock.Out.find("reported a failure"), std::string::npos) << stock.Out;

  const auto early = RunDemo("log+text", 1);
  EXPECT_NE(early.Status, 0);
  EXPECT_NE(early.Err.find("ended early"), std::string::npos) << early.Err;

  const auto silent = RunDemo("log+text", 0);
  EXPECT_NE(silent.Status, 0);
  EXPECT_NE(silent.Err.find("not staged"), std::string::npos) << silent.Err;
}

TEST_F(DemoScript, FailsWhenTheRunLeftNoLogOrMergedNothing) {
  const auto noLog = RunDemo("text+staged");
  EXPECT_NE(noLog.Status, 0);
  EXPECT_NE(noLog.Err.find("no log"), std::string::npos) << noLog.Err;

  const auto noText = RunDemo("log+staged");
  EXPECT_NE(noText.Status, 0);
  EXPECT_NE(noText.Err.find("no stock text"), std::string::npos) << noText.Err;
}

TEST_F(DemoScript, FailsBeforeTouchingTheDemoFolderWhenTheProgramIsNotBuilt) {
  fs::remove(FTmp / "build/lorvane");
  testsupport::WriteFile(Demo() + "/keep.txt", "x");
  const auto result = RunDemo("log+text+staged");
  EXPECT_NE(result.Status, 0);
  EXPECT_NE(result.Err.find("missing"), std::string::npos) << result.Err;
  EXPECT_TRUE(fs::exists(Demo() + "/keep.txt"));
}

}  // namespace
