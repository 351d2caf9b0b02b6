// The main window's life: its creation, the start-up and its settings, the first
// activation (the program folder, the clean-up of old files, the waiting receipt files),
// the file timer, closing and the tray, the logs and the tasks the window starts and stops.
// The panels are built and filled in uMainPanels.cpp, the menus and the operator's commands
// are in uMainMenu.cpp, the automation library's check and registration in
// uMainRegistration.cpp and the application object in uMainApplication.cpp.
#include "program/ui/uMain.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QSystemTrayIcon>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <clocale>
#include <exception>

#include "program/ui/MarqueeProgressBar.h"
#include "program/app/PathNamesQt.h"
#include "program/app/uConst.h"
#include "program/ui/uCustomHint.h"
#include "program/ui/uDialogs.h"
#include "program/app/uMessageTexts.h"
#include "program/app/uStrRes.h"
#include "program/app/uProgramInfo.h"
#include "program/app/uProgramLog.h"
#include "platform/SysErrorText.h"

namespace fp {
namespace {

using uStrRes::Message;
namespace M = uStrRes;

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
      FRunner(TTaskRunnerServices{
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
  TrayTimer.stop();
  SettleTimer.stop();
  // No worker event may reach the window from here on; each worker is waited for.
  FRunner.ReleaseWorkers();
  SetHourglass(false);
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
    FRunner.SetLastCheckMs(std::nullopt);
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

void TfrmMain::SaveSettings() { SaveSettings(SettingsFile()); }

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
    // receipt file's): it is the only record of a receipt whose outcome is unknown, and
    // CheckReceiptFolder above (or the file timer) keeps it as an ".unk" file. The folder
    // may be a slow share with thousands of files: it is cleaned up on a thread of its own.
    FRunner.CleanUpOldFiles(FSettings.SearchPath, {QStringLiteral("*.err"), QStringLiteral("*.rep")});
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
      return logFolder && (name == QLatin1String(uProgramLog::NormalLogName) ||
                           name == QLatin1String(uProgramLog::ExceptionLogName));
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
    // Without a tray the window stays where the operator sees it: minimised with no word,
    // a desktop without a taskbar would show nothing at all.
    if (FTrayShown) HideInTray();
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
      // A stop signal closed the window: the program ends here, without a printer check
      // on a port nobody chose.
      if (Closing()) throw EAbort("closing");
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
    if (!list.empty()) AskAboutWaitingFiles(list);
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

QString TfrmMain::WaitingFilesQuestion(int Count) {
  return Message(M::BonExistDlg) + CR + Message(M::S_BonFileCount) + QStringLiteral(": %1").arg(Count) + CR +
         Message(M::PrintBonExist) + CR + Message(M::S_NoDeletesBons);
}

void TfrmMain::AskAboutWaitingFiles(const std::vector<TListedFile>& List) {
  ShowMainWindow();
  // The question is a window of its own, on top: whatever the desktop does with the main
  // window (hidden in the tray, minimised, behind the point-of-sale program), it is seen.
  const TDlgResult answer = Dialogs().Message(nullptr, TDlgKind::Question,
                                              WaitingFilesQuestion(static_cast<int>(List.size())), TDlgButtons::YesNo);
  const QString folder = WithSlash(FSettings.SearchPath);
  // Only an explicit No deletes. Escape, the close button and a stop signal that closed
  // the question decide nothing: the files stay and are printed.
  if (answer != TDlgResult::No || Closing()) {
    AddToLog(QStringLiteral("[FirstStart] %1 waiting receipt files kept for printing (%2).")
                 .arg(List.size())
                 .arg(answer == TDlgResult::Yes ? QStringLiteral("answer Yes") : QStringLiteral("no answer")));
    return;
  }
  // A file deleted is the one the operator was asked about: one written again under its
  // name since then is a new receipt and stays.
  std::vector<TListedFile> now;
  try {
    now = TFolderWatch::ListWaiting(folder, uConst::BonFileExt());
  } catch (const std::exception& e) {
    AddToErrorLog(QStringLiteral("[FirstStart] The waiting receipt files cannot be listed again, none deleted: ") +
                  ExceptionText(e));
    return;
  }
  for (const TListedFile& file : List) {
    const QString path = folder + file.Name;
    const bool same = std::find(now.begin(), now.end(), file) != now.end();
    if (!same) {
      if (QFileInfo::exists(path))
        AddToErrorLog(QStringLiteral("[FirstStart] Not deleted, changed since the question: ") + path);
      continue;
    }
    QFile f(path);
    if (f.remove())
      AddToErrorLog(QStringLiteral("[FirstStart] Deleted without printing, the operator answered No: ") + path);
    else
      AddToErrorLog(QStringLiteral("[FirstStart] Could not delete ") + path + QStringLiteral(": ") + f.errorString());
  }
}

void TfrmMain::TickAgainIn(int Ms) {
  // A paused or held file timer takes no file, early or not.
  if (FileReadTimer.isActive()) SettleTimer.start(std::max(Ms, 0));
}

void TfrmMain::FileReadTimerTimer() {
  try {
    FRunner.FileTimerTick();
    // Receipts of unknown outcome are warned of while their files are in the folder.
    FRunner.CountUnknownFiles();
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
    if (FTrayShown) {
      HideInTray();
      return;
    }
    // No tray to find the window in again (and maybe no taskbar): the close button asks
    // whether to end the program, and No leaves the window as it is.
    if (!Closing() && AskYesNo(this, Message(M::ConfirmToShutdown))) {
      CloseAllowed = true;
      QCloseEvent e;
      closeEvent(&e);
    }
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

void TfrmMain::FinishClose(bool WithDisplay) {
  if (FClosed) return;
  FClosed = true;
  FileReadTimer.stop();
  SettleTimer.stop();
  TrayTimer.stop();
  FRunner.LeaveKeptReports();
  FRunner.LeaveLastingFailure();
  AddToLog(QStringLiteral("Application closed"));
  SaveSettings(SettingsFile());
  if (!WithDisplay) return;
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

void TfrmMain::DisplayGone(const QString& Why) {
  if (FClosed) return;
  const bool running = FRunner.TaskActive();
  AddToErrorLog(
      QStringLiteral("The display went away") +
      (Why.isEmpty() ? QString() : QStringLiteral(" (") + Why.trimmed() + QStringLiteral(")")) +
      (running ? QStringLiteral("; closing once the running task has ended.") : QStringLiteral("; closing.")));
  CloseAllowed = true;
  FSignalExit = true;
  FileReadTimer.stop();
  SettleTimer.stop();
  FRunner.FinishWithoutEventLoop();
  FinishClose(false);
}

bool TfrmMain::QuitRequested() {
  if (Closing()) return false;
  ExitBySignal(QStringLiteral("The end of the session"));
  return true;
}

void TfrmMain::HideInTray() {
  if (FTrayShown) {
    hide();
  } else {
    // Without a notification area a hidden window could not be found again.
    showMinimized();
  }
}

void TfrmMain::AppMinimize() {
  if (FTrayShown) hide();
}

void TfrmMain::CheckTray() {
  const bool available = FServices.TrayAvailable();
  if (available == FTrayShown || Closing()) return;
  FTrayShown = available;
  if (available) {
    if (TrayIcon) TrayIcon->show();
    AddToLog(QStringLiteral("The desktop has a tray now: the icon is shown there."));
  } else {
    if (TrayIcon) TrayIcon->hide();
    AddToLog(QStringLiteral("The desktop's tray went away: the window stays shown."));
    // A window hidden in the tray would be out of reach.
    if (isHidden()) ShowMainWindow();
  }
}

void TfrmMain::ShowForSecondStart(const QByteArray& ActivationToken) {
  // Qt's Wayland platform hands the token from the environment to the compositor when
  // the window asks to come forward.
  if (!ActivationToken.isEmpty()) qputenv("XDG_ACTIVATION_TOKEN", ActivationToken);
  ShowMainWindow();
  // Where the desktop does not let the window come forward, its taskbar entry asks for a
  // look.
  QApplication::alert(this);
}

void TfrmMain::AppRestore() { ShowMainWindow(); }

void TfrmMain::ShowMainWindow() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void TfrmMain::TrayIconDblClick() { ShowMainWindow(); }

void TfrmMain::changeEvent(QEvent* Event) {
  QMainWindow::changeEvent(Event);
  if (Event->type() == QEvent::WindowStateChange) {
    if (windowState() & Qt::WindowMinimized)
      QTimer::singleShot(0, this, [this] {
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

// A closing program starts no task: a window still open when the stop came (the settings
// window) touches no port any more.
void TfrmMain::RunTask(TTaskKind Kind, bool Flag) {
  if (!Closing()) FRunner.StartTask(Kind, Flag ? TDailyReport::Z : TDailyReport::X);
}

bool TfrmMain::WarnIfTaskActive() { return FRunner.WarnIfTaskActive(); }

bool TfrmMain::CheckConnectivity() { return !Closing() && FRunner.CheckConnectivity(); }

bool TfrmMain::TestComPort(int32_t Port) { return !Closing() && FRunner.TestComPort(Port); }

bool TfrmMain::SearchDeviceBySerial(const QString& Serial) {
  return !Closing() && FRunner.SearchDeviceBySerial(Serial);
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

}  // namespace fp
