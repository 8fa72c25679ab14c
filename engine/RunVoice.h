#pragma once
// What the parts of a run may tell the run: a line of its log, a file it leaves alone, a
// failure it reports. The run writes them to its day log, its form and its report; a part
// that holds state of its own (staging, the mirror copies, the claims) needs no more of it.

#include <string>

class EFailure;
class TRunReport;

class TRunVoice {
 public:
  virtual ~TRunVoice() = default;
  // One line for the day's log file and the form's log.
  virtual void Log(const std::string& message) = 0;
  // The same for something the run cannot do or leaves alone, and goes on without.
  virtual void Notice(const std::string& message) = 0;
  // `path` is left alone for `reason`: one line per run for each path, and the report's list.
  virtual void Refuse(const std::string& reason, const std::string& path) = 0;
  // A failure, reported as the run reports its failures: a log line, the status text, the
  // report, against the stock or composite at hand.
  virtual void Fail(const EFailure& failure) = 0;
  // The run's report, or null when nobody wants one.
  virtual TRunReport* Report() = 0;
};
