// The task runner without a window: what each task start asks and hands the worker, the
// file timer's decisions, the folder fault, the waits, the end of a task and its workers.
#include "program/tasks/uTaskRunner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cctype>
#include <cerrno>
#include <memory>
#include <optional>

#include "program/app/uConst.h"
#include "program/app/uStrRes.h"
#include "tests/support/QtTestEnvironment.h"
#include "tests/support/uTaskRunnerTestSupport.h"
#include "program/app/uProgramInfo.h"
#include "platform/FileOps.h"

namespace fp::test {
namespace {

using uStrRes::Message;
namespace M = uStrRes;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const QString CR = QStringLiteral("\r");

// The runner's timers and waits need an application object; no widget is made.
[[maybe_unused]] TQtTestEnvironment& gQtEnvironment = QtTestEnvironment<QCoreApplication>();

class TaskRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.isValid());
    appDir_ = tmp_.path() + "/";
    bonDir_ = appDir_ + "bon/";
    logDir_ = appDir_ + "Log/";
    ASSERT_TRUE(QDir().mkpath(bonDir_));
    ASSERT_TRUE(QDir().mkpath(logDir_));
    uProgramInfo::SetAppDir(appDir_);
    oldExt_ = uConst::BonFileExt();
    uConst::SetBonFileExt("bon");
    uStrRes::ResetMessages();
    now_ = QDateTime::currentDateTime().addSecs(5);
    settings_.SearchPath = bonDir_;
    settings_.CheckPrnIntevalSec = 30;
  }
  void TearDown() override {
    runner_.reset();
    uProgramInfo::SetAppDir("");
    uConst::SetBonFileExt(oldExt_);
  }

  // The runner over the test's settings, clock, workers and observer; made on first use.
  TTaskRunner& Runner() {
    if (!runner_) {
      TTaskRunnerServices s;
      s.Now = [this] {
        const QDateTime t = now_;
        now_ = now_.addSecs(clockStep_);
        return t;
      };
      TTaskThreadFactory fake = workers_.Factory();
      s.CreateTask = [this, fake](const TTaskRequest& r) -> std::unique_ptr<ITaskThread> {
        return noWorker_ ? nullptr : fake(r);
      };
      s.Log = [this](const QString& line) { log_ << line; };
      s.ErrorLog = [this](const QString& line) { errorLog_ << line; };
      s.ReadyAgeMs = readyAgeMs_;
      s.MonotonicMs = [this] {
        const int64_t t = monoMs_;
        monoMs_ += monoStepMs_;
        return t;
      };
      runner_ = std::make_unique<TTaskRunner>(s, settings_, view_);
      runner_->SetLogDir(logDir_);
    }
    return *runner_;
  }

  // A receipt file that was written `ageSec` seconds before the test clock.
  void PutBon(const QString& name, int ageSec = 10) {
    QFile f(bonDir_ + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("S,1,______,_,__;X;1;1\r\n");
    f.close();
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(now_.addSecs(-ageSec), QFileDevice::FileModificationTime));
  }
  int CountLines(const QStringList& lines, const QString& part) const {
    int n = 0;
    for (const QString& l : lines) n += l.contains(part);
    return n;
  }

  QTemporaryDir tmp_;
  QString appDir_, bonDir_, logDir_;
  QString oldExt_;
  TMainSettings settings_;
  QDateTime now_;
  int clockStep_ = 0;
  // The monotonic clock of the waits and how far each look at it moves it.
  int64_t monoMs_ = 1000000;
  int64_t monoStepMs_ = 0;
  // A receipt file is ready as soon as it is seen (the tests of settling set it).
  int readyAgeMs_ = 0;
  bool noWorker_ = false;
  TFakeWorkers workers_;
  TRecordingObserver view_;
  QStringList log_, errorLog_;
  std::unique_ptr<TTaskRunner> runner_;
};

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

class TimerDecision : public TaskRunnerTest, public ::testing::WithParamInterface<TimerCase> {};

TEST_P(TimerDecision, StartsTheRightTask) {
  const TimerCase& c = GetParam();
  workers_.AutoFinish = false;
  settings_.CheckPrnIntevalSec = c.interval;
  TTaskRunner& r = Runner();
  for (int i = 0; i < c.files; ++i) PutBon(QStringLiteral("%1.bon").arg(i));
  if (c.lastCheckAgo >= 0) r.SetLastCheckTime(now_.addSecs(-c.lastCheckAgo));
  if (c.busy) {
    ASSERT_TRUE(r.StartTask(tkPrintTest));
  }
  const size_t before = workers_.Tasks.size();

  r.FileTimerTick();

  if (c.expected == tkNone) {
    EXPECT_EQ(workers_.Tasks.size(), before);
  } else {
    ASSERT_EQ(workers_.Tasks.size(), before + 1);
    EXPECT_EQ(workers_.Last()->Request.Kind, c.expected);
    EXPECT_EQ(r.CurrentTaskKind(), c.expected);
    if (c.expected == tkReadFiles) {
      EXPECT_EQ(workers_.Last()->Request.BonFolder, bonDir_);
    }
  }
  if (c.expected == tkPrinterInfo) {
    EXPECT_EQ(r.LastCheckTime(), now_);
    EXPECT_THAT(log_, ElementsAre("Checking connectivity."));
  }
  EXPECT_THAT(view_.Notices, IsEmpty());  // a busy runner skips the tick silently
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

// A file that has just come starts no task, whatever its stamp: the window is asked for a
// tick at the moment the file will have stayed unchanged long enough, and that tick takes it.
TEST_F(TaskRunnerTest, FreshReceiptFileIsTakenAtTheTickItAsksFor) {
  workers_.AutoFinish = false;
  settings_.CheckPrnIntevalSec = 0;
  readyAgeMs_ = uPRNFileThread::ReadyAgeMs;
  Runner().FileTimerTick();  // nothing waits: no extra tick
  EXPECT_THAT(view_.TickRequests, IsEmpty());
  PutBon("0001.bon", -600);  // stamped ten minutes ahead (a share whose clock runs ahead)
  Runner().FileTimerTick();
  EXPECT_TRUE(workers_.Tasks.empty());
  EXPECT_THAT(view_.TickRequests, ElementsAre(500));
  now_ = now_.addMSecs(499);
  Runner().FileTimerTick();
  EXPECT_TRUE(workers_.Tasks.empty());
  EXPECT_THAT(view_.TickRequests, ElementsAre(500, 1));
  now_ = now_.addMSecs(1);
  Runner().FileTimerTick();
  EXPECT_THAT(workers_.Kinds(), ElementsAre(tkReadFiles));
  EXPECT_THAT(view_.TickRequests, ElementsAre(500, 1));
  // The worker lets files settle as long as the runner does.
  EXPECT_EQ(workers_.Last()->Settings.ReadyAgeMs, uPRNFileThread::ReadyAgeMs);
}

class FolderFault : public TaskRunnerTest, public ::testing::WithParamInterface<FolderFaultCase> {
 protected:
  void Break(TFaultyFileOps& ops) { ASSERT_TRUE(BreakFolder(GetParam().problem, bonDir_, ops)); }
};

TEST_P(FolderFault, StopsTheTimerLogsItsStartAndEndOnceAndPrintingResumes) {
  const FolderFaultCase& c = GetParam();
  settings_.CheckPrnIntevalSec = 0;
  TTaskRunner& r = Runner();
  TFaultyFileOps ops;
  TScopedFileOps scoped(&ops);
  Break(ops);
  if (c.fileWaits) PutBon("0001.bon");

  for (int i = 0; i < 3; ++i) r.FileTimerTick();
  EXPECT_THAT(view_.Notices, IsEmpty());
  EXPECT_TRUE(workers_.Tasks.empty());
  EXPECT_EQ(r.FolderFault().Problem, c.problem);
  EXPECT_EQ(r.FolderFault().Folder, bonDir_);
  EXPECT_EQ(view_.AlertChanges, 1);
  // One line names the folder and the failed call's reason.
  ASSERT_EQ(CountLines(errorLog_, "[FileReadTimerTimer]"), 1) << errorLog_.join('\n').toStdString();
  EXPECT_TRUE(errorLog_[0].contains(bonDir_)) << errorLog_[0].toStdString();
  EXPECT_TRUE(errorLog_[0].contains('(')) << errorLog_[0].toStdString();
  if (c.problem == TFolderProblem::Unwritable) {
    // Started by the operator, the failure is shown, once per command.
    EXPECT_FALSE(r.StartTask(tkReadFiles));
    EXPECT_EQ(view_.NoticeTexts(TRunnerNotice::CantWrite), QStringList{Message(M::CantWrite) + CR + bonDir_});
  }

  ops.Clear();
  ASSERT_TRUE(QDir().mkpath(bonDir_));
  PutBon("0001.bon");
  r.FileTimerTick();
  EXPECT_FALSE(r.FolderFault());
  EXPECT_EQ(view_.AlertChanges, 2);
  EXPECT_EQ(CountLines(errorLog_, "[FileReadTimerTimer]Folder can be used again: " + bonDir_), 1);
  EXPECT_THAT(workers_.Kinds(), ElementsAre(tkReadFiles));
  ASSERT_TRUE(SpinUntil([&] { return !r.TaskActive(); }));
  r.FileTimerTick();
  EXPECT_EQ(CountLines(errorLog_, "[FileReadTimerTimer]"), 2);
}

INSTANTIATE_TEST_SUITE_P(Cases, FolderFault,
                         ::testing::ValuesIn(kFolderFaultCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TaskRunnerTest, NoPrinterCheckWhileTheReceiptFolderIsMissing) {
  TTaskRunner& r = Runner();  // never checked: a check is due
  ASSERT_TRUE(QDir(bonDir_).removeRecursively());
  r.FileTimerTick();
  EXPECT_TRUE(workers_.Tasks.empty());
  EXPECT_THAT(log_, IsEmpty());
  EXPECT_FALSE(r.LastCheckTime().isValid());
  ASSERT_TRUE(QDir().mkpath(bonDir_));
  r.FileTimerTick();
  EXPECT_THAT(workers_.Kinds(), ElementsAre(tkPrinterInfo));
}

// ---------------------------------------------------------------------------------------
// What a task start asks and hands the worker

// The settings that say how receipt files are read are taken once, when the task starts:
// a save of the settings windows while it runs reaches the next task only.
TEST_F(TaskRunnerTest, ReceiptSettingsAreTakenAtTheStartOfTheTask) {
  workers_.AutoFinish = false;
  TTaskRunner& r = Runner();
  const auto oldPairs = uConst::PayTypePairs();
  const QString oldPas = uConst::CashierPas();
  const bool oldPlu = uConst::UsePluAsDepartNo();
  uConst::SetPayTypePairs({{3, 2}});
  uConst::SetCashierPas(QStringLiteral("1234"));
  uConst::SetUsePluAsDepartNo(true);
  uConst::SetBonFileExt(QStringLiteral("txt"));
  ASSERT_TRUE(r.StartTask(tkReadFiles));
  uConst::SetPayTypePairs({{5, 6}});
  uConst::SetCashierPas(QStringLiteral("9999"));
  uConst::SetUsePluAsDepartNo(false);
  uConst::SetBonFileExt(QStringLiteral("bon"));
  const TTaskSettings first = workers_.Last()->Settings;
  EXPECT_EQ(first.PayTypePairs, (std::vector<TPayTypePair>{{3, 2}}));
  EXPECT_EQ(first.CashierPas, QStringLiteral("1234"));
  EXPECT_TRUE(first.UsePluAsDepartNo);
  EXPECT_EQ(first.BonFileExt, QStringLiteral("txt"));
  workers_.Last()->Finish();
  ASSERT_TRUE(r.StartTask(tkPrintTest));
  const TTaskSettings& next = workers_.Last()->Settings;
  EXPECT_EQ(next.PayTypePairs, (std::vector<TPayTypePair>{{5, 6}}));
  EXPECT_EQ(next.CashierPas, QStringLiteral("9999"));
  EXPECT_FALSE(next.UsePluAsDepartNo);
  EXPECT_EQ(next.BonFileExt, QStringLiteral("bon"));
  uConst::SetPayTypePairs(oldPairs);
  uConst::SetCashierPas(oldPas);
  uConst::SetUsePluAsDepartNo(oldPlu);
}

// The runner's listing and every worker decide by one watch: what the ticks have seen of a
// file counts for the job that takes it.
TEST_F(TaskRunnerTest, EveryWorkerIsHandedTheRunnersFolderWatch) {
  TTaskRunner& r = Runner();
  ASSERT_TRUE(r.FolderWatch());
  ASSERT_TRUE(r.StartTask(tkReadFiles));
  QCoreApplication::processEvents();
  ASSERT_TRUE(r.StartTask(tkPrintTest));
  ASSERT_EQ(workers_.Tasks.size(), 2u);
  for (const auto& task : workers_.Tasks) EXPECT_EQ(task->Request.Watch, r.FolderWatch());
}

TEST_F(TaskRunnerTest, EveryWorkerGetsTheSettingsAndItsJobArguments) {
  workers_.AutoFinish = false;
  TTaskRunner& r = Runner();
  settings_.ComPort = 9;
  settings_.BaudRate = 9600;
  settings_.RepFilePrint = false;
  settings_.RepDetailPrint = false;
  settings_.CharEncoding = 2;
  settings_.DeviceSerialNom = "  AB123456 ";
  settings_.AutoSerachDevice = true;
  settings_.WatGrpBeginFromOne = true;
  settings_.CreateLOG = false;  // the log folder is handed over all the same
  ASSERT_TRUE(r.StartTask(tkReadFiles));
  ASSERT_EQ(workers_.Tasks.size(), 1u);
  const TTaskSettings& ts = workers_.Last()->Settings;
  EXPECT_EQ(ts.ComPort, 9);
  EXPECT_EQ(ts.BaudRate, 9600);
  EXPECT_FALSE(ts.RepFilePrint);
  EXPECT_FALSE(ts.RepDetailPrint);
  EXPECT_EQ(ts.CharEncoding, 2);
  EXPECT_EQ(ts.DeviceSerialNom, "AB123456");
  EXPECT_TRUE(ts.AutoSerachDevice);
  EXPECT_EQ(ts.LogDir, logDir_);
  EXPECT_EQ(ts.BonFolder, bonDir_);
  EXPECT_TRUE(workers_.Last()->Resumed);
  EXPECT_EQ(workers_.Last()->Request.BonFolder, bonDir_);
  EXPECT_TRUE(workers_.Last()->Request.WatGrpBeginFromOne);
  EXPECT_TRUE(view_.Busy);
  EXPECT_THAT(view_.Reports, ElementsAre(QStringLiteral("started %1").arg(static_cast<int>(tkReadFiles))));
  workers_.Last()->Finish();

  // The read task fills the department list; the write task takes a copy of it.
  ASSERT_TRUE(r.StartTask(tkGetDepartments));
  TDepartmentRow row;
  row.Nom = 3;
  row.DepName = "Bread";
  workers_.Last()->Events.DepartmentReceived(row);
  workers_.Last()->Finish();
  ASSERT_EQ(r.Departments().size(), 1u);
  ASSERT_TRUE(r.StartTask(tkSetDepartments));
  r.Departments().clear();
  ASSERT_EQ(workers_.Last()->Request.Departments.size(), 1u);
  EXPECT_EQ(workers_.Last()->Request.Departments[0].DepName, "Bread");

  // X and Z reports differ by the flag only.
  workers_.Last()->Finish();
  ASSERT_TRUE(r.StartTask(tkXZReport, TDailyReport::Z));
  EXPECT_EQ(workers_.Last()->Request.Reset, 1);
  workers_.Last()->Finish();
  ASSERT_TRUE(r.StartTask(tkXZReport, TDailyReport::X));
  EXPECT_EQ(workers_.Last()->Request.Reset, 0);
}

TEST_F(TaskRunnerTest, FiscalMemoryReportAsksForThePeriodAndKeepsTheCaptionOfTheBlockReport) {
  workers_.AutoFinish = false;
  TTaskRunner& r = Runner();
  TReportPeriod dates;
  dates.ByDates = true;
  dates.StartDate = 45000;
  dates.EndDate = 45010;
  dates.Detailed = true;
  TReportPeriod blocks;
  blocks.FirstBlock = 4;
  blocks.LastBlock = 9;
  view_.Periods = {dates, blocks, std::nullopt};

  ASSERT_TRUE(r.StartTask(tkReportByBlock));
  const TTaskRequest& byDates = workers_.Last()->Request;
  EXPECT_EQ(byDates.Kind, tkReportByDates);
  EXPECT_EQ(byDates.StartDate, 45000);
  EXPECT_EQ(byDates.EndDate, 45010);
  EXPECT_TRUE(byDates.Detailed);
  EXPECT_EQ(r.CurrentTaskKind(), tkReportByBlock);
  EXPECT_EQ(view_.Reports.last(), QStringLiteral("started %1").arg(static_cast<int>(tkReportByBlock)));
  EXPECT_EQ(TTaskRunner::TaskCaption(tkReportByBlock), QStringLiteral("Печат на отчет по блокове."));
  workers_.Last()->Finish();

  ASSERT_TRUE(r.StartTask(tkReportByBlock));
  EXPECT_EQ(workers_.Last()->Request.Kind, tkReportByBlock);
  EXPECT_EQ(workers_.Last()->Request.FirstBlock, 4);
  EXPECT_EQ(workers_.Last()->Request.LastBlock, 9);
  workers_.Last()->Finish();

  // Closed without OK: nothing starts and the runner is idle again at once.
  EXPECT_FALSE(r.StartTask(tkReportByBlock));
  EXPECT_EQ(workers_.Tasks.size(), 2u);
  EXPECT_FALSE(r.TaskActive());
  EXPECT_EQ(r.CurrentTaskKind(), tkNone);
}

struct AmountCase {
  const char* typed;
  bool cashOut;
  bool starts;
  double amount;
};

void PrintTo(const AmountCase& c, std::ostream* os) { *os << '"' << c.typed << '"' << (c.cashOut ? " out" : " in"); }

class CashAmount : public TaskRunnerTest, public ::testing::WithParamInterface<AmountCase> {};

TEST_P(CashAmount, OnlyFinitePositiveNumbersStartATask) {
  const AmountCase& c = GetParam();
  workers_.AutoFinish = false;
  TTaskRunner& r = Runner();
  view_.Amounts.push_back(QString::fromLatin1(c.typed));
  const bool started = r.StartTask(c.cashOut ? tkSumOut : tkSumIn);
  EXPECT_EQ(started, c.starts);
  EXPECT_THAT(view_.Prompts, ElementsAre(Message(c.cashOut ? M::S_SumOut : M::S_SumIn) + ": [0]"));
  if (c.starts) {
    ASSERT_EQ(workers_.Tasks.size(), 1u);
    EXPECT_EQ(workers_.Last()->Request.Kind, tkSumIn);
    EXPECT_DOUBLE_EQ(workers_.Last()->Request.Amount, c.amount);
    EXPECT_EQ(r.CurrentTaskKind(), c.cashOut ? tkSumOut : tkSumIn);
    EXPECT_TRUE(r.ShowSuccess());
    EXPECT_TRUE(view_.Hourglass);
  } else {
    EXPECT_TRUE(workers_.Tasks.empty());
    EXPECT_FALSE(r.TaskActive());
    EXPECT_EQ(r.CurrentTaskKind(), tkNone);
    EXPECT_FALSE(r.ShowSuccess());
    EXPECT_FALSE(view_.Hourglass);
    EXPECT_EQ(view_.NoticeTexts(TRunnerNotice::InvalidValue),
              QStringList{Message(M::InvalidValue) + ": " + c.typed});
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CashAmount,
                         ::testing::Values(AmountCase{.typed = "12.50", .cashOut = false, .starts = true, .amount = 12.5},
                                           AmountCase{.typed = "12.50", .cashOut = true, .starts = true, .amount = -12.5},
                                           AmountCase{.typed = " 7 ", .cashOut = false, .starts = true, .amount = 7},
                                           AmountCase{.typed = "0", .cashOut = false, .starts = false, .amount = 0},
                                           AmountCase{.typed = "-5", .cashOut = false, .starts = false, .amount = 0},
                                           AmountCase{.typed = "abc", .cashOut = false, .starts = false, .amount = 0},
                                           AmountCase{.typed = "12,50", .cashOut = false, .starts = false, .amount = 0},
                                           AmountCase{.typed = "inf", .cashOut = false, .starts = false, .amount = 0},
                                           AmountCase{.typed = "nan", .cashOut = true, .starts = false, .amount = 0},
                                           AmountCase{.typed = "1e999", .cashOut = false, .starts = false, .amount = 0}),
                         [](const auto& info) {
                           std::string name = std::string(info.param.cashOut ? "Out" : "In") + std::to_string(info.index) + "_";
                           for (const char* p = info.param.typed; *p; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

TEST_F(TaskRunnerTest, CancelledAmountStartsNothing) {
  TTaskRunner& r = Runner();
  view_.Amounts.push_back(std::nullopt);
  EXPECT_FALSE(r.StartTask(tkSumIn));
  EXPECT_TRUE(workers_.Tasks.empty());
  EXPECT_FALSE(r.TaskActive());
  EXPECT_EQ(r.CurrentTaskKind(), tkNone);
  EXPECT_THAT(view_.Notices, IsEmpty());
}

TEST_F(TaskRunnerTest, ASecondTaskIsRefusedWithTheMessageOnlyWhenTheOperatorAskedForIt) {
  workers_.AutoFinish = false;
  TTaskRunner& r = Runner();
  ASSERT_TRUE(r.StartTask(tkPrintTest));
  EXPECT_FALSE(r.StartTask(tkXZReport));
  EXPECT_FALSE(r.StartTask(tkReadFiles, TTaskStarter::Timer));
  EXPECT_EQ(view_.NoticeTexts(TRunnerNotice::ActiveTask), QStringList{Message(M::ActiveTask)});
  EXPECT_EQ(workers_.Tasks.size(), 1u);
  EXPECT_FALSE(workers_.Last()->Terminated);
  EXPECT_EQ(r.CurrentTaskKind(), tkPrintTest);
}

TEST_F(TaskRunnerTest, WorkerThatCannotBeCreatedLeavesTheRunnerIdle) {
  TTaskRunner& r = Runner();
  noWorker_ = true;
  view_.Amounts.push_back(QStringLiteral("5"));
  EXPECT_FALSE(r.StartTask(tkSumIn));
  EXPECT_THAT(errorLog_, ElementsAre("[StartTaskThread]no worker"));
  EXPECT_EQ(view_.NoticeTexts(TRunnerNotice::ErrorMessage),
            QStringList{Message(M::ErrorOccurred) + CR + Message(M::SeeErrorFileForDetails)});
  EXPECT_FALSE(r.TaskActive());
  EXPECT_EQ(r.CurrentTaskKind(), tkNone);
  EXPECT_FALSE(r.ShowSuccess());
  EXPECT_FALSE(view_.Busy);
  EXPECT_FALSE(view_.Hourglass);
  EXPECT_THAT(view_.Reports, IsEmpty());
  noWorker_ = false;
  EXPECT_TRUE(r.StartTask(tkPrintTest));
}

// ---------------------------------------------------------------------------------------
// A task's course and end

TEST_F(TaskRunnerTest, FileTaskCountsFilesAndErrorsAndKeepsThemUntilTheNextTask) {
  workers_.AutoFinish = false;
  TTaskRunner& r = Runner();
  ASSERT_TRUE(r.StartTask(tkReadFiles));
  auto t = workers_.Last();
  for (int i = 0; i < 3; ++i) {
    t->Events.FileStarted(bonDir_ + QStringLiteral("000%1.bon").arg(i));
    if (i == 1) t->Error(ekFileError);
    t->Events.FileProcessed();
  }
  t->Finish();
  const QString file = QStringLiteral("file ") + bonDir_;
  EXPECT_THAT(view_.Reports,
              ElementsAre(QStringLiteral("started 2"), file + "0000.bon", "processed 1 0", file + "0001.bon",
                          QStringLiteral("error 2 %1 1").arg(static_cast<int>(ekFileError)), "processed 2 1", file + "0002.bon",
                          "processed 3 1", "ended 2 3 1", "idle"));
  EXPECT_FALSE(r.TaskActive());
  EXPECT_FALSE(view_.Busy);
  EXPECT_EQ(r.CurrentTaskKind(), tkNone);
  EXPECT_EQ(r.ProcessedCount(), 3);
  EXPECT_EQ(r.ErrorCount(), 1);
  ASSERT_TRUE(r.StartTask(tkPrintTest));
  EXPECT_EQ(r.ProcessedCount(), 0);
  EXPECT_EQ(r.ErrorCount(), 0);
}

struct SuccessCase {
  const char* name;
  bool asked;  // the command asked for the success message
  int errors;
  bool quit;   // the program is closing
  bool shown;
};

void PrintTo(const SuccessCase& c, std::ostream* os) { *os << c.name; }

class SuccessMessage : public TaskRunnerTest, public ::testing::WithParamInterface<SuccessCase> {};

TEST_P(SuccessMessage, OnlyForAnAskedTaskWithoutErrorsWhileTheProgramStays) {
  const SuccessCase& c = GetParam();
  workers_.AutoFinish = false;
  TTaskRunner& r = Runner();
  ASSERT_TRUE(r.StartTask(tkXZReport));
  EXPECT_TRUE(view_.Hourglass);
  r.SetShowSuccess(c.asked);
  auto t = workers_.Last();
  for (int i = 0; i < c.errors; ++i) t->Error(ekOperationError);
  if (c.quit) {
    r.RequestQuit();
    EXPECT_TRUE(t->Terminated);
  }
  // While the message is open the runner still counts as busy.
  bool activeAtMessage = false;
  view_.OnNotice = [&](TRunnerNotice) { activeAtMessage = r.TaskActive(); };
  t->Finish();
  EXPECT_EQ(view_.NoticeTexts(TRunnerNotice::FinishedOK).size(), c.shown ? 1 : 0);
  if (c.shown) {
    EXPECT_TRUE(activeAtMessage);
  }
  EXPECT_FALSE(r.ShowSuccess());
  EXPECT_FALSE(r.TaskActive());
  EXPECT_FALSE(view_.Hourglass);
  EXPECT_EQ(view_.Reports.last(), "idle");
  EXPECT_EQ(r.QuitPending(), c.quit);
}

INSTANTIATE_TEST_SUITE_P(Cases, SuccessMessage,
                         ::testing::Values(
                             SuccessCase{.name = "Asked", .asked = true, .errors = 0, .quit = false, .shown = true},
                             SuccessCase{.name = "NotAsked", .asked = false, .errors = 0, .quit = false, .shown = false},
                             SuccessCase{.name = "AskedWithAnError", .asked = true, .errors = 1, .quit = false, .shown = false},
                             SuccessCase{.name = "AskedWhileClosing", .asked = true, .errors = 0, .quit = true, .shown = false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TaskRunnerTest, LateEventsOfAnEarlierTaskAreDropped) {
  workers_.AutoFinish = false;
  TTaskRunner& r = Runner();
  ASSERT_TRUE(r.StartTask(tkPrintTest));
  auto first = workers_.Last();
  first->ReportFinished();  // its thread is still ending
  ASSERT_TRUE(r.StartTask(tkReadFiles));
  const QStringList before = view_.Reports;
  first->Error(ekPrinterFatal);
  first->Events.PrinterOffline();
  first->Events.FileProcessed();
  first->ReportFinished();
  EXPECT_EQ(view_.Reports, before);
  EXPECT_TRUE(r.TaskActive());
  EXPECT_EQ(r.ErrorCount(), 0);
  EXPECT_FALSE(r.IsPrinterOffline());
  // The running task's own events still count, and only once it has ended are its
  // events dropped as well.
  auto second = workers_.Last();
  second->Finish();
  EXPECT_FALSE(r.TaskActive());
  second->Error(ekFileError);
  EXPECT_EQ(r.ErrorCount(), 0);
}

TEST_F(TaskRunnerTest, EndedWorkerIsKeptUntilItsThreadHasEnded) {
  workers_.AutoFinish = false;
  TTaskRunner& r = Runner();
  ASSERT_TRUE(r.StartTask(tkPrintTest));
  auto t = workers_.Last();
  t->ReportFinished();
  EXPECT_EQ(r.RetiredCount(), 1u);
  // The purge looks again and again while the thread runs.
  EXPECT_FALSE(SpinUntil([&] { return r.RetiredCount() == 0; }, 100));
  EXPECT_FALSE(t->Detached);
  t->Done = true;
  ASSERT_TRUE(SpinUntil([&] { return r.RetiredCount() == 0; }));
  EXPECT_TRUE(t->Detached);  // destroyed

  // A runner that goes detaches its running worker first.
  ASSERT_TRUE(r.StartTask(tkPrintTest));
  auto running = workers_.Last();
  runner_.reset();
  EXPECT_TRUE(running->Detached);
}

// ---------------------------------------------------------------------------------------
// Waits

TEST_F(TaskRunnerTest, ConnectivityWaitTimesOutWithoutReportingSuccess) {
  workers_.AutoFinish = false;
  TTaskRunner& r = Runner();
  monoStepMs_ = 10000;  // every look at the clock is ten seconds later
  EXPECT_FALSE(r.CheckConnectivity());
  EXPECT_THAT(log_, ElementsAre("Checking connectivity."));
  EXPECT_THAT(workers_.Kinds(), ElementsAre(tkCheckPrinter));
  EXPECT_FALSE(view_.Hourglass);
  // The task runs on; the runner stays busy until it ends.
  EXPECT_TRUE(r.TaskActive());
  monoStepMs_ = 0;
  workers_.Last()->Finish();
  EXPECT_FALSE(r.TaskActive());
}

// Printed receipts move the printer's counters on: once no file waits, the next tick reads
// the printer's data again (with checks on), and only once.
TEST_F(TaskRunnerTest, PrinterDataAreReadAgainAfterReceiptsPrinted) {
  for (int interval : {30, 0}) {
    SCOPED_TRACE(interval);
    settings_.CheckPrnIntevalSec = interval;
    runner_.reset();
    workers_.Tasks.clear();
    workers_.AutoFinish = false;
    TTaskRunner& r = Runner();
    r.SetLastCheckTime(now_);
    PutBon("0001.bon");
    r.FileTimerTick();
    ASSERT_EQ(workers_.Kinds(), std::vector<TTaskKind>{tkReadFiles});
    QFile::remove(bonDir_ + "0001.bon");
    workers_.Last()->Events.FileProcessed();
    workers_.Last()->Finish();
    workers_.AutoFinish = true;
    r.FileTimerTick();
    ASSERT_TRUE(SpinUntil([&] { return !r.TaskActive(); }));
    r.FileTimerTick();
    if (interval > 0)
      EXPECT_THAT(workers_.Kinds(), ElementsAre(tkReadFiles, tkPrinterInfo));
    else
      EXPECT_THAT(workers_.Kinds(), ElementsAre(tkReadFiles));
  }
}

// The PC clock changes while a wait waits (daylight saving, a time server, the operator):
// the wait is timed by the monotonic clock alone and takes the task's own result.
TEST_F(TaskRunnerTest, WaitsIgnoreAJumpOfTheWallClock) {
  for (int jumpSec : {-3600, 3600}) {
    SCOPED_TRACE(jumpSec);
    workers_.AutoFinish = false;
    TTaskRunner& r = Runner();
    clockStep_ = jumpSec;
    monoStepMs_ = 20;
    QTimer::singleShot(100, [this] { workers_.Last()->Finish(); });
    EXPECT_TRUE(r.CheckConnectivity());
    EXPECT_FALSE(r.TaskActive());
    clockStep_ = 0;
    monoStepMs_ = 0;
  }
}

TEST_F(TaskRunnerTest, ConnectivityWaitReportsItsOwnTasksResult) {
  TTaskRunner& r = Runner();
  EXPECT_TRUE(r.CheckConnectivity());
  workers_.ErrorsToReport = {ekPrinterFatal};
  EXPECT_FALSE(r.CheckConnectivity());
  // The check is not silent: the fatal error marks the printer offline.
  EXPECT_TRUE(r.IsPrinterOffline());
  EXPECT_GT(view_.AlertChanges, 0);
  // Without periodic checks the task is started and not waited for.
  workers_.AutoFinish = false;
  settings_.CheckPrnIntevalSec = 0;
  EXPECT_TRUE(r.CheckConnectivity());
  EXPECT_TRUE(r.TaskActive());
  EXPECT_FALSE(r.ShowSuccess());
}

TEST_F(TaskRunnerTest, TestComPortRefusedByARunningTaskIsNoSuccess) {
  workers_.AutoFinish = false;
  TTaskRunner& r = Runner();
  ASSERT_TRUE(r.StartTask(tkPrintTest));
  EXPECT_FALSE(r.TestComPort(3));
  EXPECT_EQ(view_.NoticeTexts(TRunnerNotice::ActiveTask).size(), 1);
  workers_.Last()->Finish();  // the other task ends without errors
  EXPECT_EQ(workers_.Tasks.size(), 1u);
  EXPECT_FALSE(r.Silent());
  EXPECT_FALSE(view_.Hourglass);
}

TEST_F(TaskRunnerTest, TestComPortTestsThatPortWithoutSearchingSilentlyAndRestoresTheSettings) {
  TTaskRunner& r = Runner();
  settings_.ComPort = 4;
  settings_.AutoSerachDevice = true;
  settings_.DeviceSerialNom = "AB123456";
  workers_.ErrorsToReport = {ekPrinterFatal};
  EXPECT_FALSE(r.TestComPort(7));
  ASSERT_EQ(workers_.Tasks.size(), 1u);
  EXPECT_EQ(workers_.Last()->Request.Kind, tkCheckPrinter);
  const TTaskSettings& s = workers_.Last()->Settings;
  EXPECT_EQ(s.ComPort, 7);
  EXPECT_FALSE(s.AutoSerachDevice);
  EXPECT_EQ(settings_.ComPort, 4);
  EXPECT_TRUE(settings_.AutoSerachDevice);
  EXPECT_FALSE(r.Silent());
  EXPECT_FALSE(view_.Hourglass);
  // The settings test changes nothing of the offline state.
  EXPECT_FALSE(r.IsPrinterOffline());
  EXPECT_EQ(view_.AlertChanges, 0);

  workers_.ErrorsToReport.clear();
  EXPECT_TRUE(r.TestComPort(7));
  // Port numbers the library cannot hold are refused before any task.
  EXPECT_FALSE(r.TestComPort(300));
  EXPECT_FALSE(r.TestComPort(0));
  EXPECT_EQ(workers_.Tasks.size(), 2u);
}

TEST_F(TaskRunnerTest, SearchDeviceBySerialSearchesAndRestores) {
  TTaskRunner& r = Runner();
  settings_.DeviceSerialNom = " OLD ";
  EXPECT_TRUE(r.SearchDeviceBySerial("AB123456"));
  ASSERT_EQ(workers_.Tasks.size(), 1u);
  EXPECT_EQ(workers_.Last()->Request.Kind, tkPrinterInfo);
  EXPECT_TRUE(workers_.Last()->Settings.AutoSerachDevice);
  EXPECT_EQ(workers_.Last()->Settings.DeviceSerialNom, "AB123456");
  EXPECT_EQ(settings_.DeviceSerialNom, " OLD ");
  EXPECT_FALSE(settings_.AutoSerachDevice);
  EXPECT_FALSE(r.Silent());
}

// ---- The pure parts of a task start ----

TEST(ParseCashAmount, TakesOnlyFinitePositiveNumbersOfTheCLocale) {
  struct Case {
    const char* typed;
    std::optional<double> amount;
  } cases[] = {
      {"12.50", 12.5}, {" 7 ", 7},  {"+3", 3},         {"0.001", 0.001},     {"1e3", 1000},
      {"0", {}},       {"-5", {}},  {"", {}},          {"   ", {}},          {"12,50", {}},
      {"1,000", {}},   {"abc", {}}, {"inf", {}},       {"nan", {}},          {"1e999", {}},
      {"5 5", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    const std::optional<double> got = uTaskRunner::ParseCashAmount(QString::fromLatin1(c.typed));
    ASSERT_EQ(got.has_value(), c.amount.has_value());
    if (got) {
      EXPECT_DOUBLE_EQ(*got, *c.amount);
    }
  }
}

TEST(BuildTaskRequest, EachKindGetsItsOwnArguments) {
  TMainSettings settings;
  settings.SearchPath = QStringLiteral("/shop/bon");
  settings.WatGrpBeginFromOne = true;
  TDepartments departments(2);
  departments[1].Nom = 7;
  departments[1].Edited = true;

  uTaskRunner::TStartAnswers byBlocks;
  byBlocks.Period =
      TReportPeriod{.ByDates = false, .FirstBlock = 3, .LastBlock = 9, .StartDate = 0, .EndDate = 0, .Detailed = true};
  uTaskRunner::TStartAnswers byDates;
  byDates.Period = TReportPeriod{
      .ByDates = true, .FirstBlock = 1, .LastBlock = 1, .StartDate = 45000.25, .EndDate = 45010.5, .Detailed = false};
  uTaskRunner::TStartAnswers x;
  x.Report = TDailyReport::X;
  uTaskRunner::TStartAnswers amount;
  amount.Amount = 12.5;

  struct Case {
    const char* name;
    TTaskKind kind;
    uTaskRunner::TStartAnswers answers;
    TTaskKind runs;
  } cases[] = {
      {"Z report", tkXZReport, {}, tkXZReport},
      {"X report", tkXZReport, x, tkXZReport},
      {"files", tkReadFiles, {}, tkReadFiles},
      {"departments", tkSetDepartments, {}, tkSetDepartments},
      {"blocks asked as dates", tkReportByDates, byBlocks, tkReportByBlock},
      {"dates asked as blocks", tkReportByBlock, byDates, tkReportByDates},
      {"cash in", tkSumIn, amount, tkSumIn},
      {"cash out", tkSumOut, amount, tkSumIn},
      {"test", tkPrintTest, x, tkPrintTest},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<TTaskRequest> r = uTaskRunner::BuildTaskRequest(c.kind, c.answers, settings, departments);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->Kind, c.runs);
    // Only a file task names the folder, only a Z report resets, only a write of the
    // departments carries them, only cash movements an amount.
    EXPECT_EQ(r->BonFolder, c.kind == tkReadFiles ? settings.SearchPath : QString());
    EXPECT_EQ(r->WatGrpBeginFromOne, c.kind == tkReadFiles);
    EXPECT_EQ(r->Reset, c.kind == tkXZReport && c.answers.Report == TDailyReport::Z ? 1 : 0);
    EXPECT_EQ(r->Departments.size(), c.kind == tkSetDepartments ? 2u : 0u);
    EXPECT_DOUBLE_EQ(r->Amount, c.kind == tkSumIn ? 12.5 : c.kind == tkSumOut ? -12.5 : 0);
  }

  const TTaskRequest blocks = *uTaskRunner::BuildTaskRequest(tkReportByBlock, byBlocks, settings, departments);
  EXPECT_EQ(blocks.FirstBlock, 3);
  EXPECT_EQ(blocks.LastBlock, 9);
  EXPECT_TRUE(blocks.Detailed);
  const TTaskRequest dates = *uTaskRunner::BuildTaskRequest(tkReportByBlock, byDates, settings, departments);
  EXPECT_DOUBLE_EQ(dates.StartDate, 45000.25);
  EXPECT_DOUBLE_EQ(dates.EndDate, 45010.5);
  EXPECT_FALSE(dates.Detailed);

  for (TTaskKind none : {tkNone, static_cast<TTaskKind>(99)})
    EXPECT_FALSE(uTaskRunner::BuildTaskRequest(none, {}, settings, departments).has_value()) << int(none);
}

TEST(TaskShowsHourglass, NotForTheQuietKinds) {
  for (TTaskKind quiet : {tkPrinterInfo, tkCheckPrinter, tkCopyBon, tkReadFiles})
    EXPECT_FALSE(uTaskRunner::TaskShowsHourglass(quiet)) << int(quiet);
  for (TTaskKind shown : {tkPrintTest, tkXZReport, tkSumIn, tkSumOut, tkReportByBlock, tkSetDepartments})
    EXPECT_TRUE(uTaskRunner::TaskShowsHourglass(shown)) << int(shown);
}

}  // namespace
}  // namespace fp::test
