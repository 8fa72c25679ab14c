#pragma once
// One merge run without a form, for scheduled use and for tests that drive the real program.

#include <iosfwd>

class TPlatform;

// Exit statuses of the one-run mode.
enum : int {
  kRunClean = 0,    // the run ended and reported no failure
  kRunFailed = 1,   // the run reported a failure (it set the status text), or was stopped
  kRunNotRun = 2,   // nothing ran: bad usage, LASTFILETIME is not a date and time, or the
                    // settings would make the run write into a source root
  kRunBusy = 3,     // nothing ran: another run works on one of the same folders
};

// Reads section OPTION of the settings file as the form loads it (SRC, DES, SZSRC, SZDES,
// INDEX), converts LASTFILETIME as the start of a run does, then performs one run on the
// calling thread. Every line the form log would get goes to `out`, every status text to
// `err`, both as UTF-8. SIGINT and SIGTERM (on Windows Ctrl+C, Ctrl+Break and the closing of
// the console) ask the run to stop before its next stock.
// Returns one of the statuses above.
int RunOnce(TPlatform& fs, std::ostream& out, std::ostream& err);
