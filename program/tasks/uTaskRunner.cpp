#include "program/tasks/uTaskRunner.h"

#include "program/receipts/uReceiptFolder.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "program/app/PathNamesQt.h"
#include "program/app/uConst.h"
#include "program/app/uMessageTexts.h"
#include "program/app/uStrRes.h"
#include "program/app/uProgramInfo.h"
#include "platform/FileOps.h"
#include "platform/MonotonicClock.h"
#include "platform/ScopeExit.h"
#include "platform/SysErrorText.h"

namespace fp {
namespace {

using uStrRes::Message;
namespace M = uStrRes;

}  // namespace

int64_t uTaskRunner::WholeSecondsBetween(const QDateTime& A, const QDateTime& B) {
  if (!A.isValid() || !B.isValid()) return INT64_MAX / 2;
  return std::llabs(A.msecsTo(B)) / 1000;
}

// ---------------------------------------------------------------------------------------
// Creation

TTaskRunner::TTaskRunner(TTaskRunnerServices Services, TMainSettings& Settings, ITaskRunnerObserver& Observer)
    : FServices(std::move(Services)), FSettings(Settings), FObserver(Observer) {
  if (!FServices.Now) FServices.Now = [] { return QDateTime::currentDateTime(); };
  if (!FServices.MonotonicMs) FServices.MonotonicMs = [] { return fp::MonotonicMs(); };
  FWatch = std::make_shared<TFolderWatch>(FServices.MonotonicMs);
  FFailures = std::make_shared<TLastingFailure>(FServices.MonotonicMs);
  FCare = std::make_shared<TFolderCare>();
  FPurgeTimer.setInterval(20);
  FPurgeTimer.setSingleShot(true);
  QObject::connect(&FPurgeTimer, &QTimer::timeout, &FPurgeTimer, [this] { PurgeRetiredThreads(); });
}

TTaskRunner::~TTaskRunner() { ReleaseWorkers(); }

void TTaskRunner::ReleaseWorkers() {
  FCleanUpStop = true;
  if (FCleanUp.joinable()) FCleanUp.join();
  FCleanUpRunning = false;
  FPurgeTimer.stop();
  // No worker event may arrive from here on; each worker is waited for.
  if (FCurrentThread) FCurrentThread->DetachEvents();
  for (auto& t : FRetired) t->DetachEvents();
  FCurrentThread.reset();
  FRetired.clear();
}

void TTaskRunner::Log(const QString& Line) const {
  if (FServices.Log) FServices.Log(Line);
}

void TTaskRunner::ErrorLog(const QString& Line) const {
  if (FServices.ErrorLog) FServices.ErrorLog(Line);
}

// ---------------------------------------------------------------------------------------
// Starting tasks

QString TTaskRunner::TaskCaption(TTaskKind Kind) {
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

bool TTaskRunner::WarnIfTaskActive() {
  if (!FTaskActive) return false;
  FObserver.ShowNotice(TRunnerNotice::ActiveTask, Message(M::ActiveTask));
  return true;
}

bool TTaskRunner::CheckMyDirWritable(bool Show) {
  try {
    QString message;
    QString failed;
    auto test = [&message, &failed](const QString& folder) {
      if (!uProgramInfo::CanWriteToDir(WithSlash(folder))) {
        message = Message(M::CantWrite) + CR + folder;
        failed = folder;
      }
    };
    // No receipt folder yet: there is nothing to test (the settings window asks for it).
    if (!FSettings.SearchPath.trimmed().isEmpty()) test(FSettings.SearchPath);
    test(FLogDir);
    test(uProgramInfo::AppDir());
    FDirFolder = failed;
    if (!message.isEmpty() && Show) FObserver.ShowNotice(TRunnerNotice::CantWrite, message);
    return message.isEmpty();
  } catch (const std::exception& e) {
    ErrorLog(QStringLiteral("[CheckMyDirWritable]") + ExceptionText(e));
    if (Show) FObserver.ShowNotice(TRunnerNotice::ErrorMessage, ErrorMessageText());
    return false;
  }
}

TFolderFault TTaskRunner::ProgramFolderFault() const {
  TFolderFault found;
  for (const QString& folder : {FLogDir, uProgramInfo::AppDir()})
    if (TFolderFault f = ProbeFolder(folder, false, true)) found = f;
  return found;
}

void TTaskRunner::CheckReceiptFolder() {
  if (FSettings.SearchPath.trimmed().isEmpty()) return;
  SetFolderFault(ProbeFolder(FSettings.SearchPath, true, true));
  // A claim left by a run that was stopped while it printed is answered at once, not when
  // the next receipt comes.
  if (!FFolderFault) TendReceiptFolder();
}

void TTaskRunner::TendReceiptFolder() {
  if (FSettings.SearchPath.trimmed().isEmpty()) return;
  FCare->Tend(
      WithSlash(FSettings.SearchPath), FSettings.RepFilePrint, uConst::BonFileExt(),
      [this](const QString& line, bool exceptionLog) { exceptionLog ? ErrorLog(line) : Log(line); },
      [this](const QString& path, const QString& why) { FObserver.FileOutcomeUnknown(path, why); },
      [this](const QString& folder) { FObserver.FolderNotice(TFolderCare::SharedFolderText(folder)); });
}

void TTaskRunner::LeaveKeptReports() {
  FCare->LeaveKeptReports(
      [this](const QString& line, bool exceptionLog) { exceptionLog ? ErrorLog(line) : Log(line); });
}

void TTaskRunner::LeaveLastingFailure() {
  for (const QString& line : FFailures->Leave()) ErrorLog(line);
}

std::optional<double> uTaskRunner::ParseCashAmount(const QString& Text) {
  bool ok = false;
  QLocale c = QLocale::c();
  c.setNumberOptions(QLocale::RejectGroupSeparator);
  const double amount = c.toDouble(Text.trimmed(), &ok);
  // "inf" and "nan" read as numbers; neither is an amount.
  if (!ok || !std::isfinite(amount) || !(amount > 0)) return std::nullopt;
  return amount;
}

std::optional<TTaskRequest> uTaskRunner::BuildTaskRequest(TTaskKind Kind, const TStartAnswers& Answers,
                                                          const TMainSettings& Settings,
                                                          const TDepartments& Departments) {
  TTaskRequest r;
  r.Kind = Kind;
  switch (Kind) {
    case tkPrinterInfo:
    case tkCheckPrinter:
    case tkCopyBon:
    case tkPrintEmptyBon:
    case tkPrintTest:
    case tkGetDepartments:
    case tkDepartmentReportReset:
    case tkDepartmentReport: return r;
    case tkReadFiles:
      r.BonFolder = Settings.SearchPath;
      r.WatGrpBeginFromOne = Settings.WatGrpBeginFromOne;
      return r;
    case tkXZReport: r.Reset = Answers.Report == TDailyReport::Z ? 1 : 0; return r;
    case tkSetDepartments: r.Departments = Departments; return r;
    case tkReportByBlock:
    case tkReportByDates: {
      const TReportPeriod& period = Answers.Period;
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
      return r;
    }
    case tkSumIn:
    case tkSumOut:
      r.Kind = tkSumIn;
      r.Amount = Kind == tkSumIn ? Answers.Amount : -Answers.Amount;
      return r;
    default: return std::nullopt;
  }
}

bool uTaskRunner::TaskShowsHourglass(TTaskKind Kind) {
  return Kind != tkPrinterInfo && Kind != tkCheckPrinter && Kind != tkCopyBon && Kind != tkReadFiles;
}

bool TTaskRunner::StartTask(TTaskKind Kind, TDailyReport Report, TTaskStarter Starter) {
  const bool fromTimer = Starter == TTaskStarter::Timer;
  if (fromTimer ? FTaskActive : WarnIfTaskActive()) return false;
  if (!CheckMyDirWritable(!fromTimer)) {
    if (fromTimer) {
      // The reason, for the operator; a folder that passes now failed a moment ago.
      TFolderFault fault = TimerFolderFault(true);
      if (!fault) fault = TFolderFault{TFolderProblem::Unwritable, FDirFolder, 0};
      SetFolderFault(fault);
    }
    return false;
  }
  FTaskActive = true;
  if (FCurrentThread) RetireCurrentThread();
  FCurrentTaskKind = Kind;
  FErrorCount = 0;
  FProcessedCount = 0;

  auto idle = [this] {
    FTaskActive = false;
    FCurrentTaskKind = tkNone;
    return false;
  };
  // The questions of the kinds that ask the operator.
  uTaskRunner::TStartAnswers answers;
  answers.Report = Report;
  switch (Kind) {
    case tkReportByBlock:
    case tkReportByDates:
      if (!FObserver.SelectPeriod(answers.Period)) return idle();
      break;
    case tkSumIn:
    case tkSumOut: {
      QString text = QStringLiteral("0");
      if (!FObserver.InputAmount(Message(Kind == tkSumIn ? M::S_SumIn : M::S_SumOut) + QStringLiteral(":"), text))
        return idle();
      const std::optional<double> amount = uTaskRunner::ParseCashAmount(text);
      if (!amount) {
        FObserver.ShowNotice(TRunnerNotice::InvalidValue, Message(M::InvalidValue) + QStringLiteral(": ") + text);
        return idle();
      }
      answers.Amount = *amount;
      break;
    }
    default: break;
  }
  const std::optional<TTaskRequest> request = uTaskRunner::BuildTaskRequest(Kind, answers, FSettings, FDepartments);
  if (!request) return idle();
  if (Kind == tkSumIn || Kind == tkSumOut) FShowSuccess = true;
  const bool hourglass = uTaskRunner::TaskShowsHourglass(Kind);
  if (hourglass) SetHourglass(true);
  if (!StartTaskThread(*request)) {
    FShowSuccess = false;
    SetHourglass(false);
    return idle();
  }
  FObserver.TaskStarted(Kind);
  return true;
}

bool TTaskRunner::StartTaskThread(const TTaskRequest& Request) {
  try {
    if (!FServices.CreateTask) throw std::runtime_error("no worker");
    TTaskRequest request = Request;
    request.Watch = FWatch;
    request.Failures = FFailures;
    request.Care = FCare;
    std::unique_ptr<ITaskThread> thread = FServices.CreateTask(request);
    if (!thread) throw std::runtime_error("no worker");
    TTaskSettings s;
    s.ComPort = FSettings.ComPort;
    s.BaudRate = FSettings.BaudRate;
    s.RepFilePrint = FSettings.RepFilePrint;
    s.RepDetailPrint = FSettings.RepDetailPrint;
    s.LogDir = FLogDir;
    s.CharEncoding = FSettings.CharEncoding;
    s.DeviceSerialNom = FSettings.DeviceSerialNom.trimmed();
    s.AutoSerachDevice = FSettings.AutoSerachDevice;
    s.BonFolder = FSettings.SearchPath.trimmed().isEmpty() ? QString() : FSettings.SearchPath;
    s.ReadyAgeMs = FServices.ReadyAgeMs;
    s.PayTypePairs = uConst::PayTypePairs();
    s.CashierPas = uConst::CashierPas();
    s.UsePluAsDepartNo = uConst::UsePluAsDepartNo();
    s.BonFileExt = uConst::BonFileExt();
    thread->Configure(s);

    // Each handler belongs to one task: a call that arrives for another is dropped.
    const uint64_t serial = ++FTaskSerial;
    auto mine = [this, serial] { return serial == FTaskSerial && FFinishedSerial < serial; };
    TTaskEvents ev;
    ev.TaskFinished = [this, mine] {
      if (mine()) TaskFinished();
    };
    ev.Error = [this, mine](TTaskErrorKind k, const QString& state) {
      if (mine()) ThreadError(k, state);
    };
    // The worker is waiting in this call: its failure is set and can be read. The window
    // shows the reason in the operator's words; the log's text stays in the log.
    ev.PrinterOffline = [this, mine, worker = thread.get()] {
      if (mine()) PrinterOffline(worker->OperatorReason());
    };
    ev.PrinterOnline = [this, mine] {
      if (mine()) PrinterOnline();
    };
    ev.FileStarted = [this, mine](const QString& p) {
      if (mine()) FileStarted(p);
    };
    ev.FileProcessed = [this, mine] {
      if (mine()) FileProcessed();
    };
    ev.FileUnknown = [this, mine](const QString& p, const QString& w) {
      if (mine()) FObserver.FileOutcomeUnknown(p, w);
    };
    ev.UnknownSettled = [this, mine](const QString& p, const QString& text) {
      if (mine()) FObserver.FileOutcomeSettled(p, text);
    };
    ev.FolderNotice = [this, mine](const QString& text) {
      if (mine()) FObserver.FolderNotice(text);
    };
    ev.PrinterInfo = [this, mine](const TPRNInfo& i) {
      if (mine()) FObserver.PrinterInfo(i);
    };
    ev.DepartmentReceived = [this, mine](const TDepartmentRow& d) {
      if (mine()) DepartmentReceived(d);
    };
    // Called on the worker thread: it touches nothing of the runner.
    ev.DepartmentsRead = [] {};
    thread->SetEvents(std::move(ev));
    FCurrentThread = std::move(thread);
    FObserver.SetBusy(true);
    FCurrentThread->Resume();
    return true;
  } catch (const std::exception& e) {
    ErrorLog(QStringLiteral("[StartTaskThread]") + ExceptionText(e));
    FObserver.SetBusy(false);
    FCurrentThread.reset();
    FObserver.ShowNotice(TRunnerNotice::ErrorMessage, ErrorMessageText());
    return false;
  }
}

void uTaskRunner::DeleteOldFiles(const QString& Folder, const QStringList& Masks, const QDateTime& Now, double KeepDays,
                                 const std::function<bool()>& Stop,
                                 const std::function<void(const QString&, bool)>& Log) {
  IFileOps& ops = FileOps();
  const QString folder = WithSlash(Folder);
  const int dir = ops.Open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  auto failed = [&](int err) {
    Log(QStringLiteral("[DeleteOldLog] ") + folder + QStringLiteral(": ") + QString::fromStdString(SysErrorText(err)),
        true);
  };
  if (dir < 0) {
    if (errno != ENOENT && errno != ENOTDIR) failed(errno);
    return;
  }
  TScopeExit close([&ops, dir] { ops.Close(dir); });
  std::vector<std::string> names;
  if (ops.ReadDir(dir, names) != 0) {
    failed(errno);
    return;
  }
  std::vector<QRegularExpression> patterns;
  for (const QString& mask : Masks)
    patterns.emplace_back(QRegularExpression::wildcardToRegularExpression(mask),
                          QRegularExpression::CaseInsensitiveOption);
  const qint64 nowMs = Now.toMSecsSinceEpoch();
  auto ageDays = [nowMs](const struct stat& st) {
    const qint64 mtimeMs = static_cast<qint64>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return static_cast<double>(nowMs - mtimeMs) / 86400000.0;
  };
  struct TOld {
    std::string Name;
    TFileStamp Stamp;
    double Age;
  };
  std::vector<TOld> old;
  bool any = false;
  double newest = 0;
  for (const std::string& name : names) {
    if (Stop()) return;
    struct stat st {};
    if (ops.FstatAt(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    const double age = ageDays(st);
    if (!any || age < newest) newest = age;
    any = true;
    if (age <= KeepDays) continue;
    const QString decoded = QFile::decodeName(QByteArray::fromStdString(name));
    for (const QRegularExpression& pattern : patterns) {
      if (!pattern.match(decoded).hasMatch()) continue;
      old.push_back(TOld{name, FileStampOf(st), age});
      break;
    }
  }
  if (!any) return;
  if (newest > KeepDays) {
    Log(QStringLiteral("[DeleteOldLog] ") + folder +
            QStringLiteral(": not cleaned up, the newest file of the folder is %1 days old (is the clock right?)")
                .arg(newest, 0, 'f', 1),
        false);
    return;
  }
  for (const TOld& o : old) {
    if (Stop()) return;
    struct stat st {};
    if (ops.FstatAt(dir, o.Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        FileStampOf(st) != o.Stamp || ops.UnlinkAt(dir, o.Name.c_str(), 0) != 0)
      continue;
    Log(QStringLiteral("[DeleteOldLog] Deleted ") + folder + QFile::decodeName(QByteArray::fromStdString(o.Name)) +
            QStringLiteral(", %1 days old").arg(o.Age, 0, 'f', 1),
        false);
  }
}

void TTaskRunner::CleanUpOldFiles(const QString& Folder, const QStringList& Masks) {
  if (FCleanUpRunning.load() || Folder.trimmed().isEmpty()) return;
  if (FCleanUp.joinable()) FCleanUp.join();
  FCleanUpStop = false;
  FCleanUpRunning = true;
  const QDateTime now = FServices.Now();
  // The lines go to the logs on the main thread, where the runner's services run; the
  // timer is the runner's own object there, and what it has not run yet goes with it.
  QObject* home = &FPurgeTimer;
  FCleanUp = std::thread([this, home, folder = Folder, masks = Masks, now] {
    uTaskRunner::DeleteOldFiles(
        folder, masks, now, uConst::KeepFilesDays, [this] { return FCleanUpStop.load(); },
        [this, home](const QString& line, bool exceptionLog) {
          QMetaObject::invokeMethod(
              home, [this, line, exceptionLog] { exceptionLog ? ErrorLog(line) : Log(line); }, Qt::QueuedConnection);
        });
    // Once its last line is on its way.
    QMetaObject::invokeMethod(
        home, [this] { FCleanUpRunning = false; }, Qt::QueuedConnection);
  });
}

void TTaskRunner::StopCurrentTask() {
  if (FTaskActive && FCurrentThread) FCurrentThread->Terminate();
}

void TTaskRunner::RequestQuit() {
  FQuitPending = true;
  FShowSuccess = false;
  if (FCurrentThread) FCurrentThread->Terminate();
}

void TTaskRunner::FinishWithoutEventLoop() {
  RequestQuit();
  FPurgeTimer.stop();
  if (FCurrentThread) FCurrentThread->DetachEvents();
  for (auto& t : FRetired) t->DetachEvents();
  // The worker goes on by itself once detached: it is waited for here, not by the loop.
  auto running = [this] {
    if (FCurrentThread && !FCurrentThread->Finished()) return true;
    for (const auto& t : FRetired)
      if (!t->Finished()) return true;
    return false;
  };
  while (running()) QThread::msleep(10);
  ReleaseWorkers();
  FTaskActive = false;
  FCurrentTaskKind = tkNone;
}

// ---------------------------------------------------------------------------------------
// Waits

bool TTaskRunner::WaitForTask(uint64_t Serial, int64_t StartedMs, int StepMs, int LimitSec) {
  while (FFinishedSerial < Serial) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (FFinishedSerial >= Serial) break;
    QThread::msleep(static_cast<unsigned long>(StepMs));
    if ((MonotonicMs() - StartedMs) / 1000 > LimitSec) return false;
  }
  return true;
}

bool TTaskRunner::OwnTaskSucceeded(uint64_t Serial) const {
  return FFinishedSerial == Serial && FFinishedErrorCount == 0;
}

bool TTaskRunner::CheckConnectivity() {
  Log(QStringLiteral("Checking connectivity."));
  const int64_t started = MonotonicMs();
  if (!StartTask(tkCheckPrinter)) return false;
  const uint64_t serial = FTaskSerial;
  FShowSuccess = false;
  if (FSettings.CheckPrnIntevalSec == 0) return true;
  SetHourglass(true);
  const bool finished = WaitForTask(serial, started, 20, WaitLimitSec);
  SetHourglass(false);
  return finished && OwnTaskSucceeded(serial);
}

bool TTaskRunner::RunSettingsTest(TTaskKind Kind, bool HourglassFirst) {
  const int64_t started = MonotonicMs();
  TScopeExit restore([this] {
    FSilent = false;
    SetHourglass(false);
  });
  FSilent = true;
  if (HourglassFirst) SetHourglass(true);
  if (!StartTask(Kind)) return false;
  const uint64_t serial = FTaskSerial;
  SetHourglass(true);
  return WaitForTask(serial, started, 5, WaitLimitSec) && OwnTaskSucceeded(serial);
}

bool TTaskRunner::TestComPort(int32_t Port) {
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

bool TTaskRunner::SearchDeviceBySerial(const QString& Serial) {
  TScopeExit restore([this, oldSearch = FSettings.AutoSerachDevice, oldSerial = FSettings.DeviceSerialNom] {
    FSettings.AutoSerachDevice = oldSearch;
    FSettings.DeviceSerialNom = oldSerial;
  });
  FSettings.AutoSerachDevice = true;
  FSettings.DeviceSerialNom = Serial;
  return RunSettingsTest(tkPrinterInfo, true);
}

// ---------------------------------------------------------------------------------------
// Worker events

void TTaskRunner::TaskFinished() {
  // Printed receipts moved the printer's counters on: the device data shown are read
  // again once no file waits.
  if (FCurrentTaskKind == tkReadFiles && FProcessedCount > 0) FPrinterDataStale = true;
  FObserver.SetBusy(false);
  FObserver.TaskEnded(FCurrentTaskKind, FProcessedCount, FErrorCount);
  // The waits read the result of their own task from here.
  FFinishedSerial = FTaskSerial;
  FFinishedErrorCount = FErrorCount;
  // While the message is open the runner still counts as busy.
  if (FErrorCount == 0 && FShowSuccess && !FQuitPending)
    FObserver.ShowNotice(TRunnerNotice::FinishedOK, Message(M::FinishedOK));
  FShowSuccess = false;
  FCurrentTaskKind = tkNone;
  RetireCurrentThread();
  SetHourglass(false);
  FTaskActive = false;
  // A file that came while the task ran is taken now, or once it is ready.
  if (FTickWantedAtMs) {
    const int64_t at = *FTickWantedAtMs;
    FTickWantedAtMs.reset();
    WantTickIn(at - MonotonicMs());
  }
  FObserver.TaskIdle();
}

void TTaskRunner::RetireCurrentThread() {
  // The worker is still inside its last event call: it is destroyed once it has ended.
  if (FCurrentThread) FRetired.push_back(std::move(FCurrentThread));
  if (!FPurgeTimer.isActive()) FPurgeTimer.start();
}

void TTaskRunner::PurgeRetiredThreads() {
  for (auto it = FRetired.begin(); it != FRetired.end();) {
    if ((*it)->Finished())
      it = FRetired.erase(it);
    else
      ++it;
  }
  if (!FRetired.empty()) FPurgeTimer.start();
}

void TTaskRunner::ThreadError(TTaskErrorKind Kind, const QString& PrinterState) {
  ++FErrorCount;
  // Only a printer error has the printer's state behind it.
  const bool printer = Kind == ekOperationError || Kind == ekPrinterError || Kind == ekPrinterFatal;
  const QString state = printer ? PrinterState : QString();
  FObserver.TaskError(FCurrentTaskKind, Kind, FErrorCount, state);
  if (printer && !FSilent && state != FPrinterState) {
    FPrinterState = state;
    FObserver.AlertsChanged();
  }
}

void TTaskRunner::PrinterOnline() {
  if (FSilent) return;
  FPrinterOffline = false;
  FPrinterOfflineText.clear();
  FPrinterState.clear();
  FObserver.AlertsChanged();
}

void TTaskRunner::PrinterOffline(const QString& Why) {
  if (FSilent) return;
  FPrinterOffline = true;
  FPrinterOfflineText = Why;
  FObserver.AlertsChanged();
}

void TTaskRunner::FileStarted(const QString& Path) { FObserver.FileStarted(Path); }

void TTaskRunner::FileProcessed() {
  ++FProcessedCount;
  FObserver.FileProcessed(FProcessedCount, FErrorCount);
}

void TTaskRunner::DepartmentReceived(const TDepartmentRow& Row) { FDepartments.push_back(Row); }

// ---------------------------------------------------------------------------------------
// The file timer

int32_t TTaskRunner::PendingFileCount(qint64* WaitMs) {
  const TReadyFiles ready =
      FWatch->Ready(WithSlash(FSettings.SearchPath), uConst::BonFileExt(), FLogDir, FServices.ReadyAgeMs);
  if (WaitMs) *WaitMs = ready.WaitMs;
  return static_cast<int32_t>(ready.Files.size());
}

void TTaskRunner::WantTickIn(qint64 Ms) {
  if (!FTaskActive) {
    FObserver.TickAgainIn(static_cast<int>(std::max<qint64>(Ms, 0)));
    return;
  }
  const int64_t at = MonotonicMs() + std::max<qint64>(Ms, 0);
  if (!FTickWantedAtMs || at < *FTickWantedAtMs) FTickWantedAtMs = at;
}

void TTaskRunner::WatchWhileBusy() {
  if (FFolderFault || FSettings.SearchPath.trimmed().isEmpty()) return;
  qint64 waitMs = -1;
  if (PendingFileCount(&waitMs) > 0)
    WantTickIn(0);
  else if (waitMs >= 0)
    WantTickIn(waitMs);
}

void TTaskRunner::FileTimerTick() {
  // A tick whose dialog or task start is still running lets the next ticks pass.
  if (FInFileTimer) return;
  if (FTaskActive) {
    // A file that comes while a task runs starts its quiet time now, and the tick that
    // takes it comes when the task ends (or when the file will be ready, if later), not a
    // timer period after.
    FInFileTimer = true;
    TScopeExit done([this] { FInFileTimer = false; });
    WatchWhileBusy();
    return;
  }
  FInFileTimer = true;
  TScopeExit done([this] { FInFileTimer = false; });
  // The folders are looked at on every tick, so that one that is gone shows even while
  // no work waits. Creating a test file each second would disturb the shared folder:
  // the write test runs before each task and, while a fault shows, to see it end.
  SetFolderFault(TimerFolderFault(static_cast<bool>(FFolderFault)));
  if (FFolderFault) return;
  // What an earlier run left and a report kept in memory need no new receipt file.
  TendReceiptFolder();
  // The interval is elapsed time: a change of the PC clock neither brings a check forward
  // nor holds it back.
  const int64_t now = MonotonicMs();
  if (FSettings.CheckPrnIntevalSec > 0 &&
      (!FLastCheckMs || (now - *FLastCheckMs) / 1000 > FSettings.CheckPrnIntevalSec)) {
    Log(QStringLiteral("Checking connectivity."));
    if (StartTask(tkPrinterInfo, TTaskStarter::Timer)) FPrinterDataStale = false;
    FLastCheckMs = now;
    // The check takes this tick, not the files' quiet time: they are looked at all the same.
    WatchWhileBusy();
  } else {
    // A file that has just come waits until it has stayed unchanged long enough: the
    // window ticks again at that moment, so the wait does not grow to the timer's period.
    qint64 waitMs = -1;
    if (PendingFileCount(&waitMs) > 0) {
      StartTask(tkReadFiles, TTaskStarter::Timer);
      // Files that are not ready yet are not the job's: their tick comes after it.
      if (waitMs >= 0) WantTickIn(waitMs);
    } else if (waitMs >= 0) {
      FObserver.TickAgainIn(static_cast<int>(waitMs));  // at most the readiness age
    } else if (FPrinterDataStale && FSettings.CheckPrnIntevalSec > 0) {
      Log(QStringLiteral("Checking connectivity."));
      if (StartTask(tkPrinterInfo, TTaskStarter::Timer)) FPrinterDataStale = false;
      FLastCheckMs = now;
    }
  }
}

void TTaskRunner::CountUnknownFiles() {
  const QString folder = FSettings.SearchPath.trimmed().isEmpty() ? QString() : WithSlash(FSettings.SearchPath);
  int32_t count = 0;
  if (!folder.isEmpty()) {
    IFileOps& ops = FileOps();
    const int fd = ops.Open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0) return;
    TScopeExit close([&ops, fd] { ops.Close(fd); });
    struct stat st {};
    if (ops.Fstat(fd, &st) != 0) return;
    const int64_t now = MonotonicMs();
    const bool same = folder == FUnknownFolder && st.st_dev == FUnknownFolderStat.st_dev &&
                      st.st_ino == FUnknownFolderStat.st_ino &&
                      st.st_mtim.tv_sec == FUnknownFolderStat.st_mtim.tv_sec &&
                      st.st_mtim.tv_nsec == FUnknownFolderStat.st_mtim.tv_nsec;
    if (same && now - FUnknownCountedMs < UnknownRecountMs) return;
    std::vector<std::string> names;
    if (ops.ReadDir(fd, names) != 0) return;
    for (const std::string& name : names) {
      if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".unk") != 0) continue;
      // The entry itself: a link is never followed, and only a regular file counts.
      struct stat entry {};
      if (ops.FstatAt(fd, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(entry.st_mode)) ++count;
    }
    FUnknownFolder = folder;
    FUnknownFolderStat = st;
    FUnknownCountedMs = now;
  } else {
    FUnknownFolder.clear();
  }
  if (count == FUnknownCount) return;
  FUnknownCount = count;
  FObserver.AlertsChanged();
}

TFolderFault TTaskRunner::ProbeFolder(const QString& Folder, bool Read, bool Write) {
  IFileOps& ops = FileOps();
  const std::string path = QFile::encodeName(WithSlash(Folder)).toStdString();
  auto fault = [&Folder](TFolderProblem problem, int error) { return TFolderFault{problem, Folder, error}; };
  struct stat st {};
  if (ops.Stat(path.c_str(), &st) != 0) {
    const int error = errno;
    return fault(error == ENOENT || error == ENOTDIR ? TFolderProblem::Missing : TFolderProblem::Unreadable, error);
  }
  if (!S_ISDIR(st.st_mode)) return fault(TFolderProblem::Missing, ENOTDIR);
  if (Read) {
    const int fd = ops.Open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return fault(TFolderProblem::Unreadable, errno);
    // The receipt folder needs room for a report before a receipt is taken from it.
    const bool room = HasReportRoom(fd);
    ops.Close(fd);
    if (!room) return fault(TFolderProblem::Unwritable, ENOSPC);
  }
  if (Write) {
    errno = 0;
    if (!uProgramInfo::CanWriteToDir(WithSlash(Folder))) return fault(TFolderProblem::Unwritable, errno);
  }
  return {};
}

TFolderFault TTaskRunner::TimerFolderFault(bool WriteTest) const {
  // No receipt folder yet: the settings window asks for one.
  if (!FSettings.SearchPath.trimmed().isEmpty()) {
    if (TFolderFault f = ProbeFolder(FSettings.SearchPath, true, WriteTest)) return f;
  }
  if (WriteTest) {
    for (const QString& folder : {FLogDir, uProgramInfo::AppDir()})
      if (TFolderFault f = ProbeFolder(folder, false, true)) return f;
  }
  return {};
}

void TTaskRunner::SetFolderFault(const TFolderFault& Fault) {
  // The same folder with the same problem is the same fault, whatever errno said.
  if (Fault.Problem == FFolderFault.Problem && Fault.Folder == FFolderFault.Folder) return;
  const TFolderFault old = FFolderFault;
  FFolderFault = Fault;
  if (Fault) {
    QString line = QStringLiteral("[FileReadTimerTimer]Folder cannot be used, ");
    switch (Fault.Problem) {
      case TFolderProblem::Missing: line += QStringLiteral("missing: "); break;
      case TFolderProblem::Unreadable: line += QStringLiteral("cannot be read: "); break;
      default: line += QStringLiteral("cannot be written: "); break;
    }
    line += Fault.Folder;
    if (Fault.Error != 0)
      line +=
          QStringLiteral(" (") + QString::fromLocal8Bit(fp::SysErrorText(Fault.Error).c_str()) + QStringLiteral(")");
    ErrorLog(line + QStringLiteral("; printing waits until it can be used."));
  } else {
    ErrorLog(QStringLiteral("[FileReadTimerTimer]Folder can be used again: ") + old.Folder);
  }
  FObserver.AlertsChanged();
}

}  // namespace fp
