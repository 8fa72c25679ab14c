#include "MirrorCopies.h"

#include "Convert.h"
#include "MirrorBacklog.h"
#include "Platform.h"
#include "RunReport.h"
#include "RunTerms.h"
#include "RunVoice.h"
#include "WorkAhead.h"

std::vector<std::string> MirrorsOf(const TNameValues& entries, const std::string& market) {
  const std::string* tag = market == kMarketSh ? &kTagSh : market == kMarketSz ? &kTagSz : nullptr;
  std::vector<std::string> folders;
  if (!tag) return folders;
  for (const auto& [name, value] : entries)
    if (name.find(*tag) != std::string::npos) folders.push_back(value);
  return folders;
}

bool NamesAMarket(const std::string& name) {
  return name.find(kTagSh) != std::string::npos || name.find(kTagSz) != std::string::npos;
}

TMirrorCopies::TMirrorCopies(TPlatform& fs, const TNameValues& entries, TRunVoice& voice)
    : FPlatform(fs), FEntries(entries), FVoice(voice) {}

TMirrorCopies::~TMirrorCopies() = default;

std::vector<std::string> TMirrorCopies::MirrorsOf(const std::string& market) const {
  return ::MirrorsOf(FEntries, market);
}

void TMirrorCopies::MakeOwedCopies(const std::string& backlogPath, const std::function<bool()>& stopping) {
  FBacklog = std::make_unique<TMirrorBacklog>(FPlatform, backlogPath);
  FBacklog->Load();
  std::vector<std::string> mirrors = MirrorsOf(kMarketSh);
  for (const std::string& mirror : MirrorsOf(kMarketSz)) mirrors.push_back(mirror);
  for (const auto& [from, to] : FBacklog->Waiting()) {
    if (stopping()) return;
    const std::size_t cut = LastPathDelimiter(to);
    const std::string folder = cut == std::string::npos ? std::string() : to.substr(0, cut);
    bool stillMirror = false;
    for (const std::string& mirror : mirrors) stillMirror = stillMirror || SameText(mirror, folder);
    if (!stillMirror || !FPlatform.FileExists(from)) {
      FBacklog->Drop(to);
      continue;
    }
    CopyToMirror(from, to);
  }
}

void TMirrorCopies::CopyToMirror(const std::string& from, const std::string& to) {
  const bool copied = FPlatform.CopyFileOver(from, to) == 0;
  if (FBacklog) FBacklog->Record(from, to, copied);
  if (!copied)
    if (TRunReport* report = FVoice.Report()) report->MirrorCopyFailed(from, to);
}

void TMirrorCopies::CopyToMirrors(const std::string& file, const std::string& market, const std::string& name) {
  for (const std::string& mirror : MirrorsOf(market)) {
    std::string to = mirror + "\\" + name;
    if (!FAhead) {
      CopyToMirror(file, to);
      continue;
    }
    FAhead->Post([this, file, to = std::move(to)] {
      try {
        CopyToMirror(file, to);
      } catch (...) {
        // Not even memory for a copy: the mirror stays as it was, as with any failed copy.
      }
    });
  }
}

std::vector<std::pair<std::string, std::string>> TMirrorCopies::Owed() const {
  return FBacklog ? FBacklog->Waiting() : std::vector<std::pair<std::string, std::string>>();
}

void TMirrorCopies::EndRun() { FBacklog.reset(); }
