#pragma once
// What the tests share: a temporary host folder removed afterwards, small file helpers on
// host paths, and a run host that records everything a run shows on the form.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with everything in it.
class TTempDir {
 public:
  TTempDir() {
    std::string pattern = (fs::temp_directory_path() / "lorvane-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~TTempDir() {
    std::error_code ec;
    fs::remove_all(FPath, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const fs::path& Path() const { return FPath; }
  // The host path of a name inside the folder.
  std::string operator/(const std::string& name) const { return (FPath / name).string(); }
  // The drive path (on Z:) of a name inside the folder, with backslashes.
  std::string Drive(const std::string& name = "") const {
    std::string p = "Z:" + (name.empty() ? FPath.string() : (FPath / name).string());
    for (char& c : p)
      if (c == '/') c = '\\';
    return p;
  }

 private:
  fs::path FPath;
};

inline void WriteFile(const std::string& hostPath, const std::string& bytes) {
  fs::create_directories(fs::path(hostPath).parent_path());
  std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& hostPath) { return fs::exists(hostPath); }

}  // namespace testsupport
