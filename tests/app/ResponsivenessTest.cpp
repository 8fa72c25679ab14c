// The form keeps answering while a run streams its log into it: the run appends each line to
// the day's log on its own thread and posts it to the form without waiting, so a main thread
// that is busy (an operator's dialog, a slow repaint) never holds the run up, and the lines
// still reach the form in the run's order. How long the main thread waits at worst is a
// benchmark figure (make bench).

#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include "AppFixture.h"
#include "BlinkText.h"
#include "LogBox.h"
#include "QtText.h"

using namespace apptest;

namespace {

TEST(FormResponsiveness, ARunGoesOnWhileTheMainThreadIsBusyAndItsLinesArriveInOrder) {
  constexpr int kStocks = 80;  // three lines each with indexing on: more than the form log
                               // holds, so it empties itself on the way
  TFormWorld W;
  W.RootSettings({"INDEX=1"});
  for (int i = 0; i < kStocks; ++i) {
    char code[8];
    std::snprintf(code, sizeof code, "%06d", 600000 + i);
    W.Deliver("shsrc", code, {"a", "b", "c"});
  }
  TfrmMain& f = W.MakeForm();
  ASSERT_TRUE(W.Errors.empty());

  QThread* const main = QThread::currentThread();
  std::mutex lock;
  std::condition_variable appendedMore;
  int appended = 0, onMain = 0;
  W.Fs.OnOperation([&](const std::string& kind, const std::string& path) {
    if (kind != "append" || path.find("UniteLog") == std::string::npos) return;
    std::lock_guard<std::mutex> guard(lock);
    ++appended;
    onMain += QThread::currentThread() == main;
    appendedMore.notify_all();
  });

  f.Button2->click();
  ASSERT_TRUE(f.Running());
  // The run has begun once its first line is in the day's log; then the main thread stops
  // serving, and the run must still log every stock.
  bool hung = false;
  QTimer::singleShot(30000, &f, [&hung] { hung = true; });  // a run that never starts fails below
  f.ServeUntil([&] {
    std::lock_guard<std::mutex> guard(lock);
    return appended > 0 || hung;
  });
  {
    std::unique_lock<std::mutex> guard(lock);
    EXPECT_TRUE(appendedMore.wait_for(guard, std::chrono::seconds(30), [&] { return appended >= 3 * kStocks; }))
        << "the run waited for the form: " << appended << " lines";
  }
  f.ServeUntil([&] { return !f.Running() || hung; });
  ASSERT_FALSE(f.Running());
  QCoreApplication::processEvents();

  EXPECT_EQ(onMain, 0);
  // The form shows the day's log's last lines, in its order.
  const QStringList day =
      QtFromGbk(ReadFile(W.Host("UniteLog2026-12-08.txt"))).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  const QStringList shown = f.meLog->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_GT(shown.size(), 0);
  EXPECT_LT(shown.size(), 3 * kStocks);  // the box emptied itself on the way
  ASSERT_GE(day.size(), shown.size());
  EXPECT_EQ(shown, day.mid(day.size() - shown.size()));
}

}  // namespace
