// The form keeps answering while a run streams its log into it: each hand-over is one turn of
// the main thread's event loop, so whatever was queued meanwhile (an operator's click) is
// answered before the run's next hand-over, however fast the run goes and however busy the
// machine is. How long the main thread waits at worst is a benchmark figure (make bench).

#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <utility>
#include <vector>

#include "AppFixture.h"
#include "BlinkText.h"

using namespace apptest;

namespace {

TEST(FormResponsiveness, AnEventQueuedDuringAHandOverIsAnsweredBeforeTheNextOne) {
  constexpr int kStocks = 80;  // three lines each with indexing on: the form log fills and
                               // empties itself on the way
  TFormWorld W;
  W.RootSettings({"INDEX=1"});
  for (int i = 0; i < kStocks; ++i) {
    char code[8];
    std::snprintf(code, sizeof code, "%06d", 600000 + i);
    W.Deliver("shsrc", code, {"a", "b", "c"});
  }
  TfrmMain& f = W.MakeForm();
  ASSERT_TRUE(W.Errors.empty());

  // Every log line is appended to the day's log inside its hand-over, on the main thread.
  // At every fifth one an event is queued; it notes how many lines had been appended when
  // it was answered.
  QThread* const main = QThread::currentThread();
  int appended = 0;
  std::atomic<int> offThread{0};
  std::vector<std::pair<int, int>> answers;  // lines when queued, lines when answered
  W.Fs.OnOperation([&](const std::string& kind, const std::string& path) {
    if (kind != "append" || path.find("UniteLog") == std::string::npos) return;
    if (QThread::currentThread() != main) {
      ++offThread;
      return;
    }
    const int queuedAt = ++appended;
    if (queuedAt % 5 == 0)
      QMetaObject::invokeMethod(
          f.RzMStatus, [&answers, &appended, queuedAt] { answers.emplace_back(queuedAt, appended); },
          Qt::QueuedConnection);
  });

  // The form's own wait serves the run: the event loop, asked after every event whether the
  // run has ended (a test's wait loop would nap between its checks).
  bool hung = false;
  QTimer::singleShot(30000, &f, [&hung] { hung = true; });  // a run that never ends fails below
  f.Button2->click();
  ASSERT_TRUE(f.Running());
  f.ServeUntil([&] { return !f.Running() || hung; });
  ASSERT_FALSE(f.Running());
  QCoreApplication::processEvents();  // the last events queued

  EXPECT_EQ(offThread, 0);
  EXPECT_GE(appended, 3 * kStocks);
  EXPECT_LT(f.LogLineCount(), 3 * kStocks);  // the box emptied itself on the way
  ASSERT_EQ(static_cast<int>(answers.size()), appended / 5);
  for (const auto& [queuedAt, answeredAt] : answers)
    EXPECT_EQ(answeredAt, queuedAt) << "an event queued at line " << queuedAt
                                    << " waited for the run's lines up to " << answeredAt;
}

}  // namespace
