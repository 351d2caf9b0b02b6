#pragma once
// The one Qt application object of a test program: made before the first test and deleted
// after the last (a static one would outlive Qt's own thread storage). Tests without
// widgets use QCoreApplication and need not link Qt Widgets; window tests use QApplication.
//
//   [[maybe_unused]] auto& gQt = fp::test::QtTestEnvironment<QApplication>();
//
// Every header or test file of a program may ask for it: the first call registers the
// environment with GoogleTest and later calls return the same one, so there is only one
// application object per program. Asking for two different application classes in one
// program is a fault of the test program and stops it at start.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <type_traits>
#include <typeinfo>
#include <vector>

namespace fp::test {

class TQtTestEnvironment : public ::testing::Environment {
 public:
  // Work to do right after the application object is made (in the order added) and right
  // before it goes (in the reverse order): a program folder of the test's own, releasing
  // objects that need the application.
  void AtSetUp(std::function<void()> Action) { FAtSetUp.push_back(std::move(Action)); }
  void AtTearDown(std::function<void()> Action) { FAtTearDown.push_back(std::move(Action)); }

  void SetUp() override {
    // Windows are shown on Qt's offscreen platform, never on a display of the machine.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    FApp = FMake(FArgc, FArgv);
    for (const auto& action : FAtSetUp) action();
  }
  void TearDown() override {
    for (auto it = FAtTearDown.rbegin(); it != FAtTearDown.rend(); ++it) (*it)();
    FApp.reset();
  }

  template <typename TApp>
  friend TQtTestEnvironment& QtTestEnvironment();

 private:
  using TMake = std::unique_ptr<QCoreApplication> (*)(int&, char**);
  TQtTestEnvironment(const std::type_info& Class, TMake Make) : FClass(Class), FMake(Make) {}

  const std::type_info& FClass;
  TMake FMake;
  int FArgc = 1;
  char FArg0[8] = "fp_test";
  char* FArgv[2] = {FArg0, nullptr};
  std::unique_ptr<QCoreApplication> FApp;
  std::vector<std::function<void()>> FAtSetUp;
  std::vector<std::function<void()>> FAtTearDown;
};

// The environment of this test program, registered on the first call.
inline TQtTestEnvironment*& RegisteredQtTestEnvironment() {
  static TQtTestEnvironment* env = nullptr;
  return env;
}

template <typename TApp>
TQtTestEnvironment& QtTestEnvironment() {
  static_assert(std::is_base_of_v<QCoreApplication, TApp>, "an application class of Qt");
  TQtTestEnvironment*& env = RegisteredQtTestEnvironment();
  if (!env) {
    env = new TQtTestEnvironment(typeid(TApp), [](int& Argc, char** Argv) -> std::unique_ptr<QCoreApplication> {
      return std::make_unique<TApp>(Argc, Argv);
    });
    ::testing::AddGlobalTestEnvironment(env);  // GoogleTest owns it from here
  } else if (env->FClass != typeid(TApp)) {
    std::fprintf(stderr, "one test program asks for two Qt application classes: %s and %s\n", env->FClass.name(),
                 typeid(TApp).name());
    std::abort();
  }
  return *env;
}

}  // namespace fp::test
