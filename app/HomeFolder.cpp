#include "HomeFolder.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

#include "Platform.h"

#ifndef _WIN32
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
  (void)program;
  (void)getenv;
  (void)userHome;
  return {};
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
  (void)make;
  return {};
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
