// The directory fields, the status text, the notification-area behaviour and the form's side
// of a run's hand-overs.

#include <QClipboard>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTimer>

#include <atomic>
#include <thread>

#include "AppFixture.h"
#include "BlinkText.h"
#include "DirectoryEdit.h"
#include "QtHost.h"

using namespace apptest;

namespace {

class FormControls : public ::testing::Test {
 protected:
  FormControls() : F(W.MakeForm()) {}
  TFormWorld W;
  TfrmMain& F;
};

TEST_F(FormControls, TypingIntoADirectoryFieldChangesNothing) {
  for (TDirectoryEdit* field : {F.edSrcPath, F.edSzSrcPath, F.edDesPath, F.edSzDesPath}) {
    field->setText("Z:\\feed");
    field->setCursorPosition(4);
    QTest::keyClicks(field, "abc\\ ");
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Escape);
    QTest::keyClick(field, 'x', Qt::ShiftModifier);
    EXPECT_EQ(Utf8(field->text()), "Z:\\feed");
  }
  EXPECT_TRUE(W.Chooser.empty());
}

TEST_F(FormControls, DeleteArrowsAndTheEditCommandsKeepTheirEffect) {
  TDirectoryEdit* field = F.edSrcPath;
  field->setText("Z:\\feed");
  field->setCursorPosition(0);
  QTest::keyClick(field, Qt::Key_Right);
  QTest::keyClick(field, Qt::Key_Delete);
  EXPECT_EQ(Utf8(field->text()), "Z\\feed");

  field->selectAll();
  QTest::keySequence(field, QKeySequence::Cut);
  EXPECT_EQ(Utf8(field->text()), "");
  QTest::keySequence(field, QKeySequence::Paste);
  EXPECT_EQ(Utf8(field->text()), "Z\\feed");

  QGuiApplication::clipboard()->setText("D:\\x");
  field->clear();
  QTest::keySequence(field, QKeySequence::Paste);
  EXPECT_EQ(Utf8(field->text()), "D:\\x");
}

TEST_F(FormControls, OtherFieldsTakeTypedText) {
  F.edInternal->clear();
  QTest::keyClicks(F.edInternal, "15");
  EXPECT_EQ(Utf8(F.edInternal->text()), "15");
}

TEST_F(FormControls, BrowseOpensTheFolderDialogAtTheFieldsFolder) {
  W.MakeDir("feed");
  F.edDesPath->setText(QString::fromStdString(W.Drive("feed")));
  W.ChooserAnswer = QString::fromStdString(W.Host("chosen") + "/");
  W.MakeDir("chosen");
  QTest::keyClick(F.edDesPath, Qt::Key_Down, Qt::AltModifier);
  ASSERT_EQ(W.Chooser.size(), 1u);
  EXPECT_EQ(W.Chooser[0].first, "Select Directory");
  EXPECT_EQ(W.Chooser[0].second, W.Host("feed"));
  // The chosen host folder comes back as a drive path without a trailing backslash.
  EXPECT_EQ(Utf8(F.edDesPath->text()), W.Drive("chosen"));
  // Choosing is not saving: the run still gets the saved folder.
  EXPECT_EQ(F.DesPath(), "");

  // The button does the same; Cancel leaves the field alone.
  W.ChooserAnswer.clear();
  F.edDesPath->BrowseButton()->trigger();
  ASSERT_EQ(W.Chooser.size(), 2u);
  EXPECT_EQ(W.Chooser[1].second, W.Host("chosen"));
  EXPECT_EQ(Utf8(F.edDesPath->text()), W.Drive("chosen"));
}

TEST_F(FormControls, BrowseFromAnEmptyOrMissingFolderStartsOnTheCurrentDrive) {
  F.edSrcPath->setText(QString::fromStdString(W.Drive("no such folder")));
  W.ChooserAnswer = "/";
  F.edSrcPath->BrowseButton()->trigger();
  ASSERT_EQ(W.Chooser.size(), 1u);
  EXPECT_EQ(W.Chooser[0].second, "/");
  EXPECT_EQ(Utf8(F.edSrcPath->text()), "Z:\\");  // a drive's root keeps its backslash
}

TEST_F(FormControls, StatusClickWithoutTodaysLogDoesNothing) {
  F.RzMStatus->setText("Lorvane错误");
  WriteFile(W.Host("UniteLog2026-12-07.txt"), "yesterday\r\n");
  QTest::mouseClick(F.RzMStatus, Qt::LeftButton);
  EXPECT_TRUE(W.Opened.empty());
  EXPECT_EQ(Utf8(F.RzMStatus->text()), "Lorvane错误");
}

TEST_F(FormControls, StatusClickOpensTodaysLogAndClearsTheText) {
  WriteFile(W.Host("UniteLog2026-12-08.txt"), "[x] line\r\n");
  F.RzMStatus->setText("Lorvane错误x");
  QTest::mouseClick(F.RzMStatus, Qt::LeftButton);
  ASSERT_EQ(W.Opened.size(), 1u);
  EXPECT_EQ(W.Opened[0], QUrl::fromLocalFile(QString::fromStdString(W.Host("UniteLog2026-12-08.txt"))));
  EXPECT_TRUE(F.RzMStatus->text().isEmpty());
  // An empty status text with today's log still opens it.
  QTest::mouseClick(F.RzMStatus, Qt::LeftButton);
  EXPECT_EQ(W.Opened.size(), 2u);
  // A right click is no click.
  QTest::mouseClick(F.RzMStatus, Qt::RightButton);
  EXPECT_EQ(W.Opened.size(), 2u);
}

TEST_F(FormControls, StatusTextBlinksOnTheSharedClock) {
  F.RzMStatus->setText("x");
  const bool first = F.RzMStatus->Highlighted();
  const QColor before = F.RzMStatus->palette().color(QPalette::WindowText);
  ASSERT_TRUE(WaitFor([&] { return F.RzMStatus->Highlighted() != first; }));
  EXPECT_NE(F.RzMStatus->palette().color(QPalette::WindowText), before);
  // A second blinking text follows the same clock in step.
  TBlinkText other(F.Panel2);
  EXPECT_EQ(other.Highlighted(), F.RzMStatus->Highlighted());
}

TEST_F(FormControls, WithoutANotificationAreaMinimizingKeepsTheWindow) {
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());  // the offscreen platform has none
  EXPECT_FALSE(F.RzTrayIcon1->isVisible());
  F.show();
  F.showMinimized();
  // Hiding into the notification area is a queued call; a call queued after the minimize
  // runs after it, so by then the form would be hidden if it were going to be.
  bool served = false;
  QTimer::singleShot(0, &F, [&served] { served = true; });
  ASSERT_TRUE(WaitFor([&] { return served; }));
  EXPECT_TRUE(F.isMinimized());
  EXPECT_TRUE(F.isVisible());
}

TEST_F(FormControls, PathsAndStatusShowTheirWholeTextAsTooltipsAndTheIconHasAMenu) {
  const QString path = QString::fromUtf8("Z:\\srv\\一个很长的文件夹\\sh\\src");
  F.edSrcPath->setText(path);
  EXPECT_EQ(F.edSrcPath->toolTip(), path);
  F.RzMStatus->setText(QString::fromUtf8("Lorvane错误一个很长的错误信息"));
  QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), F.RzMStatus->mapToGlobal(QPoint(2, 2)));
  QCoreApplication::sendEvent(F.RzMStatus, &help);
  EXPECT_EQ(F.RzMStatus->toolTip(), F.RzMStatus->text());

  EXPECT_EQ(Utf8(F.RzTrayIcon1->toolTip()), "Lorvane");
  ASSERT_NE(F.RzTrayIcon1->contextMenu(), nullptr);
  std::vector<std::string> items;
  for (QAction* action : F.RzTrayIcon1->contextMenu()->actions()) items.push_back(Utf8(action->text()));
  EXPECT_EQ(items, (std::vector<std::string>{"显示", "立即执行", "", "退出"}));
  const auto action = [this](int i) { return F.RzTrayIcon1->contextMenu()->actions().at(i); };
  // Run now starts a run as the button does (settings with no market: it ends at once).
  W.Settings({"[OPTION]"});
  action(1)->trigger();
  EXPECT_FALSE(F.Button2->isEnabled());
  ASSERT_TRUE(WaitFor([this] { return !F.Running(); }));
  action(3)->trigger();  // quit: the form closes as its close button closes it
  EXPECT_FALSE(F.Panel2->isEnabled());
}

// --- The form's side of a run's hand-overs ---

TEST_F(FormControls, HandOversFromAWorkerRunOnTheMainThreadAndCarryFailuresBack) {
  TQtHost host(F);
  std::atomic<bool> done{false};
  std::string caught;
  std::thread::id ranOn;
  std::thread worker([&] {
    host.Synchronize([&] { ranOn = std::this_thread::get_id(); });
    try {
      host.Synchronize([] { throw EFailure("File access denied"); });
    } catch (const EFailure& failure) {
      caught = failure.Message();
    }
    done = true;
  });
  const bool finished = WaitFor([&] { return done.load(); });
  worker.join();
  ASSERT_TRUE(finished);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_EQ(caught, "File access denied");

  // On the main thread a hand-over runs in place.
  bool inPlace = false;
  host.Synchronize([&] { inPlace = true; });
  EXPECT_TRUE(inPlace);
}

TEST_F(FormControls, LogLinesCountBreakAndScrollToTheEnd) {
  TQtHost host(F);
  F.show();
  EXPECT_EQ(host.LogLineCount(), 0);
  host.LogAdd(Utf8ToGbk("[t] 合并600000..."));
  EXPECT_EQ(host.LogLineCount(), 1);
  host.LogAdd("two\r\nlines");
  EXPECT_EQ(host.LogLineCount(), 3);
  EXPECT_EQ(Utf8(F.meLog->toPlainText()), "[t] 合并600000...\ntwo\nlines");
  for (int i = 0; i < 100; ++i) host.LogAdd("line " + std::to_string(i));
  EXPECT_EQ(host.LogLineCount(), 103);
  EXPECT_EQ(F.meLog->blockCount(), 103);  // held by the text already, drawn or not
  // The box scrolls once a frame, to the newest line.
  ASSERT_TRUE(WaitFor([&] { return !F.meLog->FramePending(); }));
  QScrollBar* bar = F.meLog->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  host.LogClear();
  EXPECT_EQ(host.LogLineCount(), 0);
  host.LogAdd("");
  EXPECT_EQ(host.LogLineCount(), 1);  // an empty message is still a line
  host.LogAdd("after");
  EXPECT_EQ(host.LogLineCount(), 2);
  EXPECT_EQ(Utf8(F.meLog->toPlainText()), "\nafter");
}

}  // namespace
