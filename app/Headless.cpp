#include "Headless.h"

#include <atomic>
#include <csignal>
#include <ostream>
#include <string>

#include "Convert.h"
#include "Failure.h"
#include "IniFile.h"
#include "Platform.h"
#include "ProgramFiles.h"
#include "RunReport.h"
#include "RunSettings.h"
#include "RunTexts.h"
#include "UniteHost.h"
#include "uUniteThread.h"

#ifdef _WIN32
#include <windows.h>
#undef DeleteFile
#undef MoveFile
#undef CopyFile
#endif

namespace {

// Console text: UTF-8, one line per line, whatever line ends the message carries.
std::string ConsoleText(const std::string& gbk) {
  std::string text = GbkToUtf8(gbk);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

class THeadlessHost final : public TUniteHost {
 public:
  THeadlessHost(std::ostream& out, std::ostream& err) : FOut(out), FErr(err) {}

  void Synchronize(const std::function<void()>& op) override { op(); }
  // The 200-line rule still applies to the form log this stands for; it only counts.
  int LogLineCount() override { return FLines; }
  void LogClear() override { FLines = 0; }
  void LogAdd(const std::string& line) override {
    ++FLines;
    FOut << ConsoleText(line) << '\n' << std::flush;
  }
  void SetStatus(const std::string& text) override {
    if (text.empty()) return;
    FFailed = true;
    FErr << ConsoleText(text) << '\n' << std::flush;
  }
  void SetTimerEnabled(bool) override {}
  void SetButtonEnabled(bool) override {}

  bool Failed() const { return FFailed; }

 private:
  std::ostream& FOut;
  std::ostream& FErr;
  int FLines = 0;
  bool FFailed = false;
};

std::atomic<TUniteThread*> gRunning{nullptr};

#ifdef _WIN32
// Raised when the run has ended, for a console that is being closed to wait for. Never
// destroyed before the process ends: the handler may still be waiting on it.
TStopSignal& RunEnded() {
  static TStopSignal* ended = new TStopSignal;
  return *ended;
}

// The console's control handler runs on a thread of its own, where it may block: Ctrl+C and
// Ctrl+Break ask the run to stop; closing the console, logging off and shutting down end the
// process once the handler returns, so the handler waits for the run to stop first (the
// system allows it a few seconds).
BOOL WINAPI StopRun(DWORD event) {
  TUniteThread* run = gRunning.load();
  if (!run) return FALSE;
  run->Terminate();
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
    RunEnded().Wait(4500);
  return TRUE;
}

// Ctrl+C, Ctrl+Break and the console's end ask the run to stop between stocks while this
// lives.
class TStopSignals final {
 public:
  explicit TStopSignals(TUniteThread& run) {
    (void)RunEnded();
    gRunning = &run;
    SetConsoleCtrlHandler(StopRun, TRUE);
  }
  ~TStopSignals() {
    gRunning = nullptr;
    RunEnded().Raise();
    SetConsoleCtrlHandler(StopRun, FALSE);
  }
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;
};
#else
extern "C" void StopRun(int) {
  // Only an atomic store: safe in a signal handler.
  if (TUniteThread* run = gRunning.load()) run->Terminate();
}

// SIGINT and SIGTERM ask the run to stop between stocks while this lives.
class TStopSignals final {
 public:
  explicit TStopSignals(TUniteThread& run) {
    gRunning = &run;
    struct sigaction action {};
    action.sa_handler = StopRun;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &FOldInt);
    sigaction(SIGTERM, &action, &FOldTerm);
  }
  ~TStopSignals() {
    sigaction(SIGINT, &FOldInt, nullptr);
    sigaction(SIGTERM, &FOldTerm, nullptr);
    gRunning = nullptr;
  }
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

 private:
  struct sigaction FOldInt {};
  struct sigaction FOldTerm {};
};

#endif

}  // namespace

int RunOnce(TPlatform& fs, std::ostream& out, std::ostream& err, const std::string& reportPath) {
  TRunReport report(fs.Now());
  std::string reportFile = reportPath;
  // The report, when one is wanted, whatever became of the run; a report that could not be
  // written leaves an old one that would tell of a run that is not this one.
  const auto done = [&](int status) -> int {
    if (reportFile.empty()) return status;
    try {
      WriteRunReport(fs, reportFile, report);
    } catch (const EFailure& failure) {
      err << "lorvane: cannot write the report " << fs.HostPath(reportFile) << ": "
          << ConsoleText(failure.Message()) << '\n' << std::flush;
      if (status == kRunClean) return kRunFailed;
    }
    return status;
  };
  const auto notRun = [&](const std::string& why, const std::string& prefix = "") -> int {
    err << prefix << ConsoleText(why) << '\n' << std::flush;
    report.NotRun(why);
    return done(kRunNotRun);
  };

  const std::string settings = SettingsPathFor(fs.ProgramPath());
  // A scheduled run without settings would log that no market is configured, every few
  // minutes, for ever: it says so once to whoever scheduled it, and touches nothing.
  if (!fs.FileExists(settings)) {
    // Named in the folder's own spelling: the capitals of the rule belong to the file name.
    const std::string name = settings.substr(LastPathDelimiter(settings) + 1);
    std::string folder = fs.HostPath(ProgramDir(fs));
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
    return notRun("no settings file " + Utf8ToGbk(folder) + name + " (see --help)", "lorvane: ");
  }

  THeadlessHost host(out, err);
  TUniteThread run(fs, host);
  run.FReport = &report;
  try {
    TIniFile ini(fs, settings);
    const std::string reportKey = ini.ReadString(Texts::SectionOption, Texts::KeyReport, "");
    if (reportFile.empty()) reportFile = ReportPathFor(fs, reportKey);
    // Settings that cannot be read whole are not taken as no settings at all.
    if (ini.ReadError()) return notRun(Texts::CannotReadSettings + settings + " " + ini.ReadErrorText());
    TRunSettings::Read(ini).HandTo(run);
    run.FStageAhead = true;
    CheckLastFileTime(ini, fs.Now());
  } catch (const EFailure& failure) {
    return notRun(failure.Message());
  }

  try {
    TStopSignals signals(run);
    run.Execute();
  } catch (const EFailure& failure) {
    // The run reports its own failures; one that escapes it still must not pass as success.
    err << ConsoleText(failure.Message()) << '\n' << std::flush;
    report.Failed(false, "", "", failure);
    return done(kRunFailed);
  } catch (const std::exception& failure) {
    err << failure.what() << '\n' << std::flush;
    report.Failed(false, "", "", EFailure(failure.what()));
    return done(kRunFailed);
  }
  switch (run.Outcome()) {
    case TRunOutcome::Busy:
      err << "lorvane: " << ConsoleText(run.BusyNotice()) << '\n' << std::flush;
      return done(kRunBusy);
    case TRunOutcome::Refused:
      return done(kRunNotRun);  // the run reported why on the console already
    case TRunOutcome::Ran:
      break;
  }
  if (run.Terminated()) {
    err << "lorvane: the run was stopped before its end\n" << std::flush;
    return done(kRunFailed);
  }
  return done(host.Failed() ? kRunFailed : kRunClean);
}
