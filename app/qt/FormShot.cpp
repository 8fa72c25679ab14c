// lorvane-formshot: the picture of the form in docs/. Opens the form on the settings of
// --home, presses its execute-now button with --run and waits for the run, then saves the
// form as shown to FILE and ends.
//
//   lorvane-formshot --home DIR --out FILE.png [--run]

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <string>

#include "Clock.h"
#include "Failure.h"
#include "HomeFolder.h"
#include "Platform.h"
#include "ProgramFiles.h"
#include "uMain.h"

int main(int argc, char** argv) {
  std::string home, out;
  bool run = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--home" && i + 1 < argc) home = argv[++i];
    else if (arg == "--out" && i + 1 < argc) out = argv[++i];
    else if (arg == "--run") run = true;
    else {
      std::fprintf(stderr, "usage: lorvane-formshot --home DIR --out FILE.png [--run]\n");
      return 2;
    }
  }
  std::string error;
  home = GivenHome(home, error);
  if (home.empty() || out.empty()) {
    std::fprintf(stderr, "lorvane-formshot: %s\n", out.empty() ? "--out needs a file" : error.c_str());
    return 2;
  }
  const std::unique_ptr<TPlatform> platform = NewSystemPlatform(home, "lorvane");
  LoadRegionalFormats();
  try {
    LoadDrives(*platform, SettingsPathFor(platform->ProgramPath()));
  } catch (const EFailure& failure) {
    std::fprintf(stderr, "lorvane-formshot: %s\n", failure.what());
    return 2;
  }
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  // The picture is of the form, not of a box in front of it.
  TFormHooks hooks;
  hooks.ShowWarning = [](QWidget*, const QString&, const QString& text) {
    std::fprintf(stderr, "lorvane-formshot: the form warned: %s\n", text.toUtf8().constData());
  };
  TfrmMain form(*platform, hooks);
  form.show();
  const QString file = QString::fromStdString(out);
  QTimer::singleShot(300, &form, [&form, file, run] {
    if (run) form.Button2->click();
    auto* poll = new QTimer(&form);
    QObject::connect(poll, &QTimer::timeout, &form, [&form, file, poll] {
      if (form.Running()) return;
      poll->stop();
      QCoreApplication::exit(form.grab().save(file) ? 0 : 1);
    });
    poll->start(100);
  });
  return app.exec();
}
