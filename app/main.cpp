// Program start: the form, or with --once a single run without any window.

#if LORVANE_FORM
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#endif

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

#include "Clock.h"
#include "Failure.h"
#include "Headless.h"
#include "HomeFolder.h"
#include "Platform.h"
#if LORVANE_FORM
#include "QtText.h"
#include "uMain.h"
#endif

namespace {

const char kUsage[] =
    "Usage: lorvane [--home DIR] [--once [--report FILE]]\n"
    "       lorvane --help | --version\n";

const char kHelp[] =
    "Keeps the F10 texts of the Shanghai and Shenzhen markets merged and indexed.\n"
    "\n"
    "Without --once the program opens its form: a run starts every N minutes (the\n"
    "interval saved in the form) and whenever the execute-now button is pressed.\n"
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
    "              for a program installed in a folder named bin, the user's\n"
    "              $XDG_CONFIG_HOME/lorvane (by default ~/.config/lorvane).\n"
    "  --help      show this text and exit.\n"
    "  --version   show the version and exit.\n"
#ifdef _WIN32
#if !LORVANE_FORM
    "\n"
    "This build has no form (it was built without Qt): give --once.\n"
#endif
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

#if LORVANE_FORM
// A hook for making the README's picture: LORVANE_SCREENSHOT=file.png saves the form as
// shown (after one run when LORVANE_SCREENSHOT_RUN is set) and ends the program.
void ArmScreenshot(TfrmMain& form) {
  const char* target = std::getenv("LORVANE_SCREENSHOT");
  if (!target || !*target) return;
  const QString file = QString::fromLocal8Bit(target);
  const bool run = std::getenv("LORVANE_SCREENSHOT_RUN") != nullptr;
  QTimer::singleShot(300, &form, [&form, file, run] {
    if (run) form.Button2->click();
    auto* poll = new QTimer(&form);
    QObject::connect(poll, &QTimer::timeout, &form, [&form, file, poll] {
      if (form.Running()) return;
      poll->stop();
      const bool saved = form.grab().save(file);
      QCoreApplication::exit(saved ? 0 : 1);
    });
    poll->start(100);
  });
}

// Claims the settings folder for this form; false, after telling the user, when another
// form has it.
bool ClaimSettingsFolder(TPlatform& fs, std::unique_ptr<TFolderLock>& lock) {
  std::string home = ProgramDir(fs);
  if (!home.empty()) home.pop_back();
  std::string holder;
  if (fs.LockFolder(home, ".~lorvane.form.lock", lock, holder) != kErrSharingViolation) return true;
  const QString text = QStringLiteral("Lorvane already runs with the settings in %1%2.")
                           .arg(QString::fromStdString(fs.HostPath(home)),
                                holder.empty() ? QString() : QStringLiteral(" (process %1)").arg(QString::fromStdString(holder)));
  std::cerr << "lorvane: " << text.toStdString() << "\n";
  // Nobody could read a box on a platform without a screen.
  if (QGuiApplication::platformName() != QLatin1String("offscreen"))
    QMessageBox::critical(nullptr, QtFromGbk(ProgramTitle(fs.ProgramPath())), text);
  return false;
}
#endif

// The folder standing in for the program's folder when --home is not given: empty for the
// program's own folder.
std::string DefaultHome() {
#ifdef _WIN32
  return {};
#else
  const std::unique_ptr<TPlatform> plain = NewSystemPlatform();
  const struct passwd* account = ::getpwuid(::getuid());
  return DefaultHomeFolder(plain->HostPath(plain->ProgramPath()), [](const char* name) { return std::getenv(name); },
                           account && account->pw_dir ? account->pw_dir : "");
#endif
}

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
  if (!haveHome) {
    home = DefaultHome();
    // The form keeps its settings there, so the folder is made for it; a single run without
    // settings has nothing to do, and leaves no folder behind either.
    if (!home.empty() && !once && !help) {
      std::error_code ec;
      std::filesystem::create_directories(home, ec);
      std::filesystem::permissions(home, std::filesystem::perms::owner_all, ec);
    }
  }
  if (haveHome) {
    std::error_code ec;
    if (home.empty() || !std::filesystem::is_directory(home, ec))
      return Usage("--home: no such folder: " + home);
    home = HostPathText(std::filesystem::absolute(home, ec).lexically_normal());
    while (home.size() > 1 && (home.back() == '/' || home.back() == '\\') && home[home.size() - 2] != ':')
      home.pop_back();
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

  if (once) {
    std::string reportPath;
    if (!report.empty()) {
      std::error_code ec;
      reportPath = fs.DrivePath(HostPathText(std::filesystem::absolute(report, ec).lexically_normal()));
    }
    return RunOnce(fs, std::cout, std::cerr, reportPath);
  }

#if !LORVANE_FORM
  return Usage("this build has no form; give --once");
#else
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  // One form per settings folder: two would run their timers over the same feed and write
  // the same settings file.
  std::unique_ptr<TFolderLock> formLock;
  if (!ClaimSettingsFolder(fs, formLock)) return kRunBusy;
  TfrmMain frmMain(fs);
  frmMain.show();
  ArmScreenshot(frmMain);
  return app.exec();
#endif
}
