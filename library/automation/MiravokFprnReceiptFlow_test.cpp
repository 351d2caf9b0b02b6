// Whole receipts through the automation object against the printer model, over a pty
// mapped to a COM port and over TCP on 127.0.0.1.
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "library/automation/FprnModelTestSupport.h"
#include "library/automation/MiravokFprnUnit.h"
#include "platform/ComPortNames.h"
#include "platform/Cp1251.h"
#include "tests/support/PortTestSupport.h"
#include "platform/com/ComPtr.h"
#include "tests/printermodel/PrinterModel.h"

namespace fp {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using test::TFprnProbe;

BStr W(const std::string& Cp1251) { return BStr(Cp1251ToWide(Cp1251)); }

// One executed command: its byte and its data.
using TTraceEntry = std::pair<uint8_t, std::string>;

class ReceiptFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Model.Edit([](model::ModelState& S) {
      S.departments[1].vat = 0xC1;
      S.departments[1].name = "BREAD";
      S.plus[5].vat = 0xC0;
      S.plus[5].priceCents = 150;
      S.plus[5].name = "Cheese";
    });
    Obj = TFprnProbe::Create(Module);
  }
  void TearDown() override { Obj->Release(); }

  void ConnectPty(model::PtyEndpoint& Pty) {
    ASSERT_TRUE(TComPortNames::SetMapping("COM7", Pty.SlavePath()));
    LONG Res = 7;
    ASSERT_EQ(Obj->Init(7, 115200, 1, 0, W("").Get(), &Res), S_OK);
    ASSERT_EQ(Res, 0) << Message();
    Model.ClearRequests();
  }
  void ConnectTcp(model::TcpEndpoint& Tcp) {
    LONG Res = 7;
    ASSERT_EQ(Obj->InitTCP(W(Tcp.Host()).Get(), Tcp.Port(), 1, 0, W("").Get(), &Res), S_OK);
    ASSERT_EQ(Res, 0) << Message();
    Model.ClearRequests();
  }

  std::string Message() {
    BStr M;
    Obj->get_LastErrorMessage(M.Out());
    return BstrToAnsi(M.Get());
  }

  void StartBon(LONG BonType, LONG Numbering) {
    LONG Res = 7;
    BStr E = W("");
    ASSERT_EQ(Obj->StartBon(BonType, Numbering, 1, W("Ivan").Get(), W("0000").Get(), 1, E.Get(), E.Get(),
                            E.Get(), E.Get(), E.Get(), E.Get(), E.Get(), E.Get(), &Res),
              S_OK);
    ASSERT_EQ(Res, 0) << Message();
  }
  void EndBon() {
    LONG Res = 7;
    ASSERT_EQ(Obj->EndBon(&Res), S_OK);
    ASSERT_EQ(Res, 0) << Message();
  }
  // Runs one method with a Res and expects success.
  template <class F>
  void Ok(F&& Call) {
    LONG Res = 7;
    ASSERT_EQ(Call(&Res), S_OK);
    ASSERT_EQ(Res, 0) << Message();
  }

  // A fiscal receipt with a sale of each kind, a discount, a text line, two payments and a
  // barcode: 2.40 + 2.50 + 3.00 - 10% of 3.00 = 7.60.
  void PrintFiscalReceipt() {
    StartBon(2, 0);
    Ok([&](LONG* R) { return Obj->AddPLU(W("1").Get(), W("Water").Get(), 1.2, 2, 2, R); });
    Ok([&](LONG* R) { return Obj->AddDeprtPlu(W("2").Get(), W("Bread").Get(), 1, 2.5, 1, 2, R); });
    Ok([&](LONG* R) { return Obj->AddProgPlu(5, 1, 2, 0, 1, R); });
    Ok([&](LONG* R) { return Obj->AddDiscount(1, -10, R); });
    Ok([&](LONG* R) { return Obj->AddLine(W("Thank you").Get(), W("").Get(), 1, R); });
    Ok([&](LONG* R) { return Obj->AddPayment(2, W("").Get(), 5, 1, R); });
    Ok([&](LONG* R) { return Obj->AddPayment(1, W("").Get(), 2.6, 1, R); });
    Ok([&](LONG* R) { return Obj->AddBarcode(W("12345670").Get(), 2, 10, 0, R); });
    EndBon();
  }

  std::vector<TTraceEntry> Trace() const {
    std::vector<TTraceEntry> Out;
    for (const auto& R : Model.Requests())
      if (R.frameOk && !R.repeat) Out.emplace_back(R.cmd, R.data);
    return Out;
  }

  void ExpectFiscalReceiptPrinted() {
    const auto State = Model.State();
    ASSERT_FALSE(State.open.has_value());
    ASSERT_EQ(State.closed.size(), 1u);
    const auto& R = State.closed.back();
    EXPECT_FALSE(R.cancelled);
    ASSERT_EQ(R.items.size(), 3u);
    EXPECT_EQ(R.items[0].amountCents, 240);
    EXPECT_EQ(R.items[1].department, 1);
    EXPECT_EQ(R.items[1].amountCents, 250);
    EXPECT_EQ(R.items[2].plu, 5);
    EXPECT_EQ(R.items[2].amountCents, 270);
    ASSERT_EQ(R.payments.size(), 2u);
    EXPECT_EQ(R.payments[0].letter, 'N');
    EXPECT_EQ(R.payments[0].amountCents, 500);
    EXPECT_EQ(R.payments[1].letter, 'P');
    EXPECT_EQ(R.payments[1].amountCents, 260);
    EXPECT_EQ(R.TotalCents(), 760);
    EXPECT_THAT(R.texts, ElementsAre("Thank you"));
    EXPECT_THAT(R.barcodes, ElementsAre("2;12345670"));
    // The department was as the sale asked: not programmed again.
    EXPECT_EQ(State.departments.at(1).name, "BREAD");

    EXPECT_EQ(Obj->FBonType, 0);
    EXPECT_EQ(Obj->FReceiptTotal, 0);
    EXPECT_EQ(Obj->FPaidTotal, 0);
  }

  test::TScopedTempRegistry Registry;
  test::TScopedFakeDevices NoMachinePorts;
  model::PrinterModel Model;
  static inline TComModule Module;
  TFprnProbe* Obj = nullptr;
};

const std::vector<TTraceEntry> kFiscalReceiptTrace = {
    {0x4A, "W"},                       // StartBon: status
    {0x66, "1,0000,Ivan"},             // operator
    {0x30, "1,0000,1"},                // open
    {0x31, "1\nWater\t\xC1" "1.20*2.000"},
    {0x57, "1"},                       // the department as the printer holds it
    {0x31, "2\nBread\t1\t2.50"},
    {0x6B, "R5"},                      // the article as the printer holds it
    {0x3A, "5\t1\t*2.000"},
    {0x91, "P,-10.00"},
    {0x36, "Thank you"},
    {0x35, "\tN+5.00"},
    {0x35, "\tP+2.60"},
    {0x2B, "B80"},                     // barcode height 10 mm
    {0x54, "2;12345670"},
    {0x4A, "W"},                       // EndBon: status
    {0x4C, "T"},                       // the payments so far
    {0x38, ""},                        // close
};

TEST_F(ReceiptFlowTest, FiscalReceiptOverPty) {
  model::PtyEndpoint Pty(Model);
  ConnectPty(Pty);
  PrintFiscalReceipt();
  EXPECT_THAT(Trace(), ElementsAreArray(kFiscalReceiptTrace));
  ExpectFiscalReceiptPrinted();
}

TEST_F(ReceiptFlowTest, FiscalReceiptOverTcpGivesTheSameTrace) {
  model::TcpEndpoint Tcp(Model);
  ConnectTcp(Tcp);
  PrintFiscalReceipt();
  EXPECT_THAT(Trace(), ElementsAreArray(kFiscalReceiptTrace));
  ExpectFiscalReceiptPrinted();
}

TEST_F(ReceiptFlowTest, NonFiscalReceiptLayout) {
  model::PtyEndpoint Pty(Model);
  ConnectPty(Pty);
  StartBon(1, 1);
  Ok([&](LONG* R) { return Obj->AddPLU(W("12").Get(), W("Bread").Get(), 2.5, 2, 2, R); });
  Ok([&](LONG* R) { return Obj->AddProgPlu(5, 1, -1, 0, 1, R); });
  Ok([&](LONG* R) { return Obj->AddDiscount(2, -10, R); });
  Ok([&](LONG* R) { return Obj->AddLine(W("Come again").Get(), W("BOLD").Get(), 1, R); });
  Ok([&](LONG* R) { return Obj->AddPayment(1, W("").Get(), 10, 1, R); });
  EndBon();

  const std::vector<std::string> Golden = {
      "12               2,000 x 2,50",
      "Bread                  5,00 \xC1",
      "5               -1,000 x 1,50",
      "Cheese                -1,50 \xC0",
      "REFUND                   1.50",
      "SUBSUM                   3,50",
      "DISCOUNT -10,00%      -0,35 \xC0",
      "Come again",
      "----------------------------",
      "TOTAL                    3,15",
      "----------------------------",
      "Paid P",
      "Cash                    10,00",
      "CHANGE                   6,85",
  };
  const auto State = Model.State();
  ASSERT_EQ(State.closed.size(), 1u);
  EXPECT_EQ(State.closed.back().kind, model::ReceiptKind::NonFiscal);
  EXPECT_THAT(State.closed.back().texts, ElementsAreArray(Golden));
  EXPECT_EQ(Obj->FBonType, 0);
}

}  // namespace
}  // namespace fp
