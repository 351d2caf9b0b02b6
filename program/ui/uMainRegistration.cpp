// The main window's check of the automation library: the probe of its automation object
// (the driver version) and, when that fails, the library's self-registration from the
// program folder.
#include "program/ui/uMain.h"

#include <QFileInfo>

#include <exception>
#include <stdexcept>

#include "platform/com/ComTypes.h"
#include "program/app/uConst.h"
#include "program/app/uMessageTexts.h"
#include "program/app/uProgramInfo.h"

namespace fp {

bool TfrmMain::CheckOLEServer() {
  FComServerVersion.clear();
  try {
    if (!FServices.ComServer.ProbeDriverVersion) throw std::runtime_error("no automation object");
    FComServerVersion = FServices.ComServer.ProbeDriverVersion();
  } catch (const std::exception& e) {
    AddToLog(QStringLiteral("[CheckOLEServer]") + ExceptionText(e));
    return false;
  }
  return !FComServerVersion.isEmpty();
}

bool TfrmMain::CreateOLEServer() {
  AddToLog(QStringLiteral("[CreateOLEServer]Ax not registred. Trying to register now."));
  const QString path = uProgramInfo::AppDir() + QString::fromLatin1(LibraryFileName);
  const TComServerSeam& seam = FServices.ComServer;
  void* library = nullptr;
  bool result = false;
  try {
    if (!QFileInfo(path).isFile()) throw EAbort(("AX file not found:" + path).toStdString());
    library = seam.LoadLibrary ? seam.LoadLibrary(path) : nullptr;
    if (!library) throw EAbort(("Cant't load library: " + path).toStdString());
    void* entry = seam.GetProcAddress ? seam.GetProcAddress(library, "DllRegisterServer") : nullptr;
    if (!entry) throw EAbort(("Cant't find DllRegisterServer : " + path).toStdString());
    using TRegister = HRESULT (*)();
    const HRESULT hr = reinterpret_cast<TRegister>(entry)();
    if (FAILED(hr)) throw EAbort(("Cant't  run DllRegisterServer : " + path).toStdString());
    AddToLog(QStringLiteral("[CreateOLEServer]Ax added: ") + path);
    result = CheckOLEServer();
  } catch (const std::exception& e) {
    AddToErrorLog(QStringLiteral("[CreateOLEServer]") + ExceptionText(e));
    result = false;
  }
  if (library && seam.FreeLibrary) seam.FreeLibrary(library);
  return result;
}

}  // namespace fp
