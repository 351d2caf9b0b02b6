// The program's application object: Qt's own texts in the program's language, the errors
// that escape an event handler, the hand-over of a second start to the running copy, and
// the end of the display and of the session.
#include "program/ui/uMain.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QThread>
#include <QTranslator>

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "program/app/uConst.h"
#include "program/app/uMessageTexts.h"
#include "program/app/uProgramLog.h"
#include "program/app/uSingleInstance.h"
#include "program/ui/uDialogs.h"

namespace fp {
namespace {

// ---- The end of the display ----

std::function<void(const QString&)> gOnDisplayGone;
QtMessageHandler gPreviousHandler = nullptr;
std::atomic<bool> gEndPlanned{false};
bool gInDisplayGone = false;
bool gExitHookInstalled = false;

// Runs the stop path once, on the main thread, and ends the process without tearing
// anything down (what is left of the display must not be touched again).
void DisplayGoneNow(const QString& Why) {
  if (gInDisplayGone || gEndPlanned || !gOnDisplayGone) return;
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() != app->thread()) return;
  gInDisplayGone = true;
  gOnDisplayGone(Why);
  std::fflush(nullptr);
  std::_Exit(0);
}

void DisplayMessageHandler(QtMsgType Type, const QMessageLogContext& Context, const QString& Message) {
  if (gPreviousHandler)
    gPreviousHandler(Type, Context, Message);
  else
    std::fprintf(stderr, "%s\n", Message.toLocal8Bit().constData());
  if (Type != QtDebugMsg && Type != QtInfoMsg && TDriverApplication::IsDisplayLostWarning(Message))
    DisplayGoneNow(Message);
}

// What no warning announced: an end by exit() from inside a library while the window
// runs. Static objects made after this hook are gone by now; it is the last resort.
void UnplannedExit() { DisplayGoneNow(QStringLiteral("the display's library ended the program without a warning")); }

// ---- The end of the session ----

void (*gOnSessionClosed)() = nullptr;

void SessionIOError(void* /*Connection*/) {
  if (gOnSessionClosed) gOnSessionClosed();
}

}  // namespace

QObject* TDriverApplication::InstallQtTranslations(QCoreApplication& App, const QString& Folder) {
  const QString folder = Folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : Folder;
  auto* translator = new QTranslator(&App);
  // "qt_bg" names the base, widgets and other modules' files together.
  if (!translator->load(QStringLiteral("qt_") + QLatin1String(QtLanguage), folder) &&
      !translator->load(QStringLiteral("qtbase_") + QLatin1String(QtLanguage), folder)) {
    delete translator;
    return nullptr;
  }
  QCoreApplication::installTranslator(translator);
  return translator;
}

TDriverApplication::TDriverApplication(int& Argc, char** Argv) : QApplication(Argc, Argv) {
  InstallQtTranslations(*this);
}

bool TDriverApplication::notify(QObject* Receiver, QEvent* Event) {
  try {
    return QApplication::notify(Receiver, Event);
  } catch (const EAbort&) {
  } catch (const std::exception& e) {
    if (ExceptionHandler) ExceptionHandler(Receiver, ExceptionText(e));
  } catch (...) {
    if (ExceptionHandler) ExceptionHandler(Receiver, QStringLiteral("unknown error"));
  }
  return false;
}

bool TDriverApplication::event(QEvent* Event) {
  if (Event->type() == QEvent::Quit && QuitRequestHandler && QuitRequestHandler()) return true;
  return QApplication::event(Event);
}

// ---------------------------------------------------------------------------------------
// A second start

bool TDriverApplication::HasDisplay() {
  const QString platform = QGuiApplication::platformName();
  return !platform.isEmpty() && platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

int TDriverApplication::HandOverToRunningCopy(TSingleInstance& Instance, const QString& ProgramFile) {
  // The desktop's token of this start lets a Wayland compositor bring the window forward.
  const bool shown = Instance.RaiseRunning(5000, qgetenv("XDG_ACTIVATION_TOKEN"));
  const QString who = Instance.HolderPid() > 0 ? QStringLiteral(" (process %1)").arg(Instance.HolderPid()) : QString();
  const QString line = QStringLiteral("[SingleInstance] Started again: the program already runs from ") + ProgramFile +
                       who +
                       (shown ? QStringLiteral("; it was asked to show its window, and this start ends.")
                              : QStringLiteral(", and its window cannot be shown: ") + Instance.Problem() +
                                    QStringLiteral(". This start ends."));
  std::fprintf(stderr, "DriverFiscalPrinterX4: %s\n", line.toLocal8Bit().constData());
  const QString logDir = QFileInfo(ProgramFile).absolutePath() + QStringLiteral("/Log/");
  try {
    uProgramLog::WriteLog(logDir, line, false);
    if (!shown) uProgramLog::WriteLog(logDir, line, true);
  } catch (const std::exception&) {
    // Without a log folder stderr has said it.
  }
  if (!shown && HasDisplay())
    ShowError(nullptr, QStringLiteral("Програмата вече работи: ") + ProgramFile + who + CR +
                           QStringLiteral("Прозорецът ѝ не може да бъде показан: ") + Instance.Problem());
  return shown ? 0 : 1;
}

// ---------------------------------------------------------------------------------------
// The end of the display and of the session

bool TDriverApplication::IsDisplayLostWarning(const QString& Message) {
  // Qt's words for the X server's and the compositor's broken connection ("The X11
  // connection broke...", "The Wayland connection broke...").
  return Message.contains(QLatin1String("X11 connection broke")) ||
         Message.contains(QLatin1String("Wayland connection broke"));
}

void TDriverApplication::WatchDisplay(std::function<void(const QString& Why)> OnGone) {
  gOnDisplayGone = std::move(OnGone);
  gEndPlanned = false;
  gPreviousHandler = qInstallMessageHandler(DisplayMessageHandler);
  if (!gExitHookInstalled) {
    gExitHookInstalled = true;
    std::atexit(UnplannedExit);
  }
}

void TDriverApplication::EndPlanned() {
  gEndPlanned = true;
  gOnDisplayGone = nullptr;
}

void TDriverApplication::WatchSession(void (*OnClosed)()) {
  gOnSessionClosed = OnClosed;
  // The session's library comes with the platform plugin, if at all; it is not loaded here.
  void* ice = ::dlopen("libICE.so.6", RTLD_NOW | RTLD_NOLOAD);
  if (!ice) return;
  using TIOErrorHandler = void (*)(void*);
  using TSetIOErrorHandler = TIOErrorHandler (*)(TIOErrorHandler);
  if (auto set = reinterpret_cast<TSetIOErrorHandler>(::dlsym(ice, "IceSetIOErrorHandler"))) set(SessionIOError);
  ::dlclose(ice);
}

}  // namespace fp
