#include "driver/RS232DeviceUnit.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "driver/TransportTestSupport.h"
#include "tests/printermodel/PrinterModel.h"

namespace fp {
namespace {

using namespace std::chrono_literals;
using model::Fault;
using model::FaultOptions;

const std::string kNoAnswer = "Fiscal printer does not respond. <01>\r\n[RETRY->]";

FaultOptions Options(int Count = 1) {
  FaultOptions O;
  O.count = Count;
  return O;
}

// The printer model on a pty, and the device on the other side of it, with a clock the
// test can move on.
class RS232Exchange : public ::testing::Test {
protected:
  void SetUp() override {
    Device.SetPortName(Pty.SlavePath());
    Device.SetBaudRate("115200");
    ASSERT_TRUE(Device.Connect()) << Device.FErrorText;
  }
  // Moves the clock on by Jump as soon as the printer has the first request.
  std::thread AdvanceAfterRequest(std::chrono::milliseconds Jump) {
    return std::thread([this, Jump] {
      Model.WaitForRequests(1, 5s);
      Clock.Advance(Jump);
    });
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
  // The printer sends SYN for 0.6 s of real time; the clock jumps while it does.
  for (const Case& C : {Case{30s, true}, Case{90s, true}, Case{120s, false}}) {
    SCOPED_TRACE(C.Jump.count());
    Model.ClearRequests();
    FaultOptions O;
    O.duration = 600ms;
    O.interval = 60ms;
    Model.InjectNext(Fault::Syn, O);
    std::thread Jumper = AdvanceAfterRequest(C.Jump);
    auto R = RunExchange(Device, 4);
    Jumper.join();
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
    Model.InjectNext(F, Options(2));
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
  Model.InjectNext(Fault::Silence, Options(4));
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
  Model.InjectNext(Fault::Silence, Options(4));
  std::thread Jumper = AdvanceAfterRequest(4001ms);
  auto R = RunExchange(Device, 4);
  Jumper.join();
  EXPECT_FALSE(R.Ok);
  EXPECT_EQ(Device.FErrorCode, 103);
  EXPECT_EQ(Device.FErrorText, "Fiscal printer does not respond. <01>");
  EXPECT_EQ(Model.RequestCount(), 1u);
}

TEST_F(RS232Exchange, RepeatedNakStopsAfter40Seconds) {
  Model.InjectNext(Fault::Nak, Options(1000));
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
    std::thread Jumper = AdvanceAfterRequest(Jump);
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

// A port that records what the device does with it and fails where told to.
class TScriptedPort : public TComPort {
public:
  bool Open_ = false;
  bool FailClose = false;
  bool FailWrite = false;
  size_t ShortWrite = 0;
  int Writes = 0;
  uint32_t Baud = 0;

  void SetBaudRate(uint32_t B) override { Baud = B; }
  void Open() override { Open_ = true; }
  void Close() override {
    Open_ = false;
    if (FailClose) throw EComPortError("Input/output error", 5);
  }
  bool Connected() const override { return Open_; }
  void Purge() override {}
  size_t Write(const void*, size_t Count) override {
    ++Writes;
    if (FailWrite) throw EComPortError("Input/output error", 5);
    return ShortWrite ? ShortWrite : Count;
  }
  size_t ReadWait(void*, size_t, int) override { return 0; }
};

struct TScriptedDevice {
  TScriptedPort* Port;
  TRS32Device Device;
  TScriptedDevice() : Port(new TScriptedPort), Device(std::unique_ptr<TComPort>(Port)) {
    Device.SetPortName("COM3");
  }
};

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
