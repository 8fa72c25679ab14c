// A run on a thread of its own, with a host that serves the run's hand-overs on the test's
// thread the way the form serves them on the main thread.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <future>
#include <mutex>
#include <thread>

#include "RunFixture.h"

namespace enginetest {
namespace {

using namespace std::chrono_literals;

// Hand-overs wait in a queue until the serving thread runs them; the worker blocks on each.
class TQueueHost final : public TUniteHost {
 public:
  void Synchronize(const std::function<void()>& op) override {
    std::promise<void> done;
    std::future<void> result = done.get_future();
    {
      std::lock_guard<std::mutex> lock(FLock);
      FQueue.push_back({&op, &done});
    }
    FWake.notify_all();
    result.get();
  }
  // Serves hand-overs until the run has ended or `limit` has passed; true when it ended.
  bool Serve(std::chrono::milliseconds limit, const std::function<void()>& afterEach = {}) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!Ended) {
      TItem item;
      {
        std::unique_lock<std::mutex> lock(FLock);
        if (!FWake.wait_until(lock, deadline, [this] { return !FQueue.empty(); })) return false;
        item = FQueue.front();
        FQueue.pop_front();
      }
      try {
        (*item.Op)();
        item.Done->set_value();
      } catch (...) {
        item.Done->set_exception(std::current_exception());
      }
      if (afterEach) afterEach();
    }
    return true;
  }

  int LogLineCount() override { Seen(); return static_cast<int>(FormLog.size()); }
  void LogClear() override { Seen(); FormLog.clear(); }
  void LogAdd(const std::string& line, TLineKind) override { Seen(); FormLog.push_back(line); }
  void SetStatus(const std::string& text) override { Seen(); Status = text; }
  void SetTimerEnabled(bool on) override { Seen(); Events.push_back(on ? "timer:on" : "timer:off"); }
  void SetButtonEnabled(bool on) override { Seen(); Events.push_back(on ? "button:on" : "button:off"); }
  void RunEnded() override { Seen(); Events.push_back("ended"); Ended = true; }

  std::vector<std::string> FormLog;
  std::vector<std::string> Events;
  std::string Status;
  bool Ended = false;
  int ForeignCalls = 0;  // form calls made on any thread but the serving one

 private:
  struct TItem {
    const std::function<void()>* Op = nullptr;
    std::promise<void>* Done = nullptr;
  };
  void Seen() {
    if (std::this_thread::get_id() != FServer) ++ForeignCalls;
  }
  std::mutex FLock;
  std::condition_variable FWake;
  std::deque<TItem> FQueue;
  const std::thread::id FServer = std::this_thread::get_id();
};

class TThreadTest : public TRunTest {
 protected:
  void SetUp() override {
    MakeDir("shdes");
    MakeDir("szdes");
  }
  TUniteThread* StartedRun() {
    auto* run = new TUniteThread(Fs, Queue);
    run->FSrcPath = Drive("shsrc");
    run->FDesPath = Drive("shdes");
    run->FSzSrcPath = Drive("szsrc");
    run->FSzDesPath = Drive("szdes");
    run->Start();
    return run;
  }
  // Waits (bounded) for every run object to be gone.
  static bool AllReleased() { return TUniteThread::WaitUntilNoneAlive(10s); }
  TQueueHost Queue;
};

TEST_F(TThreadTest, RunOnItsOwnThreadEndsAndReleasesItself) {
  Deliver("shsrc", "600000", {"A"});
  Deliver("szsrc", "000002", {"A"});
  StartedRun();
  ASSERT_TRUE(Queue.Serve(20s)) << "the run never said it ended";
  EXPECT_TRUE(AllReleased());

  EXPECT_EQ(Queue.ForeignCalls, 0);
  ASSERT_GE(Queue.Events.size(), 5u);
  EXPECT_EQ(Queue.Events.front(), "timer:off");
  EXPECT_EQ(Queue.Events.back(), "ended");
  EXPECT_TRUE(Exists(Tmp / "shsrc/DATA/600000/600000A.sub"));
  EXPECT_TRUE(Exists(Tmp / "szsrc/DATA/000002/000002A.sub"));
  EXPECT_EQ(Queue.Status, "");
}

TEST_F(TThreadTest, StopAskedWhileTheRunWaitsOnAHandOverEndsItAtTheNextStock) {
  Deliver("shsrc", "600000", {"A"});
  Deliver("shsrc", "600001", {"A"});
  Deliver("szsrc", "000002", {"A"});
  TUniteThread* run = StartedRun();
  // As a closing form does: ask the run to stop at its first log line, then keep serving
  // its hand-overs until it says it has ended.
  bool asked = false;
  ASSERT_TRUE(Queue.Serve(20s, [&] {
    if (!asked && !Queue.FormLog.empty()) {
      run->Terminate();
      asked = true;
    }
  }));
  EXPECT_TRUE(asked);
  EXPECT_TRUE(AllReleased());

  EXPECT_TRUE(Exists(Tmp / "shsrc/DATA/600000/600000A.sub"));
  EXPECT_TRUE(Exists(Tmp / "shsrc/600001A.sub"));
  EXPECT_FALSE(Exists(Tmp / "shsrc/DATA/600001"));
  EXPECT_TRUE(Exists(Tmp / "szsrc/000002A.sub"));
  EXPECT_EQ(Queue.Events.back(), "ended");
}

TEST_F(TThreadTest, LogFailureRaisedOnTheServingThreadReachesTheRun) {
  Deliver("shsrc", "600000", {"A"});
  Fs.FailWhen("append", "UniteLog", kErrAccessDenied);
  StartedRun();
  ASSERT_TRUE(Queue.Serve(20s));
  EXPECT_TRUE(AllReleased());
  // The first line failed on the serving thread; the run reported it and stopped.
  EXPECT_EQ(Queue.Status, Caption(Drive("shsrc") + "\\DATA"));
  EXPECT_TRUE(Queue.FormLog.empty());
  EXPECT_EQ(Queue.Events.back(), "ended");
}

}  // namespace
}  // namespace enginetest
