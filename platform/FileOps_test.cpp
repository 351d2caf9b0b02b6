#include "platform/FileOps.h"

#include <fcntl.h>
#include <stdio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace fp::test {
namespace {

// A writer whose descriptor takes nothing: write returns 0 every time.
class TZeroWriteOps : public IFileOps {
 public:
  ssize_t Write(int, const void*, size_t) override {
    ++calls;
    return 0;
  }
  int calls = 0;
};

// A writer that takes at most three bytes a call and is interrupted once.
class TShortWriteOps : public IFileOps {
 public:
  ssize_t Write(int fd, const void* buf, size_t count) override {
    if (!interrupted) {
      interrupted = true;
      errno = EINTR;
      return -1;
    }
    return IFileOps::Write(fd, buf, count < 3 ? count : 3);
  }
  bool interrupted = false;
};

std::string TempFile() {
  char name[] = "/tmp/fp_fileops_XXXXXX";
  int fd = mkstemp(name);
  close(fd);
  return name;
}

TEST(FileOpsWriteAll, ZeroWriteIsAFailureNotALoop) {
  TZeroWriteOps ops;
  errno = 0;
  EXPECT_FALSE(WriteAll(ops, 1, "abc", 3));
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(ops.calls, 1);
}

TEST(FileOpsWriteAll, ShortWritesAndInterruptsStillWriteEverything) {
  const std::string path = TempFile();
  TShortWriteOps ops;
  int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(WriteAll(ops, fd, std::string("0123456789")));
  ::close(fd);
  fd = ::open(path.c_str(), O_RDONLY);
  std::string back;
  EXPECT_TRUE(ReadAll(FileOps(), fd, back));
  ::close(fd);
  EXPECT_EQ(back, "0123456789");
  ::unlink(path.c_str());
}

TEST(FileOpsReadAll, StopsAtTheLimitWithEfbig) {
  const std::string path = TempFile();
  int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
  ASSERT_TRUE(WriteAll(FileOps(), fd, std::string(40000, 'x')));
  ::close(fd);
  fd = ::open(path.c_str(), O_RDONLY);
  std::string back;
  errno = 0;
  EXPECT_FALSE(ReadAll(FileOps(), fd, back, 20000));
  EXPECT_EQ(errno, EFBIG);
  EXPECT_EQ(back.size(), 20000u);
  ::close(fd);
  ::unlink(path.c_str());
}

TEST(FileOpsLstat, DescribesTheLinkItself) {
  const std::string target = TempFile();
  const std::string link = target + ".lnk";
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  struct stat st {};
  ASSERT_EQ(FileOps().Lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(FileOps().Stat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  ::unlink(link.c_str());
  ::unlink(target.c_str());
}

// Calls relative to an open folder are counted and failed by the folder's path and the
// name, as the calls by path are; the free space can be made to look small.
TEST(FaultyFileOps, CallsRelativeToAFolderMatchTheirPaths) {
  char dirName[] = "/tmp/fp_fileops_dir_XXXXXX";
  ASSERT_NE(mkdtemp(dirName), nullptr);
  const std::string dir = std::string(dirName) + "/";
  TFaultyFileOps ops;
  const int d = ops.Open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  ASSERT_GE(d, 0);
  ops.FailAt(TFileOp::Open, 1, ENOSPC, dir + "a.rep");
  EXPECT_EQ(ops.OpenAt(d, "a.rep", O_WRONLY | O_CREAT | O_CLOEXEC, 0644), -1);
  EXPECT_EQ(errno, ENOSPC);
  const int f = ops.OpenAt(d, "a.rep", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(f, 0);
  ops.FailAt(TFileOp::Write, 1, ENOSPC, dir + "a.rep");
  EXPECT_FALSE(WriteAll(ops, f, std::string("x")));
  ops.Close(f);
  ops.FailAt(TFileOp::RenameNoReplace, 1, EPERM, dir + "a.rep\n" + dir + "b.rep");
  EXPECT_EQ(ops.RenameAt(d, "a.rep", "b.rep", RENAME_NOREPLACE), -1);
  EXPECT_EQ(errno, EPERM);
  EXPECT_EQ(ops.RenameAt(d, "a.rep", "b.rep", RENAME_NOREPLACE), 0);
  ops.FailAt(TFileOp::Unlink, 1, EIO, dir + "b.rep");
  EXPECT_EQ(ops.UnlinkAt(d, "b.rep", 0), -1);
  EXPECT_EQ(ops.UnlinkAt(d, "b.rep", 0), 0);
  struct statvfs st {};
  ops.SetFreeSpace(8192);
  ASSERT_EQ(ops.Fstatvfs(d, &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.f_bavail) * st.f_frsize, 8192u);
  ops.Close(d);
  ::rmdir(dirName);
}

// Where the file system lacks the rename flag, and hard links too (shares mounted through
// FUSE), a rename that must not replace still renames, and still never replaces.
TEST(FileOpsRenameNoReplace, WorksWithoutTheFlagAndWithoutLinksAndNeverReplaces) {
  const struct {
    const char* Name;
    TFileSystemTraits Traits;
  } cases[] = {
      {"Local", {}}, {"NoFlag", {.NoRenameFlags = true}}, {"NoFlagNoLinks", {.NoRenameFlags = true, .NoLinks = true}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    char dirName[] = "/tmp/fp_fileops_dir_XXXXXX";
    ASSERT_NE(mkdtemp(dirName), nullptr);
    const std::string dir = std::string(dirName) + "/";
    auto put = [&](const char* name, const char* text) {
      FILE* f = std::fopen((dir + name).c_str(), "w");
      ASSERT_NE(f, nullptr);
      std::fputs(text, f);
      std::fclose(f);
    };
    auto read = [&](const char* name) {
      std::string text(64, '\0');
      FILE* f = std::fopen((dir + name).c_str(), "r");
      if (!f) return std::string("<missing>");
      text.resize(std::fread(text.data(), 1, text.size(), f));
      std::fclose(f);
      return text;
    };
    put("a", "A");
    put("taken", "T");
    TFaultyFileOps ops;
    ops.SetFileSystem(c.Traits);
    const int d = ops.Open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    ASSERT_GE(d, 0);
    EXPECT_EQ(ops.RenameAt(d, "a", "taken", RENAME_NOREPLACE), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(read("a"), "A");
    EXPECT_EQ(read("taken"), "T");
    EXPECT_EQ(ops.RenameAt(d, "a", "b", RENAME_NOREPLACE), 0);
    EXPECT_EQ(read("a"), "<missing>");
    EXPECT_EQ(read("b"), "A");
    // A link under the new name is taken, too, and not followed.
    ASSERT_EQ(::symlink((dir + "none").c_str(), (dir + "link").c_str()), 0);
    EXPECT_EQ(ops.RenameAt(d, "b", "link", RENAME_NOREPLACE), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(read("b"), "A");
    ops.Close(d);
    for (const char* name : {"b", "taken", "link"}) ::unlink((dir + name).c_str());
    ::rmdir(dirName);
  }
}

// The traits of such a file system, as the seam plays them: inode numbers that go with the
// path, and a size of 0 blocks.
TEST(FaultyFileOps, InodeNumbersCanFollowThePathAndTheSizeBeUnknown) {
  char dirName[] = "/tmp/fp_fileops_dir_XXXXXX";
  ASSERT_NE(mkdtemp(dirName), nullptr);
  const std::string dir = std::string(dirName) + "/";
  TFaultyFileOps ops;
  ops.SetFileSystem({.InodesByPath = true, .UnknownSize = true});
  const int d = ops.Open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  ASSERT_GE(d, 0);
  const int f = ops.OpenAt(d, "a", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(f, 0);
  struct stat byFd {
  }, byName{}, renamed{};
  ASSERT_EQ(ops.Fstat(f, &byFd), 0);
  ASSERT_EQ(ops.FstatAt(d, "a", &byName, AT_SYMLINK_NOFOLLOW), 0);
  EXPECT_EQ(byFd.st_ino, byName.st_ino);
  ASSERT_EQ(ops.RenameAt(d, "a", "b", RENAME_NOREPLACE), 0);
  ASSERT_EQ(ops.FstatAt(d, "b", &renamed, AT_SYMLINK_NOFOLLOW), 0);
  EXPECT_NE(renamed.st_ino, byName.st_ino);
  struct statvfs vfs {};
  ASSERT_EQ(ops.Fstatvfs(d, &vfs), 0);
  EXPECT_EQ(vfs.f_blocks, 0u);
  EXPECT_EQ(vfs.f_bavail, 0u);
  ops.Close(f);
  ops.Close(d);
  ::unlink((dir + "b").c_str());
  ::rmdir(dirName);
}

}  // namespace
}  // namespace fp::test
