// The care of the receipt folder through the file job and the tending: a kill or a power
// cut at any file event of a printed receipt or of the recovery, a report name that cannot
// be written, another program whose claims are not ours.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <map>
#include <string>
#include <vector>

#include "platform/FileOps.h"
#include "program/tasks/uFolderCare.h"
#include "tests/support/uPRNFileThreadTestSupport.h"

namespace fp::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// The system calls, but a "cut" comes at the n-th call that changes the receipt folder (a
// file created, written, renamed or removed): that call and every later one in the folder
// fail, as if the process had been killed or the power lost there. What reached the folder
// before stays; the job runs on against a folder that no longer changes.
class TCutFileOps : public IFileOps {
 public:
  TCutFileOps(std::string folder, int cutAt) : FOlder(std::move(folder)), FCutAt(cutAt) {}
  // The cut comes at the first change of the file whose path ends with `suffix` instead.
  TCutFileOps(std::string folder, std::string suffix)
      : FOlder(std::move(folder)), FCutAt(0), FSuffix(std::move(suffix)) {}
  // The cut came (false: the job ended before its n-th change).
  bool CutCame() const { return FCut; }

  int Open(const char* path, int flags, mode_t mode) override {
    if ((flags & O_CREAT) && Stopped(path)) return -1;
    const int fd = IFileOps::Open(path, flags, mode);
    if (fd >= 0) FPaths[fd] = path;
    return fd;
  }
  int OpenAt(int dir, const char* name, int flags, mode_t mode) override {
    const std::string path = FPaths[dir] + name;
    if ((flags & O_CREAT) && Stopped(path)) return -1;
    const int fd = IFileOps::OpenAt(dir, name, flags, mode);
    if (fd >= 0) FPaths[fd] = path;
    return fd;
  }
  ssize_t Write(int fd, const void* buf, size_t count) override {
    return Stopped(FPaths[fd]) ? -1 : IFileOps::Write(fd, buf, count);
  }
  int Fsync(int fd) override {
    if (FCut && FPaths[fd].find(FOlder) != std::string::npos) return Fail();
    return IFileOps::Fsync(fd);
  }
  int Rename(const char* from, const char* to) override { return Stopped(from) ? -1 : IFileOps::Rename(from, to); }
  int RenameNoReplace(const char* from, const char* to) override {
    return Stopped(from) ? -1 : IFileOps::RenameNoReplace(from, to);
  }
  int RenameAt(int dir, const char* from, const char* to, unsigned flags) override {
    return Stopped(FPaths[dir] + from) ? -1 : IFileOps::RenameAt(dir, from, to, flags);
  }
  int Unlink(const char* path) override { return Stopped(path) ? -1 : IFileOps::Unlink(path); }
  int UnlinkAt(int dir, const char* name, int flags) override {
    return Stopped(FPaths[dir] + name) ? -1 : IFileOps::UnlinkAt(dir, name, flags);
  }

 private:
  static int Fail() {
    errno = EIO;
    return -1;
  }
  bool Stopped(const std::string& path) {
    if (path.find(FOlder) == std::string::npos) return false;
    if (!FCut && ++FCount == FCutAt) FCut = true;
    if (!FCut && !FSuffix.empty() && path.size() >= FSuffix.size() &&
        path.compare(path.size() - FSuffix.size(), FSuffix.size(), FSuffix) == 0)
      FCut = true;
    if (FCut) Fail();
    return FCut;
  }
  std::string FOlder;
  int FCutAt;
  int FCount = 0;
  std::string FSuffix;
  bool FCut = false;
  std::map<int, std::string> FPaths;
};

// The system calls, but each claim made in the folder is renamed to ".unk" by "another
// program" once it is on disk (its recovery, on a share whose locks do not meet ours).
class TVanishingClaims : public IFileOps {
 public:
  explicit TVanishingClaims(std::string folder) : FOlder(std::move(folder)) {}
  int Open(const char* path, int flags, mode_t mode) override {
    const int fd = IFileOps::Open(path, flags, mode);
    if (fd >= 0) FPaths[fd] = path;
    return fd;
  }
  int RenameAt(int dir, const char* from, const char* to, unsigned flags) override {
    const int rc = IFileOps::RenameAt(dir, from, to, flags);
    const std::string claim = FPaths[dir] + to;
    if (rc == 0 && claim.size() > 4 && claim.compare(claim.size() - 4, 4, ".$$$") == 0) FPending = claim;
    return rc;
  }
  int Fsync(int fd) override {
    const int rc = IFileOps::Fsync(fd);
    if (FPaths[fd] == FOlder && !FPending.empty()) {
      ::rename(FPending.c_str(), (FPending.substr(0, FPending.size() - 4) + ".unk").c_str());
      FPending.clear();
    }
    return rc;
  }

 private:
  std::string FOlder;
  std::string FPending;
  std::map<int, std::string> FPaths;
};

class TFolderCareJobs : public TWorkerFixture {
 protected:
  // An earlier sale's report of the same name, which the POS has not taken yet.
  const std::string FOlderReport = "No Bon:7\r\nolder sale\r\nClose\r\n";

  void Reset() {
    for (const QString& n : QDir(FOlder).entryList(QDir::Files | QDir::Hidden)) QFile::remove(FOlder + n);
  }
  // A new process: what the care knew is gone.
  void Restart() { FCare = std::make_shared<TFolderCare>(); }
  // Runs a file job that is cut at the folder's n-th change; true when the cut came.
  bool RunCutJob(int n) {
    TCutFileOps ops(FOlder.toStdString(), n);
    {
      TScopedFileOps scoped(&ops);
      RunFileJob();
    }
    return ops.CutCame();
  }
  bool IsThisReceiptsReport(const std::string& rep) const {
    return rep.find("Close") != std::string::npos && rep.find("older") == std::string::npos &&
           rep.find("[UNKNOWN]") == std::string::npos;
  }
  // Where a receipt file of this fixture may end after any cuts and a clean restart: printed
  // with its own report, or kept as unknown outcome with a report that says so and names
  // it. Never beside a report that is not its own, never with a claim or a mark left.
  void ExpectSettled(const std::string& context) {
    const std::vector<std::string> files = Files();
    const std::string rep = Read("0001.rep");
    if (files == std::vector<std::string>{"0001.rep"}) {
      EXPECT_TRUE(IsThisReceiptsReport(rep)) << context << rep;
      EXPECT_EQ(CallCount("AddProgPlu"), FPrintsBefore + 1) << context;
    } else {
      ASSERT_EQ(files, (std::vector<std::string>{"0001.rep", "0001.unk"})) << context;
      EXPECT_THAT(rep, HasSubstr("[UNKNOWN]Outcome unknown: the receipt of \"" + (FOlder + "0001.unk").toStdString()))
          << context;
      EXPECT_LE(CallCount("AddProgPlu"), FPrintsBefore + 1) << context;
    }
  }
  int FPrintsBefore = 0;
};

// A kill or a power cut at any change of the folder while a receipt prints, and again at
// any change of the restart's recovery: once it runs clean, the receipt printed once at
// most, and a complete report of its own that had reached the disk is never replaced (nor
// does an ".unk" ever stand beside an older sale's report).
TEST_F(TFolderCareJobs, CutsWhileAReceiptPrintsAndWhileTheRestartRecovers) {
  bool firstCutCame = true;
  for (int first = 1; firstCutCame; ++first) {
    bool secondCutCame = true;
    for (int second = 1; secondCutCame; ++second) {
      const std::string context = "cut at change " + std::to_string(first) + ", then at " + std::to_string(second);
      Reset();
      Put("0001.rep", FOlderReport, 120);
      Put("0001.bon", kReceipt, 60);
      FPrintsBefore = CallCount("AddProgPlu");
      Restart();
      firstCutCame = RunCutJob(first);
      const std::string reportAtCut = Read("0001.rep");
      const bool ownReportOnDisk = IsThisReceiptsReport(reportAtCut);
      Restart();
      secondCutCame = firstCutCame && RunCutJob(second);
      Restart();
      RunFileJob();
      ExpectSettled(context);
      if (ownReportOnDisk) {
        EXPECT_EQ(Files(), std::vector<std::string>{"0001.rep"}) << context;
        EXPECT_EQ(Read("0001.rep"), reportAtCut) << context;
      }
      if (HasFailure()) return;
    }
  }
}

// The recovery's own order: a claim left by a killed run, beside an older sale's report, cut
// at each change of its recovery: the next start keeps it as ".unk" with its own
// "[UNKNOWN]" report, never beside the older one; it is never printed.
TEST_F(TFolderCareJobs, CutsWhileALeftClaimIsKeptAsUnknown) {
  bool cutCame = true;
  for (int n = 1; cutCame; ++n) {
    Reset();
    Put("0001.rep", FOlderReport, 120);
    Put("0001.$$$", kReceipt, 60);
    FPrintsBefore = CallCount("AddProgPlu");
    Restart();
    cutCame = RunCutJob(n);
    Restart();
    RunFileJob();
    EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0001.unk"})) << "cut at change " << n;
    EXPECT_THAT(Read("0001.rep"), HasSubstr("[UNKNOWN]")) << "cut at change " << n;
    EXPECT_EQ(CallCount("AddProgPlu"), FPrintsBefore);
    if (HasFailure()) return;
  }
}

// A mark proves only what this program wrote for this very claim: another user's mark, or
// the mark of an earlier receipt of that name with other content, is no proof of print.
TEST_F(TFolderCareJobs, AMarkOfAnotherClaimProvesNothing) {
  // The mark a printed receipt of other content left (the program was stopped before the
  // mark went, and the POS then sent a new receipt of that name).
  Put("0001.bon", "%13^Bread^120^1000\r\n", 60);
  {
    TCutFileOps ops(FOlder.toStdString(), "/0001.$$$");  // at the printed claim's removal
    TScopedFileOps scoped(&ops);
    RunFileJob();
    ASSERT_TRUE(ops.CutCame());
  }
  ASSERT_TRUE(QFile::remove(FOlder + "0001.$$$"));
  ASSERT_TRUE(QFile::exists(FOlder + ".DriverFiscalPrinterX4.0001.printed"));
  // A claim of another receipt left by a killed run beside it.
  Put("0001.$$$", kReceipt, 60);
  Restart();
  RunFileJob();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0001.unk"}));
  EXPECT_THAT(Read("0001.rep"), HasSubstr("[UNKNOWN]"));
}

// ---- A report name that cannot be written ----

// Another user's file under a printed receipt's report name (the kernel refuses the rename
// over it with EPERM in a sticky folder): the receipt's claim and report are kept and tried
// again, the operator is told once, and the receipts after it print on.
TEST_F(TFolderCareJobs, AReportThatCannotBeWrittenHoldsUpNoOtherReceipt) {
  Put("0003.bon", kReceipt, 60);
  Put("0004.bon", "%13^Bread^120^1000\r\n", 50);
  TFaultyFileOps ops;
  {
    TScopedFileOps scoped(&ops);
    ops.FailAt(TFileOp::Rename, 0, EPERM, "\n" + (FOlder + "0003.rep").toStdString());
    RunFileJob();
    EXPECT_EQ(Files(), (std::vector<std::string>{".DriverFiscalPrinterX4.0003.printed", "0003.$$$", "0004.rep"}));
    ASSERT_EQ(FNotices.size(), 1u);
    EXPECT_THAT(FNotices[0], HasSubstr((FOlder + "0003.bon").toStdString()));
    EXPECT_THAT(FNotices[0], HasSubstr(std::strerror(EPERM)));
    // A later receipt prints too; the kept claim is not taken for a left one.
    Put("0005.bon", "%14^Milk^99^1000\r\n", 40);
    RunFileJob();
    EXPECT_EQ(Files(),
              (std::vector<std::string>{".DriverFiscalPrinterX4.0003.printed", "0003.$$$", "0004.rep", "0005.rep"}));
  }
  EXPECT_EQ(FNotices.size(), 1u);
  EXPECT_EQ(CallCount("AddProgPlu"), 3);
  // Once the name can be written, the next job writes it and finishes the claim.
  RunFileJob();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0003.rep", "0004.rep", "0005.rep"}));
  EXPECT_THAT(Read("0003.rep"), HasSubstr("Close"));
  EXPECT_EQ(CallCount("AddProgPlu"), 3);
}

// The same where the kernel decides (as any user, root too): folders stand under every
// temporary name the report could be written under.
TEST_F(TFolderCareJobs, AReportBlockedInTheFolderHoldsUpNoOtherReceipt) {
  for (int n = 0; n < 10; ++n) {
    const QString temp = n == 0 ? QStringLiteral(".DriverFiscalPrinterX4.0003.rep.tmp")
                                : QString(".DriverFiscalPrinterX4.0003.rep.%1.tmp").arg(n);
    ASSERT_TRUE(QDir().mkpath(FOlder + temp + "/inside"));
  }
  Put("0003.bon", kReceipt, 60);
  Put("0004.bon", "%13^Bread^120^1000\r\n", 50);
  RunFileJob();
  EXPECT_TRUE(QFile::exists(FOlder + "0003.$$$"));
  EXPECT_FALSE(QFile::exists(FOlder + "0003.rep"));
  EXPECT_THAT(Read("0004.rep"), HasSubstr("Close"));
  EXPECT_EQ(FNotices.size(), 1u);
  EXPECT_EQ(CallCount("AddProgPlu"), 2);
}

// ---- Another program without shared locks ----

// Another program took a claim of ours while it printed (its recovery, on a share whose locks
// do not reach us): the log says what happened and why, and the window is told once.
TEST_F(TFolderCareJobs, AClaimThatVanishesIsToldOnce) {
  for (const char* name : {"0001.bon", "0002.bon"}) Put(name, kReceipt, 60);
  TVanishingClaims ops(FOlder.toStdString());
  {
    TScopedFileOps scoped(&ops);
    RunFileJob();
  }
  EXPECT_EQ(CallCount("AddProgPlu"), 2);
  EXPECT_THAT(NormalLog(), HasSubstr("without shared locks"));
  ASSERT_EQ(FNotices.size(), 1u);
  EXPECT_EQ(FNotices[0], TFolderCare::SharedFolderText(FOlder).toStdString());
}

// A live claim that is not ours turns up after this program first looked at the folder: it
// is kept as unknown outcome as any left claim, and the program says another one prints
// from the folder; a claim left before it first looked is a killed run's, with no such word.
TEST_F(TFolderCareJobs, AClaimNotOursAfterTheFirstLookIsToldOnce) {
  Put("0001.$$$", kReceipt, 60);
  RunFileJob();
  EXPECT_TRUE(FNotices.empty());
  EXPECT_THAT(NormalLog(), Not(HasSubstr("without shared locks")));
  for (const char* name : {"0002.$$$", "0003.$$$"}) {
    Put(name, kReceipt, 1);
    RunFileJob();
  }
  EXPECT_EQ(Files(),
            (std::vector<std::string>{"0001.rep", "0001.unk", "0002.rep", "0002.unk", "0003.rep", "0003.unk"}));
  EXPECT_THAT(NormalLog(), HasSubstr("A claim that is not this program's was found: \"" +
                                     (FOlder + "0003.$$$").toStdString() + "\"; another program prints"));
  EXPECT_EQ(FNotices.size(), 1u);
}

}  // namespace
}  // namespace fp::test
