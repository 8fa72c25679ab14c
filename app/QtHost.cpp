#include "QtHost.h"

#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QThread>

#include <exception>

#include "BlinkText.h"
#include "QtText.h"
#include "uMain.h"

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

// The blocking queued call orders the worker's writes before the main thread runs the
// operation, and that run before the worker goes on, through a semaphore inside Qt that a
// thread checker cannot see. In a ThreadSanitizer build these marks state that order (and
// no more) so the checker judges the hand-over's accesses by it; elsewhere they are nothing.
[[maybe_unused]] char GHandOver;
void HandOverRelease() {
#if defined(LORVANE_TSAN)
  __tsan_release(&GHandOver);
#endif
}
void HandOverAcquire() {
#if defined(LORVANE_TSAN)
  __tsan_acquire(&GHandOver);
#endif
}

// Travels inside the queued call: its last move is the worker's last write to the call
// before Qt posts it, and its end comes after the operation ran, on whichever thread frees
// the call.
struct THandOverMark {
  THandOverMark() = default;
  THandOverMark(const THandOverMark&) { HandOverRelease(); }
  THandOverMark(THandOverMark&&) noexcept { HandOverRelease(); }
  THandOverMark& operator=(const THandOverMark&) = delete;
  ~THandOverMark() { HandOverAcquire(); }
};

}  // namespace

void TQtHost::Synchronize(const std::function<void()>& op) {
  if (QThread::currentThread() == FForm.thread()) {
    op();
    return;
  }
  std::exception_ptr failure;
  // The worker blocks here until the main thread has run `op`; while the form is closing,
  // its wait loop keeps serving these calls, so a run can always finish.
  QMetaObject::invokeMethod(
      &FForm,
      [&op, &failure, mark = THandOverMark()] {
        HandOverAcquire();
        try {
          op();
        } catch (...) {
          failure = std::current_exception();
        }
        HandOverRelease();
      },
      Qt::BlockingQueuedConnection);
  HandOverAcquire();
  if (failure) std::rethrow_exception(failure);
}

int TQtHost::LogLineCount() { return FForm.LogLineCount(); }

void TQtHost::LogClear() {
  FForm.meLog->clear();
  FForm.FLogLines = 0;
}

void TQtHost::LogAdd(const std::string& line) {
  QString text = QtFromGbk(line);
  // A message may hold line breaks of its own; each becomes a line of the log.
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  FForm.meLog->appendPlainText(text);
  FForm.FLogLines += static_cast<int>(text.count(QLatin1Char('\n'))) + 1;
  // The new line is the one to see, whatever the operator scrolled to before.
  QTextCursor end(FForm.meLog->document()->lastBlock());
  FForm.meLog->setTextCursor(end);
  FForm.meLog->ensureCursorVisible();
}

void TQtHost::SetStatus(const std::string& text) { FForm.RzMStatus->setText(QtFromGbk(text)); }

void TQtHost::SetTimerEnabled(bool on) { FForm.SetTimerEnabled(on); }

void TQtHost::SetButtonEnabled(bool on) { FForm.Button2->setEnabled(on); }

void TQtHost::RunEnded() {
  // Meant to come through Synchronize; a run that reports its end from the worker directly
  // is served the same way.
  if (QThread::currentThread() != FForm.thread()) {
    Synchronize([this] { FForm.RunFinished(); });
    return;
  }
  FForm.RunFinished();
}
