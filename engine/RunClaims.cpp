#include "RunClaims.h"

#include <algorithm>
#include <utility>

#include "Convert.h"
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

// A setting and the folder or file it names.
struct TKeyed {
  std::string Key, Path;
};

// The host folder a real host path lies in; "" for a root.
std::string HostParent(const std::string& real) {
  const std::size_t cut = real.find_last_of("/\\");
  if (cut == std::string::npos) return {};
  const std::string parent = real.substr(0, cut);
  return parent.find_first_of("/\\") == std::string::npos ? std::string() : parent;
}

// The identities of what `path` names and of every folder above it but the root: a folder
// mounted twice leads into it under a path no text compare would place there.
std::vector<TFileIdentity> IdentityChain(TPlatform& fs, const std::string& path) {
  std::vector<TFileIdentity> chain;
  for (std::string real = fs.RealPath(path); !real.empty(); real = HostParent(real))
    if (const TFileIdentity id = fs.Identity(fs.DrivePath(real)); id.Known) chain.push_back(id);
  return chain;
}

// Whether `path` is the folder `folder` or lies inside it, by path or by identity.
bool Within(TPlatform& fs, const std::string& path, const std::string& folder) {
  if (SameOrInside(fs.RealPath(path), fs.RealPath(folder))) return true;
  const TFileIdentity outer = fs.Identity(folder);
  for (const TFileIdentity& id : IdentityChain(fs, path))
    if (id.Same(outer)) return true;
  return false;
}

// Whether two paths name one file or folder, by path or by identity. Names are looked up
// without regard to case, so two spellings of a file not made yet are one file as well.
bool SameEntry(TPlatform& fs, const std::string& a, const std::string& b) {
  return UpperAscii(fs.RealPath(a)) == UpperAscii(fs.RealPath(b)) || fs.Identity(a).Same(fs.Identity(b));
}

std::vector<TKeyed> Sources(const TRunFolders& folders) {
  return {{Texts::KeySrc, folders.SrcPath}, {Texts::KeySzSrc, folders.SzSrcPath}};
}

// The folders a run writes its texts, indexes and copies in, by their keys.
std::vector<TKeyed> Outputs(const TRunFolders& folders) {
  std::vector<TKeyed> outputs = {{Texts::KeyDes, folders.DesPath}, {Texts::KeySzDes, folders.SzDesPath}};
  // Entries that name neither market are never written to: they cannot hurt a run.
  for (const auto& [name, value] : folders.Mirrors)
    if (NamesAMarket(name)) outputs.push_back({Texts::SectionMirrors + "\\" + name, value});
  return outputs;
}

}  // namespace

TRunClaims::TRunClaims(TPlatform& fs, TRunVoice& voice) : FPlatform(fs), FVoice(voice) {}

TRunClaims::~TRunClaims() = default;

std::string SettingsProblems(TPlatform& fs, const TRunFolders& folders) {
  std::vector<std::string> problems;
  for (const char letter : fs.RefusedDrives())
    problems.push_back(Texts::SectionDrives + "\\" + std::string(1, letter) + Texts::NotAbsolute);

  const std::vector<TKeyed> sources = Sources(folders);
  const std::vector<TKeyed> outputs = Outputs(folders);
  for (const TKeyed& source : sources) {
    if (source.Path.empty()) continue;
    for (const TKeyed& output : outputs)
      if (!output.Path.empty() && Within(fs, output.Path, source.Path))
        problems.push_back(output.Key + Fmt(Texts::SameOrInside, source.Key));
  }
  // Two settings that name one folder, whatever the spelling: a run would claim it twice and
  // find itself in the way, or take one market's stocks for the other's. A source and an
  // output were told of above.
  std::vector<TKeyed> all = sources;
  all.insert(all.end(), outputs.begin(), outputs.end());
  for (std::size_t j = 0; j < all.size(); ++j)
    for (std::size_t i = 0; i < j; ++i) {
      const bool sourceAndOutput = i < sources.size() && j >= sources.size();
      if (sourceAndOutput || all[i].Path.empty() || all[j].Path.empty()) continue;
      if (SameEntry(fs, all[i].Path, all[j].Path)) {
        problems.push_back(all[j].Key + "=" + all[j].Path + Fmt(Texts::SameFolderAs, all[i].Key + "=" + all[i].Path));
        break;
      }
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
  std::vector<TFileIdentity> identities;
  std::vector<std::string> paths = {folders.SrcPath, folders.SzSrcPath, folders.DesPath, folders.SzDesPath};
  for (const std::string& mirror : AllMirrors(folders)) paths.push_back(mirror);
  for (const std::string& path : paths) {
    if (path.empty()) continue;
    const std::string real = FPlatform.RealPath(path);
    if (real.empty()) continue;
    // One folder under two paths is claimed once: a second claim would find this run's own
    // lock and take the run for another.
    const TFileIdentity identity = FPlatform.Identity(path);
    bool seen = false;
    for (const auto& c : claims) seen = seen || c.first == real;
    for (const TFileIdentity& id : identities) seen = seen || id.Same(identity);
    if (seen) continue;
    claims.emplace_back(real, path);
    identities.push_back(identity);
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
