#include "FolderListing.h"

#include <algorithm>

#include "Convert.h"

namespace {

// A mask that, put after dir + "\", is one more component of the same path: no separator,
// nothing a path may not hold (else the search fails), not "." or ".." (folded away).
bool IsPlainMask(const std::string& mask) {
  if (mask.empty() || mask == "." || mask == "..") return false;
  for (std::size_t i = 0; i < mask.size(); ++i) {
    const auto c = static_cast<unsigned char>(mask[i]);
    if (IsGbkLead(c) && i + 1 < mask.size()) {
      ++i;
      continue;
    }
    if (c < 0x20) return false;
    switch (c) {
      case '\\': case '/': case ':': case '"': case '<': case '>': case '|': return false;
      default: break;
    }
  }
  return true;
}

// The start of a mask before its first wildcard: every name it matches starts with these
// characters, the same but for ASCII case.
std::string LiteralStart(const std::string& mask) {
  std::size_t i = 0;
  while (i < mask.size()) {
    const auto c = static_cast<unsigned char>(mask[i]);
    if (IsGbkLead(c) && i + 1 < mask.size()) {
      i += 2;
      continue;
    }
    if (c == '*' || c == '?') break;
    ++i;
  }
  return mask.substr(0, i);
}

}  // namespace

TFolderListing::TFolderListing(TPlatform& fs, std::string dir)
    : FPlatform(fs), FDir(std::move(dir)) {
  const std::string joined = FDir + "\\";
  FSeparated = LastPathDelimiter(joined) == FDir.size();
  FEntries = FPlatform.FindFiles(joined + "*");
  FGone.assign(FEntries.size(), false);
  FByName.reserve(FEntries.size());
  for (std::size_t i = 0; i < FEntries.size(); ++i) FByName.emplace_back(UpperAscii(FEntries[i].Name), i);
  std::sort(FByName.begin(), FByName.end());
}

std::vector<TFindEntry> TFolderListing::Find(const std::string& mask) const {
  if (!FSeparated || !IsPlainMask(mask)) return FPlatform.FindFiles(FDir + "\\" + mask);
  // Folding a to z over every byte folds at least what the match folds, so every name the
  // mask matches is in this range; the match itself then decides.
  const std::string start = UpperAscii(LiteralStart(mask));
  std::vector<std::size_t> hits;
  for (auto it = std::lower_bound(FByName.begin(), FByName.end(), std::make_pair(start, std::size_t{0}));
       it != FByName.end() && it->first.compare(0, start.size(), start) == 0; ++it) {
    if (!FGone[it->second] && MatchesMask(mask, FEntries[it->second].Name)) hits.push_back(it->second);
  }
  std::sort(hits.begin(), hits.end());
  std::vector<TFindEntry> out;
  out.reserve(hits.size());
  for (const std::size_t i : hits) out.push_back(FEntries[i]);
  return out;
}

void TFolderListing::Forget(const std::string& name) {
  const std::string key = UpperAscii(name);
  for (auto it = std::lower_bound(FByName.begin(), FByName.end(), std::make_pair(key, std::size_t{0}));
       it != FByName.end() && it->first == key; ++it) {
    if (FEntries[it->second].Name == name) FGone[it->second] = true;
  }
}
