// lorvane: one run without any window (--once), for servers and schedulers. Without it the
// form is opened: on Linux that is the program lorvane-form beside this one, on Windows the
// form built into this program.

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include "WindowsForm.h"
#else
#include <unistd.h>
#endif

#include "Clock.h"
#include "Failure.h"
#include "Headless.h"
#include "HomeFolder.h"
#include "Platform.h"

namespace {

const char kUsage[] =
    "Usage: lorvane [--home DIR] [--once [--report FILE]]\n"
    "       lorvane --help | --version\n";

const char kHelp[] =
    "Keeps the F10 texts of the Shanghai and Shenzhen markets merged and indexed.\n"
    "\n"
#ifdef _WIN32
    "Without --once the program opens its form: a run starts every N minutes (the\n"
    "interval saved in the form) and whenever the execute-now button is pressed.\n"
#else
    "Without --once the program opens its form (the program lorvane-form beside this\n"
    "one, from the package lorvane-desktop): a run starts every N minutes (the interval\n"
    "saved in the form) and whenever the execute-now button is pressed.\n"
#endif
    "\n"
    "  --once      perform exactly one run without any window, then exit. Every line\n"
    "              of the form log goes to standard output, every status text (a\n"
#ifdef _WIN32
    "              failure notice) to standard error, both UTF-8. Ctrl+C, Ctrl+Break\n"
    "              or closing the console stops the run before its next stock.\n"
#else
    "              failure notice) to standard error, both UTF-8. SIGINT or SIGTERM\n"
    "              stops the run before its next stock.\n"
#endif
    "              Exit status: 0 the run reported no failure; 1 it reported one (or\n"
    "              was stopped, or its report could not be written); 2 nothing ran\n"
    "              (bad usage, no settings file or one that cannot be read, LASTFILETIME\n"
    "              in the settings is not a date and time, or the settings would make\n"
    "              the run write into a source root or map a drive to a relative path,\n"
    "              or a folder of the run holds a folder, link or special file named\n"
    "              .~lorvane.run.lock, so it cannot be claimed);\n"
    "              3 nothing ran because another run works on one of the same\n"
    "              folders (standard error names the folder and the process).\n"
    "  --report FILE\n"
    "              with --once: at the end write a JSON summary of the run to FILE\n"
    "              (replaced whole): times, exit status, per market the stocks merged\n"
    "              and failed, composites, mirror copies owed, files left alone. Without\n"
    "              it, the key REPORT of section OPTION in the settings names the file.\n"
    "  --home DIR  the folder of the settings file (the program's name in capitals +\n"
    "              .INI, e.g. LORVANE.INI, found without regard to case) and of the day\n"
    "              logs UniteLogyyyy-mm-dd.txt. Without it: the program's own folder or,\n"
#ifdef _WIN32
    "              for a program installed under Program Files, the user's\n"
    "              %LOCALAPPDATA%\\Lorvane.\n"
#else
    "              for a program installed in a folder named bin, the user's\n"
    "              $XDG_CONFIG_HOME/lorvane (by default ~/.config/lorvane).\n"
#endif
    "  --help      show this text and exit.\n"
    "  --version   show the version and exit.\n"
#ifdef _WIN32
    "\n"
    "Paths in the settings are the drive paths of this machine (D:\\feed\\sh) or\n"
    "network paths (\\\\server\\share\\feed); section [DRIVES] means nothing here.\n";
#else
    "\n"
    "Paths in the settings are drive paths: Z: is the root of this machine\n"
    "(Z:\\srv\\feed is /srv/feed); section [DRIVES] maps other letters (D=/srv/feed).\n";
#endif

int Usage(const std::string& complaint) {
  std::cerr << "lorvane: " << complaint << "\n" << kUsage;
  return kRunNotRun;
}

#ifndef _WIN32
// Hands the process over to the form program beside this one, with the same arguments.
// Returns only when it could not be started.
int OpenForm(char** argv) {
  const std::filesystem::path form = std::filesystem::path(OwnProgramFile()).parent_path() / "lorvane-form";
  std::vector<char*> args;
  std::string program = form.string();
  args.push_back(program.data());
  for (char** arg = argv + 1; *arg; ++arg) args.push_back(*arg);
  args.push_back(nullptr);
  ::execv(program.c_str(), args.data());
  const int error = errno;
  if (error == ENOENT)
    std::cerr << "lorvane: the form is not installed (" << program
              << "; Debian package lorvane-desktop). Give --once to run without it.\n";
  else
    std::cerr << "lorvane: cannot start the form " << program << ": " << std::strerror(error) << "\n";
  return kRunNotRun;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  bool once = false;
  bool haveHome = false;
  bool help = false;
  std::string home;
  std::string report;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      help = true;
      break;
    }
    if (arg == "--version") {
      std::cout << "lorvane " << LORVANE_VERSION << "\n";
      return 0;
    }
    if (arg == "--once") {
      once = true;
    } else if (arg == "--home" || arg.rfind("--home=", 0) == 0) {
      if (arg == "--home") {
        if (i + 1 >= argc) return Usage("--home needs a folder");
        home = argv[++i];
      } else {
        home = arg.substr(7);
      }
      haveHome = true;
    } else if (arg == "--report" || arg.rfind("--report=", 0) == 0) {
      if (arg == "--report") {
        if (i + 1 >= argc) return Usage("--report needs a file");
        report = argv[++i];
      } else {
        report = arg.substr(9);
      }
      if (report.empty()) return Usage("--report needs a file");
    } else {
      return Usage("unknown argument: " + arg);
    }
  }
  if (!report.empty() && !once && !help) return Usage("--report goes with --once");
#ifndef _WIN32
  if (!once && !help) return OpenForm(argv);
#else
  if (!once && !help) return OpenWindowsForm();
#endif
  if (haveHome) {
    std::string error;
    home = GivenHome(home, error);
    if (home.empty()) return Usage(error);
  } else {
    home = DefaultHome(false);
  }

  const std::unique_ptr<TPlatform> platform = NewSystemPlatform(home);
  TPlatform& fs = *platform;
  if (help) {
    std::string folder = fs.HostPath(ProgramDir(fs));
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    std::cout << kUsage << "\n" << kHelp << "\nSettings and day logs of this program now: " << folder << "\n";
    return 0;
  }
  LoadRegionalFormats();
  try {
    LoadDrives(fs, SettingsPathFor(fs.ProgramPath()));
  } catch (const EFailure& failure) {
    std::cerr << "lorvane: " << failure.what() << "\n";
    return kRunNotRun;
  }

  std::string reportPath;
  if (!report.empty()) {
    std::error_code ec;
    reportPath = fs.DrivePath(HostPathText(std::filesystem::absolute(report, ec).lexically_normal()));
  }
  return RunOnce(fs, std::cout, std::cerr, reportPath);
}
