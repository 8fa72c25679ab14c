// libFuzzer target for the settings reader: any bytes as a settings file. Every read answers
// without crashing; a key read back is never longer than the file. A write of one key then
// changes at most one line of the file's text (the old line of that key) and adds what it
// must (the new line, and a section header when the section was missing), and that key then
// reads back as written. No key read holds a line break, and none has an empty value. A file
// refused for its encoding is never written.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FaultyPlatform.h"
#include "IniFile.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

struct TFuzzFolder {
  std::string Host;
  TFuzzFolder() {
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/lorvane-fuzz-XXXXXX"
                                                        : "/tmp/lorvane-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    Host = pattern;
  }
  ~TFuzzFolder() { rmdir(Host.c_str()); }
};

std::string ReadHost(const std::string& path) {
  std::string bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
    std::fclose(f);
  }
  return bytes;
}

bool HasBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TFuzzFolder folder;
  static const std::unique_ptr<TPlatform> real = NewSystemPlatform();
  static TFaultyPlatform fs(*real);

  const std::string host = folder.Host + "/SETTINGS.INI";
  const std::string old(reinterpret_cast<const char*>(data), size);
  if (FILE* f = std::fopen(host.c_str(), "wb")) {
    std::fwrite(old.data(), 1, old.size(), f);
    std::fclose(f);
  } else {
    std::abort();
  }

  TIniFile ini(fs, "Z:" + host);
  for (const char* section : {"OPTION", "DRIVES", "x"}) {
    for (const auto& [name, value] : ini.ReadSectionValues(section))
      Require(!value.empty() && !HasBreak(name) && !HasBreak(value));
  }
  Require(ini.ReadString("OPTION", "SRC", "").size() <= old.size());
  (void)ini.ReadInteger("OPTION", "TIME", 7);

  // The value comes from the input's last bytes, kept to what a write accepts.
  std::string value;
  for (std::size_t i = old.size() > 8 ? old.size() - 8 : 0; i < old.size(); ++i) {
    const char c = old[i];
    if (c > ' ' && c != '"' && c != '\'' && c != '\x7f') value.push_back(c);
  }
  // A file refused for its encoding reads as nothing, and a write leaves it as it was.
  if (ini.ReadError() == kErrInvalidData) {
    bool refused = false;
    try {
      ini.WriteString("OPTION", "SRC", value);
    } catch (const EFailure&) {
      refused = true;
    }
    Require(refused && ReadHost(host) == old && ini.ReadString("OPTION", "SRC", "?") == "?");
    std::remove(host.c_str());
    return 0;
  }
  ini.WriteString("OPTION", "SRC", value);
  const std::string now = ReadHost(host);
  Require(ini.ReadString("OPTION", "SRC", "?") == value);

  // The bytes that differ lie in one stretch: what it held before is at most part of one
  // line, and what it holds now brings the new line.
  std::size_t prefix = 0;
  while (prefix < old.size() && prefix < now.size() && old[prefix] == now[prefix]) ++prefix;
  std::size_t suffix = 0;
  while (suffix < old.size() - prefix && suffix < now.size() - prefix &&
         old[old.size() - 1 - suffix] == now[now.size() - 1 - suffix])
    ++suffix;
  const std::string removed = old.substr(prefix, old.size() - prefix - suffix);
  const std::string added = now.substr(prefix, now.size() - prefix - suffix);
  Require(!HasBreak(removed));
  Require(added.size() <= value.size() + 24);
  std::remove(host.c_str());
  return 0;
}
