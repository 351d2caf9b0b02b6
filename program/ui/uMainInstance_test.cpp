// One instance per program file: the lock in the program's folder, the local socket in the
// user's private runtime folder and the raise handshake. Every test gives the guard folders
// of its own.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

#include "program/ui/uMain.h"
#include "program/ui/uMainTestSupport.h"
#include "program/app/uSingleInstance.h"

namespace fp::test {
namespace {

using TStart = TSingleInstance::TStart;

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FTmp.isValid());
    FProgDir = FTmp.path() + "/prog";
    FRuntime = FTmp.path() + "/run";
    ASSERT_TRUE(QDir().mkpath(FProgDir));
    ASSERT_TRUE(QDir().mkpath(FRuntime));
    ASSERT_EQ(::chmod(QFile::encodeName(FRuntime).constData(), 0700), 0);
  }
  QString Program() const { return FProgDir + "/DriverFiscalPrinterX4"; }
  QString LockName() const { return FProgDir + "/DriverFiscalPrinterX4.lock"; }
  std::unique_ptr<TSingleInstance> Guard(const QString& program = QString()) {
    return std::make_unique<TSingleInstance>(program.isEmpty() ? Program() : program, QString(), FRuntime);
  }

  QTemporaryDir FTmp;
  QString FProgDir, FRuntime;
};

TEST_F(SingleInstanceTest, SecondStartFromTheSamePathShowsTheFirst) {
  auto first = Guard();
  ASSERT_EQ(first->Acquire(), TStart::Run) << first->Problem().toStdString();
  int raised = 0;
  QByteArray token;
  first->OnRaise = [&](const QByteArray& t) {
    ++raised;
    token = t;
  };

  auto second = Guard();
  EXPECT_EQ(second->Acquire(), TStart::AnotherCopyRuns);
  EXPECT_EQ(second->HolderPid(), ::getpid());
  // The second start asks from its own thread while the first serves its event loop.
  std::atomic<int> answer{-1};
  std::thread asker([&] {
    TSingleInstance again(Program(), QString(), FRuntime);
    answer = again.RaiseRunning(5000, "desk-token-1") ? 1 : 0;
  });
  ASSERT_TRUE(SpinUntil([&] { return answer.load() >= 0; }, 8000));
  asker.join();
  EXPECT_EQ(answer.load(), 1);
  EXPECT_EQ(raised, 1);
  EXPECT_EQ(token, "desk-token-1");
}

TEST_F(SingleInstanceTest, CopiesInOtherFoldersRunSideBySide) {
  ASSERT_TRUE(QDir().mkpath(FTmp.path() + "/desk2"));
  auto a = Guard();
  auto b = Guard(FTmp.path() + "/desk2/DriverFiscalPrinterX4");
  EXPECT_NE(a->ServerName(), b->ServerName());
  EXPECT_NE(a->LockFilePath(), b->LockFilePath());
  EXPECT_EQ(a->Acquire(), TStart::Run);
  EXPECT_EQ(b->Acquire(), TStart::Run);
}

TEST_F(SingleInstanceTest, ReleasedByAnEndedInstance) {
  {
    auto first = Guard();
    ASSERT_EQ(first->Acquire(), TStart::Run);
  }
  // The file stays behind, unlocked: it stops nobody.
  EXPECT_TRUE(QFileInfo::exists(LockName()));
  auto next = Guard();
  EXPECT_EQ(next->Acquire(), TStart::Run) << next->Problem().toStdString();
}

TEST_F(SingleInstanceTest, NobodyAnswersWhenNoInstanceRuns) {
  auto lonely = Guard();
  EXPECT_FALSE(lonely->RaiseRunning(300));
  EXPECT_FALSE(lonely->Problem().isEmpty());
}

// The lock is in the program's folder and the socket in the private runtime folder, never
// in the shared temporary folder; a runtime folder others can enter (or a link to one) is
// not used, the program folder holds the socket then.
TEST_F(SingleInstanceTest, LockInTheProgramFolderSocketInThePrivateRuntimeFolder) {
  TSingleInstance own(Program(), QString(), FRuntime);
  EXPECT_EQ(own.LockFilePath(), LockName());
  EXPECT_EQ(QFileInfo(own.ServerName()).absolutePath(), FRuntime);

  const QString open = FTmp.path() + "/open";
  ASSERT_TRUE(QDir().mkpath(open));
  ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 01777), 0);
  const QString link = FTmp.path() + "/runlink";
  ASSERT_TRUE(QFile::link(FRuntime, link));
  for (const QString& runtime : {open, link, QString("relative/run")}) {
    TSingleInstance g(Program(), QString(), runtime);
    EXPECT_EQ(QFileInfo(g.ServerName()).absolutePath(), FProgDir) << runtime.toStdString();
    ASSERT_EQ(g.Acquire(), TStart::Run) << g.Problem().toStdString();
    EXPECT_TRUE(QFileInfo::exists(g.ServerName()));
  }
  EXPECT_EQ(QDir(open).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size(), 0);
}

// Whatever lies under the lock's name, if it is not the lock of a running copy, the start
// goes on and holds a real lock (a later start finds it held); a link's target is never
// touched.
TEST_F(SingleInstanceTest, WhatIsNotARunningCopysLockNeverStopsAStart) {
  const QString target = FTmp.path() + "/elsewhere.txt";
  int held = -1;
  struct Case {
    const char* name;
    std::function<void()> plant;
    bool needsRoot;
  };
  const std::vector<Case> cases = {
      {"a lock left by a copy that ended", [&] { ASSERT_TRUE(QFile(LockName()).open(QIODevice::WriteOnly)); }, false},
      {"a link to another file",
       [&] {
         QFile t(target);
         ASSERT_TRUE(t.open(QIODevice::WriteOnly));
         t.write("keep me");
         t.close();
         ASSERT_TRUE(QFile::link(target, LockName()));
       },
       false},
      {"a dangling link", [&] { ASSERT_TRUE(QFile::link(FTmp.path() + "/nothing", LockName())); }, false},
      {"a folder", [&] { ASSERT_TRUE(QDir().mkdir(LockName())); }, false},
      {"a pipe", [&] { ASSERT_EQ(::mkfifo(QFile::encodeName(LockName()).constData(), 0600), 0); }, false},
      {"a socket",
       [&] {
         const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un a{};
         a.sun_family = AF_UNIX;
         const QByteArray p = QFile::encodeName(LockName());
         ASSERT_LT(static_cast<size_t>(p.size()), sizeof a.sun_path);
         std::memcpy(a.sun_path, p.constData(), static_cast<size_t>(p.size()));
         ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
         ::close(s);
       },
       false},
      {"a file on which another program holds a read lock",
       [&] {
         QFile f(LockName());
         ASSERT_TRUE(f.open(QIODevice::WriteOnly));
         f.close();
         held = ::open(QFile::encodeName(LockName()).constData(), O_RDONLY | O_CLOEXEC);
         ASSERT_GE(held, 0);
         struct flock l {};
         l.l_type = F_RDLCK;
         l.l_whence = SEEK_SET;
         ASSERT_EQ(::fcntl(held, F_OFD_SETLK, &l), 0);
       },
       false},
      {"a file of another user",
       [&] {
         QFile f(LockName());
         ASSERT_TRUE(f.open(QIODevice::WriteOnly));
         f.close();
         ASSERT_EQ(::chown(QFile::encodeName(LockName()).constData(), 54321, 54321), 0);
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsRoot && ::geteuid() != 0) continue;  // only root can give a file away
    QFile::remove(target);
    QFile::remove(LockName());
    QDir().rmdir(LockName());
    c.plant();
    auto guard = Guard();
    ASSERT_EQ(guard->Acquire(), TStart::Run) << guard->Problem().toStdString();
    EXPECT_TRUE(guard->Problem().isEmpty()) << guard->Problem().toStdString();
    auto later = Guard();
    EXPECT_EQ(later->Acquire(), TStart::AnotherCopyRuns);
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(LockName()).constData(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(st.st_mode & 077, 0u);
    if (held >= 0) ::close(held);
    held = -1;
    if (QFileInfo::exists(target)) {
      QFile t(target);
      ASSERT_TRUE(t.open(QIODevice::ReadOnly));
      EXPECT_EQ(t.readAll(), "keep me");
    }
  }
}

// A folder where no lock can be made does not stop the start either; it says why.
TEST_F(SingleInstanceTest, WithoutALockTheStartGoesOnAndSaysWhy) {
  TSingleInstance g(FTmp.path() + "/gone/DriverFiscalPrinterX4", QString(), FRuntime);
  EXPECT_EQ(g.Acquire(), TStart::RunWithoutLock);
  EXPECT_TRUE(g.Problem().contains(FTmp.path() + "/gone/DriverFiscalPrinterX4.lock")) << g.Problem().toStdString();
}

TEST(SingleInstance, TitleNamesTheFullProgramPath) {
  EXPECT_EQ(TfrmMain::TitleFor("/opt/pos/DriverFiscalPrinterX4"), "MIRAVOK FP driver (/opt/pos/DriverFiscalPrinterX4)");
}

}  // namespace
}  // namespace fp::test
