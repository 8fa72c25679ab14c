#pragma once
// What the Qt form's tests share: the program world of tests/support and a form whose
// folder dialog and error box are recorded instead of shown. One QApplication
// serves the test program (QtEnvironment.cpp).

#include <gtest/gtest.h>

#include <QString>
#include <QTest>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ProgramWorld.h"
#include "uMain.h"

namespace apptest {

using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::WriteFile;

inline std::string Utf8(const QString& text) { return text.toStdString(); }

class TFormWorld : public testsupport::TProgramWorld {
 public:
  TfrmMain& MakeForm() {
    TFormHooks hooks;
    hooks.ShowError = [this](QWidget*, const QString& title, const QString& text) {
      Errors.emplace_back(Utf8(title), Utf8(text));
    };
    hooks.ShowWarning = [this](QWidget*, const QString& title, const QString& text) {
      Warnings.emplace_back(Utf8(title), Utf8(text));
    };
    hooks.ChooseDirectory = [this](QWidget*, const QString& title, const QString& start) {
      Chooser.emplace_back(Utf8(title), Utf8(start));
      return QString();
    };
    Form = std::make_unique<TfrmMain>(Fs, std::move(hooks));
    return *Form;
  }

  std::vector<std::pair<std::string, std::string>> Errors;   // title, text
  std::vector<std::pair<std::string, std::string>> Warnings;  // title, text
  std::vector<std::pair<std::string, std::string>> Chooser;  // title, start folder
  std::unique_ptr<TfrmMain> Form;
};

// Serves the event loop until `done` holds (at most 20 s); false when it never did.
template <typename Pred>
bool WaitFor(Pred done) {
  return QTest::qWaitFor(done, 20000);
}

}  // namespace apptest
