#include "Headless.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "Convert.h"
#include "Failure.h"
#include "IniFile.h"
#include "MirrorBacklog.h"
#include "MirrorCopies.h"
#include "Platform.h"
#include "ProgramFiles.h"
#include "RunClaims.h"
#include "RunReport.h"
#include "RunSettings.h"
#include "RunTexts.h"
#include "SettingsCheck.h"
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

// Where the run's lines go, weighed: standard output gets the form log's lines, standard
// error the failures, the warnings and the summary. In the journal's format every line
// begins with its priority and carries no stamp (the journal stamps it).
class TConsole final {
 public:
  TConsole(std::ostream& out, std::ostream& err, const TOnceOptions& options)
      : FOut(out), FErr(err), FJournal(options.Format == TOutputFormat::Journal), FQuiet(options.Quiet) {}

  // A line of the form log (GBK, "[stamp] message").
  void Log(const std::string& line, TLineKind kind) {
    if (FQuiet && kind == TLineKind::Progress) return;
    if (!FJournal) {
      Write(FOut, "", line);
      return;
    }
    // The failure's own line, with where it happened, is told on standard error.
    if (kind == TLineKind::Failure) return;
    const std::size_t stamp = line.rfind('[', 0) == 0 ? line.find("] ") : std::string::npos;
    Write(FOut, kind == TLineKind::Notice ? "<4>" : "<6>", stamp == std::string::npos ? line : line.substr(stamp + 2));
  }
  void Failure(const std::string& gbk) { Write(FErr, FJournal ? "<3>lorvane: failure: " : "lorvane: failure: ", gbk); }
  void Warning(const std::string& gbk) { Write(FErr, FJournal ? "<4>lorvane: warning: " : "lorvane: warning: ", gbk); }
  // Why nothing ran, or the run ended short.
  void Error(const std::string& gbk) { Write(FErr, FJournal ? "<3>lorvane: " : "lorvane: ", gbk); }
  void Notice(const std::string& gbk) { Write(FErr, FJournal ? "<4>lorvane: " : "lorvane: ", gbk); }
  void Summary(const std::string& utf8) {
    FErr << (FJournal ? "<5>" : "") << "lorvane: " << utf8 << '\n' << std::flush;
  }

 private:
  void Write(std::ostream& stream, const char* prefix, const std::string& gbk) {
    std::string text = ConsoleText(gbk);
    // A message of several lines stays one entry of its priority in the journal.
    if (FJournal)
      for (char& c : text)
        if (c == '\n') c = ' ';
    stream << prefix << text << '\n' << std::flush;
  }

  std::ostream& FOut;
  std::ostream& FErr;
  const bool FJournal;
  const bool FQuiet;
};

class THeadlessHost final : public TUniteHost {
 public:
  explicit THeadlessHost(TConsole& console) : FConsole(console) {}

  void Synchronize(const std::function<void()>& op) override { op(); }
  // The 200-line rule still applies to the form log this stands for; it only counts.
  int LogLineCount() override { return FLines; }
  void LogClear() override { FLines = 0; }
  void LogAdd(const std::string& line, TLineKind kind) override {
    ++FLines;
    FConsole.Log(line, kind);
  }
  void Failed(const std::string& detail) override {
    FFailed = true;
    FConsole.Failure(detail);
  }
  // The status text is the form's; the failure it stands for was told as it happened.
  void SetStatus(const std::string& text) override { FFailed = FFailed || !text.empty(); }
  void SetTimerEnabled(bool) override {}
  void SetButtonEnabled(bool) override {}

  bool Failed() const { return FFailed; }

 private:
  TConsole& FConsole;
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

// A file named by a settings key (REPORT, METRICS) or given on the command line.
std::string OutputPath(TPlatform& fs, const std::string& given, TIniFile* ini, const std::string& key) {
  if (!given.empty() || !ini) return given;
  return ReportPathFor(fs, ini->ReadString(Texts::SectionOption, key, ""));
}

// Writes the report and the figures wherever files are named for them; false (with the line
// on the console) when one of them could not be written.
bool WriteOutputs(TPlatform& fs, TConsole& console, const TRunReport& report, const std::string& reportPath,
                  const std::string& metricsPath) {
  bool written = true;
  const auto write = [&](const std::string& path, const char* what, auto writer) {
    if (path.empty()) return;
    try {
      writer(fs, path, report);
    } catch (const EFailure& failure) {
      console.Error(std::string("cannot write the ") + what + " " + Utf8ToGbk(fs.HostPath(path)) + ": " +
                    failure.Message() + " (" + CauseText(failure.Code()) + ")");
      written = false;
    }
  };
  write(reportPath, "report", WriteRunReport);
  write(metricsPath, "figures", WriteRunMetrics);
  return written;
}

// The settings file as an operator finds it: its host path.
std::string HostName(TPlatform& fs, const std::string& path) {
  const std::string host = fs.HostPath(path);
  return host.empty() ? path : Utf8ToGbk(host);
}

}  // namespace

TOutputFormat DefaultOutputFormat() {
#ifdef _WIN32
  return TOutputFormat::Plain;
#else
  // "device:inode" of the stream systemd connected to the journal; a descriptor that was
  // passed on to something else no longer matches.
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (!stream || !*stream) return TOutputFormat::Plain;
  for (const int fd : {1, 2}) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) continue;
    const std::string id = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    if (id == stream) return TOutputFormat::Journal;
  }
  return TOutputFormat::Plain;
#endif
}

int NotRunAtAll(TPlatform& fs, std::ostream& err, const std::string& why, const TOnceOptions& options) {
  TConsole console(err, err, options);
  TRunReport report(fs.Now());
  report.NotRun(Utf8ToGbk(why));
  console.Error(Utf8ToGbk(why));
  WriteOutputs(fs, console, report, options.ReportPath, options.MetricsPath);
  console.Summary(report.Summary(kRunNotRun));
  return kRunNotRun;
}

int RunOnce(TPlatform& fs, std::ostream& out, std::ostream& err, const TOnceOptions& options) {
  TConsole console(out, err, options);
  TRunReport report(fs.Now());
  std::string reportPath = options.ReportPath;
  std::string metricsPath = options.MetricsPath;
  // The report and the figures, whatever became of the run; one that could not be written
  // leaves an old one that would tell of a run that is not this one.
  const auto done = [&](int status) -> int {
    if (!WriteOutputs(fs, console, report, reportPath, metricsPath) && status == kRunClean) status = kRunFailed;
    console.Summary(report.Summary(status));
    return status;
  };
  const auto notRun = [&](const std::string& why) -> int {
    console.Error(why);
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
    return notRun("no settings file " + Utf8ToGbk(folder) + name + " (see --help)");
  }

  THeadlessHost host(console);
  TUniteThread run(fs, host);
  run.FReport = &report;
  try {
    TIniFile ini(fs, settings);
    reportPath = OutputPath(fs, reportPath, &ini, Texts::KeyReport);
    metricsPath = OutputPath(fs, metricsPath, &ini, Texts::KeyMetrics);
    // Settings that cannot be read whole are not taken as no settings at all.
    if (ini.ReadError()) return notRun(Texts::CannotReadSettings + HostName(fs, settings) + " " + ini.ReadErrorText());
    const TSettingsFindings findings = CheckSettings(fs, settings);
    for (const TSettingsWarning& warning : findings.Warnings) {
      console.Warning(WarningLine(fs, settings, warning));
      report.Warned(HostName(fs, settings), warning.Line, warning.Key, warning.Text);
    }
    if (!findings.ConfiguresAMarket)
      return notRun(HostName(fs, settings) + " configures no market: a run needs SRC and DES (Shanghai) or SZSRC "
                                             "and SZDES (Shenzhen) in section [OPTION]");
    const TRunSettings roots = TRunSettings::Read(ini);
    roots.HandTo(run);
    run.FStageAhead = true;
    // A report or figures aimed at the feed, the settings or the outputs would destroy what
    // they report on: such a file is left alone and nothing runs, as for any settings that
    // turn a run on its own files.
    const auto keyOf = [](bool given, const char* option, const std::string& key) {
      return given ? std::string(option) : Texts::SectionOption + "\\" + key;
    };
    run.FOutputFiles = {{keyOf(!options.ReportPath.empty(), "--report", Texts::KeyReport), reportPath},
                        {keyOf(!options.MetricsPath.empty(), "--metrics", Texts::KeyMetrics), metricsPath}};
    const TRunFolders folders{roots.SrcPath, roots.DesPath, roots.SzSrcPath, roots.SzDesPath,
                              ini.ReadSectionValues(Texts::SectionMirrors), "", run.FOutputFiles};
    const std::vector<std::string> problems = OutputFileProblems(fs, folders);
    bool refused = false;
    for (std::size_t i = 0; i < problems.size(); ++i) {
      if (problems[i].empty()) continue;
      refused = true;
      (i == 0 ? reportPath : metricsPath).clear();
    }
    // Every problem of the settings at once, not only the files', so that one edit mends all.
    if (refused) return notRun(Texts::SettingsRefused + SettingsProblems(fs, folders));
    try {
      CheckLastFileTime(ini, fs.Now());
    } catch (const EFailure& failure) {
      return notRun(HostName(fs, settings) + ", " + Texts::SectionOption + "\\" + Texts::KeyLastFileTime + ": " +
                    failure.Message());
    }
  } catch (const EFailure& failure) {
    return notRun(failure.Message());
  }

  try {
    TStopSignals signals(run);
    run.Execute();
  } catch (const std::exception& failure) {
    // The run reports its own failures; one that escapes it still must not pass as success.
    const EFailure escaped = dynamic_cast<const EFailure*>(&failure) ? *dynamic_cast<const EFailure*>(&failure)
                                                                     : EFailure(failure.what());
    console.Failure(escaped.Message());
    report.Failed(false, "", "", escaped);
    return done(kRunFailed);
  }
  switch (run.Outcome()) {
    case TRunOutcome::Busy:
      console.Notice(run.BusyNotice());
      return done(kRunBusy);
    case TRunOutcome::Refused:
      return done(kRunNotRun);  // the run told why already
    case TRunOutcome::Ran:
      break;
  }
  if (run.Terminated()) {
    console.Error("the run was stopped before its end");
    return done(kRunFailed);
  }
  return done(host.Failed() ? kRunFailed : kRunClean);
}
