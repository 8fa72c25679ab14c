// The fault-injecting platform: counting, chosen failures surfacing as the right texts,
// busy files, a clock that stands still and pauses that cost nothing.

#include <thread>

#include "FaultyPlatform.h"
#include "Lines.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {

class FaultyTest : public ::testing::Test {
 protected:
  TTempDir tmp;
  std::unique_ptr<TPlatform> system = NewSystemPlatform();
  TPlatform& real = *system;
  TFaultyPlatform fs{real};
  std::string Z(const std::string& name = "") { return tmp.Drive(name); }
};

TEST_F(FaultyTest, TheNthWriteFailsWithTheRightText) {
  std::vector<std::string> seen;
  fs.OnOperation([&](const std::string& kind, const std::string&) { seen.push_back(kind); });
  WriteFile(tmp / "t.txt", "old");
  auto file = fs.CreateExclusive(Z("t.txt"));  // operation 1
  file->WriteAt(0, "a", 1);                      // 2
  fs.FailNth(2, 112);                            // the write after the next
  file->WriteAt(1, "b", 1);                      // 3
  try {
    file->WriteAt(2, "c", 1);  // 4
    FAIL();
  } catch (const EFailure& e) {
    EXPECT_EQ(e.Message(), "I/O error 112");
    EXPECT_EQ(e.Code(), 112);
  }
  file.reset();
  EXPECT_EQ(ReadFile(tmp / "t.txt"), "old");  // not committed, so nothing changed
  EXPECT_EQ(fs.Operations(), 4);
  EXPECT_EQ(fs.Failures(), 1);
  EXPECT_EQ(seen, (std::vector<std::string>{"create", "write", "write", "write"}));
  file = fs.CreateExclusive(Z("t.txt"));
  file->WriteAt(0, "n", 1);  // the fault fired once only
  file->Commit();
  file.reset();
  EXPECT_EQ(ReadFile(tmp / "t.txt"), "n");
}

TEST_F(FaultyTest, RulesByKindAndPath) {
  WriteFile(tmp / "a.sub", "A");
  WriteFile(tmp / "data/keep.txt", "k");
  fs.FailWhen("move", "\\DATA\\", 5);
  EXPECT_EQ(fs.MoveFile(Z("a.sub"), Z("DATA\\a.sub")), 5);  // matched on the destination
  EXPECT_TRUE(Exists(tmp / "a.sub"));
  EXPECT_EQ(fs.MoveFile(Z("a.sub"), Z("b.sub")), 0);
  fs.FailWhen("openshared", "B.SUB", 4);
  try {
    LoadLines(fs, Z("b.sub"));
    FAIL();
  } catch (const EFailure& e) {
    EXPECT_EQ(e.Message(), "Too many open files");
  }
  fs.FailWhen("read", "keep", 2);
  try {
    ReadWholeFile(fs, Z("data\\keep.txt"));
    FAIL();
  } catch (const EFailure& e) {
    EXPECT_EQ(e.Message(), "File not found");
  }
  fs.FailWhen("", "", 3);  // everything
  EXPECT_FALSE(fs.FileExists(Z("b.sub")));
  EXPECT_TRUE(fs.FindFiles(Z("*")).empty());
  EXPECT_EQ(fs.CreateDir(Z("x")), 3);
  fs.ClearFaults();
  EXPECT_TRUE(fs.FileExists(Z("b.sub")));
  EXPECT_EQ(fs.FindFiles(Z("*")).size(), 2u);
}

TEST_F(FaultyTest, HeldBusyFilesRefuseEveryOpen) {
  WriteFile(tmp / "600000.F10", "x");
  WriteFile(tmp / "log.txt", "");
  fs.HoldBusy("600000.f10");
  for (auto op : std::vector<std::function<void()>>{
           [&] { fs.OpenExclusive(Z("600000.F10")); }, [&] { fs.OpenShared(Z("600000.F10")); },
           [&] { fs.CreateExclusive(Z("600000.F10")); }, [&] { fs.Append(Z("600000.F10"), "x"); }}) {
    try {
      op();
      ADD_FAILURE() << "opened a busy file";
    } catch (const EFailure& e) {
      EXPECT_EQ(e.Code(), 32);
      EXPECT_EQ(e.Message(), "I/O error 32");
    }
  }
  EXPECT_EQ(fs.DeleteFile(Z("600000.F10")), 32);
  EXPECT_TRUE(fs.FileExists(Z("600000.F10")));  // a test is no open
  fs.Append(Z("log.txt"), "fine");
  EXPECT_EQ(ReadFile(tmp / "log.txt"), "fine");
}

TEST_F(FaultyTest, SleepRecordsAndTheClockCanBeSet) {
  // Wrapped around a second one, it shows whether a pause reaches the platform below.
  TPlatform& below = fs;
  TFaultyPlatform outer{below};
  for (int i = 0; i < 10; ++i) outer.Sleep(5000);
  EXPECT_EQ(outer.Sleeps(), 10);
  EXPECT_EQ(outer.SleptMs(), 50000);
  EXPECT_EQ(fs.Sleeps(), 0);
  fs.SetClock([] { return TDateTime{2026, 12, 8, 0, 0, 0, 0}; });
  EXPECT_EQ(fs.Now().Year, 2026);
  EXPECT_EQ(fs.Now().Day, 8);
  fs.SetClock({});
  EXPECT_GE(fs.Now().Year, 2024);
  EXPECT_EQ(fs.Operations(), 0);  // neither pauses nor the clock touch files
}

TEST_F(FaultyTest, CountsFromTwoThreads) {
  WriteFile(tmp / "f.txt", "x");
  auto work = [&] {
    for (int i = 0; i < 500; ++i) fs.FileExists(Z("f.txt"));
  };
  std::thread other(work);
  work();
  other.join();
  EXPECT_EQ(fs.Operations(), 1000);
}

}  // namespace
