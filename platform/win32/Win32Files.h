#pragma once
// The Win32 calls behind the Windows platform, each wrapped once: paths parsed into the
// "\\?\" form the wide-character API takes literally, handles owned by RAII, share modes as
// the file system enforces them, and the atomic replacement of a file. GetLastError() codes
// are passed on as they are: they are the codes the program was written against. Internal
// to the platform folder.

#include "Win32Api.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Platform.h"

namespace win32 {

// Temporary files of atomic replacements start with this; searches never return them.
inline constexpr wchar_t kTempPrefix[] = L".~lorvane.";

// A drive path taken apart.
struct TWinPath {
  int Error = 0;                     // 3 not a drive or network path, 123 a bad character
  std::wstring Root;                 // "\\?\C:\" or "\\?\UNC\server\share\"
  std::vector<std::wstring> Parts;   // the folded components below the root
  // The whole path, or the folder of its last component, in the "\\?\" form.
  std::wstring Full() const;
  std::wstring Parent() const;
};

// "D:\a\b" or "\\server\share\a", either separator, "." and ".." folded (never above the
// root). With `lastIsPattern` the last component may hold "*" and "?".
TWinPath ParsePath(const std::string& gbk, bool lastIsPattern);
// A "\\?\" path as a user writes it ("C:\a", "\\server\share\a").
std::wstring Display(const std::wstring& full);
// `folder` + "\" + `name`.
std::wstring Join(const std::wstring& folder, const std::wstring& name);

// What a name stands for, its link (a name-surrogate reparse point) not followed.
struct TLook {
  int Error = 0;          // why it is not there: 2 or 3 (or another code), 0 when present
  DWORD Attributes = 0;
  bool Link = false;      // a symbolic link or a junction
  TEntryKind Kind = TEntryKind::Missing;
};
TLook Look(const std::wstring& full);
// Whether a name-surrogate reparse point (a link) leads to a folder (`isDir`); false when
// it leads nowhere.
bool FollowLink(const std::wstring& full, bool& isDir);
// Whether `name` is a temporary file's name as TReplacement makes them.
bool IsTemporaryName(const std::wstring& name);

class THandle {
 public:
  THandle() = default;
  explicit THandle(HANDLE h) : FHandle(h) {}
  ~THandle() { Reset(); }
  THandle(THandle&& o) noexcept : FHandle(o.FHandle) { o.FHandle = INVALID_HANDLE_VALUE; }
  THandle& operator=(THandle&& o) noexcept {
    if (this != &o) {
      Reset();
      FHandle = o.FHandle;
      o.FHandle = INVALID_HANDLE_VALUE;
    }
    return *this;
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  HANDLE Get() const { return FHandle; }
  bool Valid() const { return FHandle != INVALID_HANDLE_VALUE && FHandle != nullptr; }
  void Reset() {
    if (Valid()) CloseHandle(FHandle);
    FHandle = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE FHandle = INVALID_HANDLE_VALUE;
};

// Opens an existing plain file: 0 or the code (5 a folder, 1920 a link, device or pipe,
// which is never followed unless `followLink`, 32 refused by another holder's share mode).
int OpenPlain(const std::wstring& full, DWORD access, DWORD share, bool followLink, THandle& h);
// Reads up to n bytes at offset (fewer only at the end); throws EFailure.
std::size_t ReadAt(HANDLE h, std::int64_t offset, void* buffer, std::size_t n);
// Writes all n bytes at offset; 0 or the code.
int WriteAt(HANDLE h, std::int64_t offset, const void* buffer, std::size_t n);

class TWin32ReadFile final : public TReadFile {
 public:
  explicit TWin32ReadFile(THandle h) : FHandle(std::move(h)) {}
  std::int64_t Size() override;
  std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t n) override {
    return win32::ReadAt(FHandle.Get(), offset, buffer, n);
  }

 private:
  THandle FHandle;
};

// The atomic replacement of one file: the old file (if any) held with no sharing but
// deletion, the new bytes in a temporary file of the same folder, put in its place by a
// rename on Commit.
class TReplacement {
 public:
  ~TReplacement();
  // 0 or the code why the replacement cannot start.
  int Start(const TWinPath& target);
  HANDLE Temp() const { return FTemp.Get(); }
  // Renames the new file over the old one. The new file stays held (no sharing) until
  // destruction, as the old one was.
  int Commit();

 private:
  THandle FOld, FTemp;
  std::wstring FTarget, FTempPath;
  bool FCommitted = false;
};

class TWin32NewFile final : public TNewFile {
 public:
  explicit TWin32NewFile(std::unique_ptr<TReplacement> r) : FReplacement(std::move(r)) {}
  void WriteAt(std::int64_t offset, const void* buffer, std::size_t n) override {
    if (const int code = win32::WriteAt(FReplacement->Temp(), offset, buffer, n)) throw IoFailure(code);
  }
  void Commit() override {
    if (const int code = FReplacement->Commit()) throw IoFailure(code);
  }

 private:
  std::unique_ptr<TReplacement> FReplacement;
};

// Copies an opened source into a replacement, with its time of last change.
int FillFrom(HANDLE source, TReplacement& r);

}  // namespace win32
