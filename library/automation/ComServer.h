#pragma once
// The library's server object: the counts behind DllCanUnloadNow, the five class
// factories made when the library is loaded (BonData, XReportData, AdvLines, DepartTotals,
// then MiravokFprn), the four references to the result factories through which the
// automation object makes its result objects, and self-registration into the registry
// (platform/Registry.h, HKEY_CLASSES_ROOT).
//
// Registration writes, for each coclass (newest factory first: MiravokFprn, DepartTotals,
// AdvLines, XReportData, BonData):
//   CLSID\{clsid}                  (default) = description
//   CLSID\{clsid}\InprocServer32   (default) = library path, ThreadingModel = Apartment
//   <ProgID>                       (default) = description
//   <ProgID>\Clsid                 (default) = {clsid}
//   CLSID\{clsid}\ProgID           (default) = ProgID
//   CLSID\{clsid}\Version          (default) = 2.0
//   CLSID\{clsid}\TypeLib          (default) = {libid}
// and the type library:
//   TypeLib\{libid}\2.0            (default) = "MiravokFPAxX4 Library"
//   TypeLib\{libid}\2.0\0\linux64  (default) = library path
//   TypeLib\{libid}\2.0\HELPDIR    (default) = the library's folder
//   Interface\{iid}                (default) = interface name, for each of the five
//   Interface\{iid}\TypeLib        (default) = {libid}, Version = 2.0
#include <span>
#include <string>

#include "library/protocol/BaseDeviceUnit.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"

namespace fp {

// The library's counts of live objects, server locks and factory references.
TComModule& ComServerModule();

// The five factories in the order they were made (BonData, XReportData, AdvLines,
// DepartTotals, MiravokFprn).
std::span<TComClassFactory* const> ComClassFactories();

// The process-wide references to the factories of the result coclasses.
TComClassFactory& BonDataFactory();
TComClassFactory& XReportDataFactory();
TComClassFactory& AdvLinesFactory();
TComClassFactory& DepartTotalsFactory();

// DllGetClassObject and DllCanUnloadNow over the library's factories and counts.
HRESULT ServerGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
HRESULT ServerCanUnloadNow();

// A new result object from its factory (no outer object), as interface I. Raises EAbort
// when the factory fails.
template <class I>
ComPtr<I> CreateResultObject(TComClassFactory& Factory) {
  ComPtr<I> object;
  const HRESULT hr = Factory.CreateInstance(nullptr, I::Iid, object.AsOut());
  if (FAILED(hr) || !object) throw EAbort("Cannot create the result object");
  return object;
}

// The text of the failure of a registration step.
inline constexpr const char* RegistryErrorText = "Error creating system registry entry";

// DllRegisterServer for the library file LibraryPath (made absolute when relative):
// writes the type library and coclass entries. S_OK, or E_FAIL at the first key or value
// that cannot be written (the entries written before it stay).
HRESULT RegisterServer(const std::string& LibraryPath);
// DllUnregisterServer: deletes everything RegisterServer writes, passing over keys that
// are missing or cannot be deleted. S_OK also when nothing was registered.
HRESULT UnregisterServer();

}  // namespace fp
