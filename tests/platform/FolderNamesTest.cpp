// Folder names held in memory: every answer is the one a reading of the folder gives, also
// after other programs changed the folder behind the platform's back.

#include <sys/stat.h>

#include <fstream>
#include <random>

#include "Convert.h"
#include "FolderNames.h"
#include "Platform.h"
#include "PosixPaths.h"
#include "TestSupport.h"

using namespace testsupport;
using posixpaths::FindEntry;
using posixpaths::TFolderNames;

namespace {

struct stat StatOf(const std::string& folder) {
  struct stat st{};
  EXPECT_EQ(::stat(folder.c_str(), &st), 0) << folder;
  return st;
}

class FolderNamesTest : public ::testing::Test {
 protected:
  // The held answer for `name` in `folder` (which must be held-able).
  std::string Held(const std::string& folder, const std::string& name) {
    std::string found = "unset";
    EXPECT_TRUE(names.FindOther(folder, StatOf(folder), name, found)) << name;
    return found;
  }
  std::string Z(const std::string& name) { return tmp.Drive(name); }

  TTempDir tmp;
  TFolderNames names;
  const std::unique_ptr<TPlatform> system = NewSystemPlatform();
  TPlatform& fs = *system;
};

TEST_F(FolderNamesTest, EveryAnswerIsTheOneAReadingOfTheFolderGives) {
  const std::string dir = tmp / "d";
  std::mt19937 random(7);
  const std::vector<std::string> pieces = {"a", "A", "b", "B", "1", ".", "_", "\xE7\xAE\x80",
                                           "\xB0\xA1", "\xFF"};
  auto make = [&] {
    std::string name;
    const int length = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < length; ++i) name += pieces[random() % pieces.size()];
    return name == "." || name == ".." ? name + "x" : name;
  };
  std::vector<std::string> created;
  for (int i = 0; i < 300; ++i) {
    const std::string name = make();
    WriteFile(dir + "/" + name, "x");
    created.push_back(name);
  }
  int compared = 0, found = 0;
  for (int i = 0; i < 1500; ++i) {
    // The program asks by GBK names; half of them spellings of names that are there.
    std::string gbk = Utf8ToGbk(i % 2 ? make() : created[random() % created.size()]);
    for (char& c : gbk)
      if (random() % 2 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    struct stat st{};
    if (::lstat((dir + "/" + GbkToUtf8(gbk)).c_str(), &st) == 0) continue;  // asked only without one
    const std::string expected = FindEntry(dir, gbk);
    EXPECT_EQ(Held(dir, gbk), expected) << "name " << gbk;
    ++compared;
    found += !expected.empty();
  }
  EXPECT_GT(compared, 300);
  EXPECT_GT(found, 50);
}

TEST_F(FolderNamesTest, ChangesMadeByOthersAreSeenAtTheNextQuestion) {
  WriteFile(tmp / "d/other.txt", "o");
  EXPECT_FALSE(fs.FileExists(Z("d\\new.txt")));  // the folder is held from here on
  EXPECT_EQ(fs.HostPath(Z("d\\new.txt")), tmp / "d/new.txt");

  WriteFile(tmp / "d/NEW.TXT", "made");
  EXPECT_TRUE(fs.FileExists(Z("d\\new.txt")));
  EXPECT_EQ(ReadWholeFile(fs, Z("d\\new.txt")), "made");

  fs::rename(tmp / "d/NEW.TXT", tmp / "d/New.Txt");
  EXPECT_EQ(fs.HostPath(Z("d\\new.txt")), tmp / "d/New.Txt");
  WriteWholeFile(fs, Z("d\\NEW.txt"), "replaced");  // lands on the name that is there
  EXPECT_EQ(ReadFile(tmp / "d/New.Txt"), "replaced");

  fs::remove(tmp / "d/New.Txt");
  EXPECT_FALSE(fs.FileExists(Z("d\\new.txt")));
  WriteWholeFile(fs, Z("d\\new.txt"), "fresh");
  EXPECT_EQ(ReadFile(tmp / "d/new.txt"), "fresh");

  // A folder removed and made again under the same path is another folder.
  fs::remove_all(tmp / "d");
  WriteFile(tmp / "d/SECOND.TXT", "2");
  EXPECT_EQ(ReadWholeFile(fs, Z("d\\second.txt")), "2");
  // And one moved away takes its names with it.
  fs::rename(tmp / "d", tmp / "gone");
  WriteFile(tmp / "d/THIRD.TXT", "3");
  EXPECT_FALSE(fs.FileExists(Z("d\\second.txt")));
  EXPECT_EQ(ReadWholeFile(fs, Z("d\\third.txt")), "3");
}

TEST_F(FolderNamesTest, ALostEventForgetsWhatIsHeldInsteadOfAnsweringWrongly) {
  const std::string dir = tmp / "flood";
  WriteFile(dir + "/seed", "");
  EXPECT_EQ(Held(dir, "LATE.TXT"), "");
  // More changes than the kernel queues for us (16384 by default) before the next question.
  for (int i = 0; i < 17000; ++i) {
    const std::string name = dir + "/f" + std::to_string(i);
    WriteFile(name, "");
  }
  WriteFile(dir + "/late.txt", "");
  EXPECT_EQ(Held(dir, "LATE.TXT"), "late.txt");
  EXPECT_EQ(Held(dir, "F16999"), "f16999");
}

TEST_F(FolderNamesTest, OnlyALimitedNumberOfFoldersIsHeld) {
  // Enough folders for the watches of those given up to be let go of in batches, while the
  // first is asked again and again and so stays held.
  const std::size_t count = TFolderNames::kMaxFolders + 150;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string dir = tmp / ("d" + std::to_string(i));
    WriteFile(dir + "/A.TXT", "");
    EXPECT_EQ(Held(dir, "a.txt"), "A.TXT");
    if (i == 8) {
      EXPECT_EQ(Held(tmp / "d0", "x"), "");  // given up by now, held again
    } else if (i > 8) {
      EXPECT_EQ(Held(tmp / "d0", "a.txt"), "A.TXT");
    }
  }
  EXPECT_EQ(names.Held(), TFolderNames::kMaxFolders);
  // Changes behind our back are seen in the folder held throughout and in one given up.
  WriteFile(tmp / "d0/B.TXT", "");
  EXPECT_EQ(Held(tmp / "d0", "b.txt"), "B.TXT");
  WriteFile(tmp / "d1/B.TXT", "");
  EXPECT_EQ(Held(tmp / "d1", "b.txt"), "B.TXT");
  fs::remove(tmp / "d0/B.TXT");
  EXPECT_EQ(Held(tmp / "d0", "b.txt"), "");
}

}  // namespace

namespace {

TEST_F(FolderNamesTest, LinksAreFollowedAndADanglingOneIsThereButNoFile) {
  WriteFile(tmp / "real/f.txt", "f");
  fs::create_directory_symlink(tmp / "real", tmp / "linked");
  fs::create_symlink(tmp / "real/f.txt", tmp / "real/g.txt");
  fs::create_symlink(tmp / "real/none", tmp / "real/dangling");
  EXPECT_TRUE(fs.DirectoryExists(Z("linked")));
  EXPECT_TRUE(fs.FileExists(Z("linked\\g.txt")));
  EXPECT_TRUE(fs.FileExists(Z("LINKED\\G.TXT")));
  EXPECT_FALSE(fs.FileExists(Z("linked\\dangling")));
  EXPECT_FALSE(fs.DirectoryExists(Z("linked\\dangling")));
  EXPECT_EQ(fs.CreateDir(Z("linked\\DANGLING")), 183);  // the name is taken all the same
}

}  // namespace

namespace {

TEST_F(FolderNamesTest, ReadsTakeTheNameAsWrittenFirstAndAskTheSizeAfresh) {
  WriteFile(tmp / "r/a.txt", "lower");
  WriteFile(tmp / "r/A.TXT", "UPPER!");
  auto exact = fs.OpenShared(Z("r\\A.TXT"));
  EXPECT_EQ(exact->Size(), 6);
  auto other = fs.OpenShared(Z("r\\a.Txt"));  // no such spelling: the first in byte order
  EXPECT_EQ(other->Size(), 6);
  char bytes[8] = {};
  EXPECT_EQ(exact->ReadAt(0, bytes, sizeof bytes), 6u);
  std::ofstream(tmp / "r/A.TXT", std::ios::app) << "more";
  EXPECT_EQ(exact->Size(), 10);  // once the file has been read, its size is asked again
}

}  // namespace
