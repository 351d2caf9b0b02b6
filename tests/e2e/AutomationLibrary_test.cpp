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

namespace fp {
namespace {

const std::string kNotInit = "Device is not initiqlized. Call \"init\" first!";

std::u16string Wide(const char* s) { return Utf8ToWide(s); }

class AutomationLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Library.Load());
    GetClassObject = Library.Entry<TDllGetClassObject>("DllGetClassObject");
    CanUnloadNow = Library.Entry<TDllCanUnloadNow>("DllCanUnloadNow");
    RegisterServer = Library.Entry<TDllRegisterServer>("DllRegisterServer");
    UnregisterServer = Library.Entry<TDllUnregisterServer>("DllUnregisterServer");
    ASSERT_TRUE(GetClassObject && CanUnloadNow && RegisterServer && UnregisterServer);
    KeysBefore = test::AllClassesRootKeys();
    // Registered as the program does it, through the entry point whose answer this suite checks.
    ASSERT_EQ(RegisterServer(), S_OK);
  }

  ComPtr<IMiravokFprn> NewFprn() {
    ComPtr<IMiravokFprn> p;
    EXPECT_EQ(CoCreateInstance(CLSID_MiravokFprn, nullptr, CLSCTX_INPROC_SERVER, IMiravokFprn::Iid,
                               p.AsOut()),
              S_OK);
    return p;
  }

  test::TScopedTempRegistry Registry;
  std::set<std::string> KeysBefore;
  test::TRegisteredLibrary Library;
  TDllGetClassObject GetClassObject = nullptr;
  TDllCanUnloadNow CanUnloadNow = nullptr;
  TDllRegisterServer RegisterServer = nullptr;
  TDllUnregisterServer UnregisterServer = nullptr;
};

TEST_F(AutomationLibraryTest, RegistersTheFileItWasLoadedFrom) {
  auto K = TRegistry::OpenKey(HKEY_CLASSES_ROOT,
                              "CLSID\\{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}\\InprocServer32");
  ASSERT_TRUE(K);
  EXPECT_EQ(TRegistry::QueryValue(*K, ""), test::kLibraryFile);
  EXPECT_EQ(TRegistry::QueryValue(*K, "ThreadingModel"), "Apartment");
}

TEST_F(AutomationLibraryTest, CreatesTheObjectByClsidAndByProgId) {
  ComPtr<IMiravokFprn> ByClsid = NewFprn();
  ASSERT_TRUE(ByClsid);
  CLSID Clsid{};
  ASSERT_EQ(CLSIDFromProgID(ProgID_MiravokFprn, &Clsid), S_OK);
  EXPECT_EQ(Clsid, CLSID_MiravokFprn);
  ComPtr<IDispatch> ByProgId;
  ASSERT_EQ(CoCreateInstance(Clsid, nullptr, CLSCTX_INPROC_SERVER, IDispatch::Iid, ByProgId.AsOut()),
            S_OK);

  // The interfaces of the object, one identity.
  ComPtr<IObjectSafety> Safety = ByClsid.As<IObjectSafety>();
  ComPtr<IDispatch> Disp = ByClsid.As<IDispatch>();
  EXPECT_TRUE(Safety);
  EXPECT_TRUE(Disp);
  EXPECT_EQ(ByClsid.As<IUnknown>().Get(), Safety.As<IUnknown>().Get());
  EXPECT_FALSE(ByClsid.As<IBonData>());

  BStr Version;
  ASSERT_EQ(ByClsid->GetDriverVersion(Version.Out()), S_OK);
  EXPECT_EQ(Version.View(), u"Fiscal Printer X4 vers: 1.18; ");
}

TEST_F(AutomationLibraryTest, CallsThroughIDispatchByName) {
  ComPtr<IDispatch> Disp;
  ASSERT_EQ(CoCreateInstance(CLSID_MiravokFprn, nullptr, CLSCTX_INPROC_SERVER, IDispatch::Iid,
                             Disp.AsOut()),
            S_OK);
  Variant Result;
  ASSERT_EQ(DispCallByName(Disp.Get(), u"getdriverversion", DISPATCH_METHOD, {}, &Result), S_OK);
  ASSERT_EQ(Result.vt, VT_BSTR);
  EXPECT_EQ(BstrView(Result.bstrVal), u"Fiscal Printer X4 vers: 1.18; ");

  Variant Five(LONG(5));
  ASSERT_EQ(DispCallByName(Disp.Get(), u"PrintInvDublicate", DISPATCH_PROPERTYPUT,
                           std::span<VARIANT>(static_cast<VARIANT*>(&Five), 1), nullptr),
            S_OK);
  Variant Flag;
  ASSERT_EQ(DispCallByName(Disp.Get(), u"PrintInvDublicate", DISPATCH_PROPERTYGET, {}, &Flag), S_OK);
  EXPECT_EQ(Flag.lVal, 1);

  // An acting method before Init: Res -1, the failure on the object, the call S_OK.
  Variant Args[] = {Variant(LONG(1)), Variant(u"Ivan"), Variant(u"0000")};
  Variant Res;
  ASSERT_EQ(DispCallByName(Disp.Get(), u"SetOperator", DISPATCH_METHOD,
                           std::span<VARIANT>(static_cast<VARIANT*>(Args), 3), &Res),
            S_OK);
  EXPECT_EQ(Res.lVal, -1);
  Variant Code, Message;
  ASSERT_EQ(DispCallByName(Disp.Get(), u"LastErrorCode", DISPATCH_PROPERTYGET, {}, &Code), S_OK);
  ASSERT_EQ(DispCallByName(Disp.Get(), u"LastErrorMessage", DISPATCH_PROPERTYGET, {}, &Message), S_OK);
  EXPECT_EQ(Code.lVal, 502);
  EXPECT_EQ(BstrView(Message.bstrVal), Wide(("[Set operator failed] " + kNotInit + " ").c_str()));
}

// Every entry that needs no printer search answers S_OK on a fresh object, whatever it
// does: none of them may crash or let a failure escape.
TEST_F(AutomationLibraryTest, EveryEntryAnswersOnAFreshObject) {
  ComPtr<IDispatch> Disp = NewFprn().As<IDispatch>();
  ASSERT_TRUE(Disp);
  const std::set<std::string> Connecting = {"Init", "InitEx", "InitTCP"};
  int Called = 0;
  for (const TDispEntry& E : IMiravokFprn::DispTable().Items()) {
    if (Connecting.count(E.Name)) continue;
    std::vector<Variant> Args;
    std::vector<LONG> Longs(E.ArgCount);
    std::vector<double> Doubles(E.ArgCount);
    std::vector<std::int8_t> Bytes(E.ArgCount);
    std::vector<BSTR> Texts(E.ArgCount, nullptr);
    for (std::size_t I = 0; I < E.ArgCount; ++I) {
      const TDispArg& A = E.Args[I];
      if (A.Dir == TArgDir::Result) continue;
      if (A.Dir == TArgDir::In) {
        switch (A.Vt) {
          // A log folder of "1" would be created in the working folder: keep logging off.
          case VT_BSTR: Args.emplace_back(std::string_view(E.Name) == "LogFilePath" ? u"" : u"1"); break;
          case VT_R8: Args.emplace_back(1.0); break;
          case VT_DATE: Args.push_back(Variant::Date(46000)); break;
          default: Args.emplace_back(LONG(1)); break;
        }
        continue;
      }
      switch (A.Vt) {
        case VT_BSTR:
          Texts[I] = SysAllocString(u"in");
          Args.push_back(Variant::Ref(VT_BSTR, &Texts[I]));
          break;
        case VT_R8: Args.push_back(Variant::Ref(VT_R8, &Doubles[I])); break;
        case VT_I1: Args.push_back(Variant::Ref(VT_I1, &Bytes[I])); break;
        default: Args.push_back(Variant::Ref(VT_I4, &Longs[I])); break;
      }
    }
    const WORD Kind = E.Kind == TDispKind::Method    ? DISPATCH_METHOD
                      : E.Kind == TDispKind::PropGet ? DISPATCH_PROPERTYGET
                                                     : DISPATCH_PROPERTYPUT;
    Variant Result;
    EXPECT_EQ(DispCallByName(Disp.Get(), Wide(E.Name), Kind,
                             std::span<VARIANT>(static_cast<VARIANT*>(Args.data()), Args.size()),
                             Kind == DISPATCH_PROPERTYPUT ? nullptr : &Result),
              S_OK)
        << E.Name;
    for (BSTR& T : Texts) SysFreeString(T);
    ++Called;
  }
  EXPECT_EQ(Called, 70);
}

TEST_F(AutomationLibraryTest, UnknownClassIsNotAvailable) {
  void* P = reinterpret_cast<void*>(1);
  EXPECT_EQ(GetClassObject(IMiravokFprn::Iid, IClassFactory::Iid, &P), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(P, nullptr);
  ComPtr<IClassFactory> Factory;
  EXPECT_EQ(GetClassObject(CLSID_BonData, IClassFactory::Iid, Factory.AsOut()), S_OK);
  EXPECT_TRUE(Factory);
}

TEST_F(AutomationLibraryTest, CanUnloadOnlyWhileNothingLives) {
  EXPECT_EQ(CanUnloadNow(), S_OK);
  {
    ComPtr<IMiravokFprn> Fprn = NewFprn();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
  }
  EXPECT_EQ(CanUnloadNow(), S_OK);
  {
    ComPtr<IBonData> Bon;
    ASSERT_EQ(CoCreateInstance(CLSID_BonData, nullptr, CLSCTX_INPROC_SERVER, IBonData::Iid,
                               Bon.AsOut()),
              S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
  }
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(AutomationLibraryTest, UnregisterLeavesNoKeyAndMayRunTwice) {
  ASSERT_EQ(UnregisterServer(), S_OK);
  std::set<std::string> Left = test::AllClassesRootKeys();
  for (const char* Parent : {"CLSID", "TypeLib", "Interface"}) Left.erase(Parent);
  EXPECT_EQ(Left, KeysBefore);
  EXPECT_EQ(UnregisterServer(), S_OK);
  ComPtr<IMiravokFprn> Gone;
  EXPECT_EQ(CoCreateInstance(CLSID_MiravokFprn, nullptr, CLSCTX_INPROC_SERVER, IMiravokFprn::Iid,
                             Gone.AsOut()),
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
  TOuter Outer;
  void* P = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_MiravokFprn, &Outer, CLSCTX_INPROC_SERVER, IMiravokFprn::Iid, &P),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(P, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_BonData, &Outer, CLSCTX_INPROC_SERVER, IDispatch::Iid, &P),
            CLASS_E_NOAGGREGATION);

  IUnknown* Inner = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_MiravokFprn, &Outer, CLSCTX_INPROC_SERVER, IUnknown::Iid,
                             reinterpret_cast<void**>(&Inner)),
            S_OK);
  ASSERT_NE(Inner, nullptr);
  IMiravokFprn* Fprn = nullptr;
  ASSERT_EQ(Inner->QueryInterface(IMiravokFprn::Iid, reinterpret_cast<void**>(&Fprn)), S_OK);
  EXPECT_EQ(Outer.Refs, 2u);  // the interface's reference belongs to the outer object
  LONG Code = -1;
  EXPECT_EQ(Fprn->get_LastErrorCode(&Code), S_OK);
  EXPECT_EQ(Code, 0);
  Fprn->Release();
  EXPECT_EQ(Outer.Refs, 1u);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  Inner->Release();
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace fp
