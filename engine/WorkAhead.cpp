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

std::uint64_t TWorkAhead::Post(std::function<void()> work) {
  std::uint64_t ticket;
  {
    std::lock_guard<std::mutex> guard(FLock);
    FQueue.push_back(std::move(work));
    ticket = ++FPosted;
  }
  FChanged.notify_all();
  return ticket;
}

void TWorkAhead::Wait(std::uint64_t ticket) {
  std::unique_lock<std::mutex> lock(FLock);
  FChanged.wait(lock, [this, ticket] { return FDone >= ticket; });
  if (FFailure && FFailedPiece <= ticket) std::rethrow_exception(std::exchange(FFailure, nullptr));
}

void TWorkAhead::Wait() {
  std::uint64_t last;
  {
    std::lock_guard<std::mutex> guard(FLock);
    last = FPosted;
  }
  Wait(last);
}

void TWorkAhead::Loop() {
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    // What was posted is done before a quit is heeded: nothing is left half done.
    FChanged.wait(lock, [this] { return FQuit || !FQueue.empty(); });
    if (FQueue.empty()) return;
    std::function<void()> work = std::move(FQueue.front());
    FQueue.pop_front();
    lock.unlock();
    std::exception_ptr failure;
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    work = nullptr;  // what the piece holds goes before it counts as done
    lock.lock();
    ++FDone;
    if (failure && !FFailure) {
      FFailure = failure;
      FFailedPiece = FDone;
    }
    FChanged.notify_all();
  }
}
