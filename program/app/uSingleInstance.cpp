#include "program/app/uSingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

namespace fp {
namespace {
constexpr char kRaise[] = "raise\n";
constexpr char kRaised[] = "raised\n";
}  // namespace

TSingleInstance::TSingleInstance(const QString& ProgramPath, QObject* Parent)
    : QObject(Parent), FKey(KeyOf(ProgramPath)) {}

TSingleInstance::~TSingleInstance() {
  if (FServer) FServer->close();
}

QString TSingleInstance::KeyOf(const QString& ProgramPath) {
  const QString path = QFileInfo(ProgramPath).absoluteFilePath();
  const QByteArray hash = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex().left(20);
  return QStringLiteral("MiravokFP-DriverFiscalPrinterX4-") + QString::fromLatin1(hash);
}

QString TSingleInstance::LockFilePath() const {
  return QDir::tempPath() + QLatin1Char('/') + FKey + QStringLiteral(".lock");
}

bool TSingleInstance::Acquire() {
  if (FServer) return true;
  auto lock = std::make_unique<QLockFile>(LockFilePath());
  // A lock left by a process that no longer runs is taken over at once.
  lock->setStaleLockTime(0);
  if (!lock->tryLock(0)) return false;
  FLock = std::move(lock);
  // A socket file left by an instance that crashed would block the new server.
  QLocalServer::removeServer(FKey);
  FServer = std::make_unique<QLocalServer>();
  FServer->setSocketOptions(QLocalServer::UserAccessOption);
  connect(FServer.get(), &QLocalServer::newConnection, this, [this] {
    while (FServer->hasPendingConnections()) ServeConnection();
  });
  FServer->listen(FKey);
  return true;
}

void TSingleInstance::ServeConnection() {
  QLocalSocket* s = FServer->nextPendingConnection();
  if (!s) return;
  connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
  connect(s, &QLocalSocket::readyRead, this, [this, s] {
    if (!s->canReadLine()) return;
    const QByteArray line = s->readLine();
    if (line == kRaise) {
      if (OnRaise) OnRaise();
      s->write(kRaised);
      s->flush();
    }
    s->disconnectFromServer();
  });
}

bool TSingleInstance::RaiseRunning(int TimeoutMs) {
  QDeadlineTimer deadline(TimeoutMs);
  // The running instance may hold the lock a moment before it listens.
  while (!deadline.hasExpired()) {
    QLocalSocket s;
    s.connectToServer(FKey);
    if (s.waitForConnected(200)) {
      s.write(kRaise);
      if (!s.waitForBytesWritten(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())))) return false;
      while (!s.canReadLine()) {
        if (deadline.hasExpired() ||
            !s.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))))
          return false;
      }
      return s.readLine() == kRaised;
    }
    QThread::msleep(50);
  }
  return false;
}

}  // namespace fp
