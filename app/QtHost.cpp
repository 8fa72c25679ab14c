#include "QtHost.h"

#include <QMetaObject>
#include <QPushButton>
#include <QThread>

#include "BlinkText.h"
#include "LogBox.h"
#include "QtText.h"
#include "uMain.h"

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
  {
    std::lock_guard<std::mutex> guard(FLock);
    call.Done = true;
  }
  // Outside the lock, or the worker would wake only to wait for it. Its call may be gone by
  // now; the condition belongs to the host, which outlives every worker's wait.
  FAnswered.notify_all();
}

void THandOvers::Wait(TCall& call) {
  std::unique_lock<std::mutex> lock(FLock);
  FAnswered.wait(lock, [&call] { return call.Done; });
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
  QMetaObject::invokeMethod(&FWakes, [this] { Serve(); }, Qt::QueuedConnection);
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
