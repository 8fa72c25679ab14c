#pragma once
// TfrmMain: the program's only form. It loads and saves section OPTION of the settings file,
// starts merge runs from its timer and its execute-now button, shows the run's log and its
// last failure, and keeps the program reachable from the notification area while minimized.

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <string>

class QEventLoop;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QSystemTrayIcon;
class QTimer;
class QUrl;

class TBlinkText;
class TDirectoryEdit;
class TIniFile;
class TLogBox;
class TPlatform;
class TQtHost;
class TRunReport;
class TUniteThread;
struct TRunSettings;

// What the form asks of the desktop. Each has a real default; tests put their own in.
struct TFormHooks {
  // Shows a handler's failure in a modal box with a stop icon.
  std::function<void(QWidget* parent, const QString& title, const QString& text)> ShowError;
  // Opens a document with the desktop's viewer; the answer is ignored.
  std::function<bool(const QUrl& document)> OpenDocument;
  // Modal folder dialog: the chosen host folder, empty on Cancel.
  std::function<QString(QWidget* parent, const QString& title, const QString& startDir)>
      ChooseDirectory;
};

class TfrmMain final : public QWidget {
  Q_OBJECT

 public:
  // `fs` must outlive the form. The settings are loaded here (FormCreate); a failure while
  // loading is shown and the form is made all the same.
  explicit TfrmMain(TPlatform& fs, TFormHooks hooks = {}, QWidget* parent = nullptr);
  // Waits for a run in progress to finish its current stock first.
  ~TfrmMain() override;

  // --- Components ---
  QFrame* Panel1;
  TLogBox* meLog;
  QWidget* Panel2;
  QLabel* Label1;
  TDirectoryEdit* edSrcPath;
  QLabel* Label5;
  TDirectoryEdit* edSzSrcPath;
  QLabel* Label2;
  TDirectoryEdit* edDesPath;
  QLabel* Label6;
  TDirectoryEdit* edSzDesPath;
  QLabel* Label3;
  QLineEdit* edInternal;
  QLabel* Label4;
  QRadioButton* RadioButton1;
  QRadioButton* RadioButton2;
  QPushButton* Button2;
  QPushButton* Button1;
  TBlinkText* RzMStatus;
  QTimer* Timer1;
  QSystemTrayIcon* RzTrayIcon1;

  // --- Handlers. They throw EFailure; the components' signals reach them through a guard
  // that shows the failure in the error box. ---
  void FormCreate();
  void Button1Click();
  void Timer1Timer();  // a tick of Timer1 and a click of Button2
  void edSrcPathKeyPress(TDirectoryEdit& sender, char16_t& key);
  void RadioButton1Click();
  void RadioButton2Click();
  void RzMStatusClick();
  // The browse button or Alt+Down of a directory field.
  void edDirectoryBrowse(TDirectoryEdit& sender);

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
  // Lines in the form log.
  int LogLineCount() const;

 protected:
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // The four root settings, each with its key, its directory field, the path the form
  // hands to runs and its value among the loaded settings, in the order they are loaded
  // and saved.
  struct TRootSetting {
    const std::string& Key;
    TDirectoryEdit* Field;
    std::string* Path;
    std::string TRunSettings::*Saved;
  };
  std::array<TRootSetting, 4> RootSettings();

  friend class TQtHost;

  void BuildControls();
  void BuildTrayIcon();
  // Places the panels and controls for the form's size: the log box and the path fields take
  // what the form has beyond its first size.
  void LayOut();
  // Runs a handler; a failure ends it and is shown in the error box.
  void Guarded(const std::function<void()>& handler, bool fromTimer = false);
  void ShowFailure(const std::string& message);
  void StartUnite();
  void SetTimerEnabled(bool on);
  void SetTimerInterval(int ms);
  void ApplyTimer();
  // Called on the main thread when the run's body has ended.
  void RunFinished();
  // Asks a run in progress to stop and serves its hand-overs until it has ended.
  void WaitForRun();
  void RestoreFromTray();
  void WatchTray();

  TPlatform& FPlatform;
  TFormHooks FHooks;
  std::unique_ptr<TQtHost> FHost;

  std::unique_ptr<TIniFile> FIniFile;
  std::string FSrcPath;
  std::string FDesPath;
  std::string FSzSrcPath;
  std::string FSzDesPath;
  bool FMakeIndex = false;
  TUniteThread* FUniteThread = nullptr;

  bool FTimerOn = true;     // Timer1 runs from creation...
  int FIntervalMs = 1000;   // ...with its initial interval, until the settings are loaded
  bool FClosing = false;
  bool FErrorBoxOpen = false;
  QEventLoop* FRunEndWait = nullptr;
  QTimer* FTrayWatch = nullptr;  // while hidden in the notification area
  QMenu* FTrayMenu = nullptr;
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
