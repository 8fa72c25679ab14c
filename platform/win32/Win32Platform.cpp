#include "Win32Platform.h"

#include "Win32Api.h"

#include <algorithm>

#include "Convert.h"
#include "Win32Files.h"
#include "Win32Text.h"

using namespace win32;

namespace {

int Error() {
  const DWORD code = GetLastError();
  return code == 0 ? 31 : static_cast<int>(code);
}

// A claim on a folder: its lock file, held with no sharing and deleted by the system when
// the handle closes, however the process ends.
class TWin32FolderLock final : public TFolderLock {
 public:
  explicit TWin32FolderLock(THandle h) : FHandle(std::move(h)) {}

 private:
  THandle FHandle;
};

// The kind and folder-ness of an entry found by a search.
void KindOf(const WIN32_FIND_DATAW& data, const std::wstring& full, TEntryKind& kind, bool& isDir) {
  const DWORD a = data.dwFileAttributes;
  isDir = (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if ((a & FILE_ATTRIBUTE_REPARSE_POINT) && (data.dwReserved0 & 0x20000000)) {
    kind = TEntryKind::Other;
    bool dir = false;
    isDir = FollowLink(full, dir) && dir;
  } else if (a & FILE_ATTRIBUTE_DEVICE) {
    kind = TEntryKind::Other;
  } else {
    kind = isDir ? TEntryKind::Folder : TEntryKind::File;
  }
}

bool HasControl(const std::string& gbk) {
  for (const char c : gbk)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

// The target of an existence test: whatever the name leads to.
TLook Followed(const std::string& path) {
  const TWinPath parsed = ParsePath(path, false);
  if (parsed.Error) {
    TLook none;
    none.Error = parsed.Error;
    return none;
  }
  TLook look = Look(parsed.Full());
  if (look.Link) {
    bool isDir = false;
    if (!FollowLink(parsed.Full(), isDir)) look.Error = kErrFileNotFound;
    look.Kind = isDir ? TEntryKind::Folder : TEntryKind::File;
  }
  return look;
}

std::wstring FullPathOf(const std::wstring& path) {
  std::wstring out(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(out.size()), out.data(), nullptr);
    if (n == 0) return path;
    if (n < out.size()) {
      out.resize(n);
      return out;
    }
    out.resize(n);
  }
}

}  // namespace

TWin32Platform::TWin32Platform(const std::string& homeDir, const std::string& programName)
    : FName(WideFromUtf8(programName)) {
  if (homeDir.empty()) return;
  FHome = FullPathOf(WideFromUtf8(homeDir));
  while (FHome.size() > 3 && (FHome.back() == L'\\' || FHome.back() == L'/')) FHome.pop_back();
}

std::vector<TFindEntry> TWin32Platform::FindFiles(const std::string& pattern) {
  const TWinPath parsed = ParsePath(pattern, true);
  if (parsed.Error || parsed.Parts.empty()) return {};
  const std::string wildcard = Narrow(parsed.Parts.back());
  const std::wstring folder = parsed.Parent();

  struct TFound {
    std::string Key, Utf8;
    TFindEntry Entry;
  };
  std::vector<TFound> found;
  WIN32_FIND_DATAW data{};
  // Every name is matched here by the program's own rule: the system's would also match
  // the short 8.3 names ("*.F10" finding "x.F10X" through "X~1.F10").
  const HANDLE find = FindFirstFileExW(Join(folder, L"*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                       nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return {};
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L".." || name.rfind(kTempPrefix, 0) == 0) continue;
    bool exact = true;
    std::string gbk = Narrow(name, &exact);
    if (!MatchesMask(wildcard, gbk)) continue;
    TEntryKind kind = TEntryKind::File;
    bool isDir = false;
    KindOf(data, Join(folder, name), kind, isDir);
    exact = exact && !HasControl(gbk);
    std::string utf8 = Utf8FromWide(name);
    found.push_back(TFound{UpperAscii(utf8), std::move(utf8), TFindEntry{std::move(gbk), isDir, kind, exact}});
  } while (FindNextFileW(find, &data));
  FindClose(find);
  // NTFS lists a folder in this order itself; other file systems (FAT, a network share) in
  // their own. The same order everywhere keeps runs alike.
  std::sort(found.begin(), found.end(), [](const TFound& a, const TFound& b) {
    return a.Key != b.Key ? a.Key < b.Key : a.Utf8 < b.Utf8;
  });
  std::vector<TFindEntry> out;
  out.reserve(found.size());
  for (auto& f : found) out.push_back(std::move(f.Entry));
  return out;
}

bool TWin32Platform::FileExists(const std::string& path) {
  const TLook look = Followed(path);
  return !look.Error && look.Kind == TEntryKind::File;
}

bool TWin32Platform::DirectoryExists(const std::string& path) {
  const TLook look = Followed(path);
  return !look.Error && look.Kind == TEntryKind::Folder;
}

TEntryKind TWin32Platform::EntryKind(const std::string& path) {
  const TWinPath parsed = ParsePath(path, false);
  if (parsed.Error) return TEntryKind::Missing;
  return Look(parsed.Full()).Kind;
}

int TWin32Platform::CreateDir(const std::string& path) {
  const TWinPath parsed = ParsePath(path, false);
  if (parsed.Error) return parsed.Error;
  if (parsed.Parts.empty()) return kErrAlreadyExists;  // a drive's root
  return CreateDirectoryW(parsed.Full().c_str(), nullptr) ? 0 : Error();
}

int TWin32Platform::DeleteFile(const std::string& path) {
  const TWinPath parsed = ParsePath(path, false);
  if (parsed.Error) return parsed.Error;
  const std::wstring full = parsed.Full();
  const TLook look = Look(full);
  if (look.Error) return look.Error;
  if (look.Kind == TEntryKind::Folder) return kErrAccessDenied;
  // A link to a folder is a folder entry to the system; it goes as the link all the same.
  if (look.Link && (look.Attributes & FILE_ATTRIBUTE_DIRECTORY))
    return RemoveDirectoryW(full.c_str()) ? 0 : Error();
  return DeleteFileW(full.c_str()) ? 0 : Error();
}

int TWin32Platform::MoveFile(const std::string& from, const std::string& to) {
  const TWinPath source = ParsePath(from, false);
  if (source.Error) return source.Error;
  const TWinPath target = ParsePath(to, false);
  if (target.Error) return target.Error;
  // Never over an existing name (183); across volumes the system copies, then deletes.
  if (!MoveFileExW(source.Full().c_str(), target.Full().c_str(), MOVEFILE_COPY_ALLOWED)) {
    const int code = Error();
    return code == ERROR_FILE_EXISTS ? kErrAlreadyExists : code;
  }
  return 0;
}

int TWin32Platform::CopyFileOver(const std::string& from, const std::string& to) {
  const TWinPath source = ParsePath(from, false);
  if (source.Error) return source.Error;
  THandle in;
  if (const int code = OpenPlain(source.Full(), GENERIC_READ, FILE_SHARE_READ, false, in)) return code;
  const TWinPath target = ParsePath(to, false);
  TReplacement r;
  if (const int code = r.Start(target)) return code;
  if (const int code = FillFrom(in.Get(), r)) return code;
  return r.Commit();
}

std::unique_ptr<TReadFile> TWin32Platform::OpenExclusive(const std::string& path) {
  const TWinPath parsed = ParsePath(path, false);
  if (parsed.Error) throw IoFailure(parsed.Error, "open", path);
  THandle h;
  if (const int code = OpenPlain(parsed.Full(), GENERIC_READ, 0, false, h)) throw IoFailure(code, "open", path);
  return std::make_unique<TWin32ReadFile>(std::move(h), path);
}

std::unique_ptr<TReadFile> TWin32Platform::OpenShared(const std::string& path, bool followLink) {
  const TWinPath parsed = ParsePath(path, false);
  if (parsed.Error) throw IoFailure(parsed.Error, "open", path);
  THandle h;
  if (const int code = OpenPlain(parsed.Full(), GENERIC_READ, FILE_SHARE_READ, followLink, h))
    throw IoFailure(code, "open", path);
  return std::make_unique<TWin32ReadFile>(std::move(h), path);
}

std::unique_ptr<TNewFile> TWin32Platform::CreateExclusive(const std::string& path) {
  auto r = std::make_unique<TReplacement>();
  if (const int code = r->Start(ParsePath(path, false))) throw IoFailure(code, "create", path);
  return std::make_unique<TWin32NewFile>(std::move(r), path);
}

int TWin32Platform::CreateIfMissing(const std::string& path) {
  const TWinPath parsed = ParsePath(path, false);
  if (parsed.Error) return parsed.Error;
  const std::wstring full = parsed.Full();
  const TLook look = Look(full);
  if (!look.Error) return look.Kind == TEntryKind::Folder ? kErrAccessDenied : 0;
  THandle h(CreateFileW(full.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (h.Valid()) return 0;
  const int code = Error();
  return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? 0 : code;
}

void TWin32Platform::CreateEmpty(const std::string& path) {
  const TWinPath parsed = ParsePath(path, false);
  if (parsed.Error) throw IoFailure(parsed.Error, "create", path);
  const std::wstring full = parsed.Full();
  if (Look(full).Error == ERROR_FILE_NOT_FOUND) {
    THandle h(CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h.Valid()) return;
    // Made by someone else since the look: emptied like any file found there.
    if (GetLastError() != ERROR_FILE_EXISTS) throw IoFailure(Error(), "create", path);
  }
  // The name is given an empty file of its own: emptying the old file where it stands would
  // empty whatever a link or a second name of it leads to as well.
  TReplacement r;
  if (const int code = r.Start(parsed)) throw IoFailure(code, "create", path);
  if (const int code = r.Commit()) throw IoFailure(code, "replace", path);
}

void TWin32Platform::Append(const std::string& path, std::string_view bytes) {
  const TWinPath parsed = ParsePath(path, false);
  if (parsed.Error) throw IoFailure(parsed.Error, "append", path);
  THandle h;
  // Readers may look at the file meanwhile; no other writer may.
  if (const int code = OpenPlain(parsed.Full(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, false, h))
    throw IoFailure(code, "append", path);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, std::size_t{1} << 30));
    DWORD written = 0;
    if (!WriteFile(h.Get(), bytes.data() + done, want, &written, nullptr)) throw IoFailure(Error(), "append", path);
    if (written == 0) throw IoFailure(kErrDiskFull, "append", path);
    done += written;
  }
}

int TWin32Platform::RemoveLeftovers(const std::string& folder) {
  const TWinPath parsed = ParsePath(folder, false);
  if (parsed.Error) return 0;
  const std::wstring full = parsed.Full();
  if (Look(full).Kind != TEntryKind::Folder) return 0;
  WIN32_FIND_DATAW data{};
  const HANDLE find = FindFirstFileExW(Join(full, std::wstring(kTempPrefix) + L"*").c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int removed = 0;
  do {
    const std::wstring name = data.cFileName;
    if (!IsTemporaryName(name)) continue;
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
      continue;
    // A replacement still at work holds its file with no sharing: the deletion is refused
    // (32) and the file left to it.
    if (DeleteFileW(Join(full, name).c_str())) ++removed;
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return removed;
}

int TWin32Platform::LockFolder(const std::string& folder, const std::string& name,
                               std::unique_ptr<TFolderLock>& lock, std::string& holder) {
  const TWinPath parsed = ParsePath(folder, false);
  if (parsed.Error) return parsed.Error;
  const TLook look = Followed(folder);
  if (look.Error || look.Kind != TEntryKind::Folder) return kErrPathNotFound;
  const std::wstring path = Join(parsed.Full(), Wide(name));
  const TLook old = Look(path);
  if (!old.Error && old.Kind != TEntryKind::File) return old.Kind == TEntryKind::Folder ? kErrAccessDenied : kErrNotAFile;
  THandle h(CreateFileW(path.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.Valid()) {
    const int code = Error();
    // Windows does not tell who holds a file without asking every process.
    if (code == ERROR_SHARING_VIOLATION) holder.clear();
    return code;
  }
  lock = std::make_unique<TWin32FolderLock>(std::move(h));
  return 0;
}

TDateTime TWin32Platform::Now() { return SystemNow(); }

bool TWin32Platform::Sleep(int milliseconds, const TStopSignal* stop) {
  if (stop) return !stop->Wait(milliseconds);
  if (milliseconds > 0) ::Sleep(static_cast<DWORD>(milliseconds));
  return true;
}

std::string TWin32Platform::ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  path = Display(path);
  const std::size_t slash = path.find_last_of(L"\\/");
  const std::size_t nameAt = slash == std::wstring::npos ? 0 : slash + 1;
  if (!FName.empty()) path = path.substr(0, nameAt) + FName;
  if (FHome.empty()) return Narrow(path);
  return Narrow(Join(FHome, path.substr(nameAt)));
}

std::string TWin32Platform::HostPath(const std::string& path, int* error) {
  const TWinPath parsed = ParsePath(path, false);
  if (error) *error = parsed.Error;
  return parsed.Error ? std::string() : Utf8FromWide(Display(parsed.Full()));
}

std::string TWin32Platform::DrivePath(const std::string& hostPath) {
  return Narrow(Display(FullPathOf(WideFromUtf8(hostPath))));
}

std::string TWin32Platform::RealPath(const std::string& path) {
  const TWinPath parsed = ParsePath(path, false);
  if (parsed.Error) return {};
  // The longest part of the path that exists, resolved by the system; the rest as given.
  std::wstring resolved;
  std::size_t known = parsed.Parts.size() + 1;
  while (known-- > 0) {
    TWinPath head = parsed;
    head.Parts.resize(known);
    THandle h(CreateFileW(head.Full().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.Valid()) continue;
    std::wstring final(MAX_PATH, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h.Get(), final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
    if (n >= final.size()) {
      final.resize(n + 1);
      n = GetFinalPathNameByHandleW(h.Get(), final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
    }
    if (n == 0 || n >= final.size()) continue;
    final.resize(n);
    resolved = Display(final);
    break;
  }
  if (resolved.empty()) {
    resolved = Display(parsed.Root);
    known = 0;
  }
  while (!resolved.empty() && resolved.back() == L'\\') resolved.pop_back();
  for (std::size_t i = known; i < parsed.Parts.size(); ++i) resolved += L"\\" + parsed.Parts[i];
  if (!resolved.empty()) CharUpperBuffW(resolved.data(), static_cast<DWORD>(resolved.size()));
  std::replace(resolved.begin(), resolved.end(), L'\\', L'/');
  return Utf8FromWide(resolved);
}

TFileIdentity TWin32Platform::Identity(const std::string& path) {
  const TWinPath parsed = ParsePath(path, false);
  if (parsed.Error) return {};
  // No access asked for: the attributes alone, which a file held without sharing still gives.
  THandle h(CreateFileW(parsed.Full().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.Valid()) return {};
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h.Get(), &info)) return {};
  return TFileIdentity{info.dwVolumeSerialNumber,
                       (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow, true};
}

std::unique_ptr<TPlatform> NewSystemPlatform(const std::string& homeDir, const std::string& programName) {
  return std::make_unique<TWin32Platform>(homeDir, programName);
}
