#include "filedriver/uMain.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QRegularExpression>
#include <QScreen>

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <cctype>
#include <cmath>

#include "filedriver/MarqueeProgressBar.h"
#include "filedriver/uMainTestSupport.h"
#include "platform/Cp1251.h"
#include "platform/FileOps.h"

namespace fp::testing {
namespace {

using uStrRes::Message;
namespace M = uStrRes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const QString CR = QStringLiteral("\r");

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
  explicit TOnlyTreeWritable(QString root) : root_(std::move(root)) {}
  int Open(const char* path, int flags, mode_t mode) override {
    if ((flags & O_CREAT) && !QString::fromLocal8Bit(path).startsWith(root_)) {
      ++refused_;
      errno = EACCES;
      return -1;
    }
    return IFileOps::Open(path, flags, mode);
  }
  int refused_ = 0;

 private:
  QString root_;
};

// ---------------------------------------------------------------------------------------
// First start

TEST_F(MainWindowTest, FirstStartWithoutSettingsAsksForTheFolderAndKeepsTheTimerOffUntilAnswered) {
  TOnlyTreeWritable ops(tmp_.path());
  TScopedFileOps scoped(&ops);
  windows_->FolderToEnter = bonDir_;
  PutBon("0001.bon");
  PutBon("0002.bon");
  bool timerAtQuestion = true;
  size_t tasksAtQuestion = 0;
  dialogs_.OnMessage = [&](const QString& text) {
    if (text.startsWith(Message(M::BonExistDlg))) {
      timerAtQuestion = frm_->FileReadTimer.isActive();
      tasksAtQuestion = runner_.Tasks.size();
    }
  };
  dialogs_.PushAnswer(TDlgResult::Yes);

  TfrmMain& f = MakeWindow();
  EXPECT_EQ(f.windowTitle(), "MIRAVOK FP driver (" + appDir_ + "DriverFiscalPrinterX4)");
  EXPECT_TRUE(f.Settings().SearchPath.isEmpty());
  EXPECT_EQ(f.StatusText(2), Message(M::StoppedByUser));
  EXPECT_EQ(f.StatusText(0), "COM1");
  EXPECT_EQ(f.lblCurrentTaskName->text(), Message(M::NoActiveTask));
  ASSERT_TRUE(f.FirstActivation);

  f.FormActivate();

  // The empty folder setting was not write-tested (the root would have failed it).
  EXPECT_EQ(CountShown(Message(M::CantWrite) + CR), 0);
  EXPECT_TRUE(terminated_.empty());
  EXPECT_EQ(probes_, 1);
  EXPECT_EQ(f.ComServerVersion(), "2.0.0.1");
  EXPECT_EQ(windows_->SettingsCalls, 1);
  EXPECT_FALSE(windows_->TimerRanAfterSettings);
  // The question came before the timer could print anything.
  EXPECT_THAT(dialogs_.Texts(), ElementsAre(Message(M::BonExistDlg) + CR + Message(M::PrintBonExist)));
  EXPECT_FALSE(timerAtQuestion);
  EXPECT_EQ(tasksAtQuestion, 2u);
  EXPECT_THAT(runner_.Kinds(), ElementsAre(tkCheckPrinter, tkCheckPrinter));
  // Yes keeps the files for the timer, which now runs.
  EXPECT_TRUE(QFile::exists(bonDir_ + "0001.bon"));
  EXPECT_TRUE(f.FileReadTimer.isActive());
  EXPECT_EQ(f.StatusText(2), Message(M::Started));
  EXPECT_FALSE(f.FirstActivation);
  EXPECT_THAT(QString::fromLatin1(Read(appDir_ + "DriverFiscalPrinterX4.ini")).toStdString(),
              HasSubstr(("SearchPath=" + bonDir_).toStdString()));
  EXPECT_THAT(NormalLog().toStdString(), HasSubstr("RERIvovoveRuvevu v."));

  // Later activations do nothing.
  f.FormActivate();
  EXPECT_EQ(probes_, 1);
}

TEST_F(MainWindowTest, NoToWaitingFilesDeletesExactlyTheListedOnes) {
  WriteIniWithFolder(0);
  PutBon("0001.bon");
  PutBon("0002.bon");
  PutBon("empty.bon", 10, QByteArray());
  PutFile(bonDir_ + "other.txt", "x", now_.addSecs(-10));
  dialogs_.PushAnswer(TDlgResult::No);
  TfrmMain& f = MakeWindow();
  f.FormActivate();
  EXPECT_FALSE(QFile::exists(bonDir_ + "0001.bon"));
  EXPECT_FALSE(QFile::exists(bonDir_ + "0002.bon"));
  EXPECT_TRUE(QFile::exists(bonDir_ + "empty.bon"));
  EXPECT_TRUE(QFile::exists(bonDir_ + "other.txt"));
  EXPECT_EQ(windows_->SettingsCalls, 0);
  EXPECT_TRUE(f.FileReadTimer.isActive());
}

TEST_F(MainWindowTest, FirstActivationRemovesFilesOlderThanTwentyDays) {
  WriteIniWithFolder(0);
  QDir().mkpath(appDir_ + "Log");
  PutFile(bonDir_ + "old.rep", "r", now_.addSecs(-static_cast<qint64>(20.5 * 86400)));
  PutFile(bonDir_ + "young.rep", "r", now_.addDays(-19));
  PutFile(bonDir_ + "future.err", "e", now_.addDays(21));
  PutFile(bonDir_ + "old.$$$", "c", now_.addDays(-30));
  PutFile(bonDir_ + "old.bon", "", now_.addDays(-30));  // empty, so not asked about
  PutFile(appDir_ + "Log/Log_01.txt", "l", now_.addDays(-25));
  TfrmMain& f = MakeWindow();
  f.FormActivate();
  EXPECT_FALSE(QFile::exists(bonDir_ + "old.rep"));
  EXPECT_TRUE(QFile::exists(bonDir_ + "young.rep"));
  EXPECT_FALSE(QFile::exists(bonDir_ + "future.err"));
  EXPECT_FALSE(QFile::exists(bonDir_ + "old.$$$"));
  EXPECT_TRUE(QFile::exists(bonDir_ + "old.bon"));
  EXPECT_FALSE(QFile::exists(appDir_ + "Log/Log_01.txt"));
}

TEST_F(MainWindowTest, UnwritableReceiptFolderEndsTheStart) {
  WriteIniWithFolder(0);
  TFaultyFileOps ops;
  ops.FailAt(TFileOp::Open, 0, EACCES, "bon/chktmp.txt");
  TScopedFileOps scoped(&ops);
  TfrmMain& f = MakeWindow();
  f.FormActivate();
  EXPECT_THAT(dialogs_.Texts(), ElementsAre(Message(M::CantWrite) + CR + bonDir_));
  EXPECT_THAT(terminated_, ElementsAre(1));
  EXPECT_EQ(probes_, 0);
  EXPECT_FALSE(f.FileReadTimer.isActive());
}

// ---------------------------------------------------------------------------------------
// The automation library

TEST_F(MainWindowTest, ProbeFailsThenSelfRegistrationSucceeds) {
  WriteIniWithFolder(0);
  PutFile(appDir_ + TfrmMain::LibraryFileName, "ELF", now_);
  gRegisterCalls = 0;
  gRegisterResult = S_OK;
  entryPoint_ = reinterpret_cast<void*>(&FakeDllRegisterServer);
  probeOk_ = false;
  // The object answers once the library has registered itself.
  TMainServices s = Services();
  auto probe = s.ComServer.ProbeDriverVersion;
  s.ComServer.ProbeDriverVersion = [this, probe] {
    if (gRegisterCalls > 0) probeOk_ = true;
    return probe();
  };
  frm_ = std::make_unique<TfrmMain>(s);
  frm_->FormActivate();

  EXPECT_EQ(gRegisterCalls, 1);
  EXPECT_EQ(loadedPath_, appDir_ + "MiravokFPAxX4_BG.so");
  EXPECT_EQ(lookedUp_, "DllRegisterServer");
  EXPECT_EQ(freed_, 1);
  EXPECT_EQ(probes_, 2);
  EXPECT_EQ(frm_->ComServerVersion(), "2.0.0.1");
  EXPECT_TRUE(terminated_.empty());
  EXPECT_TRUE(dialogs_.Texts().isEmpty());
  EXPECT_TRUE(frm_->FileReadTimer.isActive());
  const std::string log = NormalLog().toStdString();
  EXPECT_THAT(log, HasSubstr("[CheckOLEServer]Class not registered"));
  EXPECT_THAT(log, HasSubstr("[CreateOLEServer]Ax not registred. Trying to register now."));
  EXPECT_THAT(log, HasSubstr(("[CreateOLEServer]Ax added: " + appDir_ + "MiravokFPAxX4_BG.so").toStdString()));
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
  if (c.fileThere) PutFile(appDir_ + TfrmMain::LibraryFileName, "ELF", now_);
  gRegisterCalls = 0;
  gRegisterResult = c.result;
  loadOk_ = c.loads;
  entryPoint_ = c.hasEntry ? reinterpret_cast<void*>(&FakeDllRegisterServer) : nullptr;
  probeOk_ = false;
  TfrmMain& f = MakeWindow();
  f.FormActivate();

  EXPECT_THAT(dialogs_.Texts(), ElementsAre(Message(M::COMServerNotExist)));
  EXPECT_THAT(terminated_, ElementsAre(1));
  EXPECT_TRUE(f.CloseAllowed);
  EXPECT_FALSE(f.FileReadTimer.isActive());
  EXPECT_TRUE(runner_.Tasks.empty());
  EXPECT_TRUE(f.ComServerVersion().isEmpty());
  EXPECT_EQ(freed_, c.freed);
  const QString path = appDir_ + "MiravokFPAxX4_BG.so";
  if (*c.logged) {
    EXPECT_THAT(ExceptionLog().toStdString(), HasSubstr((QString("[CreateOLEServer]") + c.logged + path).toStdString()));
  } else {
    EXPECT_EQ(probes_, 2);  // registered, and the object is still missing
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProbeFailsForGood,
    ::testing::Values(RegistrationFailure{"NoFile", false, true, true, S_OK, "AX file not found:", 0},
                      RegistrationFailure{"NoLoad", true, false, true, S_OK, "Cant't load library: ", 0},
                      RegistrationFailure{"NoEntry", true, true, false, S_OK, "Cant't find DllRegisterServer : ", 1},
                      RegistrationFailure{"Refused", true, true, true, E_FAIL, "Cant't  run DllRegisterServer : ", 1},
                      RegistrationFailure{"StillMissing", true, true, true, S_OK, "", 1}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// The file timer

struct TimerCase {
  const char* name;
  int interval;
  int lastCheckAgo;  // seconds; -1: never checked
  int files;
  bool busy;
  TTaskKind expected;  // tkNone: nothing started
};

void PrintTo(const TimerCase& c, std::ostream* os) { *os << c.name; }

class TimerDecision : public MainWindowTest, public ::testing::WithParamInterface<TimerCase> {};

TEST_P(TimerDecision, StartsTheRightTask) {
  const TimerCase& c = GetParam();
  runner_.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow(c.interval);
  for (int i = 0; i < c.files; ++i) PutBon(QStringLiteral("%1.bon").arg(i));
  if (c.lastCheckAgo >= 0) f.LastCheckTime = now_.addSecs(-c.lastCheckAgo);
  if (c.busy) {
    ASSERT_TRUE(f.StartTask(tkPrintTest));
  }
  const size_t before = runner_.Tasks.size();

  f.FileReadTimerTimer();

  if (c.expected == tkNone) {
    EXPECT_EQ(runner_.Tasks.size(), before);
  } else {
    ASSERT_EQ(runner_.Tasks.size(), before + 1);
    EXPECT_EQ(runner_.Last()->Request.Kind, c.expected);
    EXPECT_EQ(f.CurrentTaskKind, c.expected);
    if (c.expected == tkReadFiles) {
      EXPECT_EQ(runner_.Last()->Request.BonFolder, bonDir_);
    }
  }
  if (c.expected == tkPrinterInfo) {
    EXPECT_EQ(f.LastCheckTime, now_);
  }
  EXPECT_TRUE(dialogs_.Texts().isEmpty());  // a busy window skips the tick silently
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TimerDecision,
    ::testing::Values(TimerCase{"NeverCheckedFilesWaiting", 30, -1, 2, false, tkPrinterInfo},
                      TimerCase{"IntervalPassed", 30, 31, 2, false, tkPrinterInfo},
                      TimerCase{"IntervalNotPassedFilesWaiting", 30, 30, 2, false, tkReadFiles},
                      TimerCase{"IntervalNotPassedNoFiles", 30, 5, 0, false, tkNone},
                      TimerCase{"NoChecksFilesWaiting", 0, -1, 1, false, tkReadFiles},
                      TimerCase{"NoChecksNoFiles", 0, -1, 0, false, tkNone},
                      TimerCase{"TaskBusy", 30, -1, 2, true, tkNone},
                      TimerCase{"TaskBusyNoChecks", 0, -1, 2, true, tkNone}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, FreshReceiptFileWaitsForTheNextTick) {
  runner_.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow(0);
  PutBon("0001.bon", 0);  // still being written
  f.FileReadTimerTimer();
  EXPECT_TRUE(runner_.Tasks.empty());
}

TEST_F(MainWindowTest, UnwritableFolderDuringTimerTicksIsLoggedOnceAndShowsNoDialog) {
  TfrmMain& f = MakeRunningWindow(0);
  PutBon("0001.bon");
  TFaultyFileOps ops;
  ops.FailAt(TFileOp::Open, 0, EACCES, "bon/chktmp.txt");
  TScopedFileOps scoped(&ops);
  for (int i = 0; i < 3; ++i) f.FileReadTimerTimer();
  EXPECT_TRUE(dialogs_.Texts().isEmpty());
  EXPECT_TRUE(runner_.Tasks.empty());
  EXPECT_EQ(ExceptionLog().count("[FileReadTimerTimer]"), 1);
  // One log line that names the folder.
  const QString log = ExceptionLog();
  const QString line = log.mid(log.indexOf("[FileReadTimerTimer]")).section(QRegularExpression("[\r\n]"), 0, 0);
  EXPECT_TRUE(line.endsWith(bonDir_)) << line.toStdString();
  // From the menu the failure is shown.
  f.mnDoFilesClick();
  EXPECT_EQ(CountShown(Message(M::CantWrite) + CR + bonDir_), 1);
}

// ---------------------------------------------------------------------------------------
// Tasks, the success message and the waits

TEST_F(MainWindowTest, ShowSuccessOnlyForTasksThatReallyStarted) {
  runner_.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();

  // Refused: a Z report asked for while the printer test runs.
  f.spbTestPrnClick();
  ASSERT_TRUE(f.TaskActive());
  f.mnDayReportResetClick();
  EXPECT_EQ(CountShown(Message(M::ActiveTask)), 1);
  EXPECT_FALSE(f.ShowSuccess);
  EXPECT_EQ(runner_.Tasks.size(), 1u);
  runner_.Last()->Finish();
  EXPECT_EQ(CountShown(Message(M::FinishedOK)), 0);
  EXPECT_FALSE(f.TaskActive());

  // Cancelled: the report-period window closed without OK, then a test print.
  windows_->Periods.push_back(std::nullopt);
  f.mnFiskMemoryClick();
  EXPECT_FALSE(f.TaskActive());
  EXPECT_FALSE(f.ShowSuccess);
  f.spbTestPrnClick();
  runner_.Last()->Finish();
  EXPECT_EQ(CountShown(Message(M::FinishedOK)), 0);

  // Cancelled copy of the last receipt.
  dialogs_.PushAnswer(TDlgResult::No);
  f.CopyLastBonClick();
  EXPECT_FALSE(f.ShowSuccess);
  EXPECT_EQ(runner_.Tasks.size(), 2u);

  // Started: a Z report without errors ends with the message, one with an error without.
  f.mnDayReportResetClick();
  EXPECT_TRUE(f.ShowSuccess);
  EXPECT_EQ(runner_.Last()->Request.Kind, tkXZReport);
  EXPECT_EQ(runner_.Last()->Request.Reset, 1);
  runner_.Last()->Finish();
  EXPECT_EQ(CountShown(Message(M::FinishedOK)), 1);
  f.mnDayReportNoResetClick();
  EXPECT_EQ(runner_.Last()->Request.Reset, 0);
  runner_.Last()->Error(ekOperationError);
  runner_.Last()->Finish();
  EXPECT_EQ(CountShown(Message(M::FinishedOK)), 1);
  EXPECT_FALSE(f.ShowSuccess);
}

TEST_F(MainWindowTest, FiscalMemoryReportByDatesKeepsTheCaptionOfTheBlockReport) {
  runner_.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();
  TReportPeriod p;
  p.ByDates = true;
  p.StartDate = 45000;
  p.EndDate = 45010;
  p.Detailed = true;
  windows_->Periods.push_back(p);
  f.mnFiskMemoryClick();
  ASSERT_EQ(runner_.Tasks.size(), 1u);
  EXPECT_EQ(runner_.Last()->Request.Kind, tkReportByDates);
  EXPECT_EQ(runner_.Last()->Request.StartDate, 45000);
  EXPECT_TRUE(runner_.Last()->Request.Detailed);
  EXPECT_EQ(f.lblCurrentTaskName->text(), Message(M::ReportByBlock));
  EXPECT_TRUE(f.ShowSuccess);
}

struct AmountCase {
  const char* typed;
  bool cashOut;
  bool starts;
  double amount;
};

void PrintTo(const AmountCase& c, std::ostream* os) { *os << '"' << c.typed << '"' << (c.cashOut ? " out" : " in"); }

class CashAmount : public MainWindowTest, public ::testing::WithParamInterface<AmountCase> {};

TEST_P(CashAmount, OnlyFinitePositiveNumbersStartATask) {
  const AmountCase& c = GetParam();
  runner_.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();
  dialogs_.PushInput(QString::fromLatin1(c.typed));
  if (c.cashOut)
    f.NSumOutClick();
  else
    f.NSumInClick();
  if (c.starts) {
    ASSERT_EQ(runner_.Tasks.size(), 1u);
    EXPECT_EQ(runner_.Last()->Request.Kind, tkSumIn);
    EXPECT_DOUBLE_EQ(runner_.Last()->Request.Amount, c.amount);
    EXPECT_EQ(f.CurrentTaskKind, c.cashOut ? tkSumOut : tkSumIn);
    EXPECT_TRUE(f.ShowSuccess);
  } else {
    EXPECT_TRUE(runner_.Tasks.empty());
    EXPECT_FALSE(f.TaskActive());
    EXPECT_FALSE(f.ShowSuccess);
    EXPECT_EQ(CountShown(Message(M::InvalidValue) + ": " + c.typed), 1);
  }
  const std::vector<TShownDialog> shown = dialogs_.Shown();
  ASSERT_FALSE(shown.empty());
  EXPECT_TRUE(shown[0].Input);
  EXPECT_EQ(shown[0].Text, "\n" + Message(c.cashOut ? M::S_SumOut : M::S_SumIn) + ":");
}

INSTANTIATE_TEST_SUITE_P(Cases, CashAmount,
                         ::testing::Values(AmountCase{"12.50", false, true, 12.5}, AmountCase{"12.50", true, true, -12.5},
                                           AmountCase{" 7 ", false, true, 7}, AmountCase{"0", false, false, 0},
                                           AmountCase{"-5", false, false, 0}, AmountCase{"abc", false, false, 0},
                                           AmountCase{"12,50", false, false, 0}, AmountCase{"inf", false, false, 0},
                                           AmountCase{"nan", true, false, 0}, AmountCase{"1e999", false, false, 0}),
                         [](const auto& info) {
                           std::string name = std::string(info.param.cashOut ? "Out" : "In") + std::to_string(info.index) + "_";
                           for (const char* p = info.param.typed; *p; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

TEST_F(MainWindowTest, CancelledAmountStartsNothing) {
  TfrmMain& f = MakeRunningWindow();
  dialogs_.PushInputCancel();
  f.NSumInClick();
  EXPECT_TRUE(runner_.Tasks.empty());
  EXPECT_FALSE(f.TaskActive());
  EXPECT_EQ(f.CurrentTaskKind, tkNone);
}

TEST_F(MainWindowTest, ConnectivityWaitTimesOutWithoutReportingSuccess) {
  runner_.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow(30);
  clockStep_ = 10;  // every look at the clock is ten seconds later
  EXPECT_FALSE(f.CheckConnectivity());
  ASSERT_EQ(runner_.Tasks.size(), 1u);
  EXPECT_EQ(runner_.Last()->Request.Kind, tkCheckPrinter);
  // The task runs on; the window stays busy until it ends.
  EXPECT_TRUE(f.TaskActive());
  clockStep_ = 0;
  runner_.Last()->Finish();
  EXPECT_FALSE(f.TaskActive());
}

TEST_F(MainWindowTest, ConnectivityWaitReportsItsOwnTasksResult) {
  TfrmMain& f = MakeRunningWindow(30);
  EXPECT_TRUE(f.CheckConnectivity());
  runner_.ErrorsToReport = {ekPrinterFatal};
  EXPECT_FALSE(f.CheckConnectivity());
  // The fatal error switched the tray to the offline icon but showed no note.
  EXPECT_EQ(f.TrayIconIndex, 1);
  EXPECT_TRUE(f.lblComError->isVisibleTo(&f));
  EXPECT_FALSE(uCustomHint::CustomHintWnd().isVisible());
}

TEST_F(MainWindowTest, TestComPortRefusedByARunningTaskIsNoSuccess) {
  runner_.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();
  f.spbTestPrnClick();
  EXPECT_FALSE(f.TestComPort(3));
  EXPECT_EQ(CountShown(Message(M::ActiveTask)), 1);
  runner_.Last()->Finish();  // the other task ends without errors
  EXPECT_EQ(runner_.Tasks.size(), 1u);
}

TEST_F(MainWindowTest, TestComPortTestsThatPortWithoutSearchingAndRestoresTheSettings) {
  TfrmMain& f = MakeRunningWindow();
  f.Settings().ComPort = 4;
  f.Settings().AutoSerachDevice = true;
  f.Settings().DeviceSerialNom = "AB123456";
  runner_.ErrorsToReport = {ekPrinterFatal};
  EXPECT_FALSE(f.TestComPort(7));
  ASSERT_EQ(runner_.Tasks.size(), 1u);
  const TTaskSettings& s = runner_.Last()->Settings;
  EXPECT_EQ(s.ComPort, 7);
  EXPECT_FALSE(s.AutoSerachDevice);
  EXPECT_EQ(f.Settings().ComPort, 4);
  EXPECT_TRUE(f.Settings().AutoSerachDevice);
  EXPECT_FALSE(f.Silent);
  // The settings test changes nothing of the offline display.
  EXPECT_EQ(f.TrayIconIndex, 0);
  EXPECT_FALSE(f.imgError->isVisibleTo(&f));

  runner_.ErrorsToReport.clear();
  EXPECT_TRUE(f.TestComPort(7));
  // Port numbers the library cannot hold are refused before any task.
  EXPECT_FALSE(f.TestComPort(300));
  EXPECT_FALSE(f.TestComPort(0));
  EXPECT_EQ(runner_.Tasks.size(), 2u);
}

TEST_F(MainWindowTest, SearchDeviceBySerialSearchesAndRestores) {
  TfrmMain& f = MakeRunningWindow();
  f.Settings().DeviceSerialNom = " OLD ";
  EXPECT_TRUE(f.SearchDeviceBySerial("AB123456"));
  ASSERT_EQ(runner_.Tasks.size(), 1u);
  EXPECT_EQ(runner_.Last()->Request.Kind, tkPrinterInfo);
  EXPECT_TRUE(runner_.Last()->Settings.AutoSerachDevice);
  EXPECT_EQ(runner_.Last()->Settings.DeviceSerialNom, "AB123456");
  EXPECT_EQ(f.Settings().DeviceSerialNom, " OLD ");
  EXPECT_FALSE(f.Settings().AutoSerachDevice);
}

TEST_F(MainWindowTest, FileTaskShowsCountsErrorsAndNotes) {
  runner_.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();
  f.FileReadTimer.start();
  f.mnDoFilesClick();
  auto t = runner_.Last();
  ASSERT_TRUE(t);
  EXPECT_TRUE(f.MarqueeBar->Active());
  EXPECT_EQ(t->Settings.LogDir, appDir_ + "Log/");
  EXPECT_EQ(f.StatusText(2), Message(M::ReadFiles));
  for (int i = 0; i < 3; ++i) {
    t->Events.FileStarted(bonDir_ + QStringLiteral("000%1.bon").arg(i));
    EXPECT_EQ(f.StatusText(2), QStringLiteral("000%1.bon").arg(i));
    if (i == 1) t->Error(ekFileError);
    t->Events.FileProcessed();
  }
  EXPECT_EQ(uCustomHint::CustomHintWnd().Caption(), Message(M::ErrorInFile));
  EXPECT_EQ(f.lbCurrentStatus->text(), Message(M::FilesCount) + ": 3. " + Message(M::ErrorCount) + ": 1");
  t->Finish();
  EXPECT_EQ(f.lblLastTaskName->text(), Message(M::ReadFiles));
  EXPECT_EQ(f.lblLastTaskResult->text(), Message(M::FilesCount) + ": 3. " + Message(M::ErrorCount) + ": 1");
  EXPECT_EQ(f.lblLastTaskResult->palette().color(QPalette::WindowText), QColor(Qt::red));
  EXPECT_EQ(f.lblCurrentTaskName->text(), Message(M::NoActiveTask));
  EXPECT_EQ(CountShown(Message(M::FinishedOK)), 0);
  EXPECT_FALSE(f.MarqueeBar->Active());
  EXPECT_EQ(f.StatusText(2), Message(M::Started));
  // A fatal error during file printing shows the red-circle note.
  f.mnDoFilesClick();
  runner_.Last()->Events.PrinterOffline();
  runner_.Last()->Error(ekPrinterFatal);
  EXPECT_EQ(uCustomHint::CustomHintWnd().Caption(), Message(M::PRNFatalError) + CR + Message(M::SeeErrorFileForDetails));
  EXPECT_EQ(f.TrayIconIndex, 1);
  runner_.Last()->Events.PrinterOnline();
  EXPECT_EQ(f.TrayIconIndex, 0);
  runner_.Last()->Finish();
}

TEST_F(MainWindowTest, PauseAsksTheWorkerToStop) {
  runner_.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();
  f.chkProcessPause->setChecked(false);
  f.chkProcessPauseClick();
  EXPECT_TRUE(f.FileReadTimer.isActive());
  f.mnDoFilesClick();
  f.chkProcessPause->setChecked(true);
  f.chkProcessPauseClick();
  EXPECT_TRUE(runner_.Last()->Terminated);
  EXPECT_FALSE(f.FileReadTimer.isActive());
  EXPECT_EQ(f.StatusText(2), Message(M::StoppedByUser));
  EXPECT_EQ(uCustomHint::CustomHintWnd().Caption(), Message(M::StoppedByUser));
  runner_.Last()->Finish();
  EXPECT_EQ(f.StatusText(2), Message(M::StoppedByUser));
}

TEST_F(MainWindowTest, EveryWorkerGetsTheSettingsAndItsJobArguments) {
  runner_.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();
  TMainSettings& s = f.Settings();
  s.ComPort = 9;
  s.BaudRate = 9600;
  s.RepFilePrint = false;
  s.RepDetailPrint = false;
  s.CharEncoding = 2;
  s.DeviceSerialNom = "  AB123456 ";
  s.AutoSerachDevice = true;
  s.WatGrpBeginFromOne = true;
  s.CreateLOG = false;  // the log folder is handed over all the same
  f.mnDoFilesClick();
  ASSERT_EQ(runner_.Tasks.size(), 1u);
  const TTaskSettings& ts = runner_.Last()->Settings;
  EXPECT_EQ(ts.ComPort, 9);
  EXPECT_EQ(ts.BaudRate, 9600);
  EXPECT_FALSE(ts.RepFilePrint);
  EXPECT_FALSE(ts.RepDetailPrint);
  EXPECT_EQ(ts.CharEncoding, 2);
  EXPECT_EQ(ts.DeviceSerialNom, "AB123456");
  EXPECT_TRUE(ts.AutoSerachDevice);
  EXPECT_EQ(ts.LogDir, appDir_ + "Log/");
  EXPECT_EQ(runner_.Last()->Request.BonFolder, bonDir_);
  EXPECT_TRUE(runner_.Last()->Request.WatGrpBeginFromOne);
  runner_.Last()->Finish();

  TDepartmentRow row;
  row.Nom = 3;
  row.DepName = "Bread";
  f.Departments() = {row};
  f.RunTask(tkSetDepartments);
  ASSERT_EQ(runner_.Tasks.size(), 2u);
  ASSERT_EQ(runner_.Last()->Request.Departments.size(), 1u);
  EXPECT_EQ(runner_.Last()->Request.Departments[0].DepName, "Bread");
  EXPECT_EQ(f.lblCurrentTaskName->text(), Message(M::SetDepartments));
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
  runner_.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();
  ASSERT_TRUE(f.StartTask(c.task));
  runner_.Last()->Error(c.error);
  EXPECT_EQ(f.ErrorCount(), 1);
  EXPECT_EQ(f.lbCurrentStatus->text(), Message(M::ErrorCount) + ": 1");
  EXPECT_EQ(f.lbCurrentStatus->palette().color(QPalette::WindowText), QColor(Qt::red));
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
  runner_.Last()->Finish();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ErrorNote,
    ::testing::Values(
        NoteCase{"Operation", tkXZReport, ekOperationError, 5, {M::ErrorOccurred, M::SeeErrorFileForDetails}},
        NoteCase{"File", tkReadFiles, ekFileError, 4, {M::ErrorInFile}},
        NoteCase{"Printer", tkPrintTest, ekPrinterError, 2, {M::ErrorInPRN, M::SeeErrorFileForDetails}},
        NoteCase{"FatalWhilePrintingFiles", tkReadFiles, ekPrinterFatal, 3, {M::PRNFatalError, M::SeeErrorFileForDetails}},
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
         runner_.AutoFinish = false;
         MakeRunningWindow().spbTestPrnClick();
         frm_->mnPRNInfoClick();
       },
       Message(M::ActiveTask), TDlgKind::Error, TDlgButtons::Ok},
      {"InvalidValue",
       [this] {
         dialogs_.PushInput("0");
         MakeRunningWindow().NSumInClick();
       },
       Message(M::InvalidValue) + ": 0", TDlgKind::Warning, TDlgButtons::Ok},
      {"FinishedOK",
       [this] {
         MakeRunningWindow().mnPRNInfoClick();
         SpinUntil([this] { return !frm_->TaskActive(); });
       },
       Message(M::FinishedOK), TDlgKind::Information, TDlgButtons::Ok},
      {"CopyLastBon", [this] { MakeRunningWindow().CopyLastBonClick(); },
       Message(M::S_Confirm) + CR + Message(M::S_CopyBonConfirm), TDlgKind::Question, TDlgButtons::YesNo},
      {"Exit", [this] { MakeRunningWindow().MainMenuExitClick(); }, Message(M::ConfirmToShutdown),
       TDlgKind::Question, TDlgButtons::YesNo},
      {"LogFileNotFound", [this] { MakeRunningWindow().mnShowErrorLogClick(); },
       Message(M::LogFileNotFound) + CR + appDir_ + "Log/DriverFiscalPrinterX4_Exception.txt", TDlgKind::Warning,
       TDlgButtons::Ok},
      {"GenericError", [this] { MakeRunningWindow().ShowErrorMessage(); },
       Message(M::ErrorOccurred) + CR + Message(M::SeeErrorFileForDetails), TDlgKind::Error, TDlgButtons::Ok},
      {"CantWrite",
       [this] {
         TfrmMain& f = MakeRunningWindow();
         TFaultyFileOps ops;
         ops.FailAt(TFileOp::Open, 0, EACCES, "bon/chktmp.txt");
         TScopedFileOps scoped(&ops);
         f.mnDoFilesClick();
       },
       Message(M::CantWrite) + CR + bonDir_, TDlgKind::Error, TDlgButtons::Ok},
      {"WaitingFiles",
       [this] {
         WriteIniWithFolder(0);
         PutBon("0001.bon");
         MakeWindow().FormActivate();
       },
       Message(M::BonExistDlg) + CR + Message(M::PrintBonExist), TDlgKind::Question, TDlgButtons::YesNo},
      {"COMServerNotExist",
       [this] {
         WriteIniWithFolder(0);
         probeOk_ = false;
         MakeWindow().FormActivate();
       },
       Message(M::COMServerNotExist), TDlgKind::Error, TDlgButtons::Ok},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    dialogs_.Clear();
    runner_.AutoFinish = true;
    probeOk_ = true;
    r.act();
    std::vector<TShownDialog> shown = dialogs_.Shown();
    std::erase_if(shown, [](const TShownDialog& d) { return d.Input; });
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, r.text);
    EXPECT_EQ(shown[0].Kind, r.kind);
    EXPECT_EQ(shown[0].Buttons, r.buttons);
    frm_.reset();
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
  EXPECT_TRUE(dialogs_.Texts().isEmpty());
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
  const QString path = bonDir_ + "PRNInfo.txt";

  PutFile(path, "old", now_.addSecs(-(2 * 3600 + 59 * 60)));
  f.GetPrnInfo(info);
  EXPECT_EQ(Read(path), "old");
  EXPECT_EQ(f.lblModelName->text(), info.Model);
  EXPECT_EQ(f.Model(), info.Model);
  EXPECT_EQ(f.StatusText(0), "COM7");

  PutFile(path, "old", now_.addSecs(-3 * 3600));
  f.GetPrnInfo(info);
  const std::string expected = Utf8ToCp1251(
      "Модел: ФП-55\r\nФискален номер: 02123456\r\nСериен номер: AB123456\r\n"
      "Номер на последния документ: 1234\r\nНомер на последната фактура: 300\r\nБрой колони: 42\r\n");
  EXPECT_EQ(Read(path).toStdString(), expected);

  QFile::remove(path);
  f.GetPrnInfo(info);
  EXPECT_EQ(Read(path).toStdString(), expected);
}

// ---------------------------------------------------------------------------------------
// Closing

TEST_F(MainWindowTest, CloseButtonHidesAndExitAsks) {
  TfrmMain& f = MakeRunningWindow();
  f.show();
  EXPECT_FALSE(f.close());
  EXPECT_EQ(quits_, 0);
  dialogs_.PushAnswer(TDlgResult::No);
  f.MainMenuExitClick();
  EXPECT_EQ(quits_, 0);
  EXPECT_FALSE(f.CloseAllowed);
  dialogs_.PushAnswer(TDlgResult::Yes);
  f.MainMenuExitClick();
  EXPECT_EQ(quits_, 1);
  EXPECT_THAT(NormalLog().toStdString(), HasSubstr("Application closed"));
}

TEST_F(MainWindowTest, WithoutTrayTheWindowMinimisesInsteadOfHiding) {
  TfrmMain& f = MakeRunningWindow();
  f.show();
  trayAvailable_ = false;
  f.HideInTray();
  EXPECT_TRUE(f.isVisible());
  EXPECT_TRUE(f.windowState() & Qt::WindowMinimized);
  f.TrayIconDblClick();
  EXPECT_FALSE(f.windowState() & Qt::WindowMinimized);
  trayAvailable_ = true;
  f.HideInTray();
  EXPECT_FALSE(f.isVisible());
  f.ShowMainWindow();
  EXPECT_TRUE(f.isVisible());
}

TEST_F(MainWindowTest, ExitWhileATaskRunsWaitsForTheWorker) {
  runner_.AutoFinish = false;
  TfrmMain& f = MakeRunningWindow();
  f.show();
  f.mnDayReportResetClick();  // would show the success message
  auto t = runner_.Last();
  dialogs_.PushAnswer(TDlgResult::Yes);
  f.MainMenuExitClick();
  EXPECT_TRUE(t->Terminated);
  EXPECT_FALSE(f.isVisible());
  EXPECT_TRUE(f.QuitPending());
  EXPECT_EQ(quits_, 0);
  t->Finish();
  ASSERT_TRUE(SpinUntil([&] { return quits_ == 1; }));
  EXPECT_EQ(CountShown(Message(M::FinishedOK)), 0);
  EXPECT_THAT(NormalLog().toStdString(), HasSubstr("Application closed"));
  // The window goes; its worker's events are cut off first.
  frm_.reset();
  EXPECT_TRUE(t->Detached);
}

TEST_F(MainWindowTest, DestroyedWindowDetachesARunningWorker) {
  runner_.AutoFinish = false;
  MakeRunningWindow().mnDoFilesClick();
  auto t = runner_.Last();
  frm_.reset();
  EXPECT_TRUE(t->Detached);
}

TEST_F(MainWindowTest, LogViewersOpenTheLogsOrWarn) {
  TfrmMain& f = MakeRunningWindow();
  f.mnShowLogClick();  // the start lines made the normal log
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0].toLocalFile(), appDir_ + "Log/DriverFiscalPrinterX4_Log.txt");
  f.mnShowErrorLogClick();
  EXPECT_THAT(dialogs_.Texts(),
              ElementsAre(Message(M::LogFileNotFound) + CR + appDir_ + "Log/DriverFiscalPrinterX4_Exception.txt"));
  f.mnShowAppDataClick();
  ASSERT_EQ(opened_.size(), 2u);
  EXPECT_EQ(QDir(opened_[1].toLocalFile()).absolutePath(), QDir(appDir_ + "Log").absolutePath());
}

TEST_F(MainWindowTest, EveryMenuCommandStartsItsTask) {
  runner_.AutoFinish = true;
  TfrmMain& f = MakeRunningWindow();
  windows_->Periods.push_back(TReportPeriod{});
  struct Item {
    const char* name;
    TTaskKind kind;
    bool hourglass;  // the mouse cursor while the task runs
  };
  const Item items[] = {
      {"mnPRNInfo", tkPrinterInfo, false},
      {"mnDayReportReset", tkXZReport, true},
      {"mnDayReportNoReset", tkXZReport, true},
      {"mnDepartRpt", tkDepartmentReport, true},
      {"mnDepartRptReset", tkDepartmentReportReset, true},
      {"mnFiskMemory", tkReportByBlock, true},
      {"spbEmptyBon", tkPrintEmptyBon, true},
      {"CopyLastBon", tkCopyBon, false},
      {"spbTestPrn", tkPrintTest, true},
      {"mnDoFiles", tkReadFiles, false},
  };
  for (const auto& [name, kind, hourglass] : items) {
    QAction* a = f.MenuItem(name);
    ASSERT_NE(a, nullptr) << name;
    const size_t before = runner_.Tasks.size();
    if (kind == tkCopyBon) dialogs_.PushAnswer(TDlgResult::Yes);
    a->trigger();
    ASSERT_EQ(runner_.Tasks.size(), before + 1) << name;
    EXPECT_EQ(runner_.Last()->Request.Kind, kind) << name;
    EXPECT_EQ(QApplication::overrideCursor() != nullptr, hourglass) << name;
    // The department reports have no caption, neither while they run nor afterwards.
    const bool noCaption = kind == tkDepartmentReport || kind == tkDepartmentReportReset;
    EXPECT_EQ(f.lblCurrentTaskName->text().isEmpty(), noCaption) << name;
    ASSERT_TRUE(SpinUntil([&] { return !f.TaskActive(); })) << name;
    EXPECT_EQ(f.lblLastTaskName->text().isEmpty(), noCaption) << name;
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << name;
  }
  for (const char* name : {"MainMenuExit", "mnHide", "MainMenuPreferences", "mnPayTypesRel", "mnShowLog",
                           "mnShowErrorLog", "mnShowAppData", "MainMenuAbout", "mnDepartments", "NSumIn", "NSumOut",
                           "PMenuConfig", "PMenuMinimize", "PMenuAbout", "PMenuExit"})
    EXPECT_NE(f.MenuItem(name), nullptr) << name;
}

TEST_F(MainWindowTest, LanguageFileTranslatesTheWindowButNotItsTitle) {
  QDir().mkpath(appDir_ + "Translations");
  PutFile(appDir_ + "Translations/DriverFiscalPrinterX4.lng",
          "[frmMain]\r\nfrmMain=Other title\r\nlblCurrentTaskHdr=Current task\r\nmnPRNInfo=Printer info\r\n"
          "LabelPrinterName=Model\r\nlblModelName=never\r\n[Messages]\r\nNoActiveTask=Idle\r\n",
          now_);
  TfrmMain& f = MakeRunningWindow();
  EXPECT_EQ(f.windowTitle(), "MIRAVOK FP driver (" + appDir_ + "DriverFiscalPrinterX4)");
  EXPECT_EQ(f.lblCurrentTaskHdr->text(), "Current task");
  EXPECT_EQ(f.MenuItem("mnPRNInfo")->text(), "Printer info");
  EXPECT_EQ(f.lblModelName->text(), "-");
  EXPECT_EQ(f.lblCurrentTaskName->text(), "Idle");
  // The translated caption goes into PRNInfo.txt.
  TPRNInfo info;
  info.Model = "Wren S";
  f.GetPrnInfo(info);
  EXPECT_TRUE(Read(bonDir_ + "PRNInfo.txt").startsWith("Model: Wren S\r\n"));
}

// ---------------------------------------------------------------------------------------
// The look

TEST_F(MainWindowTest, ScreenshotOfTheMainWindow) {
  TfrmMain& f = MakeRunningWindow();
  TPRNInfo info;
  info.Model = "Wren S";
  info.SerialNo = "AB123456";
  info.FiscalNo = "02123456";
  info.LineLength = 42;
  info.LastDocNo = 1234;
  info.NextInvoiceNo = 300;
  info.ComPort = 1;
  f.GetPrnInfo(info);
  // The window comes up centred on the screen.
  const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
  EXPECT_LE((f.geometry().center() - centre).manhattanLength(), 2);
  f.show();
  ASSERT_TRUE(SpinUntil([&] { return f.isVisible(); }));
  const QPixmap shot = f.grab();
  EXPECT_EQ(shot.width(), 515);
  EXPECT_GE(shot.height(), 358);
  const QString dir = QStringLiteral(FP_BIN_DIR "/../screenshots");
  ASSERT_TRUE(QDir().mkpath(dir));
  const QString file = dir + "/frmMain.png";
  ASSERT_TRUE(shot.save(file, "PNG"));
  QPixmap back;
  ASSERT_TRUE(back.load(file));
  EXPECT_EQ(back.size(), shot.size());
}

}  // namespace
}  // namespace fp::testing
