#include "program/app/uProgramLog.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QFile>

#include <stdexcept>
#include <string>

#include "program/app/uConst.h"
#include "platform/FileOps.h"
#include "platform/PathNames.h"

namespace fp::uProgramLog {
namespace {

bool IsDir(IFileOps& ops, const std::string& path) {
  struct stat st {};
  return ops.Stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Limit of a log file: more than 500 whole blocks of 128 bytes.
bool OverLimit(off_t size) { return size / 128 > 500; }

}  // namespace

std::recursive_mutex& LogLock() {
  static std::recursive_mutex lock;
  return lock;
}

void WriteLog(const QString& folder, const QString& message, bool exceptionLog, const TLogClock& clock) {
  std::lock_guard<std::recursive_mutex> lock(LogLock());
  if (folder.isEmpty()) return;
  IFileOps& ops = FileOps();

  std::string dir = QFile::encodeName(folder).toStdString();
  std::string bare = dir;
  while (bare.size() > 1 && bare.back() == '/') bare.pop_back();
  if (!IsDir(ops, bare)) {
    // One level only: the parent must exist.
    if (ops.Mkdir(bare.c_str(), 0755) != 0 && !IsDir(ops, bare)) throw std::runtime_error(LogDirError);
  }

  const std::string file = WithSlash(dir) + (exceptionLog ? ExceptionLogName : NormalLogName);
  const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
  int fd = ops.Open(file.c_str(), flags, 0644);
  if (fd < 0) return;

  const QDateTime now = clock ? clock() : QDateTime::currentDateTime();
  struct stat st {};
  if (ops.Fstat(fd, &st) == 0 && OverLimit(st.st_size)) {
    ops.Close(fd);
    // The rotated name never replaces an existing file: a second rotation within the
    // same second fails, the line is lost and the next line tries again.
    const std::string rotated = WithSlash(dir) + (exceptionLog ? "Exc_" : "Log_") +
                                now.toString(QStringLiteral("dd-MM-yy_hh-mm-ss")).toStdString() + ".txt";
    if (ops.RenameNoReplace(file.c_str(), rotated.c_str()) != 0) return;
    fd = ops.Open(file.c_str(), flags, 0644);
    if (fd < 0) return;
  }

  std::string line = now.toString(QStringLiteral("dd.MM.yy hh:mm:ss:zzz")).toStdString();
  line += " - ";
  line += uConst::ToCp1251(message);
  line += "\r\n";
  WriteAll(ops, fd, line);
  ops.Close(fd);
}

}  // namespace fp::uProgramLog
