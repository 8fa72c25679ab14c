// One merge run: the thread's body, the enumeration of a market's waiting stocks and their
// staging into the source tree's DATA folder. The stock merge, the composites and the index
// generation live in their own files; the run log in RunLog.cpp.

#include "uUniteThread.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "Convert.h"
#include "Failure.h"
#include "FolderListing.h"
#include "Index.h"
#include "IniFile.h"
#include "MirrorBacklog.h"
#include "Platform.h"
#include "RunReport.h"
#include "StageMark.h"
#include "Texts.h"
#include "UniteHost.h"
#include "WorkAhead.h"

namespace {

// The run objects that exist, and the signal for those waiting for the last one to go. It
// is never destroyed: a run's thread may still be ending while the program exits.
struct TLiveRuns {
  std::mutex Lock;
  std::condition_variable Changed;
  int Count = 0;
};
TLiveRuns& LiveRuns() {
  static TLiveRuns* const runs = new TLiveRuns;
  return *runs;
}

// How many stocks a run stages ahead of the one it merges: more than one, so that stocks
// whose staging is slower than their merge and stocks whose staging is quicker even out.
constexpr std::size_t kStagedAhead = 2;

// The archive folder of a source root, which holds its stocks' stages.
std::string ArchiveFolder(const std::string& source) { return source + "\\" + kArchiveFolder; }

// The stage folder of a stock: where its sections are moved and its index copied.
std::string StageFolder(const std::string& source, const std::string& code) {
  return ArchiveFolder(source) + "\\" + code;
}

// Makes sure that the folder `path` exists, creating its last level only; true when it was
// there already. A folder that neither exists nor can be made (a missing parent, a file of
// that name) is a failure, and so is a link under that name: the archive and the stages
// are real folders inside their source root, never a way out of it.
bool ForceLastLevel(TPlatform& fs, const std::string& path) {
  switch (fs.EntryKind(path)) {
    case TEntryKind::Folder: return true;
    case TEntryKind::Missing: break;
    default: throw EFailure(path + Texts::DirCreateError, 0, "mkdir", path);
  }
  const int made = fs.CreateDir(path);
  if (made == 0) return false;  // made now: there is nothing more to ask
  if (fs.EntryKind(path) != TEntryKind::Folder) throw EFailure(path + Texts::DirCreateError, made, "mkdir", path);
  return true;
}

// A name as it can stand in a log line: control characters shown as \xNN, and in a name the
// program cannot carry every byte beyond ASCII and every backslash shown so too, so that the
// line names the entry exactly and never reads as a path through folders.
std::string Printable(const std::string& dir, const TFindEntry& entry) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string name;
  for (const char c : entry.Name) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || (!entry.ExactName && (b >= 0x80 || c == '\\'))) {
      name += "\\x";
      name += kHex[b >> 4];
      name += kHex[b & 15];
    } else {
      name += c;
    }
  }
  return dir + "\\" + name;
}

// Whether `inner` (a real host path) is `outer` or lies inside it; a root ends in its
// separator.
bool SameOrInside(const std::string& inner, const std::string& outer) {
  const auto separator = [](char c) { return c == '/' || c == '\\'; };
  if (inner.empty() || outer.empty() || inner.compare(0, outer.size(), outer) != 0) return false;
  return inner.size() == outer.size() || separator(outer.back()) || separator(inner[outer.size()]);
}

}  // namespace

TUniteThread::TUniteThread(TPlatform& fs, TUniteHost& host) : FPlatform(fs), FHost(host) {
  std::lock_guard<std::mutex> guard(LiveRuns().Lock);
  ++LiveRuns().Count;
}

TUniteThread::~TUniteThread() {
  TLiveRuns& runs = LiveRuns();
  {
    std::lock_guard<std::mutex> guard(runs.Lock);
    --runs.Count;
  }
  runs.Changed.notify_all();
}

int TUniteThread::Alive() {
  std::lock_guard<std::mutex> guard(LiveRuns().Lock);
  return LiveRuns().Count;
}

bool TUniteThread::WaitUntilNoneAlive(std::chrono::milliseconds limit) {
  TLiveRuns& runs = LiveRuns();
  std::unique_lock<std::mutex> lock(runs.Lock);
  return runs.Changed.wait_for(lock, limit, [&runs] { return runs.Count == 0; });
}

void TUniteThread::Start() {
  // The thread owns the object from here on: it deletes it when the body has returned, and
  // the body's last act is telling the host so. Nothing touches `this` after the delete.
  std::thread([this] {
    Execute();
    delete this;
  }).detach();
}

void TUniteThread::Execute() { Body(); }

std::string TUniteThread::SettingsPath() { return SettingsPathFor(FPlatform.ProgramPath()); }

std::string TUniteThread::MirrorBacklogPath() { return ProgramDir(FPlatform) + "UniteMirrorRetry.txt"; }

std::vector<std::string> TUniteThread::MirrorsOf(const std::string& market) const {
  const std::string* tag = market == kMarketSh ? &kTagSh : market == kMarketSz ? &kTagSz : nullptr;
  std::vector<std::string> folders;
  if (!tag) return folders;
  for (const auto& [name, value] : FMirrors)
    if (name.find(*tag) != std::string::npos) folders.push_back(value);
  return folders;
}

void TUniteThread::Body() {
  // The archive folder of the latest market step that has begun: the status caption names it
  // whatever the failure was.
  std::string archive;

  // One market: its archive folder, then its stocks. A market without both roots is left
  // alone: an empty root would otherwise put the archive and the texts at a drive's root.
  auto market = [&](const std::string& name, const std::string& id, const std::string& source,
                    const std::string& target) {
    if (Terminated()) return;
    if (source.empty() || target.empty()) {
      if (FReport) FReport->MarketSkipped(id);
      FMessage = name + Texts::MarketNotConfigured;
      LogToForm();
      return;
    }
    archive = ArchiveFolder(source);
    ForceLastLevel(FPlatform, archive);
    FMarket = id;
    UniteMarket(source, target);
  };

  // Every stock needs the same few large buffers for a moment. Handed back to the system
  // after each stock, their pages would be faulted in afresh for the next one; kept in the
  // process for the run, they are reused. The end of the run hands them back.
#ifdef __GLIBC__
  ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 32 << 20);
#endif
  try {
    FHost.Synchronize([this] {
      FHost.SetTimerEnabled(false);
      FHost.SetButtonEnabled(false);
    });
    FTitles.clear();
    FMirrors.clear();
    TIniFile settings(FPlatform, SettingsPath());
    FMirrors = settings.ReadSectionValues(Texts::SectionMirrors);
    // Settings that are there but cannot be read are not "no mirrors": a run without them
    // would leave every mirror stale for good, since the stocks it merges are done.
    if (const int error = settings.ReadError())
      throw EFailure(Texts::CannotReadSettings + settings.FileName() + " " + settings.ReadErrorText(), error,
                     "read", settings.FileName());
    if (Prepare()) {
      if (!Terminated()) UniteIndexCodes();
      market(Texts::MarketSh, kMarketSh, FSrcPath, FDesPath);
      market(Texts::MarketSz, kMarketSz, FSzSrcPath, FSzDesPath);
    }
  } catch (const EStopped&) {
    // Asked to stop while waiting for a busy file: what was begun is left for the next run.
  } catch (...) {
    EFailure failure("Unknown failure");
    try {
      throw;
    } catch (const EFailure& e) {
      failure = e;
    } catch (const std::exception& e) {
      failure = EFailure(e.what());
    } catch (...) {
    }
    const std::string message = failure.Message();
    // It ended the run: the report counts it against the run, in the market it came from.
    if (FReport) FReport->Failed(false, FMarket, "", failure);
    // A report that cannot be logged (the log file is not writable) still shows in the
    // status text, and the run still ends properly below.
    try {
      FMessage = message;
      LogToForm();
    } catch (...) {
    }
    try {
      SetStatus(Texts::ErrorCaption + archive + Texts::DirCreateErrorCaption);
    } catch (...) {
    }
  }

  FListing.reset();
  DropSpareMark();
  try {
    FPlatform.EndOfBatch();
  } catch (...) {
  }
  // The folders are let go only now: the run has written its last byte in them.
  FClaims.clear();
  if (FReport)
    FReport->RunEnded(FOutcome, Terminated(), FOutcome == TRunOutcome::Busy ? FBusyNotice : FRefusedNotice,
                      FBacklog ? FBacklog->Waiting() : std::vector<std::pair<std::string, std::string>>());
  FBacklog.reset();
  std::vector<std::string>().swap(FTitles);
  TNameValues().swap(FMirrors);
#ifdef __GLIBC__
  ::malloc_trim(0);
  // Between runs the program goes back to handing freed memory back at once.
  ::mallopt(M_TRIM_THRESHOLD, 128 << 10);
  ::mallopt(M_MMAP_THRESHOLD, 128 << 10);
#endif
  // Each hand-over on its own, so a host that fails one still gets the others; the end of
  // the run must reach it on every path.
  try {
    FHost.Synchronize([this] { FHost.SetTimerEnabled(true); });
  } catch (...) {
  }
  try {
    FHost.Synchronize([this] { FHost.SetButtonEnabled(true); });
  } catch (...) {
  }
  try {
    FHost.Synchronize([this] { FHost.RunEnded(); });
  } catch (...) {
  }
}

bool TUniteThread::Prepare() {
  const std::string problems = SettingsProblems();
  if (!problems.empty()) {
    FOutcome = TRunOutcome::Refused;
    FRefusedNotice = Texts::SettingsRefused + problems;
    ReportFailure(FRefusedNotice);
    return false;
  }
  if (!ClaimFolders()) return false;
  RemoveLeftovers();
  FBacklog = std::make_unique<TMirrorBacklog>(FPlatform, MirrorBacklogPath());
  FBacklog->Load();
  RetryMirrorCopies();
  return true;
}

std::string TUniteThread::SettingsProblems() {
  std::vector<std::string> problems;
  for (const char letter : FPlatform.RefusedDrives())
    problems.push_back(Texts::SectionDrives + "\\" + std::string(1, letter) + Texts::NotAbsolute);

  struct TKeyed {
    std::string Key, Path;
  };
  const std::vector<TKeyed> sources = {{Texts::KeySrc, FSrcPath}, {Texts::KeySzSrc, FSzSrcPath}};
  std::vector<TKeyed> outputs = {{Texts::KeyDes, FDesPath}, {Texts::KeySzDes, FSzDesPath}};
  // Entries that name neither market are never written to: they cannot hurt a run.
  for (const auto& [name, value] : FMirrors)
    if (name.find(kTagSh) != std::string::npos || name.find(kTagSz) != std::string::npos)
      outputs.push_back({Texts::SectionMirrors + "\\" + name, value});
  for (const TKeyed& source : sources) {
    if (source.Path.empty()) continue;
    const std::string root = FPlatform.RealPath(source.Path);
    for (const TKeyed& output : outputs)
      if (!output.Path.empty() && SameOrInside(FPlatform.RealPath(output.Path), root))
        problems.push_back(output.Key + Fmt(Texts::SameOrInside, source.Key));
  }
  std::string text;
  for (const std::string& problem : problems) text += (text.empty() ? "" : Texts::ProblemSeparator) + problem;
  return text;
}

namespace {

// Whether `path` is there as something other than a plain file (a folder, a link, a FIFO).
bool IsStrangeEntry(TPlatform& fs, const std::string& path) {
  const TEntryKind kind = fs.EntryKind(path);
  return kind == TEntryKind::Folder || kind == TEntryKind::Other;
}

}  // namespace

bool TUniteThread::ClaimFolders() {
  // Every folder this run may write in: two runs sharing any one of them would take each
  // other's files away. Claimed in one order by every run, so that of two runs started at
  // once one goes on and the other gives way at its first claim.
  std::vector<std::pair<std::string, std::string>> folders;  // (real host path, drive path)
  std::vector<std::string> paths = {FSrcPath, FSzSrcPath, FDesPath, FSzDesPath};
  for (const std::string& mirror : MirrorsOf(kMarketSh)) paths.push_back(mirror);
  for (const std::string& mirror : MirrorsOf(kMarketSz)) paths.push_back(mirror);
  for (const std::string& path : paths) {
    if (path.empty()) continue;
    const std::string real = FPlatform.RealPath(path);
    if (real.empty()) continue;
    bool seen = false;
    for (const auto& f : folders) seen = seen || f.first == real;
    if (!seen) folders.emplace_back(real, path);
  }
  std::sort(folders.begin(), folders.end());
  for (const auto& [real, path] : folders) {
    std::unique_ptr<TFolderLock> lock;
    std::string holder;
    const int code = FPlatform.LockFolder(path, kRunLockName, lock, holder);
    if (code == 0) {
      FClaims.push_back(std::move(lock));
    } else if (code == kErrSharingViolation) {
      FClaims.clear();
      FOutcome = TRunOutcome::Busy;
      FBusyNotice = Texts::RunBusy + path + (holder.empty() ? "" : Fmt(Texts::RunBusyProcess, holder));
      FMessage = FBusyNotice;
      LogToForm();
      return false;
    } else if (const std::string entry = path + "\\" + kRunLockName; IsStrangeEntry(FPlatform, entry)) {
      // Someone else's entry under the claim's name would let a second run in unseen: no run
      // starts until it is put right.
      FClaims.clear();
      FOutcome = TRunOutcome::Refused;
      FRefusedNotice = Texts::RefusedNotAFile + entry;
      ReportFailure(FRefusedNotice);
      return false;
    }
    // A folder that is missing, or where no file can be made, is one this run cannot write
    // in either: there is nothing to claim.
  }
  return true;
}

void TUniteThread::RemoveLeftovers() {
  std::string home = ProgramDir(FPlatform);
  if (!home.empty()) home.pop_back();
  std::vector<std::string> folders = {home};
  // A market without both roots is left alone, as its stocks are.
  for (const auto& [source, target] : {std::pair(FSrcPath, FDesPath), std::pair(FSzSrcPath, FSzDesPath)})
    if (!source.empty() && !target.empty()) {
      folders.push_back(source);
      folders.push_back(ArchiveFolder(source));
      folders.push_back(target);
    }
  for (const std::string& mirror : MirrorsOf(kMarketSh)) folders.push_back(mirror);
  for (const std::string& mirror : MirrorsOf(kMarketSz)) folders.push_back(mirror);
  for (const std::string& folder : folders)
    if (!folder.empty()) (void)FPlatform.RemoveLeftovers(folder);
}

void TUniteThread::RetryMirrorCopies() {
  std::vector<std::string> mirrors = MirrorsOf(kMarketSh);
  for (const std::string& mirror : MirrorsOf(kMarketSz)) mirrors.push_back(mirror);
  for (const auto& [from, to] : FBacklog->Waiting()) {
    if (Terminated()) return;
    const std::size_t cut = LastPathDelimiter(to);
    const std::string folder = cut == std::string::npos ? std::string() : to.substr(0, cut);
    bool stillMirror = false;
    for (const std::string& mirror : mirrors) stillMirror = stillMirror || SameText(mirror, folder);
    // A mirror taken out of the settings, or a file that is gone, is owed nothing any more.
    if (!stillMirror || !FPlatform.FileExists(from)) {
      FBacklog->Drop(to);
      continue;
    }
    CopyToMirror(from, to);
  }
}

void TUniteThread::CopyToMirror(const std::string& from, const std::string& to) {
  const bool copied = FPlatform.CopyFileOver(from, to) == 0;
  if (FBacklog) FBacklog->Record(from, to, copied);
  if (!copied && FReport) FReport->MirrorCopyFailed(from, to);
}

void TUniteThread::Refuse(const std::string& reason, const std::string& path) {
  if (!FRefused.insert(path).second) return;
  if (FReport) FReport->Refused(reason, path);
  FMessage = reason + path;
  LogToForm();
}

bool TUniteThread::AcceptFeedEntry(const std::string& dir, const TFindEntry& entry) {
  if (IsFeedFile(entry)) return true;
  if (!entry.ExactName)
    Refuse(Texts::RefusedOddName, Printable(dir, entry));
  else
    Refuse(Texts::RefusedNotAFile, dir + "\\" + entry.Name);
  return false;
}

void TUniteThread::UniteMarket(const std::string& source, const std::string& target) {
  // The whole listing comes before the first stock is staged. The folder it read stays
  // with the market, whichever way the market ends.
  struct TDropListing {
    TUniteThread& Run;
    ~TDropListing() {
      Run.FListing.reset();
      Run.DropSpareMark();
    }
  } drop{*this};
  std::vector<std::string> files;
  ListIndexFiles(source, files);
  if (!FStageAhead || files.size() < 2) {
    for (const std::string& file : files) {
      // A stop request ends the market between two stocks; the rest wait for the next run.
      if (Terminated()) return;
      StageStock(file.substr(0, file.size() - kIndexExtension.size()), source, target);
    }
    return;
  }

  // The same steps, with a second thread taking the work nothing waits for: each stock's
  // staging moves forward to run while the stocks before it are merged, and each stock's
  // copies into the mirrors run while the merge goes on. A staging failure still ends the
  // market where it did, after the merge of the stock before: the loop waits for the
  // staging there. Declared after `drop`, the thread is done before the listing and the
  // spare mark are let go.
  TWorkAhead ahead;
  FAhead = &ahead;
  struct TForget {
    TWorkAhead*& Ahead;
    ~TForget() { Ahead = nullptr; }
  } forget{FAhead};
  const auto codeOf = [&files](std::size_t i) { return files[i].substr(0, files[i].size() - kIndexExtension.size()); };
  // Two names of one stock (they differ in case) share a stage folder: the later one is not
  // staged while the earlier one is still to be merged.
  const auto sharesStage = [&](std::size_t later, std::size_t from) {
    const std::string folder = UpperAscii(codeOf(later));
    for (std::size_t k = from; k < later; ++k)
      if (UpperAscii(codeOf(k)) == folder) return true;
    return false;
  };
  std::deque<std::uint64_t> posted;  // the staging pieces of stocks i + 1 up to `next`
  std::size_t next = 0;              // the first stock neither staged nor posted
  // A staging failure ends the market: the stocks posted after it stay in the root, as they
  // would in a run that staged in turn. Only the second thread touches this.
  bool stagingFailed = false;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (Terminated()) return;
    const std::string code = codeOf(i);
    if (next > i) {
      // The mirror copies of the stocks before may still be running behind it.
      ahead.Wait(posted.front());
      posted.pop_front();
      // A staging that found the run stopping staged nothing: this stock waits in its root.
      if (Terminated()) return;
    } else {
      // The spare mark is the stock before's: its mirror copies must be done before the mark
      // goes, so that a run killed before then merges that stock again.
      ahead.Wait();
      StageSections(code, source, std::exchange(FSpareMark, {}));
      next = i + 1;
    }
    // The spare goes with the piece, which runs after the copies of its stock.
    while (next < files.size() && next <= i + kStagedAhead && !sharesStage(next, i)) {
      posted.push_back(ahead.Post([this, stock = codeOf(next), &source, &stagingFailed,
                                   spare = std::exchange(FSpareMark, {})] {
        // Asked to stop meanwhile, or a stock before failed: the stock stays in the root, as
        // the loop would leave it, and the spare mark goes (left behind, it would have its
        // stock merged once more).
        if (Terminated() || stagingFailed) {
          if (!spare.empty()) (void)FPlatform.DeleteFile(spare);
          return;
        }
        try {
          StageSections(stock, source, spare);
        } catch (...) {
          stagingFailed = true;
          throw;
        }
      }));
      ++next;
    }
    // The index copy is the last step of staging. It runs here, on the thread that would
    // otherwise wait, since the second thread has the more work of the two.
    CopyStagingIndex(code, source);
    UniteStock(code, StageFolder(source, code), target);
  }
}

void TUniteThread::ListIndexFiles(const std::string& dir, std::vector<std::string>& list) {
  list.clear();
  // Stocks staged by an earlier run whose merge did not finish (it failed, or the program
  // was killed): their sections already lie in the stage, so they wait without section
  // files in the root and are taken up again.
  FUnfinished.clear();
  for (const TFindEntry& entry : FPlatform.FindFiles(ArchiveFolder(dir) + "\\*" + kPendingMark))
    if (IsFeedFile(entry))
      FUnfinished.insert(UpperAscii(entry.Name.substr(0, entry.Name.size() - kPendingMark.size())));
  // One search of the folder answers every question of this market's staging; a search
  // per stock would read the whole folder again for each of them.
  FListing = std::make_unique<TFolderListing>(FPlatform, dir);
  for (const TFindEntry& entry : FListing->Find("*" + kIndexExtension)) {
    if (entry.Name.size() < kIndexExtension.size()) continue;
    // Only what the feed delivered as plain files is taken; a stock with anything else
    // among its files waits, untouched, until that is put right.
    if (!AcceptFeedEntry(dir, entry)) continue;
    const std::string code = entry.Name.substr(0, entry.Name.size() - kIndexExtension.size());
    bool accepted = true;
    const std::vector<TFindEntry> sections = FindSubFiles(dir, code);
    for (const TFindEntry& section : sections) accepted = AcceptFeedEntry(dir, section) && accepted;
    if (accepted && (!sections.empty() || FUnfinished.count(UpperAscii(code)))) list.push_back(entry.Name);
  }
}

bool TUniteThread::HasSubFiles(const std::string& dir, const std::string& code) {
  return !FindSubFiles(dir, code).empty();
}

std::vector<TFindEntry> TUniteThread::FindSubFiles(const std::string& dir, const std::string& code) {
  if (FListing && FListing->Dir() == dir) return FListing->Find(code + "?.sub");
  return FPlatform.FindFiles(dir + "\\" + code + "?.sub");
}

void TUniteThread::StageStock(const std::string& code, const std::string& source,
                              const std::string& target) {
  StageSections(code, source, std::exchange(FSpareMark, {}));
  CopyStagingIndex(code, source);
  UniteStock(code, StageFolder(source, code), target);
}

void TUniteThread::StageSections(const std::string& code, const std::string& source,
                                 std::string spare) {
  CheckDataDir(code, source);
  const std::string stage = StageFolder(source, code);
  // A run killed in this stock may have left a half-made copy in its stage.
  if (FUnfinished.count(UpperAscii(code))) (void)FPlatform.RemoveLeftovers(stage);
  // Marked before the first section leaves the root, cleared by the merge once it is done:
  // whatever stops the stock in between, the next run finds it and merges it again.
  MarkPending(stage + kPendingMark, std::move(spare));
  const bool listed = FListing && FListing->Dir() == source;
  for (const TFindEntry& entry : FindSubFiles(source, code)) {
    // The listing admitted the stock only when all its files were feed files; whatever else
    // turned up since is never moved.
    if (!IsFeedFile(entry)) continue;
    const std::string from = source + "\\" + entry.Name;
    const std::string staged = stage + "\\" + entry.Name;
    // An older copy in the stage gives way to the delivered file. The move is tried first,
    // as it refuses an existing name: the stage is asked about the name only when it has one.
    int moved = FPlatform.MoveFile(from, staged);
    if (moved == kErrAlreadyExists) {
      DeleteIfExists(staged);
      moved = FPlatform.MoveFile(from, staged);
    }
    if (moved != 0) {
      // Listed, then taken away by someone else before this stock's turn: a search made now
      // would not have found it, so it is no failure of ours.
      if (moved == kErrFileNotFound && listed && !FPlatform.FileExists(from)) continue;
      throw EFailure(code + Texts::CannotMove, moved, "move", from);
    }
    if (listed) FListing->Forget(entry.Name);
  }
}

void TUniteThread::CopyStagingIndex(const std::string& code, const std::string& source) {
  // The index stays in the source root; the stage gets a copy for the merge to read. A copy
  // that fails leaves whatever copy the stage already holds.
  CopyFileOver(source + "\\" + code + kIndexExtension, StageFolder(source, code) + "\\" + code + kIndexExtension);
}

void TUniteThread::MarkPending(const std::string& mark, std::string spare) {
  if (!spare.empty()) {
    if (FPlatform.MoveFile(spare, mark) == 0) return;
    // This stock's mark is there already (a run stopped in it), or the spare went astray.
    (void)FPlatform.DeleteFile(spare);
  }
  if (const int error = FPlatform.CreateIfMissing(mark))
    throw EFailure(Texts::CannotWrite + mark, error, "create", mark);
}

void TUniteThread::DropSpareMark() noexcept {
  if (FSpareMark.empty()) return;
  std::string spare;
  spare.swap(FSpareMark);
  try {
    // The mark's stock may still have mirror copies waiting on the second thread: the mark
    // goes after them, so that a run killed before they are done merges the stock again.
    if (FAhead) {
      FAhead->Post([this, spare] {
        try {
          (void)FPlatform.DeleteFile(spare);
        } catch (...) {
          // As below: a mark left behind is one more merge, no failure of the run.
        }
      });
      return;
    }
    (void)FPlatform.DeleteFile(spare);
  } catch (...) {
    // Left behind, it costs the next run one more merge of a finished stock.
  }
}

void TUniteThread::CheckDataDir(const std::string& code, const std::string& source) {
  ForceLastLevel(FPlatform, StageFolder(source, code));
}

void TUniteThread::DeleteIfExists(const std::string& path) {
  if (!FPlatform.FileExists(path)) return;
  if (const int error = FPlatform.DeleteFile(path)) throw EFailure(Texts::CannotDelete + path, error, "delete", path);
}

void TUniteThread::CopyFileOver(const std::string& from, const std::string& to) {
  // A mirror that cannot be written is no business of the caller's.
  (void)FPlatform.CopyFileOver(from, to);
}

void TUniteThread::CopyToMirrors(const std::string& file, const std::vector<std::string>& mirrors,
                                 const std::string& name) {
  for (const std::string& mirror : mirrors) {
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
