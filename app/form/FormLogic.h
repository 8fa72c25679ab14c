#pragma once
// TFormLogic: the behaviour of the program's form, whatever toolkit draws it. It loads and
// saves section OPTION of the settings file, starts merge runs from the timer and the
// execute-now button, hands a run's log and status to the form, opens the day's log from the
// status text, hides the minimized form in the notification area and waits for a run when
// the form closes. The form's controls are reached only through its TFormView.
//
// Main thread only: the thread that made it. A run's worker reaches it through its host,
// which hands every call over to the main thread.

#include <functional>
#include <memory>
#include <string>

#include "FormView.h"

class TFormHost;
class TIniFile;
class TPlatform;
class TRunReport;
class TUniteThread;

class TFormLogic final {
 public:
  // The period of the status text's blinking.
  static constexpr int kBlinkMs = 500;
  // The interval of the timer before the settings give one (it runs from the form's start).
  static constexpr int kFirstIntervalMs = 1000;

  // `fs` and `view` must outlive the logic. Nothing is loaded until FormCreate().
  TFormLogic(TPlatform& fs, TFormView& view);
  // Waits for a run in progress to finish its current stock first.
  ~TFormLogic();
  TFormLogic(const TFormLogic&) = delete;
  TFormLogic& operator=(const TFormLogic&) = delete;

  // --- Events from the view. Each runs its handler and shows a failure in the error box. ---
  void Created();                      // the form has been made: FormCreate
  void TimerTicked();                  // Timer1
  void RunNowClicked();                // Button2
  void SaveClicked();                  // Button1
  void IndexChoiceClicked(bool make);  // RadioButton1 (true) or RadioButton2 (false)
  void StatusClicked();                // RzMStatus
  void BrowseClicked(TFormField field);  // a directory field's button, or Alt+Down in it
  // A character typed into a directory field: what the field takes instead (0 for nothing).
  char16_t DirectoryKeyTyped(TFormField field, char16_t key);
  void BlinkTicked();                  // every kBlinkMs
  void Minimized();
  void TrayDoubleClicked();
  // The notification area went away or came back while the form may be hidden in it.
  void TrayChanged();
  // The form is asked to close: false when it must stay (a close already under way).
  bool CloseRequested();

  // --- The form's handlers. They throw EFailure; the events above show it. ---
  void FormCreate();
  void FormClose();
  void Button1Click();
  void Timer1Timer();
  void edSrcPathKeyPress(char16_t& key);
  void RadioButton1Click();
  void RadioButton2Click();
  void RzMStatusClick();
  void edDirectoryBrowse(TFormField field);

  // --- State, as the handlers left it ---
  const std::string& SrcPath() const { return FSrcPath; }
  const std::string& DesPath() const { return FDesPath; }
  const std::string& SzSrcPath() const { return FSzSrcPath; }
  const std::string& SzDesPath() const { return FSzDesPath; }
  bool MakeIndex() const { return FMakeIndex; }
  // A run is in progress.
  bool Running() const { return FUniteThread != nullptr; }
  // Timer1 is switched on (it ticks only with an interval above 0).
  bool TimerEnabled() const { return FTimerOn; }
  int TimerIntervalMs() const { return FIntervalMs; }
  bool Closing() const { return FClosing; }
  // The program's title, for the boxes and the taskbar.
  std::string Title();

  // --- What a run does to the form (through its host, on the main thread) ---
  void SetTimerEnabled(bool on);
  void RunFinished();

 private:
  // Runs a handler; a failure ends it and is shown in the error box.
  void Guarded(const std::function<void()>& handler, bool fromTimer = false);
  void ShowFailure(const std::string& message);
  // What the check of the settings file found, in one box.
  void ShowSettingsWarnings();
  // The form's copy of the root a directory field edits.
  std::string& RootPath(TFormField field);
  void StartUnite();
  void SetTimerInterval(int ms);
  void ApplyTimer();
  // Asks a run in progress to stop and serves its hand-overs until it has ended.
  void WaitForRun();

  TPlatform& FPlatform;
  TFormView& FView;
  std::unique_ptr<TFormHost> FHost;

  std::unique_ptr<TIniFile> FIniFile;
  std::string FSrcPath;
  std::string FDesPath;
  std::string FSzSrcPath;
  std::string FSzDesPath;
  bool FMakeIndex = false;
  TUniteThread* FUniteThread = nullptr;

  bool FTimerOn = true;                  // Timer1 runs from creation...
  int FIntervalMs = kFirstIntervalMs;    // ...with its first interval, until the settings say
  bool FClosing = false;
  bool FErrorBoxOpen = false;
  bool FBlinkPhase = false;
  bool FHiddenInTray = false;
  // The report of the run in progress and where it goes, when the settings name a file.
  std::unique_ptr<TRunReport> FRunReport;
  std::string FRunReportPath;
};

// The text of the error box for a failure's message: a "." is added when the last byte sorts
// after "." (so a message ending in "." or "!" gets none).
std::string ErrorBoxText(const std::string& message);

// The timer interval for a number of minutes: 0 (no timed runs) for 0 or less, capped at the
// longest interval the timer can count.
int MinutesToIntervalMs(long long minutes);

// Whether the form saves `text` as the interval: a whole number of minutes from 0 (no timed
// runs) to 35791, the longest interval the timer can count, digits alone around blanks.
bool IsIntervalText(const std::string& text);
