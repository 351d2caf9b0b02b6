#pragma once
// Test support of the task runner, without widgets: a fake worker and its factory, and
// an observer that records what the runner reports and answers its questions from a
// script. The main window's tests use the fake worker as well.
#include <QCoreApplication>
#include <QDir>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <utility>
#include <vector>

#include "program/tasks/uTaskRunner.h"
#include "platform/FileOps.h"

namespace fp::test {

// Processes events for a while, or until the condition holds.
inline bool SpinUntil(const std::function<bool()>& done, int timeoutMs = 3000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// ---- The fake worker ----

// What one fake task was given and what the test does with it.
struct TFakeTask {
  TTaskRequest Request;
  TTaskSettings Settings;
  TTaskEvents Events;
  bool Resumed = false;
  // Atomic: a test may end the worker from a thread of its own, as a real worker ends.
  std::atomic<bool> Terminated{false};
  std::atomic<bool> Detached{false};
  std::atomic<bool> Done{false};  // the thread body has ended
  // The failure text the worker's events may read, and its reason for the operator.
  QString ErrorMessage;
  QString OperatorReason;

  // The worker's last event, after which its thread ends at once.
  void Finish() {
    Done = true;
    ReportFinished();
  }
  // The last event only: the thread has not ended yet.
  void ReportFinished() {
    if (!Detached && Events.TaskFinished) Events.TaskFinished();
  }
  void Error(TTaskErrorKind kind, const QString& printerState = QString()) {
    if (!Detached && Events.Error) Events.Error(kind, printerState);
  }
};

class TFakeTaskThread : public ITaskThread {
 public:
  TFakeTaskThread(std::shared_ptr<TFakeTask> task, std::function<void(std::shared_ptr<TFakeTask>)> onResume)
      : FTask(std::move(task)), FOnResume(std::move(onResume)) {}
  ~TFakeTaskThread() override { FTask->Detached = true; }
  void Configure(const TTaskSettings& s) override { FTask->Settings = s; }
  void SetEvents(TTaskEvents e) override { FTask->Events = std::move(e); }
  void Resume() override {
    FTask->Resumed = true;
    if (FOnResume) FOnResume(FTask);
  }
  void Terminate() override { FTask->Terminated = true; }
  void DetachEvents() override { FTask->Detached = true; }
  bool Finished() const override { return FTask->Done; }
  QString ErrorMessage() const override { return FTask->ErrorMessage; }
  QString OperatorReason() const override { return FTask->OperatorReason; }

 private:
  std::shared_ptr<TFakeTask> FTask;
  std::function<void(std::shared_ptr<TFakeTask>)> FOnResume;
};

// Records every task created. With AutoFinish the worker reports its errors and ends on
// the next turn of the event loop, as a quick real job would.
class TFakeWorkers {
 public:
  bool AutoFinish = true;
  std::vector<TTaskErrorKind> ErrorsToReport;
  std::vector<std::shared_ptr<TFakeTask>> Tasks;

  TTaskThreadFactory Factory() {
    return [this](const TTaskRequest& r) -> std::unique_ptr<ITaskThread> {
      auto task = std::make_shared<TFakeTask>();
      task->Request = r;
      Tasks.push_back(task);
      return std::make_unique<TFakeTaskThread>(task, [this](std::shared_ptr<TFakeTask> t) {
        if (!AutoFinish) return;
        const std::vector<TTaskErrorKind> errors = ErrorsToReport;
        QTimer::singleShot(0, [t, errors] {
          if (t->Events.PrinterOnline && !t->Detached) t->Events.PrinterOnline();
          for (TTaskErrorKind k : errors) {
            if (k == ekPrinterFatal && t->Events.PrinterOffline && !t->Detached) t->Events.PrinterOffline();
            t->Error(k);
          }
          t->Finish();
        });
      });
    };
  }
  std::shared_ptr<TFakeTask> Last() const { return Tasks.empty() ? nullptr : Tasks.back(); }
  std::vector<TTaskKind> Kinds() const {
    std::vector<TTaskKind> k;
    for (const auto& t : Tasks) k.push_back(t->Request.Kind);
    return k;
  }
};

// ---- The observer ----

// Records what the runner reports, one line per report ("started 4", "ended 2 3 1",
// Records what the runner reports, one line per report ("started 4", "ended 2 3 1",
// "idle", "error 2 4 1" with the printer's state after it, "file <path>", "processed 1 0",
// "unknown <path>: <why>"), and answers its questions from the scripts (nothing: the
// operator cancels).
class TRecordingObserver : public ITaskRunnerObserver {
 public:
  std::deque<std::optional<TReportPeriod>> Periods;
  std::deque<std::optional<QString>> Amounts;
  QStringList Prompts;
  std::vector<std::pair<TRunnerNotice, QString>> Notices;
  QStringList Reports;
  std::vector<TPRNInfo> Infos;
  bool Hourglass = false;
  bool Busy = false;
  int AlertChanges = 0;
  // The extra file-timer ticks asked for, in milliseconds.
  std::vector<int> TickRequests;
  // Runs at each notice, while the runner waits for the message to close.
  std::function<void(TRunnerNotice)> OnNotice;

  bool SelectPeriod(TReportPeriod& Period) override {
    if (Periods.empty()) return false;
    const std::optional<TReportPeriod> p = Periods.front();
    Periods.pop_front();
    if (!p) return false;
    Period = *p;
    return true;
  }
  bool InputAmount(const QString& Prompt, QString& Text) override {
    Prompts << Prompt + " [" + Text + "]";
    if (Amounts.empty()) return false;
    const std::optional<QString> a = Amounts.front();
    Amounts.pop_front();
    if (!a) return false;
    Text = *a;
    return true;
  }
  void ShowNotice(TRunnerNotice Notice, const QString& Text) override {
    Notices.emplace_back(Notice, Text);
    if (OnNotice) OnNotice(Notice);
  }
  void SetHourglass(bool On) override { Hourglass = On; }
  void SetBusy(bool On) override { Busy = On; }
  void TaskStarted(TTaskKind Kind) override { Reports << QStringLiteral("started %1").arg(static_cast<int>(Kind)); }
  void TaskEnded(TTaskKind Kind, int32_t Processed, int32_t Errors) override {
    Reports << QStringLiteral("ended %1 %2 %3").arg(static_cast<int>(Kind)).arg(Processed).arg(Errors);
  }
  void TaskIdle() override { Reports << QStringLiteral("idle"); }
  void TaskError(TTaskKind Kind, TTaskErrorKind Error, int32_t Errors, const QString& PrinterState) override {
    Reports << QStringLiteral("error %1 %2 %3").arg(static_cast<int>(Kind)).arg(static_cast<int>(Error)).arg(Errors) +
                   (PrinterState.isEmpty() ? QString() : QLatin1Char(' ') + PrinterState);
  }
  void FileStarted(const QString& Path) override { Reports << QStringLiteral("file ") + Path; }
  void FileProcessed(int32_t Processed, int32_t Errors) override {
    Reports << QStringLiteral("processed %1 %2").arg(Processed).arg(Errors);
  }
  void FileOutcomeUnknown(const QString& Path, const QString& Why) override {
    Reports << QStringLiteral("unknown ") + Path + QStringLiteral(": ") + Why;
  }
  void PrinterInfo(const TPRNInfo& Info) override { Infos.push_back(Info); }
  void AlertsChanged() override { ++AlertChanges; }
  void TickAgainIn(int Ms) override { TickRequests.push_back(Ms); }

  // The notices of one kind, by text.
  QStringList NoticeTexts(TRunnerNotice Kind) const {
    QStringList t;
    for (const auto& [k, text] : Notices)
      if (k == Kind) t << text;
    return t;
  }
};

// A receipt folder that the file timer cannot use: how it is broken and mended.
struct FolderFaultCase {
  const char* name;
  TFolderProblem problem;
  bool fileWaits;      // a receipt file waits while the folder is broken
  const char* reason;  // the status panel's text while it lasts (UTF-8)
};

inline void PrintTo(const FolderFaultCase& c, std::ostream* os) { *os << c.name; }

inline const FolderFaultCase kFolderFaultCases[] = {
    {.name = "Missing", .problem = TFolderProblem::Missing, .fileWaits = false, .reason = "Папката не е открита"},
    {.name = "Unreadable",
     .problem = TFolderProblem::Unreadable,
     .fileWaits = true,
     .reason = "Няма достъп за четене до папката"},
    {.name = "Unwritable",
     .problem = TFolderProblem::Unwritable,
     .fileWaits = true,
     .reason = "Няма достъп за запис в папката"}};

// Breaks the receipt folder `bonDir` (ending in "bon/") the case's way: removed, or every
// open inside it failing (its own listing first), or its write test failing.
inline bool BreakFolder(TFolderProblem problem, const QString& bonDir, TFaultyFileOps& ops) {
  switch (problem) {
    case TFolderProblem::Missing: return QDir(bonDir).removeRecursively();
    case TFolderProblem::Unreadable: ops.FailAt(TFileOp::Open, 0, EACCES, bonDir.toStdString()); return true;
    case TFolderProblem::Unwritable: ops.FailAt(TFileOp::Open, 0, EROFS, "bon/./"); return true;
    default: return true;
  }
}

}  // namespace fp::test
