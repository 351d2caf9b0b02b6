// The file job under faults of its surroundings: the receipt folder's file system full,
// the log folder full, the folder renamed away and back, a file replaced before its claim,
// thousands of files at once, a huge file, odd file names, a second program on the same
// folder and the clock stepping back. Each case checks that no receipt is lost or printed
// twice and that the folder is left in a state the next run goes on from. The faults that
// take the real library or real processes (the serial device vanishing in the middle of a
// receipt, two runner programs on one folder) are in tests/e2e/uPRNFileThreadFaultsE2E_test.cpp.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <time.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "program/receipts/uECRFileReader.h"
#include "tests/support/QtTestEnvironment.h"
#include "tests/support/uPRNFileThreadTestSupport.h"
#include "tests/support/uTaskRunnerTestSupport.h"
#include "program/tasks/uTaskRunner.h"
#include "platform/FileOps.h"
#include "program/app/uProgramLog.h"

namespace fp::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::chrono_literals;

// The jobs' hand-over to the main thread and its event loop need an application object.
[[maybe_unused]] TQtTestEnvironment& gQtEnvironment = QtTestEnvironment<QCoreApplication>();

std::string Bytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The system calls with a hook after chosen ones (the test changes the folder at an exact
// point of the job) and the bytes read per path; chosen calls can still be made to fail.
class THookedFileOps : public TFaultyFileOps {
 public:
  std::function<void(TFileOp op, const std::string& path)> After;

  int Open(const char* path, int flags, mode_t mode) override {
    const int fd = TFaultyFileOps::Open(path, flags, mode);
    const int err = errno;
    if (fd >= 0) {
      std::lock_guard<std::mutex> lock(FM);
      FPaths[fd] = path;
    }
    Hook(TFileOp::Open, path);
    errno = err;
    return fd;
  }
  ssize_t Read(int fd, void* buf, size_t count) override {
    const ssize_t n = TFaultyFileOps::Read(fd, buf, count);
    if (n > 0) {
      std::lock_guard<std::mutex> lock(FM);
      FReadBytes[FPaths[fd]] += static_cast<size_t>(n);
    }
    return n;
  }
  int RenameNoReplace(const char* from, const char* to) override {
    const int rc = TFaultyFileOps::RenameNoReplace(from, to);
    const int err = errno;
    Hook(TFileOp::RenameNoReplace, std::string(from) + '\n' + to);
    errno = err;
    return rc;
  }
  int Lstat(const char* path, struct stat* st) override {
    const int rc = TFaultyFileOps::Lstat(path, st);
    const int err = errno;
    Hook(TFileOp::Lstat, path);
    errno = err;
    return rc;
  }
  // The calls relative to the receipt folder, hooked as their namesakes with the paths
  // they stand for.
  int OpenAt(int dir, const char* name, int flags, mode_t mode) override {
    const std::string path = PathAt(dir, name);
    const int fd = TFaultyFileOps::OpenAt(dir, name, flags, mode);
    const int err = errno;
    if (fd >= 0) {
      std::lock_guard<std::mutex> lock(FM);
      FPaths[fd] = path;
    }
    Hook(TFileOp::Open, path);
    errno = err;
    return fd;
  }
  int FstatAt(int dir, const char* name, struct stat* st, int flags) override {
    const std::string path = PathAt(dir, name);
    const int rc = TFaultyFileOps::FstatAt(dir, name, st, flags);
    const int err = errno;
    Hook(TFileOp::Lstat, path);
    errno = err;
    return rc;
  }
  int RenameAt(int dir, const char* from, const char* to, unsigned flags) override {
    const std::string path = PathAt(dir, from) + '\n' + PathAt(dir, to);
    const int rc = TFaultyFileOps::RenameAt(dir, from, to, flags);
    const int err = errno;
    Hook((flags & RENAME_NOREPLACE) ? TFileOp::RenameNoReplace : TFileOp::Rename, path);
    errno = err;
    return rc;
  }
  // Bytes read through descriptors opened with a path that ends in `suffix`.
  size_t ReadFrom(const std::string& suffix) {
    std::lock_guard<std::mutex> lock(FM);
    size_t n = 0;
    for (const auto& [path, bytes] : FReadBytes)
      if (path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
        n += bytes;
    return n;
  }

 private:
  void Hook(TFileOp op, const std::string& path) {
    if (After) After(op, path);
  }
  std::mutex FM;
  std::map<int, std::string> FPaths;
  std::map<std::string, size_t> FReadBytes;
};

class TFaults : public TWorkerFixture {
 protected:
  void SetUp() override {
    TWorkerFixture::SetUp();
    // The receipt folder in memory where the machine offers it: creating thousands of
    // files on a loaded disk takes seconds, and the disk is not what these cases are about.
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable()) {
      FMem = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/uPRNFileThreadFaults-XXXXXX"));
      if (FMem->isValid()) {
        FOlder = FMem->path() + "/bon/";
        ASSERT_TRUE(QDir().mkpath(FOlder));
      }
    }
  }
  void TearDown() override {
    // Names that are not UTF-8 are beyond the temporary folder's own clean-up.
    for (const auto& name : RawFiles()) ::unlink((Bytes(FOlder) + name).c_str());
    TWorkerFixture::TearDown();
  }
  // A file of the folder by the bytes of its name.
  void PutRaw(const std::string& name, const std::string& content, double ageSec = 60) {
    const std::string path = Bytes(FOlder) + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << name;
    ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(fd);
    const qint64 ms = FClock.toMSecsSinceEpoch() - static_cast<qint64>(ageSec * 1000);
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = ms / 1000;
    times[0].tv_nsec = times[1].tv_nsec = (ms % 1000) * 1000000;
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
  std::string ReadRaw(const std::string& name) const {
    const int fd = ::open((Bytes(FOlder) + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "<missing>";
    std::string data;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) data.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return data;
  }
  // The names of the folder as bytes, sorted.
  std::vector<std::string> RawFiles() const {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(Bytes(FOlder).c_str())) {
      while (dirent* e = ::readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
      ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // The sales the printer was sent, as SaleOf gives them.
  std::vector<std::string> Sold() const {
    std::vector<std::string> sold;
    for (const auto& c : FAke->Calls)
      if (c.rfind("AddProgPlu(", 0) == 0) sold.push_back(c.substr(0, c.find(',')));
    return sold;
  }
  // The sale of a one-line receipt ("%<plu>^..."), by its article number.
  static std::string SaleOf(const std::string& receipt) {
    return "AddProgPlu(" + receipt.substr(1, receipt.find('^') - 1);
  }
  // Every receipt's content kept under some name of the folder.
  std::multiset<std::string> Contents() const {
    std::multiset<std::string> all;
    for (const auto& name : RawFiles()) all.insert(ReadRaw(name));
    return all;
  }

  std::unique_ptr<QTemporaryDir> FMem;
};

const std::string kWater = "%12^Water^150^1000\r\n";
const std::string kBread = "%13^Bread^120^1000\r\n";
const std::string kMilk = "%14^Milk^99^1000\r\n";
// The mark of the printed 0001.bon while its claim stays.
const std::string kMark = ".DriverFiscalPrinterX4.0001.printed";

// ---- The receipt folder's file system full ----

// Every write into the receipt folder failing with "no space left" in turn: whichever
// fails, after a run without faults every receipt was printed exactly once or is kept
// under a name of its own, no claim is left, and no report file is a torn one (a report
// file is complete or absent).
TEST_F(TFaults, FolderFullAtEveryWriteInTurn) {
  for (TFileOp op : {TFileOp::Open, TFileOp::Write, TFileOp::Close, TFileOp::RenameNoReplace, TFileOp::Rename}) {
    for (int nth = 1; nth <= 10; ++nth) {
      SCOPED_TRACE(std::to_string(static_cast<int>(op)) + "/" + std::to_string(nth));
      for (const auto& name : RawFiles()) ::unlink((Bytes(FOlder) + name).c_str());
      FAke->Calls.clear();
      Put("0001.bon", kWater, 60);
      Put("0002.bon", kInvalid, 50);
      Put("0002.err", "old", 70);
      Put("0003.bon", kBread, 45);
      Put("0004.bon", kStatusQuery, 40);
      FAke->Fail("GetHardwareStatus", 101, "[GetHardwareStatus] No answer ");  // the query ends the job
      {
        TFaultyFileOps ops;
        TScopedFileOps scoped(&ops);
        ops.FailAt(op, nth, ENOSPC, Bytes(FOlder));
        RunFileJob();
      }
      RunFileJob();
      const auto files = RawFiles();
      for (const auto& name : files) EXPECT_EQ(name.find(".$$$"), std::string::npos) << name;
      const auto sold = Sold();
      for (const std::string& content : {kWater, kBread}) {
        const auto n = std::count(sold.begin(), sold.end(), SaleOf(content));
        EXPECT_LE(n, 1) << content;
        EXPECT_TRUE(n == 1 || Contents().count(content) == 1) << content;
      }
      EXPECT_EQ(Contents().count("old"), 1u);
      EXPECT_EQ(Contents().count(kInvalid), 1u);
      // A report file is whole: the printed receipt's lines, the failure, the status answer
      // or the unknown outcome of a claim kept, to its end.
      for (const auto& name : files) {
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".rep") != 0) continue;
        const std::string text = ReadRaw(name);
        EXPECT_TRUE(text.find("Close\r\n") != std::string::npos || text.find("[ERROR]") != std::string::npos ||
                    text.rfind("&S\r\n", 0) == 0 || text.rfind("Printer serial: ", 0) == 0 ||
                    text.rfind("[UNKNOWN]", 0) == 0)
            << name << ": " << text;
        EXPECT_TRUE(text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) << name << ": " << text;
      }
    }
  }
}

// The report of a printed receipt cannot be written: the job ends with a file error, the
// receipt keeps its claim (it is never printed again) and its report waits in memory, with
// a line naming the file; no torn report file stays, and a waiting status query is not
// answered with that disk error. While the report still cannot be written no file is
// taken; once it can, it is written first, its claim goes, and the next files print.
TEST_F(TFaults, FolderFullWhileTheReportIsWritten) {
  Put("0001.bon", kWater, 60);
  Put("0002.bon", kBread, 50);
  Put("0003.bon", kStatusQuery, 40);
  auto job = FileJob();
  {
    TFaultyFileOps ops;
    TScopedFileOps scoped(&ops);
    ops.FailAt(TFileOp::Write, 1, ENOSPC, Bytes(FOlder + ".DriverFiscalPrinterX4.0001.rep"));
    job->Execute();
  }
  EXPECT_EQ(job->ErrorKind(), ekFileError);
  EXPECT_THAT(job->ErrorMessage().toStdString(), HasSubstr(std::strerror(ENOSPC)));
  EXPECT_THAT(job->ErrorMessage().toStdString(), HasSubstr(Bytes(FOlder + "0001.rep")));
  EXPECT_EQ(Files(), (std::vector<std::string>{kMark, "0001.$$$", "0002.bon", "0003.bon"}));
  EXPECT_THAT(NormalLog(), HasSubstr("[DoReadFiles] Printed, but its report file cannot be written: \"" +
                                     Bytes(FOlder + "0001.bon") + "\" kept as \"" + Bytes(FOlder + "0001.$$$") +
                                     "\" until it can; "));
  {
    TFaultyFileOps ops;
    TScopedFileOps scoped(&ops);
    ops.FailAt(TFileOp::Open, 0, ENOSPC, Bytes(FOlder + ".DriverFiscalPrinterX4.0001.rep"));
    RunFileJob();
    RunFileJob();
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{kMark, "0001.$$$", "0002.bon", "0003.bon"}));
  EXPECT_EQ(Sold().size(), 1u);
  RunFileJob();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0002.rep", "0003.rep"}));
  EXPECT_THAT(Read("0001.rep"), HasSubstr("Close\r\n"));
  EXPECT_THAT(Read("0003.rep"), HasSubstr("Printer serial: "));  // the printer's own state
  EXPECT_THAT(Read("0003.rep"), Not(HasSubstr(std::strerror(ENOSPC))));
  EXPECT_EQ(Sold(), (std::vector<std::string>{SaleOf(kWater), SaleOf(kBread)}));
}

// The file timer of a runner on the fixture's folder, without a printer check; its tasks
// are fakes that never start a real job, so whatever it does, it does without one.
class TKeptReports : public TFaults {
 protected:
  void SetUp() override {
    TFaults::SetUp();
    FSettings.SearchPath = FOlder;
    FSettings.CheckPrnIntevalSec = 0;
    FSettings.RepFilePrint = true;
    // The fixture's file jobs are the runner's: they share its care of the folder.
    FCare = Runner().FolderCare();
  }
  TTaskRunner& Runner() {
    if (!FRunner) {
      TTaskRunnerServices s;
      s.CreateTask = FWorkers.Factory();
      s.Log = [this](const QString& line) { FRunnerLog << line; };
      s.ErrorLog = [this](const QString& line) { FRunnerLog << line; };
      s.ReadyAgeMs = 0;
      FRunner = std::make_unique<TTaskRunner>(s, FSettings, FView);
      FRunner->SetLogDir(FLogDir);
    }
    return *FRunner;
  }
  // A job prints 0001.bon and cannot write its report: the report waits in memory.
  void PrintWithoutRoomForTheReport() {
    Put("0001.bon", kWater, 60);
    TFaultyFileOps ops;
    TScopedFileOps scoped(&ops);
    ops.FailAt(TFileOp::Write, 1, ENOSPC, Bytes(FOlder + ".DriverFiscalPrinterX4.0001.rep"));
    RunFileJob();
    ASSERT_EQ(Files(), (std::vector<std::string>{kMark, "0001.$$$"}));
  }

  TMainSettings FSettings;
  TFakeWorkers FWorkers;
  TRecordingObserver FView;
  QStringList FRunnerLog;
  std::unique_ptr<TTaskRunner> FRunner;
};

// The report kept in memory is written by the file timer as soon as the disk takes it,
// with no new receipt file and no job; while it still cannot be, the ticks say so once.
TEST_F(TKeptReports, WrittenByTheTimerWhenRoomReturns) {
  PrintWithoutRoomForTheReport();
  {
    TFaultyFileOps ops;
    TScopedFileOps scoped(&ops);
    ops.FailAt(TFileOp::Open, 0, ENOSPC, Bytes(FOlder + ".DriverFiscalPrinterX4.0001.rep"));
    for (int i = 0; i < 3; ++i) Runner().FileTimerTick();
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{kMark, "0001.$$$"}));
  EXPECT_TRUE(FRunnerLog.isEmpty());  // the job said it once
  Runner().FileTimerTick();
  EXPECT_EQ(Files(), std::vector<std::string>{"0001.rep"});
  EXPECT_THAT(Read("0001.rep"), HasSubstr("Close\r\n"));
  EXPECT_EQ(FRunnerLog
                .filter("[DoReadFiles] The report of the printed receipt \"" + FOlder + "0001.bon\" is written: \"" +
                        FOlder + "0001.rep\"")
                .size(),
            1);
  EXPECT_TRUE(FWorkers.Tasks.empty());
  EXPECT_EQ(Sold(), std::vector<std::string>{SaleOf(kWater)});
}

// A second program on the folder took the kept claim meanwhile (its file job kept it as
// unknown outcome): the receipt printed all the same, so its report is written, one line
// says the claim was gone, and the folder prints on.
TEST_F(TKeptReports, ClaimTakenByAnotherProgramStopsNothing) {
  PrintWithoutRoomForTheReport();
  ASSERT_EQ(::rename(Bytes(FOlder + "0001.$$$").c_str(), Bytes(FOlder + "0001.unk").c_str()), 0);
  Put("0002.bon", kBread, 50);
  RunFileJob();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0001.unk", "0002.rep"}));
  EXPECT_THAT(Read("0001.rep"), HasSubstr("Close\r\n"));
  EXPECT_EQ(Sold(), (std::vector<std::string>{SaleOf(kWater), SaleOf(kBread)}));
  const std::string gone = "The claim of the printed receipt \"" + Bytes(FOlder + "0001.bon") +
                           "\" was gone (another program took it): \"" + Bytes(FOlder + "0001.$$$") + "\"";
  EXPECT_THAT(NormalLog(), HasSubstr(gone));
  Put("0003.bon", kMilk, 40);
  RunFileJob();
  Runner().FileTimerTick();
  const std::string log = NormalLog();
  EXPECT_EQ(log.find(gone), log.rfind(gone));
  EXPECT_EQ(Sold().size(), 3u);
}

// What a runner's jobs keep is that runner's alone: another runner in the process (another
// desk's) neither writes nor logs it at its end, and the runner whose job kept it still does.
TEST_F(TKeptReports, KeptByTheRunnerWhoseJobPrintedIt) {
  PrintWithoutRoomForTheReport();
  TMainSettings otherSettings = FSettings;
  TRecordingObserver otherView;
  TTaskRunnerServices s;
  QStringList otherLog;
  s.Log = [&otherLog](const QString& line) { otherLog << line; };
  s.ErrorLog = s.Log;
  TTaskRunner other(s, otherSettings, otherView);
  EXPECT_NE(other.FolderCare(), Runner().FolderCare());
  other.LeaveKeptReports();
  EXPECT_TRUE(otherLog.isEmpty());
  EXPECT_EQ(Files(), (std::vector<std::string>{kMark, "0001.$$$"}));
  Runner().LeaveKeptReports();
  EXPECT_EQ(Files(), std::vector<std::string>{"0001.rep"});
  EXPECT_THAT(Read("0001.rep"), HasSubstr("Close\r\n"));
}

// At the program's end a kept report is tried once more; one that still cannot be written
// goes into the log with its text, so that what printed is on record.
TEST_F(TKeptReports, TriedOnceMoreAtTheEndAndLoggedWhenItCannotBe) {
  PrintWithoutRoomForTheReport();
  {
    TFaultyFileOps ops;
    TScopedFileOps scoped(&ops);
    ops.FailAt(TFileOp::Open, 0, ENOSPC, Bytes(FOlder + ".DriverFiscalPrinterX4.0001.rep"));
    Runner().LeaveKeptReports();
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{kMark, "0001.$$$"}));
  const QStringList left = FRunnerLog.filter("[Exit] The report of the printed receipt \"" + FOlder + "0001.bon\"");
  ASSERT_EQ(left.size(), 1);
  EXPECT_THAT(left[0].toStdString(), HasSubstr(Bytes(FOlder + "0001.$$$")));
  EXPECT_THAT(left[0].toStdString(), HasSubstr("Close\r\n"));
  // Nothing is kept in memory any more, but the claim's mark says it printed: the next
  // look finishes it as printed with its report from the mark, never as unknown outcome.
  Runner().FileTimerTick();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep"}));
  EXPECT_THAT(Read("0001.rep"), HasSubstr("Close\r\n"));

  // With room again the last try writes it.
  FRunnerLog.clear();
  ASSERT_TRUE(QFile::remove(FOlder + "0001.rep"));
  PrintWithoutRoomForTheReport();
  Runner().LeaveKeptReports();
  EXPECT_THAT(Read("0001.rep"), HasSubstr("Close\r\n"));
  EXPECT_TRUE(FRunnerLog.filter("[Exit]").isEmpty());
}

// Too little free space for a report: nothing is claimed (a rename needs none, a report
// does), the job says why in one line, and the receipt folder is in the folder-fault
// state for the file timer; with room again the receipt prints.
TEST_F(TFaults, TooLittleFreeSpaceClaimsNothing) {
  Put("0001.bon", kWater, 60);
  {
    TFaultyFileOps ops;
    TScopedFileOps scoped(&ops);
    ops.SetFreeSpace(ReportRoomBytes - 1);
    RunFileJob();
    const TFolderFault fault = TTaskRunner::ProbeFolder(FOlder, true, false);
    EXPECT_EQ(fault.Problem, TFolderProblem::Unwritable);
    EXPECT_EQ(fault.Error, ENOSPC);
    ops.SetFreeSpace(ReportRoomBytes);
    EXPECT_FALSE(TTaskRunner::ProbeFolder(FOlder, true, false));
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.bon"}));
  EXPECT_TRUE(Sold().empty());
  EXPECT_THAT(NormalLog(),
              HasSubstr("[DoReadFiles] Not enough free space for a report file, no file is taken: " + Bytes(FOlder)));
  RunFileJob();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep"}));
}

// A receipt folder on a real file system that is full (a small tmpfs, where the machine
// lets the test mount one): nothing is claimed, the folder is in the fault state, and
// once there is room the receipt prints with its whole report.
TEST_F(TFaults, RealFileSystemFullClaimsNothing) {
  const QString mountPoint = FTmp.path() + "/small";
  ASSERT_TRUE(QDir().mkpath(mountPoint));
  if (::geteuid() != 0 || ::mount("tmpfs", Bytes(mountPoint).c_str(), "tmpfs", 0, "size=256k") != 0)
    GTEST_SKIP() << "no small tmpfs here (needs root and the right to mount)";
  struct TUnmount {
    std::string Path;
    ~TUnmount() { ::umount2(Path.c_str(), MNT_DETACH); }
  } unmount{Bytes(mountPoint)};
  FOlder = mountPoint + "/";
  Put("0001.bon", kWater, 60);
  const std::string filler = Bytes(FOlder + "filler");
  const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  const std::string block(4096, 'x');
  while (::write(fd, block.data(), block.size()) > 0) {
  }
  ::close(fd);
  RunFileJob();
  EXPECT_EQ(ReadRaw("0001.bon"), kWater);
  EXPECT_EQ(ReadRaw("0001.$$$"), "<missing>");
  EXPECT_TRUE(Sold().empty());
  EXPECT_EQ(TTaskRunner::ProbeFolder(FOlder, true, false).Error, ENOSPC);
  ASSERT_EQ(::unlink(filler.c_str()), 0);
  RunFileJob();
  EXPECT_EQ(RawFiles(), std::vector<std::string>{"0001.rep"});
  EXPECT_THAT(ReadRaw("0001.rep"), HasSubstr("Close\r\n"));
  EXPECT_EQ(Sold(), std::vector<std::string>{SaleOf(kWater)});
}

// ---- The log folder full ----

struct TLogFault {
  const char* Name;
  TFileOp Op;
  bool LogFolderMissing;
};

void PrintTo(const TLogFault& f, std::ostream* os) { *os << f.Name; }

class TLogFolderFull : public TFaults, public ::testing::WithParamInterface<TLogFault> {};

// Whatever the log writer cannot do, printing goes on exactly as with a working log.
TEST_P(TLogFolderFull, PrintingGoesOn) {
  const TLogFault& f = GetParam();
  Put("0001.bon", kWater, 60);
  Put("0002.bon", kInvalid, 50);
  Put("0003.bon", kBread, 40);
  if (f.LogFolderMissing) {
    QDir(FLogDir).removeRecursively();
  } else {
    // A log over its size limit, so that the line also tries to rotate it.
    QDir().mkpath(FLogDir);
    QFile big(FLogDir + uProgramLog::NormalLogName);
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(128 * 501 + 1, 'x'));
  }
  auto job = FileJob();
  {
    TFaultyFileOps ops;
    TScopedFileOps scoped(&ops);
    ops.FailAt(f.Op, 0, ENOSPC, Bytes(FLogDir));
    job->Execute();
  }
  EXPECT_EQ(job->ErrorMessage(), "");
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0002.err", "0002.rep", "0003.rep"}));
  EXPECT_EQ(Sold().size(), 2u);
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "Started 0001.bon", "Processed", "Started 0002.bon", "Error 2",
                                               "Processed", "Started 0003.bon", "Processed", "Finished"}));
}

INSTANTIATE_TEST_SUITE_P(Faults, TLogFolderFull,
                         ::testing::Values(TLogFault{"LineCannotBeWritten", TFileOp::Write, false},
                                           TLogFault{"LogCannotBeCreated", TFileOp::Open, false},
                                           TLogFault{"LogCannotBeRotated", TFileOp::RenameNoReplace, false},
                                           TLogFault{"LogFolderCannotBeMade", TFileOp::Mkdir, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- The folder renamed away and back while a job runs ----

// Renamed away while a receipt prints (after its claim was read): the job cannot finish
// the file in the folder and ends; nothing is created where the folder was. Back again,
// the next run keeps the claim as an unknown outcome (it cannot know the receipt printed)
// and prints the waiting file once.
TEST_F(TFaults, FolderRenamedAwayWhileAReceiptPrints) {
  Put("0001.bon", kWater, 60);
  Put("0002.bon", kBread, 50);
  const QString away = FOlder.chopped(1) + ".away";
  THookedFileOps ops;
  bool moved = false;  // at the claim's first opening
  ops.After = [&](TFileOp op, const std::string& path) {
    if (op == TFileOp::Open && path == Bytes(FOlder + "0001.$$$") && !moved) {
      moved = true;
      ASSERT_EQ(::rename(Bytes(FOlder.chopped(1)).c_str(), Bytes(away).c_str()), 0);
    }
  };
  auto job = FileJob();
  {
    TScopedFileOps scoped(&ops);
    job->Execute();
  }
  EXPECT_EQ(job->ErrorKind(), ekFileError);
  EXPECT_FALSE(QFileInfo::exists(FOlder)) << "something was created where the folder was";
  ASSERT_EQ(::rename(Bytes(away).c_str(), Bytes(FOlder.chopped(1)).c_str()), 0);
  RunFileJob();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0001.unk", "0002.rep"}));
  EXPECT_EQ(Read("0001.unk"), kWater);
  EXPECT_EQ(Sold().size(), 2u);
}

// Replaced while a receipt prints by an empty folder, or by a link to another folder
// holding a report of the same name: nothing is written into either, the job ends with a
// file error, and once the folder is back its claim is kept as an unknown outcome.
class TFolderReplaced : public TFaults, public ::testing::WithParamInterface<bool> {};

TEST_P(TFolderReplaced, WhileAReceiptPrintsNothingIsWrittenThere) {
  const bool byLink = GetParam();
  Put("0001.bon", kWater, 60);
  Put("0002.bon", kStatusQuery, 50);
  const QString away = FOlder.chopped(1) + ".away";
  const QString other = FOlder.chopped(1) + ".other/";
  ASSERT_TRUE(QDir().mkpath(other));
  {
    QFile f(other + "0001.rep");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("another folder's report");
  }
  THookedFileOps ops;
  bool moved = false;  // at the claim's first opening
  ops.After = [&](TFileOp op, const std::string& path) {
    if (op != TFileOp::Open || path != Bytes(FOlder + "0001.$$$") || moved) return;
    moved = true;
    ASSERT_EQ(::rename(Bytes(FOlder.chopped(1)).c_str(), Bytes(away).c_str()), 0);
    if (byLink)
      ASSERT_EQ(::symlink(Bytes(other.chopped(1)).c_str(), Bytes(FOlder.chopped(1)).c_str()), 0);
    else
      ASSERT_TRUE(QDir().mkdir(FOlder.chopped(1)));
  };
  auto job = FileJob();
  {
    TScopedFileOps scoped(&ops);
    job->Execute();
  }
  EXPECT_EQ(job->ErrorKind(), ekFileError);
  EXPECT_THAT(job->ErrorMessage().toStdString(), HasSubstr("not the one the job started in"));
  EXPECT_EQ(QDir(other).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"0001.rep"});
  QFile report(other + "0001.rep");
  ASSERT_TRUE(report.open(QIODevice::ReadOnly));
  EXPECT_EQ(report.readAll(), "another folder's report");
  if (!byLink) {
    EXPECT_TRUE(QDir(FOlder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
  }
  // The status query of the real folder is not answered in the stand-in either.
  EXPECT_FALSE(QFileInfo::exists(FOlder + "0002.rep"));
  ASSERT_EQ(::unlink(Bytes(FOlder.chopped(1)).c_str()) == 0 || ::rmdir(Bytes(FOlder.chopped(1)).c_str()) == 0, true);
  ASSERT_EQ(::rename(Bytes(away).c_str(), Bytes(FOlder.chopped(1)).c_str()), 0);
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.$$$", "0002.bon"}));
  RunFileJob();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0001.unk", "0002.rep"}));
  EXPECT_EQ(Sold(), std::vector<std::string>{SaleOf(kWater)});
}

INSTANTIATE_TEST_SUITE_P(Replacements, TFolderReplaced, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "ByALink" : "ByAnEmptyFolder"); });

// ---- A pipe swapped in under a name the job reads ----

struct TPipeCase {
  const char* Name;
  TFileOp After;         // the call after which the pipe is swapped in
  const char* PathPart;  // ... on a path holding this
  const char* Swapped;   // the name the pipe takes (the file goes to the pipe's name)
  bool StatusQuery;      // 0001.bon is a status query answered after a failed connection
};

void PrintTo(const TPipeCase& c, std::ostream* os) { *os << c.Name; }

class TPipeSwappedIn : public TFaults, public ::testing::WithParamInterface<TPipeCase> {};

// A pipe exchanged for the file (renameat2 RENAME_EXCHANGE) just before the job opens it:
// the job never waits on it, goes on, and leaves the pipe in place with one log line.
TEST_P(TPipeSwappedIn, JobDoesNotWaitOnIt) {
  const TPipeCase& c = GetParam();
  Put("0001.bon", c.StatusQuery ? kStatusQuery : kWater, 60);
  Put("0002.bon", kBread, 50);
  if (c.StatusQuery) FAke->Fail("Init", 102, "[Init] Port busy ");
  const std::string pipe = Bytes(FOlder + "pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
  bool swapped = false;
  THookedFileOps ops;
  ops.After = [&](TFileOp op, const std::string& path) {
    if (swapped || op != c.After || path.find(Bytes(FOlder) + c.PathPart) == std::string::npos) return;
    swapped = true;
    ASSERT_EQ(::renameat2(AT_FDCWD, pipe.c_str(), AT_FDCWD, Bytes(FOlder + c.Swapped).c_str(), RENAME_EXCHANGE), 0);
  };
  // Should the job open the pipe and wait, a writer that comes and goes lets it go on.
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!done && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(10ms);
    if (done) return;
    ADD_FAILURE() << "the job waited on the pipe";
    for (const char* name : {"0001.bon", "0001.$$$", "0001.rep", "pipe"}) {
      const int fd = ::open(Bytes(FOlder + name).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) ::close(fd);
    }
  });
  {
    TScopedFileOps scoped(&ops);
    RunFileJob();
  }
  done = true;
  watchdog.join();
  EXPECT_TRUE(swapped);
  struct stat st {};
  if (std::string(c.Swapped) == "0001.$$$") {
    // The pipe went back under the file's name, where the listing leaves it alone.
    ASSERT_EQ(::lstat(Bytes(FOlder + "0001.bon").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(Sold(), std::vector<std::string>{SaleOf(kBread)});
    EXPECT_EQ(FEvents,
              (std::vector<std::string>{"Online", "Started 0001.bon", "Started 0002.bon", "Processed", "Finished"}));
  } else if (c.StatusQuery) {
    // A pipe under the query's name is no query: nothing is answered or deleted.
    EXPECT_FALSE(QFileInfo::exists(FOlder + "0001.rep"));
    EXPECT_TRUE(Sold().empty());
  } else {
    EXPECT_EQ(Sold(), (std::vector<std::string>{SaleOf(kWater), SaleOf(kBread)}));
    EXPECT_FALSE(QFileInfo::exists(FOlder + "0001.$$$"));
  }
  if (std::string(c.Swapped) != "0001.$$$") {
    ASSERT_EQ(::lstat(Bytes(FOlder + c.Swapped).c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TPipeSwappedIn,
    ::testing::Values(TPipeCase{"AfterTheClaim", TFileOp::RenameNoReplace, "0001.bon\n", "0001.$$$", false},
                      TPipeCase{"ReportBeforeItsSync", TFileOp::Rename, ".DriverFiscalPrinterX4.0001.rep.tmp\n",
                                "0001.rep", false},
                      TPipeCase{"StatusQueryAfterItsListing", TFileOp::Lstat, "0001.bon", "0001.bon", true}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- Names taken by something that is not ours ----

// A folder under a receipt's claim name and a link under another claim name are not
// claims of ours: the left-claim recovery sets the folder aside and removes the link (never
// what it points to) with one line each, and the receipt prints. A folder under an error
// file's name stays: the error file takes the next counted name. Every other file of the
// job prints or fails as it would.
TEST_F(TFaults, NamesTakenByWhatIsNotOursStopNothing) {
  Put("0001.bon", kWater, 60);
  ASSERT_TRUE(QDir().mkdir(FOlder + "0001.$$$"));
  Put("0002.bon", kInvalid, 55);
  ASSERT_TRUE(QDir().mkdir(FOlder + "0002.err"));
  Put("0003.bon", kBread, 50);
  ASSERT_EQ(::symlink("/nowhere", Bytes(FOlder + "0004.$$$").c_str()), 0);
  RunFileJob();
  RunFileJob();
  EXPECT_EQ(RawFiles(),
            (std::vector<std::string>{"0001.aside", "0001.rep", "0002.err", "0002.rep", "0002_1.err", "0003.rep"}));
  EXPECT_TRUE(QFileInfo(FOlder + "0001.aside").isDir());
  EXPECT_TRUE(QFileInfo(FOlder + "0002.err").isDir());
  EXPECT_EQ(ReadRaw("0002_1.err"), kInvalid);
  EXPECT_EQ(Sold(), (std::vector<std::string>{SaleOf(kWater), SaleOf(kBread)}));
  QFile exc(FLogDir + uProgramLog::ExceptionLogName);
  ASSERT_TRUE(exc.open(QIODevice::ReadOnly));
  const std::string log = exc.readAll().toStdString();
  auto count = [&](const std::string& part) {
    size_t n = 0;
    for (size_t at = 0; (at = log.find(part, at)) != std::string::npos; ++at) ++n;
    return n;
  };
  EXPECT_EQ(count("under a claim name, set aside: \"" + Bytes(FOlder) + "0001.$$$\""), 1u) << log;
  EXPECT_EQ(count("A link under a claim name, removed: \"" + Bytes(FOlder) + "0004.$$$\""), 1u) << log;
  EXPECT_EQ(count("Can't claim file"), 0u) << log;
  EXPECT_EQ(count("under the error file's name, left in place: \"" + Bytes(FOlder) + "0002.err\""), 1u) << log;
  EXPECT_EQ(std::count(FEvents.begin(), FEvents.end(), std::string("Error 2")), 1);  // 0002 only
}

// Renamed away between two files and back before the third: the file that was away is
// skipped, not failed, and prints in the next run.
TEST_F(TFaults, FolderRenamedAwayBetweenFiles) {
  Put("0001.bon", kWater, 60);
  Put("0002.bon", kBread, 50);
  Put("0003.bon", kMilk, 40);
  const QString away = FOlder.chopped(1) + ".away";
  auto job = FileJob();
  auto started = job->OnFileStarted;
  job->OnFileStarted = [&](const QString& path) {
    started(path);
    if (path.endsWith("0002.bon")) ::rename(Bytes(FOlder.chopped(1)).c_str(), Bytes(away).c_str());
    if (path.endsWith("0003.bon")) ::rename(Bytes(away).c_str(), Bytes(FOlder.chopped(1)).c_str());
  };
  job->Execute();
  EXPECT_EQ(job->ErrorMessage(), "");
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0002.bon", "0003.rep"}));
  RunFileJob();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0002.rep", "0003.rep"}));
  EXPECT_EQ(Sold().size(), 3u);
}

// ---- A receipt file replaced between the listing and the claim ----

// The point-of-sale program replaced the file (a new one renamed over it) after the
// listing: the new file is not printed at once, it settles like any new file and prints
// then, once; the old content never reaches the printer.
TEST_F(TFaults, FileReplacedBetweenListingAndClaim) {
  Put("0001.bon", kWater, 60);
  auto job = FileJob();
  auto started = job->OnFileStarted;
  job->OnFileStarted = [&](const QString& path) {
    started(path);
    Put("0001.tmp", kBread, 30);
    ASSERT_EQ(::rename(Bytes(FOlder + "0001.tmp").c_str(), Bytes(path).c_str()), 0);
  };
  job->Execute();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.bon"}));
  EXPECT_TRUE(Sold().empty());
  FReadyAgeMs = uPRNFileThread::ReadyAgeMs;
  RunFileJob();
  EXPECT_TRUE(Sold().empty());
  Pass(500);
  RunFileJob();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep"}));
  EXPECT_EQ(Sold(), std::vector<std::string>{SaleOf(kBread)});
  EXPECT_THAT(Read("0001.rep"), HasSubstr(kBread));
}

// ---- Many files at once ----

// 5,000 files land at once, written in random order with one time stamp: the listing
// that every tick of the window makes stays quick, the files print in name order, and
// the window's event loop keeps running while the job prints.
TEST_F(TFaults, FiveThousandFilesAtOnce) {
  constexpr int kCount = 5000;
  std::vector<int> order(kCount);
  for (int i = 0; i < kCount; ++i) order[i] = i + 1;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  auto nameOf = [](int i) {
    char name[16];
    std::snprintf(name, sizeof name, "%05d.bon", i);
    return std::string(name);
  };
  for (int i : order) PutRaw(nameOf(i), kWater, 60);

  // The listing's cost is the CPU time of this thread: a loaded machine (the suite runs in
  // parallel) stretches its wall time, not the work it does.
  auto threadCpuMs = [] {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
  };
  const qint64 listingStart = threadCpuMs();
  const QStringList list = ReadyNames(QString(), FReadyAgeMs);
  const qint64 listingMs = threadCpuMs() - listingStart;
  ASSERT_EQ(list.size(), kCount);
  EXPECT_LT(listingMs, 1000) << "one listing of the folder";
  for (int i = 0; i < kCount; ++i) ASSERT_EQ(list[i].toStdString(), nameOf(i + 1));

  // The job on its own thread, stopped after some files; a timer on this thread measures
  // the longest gap between its ticks meanwhile.
  constexpr int kPrinted = 60;
  auto job = FileJob(false);
  TECRFileThread* raw = job.get();
  std::vector<std::string> started;
  bool finished = false;
  job->OnFileStarted = [&](const QString& path) {
    started.push_back(QFileInfo(path).fileName().toStdString());
    if (started.size() == kPrinted) raw->Terminate();  // honoured once this file is done
  };
  job->OnTaskFinished = [&](TECRFileThread&) { finished = true; };
  QElapsedTimer sinceTick;
  qint64 longestGap = 0;
  QTimer timer;
  timer.setInterval(20);
  QObject::connect(&timer, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
  sinceTick.start();
  timer.start();
  job->Resume();
  const auto end = std::chrono::steady_clock::now() + 20s;
  while (!finished && std::chrono::steady_clock::now() < end) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  job->WaitFor();
  timer.stop();
  ASSERT_TRUE(finished);
  ASSERT_EQ(started.size(), static_cast<size_t>(kPrinted));
  for (int i = 0; i < kPrinted; ++i) EXPECT_EQ(started[i], nameOf(i + 1));
  EXPECT_LT(longestGap, 500) << "the main thread's timer stalled";
  EXPECT_EQ(RawFiles().size(), static_cast<size_t>(kCount - kPrinted));
}

// ---- A huge file ----

// A file far over what a receipt can hold is refused with a clear error without being
// read whole, and the next file prints.
TEST_F(TFaults, HugeFileIsRefusedWithoutBeingRead) {
  Put("0001.bon", "", 60);
  ASSERT_EQ(::truncate(Bytes(FOlder + "0001.bon").c_str(), 100LL << 20), 0);  // 100 MB, sparse
  SetAge("0001.bon", 60);
  Put("0002.bon", kWater, 50);
  THookedFileOps ops;
  {
    TScopedFileOps scoped(&ops);
    RunFileJob();
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.err", "0001.rep", "0002.rep"}));
  EXPECT_LE(ops.ReadFrom("0001.$$$"), uECRFileReader::MaxFileSize);
  EXPECT_THAT(Read("0001.rep"), HasSubstr("[ERROR]File is too large"));
  EXPECT_EQ(CallCount("StartBon"), 1);  // 0002 only
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "Started 0001.bon", "Error 2", "Processed", "Started 0002.bon",
                                               "Processed", "Finished"}));
}

// The limit itself: a file of exactly the limit is read (here it has no lines), one byte
// more is refused.
TEST_F(TFaults, SizeLimitBoundary) {
  for (const size_t size : {uECRFileReader::MaxFileSize, uECRFileReader::MaxFileSize + 1}) {
    TECRFileReader reader(FAke->Factory());
    reader.SetRepFilePrint(true);
    const QString path = FOlder + "x.$$$";
    Put("x.$$$", "", 60);
    ASSERT_EQ(::truncate(Bytes(path).c_str(), static_cast<off_t>(size)), 0);
    EXPECT_FALSE(reader.ReadFile(path, 0));
    if (size == uECRFileReader::MaxFileSize)
      EXPECT_EQ(reader.LastError(), "[ReadFile]No lines in file. Row data:");
    else
      EXPECT_THAT(reader.LastError(), HasSubstr("File is too large"));
  }
}

// A failed job answers a waiting status query: it looks for it without reading a huge
// file whole.
TEST_F(TFaults, StatusAnswerDoesNotReadAHugeFileWhole) {
  Put("0001.bon", "", 70);
  ASSERT_EQ(::truncate(Bytes(FOlder + "0001.bon").c_str(), 100LL << 20), 0);
  SetAge("0001.bon", 70);
  Put("0002.bon", kStatusQuery, 60);
  FAke->Fail("Init", 102, "[Init] Port busy ");
  THookedFileOps ops;
  {
    TScopedFileOps scoped(&ops);
    RunFileJob();
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.bon", "0002.rep"}));
  EXPECT_LE(ops.ReadFrom("0001.bon"), uECRFileReader::MaxFileSize);
}

// ---- Odd file names ----

// Names are bytes: blanks, line breaks, a TAB, a leading dash and Cyrillic letters are
// kept as they are in the claim, the report file and the error file.
TEST_F(TFaults, OddNamesPrintOnceAndKeepTheirBytes) {
  const std::vector<std::string> stems = {"a b",       " lead", "trail ", "new\nline",
                                          "tab\tname", "-1",    "--help", "\xd0\xb0\xd0\xb1"};
  for (size_t i = 0; i < stems.size(); ++i) PutRaw(stems[i] + ".bon", i % 2 ? kInvalid : kWater, 60.0 - i);
  RunFileJob();
  std::vector<std::string> expected;
  for (size_t i = 0; i < stems.size(); ++i) {
    expected.push_back(stems[i] + ".rep");
    if (i % 2) expected.push_back(stems[i] + ".err");
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(RawFiles(), expected);
  EXPECT_EQ(Sold().size(), stems.size() / 2);
  FEvents.clear();
  RunFileJob();
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Online", "Finished"}));
}

// A name that is not UTF-8 cannot be handled by its name: it is not taken, not counted as
// waiting (no job starts for it at every tick), stays as it is and is logged once.
TEST_F(TFaults, NameThatIsNotUtf8IsLeftInPlace) {
  PutRaw("\xff\xfe.bon", kWater, 60);
  PutRaw("caf\xe9.bon", kWater, 60);
  PutRaw("ok.bon", kBread, 50);
  RunFileJob();
  RunFileJob();
  EXPECT_EQ(RawFiles(), (std::vector<std::string>{"caf\xe9.bon", "ok.rep", "\xff\xfe.bon"}));
  EXPECT_EQ(Sold(), std::vector<std::string>{SaleOf(kBread)});
  const QStringList ready = ReadyNames(QString(), uPRNFileThread::ReadyAgeMs);
  EXPECT_TRUE(ready.isEmpty());
  QFile exc(FLogDir + uProgramLog::ExceptionLogName);
  ASSERT_TRUE(exc.open(QIODevice::ReadOnly));
  const std::string log = exc.readAll().toStdString();
  size_t lines = 0;
  for (size_t at = 0; (at = log.find("left in place", at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, 2u) << log;
}

// ---- A second program on the same folder ----

// Another program's job holds the folder: this job leaves everything to it, also a claim
// that would look left behind, and reports nothing. Once the other has ended (here: was
// killed), its claim is a left one and the waiting file prints.
TEST_F(TFaults, SecondProgramLeavesTheFolderToTheFirst) {
  Put("0001.$$$", kWater, 1);  // the other program prints it now
  Put("0002.bon", kBread, 60);
  const int other = ::open(Bytes(FOlder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  RunFileJob();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.$$$", "0002.bon"}));
  EXPECT_TRUE(FAke->Calls.empty());
  EXPECT_EQ(FEvents, (std::vector<std::string>{"Finished"}));
  ::close(other);
  FEvents.clear();
  RunFileJob();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0001.unk", "0002.rep"}));
  EXPECT_EQ(Sold(), std::vector<std::string>{SaleOf(kBread)});
}

// ---- The clock stepping back ----

// A file written just before the clock steps back an hour carries a stamp an hour ahead
// of the clock: it is taken after it has stayed unchanged over a tick, not an hour later.
TEST_F(TFaults, FileWrittenBeforeTheClockStepsBackIsTakenAtOnce) {
  FReadyAgeMs = uPRNFileThread::ReadyAgeMs;
  Put("0001.bon", kWater, 0);
  FClock = FClock.addSecs(-3600);
  for (int tick = 0; tick < 3 && Sold().empty(); ++tick) {
    RunFileJob();
    Pass(1000);
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep"}));
}

// The clock steps back while a new file settles: its quiet time starts again rather than
// lasting an hour.
TEST_F(TFaults, FileSettlingWhileTheClockStepsBackIsTakenAtOnce) {
  FReadyAgeMs = uPRNFileThread::ReadyAgeMs;
  Put("0001.bon", kWater, 0);
  RunFileJob();  // seen, not quiet long enough yet
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.bon"}));
  FClock = FClock.addSecs(-3600);
  for (int tick = 0; tick < 3 && Sold().empty(); ++tick) {
    RunFileJob();
    Pass(1000);
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep"}));
}

// The log is moved aside under its time stamp: after the clock went back an hour and
// came forward again, a rotation in a second that already has its file does not replace
// it, and once the clock has moved on the log rotates and keeps its lines again.
TEST_F(TFaults, LogRotationNeverOverwritesWhenTheClockStepsBack) {
  QDateTime logClock = FClock;
  const uProgramLog::TLogClock clock = [&] { return logClock; };
  const QString filler(200, QLatin1Char('x'));
  auto write = [&](const QString& tag) {
    for (int i = 0; i < 600; ++i) uProgramLog::WriteLog(FLogDir, tag + QString::number(i) + filler, false, clock);
  };
  auto rotated = [&](const QDateTime& at) {
    return FLogDir + "Log_" + at.toString(QStringLiteral("dd-MM-yy_hh-mm-ss")) + ".txt";
  };
  auto content = [](const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  };
  write("first ");
  const QByteArray first = content(rotated(FClock));
  ASSERT_NE(first, "<missing>");
  logClock = FClock.addSecs(-3600);
  write("back ");
  EXPECT_NE(content(rotated(logClock)), "<missing>");
  logClock = FClock;  // the clock is put right again: the same second as the first rotation
  write("again ");
  EXPECT_EQ(content(rotated(FClock)), first);
  logClock = FClock.addSecs(1);
  uProgramLog::WriteLog(FLogDir, "later", false, clock);
  EXPECT_NE(content(rotated(logClock)), "<missing>");
  EXPECT_TRUE(content(FLogDir + uProgramLog::NormalLogName).endsWith(" - later\r\n"));
}

}  // namespace
}  // namespace fp::test
