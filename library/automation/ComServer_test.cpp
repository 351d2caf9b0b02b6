#include "library/automation/ComServer.h"

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "library/automation/MiravokFPAxX4_BG_TLB.h"
#include "tests/support/RegistryTestSupport.h"
#include "platform/FileOps.h"
#include "tests/support/PortTestSupport.h"
#include "platform/Registry.h"
#include "platform/com/ComPtr.h"

namespace fp::test {
namespace {

const std::string kLibId = "{D8BA97C9-C3B8-4A66-9CC5-7F72A202728C}";

std::optional<std::string> Value(const std::string& Key, const std::string& Name = "") {
  auto k = TRegistry::OpenKey(HKEY_CLASSES_ROOT, Key);
  return k ? TRegistry::QueryValue(*k, Name) : std::nullopt;
}

// Every key below the classes root, as "path" texts.
class ComServerTest : public ::testing::Test {
 protected:
  test::TScopedTempRegistry FRegistry;
  const std::string FLib = "/opt/miravok fp/MiravokFPAxX4_BG.so";
};

TEST_F(ComServerTest, RegistersEveryCoClassWithItsEntries) {
  ASSERT_EQ(RegisterServer(FLib), S_OK);
  for (const TCoClassInfo& c : MiravokFPAxX4_BG_CoClasses) {
    const std::string clsid = GuidToString(c.Clsid);
    const std::string key = "CLSID\\" + clsid;
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Value(key), c.Description);
    // A path with a blank is written in full: there are no short names here.
    EXPECT_EQ(Value(key + "\\InprocServer32"), FLib);
    EXPECT_EQ(Value(key + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(Value(c.ProgID), c.Description);
    EXPECT_EQ(Value(std::string(c.ProgID) + "\\Clsid"), clsid);
    EXPECT_EQ(Value(key + "\\ProgID"), c.ProgID);
    EXPECT_EQ(Value(key + "\\Version"), "2.0");
    EXPECT_EQ(Value(key + "\\TypeLib"), kLibId);
    const std::string itf = "Interface\\" + GuidToString(c.Iid);
    EXPECT_EQ(Value(itf), c.InterfaceName);
    EXPECT_EQ(Value(itf + "\\TypeLib"), kLibId);
    EXPECT_EQ(Value(itf + "\\TypeLib", "Version"), "2.0");
  }
  EXPECT_EQ(Value("MiravokFPAxX4_BG.MiravokFprn\\Clsid"), "{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}");
  const std::string typeLib = "TypeLib\\" + kLibId + "\\2.0";
  EXPECT_EQ(Value(typeLib), "MiravokFPAxX4 Library");
  EXPECT_EQ(Value(typeLib + "\\0\\linux64"), FLib);
  EXPECT_EQ(Value(typeLib + "\\HELPDIR"), "/opt/miravok fp");
}

TEST_F(ComServerTest, RelativePathIsRegisteredInFull) {
  ASSERT_EQ(RegisterServer("bin/../lib/MiravokFPAxX4_BG.so"), S_OK);
  const std::string expected = (std::filesystem::current_path() / "lib/MiravokFPAxX4_BG.so").string();
  EXPECT_EQ(Value("CLSID\\{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}\\InprocServer32"), expected);
}

TEST_F(ComServerTest, UnregisterRemovesEverythingAndMayRunTwice) {
  const std::set<std::string> before = test::AllClassesRootKeys();
  ASSERT_EQ(RegisterServer(FLib), S_OK);
  ASSERT_EQ(UnregisterServer(), S_OK);
  std::set<std::string> left = test::AllClassesRootKeys();
  // Only the shared parents stay.
  for (const char* parent : {"CLSID", "TypeLib", "Interface"}) left.erase(parent);
  EXPECT_EQ(left, before);
  EXPECT_EQ(UnregisterServer(), S_OK);
}

TEST_F(ComServerTest, UnregisterPassesOverKeysThatCannotGo) {
  ASSERT_EQ(RegisterServer(FLib), S_OK);
  // A sub-key of another program keeps the MiravokFprn class key alive.
  const std::string key = "CLSID\\{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}";
  ASSERT_TRUE(TRegistry::CreateKey(HKEY_CLASSES_ROOT, key + "\\Foreign"));
  EXPECT_EQ(UnregisterServer(), S_OK);
  EXPECT_TRUE(TRegistry::OpenKey(HKEY_CLASSES_ROOT, key + "\\Foreign"));
  EXPECT_FALSE(TRegistry::OpenKey(HKEY_CLASSES_ROOT, key + "\\InprocServer32"));
  EXPECT_FALSE(TRegistry::OpenKey(HKEY_CLASSES_ROOT, "MiravokFPAxX4_BG.BonData"));
}

TEST_F(ComServerTest, RegistryWriteFailureGivesEFailAndKeepsWhatWasWritten) {
  TFaultyFileOps faulty;
  faulty.FailAt(TFileOp::Rename, 3);
  IFileOps* old = SetFileOps(&faulty);
  const HRESULT hr = RegisterServer(FLib);
  SetFileOps(old);
  EXPECT_EQ(hr, E_FAIL);
  EXPECT_EQ(Value("TypeLib\\" + kLibId + "\\2.0"), "MiravokFPAxX4 Library");
  EXPECT_FALSE(TRegistry::OpenKey(HKEY_CLASSES_ROOT, "MiravokFPAxX4_BG.MiravokFprn"));
}

TEST(ComServerFactoryTest, FactoriesAreMadeInLoadOrder) {
  auto f = ComClassFactories();
  ASSERT_EQ(f.size(), 5u);
  const CLSID order[] = {CLSID_BonData, CLSID_XReportData, CLSID_AdvLines, CLSID_DepartTotals, CLSID_MiravokFprn};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(f[i]->Clsid(), order[i]) << i;
  EXPECT_EQ(&BonDataFactory(), f[0]);
  EXPECT_EQ(&DepartTotalsFactory(), f[3]);
}

TEST(ComServerFactoryTest, GetClassObjectAndCreationRules) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(ServerGetClassObject(CLSID_BonData, IClassFactory::Iid, factory.AsOut()), S_OK);
  ASSERT_TRUE(factory);
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(ServerGetClassObject(IBonData::Iid, IClassFactory::Iid, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(ServerGetClassObject(CLSID_BonData, IBonData::Iid, &p), E_NOINTERFACE);

  EXPECT_EQ(factory->CreateInstance(nullptr, IBonData::Iid, nullptr), E_POINTER);
  p = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(nullptr, IXReportData::Iid, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  ComPtr<IBonData> bon;
  EXPECT_EQ(factory->CreateInstance(nullptr, IBonData::Iid, bon.AsOut()), S_OK);
  EXPECT_TRUE(bon);
}

TEST(ComServerFactoryTest, CanUnloadFollowsObjectsLocksAndFactoryReferences) {
  ASSERT_EQ(ServerCanUnloadNow(), S_OK);
  {
    ComPtr<IDepartTotals> d = CreateResultObject<IDepartTotals>(DepartTotalsFactory());
    EXPECT_EQ(ServerCanUnloadNow(), S_FALSE);
  }
  EXPECT_EQ(ServerCanUnloadNow(), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(ServerGetClassObject(CLSID_MiravokFprn, IClassFactory::Iid, factory.AsOut()), S_OK);
  EXPECT_EQ(ServerCanUnloadNow(), S_FALSE);
  ASSERT_EQ(factory->LockServer(1), S_OK);
  IClassFactory* raw = factory.Detach();
  raw->Release();
  EXPECT_EQ(ServerCanUnloadNow(), S_FALSE);  // the lock
  ASSERT_EQ(raw->LockServer(0), S_OK);       // the factory lives as long as the library
  EXPECT_EQ(ServerCanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace fp::test
