#pragma once
// One running instance per program file. The first process started from a program path
// holds a lock file and listens on a local socket, both named from that path; a second
// start from the same path finds the lock taken, asks the running instance over the
// socket to bring its window to the front, and ends. Copies of the program in other
// folders have other names and run side by side.
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace fp {

class TSingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit TSingleInstance(const QString& ProgramPath, QObject* Parent = nullptr);
  ~TSingleInstance() override;

  // The name of the lock and of the socket for a program path.
  static QString KeyOf(const QString& ProgramPath);
  QString LockFilePath() const;
  QString ServerName() const { return FKey; }

  // True when this process now holds the instance of its program path and listens for
  // later starts; false when another process holds it.
  bool Acquire();
  // Asks the running instance to raise its window; true when it confirmed within the
  // time limit. Blocks; does not need an event loop.
  bool RaiseRunning(int TimeoutMs = 5000);

  // Runs (on this object's thread) when a later start asks for the window.
  std::function<void()> OnRaise;

 private:
  void ServeConnection();
  QString FKey;
  std::unique_ptr<QLockFile> FLock;
  std::unique_ptr<QLocalServer> FServer;
};

}  // namespace fp
