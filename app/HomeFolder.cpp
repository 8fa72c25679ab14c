#include "HomeFolder.h"

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
