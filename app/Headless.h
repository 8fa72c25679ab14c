#pragma once
// One merge run without a form, for scheduled use and for tests that drive the real program;
// and the check of the settings (--check).

#include <iosfwd>
#include <string>

class TPlatform;

// Exit statuses of the one-run mode.
enum : int {
  kRunClean = 0,    // the run ended and reported no failure
  kRunFailed = 1,   // the run reported a failure (it set the status text), or was stopped
  kRunNotRun = 2,   // nothing ran: bad usage, no settings file or one that cannot be read,
                    // settings that configure no market, LASTFILETIME is not a date and
                    // time, or the settings would make the run write into a source root
  kRunBusy = 3,     // nothing ran: another run works on one of the same folders
};

// How output lines are written: for a terminal or a log file, or for the systemd journal,
// each line with its syslog priority ("<3>" a failure, "<4>" a warning or a file left alone,
// "<5>" the summary, "<6>" progress) and without a time stamp of its own.
enum class TOutputFormat { Plain, Journal };

struct TOnceOptions {
  // Where the run's JSON report goes (a drive path); empty: where the settings' REPORT key
  // says, none when it names no file.
  std::string ReportPath;
  // Where the run's figures go in the Prometheus text format; empty: the METRICS key's.
  std::string MetricsPath;
  // Only warnings, failures and the summary: no progress lines.
  bool Quiet = false;
  TOutputFormat Format = TOutputFormat::Plain;
};

// Reads section OPTION of the settings file as the form loads it (SRC, DES, SZSRC, SZDES,
// INDEX), checks the settings, converts LASTFILETIME as the start of a run does, then
// performs one run on the calling thread. Every line the form log would get goes to `out`;
// failures (in plain words, with where they happened), warnings about the settings and one
// summary line at the end go to `err`; all UTF-8. SIGINT and SIGTERM (on Windows Ctrl+C,
// Ctrl+Break and the closing of the console) ask the run to stop before its next stock.
// Without a settings file, or with settings that configure no market, nothing is touched:
// no run, no day log. A report and figures are written whenever a file is named for them,
// whatever became of the run; one that cannot be written turns a clean status into 1.
// Returns one of the statuses above.
int RunOnce(TPlatform& fs, std::ostream& out, std::ostream& err, const TOnceOptions& options = {});

// Tells, for a run that could not even be set up (a --home that names no folder), that
// nothing ran: the line on `err` and, when `reportPath` or `metricsPath` (drive paths) name
// files, a report and figures that say so. Returns kRunNotRun.
int NotRunAtAll(TPlatform& fs, std::ostream& err, const std::string& why, const TOnceOptions& options);

// --check: reads the settings and every folder they name, writes nothing, and prints to
// `out` what a run would do (markets, roots, mirrors, composites, indexes, where the log,
// report and figures go) and every warning. kRunClean when a run could start, kRunNotRun
// when it could not.
int CheckSettingsOnly(TPlatform& fs, std::ostream& out);

// The format for this process's output: Journal when standard output or standard error is
// the systemd journal (as JOURNAL_STREAM tells), else Plain.
TOutputFormat DefaultOutputFormat();
