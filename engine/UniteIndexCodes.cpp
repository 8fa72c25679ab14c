// The market-index composites: for each code of section 大盘代码, every text that the
// Shanghai template index 000001.F10 lists, joined into {target}\{code}.txt, copied to the
// market's mirrors, and with indexing on a fresh index for it.

#include <exception>
#include <string>

#include "Failure.h"
#include "Index.h"
#include "IniFile.h"
#include "Lines.h"
#include "MirrorCopies.h"
#include "Platform.h"
#include "RunReport.h"
#include "RunTexts.h"
#include "uUniteThread.h"

namespace {

// The folder part of a path: everything before its last separator.
std::string DirectoryPart(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

}  // namespace

void TUniteThread::UniteIndexCodes() {
  TIniFile settings(FPlatform, SettingsPath());
  const TNameValues codes = settings.ReadSectionValues(Texts::SectionIndexCodes);
  // Unreadable settings build no composite this time, and say so; the next run builds them
  // all anew.
  if (settings.ReadError()) {
    ReportFailure(Texts::CannotReadSettings + settings.FileName() + " " + settings.ReadErrorText());
    return;
  }
  // The template lies in the Shanghai source root, where the feed writes: a link or a
  // special file under its name is never read, nor replaced by the index's release.
  if (!codes.empty() && !FSrcPath.empty()) {
    const std::string templatePath = FSrcPath + "\\" + kTemplateCode + kIndexExtension;
    const TEntryKind kind = FPlatform.EntryKind(templatePath);
    if (kind == TEntryKind::Folder || kind == TEntryKind::Other) {
      Refuse(Texts::RefusedNotAFile, templatePath);
      return;
    }
  }
  for (const auto& [name, code] : codes) {
    if (Terminated()) break;
    // Shanghai's tag first: a name that holds both tags is a Shanghai code.
    const std::string market = name.find(kTagSh) != std::string::npos   ? kMarketSh
                               : name.find(kTagSz) != std::string::npos ? kMarketSz
                                                                        : "";
    if (market.empty()) continue;
    const TItemGuard item = Working(true, market, code);
    try {
      UniteIndexCode(market, code);
    } catch (...) {
      const std::optional<EFailure> failure = FailureOf(std::current_exception());
      if (!failure) break;  // stopped: the composites left are built by the next run
      ReportFailure(*failure);
    }
  }
}

void TUniteThread::UniteIndexCode(const std::string& market, const std::string& code) {
  const std::string target = market == kMarketSh ? FDesPath : market == kMarketSz ? FSzDesPath : "";
  // Without a Shanghai source root the template would be looked for, and written back, at
  // the root of a drive; without a target root the composite would land there too.
  if (FSrcPath.empty()) {
    FMessage = code + Texts::CodeSkippedNoTemplate;
    LogToForm(TLineKind::Notice);
    return;
  }
  if (target.empty()) {
    FMessage = code + Texts::CodeSkippedNoTarget;
    LogToForm(TLineKind::Notice);
    return;
  }

  const std::string drive = FSrcPath.substr(0, 2);
  const std::string composite = target + "\\" + code + kTextExtension;
  const std::vector<std::string> mirrors = FMirrorCopies->MirrorsOf(market);

  // A failure to load it goes to the caller: no file of this code is touched.
  TIndex templateIndex(FPlatform, FSrcPath + "\\" + kTemplateCode + kIndexExtension, false, &FStop);
  if (templateIndex.Interrupted()) throw EStopped();
  try {
    FPlatform.CreateEmpty(composite);
    FTitles.clear();
    for (int i = 0; i < templateIndex.Count(); ++i) {
      // The composite is read and written whole for each text, so a template of thousands of
      // texts takes minutes: a stop request is heard between two of them. The composite stays
      // as it stands, its mirrors and index as they were; the next run builds it anew.
      if (Terminated()) throw EStopped();
      const TIndexRecord& record = templateIndex.Record(i);
      AppendTextFile(composite, drive + FieldText(record.TextFile), FieldText(record.Title));
    }
    for (const std::string& mirror : mirrors)
      FMirrorCopies->CopyToMirror(composite, mirror + "\\" + code + kTextExtension);
    if (FMakeIndex) {
      const std::string dir = DirectoryPart(composite);
      GenerateIndex(dir, code, market == kMarketSh ? std::uint8_t{0} : std::uint8_t{2});
      for (const std::string& mirror : mirrors)
        FMirrorCopies->CopyToMirror(dir + "\\" + code + kIndexExtension, mirror + "\\" + code + kIndexExtension);
    }
  } catch (...) {
    const std::optional<EFailure> failure = FailureOf(std::current_exception());
    if (!failure) throw;
    ReportFailure(*failure);
  }
  // Last, whatever happened to the composite; a save error is reported by the caller.
  templateIndex.Release();
  if (FReport) FReport->CompositeDone(market, code);
}

void TUniteThread::AppendTextFile(const std::string& target, const std::string& source,
                                  const std::string& title) {
  if (!FPlatform.FileExists(target)) {
    FMessage = target + Texts::Ellipses;
    LogToFile();
    return;
  }
  // Looked at without following a link: a template text is read only when it is a plain
  // file, and a link or special file under its name is reported once and skipped.
  switch (FPlatform.EntryKind(source)) {
    case TEntryKind::File: break;
    case TEntryKind::Other:
      Refuse(Texts::RefusedNotAFile, source);
      return;
    default:
      FMessage = source + Texts::Ellipses;
      LogToFile();
      return;
  }
  // Collected before the join: a text that then fails to join keeps its title.
  if (FMakeIndex && !title.empty()) FTitles.push_back(title);
  try {
    // Read and written whole for each text, so the composite on disk is always complete up
    // to the last text joined.
    TLines lines = LoadLines(FPlatform, target);
    lines.AddAll(LoadLines(FPlatform, source));
    SaveLines(FPlatform, target, lines);
  } catch (...) {
    const std::optional<EFailure> failure = FailureOf(std::current_exception());
    if (!failure) throw;
    ReportFailure(*failure);
  }
}
