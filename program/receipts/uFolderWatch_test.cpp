#include "program/receipts/uFolderWatch.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cerrno>

#include "program/app/uConst.h"
#include "platform/FileOps.h"
#include "platform/SysErrorText.h"

namespace fp::test {
namespace {

class FolderWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.isValid());
    dir_ = tmp_.path() + "/";
    Put("a.bon");
  }
  void Put(const QString& name) {
    QFile f(dir_ + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#S\r\n");
  }
  QTemporaryDir tmp_;
  QString dir_;
  QDateTime now_{QDate(2025, 12, 9), QTime(12, 0, 0)};
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
    ops.FailAt(c.Op, 0, c.Err, tmp_.path().toStdString());
    try {
      TFolderWatch::ListWaiting(dir_, QStringLiteral("bon"));
      ADD_FAILURE() << "no failure";
    } catch (const EAbort& e) {
      EXPECT_EQ(std::string(e.what()), "[SelectBonFiles]" + SysErrorText(c.Err));
    }
    TFolderWatch watch;
    EXPECT_THROW(watch.Ready(dir_, QStringLiteral("bon"), now_, QString(), 0), EAbort);
    ops.Clear();
    // Once the folder can be read again, its file is there.
    EXPECT_EQ(watch.Ready(dir_, QStringLiteral("bon"), now_, QString(), 0).Files.size(), 1u);
  }
}

TEST_F(FolderWatchTest, AMissingFolderListsNothing) {
  EXPECT_TRUE(TFolderWatch::ListWaiting(dir_ + "missing/", QStringLiteral("bon")).empty());
  EXPECT_TRUE(TFolderWatch::ListWaiting(dir_ + "a.bon", QStringLiteral("bon")).empty());
}

// Each watch keeps what it has seen: a file first seen by one watch is not yet quiet for
// another, and a watch tells the wait until its next file is ready.
TEST_F(FolderWatchTest, AFileIsQuietSinceItsOwnWatchFirstSawIt) {
  TFolderWatch first, second;
  TReadyFiles r = first.Ready(dir_, QStringLiteral("bon"), now_);
  EXPECT_TRUE(r.Files.empty());
  EXPECT_EQ(r.WaitMs, TFolderWatch::ReadyAgeMs);
  now_ = now_.addMSecs(TFolderWatch::ReadyAgeMs);
  r = first.Ready(dir_, QStringLiteral("bon"), now_);
  ASSERT_EQ(r.Files.size(), 1u);
  EXPECT_EQ(r.Files[0].Name, "a.bon");
  EXPECT_EQ(r.WaitMs, -1);
  EXPECT_TRUE(second.Ready(dir_, QStringLiteral("bon"), now_).Files.empty());
}

}  // namespace
}  // namespace fp::test
