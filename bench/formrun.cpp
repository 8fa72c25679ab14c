// lorvane-formrun: one run started from the form, as an operator starts it: the real form on
// the program's settings, its execute-now button clicked once the event loop runs, timed to
// the end of the run. Meanwhile a precise timer due every few milliseconds probes the main
// thread; the longest wait between two of its ticks is how long a click would have waited.
//
//   lorvane-formrun --home DIR [--probe-ms N]
//
// DIR is what `lorvane --home DIR` takes (the settings LORVANE.INI and the day's log). Prints
// one line "SECONDS WORST_GAP_MS WORST_BUSY_MS TICKS": the click to the end of the run, the
// longest time between two probe ticks, the same without the time the main thread waited for
// a processor, and the number of ticks. Exit status: 0 the run ended without a failure
// notice, 1 it showed one, 2 it could not be run.

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "BlinkText.h"
#include "Clock.h"
#include "Failure.h"
#include "Platform.h"
#include "ProgramFiles.h"
#include "QtText.h"
#include "uMain.h"

namespace {

// Nanoseconds the calling thread has been runnable but waiting for a processor; 0 where the
// kernel does not tell.
long long RunQueueWaitNs() {
  std::ifstream stat("/proc/thread-self/schedstat");
  long long onCpu = 0, waiting = 0;
  return stat >> onCpu >> waiting ? waiting : 0;
}

int Usage(const char* complaint) {
  std::fprintf(stderr, "lorvane-formrun: %s\nusage: lorvane-formrun --home DIR [--probe-ms N]\n",
               complaint);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string home;
  int probeMs = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--home" && i + 1 < argc) {
      home = argv[++i];
    } else if (arg == "--probe-ms" && i + 1 < argc) {
      probeMs = std::atoi(argv[++i]);
      if (probeMs < 1) return Usage("--probe-ms takes a number of milliseconds above 0");
    } else {
      return Usage(("unknown argument: " + arg).c_str());
    }
  }
  std::error_code ec;
  if (home.empty() || !std::filesystem::is_directory(home, ec)) return Usage("--home names no folder");
  home = std::filesystem::absolute(home, ec).lexically_normal().string();

  // This program serves lorvane's settings and day logs, as the form does.
  const std::unique_ptr<TPlatform> platform = NewSystemPlatform(home, "lorvane");
  TPlatform& fs = *platform;
  LoadRegionalFormats();
  try {
    LoadDrives(fs, SettingsPathFor(fs.ProgramPath()));
  } catch (const EFailure& failure) {
    std::fprintf(stderr, "lorvane-formrun: %s\n", failure.what());
    return 2;
  }

  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  bool handlerFailed = false;
  TFormHooks hooks;
  // A modal box would hold the bench up; the failure is told and the run counts as failed.
  hooks.ShowError = [&](QWidget*, const QString&, const QString& text) {
    std::fprintf(stderr, "lorvane-formrun: the form reported: %s\n", text.toUtf8().constData());
    handlerFailed = true;
  };
  hooks.ShowWarning = [](QWidget*, const QString&, const QString& text) {
    std::fprintf(stderr, "lorvane-formrun: the form warned: %s\n", text.toUtf8().constData());
  };
  TfrmMain form(fs, hooks);
  form.show();
  if (handlerFailed) return 2;

  QElapsedTimer clock;
  qint64 started = 0, ended = -1, lastTick = 0, lastWait = 0, worst = 0, worstBusy = 0;
  long ticks = 0;
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  probe.setInterval(probeMs);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    const qint64 waited = RunQueueWaitNs();
    worst = std::max(worst, now - lastTick);
    worstBusy = std::max(worstBusy, now - lastTick - (waited - lastWait));
    lastTick = now;
    lastWait = waited;
    ++ticks;
    if (!form.Running()) {
      ended = now;
      app.quit();
    }
  });
  // Clicked from inside the event loop, as an operator's click arrives.
  QTimer::singleShot(0, &form, [&] {
    clock.start();
    lastWait = RunQueueWaitNs();
    form.Button2->click();
    started = clock.nsecsElapsed();
    lastTick = started;
    if (!form.Running()) {
      std::fprintf(stderr, "lorvane-formrun: the execute-now button started no run\n");
      app.exit(2);
      return;
    }
    probe.start();
  });
  if (app.exec() != 0 || ended < 0) return 2;

  std::printf("%.3f %.1f %.1f %ld\n", static_cast<double>(ended) / 1e9,
              static_cast<double>(worst) / 1e6, static_cast<double>(worstBusy) / 1e6, ticks);
  const std::string status = GbkFromQt(form.RzMStatus->text());
  if (!status.empty()) {
    std::fprintf(stderr, "lorvane-formrun: the run ended with: %s\n",
                 form.RzMStatus->text().toUtf8().constData());
    return 1;
  }
  return 0;
}
