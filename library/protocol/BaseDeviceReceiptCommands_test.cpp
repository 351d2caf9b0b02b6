#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/CommandTestSupport.h"
#include "tests/support/FakeDevice.h"
#include "library/protocol/OleDate.h"
#include "library/transport/RS232DeviceUnit.h"
#include "tests/printermodel/PrinterModel.h"

#include <gtest/gtest.h>

#include <functional>

namespace fp::test {
namespace {

using test::ExpectTestOrder;
using test::FailedWith;
using test::SentCommands;
using test::StatusWith;
using test::TBitTest;
using test::Text;
using Op = std::function<bool(TBaseDevice&)>;

// The status tests of the receipt commands, named after their meaning.
const TBitTest NoPaper{2, 0, true, 210}, Fault{0, 4, true, 219}, NonFiscOpen{2, 5, true, 215},
    NonFiscNotOpen{2, 5, false, 209}, FiscOpen{2, 3, true, 217}, FiscNotOpen{2, 3, false, 208},
    JournalEnd{2, 2, true, 224}, FmError{4, 0, true, 211}, FmFull{4, 4, true, 212}, FmWrite{5, 2, true, 214},
    FmLocked{5, 0, true, 213}, ClockNotSet{0, 2, true, 218}, TaxTerminal{1, 6, true, 231};
const std::vector<TBitTest> OpenTests = {NoPaper, Fault,    NonFiscOpen, FiscNotOpen, FmError,   FmFull,
                                         FmWrite, FmLocked, ClockNotSet, TaxTerminal, JournalEnd};
const std::vector<TBitTest> SaleTests = {NoPaper, Fault, NonFiscOpen, FiscNotOpen, JournalEnd};
const std::vector<TBitTest> DeptSaleTests = {NoPaper, NonFiscOpen, FiscNotOpen, JournalEnd, Fault};
const std::vector<TBitTest> PaymentTests = {NoPaper, Fault, NonFiscOpen};

// Status bytes with which every listed test passes.
TDataBuffer PassStatus(const std::vector<TBitTest>& Tests) {
  TDataBuffer s(6, 0x80);
  for (const TBitTest& t : Tests)
    if (!t.WhenSet) s[static_cast<size_t>(t.Byte)] |= static_cast<uint8_t>(1u << t.Bit);
  return s;
}

TFiskParam Fisk() {
  TFiskParam p;
  p.OperName = "Ivan";
  p.UniqueSellNo = "AB654321-0001-0000001";
  return p;
}

TFiskParam Refund(const std::string& FromFm, char Reason) {
  TFiskParam p = Fisk();
  p.IsRefund = true;
  p.RefundFMNo = FromFm;
  p.RefundFiscalNo = "02345678";
  p.RefundReason = Reason;
  p.RefundReceiptNo = 17;
  return p;
}

TClientData Client(const std::string& Town, const std::string& Address) {
  TClientData c;
  c.Text = {"Firm", "BG123", "123456789", Town, Address, "MOL", "Recv", "seven", "eight", ""};
  return c;
}

struct TReceiptRow {
  const char* Name;
  Op Call;
  uint8_t Cmd;
  std::string Data;
  std::vector<TBitTest> Tests;
  std::string Answer = "";
};

std::vector<TReceiptRow> ReceiptRows() {
  static int32_t a, f;
  static double sub;
  static std::array<double, 8> vat;
  static char code;
  static double amount2;
  TFiskParam otherFm = Refund("00012345", 'T');
  EXPECT_TRUE(TryEncodeOleDateTime(2026, 12, 8, 22, 53, 12, 0, otherFm.RefundDateTime));
  otherFm.RefundInvoiceNo = 55;
  TFiskParam invoice = Fisk();
  invoice.IsInvoice = true;
  invoice.IsRefund = true;  // not looked at for an invoice
  const std::vector<TBitTest> subTotalTests = {NoPaper, Fault, NonFiscOpen, FiscNotOpen};
  const std::vector<TBitTest> textTests = {NoPaper, Fault, NonFiscOpen, FiscNotOpen};
  const std::vector<TBitTest> clientTests = {NoPaper, FiscNotOpen, NonFiscOpen};
  const std::vector<TBitTest> printTests = {NoPaper, Fault};
  const std::string subtotal = "100,0,0,0,0,0,0,0,0";
  return {
      {"OpenFiscBon", [](TBaseDevice& D) { return D.FPR_OpenFiscBon(1, "0000", 2, false, a, f); }, 0x30, "1,0000,2",
       OpenTests, "10,5"},
      {"OpenFiscBonEmptyPwdInvoice", [](TBaseDevice& D) { return D.FPR_OpenFiscBon(1, "", 2, true, a, f); }, 0x30,
       "1,,2,I", OpenTests, "10,5"},
      {"OpenFiscBonEx", [](TBaseDevice& D) { return D.FPR_OpenFiscBonEx(Fisk(), a, f); }, 0x90,
       "Ivan,AB654321-0001-0000001", OpenTests, "10,5"},
      {"OpenFiscBonExInvoice", [invoice](TBaseDevice& D) { return D.FPR_OpenFiscBonEx(invoice, a, f); }, 0x90,
       "Ivan,AB654321-0001-0000001,I", OpenTests, "10,5"},
      {"OpenFiscBonExRefundSameFm", [](TBaseDevice& D) { return D.FPR_OpenFiscBonEx(Refund("02345678", 'O'), a, f); },
       0x90, "Ivan,AB654321-0001-0000001,S,02345678,O,17", OpenTests, "10,5"},
      {"OpenFiscBonExRefundOtherFm", [otherFm](TBaseDevice& D) { return D.FPR_OpenFiscBonEx(otherFm, a, f); }, 0x90,
       "Ivan,AB654321-0001-0000001,S,00012345,T,17,2026-12-08T22:53:12,55", OpenTests, "10,5"},
      {"OpenFiscBonExRefundOtherFmNoDate",
       [](TBaseDevice& D) { return D.FPR_OpenFiscBonEx(Refund("00012345", 'R'), a, f); }, 0x90,
       "Ivan,AB654321-0001-0000001,S,00012345,R,17", OpenTests, "10,5"},
      {"Sale", [](TBaseDevice& D) { return D.FPR_Sale("Milk", "", '\xC1', 1.5, 1, 0); }, 0x31,
       "Milk\t\xC1"
       "1.50",
       SaleTests},
      {"SaleSecondLineQtyPercent", [](TBaseDevice& D) { return D.FPR_Sale("", "Two", '\xC2', 2, 2.5, -10); }, 0x31,
       "\nTwo\t\xC2"
       "2.00*2.500,-10.00",
       SaleTests},
      {"SaleEscapedNegative", [](TBaseDevice& D) { return D.FPR_Sale("A\rB", "L2", '\xC0', -3.455, 1, 5); }, 0x31,
       "A\x10MB\nL2\t\xC0-3.46,5.00", SaleTests},
      {"SaleByDepartment", [](TBaseDevice& D) { return D.FPR_SaleByDepartment("Numb", "Name", 3, 1.999, 1, 0); }, 0x31,
       "Numb\nName\t3\t2.00", DeptSaleTests},
      {"SaleByDepartmentLowestPercent", [](TBaseDevice& D) { return D.FPR_SaleByDepartment("", "", 12, 5, 0.5, -99); },
       0x31, "\t12\t5.00*0.500,-99.00", DeptSaleTests},
      // Limits and the optional parts are judged on what is sent: 99.004 goes out as 99.00,
      // a percentage of 0.001 as nothing, a quantity of 1.0004 as nothing.
      {"SaleByDepartmentPercentAsSent",
       [](TBaseDevice& D) { return D.FPR_SaleByDepartment("", "", 12, 5, 1.0004, 99.004); }, 0x31, "\t12\t5.00,99.00",
       DeptSaleTests},
      {"SalePercentSentAsZero", [](TBaseDevice& D) { return D.FPR_Sale("Milk", "", '\xC1', 1.5, 1, 0.001); }, 0x31,
       "Milk\t\xC1"
       "1.50",
       SaleTests},
      {"SaleProgPluPercentAsSent", [](TBaseDevice& D) { return D.FPR_SaleProgPlu(false, 42, 0, 1, 99.994, false); },
       0x3A, "42,99.99", DeptSaleTests},
      // Texts in the last field go as given; a comma in a sale text ends nothing.
      {"SaleTextWithComma", [](TBaseDevice& D) { return D.FPR_Sale("Milk, fresh", "1,5 l", '\xC1', 1.5, 1, 0); }, 0x31,
       "Milk, fresh\n1,5 l\t\xC1"
       "1.50",
       SaleTests},
      // The second line ends only at the TAB: an LF in it shifts nothing.
      {"SaleSecondLineWithLf", [](TBaseDevice& D) { return D.FPR_Sale("1", "Milk\n1,5 l", '\xC1', 1.5, 1, 0); }, 0x31,
       "1\nMilk\n1,5 l\t\xC1"
       "1.50",
       SaleTests},
      {"OpenFiscBonExSaleNumberLast",
       [](TBaseDevice& D) {
         TFiskParam p = Fisk();
         p.UniqueSellNo = "AB,1";
         return D.FPR_OpenFiscBonEx(p, a, f);
       },
       0x90, "Ivan,AB,1", OpenTests, "10,5"},
      {"SaleProgPlu", [](TBaseDevice& D) { return D.FPR_SaleProgPlu(false, 42, 0, 1, 0, false); }, 0x3A, "42",
       DeptSaleTests},
      {"SaleProgPluDeptPercent", [](TBaseDevice& D) { return D.FPR_SaleProgPlu(true, 42, 3, 2, 99.99, false); }, 0x3A,
       "D42\t3\t*2.000,99.99", DeptSaleTests},
      {"SaleProgPluAbsolute", [](TBaseDevice& D) { return D.FPR_SaleProgPlu(false, 42, -1, 1, -150, true); }, 0x3A,
       "42;-150.00", DeptSaleTests},
      {"SubTotalPrint", [](TBaseDevice& D) { return D.FPR_SubTotal(true, false, false, sub, vat, 0); }, 0x33, "10",
       subTotalTests, subtotal},
      {"SubTotalAbsolute", [](TBaseDevice& D) { return D.FPR_SubTotal(false, true, true, sub, vat, 5); }, 0x33,
       "01;5.00", subTotalTests, subtotal},
      {"SubTotalPercent", [](TBaseDevice& D) { return D.FPR_SubTotal(false, false, true, sub, vat, -2.5); }, 0x33,
       "01,-2.50", subTotalTests, subtotal},
      {"DiscountAmount",
       [](TBaseDevice& D) { return D.FPR_DiscountLastItem(true, 1.5); },
       0x91,
       "A,1.50",
       {NoPaper, FiscNotOpen, NonFiscOpen}},
      {"DiscountPercent",
       [](TBaseDevice& D) { return D.FPR_DiscountLastItem(false, -10); },
       0x91,
       "P,-10.00",
       {NoPaper, FiscNotOpen, NonFiscOpen}},
      {"PaymentZero", [](TBaseDevice& D) { return D.FPR_Payment("", "", 'P', 0, code, amount2); }, 0x35, "\tP+0.00",
       PaymentTests, "D,0"},
      {"PaymentNegativeWithTexts", [](TBaseDevice& D) { return D.FPR_Payment("T1", "T2", 'C', -5, code, amount2); },
       0x35, "T1\nT2\tC-5.00", PaymentTests, "D,0"},
      {"PaymentRate",
       [](TBaseDevice& D) { return D.FPR_PaymentByCurrency("", "", 'D', 10, 1.95583, " EUR ", code, amount2); }, 0x35,
       "\tD+10.00,1.95583,EUR", PaymentTests, "D,0"},
      {"PaymentRateWhole",
       [](TBaseDevice& D) { return D.FPR_PaymentByCurrency("", "", 'D', 10, 2, "EUR", code, amount2); }, 0x35,
       "\tD+10.00,2,EUR", PaymentTests, "D,0"},
      // A rate within 0.000001 of 0 is no rate, 0.000001 itself included; a rate above it
      // is sent with up to six decimals.
      {"PaymentRateZero",
       [](TBaseDevice& D) { return D.FPR_PaymentByCurrency("", "", 'D', 10, 0.0000004, "EUR", code, amount2); }, 0x35,
       "\tD+10.00", PaymentTests, "D,0"},
      {"PaymentRateAtTheLimit",
       [](TBaseDevice& D) { return D.FPR_PaymentByCurrency("", "", 'D', 10, 0.000001, "EUR", code, amount2); }, 0x35,
       "\tD+10.00", PaymentTests, "D,0"},
      {"PaymentRateSmallest",
       [](TBaseDevice& D) { return D.FPR_PaymentByCurrency("", "", 'D', 10, 0.0000011, "EUR", code, amount2); }, 0x35,
       "\tD+10.00,0.000001,EUR", PaymentTests, "D,0"},
      // An amount that goes out as 0.00 takes the "+" of 0.
      {"PaymentNegativeZero", [](TBaseDevice& D) { return D.FPR_Payment("", "", 'P', -0.001, code, amount2); }, 0x35,
       "\tP+0.00", PaymentTests, "D,0"},
      {"PaymentRateLocal",
       [](TBaseDevice& D) { return D.FPR_PaymentByCurrency("", "", 'R', 10, -1, "EUR", code, amount2); }, 0x35,
       "\tR+10.00,L", PaymentTests, "D,0"},
      {"FiscText", [](TBaseDevice& D) { return D.FPR_PrintFiscText("Hello\tWorld\x01"); }, 0x36, "Hello\tWorld\x10\x41",
       textTests},
      {"ClientTownAddress", [](TBaseDevice& D) { return D.FPR_SetInvoiceClient(Client("Sofia", "Street 1")); }, 0x39,
       "123456789\t\tRecv\tFirm\tBG123\tSofia\nStreet 1", clientTests},
      {"ClientAddressOnly", [](TBaseDevice& D) { return D.FPR_SetInvoiceClient(Client("", "Street 1")); }, 0x39,
       "123456789\t\tRecv\tFirm\tBG123\tStreet 1", clientTests},
      {"ClientTownOnly", [](TBaseDevice& D) { return D.FPR_SetInvoiceClient(Client("Sofia", "")); }, 0x39,
       "123456789\t\tRecv\tFirm\tBG123\tSofia", clientTests},
      {"ClientNeither", [](TBaseDevice& D) { return D.FPR_SetInvoiceClient(Client("", "")); }, 0x39,
       "123456789\t\tRecv\tFirm\tBG123", clientTests},
      // The last field of the block goes as given: the address; the town without an
      // address; the VAT number without either.
      {"ClientLastFieldsAsGiven",
       [](TBaseDevice& D) { return D.FPR_SetInvoiceClient(Client("Sofia", "Street\t1\nback")); }, 0x39,
       "123456789\t\tRecv\tFirm\tBG123\tSofia\nStreet\t1\nback", clientTests},
      {"ClientTownLast", [](TBaseDevice& D) { return D.FPR_SetInvoiceClient(Client("So\nfia", "")); }, 0x39,
       "123456789\t\tRecv\tFirm\tBG123\tSo\nfia", clientTests},
      {"ClientVatNumberLast",
       [](TBaseDevice& D) {
         TClientData c = Client("", "");
         c.Text[1] = "BG\t123";
         return D.FPR_SetInvoiceClient(c);
       },
       0x39, "123456789\t\tRecv\tFirm\tBG\t123", clientTests},
      {"CloseFiscBon", [](TBaseDevice& D) { return D.FPR_CloseFiscBon(a, f); }, 0x38, "", PaymentTests, "11,6"},
      {"CancelFiscBon", [](TBaseDevice& D) { return D.FPR_CancelFiscBon(); }, 0x3C, "", printTests},
      {"PrintDuplicate",
       [](TBaseDevice& D) { return D.FPR_PrintDuplicate(); },
       0x6D,
       "1",
       {NoPaper, FiscOpen, NonFiscOpen}},
      {"OpenNonFiscBon",
       [](TBaseDevice& D) { return D.FPR_OpenNonFiscBon(a, f); },
       0x26,
       "",
       {NoPaper, Fault, NonFiscNotOpen, FiscOpen, ClockNotSet},
       "12"},
      {"NonFiscText", [](TBaseDevice& D) { return D.FPR_PrintNonFiscText("Text"); }, 0x2A, "Text", printTests},
      {"CloseNonFiscBon", [](TBaseDevice& D) { return D.FPR_CloseNonFiscBon(a); }, 0x27, "", printTests, "13"},
      {"BarcodeHri", [](TBaseDevice& D) { return D.FPR_PrintBarcode(1, "1234567", true); }, 0x54, "1,1234567",
       printTests},
      {"BarcodeNoHri", [](TBaseDevice& D) { return D.FPR_PrintBarcode(6, "ABC", false); }, 0x54, "6;ABC", printTests},
  };
}

TEST(ReceiptCommands, RequestBytes) {
  for (const TReceiptRow& r : ReceiptRows())
    test::ExpectSendsOnce(r.Name, r.Call, TFakeDevice::Answer(r.Answer, PassStatus(r.Tests)), r.Cmd, r.Data, 4);
}

// The own tests of every row fire in the order of its table, before CheckStatus.
TEST(ReceiptCommands, StatusTestOrder) {
  for (const TReceiptRow& r : ReceiptRows()) {
    SCOPED_TRACE(r.Name);
    ExpectTestOrder(r.Tests, r.Answer, r.Call);
    // The fiscal-mode and overflow bits are checked as well (1.1 first; the copy of the
    // last receipt reports its refusal under a code of its own).
    TDataBuffer s = PassStatus(r.Tests);
    s[1] |= 0x03;
    TFakeDevice d;
    d.Push(TFakeDevice::Answer(r.Answer, s));
    EXPECT_FALSE(r.Call(d));
    EXPECT_TRUE(FailedWith(d, r.Cmd == 0x6D ? 256 : 216, "[1/1]"));
  }
}

// Arguments the printer cannot take fail with 201 before anything is sent.
TEST(ReceiptCommands, ArgumentChecks) {
  int32_t a, f;
  char code;
  double amount2;
  auto ex = [&](TFiskParam P) { return [P, &a, &f](TBaseDevice& D) { return D.FPR_OpenFiscBonEx(P, a, f); }; };
  TFiskParam blank = Fisk();
  blank.UniqueSellNo = "   ";
  TFiskParam badReceipt = Refund("02345678", 'R');
  badReceipt.RefundReceiptNo = 0;
  TFiskParam badDate = Refund("00012345", 'R');
  badDate.RefundDateTime = 1e300;
  TClientData blankEik = Client("Sofia", "Street 1");
  blankEik.Text[2] = " \t ";
  TClientData shiftedCompany = Client("", "");
  shiftedCompany.Text[0] = "Firm\tLtd";
  TClientData shiftedVat = Client("", "Street 1");
  shiftedVat.Text[1] = "BG\t123";
  TFiskParam commaName = Fisk();
  commaName.OperName = "Ivanov, I.";
  TFiskParam commaSaleNo = Refund("02345678", 'R');
  commaSaleNo.UniqueSellNo = "AB,1";
  const std::pair<Op, std::string> cases[] = {
      {[&](TBaseDevice& D) { return D.FPR_OpenFiscBon(1, "12a", 1, false, a, f); }, "[OperPwd]"},
      {[&](TBaseDevice& D) { return D.FPR_OpenFiscBon(1, " 12", 1, false, a, f); }, "[OperPwd]"},
      {[](TBaseDevice& D) { return D.FPR_Sale("", "", '\xC8', 1, 1, 0); }, "[VatGrp]"},
      {[](TBaseDevice& D) { return D.FPR_Sale("", "", 'A', 1, 1, 0); }, "[VatGrp]"},
      {[](TBaseDevice& D) { return D.FPR_SaleByDepartment("", "", 0, 1, 0, 0); }, "[Qtty]"},
      {[](TBaseDevice& D) { return D.FPR_SaleByDepartment("", "", 0, 1, 1, 0); }, "[DepartNo]"},
      {[](TBaseDevice& D) { return D.FPR_SaleByDepartment("", "", 1, 1, 1, -99.5); }, "[Perc]"},
      {[](TBaseDevice& D) { return D.FPR_SaleByDepartment("", "", 1, 1, 1, 99.01); }, "[Perc]"},
      {[](TBaseDevice& D) { return D.FPR_SaleByDepartment("", "", 1, 1, 1, -99.005); }, "[Perc]"},
      {[](TBaseDevice& D) { return D.FPR_SaleByDepartment("", "", 1, 1, 0.0004, 0); }, "[Qtty]"},  // "0.000"
      {[](TBaseDevice& D) { return D.FPR_SaleProgPlu(false, 1, 0, 1, 99.995, false); }, "[Perc]"},
      // A text that another field follows must not hold the bytes that end it.
      {[](TBaseDevice& D) { return D.FPR_Sale("Mi\tlk", "", '\xC1', 1, 1, 0); }, "[Text]"},
      {[](TBaseDevice& D) { return D.FPR_Sale("Milk", "fresh\t", '\xC1', 1, 1, 0); }, "[Text]"},
      {[](TBaseDevice& D) { return D.FPR_SaleByDepartment("1\n2", "", 1, 1, 1, 0); }, "[Text]"},
      {[&](TBaseDevice& D) { return D.FPR_Payment("Cash\t", "", 'P', 1, code, amount2); }, "[Text]"},
      {[&](TBaseDevice& D) { return D.FPR_OpenFiscBon(1, "1,2", 1, false, a, f); }, "[OperPwd]"},
      {[shiftedCompany](TBaseDevice& D) { return D.FPR_SetInvoiceClient(shiftedCompany); }, "[Company]"},
      {[shiftedVat](TBaseDevice& D) { return D.FPR_SetInvoiceClient(shiftedVat); }, "[VATNumber]"},
      {[](TBaseDevice& D) { return D.FPR_SetInvoiceClient(Client("So\nfia", "Street 1")); }, "[Town]"},
      {ex(commaName), "[OperName]"},
      {ex(commaSaleNo), "[UniqueSellNo]# Ivan,"},
      {[](TBaseDevice& D) { return D.FPR_SaleProgPlu(false, 1, 0, 1, 100, false); }, "[Perc]"},
      {[](TBaseDevice& D) { return D.FPR_SaleProgPlu(false, 1, 0, 1, -100, false); }, "[Perc]"},
      {[&](TBaseDevice& D) { return D.FPR_Payment("", "", 'A', 1, code, amount2); }, "[PaidMode]"},
      {[&](TBaseDevice& D) { return D.FPR_Payment("", "", '\0', 1, code, amount2); }, "[PaidMode]"},
      {[&](TBaseDevice& D) { return D.FPR_PaymentByCurrency("", "", 'X', 1, 2, "EUR", code, amount2); }, "[PaidMode]"},
      {[blankEik](TBaseDevice& D) { return D.FPR_SetInvoiceClient(blankEik); }, "EIK"},
      {[](TBaseDevice& D) { return D.FPR_PrintBarcode(0, "1", true); }, "[BarcodeType]"},
      {[](TBaseDevice& D) { return D.FPR_PrintBarcode(7, "1", true); }, "[BarcodeType]"},
      {[](TBaseDevice& D) { return D.FPR_Sale("", "", '\xC0', std::numeric_limits<double>::quiet_NaN(), 1, 0); },
       "[Number]"},
      // The extended opening adds the request as far as it was built.
      {ex(blank), "[UniqueSellNo]# Ivan,"},
      {ex(Refund("02345678", 'X')), "Invalid reason \"X\"# Ivan,AB654321-0001-0000001,S,02345678,"},
      {ex(Refund("02345678", '\0')), "Invalid reason \"\"# Ivan,AB654321-0001-0000001,S,02345678,"},
      {ex(badReceipt), "Invalid reciept num  \"0\"# Ivan,AB654321-0001-0000001,S,02345678,R"},
      {ex(Refund("00012345", 'O')),
       "Reason \"O\" is invalid for this device.# Ivan,AB654321-0001-0000001,S,"
       "00012345,O,17"},
      {ex(badDate), "[RefundDateTime]# Ivan,AB654321-0001-0000001,S,00012345,R,17"},
  };
  for (const auto& [Call, Label] : cases) {
    TFakeDevice d;
    d.Push(TFakeDevice::Answer("", StatusWith({{2, 3}})));
    EXPECT_FALSE(Call(d)) << Label;
    EXPECT_EQ(d.FErrorCode, 201) << Label;
    EXPECT_EQ(d.FErrorText, TBaseDevice::ErrorCodeText(201, Label));
    EXPECT_TRUE(d.Calls.empty()) << Label;
  }
}

TEST(ReceiptCommands, OpenFiscBonExFailureCarriesTheAnswer) {
  int32_t a, f;
  TFakeDevice d;
  d.Push(TFakeDevice::Answer("E:12,x\xA2y", StatusWith({{2, 0}, {2, 3}})));
  EXPECT_FALSE(d.FPR_OpenFiscBonEx(Fisk(), a, f));
  EXPECT_TRUE(FailedWith(d, 210, "[2/0]"));
  EXPECT_EQ(d.FErrorText.substr(d.FErrorText.size() - 7), "# 12,xy");

  // A failed exchange reports the transport's text alone.
  d.Push(TFakeDevice::Failure(107, "T"));
  EXPECT_FALSE(d.FPR_OpenFiscBonEx(Fisk(), a, f));
  EXPECT_EQ(d.FErrorText, "T");
  // An answer made of marks only adds nothing.
  d.Push(TFakeDevice::Answer("E:", StatusWith({{2, 0}})));
  EXPECT_FALSE(d.FPR_OpenFiscBonEx(Fisk(), a, f));
  EXPECT_EQ(d.FErrorText, TBaseDevice::ErrorCodeText(210, "[2/0]") + " ");
}

TEST(ReceiptCommands, OpeningAndClosingAnswers) {
  int32_t a = -1, f = -1;
  TFakeDevice d;
  const TDataBuffer fiscal = StatusWith({{2, 3}}), nonFiscal = StatusWith({{2, 5}});
  // A refused opening answers nothing, with the receipt bit of the one already open.
  d.Push(TFakeDevice::Answer("", fiscal));
  EXPECT_FALSE(d.FPR_OpenFiscBon(1, "1", 1, false, a, f));
  EXPECT_TRUE(FailedWith(d, 217, "[2/3]"));
  d.Push(TFakeDevice::Answer("", nonFiscal));
  EXPECT_FALSE(d.FPR_OpenNonFiscBon(a, f));
  EXPECT_TRUE(FailedWith(d, 215, "[2/5]"));

  d.Push(TFakeDevice::Answer("120,45", fiscal));
  ASSERT_TRUE(d.FPR_OpenFiscBon(1, "1", 1, false, a, f));
  EXPECT_EQ(a, 120);
  EXPECT_EQ(f, 45);
  f = 9;
  d.Push(TFakeDevice::Answer("121", nonFiscal));
  ASSERT_TRUE(d.FPR_OpenNonFiscBon(a, f));
  EXPECT_EQ(a, 121);
  EXPECT_EQ(f, 0);

  struct Case {
    Op Call;
    std::string Answer;
    int32_t Code;
    const char* Label;
  };
  // Too few fields, or a field that is no number: 200 either way, since the command went to
  // the printer.
  const Case cases[] = {
      {[&](TBaseDevice& Dv) { return Dv.FPR_OpenFiscBon(1, "1", 1, false, a, f); }, "120", 200, ""},
      {[&](TBaseDevice& Dv) { return Dv.FPR_OpenFiscBon(1, "1", 1, false, a, f); }, "x,45", 200, "[AllReceipt]"},
      {[&](TBaseDevice& Dv) { return Dv.FPR_OpenFiscBonEx(Fisk(), a, f); }, "120,y", 200, "[FiscReceipt]"},
      {[&](TBaseDevice& Dv) { return Dv.FPR_CloseFiscBon(a, f); }, "120,", 200, ""},
      {[&](TBaseDevice& Dv) { return Dv.FPR_CloseFiscBon(a, f); }, "120,4.5", 200, "[FiscReceipt]"},
      {[&](TBaseDevice& Dv) { return Dv.FPR_CloseNonFiscBon(a); }, "", 200, ""},
      {[&](TBaseDevice& Dv) { return Dv.FPR_CloseNonFiscBon(a); }, "n", 200, "[AllReceipt]"},
      {[&](TBaseDevice& Dv) { return Dv.FPR_OpenNonFiscBon(a, f); }, "n", 200, "[AllReceipt]"},
  };
  // The openings need their own bit; the closings need none.
  for (size_t k = 0; k < std::size(cases); ++k) {
    const Case& c = cases[k];
    TFakeDevice dv;
    dv.Push(TFakeDevice::Answer(c.Answer, k < 3 ? fiscal : (k == 7 ? nonFiscal : TDataBuffer(6, 0x80))));
    EXPECT_FALSE(c.Call(dv)) << k;
    EXPECT_TRUE(FailedWith(dv, c.Code, c.Label)) << k;
  }
}

TEST(ReceiptCommands, SubTotalSums) {
  const TDataBuffer fiscal = StatusWith({{2, 3}});
  double sub = -1;
  std::array<double, 8> vat;
  vat.fill(-1);
  TFakeDevice d;
  d.Push(TFakeDevice::Answer("1234,100,200,300,400,500,600,700", fiscal));
  ASSERT_TRUE(d.FPR_SubTotal(false, false, false, sub, vat, 0));
  EXPECT_DOUBLE_EQ(sub, 12.34);
  for (size_t n = 0; n < 7; ++n) EXPECT_DOUBLE_EQ(vat[n], n + 1.0) << n;
  EXPECT_EQ(vat[7], 0);  // no field: stays at its start value

  const std::pair<const char*, std::pair<int32_t, const char*>> cases[] = {
      {"1,2,3,4,5,6,7", {200, ""}},
      {"x,2,3,4,5,6,7,8", {200, "[SubTotal]"}},
      {"1,2,3,z,5,6,7,8", {200, "[VatGRP3]"}},
  };
  for (const auto& [Answer, Expected] : cases) {
    vat.fill(-1);
    d.Push(TFakeDevice::Answer(Answer, fiscal));
    EXPECT_FALSE(d.FPR_SubTotal(false, false, false, sub, vat, 0)) << Answer;
    EXPECT_TRUE(FailedWith(d, Expected.first, Expected.second)) << Answer;
    EXPECT_EQ(vat[7], 0) << Answer;
  }
}

TEST(ReceiptCommands, PaymentAnswers) {
  struct Case {
    const char* Answer;
    bool Ok;
    char Code;
    double Amount2;
    int32_t ErrorCode;
    const char* Label;
  };
  const Case cases[] = {
      {"D,1500", true, 'D', 15.0, 0, ""},       {"R", true, 'R', 0, 0, ""},
      {"F,100", false, 'F', 0, 250, "[F]"},     {"E", false, 'E', 0, 250, "[E]"},
      {"I,0", false, 'I', 0, 250, "[I]"},       {"", false, '\0', 0, 200, ""},
      {"R,x", false, 'R', 0, 200, "[Amount2]"},
  };
  for (const Case& c : cases) {
    TFakeDevice d;
    d.Push(TFakeDevice::Answer(c.Answer));
    char code = '?';
    double amount2 = -1;
    EXPECT_EQ(d.FPR_Payment("", "", 'P', 10, code, amount2), c.Ok) << c.Answer;
    EXPECT_EQ(code, c.Code) << c.Answer;
    EXPECT_DOUBLE_EQ(amount2, c.Amount2) << c.Answer;
    if (!c.Ok) {
      EXPECT_TRUE(FailedWith(d, c.ErrorCode, c.Label)) << c.Answer;
    }
  }
}

TEST(ReceiptCommands, DiscountFailureCarriesTheAnswer) {
  TFakeDevice d;
  d.Push(TFakeDevice::Answer("E:bad\xA2", StatusWith({{2, 0}, {2, 3}})));
  EXPECT_FALSE(d.FPR_DiscountLastItem(false, 5));
  EXPECT_EQ(d.FErrorText, TBaseDevice::ErrorCodeText(210, "[2/0]") + "#bad ");
}

TEST(ReceiptCommands, SecondDuplicateIs256) {
  TFakeDevice d;
  d.Push(TFakeDevice::Answer("", StatusWith({{1, 1}})));
  EXPECT_FALSE(d.FPR_PrintDuplicate());
  EXPECT_EQ(d.FErrorCode, 256);
  EXPECT_EQ(d.FErrorText.rfind("Only one copy can be printed! [1/1]", 0), 0u) << d.FErrorText;
  // Other refusals keep their own codes.
  d.Push(TFakeDevice::Answer("", StatusWith({{1, 0}})));
  EXPECT_FALSE(d.FPR_PrintDuplicate());
  EXPECT_TRUE(FailedWith(d, 223, "[1/0]"));
}

// ---------------------------------------------------------------------------------------
// The two composite operations, scripted.

struct TStep {
  uint8_t Cmd;
  std::string Data;
  TFakeDevice::TReply Reply;
};

// Runs Op with the replies of Steps and checks that exactly their requests went out.
void ExpectSequence(const std::vector<TStep>& Steps, const std::function<bool(TFakeDevice&)>& Op, bool Result,
                    TFakeDevice& D) {
  for (const TStep& s : Steps) D.Push(s.Reply);
  EXPECT_EQ(Op(D), Result) << D.FErrorText;
  ASSERT_EQ(D.Calls.size(), Steps.size());
  for (size_t k = 0; k < Steps.size(); ++k) {
    EXPECT_EQ(D.Calls[k].Cmd, Steps[k].Cmd) << k;
    EXPECT_EQ(Text(D.Calls[k].Data), Steps[k].Data) << k;
  }
}

TFakeDevice::TReply Ok(const std::string& Answer = "", TDataBuffer Status = TDataBuffer(6, 0x80)) {
  return TFakeDevice::Answer(Answer, std::move(Status));
}
const TDataBuffer Fiscal = StatusWith({{2, 3}});
const TDataBuffer NonFiscal = StatusWith({{2, 5}});
const TDataBuffer Idle(6, 0x80);
const TDataBuffer Refused = StatusWith({{0, 1}});

bool CloseOpen(TFakeDevice& D) { return D.FPR_CloseOpenReceipts(); }
bool CancelAll(TFakeDevice& D) { return D.FPR_CancelAllRec(); }

TEST(CloseOpenReceipts, Sequences) {
  {
    SCOPED_TRACE("nothing open: the status query only");
    TFakeDevice d;
    ExpectSequence({{0x4A, "W", Ok("", Idle)}}, CloseOpen, true, d);
  }
  {
    SCOPED_TRACE("non-fiscal receipt: closed");
    TFakeDevice d;
    ExpectSequence({{0x4A, "W", Ok("", NonFiscal)}, {0x27, "", Ok("7")}}, CloseOpen, true, d);
  }
  {
    SCOPED_TRACE("non-fiscal close refused");
    TFakeDevice d;
    ExpectSequence({{0x4A, "W", Ok("", NonFiscal)}, {0x27, "", Ok("", StatusWith({{2, 0}}))}}, CloseOpen, false, d);
    EXPECT_EQ(d.FErrorCode, 210);
  }
  {
    SCOPED_TRACE("fiscal receipt cancelled, the re-read confirms it");
    TFakeDevice d;
    ExpectSequence({{0x4A, "W", Ok("", Fiscal)}, {0x3C, "", Ok("", Fiscal)}, {0x4A, "W", Ok("", Idle)}}, CloseOpen,
                   true, d);
  }
  {
    SCOPED_TRACE("cancel refused, the receipt is paid: closed");
    TFakeDevice d;
    ExpectSequence({{0x4A, "W", Ok("", Fiscal)},
                    {0x3C, "", Ok("", StatusWith({{2, 3}, {1, 1}}))},
                    {0x4A, "W", Ok("", Fiscal)},
                    {0x38, "", Ok("5,3")}},
                   CloseOpen, true, d);
  }
  {
    SCOPED_TRACE("the re-read fails, so nothing confirms the receipt is gone");
    TFakeDevice d;
    ExpectSequence({{0x4A, "W", Ok("", Fiscal)},
                    {0x3C, "", Ok("", Fiscal)},
                    {0x4A, "W", TFakeDevice::Failure(107, "Fail read data from port. ")}},
                   CloseOpen, false, d);
    EXPECT_EQ(d.FErrorCode, 107);
    EXPECT_EQ(d.FErrorText, "Fail read data from port. ");
  }
  {
    SCOPED_TRACE("the first read fails");
    TFakeDevice d;
    ExpectSequence({{0x4A, "W", Ok("", Refused)}}, CloseOpen, false, d);
    EXPECT_EQ(d.FErrorCode, 204);
  }
  {
    SCOPED_TRACE("close refused: the receipt is paid up and closed at any cost");
    TFakeDevice d;
    ExpectSequence({{0x4A, "W", Ok("", Fiscal)},
                    {0x3C, "", Ok("", Refused)},
                    {0x4A, "W", Ok("", Fiscal)},
                    {0x38, "", Ok("", Refused)},
                    {0x4C, "T", Ok("1,2,1000,400", Fiscal)},
                    {0x67, "", Ok("0,1000,0,0,0,0,0,0,0,0,0", Fiscal)},
                    {0x35, "\tP+6.00", Ok("D,0", Fiscal)},
                    {0x38, "", Ok("5,3")}},
                   CloseOpen, true, d);
  }
}

TEST(CancelAllRec, Sequences) {
  {
    SCOPED_TRACE("no transaction open");
    TFakeDevice d;
    ExpectSequence({{0x4C, "T", Ok("0,0,0,0")}}, CancelAll, true, d);
  }
  {
    SCOPED_TRACE("paid: closed, its result passed on");
    TFakeDevice d;
    ExpectSequence({{0x4C, "T", Ok("1,2,1000,1000", Fiscal)}, {0x38, "", Ok("5,3")}}, CancelAll, true, d);
    TFakeDevice r;
    ExpectSequence({{0x4C, "T", Ok("1,2,1000,1000", Fiscal)}, {0x38, "", Ok("", StatusWith({{2, 0}}))}}, CancelAll,
                   false, r);
    EXPECT_TRUE(FailedWith(r, 210, "[2/0]"));
  }
  {
    SCOPED_TRACE("overpaid is paid, closed without a negative payment");
    TFakeDevice d;
    ExpectSequence({{0x4C, "T", Ok("1,2,1000,1500", Fiscal)}, {0x38, "", Ok("5,3")}}, CancelAll, true, d);
  }
  {
    SCOPED_TRACE("10.00 due, 4.00 paid, no longer cancellable: pays 6.00 with P and closes");
    TFakeDevice d;
    ExpectSequence({{0x4C, "T", Ok("1,2,1000,400", Fiscal)},
                    {0x67, "", Ok("0,1000,0,0,0,0,0,0,0,0,0", Fiscal)},
                    {0x35, "\tP+6.00", Ok("D,0", Fiscal)},
                    {0x38, "", Ok("5,3")}},
                   CancelAll, true, d);
  }
  {
    SCOPED_TRACE("cancellable: cancelled");
    TFakeDevice d;
    ExpectSequence({{0x4C, "T", Ok("1,2,1000,0", Fiscal)},
                    {0x67, "", Ok("1,1000,0,0,0,0,0,0,0,0,0", Fiscal)},
                    {0x3C, "", Ok("", Idle)}},
                   CancelAll, true, d);
  }
  {
    SCOPED_TRACE("cancel refused, an invoice: pays, a placeholder buyer, closes");
    TFakeDevice d;
    ExpectSequence({{0x4C, "T", Ok("1,2,1000,0", Fiscal)},
                    {0x67, "", Ok("1,1000,0,0,0,0,0,0,0,1,12", Fiscal)},
                    {0x3C, "", Ok("", Refused)},
                    {0x35, "\tP+10.00", Ok("F", Fiscal)},
                    {0x39, "111111110\t\t\t\t", Ok("", Fiscal)},
                    {0x38, "", Ok("5,3")}},
                   CancelAll, true, d);
  }
  {
    SCOPED_TRACE("no tender field: the whole amount is paid");
    TFakeDevice d;
    ExpectSequence({{0x4C, "T", Ok("1,2,1000", Fiscal)},
                    {0x67, "", Ok("0,1000,0,0,0,0,0,0,0,0,0", Fiscal)},
                    {0x35, "\tP+10.00", Ok("D,0", Fiscal)},
                    {0x38, "", Ok("5,3")}},
                   CancelAll, true, d);
  }
  struct Failure {
    const char* Name;
    std::vector<TStep> Steps;
  };
  const TFakeDevice::TReply lost = TFakeDevice::Failure(107, "lost");
  const Failure failures[] = {
      {"transaction status fails", {{0x4C, "T", lost}}},
      {"receipt total fails", {{0x4C, "T", Ok("1,2,1000,0", Fiscal)}, {0x67, "", lost}}},
      {"final close fails",
       {{0x4C, "T", Ok("1,2,1000,0", Fiscal)},
        {0x67, "", Ok("0,1000,0,0,0,0,0,0,0,0,0", Fiscal)},
        {0x35, "\tP+10.00", Ok("D,0", Fiscal)},
        {0x38, "", lost}}},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.Name);
    TFakeDevice d;
    ExpectSequence(f.Steps, CancelAll, false, d);
    EXPECT_EQ(d.FErrorCode, 107);
    EXPECT_EQ(d.FErrorText, "[FPR_CancelAllRecFailed]lost");
  }
}

TEST(TransactionStatus, RequestAndFields) {
  TFakeDevice d;
  bool open = true, hasTender = true;
  int32_t items = -1;
  double amount = -1, tender = -1;
  d.Push(Ok("1,3,1250"));
  ASSERT_TRUE(d.GetFPR_TransactionStatus(true, open, items, amount, tender, hasTender));
  EXPECT_EQ(Text(d.Calls[0].Data), "T");
  EXPECT_TRUE(open);
  EXPECT_EQ(items, 3);
  EXPECT_DOUBLE_EQ(amount, 12.5);
  EXPECT_EQ(tender, 0);
  EXPECT_FALSE(hasTender);

  d.Push(Ok("2,3,1250,1000"));
  ASSERT_TRUE(d.GetFPR_TransactionStatus(false, open, items, amount, tender, hasTender));
  EXPECT_EQ(Text(d.Calls[1].Data), "");
  EXPECT_FALSE(open);  // only the flag 1 is open
  EXPECT_DOUBLE_EQ(tender, 10.0);
  EXPECT_TRUE(hasTender);

  const std::pair<const char*, std::pair<int32_t, const char*>> cases[] = {
      {"1,3", {200, ""}},           {"x,3,1", {201, "[Open]"}},     {"1,x,1", {201, "[ItemsCount]"}},
      {"1,3,x", {201, "[Amount]"}}, {"1,3,1,x", {201, "[Tender]"}},
  };
  for (const auto& [Answer, Expected] : cases) {
    d.Push(Ok(Answer));
    EXPECT_FALSE(d.GetFPR_TransactionStatus(true, open, items, amount, tender)) << Answer;
    EXPECT_TRUE(FailedWith(d, Expected.first, Expected.second)) << Answer;
  }
}

// ---------------------------------------------------------------------------------------
// The same operations against the printer model, over a pty and the serial device.

class ReceiptsOnModel : public ::testing::Test {
 protected:
  void SetUp() override {
    FDevice.SetPortName(FPty.SlavePath());
    FDevice.SetBaudRate("115200");
    ASSERT_TRUE(FDevice.Connect()) << FDevice.FErrorText;
  }
  std::vector<int> Commands() const {
    std::vector<int> out;
    for (uint8_t c : FModel.Commands()) out.push_back(c);
    return out;
  }
  // Opens a fiscal receipt with one item of Price (quantity 1, VAT group 2).
  void OpenWithItem(double Price) {
    int32_t a = 0, f = 0;
    ASSERT_TRUE(FDevice.FPR_OpenFiscBon(1, "0000", 1, false, a, f)) << FDevice.FErrorText;
    ASSERT_TRUE(FDevice.FPR_Sale("Item", "", '\xC1', Price, 1, 0)) << FDevice.FErrorText;
  }
  bool Pay(double Amount) {
    char code = 0;
    double amount2 = 0;
    return FDevice.FPR_Payment("", "", 'P', Amount, code, amount2);
  }

  model::PrinterModel FModel;
  model::PtyEndpoint FPty{FModel};
  TRS32Device FDevice;
};

TEST_F(ReceiptsOnModel, FiscalReceiptOpenedSoldPaidClosed) {
  TDataBuffer status;
  ASSERT_TRUE(FDevice.GetFPR_Status(true, status)) << FDevice.FErrorText;
  EXPECT_FALSE(IsStatusBitSet(status, 2, 3));

  int32_t all = 0, fisc = 0;
  ASSERT_TRUE(FDevice.FPR_OpenFiscBon(1, "0000", 1, false, all, fisc)) << FDevice.FErrorText;
  EXPECT_EQ(all, FModel.State().allReceipts);
  EXPECT_EQ(fisc, FModel.State().fiscReceipts);
  ASSERT_TRUE(FDevice.FPR_Sale("Milk", "1 l", '\xC1', 1.5, 2, 0)) << FDevice.FErrorText;
  ASSERT_TRUE(FDevice.FPR_PrintFiscText("Thank you")) << FDevice.FErrorText;
  double sub = 0;
  std::array<double, 8> vat{};
  ASSERT_TRUE(FDevice.FPR_SubTotal(false, false, false, sub, vat, 0)) << FDevice.FErrorText;
  EXPECT_DOUBLE_EQ(sub, 3.0);
  EXPECT_DOUBLE_EQ(vat[1], 3.0);

  bool open = false, hasTender = false;
  int32_t items = 0;
  double amount = 0, tender = -1;
  ASSERT_TRUE(FDevice.GetFPR_TransactionStatus(true, open, items, amount, tender, hasTender)) << FDevice.FErrorText;
  EXPECT_TRUE(open);
  EXPECT_EQ(items, 1);
  EXPECT_DOUBLE_EQ(amount, 3.0);
  EXPECT_TRUE(hasTender);
  EXPECT_EQ(tender, 0);

  char code = 0;
  double change = 0;
  ASSERT_TRUE(FDevice.FPR_Payment("", "", 'P', 5, code, change)) << FDevice.FErrorText;
  EXPECT_EQ(code, 'D');
  EXPECT_DOUBLE_EQ(change, 2.0);
  int32_t all2 = 0, fisc2 = 0;
  ASSERT_TRUE(FDevice.FPR_CloseFiscBon(all2, fisc2)) << FDevice.FErrorText;
  EXPECT_EQ(all2, all);
  EXPECT_EQ(fisc2, fisc);

  // The copy of the last receipt may be printed once.
  ASSERT_TRUE(FDevice.FPR_PrintDuplicate()) << FDevice.FErrorText;
  EXPECT_FALSE(FDevice.FPR_PrintDuplicate());
  EXPECT_EQ(FDevice.FErrorCode, 256);

  EXPECT_EQ(Commands(), (std::vector<int>{0x4A, 0x30, 0x31, 0x36, 0x33, 0x4C, 0x35, 0x38, 0x6D, 0x6D}));
  const model::Receipt r = FModel.State().closed.back();
  EXPECT_FALSE(r.cancelled);
  ASSERT_EQ(r.items.size(), 1u);
  EXPECT_EQ(r.items[0].text1, "Milk");
  EXPECT_EQ(r.items[0].amountCents, 300);
  ASSERT_EQ(r.payments.size(), 1u);
  EXPECT_EQ(r.payments[0].amountCents, 500);
  EXPECT_EQ(r.texts, std::vector<std::string>{"Thank you"});
  EXPECT_TRUE(r.duplicatePrinted);
}

TEST_F(ReceiptsOnModel, CloseOpenReceiptsCancelsAnUnpaidReceipt) {
  OpenWithItem(10);
  FModel.ClearRequests();
  ASSERT_TRUE(FDevice.FPR_CloseOpenReceipts()) << FDevice.FErrorText;
  EXPECT_EQ(Commands(), (std::vector<int>{0x4A, 0x3C, 0x4A}));
  EXPECT_TRUE(FModel.State().closed.back().cancelled);
  EXPECT_FALSE(FModel.State().open);
}

TEST_F(ReceiptsOnModel, CloseOpenReceiptsPaysUpAPartlyPaidReceipt) {
  OpenWithItem(10);
  ASSERT_TRUE(Pay(4)) << FDevice.FErrorText;
  FModel.ClearRequests();
  // Paid in part: no cancel, no close; the rest is paid with P and the receipt closed.
  ASSERT_TRUE(FDevice.FPR_CloseOpenReceipts()) << FDevice.FErrorText;
  EXPECT_EQ(Commands(), (std::vector<int>{0x4A, 0x3C, 0x4A, 0x38, 0x4C, 0x67, 0x35, 0x38}));
  EXPECT_EQ(FModel.Requests()[6].data, "\tP+6.00");
  const model::Receipt r = FModel.State().closed.back();
  EXPECT_FALSE(r.cancelled);
  ASSERT_EQ(r.payments.size(), 2u);
  EXPECT_EQ(r.payments[1].amountCents, 600);
}

TEST_F(ReceiptsOnModel, CancelAllRecClosesAnOverpaidReceipt) {
  OpenWithItem(10);
  ASSERT_TRUE(Pay(15)) << FDevice.FErrorText;
  FModel.ClearRequests();
  ASSERT_TRUE(FDevice.FPR_CancelAllRec()) << FDevice.FErrorText;
  // Closed as it stands: no negative payment goes out.
  EXPECT_EQ(Commands(), (std::vector<int>{0x4C, 0x38}));
  const model::Receipt r = FModel.State().closed.back();
  EXPECT_FALSE(r.cancelled);
  EXPECT_EQ(r.payments.size(), 1u);
}

TEST_F(ReceiptsOnModel, CloseOpenReceiptsReportsAFailedReRead) {
  OpenWithItem(10);
  // The status query after the cancel is refused as an invalid command.
  int queries = 0;
  FModel.SetHandler(0x4A, [&queries](model::CommandContext& C) {
    if (++queries == 2) C.InvalidCommand();
  });
  FModel.ClearRequests();
  EXPECT_FALSE(FDevice.FPR_CloseOpenReceipts());
  EXPECT_TRUE(FailedWith(FDevice, 204, "[0/1]"));
  EXPECT_EQ(Commands(), (std::vector<int>{0x4A, 0x3C, 0x4A}));
}

}  // namespace
}  // namespace fp::test
