#include "FaultyPlatform.h"

#include "Convert.h"
#include "ProgramFiles.h"

namespace {

constexpr const char* kBusyKinds[] = {"open", "openshared", "create", "createifmissing", "append",
                                      "delete", "move", "copy"};

// An opened file whose reads and size go through the fault rules first.
class TFaultyReadFile final : public TReadFile {
 public:
  TFaultyReadFile(TFaultyPlatform& owner, std::string path, std::unique_ptr<TReadFile> real)
      : FOwner(owner), FPath(std::move(path)), FReal(std::move(real)) {}
  std::int64_t Size() override {
    if (const int code = FOwner.Check("size", FPath)) throw IoFailure(code, "size", FPath);
    return FReal->Size();
  }
  std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t n) override {
    if (const int code = FOwner.Check("read", FPath)) throw IoFailure(code, "read", FPath);
    return FReal->ReadAt(offset, buffer, n);
  }

 private:
  TFaultyPlatform& FOwner;
  std::string FPath;
  std::unique_ptr<TReadFile> FReal;
};

class TFaultyNewFile final : public TNewFile {
 public:
  TFaultyNewFile(TFaultyPlatform& owner, std::string path, std::unique_ptr<TNewFile> real)
      : FOwner(owner), FPath(std::move(path)), FReal(std::move(real)) {}
  void WriteAt(std::int64_t offset, const void* buffer, std::size_t n) override {
    if (const int code = FOwner.Check("write", FPath)) throw IoFailure(code, "write", FPath);
    FReal->WriteAt(offset, buffer, n);
  }
  void Commit() override {
    if (const int code = FOwner.Check("commit", FPath)) throw IoFailure(code, "replace", FPath);
    FReal->Commit();
  }

 private:
  TFaultyPlatform& FOwner;
  std::string FPath;
  std::unique_ptr<TNewFile> FReal;
};

}  // namespace

TFaultyPlatform::TFaultyPlatform(TPlatform& real) : FReal(real) {}

void TFaultyPlatform::FailNth(long n, int code) {
  std::lock_guard<std::mutex> guard(FLock);
  FNthTarget = n > 0 ? FOps + n : 0;
  FNthCode = code;
}

void TFaultyPlatform::FailWhen(const std::string& kind, const std::string& pathPart, int code) {
  std::lock_guard<std::mutex> guard(FLock);
  FRules.push_back(TRule{kind, UpperAscii(pathPart), code});
}

void TFaultyPlatform::HoldBusy(const std::string& pathPart) {
  std::lock_guard<std::mutex> guard(FLock);
  for (const char* kind : kBusyKinds) FRules.push_back(TRule{kind, UpperAscii(pathPart), kErrSharingViolation});
}

void TFaultyPlatform::ClearFaults() {
  std::lock_guard<std::mutex> guard(FLock);
  FRules.clear();
  FNthTarget = 0;
  FNthCode = 0;
}

void TFaultyPlatform::SetClock(std::function<TDateTime()> clock) {
  std::lock_guard<std::mutex> guard(FLock);
  FClock = std::move(clock);
}

void TFaultyPlatform::SetProgramName(const std::string& name) {
  std::lock_guard<std::mutex> guard(FLock);
  FProgramName = name;
}

void TFaultyPlatform::OnOperation(std::function<void(const std::string&, const std::string&)> observer) {
  std::lock_guard<std::mutex> guard(FLock);
  FObserver = std::move(observer);
}

bool TFaultyPlatform::Matches(const TRule& rule, const std::string& kind, const std::string& upperPath) const {
  if (!rule.Kind.empty() && rule.Kind != kind) return false;
  return rule.PathPart.empty() || upperPath.find(rule.PathPart) != std::string::npos;
}

int TFaultyPlatform::Check(const std::string& kind, const std::string& path) {
  std::function<void(const std::string&, const std::string&)> observer;
  int code = 0;
  {
    std::lock_guard<std::mutex> guard(FLock);
    const long op = ++FOps;
    observer = FObserver;
    if (FNthTarget != 0 && op == FNthTarget) {
      code = FNthCode;
      FNthTarget = 0;
    }
    if (code == 0) {
      const std::string upper = UpperAscii(path);
      for (const TRule& rule : FRules)
        if (Matches(rule, kind, upper)) {
          code = rule.Code;
          break;
        }
    }
    if (code != 0) ++FFailures;
  }
  // Outside the lock: an observer may well call back into this platform.
  if (observer) observer(kind, path);
  return code;
}

std::vector<TFindEntry> TFaultyPlatform::FindFiles(const std::string& pattern) {
  if (Check("find", pattern)) return {};
  return FReal.FindFiles(pattern);
}

bool TFaultyPlatform::FileExists(const std::string& path) {
  if (Check("exists", path)) return false;
  return FReal.FileExists(path);
}

bool TFaultyPlatform::DirectoryExists(const std::string& path) {
  if (Check("exists", path)) return false;
  return FReal.DirectoryExists(path);
}

TEntryKind TFaultyPlatform::EntryKind(const std::string& path) {
  if (Check("exists", path)) return TEntryKind::Missing;
  return FReal.EntryKind(path);
}

int TFaultyPlatform::CreateDir(const std::string& path) {
  if (const int code = Check("mkdir", path)) return code;
  return FReal.CreateDir(path);
}

int TFaultyPlatform::DeleteFile(const std::string& path) {
  if (const int code = Check("delete", path)) return code;
  return FReal.DeleteFile(path);
}

int TFaultyPlatform::MoveFile(const std::string& from, const std::string& to) {
  // One counted operation; the rules look at both paths.
  if (const int code = Check("move", from + "\n" + to)) return code;
  return FReal.MoveFile(from, to);
}

int TFaultyPlatform::CopyFileOver(const std::string& from, const std::string& to) {
  if (const int code = Check("copy", from + "\n" + to)) return code;
  return FReal.CopyFileOver(from, to);
}

std::unique_ptr<TReadFile> TFaultyPlatform::OpenExclusive(const std::string& path) {
  if (const int code = Check("open", path)) throw IoFailure(code, "open", path);
  return std::make_unique<TFaultyReadFile>(*this, path, FReal.OpenExclusive(path));
}

std::unique_ptr<TReadFile> TFaultyPlatform::OpenShared(const std::string& path, bool followLink) {
  if (const int code = Check("openshared", path)) throw IoFailure(code, "open", path);
  return std::make_unique<TFaultyReadFile>(*this, path, FReal.OpenShared(path, followLink));
}

std::unique_ptr<TNewFile> TFaultyPlatform::CreateExclusive(const std::string& path) {
  if (const int code = Check("create", path)) throw IoFailure(code, "create", path);
  return std::make_unique<TFaultyNewFile>(*this, path, FReal.CreateExclusive(path));
}

int TFaultyPlatform::CreateIfMissing(const std::string& path) {
  if (const int code = Check("createifmissing", path)) return code;
  return FReal.CreateIfMissing(path);
}

void TFaultyPlatform::CreateEmpty(const std::string& path) {
  if (const int code = Check("create", path)) throw IoFailure(code, "create", path);
  FReal.CreateEmpty(path);
}

void TFaultyPlatform::RunBegins() { FReal.RunBegins(); }

void TFaultyPlatform::RunEnds() { FReal.RunEnds(); }

void TFaultyPlatform::Append(const std::string& path, std::string_view bytes) {
  if (const int code = Check("append", path)) throw IoFailure(code, "append", path);
  FReal.Append(path, bytes);
}

int TFaultyPlatform::RemoveLeftovers(const std::string& folder) {
  if (Check("sweep", folder)) return 0;
  return FReal.RemoveLeftovers(folder);
}

int TFaultyPlatform::LockFolder(const std::string& folder, const std::string& name,
                                std::unique_ptr<TFolderLock>& lock, std::string& holder) {
  if (const int code = Check("lock", folder)) return code;
  return FReal.LockFolder(folder, name, lock, holder);
}

TDateTime TFaultyPlatform::Now() {
  std::function<TDateTime()> clock;
  {
    std::lock_guard<std::mutex> guard(FLock);
    clock = FClock;
  }
  return clock ? clock() : FReal.Now();
}

bool TFaultyPlatform::Sleep(int milliseconds, const TStopSignal* stop) {
  FSleptMs += milliseconds;
  ++FSleeps;
  return !(stop && stop->Raised());
}

std::string TFaultyPlatform::ProgramPath() {
  std::string name;
  {
    std::lock_guard<std::mutex> guard(FLock);
    name = FProgramName;
  }
  return name.empty() ? FReal.ProgramPath() : ProgramDir(FReal) + name;
}

void TFaultyPlatform::SetDrive(char letter, const std::string& hostRoot) { FReal.SetDrive(letter, hostRoot); }

std::string TFaultyPlatform::HostPath(const std::string& path, int* error) {
  return FReal.HostPath(path, error);
}

std::string TFaultyPlatform::DrivePath(const std::string& hostPath) { return FReal.DrivePath(hostPath); }

std::string TFaultyPlatform::RefusedDrives() { return FReal.RefusedDrives(); }

void TFaultyPlatform::MountedTwice(char letter) {
  std::lock_guard<std::mutex> guard(FLock);
  FMountedTwice = UpperAscii(std::string(1, letter))[0];
}

std::string TFaultyPlatform::RealPath(const std::string& path) {
  const std::string real = FReal.RealPath(path);
  char twice = 0;
  {
    std::lock_guard<std::mutex> guard(FLock);
    twice = FMountedTwice;
  }
  const bool onIt = twice && path.size() >= 2 && path[1] == ':' && UpperAscii(path.substr(0, 1))[0] == twice;
  return onIt && !real.empty() ? "/mounted-twice" + real : real;
}

TFileIdentity TFaultyPlatform::Identity(const std::string& path) { return FReal.Identity(path); }
