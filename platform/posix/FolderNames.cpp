#include "FolderNames.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>

#include "Convert.h"

namespace posixpaths {

namespace {

// File systems whose changes all pass through this kernel, so a watch hears of every one.
bool IsLocalFileSystem(int fd) {
  struct statfs fs{};
  if (::fstatfs(fd, &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0xF2F52010:  // f2fs
      return true;
    default:
      return false;
  }
}

constexpr std::uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                     IN_DELETE_SELF | IN_ONLYDIR;

}  // namespace

TFolderNames::TFolderNames() : FFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

TFolderNames::~TFolderNames() {
  for (const TFolder& f : FFolders) ::close(f.DirFd);
  if (FFd >= 0) ::close(FFd);  // drops every watch with it
}

std::size_t TFolderNames::Held() {
  std::lock_guard<std::mutex> guard(FLock);
  Drain();
  return FFolders.size();
}

void TFolderNames::Add(TFolder& f, const std::string& host) {
  std::string gbk = Utf8ToGbk(host);
  auto& bucket = f.Names[UpperAscii(gbk)];
  for (TEntry& e : bucket)
    if (e.Host == host) {
      // Seen by the reading and by an event both, or renamed onto.
      e.Replaced = true;
      return;
    }
  bucket.push_back(TEntry{host, std::move(gbk)});
  ++f.Count;
}

void TFolderNames::RemoveMoved(TFolder& f, const std::string& host) {
  const auto it = f.Names.find(UpperAscii(Utf8ToGbk(host)));
  if (it != f.Names.end())
    for (TEntry& e : it->second)
      if (e.Host == host && e.Replaced) {
        struct stat st{};
        if (::fstatat(f.DirFd, host.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
          e.Replaced = false;
          return;
        }
        break;
      }
  Remove(f, host);
}

void TFolderNames::Remove(TFolder& f, const std::string& host) {
  const auto it = f.Names.find(UpperAscii(Utf8ToGbk(host)));
  if (it == f.Names.end()) return;
  auto& bucket = it->second;
  for (auto e = bucket.begin(); e != bucket.end(); ++e)
    if (e->Host == host) {
      bucket.erase(e);
      --f.Count;
      break;
    }
  if (bucket.empty()) f.Names.erase(it);
}

void TFolderNames::Retire(int watch) {
  FRetired.push_back(watch);
  if (FRetired.size() >= kRetiredBatch) RemoveRetired();
}

void TFolderNames::RemoveRetired() {
  for (const int watch : FRetired) ::inotify_rm_watch(FFd, watch);
  FRetired.clear();
}

void TFolderNames::Forget(std::list<TFolder>::iterator it, bool removeWatch) {
  if (removeWatch) Retire(it->Watch);
  FByWatch.erase(it->Watch);
  FByInode.erase(TKey{it->Dev, it->Ino});
  FNames -= it->Count;
  ::close(it->DirFd);
  FFolders.erase(it);
}

void TFolderNames::ForgetAll() {
  while (!FFolders.empty()) Forget(FFolders.begin(), true);
}

void TFolderNames::Drain() {
  if (FFd < 0) return;
  alignas(struct inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(FFd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN) ForgetAll();  // whatever happened, nothing held can be trusted
      return;
    }
    if (n == 0) return;
    // A read leaves room for another event only when the queue held no more: what comes
    // after it was made after this question was asked.
    const bool emptied = static_cast<std::size_t>(n) + sizeof(struct inotify_event) + NAME_MAX + 1 <= sizeof buffer;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const struct inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(struct inotify_event) + e->len);
      if (e->mask & IN_Q_OVERFLOW) {
        ForgetAll();
        continue;
      }
      const auto w = FByWatch.find(e->wd);
      if (w == FByWatch.end()) continue;  // a folder given up already
      const auto folder = w->second;
      if (e->mask & IN_IGNORED) {
        Forget(folder, false);  // the kernel has dropped the watch itself
      } else if (e->mask & IN_DELETE_SELF) {
        Forget(folder, false);  // the kernel drops the watch of a deleted folder itself
      } else if (e->len > 0) {
        const std::string name = e->name;  // zero-padded
        const std::size_t before = folder->Count;
        if (e->mask & (IN_CREATE | IN_MOVED_TO)) Add(*folder, name);
        else if (e->mask & IN_MOVED_FROM) RemoveMoved(*folder, name);
        else if (e->mask & IN_DELETE) Remove(*folder, name);
        FNames += folder->Count;
        FNames -= before;
      }
    }
    if (emptied) return;
  }
}

TFolderNames::TFolder* TFolderNames::Hold(const std::string& folder, const struct stat& folderStat) {
  const TKey key{folderStat.st_dev, folderStat.st_ino};
  if (const auto it = FByInode.find(key); it != FByInode.end()) {
    FFolders.splice(FFolders.begin(), FFolders, it->second);
    return &*it->second;
  }

  // The watch goes on the very folder that is read (through its descriptor) and comes before
  // the reading: a change made meanwhile is in the listing, in the queue, or both.
  const int dirFd = ::open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return nullptr;
  struct stat st{};
  if (::fstat(dirFd, &st) != 0 || st.st_dev != key.first || st.st_ino != key.second ||
      !IsLocalFileSystem(dirFd)) {
    ::close(dirFd);
    return nullptr;
  }
  const std::string self = "/proc/self/fd/" + std::to_string(dirFd);
  const int watch = ::inotify_add_watch(FFd, self.c_str(), kWatchMask);
  if (watch < 0) {
    ::close(dirFd);
    return nullptr;
  }
  // A folder held before under this watch, or given up and not yet let go of: the watch is
  // this folder's now.
  if (const auto stale = FByWatch.find(watch); stale != FByWatch.end()) Forget(stale->second, false);
  FRetired.erase(std::remove(FRetired.begin(), FRetired.end(), watch), FRetired.end());

  TFolder f;
  f.Watch = watch;
  f.Dev = key.first;
  f.Ino = key.second;
  // Read from the descriptor the folder stays open by: a directory stream would take it over.
  bool whole = true;
  alignas(struct dirent64) char entries[32768];
  for (;;) {
    const ssize_t n = ::getdents64(dirFd, entries, sizeof entries);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      whole = false;
      break;
    }
    for (ssize_t at = 0; at < n && whole;) {
      const auto* e = reinterpret_cast<const struct dirent64*>(entries + at);
      at += e->d_reclen;
      const std::string_view name = e->d_name;
      if (name == "." || name == "..") continue;
      Add(f, std::string(name));
      whole = f.Count <= kMaxNames;
    }
    if (!whole) break;
  }
  if (!whole) {
    ::close(dirFd);
    Retire(watch);
    return nullptr;
  }
  f.DirFd = dirFd;

  FNames += f.Count;
  FFolders.push_front(std::move(f));
  FByInode[key] = FFolders.begin();
  FByWatch[watch] = FFolders.begin();
  while (FFolders.size() > 1 && (FFolders.size() > kMaxFolders || FNames > kMaxNames))
    Forget(std::prev(FFolders.end()), true);
  // The changes made while the folder was read.
  Drain();
  const auto it = FByInode.find(key);
  return it == FByInode.end() ? nullptr : &*it->second;
}

bool TFolderNames::FindOther(const std::string& folder, const struct stat& folderStat,
                             const std::string& name, std::string& found) {
  std::lock_guard<std::mutex> guard(FLock);
  if (FFd < 0) return false;
  Drain();
  const TFolder* f = Hold(folder, folderStat);
  if (!f) return false;
  found.clear();
  const auto bucket = f->Names.find(UpperAscii(name));
  if (bucket == f->Names.end()) return true;
  std::string exact, folded;
  for (const TEntry& e : bucket->second) {
    if (e.Gbk == name) {
      if (exact.empty() || e.Host < exact) exact = e.Host;
    } else if (SameText(e.Gbk, name)) {
      if (folded.empty() || e.Host < folded) folded = e.Host;
    }
  }
  found = exact.empty() ? folded : exact;
  return true;
}

}  // namespace posixpaths
