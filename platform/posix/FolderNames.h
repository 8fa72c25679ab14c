#pragma once
// The names of host folders held in memory and kept current by inotify, so that "which entry
// of this folder is this name but for the case of its letters?" needs no read of the folder:
// reading the folder for each new name would make a run cost the square of its stocks.
//
// Nothing here can go stale: the kernel queues an event for every entry made, removed or
// renamed in a watched folder, by any process, before the call that made the change returns,
// and every answer is given only after the queue has been read to its end. A lost event (a
// full queue) forgets every folder; a folder that is removed, moved or unmounted is
// forgotten. Only folders on local file systems are held: a network file system does not
// tell of changes made by other machines. Private to the platform library.

#include <sys/stat.h>

#include <cstddef>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace posixpaths {

// Safe for concurrent use: one lock guards everything held, and each question reads the
// queue of changes to its end under it.
class TFolderNames final {
 public:
  // At most this many folders and names are held, the least recently asked folders given
  // up first; a folder with more names than that is read each time instead.
  static constexpr std::size_t kMaxFolders = 32;
  static constexpr std::size_t kMaxNames = 100000;

  TFolderNames();
  ~TFolderNames();
  TFolderNames(const TFolderNames&) = delete;
  TFolderNames& operator=(const TFolderNames&) = delete;

  // The host name in `folder` (a host path, `folderStat` its stat) that stands for the GBK
  // name `name` when no entry is named exactly GbkToUtf8(name): an entry that equals it
  // converted to GBK, else one that differs only in the case of ASCII letters (the first in
  // byte order of each kind). Sets `found` ("" for none) and returns true; returns false
  // when the folder cannot be held, for the caller to read it itself.
  bool FindOther(const std::string& folder, const struct stat& folderStat, const std::string& name,
                 std::string& found);

  // Folders held now (for tests).
  std::size_t Held();

 private:
  struct TEntry {
    std::string Host;  // the name on the host
    std::string Gbk;   // as the program sees it
    // Something was renamed onto it while it was there. An exchange of two names reports
    // a name moved away that is still there, which only a look at the folder tells apart.
    bool Replaced = false;
  };
  struct TFolder {
    int Watch = -1;
    int DirFd = -1;  // the folder itself, to look into whatever its path has become
    dev_t Dev = 0;
    ino_t Ino = 0;
    // Names by their GBK form with a to z upper-cased: whatever the rules match falls in
    // one bucket.
    std::unordered_map<std::string, std::vector<TEntry>> Names;
    std::size_t Count = 0;
  };
  using TKey = std::pair<dev_t, ino_t>;

  TFolder* Hold(const std::string& folder, const struct stat& folderStat);
  // Gives up a watch. Removing one costs the kernel a wake-up of another thread, so folders
  // given up are let go of in batches; their events meanwhile belong to no folder.
  void Retire(int watch);
  void RemoveRetired();
  void Drain();
  void Forget(std::list<TFolder>::iterator it, bool removeWatch);
  void ForgetAll();
  static void Add(TFolder& f, const std::string& host);
  static void Remove(TFolder& f, const std::string& host);
  // Removes a name moved away unless it is still there (an exchange).
  static void RemoveMoved(TFolder& f, const std::string& host);

  std::mutex FLock;
  std::size_t FNames = 0;             // names held in all folders
  int FFd = -1;                       // the inotify instance, -1 when there is none
  std::list<TFolder> FFolders;        // most recently asked first
  std::map<TKey, std::list<TFolder>::iterator> FByInode;
  std::map<int, std::list<TFolder>::iterator> FByWatch;
  std::vector<int> FRetired;          // watches of folders given up, still to be removed
  static constexpr std::size_t kRetiredBatch = 64;
};

}  // namespace posixpaths
