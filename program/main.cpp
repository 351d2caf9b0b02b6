// The program block of the driver program: one instance per program file, the main
// window, the message loop.
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>

#include "program/app/uConst.h"
#include "program/ui/uCustomHint.h"
#include "program/ui/uDesktopNotification.h"
#include "program/ui/uMain.h"
#include "program/app/uSingleInstance.h"
#include "program/app/uProgramInfo.h"
#include "platform/com/ComRuntime.h"

namespace {

// The stop signals (log-out, shutdown, kill, Ctrl+C) reach the event loop through a pipe:
// the handler only writes the signal's number, the loop reads it and exits the program as
// its menu does, without the question. The end of the session (its manager's connection
// closed) comes the same way.
int gSignalPipe[2] = {-1, -1};
constexpr unsigned char kSessionClosed = 0xFF;

void OnStopSignal(int Signal) {
  const int saved = errno;
  const unsigned char b = static_cast<unsigned char>(Signal);
  [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &b, 1);
  errno = saved;
}

bool InstallStopSignals() {
  if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP})
    if (::sigaction(sig, &sa, nullptr) != 0) return false;
  return true;
}

QString SignalName(int Signal) {
  switch (Signal) {
    case SIGTERM: return QStringLiteral("SIGTERM");
    case SIGINT: return QStringLiteral("SIGINT");
    case SIGHUP: return QStringLiteral("SIGHUP");
    case kSessionClosed: return QStringLiteral("The end of the session (its manager closed the connection)");
    default: return QStringLiteral("signal");
  }
}

}  // namespace

int main(int argc, char** argv) {
  // A peer that has closed its end (the session manager at log-out) makes a write fail
  // with EPIPE instead of ending the process in the middle of a receipt.
  ::signal(SIGPIPE, SIG_IGN);
  fp::TDriverApplication app(argc, argv);
  // The window closes to the tray; the program ends only by its exit command.
  app.setQuitOnLastWindowClosed(false);

  const QString program = fp::uProgramInfo::ProgramFilePath();
  fp::TSingleInstance instance(program);
  if (instance.Acquire() == fp::TSingleInstance::TStart::AnotherCopyRuns) {
    // Started again from the same file: the running one shows its window, this one ends.
    return fp::TDriverApplication::HandOverToRunningCopy(instance, program);
  }

  fp::CoInitialize(nullptr);
  // On Wayland the notes go to the desktop's notification service where one runs.
  if (fp::uDesktopNotification::WantsService(QGuiApplication::platformName()))
    fp::uCustomHint::SetNoteSender(fp::uDesktopNotification::NoteSender(fp::TfrmMain::TrayHint));
  int rc = 0;
  {
    fp::TfrmMain frmMain(fp::DefaultMainServices(app.arguments().mid(1)));
    if (!instance.Problem().isEmpty()) {
      // The start goes on: printing matters more than the guard against a second copy.
      std::fprintf(stderr, "DriverFiscalPrinterX4: %s\n", instance.Problem().toLocal8Bit().constData());
      frmMain.AddToErrorLog(QStringLiteral("[SingleInstance] ") + instance.Problem());
    }
    instance.OnRaise = [&frmMain](const QByteArray& token) { frmMain.ShowForSecondStart(token); };
    app.ExceptionHandler = [&frmMain](QObject* sender, const QString& message) {
      frmMain.ApplicationException(sender, message);
    };
    app.QuitRequestHandler = [&frmMain] { return frmMain.QuitRequested(); };
    std::unique_ptr<QSocketNotifier> stopNotifier;
    if (InstallStopSignals()) {
      stopNotifier = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
      QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, &frmMain, [&frmMain] {
        unsigned char b = 0;
        while (::read(gSignalPipe[0], &b, 1) == 1) frmMain.ExitBySignal(SignalName(b));
      });
      fp::TDriverApplication::WatchSession([] { OnStopSignal(kSessionClosed); });
    }
    // The print job needs no display: when the display goes away, the receipt in print is
    // finished as on a stop signal, and the process ends then.
    fp::TDriverApplication::WatchDisplay([&frmMain](const QString& why) { frmMain.DisplayGone(why); });
    frmMain.show();
    QTimer::singleShot(0, &frmMain, [&frmMain] { frmMain.FormActivate(); });
    rc = app.exec();
    fp::TDriverApplication::EndPlanned();
    stopNotifier.reset();
    app.ExceptionHandler = nullptr;
    app.QuitRequestHandler = nullptr;
    instance.OnRaise = nullptr;
  }
  fp::uCustomHint::SetNoteSender({});
  fp::uCustomHint::ReleaseCustomHint();
  fp::CoFreeUnusedLibraries();
  fp::CoUninitialize();
  return rc;
}
