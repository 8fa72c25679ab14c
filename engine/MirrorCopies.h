#pragma once
// TMirrorCopies: the copies of what a run writes to a target root into the mirror folders of
// section 多路径拷贝. An entry whose name holds "SH" is a Shanghai mirror, "SZ" a Shenzhen
// one (both tags: both markets; byte for byte, so "sh" names none). A copy replaces the
// mirror's file atomically; its outcome is nobody's business but the backlog's, which keeps
// a failed copy (UniteMirrorRetry.txt beside the settings) until a later run makes it. While
// a market is merged, its copies go to the market's second thread, beside the merge.
//
// Used by one run: CopyToMirror() from either of the run's threads, the rest from the run's
// own thread.

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "IniFile.h"

class TMirrorBacklog;
class TPlatform;
class TRunVoice;
class TWorkAhead;

// The mirror folders of a market ("1" or "2") among `entries`, in entry order.
std::vector<std::string> MirrorsOf(const TNameValues& entries, const std::string& market);
// Whether an entry (of mirrors or composites) named `name` belongs to any market.
bool NamesAMarket(const std::string& name);

class TMirrorCopies final {
 public:
  // `entries`: the run's mirror entries (its FMirrors), read whenever a market's mirrors are
  // asked for.
  TMirrorCopies(TPlatform& fs, const TNameValues& entries, TRunVoice& voice);
  ~TMirrorCopies();
  TMirrorCopies(const TMirrorCopies&) = delete;
  TMirrorCopies& operator=(const TMirrorCopies&) = delete;

  std::vector<std::string> MirrorsOf(const std::string& market) const;
  // At the run's start: the copies earlier runs still owe, kept in `backlogPath`, made now
  // (until `stopping` says to stop); a mirror taken out of the settings, or a file that is
  // gone, is owed nothing any more.
  void MakeOwedCopies(const std::string& backlogPath, const std::function<bool()>& stopping);
  // Copies `file` into each mirror folder of `market` under `name`: in place, or on the
  // market's second thread while it has one.
  void CopyToMirrors(const std::string& file, const std::string& market, const std::string& name);
  // Copies `from` over `to` in a mirror now, telling the backlog how it went.
  void CopyToMirror(const std::string& from, const std::string& to);
  // The market's second thread while it has one (null after).
  void UseSecondThread(TWorkAhead* ahead) { FAhead = ahead; }
  // The copies still owed, oldest first, as (from, to).
  std::vector<std::pair<std::string, std::string>> Owed() const;
  // The run is over: the backlog is let go.
  void EndRun();

 private:
  TPlatform& FPlatform;
  const TNameValues& FEntries;
  TRunVoice& FVoice;
  std::unique_ptr<TMirrorBacklog> FBacklog;  // from MakeOwedCopies on
  TWorkAhead* FAhead = nullptr;
};
