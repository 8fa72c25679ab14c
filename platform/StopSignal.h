#pragma once
// A stop request that a sleeping thread hears at once: raised from any thread, or from a
// signal handler, it ends every wait on it now and later. Every method is safe for
// concurrent use.

#include <atomic>
#include <cstdint>

class TStopSignal {
 public:
  TStopSignal();
  ~TStopSignal();
  TStopSignal(const TStopSignal&) = delete;
  TStopSignal& operator=(const TStopSignal&) = delete;

  // Safe from any thread and from a signal handler.
  void Raise() noexcept;
  // Safe from any thread.
  bool Raised() const noexcept { return FRaised.load(); }
  // Waits up to `milliseconds`: true when the signal is raised, before or meanwhile. Any
  // number of threads may wait at once.
  bool Wait(int milliseconds) const noexcept;

 private:
  std::atomic<bool> FRaised{false};
  std::intptr_t FHandle = -1;  // what a waiter blocks on: an eventfd, or a Win32 event
};
