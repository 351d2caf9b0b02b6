#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/CommandTestSupport.h"
#include "tests/support/FakeDevice.h"
#include "library/protocol/OleDate.h"

#include <gtest/gtest.h>

#include <functional>

namespace fp {
namespace {

using test::FailedWith;
using test::StatusWith;
using test::Text;
using Op = std::function<bool(TBaseDevice&)>;

// Every information command with representative arguments, its request and its checks.
struct TInfoRow {
  const char* Name;
  Op Call;
  uint8_t Cmd;
  std::string Data;
  uint8_t Retries;
  bool Full;          // CheckStatus rather than CheckStatusBasic
  bool WithStatus;    // failures carry the status texts
  std::string Answer; // an answer the operation accepts
};

std::vector<TInfoRow> InfoRows() {
  static double Dt;
  static TDataBuffer St;
  static TDiagnosticInfo Di;
  static int32_t I32;
  static bool B1, B2;
  static std::array<double, 8> Sums;
  static int64_t N1, N2, N3;
  static double D1;
  static std::string S1, S2;
  static std::vector<std::string> Lines;
  static TDailyPayments Pay;
  static TDepartmentSum Dep;
  static char Ch;
  static TPluData Plu;
  static TPrnConst Consts;
  const std::string Eleven = "1,100,0,0,0,0,0,0,0,0,0";
  return {
      {.Name = "DateTime", .Call = [](TBaseDevice& D) { return D.GetFPR_DateTime(Dt); },
       .Cmd = 0x3E, .Data = "", .Retries = 4, .Full = false, .WithStatus = true, .Answer = "05-01-15 09:07:03"},
      {.Name = "StatusWait", .Call = [](TBaseDevice& D) { return D.GetFPR_Status(true, St); },
       .Cmd = 0x4A, .Data = "W", .Retries = 4, .Full = false, .WithStatus = true, .Answer = ""},
      {.Name = "StatusNoWait", .Call = [](TBaseDevice& D) { return D.GetFPR_Status(false, St); },
       .Cmd = 0x4A, .Data = "X", .Retries = 1, .Full = false, .WithStatus = true, .Answer = ""},
      {.Name = "Diagnostic1", .Call = [](TBaseDevice& D) { return D.GetFPR_DiagnosticInfo(true, Di); },
       .Cmd = 0x5A, .Data = "1", .Retries = 4, .Full = false, .WithStatus = true, .Answer = "M,a b c,d,e,f,g"},
      {.Name = "Diagnostic0", .Call = [](TBaseDevice& D) { return D.GetFPR_DiagnosticInfo(false, Di); },
       .Cmd = 0x5A, .Data = "0", .Retries = 4, .Full = false, .WithStatus = true, .Answer = "M,a b c,d,e,f,g"},
      {.Name = "LastDocNumber", .Call = [](TBaseDevice& D) { return D.GetFPR_LastDocNumber(I32); },
       .Cmd = 0x71, .Data = "", .Retries = 4, .Full = false, .WithStatus = true, .Answer = "17"},
      {.Name = "ReceiptInfo", .Call = [](TBaseDevice& D) { return D.GetFPR_ReceiptInfo(B1, Sums, B2, N1); },
       .Cmd = 0x67, .Data = "", .Retries = 4, .Full = true, .WithStatus = true, .Answer = Eleven},
      {.Name = "ReceiptTotal", .Call = [](TBaseDevice& D) { return D.GetFPR_ReceiptTotal(B1, D1, B2); },
       .Cmd = 0x67, .Data = "", .Retries = 4, .Full = true, .WithStatus = true, .Answer = Eleven},
      {.Name = "HeaderLine", .Call = [](TBaseDevice& D) { return D.GetFPR_HeaderLine(3, S1); },
       .Cmd = 0x2B, .Data = "I3", .Retries = 4, .Full = false, .WithStatus = true, .Answer = "line"},
      {.Name = "InvoiceRange", .Call = [](TBaseDevice& D) { return D.GetFPR_InvoiceRange(false, N1, N2, N3); },
       .Cmd = 0x42, .Data = "", .Retries = 4, .Full = false, .WithStatus = false, .Answer = "1,2,3"},
      {.Name = "CreditRange", .Call = [](TBaseDevice& D) { return D.GetFPR_InvoiceRange(true, N1, N2, N3); },
       .Cmd = 0x42, .Data = "S", .Retries = 4, .Full = false, .WithStatus = false, .Answer = "1,2,3"},
      {.Name = "DailyPayments", .Call = [](TBaseDevice& D) { return D.GetFPR_DailyPayments(Pay); },
       .Cmd = 0x6E, .Data = "11", .Retries = 4, .Full = true, .WithStatus = false, .Answer = ""},
      {.Name = "DailyPaymentsShort", .Call = [](TBaseDevice& D) { return D.GetFPR_DailyPaymentsShort(Pay); },
       .Cmd = 0x6E, .Data = "11", .Retries = 4, .Full = true, .WithStatus = false, .Answer = ""},
      {.Name = "DepartmentSum", .Call = [](TBaseDevice& D) { return D.GetFPR_DepartmentSum(12, Dep); },
       .Cmd = 0x58, .Data = "12", .Retries = 4, .Full = true, .WithStatus = true, .Answer = "F"},
      {.Name = "DepartmentInfo", .Call = [](TBaseDevice& D) { return D.GetFPR_DepartmentInfo(5, S1, S2, Ch); },
       .Cmd = 0x57, .Data = "5", .Retries = 4, .Full = true, .WithStatus = false, .Answer = "5,\xC1,Dairy"},
      {.Name = "PluData", .Call = [](TBaseDevice& D) { return D.GetFPR_PluData(77, Plu); },
       .Cmd = 0x6B, .Data = "R77", .Retries = 4, .Full = true, .WithStatus = false,
       .Answer = "P77,\xC1,1,1.00,0,0,0,Milk"},
      {.Name = "PayType2", .Call = [](TBaseDevice& D) { return D.GetFPR_PayTypeName(2, S1); },
       .Cmd = 0x55, .Data = "N", .Retries = 4, .Full = true, .WithStatus = false, .Answer = ""},
      {.Name = "Constants", .Call = [](TBaseDevice& D) { return D.GetFPR_Constants(Consts); },
       .Cmd = 0x80, .Data = "", .Retries = 4, .Full = false, .WithStatus = true, .Answer = ""},
      {.Name = "CurrencyMode", .Call = [](TBaseDevice& D) { return D.GetFPR_CurrencyMode(I32); },
       .Cmd = 0x83, .Data = "", .Retries = 4, .Full = true, .WithStatus = true, .Answer = "1"},
      {.Name = "OpenDrawer", .Call = [](TBaseDevice& D) { return D.FPR_OpenDrawer(60); },
       .Cmd = 0x6A, .Data = "60", .Retries = 4, .Full = true, .WithStatus = true, .Answer = ""},
  };
}

TEST(InfoCommands, RequestBytesAndRetries) {
  for (const TInfoRow& R : InfoRows())
    test::ExpectSendsOnce(R.Name, R.Call, TFakeDevice::Answer(R.Answer), R.Cmd, R.Data, R.Retries);
}

TEST(InfoCommands, PayTypeLetters) {
  const std::pair<uint32_t, const char*> Cases[] = {{0, "P"}, {1, "P"}, {2, "N"}, {3, "C"}, {4, "D"},
                                                    {5, "I"}, {6, "J"}, {7, "K"}, {8, "L"}, {9, "P"},
                                                    {static_cast<uint32_t>(-1), "P"}};
  for (auto [PayType, Letter] : Cases) {
    TFakeDevice D;
    D.Push(TFakeDevice::Answer("Cash"));
    std::string Name = "old";
    ASSERT_TRUE(D.GetFPR_PayTypeName(PayType, Name));
    EXPECT_EQ(Text(D.Calls[0].Data), Letter) << PayType;
    EXPECT_EQ(Name, "Cash");
  }
  TFakeDevice D;
  D.Push(TFakeDevice::Answer(""));
  std::string Name = "old";
  ASSERT_TRUE(D.GetFPR_PayTypeName(1, Name));
  EXPECT_EQ(Name, "");
}

// Status precedence and what the record carries, for every row: syntax error before invalid
// command; the fiscal-mode and overflow bits only where the full check runs (1.1 before
// 1.0); the length of the status first; the status texts only where the row records them.
TEST(InfoCommands, StatusChecksPerRow) {
  const std::string NoPaperText = TBaseDevice::ErrorCodeText(210, "");
  for (const TInfoRow& R : InfoRows()) {
    SCOPED_TRACE(R.Name);
    {
      TFakeDevice D;
      D.Push(TFakeDevice::Answer(R.Answer, StatusWith({{0, 0}, {0, 1}})));
      EXPECT_FALSE(R.Call(D));
      EXPECT_TRUE(FailedWith(D, 205, "[0/0]"));
    }
    {
      TFakeDevice D;
      D.Push(TFakeDevice::Answer(R.Answer, StatusWith({{0, 1}, {2, 0}})));
      EXPECT_FALSE(R.Call(D));
      EXPECT_TRUE(FailedWith(D, 204, "[0/1]"));
      EXPECT_EQ(D.FErrorText.find(NoPaperText) != std::string::npos, R.WithStatus) << D.FErrorText;
    }
    {
      TFakeDevice D;
      D.Push(TFakeDevice::Answer(R.Answer, StatusWith({{1, 0}, {1, 1}})));
      if (R.Full) {
        EXPECT_FALSE(R.Call(D));
        EXPECT_TRUE(FailedWith(D, 216, "[1/1]"));
      } else {
        EXPECT_TRUE(R.Call(D)) << D.FErrorText;
      }
    }
    if (R.Full) {
      TFakeDevice D;
      D.Push(TFakeDevice::Answer(R.Answer, StatusWith({{1, 0}})));
      EXPECT_FALSE(R.Call(D));
      EXPECT_TRUE(FailedWith(D, 223, "[1/0]"));
    }
    {
      TFakeDevice D;
      D.Push(TFakeDevice::Answer(R.Answer, TDataBuffer(5, 0x80)));
      EXPECT_FALSE(R.Call(D));
      EXPECT_TRUE(FailedWith(D, 200, "[6/5]"));
    }
    {
      // A failed exchange comes back as the transport left it.
      TFakeDevice D;
      D.Push(TFakeDevice::Failure(107, "Fail read data from port. "));
      EXPECT_FALSE(R.Call(D));
      EXPECT_EQ(D.FErrorCode, 107);
      EXPECT_EQ(D.FErrorText, "Fail read data from port. ");
    }
  }
}

TEST(InfoCommands, DateTimeAnswer) {
  struct Case {
    const char* Answer;
    int32_t Code;
    const char* Label;
  };
  const Case Cases[] = {
      {"05-01-15 09:07:0", 200, "[GetFPR_DateTime]"},  // 16 bytes
      {"31-02-15 10:00:00", 201, "[DATE]"},
      {"x5-01-15 09:07:03", 201, "[DAY]"},
      {"05-1x-15 09:07:03", 201, "[MONTH]"},
      {"05-01-?? 09:07:03", 201, "[YEAR]"},
      {"05-01-15 9 :07:03", 201, "[HOUR]"},
      {"05-01-15 09:ab:03", 201, "[MIN]"},
      {"05-01-15 09:07:s3", 201, "[SEC]"},
      {"05-01-15 24:00:00", 201, "[DATE]"},
      {"xx-yy-15 09:07:03", 201, "[DAY]"},  // the first failing piece wins
  };
  for (const Case& C : Cases) {
    TFakeDevice D;
    D.Push(TFakeDevice::Answer(C.Answer));
    double V = 5;
    EXPECT_FALSE(D.GetFPR_DateTime(V)) << C.Answer;
    EXPECT_TRUE(FailedWith(D, C.Code, C.Label)) << C.Answer;
    EXPECT_EQ(V, 0) << C.Answer;
  }
  TFakeDevice D;
  D.Push(TFakeDevice::Answer("05-01-15 09:07:03"));
  double V = 0;
  ASSERT_TRUE(D.GetFPR_DateTime(V));
  double Expected = 0;
  ASSERT_TRUE(TryEncodeOleDateTime(2015, 1, 5, 9, 7, 3, 0, Expected));
  EXPECT_DOUBLE_EQ(V, Expected);
}

TEST(InfoCommands, StatusFromDataOrStatusBytes) {
  TFakeDevice D;
  D.Push(TFakeDevice::Answer("ABCDEF", StatusWith({{2, 3}})));
  D.Push(TFakeDevice::Answer("ABCDE", StatusWith({{2, 3}})));
  TDataBuffer S;
  ASSERT_TRUE(D.GetFPR_Status(true, S));
  EXPECT_EQ(Text(S), "ABCDEF");
  ASSERT_TRUE(D.GetFPR_Status(true, S));
  EXPECT_EQ(S, StatusWith({{2, 3}}));
}

TEST(InfoCommands, DiagnosticInfoSlots) {
  TFakeDevice D;
  const std::string Answer = "Kestrel M,W1 W2  W3,F4,F5,AB654321,02345678";
  D.Push(TFakeDevice::Answer(Answer));
  TDiagnosticInfo I;
  ASSERT_TRUE(D.GetFPR_DiagnosticInfo(false, I));
  const char* Expected[] = {"Kestrel M", "W1", "W2", "W3", "F4", "F5", "AB654321", "02345678"};
  for (size_t K = 0; K < 8; ++K) EXPECT_EQ(I.Text[K], Expected[K]) << K;
  EXPECT_EQ(I.Text[8], Answer);

  // Long texts are cut at 255 characters; fewer than five fields fail with 200.
  D.Push(TFakeDevice::Answer("M," + std::string(300, 'x') + ",c,d,e"));
  ASSERT_TRUE(D.GetFPR_DiagnosticInfo(false, I));
  EXPECT_EQ(I.Text[1].size(), 255u);
  EXPECT_EQ(I.Text[8].size(), 255u);
  D.Push(TFakeDevice::Answer("M,a,,b,c"));
  EXPECT_FALSE(D.GetFPR_DiagnosticInfo(false, I));
  EXPECT_TRUE(FailedWith(D, 200, ""));
}

TEST(InfoCommands, LastDocNumber) {
  struct Case {
    const char* Answer;
    bool Ok;
    int32_t Number;
  };
  const Case Cases[] = {{"123", true, 123}, {"12a", false, 0}, {"", false, 0}, {"99999999999", false, 0}};
  for (const Case& C : Cases) {
    TFakeDevice D;
    D.Push(TFakeDevice::Answer(C.Answer));
    int32_t N = -1;
    EXPECT_EQ(D.GetFPR_LastDocNumber(N), C.Ok) << C.Answer;
    EXPECT_EQ(N, C.Number);
    if (!C.Ok) {
      EXPECT_TRUE(FailedWith(D, 201, "")) << C.Answer;
    }
  }
}

TEST(InfoCommands, ReceiptInfoFields) {
  TFakeDevice D;
  bool CanVoid = false, IsInvoice = true;
  std::array<double, 8> Sums{};
  int64_t Next = -1;
  D.Push(TFakeDevice::Answer("1,100,0,0,0,0,0,0,0,0,0"));
  ASSERT_TRUE(D.GetFPR_ReceiptInfo(CanVoid, Sums, IsInvoice, Next));
  EXPECT_TRUE(CanVoid);
  EXPECT_DOUBLE_EQ(Sums[0], 1.0);
  for (size_t K = 1; K < 8; ++K) EXPECT_EQ(Sums[K], 0);
  EXPECT_FALSE(IsInvoice);
  EXPECT_EQ(Next, 0);

  D.Push(TFakeDevice::Answer("1,100,0,0,0,0,0,0,0,0"));  // ten fields
  EXPECT_FALSE(D.GetFPR_ReceiptInfo(CanVoid, Sums, IsInvoice, Next));
  EXPECT_TRUE(FailedWith(D, 200, ""));

  // A bad third sum: the sums before it stay written.
  D.Push(TFakeDevice::Answer("0,150,250,x,0,0,0,0,0,1,5"));
  EXPECT_FALSE(D.GetFPR_ReceiptInfo(CanVoid, Sums, IsInvoice, Next));
  EXPECT_TRUE(FailedWith(D, 201, "[Tax3]"));
  EXPECT_DOUBLE_EQ(Sums[1], 2.5);

  D.Push(TFakeDevice::Answer("0,0,0,0,0,0,0,0,0,1,N"));
  EXPECT_FALSE(D.GetFPR_ReceiptInfo(CanVoid, Sums, IsInvoice, Next));
  EXPECT_TRUE(FailedWith(D, 201, "[NextInvNo]"));
  EXPECT_TRUE(IsInvoice);

  double Total = -1;
  D.Push(TFakeDevice::Answer("0,150,250,0,0,0,0,0,1000,1,4711"));
  ASSERT_TRUE(D.GetFPR_ReceiptTotal(CanVoid, Total, IsInvoice));
  EXPECT_DOUBLE_EQ(Total, 14.0);
  EXPECT_FALSE(CanVoid);
  EXPECT_TRUE(IsInvoice);
}

TEST(InfoCommands, HeaderLinesStopAtFirstFailure) {
  TFakeDevice D;
  for (int I = 0; I < 8; ++I) D.Push(TFakeDevice::Answer("Line " + std::to_string(I)));
  std::vector<std::string> Lines = {"stale"};
  ASSERT_TRUE(D.GetFPR_HeaderLines(Lines));
  ASSERT_EQ(Lines.size(), 8u);
  EXPECT_EQ(Lines[7], "Line 7");
  EXPECT_EQ(Text(D.Calls[7].Data), "I7");

  TFakeDevice F;
  F.Push(TFakeDevice::Answer("A"));
  F.Push(TFakeDevice::Answer("B"));
  F.Push(TFakeDevice::Answer("C", StatusWith({{0, 1}})));
  F.Push(TFakeDevice::Answer("D"));
  EXPECT_FALSE(F.GetFPR_HeaderLines(Lines));
  EXPECT_EQ(Lines, (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(FailedWith(F, 204, "[0/1]"));
  EXPECT_EQ(F.Calls.size(), 3u);
}

TEST(InfoCommands, InvoiceRangeFields) {
  struct Case {
    const char* Answer;
    int32_t Code;
    const char* Label;
  };
  const Case Cases[] = {{"1,2", 200, ""},
                        {"x,2,3", 201, "[InvStart]"},
                        {"1,y,3", 201, "[InvEnd]"},
                        {"1,2,z", 201, "[InInvCurrentvEnd]"}};
  for (const Case& C : Cases) {
    TFakeDevice D;
    D.Push(TFakeDevice::Answer(C.Answer, StatusWith({{2, 0}})));
    int64_t S, E, Cur;
    EXPECT_FALSE(D.GetFPR_InvoiceRange(false, S, E, Cur));
    // Recorded without status: nothing after the label.
    EXPECT_EQ(D.FErrorCode, C.Code);
    EXPECT_EQ(D.FErrorText, TBaseDevice::ErrorCodeText(C.Code, C.Label)) << C.Answer;
  }
  TFakeDevice D;
  D.Push(TFakeDevice::Answer("100,99999999999,150"));
  int64_t S = 0, E = 0, Cur = 0;
  ASSERT_TRUE(D.GetFPR_InvoiceRange(true, S, E, Cur));
  EXPECT_EQ(S, 100);
  EXPECT_EQ(E, 99999999999);
  EXPECT_EQ(Cur, 150);
}

TEST(InfoCommands, DailyPaymentsFullAndShort) {
  const std::string Answer = "100,250,x,,5,6,7,8,900,1000,1100,1200";
  TFakeDevice D;
  D.Push(TFakeDevice::Answer(Answer));
  D.Push(TFakeDevice::Answer(Answer));
  D.Push(TFakeDevice::Answer("100"));
  TDailyPayments P;
  ASSERT_TRUE(D.GetFPR_DailyPayments(P));
  const double Full[11] = {1.0, 2.5, 0, 0, 0.05, 0.06, 0.07, 0.08, 9.0, 10.0, 11.0};
  for (size_t K = 0; K < 11; ++K) EXPECT_DOUBLE_EQ(P.Sums[K], Full[K]) << K;
  ASSERT_TRUE(D.GetFPR_DailyPaymentsShort(P));
  for (size_t K = 0; K < 8; ++K) EXPECT_DOUBLE_EQ(P.Sums[K], Full[K]) << K;
  for (size_t K = 8; K < 11; ++K) EXPECT_EQ(P.Sums[K], 0) << K;
  ASSERT_TRUE(D.GetFPR_DailyPayments(P));  // no field count required
  EXPECT_DOUBLE_EQ(P.Sums[0], 1.0);
  EXPECT_EQ(P.Sums[1], 0);
}

TEST(InfoCommands, DepartmentSum) {
  TFakeDevice D;
  TDepartmentSum S;
  D.Push(TFakeDevice::Answer("P\xC2,3,12.50,40,x,Bread\t  Fresh\r\n"));
  ASSERT_TRUE(D.GetFPR_DepartmentSum(4, S));
  EXPECT_EQ(S.Marker, 'P');
  EXPECT_EQ(S.TaxGroup, '\xC2');
  EXPECT_EQ(S.LastCountSales, 3);
  EXPECT_DOUBLE_EQ(S.LastSum, 12.5);  // in units, not hundredths
  EXPECT_EQ(S.CountSales, 40);
  EXPECT_EQ(S.TotalSum, 0);  // not a number
  EXPECT_EQ(S.Name, "Bread");
  EXPECT_EQ(S.AddText, "Fresh");

  // Another marker leaves the start values and succeeds; so does an empty answer.
  for (const char* Answer : {"F\xC3,3,4,5,6,Name", ""}) {
    D.Push(TFakeDevice::Answer(Answer));
    ASSERT_TRUE(D.GetFPR_DepartmentSum(4, S)) << Answer;
    EXPECT_EQ(S.Marker, Answer[0]);
    EXPECT_EQ(S.TaxGroup, '\xC0');
    EXPECT_EQ(S.LastCountSales, 0);
    EXPECT_EQ(S.TotalSum, 0);
    EXPECT_EQ(S.Name, "");
  }

  // A name without TAB has no second text.
  D.Push(TFakeDevice::Answer("P\xC3,1,2,3,4, Name "));
  ASSERT_TRUE(D.GetFPR_DepartmentSum(4, S));
  EXPECT_EQ(S.Name, " Name ");
  EXPECT_EQ(S.AddText, "");
}

// A department or an article read without its VAT letter fails: it must not pass for one
// of VAT group 1 (the start letter) or carry a stray byte on.
TEST(InfoCommands, AnswersWithoutTheirVatLetterFail) {
  const Op DepartmentSum = [](TBaseDevice& D) {
    TDepartmentSum S;
    return D.GetFPR_DepartmentSum(4, S);
  };
  const Op DepartmentInfo = [](TBaseDevice& D) {
    std::string Name, Add;
    char Vat = '\xC7';
    return D.GetFPR_DepartmentInfo(5, Name, Add, Vat);
  };
  const Op PluData = [](TBaseDevice& D) {
    TPluData P;
    return D.GetFPR_PluData(7, P);
  };
  const struct {
    Op Call;
    const char* Answer;
    int32_t Code;  // 200: no VAT field; 201: no VAT letter in it
  } Cases[] = {
      {DepartmentSum, "P,1,2,3,4,Name", 200},   {DepartmentSum, "PA,1,2,3,4,Name", 201},
      {DepartmentInfo, "5", 200},               {DepartmentInfo, "F", 200},
      {DepartmentInfo, "5,,Name", 200},         {DepartmentInfo, "5,\x01,Name", 201},
      {PluData, "P7,,1,2,3,4,5,N", 200},        {PluData, "P7,B,1,2,3,4,5,N", 201},
  };
  for (const auto& C : Cases) {
    TFakeDevice D;
    D.Push(TFakeDevice::Answer(C.Answer));
    EXPECT_FALSE(C.Call(D)) << C.Answer;
    EXPECT_TRUE(FailedWith(D, C.Code, "[VatGrp]")) << C.Answer;
  }
}

TEST(InfoCommands, DepartmentInfo) {
  TFakeDevice D;
  std::string Name = "x", Add = "y";
  char Vat = '\xC7';
  D.Push(TFakeDevice::Answer("5,\xC1, Dairy \t Milk and cheese \r"));
  ASSERT_TRUE(D.GetFPR_DepartmentInfo(5, Name, Add, Vat));
  EXPECT_EQ(Name, "Dairy");
  EXPECT_EQ(Add, "Milk and cheese");
  EXPECT_EQ(Vat, '\xC1');

  // Nothing after the number fails (AnswersWithoutTheirVatLetterFail): the texts are
  // empty and the caller's letter stays.
  Vat = '\xC7';
  D.Push(TFakeDevice::Answer("5"));
  ASSERT_FALSE(D.GetFPR_DepartmentInfo(5, Name, Add, Vat));
  EXPECT_EQ(Name, "");
  EXPECT_EQ(Add, "");
  EXPECT_EQ(Vat, '\xC7');
}

TEST(InfoCommands, PluData) {
  TFakeDevice D;
  TPluData P;
  P.TaxGroup = '\xC5';
  D.Push(TFakeDevice::Answer("P12,\xC1,3,1.50,30.00,20.000,5.000,Milk, fresh"));
  ASSERT_TRUE(D.GetFPR_PluData(12, P));
  EXPECT_EQ(P.PluNo, 12);
  EXPECT_EQ(P.TaxGroup, '\xC1');
  EXPECT_EQ(P.GroupNom, 3);
  EXPECT_DOUBLE_EQ(P.UnitPrice, 1.5);
  EXPECT_DOUBLE_EQ(P.TotalSum, 30);
  EXPECT_DOUBLE_EQ(P.Sold, 20);
  EXPECT_DOUBLE_EQ(P.AvailQtty, 5);
  EXPECT_EQ(P.Name, "Milk, fresh");

  // The printer's answer for an article it does not have is the failure, with that answer
  // after "#": start values, the caller's VAT letter kept.
  P.TaxGroup = '\xC5';
  D.Push(TFakeDevice::Answer("F"));
  ASSERT_FALSE(D.GetFPR_PluData(12, P));
  EXPECT_EQ(D.FErrorCode, 203);
  EXPECT_EQ(D.FErrorText, "Received an error message from the printer. #F");
  EXPECT_EQ(P.PluNo, -1);
  EXPECT_EQ(P.GroupNom, 1);
  EXPECT_EQ(P.UnitPrice, 0);
  EXPECT_EQ(P.Name, "");
  EXPECT_EQ(P.TaxGroup, '\xC5');

  struct Case {
    const char* Answer;
    const char* Label;
  };
  const Case Cases[] = {{"", "[No data recieved]"},         {"Px,\xC1,3,1,2,3,4,N", "[PluNo]"},
                        {"P1,\xC1,g,1,2,3,4,N", "[GroupNom]"}, {"P1,\xC1,3,p,2,3,4,N", "[UnitPrice]"},
                        {"P1,\xC1,3,1,t,3,4,N", "[TotalSum]"}, {"P1,\xC1,3,1,2,s,4,N", "[Sold]"},
                        {"P1,\xC1,3,1,2,3,a,N", "[AvailQtty]"}};
  for (const Case& C : Cases) {
    D.Push(TFakeDevice::Answer(C.Answer, StatusWith({{2, 0}})));
    EXPECT_FALSE(D.GetFPR_PluData(1, P)) << C.Answer;
    EXPECT_EQ(D.FErrorText, TBaseDevice::ErrorCodeText(201, C.Label)) << C.Answer;
  }
}

TEST(InfoCommands, ConstantsLineLength) {
  auto Answer = [](const std::string& Ninth) {
    std::string S;
    for (int K = 0; K < 20; ++K) S += (K ? "," : "") + (K == 8 ? Ninth : "c" + std::to_string(K));
    return S;
  };
  const std::pair<std::string, std::string> Cases[] = {{"34", "32"}, {"0", "0"}, {"x", "x"}, {"-4", "-4"}};
  for (const auto& [Ninth, Expected] : Cases) {
    TFakeDevice D;
    D.Push(TFakeDevice::Answer(Answer(Ninth)));
    TPrnConst C;
    ASSERT_TRUE(D.GetFPR_Constants(C));
    EXPECT_EQ(C.Text[8], Expected);
    EXPECT_EQ(C.Text[0], "c0");
    EXPECT_EQ(C.Text[19], "c19");
  }
  TFakeDevice D;
  D.Push(TFakeDevice::Answer("a,b"));
  TPrnConst C;
  C.Text[5] = "stale";
  ASSERT_TRUE(D.GetFPR_Constants(C));
  EXPECT_EQ(C.Text[1], "b");
  EXPECT_EQ(C.Text[5], "");
}

TEST(InfoCommands, CurrencyMode) {
  const std::pair<const char*, int32_t> Cases[] = {{"2,x", 2}, {"x", -1}, {"", -1}};
  for (auto [Answer, Mode] : Cases) {
    TFakeDevice D;
    D.Push(TFakeDevice::Answer(Answer));
    int32_t M = 7;
    ASSERT_TRUE(D.GetFPR_CurrencyMode(M));
    EXPECT_EQ(M, Mode) << Answer;
  }
}

}  // namespace
}  // namespace fp
