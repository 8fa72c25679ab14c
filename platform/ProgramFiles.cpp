#include "ProgramFiles.h"

#include "Convert.h"
#include "IniFile.h"
#include "Platform.h"
#include "Texts.h"

std::string ProgramDir(TPlatform& fs) {
  const std::string path = fs.ProgramPath();
  const auto slash = LastPathDelimiter(path);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string SettingsPathFor(const std::string& programPath) {
  // Upper-case a to z, but not the second byte of a GBK character: changing that byte would
  // name another folder, and the settings would be looked for where they never are.
  std::string up = programPath;
  for (std::size_t i = 0; i < up.size(); ++i) {
    const auto c = static_cast<unsigned char>(up[i]);
    if (IsGbkLead(c) && i + 1 < up.size()) {
      ++i;
      continue;
    }
    if (c >= 'a' && c <= 'z') up[i] = static_cast<char>(c - 'a' + 'A');
  }
  bool replaced = false;
  for (std::size_t at = up.find(".EXE"); at != std::string::npos; at = up.find(".EXE", at + 4)) {
    up.replace(at, 4, ".INI");
    replaced = true;
  }
  if (!replaced) up += ".INI";
  return up;
}

std::string ProgramTitle(const std::string& programPath) {
  const auto slash = LastPathDelimiter(programPath);
  std::string name = slash == std::string::npos ? programPath : programPath.substr(slash + 1);
  const auto dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  std::size_t i = 0;
  if (!name.empty()) i = IsGbkLead(static_cast<unsigned char>(name[0])) ? 2 : 1;
  for (; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (IsGbkLead(c) && i + 1 < name.size()) {
      ++i;
      continue;
    }
    if (c >= 'A' && c <= 'Z') name[i] = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

void LoadDrives(TPlatform& fs, const std::string& settingsPath) {
  TIniFile ini(fs, settingsPath);
  for (const auto& [name, value] : ini.ReadSectionValues(Texts::SectionDrives)) {
    std::string_view letter = Trim(name);
    if (letter.size() == 2 && letter[1] == ':') letter.remove_suffix(1);
    if (letter.size() != 1) continue;
    const char c = UpperAscii(letter)[0];
    if (c < 'A' || c > 'Y') continue;
    fs.SetDrive(c, GbkToUtf8(Trim(value)));
  }
}
