#include "Index.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <utility>

#include "Convert.h"
#include "Failure.h"
#include "Platform.h"
#include "Texts.h"

namespace {

// The file ended before the bytes the load needed: what the file holds is all there is, so
// the load ends like a finished one (its release saves what was read).
class EShortIndex final : public EFailure {
 public:
  explicit EShortIndex(const std::string& path) : EFailure(Texts::StreamReadError, 0, "read", path) {}
};

// The first `width` bytes of `text`, zero bytes after them up to the end of the field.
void PutField(char* field, std::size_t width, const std::string& text) {
  const std::size_t n = std::min(width, text.size());
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, width - n);
}

// The bytes of TimeText that the classic 1-based Copy(s, index, 2) gives: shorter, or
// empty, when the text ends before them.
std::string TimePart(const std::string& text, std::size_t index) {
  if (text.size() < index) return std::string();
  return text.substr(index - 1, 2);
}

// Date and Time as decimal texts, one after the other: the order in which records sort.
std::string RecordKey(const TIndexRecord& record) {
  const std::int32_t date = record.Date;
  const std::int32_t time = record.Time;
  return std::to_string(date) + std::to_string(time);
}

// An open tried up to kAttempts times, with a pause after every failed attempt (the last
// one too: a busy file costs the full wait before it is given up). Null when all failed, or
// when a stop request cut a pause short (`interrupted` is then set).
template <typename TOpen>
auto OpenWithRetry(TPlatform& fs, const TStopSignal* stop, bool& interrupted, TOpen open) -> decltype(open()) {
  for (int attempt = 0; attempt < TIndex::kAttempts; ++attempt) {
    try {
      return open();
    } catch (const EFailure& failure) {
      // A link or a device under the name is no busy file, and a missing folder (a target
      // folder not made, a drive not mapped) does not come by waiting: ten pauses would hold
      // the run for nearly a minute for nothing.
      if (failure.Code() == kErrNotAFile || failure.Code() == kErrPathNotFound) break;
    } catch (const std::exception&) {
      // The attempts are not reported: a busy file is the normal case being waited out.
    }
    if (!fs.Sleep(TIndex::kRetryPauseMs, stop)) {
      interrupted = true;
      break;
    }
  }
  return nullptr;
}

// A file's bytes held in memory, read as the file would be.
class TBytesFile final : public TReadFile {
 public:
  explicit TBytesFile(const std::string& bytes) : FBytes(bytes) {}
  std::int64_t Size() override { return static_cast<std::int64_t>(FBytes.size()); }
  std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t n) override {
    const auto at = static_cast<std::size_t>(offset);
    if (at >= FBytes.size()) return 0;
    n = std::min(n, FBytes.size() - at);
    std::memcpy(buffer, FBytes.data() + at, n);
    return n;
  }

 private:
  const std::string& FBytes;
};

}  // namespace

std::string FieldText(const char* field, std::size_t width) {
  std::string text;
  text.reserve(width);
  for (std::size_t i = 0; i < width; ++i)
    if (field[i] != 0) text.push_back(field[i]);
  return text;
}

std::uint8_t RecordCheck(const TIndexRecord& record) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
  unsigned sum = 0;
  for (std::size_t i = 0; i < offsetof(TIndexRecord, Check); ++i) sum += bytes[i];
  return static_cast<std::uint8_t>(sum & 0xFFu);
}

TIndexHeader DefaultIndexHeader() {
  TIndexHeader header;
  std::memcpy(header.Magic, "VESPERIN", sizeof header.Magic);
  header.Byte8 = 1;
  header.Byte9 = 1;
  header.Count = 0;
  std::memset(header.Reserved, 0, sizeof header.Reserved);
  return header;
}

TIndex::TIndex(TPlatform& fs, std::string fileName, bool startEmpty, const TStopSignal* stop)
    : FPlatform(fs), FStop(stop), FHeader(DefaultIndexHeader()), FFileName(std::move(fileName)) {
  if (startEmpty) return;
  if (!FPlatform.FileExists(FFileName)) return;
  // Only a file that ended too early is saved on the way out. When a read itself fails the
  // file is left alone: saving the records read so far would cut good records off an index
  // that merely could not be read this time.
  try {
    Load();
  } catch (const EShortIndex&) {
    // The partly built index is saved like any other, so a file too short to hold a
    // header goes away when its name says it is an index. The load's error is the one
    // the caller needs; a failure of this save must not hide it.
    try {
      Save();
    } catch (...) {
    }
    throw;
  }
}

TIndex::TIndex(TPlatform& fs, std::string fileName, std::string written)
    : FPlatform(fs), FStop(nullptr), FHeader(DefaultIndexHeader()), FFileName(std::move(fileName)),
      FWritten(std::make_unique<std::string>(std::move(written))) {
  TBytesFile file(*FWritten);
  try {
    LoadFrom(file);
  } catch (const EShortIndex&) {
    try {
      Save();
    } catch (...) {
    }
    throw;
  }
}

TIndex::~TIndex() = default;

void TIndex::Load() {
  std::unique_ptr<TReadFile> file =
      OpenWithRetry(FPlatform, FStop, FInterrupted, [&] { return FPlatform.OpenExclusive(FFileName); });
  if (!file) {
    // Another program keeps the file: leave it alone, now and at the release.
    FCanSave = false;
    return;
  }
  LoadFrom(*file);
}

void TIndex::LoadFrom(TReadFile& file) {
  // The size comes first, while the file can still answer it from its open.
  const std::int64_t size = file.Size();
  // From here the header is what the file holds; a short file leaves its bytes in front of
  // zeros, as a partial read would.
  std::memset(&FHeader, 0, sizeof FHeader);
  if (file.ReadAt(0, &FHeader, sizeof FHeader) != sizeof FHeader)
    throw EShortIndex(FFileName);

  const std::int64_t capacity =
      size >= static_cast<std::int64_t>(sizeof FHeader)
          ? (size - static_cast<std::int64_t>(sizeof FHeader)) /
                static_cast<std::int64_t>(sizeof(TIndexRecord))
          : 0;
  if (capacity < FHeader.Count) FHeader.Count = static_cast<std::int16_t>(capacity);

  // All records in one read. The file may have shrunk since its size was taken: the records
  // it gave whole are kept, and the load ends short as a record-by-record read would.
  const std::size_t count = FHeader.Count > 0 ? static_cast<std::size_t>(FHeader.Count) : 0;
  FRecords.resize(count);
  const std::size_t want = count * sizeof(TIndexRecord);
  const std::size_t got = want == 0 ? 0 : file.ReadAt(sizeof FHeader, FRecords.data(), want);
  if (got < want) {
    FRecords.resize(got / sizeof(TIndexRecord));
    throw EShortIndex(FFileName);
  }
  FAsLoaded = size == static_cast<std::int64_t>(sizeof FHeader + want) && FHeader.Count >= 0 &&
              FHeader.Count <= FMaxRecords;
}

void TIndex::AddRecord(std::uint8_t byte0, std::uint8_t kind, std::uint8_t market,
                       const std::string& dateText, const std::string& timeText,
                       const std::string& title, const std::string& textFile,
                       std::int32_t textOffset, std::int32_t textLength,
                       const std::string& code, const std::string& extra) {
  // Every conversion comes before the list is touched, so a bad text leaves it as it was.
  const std::int32_t date = StrToInt(dateText);
  const std::int32_t hours = StrToInt(TimePart(timeText, 1));
  const std::int32_t minutes = StrToInt(TimePart(timeText, 4));

  TIndexRecord record;
  std::memset(&record, 0, sizeof record);
  record.Byte0 = byte0;
  record.Kind = kind;
  record.Market = market;
  record.Date = date;
  record.Time = hours * 10000 + minutes * 100;
  PutField(record.Title, sizeof record.Title, title);
  PutField(record.TextFile, sizeof record.TextFile, textFile);
  record.TextOffset = textOffset;
  record.TextLength = textLength;
  PutField(record.Code, sizeof record.Code, code);
  PutField(record.Extra, sizeof record.Extra, extra);
  record.Check = RecordCheck(record);

  // From the end: records come in non-decreasing key order as a rule, so this usually
  // stops at the first comparison. std::string compares like memcmp, byte by byte
  // unsigned, with a prefix the smaller.
  const std::string key = RecordKey(record);
  std::size_t at = FRecords.size();
  while (at > 0 && key < RecordKey(FRecords[at - 1])) --at;
  FRecords.insert(FRecords.begin() + static_cast<std::ptrdiff_t>(at), record);
  FAsLoaded = false;
}

void TIndex::Release() {
  if (FReleased) return;
  FReleased = true;
  if (FCanSave) {
    Save();  // frees the records on every path
  } else {
    FRecords.clear();
    FRecords.shrink_to_fit();
  }
}

bool TIndex::StillHolds(const std::string& bytes) {
  // Writing a file back as it is would only cost a new file for the old one. What the file
  // holds now is read under the same lock a save takes; anything else (a busy file, another
  // program's change since the load) goes the way of a real save.
  // Bytes this process wrote under its claim are still the file's: nobody else writes there.
  if (FWritten) return *FWritten == bytes;
  try {
    std::unique_ptr<TReadFile> file = FPlatform.OpenExclusive(FFileName);
    if (file->Size() != static_cast<std::int64_t>(bytes.size())) return false;
    std::string now(bytes.size(), '\0');
    return file->ReadAt(0, now.data(), now.size()) == now.size() && now == bytes;
  } catch (const std::exception&) {
    return false;
  }
}

void TIndex::Save() {
  // The records go whatever happens below.
  struct TFreeRecords {
    std::vector<TIndexRecord>& Records;
    ~TFreeRecords() {
      Records.clear();
      Records.shrink_to_fit();
    }
  } freeRecords{FRecords};

  const std::size_t n = FRecords.size();
  const std::size_t max = static_cast<std::size_t>(FMaxRecords);
  const std::size_t first = n > max ? n - max : 0;
  FHeader.Count = static_cast<std::int16_t>(n - first);
  std::string bytes(reinterpret_cast<const char*>(&FHeader), sizeof FHeader);
  bytes.append(reinterpret_cast<const char*>(FRecords.data() + first), (n - first) * sizeof(TIndexRecord));
  if (n > 0 && FAsLoaded && StillHolds(bytes)) return;

  std::unique_ptr<TNewFile> file =
      OpenWithRetry(FPlatform, FStop, FInterrupted, [&] { return FPlatform.CreateExclusive(FFileName); });
  if (!file) return;  // the file keeps its old content

  std::exception_ptr writeError;
  try {
    file->WriteAt(0, bytes.data(), bytes.size());
    file->Commit();
  } catch (const std::exception& e) {
    // Without the commit the old file stays whole: a failed save never leaves a torn index.
    const EFailure* cause = dynamic_cast<const EFailure*>(&e);
    writeError = std::make_exception_ptr(
        EFailure(Texts::StreamWriteError, cause ? cause->Code() : 0,
                 cause && !cause->Operation().empty() ? cause->Operation() : "write", FFileName));
  }
  file.reset();  // closes the file (and drops an uncommitted temporary) before the delete

  if (n == 0 && FFileName.find(kIndexExtension) != std::string::npos) {
    // An index with nothing in it is no index; if the delete fails the empty one stays.
    FPlatform.DeleteFile(FFileName);
  }
  if (writeError) std::rethrow_exception(writeError);
}
