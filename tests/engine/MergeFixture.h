#pragma once
// A run over a temporary tree: the real platform with the temporary folder as the program's
// home, wrapped for fault injection and a fixed clock, and a host that records the form.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Convert.h"
#include "FaultyPlatform.h"
#include "Index.h"
#include "IndexBytes.h"
#include "RecordingHost.h"
#include "TestSupport.h"
#include "RunTexts.h"
#include "uUniteThread.h"

namespace mergetest {

inline std::string G(const char* utf8) { return Utf8ToGbk(utf8); }

// One record of a hand-made index: only the fields the merge reads.
using TRec = indexbytes::TListed;

// The bytes of an index file of bare records (title and text file, nothing else).
inline std::string IndexBytes(const std::vector<TRec>& recs) {
  return indexbytes::Bare(static_cast<std::int16_t>(recs.size()), recs);
}

// The records of an index file as written, after a check of its size against its count.
inline std::vector<TIndexRecord> ReadIndex(const std::string& bytes) {
  std::vector<TIndexRecord> recs;
  if (bytes.size() < 16) {
    ADD_FAILURE() << "index shorter than its header";
    return recs;
  }
  const int count = static_cast<unsigned char>(bytes[10]) | static_cast<unsigned char>(bytes[11]) << 8;
  EXPECT_EQ(bytes.size(), 16u + 256u * static_cast<unsigned>(count));
  for (int i = 0; i < count && 16u + 256u * (i + 1u) <= bytes.size(); ++i) {
    TIndexRecord rec;
    std::memcpy(&rec, bytes.data() + 16 + 256 * i, sizeof rec);
    recs.push_back(rec);
  }
  return recs;
}

class TMergeFixture : public ::testing::Test {
 protected:
  TMergeFixture() : System(NewSystemPlatform(testsupport::HostText(Tmp.Path()))), Real(*System), Fs(Real), Thread(Fs, Host) {
    Fs.SetClock([] { return TDateTime{2026, 12, 8, 10, 30, 0, 0}; });
  }

  // Drive path and host path of a name inside the temporary tree ("a/b" for a\b).
  std::string D(const std::string& rel) const { return Tmp.Drive(rel); }
  std::string H(const std::string& rel) const { return Tmp / rel; }
  void Write(const std::string& rel, const std::string& bytes) const {
    testsupport::WriteFile(H(rel), bytes);
  }
  std::string Read(const std::string& rel) const { return testsupport::ReadFile(H(rel)); }
  bool Exists(const std::string& rel) const { return testsupport::Exists(H(rel)); }

  // The messages of the form log and of the day's log file, without their stamps.
  static std::string Unstamped(const std::string& line) {
    const std::size_t cut = line.find("] ");
    return cut == std::string::npos ? line : line.substr(cut + 2);
  }
  std::vector<std::string> FormMessages() const {
    std::vector<std::string> out;
    for (const std::string& line : Host.FormLog) out.push_back(Unstamped(line));
    return out;
  }
  std::vector<std::string> FileMessages() {
    std::vector<std::string> out;
    const std::string text = testsupport::ReadFile(Fs.HostPath(Thread.LogFilePath()));
    for (std::size_t at = 0; at < text.size();) {
      std::size_t end = text.find("\r\n", at);
      if (end == std::string::npos) end = text.size();
      out.push_back(Unstamped(text.substr(at, end - at)));
      at = end + 2;
    }
    return out;
  }
  static bool Has(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
  }

  testsupport::TTempDir Tmp;
  std::unique_ptr<TPlatform> System;
  TPlatform& Real;
  TFaultyPlatform Fs;
  testsupport::TRecordingHost Host;
  TUniteThread Thread;
};

}  // namespace mergetest
