#pragma once
// TfrmMain: the program's only form, drawn with Qt. Its behaviour is TFormLogic's; this class
// is the view: it lays out the controls, passes their events to the logic and does what the
// logic asks of them.

#include <QObject>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "FormLogic.h"
#include "FormView.h"

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
class TLogBox;
class TPlatform;

// What the form asks of the desktop. Each has a real default; tests put their own in.
struct TFormHooks {
  // Shows a handler's failure (stop icon) or a warning in a modal box.
  std::function<void(QWidget* parent, const QString& title, const QString& text)> ShowError;
  std::function<void(QWidget* parent, const QString& title, const QString& text)> ShowWarning;
  // Opens a document with the desktop's viewer; the answer is ignored.
  std::function<bool(const QUrl& document)> OpenDocument;
  // Modal folder dialog: the chosen host folder, empty on Cancel.
  std::function<QString(QWidget* parent, const QString& title, const QString& startDir)>
      ChooseDirectory;
};

class TfrmMain final : public QWidget, public TFormView {
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

  TFormLogic& Logic() { return *FLogic; }
  // A run is in progress.
  bool Running() const { return FLogic->Running(); }

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

 protected:
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void BuildTrayIcon();
  // Places the panels and controls for the form's size: the log box and the path fields take
  // what the form has beyond its first size.
  void LayOut();
  TDirectoryEdit* Field(TFormField field) const;

  TPlatform& FPlatform;
  TFormHooks FHooks;
  std::unique_ptr<TFormLogic> FLogic;
  QTimer* FBlink = nullptr;      // the status text's blinking
  QTimer* FTrayWatch = nullptr;  // while hidden in the notification area
  QMenu* FTrayMenu = nullptr;
  // The receiver of what is posted to the main thread. Declared after the logic, it goes
  // first: a post still queued for a logic that is gone is dropped with it.
  QObject FWakes;
};
