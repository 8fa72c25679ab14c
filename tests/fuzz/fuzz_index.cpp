// libFuzzer target for the index loader: any bytes as an index file, loaded, added to and
// saved again. The platform's pauses are recorded, not slept, so a run stays fast.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FaultyPlatform.h"
#include "Index.h"

namespace {

struct TFuzzFolder {
  std::string Host;
  TFuzzFolder() {
    // A save syncs the file to disk; in memory that costs nothing and the fuzzer runs
    // many times faster.
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/lorvane-fuzz-XXXXXX"
                                                        : "/tmp/lorvane-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    Host = pattern;
  }
  ~TFuzzFolder() { rmdir(Host.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TFuzzFolder folder;
  static const std::unique_ptr<TPlatform> real = NewSystemPlatform();
  static TFaultyPlatform fs(*real);

  // The first byte picks the name: ".F10" names take the delete path of an empty index.
  const bool upper = size > 0 && (data[0] & 1);
  const std::string name = upper ? "fuzz.F10" : "fuzz.f10";
  const std::string host = folder.Host + "/" + name;
  if (FILE* f = std::fopen(host.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    std::abort();
  }

  try {
    TIndex index(fs, "Z:" + host, false);
    if (index.Count() < 0 || index.Count() > 32767) std::abort();
    for (int i = 0; i < index.Count(); ++i) (void)FieldText(index.Record(i).Title);
    // Keys built from the loaded records meet the insertion scan.
    index.AddRecord(0, 4, 0, "20240105", "09:30", "t", "x.txt", 0, 0, "c", "");
    index.Release();
  } catch (const EFailure&) {
    // A file too short for a header is refused; that is an answer, not a crash.
  }
  std::remove(host.c_str());
  return 0;
}
