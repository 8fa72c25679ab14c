// The Qt form's widgets and their wiring to the form's behaviour: the layout, the directory
// fields' keys, the status text, the notification area's icon and the log box.

#include <QClipboard>
#include <QFrame>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTimer>

#include "AppFixture.h"
#include "BlinkText.h"
#include "DirectoryEdit.h"
#include "LogBox.h"

using namespace apptest;

namespace {

class FormWidgets : public ::testing::Test {
 protected:
  FormWidgets() : F(W.MakeForm()) {}
  TFormWorld W;
  TfrmMain& F;
};

TEST_F(FormWidgets, LayoutCaptionsAndGeometry) {
  TfrmMain& f = F;
  EXPECT_EQ(Utf8(f.windowTitle()), "Lorvane");
  EXPECT_EQ(Utf8(f.windowIconText()), "lorvane");
  EXPECT_EQ(f.size(), QSize(512, 272));
  EXPECT_EQ(f.minimumSize(), QSize(512, 272));
  EXPECT_TRUE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(f.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(f.pos(), QPoint(295, 223));

  EXPECT_EQ(f.Panel1->geometry(), QRect(0, 0, 281, 272));
  EXPECT_TRUE(f.meLog->isReadOnly());
  EXPECT_EQ(f.meLog->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(f.meLog->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(f.meLog->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

  const std::pair<QLabel*, const char*> labels[] = {
      {f.Label1, "原始上海路径"}, {f.Label5, "原始深圳路径"}, {f.Label2, "目标上海路径"},
      {f.Label6, "目标深圳路径"}, {f.Label3, "定时设置"},     {f.Label4, "分钟"}};
  for (const auto& [label, caption] : labels) EXPECT_EQ(Utf8(label->text()), caption);
  EXPECT_EQ(Utf8(f.RadioButton1->text()), "生成索引");
  EXPECT_EQ(Utf8(f.RadioButton2->text()), "不生成索引");
  EXPECT_EQ(Utf8(f.Button2->text()), "立即执行");
  EXPECT_EQ(Utf8(f.Button1->text()), "保存设置");

  // Shanghai source, Shenzhen source, Shanghai target, Shenzhen target, top to bottom.
  EXPECT_LT(f.edSrcPath->y(), f.edSzSrcPath->y());
  EXPECT_LT(f.edSzSrcPath->y(), f.edDesPath->y());
  EXPECT_LT(f.edDesPath->y(), f.edSzDesPath->y());
  EXPECT_TRUE(f.RzMStatus->text().isEmpty());
  EXPECT_EQ(f.RzMStatus->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
  EXPECT_EQ(f.RzMStatus->frameShape(), QFrame::NoFrame);
  EXPECT_EQ(f.edSrcPath->geometry(), QRect(94, 17, 124, 21));
  EXPECT_EQ(f.RzMStatus->geometry(), QRect(4, 246, 133, 24));

  // Made larger, the log and the path fields take the room; the status text stays at the bottom.
  f.show();
  f.resize(800, 400);
  EXPECT_EQ(f.Panel1->geometry(), QRect(0, 0, 425, 400));
  EXPECT_EQ(f.Panel2->geometry(), QRect(425, 0, 375, 400));
  for (TDirectoryEdit* field : {f.edSrcPath, f.edSzSrcPath, f.edDesPath, f.edSzDesPath})
    EXPECT_EQ(field->geometry().right(), 94 + 268 - 1);
  EXPECT_EQ(f.RzMStatus->geometry(), QRect(4, 374, 277, 24));
  EXPECT_EQ(f.edInternal->geometry(), QRect(95, 139, 101, 21));
  f.resize(300, 200);  // never below the first size
  EXPECT_EQ(f.size(), QSize(512, 272));
  EXPECT_EQ(f.edSrcPath->geometry(), QRect(94, 17, 124, 21));
}

TEST_F(FormWidgets, TypingIntoADirectoryFieldChangesNothingButAltDownBrowsesAndOtherFieldsTakeText) {
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
  // Alt+Down and the field's button are what open the folder dialog.
  QTest::keyClick(F.edDesPath, Qt::Key_Down, Qt::AltModifier);
  F.edDesPath->BrowseButton()->trigger();
  ASSERT_EQ(W.Chooser.size(), 2u);
  EXPECT_EQ(W.Chooser[0].first, "Select Directory");
  F.edInternal->clear();
  QTest::keyClicks(F.edInternal, "15");
  EXPECT_EQ(Utf8(F.edInternal->text()), "15");
}

TEST_F(FormWidgets, DeleteArrowsAndTheEditCommandsKeepTheirEffect) {
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

TEST_F(FormWidgets, WithoutANotificationAreaMinimizingKeepsTheWindow) {
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

TEST_F(FormWidgets, PathsAndStatusShowTheirWholeTextAsTooltipsAndTheIconHasAMenu) {
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

TEST_F(FormWidgets, LogLinesCountBreakAndScrollToTheEnd) {
  TFormView& view = F;
  F.show();
  EXPECT_EQ(view.LogLineCount(), 0);
  view.LogAdd(Utf8ToGbk("[t] 合并600000..."));
  EXPECT_EQ(view.LogLineCount(), 1);
  view.LogAdd("two\r\nlines\rand\nmore");
  EXPECT_EQ(view.LogLineCount(), 5);
  EXPECT_EQ(Utf8(F.meLog->toPlainText()), "[t] 合并600000...\ntwo\nlines\nand\nmore");
  for (int i = 0; i < 100; ++i) view.LogAdd("line " + std::to_string(i));
  EXPECT_EQ(view.LogLineCount(), 105);
  EXPECT_EQ(F.meLog->blockCount(), 105);  // held by the text already, drawn or not
  // The box scrolls once a frame, to the newest line.
  ASSERT_TRUE(WaitFor([&] { return !F.meLog->FramePending(); }));
  QScrollBar* bar = F.meLog->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  view.LogClear();
  EXPECT_EQ(view.LogLineCount(), 0);
  view.LogAdd("");
  EXPECT_EQ(view.LogLineCount(), 1);  // an empty message is still a line
  view.LogAdd("after");
  EXPECT_EQ(view.LogLineCount(), 2);
  EXPECT_EQ(Utf8(F.meLog->toPlainText()), "\nafter");
}

}  // namespace
