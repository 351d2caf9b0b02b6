// Reading receipt files: every record kind, its defaults, implied decimals and failures.
#include "tests/support/uECRFileReaderTestSupport.h"

#include <climits>
#include <cmath>

#include "platform/Cp1251.h"

namespace fp::test {
namespace {

using namespace uECRFileReader;

// A fixed-width PLU line: number 0012, a 12-character name, price 1.50, quantity 1.000.
const std::string kPlu32 = "0012Water       0000015000001000";

DATE Ole(int y, int m, int d) { return static_cast<DATE>(QDate(1899, 12, 30).daysTo(QDate(y, m, d))); }

struct PluCase {
  std::string line;
  bool ok;
  int32_t vat, department, autoPay;
  std::string error;  // without "[ReadFile]" and the row
};

class FixedPlu : public ReaderFixture, public ::testing::WithParamInterface<PluCase> {};

TEST_P(FixedPlu, OptionalFieldsByLineLength) {
  const PluCase& c = GetParam();
  ASSERT_EQ(Read({c.line}), c.ok) << FReader.LastError();
  if (!c.ok) {
    EXPECT_EQ(FReader.LastError(), ReadError(c.error, c.line));
    return;
  }
  auto* plu = Cmd<TPluObject>(0);
  ASSERT_NE(plu, nullptr);
  EXPECT_EQ(plu->Number, "0012");
  EXPECT_EQ(plu->Name, "Water       ");
  EXPECT_DOUBLE_EQ(plu->Price, 1.5);
  EXPECT_DOUBLE_EQ(plu->Quantity, 1.0);
  EXPECT_EQ(plu->VatGroup, c.vat);
  EXPECT_EQ(plu->Department, c.department);
  EXPECT_EQ(FReader.AutoPayType(), c.autoPay);
  EXPECT_EQ(plu->RawLine, c.line);
  EXPECT_TRUE(FReader.HasSales());
}

const char kRange[] = "[FAddPlu][CopyToPosAndDel]Possition is out of range.(";
INSTANTIATE_TEST_SUITE_P(
    Lengths, FixedPlu,
    ::testing::Values(PluCase{kPlu32, true, 2, 1, -1, ""},        // 32
                      PluCase{kPlu32 + "3", true, 4, 1, -1, ""},  // 33
                      PluCase{kPlu32 + "3x", false, 0, 0, 0, kRange + std::string("x, Possition: 2)")},
                      PluCase{kPlu32 + "3xx", true, 4, 1, -1, ""},  // 35
                      PluCase{kPlu32 + "3xx0", false, 0, 0, 0, kRange + std::string("0, Possition: 2)")},
                      PluCase{kPlu32 + "3xx04", true, 4, 5, -1, ""},      // 37
                      PluCase{kPlu32 + "3xx042", true, 4, 5, 2, ""},      // 38
                      PluCase{kPlu32 + "3xx040", true, 4, 5, -1, ""},     // pay type 0
                      PluCase{kPlu32 + "3xx042zzzz", true, 4, 5, 2, ""},  // beyond 38
                      PluCase{kPlu32 + "3xx00", true, 4, 1, -1, ""},      // "00": 1
                      PluCase{kPlu32 + "3xx98", true, 4, 99, -1, ""},
                      PluCase{kPlu32 + "3xx99", false, 0, 0, 0,
                              "[FAddPlu]Invalid department nom:100. Valid numbers are between 1 to 100."},
                      PluCase{kPlu32 + "3xxxx", true, 4, -1, -1, ""},  // unreadable
                      PluCase{kPlu32 + "3xx-5", true, 4, -5, -1, ""},
                      PluCase{kPlu32 + "3xx 6", true, 4, 7, -1, ""},   // leading blank
                      PluCase{kPlu32 + "3xx6 2", true, 4, -1, 2, ""},  // trailing blank
                      PluCase{"12", false, 0, 0, 0, kRange + std::string("12, Possition: 4)")},
                      PluCase{"0000Water       0000015000001000", false, 0, 0, 0, "[FAddPlu]Invalid PLU number."},
                      PluCase{"abcdWater       0000015000001000", false, 0, 0, 0, "[FAddPlu]Invalid PLU number."},
                      PluCase{"#Z12Water       0000015000001000", false, 0, 0, 0, "[FAddPlu]Invalid PLU number."},
                      PluCase{"0012Water", false, 0, 0, 0, kRange + std::string("Water, Possition: 12)")}));

struct AmountCase {
  std::string price, quantity;
  double expPrice, expQuantity;
  std::string error;
};

class PluAmounts : public ReaderFixture, public ::testing::WithParamInterface<AmountCase> {};

TEST_P(PluAmounts, ImpliedDecimalsAndLimits) {
  const AmountCase& c = GetParam();
  const std::string line = "0012Water       " + c.price + c.quantity;
  const bool ok = Read({line});
  ASSERT_EQ(ok, c.error.empty()) << FReader.LastError();
  if (!ok) {
    EXPECT_EQ(FReader.LastError(), ReadError("[FAddPlu]" + c.error, line));
    return;
  }
  EXPECT_DOUBLE_EQ(Cmd<TPluObject>(0)->Price, c.expPrice);
  EXPECT_DOUBLE_EQ(Cmd<TPluObject>(0)->Quantity, c.expQuantity);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, PluAmounts,
    ::testing::Values(AmountCase{"00123456", "00012345", 1234.56, 12.345, ""},
                      AmountCase{"99999999", "00001000", 999999.99, 1, ""},
                      AmountCase{"00000001", "09999999", 0.01, 9999.999, ""},
                      AmountCase{"0000x150", "00001000", 0, 0, "Invalid PLU price"},
                      AmountCase{"00000150", "0000x000", 0, 0, "Invalid PLU quntity."},
                      AmountCase{"00000150", "10000000", 0, 0, "Quntity is greater than \"9999.999\"."},
                      AmountCase{"00100000", "01000000", 0, 0, "PLU sum is greater than \"999999.99\"."}));

struct VatCase {
  char digit;
  bool fromOne;
  int32_t group;
};

class VatGroups : public ReaderFixture, public ::testing::WithParamInterface<VatCase> {};

TEST_P(VatGroups, BothFormsMapTheDigit) {
  const VatCase& c = GetParam();
  FReader.SetWatGrpBeginFromOne(c.fromOne);
  ASSERT_TRUE(Read({kPlu32 + c.digit, "%12^Water^150^1000^" + std::string(1, c.digit)})) << FReader.LastError();
  EXPECT_EQ(Cmd<TPluObject>(0)->VatGroup, c.group);
  EXPECT_EQ(Cmd<TPluObject>(1)->VatGroup, c.group);
}

INSTANTIATE_TEST_SUITE_P(Digits, VatGroups,
                         ::testing::Values(VatCase{'0', false, 1}, VatCase{'7', false, 8}, VatCase{'8', false, 2},
                                           VatCase{'x', false, 2}, VatCase{'0', true, 2}, VatCase{'1', true, 1},
                                           VatCase{'8', true, 8}, VatCase{'9', true, 2}, VatCase{'x', true, 1}));

struct PluDepartCase {
  std::string line;
  int32_t department;
  std::string error;
};

class PluAsDepartment : public ReaderFixture, public ::testing::WithParamInterface<PluDepartCase> {};

TEST_P(PluAsDepartment, TheNumberIsTheDepartment) {
  const PluDepartCase& c = GetParam();
  FReader.SetUsePluAsDepartNo(true);
  const bool ok = Read({c.line});
  ASSERT_EQ(ok, c.error.empty()) << FReader.LastError();
  if (ok)
    EXPECT_EQ(Cmd<TPluObject>(0)->Department, c.department);
  else
    EXPECT_EQ(FReader.LastError(), ReadError(c.error, c.line));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PluAsDepartment,
    ::testing::Values(PluDepartCase{kPlu32 + "3xx05", 12, ""},  // replaces the department field
                      PluDepartCase{" 099Water       0000015000001000", 99, ""},
                      PluDepartCase{"0100Water       0000015000001000", 0,
                                    "[FAddPlu]Invalid department nom.:100.  Valid numbers are between 1 to 100."},
                      PluDepartCase{"12  Water       0000015000001000", 0,
                                    "[FAddPlu]Invalid department nom.:-1.  Valid numbers are between 1 to 100."},
                      PluDepartCase{"%12^Water^150^1000", 12, ""},
                      PluDepartCase{"%40000^Water^150^1000", 0,
                                    "[FAddExtPlu]Invalid department nom.:-1.  Valid numbers are between 1 to 100."}));

struct ExtPluCase {
  std::string line;
  std::string number;
  double price, quantity;
  int32_t vat;
  std::string error;
};

class ExtPlu : public ReaderFixture, public ::testing::WithParamInterface<ExtPluCase> {};

TEST_P(ExtPlu, SeparatedForm) {
  const ExtPluCase& c = GetParam();
  const bool ok = Read({c.line});
  ASSERT_EQ(ok, c.error.empty()) << FReader.LastError();
  if (!ok) {
    EXPECT_EQ(FReader.LastError(), ReadError(c.error, c.line));
    return;
  }
  auto* plu = Cmd<TPluObject>(0);
  EXPECT_EQ(plu->Number, c.number);
  EXPECT_EQ(plu->Name, "Water");
  EXPECT_DOUBLE_EQ(plu->Price, c.price);
  EXPECT_DOUBLE_EQ(plu->Quantity, c.quantity);
  EXPECT_EQ(plu->VatGroup, c.vat);
  EXPECT_EQ(plu->Department, 1);
  EXPECT_TRUE(FReader.HasSales());
}

INSTANTIATE_TEST_SUITE_P(Lines, ExtPlu,
                         ::testing::Values(ExtPluCase{"%12^Water^150^1000", "12", 1.5, 1, 2, ""},
                                           ExtPluCase{"%12^Water^150.0^1500^3", "12", 1.5, 1.5, 4, ""},
                                           ExtPluCase{"%12^Water^150^1000^ 5", "12", 1.5, 1, 2,
                                                      ""},  // a blank counts as 1
                                           ExtPluCase{"%40000^Water^150^1000", "", 1.5, 1, 2, ""},
                                           ExtPluCase{"%0^Water^150^1000", "0", 1.5, 1, 2, ""},
                                           ExtPluCase{"% 7 ^Water^150^1000", " 7 ", 1.5, 1, 2, ""},
                                           ExtPluCase{"%x^Water^150^1000", "", 1.5, 1, 2, ""},
                                           ExtPluCase{"%12^Water^x^1000", "", 0, 0, 0, "[FAddExtPlu]Invalid PLU price"},
                                           ExtPluCase{"%12^Water^150", "", 0, 0, 0, "[FAddExtPlu]Invalid PLU quntity."},
                                           ExtPluCase{"%12^Water^100000000^1000", "", 0, 0, 0,
                                                      "[FAddExtPlu]Price is greater than \"999999.99\"."}));

struct DiscountCase {
  std::string line;
  int type;
  double value;
  std::string error;
};

class Discounts : public ReaderFixture, public ::testing::WithParamInterface<DiscountCase> {};

TEST_P(Discounts, TypeSignAndValue) {
  const DiscountCase& c = GetParam();
  const bool ok = Read({c.line});
  ASSERT_EQ(ok, c.error.empty()) << FReader.LastError();
  if (!ok) {
    EXPECT_EQ(FReader.LastError(), ReadError("[FAddDiscount]" + c.error, c.line));
    return;
  }
  EXPECT_EQ(Cmd<TDiscountObject>(0)->DiscType, c.type);
  EXPECT_DOUBLE_EQ(Cmd<TDiscountObject>(0)->Value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Discounts,
    ::testing::Values(DiscountCase{"#S-1000", 2, -10, ""}, DiscountCase{"#V-10000", 3, -100, ""},
                      DiscountCase{"#V+150000", 3, 1500, ""}, DiscountCase{"#S-5", 2, -0.05, ""},
                      DiscountCase{"#P+12.5", 1, 12.5, ""}, DiscountCase{"#p-1050", 1, -10.5, ""},
                      DiscountCase{"#S-9999", 2, -99.99, ""},
                      DiscountCase{"#S-10000", 0, 0, "Discount value is over range /-99.99% to 99.99%/ ."},
                      DiscountCase{"#P+100.5", 0, 0, "Discount value is over range /-99.99% to 99.99%/ ."},
                      DiscountCase{"#G-1000", 0, 0, "Invalid discount type"},
                      DiscountCase{"#P*10", 0, 0, "Invalid discount sign."},
                      DiscountCase{"#P", 0, 0, "Invalid discount sign."},
                      DiscountCase{"#P-", 0, 0, "Invalid discount value."},
                      DiscountCase{"#P-ab", 0, 0, "Invalid discount value."}));

struct PaymentCase {
  std::string line;
  int32_t type;
  double amount, course;
  std::string currency;
  std::string error;
};

class Payments : public ReaderFixture, public ::testing::WithParamInterface<PaymentCase> {};

TEST_P(Payments, WithAndWithoutSeparators) {
  const PaymentCase& c = GetParam();
  const bool ok = Read({c.line});
  ASSERT_EQ(ok, c.error.empty()) << FReader.LastError();
  if (!ok) {
    EXPECT_EQ(FReader.LastError(), ReadError("[FAddPayment]" + c.error, c.line));
    return;
  }
  auto* p = Cmd<TPaymentObject>(0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->PayType, c.type);
  EXPECT_DOUBLE_EQ(p->Amount, c.amount);
  EXPECT_DOUBLE_EQ(p->Course, c.course);
  EXPECT_EQ(p->Currency, c.currency);
  EXPECT_TRUE(FReader.HasPayments());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Payments,
    ::testing::Values(PaymentCase{"#E1150.00", 1, 150, 1, "EUR", ""}, PaymentCase{"#E2", 2, 0, 1, "EUR", ""},
                      PaymentCase{"#E1^150.00^1.95583^BGN", 1, 150, 1.95583, "BGN", ""},
                      PaymentCase{"#E1^150,50", 1, 150.5, 1, "EUR", ""},
                      PaymentCase{"#E1^10^1,5^USDX", 1, 10, 1.5, "USD", ""}, PaymentCase{"#e3^20", 3, 20, 1, "EUR", ""},
                      PaymentCase{"#\xC5"
                                  "3^20",
                                  3, 20, 1, "EUR", ""},
                      PaymentCase{"#\xE5"
                                  "4",
                                  4, 0, 1, "EUR", ""},
                      PaymentCase{"#E-1^5", -1, 5, 1, "EUR", ""},
                      PaymentCase{"#Ex^1", 0, 0, 0, "", "Pay type is not digit. 1"},
                      PaymentCase{"#E1^abc^2", 0, 0, 0, "", "Pay amount is not valid double value. 2"},
                      PaymentCase{"#E1^1^x^EUR", 0, 0, 0, "", "Cource is not valid double value. EUR"},
                      PaymentCase{"#E1^150.00^1.95583^BG", 0, 0, 0, "",
                                  "[CopyToPosAndDel]Possition is out of range.(BG, Possition: 3) BG"}));

TEST_F(ReaderFixture, InvoiceLines) {
  ASSERT_TRUE(Read({"#LD123456789", "#ln200", "#LM300", "#LR17", "#LX5", "#LD"})) << FReader.LastError();
  ASSERT_EQ(FReader.Commands().size(), 1u);
  TInvoiceObject* inv = FReader.FindInvoice();
  ASSERT_NE(inv, nullptr);
  EXPECT_EQ(inv->VatNumber, "123456789");  // the empty "#LD" leaves it
  EXPECT_EQ(inv->TaxNumber, "300");
  EXPECT_EQ(inv->InvoiceNo, 17);
  EXPECT_EQ(inv->RawLines, "\r#LD123456789\r#ln200\r#LM300\r#LR17\r#LX5\r#LD");
}

TEST_F(ReaderFixture, InvoiceLineFailuresAndTheBareL) {
  ASSERT_TRUE(Read({"#L"}));
  EXPECT_EQ(FReader.FindInvoice(), nullptr);
  ASSERT_FALSE(Read({"#LRx12"}));
  EXPECT_EQ(FReader.LastError(), ReadError("[FAddInvoice]Invoice nom is not integer value. x12", "#LRx12"));
  ASSERT_FALSE(Read({"#LR"}));
  EXPECT_EQ(FReader.LastError(), ReadError("[FAddInvoice]Invoice nom is not integer value. ", "#LR"));
}

TEST_F(ReaderFixture, InvoiceHeaderFillsFiveFieldsInOrder) {
  ASSERT_TRUE(Read({"#F", kPlu32, ":ACME", ":Sofia", "::Street 1", "@010012Ivan", ":Ivanov", ":Petrov", ":sixth"}))
      << FReader.LastError();
  TInvoiceObject* inv = FReader.FindInvoice();
  ASSERT_NE(inv, nullptr);
  EXPECT_EQ(inv->FirmName, "ACME");
  EXPECT_EQ(inv->Town, "Sofia");
  EXPECT_EQ(inv->Address, "Street 1");
  EXPECT_EQ(inv->Mol, "Ivanov");
  EXPECT_EQ(inv->Customer, "Petrov");
  EXPECT_EQ(inv->InvoiceNo, 0);
  EXPECT_EQ(inv->RawLines, "\r:ACME\r:Sofia\r:Street 1\r:Ivanov\r:Petrov");
  EXPECT_EQ(FReader.TextLineCount(), 1);
  EXPECT_EQ(Cmd<TLineObject>(2)->Text, "sixth");
}

TEST_F(ReaderFixture, InvoiceHeaderFieldsAreCutTo255) {
  ASSERT_TRUE(Read({"#F", ":" + std::string(300, 'A')}));
  EXPECT_EQ(FReader.FindInvoice()->FirmName, std::string(255, 'A'));
  ASSERT_TRUE(Read({"#F", kPlu32}));
  EXPECT_EQ(FReader.FindInvoice(), nullptr);
}

TEST_F(ReaderFixture, InvoiceBlockFieldsByPosition) {
  std::vector<std::string> lines = {"#F12", "#:note", "#:receiver", "#:firm", "#:street", "#:tax", "#:vat"};
  for (int i = 6; i < 12; ++i) lines.push_back("#:t" + std::to_string(i));
  lines.push_back("#F13");  // the block does not open again after ten lines
  lines.push_back("#:after");
  ASSERT_TRUE(Read(lines)) << FReader.LastError();
  TInvoiceObject* inv = FReader.FindInvoice();
  ASSERT_NE(inv, nullptr);
  EXPECT_EQ(inv->InvoiceNo, 13);
  EXPECT_EQ(inv->Customer, "receiver");
  EXPECT_EQ(inv->FirmName, "firm");
  EXPECT_EQ(inv->Address, "street");
  EXPECT_EQ(inv->TaxNumber, "tax");
  EXPECT_EQ(inv->VatNumber, "vat");
  EXPECT_EQ(inv->Town, "");
  EXPECT_EQ(inv->RawLines, "\r#LR12\r:receiver\r:firm\r:street\r#LNtax\r#LDvat\r#LR13");
  std::vector<std::string> texts;
  for (const auto& c : FReader.Commands())
    if (auto* l = std::get_if<TLineObject>(&c)) texts.push_back(l->Text);
  EXPECT_EQ(texts, (std::vector<std::string>{"note", "t6", "t7", "t8", "t9", ":t10", ":t11", ":after"}));
  EXPECT_EQ(FReader.TextLineCount(), 3);  // only the lines after the block
}

TEST_F(ReaderFixture, TextLines) {
  ASSERT_TRUE(Read({":Hello", "#:outside", ":"}));
  EXPECT_EQ(Cmd<TLineObject>(0)->Text, "Hello");
  EXPECT_EQ(Cmd<TLineObject>(1)->Text, ":outside");
  EXPECT_EQ(Cmd<TLineObject>(1)->RawLine, "#:outside");
  EXPECT_EQ(FReader.Commands().size(), 2u);
  EXPECT_EQ(FReader.TextLineCount(), 2);
}

TEST_F(ReaderFixture, Reports) {
  ASSERT_TRUE(Read({"$FI", "$fn", "$FX"}));
  EXPECT_FALSE(FReader.IsReportFile());
  ASSERT_EQ(FReader.Commands().size(), 2u);
  EXPECT_EQ(Cmd<TReportObject>(0)->ReportType, 0);
  EXPECT_EQ(Cmd<TReportObject>(1)->ReportType, 1);

  ASSERT_TRUE(Read({"#I", "#n", "#M", "#M1010124", "#M0010124311224", "#M0300224", "#M0010100"}));
  EXPECT_TRUE(FReader.IsReportFile());
  const DATE now = DateTimeToOle(Now());
  const DATE monthStart = Ole(2025, 3, 1);
  struct Expect {
    int type, detailed;
    DATE start, end;
  } expected[] = {{0, 0, 0, 0},
                  {1, 0, 0, 0},
                  {2, 1, monthStart, now},
                  {2, 0, Ole(24, 1, 1), now},
                  {2, 1, Ole(24, 1, 1), Ole(24, 12, 31)},
                  {2, 1, monthStart, now},   // 30 February
                  {2, 1, monthStart, now}};  // year 00
  ASSERT_EQ(FReader.Commands().size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    auto* r = Cmd<TReportObject>(i);
    EXPECT_EQ(r->ReportType, expected[i].type);
    if (r->ReportType != 2) continue;
    EXPECT_EQ(r->Detailed, expected[i].detailed);
    EXPECT_DOUBLE_EQ(r->StartDate, expected[i].start);
    EXPECT_DOUBLE_EQ(r->EndDate, expected[i].end);
  }
}

TEST(ParseShortDate, YearNumberIsTheYearItself) {
  struct {
    std::string text;
    DATE result;
    std::string rest;
  } cases[] = {{"010124rest", Ole(24, 1, 1), "rest"},
               {"290224", Ole(24, 2, 29), ""},
               {"290223", -1, ""},
               {"311324", -1, ""},
               {"000124", -1, ""},
               {"010100", -1, ""},
               {"0101", -1, ""},
               {"", -1, ""},
               {"x10124", -1, ""},
               {"311299", Ole(99, 12, 31), ""}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string text = c.text;
    EXPECT_DOUBLE_EQ(ParseShortDate(text, -1), c.result);
    EXPECT_EQ(text, c.rest);
  }
}

TEST_F(ReaderFixture, Operators) {
  FReader.SetCashierPas(" 1234 ");
  ASSERT_TRUE(Read({"#OIvanov Petrov"}));
  EXPECT_EQ(FReader.CashierName(), "Ivanov P");
  EXPECT_EQ(FReader.OperatorLine(), "#OIvanov Petrov");
  EXPECT_EQ(FReader.CashierPass(), "1234");
  EXPECT_TRUE(FReader.Commands().empty());

  struct {
    std::string line;
    int32_t no, pos;
    std::string name;
  } cases[] = {{"@010012Ivan", 1, 12, "Ivan"},
               {"@050003", 5, 3, ""},
               {"@xx0012Ivan", 1, 12, "Ivan"},
               {"@-500x1Ivan", 1, 0, "Ivan"}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_TRUE(Read({"#OOther", c.line}));
    EXPECT_EQ(FReader.CashierNo(), c.no);
    EXPECT_EQ(FReader.CashierPOS(), c.pos);
    EXPECT_EQ(FReader.CashierName(), c.name);
    EXPECT_EQ(FReader.OperatorLine(), c.line);
  }
  ASSERT_FALSE(Read({"@01001"}));
  EXPECT_EQ(FReader.LastError(),
            ReadError("[FAddOperator][CopyToPosAndDel]Possition is out of range.(001, Possition: 4)", "@01001"));
  // The next file starts from the defaults again.
  ASSERT_TRUE(Read({":x"}));
  EXPECT_EQ(FReader.CashierNo(), 1);
  EXPECT_EQ(FReader.CashierPOS(), 1);
  EXPECT_EQ(FReader.CashierName(), "");
}

TEST_F(ReaderFixture, RefundData) {
  struct {
    std::string line;
    int32_t reason, receipt, fm;
    std::string invoice, date, error;
  } cases[] = {{"#Q1", 1, 1, 1, "", "", ""},
               {"#Q1,0", 1, 0, 1, "", "", ""},
               {"#Q2,15,3, 0000000042 ,01.02.2025", 2, 15, 3, "0000000042", "01.02.2025", ""},
               {"#Q3, 5 ,x", 3, 1, 1, "", "", ""},  // a trailing blank makes a number unreadable
               {"#Q4", 0, 0, 0, "", "", "Refund type is invalid."},
               {"#Qx", 0, 0, 0, "", "", "Refund type is invalid."},
               {"#Q1,-1", 0, 0, 0, "", "", "Reciept nom is invalid."},
               {"#Q1,5,-2", 0, 0, 0, "", "", "Fiscal module nom is invalid."}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.line);
    const bool ok = Read({c.line});
    ASSERT_EQ(ok, c.error.empty());
    if (!ok) {
      EXPECT_EQ(FReader.LastError(), ReadError("[AddRefundParam]" + c.error, c.line));
      continue;
    }
    EXPECT_EQ(FReader.RefundParam().Reason, c.reason);
    EXPECT_EQ(FReader.RefundParam().ReceiptNo, c.receipt);
    EXPECT_EQ(FReader.RefundParam().FiscalMemoryNo, c.fm);
    EXPECT_EQ(FReader.RefundParam().InvoiceNo, c.invoice);
    EXPECT_EQ(FReader.RefundParam().InvoiceDate, c.date);
  }
  ASSERT_TRUE(Read({":x"}));
  EXPECT_EQ(FReader.RefundParam().ReceiptNo, 0);
  EXPECT_EQ(FReader.RefundParam().Reason, 1);
}

TEST_F(ReaderFixture, CashUniqueSaleNumberAndCopies) {
  ASSERT_TRUE(Read({"#R5000", "#R-12,50", "#U123-456", "#C", "$FC", "$fc", "C", "c12345", "$XYZ"}));
  EXPECT_DOUBLE_EQ(Cmd<TInOutAmount>(0)->Amount, 5000);
  EXPECT_DOUBLE_EQ(Cmd<TInOutAmount>(1)->Amount, -12.5);
  EXPECT_EQ(FReader.UniqueSellNo(), "123-456");
  ASSERT_EQ(FReader.Commands().size(), 6u);
  for (size_t i = 2; i < 6; ++i) EXPECT_NE(Cmd<TCopyBon>(i), nullptr) << i;
  ASSERT_TRUE(Read({"#U1", "#U"}));
  EXPECT_EQ(FReader.UniqueSellNo(), "");
  ASSERT_FALSE(Read({"#Rabc"}));
  EXPECT_EQ(FReader.LastError(), ReadError("[FAddInOutAmount]Amount is not valid double value.", "#Rabc"));
}

TEST_F(ReaderFixture, StatusQueryRules) {
  ASSERT_TRUE(Read({"@010012Ivan", "&S", "#G-1000 is never read"}));
  EXPECT_TRUE(FReader.IsStatusFile());
  ASSERT_EQ(FReader.Commands().size(), 1u);
  EXPECT_NE(Cmd<TStatusObject>(0), nullptr);

  ASSERT_TRUE(Read({"&s"}));
  EXPECT_TRUE(FReader.IsStatusFile());

  // A rejected status query still gets its answer file; the failure is in it only with
  // report files on.
  const std::string failure = "[FAddStatusCmd]Satus must be the only command in a file";
  for (bool repFiles : {false, true}) {
    SCOPED_TRACE(repFiles);
    FReader.SetRepFilePrint(repFiles);
    ASSERT_FALSE(Read({":text", "&S"}));
    EXPECT_TRUE(FReader.IsStatusFile());
    EXPECT_EQ(FReader.LastError(), ReadError(failure, "&S"));
    FReader.SaveRepFile();
    EXPECT_EQ(FileBytes(QStringLiteral("0001.rep")), repFiles ? "[ERROR]" + failure + "\r\n" : "");
  }

  ASSERT_TRUE(Read({":text"}));
  EXPECT_FALSE(FReader.IsStatusFile());
}

TEST_F(ReaderFixture, FileLevelFailures) {
  FReader.SetRepFilePrint(true);
  struct {
    std::string bytes, error, row;
  } cases[] = {{std::string("\0:abc\r\n", 7), "No lines in file", ""},
               {"", "No lines in file", ""},
               {":ok\r\n#A1\r\n", "Not supported command.", "#A1"},
               {"#b\r\n", "Not supported command.", "#b"},
               {"&X\r\n", "Not supported command.", "&X"}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.error + c.row);
    WriteBytes(QStringLiteral("0002.bon"), c.bytes);
    ASSERT_FALSE(FReader.ReadFile(PathOf(QStringLiteral("0002.bon")), 0));
    EXPECT_EQ(FReader.LastError(), ReadError(c.error, c.row));
    EXPECT_EQ(FReader.RepFileName(), PathOf(QStringLiteral("0002.rep")));
    EXPECT_EQ(FReader.RepLines(), std::vector<std::string>{"[ERROR]" + c.error});
  }
  ASSERT_FALSE(FReader.ReadFile(PathOf(QStringLiteral("missing.$$$")), 0));
  EXPECT_EQ(FReader.LastError(), ReadError("No such file or directory", ""));
}

TEST_F(ReaderFixture, LinesAreTrimmedSplitAndSkipped) {
  // CR, LF and CR LF end lines; trailing blanks and control characters go; short lines are
  // skipped; the text ends at a NUL byte.
  static const char bytes[] = ":one  \t\r:two\n\nC\r\n#\r\n:three\r\n\0:four";
  WriteBytes(QStringLiteral("0003.bon"), std::string(bytes, sizeof bytes - 1));
  ASSERT_TRUE(FReader.ReadFile(PathOf(QStringLiteral("0003.bon")), 0)) << FReader.LastError();
  ASSERT_EQ(FReader.Commands().size(), 3u);
  EXPECT_EQ(Cmd<TLineObject>(0)->Text, "one");
  EXPECT_EQ(Cmd<TLineObject>(1)->Text, "two");
  EXPECT_EQ(Cmd<TLineObject>(2)->Text, "three");
  EXPECT_EQ(FReader.CurrentFile(), PathOf(QStringLiteral("0003.bon")));
}

TEST_F(ReaderFixture, LinesAreConvertedBeforeTheyAreRead) {
  // Code page 855: 0xA1 is the capital A, 0xA0 the small a, 0xA9 the capital Ye, which makes
  // a payment line once converted; code page 866: 0x80 is the capital A.
  ASSERT_TRUE(Read({":\xA1\xA0",
                    "#\xA9"
                    "1^5"},
                   EncodingCP855))
      << FReader.LastError();
  EXPECT_EQ(Cmd<TLineObject>(0)->Text, "\xC0\xE0");
  ASSERT_NE(Cmd<TPaymentObject>(1), nullptr);
  EXPECT_DOUBLE_EQ(Cmd<TPaymentObject>(1)->Amount, 5);
  ASSERT_TRUE(Read({":\x80"}, EncodingOEM));
  EXPECT_EQ(Cmd<TLineObject>(0)->Text, "\xC0");
}

TEST(ReaderHelpers, StringAndNumberRules) {
  std::string s = "abcdef";
  EXPECT_EQ(CopyToPosAndDel(s, 2), "ab");
  EXPECT_EQ(s, "cdef");
  EXPECT_EQ(CopyToCharAndDel(s, 'd'), "c");
  EXPECT_EQ(s, "ef");
  EXPECT_EQ(CopyToCharAndDel(s, 'x'), "ef");
  EXPECT_EQ(s, "");
  EXPECT_EQ(NormalizeDecimalSeparator("1,5,0"), "1.5.0");

  struct {
    std::string text;
    bool ok;
    int32_t value;
  } ints[] = {{"12", true, 12},
              {"  -7", true, -7},
              {"+3", true, 3},
              {"12 ", false, 0},
              {"", false, 0},
              {"1.0", false, 0},
              {"2147483647", true, 2147483647},
              {"2147483648", false, 0},
              {"-2147483648", true, INT32_MIN},
              {"-", false, 0}};
  for (auto& c : ints) {
    int32_t v = 0;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  struct {
    std::string text;
    bool ok;
    double value;
  } floats[] = {{" 1.5 ", true, 1.5}, {"150", true, 150}, {".5", true, 0.5},  {"-2.", true, -2}, {"1e2", true, 100},
                {"1,5", false, 0},    {".", false, 0},    {"1.5x", false, 0}, {"", false, 0}};
  for (auto& c : floats) {
    double v = 0;
    EXPECT_EQ(TryStrToFloat(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_DOUBLE_EQ(v, c.value) << c.text;
    }
  }
}

TEST(ReaderHelpers, FixedFormats) {
  EXPECT_EQ(FormatFixed(12.5, 7, 2), "0000012.50");
  EXPECT_EQ(FormatFixed(1.005, 1, 2), "1.01");
  EXPECT_EQ(FormatFixed(-0.125, 1, 2), "-0.13");
  EXPECT_EQ(FormatFixed(0.1 + 0.2 - 0.3, 1, 2), "0.00");
  EXPECT_EQ(FormatFixed(-0.001, 1, 2), "0.00");
  EXPECT_EQ(FormatFixed(999999.995, 1, 2), "1000000.00");
  EXPECT_EQ(FormatFixed(0.004, 6, 2), "000000.00");
  EXPECT_EQ(RoundCents(0.1 + 0.2 - 0.3), 0);
  EXPECT_EQ(RoundCents(1.005), 101);
  EXPECT_EQ(UpperCp1251("Water \xE2\xEE\xE4\xE0 \xB8"), "WATER \xC2\xCE\xC4\xC0 \xA8");
  EXPECT_EQ(FormatClock(Ole(2026, 12, 8) + (22 * 3600 + 53 * 60 + 12) / 86400.0), "08122026225312");
}

TEST(ReaderHelpers, UpperCaseOfEveryCp1251Letter) {
  // Each byte against the Unicode upper case of its character, where that has a byte of
  // its own (the Latin and Cyrillic letters); every other byte stays.
  for (int b = 0; b < 256; ++b) {
    const std::string c(1, static_cast<char>(b));
    const std::u16string wide = Cp1251ToWide(c);
    const std::string upper = WideToCp1251(QString::fromStdU16String(wide).toUpper().toStdU16String());
    const bool mapped = upper.size() == 1 && Cp1251ToWide(upper) != u"?";
    EXPECT_EQ(UpperCp1251(c), mapped ? upper : c) << "byte " << b;
  }
}

}  // namespace
}  // namespace fp::test
