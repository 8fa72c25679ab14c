#pragma once
// TStaging: how a market's waiting stocks are found and staged. One search of the source
// root per market answers every question of its staging; each stock's section files move
// into its stage folder {source}\DATA\{code} beside a copy of its index; a pending mark
// {source}\DATA\{code}.pending (a shortened name for a code too long for that) stands beside
// each stock from before its first section moves until its merge is done, so that a stock
// stopped half way is merged again by the next run. What the feed delivered that is no plain
// file, whose name the program cannot carry, or for which the program cannot make its stage
// under that name, is left where it is with one line per run.
//
// Used by one run; StageSections() may run on the market's second thread while the stock
// before is merged (it touches nothing the merge uses), every other call on the run's thread.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Failure.h"

class TFolderListing;
class TPlatform;
class TRunVoice;
class TWorkAhead;
struct TFindEntry;

// The extension of a stock's pending mark, beside its stage folder.
inline const std::string kPendingMark = ".pending";

// The name of a stock's pending mark: {code}.pending, or for a code too long for that to be
// a file name, the code cut short, "~", a hash of the whole code (ASCII case ignored) and
// ".pending".
std::string PendingMarkName(const std::string& code);
// The pending mark of the stock whose stage folder is `stageDir`, beside that folder.
std::string PendingMark(const std::string& stageDir);

// The archive folder of a source root, which holds its stocks' stages.
std::string ArchiveFolder(const std::string& source);
// The stage folder of a stock: where its sections are moved and its index copied.
std::string StageFolder(const std::string& source, const std::string& code);
// Makes sure that the folder `path` exists, creating its last level only; true when it was
// there already. A folder that neither exists nor can be made, or a link under its name, is
// the failure path + " 目录创建错误".
bool ForceLastLevel(TPlatform& fs, const std::string& path);

class TStaging final {
 public:
  TStaging(TPlatform& fs, TRunVoice& voice);
  ~TStaging();
  TStaging(const TStaging&) = delete;
  TStaging& operator=(const TStaging&) = delete;

  // --- A market's stocks ---
  // Empties `list`, then lists the index files of `dir` whose stocks wait: with section
  // files beside them, or marked pending by an earlier run. The folder is searched once;
  // the listing answers the market's later questions until EndMarket().
  void ListIndexFiles(const std::string& dir, std::vector<std::string>& list);
  // The entries of {dir}\{code}?.sub: from the market's listing when it is of `dir`.
  std::vector<TFindEntry> FindSubFiles(const std::string& dir, const std::string& code);
  // The stock's sections into its stage folder, its pending mark made from `spare` (a
  // finished stock's mark, or empty). Throws EFailure: a staging failure ends the run. A
  // stock for which no stage folder or mark can be made under its name (too long, or a name
  // the system does not take) is left where it is: false, and TakeRefusal() tells why.
  bool StageSections(const std::string& code, const std::string& source, std::string spare);
  // Why the staging of `code` left it where it is, told once: false when it did not. Safe
  // from either thread.
  bool TakeRefusal(const std::string& code, std::string& reason, std::string& path);
  // A copy of the stock's index into its stage folder; a copy that fails leaves whatever
  // copy the stage holds, and is remembered for the stock's merge to count it.
  void CopyStagingIndex(const std::string& code, const std::string& source);
  // The failure of the latest CopyStagingIndex, when it was of `code` and failed.
  std::optional<EFailure> IndexCopyFailure(const std::string& code) const;
  // The bytes the stock's stage index was just written with by CopyStagingIndex(), once;
  // none when it was copied as a file or not at all. On the run's thread.
  std::optional<std::string> TakeStagedIndex(const std::string& code);
  // Makes sure that the stock's stage folder exists.
  void CheckDataDir(const std::string& code, const std::string& source);
  // Deletes a file that is in the way ("无法删除文件：" + path when it cannot).
  void DeleteIfExists(const std::string& path);
  // The market is over, however it ended: its listing goes, and the spare mark with it.
  void EndMarket();

  // --- Pending marks ---
  // A run deletes no mark per stock: the mark of a stock that is done becomes the next
  // stock's. The spare mark now, for the next staging; empty when there is none.
  std::string TakeSpareMark();
  // The stock marked by `mark` is done (or is no stock): its mark is the spare now, and the
  // spare before it goes.
  void StockDone(const std::string& mark);
  // The market's second thread while it has one (null after): a spare mark dropped then goes
  // on it, after the mirror copies of its stock posted before.
  void UseSecondThread(TWorkAhead* ahead) { FAhead = ahead; }

 private:
  // Whether `entry`, found in `dir`, may be taken as a feed file; told once when not.
  bool AcceptFeedEntry(const std::string& dir, const TFindEntry& entry);
  // Puts the pending mark of a stock in place, renaming `spare` into it when there is one.
  void MarkPending(const std::string& mark, std::string spare);
  // Deletes the spare mark, if one is waiting (on the second thread while there is one).
  void DropSpareMark() noexcept;
  // Why the index at `path` looks unfinished (another program has it open for writing, or it
  // holds fewer records than its header promises); null when it does not. Read whole, the
  // index's bytes are kept for CopyStagingIndex(). A file that cannot be read is left to the
  // steps after.
  const std::string* IndexBeingWritten(const std::string& code, const std::string& path);
  // Leaves a stock the feed is still writing: the sections in `moved` (from, to) go back
  // where they were, the mark `mark` goes when this staging made it and nothing stayed
  // staged, and the refusal is kept for the stock's turn.
  void LeaveStock(const std::string& code, const std::vector<std::pair<std::string, std::string>>& moved,
                  const std::string& mark, bool markWasThere, const std::string& reason, const std::string& path);

  TPlatform& FPlatform;
  TRunVoice& FVoice;
  // The source folder of the market being staged, searched once by ListIndexFiles.
  std::unique_ptr<TFolderListing> FListing;
  // Whether an earlier run left the merge of `code` unfinished (its mark is there).
  bool Unfinished(const std::string& code) const;

  // The pending marks an earlier run left (upper-cased names): their stocks' merges were not
  // finished, and their stages may hold what a killed run left behind.
  std::set<std::string> FUnfinished;
  // Stocks left where they are by StageSections, with the reason and path to tell.
  struct TRefusal {
    std::string Reason, Path;
  };
  std::mutex FRefusalLock;
  std::map<std::string, TRefusal> FRefusals;
  // The indexes read whole by staging, not yet copied (upper-cased codes; FRefusalLock).
  std::map<std::string, std::string> FIndexBytes;
  // The stage indexes written from those bytes, for the merge (the run's thread only).
  std::map<std::string, std::string> FStagedIndexes;
  // The mark of the stock done last, no longer needed.
  std::string FSpareMark;
  // The latest index copy: its stock, its destination and its failure (0: it went through).
  std::string FCopiedCode, FCopiedTo;
  int FCopyError = 0;
  TWorkAhead* FAhead = nullptr;
};
