#include "program/ui/uMain.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "program/ui/MarqueeProgressBar.h"
#include "program/ui/uFormHelpers.h"
#include "program/ui/uMainTestSupport.h"
#include "program/ui/LayoutTestSupport.h"
#include "platform/Cp1251.h"
#include "platform/FileOps.h"
#include "program/app/uProgramLog.h"

namespace fp::test {
namespace {

using uStrRes::Message;
namespace M = uStrRes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const QString CR = QStringLiteral("\r");
// What the operator is told to check when the printer does not answer.
const QString kCheckPrinter = QStringLiteral("Проверете кабела, захранването и хартията на принтера.");

// The library's self-registration entry point as the tests hand it out.
std::atomic<int> gRegisterCalls{0};
std::atomic<HRESULT> gRegisterResult{S_OK};
HRESULT FakeDllRegisterServer() {
  ++gRegisterCalls;
  return gRegisterResult.load();
}

// Only the test's own folder tree can be written, as on a machine where the user may
// not write to the file-system root.
class TOnlyTreeWritable : public IFileOps {
 public:
  explicit TOnlyTreeWritable(QString root) : FRoot(std::move(root)) {}
  int Open(const char* path, int flags, mode_t mode) override {
    if ((flags & O_CREAT) && !QString::fromLocal8Bit(path).startsWith(FRoot)) {
      ++refused_;
      errno = EACCES;
      return -1;
    }
    return IFileOps::Open(path, flags, mode);
  }
  int refused_ = 0;

 private:
  QString FRoot;
};

// ---------------------------------------------------------------------------------------
// First start

TEST_F(MainWindowTest, FirstStartWithoutSettingsAsksForTheFolderAndKeepsTheTimerOffUntilAnswered) {
  TOnlyTreeWritable ops(FTmp.path());
  TWindowFileOps scoped(*this, &ops);
  FWindows->FolderToEnter = FBonDir;
  PutBon("0001.bon");
  PutBon("0002.bon");
  bool timerAtQuestion = true;
  size_t tasksAtQuestion = 0;
  FDialogs.OnMessage = [&](const QString& text) {
    if (text.startsWith(Message(M::BonExistDlg))) {
      timerAtQuestion = FFrm->FileReadTimer.isActive();
      tasksAtQuestion = FWorkers.Tasks.size();
    }
  };
  FDialogs.PushAnswer(TDlgResult::Yes);

  TfrmMain& f = MakeWindow();
  EXPECT_EQ(f.windowTitle(), "MIRAVOK FP driver (" + FAppDir + "DriverFiscalPrinterX4)");
  EXPECT_TRUE(f.Settings().SearchPath.isEmpty());
  EXPECT_EQ(f.StatusText(2), Message(M::StoppedByUser));
  EXPECT_EQ(f.StatusText(0), "COM1");
  EXPECT_EQ(f.lblCurrentTaskName->text(), Message(M::NoActiveTask));
  ASSERT_TRUE(f.FirstActivation);

  f.FormActivate();

  // The empty folder setting was not write-tested (the root would have failed it).
  EXPECT_EQ(CountShown(Message(M::CantWrite) + CR), 0);
  EXPECT_TRUE(FTerminated.empty());
  EXPECT_EQ(FProbes, 1);
  EXPECT_EQ(f.ComServerVersion(), "2.0.0.1");
  EXPECT_EQ(FWindows->SettingsCalls, 1);
  EXPECT_FALSE(FWindows->TimerRanAfterSettings);
  // The question came before the timer could print anything.
  EXPECT_THAT(FDialogs.Texts(), ElementsAre(TfrmMain::WaitingFilesQuestion(2)));
  EXPECT_FALSE(timerAtQuestion);
  EXPECT_EQ(tasksAtQuestion, 2u);
  EXPECT_THAT(FWorkers.Kinds(), ElementsAre(tkCheckPrinter, tkCheckPrinter));
  // Yes keeps the files for the timer, which now runs.
  EXPECT_TRUE(QFile::exists(FBonDir + "0001.bon"));
  EXPECT_TRUE(f.FileReadTimer.isActive());
  EXPECT_EQ(f.StatusText(2), Message(M::Started));
  EXPECT_FALSE(f.FirstActivation);
  EXPECT_THAT(QString::fromLatin1(Read(FAppDir + "DriverFiscalPrinterX4.ini")).toStdString(),
              HasSubstr(("SearchPath=" + FBonDir).toStdString()));
  EXPECT_THAT(NormalLog().toStdString(), HasSubstr("RERIvovoveRuvevu v."));

  // Later activations do nothing.
  f.FormActivate();
  EXPECT_EQ(FProbes, 1);
}

// The question counts every waiting file, though none has yet been seen to stay unchanged.
TEST_F(MainWindowTest, NoToWaitingFilesDeletesExactlyTheListedOnes) {
  FReadyAgeMs = uPRNFileThread::ReadyAgeMs;
  WriteIniWithFolder(0);
  PutBon("0001.bon");
  PutBon("0002.bon", -600);  // stamped ten minutes ahead
  PutBon("empty.bon", 10, QByteArray());
  PutFile(FBonDir + "other.txt", "x", FNow.addSecs(-10));
  FDialogs.PushAnswer(TDlgResult::No);
  TfrmMain& f = MakeWindow();
  f.FormActivate();
  EXPECT_FALSE(QFile::exists(FBonDir + "0001.bon"));
  EXPECT_FALSE(QFile::exists(FBonDir + "0002.bon"));
  EXPECT_TRUE(QFile::exists(FBonDir + "empty.bon"));
  EXPECT_TRUE(QFile::exists(FBonDir + "other.txt"));
  EXPECT_EQ(FWindows->SettingsCalls, 0);
  EXPECT_TRUE(f.FileReadTimer.isActive());
}

// The question says how many files wait and what No does. Only an explicit No deletes,
// each file named in the logs; Escape and the close button keep the files for printing.
// It is a window of its own on top, so that it is seen whatever became of the main window,
// and it comes at every start while files wait.
TEST_F(MainWindowTest, WaitingFilesQuestionDeletesOnlyOnAnExplicitNo) {
  const QString question = QStringLiteral(
      "Съществуват файлове с касови бележки.\rБрой файлове: 2\rДа ги разпечатам ли ?\r\"Не\" изтрива файловете, "
      "без да ги отпечата. \"Да\", Escape или затваряне на прозореца ги запазва и те се отпечатват.");
  EXPECT_EQ(TfrmMain::WaitingFilesQuestion(2), question);
  FTrayAvailable = true;
  WriteIniWithFolder(0);
  const struct {
    const char* Name;
    TDlgResult Answer;  // Cancel: Escape or the close button
    bool Deleted;
  } cases[] = {{"Yes", TDlgResult::Yes, false}, {"Escape", TDlgResult::Cancel, false}, {"No", TDlgResult::No, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    PutBon("0001.bon");
    PutBon("0002.bon");
    FDialogs.Clear();
    FDialogs.PushAnswer(c.Answer);
    MakeWindow().FormActivate();
    const std::vector<TShownDialog> shown = FDialogs.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, question);
    EXPECT_TRUE(shown[0].Parentless);
    EXPECT_EQ(QFile::exists(FBonDir + "0001.bon"), !c.Deleted);
    EXPECT_EQ(QFile::exists(FBonDir + "0002.bon"), !c.Deleted);
    const std::string log = ExceptionLog().toStdString();
    const std::string line =
        ("[FirstStart] Deleted without printing, the operator answered No: " + FBonDir).toStdString();
    EXPECT_EQ(log.find(line + "0001.bon") != std::string::npos, c.Deleted) << log;
    EXPECT_EQ(log.find(line + "0002.bon") != std::string::npos, c.Deleted) << log;
    EXPECT_TRUE(FFrm->FileReadTimer.isActive());
    FFrm.reset();
  }
}

// A file written again under a waiting name while the question was open is a new receipt:
// No deletes only what was asked about.
TEST_F(MainWindowTest, NoKeepsAFileRewrittenWhileTheQuestionWasOpen) {
  WriteIniWithFolder(0);
  PutBon("0001.bon");
  PutBon("0002.bon");
  FDialogs.OnMessage = [this](const QString&) { PutBon("0002.bon", 1, "S,1,______,_,__;Y;2;1\r\n"); };
  FDialogs.PushAnswer(TDlgResult::No);
  MakeWindow().FormActivate();
  EXPECT_FALSE(QFile::exists(FBonDir + "0001.bon"));
  EXPECT_TRUE(QFile::exists(FBonDir + "0002.bon"));
  EXPECT_THAT(
      ExceptionLog().toStdString(),
      HasSubstr(("[FirstStart] Not deleted, changed since the question: " + FBonDir + "0002.bon").toStdString()));
}

TEST_F(MainWindowTest, FirstActivationRemovesFilesOlderThanTwentyDaysButNoClaim) {
  WriteIniWithFolder(0);
  QDir().mkpath(FAppDir + "Log");
  PutFile(FBonDir + "old.rep", "r", FNow.addSecs(-static_cast<qint64>(20.5 * 86400)));
  PutFile(FBonDir + "young.rep", "r", FNow.addDays(-19));
  PutFile(FBonDir + "future.err", "e", FNow.addDays(21));
  PutFile(FBonDir + "stale.$$$", "c", FNow.addDays(-30));
  PutFile(FBonDir + "old.bon", "", FNow.addDays(-30));  // empty, so not asked about
  PutFile(FAppDir + "Log/Log_01.txt", "l", FNow.addDays(-25));
  TfrmMain& f = MakeWindow();
  f.FormActivate();
  // The receipt folder is cleaned up on a thread of its own.
  ASSERT_TRUE(SpinUntil([&] { return !f.Runner().CleanUpRunning(); }));
  EXPECT_FALSE(QFile::exists(FBonDir + "old.rep"));
  EXPECT_TRUE(QFile::exists(FBonDir + "young.rep"));
  // Stamped ahead of the clock (a clock stepped back three weeks): young, kept.
  EXPECT_TRUE(QFile::exists(FBonDir + "future.err"));
  // A left claim is the record of a receipt of unknown outcome: never removed, it is kept
  // as ".unk" with its report at once.
  EXPECT_TRUE(QFile::exists(FBonDir + "stale.unk"));
  EXPECT_TRUE(QFile::exists(FBonDir + "stale.rep"));
  EXPECT_TRUE(QFile::exists(FBonDir + "old.bon"));
  EXPECT_FALSE(QFile::exists(FAppDir + "Log/Log_01.txt"));
}

// A receipt folder that cannot be used at start (a share not mounted yet at log-in) is
// the folder fault of the running program: no dialog, no end, and the file is printed once
// the folder is back.
class StartFolderFault : public MainWindowTest, public ::testing::WithParamInterface<FolderFaultCase> {};

TEST_P(StartFolderFault, ShowsTheFaultAndPrintsOnceTheFolderIsBack) {
  const FolderFaultCase& c = GetParam();
  WriteIniWithFolder(0);
  TFaultyFileOps ops;
  TWindowFileOps scoped(*this, &ops);
  ASSERT_TRUE(BreakFolder(c.problem, FBonDir, ops));
  TfrmMain& f = MakeWindow();
  f.FormActivate();
  EXPECT_TRUE(FDialogs.Texts().isEmpty()) << FDialogs.Texts().join(" | ").toStdString();
  EXPECT_TRUE(FTerminated.empty());
  EXPECT_TRUE(f.FileReadTimer.isActive());
  EXPECT_TRUE(FWorkers.Tasks.empty());
  const QString reason = QString::fromUtf8(c.reason);
  EXPECT_EQ(f.StatusText(2), reason);
  EXPECT_EQ(f.lblComError->text(), reason + ": " + FBonDir);
  EXPECT_FALSE(f.lblComError->isHidden());
  EXPECT_EQ(f.TrayIconIndex, 2);
  EXPECT_EQ(ExceptionLog().count("[FileReadTimerTimer]Folder cannot be used"), 1) << ExceptionLog().toStdString();
  f.FileReadTimerTimer();
  EXPECT_TRUE(FWorkers.Tasks.empty());

  ops.Clear();
  ASSERT_TRUE(QDir().mkpath(FBonDir));
  PutBon("0001.bon");
  f.FileReadTimerTimer();
  ASSERT_EQ(FWorkers.Tasks.size(), 1u);
  EXPECT_EQ(FWorkers.Kinds().front(), tkReadFiles);
  EXPECT_EQ(f.TrayIconIndex, 0);
  EXPECT_TRUE(FDialogs.Texts().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Cases, StartFolderFault, ::testing::ValuesIn(kFolderFaultCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The program folder (settings, logs) is still required: the dialog and standard error
// say which folder and why, and the program ends.
TEST_F(MainWindowTest, UnwritableProgramFolderEndsTheStartNamingFolderAndReason) {
  WriteIniWithFolder(0);
  TFaultyFileOps ops;
  ops.FailAt(TFileOp::Open, 0, EACCES, (FAppDir + "./").toStdString());
  TWindowFileOps scoped(*this, &ops);
  TfrmMain& f = MakeWindow();
  ::testing::internal::CaptureStderr();
  f.FormActivate();
  const std::string err = ::testing::internal::GetCapturedStderr();
  const QString why = QString::fromLocal8Bit(std::strerror(EACCES));
  EXPECT_THAT(FDialogs.Texts(), ElementsAre(Message(M::CantWrite) + CR + FAppDir + CR + why));
  EXPECT_THAT(err, HasSubstr(FAppDir.toStdString()));
  EXPECT_THAT(err, HasSubstr(why.toStdString()));
  EXPECT_THAT(FTerminated, ElementsAre(1));
  EXPECT_EQ(FProbes, 0);
  EXPECT_FALSE(f.FileReadTimer.isActive());
}

// A settings file without the keys written at start, on a program folder that cannot take
// a write: the defaults are used, the failure is logged and shown once, and the file timer
// runs.
TEST_F(MainWindowTest, DefaultsThatCannotBeWrittenAtStartAreUsedAndShownOnce) {
  WriteIniWithFolder(0);
  TFaultyFileOps ops;
  ops.FailAt(TFileOp::Open, 0, ENOSPC, "DriverFiscalPrinterX4.ini.");  // the new file beside it
  TWindowFileOps scoped(*this, &ops);
  TfrmMain& f = MakeWindow();
  EXPECT_EQ(f.Settings().SearchPath, FBonDir);
  EXPECT_FALSE(f.Settings().WatGrpBeginFromOne);
  f.FormActivate();
  const QString failure = "Unable to write to " + FAppDir + "DriverFiscalPrinterX4.ini";
  EXPECT_TRUE(FTerminated.empty());
  EXPECT_TRUE(f.FileReadTimer.isActive());
  EXPECT_THAT(FDialogs.Texts(), ElementsAre(Message(M::ErrorOccurred) + CR + failure));
  EXPECT_EQ(ExceptionLog().count("[LoadSettings] " + failure), 1) << ExceptionLog().toStdString();
  EXPECT_EQ(ExceptionLog().count("[FormCreate]"), 0);
}

// ---------------------------------------------------------------------------------------
// The automation library

TEST_F(MainWindowTest, ProbeFailsThenSelfRegistrationSucceeds) {
  WriteIniWithFolder(0);
  PutFile(FAppDir + TfrmMain::LibraryFileName, "ELF", FNow);
  gRegisterCalls = 0;
  gRegisterResult = S_OK;
  FEntryPoint = reinterpret_cast<void*>(&FakeDllRegisterServer);
  FProbeOk = false;
  // The object answers once the library has registered itself.
  TMainServices s = Services();
  auto probe = s.ComServer.ProbeDriverVersion;
  s.ComServer.ProbeDriverVersion = [this, probe] {
    if (gRegisterCalls > 0) FProbeOk = true;
    return probe();
  };
  FFrm = std::make_unique<TfrmMain>(s);
  FFrm->FormActivate();

  EXPECT_EQ(gRegisterCalls, 1);
  EXPECT_EQ(FLoadedPath, FAppDir + "MiravokFPAxX4_BG.so");
  EXPECT_EQ(FLookedUp, "DllRegisterServer");
  EXPECT_EQ(FFreed, 1);
  EXPECT_EQ(FProbes, 2);
  EXPECT_EQ(FFrm->ComServerVersion(), "2.0.0.1");
  EXPECT_TRUE(FTerminated.empty());
  EXPECT_TRUE(FDialogs.Texts().isEmpty());
  EXPECT_TRUE(FFrm->FileReadTimer.isActive());
  const std::string log = NormalLog().toStdString();
  EXPECT_THAT(log, HasSubstr("[CheckOLEServer]Class not registered"));
  EXPECT_THAT(log, HasSubstr("[CreateOLEServer]Ax not registred. Trying to register now."));
  EXPECT_THAT(log, HasSubstr(("[CreateOLEServer]Ax added: " + FAppDir + "MiravokFPAxX4_BG.so").toStdString()));
}

struct RegistrationFailure {
  const char* name;
  bool fileThere;
  bool loads;
  bool hasEntry;
  HRESULT result;
  const char* logged;  // in the exception log, followed by the path
  int freed;
};

void PrintTo(const RegistrationFailure& c, std::ostream* os) { *os << c.name; }

class ProbeFailsForGood : public MainWindowTest, public ::testing::WithParamInterface<RegistrationFailure> {};

TEST_P(ProbeFailsForGood, ShowsComServerNotExistAndEnds) {
  const RegistrationFailure& c = GetParam();
  WriteIniWithFolder(0);
  if (c.fileThere) PutFile(FAppDir + TfrmMain::LibraryFileName, "ELF", FNow);
  gRegisterCalls = 0;
  gRegisterResult = c.result;
  FLoadOk = c.loads;
  FEntryPoint = c.hasEntry ? reinterpret_cast<void*>(&FakeDllRegisterServer) : nullptr;
  FProbeOk = false;
  TfrmMain& f = MakeWindow();
  f.FormActivate();

  EXPECT_THAT(FDialogs.Texts(), ElementsAre(Message(M::COMServerNotExist)));
  EXPECT_THAT(FTerminated, ElementsAre(1));
  EXPECT_TRUE(f.CloseAllowed);
  EXPECT_FALSE(f.FileReadTimer.isActive());
  EXPECT_TRUE(FWorkers.Tasks.empty());
  EXPECT_TRUE(f.ComServerVersion().isEmpty());
  EXPECT_EQ(FFreed, c.freed);
  const QString path = FAppDir + "MiravokFPAxX4_BG.so";
  if (*c.logged) {
    EXPECT_THAT(ExceptionLog().toStdString(),
                HasSubstr((QString("[CreateOLEServer]") + c.logged + path).toStdString()));
  } else {
    EXPECT_EQ(FProbes, 2);  // registered, and the object is still missing
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ProbeFailsForGood,
                         ::testing::Values(RegistrationFailure{.name = "NoFile",
                                                               .fileThere = false,
                                                               .loads = true,
                                                               .hasEntry = true,
                                                               .result = S_OK,
                                                               .logged = "AX file not found:",
                                                               .freed = 0},
                                           RegistrationFailure{.name = "NoLoad",
                                                               .fileThere = true,
                                                               .loads = false,
                                                               .hasEntry = true,
                                                               .result = S_OK,
                                                               .logged = "Cant't load library: ",
                                                               .freed = 0},
                                           RegistrationFailure{.name = "NoEntry",
                                                               .fileThere = true,
                                                               .loads = true,
                                                               .hasEntry = false,
                                                               .result = S_OK,
                                                               .logged = "Cant't find DllRegisterServer : ",
                                                               .freed = 1},
                                           RegistrationFailure{.name = "Refused",
                                                               .fileThere = true,
                                                               .loads = true,
                                                               .hasEntry = true,
                                                               .result = E_FAIL,
                                                               .logged = "Cant't  run DllRegisterServer : ",
                                                               .freed = 1},
                                           RegistrationFailure{.name = "StillMissing",
                                                               .fileThere = true,
                                                               .loads = true,
                                                               .hasEntry = true,
                                                               .result = S_OK,
                                                               .logged = "",
                                                               .freed = 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// The file timer

class TimerFolderFault : public MainWindowTest, public ::testing::WithParamInterface<FolderFaultCase> {
 protected:
  void Break(TFaultyFileOps& ops) { ASSERT_TRUE(BreakFolder(GetParam().problem, FBonDir, ops)); }
  void Mend(TFaultyFileOps& ops) {
    ops.Clear();
    ASSERT_TRUE(QDir().mkpath(FBonDir));
  }
};

TEST_P(TimerFolderFault, ShowsWhileItLastsAndGoesWhenMended) {
  const FolderFaultCase& c = GetParam();
  TfrmMain& f = MakeRunningWindow(0);
  // Running, but the test makes every tick itself.
  f.FileReadTimer.setInterval(3600 * 1000);
  f.FileReadTimer.start();
  TFaultyFileOps ops;
  TWindowFileOps scoped(*this, &ops);
  Break(ops);
  if (c.fileWaits) PutBon("0001.bon");

  for (int i = 0; i < 3; ++i) f.FileReadTimerTimer();
  const QString text = QString::fromUtf8(c.reason) + ": " + FBonDir;
  EXPECT_TRUE(FDialogs.Texts().isEmpty());
  EXPECT_EQ(f.StatusText(2), QString::fromUtf8(c.reason));
  EXPECT_FALSE(f.lblComError->isHidden());
  EXPECT_EQ(f.lblComError->text(), text);
  EXPECT_FALSE(f.imgError->isHidden());
  EXPECT_EQ(f.TrayIconIndex, 2);
  EXPECT_EQ(f.TrayIcon->toolTip(), QStringLiteral("Драйвер за фискален принтер\n") + text);
  // The runner's one line about it is in the exception log.
  EXPECT_EQ(ExceptionLog().count("[FileReadTimerTimer]"), 1) << ExceptionLog().toStdString();

  Mend(ops);
  PutBon("0001.bon");
  f.FileReadTimerTimer();
  ASSERT_EQ(FWorkers.Tasks.size(), 1u);
  ASSERT_TRUE(SpinUntil([&] { return !f.TaskActive(); }));
  EXPECT_EQ(f.StatusText(2), Message(M::Started));
  EXPECT_TRUE(f.lblComError->isHidden());
  EXPECT_TRUE(f.imgError->isHidden());
  EXPECT_EQ(f.TrayIconIndex, 0);
  EXPECT_EQ(f.TrayIcon->toolTip(), QStringLiteral("Драйвер за фискален принтер"));
}

INSTANTIATE_TEST_SUITE_P(Cases, TimerFolderFault, ::testing::ValuesIn(kFolderFaultCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A file that has just come is taken at the extra tick the runner asks for once it will
// have settled, not a whole timer period later; a paused file timer takes no extra tick.
class SettleTick : public MainWindowTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SettleTick, TakesTheFileOnlyWhileTheTimerRuns) {
  const bool paused = GetParam();
  FReadyAgeMs = 30;
  TfrmMain& f = MakeRunningWindow(0);
  f.FileReadTimer.setInterval(3600 * 1000);  // the timer's own ticks never come
  f.FileReadTimer.start();
  PutBon("0001.bon");
  f.FileReadTimerTimer();
  EXPECT_TRUE(FWorkers.Tasks.empty());
  ASSERT_TRUE(f.SettleTimer.isActive());
  EXPECT_EQ(f.SettleTimer.interval(), 30);
  if (paused) {
    f.chkProcessPause->setChecked(true);
    f.chkProcessPauseClick();
  }
  FNow = FNow.addMSecs(30);
  SpinUntil([&] { return !FWorkers.Tasks.empty(); }, paused ? 200 : 3000);
  if (paused)
    EXPECT_TRUE(FWorkers.Tasks.empty());
  else
    EXPECT_THAT(FWorkers.Kinds(), ElementsAre(tkReadFiles));
  // A tick of a stopped timer asks for no extra one.
  ASSERT_TRUE(SpinUntil([&] { return !f.TaskActive(); }));
  f.FileReadTimer.stop();
  ASSERT_TRUE(QFile::remove(FBonDir + "0001.bon"));
  PutBon("0002.bon");
  f.FileReadTimerTimer();
  EXPECT_FALSE(f.SettleTimer.isActive());
  EXPECT_EQ(FWorkers.Tasks.size(), paused ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Timer, SettleTick, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Paused" : "Running"); });

TEST_F(MainWindowTest, FolderFaultOutranksPrinterOfflineAndHandsItBack) {
  TfrmMain& f = MakeRunningWindow(0);
  f.Runner().PrinterOffline();
  ASSERT_TRUE(QDir(FBonDir).removeRecursively());
  f.FileReadTimerTimer();
  EXPECT_EQ(f.TrayIconIndex, 2);
  EXPECT_EQ(f.lblComError->text(), QStringLiteral("Папката не е открита: ") + FBonDir);
  // A task's late printer event does not hide the folder fault.
  f.Runner().PrinterOnline();
  f.Runner().PrinterOffline();
  EXPECT_EQ(f.TrayIconIndex, 2);
  EXPECT_EQ(f.lblComError->text(), QStringLiteral("Папката не е открита: ") + FBonDir);
  ASSERT_TRUE(QDir().mkpath(FBonDir));
  f.FileReadTimerTimer();
  EXPECT_EQ(f.TrayIconIndex, 1);
  EXPECT_EQ(f.lblComError->text(), Message(M::ErrorInPRN) + "\n" + kCheckPrinter);
  EXPECT_FALSE(f.imgError->isHidden());
  // The timer is off: the status panel says so, not Started.
  EXPECT_EQ(f.StatusText(2), Message(M::StoppedByUser));
}

TEST_F(MainWindowTest, NegativeComPortInTheSettingsFileIsTheDefaultLoggedOnce) {
  FWorkers.AutoFinish = true;
  WriteIni(QStringLiteral("SearchPath=%1\r\nCheckPrnIntevalSec=0\r\nComPort=-3\r\n").arg(FBonDir));
  TfrmMain& f = MakeWindow();
  f.FirstActivation = false;
  EXPECT_EQ(f.Settings().ComPort, 1);
  EXPECT_EQ(f.StatusText(0), "COM1");
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(f.Runner().StartTask(tkPrintTest));
    ASSERT_TRUE(SpinUntil([&] { return !f.TaskActive(); }));
    EXPECT_EQ(FWorkers.Last()->Settings.ComPort, 1);
  }
  EXPECT_TRUE(FDialogs.Texts().isEmpty());
  const QString log = ExceptionLog();
  EXPECT_EQ(log.count("[LoadSettings] "), 1) << log.toStdString();
  EXPECT_TRUE(log.contains("ComPort=-3")) << log.toStdString();
}

// ---------------------------------------------------------------------------------------
// Tasks, the success message and the waits

TEST_F(MainWindowTest, ShowSuccessOnlyForTasksThatReallyStarted) {
  FWorkers.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();

  // Refused: a Z report asked for while the printer test runs.
  f.spbTestPrnClick();
  ASSERT_TRUE(f.TaskActive());
  f.mnDayReportResetClick();
  EXPECT_EQ(CountShown(Message(M::ActiveTask)), 1);
  EXPECT_FALSE(f.Runner().ShowSuccess());
  EXPECT_EQ(FWorkers.Tasks.size(), 1u);
  FWorkers.Last()->Finish();
  EXPECT_EQ(CountShown(Message(M::FinishedOK)), 0);
  EXPECT_FALSE(f.TaskActive());

  // Cancelled: the report-period window closed without OK, then a test print.
  FWindows->Periods.push_back(std::nullopt);
  f.mnFiskMemoryClick();
  EXPECT_FALSE(f.TaskActive());
  EXPECT_FALSE(f.Runner().ShowSuccess());
  f.spbTestPrnClick();
  FWorkers.Last()->Finish();
  EXPECT_EQ(CountShown(Message(M::FinishedOK)), 0);

  // Cancelled copy of the last receipt.
  FDialogs.PushAnswer(TDlgResult::No);
  f.CopyLastBonClick();
  EXPECT_FALSE(f.Runner().ShowSuccess());
  EXPECT_EQ(FWorkers.Tasks.size(), 2u);

  // Started: a Z report without errors ends with the message, one with an error without.
  f.mnDayReportResetClick();
  EXPECT_TRUE(f.Runner().ShowSuccess());
  EXPECT_EQ(FWorkers.Last()->Request.Kind, tkXZReport);
  EXPECT_EQ(FWorkers.Last()->Request.Reset, 1);
  FWorkers.Last()->Finish();
  EXPECT_EQ(CountShown(Message(M::FinishedOK)), 1);
  f.mnDayReportNoResetClick();
  EXPECT_EQ(FWorkers.Last()->Request.Reset, 0);
  FWorkers.Last()->Error(ekOperationError);
  FWorkers.Last()->Finish();
  EXPECT_EQ(CountShown(Message(M::FinishedOK)), 1);
  EXPECT_FALSE(f.Runner().ShowSuccess());
}

TEST_F(MainWindowTest, CashCommandsAskTheAmountInAnInputBox) {
  FWorkers.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();
  FDialogs.PushInput("12.50");
  f.NSumOutClick();
  ASSERT_EQ(FWorkers.Tasks.size(), 1u);
  EXPECT_DOUBLE_EQ(FWorkers.Last()->Request.Amount, -12.5);
  EXPECT_EQ(f.lblCurrentTaskName->text(), Message(M::S_SumOut));
  FWorkers.Last()->Finish();
  EXPECT_EQ(CountShown(Message(M::FinishedOK)), 1);
  FDialogs.PushInputCancel();
  f.NSumInClick();
  EXPECT_EQ(FWorkers.Tasks.size(), 1u);
  EXPECT_FALSE(f.TaskActive());
  const std::vector<TShownDialog> shown = FDialogs.Shown();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_TRUE(shown[0].Input);
  EXPECT_EQ(shown[0].Text, "\n" + Message(M::S_SumOut) + ":");
  EXPECT_TRUE(shown[2].Input);
  EXPECT_EQ(shown[2].Text, "\n" + Message(M::S_SumIn) + ":");
}

// The operator's texts, in code page 1251 as the message table holds them.
QString Cp(const char* text) { return uConst::FromCp1251(text); }

// A label's text is in the alert colour: red, readable on its background.
bool InAlertColor(const QLabel* l) {
  const QColor c = l->palette().color(l->foregroundRole());
  return c == uFormHelpers::AlertColor(l) && c.hslHue() == 0 && c.red() > c.green();
}
const QString kTrayHint =
    Cp("\xC4\xF0\xE0\xE9\xE2\xE5\xF0 \xE7\xE0 \xF4\xE8\xF1\xEA\xE0\xEB\xE5\xED \xEF\xF0\xE8\xED\xF2\xE5\xF0");
const QString kUnknownFiles =
    Cp("\xD4\xE0\xE9\xEB\xEE\xE2\xE5 \xF1 \xED\xE5\xE8\xE7\xE2\xE5\xF1\xF2\xE5\xED \xF0\xE5\xE7\xF3\xEB\xF2\xE0\xF2 "
       "(.unk) "
       "\xE2 \xEF\xE0\xEF\xEA\xE0\xF2\xE0");
const QString kUnknownFile =
    Cp("\xD4\xE0\xE9\xEB \xF1 \xED\xE5\xE8\xE7\xE2\xE5\xF1\xF2\xE5\xED \xF0\xE5\xE7\xF3\xEB\xF2\xE0\xF2");
const QString kCheckJournal = Cp(
    "\xC1\xE5\xEB\xE5\xE6\xEA\xE0\xF2\xE0 \xEC\xEE\xE6\xE5 \xE2\xE5\xF7\xE5 \xE4\xE0 \xE5 "
    "\xEE\xF2\xEF\xE5\xF7\xE0\xF2\xE0\xED\xE0: "
    "\xEF\xF0\xEE\xE2\xE5\xF0\xE5\xF2\xE5 \xEA\xEE\xED\xF2\xF0\xEE\xEB\xED\xE0\xF2\xE0 \xEB\xE5\xED\xF2\xE0 \xED\xE0 "
    "\xEF\xF0\xE8\xED\xF2\xE5\xF0\xE0, \xEF\xF0\xE5\xE4\xE8 \xE4\xE0 \xE8\xE7\xEF\xF0\xE0\xF2\xE8\xF2\xE5 "
    "\xF4\xE0\xE9\xEB\xE0 "
    "\xEE\xF2\xED\xEE\xE2\xEE.");
const QString kPrinterSays = Cp("\xCF\xF0\xE8\xED\xF2\xE5\xF0\xFA\xF2 \xF1\xFA\xEE\xE1\xF9\xE0\xE2\xE0");
const QString kNoPaper = Cp("\xCD\xFF\xEC\xE0 \xF5\xE0\xF0\xF2\xE8\xFF.");
const QString kCommError =
    Cp("\xC2\xFA\xE7\xED\xE8\xEA\xED\xE0 \xE3\xF0\xE5\xF8\xEA\xE0 \xEF\xF0\xE8 "
       "\xEA\xEE\xEC\xF3\xED\xE8\xEA\xE0\xF6\xE8\xFF \xF1 "
       "\xEF\xF0\xE8\xED\xF2\xE5\xF0\xE0.");
const QString kSeeLog =
    Cp("\xCC\xEE\xEB\xFF, \xEF\xEE\xE3\xEB\xE5\xE4\xED\xE5\xF2\xE5 log \xF4\xE0\xE9\xEB\xE0 \xE7\xE0 "
       "\xEF\xEE\xE2\xE5\xF7\xE5 "
       "\xE8\xED\xF4\xEE\xF0\xEC\xE0\xF6\xE8\xFF.");
const QString kNoConnection =
    Cp("\xCD\xFF\xEC\xE0 \xE2\xF0\xFA\xE7\xEA\xE0 \xE8\xEB\xE8 \xEF\xEE\xE2\xF0\xE5\xE4\xE0 \xE2\xFA\xE2 "
       "\xD4\xE8\xF1\xEA\xE0\xEB\xED\xE8\xFF \xEF\xF0\xE8\xED\xF2\xE5\xF0!");
const QString kFilesCount =
    Cp("\xC1\xF0\xEE\xE9 \xEE\xE1\xF0\xE0\xE1\xEE\xF2\xE5\xED\xE8 \xF4\xE0\xE9\xEB\xEE\xE2\xE5");
const QString kErrorCount = Cp("\xC1\xF0\xEE\xE9 \xE3\xF0\xE5\xF8\xEA\xE8");

// A file kept as unknown outcome: a note pops up at once and stays through the file's error
// event; the error line says it whole (wrapped), the tray icon and its tool tip change,
// the last task's panel names the file (a printer check without errors does not replace
// it), and the warning lasts, with the number of ".unk" files of the receipt folder, while
// any is there, however many receipts print meanwhile.
TEST_F(MainWindowTest, UnknownOutcomeIsShownWhereTheOperatorLooksWhileItsFileIsThere) {
  FWorkers.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow(0);
  f.FileReadTimer.setInterval(3600 * 1000);  // the test makes every tick itself
  f.FileReadTimer.start();
  const QString why = "a payment had been sent to the printer in the receipt";
  const QString note = uPRNFileThread::UnknownOutcomeText(FBonDir + "0001.unk", why);
  EXPECT_EQ(note, "Outcome unknown: the receipt of \"" + FBonDir + "0001.unk\" may have printed (" + why +
                      "). Check the printer's journal before sending it again.");
  f.mnDoFilesClick();
  auto t = FWorkers.Last();
  ASSERT_TRUE(t);
  t->Events.FileStarted(FBonDir + "0001.bon");
  PutBon("0001.unk");
  ASSERT_TRUE(t->Events.FileUnknown);
  t->Events.FileUnknown(FBonDir + "0001.unk", why);
  const QString hint = kUnknownFile + ": 0001.unk\r" + kCheckJournal;
  TCustomHint& shown = uCustomHint::CustomHintWnd();
  EXPECT_TRUE(shown.isVisible());
  EXPECT_EQ(shown.Caption(), hint);
  EXPECT_EQ(shown.Picture().toImage(), f.HintImages[5].toImage());
  EXPECT_EQ(f.StatusText(2), "0001.unk");
  const QString fileLine = kUnknownFile + ": 0001.unk. " + kCheckJournal;
  EXPECT_FALSE(f.lblComError->isHidden());
  EXPECT_TRUE(f.lblComError->wordWrap());
  EXPECT_EQ(f.lblComError->text(), fileLine);
  EXPECT_EQ(f.lblComError->toolTip(), fileLine + "\n\n" + note);
  EXPECT_EQ(f.TrayIconIndex, 3);
  EXPECT_EQ(f.TrayIcon->toolTip(), kTrayHint + "\n" + fileLine);
  // The file's error keeps its note.
  t->Error(ekOperationError);
  EXPECT_EQ(shown.Caption(), hint);
  t->Events.FileProcessed();
  t->Finish();
  const QString lastTask =
      kFilesCount + ": 1. " + kErrorCount + ": 1\n" + kUnknownFile + ": 0001.unk. " + kCheckJournal;
  EXPECT_EQ(f.lblLastTaskResult->text(), lastTask);
  EXPECT_EQ(f.lblLastTaskResult->toolTip(), note);

  // The timer counts the ".unk" files of the folder.
  PutBon("0000_1.unk");
  f.FileReadTimerTimer();
  const QString countLine = kUnknownFiles + ": 2. " + kCheckJournal;
  EXPECT_EQ(f.lblComError->text(), countLine);
  EXPECT_EQ(f.TrayIcon->toolTip(), kTrayHint + "\n" + countLine);
  // A printer check leaves the last task's panel as it is, whether it finds the printer or
  // not, and so does a file task that failed before it took a file.
  ASSERT_TRUE(f.Runner().StartTask(tkPrinterInfo));
  FWorkers.Last()->Finish();
  EXPECT_EQ(f.lblLastTaskResult->text(), lastTask);
  for (const TTaskKind kind : {tkPrinterInfo, tkReadFiles}) {
    ASSERT_TRUE(f.Runner().StartTask(kind));
    FWorkers.Last()->Events.PrinterOffline();
    FWorkers.Last()->Error(ekPrinterFatal);
    FWorkers.Last()->Finish();
    EXPECT_EQ(f.lblLastTaskResult->text(), lastTask) << kind;
  }
  ASSERT_TRUE(f.Runner().StartTask(tkPrinterInfo));
  FWorkers.Last()->Events.PrinterOnline();
  FWorkers.Last()->Finish();
  // A receipt that prints does not end the warning while the files are there.
  f.mnDoFilesClick();
  t = FWorkers.Last();
  t->Events.FileStarted(FBonDir + "0002.bon");
  t->Events.FileProcessed();
  t->Finish();
  EXPECT_EQ(f.lblLastTaskResult->text(), kFilesCount + ": 1. " + kErrorCount + ": 0");
  EXPECT_EQ(f.lblComError->text(), countLine);
  EXPECT_EQ(f.TrayIconIndex, 3);
  ASSERT_TRUE(QFile::remove(FBonDir + "0000_1.unk"));
  f.FileReadTimerTimer();
  EXPECT_EQ(f.lblComError->text(), kUnknownFiles + ": 1. " + kCheckJournal);
  // The last one checked and moved away: the warning goes.
  ASSERT_TRUE(QFile::rename(FBonDir + "0001.unk", FBonDir + "0001.checked"));
  f.FileReadTimerTimer();
  EXPECT_TRUE(f.lblComError->isHidden());
  EXPECT_TRUE(f.imgError->isHidden());
  EXPECT_EQ(f.TrayIconIndex, 0);
  EXPECT_EQ(f.TrayIcon->toolTip(), kTrayHint);
}

// A later opening settled the receipt of a file of unknown outcome: what became of it pops
// up at once, stays under the warning of the error line while the file is there, and is in
// the last task's panel.
TEST_F(MainWindowTest, WhatBecameOfAnUnknownReceiptIsShownWithItsWarning) {
  FWorkers.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow(0);
  f.FileReadTimer.setInterval(3600 * 1000);  // the test makes every tick itself
  f.FileReadTimer.start();
  PutBon("0001.unk");
  f.FileReadTimerTimer();
  const QString countLine = kUnknownFiles + ": 1. " + kCheckJournal;
  ASSERT_EQ(f.lblComError->text(), countLine);
  const QString settled = QString::fromUtf8(
      "0001.unk: бележката е отпечатана и приключена, като 20.00 от нея са платени в брой. Не изпращайте файла "
      "отново; изведете служебно 20.00 от касата и отразете другото плащане ръчно.");
  f.mnDoFilesClick();
  auto t = FWorkers.Last();
  ASSERT_TRUE(t);
  t->Events.FileStarted(FBonDir + "0002.bon");
  ASSERT_TRUE(t->Events.UnknownSettled);
  t->Events.UnknownSettled(FBonDir + "0001.unk", settled);
  TCustomHint& shown = uCustomHint::CustomHintWnd();
  EXPECT_TRUE(shown.isVisible());
  EXPECT_EQ(shown.Caption(), settled);
  EXPECT_EQ(f.lblComError->text(), countLine + "\n" + settled);
  t->Events.FileProcessed();
  t->Finish();
  EXPECT_EQ(f.lblLastTaskResult->text(), kFilesCount + ": 1. " + kErrorCount + ": 0\n" + settled);
  // The file renamed once it was dealt with: the warning and the line go.
  ASSERT_TRUE(QFile::rename(FBonDir + "0001.unk", FBonDir + "0001.done"));
  f.FileReadTimerTimer();
  EXPECT_TRUE(f.lblComError->isHidden());
  PutBon("0003.unk");
  f.FileReadTimerTimer();
  EXPECT_EQ(f.lblComError->text(), countLine);
}

// What the printer itself reports (no paper) is shown as itself in the note, the error
// line and the tray's tool tip; a lost connection keeps the general words.
TEST_F(MainWindowTest, PrinterStateIsShownAsItself) {
  const struct {
    const char* Name;
    TTaskKind Task;
    TTaskErrorKind Kind;
    QString State;
    QString Note;
    QString Line;  // the error line while the printer is offline; empty: not offline
  } cases[] = {
      {"NoPaper", tkReadFiles, ekPrinterFatal, kNoPaper, kPrinterSays + ": " + kNoPaper + "\r" + kSeeLog,
       kPrinterSays + ": " + kNoPaper},
      {"NoConnection", tkReadFiles, ekPrinterFatal, QString(), kNoConnection + "\r" + kCheckPrinter + "\r" + kSeeLog,
       kCommError + "\n" + kCheckPrinter},
      {"PrinterRefusal", tkPrintTest, ekPrinterError, "Low paper.", kPrinterSays + ": Low paper.\r" + kSeeLog, ""},
      {"OperationRefusal", tkXZReport, ekOperationError, "Not opened fisc. receipt.",
       kPrinterSays + ": Not opened fisc. receipt.\r" + kSeeLog, ""},
  };
  FWorkers.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow(0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    uCustomHint::CustomHintWnd().HideTimerTick();
    ASSERT_TRUE(f.Runner().StartTask(c.Task));
    auto t = FWorkers.Last();
    t->Events.PrinterOnline();
    if (!c.Line.isEmpty()) t->Events.PrinterOffline();
    t->Error(c.Kind, c.State);
    EXPECT_EQ(uCustomHint::CustomHintWnd().Caption(), c.Note);
    if (c.Line.isEmpty()) {
      EXPECT_TRUE(f.lblComError->isHidden());
    } else {
      EXPECT_EQ(f.lblComError->text(), c.Line);
      EXPECT_EQ(f.TrayIconIndex, 1);
      EXPECT_EQ(f.TrayIcon->toolTip(), kTrayHint + "\n" + c.Line);
    }
    t->Finish();
  }
  // Online again: the state goes with the offline line.
  ASSERT_TRUE(f.Runner().StartTask(tkPrinterInfo));
  FWorkers.Last()->Events.PrinterOffline();
  FWorkers.Last()->Error(ekPrinterFatal, kNoPaper);
  FWorkers.Last()->Finish();
  ASSERT_TRUE(f.Runner().StartTask(tkPrinterInfo));
  FWorkers.Last()->Events.PrinterOnline();
  FWorkers.Last()->Finish();
  EXPECT_TRUE(f.lblComError->isHidden());
  EXPECT_EQ(f.TrayIconIndex, 0);
}

// The printer off, a receipt waiting: every try of the file task fails the same way, and
// the note comes once, not at every try; the next change of state (the printer back and
// gone again, the paper out) brings one note each. The error line says what to check in
// the operator's words, never the log's texts of the failure. A click closes the note;
// the program's menus are never covered by it: it hides when one opens, and a note that
// comes meanwhile waits until the menu has closed.
TEST_F(MainWindowTest, NotesComeOncePerChangeOfStateAndGiveWayToTheMenus) {
  FWorkers.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow(0);
  TCustomHint& shown = uCustomHint::CustomHintWnd();
  int notes = 0;
  auto failingTry = [&](const QString& state) {
    shown.HideTimerTick();
    ASSERT_TRUE(f.Runner().StartTask(tkReadFiles));
    FWorkers.Last()->ErrorMessage = QStringLiteral("Fatal error ocurred. Exiting.");
    FWorkers.Last()->Events.PrinterOnline();
    FWorkers.Last()->Events.PrinterOffline();
    FWorkers.Last()->Error(ekPrinterFatal, state);
    notes += shown.isVisible();
    FWorkers.Last()->Finish();
  };
  const QString offNote = kNoConnection + "\r" + kCheckPrinter + "\r" + kSeeLog;
  for (int i = 0; i < 5; ++i) failingTry(QString());
  EXPECT_EQ(notes, 1);
  EXPECT_EQ(shown.Caption(), offNote);
  EXPECT_EQ(f.lblComError->text(), kCommError + "\n" + kCheckPrinter);
  // The printer answers again, then goes: one note more.
  ASSERT_TRUE(f.Runner().StartTask(tkPrinterInfo));
  FWorkers.Last()->Events.PrinterOnline();
  FWorkers.Last()->Finish();
  for (int i = 0; i < 3; ++i) failingTry(QString());
  EXPECT_EQ(notes, 2);
  // No paper: another state, another note, once.
  for (int i = 0; i < 3; ++i) failingTry(kNoPaper);
  EXPECT_EQ(notes, 3);
  EXPECT_EQ(shown.Caption(), kPrinterSays + ": " + kNoPaper + "\r" + kSeeLog);

  // A click closes it.
  uCustomHint::ShowHintMessage(QPixmap(), QStringLiteral("one"), 0);
  ASSERT_TRUE(shown.isVisible());
  QMouseEvent click(QEvent::MouseButtonPress, QPointF(5, 5), shown.mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&shown, &click);
  EXPECT_FALSE(shown.isVisible());
  // The tray's menu (and its submenu) opens: the note hides; one that comes meanwhile waits.
  uCustomHint::ShowHintMessage(QPixmap(), QStringLiteral("two"), 0);
  ASSERT_TRUE(shown.isVisible());
  QMenu* help = f.PopupMenu1->findChild<QMenu*>(QStringLiteral("PMenuHelp"));
  ASSERT_TRUE(help);
  emit f.PopupMenu1->aboutToShow();
  EXPECT_FALSE(shown.isVisible());
  emit help->aboutToShow();
  failingTry(QString());
  EXPECT_FALSE(shown.isVisible());
  EXPECT_EQ(uCustomHint::HeldBackText(), offNote);
  emit help->aboutToHide();
  EXPECT_FALSE(shown.isVisible());
  emit f.PopupMenu1->aboutToHide();
  EXPECT_TRUE(shown.isVisible());
  EXPECT_EQ(shown.Caption(), offNote);
  EXPECT_EQ(uCustomHint::HeldBackText(), QString());
  shown.HideTimerTick();
}

TEST_F(MainWindowTest, FileTaskShowsCountsErrorsAndNotes) {
  FWorkers.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();
  f.FileReadTimer.start();
  f.mnDoFilesClick();
  auto t = FWorkers.Last();
  ASSERT_TRUE(t);
  EXPECT_TRUE(f.MarqueeBar->Active());
  EXPECT_EQ(t->Settings.LogDir, FAppDir + "Log/");
  EXPECT_EQ(f.StatusText(2), Message(M::ReadFiles));
  for (int i = 0; i < 3; ++i) {
    t->Events.FileStarted(FBonDir + QStringLiteral("000%1.bon").arg(i));
    EXPECT_EQ(f.StatusText(2), QStringLiteral("000%1.bon").arg(i));
    if (i == 1) t->Error(ekFileError);
    t->Events.FileProcessed();
  }
  EXPECT_EQ(uCustomHint::CustomHintWnd().Caption(), Message(M::ErrorInFile));
  EXPECT_EQ(f.lbCurrentStatus->text(), Message(M::FilesCount) + ": 3. " + Message(M::ErrorCount) + ": 1");
  t->Finish();
  EXPECT_EQ(f.lblLastTaskName->text(), Message(M::ReadFiles));
  EXPECT_EQ(f.lblLastTaskResult->text(), Message(M::FilesCount) + ": 3. " + Message(M::ErrorCount) + ": 1");
  EXPECT_TRUE(InAlertColor(f.lblLastTaskResult));
  EXPECT_EQ(f.lblCurrentTaskName->text(), Message(M::NoActiveTask));
  EXPECT_EQ(CountShown(Message(M::FinishedOK)), 0);
  EXPECT_FALSE(f.MarqueeBar->Active());
  EXPECT_EQ(f.StatusText(2), Message(M::Started));
  // A fatal error during file printing shows the red-circle note.
  f.mnDoFilesClick();
  FWorkers.Last()->Events.PrinterOffline();
  FWorkers.Last()->Error(ekPrinterFatal);
  EXPECT_EQ(uCustomHint::CustomHintWnd().Caption(),
            Message(M::PRNFatalError) + CR + Message(M::S_CheckPrinter) + CR + Message(M::SeeErrorFileForDetails));
  EXPECT_EQ(f.TrayIconIndex, 1);
  FWorkers.Last()->Events.PrinterOnline();
  EXPECT_EQ(f.TrayIconIndex, 0);
  // An offline printer whose worker says why: the alert names the reason.
  FWorkers.Last()->OperatorReason = QStringLiteral("printer CD000002 not found; found AB123456 on COM7");
  FWorkers.Last()->Events.PrinterOffline();
  EXPECT_EQ(f.lblComError->text(),
            Message(M::ErrorInPRN) + QStringLiteral("\nprinter CD000002 not found; found AB123456 on COM7"));
  EXPECT_FALSE(f.lblComError->isHidden());
  FWorkers.Last()->Events.PrinterOnline();
  EXPECT_TRUE(f.lblComError->isHidden());
  FWorkers.Last()->Finish();
}

TEST_F(MainWindowTest, PauseAsksTheWorkerToStop) {
  FWorkers.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();
  f.chkProcessPause->setChecked(false);
  f.chkProcessPauseClick();
  EXPECT_TRUE(f.FileReadTimer.isActive());
  f.mnDoFilesClick();
  f.chkProcessPause->setChecked(true);
  f.chkProcessPauseClick();
  EXPECT_TRUE(FWorkers.Last()->Terminated);
  EXPECT_FALSE(f.FileReadTimer.isActive());
  EXPECT_EQ(f.StatusText(2), Message(M::StoppedByUser));
  EXPECT_EQ(uCustomHint::CustomHintWnd().Caption(), Message(M::StoppedByUser));
  FWorkers.Last()->Finish();
  EXPECT_EQ(f.StatusText(2), Message(M::StoppedByUser));
}

// What each error kind shows: the note's picture (index in HintImages, -1 none) and text.
struct NoteCase {
  const char* name;
  TTaskKind task;
  TTaskErrorKind error;
  int picture;
  std::vector<M::TMessageKey> text;  // joined by CR; empty: no note
};

void PrintTo(const NoteCase& c, std::ostream* os) { *os << c.name; }

class ErrorNote : public MainWindowTest, public ::testing::WithParamInterface<NoteCase> {};

TEST_P(ErrorNote, CountsTheErrorAndShowsTheNoteOfItsKind) {
  const NoteCase& c = GetParam();
  FWorkers.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();
  ASSERT_TRUE(f.Runner().StartTask(c.task));
  FWorkers.Last()->Error(c.error);
  EXPECT_EQ(f.ErrorCount(), 1);
  EXPECT_EQ(f.lbCurrentStatus->text(), Message(M::ErrorCount) + ": 1");
  EXPECT_TRUE(InAlertColor(f.lbCurrentStatus));
  TCustomHint& note = uCustomHint::CustomHintWnd();
  if (c.text.empty()) {
    EXPECT_FALSE(note.isVisible());
  } else {
    QStringList parts;
    for (M::TMessageKey k : c.text) parts << Message(k);
    EXPECT_TRUE(note.isVisible());
    EXPECT_EQ(note.Caption(), parts.join(CR));
    ASSERT_LT(c.picture, static_cast<int>(f.HintImages.size()));
    EXPECT_EQ(note.Picture().toImage(), f.HintImages[c.picture].toImage());
  }
  FWorkers.Last()->Finish();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ErrorNote,
    ::testing::Values(
        NoteCase{"Operation", tkXZReport, ekOperationError, 5, {M::ErrorOccurred, M::SeeErrorFileForDetails}},
        NoteCase{"File", tkReadFiles, ekFileError, 4, {M::ErrorInFile}},
        NoteCase{"Printer", tkPrintTest, ekPrinterError, 2, {M::ErrorInPRN, M::SeeErrorFileForDetails}},
        NoteCase{"FatalWhilePrintingFiles",
                 tkReadFiles,
                 ekPrinterFatal,
                 3,
                 {M::PRNFatalError, M::S_CheckPrinter, M::SeeErrorFileForDetails}},
        NoteCase{"FatalDuringACheck", tkCheckPrinter, ekPrinterFatal, -1, {}},
        NoteCase{"FatalDuringAReport", tkXZReport, ekPrinterFatal, -1, {}},
        NoteCase{"NoKind", tkReadFiles, ekNone, -1, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, EachDialogHasItsKindAndButtons) {
  struct Row {
    const char* name;
    std::function<void()> act;
    QString text;
    TDlgKind kind;
    TDlgButtons buttons;
  };
  const Row rows[] = {
      {"ActiveTask",
       [this] {
         FWorkers.AutoFinish = false;
         MakeRunningWindow().spbTestPrnClick();
         FFrm->mnPRNInfoClick();
       },
       Message(M::ActiveTask), TDlgKind::Error, TDlgButtons::Ok},
      {"InvalidValue",
       [this] {
         FDialogs.PushInput("0");
         MakeRunningWindow().NSumInClick();
       },
       Message(M::InvalidValue) + ": 0", TDlgKind::Warning, TDlgButtons::Ok},
      {"FinishedOK",
       [this] {
         MakeRunningWindow().mnPRNInfoClick();
         SpinUntil([this] { return !FFrm->TaskActive(); });
       },
       Message(M::FinishedOK), TDlgKind::Information, TDlgButtons::Ok},
      {"CopyLastBon", [this] { MakeRunningWindow().CopyLastBonClick(); },
       Message(M::S_Confirm) + CR + Message(M::S_CopyBonConfirm), TDlgKind::Question, TDlgButtons::YesNo},
      {"Exit", [this] { MakeRunningWindow().MainMenuExitClick(); }, Message(M::ConfirmToShutdown), TDlgKind::Question,
       TDlgButtons::YesNo},
      {"LogFileNotFound", [this] { MakeRunningWindow().mnShowErrorLogClick(); },
       Message(M::LogFileNotFound) + CR + FAppDir + "Log/DriverFiscalPrinterX4_Exception.txt", TDlgKind::Warning,
       TDlgButtons::Ok},
      {"GenericError", [this] { MakeRunningWindow().ShowErrorMessage(); },
       Message(M::ErrorOccurred) + CR + Message(M::SeeErrorFileForDetails), TDlgKind::Error, TDlgButtons::Ok},
      {"CantWrite",
       [this] {
         TfrmMain& f = MakeRunningWindow();
         TFaultyFileOps ops;
         ops.FailAt(TFileOp::Open, 0, EACCES, "bon/./");
         TWindowFileOps scoped(*this, &ops);
         f.mnDoFilesClick();
       },
       Message(M::CantWrite) + CR + FBonDir, TDlgKind::Error, TDlgButtons::Ok},
      {"WaitingFiles",
       [this] {
         WriteIniWithFolder(0);
         PutBon("0001.bon");
         MakeWindow().FormActivate();
       },
       TfrmMain::WaitingFilesQuestion(1), TDlgKind::Question, TDlgButtons::YesNo},
      {"COMServerNotExist",
       [this] {
         WriteIniWithFolder(0);
         FProbeOk = false;
         MakeWindow().FormActivate();
       },
       Message(M::COMServerNotExist), TDlgKind::Error, TDlgButtons::Ok},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    FDialogs.Clear();
    FWorkers.AutoFinish = true;
    FProbeOk = true;
    r.act();
    std::vector<TShownDialog> shown = FDialogs.Shown();
    std::erase_if(shown, [](const TShownDialog& d) { return d.Input; });
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, r.text);
    EXPECT_EQ(shown[0].Kind, r.kind);
    EXPECT_EQ(shown[0].Buttons, r.buttons);
    FFrm.reset();
  }
}

TEST_F(MainWindowTest, ApplicationExceptionLogsOneLineWithTheSendersClassName) {
  TfrmMain& f = MakeRunningWindow();
  f.ApplicationException(&f, "boom");
  f.ApplicationException(f.chkProcessPause, "click");
  f.ApplicationException(nullptr, "bang");
  const std::string log = NormalLog().toStdString();
  EXPECT_THAT(log, HasSubstr("[ApplicationException][TfrmMain] boom"));
  EXPECT_THAT(log, HasSubstr("[ApplicationException][QCheckBox] click"));
  EXPECT_THAT(log, HasSubstr("[ApplicationException]: bang"));
  EXPECT_TRUE(FDialogs.Texts().isEmpty());
}

// ---------------------------------------------------------------------------------------
// PRNInfo.txt

TEST_F(MainWindowTest, PrnInfoIsRewrittenAtThreeHoursButNotAtTwoHoursFiftyNine) {
  TfrmMain& f = MakeRunningWindow();
  TPRNInfo info;
  info.Model = QString::fromUtf8("ФП-55");
  info.SerialNo = "AB123456";
  info.FiscalNo = "02123456";
  info.LineLength = 42;
  info.LastDocNo = 1234;
  info.NextInvoiceNo = 300;
  info.ComPort = 7;
  const QString path = FBonDir + "PRNInfo.txt";

  PutFile(path, "old", FNow.addSecs(-(2 * 3600 + 59 * 60)));
  f.GetPrnInfo(info);
  EXPECT_EQ(Read(path), "old");
  EXPECT_EQ(f.lblModelName->text(), info.Model);
  EXPECT_EQ(f.Model(), info.Model);
  EXPECT_EQ(f.StatusText(0), "COM7");

  PutFile(path, "old", FNow.addSecs(-3 * 3600));
  f.GetPrnInfo(info);
  const std::string expected = Utf8ToCp1251(
      "Модел: ФП-55\r\nФискален номер: 02123456\r\nСериен номер: AB123456\r\n"
      "Номер на последния документ: 1234\r\nНомер на последната фактура: 300\r\nБрой колони: 42\r\n");
  EXPECT_EQ(Read(path).toStdString(), expected);

  QFile::remove(path);
  f.GetPrnInfo(info);
  EXPECT_EQ(Read(path).toStdString(), expected);
}

TPRNInfo SomePrinterInfo() {
  TPRNInfo info;
  info.Model = "FP-55";
  info.SerialNo = "AB123456";
  info.FiscalNo = "02123456";
  info.LineLength = 42;
  info.ComPort = 7;
  return info;
}

// A link under the name in the shared folder is replaced itself; what it points to stays.
TEST_F(MainWindowTest, PrnInfoReplacesALinkAndNeverWritesItsTarget) {
  TfrmMain& f = MakeRunningWindow();
  const QString target = FAppDir + "elsewhere.txt";
  PutFile(target, "not yours", FNow.addDays(-1));
  const QString path = FBonDir + "PRNInfo.txt";
  ASSERT_TRUE(QFile::link(target, path));
  // A link counts as no file at all: it is replaced at once.
  f.GetPrnInfo(SomePrinterInfo());
  EXPECT_EQ(Read(target), "not yours");
  EXPECT_FALSE(QFileInfo(path).isSymLink());
  EXPECT_THAT(Read(path).toStdString(), HasSubstr("AB123456"));
  EXPECT_EQ(QDir(FBonDir).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"PRNInfo.txt"});
}

// Every step of the rewrite is checked: whichever fails, the old file stays whole, nothing
// is left beside it and the exception log names the file and the reason.
TEST_F(MainWindowTest, PrnInfoThatCannotBeWrittenKeepsTheOldFileAndLogsIt) {
  struct Row {
    const char* name;
    TFileOp op;
    int err;
  };
  const Row rows[] = {{"Create", TFileOp::Open, EACCES},
                      {"Write", TFileOp::Write, ENOSPC},
                      {"Flush", TFileOp::Fsync, EIO},
                      {"Rename", TFileOp::Rename, EPERM}};
  const QString path = FBonDir + "PRNInfo.txt";
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TfrmMain& f = MakeRunningWindow();
    PutFile(path, "old", FNow.addSecs(-4 * 3600));
    {
      TFaultyFileOps ops;
      ops.FailAt(r.op, 0, r.err, "PRNInfo.txt");
      TWindowFileOps scoped(*this, &ops);
      f.GetPrnInfo(SomePrinterInfo());
    }
    EXPECT_EQ(Read(path), "old");
    EXPECT_EQ(QDir(FBonDir).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"PRNInfo.txt"});
    EXPECT_EQ(ExceptionLog().count("[GetPrnInfo] " + path + ": " + QString::fromLocal8Bit(std::strerror(r.err))), 1)
        << ExceptionLog().toStdString();
    // The same failure at the next check is not logged again.
    {
      TFaultyFileOps ops;
      ops.FailAt(r.op, 0, r.err, "PRNInfo.txt");
      TWindowFileOps scoped(*this, &ops);
      f.GetPrnInfo(SomePrinterInfo());
    }
    EXPECT_EQ(ExceptionLog().count("[GetPrnInfo]"), 1);
    EXPECT_EQ(Read(path), "old");
    // The printer's data are shown all the same.
    EXPECT_EQ(f.lblSerialNo->text(), "AB123456");
    FFrm.reset();
    QFile::remove(FAppDir + "Log/" + uProgramLog::ExceptionLogName);
  }
}

// ---------------------------------------------------------------------------------------
// The start-up clean-up

TEST_F(MainWindowTest, CleanUpLogsWhatItDeletesAndSparesTheLogsInUse) {
  WriteIniWithFolder(0);
  QDir().mkpath(FAppDir + "Log");
  PutFile(FBonDir + "old.rep", "r", FNow.addDays(-25));
  PutFile(FBonDir + "young.err", "e", FNow.addDays(-1));
  // The exception log is written only now and then: an old stamp does not make it old.
  PutFile(FAppDir + "Log/" + uProgramLog::ExceptionLogName, "x", FNow.addDays(-30));
  PutFile(FAppDir + "Log/Log_01.txt", "l", FNow.addDays(-25));
  TfrmMain& f = MakeWindow();
  f.FormActivate();
  // The receipt folder is cleaned up on a thread of its own.
  ASSERT_TRUE(SpinUntil([&] { return !f.Runner().CleanUpRunning(); }));
  EXPECT_FALSE(QFile::exists(FBonDir + "old.rep"));
  EXPECT_TRUE(QFile::exists(FBonDir + "young.err"));
  EXPECT_FALSE(QFile::exists(FAppDir + "Log/Log_01.txt"));
  EXPECT_TRUE(QFile::exists(FAppDir + "Log/" + uProgramLog::ExceptionLogName));
  const QString log = NormalLog();
  EXPECT_EQ(log.count("[DeleteOldLog] Deleted " + FBonDir + "old.rep, 25.0 days old"), 1) << log.toStdString();
  EXPECT_EQ(log.count("[DeleteOldLog] Deleted " + FAppDir + "Log/Log_01.txt, 25.0 days old"), 1);
  EXPECT_EQ(log.count("[DeleteOldLog] Deleted"), 2);
}

// The PC clock far ahead at start: every file of the receipt folder looks old, fresh or
// not. The clean-up of that folder is skipped with one line.
TEST_F(MainWindowTest, CleanUpIsSkippedWhenEvenTheNewestFileLooksOld) {
  WriteIniWithFolder(0);
  PutFile(FBonDir + "0001.rep", "r", FNow.addDays(-21));
  PutFile(FBonDir + "0002.err", "e", FNow.addDays(-21).addSecs(60));
  PutFile(FBonDir + "0003.rep", "r", FNow.addDays(-40));
  TfrmMain& f = MakeWindow();
  f.FormActivate();
  ASSERT_TRUE(SpinUntil([&] { return !f.Runner().CleanUpRunning(); }));
  for (const char* name : {"0001.rep", "0002.err", "0003.rep"}) EXPECT_TRUE(QFile::exists(FBonDir + name)) << name;
  const QString log = NormalLog();
  EXPECT_EQ(log.count("[DeleteOldLog] Deleted"), 0) << log.toStdString();
  // One line for the folder, none for the log folder (its log is fresh).
  EXPECT_EQ(log.count("[DeleteOldLog] " + FBonDir + ": not cleaned up, the newest file of the folder is 21.0"), 1)
      << log.toStdString();
  EXPECT_EQ(log.count("not cleaned up"), 1);
}

// ---------------------------------------------------------------------------------------
// Closing

TEST_F(MainWindowTest, CloseButtonHidesAndExitAsks) {
  FTrayAvailable = true;
  TfrmMain& f = MakeRunningWindow();
  f.show();
  EXPECT_FALSE(f.close());
  EXPECT_EQ(FQuits, 0);
  FDialogs.PushAnswer(TDlgResult::No);
  f.MainMenuExitClick();
  EXPECT_EQ(FQuits, 0);
  EXPECT_FALSE(f.CloseAllowed);
  FDialogs.PushAnswer(TDlgResult::Yes);
  f.MainMenuExitClick();
  EXPECT_EQ(FQuits, 1);
  EXPECT_THAT(NormalLog().toStdString(), HasSubstr("Application closed"));
}

// ---------------------------------------------------------------------------------------
// The tray, and a desktop without one

// A tray that speaks StatusNotifierItem sends a single click only: it opens the window as
// a double click does; the context menu's click does not.
TEST_F(MainWindowTest, AClickOnTheTrayIconOpensTheWindow) {
  FTrayAvailable = true;
  TfrmMain& f = MakeRunningWindow();
  const struct {
    const char* name;
    QSystemTrayIcon::ActivationReason reason;
    bool opens;
  } cases[] = {{"click", QSystemTrayIcon::Trigger, true},
               {"double click", QSystemTrayIcon::DoubleClick, true},
               {"context menu", QSystemTrayIcon::Context, false},
               {"middle click", QSystemTrayIcon::MiddleClick, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    f.HideInTray();
    ASSERT_FALSE(f.isVisible());
    emit f.TrayIcon->activated(c.reason);
    EXPECT_EQ(f.isVisible(), c.opens);
  }
}

// The tray's menu speaks the program's language: no item is in English.
TEST_F(MainWindowTest, TheTrayMenuSpeaksTheProgramsLanguage) {
  TfrmMain& f = MakeRunningWindow();
  const QList<QAction*> items = f.PopupMenu1->findChildren<QAction*>() + f.PopupMenu1->actions();
  int named = 0;
  for (QAction* a : items) {
    if (a->isSeparator() || a->text().isEmpty()) continue;
    ++named;
    const QString text = a->text();
    EXPECT_TRUE(std::any_of(text.begin(), text.end(), [](QChar c) { return c.script() == QChar::Script_Cyrillic; }))
        << a->objectName().toStdString() << ": " << text.toStdString();
  }
  EXPECT_GE(named, 4);
}

// The first start hides the window in the tray, but only where there is one: without a
// tray the window stays shown, not minimised.
TEST_F(MainWindowTest, TheFirstStartHidesTheWindowOnlyInATray) {
  for (const bool tray : {true, false}) {
    SCOPED_TRACE(tray ? "tray" : "no tray");
    FTrayAvailable = tray;
    WriteIniWithFolder(0);
    TfrmMain& f = MakeWindow();
    f.show();
    f.FormActivate();
    EXPECT_EQ(f.isVisible(), !tray);
    EXPECT_FALSE(f.windowState() & Qt::WindowMinimized);
    EXPECT_EQ(f.TrayIcon->isVisible(), tray);
    FFrm.reset();
  }
}

// Without a tray the close button never withdraws the window: it asks whether to end the
// program; No leaves the window shown, Yes ends it. The menu's "hide" minimises.
TEST_F(MainWindowTest, WithoutTrayTheCloseButtonAsksAndTheWindowStaysReachable) {
  TfrmMain& f = MakeRunningWindow();
  f.show();
  FDialogs.PushAnswer(TDlgResult::No);
  EXPECT_FALSE(f.close());
  EXPECT_EQ(CountShown(Message(M::ConfirmToShutdown)), 1);
  EXPECT_TRUE(f.isVisible());
  EXPECT_FALSE(f.windowState() & Qt::WindowMinimized);
  EXPECT_EQ(FQuits, 0);
  f.HideInTray();
  EXPECT_TRUE(f.isVisible());
  EXPECT_TRUE(f.windowState() & Qt::WindowMinimized);
  f.TrayIconDblClick();
  EXPECT_FALSE(f.windowState() & Qt::WindowMinimized);
  FDialogs.PushAnswer(TDlgResult::Yes);
  f.close();
  EXPECT_EQ(FQuits, 1);
  EXPECT_THAT(NormalLog().toStdString(), HasSubstr("Application closed"));
}

// A tray that appears later gets the icon at the tray timer's next tick; from then on the
// window hides in it. A tray that goes while the window is hidden there brings it back.
TEST_F(MainWindowTest, TheIconComesAsSoonAsATrayAppearsAndTheWindowWhenItGoes) {
  TfrmMain& f = MakeRunningWindow();
  f.show();
  EXPECT_TRUE(f.TrayTimer.isActive());
  EXPECT_FALSE(f.TrayIcon->isVisible());
  f.CheckTray();
  EXPECT_FALSE(f.TrayIcon->isVisible());
  FTrayAvailable = true;
  f.CheckTray();
  EXPECT_TRUE(f.TrayIcon->isVisible());
  f.close();
  EXPECT_FALSE(f.isVisible());
  EXPECT_TRUE(FDialogs.Texts().isEmpty());
  FTrayAvailable = false;
  f.CheckTray();
  EXPECT_FALSE(f.TrayIcon->isVisible());
  EXPECT_TRUE(f.isVisible());
  EXPECT_FALSE(f.windowState() & Qt::WindowMinimized);
  const QString log = NormalLog();
  EXPECT_EQ(log.count("The desktop has a tray now"), 1) << log.toStdString();
  EXPECT_EQ(log.count("The desktop's tray went away"), 1) << log.toStdString();
}

// A later start asks for the window: hidden in the tray or minimised, it comes back, and
// the desktop's token of that start is handed on.
TEST_F(MainWindowTest, ASecondStartShowsTheWindow) {
  FTrayAvailable = true;
  TfrmMain& f = MakeRunningWindow();
  const QByteArray oldToken = qgetenv("XDG_ACTIVATION_TOKEN");
  for (const bool minimised : {false, true}) {
    SCOPED_TRACE(minimised ? "minimised" : "in the tray");
    if (minimised)
      f.showMinimized();
    else
      f.HideInTray();
    f.ShowForSecondStart("token-2");
    EXPECT_TRUE(f.isVisible());
    EXPECT_FALSE(f.windowState() & Qt::WindowMinimized);
    EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), "token-2");
  }
  if (oldToken.isNull())
    qunsetenv("XDG_ACTIVATION_TOKEN");
  else
    qputenv("XDG_ACTIVATION_TOKEN", oldToken);
}

TEST_F(MainWindowTest, ExitWhileATaskRunsWaitsForTheWorker) {
  FWorkers.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();
  f.show();
  f.mnDayReportResetClick();  // would show the success message
  auto t = FWorkers.Last();
  FDialogs.PushAnswer(TDlgResult::Yes);
  f.MainMenuExitClick();
  EXPECT_TRUE(t->Terminated);
  EXPECT_FALSE(f.isVisible());
  EXPECT_TRUE(f.Runner().QuitPending());
  EXPECT_EQ(FQuits, 0);
  t->Finish();
  ASSERT_TRUE(SpinUntil([&] { return FQuits == 1; }));
  EXPECT_EQ(CountShown(Message(M::FinishedOK)), 0);
  EXPECT_THAT(NormalLog().toStdString(), HasSubstr("Application closed"));
  // The window goes; its worker's events are cut off first.
  FFrm.reset();
  EXPECT_TRUE(t->Detached);
}

// A stop signal is the exit without its question: a running task ends first, the file
// timer stays off, and a settings file that cannot be saved shows nothing (nobody waits at
// the screen), so the program still ends.
TEST_F(MainWindowTest, StopSignalExitsWithoutQuestionsOnceTheTaskHasEnded) {
  FWorkers.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();
  f.FileReadTimer.start();
  f.mnDoFilesClick();
  auto t = FWorkers.Last();
  TFaultyFileOps ops;
  ops.FailAt(TFileOp::Open, 0, ENOSPC, "DriverFiscalPrinterX4.ini.");
  TWindowFileOps scoped(*this, &ops);
  f.ExitBySignal("SIGTERM");
  f.ExitBySignal("SIGHUP");  // a second signal changes nothing
  EXPECT_TRUE(t->Terminated);
  EXPECT_FALSE(f.FileReadTimer.isActive());
  f.RestartFileTimer();
  EXPECT_FALSE(f.FileReadTimer.isActive());
  EXPECT_EQ(FQuits, 0);
  t->Finish();
  ASSERT_TRUE(SpinUntil([&] { return FQuits == 1; }));
  EXPECT_TRUE(FDialogs.Texts().isEmpty()) << FDialogs.Texts().join(" | ").toStdString();
  const QString log = NormalLog();
  EXPECT_EQ(log.count("SIGTERM received; closing once the running task has ended."), 1) << log.toStdString();
  EXPECT_EQ(log.count("received; closing"), 1);
  EXPECT_TRUE(log.trimmed().endsWith("[SaveSettings] Unable to write to " + FAppDir + "DriverFiscalPrinterX4.ini"))
      << log.toStdString();
}

// The display went away while a receipt prints: without the event loop, the file job is
// asked to stop and waited for (it finishes the receipt in print), the log says why the
// program ends and closes as on a stop signal, the settings are saved; the application is
// not asked to quit (its display is gone), the caller ends the process.
TEST_F(MainWindowTest, WhenTheDisplayGoesTheReceiptInPrintIsFinishedAndTheLogSaysWhy) {
  FWorkers.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();
  f.FileReadTimer.start();
  f.mnDoFilesClick();
  auto t = FWorkers.Last();
  ASSERT_TRUE(f.TaskActive());
  f.Settings().BaudRate = 9600;  // saved at the end
  std::thread worker([&] {
    while (!t->Terminated) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    t->Done = true;
  });
  f.DisplayGone("The X11 connection broke (error 1). Did the X11 server die?\n");
  const bool ended = t->Done;
  worker.join();
  EXPECT_TRUE(ended);
  EXPECT_FALSE(f.TaskActive());
  EXPECT_FALSE(f.FileReadTimer.isActive());
  EXPECT_EQ(FQuits, 0);
  EXPECT_TRUE(FDialogs.Texts().isEmpty());
  const QString log = NormalLog();
  EXPECT_EQ(log.count("The display went away (The X11 connection broke (error 1). Did the X11 server die?); closing "
                      "once the running task has ended."),
            1)
      << log.toStdString();
  EXPECT_TRUE(log.trimmed().endsWith("Application closed")) << log.toStdString();
  EXPECT_THAT(ExceptionLog().toStdString(), HasSubstr("The display went away"));
  EXPECT_THAT(QString::fromLatin1(Read(FAppDir + "DriverFiscalPrinterX4.ini")).toStdString(),
              HasSubstr("BaudRate=9600"));
  // A stop signal that comes after it changes nothing.
  f.ExitBySignal("SIGTERM");
  EXPECT_EQ(NormalLog().count("received; closing"), 0);
}

// Qt's warnings of a lost display, from its X11 and Wayland platforms (Qt 6.4), end the
// program through its stop path; other warnings do not.
TEST(DisplayWatch, QtsWarningsOfALostDisplayAreKnown) {
  for (const char* lost :
       {"The X11 connection broke (error 1). Did the X11 server die?", "The X11 connection broke: I/O error (code 1)",
        "The Wayland connection broke. Did the Wayland compositor die?"})
    EXPECT_TRUE(TDriverApplication::IsDisplayLostWarning(QString::fromLatin1(lost))) << lost;
  for (const char* other : {"QLocalSocket: the connection broke", "QXcbConnection: XCB error: 3 (BadWindow)"})
    EXPECT_FALSE(TDriverApplication::IsDisplayLostWarning(QString::fromLatin1(other))) << other;
}

// The session's end asks the application to quit: without a tray the window would ask
// whether to end the program, with one it would hide. It is a stop signal instead: no
// question, the running task ends first; the program's own quit afterwards is Qt's.
TEST_F(MainWindowTest, TheSessionsQuitIsAStopSignal) {
  FWorkers.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();
  f.show();
  f.mnDoFilesClick();
  auto t = FWorkers.Last();
  EXPECT_TRUE(f.QuitRequested());
  EXPECT_TRUE(t->Terminated);
  EXPECT_TRUE(FDialogs.Texts().isEmpty()) << FDialogs.Texts().join(" | ").toStdString();
  t->Finish();
  ASSERT_TRUE(SpinUntil([&] { return FQuits == 1; }));
  EXPECT_FALSE(f.QuitRequested());
  const QString log = NormalLog();
  EXPECT_EQ(log.count("The end of the session received; closing once the running task has ended."), 1)
      << log.toStdString();
  EXPECT_TRUE(log.trimmed().endsWith("Application closed")) << log.toStdString();
}

// A stop signal that closes the start's question about waiting files is no answer: the
// files stay for the next start.
TEST_F(MainWindowTest, StopSignalDuringTheWaitingFilesQuestionKeepsTheFiles) {
  WriteIniWithFolder(0);
  PutBon("0001.bon");
  TfrmMain& f = MakeWindow();
  FDialogs.OnMessage = [&](const QString& text) {
    if (text.startsWith(Message(M::BonExistDlg))) f.ExitBySignal("SIGTERM");
  };
  FDialogs.PushAnswer(TDlgResult::No);  // what a dialog closed by the loop's end returns
  f.FormActivate();
  EXPECT_TRUE(QFile::exists(FBonDir + "0001.bon"));
  EXPECT_FALSE(f.FileReadTimer.isActive());
  EXPECT_TRUE(SpinUntil([&] { return FQuits == 1; }));
  EXPECT_TRUE(QFile::exists(FBonDir + "0001.bon"));
}

// A stop signal while the first start's settings window is open ends the program there:
// no printer check follows, neither on the port of the defaults nor on one the window was
// answered with at that moment, and the log ends with the closing line.
TEST_F(MainWindowTest, StopSignalDuringTheFirstStartSettingsTouchesNoPort) {
  for (const bool answered : {false, true}) {
    SCOPED_TRACE(answered ? "answered" : "closed");
    FWorkers.Tasks.clear();
    FQuits = 0;
    QFile::remove(FAppDir + "Log/" + uProgramLog::NormalLogName);
    TfrmMain& f = MakeWindow();
    FWindows->FolderToEnter = answered ? FBonDir : QString();
    FWindows->DuringSettings = [&] { f.ExitBySignal("SIGTERM"); };
    f.FormActivate();
    EXPECT_TRUE(FWorkers.Tasks.empty());
    EXPECT_FALSE(f.FileReadTimer.isActive());
    EXPECT_TRUE(SpinUntil([&] { return FQuits == 1; }));
    const QString log = NormalLog();
    EXPECT_TRUE(log.trimmed().endsWith("Application closed")) << log.toStdString();
    EXPECT_FALSE(log.contains("Checking connectivity.")) << log.toStdString();
    FWindows->DuringSettings = nullptr;
    FFrm.reset();
  }
}

TEST_F(MainWindowTest, DestroyedWindowDetachesARunningWorker) {
  FWorkers.AutoFinish = false;
  MakeRunningWindow().mnDoFilesClick();
  auto t = FWorkers.Last();
  FFrm.reset();
  EXPECT_TRUE(t->Detached);
}

// No desktop program to show a log or the folder: the operator is told, with the path.
TEST_F(MainWindowTest, LogMenuItemsSayWhenNoViewerStarts) {
  TfrmMain& f = MakeRunningWindow();
  uProgramLog::WriteLog(FAppDir + "Log/", "x", true);
  FOpenOk = false;
  f.mnShowLogClick();
  f.mnShowErrorLogClick();
  f.mnShowAppDataClick();
  EXPECT_EQ(FOpened.size(), 3u);
  EXPECT_THAT(FDialogs.Texts(),
              ElementsAre(TfrmMain::ViewerFailedText + CR + FAppDir + "Log/DriverFiscalPrinterX4_Log.txt",
                          TfrmMain::ViewerFailedText + CR + FAppDir + "Log/DriverFiscalPrinterX4_Exception.txt",
                          TfrmMain::ViewerFailedText + CR + FAppDir + "Log/"));
}

// Qt's standard buttons speak the program's language when Qt's translations are there; a
// folder without them changes nothing and says nothing.
TEST(QtTranslations, LoadTheProgramsLanguageOrFallBackQuietly) {
  QTemporaryDir empty;
  EXPECT_EQ(TDriverApplication::InstallQtTranslations(*QCoreApplication::instance(), empty.path()), nullptr);
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), "&Yes");
  QObject* t = TDriverApplication::InstallQtTranslations(*QCoreApplication::instance());
  if (!t) GTEST_SKIP() << "Qt's translations are not installed (scripts/deps.sh installs them)";
  EXPECT_NE(QCoreApplication::translate("QPlatformTheme", "&Yes"), "&Yes");
  EXPECT_NE(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
  delete t;
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), "&Yes");
}

TEST_F(MainWindowTest, LogViewersOpenTheLogsOrWarn) {
  TfrmMain& f = MakeRunningWindow();
  f.mnShowLogClick();  // the start lines made the normal log
  ASSERT_EQ(FOpened.size(), 1u);
  EXPECT_EQ(FOpened[0].toLocalFile(), FAppDir + "Log/DriverFiscalPrinterX4_Log.txt");
  f.mnShowErrorLogClick();
  EXPECT_THAT(FDialogs.Texts(),
              ElementsAre(Message(M::LogFileNotFound) + CR + FAppDir + "Log/DriverFiscalPrinterX4_Exception.txt"));
  f.mnShowAppDataClick();
  ASSERT_EQ(FOpened.size(), 2u);
  EXPECT_EQ(QDir(FOpened[1].toLocalFile()).absolutePath(), QDir(FAppDir + "Log").absolutePath());
}

TEST_F(MainWindowTest, EveryMenuCommandStartsItsTask) {
  FWorkers.AutoFinish = true;
  TfrmMain& f = MakeRunningWindow();
  FWindows->Periods.push_back(TReportPeriod{});
  struct Item {
    const char* name;
    TTaskKind kind;
    bool hourglass;       // the mouse cursor while the task runs
    const char* caption;  // the current task's label and the status panel while it runs (UTF-8)
  };
  const Item items[] = {
      {.name = "mnPRNInfo", .kind = tkPrinterInfo, .hourglass = false, .caption = "Информация за устройството."},
      {.name = "mnDayReportReset", .kind = tkXZReport, .hourglass = true, .caption = "Печат на X/Z отчет."},
      {.name = "mnDayReportNoReset", .kind = tkXZReport, .hourglass = true, .caption = "Печат на X/Z отчет."},
      {.name = "mnDepartRpt", .kind = tkDepartmentReport, .hourglass = true, .caption = ""},
      {.name = "mnDepartRptReset", .kind = tkDepartmentReportReset, .hourglass = true, .caption = ""},
      {.name = "mnFiskMemory", .kind = tkReportByBlock, .hourglass = true, .caption = "Печат на отчет по блокове."},
      {.name = "spbEmptyBon", .kind = tkPrintEmptyBon, .hourglass = true, .caption = "Печат на празен бон."},
      {.name = "CopyLastBon", .kind = tkCopyBon, .hourglass = false, .caption = "Дубликат"},
      {.name = "spbTestPrn", .kind = tkPrintTest, .hourglass = true, .caption = "Печат на тест."},
      {.name = "mnDoFiles", .kind = tkReadFiles, .hourglass = false, .caption = "Печат на бележки."},
  };
  for (const auto& [name, kind, hourglass, captionUtf8] : items) {
    const QString caption = QString::fromUtf8(captionUtf8);
    QAction* a = f.MenuItem(name);
    ASSERT_NE(a, nullptr) << name;
    const size_t before = FWorkers.Tasks.size();
    if (kind == tkCopyBon) FDialogs.PushAnswer(TDlgResult::Yes);
    a->trigger();
    ASSERT_EQ(FWorkers.Tasks.size(), before + 1) << name;
    EXPECT_EQ(FWorkers.Last()->Request.Kind, kind) << name;
    EXPECT_EQ(QApplication::overrideCursor() != nullptr, hourglass) << name;
    // The department reports have no caption, neither while they run nor afterwards.
    EXPECT_EQ(f.lblCurrentTaskName->text(), caption) << name;
    EXPECT_EQ(f.StatusText(2), caption) << name;
    ASSERT_TRUE(SpinUntil([&] { return !f.TaskActive(); })) << name;
    EXPECT_EQ(f.lblLastTaskName->text(), caption) << name;
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << name;
  }
  for (const char* name : {"MainMenuExit", "mnHide", "MainMenuPreferences", "mnPayTypesRel", "mnShowLog",
                           "mnShowErrorLog", "mnShowAppData", "MainMenuAbout", "mnDepartments", "NSumIn", "NSumOut",
                           "PMenuConfig", "PMenuMinimize", "PMenuAbout", "PMenuExit"})
    EXPECT_NE(f.MenuItem(name), nullptr) << name;
}

TEST_F(MainWindowTest, LanguageFileTranslatesTheWindowButNotItsTitle) {
  QDir().mkpath(FAppDir + "Translations");
  PutFile(FAppDir + "Translations/DriverFiscalPrinterX4.lng",
          "[frmMain]\r\nfrmMain=Other title\r\nlblCurrentTaskHdr=Current task\r\nmnPRNInfo=Printer info\r\n"
          "LabelPrinterName=Model\r\nlblModelName=never\r\n[Messages]\r\nNoActiveTask=Idle\r\n",
          FNow);
  TfrmMain& f = MakeRunningWindow();
  EXPECT_EQ(f.windowTitle(), "MIRAVOK FP driver (" + FAppDir + "DriverFiscalPrinterX4)");
  EXPECT_EQ(f.lblCurrentTaskHdr->text(), "Current task");
  EXPECT_EQ(f.MenuItem("mnPRNInfo")->text(), "Printer info");
  EXPECT_EQ(f.lblModelName->text(), "-");
  EXPECT_EQ(f.lblCurrentTaskName->text(), "Idle");
  // The translated caption goes into PRNInfo.txt.
  TPRNInfo info;
  info.Model = "Wren S";
  f.GetPrnInfo(info);
  EXPECT_TRUE(Read(FBonDir + "PRNInfo.txt").startsWith("Model: Wren S\r\n"));
}

// ---------------------------------------------------------------------------------------
// The look

// The application's default font for one test; the old one comes back after it.
class TScopedAppFont {
 public:
  explicit TScopedAppFont(int PointSize) : FOld(QApplication::font()) {
    if (PointSize <= 0) return;
    QFont f = FOld;
    f.setPointSize(PointSize);
    QApplication::setFont(f);
  }
  ~TScopedAppFont() { QApplication::setFont(FOld); }

 private:
  QFont FOld;
};

class Layout : public MainWindowTest, public ::testing::WithParamInterface<int> {};

// Filled with a printer's details the window keeps every caption inside its widget and no
// controls overlap, at the platform's default font and at a 12-point one; it starts at its
// specified size (515 x 358 below the menu bar) and grows only as far as its content needs;
// it comes up centred on the screen and fits it.
TEST_P(Layout, NothingIsCutOrOverlapsAndTheWindowFitsTheScreen) {
  TScopedAppFont font(GetParam());
  TfrmMain& f = MakeRunningWindow();
  f.GetPrnInfo(SamplePrinterInfo());
  EXPECT_GE(f.width(), 515);
  EXPECT_GE(f.height(), 358 + f.menuBar()->sizeHint().height());
  // The window comes up centred on the screen.
  const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
  EXPECT_LE((f.geometry().center() - centre).manhattanLength(), 2);
  f.show();
  ASSERT_TRUE(SpinUntil([&] { return f.isVisible(); }));
  QCoreApplication::processEvents();
  EXPECT_THAT(ClippedCaptions(f), ::testing::IsEmpty());
  EXPECT_THAT(OverlappingControls(f), ::testing::IsEmpty());
  EXPECT_TRUE(FitsTheScreen(f));
}

// Every alert at once (the printer's own state, files of unknown outcome in the error line
// and the last task's panel, one with a very long name) is shown whole: the panels grow
// and nothing is cut or overlaps, at either font; the window still fits the screen.
TEST_P(Layout, WithEveryAlertNothingIsCutOrOverlaps) {
  TScopedAppFont font(GetParam());
  const int plainHeight = MakeRunningWindow().height();
  TfrmMain& f = ShowEveryAlert(kNoPaper);
  ASSERT_EQ(f.Runner().UnknownFileCount(), 2);
  EXPECT_GT(f.height(), plainHeight);
  EXPECT_THAT(ClippedCaptions(f), ::testing::IsEmpty());
  EXPECT_THAT(OverlappingControls(f), ::testing::IsEmpty());
  EXPECT_TRUE(FitsTheScreen(f));
}

// With a small font, whose content needs less room, the window is exactly its specified
// size: the size is the least, not the content's.
TEST_F(MainWindowTest, StartsAtItsSpecifiedSize) {
  TScopedAppFont font(6);
  TfrmMain& f = MakeRunningWindow();
  EXPECT_EQ(f.size(), QSize(515, 358 + f.menuBar()->sizeHint().height()));
}

INSTANTIATE_TEST_SUITE_P(Fonts, Layout, ::testing::Values(0, 12), [](const auto& info) {
  return info.param == 0 ? std::string("DefaultFont") : "Font" + std::to_string(info.param) + "pt";
});

}  // namespace
}  // namespace fp::test
