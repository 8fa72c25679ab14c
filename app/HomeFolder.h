#pragma once
// Where the program keeps its settings file and its day logs.
//
// A program run from where it was built, or from a folder of its own, keeps them beside
// itself, as it always has. A program installed into a bin folder (/usr/bin,
// /usr/local/bin, ~/.local/bin...) cannot write there and must not: it keeps them in the
// user's configuration folder, $XDG_CONFIG_HOME/lorvane (by default ~/.config/lorvane).
// On Windows the folder that may not be written is Program Files (either of them): a program
// installed there keeps them in the user's %LOCALAPPDATA%\Lorvane.
// --home DIR names the folder outright.

#include <functional>
#include <string>

// The environment as the rule reads it: the value of a variable, or null when it is unset.
// On Windows the rule asks for ProgramFiles, ProgramFiles(x86) and LOCALAPPDATA, which the
// program answers from the system's known folders first.
using TGetEnv = std::function<const char*(const char* name)>;

// The host folder standing in for the program's folder, for the program file at the host
// path `program`; empty when the program's own folder is meant. `userHome` is the user's
// home folder by the account database, for when HOME is unset (not asked on Windows).
std::string DefaultHomeFolder(const std::string& program, const TGetEnv& getenv,
                              const std::string& userHome = "");

// The host path of the running program file.
std::string OwnProgramFile();

// The folder --home names, absolute, without a trailing separator; empty, with `error` set,
// when it names no folder.
std::string GivenHome(const std::string& given, std::string& error);
// DefaultHomeFolder() for this process. With `make` the folder is made (private to the user)
// when missing: the form keeps its settings there, where a single run without settings has
// nothing to do and leaves no folder behind.
std::string DefaultHome(bool make);
