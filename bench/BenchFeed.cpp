#include "BenchFeed.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <stdexcept>

#include "Convert.h"
#include "Index.h"
#include "RunTexts.h"

namespace bench {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
  throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

// Closes a descriptor on every path, keeping errno of the failure being reported.
class TFd {
 public:
  explicit TFd(int fd) : FFd(fd) {}
  ~TFd() {
    if (FFd >= 0) {
      const int saved = errno;
      ::close(FFd);
      errno = saved;
    }
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return FFd; }
  // The close whose failure counts (a write can fail late on some file systems).
  bool Close() {
    const int fd = FFd;
    FFd = -1;
    return ::close(fd) == 0;
  }

 private:
  int FFd;
};

void WriteFd(int fd, std::string_view bytes, const std::string& path) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("cannot write", path);
    }
    done += static_cast<std::size_t>(n);
  }
}

std::string Folder(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

using TSection = std::vector<std::pair<std::string, std::string>>;  // key=value in file order

std::map<std::string, TSection> ReadIni(const std::string& path) {
  std::string bytes;
  ReadWhole(path, bytes);
  std::map<std::string, TSection> sections;
  TSection* current = nullptr;
  for (const std::string_view raw : SplitLines(bytes)) {
    const std::string_view line = Trim(raw);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      current = &sections[UpperAscii(Trim(line.substr(1, line.size() - 2)))];
      continue;
    }
    const auto eq = line.find('=');
    if (!current || eq == std::string_view::npos) continue;
    const std::string key(Trim(line.substr(0, eq)));
    const std::string value(Trim(line.substr(eq + 1)));
    if (value.empty()) continue;
    bool seen = false;
    for (const auto& [k, v] : *current) seen = seen || SameText(k, key);
    if (!seen) current->emplace_back(key, value);
  }
  return sections;
}

std::string Value(const TSection& section, std::string_view key) {
  for (const auto& [k, v] : section)
    if (SameText(k, key)) return v;
  return {};
}

// A drive path of the settings ("D:\sh\src") as a host path, through [DRIVES]; Z: is "/".
std::string HostPath(const std::map<char, std::string>& drives, const std::string& path) {
  if (path.size() < 2 || path[1] != ':')
    throw std::runtime_error("not a drive path in the settings: " + GbkToUtf8(path));
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
  std::string host;
  if (letter != 'Z') {
    const auto it = drives.find(letter);
    if (it == drives.end())
      throw std::runtime_error(std::string("drive ") + letter + ": is not mapped in the settings");
    host = it->second;
  }
  std::string rest = GbkToUtf8(path.substr(2));
  for (char& c : rest)
    if (c == '\\') c = '/';
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  if (!rest.empty() && rest.front() != '/') rest.insert(rest.begin(), '/');
  return host + rest;
}

}  // namespace

TFeed ReadFeed(const std::string& feedDir) {
  TFeed feed;
  feed.Home = feedDir + "/home";
  const auto ini = ReadIni(feed.Home + "/LORVANE.INI");
  const auto section = [&ini](const std::string& name) -> const TSection& {
    static const TSection none;
    const auto it = ini.find(UpperAscii(name));
    return it == ini.end() ? none : it->second;
  };
  std::map<char, std::string> drives;
  for (const auto& [key, value] : section(Texts::SectionDrives))
    if (key.size() == 1)
      drives[static_cast<char>(std::toupper(static_cast<unsigned char>(key[0])))] = GbkToUtf8(value);

  const TSection& option = section(Texts::SectionOption);
  feed.MakeIndex = ProfileInt(Value(option, "INDEX"), 0) != 0;
  feed.Sh = {"sh", true, 0, HostPath(drives, Value(option, "SRC")),
             HostPath(drives, Value(option, "DES")), {}};
  feed.Sz = {"sz", false, 2, HostPath(drives, Value(option, "SZSRC")),
             HostPath(drives, Value(option, "SZDES")), {}};
  for (const auto& [key, value] : section(Texts::SectionMirrors)) {
    if (key.find("SH") != std::string::npos) feed.Sh.Mirrors.push_back(HostPath(drives, value));
    if (key.find("SZ") != std::string::npos) feed.Sz.Mirrors.push_back(HostPath(drives, value));
  }
  feed.TemplateIndex = feed.Sh.Src + "/000001.F10";
  feed.TemplateDrive = HostPath(drives, Value(option, "SRC").substr(0, 2));
  for (const auto& [key, value] : section(Texts::SectionIndexCodes)) {
    if (key.find("SH") != std::string::npos)
      feed.IndexCodes.push_back({true, value});
    else if (key.find("SZ") != std::string::npos)
      feed.IndexCodes.push_back({false, value});
  }
  return feed;
}

std::vector<TSectionRef> IndexSections(std::string_view indexBytes) {
  std::vector<TSectionRef> sections;
  if (indexBytes.size() < sizeof(TIndexHeader)) return sections;
  TIndexHeader header;
  std::memcpy(&header, indexBytes.data(), sizeof header);
  for (int i = 0; i < header.Count; ++i) {
    const std::size_t at = sizeof(TIndexHeader) + static_cast<std::size_t>(i) * sizeof(TIndexRecord);
    if (at + sizeof(TIndexRecord) > indexBytes.size()) break;
    TIndexRecord r;
    std::memcpy(&r, indexBytes.data() + at, sizeof r);
    sections.push_back({FieldText(r.Title), FieldText(r.TextFile)});
  }
  return sections;
}

void ReadWhole(const std::string& path, std::string& out) {
  out.clear();
  AppendWhole(path, out);
}

void AppendWhole(const std::string& path, std::string& out) {
  TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) Fail("cannot open", path);
  struct stat st{};
  if (::fstat(fd.Get(), &st) != 0) Fail("cannot stat", path);
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (start + got < out.size()) {
    const ssize_t n = ::read(fd.Get(), out.data() + start + got, out.size() - start - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("cannot read", path);
    }
    if (n == 0) break;  // shrank meanwhile
    got += static_cast<std::size_t>(n);
  }
  out.resize(start + got);
}

void WriteWhole(const std::string& path, std::string_view bytes, bool durable) {
  if (!durable) {
    TFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.Get() < 0) Fail("cannot create", path);
    WriteFd(fd.Get(), bytes, path);
    if (!fd.Close()) Fail("cannot close", path);
    return;
  }
  const std::string folder = Folder(path);
  std::string temp = folder + "/.floor-XXXXXX";
  TFd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.Get() < 0) Fail("cannot create a temporary file in", folder);
  try {
    WriteFd(fd.Get(), bytes, temp);
    if (::fsync(fd.Get()) != 0) Fail("cannot sync", temp);
    if (!fd.Close()) Fail("cannot close", temp);
    if (::rename(temp.c_str(), path.c_str()) != 0) Fail("cannot rename over", path);
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
  TFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() < 0 || ::fsync(dir.Get()) != 0) Fail("cannot sync", folder);
}

void AppendLine(const std::string& path, std::string_view line) {
  TFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (fd.Get() < 0) Fail("cannot open", path);
  WriteFd(fd.Get(), line, path);
  if (!fd.Close()) Fail("cannot close", path);
}

std::vector<std::string> ListFolder(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) Fail("cannot list", dir);
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(d)) {
    const std::string_view name = e->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(d);
  return names;
}

bool IsFolder(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string DayLogName() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char name[64];
  std::strftime(name, sizeof name, "UniteLog%Y-%m-%d.txt", &local);
  return name;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  if (const auto zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = start;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    lines.push_back(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r') {
      ++end;
      if (end < text.size() && text[end] == '\n') ++end;
    } else if (end < text.size()) {
      ++end;  // a lone LF
    }
    start = end;
  }
  return lines;
}

bool HasExtension(std::string_view name, std::string_view ext) {
  return name.size() >= ext.size() && SameText(name.substr(name.size() - ext.size()), ext);
}

}  // namespace bench
