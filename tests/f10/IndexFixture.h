#pragma once
// A temporary folder reached through a fault-injecting platform that records every
// operation, so tests can tell what the index did to the file system and in what order.

#include <string>
#include <vector>

#include "FaultyPlatform.h"
#include "Index.h"
#include "TestSupport.h"

class IndexTest : public ::testing::Test {
 protected:
  IndexTest() {
    fs.OnOperation([this](const std::string& kind, const std::string&) { ops.push_back(kind); });
  }
  // Drive path and host path of a file in the temporary folder.
  std::string Drive(const std::string& name) const { return dir.Drive(name); }
  std::string Host(const std::string& name) const { return dir / name; }
  void Put(const std::string& name, const std::string& bytes) {
    testsupport::WriteFile(Host(name), bytes);
  }
  std::string Get(const std::string& name) const { return testsupport::ReadFile(Host(name)); }
  bool Has(const std::string& name) const { return testsupport::Exists(Host(name)); }
  long CountOps(const std::string& kind) const {
    long n = 0;
    for (const auto& k : ops) n += k == kind;
    return n;
  }

  testsupport::TTempDir dir;
  std::unique_ptr<TPlatform> system = NewSystemPlatform();
  TPlatform& real = *system;
  TFaultyPlatform fs{real};
  std::vector<std::string> ops;
};
