#include "library/transport/RS232DeviceUnit.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace fp {

namespace {

using std::chrono::milliseconds;

struct TListedSpeed {
  const char* Text;
  uint32_t Baud;
};

constexpr TListedSpeed kSpeeds[] = {{"110", 110},       {"300", 300},       {"600", 600},      {"1200", 1200},
                                    {"2400", 2400},     {"4800", 4800},     {"9600", 9600},    {"14400", 14400},
                                    {"19200", 19200},   {"38400", 38400},   {"56000", 56000},  {"57600", 57600},
                                    {"115200", 115200}, {"128000", 128000}, {"256000", 256000}};

// Byte time-outs in milliseconds.
constexpr int kAnswerStartTimeout = 700;
constexpr int kAnswerByteTimeout = 500;
constexpr int kDrainByteTimeout = 300;

// The marks a repeated attempt leaves in the error text, before the next attempt's failure;
// kept for log readers, who search for them.
constexpr const char* kMarkRetry = "\r\n[RETRY->]";         // no answer began
constexpr const char* kMarkRetryAnswer = "\r\n[RETRY->>]";  // a bad answer or a NAK
constexpr const char* kMarkRetryDrain = "\r\n[RETRY->>>]";  // an answer to another request

// What each failure of an attempt does next on the serial line. Only a missing answer
// start counts an attempt; a bad answer or a NAK is asked for again after 200 ms, and an
// answer to another request is read away first. Everything else (101 closed port, 102
// write failure, 120 busy too long) ends the call.
constexpr TRetryRule kSerialRules[] = {
    {.Code = DeviceError::NoResponse, .Next = TNextStep::Retry, .Counted = true, .WithinMs = 4000, .Mark = kMarkRetry},
    {.Code = DeviceError::ReadByteFailed, .Next = TNextStep::Retry, .PauseMs = 200, .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::ReadDataFailed, .Next = TNextStep::Retry, .PauseMs = 200, .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::Nak, .Next = TNextStep::Retry, .PauseMs = 200, .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::BadChecksum, .Next = TNextStep::Retry, .PauseMs = 200, .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::BadLength, .Next = TNextStep::Retry, .PauseMs = 200, .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::WrongSequence, .Next = TNextStep::DrainRetry, .PauseMs = 50, .Mark = kMarkRetryDrain},
    {.Code = DeviceError::NotSupported, .Next = TNextStep::DrainRetry, .PauseMs = 50, .Mark = kMarkRetryDrain},
    {.Code = DeviceError::RetriesExhausted, .Next = TNextStep::StopCounted},
};

// Retries for 40 s; every failure adds the text of its code and its message.
constexpr TRetryPolicy kSerialPolicy{.Rules = kSerialRules, .WindowSeconds = 40, .CodeText = true};

}  // namespace

uint32_t RS232SpeedFromText(const std::string& Text, std::string* Listed) {
  for (const TListedSpeed& s : kSpeeds) {
    if (Text.size() == std::char_traits<char>::length(s.Text) && strncasecmp(Text.data(), s.Text, Text.size()) == 0) {
      if (Listed) *Listed = s.Text;
      return s.Baud;
    }
  }
  if (Listed) *Listed = "9600";
  return 9600;
}

TRS32Device::TRS32Device(std::unique_ptr<TComPort> Port, IDeviceClock& Clock)
    : FPort(Port ? std::move(Port) : std::make_unique<TComPort>()), FClock(Clock) {
  FPort->SetBaudRate(9600);
}

TRS32Device::~TRS32Device() {
  try {
    Disconnect();
  } catch (const std::exception&) {
    // The port is closed all the same.
  }
}

void TRS32Device::SetPortName(const std::string& Name) {
  FPortName = Name;
  FPort->SetPort(Name);
}

void TRS32Device::SetBaudRate(const std::string& Text) {
  const uint32_t baud = RS232SpeedFromText(Text, &FSpeedText);
  FPort->SetBaudRate(baud);
}

void TRS32Device::Disconnect() {
  FReadPos = FReadLen = 0;
  if (FPort->Connected()) FPort->Close();
}

bool TRS32Device::IsConnected() { return FPort->Connected(); }

bool TRS32Device::Connect() {
  try {
    Disconnect();
  } catch (const std::exception& e) {
    FErrorCode = DeviceError::WriteFailed;
    FErrorText = "Failed to close com port \"" + FPortName + "\": " + e.what();
  }
  FPortInUse = false;
  try {
    // The port applies the fixed line settings (8N1, raw, no flow control) when it opens.
    FPort->Open();
    return FPort->Connected();
  } catch (const EComPortError& e) {
    FErrorText = "Failed open port " + FPortName + "/" + FSpeedText + " " + e.what();
    FErrorCode = DeviceError::WriteFailed;
    FPortInUse = e.InUse;
    return false;
  } catch (const std::exception& e) {
    FErrorText = "Failed open port " + FPortName + "/" + FSpeedText + " " + e.what();
    FErrorCode = DeviceError::WriteFailed;
    return false;
  }
}

bool TRS32Device::ReadByte(int Timeout, uint8_t& Byte) {
  if (FReadPos < FReadLen) {
    Byte = FReadAhead[FReadPos++];
    return true;
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + milliseconds(Timeout);
  for (;;) {
    const long long left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    try {
      // The port waits with poll up to the time left and returns as soon as bytes are
      // there; 0 means the time has passed without a byte.
      const size_t n = FPort->ReadWait(FReadAhead, sizeof FReadAhead, static_cast<int>(left));
      if (n == 0) return false;
      FReadPos = 1;
      FReadLen = n;
      Byte = FReadAhead[0];
      return true;
    } catch (const std::exception&) {
      std::this_thread::sleep_for(milliseconds(std::min<long long>(100, left)));
    }
  }
}

uint8_t TRS32Device::NextByte(int32_t Code, const char* Where) {
  uint8_t b = 0;
  if (!ReadByte(kAnswerByteTimeout, b)) throw ECmdException(Code, Where);
  return b;
}

void TRS32Device::ReadFrameBody(uint8_t Cmd, TDataBuffer& Answer, TDataBuffer& Status) {
  uint32_t sum = 0;
  size_t count = 0;
  auto add = [&](uint8_t B) {
    sum += B;
    ++count;
  };

  const uint8_t len = NextByte(DeviceError::ReadByteFailed, "<LEN>");
  add(len);
  const uint8_t seq = NextByte(DeviceError::ReadByteFailed, "<SEQ>");
  if (seq != FSequence) throw ECmdException(DeviceError::WrongSequence, EchoMismatchText(seq, FSequence));
  add(seq);
  const uint8_t echo = NextByte(DeviceError::ReadByteFailed, "<CMD>");
  if (echo != Cmd) throw ECmdException(DeviceError::NotSupported, EchoMismatchText(echo, Cmd));
  add(echo);

  for (;;) {
    const uint8_t b = NextByte(DeviceError::ReadDataFailed, "<DATA>");
    if (b > kAnswerSeparator) Answer.push_back(b);
    add(b);
    if (b == kAnswerSeparator) break;
    if (count > RS232MaxAnswerBytes) throw ECmdException(DeviceError::ReadDataFailed, "<DATA>");
  }
  size_t statusCount = 0;
  for (;;) {
    const uint8_t b = NextByte(DeviceError::ReadDataFailed, "<STATUS>");
    if (b > kDataEnd) Status.push_back(b);
    add(b);
    ++statusCount;
    if (b == kDataEnd) break;
    if (count > RS232MaxAnswerBytes) throw ECmdException(DeviceError::ReadDataFailed, "<STATUS>");
  }
  if (statusCount != kStatusLength + 1) throw ECmdException(DeviceError::ReadDataFailed, "<STATUS>");

  std::string text;
  size_t checksumBytes = 0;
  for (;;) {
    const uint8_t b = NextByte(DeviceError::ReadDataFailed, "<BCC>");
    if (b == kFrameEnd) break;
    if (b > kFrameEnd) text += ChecksumDigitText(b);
    if (++checksumBytes > RS232MaxAnswerBytes) throw ECmdException(DeviceError::ReadDataFailed, "<BCC>");
  }

  if (static_cast<int>(count) != ExpectedCount(len))
    throw ECmdException(DeviceError::BadLength, LenMismatchText(len, count));
  if (text.size() != 4) throw ECmdException(DeviceError::BadChecksum, "[" + text + "]");
  const std::string computed = ChecksumText(sum);
  if (text != computed) throw ECmdException(DeviceError::BadChecksum, "[" + text + "/" + computed + "]");
}

// ---------------------------------------------------------------------------------------
// The link parts of the exchange loop.

const TRetryPolicy& TRS32Device::RetryPolicy() const { return kSerialPolicy; }

// The serial device never reopens the port inside an exchange: that is the caller's task.
bool TRS32Device::LinkReady() { return FPort->Connected(); }

void TRS32Device::SendFrame(const TDataBuffer& Frame) {
  size_t written = 0;
  try {
    // Whatever is left of an earlier answer goes with the purge.
    FReadPos = FReadLen = 0;
    FPort->Purge();
    written = FPort->Write(Frame.data(), Frame.size());
  } catch (const std::exception& e) {
    throw ECmdException(DeviceError::WriteFailed, e.what());
  }
  if (written != Frame.size())
    throw ECmdException(DeviceError::WriteFailed, std::to_string(written) + "/" + std::to_string(Frame.size()));
}

void TRS32Device::ReadAnswer(uint8_t Cmd, IDeviceClock::TTimePoint CallStart, TDataBuffer& Answer,
                             TDataBuffer& Status) {
  // The start of the answer. SYN: the printer is busy with the command and the wait goes on
  // (for 120 s from the start of the call); other stray bytes are passed over for 60 s.
  for (;;) {
    uint8_t b = 0;
    if (!ReadByte(kAnswerStartTimeout, b)) throw ECmdException(DeviceError::NoResponse, "<01>");
    if (b == kFrameStart) break;
    if (b == kSyn) {
      if (ElapsedMs(CallStart, FClock.Now()) >= 120000) throw ECmdException(DeviceError::Busy);
    } else if (b == kNak) {
      throw ECmdException(DeviceError::Nak, "<NAK>");
    } else if (ElapsedMs(CallStart, FClock.Now()) >= 60000) {
      throw ECmdException(DeviceError::NoResponse, "<01> first byte not recieved");
    }
  }
  ReadFrameBody(Cmd, Answer, Status);
}

void TRS32Device::DrainAnswer(IDeviceClock::TTimePoint CallStart) {
  // Until the line stays quiet for one byte time-out, or 7 s after the start of the call.
  uint8_t b = 0;
  while (ReadByte(kDrainByteTimeout, b) && ElapsedMs(CallStart, FClock.Now()) <= 7000) {
  }
}

const TRetryRule* TRS32Device::OtherFailure(const std::exception& E) {
  FErrorText = std::string("Unexpected error: ") + E.what();
  return nullptr;
}

bool TRS32Device::SendCommand(uint8_t Cmd, TDataBuffer& Data, uint8_t Retries, TDataBuffer& Status) {
  return Exchange(*this, Cmd, Data, Retries, Status);
}

}  // namespace fp
