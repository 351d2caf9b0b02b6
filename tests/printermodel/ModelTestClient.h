// Hand-written hosts for the printer model's own tests: one that talks to the model
// directly (no wire), and one that talks over a pty or a TCP connection.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "tests/printermodel/PrinterModel.h"

namespace fp::model::testing {

// Runs requests straight through PrinterModel::OnFrame and reads back what it would write.
class DirectHost {
 public:
  explicit DirectHost(PrinterModel& m) : FM(m) {}

  // Sends with a fresh SEQ; the answer's data, or nullopt when nothing came back.
  std::optional<AnswerFrame> Send(uint8_t cmd, std::string_view data = {}) {
    FSeq = FSeq >= 0x7F ? 0x20 : uint8_t(FSeq + 1);
    return SendWithSeq(FSeq, cmd, data);
  }
  std::optional<AnswerFrame> SendWithSeq(uint8_t seq, uint8_t cmd, std::string_view data) {
    FWire.clear();
    RequestParser parser;
    std::optional<HostFrame> frame;
    for (char c : BuildRequest(seq, cmd, data)) frame = parser.Push(uint8_t(c));
    for (const WireAction& a : FM.OnFrame(*frame))
      if (a.kind == WireAction::Kind::Write) FWire += a.bytes;
    AnswerParser answers;
    for (char c : FWire)
      if (auto f = answers.Push(uint8_t(c))) return f;
    return std::nullopt;
  }
  std::string Data(uint8_t cmd, std::string_view data = {}) {
    auto f = Send(cmd, data);
    return f ? f->data : "<none>";
  }
  const std::string& Wire() const { return FWire; }  // all bytes of the last answer

 private:
  PrinterModel& FM;
  uint8_t FSeq = 0x30;
  std::string FWire;
};

struct Received {
  std::string before;                 // bytes before the answer's 0x01 (SYN, NAK, stray)
  std::optional<AnswerFrame> answer;  // a complete answer, if one came
  bool closed = false;                // the peer closed (FIN)
  int error = 0;                      // errno of a failed read (ECONNRESET for RST)
  std::chrono::milliseconds took{0};
};

// A host on a real file descriptor: the pty slave or a TCP socket.
class WireHost {
 public:
  static WireHost OpenPty(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
      termios t{};
      ::tcgetattr(fd, &t);
      ::cfmakeraw(&t);
      ::tcsetattr(fd, TCSANOW, &t);
    }
    return WireHost(fd, false);
  }
  static WireHost ConnectTcp(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(fd);
      fd = -1;
    }
    return WireHost(fd, true);
  }
  WireHost(WireHost&& o) noexcept : FFd(o.FFd), FSocket(o.FSocket), FPending(std::move(o.FPending)) { o.FFd = -1; }
  ~WireHost() {
    if (FFd >= 0) ::close(FFd);
  }
  bool Ok() const { return FFd >= 0; }

  void Send(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n =
          FSocket ? ::send(FFd, bytes.data(), bytes.size(), MSG_NOSIGNAL) : ::write(FFd, bytes.data(), bytes.size());
      if (n <= 0) return;
      bytes.remove_prefix(size_t(n));
    }
  }

  // Reads until a complete answer, a NAK before any answer, the peer's close, an error or
  // the time-out. Bytes that came after the answer in the same read are kept for the next
  // call: several answers may arrive in one read.
  Received Read(std::chrono::milliseconds timeout) {
    Received r;
    AnswerParser parser;
    bool started = false;
    const auto t0 = std::chrono::steady_clock::now();
    const auto end = t0 + timeout;
    // Takes bytes until the call has its result; the rest is kept. True once it has.
    auto take = [&](const char* buf, size_t n) {
      for (size_t i = 0; i < n; ++i) {
        const auto b = uint8_t(buf[i]);
        if (!started && b != kFrameStart) r.before.push_back(char(b));
        if (b == kFrameStart) started = true;
        if (auto f = parser.Push(b)) r.answer = f;
        if (r.answer || (!started && b == kNak)) {
          FPending.assign(buf + i + 1, n - i - 1);
          return true;
        }
      }
      return false;
    };
    const std::string pending = std::move(FPending);
    FPending.clear();
    bool done = take(pending.data(), pending.size());
    while (!done) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{FFd, POLLIN, 0};
      if (::poll(&p, 1, int(left.count())) <= 0) continue;
      char buf[256];
      ssize_t n = ::read(FFd, buf, sizeof buf);
      if (n == 0) {
        r.closed = true;
        break;
      }
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        r.error = errno;
        break;
      }
      done = take(buf, size_t(n));
    }
    r.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
    return r;
  }

  Received Exchange(uint8_t seq, uint8_t cmd, std::string_view data = {},
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(1000)) {
    Send(BuildRequest(seq, cmd, data));
    return Read(timeout);
  }

 private:
  WireHost(int fd, bool socket) : FFd(fd), FSocket(socket) {}
  int FFd;
  bool FSocket;
  std::string FPending;  // bytes read after the last answer
};

}  // namespace fp::model::testing
