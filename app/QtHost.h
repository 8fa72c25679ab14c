#pragma once
// The form's side of a run: hand-overs from the worker run on the main thread through a
// blocking queued call, and the run's reports land in the form's controls.

#include "UniteHost.h"

class TfrmMain;

class TQtHost final : public TUniteHost {
 public:
  explicit TQtHost(TfrmMain& form) : FForm(form) {}

  // From the worker: runs `op` on the form's thread and waits; an exception thrown by `op`
  // is thrown again here. On the form's thread itself: runs `op` in place.
  void Synchronize(const std::function<void()>& op) override;

  int LogLineCount() override;
  void LogClear() override;
  // Adds the line at the end of meLog (CR LF inside it starts new lines) and scrolls to it.
  void LogAdd(const std::string& line) override;
  void SetStatus(const std::string& text) override;
  // On: Timer1 counts a full interval from now (an interval of 0 gives no ticks).
  void SetTimerEnabled(bool on) override;
  void SetButtonEnabled(bool on) override;
  void RunEnded() override;

 private:
  TfrmMain& FForm;
};
