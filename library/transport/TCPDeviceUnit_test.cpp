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

namespace fp::test {
namespace {

using namespace std::chrono_literals;
using model::Fault;

// The answer to command 0x71 with data "123", SEQ 0x2A and six status bytes 0x80.
TDataBuffer GoodAnswer() {
  return {0x01, 0x2E, 0x2A, 0x71, 0x31, 0x32, 0x33, 0x04, 0x80, 0x80,
          0x80, 0x80, 0x80, 0x80, 0x05, 0x30, 0x34, 0x36, 0x38, 0x03};
}

TEST(TCPAnswerAnalysis, AcceptsAWellFormedAnswer) {
  TDataBuffer data{9}, status{9};
  AnalyseTCPAnswer(GoodAnswer(), 0x2A, 0x71, data, status);
  EXPECT_EQ(data, (TDataBuffer{0x31, 0x32, 0x33}));
  EXPECT_EQ(status, TDataBuffer(6, 0x80));
}

TEST(TCPAnswerAnalysis, CodesAndMessagesInTheLinksOwnOrder) {
  struct Case {
    const char* Name;
    TDataBuffer Frame;
    int32_t Code;
    std::string Message;
  };
  auto with = [](std::initializer_list<std::pair<size_t, uint8_t>> Changes) {
    TDataBuffer f = GoodAnswer();
    for (auto [At, B] : Changes) f[At] = B;
    return f;
  };
  TDataBuffer noSeparator = GoodAnswer();
  noSeparator[7] = 0x34;  // the data runs on into the status
  TDataBuffer shortStatus = GoodAnswer();
  shortStatus.erase(shortStatus.begin() + 9, shortStatus.end() - 1);  // 04 80 then 03
  TDataBuffer threeDigits = GoodAnswer();
  threeDigits.erase(threeDigits.begin() + 15);
  TDataBuffer noStatusEnd = GoodAnswer();
  noStatusEnd[14] = 0x80;
  const Case cases[] = {
      {"empty", {}, 105, "LEN1"},
      {"three bytes", {0x01, 0x2E, 0x2A}, 105, "LEN1"},
      {"LEN zero", with({{1, 0x00}}), 105, "<LEN>"},
      {"SEQ zero", with({{2, 0x00}}), 104, "<SEQ>"},
      {"wrong SEQ", with({{2, 0x2B}}), 109, "[2B/2A]"},
      {"CMD zero", with({{3, 0x00}}), 104, "<CMD>"},
      {"wrong CMD", with({{3, 0x72}}), 110, "[72/71]"},
      {"no separator", noSeparator, 104, "data"},
      {"few bytes after separator", shortStatus, 104, "status"},
      {"no end of status", noStatusEnd, 104, "status"},
      // A status byte 0x00..0x05 is added but not kept.
      {"status byte 0x02", with({{10, 0x02}}), 105, "<STATUS>"},
      {"three check sum digits", threeDigits, 104, "[468]"},
      // The check sum length is tested before the LEN count on this link.
      {"wrong LEN", with({{1, 0x2F}}), 112, "15/14"},
      {"wrong check sum", with({{18, 0x39}}), 104, "[0469/0468]"},
      {"check sum digit above 0x3F", with({{18, 0x41}}), 104, "[04611]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TDataBuffer data, status;
    try {
      AnalyseTCPAnswer(c.Frame, 0x2A, 0x71, data, status);
      ADD_FAILURE() << "accepted";
    } catch (const ECmdException& e) {
      EXPECT_EQ(e.Code, c.Code);
      EXPECT_EQ(e.Message, c.Message);
    }
  }
}

TEST(TCPAnswerAnalysis, BadLenAndShortCheckSumGiveTheCheckSumFailure) {
  TDataBuffer f = GoodAnswer();
  f[1] = 0x2F;
  f.erase(f.begin() + 15);
  TDataBuffer data, status;
  try {
    AnalyseTCPAnswer(f, 0x2A, 0x71, data, status);
    FAIL() << "accepted";
  } catch (const ECmdException& e) {
    EXPECT_EQ(e.Code, 104);
  }
}

TEST(TCPDevicePort, PortFromText) {
  const std::pair<const char*, uint16_t> cases[] = {{"4999", 4999}, {"0", 0},  {"", 0},      {"abc", 0},
                                                    {"12a", 0},     {"-1", 0}, {"70000", 0}, {" 80", 0}};
  for (auto [Text, Port] : cases) {
    TTCPDevice d;
    d.SetPort(Text);
    EXPECT_EQ(d.Port(), Port) << Text;
  }
}

// The printer model behind a loopback listener, and the device with a clock the test can
// move on. The device connects by itself on its first exchange.
class TCPExchange : public ::testing::Test {
 protected:
  TCPExchange() {
    FDevice.SetHost(FListener.Host());
    FDevice.SetPort(std::to_string(FListener.Port()));
  }
  // The connections the listener has taken, once it has taken Count of them (the kernel
  // completes a connect before the listener's thread accepts it).
  int AcceptedAtLeast(int Count) {
    for (int i = 0; i < 200 && FListener.Accepted() < Count; ++i) std::this_thread::sleep_for(5ms);
    return FListener.Accepted();
  }

  model::PrinterModel FModel;
  model::TcpEndpoint FListener{FModel};
  TFakeDeviceClock FClock;
  TTCPDevice FDevice{FClock};
};

TEST_F(TCPExchange, ConnectsByItselfAndTakesTheAnswer) {
  EXPECT_FALSE(FDevice.IsConnected());
  auto r = RunExchange(FDevice, 4);
  ASSERT_TRUE(r.Ok) << FDevice.FErrorText;
  EXPECT_TRUE(FDevice.IsConnected());
  EXPECT_EQ(FDevice.FErrorCode, 0);
  EXPECT_EQ(FDevice.FErrorText, "");
  EXPECT_EQ(r.Status.size(), 6u);
  ASSERT_EQ(FModel.RequestCount(), 1u);
  EXPECT_EQ(FModel.Requests()[0].data, "W");
  EXPECT_EQ(FListener.Accepted(), 1);
}

TEST_F(TCPExchange, NakCountsAnAttempt) {
  const std::string nak = "<NAK>\r\n[RETRY->>]";
  for (uint8_t retries : {1, 4}) {
    SCOPED_TRACE(retries);
    FModel.ClearRequests();
    const size_t sleepsBefore = FClock.Sleeps().size();
    FModel.InjectNext(Fault::Nak, Times(5));
    auto r = RunExchange(FDevice, retries);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(FDevice.FErrorCode, 107);
    std::string expected;
    for (int i = 0; i < retries; ++i) expected += nak;
    EXPECT_EQ(FDevice.FErrorText, expected + "[127.0.0.1]");
    EXPECT_EQ(FModel.RequestCount(), retries);
    auto sleeps = FClock.Sleeps();
    ASSERT_EQ(sleeps.size(), sleepsBefore + retries);
    EXPECT_EQ(sleeps.back(), 200ms);
    FModel.ClearFaults();
  }
}

TEST_F(TCPExchange, BadAnswersAreRetriedWithTheSameSeq) {
  for (Fault f : {Fault::WrongSeq, Fault::BadChecksum, Fault::WrongLen}) {
    SCOPED_TRACE(model::FaultName(f));
    FModel.ClearRequests();
    FModel.InjectNext(f);
    auto r = RunExchange(FDevice, 2);
    EXPECT_TRUE(r.Ok) << FDevice.FErrorText;
    auto q = FModel.Requests();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[0].seq, q[1].seq);
  }
  EXPECT_EQ(FListener.Accepted(), 1);
}

TEST_F(TCPExchange, WrongCmdStopsAtOnce) {
  FModel.InjectNext(Fault::WrongCmd);
  auto r = RunExchange(FDevice, 4);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(FDevice.FErrorCode, 110);
  EXPECT_EQ(FDevice.FErrorText, "[4B/4A]");
  EXPECT_EQ(FModel.RequestCount(), 1u);
}

TEST_F(TCPExchange, StrayBytesBeforeTheAnswerAreSkipped) {
  FModel.InjectNext(Fault::StrayBytes);
  auto r = RunExchange(FDevice, 1);
  EXPECT_TRUE(r.Ok) << FDevice.FErrorText;
  EXPECT_EQ(FModel.RequestCount(), 1u);
}

// A connection reset in the middle of the answer and a printer that stops answering on an
// open connection both reconnect and try again with the same SEQ.
TEST_F(TCPExchange, SocketErrorAndReadTimeOutReconnect) {
  FDevice.SetReadTimeout(300ms);
  ASSERT_TRUE(RunExchange(FDevice, 4).Ok) << FDevice.FErrorText;
  struct Case {
    Fault F;
    std::string Text;
  };
  for (const Case& c : {Case{Fault::Reset, "asio::system_error/Connection reset by peer[RETRY->]"},
                        Case{Fault::Silence, "asio::system_error/Connection timed out[RETRY->]"}}) {
    SCOPED_TRACE(model::FaultName(c.F));
    // Retries 1: the reconnect happens, then the attempts are used up.
    FModel.ClearRequests();
    int accepted = FListener.Accepted();
    FModel.InjectNext(c.F);
    auto r = RunExchange(FDevice, 1);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(FDevice.FErrorCode, 107);
    EXPECT_EQ(FDevice.FErrorText, c.Text + "[127.0.0.1]");
    EXPECT_EQ(FModel.RequestCount(), 1u);
    EXPECT_EQ(AcceptedAtLeast(accepted + 1), accepted + 1);

    // Retries 4: the new attempt gets the answer.
    FModel.ClearRequests();
    accepted = FListener.Accepted();
    FModel.InjectNext(c.F);
    r = RunExchange(FDevice, 4);
    EXPECT_TRUE(r.Ok) << FDevice.FErrorText;
    auto q = FModel.Requests();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[0].seq, q[1].seq);
    EXPECT_EQ(AcceptedAtLeast(accepted + 1), accepted + 1);
  }
}

TEST_F(TCPExchange, ConnectionClosedByThePrinterStops) {
  ASSERT_TRUE(RunExchange(FDevice, 4).Ok);
  FModel.ClearRequests();
  FModel.InjectNext(Fault::Close);
  auto r = RunExchange(FDevice, 4);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(FDevice.FErrorCode, 103);
  EXPECT_EQ(FDevice.FErrorText, "asio::system_error/End of file");
  EXPECT_EQ(FModel.RequestCount(), 1u);
  EXPECT_EQ(FListener.Accepted(), 1);
  EXPECT_FALSE(FDevice.IsConnected());
  // The next exchange connects again.
  EXPECT_TRUE(RunExchange(FDevice, 4).Ok) << FDevice.FErrorText;
  EXPECT_EQ(AcceptedAtLeast(2), 2);
}

TEST_F(TCPExchange, SynKeepsWaitingUntil120SecondsAfterTheWrite) {
  struct Case {
    std::chrono::milliseconds Jump;
    bool Ok;
  };
  for (const Case& c : {Case{30s, true}, Case{120s, false}}) {
    SCOPED_TRACE(c.Jump.count());
    auto r = ExchangeWhileBusy(FModel, FClock, FDevice, c.Jump);
    EXPECT_EQ(r.Ok, c.Ok);
    EXPECT_EQ(FModel.RequestCount(), 1u);
    if (!c.Ok) {
      EXPECT_EQ(FDevice.FErrorCode, 120);
      EXPECT_EQ(FDevice.FErrorText, "");   // this link records only the (empty) message
      std::this_thread::sleep_for(700ms);  // the rest of the SYN and the late answer go by
      FDevice.Disconnect();
    }
  }
}

TEST_F(TCPExchange, RepeatedNakStopsAfter30Seconds) {
  FModel.InjectNext(Fault::Nak, Times(1000));
  auto r = RunExchange(FDevice, 255);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(FDevice.FErrorCode, 106);
  // 200 ms pauses until more than 30 whole seconds have passed.
  EXPECT_GE(FModel.RequestCount(), 145u);
  EXPECT_LE(FModel.RequestCount(), 156u);
}

TEST(TCPDeviceConnect, ListenerThatStartsLateIsConnectedOnALaterAttempt) {
  model::PrinterModel model;
  model::TcpEndpoint::Options o;
  o.listenDelay = 2000ms;
  model::TcpEndpoint listener(model, o);
  TTCPDevice device;  // real time
  device.SetHost(listener.Host());
  device.SetPort(std::to_string(listener.Port()));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(device.Connect()) << device.FErrorText;
  const double took = SecondsSince(start);
  EXPECT_GE(took, 1.9);
  EXPECT_LE(took, 4.2);
  EXPECT_TRUE(device.IsConnected());
  EXPECT_TRUE(RunExchange(device, 4).Ok) << device.FErrorText;
}

TEST(TCPDeviceConnect, NoListenerFailsAfterAbout4To5Seconds) {
  model::PrinterModel model;
  model::TcpEndpoint::Options o;
  o.listen = false;
  model::TcpEndpoint listener(model, o);
  TFakeDeviceClock clock;
  TTCPDevice device(clock);
  device.SetHost(listener.Host());
  device.SetPort(std::to_string(listener.Port()));
  const auto start = clock.Now();
  EXPECT_FALSE(device.Connect());
  const long long took = ElapsedMs(start, clock.Now());
  EXPECT_GE(took, 4000);
  EXPECT_LT(took, 5000);
  EXPECT_EQ(device.FErrorCode, 102);
  EXPECT_EQ(device.FErrorText, "Failed to connect host. Connection refused");
  // One attempt per second, not a flood of them.
  EXPECT_EQ(clock.Sleeps().size(), 4u);

  // Inside an exchange: one more connect while the 5 s of the call last, then 101.
  auto r = RunExchange(device, 4);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(device.FErrorCode, 101);
  EXPECT_EQ(device.FErrorText, "Failed to connect host. Connection refused[127.0.0.1]");
  EXPECT_EQ(clock.Sleeps().size(), 12u);
}

// A printer whose network goes away: it takes one connection, and when told so (Vanish)
// resets it and stops listening, so that a reconnect finds nobody. With VanishAfterFrame
// it does that by itself as soon as one whole request frame has come (the printer took the
// frame and may have run it).
class TVanishingPrinter {
 public:
  explicit TVanishingPrinter(bool VanishAfterFrame) {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t l = sizeof a;
    EXPECT_EQ(::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(FListen, 4), 0);
    EXPECT_EQ(::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &l), 0);
    FPort = ntohs(a.sin_port);
    FThread = std::thread([this, VanishAfterFrame] {
      FConn = ::accept(FListen, nullptr, nullptr);
      if (FConn < 0 || !VanishAfterFrame) return;
      char b = 0;
      pollfd p{FConn, POLLIN, 0};
      while (::poll(&p, 1, 5000) > 0 && ::recv(FConn, &b, 1, 0) == 1) {
        ++FReceived;
        if (b == 0x03) break;
      }
      Vanish();
    });
  }
  ~TVanishingPrinter() {
    if (FThread.joinable()) FThread.join();
    Vanish();
  }
  uint16_t Port() const { return FPort; }
  // No listener any more, then the connection reset (RST). The listener goes first: a
  // device that sees the reset at once must find nobody to reconnect to.
  void Vanish() {
    if (FListen >= 0) ::close(FListen);
    FListen = -1;
    if (FConn >= 0) {
      linger now{1, 0};
      ::setsockopt(FConn, SOL_SOCKET, SO_LINGER, &now, sizeof now);
      ::close(FConn);
      FConn = -1;
    }
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
  for (const Case& c : {Case{4, 103}, Case{1, 107}}) {
    SCOPED_TRACE(c.Retries);
    TVanishingPrinter printer(true);
    TFakeDeviceClock clock;
    TTCPDevice device(clock);
    device.SetHost("127.0.0.1");
    device.SetPort(std::to_string(printer.Port()));
    auto r = RunExchange(device, c.Retries, 0x31, {'S', 'A', 'L', 'E'});
    EXPECT_FALSE(r.Ok);
    EXPECT_GT(printer.Received(), 0);  // the whole frame reached the printer
    EXPECT_EQ(device.FErrorCode, c.Code);
    EXPECT_EQ(device.FErrorText,
              "asio::system_error/Connection reset by peer[RETRY->]"
              "Failed to connect host. Connection refused[127.0.0.1]");
    EXPECT_EQ(r.Data, (TDataBuffer{'S', 'A', 'L', 'E'}));  // unchanged on a failure
  }
}

TEST(TCPDeviceReconnect, NetworkGoneBeforeTheFrameWasWrittenIsNotConnected) {
  TVanishingPrinter printer(false);
  TFakeDeviceClock clock;
  TTCPDevice device(clock);
  device.SetHost("127.0.0.1");
  device.SetPort(std::to_string(printer.Port()));
  ASSERT_TRUE(device.Connect()) << device.FErrorText;
  printer.WaitForConnection();
  printer.Vanish();
  auto r = RunExchange(device, 4, 0x31, {'S', 'A', 'L', 'E'});
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(printer.Received(), 0);
  EXPECT_EQ(device.FErrorCode, 101);
  EXPECT_EQ(device.FErrorText, "Failed to connect host. Connection refused[127.0.0.1]");
}

}  // namespace
}  // namespace fp::test
