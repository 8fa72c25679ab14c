#include "RunClaims.h"

#include <algorithm>
#include <utility>

#include "Failure.h"
#include "MirrorCopies.h"
#include "Platform.h"
#include "RunTexts.h"
#include "RunVoice.h"
#include "Staging.h"

namespace {

// Whether `inner` (a real host path) is `outer` or lies inside it; a root ends in its
// separator.
bool SameOrInside(const std::string& inner, const std::string& outer) {
  const auto separator = [](char c) { return c == '/' || c == '\\'; };
  if (inner.empty() || outer.empty() || inner.compare(0, outer.size(), outer) != 0) return false;
  return inner.size() == outer.size() || separator(outer.back()) || separator(inner[outer.size()]);
}

// Whether `path` is there as something other than a plain file (a folder, a link, a FIFO).
bool IsStrangeEntry(TPlatform& fs, const std::string& path) {
  const TEntryKind kind = fs.EntryKind(path);
  return kind == TEntryKind::Folder || kind == TEntryKind::Other;
}

std::vector<std::string> AllMirrors(const TRunFolders& folders) {
  std::vector<std::string> mirrors = MirrorsOf(folders.Mirrors, kMarketSh);
  for (const std::string& mirror : MirrorsOf(folders.Mirrors, kMarketSz)) mirrors.push_back(mirror);
  return mirrors;
}

}  // namespace

TRunClaims::TRunClaims(TPlatform& fs, TRunVoice& voice) : FPlatform(fs), FVoice(voice) {}

TRunClaims::~TRunClaims() = default;

std::string SettingsProblems(TPlatform& fs, const TRunFolders& folders) {
  std::vector<std::string> problems;
  for (const char letter : fs.RefusedDrives())
    problems.push_back(Texts::SectionDrives + "\\" + std::string(1, letter) + Texts::NotAbsolute);

  struct TKeyed {
    std::string Key, Path;
  };
  const std::vector<TKeyed> sources = {{Texts::KeySrc, folders.SrcPath}, {Texts::KeySzSrc, folders.SzSrcPath}};
  std::vector<TKeyed> outputs = {{Texts::KeyDes, folders.DesPath}, {Texts::KeySzDes, folders.SzDesPath}};
  // Entries that name neither market are never written to: they cannot hurt a run.
  for (const auto& [name, value] : folders.Mirrors)
    if (NamesAMarket(name)) outputs.push_back({Texts::SectionMirrors + "\\" + name, value});
  for (const TKeyed& source : sources) {
    if (source.Path.empty()) continue;
    const std::string root = fs.RealPath(source.Path);
    for (const TKeyed& output : outputs)
      if (!output.Path.empty() && SameOrInside(fs.RealPath(output.Path), root))
        problems.push_back(output.Key + Fmt(Texts::SameOrInside, source.Key));
  }
  std::string text;
  for (const std::string& problem : problems) text += (text.empty() ? "" : Texts::ProblemSeparator) + problem;
  return text;
}

bool TRunClaims::Claim(const TRunFolders& folders) {
  if (const std::string problems = SettingsProblems(FPlatform, folders); !problems.empty()) {
    FOutcome = TRunOutcome::Refused;
    FNotice = Texts::SettingsRefused + problems;
    FVoice.Fail(EFailure(FNotice));
    return false;
  }
  if (!ClaimFolders(folders)) return false;
  RemoveLeftovers(folders);
  return true;
}

void TRunClaims::Release() { FClaims.clear(); }

bool TRunClaims::ClaimFolders(const TRunFolders& folders) {
  // Every folder this run may write in: two runs sharing any one of them would take each
  // other's files away.
  std::vector<std::pair<std::string, std::string>> claims;  // (real host path, drive path)
  std::vector<std::string> paths = {folders.SrcPath, folders.SzSrcPath, folders.DesPath, folders.SzDesPath};
  for (const std::string& mirror : AllMirrors(folders)) paths.push_back(mirror);
  for (const std::string& path : paths) {
    if (path.empty()) continue;
    const std::string real = FPlatform.RealPath(path);
    if (real.empty()) continue;
    bool seen = false;
    for (const auto& c : claims) seen = seen || c.first == real;
    if (!seen) claims.emplace_back(real, path);
  }
  std::sort(claims.begin(), claims.end());
  for (const auto& [real, path] : claims) {
    std::unique_ptr<TFolderLock> lock;
    std::string holder;
    const int code = FPlatform.LockFolder(path, kRunLockName, lock, holder);
    if (code == 0) {
      FClaims.push_back(std::move(lock));
    } else if (code == kErrSharingViolation) {
      FClaims.clear();
      FOutcome = TRunOutcome::Busy;
      FNotice = Texts::RunBusy + path + (holder.empty() ? "" : Fmt(Texts::RunBusyProcess, holder));
      FVoice.Notice(FNotice);
      return false;
    } else if (const std::string entry = path + "\\" + kRunLockName; IsStrangeEntry(FPlatform, entry)) {
      // Someone else's entry under the claim's name would let a second run in unseen: no run
      // starts until it is put right.
      FClaims.clear();
      FOutcome = TRunOutcome::Refused;
      FNotice = Texts::RefusedNotAFile + entry;
      FVoice.Fail(EFailure(FNotice));
      return false;
    }
    // A folder that is missing, or where no file can be made, is one this run cannot write
    // in either: there is nothing to claim.
  }
  return true;
}

void TRunClaims::RemoveLeftovers(const TRunFolders& folders) {
  std::vector<std::string> leftovers = {folders.Home};
  // A market without both roots is left alone, as its stocks are.
  for (const auto& [source, target] :
       {std::pair(folders.SrcPath, folders.DesPath), std::pair(folders.SzSrcPath, folders.SzDesPath)})
    if (!source.empty() && !target.empty()) {
      leftovers.push_back(source);
      leftovers.push_back(ArchiveFolder(source));
      leftovers.push_back(target);
    }
  for (const std::string& mirror : AllMirrors(folders)) leftovers.push_back(mirror);
  for (const std::string& folder : leftovers)
    if (!folder.empty()) (void)FPlatform.RemoveLeftovers(folder);
}
