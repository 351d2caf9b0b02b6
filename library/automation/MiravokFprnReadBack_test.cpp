// The read-back methods of the automation object and the result objects they hand out,
// against the stateful printer model over a pty.
#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/FakeDevice.h"
#include "library/automation/FprnModelTestSupport.h"

namespace fp::test {
namespace {

using model::Bits;
using model::Receipt;
using model::ReceiptKind;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

using test::kNotInit;

constexpr uint8_t cmdDailyPayments = 0x6E, cmdHeaderLine = 0x2B, cmdPayTypeName = 0x55;

// A property of a result object, read through its getter.
template <class I, class T>
T Get(const ComPtr<I>& Object, HRESULT (I::*Getter)(T*)) {
  T v{};
  EXPECT_EQ((Object.Get()->*Getter)(&v), S_OK);
  return v;
}
template <class I>
std::string Text(const ComPtr<I>& Object, HRESULT (I::*Getter)(BSTR*)) {
  BStr v;
  EXPECT_EQ((Object.Get()->*Getter)(v.Out()), S_OK);
  return BstrToAnsi(v.Get());
}
// UTF-8 test text as an owned wide string.
BStr W(const std::string& Utf8) { return BStr(Utf8ToWide(Utf8)); }

class ReadBackTest : public test::TFprnConnectedTest {
 protected:
  // Reconnects to a printer that reports this model name.
  void ReconnectAs(const std::string& ModelName) {
    M().SetModelName(ModelName);
    ASSERT_EQ(Init(7), 0) << Message();
    M().ClearRequests();
  }
  ComPtr<IDepartTotals> Totals(LONG Nom) {
    ComPtr<IDepartTotals> d;
    EXPECT_EQ(FObj->GetDeprtmentTotals(Nom, d.GetAddressOf()), S_OK);
    return d;
  }
  ComPtr<IDepartTotals> DepartmentName(LONG Nom) {
    ComPtr<IDepartTotals> d;
    EXPECT_EQ(FObj->GetDepartmentName(Nom, d.GetAddressOf()), S_OK);
    return d;
  }
};

// ---------------------------------------------------------------------------------------
// The current receipt

TEST_F(ReadBackTest, ReceiptStatusWithoutAReceipt) {
  M().Edit([](model::ModelState& S) { S.allReceipts = 57; });
  ComPtr<IBonData> b;
  ASSERT_EQ(FObj->GetRecieptStatus(b.GetAddressOf()), S_OK);
  ASSERT_TRUE(b) << Message();
  EXPECT_EQ(Code(), 0);
  EXPECT_EQ(Get(b, &IBonData::get_IsOpen), 0);
  EXPECT_EQ(Get(b, &IBonData::get_ItemCount), 0);
  EXPECT_EQ(Get(b, &IBonData::get_TotalAmount), 0);
  EXPECT_EQ(Get(b, &IBonData::get_PayedAmount), 0);
  EXPECT_EQ(Get(b, &IBonData::get_IsInvoice), 0);
  EXPECT_EQ(Text(b, &IBonData::get_DocNumber), "57");
  EXPECT_THAT(LogText(), HasSubstr("[INFO]Get reciept status\r\n"));
}

TEST_F(ReadBackTest, ReceiptStatusOfAnOpenInvoice) {
  M().Edit([](model::ModelState& S) {
    Receipt r;
    r.kind = ReceiptKind::Invoice;
    r.allNo = ++S.allReceipts;
    model::Item a;
    a.vatGroup = 2;
    a.priceCents = a.amountCents = 1050;
    model::Item b;
    b.vatGroup = 3;
    b.priceCents = b.amountCents = 200;
    r.items = {a, b};
    model::Payment pay;
    pay.amountCents = 500;
    r.payments = {pay};
    S.open = r;
  });
  ComPtr<IBonData> b;
  ASSERT_EQ(FObj->GetRecieptStatus(b.GetAddressOf()), S_OK);
  ASSERT_TRUE(b) << Message();
  EXPECT_EQ(Get(b, &IBonData::get_IsOpen), 1);
  EXPECT_EQ(Get(b, &IBonData::get_IsInvoice), 1);
  EXPECT_EQ(Get(b, &IBonData::get_ItemCount), 2);
  EXPECT_DOUBLE_EQ(Get(b, &IBonData::get_TotalAmount), 12.5);
  EXPECT_DOUBLE_EQ(Get(b, &IBonData::get_PayedAmount), 5);
  EXPECT_EQ(Text(b, &IBonData::get_DocNumber), "1");

  // Every call makes an object of its own.
  ComPtr<IBonData> second;
  ASSERT_EQ(FObj->GetRecieptStatus(second.GetAddressOf()), S_OK);
  ASSERT_TRUE(second);
  EXPECT_NE(second.Get(), b.Get());
  EXPECT_EQ(b->put_ItemCount(9), S_OK);
  EXPECT_EQ(Get(second, &IBonData::get_ItemCount), 2);
}

TEST_F(ReadBackTest, NoObjectWhenALaterReadFails) {
  // The receipt information is read, the last document number is not.
  M().ScriptNext(0x71, model::Reply("x"));
  ComPtr<IBonData> b;
  ASSERT_EQ(FObj->GetRecieptStatus(b.GetAddressOf()), S_OK);
  EXPECT_FALSE(b);
  EXPECT_EQ(Code(), 201);
  EXPECT_THAT(Message(), StartsWith("[GetRecieptStatus failed] "));
}

// ---------------------------------------------------------------------------------------
// The day's totals

void FillDay(model::ModelState& S) {
  for (size_t i = 0; i < 11; ++i) S.daily.payments[i] = int64_t(100 * (i + 1));  // 1.00 .. 11.00
  for (size_t i = 0; i < 8; ++i) {
    S.daily.turnover[i] = int64_t(1000 * (i + 1));  // 10.00 .. 80.00
    S.daily.vat[i] = int64_t(10 * (i + 1));         // 0.10 .. 0.80
  }
}

void ExpectDay(const ComPtr<IXReportData>& X, bool ShortPayments) {
  using TGet = HRESULT (IXReportData::*)(double*);
  const TGet py[11] = {&IXReportData::get_TotalPy1,  &IXReportData::get_TotalPy2, &IXReportData::get_TotalPy3,
                       &IXReportData::get_TotalPy4,  &IXReportData::get_TotalPy5, &IXReportData::get_TotalPy6,
                       &IXReportData::get_TotalPy7,  &IXReportData::get_TotalPy8, &IXReportData::get_TotalPy9,
                       &IXReportData::get_TotalPy10, &IXReportData::get_TotalPy11};
  const TGet tax[8] = {&IXReportData::get_TotalTaxA, &IXReportData::get_TotalTaxB, &IXReportData::get_TotalTaxC,
                       &IXReportData::get_TotalTaxD, &IXReportData::get_TotalTaxE, &IXReportData::get_TotalTaxF,
                       &IXReportData::get_TotalTaxG, &IXReportData::get_TotalTaxH};
  for (size_t i = 0; i < 11; ++i)
    EXPECT_DOUBLE_EQ(Get(X, py[i]), ShortPayments && i >= 8 ? 0.0 : double(i + 1)) << "TotalPy" << i + 1;
  for (size_t i = 0; i < 8; ++i) EXPECT_DOUBLE_EQ(Get(X, tax[i]), 0.1 * double(i + 1)) << "TotalTax " << i;
  EXPECT_NEAR(Get(X, &IXReportData::get_Total), 360.0, 1e-9);
  EXPECT_NEAR(Get(X, &IXReportData::get_TOTAL_VAT), 3.6, 1e-9);
}

TEST_F(ReadBackTest, XReportDataHoldsTheDaysTotals) {
  M().Edit(FillDay);
  ComPtr<IXReportData> x;
  ASSERT_EQ(FObj->GetXReportData(x.GetAddressOf()), S_OK);
  ASSERT_TRUE(x) << Message();
  ExpectDay(x, false);
  EXPECT_THAT(M().Commands(), ElementsAre(cmdDailyPayments, 0x41, 0x41));
  EXPECT_THAT(LogText(), HasSubstr("GetXReportData"));
}

TEST_F(ReadBackTest, XReportDataFallsBackToTheShortPaymentRead) {
  M().Edit(FillDay);
  // The printer refuses only the first payment read; the second sends the same data.
  M().ScriptNext(cmdDailyPayments, model::ReplyBits(Bits({model::bit::InvalidCommand})));
  ComPtr<IXReportData> x;
  ASSERT_EQ(FObj->GetXReportData(x.GetAddressOf()), S_OK);
  ASSERT_TRUE(x) << Message();
  EXPECT_EQ(Code(), 0);
  ExpectDay(x, true);
  std::vector<std::string> paymentReads;
  for (const model::Request& r : M().Requests())
    if (r.cmd == cmdDailyPayments) paymentReads.push_back(r.data);
  EXPECT_THAT(paymentReads, ElementsAre("11", "11"));
}

TEST_F(ReadBackTest, XReportDataFailsWithTheShortReadsFailure) {
  M().ScriptNext(cmdDailyPayments, model::ReplyBits(Bits({model::bit::InvalidCommand})));
  M().ScriptNext(cmdDailyPayments, model::ReplyBits(Bits({model::bit::SyntaxError})));
  ComPtr<IXReportData> x;
  ASSERT_EQ(FObj->GetXReportData(x.GetAddressOf()), S_OK);
  EXPECT_FALSE(x);
  EXPECT_EQ(Code(), 205);  // the syntax error of the second read
  EXPECT_THAT(Message(), StartsWith("[GetXReportData failed] "));
}

// ---------------------------------------------------------------------------------------
// Header lines

TEST_F(ReadBackTest, HeaderLinesWrittenAndRead) {
  const std::string longLine(40, 'x');
  LONG res = 99;
  ASSERT_EQ(FObj->SetAdvLine(2, W("\xd0\x9c\xd0\x90\xd0\x93\xd0\x90\xd0\x97\xd0\x98\xd0\x9d").Get(), &res),
            S_OK);  // "МАГАЗИН"
  EXPECT_EQ(res, 0) << Message();
  ASSERT_EQ(FObj->SetAdvLine(7, W(longLine).Get(), &res), S_OK);
  EXPECT_EQ(res, 0) << Message();
  EXPECT_EQ(M().State().header[2], "\xcc\xc0\xc3\xc0\xc7\xc8\xcd");  // code page 1251
  EXPECT_EQ(M().State().header[7], longLine.substr(0, 36));

  ComPtr<IAdvLines> a;
  ASSERT_EQ(FObj->GetAdvLinets(a.GetAddressOf()), S_OK);
  ASSERT_TRUE(a) << Message();
  EXPECT_EQ(Text(a, &IAdvLines::get_Line1), "MODEL SHOP");
  EXPECT_EQ(Text(a, &IAdvLines::get_Line2), "1 TEST STREET");
  EXPECT_EQ(Text(a, &IAdvLines::get_Line3), "\xcc\xc0\xc3\xc0\xc7\xc8\xcd");
  EXPECT_EQ(Text(a, &IAdvLines::get_Line4), "");
  EXPECT_EQ(Text(a, &IAdvLines::get_Line8), longLine.substr(0, 36));
  EXPECT_THAT(LogText(), HasSubstr("Set Adv Lines. LineNo=7, LineText=\"" + longLine + "\""));
}

TEST_F(ReadBackTest, NoHeaderObjectWhenOnlySixLinesAreRead) {
  const model::ModelState before = M().State();
  M().SetHandler(cmdHeaderLine, [before](model::CommandContext& C) {
    if (C.data == "I6") return C.SyntaxError();
    if (C.data.size() == 2 && C.data[0] == 'I') C.answer = before.header[size_t(C.data[1] - '0')];
  });
  ComPtr<IAdvLines> a;
  ASSERT_EQ(FObj->GetAdvLinets(a.GetAddressOf()), S_OK);
  EXPECT_FALSE(a);
  EXPECT_EQ(Code(), 205);
  EXPECT_THAT(Message(), StartsWith("[GetAdvLinets failed] "));
}

// ---------------------------------------------------------------------------------------
// Departments

TEST_F(ReadBackTest, DepartmentProgrammedAndReadWithItsTotals) {
  LONG res = 99;
  // "Хляб" and "пресен"
  ASSERT_EQ(FObj->SetDeparment(3, 2, W("\xd0\xa5\xd0\xbb\xd1\x8f\xd0\xb1").Get(),
                               W("\xd0\xbf\xd1\x80\xd0\xb5\xd1\x81\xd0\xb5\xd0\xbd").Get(), &res),
            S_OK);
  EXPECT_EQ(res, 0) << Message();
  const model::Department dep = M().State().departments.at(3);
  EXPECT_EQ(dep.vat, 0xC1);
  EXPECT_EQ(dep.name, "\xd5\xeb\xff\xe1");
  EXPECT_EQ(dep.addText, "\xef\xf0\xe5\xf1\xe5\xed");

  M().Edit([](model::ModelState& S) {
    auto& d = S.departments.at(3);
    d.lastCount = 4;
    d.lastSumCents = 1234;
    d.count = 0x100000005;  // beyond 32 bits: the low 32 bits are handed on
    d.totalCents = 98765;
  });
  ComPtr<IDepartTotals> d = Totals(3);
  ASSERT_TRUE(d) << Message();
  EXPECT_EQ(Get(d, &IDepartTotals::get_Nom), 3);
  EXPECT_EQ(Text(d, &IDepartTotals::get_Description), "\xd5\xeb\xff\xe1");
  EXPECT_EQ(Text(d, &IDepartTotals::get_AddText), "\xef\xf0\xe5\xf1\xe5\xed");
  EXPECT_EQ(Get(d, &IDepartTotals::get_TaxGrpNo), 2);
  EXPECT_EQ(Get(d, &IDepartTotals::get_LastCountSales), 4);
  EXPECT_DOUBLE_EQ(Get(d, &IDepartTotals::get_LastSum), 12.34);
  EXPECT_EQ(Get(d, &IDepartTotals::get_CountSales), 5);
  EXPECT_DOUBLE_EQ(Get(d, &IDepartTotals::get_TotalSum), 987.65);
  EXPECT_EQ(Text(d, &IDepartTotals::get_Exists), "P");
  const std::string log = LogText();
  EXPECT_THAT(log, HasSubstr("Set department. DeprtmentNo:3 Description1:\xd5\xeb\xff\xe1 "
                             "Description2:\xef\xf0\xe5\xf1\xe5\xed VATGrp:2)"));
  EXPECT_THAT(log, HasSubstr("GetDeprtmentTotals for department: 3"));
}

TEST_F(ReadBackTest, UnprogrammedDepartmentIsMarkedByThePrintersAnswer) {
  ComPtr<IDepartTotals> d = Totals(9);
  ASSERT_TRUE(d) << Message();
  EXPECT_EQ(Text(d, &IDepartTotals::get_Exists), "F");
  EXPECT_EQ(Get(d, &IDepartTotals::get_Nom), 9);
  EXPECT_EQ(Get(d, &IDepartTotals::get_CountSales), 0);
  EXPECT_EQ(Text(d, &IDepartTotals::get_Description), "");
}

TEST_F(ReadBackTest, DepartmentTotalsFailureNamesTheDepartment) {
  M().ScriptNext(0x58, model::ReplyBits(Bits({model::bit::SyntaxError})));
  ComPtr<IDepartTotals> d = Totals(4);
  EXPECT_FALSE(d);
  EXPECT_EQ(Code(), 205);
  EXPECT_THAT(Message(), StartsWith("[GetDeprtmentTotals for department no=\"4\" failed] "));
}

TEST_F(ReadBackTest, DepartmentNameOnAPrinterWithExtendedCommands) {
  ReconnectAs("MIRAVOK FX-1");
  M().Edit([](model::ModelState& S) {
    auto& d = S.departments[5];
    d.vat = 0xC3;
    d.name = "  MILK  ";
    d.addText = " FRESH ";
    d.count = 12;
  });
  ComPtr<IDepartTotals> d = DepartmentName(5);
  ASSERT_TRUE(d) << Message();
  EXPECT_THAT(M().Commands(), ElementsAre(0x57));  // the definition, not the totals
  EXPECT_EQ(Get(d, &IDepartTotals::get_Nom), 5);
  EXPECT_EQ(Text(d, &IDepartTotals::get_Description), "MILK");  // trimmed by the command
  EXPECT_EQ(Text(d, &IDepartTotals::get_AddText), "FRESH");
  EXPECT_EQ(Get(d, &IDepartTotals::get_TaxGrpNo), 4);
  EXPECT_EQ(Text(d, &IDepartTotals::get_Exists), "");
  EXPECT_EQ(Get(d, &IDepartTotals::get_CountSales), 0);
  EXPECT_THAT(LogText(), HasSubstr("GetDepartmentName for department: 5"));

  M().ScriptNext(0x57, model::ReplyBits(Bits({model::bit::SyntaxError})));
  EXPECT_FALSE(DepartmentName(5));
  EXPECT_EQ(Code(), 205);
  EXPECT_THAT(Message(), StartsWith("[GetDepartmentName failed] "));
}

// A department read without its VAT letter must not pass for one of group 1: no object.
TEST_F(ReadBackTest, DepartmentNameWithoutItsVatLetterFails) {
  ReconnectAs("MIRAVOK FX-1");
  for (const char* answer : {"F", "5", "5,,MILK"}) {
    SCOPED_TRACE(answer);
    M().ScriptNext(0x57, model::Reply(answer));
    EXPECT_FALSE(DepartmentName(5));
    EXPECT_EQ(Code(), 200);
    EXPECT_EQ(Message(), "[GetDepartmentName failed] " + TBaseDevice::ErrorCodeText(200, "[VatGrp]") + " ");
  }
}

TEST_F(ReadBackTest, DepartmentNameOnAnotherPrinterIsTheTotalsObject) {
  M().Edit([](model::ModelState& S) {
    auto& d = S.departments[5];
    d.vat = 0xC3;
    d.name = "MILK";
    d.count = 12;
  });
  ComPtr<IDepartTotals> d = DepartmentName(5);
  ASSERT_TRUE(d) << Message();
  EXPECT_THAT(M().Commands(), ElementsAre(0x58));
  EXPECT_EQ(Text(d, &IDepartTotals::get_Description), "MILK");
  EXPECT_EQ(Text(d, &IDepartTotals::get_Exists), "P");
  EXPECT_EQ(Get(d, &IDepartTotals::get_CountSales), 12);
  EXPECT_EQ(Get(d, &IDepartTotals::get_TaxGrpNo), 4);
  // Its failure is the totals method's own.
  M().ScriptNext(0x58, model::ReplyBits(Bits({model::bit::SyntaxError})));
  EXPECT_FALSE(DepartmentName(5));
  EXPECT_THAT(Message(), StartsWith("[GetDeprtmentTotals for department no=\"5\" failed] "));
}

// ---------------------------------------------------------------------------------------
// Articles

struct TPluOut {
  LONG TaxGrp = -7;
  std::int8_t GrpNo = -7;
  double UnitPrice = -7, TotalSum = -7, SoldQtty = -7, AvailQtty = -7;
  BStr Name{u"client"};
  LONG Res = 99;
};

HRESULT ReadPlu(IMiravokFprn* Obj, LONG PluNo, TPluOut& O) {
  return Obj->GetPLUData(PluNo, &O.TaxGrp, &O.GrpNo, &O.UnitPrice, &O.TotalSum, &O.SoldQtty, &O.AvailQtty, O.Name.Out(),
                         &O.Res);
}

TEST_F(ReadBackTest, ArticleProgrammedAndRead) {
  LONG res = 99;
  ASSERT_EQ(FObj->SetPluData(12, 2, 300, 1.5, W("\xd0\x9c\xd0\x9b\xd0\xaf\xd0\x9a\xd0\x9e").Get(), &res),
            S_OK);  // "МЛЯКО"
  EXPECT_EQ(res, 0) << Message();
  const model::Plu plu = M().State().plus.at(12);
  EXPECT_EQ(plu.vat, 0xC1);
  EXPECT_EQ(plu.group, 300);
  EXPECT_EQ(plu.priceCents, 150);
  EXPECT_EQ(plu.available, 0);
  EXPECT_EQ(plu.name, "\xcc\xcb\xdf\xca\xce");
  EXPECT_THAT(LogText(), HasSubstr("Set PLU data. PluNo = \"12\"TaxGrp=\"2\", GroupNo=\"300\", "
                                   "UnitPrice=\"1.50\", Name=\"\xcc\xcb\xdf\xca\xce\","));

  M().Edit([](model::ModelState& S) {
    auto& p = S.plus.at(12);
    p.sold = 20;
    p.available = 5;
    p.totalCents = 3000;
  });
  TPluOut o;
  ASSERT_EQ(ReadPlu(FObj.Get(), 12, o), S_OK);
  EXPECT_EQ(o.Res, 0) << Message();
  EXPECT_EQ(o.TaxGrp, 2);
  EXPECT_EQ(o.GrpNo, 44);  // the low 8 bits of 300
  EXPECT_DOUBLE_EQ(o.UnitPrice, 1.5);
  EXPECT_DOUBLE_EQ(o.TotalSum, 30);
  EXPECT_DOUBLE_EQ(o.SoldQtty, 20);
  EXPECT_DOUBLE_EQ(o.AvailQtty, 5);
  EXPECT_EQ(BstrToAnsi(o.Name.Get()), "\xcc\xcb\xdf\xca\xce");
  EXPECT_THAT(LogText(), HasSubstr("Get PLU data. PluNo = \"12\""));
}

TEST_F(ReadBackTest, ArticleRefusedByThePrinter) {
  LONG res = 99;
  ASSERT_EQ(FObj->SetPluData(12, 9, 1, 1.5, W("X").Get(), &res), S_OK);  // no VAT group 9
  EXPECT_EQ(res, -1);
  EXPECT_EQ(Code(), 201);
  EXPECT_THAT(Message(), StartsWith("[Set PLU data failed] "));
  EXPECT_TRUE(M().State().plus.empty());
}

// An article the printer does not have is no success: the printer's answer is the error.
TEST_F(ReadBackTest, ArticleThePrinterLacksFailsWithItsAnswer) {
  TPluOut o;
  ASSERT_EQ(ReadPlu(FObj.Get(), 12, o), S_OK);
  EXPECT_EQ(o.Res, -1);
  EXPECT_EQ(Code(), 203);
  EXPECT_EQ(Message(), "[GetPLUData failed] Received an error message from the printer. #F ");
  EXPECT_EQ(o.TaxGrp, 0);
  EXPECT_EQ(o.UnitPrice, -7);  // the client's value
  EXPECT_EQ(o.Name.Length(), 0u);
}

// Numbers the printer takes as unsigned are refused before anything is sent; so are texts
// that would end their field early, and prices that are no numbers.
TEST_F(ReadBackTest, ArgumentsThatWouldGoOutWronglyAreRefusedUnsent) {
  const struct {
    std::function<HRESULT(LONG*)> Call;
    const char* Failure;
  } cases[] = {
      {[&](LONG* R) {
         TPluOut o;
         const HRESULT hr = ReadPlu(FObj.Get(), -1, o);
         *R = o.Res;
         return hr;
       },
       "[GetPLUData failed] Invalid input data. [PluNo] "},
      {[&](LONG* R) { return FObj->SetPluData(-1, 2, 1, 1.5, W("X").Get(), R); },
       "[Set PLU data failed] Invalid input data. [PluNo] "},
      {[&](LONG* R) { return FObj->SetPluData(12, 2, -1, 1.5, W("X").Get(), R); },
       "[Set PLU data failed] Invalid input data. [GroupNo] "},
      {[&](LONG* R) { return FObj->SetPluData(12, 2, 1, std::nan(""), W("X").Get(), R); },
       "[Set PLU data failed] Invalid input data. [UnitPrice] "},
      {[&](LONG* R) { return FObj->SetDeparment(-3, 2, W("Milk").Get(), W("").Get(), R); },
       "[SetDeparment failed] Invalid input data. [Nom] "},
      // A VAT group goes out as one letter: 257 would be the letter of group 1.
      {[&](LONG* R) { return FObj->SetDeparment(3, 257, W("Milk").Get(), W("").Get(), R); },
       "[SetDeparment failed] Invalid input data. [VATGrp] "},
      {[&](LONG* R) { return FObj->SetPluData(12, 257, 1, 1.5, W("X").Get(), R); },
       "[Set PLU data failed] Invalid input data. [TaxGrp] "},
      // The name ends at LF, where the second text begins.
      {[&](LONG* R) { return FObj->SetDeparment(3, 2, W("Milk\nfresh").Get(), W("").Get(), R); },
       "[SetDeparment failed] Invalid input data. [Description1] "},
      {[&](LONG* R) { return FObj->SetAdvLine(-1, W("Shop").Get(), R); },
       "[SetAdvLine failed] Invalid input data. [LineNo] "},
      {[&](LONG* R) {
         ComPtr<IDepartTotals> d;
         *R = -1;
         return FObj->GetDeprtmentTotals(-4, d.GetAddressOf());
       },
       "[GetDeprtmentTotals for department no=\"-4\" failed] Invalid input data. [Nom] "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Failure);
    M().ClearRequests();
    LONG res = 99;
    ASSERT_EQ(c.Call(&res), S_OK);
    EXPECT_EQ(res, -1);
    EXPECT_EQ(Code(), 201);
    EXPECT_EQ(Message(), c.Failure);
    EXPECT_TRUE(Sent().empty());
  }
  // The second text is the department's last field: it goes as given.
  LONG res = 99;
  ASSERT_EQ(FObj->SetDeparment(3, 2, W("Milk, fresh").Get(), W("1\t2").Get(), &res), S_OK);
  EXPECT_EQ(res, 0) << Message();
  EXPECT_EQ(M().State().departments.at(3).name, "Milk, fresh");
}

TEST_F(ReadBackTest, ArticleReadFailureLeavesNeutralValues) {
  M().ScriptNext(0x6B, model::Reply(""));  // 201 [No data recieved]
  TPluOut o;
  ASSERT_EQ(ReadPlu(FObj.Get(), 12, o), S_OK);
  EXPECT_EQ(o.Res, -1);
  EXPECT_EQ(Code(), 201);
  EXPECT_THAT(Message(), StartsWith("[GetPLUData failed] "));
  EXPECT_EQ(o.TaxGrp, 0);
  EXPECT_EQ(o.GrpNo, 0);
  EXPECT_EQ(o.UnitPrice, -7);  // the client's value
  EXPECT_EQ(o.TotalSum, 0);
  EXPECT_EQ(o.SoldQtty, 0);
  EXPECT_EQ(o.AvailQtty, 0);
  EXPECT_EQ(o.Name.Length(), 0u);
}

// ---------------------------------------------------------------------------------------
// Payment types and currency

TEST_F(ReadBackTest, PayTypeNames) {
  M().Edit([](model::ModelState& S) { S.payNames['K'] = ""; });
  struct TCase {
    LONG Nom;
    const char* Name;
  };
  // 2 is "N", 3 "C", 7 "K" (no name: the client's text stays), every other number "P".
  for (const TCase& c : {TCase{1, "CASH"}, TCase{2, "CARD"}, TCase{3, "CHEQUE"}, TCase{9, "CASH"}, TCase{7, "mine"}}) {
    BStr name(u"mine");
    LONG res = 99;
    ASSERT_EQ(FObj->GetPayType(c.Nom, name.InOut(), &res), S_OK);
    EXPECT_EQ(res, 0) << c.Nom << ": " << Message();
    EXPECT_EQ(BstrToAnsi(name.Get()), c.Name) << c.Nom;
  }
  EXPECT_THAT(LogText(), HasSubstr("Get pay name. Payment nom: 7"));
}

TEST_F(ReadBackTest, PayTypeZeroIsRefusedUnsent) {
  BStr name(u"mine");
  LONG res = 99;
  ASSERT_EQ(FObj->GetPayType(0, name.InOut(), &res), S_OK);
  EXPECT_EQ(res, -1);
  EXPECT_EQ(Code(), 201);
  EXPECT_EQ(Message(), "[Get pay name failed] Payment No <= 0 ");
  EXPECT_EQ(BstrToAnsi(name.Get()), "mine");
  EXPECT_FALSE(WasSent(cmdPayTypeName));
}

TEST_F(ReadBackTest, CurrencyMode) {
  M().Edit([](model::ModelState& S) { S.currencyMode = 2; });
  LONG mode = 0, res = 99;
  ASSERT_EQ(FObj->GetCurrencyMode(&mode, &res), S_OK);
  EXPECT_EQ(res, 0) << Message();
  EXPECT_EQ(mode, 2);
  M().ScriptNext(0x83, model::Reply("EUR"));  // no number: -1
  ASSERT_EQ(FObj->GetCurrencyMode(&mode, &res), S_OK);
  EXPECT_EQ(res, 0);
  EXPECT_EQ(mode, -1);
}

// ---------------------------------------------------------------------------------------
// Without a printer: no object, neutral values

class ReadBackWithoutPrinterTest : public test::TFprnModelTest {};

TEST_F(ReadBackWithoutPrinterTest, NothingIsHandedOut) {
  // The out-argument comes back null, whatever the client left in it.
  IBonData* b = reinterpret_cast<IBonData*>(0x1);
  ASSERT_EQ(FObj->GetRecieptStatus(&b), S_OK);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[GetRecieptStatus failed] " + kNotInit + " ");

  ComPtr<IXReportData> x;
  ASSERT_EQ(FObj->GetXReportData(x.GetAddressOf()), S_OK);
  EXPECT_FALSE(x);
  EXPECT_EQ(Message(), "[GetXReportData failed] " + kNotInit + " ");

  ComPtr<IAdvLines> a;
  ASSERT_EQ(FObj->GetAdvLinets(a.GetAddressOf()), S_OK);
  EXPECT_FALSE(a);
  EXPECT_EQ(Message(), "[GetAdvLinets failed] " + kNotInit + " ");

  ComPtr<IDepartTotals> d;
  ASSERT_EQ(FObj->GetDepartmentName(2, d.GetAddressOf()), S_OK);
  EXPECT_FALSE(d);
  EXPECT_EQ(Message(), "[GetDeprtmentTotals for department no=\"2\" failed] " + kNotInit + " ");

  TPluOut o;
  ASSERT_EQ(ReadPlu(FObj.Get(), 1, o), S_OK);
  EXPECT_EQ(o.Res, -1);
  EXPECT_EQ(o.TaxGrp, 0);
  EXPECT_EQ(o.UnitPrice, -7);
  EXPECT_EQ(o.Name.Length(), 0u);

  LONG mode = 5, res = 99;
  ASSERT_EQ(FObj->GetCurrencyMode(&mode, &res), S_OK);
  EXPECT_EQ(mode, 1);
  EXPECT_EQ(res, -1);
  EXPECT_EQ(Code(), 502);
}

TEST_F(ReadBackWithoutPrinterTest, ClosedLinkFailsWith101) {
  auto dev = std::make_unique<TFakeDevice>();
  dev->Connected = false;
  O().AttachDeviceForTest(std::move(dev));
  ComPtr<IDepartTotals> d;
  ASSERT_EQ(FObj->GetDeprtmentTotals(1, d.GetAddressOf()), S_OK);
  EXPECT_FALSE(d);
  EXPECT_EQ(Code(), 101);
  LONG res = 99;
  ASSERT_EQ(FObj->SetAdvLine(1, BStr(u"x").Get(), &res), S_OK);
  EXPECT_EQ(res, -1);
  EXPECT_EQ(Message(), "[SetAdvLine failed] COM port is not active ");
}

}  // namespace
}  // namespace fp::test
