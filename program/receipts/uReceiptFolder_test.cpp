// The receipt folder's unit: what a file's progress makes of a failure, and each step of
// the folder (claim, finish, unknown outcome, error file, left claims, lock, status answer)
// with its renames that never replace a name, its syncs and its failures.
#include "program/receipts/uReceiptFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/FileOps.h"
#include "program/receipts/uFolderWatch.h"

namespace fp {

void PrintTo(const TFileVerdict& v, std::ostream* os) {
  static const char* const kNames[] = {"Printed", "Error", "Unknown"};
  *os << kNames[static_cast<int>(v.Outcome)] << " \"" << v.Why.toStdString() << "\"";
}

namespace test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// ---- The outcome of a file ----

const QString kServiceWhy = "a report, cash movement or receipt copy had been sent to the printer";
const QString kClosedWhy = "the receipt was closed before the failure";
const QString kPaymentWhy = "a payment had been sent to the printer in the receipt";
const QString kNonFiscalWhy = "a non-fiscal receipt is closed, not cancelled, by the next opening";
const QString kLostWhy = "the printer stopped answering after the receipt was opened";
const QString kClosingWhy = "the receipt's closing had been sent to the printer";

TFileProgress Progress(bool opened, bool nonFiscal, bool payment, bool closed, bool service) {
  TFileProgress p;
  p.Opened = opened;
  p.NonFiscal = nonFiscal;
  p.PaymentSent = payment;
  p.Closed = closed;
  p.ServiceSent = service;
  return p;
}

TFileProgress Closing(TFileProgress p) {
  p.ClosingSent = true;
  return p;
}

struct TOutcomeCase {
  const char* Name;
  TFileFailure Failure;
  TFileProgress Progress;
  TFileVerdict Verdict;
};

void PrintTo(const TOutcomeCase& c, std::ostream* os) { *os << c.Name; }

class TFileOutcomeTable : public ::testing::TestWithParam<TOutcomeCase> {};

TEST_P(TFileOutcomeTable, Verdict) {
  const TOutcomeCase& c = GetParam();
  EXPECT_EQ(FileOutcome(c.Failure, c.Progress), c.Verdict);
}

using F = TFileFailure;
const TFileVerdict kError{TFileOutcome::Error, QString()};
TFileVerdict Unknown(const QString& why) { return {TFileOutcome::Unknown, why}; }

INSTANTIATE_TEST_SUITE_P(
    Cases, TFileOutcomeTable,
    ::testing::Values(
        // Failed before anything was opened or sent: nothing printed.
        TOutcomeCase{"NothingSent", F::Failed, Progress(0, 0, 0, 0, 0), kError},
        TOutcomeCase{"PrinterLostBeforeOpening", F::PrinterLost, Progress(0, 0, 0, 0, 0), kError},
        // An opened fiscal receipt without a payment is cancelled by the next opening...
        TOutcomeCase{"OpenedRefused", F::Failed, Progress(1, 0, 0, 0, 0), kError},
        // ...unless nobody knows what the printer got after the opening.
        TOutcomeCase{"OpenedPrinterLost", F::PrinterLost, Progress(1, 0, 0, 0, 0), Unknown(kLostWhy)},
        TOutcomeCase{"PaymentSent", F::Failed, Progress(1, 0, 1, 0, 0), Unknown(kPaymentWhy)},
        TOutcomeCase{"PaymentSentPrinterLost", F::PrinterLost, Progress(1, 0, 1, 0, 0), Unknown(kPaymentWhy)},
        TOutcomeCase{"Closed", F::Failed, Progress(1, 0, 0, 1, 0), Unknown(kClosedWhy)},
        TOutcomeCase{"PaidAndClosed", F::Failed, Progress(1, 0, 1, 1, 0), Unknown(kClosedWhy)},
        TOutcomeCase{"NonFiscal", F::Failed, Progress(1, 1, 0, 0, 0), Unknown(kNonFiscalWhy)},
        TOutcomeCase{"NonFiscalPrinterLost", F::PrinterLost, Progress(1, 1, 0, 0, 0), Unknown(kNonFiscalWhy)},
        TOutcomeCase{"NonFiscalClosed", F::Failed, Progress(1, 1, 0, 1, 0), Unknown(kClosedWhy)},
        // A closing that went out may have closed the receipt, whatever the printer answered.
        TOutcomeCase{"ClosingSentRefused", F::Failed, Closing(Progress(1, 0, 0, 0, 0)), Unknown(kClosingWhy)},
        TOutcomeCase{"ClosingSentPrinterLost", F::PrinterLost, Closing(Progress(1, 0, 0, 0, 0)), Unknown(kClosingWhy)},
        // A service command that was sent may have run: it must not run twice.
        TOutcomeCase{"ServiceSent", F::Failed, Progress(0, 0, 0, 0, 1), Unknown(kServiceWhy)},
        TOutcomeCase{"ServiceSentPrinterLost", F::PrinterLost, Progress(0, 0, 0, 0, 1), Unknown(kServiceWhy)},
        TOutcomeCase{"ServiceAfterAPrintedReceipt", F::Failed, Progress(1, 0, 1, 1, 1), Unknown(kServiceWhy)},
        // Without an opening the receipt flags cannot have printed anything.
        TOutcomeCase{"ReceiptFlagsWithoutAnOpening", F::PrinterLost, Progress(0, 1, 1, 1, 0), kError}),
    [](const auto& info) { return std::string(info.param.Name); });

// Every progress: a printed file is printed, a sent service command always unknown.
TEST(FileOutcome, PrintedWhateverTheProgressAndServiceAlwaysUnknown) {
  for (int bits = 0; bits < 32; ++bits) {
    const TFileProgress p = Progress(bits & 1, bits & 2, bits & 4, bits & 8, bits & 16);
    SCOPED_TRACE(bits);
    EXPECT_EQ(FileOutcome(F::None, p), TFileVerdict{});
    for (F failure : {F::Failed, F::PrinterLost}) {
      const TFileVerdict v = FileOutcome(failure, p);
      if (p.ServiceSent) {
        EXPECT_EQ(v, Unknown(kServiceWhy));
      }
      EXPECT_NE(v.Outcome, TFileOutcome::Printed);
      EXPECT_EQ(v.Why.isEmpty(), v.Outcome == TFileOutcome::Error);
    }
  }
}

TEST(FileProgress, OnlyTheLibrarysOwnRefusalsMeanNothingWasSent) {
  for (int32_t code : {201, 502}) EXPECT_TRUE(TFileProgress::RefusedBeforeSending(code)) << code;
  for (int32_t code : {0, -1, 101, 200, 202, 232, 250, 501, 503})
    EXPECT_FALSE(TFileProgress::RefusedBeforeSending(code)) << code;
}

// ---- The folder ----

const std::string kReceipt = "%12^Water^150^1000\r\n";

class TFolderUnit : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FTmp.isValid());
    FPath = FTmp.path() + "/bon/";
    ASSERT_TRUE(QDir().mkpath(FPath));
  }

  // An empty folder and a new unit for the next case of a table; the log starts empty.
  void StartAfresh() {
    QDir(FPath).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(FPath));
    FUnit.reset();
    FLogs.clear();
  }

  TReceiptFolder& Folder() {
    if (!FUnit)
      FUnit = std::make_unique<TReceiptFolder>(
          FPath, [this] { return FClock; },
          [this](const QString& line, bool exceptionLog) {
            FLogs.push_back({exceptionLog, line.toStdString()});
          });
    return *FUnit;
  }

  void Put(const QString& name, const std::string& content) {
    QFile f(FPath + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content.data(), static_cast<qint64>(content.size()));
  }
  std::string Read(const QString& name) const {
    QFile f(FPath + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : "<missing>";
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const QString& n :
         QDir(FPath).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::Dirs | QDir::NoDotAndDotDot))
      names.push_back(n.toStdString());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string P(const char* name) const { return (FPath + name).toStdString(); }
  // The lines of one log.
  std::vector<std::string> Log(bool exceptionLog) const {
    std::vector<std::string> lines;
    for (const auto& [exc, line] : FLogs)
      if (exc == exceptionLog) lines.push_back(line);
    return lines;
  }
  // Runs `step`, which must fail with `message`.
  template <class Step>
  void ExpectFailure(Step&& step, const QString& message) {
    try {
      step();
      ADD_FAILURE() << "no failure";
    } catch (const EReceiptFolderError& e) {
      EXPECT_EQ(e.Message, message);
    }
  }

  QTemporaryDir FTmp;
  QString FPath;
  QDateTime FClock{QDate(2025, 12, 9), QTime(12, 30, 45, 7)};
  std::vector<std::pair<bool, std::string>> FLogs;
  std::unique_ptr<TReceiptFolder> FUnit;
};

TEST_F(TFolderUnit, PathHasItsSlashAndTheFolderMustExist) {
  EXPECT_EQ(TReceiptFolder(FTmp.path() + "/bon", {}, {}).Path(), FPath);
  EXPECT_TRUE(TReceiptFolder(FTmp.path() + "/bon", {}, {}).Exists());
  EXPECT_FALSE(TReceiptFolder(FTmp.path() + "/none", {}, {}).Exists());
  EXPECT_FALSE(TReceiptFolder(QString(), {}, {}).Exists());
  Put("file", "x");
  EXPECT_FALSE(TReceiptFolder(FPath + "file", {}, {}).Exists());
  EXPECT_EQ(TReceiptFolder::ClaimName("0001.bon"), "0001.$$$");
  EXPECT_EQ(TReceiptFolder::ClaimName("a.b.BON"), "a.b.$$$");
}

// ---- Claim ----

TEST_F(TFolderUnit, ClaimRenamesAndSyncsTheFolder) {
  Put("0001.bon", kReceipt);
  TFaultyFileOps ops;
  TScopedFileOps scoped(&ops);
  int renamed = 0;
  EXPECT_EQ(Folder().Claim("0001.bon", [&] { ++renamed; }), TReceiptFolder::TClaim::Claimed);
  EXPECT_EQ(renamed, 1);
  EXPECT_EQ(Files(), std::vector<std::string>{"0001.$$$"});
  EXPECT_EQ(Read("0001.$$$"), kReceipt);
  EXPECT_EQ(ops.Calls(TFileOp::Fsync), 1);
  EXPECT_THAT(FLogs, IsEmpty());
}

// A layer under the program that shifts the times fstat reports (and not those of the
// status calls relative to a folder, which the listing uses) must not make every listed
// file look changed at its claim: it would wait for ever, a job started for it each second.
TEST_F(TFolderUnit, ClaimComparesTheStampTheWayTheListingTookIt) {
  class TShiftedFstat : public TFaultyFileOps {
   public:
    int Fstat(int fd, struct stat* st) override {
      const int r = TFaultyFileOps::Fstat(fd, st);
      st->st_mtim.tv_sec -= 3600;
      return r;
    }
  };
  Put("0001.bon", kReceipt);
  const std::vector<TListedFile> listed = TFolderWatch::ListWaiting(FPath, "bon");
  ASSERT_EQ(listed.size(), 1u);
  TShiftedFstat ops;
  TScopedFileOps scoped(&ops);
  EXPECT_EQ(Folder().Claim("0001.bon", {}, &listed[0].Stamp), TReceiptFolder::TClaim::Claimed);
  EXPECT_EQ(Files(), std::vector<std::string>{"0001.$$$"});
}

// Shares mounted through FUSE: no rename flag, no hard links, inode numbers that follow
// the name. A listed file is claimed all the same, and its claim still sees a change made
// after the listing: the file goes back under its name with a line that says what changed.
// Failed files still never replace an older error file.
TEST_F(TFolderUnit, ClaimOnASharedFileSystemWithoutLinksOrStableInodes) {
  const struct {
    const char* Name;
    TFileSystemTraits Traits;
  } cases[] = {{"NoFlagNoLinks", {.NoRenameFlags = true, .NoLinks = true}},
               {"InodesByPath", {.InodesByPath = true}},
               {"All", {.NoRenameFlags = true, .NoLinks = true, .InodesByPath = true, .UnknownSize = true}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    StartAfresh();
    TFaultyFileOps ops;
    ops.SetFileSystem(c.Traits);
    TScopedFileOps scoped(&ops);
    Put("0001.bon", kReceipt);
    Put("0002.bon", kReceipt);
    Put("0002.err", "older");
    const std::vector<TListedFile> listed = TFolderWatch::ListWaiting(FPath, "bon");
    ASSERT_EQ(listed.size(), 2u);
    ASSERT_EQ(listed[0].Name, "0001.bon");
    EXPECT_TRUE(Folder().HasRoom());

    // Written to after the listing: back under its name, and the log says why.
    Put("0001.bon", kReceipt + kReceipt);
    EXPECT_EQ(Folder().Claim("0001.bon", {}, &listed[0].Stamp), TReceiptFolder::TClaim::Changed);
    EXPECT_EQ(Read("0001.bon"), kReceipt + kReceipt);
    EXPECT_THAT(Log(false), Contains(HasSubstr("[DoReadFiles] File changed after it was listed, it waits: \"" +
                                               P("0001.bon") + "\" (")));

    EXPECT_EQ(Folder().Claim("0002.bon", {}, &listed[1].Stamp), TReceiptFolder::TClaim::Claimed);
    EXPECT_EQ(Read("0002.$$$"), kReceipt);
    Folder().FinishFailed("0002.bon", kError);
    EXPECT_EQ(Files(), (std::vector<std::string>{"0001.bon", "0002.err", "0002_09122025123007.err"}));
    EXPECT_EQ(Read("0002_09122025123007.err"), "older");
  }
}

TEST_F(TFolderUnit, ClaimOfAFileTakenBackIsSkippedWithALine) {
  int renamed = 0;
  EXPECT_EQ(Folder().Claim("0001.bon", [&] { ++renamed; }), TReceiptFolder::TClaim::Gone);
  EXPECT_EQ(renamed, 0);
  EXPECT_THAT(Log(false), ElementsAre("[DoReadFiles] File is gone, skipped: \"" + P("0001.bon") + "\""));
  EXPECT_THAT(Files(), IsEmpty());
}

// A name replaced since the listing by a link or a folder goes back under its own name.
TEST_F(TFolderUnit, ClaimOfANameThatIsNoRegularFileLeavesItInPlace) {
  Put("outside", kReceipt);
  ASSERT_EQ(::symlink(P("outside").c_str(), P("0001.bon").c_str()), 0);
  ASSERT_TRUE(QDir().mkdir(FPath + "0002.bon"));
  for (const char* name : {"0001.bon", "0002.bon"}) {
    SCOPED_TRACE(name);
    FLogs.clear();
    EXPECT_EQ(Folder().Claim(name), TReceiptFolder::TClaim::NotRegular);
    EXPECT_THAT(Log(true), ElementsAre("[DoReadFiles] Not a regular file (a link or another kind), left in place: \"" +
                                       P(name) + "\""));
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.bon", "0002.bon", "outside"}));
  struct stat st {};
  ASSERT_EQ(::lstat(P("0001.bon").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// A claim that cannot be made, or not made durable, leaves the file waiting.
TEST_F(TFolderUnit, ClaimFailuresLeaveTheFileUnderItsName) {
  const struct {
    TFileOp Op;
    const char* Message;
  } cases[] = {{TFileOp::RenameNoReplace, "Can't rename file. Check permissions : %F"},
               {TFileOp::Fsync, "Can't sync folder: %F Input/output error"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Message);
    Put("0001.bon", kReceipt);
    TFaultyFileOps ops;
    TScopedFileOps scoped(&ops);
    ops.FailAt(c.Op, 1, EIO);
    ExpectFailure([&] { Folder().Claim("0001.bon"); }, QString(c.Message).replace("%F", FPath));
    EXPECT_EQ(Files(), std::vector<std::string>{"0001.bon"});
  }
}

// A file the program may not rename, or whose claim name a claim left by another run
// holds, waits under its name; the claim says why, and nothing else is touched.
TEST_F(TFolderUnit, ClaimRefusedForAReasonOfTheFileLeavesItWaiting) {
  const struct {
    const char* Name;
    int Err;  // injected; 0: a regular file under the claim name
  } cases[] = {{"NameTaken", 0}, {"NotPermitted", EPERM}, {"AccessDenied", EACCES}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    QDir(FPath).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(FPath));
    FUnit.reset();
    Put("0001.bon", kReceipt);
    if (c.Err == 0) Put("0001.$$$", "left claim");
    TFaultyFileOps ops;
    TScopedFileOps scoped(&ops);
    if (c.Err != 0) ops.FailAt(TFileOp::RenameNoReplace, 1, c.Err, P("0001.bon\n"));
    int renamed = 0;
    EXPECT_EQ(Folder().Claim("0001.bon", [&] { ++renamed; }), TReceiptFolder::TClaim::Refused);
    EXPECT_EQ(Folder().ClaimError(), c.Err == 0 ? EEXIST : c.Err);
    EXPECT_EQ(renamed, 0);
    EXPECT_EQ(Read("0001.bon"), kReceipt);
    EXPECT_EQ(Folder().ClaimFd(), -1);
    if (c.Err == 0) {
      EXPECT_EQ(Read("0001.$$$"), "left claim");
    }
  }
}

// What is not a claim of ours under the claim name (a link, never followed, a folder, a
// pipe) is cleared away with one line and the receipt is claimed; when it cannot be, the
// receipt waits as for a taken name.
TEST_F(TFolderUnit, NotOursUnderTheClaimNameIsClearedAway) {
  const QString outside = FTmp.path() + "/outside";
  const struct {
    const char* Name;
    std::function<void()> Put;
    std::vector<std::string> Left;  // besides the claim
    std::string Line;
  } cases[] = {
      {"Link",
       [&] { ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(), P("0001.$$$").c_str()), 0); },
       {},
       "[DoReadFiles] A link under a claim name, removed: \"" + P("0001.$$$") + "\""},
      {"Folder",
       [&] {
         ASSERT_TRUE(QDir().mkdir(FPath + "0001.$$$"));
         Put("0001.aside", "taken");
       },
       {"0001.aside", "0001_1.aside"},
       "[DoReadFiles] Not a regular file (a folder or another kind) under a claim name, set aside: \"" + P("0001.$$$") +
           "\" is now \"" + P("0001_1.aside") + "\""},
      {"Pipe",
       [&] { ASSERT_EQ(::mkfifo(P("0001.$$$").c_str(), 0644), 0); },
       {"0001.aside"},
       "[DoReadFiles] Not a regular file (a folder or another kind) under a claim name, set aside: \"" + P("0001.$$$") +
           "\" is now \"" + P("0001.aside") + "\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    StartAfresh();
    {
      QFile f(outside);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write("precious");
    }
    Put("0001.bon", kReceipt);
    c.Put();
    ASSERT_EQ(Folder().Claim("0001.bon"), TReceiptFolder::TClaim::Claimed);
    std::vector<std::string> files = c.Left;
    files.insert(files.begin(), "0001.$$$");
    EXPECT_EQ(Files(), files);
    EXPECT_EQ(Read("0001.$$$"), kReceipt);
    EXPECT_THAT(Log(true), ElementsAre(c.Line));
    QFile f(outside);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "precious");
  }
  // A link that may not be removed (another user's, in a sticky folder) holds the receipt up.
  QDir(FPath).removeRecursively();
  ASSERT_TRUE(QDir().mkpath(FPath));
  FUnit.reset();
  Put("0001.bon", kReceipt);
  ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(), P("0001.$$$").c_str()), 0);
  TFaultyFileOps ops;
  TScopedFileOps scoped(&ops);
  ops.FailAt(TFileOp::Unlink, 0, EPERM, P("0001.$$$"));
  EXPECT_EQ(Folder().Claim("0001.bon"), TReceiptFolder::TClaim::Refused);
  EXPECT_EQ(Folder().ClaimError(), EEXIST);
  EXPECT_EQ(Read("0001.bon"), kReceipt);
}

// A claim name fits the file-name limit whatever the receipt's extension.
TEST_F(TFolderUnit, ClaimNameFitsTheNameLimit) {
  EXPECT_EQ(TReceiptFolder::ClaimName("0001.bon"), "0001.$$$");
  EXPECT_EQ(TReceiptFolder::ClaimName(QString(253, 'a') + ".b"), QString(251, 'a') + ".$$$");
  const QString cyrillic = QString(126, QChar(0x0416)) + ".b";  // 254 bytes
  EXPECT_EQ(TReceiptFolder::ClaimName(cyrillic), QString(125, QChar(0x0416)) + ".$$$");
}

// ---- The report file ----

// A report that cannot be written whole, or not put in place, leaves the older one as it
// was and no temporary file; the failure names the file and the reason.
TEST_F(TFolderUnit, ReportThatCannotBeWrittenKeepsTheOlderOne) {
  for (TFileOp op : {TFileOp::Open, TFileOp::Write, TFileOp::Fsync, TFileOp::Rename}) {
    SCOPED_TRACE(static_cast<int>(op));
    Put("0001.rep", "older report\r\n");
    TFaultyFileOps ops;
    TScopedFileOps scoped(&ops);
    ops.FailAt(op, 1, ENOSPC, "0001.rep");
    ExpectFailure([&] { Folder().WriteReport("0001.rep", "Close\r\n"); },
                  "Can't write report file: \"" + FPath + "0001.rep\" No space left on device");
    EXPECT_EQ(Files(), std::vector<std::string>{"0001.rep"});
    EXPECT_EQ(Read("0001.rep"), "older report\r\n");
  }
  Folder().WriteReport("0001.rep", "Close\r\n");
  EXPECT_EQ(Read("0001.rep"), "Close\r\n");
}

// Folders under the report's name and its temporary name are not ours: they stay, and the
// report is written all the same, under the next free names.
TEST_F(TFolderUnit, FoldersUnderTheReportsNamesHoldNothingUp) {
  ASSERT_TRUE(QDir().mkdir(FPath + "0001.rep"));
  ASSERT_TRUE(QDir().mkdir(FPath + ".DriverFiscalPrinterX4.0001_1.rep.tmp"));
  ASSERT_TRUE(QDir().mkdir(FPath + ".DriverFiscalPrinterX4.0001.rep.tmp"));
  Folder().WriteReport("0001.rep", "Close\r\n");
  EXPECT_EQ(Files(), (std::vector<std::string>{".DriverFiscalPrinterX4.0001.rep.tmp",
                                               ".DriverFiscalPrinterX4.0001_1.rep.tmp", "0001.rep", "0001_1.rep"}));
  EXPECT_EQ(Read("0001_1.rep"), "Close\r\n");
  EXPECT_THAT(Log(true), ElementsAre(HasSubstr("left in place: \"" + P("0001.rep") + "\"")));
}

// ---- Finish ----

TEST_F(TFolderUnit, PrintedFileLosesItsClaim) {
  Put("0001.$$$", kReceipt);
  EXPECT_TRUE(Folder().FinishPrinted("0001.bon"));
  EXPECT_THAT(Files(), IsEmpty());
  // A claim another program took meanwhile is no failure.
  EXPECT_FALSE(Folder().FinishPrinted("0001.bon"));

  Put("0002.$$$", kReceipt);
  TFaultyFileOps ops;
  TScopedFileOps scoped(&ops);
  ops.FailAt(TFileOp::Unlink, 1, EIO);
  ExpectFailure([&] { Folder().FinishPrinted("0002.bon"); },
                "Can't delete file. Check permissions : " + FPath + "0002.$$$");
  EXPECT_EQ(Files(), std::vector<std::string>{"0002.$$$"});
}

TEST_F(TFolderUnit, FailedFileBecomesAnErrorFileAndTheFolderIsSynced) {
  Put("0001.$$$", kReceipt);
  TFaultyFileOps ops;
  TScopedFileOps scoped(&ops);
  Folder().FinishFailed("0001.bon", kError);
  EXPECT_EQ(Files(), std::vector<std::string>{"0001.err"});
  EXPECT_EQ(Read("0001.err"), kReceipt);
  EXPECT_EQ(ops.Calls(TFileOp::Fsync), 1);
  EXPECT_THAT(FLogs, IsEmpty());
}

// Error files of one name within the same stamp never overwrite each other.
TEST_F(TFolderUnit, OlderErrorFilesAreMovedAsideWithACounter) {
  for (const char* content : {"#A first\r\n", "#A second\r\n", "#A third\r\n"}) {
    Put("0001.$$$", content);
    Folder().FinishFailed("0001.bon", kError);
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.err", "0001_09122025123007.err", "0001_09122025123007_1.err"}));
  EXPECT_EQ(Read("0001_09122025123007.err"), "#A first\r\n");
  EXPECT_EQ(Read("0001_09122025123007_1.err"), "#A second\r\n");
  EXPECT_EQ(Read("0001.err"), "#A third\r\n");
}

TEST_F(TFolderUnit, StampHasTwoDigitMillisecondsAtLeast) {
  FClock = QDateTime(QDate(2025, 1, 2), QTime(3, 4, 5, 123));
  Put("x.$$$", "new");
  Put("x.err", "old");
  Folder().FinishFailed("x.bon", kError);
  EXPECT_EQ(Files(), (std::vector<std::string>{"x.err", "x_020120250304123.err"}));
  EXPECT_EQ(Read("x_020120250304123.err"), "old");
}

// A receipt name near the file system's limit (255 bytes) still gets its error files: the
// names moved aside and counted are cut short to fit rather than failing the move (which
// would leave the claim to become ".unk" although nothing printed).
TEST_F(TFolderUnit, NamesNearTheLengthLimitStillGetTheirErrorAndUnknownFiles) {
  const QString stem(251, QLatin1Char('a'));  // "aaa...a.bon" is 255 bytes
  for (const char* content : {"first", "second", "third"}) {
    Put(stem + ".$$$", content);
    Folder().FinishFailed(stem + ".bon", kError);
  }
  EXPECT_EQ(Read(stem + ".err"), "third");
  EXPECT_EQ(Read(stem.left(236) + "_09122025123007.err"), "first");
  EXPECT_EQ(Read(stem.left(234) + "_09122025123007_1.err"), "second");
  Put(stem + ".unk", "older");
  Put(stem + ".$$$", "fourth");
  Folder().FinishFailed(stem + ".bon", Unknown(kPaymentWhy));
  EXPECT_EQ(Read(stem.left(249) + "_1.unk"), "fourth");
  for (const std::string& name : Files()) EXPECT_LE(name.size(), 255u) << name;
}

// The claim stays whenever its error file cannot be made; the older error file survives.
TEST_F(TFolderUnit, ErrorFileFailuresLeaveTheClaim) {
  const struct {
    const char* Name;
    const char* PathPart;
    int Nth;
    const char* Message;
    std::vector<std::string> After;
  } cases[] = {
      {"ClaimToErr",
       "0001.$$$\n",
       1,
       "Can't current file to err file. May be permission not set: %F",
       {"0001.$$$", "0001.err"}},
      {"MoveAside", "0001.err\n", 1, "Can't rename err file: %F", {"0001.$$$", "0001.err"}},
      {"ClaimToErrAfterMoveAside",
       "0001.$$$\n",
       2,
       "Can't current file to err file. May be permission not set: %F",
       {"0001.$$$", "0001_09122025123007.err"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    for (const auto& name : Files()) QFile::remove(FPath + QString::fromStdString(name));
    Put("0001.$$$", kReceipt);
    Put("0001.err", "old");
    TFaultyFileOps ops;
    TScopedFileOps scoped(&ops);
    ops.FailAt(TFileOp::RenameNoReplace, c.Nth, EIO, P(c.PathPart));
    ExpectFailure([&] { Folder().FinishFailed("0001.bon", kError); }, QString(c.Message).replace("%F", FPath));
    EXPECT_EQ(Files(), c.After);
  }
}

TEST_F(TFolderUnit, FileThatMayHavePrintedBecomesUnknownWithItsReasonInBothLogs) {
  Put("0001.$$$", kReceipt);
  Put("0001.unk", "older");
  TFaultyFileOps ops;
  TScopedFileOps scoped(&ops);
  Folder().FinishFailed("0001.bon", Unknown(kPaymentWhy));
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.unk", "0001_1.unk"}));
  EXPECT_EQ(Read("0001.unk"), "older");
  EXPECT_EQ(Read("0001_1.unk"), kReceipt);
  EXPECT_EQ(ops.Calls(TFileOp::Fsync), 1);
  const std::string line = "[DoReadFiles] Outcome unknown, not printed again: \"" + P("0001.$$$") + "\" kept as \"" +
                           P("0001_1.unk") + "\"; " + kPaymentWhy.toStdString();
  EXPECT_THAT(Log(true), ElementsAre(line));
  EXPECT_THAT(Log(false), ElementsAre(line));

  ops.FailAt(TFileOp::RenameNoReplace, 1, EIO);
  Put("0002.$$$", kReceipt);
  ExpectFailure([&] { Folder().FinishFailed("0002.bon", Unknown(kLostWhy)); },
                "Can't rename temp file. Check permissions: " + FPath);
  EXPECT_EQ(Read("0002.$$$"), kReceipt);
}

// ---- Claims left by an earlier run ----

TEST_F(TFolderUnit, LeftClaimsAreKeptAsUnknownInNameOrder) {
  Put("0007.$$$", kReceipt);
  Put("0005.$$$", kReceipt);
  Put("0007.unk", "older unknown");
  Put("0008.bon", kReceipt);
  std::vector<std::string> kept;
  EXPECT_EQ(Folder().RecoverLeftClaims([&](const QString& claim, const QString& path) {
    kept.push_back(claim.toStdString() + " " + path.toStdString());
  }),
            2);
  EXPECT_EQ(kept, (std::vector<std::string>{"0005.$$$ " + P("0005.unk"), "0007.$$$ " + P("0007_1.unk")}));
  EXPECT_EQ(Files(), (std::vector<std::string>{"0005.unk", "0007.unk", "0007_1.unk", "0008.bon"}));
  EXPECT_EQ(Read("0007.unk"), "older unknown");
  const std::string first =
      "[DelTempFiles] Outcome unknown, not printed again: \"" + P("0005.$$$") + "\" kept as \"" + P("0005.unk") + "\"";
  EXPECT_THAT(Log(true), ElementsAre(first, HasSubstr(P("0007_1.unk"))));
  EXPECT_THAT(Log(false), ElementsAre(first, HasSubstr(P("0007_1.unk")), "[DelTempFiles] Renamed 2 temp files. "));
}

// A status query left in print (it prints nothing) goes back under its waiting name to be
// answered again, the receipts' extension as given; a query whose waiting name is taken by
// a newer file, and any query when no extension is given, is kept as unknown outcome.
TEST_F(TFolderUnit, LeftStatusQueryGoesBackToBeAnswered) {
  Put("0001.$$$", "&S\r\n");
  Put("0002.$$$", "&s\r\n:line\r\n");
  Put("0003.$$$", "&S\r\n");
  Put("0003.txt", "a newer file");
  Put("0004.$$$", " &S\r\n");
  std::vector<std::string> kept;
  EXPECT_EQ(Folder().RecoverLeftClaims(
                [&](const QString& claim, const QString&) { kept.push_back(claim.toStdString()); }, QString("txt")),
            2);
  EXPECT_EQ(kept, (std::vector<std::string>{"0003.$$$", "0004.$$$"}));
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.txt", "0002.txt", "0003.txt", "0003.unk", "0004.unk"}));
  EXPECT_EQ(Read("0002.txt"), "&s\r\n:line\r\n");
  EXPECT_EQ(Read("0003.txt"), "a newer file");
  EXPECT_THAT(Log(false), Contains("[DelTempFiles] A status query left in print waits to be answered again: \"" +
                                   P("0001.$$$") + "\" is \"" + P("0001.txt") + "\" again"));

  Put("0005.$$$", "&S\r\n");
  EXPECT_EQ(Folder().RecoverLeftClaims({}), 1);
  EXPECT_EQ(Read("0005.unk"), "&S\r\n");
  // A receipt files' extension that is empty: names without a dot.
  Put("0006.$$$", "&S\r\n");
  EXPECT_EQ(Folder().RecoverLeftClaims({}, QString()), 0);
  EXPECT_EQ(Read("0006"), "&S\r\n");
}

// A job stopped while it wrote a report leaves its temporary file; the next job (holding the
// folder's lock) removes it, and only regular files under the program's own temporary
// names: the point-of-sale program's temporary files stay, whatever their names.
TEST_F(TFolderUnit, UnfinishedReportOfAStoppedJobIsRemoved) {
  Put("0003.rep", "older report");
  Put(".DriverFiscalPrinterX4.0003.rep.tmp", "half a rep");
  Put(".DriverFiscalPrinterX4.0004.rep.1.tmp", "half");
  Put("0006.tmp", "the point-of-sale program's own");
  Put("daily-export.rep.tmp", "the point-of-sale program's own");
  Put("0007.rep.1.tmp", "the point-of-sale program's own");
  ASSERT_TRUE(QDir(FPath).mkdir(".DriverFiscalPrinterX4.0005.rep.tmp"));
  EXPECT_EQ(Folder().RecoverLeftClaims({}), 0);
  EXPECT_EQ(Files(), (std::vector<std::string>{".DriverFiscalPrinterX4.0005.rep.tmp", "0003.rep", "0006.tmp",
                                               "0007.rep.1.tmp", "daily-export.rep.tmp"}));
  EXPECT_EQ(Read("0003.rep"), "older report");
  EXPECT_EQ(Read("daily-export.rep.tmp"), "the point-of-sale program's own");
  EXPECT_TRUE(QFileInfo(FPath + ".DriverFiscalPrinterX4.0005.rep.tmp").isDir());
  EXPECT_THAT(Log(false), ElementsAre("[DelTempFiles] Removed an unfinished report: \"" +
                                          P(".DriverFiscalPrinterX4.0003.rep.tmp") + "\"",
                                      "[DelTempFiles] Removed an unfinished report: \"" +
                                          P(".DriverFiscalPrinterX4.0004.rep.1.tmp") + "\""));
}

// What is not ours under a claim name no receipt needs yet is cleared away at the recovery
// as well, with one line each; a left regular claim still becomes ".unk".
TEST_F(TFolderUnit, RecoveryClearsAwayWhatIsNotOursUnderClaimNames) {
  Put("0001.$$$", kReceipt);
  ASSERT_EQ(::symlink("/nowhere", P("0002.$$$").c_str()), 0);
  ASSERT_TRUE(QDir().mkdir(FPath + "0003.$$$"));
  EXPECT_EQ(Folder().RecoverLeftClaims({}), 1);
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.unk", "0003.aside"}));
  EXPECT_THAT(Log(true), ElementsAre(HasSubstr("removed: \"" + P("0002.$$$") + "\""),
                                     HasSubstr("set aside: \"" + P("0003.$$$") + "\""),
                                     HasSubstr("kept as \"" + P("0001.unk") + "\"")));
}

TEST_F(TFolderUnit, NoLeftClaimNoLine) {
  Put("0001.bon", kReceipt);
  EXPECT_EQ(Folder().RecoverLeftClaims({}), 0);
  EXPECT_THAT(FLogs, IsEmpty());
}

// A claim gone meanwhile is skipped; one that cannot be renamed ends the recovery.
TEST_F(TFolderUnit, LeftClaimGoneIsSkippedAndOneStuckFails) {
  Put("0005.$$$", kReceipt);
  Put("0006.$$$", kReceipt);
  TFaultyFileOps ops;
  TScopedFileOps scoped(&ops);
  ops.FailAt(TFileOp::RenameNoReplace, 1, ENOENT, "0005.$$$");
  EXPECT_EQ(Folder().RecoverLeftClaims({}), 1);
  EXPECT_EQ(Files(), (std::vector<std::string>{"0005.$$$", "0006.unk"}));

  ops.FailAt(TFileOp::RenameNoReplace, 1, EIO, "0005.$$$");
  ExpectFailure([&] { Folder().RecoverLeftClaims({}); }, "Can't rename temp file. Check permissions: " + FPath);
  EXPECT_EQ(Files(), (std::vector<std::string>{"0005.$$$", "0006.unk"}));
}

// ---- The lock ----

TEST_F(TFolderUnit, OneLockHolderAtATime) {
  TReceiptFolder other(FPath, {}, {});
  EXPECT_TRUE(Folder().Lock());
  EXPECT_FALSE(other.Lock());
  Folder().Unlock();
  EXPECT_TRUE(other.Lock());
  EXPECT_FALSE(Folder().Lock());
  FUnit.reset();
  {
    TReceiptFolder third(FPath, {}, {});
    EXPECT_FALSE(third.Lock());
    other.Unlock();
    EXPECT_TRUE(third.Lock());
  }  // released with the object
  EXPECT_TRUE(other.Lock());
  // A folder that cannot be opened goes on without a lock.
  EXPECT_TRUE(TReceiptFolder(FTmp.path() + "/none", {}, {}).Lock());
}

// ---- The report file ----

TEST_F(TFolderUnit, ReportFileAndFolderAreSynced) {
  TFaultyFileOps ops;
  TScopedFileOps scoped(&ops);
  Folder().SyncReport(QString());
  Folder().SyncReport(FPath + "missing.rep");
  Put("outside.rep", "x");
  ASSERT_EQ(::symlink(P("outside.rep").c_str(), P("link.rep").c_str()), 0);
  Folder().SyncReport(FPath + "link.rep");
  EXPECT_EQ(ops.Calls(TFileOp::Fsync), 0);

  Put("0001.rep", "Close\r\n");
  Folder().SyncReport(FPath + "0001.rep");
  EXPECT_EQ(ops.Calls(TFileOp::Fsync), 2);
  EXPECT_THAT(FLogs, IsEmpty());
  ops.FailAt(TFileOp::Fsync, 1, EIO, "0001.rep");
  Folder().SyncReport(FPath + "0001.rep");
  EXPECT_THAT(Log(false), ElementsAre("[DoReadFiles] Can't sync report file: \"" + P("0001.rep") + "\""));
}

// ---- The status answer ----

// Only the first status query of the list is answered; a file is one when its first line
// is "&S" or "&s" and nothing else, and the answer keeps all its lines as they stand.
TEST_F(TFolderUnit, FirstStatusQueryOfTheListIsAnswered) {
  Put("0001.bon", "&Sx\r\n");
  Put("0002.bon", " &S\r\n");
  Put("0003.bon", "&s\r\n:\xC4\xE0\r\n");
  Put("0004.bon", "&S\r\n");
  Put("0005.bon", "&S\r\n" + std::string(64 * 1024, ' '));
  Put("0003.rep", "an older answer");
  Folder().AnswerStatusQuery({"0005.bon", "0001.bon", "0002.bon", "0003.bon", "0004.bon"},
                             "[FastInit] \xCF\xEE\xF0\xF2");
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.bon", "0002.bon", "0003.rep", "0004.bon", "0005.bon"}));
  EXPECT_EQ(Read("0003.rep"), "&s\r\n:\xC4\xE0\r\n[FastInit] \xCF\xEE\xF0\xF2\r\n");
  EXPECT_THAT(FLogs, IsEmpty());
}

// Links under the answer's names take no write out of the folder.
TEST_F(TFolderUnit, StatusAnswerIsWrittenThroughNoLink) {
  const QString outside = FTmp.path() + "/outside";
  {
    QFile f(outside);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("precious");
  }
  for (const char* name : {".DriverFiscalPrinterX4.0001.rep.tmp", "0001.rep"}) {
    SCOPED_TRACE(name);
    Put("0001.bon", "&S\r\n");
    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(), P(name).c_str()), 0);
    Folder().AnswerStatusQuery({"0001.bon"}, "failed");
    EXPECT_EQ(Files(), std::vector<std::string>{"0001.rep"});
    EXPECT_EQ(Read("0001.rep"), "&S\r\nfailed\r\n");
    QFile f(outside);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "precious");
    QFile::remove(FPath + "0001.rep");
  }
}

// The status query file goes only once its answer is in place.
TEST_F(TFolderUnit, StatusQueryIsKeptWhenItsAnswerCannotBeWritten) {
  const std::string write = "[SaveErrorStatus] Can't write status answer: \"" + P("0003.rep") + "\" ";
  const std::string rename = "[SaveErrorStatus] Can't rename status answer: \"" + P("0003.rep") + "\" ";
  const struct {
    TFileOp Op;
    std::string Line;
  } cases[] = {{TFileOp::Open, write + "Input/output error"},
               {TFileOp::Write, write + "Input/output error"},
               {TFileOp::Fsync, write + "Input/output error"},
               {TFileOp::Rename, rename + "Input/output error"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    FLogs.clear();
    Put("0003.bon", "&S\r\n");
    TFaultyFileOps ops;
    TScopedFileOps scoped(&ops);
    ops.FailAt(c.Op, 1, EIO, "0003.rep");
    Folder().AnswerStatusQuery({"0003.bon"}, "failed");
    EXPECT_EQ(Files(), std::vector<std::string>{"0003.bon"});
    const std::string line = c.Line;
    EXPECT_THAT(Log(false), ElementsAre(line));
  }
}

}  // namespace
}  // namespace test
}  // namespace fp
