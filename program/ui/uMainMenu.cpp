// The main window's menus, the tray icon's pop-up menu and the operator's commands behind
// their items: the printer's tasks, the operator's windows and the logs.
#include "program/ui/uMain.h"

#include <QAction>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

#include <exception>

#include "program/app/uConst.h"
#include "program/ui/uCustomHint.h"
#include "program/ui/uDialogs.h"
#include "program/app/uMessageTexts.h"
#include "program/app/uStrRes.h"
#include "program/app/uProgramLog.h"

namespace fp {
namespace {

using uStrRes::Message;
namespace M = uStrRes;

}  // namespace

// ---------------------------------------------------------------------------------------
// Menus

QAction* TfrmMain::AddItem(QMenu* Menu, const char* Name, const QString& Caption, void (TfrmMain::*Handler)()) {
  auto* a = new QAction(Caption, this);
  a->setObjectName(QString::fromLatin1(Name));
  if (Handler) connect(a, &QAction::triggered, this, [this, Handler] { (this->*Handler)(); });
  Menu->addAction(a);
  return a;
}

void TfrmMain::BuildMenus() {
  auto menu = [](QWidget* parent, const char* name, const QString& title) {
    auto* m = new QMenu(title, parent);
    m->setObjectName(QString::fromLatin1(name));
    // The note never covers a menu of the program (the tray's menu comes up where the
    // notes do).
    QObject::connect(m, &QMenu::aboutToShow, m, [] { uCustomHint::MenuOpened(); });
    QObject::connect(m, &QMenu::aboutToHide, m, [] { uCustomHint::MenuClosed(); });
    return m;
  };
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu"));

  QMenu* file = menu(this, "MainMenuFile", QStringLiteral("&Файл"));
  AddItem(file, "MainMenuExit", QStringLiteral("&Прекрати"), &TfrmMain::MainMenuExitClick);
  AddItem(file, "mnHide", QStringLiteral("Скрий в трея"), &TfrmMain::HideInTray);
  bar->addMenu(file);

  QMenu* funcs = menu(this, "mnFuncs", QStringLiteral("Функции"));
  AddItem(funcs, "mnPRNInfo", QStringLiteral("Инфо за апарата"), &TfrmMain::mnPRNInfoClick);
  funcs->addSeparator();
  AddItem(funcs, "mnDayReportReset", QStringLiteral("Дневен отчет С Нулиране"), &TfrmMain::mnDayReportResetClick);
  AddItem(funcs, "mnDayReportNoReset", QStringLiteral("Дневен отчет БЕЗ Нулиране"), &TfrmMain::mnDayReportNoResetClick);
  QMenu* n9 = menu(funcs, "N9", QStringLiteral("Дневен отчет по департаменти"));
  AddItem(n9, "mnDepartRpt", QStringLiteral("Отчет БЕЗ нулиране"), &TfrmMain::mnDepartRptClick);
  AddItem(n9, "mnDepartRptReset", QStringLiteral("Отчет с нулиране"), &TfrmMain::mnDepartRptResetClick);
  funcs->addMenu(n9);
  AddItem(funcs, "mnFiskMemory", QStringLiteral("Отчет фиск.памет"), &TfrmMain::mnFiskMemoryClick);
  funcs->addSeparator();
  QMenu* n3 = menu(funcs, "N3", QStringLiteral("Въвеждане/Извеждане на суми"));
  AddItem(n3, "NSumIn", QStringLiteral("Служебно въвеждане"), &TfrmMain::NSumInClick);
  AddItem(n3, "NSumOut", QStringLiteral("Служебно извеждане"), &TfrmMain::NSumOutClick);
  funcs->addMenu(n3);
  funcs->addSeparator();
  AddItem(funcs, "spbEmptyBon", QStringLiteral("Печат на празен бон"), &TfrmMain::spbEmptyBonClick);
  AddItem(funcs, "CopyLastBon", QStringLiteral("Копие на последен бон"), &TfrmMain::CopyLastBonClick);
  funcs->addSeparator();
  AddItem(funcs, "mnDepartments", QStringLiteral("Департаменти"), &TfrmMain::mnDepartmentsClick);
  funcs->addSeparator();
  AddItem(funcs, "spbTestPrn", QStringLiteral("Печат на тест"), &TfrmMain::spbTestPrnClick);
  AddItem(funcs, "mnDoFiles", QStringLiteral("Печат на файлове"), &TfrmMain::mnDoFilesClick);
  bar->addMenu(funcs);

  QMenu* options = menu(this, "MainMenuOptions", QStringLiteral("&Опции"));
  AddItem(options, "MainMenuPreferences", QStringLiteral("Настройки"), &TfrmMain::MainMenuPreferencesClick);
  AddItem(options, "mnPayTypesRel", QStringLiteral("Типове плащане - съответствие "), &TfrmMain::mnPayTypesRelClick);
  bar->addMenu(options);

  QMenu* log = menu(this, "Log1", QStringLiteral("Журнал"));
  AddItem(log, "mnShowLog", QStringLiteral("Покажи лог"), &TfrmMain::mnShowLogClick);
  AddItem(log, "mnShowErrorLog", QStringLiteral("Покажи лог.грешки"), &TfrmMain::mnShowErrorLogClick);
  AddItem(log, "mnShowAppData", QStringLiteral("Отвори папката"), &TfrmMain::mnShowAppDataClick);
  bar->addMenu(log);

  QMenu* help = menu(this, "MainMenuHelp", QStringLiteral("&Помощ"));
  AddItem(help, "MainMenuAbout", QStringLiteral("&За програмата"), &TfrmMain::MainMenuAboutClick);
  bar->addMenu(help);

  PopupMenu1 = menu(this, "PopupMenu1", QString());
  // The tray's menu speaks the program's language, as the window's menus do.
  AddItem(PopupMenu1, "PMenuConfig", QStringLiteral("Покажи прозореца"), &TfrmMain::ShowMainWindow);
  AddItem(PopupMenu1, "PMenuMinimize", QStringLiteral("Скрий в трея"), &TfrmMain::HideInTray);
  QMenu* pHelp = menu(PopupMenu1, "PMenuHelp", QStringLiteral("Помощ"));
  AddItem(pHelp, "PMenuAbout", QStringLiteral("За програмата"), &TfrmMain::PMenuAboutClick);
  PopupMenu1->addMenu(pHelp);
  PopupMenu1->addSeparator();
  QAction* exit = AddItem(PopupMenu1, "PMenuExit", QStringLiteral("Прекрати"), &TfrmMain::MainMenuExitClick);
  exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

QAction* TfrmMain::MenuItem(const QString& Name) const { return findChild<QAction*>(Name); }

// ---------------------------------------------------------------------------------------
// Operator commands

void TfrmMain::StartWithSuccessMessage(TTaskKind Kind, TDailyReport Report) {
  if (FRunner.StartTask(Kind, Report)) FRunner.SetShowSuccess(true);
}

void TfrmMain::mnPRNInfoClick() { StartWithSuccessMessage(tkPrinterInfo); }
void TfrmMain::mnDayReportResetClick() { StartWithSuccessMessage(tkXZReport, TDailyReport::Z); }
void TfrmMain::mnDayReportNoResetClick() { StartWithSuccessMessage(tkXZReport, TDailyReport::X); }
void TfrmMain::mnDepartRptResetClick() { StartWithSuccessMessage(tkDepartmentReportReset); }
void TfrmMain::mnDepartRptClick() { StartWithSuccessMessage(tkDepartmentReport); }
void TfrmMain::mnFiskMemoryClick() { StartWithSuccessMessage(tkReportByBlock); }
void TfrmMain::spbPrintFMReportClick() { FRunner.StartTask(tkReportByDates); }
// The amount's task asks for the success message itself once the amount is valid.
void TfrmMain::NSumInClick() { FRunner.StartTask(tkSumIn); }
void TfrmMain::NSumOutClick() { FRunner.StartTask(tkSumOut); }
void TfrmMain::spbEmptyBonClick() { StartWithSuccessMessage(tkPrintEmptyBon); }
void TfrmMain::spbTestPrnClick() { FRunner.StartTask(tkPrintTest); }
void TfrmMain::CopyLastBonClick() {
  if (!AskYesNo(this, Message(M::S_Confirm) + CR + Message(M::S_CopyBonConfirm))) return;
  StartWithSuccessMessage(tkCopyBon);
}
void TfrmMain::mnDoFilesClick() { StartWithSuccessMessage(tkReadFiles); }

void TfrmMain::mnDepartmentsClick() {
  if (FServices.Windows) FServices.Windows->EditDepartments(*this);
}

void TfrmMain::MainMenuPreferencesClick() {
  try {
    if (FServices.Windows) FServices.Windows->EditSettings(*this);
  } catch (const EAbort&) {
  } catch (const std::exception& e) {
    ApplicationException(this, ExceptionText(e));
  }
}

void TfrmMain::mnPayTypesRelClick() {
  if (FServices.Windows) FServices.Windows->EditPayTypes(*this);
}

void TfrmMain::MainMenuAboutClick() {
  if (FServices.Windows) FServices.Windows->ShowAbout(*this);
}

void TfrmMain::PMenuAboutClick() {
  ShowMainWindow();
  MainMenuAboutClick();
}

void TfrmMain::OpenWithDesktop(const QString& Path) {
  // Without a desktop program for it (no file manager or text viewer set up) the operator
  // is told where the file is, so it can be opened by hand.
  if (!FServices.OpenUrl || !FServices.OpenUrl(QUrl::fromLocalFile(Path))) {
    AddToLog(QStringLiteral("[OpenWithDesktop] No program could be started to show ") + Path);
    ShowWarning(this, ViewerFailedText + CR + Path);
  }
}

void TfrmMain::OpenLogFile(const QString& FileName) {
  const QString file = LogDir + FileName;
  if (QFileInfo::exists(file)) {
    OpenWithDesktop(file);
  } else {
    ShowWarning(this, Message(M::LogFileNotFound) + CR + file);
  }
}

void TfrmMain::mnShowLogClick() { OpenLogFile(QString::fromLatin1(uProgramLog::NormalLogName)); }
void TfrmMain::mnShowErrorLogClick() { OpenLogFile(QString::fromLatin1(uProgramLog::ExceptionLogName)); }
void TfrmMain::mnShowAppDataClick() { OpenWithDesktop(LogDir); }

}  // namespace fp
