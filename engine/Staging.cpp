#include "Staging.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "Convert.h"
#include "Failure.h"
#include "FolderListing.h"
#include "Index.h"
#include "Platform.h"
#include "RunTexts.h"
#include "RunTerms.h"
#include "RunVoice.h"
#include "WorkAhead.h"

namespace {

// A name as it can stand in a log line: control characters shown as \xNN, and in a name the
// program cannot carry every byte beyond ASCII and every backslash shown so too, so that the
// line names the entry exactly and never reads as a path through folders.
std::string Printable(const std::string& dir, const TFindEntry& entry) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string name;
  for (const char c : entry.Name) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || (!entry.ExactName && (b >= 0x80 || c == '\\'))) {
      name += "\\x";
      name += kHex[b >> 4];
      name += kHex[b & 15];
    } else {
      name += c;
    }
  }
  return dir + "\\" + name;
}

// Whether a name ends as the feed's files end (".sub", ".F10", any case), whatever comes
// before: the ASCII ending survives a name that GBK cannot carry.
bool LooksLikeFeedFile(const std::string& name) {
  for (const std::string* ending : {&kSectionExtension, &kIndexExtension})
    if (name.size() >= ending->size() && SameText(std::string_view(name).substr(name.size() - ending->size()), *ending))
      return true;
  return false;
}

}  // namespace

std::string ArchiveFolder(const std::string& source) { return source + "\\" + kArchiveFolder; }

std::string PendingMarkName(const std::string& code) {
  // The longest file name the systems we run on take, in bytes of the host's UTF-8 (NTFS
  // counts UTF-16 units, never more than these).
  constexpr std::size_t kLongestName = 255;
  if (GbkToUtf8(code).size() + kPendingMark.size() <= kLongestName) return code + kPendingMark;
  // Names of 248 bytes and more are legal feed names whose mark would not be: such a code
  // gets a mark of its own kind, found again by computing it, never by reading it back.
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const char c : UpperAscii(code)) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string tail = "~";
  for (int shift = 60; shift >= 0; shift -= 4) tail += kHex[(hash >> shift) & 15];
  tail += kPendingMark;
  // Cut between characters, never inside a GBK pair.
  std::string kept;
  for (std::size_t i = 0; i < code.size();) {
    const std::size_t width = IsGbkLead(static_cast<unsigned char>(code[i])) && i + 1 < code.size() ? 2 : 1;
    const std::string longer = kept + code.substr(i, width);
    if (GbkToUtf8(longer).size() + tail.size() > kLongestName) break;
    kept = longer;
    i += width;
  }
  return kept + tail;
}

std::string PendingMark(const std::string& stageDir) {
  const std::size_t cut = stageDir.find_last_of('\\');
  if (cut == std::string::npos) return PendingMarkName(stageDir);
  return stageDir.substr(0, cut + 1) + PendingMarkName(stageDir.substr(cut + 1));
}

std::string StageFolder(const std::string& source, const std::string& code) {
  return ArchiveFolder(source) + "\\" + code;
}

bool ForceLastLevel(TPlatform& fs, const std::string& path) {
  // The archive and the stages are real folders inside their source root, never a way out
  // of it: a link under the name is as much a failure as a file.
  switch (fs.EntryKind(path)) {
    case TEntryKind::Folder: return true;
    case TEntryKind::Missing: break;
    default: throw EFailure(path + Texts::DirCreateError, 0, "mkdir", path);
  }
  const int made = fs.CreateDir(path);
  if (made == 0) return false;  // made now: there is nothing more to ask
  if (fs.EntryKind(path) != TEntryKind::Folder) throw EFailure(path + Texts::DirCreateError, made, "mkdir", path);
  return true;
}

TStaging::TStaging(TPlatform& fs, TRunVoice& voice) : FPlatform(fs), FVoice(voice) {}

TStaging::~TStaging() = default;

bool TStaging::AcceptFeedEntry(const std::string& dir, const TFindEntry& entry) {
  if (IsFeedFile(entry)) return true;
  if (!entry.ExactName)
    FVoice.Refuse(Texts::RefusedOddName, Printable(dir, entry));
  else
    FVoice.Refuse(Texts::RefusedNotAFile, dir + "\\" + entry.Name);
  return false;
}

void TStaging::ListIndexFiles(const std::string& dir, std::vector<std::string>& list) {
  list.clear();
  // Stocks staged by an earlier run whose merge did not finish (it failed, or the program
  // was killed): their sections already lie in the stage, so they wait without section
  // files in the root and are taken up again.
  FUnfinished.clear();
  for (const TFindEntry& entry : FPlatform.FindFiles(ArchiveFolder(dir) + "\\*" + kPendingMark))
    if (IsFeedFile(entry)) FUnfinished.insert(UpperAscii(entry.Name));
  // One search of the folder answers every question of this market's staging; a search
  // per stock would read the whole folder again for each of them.
  FListing = std::make_unique<TFolderListing>(FPlatform, dir);
  for (const TFindEntry& entry : FListing->Find("*" + kIndexExtension)) {
    if (entry.Name.size() < kIndexExtension.size()) continue;
    // Only what the feed delivered as plain files is taken; a stock with anything else
    // among its files waits, untouched, until that is put right.
    if (!AcceptFeedEntry(dir, entry)) continue;
    const std::string code = entry.Name.substr(0, entry.Name.size() - kIndexExtension.size());
    bool accepted = true;
    const std::vector<TFindEntry> sections = FindSubFiles(dir, code);
    for (const TFindEntry& section : sections) accepted = AcceptFeedEntry(dir, section) && accepted;
    if (accepted && (!sections.empty() || Unfinished(code))) list.push_back(entry.Name);
  }
  // A feed name the masks above cannot match is left where it is as well: a section whose
  // name GBK cannot carry is no "{code}?.sub" of its stock, which then waits for a reason
  // nobody would learn without this line.
  for (const TFindEntry& entry : FListing->Find("*"))
    if (!IsFeedFile(entry) && LooksLikeFeedFile(entry.Name)) AcceptFeedEntry(dir, entry);
}

std::vector<TFindEntry> TStaging::FindSubFiles(const std::string& dir, const std::string& code) {
  if (FListing && FListing->Dir() == dir) return FListing->Find(code + "?" + kSectionExtension);
  return FPlatform.FindFiles(dir + "\\" + code + "?" + kSectionExtension);
}

bool TStaging::Unfinished(const std::string& code) const {
  return FUnfinished.count(UpperAscii(PendingMarkName(code))) != 0;
}

bool TStaging::StageSections(const std::string& code, const std::string& source, std::string spare) {
  const std::string index = source + "\\" + code + kIndexExtension;
  if (const std::string* unfinishedIndex = IndexBeingWritten(code, index)) {
    if (!spare.empty()) (void)FPlatform.DeleteFile(spare);
    LeaveStock(code, {}, "", true, *unfinishedIndex, index);
    return false;
  }
  const std::string stage = StageFolder(source, code);
  const std::string mark = PendingMark(stage);
  bool marked = false, movedAny = false;
  std::vector<std::pair<std::string, std::string>> moved;  // (from, to) of the sections moved
  std::string making = stage;  // what the step under way makes, for the refusal to name
  try {
    CheckDataDir(code, source);
    // A run killed in this stock may have left a half-made copy in its stage.
    if (Unfinished(code)) (void)FPlatform.RemoveLeftovers(stage);
    // Marked before the first section leaves the root, cleared by the merge once it is done:
    // whatever stops the stock in between, the next run finds it and merges it again.
    making = mark;
    MarkPending(mark, std::exchange(spare, {}));
    marked = true;
    const bool listed = FListing && FListing->Dir() == source;
    for (const TFindEntry& entry : FindSubFiles(source, code)) {
      // The listing admitted the stock only when all its files were feed files; whatever else
      // turned up since is never moved.
      if (!IsFeedFile(entry)) continue;
      const std::string from = source + "\\" + entry.Name;
      const std::string staged = stage + "\\" + entry.Name;
      making = staged;
      // An older copy in the stage gives way to the delivered file. The move is tried first,
      // as it refuses an existing name: the stage is asked about the name only when it has one.
      int result = FPlatform.MoveFile(from, staged);
      if (result == kErrAlreadyExists) {
        DeleteIfExists(staged);
        result = FPlatform.MoveFile(from, staged);
      }
      // Another program still writes it: the stock waits, whole, for a later run.
      if (result == kErrSharingViolation) {
        LeaveStock(code, moved, mark, Unfinished(code), Texts::RefusedBeingWritten, from);
        return false;
      }
      if (result != 0) {
        // Listed, then taken away by someone else before this stock's turn: a search made now
        // would not have found it, so it is no failure of ours.
        if (result == kErrFileNotFound && listed && !FPlatform.FileExists(from)) continue;
        throw EFailure(code + Texts::CannotMove, result, "move", from);
      }
      movedAny = true;
      moved.emplace_back(from, staged);
      if (listed) FListing->Forget(entry.Name);
    }
  } catch (const EFailure& failure) {
    // A name the system will not make (too long, or not one it takes) fails the same way for
    // every run: the stock is left where it is, as a feed name the program cannot carry is,
    // and the rest of the market goes on. Once a section has moved, the stage is the stock's
    // and the failure is a staging failure like any other.
    const bool unmakeable = failure.Code() == kErrNameTooLong || failure.Code() == kErrInvalidName;
    if (!unmakeable || movedAny) throw;
    if (!spare.empty()) (void)FPlatform.DeleteFile(spare);
    // A mark made now would bring the stock back as unfinished; one an earlier run left
    // stays, for the sections that run staged.
    if (marked && !Unfinished(code)) (void)FPlatform.DeleteFile(mark);
    std::lock_guard<std::mutex> guard(FRefusalLock);
    FRefusals[code] = {Fmt(Texts::RefusedCannotStage, making),
                       source + "\\" + code + kIndexExtension};
    return false;
  }
  return true;
}

const std::string* TStaging::IndexBeingWritten(const std::string& code, const std::string& path) {
  std::string bytes;
  try {
    const std::unique_ptr<TReadFile> file = FPlatform.OpenShared(path);
    const std::int64_t size = file->Size();
    bytes.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
    bytes.resize(file->ReadAt(0, bytes.data(), bytes.size()));
  } catch (const EFailure& e) {
    return e.Code() == kErrSharingViolation ? &Texts::RefusedBeingWritten : nullptr;
  }
  TIndexHeader header{};
  // Shorter than a header is the index loader's failure to report, as it always was.
  if (bytes.size() >= sizeof header) {
    std::memcpy(&header, bytes.data(), sizeof header);
    const std::int64_t promised =
        static_cast<std::int64_t>(sizeof header) + std::int64_t{header.Count} * std::int64_t{sizeof(TIndexRecord)};
    if (static_cast<std::int64_t>(bytes.size()) < promised) return &Texts::RefusedShortIndex;
  }
  // Read whole while nobody wrote it: these bytes become the stage's copy.
  std::lock_guard<std::mutex> guard(FRefusalLock);
  FIndexBytes[UpperAscii(code)] = std::move(bytes);
  return nullptr;
}

void TStaging::LeaveStock(const std::string& code, const std::vector<std::pair<std::string, std::string>>& moved,
                          const std::string& mark, bool markWasThere, const std::string& reason,
                          const std::string& path) {
  bool allBack = true;
  for (auto it = moved.rbegin(); it != moved.rend(); ++it)
    allBack = FPlatform.MoveFile(it->second, it->first) == 0 && allBack;
  // A section that could not go back (the feed delivered it anew meanwhile) stays staged
  // under the mark, and the next run stages the rest beside it.
  if (!markWasThere && allBack && !mark.empty()) (void)FPlatform.DeleteFile(mark);
  std::lock_guard<std::mutex> guard(FRefusalLock);
  FIndexBytes.erase(UpperAscii(code));
  FRefusals[code] = {reason, path};
}

bool TStaging::TakeRefusal(const std::string& code, std::string& reason, std::string& path) {
  std::lock_guard<std::mutex> guard(FRefusalLock);
  const auto found = FRefusals.find(code);
  if (found == FRefusals.end()) return false;
  reason = found->second.Reason;
  path = found->second.Path;
  FRefusals.erase(found);
  return true;
}

void TStaging::CopyStagingIndex(const std::string& code, const std::string& source) {
  // The index stays in the source root; the stage gets a copy for the merge to read, made
  // from the bytes staging read when it found the index whole.
  FCopiedCode = code;
  FCopiedTo = StageFolder(source, code) + "\\" + code + kIndexExtension;
  const std::string key = UpperAscii(code);
  std::string bytes;
  {
    std::lock_guard<std::mutex> guard(FRefusalLock);
    const auto it = FIndexBytes.find(key);
    if (it == FIndexBytes.end()) {
      FCopyError = FPlatform.CopyFileOver(source + "\\" + code + kIndexExtension, FCopiedTo);
      return;
    }
    bytes = std::move(it->second);
    FIndexBytes.erase(it);
  }
  try {
    WriteWholeFile(FPlatform, FCopiedTo, bytes);
    FCopyError = 0;
  } catch (const EFailure& e) {
    FCopyError = e.Code() ? e.Code() : kErrIoDevice;
    return;
  }
  FStagedIndexes[key] = std::move(bytes);
}

std::optional<std::string> TStaging::TakeStagedIndex(const std::string& code) {
  const auto it = FStagedIndexes.find(UpperAscii(code));
  if (it == FStagedIndexes.end()) return std::nullopt;
  std::optional<std::string> bytes(std::move(it->second));
  FStagedIndexes.erase(it);
  return bytes;
}

std::optional<EFailure> TStaging::IndexCopyFailure(const std::string& code) const {
  if (FCopyError == 0 || FCopiedCode != code) return std::nullopt;
  // Named by the copy it should have become: a full or read-only archive is the usual cause.
  return EFailure(Texts::IndexNotStaged + FCopiedTo, FCopyError, "copy", FCopiedTo);
}

void TStaging::CheckDataDir(const std::string& code, const std::string& source) {
  ForceLastLevel(FPlatform, StageFolder(source, code));
}

void TStaging::DeleteIfExists(const std::string& path) {
  if (!FPlatform.FileExists(path)) return;
  if (const int error = FPlatform.DeleteFile(path)) throw EFailure(Texts::CannotDelete + path, error, "delete", path);
}

void TStaging::EndMarket() {
  FListing.reset();
  {
    std::lock_guard<std::mutex> guard(FRefusalLock);
    FIndexBytes.clear();
  }
  FStagedIndexes.clear();
  DropSpareMark();
}

std::string TStaging::TakeSpareMark() { return std::exchange(FSpareMark, {}); }

void TStaging::StockDone(const std::string& mark) {
  DropSpareMark();
  FSpareMark = mark;
}

void TStaging::MarkPending(const std::string& mark, std::string spare) {
  if (!spare.empty()) {
    if (FPlatform.MoveFile(spare, mark) == 0) return;
    // This stock's mark is there already (a run stopped in it), or the spare went astray.
    (void)FPlatform.DeleteFile(spare);
  }
  if (const int error = FPlatform.CreateIfMissing(mark))
    throw EFailure(Texts::CannotWrite + mark, error, "create", mark);
}

void TStaging::DropSpareMark() noexcept {
  if (FSpareMark.empty()) return;
  std::string spare;
  spare.swap(FSpareMark);
  try {
    // The mark's stock may still have mirror copies waiting on the second thread: the mark
    // goes after them, so that a run killed before they are done merges the stock again.
    if (FAhead) {
      FAhead->Post([this, spare] {
        try {
          (void)FPlatform.DeleteFile(spare);
        } catch (...) {
          // As below: a mark left behind is one more merge, no failure of the run.
        }
      });
      return;
    }
    (void)FPlatform.DeleteFile(spare);
  } catch (...) {
    // Left behind, it costs the next run one more merge of a finished stock.
  }
}
