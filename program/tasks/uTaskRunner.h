#pragma once
// The task runner of the driver program. Every piece of printer work is a task: one job
// run by a fresh worker thread, at most one at a time. The runner holds what the tasks
// decide, with no widget in it:
// - the busy flag, the running task's kind and serial number, and its counts of
//   processed files and errors (kept after the task's end until the next one starts);
// - the request each task kind is started with and the settings every worker gets;
// - the waits for short tasks (the connectivity check and the two settings tests);
// - the workers whose job has ended but whose thread has not yet;
// - the care of the receipt folders (uFolderCare.h), handed to every job;
// - the file timer's decisions: a periodic printer check when its interval has passed,
//   else a file task when receipt files wait, nothing while a folder cannot be used;
// - the folder fault the timer found and the printer's offline state.
//
// The main window subscribes through ITaskRunnerObserver: it shows what the runner
// reports and answers the two questions a task start may ask the operator (a report
// period, an amount). Everything runs on the main thread, where the worker's events
// arrive; only OnDepartmentsRead comes from the worker thread, and the runner binds
// nothing to it.
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "program/tasks/uLastingFailure.h"
#include "program/tasks/uOperatorWindows.h"
#include "program/tasks/uPRNFileThread.h"
#include "program/app/uSettingsFile.h"
#include "program/tasks/uTaskRequest.h"
#include "program/receipts/uFolderWatch.h"

namespace fp {

// ---- The worker seam ----

// A task's worker is created from a TTaskRequest (uTaskRequest.h): the job and its
// arguments.

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
  QString BonFolder;                            // the receipt folder of the settings (status answers)
  int ReadyAgeMs = uPRNFileThread::ReadyAgeMs;  // how long a receipt file must stay unchanged
  // How the job reads receipt files, as the settings were when the task started.
  std::vector<TPayTypePair> PayTypePairs;
  QString CashierPas;
  bool UsePluAsDepartNo = false;
  QString BonFileExt = QStringLiteral("bon");
};

// The worker's nine events (all but DepartmentsRead on the main thread).
struct TTaskEvents {
  std::function<void()> TaskFinished;
  // A failure of that kind, with what the printer itself reported behind it (empty when
  // it was the link's or none; TECRFileThread::PrinterState).
  std::function<void(TTaskErrorKind, const QString& PrinterState)> Error;
  std::function<void()> PrinterOffline;
  std::function<void()> PrinterOnline;
  std::function<void(const QString&)> FileStarted;
  std::function<void()> FileProcessed;
  std::function<void(const TPRNInfo&)> PrinterInfo;
  std::function<void(const TDepartmentRow&)> DepartmentReceived;
  std::function<void()> DepartmentsRead;
  // A receipt file kept as unknown outcome: its new path and why it may have printed.
  std::function<void(const QString&, const QString&)> FileUnknown;
  // A later opening settled the receipt of a file kept as unknown outcome: the file's path
  // and what became of it, in the operator's words.
  std::function<void(const QString&, const QString&)> UnknownSettled;
  // What the operator is to be told of the receipt folder (TECRFileThread::OnFolderNotice).
  std::function<void(const QString&)> FolderNotice;
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
  // No event reaches the runner from now on.
  virtual void DetachEvents() = 0;
  // The thread body has ended.
  virtual bool Finished() const = 0;
  // The text of the failure that ended the job (read in its events; empty when none).
  virtual QString ErrorMessage() const { return QString(); }
  // Its reason in the operator's words, when the job has one (empty for a failure whose
  // only text is the log's).
  virtual QString OperatorReason() const { return QString(); }
};

using TTaskThreadFactory = std::function<std::unique_ptr<ITaskThread>(const TTaskRequest&)>;

// ---- Folders ----

// A folder the file timer cannot use, and why.
enum class TFolderProblem { None, Missing, Unreadable, Unwritable };
struct TFolderFault {
  TFolderProblem Problem = TFolderProblem::None;
  QString Folder;  // as stored in the settings (or the log or program folder)
  int Error = 0;   // errno of the call that failed, 0 when unknown
  explicit operator bool() const { return Problem != TFolderProblem::None; }
};

// Who starts a task: the operator (a refusal is shown) or the file timer (silent; a folder
// that cannot be written becomes the folder fault).
enum class TTaskStarter { Operator, Timer };
// The report of a tkXZReport task.
enum class TDailyReport { Z, X };

namespace uTaskRunner {

// The amount of a cash movement as the operator typed it: a number in the C locale without
// group separators, blanks around it allowed, that is finite and above 0; nullopt
// otherwise.
std::optional<double> ParseCashAmount(const QString& Text);

// What a task start asked the operator; a kind reads only its own.
struct TStartAnswers {
  TDailyReport Report = TDailyReport::Z;  // tkXZReport
  TReportPeriod Period{};                 // tkReportByBlock, tkReportByDates
  double Amount = 0;                      // tkSumIn, tkSumOut: the amount typed (above 0)
};

// The request a task of that kind starts with, from the settings, the department list and
// the answers; nullopt for a kind no task runs. A report period by dates makes a
// tkReportByDates request, one by blocks a tkReportByBlock request, whichever of the two
// was asked; cash in and out are both tkSumIn requests, cash out with a negative amount.
std::optional<TTaskRequest> BuildTaskRequest(TTaskKind Kind, const TStartAnswers& Answers,
                                             const TMainSettings& Settings, const TDepartments& Departments);

// The hourglass shows while a task of that kind starts and runs.
bool TaskShowsHourglass(TTaskKind Kind);

// The whole seconds between two moments, truncated; an unknown moment counts as the zero
// date, so it is always long ago.
int64_t WholeSecondsBetween(const QDateTime& A, const QDateTime& B);

// The start-up clean-up of a folder: each regular file whose name matches one of Masks
// ("*.err"; any case) and that was last written more than KeepDays days before Now is
// deleted, with the line "[DeleteOldLog] Deleted <path>, <age> days old". When even the
// newest regular file of the folder is older than that, it is the clock that jumped ahead:
// nothing is deleted, and one line says so. The folder is listed once and each entry
// looked at once, relative to the open folder, links not followed; a file is deleted only
// while its name still holds the file that was looked at (a file job may have put a new
// error file there since). Stop is asked between files; true ends the clean-up. Log gets
// each line and whether it is for the exception log (a folder that cannot be read).
void DeleteOldFiles(const QString& Folder, const QStringList& Masks, const QDateTime& Now, double KeepDays,
                    const std::function<bool()>& Stop, const std::function<void(const QString&, bool)>& Log);

}  // namespace uTaskRunner

// ---- What the runner reports and asks ----

// The messages a task start or end shows the operator.
enum class TRunnerNotice {
  ActiveTask,    // a command while a task runs (error)
  CantWrite,     // a folder fails the write test (error; the window comes to the front)
  ErrorMessage,  // the generic error message (error)
  InvalidValue,  // an amount that is not a positive number (warning)
  FinishedOK,    // a task asked to report success ended without errors (information)
};

class ITaskRunnerObserver {
 public:
  virtual ~ITaskRunnerObserver() = default;

  // ---- Questions of a task start ----
  // The report-period window; false when it was closed without OK.
  virtual bool SelectPeriod(TReportPeriod& Period) = 0;
  // The amount of a cash movement, asked with Prompt; Text holds "0" and gets the typed
  // text. False on Cancel.
  virtual bool InputAmount(const QString& Prompt, QString& Text) = 0;

  // ---- Messages and the mouse cursor ----
  // A modal message; the runner goes on when it is closed.
  virtual void ShowNotice(TRunnerNotice Notice, const QString& Text) = 0;
  // The hourglass while a task that wants it runs or a wait waits.
  virtual void SetHourglass(bool On) = 0;

  // ---- The task's course ----
  // The busy bar: on before the worker starts, off when it failed to start or ended.
  virtual void SetBusy(bool On) = 0;
  // The worker runs.
  virtual void TaskStarted(TTaskKind Kind) = 0;
  // The worker's last event, with the task's counts.
  virtual void TaskEnded(TTaskKind Kind, int32_t Processed, int32_t Errors) = 0;
  // The runner is idle again after TaskEnded (QuitPending tells whether a close waits).
  virtual void TaskIdle() = 0;
  // The worker reported an error; Errors is the task's count with it, PrinterState what
  // the printer itself reported behind a printer error (empty for the link's failure and
  // for a file error).
  virtual void TaskError(TTaskKind Kind, TTaskErrorKind Error, int32_t Errors, const QString& PrinterState) = 0;
  virtual void FileStarted(const QString& Path) = 0;
  virtual void FileProcessed(int32_t Processed, int32_t Errors) = 0;
  // A receipt file was kept as unknown outcome (Path: its new name): its receipt may have
  // printed for the reason Why. Comes before the file's TaskError.
  virtual void FileOutcomeUnknown(const QString& Path, const QString& Why) {
    (void)Path;
    (void)Why;
  }
  // A later opening settled the receipt of the unknown-outcome file Path; Text says what
  // became of it and whether the file may be sent again.
  virtual void FileOutcomeSettled(const QString& Path, const QString& Text) {
    (void)Path;
    (void)Text;
  }
  // What the operator is to be told of the receipt folder, in the operator's words: a printed
  // receipt's report that cannot be written while the others print on, another program that
  // prints from the folder without shared locks. Comes once per change of that state.
  virtual void FolderNotice(const QString& Text) { (void)Text; }
  virtual void PrinterInfo(const TPRNInfo& Info) = 0;
  // The folder fault, the printer's offline state or state, or the number of
  // unknown-outcome files in the receipt folder changed.
  virtual void AlertsChanged() = 0;

  // ---- The file timer ----
  // A receipt file waits that will be ready in Ms milliseconds (if it stays unchanged):
  // the file timer's tick is wanted once more at that moment, before the timer's next one.
  virtual void TickAgainIn(int Ms) = 0;
};

// What the runner needs of the program around it.
struct TTaskRunnerServices {
  // Local time, for what is meant as a local time. No elapsed time is measured by it: the
  // timer's decisions, the waits and the age of receipt files go by MonotonicMs.
  std::function<QDateTime()> Now;
  TTaskThreadFactory CreateTask;
  // A line for the normal log and one for the exception log.
  std::function<void(const QString&)> Log;
  std::function<void(const QString&)> ErrorLog;
  // How long a receipt file must have stayed unchanged, by MonotonicMs, before it is
  // printed (the runner's own listing and every worker's).
  int ReadyAgeMs = uPRNFileThread::ReadyAgeMs;
  // Milliseconds of a clock that never jumps (the system's monotonic clock when empty):
  // the waits for tasks, the printer check interval, the quiet time of receipt files and
  // the retry of refused ones are timed by it (the folder watch handed to every worker
  // keeps it), so a change of the PC clock (daylight-saving time, a time server, the
  // operator) neither ends nor stretches them.
  std::function<int64_t()> MonotonicMs;
};

// ---- The runner ----

class TTaskRunner {
 public:
  static constexpr int WaitLimitSec = 120;

  // Settings: the program's settings, read for every task (the settings tests change
  // them for their own task and restore them).
  TTaskRunner(TTaskRunnerServices Services, TMainSettings& Settings, ITaskRunnerObserver& Observer);
  ~TTaskRunner();
  TTaskRunner(const TTaskRunner&) = delete;
  TTaskRunner& operator=(const TTaskRunner&) = delete;

  // The log folder, handed to every worker and write-tested before every task.
  void SetLogDir(const QString& Folder) { FLogDir = Folder; }
  const QString& LogDir() const { return FLogDir; }

  // ---- Starting tasks ----
  // Starts a task; false when none was started: a task runs (ActiveTask, or silently from
  // the timer), a folder is not writable (CantWrite, or from the timer the folder fault),
  // the operator cancelled or typed an invalid amount, or the worker failed to start.
  // Report: the report of tkXZReport; other kinds ignore it.
  bool StartTask(TTaskKind Kind, TDailyReport Report = TDailyReport::Z, TTaskStarter Starter = TTaskStarter::Operator);
  bool StartTask(TTaskKind Kind, TTaskStarter Starter) { return StartTask(Kind, TDailyReport::Z, Starter); }
  static QString TaskCaption(TTaskKind Kind);
  // A task runs (no message).
  bool TaskActive() const { return FTaskActive; }
  // For a command of the operator: true when a task runs, after showing ActiveTask.
  bool WarnIfTaskActive();
  // The receipt, log and program folders can be written; Show: the failure is shown.
  bool CheckMyDirWritable(bool Show);
  // The start's test of the folders the program itself needs (the settings and the logs
  // live there): the log folder, then the program folder; the last that cannot be written,
  // none when both can.
  TFolderFault ProgramFolderFault() const;
  // The start's look at the receipt folder: one that is missing or cannot be read or
  // written is the folder fault the file timer shows (and ends once the folder can be used);
  // a folder that can be used is tended at once (TendReceiptFolder).
  void CheckReceiptFolder();
  // The start's clean-up of old files of the receipt folder (DeleteOldFiles), on a thread
  // of its own: a share with thousands of files holds neither the window nor the first
  // receipt up (it takes no lock of the folder). Its lines reach the logs on the main
  // thread. Nothing is started while an earlier clean-up runs.
  void CleanUpOldFiles(const QString& Folder, const QStringList& Masks);
  // The clean-up runs.
  bool CleanUpRunning() const { return FCleanUpRunning.load(); }
  // Asks the running worker to stop (it ends as it decides).
  void StopCurrentTask();
  // The program is to end once the running task has: the worker is asked to stop, and
  // no success message is shown at its end.
  void RequestQuit();
  bool QuitPending() const { return FQuitPending; }
  // The program must end without its event loop (the display went away): the running
  // worker is asked to stop as by RequestQuit (a file job finishes the receipt in print
  // and its report), its events are cut off, since nobody can see them and no loop would
  // deliver them, and the call returns once the worker's thread has ended. The runner is
  // idle then; no event arrives afterwards.
  void FinishWithoutEventLoop();
  // Detaches every worker and waits for its thread, and ends the clean-up; no event
  // arrives afterwards.
  void ReleaseWorkers();
  // At the program's end, once no task runs: the reports of printed receipts kept in
  // memory are tried once more, and the text of one that still cannot be written goes
  // into the log (TFolderCare::LeaveKeptReports).
  void LeaveKeptReports();

  // ---- Waits ----
  // A connect-only task with the current settings, waited for up to WaitLimitSec when
  // the check interval is not 0; true when it ended without error (at once when 0).
  bool CheckConnectivity();
  // A connect-only task on that port, without the search by serial number, silent and
  // waited for; true on success. Ports the library cannot hold are refused.
  bool TestComPort(int32_t Port);
  // A printer-information task searching for that serial number, silent and waited
  // for; true on success.
  bool SearchDeviceBySerial(const QString& Serial);

  // ---- The file timer ----
  // One tick: nothing while a tick is still inside its task start; while a task runs, only
  // a look at the receipt folder, so that a file that came starts its quiet time, and a
  // tick is asked for (TickAgainIn) when the task ends or the file will be ready, whichever
  // is later. Else the folder fault is updated; without one, the receipt folder is tended
  // (the reports kept in memory written, the claims left by an earlier run recovered:
  // TendReceiptFolder), then a printer check when the interval has passed (the folder is
  // looked at as while a task runs), else a file task when receipt files are ready; when
  // files wait that are not ready yet, the observer is asked for another tick when the
  // first will be (TickAgainIn; after the file task, when one was started); when no
  // file waits and a file job printed since the last check, a printer check (with checks
  // on), so that the device data shown are the printer's own. Raises what the receipt
  // listing raises.
  void FileTimerTick();
  // The receipt files ready to be printed; WaitMs (when given) gets the milliseconds until
  // the next waiting file is ready, -1 when none waits.
  int32_t PendingFileCount(qint64* WaitMs = nullptr);
  // When the timer last started a printer check, by MonotonicMs (none: never).
  const std::optional<int64_t>& LastCheckMs() const { return FLastCheckMs; }
  void SetLastCheckMs(std::optional<int64_t> Ms) { FLastCheckMs = Ms; }
  // What the timer last found wrong with the folders (none while they can be used).
  const TFolderFault& FolderFault() const { return FFolderFault; }
  // The last printer event of a task that was not a settings test said offline.
  bool IsPrinterOffline() const { return FPrinterOffline; }
  // Why, as the worker told it the operator (empty when it did not say).
  const QString& PrinterOfflineText() const { return FPrinterOfflineText; }
  // What the printer itself reported with the last printer error of a task that was not a
  // settings test (no paper, an open cover...); empty when that error was the link's, and
  // once the printer is online again.
  const QString& PrinterState() const { return FPrinterState; }

  // ---- Unknown-outcome files ----
  // The regular files named "*.unk" in the receipt folder at the last count (0 before the
  // first and without a receipt folder).
  int32_t UnknownFileCount() const { return FUnknownCount; }
  // Counts them again when the folder changed since the last count, or the last count is
  // UnknownRecountMs old (a file system with coarse stamps may hide a change); otherwise
  // one look at the folder's own status is all. Names are looked at in the open folder,
  // links not followed; a folder that cannot be listed keeps the count. AlertsChanged when
  // the number changed.
  void CountUnknownFiles();
  static constexpr int UnknownRecountMs = 10000;
  // Looks at a folder: it exists and is a folder, it can be listed and has room for a
  // report file (Read: the receipt folder; too little room is Unwritable with ENOSPC), a
  // file can be created in it (Write).
  static TFolderFault ProbeFolder(const QString& Folder, bool Read, bool Write);

  // ---- Worker events (bound to the running task's worker) ----
  void TaskFinished();
  void ThreadError(TTaskErrorKind Kind, const QString& PrinterState = QString());
  void PrinterOffline(const QString& Why = QString());
  void PrinterOnline();
  void FileStarted(const QString& Path);
  void FileProcessed();
  void DepartmentReceived(const TDepartmentRow& Row);

  // ---- The task's state ----
  TTaskKind CurrentTaskKind() const { return FCurrentTaskKind; }
  // Counts of the running (or last) task.
  int32_t ProcessedCount() const { return FProcessedCount; }
  int32_t ErrorCount() const { return FErrorCount; }
  // The running task ends with FinishedOK when it has no errors.
  bool ShowSuccess() const { return FShowSuccess; }
  void SetShowSuccess(bool On) { FShowSuccess = On; }
  // A settings test runs: printer events do not change the offline state.
  bool Silent() const { return FSilent; }
  // The department list that the read task fills and the write task takes a copy of.
  TDepartments& Departments() { return FDepartments; }
  // The tasks started so far and the one last finished.
  uint64_t TaskSerial() const { return FTaskSerial; }
  uint64_t FinishedSerial() const { return FFinishedSerial; }
  // Workers kept until their thread has ended (the running one not counted).
  size_t RetiredCount() const { return FRetired.size(); }
  // The folder watch the runner lists with and hands to every worker with its request.
  const std::shared_ptr<TFolderWatch>& FolderWatch() const { return FWatch; }
  // What holds back the exception-log lines of a lasting failure, handed to every worker.
  const std::shared_ptr<TLastingFailure>& LastingFailure() const { return FFailures; }
  // At the program's end: a failure that still lasts gets its line in the exception log.
  void LeaveLastingFailure();
  // The runner's care of the receipt folders (uFolderCare.h): its tending and every job it
  // starts (with the request) share it; no other runner does.
  const std::shared_ptr<TFolderCare>& FolderCare() const { return FCare; }

 private:
  bool StartTaskThread(const TTaskRequest& Request);
  void SetHourglass(bool On) { FObserver.SetHourglass(On); }
  int64_t MonotonicMs() const { return FServices.MonotonicMs(); }
  bool WaitForTask(uint64_t Serial, int64_t StartedMs, int StepMs, int LimitSec);
  bool OwnTaskSucceeded(uint64_t Serial) const;
  // A settings test: a silent task waited for in 5 ms steps; true when it started and
  // ended without error. HourglassFirst: the hourglass comes before the start.
  bool RunSettingsTest(TTaskKind Kind, bool HourglassFirst);
  void RetireCurrentThread();
  void PurgeRetiredThreads();
  // The folders as the file timer needs them: the receipt folder exists and can be
  // listed; with WriteTest, files can be created in it and in the log and program folders.
  TFolderFault TimerFolderFault(bool WriteTest) const;
  // The file timer's tick is wanted again in Ms milliseconds: asked for at once when no
  // task runs, else when the running task ends (at once when the moment has passed by then).
  void WantTickIn(qint64 Ms);
  // A tick that starts no file task (a task runs, or the tick's printer check has just
  // started) still lists the receipt folder: a new file's quiet time starts now, and a tick
  // is wanted for when it will be ready.
  void WatchWhileBusy();
  // Takes a new finding of the file timer: one log line when a fault starts or changes,
  // one when it ends.
  void SetFolderFault(const TFolderFault& Fault);
  // Between tasks, without the printer: writes the receipt folder's reports kept in memory
  // and recovers its left claims (TFolderCare::Tend); each one kept as unknown
  // outcome goes to the observer (FileOutcomeUnknown).
  void TendReceiptFolder();
  void Log(const QString& Line) const;
  void ErrorLog(const QString& Line) const;

  TTaskRunnerServices FServices;
  // Decides when a receipt file is taken: the runner's own listing and every worker's
  // (made with the runner's monotonic clock).
  std::shared_ptr<TFolderWatch> FWatch;
  std::shared_ptr<TLastingFailure> FFailures;
  // What the runner's jobs remember of the receipt folders, and its tending of them.
  std::shared_ptr<TFolderCare> FCare;
  TMainSettings& FSettings;
  ITaskRunnerObserver& FObserver;
  QString FLogDir;

  bool FTaskActive = false;
  TTaskKind FCurrentTaskKind = tkNone;
  std::unique_ptr<ITaskThread> FCurrentThread;
  std::vector<std::unique_ptr<ITaskThread>> FRetired;
  QTimer FPurgeTimer;
  uint64_t FTaskSerial = 0;
  uint64_t FFinishedSerial = 0;
  int32_t FFinishedErrorCount = 0;
  int32_t FProcessedCount = 0;
  int32_t FErrorCount = 0;
  bool FShowSuccess = false;
  bool FSilent = false;
  bool FQuitPending = false;
  TDepartments FDepartments;

  std::optional<int64_t> FLastCheckMs;
  bool FInFileTimer = false;
  // When a tick is wanted, by MonotonicMs, once the running task has ended.
  std::optional<int64_t> FTickWantedAtMs;
  TFolderFault FFolderFault;
  QString FDirFolder;  // the last folder that failed the write test
  bool FPrinterOffline = false;
  QString FPrinterOfflineText;
  QString FPrinterState;
  // The count of unknown-outcome files, and the folder and its status at that count.
  int32_t FUnknownCount = 0;
  QString FUnknownFolder;
  struct stat FUnknownFolderStat {};
  int64_t FUnknownCountedMs = 0;
  // A file job printed since the printer's data were last read.
  bool FPrinterDataStale = false;
  // The start's clean-up of old files.
  std::thread FCleanUp;
  std::atomic<bool> FCleanUpStop{false};
  std::atomic<bool> FCleanUpRunning{false};
};

}  // namespace fp
