#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/CommandTestSupport.h"
#include "tests/support/FakeDevice.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace fp {
namespace {

using test::StatusWith;

std::string Txt(int32_t Code) { return DeviceErrorText(Code); }

// A receipt-like command: own tests before and after the full check, two counters.
struct TCloseLike {
  int32_t All = -1, Fisc = -1;
  TCommand Make() {
    TCommand C;
    C.Cmd = 0x38;
    C.Before = {BitSet(2, 0, 210), BitSet(0, 4, 219), BitClear(2, 3, 208)};
    C.Check = TStatusCheck::Full;
    C.After = {BitSetEmptyAnswer(2, 5, 215)};
    C.Parse = [this](TAnswer& A) {
      A.RequireFields(2);
      All = A.Int32Field("[AllReceipt]");
      Fisc = A.Int32Field("[FiscReceipt]");
    };
    return C;
  }
};

TEST(RunCommand, SuccessSendsTheDataAndFillsTheOutputs) {
  TFakeDevice Dev;
  Dev.Push(TFakeDevice::Answer("12,7", StatusWith({{2, 3}})));
  TCloseLike Op;
  TCommand C = Op.Make();
  TBaseDevice::AddEscapedText("1", C.Data);
  C.Build = [](TDataBuffer& D) { TBaseDevice::AddEscapedText(",x", D); };
  C.Retries = 1;
  ASSERT_TRUE(Dev.RunCommand(C)) << Dev.FErrorText;
  ASSERT_EQ(Dev.Calls.size(), 1u);
  EXPECT_EQ(Dev.Calls[0].Cmd, 0x38);
  EXPECT_EQ(TBaseDevice::BufferToText(Dev.Calls[0].Data), "1,x");
  EXPECT_EQ(Dev.Calls[0].Retries, 1);
  EXPECT_EQ(Op.All, 12);
  EXPECT_EQ(Op.Fisc, 7);
  EXPECT_EQ(Dev.FErrorCode, 0);
  EXPECT_EQ(Dev.FErrorText, "");
}

TEST(RunCommand, StatusTestsRunInTheirDeclaredOrder) {
  struct TCase {
    const char* Name;
    TDataBuffer Status;
    std::string Answer;
    int32_t Code;
    std::string Label;
  };
  const TCase Cases[] = {
      {"first own test wins", StatusWith({{2, 3}, {2, 0}, {0, 4}}), "1,1", 210, "[2/0]"},
      {"second own test", StatusWith({{2, 3}, {0, 4}}), "1,1", 219, "[0/4]"},
      {"clear bit", StatusWith({}), "1,1", 208, "[2/3]"},
      {"own tests before the general check", StatusWith({{0, 0}}), "1,1", 208, "[2/3]"},
      {"general check before the after-tests", StatusWith({{2, 3}, {2, 5}, {1, 1}}), "", 216, "[1/1]"},
      {"after-test on an empty answer", StatusWith({{2, 3}, {2, 5}}), "", 215, "[2/5]"},
      {"short status: length first", StatusWith({{2, 0}}, 5), "1,1", 200, "[6/5]"},
      {"no status at all", TDataBuffer(), "1,1", 200, "[6/0]"},
  };
  for (const TCase& C : Cases) {
    TFakeDevice Dev;
    Dev.Push(TFakeDevice::Answer(C.Answer, C.Status));
    TCloseLike Op;
    EXPECT_FALSE(Dev.RunCommand(Op.Make())) << C.Name;
    EXPECT_EQ(Dev.FErrorCode, C.Code) << C.Name;
    EXPECT_EQ(Dev.FErrorText.rfind(TBaseDevice::ErrorCodeText(C.Code, C.Label), 0), 0u)
        << C.Name << ": " << Dev.FErrorText;
    EXPECT_EQ(Op.All, -1) << C.Name;
  }
  // The after-test with the empty-answer condition does not apply to a non-empty answer.
  TFakeDevice Dev;
  Dev.Push(TFakeDevice::Answer("3,4", StatusWith({{2, 3}, {2, 5}})));
  TCloseLike Op;
  EXPECT_TRUE(Dev.RunCommand(Op.Make())) << Dev.FErrorText;
}

TEST(RunCommand, ShortStatusWithoutDeclaredTestsIsNotChecked) {
  TFakeDevice Dev;
  Dev.Push(TFakeDevice::Answer("ok", TDataBuffer(5, 0x80)));
  TCommand C;
  C.Cmd = 0x2B;
  std::string Line;
  C.Parse = [&](TAnswer& A) { Line = A.Text; };
  EXPECT_TRUE(Dev.RunCommand(C));
  EXPECT_EQ(Line, "ok");
}

TEST(RunCommand, FailureIsRecordedWithOrWithoutStatusAsDeclared) {
  const TDataBuffer Status = StatusWith({{0, 1}, {0, 2}});
  TCommand C;
  C.Cmd = 0x71;
  C.Check = TStatusCheck::Basic;

  TFakeDevice With;
  With.Push(TFakeDevice::Answer("", Status));
  EXPECT_FALSE(With.RunCommand(C));
  EXPECT_EQ(With.FErrorCode, 204);
  EXPECT_EQ(With.FErrorText, "Invalid command. [0/1]  The clock is not set. ");

  TFakeDevice Without;
  Without.Push(TFakeDevice::Answer("", Status));
  C.Record = TRecordStatus::WithoutStatus;
  EXPECT_FALSE(Without.RunCommand(C));
  EXPECT_EQ(Without.FErrorText, "Invalid command. [0/1]");

  // A five-byte status recorded with status: the texts read only the bytes there are.
  TFakeDevice Short;
  Short.Push(TFakeDevice::Answer("", StatusWith({{2, 0}}, 5)));
  C.Record = TRecordStatus::WithStatus;
  EXPECT_FALSE(Short.RunCommand(C));
  EXPECT_EQ(Short.FErrorText, Txt(200) + " [6/5]  " + Txt(210) + " ");
}

TEST(RunCommand, FieldFailures) {
  struct TCase {
    const char* Name;
    std::string Answer;
    std::function<void(TAnswer&)> Parse;
    int32_t Code;
    std::string Message;
  };
  const TCase Cases[] = {
      {"too few fields", "1,,", [](TAnswer& A) { A.RequireFields(2); }, 200, ""},
      {"too few fields, labelled", "1", [](TAnswer& A) { A.RequireFields(2, "[GetX]"); }, 200, "[GetX]"},
      {"integer with blank", "1, 2",
       [](TAnswer& A) {
         A.IntField("[A]");
         A.IntField("[B]");
       },
       201, "[B]"},
      {"decimal as integer", "1.5", [](TAnswer& A) { A.IntField("[InvStart]"); }, 201, "[InvStart]"},
      {"32-bit range", "2147483648", [](TAnswer& A) { A.Int32Field("[N]"); }, 201, "[N]"},
      {"number with exponent", "1e3", [](TAnswer& A) { A.NumberField("[Sum]"); }, 201, "[Sum]"},
      {"missing number", "", [](TAnswer& A) { A.HundredthsField("[Tax1]"); }, 201, "[Tax1]"},
  };
  for (const TCase& C : Cases) {
    TFakeDevice Dev;
    Dev.Push(TFakeDevice::Answer(C.Answer));
    TCommand Cmd;
    Cmd.Cmd = 0x67;
    Cmd.ReadOnly = true;
    Cmd.Check = TStatusCheck::Full;
    Cmd.Record = TRecordStatus::WithoutStatus;
    Cmd.Parse = C.Parse;
    EXPECT_FALSE(Dev.RunCommand(Cmd)) << C.Name;
    EXPECT_EQ(Dev.FErrorCode, C.Code) << C.Name;
    EXPECT_EQ(Dev.FErrorText, TBaseDevice::ErrorCodeText(C.Code, C.Message)) << C.Name;
  }
}

// 201 says that nothing went to the printer. Once a command that may change the printer was
// handed to the link (counted in FChangingCommandsSent, also when the link fails), a field
// that cannot be read is 200, for that command and for a read after it; a refusal before
// sending stays 201 and counts nothing.
TEST(RunCommand, AnswerThatCannotBeReadAfterAChangeIs200) {
  auto Command = [](bool ReadOnly) {
    TCommand C;
    C.Cmd = ReadOnly ? 0x67 : 0x35;
    C.ReadOnly = ReadOnly;
    C.Check = TStatusCheck::Full;
    C.Parse = [](TAnswer& A) { A.IntField("[Amount2]"); };
    return C;
  };
  TFakeDevice Dev;
  Dev.Push(TFakeDevice::Answer("x"));
  EXPECT_FALSE(Dev.RunCommand(Command(true)));
  EXPECT_EQ(Dev.FErrorCode, 201);
  EXPECT_EQ(Dev.FChangingCommandsSent, 0u);

  TCommand Refused = Command(false);
  Refused.Build = [](TDataBuffer&) { throw ECmdException(201, "[PaidMode]"); };
  EXPECT_FALSE(Dev.RunCommand(Refused));
  EXPECT_EQ(Dev.FErrorCode, 201);
  EXPECT_EQ(Dev.FChangingCommandsSent, 0u);

  Dev.Push(TFakeDevice::Answer("x"));
  EXPECT_FALSE(Dev.RunCommand(Command(false)));
  EXPECT_EQ(Dev.FErrorCode, 200);
  EXPECT_EQ(Dev.FErrorText, TBaseDevice::ErrorCodeText(200, "[Amount2]") + " ");
  EXPECT_EQ(Dev.FChangingCommandsSent, 1u);

  Dev.Push(TFakeDevice::Answer("x"));
  EXPECT_FALSE(Dev.RunCommand(Command(true)));
  EXPECT_EQ(Dev.FErrorCode, 200);

  // A changing command whose exchange failed counts: it may have reached the printer.
  Dev.FChangingCommandsSent = 0;
  Dev.Push(TFakeDevice::Failure(103, "no answer"));
  EXPECT_FALSE(Dev.RunCommand(Command(false)));
  EXPECT_EQ(Dev.FChangingCommandsSent, 1u);
  Dev.FChangingCommandsSent = 0;
  Dev.Push(TFakeDevice::Answer("x"));
  EXPECT_FALSE(Dev.RunCommand(Command(true)));
  EXPECT_EQ(Dev.FErrorCode, 201);
}

TEST(RunCommand, FieldReaders) {
  TFakeDevice Dev;
  Dev.Push(TFakeDevice::Answer("-12,150,x,2.5,,7,P rest  of it"));
  int64_t I = 0, Def = 0, Seven = 0;
  double H = 0, HDef = 0, N = 0;
  std::string Word, Rest;
  TCommand C;
  C.Cmd = 0x6E;
  C.Check = TStatusCheck::Full;
  C.Parse = [&](TAnswer& A) {
    I = A.IntField("[I]");
    H = A.HundredthsField("[H]");
    Def = A.IntFieldOr(-1);
    N = A.NumberFieldOr(0);
    HDef = A.HundredthsFieldOr(9);
    Seven = A.IntField("[7]");
    Word = A.SpaceField();
    Rest = A.Text;
  };
  ASSERT_TRUE(Dev.RunCommand(C)) << Dev.FErrorText;
  EXPECT_EQ(I, -12);
  EXPECT_DOUBLE_EQ(H, 1.5);
  EXPECT_EQ(Def, -1);
  EXPECT_DOUBLE_EQ(N, 2.5);
  EXPECT_DOUBLE_EQ(HDef, 9);
  EXPECT_EQ(Seven, 7);
  EXPECT_EQ(Word, "P");
  EXPECT_EQ(Rest, "rest  of it");
}

TEST(RunCommand, TransportFailureStandsAndNothingIsParsed) {
  TFakeDevice Dev;
  Dev.Push(TFakeDevice::Failure(107, "Fail read data from port. [COM1][4]"));
  bool Parsed = false;
  TCommand C;
  C.Cmd = 0x4A;
  C.Check = TStatusCheck::Basic;
  C.Parse = [&](TAnswer&) { Parsed = true; };
  EXPECT_FALSE(Dev.RunCommand(C));
  EXPECT_FALSE(Parsed);
  EXPECT_EQ(Dev.FErrorCode, 107);
  EXPECT_EQ(Dev.FErrorText, "Fail read data from port. [COM1][4]");
}

TEST(RunCommand, ArgumentCheckInBuildSendsNothing) {
  TFakeDevice Dev;
  Dev.Push(TFakeDevice::Answer(""));
  TCommand C;
  C.Cmd = 0x30;
  C.Build = [](TDataBuffer& D) {
    TBaseDevice::AddEscapedText("1,", D);
    throw ECmdException(201, "[OperPwd]");
  };
  TDataBuffer Seen;
  C.AfterRecord = [&](const std::exception&, const TDataBuffer& D) { Seen = D; };
  EXPECT_FALSE(Dev.RunCommand(C));
  EXPECT_TRUE(Dev.Calls.empty());
  EXPECT_EQ(Dev.FErrorCode, 201);
  EXPECT_EQ(Dev.FErrorText, "Invalid input data. [OperPwd]");
  EXPECT_EQ(TBaseDevice::BufferToText(Seen), "1,");  // the request built so far
}

TEST(RunCommand, DataLongerThan219BytesIsRefusedWithoutStatus) {
  TFakeDevice Dev;
  Dev.Push(TFakeDevice::Answer(""));
  const uint8_t SeqBefore = Dev.Sequence();
  TCommand C;
  C.Cmd = 0x36;
  C.Check = TStatusCheck::Full;
  C.Build = [](TDataBuffer& D) { TBaseDevice::AddEscapedText(std::string(219, 'a') + "\r", D); };
  EXPECT_FALSE(Dev.RunCommand(C));
  EXPECT_TRUE(Dev.Calls.empty());
  EXPECT_EQ(Dev.Sequence(), SeqBefore);
  EXPECT_EQ(Dev.FErrorCode, 201);
  EXPECT_EQ(Dev.FErrorText, "Invalid input data. [DataLen]");

  C.Build = [](TDataBuffer& D) { TBaseDevice::AddEscapedText(std::string(219, 'a'), D); };
  EXPECT_TRUE(Dev.RunCommand(C)) << Dev.FErrorText;
  EXPECT_EQ(Dev.Calls.size(), 1u);
}

TEST(RunCommand, ExtraIsTheAnswerText) {
  TFakeDevice Dev;
  Dev.Push(TFakeDevice::Answer("E:-45", StatusWith({{2, 0}})));
  TCommand C;
  C.Cmd = 0x91;
  C.Before = {BitSet(2, 0, 210)};
  C.Check = TStatusCheck::Full;
  C.Extra = TRecordExtra::AnswerText;
  EXPECT_FALSE(Dev.RunCommand(C));
  EXPECT_EQ(Dev.FErrorText, "No paper. [2/0]#-45 ");
}

TEST(RunCommand, MapErrorRecordsARefusalUnderItsOwnCode) {
  TFakeDevice Dev;
  Dev.Push(TFakeDevice::Answer("", StatusWith({{1, 1}})));
  TCommand C;
  C.Cmd = 0x6D;
  C.Check = TStatusCheck::Full;
  C.MapError = [](ECmdException& E) {
    if (E.Code == 216) E.Code = 256;
  };
  EXPECT_FALSE(Dev.RunCommand(C));
  EXPECT_EQ(Dev.FErrorCode, 256);
  EXPECT_EQ(Dev.FErrorText.rfind("Only one copy can be printed! [1/1] ", 0), 0u) << Dev.FErrorText;
}

TEST(RunCommand, OtherExceptionInTheParserLeavesCodeZero) {
  TFakeDevice Dev;
  Dev.Push(TFakeDevice::Answer("1", StatusWith({{0, 2}})));
  TCommand C;
  C.Cmd = 0x3E;
  C.Check = TStatusCheck::Basic;
  C.Parse = [](TAnswer&) { throw std::out_of_range("bad conversion"); };
  EXPECT_FALSE(Dev.RunCommand(C));
  EXPECT_EQ(Dev.FErrorCode, 0);
  EXPECT_EQ(Dev.FErrorText, "bad conversion");
}

TEST(RunCommand, NeverRaises) {
  TFakeDevice Dev;
  Dev.Push(TFakeDevice::Answer("1"));
  TCommand C;
  C.Cmd = 0x3E;
  C.Parse = [](TAnswer&) { throw 42; };
  bool Result = true;
  EXPECT_NO_THROW(Result = Dev.RunCommand(C));
  EXPECT_FALSE(Result);
  EXPECT_FALSE(Dev.FErrorText.empty());
}

}  // namespace
}  // namespace fp
