// lorvane-benchcheck: reads back what one run over a generated feed left behind and says
// whether it is right, so that a benchmark never times a run that wrote the wrong bytes.
//
// Everything expected is worked out here from the staged files themselves, independently of
// the program: each stock's text is its sections joined line by line with a title line
// before every banner line; each generated index has one record per title line, tiling the
// text, with the collected titles; every mirror holds the same bytes as the target; no
// section file waits in a source root; the day's log holds exactly the lines of a run
// without failures, in order. --plain expects the floor program's outputs instead: the
// sections' bytes joined as they are and one record per section.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "BenchFeed.h"
#include "Convert.h"
#include "Index.h"
#include "RunTexts.h"

namespace {

using namespace bench;

constexpr char kUsage[] =
    "usage: lorvane-benchcheck [--plain] [--sh N] [--sz N] FEED_DIR\n"
    "Checks the outputs of one run (--plain: of lorvane-floor) over a generated feed.\n"
    "  --sh N, --sz N   the number of stocks each market must have merged\n";

constexpr std::size_t kShownProblems = 20;

struct TRecordWant {
  std::size_t Offset = 0;
  std::size_t Length = 0;
  std::string Title;
};

class TChecker {
 public:
  TChecker(TFeed feed, bool plain) : FFeed(std::move(feed)), FPlain(plain) {}

  void Run(int wantSh, int wantSz) {
    Composites();
    Market(FFeed.Sh, wantSh);
    Market(FFeed.Sz, wantSz);
    Log();
  }

  int Report() const {
    for (std::size_t i = 0; i < FProblems.size() && i < kShownProblems; ++i)
      std::cerr << "lorvane-benchcheck: " << FProblems[i] << "\n";
    if (FProblems.size() > kShownProblems)
      std::cerr << "lorvane-benchcheck: ... and " << FProblems.size() - kShownProblems
                << " more problems\n";
    if (!FProblems.empty()) {
      std::cerr << "lorvane-benchcheck: FAILED: " << FProblems.size() << " problems\n";
      return 1;
    }
    std::printf("lorvane-benchcheck: ok: %d stocks, %d composites, %d files compared\n", FStocks,
                FComposites, FFiles);
    return 0;
  }

 private:
  void Problem(std::string text) { FProblems.push_back(std::move(text)); }

  // The bytes of a file, or false (and a problem) when it cannot be read.
  bool Read(const std::string& path, std::string& bytes) {
    try {
      ReadWhole(path, bytes);
      ++FFiles;
      return true;
    } catch (const std::exception& e) {
      FProblems.emplace_back(e.what());
      return false;
    }
  }

  // The target file must hold `want`; every mirror of the market the target's bytes.
  void Published(const TMarket& market, const std::string& name, const std::string& want) {
    std::string got;
    if (!Read(market.Dst + "/" + name, got)) return;
    if (got != want) {
      const auto diff = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
      Problem(market.Dst + "/" + name + ": " + std::to_string(got.size()) + " bytes, expected " +
              std::to_string(want.size()) + "; first difference at byte " +
              std::to_string(diff.first - got.begin()));
    }
    std::string copy;
    for (const std::string& mirror : market.Mirrors) {
      if (!Read(mirror + "/" + name, copy)) continue;
      if (copy != got) Problem(mirror + "/" + name + " differs from " + market.Dst + "/" + name);
    }
  }

  // The records the program's index generation makes of `text` with collected `titles`.
  static std::vector<TRecordWant> RecordsOf(std::string_view text,
                                            const std::vector<std::string>& titles) {
    std::vector<TRecordWant> records;
    const std::size_t n = titles.size();
    std::size_t taken = 0, start = 0, seen = 0;
    for (const std::string_view line : SplitLines(text)) {
      if (!line.empty() && line.front() == '`') {
        if (seen > 0) {
          records.push_back({start, taken - start, seen < n ? titles[seen - 1] : Texts::DefaultTitle});
          start = taken;
        }
        ++seen;
      }
      taken += line.size() + 2;
    }
    if (start < taken)
      records.push_back({start, taken - start, titles.empty() ? Texts::DefaultTitle : titles.back()});
    if (records.size() > 800) records.erase(records.begin(), records.end() - 800);
    return records;
  }

  void Index(const TMarket& market, const std::string& code, const std::vector<TRecordWant>& want) {
    const std::string name = code + ".F10";
    const std::string path = market.Dst + "/" + name;
    if (want.empty()) {
      if (IsFile(path)) Problem(path + ": an index for an empty text");
      return;
    }
    std::string bytes;
    if (!Read(path, bytes)) return;
    const std::size_t records = want.size();
    if (bytes.size() != sizeof(TIndexHeader) + records * sizeof(TIndexRecord)) {
      Problem(path + ": " + std::to_string(bytes.size()) + " bytes, expected " +
              std::to_string(sizeof(TIndexHeader) + records * sizeof(TIndexRecord)));
      return;
    }
    TIndexHeader header;
    std::memcpy(&header, bytes.data(), sizeof header);
    if (header.Count != static_cast<std::int16_t>(records))
      Problem(path + ": header counts " + std::to_string(header.Count) + " records");
    char codeField[36] = {};
    codeField[0] = static_cast<char>(market.MarketByte);
    if (code.size() > 4) std::memcpy(codeField + 1, code.data(), std::min<std::size_t>(35, code.size() - 4));
    for (std::size_t i = 0; i < records; ++i) {
      TIndexRecord r;
      std::memcpy(&r, bytes.data() + sizeof(TIndexHeader) + i * sizeof r, sizeof r);
      const std::string where = path + " record " + std::to_string(i + 1) + ": ";
      std::string title = want[i].Title.substr(0, sizeof r.Title);
      title.erase(std::remove(title.begin(), title.end(), '\0'), title.end());
      if (r.Byte0 != 0 || r.Kind != 4 || r.Market != market.MarketByte || r.Time != 0)
        Problem(where + "byte 0, kind, market or time is wrong");
      if (static_cast<std::size_t>(r.TextOffset) != want[i].Offset ||
          static_cast<std::size_t>(r.TextLength) != want[i].Length)
        Problem(where + "covers " + std::to_string(r.TextOffset) + "+" + std::to_string(r.TextLength) +
                ", expected " + std::to_string(want[i].Offset) + "+" + std::to_string(want[i].Length));
      if (FieldText(r.Title) != title)
        Problem(where + "title " + GbkToUtf8(FieldText(r.Title)) + ", expected " + GbkToUtf8(title));
      if (FieldText(r.TextFile) != code + ".txt")
        Problem(where + "text file " + GbkToUtf8(FieldText(r.TextFile)));
      if (std::memcmp(r.Code, codeField, sizeof codeField) != 0) Problem(where + "code field is wrong");
      if (r.Check != RecordCheck(r)) Problem(where + "check byte is wrong");
    }
    std::string copy;
    for (const std::string& mirror : market.Mirrors) {
      if (!Read(mirror + "/" + name, copy)) continue;
      if (copy != bytes) Problem(mirror + "/" + name + " differs from " + path);
    }
  }

  // Joins the collected parts as the run joins them: line by line (CR LF after every line),
  // for a stock with the title pass; or, for the floor, the bytes as they are.
  std::string Joined(const std::vector<std::string>& parts, bool titlePass) const {
    std::string out;
    if (FPlain) {
      for (const std::string& part : parts) out += part;
      return out;
    }
    std::vector<std::string_view> lines;
    for (const std::string& part : parts) {
      const auto more = SplitLines(part);
      lines.insert(lines.end(), more.begin(), more.end());
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (titlePass && lines[i].find(Texts::BannerText) != std::string_view::npos) {
        const std::string_view next = i + 1 < lines.size() ? Trim(lines[i + 1]) : std::string_view();
        const auto arrow = next.find(Texts::Arrow);
        if (arrow != std::string_view::npos && arrow > 0)
          out.append("`").append(next.substr(0, arrow)).append("`\r\n");
      }
      out.append(lines[i]).append("\r\n");
    }
    return out;
  }

  // The records expected of a text made of `parts` with their `titles` (empty ones skipped).
  std::vector<TRecordWant> Records(const std::string& text, const std::vector<std::string>& parts,
                                   const std::vector<std::string>& titles) const {
    std::vector<std::string> collected;
    for (const std::string& t : titles)
      if (!t.empty()) collected.push_back(t);
    if (!FPlain) return RecordsOf(text, collected);
    std::vector<TRecordWant> records;
    std::size_t offset = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      records.push_back({offset, parts[i].size(), titles[i]});
      offset += parts[i].size();
    }
    return records;
  }

  void Composites() {
    for (const TIndexCode& entry : FFeed.IndexCodes) {
      const TMarket& market = entry.Shanghai ? FFeed.Sh : FFeed.Sz;
      std::string templateBytes;
      if (IsFile(FFeed.TemplateIndex) && !Read(FFeed.TemplateIndex, templateBytes)) continue;
      std::vector<std::string> parts, titles;
      for (const TSectionRef& section : IndexSections(templateBytes)) {
        std::string rest = GbkToUtf8(section.TextFile);
        std::replace(rest.begin(), rest.end(), '\\', '/');
        if (!IsFile(FFeed.TemplateDrive + rest)) continue;
        parts.emplace_back();
        if (!Read(FFeed.TemplateDrive + rest, parts.back())) return;
        titles.push_back(section.Title);
      }
      const std::string text = Joined(parts, false);
      Published(market, entry.Code + ".txt", text);
      if (FFeed.MakeIndex) {
        FLogWant.push_back(Texts::GenerateStart + entry.Code + Texts::GenerateEnd);
        Index(market, entry.Code, Records(text, parts, titles));
      }
      ++FComposites;
    }
  }

  void Market(const TMarket& market, int want) {
    std::vector<std::string> codes;
    int waiting = 0;
    for (const std::string& name : ListFolder(market.Src)) {
      if (HasExtension(name, ".sub")) ++waiting;
      if (name.size() > 4 && HasExtension(name, ".F10")) {
        std::string code = name.substr(0, name.size() - 4);
        if (!(market.Shanghai && code == "000001")) codes.push_back(std::move(code));
      }
    }
    if (waiting > 0)
      Problem(market.Src + ": " + std::to_string(waiting) + " section files were not staged");
    std::sort(codes.begin(), codes.end(),
              [](const std::string& a, const std::string& b) { return UpperAscii(a) < UpperAscii(b); });
    if (want >= 0 && static_cast<int>(codes.size()) != want)
      Problem(market.Src + ": " + std::to_string(codes.size()) + " stocks, expected " +
              std::to_string(want));
    for (const std::string& code : codes) Stock(market, code);
  }

  void Stock(const TMarket& market, const std::string& code) {
    const std::string stage = market.Src + "/DATA/" + code;
    if (!IsFolder(stage)) {
      Problem(stage + ": the stock was not staged");
      return;
    }
    std::string original, staged;
    if (!Read(market.Src + "/" + code + ".F10", original) || !Read(stage + "/" + code + ".F10", staged))
      return;
    if (staged != original) Problem(stage + "/" + code + ".F10 differs from the delivered index");
    FLogWant.push_back(Texts::MergeStart + code + "...");
    std::vector<std::string> parts, titles;
    for (const TSectionRef& section : IndexSections(staged)) {
      const std::string path = stage + "/" + GbkToUtf8(section.TextFile);
      parts.emplace_back();
      if (!Read(path, parts.back())) return;
      titles.push_back(section.Title);
    }
    const std::string text = Joined(parts, true);
    Published(market, code + ".txt", text);
    if (FFeed.MakeIndex) {
      FLogWant.push_back(Texts::GenerateStart + code + Texts::GenerateEnd);
      Index(market, code, Records(text, parts, titles));
    }
    FLogWant.push_back(code + Texts::MergeDone);
    ++FStocks;
  }

  // The day's log files, oldest first, must hold exactly the expected messages.
  void Log() {
    std::vector<std::string> files;
    for (std::string& name : ListFolder(FFeed.Home))
      if (name.rfind("UniteLog", 0) == 0 && HasExtension(name, ".txt")) files.push_back(std::move(name));
    std::sort(files.begin(), files.end());
    std::vector<std::string> messages;
    std::string bytes;
    for (const std::string& name : files) {
      if (!Read(FFeed.Home + "/" + name, bytes)) return;
      for (const std::string_view line : SplitLines(bytes)) {
        const auto stamp = line.find("] ");
        messages.emplace_back(!line.empty() && line.front() == '[' && stamp != std::string_view::npos
                                  ? line.substr(stamp + 2)
                                  : line);
      }
    }
    const std::size_t common = std::min(messages.size(), FLogWant.size());
    for (std::size_t i = 0; i < common; ++i) {
      if (messages[i] != FLogWant[i]) {
        Problem("log line " + std::to_string(i + 1) + " is \"" + GbkToUtf8(messages[i]) +
                "\", expected \"" + GbkToUtf8(FLogWant[i]) + "\"");
        return;
      }
    }
    if (messages.size() > common)
      Problem("log has " + std::to_string(messages.size() - common) + " lines too many, from \"" +
              GbkToUtf8(messages[common]) + "\"");
    else if (FLogWant.size() > common)
      Problem("log lacks " + std::to_string(FLogWant.size() - common) + " lines, from \"" +
              GbkToUtf8(FLogWant[common]) + "\"");
  }

  TFeed FFeed;
  bool FPlain;
  std::vector<std::string> FProblems;
  std::vector<std::string> FLogWant;
  int FStocks = 0;
  int FComposites = 0;
  int FFiles = 0;
};

}  // namespace

int main(int argc, char** argv) {
  bool plain = false;
  int wantSh = -1, wantSz = -1;
  std::string feedDir;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      if (arg == "--plain") {
        plain = true;
      } else if ((arg == "--sh" || arg == "--sz") && i + 1 < argc) {
        (arg == "--sh" ? wantSh : wantSz) = std::stoi(argv[++i]);
      } else if (arg == "--help" || arg == "-h") {
        std::cout << kUsage;
        return 0;
      } else if (!arg.empty() && arg[0] != '-' && feedDir.empty()) {
        feedDir = arg;
      } else {
        std::cerr << "lorvane-benchcheck: unexpected argument " << arg << "\n" << kUsage;
        return 2;
      }
    }
    if (feedDir.empty()) {
      std::cerr << kUsage;
      return 2;
    }
    TChecker checker(ReadFeed(feedDir), plain);
    checker.Run(wantSh, wantSz);
    return checker.Report();
  } catch (const std::exception& e) {
    std::cerr << "lorvane-benchcheck: " << e.what() << "\n";
    return 2;
  }
}
