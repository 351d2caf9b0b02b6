// A result object that the automation object hands out keeps the library in use: through
// the real library file, connected to the printer model over a pty, the library may not
// be unloaded while the client holds a result object, even after the automation object
// itself is gone.
#include <string>

#include <gtest/gtest.h>

#include "library/automation/MiravokFPAxX4_BG_TLB.h"
#include "platform/ComPortNames.h"
#include "platform/Cp1251.h"
#include "tests/support/LibraryTestSupport.h"
#include "tests/support/PortTestSupport.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/Dispatch.h"
#include "tests/printermodel/PrinterModel.h"

namespace fp::test {
namespace {

class ResultObjectLifetimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TComPortNames::SetMapping("COM7", FPty.SlavePath()));
    ASSERT_TRUE(FLibrary.LoadAndRegister());
    FCanUnloadNow = FLibrary.Entry<TDllCanUnloadNow>("DllCanUnloadNow");
    ASSERT_TRUE(FCanUnloadNow) << FLibrary.LastError();
  }

  // A new automation object connected to the printer model.
  ComPtr<IMiravokFprn> ConnectedFprn() {
    ComPtr<IMiravokFprn> fprn;
    EXPECT_EQ(CoCreateInstance(CLSID_MiravokFprn, nullptr, CLSCTX_INPROC_SERVER, IMiravokFprn::Iid, fprn.AsOut()),
              S_OK);
    if (!fprn) return fprn;
    LONG res = 99;
    EXPECT_EQ(fprn->Init(7, 115200, 0, 0, BStr(u"").Get(), &res), S_OK);
    EXPECT_EQ(res, 0);
    return fprn;
  }

  test::TScopedTempRegistry FRegistry;
  model::PrinterModel FModel;
  model::PtyEndpoint FPty{FModel};
  test::TRegisteredLibrary FLibrary;
  TDllCanUnloadNow FCanUnloadNow = nullptr;
};

TEST_F(ResultObjectLifetimeTest, LibraryStaysInUseWhileTheClientHoldsAResultObject) {
  FModel.Edit([](model::ModelState& S) { S.allReceipts = 12; });
  ComPtr<IBonData> bon;
  {
    ComPtr<IMiravokFprn> fprn = ConnectedFprn();
    ASSERT_TRUE(fprn);
    ASSERT_EQ(fprn->GetRecieptStatus(bon.GetAddressOf()), S_OK);
    ASSERT_TRUE(bon);
  }
  // The automation object is gone; the result object is not.
  EXPECT_EQ(FCanUnloadNow(), S_FALSE);
  BStr doc;
  ASSERT_EQ(bon->get_DocNumber(doc.Out()), S_OK);
  EXPECT_EQ(doc.View(), u"12");
  bon.Reset();
  EXPECT_EQ(FCanUnloadNow(), S_OK);
}

TEST_F(ResultObjectLifetimeTest, ResultObjectHandedOutThroughDispatchCountsToo) {
  FModel.Edit([](model::ModelState& S) { S.departments[2].name = "BREAD"; });
  Variant result;
  {
    ComPtr<IDispatch> disp = ConnectedFprn().As<IDispatch>();
    ASSERT_TRUE(disp);
    Variant nom(LONG(2));
    ASSERT_EQ(DispCallByName(disp.Get(), u"GetDeprtmentTotals", DISPATCH_METHOD,
                             std::span<VARIANT>(static_cast<VARIANT*>(&nom), 1), &result),
              S_OK);
  }
  ASSERT_EQ(result.vt, VT_DISPATCH);
  ASSERT_NE(result.pdispVal, nullptr);
  EXPECT_EQ(FCanUnloadNow(), S_FALSE);
  Variant name;
  ASSERT_EQ(DispCallByName(result.pdispVal, u"Description", DISPATCH_PROPERTYGET, {}, &name), S_OK);
  EXPECT_EQ(BstrView(name.bstrVal), u"BREAD");
  VariantClear(&result);
  EXPECT_EQ(FCanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace fp::test
