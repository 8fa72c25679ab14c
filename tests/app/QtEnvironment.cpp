// One QApplication for the whole test program, made before the first test runs. The tests
// use Qt's offscreen platform unless the environment asks for another.

#include <gtest/gtest.h>

#include <QApplication>

namespace {

class TQtEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    FApp = new QApplication(FArgc, FArgv);
  }
  void TearDown() override {
    delete FApp;
    FApp = nullptr;
  }

 private:
  int FArgc = 1;
  char FName[10] = "app_tests";
  char* FArgv[2] = {FName, nullptr};
  QApplication* FApp = nullptr;
};

[[maybe_unused]] ::testing::Environment* const gQt =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

}  // namespace
