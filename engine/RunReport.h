#pragma once
// TRunReport: what one run did, for whoever watches runs from outside (a monitoring check, an
// alert after a scheduled run). The run fills it as it goes; at the end it is written as JSON
// beside the day's log, which stays as it is. Texts are kept in GBK, as the run has them.

#include <chrono>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Clock.h"

class EFailure;
class TPlatform;
enum class TRunOutcome;

// One failure as the report tells it: where (market "1" or "2", a stock or composite code,
// both empty for a failure of the whole run), the message the log shows, the Windows error
// code, and the operation and path that failed (empty when not known).
struct TReportFailure {
  std::string Market, Code;
  std::string Message;
  int Error = 0;
  std::string Operation, Path;
};

class TRunReport final {
 public:
  // Starts the clock of the run; `start` is the local time it began.
  explicit TRunReport(const TDateTime& start);

  // --- Filled by the run. Safe from both of its threads. ---
  // The market ("1" or "2") was left alone: it has no source or no target root.
  void MarketSkipped(const std::string& market);
  void StockMerged(const std::string& market, const std::string& code);
  // A failure the run reported and went on from: of the stock or composite `code` of
  // `market` when `composite` says which, else of the run itself.
  void Failed(bool composite, const std::string& market, const std::string& code, const EFailure& failure);
  // The composite has been built, unless a failure of it was reported meanwhile.
  void CompositeDone(const std::string& market, const std::string& code);
  void MirrorCopyFailed(const std::string& from, const std::string& to);
  // A feed entry the run left alone, with the log's reason.
  void Refused(const std::string& reason, const std::string& path);
  // The run's end: how it ended, whether a stop request cut it short, why it did not start
  // (busy or refused), and the mirror copies still owed to later runs (from, to).
  void RunEnded(TRunOutcome outcome, bool stopped, const std::string& notice,
                std::vector<std::pair<std::string, std::string>> waitingCopies);

  // --- For a run that never began ---
  // Nothing ran, for `reason` (no settings, LASTFILETIME not a date and time...).
  void NotRun(const std::string& reason);
  // What the check of the settings found (a file and line, a key, the text; GBK).
  void Warned(const std::string& file, int line, const std::string& key, const std::string& text);

  // The exit status of the one-run mode for this run: 0 no failure, 1 a failure reported or
  // stopped, 2 nothing ran for its settings, 3 another run had the folders.
  int Status() const;
  // The report as JSON (UTF-8), ended at `end`. `fs` tells the host path of each file.
  std::string Json(TPlatform& fs, const TDateTime& end) const;
  // One line that says how the run went (UTF-8): its outcome and status, per market the
  // stocks merged and failed, the composites, the mirror copies owed, the files left alone,
  // the warnings about the settings and the seconds it took.
  // `status` is the exit status the run ends with (a report that could not be written
  // makes a clean run's 0 a 1).
  std::string Summary(int status) const;
  // The run's figures in the Prometheus text format, for node-exporter's textfile
  // collector. `lastSuccess` is the Unix time of the last run that ended with status 0
  // before this one (0 when none is known); a run with status 0 is the last success itself.
  std::string Metrics(double lastSuccess) const;

 private:
  struct TComposite {
    std::string Market, Code;
  };

  struct TWarning {
    std::string File;
    int Line;
    std::string Key, Text;
  };

  mutable std::mutex FLock;
  TDateTime FStart;
  std::chrono::steady_clock::time_point FClock;
  std::chrono::system_clock::time_point FStartUnix;
  std::vector<TWarning> FWarnings;
  std::vector<std::string> FSkipped;
  int FMerged[2] = {0, 0};  // Shanghai, Shenzhen
  std::vector<TReportFailure> FStockFailures, FCompositeFailures, FRunFailures;
  std::vector<TComposite> FCompositesBuilt;
  int FMirrorCopiesFailed = 0;
  std::vector<std::pair<std::string, std::string>> FWaitingCopies;
  std::vector<std::pair<std::string, std::string>> FRefused;  // reason, path
  std::string FOutcome = "ran";  // ran, stopped, busy, refused or not run
  std::string FNotice;

  int StatusLocked() const;
  double SecondsLocked() const;
  // The stocks merged and failed of a market ("1" or "2").
  int MergedLocked(const std::string& market) const;
  int FailedLocked(const std::string& market) const;
};

// Writes `report` (ended now) to `path` (a drive path) atomically. Throws EFailure.
void WriteRunReport(TPlatform& fs, const std::string& path, const TRunReport& report);
// Writes the figures of `report` to `path` (a drive path) atomically, carrying over the time
// of the last success from the file it replaces. Throws EFailure.
void WriteRunMetrics(TPlatform& fs, const std::string& path, const TRunReport& report);
// The program's version, as the report and the figures name it.
const char* ProgramVersion();
// The report file named by the value of the settings' REPORT key: a drive path or rooted
// path as every path of the settings, a relative one in the settings' folder; "" for "".
std::string ReportPathFor(TPlatform& fs, const std::string& value);
