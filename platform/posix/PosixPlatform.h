#pragma once
// The platform on a POSIX host, made by NewSystemPlatform(). Share modes are emulated with
// flock(2), which conflicts per open file description (also inside one process): "no
// sharing" is LOCK_EX|LOCK_NB, "others may read" is LOCK_SH|LOCK_NB; a refused lock is error
// 32. Private to the platform library.

#include <sys/stat.h>

#include <memory>
#include <string>

#include "Platform.h"
#include "PosixPaths.h"

namespace posixfiles {
class TFd;
class TSpareFile;
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
  void EndOfBatch() override;
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
  // A path resolved for an operation on its last component.
  struct TTarget;
  TTarget Resolve(const std::string& path);
  // Opens an existing plain file with `flags` (`st` its stat); 0 or the code.
  int OpenExisting(const std::string& path, int flags, bool followLink, posixfiles::TFd& fd,
                   struct stat& st);
  // Opens an existing plain file for reading under flock `lock` (LOCK_EX or LOCK_SH).
  std::unique_ptr<TReadFile> OpenForReading(const std::string& path, int lock, bool followLink);

  const std::string FHostProgramPath;
  const std::string FHomeDir;
  posixpaths::TDriveTable FDrives;
  // The names of the folders new files were looked up in, so the next new name in them
  // is found without reading the folder again.
  std::unique_ptr<posixpaths::TFolderNames> FNames;
  // The empty file left by the last replacement of an empty file, for the next CreateEmpty
  // in its folder to rename into place.
  std::unique_ptr<posixfiles::TSpareFile> FSpare;
};

// The host path of the running program (/proc/self/exe).
std::string HostProgramPath();
