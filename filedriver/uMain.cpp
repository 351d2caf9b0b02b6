#include "filedriver/uMain.h"

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
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QSaveFile>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QThread>
#include <QVBoxLayout>

#include <clocale>
#include <cmath>
#include <exception>

#include "filedriver/MarqueeProgressBar.h"
#include "filedriver/uConst.h"
#include "filedriver/uCustomHint.h"
#include "filedriver/uDialogs.h"
#include "filedriver/uMainImages.h"
#include "filedriver/uStrRes.h"

namespace fp {
namespace {

using uStrRes::Message;
namespace M = uStrRes;

// The line break of the program's messages.
const QString CR = QStringLiteral("\r");

QString Count(int32_t n) { return QStringLiteral(": %1").arg(n); }

// Runs a function when the scope ends, also when an error leaves it.
class TScopeExit {
 public:
  explicit TScopeExit(std::function<void()> f) : f_(std::move(f)) {}
  ~TScopeExit() { f_(); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

 private:
  std::function<void()> f_;
};

QString ExceptionText(const std::exception& e) { return QString::fromLocal8Bit(e.what()); }

// The whole seconds (hours) between two moments, truncated; an unknown moment counts as
// the zero date, so it is always long ago.
int64_t WholeSecondsBetween(const QDateTime& a, const QDateTime& b) {
  if (!a.isValid() || !b.isValid()) return INT64_MAX / 2;
  return std::llabs(a.msecsTo(b)) / 1000;
}

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

QString TfrmMain::TitleFor(const QString& ProgramFile) {
  return QStringLiteral("MIRAVOK FP driver (") + ProgramFile + QStringLiteral(")");
}

TfrmMain::TfrmMain(TMainServices Services, QWidget* Parent) : QMainWindow(Parent), FServices(std::move(Services)) {
  if (!FServices.Now) FServices.Now = [] { return QDateTime::currentDateTime(); };
  if (!FServices.TrayAvailable) FServices.TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
  if (!FServices.Terminate) FServices.Terminate = [](int code) { QCoreApplication::exit(code); };
  if (!FServices.Quit) FServices.Quit = [] { QCoreApplication::quit(); };
  FProgramFile = FServices.ProgramFile.isEmpty() ? uConst::ProgramFilePath() : FServices.ProgramFile;
  setObjectName(QStringLiteral("frmMain"));
  BuildWindow();
  FileReadTimer.setInterval(1000);
  connect(&FileReadTimer, &QTimer::timeout, this, &TfrmMain::FileReadTimerTimer);
  FPurgeTimer.setInterval(20);
  FPurgeTimer.setSingleShot(true);
  connect(&FPurgeTimer, &QTimer::timeout, this, &TfrmMain::PurgeRetiredThreads);
  FormCreate();
}

TfrmMain::~TfrmMain() {
  FileReadTimer.stop();
  // No worker event may reach the window from here on; each worker is waited for.
  if (CurrentThread) CurrentThread->DetachEvents();
  for (auto& t : FRetired) t->DetachEvents();
  CurrentThread.reset();
  FRetired.clear();
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
  HintImages = uMainImages::HintImages();
  setWindowIcon(TrayIcons[0]);
  TrayIcon = new QSystemTrayIcon(TrayIcons[0], this);
  TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
  TrayIcon->setToolTip(QStringLiteral("Драйвер за фискален принтер"));
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

QString TfrmMain::WithSlash(const QString& Folder) {
  if (Folder.isEmpty() || Folder.endsWith(QLatin1Char('/'))) return Folder;
  return Folder + QLatin1Char('/');
}

QString TfrmMain::SettingsFile() const { return SettingsFilePath(uConst::AppDir(), FProgramFile); }

void TfrmMain::FormCreate() {
  try {
    setWindowTitle(TitleFor(FProgramFile));
    // The application object took the user's locale; numbers are written and read with
    // "." as decimal separator everywhere in the process.
    std::setlocale(LC_NUMERIC, "C");
    uConst::SetAppDir(WithSlash(QFileInfo(FProgramFile).absolutePath()));
    LogDir = uConst::AppDir() + QStringLiteral("Log/");
    QDir().mkpath(LogDir);
    LoadSettings(SettingsFile());
    ApplyCommandLine(FServices.Arguments, FSettings);
    FDepartments.clear();
    AddToLog(QStringLiteral("RERIvovoveRuvevu v.") + uConst::GetFileVersion() + QStringLiteral(" started!"));
    AddToLog(QString(55, QLatin1Char('-')));
    AddToLog(QStringLiteral(" "));
    QDir().mkpath(uConst::AppDir() + QString::fromLatin1(uStrRes::TranslationsFolder));
    uStrRes::LoadMessages();
    uStrRes::TranslateForm(QString::fromLatin1(uStrRes::LngFileName), this);
    lblCurrentTaskName->setText(Message(M::NoActiveTask));
    lbCurrentStatus->setText(QStringLiteral("-"));
    SetStatusText(0, QStringLiteral("COM%1").arg(FSettings.ComPort));
    SetStatusText(1, QString::number(FSettings.BaudRate));
    MarqueeBar->SetActive(false);
    ShowSuccess = false;
    FirstActivation = true;
    SetStatusText(2, FileReadTimer.isActive() ? Message(M::Started) : Message(M::StoppedByUser));
    LastCheckTime = QDateTime();
    Silent = false;
    CloseAllowed = false;
  } catch (const std::exception& e) {
    AddToErrorLog(QStringLiteral("[FormCreate]") + ExceptionText(e));
    ShowWarning(this, QStringLiteral("Can not initialize fiscal printer interface.\r\n") + ExceptionText(e));
  }
}

void TfrmMain::LoadSettings(const QString& IniPath) { fp::LoadSettings(IniPath, FSettings); }

void TfrmMain::SaveSettings(const QString& IniPath) {
  try {
    fp::SaveSettings(IniPath, FSettings);
  } catch (const std::exception& e) {
    AddToErrorLog(QStringLiteral("[SaveSettings] ") + ExceptionText(e));
    ShowErrorMessage();
  }
}

// ---------------------------------------------------------------------------------------
// First activation

void TfrmMain::FormActivate() {
  if (!FirstActivation || FInFirstActivation || FTerminated) return;
  // The dialogs of the first start activate the window again when they close.
  FInFirstActivation = true;
  if (!CheckMyDirWritable(true)) {
    FTerminated = true;
    FServices.Terminate(1);
    return;
  }
  if (QDir(LogDir).exists()) DeleteOldLog(LogDir, QStringLiteral("*.txt"));
  const QString bon = FSettings.SearchPath.trimmed();
  if (!bon.isEmpty() && QDir(FSettings.SearchPath).exists()) {
    DeleteOldLog(FSettings.SearchPath, QStringLiteral("*.err"));
    DeleteOldLog(FSettings.SearchPath, QStringLiteral("*.$$$"));
    DeleteOldLog(FSettings.SearchPath, QStringLiteral("*.rep"));
  }
  FirstStart();
  FInFirstActivation = false;
}

bool TfrmMain::CheckMyDirWritable(bool Show) {
  try {
    QString message;
    auto test = [&message](const QString& folder) {
      if (!uConst::CanWriteToDir(WithSlash(folder))) message = Message(M::CantWrite) + CR + folder;
    };
    // No receipt folder yet: there is nothing to test (the settings window asks for it).
    if (!FSettings.SearchPath.trimmed().isEmpty()) test(FSettings.SearchPath);
    test(LogDir);
    test(uConst::AppDir());
    FDirMessage = message;
    if (!message.isEmpty() && Show) {
      ShowMainWindow();
      ShowError(this, message);
    }
    return message.isEmpty();
  } catch (const std::exception& e) {
    AddToErrorLog(QStringLiteral("[CheckMyDirWritable]") + ExceptionText(e));
    if (Show) ShowErrorMessage();
    return false;
  }
}

void TfrmMain::DeleteOldLog(const QString& Folder, const QString& Mask) {
  try {
    QString folder = Folder.trimmed().isEmpty() ? Folder : WithSlash(Folder);
    QDir dir(folder);
    if (folder.isEmpty() || !dir.exists()) return;
    const QDateTime now = Now();
    const QFileInfoList entries =
        dir.entryInfoList(QStringList{Mask}, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& fi : entries) {
      const double ageDays = std::fabs(static_cast<double>(fi.lastModified().msecsTo(now))) / 86400000.0;
      if (ageDays > uConst::KeepFilesDays) QFile::remove(folder + fi.fileName());
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
    CheckConnectivity();
    QStringList list;
    uPRNFileThread::SelectReadyBonFiles(WithSlash(FSettings.SearchPath), list, Now());
    if (!list.isEmpty()) {
      ShowMainWindow();
      if (!AskYesNo(this, Message(M::BonExistDlg) + CR + Message(M::PrintBonExist))) {
        const QString folder = WithSlash(FSettings.SearchPath);
        for (const QString& line : list) {
          const QString path = folder + uPRNFileThread::ListedName(line);
          if (QFileInfo::exists(path)) QFile::remove(path);
        }
      }
    }
    FHoldFileTimer = false;
    chkProcessPauseClick();
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
  const QString path = uConst::AppDir() + QString::fromLatin1(LibraryFileName);
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

int32_t TfrmMain::PendingFileCount() {
  QStringList list;
  uPRNFileThread::SelectReadyBonFiles(WithSlash(FSettings.SearchPath), list, Now());
  return static_cast<int32_t>(list.size());
}

void TfrmMain::FileReadTimerTimer() {
  // A tick whose dialog or task start is still running lets the next ticks pass.
  if (FInFileTimer || FTaskActive) return;
  FInFileTimer = true;
  try {
    const QDateTime now = Now();
    if (FSettings.CheckPrnIntevalSec > 0 && WholeSecondsBetween(LastCheckTime, now) > FSettings.CheckPrnIntevalSec) {
      AddToLog(QStringLiteral("Checking connectivity."));
      StartTask(tkPrinterInfo, true, true);
      LastCheckTime = now;
    } else if (PendingFileCount() > 0) {
      StartTask(tkReadFiles, true, true);
    }
  } catch (const EAbort&) {
  } catch (const std::exception& e) {
    ApplicationException(this, ExceptionText(e));
  }
  FInFileTimer = false;
}

// ---------------------------------------------------------------------------------------
// Closing and the tray

void TfrmMain::closeEvent(QCloseEvent* Event) {
  if (!CloseAllowed) {
    Event->ignore();
    HideInTray();
    return;
  }
  if (FTaskActive) {
    // The worker is asked to stop and the program ends once it has finished.
    Event->ignore();
    if (!FQuitPending) {
      FQuitPending = true;
      FileReadTimer.stop();
      ShowSuccess = false;
      hide();
      if (TrayIcon) TrayIcon->hide();
      if (CurrentThread) CurrentThread->Terminate();
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
    uConst::WriteLog(LogDir, Message, false);
  } catch (const std::exception&) {
    // A log line that cannot be written is lost; the window goes on.
  }
}

void TfrmMain::AddToErrorLog(const QString& Message) {
  try {
    uConst::WriteLog(LogDir, Message, true);
    if (FSettings.CreateLOG) uConst::WriteLog(LogDir, Message, false);
  } catch (const std::exception&) {
  }
}

void TfrmMain::ShowErrorMessage() { ShowError(this, Message(M::ErrorOccurred) + CR + Message(M::SeeErrorFileForDetails)); }

// ---------------------------------------------------------------------------------------
// The task runner

QString TfrmMain::TaskCaption(TTaskKind Kind) {
  switch (Kind) {
    case tkPrinterInfo: return Message(M::PRNInfo);
    case tkReadFiles: return Message(M::ReadFiles);
    case tkPrintEmptyBon: return Message(M::PrintEmptyBon);
    case tkPrintTest: return Message(M::PrintTest);
    case tkReportByBlock: return Message(M::ReportByBlock);
    case tkReportByDates: return Message(M::ReportByDates);
    case tkXZReport: return Message(M::XZReport);
    case tkGetDepartments: return Message(M::GetDepartments);
    case tkSetDepartments: return Message(M::SetDepartments);
    case tkSumIn: return Message(M::S_SumIn);
    case tkSumOut: return Message(M::S_SumOut);
    case tkCheckPrinter: return Message(M::S_CheckPrn);
    case tkCopyBon: return Message(M::S_CopyBon);
    default: return QString();
  }
}

bool TfrmMain::IsTaskActive() {
  if (!FTaskActive) return false;
  ShowError(this, Message(M::ActiveTask));
  return true;
}

void TfrmMain::LogTimerFolderFailure(bool Failed) {
  // One line when the folders stop passing the write test, not one every second.
  if (Failed && !FTimerFolderFailed) {
    const QString oneLine = DisplayText(FDirMessage).replace(QLatin1Char('\n'), QLatin1Char(' '));
    AddToErrorLog(QStringLiteral("[FileReadTimerTimer]") + oneLine);
  }
  FTimerFolderFailed = Failed;
}

void TfrmMain::RunTask(TTaskKind Kind, bool Flag) { StartTask(Kind, Flag, false); }

bool TfrmMain::StartTask(TTaskKind Kind, bool Flag, bool FromTimer) {
  if (FromTimer ? FTaskActive : IsTaskActive()) return false;
  const bool writable = CheckMyDirWritable(!FromTimer);
  if (FromTimer) LogTimerFolderFailure(!writable);
  if (!writable) return false;
  FTaskActive = true;
  if (CurrentThread) RetireCurrentThread();
  CurrentTaskKind = Kind;
  FErrorCount = 0;
  ProcessedCount = 0;

  auto idle = [this] {
    FTaskActive = false;
    CurrentTaskKind = tkNone;
    return false;
  };
  TTaskRequest r;
  r.Kind = Kind;
  bool hourglass = true;
  switch (Kind) {
    case tkPrinterInfo:
    case tkCheckPrinter:
    case tkCopyBon:
      hourglass = false;
      break;
    case tkReadFiles:
      hourglass = false;
      r.BonFolder = FSettings.SearchPath;
      r.WatGrpBeginFromOne = FSettings.WatGrpBeginFromOne;
      break;
    case tkPrintEmptyBon:
    case tkPrintTest:
    case tkGetDepartments:
    case tkDepartmentReportReset:
    case tkDepartmentReport:
      break;
    case tkXZReport:
      r.Reset = Flag ? 1 : 0;
      break;
    case tkSetDepartments:
      r.Departments = FDepartments;
      break;
    case tkReportByBlock:
    case tkReportByDates: {
      TReportPeriod period;
      if (!FServices.Windows || !FServices.Windows->SelectPeriod(*this, period)) return idle();
      if (period.ByDates) {
        r.Kind = tkReportByDates;
        r.Detailed = period.Detailed;
        r.StartDate = period.StartDate;
        r.EndDate = period.EndDate;
      } else {
        r.Kind = tkReportByBlock;
        r.FirstBlock = period.FirstBlock;
        r.LastBlock = period.LastBlock;
        r.Detailed = period.Detailed;
      }
      break;
    }
    case tkSumIn:
    case tkSumOut: {
      const bool in = Kind == tkSumIn;
      QString text = QStringLiteral("0");
      if (!Dialogs().InputQuery(this, QString(), Message(in ? M::S_SumIn : M::S_SumOut) + QStringLiteral(":"), text))
        return idle();
      bool ok = false;
      QLocale c = QLocale::c();
      c.setNumberOptions(QLocale::RejectGroupSeparator);
      double amount = c.toDouble(text.trimmed(), &ok);
      if (!ok) amount = 0;
      // "inf" and "nan" read as numbers; neither is an amount.
      if (!std::isfinite(amount) || !(amount > 0)) {
        ShowWarning(this, Message(M::InvalidValue) + QStringLiteral(": ") + text);
        return idle();
      }
      r.Kind = tkSumIn;
      r.Amount = in ? amount : -amount;
      ShowSuccess = true;
      break;
    }
    default:
      return idle();
  }
  if (hourglass) SetHourglass(true);
  if (!StartTaskThread(r)) {
    ShowSuccess = false;
    SetHourglass(false);
    return idle();
  }
  SetStatusText(2, TaskCaption(Kind));
  return true;
}

bool TfrmMain::StartTaskThread(const TTaskRequest& Request) {
  try {
    if (!FServices.CreateTask) throw std::runtime_error("no worker");
    std::unique_ptr<ITaskThread> thread = FServices.CreateTask(Request);
    if (!thread) throw std::runtime_error("no worker");
    TTaskSettings s;
    s.ComPort = FSettings.ComPort;
    s.BaudRate = FSettings.BaudRate;
    s.RepFilePrint = FSettings.RepFilePrint;
    s.RepDetailPrint = FSettings.RepDetailPrint;
    s.LogDir = LogDir;
    s.CharEncoding = FSettings.CharEncoding;
    s.DeviceSerialNom = FSettings.DeviceSerialNom.trimmed();
    s.AutoSerachDevice = FSettings.AutoSerachDevice;
    s.BonFolder = FSettings.SearchPath.trimmed().isEmpty() ? QString() : FSettings.SearchPath;
    thread->Configure(s);

    // Each handler belongs to one task: a call that arrives for another is dropped.
    const uint64_t serial = ++FTaskSerial;
    auto mine = [this, serial] { return serial == FTaskSerial && FFinishedSerial < serial; };
    TTaskEvents ev;
    ev.TaskFinished = [this, mine] { if (mine()) TaskFinished(); };
    ev.Error = [this, mine](TTaskErrorKind k) { if (mine()) ThreadError(k); };
    ev.PrinterOffline = [this, mine] { if (mine()) PrinterOffline(); };
    ev.PrinterOnline = [this, mine] { if (mine()) PrinterOnline(); };
    ev.FileStarted = [this, mine](const QString& p) { if (mine()) FileStarted(p); };
    ev.FileProcessed = [this, mine] { if (mine()) FileProcessed(); };
    ev.PrinterInfo = [this, mine](const TPRNInfo& i) { if (mine()) GetPrnInfo(i); };
    ev.DepartmentReceived = [this, mine](const TDepartmentRow& d) { if (mine()) DepartmentReceived(d); };
    // Called on the worker thread: it touches nothing of the window.
    ev.DepartmentsRead = [] {};
    thread->SetEvents(std::move(ev));
    CurrentThread = std::move(thread);
    MarqueeBar->SetActive(true);
    CurrentThread->Resume();
    lblCurrentTaskName->setText(TaskCaption(CurrentTaskKind));
    lbCurrentStatus->setText(QString());
    return true;
  } catch (const std::exception& e) {
    AddToErrorLog(QStringLiteral("[StartTaskThread]") + ExceptionText(e));
    if (MarqueeBar) MarqueeBar->SetActive(false);
    CurrentThread.reset();
    ShowErrorMessage();
    return false;
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

bool TfrmMain::WaitForTask(uint64_t Serial, const QDateTime& Started, int StepMs, int LimitSec) {
  while (FFinishedSerial < Serial) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (FFinishedSerial >= Serial) break;
    QThread::msleep(static_cast<unsigned long>(StepMs));
    if (WholeSecondsBetween(Started, Now()) > LimitSec) return false;
  }
  return true;
}

bool TfrmMain::OwnTaskSucceeded(uint64_t Serial) const {
  return FFinishedSerial == Serial && FFinishedErrorCount == 0;
}

bool TfrmMain::CheckConnectivity() {
  AddToLog(QStringLiteral("Checking connectivity."));
  const QDateTime started = Now();
  if (!StartTask(tkCheckPrinter, true)) return false;
  const uint64_t serial = FTaskSerial;
  ShowSuccess = false;
  if (FSettings.CheckPrnIntevalSec == 0) return true;
  SetHourglass(true);
  const bool finished = WaitForTask(serial, started, 20, WaitLimitSec);
  SetHourglass(false);
  return finished && OwnTaskSucceeded(serial);
}

bool TfrmMain::RunSettingsTest(TTaskKind Kind, bool HourglassFirst) {
  const QDateTime started = Now();
  TScopeExit restore([this] {
    Silent = false;
    SetHourglass(false);
  });
  Silent = true;
  if (HourglassFirst) SetHourglass(true);
  if (!StartTask(Kind, true)) return false;
  const uint64_t serial = FTaskSerial;
  SetHourglass(true);
  return WaitForTask(serial, started, 5, WaitLimitSec) && OwnTaskSucceeded(serial);
}

bool TfrmMain::TestComPort(int32_t Port) {
  // The library keeps the port in 8 bits.
  if (Port < 1 || Port > uSettingsFile::MaxComPort) return false;
  TScopeExit restore([this, oldPort = FSettings.ComPort, oldSearch = FSettings.AutoSerachDevice] {
    FSettings.ComPort = oldPort;
    FSettings.AutoSerachDevice = oldSearch;
  });
  FSettings.ComPort = Port;
  // The port itself is tested: a search by serial number would find the printer on
  // another port and let every port pass.
  FSettings.AutoSerachDevice = false;
  return RunSettingsTest(tkCheckPrinter, false);
}

bool TfrmMain::SearchDeviceBySerial(const QString& Serial) {
  TScopeExit restore([this, oldSearch = FSettings.AutoSerachDevice, oldSerial = FSettings.DeviceSerialNom] {
    FSettings.AutoSerachDevice = oldSearch;
    FSettings.DeviceSerialNom = oldSerial;
  });
  FSettings.AutoSerachDevice = true;
  FSettings.DeviceSerialNom = Serial;
  return RunSettingsTest(tkPrinterInfo, true);
}

void TfrmMain::btnStopCurrentJobClick() {
  if (FTaskActive && CurrentThread) CurrentThread->Terminate();
  FileReadTimer.stop();
  uCustomHint::ShowHintMessage(QPixmap(), Message(M::StoppedByUser), 0);
  SetStatusText(2, Message(M::StoppedByUser));
}

void TfrmMain::chkProcessPauseClick() {
  if (chkProcessPause->isChecked()) {
    btnStopCurrentJobClick();
    SetStatusText(2, Message(M::StoppedByUser));
  } else {
    FileReadTimer.start();
    SetStatusText(2, Message(M::Started));
  }
}

void TfrmMain::RestartFileTimer() {
  if (chkProcessPause->isChecked() || FHoldFileTimer) return;
  FileReadTimer.start();
  SetStatusText(2, Message(M::Started));
}

void TfrmMain::StopFileTimer() { FileReadTimer.stop(); }

void TfrmMain::SetStatusPanel(int Index, const QString& Text) { SetStatusText(Index, Text); }

void TfrmMain::SaveSettings() { SaveSettings(SettingsFile()); }

// ---------------------------------------------------------------------------------------
// Worker events

void TfrmMain::TaskFinished() {
  MarqueeBar->SetActive(false);
  SetStatusText(2, QString());
  lblLastTaskName->setText(TaskCaption(CurrentTaskKind));
  QString result;
  if (CurrentTaskKind == tkReadFiles) result = Message(M::FilesCount) + Count(ProcessedCount) + QStringLiteral(". ");
  result += Message(M::ErrorCount) + Count(FErrorCount);
  lblLastTaskResult->setText(result);
  if (FErrorCount != 0)
    SetTextColor(lblLastTaskResult, Qt::red);
  else
    SetNormalColor(lblLastTaskResult);
  lblCurrentTaskName->setText(Message(M::NoActiveTask));
  lbCurrentStatus->setText(QString());
  SetNormalColor(lbCurrentStatus);
  // The waits read the result of their own task from here.
  FFinishedSerial = FTaskSerial;
  FFinishedErrorCount = FErrorCount;
  // While the message is open the window still counts as busy.
  if (FErrorCount == 0 && ShowSuccess && !FQuitPending) ShowInfo(this, Message(M::FinishedOK));
  ShowSuccess = false;
  CurrentTaskKind = tkNone;
  RetireCurrentThread();
  SetHourglass(false);
  SetStatusText(2, FileReadTimer.isActive() ? Message(M::Started) : Message(M::StoppedByUser));
  FTaskActive = false;
  if (FQuitPending) QTimer::singleShot(0, this, [this] { FinishClose(); });
}

void TfrmMain::RetireCurrentThread() {
  // The worker is still inside its last event call: it is destroyed once it has ended.
  if (CurrentThread) FRetired.push_back(std::move(CurrentThread));
  if (!FPurgeTimer.isActive()) FPurgeTimer.start();
}

void TfrmMain::PurgeRetiredThreads() {
  for (auto it = FRetired.begin(); it != FRetired.end();) {
    if ((*it)->Finished())
      it = FRetired.erase(it);
    else
      ++it;
  }
  if (!FRetired.empty()) FPurgeTimer.start();
}

void TfrmMain::ThreadError(TTaskErrorKind Kind) {
  ++FErrorCount;
  SetTextColor(lbCurrentStatus, Qt::red);
  lbCurrentStatus->setText(Message(M::ErrorCount) + Count(FErrorCount));
  const QString see = Message(M::SeeErrorFileForDetails);
  auto note = [this](int image, const QString& text) {
    const QPixmap pic = image >= 0 && image < static_cast<int>(HintImages.size()) ? HintImages[image] : QPixmap();
    uCustomHint::ShowHintMessage(pic, text, 0);
  };
  switch (Kind) {
    case ekOperationError: note(5, Message(M::ErrorOccurred) + CR + see); break;
    case ekFileError: note(4, Message(M::ErrorInFile)); break;
    case ekPrinterError: note(2, Message(M::ErrorInPRN) + CR + see); break;
    case ekPrinterFatal:
      if (CurrentTaskKind == tkReadFiles) note(3, Message(M::PRNFatalError) + CR + see);
      break;
    default: break;
  }
}

void TfrmMain::SetTrayIcon(int Index) {
  TrayIconIndex = Index;
  if (TrayIcon) TrayIcon->setIcon(TrayIcons[Index]);
}

void TfrmMain::PrinterOnline() {
  if (Silent) return;
  imgError->hide();
  SetTrayIcon(0);
  lblComError->hide();
}

void TfrmMain::PrinterOffline() {
  if (Silent) return;
  imgError->show();
  SetTrayIcon(1);
  lblComError->setText(Message(M::ErrorInPRN));
  lblComError->show();
}

void TfrmMain::FileStarted(const QString& Path) { SetStatusText(2, QFileInfo(Path).fileName()); }

void TfrmMain::FileProcessed() {
  ++ProcessedCount;
  lbCurrentStatus->setText(Message(M::FilesCount) + Count(ProcessedCount) + QStringLiteral(". ") +
                           Message(M::ErrorCount) + Count(FErrorCount));
  SetStatusText(2, QString());
}

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
    const QFileInfo fi(path);
    const QDateTime written = fi.exists() ? fi.lastModified() : QDateTime();
    if (haveFolder && WholeSecondsBetween(written, Now()) / 3600 > 2) {
      const QString lines = LabelPrinterName->text() + QStringLiteral(": ") + Info.Model + QStringLiteral("\r\n") +
                            LabelFiscalNom->text() + QStringLiteral(": ") + Info.FiscalNo + QStringLiteral("\r\n") +
                            LabelSerialNo->text() + QStringLiteral(": ") + Info.SerialNo + QStringLiteral("\r\n") +
                            LabelLastDoc->text() + QStringLiteral(": ") + QString::number(Info.LastDocNo) +
                            QStringLiteral("\r\n") + LabelLastInvoice->text() + QStringLiteral(": ") +
                            QString::number(Info.NextInvoiceNo) + QStringLiteral("\r\n") + LabelColumnCount->text() +
                            QStringLiteral(": ") + QString::number(Info.LineLength) + QStringLiteral("\r\n");
      QSaveFile f(path);
      if (!f.open(QIODevice::WriteOnly)) throw std::runtime_error(f.errorString().toStdString());
      const std::string bytes = uConst::ToCp1251(lines);
      f.write(bytes.data(), static_cast<qint64>(bytes.size()));
      if (!f.commit()) throw std::runtime_error(f.errorString().toStdString());
    }
    SetStatusText(0, QStringLiteral("COM%1").arg(Info.ComPort));
  } catch (const std::exception& e) {
    AddToErrorLog(QStringLiteral("[GetPrnInfo] ") + ExceptionText(e));
  }
}

void TfrmMain::DepartmentReceived(const TDepartmentRow& Row) { FDepartments.push_back(Row); }

void TfrmMain::DepartmentsRead() {}

// ---------------------------------------------------------------------------------------
// Operator commands

void TfrmMain::mnPRNInfoClick() {
  if (StartTask(tkPrinterInfo)) ShowSuccess = true;
}
void TfrmMain::mnDayReportResetClick() {
  if (StartTask(tkXZReport, true)) ShowSuccess = true;
}
void TfrmMain::mnDayReportNoResetClick() {
  if (StartTask(tkXZReport, false)) ShowSuccess = true;
}
void TfrmMain::mnDepartRptResetClick() {
  if (StartTask(tkDepartmentReportReset)) ShowSuccess = true;
}
void TfrmMain::mnDepartRptClick() {
  if (StartTask(tkDepartmentReport)) ShowSuccess = true;
}
void TfrmMain::mnFiskMemoryClick() {
  if (StartTask(tkReportByBlock)) ShowSuccess = true;
}
void TfrmMain::spbPrintFMReportClick() { StartTask(tkReportByDates); }
void TfrmMain::NSumInClick() { StartTask(tkSumIn); }
void TfrmMain::NSumOutClick() { StartTask(tkSumOut); }
void TfrmMain::spbEmptyBonClick() {
  if (StartTask(tkPrintEmptyBon)) ShowSuccess = true;
}
void TfrmMain::spbTestPrnClick() { StartTask(tkPrintTest); }
void TfrmMain::CopyLastBonClick() {
  if (!AskYesNo(this, Message(M::S_Confirm) + CR + Message(M::S_CopyBonConfirm))) return;
  if (StartTask(tkCopyBon)) ShowSuccess = true;
}
void TfrmMain::mnDoFilesClick() {
  if (StartTask(tkReadFiles)) ShowSuccess = true;
}

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

void TfrmMain::OpenLogFile(const QString& FileName) {
  const QString file = LogDir + FileName;
  if (QFileInfo::exists(file)) {
    if (FServices.OpenUrl) FServices.OpenUrl(QUrl::fromLocalFile(file));
  } else {
    ShowWarning(this, Message(M::LogFileNotFound) + CR + file);
  }
}

void TfrmMain::mnShowLogClick() { OpenLogFile(QString::fromLatin1(uConst::NormalLogName)); }
void TfrmMain::mnShowErrorLogClick() { OpenLogFile(QString::fromLatin1(uConst::ExceptionLogName)); }
void TfrmMain::mnShowAppDataClick() {
  if (FServices.OpenUrl) FServices.OpenUrl(QUrl::fromLocalFile(LogDir));
}

// ---------------------------------------------------------------------------------------
// The application object

TDriverApplication::TDriverApplication(int& Argc, char** Argv) : QApplication(Argc, Argv) {}

bool TDriverApplication::notify(QObject* Receiver, QEvent* Event) {
  try {
    return QApplication::notify(Receiver, Event);
  } catch (const EAbort&) {
  } catch (const std::exception& e) {
    if (ExceptionHandler) ExceptionHandler(Receiver, QString::fromLocal8Bit(e.what()));
  } catch (...) {
    if (ExceptionHandler) ExceptionHandler(Receiver, QStringLiteral("unknown error"));
  }
  return false;
}

}  // namespace fp
