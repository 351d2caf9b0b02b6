#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/CommandTestSupport.h"
#include "tests/support/FakeDevice.h"
#include "library/protocol/OleDate.h"

#include <gtest/gtest.h>

#include <functional>

namespace fp::test {
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
  bool Full;           // CheckStatus rather than CheckStatusBasic
  bool WithStatus;     // failures carry the status texts
  std::string Answer;  // an answer the operation accepts
};

std::vector<TInfoRow> InfoRows() {
  static double dt;
  static TDataBuffer st;
  static TDiagnosticInfo di;
  static int32_t i32;
  static bool b1, b2;
  static std::array<double, 8> sums;
  static int64_t n1, n2, n3;
  static double d1;
  static std::string s1, s2;
  static std::vector<std::string> lines;
  static TDailyPayments pay;
  static TDepartmentSum dep;
  static char ch;
  static TPluData plu;
  static TPrnConst consts;
  const std::string eleven = "1,100,0,0,0,0,0,0,0,0,0";
  return {
      {.Name = "DateTime",
       .Call = [](TBaseDevice& D) { return D.GetFPR_DateTime(dt); },
       .Cmd = 0x3E,
       .Data = "",
       .Retries = 4,
       .Full = false,
       .WithStatus = true,
       .Answer = "05-01-15 09:07:03"},
      {.Name = "StatusWait",
       .Call = [](TBaseDevice& D) { return D.GetFPR_Status(true, st); },
       .Cmd = 0x4A,
       .Data = "W",
       .Retries = 4,
       .Full = false,
       .WithStatus = true,
       .Answer = ""},
      {.Name = "StatusNoWait",
       .Call = [](TBaseDevice& D) { return D.GetFPR_Status(false, st); },
       .Cmd = 0x4A,
       .Data = "X",
       .Retries = 1,
       .Full = false,
       .WithStatus = true,
       .Answer = ""},
      {.Name = "Diagnostic1",
       .Call = [](TBaseDevice& D) { return D.GetFPR_DiagnosticInfo(true, di); },
       .Cmd = 0x5A,
       .Data = "1",
       .Retries = 4,
       .Full = false,
       .WithStatus = true,
       .Answer = "M,a b c,d,e,f,g"},
      {.Name = "Diagnostic0",
       .Call = [](TBaseDevice& D) { return D.GetFPR_DiagnosticInfo(false, di); },
       .Cmd = 0x5A,
       .Data = "0",
       .Retries = 4,
       .Full = false,
       .WithStatus = true,
       .Answer = "M,a b c,d,e,f,g"},
      {.Name = "LastDocNumber",
       .Call = [](TBaseDevice& D) { return D.GetFPR_LastDocNumber(i32); },
       .Cmd = 0x71,
       .Data = "",
       .Retries = 4,
       .Full = false,
       .WithStatus = true,
       .Answer = "17"},
      {.Name = "ReceiptInfo",
       .Call = [](TBaseDevice& D) { return D.GetFPR_ReceiptInfo(b1, sums, b2, n1); },
       .Cmd = 0x67,
       .Data = "",
       .Retries = 4,
       .Full = true,
       .WithStatus = true,
       .Answer = eleven},
      {.Name = "ReceiptTotal",
       .Call = [](TBaseDevice& D) { return D.GetFPR_ReceiptTotal(b1, d1, b2); },
       .Cmd = 0x67,
       .Data = "",
       .Retries = 4,
       .Full = true,
       .WithStatus = true,
       .Answer = eleven},
      {.Name = "HeaderLine",
       .Call = [](TBaseDevice& D) { return D.GetFPR_HeaderLine(3, s1); },
       .Cmd = 0x2B,
       .Data = "I3",
       .Retries = 4,
       .Full = false,
       .WithStatus = true,
       .Answer = "line"},
      {.Name = "InvoiceRange",
       .Call = [](TBaseDevice& D) { return D.GetFPR_InvoiceRange(false, n1, n2, n3); },
       .Cmd = 0x42,
       .Data = "",
       .Retries = 4,
       .Full = false,
       .WithStatus = false,
       .Answer = "1,2,3"},
      {.Name = "CreditRange",
       .Call = [](TBaseDevice& D) { return D.GetFPR_InvoiceRange(true, n1, n2, n3); },
       .Cmd = 0x42,
       .Data = "S",
       .Retries = 4,
       .Full = false,
       .WithStatus = false,
       .Answer = "1,2,3"},
      {.Name = "DailyPayments",
       .Call = [](TBaseDevice& D) { return D.GetFPR_DailyPayments(pay); },
       .Cmd = 0x6E,
       .Data = "11",
       .Retries = 4,
       .Full = true,
       .WithStatus = false,
       .Answer = ""},
      {.Name = "DailyPaymentsShort",
       .Call = [](TBaseDevice& D) { return D.GetFPR_DailyPaymentsShort(pay); },
       .Cmd = 0x6E,
       .Data = "11",
       .Retries = 4,
       .Full = true,
       .WithStatus = false,
       .Answer = ""},
      {.Name = "DepartmentSum",
       .Call = [](TBaseDevice& D) { return D.GetFPR_DepartmentSum(12, dep); },
       .Cmd = 0x58,
       .Data = "12",
       .Retries = 4,
       .Full = true,
       .WithStatus = true,
       .Answer = "F"},
      {.Name = "DepartmentInfo",
       .Call = [](TBaseDevice& D) { return D.GetFPR_DepartmentInfo(5, s1, s2, ch); },
       .Cmd = 0x57,
       .Data = "5",
       .Retries = 4,
       .Full = true,
       .WithStatus = false,
       .Answer = "5,\xC1,Dairy"},
      {.Name = "PluData",
       .Call = [](TBaseDevice& D) { return D.GetFPR_PluData(77, plu); },
       .Cmd = 0x6B,
       .Data = "R77",
       .Retries = 4,
       .Full = true,
       .WithStatus = false,
       .Answer = "P77,\xC1,1,1.00,0,0,0,Milk"},
      {.Name = "PayType2",
       .Call = [](TBaseDevice& D) { return D.GetFPR_PayTypeName(2, s1); },
       .Cmd = 0x55,
       .Data = "N",
       .Retries = 4,
       .Full = true,
       .WithStatus = false,
       .Answer = ""},
      {.Name = "Constants",
       .Call = [](TBaseDevice& D) { return D.GetFPR_Constants(consts); },
       .Cmd = 0x80,
       .Data = "",
       .Retries = 4,
       .Full = false,
       .WithStatus = true,
       .Answer = ""},
      {.Name = "CurrencyMode",
       .Call = [](TBaseDevice& D) { return D.GetFPR_CurrencyMode(i32); },
       .Cmd = 0x83,
       .Data = "",
       .Retries = 4,
       .Full = true,
       .WithStatus = true,
       .Answer = "1"},
      {.Name = "OpenDrawer",
       .Call = [](TBaseDevice& D) { return D.FPR_OpenDrawer(60); },
       .Cmd = 0x6A,
       .Data = "60",
       .Retries = 4,
       .Full = true,
       .WithStatus = true,
       .Answer = ""},
  };
}

TEST(InfoCommands, RequestBytesAndRetries) {
  for (const TInfoRow& r : InfoRows())
    test::ExpectSendsOnce(r.Name, r.Call, TFakeDevice::Answer(r.Answer), r.Cmd, r.Data, r.Retries);
}

TEST(InfoCommands, PayTypeLetters) {
  const std::pair<uint32_t, const char*> cases[] = {{0, "P"},
                                                    {1, "P"},
                                                    {2, "N"},
                                                    {3, "C"},
                                                    {4, "D"},
                                                    {5, "I"},
                                                    {6, "J"},
                                                    {7, "K"},
                                                    {8, "L"},
                                                    {9, "P"},
                                                    {static_cast<uint32_t>(-1), "P"}};
  for (auto [PayType, Letter] : cases) {
    TFakeDevice d;
    d.Push(TFakeDevice::Answer("Cash"));
    std::string name = "old";
    ASSERT_TRUE(d.GetFPR_PayTypeName(PayType, name));
    EXPECT_EQ(Text(d.Calls[0].Data), Letter) << PayType;
    EXPECT_EQ(name, "Cash");
  }
  TFakeDevice d;
  d.Push(TFakeDevice::Answer(""));
  std::string name = "old";
  ASSERT_TRUE(d.GetFPR_PayTypeName(1, name));
  EXPECT_EQ(name, "");
}

// Status precedence and what the record carries, for every row: syntax error before invalid
// command; the fiscal-mode and overflow bits only where the full check runs (1.1 before
// 1.0); the length of the status first; the status texts only where the row records them.
TEST(InfoCommands, StatusChecksPerRow) {
  const std::string noPaperText = TBaseDevice::ErrorCodeText(210, "");
  for (const TInfoRow& r : InfoRows()) {
    SCOPED_TRACE(r.Name);
    {
      TFakeDevice d;
      d.Push(TFakeDevice::Answer(r.Answer, StatusWith({{0, 0}, {0, 1}})));
      EXPECT_FALSE(r.Call(d));
      EXPECT_TRUE(FailedWith(d, 205, "[0/0]"));
    }
    {
      TFakeDevice d;
      d.Push(TFakeDevice::Answer(r.Answer, StatusWith({{0, 1}, {2, 0}})));
      EXPECT_FALSE(r.Call(d));
      EXPECT_TRUE(FailedWith(d, 204, "[0/1]"));
      EXPECT_EQ(d.FErrorText.find(noPaperText) != std::string::npos, r.WithStatus) << d.FErrorText;
    }
    {
      TFakeDevice d;
      d.Push(TFakeDevice::Answer(r.Answer, StatusWith({{1, 0}, {1, 1}})));
      if (r.Full) {
        EXPECT_FALSE(r.Call(d));
        EXPECT_TRUE(FailedWith(d, 216, "[1/1]"));
      } else {
        EXPECT_TRUE(r.Call(d)) << d.FErrorText;
      }
    }
    if (r.Full) {
      TFakeDevice d;
      d.Push(TFakeDevice::Answer(r.Answer, StatusWith({{1, 0}})));
      EXPECT_FALSE(r.Call(d));
      EXPECT_TRUE(FailedWith(d, 223, "[1/0]"));
    }
    {
      TFakeDevice d;
      d.Push(TFakeDevice::Answer(r.Answer, TDataBuffer(5, 0x80)));
      EXPECT_FALSE(r.Call(d));
      EXPECT_TRUE(FailedWith(d, 200, "[6/5]"));
    }
    {
      // A failed exchange comes back as the transport left it.
      TFakeDevice d;
      d.Push(TFakeDevice::Failure(107, "Fail read data from port. "));
      EXPECT_FALSE(r.Call(d));
      EXPECT_EQ(d.FErrorCode, 107);
      EXPECT_EQ(d.FErrorText, "Fail read data from port. ");
    }
  }
}

TEST(InfoCommands, DateTimeAnswer) {
  struct Case {
    const char* Answer;
    int32_t Code;
    const char* Label;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    TFakeDevice d;
    d.Push(TFakeDevice::Answer(c.Answer));
    double v = 5;
    EXPECT_FALSE(d.GetFPR_DateTime(v)) << c.Answer;
    EXPECT_TRUE(FailedWith(d, c.Code, c.Label)) << c.Answer;
    EXPECT_EQ(v, 0) << c.Answer;
  }
  TFakeDevice d;
  d.Push(TFakeDevice::Answer("05-01-15 09:07:03"));
  double v = 0;
  ASSERT_TRUE(d.GetFPR_DateTime(v));
  double expected = 0;
  ASSERT_TRUE(TryEncodeOleDateTime(2015, 1, 5, 9, 7, 3, 0, expected));
  EXPECT_DOUBLE_EQ(v, expected);
}

TEST(InfoCommands, StatusFromDataOrStatusBytes) {
  TFakeDevice d;
  d.Push(TFakeDevice::Answer("ABCDEF", StatusWith({{2, 3}})));
  d.Push(TFakeDevice::Answer("ABCDE", StatusWith({{2, 3}})));
  TDataBuffer s;
  ASSERT_TRUE(d.GetFPR_Status(true, s));
  EXPECT_EQ(Text(s), "ABCDEF");
  ASSERT_TRUE(d.GetFPR_Status(true, s));
  EXPECT_EQ(s, StatusWith({{2, 3}}));
}

TEST(InfoCommands, DiagnosticInfoSlots) {
  TFakeDevice d;
  const std::string answer = "Kestrel M,W1 W2  W3,F4,F5,AB654321,02345678";
  d.Push(TFakeDevice::Answer(answer));
  TDiagnosticInfo i;
  ASSERT_TRUE(d.GetFPR_DiagnosticInfo(false, i));
  const char* expected[] = {"Kestrel M", "W1", "W2", "W3", "F4", "F5", "AB654321", "02345678"};
  for (size_t k = 0; k < 8; ++k) EXPECT_EQ(i.Text[k], expected[k]) << k;
  EXPECT_EQ(i.Text[8], answer);

  // Long texts are cut at 255 characters; fewer than five fields fail with 200.
  d.Push(TFakeDevice::Answer("M," + std::string(300, 'x') + ",c,d,e"));
  ASSERT_TRUE(d.GetFPR_DiagnosticInfo(false, i));
  EXPECT_EQ(i.Text[1].size(), 255u);
  EXPECT_EQ(i.Text[8].size(), 255u);
  d.Push(TFakeDevice::Answer("M,a,,b,c"));
  EXPECT_FALSE(d.GetFPR_DiagnosticInfo(false, i));
  EXPECT_TRUE(FailedWith(d, 200, ""));
}

TEST(InfoCommands, LastDocNumber) {
  struct Case {
    const char* Answer;
    bool Ok;
    int32_t Number;
  };
  const Case cases[] = {{"123", true, 123}, {"12a", false, 0}, {"", false, 0}, {"99999999999", false, 0}};
  for (const Case& c : cases) {
    TFakeDevice d;
    d.Push(TFakeDevice::Answer(c.Answer));
    int32_t n = -1;
    EXPECT_EQ(d.GetFPR_LastDocNumber(n), c.Ok) << c.Answer;
    EXPECT_EQ(n, c.Number);
    if (!c.Ok) {
      EXPECT_TRUE(FailedWith(d, 201, "")) << c.Answer;
    }
  }
}

TEST(InfoCommands, ReceiptInfoFields) {
  TFakeDevice d;
  bool canVoid = false, isInvoice = true;
  std::array<double, 8> sums{};
  int64_t next = -1;
  d.Push(TFakeDevice::Answer("1,100,0,0,0,0,0,0,0,0,0"));
  ASSERT_TRUE(d.GetFPR_ReceiptInfo(canVoid, sums, isInvoice, next));
  EXPECT_TRUE(canVoid);
  EXPECT_DOUBLE_EQ(sums[0], 1.0);
  for (size_t k = 1; k < 8; ++k) EXPECT_EQ(sums[k], 0);
  EXPECT_FALSE(isInvoice);
  EXPECT_EQ(next, 0);

  d.Push(TFakeDevice::Answer("1,100,0,0,0,0,0,0,0,0"));  // ten fields
  EXPECT_FALSE(d.GetFPR_ReceiptInfo(canVoid, sums, isInvoice, next));
  EXPECT_TRUE(FailedWith(d, 200, ""));

  // A bad third sum: the sums before it stay written.
  d.Push(TFakeDevice::Answer("0,150,250,x,0,0,0,0,0,1,5"));
  EXPECT_FALSE(d.GetFPR_ReceiptInfo(canVoid, sums, isInvoice, next));
  EXPECT_TRUE(FailedWith(d, 201, "[Tax3]"));
  EXPECT_DOUBLE_EQ(sums[1], 2.5);

  d.Push(TFakeDevice::Answer("0,0,0,0,0,0,0,0,0,1,N"));
  EXPECT_FALSE(d.GetFPR_ReceiptInfo(canVoid, sums, isInvoice, next));
  EXPECT_TRUE(FailedWith(d, 201, "[NextInvNo]"));
  EXPECT_TRUE(isInvoice);

  double total = -1;
  d.Push(TFakeDevice::Answer("0,150,250,0,0,0,0,0,1000,1,4711"));
  ASSERT_TRUE(d.GetFPR_ReceiptTotal(canVoid, total, isInvoice));
  EXPECT_DOUBLE_EQ(total, 14.0);
  EXPECT_FALSE(canVoid);
  EXPECT_TRUE(isInvoice);
}

TEST(InfoCommands, HeaderLinesStopAtFirstFailure) {
  TFakeDevice d;
  for (int i = 0; i < 8; ++i) d.Push(TFakeDevice::Answer("Line " + std::to_string(i)));
  std::vector<std::string> lines = {"stale"};
  ASSERT_TRUE(d.GetFPR_HeaderLines(lines));
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[7], "Line 7");
  EXPECT_EQ(Text(d.Calls[7].Data), "I7");

  TFakeDevice f;
  f.Push(TFakeDevice::Answer("A"));
  f.Push(TFakeDevice::Answer("B"));
  f.Push(TFakeDevice::Answer("C", StatusWith({{0, 1}})));
  f.Push(TFakeDevice::Answer("D"));
  EXPECT_FALSE(f.GetFPR_HeaderLines(lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(FailedWith(f, 204, "[0/1]"));
  EXPECT_EQ(f.Calls.size(), 3u);
}

TEST(InfoCommands, InvoiceRangeFields) {
  struct Case {
    const char* Answer;
    int32_t Code;
    const char* Label;
  };
  const Case cases[] = {
      {"1,2", 200, ""}, {"x,2,3", 201, "[InvStart]"}, {"1,y,3", 201, "[InvEnd]"}, {"1,2,z", 201, "[InInvCurrentvEnd]"}};
  for (const Case& c : cases) {
    TFakeDevice d;
    d.Push(TFakeDevice::Answer(c.Answer, StatusWith({{2, 0}})));
    int64_t s, e, cur;
    EXPECT_FALSE(d.GetFPR_InvoiceRange(false, s, e, cur));
    // Recorded without status: nothing after the label.
    EXPECT_EQ(d.FErrorCode, c.Code);
    EXPECT_EQ(d.FErrorText, TBaseDevice::ErrorCodeText(c.Code, c.Label)) << c.Answer;
  }
  TFakeDevice d;
  d.Push(TFakeDevice::Answer("100,99999999999,150"));
  int64_t s = 0, e = 0, cur = 0;
  ASSERT_TRUE(d.GetFPR_InvoiceRange(true, s, e, cur));
  EXPECT_EQ(s, 100);
  EXPECT_EQ(e, 99999999999);
  EXPECT_EQ(cur, 150);
}

TEST(InfoCommands, DailyPaymentsFullAndShort) {
  const std::string answer = "100,250,x,,5,6,7,8,900,1000,1100,1200";
  TFakeDevice d;
  d.Push(TFakeDevice::Answer(answer));
  d.Push(TFakeDevice::Answer(answer));
  d.Push(TFakeDevice::Answer("100"));
  TDailyPayments p;
  ASSERT_TRUE(d.GetFPR_DailyPayments(p));
  const double full[11] = {1.0, 2.5, 0, 0, 0.05, 0.06, 0.07, 0.08, 9.0, 10.0, 11.0};
  for (size_t k = 0; k < 11; ++k) EXPECT_DOUBLE_EQ(p.Sums[k], full[k]) << k;
  ASSERT_TRUE(d.GetFPR_DailyPaymentsShort(p));
  for (size_t k = 0; k < 8; ++k) EXPECT_DOUBLE_EQ(p.Sums[k], full[k]) << k;
  for (size_t k = 8; k < 11; ++k) EXPECT_EQ(p.Sums[k], 0) << k;
  ASSERT_TRUE(d.GetFPR_DailyPayments(p));  // no field count required
  EXPECT_DOUBLE_EQ(p.Sums[0], 1.0);
  EXPECT_EQ(p.Sums[1], 0);
}

TEST(InfoCommands, DepartmentSum) {
  TFakeDevice d;
  TDepartmentSum s;
  d.Push(TFakeDevice::Answer("P\xC2,3,12.50,40,x,Bread\t  Fresh\r\n"));
  ASSERT_TRUE(d.GetFPR_DepartmentSum(4, s));
  EXPECT_EQ(s.Marker, 'P');
  EXPECT_EQ(s.TaxGroup, '\xC2');
  EXPECT_EQ(s.LastCountSales, 3);
  EXPECT_DOUBLE_EQ(s.LastSum, 12.5);  // in units, not hundredths
  EXPECT_EQ(s.CountSales, 40);
  EXPECT_EQ(s.TotalSum, 0);  // not a number
  EXPECT_EQ(s.Name, "Bread");
  EXPECT_EQ(s.AddText, "Fresh");

  // Another marker leaves the start values and succeeds; so does an empty answer.
  for (const char* answer : {"F\xC3,3,4,5,6,Name", ""}) {
    d.Push(TFakeDevice::Answer(answer));
    ASSERT_TRUE(d.GetFPR_DepartmentSum(4, s)) << answer;
    EXPECT_EQ(s.Marker, answer[0]);
    EXPECT_EQ(s.TaxGroup, '\xC0');
    EXPECT_EQ(s.LastCountSales, 0);
    EXPECT_EQ(s.TotalSum, 0);
    EXPECT_EQ(s.Name, "");
  }

  // A name without TAB has no second text.
  d.Push(TFakeDevice::Answer("P\xC3,1,2,3,4, Name "));
  ASSERT_TRUE(d.GetFPR_DepartmentSum(4, s));
  EXPECT_EQ(s.Name, " Name ");
  EXPECT_EQ(s.AddText, "");
}

// A department or an article read without its VAT letter fails: it must not pass for one
// of VAT group 1 (the start letter) or carry a stray byte on.
TEST(InfoCommands, AnswersWithoutTheirVatLetterFail) {
  const Op departmentSum = [](TBaseDevice& D) {
    TDepartmentSum s;
    return D.GetFPR_DepartmentSum(4, s);
  };
  const Op departmentInfo = [](TBaseDevice& D) {
    std::string name, add;
    char vat = '\xC7';
    return D.GetFPR_DepartmentInfo(5, name, add, vat);
  };
  const Op pluData = [](TBaseDevice& D) {
    TPluData p;
    return D.GetFPR_PluData(7, p);
  };
  const struct {
    Op Call;
    const char* Answer;
    int32_t Code;  // 200: no VAT field; 201: no VAT letter in it
  } cases[] = {
      {departmentSum, "P,1,2,3,4,Name", 200},
      {departmentSum, "PA,1,2,3,4,Name", 201},
      {departmentInfo, "5", 200},
      {departmentInfo, "F", 200},
      {departmentInfo, "5,,Name", 200},
      {departmentInfo, "5,\x01,Name", 201},
      {pluData, "P7,,1,2,3,4,5,N", 200},
      {pluData, "P7,B,1,2,3,4,5,N", 201},
  };
  for (const auto& c : cases) {
    TFakeDevice d;
    d.Push(TFakeDevice::Answer(c.Answer));
    EXPECT_FALSE(c.Call(d)) << c.Answer;
    EXPECT_TRUE(FailedWith(d, c.Code, "[VatGrp]")) << c.Answer;
  }
}

TEST(InfoCommands, DepartmentInfo) {
  TFakeDevice d;
  std::string name = "x", add = "y";
  char vat = '\xC7';
  d.Push(TFakeDevice::Answer("5,\xC1, Dairy \t Milk and cheese \r"));
  ASSERT_TRUE(d.GetFPR_DepartmentInfo(5, name, add, vat));
  EXPECT_EQ(name, "Dairy");
  EXPECT_EQ(add, "Milk and cheese");
  EXPECT_EQ(vat, '\xC1');

  // Nothing after the number fails (AnswersWithoutTheirVatLetterFail): the texts are
  // empty and the caller's letter stays.
  vat = '\xC7';
  d.Push(TFakeDevice::Answer("5"));
  ASSERT_FALSE(d.GetFPR_DepartmentInfo(5, name, add, vat));
  EXPECT_EQ(name, "");
  EXPECT_EQ(add, "");
  EXPECT_EQ(vat, '\xC7');
}

TEST(InfoCommands, PluData) {
  TFakeDevice d;
  TPluData p;
  p.TaxGroup = '\xC5';
  d.Push(TFakeDevice::Answer("P12,\xC1,3,1.50,30.00,20.000,5.000,Milk, fresh"));
  ASSERT_TRUE(d.GetFPR_PluData(12, p));
  EXPECT_EQ(p.PluNo, 12);
  EXPECT_EQ(p.TaxGroup, '\xC1');
  EXPECT_EQ(p.GroupNom, 3);
  EXPECT_DOUBLE_EQ(p.UnitPrice, 1.5);
  EXPECT_DOUBLE_EQ(p.TotalSum, 30);
  EXPECT_DOUBLE_EQ(p.Sold, 20);
  EXPECT_DOUBLE_EQ(p.AvailQtty, 5);
  EXPECT_EQ(p.Name, "Milk, fresh");

  // The printer's answer for an article it does not have is the failure, with that answer
  // after "#": start values, the caller's VAT letter kept.
  p.TaxGroup = '\xC5';
  d.Push(TFakeDevice::Answer("F"));
  ASSERT_FALSE(d.GetFPR_PluData(12, p));
  EXPECT_EQ(d.FErrorCode, 203);
  EXPECT_EQ(d.FErrorText, "Received an error message from the printer. #F");
  EXPECT_EQ(p.PluNo, -1);
  EXPECT_EQ(p.GroupNom, 1);
  EXPECT_EQ(p.UnitPrice, 0);
  EXPECT_EQ(p.Name, "");
  EXPECT_EQ(p.TaxGroup, '\xC5');

  struct Case {
    const char* Answer;
    const char* Label;
  };
  const Case cases[] = {{"", "[No data recieved]"},
                        {"Px,\xC1,3,1,2,3,4,N", "[PluNo]"},
                        {"P1,\xC1,g,1,2,3,4,N", "[GroupNom]"},
                        {"P1,\xC1,3,p,2,3,4,N", "[UnitPrice]"},
                        {"P1,\xC1,3,1,t,3,4,N", "[TotalSum]"},
                        {"P1,\xC1,3,1,2,s,4,N", "[Sold]"},
                        {"P1,\xC1,3,1,2,3,a,N", "[AvailQtty]"}};
  for (const Case& c : cases) {
    d.Push(TFakeDevice::Answer(c.Answer, StatusWith({{2, 0}})));
    EXPECT_FALSE(d.GetFPR_PluData(1, p)) << c.Answer;
    EXPECT_EQ(d.FErrorText, TBaseDevice::ErrorCodeText(201, c.Label)) << c.Answer;
  }
}

TEST(InfoCommands, ConstantsLineLength) {
  auto answer = [](const std::string& Ninth) {
    std::string s;
    for (int k = 0; k < 20; ++k) s += (k ? "," : "") + (k == 8 ? Ninth : "c" + std::to_string(k));
    return s;
  };
  const std::pair<std::string, std::string> cases[] = {{"34", "32"}, {"0", "0"}, {"x", "x"}, {"-4", "-4"}};
  for (const auto& [Ninth, Expected] : cases) {
    TFakeDevice d;
    d.Push(TFakeDevice::Answer(answer(Ninth)));
    TPrnConst c;
    ASSERT_TRUE(d.GetFPR_Constants(c));
    EXPECT_EQ(c.Text[8], Expected);
    EXPECT_EQ(c.Text[0], "c0");
    EXPECT_EQ(c.Text[19], "c19");
  }
  TFakeDevice d;
  d.Push(TFakeDevice::Answer("a,b"));
  TPrnConst c;
  c.Text[5] = "stale";
  ASSERT_TRUE(d.GetFPR_Constants(c));
  EXPECT_EQ(c.Text[1], "b");
  EXPECT_EQ(c.Text[5], "");
}

TEST(InfoCommands, CurrencyMode) {
  const std::pair<const char*, int32_t> cases[] = {{"2,x", 2}, {"x", -1}, {"", -1}};
  for (auto [Answer, Mode] : cases) {
    TFakeDevice d;
    d.Push(TFakeDevice::Answer(Answer));
    int32_t m = 7;
    ASSERT_TRUE(d.GetFPR_CurrencyMode(m));
    EXPECT_EQ(m, Mode) << Answer;
  }
}

}  // namespace
}  // namespace fp::test
