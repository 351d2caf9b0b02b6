#include "program/app/uSingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/FileOps.h"
#include "platform/ScopeExit.h"
#include "platform/SysErrorText.h"

namespace fp {
namespace {

constexpr char kRaise[] = "raise";
constexpr char kRaised[] = "raised\n";

QString ErrorText(int Error) { return QString::fromLocal8Bit(SysErrorText(Error).c_str()); }

// A folder only this user can enter: a folder (not a link) of this user, closed to the
// group and to others.
bool PrivateFolder(const QString& Folder) {
  if (Folder.isEmpty() || !QDir::isAbsolutePath(Folder)) return false;
  struct stat st {};
  if (FileOps().Lstat(QFile::encodeName(Folder).constData(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// A socket's path must fit the address of a local socket, with its terminating zero.
bool FitsSocketAddress(const QString& Path) {
  return static_cast<size_t>(QFile::encodeName(Path).size()) < sizeof(sockaddr_un{}.sun_path);
}

}  // namespace

TSingleInstance::TSingleInstance(const QString& ProgramPath, const QString& LockFolder, const QString& RuntimeFolder,
                                 QObject* Parent)
    : QObject(Parent), FProgramPath(ProgramPath) {
  const QFileInfo program(ProgramPath);
  FLockFolder = LockFolder.isEmpty() ? program.absolutePath() : LockFolder;
  while (FLockFolder.size() > 1 && FLockFolder.endsWith(QLatin1Char('/'))) FLockFolder.chop(1);
  FLockPath = FLockFolder + QLatin1Char('/') + program.fileName() + QStringLiteral(".lock");
  // The user's runtime folder when it is private; else the program folder, which only the
  // program's user writes.
  const QString runtime = RuntimeFolder.isEmpty() ? qEnvironmentVariable("XDG_RUNTIME_DIR") : RuntimeFolder;
  QStringList candidates;
  if (PrivateFolder(runtime)) candidates << runtime;
  candidates << FLockFolder;
  for (const QString& folder : candidates) {
    const QString path = folder + QLatin1Char('/') + KeyOf(ProgramPath);
    if (FitsSocketAddress(path)) {
      FServerPath = path;
      break;
    }
  }
}

TSingleInstance::~TSingleInstance() {
  if (FServer) FServer->close();
  if (FLockFd >= 0) FileOps().Close(FLockFd);
}

QString TSingleInstance::KeyOf(const QString& ProgramPath) {
  const QFileInfo info(ProgramPath);
  const QString canonical = info.canonicalFilePath();
  const QString path = canonical.isEmpty() ? info.absoluteFilePath() : canonical;
  const QByteArray hash = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex().left(20);
  return QStringLiteral("MiravokFP-DriverFiscalPrinterX4-") + QString::fromLatin1(hash);
}

TSingleInstance::TStart TSingleInstance::Acquire() {
  if (FLockFd >= 0 || FServer) return TStart::Run;
  const TStart start = TakeLock();
  if (start != TStart::AnotherCopyRuns) Listen();
  return start;
}

TSingleInstance::TStart TSingleInstance::TakeLock() {
  IFileOps& ops = FileOps();
  FProblem.clear();
  FHolderPid = 0;
  const QByteArray folder = QFile::encodeName(FLockFolder);
  const QByteArray name = QFile::encodeName(QFileInfo(FLockPath).fileName());
  auto withoutLock = [this](const QString& why, int error) {
    FProblem = QStringLiteral("cannot hold the lock ") + FLockPath + QStringLiteral(": ") + why +
               (error != 0 ? QStringLiteral(" (") + ErrorText(error) + QStringLiteral(")") : QString());
    return TStart::RunWithoutLock;
  };
  const int dir = ops.Open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (dir < 0) return withoutLock(QStringLiteral("its folder cannot be opened"), errno);
  TScopeExit closeDir([&ops, dir] { ops.Close(dir); });
  struct stat dirSt {};
  if (ops.Fstat(dir, &dirSt) != 0) return withoutLock(QStringLiteral("its folder cannot be read"), errno);

  // A few rounds: a name that is not our lock is removed and made anew, and a lock file
  // replaced between our open and our lock is opened again.
  for (int round = 0; round < 4; ++round) {
    const int fd =
        ops.OpenAt(dir, name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0600);
    int openError = fd < 0 ? errno : 0;
    struct stat st {};
    bool ours = false;
    if (fd >= 0 && ops.Fstat(fd, &st) == 0)
      ours = S_ISREG(st.st_mode) && (st.st_uid == ::geteuid() || st.st_uid == dirSt.st_uid);
    if (!ours) {
      // Not a lock of this program (a link, a folder, a pipe, another user's file): it
      // never stops a start. It is removed, if it is still the entry we looked at.
      if (fd >= 0) ops.Close(fd);
      if (fd < 0 && openError != ELOOP && openError != EISDIR && openError != EACCES && openError != EPERM &&
          openError != ENXIO && openError != EWOULDBLOCK)
        return withoutLock(QStringLiteral("it cannot be created"), openError);
      struct stat now {};
      if (ops.FstatAt(dir, name.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (fd >= 0 && (now.st_dev != st.st_dev || now.st_ino != st.st_ino)) continue;
      if (ops.UnlinkAt(dir, name.constData(), S_ISDIR(now.st_mode) ? AT_REMOVEDIR : 0) != 0 && errno != ENOENT)
        return withoutLock(QStringLiteral("a file there is not this program's lock and cannot be removed"), errno);
      continue;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
      const int error = errno;
      struct flock held {};
      held.l_type = F_WRLCK;
      held.l_whence = SEEK_SET;
      if ((error == EAGAIN || error == EACCES) && ::fcntl(fd, F_OFD_GETLK, &held) == 0 && held.l_type == F_RDLCK) {
        // Only a read lock is there: our copies take write locks, so whoever holds it is
        // not one of them. The file is made anew.
        ops.Close(fd);
        if (ops.UnlinkAt(dir, name.constData(), 0) != 0 && errno != ENOENT)
          return withoutLock(QStringLiteral("another program holds a lock on it"), errno);
        continue;
      }
      if (error == EAGAIN || error == EACCES) {
        // A running copy holds it; it wrote its process number into the file.
        char buf[32] = {};
        const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
        if (n > 0) FHolderPid = QByteArray(buf, static_cast<int>(n)).trimmed().toLongLong();
        ops.Close(fd);
        return TStart::AnotherCopyRuns;
      }
      ops.Close(fd);
      return withoutLock(QStringLiteral("the folder's file system keeps no locks"), error);
    }
    // The name must still be the file we locked: a copy that replaced it meanwhile holds
    // the other one.
    struct stat named {};
    if (ops.FstatAt(dir, name.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_dev != st.st_dev ||
        named.st_ino != st.st_ino) {
      ops.Close(fd);
      continue;
    }
    // Started as root in the user's folder: the lock stays the folder owner's, so that the
    // user's next start can open it and see that it is held.
    if (::geteuid() == 0 && st.st_uid != dirSt.st_uid && ::fchown(fd, dirSt.st_uid, dirSt.st_gid) != 0) {
      // Only the user's next start loses: it finds a file it cannot open and replaces it.
    }
    // Nobody else reads it.
    if (::fchmod(fd, 0600) != 0) {
      // A lock readable by others still works: their read locks are told apart above.
    }
    // The process number, for the message of a later start.
    const QByteArray pid = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.constData(), static_cast<size_t>(pid.size()), 0) < 0) {
      // The number is only informative.
    }
    FLockFd = fd;
    return TStart::Run;
  }
  return withoutLock(QStringLiteral("its name keeps changing"), 0);
}

void TSingleInstance::Listen() {
  if (FServerPath.isEmpty()) {
    if (FProblem.isEmpty())
      FProblem = QStringLiteral("no folder can hold the socket through which a second start would show this window");
    return;
  }
  // A socket file left by an instance that ended would block the new server; the folder
  // is ours alone.
  QLocalServer::removeServer(FServerPath);
  auto server = std::make_unique<QLocalServer>();
  server->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server.get(), &QLocalServer::newConnection, this, [this] {
    while (FServer && FServer->hasPendingConnections()) ServeConnection();
  });
  if (!server->listen(FServerPath)) {
    if (FProblem.isEmpty())
      FProblem = QStringLiteral("cannot listen on ") + FServerPath + QStringLiteral(" (") + server->errorString() +
                 QStringLiteral("): a second start cannot show this window");
    return;
  }
  FServer = std::move(server);
}

void TSingleInstance::ServeConnection() {
  QLocalSocket* s = FServer->nextPendingConnection();
  if (!s) return;
  connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
  connect(s, &QLocalSocket::readyRead, this, [this, s] {
    if (!s->canReadLine()) return;
    const QByteArray line = s->readLine(256).trimmed();
    if (line == kRaise || line.startsWith(QByteArray(kRaise) + ' ')) {
      if (OnRaise) OnRaise(line.mid(static_cast<int>(std::strlen(kRaise))).trimmed());
      s->write(kRaised);
      s->flush();
    }
    s->disconnectFromServer();
  });
}

bool TSingleInstance::RaiseRunning(int TimeoutMs, const QByteArray& ActivationToken) {
  if (FServerPath.isEmpty()) {
    FProblem = QStringLiteral("no folder can hold the socket through which the running copy would be asked");
    return false;
  }
  QByteArray request = kRaise;
  // Only a token of plain characters goes on the line.
  if (!ActivationToken.isEmpty() && ActivationToken.size() < 200 &&
      std::all_of(ActivationToken.begin(), ActivationToken.end(), [](char c) { return c > ' ' && c < 127; }))
    request += ' ' + ActivationToken;
  request += '\n';
  QDeadlineTimer deadline(TimeoutMs);
  QString lastError;
  auto remaining = [&deadline] { return static_cast<int>(std::max<qint64>(1, deadline.remainingTime())); };
  // The running instance may hold the lock a moment before it listens.
  while (!deadline.hasExpired()) {
    QLocalSocket s;
    s.connectToServer(FServerPath);
    if (s.waitForConnected(200)) {
      s.write(request);
      bool answered = s.waitForBytesWritten(remaining());
      while (answered && !s.canReadLine()) answered = !deadline.hasExpired() && s.waitForReadyRead(remaining());
      if (answered && s.readLine() == kRaised) return true;
      FProblem = QStringLiteral("the running copy did not answer on ") + FServerPath;
      return false;
    }
    lastError = s.errorString();
    QThread::msleep(50);
  }
  FProblem = QStringLiteral("nobody answers on ") + FServerPath + QStringLiteral(" (") + lastError +
             QStringLiteral("); the running copy may run as another user or with another runtime folder");
  return false;
}

}  // namespace fp
