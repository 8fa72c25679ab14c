// lorvane-index run as a program on files built by hand.

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdio>

#include "Convert.h"
#include "IndexBytes.h"
#include "TestSupport.h"

using indexbytes::Header;
using indexbytes::Record;

namespace {

struct TRun {
  int Status = -1;
  std::string Out;
};

// One argument for the shell.
std::string Q(const std::string& arg) {
#ifdef _WIN32
  return "\"" + arg + "\"";
#else
  return "'" + arg + "'";
#endif
}

// Runs the tool with `args` (already quoted); standard error joins standard output.
TRun RunTool(const std::string& args) {
  TRun run;
#ifdef _WIN32
  // cmd.exe takes the whole line in quotes of its own.
  FILE* pipe = _popen(("\"" + Q(LORVANE_INDEX_TOOL) + " " + args + " 2>&1\"").c_str(), "rb");
#else
  FILE* pipe = popen((Q(LORVANE_INDEX_TOOL) + " " + args + " 2>&1").c_str(), "r");
#endif
  if (!pipe) return run;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) run.Out.append(buffer, n);
#ifdef _WIN32
  run.Status = _pclose(pipe);
#else
  const int status = pclose(pipe);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  return run;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

TEST(IndexDumpTool, ShowsHeaderRecordsAndWhatTheLoadWouldDrop) {
  testsupport::TTempDir dir;
  const std::string path = dir / "600000.F10";
  const std::string image =
      Header(5, std::string("VE\x01PERIN", 8)) +
      Record(20240105, 93000, Utf8ToGbk("公司概况"), "600000.txt", 0, 120, "600000", 4, 2) +
      Record(20240106, 0, std::string("ab\0c\xB9", 5), "", 120, 7, "", 4, 0, 0x00) +
      std::string(100, 'z');
  testsupport::WriteFile(path, image);

  const TRun run = RunTool(Q(path));
  EXPECT_EQ(run.Status, 0) << run.Out;
  const std::string& out = run.Out;
  EXPECT_TRUE(Contains(out, "magic \"VE\\x01PERIN\"  byte8 1  byte9 1  count 5  capacity 2"))
      << out;
  EXPECT_TRUE(Contains(out, "count 5 is beyond the file's capacity of 2")) << out;
  EXPECT_TRUE(Contains(out, "100 trailing bytes")) << out;
  EXPECT_TRUE(Contains(out, "#0  date 20240105  time 93000  market 2  kind 4  byte0 0  "
                            "title \"公司概况\"  file \"600000.txt\"  offset 0  length 120  "
                            "code \"600000\"  extra \"\"  check "))
      << out;
  EXPECT_TRUE(Contains(out, "#1  date 20240106  time 0")) << out;
  // A zero inside a text and a lead byte cut off at the end are shown as escapes.
  EXPECT_TRUE(Contains(out, "title \"ab\\x00c\\xb9\"")) << out;
  EXPECT_TRUE(Contains(out, "check 0x00 MISMATCH")) << out;
  EXPECT_EQ(out.find("MISMATCH"), out.rfind("MISMATCH")) << out;  // the first record is fine
  EXPECT_EQ(testsupport::ReadFile(path), image);                   // nothing changed
}

TEST(IndexDumpTool, FlagsNegativeCountAndIgnoredRecords) {
  testsupport::TTempDir dir;
  testsupport::WriteFile(dir / "neg.F10", Header(-2) + Record(1, 0, "r0"));
  testsupport::WriteFile(dir / "one.F10", Header(1) + Record(1, 0, "r0") + Record(2, 0, "r1"));
  testsupport::WriteFile(dir / "tiny.F10", "VESP");
  const TRun run =
      RunTool(Q(dir / "neg.F10") + " " + Q(dir / "one.F10") + " " + Q(dir / "tiny.F10"));
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_TRUE(Contains(run.Out, "count -2 is negative")) << run.Out;
  EXPECT_TRUE(Contains(run.Out, "~0  date 1")) << run.Out;
  EXPECT_TRUE(Contains(run.Out, "#0  date 1")) << run.Out;
  EXPECT_TRUE(Contains(run.Out, "~1  date 2")) << run.Out;
  EXPECT_TRUE(Contains(run.Out, "shorter than the 16-byte header")) << run.Out;
}

TEST(IndexDumpTool, ExitStatus) {
  testsupport::TTempDir dir;
  testsupport::WriteFile(dir / "ok.F10", Header(0));
  EXPECT_EQ(RunTool("").Status, 2);
  EXPECT_EQ(RunTool("--bogus").Status, 2);
  const TRun help = RunTool("--help");
  EXPECT_EQ(help.Status, 0);
  EXPECT_TRUE(Contains(help.Out, "usage: lorvane-index FILE..."));
  const TRun missing = RunTool(Q(dir / "nope.F10") + " " + Q(dir / "ok.F10"));
  EXPECT_EQ(missing.Status, 1);
  EXPECT_TRUE(Contains(missing.Out, "nope.F10")) << missing.Out;
  EXPECT_TRUE(Contains(missing.Out, "count 0  capacity 0")) << missing.Out;  // goes on
  EXPECT_EQ(RunTool(Q(testsupport::HostText(dir.Path()))).Status, 1);
}
