#pragma once
// The worker thread: one printer job per thread. The main window creates the thread from
// the job's request (Create, suspended), hands it the connection settings and the
// event handlers, and calls Resume. The thread initialises the component runtime for
// itself, connects to the printer through its own receipt-file reader, runs the job,
// reports through its events, answers a waiting status query when the job failed,
// releases the reader (and with it the automation object) and uninitialises the runtime.
//
// Events and threads
// ------------------
// Every event but OnDepartmentsRead runs on the thread that created the object (the main
// thread) while the worker waits: Synchronize posts the call to a QObject living on that
// thread (a queued call) and blocks until it has run there, so a handler may read the
// event's argument and the thread's state (CurrentFile, ErrorMessage...). The main thread
// must therefore keep its event loop running while a job runs (or wait with WaitFor, which
// serves the worker's calls itself).
// OnDepartmentsRead is called directly on the worker thread; its handler must not touch
// widgets. An event without a handler is skipped.
//
// Ending
// ------
// The creator owns the object. Its destructor stops the events (DetachEvents) and waits
// for the thread to end, so after the destructor no handler runs again. Never destroy
// the object from inside one of its own handlers (the worker is waiting in that call):
// in OnTaskFinished hand it to FreeWhenFinished, or keep it until the next job.
// OnTaskFinished is the last event; after it the worker only uninitialises the runtime.
//
// A window that closes while a job runs calls DetachEvents (no event reaches it
// afterwards, a worker waiting in an event call goes on at once) and then WaitFor or the
// destructor. A stop request (Terminate) is honoured by the file job between files only.
//
// The receipt folder
// ------------------
// The file job (tkReadFiles) works through the receipt folder's unit (uReceiptFolder.h):
// it claims each waiting receipt file "N.bon" as "N.$$$", prints it, writes "N.rep" when
// report files are on (or the file was a status query), then deletes the claim on
// success; a failed file becomes "N.err", or "N.unk" when its receipt may have printed (by
// how far the reader got with it, TFileProgress), and the window still gets the failure's
// own kind. A claim found at the start of a file job was left by a run that was killed
// while it printed: it is kept as "N.unk" with its report, logged and reported as a file
// error (a left status query goes back to be answered); the file timer does the same
// between jobs without the printer (TFolderCare::Tend). Only files that have
// stayed unchanged for uPRNFileThread::ReadyAgeMs (by the watch's monotonic clock) are listed
// (TFolderWatch::Ready, the watch handed with the request), so a file that the point-of-sale program is still writing
// waits for the next tick. Every job is handed the receipt folder (SetBonFolder; a file job's request sets it): a
// failed job answers the oldest waiting status query there. Of the jobs only the file job recovers left claims. The
// file job holds the folder's lock from before it connects to its end: when another process holds it (a second program
// on the same folder), the job leaves the folder alone with one log line and ends with OnTaskFinished only. What a
// job remembers for the jobs after it (a receipt left open on the printer, a printed receipt's report that could not
// be written) goes into the folder's care handed with the request (uFolderCare.h); a job without one has its own.
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "program/receipts/MiravokFprnProxy.h"
#include "program/receipts/uReceiptFolder.h"
#include "program/tasks/uFolderCare.h"
#include "program/tasks/uTaskRequest.h"
#include "program/app/uConst.h"
#include "platform/Cp1251.h"
#include "program/receipts/uFolderWatch.h"

namespace fp {

class TECRFileReader;
class TReceiptFolder;

// The kinds of failure (values fixed).
enum TTaskErrorKind : uint8_t {
  ekNone = 0,
  ekOperationError = 1,  // the printer refused an operation
  ekFileError = 2,       // a receipt file is invalid, or the receipt folder failed
  ekPrinterError = 3,    // a printer error
  ekPrinterFatal = 4,    // no connection or a fatal printer state
};

// Printer data handed to OnPrinterInfo.
struct TPRNInfo {
  QString Model;
  QString SerialNo;
  QString FiscalNo;
  int32_t LineLength = 0;
  int64_t LastDocNo = 0;
  int64_t NextInvoiceNo = 0;
  int32_t ComPort = 0;
};

namespace uPRNFileThread {

constexpr int DepartmentCount = 100;

// A receipt file is taken only once it has stayed unchanged this long, and a refused
// claim is tried again this long after (the folder watch decides, uFolderWatch.h).
constexpr int ReadyAgeMs = TFolderWatch::ReadyAgeMs;
constexpr qint64 RefusedClaimRetryMs = TFolderWatch::RefusedClaimRetryMs;

// What the operator is told of a file kept as unknown outcome, and why a left claim's
// receipt may have printed (uFolderCare.h).
using uFolderCare::LeftClaimWhy;
using uFolderCare::UnknownOutcomeText;

// The printer's own state or answer behind a failure with that error code and the
// automation object's text of it, as the operator is told it: no paper and an open cover
// or a fault in the program's words, any other answer of the printer in the object's words
// (without its bracketed tags); empty for a failure of the link (no connection, no answer,
// a damaged frame, a busy device, no port) or of the object itself, and for code 0.
QString PrinterStateText(int32_t code, const QString& message);

// The error code comes from an answer of the printer that carried its own state (a status
// bit such as no paper or an open cover, a refusal): the printer got the command and said
// what it made of it. False for a failure of the link (no answer, a damaged frame, a busy
// device), an answer that could not be read (200), the object's own failures and 0.
bool PrinterAnswered(int32_t code);

}  // namespace uPRNFileThread

class TECRFileThread {
 public:
  using TThreadEvent = std::function<void(TECRFileThread&)>;
  using TErrorEvent = std::function<void(TECRFileThread&, TTaskErrorKind)>;
  using TFileEvent = std::function<void(const QString& path)>;
  using TPRNInfoEvent = std::function<void(const TPRNInfo&)>;
  using TDepartmentEvent = std::function<void(const TDepartmentRow&)>;
  // A receipt file whose receipt may have printed was kept as an unknown-outcome file:
  // the path it got and why it may have printed.
  using TUnknownEvent = std::function<void(const QString& path, const QString& why)>;

  // ---- Creation (on the main thread). Creates the thread suspended for the request's
  // job, with a new reader on port 1, 115200 baud, report files and report details on, no
  // pay-type pairs, no cashier password, receipt files "*.bon". The worker takes the arguments of its kind
  // only: a file job the receipt folder and the tax-group numbering, a cash movement
  // (tkSumIn or tkSumOut, the sign of the amount tells which) runs as tkSumIn, the rows
  // of tkSetDepartments are copied. Throws std::runtime_error for a kind without a job
  // (tkNone or an unknown value). ----
  static std::unique_ptr<TECRFileThread> Create(const TTaskRequest& request);

  ~TECRFileThread();
  TECRFileThread(const TECRFileThread&) = delete;
  TECRFileThread& operator=(const TECRFileThread&) = delete;

  // ---- Settings, handed over before Resume. ----
  void SetComPort(uint8_t port);
  void SetBaudRate(int32_t baudRate);
  void SetRepFilePrint(bool on);
  void SetRepDetailPrint(bool on);
  void SetLogDir(const QString& logDir);  // also the reader's log folder
  // The receipt folder of every job: the file job works in it, every failed job answers a
  // waiting status query in it. A file job's request sets it; an empty folder skips both.
  void SetBonFolder(const QString& folder);
  // The character encoding of the receipt files (ConvertCharEncoding).
  void SetCharEncoding(uint8_t encoding);
  // What the job reads its receipt files with: the pay-type pairs, the cashier password,
  // the PLU number as department number and the receipt files' extension (without the
  // dot). The job keeps what it was handed: a later change of the settings reaches the
  // next job only.
  void SetPayTypePairs(const std::vector<TPayTypePair>& pairs);
  void SetCashierPas(const QString& password);
  void SetUsePluAsDepartNo(bool on);
  void SetBonFileExt(const QString& ext) { FBonFileExt = ext; }
  // search: the connection searches every port for the printer with that serial number
  // (trimmed by the caller) instead of opening the set port.
  void SetDeviceSearch(bool search, const QString& serialNo);
  // How the job's reader creates its automation object (tests: a fake or the library
  // loaded directly); an empty function is CreateMiravokFprn.
  void SetFprnFactory(TFprnFactory factory);
  // The local-time clock of the job (stamps of moved-aside error files). How long a file
  // has waited is the folder watch's affair, timed by its monotonic clock. Tests replace
  // it; an empty function restores the system clock.
  void SetClock(std::function<QDateTime()> clock);
  // How long a receipt file must have stayed unchanged before the job takes it
  // (uPRNFileThread::ReadyAgeMs unless set; 0 takes every waiting file).
  void SetReadyAge(int ms) { FReadyAgeMs = ms; }

  // ---- Events (see the top of the file for the thread each one runs on). ----
  TPRNInfoEvent OnPrinterInfo;            // job 1: printer information read
  TDepartmentEvent OnDepartmentReceived;  // job 8: one department read
  TFileEvent OnFileStarted;               // job 2: a receipt file is about to be processed
  TThreadEvent OnFileProcessed;           // job 2: a receipt file is done
  TErrorEvent OnError;                    // a failed file (job 2) or a failed job
  TThreadEvent OnDepartmentsRead;         // job 8: list complete (on the worker thread!)
  TThreadEvent OnTaskFinished;            // always, the last event of the job
  TThreadEvent OnPrinterOnline;           // the connection at the start of the job succeeded
  TThreadEvent OnPrinterOffline;          // a failure of kind ekPrinterFatal
  TUnknownEvent OnFileUnknown;            // job 2: a file kept as unknown outcome (before its OnError)
  // job 2: a later opening settled the receipt of a file kept as unknown outcome: the
  // file's path and what became of it, in the operator's words (uFolderCare::SettledOperatorText).
  TUnknownEvent OnUnknownSettled;
  // job 2: what the operator is to be told of the receipt folder, in the operator's words (a
  // printed receipt's report that cannot be written while the others print on; another
  // program printing from the folder without shared locks, once).
  std::function<void(const QString& text)> OnFolderNotice;

  // ---- Running. ----
  // Starts the thread (once; later calls do nothing).
  void Resume();
  // Asks the file job to stop after the current file; returns at once.
  void Terminate() { FTerminated.store(true); }
  bool Terminated() const { return FTerminated.load(); }
  // The thread body has ended (false while it runs and before Resume).
  bool Finished() const { return FFinished.load(); }
  // From now on every event call is skipped, and a worker waiting in one goes on at once.
  // Call it on the main thread; it returns at once.
  void DetachEvents();
  // Waits until the thread has ended. On the main thread it serves the worker's event
  // calls while it waits (unless the events are detached), so it cannot dead-lock.
  // Returns at once when the thread was never started.
  void WaitFor();
  // Takes over a thread that is running or has ended and destroys it on the main thread
  // once its body has ended (the worker's "free on terminate"). Safe to call from
  // OnTaskFinished.
  static void FreeWhenFinished(std::unique_ptr<TECRFileThread> thread);

  // The thread body. Resume runs it on the new thread; tests may call it directly on
  // the creating thread, where every event is then called directly.
  void Execute();

  // The kind of the reader's current failure, by its last error code: no reader or a
  // failing read: ekPrinterFatal; 101-105, 107, 120, 130, 210-214, 218, 219, 503, 504:
  // ekPrinterFatal; 132, 200, 201, 203, 204, 206, 215-217, 226, 232: ekPrinterError;
  // anything else (0 too): ekOperationError. The printer's own state behind it is kept for
  // PrinterState.
  TTaskErrorKind ClassifyPrinterError();
  // The same classification of a code.
  static TTaskErrorKind ClassifyErrorCode(int32_t code);

  // Runs `fn` on the main thread while the worker waits (directly when called there).
  // Skipped once the events are detached.
  void Synchronize(const std::function<void()>& fn);

  // ---- State, read by the handlers while the worker waits and after the job ----
  // The job (tkNone once it has ended).
  TTaskKind TaskKind() const { return FTaskKind; }
  // The receipt folder as set (with a trailing "/" once the job runs).
  const QString& BonFolder() const { return FBonFolder; }
  // Receipt folder + name of the file the last file event is about.
  const QString& CurrentFile() const { return FCurrentFile; }
  // The kind and text of the failure that ended the job (ekNone and empty without one).
  TTaskErrorKind ErrorKind() const { return FErrorKind; }
  const QString& ErrorMessage() const { return FErrorMessage; }
  // The failure's reason in the operator's words when it has one (another printer found
  // by the search); empty when its text is the log's only.
  const QString& OperatorReason() const { return FOperatorReason; }
  // What the printer itself reported with the last classified failure
  // (uPRNFileThread::PrinterStateText); empty when it was the link's.
  const QString& PrinterState() const { return FPrinterState; }
  // The rows job 9 writes; emptied after a successful write.
  const TDepartments& Departments() const { return FDepartments; }

 private:
  struct TSyncState;
  TECRFileThread();

  void Log(const QString& message);
  void LogException(const QString& message);
  QDateTime Now() const;
  void Fail(TTaskErrorKind kind, const QString& message);

  // The steps and jobs.
  void DoInit();
  void DelTempFiles();
  void RunJob();
  void DoReadPrinterInfo();
  void DoReadFiles();
  void DoPrintEmptyBon();
  void DoPrintTest();
  void DoReportByBlock();
  void DoReportByDates();
  void DoXZReport();
  void DoGetDepartments();
  void DoSetDepartments();
  void DoSumInOut();
  void DoCopyBon();
  void DoDepartmentReportReset();
  void DoDepartmentReport();
  void ServiceJob(bool ok, const QString& okLine, const QString& failText);
  void SaveErrorStatus(const QString& message);
  // After a file: logs which receipt left open on the printer the file's opening closed
  // or cancelled, and remembers this file's receipt when it failed while open.
  void NoteLeftOpenReceipt(bool failed);
  // A receipt of a file kept as unknown outcome was settled: its report gets the line that
  // says how (when the report is still the one written for it) and the operator is told.
  void TellSettled(const TLeftOpenSettled& settled);
  // A receipt of a failed file of this receipt folder may still be open on the printer.
  bool ReceiptLeftOpen() const;
  // Another program prints from the folder without shared locks (`what` says how it showed):
  // logged, and the window told the first time (OnFolderNotice).
  void NoteSharedFolder(const QString& what);
  // Writes the current file's report file (with `unknownWhy`, the lines telling that its
  // receipt may have printed) and syncs it with its folder (a printed file's before its
  // claim goes).
  void SaveRepFile(const QString& unknownWhy = QString());
  std::string ReportText(const QString& unknownWhy) const;
  QString ReportName() const;
  // The ready receipt files of the job's folder, by the job's clock and settings.
  TReadyFiles ReadyFiles();
  // Writes the reports of printed receipts kept in the care for this folder (and removes
  // their claims); false when one still cannot be written (logged when its reason is new).
  bool WritePendingReports();
  // The job's two logs as the receipt folder writes them.
  TReceiptFolder::TLogLine FolderLog();

  // The job and its arguments (set by Create).
  TTaskKind FTaskKind = tkNone;
  int32_t FFirstBlock = 0;
  int32_t FLastBlock = 0;
  double FStartDate = 0;
  double FEndDate = 0;
  bool FDetailed = false;
  uint8_t FReset = 0;
  double FAmount = 0;
  TDepartments FDepartments;

  // Settings.
  QString FLogDir;
  QString FBonFolder;
  uint8_t FCharEncoding = 0;
  QString FBonFileExt = QStringLiteral("bon");
  bool FAutoSerachDevice = false;
  QString FDeviceSerialNom;
  TFprnFactory FFprnFactory;
  std::function<QDateTime()> FClock;
  int FReadyAgeMs = uPRNFileThread::ReadyAgeMs;

  // The running job.
  std::shared_ptr<TFolderWatch> FWatch;
  std::shared_ptr<TLastingFailure> FFailures;
  std::shared_ptr<TFolderCare> FCare;
  std::unique_ptr<TECRFileReader> FReader;
  std::unique_ptr<TReceiptFolder> FFolder;
  TPRNInfo FPrinterInfo;       // argument of OnPrinterInfo
  TDepartmentRow FDepartment;  // the department just read (job 8)
  QString FCurrentFile;
  QString FErrorMessage;
  QString FOperatorReason;
  TTaskErrorKind FErrorKind = ekNone;
  QString FPrinterState;
  bool FPrinterAnswered = false;  // the last classified failure came with the printer's answer
  bool FReportKept = false;       // the job ended keeping a printed receipt's report (a full disk)
  // The search found another printer than the one set (the information job goes on with it).
  bool FOtherPrinter = false;

  std::shared_ptr<TSyncState> FSync;
  std::thread FThread;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  bool FStarted = false;
};

}  // namespace fp
