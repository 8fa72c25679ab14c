#pragma once
// A platform for tests: forwards to another one, counts every operation that touches the
// file system (including reads and writes on opened files), and can make chosen operations
// fail with a chosen Windows error code. Its Sleep() does not sleep: it records the pause.
// Its clock and the name of its program file can be set. Safe for concurrent use, as every
// platform is: a run's threads and the test's thread all come here.

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Platform.h"

class TFaultyPlatform final : public TPlatform {
 public:
  explicit TFaultyPlatform(TPlatform& real);

  // Fails the n-th counted operation from now on (1 = the next one) with `code`; 0 = never.
  void FailNth(long n, int code);
  // Fails every operation whose kind (below) and path (case-insensitive substring) match.
  // Kinds: "find", "exists", "mkdir", "delete", "move", "copy", "open", "openshared",
  // "create" (CreateExclusive and CreateEmpty), "createifmissing", "append", "read", "size",
  // "write", "commit", "sweep" (RemoveLeftovers), "lock" (LockFolder); "" = any.
  void FailWhen(const std::string& kind, const std::string& pathPart, int code);
  // Treats `path` as held open by another program: every open of it fails with 32.
  void HoldBusy(const std::string& pathPart);
  void ClearFaults();
  // Operations counted so far.
  long Operations() const { return FOps; }
  // Operations that were made to fail so far.
  long Failures() const { return FFailures; }
  // Sum of the pauses asked for, in ms, and how many.
  long long SleptMs() const { return FSleptMs; }
  int Sleeps() const { return FSleeps; }
  // A fixed clock (empty function: the real one).
  void SetClock(std::function<TDateTime()> clock);
  // The program file's name in ProgramPath(), in the folder the real platform gives (empty:
  // the real name), for tests that name the program's own files.
  void SetProgramName(const std::string& name);
  // Gives the real paths of drive `letter` (RealPath) as if the drive were a second mount of
  // the folders it maps (a bind mount, one share mounted twice): only Identity() tells that
  // its folders are those of another path.
  void MountedTwice(char letter);
  // Called with (kind, path) before each counted operation, for tests that log effects. A
  // move or a copy is one operation whose path is the source, a line feed, the destination,
  // so a rule matches either of them.
  void OnOperation(std::function<void(const std::string&, const std::string&)> observer);

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
  // Records the pause and returns at once; a raised `stop` makes it report a cut pause.
  bool Sleep(int milliseconds, const TStopSignal* stop = nullptr) override;
  std::string ProgramPath() override;
  void SetDrive(char letter, const std::string& hostRoot) override;
  std::string RefusedDrives() override;
  std::string HostPath(const std::string& path, int* error = nullptr) override;
  std::string DrivePath(const std::string& hostPath) override;
  std::string RealPath(const std::string& path) override;
  TFileIdentity Identity(const std::string& path) override;

  // For the wrappers of opened files: 0 to go on, else the code to fail with.
  int Check(const std::string& kind, const std::string& path);

 private:
  struct TRule {
    std::string Kind;      // "" = any
    std::string PathPart;  // upper-cased; "" = any
    int Code;
  };
  bool Matches(const TRule& rule, const std::string& kind, const std::string& upperPath) const;

  TPlatform& FReal;
  mutable std::mutex FLock;  // a run's thread and the test's thread both come here
  std::vector<TRule> FRules;
  long FNthTarget = 0;  // the operation count that fails, 0 = none
  int FNthCode = 0;
  std::function<TDateTime()> FClock;
  std::string FProgramName;
  char FMountedTwice = 0;
  std::function<void(const std::string&, const std::string&)> FObserver;
  std::atomic<long> FOps{0};
  std::atomic<long> FFailures{0};
  std::atomic<long long> FSleptMs{0};
  std::atomic<int> FSleeps{0};
};
