// The merge of one stock: its sections, in the order its staging index lists them, joined
// into {target}\{code}.txt with a title line before each banner line, copied to the
// market's mirrors, and, with indexing on, a fresh index for the text.

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Convert.h"
#include "Failure.h"
#include "Index.h"
#include "Lines.h"
#include "MirrorCopies.h"
#include "Platform.h"
#include "RunReport.h"
#include "RunTexts.h"
#include "Staging.h"
#include "uUniteThread.h"

namespace {

// A section file made for a missing one is written under this name first.
const std::string kMadeSuffix = ".~made";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A component the path rules read as "the folder above": "..", and the same written with
// more dots or trailing blanks, which Windows folds the same way.
bool IsParentComponent(std::string_view part) {
  std::size_t dots = 0;
  for (char c : part) {
    if (c == '.')
      ++dots;
    else if (c != ' ')
      return false;
  }
  return dots >= 2;
}

// A TextFile field names a file inside the stage folder. Joined to the stage folder, a
// name that climbs out of it, starts at a root or carries a drive would reach files the
// feed has no business with, so such a name is never used.
bool LeavesStageFolder(std::string_view name) {
  if (name.empty()) return false;
  if (IsSeparator(name[0])) return true;
  if (name.size() >= 2 && name[1] == ':') return true;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    if (IsParentComponent(name.substr(start, end - start))) return true;
    start = end + 1;
  }
  return false;
}

// A name may lead into a folder of the stage folder, but only through real folders: a link
// or a special file on the way, which only the feed can have put there, leads anywhere.
bool PassesAStrangeEntry(TPlatform& fs, const std::string& stageDir, std::string_view name) {
  std::string path = stageDir;
  std::size_t start = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (IsGbkLead(static_cast<unsigned char>(name[i])) && i + 1 < name.size()) {
      ++i;  // a trail byte may be 0x5C and is no separator
      continue;
    }
    if (!IsSeparator(name[i])) continue;
    if (i > start) {
      path += "\\";
      path += name.substr(start, i - start);
      if (fs.EntryKind(path) == TEntryKind::Other) return true;
    }
    start = i + 1;
  }
  return false;
}

}  // namespace

std::string TitlePass(const TLines& merge) {
  const std::string_view banner = Texts::BannerText;
  const std::string_view arrow = Texts::Arrow;
  const std::string_view bytes = merge.Bytes();
  std::string out;
  out.reserve(merge.JoinedLength() + 64 * 4);
  // The banner is looked for in the buffer as a whole, not line by line: a text of two
  // thousand lines has a dozen banners. A match counts for the line it begins in when it
  // also ends there.
  std::size_t bannerAt = bytes.find(banner);
  const std::size_t count = merge.Count();
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view line = merge[i];
    const std::size_t offset = merge.Offset(i);
    if (bannerAt != std::string_view::npos && bannerAt < offset) bannerAt = bytes.find(banner, offset);
    if (bannerAt != std::string_view::npos && bannerAt + banner.size() <= offset + line.size()) {
      const std::string_view next = i + 1 < count ? Trim(merge[i + 1]) : std::string_view();
      const std::size_t cut = next.find(arrow);
      if (cut != std::string_view::npos && cut > 0) {
        out.append(Texts::Backtick);
        out.append(next.substr(0, cut));
        out.append(Texts::Backtick);
        out.append("\r\n");
      }
    }
    out.append(line);
    out.append("\r\n");
  }
  return out;
}

void TUniteThread::UniteStock(const std::string& code, const std::string& stageDir,
                              const std::string& target) {
  const std::string mark = PendingMark(stageDir);
  // Shanghai's 000001 is the template of the composites, not a stock to merge.
  if (FMarket == kMarketSh && code == kTemplateCode) {
    FStaging->StockDone(mark);
    return;
  }
  const TItemGuard item = Working(false, FMarket, code);
  try {
    FMessage = Texts::MergeStart + code + "...";
    LogToForm();

    const std::string stagingIndex = stageDir + "\\" + code + kIndexExtension;
    const std::string textPath = target + "\\" + code + kTextExtension;

    // The stage index written in this run is taken as written, not read back.
    std::optional<std::string> staged = FStaging->TakeStagedIndex(code);
    const bool merged = staged || FPlatform.FileExists(stagingIndex);
    std::string text;  // what this run wrote as the stock's text
    if (merged) {
      // Leaving this block by a failure destroys the index unsaved: the staging index
      // stays as it was.
      const std::unique_ptr<TIndex> held =
          staged ? std::make_unique<TIndex>(FPlatform, stagingIndex, std::move(*staged))
                 : std::make_unique<TIndex>(FPlatform, stagingIndex, false, &FStop);
      TIndex& index = *held;
      // Stopped while the index was busy: nothing of the stock is touched, and its mark
      // brings it back to the next run.
      if (index.Interrupted()) throw EStopped();
      // The old text goes first, so a stock that fails half way never leaves a text that
      // looks merged but is stale.
      FPlatform.CreateEmpty(textPath);
      FTitles.clear();
      TLines merge;
      for (int i = 0; i < index.Count(); ++i) {
        const TIndexRecord& record = index.Record(i);
        const std::string name = FieldText(record.TextFile);
        if (LeavesStageFolder(name) || PassesAStrangeEntry(FPlatform, stageDir, name))
          throw EFailure(Texts::BadTextFileName + name, 0, "read", stagingIndex);
        CollectSectionText(merge, stageDir + "\\" + name, FieldText(record.Title));
      }
      text = TitlePass(merge);
      WriteWholeFile(FPlatform, textPath, text);
      FMirrorCopies->CopyToMirrors(textPath, FMarket, code + kTextExtension);
      index.Release();
    } else {
      // Nothing merged for this stock: the titles of the stock before it must not name the
      // sections of this one's index.
      FTitles.clear();
    }

    if (FMakeIndex) {
      GenerateIndex(target, code, FMarket == kMarketSz ? std::uint8_t{2} : std::uint8_t{0}, merged ? &text : nullptr);
      FMirrorCopies->CopyToMirrors(target + "\\" + code + kIndexExtension, FMarket, code + kIndexExtension);
    }

    // A failed copy of the index into the stage is silent in the log, but whoever reads the
    // report or the headless run's account must learn that this stock did not get its
    // delivered index: it counts as failed.
    const std::optional<EFailure> copyFailed = FStaging->IndexCopyFailure(code);
    if (copyFailed) TellFailure(*copyFailed);
    // A stock whose staging index was missing (its copy failed) wrote no text: it is not
    // done, keeps its mark, and is merged again once the copy succeeds.
    if (!merged) return;
    FMessage = code + Texts::MergeDone;
    LogToForm();
    // Merged from an older copy of its index: not done either, so that the next run copies
    // the delivered index and merges the stock again.
    if (copyFailed) return;
    if (FReport) FReport->StockMerged(FMarket, code);
    // Done: the next run need not come back to this stock. The mark is not deleted here but
    // becomes the next stock's, so that a run deletes no file per stock; a process stopped
    // before that costs one more merge of the same files, nothing else.
    FStaging->StockDone(mark);
  } catch (...) {
    // One stock never ends the run, whatever stopped it (out of memory on a huge section,
    // say). Stopped by a stop request, it is left as it stands for the next run, which its
    // mark brings it back to.
    if (const std::optional<EFailure> failure = FailureOf(std::current_exception())) ReportFailure(*failure);
  }
}

void TUniteThread::CollectSectionText(TLines& merge, const std::string& path,
                                      const std::string& title) {
  // Read at once; only a read that fails asks whether the file is there. Only a file that is
  // not there is made up; whatever else failed is the stock's failure, as it would have been
  // after the question.
  try {
    merge.AddAll(LoadLines(FPlatform, path));
    if (FMakeIndex && !title.empty()) FTitles.push_back(title);
    return;
  } catch (const EFailure&) {
    if (FPlatform.FileExists(path)) throw;
  }
  FMessage = Texts::FileNotFound + path;
  LogToFile();
  if (title.empty()) return;
  TLines created;
  created.Add(Texts::Backtick + title + Texts::BannerTail);
  created.Add("");
  // Made beside it and moved into place, never written over it: when the question above
  // failed rather than found no file, the delivered section must not be replaced by a
  // made-up one. A move refuses an existing name; the file found there is then used.
  const std::string made = path + kMadeSuffix;
  SaveLines(FPlatform, made, created);
  const int moved = FPlatform.MoveFile(made, path);
  if (moved != 0) {
    (void)FPlatform.DeleteFile(made);
    if (moved != kErrAlreadyExists) throw IoFailure(moved, "move", made);
  }
  merge.AddAll(LoadLines(FPlatform, path));
  if (FMakeIndex) FTitles.push_back(title);
}
