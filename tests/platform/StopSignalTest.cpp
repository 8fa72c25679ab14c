// A stop request wakes a thread that waits on it, whenever it comes. A wait that is not woken
// hangs the test, which is its failure.

#include <thread>

#include "StopSignal.h"
#include "TestSupport.h"

namespace {

constexpr int kForever = 24 * 3600 * 1000;

TEST(StopSignal, EndsEveryWaitOnceRaisedAndNoneBefore) {
  TStopSignal stop;
  EXPECT_FALSE(stop.Raised());
  EXPECT_FALSE(stop.Wait(1));
  bool woken = false;
  std::thread waiter([&] { woken = stop.Wait(kForever); });
  stop.Raise();
  waiter.join();
  EXPECT_TRUE(woken);
  EXPECT_TRUE(stop.Wait(kForever));  // and every wait after it
}

}  // namespace
