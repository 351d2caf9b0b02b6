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
    {.Code = DeviceError::PortNotActive, .Next = TNextStep::Retry,
     .Counted = true, .WithinMs = 5000, .Mark = kMarkRetry},
    {.Code = DeviceError::ReadByteFailed, .Next = TNextStep::Retry,
     .Counted = true, .PauseMs = 200, .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::ReadDataFailed, .Next = TNextStep::Retry,
     .Counted = true, .PauseMs = 200, .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::Nak, .Next = TNextStep::Retry,
     .Counted = true, .PauseMs = 200, .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::WrongSequence, .Next = TNextStep::Retry,
     .Counted = true, .PauseMs = 200, .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::BadLength, .Next = TNextStep::Retry,
     .Counted = true, .PauseMs = 200, .Mark = kMarkRetryAnswer},
};

// Retries for 30 s; a failure adds its message only, not the text of its code.
constexpr TRetryPolicy kTCPPolicy{.Rules = kTCPRules, .WindowSeconds = 30, .CodeText = false};

// A socket error or the read time-out: recorded as 103, the next attempt reconnects.
constexpr TRetryRule kSocketRetry{.Code = DeviceError::NoResponse,
                                  .Next = TNextStep::Retry,
                                  .Counted = true,
                                  .Mark = kMarkRetrySocket};

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
  if (const auto* System = dynamic_cast<const std::system_error*>(&E)) {
    const std::error_code& Code = System->code();
    if (Code.category() == asio::error::get_system_category() || Code.category() == std::system_category() ||
        Code.category() == std::generic_category())
      return SocketErrorText(Code);
  }
  return E.what();
}

std::string ExceptionClassName(const std::exception& E) {
  const char* Mangled = typeid(E).name();
  int Status = 0;
  char* Demangled = abi::__cxa_demangle(Mangled, nullptr, nullptr, &Status);
  std::string Name = (Status == 0 && Demangled) ? Demangled : Mangled;
  std::free(Demangled);
  return Name;
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
    std::error_code Ignored;
    Socket.cancel(Ignored);
    Io.restart();
    Io.run();
    return false;
  }

  void Close() {
    std::error_code Ignored;
    if (Socket.is_open()) {
      Socket.shutdown(asio::ip::tcp::socket::shutdown_both, Ignored);
      Socket.close(Ignored);
    }
    Pos = Len = 0;
    PeerClosed = false;
  }

  // One connect attempt; raises asio::system_error on failure.
  void ConnectOnce(const std::string& Host, uint16_t Port, milliseconds Timeout) {
    Close();
    asio::ip::tcp::resolver Resolver(Io);
    auto Endpoints = Resolver.resolve(Host, std::to_string(Port));  // raises on failure
    // Each address of the host in turn, all within the one time-out.
    const auto Deadline = std::chrono::steady_clock::now() + Timeout;
    std::error_code Result = asio::error::host_not_found;
    for (const auto& Entry : Endpoints) {
      const auto Left = std::chrono::duration_cast<milliseconds>(Deadline - std::chrono::steady_clock::now());
      if (Left.count() <= 0) {
        Result = asio::error::timed_out;
        break;
      }
      bool Done = false;
      Socket.async_connect(Entry.endpoint(), [&](const std::error_code& Ec) {
        Result = Ec;
        Done = true;
      });
      if (!Run(Done, Left)) Result = asio::error::timed_out;
      if (!Result) break;
      Close();
    }
    if (Result) {
      Close();
      ThrowSocketError(Result);
    }
    std::error_code Ignored;
    Socket.set_option(asio::ip::tcp::no_delay(true), Ignored);
  }

  // Open, with no sign of the peer having closed or reset the connection. Looks at the
  // socket without waiting and without taking bytes from it.
  bool Alive() {
    if (!Socket.is_open() || PeerClosed) return false;
    if (Pos < Len) return true;
    pollfd P{Socket.native_handle(), POLLIN, 0};
    if (::poll(&P, 1, 0) <= 0) return true;
    if (P.revents & (POLLERR | POLLNVAL)) return false;
    uint8_t Byte;
    ssize_t N = ::recv(Socket.native_handle(), &Byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (N == 0) PeerClosed = true;
    return N > 0 || (N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
  }

  // The test before writing: raises when the connection has been closed.
  void CheckConnection() {
    if (!Socket.is_open()) ThrowSocketError(asio::error::not_connected);
    if (!Alive()) ThrowSocketError(PeerClosed ? std::error_code(asio::error::eof)
                                              : std::error_code(asio::error::connection_reset));
  }

  void Write(const TDataBuffer& Frame) {
    std::error_code Ec;
    asio::write(Socket, asio::buffer(Frame), Ec);
    if (Ec) ThrowSocketError(Ec);
  }

  // Exactly one byte; raises asio::system_error on a socket error, on the read time-out
  // (timed_out) and when the peer has closed the connection (eof).
  uint8_t ReadByte(milliseconds Timeout) {
    if (Pos < Len) return Buffer[Pos++];
    if (PeerClosed) ThrowSocketError(asio::error::eof);
    bool Done = false;
    std::error_code Result;
    size_t Count = 0;
    Socket.async_read_some(asio::buffer(Buffer), [&](const std::error_code& Ec, size_t N) {
      Result = Ec;
      Count = N;
      Done = true;
    });
    if (!Run(Done, Timeout)) ThrowSocketError(asio::error::timed_out);
    if (Result) {
      if (IsPeerClosed(Result)) PeerClosed = true;
      ThrowSocketError(Result);
    }
    Pos = 0;
    Len = Count;
    return Buffer[Pos++];
  }
};

// ---------------------------------------------------------------------------------------
// The analysis of a collected answer.

void AnalyseTCPAnswer(const TDataBuffer& C, uint8_t Seq, uint8_t Cmd, TDataBuffer& AnswerData,
                      TDataBuffer& Status) {
  AnswerData.clear();
  Status.clear();
  if (C.size() < 4) throw ECmdException(DeviceError::ReadDataFailed, "LEN1");
  uint32_t Sum = 0;
  size_t Count = 0;
  auto Add = [&](uint8_t B) {
    Sum += B;
    ++Count;
  };

  const uint8_t Len = C[1];
  if (Len == 0) throw ECmdException(DeviceError::ReadDataFailed, "<LEN>");
  Add(Len);
  if (C[2] == 0) throw ECmdException(DeviceError::ReadByteFailed, "<SEQ>");
  if (C[2] != Seq) throw ECmdException(DeviceError::WrongSequence, EchoMismatchText(C[2], Seq));
  Add(C[2]);
  if (C[3] == 0) throw ECmdException(DeviceError::ReadByteFailed, "<CMD>");
  if (C[3] != Cmd) throw ECmdException(DeviceError::WrongCommandEcho, EchoMismatchText(C[3], Cmd));
  Add(C[3]);

  // The separators are looked for after the echo bytes.
  auto Sep = std::find(C.begin() + 4, C.end(), kAnswerSeparator);
  if (Sep == C.end()) throw ECmdException(DeviceError::ReadByteFailed, "data");
  for (auto It = C.begin() + 4; It <= Sep; ++It) {
    if (*It > kAnswerSeparator) AnswerData.push_back(*It);
    Add(*It);
  }
  auto End = std::find(Sep + 1, C.end(), kDataEnd);
  if (C.end() - (Sep + 1) < static_cast<std::ptrdiff_t>(kStatusLength) || End == C.end())
    throw ECmdException(DeviceError::ReadByteFailed, "status");
  for (auto It = Sep + 1; It <= End; ++It) {
    if (*It > kDataEnd) Status.push_back(*It);
    Add(*It);
  }
  if (Status.size() != kStatusLength) throw ECmdException(DeviceError::ReadDataFailed, "<STATUS>");

  std::string Text;
  for (auto It = End + 1; It != C.end() && *It != kFrameEnd; ++It)
    if (*It > kFrameEnd) Text += ChecksumDigitText(*It);
  if (Text.size() != 4) throw ECmdException(DeviceError::ReadByteFailed, "[" + Text + "]");
  if (static_cast<int>(Count) != ExpectedCount(Len))
    throw ECmdException(DeviceError::BadLength, LenMismatchText(Len, Count));
  const std::string Computed = ChecksumText(Sum);
  if (Text != Computed) throw ECmdException(DeviceError::ReadByteFailed, "[" + Text + "/" + Computed + "]");
}

// ---------------------------------------------------------------------------------------
// TTCPDevice.

TTCPDevice::TTCPDevice(IDeviceClock& Clock) : FClock(Clock), FClient(std::make_unique<TClient>()) {}

TTCPDevice::~TTCPDevice() { Disconnect(); }

void TTCPDevice::SetHost(const std::string& Text) { FHost = Text; }

void TTCPDevice::SetPort(const std::string& Text) {
  int Value = 0;
  const char* First = Text.data();
  const char* Last = First + Text.size();
  if (First != Last && *First == '+') ++First;
  auto [Ptr, Ec] = std::from_chars(First, Last, Value);
  FPort = (Ec == std::errc() && Ptr == Last && Value >= 0 && Value <= 65535) ? static_cast<uint16_t>(Value) : 0;
}

bool TTCPDevice::IsConnected() { return FClient->Alive(); }

void TTCPDevice::Disconnect() { FClient->Close(); }

bool TTCPDevice::Connect() {
  const auto Start = FClock.Now();
  Disconnect();
  // Attempts follow each other without a pause, but an attempt that fails at once (a
  // refused connection) waits out the rest of its ConnectTimeout first, so the about 5 s
  // of trying are a handful of attempts, not a flood of them.
  do {
    const auto AttemptStart = FClock.Now();
    try {
      FClient->ConnectOnce(FHost, FPort, milliseconds(ConnectTimeout));
      if (FClient->Socket.is_open()) return true;
    } catch (const std::exception& E) {
      if (ElapsedWholeSeconds(Start, FClock.Now()) > 3) {
        FErrorCode = DeviceError::WriteFailed;
        FErrorText = "Failed to connect host. " + FailureText(E);
        return false;
      }
      const long long Spent = ElapsedMs(AttemptStart, FClock.Now());
      if (Spent < ConnectTimeout) FClock.SleepFor(milliseconds(ConnectTimeout - Spent));
    }
  } while (ElapsedWholeSeconds(Start, FClock.Now()) <= 4);
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
  } catch (const std::exception& E) {
    std::string Message = FailureText(E);
    std::replace(Message.begin(), Message.end(), '#', ' ');
    throw ECmdException(DeviceError::WriteFailed, Message);
  }
}

void TTCPDevice::ReadAnswer(uint8_t Cmd, IDeviceClock::TTimePoint /*CallStart*/, TDataBuffer& Answer,
                            TDataBuffer& Status) {
  // Everything up to the 0x03 is collected first and analysed as a whole. The SYN limit
  // counts from the write of this attempt.
  TDataBuffer Collected;
  const auto T1 = FClock.Now();
  bool Started = false;
  size_t Read = 0;  // bytes other than SYN in this attempt
  for (;;) {
    const uint8_t B = FClient->ReadByte(FReadTimeout);
    if (B == kSyn) {
      if (ElapsedMs(T1, FClock.Now()) >= 120000) throw ECmdException(DeviceError::Busy);
    } else {
      if (B == kNak) throw ECmdException(DeviceError::Nak, "<NAK>");
      ++Read;
    }
    if (B == kFrameStart) Started = true;
    if (Started) Collected.push_back(B);
    if (B == kFrameEnd || Read > TCPMaxAnswerBytes) break;
  }
  AnalyseTCPAnswer(Collected, FSequence, Cmd, Answer, Status);
}

const TRetryRule* TTCPDevice::OtherFailure(const std::exception& E) {
  FErrorCode = DeviceError::NoResponse;
  if (const auto* Socket = dynamic_cast<const asio::system_error*>(&E)) {
    // The socket layer: a socket error or the read time-out reconnects and tries again;
    // the connection closed by the printer's side ends the exchange.
    FErrorText = std::string(TCPSocketErrorClass) + "/" + SocketErrorText(Socket->code());
    return IsPeerClosed(Socket->code()) ? nullptr : &kSocketRetry;
  }
  FErrorText = "Unexpected error: " + ExceptionClassName(E) + " / " + E.what();
  return nullptr;
}

bool TTCPDevice::SendCommand(uint8_t Cmd, TDataBuffer& Data, uint8_t Retries, TDataBuffer& Status) {
  return Exchange(*this, Cmd, Data, Retries, Status);
}

}  // namespace fp
