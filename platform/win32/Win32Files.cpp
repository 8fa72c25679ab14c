#include "Win32Files.h"

#include <atomic>
#include <chrono>
#include <cstring>

#include "Win32Text.h"

namespace win32 {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Characters no Windows file name may hold.
bool IsBadNameChar(wchar_t c, bool wildcardsAllowed) {
  if (c < 0x20) return true;
  switch (c) {
    case L'<': case L'>': case L':': case L'"': case L'|': return true;
    case L'*': case L'?': return !wildcardsAllowed;
    default: return false;
  }
}

bool IsNameSurrogate(DWORD tag) { return (tag & 0x20000000) != 0; }

// The reparse tag of a reparse point, from its directory entry.
DWORD ReparseTag(const std::wstring& full) {
  WIN32_FIND_DATAW data{};
  const HANDLE find = FindFirstFileExW(full.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return 0;
  FindClose(find);
  return data.dwReserved0;
}

// A fresh name for a temporary file: kTempPrefix, six letters or digits, ".tmp".
std::wstring TempName() {
  static std::atomic<std::uint64_t> counter{0};
  static const std::uint64_t seed = [] {
    std::uint64_t s = static_cast<std::uint64_t>(GetCurrentProcessId()) * 0x9E3779B97F4A7C15ull;
    s ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return s;
  }();
  static constexpr wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::uint64_t x = seed + counter.fetch_add(1) * 0xBF58476D1CE4E5B9ull;
  x ^= x >> 31;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 29;
  std::wstring name = kTempPrefix;
  for (int i = 0; i < 6; ++i, x /= 62) name += kLetters[x % 62];
  return name + L".tmp";
}

// The name the entry has on disk (its case), or `given` when it cannot be told.
std::wstring NameOnDisk(const std::wstring& full, const std::wstring& given) {
  WIN32_FIND_DATAW data{};
  const HANDLE find = FindFirstFileExW(full.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return given;
  FindClose(find);
  return data.cFileName;
}

int Error() {
  const DWORD code = GetLastError();
  return code == 0 ? 31 : static_cast<int>(code);  // a failure always has a code
}

}  // namespace

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && folder.back() == L'\\') return folder + name;
  return folder + L"\\" + name;
}

std::wstring TWinPath::Full() const {
  std::wstring out = Root;
  for (std::size_t i = 0; i < Parts.size(); ++i) out += (i ? L"\\" : L"") + Parts[i];
  return out;
}

std::wstring TWinPath::Parent() const {
  std::wstring out = Root;
  for (std::size_t i = 0; i + 1 < Parts.size(); ++i) out += (i ? L"\\" : L"") + Parts[i];
  return out;
}

TWinPath ParsePath(const std::string& gbk, bool lastIsPattern) {
  TWinPath out;
  const std::wstring path = Wide(gbk);
  std::size_t at = 0;
  const auto isLetter = [](wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); };
  if (path.size() >= 2 && isLetter(path[0]) && path[1] == L':') {
    // "D:name" is relative to a current folder of D:, which this program does not have.
    if (path.size() > 2 && !IsSeparator(path[2])) {
      out.Error = kErrPathNotFound;
      return out;
    }
    out.Root = std::wstring(L"\\\\?\\") + static_cast<wchar_t>(path[0] & ~0x20) + L":\\";
    at = 2;
  } else if (path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] != L'?' &&
             path[2] != L'.') {
    // A network path: its server and share make its root.
    std::size_t i = 2;
    std::wstring server, share;
    while (i < path.size() && !IsSeparator(path[i])) server += path[i++];
    if (i < path.size()) ++i;
    while (i < path.size() && !IsSeparator(path[i])) share += path[i++];
    if (server.empty() || share.empty()) {
      out.Error = kErrPathNotFound;
      return out;
    }
    out.Root = L"\\\\?\\UNC\\" + server + L"\\" + share + L"\\";
    at = i;
  } else {
    // Empty, relative, rooted on whatever drive is current, or a device path: none of them
    // names one file whatever the current folder is.
    out.Error = kErrPathNotFound;
    return out;
  }

  std::size_t begin = at;
  auto flush = [&](std::size_t end) {
    const std::wstring part = path.substr(begin, end - begin);
    if (part.empty() || part == L".") {
    } else if (part == L"..") {
      if (!out.Parts.empty()) out.Parts.pop_back();  // ".." above the root stays at the root
    } else {
      out.Parts.push_back(part);
    }
  };
  for (std::size_t i = at; i < path.size(); ++i)
    if (IsSeparator(path[i])) {
      flush(i);
      begin = i + 1;
    }
  flush(path.size());
  for (std::size_t k = 0; k < out.Parts.size(); ++k) {
    const bool wild = lastIsPattern && k + 1 == out.Parts.size();
    for (const wchar_t c : out.Parts[k])
      if (IsBadNameChar(c, wild)) {
        out.Error = kErrInvalidName;
        out.Parts.clear();
        return out;
      }
  }
  return out;
}

std::wstring Display(const std::wstring& full) {
  if (full.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + full.substr(8);
  if (full.rfind(L"\\\\?\\", 0) == 0) return full.substr(4);
  return full;
}

TLook Look(const std::wstring& full) {
  TLook look;
  const DWORD attributes = GetFileAttributesW(full.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    look.Error = Error();
    return look;
  }
  look.Attributes = attributes;
  look.Link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsNameSurrogate(ReparseTag(full));
  if (look.Link || (attributes & FILE_ATTRIBUTE_DEVICE)) look.Kind = TEntryKind::Other;
  else if (attributes & FILE_ATTRIBUTE_DIRECTORY) look.Kind = TEntryKind::Folder;
  else look.Kind = TEntryKind::File;
  return look;
}

bool FollowLink(const std::wstring& full, bool& isDir) {
  THandle h(CreateFileW(full.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!h.Valid() || !GetFileInformationByHandle(h.Get(), &info)) return false;
  isDir = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

bool IsTemporaryName(const std::wstring& name) {
  const std::wstring prefix = kTempPrefix;
  const std::wstring suffix = L".tmp";
  if (name.size() != prefix.size() + 6 + suffix.size()) return false;
  if (name.compare(0, prefix.size(), prefix) != 0 || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  for (std::size_t i = prefix.size(); i < prefix.size() + 6; ++i) {
    const wchar_t c = name[i];
    if (!((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9'))) return false;
  }
  return true;
}

int OpenPlain(const std::wstring& full, DWORD access, DWORD share, bool followLink, THandle& h) {
  // What the name is, before anything is opened: a link is refused without being followed.
  const TLook look = Look(full);
  if (look.Error) return look.Error;
  if (!followLink && look.Kind == TEntryKind::Other) return kErrNotAFile;
  if (look.Kind == TEntryKind::Folder) return kErrAccessDenied;
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  h = THandle(CreateFileW(full.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
  if (!h.Valid()) return Error();
  // The name may have been given to something else meanwhile: the handle says what it is.
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (GetFileInformationByHandleEx(h.Get(), FileAttributeTagInfo, &tag, sizeof tag)) {
    if (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      h.Reset();
      return kErrAccessDenied;
    }
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !followLink && IsNameSurrogate(tag.ReparseTag)) {
      h.Reset();
      return kErrNotAFile;
    }
  }
  if (GetFileType(h.Get()) != FILE_TYPE_DISK) {
    h.Reset();
    return kErrNotAFile;
  }
  return 0;
}

std::size_t ReadAt(HANDLE h, std::int64_t offset, void* buffer, std::size_t n) {
  std::size_t got = 0;
  auto* p = static_cast<char*>(buffer);
  while (got < n) {
    const std::uint64_t at = static_cast<std::uint64_t>(offset) + got;
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(at);
    o.OffsetHigh = static_cast<DWORD>(at >> 32);
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n - got, std::size_t{1} << 30));
    DWORD read = 0;
    if (!ReadFile(h, p + got, want, &read, &o)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      throw IoFailure(Error());
    }
    if (read == 0) break;
    got += read;
  }
  return got;
}

int WriteAt(HANDLE h, std::int64_t offset, const void* buffer, std::size_t n) {
  const auto* p = static_cast<const char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    const std::uint64_t at = static_cast<std::uint64_t>(offset) + done;
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(at);
    o.OffsetHigh = static_cast<DWORD>(at >> 32);
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n - done, std::size_t{1} << 30));
    DWORD written = 0;
    if (!WriteFile(h, p + done, want, &written, &o)) return Error();
    if (written == 0) return kErrDiskFull;
    done += written;
  }
  return 0;
}

std::int64_t TWin32ReadFile::Size() {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(FHandle.Get(), &size)) throw IoFailure(Error());
  return size.QuadPart;
}

TReplacement::~TReplacement() {
  if (FCommitted || !FTemp.Valid()) return;
  FTemp.Reset();
  DeleteFileW(FTempPath.c_str());
}

int TReplacement::Start(const TWinPath& target) {
  if (target.Error) return target.Error;
  if (target.Parts.empty()) return kErrAccessDenied;  // a drive's root
  const std::wstring folder = target.Parent();
  const TLook parent = Look(folder);
  if (parent.Error || parent.Kind != TEntryKind::Folder) return kErrPathNotFound;
  const std::wstring full = target.Full();
  const TLook old = Look(full);
  if (!old.Error) {
    if (old.Kind == TEntryKind::Folder) return kErrAccessDenied;
    // Only a plain file is held: a link under the name is replaced as a name, and what it
    // leads to is never touched. Opened for writing as the replacement of a file would be,
    // so a read-only file is refused (5); deletion stays shared, for the rename over it.
    if (old.Kind == TEntryKind::File) {
      FOld = THandle(CreateFileW(full.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      if (!FOld.Valid()) return Error();
    }
    // The new file takes the name the old one has, whatever case the caller wrote.
    FTarget = Join(folder, NameOnDisk(full, target.Parts.back()));
  } else {
    FTarget = full;
  }
  for (int attempt = 0; !FTemp.Valid(); ++attempt) {
    std::wstring name = Join(folder, TempName());
    FTemp = THandle(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (FTemp.Valid()) FTempPath = std::move(name);
    else if (GetLastError() != ERROR_FILE_EXISTS || attempt >= 100) return Error();
  }
  return 0;
}

int TReplacement::Commit() {
  if (FCommitted) return 0;
  // The old file is let go only now; the rename over it needs it closed.
  FOld.Reset();
  // Renamed through the handle, so the new file is never without a holder: nobody can take
  // it for a leftover, or open it half-way, before it has its name.
  std::wstring target = FTarget;
  if (target.rfind(L"\\\\?\\", 0) == 0) target[1] = L'?';  // "\??\": the kernel's form
  const std::size_t bytes = target.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(bytes);
  std::memcpy(info->FileName, target.data(), bytes);
  if (!SetFileInformationByHandle(FTemp.Get(), FileRenameInfo, info, static_cast<DWORD>(buffer.size()))) {
    const int code = Error();
    if (code != ERROR_INVALID_PARAMETER && code != ERROR_NOT_SUPPORTED && code != ERROR_INVALID_FUNCTION)
      return code;
    // A file system that cannot rename through a handle: by name.
    FTemp.Reset();
    if (!MoveFileExW(FTempPath.c_str(), FTarget.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      const int moved = Error();
      DeleteFileW(FTempPath.c_str());
      return moved;
    }
  }
  FCommitted = true;
  return 0;
}

int FillFrom(HANDLE source, TReplacement& r) {
  std::vector<char> buffer(1 << 20);
  std::int64_t offset = 0;
  for (;;) {
    std::size_t got = 0;
    try {
      got = ReadAt(source, offset, buffer.data(), buffer.size());
    } catch (const EFailure& failure) {
      return failure.Code();
    }
    if (got == 0) break;
    if (const int code = WriteAt(r.Temp(), offset, buffer.data(), got)) return code;
    offset += static_cast<std::int64_t>(got);
    if (got < buffer.size()) break;
  }
  FILETIME written{};
  if (GetFileTime(source, nullptr, nullptr, &written)) SetFileTime(r.Temp(), nullptr, nullptr, &written);
  return 0;
}

}  // namespace win32
