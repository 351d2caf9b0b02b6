#include "library/automation/ConstUnit.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <latch>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fp::test {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2)
    lines.push_back(text.substr(start, pos - start));
  EXPECT_EQ(start, text.size()) << "text after the last CR LF";
  return lines;
}

class LogToFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLogToFile();
    SetLogToFileBaseName("MiravokFPAxX4_BG.so");
    SetLogToFileClock({});
    char templ[] = "/tmp/fp_logtofile_XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    FDir = templ;
  }
  void TearDown() override {
    ResetLogToFile();
    SetLogToFileBaseName("");
    fs::remove_all(FDir);
  }
  fs::path FDir;
};

TEST_F(LogToFileTest, AllLinesGoToTheFolderOfTheFirstCall) {
  const fs::path first = FDir / "first";  // missing: created on the first call
  fs::create_directory(FDir / "second");
  LogToFile("one", first.string() + "/", 2);
  LogToFile("two", (FDir / "second").string() + "/", 0);
  LogToFile("three", "", 1);

  EXPECT_EQ(CurrentLogFileName(), (first / "MiravokFPAxX4_BG_Log.txt").string());
  const auto lines = Lines(ReadFile(first / "MiravokFPAxX4_BG_Log.txt"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_THAT(lines[0], ::testing::EndsWith(" [INFO]one"));
  EXPECT_THAT(lines[1], ::testing::EndsWith(" [ERROR]two"));
  EXPECT_THAT(lines[2], ::testing::EndsWith(" [WARNING]three"));
  EXPECT_TRUE(fs::is_empty(FDir / "second"));
}

TEST_F(LogToFileTest, WritesTheTimeStampOfItsClock) {
  std::tm tm{};
  tm.tm_year = 126, tm.tm_mon = 11, tm.tm_mday = 8, tm.tm_hour = 22, tm.tm_min = 53, tm.tm_sec = 12, tm.tm_isdst = -1;
  const auto when = std::chrono::system_clock::from_time_t(std::mktime(&tm)) + std::chrono::milliseconds(345);
  SetLogToFileClock([when] { return when; });
  LogToFile("StartBon. BonType=2", FDir.string() + "/", 2);
  EXPECT_EQ(ReadFile(FDir / "MiravokFPAxX4_BG_Log.txt"), "08.12.26 22:53:12.345 [INFO]StartBon. BonType=2\r\n");
}

TEST_F(LogToFileTest, OtherLevelWritesNothingButSetsTheWriterUp) {
  const fs::path dir = FDir / "logs";
  fs::create_directory(dir);
  const fs::path old = dir / "MiravokFPAxX4_BG_Log_010120_000000.txt";
  std::ofstream(old) << "x";
  const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};  // in 2001
  ASSERT_EQ(::utimensat(AT_FDCWD, old.c_str(), times, 0), 0);

  LogToFile("not written", dir.string() + "/", 3);
  EXPECT_EQ(CurrentLogFileName(), (dir / "MiravokFPAxX4_BG_Log.txt").string());
  EXPECT_TRUE(fs::is_empty(dir));  // the old log is gone, nothing new written
}

TEST_F(LogToFileTest, NamesTheLogAfterTheModuleThatHoldsTheCode) {
  SetLogToFileBaseName("");
  const std::string module = LibraryModuleFileName();
  EXPECT_EQ(fs::path(module).filename(), "ConstUnit_test");
  LogToFile("x", FDir.string() + "/", 2);
  EXPECT_EQ(CurrentLogFileName(), (FDir / "ConstUnit_test_Log.txt").string());
  EXPECT_TRUE(fs::exists(FDir / "ConstUnit_test_Log.txt"));
}

TEST_F(LogToFileTest, FolderThatCannotBeCreatedLosesTheLinesQuietly) {
  const fs::path dir = FDir / "a" / "b";  // only one level is created
  EXPECT_NO_THROW(LogToFile("lost", dir.string() + "/", 2));
  EXPECT_NO_THROW(LogToFile("lost too", FDir.string() + "/", 2));
  EXPECT_FALSE(fs::exists(FDir / "a"));
  EXPECT_FALSE(fs::exists(FDir / "MiravokFPAxX4_BG_Log.txt"));
}

// All threads start at once, so they also race for creating the single writer.
void LogFromThreads(const std::string& folder, int threadCount, int lineCount, const std::string& payload) {
  std::latch start(threadCount);
  std::vector<std::thread> threads;
  for (int t = 0; t < threadCount; ++t)
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < lineCount; ++i)
        LogToFile("thread " + std::to_string(t) + " line " + std::to_string(i) + " " + payload, folder, 2);
    });
  for (auto& th : threads) th.join();
}

TEST_F(LogToFileTest, ThreadsLoggingAtOnceKeepWholeLines) {
  constexpr int kThreads = 8;
  constexpr int kLines = 300;  // enough to move the log aside a few times
  const std::string payload(120, 'p');
  LogFromThreads(FDir.string() + "/", kThreads, kLines, payload);

  const std::regex line(R"(\d\d\.\d\d\.\d\d \d\d:\d\d:\d\d\.\d{3} \[INFO\]thread (\d) line (\d+) p{120})");
  std::vector<std::set<int>> seen(kThreads);
  for (const auto& entry : fs::directory_iterator(FDir)) {
    for (const std::string& l : Lines(ReadFile(entry.path()))) {
      std::smatch m;
      ASSERT_TRUE(std::regex_match(l, m, line)) << l;
      seen[std::stoi(m[1])].insert(std::stoi(m[2]));
    }
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[t].size(), static_cast<std::size_t>(kLines));
}

TEST_F(LogToFileTest, ThreadsRacingForTheFirstLineMakeOneWriter) {
  for (int round = 0; round < 20; ++round) {
    ResetLogToFile();
    fs::remove(FDir / "MiravokFPAxX4_BG_Log.txt");
    LogFromThreads(FDir.string() + "/", 8, 2, "");
    EXPECT_EQ(Lines(ReadFile(FDir / "MiravokFPAxX4_BG_Log.txt")).size(), 16u);
  }
}

}  // namespace
}  // namespace fp::test
