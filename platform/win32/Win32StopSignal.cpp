// TStopSignal on a manual-reset event: once set it stays set, so every wait, now or later,
// ends at once. SetEvent may be called from any thread, a console control handler's too.
#include "Win32Api.h"

#include <chrono>

#include "StopSignal.h"

TStopSignal::TStopSignal()
    : FHandle(reinterpret_cast<std::intptr_t>(CreateEventW(nullptr, TRUE, FALSE, nullptr))) {}

TStopSignal::~TStopSignal() {
  if (FHandle) CloseHandle(reinterpret_cast<HANDLE>(FHandle));
}

void TStopSignal::Raise() noexcept {
  FRaised = true;
  if (FHandle) SetEvent(reinterpret_cast<HANDLE>(FHandle));
}

bool TStopSignal::Wait(int milliseconds) const noexcept {
  if (Raised() || milliseconds <= 0) return Raised();
  if (!FHandle) {
    // Without an event the wait is cut into short naps, so a stop is still heard soon.
    using TClock = std::chrono::steady_clock;
    const auto deadline = TClock::now() + std::chrono::milliseconds(milliseconds);
    while (!Raised() && TClock::now() < deadline) ::Sleep(20);
    return Raised();
  }
  (void)WaitForSingleObject(reinterpret_cast<HANDLE>(FHandle), static_cast<DWORD>(milliseconds));
  return Raised();
}
