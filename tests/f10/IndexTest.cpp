// The index file's bytes, its load and save rules, and the order AddRecord keeps.

#include <sys/stat.h>

#include <cstring>

#include "IndexBytes.h"
#include "IndexFixture.h"

using indexbytes::Header;
using indexbytes::Record;

namespace {

// Adds a record that differs from others only in its title, at the given date and time.
void Add(TIndex& index, const std::string& date, const std::string& time,
         const std::string& title = "") {
  index.AddRecord(0, 4, 0, date, time, title, "", 0, 0, "", "");
}

std::vector<std::string> Titles(const TIndex& index) {
  std::vector<std::string> titles;
  for (int i = 0; i < index.Count(); ++i) titles.push_back(FieldText(index.Record(i).Title));
  return titles;
}

}  // namespace

TEST(IndexLayout, DefaultHeaderAndCheck) {
  const TIndexHeader header = DefaultIndexHeader();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&header), 16),
            std::string("VESPERIN\x01\x01\0\0\0\0\0\0", 16));

  TIndexRecord record;
  std::memset(&record, 0, sizeof record);
  record.Kind = 4;
  record.Market = 2;
  EXPECT_EQ(RecordCheck(record), 6);
  record.Check = 200;  // the check byte is not part of its own sum
  std::memset(record.Extra, 0xFF, sizeof record.Extra);
  EXPECT_EQ(RecordCheck(record), (6 + 56 * 255) & 0xFF);

  const char field[6] = {'a', 0, 'b', 0, 0, 'c'};
  EXPECT_EQ(FieldText(field), "abc");  // a zero byte is skipped, it does not end the text
}

TEST_F(IndexTest, SavedRecordMatchesHandComputedBytes) {
  TIndex index(fs, Drive("600000.F10"), false);
  index.AddRecord(0, 4, 0, "20240105", "14:30", "F10", "600000.txt", 1000, 234, "600000", "");
  EXPECT_EQ(index.Record(0).Check, 0x16);
  index.Release();

  std::string expected = std::string("VESPERIN\x01\x01\x01\0\0\0\0\0", 16);
  expected += std::string("\0\x04\0", 3) + "\xe9\xd6\x34\x01" + std::string("\x98\x2e\x02\0", 4);
  expected += "F10" + std::string(61, '\0') + "600000.txt" + std::string(70, '\0');
  expected += std::string("\xe8\x03\0\0\xea\0\0\0", 8) + "600000" + std::string(30, '\0');
  expected += std::string(56, '\0') + "\x16";
  EXPECT_EQ(Get("600000.F10"), expected);
}

TEST_F(IndexTest, TextFieldsAreCutOrZeroFilled) {
  TIndex index(fs, Drive("t.f10"), true);
  index.AddRecord(0, 4, 0, "1", "00:00", std::string(70, 'T'), "short", 0, 0,
                  std::string(40, 'C'), std::string(56, 'E'));
  index.Release();
  const std::string bytes = Get("t.f10");
  ASSERT_EQ(bytes.size(), 16u + 256u);
  EXPECT_EQ(bytes.substr(16 + 11, 64), std::string(64, 'T'));
  EXPECT_EQ(bytes.substr(16 + 75, 80), "short" + std::string(75, '\0'));
  EXPECT_EQ(bytes.substr(16 + 163, 36), std::string(36, 'C'));
  EXPECT_EQ(bytes.substr(16 + 199, 56), std::string(56, 'E'));

  TIndex ten(fs, Drive("ten.f10"), true);
  Add(ten, "1", "00:00", "0123456789");
  EXPECT_EQ(std::string(ten.Record(0).Title, 64), "0123456789" + std::string(54, '\0'));
  ten.Release();
}

// Packed fields are read by value (int{...}): a reference to one would be misaligned.
TEST_F(IndexTest, LoadReadsFieldsFromHandBuiltFile) {
  Put("a.F10", Header(2, "ABCDEFGH", 7, 9, "\x01\x02\x03\x04") +
                   Record(20240105, 93000, "Title", "x.txt", 12, 34, "600000", 4, 2) +
                   Record(-7, 0, "", "", -1, 0, "", 0, 0, 99));
  TIndex index(fs, Drive("a.F10"), false);
  ASSERT_EQ(index.Count(), 2);
  const TIndexRecord& r = index.Record(0);
  EXPECT_EQ(r.Market, 2);
  EXPECT_EQ(int{r.Date}, 20240105);
  EXPECT_EQ(int{r.Time}, 93000);
  EXPECT_EQ(FieldText(r.Title), "Title");
  EXPECT_EQ(FieldText(r.TextFile), "x.txt");
  EXPECT_EQ(int{r.TextOffset}, 12);
  EXPECT_EQ(int{r.TextLength}, 34);
  EXPECT_EQ(FieldText(r.Code), "600000");
  EXPECT_EQ(int{index.Record(1).Date}, -7);
  EXPECT_EQ(int{index.Record(1).TextOffset}, -1);
  index.Release();
}

TEST_F(IndexTest, ReadOnlyUseWritesTheSameBytesBack) {
  // A wrong check byte and a foreign header survive: nothing read is validated or mended.
  const std::string image = Header(2, "ABCDEFGH", 7, 9, "\x01\x02\x03\x04") +
                            Record(20240105, 93000, "a", "", 0, 0, "", 4, 0, 0x55) +
                            Record(20240106, 0, "b");
  Put("a.F10", image);
  TIndex index(fs, Drive("a.F10"), false);
  index.Release();
  EXPECT_EQ(Get("a.F10"), image);
}

TEST_F(IndexTest, AnUnchangedIndexKeepsItsFileButAChangedFileIsWrittenBack) {
  struct stat before{}, after{};
  const std::string image = Header(2) + Record(1, 0, "a") + Record(2, 0, "b");
  Put("same.F10", image);
  ASSERT_EQ(::stat(Host("same.F10").c_str(), &before), 0);
  {
    TIndex index(fs, Drive("same.F10"), false);
    index.Release();
  }
  ASSERT_EQ(::stat(Host("same.F10").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);  // not replaced by a copy of itself
  EXPECT_EQ(CountOps("create"), 0);
  EXPECT_EQ(Get("same.F10"), image);

  // Changed behind its back between load and release: the release still writes its records.
  {
    TIndex index(fs, Drive("same.F10"), false);
    Put("same.F10", Header(2) + Record(1, 0, "x") + Record(2, 0, "y"));  // same size, other bytes
    index.Release();
  }
  EXPECT_EQ(Get("same.F10"), image);
  // A record added and the same file is a new one.
  {
    TIndex index(fs, Drive("same.F10"), false);
    Add(index, "3", "00:00", "c");
    index.Release();
  }
  EXPECT_EQ(Get("same.F10"), Header(3) + Record(1, 0, "a") + Record(2, 0, "b") + Record(3, 0, "c"));
}

TEST_F(IndexTest, CountIsClampedAndExcessBytesDropped) {
  const std::string three = Record(1, 0, "r0") + Record(2, 0, "r1") + Record(3, 0, "r2");
  {  // Count 5 over 3 whole records and 100 trailing bytes
    Put("five.F10", Header(5, "MAGICxyz", 3, 4) + three + std::string(100, 'z'));
    TIndex index(fs, Drive("five.F10"), false);
    EXPECT_EQ(Titles(index), (std::vector<std::string>{"r0", "r1", "r2"}));
    index.Release();
    EXPECT_EQ(Get("five.F10"), Header(3, "MAGICxyz", 3, 4) + three);
  }
  {  // more whole records than Count: the rest is not loaded and not saved
    Put("one.F10", Header(1) + three);
    TIndex index(fs, Drive("one.F10"), false);
    EXPECT_EQ(Titles(index), (std::vector<std::string>{"r0"}));
    index.Release();
    EXPECT_EQ(Get("one.F10"), Header(1) + Record(1, 0, "r0"));
  }
  {  // Count 0x8000 reads as negative
    Put("neg.f10", Header(static_cast<std::int16_t>(0x8000)) + three);
    TIndex index(fs, Drive("neg.f10"), false);
    EXPECT_EQ(index.Count(), 0);
    index.Release();
    EXPECT_EQ(Get("neg.f10"), Header(0));
  }
  {  // exactly a header, Count 2
    Put("bare.f10", Header(2));
    TIndex index(fs, Drive("bare.f10"), false);
    EXPECT_EQ(index.Count(), 0);
    index.Release();
  }
}

TEST_F(IndexTest, SaveKeepsTheLast800Records) {
  TIndex index(fs, Drive("big.F10"), true);
  for (int i = 0; i < 801; ++i) Add(index, std::to_string(20000000 + i), "10:00");
  index.Release();
  const std::string bytes = Get("big.F10");
  ASSERT_EQ(bytes.size(), 16u + 800u * 256u);
  EXPECT_EQ(bytes.substr(10, 2), std::string("\x20\x03", 2));  // 800
  EXPECT_EQ(bytes.substr(16, 256), Record(20000001, 100000));
  EXPECT_EQ(bytes.substr(16 + 799 * 256, 256), Record(20000800, 100000));
}

TEST_F(IndexTest, EmptyIndexLeavesNoF10File) {
  Put("old.F10", Header(1) + Record(1, 0));
  TIndex fresh(fs, Drive("old.F10"), true);  // StartEmpty never looks at the file
  EXPECT_EQ(fresh.Count(), 0);
  EXPECT_EQ(CountOps("open"), 0);
  fresh.Release();
  EXPECT_FALSE(Has("old.F10"));

  TIndex absent(fs, Drive("new.F10"), false);
  absent.Release();
  EXPECT_FALSE(Has("new.F10"));
  EXPECT_EQ(CountOps("create"), 2);  // each was created, then deleted

  TIndex lower(fs, Drive("new.f10"), false);  // ".F10" is matched case-sensitively
  lower.Release();
  EXPECT_EQ(Get("new.f10"), std::string("VESPERIN\x01\x01\0\0\0\0\0\0", 16));
}

TEST_F(IndexTest, ReleaseOnceAndDestructorDiscards) {
  Put("a.F10", Header(1) + Record(1, 0, "kept"));
  {
    TIndex index(fs, Drive("a.F10"), false);
    Add(index, "2", "00:00", "lost");
  }  // no release: nothing written
  EXPECT_EQ(Get("a.F10"), Header(1) + Record(1, 0, "kept"));
  EXPECT_EQ(CountOps("create"), 0);

  TIndex index(fs, Drive("a.F10"), false);
  Add(index, "2", "00:00", "new");
  index.Release();
  EXPECT_EQ(index.Count(), 0);
  const auto before = ops.size();
  index.Release();
  EXPECT_EQ(ops.size(), before);
  EXPECT_EQ(Get("a.F10"), Header(2) + Record(1, 0, "kept") + Record(2, 0, "new"));
}

TEST_F(IndexTest, KeysSortAsDecimalTexts) {
  TIndex index(fs, Drive("k.F10"), true);
  Add(index, "20240105", "14:30", "1430");
  Add(index, "20240105", "09:30", "0930");
  Add(index, "20240105", "00:00", "0000");
  EXPECT_EQ(Titles(index), (std::vector<std::string>{"0000", "1430", "0930"}));
  EXPECT_EQ(int{index.Record(0).Time}, 0);
  EXPECT_EQ(int{index.Record(1).Time}, 143000);
  EXPECT_EQ(int{index.Record(2).Time}, 93000);

  Add(index, "20240105", "14:30", "1430b");  // equal keys: after all of them
  Add(index, "20240105", "14-30", "1430c");  // the separator is not looked at
  Add(index, "20231231", "23:59", "first");  // smaller than every key
  EXPECT_EQ(Titles(index), (std::vector<std::string>{"first", "0000", "1430", "1430b",
                                                      "1430c", "0930"}));
  index.Release();
}

TEST_F(IndexTest, KeyPrefixIsSmallerAndMinusSortsFirst) {
  TIndex index(fs, Drive("k.F10"), true);
  Add(index, "20240", "00:00", "202400");
  Add(index, "2024", "00:00", "20240");  // "20240" is a prefix of "202400"
  Add(index, "-5", "00:00", "-50");
  Add(index, "3", "00:00", "30");
  EXPECT_EQ(Titles(index), (std::vector<std::string>{"-50", "20240", "202400", "30"}));
  index.Release();
}

TEST_F(IndexTest, BadDateOrTimeLeavesTheListUnchanged) {
  TIndex index(fs, Drive("c.F10"), true);
  Add(index, "20240105", "10:00", "only");
  const struct {
    std::string Date, Time, Message;
  } cases[] = {
      {"2024-01-05", "10:00", "'2024-01-05' is not a valid integer value"},
      {"", "10:00", "'' is not a valid integer value"},
      {"20240105", "ab:30", "'ab' is not a valid integer value"},
      {"20240105", "9:30", "'9:' is not a valid integer value"},
      {"20240105", "10:3x", "'3x' is not a valid integer value"},
      {"20240105", "10:", "'' is not a valid integer value"},
      {"20240105", "10", "'' is not a valid integer value"},
      {"20240105", "", "'' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    try {
      Add(index, c.Date, c.Time, "bad");
      ADD_FAILURE() << "accepted " << c.Date << " " << c.Time;
    } catch (const EFailure& e) {
      EXPECT_EQ(e.Message(), c.Message);
    }
  }
  EXPECT_EQ(Titles(index), (std::vector<std::string>{"only"}));
  Add(index, "20240105", "10:3", "short minutes");  // Copy gives "3"
  EXPECT_EQ(int{index.Record(1).Time}, 100300);
  index.Release();
}
