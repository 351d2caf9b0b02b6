#include "program/ui/uMain.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTranslator>
#include <QVBoxLayout>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <clocale>
#include <cmath>
#include <exception>

#include "program/ui/MarqueeProgressBar.h"
#include "program/app/PathNamesQt.h"
#include "program/app/uConst.h"
#include "program/ui/uCustomHint.h"
#include "program/ui/uDialogs.h"
#include "program/ui/uMainImages.h"
#include "program/app/uMessageTexts.h"
#include "program/app/uStrRes.h"
#include "program/app/uProgramInfo.h"
#include "program/app/uProgramLog.h"
#include "platform/FileOps.h"
#include "platform/SysErrorText.h"

namespace fp {
namespace {

using uStrRes::Message;
namespace M = uStrRes;
using uTaskRunner::WholeSecondsBetween;

QString Count(int32_t n) { return QStringLiteral(": %1").arg(n); }

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, bool bold = false) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QString::fromLatin1(name));
  if (bold) {
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
  }
  return l;
}

QFrame* MakePanel(QWidget* parent, const char* name, int height, bool white) {
  auto* f = new QFrame(parent);
  f->setObjectName(QString::fromLatin1(name));
  f->setFrameShape(QFrame::StyledPanel);
  f->setFrameShadow(QFrame::Raised);
  f->setFixedHeight(height);
  if (white) {
    f->setAutoFillBackground(true);
    QPalette p = f->palette();
    p.setColor(QPalette::Window, Qt::white);
    f->setPalette(p);
  }
  return f;
}

void SetTextColor(QLabel* l, const QColor& c) {
  QPalette p = l->palette();
  p.setColor(QPalette::WindowText, c);
  l->setPalette(p);
}

void SetNormalColor(QLabel* l) { l->setPalette(QPalette()); }

}  // namespace

// ---------------------------------------------------------------------------------------
// Creation

const QString TfrmMain::TrayHint = QStringLiteral("Драйвер за фискален принтер");
const QString TfrmMain::FolderMissingText = QStringLiteral("Папката не е открита");
const QString TfrmMain::FolderUnreadableText = QStringLiteral("Няма достъп за четене до папката");
const QString TfrmMain::FolderUnwritableText = QStringLiteral("Няма достъп за запис в папката");
const QString TfrmMain::ViewerFailedText = QStringLiteral("Няма програма, с която да се отвори");

QString TfrmMain::TitleFor(const QString& ProgramFile) {
  return QStringLiteral("MIRAVOK FP driver (") + ProgramFile + QStringLiteral(")");
}

TfrmMain::TfrmMain(TMainServices Services, QWidget* Parent)
    : QMainWindow(Parent),
      FServices(std::move(Services)),
      FRunner(
          TTaskRunnerServices{
              [this] { return Now(); },
              [this](const TTaskRequest& r) -> std::unique_ptr<ITaskThread> {
                return FServices.CreateTask ? FServices.CreateTask(r) : nullptr;
              },
              [this](const QString& line) { AddToLog(line); },
              [this](const QString& line) { AddToErrorLog(line); },
              FServices.ReadyAgeMs,
              FServices.MonotonicMs,
          },
          FSettings, *this) {
  if (!FServices.Now) FServices.Now = [] { return QDateTime::currentDateTime(); };
  if (!FServices.TrayAvailable) FServices.TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
  if (!FServices.Terminate) FServices.Terminate = [](int code) { QCoreApplication::exit(code); };
  if (!FServices.Quit) FServices.Quit = [] { QCoreApplication::quit(); };
  FProgramFile = FServices.ProgramFile.isEmpty() ? uProgramInfo::ProgramFilePath() : FServices.ProgramFile;
  setObjectName(QStringLiteral("frmMain"));
  BuildWindow();
  FileReadTimer.setInterval(1000);
  connect(&FileReadTimer, &QTimer::timeout, this, &TfrmMain::FileReadTimerTimer);
  SettleTimer.setSingleShot(true);
  SettleTimer.setTimerType(Qt::PreciseTimer);
  connect(&SettleTimer, &QTimer::timeout, this, [this] {
    if (FileReadTimer.isActive()) FileReadTimerTimer();
  });
  FormCreate();
}

TfrmMain::~TfrmMain() {
  FileReadTimer.stop();
  SettleTimer.stop();
  // No worker event may reach the window from here on; each worker is waited for.
  FRunner.ReleaseWorkers();
  SetHourglass(false);
}

void TfrmMain::BuildWindow() {
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  auto* client = new QWidget(this);
  auto* v = new QVBoxLayout(client);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(0);

  // Current task.
  Panel1 = MakePanel(client, "Panel1", 81, true);
  {
    auto* h = new QHBoxLayout(Panel1);
    h->setContentsMargins(8, 4, 8, 4);
    imgLogo = MakeLabel(Panel1, "imgLogo", QString());
    imgLogo->setPixmap(uMainImages::LogoPicture());
    imgLogo->setFixedSize(68, 68);
    h->addWidget(imgLogo);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(1);
    lblCurrentTaskHdr = MakeLabel(Panel1, "lblCurrentTaskHdr", QStringLiteral("Текуща задача"), true);
    lblCurrentTaskName = MakeLabel(Panel1, "lblCurrentTaskName", QString());
    lbCurrentStatus = MakeLabel(Panel1, "lbCurrentStatus", QString());
    lblComError = MakeLabel(Panel1, "lblComError", QString());
    SetTextColor(lblComError, Qt::red);
    lblComError->hide();
    texts->addWidget(lblCurrentTaskHdr);
    texts->addWidget(lblCurrentTaskName);
    texts->addWidget(lbCurrentStatus);
    texts->addWidget(lblComError);
    texts->addStretch(1);
    h->addLayout(texts, 1);
    imgError = MakeLabel(Panel1, "imgError", QString());
    imgError->setPixmap(uMainImages::ErrorPicture());
    imgError->hide();
    h->addWidget(imgError, 0, Qt::AlignTop);
  }
  v->addWidget(Panel1);

  // Last task.
  Panel2 = MakePanel(client, "Panel2", 80, false);
  {
    auto* t = new QVBoxLayout(Panel2);
    t->setContentsMargins(84, 4, 8, 4);
    t->setSpacing(1);
    lblLastTaskHdr = MakeLabel(Panel2, "lblLastTaskHdr", QStringLiteral("Последна задача"), true);
    lblLastTaskName = MakeLabel(Panel2, "lblLastTaskName", QString());
    lblLastTaskResult = MakeLabel(Panel2, "lblLastTaskResult", QString());
    t->addWidget(lblLastTaskHdr);
    t->addWidget(lblLastTaskName);
    t->addWidget(lblLastTaskResult);
    t->addStretch(1);
  }
  v->addWidget(Panel2);

  // Printer data.
  pnl = MakePanel(client, "pnl", 152, false);
  {
    auto* g = new QGridLayout(pnl);
    g->setContentsMargins(12, 6, 12, 6);
    g->setHorizontalSpacing(16);
    g->setVerticalSpacing(2);
    Label1 = MakeLabel(pnl, "Label1", QStringLiteral("Данни за устройството"), true);
    g->addWidget(Label1, 0, 0, 1, 2);
    struct Row {
      QLabel** caption;
      const char* captionName;
      QString text;
      QLabel** value;
      const char* valueName;
    };
    const Row rows[] = {
        {&LabelPrinterName, "LabelPrinterName", QStringLiteral("Модел"), &lblModelName, "lblModelName"},
        {&LabelSerialNo, "LabelSerialNo", QStringLiteral("Сериен номер"), &lblSerialNo, "lblSerialNo"},
        {&LabelFiscalNom, "LabelFiscalNom", QStringLiteral("Фискален номер"), &lblFMNom, "lblFMNom"},
        {&LabelLastDoc, "LabelLastDoc", QStringLiteral("Номер на последния документ"), &lblLastDoc, "lblLastDoc"},
        {&LabelLastInvoice, "LabelLastInvoice", QStringLiteral("Номер на последната фактура"), &lblNextInvNo,
         "lblNextInvNo"},
        {&LabelColumnCount, "LabelColumnCount", QStringLiteral("Брой колони"), &lblColumnCount, "lblColumnCount"},
    };
    int r = 1;
    for (const Row& row : rows) {
      *row.caption = MakeLabel(pnl, row.captionName, row.text);
      *row.value = MakeLabel(pnl, row.valueName, QStringLiteral("-"), true);
      g->addWidget(*row.caption, r, 0);
      g->addWidget(*row.value, r, 1);
      ++r;
    }
    g->setColumnStretch(1, 1);
    g->setRowStretch(r, 1);
  }
  v->addWidget(pnl);

  chkProcessPause = new QCheckBox(QStringLiteral("Пауза печат на файлове"), client);
  chkProcessPause->setObjectName(QStringLiteral("chkProcessPause"));
  chkProcessPause->setContentsMargins(8, 0, 0, 0);
  connect(chkProcessPause, &QCheckBox::clicked, this, [this] { chkProcessPauseClick(); });
  auto* pauseRow = new QHBoxLayout();
  pauseRow->setContentsMargins(8, 2, 8, 2);
  pauseRow->addWidget(chkProcessPause);
  v->addLayout(pauseRow);
  v->addStretch(1);
  setCentralWidget(client);

  // Status bar: port, speed, state text, busy bar.
  stTask = new QStatusBar(this);
  stTask->setObjectName(QStringLiteral("stTask"));
  stTask->setSizeGripEnabled(false);
  FStatus = stTask;
  const int widths[3] = {60, 60, 200};
  for (int i = 0; i < 3; ++i) {
    FPanels[i] = new QLabel(stTask);
    FPanels[i]->setFixedWidth(widths[i]);
    FPanels[i]->setFrameShape(QFrame::Panel);
    FPanels[i]->setFrameShadow(QFrame::Sunken);
    if (i < 2) FPanels[i]->setAlignment(Qt::AlignCenter);
    stTask->addWidget(FPanels[i]);
  }
  MarqueeBar = new TMarqueeProgressBar(stTask);
  stTask->addWidget(MarqueeBar, 1);
  setStatusBar(stTask);

  BuildMenus();

  // Tray icon and pictures.
  TrayIcons[0] = uMainImages::TrayIconNormal();
  TrayIcons[1] = uMainImages::TrayIconOffline();
  TrayIcons[2] = uMainImages::TrayIconFolderFault();
  HintImages = uMainImages::HintImages();
  setWindowIcon(TrayIcons[0]);
  TrayIcon = new QSystemTrayIcon(TrayIcons[0], this);
  TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
  TrayIcon->setToolTip(TrayHint);
  TrayIcon->setContextMenu(PopupMenu1);
  connect(TrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::DoubleClick) TrayIconDblClick();
  });
  if (FServices.TrayAvailable()) TrayIcon->show();

  const int menuHeight = menuBar()->sizeHint().height();
  setFixedSize(515, 358 + menuHeight);
  // The window comes up centred on the screen.
  if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->availableGeometry().center() - rect().center());
}

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
  AddItem(funcs, "mnDayReportNoReset", QStringLiteral("Дневен отчет БЕЗ Нулиране"),
          &TfrmMain::mnDayReportNoResetClick);
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
  AddItem(PopupMenu1, "PMenuConfig", QStringLiteral("Maximize"), &TfrmMain::ShowMainWindow);
  AddItem(PopupMenu1, "PMenuMinimize", QStringLiteral("Minimize"), &TfrmMain::HideInTray);
  QMenu* pHelp = menu(PopupMenu1, "PMenuHelp", QStringLiteral("Помощ"));
  AddItem(pHelp, "PMenuAbout", QStringLiteral("За програмата"), &TfrmMain::PMenuAboutClick);
  PopupMenu1->addMenu(pHelp);
  PopupMenu1->addSeparator();
  QAction* exit = AddItem(PopupMenu1, "PMenuExit", QStringLiteral("Прекрати"), &TfrmMain::MainMenuExitClick);
  exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

QAction* TfrmMain::MenuItem(const QString& Name) const { return findChild<QAction*>(Name); }

QString TfrmMain::StatusText(int Panel) const {
  return Panel >= 0 && Panel < 3 && FPanels[Panel] ? FPanels[Panel]->text() : QString();
}

void TfrmMain::SetStatusText(int Panel, const QString& Text) {
  if (Panel >= 0 && Panel < 3 && FPanels[Panel]) FPanels[Panel]->setText(Text);
}

QDateTime TfrmMain::Now() const { return FServices.Now(); }

QString TfrmMain::SettingsFile() const { return SettingsFilePath(uProgramInfo::AppDir(), FProgramFile); }

void TfrmMain::FormCreate() {
  try {
    setWindowTitle(TitleFor(FProgramFile));
    // The application object took the user's locale; numbers are written and read with
    // "." as decimal separator everywhere in the process.
    std::setlocale(LC_NUMERIC, "C");
    uProgramInfo::SetAppDir(WithSlash(QFileInfo(FProgramFile).absolutePath()));
    LogDir = uProgramInfo::AppDir() + QStringLiteral("Log/");
    FRunner.SetLogDir(LogDir);
    QDir().mkpath(LogDir);
    LoadSettings(SettingsFile());
    ApplyCommandLine(FServices.Arguments, FSettings);
    FRunner.Departments().clear();
    AddToLog(QStringLiteral("RERIvovoveRuvevu v.") + uProgramInfo::GetFileVersion() + QStringLiteral(" started!"));
    AddToLog(QString(55, QLatin1Char('-')));
    AddToLog(QStringLiteral(" "));
    QDir().mkpath(uProgramInfo::AppDir() + QString::fromLatin1(uStrRes::TranslationsFolder));
    uStrRes::LoadMessages();
    uStrRes::TranslateForm(QString::fromLatin1(uStrRes::LngFileName), this);
    lblCurrentTaskName->setText(Message(M::NoActiveTask));
    lbCurrentStatus->setText(QStringLiteral("-"));
    SetStatusText(0, QStringLiteral("COM%1").arg(FSettings.ComPort));
    SetStatusText(1, QString::number(FSettings.BaudRate));
    MarqueeBar->SetActive(false);
    FRunner.SetShowSuccess(false);
    FirstActivation = true;
    SetStatusText(2, IdleStatusText());
    FRunner.SetLastCheckTime(QDateTime());
    CloseAllowed = false;
  } catch (const std::exception& e) {
    AddToErrorLog(QStringLiteral("[FormCreate]") + ExceptionText(e));
    ShowWarning(this, QStringLiteral("Can not initialize fiscal printer interface.\r\n") + ExceptionText(e));
  }
}

void TfrmMain::LoadSettings(const QString& IniPath) {
  QString writeError;
  const QStringList replaced = fp::LoadSettings(IniPath, FSettings, &writeError);
  for (const QString& line : replaced) AddToErrorLog(QStringLiteral("[LoadSettings] ") + line);
  if (!writeError.isEmpty()) {
    // The defaults are used from memory; the start goes on.
    AddToErrorLog(QStringLiteral("[LoadSettings] ") + writeError);
    FStartProblem = writeError;
  }
}

void TfrmMain::SaveSettings(const QString& IniPath) {
  try {
    fp::SaveSettings(IniPath, FSettings);
  } catch (const std::exception& e) {
    AddToErrorLog(QStringLiteral("[SaveSettings] ") + ExceptionText(e));
    // Closing by a stop signal nobody waits at the screen: the program ends all the same.
    if (!FSignalExit) ShowErrorMessage();
  }
}

// ---------------------------------------------------------------------------------------
// First activation

void TfrmMain::FormActivate() {
  if (!FirstActivation || FInFirstActivation || FTerminated) return;
  // The dialogs of the first start activate the window again when they close.
  FInFirstActivation = true;
  // The settings and the logs live in the program folder: without them the program cannot
  // run, and the operator (or whoever started it) is told which folder and why.
  if (const TFolderFault fault = FRunner.ProgramFolderFault()) {
    const QString why = QString::fromStdString(fp::SysErrorText(fault.Error != 0 ? fault.Error : EACCES));
    std::fprintf(stderr,
                 "DriverFiscalPrinterX4: cannot write to the folder %s (%s); the program keeps its settings and "
                 "logs in its own folder: install it into a folder its user owns.\n",
                 QFile::encodeName(fault.Folder).constData(), why.toLocal8Bit().constData());
    ShowMainWindow();
    ShowError(this, Message(M::CantWrite) + CR + fault.Folder + CR + why);
    FTerminated = true;
    FServices.Terminate(1);
    return;
  }
  // A receipt folder that cannot be used (a share not mounted yet) is the folder fault the
  // running program shows; printing starts once it can be used.
  FRunner.CheckReceiptFolder();
  if (QDir(LogDir).exists()) DeleteOldLog(LogDir, QStringLiteral("*.txt"));
  const QString bon = FSettings.SearchPath.trimmed();
  if (!bon.isEmpty() && !FRunner.FolderFault()) {
    // A left claim ("*.$$$") is not removed however old its stamp (the claim keeps the
    // receipt file's): it is the only record of a receipt whose outcome is unknown, and the
    // next file job turns it into an ".unk" file.
    DeleteOldLog(FSettings.SearchPath, QStringLiteral("*.err"));
    DeleteOldLog(FSettings.SearchPath, QStringLiteral("*.rep"));
  }
  FirstStart();
  FInFirstActivation = false;
}

bool TfrmMain::CheckMyDirWritable(bool Show) { return FRunner.CheckMyDirWritable(Show); }

void TfrmMain::DeleteOldLog(const QString& Folder, const QString& Mask) {
  try {
    QString folder = Folder.trimmed().isEmpty() ? Folder : WithSlash(Folder);
    QDir dir(folder);
    if (folder.isEmpty() || !dir.exists()) return;
    const QDateTime now = Now();
    const QDir::Filters filter = QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    // The logs being written are never deleted, however old their stamp.
    const bool logFolder = QDir(folder).absolutePath() == QDir(LogDir).absolutePath();
    auto inUse = [logFolder](const QString& name) {
      return logFolder && (name == QLatin1String(uProgramLog::NormalLogName) || name == QLatin1String(uProgramLog::ExceptionLogName));
    };
    auto ageDays = [&now](const QFileInfo& fi) {
      return static_cast<double>(fi.lastModified().msecsTo(now)) / 86400000.0;
    };
    // When even the newest file of the folder looks older than the limit, it is the clock
    // that jumped ahead, not the files that aged: nothing is deleted.
    double newest = -1;
    bool any = false;
    for (const QFileInfo& fi : dir.entryInfoList(filter)) {
      const double age = ageDays(fi);
      if (!any || age < newest) newest = age;
      any = true;
    }
    if (!any) return;
    if (newest > uConst::KeepFilesDays) {
      // One line for the folder, however many masks are cleaned up in it.
      if (FCleanUpSkipped.contains(folder)) return;
      FCleanUpSkipped << folder;
      AddToLog(QStringLiteral("[DeleteOldLog] ") + folder +
               QStringLiteral(": not cleaned up, the newest file of the folder is %1 days old (is the clock right?)")
                   .arg(newest, 0, 'f', 1));
      return;
    }
    const QFileInfoList entries = dir.entryInfoList(QStringList{Mask}, filter);
    for (const QFileInfo& fi : entries) {
      if (inUse(fi.fileName())) continue;
      // Only a file older than the limit goes: one stamped ahead of the clock (the clock
      // stepped back, or a share whose clock runs ahead) is young, not old.
      const double age = ageDays(fi);
      if (age > uConst::KeepFilesDays && QFile::remove(folder + fi.fileName()))
        AddToLog(QStringLiteral("[DeleteOldLog] Deleted ") + folder + fi.fileName() +
                 QStringLiteral(", %1 days old").arg(age, 0, 'f', 1));
    }
  } catch (const std::exception& e) {
    AddToErrorLog(QStringLiteral("[DeleteOldLog] ") + ExceptionText(e));
    ShowErrorMessage();
  }
}

void TfrmMain::FirstStart() {
  try {
    HideInTray();
    if (!CheckOLEServer() && !CreateOLEServer()) {
      ShowMainWindow();
      ShowError(this, Message(M::COMServerNotExist));
      CloseAllowed = true;
      FirstActivation = false;
      FTerminated = true;
      FServices.Terminate(1);
      return;
    }
    if (FSettings.SearchPath.trimmed().isEmpty()) {
      ShowMainWindow();
      // The file timer stays off until the question about waiting files is answered.
      FHoldFileTimer = true;
      MainMenuPreferencesClick();
    }
    // While the receipt folder cannot be used there is nothing to ask about, and a task
    // would only show the folder's refusal: the file timer checks the printer and prints
    // once the folder can be used.
    const bool folderUsable = !FRunner.FolderFault();
    if (folderUsable) CheckConnectivity();
    // Every waiting file counts, settled or not: a file present at start has not yet been
    // seen to stay unchanged, and it is the operator who decides about it.
    std::vector<TListedFile> list;
    if (folderUsable && !FSettings.SearchPath.isEmpty())
      list = TFolderWatch::ListWaiting(WithSlash(FSettings.SearchPath), uConst::BonFileExt());
    if (!list.empty()) {
      ShowMainWindow();
      // A question that a stop signal closed was not answered: the files stay.
      if (!AskYesNo(this, Message(M::BonExistDlg) + CR + Message(M::PrintBonExist)) && !Closing()) {
        const QString folder = WithSlash(FSettings.SearchPath);
        for (const TListedFile& file : list) {
          const QString path = folder + file.Name;
          if (QFileInfo::exists(path)) QFile::remove(path);
        }
      }
    }
    FHoldFileTimer = false;
    chkProcessPauseClick();
    // A default of the settings file that could not be written is shown once, with the
    // file timer already running.
    if (!FStartProblem.isEmpty()) {
      const QString text = FStartProblem;
      FStartProblem.clear();
      ShowError(this, Message(M::ErrorOccurred) + CR + text);
    }
  } catch (const EAbort&) {
  } catch (const std::exception& e) {
    ApplicationException(this, ExceptionText(e));
  }
  FHoldFileTimer = false;
  FirstActivation = false;
}

bool TfrmMain::CheckOLEServer() {
  FComServerVersion.clear();
  try {
    if (!FServices.ComServer.ProbeDriverVersion) throw std::runtime_error("no automation object");
    FComServerVersion = FServices.ComServer.ProbeDriverVersion();
  } catch (const std::exception& e) {
    AddToLog(QStringLiteral("[CheckOLEServer]") + ExceptionText(e));
    return false;
  }
  return !FComServerVersion.isEmpty();
}

bool TfrmMain::CreateOLEServer() {
  AddToLog(QStringLiteral("[CreateOLEServer]Ax not registred. Trying to register now."));
  const QString path = uProgramInfo::AppDir() + QString::fromLatin1(LibraryFileName);
  const TComServerSeam& seam = FServices.ComServer;
  void* library = nullptr;
  bool result = false;
  try {
    if (!QFileInfo(path).isFile()) throw EAbort(("AX file not found:" + path).toStdString());
    library = seam.LoadLibrary ? seam.LoadLibrary(path) : nullptr;
    if (!library) throw EAbort(("Cant't load library: " + path).toStdString());
    void* entry = seam.GetProcAddress ? seam.GetProcAddress(library, "DllRegisterServer") : nullptr;
    if (!entry) throw EAbort(("Cant't find DllRegisterServer : " + path).toStdString());
    using TRegister = HRESULT (*)();
    const HRESULT hr = reinterpret_cast<TRegister>(entry)();
    if (FAILED(hr)) throw EAbort(("Cant't  run DllRegisterServer : " + path).toStdString());
    AddToLog(QStringLiteral("[CreateOLEServer]Ax added: ") + path);
    result = CheckOLEServer();
  } catch (const std::exception& e) {
    AddToErrorLog(QStringLiteral("[CreateOLEServer]") + ExceptionText(e));
    result = false;
  }
  if (library && seam.FreeLibrary) seam.FreeLibrary(library);
  return result;
}

void TfrmMain::TickAgainIn(int Ms) {
  // A paused or held file timer takes no file, early or not.
  if (FileReadTimer.isActive()) SettleTimer.start(std::max(Ms, 0));
}

void TfrmMain::FileReadTimerTimer() {
  try {
    FRunner.FileTimerTick();
  } catch (const EAbort&) {
  } catch (const std::exception& e) {
    ApplicationException(this, ExceptionText(e));
  }
}

// ---------------------------------------------------------------------------------------
// Closing and the tray

void TfrmMain::closeEvent(QCloseEvent* Event) {
  if (!CloseAllowed) {
    Event->ignore();
    HideInTray();
    return;
  }
  if (FRunner.TaskActive()) {
    // The worker is asked to stop and the program ends once it has finished.
    Event->ignore();
    if (!FRunner.QuitPending()) {
      FileReadTimer.stop();
      hide();
      if (TrayIcon) TrayIcon->hide();
      FRunner.RequestQuit();
    }
    return;
  }
  Event->accept();
  FinishClose();
}

void TfrmMain::FinishClose() {
  if (FClosed) return;
  FClosed = true;
  FileReadTimer.stop();
  AddToLog(QStringLiteral("Application closed"));
  SaveSettings(SettingsFile());
  if (MarqueeBar) MarqueeBar->SetActive(false);
  hide();
  if (TrayIcon) TrayIcon->hide();
  FServices.Quit();
}

void TfrmMain::MainMenuExitClick() {
  if (!AskYesNo(this, Message(M::ConfirmToShutdown))) return;
  CloseAllowed = true;
  QCloseEvent e;
  closeEvent(&e);
}

void TfrmMain::ExitBySignal(const QString& Signal) {
  if (Closing()) return;
  AddToLog(Signal + QStringLiteral(" received; closing") +
           (FRunner.TaskActive() ? QStringLiteral(" once the running task has ended.") : QStringLiteral(".")));
  CloseAllowed = true;
  FSignalExit = true;
  QCloseEvent e;
  closeEvent(&e);
}

void TfrmMain::HideInTray() {
  if (FServices.TrayAvailable()) {
    hide();
  } else {
    // Without a notification area a hidden window could not be found again.
    showMinimized();
  }
}

void TfrmMain::AppMinimize() {
  if (FServices.TrayAvailable()) hide();
}

void TfrmMain::AppRestore() { ShowMainWindow(); }

void TfrmMain::ShowMainWindow() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void TfrmMain::TrayIconDblClick() { ShowMainWindow(); }

void TfrmMain::PMenuAboutClick() {
  ShowMainWindow();
  MainMenuAboutClick();
}

void TfrmMain::changeEvent(QEvent* Event) {
  QMainWindow::changeEvent(Event);
  if (Event->type() == QEvent::WindowStateChange) {
    if (windowState() & Qt::WindowMinimized) QTimer::singleShot(0, this, [this] {
        if (windowState() & Qt::WindowMinimized) AppMinimize();
      });
  }
}

void TfrmMain::ApplicationException(QObject* Sender, const QString& Message) {
  if (Sender) {
    // The bare class name ("TfrmMain"), without its namespace.
    QString name = QString::fromLatin1(Sender->metaObject()->className());
    const int colons = name.lastIndexOf(QLatin1String("::"));
    if (colons >= 0) name = name.mid(colons + 2);
    AddToLog(QStringLiteral("[ApplicationException][") + name + QStringLiteral("] ") + Message);
  } else
    AddToLog(QStringLiteral("[ApplicationException]: ") + Message);
}

// ---------------------------------------------------------------------------------------
// Logs

void TfrmMain::AddToLog(const QString& Message) {
  if (!FSettings.CreateLOG) return;
  try {
    uProgramLog::WriteLog(LogDir, Message, false);
  } catch (const std::exception&) {
    // A log line that cannot be written is lost; the window goes on.
  }
}

void TfrmMain::AddToErrorLog(const QString& Message) {
  try {
    uProgramLog::WriteLog(LogDir, Message, true);
    if (FSettings.CreateLOG) uProgramLog::WriteLog(LogDir, Message, false);
  } catch (const std::exception&) {
  }
}

void TfrmMain::ShowErrorMessage() { ShowError(this, ErrorMessageText()); }

// ---------------------------------------------------------------------------------------
// Tasks

void TfrmMain::RunTask(TTaskKind Kind, bool Flag) { FRunner.StartTask(Kind, Flag ? TDailyReport::Z : TDailyReport::X); }

bool TfrmMain::WarnIfTaskActive() { return FRunner.WarnIfTaskActive(); }

bool TfrmMain::CheckConnectivity() { return FRunner.CheckConnectivity(); }

bool TfrmMain::TestComPort(int32_t Port) { return FRunner.TestComPort(Port); }

bool TfrmMain::SearchDeviceBySerial(const QString& Serial) { return FRunner.SearchDeviceBySerial(Serial); }

void TfrmMain::StartWithSuccessMessage(TTaskKind Kind, TDailyReport Report) {
  if (FRunner.StartTask(Kind, Report)) FRunner.SetShowSuccess(true);
}

void TfrmMain::btnStopCurrentJobClick() {
  FRunner.StopCurrentTask();
  FileReadTimer.stop();
  uCustomHint::ShowHintMessage(QPixmap(), Message(M::StoppedByUser), 0);
  SetStatusText(2, Message(M::StoppedByUser));
}

void TfrmMain::chkProcessPauseClick() {
  if (chkProcessPause->isChecked()) {
    btnStopCurrentJobClick();
    SetStatusText(2, Message(M::StoppedByUser));
  } else if (!Closing()) {
    FileReadTimer.start();
    SetStatusText(2, IdleStatusText());
  }
}

void TfrmMain::RestartFileTimer() {
  if (chkProcessPause->isChecked() || FHoldFileTimer || Closing()) return;
  FileReadTimer.start();
  SetStatusText(2, IdleStatusText());
}

void TfrmMain::StopFileTimer() { FileReadTimer.stop(); }

void TfrmMain::SetStatusPanel(int Index, const QString& Text) { SetStatusText(Index, Text); }

void TfrmMain::SaveSettings() { SaveSettings(SettingsFile()); }

QString TfrmMain::FolderFaultText(const TFolderFault& Fault) {
  switch (Fault.Problem) {
    case TFolderProblem::Missing: return FolderMissingText + QStringLiteral(": ") + Fault.Folder;
    case TFolderProblem::Unreadable: return FolderUnreadableText + QStringLiteral(": ") + Fault.Folder;
    case TFolderProblem::Unwritable: return FolderUnwritableText + QStringLiteral(": ") + Fault.Folder;
    default: return QString();
  }
}

void TfrmMain::UpdateAlerts() {
  const TFolderFault& fault = FRunner.FolderFault();
  const bool offline = FRunner.IsPrinterOffline();
  const QString folderText = FolderFaultText(fault);
  if (fault) {
    imgError->show();
    lblComError->setText(folderText);
    lblComError->show();
  } else if (offline) {
    imgError->show();
    lblComError->setText(Message(M::ErrorInPRN));
    lblComError->show();
  } else if (!FUnknownNote.isEmpty()) {
    imgError->show();
    lblComError->setText(FUnknownNote);
    lblComError->show();
  } else {
    imgError->hide();
    lblComError->hide();
  }
  SetTrayIcon(fault ? 2 : offline ? 1 : 0);
  if (TrayIcon) TrayIcon->setToolTip(fault ? TrayHint + QLatin1Char('\n') + folderText : TrayHint);
  // The status panel is narrow: the whole text is its tool tip.
  if (FPanels[2]) FPanels[2]->setToolTip(folderText);
  if (!FRunner.TaskActive()) SetStatusText(2, IdleStatusText());
}

QString TfrmMain::IdleStatusText() const {
  if (!FileReadTimer.isActive()) return Message(M::StoppedByUser);
  switch (FRunner.FolderFault().Problem) {
    case TFolderProblem::Missing: return FolderMissingText;
    case TFolderProblem::Unreadable: return FolderUnreadableText;
    case TFolderProblem::Unwritable: return FolderUnwritableText;
    default: return Message(M::Started);
  }
}

void TfrmMain::SetTrayIcon(int Index) {
  TrayIconIndex = Index;
  if (TrayIcon) TrayIcon->setIcon(TrayIcons[Index]);
}

// ---------------------------------------------------------------------------------------
// What the task runner asks and reports

bool TfrmMain::SelectPeriod(TReportPeriod& Period) {
  return FServices.Windows && FServices.Windows->SelectPeriod(*this, Period);
}

bool TfrmMain::InputAmount(const QString& Prompt, QString& Text) {
  return Dialogs().InputQuery(this, QString(), Prompt, Text);
}

void TfrmMain::ShowNotice(TRunnerNotice Notice, const QString& Text) {
  switch (Notice) {
    case TRunnerNotice::CantWrite:
      ShowMainWindow();
      ShowError(this, Text);
      break;
    case TRunnerNotice::InvalidValue: ShowWarning(this, Text); break;
    case TRunnerNotice::FinishedOK: ShowInfo(this, Text); break;
    case TRunnerNotice::ActiveTask:
    case TRunnerNotice::ErrorMessage: ShowError(this, Text); break;
  }
}

void TfrmMain::SetHourglass(bool On) {
  if (On == FHourglass) return;
  FHourglass = On;
  if (On)
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  else
    QApplication::restoreOverrideCursor();
}

void TfrmMain::SetBusy(bool On) {
  if (MarqueeBar) MarqueeBar->SetActive(On);
}

void TfrmMain::TaskStarted(TTaskKind Kind) {
  FUnknownFiles.clear();
  lblCurrentTaskName->setText(TTaskRunner::TaskCaption(Kind));
  lbCurrentStatus->setText(QString());
  SetStatusText(2, TTaskRunner::TaskCaption(Kind));
}

void TfrmMain::TaskEnded(TTaskKind Kind, int32_t Processed, int32_t Errors) {
  SetStatusText(2, QString());
  lblLastTaskName->setText(TTaskRunner::TaskCaption(Kind));
  QString result;
  if (Kind == tkReadFiles) result = Message(M::FilesCount) + Count(Processed) + QStringLiteral(". ");
  result += Message(M::ErrorCount) + Count(Errors);
  // A file whose receipt may have printed is named in the panel, with what to do.
  for (const QString& note : FUnknownFiles) result += QLatin1Char('\n') + note;
  if (Kind == tkReadFiles && Processed > 0 && Errors == 0 && !FUnknownNote.isEmpty()) {
    FUnknownNote.clear();
    UpdateAlerts();
  }
  lblLastTaskResult->setText(result);
  if (Errors != 0)
    SetTextColor(lblLastTaskResult, Qt::red);
  else
    SetNormalColor(lblLastTaskResult);
  lblCurrentTaskName->setText(Message(M::NoActiveTask));
  lbCurrentStatus->setText(QString());
  SetNormalColor(lbCurrentStatus);
}

void TfrmMain::TaskIdle() {
  SetStatusText(2, IdleStatusText());
  if (FRunner.QuitPending()) QTimer::singleShot(0, this, [this] { FinishClose(); });
}

void TfrmMain::TaskError(TTaskKind Kind, TTaskErrorKind Error, int32_t Errors) {
  SetTextColor(lbCurrentStatus, Qt::red);
  lbCurrentStatus->setText(Message(M::ErrorCount) + Count(Errors));
  const QString see = Message(M::SeeErrorFileForDetails);
  auto note = [this](int image, const QString& text) {
    const QPixmap pic = image >= 0 && image < static_cast<int>(HintImages.size()) ? HintImages[image] : QPixmap();
    uCustomHint::ShowHintMessage(pic, text, 0);
  };
  switch (Error) {
    case ekOperationError: note(5, ErrorMessageText()); break;
    case ekFileError: note(4, Message(M::ErrorInFile)); break;
    case ekPrinterError: note(2, Message(M::ErrorInPRN) + CR + see); break;
    case ekPrinterFatal:
      if (Kind == tkReadFiles) note(3, Message(M::PRNFatalError) + CR + see);
      break;
    default: break;
  }
}

void TfrmMain::FileStarted(const QString& Path) { SetStatusText(2, QFileInfo(Path).fileName()); }

void TfrmMain::FileProcessed(int32_t Processed, int32_t Errors) {
  lbCurrentStatus->setText(Message(M::FilesCount) + Count(Processed) + QStringLiteral(". ") + Message(M::ErrorCount) +
                           Count(Errors));
  SetStatusText(2, QString());
}

void TfrmMain::FileOutcomeUnknown(const QString& Path, const QString& Why) {
  FUnknownNote = uPRNFileThread::UnknownOutcomeText(Path, Why);
  FUnknownFiles.append(FUnknownNote);
  // The file is no longer waiting or in print: the panel names what it became.
  SetStatusText(2, QFileInfo(Path).fileName());
  UpdateAlerts();
}

void TfrmMain::PrinterInfo(const TPRNInfo& Info) { GetPrnInfo(Info); }

void TfrmMain::AlertsChanged() { UpdateAlerts(); }

void TfrmMain::GetPrnInfo(const TPRNInfo& Info) {
  try {
    lblModelName->setText(Info.Model);
    lblFMNom->setText(Info.FiscalNo);
    lblSerialNo->setText(Info.SerialNo);
    lblLastDoc->setText(QString::number(Info.LastDocNo));
    lblNextInvNo->setText(QString::number(Info.NextInvoiceNo));
    lblColumnCount->setText(QString::number(Info.LineLength));
    FModel = Info.Model;
    FSerialNo = Info.SerialNo;
    FFiscalNo = Info.FiscalNo;

    // Without a receipt folder there is no place for the file.
    const bool haveFolder = !FSettings.SearchPath.trimmed().isEmpty();
    const QString path = WithSlash(FSettings.SearchPath) + QString::fromLatin1(PrnInfoFileName);
    // The name itself, not what a link there points to: anything but a regular file counts
    // as missing and is replaced.
    struct stat st {};
    QDateTime written;
    if (FileOps().Lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode))
      written = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec);
    if (haveFolder && WholeSecondsBetween(written, Now()) / 3600 > 2) {
      const QString lines = LabelPrinterName->text() + QStringLiteral(": ") + Info.Model + QStringLiteral("\r\n") +
                            LabelFiscalNom->text() + QStringLiteral(": ") + Info.FiscalNo + QStringLiteral("\r\n") +
                            LabelSerialNo->text() + QStringLiteral(": ") + Info.SerialNo + QStringLiteral("\r\n") +
                            LabelLastDoc->text() + QStringLiteral(": ") + QString::number(Info.LastDocNo) +
                            QStringLiteral("\r\n") + LabelLastInvoice->text() + QStringLiteral(": ") +
                            QString::number(Info.NextInvoiceNo) + QStringLiteral("\r\n") + LabelColumnCount->text() +
                            QStringLiteral(": ") + QString::number(Info.LineLength) + QStringLiteral("\r\n");
      // Written beside the old file and renamed over it: a failure keeps the old one.
      // The same failure again (a folder under the name, a full disk) is logged once.
      const int err = uProgramInfo::ReplaceFile(path, uConst::ToCp1251(lines));
      const QString failure =
          err != 0 ? path + QStringLiteral(": ") + QString::fromStdString(fp::SysErrorText(err)) : QString();
      if (!failure.isEmpty() && failure != FPrnInfoFailure) AddToErrorLog(QStringLiteral("[GetPrnInfo] ") + failure);
      FPrnInfoFailure = failure;
    }
    SetStatusText(0, QStringLiteral("COM%1").arg(Info.ComPort));
  } catch (const std::exception& e) {
    AddToErrorLog(QStringLiteral("[GetPrnInfo] ") + ExceptionText(e));
  }
}

// ---------------------------------------------------------------------------------------
// Operator commands

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

// ---------------------------------------------------------------------------------------
// The application object

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

}  // namespace fp
