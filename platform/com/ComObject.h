#pragma once
// Building blocks of a component library (header-only, so every library has its own copy):
//
//  - TComModule: the counts behind DllCanUnloadNow (live objects, server locks, factory
//    references handed out); one per library.
//  - TComObject<Derived, Itf...>: reference counting, QueryInterface over the listed
//    interfaces and their bases, aggregation, and the per-object setup hook Initialize.
//  - ComCreateObject<T>: the creation rules of a class factory for T.
//  - TComClassFactory: a class factory bound to a CLSID and a creation function.
//  - ComGetClassObject: DllGetClassObject over a list of factories.
//  - FP_COM_EXPORT: the linkage of the four entry points.
//
// A library built with hidden symbols exports its entry points like this:
//
//   namespace { fp::TComModule Module;
//               fp::TComClassFactory Factory(Module, CLSID_Thing,
//                                            &fp::ComCreateObject<TThing>); }
//   FP_COM_EXPORT fp::HRESULT DllGetClassObject(fp::REFCLSID c, fp::REFIID i, void** p) {
//     fp::TComClassFactory* all[] = {&Factory};
//     return fp::ComGetClassObject(all, c, i, p);
//   }
//   FP_COM_EXPORT fp::HRESULT DllCanUnloadNow() { return Module.CanUnloadNow(); }
//   FP_COM_EXPORT fp::HRESULT DllRegisterServer() { ... }
//   FP_COM_EXPORT fp::HRESULT DllUnregisterServer() { ... }
#include <atomic>
#include <span>
#include <type_traits>

#include "platform/com/ComTypes.h"
#include "platform/com/OleAuto.h"

#define FP_COM_EXPORT extern "C" __attribute__((visibility("default")))

namespace fp {

class TComModule {
 public:
  void ObjectCreated() noexcept { ++FObjects; }
  void ObjectDestroyed() noexcept { --FObjects; }
  void Lock() noexcept { ++FLocks; }
  void Unlock() noexcept {
    long n = FLocks.load();
    while (n > 0 && !FLocks.compare_exchange_weak(n, n - 1)) {
    }
  }
  void FactoryAddRef() noexcept { ++FActoryRefs; }
  void FactoryRelease() noexcept { --FActoryRefs; }

  long ObjectCount() const noexcept { return FObjects; }
  long LockCount() const noexcept { return FLocks; }
  long FactoryRefCount() const noexcept { return FActoryRefs; }
  // DllCanUnloadNow: S_OK when nothing of the library is in use, else S_FALSE.
  HRESULT CanUnloadNow() const noexcept { return FObjects == 0 && FLocks == 0 && FActoryRefs == 0 ? S_OK : S_FALSE; }

 private:
  std::atomic<long> FObjects{0};
  std::atomic<long> FLocks{0};
  std::atomic<long> FActoryRefs{0};
};

namespace com_detail {
// Whether iid names I or one of the interfaces I extends.
template <class I>
bool InChain(REFIID iid) {
  if (iid == I::Iid) return true;
  if constexpr (!std::is_void_v<typename I::Base>)
    return InChain<typename I::Base>(iid);
  else
    return false;
}
}  // namespace com_detail

// The implementation of IUnknown for a class with the interfaces Primary, Others... (each
// an interface or a TDispatchImpl<interface>). QueryInterface answers every listed
// interface and every interface it extends; IUnknown and IDispatch come from Primary.
// Made with an outer object (aggregation), the interfaces delegate to the outer object
// and Inner() is the object's own IUnknown.
template <class Derived, class Primary, class... Others>
class TComObject : public Primary, public Others... {
 public:
  explicit TComObject(TComModule& module, IUnknown* outer = nullptr) : FModule(module), FOuter(outer) {
    FInner.Owner = this;
    FModule.ObjectCreated();
  }
  TComObject(const TComObject&) = delete;
  TComObject& operator=(const TComObject&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return FOuter ? FOuter->QueryInterface(riid, ppv) : InnerQueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return FOuter ? FOuter->AddRef() : InnerAddRef(); }
  ULONG Release() override { return FOuter ? FOuter->Release() : InnerRelease(); }

  // The object's own IUnknown: for aggregation, the one its outer object holds.
  IUnknown* Inner() { return FOuter ? static_cast<IUnknown*>(&FInner) : PrimaryUnknown(); }
  TComModule& Module() const { return FModule; }

  // Runs once after creation, before any interface is handed out.
  virtual void Initialize() {}

 protected:
  virtual ~TComObject() { FModule.ObjectDestroyed(); }

 private:
  struct TInnerUnknown final : IUnknown {
    TComObject* Owner = nullptr;
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return Owner->InnerQueryInterface(riid, ppv); }
    ULONG AddRef() override { return Owner->InnerAddRef(); }
    ULONG Release() override { return Owner->InnerRelease(); }
  };

  IUnknown* PrimaryUnknown() { return static_cast<Primary*>(this); }

  template <class B>
  bool Find(REFIID riid, void*& found) {
    if (!com_detail::InChain<B>(riid)) return false;
    found = static_cast<B*>(this);
    return true;
  }

  HRESULT InnerQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
      IUnknown* u = Inner();
      u->AddRef();
      *ppv = u;
      return S_OK;
    }
    void* found = nullptr;
    if (!(Find<Primary>(riid, found) || (Find<Others>(riid, found) || ...))) return E_NOINTERFACE;
    AddRef();  // through the outer object when aggregated
    *ppv = found;
    return S_OK;
  }
  ULONG InnerAddRef() { return ++FRefs; }
  ULONG InnerRelease() {
    ULONG n = --FRefs;
    if (n == 0) delete this;
    return n;
  }

  TComModule& FModule;
  IUnknown* FOuter;
  TInnerUnknown FInner;
  std::atomic<ULONG> FRefs{0};
};

// Creates a T (constructor T(TComModule&, IUnknown* outer)) as a class factory does:
// a null ppv gives E_POINTER, otherwise *ppv is null first; an outer object is accepted
// only with IID_IUnknown (else CLASS_E_NOAGGREGATION); the object's Initialize runs; the
// interface riid is handed out, or E_NOINTERFACE and the object is destroyed again. An
// exception is left to the caller (TComClassFactory turns it into E_UNEXPECTED).
template <class T>
HRESULT ComCreateObject(TComModule& module, IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  T* object = new T(module, outer);
  IUnknown* inner = object->Inner();
  inner->AddRef();
  try {
    object->Initialize();
  } catch (...) {
    inner->Release();
    throw;
  }
  HRESULT hr = inner->QueryInterface(riid, ppv);
  inner->Release();
  return hr;
}

// A class factory that lives as long as its library: its references count in the
// module (for DllCanUnloadNow) and never destroy it.
class TComClassFactory final : public IClassFactory {
 public:
  using TCreate = HRESULT (*)(TComModule& module, IUnknown* outer, REFIID riid, void** ppv);

  TComClassFactory(TComModule& module, const CLSID& clsid, TCreate create)
      : FModule(module), FClsid(clsid), FCreate(create) {}
  TComClassFactory(const TComClassFactory&) = delete;
  TComClassFactory& operator=(const TComClassFactory&) = delete;
  ~TComClassFactory() = default;

  const CLSID& Clsid() const { return FClsid; }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG AddRef() override {
    FModule.FactoryAddRef();
    return 2;
  }
  ULONG Release() override {
    FModule.FactoryRelease();
    return 1;
  }
  HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    *ppvObject = nullptr;
    try {
      return FCreate(FModule, pUnkOuter, riid, ppvObject);
    } catch (...) {
      return ComHandleException(IID_IClassFactory, u"");
    }
  }
  HRESULT LockServer(BOOL fLock) override {
    if (fLock)
      FModule.Lock();
    else
      FModule.Unlock();
    return S_OK;
  }

 private:
  TComModule& FModule;
  CLSID FClsid;
  TCreate FCreate;
};

// DllGetClassObject over the library's factories: the factory of rclsid for riid (S_OK,
// or E_NOINTERFACE); CLASS_E_CLASSNOTAVAILABLE with *ppv null for any other CLSID.
inline HRESULT ComGetClassObject(std::span<TComClassFactory* const> factories, REFCLSID rclsid, REFIID riid,
                                 void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (TComClassFactory* f : factories)
    if (f && f->Clsid() == rclsid) return f->QueryInterface(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace fp
