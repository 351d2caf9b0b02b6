#include "library/automation/MiravokFprnSales.h"

#include <cmath>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "library/automation/ConstUnit.h"
#include "tests/support/FakeDevice.h"
#include "library/automation/FprnModelTestSupport.h"
#include "library/automation/MiravokFprnUnit.h"
#include "platform/Cp1251.h"
#include "platform/com/ComPtr.h"

namespace fp::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// ---------------------------------------------------------------------------------------
// Pure helpers

TEST(RoundAmount, HalvesAwayFromZeroOnTheDecimalText) {
  struct {
    double In, Out;
  } cases[] = {
      {2.345, 2.35},
      {-2.345, -2.35},
      {1.005, 1.01},
      {0.000004, 0},
      {7, 7},
      {2.3449, 2.34},
      {2.675, 2.68},
      {-2.675, -2.68},
      {2.344, 2.34},
      {0.00001, 0},
      {0.005, 0.01},
      {-0.004, 0},
      {4.35 * 3, 13.05},  // held as 13.049999999999999: the printer's amount is 13.05
      {0.469 * 5, 2.35},  // held as 2.3449999999999998
      {1.15 * 0.3, 0.35},
      {19.99 / 100 * -10 - 0.001, -2},
      {123456.785, 123456.79},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RoundAmount(c.In), c.Out) << c.In;
    EXPECT_FALSE(std::signbit(RoundAmount(c.In)) && c.Out == 0) << "no negative zero for " << c.In;
  }
}

TEST(RoundAmount, RefusesValuesThatAreNoNumbers) {
  EXPECT_THROW(RoundAmount(std::nan("")), ECmdException);
  EXPECT_THROW(RoundAmount(INFINITY), ECmdException);
}

TEST(NumberTexts, FixedPatterns) {
  struct {
    std::string Got, Want;
  } cases[] = {
      {QuantityText(2), "2.000"},
      {QuantityText(-1), "-1.000"},
      {QuantityText(0.0005), "0.001"},
      {QuantityText(1.2345), "1.235"},
      {AmountText(2.5), "2.50"},
      {AmountText(2.675), "2.68"},
      {AmountText(-0.001), "0.00"},
      {AmountText(0.5), "0.50"},
      {AmountText(1234567.891), "1234567.89"},
      {PercentText(5), "05.00%  "},
      {PercentText(-10), "-10.00%  "},
      {PercentText(0.5), "00.50%  "},
      {PercentText(-0.5), "-00.50%  "},
      {PercentText(150), "150.00%  "},
      {PercentText(0), "00.00%  "},
      {DecimalComma("1.5 x 2.000"), "1,5 x 2,000"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Got, c.Want);
}

TEST(JustifyLine, PadsAfterTheLeftTextAndNeverCuts) {
  EXPECT_EQ(JustifyLine("12", "2,000 x 2,50", 29), "12               2,000 x 2,50");
  EXPECT_EQ(JustifyLine("12", "2,000 x 2,50", 29).size(), 29u);
  EXPECT_EQ(JustifyLine("A long article name", "1 234,00 \xC0", 20), "A long article name 1 234,00 \xC0");
  EXPECT_EQ(JustifyLine("", "3,00", 8), "    3,00");
  EXPECT_EQ(JustifyLine("A", "B", 0), "A B");
}

TEST(WrapText, Rules) {
  const std::string w20a(20, 'a'), w20b(20, 'b'), w20c(20, 'c');
  struct {
    const char* Name;
    std::string Text;
    int Width;
    std::string Want;
  } cases[] = {
      {"three words", w20a + " " + w20b + " " + w20c, 29, w20a + " \r\n" + w20b + " \r\n" + w20c},
      {"short text stays", "Thank you", 29, "Thank you"},
      {"word longer than the line is not cut", std::string(40, 'x'), 29, std::string(40, 'x')},
      {"long word keeps its break character", std::string(40, 'x') + " yz", 29, std::string(40, 'x') + " \r\nyz"},
      {"word of exactly the width keeps its blank", "abcde fgh", 5, "abcde \r\nfgh"},
      {"breaks after , - and .", "ab,cd-ef.gh", 3, "ab,\r\ncd-\r\nef.\r\ngh"},
      {"next line keeps further blanks", "abc  def", 4, "abc \r\n def"},
      {"a line of blanks", "abc   def", 4, "abc \r\n  \r\ndef"},
      {"a first character does not count as a break", " abcdef", 3, " abcdef"},
      {"no break inside quotes", "'a b c d' e", 3, "'a b c d' \r\ne"},
      {"break before a quoted stretch", "ab 'cdef gh'", 4, "ab \r\n'cdef gh'"},
      {"a quote without partner keeps the rest", "it's a very long text", 5, "it's a very long text"},
      {"double quotes too", "\"a b c\" d e", 3, "\"a b c\" \r\nd \r\ne"},
      {"other kind inside quotes", "\"it's\" a b", 4, "\"it's\" \r\na b"},
      {"existing CR LF ends a line", "ab cd\r\nef gh ij", 6, "ab cd\r\nef gh \r\nij"},
      {"CR LF inside quotes is no line end", "'a\r\nb' cd", 3, "'a\r\nb' \r\ncd"},
      {"CR LF at the end", "ab\r\n", 29, "ab\r\n"},
      {"empty text", "", 29, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(WrapText(c.Text, c.Width), c.Want) << c.Name;
}

TEST(ApplyPrintAttribute, OnlyKnownCommandsOnExtendedPrinters) {
  struct {
    const char* Command;
    bool Extended;
    std::string Want;
  } cases[] = {
      {"BOLD", true, "^#5;Hi^#2;"},    {" bold ", true, "^#5;Hi^#2;"},
      {"DbWidth", true, "^#3;Hi^#2;"}, {"DBSTRIKE", true, "^#4;Hi^#2;"},
      {"ITALIC", true, "Hi"},          {"", true, "Hi"},
      {"BOLD", false, "Hi"},           {"\xE1OLD", true, "Hi"},
  };
  for (const auto& c : cases) EXPECT_EQ(ApplyPrintAttribute("Hi", c.Command, c.Extended), c.Want) << c.Command;
}

TEST(Letters, VatAndPayment) {
  EXPECT_EQ(VatGroupLetter(1), '\xC0');
  EXPECT_EQ(VatGroupLetter(8), '\xC7');
  EXPECT_EQ(VatGroupLetter(2 + 256), '\xC1');  // only the low byte counts
  const std::string want = "PPNCDIJKLMQR";
  for (int t = 0; t <= 11; ++t) EXPECT_EQ(PaymentLetter(t), want[t]) << t;
  for (int t : {12, -1}) {
    try {
      PaymentLetter(t);
      ADD_FAILURE() << t;
    } catch (const EAbort& e) {
      EXPECT_EQ(std::string(e.what()), "Invalid pay type nom: " + std::to_string(t) + ".");
    }
  }
}

TEST(NonFiscalLayout, PaymentsCompareInWholeCents) {
  const TNonFiscalLayout l{1, 29};
  // Paid 0.1 + 0.2 (held as 0.30000000000000004) on a total of 0.30: no change.
  EXPECT_FALSE(l.ChangeLine(0.1 + 0.2, 0.3).has_value());
  EXPECT_EQ(l.ChangeLine(20, 10).value(), "CHANGE                  10,00");
  // A paid sum that is zero but for binary noise still counts as no payment yet.
  EXPECT_EQ(l.PaymentLines(1, 1, 0.3, 0.1 + 0.2 - 0.3).size(), 5u);
  EXPECT_EQ(l.PaymentLines(1, 1, 0.3, 0.01).size(), 2u);
}

TEST(NonFiscalLayout, WordsFollowTheLocale) {
  const TNonFiscalLayout bg{0, 20}, en3{3, 20};
  EXPECT_EQ(bg.RefundLine(-5), "\xC2\xDA\xD0\xCD\xC0\xD2\xC8        -5.00");
  EXPECT_EQ(en3.ChangeLine(5, 2).value(), "CHANGE:         3,00");
}

TEST(NonFiscalLayout, DiscountOfTheSubtotalNudgesHalvesOutward) {
  const TNonFiscalLayout l{1, 29};
  double amount = 0;
  auto lines = l.DiscountLines(2, -10, 0, 0, 19.99, '\xC0', amount);
  EXPECT_EQ(amount, -2.0);
  EXPECT_THAT(lines, ElementsAre("SUBSUM                  19,99", "DISCOUNT -10,00%      -2,00 \xC0"));
  EXPECT_THROW(l.DiscountLines(4, 1, 0, 0, 0, '\xC0', amount), EAbort);
}

// ---------------------------------------------------------------------------------------
// The methods on the object, with a scripted device.

constexpr uint8_t kNonFiscText = 0x2A, kFiscText = 0x36, kSale = 0x31, kSaleProgPlu = 0x3A, kSubTotal = 0x33,
                  kPayment = 0x35, kDepartment = 0x57, kDepartmentSum = 0x58, kPluData = 0x6B, kBarcode = 0x54,
                  kDiscountLast = 0x91;

// A device that answers every command: first from the replies scripted for that command,
// else with a plain answer and the status of an open fiscal receipt.
class TAutoDevice : public TFakeDevice {
 public:
  std::map<uint8_t, std::deque<TReply>> Next;

  bool SendCommand(uint8_t Cmd, TDataBuffer& Data, uint8_t Retries, TDataBuffer& Status) override {
    auto& queue = Next[Cmd];
    if (!queue.empty()) {
      Push(queue.front());
      queue.pop_front();
    } else {
      Push(Answer(DefaultAnswer(Cmd), {0x80, 0x80, 0x88, 0x80, 0x80, 0x80}));
    }
    return TFakeDevice::SendCommand(Cmd, Data, Retries, Status);
  }

  std::vector<uint8_t> Commands() const {
    std::vector<uint8_t> out;
    for (const auto& c : Calls) out.push_back(c.Cmd);
    return out;
  }
  // The data of every call with Cmd, as text.
  std::vector<std::string> Sent(uint8_t Cmd) const {
    std::vector<std::string> out;
    for (const auto& c : Calls)
      if (c.Cmd == Cmd) out.emplace_back(c.Data.begin(), c.Data.end());
    return out;
  }

 private:
  static std::string DefaultAnswer(uint8_t Cmd) {
    switch (Cmd) {
      case kPayment: return "D";
      case kSubTotal: return "1000,0,0,0,0,0,0,0,0";
      default: return "";
    }
  }
};

using test::TFprnProbe;

BStr W(const std::string& Cp1251) { return BStr(Cp1251ToWide(Cp1251)); }

std::string ReadAll(const fs::path& Dir) {
  std::string out;
  for (const auto& e : fs::directory_iterator(Dir)) {
    std::ifstream in(e.path(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    out += s.str();
  }
  return out;
}

class SalesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FObj = TFprnProbe::Create(Module);
    auto d = std::make_unique<TAutoDevice>();
    FDev = d.get();
    FObj->AttachDeviceForTest(std::move(d));
    FObj->FLineLength = 29;
    FObj->FLocale = 1;
  }
  void TearDown() override {
    FObj->Release();
    if (!FLogDir.empty()) {
      ResetLogToFile();
      SetLogToFileBaseName("");
      fs::remove_all(FLogDir);
    }
  }

  void StartLog() {
    char templ[] = "/tmp/fp_sales_XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    FLogDir = templ;
    ResetLogToFile();
    SetLogToFileBaseName("MiravokFPAxX4_BG.so");
    ASSERT_EQ(FObj->put_LogFilePath(BStr(Utf8ToWide(FLogDir)).Get()), S_OK);
  }

  LONG Code() {
    LONG c = -99;
    FObj->get_LastErrorCode(&c);
    return c;
  }
  std::string Message() {
    BStr m;
    FObj->get_LastErrorMessage(m.Out());
    return BstrToAnsi(m.Get());
  }

  LONG AddPLU(const std::string& Numb, const std::string& Name, double Price, double Quantity, LONG Vat) {
    LONG res = 7;
    EXPECT_EQ(FObj->AddPLU(W(Numb).Get(), W(Name).Get(), Price, Quantity, Vat, &res), S_OK);
    return res;
  }
  LONG AddDeprtPlu(const std::string& Name, LONG Dep, double Price, double Quantity, LONG Vat) {
    LONG res = 7;
    EXPECT_EQ(FObj->AddDeprtPlu(W("3").Get(), W(Name).Get(), Dep, Price, Quantity, Vat, &res), S_OK);
    return res;
  }
  LONG AddProgPlu(LONG Numb, double Quantity, double Price, LONG Vat) {
    LONG res = 7;
    EXPECT_EQ(FObj->AddProgPlu(Numb, 1, Quantity, Price, Vat, &res), S_OK);
    return res;
  }
  LONG AddLine(const std::string& Line, const std::string& Command, LONG WordWrap) {
    LONG res = 7;
    EXPECT_EQ(FObj->AddLine(W(Line).Get(), W(Command).Get(), WordWrap, &res), S_OK);
    return res;
  }
  LONG AddDiscount(LONG Type, double Value) {
    LONG res = 7;
    EXPECT_EQ(FObj->AddDiscount(Type, Value, &res), S_OK);
    return res;
  }
  LONG AddPayment(LONG Number, double Amount, double Course = 1) {
    LONG res = 7;
    EXPECT_EQ(FObj->AddPayment(Number, W("").Get(), Amount, Course, &res), S_OK);
    return res;
  }
  LONG AddPaymentByCurrncy(LONG Number, double Amount, double Course, const std::string& Currency) {
    LONG res = 7;
    EXPECT_EQ(FObj->AddPaymentByCurrncy(Number, W("").Get(), Amount, Course, W(Currency).Get(), &res), S_OK);
    return res;
  }
  LONG AddBarcode(const std::string& Data, LONG Type, LONG Height, LONG Hri) {
    LONG res = 7;
    EXPECT_EQ(FObj->AddBarcode(W(Data).Get(), Type, Height, Hri, &res), S_OK);
    return res;
  }

  // A department definition answer: number, VAT letter, name.
  void DepartmentAnswer(const std::string& Letter, const std::string& Name) {
    FDev->Next[kDepartment].push_back(
        TFakeDevice::Answer("1," + Letter + "," + Name, {0x80, 0x80, 0x88, 0x80, 0x80, 0x80}));
  }

  static inline TComModule Module;
  TFprnProbe* FObj = nullptr;
  TAutoDevice* FDev = nullptr;
  std::string FLogDir;
};

TEST_F(SalesTest, NonFiscalReceiptLayout) {
  FObj->OpenReceipt(1, true);
  EXPECT_EQ(AddPLU("12", "Bread", 2.5, 2, 2), 0);
  EXPECT_EQ(AddDiscount(1, -10), 0);
  EXPECT_EQ(AddPLU("7", "Milk", 1.2, -1, 2), 0);
  EXPECT_EQ(AddDiscount(2, 5), 0);
  EXPECT_EQ(AddDiscount(3, -0.47), 0);
  EXPECT_EQ(AddPayment(1, 2), 0);
  EXPECT_EQ(AddPayment(2, 5), 0);

  const std::vector<std::string> golden = {
      "12               2,000 x 2,50",
      "Bread                  5,00 \xC1",
      "DISCOUNT  -10.00%     -0,50 \xC1",
      "7               -1,000 x 1,20",
      "Milk                  -1,20 \xC1",
      "REFUND                  -1.20",
      "SUBSUM                   3,30",
      "SERVICE CHARGE 05,00%   0,17 \xC1",
      "DISCOUNT              -0,47 \xC1",
      "----------------------------",
      "TOTAL                    3,00",
      "----------------------------",
      "Paid P",
      "Cash                     2,00",
      "Paid N",
      "Credit                   5,00",
      "CHANGE                   4,00",
  };
  EXPECT_THAT(FDev->Sent(kNonFiscText), ElementsAreArray(golden));
  EXPECT_THAT(FDev->Sent(kFiscText), IsEmpty());
  EXPECT_EQ(FDev->Calls.size(), golden.size());
  EXPECT_DOUBLE_EQ(FObj->FReceiptTotal, 3.0);
  EXPECT_DOUBLE_EQ(FObj->FPaidTotal, 7.0);
}

TEST_F(SalesTest, NonFiscalPaymentWithoutChangeByDoubleNoise) {
  FObj->OpenReceipt(1);
  AddPLU("1", "Tea", 0.3, 1, 1);
  AddPayment(1, 0.1);
  AddPayment(1, 0.2);
  const auto lines = FDev->Sent(kNonFiscText);
  ASSERT_EQ(lines.size(), 1u + 3 + 2 + 2);
  EXPECT_EQ(lines[2], "TOTAL                    0,30");
  EXPECT_EQ(lines.back(), "Cash                     0,20");
}

TEST_F(SalesTest, SignRulesAndLinesPerReceiptType) {
  // A sale with price 3 and quantity -2 of each kind, in each receipt type.
  struct {
    int32_t BonType;
    std::vector<uint8_t> Plu, Deprt, Prog;
  } cases[] = {
      {0, {}, {kDepartment}, {kPluData}},
      {1,
       {kNonFiscText, kNonFiscText},
       {kDepartment, kNonFiscText, kNonFiscText},
       {kPluData, kNonFiscText, kNonFiscText}},
      {2, {kSale}, {kDepartment, kSale}, {kPluData, kSaleProgPlu}},
      {3, {kFiscText, kSale}, {kDepartment, kFiscText, kSale}, {kPluData, kFiscText, kSaleProgPlu}},
      {4, {kFiscText, kSale}, {kDepartment, kFiscText, kSale}, {kPluData, kFiscText, kSaleProgPlu}},
      {5, {kSale}, {kDepartment, kSale}, {kPluData, kSaleProgPlu}},
      {6, {kSale}, {kDepartment, kFiscText, kSale}, {kPluData, kFiscText, kSaleProgPlu}},
      {9, {}, {kDepartment}, {kPluData}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.BonType);
    FObj->OpenReceipt(c.BonType);

    FDev->Calls.clear();
    EXPECT_EQ(AddPLU("1", "A", 3, -2, 1), 0);
    EXPECT_EQ(FDev->Commands(), c.Plu);
    if (c.BonType >= 2 && c.BonType <= 6) {
      EXPECT_THAT(FDev->Sent(kSale), ElementsAre("1\nA\t\xC0-3.00*2.000"));
    }
    if (c.BonType == 3 || c.BonType == 4) {
      EXPECT_THAT(FDev->Sent(kFiscText), ElementsAre(" "));
    }

    FDev->Calls.clear();
    DepartmentAnswer("\xC0", "A");
    EXPECT_EQ(AddDeprtPlu("A", 1, 3, -2, 1), 0);
    EXPECT_EQ(FDev->Commands(), c.Deprt);
    // By department the signs go to the printer as given.
    if (c.BonType >= 2 && c.BonType <= 6) {
      EXPECT_THAT(FDev->Sent(kSale), ElementsAre("3\nA\t1\t3.00*-2.000"));
    }

    FDev->Calls.clear();
    EXPECT_EQ(AddProgPlu(5, -2, 3, 1), 0);
    EXPECT_EQ(FDev->Commands(), c.Prog);
    if (c.BonType >= 2 && c.BonType <= 6) {
      EXPECT_THAT(FDev->Sent(kSaleProgPlu), ElementsAre("5\t1\t*-2.000"));
    }

    // The running total grows in every receipt type, also when none is open.
    EXPECT_DOUBLE_EQ(FObj->FReceiptTotal, -18.0);
  }
}

TEST_F(SalesTest, NonFiscalRefundLines) {
  FObj->OpenReceipt(1);
  AddPLU("1", "A", 2.5, -2, 1);
  DepartmentAnswer("\xC1", "B");
  AddDeprtPlu("B", 1, -1.25, 1, 2);
  AddProgPlu(5, -2, 1.5, 3);  // the printer has no such article: the caller's values
  EXPECT_THAT(FDev->Sent(kNonFiscText),
              ElementsAre("A                     -5,00 \xC0", "REFUND                  -5.00",
                          "B                     -1,25 \xC1", "REFUND                  -1.25",
                          "                      -3,00 \xC2", "REFUND                   1.50"));
}

TEST_F(SalesTest, ProgPluUsesThePrintersArticle) {
  FObj->OpenReceipt(1, true);
  FDev->Next[kPluData].push_back(TFakeDevice::Answer("P12,\xC1,3,1.50,30.00,20.000,5.000,Cheese"));
  EXPECT_EQ(AddProgPlu(12, 2, 9.99, 5), 0);
  EXPECT_THAT(FDev->Sent(kPluData), ElementsAre("R12"));
  EXPECT_THAT(FDev->Sent(kNonFiscText),
              ElementsAre("12               2,000 x 1,50", "Cheese                 3,00 \xC1"));
  EXPECT_DOUBLE_EQ(FObj->FReceiptTotal, 3.0);
  EXPECT_DOUBLE_EQ(FObj->FLastPrice, 1.5);
  EXPECT_EQ(FObj->FLastVATGroup, 2);
}

TEST_F(SalesTest, ProgPluWithoutTheArticleUsesTheCallersValues) {
  // The article read answers without the article (number -1) or fails: both count as no
  // article, and the caller's price and VAT group are used.
  for (bool readFails : {false, true}) {
    SCOPED_TRACE(readFails);
    FObj->OpenReceipt(1);
    FDev->Calls.clear();
    FDev->Next[kPluData].push_back(readFails ? TFakeDevice::Failure(102, "no answer") : TFakeDevice::Answer("F"));
    EXPECT_EQ(AddProgPlu(12, 2, 1.75, 3), 0);
    EXPECT_EQ(Code(), 0);
    EXPECT_THAT(FDev->Sent(kNonFiscText), ElementsAre("                       3,50 \xC2"));
    EXPECT_DOUBLE_EQ(FObj->FReceiptTotal, 3.5);
    EXPECT_DOUBLE_EQ(FObj->FLastPrice, 1.75);
    EXPECT_EQ(FObj->FLastVATGroup, 3);
  }
}

TEST_F(SalesTest, ProgPluTotalsOnlyAfterTheSale) {
  FObj->OpenReceipt(2);
  FDev->Next[kSaleProgPlu].push_back(TFakeDevice::Failure(102, "Timeout"));
  EXPECT_EQ(AddProgPlu(12, 2, 1.75, 3), -1);
  EXPECT_EQ(Code(), 102);
  EXPECT_EQ(Message(), "[Add prog Plu failed] Timeout ");
  EXPECT_EQ(FObj->FReceiptTotal, 0);
  EXPECT_EQ(FObj->FLastPrice, 0);
}

TEST_F(SalesTest, SaleFailureKeepsTheDevicesCodeAndText) {
  FObj->OpenReceipt(2);
  FDev->Next[kSale].push_back(TFakeDevice::Failure(215, "Fiscal receipt is not open [2/3]"));
  EXPECT_EQ(AddPLU("1", "A", 3, 1, 1), -1);
  EXPECT_EQ(Code(), 215);
  EXPECT_EQ(Message(), "[Add plu failed] Fiscal receipt is not open [2/3] ");
  EXPECT_EQ(AddPLU("1", "A", 3, 1, 1), 0);
  EXPECT_EQ(Code(), 0);
  EXPECT_EQ(Message(), "");
}

TEST_F(SalesTest, NoTransportGives502) {
  FObj->AttachDeviceForTest(nullptr);
  EXPECT_EQ(AddBarcode("1", 1, 10, 0), -1);
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[AddBarcode failed] Device is not initiqlized. Call \"init\" first! ");
}

TEST_F(SalesTest, DepartmentNumberOutOfRange) {
  FObj->OpenReceipt(2);
  for (LONG dep : {0, 51}) {
    EXPECT_EQ(AddDeprtPlu("A", dep, 1, 1, 1), -1);
    EXPECT_EQ(Code(), 201);
    EXPECT_EQ(Message(),
              "[AddDeprtPlu failed] Invalid department No:" + std::to_string(dep) + ". It has to be between 1 and 50 ");
  }
  EXPECT_THAT(FDev->Calls, IsEmpty());
}

TEST_F(SalesTest, DepartmentIsReprogrammedOnlyWhenItDiffers) {
  FObj->OpenReceipt(2);
  // Same name in other letter case and with blanks around, same VAT letter: unchanged.
  DepartmentAnswer("\xC1", "bread");
  EXPECT_EQ(AddDeprtPlu(" Bread ", 1, 1, 1, 2), 0);
  EXPECT_THAT(FDev->Sent(kDepartment), ElementsAre("1"));

  // Another VAT group: programmed with the name as passed.
  FDev->Calls.clear();
  DepartmentAnswer("\xC1", "bread");
  EXPECT_EQ(AddDeprtPlu(" Bread ", 1, 1, 1, 3), 0);
  EXPECT_THAT(FDev->Sent(kDepartment), ElementsAre("1", "1,\xC2, Bread "));

  // The definition cannot be read: the department's totals decide.
  FDev->Calls.clear();
  FDev->Next[kDepartment].push_back(TFakeDevice::Failure(102, "Timeout"));
  FDev->Next[kDepartmentSum].push_back(TFakeDevice::Answer("P\xC1,0,0,0,0,Bread"));
  EXPECT_EQ(AddDeprtPlu("Bread", 1, 1, 1, 2), 0);
  EXPECT_EQ(FDev->Commands(), (std::vector<uint8_t>{kDepartment, kDepartmentSum, kSale}));

  // A department without the marker counts as not programmed.
  FDev->Calls.clear();
  FDev->Next[kDepartment].push_back(TFakeDevice::Failure(102, "Timeout"));
  FDev->Next[kDepartmentSum].push_back(TFakeDevice::Answer("F"));
  EXPECT_EQ(AddDeprtPlu("Bread", 1, 1, 1, 2), 0);
  EXPECT_THAT(FDev->Sent(kDepartment), ElementsAre("1", "1,\xC1,Bread"));
}

TEST_F(SalesTest, DepartmentReadFailingTwice) {
  StartLog();
  FObj->OpenReceipt(2);
  FDev->Next[kDepartment].push_back(TFakeDevice::Failure(102, "Timeout"));
  FDev->Next[kDepartmentSum].push_back(TFakeDevice::Failure(103, "No answer"));
  EXPECT_EQ(AddDeprtPlu("Bread", 7, 1, 1, 2), -1);
  EXPECT_EQ(Code(), 103);
  EXPECT_EQ(Message(), "[AddDeprtPlu failed] [GetDepartmentSum]No answer ");
  EXPECT_THAT(FDev->Sent(kDepartmentSum), ElementsAre("7"));
  EXPECT_THAT(FDev->Sent(kSale), IsEmpty());
  EXPECT_THAT(ReadAll(FLogDir), HasSubstr("[INFO]Get totals for department: 7\r\n"));
}

// A number that is no number is refused with 201 naming the argument, before anything is
// sent and before any running total changes; so is a product that overflows.
TEST_F(SalesTest, AmountThatIsNoNumberIsRefusedByName) {
  const double naN = std::nan(""), inf = INFINITY;
  const struct {
    std::function<LONG()> Call;
    const char* Failure;
  } cases[] = {
      {[&] { return AddPLU("1", "A", naN, 1, 1); }, "[Add plu failed] Invalid input data. [Price] "},
      {[&] { return AddPLU("1", "A", 1, -inf, 1); }, "[Add plu failed] Invalid input data. [Quantity] "},
      {[&] { return AddPLU("1", "A", 1e200, 1e200, 1); }, "[Add plu failed] Invalid input data. [Price] "},
      {[&] { return AddDeprtPlu("A", 1, inf, 1, 1); }, "[AddDeprtPlu failed] Invalid input data. [Price] "},
      {[&] { return AddDeprtPlu("A", 1, 1, naN, 1); }, "[AddDeprtPlu failed] Invalid input data. [Quantity] "},
      {[&] { return AddProgPlu(5, naN, 1, 1); }, "[Add prog Plu failed] Invalid input data. [Quantity] "},
      {[&] { return AddProgPlu(5, 1, inf, 1); }, "[Add prog Plu failed] Invalid input data. [Price] "},
      {[&] { return AddPayment(1, inf); }, "[Add payment failed] Invalid input data. [Ammount] "},
      {[&] { return AddPayment(1, 5, naN); }, "[Add payment failed] Invalid input data. [Cource] "},
      {[&] { return AddPaymentByCurrncy(1, naN, 1.95583, "EUR"); },
       "[Add payment failed] Invalid input data. [PayAmount] "},
      {[&] { return AddPaymentByCurrncy(1, 5, -inf, "EUR"); }, "[Add payment failed] Invalid input data. [PayCourse] "},
      {[&] { return AddDiscount(2, naN); }, "[Add discount failed.] Invalid input data. [Value] "},
  };
  for (LONG type : {1, 2}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.Failure);
      FObj->OpenReceipt(type);
      FDev->Calls.clear();
      EXPECT_EQ(c.Call(), -1);
      EXPECT_EQ(Code(), 201);
      EXPECT_EQ(Message(), c.Failure);
      EXPECT_THAT(FDev->Calls, IsEmpty());
      EXPECT_EQ(FObj->FReceiptTotal, 0);
      EXPECT_EQ(FObj->FPaidTotal, 0);
    }
  }
}

// A number the printer takes as unsigned: a negative article number is refused, not sent.
TEST_F(SalesTest, NegativeArticleNumberIsRefusedUnsent) {
  FObj->OpenReceipt(2);
  EXPECT_EQ(AddProgPlu(-1, 1, 1, 1), -1);
  EXPECT_EQ(Code(), 201);
  EXPECT_EQ(Message(), "[Add prog Plu failed] Invalid input data. [Numb] ");
  EXPECT_THAT(FDev->Calls, IsEmpty());
}

// A sale's number and name are its two text lines: a TAB in them, or an LF in the number
// (it would start the second line), would move the VAT letter, price and quantity after
// them; the name of a department sale also names the department, where an LF starts its
// second text. A VAT group that wraps to another letter would sell at the wrong rate. In a
// non-fiscal receipt the texts are printed text and go as given.
TEST_F(SalesTest, SaleArgumentsThatWouldGoOutWronglyAreRefused) {
  const struct {
    std::function<LONG()> Call;
    const char* Failure;
  } cases[] = {
      {[&] { return AddPLU("1\t2", "A", 1, 1, 1); }, "[Add plu failed] Invalid input data. [Numb] "},
      {[&] { return AddPLU("1\n2", "Milk", 1, 1, 1); }, "[Add plu failed] Invalid input data. [Numb] "},
      {[&] { return AddPLU("1", "Milk\t2 l", 1, 1, 1); }, "[Add plu failed] Invalid input data. [Name] "},
      {[&] { return AddDeprtPlu("Milk\n2 l", 1, 1, 1, 1); }, "[AddDeprtPlu failed] Invalid input data. [Name] "},
      {[&] { return AddDeprtPlu("Bread\t", 1, 1, 1, 1); }, "[AddDeprtPlu failed] Invalid input data. [Name] "},
      // A VAT group goes out as one letter: 257 or -255 would be the letter of group 1.
      {[&] { return AddPLU("1", "A", 1, 1, 257); }, "[Add plu failed] Invalid input data. [VATGroup] "},
      {[&] { return AddDeprtPlu("A", 1, 1, 1, -255); }, "[AddDeprtPlu failed] Invalid input data. [VATGrp] "},
  };
  for (LONG type : {2, 3}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.Failure);
      FObj->OpenReceipt(type);
      FDev->Calls.clear();
      EXPECT_EQ(c.Call(), -1);
      EXPECT_EQ(Code(), 201);
      EXPECT_EQ(Message(), c.Failure);
      EXPECT_THAT(FDev->Calls, IsEmpty());
    }
  }
  FObj->OpenReceipt(1);
  FDev->Calls.clear();
  EXPECT_EQ(AddPLU("1\t2", "Milk, 1 l", 1, 1, 1), 0) << Message();
  EXPECT_EQ(AddPLU("1, 2", "Milk, 1 l", 1, 1, 1), 0) << Message();
  FObj->OpenReceipt(2);
  FDev->Calls.clear();
  EXPECT_EQ(AddPLU("1, 2", "Milk, 1 l", 1, 1, 1), 0) << Message();
  // The name is the second line, which only the TAB ends: an LF in it goes as given.
  EXPECT_EQ(AddPLU("1", "Milk\n1 l", 1, 1, 1), 0) << Message();
  EXPECT_THAT(FDev->Sent(kSale), ElementsAre("1, 2\nMilk, 1 l\t\xC0"
                                             "1.00",
                                             "1\nMilk\n1 l\t\xC0"
                                             "1.00"));
}

// A department read that carries no VAT letter never lends the sale a letter: an
// unprogrammed department (the printer's "F") is programmed and shows the letter it was
// given; a programmed one without its letter fails the sale.
TEST_F(SalesTest, DepartmentWithoutItsVatLetter) {
  FObj->OpenReceipt(1);
  FDev->Next[kDepartment].push_back(TFakeDevice::Answer("F"));
  FDev->Next[kDepartmentSum].push_back(TFakeDevice::Answer("F"));
  EXPECT_EQ(AddDeprtPlu("Bread", 4, 1.25, 2, 3), 0) << Message();
  EXPECT_THAT(FDev->Sent(kDepartment), ElementsAre("4", "4,\xC2,Bread"));
  EXPECT_THAT(FDev->Sent(kNonFiscText), ElementsAre("Bread                  2,50 \xC2"));

  FDev->Calls.clear();
  FDev->Next[kDepartment].push_back(TFakeDevice::Answer("4"));
  FDev->Next[kDepartmentSum].push_back(TFakeDevice::Answer("P,0,0,0,0,Bread"));
  EXPECT_EQ(AddDeprtPlu("Bread", 4, 1.25, 2, 3), -1);
  EXPECT_EQ(Code(), 200);
  EXPECT_THAT(Message(),
              StartsWith("[AddDeprtPlu failed] [GetDepartmentSum]" + TBaseDevice::ErrorCodeText(200, "[VatGrp]")));
  EXPECT_THAT(FDev->Sent(kNonFiscText), IsEmpty());
  EXPECT_THAT(FDev->Sent(kDepartment), ElementsAre("4"));
}

TEST_F(SalesTest, AddLineWrapsAndPrints) {
  FObj->OpenReceipt(2);
  const std::string text = std::string(20, 'a') + " " + std::string(20, 'b') + " " + std::string(20, 'c');
  EXPECT_EQ(AddLine(text, "", 1), 0);
  EXPECT_THAT(FDev->Sent(kFiscText),
              ElementsAre(std::string(20, 'a') + " ", std::string(20, 'b') + " ", std::string(20, 'c')));

  FDev->Calls.clear();
  EXPECT_EQ(AddLine(text, "", 0), 0);
  EXPECT_THAT(FDev->Sent(kFiscText), ElementsAre(text));

  FDev->Calls.clear();
  EXPECT_EQ(AddLine("one\r\ntwo\n", "", 1), 0);
  EXPECT_THAT(FDev->Sent(kFiscText), ElementsAre("one", "two"));

  FDev->Calls.clear();
  EXPECT_EQ(AddLine("", "", 1), 0);
  EXPECT_THAT(FDev->Calls, IsEmpty());

  // A non-fiscal receipt takes its lines as non-fiscal text; the receipt type is not looked at.
  FDev->Calls.clear();
  FObj->FNonFiscalOpen = true;
  FObj->FBonType = 0;
  EXPECT_EQ(AddLine("Hi", "bold", 1), 0);
  EXPECT_THAT(FDev->Sent(kNonFiscText), ElementsAre("Hi"));  // this printer has no attributes
}

TEST_F(SalesTest, AddLineAttributeOnAPrinterWithExtendedCommands) {
  FObj->OpenReceipt(2);
  FObj->FDiagnosticInfo.Text[0] = "MIRAVOK FP-1";
  EXPECT_EQ(AddLine("Hi there", "bold", 1), 0);
  EXPECT_THAT(FDev->Sent(kFiscText), ElementsAre("^#5;Hi there^#2;"));
}

TEST_F(SalesTest, DiscountsOnThePrinter) {
  FObj->OpenReceipt(2);
  EXPECT_EQ(AddDiscount(1, -10), 0);
  EXPECT_EQ(AddDiscount(2, 5), 0);
  EXPECT_EQ(AddDiscount(3, -1.5), 0);
  EXPECT_EQ(FDev->Commands(), (std::vector<uint8_t>{kDiscountLast, kSubTotal, kSubTotal}));
  EXPECT_THAT(FDev->Sent(kDiscountLast), ElementsAre("P,-10.00"));
  EXPECT_THAT(FDev->Sent(kSubTotal), ElementsAre("00,5.00", "00;-1.50"));
}

TEST_F(SalesTest, InvalidDiscountTypeInEveryReceiptType) {
  for (int32_t bonType : {0, 1, 2, 6}) {
    FObj->OpenReceipt(bonType);
    EXPECT_EQ(AddDiscount(4, 1), -1);
    EXPECT_EQ(Code(), 502);
    EXPECT_EQ(Message(), "[Add discount failed.] Invalid discount type. ");
  }
  EXPECT_THAT(FDev->Calls, IsEmpty());
}

TEST_F(SalesTest, PaymentsOnThePrinter) {
  FObj->OpenReceipt(2);
  EXPECT_EQ(AddPayment(1, 10, 1.5), 0);
  EXPECT_EQ(AddPaymentByCurrncy(5, 10, 1.95583, " EUR "), 0);
  EXPECT_THAT(FDev->Sent(kPayment), ElementsAre("\tP+15.00", "\tI+10.00,1.95583,EUR"));
  EXPECT_DOUBLE_EQ(FObj->FPaidTotal, 15 + 19.56);

  // No receipt the methods know: nothing is sent and nothing is counted.
  FObj->OpenReceipt(0);
  FDev->Calls.clear();
  EXPECT_EQ(AddPayment(1, 10), 0);
  EXPECT_THAT(FDev->Calls, IsEmpty());
  EXPECT_EQ(FObj->FPaidTotal, 0);
}

TEST_F(SalesTest, InvalidPayType) {
  FObj->OpenReceipt(2);
  for (LONG type : {12, -1}) {
    EXPECT_EQ(AddPayment(type, 1), -1);
    EXPECT_EQ(Code(), 502);
    EXPECT_EQ(Message(), "[Add payment failed] Invalid pay type nom: " + std::to_string(type) + ". ");
    EXPECT_EQ(AddPaymentByCurrncy(type, 1, 2, "EUR"), -1);
    EXPECT_EQ(Code(), 502);
  }
  EXPECT_THAT(FDev->Calls, IsEmpty());
}

TEST_F(SalesTest, PaymentRefusedByThePrinterIsNotCounted) {
  FObj->OpenReceipt(2);
  FDev->Next[kPayment].push_back(TFakeDevice::Answer("F"));
  EXPECT_EQ(AddPayment(1, 10), -1);
  EXPECT_EQ(Code(), 250);
  EXPECT_EQ(FObj->FPaidTotal, 0);
}

// A call that sends several commands checks the arguments of every one of them before it
// sends the first: a later command that would be refused (a quantity of 0, data too long
// for one frame) fails the call with 201 and nothing that changes the printer sent (a
// department reprogrammed, a line printed, a receipt left open ended). Only the reads a
// call needs to lay out its sale may go before.
TEST_F(SalesTest, ArgumentsOfALaterCommandAreCheckedBeforeTheFirstIsSent) {
  const std::string longText(230, 'x');
  const struct {
    const char* Name;
    int32_t BonType;
    std::function<LONG()> Call;
    const char* Refusal;
    std::vector<uint8_t> Reads;
    LONG Code = 201;
  } cases[] = {
      {"AddDeprtPlu quantity 0", 2, [&] { return AddDeprtPlu("Milk", 1, 1.5, 0, 2); }, "[Qtty]", {}},
      {"AddDeprtPlu quantity 0 in an invoice", 3, [&] { return AddDeprtPlu("Milk", 1, 1.5, 0.0001, 2); }, "[Qtty]", {}},
      {"AddDeprtPlu non-fiscal, number too long",
       1,
       [&] {
         FObj->FPLUNumbering = true;
         LONG res = 7;
         EXPECT_EQ(FObj->AddDeprtPlu(W(longText).Get(), W("Milk").Get(), 1, 1, 1, 2, &res), S_OK);
         return res;
       },
       "[DataLen]",
       {}},
      {"AddPLU in an invoice, price too long", 3, [&] { return AddPLU("1", "Milk", 1e250, 1, 2); }, "[DataLen]", {}},
      {"AddPLU non-fiscal, name too long",
       1,
       [&] {
         FObj->FPLUNumbering = true;
         return AddPLU("1", longText, 1, 1, 2);
       },
       "[DataLen]",
       {}},
      {"AddProgPlu in an invoice, quantity too long",
       3,
       [&] { return AddProgPlu(5, 1e250, 1, 2); },
       "[Number]",
       {kPluData}},
      {"AddLine wrapped, a word too long",
       2,
       [&] { return AddLine("Thank you, " + longText, "", 1); },
       "[DataLen]",
       {}},
      {"AddDiscount non-fiscal, amount too long",
       1,
       [&] {
         FObj->FReceiptTotal = 10;
         return AddDiscount(2, 1e250);
       },
       "[DataLen]",
       {}},
      // The change cannot be counted in cents: refused by the object itself (502).
      {"AddPayment non-fiscal, amount too long", 1, [&] { return AddPayment(1, 1e250); }, "[Number]", {}, 502},
      {"AddBarcode, data too long", 2, [&] { return AddBarcode(longText, 2, 10, 1); }, "[DataLen]", {}},
      // The printer's status shows a fiscal receipt open, which the cash movement would end.
      {"InOutMoney, amount too long",
       0,
       [&] {
         LONG res = 7;
         EXPECT_EQ(FObj->InOutMoney(1e250, 0, &res), S_OK);
         return res;
       },
       "[DataLen]",
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FObj->OpenReceipt(c.BonType);
    FDev->Calls.clear();
    EXPECT_EQ(c.Call(), -1);
    EXPECT_EQ(Code(), c.Code);
    EXPECT_THAT(Message(), HasSubstr(c.Refusal));
    EXPECT_EQ(FDev->Commands(), c.Reads);
  }
}

// On the printer model: a department sale refused for its quantity leaves the department
// as the printer had it; called again with the quantity mended, it programs the department
// and sells.
class SalesOnModelTest : public TFprnConnectedTest {
 protected:
  LONG AddDeprtPlu(double Quantity) {
    LONG res = 7;
    EXPECT_EQ(FObj->AddDeprtPlu(W("1").Get(), W("Milk").Get(), 1, 1.5, Quantity, 3, &res), S_OK);
    return res;
  }
};

TEST_F(SalesOnModelTest, DepartmentSaleRefusedForItsQuantityLeavesTheDepartment) {
  M().Edit([](model::ModelState& S) {
    S.departments[1].vat = 0xC1;
    S.departments[1].name = "BREAD";
  });
  ASSERT_EQ(StartBon(2), 0) << Message();
  M().ClearRequests();
  EXPECT_EQ(AddDeprtPlu(0), -1);
  EXPECT_EQ(Code(), 201);
  EXPECT_EQ(Message(), "[AddDeprtPlu failed] Invalid input data. [Qtty] ");
  EXPECT_THAT(Sent(), IsEmpty());
  EXPECT_EQ(M().State().departments.at(1).name, "BREAD");
  EXPECT_EQ(M().State().departments.at(1).vat, 0xC1);

  EXPECT_EQ(AddDeprtPlu(2), 0) << Message();
  EXPECT_EQ(M().State().departments.at(1).name, "Milk");
  EXPECT_EQ(M().State().departments.at(1).vat, 0xC2);
  ASSERT_TRUE(M().State().open.has_value());
  EXPECT_EQ(M().State().open->items.size(), 1u);
}

TEST_F(SalesTest, BarcodeWithInvalidArgumentsIsStillPrinted) {
  StartLog();
  FObj->OpenReceipt(0);
  EXPECT_EQ(AddBarcode("ABC123", 9, 250, 5), 0);
  EXPECT_EQ(Code(), 0);
  // 100 mm is more than the printer takes: the height stays as it was.
  EXPECT_THAT(FDev->Sent(kBarcode), ElementsAre("6,ABC123"));
  EXPECT_EQ(FDev->Commands(), std::vector<uint8_t>{kBarcode});
  const std::string log = ReadAll(FLogDir);
  EXPECT_THAT(log, HasSubstr("Add Barcode.  BData='ABC123', BType=9, BHeight=250, BHri=5"));
  EXPECT_THAT(log, HasSubstr("[AddBarcode] Invalid barcode type \"9\". Using default type (QR code)"));
  EXPECT_THAT(log,
              HasSubstr("[AddBarcode] Invalid hri value \"5\". Valid values are 0 or 1. Using default value \"1\""));
  EXPECT_THAT(log, HasSubstr("[AddBarcode] Invalid height value \"250\". Valid values are 0 or 200. "
                             "Using default value \"100\""));
  EXPECT_THAT(log, HasSubstr("[AddBarcode] Cant' set height \"100\". Printer error: "));

  FDev->Calls.clear();
  EXPECT_EQ(AddBarcode("12345670", 2, 10, 0), 0);
  EXPECT_EQ(FDev->Commands(), (std::vector<uint8_t>{0x2B, kBarcode}));
  EXPECT_THAT(FDev->Sent(kBarcode), ElementsAre("2;12345670"));
}

TEST_F(SalesTest, CallLines) {
  StartLog();
  FObj->OpenReceipt(0);
  AddPLU("1'2", "Bread", 2.5, 2, 2);
  AddProgPlu(5, 2, 1.5, 2);
  AddLine("It's", "BOLD", 1);
  AddDiscount(2, -10);
  AddPayment(1, 20);
  const std::string log = ReadAll(FLogDir);
  EXPECT_THAT(log, HasSubstr("Add plu. Numb='1''2' Name='Bread' Price=2.5 Quantity=2 VATGroup=2"));
  EXPECT_THAT(log, HasSubstr("Add prog plu. Numb=\"5\" Quantity=2\" Department No: 1\", Price=1.5\" VatGrp No: 2"));
  EXPECT_THAT(log, HasSubstr("Add Line='It''s', WordWrap=1, Command=BOLD"));
  EXPECT_THAT(log, HasSubstr("Add discount. DiscType=2 Value=-10"));
  EXPECT_THAT(log, HasSubstr("Add payment. Pay type nom=1, Name='', Ammount=20, Cource=1"));
}

}  // namespace
}  // namespace fp::test
