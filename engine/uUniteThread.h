#pragma once
// TUniteThread: one merge run over both markets, on a worker thread of its own. It builds
// the market-index composites, stages the stocks waiting in each source root, merges their
// sections into texts, generates indexes and logs every step through its host.
//
// The run's own state lies with small owners, each in its own file: the claims on its
// folders and the settings it refuses (RunClaims), the staging of a market's stocks and
// their pending marks (Staging), the copies into the mirrors and the copies still owed
// (MirrorCopies). This class keeps the run context, the thread, the run's frame, the market
// loop, and the merge, composite, index and log operations that use the context.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Failure.h"
#include "IniFile.h"
#include "Lines.h"
#include "RunTerms.h"
#include "RunVoice.h"
#include "StopSignal.h"
#include "UniteHost.h"

class TMirrorCopies;
class TPlatform;
class TRunClaims;
class TRunReport;
class TStaging;
class TUniteHost;
struct TDateTime;
struct TRunFolders;

class TUniteThread final : private TRunVoice {
 public:
  TUniteThread(TPlatform& fs, TUniteHost& host);
  ~TUniteThread() override;
  TUniteThread(const TUniteThread&) = delete;
  TUniteThread& operator=(const TUniteThread&) = delete;

  // --- The run context. The starter fills these before Start() and leaves them alone. ---
  std::string FMessage;               // the text of the next log call
  std::vector<std::string> FTitles;   // titles collected for the text being merged
  TNameValues FMirrors;               // section 多路径拷贝: name = mirror folder
  std::string FSrcPath;               // Shanghai source root (SRC)
  std::string FDesPath;               // Shanghai target root (DES)
  std::string FSzSrcPath;             // Shenzhen source root (SZSRC)
  std::string FSzDesPath;             // Shenzhen target root (SZDES)
  bool FMakeIndex = false;            // indexes are generated
  // The next stocks are staged, and the mirror copies made, on a second thread while the
  // current stock is merged. The files, the log and the outcomes are those of a run without
  // it; only the order in which the stocks' file operations interleave differs (tests that
  // count operations leave it off).
  bool FStageAhead = false;
  std::string FMarket;                // "", then "1" (Shanghai), then "2" (Shenzhen)
  // Where the run tells what it did, for the report written after it; none when null. It
  // must outlive the run's body.
  TRunReport* FReport = nullptr;
  // The files the starter writes when the run is over (the report, the figures), each by the
  // setting or option that names it: the run is refused when one would overwrite what runs
  // read or write (OutputFileProblems), as for settings that turn it on its own feed.
  TNameValues FOutputFiles;

  // Runs Execute() on a thread of its own; the object deletes itself when the body returns,
  // so it must have been made with new and must not be touched after Start() by anyone who
  // has not been told by TUniteHost::RunEnded() that it still lives.
  void Start();
  // The body: one whole run on the calling thread (the headless run and tests use it).
  void Execute();
  // Asks the run to stop before its next stock or composite, and cuts short a busy-file
  // wait under way. Safe from any thread and from a signal handler.
  void Terminate() noexcept { FStop.Raise(); }
  bool Terminated() const { return FStop.Raised(); }
  TRunOutcome Outcome() const;
  // Why a run that found another at work did not start (GBK), naming the folder and, when
  // it can be told, the process.
  const std::string& BusyNotice() const;
  // How many run objects exist now: a run started with Start() is gone once its thread has
  // released it (a closing form, and tests, can wait for this to reach zero).
  static int Alive();
  // Waits until no run object exists, for at most `limit`; false when one still did.
  static bool WaitUntilNoneAlive(std::chrono::milliseconds limit);

  // --- Staging (one market at a time) ---
  void UniteMarket(const std::string& source, const std::string& target);
  void ListIndexFiles(const std::string& dir, std::vector<std::string>& list);
  bool HasSubFiles(const std::string& dir, const std::string& code);
  void StageStock(const std::string& code, const std::string& source, const std::string& target);
  void CheckDataDir(const std::string& code, const std::string& source);
  void DeleteIfExists(const std::string& path);
  // Copies a file over another; the outcome is nobody's business.
  void CopyFileOver(const std::string& from, const std::string& to);

  // --- Stock text merge ---
  void UniteStock(const std::string& code, const std::string& stageDir, const std::string& target);
  void CollectSectionText(TLines& merge, const std::string& path, const std::string& title);

  // --- Market-index composites ---
  void UniteIndexCodes();
  void UniteIndexCode(const std::string& market, const std::string& code);
  void AppendTextFile(const std::string& target, const std::string& source, const std::string& title);

  // --- Index generation ---
  // `written`: the text's bytes, when this run has just written them under its claim; the
  // text is then not read back.
  void GenerateIndex(const std::string& dir, const std::string& baseName, std::uint8_t marketByte,
                     std::string* written = nullptr);

  // --- Run log: each runs on the main thread through the host, the worker waiting ---
  void LogToForm();  // FMessage to the day's log file, then to the form log
  void LogToFile();  // FMessage to the day's log file only
  // LogToForm() of a line of the given weight, for a host that weighs them.
  void LogToForm(TLineKind kind);
  // Sets the status text on the main thread.
  void SetStatus(const std::string& text);

  // The settings file of this program (the form uses the same rule).
  std::string SettingsPath();
  // The day's log file (DayLogPath of now).
  std::string LogFilePath();
  // The file that keeps the mirror copies still owed between runs.
  std::string MirrorBacklogPath();

 private:
  // --- TRunVoice: what the run's owners may tell it ---
  void Log(const std::string& message) override;
  void Notice(const std::string& message) override;
  void Refuse(const std::string& reason, const std::string& path) override;
  void Fail(const EFailure& failure) override;
  TRunReport* Report() override { return FReport; }
  TRunVoice& Voice() { return *this; }

  void Body();
  // The latest market step that has begun: its market and its archive folder, which the
  // status caption names whatever the failure that ended the run was.
  struct TMarketStep {
    std::string Market, Archive;
  };
  // The run's steps, from reading the mirrors to the last market.
  void Steps(TMarketStep& step);
  // One market: its archive folder, then its stocks.
  void Market(const std::string& name, const std::string& id, const std::string& source,
              const std::string& target, TMarketStep& step);
  // The market's stocks with the second thread staging ahead and making the mirror copies.
  void UniteMarketAhead(const std::vector<std::string>& files, const std::string& source,
                        const std::string& target);
  // A stock its staging left where it is, told in its turn: false when it was staged.
  bool TellRefusal(const std::string& code);
  // The failure that ended the run, told: its message logged, the status caption set.
  void ReportEnd(const EFailure& failure, const TMarketStep& step);
  // The run is over: what it held is let go and the host is told, on every path.
  void End();
  TRunFolders Folders();

  // Logs a failure with LogToForm and sets the status caption to ErrorCaption + message;
  // the report counts it against the stock or composite at hand, else against the run.
  void ReportFailure(const std::string& message);
  void ReportFailure(const EFailure& failure);
  // Only the report and the host's account of failures hear of it: the day's log, the form
  // log and the status text do not.
  void TellFailure(const EFailure& failure);
  // Makes the stock or composite `code` of `market` the one failures count against while
  // the returned guard lives.
  struct TItemGuard {
    TUniteThread& Run;
    ~TItemGuard() { Run.FItem = {}; }
  };
  TItemGuard Working(bool composite, const std::string& market, const std::string& code);

  TPlatform& FPlatform;
  TUniteHost& FHost;
  TStopSignal FStop;
  // The stock or composite that failures are reported against now; no code: the run.
  struct TItem {
    bool Composite = false;
    std::string Market, Code;
  };
  TItem FItem;
  // Paths already reported as left alone in this run: one line each per run.
  std::set<std::string> FRefused;
  std::unique_ptr<TRunClaims> FClaims;
  std::unique_ptr<TStaging> FStaging;
  std::unique_ptr<TMirrorCopies> FMirrorCopies;
};

// The title pass: the bytes of the text saved from every line of `merge` (each followed by CR
// LF), with the title line "`" + name + "`" inserted before each banner line whose following
// line (trimmed) holds a name before its first arrow.
std::string TitlePass(const TLines& merge);
// The Code field of generated records: the market byte, the code without its last four
// characters, zero bytes up to nine characters.
std::string CodeText(std::uint8_t marketByte, const std::string& baseName);
// A failure in plain words for an operator (GBK): the market, the stock or composite, the
// message, the operation and the host path with the cause of its error code.
std::string FailureDetail(TPlatform& fs, bool composite, const std::string& market, const std::string& code,
                          const EFailure& failure);
// The log file of the day of `day`: program folder + "UniteLog" + yyyy-mm-dd + ".txt".
std::string DayLogPath(TPlatform& fs, const TDateTime& day);
