#include "platform/com/ComRuntime.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Cp1251.h"
#include "platform/Registry.h"
#include "platform/com/ComPtr.h"
#include "platform/com/OleAuto.h"

namespace fp {

namespace {

// ---------------------------------------------------------------------------------------
// Per-thread initialisation

struct TThreadState {
  int InitCount = 0;
  DWORD Model = COINIT_APARTMENTTHREADED;
};
thread_local TThreadState tThread;

// ---------------------------------------------------------------------------------------
// Loaded libraries, shared by all threads

struct TLoadedLibrary {
  void* Handle = nullptr;
  TDllGetClassObject GetClassObject = nullptr;
  TDllCanUnloadNow CanUnloadNow = nullptr;
};

// Held while a library is loaded and asked for a factory, so that CoFreeUnusedLibraries in
// another thread cannot unload it in between (the factory reference handed out then keeps
// its DllCanUnloadNow at S_FALSE). Recursive, should a library's entry call back in.
std::recursive_mutex& LibrariesLock() {
  static std::recursive_mutex m;
  return m;
}
std::map<std::string, TLoadedLibrary>& Libraries() {
  static std::map<std::string, TLoadedLibrary> libs;
  return libs;
}

std::optional<std::string> DefaultValue(std::string_view keyPath) {
  auto key = TRegistry::OpenKey(HKEY_CLASSES_ROOT, keyPath);
  if (!key) return std::nullopt;
  return TRegistry::QueryValue(*key, "");
}

std::u16string Utf8Text(const char* s) { return Utf8ToWide(s ? s : ""); }

// The library at path, loading it on first use. The caller holds LibrariesLock().
HRESULT LoadServer(const std::string& path, TLoadedLibrary& out) {
  auto& libs = Libraries();
  if (auto it = libs.find(path); it != libs.end()) {
    out = it->second;
    return S_OK;
  }
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    ComSetErrorInfo(GUID_NULL, u"", Utf8Text(dlerror()));
    return CO_E_DLLNOTFOUND;
  }
  TLoadedLibrary lib;
  lib.Handle = handle;
  lib.GetClassObject = reinterpret_cast<TDllGetClassObject>(dlsym(handle, "DllGetClassObject"));
  lib.CanUnloadNow = reinterpret_cast<TDllCanUnloadNow>(dlsym(handle, "DllCanUnloadNow"));
  if (!lib.GetClassObject) {
    dlclose(handle);
    ComSetErrorInfo(GUID_NULL, u"", Utf8ToWide("DllGetClassObject is missing in " + path));
    return CO_E_ERRORINDLL;
  }
  libs.emplace(path, lib);
  out = lib;
  return S_OK;
}

}  // namespace

HRESULT CoInitializeEx(void*, DWORD dwCoInit) {
  DWORD model = (dwCoInit & COINIT_APARTMENTTHREADED) ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED;
  if (tThread.InitCount > 0) {
    if (model != tThread.Model) return RPC_E_CHANGED_MODE;
    ++tThread.InitCount;
    return S_FALSE;
  }
  tThread.Model = model;
  tThread.InitCount = 1;
  return S_OK;
}

HRESULT CoInitialize(void* pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  if (tThread.InitCount == 0) return;
  if (--tThread.InitCount == 0) SetErrorInfo(0, nullptr);
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void*, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (tThread.InitCount == 0) return CO_E_NOTINITIALIZED;
  if (!(dwClsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  std::optional<std::string> path;
  try {
    path = DefaultValue("CLSID\\" + GuidToString(rclsid) + "\\InprocServer32");
  } catch (...) {
    return ComHandleException(GUID_NULL, u"");
  }
  if (!path || path->empty()) return REGDB_E_CLASSNOTREG;
  std::lock_guard<std::recursive_mutex> lock(LibrariesLock());
  TLoadedLibrary lib;
  HRESULT hr = LoadServer(*path, lib);
  if (FAILED(hr)) return hr;
  return lib.GetClassObject(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  ComPtr<IClassFactory> factory;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, factory.AsOut());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(pUnkOuter, riid, ppv);
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
  if (!pclsid) return E_POINTER;
  if (!lpsz) return CO_E_CLASSSTRING;
  auto g = GuidFromString(std::u16string_view(lpsz));
  if (!g) return CO_E_CLASSSTRING;
  *pclsid = *g;
  return S_OK;
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid) {
  if (!lpclsid) return E_POINTER;
  if (!lpszProgID || !*lpszProgID) return E_INVALIDARG;
  std::optional<std::string> text;
  try {
    std::string progId = WideToUtf8(lpszProgID);
    if (progId.find('\\') != std::string::npos) return CO_E_CLASSSTRING;
    text = DefaultValue(progId + "\\CLSID");
  } catch (...) {
    return ComHandleException(GUID_NULL, u"");
  }
  if (!text) return CO_E_CLASSSTRING;
  auto g = GuidFromString(*text);
  if (!g) return CO_E_CLASSSTRING;
  *lpclsid = *g;
  return S_OK;
}

void CoFreeUnusedLibraries() {
  std::lock_guard<std::recursive_mutex> lock(LibrariesLock());
  auto& libs = Libraries();
  for (auto it = libs.begin(); it != libs.end();) {
    if (it->second.CanUnloadNow && it->second.CanUnloadNow() == S_OK) {
      dlclose(it->second.Handle);
      it = libs.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace fp
