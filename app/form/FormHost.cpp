#include "FormHost.h"

#include <memory>

#include "FormLogic.h"
#include "FormView.h"

THandOvers::~THandOvers() {
  for (TCall* call : FWaiting)
    if (call->Posted) delete call;
}

bool THandOvers::Push(std::function<void()> op) {
  auto call = std::make_unique<TCall>();
  call->Posted = std::move(op);
  const bool wake = Push(*call);
  call.release();  // the queue owns it now
  return wake;
}

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

TFormHost::TFormHost(TFormLogic& logic, TFormView& view)
    : FLogic(logic), FView(view), FMainThread(std::this_thread::get_id()) {}

void TFormHost::Synchronize(const std::function<void()>& op) {
  if (std::this_thread::get_id() == FMainThread) {
    op();
    return;
  }
  THandOvers::TCall call;
  call.Op = &op;
  // A wake already on its way serves this call too, in its turn.
  if (FHandOvers.Push(call)) PostWake();
  // While the form is closing, its wait keeps serving calls, so a run can always finish.
  FHandOvers.Wait(call);
  if (call.Failure) std::rethrow_exception(call.Failure);
}

void TFormHost::Post(std::function<void()> op) {
  if (std::this_thread::get_id() == FMainThread) {
    op();
    return;
  }
  if (FHandOvers.Push(std::move(op))) PostWake();
}

void TFormHost::Serve() {
  // The lines posted since the last turn are shown together; a call a worker waits for
  // ends the turn.
  for (int served = 0; served < kPostedPerTurn; ++served) {
    THandOvers::TCall* call = FHandOvers.Take();
    if (!call) break;
    if (call->Posted) {
      const std::unique_ptr<THandOvers::TCall> owned(call);
      try {
        owned->Posted();
      } catch (...) {
        // Nobody waits to hear of it: a line the form could not show is in the day's log.
      }
      continue;
    }
    try {
      (*call->Op)();
    } catch (...) {
      call->Failure = std::current_exception();
    }
    FHandOvers.Finish(*call);
    break;
  }
  // One call per turn of the event loop: whatever was queued meanwhile, an operator's click
  // among it, is answered before the next call.
  if (FHandOvers.WakeAgain()) PostWake();
}

void TFormHost::PostWake() {
  FView.Post([this] { Serve(); });
}

int TFormHost::LogLineCount() { return FView.LogLineCount(); }

void TFormHost::LogClear() { FView.LogClear(); }

void TFormHost::LogAdd(const std::string& line, TLineKind) { FView.LogAdd(line); }

void TFormHost::SetStatus(const std::string& text) { FView.SetStatus(text); }

void TFormHost::SetTimerEnabled(bool on) { FLogic.SetTimerEnabled(on); }

void TFormHost::SetButtonEnabled(bool on) { FView.SetRunButtonEnabled(on); }

void TFormHost::RunEnded() {
  // Meant to come through Synchronize; a run that reports its end from the worker directly
  // is served the same way.
  if (std::this_thread::get_id() != FMainThread) {
    Synchronize([this] { FLogic.RunFinished(); });
    return;
  }
  FLogic.RunFinished();
}
