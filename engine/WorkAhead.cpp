#include "WorkAhead.h"

#include <utility>

TWorkAhead::TWorkAhead() : FThread([this] { Loop(); }) {}

TWorkAhead::~TWorkAhead() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FQuit = true;
  }
  FChanged.notify_all();
  FThread.join();
}

void TWorkAhead::Post(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FQueue.push_back(std::move(work));
  }
  FChanged.notify_all();
}

void TWorkAhead::Wait() {
  std::unique_lock<std::mutex> lock(FLock);
  FChanged.wait(lock, [this] { return FQueue.empty() && !FRunning; });
  if (FFailure) std::rethrow_exception(std::exchange(FFailure, nullptr));
}

void TWorkAhead::Loop() {
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    // What was posted is done before a quit is heeded: nothing is left half done.
    FChanged.wait(lock, [this] { return FQuit || !FQueue.empty(); });
    if (FQueue.empty()) return;
    std::function<void()> work = std::move(FQueue.front());
    FQueue.pop_front();
    FRunning = true;
    lock.unlock();
    std::exception_ptr failure;
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    work = nullptr;  // what the piece holds goes before it counts as done
    lock.lock();
    if (failure && !FFailure) FFailure = failure;
    FRunning = false;
    if (FQueue.empty()) FChanged.notify_all();
  }
}
