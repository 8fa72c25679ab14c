// Drive paths over real temporary host folders.

#include "PosixPlatform.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

TEST(Paths, UpperCaseDrivePathReachesLowerCaseHostFolder) {
  TTempDir tmp;
  WriteFile(tmp / "feed/600000.f10", "x");
  TPosixPlatform fs(HostProgramPath());
  const std::string path = Upper(tmp.Drive("feed\\600000.F10"));
  EXPECT_TRUE(fs.FileExists(path));
  EXPECT_EQ(fs.HostPath(path), tmp / "feed/600000.f10");
}

}  // namespace
