#include "program/app/uProgramInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include <atomic>
#include <cerrno>
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
  const std::string path = QFile::encodeName(folder + QStringLiteral("chktmp.txt")).toStdString();
  int fd = ops.Open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  struct stat st {};
  bool exists = ops.Stat(path.c_str(), &st) == 0;
  ops.Close(fd);
  ops.Unlink(path.c_str());
  return exists;
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
