#pragma once
// Test helpers for the operator's windows: the application object, a fake main window
// with a scripted task runner and driving a modal window from inside its own event loop.
// Header only; for tests.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <map>
#include <ostream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "program/app/uConst.h"
#include "program/ui/LayoutTestSupport.h"
#include "program/ui/uDialogs.h"
#include "program/tasks/uMainServices.h"
#include "program/app/uStrRes.h"
#include "program/app/uProgramInfo.h"
#include "tests/support/PortTestSupport.h"
#include "tests/support/QtTestEnvironment.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& Text, std::ostream* Out) { *Out << '"' << Text.toStdString() << '"'; }

namespace fp::test {

// The application object of the test program, with the font the window tests choose. The
// program folder is a temporary folder of its own, without a language file unless a test
// writes one.
inline TQtTestEnvironment& QtEnvironment = []() -> TQtTestEnvironment& {
  TQtTestEnvironment& env = QtTestEnvironment<QApplication>();
  env.AtSetUp([] { UseTheTestFont(); });
  static std::unique_ptr<QTemporaryDir> appDir;
  env.AtSetUp([] {
    appDir = std::make_unique<QTemporaryDir>();
    uProgramInfo::SetAppDir(appDir->path() + QStringLiteral("/"));
  });
  env.AtTearDown([] {
    uProgramInfo::SetAppDir(QString());
    appDir.reset();
  });
  return env;
}();

// A department row as the printer reports it.
inline TDepartmentRow Dep(int32_t nom, const char* name, const char* exitCode = "P", int32_t group = 1,
                          const char* descr = "") {
  TDepartmentRow r;
  r.Nom = nom;
  r.DepName = QString::fromUtf8(name);
  r.DepDescr = QString::fromUtf8(descr);
  r.ExitCode = QString::fromUtf8(exitCode);
  r.TaxGrpNo = group;
  return r;
}

// The departments that the look of the department windows is checked and pictured with.
inline std::vector<TDepartmentRow> SampleDepartments() {
  return {Dep(1, "Хляб", "P", 2, "основни"), Dep(2, "Мляко", "P", 2), Dep(3, "", "F", 0)};
}

// Three serial devices that the port naming calls COM1, COM2 and COM10.
inline std::vector<TSerialDevice> ThreePorts() {
  return {FakeDevice("ttyS0"), FakeDevice("ttyS1"), FakeDevice("ttyS9")};
}

// The language file of the program folder (Translations), as the windows look for it.
inline QString LngFileOfAppDir() {
  const QString dir = uProgramInfo::AppDir() + QLatin1String(uStrRes::TranslationsFolder);
  QDir().mkpath(dir);
  return dir + QLatin1Char('/') + QLatin1String(uStrRes::LngFileName);
}

// Runs Action on the modal window of class T as soon as it is shown (polled from the
// event loop the modal window runs). A window that does not come within 10 s fails the
// test and the modal window open then is closed, so a test never hangs.
template <typename T>
void WhenModal(std::function<void(T*)> Action) {
  auto* timer = new QTimer;
  const auto start = std::chrono::steady_clock::now();
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, Action, start] {
    if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget()); w && w->isVisible()) {
      timer->stop();
      timer->deleteLater();
      Action(w);
      return;
    }
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(10)) {
      timer->stop();
      timer->deleteLater();
      ADD_FAILURE() << "the expected modal window did not open";
      if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
    }
  });
  timer->start();
}

// The main window as the operator's windows see it, with a task runner that a test
// scripts and every call counted.
class TFakeMain : public IMainWindowServices {
 public:
  QWidget Window;
  TMainSettings Values;
  TDepartments DepartmentList;
  bool Busy = false;
  int32_t Errors = 0;
  QString PrinterModel = QStringLiteral("fp-x4 demo");
  QString PrinterSerial = QStringLiteral("ED000001");
  QString DriverVersion = QStringLiteral("4.2.1.7");

  // Scripted behaviour (defaults: every test fails, RunTask does nothing).
  std::function<bool(int32_t)> OnTestComPort = [](int32_t) { return false; };
  std::function<bool(const QString&)> OnSearchDeviceBySerial = [](const QString&) { return false; };
  std::function<void(TTaskKind)> OnRunTask;
  std::function<void()> OnSaveSettings;

  // What happened.
  std::vector<int32_t> TestedPorts;
  std::vector<QString> SearchedSerials;
  std::vector<TTaskKind> Tasks;
  std::map<int, QString> Panels;
  int Saves = 0, ConnectivityChecks = 0, TimerStops = 0, TimerRestarts = 0, ErrorMessages = 0;

  QWidget* MainWindow() override { return &Window; }
  TMainSettings& Settings() override { return Values; }
  void SaveSettings() override {
    ++Saves;
    if (OnSaveSettings) OnSaveSettings();
  }
  void RunTask(TTaskKind Kind, bool) override {
    if (WarnIfTaskActive()) return;
    Tasks.push_back(Kind);
    Errors = 0;
    if (OnRunTask) OnRunTask(Kind);
  }
  bool TaskActive() const override { return Busy; }
  bool WarnIfTaskActive() override {
    if (Busy) ShowError(&Window, uStrRes::Message(uStrRes::ActiveTask));
    return Busy;
  }
  int32_t ErrorCount() const override { return Errors; }
  TDepartments& Departments() override { return DepartmentList; }
  bool CheckConnectivity() override {
    ++ConnectivityChecks;
    return true;
  }
  bool TestComPort(int32_t Port) override {
    TestedPorts.push_back(Port);
    return OnTestComPort(Port);
  }
  bool SearchDeviceBySerial(const QString& Serial) override {
    SearchedSerials.push_back(Serial);
    return OnSearchDeviceBySerial(Serial);
  }
  QString Model() const override { return PrinterModel; }
  QString SerialNo() const override { return PrinterSerial; }
  QString ComServerVersion() const override { return DriverVersion; }
  void ShowErrorMessage() override { ++ErrorMessages; }
  void StopFileTimer() override { ++TimerStops; }
  void RestartFileTimer() override { ++TimerRestarts; }
  void SetStatusPanel(int Index, const QString& Text) override { Panels[Index] = Text; }
};

}  // namespace fp::test
