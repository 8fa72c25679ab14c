#pragma once
// The POSIX system calls behind the platform, each wrapped once: descriptors owned by RAII,
// errno turned into a Windows code where the cause is known, share modes as flock(2) locks,
// and the atomic replacement of a file. Private to the platform library.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "Platform.h"
#include "PosixPaths.h"

namespace posixfiles {

// A descriptor, closed when its owner goes. One thread at a time.
class TFd final {
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

// The one place where a host error becomes the Windows code of the failure (ENOENT 2,
// ENOTDIR 3, EMFILE 4, EACCES 5, ENOSPC 112...).
int WinErrorOf(int errnoValue);
// The Windows code of the current errno.
int LastError();
// Opens `path` (O_CLOEXEC added); ENOENT becomes 2 or 3 by whether the folder exists.
int OpenFd(const std::string& path, int flags, TFd& fd, mode_t mode = 0);
// A share mode: LOCK_SH or LOCK_EX without waiting; a lock that is refused is 32.
int Lock(const TFd& fd, int operation);
// Writes all n bytes at offset; 0 or the code.
int WriteAll(int fd, std::int64_t offset, const char* p, std::size_t n);
// Makes a rename in `folder` durable (best effort).
void SyncFolder(const std::string& folder);
// The process's file creation mask, read once.
mode_t ProcessUmask();
// Copies the bytes of one descriptor into another, from the start (in the kernel where it
// can: no trip through our memory). It ends at the end of the file, or once `size` bytes
// (the size taken when the source was opened) are over.
int CopyBytes(int from, int to, std::int64_t size);
// Renames without ever replacing an existing name (kErrAlreadyExists when there is one);
// across file systems kErrNotSameDevice, for the caller to copy instead.
int RenameNoReplace(const std::string& from, const std::string& to);

// See TReadFile: one thread at a time.
class TPosixReadFile final : public TReadFile {
 public:
  // `openedSize`: the size the file had when it was opened (its stat was taken then anyway),
  // the answer to a Size() asked before anything else; -1 when unknown.
  // `path`: the path it was opened by, for the failures it reports.
  explicit TPosixReadFile(TFd fd, std::int64_t openedSize = -1, std::string path = "")
      : FFd(std::move(fd)), FOpenedSize(openedSize), FPath(std::move(path)) {}
  std::int64_t Size() override {
    if (FOpenedSize >= 0) {
      const std::int64_t size = FOpenedSize;
      FOpenedSize = -1;
      return size;
    }
    struct stat st{};
    if (::fstat(FFd.Get(), &st) != 0) throw IoFailure(LastError(), "size", FPath);
    return st.st_size;
  }
  std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t n) override {
    FOpenedSize = -1;
    std::size_t got = 0;
    auto* p = static_cast<char*>(buffer);
    while (got < n) {
      const ssize_t r = ::pread(FFd.Get(), p + got, n - got, static_cast<off_t>(offset) + static_cast<off_t>(got));
      if (r < 0) {
        if (errno == EINTR) continue;
        throw IoFailure(LastError(), "read", FPath);
      }
      if (r == 0) break;
      got += static_cast<std::size_t>(r);
    }
    return got;
  }

 private:
  TFd FFd;
  std::int64_t FOpenedSize;
  std::string FPath;
};

// One empty file kept for reuse instead of being deleted, since some file systems make every
// later creation in a folder slower for each file deleted in it. The replacement of an empty
// file swaps the two names and hands the old, empty file here (under a hidden temporary
// name); the next empty file wanted in that folder is this one, renamed into place. It is
// never written into: a reader that still holds it open sees no bytes, as before.
//
// Safe for concurrent use: the run's two threads both replace files.
class TSpareFile final {
 public:
  ~TSpareFile() { Drop(); }
  // Whether a file would be kept (none is kept now).
  bool Wanted();
  // Keeps the empty file open as `fd` at `path` in `folder` (all taken over); false, with
  // nothing taken, when a file is kept already.
  bool Keep(TFd& fd, std::string& path, const std::string& folder);
  // Renames the kept file to `target` (never over an existing file) when it lies in
  // `folder`, and empties it once more, which also gives it the time of its new use. False
  // when no file could be used; a kept file of another folder, or one that could not be
  // moved, is deleted.
  bool Use(const std::string& folder, const std::string& target);
  // Deletes the kept file, if any.
  void Drop();

 private:
  std::mutex FLock;
  TFd FFd;
  std::string FPath, FFolder;
};

// The atomic replacement of one file: the old file (if any) locked exclusively, the new bytes
// in a hidden temporary file of the same folder, renamed over the old one on Commit. One
// thread at a time.
class TReplacement final {
 public:
  ~TReplacement() {
    if (!FCommitted && !FTempPath.empty()) ::unlink(FTempPath.c_str());
  }

  // 0 or the code why the replacement cannot start. `modeFrom`: the file whose mode the new
  // one takes (else that of the old file, else the mode of a plainly created file).
  // `lockNew`: the new file is locked exclusively as well, for a caller that hands it out
  // (TNewFile) and so must keep others out of it until it is let go.
  int Start(const posixpaths::TResolved& target, const struct stat* modeFrom, bool lockNew = true);

  int Fd() const { return FTemp.Get(); }
  // An old file that is empty, unshared and plainly ours goes to `spare` on Commit instead
  // of being deleted by the rename.
  void OfferOldTo(TSpareFile* spare) { FSpare = spare; }

  // Renames the new file over the old one.
  int Commit();
  // Puts the new file in place only when no file of the target name exists (183).
  int CommitNoReplace();

 private:
  // Whether the old file (its stat into `st`) may be kept as a spare: empty, one name only,
  // ours, plain mode.
  bool OldIsSpare(struct stat& st);

  TFd FOld, FTemp;
  std::string FTarget, FFolder, FTempPath;
  bool FCommitted = false;
  TSpareFile* FSpare = nullptr;
};

// See TNewFile: one thread at a time.
class TPosixNewFile final : public TNewFile {
 public:
  TPosixNewFile(std::unique_ptr<TReplacement> r, std::string path)
      : FReplacement(std::move(r)), FPath(std::move(path)) {}
  void WriteAt(std::int64_t offset, const void* buffer, std::size_t n) override {
    if (const int code = WriteAll(FReplacement->Fd(), offset, static_cast<const char*>(buffer), n))
      throw IoFailure(code, "write", FPath);
  }
  void Commit() override {
    if (const int code = FReplacement->Commit()) throw IoFailure(code, "replace", FPath);
  }

 private:
  std::unique_ptr<TReplacement> FReplacement;
  std::string FPath;
};

// Copies an opened source (`st` its stat) into a replacement, with its modification time.
int FillFrom(const TFd& source, const struct stat& st, TReplacement& r);

// Deletes the temporary files of replacements in the host folder `folder` that no live
// replacement holds (see TPlatform::RemoveLeftovers). Returns how many went.
int RemoveTemporaries(const std::string& folder);
// Whether `name` is a temporary file's name as TReplacement makes them.
bool IsTemporaryName(std::string_view name);

// Claims the host folder `folder` through the lock file `name` in it (see
// TPlatform::LockFolder).
int ClaimFolder(const std::string& folder, const std::string& name, std::unique_ptr<TFolderLock>& lock,
                std::string& holder);

// `host` with every link in its longest existing part resolved.
std::string ResolvedHostPath(const std::string& host);

}  // namespace posixfiles
