#include "library/transport/RS232DeviceUnit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <thread>

#include "library/transport/TransportTestSupport.h"
#include "tests/printermodel/PrinterModel.h"

namespace fp {
namespace {

using namespace std::chrono_literals;
using model::Fault;
using model::FaultOptions;

const std::string kNoAnswer = "Fiscal printer does not respond. <01>\r\n[RETRY->]";

// The printer model on a pty, and the device on the other side of it, with a clock the
// test can move on.
class RS232Exchange : public ::testing::Test {
protected:
  void SetUp() override {
    Device.SetPortName(Pty.SlavePath());
    Device.SetBaudRate("115200");
    ASSERT_TRUE(Device.Connect()) << Device.FErrorText;
  }
  std::vector<model::Request> Requests() { return Model.Requests(); }

  model::PrinterModel Model;
  model::PtyEndpoint Pty{Model};
  TFakeDeviceClock Clock;
  TRS32Device Device{nullptr, Clock};
};

TEST_F(RS232Exchange, GoodAnswerIsTakenAtOnce) {
  auto R = RunExchange(Device, 4);
  ASSERT_TRUE(R.Ok) << Device.FErrorText;
  EXPECT_EQ(Device.FErrorCode, 0);
  EXPECT_EQ(Device.FErrorText, "");
  ASSERT_EQ(R.Status.size(), 6u);
  for (uint8_t B : R.Status) EXPECT_EQ(B & 0x80, 0x80);
  auto Q = Requests();
  ASSERT_EQ(Q.size(), 1u);
  EXPECT_EQ(Q[0].cmd, 0x4A);
  EXPECT_EQ(Q[0].data, "W");
  EXPECT_TRUE(Q[0].frameOk);
}

TEST_F(RS232Exchange, SynKeepsWaitingUntil120Seconds) {
  struct Case {
    std::chrono::milliseconds Jump;
    bool Ok;
  };
  // The clock jumps while the printer sends SYN.
  for (const Case& C : {Case{30s, true}, Case{90s, true}, Case{120s, false}}) {
    SCOPED_TRACE(C.Jump.count());
    auto R = ExchangeWhileBusy(Model, Clock, Device, C.Jump);
    EXPECT_EQ(R.Ok, C.Ok);
    EXPECT_EQ(Model.RequestCount(), 1u);  // one attempt, never sent again
    if (!C.Ok) {
      EXPECT_EQ(Device.FErrorCode, 120);
      EXPECT_EQ(Device.FErrorText, "Device is bussy. ");
    }
  }
}

TEST_F(RS232Exchange, BadAnswersAreRetriedAfter200msWithoutCounting) {
  for (Fault F : {Fault::Nak, Fault::BadChecksum, Fault::WrongLen}) {
    SCOPED_TRACE(model::FaultName(F));
    Model.ClearRequests();
    const size_t SleepsBefore = Clock.Sleeps().size();
    Model.InjectNext(F, Times(2));
    // With Retries 1 a counted attempt would end the call after the first bad answer.
    auto R = RunExchange(Device, 1);
    EXPECT_TRUE(R.Ok) << Device.FErrorText;
    auto Q = Requests();
    ASSERT_EQ(Q.size(), 3u);
    EXPECT_EQ(Q[0].seq, Q[2].seq);
    auto Sleeps = Clock.Sleeps();
    ASSERT_EQ(Sleeps.size(), SleepsBefore + 2);
    EXPECT_EQ(Sleeps.back(), 200ms);
  }
}

TEST_F(RS232Exchange, WrongEchoIsReadAwayThenSentAgain) {
  for (Fault F : {Fault::WrongSeq, Fault::WrongCmd}) {
    SCOPED_TRACE(model::FaultName(F));
    Model.ClearRequests();
    const size_t SleepsBefore = Clock.Sleeps().size();
    Model.InjectNext(F);
    const auto Start = std::chrono::steady_clock::now();
    auto R = RunExchange(Device, 1);
    EXPECT_TRUE(R.Ok) << Device.FErrorText;
    // The rest of the wrong answer is read until the line stays quiet for 300 ms.
    EXPECT_GE(SecondsSince(Start), 0.29);
    auto Q = Requests();
    ASSERT_EQ(Q.size(), 2u);
    EXPECT_EQ(Q[0].seq, Q[1].seq);
    auto Sleeps = Clock.Sleeps();
    ASSERT_EQ(Sleeps.size(), SleepsBefore + 1);
    EXPECT_EQ(Sleeps.back(), 50ms);
  }
}

TEST_F(RS232Exchange, OneAttemptAllowedStopsAfterOneMissingAnswer) {
  Model.InjectNext(Fault::Silence);
  const auto Start = std::chrono::steady_clock::now();
  auto R = RunExchange(Device, 1);
  EXPECT_FALSE(R.Ok);
  EXPECT_EQ(Device.FErrorCode, 107);
  EXPECT_EQ(Device.FErrorText, kNoAnswer + "Fail read data from port. [" + Pty.SlavePath() + "][1]");
  EXPECT_EQ(Model.RequestCount(), 1u);  // not sent again
  EXPECT_NEAR(SecondsSince(Start), 0.7, 0.25);
}

// Real time: four answer starts that never come, 700 ms each.
TEST_F(RS232Exchange, FourSilentAttemptsGiveTheFullErrorText) {
  Device.Disconnect();  // the port is opened exclusively
  TRS32Device Real;      // on the real clock
  Real.SetPortName(Pty.SlavePath());
  ASSERT_TRUE(Real.Connect());
  Model.InjectNext(Fault::Silence, Times(4));
  const auto Start = std::chrono::steady_clock::now();
  auto R = RunExchange(Real, 4);
  const double Took = SecondsSince(Start);
  EXPECT_FALSE(R.Ok);
  EXPECT_EQ(Real.FErrorCode, 107);
  EXPECT_EQ(Real.FErrorText,
            kNoAnswer + kNoAnswer + kNoAnswer + kNoAnswer + "Fail read data from port. [" + Pty.SlavePath() + "][4]");
  EXPECT_EQ(Model.RequestCount(), 4u);
  EXPECT_GE(Took, 4 * 0.7 - 0.05);
  EXPECT_LE(Took, 4 * 0.7 + 0.6);
}

TEST_F(RS232Exchange, MissingAnswerAfter4SecondsEndsTheCall) {
  Model.InjectNext(Fault::Silence, Times(4));
  std::thread Jumper = AdvanceAfterRequest(Model, Clock, 4001ms);
  auto R = RunExchange(Device, 4);
  Jumper.join();
  EXPECT_FALSE(R.Ok);
  EXPECT_EQ(Device.FErrorCode, 103);
  EXPECT_EQ(Device.FErrorText, "Fiscal printer does not respond. <01>");
  EXPECT_EQ(Model.RequestCount(), 1u);
}

TEST_F(RS232Exchange, RepeatedNakStopsAfter40Seconds) {
  Model.InjectNext(Fault::Nak, Times(1000));
  auto R = RunExchange(Device, 4);
  EXPECT_FALSE(R.Ok);
  EXPECT_EQ(Device.FErrorCode, 106);
  const std::string Once = "NAK. Printer does not recognize the command. <NAK>\r\n[RETRY->>]";
  ASSERT_GE(Device.FErrorText.size(), Once.size());
  EXPECT_EQ(Device.FErrorText.substr(0, Once.size()), Once);
  EXPECT_EQ(Device.FErrorText.substr(Device.FErrorText.size() - Once.size()), Once);
  // 200 ms pauses until more than 40 whole seconds have passed (a second of real time or
  // so comes on top).
  EXPECT_GE(Model.RequestCount(), 195u);
  EXPECT_LE(Model.RequestCount(), 206u);
}

TEST_F(RS232Exchange, StrayBytesBeforeTheAnswerArePassedOverFor60Seconds) {
  Model.SetAnswerDelay(300ms);
  for (auto Jump : {0s, 61s}) {
    SCOPED_TRACE(Jump.count());
    Model.ClearRequests();
    Model.InjectNext(Fault::StrayBytes);
    std::thread Jumper = AdvanceAfterRequest(Model, Clock, Jump);
    auto R = RunExchange(Device, 4);
    Jumper.join();
    if (Jump == 0s) {
      EXPECT_TRUE(R.Ok) << Device.FErrorText;
    } else {
      EXPECT_FALSE(R.Ok);
      EXPECT_EQ(Device.FErrorCode, 103);
      EXPECT_EQ(Device.FErrorText, "Fiscal printer does not respond. <01> first byte not recieved");
    }
    EXPECT_EQ(Model.RequestCount(), 1u);
  }
}

TEST_F(RS232Exchange, LowStatusByteIsCountedButNotKept) {
  FaultOptions O;
  O.statusIndex = 2;
  O.statusValue = 0x02;
  Model.InjectNext(Fault::BadStatusByte, O);
  auto R = RunExchange(Device, 4);
  EXPECT_TRUE(R.Ok) << Device.FErrorText;
  EXPECT_EQ(R.Status.size(), 5u);
}

TEST(RS232Device, PortThatDoesNotExist) {
  TRS32Device D;
  D.SetPortName("/dev/fp-no-such-port");
  D.SetBaudRate("9601");
  EXPECT_FALSE(D.Connect());
  EXPECT_FALSE(D.IsConnected());
  EXPECT_EQ(D.FErrorCode, 102);
  EXPECT_EQ(D.FErrorText, "Failed open port /dev/fp-no-such-port/9600 No such file or directory");
}

TEST(RS232Device, SpeedsByText) {
  const std::pair<const char*, uint32_t> Cases[] = {
      {"110", 110},       {"300", 300},       {"600", 600},       {"1200", 1200},     {"2400", 2400},
      {"4800", 4800},     {"9600", 9600},     {"14400", 14400},   {"19200", 19200},   {"38400", 38400},
      {"56000", 56000},   {"57600", 57600},   {"115200", 115200}, {"128000", 128000}, {"256000", 256000},
      {"9601", 9600},     {"", 9600},         {"115200 ", 9600},  {"230400", 9600},   {"abc", 9600}};
  for (auto [Text, Baud] : Cases) {
    std::string Listed;
    EXPECT_EQ(RS232SpeedFromText(Text, &Listed), Baud) << Text;
    EXPECT_EQ(Listed, std::to_string(Baud)) << Text;
  }
}

// A port that records what the device does with it and fails where told to. Every frame
// written is answered with the bytes Reply makes of it; they are there at once, and once
// they are read nothing more comes (a read then returns at once, as after its time-out).
class TScriptedPort : public TComPort {
public:
  bool Open_ = false;
  bool FailClose = false;
  bool FailWrite = false;
  size_t ShortWrite = 0;
  int FailReads = 0;  // so many reads fail with a line error first
  int Writes = 0;
  uint32_t Baud = 0;
  std::function<TDataBuffer(const TDataBuffer& Request)> Reply;

  void SetBaudRate(uint32_t B) override { Baud = B; }
  void Open() override { Open_ = true; }
  void Close() override {
    Open_ = false;
    if (FailClose) throw EComPortError("Input/output error", 5);
  }
  bool Connected() const override { return Open_; }
  void Purge() override { Pending.clear(); }
  size_t Write(const void* Data, size_t Count) override {
    ++Writes;
    if (FailWrite) throw EComPortError("Input/output error", 5);
    if (Reply) {
      const auto* Bytes = static_cast<const uint8_t*>(Data);
      const TDataBuffer Answer = Reply(TDataBuffer(Bytes, Bytes + Count));
      Pending.insert(Pending.end(), Answer.begin(), Answer.end());
    }
    return ShortWrite ? ShortWrite : Count;
  }
  size_t ReadWait(void* Data, size_t Count, int) override {
    if (FailReads > 0) {
      --FailReads;
      throw EComPortError("Input/output error", 5);
    }
    const size_t N = std::min(Count, Pending.size());
    std::copy_n(Pending.begin(), N, static_cast<uint8_t*>(Data));
    Pending.erase(Pending.begin(), Pending.begin() + static_cast<std::ptrdiff_t>(N));
    return N;
  }

private:
  std::deque<uint8_t> Pending;
};

// The serial device with a sequence number the test sets: the next exchange uses Seq + 1.
class TSeqDevice : public TRS32Device {
public:
  using TRS32Device::TRS32Device;
  void SetSequence(uint8_t Seq) { FSequence = Seq; }
};

struct TScriptedDevice {
  TFakeDeviceClock Clock;
  TScriptedPort* Port;
  TSeqDevice Device;
  TScriptedDevice() : Port(new TScriptedPort), Device(std::unique_ptr<TComPort>(Port), Clock) {
    Device.SetPortName("COM3");
  }
};

// The answer to command 0x71 with SEQ 0x2A: data "123" and six status bytes 0x80.
const TDataBuffer kAnswer71 = {0x01, 0x2E, 0x2A, 0x71, 0x31, 0x32, 0x33, 0x04, 0x80, 0x80,
                               0x80, 0x80, 0x80, 0x80, 0x05, 0x30, 0x34, 0x36, 0x38, 0x03};

// Every broken answer is read by the serial rules into its code and message, and is asked
// for again every 200 ms (a wrong echo: read away, then 50 ms) without counting an attempt,
// until the 40 s window closes: each attempt adds its text and mark once.
TEST(RS232Device, BrokenAnswersByTheSerialReadingRules) {
  auto With = [](std::initializer_list<std::pair<size_t, uint8_t>> Changes) {
    TDataBuffer F = kAnswer71;
    for (auto [At, B] : Changes) F[At] = B;
    return F;
  };
  auto Cut = [](size_t Count) { return TDataBuffer(kAnswer71.begin(), kAnswer71.begin() + Count); };
  auto Without = [](TDataBuffer F, size_t At) {
    F.erase(F.begin() + static_cast<std::ptrdiff_t>(At));
    return F;
  };
  TDataBuffer SevenStatus = kAnswer71;
  SevenStatus.insert(SevenStatus.begin() + 8, 0x80);
  SevenStatus[1] = 0x2F;
  struct Case {
    const char* Name;
    TDataBuffer Answer;
    int32_t Code;
    std::string Message;
    const char* Mark;
  };
  const char* Again = "\r\n[RETRY->>]";
  const Case Cases[] = {
      {"NAK", {0x15}, 106, "<NAK>", Again},
      {"no LEN", Cut(1), 104, "<LEN>", Again},
      {"no SEQ", Cut(2), 104, "<SEQ>", Again},
      {"no CMD", Cut(3), 104, "<CMD>", Again},
      {"data cut off", Cut(6), 105, "<DATA>", Again},
      {"status cut off", Cut(11), 105, "<STATUS>", Again},
      {"seven status bytes", SevenStatus, 105, "<STATUS>", Again},
      {"check sum cut off", Cut(17), 105, "<BCC>", Again},
      {"LEN one too high", With({{1, 0x2F}}), 112, "15/14", Again},
      // The count is tested before the length of the check sum on this link.
      {"LEN too high and three digits", Without(With({{1, 0x2F}}), 15), 112, "15/14", Again},
      {"three check sum digits", Without(kAnswer71, 15), 111, "[468]", Again},
      {"check sum digit above 0x3F", With({{18, 0x41}}), 111, "[04611]", Again},
      {"wrong check sum", With({{18, 0x39}}), 111, "[0469/0468]", Again},
      {"wrong SEQ", With({{2, 0x2B}}), 109, "[2B/2A]", "\r\n[RETRY->>>]"},
      {"wrong CMD", With({{3, 0x72}}), 132, "[72/71]", "\r\n[RETRY->>>]"},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TScriptedDevice S;
    S.Device.SetSequence(0x29);
    S.Port->Reply = [&C](const TDataBuffer&) { return C.Answer; };
    ASSERT_TRUE(S.Device.Connect());
    // One attempt allowed: a counted attempt would end the call with 107 at once.
    auto R = RunExchange(S.Device, 1, 0x71, {});
    EXPECT_FALSE(R.Ok);
    EXPECT_EQ(S.Device.FErrorCode, C.Code);
    EXPECT_GT(S.Port->Writes, 100);
    std::string Expected;
    for (int I = 0; I < S.Port->Writes; ++I) Expected += TBaseDevice::ErrorCodeText(C.Code, C.Message) + C.Mark;
    EXPECT_EQ(S.Device.FErrorText, Expected);
  }
}

// A line error while waiting for a byte is absorbed: the read is tried again 100 ms later.
TEST(RS232Device, LineFailureDuringAReadIsAbsorbed) {
  TScriptedDevice S;
  S.Device.SetSequence(0x29);
  S.Port->Reply = [](const TDataBuffer&) { return kAnswer71; };
  S.Port->FailReads = 2;
  ASSERT_TRUE(S.Device.Connect());
  auto R = RunExchange(S.Device, 1, 0x71, {});
  ASSERT_TRUE(R.Ok) << S.Device.FErrorText;
  EXPECT_EQ(TBaseDevice::BufferToText(R.Data), "123");
  EXPECT_EQ(S.Port->Writes, 1);
}

TEST(RS232Device, ClosedPortFailsWithoutSending) {
  TScriptedDevice S;
  auto R = RunExchange(S.Device, 4);
  EXPECT_FALSE(R.Ok);
  EXPECT_EQ(S.Device.FErrorCode, 101);
  EXPECT_EQ(S.Device.FErrorText, "COM port is not active. [COM3]");
  EXPECT_EQ(S.Port->Writes, 0);
  EXPECT_FALSE(S.Device.IsConnected());  // no reconnect
}

TEST(RS232Device, WriteFailuresStopAtOnce) {
  struct Case {
    bool Fail;
    size_t Short;
    std::string Text;
  };
  // The status query "W" is an 11-byte frame.
  for (const Case& C : {Case{true, 0, "Error writing to COM. Input/output error"},
                        Case{false, 3, "Error writing to COM. 3/11"}}) {
    TScriptedDevice S;
    S.Port->FailWrite = C.Fail;
    S.Port->ShortWrite = C.Short;
    ASSERT_TRUE(S.Device.Connect());
    auto R = RunExchange(S.Device, 4);
    EXPECT_FALSE(R.Ok);
    EXPECT_EQ(S.Device.FErrorCode, 102);
    EXPECT_EQ(S.Device.FErrorText, C.Text);
    EXPECT_EQ(S.Port->Writes, 1);
  }
}

TEST(RS232Device, ConnectGoesOnAfterAFailedClose) {
  TScriptedDevice S;
  S.Device.SetBaudRate("56000");
  EXPECT_EQ(S.Port->Baud, 56000u);
  ASSERT_TRUE(S.Device.Connect());
  S.Port->FailClose = true;
  EXPECT_TRUE(S.Device.Connect());
  EXPECT_EQ(S.Device.FErrorCode, 102);
  EXPECT_EQ(S.Device.FErrorText, "Failed to close com port \"COM3\": Input/output error");
}

}  // namespace
}  // namespace fp
