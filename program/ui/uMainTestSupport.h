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
#include "program/ui/LayoutTestSupport.h"
#include "program/ui/uCustomHint.h"
#include "program/ui/uDialogs.h"
#include "program/ui/uMain.h"
#include "program/app/uStrRes.h"
#include "tests/support/QtTestEnvironment.h"
#include "tests/support/uTaskRunnerTestSupport.h"
#include "program/app/uProgramInfo.h"
#include "program/app/uProgramLog.h"
#include "platform/FileOps.h"

namespace fp::test {

// The application object of the widget tests, with the font they choose; the hint window,
// made on first use, goes before it.
inline TQtTestEnvironment& gQtEnvironment = []() -> TQtTestEnvironment& {
  TQtTestEnvironment& env = QtTestEnvironment<QApplication>();
  env.AtSetUp([] { UseTheTestFont(); });
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
  // Runs while the settings window is open (before its answer).
  std::function<void()> DuringSettings;

  bool EditSettings(IMainWindowServices& Main) override {
    ++SettingsCalls;
    Main.StopFileTimer();
    if (DuringSettings) DuringSettings();
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
  // A file-operations seam that a test scopes while its window lives. The start-up clean-up
  // runs on a thread of its own and may still call the seam: the scope ends once it is done.
  class TWindowFileOps {
   public:
    TWindowFileOps(MainWindowTest& Test, IFileOps* Ops) : FTest(Test), FScoped(Ops) {}
    ~TWindowFileOps() {
      if (FTest.FFrm) SpinUntil([this] { return !FTest.FFrm->Runner().CleanUpRunning(); }, 10000);
    }
    TWindowFileOps(const TWindowFileOps&) = delete;
    TWindowFileOps& operator=(const TWindowFileOps&) = delete;

   private:
    MainWindowTest& FTest;
    TScopedFileOps FScoped;
  };

  void SetUp() override {
    ASSERT_TRUE(FTmp.isValid());
    FAppDir = FTmp.path() + "/";
    FBonDir = FAppDir + "bon/";
    ASSERT_TRUE(QDir().mkpath(FBonDir));
    FNow = QDateTime::currentDateTime().addSecs(5);
    uStrRes::ResetMessages();
    uCustomHint::CustomHintWnd().HideTimerTick();
  }
  void TearDown() override {
    FFrm.reset();
    uProgramInfo::SetAppDir("");
    uStrRes::ResetMessages();
  }

  // The INI file of the program folder, written before the window is made.
  void WriteIni(const QString& parameters) {
    QFile f(FAppDir + "DriverFiscalPrinterX4.ini");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(("[PARAMETERS]\r\n" + parameters).toUtf8());
  }
  void WriteIniWithFolder(int checkInterval = 30) {
    WriteIni(QStringLiteral("SearchPath=%1\r\nCheckPrnIntevalSec=%2\r\n").arg(FBonDir).arg(checkInterval));
  }

  TMainServices Services() {
    TMainServices s;
    s.ProgramFile = FAppDir + "DriverFiscalPrinterX4";
    s.Now = [this] {
      const QDateTime t = FNow;
      FNow = FNow.addSecs(FClockStep);
      return t;
    };
    s.ReadyAgeMs = FReadyAgeMs;
    s.CreateTask = FWorkers.Factory();
    s.ComServer.ProbeDriverVersion = [this]() -> QString {
      ++FProbes;
      if (!FProbeOk) throw std::runtime_error("Class not registered");
      return QStringLiteral("2.0.0.1");
    };
    s.ComServer.LoadLibrary = [this](const QString& path) -> void* {
      FLoadedPath = path;
      return FLoadOk ? static_cast<void*>(&FLibraryHandle) : nullptr;
    };
    s.ComServer.GetProcAddress = [this](void*, const char* name) -> void* {
      FLookedUp = name;
      return FEntryPoint;
    };
    s.ComServer.FreeLibrary = [this](void*) { ++FFreed; };
    s.Windows = FWindows;
    s.TrayAvailable = [this] { return FTrayAvailable; };
    s.OpenUrl = [this](const QUrl& u) {
      FOpened.push_back(u);
      return FOpenOk;
    };
    s.Terminate = [this](int code) { FTerminated.push_back(code); };
    s.Quit = [this] { ++FQuits; };
    return s;
  }

  // A shown running window with every alert at once: the printer's own state, files of
  // unknown outcome in the error line and the last task's panel (one with a very long
  // name), errors in the current task's status. PrinterState: what the printer says.
  TfrmMain& ShowEveryAlert(const QString& PrinterState = QStringLiteral("Няма хартия.")) {
    FWorkers.AutoFinish = false;
    TfrmMain& f = MakeRunningWindow(0);
    f.GetPrnInfo(SamplePrinterInfo());
    f.show();
    SpinUntil([&] { return f.isVisible(); });
    f.mnDoFilesClick();
    auto t = FWorkers.Last();
    const QString longName = QString(200, 'x') + ".unk";
    PutBon("0001.unk");
    PutBon(longName);
    t->Events.FileUnknown(FBonDir + "0001.unk", "the printer stopped answering after the receipt was opened");
    t->Error(ekPrinterFatal, PrinterState);
    t->Events.FileUnknown(FBonDir + longName, "the program was stopped while it printed");
    t->Error(ekFileError);
    t->Events.PrinterOffline();
    t->Error(ekPrinterFatal, PrinterState);
    t->Finish();
    f.FileReadTimerTimer();
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    return f;
  }

  TfrmMain& MakeWindow() {
    FFrm = std::make_unique<TfrmMain>(Services());
    return *FFrm;
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
    PutFile(FBonDir + name, body, FNow.addSecs(-ageSec));
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
  QString NormalLog() const { return QString::fromLatin1(Read(FAppDir + "Log/" + uProgramLog::NormalLogName)); }
  QString ExceptionLog() const { return QString::fromLatin1(Read(FAppDir + "Log/" + uProgramLog::ExceptionLogName)); }
  int CountShown(const QString& text) const {
    int n = 0;
    for (const QString& t : FDialogs.Texts()) n += t == text;
    return n;
  }

  QTemporaryDir FTmp;
  QString FAppDir;
  QString FBonDir;
  QDateTime FNow;
  int FClockStep = 0;
  // A receipt file is ready as soon as it is seen (the tests of settling set it).
  int FReadyAgeMs = 0;
  TFakeWorkers FWorkers;
  std::shared_ptr<TFakeWindows> FWindows = std::make_shared<TFakeWindows>();
  THookedDialogs FDialogs;
  TScopedDialogs FScopedDialogs{FDialogs};
  bool FProbeOk = true;
  int FProbes = 0;
  bool FLoadOk = true;
  int FLibraryHandle = 0;
  void* FEntryPoint = nullptr;
  QString FLoadedPath;
  QString FLookedUp;
  int FFreed = 0;
  bool FTrayAvailable = false;
  std::vector<QUrl> FOpened;
  bool FOpenOk = true;  // a desktop program opened what was asked
  std::vector<int> FTerminated;
  int FQuits = 0;
  std::unique_ptr<TfrmMain> FFrm;
};

}  // namespace fp::test
