// Program information: the folder write test and the version.
#include "program/app/uProgramInfo.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cerrno>
#include <functional>

#include "platform/FileOps.h"

#include "tests/support/QtFileTestSupport.h"

namespace fp::test {
namespace {

std::string Native(const QString& path) { return QFile::encodeName(path).toStdString(); }

QStringList Entries(const QString& dir) {
  return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

TEST(CanWriteToDirTest, LeavesNothingAndFailsWithTheReason) {
  QTemporaryDir tmp;
  const QString dir = tmp.path() + "/";
  EXPECT_TRUE(uProgramInfo::CanWriteToDir(dir));
  EXPECT_TRUE(Entries(dir).isEmpty());
  errno = 0;
  EXPECT_FALSE(uProgramInfo::CanWriteToDir(dir + "missing/"));
  EXPECT_EQ(errno, ENOENT);

  TFaultyFileOps faulty;
  TScopedFileOps scope(&faulty);
  faulty.FailAt(TFileOp::Open, 0, EROFS, Native(dir + "./"));
  errno = 0;
  EXPECT_FALSE(uProgramInfo::CanWriteToDir(dir));
  EXPECT_EQ(errno, EROFS);
  EXPECT_TRUE(Entries(dir).isEmpty());
}

// A file system without unnamed files gets a file of a new hidden name, removed again.
TEST(CanWriteToDirTest, WithoutUnnamedFilesANewNameIsCreatedAndRemoved) {
  QTemporaryDir tmp;
  const QString dir = tmp.path() + "/";
  TFaultyFileOps faulty;
  TScopedFileOps scope(&faulty);
  faulty.FailAt(TFileOp::Open, 0, EOPNOTSUPP, Native(dir + "./"));
  EXPECT_TRUE(uProgramInfo::CanWriteToDir(dir));
  EXPECT_EQ(faulty.Calls(TFileOp::Unlink), 1);
  EXPECT_TRUE(Entries(dir).isEmpty());
}

// A test file "chktmp.txt" left by a run stopped between its creation and its removal
// never fails the test again: an empty regular one is removed, anything else under that
// name stays as it is (a link is not followed).
TEST(CanWriteToDirTest, ATestFileLeftByAStoppedRunStandsInNoWay) {
  QTemporaryDir tmp;
  const QString dir = tmp.path() + "/folder/";
  const QString outside = tmp.path() + "/outside.txt";
  const struct {
    const char* Name;
    std::function<void()> Put;
    bool Removed;
  } cases[] = {
      {"LeftEmptyFile", [&] { WriteAll(dir + "chktmp.txt", ""); }, true},
      {"FileWithData", [&] { WriteAll(dir + "chktmp.txt", "mine"); }, false},
      {"LinkToAnEmptyFile",
       [&] { ASSERT_EQ(::symlink(Native(outside).c_str(), Native(dir + "chktmp.txt").c_str()), 0); }, false},
      {"Folder", [&] { ASSERT_TRUE(QDir().mkpath(dir + "chktmp.txt")); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_TRUE(QDir().mkpath(dir));
    WriteAll(outside, "");
    c.Put();
    EXPECT_TRUE(uProgramInfo::CanWriteToDir(dir));
    EXPECT_EQ(Entries(dir), c.Removed ? QStringList{} : QStringList{"chktmp.txt"});
    EXPECT_TRUE(QFileInfo::exists(outside));
    QDir(dir).removeRecursively();
  }
}

TEST(GetFileVersionTest, FourDottedNumbers) {
  EXPECT_EQ(uProgramInfo::GetFileVersion(), QString(FP_PROGRAM_VERSION));
  EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d+\\.\\d+\\.\\d+$").match(uProgramInfo::GetFileVersion()).hasMatch());
}

}  // namespace
}  // namespace fp::test
