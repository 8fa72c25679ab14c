// Runs started from the form: the timer and the execute-now button around a run, one run at a
// time, a bad LASTFILETIME, closing the form while a run is in progress.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "AppFixture.h"
#include "BlinkText.h"
#include "uUniteThread.h"

using namespace apptest;

namespace {

class FormRun : public ::testing::Test {
 protected:
  TFormWorld W;
};

TEST_F(FormRun, TimerAndButtonAreOffDuringARunAndBackAFullIntervalAfterIt) {
  W.RootSettings({"INTERNAL=3"});
  W.Deliver("shsrc", "600000", {"a", "b"});
  W.HoldFirstMove();
  TfrmMain& f = W.MakeForm();
  ASSERT_TRUE(W.Errors.empty());
  ASSERT_TRUE(f.Timer1->isActive());

  f.Button2->click();
  EXPECT_TRUE(f.Running());
  EXPECT_FALSE(f.Timer1->isActive());
  EXPECT_FALSE(f.Button2->isEnabled());
  ASSERT_TRUE(WaitFor([&] { return W.Gate.Arrived(); }));
  EXPECT_EQ(TUniteThread::Alive(), 1);

  // A tick already queued, or a click, while the run is in progress starts nothing.
  f.Timer1Timer();
  f.Button2->click();
  EXPECT_EQ(TUniteThread::Alive(), 1);
  // The form stays responsive: settings can be saved meanwhile.
  f.edInternal->setText("4");
  f.Button1->click();
  EXPECT_EQ(W.Option("INTERNAL"), "4");

  // A timer of the same interval started now, before the run goes on: the form's timer is
  // started at the run's end, so its tick can come no sooner than this one's.
  QTimer before;
  before.setTimerType(f.Timer1->timerType());
  before.start(3 * 60000);
  W.Gate.Open();
  ASSERT_TRUE(WaitFor([&] { return !f.Running(); }));
  EXPECT_TRUE(f.Button2->isEnabled());
  EXPECT_TRUE(f.Timer1->isActive());
  EXPECT_EQ(f.Timer1->interval(), 3 * 60000);  // the saved 4 waits for the next start
  const int remaining = f.Timer1->remainingTime();  // asked first: later answers only shrink
  EXPECT_GE(remaining, before.remainingTime());
  EXPECT_TRUE(W.Errors.empty());

  // The run staged the stock and logged into the form.
  EXPECT_TRUE(Exists(W.Host("shsrc/DATA/600000/600000a.sub")));
  EXPECT_TRUE(Exists(W.Host("shsrc/DATA/600000/600000b.sub")));
  EXPECT_FALSE(Exists(W.Host("shsrc/600000a.sub")));
  EXPECT_GT(f.LogLineCount(), 0);
  EXPECT_TRUE(Exists(W.Host("UniteLog2026-12-08.txt")));
}

TEST_F(FormRun, TheRunGetsTheSavedPathsAndTheIndexChoiceAsShown) {
  W.RootSettings({"REPORT=reports\\form.json"});
  W.MakeDir("reports");
  W.Deliver("shsrc", "600000", {"a"});
  TfrmMain& f = W.MakeForm();
  // An unsaved folder does not reach the run; the unsaved index choice does.
  f.edSrcPath->setText(QString::fromStdString(W.Drive("elsewhere")));
  f.RadioButton1->click();
  f.Button2->click();
  ASSERT_TRUE(WaitFor([&] { return !f.Running(); }));
  EXPECT_TRUE(Exists(W.Host("shsrc/DATA/600000/600000a.sub")));
  EXPECT_FALSE(Exists(W.Host("elsewhere")));
  // The settings' REPORT names where the form's runs report, beside the settings.
  const QJsonObject report =
      QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(W.Host("reports/form.json")))).object();
  EXPECT_EQ(report["status"].toInt(), 0);
  EXPECT_EQ(report["markets"].toArray()[0].toObject()["merged"].toInt(), 1);
}

TEST_F(FormRun, WithIntervalZeroTheEndOfARunStartsNoTicks) {
  W.RootSettings({"INTERNAL=0"});
  TfrmMain& f = W.MakeForm();
  f.Button2->click();
  ASSERT_TRUE(WaitFor([&] { return !f.Running(); }));
  EXPECT_TRUE(f.Button2->isEnabled());
  EXPECT_TRUE(f.TimerEnabled());
  EXPECT_FALSE(f.Timer1->isActive());
}

TEST_F(FormRun, AfterABadIntervalTheEndOfARunStartsNoTicksEither) {
  W.RootSettings({"INTERNAL=x"});
  TfrmMain& f = W.MakeForm();
  ASSERT_EQ(W.Errors.size(), 1u);
  f.Button2->click();
  ASSERT_TRUE(WaitFor([&] { return !f.Running(); }));
  EXPECT_FALSE(f.Timer1->isActive());
}

TEST_F(FormRun, TheTimerTickStartsARun) {
  W.RootSettings();
  W.Deliver("szsrc", "000001", {"a"});
  TfrmMain& f = W.MakeForm();
  f.Timer1->start(1);  // the next tick now rather than in a minute
  ASSERT_TRUE(WaitFor([&] { return Exists(W.Host("szsrc/DATA/000001/000001a.sub")); }));
  ASSERT_TRUE(WaitFor([&] { return !f.Running(); }));
  EXPECT_EQ(f.Timer1->interval(), 60000);
  EXPECT_TRUE(Exists(W.Host("szsrc/DATA/000001/000001a.sub")));
}

TEST_F(FormRun, BadLastFileTimeStopsEveryStartOfARun) {
  W.RootSettings({"LASTFILETIME=31/31/31"});
  W.Deliver("shsrc", "600000", {"a"});
  TfrmMain& f = W.MakeForm();
  ASSERT_EQ(W.Errors.size(), 1u);  // at creation
  for (int attempt = 0; attempt < 2; ++attempt) {
    f.Button2->click();
    EXPECT_FALSE(f.Running());
  }
  ASSERT_EQ(W.Errors.size(), 3u);
  EXPECT_EQ(W.Errors[2].first, "lorvane");
  EXPECT_EQ(W.Errors[2].second, "'31/31/31' is not a valid date and time.");
  EXPECT_TRUE(f.Timer1->isActive());
  EXPECT_TRUE(f.Button2->isEnabled());
  EXPECT_TRUE(Exists(W.Host("shsrc/600000a.sub")));  // nothing ran
}

TEST_F(FormRun, ARunFailureShowsInTheStatusTextNotInAnErrorBox) {
  W.Settings({"[OPTION]", "SRC=" + W.Drive("missing/sh"), "DES=" + W.Drive("out")});
  TfrmMain& f = W.MakeForm();
  f.Button2->click();
  ASSERT_TRUE(WaitFor([&] { return !f.Running(); }));
  EXPECT_TRUE(W.Errors.empty());
  const std::string status = Utf8(f.RzMStatus->text());
  EXPECT_EQ(status.rfind("Lorvane错误", 0), 0u) << status;
  EXPECT_NE(status.find("目录创建错误"), std::string::npos) << status;
  EXPECT_NE(Utf8(f.meLog->toPlainText()).find(" 目录创建错误"), std::string::npos);
}

TEST_F(FormRun, ClosingDuringARunStopsItAtTheNextStockWithoutDeadlock) {
  W.RootSettings();
  W.Deliver("shsrc", "600000", {"a", "b"});
  W.Deliver("shsrc", "600001", {"a"});
  W.HoldFirstMove();
  TfrmMain& f = W.MakeForm();
  f.show();
  f.Button2->click();
  ASSERT_TRUE(WaitFor([&] { return W.Gate.Arrived(); }));

  // The run is held inside its first stock; the close must keep serving its hand-overs,
  // this one among them.
  QTimer::singleShot(0, [this] { W.Gate.Open(); });
  EXPECT_TRUE(f.close());
  EXPECT_FALSE(f.Running());
  EXPECT_FALSE(f.isVisible());
  // The stock in hand was staged whole; the next one waits for the next run.
  EXPECT_TRUE(Exists(W.Host("shsrc/DATA/600000/600000a.sub")));
  EXPECT_TRUE(Exists(W.Host("shsrc/DATA/600000/600000b.sub")));
  EXPECT_FALSE(Exists(W.Host("shsrc/600000b.sub")));
  EXPECT_TRUE(Exists(W.Host("shsrc/600001a.sub")));
  EXPECT_FALSE(Exists(W.Host("shsrc/DATA/600001")));
  EXPECT_FALSE(f.Timer1->isActive());  // a closed form starts no more runs
  EXPECT_TRUE(TUniteThread::WaitUntilNoneAlive(std::chrono::seconds(20)));
}

TEST_F(FormRun, DestroyingTheFormDuringARunWaitsForIt) {
  W.RootSettings();
  W.Deliver("shsrc", "600000", {"a"});
  W.Deliver("shsrc", "600001", {"a"});
  W.HoldFirstMove();
  TfrmMain& f = W.MakeForm();
  f.Button2->click();
  ASSERT_TRUE(WaitFor([&] { return W.Gate.Arrived(); }));
  QTimer::singleShot(0, [this] { W.Gate.Open(); });
  W.Form.reset();
  EXPECT_TRUE(Exists(W.Host("shsrc/DATA/600000/600000a.sub")));
  EXPECT_TRUE(Exists(W.Host("shsrc/600001a.sub")));
  EXPECT_TRUE(TUniteThread::WaitUntilNoneAlive(std::chrono::seconds(20)));
}

}  // namespace
