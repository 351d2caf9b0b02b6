#include "program/app/uProgramInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/FileOps.h"

namespace fp::uProgramInfo {
namespace {

std::mutex& AppDirLock() {
  static std::mutex lock;
  return lock;
}
QString& AppDirValue() {
  static QString dir;
  return dir;
}

// The name the write test had in earlier versions: a run stopped between its creation and
// its removal left it behind.
constexpr char kOldTestFile[] = "chktmp.txt";
// Opened with O_TMPFILE relative to the folder, this name stands for the folder itself.
constexpr char kUnnamedTestFile[] = "./";

// An empty regular file "chktmp.txt" is such a left test file: it is removed. Anything else
// under that name (a link, which is not followed, a folder, a file with data) is not ours
// and stays; it no longer stands in the test's way.
void RemoveOldTestFile(IFileOps& ops, int dir) {
  const int err = errno;
  struct stat st {};
  if (ops.FstatAt(dir, kOldTestFile, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_size == 0)
    ops.UnlinkAt(dir, kOldTestFile, 0);
  errno = err;
}

// A name for the named write test that no other run has used: hidden, with the process,
// a counter and the time in nanoseconds.
std::string TestFileName() {
  static std::atomic<unsigned> counter{0};
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  char name[96];
  std::snprintf(name, sizeof name, ".chktmp.%ld.%u.%llx%09ld.tmp", static_cast<long>(::getpid()), counter.fetch_add(1),
                static_cast<unsigned long long>(now.tv_sec), static_cast<long>(now.tv_nsec));
  return name;
}

}  // namespace

QString AppDir() {
  std::lock_guard<std::mutex> lock(AppDirLock());
  return AppDirValue();
}

void SetAppDir(const QString& dir) {
  QString copy = dir;  // the old value is released outside the lock
  std::lock_guard<std::mutex> lock(AppDirLock());
  std::swap(AppDirValue(), copy);
}

bool CanWriteToDir(const QString& folder) {
  IFileOps& ops = FileOps();
  const std::string path = QFile::encodeName(folder).toStdString();
  const int dir = ops.Open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (dir < 0) return false;
  RemoveOldTestFile(ops, dir);
  bool written = false;
  // An unnamed file of the folder: nothing of it is left whenever the process ends.
  int fd = ops.OpenAt(dir, kUnnamedTestFile, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) {
    struct stat st {};
    written = ops.Fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ops.Close(fd);
  } else if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
    // A file system without unnamed files: a new name of this run's own, created anew
    // (another name when it is taken) and removed again.
    std::string name;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
      name = TestFileName();
      fd = ops.OpenAt(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd < 0 && errno != EEXIST) break;
    }
    if (fd >= 0) {
      struct stat st {};
      written = ops.FstatAt(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
      const int err = errno;
      ops.Close(fd);
      ops.UnlinkAt(dir, name.c_str(), 0);
      errno = err;
    }
  }
  const int err = errno;
  ops.Close(dir);
  errno = err;
  return written;
}

int ReplaceFile(const QString& path, const std::string& data) {
  static std::atomic<unsigned> counter{0};
  IFileOps& ops = FileOps();
  const std::string target = QFile::encodeName(path).toStdString();
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  const std::string temp =
      dir + "." + base + "." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1)) + ".tmp";
  const int fd = ops.Open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return errno != 0 ? errno : EIO;
  int err = 0;
  if (!WriteAll(ops, fd, data) || ops.Fsync(fd) != 0) err = errno != 0 ? errno : EIO;
  if (ops.Close(fd) != 0 && err == 0) err = errno != 0 ? errno : EIO;
  if (err == 0 && ops.Rename(temp.c_str(), target.c_str()) != 0) err = errno != 0 ? errno : EIO;
  if (err != 0) ops.Unlink(temp.c_str());
  return err;
}

QString GetFileVersion() {
#ifdef FP_PROGRAM_VERSION
  return QStringLiteral(FP_PROGRAM_VERSION);
#else
  return {};
#endif
}

QString ProgramFilePath() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return QFile::decodeName(QByteArray(buf, static_cast<qsizetype>(n)));
}

}  // namespace fp::uProgramInfo
