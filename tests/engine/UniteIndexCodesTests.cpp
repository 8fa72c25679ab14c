// The market-index composites: the codes of the settings, the template index, the join, the
// failures of one code or one text, and the codes that are not configured well enough.

#include "IniFile.h"
#include "MergeFixture.h"

using namespace mergetest;
using namespace std::string_literals;
namespace stdfs = std::filesystem;

namespace {

class CompositeTest : public TMergeFixture {
 protected:
  CompositeTest() {
    Thread.FSrcPath = D("shsrc");
    Thread.FDesPath = D("des");
    Thread.FSzSrcPath = D("szsrc");
    Thread.FSzDesPath = D("szdes");
    for (const char* d : {"shsrc", "des", "szdes", "m"}) stdfs::create_directories(H(d));
    Write("texts/a.txt", "a1\r\n`A`\r\n");
    Write("texts/b.txt", "b1\r\nb2\0gone\r\n"s);
  }
  void Codes(const TNameValues& entries) {
    TIniFile ini(Fs, Thread.SettingsPath());
    for (const auto& [name, code] : entries) ini.WriteString(Texts::SectionIndexCodes, name, code);
  }
  // A template record's TextFile: the text's path without its drive.
  std::string NoDrive(const std::string& rel) const { return D(rel).substr(2); }
  // The template with junk after its records: a save drops it, so it shows a release.
  void Template(const std::vector<TRec>& recs) { Write("shsrc/000001.F10", IndexBytes(recs) + "JNK"); }
};

}  // namespace

TEST_F(CompositeTest, BuildsEveryCodeFromTheTemplateIntoItsMarket) {
  Thread.FMakeIndex = true;
  const std::vector<TRec> recs = {{G("概况"), NoDrive("texts/a.txt")},
                                  {"", NoDrive("texts/b.txt")},
                                  {"C", NoDrive("texts/c.txt")},  // missing
                                  {"Z", ""}};                     // the drive alone
  Template(recs);
  Codes({{"xSZxSH", "000300"}, {"SZ1", "399001"}, {"sh_sz", "111111"}, {"other", "222222"}});
  Thread.UniteIndexCodes();
  const std::string joined = "a1\r\n`A`\r\nb1\r\nb2\r\n";
  EXPECT_EQ(Read("des/000300.txt"), joined);
  EXPECT_EQ(Read("szdes/399001.txt"), joined);
  EXPECT_FALSE(Exists("szdes/000300.txt") || Exists("des/399001.txt"));
  EXPECT_FALSE(Exists("des/111111.txt") || Exists("szdes/111111.txt"));
  EXPECT_FALSE(Exists("des/222222.txt") || Exists("szdes/222222.txt"));
  EXPECT_EQ(Thread.FTitles, std::vector<std::string>{G("概况")});
  EXPECT_EQ(ReadIndex(Read("des/000300.F10")).at(0).Market, 0);
  EXPECT_EQ(ReadIndex(Read("szdes/399001.F10")).at(0).Market, 2);
  EXPECT_EQ(FormMessages(), (std::vector<std::string>{G("生成000300索引"), G("生成399001索引")}));
  // The drive alone: the drive of the source root.
  for (const std::string& missing : {D("texts/c.txt"), D("").substr(0, 2)}) {
    EXPECT_TRUE(Has(FileMessages(), missing + Texts::Ellipses)) << missing;
    EXPECT_FALSE(Has(FormMessages(), missing + Texts::Ellipses));
  }
  EXPECT_EQ(Read("shsrc/000001.F10"), IndexBytes(recs));  // released: written back
}

TEST_F(CompositeTest, NoSectionNoComposite) {
  Template({{"", NoDrive("texts/a.txt")}});
  Thread.UniteIndexCodes();
  EXPECT_TRUE(stdfs::is_empty(H("des")));
  EXPECT_TRUE(Host.FormLog.empty());
}

TEST_F(CompositeTest, AbsentTemplateGivesAnEmptyCompositeAndStaysAbsent) {
  Thread.FMakeIndex = true;
  Thread.FMirrors = {{"SH", D("m")}};
  Codes({{"SH", "000300"}});
  Thread.UniteIndexCodes();
  EXPECT_TRUE(Exists("des/000300.txt"));
  EXPECT_EQ(Read("des/000300.txt"), "");
  EXPECT_EQ(Read("m/000300.txt"), "");
  EXPECT_TRUE(Exists("m/000300.txt"));
  EXPECT_FALSE(Exists("des/000300.F10"));
  EXPECT_FALSE(Exists("shsrc/000001.F10"));
}

TEST_F(CompositeTest, ACompositeThatCannotBeCreatedIsReportedAndTheNextCodeFollows) {
  Thread.FMirrors = {{"SH", D("m")}};
  Thread.FDesPath = D("missing");
  const std::vector<TRec> recs = {{"", NoDrive("texts/a.txt")}};
  Template(recs);
  Codes({{"SH", "000300"}, {"SZ", "399001"}});
  Thread.UniteIndexCodes();
  ASSERT_EQ(FormMessages().size(), 1u);
  EXPECT_EQ(Host.Status, Texts::ErrorCaption + FormMessages()[0]);
  EXPECT_FALSE(Exists("m/000300.txt"));
  EXPECT_EQ(Read("szdes/399001.txt"), "a1\r\n`A`\r\n");
  EXPECT_EQ(Read("shsrc/000001.F10"), IndexBytes(recs));
}

TEST_F(CompositeTest, ATextThatCannotBeReadIsSkippedButKeepsItsTitle) {
  Thread.FMakeIndex = true;
  Write("texts/c.txt", "c1\r\n");
  Template({{"A", NoDrive("texts/a.txt")}, {"B", NoDrive("texts/b.txt")}, {"C", NoDrive("texts/c.txt")}});
  Codes({{"SH", "000300"}});
  Fs.FailWhen("openshared", "b.txt", kErrAccessDenied);
  Thread.UniteIndexCodes();
  EXPECT_EQ(Read("des/000300.txt"), "a1\r\n`A`\r\nc1\r\n");
  EXPECT_EQ(Thread.FTitles, (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(Host.StatusHistory.size(), 1u);
  EXPECT_EQ(Host.Status, Texts::ErrorCaption + FormMessages().at(0));
}

TEST_F(CompositeTest, AFailedIndexSkipsTheIndexMirrorsAndTheTemplateIsReleasedLast) {
  Thread.FMakeIndex = true;
  Thread.FMirrors = {{"SH", D("m")}};
  const std::vector<TRec> recs = {{"A", NoDrive("texts/a.txt")}};
  Template(recs);
  Codes({{"SH", "000300"}, {"SH2", "000016"}});
  std::vector<std::string> ops;
  Fs.OnOperation([&](const std::string& kind, const std::string& path) { ops.push_back(kind + " " + path); });
  Fs.FailWhen("write", "000300.F10", kErrDiskFull);
  Thread.UniteIndexCodes();
  EXPECT_TRUE(Exists("m/000300.txt"));
  EXPECT_FALSE(Exists("m/000300.F10"));
  EXPECT_EQ(Host.StatusHistory.size(), 1u);
  EXPECT_EQ(Read("shsrc/000001.F10"), IndexBytes(recs));
  // The second code: its index is copied, and only then is the template written back.
  EXPECT_TRUE(Exists("m/000016.F10"));
  std::size_t copied = 0, released = 0;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    if (ops[i].starts_with("copy ") && ops[i].find("000016.F10") != std::string::npos) copied = i;
    // The release writes the template back, or reads it to find it holds those bytes already.
    if ((ops[i].starts_with("create ") || ops[i].starts_with("open ")) &&
        ops[i].find("000001.F10") != std::string::npos)
      released = i;
  }
  EXPECT_GT(copied, 0u);
  EXPECT_GT(released, copied);
}

TEST_F(CompositeTest, ABusyTemplateGivesAnEmptyCompositeAndIsLeftAlone) {
  Template({{"A", NoDrive("texts/a.txt")}});
  const std::string before = Read("shsrc/000001.F10");
  Codes({{"SH", "000300"}});
  Fs.HoldBusy("000001.F10");
  Thread.UniteIndexCodes();
  EXPECT_EQ(Fs.Sleeps(), 10);
  EXPECT_TRUE(Exists("des/000300.txt"));
  EXPECT_EQ(Read("des/000300.txt"), "");
  EXPECT_EQ(Read("shsrc/000001.F10"), before);
}

TEST_F(CompositeTest, ATemplateThatCannotBeLoadedFailsItsCodeOnly) {
  Write("shsrc/000001.F10", "short");
  Codes({{"SH", "000300"}, {"SZ", "399001"}});
  Thread.UniteIndexCodes();
  EXPECT_EQ(FormMessages(), std::vector<std::string>{Texts::StreamReadError});
  EXPECT_EQ(Host.Status, Texts::ErrorCaption + Texts::StreamReadError);
  EXPECT_FALSE(Exists("des/000300.txt"));
  // The failed load removed the short file, so the next code finds no template at all.
  EXPECT_FALSE(Exists("shsrc/000001.F10"));
  EXPECT_TRUE(Exists("szdes/399001.txt"));
  EXPECT_EQ(Read("szdes/399001.txt"), "");
}

TEST_F(CompositeTest, CodesWithoutTemplateRootOrTargetRootAreSkipped) {
  const std::vector<TRec> recs = {{"A", NoDrive("texts/a.txt")}};
  Template(recs);
  Codes({{"SH", "000300"}, {"SZ", "399001"}});
  const std::string shSource = Thread.FSrcPath;
  Thread.FSrcPath = "";
  Thread.UniteIndexCodes();
  EXPECT_EQ(FormMessages(), (std::vector<std::string>{"000300" + Texts::CodeSkippedNoTemplate,
                                                      "399001" + Texts::CodeSkippedNoTemplate}));
  EXPECT_FALSE(testsupport::Exists("/000001.F10") || testsupport::Exists("/000300.txt"));
  EXPECT_EQ(Read("shsrc/000001.F10"), IndexBytes(recs) + "JNK");  // not even loaded
  EXPECT_TRUE(stdfs::is_empty(H("des")));

  Host.FormLog.clear();
  Thread.FSrcPath = shSource;
  Thread.FSzDesPath = "";
  Thread.UniteIndexCodes();
  EXPECT_EQ(FormMessages(), (std::vector<std::string>{"399001" + Texts::CodeSkippedNoTarget}));
  EXPECT_TRUE(Exists("des/000300.txt"));
  EXPECT_FALSE(testsupport::Exists("/399001.txt"));
  EXPECT_TRUE(Host.StatusHistory.empty());
}

// A template may list tens of thousands of texts: the stop is heard between two of them.
TEST_F(CompositeTest, AStopRequestEndsTheCompositeBetweenTwoTextsAndTheCompositesThere) {
  Thread.FMakeIndex = true;
  Thread.FMirrors = {{"SH", D("m")}};
  Template({{"A", NoDrive("texts/a.txt")}, {"B", NoDrive("texts/b.txt")}});
  const std::string templateBefore = Read("shsrc/000001.F10");
  Codes({{"SH", "000300"}, {"SZ", "399001"}});
  Fs.OnOperation([&](const std::string& kind, const std::string& path) {
    if (kind == "openshared" && path.find("a.txt") != std::string::npos) Thread.Terminate();
  });
  Thread.UniteIndexCodes();
  EXPECT_EQ(Read("des/000300.txt"), "a1\r\n`A`\r\n");
  EXPECT_FALSE(Exists("m/000300.txt"));
  EXPECT_FALSE(Exists("des/000300.F10"));
  EXPECT_EQ(Read("shsrc/000001.F10"), templateBefore);
  EXPECT_FALSE(Exists("szdes/399001.txt"));
  EXPECT_TRUE(Host.StatusHistory.empty());
}

TEST_F(CompositeTest, ALogThatCannotBeWrittenEndsTheComposites) {
  Template({{"A", NoDrive("texts/missing.txt")}});
  Codes({{"SH", "000300"}, {"SZ", "399001"}});
  Fs.FailWhen("append", "UniteLog", kErrDiskFull);
  EXPECT_THROW(Thread.UniteIndexCodes(), EFailure);
  EXPECT_FALSE(Exists("szdes/399001.txt"));
}
