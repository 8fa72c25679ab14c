// lorvane-feedgen: writes a synthetic feed (both markets' source roots with index and section
// files, the composite template, target roots, mirror folders and a settings file) so the
// same tool serves the demo, the tests and the benchmark. Everything in it is made up.
//
// The index files are written here from the packed record layout, not through TIndex, so
// that a fault in the program's own index writer cannot hide in its test data.

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Convert.h"
#include "FeedText.h"
#include "Index.h"
#include "RunTexts.h"

namespace {

namespace fs = std::filesystem;

constexpr char kUsage[] =
    "usage: lorvane-feedgen --out DIR [options]\n"
    "\n"
    "Writes a synthetic feed for Lorvane under DIR (a new or empty folder):\n"
    "  home/LORVANE.INI      settings for `lorvane --home DIR/home`: both markets on drive D:\n"
    "                        (mapped to DIR in [DRIVES]), mirrors, market-index codes\n"
    "  sh/src, sz/src        per stock {code}.F10 and one {code}?.sub per section;\n"
    "                        Shanghai codes from 600000, Shenzhen codes from 000001\n"
    "  sh/src/000001.F10     the composite template, listing the texts in tpl/\n"
    "  sh/dst, sz/dst        target roots (empty)\n"
    "  mirror/sh, mirror/sz, mirror/both   mirror folders (empty)\n"
    "\n"
    "options:\n"
    "  --out DIR             where to write (required)\n"
    "  --sh N                Shanghai stocks (default 10, at most 99999)\n"
    "  --sz N                Shenzhen stocks (default 10, at most 99999)\n"
    "  --sections N          section files per stock (default 8, 1 to 36)\n"
    "  --section-bytes N     about this many bytes per section file and template text\n"
    "                        (default 4096, at most 16777216)\n"
    "  --seed N              the same seed gives the same bytes (default 1)\n"
    "  --index               settings INDEX=1: the run generates indexes (default INDEX=0)\n"
    "  --no-mirrors          no mirror section and no mirror folders\n"
    "  --index-codes N       market-index codes per market in the settings (default 2, at most 9)\n"
    "  --help                this text\n"
    "  --version             the version\n";

struct TOptions {
  std::string Out;
  int Sh = 10;
  int Sz = 10;
  int Sections = 8;
  int SectionBytes = 4096;
  std::uint64_t Seed = 1;
  bool Index = false;
  bool Mirrors = true;
  int IndexCodes = 2;
  bool Help = false;
  bool Version = false;
};

class EUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The one more character of a section file's name, in section order. Names differ without
// regard to case, as the program's search compares them, hence at most 36 sections.
constexpr std::string_view kSectionLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr int kTemplateTexts = 5;

std::uint64_t ParseNumber(const std::string& option, const std::string& text,
                          std::uint64_t most) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end)
    throw EUsage(option + ": '" + text + "' is not a whole number");
  if (value > most)
    throw EUsage(option + ": " + text + " is more than " + std::to_string(most));
  return value;
}

TOptions ParseOptions(int argc, char** argv) {
  TOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasValue = false;
    if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      hasValue = true;
    }
    const auto take = [&]() -> std::string {
      if (hasValue) return value;
      if (i + 1 >= argc) throw EUsage(arg + " needs a value");
      return argv[++i];
    };
    const auto flag = [&]() {
      if (hasValue) throw EUsage(arg + " takes no value");
    };
    const auto number = [&](std::uint64_t least, std::uint64_t most) -> int {
      const std::string text = take();
      const std::uint64_t n = ParseNumber(arg, text, most);
      if (n < least) throw EUsage(arg + ": " + text + " is less than " + std::to_string(least));
      return static_cast<int>(n);
    };
    if (arg == "--out") {
      options.Out = take();
    } else if (arg == "--sh") {
      options.Sh = number(0, 99999);
    } else if (arg == "--sz") {
      options.Sz = number(0, 99999);
    } else if (arg == "--sections") {
      options.Sections = number(1, kSectionLetters.size());
    } else if (arg == "--section-bytes") {
      options.SectionBytes = number(0, 16 * 1024 * 1024);
    } else if (arg == "--seed") {
      options.Seed = ParseNumber(arg, take(), UINT64_MAX);
    } else if (arg == "--index") {
      flag();
      options.Index = true;
    } else if (arg == "--no-mirrors") {
      flag();
      options.Mirrors = false;
    } else if (arg == "--index-codes") {
      options.IndexCodes = number(0, 9);
    } else if (arg == "--help" || arg == "-h") {
      options.Help = true;
    } else if (arg == "--version") {
      flag();
      options.Version = true;
    } else {
      throw EUsage("unknown option " + arg);
    }
  }
  if (!options.Help && !options.Version && options.Out.empty())
    throw EUsage("--out DIR is required");
  return options;
}

// Whole-file writes straight to host paths, as the feed's own party would make them: none of
// the program's platform, whose behaviour the feed is there to try.
class TWriter {
 public:
  void Write(const std::string& path, std::string_view bytes) {
#ifdef _WIN32
    // The feed is made on Linux for the tests; on Windows the plain way does.
    std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error(path + ": cannot write");
    ++FFiles;
    FBytes += bytes.size();
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Fail(path);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        const int saved = errno;
        ::close(fd);
        errno = saved;
        Fail(path);
      }
      done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) Fail(path);
    ++FFiles;
    FBytes += bytes.size();
#endif
  }
  std::uint64_t Files() const { return FFiles; }
  std::uint64_t Bytes() const { return FBytes; }

 private:
  [[noreturn]] static void Fail(const std::string& path) {
    throw std::runtime_error(path + ": " + std::strerror(errno));
  }
  std::uint64_t FFiles = 0;
  std::uint64_t FBytes = 0;
};

template <std::size_t W>
void SetField(char (&field)[W], std::string_view text) {
  // First W bytes, zero fill: the record's text-field rule.
  std::memset(field, 0, W);
  std::memcpy(field, text.data(), std::min(W, text.size()));
}

struct TFeedDay {
  std::int32_t Date;     // YYYYMMDD
  std::string DateText;  // YYYY-MM-DD
};

TFeedDay FeedDay(std::uint64_t seed) {
  TRandom random(seed, 0, 0);
  const int month = 1 + static_cast<int>(random.Below(12));
  const int day = 1 + static_cast<int>(random.Below(28));
  char text[32];
  std::snprintf(text, sizeof text, "2024-%02d-%02d", month, day);
  return {20240000 + month * 100 + day, text};
}

class TIndexBuilder {
 public:
  void Clear() { FRecords.clear(); }
  void Add(std::uint8_t market, std::int32_t date, std::int32_t time, std::string_view title,
           std::string_view textFile, std::int32_t length, std::string_view code) {
    TIndexRecord r;
    std::memset(&r, 0, sizeof r);
    r.Byte0 = 0;
    r.Kind = 4;
    r.Market = market;
    r.Date = date;
    r.Time = time;
    SetField(r.Title, title);
    SetField(r.TextFile, textFile);
    r.TextOffset = 0;
    r.TextLength = length;
    SetField(r.Code, code);
    r.Check = RecordCheck(r);
    FRecords.push_back(r);
  }
  std::string Bytes() const {
    TIndexHeader header = DefaultIndexHeader();
    header.Count = static_cast<std::int16_t>(FRecords.size());
    std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
    bytes.append(reinterpret_cast<const char*>(FRecords.data()),
                 FRecords.size() * sizeof(TIndexRecord));
    return bytes;
  }

 private:
  std::vector<TIndexRecord> FRecords;
};

std::string SixDigits(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%06d", n);
  return text;
}

class TFeedGenerator {
 public:
  TFeedGenerator(TOptions options, std::string root)
      : FOptions(std::move(options)), FRoot(std::move(root)), FDay(FeedDay(FOptions.Seed)) {}

  void Run() {
    for (const char* dir : {"home", "sh", "sh/src", "sh/dst", "sz", "sz/src", "sz/dst", "tpl"})
      fs::create_directory(FRoot + "/" + dir);
    if (FOptions.Mirrors)
      for (const char* dir : {"mirror", "mirror/sh", "mirror/sz", "mirror/both"})
        fs::create_directory(FRoot + "/" + dir);
    WriteSettings();
    WriteTemplate();
    WriteMarket(0, FOptions.Sh, 600000, FRoot + "/sh/src");
    WriteMarket(2, FOptions.Sz, 1, FRoot + "/sz/src");
  }

  const TWriter& Writer() const { return FWriter; }

 private:
  void WriteSettings() {
    std::string ini;
    const auto line = [&ini](std::string_view text) { ini.append(text).append("\r\n"); };
    line("[OPTION]");
    line("SRC=D:\\sh\\src");
    line("DES=D:\\sh\\dst");
    line("SZSRC=D:\\sz\\src");
    line("SZDES=D:\\sz\\dst");
    line("INTERNAL=1");
    line(FOptions.Index ? "INDEX=1" : "INDEX=0");
    line("");
    line("[" + Texts::SectionDrives + "]");
    line("D=" + Utf8ToGbk(FRoot));
    if (FOptions.Mirrors) {
      line("");
      line("[" + Texts::SectionMirrors + "]");
      line("SHMIRROR=D:\\mirror\\sh");
      line("SZMIRROR=D:\\mirror\\sz");
      line("SHSZMIRROR=D:\\mirror\\both");
    }
    line("");
    line("[" + Texts::SectionIndexCodes + "]");
    // Made-up codes: "1X" keeps the Shanghai ones clear of every stock code; the Shenzhen
    // ones lie far above the stock codes this tool hands out.
    for (int i = 1; i <= FOptions.IndexCodes; ++i) line("SH" + std::to_string(i) + "=1X000" + std::to_string(i));
    for (int i = 1; i <= FOptions.IndexCodes; ++i) line("SZ" + std::to_string(i) + "=39880" + std::to_string(i));
    FWriter.Write(FRoot + "/home/LORVANE.INI", ini);
  }

  // The composite template lists its texts by drive-less paths, read from the drive of the
  // Shanghai source root (D:, which is the feed's folder).
  void WriteTemplate() {
    TIndexBuilder index;
    for (int i = 0; i < kTemplateTexts; ++i) {
      TRandom random(FOptions.Seed, 3, static_cast<std::uint64_t>(i));
      const std::string name = SixDigits(i + 1).substr(1) + ".txt";
      const std::string title = FText.TemplateTitle(i);
      FText.TemplateText(random, title, FDay.DateText,
                         static_cast<std::size_t>(FOptions.SectionBytes), FBuffer);
      FWriter.Write(FRoot + "/tpl/" + name, FBuffer);
      index.Add(0, FDay.Date, 150000, title, "\\tpl\\" + name,
                static_cast<std::int32_t>(FBuffer.size()), "000001");
    }
    FWriter.Write(FRoot + "/sh/src/000001.F10", index.Bytes());
  }

  void WriteMarket(std::uint8_t market, int stocks, int firstCode, const std::string& dir) {
    TIndexBuilder index;
    for (int i = 0; i < stocks; ++i) {
      TRandom random(FOptions.Seed, 1 + market, static_cast<std::uint64_t>(i));
      const std::string code = SixDigits(firstCode + i);
      const std::string company = FText.CompanyName(random);
      const std::int32_t time =
          static_cast<std::int32_t>((7 + random.Below(12)) * 10000 + random.Below(60) * 100);
      index.Clear();
      for (int s = 0; s < FOptions.Sections; ++s) {
        const std::string name = code + kSectionLetters[static_cast<std::size_t>(s)] + ".sub";
        const std::string title = FText.SectionTitle(s);
        FText.SectionText(random, title, company, code, FDay.DateText,
                          static_cast<std::size_t>(FOptions.SectionBytes), FBuffer);
        FWriter.Write(dir + "/" + name, FBuffer);
        index.Add(market, FDay.Date, time, title, name, static_cast<std::int32_t>(FBuffer.size()),
                  code);
      }
      FWriter.Write(dir + "/" + code + ".F10", index.Bytes());
    }
  }

  TOptions FOptions;
  std::string FRoot;
  TFeedDay FDay;
  TFeedText FText;
  TWriter FWriter;
  std::string FBuffer;
};

// An absolute path without a trailing "/", so that "D:" + "\sh\src" lands inside it.
std::string PrepareRoot(const std::string& out) {
  fs::path root = fs::absolute(out).lexically_normal();
  std::string text = root.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  std::error_code ec;
  if (fs::exists(text, ec)) {
    if (!fs::is_directory(text, ec)) throw EUsage(text + " exists and is not a folder");
    if (!fs::is_empty(text, ec))
      throw EUsage(text + " is not empty; give a new or empty folder");
  } else if (!fs::create_directories(text, ec)) {
    throw std::runtime_error(text + ": " + ec.message());
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const TOptions options = ParseOptions(argc, argv);
    if (options.Help) {
      std::cout << kUsage;
      return 0;
    }
    if (options.Version) {
      std::cout << "lorvane-feedgen " << LORVANE_VERSION << "\n";
      return 0;
    }
    const std::string root = PrepareRoot(options.Out);
    TFeedGenerator generator(options, root);
    generator.Run();
    std::cout << "lorvane-feedgen: " << options.Sh << " Shanghai + " << options.Sz
              << " Shenzhen stocks, " << options.Sections << " sections each, "
              << generator.Writer().Files() << " files, "
              << (generator.Writer().Bytes() + 512 * 1024) / (1024 * 1024) << " MiB in " << root
              << "\n";
    return 0;
  } catch (const EUsage& e) {
    std::cerr << "lorvane-feedgen: " << e.what() << "\n\n" << kUsage;
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "lorvane-feedgen: " << e.what() << "\n";
    return 1;
  }
}
