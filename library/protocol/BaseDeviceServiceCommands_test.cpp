#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/CommandTestSupport.h"
#include "tests/support/FakeDevice.h"
#include "library/protocol/OleDate.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace fp::test {
namespace {

using test::FailedWith;
using test::StatusWith;
using test::TBitTest;
using test::Text;
using Op = std::function<bool(TBaseDevice&)>;

double Date(int Y, int M, int D, int H = 0, int N = 0, int S = 0) {
  double v = 0;
  EXPECT_TRUE(TryEncodeOleDateTime(Y, M, D, H, N, S, 0, v));
  return v;
}

const std::string Forty = "1234567890123456789012345678901234567890";
const std::string First36 = Forty.substr(0, 36);

// The general check where a row runs it before its own tests.
const TBitTest Syntax{0, 0, true, 205};
const TBitTest FiscalMode{1, 1, true, 216};
const TBitTest NoPaper{2, 0, true, 210};
const TBitTest NonFiscalOpen{2, 5, true, 215};
const TBitTest FiscalOpen{2, 3, true, 217};

// Every command with representative arguments: its request, an answer it accepts, its
// status tests in their order, and whether a failure carries the status texts.
struct TRow {
  const char* Name;
  Op Call;
  uint8_t Cmd;
  std::string Data;
  std::string Answer;
  std::vector<TBitTest> Tests;
  bool WithStatus;
};

std::vector<TRow> Rows() {
  static int64_t closure, start, end;
  static double total, d1, d2;
  static std::array<double, 8> sums;
  static bool b1;
  static int32_t i1;
  const std::string ten = "1,2,3,4,5,6,7,8,9,10";
  TDepartmentInfo dep{7, static_cast<char>(0xC1), "Bread", "and rolls"};
  TDepartmentInfo depOneLine{12, static_cast<char>(0xC7), "Milk", ""};
  TPluData plu;
  plu.PluNo = 12;
  plu.TaxGroup = static_cast<char>(0xC1);
  plu.GroupNom = 3;
  plu.UnitPrice = 1.5;
  plu.Quantity = 2.5;
  plu.Name = Forty;
  const double dec1 = Date(2026, 12, 1), dec8 = Date(2026, 12, 8, 22, 53, 40);
  return {
      {"ZReport", [](TBaseDevice& D) { return D.FPR_DailyReport(true); }, 0x45, "0", "", {NoPaper}, true},
      {"XReport", [](TBaseDevice& D) { return D.FPR_DailyReport(false); }, 0x45, "2", "", {NoPaper}, true},
      {"FMNumberShortSwapped",
       [](TBaseDevice& D) { return D.FPR_FMReportByNumber(true, 5, 3); },
       0x5F,
       "3,5",
       "",
       {NoPaper},
       false},
      {"FMNumberDetailed",
       [](TBaseDevice& D) { return D.FPR_FMReportByNumber(false, 3, 5); },
       0x49,
       "3,5",
       "",
       {NoPaper},
       false},
      {"FMNumberNoEnd",
       [](TBaseDevice& D) { return D.FPR_FMReportByNumber(true, 5, 0); },
       0x5F,
       "5",
       "",
       {NoPaper},
       false},
      {"FMDateShortNoEnd",
       [dec1](TBaseDevice& D) { return D.FPR_FMReportByDate(true, dec1, 0); },
       0x4F,
       "011226",
       "",
       {NoPaper},
       false},
      {"FMDateDetailed",
       [dec1, dec8](TBaseDevice& D) { return D.FPR_FMReportByDate(false, dec1, dec8); },
       0x5E,
       "011226,081226",
       "",
       {NoPaper},
       false},
      {"DepartmentZReport",
       [](TBaseDevice& D) { return D.FPR_DepartmentReport(true, closure, total, sums); },
       0x75,
       "0",
       ten,
       {NoPaper},
       false},
      {"PluXReport",
       [](TBaseDevice& D) { return D.FPR_PluReport(false, closure, total, sums); },
       0x76,
       "2",
       ten,
       {NoPaper},
       false},
      {"DateTime", [dec8](TBaseDevice& D) { return D.SetFPR_DateTime(dec8); }, 0x3D, "08-12-26 22:53", "", {}, false},
      {"HeaderLine", [](TBaseDevice& D) { return D.SetFPR_HeaderLine(3, Forty); }, 0x2B, "3" + First36, "", {}, false},
      {"BarcodeHeight", [](TBaseDevice& D) { return D.SetFPR_BarcodeHeight(30); }, 0x2B, "B240", "", {}, false},
      {"Operator",
       [](TBaseDevice& D) { return D.SetFPR_Operator(7, " 0012", "  Ivan Petrov "); },
       0x66,
       "7, 0012,Ivan Petrov",
       "",
       {},
       false},
      {"OperatorNoPassword", [](TBaseDevice& D) { return D.SetFPR_Operator(1, "", "A"); }, 0x66, "1,,A", "", {}, false},
      {"InvoiceRange",
       [](TBaseDevice& D) {
         start = 100;
         end = 99999999999;
         return D.SetFPR_InvoiceRange(false, start, end);
       },
       0x42,
       "100,99999999999",
       "",
       {},
       false},
      {"CreditNoteRange",
       [](TBaseDevice& D) {
         start = end = 5;
         return D.SetFPR_InvoiceRange(true, start, end);
       },
       0x42,
       "S,5,5",
       "",
       {},
       false},
      {"Department",
       [dep](TBaseDevice& D) { return D.SetFPR_Department(dep); },
       0x57,
       "7,\xC1,Bread\nand rolls",
       "",
       {},
       false},
      {"DepartmentOneLine",
       [depOneLine](TBaseDevice& D) { return D.SetFPR_Department(depOneLine); },
       0x57,
       "12,\xC7,Milk",
       "",
       {},
       false},
      // The second text is the last field: it goes as given.
      {"DepartmentSecondTextAsGiven",
       [](TBaseDevice& D) {
         TDepartmentInfo info;
         info.Number = 4;
         info.TaxGroup = static_cast<char>(0xC1);
         info.Name = "Milk, fresh";
         info.AddText = "a\tb\nc";
         return D.SetFPR_Department(info);
       },
       0x57,
       "4,\xC1,Milk, fresh\na\tb\nc",
       "",
       {},
       false},
      {"PluData",
       [plu](TBaseDevice& D) { return D.SetFPR_PluData(plu); },
       0x6B,
       "P\xC1"
       "12,3,1.50,A2.500," +
           First36,
       "P",
       {},
       false},
      {"CashIn",
       [](TBaseDevice& D) { return D.FPR_CashInOut(50); },
       0x46,
       "50.00",
       "P,150,50,0",
       {Syntax, FiscalMode, NonFiscalOpen, FiscalOpen, NoPaper},
       false},
      {"CashOut",
       [](TBaseDevice& D) { return D.FPR_CashInOut(-12.345); },
       0x46,
       "-12.35",
       "P,150,0,12.35",
       {Syntax, FiscalMode, NonFiscalOpen, FiscalOpen, NoPaper},
       false},
      {"Diagnostics",
       [](TBaseDevice& D) { return D.FPR_PrintDiagnostics(); },
       0x47,
       "",
       "",
       {NoPaper, NonFiscalOpen, FiscalOpen},
       false},
      {"TransactionStatusT",
       [](TBaseDevice& D) { return D.GetFPR_TransactionStatus(true, b1, i1, d1, d2); },
       0x4C,
       "T",
       "1,2,300",
       {},
       true},
      {"TransactionStatus",
       [](TBaseDevice& D) { return D.GetFPR_TransactionStatus(false, b1, i1, d1, d2); },
       0x4C,
       "",
       "0,0,0",
       {},
       true},
      {"DailyTurnover", [](TBaseDevice& D) { return D.GetFPR_DailyTaxation(true, sums); }, 0x41, "0", "", {}, true},
      {"DailyVat", [](TBaseDevice& D) { return D.GetFPR_DailyTaxation(false, sums); }, 0x41, "1", "", {}, true},
  };
}

TEST(ServiceCommands, RequestBytes) {
  for (const TRow& r : Rows()) test::ExpectSendsOnce(r.Name, r.Call, TFakeDevice::Answer(r.Answer), r.Cmd, r.Data, 4);
}

// The first failing test wins, in the order of each row (the cash command runs the
// general check before its own tests).
TEST(ServiceCommands, StatusPrecedence) {
  for (const TRow& r : Rows()) {
    SCOPED_TRACE(r.Name);
    test::ExpectTestOrder(r.Tests, r.Answer, r.Call);
  }
}

// Every row runs the full check (S1.1 gives 216); only some rows append the texts of the
// other set bits to the error text.
TEST(ServiceCommands, FullCheckAndWhatTheRecordCarries) {
  const std::string head = TBaseDevice::ErrorCodeText(216, "[1/1]");
  for (const TRow& r : Rows()) {
    TFakeDevice d;
    d.Push(TFakeDevice::Answer(r.Answer, StatusWith({{1, 1}, {1, 2}})));
    EXPECT_FALSE(r.Call(d)) << r.Name;
    EXPECT_TRUE(FailedWith(d, 216, "[1/1]")) << r.Name;
    if (r.WithStatus)
      EXPECT_NE(d.FErrorText.find(DeviceErrorText(222)), std::string::npos) << r.Name << ": " << d.FErrorText;
    else
      EXPECT_EQ(d.FErrorText, head) << r.Name;
  }
}

// Arguments the printer cannot take: 201 with the label, recorded without status, and
// nothing sent.
TEST(ServiceCommands, ArgumentChecksSendNothing) {
  const double dec1 = Date(2026, 12, 1), dec1Noon = Date(2026, 12, 1, 12), nov30 = Date(2026, 11, 30);
  TPluData plu;
  struct TCase {
    const char* Name;
    Op Call;
    std::string Label;
  };
  const TCase cases[] = {
      {"EndDateDayBefore", [&](TBaseDevice& D) { return D.FPR_FMReportByDate(true, dec1, nov30); }, ""},
      {"EndDateEarlierTime", [&](TBaseDevice& D) { return D.FPR_FMReportByDate(false, dec1Noon, dec1); }, ""},
      {"StartDateNotADate", [](TBaseDevice& D) { return D.FPR_FMReportByDate(true, 1e9, 0); }, ""},
      {"ClockNotADate", [](TBaseDevice& D) { return D.SetFPR_DateTime(-1e9); }, ""},
      {"BarcodeTooHigh", [](TBaseDevice& D) { return D.SetFPR_BarcodeHeight(31); }, "[Height]31mm/248px"},
      {"OperatorBlankName", [](TBaseDevice& D) { return D.SetFPR_Operator(1, "1", "   "); }, "[OpName]"},
      // A password with a comma would end before it: "12,34" would be stored as "12".
      {"OperatorPasswordComma", [](TBaseDevice& D) { return D.SetFPR_Operator(1, "12,34", "Ivan"); }, "[OperPwd]"},
      // The name ends at LF (the second text follows) and comes back ended by TAB.
      {"DepartmentNameLf",
       [](TBaseDevice& D) {
         TDepartmentInfo info;
         info.Number = 3;
         info.Name = "Bread\nrolls";
         return D.SetFPR_Department(info);
       },
       "[DepName]"},
      {"DepartmentNameTab",
       [](TBaseDevice& D) {
         TDepartmentInfo info;
         info.Number = 3;
         info.Name = "Bread\t";
         return D.SetFPR_Department(info);
       },
       "[DepName]"},
      {"InvStartTooBig",
       [](TBaseDevice& D) {
         int64_t s = 100000000000, e = 100000000000;
         return D.SetFPR_InvoiceRange(false, s, e);
       },
       "[InvStart]"},
      {"InvEndTooBig",
       [](TBaseDevice& D) {
         int64_t s = 1, e = 100000000000;
         return D.SetFPR_InvoiceRange(false, s, e);
       },
       "[InvEnd]"},
      {"InvEndBelowStart",
       [](TBaseDevice& D) {
         int64_t s = 100, e = 50;
         return D.SetFPR_InvoiceRange(true, s, e);
       },
       "[InvEnd]"},
      {"PluVatBelow",
       [&plu](TBaseDevice& D) {
         plu.TaxGroup = static_cast<char>(0xBF);
         return D.SetFPR_PluData(plu);
       },
       "[VatGrp]"},
      {"PluVatAbove",
       [&plu](TBaseDevice& D) {
         plu.TaxGroup = static_cast<char>(0xC8);
         return D.SetFPR_PluData(plu);
       },
       "[VatGrp]"},
  };
  for (const TCase& c : cases) {
    TFakeDevice d;
    d.Push(TFakeDevice::Answer("P"));
    EXPECT_FALSE(c.Call(d)) << c.Name;
    EXPECT_EQ(d.FErrorCode, 201) << c.Name;
    EXPECT_EQ(d.FErrorText, TBaseDevice::ErrorCodeText(201, c.Label)) << c.Name;
    EXPECT_TRUE(d.Calls.empty()) << c.Name;
  }
}

// Too few fields (200) and fields that are not numbers (201 with their labels; 200 for a
// command that may have changed the printer: it was sent).
TEST(ServiceCommands, BadAnswers) {
  int64_t closure = -1;
  double total = -1, amount = -1, tender = -1;
  std::array<double, 8> sums{};
  bool open = true;
  int32_t items = -1;
  TPluData plu;
  plu.TaxGroup = static_cast<char>(0xC0);
  const Op depReport = [&](TBaseDevice& D) { return D.FPR_DepartmentReport(false, closure, total, sums); };
  const Op pluReport = [&](TBaseDevice& D) { return D.FPR_PluReport(true, closure, total, sums); };
  const Op cash = [](TBaseDevice& D) { return D.FPR_CashInOut(10); };
  const Op program = [&plu](TBaseDevice& D) { return D.SetFPR_PluData(plu); };
  const Op trans = [&](TBaseDevice& D) { return D.GetFPR_TransactionStatus(true, open, items, amount, tender); };
  struct TCase {
    const Op* Call;
    const char* Answer;
    int32_t Code;
    std::string Label;
  };
  const TCase cases[] = {
      {&depReport, "1,2,3,4,5,6,7,8,9", 200, ""},
      {&depReport, "1,2,3,4,5,6,7,8,9,,", 200, ""},
      {&depReport, "x,2,3,4,5,6,7,8,9,10", 200, "[Closure]"},
      {&depReport, "1,x,3,4,5,6,7,8,9,10", 200, "[SumTOTAL]"},
      {&pluReport, "1,2,3,x,5,6,7,8,9,10", 200, "[SumVatGroups[2]]"},
      {&pluReport, "1,2,3,4,5,6,7,8,9,x", 200, "[SumVatGroups[8]]"},
      {&cash, "P,1,2", 200, ""},
      {&cash, "P,x,0,0", 200, "[CashSum]"},
      {&cash, "P,1,x,0", 200, "[ServIn]"},
      {&cash, "P,1,0,x", 200, "[ServOut]"},
      {&program, "", 200, "[can't program plu]"},
      {&program, "PP", 200, "[can't program plu]"},
      {&program, "F", 200, "[can't program plu]"},
      {&trans, "1,2", 200, ""},
      {&trans, "x,2,3", 201, "[Open]"},
      {&trans, "1,x,3", 201, "[ItemsCount]"},
      {&trans, "1,2,x", 201, "[Amount]"},
      {&trans, "1,2,3,x", 201, "[Tender]"},
  };
  for (const TCase& c : cases) {
    TFakeDevice d;
    d.Push(TFakeDevice::Answer(c.Answer));
    EXPECT_FALSE((*c.Call)(d)) << c.Answer;
    EXPECT_TRUE(FailedWith(d, c.Code, c.Label)) << c.Answer;
  }
}

// A refused cash out above the cash in the drawer is 207 with the cash as its message;
// every other refusal (exit code F) is 206; any other exit code is success.
TEST(ServiceCommands, CashRefusals) {
  struct TCase {
    double Amount;
    const char* Answer;
    int32_t Code;  // 0: success
    std::string Message;
  };
  const TCase cases[] = {
      {-50, "F,20,0,0", 207, "20.00"},
      // 1.005 goes out as -1.01, above the 1.00 in the drawer (llround(100.4999...) is 100).
      {-1.005, "F,1.00,0,0", 207, "1.00"},
      {-50, "F,80,0,0", 206, ""},
      {-20, "F,20.00,0,0", 206, ""},  // not above the cash
      {50, "F,20,0,0", 206, ""},
      {-50, "P,20,0,0", 0, ""},
      {-50, "I,20,0,0", 0, ""},
  };
  for (const TCase& c : cases) {
    TFakeDevice d;
    d.Push(TFakeDevice::Answer(c.Answer));
    const bool ok = d.FPR_CashInOut(c.Amount);
    EXPECT_EQ(ok, c.Code == 0) << c.Amount << " " << c.Answer;
    EXPECT_EQ(d.FErrorCode, c.Code) << c.Amount << " " << c.Answer;
    if (c.Code != 0) {
      EXPECT_EQ(d.FErrorText, TBaseDevice::ErrorCodeText(c.Code, c.Message));
    }
  }
}

TEST(ServiceCommands, TransactionStatusOutputs) {
  struct TCase {
    const char* Answer;
    bool IsOpen;
    int32_t Items;
    double Amount, Tender;
    bool HasTender;
  };
  const TCase cases[] = {
      {.Answer = "1,3,1250,500", .IsOpen = true, .Items = 3, .Amount = 12.5, .Tender = 5, .HasTender = true},
      // no tender field: 0, not the caller's value
      {.Answer = "1,3,1250", .IsOpen = true, .Items = 3, .Amount = 12.5, .Tender = 0, .HasTender = false},
      // only the flag 1 is open
      {.Answer = "2,1,100,100", .IsOpen = false, .Items = 1, .Amount = 1, .Tender = 1, .HasTender = true},
      {.Answer = "0,0,0,0", .IsOpen = false, .Items = 0, .Amount = 0, .Tender = 0, .HasTender = true},
  };
  for (const TCase& c : cases) {
    TFakeDevice d;
    d.Push(TFakeDevice::Answer(c.Answer));
    bool isOpen = !c.IsOpen, hasTender = !c.HasTender;
    int32_t items = -1;
    double amount = -1, tender = -1;
    ASSERT_TRUE(d.GetFPR_TransactionStatus(true, isOpen, items, amount, tender, hasTender)) << d.FErrorText;
    EXPECT_EQ(isOpen, c.IsOpen) << c.Answer;
    EXPECT_EQ(items, c.Items) << c.Answer;
    EXPECT_DOUBLE_EQ(amount, c.Amount) << c.Answer;
    EXPECT_DOUBLE_EQ(tender, c.Tender) << c.Answer;
    EXPECT_EQ(hasTender, c.HasTender) << c.Answer;
  }
  // A failed exchange leaves the start values, never what the caller had.
  TFakeDevice d;
  d.Push(TFakeDevice::Failure(107, "gone"));
  bool isOpen = true, hasTender = true;
  int32_t items = 9;
  double amount = 9, tender = 9;
  EXPECT_FALSE(d.GetFPR_TransactionStatus(true, isOpen, items, amount, tender, hasTender));
  EXPECT_FALSE(isOpen);
  EXPECT_EQ(items, 0);
  EXPECT_EQ(amount, 0);
  EXPECT_EQ(tender, 0);
  EXPECT_FALSE(hasTender);
  EXPECT_EQ(d.FErrorCode, 107);
}

TEST(ServiceCommands, TotalsAndDailySums) {
  TFakeDevice d;
  int64_t closure = -1;
  double total = -1;
  std::array<double, 8> vat;
  vat.fill(-1);
  d.Push(TFakeDevice::Answer("-12,12345,100,-250,0,0,0,0,0,799"));
  ASSERT_TRUE(d.FPR_DepartmentReport(true, closure, total, vat)) << d.FErrorText;
  EXPECT_EQ(closure, -12);
  EXPECT_DOUBLE_EQ(total, 123.45);
  EXPECT_EQ(vat, (std::array<double, 8>{1, -2.5, 0, 0, 0, 0, 0, 7.99}));

  // Missing or non-numeric daily sums read 0 (also over what the caller had).
  std::array<double, 8> sums;
  sums.fill(-1);
  d.Push(TFakeDevice::Answer("100,x,250"));
  ASSERT_TRUE(d.GetFPR_DailyTaxation(false, sums)) << d.FErrorText;
  EXPECT_EQ(sums, (std::array<double, 8>{1, 0, 2.5, 0, 0, 0, 0, 0}));
}

// The range the printer answers with replaces the one asked for, field by field.
TEST(ServiceCommands, InvoiceRangeAnswer) {
  struct TCase {
    const char* Answer;
    int64_t Start, End;
  };
  const TCase cases[] = {
      {"", 100, 200}, {"150,300", 150, 300}, {"150", 150, 200}, {"x,300", 100, 300}, {",300", 100, 300},
  };
  for (const TCase& c : cases) {
    TFakeDevice d;
    d.Push(TFakeDevice::Answer(c.Answer));
    int64_t start = 100, end = 200;
    ASSERT_TRUE(d.SetFPR_InvoiceRange(false, start, end)) << c.Answer << ": " << d.FErrorText;
    EXPECT_EQ(start, c.Start) << c.Answer;
    EXPECT_EQ(end, c.End) << c.Answer;
  }
}

}  // namespace
}  // namespace fp::test
