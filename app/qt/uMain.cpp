#include "uMain.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <string_view>

#include "BlinkText.h"
#include "Convert.h"
#include "DirectoryEdit.h"
#include "Failure.h"
#include "IniFile.h"
#include "LogBox.h"
#include "Platform.h"
#include "QtHost.h"
#include "QtText.h"
#include "RunReport.h"
#include "RunSettings.h"
#include "Texts.h"
#include "uUniteThread.h"

namespace {

// The form's first size, and the log panel's share of it.
constexpr int kFormWidth = 512;
constexpr int kFormHeight = 272;
constexpr int kLogWidth = 281;
// The most minutes whose milliseconds a signed 32-bit count holds.
constexpr long kLongestIntervalMinutes = 35791;

TFormHooks WithDefaults(TFormHooks hooks) {
  if (!hooks.ShowError)
    hooks.ShowError = [](QWidget* parent, const QString& title, const QString& text) {
      QMessageBox::critical(parent, title, text);
    };
  if (!hooks.OpenDocument)
    hooks.OpenDocument = [](const QUrl& document) { return QDesktopServices::openUrl(document); };
  if (!hooks.ChooseDirectory)
    hooks.ChooseDirectory = [](QWidget* parent, const QString& title, const QString& start) {
      return QFileDialog::getExistingDirectory(parent, title, start);
    };
  return hooks;
}

// The program's icon, drawn rather than shipped: a blue tile with a white "L".
QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 32, 48}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x1f, 0x5f, 0xa8));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(0, 0, size, size), size / 6.0, size / 6.0);
    QFont font;
    font.setBold(true);
    font.setPixelSize(size * 3 / 4);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("L"));
    icon.addPixmap(pixmap);
  }
  return icon;
}

const std::string& Option() { return Texts::SectionOption; }

}  // namespace

std::string ErrorBoxText(const std::string& message) {
  if (message.empty() || static_cast<unsigned char>(message.back()) <= '.') return message;
  return message + ".";
}

bool IsIntervalText(const std::string& text) {
  const std::string_view digits = Trim(text);
  if (digits.empty() || digits.size() > 5) return false;
  long minutes = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    minutes = minutes * 10 + (c - '0');
  }
  return minutes <= kLongestIntervalMinutes;
}

int MinutesToIntervalMs(long long minutes) {
  if (minutes <= 0) return 0;
  const long long ms = minutes * 60 * 1000;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

TfrmMain::TfrmMain(TPlatform& fs, TFormHooks hooks, QWidget* parent)
    : QWidget(parent, Qt::Window), FPlatform(fs), FHooks(WithDefaults(std::move(hooks))) {
  FHost = std::make_unique<TQtHost>(*this);
  BuildControls();
  BuildTrayIcon();
  Guarded([this] { FormCreate(); });
}

TfrmMain::~TfrmMain() {
  FClosing = true;
  WaitForRun();
}

void TfrmMain::BuildControls() {
  setWindowTitle(QtFromGbk(Texts::FormCaption));
  // The taskbar names the program by its title; the title bar shows the caption.
  setWindowIconText(QtFromGbk(ProgramTitle(FPlatform.ProgramPath())));
  setWindowIcon(ProgramIcon());
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  // The first size is the smallest: every control has its place in it.
  setMinimumSize(kFormWidth, kFormHeight);
  resize(kFormWidth, kFormHeight);
  move(295, 223);
  QFont dialogFont = font();
  dialogFont.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("WenQuanYi Micro Hei")});
  dialogFont.setPixelSize(12);
  setFont(dialogFont);

  Panel1 = new QFrame(this);
  Panel1->setGeometry(0, 0, 281, 272);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setLineWidth(1);
  meLog = new TLogBox(Panel1);
  meLog->setReadOnly(true);
  meLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  meLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  meLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  auto* fill = new QVBoxLayout(Panel1);
  fill->setContentsMargins(0, 0, 0, 0);
  fill->addWidget(meLog);

  Panel2 = new QWidget(this);
  Panel2->setGeometry(281, 0, 231, 272);

  auto label = [this](const std::string& caption, int left, int top, int width) {
    auto* l = new QLabel(QtFromGbk(caption), Panel2);
    l->setGeometry(left, top, width, 21);
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return l;
  };
  auto directory = [this](int top) {
    auto* field = new TDirectoryEdit(Panel2);
    field->setGeometry(94, top, 124, 21);
    field->OnKeyPress = [this](TDirectoryEdit& sender, char16_t& key) {
      edSrcPathKeyPress(sender, key);
    };
    connect(field, &TDirectoryEdit::BrowseRequested, this,
            [this, field] { Guarded([this, field] { edDirectoryBrowse(*field); }); });
    return field;
  };
  Label1 = label(Texts::LabelShSource, 10, 17, 82);
  edSrcPath = directory(17);
  Label5 = label(Texts::LabelSzSource, 10, 49, 82);
  edSzSrcPath = directory(49);
  Label2 = label(Texts::LabelShTarget, 10, 80, 82);
  edDesPath = directory(80);
  Label6 = label(Texts::LabelSzTarget, 10, 110, 82);
  edSzDesPath = directory(110);

  Label3 = label(Texts::LabelTimer, 10, 139, 82);
  edInternal = new QLineEdit(Panel2);
  edInternal->setGeometry(95, 139, 101, 21);
  Label4 = label(Texts::LabelMinutes, 200, 139, 30);

  RadioButton1 = new QRadioButton(QtFromGbk(Texts::MakeIndex), Panel2);
  RadioButton1->setGeometry(32, 176, 86, 17);
  RadioButton2 = new QRadioButton(QtFromGbk(Texts::NoIndex), Panel2);
  RadioButton2->setGeometry(120, 176, 108, 17);
  RadioButton2->setChecked(true);
  connect(RadioButton1, &QRadioButton::clicked, this,
          [this] { Guarded([this] { RadioButton1Click(); }); });
  connect(RadioButton2, &QRadioButton::clicked, this,
          [this] { Guarded([this] { RadioButton2Click(); }); });

  Button2 = new QPushButton(QtFromGbk(Texts::ExecuteNow), Panel2);
  Button2->setGeometry(32, 216, 75, 25);
  connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Timer1Timer(); }); });
  Button1 = new QPushButton(QtFromGbk(Texts::SaveSettings), Panel2);
  Button1->setGeometry(136, 216, 75, 25);
  connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });

  RzMStatus = new TBlinkText(Panel2);
  RzMStatus->setGeometry(4, 246, 133, 24);
  connect(RzMStatus, &TBlinkText::Clicked, this, [this] { Guarded([this] { RzMStatusClick(); }); });

  Timer1 = new QTimer(this);
  connect(Timer1, &QTimer::timeout, this,
          [this] { Guarded([this] { Timer1Timer(); }, /*fromTimer=*/true); });
  ApplyTimer();
  LayOut();
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayOut();
}

void TfrmMain::LayOut() {
  // The first geometry, stretched: half of the extra width goes to the log, half to the
  // settings' fields; the extra height to the log, the status text staying at the bottom.
  const int extraWidth = std::max(0, width() - kFormWidth);
  const int logWidth = kLogWidth + extraWidth / 2;
  const int grow = extraWidth - extraWidth / 2;
  Panel1->setGeometry(0, 0, logWidth, height());
  Panel2->setGeometry(logWidth, 0, width() - logWidth, height());
  for (TDirectoryEdit* field : {edSrcPath, edSzSrcPath, edDesPath, edSzDesPath})
    field->setGeometry(94, field->y(), 124 + grow, 21);
  RzMStatus->setGeometry(4, std::max(kFormHeight, height()) - (kFormHeight - 246), 133 + grow, 24);
}

void TfrmMain::BuildTrayIcon() {
  RzTrayIcon1 = new QSystemTrayIcon(windowIcon(), this);
  connect(RzTrayIcon1, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick) RestoreFromTray();
          });
  RzTrayIcon1->setToolTip(QtFromGbk(Texts::FormCaption));
  FTrayMenu = new QMenu(this);
  FTrayMenu->addAction(QtFromGbk(Texts::TrayShow), this, [this] { RestoreFromTray(); });
  // As the button does: nothing while a run is in progress.
  FTrayMenu->addAction(QtFromGbk(Texts::ExecuteNow), this, [this] {
    if (Button2->isEnabled()) Button2->click();
  });
  FTrayMenu->addSeparator();
  FTrayMenu->addAction(QtFromGbk(Texts::TrayQuit), this, [this] { close(); });
  RzTrayIcon1->setContextMenu(FTrayMenu);
  FTrayWatch = new QTimer(this);
  FTrayWatch->setInterval(2000);
  connect(FTrayWatch, &QTimer::timeout, this, &TfrmMain::WatchTray);
  // Without a notification area the icon stays hidden and minimizing keeps the taskbar
  // button, or the program could not be brought back.
  if (QSystemTrayIcon::isSystemTrayAvailable()) RzTrayIcon1->show();
}

void TfrmMain::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
  if (!RzTrayIcon1->isVisible() || !QSystemTrayIcon::isSystemTrayAvailable()) return;
  // Hidden after the state change has been handled, so the window manager sees both.
  QTimer::singleShot(0, this, [this] {
    if (!isMinimized()) return;
    hide();
    FTrayWatch->start();
  });
}

void TfrmMain::WatchTray() {
  if (isVisible()) {
    FTrayWatch->stop();
    return;
  }
  // The notification area went away (its panel quit) while the form hid in it: the taskbar
  // button comes back, or nothing would be left to bring the form back with.
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    FTrayWatch->stop();
    showMinimized();
  }
}

void TfrmMain::RestoreFromTray() {
  FTrayWatch->stop();
  showNormal();
  raise();
  activateWindow();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (FClosing) {  // a second close while the first waits for the run
    event->ignore();
    return;
  }
  FClosing = true;
  ApplyTimer();
  Panel2->setEnabled(false);
  WaitForRun();
  FIniFile.reset();
  RzTrayIcon1->hide();
  event->accept();
}

void TfrmMain::WaitForRun() {
  if (!FUniteThread) return;
  FUniteThread->Terminate();
  QEventLoop wait;
  FRunEndWait = &wait;
  wait.exec();
  FRunEndWait = nullptr;
}

void TfrmMain::RunFinished() {
  FUniteThread = nullptr;
  if (FRunReport) {
    try {
      WriteRunReport(FPlatform, FRunReportPath, *FRunReport);
    } catch (const EFailure& failure) {
      // Nobody reads a box at an unattended form: the status text tells, as for a run's failure.
      RzMStatus->setText(QtFromGbk(Texts::ErrorCaption + Texts::CannotWriteReport + FRunReportPath + " " +
                                   failure.Message()));
    }
    FRunReport.reset();
  }
  if (FRunEndWait) FRunEndWait->quit();
}

void TfrmMain::Guarded(const std::function<void()>& handler, bool fromTimer) {
  try {
    handler();
  } catch (const EFailure& failure) {
    // A tick that fails while the box of an earlier failure is still open adds no second box:
    // a bad LASTFILETIME would otherwise pile one up every interval.
    if (fromTimer && FErrorBoxOpen) return;
    ShowFailure(failure.Message());
  } catch (const std::exception& failure) {
    if (fromTimer && FErrorBoxOpen) return;
    ShowFailure(failure.what());
  }
}

void TfrmMain::ShowFailure(const std::string& message) {
  FErrorBoxOpen = true;
  FHooks.ShowError(this, QtFromGbk(ProgramTitle(FPlatform.ProgramPath())),
                   QtFromGbk(ErrorBoxText(message)));
  FErrorBoxOpen = false;
}

int TfrmMain::LogLineCount() const { return meLog->LineCount(); }

// --- Timer1 ---

void TfrmMain::SetTimerEnabled(bool on) {
  FTimerOn = on;
  ApplyTimer();
}

void TfrmMain::SetTimerInterval(int ms) {
  FIntervalMs = ms;
  ApplyTimer();
}

void TfrmMain::ApplyTimer() {
  // QTimer ticks without pause at 0; here 0 means no ticks at all.
  if (FTimerOn && FIntervalMs > 0 && !FClosing)
    Timer1->start(FIntervalMs);  // (re)starts the count
  else
    Timer1->stop();
}

std::array<TfrmMain::TRootSetting, 4> TfrmMain::RootSettings() {
  return {{{Texts::KeySrc, edSrcPath, &FSrcPath, &TRunSettings::SrcPath},
           {Texts::KeyDes, edDesPath, &FDesPath, &TRunSettings::DesPath},
           {Texts::KeySzSrc, edSzSrcPath, &FSzSrcPath, &TRunSettings::SzSrcPath},
           {Texts::KeySzDes, edSzDesPath, &FSzDesPath, &TRunSettings::SzDesPath}}};
}

// --- Handlers ---

void TfrmMain::FormCreate() {
  FIniFile = std::make_unique<TIniFile>(FPlatform, SettingsPathFor(FPlatform.ProgramPath()));
  const TRunSettings saved = TRunSettings::Read(*FIniFile);
  // Settings that cannot be read whole are not shown as empty ones, nor run by the timer.
  if (FIniFile->ReadError() == kErrInvalidData) {
    SetTimerInterval(0);
    throw EFailure(Texts::CannotReadSettings + FIniFile->FileName() + " " + FIniFile->ReadErrorText());
  }

  for (const TRootSetting& root : RootSettings()) {
    root.Field->setText(QtFromGbk(saved.*root.Saved));
    *root.Path = GbkFromQt(root.Field->text());
  }

  edInternal->setText(QtFromGbk(FIniFile->ReadString(Option(), Texts::KeyInternal, "1")));
  std::int32_t minutes = 0;
  try {
    minutes = StrToInt(GbkFromQt(edInternal->text()));
  } catch (const EFailure&) {
    // No interval was configured that could be trusted: no timed runs until the next start
    // (the execute-now button still works, and a run's end does not switch ticks on).
    SetTimerInterval(0);
    throw;
  }
  SetTimerInterval(MinutesToIntervalMs(minutes));

  FMakeIndex = saved.MakeIndex;
  RadioButton1->setChecked(FMakeIndex);
  RadioButton2->setChecked(!FMakeIndex);

  CheckLastFileTime(*FIniFile, FPlatform.Now());
}

void TfrmMain::Button1Click() {
  if (!FIniFile) return;
  // Checked before anything is written: saved, a text that is no interval would switch timed
  // runs off at the next start, without a sign until then.
  const std::string interval = GbkFromQt(edInternal->text());
  if (!IsIntervalText(interval)) throw EFailure(Fmt(Texts::BadInterval, interval));
  // Each key is written before its field is taken over, so a failing write leaves the
  // form's paths as they were for that key and every later one.
  for (const TRootSetting& root : RootSettings()) {
    const std::string text = GbkFromQt(root.Field->text());
    FIniFile->WriteString(Option(), root.Key, text);
    *root.Path = text;
  }
  FIniFile->WriteString(Option(), Texts::KeyInternal, std::string(Trim(interval)));
  if (RadioButton1->isChecked()) {
    FIniFile->WriteInteger(Option(), Texts::KeyIndex, 1);
    FMakeIndex = true;
  } else {
    FIniFile->WriteInteger(Option(), Texts::KeyIndex, 0);
    FMakeIndex = false;
  }
}

void TfrmMain::Timer1Timer() {
  // One run at a time: a tick or click already queued when a run began starts nothing.
  if (FUniteThread || FClosing || !FIniFile) return;
  CheckLastFileTime(*FIniFile, FPlatform.Now());
  StartUnite();
}

void TfrmMain::StartUnite() {
  SetTimerEnabled(false);
  Button2->setEnabled(false);
  auto* run = new TUniteThread(FPlatform, *FHost);
  // The saved roots, not the fields: a folder chosen in a field is not the run's until saved.
  TRunSettings{FSrcPath, FDesPath, FSzSrcPath, FSzDesPath, FMakeIndex}.HandTo(*run);
  run->FStageAhead = true;
  FRunReportPath = ReportPathFor(FPlatform, FIniFile->ReadString(Option(), Texts::KeyReport, ""));
  if (!FRunReportPath.empty()) FRunReport = std::make_unique<TRunReport>(FPlatform.Now());
  run->FReport = FRunReport.get();
  FUniteThread = run;
  try {
    run->Start();
  } catch (...) {
    // No thread: the run never began, so the form goes back to idle itself.
    FUniteThread = nullptr;
    FRunReport.reset();
    delete run;
    SetTimerEnabled(true);
    Button2->setEnabled(true);
    throw;
  }
}

void TfrmMain::edSrcPathKeyPress(TDirectoryEdit&, char16_t& key) {
  // Folders are chosen with the browse button; typing is not a way to name one.
  key = 0;
}

void TfrmMain::RadioButton1Click() { FMakeIndex = true; }

void TfrmMain::RadioButton2Click() { FMakeIndex = false; }

void TfrmMain::RzMStatusClick() {
  const std::string path = DayLogPath(FPlatform, FPlatform.Now());
  if (!FPlatform.FileExists(path)) return;
  FHooks.OpenDocument(QUrl::fromLocalFile(QString::fromStdString(FPlatform.HostPath(path))));
  RzMStatus->setText(QString());
}

void TfrmMain::edDirectoryBrowse(TDirectoryEdit& sender) {
  const std::string current = GbkFromQt(sender.text());
  std::string start;
  if (!current.empty() && FPlatform.DirectoryExists(current)) {
    start = FPlatform.HostPath(current);
  } else {
    // The current drive: the root of the drive the working folder lies on.
    const std::string here = FPlatform.DrivePath(QDir::currentPath().toStdString());
    start = FPlatform.HostPath(here.substr(0, 2) + "\\");
  }
  const QString chosen =
      FHooks.ChooseDirectory(this, QtFromGbk(Texts::SelectDirectory), QString::fromStdString(start));
  if (chosen.isEmpty()) return;
  std::string folder = FPlatform.DrivePath(QDir::cleanPath(chosen).toStdString());
  // No trailing backslash, except on a drive's root ("C:\").
  while (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  if (folder.size() == 2 && folder[1] == ':') folder += '\\';
  sender.setText(QtFromGbk(folder));
}
