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

namespace fp {
namespace {

const std::string kLibId = "{D8BA97C9-C3B8-4A66-9CC5-7F72A202728C}";

std::optional<std::string> Value(const std::string& Key, const std::string& Name = "") {
  auto K = TRegistry::OpenKey(HKEY_CLASSES_ROOT, Key);
  return K ? TRegistry::QueryValue(*K, Name) : std::nullopt;
}

// Every key below the classes root, as "path" texts.
class ComServerTest : public ::testing::Test {
 protected:
  test::TScopedTempRegistry Registry;
  const std::string Lib = "/opt/miravok fp/MiravokFPAxX4_BG.so";
};

TEST_F(ComServerTest, RegistersEveryCoClassWithItsEntries) {
  ASSERT_EQ(RegisterServer(Lib), S_OK);
  for (const TCoClassInfo& C : MiravokFPAxX4_BG_CoClasses) {
    const std::string Clsid = GuidToString(C.Clsid);
    const std::string Key = "CLSID\\" + Clsid;
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(Value(Key), C.Description);
    // A path with a blank is written in full: there are no short names here.
    EXPECT_EQ(Value(Key + "\\InprocServer32"), Lib);
    EXPECT_EQ(Value(Key + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(Value(C.ProgID), C.Description);
    EXPECT_EQ(Value(std::string(C.ProgID) + "\\Clsid"), Clsid);
    EXPECT_EQ(Value(Key + "\\ProgID"), C.ProgID);
    EXPECT_EQ(Value(Key + "\\Version"), "2.0");
    EXPECT_EQ(Value(Key + "\\TypeLib"), kLibId);
    const std::string Itf = "Interface\\" + GuidToString(C.Iid);
    EXPECT_EQ(Value(Itf), C.InterfaceName);
    EXPECT_EQ(Value(Itf + "\\TypeLib"), kLibId);
    EXPECT_EQ(Value(Itf + "\\TypeLib", "Version"), "2.0");
  }
  EXPECT_EQ(Value("MiravokFPAxX4_BG.MiravokFprn\\Clsid"), "{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}");
  const std::string TypeLib = "TypeLib\\" + kLibId + "\\2.0";
  EXPECT_EQ(Value(TypeLib), "MiravokFPAxX4 Library");
  EXPECT_EQ(Value(TypeLib + "\\0\\linux64"), Lib);
  EXPECT_EQ(Value(TypeLib + "\\HELPDIR"), "/opt/miravok fp");
}

TEST_F(ComServerTest, RelativePathIsRegisteredInFull) {
  ASSERT_EQ(RegisterServer("bin/../lib/MiravokFPAxX4_BG.so"), S_OK);
  const std::string Expected = (std::filesystem::current_path() / "lib/MiravokFPAxX4_BG.so").string();
  EXPECT_EQ(Value("CLSID\\{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}\\InprocServer32"), Expected);
}

TEST_F(ComServerTest, UnregisterRemovesEverythingAndMayRunTwice) {
  const std::set<std::string> Before = test::AllClassesRootKeys();
  ASSERT_EQ(RegisterServer(Lib), S_OK);
  ASSERT_EQ(UnregisterServer(), S_OK);
  std::set<std::string> Left = test::AllClassesRootKeys();
  // Only the shared parents stay.
  for (const char* Parent : {"CLSID", "TypeLib", "Interface"}) Left.erase(Parent);
  EXPECT_EQ(Left, Before);
  EXPECT_EQ(UnregisterServer(), S_OK);
}

TEST_F(ComServerTest, UnregisterPassesOverKeysThatCannotGo) {
  ASSERT_EQ(RegisterServer(Lib), S_OK);
  // A sub-key of another program keeps the MiravokFprn class key alive.
  const std::string Key = "CLSID\\{BAD7EC8B-0E5B-4421-936E-F5AE2338BE32}";
  ASSERT_TRUE(TRegistry::CreateKey(HKEY_CLASSES_ROOT, Key + "\\Foreign"));
  EXPECT_EQ(UnregisterServer(), S_OK);
  EXPECT_TRUE(TRegistry::OpenKey(HKEY_CLASSES_ROOT, Key + "\\Foreign"));
  EXPECT_FALSE(TRegistry::OpenKey(HKEY_CLASSES_ROOT, Key + "\\InprocServer32"));
  EXPECT_FALSE(TRegistry::OpenKey(HKEY_CLASSES_ROOT, "MiravokFPAxX4_BG.BonData"));
}

TEST_F(ComServerTest, RegistryWriteFailureGivesEFailAndKeepsWhatWasWritten) {
  TFaultyFileOps Faulty;
  Faulty.FailAt(TFileOp::Rename, 3);
  IFileOps* Old = SetFileOps(&Faulty);
  const HRESULT hr = RegisterServer(Lib);
  SetFileOps(Old);
  EXPECT_EQ(hr, E_FAIL);
  EXPECT_EQ(Value("TypeLib\\" + kLibId + "\\2.0"), "MiravokFPAxX4 Library");
  EXPECT_FALSE(TRegistry::OpenKey(HKEY_CLASSES_ROOT, "MiravokFPAxX4_BG.MiravokFprn"));
}

TEST(ComServerFactoryTest, FactoriesAreMadeInLoadOrder) {
  auto F = ComClassFactories();
  ASSERT_EQ(F.size(), 5u);
  const CLSID Order[] = {CLSID_BonData, CLSID_XReportData, CLSID_AdvLines, CLSID_DepartTotals,
                         CLSID_MiravokFprn};
  for (size_t I = 0; I < 5; ++I) EXPECT_EQ(F[I]->Clsid(), Order[I]) << I;
  EXPECT_EQ(&BonDataFactory(), F[0]);
  EXPECT_EQ(&DepartTotalsFactory(), F[3]);
}

TEST(ComServerFactoryTest, GetClassObjectAndCreationRules) {
  ComPtr<IClassFactory> Factory;
  ASSERT_EQ(ServerGetClassObject(CLSID_BonData, IClassFactory::Iid, Factory.AsOut()), S_OK);
  ASSERT_TRUE(Factory);
  void* P = reinterpret_cast<void*>(1);
  EXPECT_EQ(ServerGetClassObject(IBonData::Iid, IClassFactory::Iid, &P), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(P, nullptr);
  EXPECT_EQ(ServerGetClassObject(CLSID_BonData, IBonData::Iid, &P), E_NOINTERFACE);

  EXPECT_EQ(Factory->CreateInstance(nullptr, IBonData::Iid, nullptr), E_POINTER);
  P = reinterpret_cast<void*>(1);
  EXPECT_EQ(Factory->CreateInstance(nullptr, IXReportData::Iid, &P), E_NOINTERFACE);
  EXPECT_EQ(P, nullptr);
  ComPtr<IBonData> Bon;
  EXPECT_EQ(Factory->CreateInstance(nullptr, IBonData::Iid, Bon.AsOut()), S_OK);
  EXPECT_TRUE(Bon);
}

TEST(ComServerFactoryTest, CanUnloadFollowsObjectsLocksAndFactoryReferences) {
  ASSERT_EQ(ServerCanUnloadNow(), S_OK);
  {
    ComPtr<IDepartTotals> D = CreateResultObject<IDepartTotals>(DepartTotalsFactory());
    EXPECT_EQ(ServerCanUnloadNow(), S_FALSE);
  }
  EXPECT_EQ(ServerCanUnloadNow(), S_OK);
  ComPtr<IClassFactory> Factory;
  ASSERT_EQ(ServerGetClassObject(CLSID_MiravokFprn, IClassFactory::Iid, Factory.AsOut()), S_OK);
  EXPECT_EQ(ServerCanUnloadNow(), S_FALSE);
  ASSERT_EQ(Factory->LockServer(1), S_OK);
  IClassFactory* Raw = Factory.Detach();
  Raw->Release();
  EXPECT_EQ(ServerCanUnloadNow(), S_FALSE);  // the lock
  ASSERT_EQ(Raw->LockServer(0), S_OK);  // the factory lives as long as the library
  EXPECT_EQ(ServerCanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace fp
