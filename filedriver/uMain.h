#pragma once
// The main window of the driver program: start-up, the tray icon, the one-second file
// timer, the task runner with the worker's events, the operator's menu commands, and
// the program's application object.
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

#include "filedriver/uMainServices.h"
#include "filedriver/uOperatorWindows.h"
#include "filedriver/uPRNFileThread.h"
#include "filedriver/uSettingsFile.h"

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

// ---- The worker seam ----

// What a task's worker is created with (the job and its arguments).
struct TTaskRequest {
  TTaskKind Kind = tkNone;  // the worker's job: cash out runs as tkSumIn
  QString BonFolder;        // tkReadFiles
  bool WatGrpBeginFromOne = false;
  int32_t FirstBlock = 1;  // tkReportByBlock
  int32_t LastBlock = 1;
  bool Detailed = false;   // tkReportByBlock, tkReportByDates
  double StartDate = 0;    // tkReportByDates
  double EndDate = 0;
  uint8_t Reset = 0;       // tkXZReport: 1 Z report
  TDepartments Departments;  // tkSetDepartments
  double Amount = 0;       // tkSumIn: negative for cash out
};

// The settings every worker gets before it starts.
struct TTaskSettings {
  int32_t ComPort = 1;
  int32_t BaudRate = 115200;
  bool RepFilePrint = true;
  bool RepDetailPrint = true;
  QString LogDir;
  uint8_t CharEncoding = 0;
  QString DeviceSerialNom;  // trimmed
  bool AutoSerachDevice = false;
  QString BonFolder;        // the receipt folder of the settings (status answers)
};

// The worker's nine events as the window receives them (all but DepartmentsRead on the
// main thread).
struct TTaskEvents {
  std::function<void()> TaskFinished;
  std::function<void(TTaskErrorKind)> Error;
  std::function<void()> PrinterOffline;
  std::function<void()> PrinterOnline;
  std::function<void(const QString&)> FileStarted;
  std::function<void()> FileProcessed;
  std::function<void(const TPRNInfo&)> PrinterInfo;
  std::function<void(const TDepartmentRow&)> DepartmentReceived;
  std::function<void()> DepartmentsRead;
};

// One task's worker thread, created suspended. Destroying it detaches its events and
// waits until the thread has ended.
class ITaskThread {
 public:
  virtual ~ITaskThread() = default;
  virtual void Configure(const TTaskSettings& Settings) = 0;
  virtual void SetEvents(TTaskEvents Events) = 0;
  virtual void Resume() = 0;
  // Asks the worker to stop; returns at once.
  virtual void Terminate() = 0;
  // No event reaches the window from now on.
  virtual void DetachEvents() = 0;
  // The thread body has ended.
  virtual bool Finished() const = 0;
};

using TTaskThreadFactory = std::function<std::unique_ptr<ITaskThread>(const TTaskRequest&)>;

// The worker of the program (TECRFileThread) behind the seam.
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

class TfrmMain : public QMainWindow, public IMainWindowServices {
  Q_OBJECT
 public:
  // The window's title for a program file.
  static QString TitleFor(const QString& ProgramFile);
  static constexpr int WaitLimitSec = 120;
  static constexpr int DepartmentsWaitLimitSec = 220;
  static constexpr char LibraryFileName[] = "MiravokFPAxX4_BG.so";
  static constexpr char PrnInfoFileName[] = "PRNInfo.txt";

  explicit TfrmMain(TMainServices Services, QWidget* Parent = nullptr);
  ~TfrmMain() override;

  // ---- Start-up ----
  void FormCreate();
  void FormActivate();
  bool CheckMyDirWritable(bool Show);
  void DeleteOldLog(const QString& Folder, const QString& Mask);
  void FirstStart();
  bool CheckOLEServer();
  bool CreateOLEServer();
  int32_t PendingFileCount();
  void FileReadTimerTimer();
  void LoadSettings(const QString& IniPath);
  void SaveSettings(const QString& IniPath);
  void SaveSettings() override;
  QString SettingsFile() const;

  // ---- Closing, tray ----
  void MainMenuExitClick();
  void HideInTray();
  void ShowMainWindow();
  void TrayIconDblClick();
  void AppMinimize();
  void AppRestore();
  void ApplicationException(QObject* Sender, const QString& Message);

  // ---- Logs ----
  void AddToLog(const QString& Message);
  void AddToErrorLog(const QString& Message);
  void ShowErrorMessage() override;

  // ---- The task runner ----
  void RunTask(TTaskKind Kind, bool Flag = true) override;
  // RunTask with its outcome: false when no task was started (busy, a folder not
  // writable, cancelled or refused input). FromTimer: started by the file timer, which
  // logs a folder failure instead of showing it.
  bool StartTask(TTaskKind Kind, bool Flag = true, bool FromTimer = false);
  bool StartTaskThread(const TTaskRequest& Request);
  static QString TaskCaption(TTaskKind Kind);
  bool IsTaskActive() override;
  bool CheckConnectivity() override;
  bool TestComPort(int32_t Port) override;
  bool SearchDeviceBySerial(const QString& Serial) override;
  void btnStopCurrentJobClick();
  void chkProcessPauseClick();

  // ---- Worker events ----
  void TaskFinished();
  void ThreadError(TTaskErrorKind Kind);
  void PrinterOffline();
  void PrinterOnline();
  void FileStarted(const QString& Path);
  void FileProcessed();
  void GetPrnInfo(const TPRNInfo& Info);
  void DepartmentReceived(const TDepartmentRow& Row);
  void DepartmentsRead();

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

  // ---- Status bar ----
  QString StatusText(int Panel) const;
  void SetStatusText(int Panel, const QString& Text);

  // ---- What the operator's windows use ----
  QWidget* MainWindow() override { return this; }
  TMainSettings& Settings() override { return FSettings; }
  bool TaskActive() const override { return FTaskActive; }
  int32_t ErrorCount() const override { return FErrorCount; }
  TDepartments& Departments() override { return FDepartments; }
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
  std::unique_ptr<ITaskThread> CurrentThread;
  int32_t ProcessedCount = 0;
  TTaskKind CurrentTaskKind = tkNone;
  QDateTime LastCheckTime;  // null: never
  QString LogDir;
  bool Silent = false;
  bool FirstActivation = false;
  bool CloseAllowed = false;
  bool ShowSuccess = false;

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
  QSystemTrayIcon* TrayIcon = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QIcon TrayIcons[2];
  int TrayIconIndex = 0;
  std::vector<QPixmap> HintImages;
  // Menu items by component name ("mnPRNInfo", "MainMenuExit", ...).
  QAction* MenuItem(const QString& Name) const;

  // The tasks started so far and the one last finished, with its error count.
  uint64_t TaskSerial() const { return FTaskSerial; }
  uint64_t FinishedSerial() const { return FFinishedSerial; }
  // A close was asked for while a task ran: the window waits for the worker to end.
  bool QuitPending() const { return FQuitPending; }
  TMainServices& Services() { return FServices; }

 protected:
  void closeEvent(QCloseEvent* Event) override;
  void changeEvent(QEvent* Event) override;

 private:
  void BuildWindow();
  void BuildMenus();
  QAction* AddItem(QMenu* Menu, const char* Name, const QString& Caption, void (TfrmMain::*Handler)());
  QDateTime Now() const;
  bool WaitForTask(uint64_t Serial, const QDateTime& Started, int StepMs, int LimitSec);
  bool OwnTaskSucceeded(uint64_t Serial) const;
  // A settings test: a silent task waited for in 5 ms steps; true when it started and
  // ended without error. HourglassFirst: the hourglass comes before the start.
  bool RunSettingsTest(TTaskKind Kind, bool HourglassFirst);
  void SetHourglass(bool On);
  void SetTrayIcon(int Index);
  void RetireCurrentThread();
  void PurgeRetiredThreads();
  void LogTimerFolderFailure(bool Failed);
  void FinishClose();
  void OpenLogFile(const QString& FileName);
  static QString WithSlash(const QString& Folder);

  TMainServices FServices;
  TMainSettings FSettings;
  bool FTaskActive = false;
  TDepartments FDepartments;
  int32_t FErrorCount = 0;
  QString FComServerVersion;
  QString FModel, FSerialNo, FFiscalNo;
  bool FHoldFileTimer = false;
  QString FProgramFile;
  std::vector<std::unique_ptr<ITaskThread>> FRetired;
  QTimer FPurgeTimer;
  uint64_t FTaskSerial = 0;
  uint64_t FFinishedSerial = 0;
  int32_t FFinishedErrorCount = 0;
  bool FInFileTimer = false;
  bool FInFirstActivation = false;
  bool FTimerFolderFailed = false;
  bool FHourglass = false;
  bool FQuitPending = false;
  bool FClosed = false;
  bool FTerminated = false;
  QString FDirMessage;
  QStatusBar* FStatus = nullptr;
  QLabel* FPanels[3] = {nullptr, nullptr, nullptr};
};

// The program's application object: errors that escape an event handler reach
// ExceptionHandler instead of ending the program (silent EAbort errors are dropped).
class TDriverApplication : public QApplication {
 public:
  TDriverApplication(int& Argc, char** Argv);
  bool notify(QObject* Receiver, QEvent* Event) override;
  std::function<void(QObject* Sender, const QString& Message)> ExceptionHandler;
};

}  // namespace fp
