#include "uMain.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include "BlinkText.h"
#include "DirectoryEdit.h"
#include "FormTexts.h"
#include "LogBox.h"
#include "QtText.h"

#if defined(__SANITIZE_THREAD__)
#define LORVANE_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LORVANE_TSAN 1
#endif
#endif
#if defined(LORVANE_TSAN)
#include <sanitizer/tsan_interface.h>
#endif

namespace {

// The form's first size, and the log panel's share of it.
constexpr int kFormWidth = 512;
constexpr int kFormHeight = 272;
constexpr int kLogWidth = 281;

// A post goes through Qt's event queue, whose lock a thread checker cannot see: the worker
// makes the queued call and the main thread runs and frees it. In a ThreadSanitizer build
// these marks state that order (and no more); elsewhere they are nothing.
[[maybe_unused]] char GWake;
void WakeRelease() {
#if defined(LORVANE_TSAN)
  __tsan_release(&GWake);
#endif
}
void WakeAcquire() {
#if defined(LORVANE_TSAN)
  __tsan_acquire(&GWake);
#endif
}

// Travels inside the queued call: its last move is the poster's last write to the call
// before Qt posts it, and its end comes before the call is freed, run or not, on whichever
// thread frees it.
struct TWakeMark {
  TWakeMark() = default;
  TWakeMark(const TWakeMark&) { WakeRelease(); }
  TWakeMark(TWakeMark&&) noexcept { WakeRelease(); }
  TWakeMark& operator=(const TWakeMark&) = delete;
  ~TWakeMark() { WakeAcquire(); }
};

TFormHooks WithDefaults(TFormHooks hooks) {
  if (!hooks.ShowError)
    hooks.ShowError = [](QWidget* parent, const QString& title, const QString& text) {
      QMessageBox::critical(parent, title, text);
    };
  if (!hooks.ShowWarning)
    hooks.ShowWarning = [](QWidget* parent, const QString& title, const QString& text) {
      QMessageBox::warning(parent, title, text);
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

}  // namespace

TfrmMain::TfrmMain(TPlatform& fs, TFormHooks hooks, QWidget* parent)
    : QWidget(parent, Qt::Window), FPlatform(fs), FHooks(WithDefaults(std::move(hooks))) {
  FLogic = std::make_unique<TFormLogic>(fs, *this);
  BuildControls();
  BuildTrayIcon();
  FLogic->Created();
}

TfrmMain::~TfrmMain() {
  // The logic waits for a run in progress, serving its hand-overs through this view.
  FLogic.reset();
}

void TfrmMain::BuildControls() {
  setWindowTitle(QtFromGbk(FormTexts::FormCaption));
  // The taskbar names the program by its title; the title bar shows the caption.
  setWindowIconText(QtFromGbk(FLogic->Title()));
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
  auto directory = [this](TFormField role, int top) {
    auto* field = new TDirectoryEdit(Panel2);
    field->setGeometry(94, top, 124, 21);
    field->OnKeyPress = [this, role](TDirectoryEdit&, char16_t& key) { key = FLogic->DirectoryKeyTyped(role, key); };
    connect(field, &TDirectoryEdit::BrowseRequested, this, [this, role] { FLogic->BrowseClicked(role); });
    return field;
  };
  Label1 = label(FormTexts::LabelShSource, 10, 17, 82);
  edSrcPath = directory(TFormField::SrcPath, 17);
  Label5 = label(FormTexts::LabelSzSource, 10, 49, 82);
  edSzSrcPath = directory(TFormField::SzSrcPath, 49);
  Label2 = label(FormTexts::LabelShTarget, 10, 80, 82);
  edDesPath = directory(TFormField::DesPath, 80);
  Label6 = label(FormTexts::LabelSzTarget, 10, 110, 82);
  edSzDesPath = directory(TFormField::SzDesPath, 110);

  Label3 = label(FormTexts::LabelTimer, 10, 139, 82);
  edInternal = new QLineEdit(Panel2);
  edInternal->setGeometry(95, 139, 101, 21);
  Label4 = label(FormTexts::LabelMinutes, 200, 139, 30);

  RadioButton1 = new QRadioButton(QtFromGbk(FormTexts::MakeIndex), Panel2);
  RadioButton1->setGeometry(32, 176, 86, 17);
  RadioButton2 = new QRadioButton(QtFromGbk(FormTexts::NoIndex), Panel2);
  RadioButton2->setGeometry(120, 176, 108, 17);
  RadioButton2->setChecked(true);
  connect(RadioButton1, &QRadioButton::clicked, this, [this] { FLogic->IndexChoiceClicked(true); });
  connect(RadioButton2, &QRadioButton::clicked, this, [this] { FLogic->IndexChoiceClicked(false); });

  Button2 = new QPushButton(QtFromGbk(FormTexts::ExecuteNow), Panel2);
  Button2->setGeometry(32, 216, 75, 25);
  connect(Button2, &QPushButton::clicked, this, [this] { FLogic->RunNowClicked(); });
  Button1 = new QPushButton(QtFromGbk(FormTexts::SaveSettings), Panel2);
  Button1->setGeometry(136, 216, 75, 25);
  connect(Button1, &QPushButton::clicked, this, [this] { FLogic->SaveClicked(); });

  RzMStatus = new TBlinkText(Panel2);
  RzMStatus->setGeometry(4, 246, 133, 24);
  connect(RzMStatus, &TBlinkText::Clicked, this, [this] { FLogic->StatusClicked(); });
  FBlink = new QTimer(this);
  FBlink->setInterval(TFormLogic::kBlinkMs);
  connect(FBlink, &QTimer::timeout, this, [this] { FLogic->BlinkTicked(); });
  FBlink->start();

  Timer1 = new QTimer(this);
  connect(Timer1, &QTimer::timeout, this, [this] { FLogic->TimerTicked(); });
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
            if (reason == QSystemTrayIcon::DoubleClick) FLogic->TrayDoubleClicked();
          });
  RzTrayIcon1->setToolTip(QtFromGbk(FormTexts::FormCaption));
  FTrayMenu = new QMenu(this);
  FTrayMenu->addAction(QtFromGbk(FormTexts::TrayShow), this, [this] { FLogic->TrayDoubleClicked(); });
  // As the button does: nothing while a run is in progress.
  FTrayMenu->addAction(QtFromGbk(FormTexts::ExecuteNow), this, [this] {
    if (Button2->isEnabled()) Button2->click();
  });
  FTrayMenu->addSeparator();
  FTrayMenu->addAction(QtFromGbk(FormTexts::TrayQuit), this, [this] { close(); });
  RzTrayIcon1->setContextMenu(FTrayMenu);
  FTrayWatch = new QTimer(this);
  FTrayWatch->setInterval(2000);
  connect(FTrayWatch, &QTimer::timeout, this, [this] {
    if (isVisible())
      FTrayWatch->stop();
    else
      FLogic->TrayChanged();
  });
  // Without a notification area the icon stays hidden and minimizing keeps the taskbar
  // button, or the program could not be brought back.
  if (QSystemTrayIcon::isSystemTrayAvailable()) RzTrayIcon1->show();
}

void TfrmMain::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
  // Handled after the state change has been, so the window manager sees both.
  QTimer::singleShot(0, this, [this] {
    if (isMinimized()) FLogic->Minimized();
  });
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (FLogic->CloseRequested())
    event->accept();
  else
    event->ignore();
}

TDirectoryEdit* TfrmMain::Field(TFormField field) const {
  switch (field) {
    case TFormField::SrcPath: return edSrcPath;
    case TFormField::SzSrcPath: return edSzSrcPath;
    case TFormField::DesPath: return edDesPath;
    case TFormField::SzDesPath: return edSzDesPath;
    default: return nullptr;
  }
}

// --- TFormView ---

std::string TfrmMain::FieldText(TFormField field) {
  if (field == TFormField::Interval) return GbkFromQt(edInternal->text());
  return GbkFromQt(Field(field)->text());
}

void TfrmMain::SetFieldText(TFormField field, const std::string& text) {
  if (field == TFormField::Interval)
    edInternal->setText(QtFromGbk(text));
  else
    Field(field)->setText(QtFromGbk(text));
}

bool TfrmMain::MakeIndexChecked() { return RadioButton1->isChecked(); }

void TfrmMain::SetMakeIndexChecked(bool on) {
  RadioButton1->setChecked(on);
  RadioButton2->setChecked(!on);
}

void TfrmMain::SetRunButtonEnabled(bool on) { Button2->setEnabled(on); }

bool TfrmMain::RunButtonEnabled() { return Button2->isEnabled(); }

void TfrmMain::SetSettingsEnabled(bool on) { Panel2->setEnabled(on); }

void TfrmMain::SetTimer(bool running, int intervalMs) {
  if (running)
    Timer1->start(intervalMs);  // (re)starts the count
  else
    Timer1->stop();
}

void TfrmMain::SetStatus(const std::string& text) { RzMStatus->setText(QtFromGbk(text)); }

std::string TfrmMain::Status() { return GbkFromQt(RzMStatus->text()); }

void TfrmMain::SetStatusHighlighted(bool on) { RzMStatus->SetHighlighted(on); }

int TfrmMain::LogLineCount() { return meLog->LineCount(); }

void TfrmMain::LogClear() { meLog->ClearLines(); }

void TfrmMain::LogAdd(const std::string& line) {
  QString text = QtFromGbk(line);
  // A message may hold line breaks of its own; each becomes a line of the log.
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  meLog->AddLine(text);
}

void TfrmMain::ShowError(const std::string& title, const std::string& text) {
  FHooks.ShowError(this, QtFromGbk(title), QtFromGbk(text));
}

void TfrmMain::ShowWarning(const std::string& title, const std::string& text) {
  FHooks.ShowWarning(this, QtFromGbk(title), QtFromGbk(text));
}

void TfrmMain::OpenDocument(const std::string& document) {
  FHooks.OpenDocument(QUrl::fromLocalFile(QString::fromStdString(document)));
}

std::string TfrmMain::ChooseFolder(const std::string& title, const std::string& start) {
  const QString chosen = FHooks.ChooseDirectory(this, QtFromGbk(title), QString::fromStdString(start));
  return chosen.isEmpty() ? std::string() : QDir::cleanPath(chosen).toStdString();
}

bool TfrmMain::TrayAvailable() {
  return RzTrayIcon1->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void TfrmMain::HideToTray() {
  hide();
  FTrayWatch->start();
}

void TfrmMain::RestoreWindow() {
  FTrayWatch->stop();
  showNormal();
  raise();
  activateWindow();
}

void TfrmMain::ShowMinimized() {
  FTrayWatch->stop();
  showMinimized();
}

void TfrmMain::CloseWindow() { close(); }

void TfrmMain::HideTrayIcon() { RzTrayIcon1->hide(); }

void TfrmMain::Post(std::function<void()> op) {
  QMetaObject::invokeMethod(
      &FWakes,
      [op = std::move(op), mark = TWakeMark()] {
        WakeAcquire();
        op();
        // The poster may be the one that frees what the op used, once Qt has let go of it.
        WakeRelease();
      },
      Qt::QueuedConnection);
}

void TfrmMain::ServeUntil(const std::function<bool()>& done) {
  while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}
