#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/CommandTestSupport.h"
#include "tests/support/FakeDevice.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace fp::test {
namespace {

using test::StatusWith;

std::string Txt(int32_t Code) { return DeviceErrorText(Code); }

// A receipt-like command: own tests before and after the full check, two counters.
struct TCloseLike {
  int32_t All = -1, Fisc = -1;
  TCommand Make() {
    TCommand c;
    c.Cmd = 0x38;
    c.Before = {BitSet(2, 0, 210), BitSet(0, 4, 219), BitClear(2, 3, 208)};
    c.Check = TStatusCheck::Full;
    c.After = {BitSetEmptyAnswer(2, 5, 215)};
    c.Parse = [this](TAnswer& A) {
      A.RequireFields(2);
      All = A.Int32Field("[AllReceipt]");
      Fisc = A.Int32Field("[FiscReceipt]");
    };
    return c;
  }
};

TEST(RunCommand, SuccessSendsTheDataAndFillsTheOutputs) {
  TFakeDevice dev;
  dev.Push(TFakeDevice::Answer("12,7", StatusWith({{2, 3}})));
  TCloseLike op;
  TCommand c = op.Make();
  TBaseDevice::AddEscapedText("1", c.Data);
  c.Build = [](TDataBuffer& D) { TBaseDevice::AddEscapedText(",x", D); };
  c.Retries = 1;
  ASSERT_TRUE(dev.RunCommand(c)) << dev.FErrorText;
  ASSERT_EQ(dev.Calls.size(), 1u);
  EXPECT_EQ(dev.Calls[0].Cmd, 0x38);
  EXPECT_EQ(TBaseDevice::BufferToText(dev.Calls[0].Data), "1,x");
  EXPECT_EQ(dev.Calls[0].Retries, 1);
  EXPECT_EQ(op.All, 12);
  EXPECT_EQ(op.Fisc, 7);
  EXPECT_EQ(dev.FErrorCode, 0);
  EXPECT_EQ(dev.FErrorText, "");
}

TEST(RunCommand, StatusTestsRunInTheirDeclaredOrder) {
  struct TCase {
    const char* Name;
    TDataBuffer Status;
    std::string Answer;
    int32_t Code;
    std::string Label;
  };
  const TCase cases[] = {
      {"first own test wins", StatusWith({{2, 3}, {2, 0}, {0, 4}}), "1,1", 210, "[2/0]"},
      {"second own test", StatusWith({{2, 3}, {0, 4}}), "1,1", 219, "[0/4]"},
      {"clear bit", StatusWith({}), "1,1", 208, "[2/3]"},
      {"own tests before the general check", StatusWith({{0, 0}}), "1,1", 208, "[2/3]"},
      {"general check before the after-tests", StatusWith({{2, 3}, {2, 5}, {1, 1}}), "", 216, "[1/1]"},
      {"after-test on an empty answer", StatusWith({{2, 3}, {2, 5}}), "", 215, "[2/5]"},
      {"short status: length first", StatusWith({{2, 0}}, 5), "1,1", 200, "[6/5]"},
      {"no status at all", TDataBuffer(), "1,1", 200, "[6/0]"},
  };
  for (const TCase& c : cases) {
    TFakeDevice dev;
    dev.Push(TFakeDevice::Answer(c.Answer, c.Status));
    TCloseLike op;
    EXPECT_FALSE(dev.RunCommand(op.Make())) << c.Name;
    EXPECT_EQ(dev.FErrorCode, c.Code) << c.Name;
    EXPECT_EQ(dev.FErrorText.rfind(TBaseDevice::ErrorCodeText(c.Code, c.Label), 0), 0u)
        << c.Name << ": " << dev.FErrorText;
    EXPECT_EQ(op.All, -1) << c.Name;
  }
  // The after-test with the empty-answer condition does not apply to a non-empty answer.
  TFakeDevice dev;
  dev.Push(TFakeDevice::Answer("3,4", StatusWith({{2, 3}, {2, 5}})));
  TCloseLike op;
  EXPECT_TRUE(dev.RunCommand(op.Make())) << dev.FErrorText;
}

TEST(RunCommand, ShortStatusWithoutDeclaredTestsIsNotChecked) {
  TFakeDevice dev;
  dev.Push(TFakeDevice::Answer("ok", TDataBuffer(5, 0x80)));
  TCommand c;
  c.Cmd = 0x2B;
  std::string line;
  c.Parse = [&](TAnswer& A) { line = A.Text; };
  EXPECT_TRUE(dev.RunCommand(c));
  EXPECT_EQ(line, "ok");
}

TEST(RunCommand, FailureIsRecordedWithOrWithoutStatusAsDeclared) {
  const TDataBuffer status = StatusWith({{0, 1}, {0, 2}});
  TCommand c;
  c.Cmd = 0x71;
  c.Check = TStatusCheck::Basic;

  TFakeDevice with;
  with.Push(TFakeDevice::Answer("", status));
  EXPECT_FALSE(with.RunCommand(c));
  EXPECT_EQ(with.FErrorCode, 204);
  EXPECT_EQ(with.FErrorText, "Invalid command. [0/1]  The clock is not set. ");

  TFakeDevice without;
  without.Push(TFakeDevice::Answer("", status));
  c.Record = TRecordStatus::WithoutStatus;
  EXPECT_FALSE(without.RunCommand(c));
  EXPECT_EQ(without.FErrorText, "Invalid command. [0/1]");

  // A five-byte status recorded with status: the texts read only the bytes there are.
  TFakeDevice shortStatus;
  shortStatus.Push(TFakeDevice::Answer("", StatusWith({{2, 0}}, 5)));
  c.Record = TRecordStatus::WithStatus;
  EXPECT_FALSE(shortStatus.RunCommand(c));
  EXPECT_EQ(shortStatus.FErrorText, Txt(200) + " [6/5]  " + Txt(210) + " ");
}

TEST(RunCommand, FieldFailures) {
  struct TCase {
    const char* Name;
    std::string Answer;
    std::function<void(TAnswer&)> Parse;
    int32_t Code;
    std::string Message;
  };
  const TCase cases[] = {
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
  for (const TCase& c : cases) {
    TFakeDevice dev;
    dev.Push(TFakeDevice::Answer(c.Answer));
    TCommand cmd;
    cmd.Cmd = 0x67;
    cmd.ReadOnly = true;
    cmd.Check = TStatusCheck::Full;
    cmd.Record = TRecordStatus::WithoutStatus;
    cmd.Parse = c.Parse;
    EXPECT_FALSE(dev.RunCommand(cmd)) << c.Name;
    EXPECT_EQ(dev.FErrorCode, c.Code) << c.Name;
    EXPECT_EQ(dev.FErrorText, TBaseDevice::ErrorCodeText(c.Code, c.Message)) << c.Name;
  }
}

// 201 says that nothing went to the printer. Once a command that may change the printer was
// handed to the link (counted in FChangingCommandsSent, also when the link fails), a field
// that cannot be read is 200, for that command and for a read after it; a refusal before
// sending stays 201 and counts nothing.
TEST(RunCommand, AnswerThatCannotBeReadAfterAChangeIs200) {
  auto command = [](bool ReadOnly) {
    TCommand c;
    c.Cmd = ReadOnly ? 0x67 : 0x35;
    c.ReadOnly = ReadOnly;
    c.Check = TStatusCheck::Full;
    c.Parse = [](TAnswer& A) { A.IntField("[Amount2]"); };
    return c;
  };
  TFakeDevice dev;
  dev.Push(TFakeDevice::Answer("x"));
  EXPECT_FALSE(dev.RunCommand(command(true)));
  EXPECT_EQ(dev.FErrorCode, 201);
  EXPECT_EQ(dev.FChangingCommandsSent, 0u);

  TCommand refused = command(false);
  refused.Build = [](TDataBuffer&) { throw ECmdException(201, "[PaidMode]"); };
  EXPECT_FALSE(dev.RunCommand(refused));
  EXPECT_EQ(dev.FErrorCode, 201);
  EXPECT_EQ(dev.FChangingCommandsSent, 0u);

  dev.Push(TFakeDevice::Answer("x"));
  EXPECT_FALSE(dev.RunCommand(command(false)));
  EXPECT_EQ(dev.FErrorCode, 200);
  EXPECT_EQ(dev.FErrorText, TBaseDevice::ErrorCodeText(200, "[Amount2]") + " ");
  EXPECT_EQ(dev.FChangingCommandsSent, 1u);

  dev.Push(TFakeDevice::Answer("x"));
  EXPECT_FALSE(dev.RunCommand(command(true)));
  EXPECT_EQ(dev.FErrorCode, 200);

  // A changing command whose exchange failed counts: it may have reached the printer.
  dev.FChangingCommandsSent = 0;
  dev.Push(TFakeDevice::Failure(103, "no answer"));
  EXPECT_FALSE(dev.RunCommand(command(false)));
  EXPECT_EQ(dev.FChangingCommandsSent, 1u);
  dev.FChangingCommandsSent = 0;
  dev.Push(TFakeDevice::Answer("x"));
  EXPECT_FALSE(dev.RunCommand(command(true)));
  EXPECT_EQ(dev.FErrorCode, 201);
}

TEST(RunCommand, FieldReaders) {
  TFakeDevice dev;
  dev.Push(TFakeDevice::Answer("-12,150,x,2.5,,7,P rest  of it"));
  int64_t i = 0, def = 0, seven = 0;
  double h = 0, hDef = 0, n = 0;
  std::string word, rest;
  TCommand c;
  c.Cmd = 0x6E;
  c.Check = TStatusCheck::Full;
  c.Parse = [&](TAnswer& A) {
    i = A.IntField("[I]");
    h = A.HundredthsField("[H]");
    def = A.IntFieldOr(-1);
    n = A.NumberFieldOr(0);
    hDef = A.HundredthsFieldOr(9);
    seven = A.IntField("[7]");
    word = A.SpaceField();
    rest = A.Text;
  };
  ASSERT_TRUE(dev.RunCommand(c)) << dev.FErrorText;
  EXPECT_EQ(i, -12);
  EXPECT_DOUBLE_EQ(h, 1.5);
  EXPECT_EQ(def, -1);
  EXPECT_DOUBLE_EQ(n, 2.5);
  EXPECT_DOUBLE_EQ(hDef, 9);
  EXPECT_EQ(seven, 7);
  EXPECT_EQ(word, "P");
  EXPECT_EQ(rest, "rest  of it");
}

TEST(RunCommand, TransportFailureStandsAndNothingIsParsed) {
  TFakeDevice dev;
  dev.Push(TFakeDevice::Failure(107, "Fail read data from port. [COM1][4]"));
  bool parsed = false;
  TCommand c;
  c.Cmd = 0x4A;
  c.Check = TStatusCheck::Basic;
  c.Parse = [&](TAnswer&) { parsed = true; };
  EXPECT_FALSE(dev.RunCommand(c));
  EXPECT_FALSE(parsed);
  EXPECT_EQ(dev.FErrorCode, 107);
  EXPECT_EQ(dev.FErrorText, "Fail read data from port. [COM1][4]");
}

TEST(RunCommand, ArgumentCheckInBuildSendsNothing) {
  TFakeDevice dev;
  dev.Push(TFakeDevice::Answer(""));
  TCommand c;
  c.Cmd = 0x30;
  c.Build = [](TDataBuffer& D) {
    TBaseDevice::AddEscapedText("1,", D);
    throw ECmdException(201, "[OperPwd]");
  };
  TDataBuffer seen;
  c.AfterRecord = [&](const std::exception&, const TDataBuffer& D) { seen = D; };
  EXPECT_FALSE(dev.RunCommand(c));
  EXPECT_TRUE(dev.Calls.empty());
  EXPECT_EQ(dev.FErrorCode, 201);
  EXPECT_EQ(dev.FErrorText, "Invalid input data. [OperPwd]");
  EXPECT_EQ(TBaseDevice::BufferToText(seen), "1,");  // the request built so far
}

TEST(RunCommand, DataLongerThan219BytesIsRefusedWithoutStatus) {
  TFakeDevice dev;
  dev.Push(TFakeDevice::Answer(""));
  const uint8_t seqBefore = dev.Sequence();
  TCommand c;
  c.Cmd = 0x36;
  c.Check = TStatusCheck::Full;
  c.Build = [](TDataBuffer& D) { TBaseDevice::AddEscapedText(std::string(219, 'a') + "\r", D); };
  EXPECT_FALSE(dev.RunCommand(c));
  EXPECT_TRUE(dev.Calls.empty());
  EXPECT_EQ(dev.Sequence(), seqBefore);
  EXPECT_EQ(dev.FErrorCode, 201);
  EXPECT_EQ(dev.FErrorText, "Invalid input data. [DataLen]");

  c.Build = [](TDataBuffer& D) { TBaseDevice::AddEscapedText(std::string(219, 'a'), D); };
  EXPECT_TRUE(dev.RunCommand(c)) << dev.FErrorText;
  EXPECT_EQ(dev.Calls.size(), 1u);
}

TEST(RunCommand, ExtraIsTheAnswerText) {
  TFakeDevice dev;
  dev.Push(TFakeDevice::Answer("E:-45", StatusWith({{2, 0}})));
  TCommand c;
  c.Cmd = 0x91;
  c.Before = {BitSet(2, 0, 210)};
  c.Check = TStatusCheck::Full;
  c.Extra = TRecordExtra::AnswerText;
  EXPECT_FALSE(dev.RunCommand(c));
  EXPECT_EQ(dev.FErrorText, "No paper. [2/0]#-45 ");
}

TEST(RunCommand, MapErrorRecordsARefusalUnderItsOwnCode) {
  TFakeDevice dev;
  dev.Push(TFakeDevice::Answer("", StatusWith({{1, 1}})));
  TCommand c;
  c.Cmd = 0x6D;
  c.Check = TStatusCheck::Full;
  c.MapError = [](ECmdException& E) {
    if (E.Code == 216) E.Code = 256;
  };
  EXPECT_FALSE(dev.RunCommand(c));
  EXPECT_EQ(dev.FErrorCode, 256);
  EXPECT_EQ(dev.FErrorText.rfind("Only one copy can be printed! [1/1] ", 0), 0u) << dev.FErrorText;
}

TEST(RunCommand, OtherExceptionInTheParserLeavesCodeZero) {
  TFakeDevice dev;
  dev.Push(TFakeDevice::Answer("1", StatusWith({{0, 2}})));
  TCommand c;
  c.Cmd = 0x3E;
  c.Check = TStatusCheck::Basic;
  c.Parse = [](TAnswer&) { throw std::out_of_range("bad conversion"); };
  EXPECT_FALSE(dev.RunCommand(c));
  EXPECT_EQ(dev.FErrorCode, 0);
  EXPECT_EQ(dev.FErrorText, "bad conversion");
}

TEST(RunCommand, NeverRaises) {
  TFakeDevice dev;
  dev.Push(TFakeDevice::Answer("1"));
  TCommand c;
  c.Cmd = 0x3E;
  c.Parse = [](TAnswer&) { throw 42; };
  bool result = true;
  EXPECT_NO_THROW(result = dev.RunCommand(c));
  EXPECT_FALSE(result);
  EXPECT_FALSE(dev.FErrorText.empty());
}

}  // namespace
}  // namespace fp::test
