// The receipt folder is shared with the point-of-sale program, so nothing in it is
// trusted: links placed under the names the job writes never take a write outside the
// folder, a receipt name that is not a regular file is never printed, and a file is taken
// once it has stopped changing by the program's own clock, whatever its stamp says.
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/TimeZoneTestSupport.h"
#include "tests/support/uPRNFileThreadTestSupport.h"
#include "platform/FileOps.h"
#include "platform/SysErrorText.h"
#include "program/app/uProgramLog.h"
#include "program/tasks/uTaskRunner.h"

namespace fp::test {
namespace {

using ::testing::HasSubstr;

class TSharedFolder : public TWorkerFixture {
 protected:
  void SetUp() override {
    TWorkerFixture::SetUp();
    FOutside = FTmp.path() + "/outside/";
    ASSERT_TRUE(QDir().mkpath(FOutside));
  }

  static std::string Native(const QString& path) { return QFile::encodeName(path).toStdString(); }
  void Link(const QString& name, const QString& target) {
    ASSERT_EQ(::symlink(Native(target).c_str(), Native(FOlder + name).c_str()), 0);
  }
  void WriteOutside(const QString& name, const std::string& content) {
    QFile f(FOutside + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content.data(), static_cast<qint64>(content.size()));
  }
  std::string ReadOutside(const QString& name) const {
    QFile f(FOutside + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : "<missing>";
  }
  // The kind of the folder entry itself: 'f' file, 'l' link, 'd' folder, 'p' pipe, '-' none.
  char Kind(const QString& name) const {
    struct stat st {};
    if (::lstat(Native(FOlder + name).c_str(), &st) != 0) return '-';
    if (S_ISLNK(st.st_mode)) return 'l';
    if (S_ISREG(st.st_mode)) return 'f';
    if (S_ISDIR(st.st_mode)) return 'd';
    if (S_ISFIFO(st.st_mode)) return 'p';
    return '?';
  }
  std::string ExceptionLog() const {
    QFile f(FLogDir + uProgramLog::ExceptionLogName);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
  }
  static int Occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
  QStringList Ready() { return ReadyNames(FLogDir, FReadyAgeMs); }
  void Advance(int ms) { Pass(ms); }
  // The receipt outside the folder sells article 13, "Bread": no call may carry it.
  void ExpectNothingOfTheOutsideReceipt() const {
    for (const std::string& call : FAke->Calls) {
      EXPECT_EQ(call.find("(13"), std::string::npos) << call;
      EXPECT_EQ(call.find("Bread"), std::string::npos) << call;
    }
  }
  void Append(const QString& name, const std::string& text) {
    QFile f(FOlder + name);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(text.data(), static_cast<qint64>(text.size()));
  }

  QString FOutside;
};

// ---- Links under the names the job writes ----

struct TLinkCase {
  const char* Name;
  bool StatusQuery;      // 0001.bon is a status query answered after a failed connection;
                         // otherwise a receipt that prints
  const char* LinkName;  // the link placed in the folder
  bool TargetExists;     // the link points to an existing file outside, or to no file
};

void PrintTo(const TLinkCase& c, std::ostream* os) { *os << c.Name; }

class TLinkUnderAWrittenName : public TSharedFolder, public ::testing::WithParamInterface<TLinkCase> {};

TEST_P(TLinkUnderAWrittenName, WritesNothingOutsideTheFolder) {
  const TLinkCase& c = GetParam();
  const QString victim = c.TargetExists ? "victim.txt" : "created.txt";
  if (c.TargetExists) WriteOutside(victim, "precious\n");
  Link(c.LinkName, FOutside + victim);
  Put("0001.bon", c.StatusQuery ? kStatusQuery : kReceipt, 60);
  if (c.StatusQuery) FAke->Fail("Init", 102, "[Init] Port busy ");

  RunFileJob();

  EXPECT_EQ(ReadOutside(victim), c.TargetExists ? "precious\n" : "<missing>");
  EXPECT_EQ(QDir(FOutside).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), c.TargetExists ? 1 : 0);
  EXPECT_EQ(Kind("0001.rep"), 'f');
  if (c.StatusQuery)
    EXPECT_EQ(Read("0001.rep"), "&S\r\n[FastInit][Init] Port busy \r\n");
  else
    EXPECT_THAT(Read("0001.rep"), HasSubstr("Close\r\n"));
  EXPECT_EQ(Kind(".DriverFiscalPrinterX4.0001.rep.tmp"), '-');
  EXPECT_EQ(Kind("0001.bon"), '-');
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TLinkUnderAWrittenName,
    ::testing::Values(
        TLinkCase{.Name = "StatusAnswerTempLinksToAFile",
                  .StatusQuery = true,
                  .LinkName = ".DriverFiscalPrinterX4.0001.rep.tmp",
                  .TargetExists = true},
        TLinkCase{.Name = "StatusAnswerTempLinksToNoFile",
                  .StatusQuery = true,
                  .LinkName = ".DriverFiscalPrinterX4.0001.rep.tmp",
                  .TargetExists = false},
        TLinkCase{.Name = "ReportLinksToNoFile", .StatusQuery = false, .LinkName = "0001.rep", .TargetExists = false},
        TLinkCase{.Name = "ReportLinksToAFile", .StatusQuery = false, .LinkName = "0001.rep", .TargetExists = true}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- Receipt names that are not regular files ----

enum class TEntry { LinkToAReceiptOutside, LinkToNothing, Folder, Pipe };

class TReceiptNameNotAFile : public TSharedFolder, public ::testing::WithParamInterface<TEntry> {};

// Left in place, never printed, never counted as waiting, and written to the exception log
// once however many ticks see it.
TEST_P(TReceiptNameNotAFile, IsLeftInPlaceWithOneLogLine) {
  const TEntry entry = GetParam();
  const std::string outsideReceipt = "%13^Bread^120^1000\r\n";
  WriteOutside("receipt.txt", outsideReceipt);
  switch (entry) {
    case TEntry::LinkToAReceiptOutside: Link("0001.bon", FOutside + "receipt.txt"); break;
    case TEntry::LinkToNothing: Link("0001.bon", FOutside + "nothing.txt"); break;
    case TEntry::Folder: ASSERT_TRUE(QDir().mkpath(FOlder + "0001.bon")); break;
    case TEntry::Pipe: ASSERT_EQ(::mkfifo(Native(FOlder + "0001.bon").c_str(), 0644), 0); break;
  }
  const char kind = Kind("0001.bon");
  Put("0002.bon", kReceipt, 50);

  EXPECT_EQ(Ready(), QStringList{"0002.bon"});
  RunFileJob();
  EXPECT_EQ(Ready(), QStringList{});  // the main window's tick: nothing waits
  RunFileJob();

  EXPECT_EQ(Kind("0001.bon"), kind);
  EXPECT_EQ(Kind("0001.$$$"), '-');
  EXPECT_EQ(Kind("0001.err"), '-');
  EXPECT_EQ(Kind("0001.unk"), '-');
  EXPECT_EQ(Kind("0002.rep"), 'f');
  EXPECT_EQ(ReadOutside("receipt.txt"), outsideReceipt);
  EXPECT_EQ(CallCount("AddProgPlu"), 1);  // 0002 alone
  ExpectNothingOfTheOutsideReceipt();
  const std::string line = "left in place: \"" + (FOlder + "0001.bon").toStdString() + "\"";
  EXPECT_EQ(Occurrences(ExceptionLog(), line), 1) << ExceptionLog();
}

INSTANTIATE_TEST_SUITE_P(Entries, TReceiptNameNotAFile,
                         ::testing::Values(TEntry::LinkToAReceiptOutside, TEntry::LinkToNothing, TEntry::Folder,
                                           TEntry::Pipe),
                         [](const auto& info) {
                           switch (info.param) {
                             case TEntry::LinkToAReceiptOutside: return std::string("LinkToAReceiptOutside");
                             case TEntry::LinkToNothing: return std::string("LinkToNothing");
                             case TEntry::Folder: return std::string("Folder");
                             case TEntry::Pipe: return std::string("Pipe");
                           }
                           return std::string();
                         });

// A name listed as a regular file and replaced by a link before its claim is not printed
// through the link: it goes back under its own name.
TEST_F(TSharedFolder, ReceiptReplacedByALinkBeforeItsClaimIsNotPrinted) {
  WriteOutside("receipt.txt", "%13^Bread^120^1000\r\n");
  Put("0001.bon", kReceipt, 60);
  Put("0002.bon", kReceipt, 50);
  auto t = FileJob();
  t->OnFileStarted = [&](const QString& path) {
    FEvents.push_back("Started " + QFileInfo(path).fileName().toStdString());
    if (path.endsWith("0001.bon")) {
      QFile::remove(path);
      Link("0001.bon", FOutside + "receipt.txt");
    }
  };
  t->Execute();

  EXPECT_EQ(Kind("0001.bon"), 'l');
  EXPECT_EQ(Kind("0001.$$$"), '-');
  EXPECT_EQ(Kind("0002.rep"), 'f');
  EXPECT_EQ(CallCount("AddProgPlu"), 1);
  ExpectNothingOfTheOutsideReceipt();
  EXPECT_EQ(ReadOutside("receipt.txt"), "%13^Bread^120^1000\r\n");
  EXPECT_EQ(Occurrences(ExceptionLog(), "left in place: \"" + (FOlder + "0001.bon").toStdString() + "\""), 1);
  EXPECT_EQ(FEvents,
            (std::vector<std::string>{"Online", "Started 0001.bon", "Started 0002.bon", "Processed", "Finished"}));
}

// A listed file that is replaced or written to before its claim may still be being
// written: it is not printed, it stays under its name and settles like a new file.
enum class TChange { ReplacedByANewFile, Appended, StampChanged };

class TChangedBeforeItsClaim : public TSharedFolder, public ::testing::WithParamInterface<TChange> {};

TEST_P(TChangedBeforeItsClaim, IsNotPrintedAndWaitsUnderItsName) {
  FReadyAgeMs = uPRNFileThread::ReadyAgeMs;
  Put("0001.bon", kReceipt, 60);
  Put("0002.bon", kReceipt, 50);
  EXPECT_EQ(Ready(), QStringList{});
  Advance(500);
  const std::string partial = "%13^Bread^120^1000\r\n";
  auto t = FileJob();
  t->OnFileStarted = [&](const QString& path) {
    FEvents.push_back("Started " + QFileInfo(path).fileName().toStdString());
    if (!path.endsWith("0001.bon")) return;
    switch (GetParam()) {
      case TChange::ReplacedByANewFile:
        // Another file of the same size and stamp: only its identity differs.
        ASSERT_TRUE(QFile::rename(path, FOlder + "0001.old"));
        Put("0001.bon", partial, 60.5);
        break;
      case TChange::Appended: Append("0001.bon", partial); break;
      case TChange::StampChanged: SetAge("0001.bon", 30); break;
    }
  };
  const std::string expected = GetParam() == TChange::ReplacedByANewFile ? partial
                               : GetParam() == TChange::Appended         ? kReceipt + partial
                                                                         : kReceipt;
  t->Execute();

  EXPECT_EQ(Kind("0001.bon"), 'f');
  EXPECT_EQ(Kind("0001.$$$"), '-');
  EXPECT_EQ(Kind("0001.rep"), '-');
  EXPECT_EQ(Read("0001.bon"), expected);
  EXPECT_EQ(CallCount("AddProgPlu"), 1);  // 0002 alone
  EXPECT_EQ(FEvents,
            (std::vector<std::string>{"Online", "Started 0001.bon", "Started 0002.bon", "Processed", "Finished"}));
  EXPECT_EQ(ExceptionLog(), "");
  // It waits half a second from the listing after the change, then prints.
  RunFileJob();
  EXPECT_EQ(Kind("0001.bon"), 'f');
  Advance(500);
  RunFileJob();
  EXPECT_EQ(Kind("0001.bon"), '-');
  EXPECT_EQ(Kind("0001.rep"), 'f');
  EXPECT_EQ(CallCount("AddProgPlu"), GetParam() == TChange::Appended ? 3 : 2);  // the file as it is now
}

INSTANTIATE_TEST_SUITE_P(Changes, TChangedBeforeItsClaim,
                         ::testing::Values(TChange::ReplacedByANewFile, TChange::Appended, TChange::StampChanged),
                         [](const auto& info) {
                           switch (info.param) {
                             case TChange::ReplacedByANewFile: return std::string("ReplacedByANewFile");
                             case TChange::Appended: return std::string("Appended");
                             case TChange::StampChanged: return std::string("StampChanged");
                           }
                           return std::string();
                         });

// ---- Shares mounted through FUSE ----

// A folder on a share without the rename flag and hard links (a desktop's share mount, a
// FAT image), whose inode numbers follow the name (a folder over SSH), or that does not
// tell its size: every receipt prints once with its report, nothing is called full, no
// claim is refused; a receipt written to after its listing still waits, with a line.
struct TShareCase {
  const char* Name;
  TFileSystemTraits Traits;
};

void PrintTo(const TShareCase& c, std::ostream* os) { *os << c.Name; }

class TFuseShare : public TSharedFolder, public ::testing::WithParamInterface<TShareCase> {};

TEST_P(TFuseShare, EveryReceiptPrintsOnceAndAChangedOneStillWaits) {
  TFaultyFileOps ops;
  ops.SetFileSystem(GetParam().Traits);
  TScopedFileOps scoped(&ops);
  EXPECT_FALSE(TTaskRunner::ProbeFolder(FOlder, true, false));
  Put("0001.bon", kReceipt, 60);
  Put("0002.bon", kReceipt, 50);
  Put("0003.bon", kReceipt, 40);
  auto t = FileJob();
  t->OnFileStarted = [&](const QString& path) {
    FEvents.push_back("Started " + QFileInfo(path).fileName().toStdString());
    if (path.endsWith("0002.bon")) Append("0002.bon", "%13^Bread^120^1000\r\n");
  };
  t->Execute();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0002.bon", "0003.rep"}));
  EXPECT_EQ(CallCount("AddProgPlu"), 2);
  EXPECT_THAT(NormalLog(),
              HasSubstr("File changed after it was listed, it waits: \"" + Native(FOlder + "0002.bon") + "\" (size"));
  EXPECT_EQ(Occurrences(ExceptionLog(), "Can't claim"), 0);
  RunFileJob();
  EXPECT_EQ(Files(), (std::vector<std::string>{"0001.rep", "0002.rep", "0003.rep"}));
  EXPECT_EQ(CallCount("AddProgPlu"), 4);
}

INSTANTIATE_TEST_SUITE_P(
    Shares, TFuseShare,
    ::testing::Values(TShareCase{"NoRenameFlagNoLinks", {.NoRenameFlags = true, .NoLinks = true}},
                      TShareCase{"InodesFollowTheName", {.InodesByPath = true}},
                      TShareCase{"SizeUnknown", {.UnknownSize = true}},
                      TShareCase{"AllOfThem",
                                 {.NoRenameFlags = true, .NoLinks = true, .InodesByPath = true, .UnknownSize = true}}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- A file the program may not claim ----

// Refused (as in a sticky folder, EPERM): reported once with its name and the reason, the
// job goes on; no job starts for it (and no printer is connected for it) until a minute
// has passed or the folder's status changed; a new reason is reported again; once the
// folder's mode is fixed the receipt prints at once, and once.
TEST_F(TSharedFolder, FileThatMayNotBeClaimedIsReportedOnceAndRetriedSlowly) {
  Put("0001.bon", kReceipt, 60);
  Put("0002.bon", kReceipt, 50);
  TFaultyFileOps ops;
  TScopedFileOps scoped(&ops);
  const std::string claim = Native(FOlder + "0001.bon\n");
  ops.FailAt(TFileOp::RenameNoReplace, 0, EPERM, claim);
  auto lines = [&](int err) {
    return Occurrences(NormalLog(), "[DoReadFiles] Can't claim file, it waits: \"" + Native(FOlder + "0001.bon") +
                                        "\" " + std::strerror(err));
  };
  RunFileJob();
  EXPECT_EQ(Kind("0001.bon"), 'f');
  EXPECT_EQ(Kind("0002.rep"), 'f');
  EXPECT_EQ(CallCount("AddProgPlu"), 1);
  EXPECT_EQ(lines(EPERM), 1);
  EXPECT_EQ(Occurrences(ExceptionLog(), "Can't claim file, it waits"), 1);
  EXPECT_EQ(ErrorEvents(), 0);

  Advance(59999);
  EXPECT_EQ(Ready(), QStringList{});  // the window's tick starts no job for it
  Advance(1);
  EXPECT_EQ(Ready(), QStringList{"0001.bon"});
  RunFileJob();
  EXPECT_EQ(lines(EPERM), 1);  // the same reason again: no new line
  ops.FailAt(TFileOp::RenameNoReplace, 0, EACCES, claim);
  Advance(60000);
  RunFileJob();
  EXPECT_EQ(lines(EACCES), 1);  // a new reason is reported
  EXPECT_EQ(Ready(), QStringList{});

  // The folder's mode is fixed: its status change time moves, the file is tried at once.
  ops.Clear();
  ASSERT_EQ(::chmod(Native(FOlder).c_str(), 0755), 0);
  EXPECT_EQ(Ready(), QStringList{"0001.bon"});
  RunFileJob();
  EXPECT_EQ(Kind("0001.bon"), '-');
  EXPECT_EQ(Kind("0001.rep"), 'f');
  RunFileJob();
  EXPECT_EQ(CallCount("AddProgPlu"), 2);
  EXPECT_EQ(lines(EPERM), 1);
  EXPECT_EQ(lines(EACCES), 1);
}

// ---- Settling by the program's own clock ----

// Whatever the stamp says (a share whose clock runs ten minutes ahead, or one that runs
// behind, or a file copied with its old stamp), a file is ready half a second after the
// program first saw it, by the program's own clock, and not before. The file job settles
// files the same way as the window's listing.
class TStampedFile : public TSharedFolder, public ::testing::WithParamInterface<double> {
 protected:
  QStringList Ready(qint64& waitMs) { return ReadyNames(FLogDir, uPRNFileThread::ReadyAgeMs, &waitMs); }
};

TEST_P(TStampedFile, IsReadyHalfASecondAfterItIsFirstSeen) {
  FReadyAgeMs = uPRNFileThread::ReadyAgeMs;
  Put("0001.bon", kReceipt, GetParam());
  qint64 waitMs = 0;
  EXPECT_EQ(Ready(waitMs), QStringList{});
  EXPECT_EQ(waitMs, 500);
  Advance(200);
  Put("0002.bon", kReceipt, GetParam());
  EXPECT_EQ(Ready(waitMs), QStringList{});
  EXPECT_EQ(waitMs, 300);  // the earliest of the waiting files
  Advance(299);
  EXPECT_EQ(Ready(waitMs), QStringList{});
  EXPECT_EQ(waitMs, 1);
  RunFileJob();
  EXPECT_EQ(CallCount("AddProgPlu"), 0);
  Advance(1);
  EXPECT_EQ(Ready(waitMs), QStringList{"0001.bon"});
  EXPECT_EQ(waitMs, 200);
  RunFileJob();
  EXPECT_EQ(Kind("0001.bon"), '-');
  EXPECT_EQ(Kind("0001.rep"), 'f');
  EXPECT_EQ(Kind("0002.bon"), 'f');
  EXPECT_EQ(CallCount("AddProgPlu"), 1);
  Advance(200);
  EXPECT_EQ(Ready(waitMs), QStringList{"0002.bon"});
  EXPECT_EQ(waitMs, -1);  // nothing else waits
}

INSTANTIATE_TEST_SUITE_P(Stamps, TStampedFile, ::testing::Values(-600.0, 3600.0, 0.0), [](const auto& info) {
  if (info.param < 0) return std::string("TenMinutesAhead");
  if (info.param > 0) return std::string("AnHourAgo");
  return std::string("Now");
});

// A file written in place that grows every 0.3 s waits, whatever its stamp does; once it
// stops it is taken half a second later.
enum class TStamp { FollowsTheClock, TenMinutesAhead, NeverMoves };

class TGrowingFile : public TSharedFolder, public ::testing::WithParamInterface<TStamp> {};

TEST_P(TGrowingFile, WaitsWhileItGrows) {
  FReadyAgeMs = uPRNFileThread::ReadyAgeMs;
  const TStamp stamp = GetParam();
  auto setStamp = [&] {
    if (stamp == TStamp::FollowsTheClock) SetAge("0001.bon", 0);
    if (stamp == TStamp::TenMinutesAhead) SetAge("0001.bon", -600);
    if (stamp == TStamp::NeverMoves) SetAge("0001.bon", 0.1);
  };
  Put("0001.bon", "%12^Water^150^1000\r\n", 0);
  const QDateTime start = FClock;
  setStamp();
  EXPECT_EQ(Ready(), QStringList{});
  for (int i = 0; i < 8; ++i) {
    Advance(300);
    Append("0001.bon", "%12^Water^150^1000\r\n");
    if (stamp == TStamp::FollowsTheClock) setStamp();
    if (stamp != TStamp::FollowsTheClock) {
      // The stamp stays where it was: only the size tells.
      const QDateTime now = FClock;
      FClock = start;
      setStamp();
      FClock = now;
    }
    EXPECT_EQ(Ready(), QStringList{}) << "growth " << i;
  }
  Advance(499);
  EXPECT_EQ(Ready(), QStringList{});
  Advance(1);
  EXPECT_EQ(Ready(), QStringList{"0001.bon"});
}

INSTANTIATE_TEST_SUITE_P(Stamps, TGrowingFile,
                         ::testing::Values(TStamp::FollowsTheClock, TStamp::TenMinutesAhead, TStamp::NeverMoves),
                         [](const auto& info) {
                           switch (info.param) {
                             case TStamp::FollowsTheClock: return std::string("FollowsTheClock");
                             case TStamp::TenMinutesAhead: return std::string("TenMinutesAhead");
                             case TStamp::NeverMoves: return std::string("NeverMoves");
                           }
                           return std::string();
                         });

// A wall clock stepped back an hour makes every stamp lie ahead: the file is ready half a
// second after it was first seen all the same, by the monotonic clock.
TEST_F(TSharedFolder, ClockSteppedBackHoldsAFileHalfASecondOnly) {
  FReadyAgeMs = uPRNFileThread::ReadyAgeMs;
  Put("0001.bon", kReceipt, 0.2);
  EXPECT_EQ(Ready(), QStringList{});
  FClock = FClock.addSecs(-3600);
  Advance(499);
  EXPECT_EQ(Ready(), QStringList{});
  Advance(1);
  EXPECT_EQ(Ready(), QStringList{"0001.bon"});
}

// A file sent again under a name that was printed before is a new file: it settles from
// when it is seen, not from what was seen of the earlier one.
TEST_F(TSharedFolder, ResentFileUnderAPrintedNameSettlesAfresh) {
  FReadyAgeMs = uPRNFileThread::ReadyAgeMs;
  Put("0001.bon", kReceipt, 60);
  EXPECT_EQ(Ready(), QStringList{});
  Advance(500);
  RunFileJob();
  ASSERT_EQ(Kind("0001.bon"), '-');
  Put("0001.bon", kReceipt + ":again\r\n", 30);
  RunFileJob();
  EXPECT_EQ(Kind("0001.bon"), 'f');
  EXPECT_EQ(CallCount("AddProgPlu"), 1);
  Advance(500);
  RunFileJob();
  EXPECT_EQ(Kind("0001.bon"), '-');
  EXPECT_EQ(CallCount("AddProgPlu"), 2);
}

// ---- A change of daylight-saving time ----

// The clocks of a shop in Sofia go back from 04:00 summer time to 03:00 on 25 October
// 2026 and ahead from 03:00 to 04:00 on 29 March 2026. The wall clock of these tests
// jumps by that hour at the change (as a PC clock kept in local time does) while the
// monotonic clock runs on: how long a file has waited is elapsed time, which the jump
// does not touch.
struct TClockChange {
  const char* Name;
  qint64 ChangeUtcSecs;  // the moment of the change
  int JumpSec;           // how the wall clock moves at it
};

void PrintTo(const TClockChange& c, std::ostream* os) { *os << c.Name; }

class TDaylightSaving : public TSharedFolder, public ::testing::WithParamInterface<TClockChange> {
 protected:
  void SetUp() override {
    TSharedFolder::SetUp();
    FClock = QDateTime::fromSecsSinceEpoch(GetParam().ChangeUtcSecs).addMSecs(-200);
  }
  // Time passes across the change: the wall clock jumps by the hour on the way.
  void PassTheChange(int ms) {
    Pass(ms);
    FClock = FClock.addSecs(GetParam().JumpSec);
  }
  // A tick of the window's timer: the runner's listing, and the file job it starts when a
  // file is ready (both by the watch they share).
  void Tick() {
    if (!Ready().isEmpty()) RunFileJob();
  }

  TScopedTimeZone FZone{kShopTimeZone};
};

// A receipt dropped just before the change is taken half a second after it was first
// seen, neither at once (the clock went ahead) nor later (it went back); one dropped after
// the change prints at the tick half a second after the timer's tick that saw it.
TEST_P(TDaylightSaving, ReceiptsSettleByElapsedTimeAcrossTheChange) {
  FReadyAgeMs = uPRNFileThread::ReadyAgeMs;
  Put("0001.bon", kReceipt, 0);
  Tick();
  PassTheChange(300);
  Tick();
  EXPECT_EQ(Kind("0001.bon"), 'f');  // quiet for 0.3 s only
  Pass(200);
  Tick();
  EXPECT_EQ(Kind("0001.bon"), '-');
  EXPECT_EQ(Kind("0001.rep"), 'f');

  Pass(5000);
  Put("0002.bon", kReceipt, 0);
  Tick();
  EXPECT_EQ(Kind("0002.bon"), 'f');
  Pass(500);
  Tick();
  EXPECT_EQ(Kind("0002.bon"), '-');
  EXPECT_EQ(Kind("0002.rep"), 'f');
  EXPECT_EQ(CallCount("AddProgPlu"), 2);
}

// A file whose claim was refused just before the change is tried again a minute later by
// elapsed time, not at once and not an hour later.
TEST_P(TDaylightSaving, RefusedClaimIsRetriedAfterAMinuteOfElapsedTime) {
  TFaultyFileOps ops;
  TScopedFileOps scoped(&ops);
  ops.FailAt(TFileOp::RenameNoReplace, 0, EPERM, Native(FOlder + "0001.bon\n"));
  Put("0001.bon", kReceipt, 60);
  RunFileJob();
  ASSERT_EQ(Kind("0001.bon"), 'f');
  ASSERT_THAT(NormalLog(), HasSubstr("Can't claim file, it waits"));
  PassTheChange(1000);
  EXPECT_EQ(Ready(), QStringList{});
  Pass(58999);
  EXPECT_EQ(Ready(), QStringList{});
  Pass(1);
  EXPECT_EQ(Ready(), QStringList{"0001.bon"});
}

INSTANTIATE_TEST_SUITE_P(Changes, TDaylightSaving,
                         ::testing::Values(TClockChange{"Autumn", 1792890000, -3600},
                                           TClockChange{"Spring", 1774746000, 3600}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- A file the program's user may not read ----

// A share that creates files 0600 for the point-of-sale program's user, or a file put with
// "install -m 600 -o pos": the file is never printed and no job is started for it; one
// line in the logs names the reason while it stays; the job goes on with the other files;
// the file is looked at again after the retry time, or at once when its status changes
// (the administrator's chmod or chgrp), and then prints.
enum class TUnreadable {
  Permissions,     // the file's own mode (a normal user only: root reads every file)
  OpenRefused,     // the opening of the file fails with EACCES (the seam)
  ClaimUnreadable  // the file can be opened, but its claim no longer (it changed between)
};

void PrintTo(TUnreadable c, std::ostream* os) {
  *os << (c == TUnreadable::Permissions   ? "Permissions"
          : c == TUnreadable::OpenRefused ? "OpenRefused"
                                          : "ClaimUnreadable");
}

class TUnreadableFile : public TSharedFolder, public ::testing::WithParamInterface<TUnreadable> {};

TEST_P(TUnreadableFile, WaitsWithOneLineAndPrintsOnceItCanBeRead) {
  if (GetParam() == TUnreadable::Permissions && ::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TFaultyFileOps ops;
  TScopedFileOps scoped(&ops);
  Put("0001.bon", kReceipt, 60);
  Put("0002.bon", kReceipt, 30);
  const std::string path = Native(FOlder + "0001.bon");
  switch (GetParam()) {
    // The test's own file without read permission stands for another user's 0600 file.
    case TUnreadable::Permissions: ASSERT_EQ(::chmod(path.c_str(), 0200), 0); break;
    case TUnreadable::OpenRefused: ops.FailAt(TFileOp::Open, 0, EACCES, path); break;
    case TUnreadable::ClaimUnreadable: ops.FailAt(TFileOp::Open, 0, EACCES, Native(FOlder + "0001.$$$")); break;
  }
  const std::string line = "Receipt file cannot be read: " + SysErrorText(EACCES) + "; it waits: \"" + path + "\"";
  for (int tick = 0; tick < 3; ++tick) {
    RunFileJob();
    Advance(1000);
  }
  EXPECT_EQ(Kind("0001.bon"), 'f');
  EXPECT_EQ(Kind("0001.rep"), '-');
  EXPECT_EQ(Kind("0002.rep"), 'f');
  EXPECT_EQ(CallCount("AddProgPlu"), 1);
  EXPECT_EQ(Occurrences(ExceptionLog(), line), 1) << ExceptionLog();
  EXPECT_EQ(Occurrences(NormalLog(), line), 1);
  EXPECT_EQ(ExceptionLog().find("Not a regular file"), std::string::npos) << ExceptionLog();
  EXPECT_EQ(ErrorEvents(), 0);
  // The window's tick starts no job for it, not even after the retry time while it stays.
  EXPECT_EQ(Ready(), QStringList{});
  Advance(static_cast<int>(uPRNFileThread::RefusedClaimRetryMs));
  if (GetParam() != TUnreadable::ClaimUnreadable) {
    EXPECT_EQ(Ready(), QStringList{});
    EXPECT_EQ(Occurrences(ExceptionLog(), line), 1);
  }

  // The administrator gives the file to the shared group.
  ops.Clear();
  ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
  EXPECT_EQ(Ready(), QStringList{"0001.bon"});
  RunFileJob();
  EXPECT_EQ(Kind("0001.bon"), '-');
  EXPECT_EQ(Kind("0001.rep"), 'f');
  EXPECT_EQ(CallCount("AddProgPlu"), 2);
}

INSTANTIATE_TEST_SUITE_P(Cases, TUnreadableFile,
                         ::testing::Values(TUnreadable::Permissions, TUnreadable::OpenRefused,
                                           TUnreadable::ClaimUnreadable),
                         [](const auto& info) {
                           switch (info.param) {
                             case TUnreadable::Permissions: return std::string("Permissions");
                             case TUnreadable::OpenRefused: return std::string("OpenRefused");
                             case TUnreadable::ClaimUnreadable: return std::string("ClaimUnreadable");
                           }
                           return std::string();
                         });

// ---- Names at the edges ----

struct TEdgeNameCase {
  const char* Name;
  std::vector<QString> Receipts;  // each sells one article
  QString LinkedClaim = {};       // a link to a receipt outside, planted under this claim name
};

void PrintTo(const TEdgeNameCase& c, std::ostream* os) { *os << c.Name; }

class TNameAtTheEdge : public TSharedFolder, public ::testing::WithParamInterface<TEdgeNameCase> {};

// Every receipt prints once with its report, in one job, and leaves neither its claim nor a
// temporary file; a link under a claim name is removed (its target untouched) with one line.
TEST_P(TNameAtTheEdge, PrintsWithItsReportAndLeavesNothingBehind) {
  const TEdgeNameCase& c = GetParam();
  const std::string outsideReceipt = "%13^Bread^120^1000\r\n";
  WriteOutside("receipt.txt", outsideReceipt);
  for (const QString& name : c.Receipts) Put(name, kReceipt, 60);
  if (!c.LinkedClaim.isEmpty()) Link(c.LinkedClaim, FOutside + "receipt.txt");

  RunFileJob();

  EXPECT_EQ(CallCount("AddProgPlu"), static_cast<int>(c.Receipts.size()));
  ExpectNothingOfTheOutsideReceipt();
  EXPECT_EQ(ReadOutside("receipt.txt"), outsideReceipt);
  for (const QString& name : c.Receipts) {
    EXPECT_EQ(Kind(name), '-') << name.toStdString();
    EXPECT_EQ(Kind(TReceiptFolder::ClaimName(name)), '-') << name.toStdString();
    EXPECT_THAT(Read(name.left(name.lastIndexOf('.')) + ".rep"), HasSubstr("Close\r\n")) << name.toStdString();
  }
  for (const QString& left :
       QDir(FOlder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
    EXPECT_TRUE(left.endsWith(".rep")) << left.toStdString();
  }
  if (!c.LinkedClaim.isEmpty()) {
    EXPECT_EQ(Occurrences(ExceptionLog(), (FOlder + c.LinkedClaim).toStdString()), 1) << ExceptionLog();
  }
  EXPECT_EQ(ErrorEvents(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Names, TNameAtTheEdge,
    ::testing::Values(
        // 255 bytes: the claim and report names fit, a temporary name made by adding to it would not.
        TEdgeNameCase{.Name = "AtTheLengthLimit", .Receipts = {QString(251, 'a') + ".bon"}},
        TEdgeNameCase{.Name = "CyrillicAtTheLengthLimit", .Receipts = {QString(125, QChar(0x0416)) + "x.bon"}},
        TEdgeNameCase{.Name = "TwoReceiptsShareTheClaimName", .Receipts = {"dup.bon", "dup.BON"}},
        TEdgeNameCase{.Name = "LinkUnderTheClaimName", .Receipts = {"p4.bon"}, .LinkedClaim = "p4.$$$"},
        // One name's trouble holds up no other receipt of the folder.
        TEdgeNameCase{.Name = "AllInOneFolder",
                      .Receipts = {QString(251, 'a') + ".bon", QString(125, QChar(0x0416)) + "x.bon", "dup.bon",
                                   "dup.BON", "p4.bon"},
                      .LinkedClaim = "p4.$$$"}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace fp::test
