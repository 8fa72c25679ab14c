#pragma once
// The real platform on a POSIX host. Share modes are emulated with flock(2), which
// conflicts per open file description (also inside one process): "no sharing" is
// LOCK_EX|LOCK_NB, "others may read" is LOCK_SH|LOCK_NB; a refused lock is error 32.

#include <map>
#include <memory>
#include <mutex>

#include "Platform.h"

namespace posixpaths {
class TFolderNames;
}
namespace posixfiles {
class TSpareFile;
}

class TPosixPlatform final : public TPlatform {
 public:
  // `hostProgramPath`: the program file's host path (from /proc/self/exe). `homeDir`, when
  // not empty, is a host folder standing in for the program's folder (--home).
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

 private:
  // Opens an existing plain file for reading under flock `lock` (LOCK_EX or LOCK_SH).
  std::unique_ptr<TReadFile> OpenForReading(const std::string& path, int lock, bool followLink);

  std::string FHostProgramPath;
  std::string FHomeDir;
  std::mutex FDrivesLock;               // the form's thread and a run's thread both resolve paths
  std::map<char, std::string> FDrives;  // upper-case letter -> host folder, without trailing "/"
  std::string FRefusedDrives;           // letters whose folder was no absolute path
  // The names of the folders new files were looked up in, so the next new name in them
  // costs no reading of the folder.
  std::unique_ptr<posixpaths::TFolderNames> FNames;
  // The empty file left by the last replacement of an empty file, for the next CreateEmpty
  // in its folder to rename into place.
  std::unique_ptr<posixfiles::TSpareFile> FSpare;
};

// The host path of the running program (/proc/self/exe).
std::string HostProgramPath();
