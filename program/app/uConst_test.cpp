#include "program/app/uConst.h"
#include "program/app/uProgramInfo.h"
#include "program/app/uProgramLog.h"
#include "program/receipts/uFolderWatch.h"

#include <time.h>

#include <gtest/gtest.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/Cp1251.h"
#include "platform/FileOps.h"

namespace fp {
namespace {

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& data) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(data);
}

void SetMTime(const QString& path, const QDateTime& local) {
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(local.toSecsSinceEpoch());
  times[0].tv_nsec = times[1].tv_nsec = 0;
  ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

const QDateTime kNow(QDate(2024, 3, 5), QTime(7, 8, 9, 45));

class WriteLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.isValid());
    logDir_ = tmp_.path() + "/Log/";
  }
  // A line written with the test's clock.
  void Write(const QString& folder, const QString& message, bool exceptionLog) {
    uProgramLog::WriteLog(folder, message, exceptionLog, [this] { return now_; });
  }

  QString Normal() const { return logDir_ + uProgramLog::NormalLogName; }
  QString Exception() const { return logDir_ + uProgramLog::ExceptionLogName; }

  QTemporaryDir tmp_;
  QString logDir_;
  QDateTime now_ = kNow;
};

TEST_F(WriteLogTest, WritesTimeStampedLineInCodePage1251) {
  Write(logDir_, QString::fromUtf8("[Test]\xD0\x9F\xD1\x80\xD0\xB8"), false);
  Write(logDir_, "second", false);
  EXPECT_EQ(ReadAll(Normal()),
            QByteArray("05.03.24 07:08:09:045 - [Test]\xCF\xF0\xE8\r\n05.03.24 07:08:09:045 - second\r\n"));
  EXPECT_FALSE(QFile::exists(Exception()));
  Write(logDir_, "exc", true);
  EXPECT_EQ(ReadAll(Exception()), QByteArray("05.03.24 07:08:09:045 - exc\r\n"));
}

TEST_F(WriteLogTest, EmptyFolderWritesNothingAndReleasesTheLock) {
  Write("", "lost", false);
  auto other = std::async(std::launch::async, [this] { Write(logDir_, "other thread", false); });
  ASSERT_EQ(other.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_TRUE(ReadAll(Normal()).endsWith("other thread\r\n"));
}

TEST_F(WriteLogTest, MissingParentRaisesAndReleasesTheLock) {
  const QString deep = tmp_.path() + "/no/Log/";
  try {
    Write(deep, "x", false);
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Can not create \"Log\" directory.");
  }
  auto other = std::async(std::launch::async, [this] { Write(logDir_, "after", false); });
  ASSERT_EQ(other.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_FALSE(QDir(tmp_.path() + "/no").exists());
}

TEST_F(WriteLogTest, RotatesAtTheLimitOnly) {
  QDir().mkpath(logDir_);
  WriteAll(Normal(), QByteArray(64127, 'a'));
  Write(logDir_, "below", false);
  EXPECT_TRUE(ReadAll(Normal()).endsWith("below\r\n"));
  EXPECT_EQ(QDir(logDir_).entryList(QDir::Files).size(), 1);

  const QByteArray full(64128, 'b');
  WriteAll(Normal(), full);
  Write(logDir_, "fresh", false);
  EXPECT_EQ(ReadAll(logDir_ + "Log_05-03-24_07-08-09.txt"), full);
  EXPECT_EQ(ReadAll(Normal()), QByteArray("05.03.24 07:08:09:045 - fresh\r\n"));
  EXPECT_FALSE(QFile::exists(Exception()));
}

TEST_F(WriteLogTest, ExceptionLogRotatesAlone) {
  QDir().mkpath(logDir_);
  WriteAll(Normal(), QByteArray(70000, 'n'));
  WriteAll(Exception(), QByteArray(70000, 'e'));
  Write(logDir_, "exc", true);
  EXPECT_EQ(ReadAll(logDir_ + "Exc_05-03-24_07-08-09.txt").size(), 70000);
  EXPECT_EQ(ReadAll(Exception()), QByteArray("05.03.24 07:08:09:045 - exc\r\n"));
  EXPECT_EQ(ReadAll(Normal()), QByteArray(70000, 'n'));
  EXPECT_FALSE(QFile::exists(logDir_ + "Log_05-03-24_07-08-09.txt"));
}

TEST_F(WriteLogTest, RotationNeverOverwritesAnEarlierOne) {
  QDir().mkpath(logDir_);
  const QString rotated = logDir_ + "Log_05-03-24_07-08-09.txt";
  WriteAll(rotated, "first rotation");
  WriteAll(Normal(), QByteArray(64128, 'c'));
  Write(logDir_, "lost", false);
  EXPECT_EQ(ReadAll(rotated), QByteArray("first rotation"));
  EXPECT_EQ(ReadAll(Normal()), QByteArray(64128, 'c'));
  // A second later the rotation succeeds.
  now_ = kNow.addSecs(1);
  Write(logDir_, "kept", false);
  EXPECT_EQ(ReadAll(logDir_ + "Log_05-03-24_07-08-10.txt").size(), 64128);
  EXPECT_TRUE(ReadAll(Normal()).endsWith("kept\r\n"));
}

TEST_F(WriteLogTest, LogThatCannotBeOpenedLosesTheLineSilently) {
  TFaultyFileOps faulty;
  TScopedFileOps scope(&faulty);
  faulty.FailAt(TFileOp::Open, 0, EACCES, uProgramLog::NormalLogName);
  EXPECT_NO_THROW(Write(logDir_, "lost", false));
  EXPECT_FALSE(QFile::exists(Normal()));
  faulty.Clear();
  Write(logDir_, "next", false);
  EXPECT_EQ(ReadAll(Normal()), QByteArray("05.03.24 07:08:09:045 - next\r\n"));
}

// The listing as lines "DOS date-time TAB name", oldest first.
void SelectBonFiles(const QString& folder, QStringList& list) {
  list.clear();
  for (const TListedFile& f : TFolderWatch::ListWaiting(folder, uConst::BonFileExt()))
    list.append(QString::number(static_cast<int32_t>(f.DosTime)) + QLatin1Char('\t') + f.Name);
}

class SelectBonFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.isValid());
    dir_ = tmp_.path() + "/";
    uConst::SetBonFileExt("bon");
  }
  void Make(const QString& name, const QDateTime& when, const QByteArray& data = "#S\r\n") {
    WriteAll(dir_ + name, data);
    SetMTime(dir_ + name, when);
  }
  static QString Line(const QDateTime& when, const QString& name) {
    return QString::number(static_cast<int32_t>(DosDateTime(when))) + "\t" + name;
  }
  QTemporaryDir tmp_;
  QString dir_;
};

TEST_F(SelectBonFilesTest, ListsWaitingFilesOldestFirst) {
  const QDateTime older(QDate(2019, 6, 1), QTime(12, 0, 0));
  const QDateTime same(QDate(2020, 1, 1), QTime(10, 0, 0));
  const QDateTime newer(QDate(2021, 2, 3), QTime(4, 5, 6));
  Make("a.bon", newer);
  Make("z.bon", older);
  Make("m2.bon", same);
  Make("M1.BON", same.addSecs(1));  // the same 2-second step of the stamp, a second later
  Make("empty.bon", older, "");
  Make("note.txt", older);
  Make("x.bonus", older);
  QDir().mkdir(dir_ + "sub.bon");
  WriteAll(dir_ + "sub.bon/in.bon", "x");
  QStringList list{"stale line"};
  SelectBonFiles(tmp_.path(), list);
  EXPECT_EQ(list, (QStringList{Line(older, "z.bon"), Line(same, "m2.bon"), Line(same, "M1.BON"), Line(newer, "a.bon")}));
  EXPECT_TRUE(QFile::exists(dir_ + "empty.bon"));
  // One moment: by name.
  Make("M1.BON", same);
  SelectBonFiles(tmp_.path(), list);
  EXPECT_EQ(list, (QStringList{Line(older, "z.bon"), Line(same, "M1.BON"), Line(same, "m2.bon"), Line(newer, "a.bon")}));
}

// When the clocks go back an hour (the last Sunday of October in Sofia), a file written at
// 03:30 summer time is older than one written at 03:10 winter time twenty minutes later.
TEST_F(SelectBonFilesTest, OldestFirstByTheTrueTimeWhenTheClocksGoBack) {
  const QByteArray oldTz = qgetenv("TZ");
  qputenv("TZ", "Europe/Sofia");
  ::tzset();
  const QDateTime summer =
      QDateTime::fromSecsSinceEpoch(QDate(2025, 10, 26).startOfDay(QTimeZone::utc()).addSecs(30 * 60).toSecsSinceEpoch());
  const QDateTime winter = summer.addSecs(40 * 60);
  EXPECT_GT(summer.time(), winter.time());  // 03:30 and 03:10 local time
  Make("first.bon", summer);
  Make("second.bon", winter);
  QStringList list;
  SelectBonFiles(dir_, list);
  if (oldTz.isNull())
    qunsetenv("TZ");
  else
    qputenv("TZ", oldTz);
  ::tzset();
  ASSERT_EQ(list.size(), 2);
  EXPECT_TRUE(list[0].endsWith("\tfirst.bon")) << list.join(' ').toStdString();
  EXPECT_TRUE(list[1].endsWith("\tsecond.bon"));
}

TEST_F(SelectBonFilesTest, OldestFirstOutsideTheTenDigitYears) {
  // 2005 has a nine-digit stamp and 2050 a negative one; text order would misplace both.
  const QDateTime y2005(QDate(2005, 5, 5), QTime(5, 5, 4));
  const QDateTime y2020(QDate(2020, 5, 5), QTime(5, 5, 4));
  const QDateTime y2050(QDate(2050, 5, 5), QTime(5, 5, 4));
  Make("c.bon", y2005);
  Make("a.bon", y2050);
  Make("b.bon", y2020);
  QStringList list;
  SelectBonFiles(dir_, list);
  ASSERT_EQ(list.size(), 3);
  EXPECT_EQ(list, (QStringList{Line(y2005, "c.bon"), Line(y2020, "b.bon"), Line(y2050, "a.bon")}));
  EXPECT_TRUE(list[2].startsWith("-"));
}

TEST_F(SelectBonFilesTest, DosDateTimeAndOtherExtensions) {
  EXPECT_EQ(DosDateTime(QDateTime(QDate(2020, 1, 1), QTime(10, 0, 3))),
            ((40u << 9 | 1u << 5 | 1u) << 16) | (10u << 11) | 1u);
  uConst::SetBonFileExt("inp");
  Make("a.bon", QDateTime::currentDateTime());
  Make("b.INP", QDateTime::currentDateTime());
  QStringList list;
  SelectBonFiles(dir_, list);
  ASSERT_EQ(list.size(), 1);
  EXPECT_TRUE(list[0].endsWith("\tb.INP"));
  SelectBonFiles(dir_ + "missing/", list);
  EXPECT_TRUE(list.isEmpty());
}

// The code page 1251 byte of a character of another code page, 0 when code page 1251
// lacks it, as iconv sees it.
uint8_t ExpectedByIconv(const char* codePage, uint8_t byte) {
  iconv_t cd = iconv_open("UTF-16LE", codePage);
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  char in = static_cast<char>(byte);
  char16_t out[4] = {};
  char* pin = &in;
  char* pout = reinterpret_cast<char*>(out);
  size_t inLeft = 1, outLeft = sizeof out;
  size_t r = iconv(cd, &pin, &inLeft, &pout, &outLeft);
  iconv_close(cd);
  EXPECT_NE(r, static_cast<size_t>(-1));
  std::string c = WideToCp1251(std::u16string(out, 1));
  return c == "?" ? 0 : static_cast<uint8_t>(c[0]);
}

TEST(ConvertCharEncodingTest, TablesAgreeWithIconv) {
  int unmapped855 = 0;
  for (int b = 0x80; b <= 0xFF; ++b) {
    const std::string in(1, static_cast<char>(b));
    const auto got855 = static_cast<uint8_t>(ConvertCharEncoding(in, EncodingCP855)[0]);
    EXPECT_EQ(got855, ExpectedByIconv("CP855", static_cast<uint8_t>(b))) << "CP855 byte " << b;
    unmapped855 += got855 == 0;
    const auto got866 = static_cast<uint8_t>(ConvertCharEncoding(in, EncodingOEM)[0]);
    EXPECT_EQ(got866, ExpectedByIconv("CP866", static_cast<uint8_t>(b))) << "CP866 byte " << b;
  }
  EXPECT_EQ(unmapped855, 29);
}

TEST(ConvertCharEncodingTest, Lines) {
  const std::string ascii = "#S1^Item 1^2.50\t;";
  for (uint8_t code : {0, 1, 2, 3, 255}) EXPECT_EQ(ConvertCharEncoding(ascii, code), ascii);
  const std::string cp855 = "\x80\x81\x82\xB3\xA1\xA0z";
  EXPECT_EQ(ConvertCharEncoding(cp855, EncodingCP855), std::string("\x90\x80\x83\x00\xC0\xE0z", 7));
  EXPECT_EQ(ConvertCharEncoding(cp855, 3), cp855);
  EXPECT_EQ(OemToAnsiStr("\x8F\xE0\xA8\xA2\xA5\xF2"), "\xCF\xF0\xE8\xE2\xE5\xAA");
}

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

TEST(GlobalsTest, ReadersGetWholeValues) {
  const QString a(500, 'a'), b(700, 'b');
  uConst::SetCashierPas(a);
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!stop) {
      QString v = uConst::CashierPas();
      if (v != a && v != b) ++bad;
      auto pairs = uConst::PayTypePairs();
      if (!pairs.empty() && pairs.size() != 3) ++bad;
    }
  });
  for (int i = 0; i < 2000; ++i) {
    uConst::SetCashierPas(i % 2 ? a : b);
    uConst::SetPayTypePairs({{1, 2}, {3, 4}, {5, 6}});
  }
  stop = true;
  reader.join();
  EXPECT_EQ(bad, 0);
  uConst::SetCashierPas("");
  uConst::SetPayTypePairs({});
}

TEST(GetFileVersionTest, FourDottedNumbers) {
  EXPECT_EQ(uProgramInfo::GetFileVersion(), QString(FP_PROGRAM_VERSION));
  EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d+\\.\\d+\\.\\d+$").match(uProgramInfo::GetFileVersion()).hasMatch());
}

}  // namespace
}  // namespace fp
