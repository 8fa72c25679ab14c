#pragma once
// What the form tests share: one Qt application for the test program (offscreen unless the
// environment names a platform), and a world of a temporary program folder, the real
// platform wrapped for fault injection with a fixed clock, and a form whose dialogs, error
// box and document viewer are recorded instead of shown.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Clock.h"
#include "Convert.h"
#include "FaultyPlatform.h"
#include "IndexBytes.h"
#include "IniFile.h"
#include "Platform.h"
#include "TestSupport.h"
#include "RunTexts.h"
#include "BlinkText.h"
#include "DirectoryEdit.h"
#include "LogBox.h"
#include "uMain.h"

namespace apptest {

using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::WriteFile;

inline std::string Utf8(const QString& text) { return text.toStdString(); }

// A gate that a worker stops at until the test lets it through.
class TGate {
 public:
  // Called on the worker: tells the test it has arrived, then waits.
  void Arrive() {
    std::unique_lock<std::mutex> lock(FMutex);
    FArrived = true;
    FChanged.notify_all();
    FChanged.wait(lock, [this] { return FOpen; });
  }
  bool Arrived() {
    std::lock_guard<std::mutex> lock(FMutex);
    return FArrived;
  }
  void Open() {
    std::lock_guard<std::mutex> lock(FMutex);
    FOpen = true;
    FChanged.notify_all();
  }

 private:
  std::mutex FMutex;
  std::condition_variable FChanged;
  bool FArrived = false;
  bool FOpen = false;
};

class TFormWorld {
 public:
  TFormWorld() : System(NewSystemPlatform(Tmp.Path().string())), Real(*System), Fs(Real) {
    Fs.SetProgramName("lorvane");
    Fs.SetClock([] { return Today(); });
  }
  ~TFormWorld() {
    // A worker held at the gate must get through, or the form would wait for it forever.
    Gate.Open();
    Form.reset();
  }
  TFormWorld(const TFormWorld&) = delete;
  TFormWorld& operator=(const TFormWorld&) = delete;

  static TDateTime Today() { return TDateTime{2026, 12, 8, 10, 30, 0, 0}; }

  // The settings file, from UTF-8 lines (written as GBK with CR LF).
  void Settings(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines) bytes += Utf8ToGbk(line) + "\r\n";
    WriteFile(Tmp / "LORVANE.INI", bytes);
  }
  // A key of section OPTION as the file holds it now (UTF-8), "<missing>" when absent.
  std::string Option(const std::string& key) {
    TIniFile ini(Real, SettingsPathFor(Drive("lorvane")));
    return GbkToUtf8(ini.ReadString("OPTION", key, "<missing>"));
  }

  TfrmMain& MakeForm() {
    TFormHooks hooks;
    hooks.ShowError = [this](QWidget*, const QString& title, const QString& text) {
      Errors.emplace_back(Utf8(title), Utf8(text));
    };
    hooks.OpenDocument = [this](const QUrl& document) {
      Opened.push_back(document);
      return true;
    };
    hooks.ChooseDirectory = [this](QWidget*, const QString& title, const QString& start) {
      Chooser.emplace_back(Utf8(title), Utf8(start));
      return ChooserAnswer;
    };
    Form = std::make_unique<TfrmMain>(Fs, std::move(hooks));
    return *Form;
  }

  // The drive path of a name in the program folder (UTF-8 in, GBK-free ASCII names out).
  std::string Drive(const std::string& name = "") const { return Tmp.Drive(name); }
  std::string Host(const std::string& name) const { return Tmp / name; }

  // A stock waiting in `source` (a folder of the tree): its index file and its sections.
  void Deliver(const std::string& source, const std::string& code,
               const std::vector<std::string>& letters) {
    std::vector<indexbytes::TListed> sections;
    for (const std::string& letter : letters) {
      const std::string name = code + letter + ".sub";
      WriteFile(Tmp / (source + "/" + name), "section " + letter + "\r\n");
      sections.push_back({letter, name});
    }
    WriteFile(Tmp / (source + "/" + code + ".F10"), indexbytes::Listing(sections, 20261208));
  }
  void MakeDir(const std::string& name) { testsupport::fs::create_directories(Tmp / name); }

  // Settings with both markets' roots in this tree and the given extra lines of OPTION.
  void RootSettings(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> lines = {"[OPTION]",
                                      "SRC=" + Drive("shsrc"),
                                      "DES=" + Drive("shdes"),
                                      "SZSRC=" + Drive("szsrc"),
                                      "SZDES=" + Drive("szdes")};
    lines.insert(lines.end(), extra.begin(), extra.end());
    Settings(lines);
    for (const char* dir : {"shsrc", "shdes", "szsrc", "szdes"}) MakeDir(dir);
  }

  // Holds the run at its first move of a file until Gate.Open().
  void HoldFirstMove() {
    Fs.OnOperation([this](const std::string& kind, const std::string&) {
      if (kind == "move" && !FHeld.exchange(true)) Gate.Arrive();
    });
  }

  testsupport::TTempDir Tmp;
  const std::unique_ptr<TPlatform> System;
  TPlatform& Real;
  TFaultyPlatform Fs;
  TGate Gate;
  std::vector<std::pair<std::string, std::string>> Errors;   // title, text
  std::vector<QUrl> Opened;
  std::vector<std::pair<std::string, std::string>> Chooser;  // title, start folder
  QString ChooserAnswer;
  std::unique_ptr<TfrmMain> Form;

 private:
  std::atomic<bool> FHeld{false};
};

// Serves the event loop until `done` holds (at most 20 s); false when it never did.
template <typename Pred>
bool WaitFor(Pred done) {
  return QTest::qWaitFor(done, 20000);
}

}  // namespace apptest
