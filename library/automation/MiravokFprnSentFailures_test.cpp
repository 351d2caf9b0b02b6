// Failures after a command that changes the printer went to it, against the printer model:
// they never carry 201 or 502, the codes that tell a caller that nothing was sent (a caller
// that sends the call again would print, pay or put cash in twice).
#include <functional>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "library/automation/FprnModelTestSupport.h"

namespace fp::test {
namespace {

using ::testing::HasSubstr;

class SentFailuresTest : public test::TFprnModelTest {
 protected:
  model::PrinterModel& Connect(bool Online) {
    FPrinters.clear();
    TComPortNames::RemoveMapping("COM7");
    auto& p = AddPrinter(7);
    if (Online) p.Model.SetModeWord("1.00ONLINE");
    EXPECT_EQ(Init(7), 0) << Message();
    return p.Model;
  }
  static BStr W(const std::string& S) { return BStr(Utf8ToWide(S)); }
  LONG AddPLU(double Price) {
    LONG res = 99;
    EXPECT_EQ(FObj->AddPLU(W("1").Get(), W("Bread").Get(), Price, 1, 2, &res), S_OK);
    return res;
  }
  LONG AddPayment(double Amount) {
    LONG res = 99;
    EXPECT_EQ(FObj->AddPayment(1, W("Cash").Get(), Amount, 1, &res), S_OK);
    return res;
  }
  // A fiscal receipt of 3.00 with Paid of it paid.
  void OpenReceipt(double Paid) {
    ASSERT_EQ(StartBon(2), 0) << Message();
    ASSERT_EQ(AddPLU(3), 0) << Message();
    if (Paid > 0) {
      ASSERT_EQ(AddPayment(Paid), 0) << Message();
    }
  }
};

// For every entry that changes the printer and reads an answer: the command ran, and a field
// of its answer cannot be read. Where the command that fails is a read, a change went before
// it in the same call (a leftover receipt that the printer no longer lets cancel: the cancel,
// the close, then the transaction state).
TEST_F(SentFailuresTest, AnswerThatCannotBeReadAfterTheCommandRanIsNeverARefusal) {
  const auto ran = [](const std::string& Answer) { return model::Reply(Answer).Run(); };
  const struct {
    const char* Name;
    bool Online;
    std::function<void()> Before;
    uint8_t Cmd;
    model::ScriptedAnswer Answer;
    std::function<LONG()> Call;
  } cases[] = {
      {"StartBon fiscal", false, {}, 0x30, ran("x,45"), [this] { return StartBon(2); }},
      {"StartBon extended", true, {}, 0x90, ran("120,y"), [this] { return StartBon(2); }},
      {"StartBon non-fiscal", false, {}, 0x26, ran("n"), [this] { return StartBon(1); }},
      {"StartBon after a leftover", false, [this] { OpenReceipt(1); }, 0x4C, model::Reply("x,1,1"),
       [this] { return StartBon(2); }},
      {"EndBon", false, [this] { OpenReceipt(3); }, 0x38, ran("120,x"), [this] { return EndBon(); }},
      {"EndBon non-fiscal", false, [this] { ASSERT_EQ(StartBon(1), 0); }, 0x27, ran("n"), [this] { return EndBon(); }},
      {"AddPayment", false, [this] { OpenReceipt(0); }, 0x35, ran("D,xyz"), [this] { return AddPayment(3); }},
      {"AddPaymentByCurrncy", false, [this] { OpenReceipt(0); }, 0x35, ran("D,xyz"),
       [this] {
         LONG res = 99;
         EXPECT_EQ(FObj->AddPaymentByCurrncy(1, W("").Get(), 2, 1.95583, W("EUR").Get(), &res), S_OK);
         return res;
       }},
      {"AddDiscount", false, [this] { OpenReceipt(0); }, 0x33, ran("x,0,0,0,0,0,0,0"),
       [this] {
         LONG res = 99;
         EXPECT_EQ(FObj->AddDiscount(2, -10, &res), S_OK);
         return res;
       }},
      {"InOutMoney",
       false,
       {},
       0x46,
       ran("P,1.00,x,0"),
       [this] {
         LONG res = 99;
         EXPECT_EQ(FObj->InOutMoney(5000, 0, &res), S_OK);
         return res;
       }},
      {"RunPLUReport",
       false,
       {},
       0x76,
       ran("1,2,3,x,5,6,7,8,9,10"),
       [this] {
         LONG res = 99;
         EXPECT_EQ(FObj->RunPLUReport(1, 0, &res), S_OK);
         return res;
       }},
      {"ReportByDepartments",
       false,
       {},
       0x75,
       ran("x,2,3,4,5,6,7,8,9,10"),
       [this] {
         LONG res = 99;
         EXPECT_EQ(FObj->ReportByDepartments(1, &res), S_OK);
         return res;
       }},
      {"SetPluData",
       false,
       {},
       0x6B,
       ran("F"),
       [this] {
         LONG res = 99;
         EXPECT_EQ(FObj->SetPluData(5, 1, 1, 1.5, W("Cheese").Get(), &res), S_OK);
         return res;
       }},
      {"RunXReport after a leftover", false, [this] { OpenReceipt(1); }, 0x4C, model::Reply("x,1,1"),
       [this] {
         LONG res = 99;
         EXPECT_EQ(FObj->RunXReport(&res), S_OK);
         return res;
       }},
      {"VoidCurrentReciept", false, [this] { OpenReceipt(1); }, 0x4C, model::Reply("x,1,1"),
       [this] {
         LONG res = 99;
         EXPECT_EQ(FObj->VoidCurrentReciept(&res), S_OK);
         return res;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto& m = Connect(c.Online);
    if (c.Before) c.Before();
    m.ScriptNext(c.Cmd, c.Answer);
    EXPECT_EQ(c.Call(), -1);
    EXPECT_EQ(Code(), 200);
    EXPECT_THAT(Message(), HasSubstr("Invalid data from the printer"));
  }
}

}  // namespace
}  // namespace fp::test
