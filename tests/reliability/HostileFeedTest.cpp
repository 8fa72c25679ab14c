// A feed that breaks every rule, through a real run: index counts below zero or beyond the
// file, fields with no zero byte, names that climb out of the stage or carry a drive, section
// files without line ends, one line of 100 MB, bytes that are no GBK. Each is handled by the
// rules or fails its stock with a message; the run goes on with the next stock, and nothing
// outside the run's folders is touched.

#include <sys/resource.h>

#include <chrono>
#include <functional>
#include <sstream>

#include "Scenario.h"

namespace reliability {
namespace {

const std::string kCode = "600000";

// Indexes of raw records: every field exactly as given, cut at its width, nothing added.
using indexbytes::Bare;

struct THostile {
  const char* Name;
  // Writes the hostile stock's files into the Shanghai source root.
  std::function<void(const fs::path& src)> Deliver;
  // Checks what the run made of it: the stock's text (absent: "-") and the run's status.
  std::function<void(const std::string& text, const std::string& status)> Check;
};

// The case's name, not its bytes, in the test's name and messages.
void PrintTo(const THostile& hostile, std::ostream* out) { *out << hostile.Name; }

void Put(const fs::path& p, const std::string& bytes) { WriteFile(p.string(), bytes); }

std::string Lines(std::initializer_list<std::string> lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\r\n";
  return out;
}

std::string Refused(const std::string& name) { return Texts::ErrorCaption + Texts::BadTextFileName + name; }

// A stock whose index names the file `name`, delivered with one ordinary section.
std::function<void(const fs::path&)> NamesFile(const std::string& name) {
  return [name](const fs::path& src) {
    Put(src / (kCode + "A.sub"), "a\r\n");
    Put(src / (kCode + ".F10"), Bare(2, {{"A", kCode + "A.sub"}, {"X", name}}));
  };
}

const THostile kCases[] = {
    {"CountBelowZero",
     [](const fs::path& src) {
       Put(src / (kCode + "A.sub"), "a\r\n");
       Put(src / (kCode + ".F10"), Bare(-1, {{"A", kCode + "A.sub"}}));
     },
     [](const std::string& text, const std::string& status) {
       EXPECT_EQ(text, "");  // no records: an empty text, no failure
       EXPECT_EQ(status, "");
     }},
    {"CountBeyondTheFile",
     [](const fs::path& src) {
       Put(src / (kCode + "A.sub"), "a\r\n");
       Put(src / (kCode + "B.sub"), "b\r\n");
       Put(src / (kCode + ".F10"), Bare(30000, {{"A", kCode + "A.sub"}, {"B", kCode + "B.sub"}}));
     },
     [](const std::string& text, const std::string& status) {
       // An index still being written, as far as anyone can tell: the stock waits whole.
       EXPECT_EQ(text, "-");
       EXPECT_EQ(status, "");
     }},
    {"IndexShorterThanItsHeader",
     [](const fs::path& src) {
       Put(src / (kCode + "A.sub"), "a\r\n");
       Put(src / (kCode + ".F10"), "VESPERIN");
     },
     [](const std::string& text, const std::string& status) {
       EXPECT_EQ(text, "-");
       EXPECT_EQ(status, Texts::ErrorCaption + Texts::StreamReadError);
     }},
    {"FieldsWithoutZeroBytes",
     [](const fs::path& src) {
       Put(src / (kCode + "A.sub"), "a\r\n");
       Put(src / (kCode + ".F10"),
           Bare(2, {{std::string(64, 'T'), kCode + "A.sub"},
                        {std::string(70, 'U'), kCode + "B" + std::string(80, 'x')}}));
     },
     [](const std::string& text, const std::string& status) {
       // The second names a file that is not there: it is made, with the field's 64 bytes.
       EXPECT_EQ(text, Lines({"a", "`" + std::string(64, 'U') + Texts::BannerTail, ""}));
       EXPECT_EQ(status, "");
     }},
    {"NameClimbingOut", NamesFile("..\\..\\..\\outside\\keep.txt"),
     [](const std::string& text, const std::string& status) {
       EXPECT_EQ(text, "");
       EXPECT_EQ(status, Refused("..\\..\\..\\outside\\keep.txt"));
     }},
    {"NameClimbingOutBehindAFolder", NamesFile("sub/... /../../outside/keep.txt"),
     [](const std::string&, const std::string& status) {
       EXPECT_EQ(status, Refused("sub/... /../../outside/keep.txt"));
     }},
    {"NameWithADrive", NamesFile("D:\\outside\\keep.txt"),
     [](const std::string&, const std::string& status) {
       EXPECT_EQ(status, Refused("D:\\outside\\keep.txt"));
     }},
    {"NameFromTheRoot", NamesFile("\\outside\\keep.txt"),
     [](const std::string&, const std::string& status) {
       EXPECT_EQ(status, Refused("\\outside\\keep.txt"));
     }},
    {"SectionsWithoutLineEnds",
     [](const fs::path& src) {
       Put(src / (kCode + "A.sub"), "first");
       Put(src / (kCode + "B.sub"), std::string("second\0after the zero", 21));
       Put(src / (kCode + ".F10"), Bare(2, {{"A", kCode + "A.sub"}, {"B", kCode + "B.sub"}}));
     },
     [](const std::string& text, const std::string& status) {
       EXPECT_EQ(text, "first\r\nsecond\r\n");
       EXPECT_EQ(status, "");
     }},
    {"BytesThatAreNoGbk",
     [](const fs::path& src) {
       // A name whose host form is no UTF-8 either, and texts with stray and cut characters.
       const std::string odd = kCode + "\xFF.sub";
       Put(src / odd, "\xFF\xFE\x80\r\n\x81");
       Put(src / (kCode + "A.sub"), Texts::BannerText + "\x81\r\n\xA1\xA1\x81\xFF" + Texts::Arrow + "\r\n");
       Put(src / (kCode + ".F10"), Bare(2, {{"\xFF\x81", kCode + "A.sub"}, {"\x80", odd}}));
     },
     [](const std::string& text, const std::string& status) {
       EXPECT_EQ(text, Lines({"`\xA1\xA1\x81\xFF`", Texts::BannerText + "\x81",
                              "\xA1\xA1\x81\xFF" + Texts::Arrow, "\xFF\xFE\x80", "\x81"}));
       EXPECT_EQ(status, "");
     }},
};

class THostileFeed : public ::testing::TestWithParam<THostile> {
 protected:
  void SetUp() override {
    Root = Scratch.Path();
    for (const std::string& dir : TLayout::Allowed()) fs::create_directories(Root / dir);
    Put(Root / "outside" / "keep.txt", "keep\r\n");
    WriteFile(SettingsHostPath(Root / TLayout::Home), G("[多路径拷贝]\r\nSHMIR=D:\\mirsh\r\n"));
    // An ordinary stock after the hostile one: the run must reach it.
    Put(Root / "shsrc" / "600001A.sub", "ok\r\n");
    Put(Root / "shsrc" / "600001.F10", IndexBytes({{"A", "600001A.sub"}}));
  }

  // One run; every path it names must lie in its folders.
  testsupport::TRecordingHost Run() {
    TTreeRun run(Root);
    std::vector<std::string> strays;
    run.Fs().OnOperation([&](const std::string& kind, const std::string& paths) {
      std::istringstream each(paths);
      for (std::string path; std::getline(each, path);) {
        if (kind == "find") path = path.substr(0, path.find_last_of('\\'));
        const std::string host = fs::path(run.Real().HostPath(path)).lexically_normal().string();
        bool inside = false;
        for (const std::string& dir : TLayout::Allowed())
          inside = inside || host.rfind((Root / dir).string() + "/", 0) == 0 || host == (Root / dir).string();
        if (!inside) strays.push_back(path);
      }
    });
    run.Execute();
    EXPECT_TRUE(strays.empty()) << strays.front();
    EXPECT_TRUE(run.Host().Ended);
    EXPECT_EQ(ReadFile((Root / "outside" / "keep.txt").string()), "keep\r\n");
    EXPECT_EQ(ReadFile((Root / "shdes" / "600001.txt").string()), "ok\r\n") << "the next stock";
    return run.Host();
  }

  TScratch Scratch;
  fs::path Root;
};

TEST_P(THostileFeed, IsHandledByTheRulesOrFailsItsStockAlone) {
  GetParam().Deliver(Root / "shsrc");
  const testsupport::TRecordingHost host = Run();
  const fs::path text = Root / "shdes" / (kCode + ".txt");
  GetParam().Check(fs::exists(text) ? ReadFile(text.string()) : "-", host.Status);
}

INSTANTIATE_TEST_SUITE_P(Feeds, THostileFeed, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<THostile>& param) {
                           return std::string(param.param.Name);
                         });

long PeakRssMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

TEST(HugeLine, OneLineOf100MbIsMergedAndIndexedInBoundedMemory) {
  TScratch scratch;
  const fs::path root = scratch.Path();
  for (const std::string& dir : TLayout::Allowed()) fs::create_directories(root / dir);
  WriteFile(SettingsHostPath(root / TLayout::Home), G("[多路径拷贝]\r\nSHMIR=D:\\mirsh\r\n"));
  constexpr std::size_t kLine = 100u << 20;
  {
    std::string line(kLine, 'x');
    line.replace(kLine / 2, Texts::BannerText.size(), Texts::BannerText);  // a banner, too
    Put(root / "shsrc" / (kCode + "A.sub"), line);
  }
  Put(root / "shsrc" / (kCode + ".F10"), IndexBytes({{"A", kCode + "A.sub"}}));

  const long before = PeakRssMb();
  const auto start = std::chrono::steady_clock::now();
  {
    TTreeRun run(root);
    run.Execute();
    EXPECT_EQ(run.Host().Status, "");
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long peak = PeakRssMb();
  std::cout << "[ huge     ] 100 MB line: " << seconds << " s, peak " << peak << " MB (before " << before
            << " MB)" << std::endl;

  EXPECT_EQ(fs::file_size(root / "shdes" / (kCode + ".txt")), kLine + 2);
  EXPECT_EQ(fs::file_size(root / "mirsh" / (kCode + ".txt")), kLine + 2);
  const std::string index = ReadFile((root / "shdes" / (kCode + ".F10")).string());
  ASSERT_EQ(index.size(), 16u + 256u);
  TIndexRecord record;
  std::memcpy(&record, index.data() + 16, sizeof record);
  const std::int32_t offset = record.TextOffset, length = record.TextLength;  // packed fields
  EXPECT_EQ(offset, 0);
  EXPECT_EQ(length, static_cast<std::int32_t>(kLine + 2));
  // A handful of copies of the text at most (the file's bytes, the lines, the saved text).
  // A sanitizer keeps shadow memory and freed blocks of its own; the bound is for the
  // program as it ships.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  EXPECT_LT(peak, 1000) << "MB at the peak of the run";
#endif
}

}  // namespace
}  // namespace reliability
