// One merge run: the thread and its lifetime, the run's frame (its start, its steps, how it
// ended and what follows on every path) and the loop over a market's stocks.

#include "uUniteThread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "Convert.h"
#include "Failure.h"
#include "Index.h"
#include "IniFile.h"
#include "MirrorCopies.h"
#include "Platform.h"
#include "ProgramFiles.h"
#include "RunClaims.h"
#include "RunMemory.h"
#include "RunReport.h"
#include "RunTexts.h"
#include "Staging.h"
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

// Runs `op`, whatever it throws: the end of a run must reach the host on every path, and a
// host that fails one call still gets the others.
template <typename F>
void Quietly(F&& op) noexcept {
  try {
    op();
  } catch (...) {
  }
}

}  // namespace

std::optional<EFailure> FailureOf(std::exception_ptr ended) {
  try {
    std::rethrow_exception(ended);
  } catch (const EStopped&) {
    return std::nullopt;
  } catch (const EFailure& failure) {
    return failure;
  } catch (const std::exception& failure) {
    return EFailure(failure.what());
  } catch (...) {
    return EFailure("Unknown failure");
  }
}

TUniteThread::TUniteThread(TPlatform& fs, TUniteHost& host)
    : FPlatform(fs),
      FHost(host),
      FClaims(std::make_unique<TRunClaims>(fs, Voice())),
      FStaging(std::make_unique<TStaging>(fs, Voice())),
      FMirrorCopies(std::make_unique<TMirrorCopies>(fs, FMirrors, Voice())) {
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

TRunOutcome TUniteThread::Outcome() const { return FClaims->Outcome(); }

const std::string& TUniteThread::BusyNotice() const { return FClaims->Notice(); }

std::string TUniteThread::SettingsPath() { return SettingsPathFor(FPlatform.ProgramPath()); }

std::string TUniteThread::MirrorBacklogPath() { return ProgramDir(FPlatform) + kMirrorBacklogName; }

TRunFolders TUniteThread::Folders() {
  std::string home = ProgramDir(FPlatform);
  if (!home.empty()) home.pop_back();
  return TRunFolders{FSrcPath, FDesPath, FSzSrcPath, FSzDesPath, FMirrors, home, FOutputFiles};
}

// --- The run's frame ---

void TUniteThread::Body() {
  const TRunMemory memory;
  // The folders the run works in are held open from here to its end.
  FPlatform.RunBegins();
  // The market step under way when a failure ends the run.
  TMarketStep step;
  try {
    Steps(step);
  } catch (...) {
    if (const std::optional<EFailure> failure = FailureOf(std::current_exception())) ReportEnd(*failure, step);
  }
  End();
}

void TUniteThread::Steps(TMarketStep& step) {
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
    throw EFailure(Texts::CannotReadSettings + settings.FileName() + " " + settings.ReadErrorText(), error, "read",
                   settings.FileName());
  if (!FClaims->Claim(Folders())) return;
  FMirrorCopies->MakeOwedCopies(MirrorBacklogPath(), [this] { return Terminated(); });
  if (!Terminated()) UniteIndexCodes();
  Market(Texts::MarketSh, kMarketSh, FSrcPath, FDesPath, step);
  Market(Texts::MarketSz, kMarketSz, FSzSrcPath, FSzDesPath, step);
}

void TUniteThread::Market(const std::string& name, const std::string& id, const std::string& source,
                          const std::string& target, TMarketStep& step) {
  if (Terminated()) return;
  // A market without both roots is left alone: an empty root would otherwise put the archive
  // and the texts at a drive's root.
  if (source.empty() || target.empty()) {
    if (FReport) FReport->MarketSkipped(id);
    FMessage = name + Texts::MarketNotConfigured;
    LogToForm(TLineKind::Notice);
    return;
  }
  step = {id, ArchiveFolder(source)};
  ForceLastLevel(FPlatform, step.Archive);
  FMarket = id;
  UniteMarket(source, target);
}

void TUniteThread::ReportEnd(const EFailure& failure, const TMarketStep& step) {
  // It ended the run: the report counts it against the run, in the market it came from.
  if (FReport) FReport->Failed(false, step.Market, "", failure);
  Quietly([&] {
    const std::string detail = FailureDetail(FPlatform, false, step.Market, "", failure);
    FHost.Post([&host = FHost, detail] { host.Failed(detail); });
  });
  // A report that cannot be logged (the log file is not writable) still shows in the status
  // text, and the run still ends properly.
  Quietly([&] {
    FMessage = failure.Message();
    LogToForm(TLineKind::Failure);
  });
  // The caption names the market's archive whatever the failure was, but a day's log that
  // cannot be written is nothing an archive could mend: the caption names the log instead.
  const std::string caption = failure.Operation() == kLogOperation
                                  ? Texts::CannotWriteLog + failure.Path() + " " + IoErrorText(failure.Code())
                                  : step.Archive + Texts::DirCreateErrorCaption;
  Quietly([&] { SetStatus(Texts::ErrorCaption + caption); });
}

void TUniteThread::End() {
  FStaging->EndMarket();
  Quietly([this] { FPlatform.RunEnds(); });
  // The folders are let go only now: the run has written its last byte in them.
  FClaims->Release();
  if (FReport)
    FReport->RunEnded(Outcome(), Terminated(), FClaims->Notice(), FMirrorCopies->Owed());
  FMirrorCopies->EndRun();
  std::vector<std::string>().swap(FTitles);
  TNameValues().swap(FMirrors);
  Quietly([this] { FHost.Synchronize([this] { FHost.SetTimerEnabled(true); }); });
  Quietly([this] { FHost.Synchronize([this] { FHost.SetButtonEnabled(true); }); });
  Quietly([this] { FHost.Synchronize([this] { FHost.RunEnded(); }); });
}

// --- A market's stocks ---

void TUniteThread::UniteMarket(const std::string& source, const std::string& target) {
  // The whole listing comes before the first stock is staged. What the market holds goes
  // with it, whichever way the market ends.
  struct TEndMarket {
    TStaging& Staging;
    ~TEndMarket() { Staging.EndMarket(); }
  } end{*FStaging};
  std::vector<std::string> files;
  ListIndexFiles(source, files);
  if (FStageAhead && files.size() >= 2) {
    UniteMarketAhead(files, source, target);
    return;
  }
  for (const std::string& file : files) {
    // A stop request ends the market between two stocks; the rest wait for the next run.
    if (Terminated()) return;
    StageStock(file.substr(0, file.size() - kIndexExtension.size()), source, target);
  }
}

void TUniteThread::UniteMarketAhead(const std::vector<std::string>& files, const std::string& source,
                                    const std::string& target) {
  // The same steps, with a second thread taking the work nothing waits for: each stock's
  // staging moves forward to run while the stocks before it are merged, and each stock's
  // copies into the mirrors run while the merge goes on. A staging failure still ends the
  // market where it did, after the merge of the stock before: the loop waits for the
  // staging there.
  // Declared before the loan, the thread finishes what was posted to it once the loan is
  // over, and the market ends (its listing, its spare mark) only after that.
  TWorkAhead ahead;
  struct TLend {
    TStaging& Staging;
    TMirrorCopies& Mirrors;
    TLend(TStaging& s, TMirrorCopies& m, TWorkAhead* a) : Staging(s), Mirrors(m) {
      Staging.UseSecondThread(a);
      Mirrors.UseSecondThread(a);
    }
    ~TLend() {
      Staging.UseSecondThread(nullptr);
      Mirrors.UseSecondThread(nullptr);
    }
  } lend{*FStaging, *FMirrorCopies, &ahead};
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
      (void)FStaging->StageSections(code, source, FStaging->TakeSpareMark());
      next = i + 1;
    }
    // Told here, in the stock's turn, whichever thread staged it: the log reads as a run in
    // turn would write it.
    if (TellRefusal(code)) continue;
    // The spare goes with the piece, which runs after the copies of its stock.
    while (next < files.size() && next <= i + kStagedAhead && !sharesStage(next, i)) {
      posted.push_back(ahead.Post([this, stock = codeOf(next), &source, &stagingFailed,
                                   spare = FStaging->TakeSpareMark()] {
        // Asked to stop meanwhile, or a stock before failed: the stock stays in the root, as
        // the loop would leave it, and the spare mark goes (left behind, it would have its
        // stock merged once more).
        if (Terminated() || stagingFailed) {
          if (!spare.empty()) (void)FPlatform.DeleteFile(spare);
          return;
        }
        try {
          (void)FStaging->StageSections(stock, source, spare);
        } catch (...) {
          stagingFailed = true;
          throw;
        }
      }));
      ++next;
    }
    // The index copy is the last step of staging. It runs here, on the thread that would
    // otherwise wait, since the second thread has the more work of the two.
    FStaging->CopyStagingIndex(code, source);
    UniteStock(code, StageFolder(source, code), target);
  }
}

void TUniteThread::StageStock(const std::string& code, const std::string& source, const std::string& target) {
  if (!FStaging->StageSections(code, source, FStaging->TakeSpareMark())) {
    (void)TellRefusal(code);
    return;
  }
  FStaging->CopyStagingIndex(code, source);
  UniteStock(code, StageFolder(source, code), target);
}

bool TUniteThread::TellRefusal(const std::string& code) {
  std::string reason, path;
  if (!FStaging->TakeRefusal(code, reason, path)) return false;
  Refuse(reason, path);
  return true;
}

void TUniteThread::ListIndexFiles(const std::string& dir, std::vector<std::string>& list) {
  FStaging->ListIndexFiles(dir, list);
}

bool TUniteThread::HasSubFiles(const std::string& dir, const std::string& code) {
  return !FStaging->FindSubFiles(dir, code).empty();
}

void TUniteThread::CheckDataDir(const std::string& code, const std::string& source) {
  FStaging->CheckDataDir(code, source);
}

void TUniteThread::DeleteIfExists(const std::string& path) { FStaging->DeleteIfExists(path); }

void TUniteThread::CopyFileOver(const std::string& from, const std::string& to) {
  (void)FPlatform.CopyFileOver(from, to);
}
