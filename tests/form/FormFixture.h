#pragma once
// What the tests of the form's behaviour share: the program world of tests/support and a
// TFormLogic over a fake view. Runs are real: a run works on its own thread, and the test's
// thread, the form's main thread, serves the run's hand-overs through the view's ServeUntil().

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "FakeFormView.h"
#include "FormLogic.h"
#include "ProgramWorld.h"
#include "uUniteThread.h"

namespace formtest {

using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::WriteFile;
using enum TFormField;

class TFormWorld : public testsupport::TProgramWorld {
 public:
  ~TFormWorld() {
    // A run held at the gate must get through, or the logic would wait for it forever.
    OpenGate();
    Logic.reset();
    // Whatever a run did, it reached the form's controls only through the main thread, and its
    // thread let go of it.
    EXPECT_EQ(View.ForeignCalls, 0);
    EXPECT_TRUE(TUniteThread::WaitUntilNoneAlive(std::chrono::seconds(20)));
  }

  // The form as it is made: the logic over the view, told the form has been created.
  TFormLogic& MakeForm() {
    Logic = std::make_unique<TFormLogic>(Fs, View);
    Logic->Created();
    return *Logic;
  }
  std::string& Field(TFormField field) { return View.Fields[field]; }
  // A click on RadioButton1 (true) or RadioButton2: the view checks it, then tells the logic.
  void ClickIndex(bool make) {
    View.SetMakeIndexChecked(make);
    Logic->IndexChoiceClicked(make);
  }
  // Serves the run's hand-overs until it has ended.
  void ServeRun() { View.ServeUntil([this] { return !Logic->Running(); }); }
  // Holds the run at its first move of a file until OpenGate(). The main thread learns of
  // the arrival as an event, served by ServeUntilHeld().
  void HoldFirstMove() {
    Fs.OnOperation([this](const std::string& kind, const std::string&) {
      if (kind != "move" || FHeld.exchange(true)) return;
      View.Post([this] { FArrived = true; });
      std::unique_lock<std::mutex> lock(FGateLock);
      FGateChanged.wait(lock, [this] { return FGateOpen; });
    });
  }
  void ServeUntilHeld() { View.ServeUntil([this] { return FArrived; }); }
  void OpenGate() {
    std::lock_guard<std::mutex> lock(FGateLock);
    FGateOpen = true;
    FGateChanged.notify_all();
  }

  testsupport::TFakeFormView View;
  std::unique_ptr<TFormLogic> Logic;

 private:
  std::atomic<bool> FHeld{false};
  bool FArrived = false;  // main thread
  std::mutex FGateLock;
  std::condition_variable FGateChanged;
  bool FGateOpen = false;
};

class FormTest : public ::testing::Test {
 protected:
  TFormWorld W;
};

}  // namespace formtest
