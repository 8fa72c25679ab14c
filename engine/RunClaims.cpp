#include "RunClaims.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "Convert.h"
#include "Failure.h"
#include "Index.h"
#include "MirrorCopies.h"
#include "Platform.h"
#include "ProgramFiles.h"
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

// The texts the composites' template lists (drive paths), read as the run would read them;
// none when it cannot be read.
std::vector<std::string> TemplateTexts(TPlatform& fs, const std::string& srcPath) {
  std::vector<std::string> texts;
  if (srcPath.empty()) return texts;
  std::string bytes;
  try {
    bytes = ReadWholeFile(fs, srcPath + "\\" + kTemplateCode + kIndexExtension);
  } catch (const EFailure&) {
    return texts;
  }
  if (bytes.size() < sizeof(TIndexHeader)) return texts;
  TIndexHeader header;
  std::memcpy(&header, bytes.data(), sizeof header);
  const std::size_t whole = (bytes.size() - sizeof header) / sizeof(TIndexRecord);
  const std::size_t count = header.Count > 0 ? std::min<std::size_t>(header.Count, whole) : 0;
  for (std::size_t i = 0; i < count; ++i) {
    TIndexRecord record;
    std::memcpy(&record, bytes.data() + sizeof header + i * sizeof record, sizeof record);
    texts.push_back(srcPath.substr(0, 2) + FieldText(record.TextFile));
  }
  return texts;
}

}  // namespace

TRunClaims::TRunClaims(TPlatform& fs, TRunVoice& voice) : FPlatform(fs), FVoice(voice) {}

TRunClaims::~TRunClaims() = default;

namespace {

std::string OutputFileProblem(TPlatform& fs, const TRunFolders& folders, const std::string& key,
                              const std::string& path) {
  // Written into the feed, it would be taken for the feed's, or replace what the feed gave.
  for (const TKeyed& source : Sources(folders))
    if (!source.Path.empty() && Within(fs, path, source.Path)) return key + Fmt(Texts::SameOrInside, source.Key);
  // Files every run reads: the settings, the day logs and the mirror copies owed beside them,
  // and the texts the composites are joined from.
  const std::string home = ProgramDir(fs);
  std::vector<std::string> read = {SettingsPathFor(fs.ProgramPath()), home + kMirrorBacklogName};
  for (const std::string& text : TemplateTexts(fs, folders.SrcPath)) read.push_back(text);
  for (const std::string& file : read)
    if (SameEntry(fs, path, file)) return key + Fmt(Texts::ReadByTheRun, file);
  // The day logs, today's or any other day's: each is written and read by the runs of its day.
  const std::string real = fs.RealPath(path);
  const std::string name = real.substr(real.find_last_of("/\\") + 1);
  const std::string parent = HostParent(real);
  if (!parent.empty() && SameEntry(fs, fs.DrivePath(parent), home.substr(0, home.size() - 1)) &&
      MatchesMask(kDayLogPrefix + "*" + kTextExtension, Utf8ToGbk(name)))
    return key + Fmt(Texts::ReadByTheRun, home + Utf8ToGbk(name));
  // Beside the texts and indexes of a target or mirror, it would be taken for one of them,
  // or replaced by one.
  const bool textOrIndex = MatchesMask("*" + kTextExtension, name) || MatchesMask("*" + kIndexExtension, name);
  if (textOrIndex && !parent.empty())
    for (const TKeyed& output : Outputs(folders))
      if (!output.Path.empty() && SameEntry(fs, fs.DrivePath(parent), output.Path))
        return key + Fmt(Texts::AmongTheOutputs, output.Key);
  return {};
}

}  // namespace

std::vector<std::string> OutputFileProblems(TPlatform& fs, const TRunFolders& folders) {
  std::vector<std::string> problems;
  for (std::size_t j = 0; j < folders.Files.size(); ++j) {
    const auto& [key, path] = folders.Files[j];
    std::string problem = path.empty() ? std::string() : OutputFileProblem(fs, folders, key, path);
    // Two of them in one file: the one written last would be the only one there.
    for (std::size_t i = 0; i < j && problem.empty() && !path.empty(); ++i)
      if (!folders.Files[i].second.empty() && SameEntry(fs, folders.Files[i].second, path))
        problem = key + Fmt(Texts::SameFileAs, folders.Files[i].first);
    problems.push_back(problem);
  }
  return problems;
}

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
  // The files the run's starter writes when it is over.
  for (const std::string& problem : OutputFileProblems(fs, folders))
    if (!problem.empty()) problems.push_back(problem);
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
