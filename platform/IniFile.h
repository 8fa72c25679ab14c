#pragma once
// A settings (INI) file in GBK with the Windows profile semantics: section and key names
// match without regard to case; a missing file, section or key reads as the default; each
// write goes to the file at once, creating file and section when missing, and leaves every
// other line of the file byte for byte as it was (the file is replaced atomically).
//
// Linux editors save in UTF-8. A file that starts with the UTF-8 byte order mark, or that
// names one of the program's Chinese sections only in UTF-8, is read as UTF-8 and written
// back as UTF-8 (with its mark when it had one). Such a file that is no valid UTF-8, or holds
// a character GBK cannot carry, or that names the program's sections in both encodings, is
// refused whole: it reads as empty with ReadError() set, and a write changes nothing.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class TPlatform;

using TNameValues = std::vector<std::pair<std::string, std::string>>;

// A line of a settings file that says something, for a check of what the file says: a
// section header (Key empty) or a key=value line, with the section it stands in.
struct TIniEntry {
  int Line = 0;         // from 1
  std::string Section;  // blanks around it removed
  std::string Key;      // blanks around it removed; empty for a section header
  std::string Value;    // blanks and matching quotes around it removed
};

class TIniFile {
 public:
  TIniFile(TPlatform& fs, std::string path);

  const std::string& FileName() const { return FPath; }
  // The key=value lines of a section in file order. A key with an empty value gives no
  // entry; a key that occurs twice gives one entry, with its first value.
  TNameValues ReadSectionValues(const std::string& section);
  // The value of a key (blanks around it removed), or `fallback` when the key is missing.
  // A key that is present with an empty value gives the empty text.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& fallback);
  // ProfileInt() of the value, `fallback` when missing.
  std::int32_t ReadInteger(const std::string& section, const std::string& key,
                           std::int32_t fallback);
  // The Windows code of the last read's failure: 0 when the file was read or does not exist.
  // A file that is there but cannot be read reads as empty; a caller to whom an empty
  // section would mean something else (no mirrors at all) asks this. A file refused for its
  // encoding gives kErrInvalidData.
  int ReadError() const { return FReadError; }
  // Why the last read failed (GBK): the I/O text of its code, or what is wrong with the
  // file's encoding; empty when it did not fail.
  const std::string& ReadErrorText() const { return FReadErrorText; }
  // Every section header and key=value line of the file, in order; none when the file
  // cannot be read (ReadError() tells).
  std::vector<TIniEntry> Entries();
  // Set by the last read: the file is valid UTF-8 that holds more than ASCII, yet is read as
  // GBK (no byte order mark, and no section of the program's spelt in UTF-8), so its Chinese
  // texts are read as other characters. The line of its first such text, 0 when not so.
  int Utf8ReadAsGbkLine() const { return FUtf8AsGbkLine; }
  // Throws EFailure "Unable to write to %s" (the file's path) when the write cannot be made.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, std::int32_t value);

 private:
  std::string Load();  // the file's bytes in GBK; empty when it cannot be read
  TPlatform& FPlatform;
  std::string FPath;
  int FReadError = 0;
  std::string FReadErrorText;
  int FUtf8AsGbkLine = 0;
};
