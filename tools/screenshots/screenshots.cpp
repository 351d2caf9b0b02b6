// Takes a picture of each window of the program, shown on Qt's offscreen platform with
// the data its tests use, and saves it as <folder>/<Name>.png:
//
//   screenshots <folder>
//
// The pictures are for people (a review of the look, the manual); the tests check what
// the pictures would show. Built with the tests, whose fakes it uses.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "program/app/uConst.h"
#include "program/app/uProgramInfo.h"
#include "program/ui/AboutDialog.h"
#include "program/ui/OperatorWindowsTestSupport.h"
#include "program/ui/PayTypesRelation.h"
#include "program/ui/uDepartments.h"
#include "program/ui/uDialogs.h"
#include "program/ui/uEditDepartment.h"
#include "program/ui/uMainTestSupport.h"
#include "program/ui/uSelectDate.h"
#include "program/ui/uSettings.h"
#include "tests/support/PortTestSupport.h"

namespace fp {
namespace {

// Shows the window, lets its layouts settle and saves its picture; false when not saved.
bool Save(QWidget& Window, const QString& Folder, const QString& Name) {
  if (!Window.isVisible()) Window.show();
  QCoreApplication::processEvents();
  const QString file = QDir(Folder).filePath(Name + QStringLiteral(".png"));
  if (Window.grab().save(file, "PNG")) return true;
  std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
  return false;
}

// The main window over the fixture of its tests, filled with a printer's details.
class TMainWindowShot : public test::MainWindowTest {
 public:
  bool Take(const QString& Folder) {
    SetUp();
    TfrmMain& f = MakeRunningWindow();
    f.GetPrnInfo(test::SamplePrinterInfo());
    const bool ok = Save(f, Folder, QStringLiteral("frmMain"));
    TearDown();
    return ok;
  }

 private:
  void TestBody() override {}
};

// The operator's windows over the fake main window, in a program folder of their own.
bool TakeOperatorWindows(const QString& Folder) {
  QTemporaryDir appDir;
  uProgramInfo::SetAppDir(appDir.path() + QStringLiteral("/"));
  TScriptedDialogs script;
  TScopedDialogs scripted{script};
  test::TFakeMain main;
  bool ok = true;
  {
    TAboutDlg dlg;
    dlg.lblProgName->setText(AboutDialog::ProgramLine(uProgramInfo::ProgramFilePath(), uProgramInfo::GetFileVersion()));
    dlg.lblVerCOM->setText(main.DriverVersion);
    ok &= Save(dlg, Folder, QStringLiteral("AboutDlg"));
  }
  {
    TfrmSelectPeriod f;
    ok &= Save(f, Folder, QStringLiteral("frmSelectPeriod"));
  }
  {
    TfrmDepartmets frm(&main.Window);
    frm.IniFileName = appDir.filePath(QStringLiteral("DriverFiscalPrinterX4.ini"));
    for (const TDepartmentRow& r : test::SampleDepartments()) frm.AddDepartment(r);
    ok &= Save(frm, Folder, QStringLiteral("frmDepartmets"));
    TfrmEditDepartment ed;
    ed.ShowRow(test::SampleDepartments()[0]);
    ok &= Save(ed, Folder, QStringLiteral("frmEditDepartment"));
  }
  {
    test::TScopedTempRegistry registry;
    test::TScopedFakeDevices devices{test::ThreePorts()};
    uConst::SetCashierPas(QString());
    uConst::SetBonFileExt(QStringLiteral("bon"));
    uConst::SetUsePluAsDepartNo(false);
    main.Values.SearchPath = appDir.path();
    main.Values.BaudRate = 115200;
    TfrmSettings frm(main, &main.Window);
    frm.LoadFrom(main.Values);
    ok &= Save(frm, Folder, QStringLiteral("frmSettings"));
  }
  {
    uConst::SetPayTypePairs({{2, 5}});
    TPayTypeRelations f;
    ok &= Save(f, Folder, QStringLiteral("PayTypeRelations"));
    uConst::SetPayTypePairs({});
  }
  uProgramInfo::SetAppDir(QString());
  return ok;
}

int Run(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QString folder = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "cannot make %s\n", argv[1]);
    return 1;
  }
  bool ok = TMainWindowShot().Take(folder);
  ok &= TakeOperatorWindows(folder);
  uCustomHint::ReleaseCustomHint();
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace fp

int main(int argc, char** argv) { return fp::Run(argc, argv); }
