#include "HomeFolder.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include "Platform.h"

#ifdef _WIN32
#include "WideText.h"

// After the program's headers: shlobj.h declares a global type Folder, which the
// enumerator TEntryKind::Folder would shadow.
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <map>
#else
#include <pwd.h>
#include <unistd.h>
#endif

#ifdef _WIN32
namespace {

std::wstring WithoutTrailingSeparators(std::wstring path) {
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

// Whether `folder` is `root` or lies inside it, its names compared as the file system
// compares them: without regard to case. "C:\Program Files Extra" is not inside
// "C:\Program Files".
bool Inside(const std::wstring& folder, const std::wstring& root) {
  const std::wstring f = WithoutTrailingSeparators(folder);
  const std::wstring r = WithoutTrailingSeparators(root);
  if (r.empty() || f.size() < r.size()) return false;
  if (CompareStringOrdinal(f.data(), static_cast<int>(r.size()), r.data(), static_cast<int>(r.size()), TRUE) !=
      CSTR_EQUAL)
    return false;
  return f.size() == r.size() || f[r.size()] == L'\\';
}

// A known folder of the system; empty when it has none.
std::string KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::string folder;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path)) && path) folder = WideToUtf8(path);
  CoTaskMemFree(path);
  return folder;
}

std::string Environment(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  return value ? WideToUtf8(value) : std::string();
}

}  // namespace
#else
namespace {

bool Absolute(const char* path) { return path && path[0] == '/'; }

// `base` + "/" + `rest`, without a doubled separator.
std::string Join(std::string base, const std::string& rest) {
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base + "/" + rest;
}

}  // namespace
#endif

std::string DefaultHomeFolder(const std::string& program, const TGetEnv& getenv,
                              const std::string& userHome) {
#ifdef _WIN32
  (void)userHome;
  const std::wstring path = Utf8ToWide(program);
  const std::size_t slash = path.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
  bool installed = false;
  for (const char* name : {"ProgramFiles", "ProgramFiles(x86)"}) {
    const char* root = getenv(name);
    installed = installed || (root && Inside(folder, Utf8ToWide(root)));
  }
  if (!installed) return {};
  const char* local = getenv("LOCALAPPDATA");
  if (!local || !*local) return {};
  return WideToUtf8(WithoutTrailingSeparators(Utf8ToWide(local))) + "\\Lorvane";
#else
  const std::size_t slash = program.find_last_of('/');
  std::string folder = slash == std::string::npos ? std::string() : program.substr(0, slash);
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  if (folder.substr(folder.find_last_of('/') + 1) != "bin") return {};
  // A relative XDG_CONFIG_HOME is to be ignored, as the base directory rules say.
  if (const char* config = getenv("XDG_CONFIG_HOME"); Absolute(config)) return Join(config, "lorvane");
  if (const char* home = getenv("HOME"); Absolute(home)) return Join(home, ".config/lorvane");
  if (Absolute(userHome.c_str())) return Join(userHome, ".config/lorvane");
  return {};
#endif
}

std::string OwnProgramFile() {
#ifdef _WIN32
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return HostPathText(std::filesystem::path(path));
    }
    path.resize(path.size() * 2);
  }
#else
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).string();
#endif
}

std::string GivenHome(const std::string& given, std::string& error) {
  std::error_code ec;
  if (given.empty() || !std::filesystem::is_directory(given, ec)) {
    error = "--home: no such folder: " + given;
    return {};
  }
  std::string home = HostPathText(std::filesystem::absolute(given, ec).lexically_normal());
  while (home.size() > 1 && (home.back() == '/' || home.back() == '\\') && home[home.size() - 2] != ':')
    home.pop_back();
  return home;
}

std::string DefaultHome(bool make) {
#ifdef _WIN32
  // The system's known folders first: a scheduled task or a program started from a script
  // may have an environment without them, or with other values.
  std::map<std::string, std::string> folders = {
      {"ProgramFiles", KnownFolder(FOLDERID_ProgramFiles)},
      {"ProgramFiles(x86)", KnownFolder(FOLDERID_ProgramFilesX86)},
      {"LOCALAPPDATA", KnownFolder(FOLDERID_LocalAppData)},
  };
  for (auto& [name, value] : folders)
    if (value.empty()) value = Environment(Utf8ToWide(name).c_str());
  // A program started by its short name (C:\PROGRA~1\...) is still installed there.
  std::string program = OwnProgramFile();
  const std::wstring given = Utf8ToWide(program);
  std::wstring full(given.size() + MAX_PATH, L'\0');
  const DWORD n = GetLongPathNameW(given.c_str(), full.data(), static_cast<DWORD>(full.size()));
  if (n > 0 && n < full.size()) program = WideToUtf8(full.substr(0, n));
  const std::string home = DefaultHomeFolder(program, [&folders](const char* name) -> const char* {
    const auto it = folders.find(name);
    return it == folders.end() || it->second.empty() ? nullptr : it->second.c_str();
  });
  if (make && !home.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(Utf8ToWide(home)), ec);
  }
  return home;
#else
  const struct passwd* account = ::getpwuid(::getuid());
  const std::string home = DefaultHomeFolder(OwnProgramFile(), [](const char* name) { return std::getenv(name); },
                                             account && account->pw_dir ? account->pw_dir : "");
  if (make && !home.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(home, ec);
    std::filesystem::permissions(home, std::filesystem::perms::owner_all, ec);
  }
  return home;
#endif
}
