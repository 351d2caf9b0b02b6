#pragma once
// One running instance per program file.
//
// The lock: the first process started from a program file holds a write lock (an
// open-file-description lock, fcntl F_OFD_SETLK) on the file "<program name>.lock" in the
// program's folder, which only the program's user writes (its settings and logs are
// there too). The lock lives as long as the process: a crash or a kill leaves the file
// unlocked, and the next start takes it. What lies under that name is trusted only when
// it is a regular file of the program's user (or of the folder's owner), opened without
// following a link; anything else there (a link, a folder, a pipe, another user's file)
// is not a lock of a running copy: it is removed and the lock made anew. A start that
// cannot hold the lock at all (a folder whose file system keeps no locks) still runs,
// and says why (Problem()).
//
// The handshake: the running instance listens on a local socket in the user's private
// runtime folder ($XDG_RUNTIME_DIR, when it is a folder of this user that nobody else can
// enter), else in the program folder; a later start from the same program file finds the
// lock held, asks over the socket for the window, and ends. Copies of the program in
// other folders have other locks and sockets and run side by side.
#include <QLocalServer>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace fp {

class TSingleInstance : public QObject {
  Q_OBJECT
 public:
  // LockFolder: where the lock file is (the program file's folder when empty).
  // RuntimeFolder: where the socket is ($XDG_RUNTIME_DIR when empty).
  explicit TSingleInstance(const QString& ProgramPath, const QString& LockFolder = QString(),
                           const QString& RuntimeFolder = QString(), QObject* Parent = nullptr);
  ~TSingleInstance() override;

  // The name of the socket for a program path (a hash of its canonical path).
  static QString KeyOf(const QString& ProgramPath);
  QString LockFilePath() const { return FLockPath; }
  // The socket's full path; empty when no folder can hold it (Problem() says why).
  QString ServerName() const { return FServerPath; }

  enum class TStart {
    Run,             // this process holds the instance and listens for later starts
    RunWithoutLock,  // no lock could be held (Problem()); this process runs all the same
    AnotherCopyRuns  // a running copy holds the lock (HolderPid()): this start ends
  };
  TStart Acquire();
  // Why the lock could not be held, or why later starts cannot reach this one; empty when
  // all is well.
  QString Problem() const { return FProblem; }
  // The process that holds the lock, as it wrote it in the file (0 when unknown).
  qint64 HolderPid() const { return FHolderPid; }

  // Asks the running instance to show its window; true when it confirmed within the time
  // limit, else false with the reason in Problem(). Blocks; needs no event loop.
  // ActivationToken: the desktop's token of this start (Wayland), handed on.
  bool RaiseRunning(int TimeoutMs = 5000, const QByteArray& ActivationToken = QByteArray());

  // Runs (on this object's thread) when a later start asks for the window, with that
  // start's activation token (may be empty).
  std::function<void(const QByteArray& ActivationToken)> OnRaise;

 private:
  TStart TakeLock();
  void Listen();
  void ServeConnection();
  QString FProgramPath;
  QString FLockFolder;
  QString FLockPath;
  QString FServerPath;
  QString FProblem;
  qint64 FHolderPid = 0;
  int FLockFd = -1;
  std::unique_ptr<QLocalServer> FServer;
};

}  // namespace fp
