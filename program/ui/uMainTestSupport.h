#pragma once
// Test support of the main window: the application object, a controllable clock,
// scripted operator windows and a fixture that builds the window over a temporary program
// folder, with the fake worker of the task runner's tests. Include it in one test program
// only once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "program/app/uConst.h"
#include "program/ui/uCustomHint.h"
#include "program/ui/uDialogs.h"
#include "program/ui/uMain.h"
#include "program/app/uStrRes.h"
#include "tests/support/QtTestEnvironment.h"
#include "tests/support/uTaskRunnerTestSupport.h"
#include "program/app/uProgramInfo.h"
#include "program/app/uProgramLog.h"

namespace fp::test {

// The application object of the widget tests; the hint window, made on first use, goes
// before it.
inline TQtTestEnvironment& gQtEnvironment = [] () -> TQtTestEnvironment& {
  TQtTestEnvironment& env = QtTestEnvironment<QApplication>();
  env.AtTearDown([] { uCustomHint::ReleaseCustomHint(); });
  return env;
}();

// ---- The operator's windows ----

class TFakeWindows : public IOperatorWindows {
 public:
  // The settings round trip as the real window does it, with the folder the test gives.
  QString FolderToEnter;
  int SettingsCalls = 0;
  bool TimerRanAfterSettings = false;
  std::deque<std::optional<TReportPeriod>> Periods;  // nothing: closed without OK

  bool EditSettings(IMainWindowServices& Main) override {
    ++SettingsCalls;
    Main.StopFileTimer();
    const bool ok = !FolderToEnter.isEmpty();
    if (ok) {
      Main.Settings().SearchPath = FolderToEnter;
      Main.SaveSettings();
      Main.CheckConnectivity();
    }
    Main.RestartFileTimer();
    TimerRanAfterSettings = static_cast<TfrmMain&>(Main).FileReadTimer.isActive();
    return ok;
  }
  bool SelectPeriod(IMainWindowServices&, TReportPeriod& Period) override {
    if (Periods.empty()) return false;
    auto p = Periods.front();
    Periods.pop_front();
    if (!p) return false;
    Period = *p;
    return true;
  }
  void EditDepartments(IMainWindowServices&) override {}
  void EditPayTypes(IMainWindowServices&) override {}
  void ShowAbout(IMainWindowServices&) override {}
};

// ---- Scripted dialogs that also let a test look at the window when one opens ----

class THookedDialogs : public TScriptedDialogs {
 public:
  std::function<void(const QString& text)> OnMessage;
  TDlgResult Message(QWidget* Parent, TDlgKind Kind, const QString& Text, TDlgButtons Buttons) override {
    if (OnMessage) OnMessage(Text);
    return TScriptedDialogs::Message(Parent, Kind, Text, Buttons);
  }
};

// The printer's details that the look of the main window is checked and pictured with.
inline TPRNInfo SamplePrinterInfo() {
  TPRNInfo info;
  info.Model = "Wren S";
  info.SerialNo = "AB123456";
  info.FiscalNo = "02123456";
  info.LineLength = 42;
  info.LastDocNo = 1234;
  info.NextInvoiceNo = 300;
  info.ComPort = 1;
  return info;
}

// ---- The fixture ----

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.isValid());
    appDir_ = tmp_.path() + "/";
    bonDir_ = appDir_ + "bon/";
    ASSERT_TRUE(QDir().mkpath(bonDir_));
    now_ = QDateTime::currentDateTime().addSecs(5);
    uStrRes::ResetMessages();
    uCustomHint::CustomHintWnd().HideTimerTick();
  }
  void TearDown() override {
    frm_.reset();
    uProgramInfo::SetAppDir("");
    uStrRes::ResetMessages();
  }

  // The INI file of the program folder, written before the window is made.
  void WriteIni(const QString& parameters) {
    QFile f(appDir_ + "DriverFiscalPrinterX4.ini");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(("[PARAMETERS]\r\n" + parameters).toUtf8());
  }
  void WriteIniWithFolder(int checkInterval = 30) {
    WriteIni(QStringLiteral("SearchPath=%1\r\nCheckPrnIntevalSec=%2\r\n").arg(bonDir_).arg(checkInterval));
  }

  TMainServices Services() {
    TMainServices s;
    s.ProgramFile = appDir_ + "DriverFiscalPrinterX4";
    s.Now = [this] {
      const QDateTime t = now_;
      now_ = now_.addSecs(clockStep_);
      return t;
    };
    s.ReadyAgeMs = readyAgeMs_;
    s.CreateTask = workers_.Factory();
    s.ComServer.ProbeDriverVersion = [this]() -> QString {
      ++probes_;
      if (!probeOk_) throw std::runtime_error("Class not registered");
      return QStringLiteral("2.0.0.1");
    };
    s.ComServer.LoadLibrary = [this](const QString& path) -> void* {
      loadedPath_ = path;
      return loadOk_ ? static_cast<void*>(&libraryHandle_) : nullptr;
    };
    s.ComServer.GetProcAddress = [this](void*, const char* name) -> void* {
      lookedUp_ = name;
      return entryPoint_;
    };
    s.ComServer.FreeLibrary = [this](void*) { ++freed_; };
    s.Windows = windows_;
    s.TrayAvailable = [this] { return trayAvailable_; };
    s.OpenUrl = [this](const QUrl& u) {
      opened_.push_back(u);
      return openOk_;
    };
    s.Terminate = [this](int code) { terminated_.push_back(code); };
    s.Quit = [this] { ++quits_; };
    return s;
  }

  TfrmMain& MakeWindow() {
    frm_ = std::make_unique<TfrmMain>(Services());
    return *frm_;
  }
  // A window that has done its first start already (the tests of the running program).
  TfrmMain& MakeRunningWindow(int checkInterval = 30) {
    WriteIniWithFolder(checkInterval);
    TfrmMain& f = MakeWindow();
    f.FirstActivation = false;
    return f;
  }

  // A receipt file that was written `ageSec` seconds before the test clock.
  void PutBon(const QString& name, int ageSec = 10, const QByteArray& body = "S,1,______,_,__;X;1;1\r\n") {
    PutFile(bonDir_ + name, body, now_.addSecs(-ageSec));
  }
  static void PutFile(const QString& path, const QByteArray& body, const QDateTime& modified) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(body);
    f.close();
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(modified, QFileDevice::FileModificationTime));
  }
  static QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  QString NormalLog() const { return QString::fromLatin1(Read(appDir_ + "Log/" + uProgramLog::NormalLogName)); }
  QString ExceptionLog() const { return QString::fromLatin1(Read(appDir_ + "Log/" + uProgramLog::ExceptionLogName)); }
  int CountShown(const QString& text) const {
    int n = 0;
    for (const QString& t : dialogs_.Texts()) n += t == text;
    return n;
  }

  QTemporaryDir tmp_;
  QString appDir_;
  QString bonDir_;
  QDateTime now_;
  int clockStep_ = 0;
  // A receipt file is ready as soon as it is seen (the tests of settling set it).
  int readyAgeMs_ = 0;
  TFakeWorkers workers_;
  std::shared_ptr<TFakeWindows> windows_ = std::make_shared<TFakeWindows>();
  THookedDialogs dialogs_;
  TScopedDialogs scopedDialogs_{dialogs_};
  bool probeOk_ = true;
  int probes_ = 0;
  bool loadOk_ = true;
  int libraryHandle_ = 0;
  void* entryPoint_ = nullptr;
  QString loadedPath_;
  QString lookedUp_;
  int freed_ = 0;
  bool trayAvailable_ = false;
  std::vector<QUrl> opened_;
  bool openOk_ = true;  // a desktop program opened what was asked
  std::vector<int> terminated_;
  int quits_ = 0;
  std::unique_ptr<TfrmMain> frm_;
};

}  // namespace fp::test
