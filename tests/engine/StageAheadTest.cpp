// The second thread of a market: each stock staged while the one before is merged, and the
// mirror copies made beside the merge. Whatever the threads do side by side, the files and
// the log must be those of a run that does everything in turn.

#include <algorithm>
#include <atomic>
#include <future>
#include <map>
#include <mutex>

#include "RunFixture.h"
#include "WorkAhead.h"

namespace enginetest {
namespace {

namespace stdfs = std::filesystem;

TEST(WorkAhead, RunsPiecesInOrderAndWaitThrowsTheFirstFailureOnce) {
  TWorkAhead ahead;
  std::vector<int> done;  // the worker's alone until Wait returns
  ahead.Post([&] { done.push_back(1); });
  ahead.Post([] { throw EFailure("first"); });
  ahead.Post([&] { done.push_back(2); });
  ahead.Post([] { throw EFailure("second"); });
  try {
    ahead.Wait();
    ADD_FAILURE() << "the failure of a piece was not thrown";
  } catch (const EFailure& e) {
    EXPECT_EQ(e.Message(), "first");
  }
  // A failure does not stop the pieces after it, and is thrown once.
  EXPECT_EQ(done, (std::vector<int>{1, 2}));
  EXPECT_NO_THROW(ahead.Wait());
  ahead.Post([&] { done.push_back(3); });
  ahead.Wait();
  EXPECT_EQ(done, (std::vector<int>{1, 2, 3}));
}

TEST(WorkAhead, WaitingForOnePieceLeavesTheLaterOnesRunning) {
  TWorkAhead ahead;
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  std::atomic<bool> first{false};
  const std::uint64_t ticket = ahead.Post([&] { first = true; });
  ahead.Post([gate] {
    gate.wait();
    throw EFailure("later");
  });
  ahead.Wait(ticket);  // would hang if it waited for the blocked piece too
  EXPECT_TRUE(first);
  release.set_value();
  EXPECT_THROW(ahead.Wait(), EFailure);
}

TEST(WorkAhead, DestructionFinishesEverythingPosted) {
  std::atomic<int> done{0};
  std::promise<void> release;
  {
    TWorkAhead ahead;
    ahead.Post([&, gate = release.get_future().share()] {
      gate.wait();
      ++done;
    });
    ahead.Post([] { throw EFailure("nobody waits for this one"); });
    ahead.Post([&] { ++done; });
    EXPECT_EQ(done.load(), 0);  // none has run: the destruction begins as the first is let go
    release.set_value();
  }
  EXPECT_EQ(done.load(), 2);
}

class TStageAheadTest : public TRunTest {
 protected:
  void SetUp() override {
    for (const char* dir : {"shsrc", "shdes", "szsrc", "szdes", "m_sh", "m_sz", "m_both"}) MakeDir(dir);
    Settings("[多路径拷贝]\r\n"
             "SH1=" + Drive("m_sh") + "\r\n"
             "SZ1=" + Drive("m_sz") + "\r\n"
             "SHSZ=" + Drive("m_both") + "\r\n"
             "[大盘代码]\r\n");
  }

  std::unique_ptr<TUniteThread> NewIndexingRun() {
    auto run = NewRun();
    run->FMakeIndex = true;
    return run;
  }

  // Every file and folder of the tree by its path inside it, files with their bytes.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> tree;
    for (const auto& entry : stdfs::recursive_directory_iterator(Tmp.Path())) {
      const std::string name = testsupport::HostText(stdfs::relative(entry.path(), Tmp.Path()).generic_string());
      tree[name] = entry.is_directory() ? "<folder>" : ReadFile(testsupport::HostText(entry.path()));
    }
    return tree;
  }
  void Restore(const std::map<std::string, std::string>& tree) {
    for (const auto& entry : stdfs::directory_iterator(Tmp.Path())) stdfs::remove_all(entry.path());
    for (const auto& [name, bytes] : tree) {
      if (bytes == "<folder>") MakeDir(name);
      else WriteFile(Tmp / name, bytes);
    }
  }

  // The operations the run asked the platform for, from both of its threads, in order.
  void Record() {
    Fs.OnOperation([this](const std::string& kind, const std::string& path) {
      std::lock_guard<std::mutex> guard(OpsLock);
      Ops.push_back(kind + " " + path);
    });
  }
  std::mutex OpsLock;
  std::vector<std::string> Ops;
};

TEST_F(TStageAheadTest, FilesAndLogAreThoseOfARunInTurn) {
  Deliver("shsrc", "000001", {"A"});  // the composites' template: staged, not merged
  Deliver("shsrc", "600000", {"A", "B", "C"});
  Deliver("shsrc", "600001", {"A"});
  Deliver("shsrc", "600002", {"A", "B"});
  WriteFile(Tmp / "shsrc/DATA/600002/600002B.sub", "yesterday's section\r\n");
  WriteFile(Tmp / "shsrc/600003.F10", IndexBytes({{"TA", "600003A.sub"}}));  // nothing delivered
  // Two names of one stock share a stage folder: the second must see what the first did.
  Deliver("shsrc", "60000x", {"A"});
  Deliver("shsrc", "60000X", {"B"});
  Deliver("shsrc", "600004", {"A", "B", "C", "D"});
  for (const char* code : {"000002", "000003", "000004", "300001", "300002"})
    Deliver("szsrc", code, {"A", "B"});
  const auto delivered = Snapshot();

  NewIndexingRun()->Execute();
  const auto inTurn = Snapshot();
  ASSERT_TRUE(inTurn.count("szdes/300002.F10"));  // the run did the whole job
  ASSERT_TRUE(inTurn.count("m_both/600004.txt"));

  for (int round = 0; round < 3; ++round) {
    Restore(delivered);
    StageAhead = true;
    NewIndexingRun()->Execute();
    const auto ahead = Snapshot();
    EXPECT_EQ(ahead.size(), inTurn.size());
    for (const auto& [name, bytes] : inTurn) {
      const auto it = ahead.find(name);
      if (it == ahead.end()) ADD_FAILURE() << name << " is missing";
      else EXPECT_TRUE(it->second == bytes) << name << " differs";
    }
    for (const auto& [name, bytes] : ahead)
      EXPECT_TRUE(inTurn.count(name)) << name << " was not made by the run in turn";
  }
}

TEST_F(TStageAheadTest, AStocksMarkGoesOnlyOnceItsMirrorCopiesAreDone) {
  const std::vector<std::string> codes{"000002", "000003", "000004", "000005", "000006"};
  for (const std::string& code : codes) Deliver("szsrc", code, {"A"});
  StageAhead = true;
  Record();
  NewIndexingRun()->Execute();
  Fs.OnOperation(nullptr);

  // A finished stock's mark becomes a later stock's, or is deleted at the end. Until then a
  // killed run would merge the stock again, which must hold until its mirrors are written.
  for (const std::string& code : codes) {
    SCOPED_TRACE(code);
    const std::string mark = code + ".pending";
    const auto gone = std::find_if(Ops.begin(), Ops.end(), [&](const std::string& op) {
      return (op.rfind("move ", 0) == 0 && op.find(mark + "\n") != std::string::npos) ||
             (op.rfind("delete ", 0) == 0 && op.ends_with(mark));
    });
    ASSERT_NE(gone, Ops.end());
    int copies = 0;
    for (auto op = Ops.begin(); op != Ops.end(); ++op) {
      if (op->rfind("copy ", 0) != 0 || op->find("\n" + Drive("m_")) == std::string::npos) continue;
      if (op->find(code + ".") == std::string::npos) continue;
      ++copies;
      EXPECT_LT(op, gone) << *op << " came after " << *gone;
    }
    EXPECT_EQ(copies, 4);  // text and index, into the market's mirror and the shared one
    EXPECT_EQ(ReadFile(Tmp / ("m_sz/" + code + ".txt")), ReadFile(Tmp / ("szdes/" + code + ".txt")));
  }
}

TEST_F(TStageAheadTest, AStopDuringAMergeLeavesWhatTheNextRunFinishes) {
  const std::vector<std::string> codes{"000002", "000003", "000004", "000005", "000006", "000007"};
  for (const std::string& code : codes) Deliver("szsrc", code, {"A", "B"});
  StageAhead = true;
  auto run = NewIndexingRun();
  TUniteThread* target = run.get();
  // The form asks the run to stop while 000003 is being merged; 000004 and 000005 are being
  // staged or about to be.
  Fs.OnOperation([target](const std::string& kind, const std::string& path) {
    if (kind == "create" && path.find("000003.txt") != std::string::npos) target->Terminate();
  });
  run->Execute();
  Fs.OnOperation(nullptr);

  EXPECT_TRUE(Exists(Tmp / "szdes/000003.txt"));  // the stock begun is finished
  EXPECT_TRUE(Exists(Tmp / "m_sz/000003.F10"));
  EXPECT_FALSE(Exists(Tmp / "szdes/000004.txt"));
  EXPECT_TRUE(Exists(Tmp / "szsrc/000006A.sub"));  // never reached
  EXPECT_FALSE(Exists(Tmp / "szsrc/DATA/000006"));
  ASSERT_EQ(Host.Events.back(), "ended");
  // A stock said to be done has its text, whichever stagings the stop cut short.
  for (const std::string& code : codes)
    if (Logged(code + Texts::MergeDone)) {
      EXPECT_TRUE(Exists(Tmp / ("szdes/" + code + ".txt"))) << code;
    }

  // Whether or not 000004 and 000005 were staged when the stop came, the next run merges
  // them and the rest, and leaves no mark behind.
  NewIndexingRun()->Execute();
  for (const std::string& code : codes) {
    EXPECT_FALSE(Exists(Tmp / ("szsrc/" + code + "A.sub"))) << code;
    const std::string text = ReadFile(Tmp / ("szdes/" + code + ".txt"));
    EXPECT_NE(text.find(SectionBytes(code, "B")), std::string::npos) << code;
    EXPECT_EQ(ReadFile(Tmp / ("m_both/" + code + ".txt")), text) << code;
  }
  for (const auto& entry : stdfs::directory_iterator(Tmp / "szsrc/DATA"))
    EXPECT_TRUE(entry.is_directory()) << entry.path();
  EXPECT_TRUE(Host.StatusHistory.empty());
}

}  // namespace
}  // namespace enginetest
