#include "StopSignal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

TStopSignal::TStopSignal() : FHandle(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TStopSignal::~TStopSignal() {
  if (FHandle >= 0) ::close(static_cast<int>(FHandle));
}

void TStopSignal::Raise() noexcept {
  FRaised = true;
  if (FHandle < 0) return;
  const std::uint64_t one = 1;
  // Only write(2): a signal handler may call this.
  while (::write(static_cast<int>(FHandle), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

bool TStopSignal::Wait(int milliseconds) const noexcept {
  using TClock = std::chrono::steady_clock;
  const auto deadline = TClock::now() + std::chrono::milliseconds(milliseconds);
  while (!Raised()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    if (left <= 0) break;
    if (FHandle < 0) {
      // Without an eventfd the wait is cut into short naps, so a stop is still heard soon.
      std::this_thread::sleep_for(std::chrono::milliseconds(left < 50 ? left : 50));
      continue;
    }
    pollfd p{static_cast<int>(FHandle), POLLIN, 0};
    // The counter is never read back: once raised, every wait ends at once.
    (void)::poll(&p, 1, static_cast<int>(left));
  }
  return Raised();
}
