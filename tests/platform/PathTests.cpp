// Drive paths over real temporary host folders: resolution, search, whole-file operations.

#include <sys/stat.h>

#include <algorithm>

#include "Convert.h"
#include "Platform.h"
#include "ProgramFiles.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {

[[maybe_unused]] std::string Upper(std::string s) { return UpperAscii(s); }

std::vector<std::string> Names(const std::vector<TFindEntry>& entries) {
  std::vector<std::string> out;
  for (const auto& e : entries) out.push_back(e.Name);
  return out;
}

class PathsTest : public ::testing::Test {
 protected:
  TTempDir tmp;
  std::unique_ptr<TPlatform> system = NewSystemPlatform();
  TPlatform& fs = *system;
  std::string Z(const std::string& name = "") { return tmp.Drive(name); }
};

#ifndef _WIN32  // the POSIX layer's drive mapping and name lookup
TEST_F(PathsTest, UpperCaseDrivePathReachesLowerCaseHostFolder) {
  WriteFile(tmp / "feed/600000.f10", "x");
  const std::string path = Upper(Z("feed\\600000.F10"));
  EXPECT_TRUE(fs.FileExists(path));
  EXPECT_EQ(fs.HostPath(path), tmp / "feed/600000.f10");
  // Written through that path, the bytes land in the lower-case folder, not in a new one.
  WriteWholeFile(fs, Upper(Z("feed\\New.txt")), "abc");
  EXPECT_EQ(ReadFile(tmp / "feed/NEW.TXT"), "abc");
  EXPECT_FALSE(Exists(tmp / "FEED"));
}
#endif

#ifndef _WIN32  // the POSIX layer's drive mapping and name lookup
TEST_F(PathsTest, ExactNameWinsOverOneThatDiffersInCase) {
  WriteFile(tmp / "a.txt", "lower");
  WriteFile(tmp / "A.TXT", "upper");
  EXPECT_EQ(ReadWholeFile(fs, Z("A.TXT")), "upper");
  EXPECT_EQ(ReadWholeFile(fs, Z("a.txt")), "lower");
  EXPECT_EQ(ReadWholeFile(fs, Z("a.TXT")), "upper");  // no exact one: the first in byte order
}
#endif

#ifndef _WIN32  // the POSIX layer's drive mapping and name lookup
TEST_F(PathsTest, BothSeparatorsDotsAndRootedPathsOnZ) {
  WriteFile(tmp / "d/f.txt", "1");
  const std::string host = tmp.Path().string();
  EXPECT_TRUE(fs.FileExists("Z:" + host + "/d\\.\\x\\..\\f.txt"));
  EXPECT_TRUE(fs.FileExists(host + "/d/f.txt"));  // rooted without a drive: Z:
  std::string back = host + "\\d\\f.txt";
  for (char& c : back)
    if (c == '/') c = '\\';
  EXPECT_TRUE(fs.FileExists(back));
  // ".." above the root stays at the root.
  EXPECT_EQ(fs.HostPath("Z:\\..\\..\\..\\" + host.substr(1) + "\\d"), tmp / "d");
}
#endif

#ifndef _WIN32  // the POSIX layer's drive mapping and name lookup
TEST_F(PathsTest, BadPathsNeverReachAFile) {
  WriteFile(tmp / "f.txt", "1");
  int error = 0;
  EXPECT_EQ(fs.HostPath("", &error), "");
  EXPECT_EQ(error, 3);
  EXPECT_EQ(fs.HostPath("relative\\f.txt", &error), "");
  EXPECT_EQ(error, 3);
  EXPECT_EQ(fs.HostPath("Q:\\f.txt", &error), "");  // unmapped drive
  EXPECT_EQ(error, 3);
  EXPECT_EQ(fs.HostPath("\\\\server\\share\\f.txt", &error), "");
  EXPECT_EQ(error, 3);
  EXPECT_EQ(fs.HostPath("Z:relative", &error), "");
  EXPECT_EQ(error, 3);
  EXPECT_EQ(fs.HostPath(Z("a*b.txt"), &error), "");
  EXPECT_EQ(error, 123);

  EXPECT_FALSE(fs.FileExists(""));
  EXPECT_FALSE(fs.FileExists("Q:\\f.txt"));
  EXPECT_EQ(fs.CreateDir("Q:\\new"), 3);
  EXPECT_EQ(fs.DeleteFile(""), 3);
  EXPECT_EQ(fs.MoveFile(Z("f.txt"), "Q:\\f.txt"), 3);
  EXPECT_EQ(fs.CopyFileOver(Z("f.txt"), "f.txt"), 3);
  try {
    fs.OpenShared("Q:\\f.txt");
    FAIL() << "opened a file on an unmapped drive";
  } catch (const EFailure& e) {
    EXPECT_EQ(e.Code(), 3);
    EXPECT_EQ(e.Message(), "Invalid filename");
  }
  EXPECT_EQ(ReadFile(tmp / "f.txt"), "1");
}
#endif

#ifndef _WIN32  // the POSIX layer's drive mapping and name lookup
TEST_F(PathsTest, MappedDrivesAndTheWayBack) {
  WriteFile(tmp / "srv/feed/sh/600000.F10", "x");
  fs.SetDrive('d', (tmp / "srv/feed"));
  fs.SetDrive('E', (tmp / "srv/feed/sh") + "/");
  EXPECT_TRUE(fs.FileExists("D:\\SH\\600000.F10"));
  EXPECT_TRUE(fs.FileExists("e:\\600000.f10"));
  EXPECT_TRUE(fs.DirectoryExists("D:"));
  EXPECT_TRUE(fs.DirectoryExists("D:\\"));
  // ".." cannot leave the drive's folder.
  EXPECT_EQ(fs.HostPath("D:\\..\\..\\etc"), tmp / "srv/feed/etc");
  // The longest mapping wins; the root of a mapping keeps its backslash.
  EXPECT_EQ(fs.DrivePath(tmp / "srv/feed/sh/600000.F10"), "E:\\600000.F10");
  EXPECT_EQ(fs.DrivePath(tmp / "srv/feed/sz"), "D:\\sz");
  EXPECT_EQ(fs.DrivePath(tmp / "srv/feed"), "D:\\");
  EXPECT_EQ(fs.DrivePath(tmp / "srv/feedx"), Z("srv\\feedx"));
  EXPECT_EQ(fs.DrivePath("/"), "Z:\\");
  // Z: stays the host root; unmapping a letter makes it missing again.
  fs.SetDrive('Z', tmp / "srv");
  EXPECT_EQ(fs.HostPath("Z:\\etc"), "/etc");
  fs.SetDrive('D', "");
  EXPECT_FALSE(fs.DirectoryExists("D:\\"));
}
#endif

#ifndef _WIN32  // the POSIX layer's drive mapping and name lookup
TEST_F(PathsTest, ProgramPathAndHomeFolder) {
  // This test program's own file, as the system names it.
  const std::string program = fs.ProgramPath();
  EXPECT_TRUE(fs.FileExists(program)) << program;
  EXPECT_EQ(ProgramTitle(program), "platform_tests");
  const std::string name = program.substr(ProgramDir(fs).size());
  const auto home = NewSystemPlatform(tmp / "home");
  EXPECT_EQ(home->ProgramPath(), Z("home\\" + name));
  home->SetDrive('H', tmp / "home");
  EXPECT_EQ(home->ProgramPath(), "H:\\" + name);
  EXPECT_EQ(ProgramDir(*home), "H:\\");
}
#endif

TEST_F(PathsTest, SearchIsCaseInsensitiveSortedAndSkipsOurTemporaries) {
  for (const char* name : {"b.F10", "A.f10", "c.F10", "C1.f10x", "600000.F10", "a_b.F10", ".~lorvane.abc123.tmp"})
    WriteFile(tmp / name, "x");
  fs::create_directory(tmp / "D.F10");
  const auto found = fs.FindFiles(Z("*.F10"));
  EXPECT_EQ(Names(found), (std::vector<std::string>{"600000.F10", "A.f10", "a_b.F10", "b.F10", "c.F10", "D.F10"}));
  EXPECT_TRUE(found.back().IsDirectory);
  EXPECT_FALSE(found.front().IsDirectory);
  // "." and ".." never come back; our temporary files neither, whatever the pattern.
  EXPECT_EQ(fs.FindFiles(Z("*")).size(), 7u);
  EXPECT_TRUE(fs.FindFiles(Z(".~lorvane.*")).empty());
  EXPECT_TRUE(fs.FindFiles(Z("nothere\\*")).empty());
  EXPECT_EQ(fs.FindFiles(Z("*.*")).size(), 7u);
}

TEST_F(PathsTest, QuestionMarkMatchesExactlyOneCharacter) {
  for (const char* name : {"6000001.sub", "600000A.SUB", "600000.sub", "60000012.sub", "6000001.subx"})
    WriteFile(tmp / name, "x");
  const std::string gbkName = Utf8ToGbk("600000简.sub");
  WriteFile(tmp / "600000简.sub", "x");
  EXPECT_EQ(Names(fs.FindFiles(Z("600000?.sub"))),
            (std::vector<std::string>{"6000001.sub", "600000A.SUB", gbkName}));
}

#ifndef _WIN32  // the POSIX layer's drive mapping and name lookup
TEST_F(PathsTest, NamesThatAreNotUtf8OnTheHost) {
  const std::string raw = "\xB0\xA1.txt";  // GBK bytes written by some other program
  WriteFile(tmp / raw, "gbk");
  WriteFile(tmp / "bad\xFF.txt", "ff");
  const auto found = fs.FindFiles(Z("*.txt"));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].Name, "bad\xFF.txt");
  EXPECT_EQ(found[1].Name, raw);  // the program sees the bytes as they are
  EXPECT_EQ(ReadWholeFile(fs, Z(found[0].Name)), "ff");
  EXPECT_EQ(ReadWholeFile(fs, Z(found[1].Name)), "gbk");
  EXPECT_EQ(fs.HostPath(Z(raw)), tmp / raw);
  // A new file with a GBK name gets the UTF-8 name on the host.
  WriteWholeFile(fs, Z(Utf8ToGbk("新.txt")), "n");
  EXPECT_EQ(ReadFile(tmp / "新.txt"), "n");
}
#endif

TEST_F(PathsTest, ExistsCreateDirAndDelete) {
  WriteFile(tmp / "f.txt", "x");
  EXPECT_TRUE(fs.FileExists(Z("F.TXT")));
  EXPECT_FALSE(fs.DirectoryExists(Z("f.txt")));
  EXPECT_EQ(fs.CreateDir(Z("Sub")), 0);
  EXPECT_TRUE(fs::is_directory(tmp / "Sub"));
  EXPECT_FALSE(fs.FileExists(Z("sub")));  // a folder is no file
  EXPECT_TRUE(fs.DirectoryExists(Z("SUB")));
  EXPECT_EQ(fs.CreateDir(Z("SUB")), 183);
  EXPECT_EQ(fs.CreateDir(Z("f.txt")), 183);
  EXPECT_EQ(fs.CreateDir(Z("a\\b")), 3);  // one level only
  EXPECT_EQ(fs.DeleteFile(Z("sub")), 5);
  EXPECT_EQ(fs.DeleteFile(Z("gone.txt")), 2);
  EXPECT_EQ(fs.DeleteFile(Z("gone\\gone.txt")), 3);
  EXPECT_EQ(fs.DeleteFile(Z("f.txt\\x")), 3);
  EXPECT_EQ(fs.DeleteFile(Z("F.txt")), 0);
  EXPECT_FALSE(Exists(tmp / "f.txt"));
}

TEST_F(PathsTest, MoveOntoAnExistingFileFailsAndLeavesBoth) {
  WriteFile(tmp / "a.sub", "A");
  WriteFile(tmp / "DATA/a.SUB", "old");
  EXPECT_EQ(fs.MoveFile(Z("a.sub"), Z("data\\A.sub")), 183);
  EXPECT_EQ(ReadFile(tmp / "a.sub"), "A");
  EXPECT_EQ(ReadFile(tmp / "DATA/a.SUB"), "old");
  EXPECT_EQ(fs.MoveFile(Z("a.sub"), Z("data\\b.sub")), 0);
  EXPECT_FALSE(Exists(tmp / "a.sub"));
  EXPECT_EQ(ReadFile(tmp / "DATA/b.sub"), "A");
  EXPECT_EQ(fs.MoveFile(Z("a.sub"), Z("data\\c.sub")), 2);
  EXPECT_EQ(fs.MoveFile(Z("DATA\\b.sub"), Z("nothere\\b.sub")), 3);
  // A change of case alone is a rename.
  EXPECT_EQ(fs.MoveFile(Z("DATA\\b.sub"), Z("DATA\\B.SUB")), 0);
  EXPECT_EQ(ReadFile(tmp / "DATA/B.SUB"), "A");
#ifndef _WIN32  // Wine keeps the old case (Windows itself takes the new one)
  EXPECT_EQ(Names(fs.FindFiles(Z("DATA\\*.sub"))), (std::vector<std::string>{"a.SUB", "B.SUB"}));
#endif
}

#ifndef _WIN32  // the POSIX layer's drive mapping and name lookup
TEST_F(PathsTest, MoveTakesASourceInAnyCaseAFolderAndALinkThatLeadsNowhere) {
  WriteFile(tmp / "Up.sub", "U");
  EXPECT_EQ(fs.MoveFile(Z("UP.SUB"), Z("moved.sub")), 0);  // found by the lookup
  EXPECT_EQ(ReadFile(tmp / "moved.sub"), "U");
  EXPECT_FALSE(Exists(tmp / "Up.sub"));
  WriteFile(tmp / "dir/inner.sub", "I");
  EXPECT_EQ(fs.MoveFile(Z("dir"), Z("DATA2")), 0);  // a folder, opened as written
  EXPECT_EQ(ReadFile(tmp / "DATA2/inner.sub"), "I");
  ASSERT_EQ(symlink((tmp / "gone").c_str(), (tmp / "link.sub").c_str()), 0);
  EXPECT_EQ(fs.MoveFile(Z("link.sub"), Z("DATA2\\link.sub")), 0);  // the link, not its target
  struct stat st{};
  EXPECT_EQ(lstat((tmp / "DATA2/link.sub").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}
#endif

#ifndef _WIN32  // the POSIX layer's drive mapping and name lookup
TEST_F(PathsTest, MoveAcrossFileSystemsCopiesThenDeletes) {
  struct stat a{}, b{};
  if (stat("/dev/shm", &b) != 0 || stat(tmp.Path().c_str(), &a) != 0 || a.st_dev == b.st_dev)
    GTEST_SKIP() << "no second file system at hand";
  char pattern[] = "/dev/shm/lorvane-move-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string shm = pattern;
  WriteFile(tmp / "a.sub", "moved bytes");
  const std::string target = "Z:" + shm + "\\a.sub";
  EXPECT_EQ(fs.MoveFile(Z("a.sub"), target), 0);
  EXPECT_EQ(ReadFile(shm + "/a.sub"), "moved bytes");
  EXPECT_FALSE(Exists(tmp / "a.sub"));
  WriteFile(tmp / "a.sub", "again");
  EXPECT_EQ(fs.MoveFile(Z("a.sub"), target), 183);
  EXPECT_EQ(ReadFile(shm + "/a.sub"), "moved bytes");
  fs::remove_all(shm);
}
#endif

TEST_F(PathsTest, CopyOverReplacesAtomicallyAndKeepsTheExistingName) {
  WriteFile(tmp / "src.txt", "new bytes");
  WriteFile(tmp / "mirror/SRC.TXT", "old");
#ifndef _WIN32
  chmod((tmp / "src.txt").c_str(), 0640);
#endif
  EXPECT_EQ(fs.CopyFileOver(Z("src.txt"), Z("MIRROR\\src.txt")), 0);
  EXPECT_EQ(ReadFile(tmp / "mirror/SRC.TXT"), "new bytes");
  EXPECT_EQ(fs.CopyFileOver(Z("src.txt"), Z("mirror\\fresh.txt")), 0);
#ifndef _WIN32
  struct stat st{};
  ASSERT_EQ(stat((tmp / "mirror/fresh.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
#endif
  EXPECT_EQ(fs.CopyFileOver(Z("none.txt"), Z("mirror\\x.txt")), 2);
  EXPECT_EQ(fs.CopyFileOver(Z("src.txt"), Z("nothere\\x.txt")), 3);
#ifdef _WIN32
  EXPECT_EQ(fs.CopyFileOver(Z("src.txt"), Z("src.txt")), 32);  // a file cannot be copied onto itself
#else
  EXPECT_EQ(fs.CopyFileOver(Z("src.txt"), Z("src.txt")), 0);  // a copy of itself is itself
#endif
  EXPECT_EQ(ReadFile(tmp / "src.txt"), "new bytes");
  // The old name kept its case, and no temporary was left behind.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(HostFs(tmp / "mirror"))) names.push_back(HostText(e.path().filename()));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"SRC.TXT", "fresh.txt"}));
}

}  // namespace
