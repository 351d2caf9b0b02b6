// The receipt lifecycle against the printer model over a pty: StartBon for every receipt
// type, the unique sale number, refund data, invoice ranges, EndBon with its checks and
// resets, VoidCurrentReciept, SetRefundParams and AddUniqueSellNom.
#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "library/automation/FprnModelTestSupport.h"

namespace fp::test {
namespace {

using model::ReceiptKind;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

using test::kNotInit;

class ReceiptTest : public test::TFprnModelTest {
 protected:
  // A printer on COM7, connected; ONLINE mode when Online.
  model::PrinterModel& Connect(bool Online) {
    auto& p = AddPrinter(7);
    if (Online) p.Model.SetModeWord("1.00ONLINE");
    EXPECT_EQ(Init(7), 0) << Message();
    p.Model.ClearRequests();
    return p.Model;
  }
  static auto W(const std::string& S) { return BStr(Utf8ToWide(S)); }
  LONG AddPLU(double Price, double Quantity = 1) {
    LONG res = 99;
    EXPECT_EQ(FObj->AddPLU(W("1").Get(), W("Bread").Get(), Price, Quantity, 2, &res), S_OK);
    return res;
  }
  LONG AddPayment(double Amount) {
    LONG res = 99;
    EXPECT_EQ(FObj->AddPayment(1, W("Cash").Get(), Amount, 1, &res), S_OK);
    return res;
  }
  LONG SetRefundParams(LONG FiscalBlock, LONG Reason, LONG ReceiptNo, const std::string& Date,
                       const std::string& Invoice = "") {
    LONG res = 99;
    EXPECT_EQ(FObj->SetRefundParams(FiscalBlock, Reason, ReceiptNo, W(Date).Get(), W(Invoice).Get(), &res), S_OK);
    return res;
  }
  LONG AddUniqueSellNom(const std::string& S) {
    LONG res = 99;
    EXPECT_EQ(FObj->AddUniqueSellNom(W(S).Get(), &res), S_OK);
    return res;
  }
  LONG Void() {
    LONG res = 99;
    EXPECT_EQ(FObj->VoidCurrentReciept(&res), S_OK);
    return res;
  }
  static TBuyer Buyer(const std::string& Number) {
    TBuyer b;
    b.Number = Number;
    b.TaxNumber = "123456789";
    b.VatNumber = "BG123456789";
    b.Company = "Firma OOD";
    b.City = "Sofia";
    b.Address = "Street 1";
    b.Mol = "Georgi";
    b.Receiver = "Petar";
    return b;
  }
  static constexpr const char* kBuyerBlock = "123456789\t\tPetar\tFirma OOD\tBG123456789\tSofia\nStreet 1";
};

// ---------------------------------------------------------------------------------------
// StartBon

TEST_F(ReceiptTest, UnknownBonTypeSucceedsAndOpensNothing) {
  auto& m = Connect(false);
  EXPECT_EQ(StartBon(9), 0) << Message();
  EXPECT_EQ(O().FBonType, 9);
  EXPECT_FALSE(m.State().open.has_value());
  EXPECT_THAT(m.Commands(), ElementsAre(0x4A, 0x66));  // status and operator only
  EXPECT_THAT(LogText(), HasSubstr("StartBon success. Bon type=9"));
  // The call line writes no password.
  EXPECT_THAT(LogText(), HasSubstr("StartBon. BonType=9 CashierName='Ivan' CashierPass='***' CashierPOS='1' "
                                   "CashierNo='3' InvNumber='' InvTaxNumber=''"));
  EXPECT_EQ(EndBon(), 0);
}

TEST_F(ReceiptTest, FiscalAndNonFiscalOpeningsWithoutOnlineMode) {
  auto& m = Connect(false);
  ASSERT_EQ(StartBon(2), 0) << Message();
  EXPECT_THAT(test::RequestData(m, 0x30), ElementsAre("3,0000,1"));
  EXPECT_FALSE(O().FNonFiscalOpen);
  ASSERT_EQ(EndBon(), 0) << Message();
  EXPECT_EQ(m.State().closed.back().kind, ReceiptKind::Fiscal);

  ASSERT_EQ(StartBon(1), 0) << Message();
  EXPECT_TRUE(O().FNonFiscalOpen);
  EXPECT_EQ(m.State().open->kind, ReceiptKind::NonFiscal);
  ASSERT_EQ(EndBon(), 0) << Message();
  EXPECT_FALSE(m.State().open.has_value());
  EXPECT_TRUE(O().FNonFiscalOpen);  // kept until the next StartBon
  EXPECT_EQ(O().FBonType, 0);
}

TEST_F(ReceiptTest, DefaultOperatorNameAndNamesCutToTheLineLength) {
  auto& m = Connect(false);
  ASSERT_EQ(StartBon(9, 3, ""), 0) << Message();
  // Receipt word 1 in Bulgarian, a blank and the operator number.
  EXPECT_EQ(m.State().operators.at(3).name, "\xce\xef\xe5\xf0\xe0\xf2\xee\xf0 1 3");
  ASSERT_EQ(StartBon(9, 4, std::string(40, 'N')), 0) << Message();
  EXPECT_EQ(m.State().operators.at(4).name, std::string(29, 'N'));
}

TEST_F(ReceiptTest, OperatorRefusedIsOnlyLogged) {
  auto& m = Connect(false);
  m.ScriptNext(0x66, model::ReplyBits(model::Bits({model::bit::SyntaxError})));
  EXPECT_EQ(StartBon(2), 0) << Message();
  EXPECT_THAT(LogText(), HasSubstr("Set operator failed."));
  EXPECT_TRUE(m.State().open.has_value());
}

TEST_F(ReceiptTest, LeftoverReceiptIsCancelledBeforeTheNewOneOpens) {
  auto& m = Connect(false);
  ASSERT_EQ(StartBon(2), 0);
  ASSERT_EQ(StartBon(2), 0) << Message();
  const auto s = m.State();
  ASSERT_EQ(s.closed.size(), 1u);
  EXPECT_TRUE(s.closed[0].cancelled);
  EXPECT_TRUE(s.open.has_value());
}

TEST_F(ReceiptTest, LeftoverReceiptThatCannotBeEndedFailsTheOpening) {
  auto& m = Connect(false);
  ASSERT_EQ(StartBon(1), 0);
  m.ClearRequests();
  m.ScriptNext(0x27, model::ReplyBits(model::Bits({model::bit::NotAllowed})));
  EXPECT_EQ(StartBon(2), -1);
  EXPECT_EQ(Code(), 216);
  EXPECT_THAT(Message(), StartsWith("[StartBon] [CancelRec]"));
  // Nothing after the failed close: no operator, no opening.
  EXPECT_EQ(m.Commands().back(), 0x27);
  EXPECT_EQ(O().FBonType, 1);
}

TEST_F(ReceiptTest, FailedStartBonKeepsTheEarlierTypeButFillsTheBuyer) {
  Connect(false);
  ASSERT_EQ(StartBon(9), 0);
  EXPECT_EQ(StartBon(5, 3, "Ivan", Buyer("")), -1);
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[StartBon] Refund not supported. ");
  EXPECT_EQ(O().FBonType, 9);
  EXPECT_EQ(O().FClientData.Text[0], "Firma OOD");
  EXPECT_EQ(O().FClientData.Text[2], "123456789");
}

TEST_F(ReceiptTest, RefundAndCreditNoteRefusedWithoutOnlineMode) {
  auto& m = Connect(false);
  ASSERT_EQ(SetRefundParams(12345, 2, 17, ""), 0) << Message();
  for (LONG type : {5, 6}) {
    m.ClearRequests();
    EXPECT_EQ(StartBon(type, 3, "Ivan", Buyer("500")), -1);
    EXPECT_EQ(Code(), 502);
    EXPECT_EQ(Message(), "[StartBon] Refund not supported. ");
    // Refused before anything is sent: 502 means just that.
    EXPECT_TRUE(m.Commands().empty()) << type;
    EXPECT_FALSE(m.State().open.has_value());
  }
}

TEST_F(ReceiptTest, GeneratedUniqueSaleNumberOnAnOnlinePrinter) {
  auto& m = Connect(true);
  m.Edit([](model::ModelState& S) { S.allReceipts = 123; });
  ASSERT_EQ(StartBon(2, 3), 0) << Message();
  EXPECT_EQ(O().FFiskParam.UniqueSellNo, "AB123456-0003-0000124");
  EXPECT_THAT(test::RequestData(m, 0x90), ElementsAre("Ivan,AB123456-0003-0000124"));
  EXPECT_EQ(O().FFiskParam.OperNo, 3);
  EXPECT_EQ(O().FFiskParam.OperName, "Ivan");
  ASSERT_EQ(EndBon(), 0) << Message();
  EXPECT_EQ(LastUniqueSellNo(), "AB123456-0003-0000124");
  EXPECT_EQ(O().FFiskParam.UniqueSellNo, "");

  // The next receipt gets a number of its own.
  ASSERT_EQ(StartBon(2, 12), 0) << Message();
  EXPECT_EQ(O().FFiskParam.UniqueSellNo, "AB123456-0012-0000125");
}

TEST_F(ReceiptTest, ExtendedOpeningRefusedCarriesItsTag) {
  auto& m = Connect(true);
  m.ScriptNext(0x90, model::ReplyBits(model::Bits({model::bit::SyntaxError})));
  EXPECT_EQ(StartBon(2), -1);
  EXPECT_THAT(Message(), StartsWith("[StartBon] [FPR_OpenFiscBonEx]"));
  EXPECT_EQ(O().FBonType, 0);
}

TEST_F(ReceiptTest, NoConnectionAndPrinterErrorState) {
  EXPECT_EQ(StartBon(2), -1);
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[StartBon] " + kNotInit + " ");
  auto& m = Connect(false);
  m.SetStatusBit(model::bit::NoPaper);
  EXPECT_EQ(StartBon(2), -1);
  EXPECT_EQ(Code(), 210);
  EXPECT_THAT(Message(), StartsWith("[StartBon] "));
}

// ---------------------------------------------------------------------------------------
// AddUniqueSellNom

TEST_F(ReceiptTest, GivenSaleNumberIsUsedOnceAndReported) {
  auto& m = Connect(true);
  EXPECT_EQ(AddUniqueSellNom("AB123456-0003-0000124"), 0);
  EXPECT_THAT(LogText(), HasSubstr("AddUniqueSellNom.  New sell nom:  \"AB123456-0003-0000124\"."));
  ASSERT_EQ(StartBon(2), 0) << Message();
  EXPECT_THAT(test::RequestData(m, 0x90), ElementsAre("Ivan,AB123456-0003-0000124"));
  ASSERT_EQ(EndBon(), 0) << Message();
  EXPECT_EQ(LastUniqueSellNo(), "AB123456-0003-0000124");
  ASSERT_EQ(StartBon(2), 0) << Message();
  EXPECT_EQ(O().FFiskParam.UniqueSellNo, "AB123456-0003-0000002");
}

// An empty number takes back one kept from an opening that failed unsent: the next opening
// makes its own.
TEST_F(ReceiptTest, EmptySaleNumberTakesBackAKeptOne) {
  auto& m = Connect(true);
  EXPECT_EQ(AddUniqueSellNom("AB123456-0003-0000777"), 0);
  m.SetStatusBit(model::bit::NoPaper);
  ASSERT_EQ(StartBon(2), -1);
  m.ClearStatusBits();
  EXPECT_EQ(AddUniqueSellNom(""), 0);
  EXPECT_EQ(Code(), 0);
  ASSERT_EQ(StartBon(2), 0) << Message();
  const auto sent = test::RequestData(m, 0x90);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_THAT(sent[0], Not(HasSubstr("0000777")));
  ASSERT_EQ(EndBon(), 0) << Message();
  EXPECT_NE(LastUniqueSellNo(), "AB123456-0003-0000777");
}

TEST_F(ReceiptTest, RefusedSaleNumberIsOnlyLogged) {
  const struct {
    const char* Number;
    const char* Reason;
  } cases[] = {
      {"AB 1", "Invalid characters is sell nom."},
      {"AB_1", "Invalid characters is sell nom."},
      {"", "Sell nom \"\" is invalid."},
  };
  Connect(true);
  for (const auto& c : cases) {
    O().FFiskParam.UniqueSellNo = "OLD-1";
    EXPECT_EQ(AddUniqueSellNom(c.Number), 0);
    EXPECT_EQ(Code(), 0);
    EXPECT_EQ(Message(), "");
    EXPECT_EQ(O().FFiskParam.UniqueSellNo, "");
    EXPECT_THAT(LogText(),
                HasSubstr(std::string("AddUniqueSellNom. failed. \"") + c.Reason + "\". Program will generate one."));
  }
}

TEST_F(ReceiptTest, SaleNumberWithoutConnectionIsOnlyLogged) {
  EXPECT_EQ(AddUniqueSellNom("AB1"), 0);
  EXPECT_EQ(Code(), 0);
  EXPECT_THAT(LogText(), HasSubstr("AddUniqueSellNom. failed. \"" + kNotInit + "\". Program will generate one."));
}

// ---------------------------------------------------------------------------------------
// Refund data

TEST_F(ReceiptTest, RefundOnAnOnlinePrinter) {
  auto& m = Connect(true);
  m.Edit([](model::ModelState& S) { S.allReceipts = 123; });
  ASSERT_EQ(SetRefundParams(12345, 2, 17, "05/03/2024 10:15:00"), 0) << Message();
  const TFiskParam& f = O().FFiskParam;
  EXPECT_EQ(f.RefundFMNo, "00012345");
  EXPECT_EQ(f.RefundReceiptNo, 17);
  EXPECT_EQ(f.RefundReason, 'R');
  EXPECT_EQ(f.RefundInvoiceNo, 0);
  EXPECT_EQ(f.RefundFiscalNo, "50123456");
  EXPECT_TRUE(f.IsRefund);
  EXPECT_THAT(LogText(), HasSubstr("Refund date:2024-03-05T10:15:00"));

  ASSERT_EQ(StartBon(5), 0) << Message();
  // From another fiscal memory: the date of the refunded receipt goes along.
  EXPECT_THAT(test::RequestData(m, 0x90),
              ElementsAre("Ivan,AB123456-0003-0000124,S,00012345,R,17,2024-03-05T10:15:00"));
  EXPECT_EQ(m.State().open->kind, ReceiptKind::Refund);
  ASSERT_EQ(AddPLU(2.5), 0) << Message();
  ASSERT_EQ(AddPayment(2.5), 0) << Message();
  ASSERT_EQ(EndBon(), 0) << Message();
  EXPECT_TRUE(test::RequestData(m, 0x39).empty());  // a refund receipt has no buyer block
  EXPECT_FALSE(O().FFiskParam.IsRefund);
  EXPECT_EQ(O().FFiskParam.RefundFMNo, "");
  EXPECT_EQ(O().FFiskParam.RefundReason, '0');
  EXPECT_EQ(LastUniqueSellNo(), "AB123456-0003-0000124");
}

TEST_F(ReceiptTest, CreditNoteOnAnOnlinePrinterWithTheBuyerBlock) {
  auto& m = Connect(true);
  ASSERT_EQ(SetRefundParams(50123456, 3, 9, "", "77"), 0) << Message();
  ASSERT_EQ(StartBon(6, 3, "Ivan", Buyer("500")), 0) << Message();
  // The credit-note range still has numbers: the printer's own is used.
  EXPECT_THAT(test::RequestData(m, 0x42), ElementsAre("S"));
  EXPECT_THAT(LogText(),
              HasSubstr("UpdateInvoiceRange. Cant't set new range for credit note. Old range not exhausted"));
  // Same fiscal memory: the data end after the receipt number.
  EXPECT_THAT(test::RequestData(m, 0x90), ElementsAre("Ivan,AB123456-0003-0000001,S,50123456,T,9"));
  ASSERT_EQ(AddPLU(3), 0) << Message();
  ASSERT_EQ(AddPayment(3), 0) << Message();
  ASSERT_EQ(EndBon(), 0) << Message();
  EXPECT_THAT(test::RequestData(m, 0x39), ElementsAre(kBuyerBlock));
  EXPECT_FALSE(m.State().closed.back().cancelled);
}

TEST_F(ReceiptTest, RefusedRefundDataLeaveTheStoredOnesUntouched) {
  Connect(true);
  ASSERT_EQ(SetRefundParams(1111, 1, 5, "01/02/2024"), 0) << Message();
  const struct {
    LONG Reason, ReceiptNo;
    const char* Date;
    std::string Text;
  } cases[] = {
      {4, 17, "", "Reason : \"4 is invalid. Valid values are 1,2 or 3."},
      {2, 0, "", "Reciept nom \"0\" is invalid ."},
      {2, 17, "2024-03-05", "Invoice date : \"2024-03-05\" is invalid."},
      {2, 17, "31/02/2024", "Invoice date : \"31/02/2024\" is invalid."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SetRefundParams(12345, c.Reason, c.ReceiptNo, c.Date), -1);
    EXPECT_EQ(Code(), 502);
    EXPECT_EQ(Message(), "[SetRefundParams failed] " + c.Text + " ");
    const TFiskParam& f = O().FFiskParam;
    EXPECT_EQ(f.RefundFMNo, "00001111");
    EXPECT_EQ(f.RefundReceiptNo, 5);
    EXPECT_EQ(f.RefundReason, 'O');
    EXPECT_TRUE(f.IsRefund);
  }
  EXPECT_THAT(LogText(), HasSubstr("SetRefundParams. FiscalBlock: \"1111\", Reason: \"1\", \", InvDate: "
                                   "\"01/02/2024\", \", InvoiceNom: \"\", \", RecieptNo: \"5\"."));
  EXPECT_THAT(LogText(), HasSubstr("Refund date:2024-02-01T00:00:00"));
}

TEST_F(ReceiptTest, RefundDataWithoutConnection) {
  EXPECT_EQ(SetRefundParams(1, 1, 1, ""), -1);
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[SetRefundParams failed] " + kNotInit + " ");
}

// A receipt opened and never closed with EndBon (a receipt file that failed in the middle)
// leaves its refund data and sale number behind; the next receipt must not inherit them.
TEST_F(ReceiptTest, SaleNumberAndRefundDataBelongToOneReceipt) {
  auto& m = Connect(true);
  ASSERT_EQ(SetRefundParams(12345, 2, 17, ""), 0);
  ASSERT_EQ(StartBon(5), 0) << Message();
  const std::string first = O().FFiskParam.UniqueSellNo;
  // ... the receipt fails here; no EndBon. The next one is a plain receipt.
  ASSERT_EQ(StartBon(2), 0) << Message();
  const auto openings = test::RequestData(m, 0x90);
  ASSERT_EQ(openings.size(), 2u);
  EXPECT_EQ(openings[0], "Ivan," + first + ",S,00012345,R,17");
  EXPECT_EQ(m.State().open->kind, ReceiptKind::Fiscal);
  EXPECT_FALSE(O().FFiskParam.IsRefund);
  const std::string second = O().FFiskParam.UniqueSellNo;
  EXPECT_NE(second, first);
  EXPECT_EQ(openings[1], "Ivan," + second);

  // What is given again after the abandoned receipt is kept for the next one.
  ASSERT_EQ(AddUniqueSellNom("AB123456-0003-0000777"), 0);
  ASSERT_EQ(SetRefundParams(12345, 3, 18, ""), 0);
  ASSERT_EQ(StartBon(5), 0) << Message();
  EXPECT_EQ(test::RequestData(m, 0x90).back(), "Ivan,AB123456-0003-0000777,S,00012345,T,18");
  ASSERT_EQ(EndBon(), 0) << Message();
  EXPECT_EQ(LastUniqueSellNo(), "AB123456-0003-0000777");
}

// The refund data and the sale number given for a receipt serve its first opening that
// goes to the printer: an attempt that fails before its opening is sent leaves them for
// the retry, which opens the refund (or credit note) the caller asked for, and EndBon
// reports the caller's number.
TEST_F(ReceiptTest, RetryAfterAFailureBeforeTheOpeningCarriesTheGivenData) {
  const auto refused = model::ReplyBits(model::Bits({model::bit::SyntaxError}));
  const struct {
    const char* Name;
    LONG BonType;
    std::string CashierName;  // the first attempt's; the retry gives "Ivan"
    std::function<void(model::PrinterModel&)> Fail;
  } cases[] = {
      {"no answer", 5, "Ivan",
       [](model::PrinterModel& M) { M.InjectNext(model::Fault::Silence, model::OnCommand(0x4A).Times(1000000)); }},
      {"cashier name refused", 5, "Ivanov, I.", [](model::PrinterModel&) {}},
      {"no paper", 5, "Ivan", [](model::PrinterModel& M) { M.SetStatusBit(model::bit::NoPaper); }},
      {"no paper, credit note", 6, "Ivan", [](model::PrinterModel& M) { M.SetStatusBit(model::bit::NoPaper); }},
      {"last document unreadable", 5, "Ivan", [&](model::PrinterModel& M) { M.ScriptNext(0x71, refused); }},
      {"credit-note range unreadable", 6, "Ivan", [&](model::PrinterModel& M) { M.ScriptNext(0x42, refused); }},
      {"leftover receipt not ended", 5, "Ivan",
       [&](model::PrinterModel& M) {
         M.Edit([](model::ModelState& S) {
           model::Receipt r;
           r.kind = ReceiptKind::NonFiscal;
           S.open = r;
         });
         M.ScriptNext(0x27, model::ReplyBits(model::Bits({model::bit::NotAllowed})));
       }},
  };
  const std::string given = "AB123456-0003-0000777";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FPrinters.clear();
    TComPortNames::RemoveMapping("COM7");
    auto& m = Connect(true);
    // Another fiscal memory: the date and the invoice number go along.
    ASSERT_EQ(SetRefundParams(12345, 2, 17, "05/03/2024 10:15:00", "77"), 0) << Message();
    ASSERT_EQ(AddUniqueSellNom(given), 0);
    c.Fail(m);
    ASSERT_EQ(StartBon(c.BonType, 3, c.CashierName, Buyer("500")), -1);
    EXPECT_TRUE(test::RequestData(m, 0x90).empty());
    EXPECT_FALSE(m.State().open.has_value() && m.State().open->kind != ReceiptKind::NonFiscal);
    m.ClearFaults();
    m.ClearStatusBits();

    ASSERT_EQ(StartBon(c.BonType, 3, "Ivan", Buyer("500")), 0) << Message();
    EXPECT_THAT(test::RequestData(m, 0x90), ElementsAre("Ivan," + given + ",S,00012345,R,17,2024-03-05T10:15:00,77"));
    EXPECT_EQ(m.State().open->kind, ReceiptKind::Refund);
    ASSERT_EQ(AddPLU(2.5), 0) << Message();
    ASSERT_EQ(AddPayment(2.5), 0) << Message();
    ASSERT_EQ(EndBon(), 0) << Message();
    EXPECT_EQ(LastUniqueSellNo(), given);
  }
}

// An opening that went to the printer has used up the data, whatever its answer (the
// printer may have opened the receipt): a retry without new refund data is refused before
// anything is sent, never opened as a sale; given again, they serve the next opening.
TEST_F(ReceiptTest, OpeningRefusedByThePrinterUsesUpTheData) {
  for (LONG bonType : {5, 6}) {
    SCOPED_TRACE(bonType);
    FPrinters.clear();
    TComPortNames::RemoveMapping("COM7");
    auto& m = Connect(true);
    ASSERT_EQ(SetRefundParams(12345, 2, 17, ""), 0) << Message();
    ASSERT_EQ(AddUniqueSellNom("AB123456-0003-0000777"), 0);
    m.ScriptNext(0x90, model::ReplyBits(model::Bits({model::bit::SyntaxError})));
    ASSERT_EQ(StartBon(bonType, 3, "Ivan", Buyer("500")), -1);
    EXPECT_EQ(Code(), 208);  // the printer refused: no receipt open
    m.ClearRequests();

    EXPECT_EQ(StartBon(bonType, 3, "Ivan", Buyer("500")), -1);
    EXPECT_EQ(Code(), 201);
    EXPECT_EQ(Message(), "[StartBon] Invalid input data. [RefundParams] ");
    EXPECT_TRUE(m.Commands().empty());
    EXPECT_FALSE(m.State().open.has_value());

    ASSERT_EQ(SetRefundParams(12345, 2, 18, ""), 0) << Message();
    ASSERT_EQ(StartBon(bonType, 3, "Ivan", Buyer("500")), 0) << Message();
    const std::string opening = test::RequestData(m, 0x90).back();
    EXPECT_EQ(opening, "Ivan," + O().FFiskParam.UniqueSellNo + ",S,00012345,R,18");
    EXPECT_NE(O().FFiskParam.UniqueSellNo, "AB123456-0003-0000777");
  }
}

// What the extended opening would refuse before sending (here the reason O for a receipt
// of another fiscal memory) is refused before the operator step sends anything: 201 then
// means that nothing was sent, and the data are not used up.
TEST_F(ReceiptTest, ExtendedOpeningThePrinterCannotTakeIsRefusedBeforeAnythingIsSent) {
  auto& m = Connect(true);
  ASSERT_EQ(SetRefundParams(12345, 1, 17, ""), 0) << Message();
  EXPECT_EQ(StartBon(5), -1);
  EXPECT_EQ(Code(), 201);
  EXPECT_EQ(Message(), "[StartBon] [FPR_OpenFiscBonEx]Invalid input data. Reason \"O\" is invalid for this device. ");
  EXPECT_TRUE(test::RequestData(m, 0x66).empty());
  EXPECT_TRUE(test::RequestData(m, 0x90).empty());
  EXPECT_TRUE(O().FFiskParam.IsRefund);
}

TEST_F(ReceiptTest, RefundOrCreditNoteWithoutRefundDataIsRefusedUnsent) {
  auto& m = Connect(true);
  for (LONG bonType : {5, 6}) {
    EXPECT_EQ(StartBon(bonType, 3, "Ivan", Buyer("500")), -1);
    EXPECT_EQ(Code(), 201);
    EXPECT_EQ(Message(), "[StartBon] Invalid input data. [RefundParams] ");
    EXPECT_TRUE(m.Commands().empty());
    EXPECT_FALSE(m.State().open.has_value());
    EXPECT_EQ(O().FBonType, 0);
  }
}

// An opening of another type never carries refund data and drops them: after a refund
// that failed before its opening, a plain sale is a sale, and a later refund needs its
// data given again.
TEST_F(ReceiptTest, OtherOpeningAfterAFailedRefundCarriesNoRefundData) {
  for (LONG other : {2, 1, 9}) {
    SCOPED_TRACE(other);
    FPrinters.clear();
    TComPortNames::RemoveMapping("COM7");
    auto& m = Connect(true);
    ASSERT_EQ(SetRefundParams(12345, 2, 17, ""), 0) << Message();
    m.SetStatusBit(model::bit::NoPaper);
    ASSERT_EQ(StartBon(5), -1);
    m.ClearStatusBits();
    ASSERT_EQ(StartBon(other), 0) << Message();
    EXPECT_FALSE(O().FFiskParam.IsRefund);
    if (other == 2) {
      EXPECT_THAT(test::RequestData(m, 0x90), ElementsAre("Ivan," + O().FFiskParam.UniqueSellNo));
      EXPECT_EQ(m.State().open->kind, ReceiptKind::Fiscal);
    }
    ASSERT_EQ(EndBon(), 0) << Message();
    EXPECT_EQ(StartBon(5), -1);
    EXPECT_EQ(Code(), 201);
    EXPECT_THAT(Message(), HasSubstr("[RefundParams]"));
  }
}

// A sale number given to a printer that is not in the ONLINE mode never reaches it: the
// plain opening has no place for it, so EndBon reports none.
TEST_F(ReceiptTest, SaleNumberIsNotReportedWhereItWasNeverSent) {
  auto& m = Connect(false);
  ASSERT_EQ(AddUniqueSellNom("AB123456-0003-0000124"), 0);
  ASSERT_EQ(StartBon(2), 0) << Message();
  ASSERT_EQ(AddPLU(2.5), 0) << Message();
  ASSERT_EQ(AddPayment(2.5), 0) << Message();
  ASSERT_EQ(EndBon(), 0) << Message();
  EXPECT_FALSE(m.State().closed.back().cancelled);
  EXPECT_EQ(LastUniqueSellNo(), "");
}

// Arguments that the printer would take wrongly are refused before anything is sent: an
// operator number outside 0..65535 (it would wrap), and texts that would shift the fields
// after them (a cashier name is followed by the sale number in the extended opening, a
// password by the name in the operator command, the buyer's texts by each other).
TEST_F(ReceiptTest, ArgumentsThatWouldGoOutWronglyAreRefusedUnsent) {
  TBuyer tabCompany = Buyer("500");
  tabCompany.Company = "Firma\tOOD";
  TBuyer lfTown = Buyer("500");
  lfTown.City = "So\nfia";
  const struct {
    bool Online;
    LONG BonType, CashierNo;
    std::string Name, Pass;
    TBuyer B;
    const char* Argument;
  } cases[] = {
      {false, 2, -1, "Ivan", "0000", {}, "CashierNo"},
      {false, 2, 65536, "Ivan", "0000", {}, "CashierNo"},
      {true, 2, 3, "Ivanov, I.", "0000", {}, "CashierName"},
      {true, 5, 3, "Ivanov, I.", "0000", {}, "CashierName"},
      // Without the ONLINE mode the fiscal opening carries the password: a number.
      {false, 2, 3, "Ivan", "12,34", {}, "CashierPass"},
      {false, 3, 3, "Ivan", "12a", Buyer("500"), "CashierPass"},
      {false, 3, 3, "Ivan", "0000", tabCompany, "InvCompany"},
      {true, 6, 3, "Ivan", "0000", lfTown, "InvCity"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Argument);
    FPrinters.clear();
    TComPortNames::RemoveMapping("COM7");
    auto& m = Connect(c.Online);
    EXPECT_EQ(StartBon(c.BonType, c.CashierNo, c.Name, c.B, c.Pass), -1);
    EXPECT_EQ(Code(), 201);
    EXPECT_EQ(Message(), std::string("[StartBon] Invalid input data. [") + c.Argument + "] ");
    EXPECT_TRUE(m.Commands().empty());
  }
  // A comma in the name is no separator where the name is the last field: the operator
  // command of a printer that is not in the ONLINE mode takes it as given.
  FPrinters.clear();
  TComPortNames::RemoveMapping("COM7");
  auto& m = Connect(false);
  ASSERT_EQ(StartBon(2, 3, "Ivanov, I."), 0) << Message();
  EXPECT_EQ(m.State().operators.at(3).name, "Ivanov, I.");
}

// ---------------------------------------------------------------------------------------
// Invoices and their number range

TEST_F(ReceiptTest, InvoiceWithTheBuyerBlockAndTheRangeUpdate) {
  for (bool online : {false, true}) {
    for (LONG type : {3, 4}) {
      SCOPED_TRACE(std::to_string(type) + (online ? " online" : ""));
      FPrinters.clear();
      TComPortNames::RemoveMapping("COM7");
      auto& m = Connect(online);
      // The printer's invoice range is used up.
      m.Edit([](model::ModelState& S) { S.invoices = {1, 100, 101}; });
      ASSERT_EQ(StartBon(type, 3, "Ivan", Buyer("1000")), 0) << Message();
      EXPECT_THAT(test::RequestData(m, 0x42), ElementsAre("", "1000,1001"));
      EXPECT_THAT(LogText(), HasSubstr("New  range for invoice added. From 1000 to 1001"));
      if (online) {
        EXPECT_THAT(test::RequestData(m, 0x90), ElementsAre("Ivan,AB123456-0003-0000001,I"));
        EXPECT_TRUE(O().FFiskParam.IsInvoice);
        EXPECT_EQ(O().FFiskParam.InvoiceNo, 1000);
      } else {
        EXPECT_THAT(test::RequestData(m, 0x30), ElementsAre("3,0000,1,I"));
      }
      EXPECT_EQ(m.State().open->invoiceNo, 1000);
      ASSERT_EQ(AddPLU(4.2), 0) << Message();
      ASSERT_EQ(AddPayment(5), 0) << Message();
      ASSERT_EQ(EndBon(), 0) << Message();
      EXPECT_THAT(test::RequestData(m, 0x39), ElementsAre(kBuyerBlock));
      const auto s = m.State();
      ASSERT_FALSE(s.closed.empty());
      EXPECT_EQ(s.closed.back().kind, ReceiptKind::Invoice);
      EXPECT_FALSE(s.closed.back().cancelled);
    }
  }
}

TEST_F(ReceiptTest, InvoiceNumberKeptByTheRangeThatStillHasNumbers) {
  auto& m = Connect(false);
  m.Edit([](model::ModelState& S) { S.invoices = {1, 100, 42}; });
  ASSERT_EQ(StartBon(3, 3, "Ivan", Buyer("1000")), 0) << Message();
  EXPECT_THAT(test::RequestData(m, 0x42), ElementsAre(""));
  EXPECT_THAT(LogText(), HasSubstr("UpdateInvoiceRange. Cant't set new range for invoice. Old range not exhausted"));
  EXPECT_EQ(m.State().open->invoiceNo, 42);
}

TEST_F(ReceiptTest, InvoiceNumberZeroOrNoNumberSetsNoRange) {
  for (const char* number : {"0", "-5", "12a"}) {
    SCOPED_TRACE(number);
    FPrinters.clear();
    TComPortNames::RemoveMapping("COM7");
    auto& m = Connect(false);
    m.Edit([](model::ModelState& S) { S.invoices = {1, 100, 101}; });
    StartBon(3, 3, "Ivan", Buyer(number));
    // Only the read: a range 0..1 would make the printer issue invoice number 0.
    EXPECT_THAT(test::RequestData(m, 0x42), ElementsAre(""));
    EXPECT_THAT(LogText(), HasSubstr(std::string("UpdateInvoiceRange. New invoice num \"") + number +
                                     "\"is invalid integer value"));
  }
}

TEST_F(ReceiptTest, InvoiceRangeThatCannotBeReadFailsTheOpening) {
  auto& m = Connect(true);
  const std::pair<LONG, std::string> cases[] = {{3, "invoice"}, {6, "credit note"}};
  for (const auto& [BonType, Name] : cases) {
    ASSERT_EQ(SetRefundParams(12345, 2, 17, ""), 0) << Message();
    m.ScriptNext(0x42, model::ReplyBits(model::Bits({model::bit::SyntaxError})));
    EXPECT_EQ(StartBon(BonType, 3, "Ivan", Buyer("1000")), -1);
    EXPECT_EQ(Code(), 502);
    EXPECT_THAT(Message(), StartsWith("[StartBon] Update new " + Name + " nom failed. "));
    EXPECT_FALSE(m.State().open.has_value());
  }
}

// ---------------------------------------------------------------------------------------
// EndBon

TEST_F(ReceiptTest, UnderpaidReceiptIsClosedWithCashAndEndBonFails) {
  auto& m = Connect(false);
  ASSERT_EQ(StartBon(2), 0);
  ASSERT_EQ(AddPLU(12.5), 0) << Message();
  ASSERT_EQ(AddPayment(10), 0) << Message();
  EXPECT_EQ(EndBon(), -1);
  // Not 502: the cleanup went to the printer (here it printed the receipt).
  EXPECT_EQ(Code(), 200);
  EXPECT_EQ(Message(), "[EndBon failed] Payments are not enough. TotalSum:12.50; Tender:10.00) ");
  // The printer could no longer cancel it: the rest was paid in cash and the receipt closed.
  const auto s = m.State();
  ASSERT_FALSE(s.open.has_value());
  EXPECT_FALSE(s.closed.back().cancelled);
  EXPECT_EQ(s.closed.back().TenderCents(), 1250);
  EXPECT_THAT(LogText(), HasSubstr("The open receipt was closed with the rest of 2.50 paid in cash."));
  EXPECT_EQ(O().FBonType, 0);
}

TEST_F(ReceiptTest, UnpaidReceiptIsCancelledAndEndBonFails) {
  auto& m = Connect(false);
  ASSERT_EQ(StartBon(2), 0);
  ASSERT_EQ(AddPLU(12.345), 0) << Message();
  EXPECT_EQ(EndBon(), -1);
  EXPECT_EQ(Message(), "[EndBon failed] Payments are not enough. TotalSum:12.35; Tender:0.00) ");
  EXPECT_TRUE(m.State().closed.back().cancelled);
  EXPECT_THAT(LogText(), HasSubstr("The open receipt was cancelled."));
}

TEST_F(ReceiptTest, WithoutTenderInTheAnswerThePrintersCloseDecides) {
  auto& m = Connect(false);
  ASSERT_EQ(StartBon(2), 0);
  ASSERT_EQ(AddPLU(12.5), 0) << Message();
  m.ScriptNext(0x4C, model::Reply("1,1,1250"));
  EXPECT_EQ(EndBon(), -1);
  // Not the payment check: the printer refused to close an unpaid receipt.
  EXPECT_NE(Code(), 502);
  EXPECT_THAT(Message(), Not(HasSubstr("Payments are not enough")));
  EXPECT_THAT(test::RequestData(m, 0x38), ElementsAre(""));
}

TEST_F(ReceiptTest, DuplicateAfterTheClosingAndItsRefusal) {
  auto& m = Connect(true);
  ASSERT_EQ(FObj->put_PrintInvDublicate(1), S_OK);
  ASSERT_EQ(StartBon(2), 0);
  const std::string number = O().FFiskParam.UniqueSellNo;
  ASSERT_EQ(EndBon(), 0) << Message();
  EXPECT_TRUE(m.State().closed.back().duplicatePrinted);
  EXPECT_THAT(LogText(), HasSubstr("Print receipt duplicate. /Receipt completed without error!/"));
  EXPECT_EQ(LastUniqueSellNo(), number);

  ASSERT_EQ(StartBon(2), 0);
  m.ScriptNext(0x6D, model::ReplyBits(model::Bits({model::bit::NotAllowed})));
  EXPECT_EQ(EndBon(), -1);
  EXPECT_EQ(Code(), 256);
  EXPECT_THAT(Message(), StartsWith("[EndBon failed] Only one copy can be printed! [1/1]"));
  EXPECT_FALSE(m.State().open.has_value());  // the receipt itself is closed
  EXPECT_EQ(LastUniqueSellNo(), number);     // the number of the earlier receipt stays
}

// Every outcome that leaves no receipt open on the printer (a failure that leaves it open
// keeps the receipt: ReceiptWhoseCloseFailedIsClosedByASecondEndBon).
TEST_F(ReceiptTest, EndBonResetsTheReceiptStateOnEveryOutcome) {
  enum Outcome { Closed, NoConnection, Underpaid, DuplicateRefused };
  for (Outcome outcome : {Closed, NoConnection, Underpaid, DuplicateRefused}) {
    SCOPED_TRACE(static_cast<int>(outcome));
    FPrinters.clear();
    TComPortNames::RemoveMapping("COM7");
    auto& m = Connect(true);
    ASSERT_EQ(SetRefundParams(12345, 2, 17, ""), 0);
    ASSERT_EQ(StartBon(2), 0) << Message();
    ASSERT_EQ(AddPLU(12.5), 0) << Message();
    ASSERT_EQ(AddPayment(outcome == Underpaid ? 10 : 12.5), 0) << Message();
    if (outcome == NoConnection) Close();
    if (outcome == DuplicateRefused) {
      ASSERT_EQ(FObj->put_PrintInvDublicate(1), S_OK);
      m.ScriptNext(0x6D, model::ReplyBits(model::Bits({model::bit::NotAllowed})));
    }
    EXPECT_EQ(EndBon(), outcome == Closed ? 0 : -1) << Message();
    EXPECT_EQ(O().FBonType, 0);
    EXPECT_EQ(O().FReceiptTotal, 0);
    EXPECT_EQ(O().FPaidTotal, 0);
    EXPECT_EQ(O().FFiskParam.UniqueSellNo, "");
    EXPECT_FALSE(O().FFiskParam.IsRefund);
    EXPECT_EQ(O().FFiskParam.RefundFMNo, "");
    // The last sale stays readable.
    EXPECT_EQ(O().FLastPrice, 12.5);
  }
}

TEST_F(ReceiptTest, EndBonWithNoReceiptOpenOnThePrinterSucceeds) {
  auto& m = Connect(true);
  ASSERT_EQ(StartBon(2), 0);
  ASSERT_EQ(EndBon(), 0);
  const std::string last = LastUniqueSellNo();
  ASSERT_EQ(StartBon(2), 0);
  EXPECT_EQ(Void(), 0) << Message();
  EXPECT_TRUE(m.State().closed.back().cancelled);
  EXPECT_EQ(O().FBonType, 0);  // nor has the object a receipt now
  m.ClearRequests();
  EXPECT_EQ(EndBon(), 0) << Message();
  EXPECT_EQ(O().FBonType, 0);
  EXPECT_EQ(LastUniqueSellNo(), last);
  EXPECT_THAT(m.Commands(), ElementsAre(0x4A, 0x4C));
  EXPECT_THAT(LogText(), HasSubstr("Receipt completed"));
}

// A paid receipt whose EndBon failed while the printer kept it open stays the object's
// receipt: a second EndBon closes it as the first would have, an invoice with its buyer
// block, and reports the sale number its opening carried.
TEST_F(ReceiptTest, ReceiptWhoseCloseFailedIsClosedByASecondEndBon) {
  const struct {
    const char* Name;
    std::function<void(model::PrinterModel&)> Fail;
  } cases[] = {
      {"no paper before the close", [](model::PrinterModel& M) { M.SetStatusBit(model::bit::NoPaper); }},
      {"close refused",
       [](model::PrinterModel& M) { M.ScriptNext(0x38, model::ReplyBits(model::Bits({model::bit::NoPaper}))); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FPrinters.clear();
    TComPortNames::RemoveMapping("COM7");
    auto& m = Connect(true);
    ASSERT_EQ(AddUniqueSellNom("AB123456-0003-0000777"), 0);
    ASSERT_EQ(StartBon(3, 3, "Ivan", Buyer("500")), 0) << Message();
    ASSERT_EQ(AddPLU(3), 0) << Message();
    ASSERT_EQ(AddPayment(3), 0) << Message();
    c.Fail(m);
    ASSERT_EQ(EndBon(), -1);
    EXPECT_EQ(Code(), 210);
    ASSERT_TRUE(m.State().open.has_value());
    EXPECT_EQ(O().FBonType, 3);
    EXPECT_EQ(O().FReceiptTotal, 3);
    EXPECT_EQ(O().FPaidTotal, 3);
    m.ClearStatusBits();

    ASSERT_EQ(EndBon(), 0) << Message();
    EXPECT_FALSE(m.State().open.has_value());
    EXPECT_FALSE(m.State().closed.back().cancelled);
    EXPECT_EQ(m.State().closed.back().kind, ReceiptKind::Invoice);
    EXPECT_EQ(test::RequestData(m, 0x39).back(), kBuyerBlock);
    EXPECT_EQ(LastUniqueSellNo(), "AB123456-0003-0000777");
    EXPECT_EQ(O().FBonType, 0);
  }
}

// A receipt kept after a failed EndBon goes with the next StartBon (which ends it on the
// printer first) and with VoidCurrentReciept.
TEST_F(ReceiptTest, KeptReceiptGoesWithTheNextStartBonOrAVoid) {
  for (bool byVoid : {false, true}) {
    SCOPED_TRACE(byVoid ? "void" : "StartBon");
    FPrinters.clear();
    TComPortNames::RemoveMapping("COM7");
    auto& m = Connect(false);
    ASSERT_EQ(StartBon(3, 3, "Ivan", Buyer("500")), 0) << Message();
    ASSERT_EQ(AddPLU(3), 0) << Message();
    m.SetStatusBit(model::bit::NoPaper);
    ASSERT_EQ(EndBon(), -1);
    ASSERT_EQ(O().FBonType, 3);
    m.ClearStatusBits();
    if (byVoid) {
      ASSERT_EQ(Void(), 0) << Message();
      EXPECT_EQ(O().FBonType, 0);
      EXPECT_EQ(O().FReceiptTotal, 0);
    } else {
      ASSERT_EQ(StartBon(2), 0) << Message();
      EXPECT_EQ(O().FBonType, 2);
      EXPECT_EQ(m.State().open->kind, ReceiptKind::Fiscal);
    }
    EXPECT_TRUE(m.State().closed.back().cancelled);
  }
}

// The password goes only to the operator step where no opening carries it (the extended
// opening of the ONLINE mode, the non-fiscal opening, a type that opens nothing): one that
// step cannot send skips it with its log line, and the receipt opens.
TEST_F(ReceiptTest, PasswordThatCannotBeSentSkipsOnlyTheOperatorStep) {
  const struct {
    bool Online;
    LONG BonType;
  } cases[] = {{true, 2}, {true, 3}, {true, 5}, {false, 1}, {false, 9}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.BonType) + (c.Online ? " online" : ""));
    FPrinters.clear();
    TComPortNames::RemoveMapping("COM7");
    auto& m = Connect(c.Online);
    if (c.BonType == 5) {
      ASSERT_EQ(SetRefundParams(12345, 2, 17, ""), 0) << Message();
    }
    EXPECT_EQ(StartBon(c.BonType, 3, "Ivan", Buyer("500"), "12,34"), 0) << Message();
    EXPECT_EQ(O().FBonType, c.BonType);
    EXPECT_TRUE(test::RequestData(m, 0x66).empty());
    EXPECT_EQ(m.State().open.has_value(), c.BonType != 9);
    EXPECT_THAT(LogText(), HasSubstr("Set operator failed.Invalid input data. [OperPwd]"));
  }
}

TEST_F(ReceiptTest, VoidWithoutConnection) {
  EXPECT_EQ(Void(), -1);
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[VoidCurrentReciept failed] " + kNotInit + " ");
}

}  // namespace
}  // namespace fp::test
