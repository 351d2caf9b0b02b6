#include "platform/com/ComRuntime.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/Registry.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Dispatch.h"
#include "platform/com/testserver/TestCalc.h"

namespace fp::test {
namespace {

using test::CLSID_TestCalc;
using test::ITestCalc;

const std::string kServer = std::string(FP_BIN_DIR) + "/fp_comtestserver.so";

void SetDefault(const std::string& key, const std::string& data) {
  auto k = TRegistry::CreateKey(HKEY_CLASSES_ROOT, key);
  ASSERT_TRUE(k) << key;
  ASSERT_TRUE(TRegistry::SetValue(*k, "", data)) << key;
}

void Register(const GUID& clsid, const std::string& path) {
  SetDefault("CLSID\\" + GuidToString(clsid) + "\\InprocServer32", path);
}

// Whether the library is loaded in this process now.
bool Loaded(const std::string& path) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);
  return h != nullptr;
}

// Runs f in a thread of its own (fresh per-thread runtime state).
template <class F>
void InThread(F f) {
  std::thread t(f);
  t.join();
}

class ComRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/fp_comrt_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    FDir = dir;
    setenv(TRegistry::FileVariable, (FDir + "/registry.txt").c_str(), 1);
    Register(CLSID_TestCalc, kServer);
    SetDefault("FpTest.Calc\\CLSID", GuidToString(CLSID_TestCalc));
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    unsetenv(TRegistry::FileVariable);
    std::filesystem::remove_all(FDir);
  }

  std::string FDir;
};

TEST_F(ComRuntimeTest, CreatesAnObjectOfARegisteredLibrary) {
  ComPtr<ITestCalc> calc;
  ASSERT_EQ(CoCreateInstance(CLSID_TestCalc, nullptr, CLSCTX_INPROC_SERVER, ITestCalc::Iid, calc.AsOut()), S_OK);
  LONG sum = 0;
  ASSERT_EQ(calc->Add(2, 3, &sum), S_OK);  // through the interface's own table
  EXPECT_EQ(sum, 5);
  BStr name;
  calc->get_Name(name.Out());
  EXPECT_EQ(name.View(), u"fresh");  // the object's setup ran before it was handed out

  // The same object through IDispatch, by name.
  ComPtr<IDispatch> disp = calc.As<IDispatch>();
  ASSERT_TRUE(disp);
  Variant a(LONG(40)), b(LONG(2)), result;
  std::vector<VARIANT> args{a, b};
  ASSERT_EQ(DispCallByName(disp.Get(), u"ADD", DISPATCH_METHOD, args, &result), S_OK);
  EXPECT_EQ(result.lVal, 42);

  // A BSTR made in the library is freed here by the same allocator.
  ComPtr<ITestCalc> child;
  ASSERT_EQ(calc->MakeChild(child.GetAddressOf()), S_OK);
  BStr text;
  ASSERT_EQ(child->Describe(nullptr, 1.5, 2, -1, text.Out()), S_OK);
  EXPECT_EQ(text.View(), u"|1.5|2|-1");
}

TEST_F(ComRuntimeTest, FindsTheClassOfAProgID) {
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"FpTest.Calc", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_TestCalc);
  ASSERT_EQ(CLSIDFromProgID(u"fptest.calc", &clsid), S_OK);  // registry names ignore case
  EXPECT_EQ(CLSIDFromProgID(u"FpTest.Missing", &clsid), CO_E_CLASSSTRING);
  SetDefault("FpTest.Broken\\CLSID", "{not a GUID}");
  EXPECT_EQ(CLSIDFromProgID(u"FpTest.Broken", &clsid), CO_E_CLASSSTRING);

  EXPECT_EQ(CLSIDFromString(u"{6f1b4d2e-8c63-4d2f-ab10-1d8e7c2f3b42}", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_TestCalc);
  EXPECT_EQ(CLSIDFromString(u"6F1B4D2E-8C63-4D2F-AB10-1D8E7C2F3B42", &clsid), CO_E_CLASSSTRING);
}

TEST_F(ComRuntimeTest, ClassesThatCannotBeServed) {
  const GUID unknown = GuidConst("{00000000-1111-2222-3333-444444444444}");
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_ALL, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_TestCalc, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);

  const GUID missingFile = GuidConst("{00000000-1111-2222-3333-555555555555}");
  Register(missingFile, FDir + "/nothing.so");
  EXPECT_EQ(CoCreateInstance(missingFile, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CO_E_DLLNOTFOUND);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.GetAddressOf()), S_OK);  // with the loader's message
  BStr text;
  info->GetDescription(text.Out());
  EXPECT_NE(text.View().find(u"nothing.so"), std::u16string_view::npos);

  // A library that is no component library, and one that does not serve the class.
  const GUID notAServer = GuidConst("{00000000-1111-2222-3333-666666666666}");
  Register(notAServer, std::string(FP_BIN_DIR) + "/libfp_comrt.so");
  EXPECT_EQ(CoCreateInstance(notAServer, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CO_E_ERRORINDLL);
  const GUID otherClass = GuidConst("{00000000-1111-2222-3333-777777777777}");
  Register(otherClass, kServer);
  EXPECT_EQ(CoCreateInstance(otherClass, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
}

TEST_F(ComRuntimeTest, TheLibraryStaysLoadedUntilAskedToUnload) {
  CoFreeUnusedLibraries();  // whatever earlier tests left
  ASSERT_FALSE(Loaded(kServer));
  ComPtr<IUnknown> object;
  ASSERT_EQ(CoCreateInstance(CLSID_TestCalc, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.AsOut()), S_OK);
  EXPECT_TRUE(Loaded(kServer));
  CoFreeUnusedLibraries();  // an object lives: the library says S_FALSE
  EXPECT_TRUE(Loaded(kServer));
  object.Reset();
  EXPECT_TRUE(Loaded(kServer));  // released, but nobody asked yet
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_TestCalc, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.AsOut()), S_OK);
  CoFreeUnusedLibraries();  // a factory reference is held
  EXPECT_TRUE(Loaded(kServer));
  factory.Reset();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(Loaded(kServer));

  // Loaded again on the next use.
  ASSERT_EQ(CoCreateInstance(CLSID_TestCalc, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.AsOut()), S_OK);
  EXPECT_TRUE(Loaded(kServer));
}

TEST_F(ComRuntimeTest, NeedsTheThreadToBeInitialised) {
  InThread([] {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_TestCalc, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CO_E_NOTINITIALIZED);
    EXPECT_EQ(p, nullptr);

    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);                                     // counted
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);  // not counted
    CoUninitialize();
    ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(CLSID_TestCalc, nullptr, CLSCTX_ALL, IID_IUnknown, object.AsOut()), S_OK);
    object.Reset();
    CoUninitialize();
    EXPECT_EQ(CoCreateInstance(CLSID_TestCalc, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CO_E_NOTINITIALIZED);
    CoUninitialize();  // one too many: nothing happens
  });
}

TEST_F(ComRuntimeTest, WorkerThreadsUseObjectsOfTheirOwn) {
  std::vector<std::thread> workers;
  std::vector<LONG> sums(4, 0);
  for (int i = 0; i < 4; ++i) {
    workers.emplace_back([i, &sums] {
      ASSERT_EQ(CoInitialize(nullptr), S_OK);
      {
        ComPtr<ITestCalc> calc;
        ASSERT_EQ(CoCreateInstance(CLSID_TestCalc, nullptr, CLSCTX_INPROC_SERVER, ITestCalc::Iid, calc.AsOut()), S_OK);
        for (int k = 0; k < 100; ++k) calc->Add(sums[i], 1, &sums[i]);
        // The error information of this thread is this thread's only.
        LONG res;
        BStr msg(u"worker " + std::u16string(1, char16_t(u'0' + i)));
        EXPECT_EQ(calc->Fail(msg.Get(), &res), E_FAIL);
        ComPtr<IErrorInfo> info;
        ASSERT_EQ(GetErrorInfo(0, info.GetAddressOf()), S_OK);
        BStr text;
        info->GetDescription(text.Out());
        EXPECT_EQ(text.View(), msg.View());
      }
      CoUninitialize();
    });
  }
  for (auto& w : workers) w.join();
  for (LONG s : sums) EXPECT_EQ(s, 100);
}

}  // namespace
}  // namespace fp::test
