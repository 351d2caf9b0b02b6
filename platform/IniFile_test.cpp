#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/FileOps.h"

namespace fp::test {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("ini_test_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FDir);
    fs::create_directories(FDir);
    FPath = (FDir / "test.ini").string();
  }
  void TearDown() override { fs::remove_all(FDir); }

  void Put(const std::string& content) { std::ofstream(FPath, std::ios::binary) << content; }
  std::string Get() const {
    std::ifstream in(FPath, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  size_t FileCount() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(FDir), fs::directory_iterator()));
  }

  fs::path FDir;
  std::string FPath;
};

struct ReadCase {
  const char* what;
  const char* file;
  const char* section;
  const char* key;
  const char* expected;
};

TEST_F(IniFileTest, ReadsValuesLikeTheProfileFunctions) {
  const ReadCase cases[] = {
      {"plain", "[S]\r\nK=v\r\n", "S", "K", "v"},
      {"names trimmed and case-insensitive", "  [ sEc ]  \r\n  kEy  =  v a  \r\n", "SEC", "KEY", "v a"},
      {"LF-only line ends", "[S]\nA=1\nK=v\n", "S", "K", "v"},
      {"first = splits", "[S]\r\nK=a=b\r\n", "S", "K", "a=b"},
      {"double quotes removed once", "[S]\r\nK=\"  q  \"\r\n", "S", "K", "  q  "},
      {"single quotes removed", "[S]\r\nK='x'\r\n", "S", "K", "x"},
      {"only one pair of quotes", "[S]\r\nK=\"\"x\"\"\r\n", "S", "K", "\"x\""},
      {"unmatched quote kept", "[S]\r\nK=\"x\r\n", "S", "K", "\"x"},
      {"semicolon inside a value", "[S]\r\nK=a ; b;c\r\n", "S", "K", "a ; b;c"},
      {"present but empty", "[S]\r\nK=\r\n", "S", "K", ""},
      {"absent key", "[S]\r\nX=1\r\n", "S", "K", "<default>"},
      {"absent section", "[T]\r\nK=1\r\n", "S", "K", "<default>"},
      {"comment line is no key", "[S]\r\n;K=1\r\n", "S", "K", "<default>"},
      {"key before first section is no key", "K=1\r\n[S]\r\n", "S", "K", "<default>"},
      {"key of another section", "[S]\r\n[T]\r\nK=1\r\n", "S", "K", "<default>"},
      {"duplicate key: first wins", "[S]\r\nK=first\r\nK=second\r\n", "S", "K", "first"},
      {"duplicate section: first wins", "[S]\r\nK=first\r\n[S]\r\nK=second\r\n", "S", "K", "first"},
      {"duplicate section: only the first is searched", "[S]\r\nA=1\r\n[S]\r\nK=second\r\n", "S", "K", "<default>"},
      {"code page 1251 on disk", "[S]\r\nK=\xC8\xEC\xE5\r\n", "S", "K", "\xD0\x98\xD0\xBC\xD0\xB5"},
      {"Cyrillic key name", "[S]\r\n\xC8\xEC\xE5=1\r\n", "S", "\xD0\x98\xD0\xBC\xD0\xB5", "1"},
  };
  for (const auto& c : cases) {
    Put(c.file);
    EXPECT_EQ(TIniFile(FPath).ReadString(c.section, c.key, "<default>"), c.expected) << c.what;
  }
}

// Many writes as one rewrite: the file changes only at the end, reads in between see the
// writes, and a cancelled update leaves the file as it was.
TEST_F(IniFileTest, UpdateWritesEverythingInOneRewrite) {
  Put("[A]\r\nx=1\r\n");
  TIniFile ini(FPath);
  ini.BeginUpdate();
  ini.WriteInteger("A", "x", 2);
  ini.WriteString("B", "y", "z");
  ini.EraseSection("C");
  EXPECT_EQ(ini.ReadInteger("A", "x", 0), 2);
  EXPECT_TRUE(ini.SectionExists("B"));
  EXPECT_EQ(Get(), "[A]\r\nx=1\r\n");
  ini.EndUpdate();
  EXPECT_EQ(Get(), "[A]\r\nx=2\r\n[B]\r\ny=z\r\n");
  ini.BeginUpdate();
  ini.WriteInteger("A", "x", 3);
  ini.CancelUpdate();
  EXPECT_EQ(Get(), "[A]\r\nx=2\r\n[B]\r\ny=z\r\n");
  EXPECT_EQ(ini.ReadInteger("A", "x", 0), 2);
}

TEST_F(IniFileTest, MissingFileGivesDefaults) {
  TIniFile ini(FPath);
  EXPECT_EQ(ini.ReadString("S", "K", "d"), "d");
  EXPECT_EQ(ini.ReadInteger("S", "K", 7), 7);
  EXPECT_FALSE(ini.SectionExists("S"));
  EXPECT_FALSE(fs::exists(FPath));
}

TEST_F(IniFileTest, ValueIsCutAt2047Characters) {
  Put("[S]\r\nK=" + std::string(3000, 'a') + "\r\n");
  EXPECT_EQ(TIniFile(FPath).ReadString("S", "K", ""), std::string(2047, 'a'));
}

TEST_F(IniFileTest, IntegersAndBooleans) {
  struct {
    const char* value;
    int32_t expected;
  } cases[] = {
      {"12", 12},
      {" 12 ", 12},
      {"-5", -5},
      {"+5", 5},
      {"0x1F", 31},
      {"0X1f", 31},
      {"0xFFFFFFFF", -1},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"12abc", -99},
      {"abc", -99},
      {"", -99},
      {"0x", -99},
      {"0x1G", -99},
      {"1 2", -99},
      {"2147483648", -99},
      {"0x100000000", -99},
      {"1.5", -99},
      {"-", -99},
  };
  for (const auto& c : cases) {
    Put(std::string("[S]\r\nK=") + c.value + "\r\n");
    EXPECT_EQ(TIniFile(FPath).ReadInteger("S", "K", -99), c.expected) << "'" << c.value << "'";
  }
  struct {
    const char* value;
    bool def;
    bool expected;
  } bools[] = {{.value = "1", .def = false, .expected = true},    {.value = "0", .def = true, .expected = false},
               {.value = "2", .def = false, .expected = true},    {.value = "-1", .def = false, .expected = true},
               {.value = "yes", .def = true, .expected = true},   {.value = "yes", .def = false, .expected = false},
               {.value = "true", .def = false, .expected = false}};
  for (const auto& b : bools) {
    Put(std::string("[S]\r\nB=") + b.value + "\r\n");
    EXPECT_EQ(TIniFile(FPath).ReadBool("S", "B", b.def), b.expected) << b.value;
  }
}

TEST_F(IniFileTest, WritesNewFileSectionsAndKeysInWindowsOrder) {
  TIniFile ini(FPath);
  ini.WriteString("B", "K1", "1");
  ini.WriteString("A", "K1", "2");
  ini.WriteString("B", "K2", "3");
  ini.WriteInteger("A", "K2", -4);
  ini.WriteBool("A", "K3", true);
  ini.WriteBool("A", "K4", false);
  EXPECT_EQ(Get(), "[B]\r\nK1=1\r\nK2=3\r\n[A]\r\nK1=2\r\nK2=-4\r\nK3=1\r\nK4=0\r\n");
}

TEST_F(IniFileTest, RewriteKeepsUnknownLinesAndReplacesInPlace) {
  Put("top line\r\n; comment\r\n[S]\r\nnot a key\r\nK = old \r\n; inner\r\nX=1\r\n\r\n[T]\r\nY=2\r\n");
  TIniFile ini(FPath);
  ini.WriteString("s", "k", "new");
  ini.WriteString("S", "Z", "3");
  ini.WriteString("T", "Y", "4");
  EXPECT_EQ(Get(), "top line\r\n; comment\r\n[S]\r\nnot a key\r\nk=new\r\n; inner\r\nX=1\r\nZ=3\r\n\r\n[T]\r\nY=4\r\n");
}

TEST_F(IniFileTest, WritesCodePage1251AndNeverCrOrLf) {
  TIniFile ini(FPath);
  ini.WriteString("S", "K", "\xD0\x98\xD0\xBC\xD0\xB5\r\nnext\rline\n");
  EXPECT_EQ(Get(), "[S]\r\nK=\xC8\xEC\xE5nextline\r\n");
  EXPECT_EQ(ini.ReadString("S", "K", ""), "\xD0\x98\xD0\xBC\xD0\xB5nextline");
}

TEST_F(IniFileTest, ExistenceTests) {
  Put("[S]\r\nEmpty=\r\n[Bare]\r\n");
  TIniFile ini(FPath);
  EXPECT_TRUE(ini.ValueExists("S", "empty"));
  EXPECT_FALSE(ini.ValueExists("S", "Other"));
  EXPECT_FALSE(ini.ValueExists("Bare", "Empty"));
  EXPECT_TRUE(ini.SectionExists("bare"));
  EXPECT_FALSE(ini.SectionExists("None"));
}

TEST_F(IniFileTest, EraseSectionRemovesEverySectionOfThatName) {
  Put("lead\r\n[S]\r\nA=1\r\n; c\r\n[T]\r\nB=2\r\n[s]\r\nC=3\r\n");
  TIniFile ini(FPath);
  ini.EraseSection("S");
  EXPECT_EQ(Get(), "lead\r\n[T]\r\nB=2\r\n");
  ini.EraseSection("Missing");
  EXPECT_EQ(Get(), "lead\r\n[T]\r\nB=2\r\n");
}

TEST_F(IniFileTest, ReaderNeverSeesAHalfWrittenFile) {
  TIniFile ini(FPath);
  for (int i = 0; i < 40; ++i) ini.WriteString("S", "K" + std::to_string(i), std::string(200, 'x'));
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0}, reads{0};
  std::thread reader([&] {
    TIniFile r(FPath);
    while (!stop) {
      // The last key is always there and the marker is one of the written values.
      if (r.ReadString("S", "K39", "") != std::string(200, 'x')) ++bad;
      std::string m = r.ReadString("S", "Marker", "none");
      if (m != "none" && m.size() != 3) ++bad;
      ++reads;
    }
  });
  for (int i = 100; i < 160; ++i) ini.WriteString("S", "Marker", std::to_string(i));
  while (reads < 20) std::this_thread::yield();
  stop = true;
  reader.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(ini.ReadString("S", "Marker", ""), "159");
}

TEST_F(IniFileTest, FailedWriteRaisesAndKeepsTheOldFile) {
  const std::string before = "[S]\r\nK=old\r\n";
  // A write reads the file, opens it for writing (the access test), creates the
  // temporary file, writes, flushes and closes it, and renames it over the old one.
  const std::pair<TFileOp, int> steps[] = {{TFileOp::Open, 1},  {TFileOp::Open, 2},  {TFileOp::Open, 3},
                                           {TFileOp::Read, 1},  {TFileOp::Write, 1}, {TFileOp::Fsync, 1},
                                           {TFileOp::Close, 3}, {TFileOp::Rename, 1}};
  TFaultyFileOps faulty;
  TScopedFileOps scope(&faulty);
  for (auto [op, nth] : steps) {
    Put(before);
    faulty.FailAt(op, nth, 28 /* ENOSPC */, FDir.string());
    TIniFile ini(FPath);
    try {
      ini.WriteString("S", "K", "new");
      ADD_FAILURE() << "no error for step " << static_cast<int>(op) << "/" << nth;
    } catch (const EIniFileException& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + FPath);
    }
    faulty.Clear();
    EXPECT_EQ(Get(), before) << "step " << static_cast<int>(op);
    EXPECT_EQ(FileCount(), 1u) << "temporary file left by step " << static_cast<int>(op);
  }
  // Writing into a folder that does not exist fails the same way.
  TIniFile missing((FDir / "no" / "x.ini").string());
  EXPECT_THROW(missing.WriteString("S", "K", "v"), EIniFileException);
}

}  // namespace
}  // namespace fp::test
