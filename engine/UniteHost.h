#pragma once
// What a run needs of the program's form: its log box, status text, timer and execute-now
// button. The run calls Synchronize() and Post() from its worker thread; every other
// operation is called only from inside them, on the main thread.

#include <functional>
#include <string>

// What a line of a run's log tells, for a host that weighs its lines (a journal, a quiet
// console).
enum class TLineKind {
  Progress,  // a step of the run
  Notice,    // something the run leaves alone or cannot do, and goes on without
  Failure,   // a failure the run reported
};

class TUniteHost {
 public:
  virtual ~TUniteHost() = default;
  // Runs `op` on the main thread and returns when it is done; an exception thrown by `op`
  // is thrown again here. A host without a form (the headless run, tests) runs it in place.
  virtual void Synchronize(const std::function<void()>& op) = 0;
  // Has `op` run on the main thread after every call handed over before it, and returns at
  // once: the worker does not wait for the form to show a line. A closing form may drop
  // what it has not run yet, so `op` must hold what it needs by value. Without a form it
  // runs in place.
  virtual void Post(std::function<void()> op) { Synchronize(op); }

  // The form log: its line count, emptying it, adding one line at its end (GBK).
  virtual int LogLineCount() = 0;
  virtual void LogClear() = 0;
  virtual void LogAdd(const std::string& line, TLineKind kind) = 0;
  // A failure the run reported, in plain words with where it happened (market, stock or
  // composite, operation, host path; GBK). Told whether or not the day's log took its line.
  virtual void Failed(const std::string& detail) { (void)detail; }
  // The status text (GBK); an empty text shows nothing.
  virtual void SetStatus(const std::string& text) = 0;
  // Stops the run timer, or starts it afresh (a full interval from now).
  virtual void SetTimerEnabled(bool on) = 0;
  // Disables or enables the execute-now button.
  virtual void SetButtonEnabled(bool on) = 0;
  // The run's body has ended; it is the last call a run makes.
  virtual void RunEnded() {}
};
