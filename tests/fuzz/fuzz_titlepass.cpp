// libFuzzer target for the title pass: any bytes as the merged lines of a stock. The output
// must be the input, every line unchanged and in order, with a title line inserted directly
// before a banner line exactly when the line after that banner, trimmed, holds a name before
// its first arrow. The rule is restated here with plain string operations, on its own.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Lines.h"
#include "RunTexts.h"
#include "uUniteThread.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

std::string_view TrimBytes(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Short inputs rarely spell the banner by chance; a leading byte of 1 puts one in front.
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (!bytes.empty() && bytes[0] == '\x01') bytes = Texts::BannerText + bytes.substr(1);
  const TLines merge = TLines::Parse(bytes);
  const std::string saved = TitlePass(merge);
  const TLines out = TLines::Parse(saved);
  Require(saved.size() == out.JoinedLength());

  std::size_t j = 0;
  for (std::size_t i = 0; i < merge.Count(); ++i) {
    const std::string_view line = merge[i];
    if (line.find(Texts::BannerText) != std::string_view::npos) {
      const std::string_view next = i + 1 < merge.Count() ? TrimBytes(merge[i + 1]) : std::string_view();
      const std::size_t arrow = next.find(Texts::Arrow);
      if (arrow != std::string_view::npos && arrow > 0) {
        Require(j < out.Count());
        Require(out[j] == "`" + std::string(next.substr(0, arrow)) + "`");
        ++j;
      }
    }
    Require(j < out.Count() && out[j] == line);
    ++j;
  }
  Require(j == out.Count());
  return 0;
}
