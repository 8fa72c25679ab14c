#include "PosixPlatform.h"

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

#include "Convert.h"
#include "FolderNames.h"
#include "PosixFiles.h"
#include "PosixPaths.h"

using namespace posixfiles;
using namespace posixpaths;

namespace {

// The code for a missing last component: the file is missing when its folder is there, else
// the path is.
int MissingCode(const TResolved& r) { return r.ParentExists ? kErrFileNotFound : kErrPathNotFound; }

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

// Opens the path with every component as written, which is the entry the lookup would choose
// whenever it is there; `host` is that host path. False, with nothing open, when it is not
// there as written (or cannot be opened so), for the caller to look it up.
bool OpenAsWritten(const TParsedPath& parsed, int flags, TFd& fd, std::string& host) {
  if (parsed.Parts.empty()) return false;
  host = AsWritten(parsed);
  do {
    fd = TFd(::open(host.c_str(), flags | O_CLOEXEC));
  } while (!fd.Valid() && errno == EINTR);
  return fd.Valid();
}

}  // namespace

struct TPosixPlatform::TTarget {
  int Error = 0;      // the path is none (3) or holds a bad character (123)
  TResolved R;
  std::string Given;  // the last component as the program wrote it (GBK)
};

TPosixPlatform::TTarget TPosixPlatform::Resolve(const std::string& path) {
  const TParsedPath parsed = FDrives.Parse(path, false);
  TTarget t;
  t.Error = parsed.Error;
  if (t.Error) return t;
  t.R = Lookup(parsed, false, FNames.get());
  if (!parsed.Parts.empty()) t.Given = parsed.Parts.back();
  return t;
}

// The path as written first, else the path looked up, for another spelling or the error.
// The open neither waits (a FIFO) nor follows a link in the last component unless
// `followLink`; whatever it opened that is no plain file is let go again.
int TPosixPlatform::OpenExisting(const std::string& path, int flags, bool followLink, TFd& fd,
                                 struct stat& st) {
  flags |= O_NONBLOCK | (followLink ? 0 : O_NOFOLLOW);
  const TParsedPath parsed = FDrives.Parse(path, false);
  if (parsed.Error) return parsed.Error;
  std::string host;
  if (!OpenAsWritten(parsed, flags, fd, host)) {
    const TResolved r = Lookup(parsed, false, FNames.get());
    if (!r.Present || (followLink && !r.Exists)) return MissingCode(r);
    if (r.IsDir) return kErrAccessDenied;
    if (!followLink && r.Kind != TEntryKind::File) return NotAFileCode(r.Kind);
    if (const int code = OpenFd(r.Host, flags, fd)) return code;
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
      FSpare(std::make_unique<TSpareFile>()) {}

TPosixPlatform::~TPosixPlatform() = default;

std::vector<TFindEntry> TPosixPlatform::FindFiles(const std::string& pattern) {
  const TParsedPath parsed = FDrives.Parse(pattern, true);
  if (parsed.Error || parsed.Parts.empty()) return {};
  const TResolved r = Lookup(parsed, true, FNames.get());
  if (!r.ParentExists) return {};
  const std::string wildcard = parsed.Parts.back();

  struct TFound {
    std::string Key, Host;
    TFindEntry Entry;
  };
  std::vector<TFound> found;
  DIR* dir = ::opendir(r.Parent.c_str());
  if (!dir) return {};
  while (const dirent* e = ::readdir(dir)) {
    const std::string host = e->d_name;
    if (host == "." || host == ".." || host.rfind(kTempPrefix, 0) == 0) continue;
    std::string gbk = Utf8ToGbk(host);
    if (!MatchesMask(wildcard, gbk)) continue;
    // The listing tells what each entry is; only a link, or an entry of a file system that
    // does not say, is looked at on its own.
    TEntryKind kind = TEntryKind::Other;
    switch (e->d_type) {
      case DT_REG: kind = TEntryKind::File; break;
      case DT_DIR: kind = TEntryKind::Folder; break;
      case DT_UNKNOWN: {
        struct stat st{};
        if (::lstat(JoinHost(r.Parent, host).c_str(), &st) == 0) kind = KindOfMode(st.st_mode);
        break;
      }
      default: break;
    }
    bool isDir = kind == TEntryKind::Folder;
    if (e->d_type == DT_LNK || (e->d_type == DT_UNKNOWN && kind == TEntryKind::Other)) {
      struct stat st{};
      isDir = ::stat(JoinHost(r.Parent, host).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
  const TTarget t = Resolve(path);
  return t.Error == 0 && t.R.Exists && !t.R.IsDir;
}

bool TPosixPlatform::DirectoryExists(const std::string& path) {
  const TTarget t = Resolve(path);
  return t.Error == 0 && t.R.Exists && t.R.IsDir;
}

TEntryKind TPosixPlatform::EntryKind(const std::string& path) {
  const TTarget t = Resolve(path);
  return t.Error ? TEntryKind::Missing : t.R.Kind;
}

int TPosixPlatform::CreateDir(const std::string& path) {
  const TTarget t = Resolve(path);
  if (t.Error) return t.Error;
  if (t.R.Present) return kErrAlreadyExists;
  if (!t.R.ParentExists) return kErrPathNotFound;
  if (::mkdir(t.R.Host.c_str(), 0777) != 0) return errno == ENOENT ? kErrPathNotFound : LastError();
  return 0;
}

int TPosixPlatform::DeleteFile(const std::string& path) {
  const TTarget t = Resolve(path);
  if (t.Error) return t.Error;
  if (!t.R.Present) return MissingCode(t.R);
  if (t.R.IsDir) return kErrAccessDenied;
  // A file someone holds open through this interface cannot be deleted, as on Windows. Only
  // a plain file is opened for that: a link goes as the link.
  TFd fd;
  if (t.R.Kind == TEntryKind::File && OpenFd(t.R.Host, O_RDONLY | O_NONBLOCK | O_NOFOLLOW, fd) == 0)
    if (const int code = Lock(fd, LOCK_EX)) return code;
  if (::unlink(t.R.Host.c_str()) != 0) return LastError();
  return 0;
}

int TPosixPlatform::MoveFile(const std::string& from, const std::string& to) {
  // The open the source's lock needs stands in for its lookup whenever the source is there
  // as written. A folder is locked like a file, which keeps nothing of ours from anything.
  TResolved source;
  TFd sourceFd;
  {
    const TParsedPath parsed = FDrives.Parse(from, false);
    if (parsed.Error) return parsed.Error;
    if (OpenAsWritten(parsed, O_RDONLY | O_NONBLOCK | O_NOFOLLOW, sourceFd, source.Host)) {
      source.Present = source.Exists = true;
    } else {
      source = Lookup(parsed, false, FNames.get());
      if (!source.Present) return MissingCode(source);
      if (source.Kind == TEntryKind::File)
        (void)OpenFd(source.Host, O_RDONLY | O_NONBLOCK | O_NOFOLLOW, sourceFd);
    }
  }
  const TTarget t = Resolve(to);
  if (t.Error) return t.Error;
  if (!t.R.ParentExists) return kErrPathNotFound;

  std::string destination = t.R.Host;
  if (t.R.Present) {
    // The same file under a name that differs in case only: a rename to the new case.
    struct stat a{}, b{};
    const bool same = ::lstat(source.Host.c_str(), &a) == 0 && ::lstat(t.R.Host.c_str(), &b) == 0 &&
                      a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    if (!same) return kErrAlreadyExists;
    destination = JoinHost(t.R.Parent, GbkToUtf8(t.Given));
    if (destination == source.Host) return 0;
  }

  if (sourceFd.Valid())
    if (const int code = Lock(sourceFd, LOCK_EX)) return code;
  const int moved = RenameNoReplace(source.Host, destination);
  if (moved != kErrNotSameDevice) return moved;  // done, or failed for a reason a copy would not mend
  // Only a plain file is copied across devices; only such a move needs to know what it moves.
  struct stat st{};
  if (!sourceFd.Valid() || ::fstat(sourceFd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return kErrNotSameDevice;

  // Across file systems: copy into the destination folder, put it in place without
  // replacing anything, then delete the source. When the source cannot be deleted the copy
  // goes again, so the move either happened or did not.
  TReplacement r;
  TResolved target = t.R;
  target.Host = destination;
  target.Exists = target.Present = false;
  if (const int code = r.Start(target, &st, false)) return code;
  if (const int code = FillFrom(sourceFd, st, r)) return code;
  if (const int code = r.CommitNoReplace()) return code;
  if (::unlink(source.Host.c_str()) != 0) {
    const int code = LastError();
    ::unlink(destination.c_str());
    return code;
  }
  return 0;
}

int TPosixPlatform::CopyFileOver(const std::string& from, const std::string& to) {
  TFd source;
  struct stat st{};
  if (const int code = OpenExisting(from, O_RDONLY, false, source, st))
    return code;
  const TTarget t = Resolve(to);
  if (t.Error) return t.Error;
  if (const int code = Lock(source, LOCK_SH)) return code;
  TReplacement r;
  // Nobody is handed the new file: it needs no lock of its own.
  if (const int code = r.Start(t.R, &st, false)) return code;
  if (const int code = FillFrom(source, st, r)) return code;
  return r.Commit();
}

std::unique_ptr<TReadFile> TPosixPlatform::OpenForReading(const std::string& path, int lock, bool followLink) {
  TFd fd;
  struct stat st{};
  if (const int code = OpenExisting(path, O_RDONLY, followLink, fd, st))
    throw IoFailure(code, "open", path);
  if (const int code = Lock(fd, lock)) throw IoFailure(code, "open", path);
  return std::make_unique<TPosixReadFile>(std::move(fd), st.st_size);
}

std::unique_ptr<TReadFile> TPosixPlatform::OpenExclusive(const std::string& path) {
  return OpenForReading(path, LOCK_EX, false);
}

std::unique_ptr<TReadFile> TPosixPlatform::OpenShared(const std::string& path, bool followLink) {
  return OpenForReading(path, LOCK_SH, followLink);
}

std::unique_ptr<TNewFile> TPosixPlatform::CreateExclusive(const std::string& path) {
  const TTarget t = Resolve(path);
  if (t.Error) throw IoFailure(t.Error, "create", path);
  auto r = std::make_unique<TReplacement>();
  if (const int code = r->Start(t.R, nullptr)) throw IoFailure(code, "create", path);
  r->OfferOldTo(FSpare.get());
  return std::make_unique<TPosixNewFile>(std::move(r), path);
}

void TPosixPlatform::CreateEmpty(const std::string& path) {
  for (int attempt = 0;; ++attempt) {
    const TTarget t = Resolve(path);
    if (t.Error) throw IoFailure(t.Error, "create", path);
    if (t.R.Present) {
      // The name is given an empty file of its own. Emptying the old file where it stands
      // would empty whatever a link or a second name of it leads to as well.
      TReplacement r;
      if (const int code = r.Start(t.R, nullptr, false)) throw IoFailure(code, "create", path);
      r.OfferOldTo(FSpare.get());
      if (const int code = r.Commit()) throw IoFailure(code, "replace", path);
      return;
    }
    if (!t.R.ParentExists) throw IoFailure(kErrPathNotFound, "create", path);
    if (FSpare->Use(t.R.Parent, t.R.Host)) return;
    TFd fd;
    const int code = OpenFd(t.R.Host, O_WRONLY | O_CREAT | O_EXCL, fd, 0666);
    if (code == 0) return;
    // Made by someone else since the lookup: emptied like any file found there.
    if (code != kErrAlreadyExists || attempt > 0) throw IoFailure(code, "create", path);
  }
}

void TPosixPlatform::EndOfBatch() { FSpare->Drop(); }

int TPosixPlatform::CreateIfMissing(const std::string& path) {
  const TTarget t = Resolve(path);
  if (t.Error) return t.Error;
  if (t.R.Exists) return t.R.IsDir ? kErrAccessDenied : 0;
  if (!t.R.ParentExists) return kErrPathNotFound;
  TFd fd;
  const int code = OpenFd(t.R.Host, O_WRONLY | O_CREAT | O_EXCL, fd, 0666);
  return code == kErrAlreadyExists ? 0 : code;
}

void TPosixPlatform::Append(const std::string& path, std::string_view bytes) {
  TFd fd;
  struct stat st{};
  if (const int code = OpenExisting(path, O_WRONLY | O_APPEND, false, fd, st))
    throw IoFailure(code, "append", path);
  if (const int code = Lock(fd, LOCK_EX)) throw IoFailure(code, "append", path);
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
  const TTarget t = Resolve(folder);
  if (t.Error || t.R.Kind != TEntryKind::Folder) return 0;
  return RemoveTemporaries(t.R.Host);
}

int TPosixPlatform::LockFolder(const std::string& folder, const std::string& name,
                               std::unique_ptr<TFolderLock>& lock, std::string& holder) {
  const TTarget t = Resolve(folder);
  if (t.Error) return t.Error;
  if (!t.R.Exists || !t.R.IsDir) return kErrPathNotFound;
  return ClaimFolder(t.R.Host, name, lock, holder);
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

void TPosixPlatform::SetDrive(char letter, const std::string& hostRoot) { FDrives.Set(letter, hostRoot); }

std::string TPosixPlatform::RefusedDrives() { return FDrives.Refused(); }

std::string TPosixPlatform::RealPath(const std::string& path) {
  const std::string host = HostPath(path);
  return host.empty() ? host : ResolvedHostPath(host);
}

std::string TPosixPlatform::HostPath(const std::string& path, int* error) {
  const TTarget t = Resolve(path);
  if (error) *error = t.Error;
  return t.Error ? std::string() : t.R.Host;
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
