// The entry points of the library file MiravokFPAxX4_BG.so, its only exported symbols.
// Everything behind them lives in the driver's core (library/automation/ComServer.h).
#include "library/automation/ComServer.h"
#include "library/automation/ConstUnit.h"

FP_COM_EXPORT fp::HRESULT DllGetClassObject(fp::REFCLSID rclsid, fp::REFIID riid, void** ppv) {
  return fp::ServerGetClassObject(rclsid, riid, ppv);
}

FP_COM_EXPORT fp::HRESULT DllCanUnloadNow() { return fp::ServerCanUnloadNow(); }

// The library registers the file it was loaded from, as the loader reports it.
FP_COM_EXPORT fp::HRESULT DllRegisterServer() { return fp::RegisterServer(fp::LibraryModuleFileName()); }

FP_COM_EXPORT fp::HRESULT DllUnregisterServer() { return fp::UnregisterServer(); }
