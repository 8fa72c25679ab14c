// The line split against a byte-by-byte reading of its rule, on texts made of little but
// line ends: CR LF, lone CR, lone LF, in every mix, a zero byte, no end at the end.

#include <random>
#include <string>
#include <vector>

#include "Lines.h"
#include "TestSupport.h"

namespace {

std::vector<std::string> ByTheRule(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t i = 0;
  const std::size_t n = std::min(bytes.find('\0'), bytes.size());
  while (i < n) {
    std::string line;
    while (i < n && bytes[i] != '\r' && bytes[i] != '\n') line += bytes[i++];
    lines.push_back(line);
    if (i < n && bytes[i] == '\r') ++i;
    if (i < n && bytes[i] == '\n') ++i;
  }
  return lines;
}

std::vector<std::string> Lines(const TLines& lines) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < lines.Count(); ++i) out.emplace_back(lines[i]);
  return out;
}

TEST(LineSplit, EveryMixOfLineEndsSplitsByTheRule) {
  std::mt19937 random(11);
  const char pieces[] = {'\r', '\n', '\r', '\n', 'a', 'b', '\0'};
  for (int round = 0; round < 3000; ++round) {
    std::string bytes;
    const int length = static_cast<int>(random() % 100);  // several blocks of sixteen
    for (int i = 0; i < length; ++i) {
      const char c = pieces[random() % sizeof pieces];
      if (c == '\0' && random() % 4) continue;  // a zero byte now and then
      bytes += c;
    }
    const std::vector<std::string> expected = ByTheRule(bytes);
    ASSERT_EQ(Lines(TLines::Parse(bytes)), expected) << round;
    const TLines adopted = TLines::Adopt(bytes);
    ASSERT_EQ(Lines(adopted), expected) << round;
    std::size_t joined = 0;
    for (const std::string& line : expected) joined += line.size() + 2;
    ASSERT_EQ(adopted.JoinedLength(), joined) << round;
  }
  // Line ends where the sixteen-byte blocks meet: CR LF cut in two, a lone CR last in a block.
  for (const std::size_t at : {std::size_t{14}, std::size_t{15}, std::size_t{16}, std::size_t{31}}) {
    for (const std::string end : {"\r\n", "\r", "\n", "\r\r\n", "\n\r"}) {
      const std::string bytes = std::string(at, 'x') + end + std::string(20, 'y');
      ASSERT_EQ(Lines(TLines::Adopt(bytes)), ByTheRule(bytes)) << at << " " << end.size();
    }
  }
  // A long text without a line end is one line.
  EXPECT_EQ(TLines::Adopt(std::string(1 << 20, 'x')).Count(), 1u);
}

}  // namespace
