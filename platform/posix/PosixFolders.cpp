#include "PosixFolders.h"

namespace posixfiles {

std::shared_ptr<const TFolder> TFolders::Find(const std::string& key) {
  std::lock_guard<std::mutex> guard(FLock);
  const auto it = FByKey.find(key);
  if (it == FByKey.end()) return nullptr;
  FUse.splice(FUse.begin(), FUse, it->second);
  return it->second->second;
}

void TFolders::Keep(const std::string& key, std::shared_ptr<const TFolder> folder) {
  std::lock_guard<std::mutex> guard(FLock);
  if (FRuns == 0) return;
  if (const auto it = FByKey.find(key); it != FByKey.end()) {
    // Opened by two threads at once: the first one stays.
    FUse.splice(FUse.begin(), FUse, it->second);
    return;
  }
  FUse.emplace_front(key, std::move(folder));
  FByKey[key] = FUse.begin();
  while (FUse.size() > kMaxHeld) {
    FByKey.erase(FUse.back().first);
    FUse.pop_back();
  }
}

void TFolders::Hold(bool begin) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FRuns += begin ? 1 : -1;
    if (FRuns > 0) return;
    FRuns = 0;
  }
  Forget();
}

bool TFolders::Holding() {
  std::lock_guard<std::mutex> guard(FLock);
  return FRuns > 0;
}

void TFolders::Forget() {
  std::lock_guard<std::mutex> guard(FLock);
  FByKey.clear();
  FUse.clear();
}

void TFolders::Claimed(const std::string& key) {
  std::lock_guard<std::mutex> guard(FLock);
  FClaimed.insert(key);
  // Handles opened before the claim, of the folder and below it, were opened following links:
  // the next use opens them anew.
  const std::string below = key == "/" ? key : key + "/";
  for (auto it = FUse.begin(); it != FUse.end();) {
    if (it->first == key || it->first.compare(0, below.size(), below) == 0) {
      FByKey.erase(it->first);
      it = FUse.erase(it);
    } else {
      ++it;
    }
  }
}

void TFolders::Unclaimed(const std::string& key) {
  std::lock_guard<std::mutex> guard(FLock);
  if (const auto it = FClaimed.find(key); it != FClaimed.end()) FClaimed.erase(it);
}

bool TFolders::IsClaimed(const std::string& key) {
  std::lock_guard<std::mutex> guard(FLock);
  return FClaimed.count(key) > 0;
}

void TTakenFiles::Keep(const TFolder& dir, const std::string& name, TFd fd, const struct stat& st) {
  std::list<TTaken> gone;  // closed outside the lock
  std::lock_guard<std::mutex> guard(FLock);
  for (auto it = FTaken.begin(); it != FTaken.end(); ++it)
    if (it->Dev == dir.Dev && it->Ino == dir.Ino && it->Name == name) {
      gone.splice(gone.end(), FTaken, it);
      break;
    }
  FTaken.push_back(TTaken{dir.Dev, dir.Ino, name, std::move(fd), st});
  while (FTaken.size() > kMaxHeld) gone.splice(gone.end(), FTaken, FTaken.begin());
}

bool TTakenFiles::Take(const TFolder& dir, const std::string& name, TFd& fd, struct stat& st) {
  std::lock_guard<std::mutex> guard(FLock);
  for (auto it = FTaken.begin(); it != FTaken.end(); ++it)
    if (it->Dev == dir.Dev && it->Ino == dir.Ino && it->Name == name) {
      fd = std::move(it->Fd);
      st = it->St;
      FTaken.erase(it);
      return true;
    }
  return false;
}

void TTakenFiles::Forget(const TFolder& dir, const std::string& name) {
  TFd gone;
  struct stat st{};
  (void)Take(dir, name, gone, st);
}

void TTakenFiles::Clear() {
  std::list<TTaken> gone;
  std::lock_guard<std::mutex> guard(FLock);
  gone.swap(FTaken);
}

}  // namespace posixfiles
