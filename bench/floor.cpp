// lorvane-floor: the file work of one whole run over a generated feed, done the plainest way
// POSIX allows, as the yardstick a run is timed against. For every waiting stock, in code
// order, Shanghai then Shenzhen: create its stage folder, rename its section files into it,
// copy its index there, read the sections, write their bytes as one text to the target and
// each mirror, write the staging index back, write an index of one record per section to the
// target and each mirror, and append three log lines, each with its own open and close. The
// composites of the market-index codes come first. One readdir per source folder.
//
// It leaves out what only the program needs: title lines (a few bytes per section), the line
// lists, the case-insensitive name lookup, share-mode locks, retries. Files are written with
// open(O_TRUNC)/write/close; --durable writes each one to a synced temporary file renamed
// over the target and syncs the folder, which prices the sync of atomic replacement.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchFeed.h"
#include "Convert.h"
#include "Index.h"
#include "RunTexts.h"

namespace {

using namespace bench;

constexpr char kUsage[] =
    "usage: lorvane-floor [--durable] FEED_DIR\n"
    "Does the bare file work of one run over a feed written by lorvane-feedgen.\n"
    "  --durable   sync every written file and its folder (temporary file + rename)\n";

struct TPart {
  std::string Title;
  std::size_t Offset = 0;
  std::size_t Length = 0;
};

template <std::size_t W>
void SetField(char (&field)[W], std::string_view text) {
  std::memset(field, 0, W);
  std::memcpy(field, text.data(), std::min(W, text.size()));
}

class TFloor {
 public:
  TFloor(TFeed feed, bool durable) : FFeed(std::move(feed)), FDurable(durable) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    FDate = (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
  }

  void Run() {
    Composites();
    Market(FFeed.Sh);
    Market(FFeed.Sz);
  }

  int StockCount() const { return FStocks; }
  int CompositeCount() const { return FComposites; }

 private:
  void Log(const std::string& message) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[40];
    std::strftime(stamp, sizeof stamp, "[%Y/%m/%d %H:%M:%S] ", &local);
    FLine.assign(stamp).append(message).append("\r\n");
    AppendLine(FFeed.Home + "/" + DayLogName(), FLine);
  }

  void Write(const std::string& path, std::string_view bytes) { WriteWhole(path, bytes, FDurable); }

  // The text to the target root and every mirror of its market.
  void Publish(const TMarket& market, const std::string& name, std::string_view bytes) {
    Write(market.Dst + "/" + name, bytes);
    for (const std::string& mirror : market.Mirrors) Write(mirror + "/" + name, bytes);
  }

  // One record per part, tiling the text, as the program's generated index holds them.
  void PublishIndex(const TMarket& market, const std::string& code) {
    const std::string name = code + ".F10";
    if (FParts.empty()) {
      ::unlink((market.Dst + "/" + name).c_str());
      return;
    }
    TIndexHeader header = DefaultIndexHeader();
    header.Count = static_cast<std::int16_t>(FParts.size());
    FIndexOut.assign(reinterpret_cast<const char*>(&header), sizeof header);
    std::string codeText(1, static_cast<char>(market.MarketByte));
    if (code.size() > 4) codeText += code.substr(0, code.size() - 4);
    for (const TPart& part : FParts) {
      TIndexRecord r;
      std::memset(&r, 0, sizeof r);
      r.Kind = 4;
      r.Market = market.MarketByte;
      r.Date = FDate;
      SetField(r.Title, part.Title);
      SetField(r.TextFile, code + ".txt");
      r.TextOffset = static_cast<std::int32_t>(part.Offset);
      r.TextLength = static_cast<std::int32_t>(part.Length);
      SetField(r.Code, codeText);
      r.Check = RecordCheck(r);
      FIndexOut.append(reinterpret_cast<const char*>(&r), sizeof r);
    }
    Publish(market, name, FIndexOut);
  }

  void Composites() {
    for (const TIndexCode& entry : FFeed.IndexCodes) {
      const TMarket& market = entry.Shanghai ? FFeed.Sh : FFeed.Sz;
      const bool haveTemplate = IsFile(FFeed.TemplateIndex);
      FIndexIn.clear();
      if (haveTemplate) ReadWhole(FFeed.TemplateIndex, FIndexIn);
      FText.clear();
      FParts.clear();
      for (const TSectionRef& section : IndexSections(FIndexIn)) {
        std::string rest = GbkToUtf8(section.TextFile);
        for (char& c : rest)
          if (c == '\\') c = '/';
        const std::string path = FFeed.TemplateDrive + rest;
        if (!IsFile(path)) continue;
        const std::size_t start = FText.size();
        AppendWhole(path, FText);
        FParts.push_back({section.Title, start, FText.size() - start});
      }
      Publish(market, entry.Code + ".txt", FText);
      if (FFeed.MakeIndex) {
        Log(Texts::GenerateStart + entry.Code + Texts::GenerateEnd);
        PublishIndex(market, entry.Code);
      }
      if (haveTemplate) Write(FFeed.TemplateIndex, FIndexIn);
      ++FComposites;
    }
  }

  void Market(const TMarket& market) {
    const std::string data = market.Src + "/DATA";
    MakeFolder(data);
    // One pass over the folder answers every question of the market.
    std::map<std::string, std::vector<std::string>> sections;  // code -> section file names
    std::map<std::string, std::string> indexes;                // code -> index file name
    for (std::string& name : ListFolder(market.Src)) {
      if (name.size() > 5 && HasExtension(name, ".sub"))
        sections[UpperAscii(name.substr(0, name.size() - 5))].push_back(std::move(name));
      else if (name.size() > 4 && HasExtension(name, ".F10"))
        indexes[UpperAscii(name.substr(0, name.size() - 4))] = std::move(name);
    }
    for (auto& [key, names] : sections) {
      const auto index = indexes.find(key);
      if (index == indexes.end()) continue;
      std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return UpperAscii(a) < UpperAscii(b);
      });
      Stock(market, data, index->second, names);
    }
  }

  void Stock(const TMarket& market, const std::string& data, const std::string& indexName,
             const std::vector<std::string>& names) {
    const std::string code = indexName.substr(0, indexName.size() - 4);
    const std::string stage = data + "/" + code;
    MakeFolder(stage);
    for (const std::string& name : names) {
      const std::string from = market.Src + "/" + name;
      const std::string to = stage + "/" + name;
      if (::rename(from.c_str(), to.c_str()) != 0)
        throw std::runtime_error("cannot move " + from + ": " + std::strerror(errno));
    }
    const std::string stagingIndex = stage + "/" + code + ".F10";
    ReadWhole(market.Src + "/" + indexName, FIndexIn);
    Write(stagingIndex, FIndexIn);
    if (market.Shanghai && code == "000001") return;  // the composites' template

    Log(Texts::MergeStart + code + "...");
    FText.clear();
    FParts.clear();
    for (const TSectionRef& section : IndexSections(FIndexIn)) {
      const std::string path = stage + "/" + GbkToUtf8(section.TextFile);
      if (!IsFile(path)) continue;
      const std::size_t start = FText.size();
      AppendWhole(path, FText);
      FParts.push_back({section.Title, start, FText.size() - start});
    }
    Publish(market, code + ".txt", FText);
    Write(stagingIndex, FIndexIn);  // the staging index goes back as it was read
    if (FFeed.MakeIndex) {
      Log(Texts::GenerateStart + code + Texts::GenerateEnd);
      PublishIndex(market, code);
    }
    Log(code + Texts::MergeDone);
    ++FStocks;
  }

  static void MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
      throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
  }

  TFeed FFeed;
  bool FDurable;
  std::int32_t FDate = 0;
  std::string FLine, FText, FIndexIn, FIndexOut;  // reused from stock to stock
  std::vector<TPart> FParts;
  int FStocks = 0;
  int FComposites = 0;
};

}  // namespace

int main(int argc, char** argv) {
  bool durable = false;
  std::string feedDir;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--durable") {
      durable = true;
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (!arg.empty() && arg[0] != '-' && feedDir.empty()) {
      feedDir = arg;
    } else {
      std::cerr << "lorvane-floor: unexpected argument " << arg << "\n" << kUsage;
      return 2;
    }
  }
  if (feedDir.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  try {
    const auto start = std::chrono::steady_clock::now();
    TFloor floor(ReadFeed(feedDir), durable);
    floor.Run();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("lorvane-floor: %d stocks, %d composites in %.3f s%s\n", floor.StockCount(),
                floor.CompositeCount(), took.count(), durable ? " (durable)" : "");
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "lorvane-floor: " << e.what() << "\n";
    return 1;
  }
}
