#include "driver/BaseDeviceUnit.h"
#include "driver/FakeDevice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

namespace fp {
namespace {

using testing::ElementsAreArray;

TDataBuffer Bytes(std::initializer_list<int> L) {
  TDataBuffer B;
  for (int V : L) B.push_back(static_cast<uint8_t>(V));
  return B;
}

TDataBuffer TextBytes(std::string_view S) { return TDataBuffer(S.begin(), S.end()); }

// --- frames -----------------------------------------------------------------------------

TEST(RequestFrame, CommandWithoutDataIsTenBytesWithLen24) {
  TFakeDevice Dev;
  Dev.SetSequence(0x2A);
  EXPECT_THAT(Dev.Frame(0x71, {}), ElementsAreArray(Bytes({0x01, 0x24, 0x2A, 0x71, 0x05, 0x30, 0x30, 0x3C, 0x34, 0x03})));
}

TEST(RequestFrame, CommandWithTextData) {
  TDataBuffer Data;
  TBaseDevice::AddEscapedText("I3", Data);
  EXPECT_THAT(BuildRequestFrame(0x21, 0x2B, Data),
              ElementsAreArray(Bytes({0x01, 0x26, 0x21, 0x2B, 0x49, 0x33, 0x05, 0x30, 0x30, 0x3F, 0x33, 0x03})));
}

TEST(RequestFrame, ControlBytesAreEscapedTabAndLfAreNotAndLenCountsEscapedBytes) {
  TDataBuffer Data;
  for (uint8_t B : {0x31, 0x0D, 0x32, 0x09, 0x33}) TBaseDevice::AddEscapedByte(B, Data);
  EXPECT_THAT(Data, ElementsAreArray(Bytes({0x31, 0x10, 0x4D, 0x32, 0x09, 0x33})));

  TDataBuffer Other;
  TBaseDevice::AddEscapedText(std::string("\n\x1F\x20\x00", 4), Other);
  EXPECT_THAT(Other, ElementsAreArray(Bytes({0x0A, 0x10, 0x5F, 0x20, 0x10, 0x40})));

  TDataBuffer Frame = BuildRequestFrame(0x30, 0x36, Data);
  EXPECT_EQ(Frame[1], 0x24 + 6);
  EXPECT_EQ(Frame.size(), 10u + 6u);
}

TEST(AnswerFrame, WorkedAnswerIsBuiltAndAccepted) {
  const TDataBuffer Expected = Bytes({0x01, 0x2E, 0x2A, 0x71, 0x31, 0x32, 0x33, 0x04, 0x80, 0x80, 0x80, 0x80,
                                      0x80, 0x80, 0x05, 0x30, 0x34, 0x36, 0x38, 0x03});
  EXPECT_THAT(BuildAnswerFrame(0x2A, 0x71, TextBytes("123"), TDataBuffer(6, 0x80)), ElementsAreArray(Expected));
  EXPECT_EQ(AnswerLen(3), 0x2E);

  TDataBuffer Data, Status;
  ASSERT_EQ(AcceptAnswer(Expected, 0x2A, 0x71, Data, Status), TAnswerVerdict::Accepted);
  EXPECT_EQ(TBaseDevice::BufferToText(Data), "123");
  EXPECT_THAT(Status, ElementsAreArray(TDataBuffer(6, 0x80)));
}

// Replaces the check sum of an answer frame by the one of its (possibly altered) bytes.
void Reseal(TDataBuffer& Frame) {
  size_t End = Frame.size() - 6;  // the 0x05 before BCC(4) and 0x03
  EncodeChecksum(ComputeChecksum(&Frame[1], End), &Frame[End + 1]);
}

TEST(AnswerFrame, AcceptanceTable) {
  const TDataBuffer Good = BuildAnswerFrame(0x2A, 0x71, TextBytes("123"), TDataBuffer(6, 0x80));
  struct TCase {
    const char* Name;
    TDataBuffer Frame;
    TAnswerVerdict Verdict;
  };
  std::vector<TCase> Cases;
  Cases.push_back({"good", Good, TAnswerVerdict::Accepted});
  Cases.push_back({"empty data", BuildAnswerFrame(0x2A, 0x71, {}, TDataBuffer(6, 0x80)), TAnswerVerdict::Accepted});
  {
    TDataBuffer F = Good;
    F[2] = 0x2B;
    Reseal(F);
    Cases.push_back({"wrong SEQ", F, TAnswerVerdict::WrongSeq});
  }
  {
    TDataBuffer F = Good;
    F[3] = 0x72;
    Reseal(F);
    Cases.push_back({"wrong CMD", F, TAnswerVerdict::WrongCmd});
  }
  {
    TDataBuffer F = Good;
    F[1] = 0x2F;
    Reseal(F);
    Cases.push_back({"LEN one too high", F, TAnswerVerdict::LenMismatch});
  }
  {
    TDataBuffer F = Good;
    F[1] = 0x10;  // below 0x20: LEN - 0x20 is negative and matches no count
    Reseal(F);
    Cases.push_back({"LEN below 0x20", F, TAnswerVerdict::LenMismatch});
  }
  {
    TDataBuffer F = Good;
    F[F.size() - 2] = 0x39;  // lowest nibble 8 -> 9
    Cases.push_back({"check sum off by one", F, TAnswerVerdict::BadChecksum});
  }
  {
    TDataBuffer F = Good;
    F[4] = 0x32;  // data altered, check sum not
    Cases.push_back({"data altered", F, TAnswerVerdict::BadChecksum});
  }
  {
    TDataBuffer F = Good;
    F[F.size() - 5] = 0x40;  // not a check sum digit
    Cases.push_back({"BCC byte outside 0x30..0x3F", F, TAnswerVerdict::BadChecksum});
  }
  Cases.push_back({"five status bytes", BuildAnswerFrame(0x2A, 0x71, TextBytes("123"), TDataBuffer(5, 0x80)),
                   TAnswerVerdict::StatusCount});
  Cases.push_back({"seven status bytes", BuildAnswerFrame(0x2A, 0x71, TextBytes("1"), TDataBuffer(7, 0x80)),
                   TAnswerVerdict::StatusCount});
  {
    TDataBuffer F = Good;
    F.pop_back();
    Cases.push_back({"no end byte", F, TAnswerVerdict::Malformed});
  }
  Cases.push_back({"too short", Bytes({0x01, 0x24, 0x03}), TAnswerVerdict::Malformed});

  for (const TCase& C : Cases) {
    TDataBuffer Data = TextBytes("left over"), Status = TextBytes("x");
    EXPECT_EQ(AcceptAnswer(C.Frame, 0x2A, 0x71, Data, Status), C.Verdict) << C.Name;
    if (C.Verdict != TAnswerVerdict::Accepted) {
      EXPECT_TRUE(Data.empty()) << C.Name;
      EXPECT_TRUE(Status.empty()) << C.Name;
    }
  }
}

TEST(AnswerHelpers, TextsOfTheTransports) {
  EXPECT_EQ(EchoMismatchText(0x2B, 0x0A), "[2B/0A]");
  EXPECT_EQ(LenMismatchText(0x2E, 15), "14/15");
  EXPECT_EQ(ChecksumText(0x0468), "0468");
  EXPECT_EQ(ChecksumText(0xF3), "00F3");
  EXPECT_EQ(ChecksumDigitText(0x30), "0");
  EXPECT_EQ(ChecksumDigitText(0x3F), "F");
  EXPECT_EQ(ChecksumDigitText(0x40), "10");
  EXPECT_EQ(ChecksumDigitText(0x2F), "FFFFFFFF");
  uint16_t Sum = 0;
  const uint8_t Bcc[] = {0x30, 0x34, 0x3F, 0x3A};
  ASSERT_TRUE(DecodeChecksum(Bcc, 4, Sum));
  EXPECT_EQ(Sum, 0x04FA);
  EXPECT_FALSE(DecodeChecksum(Bcc, 3, Sum));
}

// --- sequence number --------------------------------------------------------------------

TEST(Sequence, FirstExchangeAfterConstructionUses33To80) {
  bool Low = false, High = false;
  for (int I = 0; I < 300; ++I) {
    TFakeDevice Dev;
    Dev.Push(TFakeDevice::Answer(""));
    TDataBuffer Data, Status;
    ASSERT_TRUE(Dev.SendCommand(0x4A, Data, 1, Status));
    uint8_t Seq = Dev.Calls.at(0).Seq;
    ASSERT_GE(Seq, 33);
    ASSERT_LE(Seq, 80);
    Low |= Seq < 45;
    High |= Seq > 68;
  }
  EXPECT_TRUE(Low && High) << "the first values do not spread over the range";
}

TEST(Sequence, SteppingWrapsInto20To7F) {
  const std::pair<int, int> Cases[] = {{0x7F, 0x20}, {0x20, 0x21}, {0x7E, 0x7F}, {0xFF, 0x20}, {0x10, 0x20}};
  for (auto [From, To] : Cases) {
    TFakeDevice Dev;
    Dev.SetSequence(static_cast<uint8_t>(From));
    Dev.Push(TFakeDevice::Answer(""));
    TDataBuffer Data, Status;
    ASSERT_TRUE(Dev.SendCommand(0x4A, Data, 1, Status));
    EXPECT_EQ(Dev.Calls.at(0).Seq, To) << "from " << From;
    EXPECT_EQ(Dev.Frame(0x4A, {})[2], To);
  }
}

// --- text and fields --------------------------------------------------------------------

TEST(Fields, ExtractionAndCount) {
  struct TCase {
    const char* Text;
    bool Space;
    std::vector<std::string> Fields;  // successive extractions until the text is empty
    int Count;                        // field count of the original text
  };
  const TCase Cases[] = {
      {"12,,3", false, {"12", "", "3"}, 2},
      {"abc", false, {"abc"}, 1},
      {"a,b,", false, {"a", "b"}, 2},
      {",a", false, {"", "a"}, 1},
      {",,", false, {"", ""}, 0},
      {"", false, {}, 0},
      {"one  two", true, {"one", "two"}, 1},
      {" lead", true, {"", "lead"}, 1},
      {"a b  ", true, {"a", "b"}, 1},
      {"single", true, {"single"}, 1},
  };
  for (const TCase& C : Cases) {
    std::string S = C.Text;
    std::vector<std::string> Got;
    for (int Guard = 0; !S.empty() && Guard < 10; ++Guard)
      Got.push_back(C.Space ? TBaseDevice::ExtractSpaceField(S) : TBaseDevice::ExtractCommaField(S));
    EXPECT_EQ(Got, C.Fields) << C.Text;
    EXPECT_EQ(TBaseDevice::CountFields(C.Text), C.Count) << C.Text;
  }
  // The comma field leaves everything after its comma, blanks included.
  std::string S = "a, b";
  EXPECT_EQ(TBaseDevice::ExtractCommaField(S), "a");
  EXPECT_EQ(S, " b");
}

TEST(Fields, BufferToTextKeepsEveryByte) {
  const TDataBuffer B = Bytes({0x41, 0x00, 0xEC, 0x09});
  EXPECT_EQ(TBaseDevice::BufferToText(B), std::string("A\0\xEC\t", 4));
  EXPECT_EQ(TBaseDevice::BytesToText(B, 2, 10), std::string("\xEC\t"));
  EXPECT_EQ(TBaseDevice::BytesToText(B, 5, 1), "");
}

// --- RecordError ------------------------------------------------------------------------

TEST(RecordError, StatusTextsFollowTheCodeTextWithTheirBlanks) {
  TFakeDevice Dev;
  TDataBuffer Status(6, 0x80);
  Status[0] |= 0x06;  // S0.1 and S0.2
  try {
    Dev.CheckStatusBasic(Status);
    FAIL() << "CheckStatusBasic passed";
  } catch (const ECmdException& E) {
    Dev.RecordError(E, Status, "");
  }
  EXPECT_EQ(Dev.FErrorCode, 204);
  EXPECT_EQ(Dev.FErrorText, "Invalid command. [0/1]  The clock is not set. ");
}

TEST(RecordError, ExtraText) {
  struct TCase {
    std::string Extra;
    std::string Text;
  };
  const TCase Cases[] = {
      {"", "Lack of funds. [x]"},
      {"   ", "Lack of funds. [x]"},
      {"E:", "Lack of funds. [x]"},
      {"E:12", "Lack of funds. [x]#12"},
      {"E:1E:2\xA2", "Lack of funds. [x]#12"},
      {"\xA2\xA2", "Lack of funds. [x]"},
      {" D,100", "Lack of funds. [x]# D,100"},
  };
  for (const TCase& C : Cases) {
    TFakeDevice Dev;
    Dev.RecordError(ECmdException(207, "[x]"), {}, C.Extra);
    EXPECT_EQ(Dev.FErrorText, C.Text) << C.Extra;
    EXPECT_EQ(Dev.FErrorCode, 207);
  }
  // Extra comes before the status texts.
  TFakeDevice Dev;
  TDataBuffer Status(6, 0x80);
  Status[2] |= 0x01;
  Dev.RecordError(ECmdException(207, "[x]"), Status, "E:9");
  EXPECT_EQ(Dev.FErrorText, "Lack of funds. [x]#9  No paper. ");
}

TEST(RecordError, OtherExceptionKeepsTheCodeAndTakesTheMessage) {
  TFakeDevice Dev;
  Dev.Push(TFakeDevice::Answer("x"));
  TDataBuffer Data, Status;
  ASSERT_TRUE(Dev.SendCommand(0x4A, Data, 4, Status));
  TDataBuffer Bad(6, 0x80);
  Bad[0] |= 0x01;
  Dev.RecordError(std::runtime_error("conversion failed"), Bad, "E:1");
  EXPECT_EQ(Dev.FErrorCode, 0);
  EXPECT_EQ(Dev.FErrorText, "conversion failed");

  Dev.FErrorCode = 107;
  Dev.RecordError(std::runtime_error("later"), {}, "");
  EXPECT_EQ(Dev.FErrorCode, 107);
  EXPECT_EQ(Dev.FErrorText, "later");
}

// --- data length ------------------------------------------------------------------------

TEST(DataLength, MoreThan219EscapedBytesAreRefusedBeforeSending) {
  TFakeDevice Dev;
  Dev.Push(TFakeDevice::Answer(""));
  TDataBuffer Data;
  TBaseDevice::AddEscapedText(std::string(110, '\r'), Data);  // 110 characters, 220 bytes
  ASSERT_EQ(Data.size(), 220u);
  TDataBuffer Status;
  EXPECT_FALSE(Dev.SendCommand(0x36, Data, 4, Status));
  EXPECT_TRUE(Dev.Calls.empty());
  EXPECT_EQ(Dev.FErrorCode, 201);
  EXPECT_EQ(Dev.FErrorText, "Invalid input data. [DataLen]");
  EXPECT_THROW(BuildRequestFrame(0x21, 0x36, Data), ECmdException);
}

TEST(DataLength, Exactly219BytesGoOutWithLenFF) {
  TFakeDevice Dev;
  Dev.Push(TFakeDevice::Answer(""));
  TDataBuffer Data(219, 'a'), Status;
  ASSERT_TRUE(Dev.SendCommand(0x36, Data, 4, Status));
  ASSERT_EQ(Dev.Calls.size(), 1u);
  TDataBuffer Frame = Dev.Frame(0x36, Dev.Calls[0].Data);
  EXPECT_EQ(Frame[1], 0xFF);
  EXPECT_EQ(Frame.size(), 229u);
}

}  // namespace
}  // namespace fp
