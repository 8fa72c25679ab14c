// The one-run mode: in process with fault injection, and the built program end to end.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <set>
#include <sstream>

#include "AppFixture.h"
#include "Headless.h"
#include "uUniteThread.h"

using namespace apptest;

namespace {

class Headless : public ::testing::Test {
 protected:
  int Run(const TOnceOptions& options = {}) {
    Out.str("");
    Err.str("");
    return RunOnce(W.Fs, Out, Err, options);
  }
  // The lines of standard error but its last, which sums the run up.
  std::string Told() const {
    const std::string err = Err.str();
    const std::size_t last = err.rfind('\n', err.size() >= 2 ? err.size() - 2 : 0);
    return last == std::string::npos ? std::string() : err.substr(0, last + 1);
  }
  std::string Summary() const { return Err.str().substr(Told().size()); }
  TFormWorld W;
  std::ostringstream Out, Err;
};

TEST_F(Headless, NoSettingsFileRunsNothingAndTouchesNothing) {
  EXPECT_EQ(Run(), kRunNotRun);
  EXPECT_EQ(Told(), "lorvane: no settings file " + W.Host("LORVANE.INI") + " (see --help)\n");
  EXPECT_EQ(Summary().rfind("lorvane: not run, status 2: no settings file", 0), 0u) << Summary();
  EXPECT_EQ(Out.str(), "");
  EXPECT_TRUE(testsupport::fs::is_empty(W.Tmp.Path()));
}

// A misspelt section or key leaves the settings naming no market: said at once, with the
// line, and nothing runs, where a run would pass for a clean one that merged nothing.
TEST_F(Headless, SettingsThatConfigureNoMarketRunNothingAndSayWhy) {
  W.Settings({"[OPTOIN]", "SRC=" + W.Drive("shsrc"), "DES=" + W.Drive("shdes")});
  EXPECT_EQ(Run(), kRunNotRun);
  EXPECT_NE(Told().find("lorvane: warning: " + W.Host("LORVANE.INI") + " line 1, [OPTOIN]: unknown section"),
            std::string::npos)
      << Err.str();
  EXPECT_NE(Told().find("configures no market"), std::string::npos) << Err.str();
  EXPECT_EQ(Out.str(), "");
  EXPECT_FALSE(Exists(W.Host("UniteLog2026-12-08.txt")));
}

// Under the journal each line carries its priority and no stamp of its own; --quiet keeps
// what someone must act on and the summary.
TEST_F(Headless, LinesCarryTheirPriorityAndQuietDropsOnlyProgress) {
  W.RootSettings({"[多路径拷贝]", "SHX=" + W.Drive("nowhere")});
  W.Deliver("shsrc", "600000", {"a"});
  W.Deliver("shsrc", "600001", {"a"});
  W.MakeDir("shsrc/600002a.sub");
  W.Deliver("shsrc", "600002", {});
  W.Fs.FailWhen("openshared", "600001a.sub", kErrAccessDenied);
  TOnceOptions journal;
  journal.Format = TOutputFormat::Journal;
  EXPECT_EQ(Run(journal), kRunFailed);
  EXPECT_NE(Out.str().find("<6>" + std::string("合并600000...") + "\n"), std::string::npos) << Out.str();
  EXPECT_NE(Out.str().find("<4>不是普通文件，未处理：" + W.Drive("shsrc") + "\\600002a.sub\n"), std::string::npos);
  EXPECT_EQ(Out.str().find("File access denied"), std::string::npos) << "a failure is told once, on stderr";
  EXPECT_NE(Told().find("<3>lorvane: failure: Shanghai stock 600001: File access denied (open " +
                        W.Host("shsrc/DATA/600001/600001a.sub") + ": permission denied)\n"),
            std::string::npos)
      << Err.str();
  EXPECT_NE(Told().find("<4>lorvane: warning: "), std::string::npos);
  EXPECT_EQ(Summary().rfind("<5>lorvane: ran, status 1; Shanghai 1 merged, 1 failed", 0), 0u) << Summary();

  W.Deliver("shsrc", "600003", {"a"});
  journal.Quiet = true;
  EXPECT_EQ(Run(journal), kRunFailed);
  EXPECT_EQ(Out.str().find("<6>"), std::string::npos) << Out.str();
  EXPECT_NE(Out.str().find("<4>不是普通文件"), std::string::npos);
  EXPECT_NE(Told().find("<3>lorvane: failure: Shanghai stock 600001"), std::string::npos);
}

TEST_F(Headless, StagesWithTheSettingsOfSectionOption) {
  W.RootSettings({"INTERNAL=not used here"});
  W.Deliver("shsrc", "600000", {"a"});
  W.Deliver("szsrc", "000001", {"a", "b"});
  EXPECT_EQ(Run(), kRunClean) << Err.str();
  EXPECT_TRUE(Exists(W.Host("shsrc/DATA/600000/600000a.sub")));
  EXPECT_TRUE(Exists(W.Host("shsrc/DATA/600000/600000.F10")));
  EXPECT_TRUE(Exists(W.Host("szsrc/DATA/000001/000001b.sub")));
  EXPECT_TRUE(Exists(W.Host("shsrc/600000.F10")));  // the index stays where it was
  EXPECT_TRUE(Exists(W.Host("shdes/600000.txt")));
  EXPECT_TRUE(Exists(W.Host("szdes/000001.txt")));
  EXPECT_NE(Out.str().find("600000"), std::string::npos) << Out.str();
}

TEST_F(Headless, AFailureReportedByTheRunGivesStatusOne) {
  W.Settings({"[OPTION]", "SRC=" + W.Drive("nosuch/sh"), "DES=" + W.Drive("out")});
  EXPECT_EQ(Run(), kRunFailed);
  const std::string archive = W.Drive("nosuch/sh") + "\\DATA";
  EXPECT_NE(Out.str().find(archive + " 目录创建错误"), std::string::npos) << Out.str();
  EXPECT_NE(Told().find("lorvane: failure: Shanghai: " + archive + " 目录创建错误 (mkdir " + W.Host("nosuch/sh/DATA") +
                        ": no such folder)\n"),
            std::string::npos)
      << Err.str();
}

TEST_F(Headless, SettingsThatCannotBeReadWholeRunNothing) {
  W.Settings({"[OPTION]", "SRC=" + W.Drive("shsrc"), "[多路径拷贝]", "SH1=" + W.Drive("m")});
  // A section added by an editor that saves in UTF-8: two encodings in one file.
  testsupport::WriteFile(W.Host("LORVANE.INI"), ReadFile(W.Host("LORVANE.INI")) + "[大盘代码]\r\n");
  EXPECT_EQ(Run(), kRunNotRun);
  EXPECT_NE(Err.str().find("无法读取设置文件"), std::string::npos) << Err.str();
  EXPECT_FALSE(Exists(W.Host("UniteLog2026-12-08.txt")));
}

// The report of a run that did a little of everything, read back as its readers read it.
TEST_F(Headless, TheReportTellsWhatTheRunDidAndTheStatusItEndedWith) {
  W.RootSettings({"REPORT=run.json", "[多路径拷贝]", "SH1=" + W.Drive("mirror"), "[大盘代码]",
                  "SH1=999999", "SZ1=399001"});
  W.MakeDir("mirror");
  W.Deliver("shsrc", "000001", {"a"});
  W.Deliver("shsrc", "600000", {"a"});
  W.Deliver("shsrc", "600001", {"a", "b"});
  W.Deliver("shsrc", "600002", {});
  W.MakeDir("shsrc/600002a.sub");  // a folder where the feed puts files
  W.Fs.FailWhen("openshared", "600001b.sub", kErrAccessDenied);
  W.Fs.FailWhen("create", "399001.txt", kErrDiskFull);
  W.Fs.FailWhen("copy", "mirror\\600000.txt", kErrDiskFull);
  // A full archive: the stock's index does not reach its stage, silently in the logs.
  W.Deliver("szsrc", "000002", {"a"});
  W.Fs.FailWhen("create", "DATA\\000002\\000002.F10", kErrDiskFull);
  const int status = Run();
  EXPECT_EQ(status, kRunFailed) << Err.str();

  const QJsonObject report = QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(W.Host("run.json")))).object();
  ASSERT_FALSE(report.isEmpty());
  EXPECT_EQ(report["status"].toInt(), status);
  EXPECT_EQ(report["outcome"].toString(), "ran");
  EXPECT_TRUE(report["start"].toString().startsWith("2026-12-08T10:30:00")) << Utf8(report["start"].toString());
  EXPECT_GE(report["seconds"].toDouble(), 0.0);

  const QJsonObject sh = report["markets"].toArray()[0].toObject();
  EXPECT_EQ(sh["market"].toString(), "sh");
  EXPECT_EQ(sh["merged"].toInt(), 1);  // 600000; 000001 is the composites' template
  const QJsonArray failed = sh["failed"].toArray();
  ASSERT_EQ(failed.size(), 1);
  const QJsonObject stock = failed[0].toObject();
  EXPECT_EQ(stock["code"].toString(), "600001");
  EXPECT_EQ(stock["message"].toString(), "File access denied");
  EXPECT_EQ(stock["error"].toInt(), kErrAccessDenied);
  EXPECT_EQ(stock["operation"].toString(), "open");
  EXPECT_EQ(Utf8(stock["file"].toString()), W.Drive("shsrc") + "\\DATA\\600001\\600001b.sub");
  EXPECT_EQ(Utf8(stock["host_file"].toString()), W.Host("shsrc/DATA/600001/600001b.sub"));
  const QJsonObject sz = report["markets"].toArray()[1].toObject();
  EXPECT_EQ(sz["merged"].toInt(), 0);
  ASSERT_EQ(sz["failed"].toArray().size(), 1);
  const QJsonObject unstaged = sz["failed"].toArray()[0].toObject();
  EXPECT_EQ(unstaged["code"].toString(), "000002");
  EXPECT_EQ(unstaged["error"].toInt(), kErrDiskFull);
  EXPECT_EQ(unstaged["operation"].toString(), "copy");
  EXPECT_EQ(Utf8(unstaged["file"].toString()), W.Drive("szsrc") + "\\DATA\\000002\\000002.F10");
  EXPECT_EQ(ReadFile(W.Host("UniteLog2026-12-08.txt")).find("000002.F10"), std::string::npos);

  const QJsonObject composites = report["composites"].toObject();
  ASSERT_EQ(composites["built"].toArray().size(), 1);
  EXPECT_EQ(composites["built"].toArray()[0].toObject()["code"].toString(), "999999");
  ASSERT_EQ(composites["failed"].toArray().size(), 1);
  const QJsonObject composite = composites["failed"].toArray()[0].toObject();
  EXPECT_EQ(composite["market"].toString(), "sz");
  EXPECT_EQ(composite["code"].toString(), "399001");
  EXPECT_EQ(composite["error"].toInt(), kErrDiskFull);
  EXPECT_EQ(composite["operation"].toString(), "create");

  const QJsonObject mirrors = report["mirror_copies"].toObject();
  EXPECT_EQ(mirrors["failed"].toInt(), 1);
  ASSERT_EQ(mirrors["waiting"].toArray().size(), 1);
  EXPECT_EQ(Utf8(mirrors["waiting"].toArray()[0].toObject()["to"].toString()),
            W.Drive("mirror") + "\\600000.txt");

  ASSERT_EQ(report["refused"].toArray().size(), 1);
  const QJsonObject refused = report["refused"].toArray()[0].toObject();
  EXPECT_EQ(Utf8(refused["reason"].toString()), "不是普通文件，未处理");
  EXPECT_EQ(Utf8(refused["file"].toString()), W.Drive("shsrc") + "\\600002a.sub");
  EXPECT_TRUE(report["failures"].toArray().isEmpty());
  // The day's log says what it always said, and nothing of the report.
  EXPECT_EQ(ReadFile(W.Host("UniteLog2026-12-08.txt")).find("run.json"), std::string::npos);
}

// A report aimed at what runs read or at the feed would destroy what it reports on: nothing
// runs, the key or option is named, and the file is left as it was.
TEST_F(Headless, AReportAimedAtTheSettingsOrTheFeedIsRefusedAndNotWritten) {
  W.RootSettings({"REPORT=" + W.Drive("lorvane.ini")});
  W.Deliver("szsrc", "000002", {"a"});
  const std::string settings = ReadFile(W.Host("LORVANE.INI"));
  EXPECT_EQ(Run(), kRunNotRun);
  EXPECT_NE(Told().find("设置有误，本次不运行：OPTION\\REPORT 是运行要读取的文件 "), std::string::npos) << Err.str();
  EXPECT_EQ(ReadFile(W.Host("LORVANE.INI")), settings);

  TOnceOptions options;
  options.ReportPath = W.Drive("szsrc\\000002a.sub");
  const std::string section = ReadFile(W.Host("szsrc/000002a.sub"));
  EXPECT_EQ(Run(options), kRunNotRun);
  EXPECT_NE(Told().find("--report 与 SZSRC 相同或在其中"), std::string::npos) << Err.str();
  EXPECT_EQ(ReadFile(W.Host("szsrc/000002a.sub")), section);
  EXPECT_FALSE(Exists(W.Host("szsrc/DATA/000002")));
}

TEST_F(Headless, ALogFileThatCannotBeWrittenIsAFailureNamedOnce) {
  W.RootSettings();
  W.Deliver("shsrc", "600000", {"a"});
  W.Fs.FailWhen("append", "UniteLog", kErrAccessDenied);
  EXPECT_EQ(Run(), kRunFailed);
  EXPECT_EQ(Out.str(), "");  // a line the file did not get does not reach the form log
  EXPECT_EQ(Told(), "lorvane: failure: the day's log " + W.Host("UniteLog2026-12-08.txt") +
                        " cannot be written: File access denied (permission denied)\n");
}

TEST_F(Headless, BadLastFileTimeRunsNothing) {
  W.RootSettings({"LASTFILETIME=soon"});
  W.Deliver("shsrc", "600000", {"a"});
  EXPECT_EQ(Run(), kRunNotRun);
  EXPECT_NE(Told().find("lorvane: " + W.Host("LORVANE.INI") + ", OPTION\\LASTFILETIME: 'soon' is not a valid date and "
                        "time\n"),
            std::string::npos)
      << Err.str();
  EXPECT_EQ(Out.str(), "");
  EXPECT_TRUE(Exists(W.Host("shsrc/600000a.sub")));
  EXPECT_FALSE(Exists(W.Host("UniteLog2026-12-08.txt")));
}

TEST_F(Headless, AnInterruptStopsTheRunBeforeTheNextStock) {
  W.RootSettings();
  W.Deliver("shsrc", "600000", {"a", "b"});
  W.Deliver("shsrc", "600001", {"a"});
  bool raised = false;
  W.Fs.OnOperation([&](const std::string& kind, const std::string&) {
    if (kind == "move" && !raised) {
      raised = true;
      std::raise(SIGINT);
    }
  });
  EXPECT_EQ(Run(), kRunFailed);
  EXPECT_NE(Err.str().find("stopped"), std::string::npos);
  EXPECT_TRUE(Exists(W.Host("shsrc/DATA/600000/600000b.sub")));
  EXPECT_TRUE(Exists(W.Host("shsrc/600001a.sub")));
  // The handler is gone with the run: the default action is back.
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

// --- The built program ---

struct TProgramResult {
  int Status = -1;
  std::string Out, Err;
};

TProgramResult RunProgram(const QStringList& args, const std::string& workDir = "") {
  QProcess program;
  if (!workDir.empty()) program.setWorkingDirectory(QString::fromStdString(workDir));
  program.start(QStringLiteral(LORVANE_BIN), args);
  TProgramResult result;
  if (!program.waitForFinished(60000)) {
    program.kill();
    program.waitForFinished();
    return result;
  }
  result.Status = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
  result.Out = program.readAllStandardOutput().toStdString();
  result.Err = program.readAllStandardError().toStdString();
  return result;
}

std::set<std::string> Names(const testsupport::fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : testsupport::fs::recursive_directory_iterator(dir))
    names.insert(testsupport::fs::relative(entry.path(), dir).string());
  return names;
}

std::set<std::string> Entries(const testsupport::fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : testsupport::fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

TEST(Program, OnceWithoutSettingsTouchesNothingOutsideItsHome) {
  testsupport::TTempDir home, work;
  const auto programDir = testsupport::fs::path(LORVANE_BIN).parent_path();
  // The program's folder itself: the suite's other tests write below it meanwhile.
  const std::set<std::string> before = Entries(programDir);
  const QStringList args{"--once", "--home", QString::fromStdString(home.Path().string())};
  TProgramResult r = RunProgram(args, work.Path().string());
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("no settings file"), std::string::npos) << r.Err;
  EXPECT_TRUE(Names(home.Path()).empty());

  WriteFile(home / "LORVANE.INI", "[OPTION]\r\nSZSRC=" + home.Drive("in") + "\r\nSZDES=" + home.Drive("out") + "\r\n");
  testsupport::fs::create_directories(home / "in");
  testsupport::fs::create_directories(home / "out");
  r = RunProgram(args, work.Path().string());
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("上海市场未设置原始路径或目标路径"), std::string::npos) << r.Out;
  // Only the day's log and the archive, in the home folder.
  std::set<std::string> made = Names(home.Path());
  for (const char* name : {"LORVANE.INI", "in", "out", "in/DATA"}) made.erase(name);
  ASSERT_EQ(made.size(), 1u);
  EXPECT_EQ(made.begin()->rfind("UniteLog", 0), 0u);
  EXPECT_NE(ReadFile(home / *made.begin()).find(Utf8ToGbk("市场未设置")), std::string::npos);
  EXPECT_TRUE(Names(work.Path()).empty());

  // A --home that went away: nothing runs, and the report still says so.
  r = RunProgram({"--once", "--home", "/no/such/folder", "--report", "report.json"}, work.Path().string());
  EXPECT_EQ(r.Status, 2);
  const QJsonObject report =
      QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(work / "report.json"))).object();
  EXPECT_EQ(report["outcome"].toString(), "not run");
  EXPECT_NE(Utf8(report["notice"].toString()).find("/no/such/folder"), std::string::npos);
  testsupport::fs::remove(work / "report.json");
  EXPECT_EQ(Entries(programDir), before);
}

TEST(Program, OnceWithRootsThatDoNotExistFailsWithTheArchiveMessages) {
  testsupport::TTempDir home;
  const std::string missing = home.Drive("gone") + "\\sh";
  WriteFile(home / "lorvane.ini",
            "[OPTION]\r\nSRC=" + missing + "\r\nDES=" + home.Drive("gone") + "\\out\r\n");
  const TProgramResult r =
      RunProgram({"--home=" + QString::fromStdString(home.Path().string()), "--once"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Out.find(missing + "\\DATA 目录创建错误"), std::string::npos) << r.Out;
  EXPECT_NE(r.Err.find("lorvane: failure: Shanghai: " + missing + "\\DATA 目录创建错误"), std::string::npos) << r.Err;
  EXPECT_FALSE(Exists(home / "gone"));
}

TEST(Program, OnceWithABadLastFileTimeRunsNothing) {
  testsupport::TTempDir home;
  WriteFile(home / "LORVANE.INI", "[OPTION]\r\nSRC=" + home.Drive("") + "\r\nDES=" + home.Drive("") +
                                     "\r\nLASTFILETIME=x\r\n");
  const TProgramResult r =
      RunProgram({"--once", "--home", QString::fromStdString(home.Path().string())});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("LASTFILETIME: 'x' is not a valid date and time\n"), std::string::npos) << r.Err;
  EXPECT_EQ(Names(home.Path()).size(), 1u);  // no log written
}

// The program run on a world's folder: its settings, its feed.
QStringList ArgsFor(const TFormWorld& w, bool once = true) {
  QStringList args{"--home", QString::fromStdString(w.Tmp.Path().string())};
  if (once) args << "--once";
  return args;
}

TEST(Program, ARunOrAFormThatFindsAnotherAtWorkDoesNotStart) {
  TFormWorld w;
  w.RootSettings();
  w.Deliver("shsrc", "600000", {"a"});
  const std::string self = std::to_string(::getpid());
  {
    // Another run, whatever its settings, works on the Shanghai target.
    std::unique_ptr<TFolderLock> claim;
    std::string holder;
    ASSERT_EQ(w.Real.LockFolder(w.Drive("shdes"), kRunLockName, claim, holder), 0);
    const TProgramResult r = RunProgram(ArgsFor(w) << "--report" << "busy.json", w.Tmp.Path().string());
    EXPECT_EQ(r.Status, kRunBusy);
    EXPECT_NE(r.Err.find(w.Drive("shdes") + "（进程 " + self), std::string::npos) << r.Err;
    const QJsonObject report =
        QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(w.Host("busy.json")))).object();
    EXPECT_EQ(report["status"].toInt(), kRunBusy);
    EXPECT_EQ(report["outcome"].toString(), "busy");
    EXPECT_NE(Utf8(report["notice"].toString()).find(w.Drive("shdes")), std::string::npos);
    EXPECT_TRUE(Exists(w.Host("shsrc/600000a.sub")));
    EXPECT_FALSE(Exists(w.Host("shsrc/DATA")));
  }
  EXPECT_FALSE(Exists(w.Host("shdes/" + kRunLockName))) << "a claim leaves nothing behind";
  EXPECT_EQ(RunProgram(ArgsFor(w)).Status, kRunClean);
  EXPECT_TRUE(Exists(w.Host("shsrc/DATA/600000/600000a.sub")));

  // A second form on the same settings folder.
  std::unique_ptr<TFolderLock> form;
  std::string holder;
  ASSERT_EQ(w.Real.LockFolder(w.Drive(), ".~lorvane.form.lock", form, holder), 0);
  const TProgramResult r = RunProgram(ArgsFor(w, false));
  EXPECT_EQ(r.Status, kRunBusy);
  EXPECT_NE(r.Err.find("already runs"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("process " + self), std::string::npos) << r.Err;
}

TEST(Program, SigtermEndsARunThatWaitsForABusyFile) {
  // Two composites whose template another program is still writing: each would wait ten
  // pauses of five seconds, longer together than the test waits.
  TFormWorld w;
  w.RootSettings({"[大盘代码]", "SH1=999999", "SH2=999998"});
  w.Deliver("shsrc", "000001", {"a"});
  w.Deliver("shsrc", "600000", {"a"});
  std::ofstream writer(w.Host("shsrc/000001.F10"), std::ios::app);
  QProcess program;
  program.start(QStringLiteral(LORVANE_BIN), ArgsFor(w));
  ASSERT_TRUE(program.waitForStarted());
  // The run has claimed its folders (its signal handlers are in place by then) before it
  // reads the template.
  ASSERT_TRUE(QTest::qWaitFor([&] { return Exists(w.Host("shsrc/" + kRunLockName)); }, 30000));
  ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
  ASSERT_TRUE(program.waitForFinished(60000)) << "the run went on waiting";
  EXPECT_EQ(program.exitCode(), kRunFailed);
  EXPECT_NE(program.readAllStandardError().toStdString().find("stopped"), std::string::npos);
  EXPECT_FALSE(Exists(w.Host("shdes/999999.txt")));
  EXPECT_TRUE(Exists(w.Host("shsrc/600000a.sub")));
}

// lorvane --once | head -1, and a run started with its standard error closed: the lines
// are dropped, the run goes through, and its log, report and status are those of the run.
TEST(Program, AClosedStandardOutputOrErrorNeverStopsARun) {
  TFormWorld w;
  w.RootSettings();
  w.Deliver("shsrc", "600000", {"a"});
  w.Deliver("szsrc", "000002", {"a"});
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  ::close(out[0]);  // the reader is gone before the first line
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  posix_spawn_file_actions_addclose(&actions, 2);
  // As a shell would start it, whatever this test program does with the signal.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  std::string program = LORVANE_BIN, home = w.Tmp.Path().string(), report = w.Host("run.json");
  std::string once = "--once", homeOption = "--home", reportOption = "--report";
  char* argv[] = {program.data(), homeOption.data(), home.data(), once.data(), reportOption.data(), report.data(),
                  nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(out[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), kRunClean);
  const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(report))).object();
  EXPECT_EQ(json["status"].toInt(), kRunClean);
  EXPECT_EQ(json["markets"].toArray()[1].toObject()["merged"].toInt(), 1);
  std::string log;  // the program's own clock names the day
  for (const auto& entry : testsupport::fs::directory_iterator(w.Tmp.Path()))
    if (entry.path().filename().string().rfind("UniteLog", 0) == 0) log = ReadFile(entry.path().string());
  EXPECT_NE(log.find("000002" + Utf8ToGbk("合并完毕")), std::string::npos) << log;
  EXPECT_EQ(ReadFile(w.Host("szdes/000002.txt")).find("lorvane"), std::string::npos);
}

TEST(Program, InstalledInABinFolderItKeepsSettingsAndLogsInTheUsersFolder) {
  testsupport::TTempDir tree;
  const auto bin = tree / "bin";
  testsupport::fs::create_directories(bin);
  testsupport::fs::copy_file(LORVANE_BIN, bin + "/lorvane");
  const std::string settings = tree / "home/.config/lorvane";
  WriteFile(settings + "/LORVANE.INI", "[OPTION]\r\nSRC=" + tree.Drive("in") + "\r\nDES=" + tree.Drive("out") + "\r\n");
  testsupport::fs::create_directories(tree / "in");
  testsupport::fs::create_directories(tree / "out");
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("HOME", QString::fromStdString(tree / "home"));
  env.remove("XDG_CONFIG_HOME");
  program.setProcessEnvironment(env);
  program.setWorkingDirectory(QString::fromStdString(tree.Path().string()));
  program.start(QString::fromStdString(bin + "/lorvane"), {"--help"});
  ASSERT_TRUE(program.waitForFinished(60000));
  EXPECT_NE(program.readAllStandardOutput().toStdString().find("Settings and day logs of this program now: " + settings),
            std::string::npos);
  program.start(QString::fromStdString(bin + "/lorvane"), {"--once"});
  ASSERT_TRUE(program.waitForFinished(60000));
  EXPECT_EQ(program.exitCode(), kRunClean) << program.readAllStandardError().toStdString();
  EXPECT_EQ(Names(bin), std::set<std::string>{"lorvane"});
  EXPECT_EQ(Names(settings).size(), 2u);  // the settings and the day's log
}

TEST(Program, UsageHelpAndVersion) {
  TProgramResult r = RunProgram({"--bogus"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("unknown argument: --bogus"), std::string::npos);
  EXPECT_NE(r.Err.find("Usage: lorvane"), std::string::npos);
  EXPECT_EQ(r.Out, "");

  r = RunProgram({"--once", "--home"});
  EXPECT_EQ(r.Status, 2);
  r = RunProgram({"--once", "--home", "/no/such/folder/anywhere"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("no such folder"), std::string::npos);

  r = RunProgram({"--help"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_NE(r.Out.find("--once"), std::string::npos);
  EXPECT_NE(r.Out.find("--home DIR"), std::string::npos);
  EXPECT_NE(r.Out.find("Exit status"), std::string::npos);

  r = RunProgram({"--version"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out.rfind("lorvane ", 0), 0u);
}

}  // namespace
