// Where the program looks for its settings and writes its logs when no --home is given.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "HomeFolder.h"

namespace {

struct TRow {
  const char* Program;
  std::map<std::string, std::string> Env;
  std::string UserHome;
  std::string Expected;  // "" for the program's own folder
};

TEST(HomeFolder, BesideTheProgramUnlessInstalledInABinFolder) {
  const std::vector<TRow> rows = {
      {"/work/lorvane/build/lorvane", {{"HOME", "/home/ann"}}, "", ""},
      {"/opt/lorvane/lorvane", {{"HOME", "/home/ann"}}, "", ""},
      {"/opt/binaries/lorvane", {{"HOME", "/home/ann"}}, "", ""},
      {"/usr/bin/lorvane", {{"HOME", "/home/ann"}}, "", "/home/ann/.config/lorvane"},
      {"/usr/local/bin/lorvane", {{"HOME", "/home/ann/"}}, "", "/home/ann/.config/lorvane"},
      {"/home/ann/.local/bin/lorvane", {{"HOME", "/home/ann"}, {"XDG_CONFIG_HOME", "/cfg"}}, "", "/cfg/lorvane"},
      // A relative XDG_CONFIG_HOME is ignored; without HOME the account's home serves.
      {"/usr/bin/lorvane", {{"HOME", "/home/ann"}, {"XDG_CONFIG_HOME", "cfg"}}, "", "/home/ann/.config/lorvane"},
      {"/usr/bin/lorvane", {}, "/var/lib/ann", "/var/lib/ann/.config/lorvane"},
      {"/usr/bin/lorvane", {{"HOME", ""}}, "", ""},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Program);
    const auto getenv = [&row](const char* name) -> const char* {
      const auto it = row.Env.find(name);
      return it == row.Env.end() ? nullptr : it->second.c_str();
    };
    EXPECT_EQ(DefaultHomeFolder(row.Program, getenv, row.UserHome), row.Expected);
  }
}

}  // namespace
