// The task runner without a window: what each task start asks and hands the worker, the
// file timer's decisions, the folder fault, the waits, the end of a task and its workers.
#include "program/tasks/uTaskRunner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <sys/stat.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cerrno>
#include <memory>
#include <optional>
#include <thread>

#include "program/app/uConst.h"
#include "program/app/uStrRes.h"
#include "tests/support/QtTestEnvironment.h"
#include "tests/support/TimeZoneTestSupport.h"
#include "tests/support/uTaskRunnerTestSupport.h"
#include "program/app/uProgramInfo.h"
#include "platform/FileOps.h"

namespace fp::test {
namespace {

using uStrRes::Message;
namespace M = uStrRes;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const QString CR = QStringLiteral("\r");

// The runner's timers and waits need an application object; no widget is made.
[[maybe_unused]] TQtTestEnvironment& gQtEnvironment = QtTestEnvironment<QCoreApplication>();

class TaskRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FTmp.isValid());
    FAppDir = FTmp.path() + "/";
    FBonDir = FAppDir + "bon/";
    FLogDir = FAppDir + "Log/";
    ASSERT_TRUE(QDir().mkpath(FBonDir));
    ASSERT_TRUE(QDir().mkpath(FLogDir));
    uProgramInfo::SetAppDir(FAppDir);
    FOldExt = uConst::BonFileExt();
    uConst::SetBonFileExt("bon");
    uStrRes::ResetMessages();
    FNow = QDateTime::currentDateTime().addSecs(5);
    FSettings.SearchPath = FBonDir;
    FSettings.CheckPrnIntevalSec = 30;
  }
  void TearDown() override {
    FRunner.reset();
    uProgramInfo::SetAppDir("");
    uConst::SetBonFileExt(FOldExt);
  }

  // The runner over the test's settings, clock, workers and observer; made on first use.
  TTaskRunner& Runner() {
    if (!FRunner) {
      TTaskRunnerServices s;
      s.Now = [this] {
        const QDateTime t = FNow;
        FNow = FNow.addSecs(FClockStep);
        return t;
      };
      TTaskThreadFactory fake = FWorkers.Factory();
      s.CreateTask = [this, fake](const TTaskRequest& r) -> std::unique_ptr<ITaskThread> {
        return FNoWorker ? nullptr : fake(r);
      };
      s.Log = [this](const QString& line) { FLog << line; };
      s.ErrorLog = [this](const QString& line) { FErrorLog << line; };
      s.ReadyAgeMs = FReadyAgeMs;
      s.MonotonicMs = [this] {
        const int64_t t = FMonoMs;
        FMonoMs += FMonoStepMs;
        return t;
      };
      FRunner = std::make_unique<TTaskRunner>(s, FSettings, FView);
      FRunner->SetLogDir(FLogDir);
    }
    return *FRunner;
  }

  // A receipt file that was written `ageSec` seconds before the test clock.
  void PutBon(const QString& name, int ageSec = 10) {
    QFile f(FBonDir + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("S,1,______,_,__;X;1;1\r\n");
    f.close();
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(FNow.addSecs(-ageSec), QFileDevice::FileModificationTime));
  }
  int CountLines(const QStringList& lines, const QString& part) const {
    int n = 0;
    for (const QString& l : lines) n += l.contains(part);
    return n;
  }

  QTemporaryDir FTmp;
  QString FAppDir, FBonDir, FLogDir;
  QString FOldExt;
  TMainSettings FSettings;
  QDateTime FNow;
  int FClockStep = 0;
  // The monotonic clock of the waits and how far each look at it moves it.
  int64_t FMonoMs = 1000000;
  int64_t FMonoStepMs = 0;
  // A receipt file is ready as soon as it is seen (the tests of settling set it).
  int FReadyAgeMs = 0;
  bool FNoWorker = false;
  TFakeWorkers FWorkers;
  TRecordingObserver FView;
  QStringList FLog, FErrorLog;
  std::unique_ptr<TTaskRunner> FRunner;
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
  FWorkers.AutoFinish = false;
  FSettings.CheckPrnIntevalSec = c.interval;
  TTaskRunner& r = Runner();
  for (int i = 0; i < c.files; ++i) PutBon(QStringLiteral("%1.bon").arg(i));
  if (c.lastCheckAgo >= 0) r.SetLastCheckMs(FMonoMs - c.lastCheckAgo * 1000);
  if (c.busy) {
    ASSERT_TRUE(r.StartTask(tkPrintTest));
  }
  const size_t before = FWorkers.Tasks.size();

  r.FileTimerTick();

  if (c.expected == tkNone) {
    EXPECT_EQ(FWorkers.Tasks.size(), before);
  } else {
    ASSERT_EQ(FWorkers.Tasks.size(), before + 1);
    EXPECT_EQ(FWorkers.Last()->Request.Kind, c.expected);
    EXPECT_EQ(r.CurrentTaskKind(), c.expected);
    if (c.expected == tkReadFiles) {
      EXPECT_EQ(FWorkers.Last()->Request.BonFolder, FBonDir);
    }
  }
  if (c.expected == tkPrinterInfo) {
    EXPECT_EQ(r.LastCheckMs(), FMonoMs);
    EXPECT_THAT(FLog, ElementsAre("Checking connectivity."));
  }
  EXPECT_THAT(FView.Notices, IsEmpty());  // a busy runner skips the tick silently
}

INSTANTIATE_TEST_SUITE_P(Cases, TimerDecision,
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
  FWorkers.AutoFinish = false;
  FSettings.CheckPrnIntevalSec = 0;
  FReadyAgeMs = uPRNFileThread::ReadyAgeMs;
  Runner().FileTimerTick();  // nothing waits: no extra tick
  EXPECT_THAT(FView.TickRequests, IsEmpty());
  PutBon("0001.bon", -600);  // stamped ten minutes ahead (a share whose clock runs ahead)
  Runner().FileTimerTick();
  EXPECT_TRUE(FWorkers.Tasks.empty());
  EXPECT_THAT(FView.TickRequests, ElementsAre(500));
  FMonoMs += 499;
  Runner().FileTimerTick();
  EXPECT_TRUE(FWorkers.Tasks.empty());
  EXPECT_THAT(FView.TickRequests, ElementsAre(500, 1));
  FMonoMs += 1;
  Runner().FileTimerTick();
  EXPECT_THAT(FWorkers.Kinds(), ElementsAre(tkReadFiles));
  EXPECT_THAT(FView.TickRequests, ElementsAre(500, 1));
  // The worker lets files settle as long as the runner does.
  EXPECT_EQ(FWorkers.Last()->Settings.ReadyAgeMs, uPRNFileThread::ReadyAgeMs);
}

// Receipts dropped at a steady pace are each taken within 1.5 s of their drop (a second
// until a tick lists the folder, half a second of quiet), however busy the tick that first
// sees a file is: with a file task still printing the one before, or with the periodic
// printer check, which takes the folder look's place on its tick. The window's two timers
// are played on the runner's monotonic clock: the file timer each second, and the settle
// tick the runner asks for (a single shot that a new request moves). A file task takes the
// files its own listing finds ready and prints each in 100 ms; a check takes 400 ms.
struct TPaceCase {
  const char* Name;
  int PaceMs;
  int CheckSec;  // the periodic printer check's interval, 0: none
};

void PrintTo(const TPaceCase& c, std::ostream* os) { *os << c.Name; }

class DropToPrint : public TaskRunnerTest, public ::testing::WithParamInterface<TPaceCase> {};

TEST_P(DropToPrint, EveryFileIsTakenWithinOneAndAHalfSecondsOfItsDrop) {
  const TPaceCase& c = GetParam();
  FWorkers.AutoFinish = false;
  FSettings.CheckPrnIntevalSec = c.CheckSec;
  FReadyAgeMs = uPRNFileThread::ReadyAgeMs;
  TTaskRunner& r = Runner();
  const int64_t start = FMonoMs;
  r.SetLastCheckMs(start);
  constexpr int kFiles = 30;
  std::vector<int64_t> dropped, taken(kFiles, -1);
  for (int i = 0; i < kFiles; ++i) dropped.push_back(start + 30 + static_cast<int64_t>(i) * c.PaceMs);
  int64_t nextTick = start + 1000;
  std::optional<int64_t> settleAt;
  std::optional<int64_t> taskEnds;
  size_t requests = 0;
  size_t tasks = 0;
  int next = 0;  // the next file to drop
  auto follow = [&] {
    if (FView.TickRequests.size() > requests) settleAt = FMonoMs + FView.TickRequests.back();
    requests = FView.TickRequests.size();
    if (FWorkers.Tasks.size() == tasks) return;
    tasks = FWorkers.Tasks.size();
    int64_t length = 400;
    if (FWorkers.Last()->Request.Kind == tkReadFiles) {
      // The job's own listing, by the same watch, decides what it takes.
      const TReadyFiles ready = r.FolderWatch()->Ready(FBonDir, "bon", QString(), FReadyAgeMs);
      length = 100 * static_cast<int64_t>(ready.Files.size());
      for (const TListedFile& f : ready.Files) {
        taken[f.Name.left(4).toInt()] = FMonoMs;
        ASSERT_TRUE(QFile::remove(FBonDir + f.Name));
      }
    }
    taskEnds = FMonoMs + length;
  };
  while (FMonoMs < dropped.back() + 5000) {
    int64_t at = nextTick;
    if (settleAt && *settleAt < at) at = *settleAt;
    if (taskEnds && *taskEnds < at) at = *taskEnds;
    if (next < kFiles && dropped[next] < at) at = dropped[next];
    FMonoMs = at;
    if (next < kFiles && dropped[next] == at) {
      PutBon(QStringLiteral("%1.bon").arg(next, 4, 10, QLatin1Char('0')), 0);
      ++next;
    } else if (taskEnds && *taskEnds == at) {
      taskEnds.reset();
      FWorkers.Last()->Finish();
    } else if (settleAt && *settleAt == at) {
      settleAt.reset();
      r.FileTimerTick();
    } else {
      nextTick += 1000;
      r.FileTimerTick();
    }
    follow();
  }
  for (int i = 0; i < kFiles; ++i) {
    SCOPED_TRACE(i);
    ASSERT_GE(taken[i], 0);
    EXPECT_LE(taken[i] - dropped[i], 1500);
  }
}

INSTANTIATE_TEST_SUITE_P(Paces, DropToPrint,
                         ::testing::Values(TPaceCase{"EverySevenTenthsOfASecond", 700, 0},
                                           TPaceCase{"EveryThreeTenthsOfASecond", 300, 0},
                                           TPaceCase{"WithAPrinterCheckEveryThreeSeconds", 700, 3},
                                           TPaceCase{"SlowWithAPrinterCheckEverySecond", 1300, 1}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A share with thousands of other files, where every call is slow: the start's clean-up of
// old files runs on a thread of its own, takes no lock of the folder and looks at each file
// once. The first receipt is taken while the clean-up has not looked at a single file.
TEST_F(TaskRunnerTest, StartUpCleanUpHoldsNeitherTheTimerNorTheFirstReceipt) {
  class TGatedOps : public TFaultyFileOps {
   public:
    // The status calls of any other thread than the test's wait while the gate is shut.
    int FstatAt(int dir, const char* name, struct stat* st, int flags) override {
      if (std::this_thread::get_id() != FMain) {
        ++Looks;
        std::unique_lock<std::mutex> lock(FGate);
        FOpened.wait(lock, [this] { return FOpen; });
      }
      return TFaultyFileOps::FstatAt(dir, name, st, flags);
    }
    void Open() {
      {
        std::lock_guard<std::mutex> lock(FGate);
        FOpen = true;
      }
      FOpened.notify_all();
    }
    std::atomic<int> Looks{0};

   private:
    const std::thread::id FMain = std::this_thread::get_id();
    std::mutex FGate;
    std::condition_variable FOpened;
    bool FOpen = false;
  };
  constexpr int kOthers = 2000;
  auto put = [this](const QString& name, const QDateTime& written) {
    QFile f(FBonDir + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
    f.flush();
    ASSERT_TRUE(f.setFileTime(written, QFileDevice::FileModificationTime));
  };
  for (int i = 0; i < kOthers; ++i) put(QStringLiteral("other%1.dat").arg(i), FNow.addDays(-30));
  put("old.rep", FNow.addDays(-25));
  put("young.err", FNow.addDays(-1));
  FWorkers.AutoFinish = false;
  FSettings.CheckPrnIntevalSec = 0;
  TGatedOps ops;
  TScopedFileOps scoped(&ops);
  TTaskRunner& r = Runner();
  r.CleanUpOldFiles(FBonDir, {"*.err", "*.rep"});
  EXPECT_TRUE(r.CleanUpRunning());
  PutBon("0001.bon");
  r.FileTimerTick();
  EXPECT_THAT(FWorkers.Kinds(), ElementsAre(tkReadFiles));
  ops.Open();
  ASSERT_TRUE(SpinUntil([&] { return !r.CleanUpRunning(); }, 60000));
  EXPECT_FALSE(QFile::exists(FBonDir + "old.rep"));
  EXPECT_TRUE(QFile::exists(FBonDir + "young.err"));
  EXPECT_TRUE(QFile::exists(FBonDir + "other0.dat"));
  // Each entry once (the receipt, too, when the listing saw it), the old file once more.
  EXPECT_LE(ops.Looks.load(), kOthers + 3 + 1);
  EXPECT_THAT(FLog, Contains("[DeleteOldLog] Deleted " + FBonDir + "old.rep, 25.0 days old"));
  EXPECT_EQ(CountLines(FLog, "[DeleteOldLog]"), 1);
}

// The clocks of a shop in Sofia go back an hour at 04:00 summer time on 25 October 2026,
// and ahead an hour at 03:00 on 29 March 2026. The wall clock of the test jumps by that
// hour at the change (as a PC clock kept in local time does) while the monotonic clock runs
// on: the printer check still comes once its interval has passed, neither at once nor an
// hour late, and a receipt dropped after the change starts a file task within two seconds.
TEST_F(TaskRunnerTest, TimerDecisionsGoByElapsedTimeAcrossAChangeOfTheClocks) {
  TScopedTimeZone zone(kShopTimeZone);
  struct {
    const char* name;
    qint64 changeUtcSecs;
    int jumpSec;
  } changes[] = {{"autumn", 1792890000, -3600}, {"spring", 1774746000, 3600}};
  for (const auto& c : changes) {
    SCOPED_TRACE(c.name);
    FRunner.reset();
    FWorkers.Tasks.clear();
    FWorkers.AutoFinish = false;
    FSettings.CheckPrnIntevalSec = 30;
    FReadyAgeMs = uPRNFileThread::ReadyAgeMs;
    FNow = QDateTime::fromSecsSinceEpoch(c.changeUtcSecs - 5);
    TTaskRunner& r = Runner();
    const int64_t checked = FMonoMs;
    r.SetLastCheckMs(checked);  // the printer was checked just now
    // The window's timer ticks each second; the clocks change at the fifth.
    auto second = [&](int n) {
      FMonoMs += 1000;
      FNow = FNow.addSecs(n == 5 ? 1 + c.jumpSec : 1);
    };
    for (int n = 1; n <= 10; ++n) {
      second(n);
      r.FileTimerTick();
    }
    EXPECT_TRUE(FWorkers.Tasks.empty());
    PutBon("0001.bon", 0);
    const int64_t dropped = FMonoMs;
    r.FileTimerTick();  // the tick that first sees it
    while (FWorkers.Tasks.empty() && FMonoMs - dropped < 2000) {
      second(0);
      r.FileTimerTick();
    }
    ASSERT_THAT(FWorkers.Kinds(), ElementsAre(tkReadFiles));
    ASSERT_TRUE(QFile::remove(FBonDir + "0001.bon"));
    FWorkers.Last()->Finish();
    // The check comes once more than 30 whole seconds have passed since the last one.
    while (FMonoMs < checked + 30000) {
      second(0);
      r.FileTimerTick();
    }
    EXPECT_THAT(FWorkers.Kinds(), ElementsAre(tkReadFiles));
    second(0);
    r.FileTimerTick();
    EXPECT_THAT(FWorkers.Kinds(), ElementsAre(tkReadFiles, tkPrinterInfo));
    FWorkers.Last()->Finish();
  }
}

// A receipt file the program's user may not read starts no task, at no tick: not while it
// settles, not after the retry time while it stays unreadable. Once its status changes (the
// administrator's chmod), the next tick starts the file task.
TEST_F(TaskRunnerTest, UnreadableReceiptFileStartsNoTask) {
  FWorkers.AutoFinish = false;
  FSettings.CheckPrnIntevalSec = 0;
  TTaskRunner& r = Runner();
  PutBon("0001.bon");
  const std::string path = QFile::encodeName(FBonDir + "0001.bon").toStdString();
  TFaultyFileOps ops;
  TScopedFileOps scoped(&ops);
  ops.FailAt(TFileOp::Open, 0, EACCES, path);
  for (int n = 0; n < 70; ++n) {
    r.FileTimerTick();
    FMonoMs += 1000;
  }
  EXPECT_TRUE(FWorkers.Tasks.empty());
  EXPECT_THAT(FView.TickRequests, IsEmpty());
  ops.Clear();
  ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
  r.FileTimerTick();
  EXPECT_THAT(FWorkers.Kinds(), ElementsAre(tkReadFiles));
}

class FolderFault : public TaskRunnerTest, public ::testing::WithParamInterface<FolderFaultCase> {
 protected:
  void Break(TFaultyFileOps& ops) { ASSERT_TRUE(BreakFolder(GetParam().problem, FBonDir, ops)); }
};

TEST_P(FolderFault, StopsTheTimerLogsItsStartAndEndOnceAndPrintingResumes) {
  const FolderFaultCase& c = GetParam();
  FSettings.CheckPrnIntevalSec = 0;
  TTaskRunner& r = Runner();
  TFaultyFileOps ops;
  TScopedFileOps scoped(&ops);
  Break(ops);
  if (c.fileWaits) PutBon("0001.bon");

  for (int i = 0; i < 3; ++i) r.FileTimerTick();
  EXPECT_THAT(FView.Notices, IsEmpty());
  EXPECT_TRUE(FWorkers.Tasks.empty());
  EXPECT_EQ(r.FolderFault().Problem, c.problem);
  EXPECT_EQ(r.FolderFault().Folder, FBonDir);
  EXPECT_EQ(FView.AlertChanges, 1);
  // One line names the folder and the failed call's reason.
  ASSERT_EQ(CountLines(FErrorLog, "[FileReadTimerTimer]"), 1) << FErrorLog.join('\n').toStdString();
  EXPECT_TRUE(FErrorLog[0].contains(FBonDir)) << FErrorLog[0].toStdString();
  EXPECT_TRUE(FErrorLog[0].contains('(')) << FErrorLog[0].toStdString();
  if (c.problem == TFolderProblem::Unwritable) {
    // Started by the operator, the failure is shown, once per command.
    EXPECT_FALSE(r.StartTask(tkReadFiles));
    EXPECT_EQ(FView.NoticeTexts(TRunnerNotice::CantWrite), QStringList{Message(M::CantWrite) + CR + FBonDir});
  }

  ops.Clear();
  ASSERT_TRUE(QDir().mkpath(FBonDir));
  PutBon("0001.bon");
  r.FileTimerTick();
  EXPECT_FALSE(r.FolderFault());
  EXPECT_EQ(FView.AlertChanges, 2);
  EXPECT_EQ(CountLines(FErrorLog, "[FileReadTimerTimer]Folder can be used again: " + FBonDir), 1);
  EXPECT_THAT(FWorkers.Kinds(), ElementsAre(tkReadFiles));
  ASSERT_TRUE(SpinUntil([&] { return !r.TaskActive(); }));
  r.FileTimerTick();
  EXPECT_EQ(CountLines(FErrorLog, "[FileReadTimerTimer]"), 2);
}

INSTANTIATE_TEST_SUITE_P(Cases, FolderFault, ::testing::ValuesIn(kFolderFaultCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A write test file "chktmp.txt" left in the receipt, log or program folder by a run that
// was stopped halfway stops neither the start nor printing, and is removed.
TEST_F(TaskRunnerTest, ATestFileLeftInAFolderStopsNothing) {
  for (const QString* folder : {&FBonDir, &FLogDir, &FAppDir}) {
    SCOPED_TRACE(folder->toStdString());
    const QString left = *folder + "chktmp.txt";
    {
      QFile f(left);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    }
    TTaskRunner& r = Runner();
    EXPECT_FALSE(r.ProgramFolderFault());
    r.CheckReceiptFolder();
    EXPECT_FALSE(r.FolderFault());
    EXPECT_TRUE(r.CheckMyDirWritable(true));
    EXPECT_TRUE(r.StartTask(tkReadFiles));
    ASSERT_TRUE(SpinUntil([&] { return !r.TaskActive(); }));
    EXPECT_FALSE(QFileInfo::exists(left));
    EXPECT_THAT(FView.Notices, IsEmpty());
  }
  EXPECT_THAT(FWorkers.Kinds(), ElementsAre(tkReadFiles, tkReadFiles, tkReadFiles));
}

TEST_F(TaskRunnerTest, NoPrinterCheckWhileTheReceiptFolderIsMissing) {
  TTaskRunner& r = Runner();  // never checked: a check is due
  ASSERT_TRUE(QDir(FBonDir).removeRecursively());
  r.FileTimerTick();
  EXPECT_TRUE(FWorkers.Tasks.empty());
  EXPECT_THAT(FLog, IsEmpty());
  EXPECT_FALSE(r.LastCheckMs());
  ASSERT_TRUE(QDir().mkpath(FBonDir));
  r.FileTimerTick();
  EXPECT_THAT(FWorkers.Kinds(), ElementsAre(tkPrinterInfo));
}

// ---------------------------------------------------------------------------------------
// What an earlier run left in the receipt folder

// A claim left by a run that was killed (or lost power) while it printed is kept as
// unknown outcome with its report as soon as the program sees it, at start or at a tick,
// without a new receipt file and without a task (the printer plays no part); the window
// is told. A later tick finds nothing more to do and logs nothing.
TEST_F(TaskRunnerTest, LeftClaimIsRecoveredAtStartAndByTheTimerWithoutANewFile) {
  FSettings.CheckPrnIntevalSec = 0;
  PutBon("0001.$$$");
  TTaskRunner& r = Runner();
  r.CheckReceiptFolder();
  EXPECT_EQ(QDir(FBonDir).entryList(QDir::Files), (QStringList{"0001.rep", "0001.unk"}));
  const QString why = uPRNFileThread::LeftClaimWhy();
  EXPECT_THAT(FView.Reports, ElementsAre("unknown " + FBonDir + "0001.unk: " + why));
  QFile rep(FBonDir + "0001.rep");
  ASSERT_TRUE(rep.open(QIODevice::ReadOnly));
  EXPECT_EQ(rep.readAll(),
            "[UNKNOWN]" + uPRNFileThread::UnknownOutcomeText(FBonDir + "0001.unk", why).toLatin1() + "\r\n");
  EXPECT_EQ(CountLines(FErrorLog, "Outcome unknown, not printed again: \"" + FBonDir + "0001.$$$\""), 1);

  PutBon("0002.$$$");
  r.FileTimerTick();
  EXPECT_EQ(QDir(FBonDir).entryList(QDir::Files), (QStringList{"0001.rep", "0001.unk", "0002.rep", "0002.unk"}));
  EXPECT_EQ(FView.Reports.size(), 2);
  const QStringList log = FLog, errors = FErrorLog;
  r.FileTimerTick();
  r.FileTimerTick();
  EXPECT_EQ(FLog, log);
  EXPECT_EQ(FErrorLog, errors);
  EXPECT_TRUE(FWorkers.Tasks.empty());
}

// A claim of a file that another program on the same folder prints (its file job holds the
// folder's lock) is not a left one: the ticks leave it alone, start no task for it and log
// nothing. Once that program is gone (killed in the middle of it), the claim is recovered.
TEST_F(TaskRunnerTest, ClaimThatAnotherProgramHoldsIsLeftToIt) {
  FSettings.CheckPrnIntevalSec = 0;
  PutBon("0001.$$$");
  const int other = ::open(QFile::encodeName(FBonDir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  TTaskRunner& r = Runner();
  r.CheckReceiptFolder();
  for (int i = 0; i < 3; ++i) r.FileTimerTick();
  EXPECT_EQ(QDir(FBonDir).entryList(QDir::Files), QStringList{"0001.$$$"});
  EXPECT_THAT(FLog, IsEmpty());
  EXPECT_THAT(FErrorLog, IsEmpty());
  EXPECT_THAT(FView.Reports, IsEmpty());
  EXPECT_TRUE(FWorkers.Tasks.empty());
  ::close(other);
  r.FileTimerTick();
  EXPECT_EQ(QDir(FBonDir).entryList(QDir::Files), (QStringList{"0001.rep", "0001.unk"}));
}

// A status query left in print (it prints nothing) goes back under its receipt name, and
// the same tick starts the file task that answers it.
TEST_F(TaskRunnerTest, LeftStatusQueryIsAnsweredAgain) {
  FSettings.CheckPrnIntevalSec = 0;
  FWorkers.AutoFinish = false;
  QFile query(FBonDir + "0003.$$$");
  ASSERT_TRUE(query.open(QIODevice::WriteOnly));
  query.write("&S\r\n");
  query.close();
  TTaskRunner& r = Runner();
  r.FileTimerTick();
  EXPECT_EQ(QDir(FBonDir).entryList(QDir::Files), QStringList{"0003.bon"});
  EXPECT_THAT(FWorkers.Kinds(), ElementsAre(tkReadFiles));
  EXPECT_THAT(FView.Reports, ElementsAre("started 2"));
}

// ---------------------------------------------------------------------------------------
// What a task start asks and hands the worker

// The settings that say how receipt files are read are taken once, when the task starts:
// a save of the settings windows while it runs reaches the next task only.
TEST_F(TaskRunnerTest, ReceiptSettingsAreTakenAtTheStartOfTheTask) {
  FWorkers.AutoFinish = false;
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
  const TTaskSettings first = FWorkers.Last()->Settings;
  EXPECT_EQ(first.PayTypePairs, (std::vector<TPayTypePair>{{3, 2}}));
  EXPECT_EQ(first.CashierPas, QStringLiteral("1234"));
  EXPECT_TRUE(first.UsePluAsDepartNo);
  EXPECT_EQ(first.BonFileExt, QStringLiteral("txt"));
  FWorkers.Last()->Finish();
  ASSERT_TRUE(r.StartTask(tkPrintTest));
  const TTaskSettings& next = FWorkers.Last()->Settings;
  EXPECT_EQ(next.PayTypePairs, (std::vector<TPayTypePair>{{5, 6}}));
  EXPECT_EQ(next.CashierPas, QStringLiteral("9999"));
  EXPECT_FALSE(next.UsePluAsDepartNo);
  EXPECT_EQ(next.BonFileExt, QStringLiteral("bon"));
  uConst::SetPayTypePairs(oldPairs);
  uConst::SetCashierPas(oldPas);
  uConst::SetUsePluAsDepartNo(oldPlu);
}

// The runner's listing and every worker decide by one watch: what the ticks have seen of a
// file counts for the job that takes it. Every worker is handed the runner's care of the
// folder too: what one job keeps (a printed receipt's report, a receipt left open) reaches
// the next job and the tending; and the runner's record of a lasting failure, so that its
// repeats are held back across the tasks.
TEST_F(TaskRunnerTest, EveryWorkerIsHandedTheRunnersFolderWatchAndCare) {
  TTaskRunner& r = Runner();
  ASSERT_TRUE(r.FolderWatch());
  ASSERT_TRUE(r.LastingFailure());
  ASSERT_TRUE(r.StartTask(tkReadFiles));
  QCoreApplication::processEvents();
  ASSERT_TRUE(r.StartTask(tkPrintTest));
  ASSERT_EQ(FWorkers.Tasks.size(), 2u);
  ASSERT_TRUE(r.FolderCare());
  for (const auto& task : FWorkers.Tasks) {
    EXPECT_EQ(task->Request.Watch, r.FolderWatch());
    EXPECT_EQ(task->Request.Care, r.FolderCare());
    EXPECT_EQ(task->Request.Failures, r.LastingFailure());
  }
}

TEST_F(TaskRunnerTest, EveryWorkerGetsTheSettingsAndItsJobArguments) {
  FWorkers.AutoFinish = false;
  TTaskRunner& r = Runner();
  FSettings.ComPort = 9;
  FSettings.BaudRate = 9600;
  FSettings.RepFilePrint = false;
  FSettings.RepDetailPrint = false;
  FSettings.CharEncoding = 2;
  FSettings.DeviceSerialNom = "  AB123456 ";
  FSettings.AutoSerachDevice = true;
  FSettings.WatGrpBeginFromOne = true;
  FSettings.CreateLOG = false;  // the log folder is handed over all the same
  ASSERT_TRUE(r.StartTask(tkReadFiles));
  ASSERT_EQ(FWorkers.Tasks.size(), 1u);
  const TTaskSettings& ts = FWorkers.Last()->Settings;
  EXPECT_EQ(ts.ComPort, 9);
  EXPECT_EQ(ts.BaudRate, 9600);
  EXPECT_FALSE(ts.RepFilePrint);
  EXPECT_FALSE(ts.RepDetailPrint);
  EXPECT_EQ(ts.CharEncoding, 2);
  EXPECT_EQ(ts.DeviceSerialNom, "AB123456");
  EXPECT_TRUE(ts.AutoSerachDevice);
  EXPECT_EQ(ts.LogDir, FLogDir);
  EXPECT_EQ(ts.BonFolder, FBonDir);
  EXPECT_TRUE(FWorkers.Last()->Resumed);
  EXPECT_EQ(FWorkers.Last()->Request.BonFolder, FBonDir);
  EXPECT_TRUE(FWorkers.Last()->Request.WatGrpBeginFromOne);
  EXPECT_TRUE(FView.Busy);
  EXPECT_THAT(FView.Reports, ElementsAre(QStringLiteral("started %1").arg(static_cast<int>(tkReadFiles))));
  FWorkers.Last()->Finish();

  // The read task fills the department list; the write task takes a copy of it.
  ASSERT_TRUE(r.StartTask(tkGetDepartments));
  TDepartmentRow row;
  row.Nom = 3;
  row.DepName = "Bread";
  FWorkers.Last()->Events.DepartmentReceived(row);
  FWorkers.Last()->Finish();
  ASSERT_EQ(r.Departments().size(), 1u);
  ASSERT_TRUE(r.StartTask(tkSetDepartments));
  r.Departments().clear();
  ASSERT_EQ(FWorkers.Last()->Request.Departments.size(), 1u);
  EXPECT_EQ(FWorkers.Last()->Request.Departments[0].DepName, "Bread");

  // X and Z reports differ by the flag only.
  FWorkers.Last()->Finish();
  ASSERT_TRUE(r.StartTask(tkXZReport, TDailyReport::Z));
  EXPECT_EQ(FWorkers.Last()->Request.Reset, 1);
  FWorkers.Last()->Finish();
  ASSERT_TRUE(r.StartTask(tkXZReport, TDailyReport::X));
  EXPECT_EQ(FWorkers.Last()->Request.Reset, 0);
}

TEST_F(TaskRunnerTest, FiscalMemoryReportAsksForThePeriodAndKeepsTheCaptionOfTheBlockReport) {
  FWorkers.AutoFinish = false;
  TTaskRunner& r = Runner();
  TReportPeriod dates;
  dates.ByDates = true;
  dates.StartDate = 45000;
  dates.EndDate = 45010;
  dates.Detailed = true;
  TReportPeriod blocks;
  blocks.FirstBlock = 4;
  blocks.LastBlock = 9;
  FView.Periods = {dates, blocks, std::nullopt};

  ASSERT_TRUE(r.StartTask(tkReportByBlock));
  const TTaskRequest& byDates = FWorkers.Last()->Request;
  EXPECT_EQ(byDates.Kind, tkReportByDates);
  EXPECT_EQ(byDates.StartDate, 45000);
  EXPECT_EQ(byDates.EndDate, 45010);
  EXPECT_TRUE(byDates.Detailed);
  EXPECT_EQ(r.CurrentTaskKind(), tkReportByBlock);
  EXPECT_EQ(FView.Reports.last(), QStringLiteral("started %1").arg(static_cast<int>(tkReportByBlock)));
  EXPECT_EQ(TTaskRunner::TaskCaption(tkReportByBlock), QStringLiteral("Печат на отчет по блокове."));
  FWorkers.Last()->Finish();

  ASSERT_TRUE(r.StartTask(tkReportByBlock));
  EXPECT_EQ(FWorkers.Last()->Request.Kind, tkReportByBlock);
  EXPECT_EQ(FWorkers.Last()->Request.FirstBlock, 4);
  EXPECT_EQ(FWorkers.Last()->Request.LastBlock, 9);
  FWorkers.Last()->Finish();

  // Closed without OK: nothing starts and the runner is idle again at once.
  EXPECT_FALSE(r.StartTask(tkReportByBlock));
  EXPECT_EQ(FWorkers.Tasks.size(), 2u);
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
  FWorkers.AutoFinish = false;
  TTaskRunner& r = Runner();
  FView.Amounts.push_back(QString::fromLatin1(c.typed));
  const bool started = r.StartTask(c.cashOut ? tkSumOut : tkSumIn);
  EXPECT_EQ(started, c.starts);
  EXPECT_THAT(FView.Prompts, ElementsAre(Message(c.cashOut ? M::S_SumOut : M::S_SumIn) + ": [0]"));
  if (c.starts) {
    ASSERT_EQ(FWorkers.Tasks.size(), 1u);
    EXPECT_EQ(FWorkers.Last()->Request.Kind, tkSumIn);
    EXPECT_DOUBLE_EQ(FWorkers.Last()->Request.Amount, c.amount);
    EXPECT_EQ(r.CurrentTaskKind(), c.cashOut ? tkSumOut : tkSumIn);
    EXPECT_TRUE(r.ShowSuccess());
    EXPECT_TRUE(FView.Hourglass);
  } else {
    EXPECT_TRUE(FWorkers.Tasks.empty());
    EXPECT_FALSE(r.TaskActive());
    EXPECT_EQ(r.CurrentTaskKind(), tkNone);
    EXPECT_FALSE(r.ShowSuccess());
    EXPECT_FALSE(FView.Hourglass);
    EXPECT_EQ(FView.NoticeTexts(TRunnerNotice::InvalidValue), QStringList{Message(M::InvalidValue) + ": " + c.typed});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CashAmount,
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
      for (const char* p = info.param.typed; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

TEST_F(TaskRunnerTest, CancelledAmountStartsNothing) {
  TTaskRunner& r = Runner();
  FView.Amounts.push_back(std::nullopt);
  EXPECT_FALSE(r.StartTask(tkSumIn));
  EXPECT_TRUE(FWorkers.Tasks.empty());
  EXPECT_FALSE(r.TaskActive());
  EXPECT_EQ(r.CurrentTaskKind(), tkNone);
  EXPECT_THAT(FView.Notices, IsEmpty());
}

TEST_F(TaskRunnerTest, ASecondTaskIsRefusedWithTheMessageOnlyWhenTheOperatorAskedForIt) {
  FWorkers.AutoFinish = false;
  TTaskRunner& r = Runner();
  ASSERT_TRUE(r.StartTask(tkPrintTest));
  EXPECT_FALSE(r.StartTask(tkXZReport));
  EXPECT_FALSE(r.StartTask(tkReadFiles, TTaskStarter::Timer));
  EXPECT_EQ(FView.NoticeTexts(TRunnerNotice::ActiveTask), QStringList{Message(M::ActiveTask)});
  EXPECT_EQ(FWorkers.Tasks.size(), 1u);
  EXPECT_FALSE(FWorkers.Last()->Terminated);
  EXPECT_EQ(r.CurrentTaskKind(), tkPrintTest);
}

TEST_F(TaskRunnerTest, WorkerThatCannotBeCreatedLeavesTheRunnerIdle) {
  TTaskRunner& r = Runner();
  FNoWorker = true;
  FView.Amounts.push_back(QStringLiteral("5"));
  EXPECT_FALSE(r.StartTask(tkSumIn));
  EXPECT_THAT(FErrorLog, ElementsAre("[StartTaskThread]no worker"));
  EXPECT_EQ(FView.NoticeTexts(TRunnerNotice::ErrorMessage),
            QStringList{Message(M::ErrorOccurred) + CR + Message(M::SeeErrorFileForDetails)});
  EXPECT_FALSE(r.TaskActive());
  EXPECT_EQ(r.CurrentTaskKind(), tkNone);
  EXPECT_FALSE(r.ShowSuccess());
  EXPECT_FALSE(FView.Busy);
  EXPECT_FALSE(FView.Hourglass);
  EXPECT_THAT(FView.Reports, IsEmpty());
  FNoWorker = false;
  EXPECT_TRUE(r.StartTask(tkPrintTest));
}

// ---------------------------------------------------------------------------------------
// A task's course and end

TEST_F(TaskRunnerTest, FileTaskCountsFilesAndErrorsAndKeepsThemUntilTheNextTask) {
  FWorkers.AutoFinish = false;
  TTaskRunner& r = Runner();
  ASSERT_TRUE(r.StartTask(tkReadFiles));
  auto t = FWorkers.Last();
  for (int i = 0; i < 3; ++i) {
    t->Events.FileStarted(FBonDir + QStringLiteral("000%1.bon").arg(i));
    if (i == 1) t->Error(ekFileError);
    t->Events.FileProcessed();
  }
  t->Finish();
  const QString file = QStringLiteral("file ") + FBonDir;
  EXPECT_THAT(FView.Reports,
              ElementsAre(QStringLiteral("started 2"), file + "0000.bon", "processed 1 0", file + "0001.bon",
                          QStringLiteral("error 2 %1 1").arg(static_cast<int>(ekFileError)), "processed 2 1",
                          file + "0002.bon", "processed 3 1", "ended 2 3 1", "idle"));
  EXPECT_FALSE(r.TaskActive());
  EXPECT_FALSE(FView.Busy);
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
  bool quit;  // the program is closing
  bool shown;
};

void PrintTo(const SuccessCase& c, std::ostream* os) { *os << c.name; }

class SuccessMessage : public TaskRunnerTest, public ::testing::WithParamInterface<SuccessCase> {};

TEST_P(SuccessMessage, OnlyForAnAskedTaskWithoutErrorsWhileTheProgramStays) {
  const SuccessCase& c = GetParam();
  FWorkers.AutoFinish = false;
  TTaskRunner& r = Runner();
  ASSERT_TRUE(r.StartTask(tkXZReport));
  EXPECT_TRUE(FView.Hourglass);
  r.SetShowSuccess(c.asked);
  auto t = FWorkers.Last();
  for (int i = 0; i < c.errors; ++i) t->Error(ekOperationError);
  if (c.quit) {
    r.RequestQuit();
    EXPECT_TRUE(t->Terminated);
  }
  // While the message is open the runner still counts as busy.
  bool activeAtMessage = false;
  FView.OnNotice = [&](TRunnerNotice) { activeAtMessage = r.TaskActive(); };
  t->Finish();
  EXPECT_EQ(FView.NoticeTexts(TRunnerNotice::FinishedOK).size(), c.shown ? 1 : 0);
  if (c.shown) {
    EXPECT_TRUE(activeAtMessage);
  }
  EXPECT_FALSE(r.ShowSuccess());
  EXPECT_FALSE(r.TaskActive());
  EXPECT_FALSE(FView.Hourglass);
  EXPECT_EQ(FView.Reports.last(), "idle");
  EXPECT_EQ(r.QuitPending(), c.quit);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SuccessMessage,
    ::testing::Values(
        SuccessCase{.name = "Asked", .asked = true, .errors = 0, .quit = false, .shown = true},
        SuccessCase{.name = "NotAsked", .asked = false, .errors = 0, .quit = false, .shown = false},
        SuccessCase{.name = "AskedWithAnError", .asked = true, .errors = 1, .quit = false, .shown = false},
        SuccessCase{.name = "AskedWhileClosing", .asked = true, .errors = 0, .quit = true, .shown = false}),
    [](const auto& info) { return std::string(info.param.name); });

// The display went away: no event loop runs any more. The running file job is asked to
// stop (it finishes the receipt in print) and waited for without the loop; its events are
// cut off, and the runner is idle when the call returns.
TEST_F(TaskRunnerTest, WithoutTheEventLoopTheRunningTaskIsStoppedAndWaitedFor) {
  FWorkers.AutoFinish = false;
  TTaskRunner& r = Runner();
  ASSERT_TRUE(r.StartTask(tkReadFiles, TTaskStarter::Timer));
  auto t = FWorkers.Last();
  bool loopRan = false;
  QTimer::singleShot(0, [&] { loopRan = true; });
  std::atomic<bool> stopSeen{false};
  // The worker's own thread: it ends a while after it was asked to stop.
  std::thread worker([&] {
    while (!t->Terminated) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stopSeen = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    t->Done = true;
  });
  r.FinishWithoutEventLoop();
  const bool endedBeforeReturn = t->Done;
  worker.join();
  EXPECT_TRUE(stopSeen);
  EXPECT_TRUE(endedBeforeReturn);
  EXPECT_TRUE(t->Detached);
  EXPECT_FALSE(loopRan);
  EXPECT_TRUE(r.QuitPending());
  EXPECT_FALSE(r.TaskActive());
  EXPECT_EQ(r.RetiredCount(), 0u);
  // A late event of the worker changes nothing.
  t->Finish();
  EXPECT_EQ(FView.Reports.filter("idle").size(), 0);
}

TEST_F(TaskRunnerTest, LateEventsOfAnEarlierTaskAreDropped) {
  FWorkers.AutoFinish = false;
  TTaskRunner& r = Runner();
  ASSERT_TRUE(r.StartTask(tkPrintTest));
  auto first = FWorkers.Last();
  first->ReportFinished();  // its thread is still ending
  ASSERT_TRUE(r.StartTask(tkReadFiles));
  const QStringList before = FView.Reports;
  first->Error(ekPrinterFatal);
  first->Events.PrinterOffline();
  first->Events.FileProcessed();
  first->ReportFinished();
  EXPECT_EQ(FView.Reports, before);
  EXPECT_TRUE(r.TaskActive());
  EXPECT_EQ(r.ErrorCount(), 0);
  EXPECT_FALSE(r.IsPrinterOffline());
  // The running task's own events still count, and only once it has ended are its
  // events dropped as well.
  auto second = FWorkers.Last();
  second->Finish();
  EXPECT_FALSE(r.TaskActive());
  second->Error(ekFileError);
  EXPECT_EQ(r.ErrorCount(), 0);
}

TEST_F(TaskRunnerTest, EndedWorkerIsKeptUntilItsThreadHasEnded) {
  FWorkers.AutoFinish = false;
  TTaskRunner& r = Runner();
  ASSERT_TRUE(r.StartTask(tkPrintTest));
  auto t = FWorkers.Last();
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
  auto running = FWorkers.Last();
  FRunner.reset();
  EXPECT_TRUE(running->Detached);
}

// ---------------------------------------------------------------------------------------
// Waits

TEST_F(TaskRunnerTest, ConnectivityWaitTimesOutWithoutReportingSuccess) {
  FWorkers.AutoFinish = false;
  TTaskRunner& r = Runner();
  FMonoStepMs = 10000;  // every look at the clock is ten seconds later
  EXPECT_FALSE(r.CheckConnectivity());
  EXPECT_THAT(FLog, ElementsAre("Checking connectivity."));
  EXPECT_THAT(FWorkers.Kinds(), ElementsAre(tkCheckPrinter));
  EXPECT_FALSE(FView.Hourglass);
  // The task runs on; the runner stays busy until it ends.
  EXPECT_TRUE(r.TaskActive());
  FMonoStepMs = 0;
  FWorkers.Last()->Finish();
  EXPECT_FALSE(r.TaskActive());
}

// Printed receipts move the printer's counters on: once no file waits, the next tick reads
// the printer's data again (with checks on), and only once.
TEST_F(TaskRunnerTest, PrinterDataAreReadAgainAfterReceiptsPrinted) {
  for (int interval : {30, 0}) {
    SCOPED_TRACE(interval);
    FSettings.CheckPrnIntevalSec = interval;
    FRunner.reset();
    FWorkers.Tasks.clear();
    FWorkers.AutoFinish = false;
    TTaskRunner& r = Runner();
    r.SetLastCheckMs(FMonoMs);
    PutBon("0001.bon");
    r.FileTimerTick();
    ASSERT_EQ(FWorkers.Kinds(), std::vector<TTaskKind>{tkReadFiles});
    QFile::remove(FBonDir + "0001.bon");
    FWorkers.Last()->Events.FileProcessed();
    FWorkers.Last()->Finish();
    FWorkers.AutoFinish = true;
    r.FileTimerTick();
    ASSERT_TRUE(SpinUntil([&] { return !r.TaskActive(); }));
    r.FileTimerTick();
    if (interval > 0)
      EXPECT_THAT(FWorkers.Kinds(), ElementsAre(tkReadFiles, tkPrinterInfo));
    else
      EXPECT_THAT(FWorkers.Kinds(), ElementsAre(tkReadFiles));
  }
}

// The PC clock changes while a wait waits (daylight saving, a time server, the operator):
// the wait is timed by the monotonic clock alone and takes the task's own result.
TEST_F(TaskRunnerTest, WaitsIgnoreAJumpOfTheWallClock) {
  for (int jumpSec : {-3600, 3600}) {
    SCOPED_TRACE(jumpSec);
    FWorkers.AutoFinish = false;
    TTaskRunner& r = Runner();
    FClockStep = jumpSec;
    FMonoStepMs = 20;
    QTimer::singleShot(100, [this] { FWorkers.Last()->Finish(); });
    EXPECT_TRUE(r.CheckConnectivity());
    EXPECT_FALSE(r.TaskActive());
    FClockStep = 0;
    FMonoStepMs = 0;
  }
}

TEST_F(TaskRunnerTest, ConnectivityWaitReportsItsOwnTasksResult) {
  TTaskRunner& r = Runner();
  EXPECT_TRUE(r.CheckConnectivity());
  FWorkers.ErrorsToReport = {ekPrinterFatal};
  EXPECT_FALSE(r.CheckConnectivity());
  // The check is not silent: the fatal error marks the printer offline.
  EXPECT_TRUE(r.IsPrinterOffline());
  EXPECT_GT(FView.AlertChanges, 0);
  // Without periodic checks the task is started and not waited for.
  FWorkers.AutoFinish = false;
  FSettings.CheckPrnIntevalSec = 0;
  EXPECT_TRUE(r.CheckConnectivity());
  EXPECT_TRUE(r.TaskActive());
  EXPECT_FALSE(r.ShowSuccess());
}

// The worker's reason for the operator says why the printer is offline (another printer
// found by the search); the next task that reaches the printer clears it. The log's own
// text of a failure ("[RETRY->]" lines) is no reason for the operator.
TEST_F(TaskRunnerTest, OfflineCarriesTheWorkersTextUntilThePrinterIsBack) {
  FWorkers.AutoFinish = false;
  TTaskRunner& r = Runner();
  ASSERT_TRUE(r.StartTask(tkReadFiles));
  FWorkers.Last()->ErrorMessage =
      QStringLiteral("[FastInit][Init failed] Fiscal printer does not respond.\r\n[RETRY->]");
  FWorkers.Last()->Events.PrinterOffline();
  EXPECT_TRUE(r.IsPrinterOffline());
  EXPECT_EQ(r.PrinterOfflineText(), QString());
  const QString text = QStringLiteral("printer CD000002 not found; found AB123456 on COM7");
  FWorkers.Last()->OperatorReason = text;
  FWorkers.Last()->Events.PrinterOffline();
  EXPECT_TRUE(r.IsPrinterOffline());
  EXPECT_EQ(r.PrinterOfflineText(), text);
  FWorkers.Last()->Finish();
  ASSERT_TRUE(r.StartTask(tkReadFiles));
  FWorkers.Last()->Events.PrinterOnline();
  EXPECT_FALSE(r.IsPrinterOffline());
  EXPECT_EQ(r.PrinterOfflineText(), QString());
  FWorkers.Last()->Finish();
}

// What the printer itself reported behind a printer error (no paper) is the observer's
// with the error and the runner's state for the operator until the printer is online
// again; a file error has none, the link's failure clears it, and a settings test changes
// nothing of it.
TEST_F(TaskRunnerTest, PrinterStateOfAPrinterErrorLastsUntilTheNextOnline) {
  FWorkers.AutoFinish = false;
  TTaskRunner& r = Runner();
  ASSERT_TRUE(r.StartTask(tkReadFiles));
  auto t = FWorkers.Last();
  t->Error(ekFileError, "No paper.");
  EXPECT_TRUE(r.PrinterState().isEmpty());
  t->Events.PrinterOffline();
  t->Error(ekPrinterFatal, "No paper.");
  EXPECT_EQ(r.PrinterState(), "No paper.");
  EXPECT_TRUE(r.IsPrinterOffline());
  EXPECT_THAT(FView.Reports.mid(1), ElementsAre(QStringLiteral("error %1 2 1").arg(tkReadFiles),
                                                QStringLiteral("error %1 4 2 No paper.").arg(tkReadFiles)));
  t->Finish();
  // A settings test that finds no paper either changes nothing.
  FWorkers.AutoFinish = true;
  FWorkers.ErrorsToReport = {ekPrinterFatal};
  EXPECT_FALSE(r.TestComPort(3));
  EXPECT_EQ(r.PrinterState(), "No paper.");
  // The link's failure is no printer state.
  FWorkers.AutoFinish = false;
  ASSERT_TRUE(r.StartTask(tkPrinterInfo));
  FWorkers.Last()->Error(ekPrinterFatal);
  EXPECT_TRUE(r.PrinterState().isEmpty());
  FWorkers.Last()->Error(ekPrinterError, "Low paper.");
  EXPECT_EQ(r.PrinterState(), "Low paper.");
  FWorkers.Last()->Events.PrinterOnline();
  EXPECT_TRUE(r.PrinterState().isEmpty());
  EXPECT_FALSE(r.IsPrinterOffline());
  FWorkers.Last()->Finish();
}

// The unknown-outcome files of the receipt folder: regular files named "*.unk", never a
// link, a folder or another name; counted again only when the folder changed (or a while
// has passed), and the observer told when the number changes.
TEST_F(TaskRunnerTest, CountsTheUnknownOutcomeFilesOfTheReceiptFolder) {
  TTaskRunner& r = Runner();
  for (const char* name : {"0001.unk", "0002_1.unk", "0003.UNK", "0004.unk.txt", "0005.err"}) PutBon(name);
  ASSERT_TRUE(QDir().mkpath(FBonDir + "0006.unk"));
  ASSERT_TRUE(QFile::link(FBonDir + "0001.unk", FBonDir + "0007.unk"));
  ASSERT_TRUE(QFile::link(FAppDir + "outside", FBonDir + "0008.unk"));
  EXPECT_EQ(r.UnknownFileCount(), 0);
  r.CountUnknownFiles();
  EXPECT_EQ(r.UnknownFileCount(), 2);
  EXPECT_EQ(FView.AlertChanges, 1);
  {
    // Nothing changed: one look at the folder, no listing.
    TFaultyFileOps ops;
    TScopedFileOps scoped(&ops);
    r.CountUnknownFiles();
    EXPECT_EQ(ops.Calls(TFileOp::ReadDir), 0);
    // After a while it is listed again all the same.
    FMonoMs += TTaskRunner::UnknownRecountMs;
    r.CountUnknownFiles();
    EXPECT_EQ(ops.Calls(TFileOp::ReadDir), 1);
  }
  EXPECT_EQ(FView.AlertChanges, 1);
  PutBon("0009.unk");
  r.CountUnknownFiles();
  EXPECT_EQ(r.UnknownFileCount(), 3);
  EXPECT_EQ(FView.AlertChanges, 2);
  for (const char* name : {"0001.unk", "0002_1.unk", "0009.unk"}) ASSERT_TRUE(QFile::remove(FBonDir + name));
  r.CountUnknownFiles();
  EXPECT_EQ(r.UnknownFileCount(), 0);
  EXPECT_EQ(FView.AlertChanges, 3);
}

TEST_F(TaskRunnerTest, TestComPortRefusedByARunningTaskIsNoSuccess) {
  FWorkers.AutoFinish = false;
  TTaskRunner& r = Runner();
  ASSERT_TRUE(r.StartTask(tkPrintTest));
  EXPECT_FALSE(r.TestComPort(3));
  EXPECT_EQ(FView.NoticeTexts(TRunnerNotice::ActiveTask).size(), 1);
  FWorkers.Last()->Finish();  // the other task ends without errors
  EXPECT_EQ(FWorkers.Tasks.size(), 1u);
  EXPECT_FALSE(r.Silent());
  EXPECT_FALSE(FView.Hourglass);
}

TEST_F(TaskRunnerTest, TestComPortTestsThatPortWithoutSearchingSilentlyAndRestoresTheSettings) {
  TTaskRunner& r = Runner();
  FSettings.ComPort = 4;
  FSettings.AutoSerachDevice = true;
  FSettings.DeviceSerialNom = "AB123456";
  FWorkers.ErrorsToReport = {ekPrinterFatal};
  EXPECT_FALSE(r.TestComPort(7));
  ASSERT_EQ(FWorkers.Tasks.size(), 1u);
  EXPECT_EQ(FWorkers.Last()->Request.Kind, tkCheckPrinter);
  const TTaskSettings& s = FWorkers.Last()->Settings;
  EXPECT_EQ(s.ComPort, 7);
  EXPECT_FALSE(s.AutoSerachDevice);
  EXPECT_EQ(FSettings.ComPort, 4);
  EXPECT_TRUE(FSettings.AutoSerachDevice);
  EXPECT_FALSE(r.Silent());
  EXPECT_FALSE(FView.Hourglass);
  // The settings test changes nothing of the offline state.
  EXPECT_FALSE(r.IsPrinterOffline());
  EXPECT_EQ(FView.AlertChanges, 0);

  FWorkers.ErrorsToReport.clear();
  EXPECT_TRUE(r.TestComPort(7));
  // Port numbers the library cannot hold are refused before any task.
  EXPECT_FALSE(r.TestComPort(300));
  EXPECT_FALSE(r.TestComPort(0));
  EXPECT_EQ(FWorkers.Tasks.size(), 2u);
}

TEST_F(TaskRunnerTest, SearchDeviceBySerialSearchesAndRestores) {
  TTaskRunner& r = Runner();
  FSettings.DeviceSerialNom = " OLD ";
  EXPECT_TRUE(r.SearchDeviceBySerial("AB123456"));
  ASSERT_EQ(FWorkers.Tasks.size(), 1u);
  EXPECT_EQ(FWorkers.Last()->Request.Kind, tkPrinterInfo);
  EXPECT_TRUE(FWorkers.Last()->Settings.AutoSerachDevice);
  EXPECT_EQ(FWorkers.Last()->Settings.DeviceSerialNom, "AB123456");
  EXPECT_EQ(FSettings.DeviceSerialNom, " OLD ");
  EXPECT_FALSE(FSettings.AutoSerachDevice);
  EXPECT_FALSE(r.Silent());
}

// ---- The pure parts of a task start ----

TEST(ParseCashAmount, TakesOnlyFinitePositiveNumbersOfTheCLocale) {
  struct Case {
    const char* typed;
    std::optional<double> amount;
  } cases[] = {
      {"12.50", 12.5}, {" 7 ", 7},  {"+3", 3},     {"0.001", 0.001}, {"1e3", 1000}, {"0", {}},
      {"-5", {}},      {"", {}},    {"   ", {}},   {"12,50", {}},    {"1,000", {}}, {"abc", {}},
      {"inf", {}},     {"nan", {}}, {"1e999", {}}, {"5 5", {}},
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
