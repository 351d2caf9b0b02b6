// The component library fp_comtestserver.so: serves TTestCalc for the runtime's tests.
// Built with hidden symbols; it exports the four entry points of a component library.
#include "platform/com/ComObject.h"
#include "platform/com/testserver/TestCalc.h"

namespace {
fp::TComModule Module;
fp::TComClassFactory CalcFactory(Module, fp::test::CLSID_TestCalc, &fp::ComCreateObject<fp::test::TTestCalc>);
}  // namespace

FP_COM_EXPORT fp::HRESULT DllGetClassObject(fp::REFCLSID rclsid, fp::REFIID riid, void** ppv) {
  fp::TComClassFactory* factories[] = {&CalcFactory};
  return fp::ComGetClassObject(factories, rclsid, riid, ppv);
}

FP_COM_EXPORT fp::HRESULT DllCanUnloadNow() { return Module.CanUnloadNow(); }

// The tests write the registry entries themselves.
FP_COM_EXPORT fp::HRESULT DllRegisterServer() { return fp::E_NOTIMPL; }
FP_COM_EXPORT fp::HRESULT DllUnregisterServer() { return fp::E_NOTIMPL; }
