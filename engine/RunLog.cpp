// The run log: every message of a run becomes one stamped line in the day's log file beside
// the program and, for LogToForm, in the form's log box. Both run on the main thread through
// the host while the worker waits, so the file and the box see the lines in the run's order.

#include <string>

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
// A platform failure comes out as the runtime's I/O text of its code.
void AppendLogLine(TPlatform& fs, const std::string& path, const std::string& line) {
  // A failed creation shows in the open that follows ("File not found").
  (void)fs.CreateIfMissing(path);
  for (int attempt = 1;; ++attempt) {
    try {
      // Only checks that the file is there and can be opened; nothing is read.
      fs.OpenShared(path).reset();
      fs.Append(path, line + "\r\n");
      return;
    } catch (const EFailure& e) {
      if (e.Code() != kErrSharingViolation || attempt >= kBusyTries)
        throw IoFailure(e.Code(), e.Operation(), e.Path().empty() ? path : e.Path());
    }
    fs.Sleep(kBusyPauseMs);
  }
}

}  // namespace

std::string DayLogPath(TPlatform& fs, const TDateTime& day) {
  return ProgramDir(fs) + "UniteLog" + IsoDate(day) + kTextExtension;
}

std::string TUniteThread::LogFilePath() { return DayLogPath(FPlatform, FPlatform.Now()); }

void TUniteThread::LogToFile() {
  FHost.Synchronize([this] {
    const std::string message = FMessage;
    const std::string line = "[" + DateTimeToStr(FPlatform.Now()) + "] " + message;
    // The clock is read again for the name: a line stamped 23:59:59 may land in the new
    // day's file, never in a file of a day that has gone.
    AppendLogLine(FPlatform, LogFilePath(), line);
  });
}

void TUniteThread::LogToForm() {
  FHost.Synchronize([this] {
    const std::string message = FMessage;
    const std::string line = "[" + DateTimeToStr(FPlatform.Now()) + "] " + message;
    // The file first: a line the file did not get does not reach the form either.
    AppendLogLine(FPlatform, LogFilePath(), line);
    if (FHost.LogLineCount() > kFormLogLimit) FHost.LogClear();
    FHost.LogAdd(line);
  });
}

void TUniteThread::SetStatus(const std::string& text) {
  FHost.Synchronize([this, &text] { FHost.SetStatus(text); });
}

void TUniteThread::ReportFailure(const std::string& message) { ReportFailure(EFailure(message)); }

void TUniteThread::ReportFailure(const EFailure& failure) {
  if (FReport) FReport->Failed(FItem.Composite, FItem.Code.empty() ? FMarket : FItem.Market, FItem.Code, failure);
  FMessage = failure.Message();
  LogToForm();
  SetStatus(Texts::ErrorCaption + failure.Message());
}

void TUniteThread::Log(const std::string& message) {
  FMessage = message;
  LogToForm();
}

void TUniteThread::Refuse(const std::string& reason, const std::string& path) {
  if (!FRefused.insert(path).second) return;
  if (FReport) FReport->Refused(reason, path);
  Log(reason + path);
}

void TUniteThread::Fail(const EFailure& failure) { ReportFailure(failure); }

TUniteThread::TItemGuard TUniteThread::Working(bool composite, const std::string& market, const std::string& code) {
  FItem = {composite, market, code};
  return TItemGuard{*this};
}
