#pragma once
// The platform on a POSIX host, made by NewSystemPlatform(). Folders are held open as
// handles (TFolders) and the file work is done relative to them.
//
// Windows' share modes are kept where they still mean something here: a file another
// program has open for writing (a feed still uploading it) is refused to the opens that read
// and to a move (32), as its writer's handle would refuse them on Windows; a read lease tells
// it (see WriterCheck). The rest of the share modes protect nothing on Linux: other programs
// never take flock(2), and the claims a run holds on its folders keep every other run of this
// program out of them. flock remains where two of the program's own processes can still
// meet: the claims themselves, and a temporary file being written, which a run sweeping what
// killed runs left must not take. A day log line needs none: it is appended with one write
// (O_APPEND), which the kernel never tears or interleaves with another process's line.
// Private to the platform library.

#include <sys/stat.h>

#include <memory>
#include <string>

#include "Platform.h"
#include "PosixPaths.h"

namespace posixfiles {
class TFd;
class TFolders;
class TTakenFiles;
struct TFolder;
}  // namespace posixfiles

namespace posixpaths {
class TFolderNames;
}

class TPosixPlatform final : public TPlatform {
 public:
  // `hostProgramPath`: the program file's host path. `homeDir`, when not empty, is a host
  // folder standing in for the program's folder (--home).
  explicit TPosixPlatform(std::string hostProgramPath, std::string homeDir = "");
  ~TPosixPlatform() override;

  std::vector<TFindEntry> FindFiles(const std::string& pattern) override;
  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  TEntryKind EntryKind(const std::string& path) override;
  int CreateDir(const std::string& path) override;
  int DeleteFile(const std::string& path) override;
  int MoveFile(const std::string& from, const std::string& to) override;
  int CopyFileOver(const std::string& from, const std::string& to) override;
  std::unique_ptr<TReadFile> OpenExclusive(const std::string& path) override;
  std::unique_ptr<TReadFile> OpenShared(const std::string& path, bool followLink = false) override;
  std::unique_ptr<TNewFile> CreateExclusive(const std::string& path) override;
  int CreateIfMissing(const std::string& path) override;
  void CreateEmpty(const std::string& path) override;
  void RunBegins() override;
  void RunEnds() override;
  void Append(const std::string& path, std::string_view bytes) override;
  int RemoveLeftovers(const std::string& folder) override;
  int LockFolder(const std::string& folder, const std::string& name, std::unique_ptr<TFolderLock>& lock,
                 std::string& holder) override;
  TDateTime Now() override;
  bool Sleep(int milliseconds, const TStopSignal* stop = nullptr) override;
  std::string ProgramPath() override;
  void SetDrive(char letter, const std::string& hostRoot) override;
  std::string RefusedDrives() override;
  std::string HostPath(const std::string& path, int* error = nullptr) override;
  std::string DrivePath(const std::string& hostPath) override;
  std::string RealPath(const std::string& path) override;
  TFileIdentity Identity(const std::string& path) override;

 private:
  // A path taken apart for an operation on its last component: the folder it lies in, held
  // open, and its name.
  struct TSpot;
  TSpot Spot(const std::string& path, bool pattern = false);
  // The handle of the folder made of the drive's root and the first `count` components of
  // `parsed`; null when it is not there as a folder.
  std::shared_ptr<const posixfiles::TFolder> FolderOf(const posixpaths::TParsedPath& parsed, std::size_t count);
  // The host name in `folder` that the GBK name `gbk` stands for when no entry is named
  // exactly so: another spelling of it, or "".
  std::string OtherSpelling(const posixfiles::TFolder& folder, const std::string& gbk);
  // The host name that the GBK name `gbk` stands for in `folder`, as written or in another
  // spelling ("" for none), answered from the names held of the folder without a look at
  // the disk; false when the folder's names cannot be held.
  bool HeldName(const posixfiles::TFolder& folder, const std::string& gbk, std::string& host);
  // The entry the spot's name stands for, as written or in another spelling: its host name
  // and lstat; false when there is none.
  bool Entry(const TSpot& spot, std::string& host, struct stat& st);
  // Opens the plain file at `path` with `flags`; 0 or the code (`st` its stat).
  int OpenExisting(const std::string& path, int flags, bool followLink, posixfiles::TFd& fd, struct stat& st);
  // Opens an existing plain file for reading.
  std::unique_ptr<TReadFile> OpenForReading(const std::string& path, bool followLink);

  const std::string FHostProgramPath;
  const std::string FHomeDir;
  posixpaths::TDriveTable FDrives;
  // The names of folders others may write in, kept current by inotify, so that a name in
  // another spelling is found without reading the folder again.
  std::unique_ptr<posixpaths::TFolderNames> FNames;
  std::unique_ptr<posixfiles::TFolders> FFolders;
  std::unique_ptr<posixfiles::TTakenFiles> FTaken;
};

// The host path of the running program (/proc/self/exe).
std::string HostProgramPath();
