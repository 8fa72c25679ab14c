// The benchmark's instruments, run as bench/run.sh runs them: the floor program must do the
// work it stands for, the output checker must pass right outputs and catch wrong ones, the
// timer must hand back the command's status, and the script must fail loudly when a run's
// outputs are wrong.

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "Index.h"
#include "ToolRun.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TTempDir;
using testsupport::WriteFile;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A small feed with the floor's outputs in it.
class FloorRun : public ::testing::Test {
 protected:
  void Generate(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {LORVANE_FEEDGEN, "--out", Feed(), "--sh", "3", "--sz", "2",
                                     "--sections", "4", "--section-bytes", "900", "--seed", "7"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const auto result = toolrun::Run(FTmp, argv);
    ASSERT_EQ(result.Status, 0) << result.Err;
  }
  toolrun::TResult Floor(bool durable = false) {
    std::vector<std::string> argv = {LORVANE_FLOOR};
    if (durable) argv.push_back("--durable");
    argv.push_back(Feed());
    return toolrun::Run(FTmp, argv);
  }
  toolrun::TResult Check(bool plain, int sh = 3, int sz = 2) {
    std::vector<std::string> argv = {LORVANE_BENCHCHECK};
    if (plain) argv.push_back("--plain");
    for (const std::string& a : {std::string("--sh"), std::to_string(sh), std::string("--sz"),
                                 std::to_string(sz), Feed()})
      argv.push_back(a);
    return toolrun::Run(FTmp, argv);
  }
  std::string Feed() const { return FTmp / "feed"; }
  std::string operator/(const std::string& relative) const { return Feed() + "/" + relative; }

  TTempDir FTmp;
};

TEST_F(FloorRun, StagesMergesAndPublishesEveryStockAndPassesThePlainCheck) {
  Generate({"--index"});
  const auto floor = Floor();
  ASSERT_EQ(floor.Status, 0) << floor.Err;
  EXPECT_TRUE(Contains(floor.Out, "5 stocks, 4 composites")) << floor.Out;

  // The text is the sections' bytes in index order, and every mirror holds it.
  const std::string text = ReadFile(*this / "sh/dst/600001.txt");
  std::string sections;
  for (const char letter : std::string("ABCD"))
    sections += ReadFile(*this / ("sh/src/DATA/600001/600001" + std::string(1, letter) + ".sub"));
  EXPECT_EQ(text, sections);
  EXPECT_EQ(ReadFile(*this / "mirror/sh/600001.txt"), text);
  EXPECT_EQ(ReadFile(*this / "mirror/both/600001.txt"), text);
  EXPECT_FALSE(fs::exists(*this / "mirror/sz/600001.txt"));
  EXPECT_EQ(fs::file_size(*this / "sz/dst/000002.F10"), 16u + 4 * 256);
  EXPECT_EQ(ReadFile(*this / "sz/src/DATA/000002/000002.F10"), ReadFile(*this / "sz/src/000002.F10"));
  EXPECT_FALSE(fs::exists(*this / "sh/src/600001A.sub"));

  const auto plain = Check(true);
  EXPECT_EQ(plain.Status, 0) << plain.Err;
  EXPECT_TRUE(Contains(plain.Out, "ok: 5 stocks, 4 composites")) << plain.Out;
  // The program's outputs carry title lines the floor leaves out: that check must not pass.
  const auto program = Check(false);
  EXPECT_EQ(program.Status, 1);
  EXPECT_TRUE(Contains(program.Err, "sh/dst/600000.txt")) << program.Err;
}

TEST_F(FloorRun, DurableWritesTheSameBytesAndLeavesNoTemporaryFile) {
  Generate({"--index"});
  const auto floor = Floor(true);
  ASSERT_EQ(floor.Status, 0) << floor.Err;
  EXPECT_TRUE(Contains(floor.Out, "(durable)"));
  const auto plain = Check(true);
  EXPECT_EQ(plain.Status, 0) << plain.Err;
  for (const auto& entry : fs::recursive_directory_iterator(Feed()))
    EXPECT_EQ(entry.path().filename().string().rfind(".floor-", 0), std::string::npos) << entry.path();
}

TEST_F(FloorRun, IndexingOffAndNoMirrorsWriteTextsOnly) {
  Generate({"--no-mirrors"});
  const auto floor = Floor();
  ASSERT_EQ(floor.Status, 0) << floor.Err;
  EXPECT_TRUE(fs::exists(*this / "sh/dst/600000.txt"));
  EXPECT_FALSE(fs::exists(*this / "sh/dst/600000.F10"));
  const auto plain = Check(true);
  EXPECT_EQ(plain.Status, 0) << plain.Err;
}

TEST_F(FloorRun, TheCheckCatchesEveryKindOfWrongOutput) {
  Generate({"--index"});
  ASSERT_EQ(Floor().Status, 0);
  ASSERT_EQ(Check(true).Status, 0);

  // A stock count the run did not reach.
  auto result = Check(true, 4, 2);
  EXPECT_EQ(result.Status, 1);
  EXPECT_TRUE(Contains(result.Err, "3 stocks, expected 4")) << result.Err;

  // One byte of one mirror copy.
  const std::string mirror = *this / "mirror/both/000001.txt";
  std::string bytes = ReadFile(mirror);
  bytes[bytes.size() / 2] ^= 0x20;
  WriteFile(mirror, bytes);
  result = Check(true);
  EXPECT_EQ(result.Status, 1);
  EXPECT_TRUE(Contains(result.Err, "mirror/both/000001.txt differs")) << result.Err;
  bytes[bytes.size() / 2] ^= 0x20;
  WriteFile(mirror, bytes);

  // A record that no longer tiles the text; its check byte goes stale with it.
  const std::string index = *this / "sh/dst/600002.F10";
  std::string record = ReadFile(index);
  const std::size_t at = sizeof(TIndexHeader) + sizeof(TIndexRecord) + offsetof(TIndexRecord, TextLength);
  record[at] = static_cast<char>(record[at] + 1);
  WriteFile(index, record);
  result = Check(true);
  EXPECT_EQ(result.Status, 1);
  EXPECT_TRUE(Contains(result.Err, "600002.F10 record 2: covers")) << result.Err;
  EXPECT_TRUE(Contains(result.Err, "600002.F10 record 2: check byte")) << result.Err;
  EXPECT_TRUE(Contains(result.Err, "mirror/sh/600002.F10 differs")) << result.Err;
}

TEST_F(FloorRun, TheCheckCatchesLeftoverSectionsMissingTextsAndForeignLogLines) {
  Generate({"--index"});
  ASSERT_EQ(Floor().Status, 0);

  WriteFile(*this / "sz/src/000001Z.sub", "late\r\n");
  fs::remove(*this / "sh/dst/600000.txt");
  std::string log;
  for (const auto& entry : fs::directory_iterator(*this / "home"))
    if (entry.path().filename().string().rfind("UniteLog", 0) == 0) log = entry.path();
  ASSERT_FALSE(log.empty());
  std::string lines = ReadFile(log);
  // A failure's message in the middle of the run (GBK: "拒绝访问").
  const std::size_t second = lines.find("\r\n") + 2;
  lines.insert(second, "[2024/01/01 10:00:00] \xBE\xDC\xBE\xF8\xB7\xC3\xCE\xCA\r\n");
  WriteFile(log, lines);

  const auto result = Check(true);
  EXPECT_EQ(result.Status, 1);
  EXPECT_TRUE(Contains(result.Err, "sz/src: 1 section files were not staged")) << result.Err;
  EXPECT_TRUE(Contains(result.Err, "sh/dst/600000.txt")) << result.Err;
  EXPECT_TRUE(Contains(result.Err, "log line 2 is \"拒绝访问\"")) << result.Err;
}

TEST_F(FloorRun, TheCheckRefusesAFolderWithoutSettings) {
  fs::create_directories(Feed());
  const auto result = Check(true);
  EXPECT_EQ(result.Status, 2);
  EXPECT_TRUE(Contains(result.Err, "LORVANE.INI")) << result.Err;
  const auto floor = Floor();
  EXPECT_EQ(floor.Status, 1);
  EXPECT_TRUE(Contains(floor.Err, "LORVANE.INI")) << floor.Err;
}

TEST(PeakRss, ReportsTimeMemoryAndTheCommandsOwnStatus) {
  TTempDir tmp;
  const std::string report = tmp / "report";
  const auto start = std::chrono::steady_clock::now();
  auto result = toolrun::Run(tmp, {LORVANE_PEAKRSS, report, "sh", "-c", "echo out; exit 3"});
  const std::chrono::duration<double> around = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(result.Status, 3);
  EXPECT_EQ(result.Out, "out\n");
  double seconds = -1;
  long kib = -1;
  int status = -1;
  ASSERT_EQ(std::sscanf(ReadFile(report).c_str(), "%lf %ld %d", &seconds, &kib, &status), 3)
      << ReadFile(report);
  EXPECT_GE(seconds, 0.0);
  EXPECT_LE(seconds, around.count() + 0.0005);  // the command's time, in seconds to 3 places
  EXPECT_GT(kib, 0);
  EXPECT_EQ(status, 3);

  result = toolrun::Run(tmp, {LORVANE_PEAKRSS, report, tmp / "no-such-program"});
  EXPECT_EQ(result.Status, 127);
  EXPECT_TRUE(Contains(result.Err, "no-such-program")) << result.Err;
}

// bench/run.sh with the real instruments and a stand-in for the program.
class BenchScript : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(FTmp / "build");
    for (const auto& [name, target] : {std::pair{"lorvane-feedgen", LORVANE_FEEDGEN},
                                       std::pair{"lorvane-floor", LORVANE_FLOOR},
                                       std::pair{"lorvane-benchcheck", LORVANE_BENCHCHECK},
                                       std::pair{"lorvane-peakrss", LORVANE_PEAKRSS},
                                       std::pair{"lorvane-formrun", LORVANE_FORMRUN}})
      fs::create_symlink(target, FTmp / ("build/" + std::string(name)));
  }
  void FakeProgram(const std::string& body) {
    WriteFile(FTmp / "build/lorvane", "#!/bin/sh\n[ \"$1\" = --once ] || exit 64\n" + body);
    chmod((FTmp / "build/lorvane").c_str(), 0755);
  }
  toolrun::TResult RunBench() {
    return toolrun::Run(FTmp,
                        {"bash", std::string(LORVANE_SOURCE_DIR) + "/bench/run.sh", FTmp / "build",
                         "--quick", "--sizes", "2:1,1:1"},
                        {"LORVANE_BENCH_DIR=" + toolrun::Quote(FTmp / "out")});
  }
  TTempDir FTmp;
};

TEST_F(BenchScript, FailsLoudlyWhenTheRunWritesTheWrongBytes) {
  // Does the floor's work, which lacks the title lines a merge inserts.
  FakeProgram("exec " + toolrun::Quote(LORVANE_FLOOR) + " \"$(dirname \"$3\")\" >/dev/null\n");
  const auto result = RunBench();
  EXPECT_EQ(result.Status, 1);
  EXPECT_TRUE(Contains(result.Err, "FAILED: the outputs of the lorvane run are wrong")) << result.Err;
  EXPECT_TRUE(Contains(result.Err, "600000.txt")) << result.Err;
  EXPECT_TRUE(Contains(result.Out, "cpus:")) << result.Out;
  EXPECT_FALSE(Contains(result.Out, "== result"));
}

TEST_F(BenchScript, FailsLoudlyWhenTheRunFails) {
  FakeProgram("echo 'cannot go on' >&2\nexit 2\n");
  const auto result = RunBench();
  EXPECT_EQ(result.Status, 1);
  EXPECT_TRUE(Contains(result.Err, "lorvane ended with exit status 2")) << result.Err;
  EXPECT_TRUE(Contains(result.Err, "cannot go on")) << result.Err;
}

}  // namespace
