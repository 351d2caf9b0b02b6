// The automation library as a client sees it: registered into a registry of its own,
// loaded by the component runtime and driven through its interfaces' tables and through
// IDispatch by name.
#include <atomic>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "library/automation/MiravokFPAxX4_BG_TLB.h"
#include "tests/support/LibraryTestSupport.h"
#include "tests/support/RegistryTestSupport.h"
#include "platform/Cp1251.h"
#include "tests/support/PortTestSupport.h"
#include "platform/Registry.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/Dispatch.h"

namespace fp::test {
namespace {

const std::string kNotInit = "Device is not initiqlized. Call \"init\" first!";

std::u16string Wide(const char* s) { return Utf8ToWide(s); }

class AutomationLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FLibrary.Load());
    FGetClassObject = FLibrary.Entry<TDllGetClassObject>("DllGetClassObject");
    FCanUnloadNow = FLibrary.Entry<TDllCanUnloadNow>("DllCanUnloadNow");
    FRegisterServer = FLibrary.Entry<TDllRegisterServer>("DllRegisterServer");
    FUnregisterServer = FLibrary.Entry<TDllUnregisterServer>("DllUnregisterServer");
    ASSERT_TRUE(FGetClassObject && FCanUnloadNow && FRegisterServer && FUnregisterServer);
    FKeysBefore = test::AllClassesRootKeys();
    // Registered as the program does it, through the entry point whose answer this suite checks.
    ASSERT_EQ(FRegisterServer(), S_OK);
  }

  ComPtr<IMiravokFprn> NewFprn() {
    ComPtr<IMiravokFprn> p;
    EXPECT_EQ(CoCreateInstance(CLSID_MiravokFprn, nullptr, CLSCTX_INPROC_SERVER, IMiravokFprn::Iid, p.AsOut()), S_OK);
    return p;
  }

  test::TScopedTempRegistry FRegistry;
  std::set<std::string> FKeysBefore;
  test::TRegisteredLibrary FLibrary;
  TDllGetClassObject FGetClassObject = nullptr;
  TDllCanUnloadNow FCanUnloadNow = nullptr;
  TDllRegisterServer FRegisterServer = nullptr;
  TDllUnregisterServer FUnregisterServer = nullptr;
};

TEST_F(AutomationLibraryTest, RegistersTheFileItWasLoadedFrom) {
  auto k = TRegistry::OpenKey(HKEY_CLASSES_ROOT, "CLSID\\{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}\\InprocServer32");
  ASSERT_TRUE(k);
  EXPECT_EQ(TRegistry::QueryValue(*k, ""), test::kLibraryFile);
  EXPECT_EQ(TRegistry::QueryValue(*k, "ThreadingModel"), "Apartment");
}

TEST_F(AutomationLibraryTest, CreatesTheObjectByClsidAndByProgId) {
  ComPtr<IMiravokFprn> byClsid = NewFprn();
  ASSERT_TRUE(byClsid);
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(ProgID_MiravokFprn, &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_MiravokFprn);
  ComPtr<IDispatch> byProgId;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IDispatch::Iid, byProgId.AsOut()), S_OK);

  // The interfaces of the object, one identity.
  ComPtr<IObjectSafety> safety = byClsid.As<IObjectSafety>();
  ComPtr<IDispatch> disp = byClsid.As<IDispatch>();
  EXPECT_TRUE(safety);
  EXPECT_TRUE(disp);
  EXPECT_EQ(byClsid.As<IUnknown>().Get(), safety.As<IUnknown>().Get());
  EXPECT_FALSE(byClsid.As<IBonData>());

  BStr version;
  ASSERT_EQ(byClsid->GetDriverVersion(version.Out()), S_OK);
  EXPECT_EQ(version.View(), u"Fiscal Printer X4 vers: 1.18; ");
}

TEST_F(AutomationLibraryTest, CallsThroughIDispatchByName) {
  ComPtr<IDispatch> disp;
  ASSERT_EQ(CoCreateInstance(CLSID_MiravokFprn, nullptr, CLSCTX_INPROC_SERVER, IDispatch::Iid, disp.AsOut()), S_OK);
  Variant result;
  ASSERT_EQ(DispCallByName(disp.Get(), u"getdriverversion", DISPATCH_METHOD, {}, &result), S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(BstrView(result.bstrVal), u"Fiscal Printer X4 vers: 1.18; ");

  Variant five(LONG(5));
  ASSERT_EQ(DispCallByName(disp.Get(), u"PrintInvDublicate", DISPATCH_PROPERTYPUT,
                           std::span<VARIANT>(static_cast<VARIANT*>(&five), 1), nullptr),
            S_OK);
  Variant flag;
  ASSERT_EQ(DispCallByName(disp.Get(), u"PrintInvDublicate", DISPATCH_PROPERTYGET, {}, &flag), S_OK);
  EXPECT_EQ(flag.lVal, 1);

  // An acting method before Init: Res -1, the failure on the object, the call S_OK.
  Variant args[] = {Variant(LONG(1)), Variant(u"Ivan"), Variant(u"0000")};
  Variant res;
  ASSERT_EQ(DispCallByName(disp.Get(), u"SetOperator", DISPATCH_METHOD,
                           std::span<VARIANT>(static_cast<VARIANT*>(args), 3), &res),
            S_OK);
  EXPECT_EQ(res.lVal, -1);
  Variant code, message;
  ASSERT_EQ(DispCallByName(disp.Get(), u"LastErrorCode", DISPATCH_PROPERTYGET, {}, &code), S_OK);
  ASSERT_EQ(DispCallByName(disp.Get(), u"LastErrorMessage", DISPATCH_PROPERTYGET, {}, &message), S_OK);
  EXPECT_EQ(code.lVal, 502);
  EXPECT_EQ(BstrView(message.bstrVal), Wide(("[Set operator failed] " + kNotInit + " ").c_str()));
}

// Every entry that needs no printer search answers S_OK on a fresh object, whatever it
// does: none of them may crash or let a failure escape.
TEST_F(AutomationLibraryTest, EveryEntryAnswersOnAFreshObject) {
  ComPtr<IDispatch> disp = NewFprn().As<IDispatch>();
  ASSERT_TRUE(disp);
  const std::set<std::string> connecting = {"Init", "InitEx", "InitTCP"};
  int called = 0;
  for (const TDispEntry& e : IMiravokFprn::DispTable().Items()) {
    if (connecting.count(e.Name)) continue;
    std::vector<Variant> args;
    std::vector<LONG> longs(e.ArgCount);
    std::vector<double> doubles(e.ArgCount);
    std::vector<std::int8_t> bytes(e.ArgCount);
    std::vector<BSTR> texts(e.ArgCount, nullptr);
    for (std::size_t i = 0; i < e.ArgCount; ++i) {
      const TDispArg& a = e.Args[i];
      if (a.Dir == TArgDir::Result) continue;
      if (a.Dir == TArgDir::In) {
        switch (a.Vt) {
          // A log folder of "1" would be created in the working folder: keep logging off.
          case VT_BSTR: args.emplace_back(std::string_view(e.Name) == "LogFilePath" ? u"" : u"1"); break;
          case VT_R8: args.emplace_back(1.0); break;
          case VT_DATE: args.push_back(Variant::Date(46000)); break;
          default: args.emplace_back(LONG(1)); break;
        }
        continue;
      }
      switch (a.Vt) {
        case VT_BSTR:
          texts[i] = SysAllocString(u"in");
          args.push_back(Variant::Ref(VT_BSTR, &texts[i]));
          break;
        case VT_R8: args.push_back(Variant::Ref(VT_R8, &doubles[i])); break;
        case VT_I1: args.push_back(Variant::Ref(VT_I1, &bytes[i])); break;
        default: args.push_back(Variant::Ref(VT_I4, &longs[i])); break;
      }
    }
    const WORD kind = e.Kind == TDispKind::Method    ? DISPATCH_METHOD
                      : e.Kind == TDispKind::PropGet ? DISPATCH_PROPERTYGET
                                                     : DISPATCH_PROPERTYPUT;
    Variant result;
    EXPECT_EQ(DispCallByName(disp.Get(), Wide(e.Name), kind,
                             std::span<VARIANT>(static_cast<VARIANT*>(args.data()), args.size()),
                             kind == DISPATCH_PROPERTYPUT ? nullptr : &result),
              S_OK)
        << e.Name;
    for (BSTR& t : texts) SysFreeString(t);
    ++called;
  }
  EXPECT_EQ(called, 70);
}

TEST_F(AutomationLibraryTest, UnknownClassIsNotAvailable) {
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(FGetClassObject(IMiravokFprn::Iid, IClassFactory::Iid, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(FGetClassObject(CLSID_BonData, IClassFactory::Iid, factory.AsOut()), S_OK);
  EXPECT_TRUE(factory);
}

TEST_F(AutomationLibraryTest, CanUnloadOnlyWhileNothingLives) {
  EXPECT_EQ(FCanUnloadNow(), S_OK);
  {
    ComPtr<IMiravokFprn> fprn = NewFprn();
    EXPECT_EQ(FCanUnloadNow(), S_FALSE);
  }
  EXPECT_EQ(FCanUnloadNow(), S_OK);
  {
    ComPtr<IBonData> bon;
    ASSERT_EQ(CoCreateInstance(CLSID_BonData, nullptr, CLSCTX_INPROC_SERVER, IBonData::Iid, bon.AsOut()), S_OK);
    EXPECT_EQ(FCanUnloadNow(), S_FALSE);
  }
  EXPECT_EQ(FCanUnloadNow(), S_OK);
}

TEST_F(AutomationLibraryTest, UnregisterLeavesNoKeyAndMayRunTwice) {
  ASSERT_EQ(FUnregisterServer(), S_OK);
  std::set<std::string> left = test::AllClassesRootKeys();
  for (const char* parent : {"CLSID", "TypeLib", "Interface"}) left.erase(parent);
  EXPECT_EQ(left, FKeysBefore);
  EXPECT_EQ(FUnregisterServer(), S_OK);
  ComPtr<IMiravokFprn> gone;
  EXPECT_EQ(CoCreateInstance(CLSID_MiravokFprn, nullptr, CLSCTX_INPROC_SERVER, IMiravokFprn::Iid, gone.AsOut()),
            REGDB_E_CLASSNOTREG);
}

// An outer object that only counts its references.
struct TOuter final : IUnknown {
  HRESULT QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++Refs; }
  ULONG Release() override { return --Refs; }
  std::atomic<ULONG> Refs{1};
};

TEST_F(AutomationLibraryTest, AggregationOnlyForIUnknown) {
  TOuter outer;
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_MiravokFprn, &outer, CLSCTX_INPROC_SERVER, IMiravokFprn::Iid, &p),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_BonData, &outer, CLSCTX_INPROC_SERVER, IDispatch::Iid, &p), CLASS_E_NOAGGREGATION);

  IUnknown* inner = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_MiravokFprn, &outer, CLSCTX_INPROC_SERVER, IUnknown::Iid,
                             reinterpret_cast<void**>(&inner)),
            S_OK);
  ASSERT_NE(inner, nullptr);
  IMiravokFprn* fprn = nullptr;
  ASSERT_EQ(inner->QueryInterface(IMiravokFprn::Iid, reinterpret_cast<void**>(&fprn)), S_OK);
  EXPECT_EQ(outer.Refs, 2u);  // the interface's reference belongs to the outer object
  LONG code = -1;
  EXPECT_EQ(fprn->get_LastErrorCode(&code), S_OK);
  EXPECT_EQ(code, 0);
  fprn->Release();
  EXPECT_EQ(outer.Refs, 1u);
  EXPECT_EQ(FCanUnloadNow(), S_FALSE);
  inner->Release();
  EXPECT_EQ(FCanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace fp::test
