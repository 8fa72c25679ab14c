#pragma once
// The form's side of a run: the run's hand-overs run on the form's main thread while the
// worker waits, and what the run shows lands in the form's controls.

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "UniteHost.h"

class TFormLogic;
class TFormView;

// The calls workers have handed to the main thread and not yet seen answered. Safe for
// concurrent use.
class THandOvers final {
 public:
  // Lives on its worker's stack, and so does what answers it: the host may be gone by the
  // time the worker has left its wait (a form closed right after its run ended).
  struct TCall {
    const std::function<void()>* Op = nullptr;
    // A posted call, which nobody waits for: it lives in the queue, which runs it and frees
    // it (or frees it unrun, when the form goes first).
    std::function<void()> Posted;
    std::exception_ptr Failure;
    std::mutex Lock;
    std::condition_variable Answered;
    bool Done = false;  // guarded by Lock
  };

  ~THandOvers();
  // Queues `call`. True when the main thread has to be woken for it: no wake is on its way.
  bool Push(TCall& call);
  // Queues `op` as a posted call; true as for Push().
  bool Push(std::function<void()> op);
  // The oldest call waiting, or nullptr.
  TCall* Take();
  // After a wake was served: true when calls are still waiting and need another wake; false
  // when none is, and then the next Push wakes the main thread.
  bool WakeAgain();
  // Answers `call`: its worker goes on. The call must not be used afterwards.
  void Finish(TCall& call);
  // Blocks until `call` is answered.
  void Wait(TCall& call);

 private:
  std::mutex FLock;
  std::deque<TCall*> FWaiting;  // oldest first
  bool FWakeDue = false;        // a wake is posted and not yet served
};

class TFormHost final : public TUniteHost {
 public:
  // Made on the main thread, which the hand-overs go to.
  TFormHost(TFormLogic& logic, TFormView& view);

  // From a worker: runs `op` on the main thread and waits; an exception thrown by `op` is
  // thrown again here. On the main thread itself: runs `op` in place.
  void Synchronize(const std::function<void()>& op) override;
  // From a worker: queues `op` behind every call handed over before it and returns. On the
  // main thread itself: runs `op` in place.
  void Post(std::function<void()> op) override;

  int LogLineCount() override;
  void LogClear() override;
  void LogAdd(const std::string& line, TLineKind kind) override;
  void SetStatus(const std::string& text) override;
  // On: Timer1 counts a full interval from now (an interval of 0 gives no ticks).
  void SetTimerEnabled(bool on) override;
  void SetButtonEnabled(bool on) override;
  void RunEnded() override;

 private:
  // Posted calls served in one turn of the event loop at most, so that an operator's click
  // is answered between them.
  static constexpr int kPostedPerTurn = 64;
  // On the main thread: runs the oldest calls waiting, posted ones up to the first call a
  // worker waits for.
  void Serve();
  // Has Serve() run on the main thread when its event loop comes to it.
  void PostWake();

  TFormLogic& FLogic;
  TFormView& FView;
  const std::thread::id FMainThread;
  THandOvers FHandOvers;
};
