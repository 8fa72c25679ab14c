// The source folder searched once per market: the same answers as a search per stock, files
// delivered during a run left for the next one, and no search that grows with the stocks.

#include "FolderListing.h"
#include "RunFixture.h"

namespace enginetest {
namespace {

[[maybe_unused]] std::vector<std::string> Names(const std::vector<TFindEntry>& entries) {
  std::vector<std::string> out;
  for (const TFindEntry& e : entries) out.push_back(e.Name + (e.IsDirectory ? "/" : ""));
  return out;
}

class TFolderListingTest : public TRunTest {
 protected:
  void SetUp() override {
    for (const char* root : {"shsrc", "shdes", "szsrc", "szdes"}) MakeDir(root);
  }
  int Searches() {
    int n = 0;
    Fs.OnOperation([&n](const std::string& kind, const std::string&) { n += kind == "find"; });
    NewRun()->Execute();
    Fs.OnOperation(nullptr);
    return n;
  }
};

#ifndef _WIN32  // host names a Windows disk cannot hold: "?", "*", "\\", names apart only by case, bytes that are no UTF-8
TEST_F(TFolderListingTest, AnswersEveryMaskAsASearchOfTheFolderWould) {
  // Double-byte characters whose order differs between GBK and the host's UTF-8.
  const std::string gbk = GbkToUtf8("\xBC\xF2"), first = GbkToUtf8("\xD2\xBB");
  for (const std::string& name : std::vector<std::string>{"600000.F10", "600000.f10", "6000001.sub", "600000A.SUB", "600000a.sub", "600000.sub",
        "60000012.sub", "6000001.subx", "600000" + gbk + ".sub", "600000" + first + ".sub", "600000?.sub", "60000.F10",
        "60000ab.sub", "abc.F10", "ABC1.sub", "abcd.sub", "6*.F10", "6*1.sub", "a\\b.F10",
        "a\\b1.sub", "x.F10", ".F10", "F10", "600000\xFF.sub"})
    WriteFile(Tmp / ("src/" + name), "x");
  MakeDir("src/600000D.sub");  // folders named like section files count as entries too
  MakeDir("src/700000.F10");
  WriteFile(Tmp / "src/.~lorvane.abc123.tmp", "half");  // our own temporaries never count

  const std::string dir = Drive("src");
  TFolderListing listing(Fs, dir);
  std::vector<std::string> masks = {"*", "*.*", "*.F10", "*.f10", "*.sub", "?.F10", "*1.sub",
                                    "F10", "nothing*", "\xBC?.sub"};
  for (const TFindEntry& index : Fs.FindFiles(dir + "\\*.F10"))
    masks.push_back(index.Name.substr(0, index.Name.size() - 4) + "?.sub");
  for (const char* code : {"600000", "60000", "6000", "ABC", "abc", "600000\xBC", ".", ".."})
    masks.push_back(std::string(code) + "?.sub");
  for (const std::string& mask : masks)
    EXPECT_EQ(Names(listing.Find(mask)), Names(Fs.FindFiles(dir + "\\" + mask))) << mask;

  // Spot checks that the comparison above compares something.
  const std::string wide = "600000\xBC\xF2.sub", wideFirst = "600000\xD2\xBB.sub";
  EXPECT_EQ(Names(listing.Find("600000?.sub")),
            (std::vector<std::string>{"6000001.sub", "600000?.sub", "600000A.SUB", "600000a.sub",
                                      "600000D.sub/", wideFirst, wide, "600000\xFF.sub"}));
  EXPECT_EQ(Names(listing.Find("abc?.sub")), (std::vector<std::string>{"ABC1.sub", "abcd.sub"}));

  // What the run has moved away is no longer listed; the rest keeps its order.
  listing.Forget("600000A.SUB");
  EXPECT_EQ(Names(listing.Find("600000?.sub")),
            (std::vector<std::string>{"6000001.sub", "600000?.sub", "600000a.sub", "600000D.sub/",
                                      wideFirst, wide, "600000\xFF.sub"}));
}
#endif

TEST_F(TFolderListingTest, AMarketSearchesItsFolderOnceWhateverItsStocks) {
  Deliver("shsrc", "600000", {"A", "B"});
  const int one = Searches();
  for (const char* code : {"600001", "600002", "600003", "600004"}) Deliver("shsrc", code, {"A", "B"});
  Deliver("szsrc", "000002", {"A"});
  EXPECT_EQ(Searches(), one);
  EXPECT_TRUE(Exists(Tmp / "shsrc/DATA/600004/600004B.sub"));
  EXPECT_EQ(Host.Status, "");
}

TEST_F(TFolderListingTest, FilesDeliveredDuringARunWaitForTheNextOne) {
  Deliver("shsrc", "600000", {"A"});
  Deliver("shsrc", "600001", {"A", "B"});
  const std::string lateB = "late section B of 600001\r\n";
  testsupport::fs::remove(Tmp / "shsrc/600001B.sub");  // the feed has not written it yet
  WriteFile(Tmp / "shsrc/600002.F10", IndexBytes({{"TA", "600002A.sub"}}));  // nor this one's
  // The feed goes on writing while the first stock is staged.
  bool delivered = false;
  Fs.OnOperation([&](const std::string& kind, const std::string& path) {
    if (delivered || kind != "move" || path.find("600000A.sub") == std::string::npos) return;
    delivered = true;
    WriteFile(Tmp / "shsrc/600001B.sub", lateB);
    WriteFile(Tmp / "shsrc/600002A.sub", SectionBytes("600002", "A"));
  });
  NewRun()->Execute();
  Fs.OnOperation(nullptr);
  ASSERT_TRUE(delivered);
  EXPECT_EQ(Host.Status, "");

  // 600001 was merged from what was there when the market was listed; its late section
  // waits in the source root, and so does the stock that had nothing waiting then.
  EXPECT_TRUE(Exists(Tmp / "shsrc/DATA/600001/600001A.sub"));
  EXPECT_EQ(ReadFile(Tmp / "shsrc/600001B.sub"), lateB);
  EXPECT_EQ(ReadFile(Tmp / "shdes/600001.txt").find("late section"), std::string::npos);
  EXPECT_FALSE(Exists(Tmp / "shsrc/DATA/600002"));
  EXPECT_TRUE(Exists(Tmp / "shsrc/600002A.sub"));

  // The next run takes them up.
  NewRun()->Execute();
  EXPECT_EQ(Host.Status, "");
  EXPECT_FALSE(Exists(Tmp / "shsrc/600001B.sub"));
  EXPECT_EQ(ReadFile(Tmp / "shsrc/DATA/600001/600001B.sub"), lateB);
  EXPECT_NE(ReadFile(Tmp / "shdes/600001.txt").find("late section B"), std::string::npos);
  EXPECT_EQ(ReadFile(Tmp / "shsrc/DATA/600002/600002A.sub"), SectionBytes("600002", "A"));
  EXPECT_TRUE(Exists(Tmp / "shdes/600002.txt"));
}

TEST_F(TFolderListingTest, AListedFileTakenAwayMeanwhileIsNoFailure) {
  Deliver("shsrc", "600000", {"A"});
  Deliver("shsrc", "600001", {"A", "B"});
  Fs.OnOperation([&](const std::string& kind, const std::string& path) {
    if (kind == "move" && path.find("600000A.sub") != std::string::npos)
      testsupport::fs::remove(Tmp / "shsrc/600001A.sub");
  });
  NewRun()->Execute();
  Fs.OnOperation(nullptr);
  EXPECT_EQ(Host.Status, "");
  EXPECT_FALSE(Mentioned(Texts::CannotMove));
  EXPECT_EQ(ReadFile(Tmp / "shsrc/DATA/600001/600001B.sub"), SectionBytes("600001", "B"));
  EXPECT_TRUE(Exists(Tmp / "shdes/600001.txt"));

  // A move that fails while the file is still there is the failure it always was.
  Deliver("shsrc", "600002", {"A"});
  Fs.FailWhen("move", "600002A.sub", kErrFileNotFound);
  NewRun()->Execute();
  EXPECT_TRUE(Logged("600002" + Texts::CannotMove));
  EXPECT_TRUE(Exists(Tmp / "shsrc/600002A.sub"));
}

}  // namespace
}  // namespace enginetest
