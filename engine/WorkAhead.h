#pragma once
// A second thread for the work of a run that need not wait: the staging of the next stock,
// the copies of the current one into the mirrors. Pieces run one at a time in the order they
// were posted; the first failure one throws is kept and thrown again, on the caller's
// thread, by the first Wait() that waits for that piece.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

class TWorkAhead {
 public:
  TWorkAhead();
  // Finishes every piece posted (their failures are dropped), then ends the thread.
  ~TWorkAhead();
  TWorkAhead(const TWorkAhead&) = delete;
  TWorkAhead& operator=(const TWorkAhead&) = delete;

  // Posts `work`; the number it returns stands for it in Wait().
  std::uint64_t Post(std::function<void()> work);
  // Waits until the piece `ticket` and every piece before it are done (the pieces after it
  // may still run), and throws the first failure among them.
  void Wait(std::uint64_t ticket);
  // Waits until every piece posted is done, and throws the first failure among them.
  void Wait();

 private:
  void Loop();

  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<std::function<void()>> FQueue;  // posted, not yet taken up
  std::uint64_t FPosted = 0;                 // pieces posted so far
  std::uint64_t FDone = 0;                   // pieces done so far: the first FDone of them
  bool FQuit = false;
  std::exception_ptr FFailure;  // the first failure not thrown yet
  std::uint64_t FFailedPiece = 0;
  std::thread FThread;  // last: it starts once everything above is made
};
