#pragma once
// A run host without a form: it runs every hand-over in place and records what a form would
// have shown, in order.

#include <string>
#include <vector>

#include "UniteHost.h"

namespace testsupport {

class TRecordingHost final : public TUniteHost {
 public:
  void Synchronize(const std::function<void()>& op) override {
    ++Synchronizations;
    op();
  }
  int LogLineCount() override { return static_cast<int>(FormLog.size()); }
  void LogClear() override { FormLog.clear(); }
  void LogAdd(const std::string& line, TLineKind kind) override {
    FormLog.push_back(line);
    Kinds.push_back(kind);
    Events.push_back("log:" + line);
  }
  void Failed(const std::string& detail) override { Details.push_back(detail); }
  void SetStatus(const std::string& text) override {
    Status = text;
    StatusHistory.push_back(text);
    Events.push_back("status:" + text);
  }
  void SetTimerEnabled(bool on) override {
    TimerOn = on;
    Events.push_back(on ? "timer:on" : "timer:off");
  }
  void SetButtonEnabled(bool on) override {
    ButtonOn = on;
    Events.push_back(on ? "button:on" : "button:off");
  }
  void RunEnded() override {
    Ended = true;
    Events.push_back("ended");
  }

  std::vector<std::string> FormLog;        // lines of the form log, GBK
  std::vector<TLineKind> Kinds;            // the weight of each line added, in order
  std::vector<std::string> Details;        // failures told in plain words, GBK
  std::string Status;                      // the status text now
  std::vector<std::string> StatusHistory;  // every status text set, in order
  std::vector<std::string> Events;         // everything, in order
  bool TimerOn = true;
  bool ButtonOn = true;
  bool Ended = false;
  int Synchronizations = 0;
};

}  // namespace testsupport
