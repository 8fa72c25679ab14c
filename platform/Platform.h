#pragma once
// Everything the engine does to the world outside itself, with the behaviour of the
// Windows file system the engine was written against.
//
// Paths are drive-letter paths ("D:\feed\600000.F10"), GBK bytes, "\" or "/" as separator.
// "Z:" is the host root; other letters are mapped by SetDrive(). A rooted path without a
// drive ("\srv\x") is on Z:. "." and ".." are folded as Windows folds them ("..' above a
// drive root stays at the root). Every component is looked up without regard to the case of
// ASCII letters (an exact match first, then a scan of the folder); new files and folders keep
// the case they are given. Host names are UTF-8; the program sees them as GBK. A path on an
// unmapped drive, an empty path, or a path that is not a drive path behaves as a missing path
// (error 3): it never reaches some other file.
//
// Errors: every method has one model, stated in its contract.
// - A method that returns an int returns 0 or a Windows error code and throws nothing of its
//   own. These are the changes whose failure is often an answer rather than the caller's
//   failure (183: the name is taken, 32: someone holds it) or is nobody's business (a mirror
//   copy): CreateDir, DeleteFile, MoveFile, CopyFileOver, CreateIfMissing, RemoveLeftovers,
//   LockFolder.
// - Every other method that can fail throws EFailure, whose Code() is the Windows error code:
//   the opens, CreateEmpty, Append, and the reads and writes of an opened file. The queries
//   (FindFiles, FileExists, DirectoryExists, EntryKind, the paths) answer "missing" or empty
//   rather than fail.
//
// Threads: the form's thread and a run's two threads share one platform. Every TPlatform
// method is safe for concurrent use; where calls on the same file or folder meet, they
// meet as two programs would on Windows (the share modes decide). An opened file
// (TReadFile, TNewFile) belongs to one thread at a time.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Failure.h"
#include "Clock.h"
#include "StopSignal.h"

// What a name stands for, looked at without following a link.
enum class TEntryKind {
  Missing,  // no entry of that name
  File,     // a plain file
  Folder,   // a folder
  Other,    // a link (to anything), a FIFO, a socket or a device
};

// One entry found by a directory search.
struct TFindEntry {
  std::string Name;  // GBK, the name alone
  bool IsDirectory = false;  // a folder, or a link to one
  TEntryKind Kind = TEntryKind::File;
  // The name means exactly this entry: it holds nothing a Windows name may not (a control
  // character, a backslash, <>:"|?*), and its GBK form names it again (a host name GBK
  // cannot carry would come back as another name).
  bool ExactName = true;
};

// A file another party's feed may hand to the program: a plain file whose name survives the
// trip into GBK. Anything else is left where it is, never opened, moved or followed.
inline bool IsFeedFile(const TFindEntry& entry) {
  return entry.Kind == TEntryKind::File && entry.ExactName;
}

// What makes a file or folder the one it is, whatever path leads to it (a link, a folder
// mounted at a second place, one share under two drive letters): the volume and the number
// the volume gives it.
struct TFileIdentity {
  std::uint64_t Volume = 0;
  std::uint64_t Index = 0;
  bool Known = false;  // false: the path names nothing that could be looked at
  // Both known, and one file or folder.
  bool Same(const TFileIdentity& other) const {
    return Known && other.Known && Volume == other.Volume && Index == other.Index;
  }
};

// A folder claimed by this process (LockFolder), held until destruction, which may happen on
// any thread.
class TFolderLock {
 public:
  virtual ~TFolderLock() = default;
};

// A file opened for reading. The lock taken by the open is held until destruction. Not safe
// for concurrent use: whoever shares one between threads must synchronize its calls (two
// files may be used from two threads at once).
class TReadFile {
 public:
  virtual ~TReadFile() = default;
  // Bytes in the file. Throws EFailure on an I/O error.
  virtual std::int64_t Size() = 0;
  // Reads up to n bytes at offset; fewer only at the end of the file. Throws EFailure.
  virtual std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t n) = 0;
};

// A file being created anew to replace whatever file has its name. The bytes go into a
// temporary file in the same folder; Commit() renames it over the old file, so readers see
// the old file or the new one, never half of it. Destroyed without Commit(), it leaves the
// old file as it was and removes the temporary file. The old file is locked exclusively
// from the creation until the destruction (another holder means error 32 at creation). Not
// safe for concurrent use, as TReadFile.
class TNewFile {
 public:
  virtual ~TNewFile() = default;
  // Writes n bytes at offset (a gap reads as zero bytes). Throws EFailure.
  virtual void WriteAt(std::int64_t offset, const void* buffer, std::size_t n) = 0;
  // Puts the new file in place of the old one. Throws EFailure (the old file then stays).
  virtual void Commit() = 0;
};

class TPlatform {
 public:
  virtual ~TPlatform() = default;

  // --- Directory search and tests ---

  // Entries of the folder of `pattern` whose names match its last component ("*" any run,
  // "?" exactly one character, ASCII case ignored): files and folders alike, never "." or
  // "..", in case-insensitive name order. A missing folder gives no entries. Safe for
  // concurrent use; a folder changed meanwhile is listed as it was before or after.
  virtual std::vector<TFindEntry> FindFiles(const std::string& pattern) = 0;
  // True when `path` names an existing file; a folder does not count. Safe for concurrent
  // use.
  virtual bool FileExists(const std::string& path) = 0;
  // True when `path` names an existing folder. Safe for concurrent use.
  virtual bool DirectoryExists(const std::string& path) = 0;
  // What `path` names, without following a link in its last component (the folders above
  // it are followed as usual). Missing when nothing, or when the path is none. Safe for
  // concurrent use.
  virtual TEntryKind EntryKind(const std::string& path) = 0;

  // --- Changes to folders and whole files: 0 or a Windows error code ---

  // Creates the last level of `path` only (its parent must exist). 183 when it exists. Safe
  // for concurrent use: of two creations of one folder, one gets 183.
  virtual int CreateDir(const std::string& path) = 0;
  // Deletes a file (not a folder); 32 while another program holds it open without sharing
  // (Windows). Safe for concurrent use.
  virtual int DeleteFile(const std::string& path) = 0;
  // Moves a file; fails (183) when `to` exists, leaving both files, and (32) while another
  // program has the file open for writing (a feed still writing it). Across file systems it
  // copies and then deletes the source. Safe for concurrent use: of two moves to one name,
  // one gets 183.
  virtual int MoveFile(const std::string& from, const std::string& to) = 0;
  // Copies `from` over `to`, replacing it atomically (temporary file, then rename); 32 while
  // another program has `from` open for writing. Safe for concurrent use: of two copies over
  // one file, the one that ends last wins.
  virtual int CopyFileOver(const std::string& from, const std::string& to) = 0;

  // --- Opens: each throws EFailure (code 2, 3, 5, 32 ...) when the open fails ---
  //
  // Only a plain file is opened for reading: a folder is refused (5); a link, FIFO, socket
  // or device is refused (1920) without being followed or opened, and no open ever waits.
  // A file held by one thread is held against the others as against another program.

  // Opens an existing file for reading, no sharing: refused (32) while another program has
  // it open for writing (on Windows: open at all), and on Windows holding it keeps everyone
  // else out. Within the program, the claims on its folders keep its runs apart. Safe for
  // concurrent use.
  virtual std::unique_ptr<TReadFile> OpenExclusive(const std::string& path) = 0;
  // Opens an existing file for reading while others may read it too; refused (32) while
  // another program has it open for writing (on Windows: holds it exclusively). With `followLink` a link in the last component is
  // followed to a plain file (for files an administrator may link into place). Safe for
  // concurrent use.
  virtual std::unique_ptr<TReadFile> OpenShared(const std::string& path, bool followLink = false) = 0;
  // Starts the atomic replacement of `path` (see TNewFile), no sharing. Safe for concurrent
  // use.
  virtual std::unique_ptr<TNewFile> CreateExclusive(const std::string& path) = 0;
  // Creates `path` empty when no file of that name exists; an existing file is left alone.
  // Returns 0 or a Windows error code. Safe for concurrent use.
  virtual int CreateIfMissing(const std::string& path) = 0;
  // Puts an empty file in place of whatever file has the name `path`, or creates it: the
  // name is replaced, never written through, so a link there leaves what it leads to as it
  // was. No sharing: 32 while anyone else holds the old file; 5 for a read-only one or a
  // folder. Throws EFailure. Safe for concurrent use.
  virtual void CreateEmpty(const std::string& path) = 0;
  // A run begins, or ends: from a run's beginning to its end the platform may hold open the
  // folders it works in (the POSIX layer keeps their handles), and at its end lets go of
  // them, so that the next run, and whoever uses the platform between runs, meets the folders
  // as they are then. Calls nest. Safe for concurrent use: a call under way keeps the handle
  // it holds.
  virtual void RunBegins() = 0;
  virtual void RunEnds() = 0;
  // Appends bytes at the end of an existing plain file, opened and closed for this call
  // alone; a link is not written through (1920). Throws EFailure (2 when the file does not
  // exist, 32 while anyone else holds it, another thread's Append included). Safe for
  // concurrent use.
  virtual void Append(const std::string& path, std::string_view bytes) = 0;
  // Deletes the temporary files that replacements left in `folder` when their process was
  // killed: plain files named as this platform names them and held by no live replacement,
  // nothing else. Returns how many went. Safe for concurrent use: a replacement under way
  // holds its temporary file, which is left alone.
  virtual int RemoveLeftovers(const std::string& folder) = 0;
  // Claims `folder` for this process under the hidden file name `name`: 0 with `lock` set,
  // held until it is destroyed; 32 while another process holds the same claim (`holder`
  // then names that process, when it can be told); another code when no claim can be made
  // there (3 for a missing folder). Safe for concurrent use.
  virtual int LockFolder(const std::string& folder, const std::string& name,
                         std::unique_ptr<TFolderLock>& lock, std::string& holder) = 0;

  // --- Time and the program ---

  // The local date and time. Safe for concurrent use.
  virtual TDateTime Now() = 0;
  // Pauses the calling thread (the retry pauses of busy files). A raised `stop` ends the
  // pause at once: false when it did, true when the whole pause went by. Safe for concurrent
  // use; `stop` may be raised from any thread.
  virtual bool Sleep(int milliseconds, const TStopSignal* stop = nullptr) = 0;
  // The program file's full path as a drive path. A home folder given with --home stands
  // in for the program's folder: the path is then that folder + "\" + the program's name.
  // Safe for concurrent use.
  virtual std::string ProgramPath() = 0;

  // --- Drive letters ---

  // Maps drive `letter` (A to Y) to a host folder; Z: is always the host root. A folder that
  // is not an absolute host path maps nothing (it would depend on the current folder): the
  // letter then behaves as unmapped and is remembered among the refused ones. Safe for
  // concurrent use: a path resolved meanwhile is resolved under the old mapping or the new.
  virtual void SetDrive(char letter, const std::string& hostRoot) = 0;
  // The letters whose mapping SetDrive refused, in order ("" when none). Safe for concurrent
  // use.
  virtual std::string RefusedDrives() = 0;
  // The host path (UTF-8) of a drive path; empty with *error set (3) when it has none. Safe
  // for concurrent use.
  virtual std::string HostPath(const std::string& path, int* error = nullptr) = 0;
  // The drive path (GBK) of a host path by the longest matching mapping, else Z: + path.
  // Safe for concurrent use.
  virtual std::string DrivePath(const std::string& hostPath) = 0;
  // The host path of a drive path with every link in its existing part resolved, so that
  // two paths naming one folder give the same text. Empty when the path is none. Safe for
  // concurrent use.
  virtual std::string RealPath(const std::string& path) = 0;
  // The identity of the file or folder `path` names, links followed: two paths with the same
  // identity name one file or folder, which RealPath cannot tell through a folder mounted
  // twice. Not Known when the path names nothing, or nothing that can be looked at. Safe for
  // concurrent use.
  virtual TFileIdentity Identity(const std::string& path) = 0;
};

// Whether `name` matches `mask` by the rule FindFiles applies to the last component of its
// pattern ("*" any run, "?" exactly one character, a GBK character counting as one, ASCII
// case ignored, "*.*" any name at all).
bool MatchesMask(std::string_view mask, std::string_view name);

// Reads a whole file opened shared (a link followed only with `followLink`). Throws EFailure.
std::string ReadWholeFile(TPlatform& fs, const std::string& path, bool followLink = false);
// Replaces a file with `bytes` through CreateExclusive (atomic). Throws EFailure.
void WriteWholeFile(TPlatform& fs, const std::string& path, std::string_view bytes);

// A host path as the platform takes it: UTF-8 text. (On Windows the narrow text of a
// std::filesystem::path is in the ANSI code page, which is not the platform's.)
std::string HostPathText(const std::filesystem::path& path);

// The platform of the system the program runs on (POSIX or Windows), with the program
// file's path as the system gives it for this process. `homeDir`, when not empty, is a host
// folder that stands in for the program's folder (--home). `programName`, when not empty, is
// the file name the program goes by in its folder: a second program that serves the first
// one's settings and logs (the form beside the headless program) takes the first one's name.
std::unique_ptr<TPlatform> NewSystemPlatform(const std::string& homeDir = "", const std::string& programName = "");
