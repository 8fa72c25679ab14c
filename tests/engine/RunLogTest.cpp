// The run log: the day's file beside the program, byte for byte, and the form's log box.

#include <unistd.h>

#include "RunFixture.h"

namespace enginetest {
namespace {

class TRunLogTest : public TRunTest {
 protected:
  std::unique_ptr<TUniteThread> Run = NewRun();

  void Log(const std::string& message) {
    Run->FMessage = message;
    Run->LogToForm();
  }
  // The message a failing log call raises, or "" when it raised none.
  std::string LogFailure(const std::string& message) {
    try {
      Log(message);
    } catch (const EFailure& e) {
      return e.Message();
    }
    return "";
  }
  void FillFormLog(int lines) {
    for (int i = 0; i < lines; ++i) Host.FormLog.push_back("old " + std::to_string(i));
  }
};

TEST_F(TRunLogTest, LineGoesToTheDaysFileInGbkWithCrLfThenToTheForm) {
  Log(Texts::MergeStart + "600000...");
  Log("600000" + Texts::MergeDone);
  const std::string stamp = DateTimeToStr(Clock);
  // 合并 is BA CF B2 A2, 完毕 is CD EA B1 CF in GBK.
  const std::string expected = "[" + stamp + "] \xBA\xCF\xB2\xA2" "600000...\r\n" +
                               "[" + stamp + "] 600000\xBA\xCF\xB2\xA2\xCD\xEA\xB1\xCF\r\n";
  EXPECT_EQ(ReadFile(Tmp / "UniteLog2026-12-08.txt"), expected);
  EXPECT_EQ(Run->LogFilePath(), Tmp.Drive() + "\\UniteLog2026-12-08.txt");
  EXPECT_EQ(Host.FormLog, (std::vector<std::string>{
                              "[" + stamp + "] \xBA\xCF\xB2\xA2" "600000...",
                              "[" + stamp + "] 600000\xBA\xCF\xB2\xA2\xCD\xEA\xB1\xCF"}));
  EXPECT_EQ(Host.Synchronizations, 2);
}

TEST_F(TRunLogTest, EmptyMessageKeepsTheBlankAfterTheStamp) {
  Log("");
  EXPECT_EQ(LogBytes(), "[" + DateTimeToStr(Clock) + "] \r\n");
}

TEST_F(TRunLogTest, StampAtMidnightHoldsTheDateAlone) {
  Clock = {2026, 12, 9, 0, 0, 0, 0};
  Log("a");
  Clock.Second = 1;
  Log("b");
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  const std::string date = lines[0].substr(1, lines[0].find(']') - 1);
  EXPECT_EQ(date.find(' '), std::string::npos) << date;
  EXPECT_EQ(lines[0], "[" + date + "] a");
  // A second later: the same date, a blank and the time.
  EXPECT_EQ(lines[1].rfind("[" + date + " ", 0), 0u) << lines[1];
  EXPECT_EQ(lines[1].substr(lines[1].size() - 3), "] b");
}

TEST_F(TRunLogTest, MessageWithLineBreaksIsWrittenUnchanged) {
  Log("first\r\nsecond");
  EXPECT_EQ(LogBytes(), "[" + DateTimeToStr(Clock) + "] first\r\nsecond\r\n");
  ASSERT_EQ(Host.FormLog.size(), 1u);
  EXPECT_EQ(Host.FormLog[0], "[" + DateTimeToStr(Clock) + "] first\r\nsecond");
}

TEST_F(TRunLogTest, NewDayGetsItsOwnFile) {
  Clock = {2026, 12, 8, 23, 59, 59, 0};
  Log("late");
  Clock = {2026, 12, 9, 0, 0, 2, 0};
  Log("early");
  EXPECT_EQ(ReadFile(Tmp / "UniteLog2026-12-08.txt"),
            "[" + DateTimeToStr({2026, 12, 8, 23, 59, 59, 0}) + "] late\r\n");
  EXPECT_EQ(ReadFile(Tmp / "UniteLog2026-12-09.txt"), "[" + DateTimeToStr(Clock) + "] early\r\n");
}

TEST_F(TRunLogTest, LinesAreAppendedToAFileOfTheDayThatIsThere) {
  WriteFile(Tmp / "UniteLog2026-12-08.txt", "[earlier] kept\r\n");
  Log("next");
  EXPECT_EQ(LogBytes(), "[earlier] kept\r\n[" + DateTimeToStr(Clock) + "] next\r\n");
}

TEST_F(TRunLogTest, FormLogIsEmptiedOnlyWhenItHoldsMoreThan200Lines) {
  FillFormLog(200);
  Log("201st");
  ASSERT_EQ(Host.FormLog.size(), 201u);
  EXPECT_EQ(Host.FormLog.front(), "old 0");
  EXPECT_EQ(Host.FormLog.back(), Line("201st"));
  Log("alone");
  EXPECT_EQ(Host.FormLog, std::vector<std::string>{Line("alone")});
  // Both lines are in the file all the same.
  EXPECT_EQ(LogLines(), (std::vector<std::string>{Line("201st"), Line("alone")}));
}

TEST_F(TRunLogTest, LogToFileLeavesTheFormLogAlone) {
  FillFormLog(201);
  const std::vector<std::string> before = Host.FormLog;
  Run->FMessage = Texts::FileNotFound + "Z:\\x\\600000A.sub";
  Run->LogToFile();
  EXPECT_EQ(Host.FormLog, before);
  EXPECT_TRUE(Host.Events.empty());
  EXPECT_EQ(LogLines(), std::vector<std::string>{Line(Texts::FileNotFound + "Z:\\x\\600000A.sub")});
}

TEST_F(TRunLogTest, WriteFailuresRaiseTheRuntimesTextsAndSpareTheForm) {
  FillFormLog(201);  // a line that reached the form would empty it
  const std::vector<std::string> before = Host.FormLog;

  Fs.FailWhen("append", "UniteLog", kErrAccessDenied);
  EXPECT_EQ(LogFailure("a"), "File access denied");
  Fs.ClearFaults();

  Fs.HoldBusy("UniteLog");
  EXPECT_EQ(LogFailure("b"), "I/O error 32");
  Fs.ClearFaults();
  EXPECT_EQ(Fs.SleptMs(), 39 * 25) << "another writer's moment is waited out, a longer hold is not";

  Fs.FailWhen("append", "UniteLog", kErrDiskFull);
  EXPECT_EQ(LogFailure("c"), "I/O error 112");
  Fs.ClearFaults();

  EXPECT_EQ(Host.FormLog, before);
  EXPECT_FALSE(Exists(Tmp / "UniteLog2026-12-08.txt")) << "written by none";

  // A failed call leaves nothing behind: the next one works, also when another writer holds
  // the file for a moment.
  testsupport::WriteFile(Tmp / "UniteLog2026-12-08.txt", "");
  Fs.FailNth(1, kErrSharingViolation);
  Log("d");
  EXPECT_EQ(LogLines(), std::vector<std::string>{Line("d")});
  EXPECT_EQ(Host.FormLog, std::vector<std::string>{Line("d")});
}

TEST_F(TRunLogTest, FileThatCannotBeCreatedIsReportedAsNotFound) {
  Fs.FailWhen("createifmissing", "UniteLog", kErrAccessDenied);
  EXPECT_EQ(LogFailure("a"), "File not found");
  EXPECT_FALSE(Exists(Tmp / "UniteLog2026-12-08.txt"));
  EXPECT_TRUE(Host.FormLog.empty());
}

TEST_F(TRunLogTest, LogLiesBesideTheProgramWhateverTheWorkingFolder) {
  testsupport::TTempDir elsewhere;
  const auto previous = testsupport::fs::current_path();
  testsupport::fs::current_path(elsewhere.Path());
  Log("here");
  testsupport::fs::current_path(previous);
  EXPECT_EQ(LogLines(), std::vector<std::string>{Line("here")});
  EXPECT_TRUE(testsupport::fs::is_empty(elsewhere.Path()));
}

}  // namespace
}  // namespace enginetest
