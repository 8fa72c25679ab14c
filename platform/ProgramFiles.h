#pragma once
// The program's own files, by the rules of the program rather than of the system: where its
// settings file is, what its title is, and the drive letters its settings map.

#include <string>

class TPlatform;

// The program's folder with its trailing backslash ("Z:\OPT\LORVANE\").
std::string ProgramDir(TPlatform& fs);
// The settings file of a program path: upper-cased byte by byte (a to z only), every ".EXE"
// replaced by ".INI"; a path that holds no ".EXE" gets ".INI" appended (Linux programs have
// no extension).
std::string SettingsPathFor(const std::string& programPath);
// The program's title: the program file's name up to its first ".", lower case after its
// first character.
std::string ProgramTitle(const std::string& programPath);
// Reads section [DRIVES] of a settings file (letter=host folder) and maps those drives.
void LoadDrives(TPlatform& fs, const std::string& settingsPath);

