#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/CommandTestSupport.h"
#include "tests/support/FakeDevice.h"
#include "library/protocol/OleDate.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace fp {
namespace {

using test::FailedWith;
using test::StatusWith;
using test::TBitTest;
using test::Text;
using Op = std::function<bool(TBaseDevice&)>;

double Date(int Y, int M, int D, int H = 0, int N = 0, int S = 0) {
  double V = 0;
  EXPECT_TRUE(TryEncodeOleDateTime(Y, M, D, H, N, S, 0, V));
  return V;
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
  static int64_t Closure, Start, End;
  static double Total, D1, D2;
  static std::array<double, 8> Sums;
  static bool B1;
  static int32_t I1;
  const std::string Ten = "1,2,3,4,5,6,7,8,9,10";
  TDepartmentInfo Dep{7, static_cast<char>(0xC1), "Bread", "and rolls"};
  TDepartmentInfo DepOneLine{12, static_cast<char>(0xC7), "Milk", ""};
  TPluData Plu;
  Plu.PluNo = 12;
  Plu.TaxGroup = static_cast<char>(0xC1);
  Plu.GroupNom = 3;
  Plu.UnitPrice = 1.5;
  Plu.Quantity = 2.5;
  Plu.Name = Forty;
  const double Dec1 = Date(2026, 12, 1), Dec8 = Date(2026, 12, 8, 22, 53, 40);
  return {
      {"ZReport", [](TBaseDevice& D) { return D.FPR_DailyReport(true); }, 0x45, "0", "", {NoPaper}, true},
      {"XReport", [](TBaseDevice& D) { return D.FPR_DailyReport(false); }, 0x45, "2", "", {NoPaper}, true},
      {"FMNumberShortSwapped", [](TBaseDevice& D) { return D.FPR_FMReportByNumber(true, 5, 3); }, 0x5F, "3,5",
       "", {NoPaper}, false},
      {"FMNumberDetailed", [](TBaseDevice& D) { return D.FPR_FMReportByNumber(false, 3, 5); }, 0x49, "3,5", "",
       {NoPaper}, false},
      {"FMNumberNoEnd", [](TBaseDevice& D) { return D.FPR_FMReportByNumber(true, 5, 0); }, 0x5F, "5", "",
       {NoPaper}, false},
      {"FMDateShortNoEnd", [Dec1](TBaseDevice& D) { return D.FPR_FMReportByDate(true, Dec1, 0); }, 0x4F,
       "011226", "", {NoPaper}, false},
      {"FMDateDetailed", [Dec1, Dec8](TBaseDevice& D) { return D.FPR_FMReportByDate(false, Dec1, Dec8); }, 0x5E,
       "011226,081226", "", {NoPaper}, false},
      {"DepartmentZReport",
       [](TBaseDevice& D) { return D.FPR_DepartmentReport(true, Closure, Total, Sums); }, 0x75, "0", Ten,
       {NoPaper}, false},
      {"PluXReport", [](TBaseDevice& D) { return D.FPR_PluReport(false, Closure, Total, Sums); }, 0x76, "2", Ten,
       {NoPaper}, false},
      {"DateTime", [Dec8](TBaseDevice& D) { return D.SetFPR_DateTime(Dec8); }, 0x3D, "08-12-26 22:53", "", {},
       false},
      {"HeaderLine", [](TBaseDevice& D) { return D.SetFPR_HeaderLine(3, Forty); }, 0x2B, "3" + First36, "", {},
       false},
      {"BarcodeHeight", [](TBaseDevice& D) { return D.SetFPR_BarcodeHeight(30); }, 0x2B, "B240", "", {}, false},
      {"Operator", [](TBaseDevice& D) { return D.SetFPR_Operator(7, " 0012", "  Ivan Petrov "); }, 0x66,
       "7, 0012,Ivan Petrov", "", {}, false},
      {"OperatorNoPassword", [](TBaseDevice& D) { return D.SetFPR_Operator(1, "", "A"); }, 0x66, "1,,A", "", {},
       false},
      {"InvoiceRange",
       [](TBaseDevice& D) {
         Start = 100;
         End = 99999999999;
         return D.SetFPR_InvoiceRange(false, Start, End);
       },
       0x42, "100,99999999999", "", {}, false},
      {"CreditNoteRange",
       [](TBaseDevice& D) {
         Start = End = 5;
         return D.SetFPR_InvoiceRange(true, Start, End);
       },
       0x42, "S,5,5", "", {}, false},
      {"Department", [Dep](TBaseDevice& D) { return D.SetFPR_Department(Dep); }, 0x57,
       "7,\xC1,Bread\nand rolls", "", {}, false},
      {"DepartmentOneLine", [DepOneLine](TBaseDevice& D) { return D.SetFPR_Department(DepOneLine); }, 0x57,
       "12,\xC7,Milk", "", {}, false},
      // The second text is the last field: it goes as given.
      {"DepartmentSecondTextAsGiven",
       [](TBaseDevice& D) {
         TDepartmentInfo Info;
         Info.Number = 4;
         Info.TaxGroup = static_cast<char>(0xC1);
         Info.Name = "Milk, fresh";
         Info.AddText = "a\tb\nc";
         return D.SetFPR_Department(Info);
       },
       0x57, "4,\xC1,Milk, fresh\na\tb\nc", "", {}, false},
      {"PluData", [Plu](TBaseDevice& D) { return D.SetFPR_PluData(Plu); }, 0x6B,
       "P\xC1" "12,3,1.50,A2.500," + First36, "P", {}, false},
      {"CashIn", [](TBaseDevice& D) { return D.FPR_CashInOut(50); }, 0x46, "50.00", "P,150,50,0",
       {Syntax, FiscalMode, NonFiscalOpen, FiscalOpen, NoPaper}, false},
      {"CashOut", [](TBaseDevice& D) { return D.FPR_CashInOut(-12.345); }, 0x46, "-12.35", "P,150,0,12.35",
       {Syntax, FiscalMode, NonFiscalOpen, FiscalOpen, NoPaper}, false},
      {"Diagnostics", [](TBaseDevice& D) { return D.FPR_PrintDiagnostics(); }, 0x47, "", "",
       {NoPaper, NonFiscalOpen, FiscalOpen}, false},
      {"TransactionStatusT",
       [](TBaseDevice& D) { return D.GetFPR_TransactionStatus(true, B1, I1, D1, D2); }, 0x4C, "T", "1,2,300",
       {}, true},
      {"TransactionStatus",
       [](TBaseDevice& D) { return D.GetFPR_TransactionStatus(false, B1, I1, D1, D2); }, 0x4C, "", "0,0,0",
       {}, true},
      {"DailyTurnover", [](TBaseDevice& D) { return D.GetFPR_DailyTaxation(true, Sums); }, 0x41, "0", "", {},
       true},
      {"DailyVat", [](TBaseDevice& D) { return D.GetFPR_DailyTaxation(false, Sums); }, 0x41, "1", "", {}, true},
  };
}

TEST(ServiceCommands, RequestBytes) {
  for (const TRow& R : Rows())
    test::ExpectSendsOnce(R.Name, R.Call, TFakeDevice::Answer(R.Answer), R.Cmd, R.Data, 4);
}

// The first failing test wins, in the order of each row (the cash command runs the
// general check before its own tests).
TEST(ServiceCommands, StatusPrecedence) {
  for (const TRow& R : Rows()) {
    SCOPED_TRACE(R.Name);
    test::ExpectTestOrder(R.Tests, R.Answer, R.Call);
  }
}

// Every row runs the full check (S1.1 gives 216); only some rows append the texts of the
// other set bits to the error text.
TEST(ServiceCommands, FullCheckAndWhatTheRecordCarries) {
  const std::string Head = TBaseDevice::ErrorCodeText(216, "[1/1]");
  for (const TRow& R : Rows()) {
    TFakeDevice D;
    D.Push(TFakeDevice::Answer(R.Answer, StatusWith({{1, 1}, {1, 2}})));
    EXPECT_FALSE(R.Call(D)) << R.Name;
    EXPECT_TRUE(FailedWith(D, 216, "[1/1]")) << R.Name;
    if (R.WithStatus)
      EXPECT_NE(D.FErrorText.find(DeviceErrorText(222)), std::string::npos) << R.Name << ": " << D.FErrorText;
    else
      EXPECT_EQ(D.FErrorText, Head) << R.Name;
  }
}

// Arguments the printer cannot take: 201 with the label, recorded without status, and
// nothing sent.
TEST(ServiceCommands, ArgumentChecksSendNothing) {
  const double Dec1 = Date(2026, 12, 1), Dec1Noon = Date(2026, 12, 1, 12), Nov30 = Date(2026, 11, 30);
  TPluData Plu;
  struct TCase {
    const char* Name;
    Op Call;
    std::string Label;
  };
  const TCase Cases[] = {
      {"EndDateDayBefore", [&](TBaseDevice& D) { return D.FPR_FMReportByDate(true, Dec1, Nov30); }, ""},
      {"EndDateEarlierTime", [&](TBaseDevice& D) { return D.FPR_FMReportByDate(false, Dec1Noon, Dec1); }, ""},
      {"StartDateNotADate", [](TBaseDevice& D) { return D.FPR_FMReportByDate(true, 1e9, 0); }, ""},
      {"ClockNotADate", [](TBaseDevice& D) { return D.SetFPR_DateTime(-1e9); }, ""},
      {"BarcodeTooHigh", [](TBaseDevice& D) { return D.SetFPR_BarcodeHeight(31); }, "[Height]31mm/248px"},
      {"OperatorBlankName", [](TBaseDevice& D) { return D.SetFPR_Operator(1, "1", "   "); }, "[OpName]"},
      // A password with a comma would end before it: "12,34" would be stored as "12".
      {"OperatorPasswordComma", [](TBaseDevice& D) { return D.SetFPR_Operator(1, "12,34", "Ivan"); },
       "[OperPwd]"},
      // The name ends at LF (the second text follows) and comes back ended by TAB.
      {"DepartmentNameLf",
       [](TBaseDevice& D) {
         TDepartmentInfo Info;
         Info.Number = 3;
         Info.Name = "Bread\nrolls";
         return D.SetFPR_Department(Info);
       },
       "[DepName]"},
      {"DepartmentNameTab",
       [](TBaseDevice& D) {
         TDepartmentInfo Info;
         Info.Number = 3;
         Info.Name = "Bread\t";
         return D.SetFPR_Department(Info);
       },
       "[DepName]"},
      {"InvStartTooBig",
       [](TBaseDevice& D) {
         int64_t S = 100000000000, E = 100000000000;
         return D.SetFPR_InvoiceRange(false, S, E);
       },
       "[InvStart]"},
      {"InvEndTooBig",
       [](TBaseDevice& D) {
         int64_t S = 1, E = 100000000000;
         return D.SetFPR_InvoiceRange(false, S, E);
       },
       "[InvEnd]"},
      {"InvEndBelowStart",
       [](TBaseDevice& D) {
         int64_t S = 100, E = 50;
         return D.SetFPR_InvoiceRange(true, S, E);
       },
       "[InvEnd]"},
      {"PluVatBelow",
       [&Plu](TBaseDevice& D) {
         Plu.TaxGroup = static_cast<char>(0xBF);
         return D.SetFPR_PluData(Plu);
       },
       "[VatGrp]"},
      {"PluVatAbove",
       [&Plu](TBaseDevice& D) {
         Plu.TaxGroup = static_cast<char>(0xC8);
         return D.SetFPR_PluData(Plu);
       },
       "[VatGrp]"},
  };
  for (const TCase& C : Cases) {
    TFakeDevice D;
    D.Push(TFakeDevice::Answer("P"));
    EXPECT_FALSE(C.Call(D)) << C.Name;
    EXPECT_EQ(D.FErrorCode, 201) << C.Name;
    EXPECT_EQ(D.FErrorText, TBaseDevice::ErrorCodeText(201, C.Label)) << C.Name;
    EXPECT_TRUE(D.Calls.empty()) << C.Name;
  }
}

// Too few fields (200) and fields that are not numbers (201 with their labels; 200 for a
// command that may have changed the printer: it was sent).
TEST(ServiceCommands, BadAnswers) {
  int64_t Closure = -1;
  double Total = -1, Amount = -1, Tender = -1;
  std::array<double, 8> Sums{};
  bool Open = true;
  int32_t Items = -1;
  TPluData Plu;
  Plu.TaxGroup = static_cast<char>(0xC0);
  const Op DepReport = [&](TBaseDevice& D) { return D.FPR_DepartmentReport(false, Closure, Total, Sums); };
  const Op PluReport = [&](TBaseDevice& D) { return D.FPR_PluReport(true, Closure, Total, Sums); };
  const Op Cash = [](TBaseDevice& D) { return D.FPR_CashInOut(10); };
  const Op Program = [&Plu](TBaseDevice& D) { return D.SetFPR_PluData(Plu); };
  const Op Trans = [&](TBaseDevice& D) { return D.GetFPR_TransactionStatus(true, Open, Items, Amount, Tender); };
  struct TCase {
    const Op* Call;
    const char* Answer;
    int32_t Code;
    std::string Label;
  };
  const TCase Cases[] = {
      {&DepReport, "1,2,3,4,5,6,7,8,9", 200, ""},
      {&DepReport, "1,2,3,4,5,6,7,8,9,,", 200, ""},
      {&DepReport, "x,2,3,4,5,6,7,8,9,10", 200, "[Closure]"},
      {&DepReport, "1,x,3,4,5,6,7,8,9,10", 200, "[SumTOTAL]"},
      {&PluReport, "1,2,3,x,5,6,7,8,9,10", 200, "[SumVatGroups[2]]"},
      {&PluReport, "1,2,3,4,5,6,7,8,9,x", 200, "[SumVatGroups[8]]"},
      {&Cash, "P,1,2", 200, ""},
      {&Cash, "P,x,0,0", 200, "[CashSum]"},
      {&Cash, "P,1,x,0", 200, "[ServIn]"},
      {&Cash, "P,1,0,x", 200, "[ServOut]"},
      {&Program, "", 200, "[can't program plu]"},
      {&Program, "PP", 200, "[can't program plu]"},
      {&Program, "F", 200, "[can't program plu]"},
      {&Trans, "1,2", 200, ""},
      {&Trans, "x,2,3", 201, "[Open]"},
      {&Trans, "1,x,3", 201, "[ItemsCount]"},
      {&Trans, "1,2,x", 201, "[Amount]"},
      {&Trans, "1,2,3,x", 201, "[Tender]"},
  };
  for (const TCase& C : Cases) {
    TFakeDevice D;
    D.Push(TFakeDevice::Answer(C.Answer));
    EXPECT_FALSE((*C.Call)(D)) << C.Answer;
    EXPECT_TRUE(FailedWith(D, C.Code, C.Label)) << C.Answer;
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
  const TCase Cases[] = {
      {-50, "F,20,0,0", 207, "20.00"},
      // 1.005 goes out as -1.01, above the 1.00 in the drawer (llround(100.4999...) is 100).
      {-1.005, "F,1.00,0,0", 207, "1.00"},
      {-50, "F,80,0,0", 206, ""},
      {-20, "F,20.00,0,0", 206, ""},  // not above the cash
      {50, "F,20,0,0", 206, ""},
      {-50, "P,20,0,0", 0, ""},
      {-50, "I,20,0,0", 0, ""},
  };
  for (const TCase& C : Cases) {
    TFakeDevice D;
    D.Push(TFakeDevice::Answer(C.Answer));
    const bool Ok = D.FPR_CashInOut(C.Amount);
    EXPECT_EQ(Ok, C.Code == 0) << C.Amount << " " << C.Answer;
    EXPECT_EQ(D.FErrorCode, C.Code) << C.Amount << " " << C.Answer;
    if (C.Code != 0) {
      EXPECT_EQ(D.FErrorText, TBaseDevice::ErrorCodeText(C.Code, C.Message));
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
  const TCase Cases[] = {
      {.Answer = "1,3,1250,500", .IsOpen = true, .Items = 3, .Amount = 12.5, .Tender = 5, .HasTender = true},
      // no tender field: 0, not the caller's value
      {.Answer = "1,3,1250", .IsOpen = true, .Items = 3, .Amount = 12.5, .Tender = 0, .HasTender = false},
      // only the flag 1 is open
      {.Answer = "2,1,100,100", .IsOpen = false, .Items = 1, .Amount = 1, .Tender = 1, .HasTender = true},
      {.Answer = "0,0,0,0", .IsOpen = false, .Items = 0, .Amount = 0, .Tender = 0, .HasTender = true},
  };
  for (const TCase& C : Cases) {
    TFakeDevice D;
    D.Push(TFakeDevice::Answer(C.Answer));
    bool IsOpen = !C.IsOpen, HasTender = !C.HasTender;
    int32_t Items = -1;
    double Amount = -1, Tender = -1;
    ASSERT_TRUE(D.GetFPR_TransactionStatus(true, IsOpen, Items, Amount, Tender, HasTender)) << D.FErrorText;
    EXPECT_EQ(IsOpen, C.IsOpen) << C.Answer;
    EXPECT_EQ(Items, C.Items) << C.Answer;
    EXPECT_DOUBLE_EQ(Amount, C.Amount) << C.Answer;
    EXPECT_DOUBLE_EQ(Tender, C.Tender) << C.Answer;
    EXPECT_EQ(HasTender, C.HasTender) << C.Answer;
  }
  // A failed exchange leaves the start values, never what the caller had.
  TFakeDevice D;
  D.Push(TFakeDevice::Failure(107, "gone"));
  bool IsOpen = true, HasTender = true;
  int32_t Items = 9;
  double Amount = 9, Tender = 9;
  EXPECT_FALSE(D.GetFPR_TransactionStatus(true, IsOpen, Items, Amount, Tender, HasTender));
  EXPECT_FALSE(IsOpen);
  EXPECT_EQ(Items, 0);
  EXPECT_EQ(Amount, 0);
  EXPECT_EQ(Tender, 0);
  EXPECT_FALSE(HasTender);
  EXPECT_EQ(D.FErrorCode, 107);
}

TEST(ServiceCommands, TotalsAndDailySums) {
  TFakeDevice D;
  int64_t Closure = -1;
  double Total = -1;
  std::array<double, 8> Vat;
  Vat.fill(-1);
  D.Push(TFakeDevice::Answer("-12,12345,100,-250,0,0,0,0,0,799"));
  ASSERT_TRUE(D.FPR_DepartmentReport(true, Closure, Total, Vat)) << D.FErrorText;
  EXPECT_EQ(Closure, -12);
  EXPECT_DOUBLE_EQ(Total, 123.45);
  EXPECT_EQ(Vat, (std::array<double, 8>{1, -2.5, 0, 0, 0, 0, 0, 7.99}));

  // Missing or non-numeric daily sums read 0 (also over what the caller had).
  std::array<double, 8> Sums;
  Sums.fill(-1);
  D.Push(TFakeDevice::Answer("100,x,250"));
  ASSERT_TRUE(D.GetFPR_DailyTaxation(false, Sums)) << D.FErrorText;
  EXPECT_EQ(Sums, (std::array<double, 8>{1, 0, 2.5, 0, 0, 0, 0, 0}));
}

// The range the printer answers with replaces the one asked for, field by field.
TEST(ServiceCommands, InvoiceRangeAnswer) {
  struct TCase {
    const char* Answer;
    int64_t Start, End;
  };
  const TCase Cases[] = {
      {"", 100, 200},
      {"150,300", 150, 300},
      {"150", 150, 200},
      {"x,300", 100, 300},
      {",300", 100, 300},
  };
  for (const TCase& C : Cases) {
    TFakeDevice D;
    D.Push(TFakeDevice::Answer(C.Answer));
    int64_t Start = 100, End = 200;
    ASSERT_TRUE(D.SetFPR_InvoiceRange(false, Start, End)) << C.Answer << ": " << D.FErrorText;
    EXPECT_EQ(Start, C.Start) << C.Answer;
    EXPECT_EQ(End, C.End) << C.Answer;
  }
}

}  // namespace
}  // namespace fp
