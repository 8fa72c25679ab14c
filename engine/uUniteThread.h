#pragma once
// TUniteThread: one merge run over both markets, on a worker thread of its own. It stages
// the stocks waiting in each source root, merges their sections into texts, builds the
// market-index composites, generates indexes and logs every step through its host.

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

#include "StopSignal.h"

class TFolderListing;
class TFolderLock;
class TMirrorBacklog;
class TRunReport;
class TPlatform;
struct TDateTime;
struct TFindEntry;
class TUniteHost;
class TWorkAhead;

// The hidden file through which a run claims each folder it writes in.
inline const std::string kRunLockName = ".~lorvane.run.lock";
// The folder of each source root that holds its stocks' stages: {source}\DATA\{code}.
inline const std::string kArchiveFolder = "DATA";
// The extension of merged texts and composites; their name without it is the code.
inline const std::string kTextExtension = ".txt";
// The Shanghai code whose index is the composites' template rather than a stock.
inline const std::string kTemplateCode = "000001";
// The markets as FMarket names them, and the tags by which a mirror or a composite code
// (a name in its settings section) belongs to one.
inline const std::string kMarketSh = "1";
inline const std::string kMarketSz = "2";
inline const std::string kTagSh = "SH";
inline const std::string kTagSz = "SZ";

// A stop request ended a wait for a busy file: the stock or composite at hand is left as it
// stands, unreported, for the next run.
class EStopped final : public EFailure {
 public:
  EStopped() : EFailure("stopped") {}
};

// How a run ended, for a host that must tell its caller.
enum class TRunOutcome {
  Ran,      // the run went through (its failures, if any, were reported)
  Busy,     // another run works on one of its folders: nothing was touched
  Refused,  // its settings would turn it on its own feed, or a folder's claim is blocked by
            // a stranger's entry: nothing was touched
};

class TUniteThread {
 public:
  TUniteThread(TPlatform& fs, TUniteHost& host);
  ~TUniteThread();
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
  TRunOutcome Outcome() const { return FOutcome; }
  // Why a run that found another at work did not start (GBK), naming the folder and, when
  // it can be told, the process.
  const std::string& BusyNotice() const { return FBusyNotice; }
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
  // Staging is these two, in turn: the stock's sections into its stage folder, with its
  // pending mark made from `spare` (a finished stock's mark, or empty), which touches no part
  // of the run that the merge uses and so may run beside a merge; then a copy of its index.
  void StageSections(const std::string& code, const std::string& source, std::string spare);
  void CopyStagingIndex(const std::string& code, const std::string& source);
  void CheckDataDir(const std::string& code, const std::string& source);
  void DeleteIfExists(const std::string& path);
  void CopyFileOver(const std::string& from, const std::string& to);
  // Copies `file` into each mirror folder as `name`: in place, or on the market's second
  // thread while it has one. A copy's outcome is nobody's business but the backlog's, which
  // has a failed copy made again by later runs.
  void CopyToMirrors(const std::string& file, const std::vector<std::string>& mirrors,
                     const std::string& name);

  // --- Stock text merge ---
  void UniteStock(const std::string& code, const std::string& stageDir, const std::string& target);
  void CollectSectionText(TLines& merge, const std::string& path, const std::string& title);

  // --- Market-index composites ---
  void UniteIndexCodes();
  void UniteIndexCode(const std::string& market, const std::string& code);
  void AppendTextFile(const std::string& target, const std::string& source, const std::string& title);

  // --- Index generation ---
  void GenerateIndex(const std::string& dir, const std::string& baseName, std::uint8_t marketByte);

  // --- Run log: each runs on the main thread through the host, the worker waiting ---
  void LogToForm();  // FMessage to the day's log file, then to the form log
  void LogToFile();  // FMessage to the day's log file only
  // Sets the status text on the main thread.
  void SetStatus(const std::string& text);

  // The settings file of this program (the form uses the same rule).
  std::string SettingsPath();
  // The day's log file (DayLogPath of now).
  std::string LogFilePath();
  // The file that keeps the mirror copies still owed between runs.
  std::string MirrorBacklogPath();

  // --- Before anything is touched ---
  // What in the settings would make the run write into a source root, or resolve a drive
  // against whatever the current folder is: one text naming the keys, "" when nothing.
  std::string SettingsProblems();
  // Claims every folder the run may write in; false (and Outcome() Busy, one log line)
  // when another run holds one of them.
  bool ClaimFolders();

 private:
  // Settings checked, folders claimed, leftovers of killed runs removed, owed mirror copies
  // made: false when the run must not go on.
  bool Prepare();
  void RemoveLeftovers();
  void RetryMirrorCopies();
  // Copies `from` over `to` in a mirror, telling the backlog how it went.
  void CopyToMirror(const std::string& from, const std::string& to);
  // Logs once per run that `path` was left alone, `reason` + path.
  void Refuse(const std::string& reason, const std::string& path);
  // Whether `entry`, found in `dir`, may be taken as a feed file; logs it once when not.
  bool AcceptFeedEntry(const std::string& dir, const TFindEntry& entry);

  // The entries of {dir}\{code}?.sub: from the market's listing when it is of `dir`.
  std::vector<TFindEntry> FindSubFiles(const std::string& dir, const std::string& code);
  // Puts the pending mark of a stock in place, renaming `spare` into it when there is one
  // (Texts::CannotWrite on failure).
  void MarkPending(const std::string& mark, std::string spare);
  // Deletes the spare mark, if one is waiting (on the second thread while there is one).
  void DropSpareMark() noexcept;
  // The mirror folders of a market ("1" or "2"), in entry order.
  std::vector<std::string> MirrorsOf(const std::string& market) const;
  // Logs a failure with LogToForm and sets the status caption to ErrorCaption + message;
  // the report counts it against the stock or composite at hand, else against the run.
  void ReportFailure(const std::string& message);
  void ReportFailure(const EFailure& failure);
  // Makes the stock or composite `code` of `market` the one failures count against while
  // the returned guard lives.
  struct TItemGuard {
    TUniteThread& Run;
    ~TItemGuard() { Run.FItem = {}; }
  };
  TItemGuard Working(bool composite, const std::string& market, const std::string& code);
  void Body();

  TPlatform& FPlatform;
  TUniteHost& FHost;
  // The source folder of the market being staged, searched once by ListIndexFiles; the
  // stocks' searches are answered from it until the market ends.
  std::unique_ptr<TFolderListing> FListing;
  // The mark of the stock merged last, no longer needed: the next stock's staging renames it
  // into its own mark instead of one file being deleted and another made per stock.
  std::string FSpareMark;
  // The second thread of the market being merged, when the run stages ahead.
  TWorkAhead* FAhead = nullptr;
  TStopSignal FStop;
  TRunOutcome FOutcome = TRunOutcome::Ran;
  std::string FBusyNotice;
  std::string FRefusedNotice;  // why the settings made the run refuse to start
  // The stock or composite that failures are reported against now; no code: the run.
  struct TItem {
    bool Composite = false;
    std::string Market, Code;
  };
  TItem FItem;
  // The folders this run has claimed, for as long as it runs.
  std::vector<std::unique_ptr<TFolderLock>> FClaims;
  std::unique_ptr<TMirrorBacklog> FBacklog;
  // Paths already reported as left alone in this run: one line each per run.
  std::set<std::string> FRefused;
  // Stocks whose merge an earlier run left unfinished (upper-cased codes): their stage may
  // hold what a killed run left behind.
  std::set<std::string> FUnfinished;
};

// The title pass: the bytes of the text saved from every line of `merge` (each followed by CR
// LF), with the title line "`" + name + "`" inserted before each banner line whose following
// line (trimmed) holds a name before its first arrow.
std::string TitlePass(const TLines& merge);
// The Code field of generated records: the market byte, the code without its last four
// characters, zero bytes up to nine characters.
std::string CodeText(std::uint8_t marketByte, const std::string& baseName);
// The log file of the day of `day`: program folder + "UniteLog" + yyyy-mm-dd + ".txt".
std::string DayLogPath(TPlatform& fs, const TDateTime& day);
