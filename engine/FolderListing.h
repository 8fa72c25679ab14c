#pragma once
// A folder searched once. A market's staging asks its source folder for every "*.F10" and
// then, per stock, for "{code}?.sub": done as searches, each of those reads the whole folder,
// so a market would cost the square of its stocks. The listing reads the folder once and
// answers those questions from what it read.
//
// An answer is the one FindFiles would give for the same mask had the folder not changed
// since the listing was taken, less the entries the run has said it took away (Forget). What
// others deliver after the listing is not seen until the next run lists the folder again.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "Platform.h"

class TFolderListing {
 public:
  // Searches `dir` once (FindFiles of dir + "\*").
  TFolderListing(TPlatform& fs, std::string dir);

  const std::string& Dir() const { return FDir; }
  // The entries matching `mask` (the last component of a search, "*" and "?" allowed), in
  // search order. A mask the listing cannot answer as a search would (one that reaches into
  // another folder, or a folder name that would swallow the separator) is searched for real.
  std::vector<TFindEntry> Find(const std::string& mask) const;
  // The run has moved `name` (as listed) out of the folder.
  void Forget(const std::string& name);

 private:
  TPlatform& FPlatform;
  std::string FDir;
  bool FSeparated = false;               // dir + "\" ends in a separator of its own
  std::vector<TFindEntry> FEntries;      // in search order
  std::vector<bool> FGone;               // by position in FEntries
  // (name with a to z upper-cased, position), sorted: the entries a literal start of a mask
  // can match lie in one range of it.
  std::vector<std::pair<std::string, std::size_t>> FByName;
};
