// Loading section OPTION when the form is made, and saving it.

#include "FormFixture.h"

using namespace formtest;

namespace {

// What the form shows and keeps after loading the settings, and the one failure it showed.
struct TLoadRow {
  const char* Case;
  std::vector<std::string> Settings;  // none: no settings file
  std::string Error;                  // "" for none
  std::vector<std::string> Paths;     // SRC, DES, SZSRC, SZDES (UTF-8); none: all empty
  std::string Interval;               // the field
  int TimerMs;                        // 0: no ticks
  bool MakeIndex;
};

TEST(FormLoad, FieldsTimerAndIndexChoiceFromTheSettingsAndTheFirstFailureShown) {
  const std::string today = GbkToUtf8(DateTimeToStr(TFormWorld::Today()));
  const std::vector<std::string> someRoots = {"Z:\\a", "", "", "Z:\\d"};
  const TLoadRow rows[] = {
      {"no settings file gives the defaults", {}, "", {}, "1", 60000, false},
      {"the file fills fields, timer and index choice",
       {"[option]", "src=D:\\行情\\上海", "DES=Z:\\out\\sh", "SZSRC=Z:\\in\\sz", "SZDES=Z:\\out\\sz", "INTERNAL=5",
        "INDEX=0x1", "[多路径拷贝]", "SH1=Z:\\m"},
       "", {"D:\\行情\\上海", "Z:\\out\\sh", "Z:\\in\\sz", "Z:\\out\\sz"}, "5", 5 * 60000, true},
      {"interval 0 gives no ticks, an empty index reads as 0",
       {"[OPTION]", "INTERNAL=0", "INDEX="}, "", {}, "0", 0, false},
      // Loading stops after the paths (LASTFILETIME is never reached); the index choice keeps
      // the initial layout, and no timed runs are left.
      {"a bad interval", {"[OPTION]", "SRC=Z:\\a", "SZDES=Z:\\d", "INTERNAL=abc", "INDEX=1", "LASTFILETIME=not a date"},
       "'abc' is not a valid integer value.", someRoots, "abc", 0, false},
      {"an empty interval is not a number",
       {"[OPTION]", "INTERNAL="}, "'' is not a valid integer value.", {}, "", 0, false},
      {"a bad LASTFILETIME is reported after everything else was loaded",
       {"[OPTION]", "SRC=Z:\\a", "SZDES=Z:\\d", "INTERNAL=2", "INDEX=1", "LASTFILETIME=yesterday"},
       "'yesterday' is not a valid date and time.", someRoots, "2", 2 * 60000, true},
      {"a good LASTFILETIME is accepted", {"[OPTION]", "LASTFILETIME=" + today}, "", {}, "1", 60000, false},
  };
  for (const TLoadRow& row : rows) {
    SCOPED_TRACE(row.Case);
    TFormWorld w;
    if (!row.Settings.empty()) w.Settings(row.Settings);
    TFormLogic& f = w.MakeForm();
    using TBoxes = std::vector<testsupport::TFakeFormView::TBox>;
    EXPECT_EQ(w.View.Errors, (row.Error.empty() ? TBoxes() : TBoxes{{"lorvane", row.Error}}));
    const TFormField fields[] = {SrcPath, DesPath, SzSrcPath, SzDesPath};
    const std::string copies[] = {f.SrcPath(), f.DesPath(), f.SzSrcPath(), f.SzDesPath()};
    for (std::size_t k = 0; k < 4; ++k) {
      const std::string path = row.Paths.empty() ? "" : row.Paths[k];
      EXPECT_EQ(GbkToUtf8(w.Field(fields[k])), path) << k;
      EXPECT_EQ(GbkToUtf8(copies[k]), path) << k;
    }
    EXPECT_EQ(w.Field(Interval), row.Interval);
    EXPECT_EQ(f.TimerIntervalMs(), row.TimerMs);
    EXPECT_EQ(w.View.TimerOn, row.TimerMs > 0);
    EXPECT_EQ(w.View.TimerMs, row.TimerMs);
    EXPECT_EQ(w.View.MakeIndexOn, row.MakeIndex);
    EXPECT_EQ(f.MakeIndex(), row.MakeIndex);
    EXPECT_TRUE(w.View.RunButtonOn);
    EXPECT_FALSE(f.Running());
    // Loading writes nothing.
    EXPECT_EQ(Exists(w.Host("LORVANE.INI")), !row.Settings.empty());
  }
}

using FormSettings = FormTest;

TEST_F(FormSettings, SaveWritesEveryKeyAndKeepsOtherLines) {
  W.Settings({"; kept", "[OPTION]", "SRC=Z:\\old", "LASTFILETIME=", "[多路径拷贝]", "SH=Z:\\m"});
  TFormLogic& f = W.MakeForm();
  W.View.Errors.clear();  // the empty LASTFILETIME
  W.Field(SrcPath) = Utf8ToGbk("Z:\\新");
  W.Field(DesPath) = "Z:\\des";
  W.Field(SzSrcPath) = "Z:\\szsrc";
  W.Field(SzDesPath) = "Z:\\szdes";
  W.Field(Interval) = " 15 ";
  W.ClickIndex(true);
  EXPECT_TRUE(f.MakeIndex());  // a click reaches the form at once
  f.SaveClicked();
  EXPECT_TRUE(W.View.Errors.empty());
  const std::pair<const char*, const char*> saved[] = {
      {"SRC", "Z:\\新"}, {"DES", "Z:\\des"}, {"SZSRC", "Z:\\szsrc"}, {"SZDES", "Z:\\szdes"},
      {"INTERNAL", "15"}, {"INDEX", "1"}, {"LASTFILETIME", ""}};
  for (const auto& [key, value] : saved) EXPECT_EQ(W.Option(key), value) << key;
  EXPECT_EQ(f.SrcPath(), Utf8ToGbk("Z:\\新"));
  EXPECT_EQ(f.SzDesPath(), "Z:\\szdes");
  const std::string file = ReadFile(W.Host("LORVANE.INI"));
  EXPECT_EQ(file.rfind("; kept\r\n", 0), 0u);
  EXPECT_NE(file.find(Utf8ToGbk("[多路径拷贝]\r\nSH=Z:\\m\r\n")), std::string::npos);
  // Saving leaves the timer alone: a new interval counts from the next start.
  EXPECT_EQ(f.TimerIntervalMs(), 60000);

  W.ClickIndex(false);
  EXPECT_FALSE(f.MakeIndex());
  f.SaveClicked();
  EXPECT_EQ(W.Option("INDEX"), "0");
}

TEST_F(FormSettings, SaveRefusesAnIntervalThatIsNoWholeNumberOfMinutesAndWritesNothing) {
  W.Settings({"[OPTION]", "INTERNAL=5"});
  TFormLogic& f = W.MakeForm();
  const std::string before = ReadFile(W.Host("LORVANE.INI"));
  for (const char* text : {"5 min", "abc", "-3", "", "+5", "0x10", "1.5", "35792", "99999999999"}) {
    SCOPED_TRACE(text);
    W.View.Errors.clear();
    W.Field(SrcPath) = "Z:\\changed";
    W.Field(Interval) = text;
    f.SaveClicked();
    ASSERT_EQ(W.View.Errors.size(), 1u);
    EXPECT_EQ(GbkToUtf8(W.View.Errors[0].second),
              "定时设置必须是 0 到 35791 之间的整数分钟（0 表示不定时运行），未保存：'" + std::string(text) + "'");
    EXPECT_EQ(ReadFile(W.Host("LORVANE.INI")), before);
    EXPECT_EQ(f.SrcPath(), "");
  }
  for (const char* text : {"0", "35791", "007"}) {
    W.View.Errors.clear();
    W.Field(Interval) = text;
    f.SaveClicked();
    EXPECT_TRUE(W.View.Errors.empty()) << text;
    EXPECT_EQ(W.Option("INTERNAL"), text);
  }
}

// Writes of one save, in order; the n-th fails in each case below.
const char* const kKeys[] = {"SRC", "DES", "SZSRC", "SZDES", "INTERNAL", "INDEX"};

TEST(FormSave, StopsAtTheFirstWriteThatFailsAndKeepsTheEarlierOnes) {
  const std::string olds[] = {"old1", "old2", "old3", "old4", "7", "0"};
  const std::string news[] = {"new1", "new2", "new3", "new4", "9", "1"};
  // A form on the old settings with every field edited to its new value.
  auto edited = [&](TFormWorld& w) -> TFormLogic& {
    w.Settings({"[OPTION]", "SRC=old1", "DES=old2", "SZSRC=old3", "SZDES=old4", "INTERNAL=7", "INDEX=0"});
    TFormLogic& f = w.MakeForm();
    const TFormField fields[] = {SrcPath, DesPath, SzSrcPath, SzDesPath, Interval};
    for (std::size_t k = 0; k < 5; ++k) w.Field(fields[k]) = news[k];
    w.ClickIndex(true);
    return f;
  };
  // The same form and edits without a fault, to learn where each write falls.
  std::vector<long> positions;
  {
    TFormWorld w;
    TFormLogic& f = edited(w);
    long counted = 0;
    w.Fs.OnOperation([&](const std::string& kind, const std::string& path) {
      ++counted;
      if (kind == "create" && UpperAscii(path).find("LORVANE.INI") != std::string::npos)
        positions.push_back(counted);
    });
    f.SaveClicked();
    w.Fs.OnOperation(nullptr);
    ASSERT_TRUE(w.View.Errors.empty());
  }
  ASSERT_EQ(positions.size(), 6u);

  for (std::size_t failing = 0; failing < 6; ++failing) {
    SCOPED_TRACE("failing write: " + std::string(kKeys[failing]));
    TFormWorld w;
    TFormLogic& f = edited(w);
    w.Fs.FailNth(positions[failing], kErrAccessDenied);
    f.SaveClicked();
    w.Fs.ClearFaults();

    ASSERT_EQ(w.View.Errors.size(), 1u);
    const std::string& text = w.View.Errors[0].second;
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
  TFormLogic& f = w.MakeForm();
  w.Fs.FailWhen("create", "LORVANE.INI", kErrPathNotFound);
  w.Field(SrcPath) = "x";
  f.SaveClicked();
  ASSERT_EQ(w.View.Errors.size(), 1u);
  EXPECT_EQ(w.View.Errors[0].second.rfind("Unable to write to ", 0), 0u);
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
