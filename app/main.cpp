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

#include "Clock.h"
#include "Failure.h"
#include "Headless.h"
#include "Platform.h"
#if LORVANE_FORM
#include "QtText.h"
#include "uMain.h"
#endif

namespace {

const char kUsage[] =
    "Usage: lorvane [--home DIR] [--once]\n"
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
    "              was stopped); 2 nothing ran (bad usage, LASTFILETIME in the\n"
    "              settings is not a date and time, or the settings would make the\n"
    "              run write into a source root or map a drive to a relative path);\n"
    "              3 nothing ran because another run works on one of the same\n"
    "              folders (standard error names the folder and the process).\n"
    "  --home DIR  DIR stands in for the program's folder: the settings file (the\n"
    "              program's name in capitals + .INI, e.g. LORVANE.INI, found without\n"
    "              regard to case) and the daily logs UniteLogyyyy-mm-dd.txt live there.\n"
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

// A folder's path as the platform takes it: UTF-8 (on Windows the narrow text of a path is
// in the ANSI code page, which is not the platform's).
std::string HostText(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
#else
  return path.string();
#endif
}

}  // namespace

int main(int argc, char** argv) {
  bool once = false;
  bool haveHome = false;
  std::string home;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage << "\n" << kHelp;
      return 0;
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
    } else {
      return Usage("unknown argument: " + arg);
    }
  }
  if (haveHome) {
    std::error_code ec;
    if (home.empty() || !std::filesystem::is_directory(home, ec))
      return Usage("--home: no such folder: " + home);
    home = HostText(std::filesystem::absolute(home, ec).lexically_normal());
    while (home.size() > 1 && (home.back() == '/' || home.back() == '\\') && home[home.size() - 2] != ':')
      home.pop_back();
  }

  const std::unique_ptr<TPlatform> platform = NewSystemPlatform(home);
  TPlatform& fs = *platform;
  LoadRegionalFormats();
  try {
    LoadDrives(fs, SettingsPathFor(fs.ProgramPath()));
  } catch (const EFailure& failure) {
    std::cerr << "lorvane: " << failure.what() << "\n";
    return kRunNotRun;
  }

  if (once) return RunOnce(fs, std::cout, std::cerr);

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
