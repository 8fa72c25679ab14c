#pragma once
// Index file images built by hand, field after field, so the tests never judge the index
// code by its own structures or its own writer. Every test folder builds its indexes here.

#include <cstdint>
#include <string>
#include <vector>

namespace indexbytes {

// `n` bytes of `v`, least significant first.
inline std::string Le(std::uint64_t v, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

// A text field of width `w`: the first w bytes, then zeros.
inline std::string Field(const std::string& text, std::size_t w) {
  std::string s = text.substr(0, w);
  return s + std::string(w - s.size(), '\0');
}

inline std::string Header(std::int16_t count, const std::string& magic = "VESPERIN",
                          int byte8 = 1, int byte9 = 1, const std::string& reserved =
                                                                std::string(4, '\0')) {
  return magic + static_cast<char>(byte8) + static_cast<char>(byte9) +
         Le(static_cast<std::uint16_t>(count), 2) + reserved;
}

// A record image; `check` < 0 puts the sum of the 255 bytes before it.
inline std::string Record(int date, int time, const std::string& title = "",
                          const std::string& textFile = "", int offset = 0, int length = 0,
                          const std::string& code = "", int kind = 4, int market = 0,
                          int check = -1) {
  std::string s;
  s += '\0';
  s += static_cast<char>(kind);
  s += static_cast<char>(market);
  s += Le(static_cast<std::uint32_t>(date), 4) + Le(static_cast<std::uint32_t>(time), 4);
  s += Field(title, 64) + Field(textFile, 80);
  s += Le(static_cast<std::uint32_t>(offset), 4) + Le(static_cast<std::uint32_t>(length), 4);
  s += Field(code, 36) + Field("", 56);
  unsigned sum = 0;
  for (unsigned char c : s) sum += c;
  s += static_cast<char>(check < 0 ? (sum & 0xFF) : check);
  return s;
}

// A record as a feed lists a section: its title and its text file, bytes as given (zero
// bytes included), cut at the field's width.
struct TListed {
  std::string Title;
  std::string TextFile;
};

// An index as a feed delivers it: a record of kind 4 dated `date` per section, check bytes
// summed.
inline std::string Listing(const std::vector<TListed>& sections, int date) {
  std::string s = Header(static_cast<std::int16_t>(sections.size()));
  for (const TListed& r : sections) s += Record(date, 0, r.Title, r.TextFile);
  return s;
}

// An index of bare records, `count` in its header whatever follows: title and text file,
// every other byte zero (no kind, no date, no check byte).
inline std::string Bare(std::int16_t count, const std::vector<TListed>& records) {
  std::string s = Header(count);
  for (const TListed& r : records) s += Record(0, 0, r.Title, r.TextFile, 0, 0, "", 0, 0, 0);
  return s;
}

}  // namespace indexbytes
