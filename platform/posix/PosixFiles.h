#pragma once
// The POSIX system calls behind the platform, each wrapped once: descriptors owned by RAII,
// errno turned into a Windows code where the cause is known, and the atomic replacement of a
// file, done relative to the handle of its folder. Private to the platform library.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdint>
#include <functional>
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
// Writes all n bytes at offset; 0 or the code.
int WriteAll(int fd, std::int64_t offset, const char* p, std::size_t n);
// Makes a rename in the folder of the handle `folder` durable (best effort).
void SyncFolder(int folder);
// The process's file creation mask, read once.
mode_t ProcessUmask();
// Copies the bytes of one descriptor into another, from the start (in the kernel where it
// can: no trip through our memory). It ends at the end of the file, or once `size` bytes
// (the size taken when the source was opened) are over.
int CopyBytes(int from, int to, std::int64_t size);
// Renames `from` in the folder `fromDir` to `to` in `toDir` without ever replacing an
// existing name (kErrAlreadyExists when there is one); across file systems
// kErrNotSameDevice, for the caller to copy instead.
int RenameNoReplace(int fromDir, const std::string& from, int toDir, const std::string& to);

struct TFolder;

// Whether another process has the plain file of `fd` (opened read-only) open for writing, as
// a read lease tells it: 0 when nobody has, 32 (kErrSharingViolation) when someone has. With
// `keep` the lease stays on the descriptor: until it is closed, another process's open for
// writing waits (the process ignores the SIGIO that asks it to let go), so that what was found
// whole is read whole. Where no lease can be had (a file system without leases, a file of
// another owner to a process without CAP_LEASE) nothing can be told, and the answer is 0.
int WriterCheck(int fd, bool keep);

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

// The atomic replacement of one file: the new bytes in a hidden temporary file of the same
// folder, renamed over the old name on Commit, so that a reader sees the old file or the new
// one, and a name that was a link is replaced, never written through. One thread at a time.
class TReplacement final {
 public:
  ~TReplacement();

  // 0 or the code why the replacement of `name` in `folder` cannot start. `old`: what the
  // name is now (null when nothing). `modeFrom`: the file whose mode the new one takes (else
  // that of the old file, else the mode of a plainly created file). `lockNew`: the new file
  // is locked (flock) until it is let go, for a caller that hands it out (TNewFile): a run
  // sweeping what killed runs left never takes a temporary file that is still being written.
  int Start(std::shared_ptr<const TFolder> folder, const std::string& name, const struct stat* old,
            const struct stat* modeFrom, bool lockNew = true);

  int Fd() const { return FTemp.Get(); }
  // Renames the new file over the old one.
  int Commit();
  // Puts the new file in place only when no file of the target name exists (183), made
  // durable first (the source of a move across file systems is deleted next).
  int CommitNoReplace();

 private:
  std::shared_ptr<const TFolder> FFolder;
  TFd FTemp;
  std::string FName, FTempName;
  bool FCommitted = false;
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

// Deletes the temporary files of replacements in the folder of the handle `folder` that no
// live replacement holds (see TPlatform::RemoveLeftovers). Returns how many went.
int RemoveTemporaries(int folder);
// Whether `name` is a temporary file's name as TReplacement makes them.
bool IsTemporaryName(std::string_view name);

// Claims `folder` through the lock file `name` in it (see TPlatform::LockFolder).
// `released` is called when the claim is let go.
int ClaimFolder(std::shared_ptr<const TFolder> folder, const std::string& name, std::unique_ptr<TFolderLock>& lock,
                std::string& holder, std::function<void()> released);

// `host` with every link in its longest existing part resolved.
std::string ResolvedHostPath(const std::string& host);

}  // namespace posixfiles
