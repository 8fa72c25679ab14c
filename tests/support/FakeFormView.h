#pragma once
// A form view without a toolkit, for tests of the form's behaviour (TFormLogic): it keeps
// what the behaviour shows in plain members, records what it asks of the desktop and of the
// window, and answers the folder dialog and the notification area's presence as the test
// scripts them. The test's thread is its main thread: Post() only queues, ServeUntil() runs
// what was queued there.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "FormView.h"

namespace testsupport {

class TFakeFormView final : public TFormView {
 public:
  using TBox = std::pair<std::string, std::string>;  // title, text (or start folder)

  std::string FieldText(TFormField field) override { return Fields[field]; }
  void SetFieldText(TFormField field, const std::string& text) override { Fields[field] = text; }
  bool MakeIndexChecked() override { return MakeIndexOn; }
  void SetMakeIndexChecked(bool on) override { MakeIndexOn = on; }
  void SetRunButtonEnabled(bool on) override {
    RunButtonOn = on;
    Event(on ? "button:on" : "button:off");
  }
  bool RunButtonEnabled() override { return RunButtonOn; }
  void SetSettingsEnabled(bool on) override { SettingsOn = on; }
  void SetTimer(bool running, int intervalMs) override {
    TimerOn = running;
    TimerMs = intervalMs;
    if (running) ++TimerStarts;
    Event(running ? "timer:" + std::to_string(intervalMs) : "timer:off");
  }
  void SetStatus(const std::string& text) override {
    StatusText = text;
    Event("status");
  }
  std::string Status() override { return StatusText; }
  void SetStatusHighlighted(bool on) override { Highlighted = on; }

  int LogLineCount() override { return static_cast<int>(Log.size()); }
  void LogClear() override {
    Log.clear();
    Event("log cleared");
  }
  void LogAdd(const std::string& line) override {
    // As the form's box counts them: a CR LF, a CR or an LF starts a new line.
    std::size_t start = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] != '\r' && line[i] != '\n') continue;
      Log.push_back(line.substr(start, i - start));
      if (line[i] == '\r' && i + 1 < line.size() && line[i + 1] == '\n') ++i;
      start = i + 1;
    }
    Log.push_back(line.substr(start));
    Event("log");
  }

  void ShowError(const std::string& title, const std::string& text) override { Errors.emplace_back(title, text); }
  void ShowWarning(const std::string& title, const std::string& text) override { Warnings.emplace_back(title, text); }
  void OpenDocument(const std::string& document) override { Opened.push_back(document); }
  std::string ChooseFolder(const std::string& title, const std::string& start) override {
    Chooser.emplace_back(title, start);
    return ChooserAnswer;
  }
  bool TrayAvailable() override { return Tray; }
  void HideToTray() override { Window.push_back("hidden to tray"); }
  void RestoreWindow() override { Window.push_back("restored"); }
  void ShowMinimized() override { Window.push_back("shown minimized"); }
  void CloseWindow() override { Window.push_back("closed"); }
  void HideTrayIcon() override { Window.push_back("tray icon hidden"); }

  void Post(std::function<void()> op) override {
    std::lock_guard<std::mutex> lock(FLock);
    FQueue.push_back(std::move(op));
    FPosted.notify_one();
  }
  // Runs what was posted, in order, until `done` holds; waits for posts meanwhile (a wait
  // that nothing ends is the test's timeout to report).
  void ServeUntil(const std::function<bool()>& done) override {
    while (!done()) {
      std::function<void()> op;
      {
        std::unique_lock<std::mutex> lock(FLock);
        FPosted.wait(lock, [this] { return !FQueue.empty(); });
        op = std::move(FQueue.front());
        FQueue.pop_front();
      }
      op();
    }
  }

  // Main thread only, like every call above but Post().
  std::map<TFormField, std::string> Fields;  // GBK
  bool MakeIndexOn = false;                  // RadioButton2 is checked at first
  bool RunButtonOn = true;
  bool SettingsOn = true;
  bool TimerOn = false;
  int TimerMs = 0;
  int TimerStarts = 0;  // each start counts a full interval afresh
  std::string StatusText;
  bool Highlighted = false;
  std::vector<std::string> Log;     // the form log's lines
  // "timer:<ms>", "timer:off", "button:on|off", "status", "log", "log cleared", in order.
  std::vector<std::string> Events;
  std::atomic<int> ForeignCalls{0};  // of the calls above, those made off the main thread
  std::vector<TBox> Errors, Warnings;
  std::vector<std::string> Opened;  // host paths
  std::vector<TBox> Chooser;        // title, start folder
  std::string ChooserAnswer;        // "" answers Cancel
  bool Tray = true;                 // the desktop offers a notification area
  std::vector<std::string> Window;  // what was asked of the window, in order

 private:
  void Event(std::string event) {
    if (std::this_thread::get_id() != FMainThread) ++ForeignCalls;
    Events.push_back(std::move(event));
  }

  const std::thread::id FMainThread = std::this_thread::get_id();  // the thread that made the view
  std::mutex FLock;
  std::condition_variable FPosted;
  std::deque<std::function<void()>> FQueue;  // dropped with the view when never served
};

}  // namespace testsupport
