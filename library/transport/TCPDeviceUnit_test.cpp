#include "library/transport/TCPDeviceUnit.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "library/transport/TransportTestSupport.h"
#include "tests/printermodel/PrinterModel.h"

namespace fp {
namespace {

using namespace std::chrono_literals;
using model::Fault;

// The answer to command 0x71 with data "123", SEQ 0x2A and six status bytes 0x80.
TDataBuffer GoodAnswer() {
  return {0x01, 0x2E, 0x2A, 0x71, 0x31, 0x32, 0x33, 0x04, 0x80, 0x80, 0x80, 0x80,
          0x80, 0x80, 0x05, 0x30, 0x34, 0x36, 0x38, 0x03};
}

TEST(TCPAnswerAnalysis, AcceptsAWellFormedAnswer) {
  TDataBuffer Data{9}, Status{9};
  AnalyseTCPAnswer(GoodAnswer(), 0x2A, 0x71, Data, Status);
  EXPECT_EQ(Data, (TDataBuffer{0x31, 0x32, 0x33}));
  EXPECT_EQ(Status, TDataBuffer(6, 0x80));
}

TEST(TCPAnswerAnalysis, CodesAndMessagesInTheLinksOwnOrder) {
  struct Case {
    const char* Name;
    TDataBuffer Frame;
    int32_t Code;
    std::string Message;
  };
  auto With = [](std::initializer_list<std::pair<size_t, uint8_t>> Changes) {
    TDataBuffer F = GoodAnswer();
    for (auto [At, B] : Changes) F[At] = B;
    return F;
  };
  TDataBuffer NoSeparator = GoodAnswer();
  NoSeparator[7] = 0x34;  // the data runs on into the status
  TDataBuffer ShortStatus = GoodAnswer();
  ShortStatus.erase(ShortStatus.begin() + 9, ShortStatus.end() - 1);  // 04 80 then 03
  TDataBuffer ThreeDigits = GoodAnswer();
  ThreeDigits.erase(ThreeDigits.begin() + 15);
  TDataBuffer NoStatusEnd = GoodAnswer();
  NoStatusEnd[14] = 0x80;
  const Case Cases[] = {
      {"empty", {}, 105, "LEN1"},
      {"three bytes", {0x01, 0x2E, 0x2A}, 105, "LEN1"},
      {"LEN zero", With({{1, 0x00}}), 105, "<LEN>"},
      {"SEQ zero", With({{2, 0x00}}), 104, "<SEQ>"},
      {"wrong SEQ", With({{2, 0x2B}}), 109, "[2B/2A]"},
      {"CMD zero", With({{3, 0x00}}), 104, "<CMD>"},
      {"wrong CMD", With({{3, 0x72}}), 110, "[72/71]"},
      {"no separator", NoSeparator, 104, "data"},
      {"few bytes after separator", ShortStatus, 104, "status"},
      {"no end of status", NoStatusEnd, 104, "status"},
      // A status byte 0x00..0x05 is added but not kept.
      {"status byte 0x02", With({{10, 0x02}}), 105, "<STATUS>"},
      {"three check sum digits", ThreeDigits, 104, "[468]"},
      // The check sum length is tested before the LEN count on this link.
      {"wrong LEN", With({{1, 0x2F}}), 112, "15/14"},
      {"wrong check sum", With({{18, 0x39}}), 104, "[0469/0468]"},
      {"check sum digit above 0x3F", With({{18, 0x41}}), 104, "[04611]"},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TDataBuffer Data, Status;
    try {
      AnalyseTCPAnswer(C.Frame, 0x2A, 0x71, Data, Status);
      ADD_FAILURE() << "accepted";
    } catch (const ECmdException& E) {
      EXPECT_EQ(E.Code, C.Code);
      EXPECT_EQ(E.Message, C.Message);
    }
  }
}

TEST(TCPAnswerAnalysis, BadLenAndShortCheckSumGiveTheCheckSumFailure) {
  TDataBuffer F = GoodAnswer();
  F[1] = 0x2F;
  F.erase(F.begin() + 15);
  TDataBuffer Data, Status;
  try {
    AnalyseTCPAnswer(F, 0x2A, 0x71, Data, Status);
    FAIL() << "accepted";
  } catch (const ECmdException& E) {
    EXPECT_EQ(E.Code, 104);
  }
}

TEST(TCPDevicePort, PortFromText) {
  const std::pair<const char*, uint16_t> Cases[] = {
      {"4999", 4999}, {"0", 0}, {"", 0}, {"abc", 0}, {"12a", 0}, {"-1", 0}, {"70000", 0}, {" 80", 0}};
  for (auto [Text, Port] : Cases) {
    TTCPDevice D;
    D.SetPort(Text);
    EXPECT_EQ(D.Port(), Port) << Text;
  }
}

// The printer model behind a loopback listener, and the device with a clock the test can
// move on. The device connects by itself on its first exchange.
class TCPExchange : public ::testing::Test {
protected:
  TCPExchange() {
    Device.SetHost(Listener.Host());
    Device.SetPort(std::to_string(Listener.Port()));
  }
  // The connections the listener has taken, once it has taken Count of them (the kernel
  // completes a connect before the listener's thread accepts it).
  int AcceptedAtLeast(int Count) {
    for (int I = 0; I < 200 && Listener.Accepted() < Count; ++I) std::this_thread::sleep_for(5ms);
    return Listener.Accepted();
  }

  model::PrinterModel Model;
  model::TcpEndpoint Listener{Model};
  TFakeDeviceClock Clock;
  TTCPDevice Device{Clock};
};

TEST_F(TCPExchange, ConnectsByItselfAndTakesTheAnswer) {
  EXPECT_FALSE(Device.IsConnected());
  auto R = RunExchange(Device, 4);
  ASSERT_TRUE(R.Ok) << Device.FErrorText;
  EXPECT_TRUE(Device.IsConnected());
  EXPECT_EQ(Device.FErrorCode, 0);
  EXPECT_EQ(Device.FErrorText, "");
  EXPECT_EQ(R.Status.size(), 6u);
  ASSERT_EQ(Model.RequestCount(), 1u);
  EXPECT_EQ(Model.Requests()[0].data, "W");
  EXPECT_EQ(Listener.Accepted(), 1);
}

TEST_F(TCPExchange, NakCountsAnAttempt) {
  const std::string Nak = "<NAK>\r\n[RETRY->>]";
  for (uint8_t Retries : {1, 4}) {
    SCOPED_TRACE(Retries);
    Model.ClearRequests();
    const size_t SleepsBefore = Clock.Sleeps().size();
    Model.InjectNext(Fault::Nak, Times(5));
    auto R = RunExchange(Device, Retries);
    EXPECT_FALSE(R.Ok);
    EXPECT_EQ(Device.FErrorCode, 107);
    std::string Expected;
    for (int I = 0; I < Retries; ++I) Expected += Nak;
    EXPECT_EQ(Device.FErrorText, Expected + "[127.0.0.1]");
    EXPECT_EQ(Model.RequestCount(), Retries);
    auto Sleeps = Clock.Sleeps();
    ASSERT_EQ(Sleeps.size(), SleepsBefore + Retries);
    EXPECT_EQ(Sleeps.back(), 200ms);
    Model.ClearFaults();
  }
}

TEST_F(TCPExchange, BadAnswersAreRetriedWithTheSameSeq) {
  for (Fault F : {Fault::WrongSeq, Fault::BadChecksum, Fault::WrongLen}) {
    SCOPED_TRACE(model::FaultName(F));
    Model.ClearRequests();
    Model.InjectNext(F);
    auto R = RunExchange(Device, 2);
    EXPECT_TRUE(R.Ok) << Device.FErrorText;
    auto Q = Model.Requests();
    ASSERT_EQ(Q.size(), 2u);
    EXPECT_EQ(Q[0].seq, Q[1].seq);
  }
  EXPECT_EQ(Listener.Accepted(), 1);
}

TEST_F(TCPExchange, WrongCmdStopsAtOnce) {
  Model.InjectNext(Fault::WrongCmd);
  auto R = RunExchange(Device, 4);
  EXPECT_FALSE(R.Ok);
  EXPECT_EQ(Device.FErrorCode, 110);
  EXPECT_EQ(Device.FErrorText, "[4B/4A]");
  EXPECT_EQ(Model.RequestCount(), 1u);
}

TEST_F(TCPExchange, StrayBytesBeforeTheAnswerAreSkipped) {
  Model.InjectNext(Fault::StrayBytes);
  auto R = RunExchange(Device, 1);
  EXPECT_TRUE(R.Ok) << Device.FErrorText;
  EXPECT_EQ(Model.RequestCount(), 1u);
}

// A connection reset in the middle of the answer and a printer that stops answering on an
// open connection both reconnect and try again with the same SEQ.
TEST_F(TCPExchange, SocketErrorAndReadTimeOutReconnect) {
  Device.SetReadTimeout(300ms);
  ASSERT_TRUE(RunExchange(Device, 4).Ok) << Device.FErrorText;
  struct Case {
    Fault F;
    std::string Text;
  };
  for (const Case& C : {Case{Fault::Reset, "asio::system_error/Connection reset by peer[RETRY->]"},
                        Case{Fault::Silence, "asio::system_error/Connection timed out[RETRY->]"}}) {
    SCOPED_TRACE(model::FaultName(C.F));
    // Retries 1: the reconnect happens, then the attempts are used up.
    Model.ClearRequests();
    int Accepted = Listener.Accepted();
    Model.InjectNext(C.F);
    auto R = RunExchange(Device, 1);
    EXPECT_FALSE(R.Ok);
    EXPECT_EQ(Device.FErrorCode, 107);
    EXPECT_EQ(Device.FErrorText, C.Text + "[127.0.0.1]");
    EXPECT_EQ(Model.RequestCount(), 1u);
    EXPECT_EQ(AcceptedAtLeast(Accepted + 1), Accepted + 1);

    // Retries 4: the new attempt gets the answer.
    Model.ClearRequests();
    Accepted = Listener.Accepted();
    Model.InjectNext(C.F);
    R = RunExchange(Device, 4);
    EXPECT_TRUE(R.Ok) << Device.FErrorText;
    auto Q = Model.Requests();
    ASSERT_EQ(Q.size(), 2u);
    EXPECT_EQ(Q[0].seq, Q[1].seq);
    EXPECT_EQ(AcceptedAtLeast(Accepted + 1), Accepted + 1);
  }
}

TEST_F(TCPExchange, ConnectionClosedByThePrinterStops) {
  ASSERT_TRUE(RunExchange(Device, 4).Ok);
  Model.ClearRequests();
  Model.InjectNext(Fault::Close);
  auto R = RunExchange(Device, 4);
  EXPECT_FALSE(R.Ok);
  EXPECT_EQ(Device.FErrorCode, 103);
  EXPECT_EQ(Device.FErrorText, "asio::system_error/End of file");
  EXPECT_EQ(Model.RequestCount(), 1u);
  EXPECT_EQ(Listener.Accepted(), 1);
  EXPECT_FALSE(Device.IsConnected());
  // The next exchange connects again.
  EXPECT_TRUE(RunExchange(Device, 4).Ok) << Device.FErrorText;
  EXPECT_EQ(AcceptedAtLeast(2), 2);
}

TEST_F(TCPExchange, SynKeepsWaitingUntil120SecondsAfterTheWrite) {
  struct Case {
    std::chrono::milliseconds Jump;
    bool Ok;
  };
  for (const Case& C : {Case{30s, true}, Case{120s, false}}) {
    SCOPED_TRACE(C.Jump.count());
    auto R = ExchangeWhileBusy(Model, Clock, Device, C.Jump);
    EXPECT_EQ(R.Ok, C.Ok);
    EXPECT_EQ(Model.RequestCount(), 1u);
    if (!C.Ok) {
      EXPECT_EQ(Device.FErrorCode, 120);
      EXPECT_EQ(Device.FErrorText, "");  // this link records only the (empty) message
      std::this_thread::sleep_for(700ms);  // the rest of the SYN and the late answer go by
      Device.Disconnect();
    }
  }
}

TEST_F(TCPExchange, RepeatedNakStopsAfter30Seconds) {
  Model.InjectNext(Fault::Nak, Times(1000));
  auto R = RunExchange(Device, 255);
  EXPECT_FALSE(R.Ok);
  EXPECT_EQ(Device.FErrorCode, 106);
  // 200 ms pauses until more than 30 whole seconds have passed.
  EXPECT_GE(Model.RequestCount(), 145u);
  EXPECT_LE(Model.RequestCount(), 156u);
}

TEST(TCPDeviceConnect, ListenerThatStartsLateIsConnectedOnALaterAttempt) {
  model::PrinterModel Model;
  model::TcpEndpoint::Options O;
  O.listenDelay = 2000ms;
  model::TcpEndpoint Listener(Model, O);
  TTCPDevice Device;  // real time
  Device.SetHost(Listener.Host());
  Device.SetPort(std::to_string(Listener.Port()));
  const auto Start = std::chrono::steady_clock::now();
  EXPECT_TRUE(Device.Connect()) << Device.FErrorText;
  const double Took = SecondsSince(Start);
  EXPECT_GE(Took, 1.9);
  EXPECT_LE(Took, 4.2);
  EXPECT_TRUE(Device.IsConnected());
  EXPECT_TRUE(RunExchange(Device, 4).Ok) << Device.FErrorText;
}

TEST(TCPDeviceConnect, NoListenerFailsAfterAbout4To5Seconds) {
  model::PrinterModel Model;
  model::TcpEndpoint::Options O;
  O.listen = false;
  model::TcpEndpoint Listener(Model, O);
  TFakeDeviceClock Clock;
  TTCPDevice Device(Clock);
  Device.SetHost(Listener.Host());
  Device.SetPort(std::to_string(Listener.Port()));
  const auto Start = Clock.Now();
  EXPECT_FALSE(Device.Connect());
  const long long Took = ElapsedMs(Start, Clock.Now());
  EXPECT_GE(Took, 4000);
  EXPECT_LT(Took, 5000);
  EXPECT_EQ(Device.FErrorCode, 102);
  EXPECT_EQ(Device.FErrorText, "Failed to connect host. Connection refused");
  // One attempt per second, not a flood of them.
  EXPECT_EQ(Clock.Sleeps().size(), 4u);

  // Inside an exchange: one more connect while the 5 s of the call last, then 101.
  auto R = RunExchange(Device, 4);
  EXPECT_FALSE(R.Ok);
  EXPECT_EQ(Device.FErrorCode, 101);
  EXPECT_EQ(Device.FErrorText, "Failed to connect host. Connection refused[127.0.0.1]");
  EXPECT_EQ(Clock.Sleeps().size(), 12u);
}

// A printer whose network goes away: it takes one connection, and when told so (Vanish)
// resets it and stops listening, so that a reconnect finds nobody. With VanishAfterFrame
// it does that by itself as soon as one whole request frame has come (the printer took the
// frame and may have run it).
class TVanishingPrinter {
public:
  explicit TVanishingPrinter(bool VanishAfterFrame) {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t L = sizeof A;
    EXPECT_EQ(::bind(FListen, reinterpret_cast<sockaddr*>(&A), sizeof A), 0);
    EXPECT_EQ(::listen(FListen, 4), 0);
    EXPECT_EQ(::getsockname(FListen, reinterpret_cast<sockaddr*>(&A), &L), 0);
    FPort = ntohs(A.sin_port);
    FThread = std::thread([this, VanishAfterFrame] {
      FConn = ::accept(FListen, nullptr, nullptr);
      if (FConn < 0 || !VanishAfterFrame) return;
      char B = 0;
      pollfd P{FConn, POLLIN, 0};
      while (::poll(&P, 1, 5000) > 0 && ::recv(FConn, &B, 1, 0) == 1) {
        ++FReceived;
        if (B == 0x03) break;
      }
      Vanish();
    });
  }
  ~TVanishingPrinter() {
    if (FThread.joinable()) FThread.join();
    Vanish();
  }
  uint16_t Port() const { return FPort; }
  // The connection reset (RST), no listener any more.
  void Vanish() {
    if (FConn >= 0) {
      linger Now{1, 0};
      ::setsockopt(FConn, SOL_SOCKET, SO_LINGER, &Now, sizeof Now);
      ::close(FConn);
      FConn = -1;
    }
    if (FListen >= 0) ::close(FListen);
    FListen = -1;
  }
  void WaitForConnection() {
    if (FThread.joinable()) FThread.join();
  }
  int Received() const { return FReceived.load(); }

private:
  int FListen = -1;
  int FConn = -1;
  uint16_t FPort = 0;
  std::atomic<int> FReceived{0};
  std::thread FThread;
};

// Once the frame of a call went out, the printer may have run it: a reconnect that finds
// no listener afterwards must not turn the call into "not connected" (101, which says that
// nothing was sent). It keeps the code of its failed attempt: 103 (no answer: the link was
// reset), or 107 when that was the last attempt; the connect failure is added to its text.
TEST(TCPDeviceReconnect, FrameWrittenThenResetWithoutListenerKeepsTheAttemptsCode) {
  struct Case {
    uint8_t Retries;
    int32_t Code;
  };
  for (const Case& C : {Case{4, 103}, Case{1, 107}}) {
    SCOPED_TRACE(C.Retries);
    TVanishingPrinter Printer(true);
    TFakeDeviceClock Clock;
    TTCPDevice Device(Clock);
    Device.SetHost("127.0.0.1");
    Device.SetPort(std::to_string(Printer.Port()));
    auto R = RunExchange(Device, C.Retries, 0x31, {'S', 'A', 'L', 'E'});
    EXPECT_FALSE(R.Ok);
    EXPECT_GT(Printer.Received(), 0);  // the whole frame reached the printer
    EXPECT_EQ(Device.FErrorCode, C.Code);
    EXPECT_EQ(Device.FErrorText,
              "asio::system_error/Connection reset by peer[RETRY->]"
              "Failed to connect host. Connection refused[127.0.0.1]");
    EXPECT_EQ(R.Data, (TDataBuffer{'S', 'A', 'L', 'E'}));  // unchanged on a failure
  }
}

TEST(TCPDeviceReconnect, NetworkGoneBeforeTheFrameWasWrittenIsNotConnected) {
  TVanishingPrinter Printer(false);
  TFakeDeviceClock Clock;
  TTCPDevice Device(Clock);
  Device.SetHost("127.0.0.1");
  Device.SetPort(std::to_string(Printer.Port()));
  ASSERT_TRUE(Device.Connect()) << Device.FErrorText;
  Printer.WaitForConnection();
  Printer.Vanish();
  auto R = RunExchange(Device, 4, 0x31, {'S', 'A', 'L', 'E'});
  EXPECT_FALSE(R.Ok);
  EXPECT_EQ(Printer.Received(), 0);
  EXPECT_EQ(Device.FErrorCode, 101);
  EXPECT_EQ(Device.FErrorText, "Failed to connect host. Connection refused[127.0.0.1]");
}

}  // namespace
}  // namespace fp
