// The services of the running program behind the main window's seams: the worker thread,
// the automation library and the desktop.
#include <QDesktopServices>
#include <QFile>
#include <QSystemTrayIcon>

#include <dlfcn.h>

#include <stdexcept>

#include "program/receipts/MiravokFprnProxy.h"
#include "program/app/uConst.h"
#include "program/ui/uMain.h"
#include "program/app/uSettingsFile.h"
#include "program/app/uProgramInfo.h"

namespace fp {
namespace {

class TWorkerTaskThread : public ITaskThread {
 public:
  explicit TWorkerTaskThread(std::unique_ptr<TECRFileThread> Thread) : FThread(std::move(Thread)) {}
  // The worker's own destructor detaches its events and waits for its thread.
  ~TWorkerTaskThread() override = default;

  void Configure(const TTaskSettings& S) override {
    if (S.ComPort < 0 || S.ComPort > uSettingsFile::MaxComPort)
      throw std::runtime_error("COM port number out of range: " + std::to_string(S.ComPort));
    FThread->SetComPort(static_cast<uint8_t>(S.ComPort));
    FThread->SetBaudRate(S.BaudRate);
    FThread->SetRepFilePrint(S.RepFilePrint);
    FThread->SetRepDetailPrint(S.RepDetailPrint);
    FThread->SetLogDir(S.LogDir);
    FThread->SetCharEncoding(S.CharEncoding);
    FThread->SetDeviceSearch(S.AutoSerachDevice, S.DeviceSerialNom);
    FThread->SetReadyAge(S.ReadyAgeMs);
    FThread->SetPayTypePairs(S.PayTypePairs);
    FThread->SetCashierPas(S.CashierPas);
    FThread->SetUsePluAsDepartNo(S.UsePluAsDepartNo);
    FThread->SetBonFileExt(S.BonFileExt);
    // Every job answers a waiting status query in the receipt folder of the settings.
    if (FThread->BonFolder().isEmpty() && !S.BonFolder.isEmpty()) FThread->SetBonFolder(S.BonFolder);
  }

  void SetEvents(TTaskEvents E) override {
    auto plain = [](std::function<void()> f) {
      return [f = std::move(f)](TECRFileThread&) {
        if (f) f();
      };
    };
    FThread->OnTaskFinished = plain(std::move(E.TaskFinished));
    FThread->OnError = [f = std::move(E.Error)](TECRFileThread& t, TTaskErrorKind k) {
      if (f) f(k, t.PrinterState());
    };
    FThread->OnPrinterOffline = plain(std::move(E.PrinterOffline));
    FThread->OnPrinterOnline = plain(std::move(E.PrinterOnline));
    FThread->OnFileStarted = std::move(E.FileStarted);
    FThread->OnFileProcessed = plain(std::move(E.FileProcessed));
    FThread->OnPrinterInfo = std::move(E.PrinterInfo);
    FThread->OnDepartmentReceived = std::move(E.DepartmentReceived);
    FThread->OnDepartmentsRead = plain(std::move(E.DepartmentsRead));
    FThread->OnFileUnknown = std::move(E.FileUnknown);
    FThread->OnUnknownSettled = std::move(E.UnknownSettled);
    FThread->OnFolderNotice = std::move(E.FolderNotice);
  }

  void Resume() override { FThread->Resume(); }
  void Terminate() override { FThread->Terminate(); }
  void DetachEvents() override { FThread->DetachEvents(); }
  bool Finished() const override { return FThread->Finished(); }
  QString ErrorMessage() const override { return FThread->ErrorMessage(); }
  QString OperatorReason() const override { return FThread->OperatorReason(); }

 private:
  std::unique_ptr<TECRFileThread> FThread;
};

}  // namespace

TTaskThreadFactory WorkerTaskThreadFactory() {
  return [](const TTaskRequest& R) -> std::unique_ptr<ITaskThread> {
    return std::make_unique<TWorkerTaskThread>(TECRFileThread::Create(R));
  };
}

TComServerSeam SystemComServerSeam() {
  TComServerSeam s;
  s.ProbeDriverVersion = [] {
    TMiravokFprnProxy proxy;
    const std::string version = proxy.GetDriverVersion();
    proxy.Release();
    return uConst::FromCp1251(version);
  };
  s.LoadLibrary = [](const QString& Path) -> void* {
    return ::dlopen(QFile::encodeName(Path).constData(), RTLD_NOW | RTLD_LOCAL);
  };
  s.GetProcAddress = [](void* Library, const char* Name) -> void* { return ::dlsym(Library, Name); };
  s.FreeLibrary = [](void* Library) { ::dlclose(Library); };
  return s;
}

TMainServices DefaultMainServices(const QStringList& Arguments) {
  TMainServices s;
  s.ProgramFile = uProgramInfo::ProgramFilePath();
  s.Arguments = Arguments;
  s.Now = [] { return QDateTime::currentDateTime(); };
  s.CreateTask = WorkerTaskThreadFactory();
  s.ComServer = SystemComServerSeam();
  s.Windows = CreateOperatorWindows();
  s.TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
  s.OpenUrl = [](const QUrl& Url) { return QDesktopServices::openUrl(Url); };
  s.Terminate = [](int Code) { QCoreApplication::exit(Code); };
  s.Quit = [] { QCoreApplication::quit(); };
  return s;
}

}  // namespace fp
