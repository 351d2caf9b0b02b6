// The library's server object, its class factories and self-registration.
#include "library/automation/ComServer.h"

#include <array>
#include <filesystem>
#include <string_view>

#include "library/automation/MiravokFPAxX4_BG_TLB.h"
#include "library/automation/MiravokFprnUnit.h"
#include "library/automation/ResultObjects.h"
#include "platform/Registry.h"

namespace fp {

namespace {

// Made when the library is loaded, in this order: the server object, then one factory per
// coclass, the result coclasses first.
TComModule gModule;
TComClassFactory gBonDataFactory(gModule, CLSID_BonData, &ComCreateObject<TBonData>);
TComClassFactory gXReportDataFactory(gModule, CLSID_XReportData, &ComCreateObject<TXReportData>);
TComClassFactory gAdvLinesFactory(gModule, CLSID_AdvLines, &ComCreateObject<TAdvLines>);
TComClassFactory gDepartTotalsFactory(gModule, CLSID_DepartTotals, &ComCreateObject<TDepartTotals>);
TComClassFactory gMiravokFprnFactory(gModule, CLSID_MiravokFprn, &ComCreateObject<TMiravokFprn>);

TComClassFactory* const gFactories[] = {&gBonDataFactory, &gXReportDataFactory, &gAdvLinesFactory,
                                        &gDepartTotalsFactory, &gMiravokFprnFactory};

// What the type library says of a factory's coclass.
const TCoClassInfo& CoClassOf(const TComClassFactory& Factory) {
  for (const TCoClassInfo& c : MiravokFPAxX4_BG_CoClasses)
    if (c.Clsid == Factory.Clsid()) return c;
  throw EAbort("Unknown class");
}

std::string VersionText() {
  return std::to_string(MiravokFPAxX4_BG_MajorVersion) + "." + std::to_string(MiravokFPAxX4_BG_MinorVersion);
}

std::string TypeLibKey() { return "TypeLib\\" + GuidToString(LIBID_MiravokFPAxX4_BG) + "\\" + VersionText(); }

std::string ClsidKey(const TCoClassInfo& C) { return "CLSID\\" + GuidToString(C.Clsid); }

std::string InterfaceKey(const TCoClassInfo& C) { return "Interface\\" + GuidToString(C.Iid); }

// Writes one value, creating its key when missing; a failure stops the registration.
void WriteEntry(const std::string& Key, std::string_view Name, std::string_view Data) {
  auto k = TRegistry::CreateKey(HKEY_CLASSES_ROOT, Key);
  if (!k || !TRegistry::SetValue(*k, Name, Data)) throw EAbort(RegistryErrorText);
}

// Deletes one key; a key that is missing or still has sub-keys is passed over.
void RemoveKey(const std::string& Key) { TRegistry::DeleteKey(HKEY_CLASSES_ROOT, Key); }

void RegisterTypeLib(const std::string& Path, const std::string& HelpDir) {
  const std::string lib = TypeLibKey();
  WriteEntry(lib, "", MiravokFPAxX4_BG_HelpString);
  WriteEntry(lib + "\\0\\linux64", "", Path);
  WriteEntry(lib + "\\HELPDIR", "", HelpDir);
  for (const TCoClassInfo& c : MiravokFPAxX4_BG_CoClasses) {
    WriteEntry(InterfaceKey(c), "", c.InterfaceName);
    WriteEntry(InterfaceKey(c) + "\\TypeLib", "", GuidToString(LIBID_MiravokFPAxX4_BG));
    WriteEntry(InterfaceKey(c) + "\\TypeLib", "Version", VersionText());
  }
}

void UnregisterTypeLib() {
  const std::string lib = TypeLibKey();
  RemoveKey(lib + "\\0\\linux64");
  RemoveKey(lib + "\\0");
  RemoveKey(lib + "\\HELPDIR");
  RemoveKey(lib);
  RemoveKey("TypeLib\\" + GuidToString(LIBID_MiravokFPAxX4_BG));
  for (const TCoClassInfo& c : MiravokFPAxX4_BG_CoClasses) {
    RemoveKey(InterfaceKey(c) + "\\TypeLib");
    RemoveKey(InterfaceKey(c));
  }
}

void RegisterClass(const TCoClassInfo& C, const std::string& Path) {
  const std::string key = ClsidKey(C);
  WriteEntry(key, "", C.Description);
  WriteEntry(key + "\\InprocServer32", "", Path);
  WriteEntry(key + "\\InprocServer32", "ThreadingModel", C.ThreadingModel);
  WriteEntry(C.ProgID, "", C.Description);
  WriteEntry(std::string(C.ProgID) + "\\Clsid", "", GuidToString(C.Clsid));
  WriteEntry(key + "\\ProgID", "", C.ProgID);
  WriteEntry(key + "\\Version", "", VersionText());
  WriteEntry(key + "\\TypeLib", "", GuidToString(LIBID_MiravokFPAxX4_BG));
}

void UnregisterClass(const TCoClassInfo& C) {
  const std::string key = ClsidKey(C);
  RemoveKey(key + "\\TypeLib");
  RemoveKey(key + "\\Version");
  RemoveKey(key + "\\ProgID");
  RemoveKey(std::string(C.ProgID) + "\\Clsid");
  RemoveKey(C.ProgID);
  RemoveKey(key + "\\InprocServer32");
  RemoveKey(key);
}

}  // namespace

TComModule& ComServerModule() { return gModule; }

std::span<TComClassFactory* const> ComClassFactories() { return gFactories; }

TComClassFactory& BonDataFactory() { return gBonDataFactory; }
TComClassFactory& XReportDataFactory() { return gXReportDataFactory; }
TComClassFactory& AdvLinesFactory() { return gAdvLinesFactory; }
TComClassFactory& DepartTotalsFactory() { return gDepartTotalsFactory; }

HRESULT ServerGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  return ComGetClassObject(gFactories, rclsid, riid, ppv);
}

HRESULT ServerCanUnloadNow() { return gModule.CanUnloadNow(); }

HRESULT RegisterServer(const std::string& LibraryPath) {
  try {
    std::filesystem::path file(LibraryPath);
    if (file.is_relative()) file = std::filesystem::absolute(file);
    const std::string path = file.lexically_normal().string();
    RegisterTypeLib(path, file.parent_path().lexically_normal().string());
    // The framework walks its factories newest first.
    for (auto it = std::rbegin(gFactories); it != std::rend(gFactories); ++it) RegisterClass(CoClassOf(**it), path);
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT UnregisterServer() {
  try {
    UnregisterTypeLib();
    for (auto it = std::rbegin(gFactories); it != std::rend(gFactories); ++it) UnregisterClass(CoClassOf(**it));
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace fp
