// The window pictures tool: run into an empty folder, it writes a picture of each window
// of the program that loads as an image of a window's size.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "tests/support/QtTestEnvironment.h"

namespace fp::test {
namespace {

// QProcess wants an application object.
[[maybe_unused]] test::TQtTestEnvironment& gQtEnvironment = test::QtTestEnvironment<QCoreApplication>();

const QString kTool = QStringLiteral(FP_BIN_DIR "/screenshots");

TEST(ScreenshotsTool, WritesAPictureOfEachWindow) {
  if (!QFileInfo::exists(kTool)) GTEST_SKIP() << kTool.toStdString() << " is not built";
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const QString folder = tmp.filePath(QStringLiteral("shots"));  // made by the tool
  QProcess tool;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  tool.setProcessEnvironment(env);
  tool.setProcessChannelMode(QProcess::ForwardedChannels);
  tool.start(kTool, {folder});
  ASSERT_TRUE(tool.waitForFinished(120000));
  ASSERT_EQ(tool.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(tool.exitCode(), 0);
  for (const char* name : {"frmMain", "AboutDlg", "frmSelectPeriod", "frmDepartmets", "frmEditDepartment",
                           "frmSettings", "PayTypeRelations"}) {
    const QString file = QDir(folder).filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
    ASSERT_TRUE(QFileInfo::exists(file)) << name;
    const QImage picture(file, "PNG");
    ASSERT_FALSE(picture.isNull()) << name;
    EXPECT_GE(picture.width(), 100) << name;
    EXPECT_GE(picture.height(), 50) << name;
  }
}

// Without a folder it says how to call it and writes nothing.
TEST(ScreenshotsTool, WithoutAFolderShowsItsUse) {
  if (!QFileInfo::exists(kTool)) GTEST_SKIP() << kTool.toStdString() << " is not built";
  QProcess tool;
  tool.start(kTool, {});
  ASSERT_TRUE(tool.waitForFinished(30000));
  EXPECT_EQ(tool.exitCode(), 2);
  EXPECT_TRUE(tool.readAllStandardError().startsWith("usage: "));
}

}  // namespace
}  // namespace fp::test
