// The directory fields, the status text, the notification area and the form's side of a
// run's hand-overs.

#include <filesystem>
#include <thread>

#include "Failure.h"
#include "FormFixture.h"
#include "FormHost.h"

using namespace formtest;

namespace {

class FormControls : public FormTest {
 protected:
  FormControls() : F(W.MakeForm()) {}
  TFormLogic& F;
};

TEST_F(FormControls, TypingIntoADirectoryFieldChangesNothing) {
  for (TFormField field : {SrcPath, SzSrcPath, DesPath, SzDesPath})
    for (char16_t key : {u'a', u'\\', u' ', u'\b', u'\r', u'\x1b', u'X', u'行'})
      EXPECT_EQ(F.DirectoryKeyTyped(field, key), 0) << static_cast<int>(field) << " " << static_cast<int>(key);
  EXPECT_TRUE(W.View.Chooser.empty());
}

TEST_F(FormControls, BrowseOpensTheFolderDialogAtTheFieldsFolder) {
  W.MakeDir("feed");
  W.MakeDir("chosen");
  W.Field(DesPath) = W.Drive("feed");
  W.View.ChooserAnswer = W.Host("chosen/");  // as a dialog may answer: with a separator at the end
  F.BrowseClicked(DesPath);
  ASSERT_EQ(W.View.Chooser.size(), 1u);
  EXPECT_EQ(W.View.Chooser[0].first, "Select Directory");
  EXPECT_EQ(W.View.Chooser[0].second, W.Host("feed"));
  // The chosen host folder comes back as a drive path without a trailing backslash.
  EXPECT_EQ(W.Field(DesPath), W.Drive("chosen"));
  // Choosing is not saving: the run still gets the saved folder.
  EXPECT_EQ(F.DesPath(), "");

  // Cancel leaves the field alone.
  W.View.ChooserAnswer.clear();
  F.BrowseClicked(DesPath);
  ASSERT_EQ(W.View.Chooser.size(), 2u);
  EXPECT_EQ(W.View.Chooser[1].second, W.Host("chosen"));
  EXPECT_EQ(W.Field(DesPath), W.Drive("chosen"));
}

TEST_F(FormControls, BrowseFromAnEmptyOrMissingFolderStartsOnTheCurrentDrive) {
  const std::string root = testsupport::HostText(std::filesystem::current_path().root_path());
  for (const std::string& current : {std::string(), W.Drive("no such folder")}) {
    W.Field(SrcPath) = current;
    W.View.Chooser.clear();
    W.View.ChooserAnswer = root;
    F.BrowseClicked(SrcPath);
    ASSERT_EQ(W.View.Chooser.size(), 1u);
    EXPECT_EQ(W.View.Chooser[0].second, root);
    // A drive's root keeps its backslash ("Z:\").
    EXPECT_EQ(W.Field(SrcPath).size(), 3u);
    EXPECT_EQ(W.Field(SrcPath).substr(1), ":\\");
  }
}

TEST_F(FormControls, StatusClickOpensTodaysLogAndClearsTheTextButWithoutItDoesNothing) {
  W.View.SetStatus(Utf8ToGbk("Lorvane错误x"));
  WriteFile(W.Host("UniteLog2026-12-07.txt"), "yesterday\r\n");
  F.StatusClicked();
  EXPECT_TRUE(W.View.Opened.empty());
  EXPECT_EQ(W.View.StatusText, Utf8ToGbk("Lorvane错误x"));

  WriteFile(W.Host("UniteLog2026-12-08.txt"), "[x] line\r\n");
  F.StatusClicked();
  ASSERT_EQ(W.View.Opened.size(), 1u);
  EXPECT_EQ(W.View.Opened[0], W.Host("UniteLog2026-12-08.txt"));
  EXPECT_EQ(W.View.StatusText, "");
  // An empty status text with today's log still opens it.
  F.StatusClicked();
  EXPECT_EQ(W.View.Opened.size(), 2u);
}

TEST_F(FormControls, StatusTextBlinksOnEachTick) {
  for (const bool highlighted : {true, false, true}) {
    F.BlinkTicked();
    EXPECT_EQ(W.View.Highlighted, highlighted);
  }
}

TEST_F(FormControls, MinimizingHidesInTheNotificationAreaOnlyWhileThereIsOne) {
  W.View.Tray = false;
  F.Minimized();  // no notification area: the taskbar button stays
  EXPECT_TRUE(W.View.Window.empty());
  W.View.Tray = true;
  F.Minimized();
  F.TrayDoubleClicked();
  F.Minimized();
  F.TrayChanged();  // still there
  W.View.Tray = false;
  F.TrayChanged();  // gone while the form hid in it: the taskbar button comes back
  F.TrayChanged();
  EXPECT_EQ(W.View.Window,
            (std::vector<std::string>{"hidden to tray", "restored", "hidden to tray", "shown minimized"}));
}

// --- The form's side of a run's hand-overs ---

TEST_F(FormControls, HandOversFromAWorkerRunOnTheMainThreadAndCarryFailuresBack) {
  TFormHost host(F, W.View);
  bool done = false;  // set on the main thread
  std::string caught;
  std::thread::id ranOn;
  std::thread worker([&] {
    host.Synchronize([&] { ranOn = std::this_thread::get_id(); });
    try {
      host.Synchronize([] { throw EFailure("File access denied"); });
    } catch (const EFailure& failure) {
      caught = failure.Message();
    }
    W.View.Post([&] { done = true; });
  });
  W.View.ServeUntil([&] { return done; });
  worker.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_EQ(caught, "File access denied");

  // On the main thread a hand-over runs in place.
  bool inPlace = false;
  host.Synchronize([&] { inPlace = true; });
  EXPECT_TRUE(inPlace);
}

}  // namespace
