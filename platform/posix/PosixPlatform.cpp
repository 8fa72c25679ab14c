#include "PosixPlatform.h"

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

#include "Convert.h"
#include "FolderNames.h"
#include "PosixFiles.h"
#include "PosixFolders.h"
#include "PosixPaths.h"

using namespace posixfiles;
using namespace posixpaths;

namespace {

// The code for an entry that is there but is no plain file to read or write.
int NotAFileCode(TEntryKind kind) { return kind == TEntryKind::Folder ? kErrAccessDenied : kErrNotAFile; }

// Whether a host name is one the program can name again: a name Windows would allow (a
// backslash in it would read as a folder, so a feed could reach into any folder by name), and
// its GBK form converts back to it byte for byte.
bool IsExactName(const std::string& host, const std::string& gbk) {
  bool ascii = true;
  for (const char c : host) {
    const auto b = static_cast<unsigned char>(c);
    if (b == 0x7F || IsBadNameByte(b, false)) return false;
    ascii = ascii && b < 0x80;
  }
  return ascii || GbkToUtf8(gbk) == host;
}

bool IsAscii(std::string_view s) {
  for (const char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// A GBK name as the host names it.
std::string HostName(const std::string& gbk) { return IsAscii(gbk) ? gbk : GbkToUtf8(gbk); }

// The host path of the drive's root and the first `count` components, as written: the key
// the folder's handle is kept under.
std::string KeyOf(const TParsedPath& parsed, std::size_t count) {
  std::string key = parsed.Root.empty() ? std::string("/") : parsed.Root;
  for (std::size_t i = 0; i < count; ++i) {
    if (key.back() != '/') key += '/';
    key += HostName(parsed.Parts[i]);
  }
  return key;
}

// Opens `name` in the folder `dir` with `flags` (O_CLOEXEC added), through EINTR.
int OpenAt(int dir, const std::string& name, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::openat(dir, name.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The code for an open of `name` in `dir` that failed with `err`. A link is never followed,
// but one to a folder is refused as the folder would be; a FIFO without a reader is no file.
int OpenError(int dir, const std::string& name, int err) {
  struct stat st{};
  if (err == ELOOP) return ::fstatat(dir, name.c_str(), &st, 0) == 0 && S_ISDIR(st.st_mode) ? kErrAccessDenied : kErrNotAFile;
  if (err == ENXIO) return kErrNotAFile;
  return WinErrorOf(err);
}

}  // namespace

struct TPosixPlatform::TSpot {
  int Error = 0;                          // the path is none: 3, or 123 for a bad character
  std::shared_ptr<const TFolder> Folder;  // null: the folder of the last component is not there
  std::string Name;                       // the last component as written, host name
  std::string Gbk;                        // the same as the program wrote it
  bool Root = false;                      // the path is a drive's root: there is no last component
  // The code for a missing last component: the file is missing when its folder is there, else
  // the path is.
  int MissingCode() const { return Error ? Error : Folder ? kErrFileNotFound : kErrPathNotFound; }
};

TPosixPlatform::TSpot TPosixPlatform::Spot(const std::string& path, bool pattern) {
  const TParsedPath parsed = FDrives.Parse(path, pattern);
  TSpot s;
  s.Error = parsed.Error;
  if (s.Error) return s;
  if (parsed.Parts.empty()) {
    s.Root = true;
    s.Folder = FolderOf(parsed, 0);
    return s;
  }
  s.Gbk = parsed.Parts.back();
  s.Name = HostName(s.Gbk);
  s.Folder = FolderOf(parsed, parsed.Parts.size() - 1);
  return s;
}

std::shared_ptr<const TFolder> TPosixPlatform::FolderOf(const TParsedPath& parsed, std::size_t count) {
  const std::string key = KeyOf(parsed, count);
  if (auto held = FFolders->Find(key)) return held;
  auto folder = std::make_shared<TFolder>();
  folder->Host = key;
  // Between runs nothing is held, and the folder is opened by its path as written (links
  // followed), looked up name by name only when it is not there so.
  const bool holding = FFolders->Holding();
  if (!holding && count > 0) folder->Fd = TFd(OpenAt(AT_FDCWD, key, O_PATH | O_DIRECTORY));
  if (folder->Fd.Valid()) {
  } else if (count == 0) {
    // A drive's root is where its mapping says, links and all.
    folder->Fd = TFd(OpenAt(AT_FDCWD, key, O_PATH | O_DIRECTORY));
  } else {
    const std::shared_ptr<const TFolder> parent = FolderOf(parsed, count - 1);
    if (!parent) return nullptr;
    // Below a claimed folder a link is no folder: the run works in what it checked, never
    // somewhere a link put in its place leads to.
    const int flags = O_PATH | O_DIRECTORY | (parent->Guarded ? O_NOFOLLOW : 0);
    std::string name = HostName(parsed.Parts[count - 1]);
    folder->Fd = TFd(OpenAt(parent->Fd.Get(), name, flags));
    // A link where a folder was, below a claimed folder: no folder, and nothing else to look for.
    if (!folder->Fd.Valid() && (errno == ENOTDIR || errno == ELOOP)) return nullptr;
    if (!folder->Fd.Valid() && errno == ENOENT) {
      name = OtherSpelling(*parent, parsed.Parts[count - 1]);
      if (!name.empty()) folder->Fd = TFd(OpenAt(parent->Fd.Get(), name, flags));
    }
    if (folder->Fd.Valid()) folder->Host = JoinHost(parent->Host == "/" ? "" : parent->Host, name);
    folder->Guarded = parent->Guarded;
  }
  struct stat st{};
  if (!folder->Fd.Valid() || ::fstat(folder->Fd.Get(), &st) != 0) return nullptr;
  folder->Dev = st.st_dev;
  folder->Ino = st.st_ino;
  folder->Guarded = folder->Guarded || FFolders->IsClaimed(key);
  FFolders->Keep(key, folder);
  return folder;
}

bool TPosixPlatform::HeldName(const TFolder& folder, const std::string& gbk, std::string& host) {
  struct stat st{};
  st.st_dev = folder.Dev;
  st.st_ino = folder.Ino;
  return FNames->FindOther(folder.Host, st, gbk, host);
}

std::string TPosixPlatform::OtherSpelling(const TFolder& folder, const std::string& gbk) {
  // An ASCII name without letters has no other spelling.
  if (IsAscii(gbk) && std::none_of(gbk.begin(), gbk.end(), [](char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }))
    return {};
  struct stat st{};
  st.st_dev = folder.Dev;
  st.st_ino = folder.Ino;
  std::string found;
  if (FNames->FindOther(folder.Host, st, gbk, found)) return found;
  // Not held (a folder of a network file system, or one too large): read it, through the
  // handle, so that what is read is the folder worked in.
  TFd dir(OpenAt(folder.Fd.Get(), ".", O_RDONLY | O_DIRECTORY));
  if (!dir.Valid()) return {};
  DIR* stream = ::fdopendir(dir.Get());
  if (!stream) return {};
  dir.Release();
  found = SpellingIn(stream, gbk);
  ::closedir(stream);
  return found;
}

bool TPosixPlatform::Entry(const TSpot& spot, std::string& host, struct stat& st) {
  if (!spot.Folder || spot.Root) return false;
  const int dir = spot.Folder->Fd.Get();
  if (::fstatat(dir, spot.Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    host = spot.Name;
    return true;
  }
  if (errno != ENOENT) return false;
  host = OtherSpelling(*spot.Folder, spot.Gbk);
  return !host.empty() && ::fstatat(dir, host.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// The name as written first, else another spelling of it. The open neither waits (a FIFO)
// nor follows a link unless `followLink`; whatever it opened that is no plain file is let go.
int TPosixPlatform::OpenExisting(const std::string& path, int flags, bool followLink, TFd& fd, struct stat& st) {
  flags |= O_NONBLOCK | (followLink ? 0 : O_NOFOLLOW);
  const TSpot s = Spot(path);
  if (s.Error) return s.Error;
  if (!s.Folder) return kErrPathNotFound;
  if (s.Root) return kErrAccessDenied;
  const int dir = s.Folder->Fd.Get();
  fd = TFd(OpenAt(dir, s.Name, flags));
  if (!fd.Valid()) {
    const int err = errno;
    std::string host;
    struct stat entry{};
    if (err == ENOENT) {
      if (!Entry(s, host, entry)) return s.MissingCode();
      fd = TFd(OpenAt(dir, host, flags));
    } else {
      return OpenError(dir, s.Name, err);
    }
    if (!fd.Valid()) return OpenError(dir, host, errno);
  }
  if (::fstat(fd.Get(), &st) != 0) return LastError();
  if (!S_ISREG(st.st_mode)) {
    fd.Reset();
    return NotAFileCode(KindOfMode(st.st_mode));
  }
  return 0;
}

TPosixPlatform::TPosixPlatform(std::string hostProgramPath, std::string homeDir)
    : FHostProgramPath(std::move(hostProgramPath)),
      FHomeDir(homeDir.empty() ? std::string() : NormalHostPath(homeDir)),
      FNames(std::make_unique<TFolderNames>()),
      FFolders(std::make_unique<TFolders>()),
      FTaken(std::make_unique<TTakenFiles>()) {}

TPosixPlatform::~TPosixPlatform() = default;

std::vector<TFindEntry> TPosixPlatform::FindFiles(const std::string& pattern) {
  const TSpot s = Spot(pattern, true);
  if (s.Error || s.Root || !s.Folder) return {};
  TFd dirFd(OpenAt(s.Folder->Fd.Get(), ".", O_RDONLY | O_DIRECTORY));
  if (!dirFd.Valid()) return {};
  DIR* dir = ::fdopendir(dirFd.Get());
  if (!dir) return {};
  dirFd.Release();

  struct TFound {
    std::string Key, Host;
    TFindEntry Entry;
  };
  std::vector<TFound> found;
  while (const dirent* e = ::readdir(dir)) {
    const std::string host = e->d_name;
    if (host == "." || host == ".." || host.rfind(kTempPrefix, 0) == 0) continue;
    std::string gbk = IsAscii(host) ? host : Utf8ToGbk(host);
    if (!MatchesMask(s.Gbk, gbk)) continue;
    // The listing tells what each entry is; only a link, or an entry of a file system that
    // does not say, is looked at on its own.
    TEntryKind kind = TEntryKind::Other;
    switch (e->d_type) {
      case DT_REG: kind = TEntryKind::File; break;
      case DT_DIR: kind = TEntryKind::Folder; break;
      case DT_UNKNOWN: {
        struct stat st{};
        if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) kind = KindOfMode(st.st_mode);
        break;
      }
      default: break;
    }
    bool isDir = kind == TEntryKind::Folder;
    if (e->d_type == DT_LNK || (e->d_type == DT_UNKNOWN && kind == TEntryKind::Other)) {
      struct stat st{};
      isDir = ::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    const bool exact = IsExactName(host, gbk);
    found.push_back(TFound{UpperAscii(host), host, TFindEntry{std::move(gbk), isDir, kind, exact}});
  }
  ::closedir(dir);
  // The order NTFS keeps its folders in: by the upper-cased name.
  std::sort(found.begin(), found.end(), [](const TFound& a, const TFound& b) {
    return a.Key != b.Key ? a.Key < b.Key : a.Host < b.Host;
  });
  std::vector<TFindEntry> out;
  out.reserve(found.size());
  for (auto& f : found) out.push_back(std::move(f.Entry));
  return out;
}

bool TPosixPlatform::FileExists(const std::string& path) {
  const TSpot s = Spot(path);
  std::string host;
  struct stat st{};
  if (!Entry(s, host, st)) return false;
  if (S_ISLNK(st.st_mode) && ::fstatat(s.Folder->Fd.Get(), host.c_str(), &st, 0) != 0) return false;
  return !S_ISDIR(st.st_mode);
}

bool TPosixPlatform::DirectoryExists(const std::string& path) {
  const TSpot s = Spot(path);
  if (s.Root) return s.Folder != nullptr;
  std::string host;
  struct stat st{};
  if (!Entry(s, host, st)) return false;
  if (S_ISLNK(st.st_mode) && ::fstatat(s.Folder->Fd.Get(), host.c_str(), &st, 0) != 0) return false;
  return S_ISDIR(st.st_mode);
}

TEntryKind TPosixPlatform::EntryKind(const std::string& path) {
  const TSpot s = Spot(path);
  if (s.Root) return s.Folder ? TEntryKind::Folder : TEntryKind::Missing;
  std::string host;
  struct stat st{};
  return Entry(s, host, st) ? KindOfMode(st.st_mode) : TEntryKind::Missing;
}

int TPosixPlatform::CreateDir(const std::string& path) {
  const TSpot s = Spot(path);
  if (s.Error) return s.Error;
  if (s.Root) return s.Folder ? kErrAlreadyExists : kErrPathNotFound;
  if (!s.Folder) return kErrPathNotFound;
  std::string host;
  struct stat st{};
  if (Entry(s, host, st)) return kErrAlreadyExists;
  if (::mkdirat(s.Folder->Fd.Get(), s.Name.c_str(), 0777) != 0) return errno == ENOENT ? kErrPathNotFound : LastError();
  return 0;
}

int TPosixPlatform::DeleteFile(const std::string& path) {
  const TSpot s = Spot(path);
  if (s.Error) return s.Error;
  std::string host;
  struct stat st{};
  if (!Entry(s, host, st)) return s.MissingCode();
  if (S_ISDIR(st.st_mode)) return kErrAccessDenied;
  FTaken->Forget(*s.Folder, host);
  // A link goes as the link.
  if (::unlinkat(s.Folder->Fd.Get(), host.c_str(), 0) != 0) return LastError();
  return 0;
}

int TPosixPlatform::MoveFile(const std::string& from, const std::string& to) {
  const TSpot a = Spot(from);
  if (a.Error) return a.Error;
  if (!a.Folder || a.Root) return a.MissingCode();
  const TSpot b = Spot(to);
  if (b.Error) return b.Error;
  if (!b.Folder || b.Root) return kErrPathNotFound;

  // A plain file is opened first: nobody may have it open for writing (a feed still
  // uploading it), as on Windows, where its writer's handle refuses the move. The lease that
  // tells it stays until the file is read, so no writer can come between.
  std::string source = a.Name;
  struct stat st{};
  TFd file(OpenAt(a.Folder->Fd.Get(), source, O_RDONLY | O_NONBLOCK | O_NOFOLLOW));
  if (!file.Valid() && errno == ENOENT) {
    if (!Entry(a, source, st)) return a.MissingCode();
    file = TFd(OpenAt(a.Folder->Fd.Get(), source, O_RDONLY | O_NONBLOCK | O_NOFOLLOW));
  }
  if (file.Valid() && ::fstat(file.Get(), &st) == 0 && S_ISREG(st.st_mode)) {
    if (WriterCheck(file.Get(), true) != 0) return kErrSharingViolation;
  } else {
    // A link, a folder or something else moves as what it is, unopened.
    file.Reset();
    if (::fstatat(a.Folder->Fd.Get(), source.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && !Entry(a, source, st))
      return a.MissingCode();
  }
  FTaken->Forget(*a.Folder, source);

  // The name the file goes by at the destination: taken in another spelling is taken, as on
  // Windows, unless it is the moving file itself (a rename to another case). A folder whose
  // names are held tells of another spelling at no cost; the name as written is refused by
  // the rename itself.
  std::string taken;
  struct stat there{};
  bool known = false;
  if (HeldName(*b.Folder, b.Gbk, taken)) {
    known = taken.empty() || ::fstatat(b.Folder->Fd.Get(), taken.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0;
    if (!known) taken.clear();
  }
  if (known ? !taken.empty() : Entry(b, taken, there)) {
    if (st.st_dev != there.st_dev || st.st_ino != there.st_ino) return kErrAlreadyExists;
    if (a.Folder->Dev == b.Folder->Dev && a.Folder->Ino == b.Folder->Ino && source == b.Name) return 0;
    if (::renameat(a.Folder->Fd.Get(), source.c_str(), b.Folder->Fd.Get(), b.Name.c_str()) != 0) return LastError();
    FTaken->Forget(*b.Folder, taken);
    return 0;
  }
  int moved = RenameNoReplace(a.Folder->Fd.Get(), source, b.Folder->Fd.Get(), b.Name);
  // Made meanwhile under the name as written: the same answer as above.
  if (moved == kErrAlreadyExists && known && Entry(b, taken, there)) {
    if (st.st_dev != there.st_dev || st.st_ino != there.st_ino) return kErrAlreadyExists;
    if (a.Folder->Dev == b.Folder->Dev && a.Folder->Ino == b.Folder->Ino && source == b.Name) return 0;
  }
  if (moved == 0) {
    if (file.Valid() && FFolders->Holding()) FTaken->Keep(*b.Folder, b.Name, std::move(file), st);
    return 0;
  }
  if (moved != kErrNotSameDevice) return moved;  // failed for a reason a copy would not mend

  // Across file systems: only a plain file is copied into the destination folder, put in
  // place without replacing anything, then the source is deleted. When the source cannot be
  // deleted the copy goes again, so the move either happened or did not.
  if (!file.Valid()) return kErrNotSameDevice;
  TReplacement r;
  if (const int code = r.Start(b.Folder, b.Name, nullptr, &st, false)) return code;
  if (const int code = FillFrom(file, st, r)) return code;
  if (const int code = r.CommitNoReplace()) return code;
  if (::unlinkat(a.Folder->Fd.Get(), source.c_str(), 0) != 0) {
    const int code = LastError();
    ::unlinkat(b.Folder->Fd.Get(), b.Name.c_str(), 0);
    return code;
  }
  return 0;
}

int TPosixPlatform::CopyFileOver(const std::string& from, const std::string& to) {
  TFd source;
  struct stat st{};
  if (const int code = OpenExisting(from, O_RDONLY, false, source, st)) return code;
  if (WriterCheck(source.Get(), true) != 0) return kErrSharingViolation;
  const TSpot s = Spot(to);
  if (s.Error) return s.Error;
  if (!s.Folder || s.Root) return kErrPathNotFound;
  std::string host = s.Name;
  struct stat old{};
  const bool present = Entry(s, host, old);
  TReplacement r;
  // Nobody is handed the new file: it needs no lock of its own.
  if (const int code = r.Start(s.Folder, present ? host : s.Name, present ? &old : nullptr, &st, false)) return code;
  if (const int code = FillFrom(source, st, r)) return code;
  return r.Commit();
}

std::unique_ptr<TReadFile> TPosixPlatform::OpenForReading(const std::string& path, bool followLink) {
  TFd fd;
  struct stat st{};
  // A file this run moved is read through the handle the move opened.
  if (FFolders->Holding()) {
    const TSpot s = Spot(path);
    if (s.Folder && !s.Root && FTaken->Take(*s.Folder, s.Name, fd, st))
      return std::make_unique<TPosixReadFile>(std::move(fd), st.st_size, path);
  }
  if (const int code = OpenExisting(path, O_RDONLY, followLink, fd, st)) throw IoFailure(code, "open", path);
  // Nobody writes while these opens read, as on Windows, where a writer's handle refuses
  // them: a writer already there refuses the open, and one that comes waits for the close.
  if (WriterCheck(fd.Get(), true) != 0) throw IoFailure(kErrSharingViolation, "open", path);
  return std::make_unique<TPosixReadFile>(std::move(fd), st.st_size, path);
}

std::unique_ptr<TReadFile> TPosixPlatform::OpenExclusive(const std::string& path) {
  return OpenForReading(path, false);
}

std::unique_ptr<TReadFile> TPosixPlatform::OpenShared(const std::string& path, bool followLink) {
  return OpenForReading(path, followLink);
}

std::unique_ptr<TNewFile> TPosixPlatform::CreateExclusive(const std::string& path) {
  const TSpot s = Spot(path);
  if (s.Error) throw IoFailure(s.Error, "create", path);
  if (!s.Folder || s.Root) throw IoFailure(kErrPathNotFound, "create", path);
  std::string host = s.Name;
  struct stat old{};
  const bool present = Entry(s, host, old);
  auto r = std::make_unique<TReplacement>();
  if (const int code = r->Start(s.Folder, present ? host : s.Name, present ? &old : nullptr, nullptr))
    throw IoFailure(code, "create", path);
  return std::make_unique<TPosixNewFile>(std::move(r), path);
}

void TPosixPlatform::CreateEmpty(const std::string& path) {
  for (int attempt = 0;; ++attempt) {
    const TSpot s = Spot(path);
    if (s.Error) throw IoFailure(s.Error, "create", path);
    if (!s.Folder || s.Root) throw IoFailure(kErrPathNotFound, "create", path);
    std::string host;
    struct stat old{};
    if (Entry(s, host, old)) {
      // The name is given an empty file of its own. Emptying the old file where it stands
      // would empty whatever a link or a second name of it leads to as well.
      TReplacement r;
      if (const int code = r.Start(s.Folder, host, &old, nullptr, false)) throw IoFailure(code, "create", path);
      if (const int code = r.Commit()) throw IoFailure(code, "replace", path);
      return;
    }
    TFd fd(OpenAt(s.Folder->Fd.Get(), s.Name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666));
    if (fd.Valid()) return;
    // Made by someone else since the lookup: emptied like any file found there.
    if (errno != EEXIST || attempt > 0) throw IoFailure(LastError(), "create", path);
  }
}

void TPosixPlatform::RunBegins() { FFolders->Hold(true); }

void TPosixPlatform::RunEnds() {
  FFolders->Hold(false);
  if (!FFolders->Holding()) FTaken->Clear();
}

int TPosixPlatform::CreateIfMissing(const std::string& path) {
  const TSpot s = Spot(path);
  if (s.Error) return s.Error;
  if (s.Root) return kErrAccessDenied;
  if (!s.Folder) return kErrPathNotFound;
  std::string host;
  struct stat st{};
  if (Entry(s, host, st)) {
    if (S_ISLNK(st.st_mode)) ::fstatat(s.Folder->Fd.Get(), host.c_str(), &st, 0);
    return S_ISDIR(st.st_mode) ? kErrAccessDenied : 0;
  }
  TFd fd(OpenAt(s.Folder->Fd.Get(), s.Name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666));
  if (fd.Valid() || errno == EEXIST) return 0;
  return errno == ENOENT ? kErrPathNotFound : LastError();
}

void TPosixPlatform::Append(const std::string& path, std::string_view bytes) {
  TFd fd;
  struct stat st{};
  if (const int code = OpenExisting(path, O_WRONLY | O_APPEND, false, fd, st)) throw IoFailure(code, "append", path);
  // One write: a line another process appends meanwhile goes before or after it, whole.
  const char* p = bytes.data();
  std::size_t n = bytes.size();
  while (n > 0) {
    const ssize_t w = ::write(fd.Get(), p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      throw IoFailure(LastError(), "append", path);
    }
    if (w == 0) throw IoFailure(kErrDiskFull, "append", path);
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

int TPosixPlatform::RemoveLeftovers(const std::string& folder) {
  const TParsedPath parsed = FDrives.Parse(folder, false);
  if (parsed.Error) return 0;
  const std::shared_ptr<const TFolder> f = FolderOf(parsed, parsed.Parts.size());
  return f ? RemoveTemporaries(f->Fd.Get()) : 0;
}

int TPosixPlatform::LockFolder(const std::string& folder, const std::string& name, std::unique_ptr<TFolderLock>& lock,
                               std::string& holder) {
  const TParsedPath parsed = FDrives.Parse(folder, false);
  if (parsed.Error) return parsed.Error;
  // Claimed, the folder's handle is opened anew as guarded, and so is everything below it.
  const std::string key = KeyOf(parsed, parsed.Parts.size());
  FFolders->Claimed(key);
  const std::shared_ptr<const TFolder> f = FolderOf(parsed, parsed.Parts.size());
  const int code = f ? ClaimFolder(f, name, lock, holder, [folders = FFolders.get(), key] { folders->Unclaimed(key); })
                     : kErrPathNotFound;
  if (code != 0) FFolders->Unclaimed(key);
  return code;
}

TDateTime TPosixPlatform::Now() { return SystemNow(); }

bool TPosixPlatform::Sleep(int milliseconds, const TStopSignal* stop) {
  if (stop) return !stop->Wait(milliseconds);
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  return true;
}

std::string TPosixPlatform::ProgramPath() {
  const std::string program = NormalHostPath(FHostProgramPath);
  if (FHomeDir.empty()) return DrivePath(program);
  const std::string name = program.substr(program.find_last_of('/') + 1);
  return DrivePath(JoinHost(FHomeDir, name));
}

void TPosixPlatform::SetDrive(char letter, const std::string& hostRoot) {
  FDrives.Set(letter, hostRoot);
  // A handle held under the drive's old mapping is no folder of the new one.
  FFolders->Forget();
}

std::string TPosixPlatform::RefusedDrives() { return FDrives.Refused(); }

std::string TPosixPlatform::RealPath(const std::string& path) {
  const std::string host = HostPath(path);
  return host.empty() ? host : ResolvedHostPath(host);
}

std::string TPosixPlatform::HostPath(const std::string& path, int* error) {
  const TParsedPath parsed = FDrives.Parse(path, false);
  if (error) *error = parsed.Error;
  if (parsed.Error) return {};
  return Lookup(parsed, false, FNames.get()).Host;
}

std::string TPosixPlatform::DrivePath(const std::string& hostPath) { return FDrives.DrivePath(hostPath); }

std::string HostProgramPath() {
  std::string buffer(PATH_MAX, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0) return {};
  buffer.resize(static_cast<std::size_t>(n));
  return buffer;
}

std::unique_ptr<TPlatform> NewSystemPlatform(const std::string& homeDir, const std::string& programName) {
  std::string program = HostProgramPath();
  if (!programName.empty()) program = program.substr(0, program.find_last_of('/') + 1) + programName;
  return std::make_unique<TPosixPlatform>(program, homeDir);
}

// The device and inode number, links followed: a bind mount or a second mount of one share
// gives a second path to the same pair.
TFileIdentity TPosixPlatform::Identity(const std::string& path) {
  const std::string host = HostPath(path);
  struct stat st{};
  if (host.empty() || ::stat(host.c_str(), &st) != 0) return {};
  return TFileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), true};
}
