// A disk written by others, through real runs on real trees: links and special files under
// feed names, names GBK cannot carry, an archive that leads out of its root, settings that
// turn the run on its own feed, leftovers of killed runs, names in another case, a mirror
// that failed once, a stop while a file is busy. Nothing outside the run's folders is ever
// read or written, nothing delivered is lost or renamed, and every stock the hostile entries
// do not concern is merged.

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <thread>

#include "Scenario.h"

namespace reliability {
namespace {

bool LogHas(const testsupport::TRecordingHost& host, const std::string& text) {
  for (const std::string& line : host.FormLog)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

std::string Read(const fs::path& p) { return ReadFile(p.string()); }

struct TDiskCase {
  const char* Name;
  // Puts the hostile entry into the tree (and may change the run's platform) before the run.
  std::function<void(const fs::path& root, TTreeRun& run)> Lay;
  std::function<void(const fs::path& root, const testsupport::TRecordingHost& host)> Check;
};

void PrintTo(const TDiskCase& c, std::ostream* out) { *out << c.Name; }

// The merged text of the tree's ordinary stock 600000.
std::string Merged600000() {
  return "`" + G("公司概况") + "A`\r\n" + SectionBytes("600000", 'A') +
         "`" + G("公司概况") + "B`\r\n" + SectionBytes("600000", 'B');
}

// Checks that a hostile entry of its own kept stock 600000 from being staged: everything of
// it stays in the root as delivered, its old text stays, the log names the entry once, and
// the other stocks are merged.
void ExpectLeftAlone(const fs::path& root, const testsupport::TRecordingHost& host, const std::string& refusal) {
  int lines = 0;
  for (const std::string& line : host.FormLog) lines += line.find(refusal) != std::string::npos;
  EXPECT_EQ(lines, 1) << GbkToUtf8(refusal);
  EXPECT_EQ(Read(root / "shsrc/600000A.sub"), SectionBytes("600000", 'A'));
  EXPECT_FALSE(fs::exists(root / "shsrc/DATA/600000"));
  EXPECT_EQ(Read(root / "shdes/600000.txt"), G("旧的文本") + "\r\n");
  EXPECT_EQ(host.Status, "");
  EXPECT_TRUE(fs::exists(root / "shdes/600001.F10"));
  EXPECT_TRUE(fs::exists(root / "szdes/000002.F10"));
}

const TDiskCase kCases[] = {
    {"TargetTextLinkedOutside",
     [](const fs::path& root, TTreeRun&) {
       fs::remove(root / "shdes/600000.txt");
       fs::create_symlink(root / "outside/keep.txt", root / "shdes/600000.txt");
       WriteFile((root / "outside/hard.txt").string(), "hard\r\n");
       fs::create_hard_link(root / "outside/hard.txt", root / "shdes/600001.txt");
     },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       EXPECT_EQ(host.Status, "");
       EXPECT_EQ(Read(root / "outside/hard.txt"), "hard\r\n");
       EXPECT_FALSE(fs::is_symlink(root / "shdes/600000.txt"));
       EXPECT_EQ(Read(root / "shdes/600000.txt"), Merged600000());
       EXPECT_EQ(fs::hard_link_count(root / "shdes/600001.txt"), 1u);
     }},
    {"SectionLinkedToAPrivateFile",
     [](const fs::path& root, TTreeRun&) {
       WriteFile((root / "outside/secret.txt").string(), "root only\r\n");
       fs::remove(root / "shsrc/600000B.sub");
       fs::create_symlink(root / "outside/secret.txt", root / "shsrc/600000B.sub");
     },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       ExpectLeftAlone(root, host, Texts::RefusedNotAFile + "D:\\shsrc\\600000B.sub");
       EXPECT_TRUE(fs::is_symlink(root / "shsrc/600000B.sub"));
       EXPECT_EQ(Read(root / "mirsh/600000.txt"), G("旧的文本") + "\r\n");
     }},
    {"IndexThatIsALink",
     [](const fs::path& root, TTreeRun&) {
       fs::rename(root / "shsrc/600000.F10", root / "outside/600000.F10");
       fs::create_symlink(root / "outside/600000.F10", root / "shsrc/600000.F10");
     },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       ExpectLeftAlone(root, host, Texts::RefusedNotAFile + "D:\\shsrc\\600000.F10");
     }},
    {"SectionThatIsAFifo",
     [](const fs::path& root, TTreeRun&) {
       fs::remove(root / "shsrc/600000B.sub");
       ASSERT_EQ(::mkfifo((root / "shsrc/600000B.sub").c_str(), 0666), 0);
     },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       ExpectLeftAlone(root, host, Texts::RefusedNotAFile + "D:\\shsrc\\600000B.sub");
     }},
    {"SectionThatIsAFolder",
     [](const fs::path& root, TTreeRun&) { fs::create_directory(root / "shsrc/600000C.sub"); },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       ExpectLeftAlone(root, host, Texts::RefusedNotAFile + "D:\\shsrc\\600000C.sub");
       EXPECT_TRUE(fs::is_directory(root / "shsrc/600000C.sub"));
     }},
    {"NameThatGbkCannotCarry",
     [](const fs::path& root, TTreeRun&) { WriteFile((root / "shsrc/600000\xC3\xA4.sub").string(), "umlaut\r\n"); },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       // The line names the entry by its bytes, not by the character GBK would make of them.
       ExpectLeftAlone(root, host, Texts::RefusedOddName + "D:\\shsrc\\600000\\xC3\\xA4.sub");
       EXPECT_EQ(Read(root / "shsrc/600000\xC3\xA4.sub"), "umlaut\r\n");
     }},
    {"NameWithAControlCharacter",
     [](const fs::path& root, TTreeRun&) { WriteFile((root / "shsrc/600000\n.sub").string(), "x\r\n"); },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       ExpectLeftAlone(root, host, Texts::RefusedOddName + "D:\\shsrc\\600000\\x0A.sub");
     }},
    {"NameThatReadsAsAPath",
     [](const fs::path& root, TTreeRun&) {
       // No Windows name holds a backslash; read as one, this would lead up and into the
       // other market's target.
       fs::copy_file(root / "shsrc/600001.F10", root / "shsrc/..\\..\\szdes\\000002.F10");
     },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       EXPECT_TRUE(LogHas(host, Texts::RefusedOddName + "D:\\shsrc\\..\\x5C..\\x5Cszdes\\x5C000002.F10"));
       EXPECT_EQ(host.Status, "");
       EXPECT_TRUE(fs::exists(root / "shsrc/..\\..\\szdes\\000002.F10"));
       EXPECT_FALSE(fs::exists(root / "szdes/000002"));
       EXPECT_EQ(Read(root / "shdes/600000.txt"), Merged600000());
     }},
    {"ClaimNameTakenByALink",
     [](const fs::path& root, TTreeRun&) {
       fs::create_symlink(root / "outside/keep.txt", root / "shdes/.~lorvane.run.lock");
     },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       // A run that cannot claim a folder does not start.
       EXPECT_EQ(host.Status, Texts::ErrorCaption + Texts::RefusedNotAFile + "D:\\shdes\\.~lorvane.run.lock");
       EXPECT_TRUE(fs::is_symlink(root / "shdes/.~lorvane.run.lock"));
       EXPECT_TRUE(fs::exists(root / "shsrc/600000A.sub"));
       EXPECT_FALSE(fs::exists(root / "shsrc/DATA/600000"));
     }},
    {"TemplateIndexThatIsALink",
     [](const fs::path& root, TTreeRun&) {
       fs::rename(root / "shsrc/000001.F10", root / "outside/000001.F10");
       fs::create_symlink(root / "outside/000001.F10", root / "shsrc/000001.F10");
     },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       // No composite is built from it, none is emptied, and the link is neither read nor
       // replaced by the index's release; the stocks go on.
       EXPECT_TRUE(LogHas(host, Texts::RefusedNotAFile + "D:\\shsrc\\000001.F10"));
       EXPECT_TRUE(fs::is_symlink(root / "shsrc/000001.F10"));
       EXPECT_EQ(Read(root / "shdes/999999.txt"), G("旧的文本") + "\r\n");
       EXPECT_FALSE(fs::exists(root / "szdes/399001.txt"));
       EXPECT_EQ(Read(root / "shdes/600000.txt"), Merged600000());
     }},
    {"TemplateTextThatIsALink",
     [](const fs::path& root, TTreeRun&) {
       fs::rename(root / "shsrc/tpl/b.txt", root / "outside/b.txt");
       fs::create_symlink(root / "outside/b.txt", root / "shsrc/tpl/b.txt");
     },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       // Skipped in both composites, named once.
       int lines = 0;
       for (const std::string& line : host.FormLog)
         lines += line.find(Texts::RefusedNotAFile + "D:\\shsrc\\tpl\\b.txt") != std::string::npos;
       EXPECT_EQ(lines, 1);
       const std::string composite = Read(root / "shdes/999999.txt");
       EXPECT_NE(composite.find(G("指数概况")), std::string::npos);
       EXPECT_EQ(composite.find(G("成分股")), std::string::npos);
       EXPECT_EQ(Read(root / "szdes/399001.txt"), composite);
     }},
    {"ArchiveLinkedOutside",
     [](const fs::path& root, TTreeRun&) {
       fs::rename(root / "shsrc/DATA", root / "outside/archive");
       fs::create_directory_symlink(root / "outside/archive", root / "shsrc/DATA");
     },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       EXPECT_TRUE(LogHas(host, "D:\\shsrc\\DATA" + Texts::DirCreateError));
       EXPECT_EQ(host.Status, Texts::ErrorCaption + "D:\\shsrc\\DATA" + Texts::DirCreateErrorCaption);
       EXPECT_EQ(Read(root / "outside/archive/600001/600001A.sub"), SectionBytes("600001", 'A', " old"));
       EXPECT_FALSE(fs::exists(root / "outside/archive/600000"));
       EXPECT_TRUE(fs::exists(root / "shsrc/600000A.sub"));
       EXPECT_TRUE(fs::exists(root / "szsrc/000002A.sub")) << "a staging failure ends the run";
     }},
    {"StageLinkedOutside",
     [](const fs::path& root, TTreeRun&) {
       fs::create_directories(root / "outside/stage");
       fs::create_directory_symlink(root / "outside/stage", root / "shsrc/DATA/600000");
     },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       EXPECT_TRUE(LogHas(host, "D:\\shsrc\\DATA\\600000" + Texts::DirCreateError));
       EXPECT_TRUE(fs::is_empty(root / "outside/stage"));
       EXPECT_TRUE(fs::exists(root / "shsrc/600000A.sub"));
     }},
    {"SettingsThatTurnTheRunOnItsFeed",
     [](const fs::path& root, TTreeRun& run) {
       WriteFile(SettingsHostPath(root / TLayout::Home),
                 G("[多路径拷贝]\r\nSHMIR=D:\\shsrc\\DATA\r\nOTHER=D:\\shsrc\r\n"));
       run.Real().SetDrive('E', "relative/folder");
     },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       // Both keys named in one line; the entry no market uses is no concern.
       const std::string line = Texts::SettingsRefused + "DRIVES\\E" + Texts::NotAbsolute +
                                Texts::ProblemSeparator + G("多路径拷贝") + "\\SHMIR" +
                                Fmt(Texts::SameOrInside, "SRC");
       ASSERT_EQ(host.FormLog.size(), 1u);
       EXPECT_NE(host.FormLog[0].find(line), std::string::npos) << GbkToUtf8(host.FormLog[0]);
       EXPECT_EQ(host.Status, Texts::ErrorCaption + line);
       EXPECT_TRUE(fs::exists(root / "shsrc/600000A.sub"));
       EXPECT_FALSE(fs::exists(root / "shsrc/DATA/600000"));
     }},
    {"TwoSettingsNamingOneFolder",
     [](const fs::path& root, TTreeRun& run) {
       // E: is a second mount of the folders of D:, so only their identity says that the
       // mirror is the Shanghai target.
       run.Real().SetDrive('E', root.string());
       run.Fs().MountedTwice('E');
       WriteFile(SettingsHostPath(root / TLayout::Home), G("[多路径拷贝]\r\nSHMIR=E:\\shdes\r\nSZMIR=D:\\mirsz\r\n"));
     },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       // Refused with both keys named, never taken for another run at work.
       const std::string line = Texts::SettingsRefused + G("多路径拷贝") + "\\SHMIR=E:\\shdes" +
                                Fmt(Texts::SameFolderAs, "DES=D:\\shdes");
       ASSERT_EQ(host.FormLog.size(), 1u);
       EXPECT_NE(host.FormLog[0].find(line), std::string::npos) << GbkToUtf8(host.FormLog[0]);
       EXPECT_EQ(host.Status, Texts::ErrorCaption + line);
       EXPECT_TRUE(fs::exists(root / "shsrc/600000A.sub"));
       EXPECT_FALSE(fs::exists(root / "shsrc/DATA/600000"));
     }},
    {"NamesInAnotherCase",
     [](const fs::path& root, TTreeRun&) {
       fs::rename(root / "shdes/600000.txt", root / "shdes/600000.TXT");
       fs::rename(root / "shdes/999999.txt", root / "shdes/999999.TXT");
     },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       EXPECT_EQ(host.Status, "");
       EXPECT_EQ(Read(root / "shdes/600000.TXT"), Merged600000());
       EXPECT_FALSE(fs::exists(root / "shdes/600000.txt"));
       EXPECT_EQ(Read(root / "mirsh/600000.txt"), Merged600000());
       EXPECT_EQ(fs::file_size(root / "shdes/600000.F10"), 16u + 2 * 256u);
       EXPECT_EQ(Read(root / "mirsh/999999.txt"), Read(root / "shdes/999999.TXT"));
       EXPECT_EQ(fs::file_size(root / "shdes/999999.F10"), 16u + 2 * 256u);
     }},
    {"CodeAtTheNameLengthLimit",
     [](const fs::path& root, TTreeRun&) {
       // 250 bytes: its sections' names are 255, the longest a file system takes, and its
       // mark would be 258. An earlier run failed its merge, so only its mark brings it back.
       const std::string code = "600002" + std::string(244, 'L');
       WriteFile((root / "shsrc" / (code + "A.sub")).string(), SectionBytes("600002", 'A'));
       WriteFile((root / "shsrc" / (code + ".F10")).string(), IndexBytes({{G("概况"), code + "A.sub"}}));
       TTreeRun earlier(root);
       earlier.Fs().FailWhen("create", code + ".txt", kErrDiskFull);
       earlier.Execute();
       EXPECT_TRUE(fs::exists(root / "shsrc/DATA" / code / (code + "A.sub")));
       EXPECT_FALSE(fs::exists(root / "shdes" / (code + ".txt")));
     },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       const std::string code = "600002" + std::string(244, 'L');
       EXPECT_EQ(host.Status, "");
       EXPECT_TRUE(LogHas(host, code + Texts::MergeDone));
       EXPECT_FALSE(Read(root / "shdes" / (code + ".txt")).empty());
       EXPECT_EQ(Read(root / "mirsh" / (code + ".txt")), Read(root / "shdes" / (code + ".txt")));
       for (const auto& entry : fs::directory_iterator(root / "shsrc/DATA"))
         EXPECT_NE(entry.path().extension(), ".pending") << entry.path();
       EXPECT_TRUE(fs::exists(root / "szdes/000002.F10"));
     }},
    {"StageNameTheSystemRefuses",
     [](const fs::path&, TTreeRun& run) { run.Fs().FailWhen("mkdir", "DATA\\600000", kErrNameTooLong); },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       ExpectLeftAlone(root, host, Fmt(Texts::RefusedCannotStage, "D:\\shsrc\\DATA\\600000") + "D:\\shsrc\\600000.F10");
       EXPECT_TRUE(fs::exists(root / "shsrc/600000B.sub"));
       EXPECT_FALSE(fs::exists(root / "shsrc/DATA/600000.pending"));
     }},
    {"LeftoversOfAKilledRun",
     [](const fs::path& root, TTreeRun&) {
       for (const char* dir : {"shdes", "mirsh", "home", "shsrc"})
         WriteFile((root / dir / ".~lorvane.Ab12Z9.tmp").string(), "half");
       // Near misses are somebody else's.
       WriteFile((root / "shdes/.~lorvane.Ab12Z.tmp").string(), "x");
       WriteFile((root / "shdes/x.~lorvane.Ab12Z9.tmp").string(), "x");
       fs::create_directory(root / "shdes/.~lorvane.Qq12Z9.tmp");
     },
     [](const fs::path& root, const testsupport::TRecordingHost& host) {
       EXPECT_EQ(host.Status, "");
       for (const char* dir : {"shdes", "mirsh", "home", "shsrc"})
         EXPECT_FALSE(fs::exists(root / dir / ".~lorvane.Ab12Z9.tmp")) << dir;
       EXPECT_TRUE(fs::exists(root / "shdes/.~lorvane.Ab12Z.tmp"));
       EXPECT_TRUE(fs::exists(root / "shdes/x.~lorvane.Ab12Z9.tmp"));
       EXPECT_TRUE(fs::is_directory(root / "shdes/.~lorvane.Qq12Z9.tmp"));
     }},
};

class THostileDisk : public ::testing::TestWithParam<TDiskCase> {
 protected:
  void SetUp() override {
    Root = Scratch.Path();
    BuildScenario(Root);
  }
  TScratch Scratch;
  fs::path Root;
};

TEST_P(THostileDisk, IsLeftAloneOrReplacedByNameAndTheRestIsMerged) {
  const std::string outside = Read(Root / "outside/keep.txt");
  TTreeRun run(Root);
  GetParam().Lay(Root, run);
  run.Execute();
  EXPECT_TRUE(run.Host().Ended);
  EXPECT_EQ(Read(Root / "outside/keep.txt"), outside);
  GetParam().Check(Root, run.Host());
}

INSTANTIATE_TEST_SUITE_P(Entries, THostileDisk, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TDiskCase>& param) { return std::string(param.param.Name); });

// A mirror that could not be written is written by the next run, whether or not its stock
// is delivered again; a new copy that succeeds settles what an old one owed.
TEST(MirrorBacklog, AFailedMirrorCopyIsMadeAgainByLaterRunsUntilItSucceeds) {
  TScratch scratch;
  const fs::path root = scratch.Path();
  BuildScenario(root);
  {
    TTreeRun run(root);
    run.Fs().FailWhen("copy", "\nD:\\mirsh\\", 112);  // the disk of one mirror is full
    run.Execute();
    EXPECT_EQ(run.Host().Status, "") << "a mirror copy's outcome is nobody's failure";
  }
  EXPECT_EQ(Read(root / "mirsh/600000.txt"), G("旧的文本") + "\r\n");
  EXPECT_FALSE(fs::exists(root / "mirsh/600001.F10"));
  const std::string backlog = Read(root / "home/UniteMirrorRetry.txt");
  EXPECT_NE(backlog.find("D:\\shdes\\600000.txt\tD:\\mirsh\\600000.txt\r\n"), std::string::npos) << backlog;
  EXPECT_NE(backlog.find("\tD:\\mirsh\\999999.F10\r\n"), std::string::npos) << "composites too";

  // A list that cannot be read this time is kept as it is, not rewritten with this run's
  // failed copies alone.
  {
    TTreeRun run(root);
    run.Fs().FailWhen("openshared", "UniteMirrorRetry", 5);
    run.Fs().FailWhen("copy", "\nD:\\mirsh\\", 112);
    run.Execute();
  }
  EXPECT_EQ(Read(root / "home/UniteMirrorRetry.txt"), backlog);

  // Nothing new is delivered; the disk has room again.
  { TTreeRun(root).Execute(); }
  for (const char* name : {"600000.txt", "600000.F10", "600001.txt", "600001.F10", "999999.txt", "999999.F10"})
    EXPECT_EQ(Read(root / "mirsh" / name), Read(root / "shdes" / name)) << name;
  EXPECT_FALSE(fs::exists(root / "home/UniteMirrorRetry.txt"));
}

// A stop request ends a wait for a busy file at once: the load ends as if every attempt had
// failed, the composite is left as it was, and the run stops.
TEST(StopRequest, EndsTheBusyFileWaitAndTheRun) {
  TScratch scratch;
  const fs::path root = scratch.Path();
  BuildScenario(root);
  const std::string composite = Read(root / "shdes/999999.txt");
  const std::string templateIndex = Read(root / "shsrc/000001.F10");
  TTreeRun tree(root);
  tree.Fs().HoldBusy("000001.F10");
  TUniteThread run(tree.Fs(), tree.Host());
  run.FSrcPath = "D:\\shsrc";
  run.FDesPath = "D:\\shdes";
  run.FSzSrcPath = "D:\\szsrc";
  run.FSzDesPath = "D:\\szdes";
  run.FMakeIndex = true;
  // The form is closed as the template's first busy attempt fails.
  tree.Fs().OnOperation([&run](const std::string& kind, const std::string& path) {
    if (kind == "open" && path.find("000001.F10") != std::string::npos) run.Terminate();
  });
  run.Execute();
  EXPECT_EQ(tree.Fs().Sleeps(), 1) << "one pause begun, and cut short";
  EXPECT_EQ(Read(root / "shdes/999999.txt"), composite);
  EXPECT_EQ(Read(root / "shsrc/000001.F10"), templateIndex);
  EXPECT_TRUE(fs::exists(root / "shsrc/600000A.sub"));
  EXPECT_TRUE(tree.Host().StatusHistory.empty());
  EXPECT_TRUE(tree.Host().Ended);
}

// A section another program still writes keeps its stock in the root, whole, for the run
// after the writer is done: no short text is ever published.
TEST(FeedStillWriting, AStockWaitsInItsRootUntilItsWriterIsDone) {
  TScratch scratch;
  const fs::path root = scratch.Path();
  BuildScenario(root);
  const std::string section = root / "shsrc/600000B.sub";
  auto writer = std::make_unique<std::ofstream>(section, std::ios::app | std::ios::binary);
  {
    TTreeRun run(root);
    run.Execute();
    int lines = 0;
    for (const std::string& line : run.Host().FormLog)
      lines += line.find(Texts::RefusedBeingWritten + "D:\\shsrc\\600000B.sub") != std::string::npos;
    EXPECT_EQ(lines, 1);
    EXPECT_EQ(run.Host().Status, "");
  }
  EXPECT_EQ(Read(root / "shsrc/600000A.sub"), SectionBytes("600000", 'A')) << "moved back where it was";
  EXPECT_FALSE(fs::exists(root / "shsrc/DATA/600000.pending"));
  EXPECT_EQ(Read(root / "shdes/600000.txt"), G("旧的文本") + "\r\n");
  EXPECT_TRUE(fs::exists(root / "shdes/600001.F10")) << "the rest of the market is merged";

  *writer << "tail\r\n";
  writer.reset();
  { TTreeRun(root).Execute(); }
  EXPECT_EQ(Read(root / "shdes/600000.txt"), Merged600000() + "tail\r\n");
  EXPECT_FALSE(fs::exists(root / "shsrc/600000B.sub"));
}

// The feed's owner swaps the archive for a link to a folder outside, and back, all the time
// while runs go on: whatever a run does meanwhile, nothing it moves or makes lands outside
// the source root, and no delivered section is lost. The outcome of each run depends on when
// the swaps come; what is checked holds at any moment.
TEST(ArchiveSwappedForALink, NothingGoesOutsideTheSourceRootWhateverTheMomentOfTheSwap) {
  TScratch scratch;
  const fs::path root = scratch.Path();
  BuildScenario(root);
  fs::create_directories(root / "outside/lure");
  fs::create_directory_symlink(root / "outside/lure", root / "shsrc/link");
  const std::string archive = (root / "shsrc/DATA").string(), link = (root / "shsrc/link").string();
  constexpr int kRuns = 12;

  std::atomic<bool> stop{false};
  std::atomic<long> swaps{0};
  std::thread swapper([&] {
    // RENAME_EXCHANGE: at every moment one of the two names is the archive, the other the link.
    while (!stop) {
      if (::renameat2(AT_FDCWD, archive.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE) == 0) ++swaps;
    }
  });
  int delivered = 0;
  for (int run = 0; run < kRuns; ++run) {
    for (const char* code : {"600000", "600001"}) {
      WriteFile((root / "shsrc" / (std::string(code) + "A.sub")).string(), "run " + std::to_string(run) + "\r\n");
      ++delivered;
    }
    TTreeRun(root).Execute();
  }
  stop = true;
  swapper.join();
  if (fs::is_symlink(archive)) ::renameat2(AT_FDCWD, archive.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE);
  std::printf("%ld swaps during %d runs\n", swaps.load(), kRuns);

  EXPECT_TRUE(fs::is_empty(root / "outside/lure")) << "a run worked in the folder the link leads to";
  EXPECT_TRUE(fs::is_directory(archive) && !fs::is_symlink(archive));
  // Every section delivered lies in the root or in a stage, or went into a text; none was
  // put anywhere else.
  int found = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root / "shsrc"))
    found += entry.is_regular_file() && entry.path().extension() == ".sub";
  EXPECT_GE(found, 2) << "the last delivery is somewhere under the source root";
  EXPECT_LE(found, delivered + 4);  // the scenario's own B sections besides
}

}  // namespace
}  // namespace reliability
