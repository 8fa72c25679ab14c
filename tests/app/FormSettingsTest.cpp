// The form's layout, loading section OPTION at creation and saving it.

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTimer>

#include "AppFixture.h"
#include "BlinkText.h"
#include "DirectoryEdit.h"

using namespace apptest;

namespace {

class FormSettings : public ::testing::Test {
 protected:
  TFormWorld W;
};

TEST_F(FormSettings, LayoutCaptionsAndGeometry) {
  TfrmMain& f = W.MakeForm();
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

TEST_F(FormSettings, NoSettingsFileGivesTheDefaults) {
  TfrmMain& f = W.MakeForm();
  EXPECT_TRUE(W.Errors.empty());
  for (TDirectoryEdit* field : {f.edSrcPath, f.edDesPath, f.edSzSrcPath, f.edSzDesPath})
    EXPECT_TRUE(field->text().isEmpty());
  EXPECT_EQ(f.SrcPath(), "");
  EXPECT_EQ(Utf8(f.edInternal->text()), "1");
  EXPECT_TRUE(f.TimerEnabled());
  EXPECT_EQ(f.TimerIntervalMs(), 60000);
  EXPECT_TRUE(f.Timer1->isActive());
  EXPECT_EQ(f.Timer1->interval(), 60000);
  EXPECT_TRUE(f.RadioButton2->isChecked());
  EXPECT_FALSE(f.RadioButton1->isChecked());
  EXPECT_FALSE(f.MakeIndex());
  EXPECT_TRUE(f.Button2->isEnabled());
  EXPECT_FALSE(f.Running());
  // Loading writes nothing.
  EXPECT_FALSE(Exists(W.Host("LORVANE.INI")));
}

TEST_F(FormSettings, SettingsFileFillsFieldsTimerAndIndexChoice) {
  W.Settings({"[option]", "src=D:\\行情\\上海", "DES=Z:\\out\\sh", "SZSRC=Z:\\in\\sz",
              "SZDES=Z:\\out\\sz", "INTERNAL=5", "INDEX=0x1", "[多路径拷贝]", "SH1=Z:\\m"});
  TfrmMain& f = W.MakeForm();
  EXPECT_TRUE(W.Errors.empty());
  EXPECT_EQ(Utf8(f.edSrcPath->text()), "D:\\行情\\上海");
  EXPECT_EQ(f.SrcPath(), Utf8ToGbk("D:\\行情\\上海"));
  EXPECT_EQ(f.DesPath(), "Z:\\out\\sh");
  EXPECT_EQ(Utf8(f.edSzSrcPath->text()), "Z:\\in\\sz");
  EXPECT_EQ(f.SzSrcPath(), "Z:\\in\\sz");
  EXPECT_EQ(f.SzDesPath(), "Z:\\out\\sz");
  EXPECT_EQ(f.TimerIntervalMs(), 5 * 60000);
  EXPECT_TRUE(f.Timer1->isActive());
  EXPECT_TRUE(f.RadioButton1->isChecked());
  EXPECT_FALSE(f.RadioButton2->isChecked());
  EXPECT_TRUE(f.MakeIndex());
}

TEST_F(FormSettings, IntervalZeroGivesNoTicksAndEmptyIndexReadsAsZero) {
  W.Settings({"[OPTION]", "INTERNAL=0", "INDEX="});
  TfrmMain& f = W.MakeForm();
  EXPECT_TRUE(W.Errors.empty());
  EXPECT_FALSE(f.Timer1->isActive());
  EXPECT_TRUE(f.RadioButton2->isChecked());
  EXPECT_FALSE(f.MakeIndex());
}

TEST_F(FormSettings, BadIntervalStopsAfterThePathsAndLeavesNoTimedRuns) {
  W.Settings({"[OPTION]", "SRC=Z:\\a", "SZDES=Z:\\d", "INTERNAL=abc", "INDEX=1",
              "LASTFILETIME=not a date"});
  TfrmMain& f = W.MakeForm();
  ASSERT_EQ(W.Errors.size(), 1u);  // LASTFILETIME is never reached
  EXPECT_EQ(W.Errors[0].first, "lorvane");
  EXPECT_EQ(W.Errors[0].second, "'abc' is not a valid integer value.");
  EXPECT_EQ(f.SrcPath(), "Z:\\a");
  EXPECT_EQ(f.SzDesPath(), "Z:\\d");
  EXPECT_EQ(Utf8(f.edInternal->text()), "abc");
  // The index choice keeps the initial layout.
  EXPECT_TRUE(f.RadioButton2->isChecked());
  EXPECT_FALSE(f.MakeIndex());
  EXPECT_FALSE(f.Timer1->isActive());
  EXPECT_EQ(f.TimerIntervalMs(), 0);
}

TEST_F(FormSettings, EmptyIntervalIsNotANumber) {
  W.Settings({"[OPTION]", "INTERNAL="});
  W.MakeForm();
  ASSERT_EQ(W.Errors.size(), 1u);
  EXPECT_EQ(W.Errors[0].second, "'' is not a valid integer value.");
}

TEST_F(FormSettings, BadLastFileTimeIsReportedAfterEverythingElseWasLoaded) {
  W.Settings({"[OPTION]", "SRC=Z:\\a", "INTERNAL=2", "INDEX=1", "LASTFILETIME=yesterday"});
  TfrmMain& f = W.MakeForm();
  ASSERT_EQ(W.Errors.size(), 1u);
  EXPECT_EQ(W.Errors[0].second, "'yesterday' is not a valid date and time.");
  EXPECT_EQ(f.SrcPath(), "Z:\\a");
  EXPECT_EQ(f.TimerIntervalMs(), 2 * 60000);
  EXPECT_TRUE(f.RadioButton1->isChecked());
  EXPECT_TRUE(f.MakeIndex());
}

TEST_F(FormSettings, GoodLastFileTimeIsAccepted) {
  W.Settings({"[OPTION]", "LASTFILETIME=" + GbkToUtf8(DateTimeToStr(TFormWorld::Today()))});
  W.MakeForm();
  EXPECT_TRUE(W.Errors.empty());
}

TEST_F(FormSettings, SaveWritesEveryKeyAndKeepsOtherLines) {
  W.Settings({"; kept", "[OPTION]", "SRC=Z:\\old", "LASTFILETIME=", "[多路径拷贝]", "SH=Z:\\m"});
  TfrmMain& f = W.MakeForm();
  W.Errors.clear();  // the empty LASTFILETIME
  f.edSrcPath->setText(QString::fromUtf8("Z:\\新"));
  f.edDesPath->setText("Z:\\des");
  f.edSzSrcPath->setText("Z:\\szsrc");
  f.edSzDesPath->setText("Z:\\szdes");
  f.edInternal->setText(" 15 ");
  f.RadioButton1->click();
  EXPECT_TRUE(f.MakeIndex());  // a click reaches the form at once
  f.Button1->click();
  EXPECT_TRUE(W.Errors.empty());
  EXPECT_EQ(W.Option("SRC"), "Z:\\新");
  EXPECT_EQ(W.Option("DES"), "Z:\\des");
  EXPECT_EQ(W.Option("SZSRC"), "Z:\\szsrc");
  EXPECT_EQ(W.Option("SZDES"), "Z:\\szdes");
  EXPECT_EQ(W.Option("INTERNAL"), "15");
  EXPECT_EQ(W.Option("INDEX"), "1");
  EXPECT_EQ(W.Option("LASTFILETIME"), "");
  EXPECT_EQ(f.SrcPath(), Utf8ToGbk("Z:\\新"));
  EXPECT_EQ(f.SzDesPath(), "Z:\\szdes");
  const std::string file = ReadFile(W.Host("LORVANE.INI"));
  EXPECT_EQ(file.rfind("; kept\r\n", 0), 0u);
  EXPECT_NE(file.find(Utf8ToGbk("[多路径拷贝]\r\nSH=Z:\\m\r\n")), std::string::npos);
  // Saving leaves the timer alone: a new interval counts from the next start.
  EXPECT_EQ(f.TimerIntervalMs(), 60000);

  f.RadioButton2->click();
  EXPECT_FALSE(f.MakeIndex());
  f.Button1->click();
  EXPECT_EQ(W.Option("INDEX"), "0");
}

TEST_F(FormSettings, SaveRefusesAnIntervalThatIsNoWholeNumberOfMinutesAndWritesNothing) {
  W.Settings({"[OPTION]", "INTERNAL=5"});
  TfrmMain& f = W.MakeForm();
  const std::string before = ReadFile(W.Host("LORVANE.INI"));
  for (const char* text : {"5 min", "abc", "-3", "", "+5", "0x10", "1.5", "35792", "99999999999"}) {
    SCOPED_TRACE(text);
    W.Errors.clear();
    f.edSrcPath->setText("Z:\\changed");
    f.edInternal->setText(text);
    f.Button1->click();
    ASSERT_EQ(W.Errors.size(), 1u);
    EXPECT_EQ(W.Errors[0].second,
              "定时设置必须是 0 到 35791 之间的整数分钟（0 表示不定时运行），未保存：'" + std::string(text) + "'");
    EXPECT_EQ(ReadFile(W.Host("LORVANE.INI")), before);
    EXPECT_EQ(f.SrcPath(), "");
  }
  for (const char* text : {"0", "35791", "007"}) {
    W.Errors.clear();
    f.edInternal->setText(text);
    f.Button1->click();
    EXPECT_TRUE(W.Errors.empty()) << text;
    EXPECT_EQ(W.Option("INTERNAL"), text);
  }
}

// Writes of one save, in order; the n-th fails in each case below.
const char* const kKeys[] = {"SRC", "DES", "SZSRC", "SZDES", "INTERNAL", "INDEX"};

TEST(FormSave, StopsAtTheFirstWriteThatFailsAndKeepsTheEarlierOnes) {
  auto prepare = [](TFormWorld& w) {
    w.Settings({"[OPTION]", "SRC=old1", "DES=old2", "SZSRC=old3", "SZDES=old4", "INTERNAL=7",
                "INDEX=0"});
  };
  auto edit = [](TfrmMain& f) {
    f.edSrcPath->setText("new1");
    f.edDesPath->setText("new2");
    f.edSzSrcPath->setText("new3");
    f.edSzDesPath->setText("new4");
    f.edInternal->setText("9");
    f.RadioButton1->click();
  };
  // The same form and edits without a fault, to learn where each write falls.
  std::vector<long> positions;
  {
    TFormWorld w;
    prepare(w);
    TfrmMain& f = w.MakeForm();
    edit(f);
    long counted = 0;
    w.Fs.OnOperation([&](const std::string& kind, const std::string& path) {
      ++counted;
      if (kind == "create" && UpperAscii(path).find("LORVANE.INI") != std::string::npos)
        positions.push_back(counted);
    });
    f.Button1->click();
    w.Fs.OnOperation(nullptr);
    ASSERT_TRUE(w.Errors.empty());
  }
  ASSERT_EQ(positions.size(), 6u);

  const std::string olds[] = {"old1", "old2", "old3", "old4", "7", "0"};
  const std::string news[] = {"new1", "new2", "new3", "new4", "9", "1"};
  for (std::size_t failing = 0; failing < 6; ++failing) {
    SCOPED_TRACE("failing write: " + std::string(kKeys[failing]));
    TFormWorld w;
    prepare(w);
    TfrmMain& f = w.MakeForm();
    edit(f);
    w.Fs.FailNth(positions[failing], kErrAccessDenied);
    f.Button1->click();
    w.Fs.ClearFaults();

    ASSERT_EQ(w.Errors.size(), 1u);
    const std::string& text = w.Errors[0].second;
    EXPECT_EQ(text.rfind("Unable to write to ", 0), 0u) << text;
    EXPECT_NE(UpperAscii(text).find("\\LORVANE.INI."), std::string::npos) << text;
    for (std::size_t k = 0; k < 6; ++k)
      EXPECT_EQ(w.Option(kKeys[k]), k < failing ? news[k] : olds[k]) << kKeys[k];
    // The form's own copies follow the keys that were written.
    const std::string paths[] = {f.SrcPath(), f.DesPath(), f.SzSrcPath(), f.SzDesPath()};
    for (std::size_t k = 0; k < 4; ++k)
      EXPECT_EQ(paths[k], k < failing ? news[k] : olds[k]) << kKeys[k];
    // The radio click took the choice over at once; a failed save does not undo it.
    EXPECT_TRUE(f.MakeIndex());
  }
}

TEST(FormSave, UnwritableSettingsFolderFailsTheFirstWrite) {
  TFormWorld w;
  TfrmMain& f = w.MakeForm();
  w.Fs.FailWhen("create", "LORVANE.INI", kErrPathNotFound);
  f.edSrcPath->setText("x");
  f.Button1->click();
  ASSERT_EQ(w.Errors.size(), 1u);
  EXPECT_EQ(w.Errors[0].second.rfind("Unable to write to ", 0), 0u);
  EXPECT_EQ(f.SrcPath(), "");
  EXPECT_FALSE(Exists(w.Host("LORVANE.INI")));
}

TEST(ErrorBoxText, FullStopOnlyAfterALastByteThatSortsAfterIt) {
  EXPECT_EQ(ErrorBoxText("abc"), "abc.");
  EXPECT_EQ(ErrorBoxText("done."), "done.");
  EXPECT_EQ(ErrorBoxText("stop!"), "stop!");   // '!' sorts before '.'
  EXPECT_EQ(ErrorBoxText("a-"), "a-");         // so does '-'
  EXPECT_EQ(ErrorBoxText("a/"), "a/.");
  EXPECT_EQ(ErrorBoxText(""), "");
  EXPECT_EQ(ErrorBoxText(Utf8ToGbk("错误")), Utf8ToGbk("错误") + ".");  // high bytes sort last
}

TEST(MinutesToIntervalMs, ZeroAndBelowMeanNoTicksAndLargeValuesAreCapped) {
  EXPECT_EQ(MinutesToIntervalMs(1), 60000);
  EXPECT_EQ(MinutesToIntervalMs(35791), 35791 * 60000);
  EXPECT_EQ(MinutesToIntervalMs(35792), 2147483647);
  EXPECT_EQ(MinutesToIntervalMs(0), 0);
  EXPECT_EQ(MinutesToIntervalMs(-5), 0);
}

}  // namespace
