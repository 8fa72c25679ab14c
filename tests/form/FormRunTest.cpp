// Runs started from the form: the timer and the execute-now button around a run, one run at a
// time, a bad LASTFILETIME, closing the form while a run is in progress.

#include <algorithm>

#include "FormFixture.h"

using namespace formtest;

namespace {

using FormRun = FormTest;

TEST_F(FormRun, TimerAndButtonAreOffDuringARunAndBackAFullIntervalAfterIt) {
  W.RootSettings({"INTERNAL=3"});
  W.Deliver("shsrc", "600000", {"a", "b"});
  W.Deliver("szsrc", "000002", {"a"});
  W.HoldFirstMove();
  TFormLogic& f = W.MakeForm();
  ASSERT_TRUE(W.View.Errors.empty());
  ASSERT_TRUE(W.View.TimerOn);
  const int starts = W.View.TimerStarts;

  f.RunNowClicked();
  EXPECT_TRUE(f.Running());
  EXPECT_FALSE(W.View.TimerOn);
  EXPECT_FALSE(W.View.RunButtonOn);
  W.ServeUntilHeld();
  EXPECT_EQ(TUniteThread::Alive(), 1);

  // A tick already queued, or a click, while the run is in progress starts nothing.
  f.TimerTicked();
  f.RunNowClicked();
  EXPECT_EQ(TUniteThread::Alive(), 1);
  // The form stays responsive: settings can be saved meanwhile.
  W.Field(Interval) = "4";
  f.SaveClicked();
  EXPECT_EQ(W.Option("INTERNAL"), "4");

  W.OpenGate();
  W.ServeRun();
  EXPECT_TRUE(W.View.RunButtonOn);
  EXPECT_TRUE(W.View.TimerOn);
  EXPECT_EQ(W.View.TimerMs, 3 * 60000);  // the saved 4 waits for the next start
  // Started once since the click, after the run's last line: a full interval from its end.
  EXPECT_EQ(W.View.TimerStarts, starts + 1);
  ASSERT_GE(W.View.Events.size(), 2u);
  EXPECT_EQ(W.View.Events[W.View.Events.size() - 2], "timer:180000");
  EXPECT_EQ(W.View.Events.back(), "button:on");
  EXPECT_TRUE(W.View.Errors.empty());
  EXPECT_EQ(W.View.StatusText, "");

  // The run staged the stocks of both markets and logged into the form.
  EXPECT_TRUE(Exists(W.Host("shsrc/DATA/600000/600000a.sub")));
  EXPECT_TRUE(Exists(W.Host("shsrc/DATA/600000/600000b.sub")));
  EXPECT_FALSE(Exists(W.Host("shsrc/600000a.sub")));
  EXPECT_TRUE(Exists(W.Host("szsrc/DATA/000002/000002a.sub")));
  EXPECT_GT(W.View.LogLineCount(), 0);
  EXPECT_TRUE(Exists(W.Host("UniteLog2026-12-08.txt")));
}

TEST_F(FormRun, TheTimerTickStartsARunWithTheSavedPathsAndTheIndexChoiceAsShown) {
  W.RootSettings({"REPORT=reports\\form.json"});
  W.MakeDir("reports");
  W.Deliver("shsrc", "600000", {"a"});
  W.Deliver("szsrc", "000001", {"a"});
  TFormLogic& f = W.MakeForm();
  // An unsaved folder does not reach the run; the unsaved index choice does.
  W.Field(SrcPath) = W.Drive("elsewhere");
  W.ClickIndex(true);
  ASSERT_TRUE(W.View.TimerOn);
  f.TimerTicked();
  EXPECT_TRUE(f.Running());
  W.ServeRun();
  EXPECT_EQ(W.View.TimerMs, 60000);
  EXPECT_TRUE(Exists(W.Host("shsrc/DATA/600000/600000a.sub")));
  EXPECT_TRUE(Exists(W.Host("szsrc/DATA/000001/000001a.sub")));
  EXPECT_FALSE(Exists(W.Host("elsewhere")));
  // The settings' REPORT names where the form's runs report, beside the settings.
  const std::string report = ReadFile(W.Host("reports/form.json"));
  EXPECT_NE(report.find("\"status\": 0,"), std::string::npos) << report;
  EXPECT_NE(report.find("{\"market\": \"sh\", \"configured\": true, \"merged\": 1,"), std::string::npos) << report;
}

// A report aimed at the settings would replace them with its JSON: the run does not start,
// says why, and the settings stay as they were.
TEST_F(FormRun, AReportAimedAtTheSettingsIsRefusedAndNeverWritten) {
  W.RootSettings({"REPORT=lorvane.ini"});
  W.Deliver("shsrc", "600000", {"a"});
  const std::string settings = ReadFile(W.Host("LORVANE.INI"));
  TFormLogic& f = W.MakeForm();
  f.RunNowClicked();
  W.ServeRun();
  EXPECT_EQ(ReadFile(W.Host("LORVANE.INI")), settings);
  EXPECT_EQ(W.View.StatusText.rfind(Texts::ErrorCaption + Texts::SettingsRefused + "OPTION\\REPORT", 0), 0u)
      << GbkToUtf8(W.View.StatusText);
  EXPECT_TRUE(Exists(W.Host("shsrc/600000a.sub")));
}

TEST(FormRunEnd, WithIntervalZeroOrAfterABadIntervalTheEndOfARunStartsNoTicks) {
  const std::pair<const char*, std::size_t> rows[] = {{"INTERNAL=0", 0}, {"INTERNAL=x", 1}};  // line, errors
  for (const auto& [interval, errors] : rows) {
    SCOPED_TRACE(interval);
    TFormWorld w;
    w.RootSettings({interval});
    TFormLogic& f = w.MakeForm();
    EXPECT_EQ(w.View.Errors.size(), errors);
    f.RunNowClicked();
    w.ServeRun();
    EXPECT_TRUE(w.View.RunButtonOn);
    EXPECT_TRUE(f.TimerEnabled());
    EXPECT_FALSE(w.View.TimerOn);
  }
}

TEST_F(FormRun, BadLastFileTimeStopsEveryStartOfARun) {
  W.RootSettings({"LASTFILETIME=31/31/31"});
  W.Deliver("shsrc", "600000", {"a"});
  TFormLogic& f = W.MakeForm();
  ASSERT_EQ(W.View.Errors.size(), 1u);  // at creation
  for (int attempt = 0; attempt < 2; ++attempt) {
    f.RunNowClicked();
    EXPECT_FALSE(f.Running());
  }
  ASSERT_EQ(W.View.Errors.size(), 3u);
  EXPECT_EQ(W.View.Errors[2], testsupport::TFakeFormView::TBox("lorvane", "'31/31/31' is not a valid date and time."));
  EXPECT_TRUE(W.View.TimerOn);
  EXPECT_TRUE(W.View.RunButtonOn);
  EXPECT_TRUE(Exists(W.Host("shsrc/600000a.sub")));  // nothing ran
}

// A failure the run meets, or one its hand-over meets on the main thread (the day's log cannot
// be written) and carries back to the run, shows in the status text, not in an error box.
TEST(FormRunFailure, ShowsInTheStatusTextNotInAnErrorBox) {
  for (const bool logWritable : {true, false}) {
    SCOPED_TRACE(logWritable ? "a source root that cannot hold its archive" : "a day's log that cannot be written");
    TFormWorld w;
    const std::string root = w.Drive(logWritable ? "missing/sh" : "shsrc");
    if (logWritable) {
      w.Settings({"[OPTION]", "SRC=" + root, "DES=" + w.Drive("out")});
    } else {
      w.RootSettings();
      w.Deliver("shsrc", "600000", {"a"});
      w.Fs.FailWhen("append", "UniteLog", kErrAccessDenied);
    }
    w.MakeForm().RunNowClicked();
    w.ServeRun();
    EXPECT_TRUE(w.View.Errors.empty());
    // The caption names the archive of the market at hand, but a day's log that cannot be
    // written is named as the cause itself.
    EXPECT_EQ(GbkToUtf8(w.View.StatusText),
              logWritable ? "Lorvane错误" + root + "\\DATA目录创建错误"
                          : "Lorvane错误无法写入日志文件：" + w.Drive("UniteLog2026-12-08.txt") + " File access denied");
    if (logWritable) {
      EXPECT_TRUE(std::any_of(w.View.Log.begin(), w.View.Log.end(), [&](const std::string& line) {
        return GbkToUtf8(line).find(root + "\\DATA 目录创建错误") != std::string::npos;
      }));
    } else {
      EXPECT_TRUE(w.View.Log.empty());  // a line the day's log did not get does not reach the form's
    }
    EXPECT_EQ(w.View.Events.back(), "button:on");  // the run ended
  }
}

class FormRunHeld : public FormTest {
 protected:
  // A run held inside its first stock, of two waiting, and one waiting in the other market.
  void StartHeldRun() {
    W.RootSettings();
    W.Deliver("shsrc", "600000", {"a", "b"});
    W.Deliver("shsrc", "600001", {"a"});
    W.Deliver("szsrc", "000002", {"a"});
    W.HoldFirstMove();
    W.MakeForm().RunNowClicked();
    W.ServeUntilHeld();
    // The wait for the run must keep serving its hand-overs, this one among them.
    W.View.Post([this] { W.OpenGate(); });
  }
};

TEST_F(FormRunHeld, ClosingDuringARunStopsItAtTheNextStockWithoutDeadlock) {
  StartHeldRun();
  TFormLogic& f = *W.Logic;
  EXPECT_TRUE(f.CloseRequested());
  EXPECT_FALSE(f.Running());
  // The stock in hand was staged whole; the next one, and the other market, wait for the next
  // run.
  EXPECT_TRUE(Exists(W.Host("shsrc/DATA/600000/600000a.sub")));
  EXPECT_TRUE(Exists(W.Host("shsrc/DATA/600000/600000b.sub")));
  EXPECT_FALSE(Exists(W.Host("shsrc/600000b.sub")));
  EXPECT_TRUE(Exists(W.Host("shsrc/600001a.sub")));
  EXPECT_FALSE(Exists(W.Host("shsrc/DATA/600001")));
  EXPECT_TRUE(Exists(W.Host("szsrc/000002a.sub")));
  EXPECT_FALSE(W.View.TimerOn);  // a closed form starts no more runs
}

TEST_F(FormRunHeld, DestroyingTheFormDuringARunWaitsForIt) {
  StartHeldRun();
  W.Logic.reset();
  EXPECT_TRUE(Exists(W.Host("shsrc/DATA/600000/600000a.sub")));
  EXPECT_TRUE(Exists(W.Host("shsrc/600001a.sub")));
}

}  // namespace
