// The index under failures: busy files, creation and write faults, short and garbage files.

#include <random>

#include "IndexBytes.h"
#include "IndexFixture.h"

using indexbytes::Header;
using indexbytes::Record;

namespace {

std::string Message(const std::function<void()>& action) {
  try {
    action();
  } catch (const EFailure& e) {
    return e.Message();
  }
  return "(no failure)";
}

}  // namespace

TEST_F(IndexTest, BusyFileGivesAnEmptyIndexThatIsNeverSaved) {
  const std::string image = Header(1) + Record(1, 0, "kept");
  Put("busy.F10", image);
  fs.HoldBusy("busy.F10");
  TIndex index(fs, Drive("busy.F10"), false);
  EXPECT_EQ(CountOps("open"), TIndex::kAttempts);
  EXPECT_EQ(fs.Sleeps(), 10);
  EXPECT_EQ(fs.SleptMs(), 50000);
  EXPECT_EQ(index.Count(), 0);
  EXPECT_FALSE(index.CanSave());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&index.Header()), 16), Header(0));

  index.AddRecord(0, 4, 0, "2", "00:00", "lost", "", 0, 0, "", "");
  fs.ClearFaults();
  index.Release();
  EXPECT_EQ(CountOps("create"), 0);
  EXPECT_EQ(CountOps("delete"), 0);
  EXPECT_EQ(Get("busy.F10"), image);
}

TEST_F(IndexTest, OpenThatSucceedsLateLoadsNormally) {
  Put("late.F10", Header(1) + Record(1, 0, "r"));
  fs.FailNth(2, kErrSharingViolation);  // FileExists is the first operation, the open the second
  TIndex index(fs, Drive("late.F10"), false);
  EXPECT_EQ(fs.Sleeps(), 1);
  EXPECT_EQ(index.Count(), 1);
  EXPECT_TRUE(index.CanSave());
  index.Release();
}

TEST_F(IndexTest, CreationFailingEveryTimeWritesNothing) {
  const std::string image = Header(1) + Record(1, 0, "old");
  Put("a.F10", image);
  TIndex index(fs, Drive("a.F10"), false);
  index.AddRecord(0, 4, 0, "2", "00:00", "new", "", 0, 0, "", "");
  fs.FailWhen("create", "a.F10", kErrSharingViolation);
  EXPECT_NO_THROW(index.Release());
  EXPECT_EQ(CountOps("create"), 10);
  EXPECT_EQ(fs.Sleeps(), 10);
  EXPECT_EQ(fs.SleptMs(), 50000);
  EXPECT_EQ(CountOps("delete"), 0);
  EXPECT_EQ(Get("a.F10"), image);
  EXPECT_EQ(index.Count(), 0);

  // A folder that does not exist is not waited for: nothing written, no failure.
  TIndex nowhere(fs, Drive("missing\\x.F10"), true);
  nowhere.AddRecord(0, 4, 0, "2", "00:00", "new", "", 0, 0, "", "");
  EXPECT_NO_THROW(nowhere.Release());
  EXPECT_EQ(fs.Sleeps(), 10);
  EXPECT_FALSE(Has("missing"));
}

TEST_F(IndexTest, WriteFaultKeepsTheOldFileWhole) {
  const std::string image = Header(2) + Record(1, 0, "a") + Record(2, 0, "b");
  for (const char* kind : {"write", "commit"}) {
    SCOPED_TRACE(kind);
    Put("a.F10", image);
    TIndex index(fs, Drive("a.F10"), false);
    index.AddRecord(0, 4, 0, "3", "00:00", "c", "", 0, 0, "", "");
    fs.FailWhen(kind, "a.F10", kErrDiskFull);
    EXPECT_EQ(Message([&] { index.Release(); }), "Stream write error");
    fs.ClearFaults();
    EXPECT_EQ(index.Count(), 0);  // freed on the failure path too
    EXPECT_EQ(Get("a.F10"), image);
  }
  // Nothing else lies in the folder: the temporary file went with the failed save.
  long files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    files += !entry.is_directory();
  EXPECT_EQ(files, 1);
}

TEST_F(IndexTest, EmptyIndexIsDeletedEvenWhenItsWriteFails) {
  Put("e.F10", Header(1) + Record(1, 0));
  TIndex index(fs, Drive("e.F10"), true);
  fs.FailWhen("write", "e.F10", kErrDiskFull);
  EXPECT_EQ(Message([&] { index.Release(); }), "Stream write error");
  EXPECT_FALSE(Has("e.F10"));
}

TEST_F(IndexTest, FailedDeleteLeavesTheEmptyIndex) {
  TIndex index(fs, Drive("d.F10"), true);
  fs.FailWhen("delete", "d.F10", kErrSharingViolation);
  EXPECT_NO_THROW(index.Release());
  EXPECT_EQ(Get("d.F10"), Header(0));
}

TEST_F(IndexTest, ShortFileFailsConstructionAndIsSavedFirst) {
  Put("short.F10", "VESPERIN\x01");
  EXPECT_EQ(Message([&] { TIndex index(fs, Drive("short.F10"), false); }), "Stream read error");
  EXPECT_FALSE(Has("short.F10"));

  // Without ".F10" in the name the partly read header is written back with Count 0.
  Put("short.f10", "ABC");
  EXPECT_EQ(Message([&] { TIndex index(fs, Drive("short.f10"), false); }), "Stream read error");
  EXPECT_EQ(Get("short.f10"), std::string("ABC", 3) + std::string(13, '\0'));

  Put("zero.F10", "");
  EXPECT_EQ(Message([&] { TIndex index(fs, Drive("zero.F10"), false); }), "Stream read error");
  EXPECT_FALSE(Has("zero.F10"));
}

TEST_F(IndexTest, ReadFaultFailsConstructionWithoutTouchingTheFile) {
  const std::string image = Header(3) + Record(1, 0) + Record(2, 0) + Record(3, 0);
  Put("r.F10", image);
  fs.FailWhen("read", "r.F10", kErrAccessDenied);
  EXPECT_EQ(Message([&] { TIndex index(fs, Drive("r.F10"), false); }), "File access denied");
  EXPECT_EQ(CountOps("create"), 0);
  EXPECT_EQ(Get("r.F10"), image);
}

TEST_F(IndexTest, GarbageNeverCrashesTheLoader) {
  std::mt19937 random(20240105);
  const std::size_t sizes[] = {0, 1, 15, 16, 17, 271, 272, 273, 528, 1000, 4096, 16 + 256 * 40};
  for (std::size_t size : sizes) {
    for (int round = 0; round < 3; ++round) {
      std::string bytes(size, '\0');
      for (char& c : bytes) c = static_cast<char>(random());
      Put("g.f10", bytes);
      const long capacity = size < 16 ? 0 : static_cast<long>((size - 16) / 256);
      try {
        TIndex index(fs, Drive("g.f10"), false);
        const long count =
            static_cast<std::int16_t>(static_cast<unsigned char>(bytes[10]) |
                                      static_cast<unsigned char>(bytes[11]) << 8);
        EXPECT_EQ(index.Count(), std::max(0L, std::min(count, capacity)));
        index.AddRecord(0, 4, 0, "1", "00:00", bytes.substr(0, 64), "", 0, 0, "", "");
        index.Release();
        EXPECT_EQ(Get("g.f10").size(), 16u + 256u * static_cast<std::size_t>(
                                                     std::max(0L, std::min(count, capacity)) + 1));
      } catch (const EFailure& e) {
        EXPECT_LT(size, 16u);
        EXPECT_EQ(e.Message(), "Stream read error");
      }
    }
  }
}
