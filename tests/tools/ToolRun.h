#pragma once
// Running the built tools and scripts from a test, as a user runs them from a shell.

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace toolrun {

struct TResult {
  int Status = -1;  // the exit status; -1 when the process did not exit normally
  std::string Out;
  std::string Err;
};

// One argument quoted for sh.
inline std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

// Runs `argv` (with `env` assignments in front, "NAME=value") and collects its output in
// files under `scratch`.
inline TResult Run(const testsupport::TTempDir& scratch, const std::vector<std::string>& argv,
                   const std::vector<std::string>& env = {}) {
  std::string command;
  for (const auto& e : env) command += e + " ";
  for (const auto& a : argv) command += Quote(a) + " ";
  const std::string out = scratch / "run.out";
  const std::string err = scratch / "run.err";
  command += "</dev/null >" + Quote(out) + " 2>" + Quote(err);
  const int raw = std::system(command.c_str());
  TResult result;
  if (raw != -1 && WIFEXITED(raw)) result.Status = WEXITSTATUS(raw);
  result.Out = testsupport::ReadFile(out);
  result.Err = testsupport::ReadFile(err);
  return result;
}

}  // namespace toolrun
