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

namespace fp {
namespace {

class ResultObjectLifetimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TComPortNames::SetMapping("COM7", Pty.SlavePath()));
    ASSERT_TRUE(Library.LoadAndRegister());
    CanUnloadNow = Library.Entry<TDllCanUnloadNow>("DllCanUnloadNow");
    ASSERT_TRUE(CanUnloadNow) << Library.LastError();
  }

  // A new automation object connected to the printer model.
  ComPtr<IMiravokFprn> ConnectedFprn() {
    ComPtr<IMiravokFprn> Fprn;
    EXPECT_EQ(CoCreateInstance(CLSID_MiravokFprn, nullptr, CLSCTX_INPROC_SERVER, IMiravokFprn::Iid,
                               Fprn.AsOut()),
              S_OK);
    if (!Fprn) return Fprn;
    LONG Res = 99;
    EXPECT_EQ(Fprn->Init(7, 115200, 0, 0, BStr(u"").Get(), &Res), S_OK);
    EXPECT_EQ(Res, 0);
    return Fprn;
  }

  test::TScopedTempRegistry Registry;
  model::PrinterModel Model;
  model::PtyEndpoint Pty{Model};
  test::TRegisteredLibrary Library;
  TDllCanUnloadNow CanUnloadNow = nullptr;
};

TEST_F(ResultObjectLifetimeTest, LibraryStaysInUseWhileTheClientHoldsAResultObject) {
  Model.Edit([](model::ModelState& S) { S.allReceipts = 12; });
  ComPtr<IBonData> Bon;
  {
    ComPtr<IMiravokFprn> Fprn = ConnectedFprn();
    ASSERT_TRUE(Fprn);
    ASSERT_EQ(Fprn->GetRecieptStatus(Bon.GetAddressOf()), S_OK);
    ASSERT_TRUE(Bon);
  }
  // The automation object is gone; the result object is not.
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  BStr Doc;
  ASSERT_EQ(Bon->get_DocNumber(Doc.Out()), S_OK);
  EXPECT_EQ(Doc.View(), u"12");
  Bon.Reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(ResultObjectLifetimeTest, ResultObjectHandedOutThroughDispatchCountsToo) {
  Model.Edit([](model::ModelState& S) { S.departments[2].name = "BREAD"; });
  Variant Result;
  {
    ComPtr<IDispatch> Disp = ConnectedFprn().As<IDispatch>();
    ASSERT_TRUE(Disp);
    Variant Nom(LONG(2));
    ASSERT_EQ(DispCallByName(Disp.Get(), u"GetDeprtmentTotals", DISPATCH_METHOD,
                             std::span<VARIANT>(static_cast<VARIANT*>(&Nom), 1), &Result),
              S_OK);
  }
  ASSERT_EQ(Result.vt, VT_DISPATCH);
  ASSERT_NE(Result.pdispVal, nullptr);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  Variant Name;
  ASSERT_EQ(DispCallByName(Result.pdispVal, u"Description", DISPATCH_PROPERTYGET, {}, &Name), S_OK);
  EXPECT_EQ(BstrView(Name.bstrVal), u"BREAD");
  VariantClear(&Result);
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace fp
