#pragma once
// The folders a run works in, held open: each is opened once as a handle (O_PATH) and the
// file work in it is done relative to the handle (openat, renameat2, fstatat, unlinkat), so
// that the kernel walks one name per call instead of the whole path, and so that a folder
// checked once is the folder worked in, whatever is renamed or linked into its path
// meanwhile. Below a folder the run has claimed, nothing is followed: a link put where a
// folder was is no folder. Private to the platform library.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

#include "PosixFiles.h"

namespace posixfiles {

// One folder held open. Safe to share between threads: it is never changed once made.
struct TFolder {
  TFd Fd;               // O_PATH | O_DIRECTORY
  std::string Host;     // the host path it was opened at (for messages and the name cache)
  dev_t Dev = 0;
  ino_t Ino = 0;
  // The folder is claimed by this process, or lies in one that is: what is below it is
  // opened without following links.
  bool Guarded = false;
};

// The handles of the folders in use, the most recently used kept. Safe for concurrent use: a
// handle in use stays open while its user holds it, even when the cache lets go of it.
class TFolders final {
 public:
  static constexpr std::size_t kMaxHeld = 64;

  // The handle opened for `key` (a host path as the program wrote it), or null.
  std::shared_ptr<const TFolder> Find(const std::string& key);
  // Holds `folder` under `key`, letting go of the least recently used ones beyond kMaxHeld.
  void Keep(const std::string& key, std::shared_ptr<const TFolder> folder);
  // Whether handles are kept: from a run's beginning to its end (calls nest). Outside, every
  // use opens the folder as it is then. The last end lets go of every handle held.
  void Hold(bool begin);
  bool Holding();
  // Lets go of every handle (the drives were mapped anew).
  void Forget();

  // The folders claimed (host paths as the program wrote them): their handles, and those of
  // every folder below them, are guarded. Kept until the claim goes.
  void Claimed(const std::string& key);
  void Unclaimed(const std::string& key);
  bool IsClaimed(const std::string& key);

 private:
  std::mutex FLock;
  std::list<std::pair<std::string, std::shared_ptr<const TFolder>>> FUse;  // most recent first
  std::unordered_map<std::string, decltype(FUse)::iterator> FByKey;
  std::multiset<std::string> FClaimed;
  int FRuns = 0;
};

// Files a run moved from a feed, still open under the read lease taken to move them (see
// WriterCheck): the read that follows takes the handle instead of opening the file again, and
// no writer can have touched the file in between. Kept by the folder's identity and the name
// moved to; a change to that name by this process lets go of its entry. Safe for concurrent
// use.
class TTakenFiles final {
 public:
  static constexpr std::size_t kMaxHeld = 64;

  // Keeps `fd` (`st` its stat) for the file `name` in the folder `dir`, letting go of the
  // oldest beyond kMaxHeld.
  void Keep(const TFolder& dir, const std::string& name, TFd fd, const struct stat& st);
  // Hands over the handle kept for `name` in `dir`; false when none is.
  bool Take(const TFolder& dir, const std::string& name, TFd& fd, struct stat& st);
  // Lets go of the handle of `name` in `dir`, if one is kept.
  void Forget(const TFolder& dir, const std::string& name);
  void Clear();

 private:
  struct TTaken {
    dev_t Dev;
    ino_t Ino;
    std::string Name;
    TFd Fd;
    struct stat St;
  };
  std::mutex FLock;
  std::list<TTaken> FTaken;  // the oldest first
};

}  // namespace posixfiles
