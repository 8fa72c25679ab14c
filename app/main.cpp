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
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#endif

#include "Clock.h"
#include "Failure.h"
#include "Headless.h"
#include "HomeFolder.h"
#include "Platform.h"
#include "ProgramFiles.h"

namespace {

const char kUsage[] =
    "Usage: lorvane [--home DIR] [--once [--quiet] [--report FILE] [--metrics FILE]\n"
    "               [--log-format plain|journal]]\n"
    "       lorvane [--home DIR] --check\n"
    "       lorvane --help | --version\n";

const char kHelp[] =
    "Keeps the F10 texts of the Shanghai and Shenzhen markets merged and indexed.\n"
    "\n"
#ifdef _WIN32
    "Without --once or --check the program opens its form: a run starts every N\n"
    "minutes (the interval saved in the form) and whenever the execute-now button is\n"
    "pressed.\n"
#else
    "Without --once or --check the program opens its form (the program lorvane-form\n"
    "beside this one, from the package lorvane-desktop): a run starts every N minutes\n"
    "(the interval saved in the form) and whenever the execute-now button is pressed.\n"
#endif
    "\n"
    "  --once      perform exactly one run without any window, then exit. Every line\n"
    "              of the form log goes to standard output; every failure (with the\n"
    "              market, the stock or composite, the operation and the file), every\n"
    "              warning about the settings and, last, one line that sums the run up\n"
    "              go to standard error; all UTF-8.\n"
#ifdef _WIN32
    "              Ctrl+C, Ctrl+Break or closing the console stops the run before its\n"
    "              next stock.\n"
#else
    "              SIGINT or SIGTERM stops the run before its next stock.\n"
#endif
    "              Exit status: 0 the run reported no failure; 1 it reported one (or\n"
    "              was stopped, or its report or figures could not be written); 2\n"
    "              nothing ran (bad usage, no settings file or one that cannot be read,\n"
    "              settings that configure no market, LASTFILETIME in the settings is\n"
    "              not a date and time, the settings would make the run write into a\n"
    "              source root, name one folder by two settings (by any path, mounts\n"
    "              included) or map a drive to a relative path, the report or figures\n"
    "              would be written into a source root, over a file a run reads or\n"
    "              among the texts of a target or mirror, or a folder of the run\n"
    "              holds a folder, link or special file named .~lorvane.run.lock, so it\n"
    "              cannot be claimed); 3 nothing ran because another run works on one\n"
    "              of the same folders (standard error names the folder and the\n"
    "              process).\n"
    "  --quiet     with --once: no progress lines; only what was left alone, the\n"
    "              failures, the warnings and the summary. The day log is complete.\n"
    "  --report FILE\n"
    "              with --once: at the end write a JSON summary of the run to FILE\n"
    "              (replaced whole), also when nothing ran: times, exit status, per\n"
    "              market the stocks merged and failed, composites, mirror copies owed,\n"
    "              files left alone, warnings. Without it, the key REPORT of section\n"
    "              OPTION in the settings names the file.\n"
    "  --metrics FILE\n"
    "              with --once: at the end write the run's figures in the Prometheus\n"
    "              text format to FILE (replaced whole), for node-exporter's textfile\n"
    "              collector. Without it, the key METRICS of section OPTION names it.\n"
    "  --log-format plain|journal\n"
    "              journal: every line begins with its syslog priority (<3> failure,\n"
    "              <4> warning or file left alone, <5> the summary, <6> progress) and\n"
    "              carries no time stamp. By default journal when the output goes to\n"
    "              the systemd journal (JOURNAL_STREAM), plain otherwise.\n"
    "  --check     read the settings and every folder they name, write nothing, and\n"
    "              print what a run would do and every warning about the settings.\n"
    "              Exit status 0 when a run could start, 2 when it could not.\n"
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
  // The form has its own view of a closed pipe; it gets the signal as any program would.
  std::signal(SIGPIPE, SIG_DFL);
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

#ifndef _WIN32
// A closed standard output or error never stops a run: its lines are dropped. A reader that
// went away (lorvane --once | head -1) would end the process by SIGPIPE in the middle of a
// stock, and a stream closed from the start would lend its number to the first file the run
// opens, which would then get the console's lines: it is given /dev/null instead.
void KeepStandardStreamsHarmless() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
  std::signal(SIGPIPE, SIG_IGN);
}
#endif

// The value of an option written "--name VALUE" or "--name=VALUE"; false when `arg` is
// another option. An empty value is a complaint.
bool OptionValue(const std::string& name, int argc, char** argv, int& i, std::string& value, std::string& complaint) {
  const std::string arg = argv[i];
  if (arg == name) {
    if (i + 1 >= argc) complaint = name + " needs a value";
    else value = argv[++i];
  } else if (arg.rfind(name + "=", 0) == 0) {
    value = arg.substr(name.size() + 1);
  } else {
    return false;
  }
  if (value.empty() && complaint.empty()) complaint = name + " needs a value";
  return true;
}

// A file given on the command line, as the platform names it (a drive path).
std::string GivenFile(TPlatform& fs, const std::string& file) {
  if (file.empty()) return file;
  std::error_code ec;
  return fs.DrivePath(HostPathText(std::filesystem::absolute(file, ec).lexically_normal()));
}

}  // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
  KeepStandardStreamsHarmless();
#endif
  bool once = false, check = false, haveHome = false, help = false;
  std::string home, report, metrics, format;
  TOnceOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string complaint;
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
    } else if (arg == "--check") {
      check = true;
    } else if (arg == "--quiet") {
      options.Quiet = true;
    } else if (OptionValue("--home", argc, argv, i, home, complaint)) {
      haveHome = true;
    } else if (OptionValue("--report", argc, argv, i, report, complaint) ||
               OptionValue("--metrics", argc, argv, i, metrics, complaint) ||
               OptionValue("--log-format", argc, argv, i, format, complaint)) {
    } else {
      return Usage("unknown argument: " + arg);
    }
    if (!complaint.empty()) return Usage(complaint);
  }
  if (!help) {
    if (once && check) return Usage("--once and --check go alone");
    for (const auto& [given, name] : {std::pair(!report.empty(), "--report"), std::pair(!metrics.empty(), "--metrics"),
                                      std::pair(options.Quiet, "--quiet"), std::pair(!format.empty(), "--log-format")})
      if (given && !once) return Usage(std::string(name) + " goes with --once");
  }
  if (!format.empty() && format != "plain" && format != "journal")
    return Usage("--log-format takes plain or journal, not " + format);
  options.Format = format.empty() ? DefaultOutputFormat() : format == "journal" ? TOutputFormat::Journal : TOutputFormat::Plain;
#ifndef _WIN32
  if (!once && !check && !help) return OpenForm(argv);
#else
  if (!once && !check && !help) return OpenWindowsForm();
#endif
  std::string homeError;
  if (haveHome) home = GivenHome(home, homeError);
  else home = DefaultHome(false);

  const std::unique_ptr<TPlatform> platform = NewSystemPlatform(home);
  TPlatform& fs = *platform;
  if (!homeError.empty()) {
    // A scheduled run with a --home that went away still leaves a report that says so, so
    // that a monitor never reads an old one.
    options.ReportPath = GivenFile(fs, report);
    options.MetricsPath = GivenFile(fs, metrics);
    if (once && (!report.empty() || !metrics.empty())) NotRunAtAll(fs, std::cerr, homeError, options);
    return Usage(homeError);
  }
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
  if (check) return CheckSettingsOnly(fs, std::cout);
  options.ReportPath = GivenFile(fs, report);
  options.MetricsPath = GivenFile(fs, metrics);
  return RunOnce(fs, std::cout, std::cerr, options);
}
