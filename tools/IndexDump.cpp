// lorvane-index: shows what F10 index files hold, for people checking what a feed delivered
// or what a run generated. It only reads: the files are opened read-only with plain stream
// I/O, never through TIndex, whose release would write the file back.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "Convert.h"
#include "Index.h"

namespace {

const char* const kUsage =
    "usage: lorvane-index FILE...\n"
    "       lorvane-index --help | --version\n"
    "Prints each F10 index file (host paths) in UTF-8: the header, then one row per record.\n"
    "Records the program would not load (beyond the header's count) are listed as ignored.\n"
    "Nothing is changed. Exit status: 0 all files read, 1 a file could not be read,\n"
    "2 wrong usage.\n";

bool ValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t more = 0;
    if (c < 0x80) more = 0;
    else if (c >= 0xC2 && c <= 0xDF) more = 1;
    else if (c >= 0xE0 && c <= 0xEF) more = 2;
    else if (c >= 0xF0 && c <= 0xF4) more = 3;
    else return false;
    if (i + more >= s.size() && more > 0) return false;
    for (std::size_t k = 1; k <= more; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += more + 1;
  }
  return true;
}

void AppendHex(std::string& out, unsigned char c) {
  static const char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[c >> 4];
  out += kDigits[c & 0x0F];
}

// The bytes of a field up to its last non-zero byte (the zero fill is not shown), quoted:
// printable ASCII as it is, GBK double-byte characters in UTF-8, everything else (zero
// bytes inside the text, control bytes, a lead byte cut off at the field's end) as \xNN,
// so a damaged file can never put raw bytes on the terminal.
std::string Shown(const char* field, std::size_t width) {
  std::size_t end = width;
  while (end > 0 && field[end - 1] == 0) --end;
  std::string out = "\"";
  std::size_t i = 0;
  while (i < end) {
    const auto c = static_cast<unsigned char>(field[i]);
    if (c >= 0x20 && c < 0x7F) {
      if (c == '"' || c == '\\') out += '\\';
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (c >= 0x81 && c <= 0xFE && i + 1 < end) {
      const auto t = static_cast<unsigned char>(field[i + 1]);
      if (t >= 0x40 && t <= 0xFE && t != 0x7F) {
        const std::string pair(field + i, 2);
        const std::string utf8 = GbkToUtf8(pair);
        if (utf8 != pair && !utf8.empty() && ValidUtf8(utf8)) {
          out += utf8;
          i += 2;
          continue;
        }
      }
    }
    AppendHex(out, c);
    ++i;
  }
  out += "\"";
  return out;
}

template <std::size_t W>
std::string Shown(const char (&field)[W]) {
  return Shown(field, W);
}

std::string Hex2(unsigned v) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "0x%02x", v & 0xFFu);
  return buffer;
}

void PrintRecord(std::ostream& out, long index, const TIndexRecord& r, bool ignored) {
  const std::uint8_t check = RecordCheck(r);
  const std::int32_t date = r.Date, time = r.Time, offset = r.TextOffset,
                     length = r.TextLength;
  out << (ignored ? "  ~" : "  #") << index << "  date " << date << "  time " << time
      << "  market " << unsigned{r.Market} << "  kind " << unsigned{r.Kind} << "  byte0 "
      << unsigned{r.Byte0} << "  title " << Shown(r.Title) << "  file " << Shown(r.TextFile)
      << "  offset " << offset << "  length " << length << "  code " << Shown(r.Code)
      << "  extra " << Shown(r.Extra) << "  check " << Hex2(r.Check);
  if (check == r.Check)
    out << " ok";
  else
    out << " MISMATCH (sum gives " << Hex2(check) << ")";
  if (ignored) out << "  (beyond count: ignored by the load)";
  out << "\n";
}

// Prints one file; false when it could not be read.
bool Dump(const std::string& path, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    err << "lorvane-index: " << path << ": is a folder\n";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    err << "lorvane-index: " << path << ": " << std::strerror(errno) << "\n";
    return false;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    err << "lorvane-index: " << path << ": read error\n";
    return false;
  }

  out << path << ": " << bytes.size() << " bytes\n";
  if (bytes.size() < sizeof(TIndexHeader)) {
    out << "  !! shorter than the 16-byte header: the program fails to load it "
           "(\"Stream read error\")\n";
    return true;
  }
  TIndexHeader header;
  std::memcpy(&header, bytes.data(), sizeof header);
  const std::size_t capacity = (bytes.size() - sizeof header) / sizeof(TIndexRecord);
  const std::size_t trailing = (bytes.size() - sizeof header) % sizeof(TIndexRecord);
  const int count = header.Count;
  out << "  header: magic " << Shown(header.Magic, sizeof header.Magic) << "  byte8 "
      << unsigned{header.Byte8} << "  byte9 " << unsigned{header.Byte9} << "  count " << count
      << "  capacity " << capacity << "  reserved " << Hex2(header.Reserved[0]) << " "
      << Hex2(header.Reserved[1]) << " " << Hex2(header.Reserved[2]) << " "
      << Hex2(header.Reserved[3]) << "\n";

  std::size_t loaded = 0;
  if (count < 0) {
    out << "  !! count " << count << " is negative: no record is loaded\n";
  } else if (static_cast<std::size_t>(count) > capacity) {
    out << "  !! count " << count << " is beyond the file's capacity of " << capacity
        << " records: " << capacity << " are loaded\n";
    loaded = capacity;
  } else {
    loaded = static_cast<std::size_t>(count);
  }
  if (capacity > loaded)
    out << "  !! " << capacity - loaded
        << " whole records after the loaded ones are ignored and dropped by the next save\n";
  if (trailing != 0)
    out << "  !! " << trailing
        << " trailing bytes after the last whole record are ignored and dropped by the "
           "next save\n";

  for (std::size_t i = 0; i < capacity; ++i) {
    TIndexRecord record;
    std::memcpy(&record, bytes.data() + sizeof header + i * sizeof record, sizeof record);
    PrintRecord(out, static_cast<long>(i), record, i >= loaded);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  bool onlyFiles = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!onlyFiles && (arg == "--help" || arg == "-h")) {
      std::cout << kUsage;
      return 0;
    }
    if (!onlyFiles && arg == "--version") {
      std::cout << "lorvane-index " << LORVANE_VERSION << "\n";
      return 0;
    }
    if (!onlyFiles && arg == "--") {
      onlyFiles = true;
      continue;
    }
    if (!onlyFiles && arg.size() > 1 && arg[0] == '-') {
      std::cerr << "lorvane-index: unknown option " << arg << "\n" << kUsage;
      return 2;
    }
    files.push_back(arg);
  }
  if (files.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  bool allRead = true;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (i > 0) std::cout << "\n";
    if (!Dump(files[i], std::cout, std::cerr)) allRead = false;
  }
  std::cout.flush();
  return allRead ? 0 : 1;
}
