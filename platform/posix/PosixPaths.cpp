#include "PosixPaths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "Convert.h"
#include "Failure.h"
#include "FolderNames.h"
#include "Platform.h"

namespace posixpaths {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsAscii(std::string_view s) {
  for (const char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// One character of a GBK text: two bytes for a lead byte with a byte after it.
std::size_t CharLength(std::string_view s, std::size_t i) {
  return IsGbkLead(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
}

struct TDirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

}  // namespace

bool IsBadNameByte(unsigned char c, bool wildcardsAllowed) {
  if (c < 0x20 || IsSeparator(static_cast<char>(c))) return true;
  switch (c) {
    case '<': case '>': case ':': case '"': case '|': return true;
    case '*': case '?': return !wildcardsAllowed;
    default: return false;
  }
}

TEntryKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return TEntryKind::File;
  if (S_ISDIR(mode)) return TEntryKind::Folder;
  return TEntryKind::Other;
}

std::string JoinHost(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder == "/") return "/" + name;
  return folder + "/" + name;
}

TParsedPath ParseDrivePath(const std::string& path, const std::map<char, std::string>& drives,
                           bool lastIsPattern) {
  TParsedPath out;
  std::size_t at = 0;
  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':') {
    const char letter = static_cast<char>(path[0] & ~0x20);
    if (letter == 'Z') {
      out.Root = "";
    } else {
      const auto it = drives.find(letter);
      if (it == drives.end()) {
        out.Error = kErrPathNotFound;
        return out;
      }
      out.Root = it->second;
    }
    at = 2;
    // "D:name" is relative to a current folder of D:, which this program does not have.
    if (at < path.size() && !IsSeparator(path[at])) {
      out.Error = kErrPathNotFound;
      return out;
    }
  } else if (!path.empty() && IsSeparator(path[0]) && !(path.size() > 1 && IsSeparator(path[1]))) {
    out.Root = "";  // rooted without a drive: on Z:
  } else {
    out.Error = kErrPathNotFound;  // empty, relative, or a network name
    return out;
  }

  // Split at separators that are not the second byte of a GBK character, fold "." and "..".
  std::vector<std::string> parts;
  parts.reserve(8);
  std::size_t begin = at;
  auto flush = [&](std::size_t end) {
    const std::string_view part(path.data() + begin, end - begin);
    if (part.empty() || part == ".") {
    } else if (part == "..") {
      if (!parts.empty()) parts.pop_back();  // ".." above the root stays at the root
    } else {
      parts.emplace_back(part);
    }
  };
  for (std::size_t i = at; i < path.size();) {
    const std::size_t n = CharLength(path, i);
    if (n == 1 && IsSeparator(path[i])) {
      flush(i);
      begin = i + 1;
    }
    i += n;
  }
  flush(path.size());

  for (std::size_t k = 0; k < parts.size(); ++k) {
    const bool wild = lastIsPattern && k + 1 == parts.size();
    const std::string& p = parts[k];
    for (std::size_t i = 0; i < p.size();) {
      const std::size_t n = CharLength(p, i);
      if (n == 1 && IsBadNameByte(static_cast<unsigned char>(p[i]), wild)) {
        out.Error = kErrInvalidName;
        return out;
      }
      i += n;
    }
  }
  out.Parts = std::move(parts);
  return out;
}

void TDriveTable::Set(char letter, const std::string& hostRoot) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Y') return;
  std::lock_guard<std::mutex> guard(FLock);
  if (hostRoot.empty() || hostRoot[0] != '/') {
    FDrives.erase(letter);
    if (!hostRoot.empty() && FRefused.find(letter) == std::string::npos) FRefused += letter;
    return;
  }
  const std::string root = NormalHostPath(hostRoot);
  FDrives[letter] = root == "/" ? std::string() : root;
}

std::string TDriveTable::Refused() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FRefused;
}

TParsedPath TDriveTable::Parse(const std::string& path, bool lastIsPattern) const {
  std::lock_guard<std::mutex> guard(FLock);
  return ParseDrivePath(path, FDrives, lastIsPattern);
}

std::string TDriveTable::DrivePath(const std::string& hostPath) const {
  const std::string host = NormalHostPath(hostPath);
  char letter = 'Z';
  std::size_t rootLength = 0;
  {
    std::lock_guard<std::mutex> guard(FLock);
    for (const auto& [l, root] : FDrives) {
      const bool matches = root.empty() || host == root ||
                           (host.size() > root.size() && host.compare(0, root.size(), root) == 0 &&
                            host[root.size()] == '/');
      if (matches && (root.size() > rootLength || (letter == 'Z' && root.size() >= rootLength))) {
        letter = l;
        rootLength = root.size();
      }
    }
  }
  std::string rest = host.substr(rootLength);
  if (rest.empty()) rest = "/";
  std::replace(rest.begin(), rest.end(), '/', '\\');
  return std::string(1, letter) + ":" + Utf8ToGbk(rest);
}

std::string SpellingIn(DIR* dir, const std::string& name) {
  const bool asciiName = IsAscii(name);
  std::string exact, folded;
  while (const dirent* e = readdir(dir)) {
    const std::string_view entry = e->d_name;
    if (entry == "." || entry == "..") continue;
    if (asciiName && !IsAscii(entry)) continue;  // cannot be equal, not even folded
    const std::string gbk = asciiName ? std::string(entry) : Utf8ToGbk(entry);
    if (gbk.size() != name.size()) continue;
    if (gbk == name) {
      if (exact.empty() || entry < exact) exact = entry;
    } else if (SameText(gbk, name)) {
      if (folded.empty() || entry < folded) folded = entry;
    }
  }
  return exact.empty() ? folded : exact;
}

std::string FindEntry(const std::string& folder, const std::string& name) {
  const std::string host = GbkToUtf8(name);
  struct stat st{};
  if (lstat(JoinHost(folder, host).c_str(), &st) == 0) return host;

  std::unique_ptr<DIR, TDirCloser> dir(opendir(folder.empty() ? "/" : folder.c_str()));
  if (!dir) return {};
  return SpellingIn(dir.get(), name);
}

namespace {

// Fills in what the entry found at r.Host is; a link is looked at, then followed.
void StatFound(TResolved& r) {
  struct stat st{};
  if (lstat(r.Host.c_str(), &st) != 0) return;
  r.Kind = KindOfMode(st.st_mode);
  if (S_ISLNK(st.st_mode) && stat(r.Host.c_str(), &st) != 0) return;  // dangling
  r.Exists = true;
  r.IsDir = S_ISDIR(st.st_mode);
}

// The entry FindEntry would choose for `name` in `folder` when none is named exactly so.
std::string FindOtherEntry(const std::string& folder, const struct stat& folderStat,
                           const std::string& name, TFolderNames* names) {
  // An ASCII name without letters has no other spelling, and only ASCII entries could
  // equal it: nothing but the exact name can match.
  if (IsAscii(name)) {
    bool letters = false;
    for (const char c : name) letters = letters || IsAsciiLetter(c);
    if (!letters) return {};
  }
  std::string found;
  if (names && names->FindOther(folder, folderStat, name, found)) return found;
  return FindEntry(folder, name);
}

// The host name of `name` in `folder` (`folderStat` its stat), as FindEntry chooses it.
std::string FindIn(const std::string& folder, const struct stat& folderStat, const std::string& name,
                   TFolderNames* names) {
  const std::string host = GbkToUtf8(name);
  struct stat st{};
  if (lstat(JoinHost(folder, host).c_str(), &st) == 0) return host;
  return FindOtherEntry(folder, folderStat, name, names);
}

// Every component as written, the usual case, taken as it stands instead of being looked up
// component by component. False when some component is not there as written (or is no folder), for the
// caller to look the path up component by component.
bool LookupAsWritten(const TParsedPath& parsed, bool upToParent, TFolderNames* names, TResolved& r) {
  std::string host = AsWritten(parsed);
  std::string given = GbkToUtf8(parsed.Parts.back());
  // The folder is the path but its last component (and its slash, unless that is the root's).
  const std::size_t folderLength = host.size() - given.size() - 1;
  struct stat st{};
  if (!upToParent) {
    if (lstat(host.c_str(), &st) == 0) {
      // The folders above were walked through by the kernel: they are folders.
      r.Parent = folderLength == 0 ? std::string("/") : host.substr(0, folderLength);
      r.ParentExists = true;
      r.Name = std::move(given);
      r.Host = std::move(host);
      r.Present = true;
      r.Kind = KindOfMode(st.st_mode);
      if (S_ISLNK(st.st_mode) && stat(r.Host.c_str(), &st) != 0) return true;  // dangling
      r.Exists = true;
      r.IsDir = S_ISDIR(st.st_mode);
      return true;
    }
    if (errno != ENOENT) return false;
  }
  const std::string folder = host.substr(0, folderLength);
  const std::string parent = folder.empty() ? "/" : folder;
  if (stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  r.Parent = parent;
  r.ParentExists = true;
  if (upToParent) {
    r.Name = parsed.Parts.back();
    r.Host = host;
    return true;
  }
  const std::string other = FindOtherEntry(folder, st, parsed.Parts.back(), names);
  r.Present = !other.empty();
  r.Name = r.Present ? other : given;
  r.Host = JoinHost(folder, r.Name);
  if (r.Present) StatFound(r);
  return true;
}

}  // namespace

std::string AsWritten(const TParsedPath& parsed) {
  std::size_t length = parsed.Root.size();
  for (const std::string& part : parsed.Parts) length += part.size() + 1;
  std::string host;
  host.reserve(length + 16);
  host = parsed.Root;
  for (const std::string& part : parsed.Parts) {
    if (host.empty() || host.back() != '/') host += '/';
    if (IsAscii(part)) host += part;
    else host += GbkToUtf8(part);
  }
  return host.empty() ? "/" : host;
}

TResolved Lookup(const TParsedPath& parsed, bool upToParent, TFolderNames* names) {
  TResolved r;
  if (!parsed.Parts.empty() && LookupAsWritten(parsed, upToParent, names, r)) return r;
  r = TResolved();
  std::string folder = parsed.Root;
  struct stat st{};
  bool folderExists = stat(folder.empty() ? "/" : folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  const std::size_t count = parsed.Parts.size();
  if (count == 0) {
    r.Host = folder.empty() ? "/" : folder;
    r.Parent = r.Host;
    r.ParentExists = folderExists;
    r.Present = r.Exists = r.IsDir = folderExists;
    r.Kind = folderExists ? TEntryKind::Folder : TEntryKind::Missing;
    return r;
  }
  const std::size_t folders = count - 1;
  for (std::size_t i = 0; i < folders; ++i) {
    std::string name;
    if (folderExists) name = FindIn(folder, st, parsed.Parts[i], names);
    if (name.empty()) {
      folderExists = false;
      name = GbkToUtf8(parsed.Parts[i]);
    }
    folder = JoinHost(folder, name);
    if (folderExists) folderExists = stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  r.Parent = folder.empty() ? "/" : folder;
  r.ParentExists = folderExists;
  if (upToParent) {
    r.Name = parsed.Parts.back();
    r.Host = JoinHost(folder, GbkToUtf8(r.Name));
    return r;
  }
  std::string name;
  if (folderExists) name = FindIn(folder, st, parsed.Parts.back(), names);
  r.Present = !name.empty();
  if (name.empty()) name = GbkToUtf8(parsed.Parts.back());
  r.Name = name;
  r.Host = JoinHost(folder, name);
  if (r.Present) StatFound(r);
  return r;
}

std::string NormalHostPath(const std::string& hostPath) {
  std::string path = hostPath;
  if (path.empty() || path[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) path = std::string(cwd) + "/" + path;
    else path = "/" + path;
  }
  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i <= path.size()) {
    const std::size_t j = std::min(path.find('/', i), path.size());
    const std::string part = path.substr(i, j - i);
    if (part.empty() || part == ".") {
    } else if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out;
  for (const auto& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

}  // namespace posixpaths

