#pragma once
// What the floor program and the output checker share: where a generated feed keeps its
// folders (read from its settings file, as the program reads them) and a few whole-file
// operations in plain POSIX calls.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

struct TMarket {
  std::string Name;                  // "sh" or "sz", for messages
  bool Shanghai = false;
  std::uint8_t MarketByte = 0;       // 0 Shanghai, 2 Shenzhen
  std::string Src;                   // host paths
  std::string Dst;
  std::vector<std::string> Mirrors;  // in entry order
};

struct TIndexCode {
  bool Shanghai = false;
  std::string Code;
};

struct TFeed {
  std::string Home;                  // holds the settings file and the day's log
  bool MakeIndex = false;
  TMarket Sh, Sz;
  std::string TemplateIndex;         // host path of {Shanghai source}\000001.F10
  std::string TemplateDrive;         // host path of the drive of the Shanghai source root
  std::vector<TIndexCode> IndexCodes;
};

// Reads `feedDir`/home/LORVANE.INI. Throws std::runtime_error when it is missing or names a
// drive it does not map.
TFeed ReadFeed(const std::string& feedDir);

// One section record of an index file: its title and text file name (field texts).
struct TSectionRef {
  std::string Title;
  std::string TextFile;
};
// The records of index bytes as the header counts them (fewer when the bytes end early).
std::vector<TSectionRef> IndexSections(std::string_view indexBytes);

// Whole-file operations; each throws std::runtime_error naming the path on failure.
void ReadWhole(const std::string& path, std::string& out);     // replaces `out`
void AppendWhole(const std::string& path, std::string& out);   // appends to `out`
// open(O_TRUNC) + write + close; with `durable` the bytes go to a temporary file of the same
// folder that is synced and renamed over the target, and the folder is synced after.
void WriteWhole(const std::string& path, std::string_view bytes, bool durable);
// One line appended: open, write, close.
void AppendLine(const std::string& path, std::string_view line);
// The names in a folder (one readdir pass), "." and ".." left out.
std::vector<std::string> ListFolder(const std::string& dir);
bool IsFolder(const std::string& path);
bool IsFile(const std::string& path);

// The day's log file name as the program names it: "UniteLog" + yyyy-mm-dd + ".txt".
std::string DayLogName();
// Splits text into lines at CR LF, a lone CR or a lone LF; a zero byte ends the text.
std::vector<std::string_view> SplitLines(std::string_view text);
// True when `name` ends in `ext` (".sub", ".F10"), ASCII case ignored.
bool HasExtension(std::string_view name, std::string_view ext);

}  // namespace bench
