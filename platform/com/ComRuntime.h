#pragma once
// The component runtime (fp_comrt): per-thread initialisation, creating objects by class
// identifier from the component libraries registered under HKEY_CLASSES_ROOT of the
// registry (platform/Registry.h), and unloading libraries that are no longer used.
//
// Registry entries read:
//   HKCR\CLSID\{CLSID}\InprocServer32   (default) = the path of the library file
//   HKCR\<ProgID>\CLSID                 (default) = the CLSID text
// A library is loaded once per process (dlopen of that path) and asked for its class
// factory through its exported DllGetClassObject. It stays loaded until
// CoFreeUnusedLibraries finds that its DllCanUnloadNow answers S_OK.
#include "platform/com/ComTypes.h"

namespace fp {

// Initialises the runtime for the calling thread: S_OK the first time, S_FALSE when the
// thread was already initialised (each call counts and needs its CoUninitialize), and
// RPC_E_CHANGED_MODE (not counted) when asked for the other threading model.
FP_COMRT_API HRESULT CoInitialize(void* pvReserved);
FP_COMRT_API HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit);
// Undoes one successful initialisation of the calling thread. The last one also drops the
// thread's error information. Loaded libraries stay loaded.
FP_COMRT_API void CoUninitialize();

// The class factory (or another interface riid of it) for rclsid. CO_E_NOTINITIALIZED
// when the thread is not initialised; REGDB_E_CLASSNOTREG when no in-process server is
// registered for the class (or dwClsContext does not allow one); CO_E_DLLNOTFOUND when the
// library file does not load; CO_E_ERRORINDLL when it lacks DllGetClassObject; otherwise
// what DllGetClassObject answers.
FP_COMRT_API HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved, REFIID riid, void** ppv);
// A new object of class rclsid: CoGetClassObject, then IClassFactory::CreateInstance.
FP_COMRT_API HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                                      void** ppv);

// The CLSID registered for a ProgID; CO_E_CLASSSTRING when the ProgID is not registered
// or its CLSID text is malformed.
FP_COMRT_API HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid);
// The CLSID of braced text; CO_E_CLASSSTRING for malformed text.
FP_COMRT_API HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);

// Asks every loaded library's DllCanUnloadNow and unloads those that answer S_OK.
FP_COMRT_API void CoFreeUnusedLibraries();

}  // namespace fp
