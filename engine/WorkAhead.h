#pragma once
// A second thread for the work of a run that need not wait: the staging of the next stock,
// the copies of the current one into the mirrors. Pieces run one at a time in the order they
// were posted; the first failure one throws is kept and thrown again by the next Wait(), on
// the caller's thread.

#include <condition_variable>
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

  void Post(std::function<void()> work);
  // Waits until every piece posted is done, and throws the first failure among them.
  void Wait();

 private:
  void Loop();

  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<std::function<void()>> FQueue;  // posted, not yet taken up
  bool FRunning = false;                     // a piece taken up is not done yet
  bool FQuit = false;
  std::exception_ptr FFailure;
  std::thread FThread;  // last: it starts once everything above is made
};
