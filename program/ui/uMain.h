#pragma once
// The main window of the driver program: start-up, the tray icon, the one-second file
// timer, the operator's menu commands, what the task runner reports, and the program's
// application object. The tasks themselves (the busy flag, their counts, the waits, the
// file timer's decisions and the folder fault) are the task runner's (uTaskRunner.h); the
// window subscribes to it and shows its state.
//
// Everything the window needs from outside comes through TMainServices, so that tests can
// put fakes in place: the clock, the creation of worker threads, the probe and the
// self-registration of the automation library, the operator's windows, the desktop (tray
// availability, opening files and folders) and the end of the application.
#include <QApplication>
#include <QDateTime>
#include <QIcon>
#include <QMainWindow>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "program/tasks/uMainServices.h"
#include "program/tasks/uOperatorWindows.h"
#include "program/tasks/uPRNFileThread.h"
#include "program/app/uSettingsFile.h"
#include "program/tasks/uTaskRunner.h"

class QAction;
class QCheckBox;
class QCloseEvent;
class QFrame;
class QLabel;
class QMenu;
class QStatusBar;
class QSystemTrayIcon;

namespace fp {

class TMarqueeProgressBar;
class TSingleInstance;

// ---- The worker ----

// The worker of the program (TECRFileThread) behind the task runner's seam.
TTaskThreadFactory WorkerTaskThreadFactory();

// ---- The automation library seam ----

struct TComServerSeam {
  // Creates the automation object, reads its driver version and releases it; raises
  // std::exception on any failure.
  std::function<QString()> ProbeDriverVersion;
  // Loads a library file by path (nullptr on failure), looks up an entry point (nullptr
  // when missing) and unloads it again.
  std::function<void*(const QString& Path)> LoadLibrary;
  std::function<void*(void* Library, const char* Name)> GetProcAddress;
  std::function<void(void* Library)> FreeLibrary;
};

// The automation object through the component runtime, and dlopen/dlsym/dlclose.
TComServerSeam SystemComServerSeam();

// ---- All services of the window ----

struct TMainServices {
  // Full path of the running program file; its folder is the program folder.
  QString ProgramFile;
  // The command-line arguments without the program's own name.
  QStringList Arguments;
  // Local time for the timer decisions, the waits and the age of files.
  std::function<QDateTime()> Now;
  // How long a receipt file must have stayed unchanged, by Now, before it is printed.
  int ReadyAgeMs = uPRNFileThread::ReadyAgeMs;
  // The monotonic clock of the waits for tasks (the system's when empty).
  std::function<int64_t()> MonotonicMs;
  TTaskThreadFactory CreateTask;
  TComServerSeam ComServer;
  std::shared_ptr<IOperatorWindows> Windows;
  // The desktop has a notification area (else the window minimises instead of hiding).
  std::function<bool()> TrayAvailable;
  // Opens a file or a folder with the desktop's default program.
  std::function<bool(const QUrl&)> OpenUrl;
  // The application is told to end: Terminate after a fatal start-up failure (the
  // process ends without saving anything), Quit after a normal exit.
  std::function<void(int ExitCode)> Terminate;
  std::function<void()> Quit;
};

// The services of the running program.
TMainServices DefaultMainServices(const QStringList& Arguments);

// ---- The window ----

class TfrmMain : public QMainWindow, public IMainWindowServices, private ITaskRunnerObserver {
  Q_OBJECT
 public:
  // The window's title for a program file.
  static QString TitleFor(const QString& ProgramFile);
  static constexpr char LibraryFileName[] = "MiravokFPAxX4_BG.so";
  static constexpr char PrnInfoFileName[] = "PRNInfo.txt";
  // The tray icon's tool tip.
  static const QString TrayHint;
  // Why the file timer cannot use a folder, as the status bar shows it.
  static const QString FolderMissingText;
  static const QString FolderUnreadableText;
  static const QString FolderUnwritableText;
  // A log menu item whose file or folder no desktop program could show (then CR and the path).
  static const QString ViewerFailedText;
  // The operator's text of a folder fault: the reason, ": " and the folder; empty for none.
  static QString FolderFaultText(const TFolderFault& Fault);

  explicit TfrmMain(TMainServices Services, QWidget* Parent = nullptr);
  ~TfrmMain() override;

  // ---- Start-up ----
  void FormCreate();
  void FormActivate();
  bool CheckMyDirWritable(bool Show);
  void DeleteOldLog(const QString& Folder, const QString& Mask);
  void FirstStart();
  // The start's question about receipt files left waiting (their number, and that No
  // deletes them).
  static QString WaitingFilesQuestion(int Count);
  bool CheckOLEServer();
  bool CreateOLEServer();
  // The file timer's tick: the task runner decides; an error it raises is logged.
  void FileReadTimerTimer();
  void LoadSettings(const QString& IniPath);
  void SaveSettings(const QString& IniPath);
  void SaveSettings() override;
  QString SettingsFile() const;

  // ---- Closing, tray ----
  void MainMenuExitClick();
  // A stop signal (its name for the log): the exit of the menu without its question; a
  // running task ends first (a file job with the file in print). Later signals change
  // nothing.
  void ExitBySignal(const QString& Signal);
  // The display went away (Why: what said so): the stop signal's path without the event
  // loop and without touching a widget. A running task is asked to stop and waited for (a
  // file job finishes the receipt in print and its report), the log says why the program
  // ends, the settings are saved; the caller ends the process then.
  void DisplayGone(const QString& Why);
  // A quit asked from outside the program (the session manager ends the session) is a
  // stop signal; true when it was taken as one, false once the program closes anyway
  // (its own quit then goes on as Qt does it).
  bool QuitRequested();
  // Hides the window in the tray; without a tray it is minimised to the taskbar.
  void HideInTray();
  void ShowMainWindow();
  // A later start of the same program file asked for the window (with the desktop's
  // activation token of that start, which a Wayland compositor wants before it lets a
  // window come forward): shown, raised, and marked for the operator where the desktop
  // refuses to bring it forward.
  void ShowForSecondStart(const QByteArray& ActivationToken);
  // A click or double click on the tray icon.
  void TrayIconDblClick();
  // The tray timer's tick: the tray icon is shown as soon as the desktop has a tray; when
  // the tray goes, a window hidden in it is shown again.
  void CheckTray();
  // The tray icon is shown in a tray of the desktop.
  bool TrayShown() const { return FTrayShown; }
  void AppMinimize();
  void AppRestore();
  void ApplicationException(QObject* Sender, const QString& Message);

  // ---- Logs ----
  void AddToLog(const QString& Message);
  void AddToErrorLog(const QString& Message);
  void ShowErrorMessage() override;

  // ---- Tasks ----
  void RunTask(TTaskKind Kind, bool Flag = true) override;
  bool WarnIfTaskActive() override;
  bool CheckConnectivity() override;
  bool TestComPort(int32_t Port) override;
  bool SearchDeviceBySerial(const QString& Serial) override;
  void btnStopCurrentJobClick();
  void chkProcessPauseClick();
  // The printer information of a task: the printer data labels, Model, SerialNo and
  // FiscalNo, PRNInfo.txt in the receipt folder (when missing or 3 hours old) and the
  // port in status panel 0.
  void GetPrnInfo(const TPRNInfo& Info);
  // The tasks, their state and the file timer's decisions.
  TTaskRunner& Runner() { return FRunner; }

  // ---- Operator commands ----
  void mnPRNInfoClick();
  void mnDayReportResetClick();
  void mnDayReportNoResetClick();
  void mnDepartRptResetClick();
  void mnDepartRptClick();
  void mnFiskMemoryClick();
  void spbPrintFMReportClick();
  void NSumInClick();
  void NSumOutClick();
  void spbEmptyBonClick();
  void spbTestPrnClick();
  void CopyLastBonClick();
  void mnDoFilesClick();
  void mnDepartmentsClick();
  void MainMenuPreferencesClick();
  void mnPayTypesRelClick();
  void MainMenuAboutClick();
  void PMenuAboutClick();
  void mnShowLogClick();
  void mnShowErrorLogClick();
  void mnShowAppDataClick();

  // The client area below the menu bar that the window starts with (the least it has).
  static constexpr int SpecifiedWidth = 515;
  static constexpr int SpecifiedHeight = 358;
  // Sizes the window to its content: the specified size, or more where the current fonts
  // and texts need it (the window stays fixed in size for the operator).
  void FitToContent();

  // ---- Status bar ----
  QString StatusText(int Panel) const;
  void SetStatusText(int Panel, const QString& Text);

  // ---- What the operator's windows use ----
  QWidget* MainWindow() override { return this; }
  TMainSettings& Settings() override { return FSettings; }
  bool TaskActive() const override { return FRunner.TaskActive(); }
  int32_t ErrorCount() const override { return FRunner.ErrorCount(); }
  TDepartments& Departments() override { return FRunner.Departments(); }
  QString Model() const override { return FModel; }
  QString SerialNo() const override { return FSerialNo; }
  QString FiscalNo() const { return FFiscalNo; }
  QString ComServerVersion() const override { return FComServerVersion; }
  void StopFileTimer() override;
  // The file timer runs again unless the pause box is checked or the first start still
  // waits for the answer about waiting files.
  void RestartFileTimer() override;
  void SetStatusPanel(int Index, const QString& Text) override;

  // ---- State (fields of the window) ----
  TMarqueeProgressBar* MarqueeBar = nullptr;
  QString LogDir;
  bool FirstActivation = false;
  bool CloseAllowed = false;

  // ---- Components ----
  QFrame* Panel1 = nullptr;
  QLabel* imgLogo = nullptr;
  QLabel* lblCurrentTaskHdr = nullptr;
  QLabel* lblCurrentTaskName = nullptr;
  QLabel* lbCurrentStatus = nullptr;
  QLabel* lblComError = nullptr;
  QLabel* imgError = nullptr;
  QFrame* Panel2 = nullptr;
  QLabel* lblLastTaskHdr = nullptr;
  QLabel* lblLastTaskName = nullptr;
  QLabel* lblLastTaskResult = nullptr;
  // The files of the running (or last) file task kept as unknown outcome (their names,
  // and their report lines with path and reason); the last-task panel names them.
  QStringList FUnknownFiles;
  QStringList FUnknownNotes;
  // The last file kept as unknown outcome (name, report line) while its warning lasts: the
  // error line warns while unknown-outcome files are in the receipt folder (their count by
  // the file timer), or, for a file the count has not seen, until a file task prints
  // without an error.
  QString FUnknownFile;
  QString FUnknownNote;
  // The note of the file last kept as unknown outcome, shown until the file's error event.
  QString FUnknownHint;
  bool FUnknownHintPending = false;
  // What a later opening did with the receipt of a file of unknown outcome: the last one
  // (under the warning of the error line while it lasts) and those of the running task
  // (in the last-task panel).
  QString FSettledText;
  QStringList FSettledTexts;
  // The last-task panel names files of unknown outcome.
  bool FLastTaskNamesUnknown = false;
  // The last note of a problem (its text and what it was about): the same one is not shown
  // again until a task ends without an error.
  QString FLastProblemNote;
  // The receipt file of the last file event.
  QString FCurrentFile;
  // The count of unknown-outcome files the alerts last showed.
  int32_t FShownUnknownCount = 0;
  // The note picture of an unknown outcome (the warning triangle).
  static constexpr int kUnknownHintImage = 5;
  QFrame* pnl = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* LabelPrinterName = nullptr;
  QLabel* LabelSerialNo = nullptr;
  QLabel* LabelFiscalNom = nullptr;
  QLabel* LabelLastDoc = nullptr;
  QLabel* LabelLastInvoice = nullptr;
  QLabel* LabelColumnCount = nullptr;
  QLabel* lblModelName = nullptr;
  QLabel* lblSerialNo = nullptr;
  QLabel* lblFMNom = nullptr;
  QLabel* lblLastDoc = nullptr;
  QLabel* lblNextInvNo = nullptr;
  QLabel* lblColumnCount = nullptr;
  QCheckBox* chkProcessPause = nullptr;
  QStatusBar* stTask = nullptr;
  QTimer FileReadTimer;
  // A single extra tick of the file timer, at the moment a waiting receipt file will be
  // ready (the runner asks for it); it ticks only while the file timer runs.
  QTimer SettleTimer;
  QSystemTrayIcon* TrayIcon = nullptr;
  // Looks every TrayCheckMs whether the desktop's tray came or went.
  QTimer TrayTimer;
  static constexpr int TrayCheckMs = 2000;
  QMenu* PopupMenu1 = nullptr;
  // 0 normal, 1 printer offline, 2 a folder that cannot be used, 3 receipts of unknown
  // outcome wait for a look.
  QIcon TrayIcons[4];
  int TrayIconIndex = 0;
  std::vector<QPixmap> HintImages;
  // Menu items by component name ("mnPRNInfo", "MainMenuExit", ...).
  QAction* MenuItem(const QString& Name) const;

  TMainServices& Services() { return FServices; }

 protected:
  void closeEvent(QCloseEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  bool event(QEvent* Event) override;
  void showEvent(QShowEvent* Event) override;

 private:
  // ---- What the task runner asks and reports ----
  bool SelectPeriod(TReportPeriod& Period) override;
  bool InputAmount(const QString& Prompt, QString& Text) override;
  void ShowNotice(TRunnerNotice Notice, const QString& Text) override;
  void SetHourglass(bool On) override;
  void SetBusy(bool On) override;
  void TaskStarted(TTaskKind Kind) override;
  void TaskEnded(TTaskKind Kind, int32_t Processed, int32_t Errors) override;
  void TaskIdle() override;
  void TaskError(TTaskKind Kind, TTaskErrorKind Error, int32_t Errors, const QString& PrinterState) override;
  void FileStarted(const QString& Path) override;
  void FileProcessed(int32_t Processed, int32_t Errors) override;
  void FileOutcomeUnknown(const QString& Path, const QString& Why) override;
  void FileOutcomeSettled(const QString& Path, const QString& Text) override;
  void FolderNotice(const QString& Text) override;
  void PrinterInfo(const TPRNInfo& Info) override;
  void AlertsChanged() override;
  void TickAgainIn(int Ms) override;

  void BuildWindow();
  // Asks what to do with the receipt files left waiting; an explicit No deletes them, each
  // one logged.
  void AskAboutWaitingFiles(const std::vector<TListedFile>& List);
  void BuildMenus();
  QAction* AddItem(QMenu* Menu, const char* Name, const QString& Caption, void (TfrmMain::*Handler)());
  QDateTime Now() const;
  // A menu command's task; once it has started, its end without errors shows FinishedOK.
  void StartWithSuccessMessage(TTaskKind Kind, TDailyReport Report = TDailyReport::Z);
  void SetTrayIcon(int Index);
  // Shows the folder fault, else the printer offline state (with the printer's own state
  // when it reported one), and below it the warning of receipts of unknown outcome, in the
  // error label and picture, the tray icon and its tool tip, and status panel 2 while no
  // task runs.
  void UpdateAlerts();
  // The warning of receipts of unknown outcome (empty for none).
  QString UnknownOutcomeAlert() const;
  // The operator's line of a state the printer reported.
  static QString PrinterStateLine(const QString& State);
  // Status panel 2 while no task runs: the folder fault or Started while the timer runs,
  // else StoppedByUser.
  QString IdleStatusText() const;
  // The program's end once no task runs: the log's closing line, the settings; with the
  // display, the window and the tray icon go and the application is told to quit.
  void FinishClose(bool WithDisplay = true);
  // The program is closing: closed already, or waiting for the running task to end.
  bool Closing() const { return FClosed || FRunner.QuitPending(); }
  void OpenLogFile(const QString& FileName);
  void OpenWithDesktop(const QString& Path);

  TMainServices FServices;
  TMainSettings FSettings;
  TTaskRunner FRunner;
  QString FComServerVersion;
  QString FModel, FSerialNo, FFiscalNo;
  bool FHoldFileTimer = false;
  // A failure of the start that is shown once the file timer runs (empty: none).
  QString FStartProblem;
  // Folders whose start-up clean-up was skipped (logged once each).
  QStringList FCleanUpSkipped;
  // The last failure to write PRNInfo.txt (logged once until it changes or ends).
  QString FPrnInfoFailure;
  // The program closes by a stop signal.
  bool FSignalExit = false;
  bool FTrayShown = false;
  QString FProgramFile;
  bool FInFirstActivation = false;
  bool FHourglass = false;
  bool FClosed = false;
  bool FTerminated = false;
  bool FFitting = false;
  QStatusBar* FStatus = nullptr;
  QLabel* FPanels[3] = {nullptr, nullptr, nullptr};
};

// The program's application object: errors that escape an event handler reach
// ExceptionHandler instead of ending the program (silent EAbort errors are dropped).
class TDriverApplication : public QApplication {
 public:
  // The program's language, for Qt's own texts (the standard buttons of its dialogs).
  static constexpr char QtLanguage[] = "bg";
  // Loads Qt's own translations of that language from the folder (Qt's translation folder
  // when empty) and installs them in the application; nullptr, quietly, when the files are
  // not there (Qt's English texts stay). The translator belongs to the application.
  static QObject* InstallQtTranslations(QCoreApplication& App, const QString& Folder = {});

  TDriverApplication(int& Argc, char** Argv);
  bool notify(QObject* Receiver, QEvent* Event) override;
  std::function<void(QObject* Sender, const QString& Message)> ExceptionHandler;
  // Takes the application's quit event first: true when it handled it (the window
  // refuses to close on a quit, so the session's end would otherwise change nothing).
  std::function<bool()> QuitRequestHandler;

  // A second start from the same program file: asks the running copy to show its window
  // and says what happened on stderr and in the program log, and, when the running copy
  // could not be asked, in a message where a display is. The process's exit status: 0
  // when the running copy showed its window, else 1.
  static int HandOverToRunningCopy(TSingleInstance& Instance, const QString& ProgramFile);
  // There is a display to show a message on (not Qt's offscreen or minimal platform).
  static bool HasDisplay();

  // The display going away: Qt's platform plugins end the process (exit) when the
  // connection to the X server or to the compositor breaks, whatever the program is
  // doing. From now on that end is caught on the main thread, at Qt's warning about the
  // broken connection (or, failing that, at the exit itself), and OnGone runs instead,
  // with the warning's text: the program's stop path, which must need no display and no
  // event loop. The process then ends with status 0. EndPlanned marks the program's own
  // end, which is not caught.
  static void WatchDisplay(std::function<void(const QString& Why)> OnGone);
  static void EndPlanned();
  // Qt's warning that tells of a broken display connection.
  static bool IsDisplayLostWarning(const QString& Message);
  // The session manager's connection closing (an I/O error on it) runs OnClosed instead of
  // the library's default, which ends the process; OnClosed runs inside the library and
  // must only post (a byte into the stop signals' pipe). No effect without a session.
  static void WatchSession(void (*OnClosed)());

 protected:
  bool event(QEvent* Event) override;
};

}  // namespace fp
