// A fresh F10 index for a merged text: one record per section, sections cut at the title
// lines (lines that begin with a backtick), offsets and lengths in bytes of the text as it
// lies on disk (every line followed by CR LF).

#include <cstdint>
#include <string>
#include <string_view>

#include "Clock.h"
#include "Failure.h"
#include "Index.h"
#include "Lines.h"
#include "Platform.h"
#include "RunTexts.h"
#include "uUniteThread.h"

namespace {

constexpr int kLoadAttempts = 10;
constexpr int kLoadPauseMs = 5000;
// The Kind of every generated record.
constexpr std::uint8_t kSectionKind = 4;
// The Code field's text: the market byte, then the code less this many characters at its
// end, then zero bytes up to kCodeTextLength.
constexpr std::size_t kCodeCharsDropped = 4;
constexpr std::size_t kCodeTextLength = 9;

bool IsTitleLine(std::string_view line) { return !line.empty() && line[0] == '`'; }

}  // namespace

std::string CodeText(std::uint8_t marketByte, const std::string& baseName) {
  std::string text(1, static_cast<char>(marketByte));
  if (baseName.size() > kCodeCharsDropped) text.append(baseName, 0, baseName.size() - kCodeCharsDropped);
  if (text.size() < kCodeTextLength) text.append(kCodeTextLength - text.size(), '\0');
  return text;
}

void TUniteThread::GenerateIndex(const std::string& dir, const std::string& baseName,
                                 std::uint8_t marketByte, std::string* written) {
  FMessage = Texts::GenerateStart + baseName + Texts::GenerateEnd;
  LogToForm();

  // The new index replaces the old one whole: nothing is read from it.
  TIndex index(FPlatform, dir + "\\" + baseName + kIndexExtension, true, &FStop);

  // Another program may be writing the text; wait it out, and give up quietly. A stop
  // request ends the wait and leaves the old index as it is: the text it would have been
  // made from was not read.
  const std::string textPath = dir + "\\" + baseName + kTextExtension;
  TLines lines;
  bool loaded = written != nullptr;
  if (written) lines = TLines::Adopt(std::move(*written));
  for (int attempt = 0; attempt < kLoadAttempts && !loaded; ++attempt) {
    try {
      lines = LoadLines(FPlatform, textPath);
      loaded = true;
    } catch (const EFailure&) {
      if (!FPlatform.Sleep(kLoadPauseMs, &FStop)) throw EStopped();
    }
  }
  if (!loaded) {
    // No records: the release removes an index of that name, so no stale index survives a
    // text that could not be read.
    index.Release();
    return;
  }

  const std::string code = CodeText(marketByte, baseName);
  const std::string textFile = baseName + kTextExtension;
  const std::size_t titleCount = FTitles.size();

  auto addSection = [&](const std::string& title, std::size_t start, std::size_t end) {
    index.AddRecord(0, kSectionKind, marketByte, CompactDate(FPlatform.Now()), "00:00", title, textFile,
                    static_cast<std::int32_t>(start), static_cast<std::int32_t>(end - start),
                    code, "");
  };

  try {
    std::size_t taken = 0;  // joined length of the lines before the current one
    std::size_t start = 0;  // where the current section began
    std::size_t seen = 0;   // title lines met so far
    for (std::size_t i = 0; i < lines.Count(); ++i) {
      const std::string_view line = lines[i];
      if (IsTitleLine(line)) {
        if (seen > 0) {
          // The last collected title is kept for the tail record, hence k < N.
          addSection(seen < titleCount ? FTitles[seen - 1] : Texts::DefaultTitle, start, taken);
          start = taken;
        }
        ++seen;
      }
      taken += line.size() + 2;
    }
    if (start < taken)
      addSection(FTitles.empty() ? Texts::DefaultTitle : FTitles.back(), start, taken);
  } catch (...) {
    // Keep what was built so far; the caller hears of the error that stopped it, not of a
    // save error that may follow from the same cause.
    try {
      index.Release();
    } catch (...) {
    }
    throw;
  }
  index.Release();
  if (index.Interrupted()) throw EStopped();
}
