// libFuzzer target for the text-line loader: any bytes split into lines and written back.
// What must hold for every input: no line holds CR, LF or a zero byte; the lines are the
// bytes before the first zero byte with their line ends taken out; the saved text is the
// lines each followed by CR LF, as long as JoinedLength says; loading the saved text gives
// the same lines; a list appended to itself (its own lines as arguments) stays intact.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Lines.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const TLines lines = TLines::Parse(bytes);

  std::string_view before = bytes.substr(0, std::min(bytes.find('\0'), bytes.size()));
  std::string stripped;
  for (char c : before)
    if (c != '\r' && c != '\n') stripped.push_back(c);
  std::string joined;
  for (std::size_t i = 0; i < lines.Count(); ++i) {
    Require(lines[i].find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos);
    joined.append(lines[i]);
  }
  Require(joined == stripped);
  Require(lines.Empty() == before.empty());

  const std::string text = lines.Text();
  Require(text.size() == lines.JoinedLength());
  std::string expected;
  for (std::size_t i = 0; i < lines.Count(); ++i) expected.append(lines[i]).append("\r\n");
  Require(text == expected);

  const TLines again = TLines::Parse(text);
  Require(again.Count() == lines.Count());
  for (std::size_t i = 0; i < lines.Count(); ++i) Require(again[i] == lines[i]);

  // Appending a list's own lines to it: the views point into the buffer that grows.
  TLines doubled = lines;
  doubled.AddAll(doubled);
  if (!lines.Empty()) doubled.Add(doubled[0]);
  Require(doubled.Count() == 2 * lines.Count() + (lines.Empty() ? 0 : 1));
  for (std::size_t i = 0; i < lines.Count(); ++i)
    Require(doubled[i] == lines[i] && doubled[lines.Count() + i] == lines[i]);
  if (!lines.Empty()) Require(doubled[2 * lines.Count()] == lines[0]);
  Require(doubled.Text() == text + text + (lines.Empty() ? "" : std::string(lines[0]) + "\r\n"));
  return 0;
}
