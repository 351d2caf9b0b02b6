#include "filedriver/uPRNFileThread.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>

#include "filedriver/uConst.h"
#include "filedriver/uECRFileReader.h"
#include "filedriver/uStrRes.h"
#include "platform/FileOps.h"
#include "platform/com/ComRuntime.h"

namespace fp {

namespace {

// A failure that ends the job, with its text (which may hold any character).
class EJobFailure : public std::exception {
 public:
  explicit EJobFailure(QString message) : Message(std::move(message)), What(Message.toStdString()) {}
  const char* what() const noexcept override { return What.c_str(); }
  QString Message;

 private:
  std::string What;
};

// The text of any failure: ours as it is, the reader's and the runtime's in code page 1251.
QString FailureText(const std::exception& e) {
  if (auto* job = dynamic_cast<const EJobFailure*>(&e)) return job->Message;
  return uConst::FromCp1251(e.what());
}

std::string Native(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString WithSlash(const QString& folder) {
  if (folder.isEmpty() || folder.endsWith(QLatin1Char('/'))) return folder;
  return folder + QLatin1Char('/');
}

// The name with its extension (from the last '.') replaced by `ext` ("" removes it).
QString ChangeFileExt(const QString& name, const QString& ext) {
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return (dot < 0 ? name : name.left(dot)) + ext;
}

// The name itself is a regular file (a symbolic link is not followed).
bool IsRegularFile(const QString& path) {
  struct stat st {};
  return FileOps().Lstat(Native(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const QString& path) {
  struct stat st {};
  return !path.isEmpty() && FileOps().Stat(Native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// fsync of a file or a folder (a folder's entries: renames and new names in it). A file
// that is a symbolic link is not followed.
bool SyncPath(const QString& path, bool folder) {
  IFileOps& ops = FileOps();
  int fd = ops.Open(Native(path).c_str(), O_RDONLY | O_CLOEXEC | (folder ? O_DIRECTORY : O_NOFOLLOW), 0);
  if (fd < 0) return false;
  bool ok = ops.Fsync(fd) == 0;
  int err = errno;
  ops.Close(fd);
  errno = err;
  return ok;
}

// Renames `from` to base + ext, or, while that name exists, to base + "_1" + ext,
// base + "_2" + ext and so on; never replaces a file. The name used goes to `to`.
bool RenameToFreeName(const QString& from, const QString& base, const QString& ext, QString& to) {
  const std::string src = Native(from);
  for (int n = 0; n < 10000; ++n) {
    to = n == 0 ? base + ext : base + QLatin1Char('_') + QString::number(n) + ext;
    if (FileOps().RenameNoReplace(src.c_str(), Native(to).c_str()) == 0) return true;
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

// The whole file (at most `limit` bytes) through the file operations; false when it cannot
// be read, is larger, or is a symbolic link (never followed out of the folder).
bool ReadWholeFile(const QString& path, std::string& data, size_t limit) {
  IFileOps& ops = FileOps();
  int fd = ops.Open(Native(path).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = ReadAll(ops, fd, data, limit);
  ops.Close(fd);
  return ok;
}

// Writes the bytes into a new file and syncs it. Whatever stood under the name goes first
// (a link is removed, not followed), and the file is created exclusively without following
// a link, so nothing placed in the folder can send the bytes elsewhere.
bool WriteWholeFile(const QString& path, const std::string& data) {
  IFileOps& ops = FileOps();
  const std::string name = Native(path);
  if (ops.Unlink(name.c_str()) != 0 && errno != ENOENT) return false;
  int fd = ops.Open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(ops, fd, data) && ops.Fsync(fd) == 0;
  const int err = errno;
  if (ops.Close(fd) != 0 && ok) return false;
  errno = err;
  return ok;
}

// A status query is a line or two; a larger file is no status query.
constexpr size_t kStatusQueryLimit = 64 * 1024;

// Lines split at CR LF, LF or CR.
std::vector<std::string> SplitLines(const std::string& data) {
  std::vector<std::string> lines;
  std::string line;
  bool any = false;
  for (size_t i = 0; i < data.size(); ++i) {
    char c = data[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      any = false;
      if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') ++i;
    } else {
      line += c;
      any = true;
    }
  }
  if (any) lines.push_back(line);
  return lines;
}

QString ErrnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// An advisory lock on the receipt folder, held by a file job from before its first look at
// the folder to its end: two programs started on one folder take turns, so one never takes
// the other's claim of the file it is printing for a claim left by a killed run. It is
// released when the object goes (or the process ends, however it ends).
class TFolderLock {
 public:
  TFolderLock() = default;
  TFolderLock(const TFolderLock&) = delete;
  TFolderLock& operator=(const TFolderLock&) = delete;
  ~TFolderLock() { Release(); }
  void Release() {
    if (Fd >= 0) FileOps().Close(Fd);
    Fd = -1;
  }
  // False only when another holder has it. A folder that cannot be opened or locked (a
  // file system without locks) goes on without it.
  bool Take(const QString& folder) {
    Fd = FileOps().Open(Native(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (Fd < 0) return true;
    if (::flock(Fd, LOCK_EX | LOCK_NB) == 0) return true;
    return errno != EWOULDBLOCK;
  }

 private:
  int Fd = -1;
};

TFprnFactory& ReaderFprnFactory() {
  static TFprnFactory factory;
  return factory;
}

}  // namespace

// ---- Listing ----

namespace uPRNFileThread {

QString ListedName(const QString& line) {
  const qsizetype tab = line.indexOf(QLatin1Char('\t'));
  return tab < 0 ? line : line.mid(tab + 1);
}

namespace {

// What the listings have seen of one waiting file, and since when (by the program's clock)
// it has stayed as it is.
struct TWatchedFile {
  dev_t Dev = 0;
  ino_t Ino = 0;
  off_t Size = 0;
  int64_t MtimeNs = 0;
  qint64 QuietSinceMs = 0;
};

// The waiting files of one folder, and the refused names already written to the log.
struct TFolderWatch {
  std::map<QString, TWatchedFile> Files;
  std::set<QString> LoggedRefused;
};

// The main window's ticks and the file job (another thread) list the same folder: they
// share what has been seen, so a file's quiet time does not start again with every job.
std::mutex& WatchLock() {
  static std::mutex lock;
  return lock;
}

std::map<QString, TFolderWatch>& Watches() {
  static std::map<QString, TFolderWatch> watches;
  return watches;
}

// A claimed file has left the waiting files: a new file of that name starts afresh.
void ForgetWatched(const QString& folder, const QString& name) {
  std::lock_guard<std::mutex> lock(WatchLock());
  auto it = Watches().find(WithSlash(folder));
  if (it != Watches().end()) it->second.Files.erase(name);
}

}  // namespace

void SelectReadyBonFiles(const QString& folder, QStringList& list, const QDateTime& now, const QString& logDir) {
  list.clear();
  if (folder.isEmpty()) return;
  QStringList all, refused;
  uConst::SelectBonFiles(folder, all, &refused);
  const QString dir = WithSlash(folder);
  const qint64 nowMs = now.toMSecsSinceEpoch();
  QStringList toLog;
  {
    std::lock_guard<std::mutex> lock(WatchLock());
    TFolderWatch& watch = Watches()[dir];
    std::map<QString, TWatchedFile> seen;
    for (const QString& line : all) {
      const QString name = ListedName(line);
      struct stat st {};
      if (FileOps().Lstat(Native(dir + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      TWatchedFile f;
      f.Dev = st.st_dev;
      f.Ino = st.st_ino;
      f.Size = st.st_size;
      f.MtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
      const qint64 mtimeMs = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
      const auto old = watch.Files.find(name);
      if (old == watch.Files.end() || old->second.Dev != f.Dev || old->second.Ino != f.Ino) {
        // A file not seen before is quiet since its stamp; a stamp ahead of the clock (a
        // share whose clock runs ahead) counts from now.
        f.QuietSinceMs = std::min(mtimeMs, nowMs);
      } else if (old->second.Size != f.Size || old->second.MtimeNs != f.MtimeNs ||
                 old->second.QuietSinceMs > nowMs) {
        // It changed while watched, whatever its stamp says, or the clock stepped back.
        f.QuietSinceMs = nowMs;
      } else {
        f.QuietSinceMs = old->second.QuietSinceMs;
      }
      seen[name] = f;
      if (nowMs - f.QuietSinceMs >= ReadyAgeMs) list.append(line);
    }
    watch.Files.swap(seen);
    std::set<QString> logged;
    for (const QString& name : refused) {
      if (watch.LoggedRefused.count(name)) {
        logged.insert(name);
      } else if (!logDir.isEmpty()) {
        logged.insert(name);
        toLog.append(name);
      }
    }
    watch.LoggedRefused.swap(logged);
    if (watch.Files.empty() && watch.LoggedRefused.empty()) Watches().erase(dir);
  }
  for (const QString& name : toLog) {
    try {
      uConst::WriteLog(logDir,
                       QStringLiteral("[SelectReadyBonFiles] Not a regular file (a link or another kind) or a "
                                      "name that is not UTF-8, left in place: \"") +
                           dir + name + QStringLiteral("\""),
                       true);
    } catch (const std::exception&) {
      // A log folder that cannot be made loses the line.
    }
  }
}

}  // namespace uPRNFileThread

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

void TECRFileThread::SetFprnFactory(TFprnFactory factory) { ReaderFprnFactory() = std::move(factory); }

TECRFileThread::TECRFileThread() : FSync(std::make_shared<TSyncState>()) {
  const TFprnFactory& factory = ReaderFprnFactory();
  Reader = std::make_unique<TECRFileReader>(factory ? factory : TFprnFactory(CreateMiravokFprn));
  Reader->SetPayTypePairs(uConst::PayTypePairs());
  Reader->BaudRate = 115200;
  Reader->ComPort = 1;
  Reader->RepFilePrint = true;
  Reader->RepDetailPrint = true;
  // Numbers go to the printer and into the files with "." whatever the locale: the
  // reader formats them itself, so there is no process-wide separator to set here.
}

TECRFileThread::~TECRFileThread() {
  DetachEvents();
  WaitFor();
  if (FThread.joinable()) FThread.join();
}

namespace {
std::unique_ptr<TECRFileThread> WithKind(std::unique_ptr<TECRFileThread> t, TTaskKind kind) {
  t->TaskKind = kind;
  return t;
}
}  // namespace

#define FP_NEW_THREAD() std::unique_ptr<TECRFileThread>(new TECRFileThread())

std::unique_ptr<TECRFileThread> TECRFileThread::CreateReadPrinterInfo() {
  return WithKind(FP_NEW_THREAD(), tkPrinterInfo);
}

std::unique_ptr<TECRFileThread> TECRFileThread::CreateReadFiles(const QString& bonFolder,
                                                                bool watGrpBeginFromOne) {
  auto t = FP_NEW_THREAD();
  t->BonFolder = bonFolder;
  t->Reader->WatGrpBeginFromOne = watGrpBeginFromOne;
  return WithKind(std::move(t), tkReadFiles);
}

std::unique_ptr<TECRFileThread> TECRFileThread::CreatePrintEmptyBon() {
  return WithKind(FP_NEW_THREAD(), tkPrintEmptyBon);
}

std::unique_ptr<TECRFileThread> TECRFileThread::CreatePrintTest() {
  return WithKind(FP_NEW_THREAD(), tkPrintTest);
}

std::unique_ptr<TECRFileThread> TECRFileThread::CreateReportByBlock(int32_t firstBlock, int32_t lastBlock,
                                                                    bool detailed) {
  auto t = FP_NEW_THREAD();
  t->FirstBlock = firstBlock;
  t->LastBlock = lastBlock;
  t->Detailed = detailed;
  return WithKind(std::move(t), tkReportByBlock);
}

std::unique_ptr<TECRFileThread> TECRFileThread::CreateReportByDates(bool detailed, double startDate,
                                                                    double endDate) {
  auto t = FP_NEW_THREAD();
  t->Detailed = detailed;
  t->StartDate = startDate;
  t->EndDate = endDate;
  return WithKind(std::move(t), tkReportByDates);
}

std::unique_ptr<TECRFileThread> TECRFileThread::CreateXZReport(uint8_t reset) {
  auto t = FP_NEW_THREAD();
  t->Reset = reset;
  return WithKind(std::move(t), tkXZReport);
}

std::unique_ptr<TECRFileThread> TECRFileThread::CreateGetDepartments() {
  return WithKind(FP_NEW_THREAD(), tkGetDepartments);
}

std::unique_ptr<TECRFileThread> TECRFileThread::CreateSetDepartments(const TDepartments& departments) {
  auto t = FP_NEW_THREAD();
  t->Departments = departments;
  return WithKind(std::move(t), tkSetDepartments);
}

std::unique_ptr<TECRFileThread> TECRFileThread::CreateSumInOut(double amount) {
  auto t = FP_NEW_THREAD();
  t->Amount = amount;
  return WithKind(std::move(t), tkSumIn);
}

std::unique_ptr<TECRFileThread> TECRFileThread::CreateCheckPrinter() {
  return WithKind(FP_NEW_THREAD(), tkCheckPrinter);
}

std::unique_ptr<TECRFileThread> TECRFileThread::CreateCopyBon() { return WithKind(FP_NEW_THREAD(), tkCopyBon); }

std::unique_ptr<TECRFileThread> TECRFileThread::CreateDepartmentReport(bool reset) {
  return WithKind(FP_NEW_THREAD(), reset ? tkDepartmentReportReset : tkDepartmentReport);
}

#undef FP_NEW_THREAD

// ---- Settings ----

void TECRFileThread::SetComPort(uint8_t port) { Reader->ComPort = port; }
void TECRFileThread::SetBaudRate(int32_t baudRate) { Reader->BaudRate = baudRate; }
void TECRFileThread::SetRepFilePrint(bool on) { Reader->RepFilePrint = on; }
void TECRFileThread::SetRepDetailPrint(bool on) { Reader->RepDetailPrint = on; }
void TECRFileThread::SetLogDir(const QString& logDir) {
  LogDir = logDir;
  Reader->LogDir = logDir;
}
void TECRFileThread::SetBonFolder(const QString& folder) { BonFolder = folder; }
void TECRFileThread::SetClock(std::function<QDateTime()> clock) { FClock = std::move(clock); }

QDateTime TECRFileThread::Now() const { return FClock ? FClock() : QDateTime::currentDateTime(); }

// ---- Logs ----

void TECRFileThread::Log(const QString& message) {
  if (LogDir.isEmpty()) return;
  try {
    uConst::WriteLog(LogDir, message, false);
  } catch (const std::exception&) {
    // A log folder that cannot be made loses the line; the job goes on.
  }
}

void TECRFileThread::LogException(const QString& message) {
  if (LogDir.isEmpty()) return;
  try {
    uConst::WriteLog(LogDir, message, true);
  } catch (const std::exception&) {
  }
}

void TECRFileThread::Fail(TTaskErrorKind kind, const QString& message) {
  ErrorKind = kind;
  throw EJobFailure(message);
}

// ---- Classification ----

TTaskErrorKind TECRFileThread::ClassifyErrorCode(int32_t code) {
  switch (code) {
    case 101: case 102: case 103: case 104: case 105: case 107: case 120: case 130:
    case 210: case 211: case 212: case 213: case 214: case 218: case 219: case 503: case 504:
      return ekPrinterFatal;
    case 132: case 200: case 201: case 203: case 204: case 206: case 215: case 216: case 217:
    case 226: case 232:
      return ekPrinterError;
    default:
      return ekOperationError;
  }
}

TTaskErrorKind TECRFileThread::ClassifyPrinterError() {
  if (!Reader) return ekPrinterFatal;
  try {
    return ClassifyErrorCode(Reader->GetLastErrorCode());
  } catch (...) {
    return ekPrinterFatal;
  }
}

// ---- The thread body ----

void TECRFileThread::Execute() {
  const HRESULT com = CoInitialize(nullptr);
  ErrorKind = ekNone;
  bool connected = false;
  TFolderLock folderLock;
  try {
    if (TaskKind == tkReadFiles && !IsFolder(BonFolder))
      Fail(ekFileError, uStrRes::Message(uStrRes::SetProgram));
    BonFolder = WithSlash(BonFolder);
    if (TaskKind == tkReadFiles && !folderLock.Take(BonFolder)) {
      // Another program's file job works in this folder: its claims are no left ones, and
      // its files are its own. The next tick looks again.
      Log(QStringLiteral("[Execute] Another program is printing from the receipt folder; its files are left to it."));
    } else {
      DoInit();
      connected = true;
      if (TaskKind == tkReadFiles) DelTempFiles();
      RunJob();
    }
  } catch (const std::exception& e) {
    if (ErrorKind == ekNone) ErrorKind = connected ? ClassifyPrinterError() : ekPrinterFatal;
    ErrorMessage = FailureText(e);
    if (ErrorKind == ekPrinterFatal && OnPrinterOffline) Synchronize([this] { OnPrinterOffline(*this); });
    SaveErrorStatus(ErrorMessage);
    if (OnError) {
      const TTaskErrorKind kind = ErrorKind;
      Synchronize([this, kind] { OnError(*this, kind); });
    }
    LogException(QStringLiteral("[Execute] ") + ErrorMessage);
    Log(QStringLiteral("[Execute] ") + ErrorMessage);
  }
  // Before the last event: the next job may start as soon as it has run.
  folderLock.Release();
  // Freeing the reader closes the automation object's connection and releases it, inside
  // this thread's apartment.
  Reader.reset();
  if (OnTaskFinished) Synchronize([this] { OnTaskFinished(*this); });
  TaskKind = tkNone;
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
      QMetaObject::invokeMethod(app, [freeMe] { delete freeMe; }, Qt::QueuedConnection);
  }
}

void TECRFileThread::DoInit() {
  if (!Reader->FastInit(AutoSerachDevice, uConst::ToCp1251(DeviceSerialNom))) {
    ErrorKind = ClassifyPrinterError();
    throw EJobFailure(uConst::FromCp1251(Reader->LastError));
  }
  if (OnPrinterOnline) Synchronize([this] { OnPrinterOnline(*this); });
}

void TECRFileThread::RunJob() {
  switch (TaskKind) {
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

// A claim found at the start of a file job belongs to a run that ended while it printed
// that file: whether the receipt came out is unknown. It is neither printed again nor
// deleted, but kept under the name "N.unk" (a counter added while the name exists) and
// reported as a file error, so that the operator can check the printer's journal.
void TECRFileThread::DelTempFiles() {
  const QStringList claims =
      QDir(BonFolder).entryList({QStringLiteral("*.$$$")}, QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
  int count = 0;
  for (const QString& name : claims) {
    QString target;
    if (!KeepOutcomeUnknown(name, QStringLiteral("[DelTempFiles]"), QString(), target)) {
      if (errno == ENOENT) continue;
      Fail(ekFileError, QStringLiteral("Can't rename temp file. Check permissions: ") + BonFolder);
    }
    ++count;
    CurrentFile = target;
    if (OnError) Synchronize([this] { OnError(*this, ekFileError); });
  }
  if (count > 0) {
    SyncPath(BonFolder, true);
    Log(QStringLiteral("[DelTempFiles] Renamed %1 temp files. ").arg(count));
  }
}

// ---- The file job ----

bool TECRFileThread::KeepOutcomeUnknown(const QString& claimName, const QString& tag, const QString& why,
                                        QString& target) {
  const QString claim = BonFolder + claimName;
  if (!RenameToFreeName(claim, BonFolder + ChangeFileExt(claimName, QString()), QStringLiteral(".unk"), target))
    return false;
  QString line = tag + QStringLiteral(" Outcome unknown, not printed again: \"") + claim +
                 QStringLiteral("\" kept as \"") + target + QStringLiteral("\"");
  if (!why.isEmpty()) line += QStringLiteral("; ") + why;
  LogException(line);
  Log(line);
  return true;
}

// A failed receipt cannot be cancelled any more once the printer has taken a payment in it:
// the next opening pays the rest in cash and closes it, so it is printed. A payment that was
// sent counts, since its failure may only be a lost answer; one the library refused before
// sending anything does not (the reader's PaymentSent). One that was closed is printed,
// and after the printer stopped answering nobody knows what the open receipt got. A
// non-fiscal receipt cannot be cancelled at all: the next opening closes it. Such a file must
// not become an error file, which the point-of-sale program would send again. A fiscal
// receipt that was opened and sent no payment is cancelled by the next opening (not
// printed), and a failure before the opening printed nothing. A report, a cash movement or
// a copy of the last receipt that was sent may have run whatever came back (nothing of it
// can be cancelled), and sending it again would run it twice.
QString TECRFileThread::MayHavePrinted(TTaskErrorKind kind) const {
  if (!Reader) return QString();
  if (Reader->ServiceSent)
    return QStringLiteral("a report, cash movement or receipt copy had been sent to the printer");
  if (!Reader->ReceiptOpened) return QString();
  if (Reader->ReceiptClosed) return QStringLiteral("the receipt was closed before the failure");
  if (Reader->PaymentSent) return QStringLiteral("a payment had been sent to the printer in the receipt");
  if (Reader->NonFiscalOpened) return QStringLiteral("a non-fiscal receipt is closed, not cancelled, by the next opening");
  if (kind == ekPrinterFatal) return QStringLiteral("the printer stopped answering after the receipt was opened");
  return QString();
}

bool TECRFileThread::ClaimFile(const QString& name, const QString& claimPath) {
  const QString source = BonFolder + name;
  if (FileOps().RenameNoReplace(Native(source).c_str(), Native(claimPath).c_str()) != 0) {
    const int err = errno;
    if (err == ENOENT) {
      // The point-of-sale program took the file back after the listing.
      Log(QStringLiteral("[DoReadFiles] File is gone, skipped: \"") + source + QStringLiteral("\""));
      return false;
    }
    Fail(ekFileError, QStringLiteral("Can't rename file. Check permissions : ") + BonFolder);
  }
  uPRNFileThread::ForgetWatched(BonFolder, name);
  // The listing took a regular file, but the name may have been replaced since: a link
  // (which would print a file from outside the folder) or anything else goes back under
  // its own name and stays there.
  if (!IsRegularFile(claimPath)) {
    const bool back = FileOps().RenameNoReplace(Native(claimPath).c_str(), Native(source).c_str()) == 0;
    LogException(QStringLiteral("[DoReadFiles] Not a regular file (a link or another kind), left in place: \"") +
                 (back ? source : claimPath) + QStringLiteral("\""));
    return false;
  }
  // The claim must be on disk before the printer prints: after a power loss a claim that
  // is not would bring the file back, and it would print twice.
  if (!SyncPath(BonFolder, true)) {
    const int err = errno;
    FileOps().RenameNoReplace(Native(claimPath).c_str(), Native(source).c_str());
    Fail(ekFileError, QStringLiteral("Can't sync folder: ") + BonFolder + QStringLiteral(" ") + ErrnoText(err));
  }
  return true;
}

void TECRFileThread::FinishFailedFile(const QString& name, const QString& claimPath, const QString& printedWhy) {
  if (!printedWhy.isEmpty()) {
    QString target;
    if (!KeepOutcomeUnknown(ChangeFileExt(name, QStringLiteral(".$$$")), QStringLiteral("[DoReadFiles]"), printedWhy,
                            target))
      Fail(ekFileError, QStringLiteral("Can't rename temp file. Check permissions: ") + BonFolder);
    SyncPath(BonFolder, true);
    return;
  }
  const QString errPath = BonFolder + ChangeFileExt(name, QStringLiteral(".err"));
  const std::string claim = Native(claimPath);
  if (FileOps().RenameNoReplace(claim.c_str(), Native(errPath).c_str()) != 0) {
    if (errno != EEXIST)
      Fail(ekFileError, QStringLiteral("Can't current file to err file. May be permission not set: ") + BonFolder);
    // An older error file of that name is kept under its time stamp.
    const QDateTime now = Now();
    const QString stamp = now.toString(QStringLiteral("ddMMyyyyhhmm")) +
                          QStringLiteral("%1").arg(now.time().msec(), 2, 10, QLatin1Char('0'));
    QString aside;
    if (!RenameToFreeName(errPath, BonFolder + ChangeFileExt(name, QString()) + QLatin1Char('_') + stamp,
                          QStringLiteral(".err"), aside))
      Fail(ekFileError, QStringLiteral("Can't rename err file: ") + BonFolder);
    if (FileOps().RenameNoReplace(claim.c_str(), Native(errPath).c_str()) != 0)
      Fail(ekFileError, QStringLiteral("Can't current file to err file. May be permission not set: ") + BonFolder);
  }
  SyncPath(BonFolder, true);
}

void TECRFileThread::FinishPrintedFile(const QString& claimPath) {
  if (FileOps().Unlink(Native(claimPath).c_str()) != 0)
    Fail(ekFileError, QStringLiteral("Can't delete file. Check permissions : ") + claimPath);
}

void TECRFileThread::SaveRepFile(bool printed) {
  Reader->SaveRepFile();
  if (!printed || Reader->RepFileName.isEmpty() || !IsRegularFile(Reader->RepFileName)) return;
  // The answer must be on disk before the claim goes.
  if (!SyncPath(Reader->RepFileName, false) || !SyncPath(BonFolder, true))
    Log(QStringLiteral("[DoReadFiles] Can't sync report file: \"") + Reader->RepFileName + QStringLiteral("\""));
}

void TECRFileThread::DoReadFiles() {
  try {
    Log(QStringLiteral("Read bon files."));
    int count = 0;
    QStringList list;
    uPRNFileThread::SelectReadyBonFiles(BonFolder, list, Now(), LogDir);
    for (const QString& line : list) {
      ErrorKind = ekNone;
      bool failed = false;
      const QString name = uPRNFileThread::ListedName(line);
      CurrentFile = BonFolder + name;
      if (OnFileStarted) Synchronize([this] { OnFileStarted(CurrentFile); });
      const QString claimPath = BonFolder + ChangeFileExt(name, QStringLiteral(".$$$"));
      if (!ClaimFile(name, claimPath)) {
        if (Terminated()) break;
        continue;
      }
      try {
        Log(QStringLiteral("Read file: \"") + CurrentFile + QStringLiteral("\""));
        if (!Reader->ReadFile(claimPath, CharEncoding)) {
          ErrorKind = ekFileError;
          failed = true;
        } else if (!Reader->PrintPluList()) {
          ErrorKind = ClassifyPrinterError();
          failed = true;
        }
      } catch (const std::exception& e) {
        failed = true;
        Log(QStringLiteral("[DoReadFiles]") + FailureText(e));
      }

      QString repError;
      if (failed) {
        // The claim becomes the error file (or, when the receipt may have printed, the
        // unknown-outcome file) before anything else can end the job.
        const TTaskErrorKind fileKind = ErrorKind;
        FinishFailedFile(name, claimPath, MayHavePrinted(fileKind));
        ErrorKind = fileKind;
        try {
          SaveRepFile(false);
        } catch (const std::exception& e) {
          repError = FailureText(e);
        }
        if (ErrorKind == ekPrinterFatal) {
          if (!repError.isEmpty()) Log(QStringLiteral("[DoReadFiles]") + repError);
          throw EJobFailure(QStringLiteral("Fatal error ocurred. Exiting."));
        }
        if (OnError) Synchronize([this, fileKind] { OnError(*this, fileKind); });
      } else {
        // A printed file stays printed even without its report file: its claim goes.
        try {
          SaveRepFile(true);
        } catch (const std::exception& e) {
          repError = FailureText(e);
        }
        FinishPrintedFile(claimPath);
        ++count;
      }
      if (!repError.isEmpty()) Fail(ekFileError, repError);
      if (Terminated()) break;
      if (OnFileProcessed) Synchronize([this] { OnFileProcessed(*this); });
    }
    Log(QStringLiteral("Read bon files ended. Files count: %1").arg(count));
  } catch (const std::exception& e) {
    Log(QStringLiteral("[DoReadFiles]") + FailureText(e));
    throw;
  }
}

// ---- The status answer ----

// Answers the oldest waiting status query ("&S") with the failure that ended the job:
// its lines and the message go into its report file; the query file is deleted only
// once that answer is in place.
void TECRFileThread::SaveErrorStatus(const QString& message) {
  if (BonFolder.isEmpty()) return;
  try {
    QStringList list;
    uPRNFileThread::SelectReadyBonFiles(BonFolder, list, Now(), LogDir);
    for (const QString& line : list) {
      const QString name = uPRNFileThread::ListedName(line);
      const QString query = BonFolder + name;
      std::string data;
      if (!ReadWholeFile(query, data, kStatusQueryLimit)) continue;
      std::vector<std::string> lines = SplitLines(data);
      if (lines.empty() || (lines[0] != "&S" && lines[0] != "&s")) continue;

      lines.push_back(uConst::ToCp1251(message));
      std::string answer;
      for (const std::string& l : lines) answer += l + "\r\n";
      const QString rep = BonFolder + ChangeFileExt(name, QStringLiteral(".rep"));
      // Written beside the answer first, then renamed over it: an older answer is only
      // replaced by a complete one. (Not ".$$$": that name belongs to claimed receipts.)
      // The temporary name is created afresh, never written through a link; the rename
      // replaces whatever stands under the answer's name (a link itself, not its target).
      const QString temp = rep + QStringLiteral(".tmp");
      if (!WriteWholeFile(temp, answer)) {
        const int err = errno;
        FileOps().Unlink(Native(temp).c_str());
        Log(QStringLiteral("[SaveErrorStatus] Can't write status answer: \"") + temp + QStringLiteral("\" ") +
            ErrnoText(err));
        return;
      }
      if (FileOps().Rename(Native(temp).c_str(), Native(rep).c_str()) != 0) {
        const int err = errno;
        FileOps().Unlink(Native(temp).c_str());
        Log(QStringLiteral("[SaveErrorStatus] Can't rename status answer: \"") + rep + QStringLiteral("\" ") +
            ErrnoText(err));
        return;
      }
      SyncPath(BonFolder, true);
      if (IsRegularFile(rep) && FileOps().Unlink(Native(query).c_str()) != 0)
        Log(QStringLiteral("[SaveErrorStatus] Can't delete status query: \"") + query + QStringLiteral("\""));
      return;
    }
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
  if (!Reader->Initialize(AutoSerachDevice, uConst::ToCp1251(DeviceSerialNom))) {
    ErrorKind = ClassifyPrinterError();
    throw EJobFailure(uConst::FromCp1251(Reader->LastError));
  }
  PrinterInfo.Model = uConst::FromCp1251(Reader->Model);
  PrinterInfo.SerialNo = uConst::FromCp1251(Reader->SerialNo);
  PrinterInfo.FiscalNo = uConst::FromCp1251(Reader->FiscalNo);
  PrinterInfo.LineLength = Reader->LineLength;
  PrinterInfo.LastDocNo = Reader->LastDocNo;
  PrinterInfo.NextInvoiceNo = Reader->NextInvoiceNo;
  PrinterInfo.ComPort = Reader->ComPort;
  if (OnPrinterInfo) Synchronize([this] { OnPrinterInfo(PrinterInfo); });
}

void TECRFileThread::DoPrintEmptyBon() {
  ServiceJob(Reader->EmptyBON(), QStringLiteral("[DoPrintEmptyBon] OK"), QStringLiteral("Error in communication"));
}

void TECRFileThread::DoPrintTest() {
  ServiceJob(Reader->PrintTest(), QStringLiteral("Run printer test OK."), QStringLiteral("Error in communication."));
}

void TECRFileThread::DoReportByBlock() {
  ServiceJob(Reader->PrintBlockReport(FirstBlock, LastBlock, Detailed), QStringLiteral("[DoReportByBlock] OK"),
             QStringLiteral("Communcation Error"));
}

void TECRFileThread::DoReportByDates() {
  ServiceJob(Reader->RunFMDateReport(Detailed, StartDate, EndDate), QStringLiteral("[DoReportByDates] OK"),
             QStringLiteral("Communcation Error"));
}

void TECRFileThread::DoXZReport() {
  ServiceJob(Reader->PrintReport(Reset), QStringLiteral("[DoXZReport] OK"), QStringLiteral("Error in communication"));
}

void TECRFileThread::DoSumInOut() {
  ServiceJob(Reader->SumInOrOut(Amount), QStringLiteral("[DoSumInOut] OK"),
             QStringLiteral("[DoSumInOut]Error in communication"));
}

void TECRFileThread::DoCopyBon() {
  ServiceJob(Reader->CopyBON(), QStringLiteral("[DoCopyBon] OK"), QStringLiteral("[DoCopyBon]Error in communication"));
}

void TECRFileThread::DoDepartmentReportReset() {
  ServiceJob(Reader->PrintDepartmentReport(1), QStringLiteral("[DoDepartmentReportReset] OK"),
             QStringLiteral("[DoDepartmentReportReset]Error in communication"));
}

void TECRFileThread::DoDepartmentReport() {
  ServiceJob(Reader->PrintDepartmentReport(0), QStringLiteral("[DoDepartmentReport] OK"),
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
  } freeReader{Reader};

  for (int32_t number = 1; number <= uPRNFileThread::DepartmentCount; ++number) {
    ComPtr<IDepartTotals> totals;
    if (!Reader->ReadDepartmentSums(number, totals)) {
      // A department the printer answers without its VAT group (code 200: an unprogrammed
      // one answers "F") is listed as not programmed, so that the ones after it are still
      // read and can be programmed; any other failure ends the list.
      if (Reader->GetLastErrorCode() != 200) break;
      Department = TDepartmentRow{};
      Department.Nom = number;
      Department.ExitCode = QStringLiteral("F");
      if (OnDepartmentReceived) Synchronize([this] { OnDepartmentReceived(Department); });
      continue;
    }
    if (!totals) return;
    BStr name, text, exists;
    LONG taxGroup = 0;
    OleCheck(totals->get_Description(name.Out()));
    OleCheck(totals->get_AddText(text.Out()));
    OleCheck(totals->get_TaxGrpNo(&taxGroup));
    OleCheck(totals->get_Exists(exists.Out()));
    Department.DepName = BstrText(name.Get());
    Department.DepDescr = BstrText(text.Get());
    Department.Nom = number;
    Department.TaxGrpNo = taxGroup;
    Department.ExitCode = BstrText(exists.Get());
    Department.Edited = false;
    if (OnDepartmentReceived) Synchronize([this] { OnDepartmentReceived(Department); });
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
  for (const TDepartmentRow& row : Departments) {
    if (!row.Edited) continue;
    if (!Reader->SetDepartment(row.Nom, row.TaxGrpNo, uConst::ToCp1251(row.DepName), uConst::ToCp1251(row.DepDescr)))
      throw EJobFailure(QStringLiteral("[DoSetDepartments]Error in communication"));
  }
  Log(QStringLiteral("[DoSetDepartments] OK"));
  Departments.clear();
}

}  // namespace fp
