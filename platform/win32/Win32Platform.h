#pragma once
// The real platform on Windows, on the wide-character Win32 API. Drive letters are the
// system's own (SetDrive maps nothing); names are looked up by the file system, without
// regard to case as it does; share modes are the file system's; error codes are those of
// GetLastError(). Paths go to the API in the "\\?\" form, which it takes literally: no
// length limit, and no trailing dot or blank taken away behind the program's back.

#include <memory>
#include <string>

#include "Platform.h"

class TWin32Platform final : public TPlatform {
 public:
  // `homeDir` (UTF-8), when not empty, is a folder standing in for the program's folder.
  explicit TWin32Platform(const std::string& homeDir = "", const std::string& programName = "");

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
  void RunBegins() override {}
  void RunEnds() override {}
  void Append(const std::string& path, std::string_view bytes) override;
  int RemoveLeftovers(const std::string& folder) override;
  int LockFolder(const std::string& folder, const std::string& name, std::unique_ptr<TFolderLock>& lock,
                 std::string& holder) override;
  TDateTime Now() override;
  bool Sleep(int milliseconds, const TStopSignal* stop = nullptr) override;
  std::string ProgramPath() override;
  // Drive letters are real on Windows: nothing to map, nothing refused.
  void SetDrive(char, const std::string&) override {}
  std::string RefusedDrives() override { return {}; }
  // The path as Windows writes it ("C:\feed\x", "\\server\share\x"), in UTF-8.
  std::string HostPath(const std::string& path, int* error = nullptr) override;
  std::string DrivePath(const std::string& hostPath) override;
  // The final path of the longest existing part (links resolved), "/" as separator and in
  // upper case, since names that differ in case name the same file here: two paths of one
  // folder give the same text, and one inside another starts with its text and a "/".
  std::string RealPath(const std::string& path) override;
  TFileIdentity Identity(const std::string& path) override;

 private:
  std::wstring FHome;  // "" or the folder standing in for the program's folder
  std::wstring FName;  // "" or the file name the program goes by
};
