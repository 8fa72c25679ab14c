// lorvane-form: the program's form on Linux. It keeps the settings and day logs of the program
// lorvane beside it (LORVANE.INI), as if it were that program opened without --once.

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

#include <iostream>
#include <memory>
#include <string>

#include "Clock.h"
#include "Failure.h"
#include "Headless.h"
#include "HomeFolder.h"
#include "Platform.h"
#include "ProgramFiles.h"
#include "QtText.h"
#include "uMain.h"

namespace {

const char kUsage[] =
    "Usage: lorvane-form [--home DIR]\n"
    "       lorvane-form --help | --version\n";

const char kHelp[] =
    "The form of lorvane: a run starts every N minutes (the interval saved in the form)\n"
    "and whenever the execute-now button is pressed. `lorvane` without --once opens it.\n"
    "\n"
    "  --home DIR  the folder of the settings file LORVANE.INI and of the day logs\n"
    "              UniteLogyyyy-mm-dd.txt. Without it: the program's own folder or, for\n"
    "              a program installed in a folder named bin, the user's\n"
    "              $XDG_CONFIG_HOME/lorvane (by default ~/.config/lorvane).\n"
    "  --help      show this text and exit.\n"
    "  --version   show the version and exit.\n";

int Usage(const std::string& complaint) {
  std::cerr << "lorvane-form: " << complaint << "\n" << kUsage;
  return kRunNotRun;
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
  std::cerr << "lorvane-form: " << text.toStdString() << "\n";
  // Nobody could read a box on a platform without a screen.
  if (QGuiApplication::platformName() != QLatin1String("offscreen"))
    QMessageBox::critical(nullptr, QtFromGbk(ProgramTitle(fs.ProgramPath())), text);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  bool haveHome = false;
  bool help = false;
  std::string home;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      help = true;
      break;
    }
    if (arg == "--version") {
      std::cout << "lorvane-form " << LORVANE_VERSION << "\n";
      return 0;
    }
    if (arg == "--home" || arg.rfind("--home=", 0) == 0) {
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
    std::string error;
    home = GivenHome(home, error);
    if (home.empty()) return Usage(error);
  } else {
    home = DefaultHome(!help);
  }

  const std::unique_ptr<TPlatform> platform = NewSystemPlatform(home, "lorvane");
  TPlatform& fs = *platform;
  if (help) {
    std::string folder = fs.HostPath(ProgramDir(fs));
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::cout << kUsage << "\n" << kHelp << "\nSettings and day logs of this program now: " << folder << "\n";
    return 0;
  }
  LoadRegionalFormats();
  try {
    LoadDrives(fs, SettingsPathFor(fs.ProgramPath()));
  } catch (const EFailure& failure) {
    std::cerr << "lorvane-form: " << failure.what() << "\n";
    return kRunNotRun;
  }

  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  // One form per settings folder: two would run their timers over the same feed and write
  // the same settings file.
  std::unique_ptr<TFolderLock> formLock;
  if (!ClaimSettingsFolder(fs, formLock)) return kRunBusy;
  TfrmMain frmMain(fs);
  frmMain.show();
  return app.exec();
}
