#include "MirrorBacklog.h"

#include <exception>

#include "Convert.h"
#include "Failure.h"
#include "Platform.h"

TMirrorBacklog::TMirrorBacklog(TPlatform& fs, std::string path) : FPlatform(fs), FPath(std::move(path)) {}

void TMirrorBacklog::Load() {
  std::string bytes;
  try {
    bytes = ReadWholeFile(FPlatform, FPath);
  } catch (const EFailure& failure) {
    // A list that is there but cannot be read now is kept as it stands: rewriting it with
    // this run's copies alone would forget the copies it owes.
    FKeepFile = failure.Code() != kErrFileNotFound && failure.Code() != kErrPathNotFound;
    return;
  }
  std::lock_guard<std::mutex> guard(FLock);
  FCopies.clear();
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos && tab > 0 && tab + 1 < line.size()) {
      const std::string to = line.substr(tab + 1);
      EraseLocked(to);
      FCopies.emplace_back(line.substr(0, tab), to);
    }
    start = end + 1;
  }
}

void TMirrorBacklog::Record(const std::string& from, const std::string& to, bool copied) {
  std::lock_guard<std::mutex> guard(FLock);
  const bool was = EraseLocked(to);
  if (copied && !was) return;
  if (!copied) FCopies.emplace_back(from, to);
  SaveLocked();
}

void TMirrorBacklog::Drop(const std::string& to) {
  std::lock_guard<std::mutex> guard(FLock);
  if (EraseLocked(to)) SaveLocked();
}

std::vector<std::pair<std::string, std::string>> TMirrorBacklog::Waiting() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FCopies;
}

bool TMirrorBacklog::EraseLocked(const std::string& to) {
  for (auto it = FCopies.begin(); it != FCopies.end(); ++it)
    if (SameText(it->second, to)) {
      FCopies.erase(it);
      return true;
    }
  return false;
}

void TMirrorBacklog::SaveLocked() {
  if (FKeepFile) return;
  try {
    if (FCopies.empty()) {
      // An empty list is no list: the file goes rather than staying as an empty one.
      (void)FPlatform.DeleteFile(FPath);
      return;
    }
    std::string bytes;
    for (const auto& [from, to] : FCopies) bytes += from + "\t" + to + "\r\n";
    WriteWholeFile(FPlatform, FPath, bytes);
  } catch (const std::exception&) {
    // The folder that keeps the list cannot be written: only this run knows of the copies
    // still owed. A mirror copy's outcome is never the run's failure.
  }
}
