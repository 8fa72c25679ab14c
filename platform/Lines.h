#pragma once
// Text files as lists of lines. The lines of a list live in one byte buffer, so loading a
// file of many lines costs one allocation, not one per line.
//
// Loading splits at CR LF, at a lone CR and at a lone LF; a last line without a line end
// still counts; an empty file gives no lines; loading stops at the first zero byte.
// Saving writes every line followed by CR LF, the last one included.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class TPlatform;

class TLines {
 public:
  // The lines of `bytes` by the splitting rule above.
  static TLines Parse(std::string_view bytes);
  // The same, the lines living in `bytes` itself: no copy of a file just read.
  static TLines Adopt(std::string bytes);

  std::size_t Count() const { return FLines.size(); }
  bool Empty() const { return FLines.empty(); }
  // Line i (from 0), valid until the list is next changed.
  std::string_view operator[](std::size_t i) const {
    return std::string_view(FBuffer).substr(FLines[i].Offset, FLines[i].Length);
  }
  // Where line i begins in Bytes(). Lines lie in the buffer in their order, one after the
  // other (each is added at its end), with whatever line ends a parsed text had between them.
  std::size_t Offset(std::size_t i) const { return FLines[i].Offset; }
  std::string_view Bytes() const { return FBuffer; }
  // Appends one line (it must not contain CR or LF to stay one line in a file).
  void Add(std::string_view line);
  // Appends every line of `other`, in order.
  void AddAll(const TLines& other);
  void Clear();
  // Sum over the lines of their byte length plus 2: the size of the saved file.
  std::size_t JoinedLength() const { return FLineBytes + 2 * FLines.size(); }
  // The bytes of the saved file: every line followed by CR LF.
  std::string Text() const;

 private:
  struct TSpan {
    std::size_t Offset;
    std::size_t Length;
  };
  // Cuts FBuffer into lines (FLines empty before).
  void Split();

  std::string FBuffer;   // the lines' bytes, each span pointing into it
  std::vector<TSpan> FLines;
  std::size_t FLineBytes = 0;  // sum of the lines' lengths
};

// Loads the lines of a file opened for reading while others may read (OpenShared).
// Throws EFailure.
TLines LoadLines(TPlatform& fs, const std::string& path);
// Saves lines to a file, replacing it atomically. Throws EFailure.
void SaveLines(TPlatform& fs, const std::string& path, const TLines& lines);
