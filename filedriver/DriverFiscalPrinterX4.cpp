// The program block of the driver program: one instance per program file, the main
// window, the message loop.
#include <QTimer>

#include "filedriver/uConst.h"
#include "filedriver/uCustomHint.h"
#include "filedriver/uMain.h"
#include "filedriver/uSingleInstance.h"
#include "platform/com/ComRuntime.h"

int main(int argc, char** argv) {
  fp::TDriverApplication app(argc, argv);
  // The window closes to the tray; the program ends only by its exit command.
  app.setQuitOnLastWindowClosed(false);

  const QString program = fp::uConst::ProgramFilePath();
  fp::TSingleInstance instance(program);
  if (!instance.Acquire()) {
    // Started again from the same file: bring the running one to the front and end.
    instance.RaiseRunning();
    return 0;
  }

  fp::CoInitialize(nullptr);
  int rc = 0;
  {
    fp::TfrmMain frmMain(fp::DefaultMainServices(app.arguments().mid(1)));
    instance.OnRaise = [&frmMain] { frmMain.ShowMainWindow(); };
    app.ExceptionHandler = [&frmMain](QObject* sender, const QString& message) {
      frmMain.ApplicationException(sender, message);
    };
    frmMain.show();
    QTimer::singleShot(0, &frmMain, [&frmMain] { frmMain.FormActivate(); });
    rc = app.exec();
    app.ExceptionHandler = nullptr;
    instance.OnRaise = nullptr;
  }
  fp::uCustomHint::ReleaseCustomHint();
  fp::CoFreeUnusedLibraries();
  fp::CoUninitialize();
  return rc;
}
