// What only the Windows layer does: share modes that every program meets (not only ours),
// folder claims the system lets go, network and rooted paths, and the final-path form.

#include <fstream>

#include "Clock.h"
#include "Convert.h"
#include "Platform.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {

class Win32Test : public ::testing::Test {
 protected:
  TTempDir tmp;
  std::unique_ptr<TPlatform> system = NewSystemPlatform();
  TPlatform& fs = *system;
  std::string Z(const std::string& name = "") { return tmp.Drive(name); }
};

TEST_F(Win32Test, AnExclusiveOpenKeepsEveryOtherProgramOut) {
  WriteFile(tmp / "600000.F10", "bytes");
  {
    auto held = fs.OpenExclusive(Z("600000.F10"));
    std::ifstream other(HostFs(tmp / "600000.F10"), std::ios::binary);
    EXPECT_FALSE(other.is_open());  // unlike an advisory lock, this binds everyone
  }
  EXPECT_EQ(ReadFile(tmp / "600000.F10"), "bytes");
}

TEST_F(Win32Test, AFolderClaimIsHiddenRefusedTwiceAndGoneWithItsHolder) {
  std::unique_ptr<TFolderLock> first, second;
  std::string holder;
  ASSERT_EQ(fs.LockFolder(Z(), ".~lorvane.run.lock", first, holder), 0);
  EXPECT_EQ(fs.LockFolder(Z(), ".~lorvane.run.lock", second, holder), 32);
  EXPECT_TRUE(fs.FindFiles(Z("*")).empty());  // never listed
  first.reset();
  EXPECT_FALSE(Exists(tmp / ".~lorvane.run.lock"));  // deleted by the system on close
  EXPECT_EQ(fs.LockFolder(Z(), ".~lorvane.run.lock", second, holder), 0);
  EXPECT_EQ(fs.LockFolder(Z("none"), ".~lorvane.run.lock", first, holder), 3);
}

TEST_F(Win32Test, PathsAsWindowsWritesThem) {
  int error = 0;
  EXPECT_EQ(fs.HostPath("\\\\server\\share\\a\\..\\b.txt", &error), "\\\\server\\share\\b.txt");
  EXPECT_EQ(error, 0);
  // Rooted on whatever drive is current, or relative: no one file.
  for (const char* path : {"\\feed\\a.txt", "feed\\a.txt", "C:feed", "\\\\server", "\\\\?\\C:\\x", ""}) {
    EXPECT_EQ(fs.HostPath(path, &error), "") << path;
    EXPECT_EQ(error, 3) << path;
  }
  EXPECT_EQ(fs.HostPath("C:\\a|b", &error), "");
  EXPECT_EQ(error, 123);
  // A backslash that is the second byte of a GBK character separates nothing.
  const std::string name = "\xD5\x5C.txt";
  WriteWholeFile(fs, Z(name), "gbk");
  EXPECT_EQ(ReadFile(tmp / GbkToUtf8(name)), "gbk");
  ASSERT_EQ(fs.FindFiles(Z("*.txt")).size(), 1u);
  EXPECT_EQ(fs.FindFiles(Z("*.txt"))[0].Name, name);
  // Drive letters are the system's: nothing to map, nothing refused.
  fs.SetDrive('D', "relative");
  EXPECT_EQ(fs.RefusedDrives(), "");
}

TEST_F(Win32Test, RealPathsOfOneFolderAreOneTextWhateverTheCase) {
  fs.CreateDir(Z("Feed"));
  const std::string real = fs.RealPath(Z("Feed"));
  EXPECT_EQ(fs.RealPath(Z("FEED")), real);
  EXPECT_EQ(fs.RealPath(Z("feed\\.\\x\\..")), real);
  EXPECT_EQ(fs.RealPath(Z("feed\\dst\\new")), real + "/DST/NEW");  // the missing part as given
  EXPECT_EQ(real.find('\\'), std::string::npos);
}

TEST_F(Win32Test, RegionalFormatsReadBackWhatTheyWrite) {
  LoadRegionalFormats();
  for (const TDateTime t : {TDateTime{2026, 1, 5, 15, 4, 5, 0}, TDateTime{2026, 12, 31, 0, 0, 1, 0},
                            TDateTime{2026, 7, 9, 0, 0, 0, 0}}) {
    const TDateTime back = StrToDateTime(DateTimeToStr(t));
    EXPECT_EQ(IsoDate(back), IsoDate(t)) << DateTimeToStr(t);
    EXPECT_EQ(back.Hour * 3600 + back.Minute * 60 + back.Second, t.Hour * 3600 + t.Minute * 60 + t.Second)
        << DateTimeToStr(t);
  }
}

}  // namespace
