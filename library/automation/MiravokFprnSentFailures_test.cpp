// Failures after a command that changes the printer went to it, against the printer model:
// they never carry 201 or 502, the codes that tell a caller that nothing was sent (a caller
// that sends the call again would print, pay or put cash in twice).
#include <functional>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "library/automation/FprnModelTestSupport.h"

namespace fp {
namespace {

using ::testing::HasSubstr;

class SentFailuresTest : public test::TFprnModelTest {
 protected:
  model::PrinterModel& Connect(bool Online) {
    Printers.clear();
    TComPortNames::RemoveMapping("COM7");
    auto& P = AddPrinter(7);
    if (Online) P.Model.SetModeWord("1.00ONLINE");
    EXPECT_EQ(Init(7), 0) << Message();
    return P.Model;
  }
  static BStr W(const std::string& S) { return BStr(Utf8ToWide(S)); }
  LONG AddPLU(double Price) {
    LONG Res = 99;
    EXPECT_EQ(Obj->AddPLU(W("1").Get(), W("Bread").Get(), Price, 1, 2, &Res), S_OK);
    return Res;
  }
  LONG AddPayment(double Amount) {
    LONG Res = 99;
    EXPECT_EQ(Obj->AddPayment(1, W("Cash").Get(), Amount, 1, &Res), S_OK);
    return Res;
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
  const auto Ran = [](const std::string& Answer) { return model::Reply(Answer).Run(); };
  const struct {
    const char* Name;
    bool Online;
    std::function<void()> Before;
    uint8_t Cmd;
    model::ScriptedAnswer Answer;
    std::function<LONG()> Call;
  } Cases[] = {
      {"StartBon fiscal", false, {}, 0x30, Ran("x,45"), [this] { return StartBon(2); }},
      {"StartBon extended", true, {}, 0x90, Ran("120,y"), [this] { return StartBon(2); }},
      {"StartBon non-fiscal", false, {}, 0x26, Ran("n"), [this] { return StartBon(1); }},
      {"StartBon after a leftover", false, [this] { OpenReceipt(1); }, 0x4C,
       model::Reply("x,1,1"), [this] { return StartBon(2); }},
      {"EndBon", false, [this] { OpenReceipt(3); }, 0x38, Ran("120,x"),
       [this] { return EndBon(); }},
      {"EndBon non-fiscal", false, [this] { ASSERT_EQ(StartBon(1), 0); }, 0x27, Ran("n"),
       [this] { return EndBon(); }},
      {"AddPayment", false, [this] { OpenReceipt(0); }, 0x35, Ran("D,xyz"),
       [this] { return AddPayment(3); }},
      {"AddPaymentByCurrncy", false, [this] { OpenReceipt(0); }, 0x35, Ran("D,xyz"),
       [this] {
         LONG Res = 99;
         EXPECT_EQ(Obj->AddPaymentByCurrncy(1, W("").Get(), 2, 1.95583, W("EUR").Get(), &Res), S_OK);
         return Res;
       }},
      {"AddDiscount", false, [this] { OpenReceipt(0); }, 0x33, Ran("x,0,0,0,0,0,0,0"),
       [this] {
         LONG Res = 99;
         EXPECT_EQ(Obj->AddDiscount(2, -10, &Res), S_OK);
         return Res;
       }},
      {"InOutMoney", false, {}, 0x46, Ran("P,1.00,x,0"),
       [this] {
         LONG Res = 99;
         EXPECT_EQ(Obj->InOutMoney(5000, 0, &Res), S_OK);
         return Res;
       }},
      {"RunPLUReport", false, {}, 0x76, Ran("1,2,3,x,5,6,7,8,9,10"),
       [this] {
         LONG Res = 99;
         EXPECT_EQ(Obj->RunPLUReport(1, 0, &Res), S_OK);
         return Res;
       }},
      {"ReportByDepartments", false, {}, 0x75, Ran("x,2,3,4,5,6,7,8,9,10"),
       [this] {
         LONG Res = 99;
         EXPECT_EQ(Obj->ReportByDepartments(1, &Res), S_OK);
         return Res;
       }},
      {"SetPluData", false, {}, 0x6B, Ran("F"),
       [this] {
         LONG Res = 99;
         EXPECT_EQ(Obj->SetPluData(5, 1, 1, 1.5, W("Cheese").Get(), &Res), S_OK);
         return Res;
       }},
      {"RunXReport after a leftover", false, [this] { OpenReceipt(1); }, 0x4C,
       model::Reply("x,1,1"),
       [this] {
         LONG Res = 99;
         EXPECT_EQ(Obj->RunXReport(&Res), S_OK);
         return Res;
       }},
      {"VoidCurrentReciept", false, [this] { OpenReceipt(1); }, 0x4C, model::Reply("x,1,1"),
       [this] {
         LONG Res = 99;
         EXPECT_EQ(Obj->VoidCurrentReciept(&Res), S_OK);
         return Res;
       }},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    auto& M = Connect(C.Online);
    if (C.Before) C.Before();
    M.ScriptNext(C.Cmd, C.Answer);
    EXPECT_EQ(C.Call(), -1);
    EXPECT_EQ(Code(), 200);
    EXPECT_THAT(Message(), HasSubstr("Invalid data from the printer"));
  }
}

}  // namespace
}  // namespace fp
