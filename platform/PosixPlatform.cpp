#include "PosixPlatform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>
#include <algorithm>
#include <dirent.h>

#include "Convert.h"
#include "PosixPaths.h"

using namespace posixpaths;

namespace {

// --- Descriptors and system calls, each wrapped once ---

class TFd {
 public:
  TFd() = default;
  explicit TFd(int fd) : FFd(fd) {}
  ~TFd() { Reset(); }
  TFd(TFd&& o) noexcept : FFd(o.Release()) {}
  TFd& operator=(TFd&& o) noexcept {
    if (this != &o) {
      Reset();
      FFd = o.Release();
    }
    return *this;
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  int Release() {
    const int fd = FFd;
    FFd = -1;
    return fd;
  }
  void Reset() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
  }

 private:
  int FFd = -1;
};

int LastError() { return WinErrorOf(errno); }

// The code for a missing last component: the file is missing when its folder is there, else
// the path is.
int MissingCode(const TResolved& r) { return r.ParentExists ? kErrFileNotFound : kErrPathNotFound; }

// Opens `path`; ENOENT becomes 2 or 3 by whether the folder exists.
int OpenFd(const std::string& path, int flags, TFd& fd, mode_t mode = 0) {
  do {
    fd = TFd(::open(path.c_str(), flags | O_CLOEXEC, mode));
  } while (!fd.Valid() && errno == EINTR);
  if (fd.Valid()) return 0;
  const int err = errno;
  if (err == ENOENT) {
    struct stat st{};
    const auto slash = path.find_last_of('/');
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? kErrFileNotFound : kErrPathNotFound;
  }
  return WinErrorOf(err);
}

// A share mode: a lock that is refused is a sharing violation.
int Lock(const TFd& fd, int operation) {
  int rc;
  do {
    rc = ::flock(fd.Get(), operation | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return 0;
  return errno == EWOULDBLOCK ? kErrSharingViolation : LastError();
}

int WriteAll(int fd, std::int64_t offset, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::pwrite(fd, p, n, static_cast<off_t>(offset));
    if (w < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (w == 0) return kErrDiskFull;
    p += w;
    n -= static_cast<std::size_t>(w);
    offset += w;
  }
  return 0;
}

int SyncFolder(const std::string& folder) {
  TFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Valid()) ::fsync(dir.Get());
  return 0;
}

mode_t ProcessUmask() {
  static const mode_t mask = [] {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    return static_cast<mode_t>(022);
  }();
  return mask;
}

// Copies the bytes of one descriptor into another, from the start.
int CopyBytes(int from, int to) {
  char buffer[1 << 16];
  std::int64_t offset = 0;
  for (;;) {
    const ssize_t r = ::pread(from, buffer, sizeof buffer, static_cast<off_t>(offset));
    if (r < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (r == 0) return 0;
    if (const int code = WriteAll(to, offset, buffer, static_cast<std::size_t>(r))) return code;
    offset += r;
  }
}

// Renames without ever replacing an existing name (183 when there is one). EXDEV comes
// back as 17 for the caller to copy instead.
int RenameNoReplace(const std::string& from, const std::string& to, bool isDir) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return WinErrorOf(errno);
  // A file system without an atomic "no replace": a hard link refuses an existing name.
  if (!isDir && ::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return 0;
  }
  if (errno == EEXIST) return kErrAlreadyExists;
  if (errno == EXDEV) return WinErrorOf(errno);
  struct stat st{};
  if (::lstat(to.c_str(), &st) == 0) return kErrAlreadyExists;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : LastError();
}

// --- Opened files ---

class TPosixReadFile final : public TReadFile {
 public:
  explicit TPosixReadFile(TFd fd) : FFd(std::move(fd)) {}
  std::int64_t Size() override {
    struct stat st{};
    if (::fstat(FFd.Get(), &st) != 0) throw IoFailure(LastError());
    return st.st_size;
  }
  std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t n) override {
    std::size_t got = 0;
    auto* p = static_cast<char*>(buffer);
    while (got < n) {
      const ssize_t r = ::pread(FFd.Get(), p + got, n - got, static_cast<off_t>(offset) + static_cast<off_t>(got));
      if (r < 0) {
        if (errno == EINTR) continue;
        throw IoFailure(LastError());
      }
      if (r == 0) break;
      got += static_cast<std::size_t>(r);
    }
    return got;
  }

 private:
  TFd FFd;
};

// The atomic replacement of one file: the old file (if any) locked exclusively, the new bytes
// in a hidden temporary file of the same folder, renamed over the old one on Commit.
class TReplacement {
 public:
  ~TReplacement() {
    if (!FCommitted && !FTempPath.empty()) ::unlink(FTempPath.c_str());
  }

  // 0 or the code why the replacement cannot start.
  int Start(const TResolved& target, const struct stat* modeFrom) {
    if (!target.ParentExists) return kErrPathNotFound;
    if (target.Exists && target.IsDir) return kErrAccessDenied;
    FTarget = target.Host;
    FFolder = target.Parent;
    struct stat old{};
    bool hadOld = false;
    if (target.Exists) {
      if (const int code = OpenFd(target.Host, O_RDWR, FOld)) return code;
      if (const int code = Lock(FOld, LOCK_EX)) return code;
      hadOld = ::fstat(FOld.Get(), &old) == 0;
    }
    std::string name = JoinHost(FFolder, std::string(kTempPrefix) + "XXXXXX.tmp");
    FTemp = TFd(::mkostemps(name.data(), 4, O_CLOEXEC));
    if (!FTemp.Valid()) return LastError();
    FTempPath = name;
    ::flock(FTemp.Get(), LOCK_EX | LOCK_NB);  // the new file stays ours until we let go
    // mkstemp makes a private file; the result gets the mode a plainly created file would
    // have, or that of the file it replaces.
    mode_t mode = 0666 & ~ProcessUmask();
    if (modeFrom) mode = modeFrom->st_mode & 07777;
    else if (hadOld) mode = old.st_mode & 07777;
    ::fchmod(FTemp.Get(), mode);
    if (hadOld && ::geteuid() == 0) {
      if (::fchown(FTemp.Get(), old.st_uid, old.st_gid) != 0) {
      }
    }
    return 0;
  }

  int Fd() const { return FTemp.Get(); }

  int Commit() {
    if (FCommitted) return 0;
    // The bytes reach the disk before the name does, so a power cut leaves the old file or
    // the new one.
    if (::fsync(FTemp.Get()) != 0) return LastError();
    if (::rename(FTempPath.c_str(), FTarget.c_str()) != 0) return LastError();
    FCommitted = true;
    SyncFolder(FFolder);
    return 0;
  }

  // Puts the temporary file in place only when no file of the target name exists.
  int CommitNoReplace() {
    if (::fsync(FTemp.Get()) != 0) return LastError();
    if (const int code = RenameNoReplace(FTempPath, FTarget, false)) return code;
    FCommitted = true;
    SyncFolder(FFolder);
    return 0;
  }

  void Discard() {
    if (!FCommitted && !FTempPath.empty()) ::unlink(FTempPath.c_str());
    FTempPath.clear();
    FTarget.clear();
  }

  const std::string& Target() const { return FTarget; }

 private:
  TFd FOld, FTemp;
  std::string FTarget, FFolder, FTempPath;
  bool FCommitted = false;
};

class TPosixNewFile final : public TNewFile {
 public:
  explicit TPosixNewFile(std::unique_ptr<TReplacement> r) : FReplacement(std::move(r)) {}
  void WriteAt(std::int64_t offset, const void* buffer, std::size_t n) override {
    if (const int code = WriteAll(FReplacement->Fd(), offset, static_cast<const char*>(buffer), n))
      throw IoFailure(code);
  }
  void Commit() override {
    if (const int code = FReplacement->Commit()) throw IoFailure(code);
  }

 private:
  std::unique_ptr<TReplacement> FReplacement;
};

// Copies an opened source into a replacement, with its mode and modification time.
int FillFrom(const TFd& source, TReplacement& r) {
  if (const int code = CopyBytes(source.Get(), r.Fd())) return code;
  struct stat st{};
  if (::fstat(source.Get(), &st) == 0) {
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(r.Fd(), times);
  }
  return 0;
}

}  // namespace

// --- TPosixPlatform ---

TPosixPlatform::TPosixPlatform(std::string hostProgramPath, std::string homeDir)
    : FHostProgramPath(std::move(hostProgramPath)),
      FHomeDir(homeDir.empty() ? std::string() : NormalHostPath(homeDir)) {}

namespace {

struct TTarget {
  int Error = 0;
  TResolved R;
};

}  // namespace

static TTarget Resolve(std::mutex& lock, const std::map<char, std::string>& drives,
                       const std::string& path, bool lastIsPattern = false) {
  TParsedPath parsed;
  {
    std::lock_guard<std::mutex> guard(lock);
    parsed = ParseDrivePath(path, drives, lastIsPattern);
  }
  TTarget t;
  t.Error = parsed.Error;
  if (t.Error == 0) t.R = Lookup(parsed, lastIsPattern);
  return t;
}

std::vector<TFindEntry> TPosixPlatform::FindFiles(const std::string& pattern) {
  TParsedPath parsed;
  {
    std::lock_guard<std::mutex> guard(FDrivesLock);
    parsed = ParseDrivePath(pattern, FDrives, true);
  }
  if (parsed.Error || parsed.Parts.empty()) return {};
  const TResolved r = Lookup(parsed, true);
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
    if (!WildMatch(wildcard, gbk)) continue;
    bool isDir = e->d_type == DT_DIR;
    if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
      struct stat st{};
      isDir = ::stat(JoinHost(r.Parent, host).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    found.push_back(TFound{UpperAscii(host), host, TFindEntry{std::move(gbk), isDir}});
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
  const TTarget t = Resolve(FDrivesLock, FDrives, path);
  return t.Error == 0 && t.R.Exists && !t.R.IsDir;
}

bool TPosixPlatform::DirectoryExists(const std::string& path) {
  const TTarget t = Resolve(FDrivesLock, FDrives, path);
  return t.Error == 0 && t.R.Exists && t.R.IsDir;
}

int TPosixPlatform::CreateDir(const std::string& path) {
  const TTarget t = Resolve(FDrivesLock, FDrives, path);
  if (t.Error) return t.Error;
  if (t.R.Present) return kErrAlreadyExists;
  if (!t.R.ParentExists) return kErrPathNotFound;
  if (::mkdir(t.R.Host.c_str(), 0777) != 0) return errno == ENOENT ? kErrPathNotFound : LastError();
  return 0;
}

int TPosixPlatform::DeleteFile(const std::string& path) {
  const TTarget t = Resolve(FDrivesLock, FDrives, path);
  if (t.Error) return t.Error;
  if (!t.R.Present) return MissingCode(t.R);
  if (t.R.IsDir) return kErrAccessDenied;
  // A file someone holds open through this interface cannot be deleted, as on Windows.
  TFd fd;
  if (t.R.Exists && OpenFd(t.R.Host, O_RDONLY | O_NONBLOCK, fd) == 0)
    if (const int code = Lock(fd, LOCK_EX)) return code;
  if (::unlink(t.R.Host.c_str()) != 0) return LastError();
  return 0;
}

int TPosixPlatform::MoveFile(const std::string& from, const std::string& to) {
  const TTarget f = Resolve(FDrivesLock, FDrives, from);
  if (f.Error) return f.Error;
  if (!f.R.Present) return MissingCode(f.R);
  const TTarget t = Resolve(FDrivesLock, FDrives, to);
  if (t.Error) return t.Error;
  if (!t.R.ParentExists) return kErrPathNotFound;

  std::string destination = t.R.Host;
  if (t.R.Present) {
    // The same file under a name that differs in case only: a rename to the new case.
    struct stat a{}, b{};
    const bool same = ::lstat(f.R.Host.c_str(), &a) == 0 && ::lstat(t.R.Host.c_str(), &b) == 0 &&
                      a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    if (!same) return kErrAlreadyExists;
    destination = JoinHost(t.R.Parent, GbkToUtf8(to.substr(LastPathDelimiter(to) + 1)));
    if (destination == f.R.Host) return 0;
  }

  TFd source;
  if (f.R.Exists && !f.R.IsDir && OpenFd(f.R.Host, O_RDONLY | O_NONBLOCK, source) == 0)
    if (const int code = Lock(source, LOCK_EX)) return code;

  const int moved = RenameNoReplace(f.R.Host, destination, f.R.IsDir);
  if (moved != 17) return moved;  // done, or failed for a reason a copy would not mend
  if (f.R.IsDir || !source.Valid()) return 17;  // folders do not move across devices

  // Across file systems: copy into the destination folder, put it in place without
  // replacing anything, then delete the source. When the source cannot be deleted the copy
  // goes again, so the move either happened or did not.
  TReplacement r;
  TResolved target = t.R;
  target.Host = destination;
  target.Exists = target.Present = false;
  if (const int code = r.Start(target, nullptr)) return code;
  struct stat st{};
  if (::fstat(source.Get(), &st) == 0) ::fchmod(r.Fd(), st.st_mode & 07777);
  if (const int code = FillFrom(source, r)) return code;
  if (const int code = r.CommitNoReplace()) return code;
  if (::unlink(f.R.Host.c_str()) != 0) {
    const int code = LastError();
    ::unlink(destination.c_str());
    return code;
  }
  return 0;
}

int TPosixPlatform::CopyFileOver(const std::string& from, const std::string& to) {
  const TTarget f = Resolve(FDrivesLock, FDrives, from);
  if (f.Error) return f.Error;
  if (!f.R.Exists) return MissingCode(f.R);
  if (f.R.IsDir) return kErrAccessDenied;
  const TTarget t = Resolve(FDrivesLock, FDrives, to);
  if (t.Error) return t.Error;

  TFd source;
  if (const int code = OpenFd(f.R.Host, O_RDONLY, source)) return code;
  if (const int code = Lock(source, LOCK_SH)) return code;
  struct stat st{};
  if (::fstat(source.Get(), &st) != 0) return LastError();
  TReplacement r;
  if (const int code = r.Start(t.R, &st)) return code;
  if (const int code = FillFrom(source, r)) return code;
  return r.Commit();
}

std::unique_ptr<TReadFile> TPosixPlatform::OpenExclusive(const std::string& path) {
  const TTarget t = Resolve(FDrivesLock, FDrives, path);
  if (t.Error) throw IoFailure(t.Error);
  if (!t.R.Exists) throw IoFailure(MissingCode(t.R));
  if (t.R.IsDir) throw IoFailure(kErrAccessDenied);
  TFd fd;
  if (const int code = OpenFd(t.R.Host, O_RDONLY, fd)) throw IoFailure(code);
  if (const int code = Lock(fd, LOCK_EX)) throw IoFailure(code);
  return std::make_unique<TPosixReadFile>(std::move(fd));
}

std::unique_ptr<TReadFile> TPosixPlatform::OpenShared(const std::string& path) {
  const TTarget t = Resolve(FDrivesLock, FDrives, path);
  if (t.Error) throw IoFailure(t.Error);
  if (!t.R.Exists) throw IoFailure(MissingCode(t.R));
  if (t.R.IsDir) throw IoFailure(kErrAccessDenied);
  TFd fd;
  if (const int code = OpenFd(t.R.Host, O_RDONLY, fd)) throw IoFailure(code);
  if (const int code = Lock(fd, LOCK_SH)) throw IoFailure(code);
  return std::make_unique<TPosixReadFile>(std::move(fd));
}

std::unique_ptr<TNewFile> TPosixPlatform::CreateExclusive(const std::string& path) {
  const TTarget t = Resolve(FDrivesLock, FDrives, path);
  if (t.Error) throw IoFailure(t.Error);
  auto r = std::make_unique<TReplacement>();
  if (const int code = r->Start(t.R, nullptr)) throw IoFailure(code);
  return std::make_unique<TPosixNewFile>(std::move(r));
}

int TPosixPlatform::CreateIfMissing(const std::string& path) {
  const TTarget t = Resolve(FDrivesLock, FDrives, path);
  if (t.Error) return t.Error;
  if (t.R.Exists) return t.R.IsDir ? kErrAccessDenied : 0;
  if (!t.R.ParentExists) return kErrPathNotFound;
  TFd fd;
  const int code = OpenFd(t.R.Host, O_WRONLY | O_CREAT | O_EXCL, fd, 0666);
  return code == kErrAlreadyExists ? 0 : code;
}

void TPosixPlatform::Append(const std::string& path, std::string_view bytes) {
  const TTarget t = Resolve(FDrivesLock, FDrives, path);
  if (t.Error) throw IoFailure(t.Error);
  if (!t.R.Exists) throw IoFailure(MissingCode(t.R));
  if (t.R.IsDir) throw IoFailure(kErrAccessDenied);
  TFd fd;
  if (const int code = OpenFd(t.R.Host, O_WRONLY | O_APPEND, fd)) throw IoFailure(code);
  if (const int code = Lock(fd, LOCK_EX)) throw IoFailure(code);
  const char* p = bytes.data();
  std::size_t n = bytes.size();
  while (n > 0) {
    const ssize_t w = ::write(fd.Get(), p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      throw IoFailure(LastError());
    }
    if (w == 0) throw IoFailure(kErrDiskFull);
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

TDateTime TPosixPlatform::Now() { return SystemNow(); }

void TPosixPlatform::Sleep(int milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string TPosixPlatform::ProgramPath() {
  const std::string program = NormalHostPath(FHostProgramPath);
  if (FHomeDir.empty()) return DrivePath(program);
  const std::string name = program.substr(program.find_last_of('/') + 1);
  return DrivePath(JoinHost(FHomeDir, name));
}

void TPosixPlatform::SetDrive(char letter, const std::string& hostRoot) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Y') return;
  std::lock_guard<std::mutex> guard(FDrivesLock);
  if (hostRoot.empty()) {
    FDrives.erase(letter);
    return;
  }
  const std::string root = NormalHostPath(hostRoot);
  FDrives[letter] = root == "/" ? std::string() : root;
}

std::string TPosixPlatform::HostPath(const std::string& path, int* error) {
  const TTarget t = Resolve(FDrivesLock, FDrives, path);
  if (error) *error = t.Error;
  return t.Error ? std::string() : t.R.Host;
}

std::string TPosixPlatform::DrivePath(const std::string& hostPath) {
  const std::string host = NormalHostPath(hostPath);
  char letter = 'Z';
  std::size_t rootLength = 0;
  {
    std::lock_guard<std::mutex> guard(FDrivesLock);
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

std::string HostProgramPath() {
  std::string buffer(PATH_MAX, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0) return {};
  buffer.resize(static_cast<std::size_t>(n));
  return buffer;
}
