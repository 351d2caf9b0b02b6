#include "library/transport/TCPDeviceUnit.h"

#include <cxxabi.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <asio.hpp>
#include <charconv>
#include <cstdlib>
#include <typeinfo>

#include "platform/SysErrorText.h"

namespace fp {

namespace {

using std::chrono::milliseconds;

// The peer closed the connection (FIN). It is told apart from the other socket errors:
// those and the read time-out are retried with a reconnect, this one ends the exchange.
bool IsPeerClosed(const std::error_code& Ec) { return Ec == asio::error::eof; }

[[noreturn]] void ThrowSocketError(const std::error_code& Ec) { throw asio::system_error(Ec); }

// The marks a repeated attempt leaves in the error text, before the next attempt's failure;
// kept for log readers, who search for them.
constexpr const char* kMarkRetry = "\r\n[RETRY->]";         // no connection
constexpr const char* kMarkRetryAnswer = "\r\n[RETRY->>]";  // a bad answer or a NAK
constexpr const char* kMarkRetrySocket = "[RETRY->]";       // a socket error or the read time-out

// What each failure of an attempt does next on the TCP link: no connection is tried
// again for the first 5 s of the call (the next attempt reconnects), a bad answer or a NAK
// after 200 ms; both count an attempt. Everything else (102 write failure, 110 wrong CMD
// echo, 120 busy too long) ends the call.
constexpr TRetryRule kTCPRules[] = {
    {.Code = DeviceError::PortNotActive,
     .Next = TNextStep::Retry,
     .Counted = true,
     .WithinMs = 5000,
     .Mark = kMarkRetry},
    {.Code = DeviceError::ReadByteFailed,
     .Next = TNextStep::Retry,
     .Counted = true,
     .PauseMs = 200,
     .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::ReadDataFailed,
     .Next = TNextStep::Retry,
     .Counted = true,
     .PauseMs = 200,
     .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::Nak, .Next = TNextStep::Retry, .Counted = true, .PauseMs = 200, .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::WrongSequence,
     .Next = TNextStep::Retry,
     .Counted = true,
     .PauseMs = 200,
     .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::BadLength,
     .Next = TNextStep::Retry,
     .Counted = true,
     .PauseMs = 200,
     .Mark = kMarkRetryAnswer},
};

// Retries for 30 s; a failure adds its message only, not the text of its code.
constexpr TRetryPolicy kTCPPolicy{.Rules = kTCPRules, .WindowSeconds = 30, .CodeText = false};

// A socket error or the read time-out: recorded as 103, the next attempt reconnects.
constexpr TRetryRule kSocketRetry{
    .Code = DeviceError::NoResponse, .Next = TNextStep::Retry, .Counted = true, .Mark = kMarkRetrySocket};

// The text of a socket-layer error: a system error by its value in the C locale's English
// (the socket library's own text follows the process's locale); the socket library's own
// codes (end of file, host not found) by their message, which is English already.
std::string SocketErrorText(const std::error_code& Code) {
  if (Code.category() == asio::error::get_system_category()) return SysErrorText(Code.value());
  return SysErrorText(Code);
}

// The text of a failure: a system error of the socket layer as above, by its value alone;
// anything else (the resolver's errors among them) by its message.
std::string FailureText(const std::exception& E) {
  if (const auto* system = dynamic_cast<const std::system_error*>(&E)) {
    const std::error_code& code = system->code();
    if (code.category() == asio::error::get_system_category() || code.category() == std::system_category() ||
        code.category() == std::generic_category())
      return SocketErrorText(code);
  }
  return E.what();
}

std::string ExceptionClassName(const std::exception& E) {
  const char* mangled = typeid(E).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = (status == 0 && demangled) ? demangled : mangled;
  std::free(demangled);
  return name;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The client: one socket, its io_context, and a small read-ahead buffer from which the
// answer is handed out byte by byte.

struct TTCPDevice::TClient {
  asio::io_context Io;
  asio::ip::tcp::socket Socket{Io};
  uint8_t Buffer[256];
  size_t Pos = 0;
  size_t Len = 0;
  bool PeerClosed = false;

  // Runs the started operation until Done or the time-out; on time-out the operation is
  // cancelled (its handler still runs) and false is returned.
  bool Run(const bool& Done, milliseconds Timeout) {
    Io.restart();
    Io.run_for(Timeout);
    if (Done) return true;
    std::error_code ignored;
    Socket.cancel(ignored);
    Io.restart();
    Io.run();
    return false;
  }

  void Close() {
    std::error_code ignored;
    if (Socket.is_open()) {
      Socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
      Socket.close(ignored);
    }
    Pos = Len = 0;
    PeerClosed = false;
  }

  // One connect attempt; raises asio::system_error on failure.
  void ConnectOnce(const std::string& Host, uint16_t Port, milliseconds Timeout) {
    Close();
    asio::ip::tcp::resolver resolver(Io);
    auto endpoints = resolver.resolve(Host, std::to_string(Port));  // raises on failure
    // Each address of the host in turn, all within the one time-out.
    const auto deadline = std::chrono::steady_clock::now() + Timeout;
    std::error_code result = asio::error::host_not_found;
    for (const auto& entry : endpoints) {
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        result = asio::error::timed_out;
        break;
      }
      bool done = false;
      Socket.async_connect(entry.endpoint(), [&](const std::error_code& Ec) {
        result = Ec;
        done = true;
      });
      if (!Run(done, left)) result = asio::error::timed_out;
      if (!result) break;
      Close();
    }
    if (result) {
      Close();
      ThrowSocketError(result);
    }
    std::error_code ignored;
    Socket.set_option(asio::ip::tcp::no_delay(true), ignored);
  }

  // Open, with no sign of the peer having closed or reset the connection. Looks at the
  // socket without waiting and without taking bytes from it.
  bool Alive() {
    if (!Socket.is_open() || PeerClosed) return false;
    if (Pos < Len) return true;
    pollfd p{Socket.native_handle(), POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return true;
    if (p.revents & (POLLERR | POLLNVAL)) return false;
    uint8_t byte;
    ssize_t n = ::recv(Socket.native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) PeerClosed = true;
    return n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
  }

  // The test before writing: raises when the connection has been closed.
  void CheckConnection() {
    if (!Socket.is_open()) ThrowSocketError(asio::error::not_connected);
    if (!Alive())
      ThrowSocketError(PeerClosed ? std::error_code(asio::error::eof) : std::error_code(asio::error::connection_reset));
  }

  void Write(const TDataBuffer& Frame) {
    std::error_code ec;
    asio::write(Socket, asio::buffer(Frame), ec);
    if (ec) ThrowSocketError(ec);
  }

  // Exactly one byte; raises asio::system_error on a socket error, on the read time-out
  // (timed_out) and when the peer has closed the connection (eof).
  uint8_t ReadByte(milliseconds Timeout) {
    if (Pos < Len) return Buffer[Pos++];
    if (PeerClosed) ThrowSocketError(asio::error::eof);
    bool done = false;
    std::error_code result;
    size_t count = 0;
    Socket.async_read_some(asio::buffer(Buffer), [&](const std::error_code& Ec, size_t N) {
      result = Ec;
      count = N;
      done = true;
    });
    if (!Run(done, Timeout)) ThrowSocketError(asio::error::timed_out);
    if (result) {
      if (IsPeerClosed(result)) PeerClosed = true;
      ThrowSocketError(result);
    }
    Pos = 0;
    Len = count;
    return Buffer[Pos++];
  }
};

// ---------------------------------------------------------------------------------------
// The analysis of a collected answer.

void AnalyseTCPAnswer(const TDataBuffer& C, uint8_t Seq, uint8_t Cmd, TDataBuffer& AnswerData, TDataBuffer& Status) {
  AnswerData.clear();
  Status.clear();
  if (C.size() < 4) throw ECmdException(DeviceError::ReadDataFailed, "LEN1");
  uint32_t sum = 0;
  size_t count = 0;
  auto add = [&](uint8_t B) {
    sum += B;
    ++count;
  };

  const uint8_t len = C[1];
  if (len == 0) throw ECmdException(DeviceError::ReadDataFailed, "<LEN>");
  add(len);
  if (C[2] == 0) throw ECmdException(DeviceError::ReadByteFailed, "<SEQ>");
  if (C[2] != Seq) throw ECmdException(DeviceError::WrongSequence, EchoMismatchText(C[2], Seq));
  add(C[2]);
  if (C[3] == 0) throw ECmdException(DeviceError::ReadByteFailed, "<CMD>");
  if (C[3] != Cmd) throw ECmdException(DeviceError::WrongCommandEcho, EchoMismatchText(C[3], Cmd));
  add(C[3]);

  // The separators are looked for after the echo bytes.
  auto sep = std::find(C.begin() + 4, C.end(), kAnswerSeparator);
  if (sep == C.end()) throw ECmdException(DeviceError::ReadByteFailed, "data");
  for (auto it = C.begin() + 4; it <= sep; ++it) {
    if (*it > kAnswerSeparator) AnswerData.push_back(*it);
    add(*it);
  }
  auto end = std::find(sep + 1, C.end(), kDataEnd);
  if (C.end() - (sep + 1) < static_cast<std::ptrdiff_t>(kStatusLength) || end == C.end())
    throw ECmdException(DeviceError::ReadByteFailed, "status");
  for (auto it = sep + 1; it <= end; ++it) {
    if (*it > kDataEnd) Status.push_back(*it);
    add(*it);
  }
  if (Status.size() != kStatusLength) throw ECmdException(DeviceError::ReadDataFailed, "<STATUS>");

  std::string text;
  for (auto it = end + 1; it != C.end() && *it != kFrameEnd; ++it)
    if (*it > kFrameEnd) text += ChecksumDigitText(*it);
  if (text.size() != 4) throw ECmdException(DeviceError::ReadByteFailed, "[" + text + "]");
  if (static_cast<int>(count) != ExpectedCount(len))
    throw ECmdException(DeviceError::BadLength, LenMismatchText(len, count));
  const std::string computed = ChecksumText(sum);
  if (text != computed) throw ECmdException(DeviceError::ReadByteFailed, "[" + text + "/" + computed + "]");
}

// ---------------------------------------------------------------------------------------
// TTCPDevice.

TTCPDevice::TTCPDevice(IDeviceClock& Clock) : FClock(Clock), FClient(std::make_unique<TClient>()) {}

TTCPDevice::~TTCPDevice() { Disconnect(); }

void TTCPDevice::SetHost(const std::string& Text) { FHost = Text; }

void TTCPDevice::SetPort(const std::string& Text) {
  int value = 0;
  const char* first = Text.data();
  const char* last = first + Text.size();
  if (first != last && *first == '+') ++first;
  auto [Ptr, Ec] = std::from_chars(first, last, value);
  FPort = (Ec == std::errc() && Ptr == last && value >= 0 && value <= 65535) ? static_cast<uint16_t>(value) : 0;
}

bool TTCPDevice::IsConnected() { return FClient->Alive(); }

void TTCPDevice::Disconnect() { FClient->Close(); }

bool TTCPDevice::Connect() {
  const auto start = FClock.Now();
  Disconnect();
  // Attempts follow each other without a pause, but an attempt that fails at once (a
  // refused connection) waits out the rest of its ConnectTimeout first, so the about 5 s
  // of trying are a handful of attempts, not a flood of them.
  do {
    const auto attemptStart = FClock.Now();
    try {
      FClient->ConnectOnce(FHost, FPort, milliseconds(ConnectTimeout));
      if (FClient->Socket.is_open()) return true;
    } catch (const std::exception& e) {
      if (ElapsedWholeSeconds(start, FClock.Now()) > 3) {
        FErrorCode = DeviceError::WriteFailed;
        FErrorText = "Failed to connect host. " + FailureText(e);
        return false;
      }
      const long long spent = ElapsedMs(attemptStart, FClock.Now());
      if (spent < ConnectTimeout) FClock.SleepFor(milliseconds(ConnectTimeout - spent));
    }
  } while (ElapsedWholeSeconds(start, FClock.Now()) <= 4);
  return false;
}

// ---------------------------------------------------------------------------------------
// The link parts of the exchange loop.

const TRetryPolicy& TTCPDevice::RetryPolicy() const { return kTCPPolicy; }

bool TTCPDevice::LinkReady() {
  // After no connection (101) or a socket-layer failure (103) the connection is made anew.
  if (FErrorCode == DeviceError::PortNotActive || FErrorCode == DeviceError::NoResponse) Disconnect();
  return IsConnected() || Connect();
}

void TTCPDevice::SendFrame(const TDataBuffer& Frame) {
  try {
    FClient->CheckConnection();
    FClient->Write(Frame);
  } catch (const std::exception& e) {
    std::string message = FailureText(e);
    std::replace(message.begin(), message.end(), '#', ' ');
    throw ECmdException(DeviceError::WriteFailed, message);
  }
}

void TTCPDevice::ReadAnswer(uint8_t Cmd, IDeviceClock::TTimePoint /*CallStart*/, TDataBuffer& Answer,
                            TDataBuffer& Status) {
  // Everything up to the 0x03 is collected first and analysed as a whole. The SYN limit
  // counts from the write of this attempt.
  TDataBuffer collected;
  const auto t1 = FClock.Now();
  bool started = false;
  size_t read = 0;  // bytes other than SYN in this attempt
  for (;;) {
    const uint8_t b = FClient->ReadByte(FReadTimeout);
    if (b == kSyn) {
      if (ElapsedMs(t1, FClock.Now()) >= 120000) throw ECmdException(DeviceError::Busy);
    } else {
      if (b == kNak) throw ECmdException(DeviceError::Nak, "<NAK>");
      ++read;
    }
    if (b == kFrameStart) started = true;
    if (started) collected.push_back(b);
    if (b == kFrameEnd || read > TCPMaxAnswerBytes) break;
  }
  AnalyseTCPAnswer(collected, FSequence, Cmd, Answer, Status);
}

const TRetryRule* TTCPDevice::OtherFailure(const std::exception& E) {
  FErrorCode = DeviceError::NoResponse;
  if (const auto* socket = dynamic_cast<const asio::system_error*>(&E)) {
    // The socket layer: a socket error or the read time-out reconnects and tries again;
    // the connection closed by the printer's side ends the exchange.
    FErrorText = std::string(TCPSocketErrorClass) + "/" + SocketErrorText(socket->code());
    return IsPeerClosed(socket->code()) ? nullptr : &kSocketRetry;
  }
  FErrorText = "Unexpected error: " + ExceptionClassName(E) + " / " + E.what();
  return nullptr;
}

bool TTCPDevice::SendCommand(uint8_t Cmd, TDataBuffer& Data, uint8_t Retries, TDataBuffer& Status) {
  return Exchange(*this, Cmd, Data, Retries, Status);
}

}  // namespace fp
