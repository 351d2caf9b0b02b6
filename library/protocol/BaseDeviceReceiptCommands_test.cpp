#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/CommandTestSupport.h"
#include "tests/support/FakeDevice.h"
#include "library/protocol/OleDate.h"
#include "library/transport/RS232DeviceUnit.h"
#include "tests/printermodel/PrinterModel.h"

#include <gtest/gtest.h>

#include <functional>

namespace fp {
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
  TDataBuffer S(6, 0x80);
  for (const TBitTest& T : Tests)
    if (!T.WhenSet) S[static_cast<size_t>(T.Byte)] |= static_cast<uint8_t>(1u << T.Bit);
  return S;
}

TFiskParam Fisk() {
  TFiskParam P;
  P.OperName = "Ivan";
  P.UniqueSellNo = "AB654321-0001-0000001";
  return P;
}

TFiskParam Refund(const std::string& FromFm, char Reason) {
  TFiskParam P = Fisk();
  P.IsRefund = true;
  P.RefundFMNo = FromFm;
  P.RefundFiscalNo = "02345678";
  P.RefundReason = Reason;
  P.RefundReceiptNo = 17;
  return P;
}

TClientData Client(const std::string& Town, const std::string& Address) {
  TClientData C;
  C.Text = {"Firm", "BG123", "123456789", Town, Address, "MOL", "Recv", "seven", "eight", ""};
  return C;
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
  static int32_t A, F;
  static double Sub;
  static std::array<double, 8> Vat;
  static char Code;
  static double Amount2;
  TFiskParam OtherFm = Refund("00012345", 'T');
  EXPECT_TRUE(TryEncodeOleDateTime(2026, 12, 8, 22, 53, 12, 0, OtherFm.RefundDateTime));
  OtherFm.RefundInvoiceNo = 55;
  TFiskParam Invoice = Fisk();
  Invoice.IsInvoice = true;
  Invoice.IsRefund = true;  // not looked at for an invoice
  const std::vector<TBitTest> SubTotalTests = {NoPaper, Fault, NonFiscOpen, FiscNotOpen};
  const std::vector<TBitTest> TextTests = {NoPaper, Fault, NonFiscOpen, FiscNotOpen};
  const std::vector<TBitTest> ClientTests = {NoPaper, FiscNotOpen, NonFiscOpen};
  const std::vector<TBitTest> PrintTests = {NoPaper, Fault};
  const std::string Subtotal = "100,0,0,0,0,0,0,0,0";
  return {
      {"OpenFiscBon", [](TBaseDevice& D) { return D.FPR_OpenFiscBon(1, "0000", 2, false, A, F); }, 0x30,
       "1,0000,2", OpenTests, "10,5"},
      {"OpenFiscBonEmptyPwdInvoice", [](TBaseDevice& D) { return D.FPR_OpenFiscBon(1, "", 2, true, A, F); },
       0x30, "1,,2,I", OpenTests, "10,5"},
      {"OpenFiscBonEx", [](TBaseDevice& D) { return D.FPR_OpenFiscBonEx(Fisk(), A, F); }, 0x90,
       "Ivan,AB654321-0001-0000001", OpenTests, "10,5"},
      {"OpenFiscBonExInvoice", [Invoice](TBaseDevice& D) { return D.FPR_OpenFiscBonEx(Invoice, A, F); }, 0x90,
       "Ivan,AB654321-0001-0000001,I", OpenTests, "10,5"},
      {"OpenFiscBonExRefundSameFm",
       [](TBaseDevice& D) { return D.FPR_OpenFiscBonEx(Refund("02345678", 'O'), A, F); }, 0x90,
       "Ivan,AB654321-0001-0000001,S,02345678,O,17", OpenTests, "10,5"},
      {"OpenFiscBonExRefundOtherFm", [OtherFm](TBaseDevice& D) { return D.FPR_OpenFiscBonEx(OtherFm, A, F); },
       0x90, "Ivan,AB654321-0001-0000001,S,00012345,T,17,2026-12-08T22:53:12,55", OpenTests, "10,5"},
      {"OpenFiscBonExRefundOtherFmNoDate",
       [](TBaseDevice& D) { return D.FPR_OpenFiscBonEx(Refund("00012345", 'R'), A, F); }, 0x90,
       "Ivan,AB654321-0001-0000001,S,00012345,R,17", OpenTests, "10,5"},
      {"Sale", [](TBaseDevice& D) { return D.FPR_Sale("Milk", "", '\xC1', 1.5, 1, 0); }, 0x31, "Milk\t\xC1" "1.50",
       SaleTests},
      {"SaleSecondLineQtyPercent", [](TBaseDevice& D) { return D.FPR_Sale("", "Two", '\xC2', 2, 2.5, -10); },
       0x31, "\nTwo\t\xC2" "2.00*2.500,-10.00", SaleTests},
      {"SaleEscapedNegative", [](TBaseDevice& D) { return D.FPR_Sale("A\rB", "L2", '\xC0', -3.455, 1, 5); },
       0x31, "A\x10MB\nL2\t\xC0-3.46,5.00", SaleTests},
      {"SaleByDepartment", [](TBaseDevice& D) { return D.FPR_SaleByDepartment("Numb", "Name", 3, 1.999, 1, 0); },
       0x31, "Numb\nName\t3\t2.00", DeptSaleTests},
      {"SaleByDepartmentLowestPercent",
       [](TBaseDevice& D) { return D.FPR_SaleByDepartment("", "", 12, 5, 0.5, -99); }, 0x31,
       "\t12\t5.00*0.500,-99.00", DeptSaleTests},
      // Limits and the optional parts are judged on what is sent: 99.004 goes out as 99.00,
      // a percentage of 0.001 as nothing, a quantity of 1.0004 as nothing.
      {"SaleByDepartmentPercentAsSent",
       [](TBaseDevice& D) { return D.FPR_SaleByDepartment("", "", 12, 5, 1.0004, 99.004); }, 0x31,
       "\t12\t5.00,99.00", DeptSaleTests},
      {"SalePercentSentAsZero", [](TBaseDevice& D) { return D.FPR_Sale("Milk", "", '\xC1', 1.5, 1, 0.001); },
       0x31, "Milk\t\xC1" "1.50", SaleTests},
      {"SaleProgPluPercentAsSent",
       [](TBaseDevice& D) { return D.FPR_SaleProgPlu(false, 42, 0, 1, 99.994, false); }, 0x3A, "42,99.99",
       DeptSaleTests},
      // Texts in the last field go as given; a comma in a sale text ends nothing.
      {"SaleTextWithComma", [](TBaseDevice& D) { return D.FPR_Sale("Milk, fresh", "1,5 l", '\xC1', 1.5, 1, 0); },
       0x31, "Milk, fresh\n1,5 l\t\xC1" "1.50", SaleTests},
      // The second line ends only at the TAB: an LF in it shifts nothing.
      {"SaleSecondLineWithLf", [](TBaseDevice& D) { return D.FPR_Sale("1", "Milk\n1,5 l", '\xC1', 1.5, 1, 0); },
       0x31, "1\nMilk\n1,5 l\t\xC1" "1.50", SaleTests},
      {"OpenFiscBonExSaleNumberLast",
       [](TBaseDevice& D) {
         TFiskParam P = Fisk();
         P.UniqueSellNo = "AB,1";
         return D.FPR_OpenFiscBonEx(P, A, F);
       },
       0x90, "Ivan,AB,1", OpenTests, "10,5"},
      {"SaleProgPlu", [](TBaseDevice& D) { return D.FPR_SaleProgPlu(false, 42, 0, 1, 0, false); }, 0x3A, "42",
       DeptSaleTests},
      {"SaleProgPluDeptPercent", [](TBaseDevice& D) { return D.FPR_SaleProgPlu(true, 42, 3, 2, 99.99, false); },
       0x3A, "D42\t3\t*2.000,99.99", DeptSaleTests},
      {"SaleProgPluAbsolute", [](TBaseDevice& D) { return D.FPR_SaleProgPlu(false, 42, -1, 1, -150, true); },
       0x3A, "42;-150.00", DeptSaleTests},
      {"SubTotalPrint", [](TBaseDevice& D) { return D.FPR_SubTotal(true, false, false, Sub, Vat, 0); }, 0x33, "10",
       SubTotalTests, Subtotal},
      {"SubTotalAbsolute", [](TBaseDevice& D) { return D.FPR_SubTotal(false, true, true, Sub, Vat, 5); }, 0x33,
       "01;5.00", SubTotalTests, Subtotal},
      {"SubTotalPercent", [](TBaseDevice& D) { return D.FPR_SubTotal(false, false, true, Sub, Vat, -2.5); }, 0x33,
       "01,-2.50", SubTotalTests, Subtotal},
      {"DiscountAmount", [](TBaseDevice& D) { return D.FPR_DiscountLastItem(true, 1.5); }, 0x91, "A,1.50",
       {NoPaper, FiscNotOpen, NonFiscOpen}},
      {"DiscountPercent", [](TBaseDevice& D) { return D.FPR_DiscountLastItem(false, -10); }, 0x91, "P,-10.00",
       {NoPaper, FiscNotOpen, NonFiscOpen}},
      {"PaymentZero", [](TBaseDevice& D) { return D.FPR_Payment("", "", 'P', 0, Code, Amount2); }, 0x35,
       "\tP+0.00", PaymentTests, "D,0"},
      {"PaymentNegativeWithTexts", [](TBaseDevice& D) { return D.FPR_Payment("T1", "T2", 'C', -5, Code, Amount2); },
       0x35, "T1\nT2\tC-5.00", PaymentTests, "D,0"},
      {"PaymentRate",
       [](TBaseDevice& D) { return D.FPR_PaymentByCurrency("", "", 'D', 10, 1.95583, " EUR ", Code, Amount2); },
       0x35, "\tD+10.00,1.95583,EUR", PaymentTests, "D,0"},
      {"PaymentRateWhole",
       [](TBaseDevice& D) { return D.FPR_PaymentByCurrency("", "", 'D', 10, 2, "EUR", Code, Amount2); }, 0x35,
       "\tD+10.00,2,EUR", PaymentTests, "D,0"},
      // A rate within 0.000001 of 0 is no rate, 0.000001 itself included; a rate above it
      // is sent with up to six decimals.
      {"PaymentRateZero",
       [](TBaseDevice& D) { return D.FPR_PaymentByCurrency("", "", 'D', 10, 0.0000004, "EUR", Code, Amount2); },
       0x35, "\tD+10.00", PaymentTests, "D,0"},
      {"PaymentRateAtTheLimit",
       [](TBaseDevice& D) { return D.FPR_PaymentByCurrency("", "", 'D', 10, 0.000001, "EUR", Code, Amount2); },
       0x35, "\tD+10.00", PaymentTests, "D,0"},
      {"PaymentRateSmallest",
       [](TBaseDevice& D) { return D.FPR_PaymentByCurrency("", "", 'D', 10, 0.0000011, "EUR", Code, Amount2); },
       0x35, "\tD+10.00,0.000001,EUR", PaymentTests, "D,0"},
      // An amount that goes out as 0.00 takes the "+" of 0.
      {"PaymentNegativeZero", [](TBaseDevice& D) { return D.FPR_Payment("", "", 'P', -0.001, Code, Amount2); },
       0x35, "\tP+0.00", PaymentTests, "D,0"},
      {"PaymentRateLocal",
       [](TBaseDevice& D) { return D.FPR_PaymentByCurrency("", "", 'R', 10, -1, "EUR", Code, Amount2); }, 0x35,
       "\tR+10.00,L", PaymentTests, "D,0"},
      {"FiscText", [](TBaseDevice& D) { return D.FPR_PrintFiscText("Hello\tWorld\x01"); }, 0x36,
       "Hello\tWorld\x10\x41", TextTests},
      {"ClientTownAddress", [](TBaseDevice& D) { return D.FPR_SetInvoiceClient(Client("Sofia", "Street 1")); },
       0x39, "123456789\t\tRecv\tFirm\tBG123\tSofia\nStreet 1", ClientTests},
      {"ClientAddressOnly", [](TBaseDevice& D) { return D.FPR_SetInvoiceClient(Client("", "Street 1")); }, 0x39,
       "123456789\t\tRecv\tFirm\tBG123\tStreet 1", ClientTests},
      {"ClientTownOnly", [](TBaseDevice& D) { return D.FPR_SetInvoiceClient(Client("Sofia", "")); }, 0x39,
       "123456789\t\tRecv\tFirm\tBG123\tSofia", ClientTests},
      {"ClientNeither", [](TBaseDevice& D) { return D.FPR_SetInvoiceClient(Client("", "")); }, 0x39,
       "123456789\t\tRecv\tFirm\tBG123", ClientTests},
      // The last field of the block goes as given: the address; the town without an
      // address; the VAT number without either.
      {"ClientLastFieldsAsGiven",
       [](TBaseDevice& D) { return D.FPR_SetInvoiceClient(Client("Sofia", "Street\t1\nback")); }, 0x39,
       "123456789\t\tRecv\tFirm\tBG123\tSofia\nStreet\t1\nback", ClientTests},
      {"ClientTownLast", [](TBaseDevice& D) { return D.FPR_SetInvoiceClient(Client("So\nfia", "")); }, 0x39,
       "123456789\t\tRecv\tFirm\tBG123\tSo\nfia", ClientTests},
      {"ClientVatNumberLast",
       [](TBaseDevice& D) {
         TClientData C = Client("", "");
         C.Text[1] = "BG\t123";
         return D.FPR_SetInvoiceClient(C);
       },
       0x39, "123456789\t\tRecv\tFirm\tBG\t123", ClientTests},
      {"CloseFiscBon", [](TBaseDevice& D) { return D.FPR_CloseFiscBon(A, F); }, 0x38, "", PaymentTests, "11,6"},
      {"CancelFiscBon", [](TBaseDevice& D) { return D.FPR_CancelFiscBon(); }, 0x3C, "", PrintTests},
      {"PrintDuplicate", [](TBaseDevice& D) { return D.FPR_PrintDuplicate(); }, 0x6D, "1",
       {NoPaper, FiscOpen, NonFiscOpen}},
      {"OpenNonFiscBon", [](TBaseDevice& D) { return D.FPR_OpenNonFiscBon(A, F); }, 0x26, "",
       {NoPaper, Fault, NonFiscNotOpen, FiscOpen, ClockNotSet}, "12"},
      {"NonFiscText", [](TBaseDevice& D) { return D.FPR_PrintNonFiscText("Text"); }, 0x2A, "Text", PrintTests},
      {"CloseNonFiscBon", [](TBaseDevice& D) { return D.FPR_CloseNonFiscBon(A); }, 0x27, "", PrintTests, "13"},
      {"BarcodeHri", [](TBaseDevice& D) { return D.FPR_PrintBarcode(1, "1234567", true); }, 0x54, "1,1234567",
       PrintTests},
      {"BarcodeNoHri", [](TBaseDevice& D) { return D.FPR_PrintBarcode(6, "ABC", false); }, 0x54, "6;ABC",
       PrintTests},
  };
}

TEST(ReceiptCommands, RequestBytes) {
  for (const TReceiptRow& R : ReceiptRows())
    test::ExpectSendsOnce(R.Name, R.Call, TFakeDevice::Answer(R.Answer, PassStatus(R.Tests)), R.Cmd, R.Data,
                          4);
}

// The own tests of every row fire in the order of its table, before CheckStatus.
TEST(ReceiptCommands, StatusTestOrder) {
  for (const TReceiptRow& R : ReceiptRows()) {
    SCOPED_TRACE(R.Name);
    ExpectTestOrder(R.Tests, R.Answer, R.Call);
    // The fiscal-mode and overflow bits are checked as well (1.1 first; the copy of the
    // last receipt reports its refusal under a code of its own).
    TDataBuffer S = PassStatus(R.Tests);
    S[1] |= 0x03;
    TFakeDevice D;
    D.Push(TFakeDevice::Answer(R.Answer, S));
    EXPECT_FALSE(R.Call(D));
    EXPECT_TRUE(FailedWith(D, R.Cmd == 0x6D ? 256 : 216, "[1/1]"));
  }
}

// Arguments the printer cannot take fail with 201 before anything is sent.
TEST(ReceiptCommands, ArgumentChecks) {
  int32_t A, F;
  char Code;
  double Amount2;
  auto Ex = [&](TFiskParam P) { return [P, &A, &F](TBaseDevice& D) { return D.FPR_OpenFiscBonEx(P, A, F); }; };
  TFiskParam Blank = Fisk();
  Blank.UniqueSellNo = "   ";
  TFiskParam BadReceipt = Refund("02345678", 'R');
  BadReceipt.RefundReceiptNo = 0;
  TFiskParam BadDate = Refund("00012345", 'R');
  BadDate.RefundDateTime = 1e300;
  TClientData BlankEik = Client("Sofia", "Street 1");
  BlankEik.Text[2] = " \t ";
  TClientData ShiftedCompany = Client("", "");
  ShiftedCompany.Text[0] = "Firm\tLtd";
  TClientData ShiftedVat = Client("", "Street 1");
  ShiftedVat.Text[1] = "BG\t123";
  TFiskParam CommaName = Fisk();
  CommaName.OperName = "Ivanov, I.";
  TFiskParam CommaSaleNo = Refund("02345678", 'R');
  CommaSaleNo.UniqueSellNo = "AB,1";
  const std::pair<Op, std::string> Cases[] = {
      {[&](TBaseDevice& D) { return D.FPR_OpenFiscBon(1, "12a", 1, false, A, F); }, "[OperPwd]"},
      {[&](TBaseDevice& D) { return D.FPR_OpenFiscBon(1, " 12", 1, false, A, F); }, "[OperPwd]"},
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
      {[&](TBaseDevice& D) { return D.FPR_Payment("Cash\t", "", 'P', 1, Code, Amount2); }, "[Text]"},
      {[&](TBaseDevice& D) { return D.FPR_OpenFiscBon(1, "1,2", 1, false, A, F); }, "[OperPwd]"},
      {[ShiftedCompany](TBaseDevice& D) { return D.FPR_SetInvoiceClient(ShiftedCompany); }, "[Company]"},
      {[ShiftedVat](TBaseDevice& D) { return D.FPR_SetInvoiceClient(ShiftedVat); }, "[VATNumber]"},
      {[](TBaseDevice& D) { return D.FPR_SetInvoiceClient(Client("So\nfia", "Street 1")); }, "[Town]"},
      {Ex(CommaName), "[OperName]"},
      {Ex(CommaSaleNo), "[UniqueSellNo]# Ivan,"},
      {[](TBaseDevice& D) { return D.FPR_SaleProgPlu(false, 1, 0, 1, 100, false); }, "[Perc]"},
      {[](TBaseDevice& D) { return D.FPR_SaleProgPlu(false, 1, 0, 1, -100, false); }, "[Perc]"},
      {[&](TBaseDevice& D) { return D.FPR_Payment("", "", 'A', 1, Code, Amount2); }, "[PaidMode]"},
      {[&](TBaseDevice& D) { return D.FPR_Payment("", "", '\0', 1, Code, Amount2); }, "[PaidMode]"},
      {[&](TBaseDevice& D) { return D.FPR_PaymentByCurrency("", "", 'X', 1, 2, "EUR", Code, Amount2); },
       "[PaidMode]"},
      {[BlankEik](TBaseDevice& D) { return D.FPR_SetInvoiceClient(BlankEik); }, "EIK"},
      {[](TBaseDevice& D) { return D.FPR_PrintBarcode(0, "1", true); }, "[BarcodeType]"},
      {[](TBaseDevice& D) { return D.FPR_PrintBarcode(7, "1", true); }, "[BarcodeType]"},
      {[](TBaseDevice& D) { return D.FPR_Sale("", "", '\xC0', std::numeric_limits<double>::quiet_NaN(), 1, 0); },
       "[Number]"},
      // The extended opening adds the request as far as it was built.
      {Ex(Blank), "[UniqueSellNo]# Ivan,"},
      {Ex(Refund("02345678", 'X')), "Invalid reason \"X\"# Ivan,AB654321-0001-0000001,S,02345678,"},
      {Ex(Refund("02345678", '\0')), "Invalid reason \"\"# Ivan,AB654321-0001-0000001,S,02345678,"},
      {Ex(BadReceipt), "Invalid reciept num  \"0\"# Ivan,AB654321-0001-0000001,S,02345678,R"},
      {Ex(Refund("00012345", 'O')), "Reason \"O\" is invalid for this device.# Ivan,AB654321-0001-0000001,S,"
                                    "00012345,O,17"},
      {Ex(BadDate), "[RefundDateTime]# Ivan,AB654321-0001-0000001,S,00012345,R,17"},
  };
  for (const auto& [Call, Label] : Cases) {
    TFakeDevice D;
    D.Push(TFakeDevice::Answer("", StatusWith({{2, 3}})));
    EXPECT_FALSE(Call(D)) << Label;
    EXPECT_EQ(D.FErrorCode, 201) << Label;
    EXPECT_EQ(D.FErrorText, TBaseDevice::ErrorCodeText(201, Label));
    EXPECT_TRUE(D.Calls.empty()) << Label;
  }
}

TEST(ReceiptCommands, OpenFiscBonExFailureCarriesTheAnswer) {
  int32_t A, F;
  TFakeDevice D;
  D.Push(TFakeDevice::Answer("E:12,x\xA2y", StatusWith({{2, 0}, {2, 3}})));
  EXPECT_FALSE(D.FPR_OpenFiscBonEx(Fisk(), A, F));
  EXPECT_TRUE(FailedWith(D, 210, "[2/0]"));
  EXPECT_EQ(D.FErrorText.substr(D.FErrorText.size() - 7), "# 12,xy");

  // A failed exchange reports the transport's text alone.
  D.Push(TFakeDevice::Failure(107, "T"));
  EXPECT_FALSE(D.FPR_OpenFiscBonEx(Fisk(), A, F));
  EXPECT_EQ(D.FErrorText, "T");
  // An answer made of marks only adds nothing.
  D.Push(TFakeDevice::Answer("E:", StatusWith({{2, 0}})));
  EXPECT_FALSE(D.FPR_OpenFiscBonEx(Fisk(), A, F));
  EXPECT_EQ(D.FErrorText, TBaseDevice::ErrorCodeText(210, "[2/0]") + " ");
}

TEST(ReceiptCommands, OpeningAndClosingAnswers) {
  int32_t A = -1, F = -1;
  TFakeDevice D;
  const TDataBuffer Fiscal = StatusWith({{2, 3}}), NonFiscal = StatusWith({{2, 5}});
  // A refused opening answers nothing, with the receipt bit of the one already open.
  D.Push(TFakeDevice::Answer("", Fiscal));
  EXPECT_FALSE(D.FPR_OpenFiscBon(1, "1", 1, false, A, F));
  EXPECT_TRUE(FailedWith(D, 217, "[2/3]"));
  D.Push(TFakeDevice::Answer("", NonFiscal));
  EXPECT_FALSE(D.FPR_OpenNonFiscBon(A, F));
  EXPECT_TRUE(FailedWith(D, 215, "[2/5]"));

  D.Push(TFakeDevice::Answer("120,45", Fiscal));
  ASSERT_TRUE(D.FPR_OpenFiscBon(1, "1", 1, false, A, F));
  EXPECT_EQ(A, 120);
  EXPECT_EQ(F, 45);
  F = 9;
  D.Push(TFakeDevice::Answer("121", NonFiscal));
  ASSERT_TRUE(D.FPR_OpenNonFiscBon(A, F));
  EXPECT_EQ(A, 121);
  EXPECT_EQ(F, 0);

  struct Case {
    Op Call;
    std::string Answer;
    int32_t Code;
    const char* Label;
  };
  // Too few fields, or a field that is no number: 200 either way, since the command went to
  // the printer.
  const Case Cases[] = {
      {[&](TBaseDevice& Dv) { return Dv.FPR_OpenFiscBon(1, "1", 1, false, A, F); }, "120", 200, ""},
      {[&](TBaseDevice& Dv) { return Dv.FPR_OpenFiscBon(1, "1", 1, false, A, F); }, "x,45", 200, "[AllReceipt]"},
      {[&](TBaseDevice& Dv) { return Dv.FPR_OpenFiscBonEx(Fisk(), A, F); }, "120,y", 200, "[FiscReceipt]"},
      {[&](TBaseDevice& Dv) { return Dv.FPR_CloseFiscBon(A, F); }, "120,", 200, ""},
      {[&](TBaseDevice& Dv) { return Dv.FPR_CloseFiscBon(A, F); }, "120,4.5", 200, "[FiscReceipt]"},
      {[&](TBaseDevice& Dv) { return Dv.FPR_CloseNonFiscBon(A); }, "", 200, ""},
      {[&](TBaseDevice& Dv) { return Dv.FPR_CloseNonFiscBon(A); }, "n", 200, "[AllReceipt]"},
      {[&](TBaseDevice& Dv) { return Dv.FPR_OpenNonFiscBon(A, F); }, "n", 200, "[AllReceipt]"},
  };
  // The openings need their own bit; the closings need none.
  for (size_t K = 0; K < std::size(Cases); ++K) {
    const Case& C = Cases[K];
    TFakeDevice Dv;
    Dv.Push(TFakeDevice::Answer(C.Answer, K < 3 ? Fiscal : (K == 7 ? NonFiscal : TDataBuffer(6, 0x80))));
    EXPECT_FALSE(C.Call(Dv)) << K;
    EXPECT_TRUE(FailedWith(Dv, C.Code, C.Label)) << K;
  }
}

TEST(ReceiptCommands, SubTotalSums) {
  const TDataBuffer Fiscal = StatusWith({{2, 3}});
  double Sub = -1;
  std::array<double, 8> Vat;
  Vat.fill(-1);
  TFakeDevice D;
  D.Push(TFakeDevice::Answer("1234,100,200,300,400,500,600,700", Fiscal));
  ASSERT_TRUE(D.FPR_SubTotal(false, false, false, Sub, Vat, 0));
  EXPECT_DOUBLE_EQ(Sub, 12.34);
  for (size_t N = 0; N < 7; ++N) EXPECT_DOUBLE_EQ(Vat[N], N + 1.0) << N;
  EXPECT_EQ(Vat[7], 0);  // no field: stays at its start value

  const std::pair<const char*, std::pair<int32_t, const char*>> Cases[] = {
      {"1,2,3,4,5,6,7", {200, ""}},
      {"x,2,3,4,5,6,7,8", {200, "[SubTotal]"}},
      {"1,2,3,z,5,6,7,8", {200, "[VatGRP3]"}},
  };
  for (const auto& [Answer, Expected] : Cases) {
    Vat.fill(-1);
    D.Push(TFakeDevice::Answer(Answer, Fiscal));
    EXPECT_FALSE(D.FPR_SubTotal(false, false, false, Sub, Vat, 0)) << Answer;
    EXPECT_TRUE(FailedWith(D, Expected.first, Expected.second)) << Answer;
    EXPECT_EQ(Vat[7], 0) << Answer;
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
  const Case Cases[] = {
      {"D,1500", true, 'D', 15.0, 0, ""}, {"R", true, 'R', 0, 0, ""},       {"F,100", false, 'F', 0, 250, "[F]"},
      {"E", false, 'E', 0, 250, "[E]"},   {"I,0", false, 'I', 0, 250, "[I]"}, {"", false, '\0', 0, 200, ""},
      {"R,x", false, 'R', 0, 200, "[Amount2]"},
  };
  for (const Case& C : Cases) {
    TFakeDevice D;
    D.Push(TFakeDevice::Answer(C.Answer));
    char Code = '?';
    double Amount2 = -1;
    EXPECT_EQ(D.FPR_Payment("", "", 'P', 10, Code, Amount2), C.Ok) << C.Answer;
    EXPECT_EQ(Code, C.Code) << C.Answer;
    EXPECT_DOUBLE_EQ(Amount2, C.Amount2) << C.Answer;
    if (!C.Ok) {
      EXPECT_TRUE(FailedWith(D, C.ErrorCode, C.Label)) << C.Answer;
    }
  }
}

TEST(ReceiptCommands, DiscountFailureCarriesTheAnswer) {
  TFakeDevice D;
  D.Push(TFakeDevice::Answer("E:bad\xA2", StatusWith({{2, 0}, {2, 3}})));
  EXPECT_FALSE(D.FPR_DiscountLastItem(false, 5));
  EXPECT_EQ(D.FErrorText, TBaseDevice::ErrorCodeText(210, "[2/0]") + "#bad ");
}

TEST(ReceiptCommands, SecondDuplicateIs256) {
  TFakeDevice D;
  D.Push(TFakeDevice::Answer("", StatusWith({{1, 1}})));
  EXPECT_FALSE(D.FPR_PrintDuplicate());
  EXPECT_EQ(D.FErrorCode, 256);
  EXPECT_EQ(D.FErrorText.rfind("Only one copy can be printed! [1/1]", 0), 0u) << D.FErrorText;
  // Other refusals keep their own codes.
  D.Push(TFakeDevice::Answer("", StatusWith({{1, 0}})));
  EXPECT_FALSE(D.FPR_PrintDuplicate());
  EXPECT_TRUE(FailedWith(D, 223, "[1/0]"));
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
  for (const TStep& S : Steps) D.Push(S.Reply);
  EXPECT_EQ(Op(D), Result) << D.FErrorText;
  ASSERT_EQ(D.Calls.size(), Steps.size());
  for (size_t K = 0; K < Steps.size(); ++K) {
    EXPECT_EQ(D.Calls[K].Cmd, Steps[K].Cmd) << K;
    EXPECT_EQ(Text(D.Calls[K].Data), Steps[K].Data) << K;
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
    TFakeDevice D;
    ExpectSequence({{0x4A, "W", Ok("", Idle)}}, CloseOpen, true, D);
  }
  {
    SCOPED_TRACE("non-fiscal receipt: closed");
    TFakeDevice D;
    ExpectSequence({{0x4A, "W", Ok("", NonFiscal)}, {0x27, "", Ok("7")}}, CloseOpen, true, D);
  }
  {
    SCOPED_TRACE("non-fiscal close refused");
    TFakeDevice D;
    ExpectSequence({{0x4A, "W", Ok("", NonFiscal)}, {0x27, "", Ok("", StatusWith({{2, 0}}))}}, CloseOpen, false, D);
    EXPECT_EQ(D.FErrorCode, 210);
  }
  {
    SCOPED_TRACE("fiscal receipt cancelled, the re-read confirms it");
    TFakeDevice D;
    ExpectSequence({{0x4A, "W", Ok("", Fiscal)}, {0x3C, "", Ok("", Fiscal)}, {0x4A, "W", Ok("", Idle)}}, CloseOpen,
                   true, D);
  }
  {
    SCOPED_TRACE("cancel refused, the receipt is paid: closed");
    TFakeDevice D;
    ExpectSequence({{0x4A, "W", Ok("", Fiscal)},
                    {0x3C, "", Ok("", StatusWith({{2, 3}, {1, 1}}))},
                    {0x4A, "W", Ok("", Fiscal)},
                    {0x38, "", Ok("5,3")}},
                   CloseOpen, true, D);
  }
  {
    SCOPED_TRACE("the re-read fails, so nothing confirms the receipt is gone");
    TFakeDevice D;
    ExpectSequence({{0x4A, "W", Ok("", Fiscal)},
                    {0x3C, "", Ok("", Fiscal)},
                    {0x4A, "W", TFakeDevice::Failure(107, "Fail read data from port. ")}},
                   CloseOpen, false, D);
    EXPECT_EQ(D.FErrorCode, 107);
    EXPECT_EQ(D.FErrorText, "Fail read data from port. ");
  }
  {
    SCOPED_TRACE("the first read fails");
    TFakeDevice D;
    ExpectSequence({{0x4A, "W", Ok("", Refused)}}, CloseOpen, false, D);
    EXPECT_EQ(D.FErrorCode, 204);
  }
  {
    SCOPED_TRACE("close refused: the receipt is paid up and closed at any cost");
    TFakeDevice D;
    ExpectSequence({{0x4A, "W", Ok("", Fiscal)},
                    {0x3C, "", Ok("", Refused)},
                    {0x4A, "W", Ok("", Fiscal)},
                    {0x38, "", Ok("", Refused)},
                    {0x4C, "T", Ok("1,2,1000,400", Fiscal)},
                    {0x67, "", Ok("0,1000,0,0,0,0,0,0,0,0,0", Fiscal)},
                    {0x35, "\tP+6.00", Ok("D,0", Fiscal)},
                    {0x38, "", Ok("5,3")}},
                   CloseOpen, true, D);
  }
}

TEST(CancelAllRec, Sequences) {
  {
    SCOPED_TRACE("no transaction open");
    TFakeDevice D;
    ExpectSequence({{0x4C, "T", Ok("0,0,0,0")}}, CancelAll, true, D);
  }
  {
    SCOPED_TRACE("paid: closed, its result passed on");
    TFakeDevice D;
    ExpectSequence({{0x4C, "T", Ok("1,2,1000,1000", Fiscal)}, {0x38, "", Ok("5,3")}}, CancelAll, true, D);
    TFakeDevice R;
    ExpectSequence({{0x4C, "T", Ok("1,2,1000,1000", Fiscal)}, {0x38, "", Ok("", StatusWith({{2, 0}}))}},
                   CancelAll, false, R);
    EXPECT_TRUE(FailedWith(R, 210, "[2/0]"));
  }
  {
    SCOPED_TRACE("overpaid is paid, closed without a negative payment");
    TFakeDevice D;
    ExpectSequence({{0x4C, "T", Ok("1,2,1000,1500", Fiscal)}, {0x38, "", Ok("5,3")}}, CancelAll, true, D);
  }
  {
    SCOPED_TRACE("10.00 due, 4.00 paid, no longer cancellable: pays 6.00 with P and closes");
    TFakeDevice D;
    ExpectSequence({{0x4C, "T", Ok("1,2,1000,400", Fiscal)},
                    {0x67, "", Ok("0,1000,0,0,0,0,0,0,0,0,0", Fiscal)},
                    {0x35, "\tP+6.00", Ok("D,0", Fiscal)},
                    {0x38, "", Ok("5,3")}},
                   CancelAll, true, D);
  }
  {
    SCOPED_TRACE("cancellable: cancelled");
    TFakeDevice D;
    ExpectSequence({{0x4C, "T", Ok("1,2,1000,0", Fiscal)},
                    {0x67, "", Ok("1,1000,0,0,0,0,0,0,0,0,0", Fiscal)},
                    {0x3C, "", Ok("", Idle)}},
                   CancelAll, true, D);
  }
  {
    SCOPED_TRACE("cancel refused, an invoice: pays, a placeholder buyer, closes");
    TFakeDevice D;
    ExpectSequence({{0x4C, "T", Ok("1,2,1000,0", Fiscal)},
                    {0x67, "", Ok("1,1000,0,0,0,0,0,0,0,1,12", Fiscal)},
                    {0x3C, "", Ok("", Refused)},
                    {0x35, "\tP+10.00", Ok("F", Fiscal)},
                    {0x39, "111111110\t\t\t\t", Ok("", Fiscal)},
                    {0x38, "", Ok("5,3")}},
                   CancelAll, true, D);
  }
  {
    SCOPED_TRACE("no tender field: the whole amount is paid");
    TFakeDevice D;
    ExpectSequence({{0x4C, "T", Ok("1,2,1000", Fiscal)},
                    {0x67, "", Ok("0,1000,0,0,0,0,0,0,0,0,0", Fiscal)},
                    {0x35, "\tP+10.00", Ok("D,0", Fiscal)},
                    {0x38, "", Ok("5,3")}},
                   CancelAll, true, D);
  }
  struct Failure {
    const char* Name;
    std::vector<TStep> Steps;
  };
  const TFakeDevice::TReply Lost = TFakeDevice::Failure(107, "lost");
  const Failure Failures[] = {
      {"transaction status fails", {{0x4C, "T", Lost}}},
      {"receipt total fails", {{0x4C, "T", Ok("1,2,1000,0", Fiscal)}, {0x67, "", Lost}}},
      {"final close fails",
       {{0x4C, "T", Ok("1,2,1000,0", Fiscal)},
        {0x67, "", Ok("0,1000,0,0,0,0,0,0,0,0,0", Fiscal)},
        {0x35, "\tP+10.00", Ok("D,0", Fiscal)},
        {0x38, "", Lost}}},
  };
  for (const Failure& F : Failures) {
    SCOPED_TRACE(F.Name);
    TFakeDevice D;
    ExpectSequence(F.Steps, CancelAll, false, D);
    EXPECT_EQ(D.FErrorCode, 107);
    EXPECT_EQ(D.FErrorText, "[FPR_CancelAllRecFailed]lost");
  }
}

TEST(TransactionStatus, RequestAndFields) {
  TFakeDevice D;
  bool Open = true, HasTender = true;
  int32_t Items = -1;
  double Amount = -1, Tender = -1;
  D.Push(Ok("1,3,1250"));
  ASSERT_TRUE(D.GetFPR_TransactionStatus(true, Open, Items, Amount, Tender, HasTender));
  EXPECT_EQ(Text(D.Calls[0].Data), "T");
  EXPECT_TRUE(Open);
  EXPECT_EQ(Items, 3);
  EXPECT_DOUBLE_EQ(Amount, 12.5);
  EXPECT_EQ(Tender, 0);
  EXPECT_FALSE(HasTender);

  D.Push(Ok("2,3,1250,1000"));
  ASSERT_TRUE(D.GetFPR_TransactionStatus(false, Open, Items, Amount, Tender, HasTender));
  EXPECT_EQ(Text(D.Calls[1].Data), "");
  EXPECT_FALSE(Open);  // only the flag 1 is open
  EXPECT_DOUBLE_EQ(Tender, 10.0);
  EXPECT_TRUE(HasTender);

  const std::pair<const char*, std::pair<int32_t, const char*>> Cases[] = {
      {"1,3", {200, ""}},         {"x,3,1", {201, "[Open]"}},       {"1,x,1", {201, "[ItemsCount]"}},
      {"1,3,x", {201, "[Amount]"}}, {"1,3,1,x", {201, "[Tender]"}},
  };
  for (const auto& [Answer, Expected] : Cases) {
    D.Push(Ok(Answer));
    EXPECT_FALSE(D.GetFPR_TransactionStatus(true, Open, Items, Amount, Tender)) << Answer;
    EXPECT_TRUE(FailedWith(D, Expected.first, Expected.second)) << Answer;
  }
}

// ---------------------------------------------------------------------------------------
// The same operations against the printer model, over a pty and the serial device.

class ReceiptsOnModel : public ::testing::Test {
protected:
  void SetUp() override {
    Device.SetPortName(Pty.SlavePath());
    Device.SetBaudRate("115200");
    ASSERT_TRUE(Device.Connect()) << Device.FErrorText;
  }
  std::vector<int> Commands() const {
    std::vector<int> Out;
    for (uint8_t C : Model.Commands()) Out.push_back(C);
    return Out;
  }
  // Opens a fiscal receipt with one item of Price (quantity 1, VAT group 2).
  void OpenWithItem(double Price) {
    int32_t A = 0, F = 0;
    ASSERT_TRUE(Device.FPR_OpenFiscBon(1, "0000", 1, false, A, F)) << Device.FErrorText;
    ASSERT_TRUE(Device.FPR_Sale("Item", "", '\xC1', Price, 1, 0)) << Device.FErrorText;
  }
  bool Pay(double Amount) {
    char Code = 0;
    double Amount2 = 0;
    return Device.FPR_Payment("", "", 'P', Amount, Code, Amount2);
  }

  model::PrinterModel Model;
  model::PtyEndpoint Pty{Model};
  TRS32Device Device;
};

TEST_F(ReceiptsOnModel, FiscalReceiptOpenedSoldPaidClosed) {
  TDataBuffer Status;
  ASSERT_TRUE(Device.GetFPR_Status(true, Status)) << Device.FErrorText;
  EXPECT_FALSE(IsStatusBitSet(Status, 2, 3));

  int32_t All = 0, Fisc = 0;
  ASSERT_TRUE(Device.FPR_OpenFiscBon(1, "0000", 1, false, All, Fisc)) << Device.FErrorText;
  EXPECT_EQ(All, Model.State().allReceipts);
  EXPECT_EQ(Fisc, Model.State().fiscReceipts);
  ASSERT_TRUE(Device.FPR_Sale("Milk", "1 l", '\xC1', 1.5, 2, 0)) << Device.FErrorText;
  ASSERT_TRUE(Device.FPR_PrintFiscText("Thank you")) << Device.FErrorText;
  double Sub = 0;
  std::array<double, 8> Vat{};
  ASSERT_TRUE(Device.FPR_SubTotal(false, false, false, Sub, Vat, 0)) << Device.FErrorText;
  EXPECT_DOUBLE_EQ(Sub, 3.0);
  EXPECT_DOUBLE_EQ(Vat[1], 3.0);

  bool Open = false, HasTender = false;
  int32_t Items = 0;
  double Amount = 0, Tender = -1;
  ASSERT_TRUE(Device.GetFPR_TransactionStatus(true, Open, Items, Amount, Tender, HasTender)) << Device.FErrorText;
  EXPECT_TRUE(Open);
  EXPECT_EQ(Items, 1);
  EXPECT_DOUBLE_EQ(Amount, 3.0);
  EXPECT_TRUE(HasTender);
  EXPECT_EQ(Tender, 0);

  char Code = 0;
  double Change = 0;
  ASSERT_TRUE(Device.FPR_Payment("", "", 'P', 5, Code, Change)) << Device.FErrorText;
  EXPECT_EQ(Code, 'D');
  EXPECT_DOUBLE_EQ(Change, 2.0);
  int32_t All2 = 0, Fisc2 = 0;
  ASSERT_TRUE(Device.FPR_CloseFiscBon(All2, Fisc2)) << Device.FErrorText;
  EXPECT_EQ(All2, All);
  EXPECT_EQ(Fisc2, Fisc);

  // The copy of the last receipt may be printed once.
  ASSERT_TRUE(Device.FPR_PrintDuplicate()) << Device.FErrorText;
  EXPECT_FALSE(Device.FPR_PrintDuplicate());
  EXPECT_EQ(Device.FErrorCode, 256);

  EXPECT_EQ(Commands(), (std::vector<int>{0x4A, 0x30, 0x31, 0x36, 0x33, 0x4C, 0x35, 0x38, 0x6D, 0x6D}));
  const model::Receipt R = Model.State().closed.back();
  EXPECT_FALSE(R.cancelled);
  ASSERT_EQ(R.items.size(), 1u);
  EXPECT_EQ(R.items[0].text1, "Milk");
  EXPECT_EQ(R.items[0].amountCents, 300);
  ASSERT_EQ(R.payments.size(), 1u);
  EXPECT_EQ(R.payments[0].amountCents, 500);
  EXPECT_EQ(R.texts, std::vector<std::string>{"Thank you"});
  EXPECT_TRUE(R.duplicatePrinted);
}

TEST_F(ReceiptsOnModel, CloseOpenReceiptsCancelsAnUnpaidReceipt) {
  OpenWithItem(10);
  Model.ClearRequests();
  ASSERT_TRUE(Device.FPR_CloseOpenReceipts()) << Device.FErrorText;
  EXPECT_EQ(Commands(), (std::vector<int>{0x4A, 0x3C, 0x4A}));
  EXPECT_TRUE(Model.State().closed.back().cancelled);
  EXPECT_FALSE(Model.State().open);
}

TEST_F(ReceiptsOnModel, CloseOpenReceiptsPaysUpAPartlyPaidReceipt) {
  OpenWithItem(10);
  ASSERT_TRUE(Pay(4)) << Device.FErrorText;
  Model.ClearRequests();
  // Paid in part: no cancel, no close; the rest is paid with P and the receipt closed.
  ASSERT_TRUE(Device.FPR_CloseOpenReceipts()) << Device.FErrorText;
  EXPECT_EQ(Commands(), (std::vector<int>{0x4A, 0x3C, 0x4A, 0x38, 0x4C, 0x67, 0x35, 0x38}));
  EXPECT_EQ(Model.Requests()[6].data, "\tP+6.00");
  const model::Receipt R = Model.State().closed.back();
  EXPECT_FALSE(R.cancelled);
  ASSERT_EQ(R.payments.size(), 2u);
  EXPECT_EQ(R.payments[1].amountCents, 600);
}

TEST_F(ReceiptsOnModel, CancelAllRecClosesAnOverpaidReceipt) {
  OpenWithItem(10);
  ASSERT_TRUE(Pay(15)) << Device.FErrorText;
  Model.ClearRequests();
  ASSERT_TRUE(Device.FPR_CancelAllRec()) << Device.FErrorText;
  // Closed as it stands: no negative payment goes out.
  EXPECT_EQ(Commands(), (std::vector<int>{0x4C, 0x38}));
  const model::Receipt R = Model.State().closed.back();
  EXPECT_FALSE(R.cancelled);
  EXPECT_EQ(R.payments.size(), 1u);
}

TEST_F(ReceiptsOnModel, CloseOpenReceiptsReportsAFailedReRead) {
  OpenWithItem(10);
  // The status query after the cancel is refused as an invalid command.
  int Queries = 0;
  Model.SetHandler(0x4A, [&Queries](model::CommandContext& C) {
    if (++Queries == 2) C.InvalidCommand();
  });
  Model.ClearRequests();
  EXPECT_FALSE(Device.FPR_CloseOpenReceipts());
  EXPECT_TRUE(FailedWith(Device, 204, "[0/1]"));
  EXPECT_EQ(Commands(), (std::vector<int>{0x4A, 0x3C, 0x4A}));
}

}  // namespace
}  // namespace fp
