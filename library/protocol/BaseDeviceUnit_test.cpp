#include "library/protocol/BaseDeviceUnit.h"
#include "tests/support/FakeDevice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>

namespace fp::test {
namespace {

using testing::ElementsAreArray;

TDataBuffer Bytes(std::initializer_list<int> L) {
  TDataBuffer b;
  for (int v : L) b.push_back(static_cast<uint8_t>(v));
  return b;
}

TDataBuffer TextBytes(std::string_view S) { return TDataBuffer(S.begin(), S.end()); }

// --- frames -----------------------------------------------------------------------------

TEST(RequestFrame, CommandWithoutDataIsTenBytesWithLen24) {
  TFakeDevice dev;
  dev.SetSequence(0x2A);
  EXPECT_THAT(dev.Frame(0x71, {}),
              ElementsAreArray(Bytes({0x01, 0x24, 0x2A, 0x71, 0x05, 0x30, 0x30, 0x3C, 0x34, 0x03})));
}

TEST(RequestFrame, CommandWithTextData) {
  TDataBuffer data;
  TBaseDevice::AddEscapedText("I3", data);
  EXPECT_THAT(BuildRequestFrame(0x21, 0x2B, data),
              ElementsAreArray(Bytes({0x01, 0x26, 0x21, 0x2B, 0x49, 0x33, 0x05, 0x30, 0x30, 0x3F, 0x33, 0x03})));
}

TEST(RequestFrame, ControlBytesAreEscapedTabAndLfAreNotAndLenCountsEscapedBytes) {
  TDataBuffer data;
  for (uint8_t b : {0x31, 0x0D, 0x32, 0x09, 0x33}) TBaseDevice::AddEscapedByte(b, data);
  EXPECT_THAT(data, ElementsAreArray(Bytes({0x31, 0x10, 0x4D, 0x32, 0x09, 0x33})));

  TDataBuffer other;
  TBaseDevice::AddEscapedText(std::string("\n\x1F\x20\x00", 4), other);
  EXPECT_THAT(other, ElementsAreArray(Bytes({0x0A, 0x10, 0x5F, 0x20, 0x10, 0x40})));

  TDataBuffer frame = BuildRequestFrame(0x30, 0x36, data);
  EXPECT_EQ(frame[1], 0x24 + 6);
  EXPECT_EQ(frame.size(), 10u + 6u);
}

TEST(AnswerFrame, WorkedAnswerIsBuilt) {
  const TDataBuffer expected = Bytes({0x01, 0x2E, 0x2A, 0x71, 0x31, 0x32, 0x33, 0x04, 0x80, 0x80,
                                      0x80, 0x80, 0x80, 0x80, 0x05, 0x30, 0x34, 0x36, 0x38, 0x03});
  EXPECT_THAT(BuildAnswerFrame(0x2A, 0x71, TextBytes("123"), TDataBuffer(6, 0x80)), ElementsAreArray(expected));
  EXPECT_EQ(AnswerLen(3), 0x2E);
}

TEST(AnswerHelpers, TextsOfTheTransports) {
  EXPECT_EQ(EchoMismatchText(0x2B, 0x0A), "[2B/0A]");
  EXPECT_EQ(LenMismatchText(0x2E, 15), "14/15");
  EXPECT_EQ(ChecksumText(0x0468), "0468");
  EXPECT_EQ(ChecksumText(0xF3), "00F3");
  EXPECT_EQ(ChecksumText(0), "0000");
  EXPECT_EQ(ChecksumText(0x1ABCD), "1ABCD");  // a sum past 16 bits keeps all its digits
  EXPECT_EQ(ChecksumDigitText(0x30), "0");
  EXPECT_EQ(ChecksumDigitText(0x3F), "F");
  EXPECT_EQ(ChecksumDigitText(0x40), "10");
  EXPECT_EQ(ChecksumDigitText(0xFF), "CF");
  EXPECT_EQ(ChecksumDigitText(0x2F), "FFFFFFFF");
  EXPECT_EQ(ChecksumDigitText(0x00), "FFFFFFD0");
}

// --- sequence number --------------------------------------------------------------------

TEST(Sequence, FirstExchangeAfterConstructionUses33To80) {
  bool low = false, high = false;
  for (int i = 0; i < 300; ++i) {
    TFakeDevice dev;
    dev.Push(TFakeDevice::Answer(""));
    TDataBuffer data, status;
    ASSERT_TRUE(dev.SendCommand(0x4A, data, 1, status));
    uint8_t seq = dev.Calls.at(0).Seq;
    ASSERT_GE(seq, 33);
    ASSERT_LE(seq, 80);
    low |= seq < 45;
    high |= seq > 68;
  }
  EXPECT_TRUE(low && high) << "the first values do not spread over the range";
}

TEST(Sequence, SteppingWrapsInto20To7F) {
  const std::pair<int, int> cases[] = {{0x7F, 0x20}, {0x20, 0x21}, {0x7E, 0x7F}, {0xFF, 0x20}, {0x10, 0x20}};
  for (auto [From, To] : cases) {
    TFakeDevice dev;
    dev.SetSequence(static_cast<uint8_t>(From));
    dev.Push(TFakeDevice::Answer(""));
    TDataBuffer data, status;
    ASSERT_TRUE(dev.SendCommand(0x4A, data, 1, status));
    EXPECT_EQ(dev.Calls.at(0).Seq, To) << "from " << From;
    EXPECT_EQ(dev.Frame(0x4A, {})[2], To);
  }
}

// --- text and fields --------------------------------------------------------------------

TEST(Fields, ExtractionAndCount) {
  struct TCase {
    const char* Text;
    bool Space;
    std::vector<std::string> Fields;  // successive extractions until the text is empty
    int Count;                        // field count of the whole text
  };
  const TCase cases[] = {
      {"12,,3", false, {"12", "", "3"}, 2},  {"abc", false, {"abc"}, 1},       {"a,b,", false, {"a", "b"}, 2},
      {",a", false, {"", "a"}, 1},           {",,", false, {"", ""}, 0},       {"", false, {}, 0},
      {"one  two", true, {"one", "two"}, 1}, {" lead", true, {"", "lead"}, 1}, {"a b  ", true, {"a", "b"}, 1},
      {"single", true, {"single"}, 1},
  };
  for (const TCase& c : cases) {
    std::string s = c.Text;
    std::vector<std::string> got;
    for (int guard = 0; !s.empty() && guard < 10; ++guard)
      got.push_back(c.Space ? TBaseDevice::ExtractSpaceField(s) : TBaseDevice::ExtractCommaField(s));
    EXPECT_EQ(got, c.Fields) << c.Text;
    EXPECT_EQ(TBaseDevice::CountFields(c.Text), c.Count) << c.Text;
  }
  // The comma field leaves everything after its comma, blanks included.
  std::string s = "a, b";
  EXPECT_EQ(TBaseDevice::ExtractCommaField(s), "a");
  EXPECT_EQ(s, " b");
}

TEST(Fields, BufferToTextKeepsEveryByte) {
  const TDataBuffer b = Bytes({0x41, 0x00, 0xEC, 0x09});
  EXPECT_EQ(TBaseDevice::BufferToText(b), std::string("A\0\xEC\t", 4));
  EXPECT_EQ(TBaseDevice::BytesToText(b, 2, 10), std::string("\xEC\t"));
  EXPECT_EQ(TBaseDevice::BytesToText(b, 5, 1), "");
}

// --- RecordError ------------------------------------------------------------------------

TEST(RecordError, StatusTextsFollowTheCodeTextWithTheirBlanks) {
  TFakeDevice dev;
  TDataBuffer status(6, 0x80);
  status[0] |= 0x06;  // S0.1 and S0.2
  try {
    dev.CheckStatusBasic(status);
    FAIL() << "CheckStatusBasic passed";
  } catch (const ECmdException& e) {
    dev.RecordError(e, status, "");
  }
  EXPECT_EQ(dev.FErrorCode, 204);
  EXPECT_EQ(dev.FErrorText, "Invalid command. [0/1]  The clock is not set. ");
}

TEST(RecordError, ExtraText) {
  struct TCase {
    std::string Extra;
    std::string Text;
  };
  const TCase cases[] = {
      {"", "Lack of funds. [x]"},
      {"   ", "Lack of funds. [x]"},
      {"E:", "Lack of funds. [x]"},
      {"E:12", "Lack of funds. [x]#12"},
      {"E:1E:2\xA2", "Lack of funds. [x]#12"},
      {"\xA2\xA2", "Lack of funds. [x]"},
      {" D,100", "Lack of funds. [x]# D,100"},
  };
  for (const TCase& c : cases) {
    TFakeDevice dev;
    dev.RecordError(ECmdException(207, "[x]"), {}, c.Extra);
    EXPECT_EQ(dev.FErrorText, c.Text) << c.Extra;
    EXPECT_EQ(dev.FErrorCode, 207);
  }
  // Extra comes before the status texts.
  TFakeDevice dev;
  TDataBuffer status(6, 0x80);
  status[2] |= 0x01;
  dev.RecordError(ECmdException(207, "[x]"), status, "E:9");
  EXPECT_EQ(dev.FErrorText, "Lack of funds. [x]#9  No paper. ");
}

TEST(RecordError, OtherExceptionKeepsTheCodeAndTakesTheMessage) {
  TFakeDevice dev;
  dev.Push(TFakeDevice::Answer("x"));
  TDataBuffer data, status;
  ASSERT_TRUE(dev.SendCommand(0x4A, data, 4, status));
  TDataBuffer bad(6, 0x80);
  bad[0] |= 0x01;
  dev.RecordError(std::runtime_error("conversion failed"), bad, "E:1");
  EXPECT_EQ(dev.FErrorCode, 0);
  EXPECT_EQ(dev.FErrorText, "conversion failed");

  dev.FErrorCode = 107;
  dev.RecordError(std::runtime_error("later"), {}, "");
  EXPECT_EQ(dev.FErrorCode, 107);
  EXPECT_EQ(dev.FErrorText, "later");
}

// --- data length ------------------------------------------------------------------------

TEST(DataLength, MoreThan219EscapedBytesAreRefusedBeforeSending) {
  TFakeDevice dev;
  dev.Push(TFakeDevice::Answer(""));
  TDataBuffer data;
  TBaseDevice::AddEscapedText(std::string(110, '\r'), data);  // 110 characters, 220 bytes
  ASSERT_EQ(data.size(), 220u);
  TDataBuffer status;
  EXPECT_FALSE(dev.SendCommand(0x36, data, 4, status));
  EXPECT_TRUE(dev.Calls.empty());
  EXPECT_EQ(dev.FErrorCode, 201);
  EXPECT_EQ(dev.FErrorText, "Invalid input data. [DataLen]");
  EXPECT_THROW(BuildRequestFrame(0x21, 0x36, data), ECmdException);
}

TEST(DataLength, Exactly219BytesGoOutWithLenFF) {
  TFakeDevice dev;
  dev.Push(TFakeDevice::Answer(""));
  TDataBuffer data(219, 'a'), status;
  ASSERT_TRUE(dev.SendCommand(0x36, data, 4, status));
  ASSERT_EQ(dev.Calls.size(), 1u);
  TDataBuffer frame = dev.Frame(0x36, dev.Calls[0].Data);
  EXPECT_EQ(frame[1], 0xFF);
  EXPECT_EQ(frame.size(), 229u);
}

// --- checking without sending -----------------------------------------------------------

// CheckOnly runs commands as far as their checks: a refusal is recorded as a send would
// record it, a command that passes reaches neither the link nor the count of changing
// commands, and the next command outside it is sent as ever.
TEST(CheckOnly, ChecksCommandsWithoutSendingThem) {
  TFakeDevice dev;
  EXPECT_FALSE(dev.CheckOnly([&] { return dev.FPR_SaleByDepartment("1", "Milk", 1, 1.5, 0, 0); }));
  EXPECT_EQ(dev.FErrorCode, 201);
  EXPECT_EQ(dev.FErrorText, "Invalid input data. [Qtty]");
  EXPECT_FALSE(dev.CheckOnly([&] { return dev.FPR_PrintFiscText(std::string(220, 'x')); }));
  EXPECT_EQ(dev.FErrorText, "Invalid input data. [DataLen]");
  EXPECT_TRUE(dev.CheckOnly([&] { return dev.FPR_SaleByDepartment("1", "Milk", 1, 1.5, 2, 0); }));
  EXPECT_TRUE(dev.Calls.empty());
  EXPECT_EQ(dev.FChangingCommandsSent, 0u);

  dev.Push(TFakeDevice::Answer("", {0x80, 0x80, 0x88, 0x80, 0x80, 0x80}));  // a fiscal receipt open
  EXPECT_TRUE(dev.FPR_SaleByDepartment("1", "Milk", 1, 1.5, 2, 0)) << dev.FErrorText;
  ASSERT_EQ(dev.Calls.size(), 1u);
  EXPECT_EQ(dev.FChangingCommandsSent, 1u);
}

// --- the exchange loop ------------------------------------------------------------------

// A clock that moves only when told to: by the link's attempts and by the loop's pauses.
class TStepClock final : public IDeviceClock {
 public:
  TTimePoint Now() override { return TTimePoint{} + std::chrono::hours(1) + std::chrono::milliseconds(Offset); }
  void SleepFor(std::chrono::milliseconds Duration) override {
    Offset += Duration.count();
    Sleeps.push_back(Duration.count());
  }
  long long Offset = 0;
  std::vector<long long> Sleeps;
};

// A link whose attempts follow a script: each one takes its time on the clock and then
// either answers "OK" or fails with its code (-1: an exception that is no device failure).
class TScriptedLink final : public TBaseDevice, private TExchangeLink {
 public:
  struct TStep {
    int32_t Code;  // 0: the answer comes
    long long TakesMs = 0;
  };
  static constexpr TRetryRule kRules[] = {
      {103, TNextStep::Retry, true, 0, 1000, "+start"},
      {104, TNextStep::Retry, false, 200, 0, "+bad"},
      {109, TNextStep::DrainRetry, false, 50, 0, "+drain"},
      {107, TNextStep::StopCounted},
  };
  static constexpr TRetryRule kOtherRetry{0, TNextStep::Retry, true, 0, 0, "+other"};
  TRetryPolicy Policy{kRules, 2, false};

  std::deque<TStep> Script;
  bool Ready = true;
  TStepClock Clock;
  std::vector<TDataBuffer> Frames;
  int Drains = 0;
  std::string Name = "L";

  bool SendCommand(uint8_t Cmd, TDataBuffer& Data, uint8_t Retries, TDataBuffer& Status) override {
    return Exchange(*this, Cmd, Data, Retries, Status);
  }
  bool Connect() override { return true; }
  void Disconnect() override {}
  bool IsConnected() override { return true; }

 private:
  const TRetryPolicy& RetryPolicy() const override { return Policy; }
  IDeviceClock& ExchangeClock() override { return Clock; }
  const std::string& LinkName() const override { return Name; }
  bool LinkReady() override { return Ready; }
  void SendFrame(const TDataBuffer& Frame) override { Frames.push_back(Frame); }
  void ReadAnswer(uint8_t, IDeviceClock::TTimePoint, TDataBuffer& Answer, TDataBuffer& Status) override {
    if (!Answer.empty() || !Status.empty()) throw std::logic_error("buffers not emptied");
    Status.push_back(0x80);                                        // part of a status, also before a failure
    const TStep s = Script.empty() ? TStep{104} : Script.front();  // a bad answer when the script is done
    if (!Script.empty()) Script.pop_front();
    Clock.Offset += s.TakesMs;
    if (s.Code == -1) throw std::runtime_error("other");
    if (s.Code != 0) throw ECmdException(s.Code, "m" + std::to_string(s.Code));
    Answer = TextBytes("OK");
  }
  void DrainAnswer(IDeviceClock::TTimePoint) override { ++Drains; }
  const TRetryRule* OtherFailure(const std::exception& E) override {
    FErrorCode = 103;
    FErrorText = E.what();
    return &kOtherRetry;
  }
};

TEST(ExchangeLoop, EachFailureDoesWhatItsRowSays) {
  struct TCase {
    const char* Name;
    std::vector<TScriptedLink::TStep> Script;
    uint8_t Retries;
    bool Ok;
    int32_t Code;
    std::string Text;
    size_t Frames;
    std::vector<long long> Sleeps;
    int Drains;
  };
  std::string window;
  for (int i = 0; i < 15; ++i) window += "m104+bad";
  const TCase cases[] = {
      {"answer at once", {{0}}, 1, true, 0, "", 1, {}, 0},
      {"uncounted retries, then the answer", {{104}, {109}, {104}, {0}}, 1, true, 0, "", 4, {200, 50, 200}, 1},
      {"counted attempts used up", {{103}, {103}}, 2, false, 107, "m103+startm103+start[L][2]", 2, {}, 0},
      {"no row: the call ends", {{104}, {120}}, 4, false, 120, "m104+badm120", 2, {200}, 0},
      {"retried only within 1000 ms", {{103, 600}, {103, 600}}, 4, false, 103, "m103+startm103", 2, {}, 0},
      {"other exception: the link's rule", {{-1}, {0}}, 1, false, 107, "other+other[L][1]", 1, {}, 0},
      {"other exception, then the answer", {{-1}, {0}}, 2, true, 0, "", 2, {}, 0},
      // 200 ms pauses until more than two whole seconds have passed: 15 attempts.
      {"window of the call", {}, 4, false, 104, window, 15, std::vector<long long>(15, 200), 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TScriptedLink link;
    link.Script.assign(c.Script.begin(), c.Script.end());
    TDataBuffer data = TextBytes("W"), status;
    EXPECT_EQ(link.SendCommand(0x4A, data, c.Retries, status), c.Ok);
    EXPECT_EQ(link.FErrorCode, c.Code);
    EXPECT_EQ(link.FErrorText, c.Text);
    ASSERT_EQ(link.Frames.size(), c.Frames);
    for (const TDataBuffer& f : link.Frames) EXPECT_EQ(f, link.Frames.front()) << "every attempt sends one frame";
    EXPECT_EQ(link.Clock.Sleeps, c.Sleeps);
    EXPECT_EQ(link.Drains, c.Drains);
    EXPECT_EQ(TBaseDevice::BufferToText(data), c.Ok ? "OK" : "W");
  }
}

TEST(ExchangeLoop, LinkNotReadyFailsWith101WithoutSending) {
  TScriptedLink link;
  link.Ready = false;
  TDataBuffer data = TextBytes("W"), status;
  EXPECT_FALSE(link.SendCommand(0x4A, data, 4, status));
  EXPECT_EQ(link.FErrorCode, 101);
  EXPECT_EQ(link.FErrorText, "[L]");
  EXPECT_TRUE(link.Frames.empty());
}

}  // namespace
}  // namespace fp::test
