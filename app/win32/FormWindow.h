#pragma once
// TFormWindow: the program's form on Windows, drawn with the Win32 API and its common
// controls. Its behaviour is TFormLogic's, as the Qt form's is; this class is the view: it
// lays out the controls, passes their events to the logic and does what the logic asks.
// Main thread only, but for Post().

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FormLogic.h"
#include "FormView.h"

class TPlatform;

class TFormWindow final : public TFormView {
 public:
  // Makes the window (hidden) and its controls, then loads the settings (FormCreate); a
  // failure while loading is shown and the form is made all the same. `fs` must outlive
  // the form.
  explicit TFormWindow(TPlatform& fs);
  // Waits for a run in progress to finish its current stock first.
  ~TFormWindow() override;
  TFormWindow(const TFormWindow&) = delete;
  TFormWindow& operator=(const TFormWindow&) = delete;

  // Shows the form as the program was asked to start (normal, or minimized from a
  // shortcut) and serves its events until it is closed: the exit status.
  int Run();

  // --- TFormView ---
  std::string FieldText(TFormField field) override;
  void SetFieldText(TFormField field, const std::string& text) override;
  bool MakeIndexChecked() override;
  void SetMakeIndexChecked(bool on) override;
  void SetRunButtonEnabled(bool on) override;
  bool RunButtonEnabled() override;
  void SetSettingsEnabled(bool on) override;
  void SetTimer(bool running, int intervalMs) override;
  void SetStatus(const std::string& text) override;
  std::string Status() override;
  void SetStatusHighlighted(bool on) override;
  int LogLineCount() override;
  void LogClear() override;
  void LogAdd(const std::string& line) override;
  void ShowError(const std::string& title, const std::string& text) override;
  void ShowWarning(const std::string& title, const std::string& text) override;
  void OpenDocument(const std::string& document) override;
  std::string ChooseFolder(const std::string& title, const std::string& start) override;
  bool TrayAvailable() override;
  void HideToTray() override;
  void RestoreWindow() override;
  void ShowMinimized() override;
  void CloseWindow() override;
  void HideTrayIcon() override;
  void Post(std::function<void()> op) override;
  void ServeUntil(const std::function<bool()>& done) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK DirectoryFieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam,
                                             UINT_PTR id, DWORD_PTR data);
  LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT DirectoryFieldMessage(HWND field, TFormField role, UINT message, WPARAM wParam, LPARAM lParam);
  void Command(int id, int code);
  void Dispatch(MSG& message);

  void BuildControls();
  HWND Child(const wchar_t* windowClass, const std::wstring& text, DWORD style, int id, DWORD exStyle = 0);
  // The controls' font and places for the window's DPI and size: the log box and the path
  // fields take what the form has beyond its first size.
  void ApplyDpi(UINT dpi);
  void LayOut();
  int Scaled(int pixels) const;
  HWND Field(TFormField field) const;

  // The log box draws once a frame: the lines of a frame are kept here and go in together.
  void BeginLogFrame();
  void EndLogFrame();
  void EndOverdueLogFrame();

  void ServePosts();

  void AddTrayIcon();
  void ShowTrayMenu();

  std::unique_ptr<TFormLogic> FLogic;
  HWND FWindow = nullptr;
  UINT FDpi = 96;
  HFONT FFont = nullptr;
  HICON FIconLarge = nullptr;
  HICON FIconSmall = nullptr;

  HWND FLog = nullptr;
  RECT FLogPanel{};  // the log's panel, whose bevel the form draws
  HWND FSrcPath = nullptr;
  HWND FSzSrcPath = nullptr;
  HWND FDesPath = nullptr;
  HWND FSzDesPath = nullptr;
  HWND FBrowse[4] = {};  // the directory fields' browse buttons, in the fields' order
  HWND FInterval = nullptr;
  HWND FMakeIndex = nullptr;
  HWND FNoIndex = nullptr;
  HWND FRunNow = nullptr;
  HWND FSave = nullptr;
  HWND FStatus = nullptr;
  HWND FLabels[6] = {};
  // The settings' side of the form, every control on it, for SetSettingsEnabled().
  std::vector<HWND> FSettingsControls;
  bool FRunNowOn = true;
  bool FSettingsOn = true;
  bool FStatusHighlighted = false;

  // The log: lines it holds (those waiting for the frame included), and the frame's.
  int FLogLines = 0;
  std::wstring FLogPending;
  bool FLogClearPending = false;
  bool FLogFrameOpen = false;
  ULONGLONG FLogFrameStart = 0;
  ULONGLONG FLogFrameGap = 16;  // ms from a frame's first line to its drawing

  UINT FTaskbarCreated = 0;
  bool FTrayWanted = true;  // until the form closes
  bool FTrayShown = false;

  // What other threads hand to the main thread, and the window their wakes go to (null once
  // the window is gone: later posts are dropped).
  std::mutex FPostLock;
  std::deque<std::function<void()>> FPosts;
  HWND FPostTarget = nullptr;
  bool FWakePosted = false;
};
