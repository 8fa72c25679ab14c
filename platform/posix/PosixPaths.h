#pragma once
// Drive paths to host paths: the drive table, and the parsing, folding and case-insensitive
// lookup that the POSIX platform does before every operation. Private to the platform library.

#include <dirent.h>
#include <sys/types.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Platform.h"

namespace posixpaths {

// Temporary files of atomic replacements start with this; searches never return them.
inline constexpr char kTempPrefix[] = ".~lorvane.";

// A drive path taken apart: the host folder of its drive and its folded components (GBK).
struct TParsedPath {
  int Error = 0;                // 3 no such drive or not a drive path, 123 a bad character
  std::string Root;             // host folder of the drive, "" for the host root
  std::vector<std::string> Parts;
};

// `drives`: upper-case letter -> host folder ("" for the host root). With `lastIsPattern`
// the last component may hold "*" and "?".
TParsedPath ParseDrivePath(const std::string& path, const std::map<char, std::string>& drives,
                           bool lastIsPattern);

// The drive letters mapped to host folders (see TPlatform::SetDrive). Safe for concurrent
// use: the form's thread and a run's two threads all resolve paths while the form may map a
// letter anew; a path parsed meanwhile is parsed under the old mapping or the new one.
class TDriveTable final {
 public:
  // Maps `letter` (A to Y, either case) to an absolute host folder; anything else unmaps it
  // and, unless empty, is remembered among the refused letters.
  void Set(char letter, const std::string& hostRoot);
  // The letters whose folder was refused, in order.
  std::string Refused() const;
  // ParseDrivePath() under the mappings of the moment.
  TParsedPath Parse(const std::string& path, bool lastIsPattern) const;
  // The drive path (GBK) of a host path by the longest matching mapping, else Z: + path.
  std::string DrivePath(const std::string& hostPath) const;

 private:
  mutable std::mutex FLock;
  std::map<char, std::string> FDrives;  // upper-case letter -> host folder, without trailing "/"
  std::string FRefused;                 // letters whose folder was no absolute path
};

// A parsed path looked up on the host.
struct TResolved {
  std::string Host;          // host path; existing components with their host names
  std::string Parent;        // host folder that holds (or would hold) the last component
  std::string Name;          // the last component's host name (the given case when missing)
  bool ParentExists = false; // the folder of the last component exists
  bool Present = false;      // an entry of that name exists (a dangling link included)
  bool Exists = false;       // ... and it is something (stat follows links)
  bool IsDir = false;
  TEntryKind Kind = TEntryKind::Missing;  // the entry itself, its link not followed
};

// Whether a byte may not stand in a Windows file name: a control character, a separator, or
// one of <>:"|?* (the last two allowed when `wildcardsAllowed`).
bool IsBadNameByte(unsigned char c, bool wildcardsAllowed);

// The kind of an entry by its lstat mode.
TEntryKind KindOfMode(mode_t mode);

class TFolderNames;

// The host path of a parsed path with every component as written (converted to UTF-8),
// whether or not it exists.
std::string AsWritten(const TParsedPath& parsed);

// Looks up every component but the last (`upToParent`) or all of them. A path whose every
// component exists as written is taken as it stands; only a component that does not is
// looked for among the entries of its folder, through `names` when given.
TResolved Lookup(const TParsedPath& parsed, bool upToParent = false, TFolderNames* names = nullptr);

// The entry of the open folder stream `dir` (read to its end) whose GBK form is the GBK
// name `name`, else one that differs from it only in the case of ASCII letters (the first in
// byte order of each kind); empty when none.
std::string SpellingIn(DIR* dir, const std::string& name);

// The host name in `folder` that the GBK name `name` stands for: the name itself when it
// exists, else the entry that equals it converted to GBK, else one that differs only in the
// case of ASCII letters (the first in byte order). Empty when none.
std::string FindEntry(const std::string& folder, const std::string& name);

// "/a/b" from "" + "a" ...: joins a host folder ("" = the root) and a name.
std::string JoinHost(const std::string& folder, const std::string& name);

// A host path made absolute and folded ("." and ".." removed, no doubled or trailing "/").
std::string NormalHostPath(const std::string& hostPath);

}  // namespace posixpaths
