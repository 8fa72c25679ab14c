#pragma once
// TIndex: one F10 index file held in memory. A 16-byte header, then 256-byte records with no
// gap (record i at 16 + 256*i), integers little-endian. The index loads its file when it is
// constructed and writes it back, whole and atomically, when it is released.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TPlatform;
class TReadFile;
class TStopSignal;

// The extension of an index file; the code is the name without it.
inline const std::string kIndexExtension = ".F10";

static_assert(std::endian::native == std::endian::little,
              "the index layout is read and written as the host's own bytes");

#pragma pack(push, 1)
struct TIndexHeader {
  char Magic[8];         // "VESPERIN" in a header made by the program; never validated
  std::uint8_t Byte8;    // 1 in a header made by the program
  std::uint8_t Byte9;    // 1 in a header made by the program
  std::int16_t Count;    // records that follow; rewritten by every save
  std::uint8_t Reserved[4];
};

struct TIndexRecord {
  std::uint8_t Byte0;    // 0 in generated records
  std::uint8_t Kind;     // 4 in generated records
  std::uint8_t Market;   // 0 Shanghai, 2 Shenzhen
  std::int32_t Date;     // YYYYMMDD
  std::int32_t Time;     // HHMMSS, written as HH*10000 + MM*100
  char Title[64];        // text fields: first W bytes, zero fill, no terminator when full
  char TextFile[80];
  std::int32_t TextOffset;
  std::int32_t TextLength;
  char Code[36];
  char Extra[56];
  std::uint8_t Check;    // low 8 bits of the sum of bytes 0..254
};
#pragma pack(pop)

static_assert(sizeof(TIndexHeader) == 16);
static_assert(sizeof(TIndexRecord) == 256);
static_assert(offsetof(TIndexRecord, Title) == 11);
static_assert(offsetof(TIndexRecord, TextFile) == 75);
static_assert(offsetof(TIndexRecord, TextOffset) == 155);
static_assert(offsetof(TIndexRecord, Code) == 163);
static_assert(offsetof(TIndexRecord, Extra) == 199);
static_assert(offsetof(TIndexRecord, Check) == 255);

// The text of a field as its users read it: the non-zero bytes in order (a zero byte is
// skipped, it does not end the text).
std::string FieldText(const char* field, std::size_t width);
template <std::size_t W>
std::string FieldText(const char (&field)[W]) {
  return FieldText(field, W);
}
// The low 8 bits of the sum of bytes 0..254 of a record.
std::uint8_t RecordCheck(const TIndexRecord& record);
// The header of a new index: "VESPERIN", 1, 1, Count 0, four zero bytes.
TIndexHeader DefaultIndexHeader();

class TIndex {
 public:
  static constexpr int kAttempts = 10;       // opens tried before a busy file is given up
  static constexpr int kRetryPauseMs = 5000;  // after every failed attempt, the last included

  // With startEmpty false an existing file is loaded (busy-file retry); with true nothing is
  // read. A file that ends before the header (or before a record it promised) fails the
  // construction with "Stream read error" after the partly built index was saved; a read
  // that fails outright fails it with that error and leaves the file alone.
  //
  // A raised `stop` cuts the busy-file retries short: the open then ends as if every attempt
  // had failed, and Interrupted() says so.
  TIndex(TPlatform& fs, std::string fileName, bool startEmpty, const TStopSignal* stop = nullptr);
  // The index whose file this process has just written with `written`, under a claim that
  // keeps everyone else from writing it: loaded from those bytes, as from the file, and
  // compared with them, not with the file read again, when it is released.
  TIndex(TPlatform& fs, std::string fileName, std::string written);
  // Discards the records without saving: a failure between construction and release must
  // leave the file as it was. Release() is the save.
  ~TIndex();
  TIndex(const TIndex&) = delete;
  TIndex& operator=(const TIndex&) = delete;

  // Builds a record and inserts it in key order, after every record with an equal key.
  // Throws EFailure "'%s' is not a valid integer value" for a bad date or time text.
  void AddRecord(std::uint8_t byte0, std::uint8_t kind, std::uint8_t market,
                 const std::string& dateText, const std::string& timeText,
                 const std::string& title, const std::string& textFile,
                 std::int32_t textOffset, std::int32_t textLength, const std::string& code,
                 const std::string& extra);

  int Count() const { return static_cast<int>(FRecords.size()); }
  const TIndexRecord& Record(int i) const { return FRecords[static_cast<std::size_t>(i)]; }
  const TIndexHeader& Header() const { return FHeader; }
  bool CanSave() const { return FCanSave; }
  // A stop request ended a busy-file wait of the load or the save.
  bool Interrupted() const { return FInterrupted; }
  const std::string& FileName() const { return FFileName; }

  // Saves (when the load did not give up on a busy file) and frees the records: the last
  // 800 records, Count rewritten, the file replaced atomically; an index left with no
  // records deletes a file whose path contains ".F10". A write error ("Stream write error")
  // is thrown after that; creation failing in all attempts is silent. Releasing twice does
  // nothing the second time.
  void Release();

 private:
  void Load();
  void LoadFrom(TReadFile& file);
  void Save();
  bool StillHolds(const std::string& bytes);

  TPlatform& FPlatform;
  const TStopSignal* FStop;
  bool FInterrupted = false;
  TIndexHeader FHeader;
  std::string FFileName;
  bool FCanSave = true;
  std::int32_t FMaxRecords = 800;
  std::vector<TIndexRecord> FRecords;
  bool FReleased = false;
  // The records are the file's bytes as loaded, nothing added, nothing cut: a save would
  // write the file back as it was.
  bool FAsLoaded = false;
  // The bytes this process wrote the file with, when it was made from them.
  std::unique_ptr<std::string> FWritten;
};
