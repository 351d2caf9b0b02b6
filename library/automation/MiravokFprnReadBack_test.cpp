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

namespace fp {
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
  T V{};
  EXPECT_EQ((Object.Get()->*Getter)(&V), S_OK);
  return V;
}
template <class I>
std::string Text(const ComPtr<I>& Object, HRESULT (I::*Getter)(BSTR*)) {
  BStr V;
  EXPECT_EQ((Object.Get()->*Getter)(V.Out()), S_OK);
  return BstrToAnsi(V.Get());
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
    ComPtr<IDepartTotals> D;
    EXPECT_EQ(Obj->GetDeprtmentTotals(Nom, D.GetAddressOf()), S_OK);
    return D;
  }
  ComPtr<IDepartTotals> DepartmentName(LONG Nom) {
    ComPtr<IDepartTotals> D;
    EXPECT_EQ(Obj->GetDepartmentName(Nom, D.GetAddressOf()), S_OK);
    return D;
  }
};

// ---------------------------------------------------------------------------------------
// The current receipt

TEST_F(ReadBackTest, ReceiptStatusWithoutAReceipt) {
  M().Edit([](model::ModelState& S) { S.allReceipts = 57; });
  ComPtr<IBonData> B;
  ASSERT_EQ(Obj->GetRecieptStatus(B.GetAddressOf()), S_OK);
  ASSERT_TRUE(B) << Message();
  EXPECT_EQ(Code(), 0);
  EXPECT_EQ(Get(B, &IBonData::get_IsOpen), 0);
  EXPECT_EQ(Get(B, &IBonData::get_ItemCount), 0);
  EXPECT_EQ(Get(B, &IBonData::get_TotalAmount), 0);
  EXPECT_EQ(Get(B, &IBonData::get_PayedAmount), 0);
  EXPECT_EQ(Get(B, &IBonData::get_IsInvoice), 0);
  EXPECT_EQ(Text(B, &IBonData::get_DocNumber), "57");
  EXPECT_THAT(LogText(), HasSubstr("[INFO]Get reciept status\r\n"));
}

TEST_F(ReadBackTest, ReceiptStatusOfAnOpenInvoice) {
  M().Edit([](model::ModelState& S) {
    Receipt R;
    R.kind = ReceiptKind::Invoice;
    R.allNo = ++S.allReceipts;
    model::Item A;
    A.vatGroup = 2;
    A.priceCents = A.amountCents = 1050;
    model::Item B;
    B.vatGroup = 3;
    B.priceCents = B.amountCents = 200;
    R.items = {A, B};
    model::Payment Pay;
    Pay.amountCents = 500;
    R.payments = {Pay};
    S.open = R;
  });
  ComPtr<IBonData> B;
  ASSERT_EQ(Obj->GetRecieptStatus(B.GetAddressOf()), S_OK);
  ASSERT_TRUE(B) << Message();
  EXPECT_EQ(Get(B, &IBonData::get_IsOpen), 1);
  EXPECT_EQ(Get(B, &IBonData::get_IsInvoice), 1);
  EXPECT_EQ(Get(B, &IBonData::get_ItemCount), 2);
  EXPECT_DOUBLE_EQ(Get(B, &IBonData::get_TotalAmount), 12.5);
  EXPECT_DOUBLE_EQ(Get(B, &IBonData::get_PayedAmount), 5);
  EXPECT_EQ(Text(B, &IBonData::get_DocNumber), "1");

  // Every call makes an object of its own.
  ComPtr<IBonData> Second;
  ASSERT_EQ(Obj->GetRecieptStatus(Second.GetAddressOf()), S_OK);
  ASSERT_TRUE(Second);
  EXPECT_NE(Second.Get(), B.Get());
  EXPECT_EQ(B->put_ItemCount(9), S_OK);
  EXPECT_EQ(Get(Second, &IBonData::get_ItemCount), 2);
}

TEST_F(ReadBackTest, NoObjectWhenALaterReadFails) {
  // The receipt information is read, the last document number is not.
  M().ScriptNext(0x71, model::Reply("x"));
  ComPtr<IBonData> B;
  ASSERT_EQ(Obj->GetRecieptStatus(B.GetAddressOf()), S_OK);
  EXPECT_FALSE(B);
  EXPECT_EQ(Code(), 201);
  EXPECT_THAT(Message(), StartsWith("[GetRecieptStatus failed] "));
}

// ---------------------------------------------------------------------------------------
// The day's totals

void FillDay(model::ModelState& S) {
  for (size_t I = 0; I < 11; ++I) S.daily.payments[I] = int64_t(100 * (I + 1));  // 1.00 .. 11.00
  for (size_t I = 0; I < 8; ++I) {
    S.daily.turnover[I] = int64_t(1000 * (I + 1));  // 10.00 .. 80.00
    S.daily.vat[I] = int64_t(10 * (I + 1));         // 0.10 .. 0.80
  }
}

void ExpectDay(const ComPtr<IXReportData>& X, bool ShortPayments) {
  using TGet = HRESULT (IXReportData::*)(double*);
  const TGet Py[11] = {&IXReportData::get_TotalPy1, &IXReportData::get_TotalPy2,
                       &IXReportData::get_TotalPy3, &IXReportData::get_TotalPy4,
                       &IXReportData::get_TotalPy5, &IXReportData::get_TotalPy6,
                       &IXReportData::get_TotalPy7, &IXReportData::get_TotalPy8,
                       &IXReportData::get_TotalPy9, &IXReportData::get_TotalPy10,
                       &IXReportData::get_TotalPy11};
  const TGet Tax[8] = {&IXReportData::get_TotalTaxA, &IXReportData::get_TotalTaxB,
                       &IXReportData::get_TotalTaxC, &IXReportData::get_TotalTaxD,
                       &IXReportData::get_TotalTaxE, &IXReportData::get_TotalTaxF,
                       &IXReportData::get_TotalTaxG, &IXReportData::get_TotalTaxH};
  for (size_t I = 0; I < 11; ++I)
    EXPECT_DOUBLE_EQ(Get(X, Py[I]), ShortPayments && I >= 8 ? 0.0 : double(I + 1)) << "TotalPy" << I + 1;
  for (size_t I = 0; I < 8; ++I) EXPECT_DOUBLE_EQ(Get(X, Tax[I]), 0.1 * double(I + 1)) << "TotalTax " << I;
  EXPECT_NEAR(Get(X, &IXReportData::get_Total), 360.0, 1e-9);
  EXPECT_NEAR(Get(X, &IXReportData::get_TOTAL_VAT), 3.6, 1e-9);
}

TEST_F(ReadBackTest, XReportDataHoldsTheDaysTotals) {
  M().Edit(FillDay);
  ComPtr<IXReportData> X;
  ASSERT_EQ(Obj->GetXReportData(X.GetAddressOf()), S_OK);
  ASSERT_TRUE(X) << Message();
  ExpectDay(X, false);
  EXPECT_THAT(M().Commands(), ElementsAre(cmdDailyPayments, 0x41, 0x41));
  EXPECT_THAT(LogText(), HasSubstr("GetXReportData"));
}

TEST_F(ReadBackTest, XReportDataFallsBackToTheShortPaymentRead) {
  M().Edit(FillDay);
  // The printer refuses only the first payment read; the second sends the same data.
  M().ScriptNext(cmdDailyPayments, model::ReplyBits(Bits({model::bit::InvalidCommand})));
  ComPtr<IXReportData> X;
  ASSERT_EQ(Obj->GetXReportData(X.GetAddressOf()), S_OK);
  ASSERT_TRUE(X) << Message();
  EXPECT_EQ(Code(), 0);
  ExpectDay(X, true);
  std::vector<std::string> PaymentReads;
  for (const model::Request& R : M().Requests())
    if (R.cmd == cmdDailyPayments) PaymentReads.push_back(R.data);
  EXPECT_THAT(PaymentReads, ElementsAre("11", "11"));
}

TEST_F(ReadBackTest, XReportDataFailsWithTheShortReadsFailure) {
  M().ScriptNext(cmdDailyPayments, model::ReplyBits(Bits({model::bit::InvalidCommand})));
  M().ScriptNext(cmdDailyPayments, model::ReplyBits(Bits({model::bit::SyntaxError})));
  ComPtr<IXReportData> X;
  ASSERT_EQ(Obj->GetXReportData(X.GetAddressOf()), S_OK);
  EXPECT_FALSE(X);
  EXPECT_EQ(Code(), 205);  // the syntax error of the second read
  EXPECT_THAT(Message(), StartsWith("[GetXReportData failed] "));
}

// ---------------------------------------------------------------------------------------
// Header lines

TEST_F(ReadBackTest, HeaderLinesWrittenAndRead) {
  const std::string Long(40, 'x');
  LONG Res = 99;
  ASSERT_EQ(Obj->SetAdvLine(2, W("\xd0\x9c\xd0\x90\xd0\x93\xd0\x90\xd0\x97\xd0\x98\xd0\x9d").Get(), &Res), S_OK);  // "МАГАЗИН"
  EXPECT_EQ(Res, 0) << Message();
  ASSERT_EQ(Obj->SetAdvLine(7, W(Long).Get(), &Res), S_OK);
  EXPECT_EQ(Res, 0) << Message();
  EXPECT_EQ(M().State().header[2], "\xcc\xc0\xc3\xc0\xc7\xc8\xcd");  // code page 1251
  EXPECT_EQ(M().State().header[7], Long.substr(0, 36));

  ComPtr<IAdvLines> A;
  ASSERT_EQ(Obj->GetAdvLinets(A.GetAddressOf()), S_OK);
  ASSERT_TRUE(A) << Message();
  EXPECT_EQ(Text(A, &IAdvLines::get_Line1), "MODEL SHOP");
  EXPECT_EQ(Text(A, &IAdvLines::get_Line2), "1 TEST STREET");
  EXPECT_EQ(Text(A, &IAdvLines::get_Line3), "\xcc\xc0\xc3\xc0\xc7\xc8\xcd");
  EXPECT_EQ(Text(A, &IAdvLines::get_Line4), "");
  EXPECT_EQ(Text(A, &IAdvLines::get_Line8), Long.substr(0, 36));
  EXPECT_THAT(LogText(), HasSubstr("Set Adv Lines. LineNo=7, LineText=\"" + Long + "\""));
}

TEST_F(ReadBackTest, NoHeaderObjectWhenOnlySixLinesAreRead) {
  const model::ModelState Before = M().State();
  M().SetHandler(cmdHeaderLine, [Before](model::CommandContext& C) {
    if (C.data == "I6") return C.SyntaxError();
    if (C.data.size() == 2 && C.data[0] == 'I') C.answer = Before.header[size_t(C.data[1] - '0')];
  });
  ComPtr<IAdvLines> A;
  ASSERT_EQ(Obj->GetAdvLinets(A.GetAddressOf()), S_OK);
  EXPECT_FALSE(A);
  EXPECT_EQ(Code(), 205);
  EXPECT_THAT(Message(), StartsWith("[GetAdvLinets failed] "));
}

// ---------------------------------------------------------------------------------------
// Departments

TEST_F(ReadBackTest, DepartmentProgrammedAndReadWithItsTotals) {
  LONG Res = 99;
  // "Хляб" and "пресен"
  ASSERT_EQ(Obj->SetDeparment(3, 2, W("\xd0\xa5\xd0\xbb\xd1\x8f\xd0\xb1").Get(),
                              W("\xd0\xbf\xd1\x80\xd0\xb5\xd1\x81\xd0\xb5\xd0\xbd").Get(), &Res),
            S_OK);
  EXPECT_EQ(Res, 0) << Message();
  const model::Department Dep = M().State().departments.at(3);
  EXPECT_EQ(Dep.vat, 0xC1);
  EXPECT_EQ(Dep.name, "\xd5\xeb\xff\xe1");
  EXPECT_EQ(Dep.addText, "\xef\xf0\xe5\xf1\xe5\xed");

  M().Edit([](model::ModelState& S) {
    auto& D = S.departments.at(3);
    D.lastCount = 4;
    D.lastSumCents = 1234;
    D.count = 0x100000005;  // beyond 32 bits: the low 32 bits are handed on
    D.totalCents = 98765;
  });
  ComPtr<IDepartTotals> D = Totals(3);
  ASSERT_TRUE(D) << Message();
  EXPECT_EQ(Get(D, &IDepartTotals::get_Nom), 3);
  EXPECT_EQ(Text(D, &IDepartTotals::get_Description), "\xd5\xeb\xff\xe1");
  EXPECT_EQ(Text(D, &IDepartTotals::get_AddText), "\xef\xf0\xe5\xf1\xe5\xed");
  EXPECT_EQ(Get(D, &IDepartTotals::get_TaxGrpNo), 2);
  EXPECT_EQ(Get(D, &IDepartTotals::get_LastCountSales), 4);
  EXPECT_DOUBLE_EQ(Get(D, &IDepartTotals::get_LastSum), 12.34);
  EXPECT_EQ(Get(D, &IDepartTotals::get_CountSales), 5);
  EXPECT_DOUBLE_EQ(Get(D, &IDepartTotals::get_TotalSum), 987.65);
  EXPECT_EQ(Text(D, &IDepartTotals::get_Exists), "P");
  const std::string Log = LogText();
  EXPECT_THAT(Log, HasSubstr("Set department. DeprtmentNo:3 Description1:\xd5\xeb\xff\xe1 "
                             "Description2:\xef\xf0\xe5\xf1\xe5\xed VATGrp:2)"));
  EXPECT_THAT(Log, HasSubstr("GetDeprtmentTotals for department: 3"));
}

TEST_F(ReadBackTest, UnprogrammedDepartmentIsMarkedByThePrintersAnswer) {
  ComPtr<IDepartTotals> D = Totals(9);
  ASSERT_TRUE(D) << Message();
  EXPECT_EQ(Text(D, &IDepartTotals::get_Exists), "F");
  EXPECT_EQ(Get(D, &IDepartTotals::get_Nom), 9);
  EXPECT_EQ(Get(D, &IDepartTotals::get_CountSales), 0);
  EXPECT_EQ(Text(D, &IDepartTotals::get_Description), "");
}

TEST_F(ReadBackTest, DepartmentTotalsFailureNamesTheDepartment) {
  M().ScriptNext(0x58, model::ReplyBits(Bits({model::bit::SyntaxError})));
  ComPtr<IDepartTotals> D = Totals(4);
  EXPECT_FALSE(D);
  EXPECT_EQ(Code(), 205);
  EXPECT_THAT(Message(), StartsWith("[GetDeprtmentTotals for department no=\"4\" failed] "));
}

TEST_F(ReadBackTest, DepartmentNameOnAPrinterWithExtendedCommands) {
  ReconnectAs("MIRAVOK FX-1");
  M().Edit([](model::ModelState& S) {
    auto& D = S.departments[5];
    D.vat = 0xC3;
    D.name = "  MILK  ";
    D.addText = " FRESH ";
    D.count = 12;
  });
  ComPtr<IDepartTotals> D = DepartmentName(5);
  ASSERT_TRUE(D) << Message();
  EXPECT_THAT(M().Commands(), ElementsAre(0x57));  // the definition, not the totals
  EXPECT_EQ(Get(D, &IDepartTotals::get_Nom), 5);
  EXPECT_EQ(Text(D, &IDepartTotals::get_Description), "MILK");  // trimmed by the command
  EXPECT_EQ(Text(D, &IDepartTotals::get_AddText), "FRESH");
  EXPECT_EQ(Get(D, &IDepartTotals::get_TaxGrpNo), 4);
  EXPECT_EQ(Text(D, &IDepartTotals::get_Exists), "");
  EXPECT_EQ(Get(D, &IDepartTotals::get_CountSales), 0);
  EXPECT_THAT(LogText(), HasSubstr("GetDepartmentName for department: 5"));

  M().ScriptNext(0x57, model::ReplyBits(Bits({model::bit::SyntaxError})));
  EXPECT_FALSE(DepartmentName(5));
  EXPECT_EQ(Code(), 205);
  EXPECT_THAT(Message(), StartsWith("[GetDepartmentName failed] "));
}

// A department read without its VAT letter must not pass for one of group 1: no object.
TEST_F(ReadBackTest, DepartmentNameWithoutItsVatLetterFails) {
  ReconnectAs("MIRAVOK FX-1");
  for (const char* Answer : {"F", "5", "5,,MILK"}) {
    SCOPED_TRACE(Answer);
    M().ScriptNext(0x57, model::Reply(Answer));
    EXPECT_FALSE(DepartmentName(5));
    EXPECT_EQ(Code(), 200);
    EXPECT_EQ(Message(), "[GetDepartmentName failed] " + TBaseDevice::ErrorCodeText(200, "[VatGrp]") + " ");
  }
}

TEST_F(ReadBackTest, DepartmentNameOnAnotherPrinterIsTheTotalsObject) {
  M().Edit([](model::ModelState& S) {
    auto& D = S.departments[5];
    D.vat = 0xC3;
    D.name = "MILK";
    D.count = 12;
  });
  ComPtr<IDepartTotals> D = DepartmentName(5);
  ASSERT_TRUE(D) << Message();
  EXPECT_THAT(M().Commands(), ElementsAre(0x58));
  EXPECT_EQ(Text(D, &IDepartTotals::get_Description), "MILK");
  EXPECT_EQ(Text(D, &IDepartTotals::get_Exists), "P");
  EXPECT_EQ(Get(D, &IDepartTotals::get_CountSales), 12);
  EXPECT_EQ(Get(D, &IDepartTotals::get_TaxGrpNo), 4);
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
  return Obj->GetPLUData(PluNo, &O.TaxGrp, &O.GrpNo, &O.UnitPrice, &O.TotalSum, &O.SoldQtty,
                         &O.AvailQtty, O.Name.Out(), &O.Res);
}

TEST_F(ReadBackTest, ArticleProgrammedAndRead) {
  LONG Res = 99;
  ASSERT_EQ(Obj->SetPluData(12, 2, 300, 1.5, W("\xd0\x9c\xd0\x9b\xd0\xaf\xd0\x9a\xd0\x9e").Get(), &Res), S_OK);  // "МЛЯКО"
  EXPECT_EQ(Res, 0) << Message();
  const model::Plu Plu = M().State().plus.at(12);
  EXPECT_EQ(Plu.vat, 0xC1);
  EXPECT_EQ(Plu.group, 300);
  EXPECT_EQ(Plu.priceCents, 150);
  EXPECT_EQ(Plu.available, 0);
  EXPECT_EQ(Plu.name, "\xcc\xcb\xdf\xca\xce");
  EXPECT_THAT(LogText(), HasSubstr("Set PLU data. PluNo = \"12\"TaxGrp=\"2\", GroupNo=\"300\", "
                                   "UnitPrice=\"1.50\", Name=\"\xcc\xcb\xdf\xca\xce\","));

  M().Edit([](model::ModelState& S) {
    auto& P = S.plus.at(12);
    P.sold = 20;
    P.available = 5;
    P.totalCents = 3000;
  });
  TPluOut O;
  ASSERT_EQ(ReadPlu(Obj.Get(), 12, O), S_OK);
  EXPECT_EQ(O.Res, 0) << Message();
  EXPECT_EQ(O.TaxGrp, 2);
  EXPECT_EQ(O.GrpNo, 44);  // the low 8 bits of 300
  EXPECT_DOUBLE_EQ(O.UnitPrice, 1.5);
  EXPECT_DOUBLE_EQ(O.TotalSum, 30);
  EXPECT_DOUBLE_EQ(O.SoldQtty, 20);
  EXPECT_DOUBLE_EQ(O.AvailQtty, 5);
  EXPECT_EQ(BstrToAnsi(O.Name.Get()), "\xcc\xcb\xdf\xca\xce");
  EXPECT_THAT(LogText(), HasSubstr("Get PLU data. PluNo = \"12\""));
}

TEST_F(ReadBackTest, ArticleRefusedByThePrinter) {
  LONG Res = 99;
  ASSERT_EQ(Obj->SetPluData(12, 9, 1, 1.5, W("X").Get(), &Res), S_OK);  // no VAT group 9
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(Code(), 201);
  EXPECT_THAT(Message(), StartsWith("[Set PLU data failed] "));
  EXPECT_TRUE(M().State().plus.empty());
}

// An article the printer does not have is no success: the printer's answer is the error.
TEST_F(ReadBackTest, ArticleThePrinterLacksFailsWithItsAnswer) {
  TPluOut O;
  ASSERT_EQ(ReadPlu(Obj.Get(), 12, O), S_OK);
  EXPECT_EQ(O.Res, -1);
  EXPECT_EQ(Code(), 203);
  EXPECT_EQ(Message(), "[GetPLUData failed] Received an error message from the printer. #F ");
  EXPECT_EQ(O.TaxGrp, 0);
  EXPECT_EQ(O.UnitPrice, -7);  // the client's value
  EXPECT_EQ(O.Name.Length(), 0u);
}

// Numbers the printer takes as unsigned are refused before anything is sent; so are texts
// that would end their field early, and prices that are no numbers.
TEST_F(ReadBackTest, ArgumentsThatWouldGoOutWronglyAreRefusedUnsent) {
  const struct {
    std::function<HRESULT(LONG*)> Call;
    const char* Failure;
  } Cases[] = {
      {[&](LONG* R) {
         TPluOut O;
         const HRESULT Hr = ReadPlu(Obj.Get(), -1, O);
         *R = O.Res;
         return Hr;
       },
       "[GetPLUData failed] Invalid input data. [PluNo] "},
      {[&](LONG* R) { return Obj->SetPluData(-1, 2, 1, 1.5, W("X").Get(), R); },
       "[Set PLU data failed] Invalid input data. [PluNo] "},
      {[&](LONG* R) { return Obj->SetPluData(12, 2, -1, 1.5, W("X").Get(), R); },
       "[Set PLU data failed] Invalid input data. [GroupNo] "},
      {[&](LONG* R) { return Obj->SetPluData(12, 2, 1, std::nan(""), W("X").Get(), R); },
       "[Set PLU data failed] Invalid input data. [UnitPrice] "},
      {[&](LONG* R) { return Obj->SetDeparment(-3, 2, W("Milk").Get(), W("").Get(), R); },
       "[SetDeparment failed] Invalid input data. [Nom] "},
      // A VAT group goes out as one letter: 257 would be the letter of group 1.
      {[&](LONG* R) { return Obj->SetDeparment(3, 257, W("Milk").Get(), W("").Get(), R); },
       "[SetDeparment failed] Invalid input data. [VATGrp] "},
      {[&](LONG* R) { return Obj->SetPluData(12, 257, 1, 1.5, W("X").Get(), R); },
       "[Set PLU data failed] Invalid input data. [TaxGrp] "},
      // The name ends at LF, where the second text begins.
      {[&](LONG* R) { return Obj->SetDeparment(3, 2, W("Milk\nfresh").Get(), W("").Get(), R); },
       "[SetDeparment failed] Invalid input data. [Description1] "},
      {[&](LONG* R) { return Obj->SetAdvLine(-1, W("Shop").Get(), R); },
       "[SetAdvLine failed] Invalid input data. [LineNo] "},
      {[&](LONG* R) {
         ComPtr<IDepartTotals> D;
         *R = -1;
         return Obj->GetDeprtmentTotals(-4, D.GetAddressOf());
       },
       "[GetDeprtmentTotals for department no=\"-4\" failed] Invalid input data. [Nom] "},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Failure);
    M().ClearRequests();
    LONG Res = 99;
    ASSERT_EQ(C.Call(&Res), S_OK);
    EXPECT_EQ(Res, -1);
    EXPECT_EQ(Code(), 201);
    EXPECT_EQ(Message(), C.Failure);
    EXPECT_TRUE(Sent().empty());
  }
  // The second text is the department's last field: it goes as given.
  LONG Res = 99;
  ASSERT_EQ(Obj->SetDeparment(3, 2, W("Milk, fresh").Get(), W("1\t2").Get(), &Res), S_OK);
  EXPECT_EQ(Res, 0) << Message();
  EXPECT_EQ(M().State().departments.at(3).name, "Milk, fresh");
}

TEST_F(ReadBackTest, ArticleReadFailureLeavesNeutralValues) {
  M().ScriptNext(0x6B, model::Reply(""));  // 201 [No data recieved]
  TPluOut O;
  ASSERT_EQ(ReadPlu(Obj.Get(), 12, O), S_OK);
  EXPECT_EQ(O.Res, -1);
  EXPECT_EQ(Code(), 201);
  EXPECT_THAT(Message(), StartsWith("[GetPLUData failed] "));
  EXPECT_EQ(O.TaxGrp, 0);
  EXPECT_EQ(O.GrpNo, 0);
  EXPECT_EQ(O.UnitPrice, -7);  // the client's value
  EXPECT_EQ(O.TotalSum, 0);
  EXPECT_EQ(O.SoldQtty, 0);
  EXPECT_EQ(O.AvailQtty, 0);
  EXPECT_EQ(O.Name.Length(), 0u);
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
  for (const TCase& C : {TCase{1, "CASH"}, TCase{2, "CARD"}, TCase{3, "CHEQUE"}, TCase{9, "CASH"},
                         TCase{7, "mine"}}) {
    BStr Name(u"mine");
    LONG Res = 99;
    ASSERT_EQ(Obj->GetPayType(C.Nom, Name.InOut(), &Res), S_OK);
    EXPECT_EQ(Res, 0) << C.Nom << ": " << Message();
    EXPECT_EQ(BstrToAnsi(Name.Get()), C.Name) << C.Nom;
  }
  EXPECT_THAT(LogText(), HasSubstr("Get pay name. Payment nom: 7"));
}

TEST_F(ReadBackTest, PayTypeZeroIsRefusedUnsent) {
  BStr Name(u"mine");
  LONG Res = 99;
  ASSERT_EQ(Obj->GetPayType(0, Name.InOut(), &Res), S_OK);
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(Code(), 201);
  EXPECT_EQ(Message(), "[Get pay name failed] Payment No <= 0 ");
  EXPECT_EQ(BstrToAnsi(Name.Get()), "mine");
  EXPECT_FALSE(WasSent(cmdPayTypeName));
}

TEST_F(ReadBackTest, CurrencyMode) {
  M().Edit([](model::ModelState& S) { S.currencyMode = 2; });
  LONG Mode = 0, Res = 99;
  ASSERT_EQ(Obj->GetCurrencyMode(&Mode, &Res), S_OK);
  EXPECT_EQ(Res, 0) << Message();
  EXPECT_EQ(Mode, 2);
  M().ScriptNext(0x83, model::Reply("EUR"));  // no number: -1
  ASSERT_EQ(Obj->GetCurrencyMode(&Mode, &Res), S_OK);
  EXPECT_EQ(Res, 0);
  EXPECT_EQ(Mode, -1);
}

// ---------------------------------------------------------------------------------------
// Without a printer: no object, neutral values

class ReadBackWithoutPrinterTest : public test::TFprnModelTest {};

TEST_F(ReadBackWithoutPrinterTest, NothingIsHandedOut) {
  // The out-argument comes back null, whatever the client left in it.
  IBonData* B = reinterpret_cast<IBonData*>(0x1);
  ASSERT_EQ(Obj->GetRecieptStatus(&B), S_OK);
  EXPECT_EQ(B, nullptr);
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[GetRecieptStatus failed] " + kNotInit + " ");

  ComPtr<IXReportData> X;
  ASSERT_EQ(Obj->GetXReportData(X.GetAddressOf()), S_OK);
  EXPECT_FALSE(X);
  EXPECT_EQ(Message(), "[GetXReportData failed] " + kNotInit + " ");

  ComPtr<IAdvLines> A;
  ASSERT_EQ(Obj->GetAdvLinets(A.GetAddressOf()), S_OK);
  EXPECT_FALSE(A);
  EXPECT_EQ(Message(), "[GetAdvLinets failed] " + kNotInit + " ");

  ComPtr<IDepartTotals> D;
  ASSERT_EQ(Obj->GetDepartmentName(2, D.GetAddressOf()), S_OK);
  EXPECT_FALSE(D);
  EXPECT_EQ(Message(), "[GetDeprtmentTotals for department no=\"2\" failed] " + kNotInit + " ");

  TPluOut O;
  ASSERT_EQ(ReadPlu(Obj.Get(), 1, O), S_OK);
  EXPECT_EQ(O.Res, -1);
  EXPECT_EQ(O.TaxGrp, 0);
  EXPECT_EQ(O.UnitPrice, -7);
  EXPECT_EQ(O.Name.Length(), 0u);

  LONG Mode = 5, Res = 99;
  ASSERT_EQ(Obj->GetCurrencyMode(&Mode, &Res), S_OK);
  EXPECT_EQ(Mode, 1);
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(Code(), 502);
}

TEST_F(ReadBackWithoutPrinterTest, ClosedLinkFailsWith101) {
  auto Dev = std::make_unique<TFakeDevice>();
  Dev->Connected = false;
  O().AttachDeviceForTest(std::move(Dev));
  ComPtr<IDepartTotals> D;
  ASSERT_EQ(Obj->GetDeprtmentTotals(1, D.GetAddressOf()), S_OK);
  EXPECT_FALSE(D);
  EXPECT_EQ(Code(), 101);
  LONG Res = 99;
  ASSERT_EQ(Obj->SetAdvLine(1, BStr(u"x").Get(), &Res), S_OK);
  EXPECT_EQ(Res, -1);
  EXPECT_EQ(Message(), "[SetAdvLine failed] COM port is not active ");
}

}  // namespace
}  // namespace fp
