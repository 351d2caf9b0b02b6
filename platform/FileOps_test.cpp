#include "platform/FileOps.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace fp {
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

}  // namespace
}  // namespace fp
