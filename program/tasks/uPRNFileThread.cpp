#include "program/tasks/uPRNFileThread.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QFile>
#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>

#include "program/app/PathNamesQt.h"
#include "program/app/uConst.h"
#include "program/receipts/uECRFileReader.h"
#include "program/receipts/uReceiptFolder.h"
#include "program/tasks/uLastingFailure.h"
#include "program/app/uStrRes.h"
#include "program/app/uProgramLog.h"
#include "platform/FileOps.h"
#include "platform/ScopeExit.h"
#include "platform/SysErrorText.h"
#include "platform/com/ComRuntime.h"

namespace fp {

namespace {

// A failure that ends the job, with its text (which may hold any character).
class EJobFailure : public std::exception {
 public:
  explicit EJobFailure(QString message) : Message(std::move(message)), FWhat(Message.toStdString()) {}
  const char* what() const noexcept override { return FWhat.c_str(); }
  QString Message;

 private:
  std::string FWhat;
};

// A line of the exception log; one that cannot be written is lost, the job goes on.
void AppendException(const QString& logDir, const QString& line) {
  try {
    uProgramLog::WriteLog(logDir, line, true);
  } catch (const std::exception&) {
  }
}

// The text of any failure: ours and the receipt folder's as they are, the reader's and the
// runtime's in code page 1251.
QString FailureText(const std::exception& e) {
  if (auto* job = dynamic_cast<const EJobFailure*>(&e)) return job->Message;
  if (auto* folder = dynamic_cast<const EReceiptFolderError*>(&e)) return folder->Message;
  return uConst::FromCp1251(e.what());
}

}  // namespace

// ---- Event calls on the main thread ----

// The worker hands each event call to the main thread through a queue: it posts a
// "drain" to a QObject living there and blocks until its call has run. Unlike a blocking
// queued connection, the wait ends at once when the events are detached, and WaitFor on
// the main thread serves the queue itself, so neither side can dead-lock the other.
struct TECRFileThread::TSyncState {
  struct TCall {
    const std::function<void()>* Fn = nullptr;
    bool Taken = false;
    bool Done = false;
  };

  std::mutex M;
  std::condition_variable Cv;
  std::deque<TCall*> Queue;
  bool Detached = false;
  bool BodyEnded = false;
  TECRFileThread* FreeOnEnd = nullptr;
  std::thread::id MainThread = std::this_thread::get_id();
  std::unique_ptr<QObject> Target = std::make_unique<QObject>();

  // Runs the waiting calls (main thread).
  void Drain() {
    std::unique_lock<std::mutex> lock(M);
    while (!Queue.empty()) {
      TCall* call = Queue.front();
      Queue.pop_front();
      call->Taken = true;
      const bool run = !Detached;
      lock.unlock();
      if (run) {
        try {
          (*call->Fn)();
        } catch (...) {
          // A handler's failure is the window's affair; the job goes on.
        }
      }
      lock.lock();
      call->Done = true;
      Cv.notify_all();
    }
  }
};

void TECRFileThread::Synchronize(const std::function<void()>& fn) {
  TSyncState& s = *FSync;
  if (std::this_thread::get_id() == s.MainThread) {
    bool detached;
    {
      std::lock_guard<std::mutex> lock(s.M);
      detached = s.Detached;
    }
    if (detached) return;
    try {
      fn();
    } catch (...) {
      // As on the worker thread: a handler's failure does not end the job.
    }
    return;
  }
  TSyncState::TCall call;
  call.Fn = &fn;
  {
    std::lock_guard<std::mutex> lock(s.M);
    if (s.Detached) return;
    s.Queue.push_back(&call);
    s.Cv.notify_all();
  }
  std::weak_ptr<TSyncState> weak = FSync;
  QMetaObject::invokeMethod(
      s.Target.get(),
      [weak] {
        if (auto state = weak.lock()) state->Drain();
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(s.M);
  s.Cv.wait(lock, [&] { return call.Done || (s.Detached && !call.Taken); });
  if (!call.Taken) {
    for (auto it = s.Queue.begin(); it != s.Queue.end(); ++it)
      if (*it == &call) {
        s.Queue.erase(it);
        break;
      }
  }
}

void TECRFileThread::DetachEvents() {
  std::lock_guard<std::mutex> lock(FSync->M);
  FSync->Detached = true;
  FSync->Cv.notify_all();
}

void TECRFileThread::WaitFor() {
  if (!FStarted) return;
  TSyncState& s = *FSync;
  if (std::this_thread::get_id() == s.MainThread) {
    std::unique_lock<std::mutex> lock(s.M);
    for (;;) {
      s.Cv.wait(lock, [&] { return s.BodyEnded || !s.Queue.empty(); });
      if (!s.Queue.empty()) {
        lock.unlock();
        s.Drain();
        lock.lock();
        continue;
      }
      if (s.BodyEnded) break;
    }
  }
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TECRFileThread::FreeWhenFinished(std::unique_ptr<TECRFileThread> thread) {
  if (!thread) return;
  TECRFileThread* raw = thread.release();
  {
    std::lock_guard<std::mutex> lock(raw->FSync->M);
    if (raw->FStarted && !raw->FSync->BodyEnded) {
      raw->FSync->FreeOnEnd = raw;
      return;
    }
  }
  delete raw;
}

void TECRFileThread::Resume() {
  if (FStarted) return;
  FStarted = true;
  FThread = std::thread([this] { Execute(); });
}

// ---- Construction ----

TECRFileThread::TECRFileThread() : FSync(std::make_shared<TSyncState>()) {
  // The automation object is made at the reader's first printer operation, on the worker
  // thread, by the factory set by then.
  FReader = std::make_unique<TECRFileReader>([this] { return FFprnFactory ? FFprnFactory() : CreateMiravokFprn(); });
  FReader->SetBaudRate(115200);
  FReader->SetComPort(1);
  FReader->SetRepFilePrint(true);
  FReader->SetRepDetailPrint(true);
  // A receipt a failed file left open is looked at before the next opening, so that the
  // log can say what that opening did with it.
  FReader->SetStatusBeforeOpening([this] { return ReceiptLeftOpen(); });
  // Numbers go to the printer and into the files with "." whatever the locale: the
  // reader formats them itself, so there is no process-wide separator to set here.
}

TECRFileThread::~TECRFileThread() {
  DetachEvents();
  WaitFor();
  if (FThread.joinable()) FThread.join();
}

std::unique_ptr<TECRFileThread> TECRFileThread::Create(const TTaskRequest& request) {
  // The job the worker runs; a kind without one is refused before anything is made.
  TTaskKind kind = request.Kind;
  switch (request.Kind) {
    case tkPrinterInfo:
    case tkReadFiles:
    case tkPrintEmptyBon:
    case tkPrintTest:
    case tkReportByBlock:
    case tkReportByDates:
    case tkXZReport:
    case tkGetDepartments:
    case tkSetDepartments:
    case tkSumIn:
    case tkCheckPrinter:
    case tkCopyBon:
    case tkDepartmentReportReset:
    case tkDepartmentReport: break;
    case tkSumOut:
      // One job moves cash both ways; the amount's sign tells the direction.
      kind = tkSumIn;
      break;
    default: throw std::runtime_error("no job for task kind " + std::to_string(static_cast<int>(request.Kind)));
  }
  std::unique_ptr<TECRFileThread> t(new TECRFileThread());
  t->FTaskKind = kind;
  t->FWatch = request.Watch ? request.Watch : std::make_shared<TFolderWatch>();
  t->FFailures = request.Failures;
  if (t->FFailures) t->FReader->SetExceptionLog([raw = t.get()](const QString& line) { raw->LogException(line); });
  t->FCare = request.Care ? request.Care : std::make_shared<TFolderCare>();
  // Only the arguments of the job's own kind are taken.
  switch (kind) {
    case tkReadFiles:
      t->FBonFolder = request.BonFolder;
      t->FReader->SetWatGrpBeginFromOne(request.WatGrpBeginFromOne);
      break;
    case tkReportByBlock:
      t->FFirstBlock = request.FirstBlock;
      t->FLastBlock = request.LastBlock;
      t->FDetailed = request.Detailed;
      break;
    case tkReportByDates:
      t->FDetailed = request.Detailed;
      t->FStartDate = request.StartDate;
      t->FEndDate = request.EndDate;
      break;
    case tkXZReport: t->FReset = request.Reset; break;
    case tkSetDepartments: t->FDepartments = request.Departments; break;
    case tkSumIn: t->FAmount = request.Amount; break;
    default: break;
  }
  return t;
}

// ---- Settings ----

void TECRFileThread::SetComPort(uint8_t port) { FReader->SetComPort(port); }
void TECRFileThread::SetBaudRate(int32_t baudRate) { FReader->SetBaudRate(baudRate); }
void TECRFileThread::SetRepFilePrint(bool on) { FReader->SetRepFilePrint(on); }
void TECRFileThread::SetRepDetailPrint(bool on) { FReader->SetRepDetailPrint(on); }
void TECRFileThread::SetLogDir(const QString& logDir) {
  FLogDir = logDir;
  FReader->SetLogDir(logDir);
}
void TECRFileThread::SetBonFolder(const QString& folder) { FBonFolder = folder; }
void TECRFileThread::SetCharEncoding(uint8_t encoding) { FCharEncoding = encoding; }
void TECRFileThread::SetPayTypePairs(const std::vector<TPayTypePair>& pairs) { FReader->SetPayTypePairs(pairs); }
void TECRFileThread::SetCashierPas(const QString& password) { FReader->SetCashierPas(uConst::ToCp1251(password)); }
void TECRFileThread::SetUsePluAsDepartNo(bool on) { FReader->SetUsePluAsDepartNo(on); }
void TECRFileThread::SetDeviceSearch(bool search, const QString& serialNo) {
  FAutoSerachDevice = search;
  FDeviceSerialNom = serialNo;
}
void TECRFileThread::SetFprnFactory(TFprnFactory factory) { FFprnFactory = std::move(factory); }
void TECRFileThread::SetClock(std::function<QDateTime()> clock) { FClock = std::move(clock); }

QDateTime TECRFileThread::Now() const { return FClock ? FClock() : QDateTime::currentDateTime(); }

// ---- Logs ----

void TECRFileThread::Log(const QString& message) {
  if (FLogDir.isEmpty()) return;
  try {
    uProgramLog::WriteLog(FLogDir, message, false);
  } catch (const std::exception&) {
    // A log folder that cannot be made loses the line; the job goes on.
  }
}

void TECRFileThread::LogException(const QString& message) {
  if (FLogDir.isEmpty()) return;
  // While a failure lasts, the lines that repeat it are held back (uLastingFailure.h).
  for (const QString& line : FFailures ? FFailures->Line(message) : QStringList{message})
    AppendException(FLogDir, line);
}

void TECRFileThread::Fail(TTaskErrorKind kind, const QString& message) {
  FErrorKind = kind;
  throw EJobFailure(message);
}

// ---- Classification ----

TTaskErrorKind TECRFileThread::ClassifyErrorCode(int32_t code) {
  switch (code) {
    case 101:
    case 102:
    case 103:
    case 104:
    case 105:
    case 107:
    case 120:
    case 130:
    case 210:
    case 211:
    case 212:
    case 213:
    case 214:
    case 218:
    case 219:
    case 503:
    case 504: return ekPrinterFatal;
    case 132:
    case 200:
    case 201:
    case 203:
    case 204:
    case 206:
    case 215:
    case 216:
    case 217:
    case 226:
    case 232: return ekPrinterError;
    default: return ekOperationError;
  }
}

TTaskErrorKind TECRFileThread::ClassifyPrinterError() {
  FPrinterState.clear();
  FPrinterAnswered = false;
  if (!FReader) return ekPrinterFatal;
  try {
    const int32_t code = FReader->GetLastErrorCode();
    FPrinterAnswered = uPRNFileThread::PrinterAnswered(code);
    FPrinterState = uPRNFileThread::PrinterStateText(code, uConst::FromCp1251(FReader->GetLastErrorMessage()));
    return ClassifyErrorCode(code);
  } catch (...) {
    return ekPrinterFatal;
  }
}

bool uPRNFileThread::PrinterAnswered(int32_t code) {
  // The device's own codes, raised from the status bits or the data of an answer that was
  // read whole (204 on); 200 is an answer that could not be read as the command's.
  return code >= 204 && code <= 256;
}

QString uPRNFileThread::PrinterStateText(int32_t code, const QString& message) {
  switch (code) {
    case 0:
    // The link: the port, no answer, a damaged or unreadable frame, a busy device, no
    // port or device found; and the object's own failure.
    case 101:
    case 102:
    case 103:
    case 104:
    case 105:
    case 107:
    case 109:
    case 110:
    case 111:
    case 112:
    case 120:
    case 502:
    case 503:
    case 504: return QString();
    case 210: return uStrRes::Message(uStrRes::S_NoPaper);
    case 225: return uStrRes::Message(uStrRes::S_CoverOpen);
    case 219: return uStrRes::Message(uStrRes::S_PrinterFault);
    default: break;
  }
  // "[StartBon] [X]No paper. " -> "No paper."
  QString text = message.trimmed();
  while (text.startsWith(QLatin1Char('['))) {
    const int end = text.indexOf(QLatin1Char(']'));
    if (end < 0) break;
    text = text.mid(end + 1).trimmed();
  }
  return text;
}

// ---- The thread body ----

void TECRFileThread::Execute() {
  const HRESULT com = CoInitialize(nullptr);
  FErrorKind = ekNone;
  bool connected = false;
  bool failed = false;
  FFolder = std::make_unique<TReceiptFolder>(
      FBonFolder, [this] { return Now(); },
      [this](const QString& line, bool exceptionLog) { exceptionLog ? LogException(line) : Log(line); });
  try {
    if (FTaskKind == tkReadFiles && !FFolder->Exists()) Fail(ekFileError, uStrRes::Message(uStrRes::SetProgram));
    FBonFolder = FFolder->Path();
    if (FTaskKind == tkReadFiles && !FFolder->Lock()) {
      // Another program's file job works in this folder: its claims are no left ones, and
      // its files are its own. The next tick looks again.
      Log(QStringLiteral("[Execute] Another program is printing from the receipt folder; its files are left to it."));
    } else if (FTaskKind == tkReadFiles && !WritePendingReports()) {
      // A printed receipt's report still cannot be written: no new file is taken before
      // it is, and nothing is printed.
    } else {
      DoInit();
      connected = true;
      if (FTaskKind == tkReadFiles) DelTempFiles();
      RunJob();
    }
  } catch (const std::exception& e) {
    failed = true;
    // Every step of the receipt folder that fails is a file error.
    if (dynamic_cast<const EReceiptFolderError*>(&e))
      FErrorKind = ekFileError;
    else if (FErrorKind == ekNone)
      FErrorKind = connected ? ClassifyPrinterError() : ekPrinterFatal;
    FErrorMessage = FailureText(e);
    if (FErrorKind == ekPrinterFatal && OnPrinterOffline) Synchronize([this] { OnPrinterOffline(*this); });
    // A report that could not be written is that file's affair: a status query gets the
    // printer's state when it is printed, never that disk error.
    if (!FReportKept) SaveErrorStatus(FErrorMessage);
    if (OnError) {
      const TTaskErrorKind kind = FErrorKind;
      Synchronize([this, kind] { OnError(*this, kind); });
    }
    LogException(QStringLiteral("[Execute] ") + FErrorMessage);
    Log(QStringLiteral("[Execute] ") + FErrorMessage);
  }
  if (FFailures && !FLogDir.isEmpty())
    for (const QString& line : FFailures->TryEnded(failed, connected)) AppendException(FLogDir, line);
  // Before the last event: the next job may start as soon as it has run.
  FFolder->Unlock();
  // Freeing the reader closes the automation object's connection and releases it, inside
  // this thread's apartment.
  FReader.reset();
  if (OnTaskFinished) Synchronize([this] { OnTaskFinished(*this); });
  FTaskKind = tkNone;
  if (SUCCEEDED(com)) CoUninitialize();

  FFinished.store(true);
  TECRFileThread* freeMe = nullptr;
  {
    std::lock_guard<std::mutex> lock(FSync->M);
    FSync->BodyEnded = true;
    freeMe = FSync->FreeOnEnd;
    FSync->Cv.notify_all();
  }
  // Handed to FreeWhenFinished: destroyed on the main thread, which joins this thread.
  if (freeMe) {
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(
          app, [freeMe] { delete freeMe; }, Qt::QueuedConnection);
  }
}

void TECRFileThread::DoInit() {
  if (!FReader->FastInit(FAutoSerachDevice, uConst::ToCp1251(FDeviceSerialNom))) {
    FErrorKind = ClassifyPrinterError();
    throw EJobFailure(uConst::FromCp1251(FReader->LastError()));
  }
  // The search falls back to the first printer that answered when the one set did not. A
  // desk set by serial number prints on, and changes, only its own printer: another printer
  // found is the no-connection case, and its link is dropped without a command (closing
  // would close or cancel a receipt left open there). The printer information job reads
  // whichever printer answered, so that the operator sees its serial number, but it does not
  // count as the desk's printer online and is let go without the closing either. The printer
  // found is the desk's when the search counted it as a match: its serial number occurs in
  // the one set (which may list several); without a serial number set any printer is.
  const std::string wanted = uConst::ToCp1251(FDeviceSerialNom);
  const std::string& serialNo = FReader->SerialNo();
  if (FAutoSerachDevice && !wanted.empty() && (serialNo.empty() || wanted.find(serialNo) == std::string::npos)) {
    if (FTaskKind == tkPrinterInfo) {
      FOtherPrinter = true;
      return;
    }
    const QString found = uConst::FromCp1251(FReader->SerialNo());
    const int port = FReader->ComPort();
    FReader->DropConnection();
    Log(QStringLiteral("[DoInit] Printer ") + FDeviceSerialNom + QStringLiteral(" not found; printer ") + found +
        QStringLiteral(" on COM") + QString::number(port) + QStringLiteral(" left untouched."));
    FOperatorReason = uStrRes::Message(uStrRes::S_OtherPrnFound).arg(FDeviceSerialNom, found, QString::number(port));
    Fail(ekPrinterFatal, FOperatorReason);
  }
  if (OnPrinterOnline) Synchronize([this] { OnPrinterOnline(*this); });
}

void TECRFileThread::RunJob() {
  switch (FTaskKind) {
    case tkPrinterInfo: DoReadPrinterInfo(); break;
    case tkReadFiles: DoReadFiles(); break;
    case tkPrintEmptyBon: DoPrintEmptyBon(); break;
    case tkPrintTest: DoPrintTest(); break;
    case tkReportByBlock: DoReportByBlock(); break;
    case tkReportByDates: DoReportByDates(); break;
    case tkXZReport: DoXZReport(); break;
    case tkGetDepartments: DoGetDepartments(); break;
    case tkSetDepartments: DoSetDepartments(); break;
    case tkSumIn:
    case tkSumOut: DoSumInOut(); break;
    case tkCopyBon: DoCopyBon(); break;
    case tkDepartmentReportReset: DoDepartmentReportReset(); break;
    case tkDepartmentReport: DoDepartmentReport(); break;
    case tkNone:
    case tkCheckPrinter: break;  // the connection was the whole job
  }
}

TReceiptFolder::TLogLine TECRFileThread::FolderLog() {
  return [this](const QString& line, bool exceptionLog) { exceptionLog ? LogException(line) : Log(line); };
}

// A claim found at the start of a file job belongs to a run that ended while it printed
// that file: it is kept as unknown outcome with its report, and each one is reported as
// a file error, so that the operator can check the printer's journal.
void TECRFileThread::DelTempFiles() {
  FCare->RecoverClaims(
      *FFolder, FReader->RepFilePrint(), FBonFileExt, FolderLog(),
      [this](const QString& kept, const QString& why) {
        FCurrentFile = kept;
        if (OnFileUnknown) Synchronize([this, &kept, &why] { OnFileUnknown(kept, why); });
        if (OnError) Synchronize([this] { OnError(*this, ekFileError); });
      },
      [this](const QString& folder) {
        if (!OnFolderNotice) return;
        const QString text = TFolderCare::SharedFolderText(folder);
        Synchronize([this, &text] { OnFolderNotice(text); });
      });
}

// ---- The file job ----

std::string TECRFileThread::ReportText(const QString& unknownWhy) const {
  std::string text = FReader->RepFileText();
  if (!unknownWhy.isEmpty())
    text += "[UNKNOWN]" + uConst::ToCp1251(uFolderCare::UnknownOutcomeText(FCurrentFile, unknownWhy)) + "\r\n";
  return text;
}

QString TECRFileThread::ReportName() const {
  const QString repPath = FReader->RepFileName();
  return repPath.mid(repPath.lastIndexOf(QLatin1Char('/')) + 1);
}

void TECRFileThread::SaveRepFile(const QString& unknownWhy) {
  if (!FReader->RepFileWanted()) return;
  FFolder->WriteReport(ReportName(), ReportText(unknownWhy));
  // The answer must be on disk before the claim goes, and a failed file's beside its
  // ".err" or ".unk", which is on disk already.
  FFolder->SyncReport(FReader->RepFileName());
}

TReadyFiles TECRFileThread::ReadyFiles() { return FWatch->Ready(FBonFolder, FBonFileExt, FLogDir, FReadyAgeMs); }

bool TECRFileThread::WritePendingReports() { return FCare->WriteKeptReports(*FFolder, FolderLog()); }

void TECRFileThread::DoReadFiles() {
  try {
    Log(QStringLiteral("Read bon files."));
    int count = 0;
    const TReadyFiles ready = ReadyFiles();
    for (const TListedFile& file : ready.Files) {
      FErrorKind = ekNone;
      bool failed = false;
      const QString& name = file.Name;
      FCurrentFile = FBonFolder + name;
      // Nothing is claimed without room for its report.
      if (!FFolder->HasRoom()) {
        Log(QStringLiteral("[DoReadFiles] Not enough free space for a report file, no file is taken: ") + FBonFolder);
        break;
      }
      if (OnFileStarted) Synchronize([this] { OnFileStarted(FCurrentFile); });
      // A mark left of an earlier receipt of this name goes before the claim, on disk with it:
      // a mark found beside the claim is then this receipt's own.
      TFolderCare::ClearPrintedMark(*FFolder, name);
      const TReceiptFolder::TClaim claim = FFolder->Claim(
          name, [&] { FWatch->Forget(FBonFolder, name); }, &file.Stamp);
      // A file that may not be claimed or read is reported once for each reason it gives
      // and tried again at a slow pace (the folder watch); the job goes on with the next.
      if (claim == TReceiptFolder::TClaim::Refused &&
          FWatch->NoteRefusedClaim(FBonFolder, name, FFolder->ClaimError())) {
        const QString line = QStringLiteral("[DoReadFiles] Can't claim file, it waits: \"") + FCurrentFile +
                             QStringLiteral("\" ") + QString::fromStdString(SysErrorText(FFolder->ClaimError()));
        LogException(line);
        Log(line);
      }
      if (claim == TReceiptFolder::TClaim::Unreadable &&
          FWatch->NoteRefusedClaim(FBonFolder, name, FFolder->ClaimError(), true)) {
        const QString line =
            TFolderWatch::UnreadableLine(QStringLiteral("[DoReadFiles]"), FCurrentFile, FFolder->ClaimError());
        LogException(line);
        Log(line);
      }
      if (claim == TReceiptFolder::TClaim::Refused && FFolder->ClaimError() == EEXIST &&
          !FCare->IsKeptClaim(FBonFolder, TReceiptFolder::ClaimName(name)))
        NoteSharedFolder(QStringLiteral("[DoReadFiles] The claim name of \"") + FCurrentFile +
                         QStringLiteral("\" is taken by a claim that is not this program's"));
      if (claim != TReceiptFolder::TClaim::Claimed) {
        if (Terminated()) break;
        continue;
      }
      const QString claimName = TReceiptFolder::ClaimName(name);
      FCare->NoteClaim(FBonFolder, claimName);
      try {
        Log(QStringLiteral("Read file: \"") + FCurrentFile + QStringLiteral("\""));
        if (!FReader->ReadFile(FFolder->ClaimPath(name), FCharEncoding, FFolder->ClaimFd())) {
          FErrorKind = ekFileError;
          failed = true;
        } else {
          const bool printed = FReader->PrintPluList();
          if (!printed) FErrorKind = ClassifyPrinterError();
          failed = !printed;
        }
      } catch (const std::exception& e) {
        failed = true;
        Log(QStringLiteral("[DoReadFiles]") + FailureText(e));
      }
      NoteLeftOpenReceipt(failed);

      QString repError;
      if (failed) {
        // The claim becomes the error file (or, when the receipt may have printed, the
        // unknown-outcome file) before anything else can end the job.
        const TTaskErrorKind fileKind = FErrorKind;
        // A fatal state the printer answered with (no paper, the cover open) is what the
        // printer said of the command: only a link that failed leaves it unknown.
        const bool lost = fileKind == ekPrinterFatal && !FPrinterAnswered;
        const TFileVerdict verdict =
            FileOutcome(lost ? TFileFailure::PrinterLost : TFileFailure::Failed, FReader->Progress());
        QString kept;
        try {
          FFolder->FinishFailed(name, verdict, &kept);
        } catch (const EReceiptFolderError&) {
          std::string data;
          struct stat st {};
          if (!FFolder->ReadFile(claimName, data, st, 0) && errno == ENOENT)
            NoteSharedFolder(QStringLiteral("[DoReadFiles] The claim of the failed receipt vanished: \"") +
                             FFolder->ClaimPath(name) + QStringLiteral("\""));
          throw;
        }
        FCare->DropClaim(FBonFolder, claimName);
        const bool unknown = verdict.Outcome == TFileOutcome::Unknown;
        try {
          SaveRepFile(unknown ? verdict.Why : QString());
        } catch (const std::exception& e) {
          repError = FailureText(e);
        }
        // What the next opening does with its receipt goes into that report.
        if (unknown)
          FCare->KeptAsUnknown(FBonFolder, FCurrentFile, kept,
                               FReader->RepFileWanted() && repError.isEmpty() ? ReportName() : QString(),
                               ReportText(verdict.Why));
        if (unknown && OnFileUnknown) {
          const QString why = verdict.Why;
          Synchronize([this, &kept, &why] { OnFileUnknown(kept, why); });
        }
        if (FErrorKind == ekPrinterFatal) {
          if (!repError.isEmpty()) Log(QStringLiteral("[DoReadFiles]") + repError);
          throw EJobFailure(QStringLiteral("Fatal error ocurred. Exiting."));
        }
        if (OnError) Synchronize([this, fileKind] { OnError(*this, fileKind); });
      } else {
        // Before its report goes in, the mark tells a later start that this claim printed.
        if (FReader->RepFileWanted())
          TFolderCare::MarkPrinted(*FFolder, name, ReportName(), ReportText(QString()), FolderLog());
        int repErrno = 0;
        try {
          SaveRepFile();
        } catch (const std::exception& e) {
          repError = FailureText(e);
          if (auto* folderError = dynamic_cast<const EReceiptFolderError*>(&e)) repErrno = folderError->Error;
        }
        ++count;
        bool keptReport = false;
        if (!repError.isEmpty() && FFolder->SameFolder()) {
          // A printed receipt never loses its answer: its claim stays (it is never printed
          // again) and the report waits in the care until it can be written. A failure of
          // the folder (a full disk) keeps every new file waiting until then; one of this
          // report's name alone (another user's file under it) keeps only this one.
          const bool holdsUp = TFolderCare::FolderWideFailure(repErrno);
          FCare->KeepReport(FBonFolder, TKeptReport{name, ReportName(), ReportText(QString()), repError, holdsUp});
          const QString line = QStringLiteral("[DoReadFiles] Printed, but its report file cannot be written: \"") +
                               FCurrentFile + QStringLiteral("\" kept as \"") + FFolder->ClaimPath(name) +
                               QStringLiteral("\" until it can; ") + repError;
          LogException(line);
          Log(line);
          if (holdsUp) {
            FReportKept = true;
            Fail(ekFileError, repError);
          }
          keptReport = true;
          if (OnFolderNotice) {
            const QString text = TFolderCare::ReportKeptText(FCurrentFile, repError);
            Synchronize([this, &text] { OnFolderNotice(text); });
          }
          if (OnError) Synchronize([this] { OnError(*this, ekFileError); });
        }
        if (!keptReport) {
          if (!FFolder->FinishPrinted(name)) {
            Log(QStringLiteral(
                    "[DoReadFiles] The claim of the printed receipt was gone (another program took it): \"") +
                FFolder->ClaimPath(name) + QStringLiteral("\""));
            NoteSharedFolder(QStringLiteral("[DoReadFiles] The claim of the printed receipt vanished: \"") +
                             FFolder->ClaimPath(name) + QStringLiteral("\""));
          }
          FFolder->RemoveFile(TFolderCare::PrintedMarkName(name));
          FCare->DropClaim(FBonFolder, claimName);
        }
      }
      if (!repError.isEmpty() && failed) Fail(ekFileError, repError);
      if (Terminated()) break;
      if (OnFileProcessed) Synchronize([this] { OnFileProcessed(*this); });
    }
    // The job's own reports and renames moved the folder's status change time: that is no
    // reason to try a refused file again.
    FWatch->SettleRefusedClaims(FBonFolder);
    Log(QStringLiteral("Read bon files ended. Files count: %1").arg(count));
  } catch (const std::exception& e) {
    FWatch->SettleRefusedClaims(FBonFolder);
    Log(QStringLiteral("[DoReadFiles]") + FailureText(e));
    throw;
  }
}

void TECRFileThread::NoteSharedFolder(const QString& what) {
  if (FCare->NoteSharedFolder(FBonFolder, what, FolderLog()) && OnFolderNotice) {
    const QString text = TFolderCare::SharedFolderText(FBonFolder);
    Synchronize([this, &text] { OnFolderNotice(text); });
  }
}

bool TECRFileThread::ReceiptLeftOpen() const { return FCare->ReceiptLeftOpen(FBonFolder); }

void TECRFileThread::NoteLeftOpenReceipt(bool failed) {
  if (const std::optional<TLeftOpenSettled> settled =
          FCare->AfterFile(FBonFolder, FCurrentFile, FReader->Progress(), FReader->StatusBeforeOpening(), failed)) {
    Log(QStringLiteral("[DoReadFiles] The receipt of \"") + settled->File +
        QStringLiteral("\" left open on the printer was ") + settled->Became);
    if (!settled->Kept.isEmpty()) TellSettled(*settled);
  }
}

void TECRFileThread::TellSettled(const TLeftOpenSettled& settled) {
  const std::string line = uFolderCare::SettledReportLine(settled);
  if (!settled.RepName.isEmpty()) {
    const QString rep = FBonFolder + settled.RepName;
    try {
      // A later receipt of the same name may have its own report there by now: that one is
      // never touched.
      if (FFolder->ReportHolds(settled.RepName, settled.RepText)) {
        FFolder->WriteReport(settled.RepName, settled.RepText + line + "\r\n");
        FFolder->SyncReport(rep);
      } else {
        Log(QStringLiteral("[DoReadFiles] The report \"") + rep + QStringLiteral("\" of \"") + settled.Kept +
            QStringLiteral("\" was replaced meanwhile and is left as it is"));
      }
    } catch (const std::exception& e) {
      const QString text = QStringLiteral("[DoReadFiles] ") + FailureText(e);
      LogException(text);
      Log(text);
    }
  }
  if (OnUnknownSettled) {
    const QString text = uFolderCare::SettledOperatorText(settled);
    Synchronize([this, &settled, &text] { OnUnknownSettled(settled.Kept, text); });
  }
}

// ---- The status answer ----

// Answers the oldest waiting status query ("&S") with the failure that ended the job.
void TECRFileThread::SaveErrorStatus(const QString& message) {
  if (FBonFolder.isEmpty()) return;
  try {
    const TReadyFiles ready = ReadyFiles();
    QStringList names;
    std::map<QString, TFileStamp> stamps;
    for (const TListedFile& file : ready.Files) {
      names.append(file.Name);
      stamps[file.Name] = file.Stamp;
    }
    FFolder->AnswerStatusQuery(names, uConst::ToCp1251(message), &stamps);
  } catch (const std::exception& e) {
    LogException(QStringLiteral("[SaveErrorStatus] ") + FailureText(e));
    Log(QStringLiteral("[SaveErrorStatus] ") + FailureText(e));
  }
}

// ---- Service jobs ----

void TECRFileThread::ServiceJob(bool ok, const QString& okLine, const QString& failText) {
  if (!ok) throw EJobFailure(failText);
  Log(okLine);
}

void TECRFileThread::DoReadPrinterInfo() {
  // Another printer than the desk's gets no closing command either, however the job ends.
  TScopeExit dropOther([this] {
    if (FOtherPrinter) FReader->DropConnection();
  });
  if (!FReader->Initialize(FAutoSerachDevice, uConst::ToCp1251(FDeviceSerialNom))) {
    FErrorKind = ClassifyPrinterError();
    throw EJobFailure(uConst::FromCp1251(FReader->LastError()));
  }
  FPrinterInfo.Model = uConst::FromCp1251(FReader->Model());
  FPrinterInfo.SerialNo = uConst::FromCp1251(FReader->SerialNo());
  FPrinterInfo.FiscalNo = uConst::FromCp1251(FReader->FiscalNo());
  FPrinterInfo.LineLength = FReader->LineLength();
  FPrinterInfo.LastDocNo = FReader->LastDocNo();
  FPrinterInfo.NextInvoiceNo = FReader->NextInvoiceNo();
  FPrinterInfo.ComPort = FReader->ComPort();
  if (OnPrinterInfo) Synchronize([this] { OnPrinterInfo(FPrinterInfo); });
}

void TECRFileThread::DoPrintEmptyBon() {
  ServiceJob(FReader->EmptyBON(), QStringLiteral("[DoPrintEmptyBon] OK"), QStringLiteral("Error in communication"));
}

void TECRFileThread::DoPrintTest() {
  ServiceJob(FReader->PrintTest(), QStringLiteral("Run printer test OK."), QStringLiteral("Error in communication."));
}

void TECRFileThread::DoReportByBlock() {
  ServiceJob(FReader->PrintBlockReport(FFirstBlock, FLastBlock, FDetailed), QStringLiteral("[DoReportByBlock] OK"),
             QStringLiteral("Communcation Error"));
}

void TECRFileThread::DoReportByDates() {
  ServiceJob(FReader->RunFMDateReport(FDetailed, FStartDate, FEndDate), QStringLiteral("[DoReportByDates] OK"),
             QStringLiteral("Communcation Error"));
}

void TECRFileThread::DoXZReport() {
  ServiceJob(FReader->PrintReport(FReset), QStringLiteral("[DoXZReport] OK"), QStringLiteral("Error in communication"));
}

void TECRFileThread::DoSumInOut() {
  ServiceJob(FReader->SumInOrOut(FAmount), QStringLiteral("[DoSumInOut] OK"),
             QStringLiteral("[DoSumInOut]Error in communication"));
}

void TECRFileThread::DoCopyBon() {
  ServiceJob(FReader->CopyBON(), QStringLiteral("[DoCopyBon] OK"), QStringLiteral("[DoCopyBon]Error in communication"));
}

void TECRFileThread::DoDepartmentReportReset() {
  ServiceJob(FReader->PrintDepartmentReport(1), QStringLiteral("[DoDepartmentReportReset] OK"),
             QStringLiteral("[DoDepartmentReportReset]Error in communication"));
}

void TECRFileThread::DoDepartmentReport() {
  ServiceJob(FReader->PrintDepartmentReport(0), QStringLiteral("[DoDepartmentReport] OK"),
             QStringLiteral("[DoDepartmentReport]Error in communication"));
}

namespace {
QString BstrText(BSTR b) {
  const std::u16string_view v = BstrView(b);
  return QString::fromUtf16(v.data(), static_cast<qsizetype>(v.size()));
}
}  // namespace

void TECRFileThread::DoGetDepartments() {
  // The reader goes when the job ends, however it ends.
  struct TFreeReader {
    std::unique_ptr<TECRFileReader>& R;
    ~TFreeReader() { R.reset(); }
  } freeReader{FReader};

  for (int32_t number = 1; number <= uPRNFileThread::DepartmentCount; ++number) {
    ComPtr<IDepartTotals> totals;
    if (!FReader->ReadDepartmentSums(number, totals)) {
      // A department the printer answers without its VAT group (code 200: an unprogrammed
      // one answers "F") is listed as not programmed, so that the ones after it are still
      // read and can be programmed; any other failure ends the list.
      if (FReader->GetLastErrorCode() != 200) break;
      FDepartment = TDepartmentRow{};
      FDepartment.Nom = number;
      FDepartment.ExitCode = QStringLiteral("F");
      if (OnDepartmentReceived) Synchronize([this] { OnDepartmentReceived(FDepartment); });
      continue;
    }
    if (!totals) return;
    BStr name, text, exists;
    LONG taxGroup = 0;
    OleCheck(totals->get_Description(name.Out()));
    OleCheck(totals->get_AddText(text.Out()));
    OleCheck(totals->get_TaxGrpNo(&taxGroup));
    OleCheck(totals->get_Exists(exists.Out()));
    FDepartment.DepName = BstrText(name.Get());
    FDepartment.DepDescr = BstrText(text.Get());
    FDepartment.Nom = number;
    FDepartment.TaxGrpNo = taxGroup;
    FDepartment.ExitCode = BstrText(exists.Get());
    FDepartment.Edited = false;
    if (OnDepartmentReceived) Synchronize([this] { OnDepartmentReceived(FDepartment); });
  }
  bool detached;
  {
    std::lock_guard<std::mutex> lock(FSync->M);
    detached = FSync->Detached;
  }
  if (OnDepartmentsRead && !detached) OnDepartmentsRead(*this);
  Log(QStringLiteral("[DoGetDepartments] OK"));
}

void TECRFileThread::DoSetDepartments() {
  for (const TDepartmentRow& row : FDepartments) {
    if (!row.Edited) continue;
    if (!FReader->SetDepartment(row.Nom, row.TaxGrpNo, uConst::ToCp1251(row.DepName), uConst::ToCp1251(row.DepDescr)))
      throw EJobFailure(QStringLiteral("[DoSetDepartments]Error in communication"));
  }
  Log(QStringLiteral("[DoSetDepartments] OK"));
  FDepartments.clear();
}

}  // namespace fp
