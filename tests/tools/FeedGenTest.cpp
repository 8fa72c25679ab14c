// lorvane-feedgen, run as a user runs it, its output read back with independent means: the
// packed index layout with a checksum summed here, GBK bytes written out by hand, iconv for
// the encoding, and the program's own settings and drive reading for the paths.

#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "Convert.h"
#include "Index.h"
#include "IniFile.h"
#include "Platform.h"
#include "ProgramFiles.h"
#include "ToolRun.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TTempDir;

// GBK bytes of the texts the program looks for, written out by hand.
const std::string kBanner =
    "Talvik\xD7\xCA\xD1\xB6\xBE\xCD\xCA\xC7\xCD\xB6\xD7\xCA\xD5\xDF\xB5\xC4"
    "Talvik\xD7\xCA\xD1\xB6";
const std::string kBannerTail = "`\xA1\xA1\xA1\xA1    \xA1\xA1" + kBanner;
const std::string kArrow = "\xA1\xFA";
const std::string kMirrorSection = "[\xB6\xE0\xC2\xB7\xBE\xB6\xBF\xBD\xB1\xB4]";
const std::string kCodeSection = "[\xB4\xF3\xC5\xCC\xB4\xFA\xC2\xEB]";

struct TIndexFile {
  std::size_t Size = 0;
  TIndexHeader Header{};
  std::vector<TIndexRecord> Records;  // as many as the header counts
};

TIndexFile ReadIndex(const std::string& path) {
  const std::string bytes = ReadFile(path);
  TIndexFile index;
  index.Size = bytes.size();
  if (bytes.size() < sizeof(TIndexHeader)) return index;
  std::memcpy(&index.Header, bytes.data(), sizeof(TIndexHeader));
  for (int i = 0; i < index.Header.Count; ++i) {
    const std::size_t at = sizeof(TIndexHeader) + sizeof(TIndexRecord) * static_cast<std::size_t>(i);
    if (at + sizeof(TIndexRecord) > bytes.size()) break;
    TIndexRecord record;
    std::memcpy(&record, bytes.data() + at, sizeof record);
    index.Records.push_back(record);
  }
  return index;
}

std::uint8_t SummedCheck(const TIndexRecord& record) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
  unsigned sum = 0;
  for (int i = 0; i < 255; ++i) sum += bytes[i];
  return static_cast<std::uint8_t>(sum & 0xFF);
}

// Splits at CR LF; `crLfOnly` turns false on a lone CR or LF, or a last line without its end.
std::vector<std::string> CrLfLines(const std::string& bytes, bool& crLfOnly) {
  std::vector<std::string> lines;
  crLfOnly = true;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      crLfOnly = false;
      lines.push_back(bytes.substr(start));
      break;
    }
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  for (const auto& line : lines)
    if (line.find_first_of("\r\n") != std::string::npos) crLfOnly = false;
  return lines;
}

// True when every byte sequence is valid GBK (iconv refuses anything else).
bool StrictGbk(const std::string& bytes) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in = bytes;
  std::string out(bytes.size() * 2 + 16, '\0');
  char* inp = in.data();
  char* outp = out.data();
  std::size_t inLeft = in.size(), outLeft = out.size();
  const std::size_t rc = iconv(cd, &inp, &inLeft, &outp, &outLeft);
  iconv_close(cd);
  return rc != static_cast<std::size_t>(-1) && inLeft == 0;
}

// One generated feed in a temporary folder.
class TFeed {
 public:
  explicit TFeed(const std::vector<std::string>& options) : FRoot(FTmp / "feed") {
    std::vector<std::string> argv = {LORVANE_FEEDGEN, "--out", FRoot};
    argv.insert(argv.end(), options.begin(), options.end());
    FResult = toolrun::Run(FTmp, argv);
  }
  const toolrun::TResult& Result() const { return FResult; }
  const std::string& Root() const { return FRoot; }
  std::string operator/(const std::string& relative) const { return FRoot + "/" + relative; }
  std::vector<std::string> Settings() const {
    bool crLfOnly = false;
    auto lines = CrLfLines(ReadFile(FRoot + "/home/LORVANE.INI"), crLfOnly);
    EXPECT_TRUE(crLfOnly);
    return lines;
  }
  // The file names in a folder of the feed, sorted.
  std::vector<std::string> Names(const std::string& relative) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(FRoot + "/" + relative))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  TTempDir FTmp;
  std::string FRoot;
  toolrun::TResult FResult;
};

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The key=value lines of one section of the settings, in order.
std::vector<std::pair<std::string, std::string>> Section(const std::vector<std::string>& lines,
                                                         const std::string& header) {
  std::vector<std::pair<std::string, std::string>> values;
  bool inside = false;
  for (const auto& line : lines) {
    if (!line.empty() && line[0] == '[') {
      inside = line == header;
      continue;
    }
    const auto eq = line.find('=');
    if (inside && eq != std::string::npos) values.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  return values;
}

TEST(FeedGen, SettingsNameBothMarketsOnDriveDWithMirrorsAndIndexCodes) {
  TFeed feed({"--sh", "2", "--sz", "2", "--sections", "2", "--section-bytes", "300", "--index"});
  ASSERT_EQ(feed.Result().Status, 0) << feed.Result().Err;
  const auto lines = feed.Settings();
  EXPECT_TRUE(StrictGbk(ReadFile(feed / "home/LORVANE.INI")));
  for (const char* line : {"[OPTION]", "SRC=D:\\sh\\src", "DES=D:\\sh\\dst", "SZSRC=D:\\sz\\src",
                           "SZDES=D:\\sz\\dst", "INTERNAL=1", "INDEX=1", "[DRIVES]"})
    EXPECT_TRUE(Has(lines, line)) << line;
  EXPECT_TRUE(Has(lines, "D=" + feed.Root()));
  for (const char* dir : {"sh/src", "sh/dst", "sz/src", "sz/dst"})
    EXPECT_TRUE(fs::is_directory(feed / dir)) << dir;

  const auto mirrors = Section(lines, kMirrorSection);
  bool shOnly = false, szOnly = false, both = false;
  for (const auto& [name, value] : mirrors) {
    const bool sh = name.find("SH") != std::string::npos;
    const bool sz = name.find("SZ") != std::string::npos;
    shOnly |= sh && !sz;
    szOnly |= sz && !sh;
    both |= sh && sz;
    ASSERT_EQ(value.rfind("D:\\mirror\\", 0), 0u) << value;
    std::string host = feed.Root() + value.substr(2);
    std::replace(host.begin(), host.end(), '\\', '/');
    EXPECT_TRUE(fs::is_directory(host)) << host;
    EXPECT_TRUE(fs::is_empty(host)) << host;
  }
  EXPECT_TRUE(shOnly && szOnly && both);

  const auto codes = Section(lines, kCodeSection);
  ASSERT_EQ(codes.size(), 4u);
  std::set<std::string> seen;
  for (const auto& [name, code] : codes) {
    EXPECT_TRUE(name.find("SH") != std::string::npos || name.find("SZ") != std::string::npos);
    EXPECT_EQ(code.size(), 6u);
    EXPECT_FALSE(fs::exists(feed / ("sh/src/" + code + ".F10"))) << "a stock code: " << code;
    EXPECT_FALSE(fs::exists(feed / ("sz/src/" + code + ".F10"))) << "a stock code: " << code;
    EXPECT_TRUE(seen.insert(code).second) << code;
  }
}

TEST(FeedGen, IndexingOffAndNoMirrorsLeaveThemOut) {
  TFeed feed({"--sh", "1", "--sz", "1", "--no-mirrors", "--index-codes", "0"});
  ASSERT_EQ(feed.Result().Status, 0) << feed.Result().Err;
  const auto lines = feed.Settings();
  EXPECT_TRUE(Has(lines, "INDEX=0"));
  EXPECT_FALSE(Has(lines, kMirrorSection));
  EXPECT_FALSE(fs::exists(feed / "mirror"));
  EXPECT_TRUE(Section(lines, kCodeSection).empty());
}

// What the program itself makes of the settings: the file is found where `--home` puts it,
// and drive D: leads into the feed.
TEST(FeedGen, TheProgramFindsTheSettingsAndTheFeedThroughDriveD) {
  TFeed feed({"--sh", "1", "--sz", "1", "--sections", "1"});
  ASSERT_EQ(feed.Result().Status, 0) << feed.Result().Err;
  const std::unique_ptr<TPlatform> system = NewSystemPlatform(feed / "home");
  TPlatform& platform = *system;
  const std::string settings = SettingsPathFor(ProgramDir(platform) + "lorvane");
  ASSERT_TRUE(platform.FileExists(settings)) << settings;
  LoadDrives(platform, settings);
  TIniFile ini(platform, settings);
  const std::string src = ini.ReadString("OPTION", "SRC", "");
  EXPECT_EQ(fs::canonical(platform.HostPath(src)), fs::canonical(feed / "sh/src"));
  EXPECT_TRUE(platform.FileExists(src + "\\600000.F10"));
  EXPECT_TRUE(platform.FileExists(ini.ReadString("OPTION", "SZSRC", "") + "\\000001A.sub"));
  EXPECT_EQ(ini.ReadSectionValues(Utf8ToGbk("多路径拷贝")).size(), 3u);
  EXPECT_EQ(ini.ReadSectionValues(Utf8ToGbk("大盘代码")).size(), 4u);
}

TEST(FeedGen, StockIndexesListTheirSectionFilesInOrderWithCorrectChecks) {
  const int sections = 5;
  TFeed feed({"--sh", "3", "--sz", "4", "--sections", std::to_string(sections), "--seed", "11"});
  ASSERT_EQ(feed.Result().Status, 0) << feed.Result().Err;
  const std::map<std::string, std::uint8_t> markets = {{"sh/src", 0}, {"sz/src", 2}};
  const std::map<std::string, std::vector<std::string>> codes = {
      {"sh/src", {"600000", "600001", "600002"}},
      {"sz/src", {"000001", "000002", "000003", "000004"}}};
  for (const auto& [dir, market] : markets) {
    std::set<std::string> listed;
    for (const std::string& code : codes.at(dir)) {
      SCOPED_TRACE(dir + "/" + code);
      const TIndexFile index = ReadIndex(feed / (dir + "/" + code + ".F10"));
      EXPECT_EQ(std::string(index.Header.Magic, 8), "VESPERIN");
      EXPECT_EQ(index.Header.Byte8, 1);
      EXPECT_EQ(index.Header.Byte9, 1);
      ASSERT_EQ(index.Header.Count, sections);
      EXPECT_EQ(index.Size, 16u + 256u * sections);
      for (int i = 0; i < sections; ++i) {
        const TIndexRecord& r = index.Records[static_cast<std::size_t>(i)];
        EXPECT_EQ(r.Check, SummedCheck(r)) << "record " << i;
        EXPECT_EQ(r.Byte0, 0);
        EXPECT_EQ(r.Kind, 4);
        EXPECT_EQ(r.Market, market);
        EXPECT_TRUE(r.Date > 20000101 && r.Date < 21000101) << std::int32_t{r.Date};  // by value: packed
        EXPECT_EQ(r.Time % 100, 0);
        EXPECT_LT(int{r.Time}, 240000);
        const std::string file = FieldText(r.TextFile);
        ASSERT_EQ(file.size(), 11u) << file;  // {code}, one more character, ".sub"
        EXPECT_EQ(file.substr(0, 6), code);
        EXPECT_EQ(file.substr(7), ".sub");
        const std::string section = ReadFile(feed / (dir + "/" + file));
        ASSERT_FALSE(section.empty()) << file;
        EXPECT_EQ(int{r.TextOffset}, 0);
        EXPECT_EQ(int{r.TextLength}, static_cast<std::int32_t>(section.size()));
        EXPECT_FALSE(FieldText(r.Title).empty());
        EXPECT_EQ(FieldText(r.Code), code);
        EXPECT_TRUE(listed.insert(file).second) << "listed twice: " << file;
      }
    }
    // Every section file of the folder is listed by its stock's index, and nothing else lies
    // there; Shanghai's extra index is the composite template.
    std::set<std::string> expected = listed;
    for (const std::string& code : codes.at(dir)) expected.insert(code + ".F10");
    if (dir == "sh/src") expected.insert("000001.F10");
    const auto names = feed.Names(dir);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);
  }
}

TEST(FeedGen, SectionFilesAreGbkWithOneBannerLineAndANameLineNamingTheTitle) {
  const std::size_t target = 3000;
  TFeed feed({"--sh", "2", "--sz", "2", "--sections", "12", "--section-bytes",
              std::to_string(target), "--seed", "3"});
  ASSERT_EQ(feed.Result().Status, 0) << feed.Result().Err;
  int files = 0;
  for (const char* dir : {"sh/src", "sz/src"}) {
    for (const std::string& name : feed.Names(dir)) {
      if (name.size() < 4 || name.substr(name.size() - 4) != ".F10") continue;
      if (std::string(dir) == "sh/src" && name == "000001.F10") continue;
      for (const TIndexRecord& r : ReadIndex(feed / (std::string(dir) + "/" + name)).Records) {
        const std::string file = FieldText(r.TextFile);
        SCOPED_TRACE(file);
        ++files;
        const std::string bytes = ReadFile(feed / (std::string(dir) + "/" + file));
        EXPECT_EQ(bytes.find('\0'), std::string::npos);
        EXPECT_TRUE(StrictGbk(bytes));
        EXPECT_LE(bytes.size(), target);
        EXPECT_GE(bytes.size(), target - 400);
        bool crLfOnly = false;
        const auto lines = CrLfLines(bytes, crLfOnly);
        EXPECT_TRUE(crLfOnly);
        ASSERT_GE(lines.size(), 3u);
        EXPECT_NE(lines[0].find(kBanner), std::string::npos);
        // The program makes the title line from the bytes before the arrow of the line after
        // the banner: they are the section's title, so the text's titles and the index agree.
        const auto arrow = lines[1].find(kArrow);
        ASSERT_NE(arrow, std::string::npos);
        EXPECT_EQ(lines[1].substr(0, arrow), FieldText(r.Title));
        for (std::size_t i = 1; i < lines.size(); ++i) {
          EXPECT_EQ(lines[i].find(kBanner), std::string::npos) << "a second banner, line " << i;
          EXPECT_TRUE(lines[i].empty() || lines[i][0] != '`') << "a title line, line " << i;
        }
      }
    }
  }
  EXPECT_EQ(files, 4 * 12);
}

TEST(FeedGen, TemplateIndexListsDriveLessTextsUnderTheFeedFolder) {
  const std::size_t target = 2000;
  TFeed feed({"--sh", "1", "--sz", "1", "--section-bytes", std::to_string(target)});
  ASSERT_EQ(feed.Result().Status, 0) << feed.Result().Err;
  const TIndexFile index = ReadIndex(feed / "sh/src/000001.F10");
  ASSERT_GE(index.Records.size(), 3u);
  EXPECT_EQ(index.Size, 16u + 256u * index.Records.size());
  for (const TIndexRecord& r : index.Records) {
    const std::string file = FieldText(r.TextFile);
    SCOPED_TRACE(file);
    EXPECT_EQ(r.Check, SummedCheck(r));
    ASSERT_EQ(file[0], '\\');
    EXPECT_EQ(file.find(':'), std::string::npos);
    std::string host = feed.Root() + file;  // what "D:" + the field names
    std::replace(host.begin(), host.end(), '\\', '/');
    const std::string bytes = ReadFile(host);
    ASSERT_FALSE(bytes.empty()) << host;
    EXPECT_TRUE(StrictGbk(bytes));
    EXPECT_LE(bytes.size(), target);
    bool crLfOnly = false;
    const auto lines = CrLfLines(bytes, crLfOnly);
    EXPECT_TRUE(crLfOnly);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "`" + FieldText(r.Title) + kBannerTail);
  }
  // Shanghai 000001 is the template, never a stock; Shenzhen 000001 is an ordinary stock.
  for (const std::string& name : feed.Names("sh/src"))
    EXPECT_FALSE(name.rfind("000001", 0) == 0 && name != "000001.F10") << name;
  EXPECT_TRUE(fs::exists(feed / "sz/src/000001A.sub"));
}

TEST(FeedGen, TheSameSeedGivesTheSameBytesAndAnotherSeedOtherText) {
  const std::vector<std::string> size = {"--sh", "3", "--sz", "3", "--sections", "4",
                                         "--section-bytes", "1500", "--index"};
  auto with = [&size](const std::string& seed) {
    auto options = size;
    options.insert(options.end(), {"--seed", seed});
    return options;
  };
  TFeed a(with("42")), b(with("42")), c(with("43"));
  for (const TFeed* feed : {&a, &b, &c}) ASSERT_EQ(feed->Result().Status, 0) << feed->Result().Err;
  const auto contents = [](const TFeed& feed) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(feed.Root())) {
      const std::string relative = fs::relative(entry.path(), feed.Root()).string();
      std::string bytes = entry.is_regular_file() ? ReadFile(entry.path().string()) : "<dir>";
      if (relative == "home/LORVANE.INI") {  // the drive mapping names the feed's own folder
        const auto at = bytes.find("\r\nD=");
        bytes.erase(at, bytes.find("\r\n", at + 2) - at);
      }
      files[relative] = bytes;
    }
    return files;
  };
  const auto filesA = contents(a);
  // 6 stocks of 5 files, 5 template texts, the template index, the settings, 12 folders.
  EXPECT_EQ(filesA.size(), 30u + 5u + 1u + 1u + 12u);
  EXPECT_TRUE(filesA == contents(b));
  const auto filesC = contents(c);
  EXPECT_NE(filesA.at("sh/src/600000A.sub"), filesC.at("sh/src/600000A.sub"));
  EXPECT_NE(filesA.at("sz/src/000003D.sub"), filesC.at("sz/src/000003D.sub"));
}

TEST(FeedGen, SizeOptionsReachTheirLimits) {
  TFeed many({"--sh", "1", "--sz", "0", "--sections", "36", "--section-bytes", "0"});
  ASSERT_EQ(many.Result().Status, 0) << many.Result().Err;
  std::set<std::string> folded;  // names must differ as the program compares them
  for (const TIndexRecord& r : ReadIndex(many / "sh/src/600000.F10").Records) {
    std::string name = FieldText(r.TextFile);
    for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_TRUE(folded.insert(name).second) << name;
    bool crLfOnly = false;
    // Asked for no bytes, a section still holds its banner and name lines and nothing more.
    const auto lines = CrLfLines(ReadFile(many / ("sh/src/" + FieldText(r.TextFile))), crLfOnly);
    EXPECT_EQ(lines.size(), 2u);
  }
  EXPECT_EQ(folded.size(), 36u);
  EXPECT_TRUE(many.Names("sz/src").empty());
}

TEST(FeedGen, RefusesBadOptionsAndFoldersInUse) {
  TTempDir tmp;
  const auto run = [&tmp](std::vector<std::string> args) {
    args.insert(args.begin(), LORVANE_FEEDGEN);
    return toolrun::Run(tmp, args);
  };
  const std::string out = tmp / "feed";
  for (const auto& args : std::vector<std::vector<std::string>>{
           {},
           {"--sh", "3"},
           {"--out", out, "--sections", "0"},
           {"--out", out, "--sections", "37"},
           {"--out", out, "--sh", "abc"},
           {"--out", out, "--sh", "-1"},
           {"--out", out, "--sz", "100000"},
           {"--out", out, "--seed"},
           {"--out", out, "--index=1"},
           {"--out", out, "--colour"}}) {
    const auto result = run(args);
    EXPECT_EQ(result.Status, 2) << args.size();
    EXPECT_NE(result.Err.find("usage:"), std::string::npos);
    EXPECT_FALSE(fs::exists(out)) << "wrote despite a bad option";
  }
  testsupport::WriteFile(tmp / "busy/keep.txt", "mine");
  const auto busy = run({"--out", tmp / "busy"});
  EXPECT_NE(busy.Status, 0);
  EXPECT_NE(busy.Err.find("not empty"), std::string::npos) << busy.Err;
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp / "busy"), fs::directory_iterator()), 1);
  testsupport::WriteFile(tmp / "file", "x");
  EXPECT_NE(run({"--out", tmp / "file"}).Status, 0);

  const auto help = run({"--help"});
  EXPECT_EQ(help.Status, 0);
  for (const char* option : {"--out", "--sh", "--sz", "--sections", "--section-bytes", "--seed",
                             "--index", "--no-mirrors", "--index-codes"})
    EXPECT_NE(help.Out.find(option), std::string::npos) << option;
  // The "=" spelling works like the two-word one.
  EXPECT_EQ(run({"--out=" + out, "--sh=1", "--sz=1", "--sections=1"}).Status, 0);
  EXPECT_TRUE(fs::exists(out + "/sh/src/600000A.sub"));
}

}  // namespace
