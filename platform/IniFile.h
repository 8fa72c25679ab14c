#pragma once
// A settings (INI) file in GBK with the Windows profile semantics: section and key names
// match without regard to case; a missing file, section or key reads as the default; each
// write goes to the file at once, creating file and section when missing, and leaves every
// other line of the file byte for byte as it was (the file is replaced atomically).

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class TPlatform;

using TNameValues = std::vector<std::pair<std::string, std::string>>;

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
  // section would mean something else (no mirrors at all) asks this.
  int ReadError() const { return FReadError; }
  // Throws EFailure "Unable to write to %s" (the file's path) when the write cannot be made.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, std::int32_t value);

 private:
  std::string Load();  // the file's bytes; empty when it cannot be read
  TPlatform& FPlatform;
  std::string FPath;
  int FReadError = 0;
};
