#include "QtHost.h"

#include <QMetaObject>
#include <QPushButton>
#include <QThread>

#include "BlinkText.h"
#include "LogBox.h"
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

// A wake is posted through Qt's event queue, whose lock a thread checker cannot see: the
// worker makes the queued call and the main thread runs and frees it. In a ThreadSanitizer
// build these marks state that order (and no more); elsewhere they are nothing.
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

// Travels inside the queued call: its last move is the worker's last write to the call
// before Qt posts it, and its end comes before the call is freed, run or not, on whichever
// thread frees it.
struct TWakeMark {
  TWakeMark() = default;
  TWakeMark(const TWakeMark&) { WakeRelease(); }
  TWakeMark(TWakeMark&&) noexcept { WakeRelease(); }
  TWakeMark& operator=(const TWakeMark&) = delete;
  ~TWakeMark() { WakeAcquire(); }
};

}  // namespace

bool THandOvers::Push(TCall& call) {
  std::lock_guard<std::mutex> guard(FLock);
  FWaiting.push_back(&call);
  if (FWakeDue) return false;
  FWakeDue = true;
  return true;
}

THandOvers::TCall* THandOvers::Take() {
  std::lock_guard<std::mutex> guard(FLock);
  if (FWaiting.empty()) return nullptr;
  TCall* call = FWaiting.front();
  FWaiting.pop_front();
  return call;
}

bool THandOvers::WakeAgain() {
  std::lock_guard<std::mutex> guard(FLock);
  FWakeDue = !FWaiting.empty();
  return FWakeDue;
}

void THandOvers::Finish(TCall& call) {
  std::lock_guard<std::mutex> guard(call.Lock);
  call.Done = true;
  // Under the call's lock: the worker cannot leave its wait, and free the call, before the
  // main thread is done with it.
  call.Answered.notify_one();
}

void THandOvers::Wait(TCall& call) {
  std::unique_lock<std::mutex> lock(call.Lock);
  call.Answered.wait(lock, [&call] { return call.Done; });
}

void TQtHost::Synchronize(const std::function<void()>& op) {
  if (QThread::currentThread() == FWakes.thread()) {
    op();
    return;
  }
  THandOvers::TCall call;
  call.Op = &op;
  // A wake already on its way serves this call too, in its turn.
  if (FHandOvers.Push(call)) PostWake();
  // While the form is closing, its wait loop keeps serving calls, so a run can always finish.
  FHandOvers.Wait(call);
  if (call.Failure) std::rethrow_exception(call.Failure);
}

void TQtHost::Serve() {
  if (THandOvers::TCall* call = FHandOvers.Take()) {
    try {
      (*call->Op)();
    } catch (...) {
      call->Failure = std::current_exception();
    }
    FHandOvers.Finish(*call);
  }
  // One call per turn of the event loop: whatever was queued meanwhile, an operator's click
  // among it, is answered before the next call.
  if (FHandOvers.WakeAgain()) PostWake();
}

void TQtHost::PostWake() {
  QMetaObject::invokeMethod(
      &FWakes,
      [this, mark = TWakeMark()] {
        WakeAcquire();
        Serve();
        // The worker may be the one that frees the call, once Qt has let go of it here.
        WakeRelease();
      },
      Qt::QueuedConnection);
}

int TQtHost::LogLineCount() { return FForm.LogLineCount(); }

void TQtHost::LogClear() { FForm.meLog->ClearLines(); }

void TQtHost::LogAdd(const std::string& line) {
  QString text = QtFromGbk(line);
  // A message may hold line breaks of its own; each becomes a line of the log.
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  FForm.meLog->AddLine(text);
}

void TQtHost::SetStatus(const std::string& text) { FForm.RzMStatus->setText(QtFromGbk(text)); }

void TQtHost::SetTimerEnabled(bool on) { FForm.SetTimerEnabled(on); }

void TQtHost::SetButtonEnabled(bool on) { FForm.Button2->setEnabled(on); }

void TQtHost::RunEnded() {
  // Meant to come through Synchronize; a run that reports its end from the worker directly
  // is served the same way.
  if (QThread::currentThread() != FWakes.thread()) {
    Synchronize([this] { FForm.RunFinished(); });
    return;
  }
  FForm.RunFinished();
}
