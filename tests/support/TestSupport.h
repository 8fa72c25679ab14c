#pragma once
// What the tests share: a temporary host folder removed afterwards, small file helpers on
// host paths, and a run host that records everything a run shows on the form.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "Platform.h"

namespace testsupport {

namespace fs = std::filesystem;

// Host paths in the tests are UTF-8 text, as the platform's are: on Windows a path's narrow
// text would be in the ANSI code page instead.
inline fs::path HostFs(const std::string& utf8) {
#ifdef _WIN32
  return fs::path(std::u8string(utf8.begin(), utf8.end())).make_preferred();
#else
  return fs::path(utf8);
#endif
}
inline std::string HostText(const fs::path& path) { return HostPathText(path); }

// A fresh folder under the system's temporary folder, removed with everything in it.
class TTempDir {
 public:
  TTempDir() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; FPath.empty(); ++attempt) {
      const fs::path path = fs::temp_directory_path() / ("lorvane-test-" + std::to_string(random() % 1000000000));
      // create_directory is false for a folder that exists: someone else's, so another name.
      if (fs::create_directory(path)) FPath = path;
      else if (attempt > 100) throw std::runtime_error("no temporary folder could be made");
    }
  }
  ~TTempDir() {
    std::error_code ec;
    fs::remove_all(FPath, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const fs::path& Path() const { return FPath; }
  // The host path of a name inside the folder.
  std::string operator/(const std::string& name) const { return HostText((FPath / HostFs(name)).make_preferred()); }
  // The drive path of a name inside the folder, with backslashes: on Z: (the host's root) on
  // POSIX, the folder's own on Windows.
  std::string Drive(const std::string& name = "") const {
#ifdef _WIN32
    std::string p = name.empty() ? HostText(FPath) : HostText(FPath) + "\\" + name;
#else
    std::string p = "Z:" + (name.empty() ? FPath.string() : (FPath / name).string());
#endif
    for (char& c : p)
      if (c == '/') c = '\\';
    return p;
  }

 private:
  fs::path FPath;
};

inline void WriteFile(const std::string& hostPath, const std::string& bytes) {
  fs::create_directories(HostFs(hostPath).parent_path());
  std::ofstream out(HostFs(hostPath), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string& hostPath) {
  std::ifstream in(HostFs(hostPath), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& hostPath) { return fs::exists(HostFs(hostPath)); }

}  // namespace testsupport
