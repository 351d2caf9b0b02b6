#include "library/automation/FileLogger.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fp::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::system_clock;

// A local wall-clock time, so the expected stamps hold in any time zone.
system_clock::time_point LocalTime(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return system_clock::from_time_t(std::mktime(&tm)) + std::chrono::milliseconds(ms);
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

void SetLastWrite(const fs::path& p, system_clock::time_point tp) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(tp.time_since_epoch()).count();
  timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(ns / 1000000000);
  times[0].tv_nsec = times[1].tv_nsec = static_cast<long>(ns % 1000000000);
  ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

std::set<std::string> FileNames(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// File operations whose measuring of an open file raises, as only a fault other than the
// file system's would.
class TThrowingOps : public TFaultyFileOps {
 public:
  int Fstat(int, struct stat*) override { throw std::runtime_error("boom"); }
};

class FileLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/fp_filelogger_XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    FDir = templ;
  }
  void TearDown() override { fs::remove_all(FDir); }

  // A logger as the front end makes it, on the fixture's clock.
  std::unique_ptr<TFileLogger> MakeLogger(IFileOps* ops = nullptr) {
    auto logger = std::make_unique<TFileLogger>(
        1, [this] { return FNow; }, ops);
    logger->FDirectory = FDir.string();
    logger->FBaseName = "MiravokFPAxX4_BG.so";
    logger->SetActive(true);
    return logger;
  }
  fs::path LogPath() const { return FDir / "MiravokFPAxX4_BG_Log.txt"; }

  fs::path FDir;
  system_clock::time_point FNow = LocalTime(2026, 12, 8, 22, 53, 12, 345);
};

TEST_F(FileLoggerTest, NamesTheLogAfterTheLibraryInsideTheFolder) {
  auto logger = MakeLogger();
  EXPECT_EQ(logger->FDirectory, FDir.string() + "/");
  EXPECT_EQ(logger->FLogFileName, LogPath().string());

  TFileLogger bare(1);
  bare.FDirectory = FDir.string() + "/";
  bare.FBaseName = "/opt/bin/ConstUnit_test";
  bare.SetActive(true);
  EXPECT_EQ(bare.FLogFileName, FDir.string() + "/ConstUnit_test_Log.txt");
}

TEST_F(FileLoggerTest, WritesTheExactLineForEachCase) {
  struct TCase {
    system_clock::time_point When;
    std::uint8_t Level;
    std::string Context, Message, Expected;
  };
  const auto early = LocalTime(2001, 2, 3, 4, 5, 6, 7);
  const TCase cases[] = {
      {FNow, 2, "", "text of the message", "08.12.26 22:53:12.345 [INFO]text of the message"},
      {FNow, 1, "", "w", "08.12.26 22:53:12.345 [WARNING]w"},
      {FNow, 0, "", "e", "08.12.26 22:53:12.345 [ERROR]e"},
      {FNow, 3, "", "odd level", "08.12.26 22:53:12.345 []odd level"},
      {early, 2, "", "padded", "03.02.01 04:05:06.007 [INFO]padded"},
      {FNow, 2, "Init", "started", "08.12.26 22:53:12.345 [INFO]Init. started"},
      {FNow, 2, "  ", "blank context", "08.12.26 22:53:12.345 [INFO]blank context"},
      {FNow, 2, "", "  one\r\ntwo \r\n", "08.12.26 22:53:12.345 [INFO]one\ttwo"},
      {FNow, 0, "", " \r\n ", "08.12.26 22:53:12.345 [ERROR]"},
      {FNow, 2, "", "\xCE\xEF\xE5\xF0\xE0\xF2\xEE\xF0", "08.12.26 22:53:12.345 [INFO]\xCE\xEF\xE5\xF0\xE0\xF2\xEE\xF0"},
  };
  for (const TCase& c : cases) {
    fs::remove(LogPath());
    FNow = c.When;
    auto logger = MakeLogger();
    switch (c.Level) {
      case 0: logger->LogContextError(c.Context, c.Message); break;
      case 1: logger->LogContextWarning(c.Context, c.Message); break;
      case 2: logger->LogContextInfo(c.Context, c.Message); break;
      default: logger->PostLine(logger->FLogFileName, c.Context, c.Message, c.Level); break;
    }
    EXPECT_EQ(ReadFile(LogPath()), c.Expected + "\r\n") << c.Message;
  }
}

TEST_F(FileLoggerTest, DisabledLoggerWritesNothing) {
  auto logger = MakeLogger();
  logger->SetActive(false);
  logger->LogInfo("nothing");
  EXPECT_FALSE(fs::exists(LogPath()));
}

TEST_F(FileLoggerTest, AppendsToAnExistingLogWithoutTruncating) {
  WriteFile(LogPath(), "earlier line\r\n");
  auto logger = MakeLogger();
  logger->LogInfo("a");
  logger->LogInfo("b");
  EXPECT_EQ(ReadFile(LogPath()), "earlier line\r\n08.12.26 22:53:12.345 [INFO]a\r\n08.12.26 22:53:12.345 [INFO]b\r\n");
}

// The line of LogInfo("x") with its CR LF; 601 blocks are 76,928 bytes.
const std::string kLineX = "08.12.26 22:53:12.345 [INFO]x\r\n";
const std::size_t kLineSize = kLineX.size();

TEST_F(FileLoggerTest, RotatesOnlyOnceTheLogPassesTheLimit) {
  const std::string msg = "x";
  // After the first line the log holds 76,927 bytes: 600 whole blocks, still in place.
  WriteFile(LogPath(), std::string(601 * 128 - 1 - kLineSize, '.'));
  auto logger = MakeLogger();
  logger->LogInfo(msg);
  EXPECT_EQ(fs::file_size(LogPath()), 601u * 128 - 1);
  EXPECT_EQ(FileNames(FDir).size(), 1u);

  // The second line takes it to 601 blocks: moved aside under the time-stamped name.
  logger->LogInfo(msg);
  const fs::path rotated = FDir / "MiravokFPAxX4_BG_Log_081226_225312.txt";
  EXPECT_FALSE(fs::exists(LogPath()));
  ASSERT_TRUE(fs::exists(rotated));
  EXPECT_EQ(fs::file_size(rotated), 601u * 128 - 1 + kLineSize);

  // The next line starts a new log.
  logger->LogInfo("fresh");
  EXPECT_EQ(ReadFile(LogPath()), "08.12.26 22:53:12.345 [INFO]fresh\r\n");
}

TEST_F(FileLoggerTest, RotationNeverOverwritesAnExistingFile) {
  const fs::path taken = FDir / "MiravokFPAxX4_BG_Log_081226_225312.txt";
  WriteFile(taken, "precious");
  auto logger = MakeLogger();
  logger->FMaxSize = 1;  // more than 128 bytes moves the log aside

  WriteFile(LogPath(), std::string(300, '1'));
  logger->LogInfo("first");
  WriteFile(LogPath(), std::string(300, '2'));
  logger->LogInfo("second");  // the same second: the next free name again

  EXPECT_EQ(ReadFile(taken), "precious");
  const fs::path first = FDir / "MiravokFPAxX4_BG_Log_081226_225312_1.txt";
  const fs::path second = FDir / "MiravokFPAxX4_BG_Log_081226_225312_2.txt";
  EXPECT_EQ(ReadFile(first), std::string(300, '1') + "08.12.26 22:53:12.345 [INFO]first\r\n");
  EXPECT_EQ(ReadFile(second), std::string(300, '2') + "08.12.26 22:53:12.345 [INFO]second\r\n");
  EXPECT_FALSE(fs::exists(LogPath()));
}

TEST_F(FileLoggerTest, NoRotationWhenMaxSizeIsZero) {
  auto logger = MakeLogger();
  logger->FMaxSize = 0;
  WriteFile(LogPath(), std::string(200000, '.'));
  logger->LogInfo("x");
  EXPECT_EQ(FileNames(FDir), std::set<std::string>{"MiravokFPAxX4_BG_Log.txt"});
}

TEST_F(FileLoggerTest, FileSystemFailuresLoseTheLineAndSkipTheRotation) {
  const std::string big(601 * 128, '.');  // already past the limit
  struct TCase {
    TFileOp Op;
    std::string Expected;  // the log after the failed line
  } const cases[] = {
      {TFileOp::Open, big},
      {TFileOp::Write, big},
      {TFileOp::Fstat, big + "08.12.26 22:53:12.345 [INFO]lost\r\n"},
  };
  for (const TCase& c : cases) {
    fs::remove_all(FDir);
    fs::create_directory(FDir);
    WriteFile(LogPath(), big);
    TFaultyFileOps ops;
    auto logger = MakeLogger(&ops);
    ops.FailAt(c.Op, 1);
    EXPECT_NO_THROW(logger->LogInfo("lost"));
    const int op = static_cast<int>(c.Op);
    EXPECT_EQ(ReadFile(LogPath()), c.Expected) << op;
    EXPECT_EQ(ops.Calls(TFileOp::Close), c.Op == TFileOp::Open ? 0 : 1) << op;
    EXPECT_EQ(ops.Calls(TFileOp::RenameNoReplace), 0) << op;

    // The next line goes through and rotates.
    logger->LogInfo("next");
    EXPECT_FALSE(fs::exists(LogPath())) << op;
    EXPECT_EQ(FileNames(FDir).size(), 1u) << op;
  }
}

// File operations whose writes take nothing (a full device that reports no error); after
// many such calls they fail, so a writer that keeps retrying ends instead of hanging.
class TZeroWriteOps : public TFaultyFileOps {
 public:
  ssize_t Write(int, const void*, size_t) override {
    if (++Writes > 1000) {
      errno = EIO;
      return -1;
    }
    return 0;
  }
  int Writes = 0;
};

TEST_F(FileLoggerTest, WriteThatTakesNothingLosesTheLineAtOnce) {
  WriteFile(LogPath(), "before\r\n");
  TZeroWriteOps ops;
  auto logger = MakeLogger(&ops);
  EXPECT_NO_THROW(logger->LogInfo("lost"));
  EXPECT_EQ(ops.Writes, 1);
  EXPECT_EQ(ops.Calls(TFileOp::Close), 1);
  EXPECT_EQ(ReadFile(LogPath()), "before\r\n");
}

TEST_F(FileLoggerTest, FailedRenameLeavesTheLogForTheNextLine) {
  TFaultyFileOps ops;
  auto logger = MakeLogger(&ops);
  ops.FailAt(TFileOp::RenameNoReplace, 1);
  logger->FMaxSize = 1;
  WriteFile(LogPath(), std::string(300, '.'));
  logger->LogInfo("a");
  EXPECT_TRUE(fs::exists(LogPath()));
  logger->LogInfo("b");
  EXPECT_FALSE(fs::exists(LogPath()));
  EXPECT_EQ(ReadFile(FDir / "MiravokFPAxX4_BG_Log_081226_225312.txt"),
            std::string(300, '.') + "08.12.26 22:53:12.345 [INFO]a\r\n08.12.26 22:53:12.345 [INFO]b\r\n");
}

TEST_F(FileLoggerTest, OtherFailuresRaiseWithTheLogMessageAndCloseTheFile) {
  TThrowingOps ops;
  auto logger = MakeLogger(&ops);
  ops.Clear();
  try {
    logger->LogInfo("x");
    FAIL() << "no exception";
  } catch (const EAbort& e) {
    EXPECT_STREQ(e.what(), "Fail post log to file: boom");
  }
  EXPECT_EQ(ops.Calls(TFileOp::Open), 1);
  EXPECT_EQ(ops.Calls(TFileOp::Close), 1);
}

TEST_F(FileLoggerTest, RemovesOnlyItsOwnOldFiles) {
  const auto old = FNow - std::chrono::hours(24 * 30) - std::chrono::minutes(1);
  const auto recent = FNow - std::chrono::hours(24 * 30) + std::chrono::minutes(1);
  struct TFile {
    std::string Name;
    system_clock::time_point LastWrite;
    bool Removed;
  } const files[] = {
      {"MiravokFPAxX4_BG_Log.txt", old, true},
      {"MiravokFPAxX4_BG_Log_010126_101010.txt", old, true},
      {"MiravokFPAxX4_BG_Log_010126_101010_3.txt", old, true},
      {"MiravokFPAxX4_BG_Log_081126_225313.txt", recent, false},
      {"orders.txt", old, false},
      {"MiravokFPAxX4_BG_Log_notes.txt", old, false},
      {"MiravokFPAxX4_BG_Log_010126_1010.txt", old, false},
      {"MiravokFPAxX4_BG_Log_010126_101010_x.txt", old, false},
      {"OtherLib_Log_010126_101010.txt", old, false},
      {"MiravokFPAxX4_BG_Log_010126_101010.TXT", old, false},
  };
  for (const TFile& f : files) {
    WriteFile(FDir / f.Name, "x");
    SetLastWrite(FDir / f.Name, f.LastWrite);
  }
  {
    auto logger = MakeLogger();  // SetActive removes old files
    for (const TFile& f : files) EXPECT_EQ(fs::exists(FDir / f.Name), !f.Removed) << f.Name;

    // The destructor removes once more, with FKeepDays 0 read as 30.
    WriteFile(FDir / "MiravokFPAxX4_BG_Log_020226_000000.txt", "x");
    SetLastWrite(FDir / "MiravokFPAxX4_BG_Log_020226_000000.txt", old);
    logger->FKeepDays = 0;
  }
  EXPECT_FALSE(fs::exists(FDir / "MiravokFPAxX4_BG_Log_020226_000000.txt"));
  EXPECT_TRUE(fs::exists(FDir / "MiravokFPAxX4_BG_Log_081126_225313.txt"));
  EXPECT_TRUE(fs::exists(FDir / "orders.txt"));
}

TEST_F(FileLoggerTest, RemovalWithoutAFolderDoesNothing) {
  TFileLogger logger(1, [this] { return FNow; });
  logger.FDirectory = (FDir / "missing").string();
  logger.FBaseName = "MiravokFPAxX4_BG.so";
  EXPECT_NO_THROW(logger.SetActive(true));
  logger.LogInfo("lost");  // the folder is not created by the logger itself
  EXPECT_FALSE(fs::exists(FDir / "missing"));
}

TEST(FileLoggerText, TrimAndNamePart) {
  EXPECT_EQ(LogTrim(" \t\r\n a b \x01\x20"), "a b");
  // Code page 1251 letters are above 0x20 and stay.
  EXPECT_EQ(LogTrim("\xCE\xEF \xA0"), "\xCE\xEF \xA0");
  EXPECT_EQ(LogNamePart("/a/b/MiravokFPAxX4_BG.so"), "MiravokFPAxX4_BG.so");
  EXPECT_EQ(LogNamePart("name"), "name");
}

}  // namespace
}  // namespace fp::test
