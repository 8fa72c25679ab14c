#include "PosixFiles.h"

#include <atomic>
#include <chrono>
#include <fstream>

#include "PosixPaths.h"

namespace posixfiles {

int LastError() { return WinErrorOf(errno); }

int OpenFd(const std::string& path, int flags, TFd& fd, mode_t mode) {
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

void SyncFolder(const std::string& folder) {
  TFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Valid()) ::fsync(dir.Get());
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

int CopyBytes(int from, int to, std::int64_t size) {
  // In the kernel, page cache to page cache. A file system or kernel that cannot says so at
  // the first call, and the bytes then come through a buffer of ours. The copy is of the
  // file as its size was taken: once that many bytes are over, the end is not asked for.
  off64_t in = 0, out = 0;
  for (;;) {
    const ssize_t n = ::copy_file_range(from, &in, to, &out, std::size_t{1} << 30, 0);
    if (n == 0) return 0;
    if (n > 0) {
      if (in >= size) return 0;
      continue;
    }
    if (errno == EINTR) continue;
    if (in == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                    errno == EBADF))
      break;
    return LastError();
  }
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

int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return WinErrorOf(errno);
  // A file system without an atomic "no replace": a hard link refuses an existing name.
  struct stat st{};
  if (::lstat(from.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
    if (::link(from.c_str(), to.c_str()) == 0) {
      ::unlink(from.c_str());
      return 0;
    }
    if (errno == EEXIST) return kErrAlreadyExists;
    if (errno == EXDEV) return WinErrorOf(errno);
  }
  if (::lstat(to.c_str(), &st) == 0) return kErrAlreadyExists;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : LastError();
}


namespace {

// A fresh name for a temporary file: kTempPrefix, six letters or digits, ".tmp".
std::string TempName() {
  static std::atomic<std::uint64_t> counter{0};
  static const std::uint64_t seed = [] {
    std::uint64_t s = static_cast<std::uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull;
    s ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return s;
  }();
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::uint64_t x = seed + counter.fetch_add(1) * 0xBF58476D1CE4E5B9ull;
  x ^= x >> 31;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 29;
  std::string name = kTempPrefix;
  for (int i = 0; i < 6; ++i, x /= 62) name += kLetters[x % 62];
  return name + ".tmp";
}

uid_t EffectiveUser() {
  static const uid_t uid = ::geteuid();
  return uid;
}

}  // namespace

int TReplacement::Start(const TResolved& target, const struct stat* modeFrom, bool lockNew) {
  if (!target.ParentExists) return kErrPathNotFound;
  if (target.Exists && target.IsDir) return kErrAccessDenied;
  FTarget = target.Host;
  FFolder = target.Parent;
  struct stat old{};
  bool hadOld = false;
  if (target.Exists) {
    // Opened for writing as Windows would, so a read-only file is refused (5).
    if (const int code = OpenFd(target.Host, O_RDWR, FOld)) return code;
    if (const int code = Lock(FOld, LOCK_EX)) return code;
    hadOld = ::fstat(FOld.Get(), &old) == 0;
  }
  // Readers of a mirror need the usual mode, not a private one: the new file is made with
  // the mode it must have, and only bits the creation mask took away are put back.
  mode_t mode = 0666 & ~ProcessUmask();
  if (modeFrom) mode = modeFrom->st_mode & 07777;
  else if (hadOld) mode = old.st_mode & 07777;
  for (int attempt = 0; !FTemp.Valid(); ++attempt) {
    std::string name = JoinHost(FFolder, TempName());
    FTemp = TFd(::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777));
    if (FTemp.Valid()) FTempPath = std::move(name);
    else if ((errno != EEXIST && errno != EINTR) || attempt >= 100) return LastError();
  }
  if (lockNew) ::flock(FTemp.Get(), LOCK_EX | LOCK_NB);  // the new file stays ours until we let go
  if ((mode & ProcessUmask()) != 0 || (mode & 07000) != 0) ::fchmod(FTemp.Get(), mode);
  if (hadOld && EffectiveUser() == 0 && ::fchown(FTemp.Get(), old.st_uid, old.st_gid) != 0) {
    // The owner is kept where we may keep it; a file we cannot give away stays ours.
  }
  return 0;
}

bool TSpareFile::Wanted() {
  std::lock_guard<std::mutex> guard(FLock);
  return !FFd.Valid();
}

bool TSpareFile::Keep(TFd& fd, std::string& path, const std::string& folder) {
  std::lock_guard<std::mutex> guard(FLock);
  if (FFd.Valid()) return false;
  FFd = std::move(fd);
  FPath = std::move(path);
  FFolder = folder;
  return true;
}

bool TSpareFile::Use(const std::string& folder, const std::string& target) {
  std::lock_guard<std::mutex> guard(FLock);
  if (!FFd.Valid()) return false;
  // Kept for another folder: the work has moved on, and the next spare is to be of this one.
  if (FFolder != folder || RenameNoReplace(FPath, target) != 0) {
    ::unlink(FPath.c_str());
    FFd.Reset();
    return false;
  }
  // Still empty unless someone wrote into a hidden temporary file; the truncation settles
  // that and stamps the file with now, as a creation would.
  (void)::ftruncate(FFd.Get(), 0);
  FFd.Reset();
  return true;
}

void TSpareFile::Drop() {
  std::lock_guard<std::mutex> guard(FLock);
  if (!FFd.Valid()) return;
  ::unlink(FPath.c_str());
  FFd.Reset();
}

bool TReplacement::OldIsSpare(struct stat& st) {
  if (!FOld.Valid() || ::fstat(FOld.Get(), &st) != 0) return false;
  // Another name would see whatever the spare later becomes; another owner or mode would
  // pass to a file that never had them.
  return S_ISREG(st.st_mode) && st.st_size == 0 && st.st_nlink == 1 && st.st_uid == EffectiveUser() &&
         (st.st_mode & 07777) == (0666 & ~ProcessUmask());
}

int TReplacement::Commit() {
  if (FCommitted) return 0;
  struct stat old{};
  if (FSpare && FSpare->Wanted() && OldIsSpare(old) &&
      ::renameat2(AT_FDCWD, FTempPath.c_str(), AT_FDCWD, FTarget.c_str(), RENAME_EXCHANGE) == 0) {
    // The new file has the name; the old one has the temporary name and is kept if it may
    // be. Should the name have been given to another file meanwhile, that one is dropped,
    // as the rename would have dropped it.
    FCommitted = true;
    std::string oldPath = FTempPath;
    struct stat now{};
    const bool same = ::lstat(oldPath.c_str(), &now) == 0 && now.st_dev == old.st_dev &&
                      now.st_ino == old.st_ino && now.st_size == 0;
    if (!same || !FSpare->Keep(FOld, oldPath, FFolder)) ::unlink(oldPath.c_str());
    return 0;
  }
  // The rename is what keeps readers and a killed process from ever seeing half a file; it
  // needs no sync. A sync per file and per folder would cost a run several times its file
  // work. What a power cut leaves depends on the file system: ext4 (auto_da_alloc, the
  // default) writes the new bytes out before a rename over an old file takes effect, so old
  // or new survives; elsewhere an older or an empty file may.
  if (::rename(FTempPath.c_str(), FTarget.c_str()) != 0) return LastError();
  FCommitted = true;
  return 0;
}

int TReplacement::CommitNoReplace() {
  if (FCommitted) return 0;
  // Only a move across file systems comes here, and it deletes the source next: the copy
  // must be on disk first, or a power cut could lose the file in both places.
  if (::fsync(FTemp.Get()) != 0) return LastError();
  if (const int code = RenameNoReplace(FTempPath, FTarget)) return code;
  FCommitted = true;
  SyncFolder(FFolder);
  return 0;
}

int FillFrom(const TFd& source, const struct stat& st, TReplacement& r) {
  if (const int code = CopyBytes(source.Get(), r.Fd(), st.st_size)) return code;
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ::futimens(r.Fd(), times);
  return 0;
}

}  // namespace posixfiles
