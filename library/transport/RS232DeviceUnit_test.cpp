#include "library/transport/RS232DeviceUnit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <thread>

#include "library/transport/TransportTestSupport.h"
#include "tests/printermodel/PrinterModel.h"

namespace fp::test {
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
    FDevice.SetPortName(FPty.SlavePath());
    FDevice.SetBaudRate("115200");
    ASSERT_TRUE(FDevice.Connect()) << FDevice.FErrorText;
  }
  std::vector<model::Request> Requests() { return FModel.Requests(); }

  model::PrinterModel FModel;
  model::PtyEndpoint FPty{FModel};
  TFakeDeviceClock FClock;
  TRS32Device FDevice{nullptr, FClock};
};

TEST_F(RS232Exchange, GoodAnswerIsTakenAtOnce) {
  auto r = RunExchange(FDevice, 4);
  ASSERT_TRUE(r.Ok) << FDevice.FErrorText;
  EXPECT_EQ(FDevice.FErrorCode, 0);
  EXPECT_EQ(FDevice.FErrorText, "");
  ASSERT_EQ(r.Status.size(), 6u);
  for (uint8_t b : r.Status) EXPECT_EQ(b & 0x80, 0x80);
  auto q = Requests();
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(q[0].cmd, 0x4A);
  EXPECT_EQ(q[0].data, "W");
  EXPECT_TRUE(q[0].frameOk);
}

TEST_F(RS232Exchange, SynKeepsWaitingUntil120Seconds) {
  struct Case {
    std::chrono::milliseconds Jump;
    bool Ok;
  };
  // The clock jumps while the printer sends SYN.
  for (const Case& c : {Case{30s, true}, Case{90s, true}, Case{120s, false}}) {
    SCOPED_TRACE(c.Jump.count());
    auto r = ExchangeWhileBusy(FModel, FClock, FDevice, c.Jump);
    EXPECT_EQ(r.Ok, c.Ok);
    EXPECT_EQ(FModel.RequestCount(), 1u);  // one attempt, never sent again
    if (!c.Ok) {
      EXPECT_EQ(FDevice.FErrorCode, 120);
      EXPECT_EQ(FDevice.FErrorText, "Device is bussy. ");
    }
  }
}

TEST_F(RS232Exchange, BadAnswersAreRetriedAfter200msWithoutCounting) {
  for (Fault f : {Fault::Nak, Fault::BadChecksum, Fault::WrongLen}) {
    SCOPED_TRACE(model::FaultName(f));
    FModel.ClearRequests();
    const size_t sleepsBefore = FClock.Sleeps().size();
    FModel.InjectNext(f, Times(2));
    // With Retries 1 a counted attempt would end the call after the first bad answer.
    auto r = RunExchange(FDevice, 1);
    EXPECT_TRUE(r.Ok) << FDevice.FErrorText;
    auto q = Requests();
    ASSERT_EQ(q.size(), 3u);
    EXPECT_EQ(q[0].seq, q[2].seq);
    auto sleeps = FClock.Sleeps();
    ASSERT_EQ(sleeps.size(), sleepsBefore + 2);
    EXPECT_EQ(sleeps.back(), 200ms);
  }
}

TEST_F(RS232Exchange, WrongEchoIsReadAwayThenSentAgain) {
  for (Fault f : {Fault::WrongSeq, Fault::WrongCmd}) {
    SCOPED_TRACE(model::FaultName(f));
    FModel.ClearRequests();
    const size_t sleepsBefore = FClock.Sleeps().size();
    FModel.InjectNext(f);
    const auto start = std::chrono::steady_clock::now();
    auto r = RunExchange(FDevice, 1);
    EXPECT_TRUE(r.Ok) << FDevice.FErrorText;
    // The rest of the wrong answer is read until the line stays quiet for 300 ms.
    EXPECT_GE(SecondsSince(start), 0.29);
    auto q = Requests();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[0].seq, q[1].seq);
    auto sleeps = FClock.Sleeps();
    ASSERT_EQ(sleeps.size(), sleepsBefore + 1);
    EXPECT_EQ(sleeps.back(), 50ms);
  }
}

TEST_F(RS232Exchange, OneAttemptAllowedStopsAfterOneMissingAnswer) {
  FModel.InjectNext(Fault::Silence);
  const auto start = std::chrono::steady_clock::now();
  auto r = RunExchange(FDevice, 1);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(FDevice.FErrorCode, 107);
  EXPECT_EQ(FDevice.FErrorText, kNoAnswer + "Fail read data from port. [" + FPty.SlavePath() + "][1]");
  EXPECT_EQ(FModel.RequestCount(), 1u);  // not sent again
  EXPECT_NEAR(SecondsSince(start), 0.7, 0.25);
}

// Real time: four answer starts that never come, 700 ms each.
TEST_F(RS232Exchange, FourSilentAttemptsGiveTheFullErrorText) {
  FDevice.Disconnect();  // the port is opened exclusively
  TRS32Device real;      // on the real clock
  real.SetPortName(FPty.SlavePath());
  ASSERT_TRUE(real.Connect());
  FModel.InjectNext(Fault::Silence, Times(4));
  const auto start = std::chrono::steady_clock::now();
  auto r = RunExchange(real, 4);
  const double took = SecondsSince(start);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(real.FErrorCode, 107);
  EXPECT_EQ(real.FErrorText,
            kNoAnswer + kNoAnswer + kNoAnswer + kNoAnswer + "Fail read data from port. [" + FPty.SlavePath() + "][4]");
  EXPECT_EQ(FModel.RequestCount(), 4u);
  EXPECT_GE(took, 4 * 0.7 - 0.05);
  EXPECT_LE(took, 4 * 0.7 + 0.6);
}

TEST_F(RS232Exchange, MissingAnswerAfter4SecondsEndsTheCall) {
  FModel.InjectNext(Fault::Silence, Times(4));
  std::thread jumper = AdvanceAfterRequest(FModel, FClock, 4001ms);
  auto r = RunExchange(FDevice, 4);
  jumper.join();
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(FDevice.FErrorCode, 103);
  EXPECT_EQ(FDevice.FErrorText, "Fiscal printer does not respond. <01>");
  EXPECT_EQ(FModel.RequestCount(), 1u);
}

TEST_F(RS232Exchange, RepeatedNakStopsAfter40Seconds) {
  FModel.InjectNext(Fault::Nak, Times(1000));
  auto r = RunExchange(FDevice, 4);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(FDevice.FErrorCode, 106);
  const std::string once = "NAK. Printer does not recognize the command. <NAK>\r\n[RETRY->>]";
  ASSERT_GE(FDevice.FErrorText.size(), once.size());
  EXPECT_EQ(FDevice.FErrorText.substr(0, once.size()), once);
  EXPECT_EQ(FDevice.FErrorText.substr(FDevice.FErrorText.size() - once.size()), once);
  // 200 ms pauses until more than 40 whole seconds have passed (a second of real time or
  // so comes on top).
  EXPECT_GE(FModel.RequestCount(), 195u);
  EXPECT_LE(FModel.RequestCount(), 206u);
}

TEST_F(RS232Exchange, StrayBytesBeforeTheAnswerArePassedOverFor60Seconds) {
  FModel.SetAnswerDelay(300ms);
  for (auto jump : {0s, 61s}) {
    SCOPED_TRACE(jump.count());
    FModel.ClearRequests();
    FModel.InjectNext(Fault::StrayBytes);
    std::thread jumper = AdvanceAfterRequest(FModel, FClock, jump);
    auto r = RunExchange(FDevice, 4);
    jumper.join();
    if (jump == 0s) {
      EXPECT_TRUE(r.Ok) << FDevice.FErrorText;
    } else {
      EXPECT_FALSE(r.Ok);
      EXPECT_EQ(FDevice.FErrorCode, 103);
      EXPECT_EQ(FDevice.FErrorText, "Fiscal printer does not respond. <01> first byte not recieved");
    }
    EXPECT_EQ(FModel.RequestCount(), 1u);
  }
}

TEST_F(RS232Exchange, LowStatusByteIsCountedButNotKept) {
  FaultOptions o;
  o.statusIndex = 2;
  o.statusValue = 0x02;
  FModel.InjectNext(Fault::BadStatusByte, o);
  auto r = RunExchange(FDevice, 4);
  EXPECT_TRUE(r.Ok) << FDevice.FErrorText;
  EXPECT_EQ(r.Status.size(), 5u);
}

TEST(RS232Device, PortThatDoesNotExist) {
  TRS32Device d;
  d.SetPortName("/dev/fp-no-such-port");
  d.SetBaudRate("9601");
  EXPECT_FALSE(d.Connect());
  EXPECT_FALSE(d.IsConnected());
  EXPECT_EQ(d.FErrorCode, 102);
  EXPECT_EQ(d.FErrorText, "Failed open port /dev/fp-no-such-port/9600 No such file or directory");
}

TEST(RS232Device, SpeedsByText) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"110", 110},     {"300", 300},     {"600", 600},       {"1200", 1200},     {"2400", 2400},
      {"4800", 4800},   {"9600", 9600},   {"14400", 14400},   {"19200", 19200},   {"38400", 38400},
      {"56000", 56000}, {"57600", 57600}, {"115200", 115200}, {"128000", 128000}, {"256000", 256000},
      {"9601", 9600},   {"", 9600},       {"115200 ", 9600},  {"230400", 9600},   {"abc", 9600}};
  for (auto [Text, Baud] : cases) {
    std::string listed;
    EXPECT_EQ(RS232SpeedFromText(Text, &listed), Baud) << Text;
    EXPECT_EQ(listed, std::to_string(Baud)) << Text;
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
  void Purge() override { FPending.clear(); }
  size_t Write(const void* Data, size_t Count) override {
    ++Writes;
    if (FailWrite) throw EComPortError("Input/output error", 5);
    if (Reply) {
      const auto* bytes = static_cast<const uint8_t*>(Data);
      const TDataBuffer answer = Reply(TDataBuffer(bytes, bytes + Count));
      FPending.insert(FPending.end(), answer.begin(), answer.end());
    }
    return ShortWrite ? ShortWrite : Count;
  }
  size_t ReadWait(void* Data, size_t Count, int) override {
    if (FailReads > 0) {
      --FailReads;
      throw EComPortError("Input/output error", 5);
    }
    const size_t n = std::min(Count, FPending.size());
    std::copy_n(FPending.begin(), n, static_cast<uint8_t*>(Data));
    FPending.erase(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
  }

 private:
  std::deque<uint8_t> FPending;
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
  auto with = [](std::initializer_list<std::pair<size_t, uint8_t>> Changes) {
    TDataBuffer f = kAnswer71;
    for (auto [At, B] : Changes) f[At] = B;
    return f;
  };
  auto cut = [](size_t Count) { return TDataBuffer(kAnswer71.begin(), kAnswer71.begin() + Count); };
  auto without = [](TDataBuffer F, size_t At) {
    F.erase(F.begin() + static_cast<std::ptrdiff_t>(At));
    return F;
  };
  TDataBuffer sevenStatus = kAnswer71;
  sevenStatus.insert(sevenStatus.begin() + 8, 0x80);
  sevenStatus[1] = 0x2F;
  struct Case {
    const char* Name;
    TDataBuffer Answer;
    int32_t Code;
    std::string Message;
    const char* Mark;
  };
  const char* again = "\r\n[RETRY->>]";
  const Case cases[] = {
      {"NAK", {0x15}, 106, "<NAK>", again},
      {"no LEN", cut(1), 104, "<LEN>", again},
      {"no SEQ", cut(2), 104, "<SEQ>", again},
      {"no CMD", cut(3), 104, "<CMD>", again},
      {"data cut off", cut(6), 105, "<DATA>", again},
      {"status cut off", cut(11), 105, "<STATUS>", again},
      {"seven status bytes", sevenStatus, 105, "<STATUS>", again},
      {"check sum cut off", cut(17), 105, "<BCC>", again},
      {"LEN one too high", with({{1, 0x2F}}), 112, "15/14", again},
      // The count is tested before the length of the check sum on this link.
      {"LEN too high and three digits", without(with({{1, 0x2F}}), 15), 112, "15/14", again},
      {"three check sum digits", without(kAnswer71, 15), 111, "[468]", again},
      {"check sum digit above 0x3F", with({{18, 0x41}}), 111, "[04611]", again},
      {"wrong check sum", with({{18, 0x39}}), 111, "[0469/0468]", again},
      {"wrong SEQ", with({{2, 0x2B}}), 109, "[2B/2A]", "\r\n[RETRY->>>]"},
      {"wrong CMD", with({{3, 0x72}}), 132, "[72/71]", "\r\n[RETRY->>>]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TScriptedDevice s;
    s.Device.SetSequence(0x29);
    s.Port->Reply = [&c](const TDataBuffer&) { return c.Answer; };
    ASSERT_TRUE(s.Device.Connect());
    // One attempt allowed: a counted attempt would end the call with 107 at once.
    auto r = RunExchange(s.Device, 1, 0x71, {});
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(s.Device.FErrorCode, c.Code);
    EXPECT_GT(s.Port->Writes, 100);
    std::string expected;
    for (int i = 0; i < s.Port->Writes; ++i) expected += TBaseDevice::ErrorCodeText(c.Code, c.Message) + c.Mark;
    EXPECT_EQ(s.Device.FErrorText, expected);
  }
}

// A line error while waiting for a byte is absorbed: the read is tried again 100 ms later.
TEST(RS232Device, LineFailureDuringAReadIsAbsorbed) {
  TScriptedDevice s;
  s.Device.SetSequence(0x29);
  s.Port->Reply = [](const TDataBuffer&) { return kAnswer71; };
  s.Port->FailReads = 2;
  ASSERT_TRUE(s.Device.Connect());
  auto r = RunExchange(s.Device, 1, 0x71, {});
  ASSERT_TRUE(r.Ok) << s.Device.FErrorText;
  EXPECT_EQ(TBaseDevice::BufferToText(r.Data), "123");
  EXPECT_EQ(s.Port->Writes, 1);
}

TEST(RS232Device, ClosedPortFailsWithoutSending) {
  TScriptedDevice s;
  auto r = RunExchange(s.Device, 4);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(s.Device.FErrorCode, 101);
  EXPECT_EQ(s.Device.FErrorText, "COM port is not active. [COM3]");
  EXPECT_EQ(s.Port->Writes, 0);
  EXPECT_FALSE(s.Device.IsConnected());  // no reconnect
}

TEST(RS232Device, WriteFailuresStopAtOnce) {
  struct Case {
    bool Fail;
    size_t Short;
    std::string Text;
  };
  // The status query "W" is an 11-byte frame.
  for (const Case& c :
       {Case{true, 0, "Error writing to COM. Input/output error"}, Case{false, 3, "Error writing to COM. 3/11"}}) {
    TScriptedDevice s;
    s.Port->FailWrite = c.Fail;
    s.Port->ShortWrite = c.Short;
    ASSERT_TRUE(s.Device.Connect());
    auto r = RunExchange(s.Device, 4);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(s.Device.FErrorCode, 102);
    EXPECT_EQ(s.Device.FErrorText, c.Text);
    EXPECT_EQ(s.Port->Writes, 1);
  }
}

TEST(RS232Device, ConnectGoesOnAfterAFailedClose) {
  TScriptedDevice s;
  s.Device.SetBaudRate("56000");
  EXPECT_EQ(s.Port->Baud, 56000u);
  ASSERT_TRUE(s.Device.Connect());
  s.Port->FailClose = true;
  EXPECT_TRUE(s.Device.Connect());
  EXPECT_EQ(s.Device.FErrorCode, 102);
  EXPECT_EQ(s.Device.FErrorText, "Failed to close com port \"COM3\": Input/output error");
}

}  // namespace
}  // namespace fp::test
