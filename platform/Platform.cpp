#include "Platform.h"

#include "Convert.h"

namespace {

// One character of a GBK text: two bytes for a lead byte with a byte after it.
std::size_t CharLength(std::string_view s, std::size_t i) {
  return IsGbkLead(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
}

}  // namespace

bool MatchesMask(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") pattern = "*";  // every name, with or without an extension
  std::size_t p = 0, n = 0;
  std::size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starN = n;
      continue;
    }
    if (p < pattern.size()) {
      const std::size_t pl = CharLength(pattern, p);
      const std::size_t nl = CharLength(name, n);
      if ((pl == 1 && pattern[p] == '?') ||
          (pl == nl && SameText(pattern.substr(p, pl), name.substr(n, nl)))) {
        p += pl;
        n += nl;
        continue;
      }
    }
    if (starP == std::string_view::npos) return false;
    // Let the last star take one more character of the name and try again.
    starN += CharLength(name, starN);
    n = starN;
    p = starP;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::string ReadWholeFile(TPlatform& fs, const std::string& path, bool followLink) {
  auto file = fs.OpenShared(path, followLink);
  const std::int64_t size = file->Size();
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    const std::size_t n = file->ReadAt(static_cast<std::int64_t>(got), bytes.data() + got,
                                       bytes.size() - got);
    if (n == 0) break;  // the file shrank meanwhile: what is there is what we have
    got += n;
  }
  bytes.resize(got);
  return bytes;
}

void WriteWholeFile(TPlatform& fs, const std::string& path, std::string_view bytes) {
  auto file = fs.CreateExclusive(path);
  if (!bytes.empty()) file->WriteAt(0, bytes.data(), bytes.size());
  file->Commit();
}

std::string HostPathText(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
#else
  return path.string();
#endif
}

