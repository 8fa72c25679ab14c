#pragma once
// What the form's behaviour (TFormLogic) asks of a toolkit: the controls of the form, the
// desktop's dialogs and viewer, the notification area, and the main thread's event loop.
// The Qt form on Linux and the Win32 form on Windows each implement it; tests put a fake in.
//
// Every call comes on the main thread, but for Post(), which may come from any thread.
// Texts are GBK, as everywhere inside the program; host paths are UTF-8.

#include <functional>
#include <string>

// The one-line text fields of the form.
enum class TFormField {
  SrcPath,    // edSrcPath: the Shanghai source root
  SzSrcPath,  // edSzSrcPath: the Shenzhen source root
  DesPath,    // edDesPath: the Shanghai target root
  SzDesPath,  // edSzDesPath: the Shenzhen target root
  Interval,   // edInternal: the timer's minutes
};

class TFormView {
 public:
  virtual ~TFormView() = default;

  // --- Controls ---
  virtual std::string FieldText(TFormField field) = 0;
  virtual void SetFieldText(TFormField field, const std::string& text) = 0;
  // RadioButton1 ("generate indexes") is checked; RadioButton2 is its opposite.
  virtual bool MakeIndexChecked() = 0;
  // Checks RadioButton1 (on) or RadioButton2 (off), unchecking the other.
  virtual void SetMakeIndexChecked(bool on) = 0;
  // Enables or disables the execute-now button Button2.
  virtual void SetRunButtonEnabled(bool on) = 0;
  virtual bool RunButtonEnabled() = 0;
  // Enables or disables every control of the settings' side of the form.
  virtual void SetSettingsEnabled(bool on) = 0;
  // Timer1: with `running`, counts `intervalMs` afresh from now and ticks every interval
  // (TFormLogic::TimerTicked); without, stops. TFormLogic never asks for an interval of 0.
  virtual void SetTimer(bool running, int intervalMs) = 0;
  // The status text RzMStatus; an empty text shows nothing.
  virtual void SetStatus(const std::string& text) = 0;
  virtual std::string Status() = 0;
  // Draws the status text in the highlight colour (on) or its normal colour.
  virtual void SetStatusHighlighted(bool on) = 0;

  // --- The form log meLog ---
  virtual int LogLineCount() = 0;
  virtual void LogClear() = 0;
  // Adds one line at the end (a CR LF inside it starts a new line); the box shows the end.
  virtual void LogAdd(const std::string& line) = 0;

  // --- The desktop ---
  // A modal error box with a stop icon.
  virtual void ShowError(const std::string& title, const std::string& text) = 0;
  // A modal box that warns and lets the form go on.
  virtual void ShowWarning(const std::string& title, const std::string& text) = 0;
  // Asks the desktop's viewer to open the file at the host path `document`; its answer is
  // ignored.
  virtual void OpenDocument(const std::string& document) = 0;
  // The modal folder dialog titled `title`, opened at the host folder `start`: the chosen
  // host folder, or "" on Cancel.
  virtual std::string ChooseFolder(const std::string& title, const std::string& start) = 0;
  // Whether the desktop offers a notification area for the form's icon now.
  virtual bool TrayAvailable() = 0;
  // Hides the minimized form and its taskbar button, leaving only the notification icon.
  virtual void HideToTray() = 0;
  // Shows the form again from wherever it was, its taskbar button too, in front.
  virtual void RestoreWindow() = 0;
  // Puts the form back on the taskbar, minimized (the notification area has gone).
  virtual void ShowMinimized() = 0;
  // Closes the form, as the title bar's close button would.
  virtual void CloseWindow() = 0;
  virtual void HideTrayIcon() = 0;

  // --- The main thread ---
  // Runs `op` on the main thread when its event loop comes to it, after every op posted
  // before it. Safe from any thread. Once the view is being destroyed, ops still waiting are
  // dropped.
  virtual void Post(std::function<void()> op) = 0;
  // Serves the main thread's events (posted ops included) until `done` holds; `done` is
  // asked after every event. Main thread only.
  virtual void ServeUntil(const std::function<bool()>& done) = 0;
};
