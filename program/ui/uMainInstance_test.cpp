// One instance per program file: the lock, the local socket and the raise handshake.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QLockFile>

#include <atomic>
#include <thread>

#include "program/ui/uMain.h"
#include "program/ui/uMainTestSupport.h"
#include "program/app/uSingleInstance.h"

namespace fp::test {
namespace {

QString UniquePath(const char* tag) {
  return QStringLiteral("/opt/test-%1-%2/DriverFiscalPrinterX4")
      .arg(QString::fromLatin1(tag))
      .arg(QCoreApplication::applicationPid());
}

TEST(SingleInstance, SecondStartFromTheSamePathRaisesTheFirst) {
  const QString path = UniquePath("same");
  TSingleInstance first(path);
  ASSERT_TRUE(first.Acquire());
  int raised = 0;
  first.OnRaise = [&] { ++raised; };

  TSingleInstance second(path);
  EXPECT_FALSE(second.Acquire());
  // The second start asks from its own thread while the first serves its event loop.
  std::atomic<int> answer{-1};
  std::thread asker([&] {
    TSingleInstance again(path);
    answer = again.RaiseRunning(5000) ? 1 : 0;
  });
  ASSERT_TRUE(SpinUntil([&] { return answer.load() >= 0; }, 8000));
  asker.join();
  EXPECT_EQ(answer.load(), 1);
  EXPECT_EQ(raised, 1);
}

TEST(SingleInstance, CopiesInOtherFoldersRunSideBySide) {
  TSingleInstance a(UniquePath("a"));
  TSingleInstance b(UniquePath("b"));
  EXPECT_NE(a.ServerName(), b.ServerName());
  EXPECT_TRUE(a.Acquire());
  EXPECT_TRUE(b.Acquire());
}

TEST(SingleInstance, ReleasedByAnEndedInstance) {
  const QString path = UniquePath("released");
  {
    TSingleInstance first(path);
    ASSERT_TRUE(first.Acquire());
  }
  TSingleInstance next(path);
  EXPECT_TRUE(next.Acquire());
}

TEST(SingleInstance, NobodyAnswersWhenNoInstanceRuns) {
  TSingleInstance lonely(UniquePath("lonely"));
  EXPECT_FALSE(lonely.RaiseRunning(300));
}

TEST(SingleInstance, TitleNamesTheFullProgramPath) {
  EXPECT_EQ(TfrmMain::TitleFor("/opt/pos/DriverFiscalPrinterX4"), "MIRAVOK FP driver (/opt/pos/DriverFiscalPrinterX4)");
}

}  // namespace
}  // namespace fp::test
