#include "PosixFiles.h"

#include <dirent.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "PosixFolders.h"
#include "PosixPaths.h"

namespace posixfiles {

int WriterCheck(int fd, bool keep) {
  // A lease break would raise SIGIO, whose default ends the process; the lease is let go when
  // its file is closed, which is soon, so the signal has nothing to say.
  static const bool ignored = [] { return ::signal(SIGIO, SIG_IGN) != SIG_ERR; }();
  (void)ignored;
  if (::fcntl(fd, F_SETLEASE, F_RDLCK) != 0) return errno == EAGAIN || errno == EBUSY ? kErrSharingViolation : 0;
  if (!keep) (void)::fcntl(fd, F_SETLEASE, F_UNLCK);
  return 0;
}


using posixpaths::JoinHost;
using posixpaths::kTempPrefix;

// ENOENT is reported as "file missing" here; the callers turn it into "path missing" where
// they know that the parent folder is gone.
int WinErrorOf(int errnoValue) {
  switch (errnoValue) {
    case 0: return 0;
    case ENOENT: return kErrFileNotFound;
    case ENOTDIR: return kErrPathNotFound;
    case ELOOP: return kErrPathNotFound;
    case EMFILE:
    case ENFILE: return kErrTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case ETXTBSY: return kErrAccessDenied;
    case EROFS: return kErrWriteProtect;
    case EWOULDBLOCK:
    case EBUSY: return kErrSharingViolation;
    case ENOSPC:
    case EDQUOT: return kErrDiskFull;
    case EEXIST: return kErrAlreadyExists;
    case ENOTEMPTY: return kErrDirNotEmpty;
    case EXDEV: return kErrNotSameDevice;
    case ENAMETOOLONG: return kErrNameTooLong;
    case EILSEQ:
    case EINVAL: return kErrInvalidName;
    case ENOMEM: return kErrNotEnoughMemory;
    case EIO: return kErrIoDevice;
    case EFBIG: return kErrDiskFull;
    case EBADF: return kErrInvalidHandle;
    default: return kErrDeviceFailure;
  }
}

int LastError() { return WinErrorOf(errno); }

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

void SyncFolder(int folder) {
  TFd dir(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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

int RenameNoReplace(int fromDir, const std::string& from, int toDir, const std::string& to) {
  if (::renameat2(fromDir, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return WinErrorOf(errno);
  // A file system without an atomic "no replace": a hard link refuses an existing name.
  struct stat st{};
  if (::fstatat(fromDir, from.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode)) {
    if (::linkat(fromDir, from.c_str(), toDir, to.c_str(), 0) == 0) {
      ::unlinkat(fromDir, from.c_str(), 0);
      return 0;
    }
    if (errno == EEXIST) return kErrAlreadyExists;
    if (errno == EXDEV) return WinErrorOf(errno);
  }
  if (::fstatat(toDir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return kErrAlreadyExists;
  return ::renameat(fromDir, from.c_str(), toDir, to.c_str()) == 0 ? 0 : LastError();
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

gid_t EffectiveGroup() {
  static const gid_t gid = ::getegid();
  return gid;
}

}  // namespace

TReplacement::~TReplacement() {
  if (!FCommitted && !FTempName.empty()) ::unlinkat(FFolder->Fd.Get(), FTempName.c_str(), 0);
}

int TReplacement::Start(std::shared_ptr<const TFolder> folder, const std::string& name, const struct stat* old,
                        const struct stat* modeFrom, bool lockNew) {
  if (old && S_ISDIR(old->st_mode)) return kErrAccessDenied;
  FFolder = std::move(folder);
  FName = name;
  const bool hadOld = old && S_ISREG(old->st_mode);
  // Readers of a mirror need the usual mode, not a private one: the new file is made with
  // the mode it must have, and only bits the creation mask took away are put back.
  mode_t mode = 0666 & ~ProcessUmask();
  if (modeFrom) mode = modeFrom->st_mode & 07777;
  else if (hadOld) mode = old->st_mode & 07777;
  for (int attempt = 0; !FTemp.Valid(); ++attempt) {
    std::string temp = TempName();
    FTemp = TFd(::openat(FFolder->Fd.Get(), temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777));
    if (FTemp.Valid()) FTempName = std::move(temp);
    else if ((errno != EEXIST && errno != EINTR) || attempt >= 100) return LastError();
  }
  if (lockNew) ::flock(FTemp.Get(), LOCK_EX | LOCK_NB);  // the new file stays ours until we let go
  if ((mode & ProcessUmask()) != 0 || (mode & 07000) != 0) ::fchmod(FTemp.Get(), mode);
  // The owner is kept where we may keep it (a file we cannot give away stays ours), and asked
  // for only when it is someone else's.
  if (hadOld && EffectiveUser() == 0 && (old->st_uid != 0 || old->st_gid != EffectiveGroup()) &&
      ::fchown(FTemp.Get(), old->st_uid, old->st_gid) != 0) {
  }
  return 0;
}

int TReplacement::Commit() {
  if (FCommitted) return 0;
  // The rename keeps readers and a killed process from ever seeing half a file. Nothing is
  // synced: what a power cut leaves is the file system's business, and a sync per file would
  // outweigh the run's own work.
  const int dir = FFolder->Fd.Get();
  if (::renameat(dir, FTempName.c_str(), dir, FName.c_str()) != 0) return LastError();
  FCommitted = true;
  return 0;
}

int TReplacement::CommitNoReplace() {
  if (FCommitted) return 0;
  // Only a move across file systems comes here, and it deletes the source next: the copy
  // must be on disk first, or a power cut could lose the file in both places.
  if (::fsync(FTemp.Get()) != 0) return LastError();
  const int dir = FFolder->Fd.Get();
  if (const int code = RenameNoReplace(dir, FTempName, dir, FName)) return code;
  FCommitted = true;
  SyncFolder(dir);
  return 0;
}

int FillFrom(const TFd& source, const struct stat& st, TReplacement& r) {
  if (const int code = CopyBytes(source.Get(), r.Fd(), st.st_size)) return code;
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ::futimens(r.Fd(), times);
  return 0;
}

bool IsTemporaryName(std::string_view name) {
  constexpr std::string_view prefix = kTempPrefix;
  constexpr std::string_view suffix = ".tmp";
  if (name.size() != prefix.size() + 6 + suffix.size()) return false;
  if (name.substr(0, prefix.size()) != prefix || name.substr(name.size() - suffix.size()) != suffix) return false;
  for (const char c : name.substr(prefix.size(), 6))
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

int RemoveTemporaries(int folder) {
  TFd dir(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.Valid()) return 0;
  DIR* stream = ::fdopendir(dir.Get());
  if (!stream) return 0;
  dir.Release();  // the stream owns it now
  int removed = 0;
  while (const dirent* e = ::readdir(stream)) {
    if (!IsTemporaryName(e->d_name)) continue;
    if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN) continue;
    // A replacement still at work holds its file locked: that one is left to finish.
    TFd fd(::openat(::dirfd(stream), e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st{};
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) continue;
    if (::unlinkat(::dirfd(stream), e->d_name, 0) == 0) ++removed;
  }
  ::closedir(stream);
  return removed;
}

namespace {

// A claim on a folder: the lock file, locked, removed again before it is let go so that the
// folder is left as it was found.
class TPosixFolderLock final : public TFolderLock {
 public:
  TPosixFolderLock(TFd fd, std::shared_ptr<const TFolder> folder, std::string name, const struct stat& st,
                   std::function<void()> released)
      : FFd(std::move(fd)), FFolder(std::move(folder)), FName(std::move(name)), FDev(st.st_dev), FIno(st.st_ino),
        FReleased(std::move(released)) {}
  ~TPosixFolderLock() override {
    // Removed while still locked: whoever opened it meanwhile finds, once it has the lock,
    // that the name no longer leads to it, and claims afresh.
    struct stat now{};
    const int dir = FFolder->Fd.Get();
    if (::fstatat(dir, FName.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == FDev && now.st_ino == FIno)
      ::unlinkat(dir, FName.c_str(), 0);
    if (FReleased) FReleased();
  }

 private:
  TFd FFd;
  std::shared_ptr<const TFolder> FFolder;
  std::string FName;
  dev_t FDev;
  ino_t FIno;
  std::function<void()> FReleased;
};

// The process that holds a flock on the file (`st` its stat), from the kernel's list of
// locks: its number and its program's name, or "" when it cannot be told.
std::string FlockHolder(const struct stat& st) {
  std::ifstream locks("/proc/locks");
  char id[32];
  std::snprintf(id, sizeof id, "%02x:%02x:%llu", ::major(st.st_dev), ::minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  for (std::string line; std::getline(locks, line);) {
    // "1: FLOCK  ADVISORY  WRITE 1234 fd:00:5678 0 EOF"
    std::istringstream fields(line);
    std::string number, type, mode, access, pid, file;
    if (!(fields >> number >> type >> mode >> access >> pid >> file)) continue;
    if (type != "FLOCK" || file != id) continue;
    std::ifstream comm("/proc/" + pid + "/comm");
    std::string program;
    std::getline(comm, program);
    return program.empty() ? pid : pid + " (" + program + ")";
  }
  return {};
}

}  // namespace

int ClaimFolder(std::shared_ptr<const TFolder> folder, const std::string& name, std::unique_ptr<TFolderLock>& lock,
                std::string& holder, std::function<void()> released) {
  const int dir = folder->Fd.Get();
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Read-only: the file is only ever locked, never written, whatever a stranger made of it.
    TFd fd(::openat(dir, name.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    if (!fd.Valid()) return errno == ELOOP ? kErrNotAFile : LastError();
    struct stat st{};
    if (::fstat(fd.Get(), &st) != 0) return LastError();
    if (!S_ISREG(st.st_mode)) return kErrNotAFile;
    int rc;
    do {
      rc = ::flock(fd.Get(), LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      if (errno != EWOULDBLOCK) return LastError();
      holder = FlockHolder(st);
      return kErrSharingViolation;
    }
    struct stat now{};
    if (::fstatat(dir, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == st.st_dev &&
        now.st_ino == st.st_ino) {
      lock = std::make_unique<TPosixFolderLock>(std::move(fd), std::move(folder), name, st, std::move(released));
      return 0;
    }
    // The holder before us removed it as we opened it: the claim starts again on a new file.
  }
  return kErrSharingViolation;
}

std::string ResolvedHostPath(const std::string& host) {
  std::string head = host;
  std::string tail;
  for (;;) {
    if (char* real = ::realpath(head.empty() ? "/" : head.c_str(), nullptr)) {
      std::string out = real;
      std::free(real);
      if (!tail.empty()) out = JoinHost(out == "/" ? "" : out, tail);
      return out;
    }
    const auto slash = head.find_last_of('/');
    if (slash == std::string::npos || head.empty()) return host;
    tail = tail.empty() ? head.substr(slash + 1) : head.substr(slash + 1) + "/" + tail;
    head.resize(slash);
  }
}

}  // namespace posixfiles
