// The run log: every message of a run becomes one stamped line in the day's log file beside
// the program and, for LogToForm, in the form's log box. Both run on the main thread through
// the host while the worker waits, so the file and the box see the lines in the run's order.
// A failure is told to the host besides, in plain words with where it happened.

#include <string>

#include "Convert.h"
#include "Failure.h"
#include "Platform.h"
#include "ProgramFiles.h"
#include "RunReport.h"
#include "RunTexts.h"
#include "UniteHost.h"
#include "uUniteThread.h"

namespace {

// The form log holds at most this many lines before the next one empties it.
constexpr int kFormLogLimit = 200;

// Another of the program's runs may be writing a line of its own to the same day's log (one
// that gave way to this run, a form's beside a scheduled run), holding the file for the
// moment of that write: it is waited out. A holder that keeps the file longer fails the line.
constexpr int kBusyTries = 40;
constexpr int kBusyPauseMs = 25;

// Writes one line to the day's log file. The file is opened and closed for this line alone,
// so a reader (the operator opening today's log) always sees every line written so far.
// A failure carries the runtime's I/O text of the code the open or write gave, and as its
// code the cause: a file that could not be made is "File not found" to the open that
// follows, but what the operator must mend is why it could not be made.
void AppendLogLine(TPlatform& fs, const std::string& path, const std::string& line) {
  // The day's log is there and free nearly always: the line goes at once, and only a line
  // that did not asks why (no file yet, someone holding it).
  try {
    fs.Append(path, line + "\r\n");
    return;
  } catch (const EFailure& e) {
    if (e.Code() != kErrFileNotFound && e.Code() != kErrSharingViolation)
      throw EFailure(IoErrorText(e.Code()), e.Code(), kLogOperation, path);
  }
  const int created = fs.CreateIfMissing(path);
  for (int attempt = 1;; ++attempt) {
    try {
      // Only checks that the file is there and can be opened; nothing is read.
      fs.OpenShared(path).reset();
      fs.Append(path, line + "\r\n");
      return;
    } catch (const EFailure& e) {
      if (e.Code() != kErrSharingViolation || attempt >= kBusyTries) {
        const int cause = e.Code() == kErrFileNotFound && created != 0 ? created : e.Code();
        throw EFailure(IoErrorText(e.Code()), cause, kLogOperation, path);
      }
    }
    fs.Sleep(kBusyPauseMs);
  }
}

const char* MarketWord(const std::string& market) {
  return market == kMarketSh ? "Shanghai" : market == kMarketSz ? "Shenzhen" : "";
}

}  // namespace

std::string DayLogPath(TPlatform& fs, const TDateTime& day) {
  return ProgramDir(fs) + kDayLogPrefix + IsoDate(day) + kTextExtension;
}

std::string FailureDetail(TPlatform& fs, bool composite, const std::string& market, const std::string& code,
                          const EFailure& failure) {
  const std::string host = failure.Path().empty() ? std::string() : Utf8ToGbk(fs.HostPath(failure.Path()));
  const std::string file = host.empty() ? failure.Path() : host;
  if (failure.Operation() == kLogOperation)
    return "the day's log " + file + " cannot be written: " + failure.Message() + " (" + CauseText(failure.Code()) +
           ")";
  std::string where = MarketWord(market);
  if (!code.empty()) where += std::string(where.empty() ? "" : " ") + (composite ? "composite " : "stock ") + code;
  std::string detail = (where.empty() ? "" : where + ": ") + failure.Message();
  if (!failure.Operation().empty() || !file.empty()) {
    detail += " (" + failure.Operation() + (file.empty() ? "" : " " + file);
    if (failure.Code() != 0) detail += ": " + CauseText(failure.Code());
    detail += ")";
  }
  return detail;
}

std::string TUniteThread::LogFilePath() { return DayLogPath(FPlatform, FPlatform.Now()); }

void TUniteThread::LogToFile() {
  const std::string line = "[" + DateTimeToStr(FPlatform.Now()) + "] " + FMessage;
  // The clock is read again for the name: a line stamped 23:59:59 may land in the new day's
  // file, never in a file of a day that has gone.
  AppendLogLine(FPlatform, LogFilePath(), line);
}

void TUniteThread::LogToForm() { LogToForm(TLineKind::Progress); }

void TUniteThread::LogToForm(TLineKind kind) {
  const std::string line = "[" + DateTimeToStr(FPlatform.Now()) + "] " + FMessage;
  // The file first, on this thread: while the run holds its claims nobody else writes the
  // day's log, and a line the file did not take raises its failure here, before the form
  // hears of it. The form is not waited for.
  AppendLogLine(FPlatform, LogFilePath(), line);
  FHost.Post([&host = FHost, line, kind] {
    if (host.LogLineCount() > kFormLogLimit) host.LogClear();
    host.LogAdd(line, kind);
  });
}

void TUniteThread::SetStatus(const std::string& text) {
  FHost.Post([&host = FHost, text] { host.SetStatus(text); });
}

void TUniteThread::ReportFailure(const std::string& message) { ReportFailure(EFailure(message)); }

void TUniteThread::TellFailure(const EFailure& failure) {
  const std::string market = FItem.Code.empty() ? FMarket : FItem.Market;
  if (FReport) FReport->Failed(FItem.Composite, market, FItem.Code, failure);
  const std::string detail = FailureDetail(FPlatform, FItem.Composite, market, FItem.Code, failure);
  FHost.Post([&host = FHost, detail] { host.Failed(detail); });
}

void TUniteThread::ReportFailure(const EFailure& failure) {
  const auto tell = [&] { TellFailure(failure); };
  FMessage = failure.Message();
  // A line the day's log did not take is the stock's or composite's failure only if the
  // report of it gets into the log; else it goes on to the run's end, which tells it once,
  // instead of every guard on its way counting it as a failure of its own.
  if (failure.Operation() == kLogOperation) {
    LogToForm(TLineKind::Failure);
    tell();
  } else {
    tell();
    LogToForm(TLineKind::Failure);
  }
  SetStatus(Texts::ErrorCaption + failure.Message());
}

void TUniteThread::Log(const std::string& message) {
  FMessage = message;
  LogToForm();
}

void TUniteThread::Notice(const std::string& message) {
  FMessage = message;
  LogToForm(TLineKind::Notice);
}

void TUniteThread::Refuse(const std::string& reason, const std::string& path) {
  if (!FRefused.insert(path).second) return;
  if (FReport) FReport->Refused(reason, path);
  Notice(reason + path);
}

void TUniteThread::Fail(const EFailure& failure) { ReportFailure(failure); }

TUniteThread::TItemGuard TUniteThread::Working(bool composite, const std::string& market, const std::string& code) {
  FItem = {composite, market, code};
  return TItemGuard{*this};
}
