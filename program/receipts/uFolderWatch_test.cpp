#include "program/receipts/uFolderWatch.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTimeZone>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <cerrno>

#include "program/app/uConst.h"
#include "program/app/uProgramLog.h"
#include "platform/FileOps.h"
#include "platform/SysErrorText.h"

#include "tests/support/QtFileTestSupport.h"

namespace fp::test {
namespace {

void SetMTime(const QString& path, const QDateTime& local) {
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(local.toSecsSinceEpoch());
  times[0].tv_nsec = times[1].tv_nsec = 0;
  ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

// The listing as lines "DOS date-time TAB name", oldest first.
void SelectBonFiles(const QString& folder, QStringList& list) {
  list.clear();
  for (const TListedFile& f : TFolderWatch::ListWaiting(folder, uConst::BonFileExt()))
    list.append(QString::number(static_cast<int32_t>(f.DosTime)) + QLatin1Char('\t') + f.Name);
}

class SelectBonFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FTmp.isValid());
    FDir = FTmp.path() + "/";
    uConst::SetBonFileExt("bon");
  }
  void Make(const QString& name, const QDateTime& when, const QByteArray& data = "#S\r\n") {
    WriteAll(FDir + name, data);
    SetMTime(FDir + name, when);
  }
  static QString Line(const QDateTime& when, const QString& name) {
    return QString::number(static_cast<int32_t>(DosDateTime(when))) + "\t" + name;
  }
  QTemporaryDir FTmp;
  QString FDir;
};

TEST_F(SelectBonFilesTest, ListsWaitingFilesOldestFirst) {
  const QDateTime older(QDate(2019, 6, 1), QTime(12, 0, 0));
  const QDateTime same(QDate(2020, 1, 1), QTime(10, 0, 0));
  const QDateTime newer(QDate(2021, 2, 3), QTime(4, 5, 6));
  Make("a.bon", newer);
  Make("z.bon", older);
  Make("m2.bon", same);
  Make("M1.BON", same.addSecs(1));  // the same 2-second step of the stamp, a second later
  Make("empty.bon", older, "");
  Make("note.txt", older);
  Make("x.bonus", older);
  QDir().mkdir(FDir + "sub.bon");
  WriteAll(FDir + "sub.bon/in.bon", "x");
  QStringList list{"stale line"};
  SelectBonFiles(FTmp.path(), list);
  EXPECT_EQ(list,
            (QStringList{Line(older, "z.bon"), Line(same, "m2.bon"), Line(same, "M1.BON"), Line(newer, "a.bon")}));
  EXPECT_TRUE(QFile::exists(FDir + "empty.bon"));
  // One moment: by name.
  Make("M1.BON", same);
  SelectBonFiles(FTmp.path(), list);
  EXPECT_EQ(list,
            (QStringList{Line(older, "z.bon"), Line(same, "M1.BON"), Line(same, "m2.bon"), Line(newer, "a.bon")}));
}

// When the clocks go back an hour (the last Sunday of October in Sofia), a file written at
// 03:30 summer time is older than one written at 03:10 winter time twenty minutes later.
TEST_F(SelectBonFilesTest, OldestFirstByTheTrueTimeWhenTheClocksGoBack) {
  const QByteArray oldTz = qgetenv("TZ");
  qputenv("TZ", "Europe/Sofia");
  ::tzset();
  const QDateTime summer = QDateTime::fromSecsSinceEpoch(
      QDate(2025, 10, 26).startOfDay(QTimeZone::utc()).addSecs(30 * 60).toSecsSinceEpoch());
  const QDateTime winter = summer.addSecs(40 * 60);
  EXPECT_GT(summer.time(), winter.time());  // 03:30 and 03:10 local time
  Make("first.bon", summer);
  Make("second.bon", winter);
  QStringList list;
  SelectBonFiles(FDir, list);
  if (oldTz.isNull())
    qunsetenv("TZ");
  else
    qputenv("TZ", oldTz);
  ::tzset();
  ASSERT_EQ(list.size(), 2);
  EXPECT_TRUE(list[0].endsWith("\tfirst.bon")) << list.join(' ').toStdString();
  EXPECT_TRUE(list[1].endsWith("\tsecond.bon"));
}

TEST_F(SelectBonFilesTest, OldestFirstOutsideTheTenDigitYears) {
  // 2005 has a nine-digit stamp and 2050 a negative one; text order would misplace both.
  const QDateTime y2005(QDate(2005, 5, 5), QTime(5, 5, 4));
  const QDateTime y2020(QDate(2020, 5, 5), QTime(5, 5, 4));
  const QDateTime y2050(QDate(2050, 5, 5), QTime(5, 5, 4));
  Make("c.bon", y2005);
  Make("a.bon", y2050);
  Make("b.bon", y2020);
  QStringList list;
  SelectBonFiles(FDir, list);
  ASSERT_EQ(list.size(), 3);
  EXPECT_EQ(list, (QStringList{Line(y2005, "c.bon"), Line(y2020, "b.bon"), Line(y2050, "a.bon")}));
  EXPECT_TRUE(list[2].startsWith("-"));
}

TEST_F(SelectBonFilesTest, DosDateTimeAndOtherExtensions) {
  EXPECT_EQ(DosDateTime(QDateTime(QDate(2020, 1, 1), QTime(10, 0, 3))),
            ((40u << 9 | 1u << 5 | 1u) << 16) | (10u << 11) | 1u);
  uConst::SetBonFileExt("inp");
  Make("a.bon", QDateTime::currentDateTime());
  Make("b.INP", QDateTime::currentDateTime());
  QStringList list;
  SelectBonFiles(FDir, list);
  ASSERT_EQ(list.size(), 1);
  EXPECT_TRUE(list[0].endsWith("\tb.INP"));
  SelectBonFiles(FDir + "missing/", list);
  EXPECT_TRUE(list.isEmpty());
}

class FolderWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FTmp.isValid());
    FDir = FTmp.path() + "/";
    Put("a.bon");
  }
  void Put(const QString& name) {
    QFile f(FDir + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#S\r\n");
  }
  QTemporaryDir FTmp;
  QString FDir;
  // The watches' monotonic clock, in milliseconds.
  int64_t FMonoMs = 1000000;
  TFolderWatch::TMonotonicClock FClock = [this] { return FMonoMs; };
};

// A folder that cannot be opened or read is a failure of the listing, never an empty
// folder: the file timer and the file job report it instead of waiting for nothing.
TEST_F(FolderWatchTest, AFolderThatCannotBeReadFailsTheListing) {
  struct {
    TFileOp Op;
    int Err;
  } cases[] = {{TFileOp::Open, EACCES}, {TFileOp::ReadDir, EIO}, {TFileOp::ReadDir, ENOMEM}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Err);
    TFaultyFileOps ops;
    TScopedFileOps scoped(&ops);
    ops.FailAt(c.Op, 0, c.Err, FTmp.path().toStdString());
    try {
      TFolderWatch::ListWaiting(FDir, QStringLiteral("bon"));
      ADD_FAILURE() << "no failure";
    } catch (const EAbort& e) {
      EXPECT_EQ(std::string(e.what()), "[SelectBonFiles]" + SysErrorText(c.Err));
    }
    TFolderWatch watch(FClock);
    EXPECT_THROW(watch.Ready(FDir, QStringLiteral("bon"), QString(), 0), EAbort);
    ops.Clear();
    // Once the folder can be read again, its file is there.
    EXPECT_EQ(watch.Ready(FDir, QStringLiteral("bon"), QString(), 0).Files.size(), 1u);
  }
}

TEST_F(FolderWatchTest, AMissingFolderListsNothing) {
  EXPECT_TRUE(TFolderWatch::ListWaiting(FDir + "missing/", QStringLiteral("bon")).empty());
  EXPECT_TRUE(TFolderWatch::ListWaiting(FDir + "a.bon", QStringLiteral("bon")).empty());
}

// Each watch keeps what it has seen: a file first seen by one watch is not yet quiet for
// another, and a watch tells the wait until its next file is ready.
TEST_F(FolderWatchTest, AFileIsQuietSinceItsOwnWatchFirstSawIt) {
  TFolderWatch first(FClock), second(FClock);
  TReadyFiles r = first.Ready(FDir, QStringLiteral("bon"));
  EXPECT_TRUE(r.Files.empty());
  EXPECT_EQ(r.WaitMs, TFolderWatch::ReadyAgeMs);
  FMonoMs += TFolderWatch::ReadyAgeMs;
  r = first.Ready(FDir, QStringLiteral("bon"));
  ASSERT_EQ(r.Files.size(), 1u);
  EXPECT_EQ(r.Files[0].Name, "a.bon");
  EXPECT_EQ(r.WaitMs, -1);
  EXPECT_TRUE(second.Ready(FDir, QStringLiteral("bon")).Files.empty());
}

// A receipt file the program's user may not read (a share that creates files 0600 for
// another user) is never ready: one line in both logs names the reason, no job is started
// for it, and it is looked at again after the retry time, or at once when its status
// changes (a chmod, a chown). The opening is made to fail through the file-operations
// seam, since the tests run as root.
TEST_F(FolderWatchTest, AFileThatCannotBeReadWaitsWithOneLineAndIsRetriedSlowly) {
  const QString logDir = FDir + "Log/";
  const std::string path = QFile::encodeName(FDir + "a.bon").toStdString();
  const std::string line =
      "[SelectReadyBonFiles] Receipt file cannot be read: " + SysErrorText(EACCES) + "; it waits: \"" + path + "\"";
  auto logged = [&](const char* log) {
    const std::string text = ReadAll(logDir + log).toStdString();
    int n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
  };
  TFaultyFileOps ops;
  TScopedFileOps scoped(&ops);
  ops.FailAt(TFileOp::Open, 0, EACCES, path);
  TFolderWatch watch(FClock);
  EXPECT_TRUE(watch.Ready(FDir, QStringLiteral("bon"), logDir).Files.empty());  // first seen
  for (int second = 0; second < 5; ++second) {
    FMonoMs += 1000;
    EXPECT_TRUE(watch.Ready(FDir, QStringLiteral("bon"), logDir).Files.empty());
  }
  EXPECT_EQ(logged(uProgramLog::ExceptionLogName), 1);
  EXPECT_EQ(logged(uProgramLog::NormalLogName), 1);
  // It waits unlisted: the opening is not tried again before the retry time.
  const int opens = ops.Calls(TFileOp::Open);
  FMonoMs += TFolderWatch::RefusedClaimRetryMs - 5001;
  EXPECT_TRUE(watch.Ready(FDir, QStringLiteral("bon"), logDir).Files.empty());
  EXPECT_EQ(ops.Calls(TFileOp::Open), opens + 1);  // the folder's only
  // Tried again after the retry time: still not readable, and no new line.
  FMonoMs += 1;
  EXPECT_TRUE(watch.Ready(FDir, QStringLiteral("bon"), logDir).Files.empty());
  EXPECT_EQ(logged(uProgramLog::ExceptionLogName), 1);
  // The administrator gives the file to the program's group: ready at once.
  ops.Clear();
  ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
  const TReadyFiles r = watch.Ready(FDir, QStringLiteral("bon"), logDir);
  ASSERT_EQ(r.Files.size(), 1u);
  EXPECT_EQ(r.Files[0].Name, "a.bon");
  EXPECT_EQ(logged(uProgramLog::ExceptionLogName), 1);
}

}  // namespace
}  // namespace fp::test
