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

namespace fp::test {
namespace {

using test::TFprnProbe;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

BStr W(const std::string& Cp1251) { return BStr(Cp1251ToWide(Cp1251)); }

// One executed command: its byte and its data.
using TTraceEntry = std::pair<uint8_t, std::string>;

class ReceiptFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FModel.Edit([](model::ModelState& S) {
      S.departments[1].vat = 0xC1;
      S.departments[1].name = "BREAD";
      S.plus[5].vat = 0xC0;
      S.plus[5].priceCents = 150;
      S.plus[5].name = "Cheese";
    });
    FObj = TFprnProbe::Create(Module);
  }
  void TearDown() override { FObj->Release(); }

  void ConnectPty(model::PtyEndpoint& Pty) {
    ASSERT_TRUE(TComPortNames::SetMapping("COM7", Pty.SlavePath()));
    LONG res = 7;
    ASSERT_EQ(FObj->Init(7, 115200, 1, 0, W("").Get(), &res), S_OK);
    ASSERT_EQ(res, 0) << Message();
    FModel.ClearRequests();
  }
  void ConnectTcp(model::TcpEndpoint& Tcp) {
    LONG res = 7;
    ASSERT_EQ(FObj->InitTCP(W(Tcp.Host()).Get(), Tcp.Port(), 1, 0, W("").Get(), &res), S_OK);
    ASSERT_EQ(res, 0) << Message();
    FModel.ClearRequests();
  }

  std::string Message() {
    BStr m;
    FObj->get_LastErrorMessage(m.Out());
    return BstrToAnsi(m.Get());
  }

  void StartBon(LONG BonType, LONG Numbering) {
    LONG res = 7;
    BStr e = W("");
    ASSERT_EQ(FObj->StartBon(BonType, Numbering, 1, W("Ivan").Get(), W("0000").Get(), 1, e.Get(), e.Get(), e.Get(),
                             e.Get(), e.Get(), e.Get(), e.Get(), e.Get(), &res),
              S_OK);
    ASSERT_EQ(res, 0) << Message();
  }
  void EndBon() {
    LONG res = 7;
    ASSERT_EQ(FObj->EndBon(&res), S_OK);
    ASSERT_EQ(res, 0) << Message();
  }
  // Runs one method with a Res and expects success.
  template <class F>
  void Ok(F&& Call) {
    LONG res = 7;
    ASSERT_EQ(Call(&res), S_OK);
    ASSERT_EQ(res, 0) << Message();
  }

  // A fiscal receipt with a sale of each kind, a discount, a text line, two payments and a
  // barcode: 2.40 + 2.50 + 3.00 - 10% of 3.00 = 7.60.
  void PrintFiscalReceipt() {
    StartBon(2, 0);
    Ok([&](LONG* R) { return FObj->AddPLU(W("1").Get(), W("Water").Get(), 1.2, 2, 2, R); });
    Ok([&](LONG* R) { return FObj->AddDeprtPlu(W("2").Get(), W("Bread").Get(), 1, 2.5, 1, 2, R); });
    Ok([&](LONG* R) { return FObj->AddProgPlu(5, 1, 2, 0, 1, R); });
    Ok([&](LONG* R) { return FObj->AddDiscount(1, -10, R); });
    Ok([&](LONG* R) { return FObj->AddLine(W("Thank you").Get(), W("").Get(), 1, R); });
    Ok([&](LONG* R) { return FObj->AddPayment(2, W("").Get(), 5, 1, R); });
    Ok([&](LONG* R) { return FObj->AddPayment(1, W("").Get(), 2.6, 1, R); });
    Ok([&](LONG* R) { return FObj->AddBarcode(W("12345670").Get(), 2, 10, 0, R); });
    EndBon();
  }

  std::vector<TTraceEntry> Trace() const {
    std::vector<TTraceEntry> out;
    for (const auto& r : FModel.Requests())
      if (r.frameOk && !r.repeat) out.emplace_back(r.cmd, r.data);
    return out;
  }

  void ExpectFiscalReceiptPrinted() {
    const auto state = FModel.State();
    ASSERT_FALSE(state.open.has_value());
    ASSERT_EQ(state.closed.size(), 1u);
    const auto& r = state.closed.back();
    EXPECT_FALSE(r.cancelled);
    ASSERT_EQ(r.items.size(), 3u);
    EXPECT_EQ(r.items[0].amountCents, 240);
    EXPECT_EQ(r.items[1].department, 1);
    EXPECT_EQ(r.items[1].amountCents, 250);
    EXPECT_EQ(r.items[2].plu, 5);
    EXPECT_EQ(r.items[2].amountCents, 270);
    ASSERT_EQ(r.payments.size(), 2u);
    EXPECT_EQ(r.payments[0].letter, 'N');
    EXPECT_EQ(r.payments[0].amountCents, 500);
    EXPECT_EQ(r.payments[1].letter, 'P');
    EXPECT_EQ(r.payments[1].amountCents, 260);
    EXPECT_EQ(r.TotalCents(), 760);
    EXPECT_THAT(r.texts, ElementsAre("Thank you"));
    EXPECT_THAT(r.barcodes, ElementsAre("2;12345670"));
    // The department was as the sale asked: not programmed again.
    EXPECT_EQ(state.departments.at(1).name, "BREAD");

    EXPECT_EQ(FObj->FBonType, 0);
    EXPECT_EQ(FObj->FReceiptTotal, 0);
    EXPECT_EQ(FObj->FPaidTotal, 0);
  }

  test::TScopedTempRegistry FRegistry;
  test::TScopedFakeDevices FNoMachinePorts;
  model::PrinterModel FModel;
  static inline TComModule Module;
  TFprnProbe* FObj = nullptr;
};

const std::vector<TTraceEntry> kFiscalReceiptTrace = {
    {0x4A, "W"},            // StartBon: status
    {0x66, "1,0000,Ivan"},  // operator
    {0x30, "1,0000,1"},     // open
    {0x31,
     "1\nWater\t\xC1"
     "1.20*2.000"},
    {0x57, "1"},  // the department as the printer holds it
    {0x31, "2\nBread\t1\t2.50"},
    {0x6B, "R5"},  // the article as the printer holds it
    {0x3A, "5\t1\t*2.000"},
    {0x91, "P,-10.00"},
    {0x36, "Thank you"},
    {0x35, "\tN+5.00"},
    {0x35, "\tP+2.60"},
    {0x2B, "B80"},  // barcode height 10 mm
    {0x54, "2;12345670"},
    {0x4A, "W"},  // EndBon: status
    {0x4C, "T"},  // the payments so far
    {0x38, ""},   // close
};

TEST_F(ReceiptFlowTest, FiscalReceiptOverPty) {
  model::PtyEndpoint pty(FModel);
  ConnectPty(pty);
  PrintFiscalReceipt();
  EXPECT_THAT(Trace(), ElementsAreArray(kFiscalReceiptTrace));
  ExpectFiscalReceiptPrinted();
}

TEST_F(ReceiptFlowTest, FiscalReceiptOverTcpGivesTheSameTrace) {
  model::TcpEndpoint tcp(FModel);
  ConnectTcp(tcp);
  PrintFiscalReceipt();
  EXPECT_THAT(Trace(), ElementsAreArray(kFiscalReceiptTrace));
  ExpectFiscalReceiptPrinted();
}

TEST_F(ReceiptFlowTest, NonFiscalReceiptLayout) {
  model::PtyEndpoint pty(FModel);
  ConnectPty(pty);
  StartBon(1, 1);
  Ok([&](LONG* R) { return FObj->AddPLU(W("12").Get(), W("Bread").Get(), 2.5, 2, 2, R); });
  Ok([&](LONG* R) { return FObj->AddProgPlu(5, 1, -1, 0, 1, R); });
  Ok([&](LONG* R) { return FObj->AddDiscount(2, -10, R); });
  Ok([&](LONG* R) { return FObj->AddLine(W("Come again").Get(), W("BOLD").Get(), 1, R); });
  Ok([&](LONG* R) { return FObj->AddPayment(1, W("").Get(), 10, 1, R); });
  EndBon();

  const std::vector<std::string> golden = {
      "12               2,000 x 2,50",    "Bread                  5,00 \xC1",
      "5               -1,000 x 1,50",    "Cheese                -1,50 \xC0",
      "REFUND                   1.50",    "SUBSUM                   3,50",
      "DISCOUNT -10,00%      -0,35 \xC0", "Come again",
      "----------------------------",     "TOTAL                    3,15",
      "----------------------------",     "Paid P",
      "Cash                    10,00",    "CHANGE                   6,85",
  };
  const auto state = FModel.State();
  ASSERT_EQ(state.closed.size(), 1u);
  EXPECT_EQ(state.closed.back().kind, model::ReceiptKind::NonFiscal);
  EXPECT_THAT(state.closed.back().texts, ElementsAreArray(golden));
  EXPECT_EQ(FObj->FBonType, 0);
}

}  // namespace
}  // namespace fp::test
