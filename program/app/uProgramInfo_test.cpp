// Program information: the folder write test and the version.
#include "program/app/uProgramInfo.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "platform/FileOps.h"

#include "tests/support/QtFileTestSupport.h"

namespace fp::test {
namespace {

TEST(CanWriteToDirTest, CreatesAndRemovesTheTestFile) {
  QTemporaryDir tmp;
  const QString dir = tmp.path() + "/";
  EXPECT_TRUE(uProgramInfo::CanWriteToDir(dir));
  EXPECT_TRUE(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
  EXPECT_FALSE(uProgramInfo::CanWriteToDir(dir + "missing/"));

  WriteAll(dir + "chktmp.txt", "mine");
  EXPECT_FALSE(uProgramInfo::CanWriteToDir(dir));
  EXPECT_EQ(ReadAll(dir + "chktmp.txt"), QByteArray("mine"));
  QFile::remove(dir + "chktmp.txt");

  TFaultyFileOps faulty;
  TScopedFileOps scope(&faulty);
  faulty.FailAt(TFileOp::Open, 0, EROFS, "chktmp.txt");
  EXPECT_FALSE(uProgramInfo::CanWriteToDir(dir));
}

TEST(GetFileVersionTest, FourDottedNumbers) {
  EXPECT_EQ(uProgramInfo::GetFileVersion(), QString(FP_PROGRAM_VERSION));
  EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d+\\.\\d+\\.\\d+$").match(uProgramInfo::GetFileVersion()).hasMatch());
}

}  // namespace
}  // namespace fp::test
