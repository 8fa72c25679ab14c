#pragma once
// A check of the settings file against what the program reads and the folders it names, for
// an operator before anything runs: a misspelt section or key, a value a key cannot take, a
// drive no [DRIVES] entry maps, a folder that is not there, an entry that names no market,
// a file saved in UTF-8 that is read as GBK. Each finding names its line and key in plain
// words. Nothing is written.

#include <string>
#include <vector>

class TPlatform;

struct TSettingsWarning {
  int Line = 0;          // from 1; 0 for the file as a whole
  std::string Key;       // "[OPTOIN]", "OPTION\SCR", "多路径拷贝\sh1" (GBK); "" for the file
  std::string Text;      // what is wrong and what follows from it (GBK)
};

struct TSettingsFindings {
  std::vector<TSettingsWarning> Warnings;
  // Some market has both its roots (SRC and DES, or SZSRC and SZDES): a run has work to
  // look for.
  bool ConfiguresAMarket = false;
};

// Whether `text` is a timer interval the form can count: whole minutes, 0 to 35791 (the most
// whose milliseconds a signed 32-bit count holds), blanks around it allowed.
bool IsIntervalText(const std::string& text);

// Checks the settings file at `settingsPath` (a drive path). A file that is missing or
// cannot be read gives no findings: whoever reads it says so.
TSettingsFindings CheckSettings(TPlatform& fs, const std::string& settingsPath);

// "LORVANE.INI line 3, [OPTOIN]: <text>", the file named by its host path (GBK).
std::string WarningLine(TPlatform& fs, const std::string& settingsPath, const TSettingsWarning& warning);
