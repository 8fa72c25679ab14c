#pragma once
// The reference scenario of the reliability tests: both markets with a few stocks of two
// sections each, two market-index codes, mirrors of both markets and indexing on, laid out in
// a tree on drive D:. Also what the checks need: snapshots of a tree, and a run with a fixed
// clock through the fault-injecting platform.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "Convert.h"
#include "FaultyPlatform.h"
#include "Index.h"
#include "IndexBytes.h"
#include "Platform.h"
#include "ProgramFiles.h"
#include "RecordingHost.h"
#include "TestSupport.h"
#include "RunTexts.h"
#include "uUniteThread.h"

namespace reliability {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

inline std::string G(const char* utf8) { return Utf8ToGbk(utf8); }

// A scratch folder in memory where there is one: every save syncs its file, and the sweep
// saves some hundred thousand files.
class TScratch {
 public:
  TScratch() {
    std::string pattern = access("/dev/shm", W_OK) == 0
                              ? "/dev/shm/lorvane-rel-XXXXXX"
                              : (fs::temp_directory_path() / "lorvane-rel-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~TScratch() {
    std::error_code ec;
    fs::remove_all(FPath, ec);
  }
  TScratch(const TScratch&) = delete;
  TScratch& operator=(const TScratch&) = delete;
  const fs::path& Path() const { return FPath; }

 private:
  fs::path FPath;
};

// Every file under `root`, by its path relative to it, with its bytes; folders map to "/".
using TTree = std::map<std::string, std::string>;

inline TTree Snapshot(const fs::path& root) {
  TTree tree;
  if (!fs::exists(root)) return tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(entry.path(), root).generic_string();
    tree[rel] = entry.is_directory() ? "/" : ReadFile(entry.path().string());
  }
  return tree;
}

// Replaces `to` with a copy of `from`.
inline void CopyTree(const fs::path& from, const fs::path& to) {
  fs::remove_all(to);
  fs::copy(from, to, fs::copy_options::recursive);
}

// The bytes of an index file listing (title, file) records.
inline std::string IndexBytes(const std::vector<indexbytes::TListed>& recs) {
  return indexbytes::Listing(recs, 20240102);
}

// A section as the feed writes it: banner line, the line naming the section, its text.
inline std::string SectionBytes(const std::string& code, char letter, const std::string& extra = "") {
  const std::string name = std::string(1, letter);
  return G("\u3000\u3000") + Texts::BannerText + "\r\n" + G("公司概况") + name + Texts::Arrow +
         code + "\r\n" + G("内容 ") + code + name + extra + "\r\n";
}

// The scenario's folders, relative to the tree; the roots and the mirrors are where a run
// may write, the program folder holds the settings and the logs.
struct TLayout {
  static constexpr const char* ShSrc = "shsrc";
  static constexpr const char* ShDes = "shdes";
  static constexpr const char* SzSrc = "szsrc";
  static constexpr const char* SzDes = "szdes";
  static constexpr const char* Home = "home";
  static constexpr const char* Outside = "outside";
  static std::vector<std::string> Mirrors() { return {"mirsh", "mirsz", "mirboth"}; }
  // Where outputs are written: targets and mirrors.
  static std::vector<std::string> Outputs() { return {"shdes", "szdes", "mirsh", "mirsz", "mirboth"}; }
  // Every folder a run may touch.
  static std::vector<std::string> Allowed() {
    return {"shsrc", "shdes", "szsrc", "szdes", "home", "mirsh", "mirsz", "mirboth"};
  }
  static std::vector<std::string> Composites() { return {"999999", "399001"}; }
};

// The settings file of this test program in a home folder.
inline std::string SettingsHostPath(const fs::path& home) {
  const std::unique_ptr<TPlatform> real = NewSystemPlatform(home.string());
  return real->HostPath(SettingsPathFor(real->ProgramPath()));
}

// Writes the scenario into `root`: a feed of new deliveries over the outputs of an earlier
// one, so every output has old bytes a failed run may leave.
inline void BuildScenario(const fs::path& root) {
  auto put = [&](const std::string& rel, const std::string& bytes) {
    WriteFile((root / rel).string(), bytes);
  };
  for (const std::string& dir : TLayout::Allowed()) fs::create_directories(root / dir);
  put("outside/keep.txt", "not the program's\r\n");

  // Shanghai: the composite template (two texts and one that is missing) and two stocks.
  put("shsrc/tpl/a.txt", "`" + G("指数概况") + "`\r\n" + SectionBytes("999999", 'a'));
  put("shsrc/tpl/b.txt", "`" + G("成分股") + "`\r\n" + SectionBytes("999999", 'b'));
  put("shsrc/000001.F10", IndexBytes({{G("指数概况"), "\\shsrc\\tpl\\a.txt"},
                                      {G("成分股"), "\\shsrc\\tpl\\b.txt"},
                                      {G("缺失"), "\\shsrc\\tpl\\gone.txt"}}));
  auto deliver = [&](const std::string& src, const std::string& code, const std::string& extra) {
    put(src + "/" + code + "A.sub", SectionBytes(code, 'A', extra));
    put(src + "/" + code + "B.sub", SectionBytes(code, 'B', extra));
    put(src + "/" + code + ".F10",
        IndexBytes({{G("概况"), code + "A.sub"}, {G("股东"), code + "B.sub"}}));
  };
  deliver("shsrc", "600000", "");
  deliver("shsrc", "600001", "");
  deliver("szsrc", "000001", "");
  deliver("szsrc", "000002", "");
  // 600001 was delivered before: its stage holds an older first section under the same name.
  put("shsrc/DATA/600001/600001A.sub", SectionBytes("600001", 'A', " old"));
  put("shsrc/DATA/600001/600001.F10",
      IndexBytes({{G("概况"), "600001A.sub"}, {G("股东"), "600001B.sub"}}));

  // Outputs of the earlier run.
  const std::string oldText = G("旧的文本") + "\r\n";
  const std::string oldIndex = IndexBytes({{G("旧"), "600000.txt"}});
  for (const char* dir : {"shdes", "mirsh", "mirboth"}) {
    put(std::string(dir) + "/600000.txt", oldText);
    put(std::string(dir) + "/600000.F10", oldIndex);
    put(std::string(dir) + "/999999.txt", oldText);
  }
  put("szdes/000002.txt", oldText);
  put("szdes/000002.F10", oldIndex);

  WriteFile(SettingsHostPath(root / TLayout::Home),
            G("[多路径拷贝]\r\nSHMIR=D:\\mirsh\r\nSZMIR=D:\\mirsz\r\nSHSZMIR=D:\\mirboth\r\n"
              "[大盘代码]\r\nSH1=999999\r\nSZ1=399001\r\n"));
}

// One run over a tree through the fault-injecting platform, with a fixed clock.
class TTreeRun {
 public:
  explicit TTreeRun(const fs::path& root)
      : FRoot(root), FSystem(NewSystemPlatform((root / TLayout::Home).string())), FReal(*FSystem), FFs(FReal) {
    FReal.SetDrive('D', root.string());
    FFs.SetClock([] { return TDateTime{2024, 1, 5, 9, 30, 0, 0}; });
  }
  TFaultyPlatform& Fs() { return FFs; }
  TPlatform& Real() { return FReal; }
  testsupport::TRecordingHost& Host() { return FHost; }

  // Runs once; an exception that escapes the run's body is a test failure.
  void Execute() {
    TUniteThread run(FFs, FHost);
    run.FSrcPath = "D:\\shsrc";
    run.FDesPath = "D:\\shdes";
    run.FSzSrcPath = "D:\\szsrc";
    run.FSzDesPath = "D:\\szdes";
    run.FMakeIndex = true;
    try {
      run.Execute();
    } catch (const std::exception& e) {
      ADD_FAILURE() << "a failure escaped the run: " << e.what();
    } catch (...) {
      ADD_FAILURE() << "a failure escaped the run";
    }
  }

 private:
  fs::path FRoot;
  const std::unique_ptr<TPlatform> FSystem;
  TPlatform& FReal;
  TFaultyPlatform FFs;
  testsupport::TRecordingHost FHost;
};

}  // namespace reliability
