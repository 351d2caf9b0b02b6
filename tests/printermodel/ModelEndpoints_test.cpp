#include "tests/printermodel/PrinterModel.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <functional>
#include <string>
#include <thread>

#include "tests/printermodel/ModelTestClient.h"

extern char** environ;

namespace fp::test {
namespace {

using namespace fp::model;
using fp::model::testing::Received;
using fp::model::testing::WireHost;

TEST(PtyEndpoint, ExchangesOverARealPty) {
  PrinterModel m;
  PtyEndpoint pty(m);
  m.SetSerialNumber("QQ123456");
  {
    WireHost host = WireHost::OpenPty(pty.SlavePath());
    ASSERT_TRUE(host.Ok()) << pty.SlavePath();
    Received r = host.Exchange(0x21, 0x4A, "W");
    ASSERT_TRUE(r.answer);
    EXPECT_TRUE(r.answer->Valid());
    EXPECT_EQ(r.answer->seq, 0x21);
    EXPECT_EQ(r.answer->cmd, 0x4A);
    EXPECT_TRUE(r.before.empty());
  }
  // The host may close and open the port again.
  WireHost host = WireHost::OpenPty(pty.SlavePath());
  Received r = host.Exchange(0x22, 0x5A, "0");
  ASSERT_TRUE(r.answer);
  EXPECT_NE(r.answer->data.find(",QQ123456,"), std::string::npos);
  // A damaged frame gets a NAK.
  std::string bad = BuildRequest(0x23, 0x4A, "W");
  bad[bad.size() - 2] ^= 1;
  host.Send(bad);
  r = host.Read(std::chrono::milliseconds(500));
  EXPECT_EQ(r.before, "\x15");
  EXPECT_EQ(m.Commands(), (std::vector<uint8_t>{0x4A, 0x5A}));

  m.SetAnswerDelay(std::chrono::milliseconds(200));
  r = host.Exchange(0x24, 0x4A, "W");
  ASSERT_TRUE(r.answer);
  EXPECT_GE(r.took.count(), 180);
}

// A child process that opens the pty, writes one frame and keeps the pty open.
pid_t SpawnSender(const std::string& slave, const std::string& frame) {
  const char* argv[] = {
      "sh", "-c", "exec 3<>\"$1\"; printf '%s' \"$2\" >&3; exec sleep 30", "sh", slave.c_str(), frame.c_str(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return -1;
  return pid;
}

void EndChild(pid_t pid) {
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
}

// The source of a request names the child process that held the pty open; across a change
// of holder it names both, as the bytes may come from the one that just ended.
TEST(PtyEndpoint, ARequestNamesTheProcessesThatHeldThePty) {
  PrinterModel m;
  PtyEndpoint pty(m, PtyEndpoint::NamingSenders());
  const pid_t first = SpawnSender(pty.SlavePath(), BuildRequest(0x21, 0x4A, "W"));
  ASSERT_GT(first, 0);
  ASSERT_TRUE(m.WaitForRequests(1, std::chrono::seconds(5)));
  EndChild(first);
  const pid_t second = SpawnSender(pty.SlavePath(), BuildRequest(0x22, 0x4A, "W"));
  ASSERT_GT(second, 0);
  ASSERT_TRUE(m.WaitForRequests(2, std::chrono::seconds(5)));
  // This process sends one frame; the answers to the children's frames wait unread on the
  // pty, so the host reads past them to its own.
  auto exchange = [&](uint8_t seq) {
    WireHost host = WireHost::OpenPty(pty.SlavePath());
    host.Send(BuildRequest(seq, 0x4A, "W"));
    for (int i = 0; i < 4; ++i) {
      const Received r = host.Read(std::chrono::milliseconds(1000));
      if (!r.answer || r.answer->seq == seq) return r.answer.has_value();
    }
    return false;
  };
  ASSERT_TRUE(exchange(0x23));
  EndChild(second);
  ASSERT_TRUE(exchange(0x24));
  ASSERT_TRUE(m.WaitForRequests(4, std::chrono::seconds(5)));
  const auto reqs = m.Requests();
  ASSERT_EQ(reqs.size(), 4u);
  EXPECT_EQ(reqs[0].source, "pid " + std::to_string(first));
  EXPECT_EQ(reqs[1].source, "pid " + std::to_string(first) + " or pid " + std::to_string(second));
  EXPECT_EQ(reqs[2].source, "pid " + std::to_string(second));  // this process is no child
  EXPECT_EQ(reqs[3].source, "pid " + std::to_string(second));  // held at the read before
}

// Naming the sender reads /proc at every read; an endpoint not asked to leaves it unnamed.
TEST(PtyEndpoint, ARequestNamesNoSenderUnlessAsked) {
  PrinterModel m;
  PtyEndpoint pty(m);
  const pid_t sender = SpawnSender(pty.SlavePath(), BuildRequest(0x21, 0x4A, "W"));
  ASSERT_GT(sender, 0);
  const bool received = m.WaitForRequests(1, std::chrono::seconds(5));
  EndChild(sender);
  ASSERT_TRUE(received);
  EXPECT_EQ(m.Requests().front().source, "");
}

TEST(PtyEndpoint, EachFaultShowsOnTheWire) {
  struct Case {
    Fault fault;
    FaultOptions options;
    std::function<void(const Received&)> check;
  };
  using std::chrono::milliseconds;
  const Case cases[] = {
      {Fault::Silence, FaultOptions(), [](const Received& r) { EXPECT_TRUE(r.before.empty() && !r.answer); }},
      {Fault::Syn, For(milliseconds(300)).Every(milliseconds(50)),
       [](const Received& r) {
         ASSERT_TRUE(r.answer);
         EXPECT_TRUE(r.answer->Valid());
         EXPECT_GE(r.before.size(), 4u);
         EXPECT_EQ(r.before.find_first_not_of('\x16'), std::string::npos);
         EXPECT_GE(r.took.count(), 250);
       }},
      {Fault::Nak, FaultOptions(),
       [](const Received& r) {
         EXPECT_EQ(r.before, "\x15");
         EXPECT_FALSE(r.answer);
       }},
      {Fault::WrongSeq, FaultOptions(),
       [](const Received& r) {
         ASSERT_TRUE(r.answer);
         EXPECT_TRUE(r.answer->Valid());
         EXPECT_NE(r.answer->seq, 0x40);
       }},
      {Fault::WrongCmd, FaultOptions(),
       [](const Received& r) {
         ASSERT_TRUE(r.answer);
         EXPECT_TRUE(r.answer->Valid());
         EXPECT_EQ(r.answer->cmd, 0x4B);
       }},
      {Fault::BadChecksum, FaultOptions(),
       [](const Received& r) {
         ASSERT_TRUE(r.answer);
         EXPECT_TRUE(r.answer->lenOk);
         EXPECT_FALSE(r.answer->sumOk);
       }},
      {Fault::WrongLen, FaultOptions(),
       [](const Received& r) {
         ASSERT_TRUE(r.answer);
         EXPECT_FALSE(r.answer->lenOk);
         EXPECT_TRUE(r.answer->sumOk);
       }},
      {Fault::StrayBytes, Bytes("\x55\x41"),
       [](const Received& r) {
         EXPECT_EQ(r.before, "\x55\x41");
         ASSERT_TRUE(r.answer);
         EXPECT_TRUE(r.answer->Valid());
       }},
      {Fault::BadStatusByte, StatusByte(2, 0x03),
       [](const Received& r) {
         ASSERT_TRUE(r.answer);
         EXPECT_TRUE(r.answer->sumOk && r.answer->lenOk);
         EXPECT_EQ(r.answer->status, std::string("\x80\x80\x03\x80\x80\x80", 6));
       }},
      {Fault::Delay, For(milliseconds(300)),
       [](const Received& r) {
         ASSERT_TRUE(r.answer);
         EXPECT_TRUE(r.before.empty());
         EXPECT_GE(r.took.count(), 250);
       }},
      {Fault::Reset, CutAfter(4),  // on a serial line: the first bytes, then nothing
       [](const Received& r) {
         EXPECT_FALSE(r.answer);
         EXPECT_FALSE(r.closed);
       }},
  };
  PrinterModel m;
  PtyEndpoint pty(m);
  WireHost host = WireHost::OpenPty(pty.SlavePath());
  ASSERT_TRUE(host.Ok());
  for (const Case& c : cases) {
    SCOPED_TRACE(FaultName(c.fault));
    m.InjectNext(c.fault, c.options);
    c.check(host.Exchange(0x40, 0x4A, "X", std::chrono::milliseconds(700)));
    // The model is well again at once; a new SEQ gets a clean answer.
    Received after = host.Exchange(0x41, 0x4A, "X");
    ASSERT_TRUE(after.answer);
    EXPECT_TRUE(after.answer->Valid());
    EXPECT_EQ(after.answer->seq, 0x41);
  }
}

TEST(TcpEndpoint, ServesOneConnectionAtATimeAndTheNewestWins) {
  PrinterModel m;
  TcpEndpoint tcp(m);
  ASSERT_NE(tcp.Port(), 0);
  {
    WireHost host = WireHost::ConnectTcp(tcp.Port());
    ASSERT_TRUE(host.Ok());
    Received r = host.Exchange(0x30, 0x4A, "W");
    ASSERT_TRUE(r.answer);
    EXPECT_TRUE(r.answer->Valid());
  }
  WireHost old = WireHost::ConnectTcp(tcp.Port());
  ASSERT_TRUE(old.Ok());
  ASSERT_TRUE(old.Exchange(0x31, 0x4A, "W").answer);
  WireHost fresh = WireHost::ConnectTcp(tcp.Port());  // the old one is still open
  Received r = fresh.Exchange(0x32, 0x5A, "0");
  ASSERT_TRUE(r.answer);
  EXPECT_EQ(r.answer->data.substr(0, 9), "MODEL-T1,");
  EXPECT_TRUE(old.Read(std::chrono::milliseconds(500)).closed);
  EXPECT_EQ(tcp.Accepted(), 3);
}

TEST(TcpEndpoint, ResetMidAnswerThenTheRetryOnANewConnectionIsAnsweredOnce) {
  PrinterModel m;
  TcpEndpoint tcp(m);
  {
    WireHost host = WireHost::ConnectTcp(tcp.Port());
    ASSERT_TRUE(host.Exchange(0x20, 0x30, "1,,1").answer);
    m.InjectNext(Fault::Reset, CutAfter(5));
    Received r = host.Exchange(0x21, 0x31,
                               "\t\xC0"
                               "1.00");
    EXPECT_FALSE(r.answer);
    EXPECT_EQ(r.error, ECONNRESET);
  }
  WireHost host = WireHost::ConnectTcp(tcp.Port());
  Received r = host.Exchange(0x21, 0x31,
                             "\t\xC0"
                             "1.00");
  ASSERT_TRUE(r.answer);
  EXPECT_TRUE(r.answer->Valid());
  EXPECT_EQ(m.State().open->items.size(), 1u);
  EXPECT_TRUE(m.Requests().back().repeat);
  // Each request names its connection.
  EXPECT_EQ(m.Requests().front().source, "connection 1");
  EXPECT_EQ(m.Requests().back().source, "connection 2");
}

TEST(TcpEndpoint, ThePrinterClosesTheConnection) {
  PrinterModel m;
  TcpEndpoint tcp(m);
  WireHost host = WireHost::ConnectTcp(tcp.Port());
  m.InjectNext(Fault::Close, CutAfter(0));
  Received r = host.Exchange(0x20, 0x4A, "W");
  EXPECT_TRUE(r.closed);
  EXPECT_EQ(r.error, 0);
  EXPECT_FALSE(r.answer);
  // The listener stays: the host may connect again.
  WireHost again = WireHost::ConnectTcp(tcp.Port());
  EXPECT_TRUE(again.Exchange(0x21, 0x4A, "W").answer);
}

TEST(TcpEndpoint, LateListenerAndNoListener) {
  PrinterModel m;
  TcpEndpoint late(m, TcpEndpoint::ListenAfter(std::chrono::milliseconds(300)));
  EXPECT_FALSE(WireHost::ConnectTcp(late.Port()).Ok());
  std::this_thread::sleep_for(std::chrono::milliseconds(450));
  EXPECT_TRUE(WireHost::ConnectTcp(late.Port()).Exchange(0x20, 0x4A, "W").answer);

  TcpEndpoint none(m, TcpEndpoint::NoListener());
  EXPECT_FALSE(WireHost::ConnectTcp(none.Port()).Ok());
  none.StartListening();
  EXPECT_TRUE(WireHost::ConnectTcp(none.Port()).Exchange(0x21, 0x4A, "W").answer);
}

TEST(TcpEndpoint, StopsWhileBusySendingSyn) {
  PrinterModel m;
  auto t0 = std::chrono::steady_clock::now();
  {
    TcpEndpoint tcp(m);
    WireHost host = WireHost::ConnectTcp(tcp.Port());
    m.InjectNext(Fault::Syn, For(std::chrono::seconds(30)));
    host.Send(BuildRequest(0x20, 0x4A, "W"));
    ASSERT_TRUE(m.WaitForRequests(1, std::chrono::seconds(2)));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

}  // namespace
}  // namespace fp::test
