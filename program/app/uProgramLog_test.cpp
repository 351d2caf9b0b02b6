// The program log: time-stamped lines in code page 1251, the rotation at the size limit, the
// exception log, and what a log that cannot be written does.
#include "program/app/uProgramLog.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <future>

#include "platform/FileOps.h"

#include "tests/support/QtFileTestSupport.h"

namespace fp::test {
namespace {

const QDateTime kNow(QDate(2024, 3, 5), QTime(7, 8, 9, 45));

class WriteLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FTmp.isValid());
    FLogDir = FTmp.path() + "/Log/";
  }
  // A line written with the test's clock.
  void Write(const QString& folder, const QString& message, bool exceptionLog) {
    uProgramLog::WriteLog(folder, message, exceptionLog, [this] { return FNow; });
  }

  QString Normal() const { return FLogDir + uProgramLog::NormalLogName; }
  QString Exception() const { return FLogDir + uProgramLog::ExceptionLogName; }

  QTemporaryDir FTmp;
  QString FLogDir;
  QDateTime FNow = kNow;
};

TEST_F(WriteLogTest, WritesTimeStampedLineInCodePage1251) {
  Write(FLogDir, QString::fromUtf8("[Test]\xD0\x9F\xD1\x80\xD0\xB8"), false);
  Write(FLogDir, "second", false);
  EXPECT_EQ(ReadAll(Normal()),
            QByteArray("05.03.24 07:08:09:045 - [Test]\xCF\xF0\xE8\r\n05.03.24 07:08:09:045 - second\r\n"));
  EXPECT_FALSE(QFile::exists(Exception()));
  Write(FLogDir, "exc", true);
  EXPECT_EQ(ReadAll(Exception()), QByteArray("05.03.24 07:08:09:045 - exc\r\n"));
}

TEST_F(WriteLogTest, EmptyFolderWritesNothingAndReleasesTheLock) {
  Write("", "lost", false);
  auto other = std::async(std::launch::async, [this] { Write(FLogDir, "other thread", false); });
  ASSERT_EQ(other.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_TRUE(ReadAll(Normal()).endsWith("other thread\r\n"));
}

TEST_F(WriteLogTest, MissingParentRaisesAndReleasesTheLock) {
  const QString deep = FTmp.path() + "/no/Log/";
  try {
    Write(deep, "x", false);
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Can not create \"Log\" directory.");
  }
  auto other = std::async(std::launch::async, [this] { Write(FLogDir, "after", false); });
  ASSERT_EQ(other.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_FALSE(QDir(FTmp.path() + "/no").exists());
}

TEST_F(WriteLogTest, RotatesAtTheLimitOnly) {
  QDir().mkpath(FLogDir);
  WriteAll(Normal(), QByteArray(64127, 'a'));
  Write(FLogDir, "below", false);
  EXPECT_TRUE(ReadAll(Normal()).endsWith("below\r\n"));
  EXPECT_EQ(QDir(FLogDir).entryList(QDir::Files).size(), 1);

  const QByteArray full(64128, 'b');
  WriteAll(Normal(), full);
  Write(FLogDir, "fresh", false);
  EXPECT_EQ(ReadAll(FLogDir + "Log_05-03-24_07-08-09.txt"), full);
  EXPECT_EQ(ReadAll(Normal()), QByteArray("05.03.24 07:08:09:045 - fresh\r\n"));
  EXPECT_FALSE(QFile::exists(Exception()));
}

TEST_F(WriteLogTest, ExceptionLogRotatesAlone) {
  QDir().mkpath(FLogDir);
  WriteAll(Normal(), QByteArray(70000, 'n'));
  WriteAll(Exception(), QByteArray(70000, 'e'));
  Write(FLogDir, "exc", true);
  EXPECT_EQ(ReadAll(FLogDir + "Exc_05-03-24_07-08-09.txt").size(), 70000);
  EXPECT_EQ(ReadAll(Exception()), QByteArray("05.03.24 07:08:09:045 - exc\r\n"));
  EXPECT_EQ(ReadAll(Normal()), QByteArray(70000, 'n'));
  EXPECT_FALSE(QFile::exists(FLogDir + "Log_05-03-24_07-08-09.txt"));
}

TEST_F(WriteLogTest, RotationNeverOverwritesAnEarlierOne) {
  QDir().mkpath(FLogDir);
  const QString rotated = FLogDir + "Log_05-03-24_07-08-09.txt";
  WriteAll(rotated, "first rotation");
  WriteAll(Normal(), QByteArray(64128, 'c'));
  Write(FLogDir, "lost", false);
  EXPECT_EQ(ReadAll(rotated), QByteArray("first rotation"));
  EXPECT_EQ(ReadAll(Normal()), QByteArray(64128, 'c'));
  // A second later the rotation succeeds.
  FNow = kNow.addSecs(1);
  Write(FLogDir, "kept", false);
  EXPECT_EQ(ReadAll(FLogDir + "Log_05-03-24_07-08-10.txt").size(), 64128);
  EXPECT_TRUE(ReadAll(Normal()).endsWith("kept\r\n"));
}

TEST_F(WriteLogTest, LogThatCannotBeOpenedLosesTheLineSilently) {
  TFaultyFileOps faulty;
  TScopedFileOps scope(&faulty);
  faulty.FailAt(TFileOp::Open, 0, EACCES, uProgramLog::NormalLogName);
  EXPECT_NO_THROW(Write(FLogDir, "lost", false));
  EXPECT_FALSE(QFile::exists(Normal()));
  faulty.Clear();
  Write(FLogDir, "next", false);
  EXPECT_EQ(ReadAll(Normal()), QByteArray("05.03.24 07:08:09:045 - next\r\n"));
}

}  // namespace
}  // namespace fp::test
