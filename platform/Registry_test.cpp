#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/FileOps.h"
#include "tests/support/PortTestSupport.h"

namespace fp::test {
namespace {

using test::TScopedTempRegistry;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

enum class Op { Open, Create, Set, Query, EnumValue, EnumKey, DeleteKey, DeleteValue };

struct Step {
  Op op;
  TRegRoot root;
  const char* path;
  const char* name;  // value name; the index for the enumerations
  const char* data;  // data to set; expected data / name for queries and enumerations
  bool ok;
};

constexpr TRegRoot LM = HKEY_LOCAL_MACHINE, CR = HKEY_CLASSES_ROOT, CU = HKEY_CURRENT_USER;

const Step kSteps[] = {
    {Op::Open, LM, "SOFTWARE\\Acme", "", "", false},
    {Op::Create, LM, "SOFTWARE\\Acme\\Tools\\Deep", "", "", true},  // parents are created too
    {Op::Open, LM, "software\\ACME", "", "", true},                 // names ignore case
    {Op::Open, LM, "\\SOFTWARE\\\\Acme\\", "", "", true},           // stray separators
    {Op::Open, CU, "SOFTWARE\\Acme", "", "", false},                // roots are separate
    {Op::Set, LM, "SOFTWARE\\Missing", "x", "1", false},            // the key must exist
    {Op::Set, LM, "SOFTWARE\\Acme", "", "default text", true},
    {Op::Set, LM, "SOFTWARE\\Acme", "Mode", "fast", true},
    {Op::Set, LM, "SOFTWARE\\Acme", "Alpha", "a", true},
    {Op::Set, LM, "SOFTWARE\\ACME", "MODE", "slow", true},  // replaces, keeps the first spelling
    {Op::Query, LM, "SOFTWARE\\Acme", "", "default text", true},
    {Op::Query, LM, "software\\acme", "mode", "slow", true},
    {Op::Query, LM, "SOFTWARE\\Acme", "Nothing", "", false},
    {Op::Query, LM, "SOFTWARE\\Nope", "Mode", "", false},
    {Op::EnumValue, LM, "SOFTWARE\\Acme", "0", "", true},  // default value first: set first
    {Op::EnumValue, LM, "SOFTWARE\\Acme", "1", "Mode", true},
    {Op::EnumValue, LM, "SOFTWARE\\Acme", "2", "Alpha", true},
    {Op::EnumValue, LM, "SOFTWARE\\Acme", "3", "", false},
    {Op::Create, LM, "SOFTWARE\\Acme\\beta", "", "", true},
    {Op::Create, LM, "SOFTWARE\\Acme\\Alpha", "", "", true},
    {Op::Create, LM, "SOFTWARE\\Acme\\alpha", "", "", true},  // the same key again
    {Op::EnumKey, LM, "SOFTWARE\\Acme", "0", "Alpha", true},  // alphabetical, ignoring case
    {Op::EnumKey, LM, "SOFTWARE\\Acme", "1", "beta", true},
    {Op::EnumKey, LM, "SOFTWARE\\Acme", "2", "Tools", true},
    {Op::EnumKey, LM, "SOFTWARE\\Acme", "3", "", false},
    {Op::EnumKey, LM, "SOFTWARE", "0", "Acme", true},
    {Op::DeleteKey, LM, "SOFTWARE\\Acme\\Tools", "", "", false},  // still has a sub-key
    {Op::DeleteKey, LM, "SOFTWARE\\Acme\\Tools\\Deep", "", "", true},
    {Op::DeleteKey, LM, "SOFTWARE\\Acme\\Tools\\Deep", "", "", false},  // gone
    {Op::DeleteKey, LM, "SOFTWARE\\Acme\\TOOLS", "", "", true},
    {Op::DeleteKey, LM, "", "", "", false},  // a root
    {Op::DeleteValue, LM, "SOFTWARE\\Acme", "alpha", "", true},
    {Op::DeleteValue, LM, "SOFTWARE\\Acme", "Alpha", "", false},
    {Op::EnumValue, LM, "SOFTWARE\\Acme", "1", "Mode", true},
    {Op::EnumValue, LM, "SOFTWARE\\Acme", "2", "", false},
    {Op::Create, CR, "CLSID\\{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}\\InprocServer32", "", "", true},
    {Op::Set, CR, "clsid\\{bad7ec8b-0e5b-4421-936e-f5ae2338be32}\\inprocserver32", "ThreadingModel", "Apartment", true},
    {Op::Query, CR, "CLSID\\{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}\\InprocServer32", "threadingmodel", "Apartment",
     true},
    {Op::Set, LM, "", "RootValue", "on a root", true},
    {Op::Query, LM, "", "rootvalue", "on a root", true},
};

TEST(Registry, TableOfKeyAndValueOperations) {
  TScopedTempRegistry reg;
  int line = 0;
  for (const Step& s : kSteps) {
    ++line;
    SCOPED_TRACE("step " + std::to_string(line) + " " + s.path + " / " + s.name);
    TRegKey key{s.root, s.path};
    switch (s.op) {
      case Op::Open: EXPECT_EQ(TRegistry::OpenKey(s.root, s.path).has_value(), s.ok); break;
      case Op::Create: {
        auto k = TRegistry::CreateKey(s.root, s.path);
        ASSERT_EQ(k.has_value(), s.ok);
        EXPECT_TRUE(TRegistry::OpenKey(k->Root, k->Path).has_value());
        break;
      }
      case Op::Set: EXPECT_EQ(TRegistry::SetValue(key, s.name, s.data), s.ok); break;
      case Op::Query: {
        auto v = TRegistry::QueryValue(key, s.name);
        ASSERT_EQ(v.has_value(), s.ok);
        if (v) {
          EXPECT_EQ(*v, s.data);
        }
        break;
      }
      case Op::EnumValue: {
        auto v = TRegistry::EnumValue(key, std::stoul(s.name));
        ASSERT_EQ(v.has_value(), s.ok);
        if (v) {
          EXPECT_EQ(v->Name, s.data);
        }
        break;
      }
      case Op::EnumKey: {
        auto v = TRegistry::EnumKey(key, std::stoul(s.name));
        ASSERT_EQ(v.has_value(), s.ok);
        if (v) {
          EXPECT_EQ(*v, s.data);
        }
        break;
      }
      case Op::DeleteKey: EXPECT_EQ(TRegistry::DeleteKey(s.root, s.path), s.ok); break;
      case Op::DeleteValue: EXPECT_EQ(TRegistry::DeleteValue(key, s.name), s.ok); break;
    }
  }
}

TEST(Registry, DeletedKeyTakesItsValuesAndOpenedKeyGoesStale) {
  TScopedTempRegistry reg;
  auto key = TRegistry::CreateKey(HKEY_CURRENT_USER, "A\\B");
  ASSERT_TRUE(key);
  ASSERT_TRUE(TRegistry::SetValue(*key, "v", "1"));
  ASSERT_TRUE(TRegistry::DeleteKey(HKEY_CURRENT_USER, "A\\B"));
  EXPECT_FALSE(TRegistry::QueryValue(*key, "v"));
  EXPECT_FALSE(TRegistry::SetValue(*key, "v", "2"));
  ASSERT_TRUE(TRegistry::CreateKey(HKEY_CURRENT_USER, "A\\B"));
  EXPECT_FALSE(TRegistry::QueryValue(*key, "v"));  // a new, empty key
}

TEST(Registry, AnyBytesSurviveTheFile) {
  TScopedTempRegistry reg;
  const std::string keyName = "Odd ]key[ %41 \"q\" \xE0";
  const std::string name("line\nbreak\0nul=\"%\xFF", 19);
  const std::string data("\r\n]\"%25@=\0end\x7F\x80 \\", 18);
  auto key = TRegistry::CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + keyName);
  ASSERT_TRUE(key);
  ASSERT_TRUE(TRegistry::SetValue(*key, name, data));
  ASSERT_TRUE(TRegistry::SetValue(*key, "", ""));  // an empty default value is a value too
  auto values = TRegistry::Values(*TRegistry::OpenKey(HKEY_LOCAL_MACHINE, "software\\" + keyName));
  ASSERT_TRUE(values);
  ASSERT_EQ(values->size(), 2u);
  EXPECT_EQ((*values)[0], (TRegValue{name, data}));
  EXPECT_EQ((*values)[1], (TRegValue{"", ""}));
  EXPECT_EQ(TRegistry::EnumKey(*TRegistry::OpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE"), 0), keyName);
  // The file stays plain ASCII with one item a line.
  for (unsigned char c : ReadFile(reg.File)) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << int(c);
}

TEST(Registry, ReadersSeeChangesMadeToTheFileBehindTheirBack) {
  TScopedTempRegistry reg;
  auto key = TRegistry::CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\X");
  ASSERT_TRUE(TRegistry::SetValue(*key, "v", "old"));
  EXPECT_EQ(TRegistry::QueryValue(*key, "v"), "old");
  {
    std::ofstream out(reg.File, std::ios::binary | std::ios::trunc);
    out << "# by hand\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\r\n\"v\"=\"new %22x%22\"\r\n@=\"d\"\r\n"
           "garbage line\r\n[HKEY_CURRENT_USER\\Y\\Z]\r\n";
  }
  EXPECT_EQ(TRegistry::QueryValue(*key, "v"), "new \"x\"");
  EXPECT_EQ(TRegistry::QueryValue(*key, ""), "d");
  EXPECT_TRUE(TRegistry::OpenKey(HKEY_CURRENT_USER, "Y"));  // parents implied
  EXPECT_TRUE(TRegistry::OpenKey(HKEY_CURRENT_USER, "Y\\Z"));
}

// Sets or clears an environment variable for the object's life.
class TScopedEnv {
 public:
  TScopedEnv(const char* name, const char* value) : FName(name) {
    if (const char* old = ::getenv(name)) FOld = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~TScopedEnv() {
    if (FOld)
      ::setenv(FName, FOld->c_str(), 1);
    else
      ::unsetenv(FName);
  }

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

TEST(Registry, LocationFromVariableOrPerUserFolderOnly) {
  TScopedTempRegistry reg;
  EXPECT_EQ(TRegistry::FileName(), reg.File);
  TScopedEnv noFile(TRegistry::FileVariable, nullptr);
  std::optional<std::string> account = "/home/account";
  TRegistry::SetHomeFolderSource([&] { return account; });
  struct Case {
    const char* xdg;
    const char* home;
    std::optional<std::string> expected;
  };
  const std::string dir = reg.Dir;
  const Case cases[] = {
      {dir.c_str(), "/home/h", dir + "/miravok-fp/registry.txt"},
      {nullptr, "/home/h", "/home/h/.config/miravok-fp/registry.txt"},
      {"relative/xdg", "/home/h", "/home/h/.config/miravok-fp/registry.txt"},  // only absolute folders count
      {"", nullptr, "/home/account/.config/miravok-fp/registry.txt"},
      {nullptr, "relative", "/home/account/.config/miravok-fp/registry.txt"},
  };
  for (const Case& c : cases) {
    TScopedEnv xdg("XDG_CONFIG_HOME", c.xdg);
    TScopedEnv home("HOME", c.home);
    EXPECT_EQ(TRegistry::FileName(), c.expected) << (c.xdg ? c.xdg : "-") << " " << (c.home ? c.home : "-");
  }

  // No home folder at all: no file anywhere (never a shared folder), and every operation fails.
  TScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
  TScopedEnv home("HOME", nullptr);
  for (std::optional<std::string> none : {std::optional<std::string>(), std::optional<std::string>("tmp")}) {
    account = none;
    EXPECT_FALSE(TRegistry::FileName());
    EXPECT_FALSE(TRegistry::CreateKey(HKEY_CURRENT_USER, "A"));
    EXPECT_FALSE(TRegistry::OpenKey(HKEY_CURRENT_USER, ""));
    EXPECT_FALSE(TRegistry::SetValue({HKEY_CURRENT_USER, ""}, "v", "1"));
  }
  TRegistry::SetHomeFolderSource(nullptr);
  EXPECT_TRUE(TRegistry::FileName());  // the account database of the user running the tests
}

TEST(Registry, RewriteKeepsTheFileMode) {
  TScopedTempRegistry reg;
  auto key = TRegistry::CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\X");
  ASSERT_TRUE(key);
  for (mode_t mode : {mode_t(0600), mode_t(0640), mode_t(0644)}) {
    ASSERT_EQ(::chmod(reg.File.c_str(), mode), 0);
    ASSERT_TRUE(TRegistry::SetValue(*key, "v", std::to_string(mode)));
    struct stat st {};
    ASSERT_EQ(::stat(reg.File.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
  }
}

// Links planted beside the registry file are replaced or refused, never written through.
TEST(Registry, WritesNeverGoThroughPlantedLinks) {
  TScopedTempRegistry reg;
  ASSERT_TRUE(TRegistry::CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\X"));
  const std::string victim = reg.Dir + "/victim";
  { std::ofstream(victim) << "keep"; }
  const std::string temp = reg.File + ".tmp." + std::to_string(::getpid());
  ASSERT_EQ(::symlink(victim.c_str(), temp.c_str()), 0);
  EXPECT_TRUE(TRegistry::SetValue({HKEY_LOCAL_MACHINE, "SOFTWARE\\X"}, "v", "1"));
  EXPECT_EQ(ReadFile(victim), "keep");
  EXPECT_EQ(TRegistry::QueryValue({HKEY_LOCAL_MACHINE, "SOFTWARE\\X"}, "v"), "1");

  // A lock file that is a link: the write is refused and nothing is created at its target.
  const std::string lock = reg.File + ".lock";
  const std::string elsewhere = reg.Dir + "/created-elsewhere";
  ASSERT_EQ(::unlink(lock.c_str()), 0);
  ASSERT_EQ(::symlink(elsewhere.c_str(), lock.c_str()), 0);
  EXPECT_FALSE(TRegistry::SetValue({HKEY_LOCAL_MACHINE, "SOFTWARE\\X"}, "v", "2"));
  EXPECT_FALSE(std::filesystem::exists(elsewhere));
  EXPECT_EQ(TRegistry::QueryValue({HKEY_LOCAL_MACHINE, "SOFTWARE\\X"}, "v"), "1");
}

TEST(Registry, UpdateValuesChangesAKeyInOneStep) {
  TScopedTempRegistry reg;
  auto append = [](std::vector<TRegValue>& values) {
    values.push_back({"n" + std::to_string(values.size()), "x"});
    return true;
  };
  ASSERT_TRUE(TRegistry::UpdateValues(HKEY_LOCAL_MACHINE, "SOFTWARE\\New\\Key", append));  // created
  ASSERT_TRUE(TRegistry::UpdateValues(HKEY_LOCAL_MACHINE, "software\\new\\key", append));
  EXPECT_EQ(TRegistry::Values({HKEY_LOCAL_MACHINE, "SOFTWARE\\New\\Key"}),
            (std::vector<TRegValue>{{"n0", "x"}, {"n1", "x"}}));
  // Nothing to write: no change, and no key created either.
  EXPECT_FALSE(TRegistry::UpdateValues(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", [](auto&) { return false; }));
  EXPECT_FALSE(TRegistry::OpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other"));
  EXPECT_FALSE(TRegistry::UpdateValues(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", append));
  EXPECT_FALSE(TRegistry::UpdateValues(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM\\Sub", append));
  EXPECT_TRUE(TRegistry::UpdateValues(HKEY_LOCAL_MACHINE, "HARDWARE\\Other", append));
}

// Two processes, and two threads in one of them, write into the same keys at once.
TEST(Registry, TwoProcessesWritingAtOnceLoseNothing) {
  TScopedTempRegistry reg;
  ASSERT_TRUE(TRegistry::CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared"));
  constexpr int kPerProcess = 30;
  auto writer = [](const char* prefix) {
    bool ok = true;
    for (int i = 0; i < kPerProcess; ++i) {
      auto key = TRegistry::CreateKey(HKEY_LOCAL_MACHINE, std::string("SOFTWARE\\Shared\\") + prefix);
      ok = key && TRegistry::SetValue(*key, std::to_string(i), prefix) && ok;
      ok = TRegistry::SetValue({HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared"}, prefix + std::to_string(i), "x") && ok;
    }
    return ok;
  };
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(writer("child") ? 0 : 1);
  bool threadOk = false;
  std::thread thread([&] { threadOk = writer("thread"); });
  EXPECT_TRUE(writer("parent"));
  thread.join();
  EXPECT_TRUE(threadOk);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  auto shared = TRegistry::Values({HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared"});
  ASSERT_TRUE(shared);
  EXPECT_EQ(shared->size(), 3u * kPerProcess);
  for (const char* prefix : {"child", "parent", "thread"}) {
    auto values = TRegistry::Values({HKEY_LOCAL_MACHINE, std::string("SOFTWARE\\Shared\\") + prefix});
    ASSERT_TRUE(values);
    EXPECT_EQ(values->size(), std::size_t(kPerProcess)) << prefix;
  }
  // No temporary file is left behind.
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(reg.File).parent_path()))
    EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST(Registry, FailedWriteKeepsTheFileAsItWas) {
  TScopedTempRegistry reg;
  auto key = TRegistry::CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\X");
  ASSERT_TRUE(TRegistry::SetValue(*key, "v", "before"));
  const std::string before = ReadFile(reg.File);
  for (TFileOp op : {TFileOp::Open, TFileOp::Read, TFileOp::Write, TFileOp::Fsync, TFileOp::Rename, TFileOp::Mkdir}) {
    SCOPED_TRACE(int(op));
    TFaultyFileOps faulty;
    // Mkdir fails only when a folder is missing: take the folder away from the write.
    std::string file = reg.File;
    if (op == TFileOp::Mkdir) ::setenv(TRegistry::FileVariable, (reg.Dir + "/new/registry.txt").c_str(), 1);
    faulty.FailAt(op, 0);  // every call of op fails
    {
      TScopedFileOps scoped(&faulty);
      EXPECT_FALSE(TRegistry::SetValue(*key, "v", "after"));
      EXPECT_FALSE(TRegistry::CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other"));
    }
    ::setenv(TRegistry::FileVariable, file.c_str(), 1);
    EXPECT_EQ(ReadFile(reg.File), before);
    EXPECT_EQ(TRegistry::QueryValue(*key, "v"), "before");
  }
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(reg.File).parent_path()))
    EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace fp::test
