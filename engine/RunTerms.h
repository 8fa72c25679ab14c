#pragma once
// The words of a run that every part of it shares: the markets and their tags, the folders
// and names it makes, and how a run ended.

#include <exception>
#include <optional>
#include <string>

#include "Failure.h"

// The markets as FMarket names them, and the tags by which a mirror or a composite code
// (a name in its settings section) belongs to one.
inline const std::string kMarketSh = "1";
inline const std::string kMarketSz = "2";
inline const std::string kTagSh = "SH";
inline const std::string kTagSz = "SZ";

// The folder of each source root that holds its stocks' stages: {source}\DATA\{code}.
inline const std::string kArchiveFolder = "DATA";
// The extension of the feed's section files, {code}?.sub.
inline const std::string kSectionExtension = ".sub";
// The extension of merged texts and composites; their name without it is the code.
inline const std::string kTextExtension = ".txt";
// The Shanghai code whose index is the composites' template rather than a stock.
inline const std::string kTemplateCode = "000001";
// The day logs in the program's folder: this + yyyy-mm-dd + kTextExtension.
inline const std::string kDayLogPrefix = "UniteLog";
// The mirror copies still owed to later runs, beside the day logs.
inline const std::string kMirrorBacklogName = "UniteMirrorRetry.txt";
// The hidden file through which a run claims each folder it writes in.
inline const std::string kRunLockName = ".~lorvane.run.lock";
// The operation a failure to write a line into the day's log names.
inline const std::string kLogOperation = "log";

// How a run ended, for a host that must tell its caller.
enum class TRunOutcome {
  Ran,      // the run went through (its failures, if any, were reported)
  Busy,     // another run works on one of its folders: nothing was touched
  Refused,  // its settings would turn it on its own feed, or a folder's claim is blocked by
            // a stranger's entry: nothing was touched
};

// A stop request ended a wait for a busy file: the stock or composite at hand is left as it
// stands, unreported, for the next run.
class EStopped final : public EFailure {
 public:
  EStopped() : EFailure("stopped") {}
};

// The failure an exception stands for, as a run reports it: none for a stop request, and a
// failure of its own text for anything that is no EFailure. The one place where a run tells
// its ways of ending apart.
std::optional<EFailure> FailureOf(std::exception_ptr ended);
