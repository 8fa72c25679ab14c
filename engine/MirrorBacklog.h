#pragma once
// Mirror copies that failed, remembered in a file of the program's folder until one
// succeeds. A mirror that could not be written once (a full disk, a share gone away) would
// otherwise keep its old copy until the stock is delivered again, which may be never.

#include <mutex>
#include <string>
#include <utility>
#include <vector>

class TPlatform;

class TMirrorBacklog {
 public:
  // `path`: the file that keeps the list between runs (GBK lines "from<TAB>to", CR LF).
  TMirrorBacklog(TPlatform& fs, std::string path);

  // Reads the list; a missing file holds nothing. A file that cannot be read is left as it
  // is for the rest of the run, which only remembers its own copies.
  void Load();
  // The outcome of a copy of `from` over `to`: a failed copy is remembered, a successful one
  // forgets whatever was waiting for `to` (a later copy supersedes an earlier one). The file
  // is rewritten at once when the list changed, so a killed run forgets nothing. Safe from
  // both threads of a run.
  void Record(const std::string& from, const std::string& to, bool copied);
  // Forgets the copy waiting for `to`, if any, without it having been made.
  void Drop(const std::string& to);
  // The copies waiting, oldest first, as (from, to).
  std::vector<std::pair<std::string, std::string>> Waiting() const;

 private:
  // Whether an entry for `to` was there (and is gone now).
  bool EraseLocked(const std::string& to);
  void SaveLocked();

  TPlatform& FPlatform;
  std::string FPath;
  mutable std::mutex FLock;
  std::vector<std::pair<std::string, std::string>> FCopies;
  bool FKeepFile = false;  // set by Load before either thread records a copy
};
