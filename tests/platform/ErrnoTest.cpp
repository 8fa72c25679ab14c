// The POSIX platform's one translation of errno into the Windows codes the program shows.

#include <gtest/gtest.h>

#include <cerrno>

#include "PosixFiles.h"

namespace {

using posixfiles::WinErrorOf;

TEST(Failures, ErrnoBecomesTheWindowsCode) {
  EXPECT_EQ(WinErrorOf(ENOENT), 2);
  EXPECT_EQ(WinErrorOf(ENOTDIR), 3);
  EXPECT_EQ(WinErrorOf(EMFILE), 4);
  EXPECT_EQ(WinErrorOf(ENFILE), 4);
  EXPECT_EQ(WinErrorOf(EACCES), 5);
  EXPECT_EQ(WinErrorOf(EPERM), 5);
  EXPECT_EQ(WinErrorOf(EISDIR), 5);
  EXPECT_EQ(WinErrorOf(EWOULDBLOCK), 32);
  EXPECT_EQ(WinErrorOf(ENOSPC), 112);
  EXPECT_EQ(WinErrorOf(EDQUOT), 112);
  EXPECT_EQ(WinErrorOf(EEXIST), 183);
}

}  // namespace
