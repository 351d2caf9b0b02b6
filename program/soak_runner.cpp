// A headless file printer: runs the receipt-folder job in a loop, the way the main
// window's file timer runs it, without a window. Every tick lists the ready receipt
// files of the folder; when there are any, one file job (tkReadFiles) prints them through
// the automation object, created by class identifier through the component runtime as
// the program creates it. The program ends once the folder has held no receipt file for
// the idle time, or when it is killed. The soak test of the receipt folder drives it.
//
//   soak_runner --folder DIR --log DIR [--com 7] [--baud 115200] [--ext bon]
//               [--tick-ms 1000] [--idle-exit-ms 0] [--no-rep]
//
// One line per event goes to standard output ("job", "error <kind> <file>", "end ...").
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

#include "program/app/uConst.h"
#include "program/tasks/uPRNFileThread.h"
#include "platform/com/ComRuntime.h"

namespace {

using namespace fp;

struct TOptions {
  QString Folder;
  QString LogDir;
  int Com = 7;
  int Baud = 115200;
  QString Ext = QStringLiteral("bon");
  int TickMs = 1000;
  int IdleExitMs = 0;
  bool RepFiles = true;
};

[[noreturn]] void Usage(const char* why) {
  std::fprintf(stderr, "soak_runner: %s\n", why);
  std::fprintf(stderr,
               "usage: soak_runner --folder DIR --log DIR [--com N] [--baud N] [--ext EXT] [--tick-ms N]\n"
               "                   [--idle-exit-ms N] [--no-rep]\n");
  std::exit(2);
}

TOptions ParseOptions(const QStringList& args) {
  TOptions o;
  auto value = [&](int& i) {
    if (i + 1 >= args.size()) Usage("an option lacks its value");
    return args[++i];
  };
  auto number = [&](int& i) {
    bool ok = false;
    const int n = value(i).toInt(&ok);
    if (!ok) Usage("an option needs a number");
    return n;
  };
  for (int i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QLatin1String("--folder"))
      o.Folder = value(i);
    else if (a == QLatin1String("--log"))
      o.LogDir = value(i);
    else if (a == QLatin1String("--com"))
      o.Com = number(i);
    else if (a == QLatin1String("--baud"))
      o.Baud = number(i);
    else if (a == QLatin1String("--ext"))
      o.Ext = value(i);
    else if (a == QLatin1String("--tick-ms"))
      o.TickMs = number(i);
    else if (a == QLatin1String("--idle-exit-ms"))
      o.IdleExitMs = number(i);
    else if (a == QLatin1String("--no-rep"))
      o.RepFiles = false;
    else
      Usage("unknown option");
  }
  if (o.Folder.isEmpty() || o.LogDir.isEmpty()) Usage("--folder and --log are required");
  if (o.Com < 1 || o.Com > 255) Usage("--com must be 1..255");
  if (!o.Folder.endsWith(QLatin1Char('/'))) o.Folder += QLatin1Char('/');
  if (!o.LogDir.endsWith(QLatin1Char('/'))) o.LogDir += QLatin1Char('/');
  return o;
}

void Say(const QString& line) {
  std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
  std::fflush(stdout);
}

class TRunner {
 public:
  explicit TRunner(TOptions options) : FO(std::move(options)) {
    FTimer.setInterval(FO.TickMs);
    QObject::connect(&FTimer, &QTimer::timeout, [this] { Tick(); });
    FSettle.setSingleShot(true);
    FSettle.setTimerType(Qt::PreciseTimer);
    QObject::connect(&FSettle, &QTimer::timeout, [this] { Tick(); });
    FIdle.start();
  }
  void Start() {
    FTimer.start();
    QTimer::singleShot(0, [this] { Tick(); });
  }

 private:
  void Tick() {
    try {
      if (FJob) {
        if (!FJob->Finished()) return;
        FJob.reset();  // joins the ended thread
        FIdle.restart();
      }
      const TReadyFiles ready = FWatch->Ready(FO.Folder, FO.Ext, FO.LogDir);
      if (!ready.Files.empty()) {
        StartJob(static_cast<qsizetype>(ready.Files.size()));
        return;
      }
      // As the window does: one more tick when the first waiting file will have settled.
      if (ready.WaitMs >= 0) FSettle.start(static_cast<int>(ready.WaitMs));
      // Files still settling count as waiting: only a folder without any receipt file
      // lets the runner end.
      if (!TFolderWatch::ListWaiting(FO.Folder, FO.Ext).empty())
        FIdle.restart();
      else if (FIdle.elapsed() >= FO.IdleExitMs) {
        Say(QStringLiteral("end files %1 errors %2 jobs %3").arg(FIles).arg(FErrors).arg(FJobs));
        FTimer.stop();
        QCoreApplication::exit(0);
      }
    } catch (const std::exception& e) {
      Say(QStringLiteral("tick failed: ") + QString::fromLocal8Bit(e.what()));
    }
  }

  void StartJob(qsizetype ready) {
    FJob = TECRFileThread::Create({.Kind = tkReadFiles, .BonFolder = FO.Folder, .Watch = FWatch, .Care = FCare});
    FJob->SetComPort(static_cast<uint8_t>(FO.Com));
    FJob->SetBaudRate(FO.Baud);
    FJob->SetRepFilePrint(FO.RepFiles);
    FJob->SetRepDetailPrint(true);
    FJob->SetLogDir(FO.LogDir);
    FJob->SetBonFileExt(FO.Ext);
    FJob->OnFileProcessed = [this](TECRFileThread&) { ++FIles; };
    FJob->OnError = [this](TECRFileThread& t, TTaskErrorKind kind) {
      ++FErrors;
      Say(QStringLiteral("error %1 %2").arg(int(kind)).arg(QFileInfo(t.CurrentFile()).fileName()));
    };
    FJob->OnTaskFinished = [this](TECRFileThread& t) {
      if (!t.ErrorMessage().isEmpty()) Say(QStringLiteral("job failed: ") + t.ErrorMessage());
      // The thread body ends just after this event: look again shortly rather than at
      // the next tick.
      QTimer::singleShot(20, [this] { Tick(); });
    };
    ++FJobs;
    Say(QStringLiteral("job %1 ready %2").arg(FJobs).arg(ready));
    FJob->Resume();
  }

  TOptions FO;
  QTimer FTimer;
  QTimer FSettle;
  QElapsedTimer FIdle;
  std::unique_ptr<TECRFileThread> FJob;
  std::shared_ptr<TFolderWatch> FWatch = std::make_shared<TFolderWatch>();
  std::shared_ptr<TFolderCare> FCare = std::make_shared<TFolderCare>();
  int FIles = 0, FErrors = 0, FJobs = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const TOptions options = ParseOptions(app.arguments());
  CoInitialize(nullptr);
  int rc = 0;
  {
    TRunner runner(options);
    runner.Start();
    rc = app.exec();
  }
  CoFreeUnusedLibraries();
  CoUninitialize();
  return rc;
}
