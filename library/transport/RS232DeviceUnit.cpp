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

constexpr TListedSpeed kSpeeds[] = {
    {"110", 110},       {"300", 300},       {"600", 600},       {"1200", 1200},     {"2400", 2400},
    {"4800", 4800},     {"9600", 9600},     {"14400", 14400},   {"19200", 19200},   {"38400", 38400},
    {"56000", 56000},   {"57600", 57600},   {"115200", 115200}, {"128000", 128000}, {"256000", 256000}};

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
    {.Code = DeviceError::NoResponse, .Next = TNextStep::Retry,
     .Counted = true, .WithinMs = 4000, .Mark = kMarkRetry},
    {.Code = DeviceError::ReadByteFailed, .Next = TNextStep::Retry,
     .PauseMs = 200, .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::ReadDataFailed, .Next = TNextStep::Retry,
     .PauseMs = 200, .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::Nak, .Next = TNextStep::Retry,
     .PauseMs = 200, .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::BadChecksum, .Next = TNextStep::Retry,
     .PauseMs = 200, .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::BadLength, .Next = TNextStep::Retry,
     .PauseMs = 200, .Mark = kMarkRetryAnswer},
    {.Code = DeviceError::WrongSequence, .Next = TNextStep::DrainRetry,
     .PauseMs = 50, .Mark = kMarkRetryDrain},
    {.Code = DeviceError::NotSupported, .Next = TNextStep::DrainRetry,
     .PauseMs = 50, .Mark = kMarkRetryDrain},
    {.Code = DeviceError::RetriesExhausted, .Next = TNextStep::StopCounted},
};

// Retries for 40 s; every failure adds the text of its code and its message.
constexpr TRetryPolicy kSerialPolicy{.Rules = kSerialRules, .WindowSeconds = 40, .CodeText = true};

}  // namespace

uint32_t RS232SpeedFromText(const std::string& Text, std::string* Listed) {
  for (const TListedSpeed& S : kSpeeds) {
    if (Text.size() == std::char_traits<char>::length(S.Text) && strncasecmp(Text.data(), S.Text, Text.size()) == 0) {
      if (Listed) *Listed = S.Text;
      return S.Baud;
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
  const uint32_t Baud = RS232SpeedFromText(Text, &FSpeedText);
  FPort->SetBaudRate(Baud);
}

void TRS32Device::Disconnect() {
  FReadPos = FReadLen = 0;
  if (FPort->Connected()) FPort->Close();
}

bool TRS32Device::IsConnected() { return FPort->Connected(); }

bool TRS32Device::Connect() {
  try {
    Disconnect();
  } catch (const std::exception& E) {
    FErrorCode = DeviceError::WriteFailed;
    FErrorText = "Failed to close com port \"" + FPortName + "\": " + E.what();
  }
  try {
    // The port applies the fixed line settings (8N1, raw, no flow control) when it opens.
    FPort->Open();
    return FPort->Connected();
  } catch (const std::exception& E) {
    FErrorText = "Failed open port " + FPortName + "/" + FSpeedText + " " + E.what();
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
  const auto Deadline = Clock::now() + milliseconds(Timeout);
  for (;;) {
    const long long Left = std::chrono::duration_cast<milliseconds>(Deadline - Clock::now()).count();
    if (Left <= 0) return false;
    try {
      // The port waits with poll up to the time left and returns as soon as bytes are
      // there; 0 means the time has passed without a byte.
      const size_t N = FPort->ReadWait(FReadAhead, sizeof FReadAhead, static_cast<int>(Left));
      if (N == 0) return false;
      FReadPos = 1;
      FReadLen = N;
      Byte = FReadAhead[0];
      return true;
    } catch (const std::exception&) {
      std::this_thread::sleep_for(milliseconds(std::min<long long>(100, Left)));
    }
  }
}

uint8_t TRS32Device::NextByte(int32_t Code, const char* Where) {
  uint8_t B = 0;
  if (!ReadByte(kAnswerByteTimeout, B)) throw ECmdException(Code, Where);
  return B;
}

void TRS32Device::ReadFrameBody(uint8_t Cmd, TDataBuffer& Answer, TDataBuffer& Status) {
  uint32_t Sum = 0;
  size_t Count = 0;
  auto Add = [&](uint8_t B) {
    Sum += B;
    ++Count;
  };

  const uint8_t Len = NextByte(DeviceError::ReadByteFailed, "<LEN>");
  Add(Len);
  const uint8_t Seq = NextByte(DeviceError::ReadByteFailed, "<SEQ>");
  if (Seq != FSequence) throw ECmdException(DeviceError::WrongSequence, EchoMismatchText(Seq, FSequence));
  Add(Seq);
  const uint8_t Echo = NextByte(DeviceError::ReadByteFailed, "<CMD>");
  if (Echo != Cmd) throw ECmdException(DeviceError::NotSupported, EchoMismatchText(Echo, Cmd));
  Add(Echo);

  for (;;) {
    const uint8_t B = NextByte(DeviceError::ReadDataFailed, "<DATA>");
    if (B > kAnswerSeparator) Answer.push_back(B);
    Add(B);
    if (B == kAnswerSeparator) break;
    if (Count > RS232MaxAnswerBytes) throw ECmdException(DeviceError::ReadDataFailed, "<DATA>");
  }
  size_t StatusCount = 0;
  for (;;) {
    const uint8_t B = NextByte(DeviceError::ReadDataFailed, "<STATUS>");
    if (B > kDataEnd) Status.push_back(B);
    Add(B);
    ++StatusCount;
    if (B == kDataEnd) break;
    if (Count > RS232MaxAnswerBytes) throw ECmdException(DeviceError::ReadDataFailed, "<STATUS>");
  }
  if (StatusCount != kStatusLength + 1) throw ECmdException(DeviceError::ReadDataFailed, "<STATUS>");

  std::string Text;
  size_t ChecksumBytes = 0;
  for (;;) {
    const uint8_t B = NextByte(DeviceError::ReadDataFailed, "<BCC>");
    if (B == kFrameEnd) break;
    if (B > kFrameEnd) Text += ChecksumDigitText(B);
    if (++ChecksumBytes > RS232MaxAnswerBytes) throw ECmdException(DeviceError::ReadDataFailed, "<BCC>");
  }

  if (static_cast<int>(Count) != ExpectedCount(Len))
    throw ECmdException(DeviceError::BadLength, LenMismatchText(Len, Count));
  if (Text.size() != 4) throw ECmdException(DeviceError::BadChecksum, "[" + Text + "]");
  const std::string Computed = ChecksumText(Sum);
  if (Text != Computed) throw ECmdException(DeviceError::BadChecksum, "[" + Text + "/" + Computed + "]");
}

// ---------------------------------------------------------------------------------------
// The link parts of the exchange loop.

const TRetryPolicy& TRS32Device::RetryPolicy() const { return kSerialPolicy; }

// The serial device never reopens the port inside an exchange: that is the caller's task.
bool TRS32Device::LinkReady() { return FPort->Connected(); }

void TRS32Device::SendFrame(const TDataBuffer& Frame) {
  size_t Written = 0;
  try {
    // Whatever is left of an earlier answer goes with the purge.
    FReadPos = FReadLen = 0;
    FPort->Purge();
    Written = FPort->Write(Frame.data(), Frame.size());
  } catch (const std::exception& E) {
    throw ECmdException(DeviceError::WriteFailed, E.what());
  }
  if (Written != Frame.size())
    throw ECmdException(DeviceError::WriteFailed, std::to_string(Written) + "/" + std::to_string(Frame.size()));
}

void TRS32Device::ReadAnswer(uint8_t Cmd, IDeviceClock::TTimePoint CallStart, TDataBuffer& Answer,
                             TDataBuffer& Status) {
  // The start of the answer. SYN: the printer is busy with the command and the wait goes on
  // (for 120 s from the start of the call); other stray bytes are passed over for 60 s.
  for (;;) {
    uint8_t B = 0;
    if (!ReadByte(kAnswerStartTimeout, B)) throw ECmdException(DeviceError::NoResponse, "<01>");
    if (B == kFrameStart) break;
    if (B == kSyn) {
      if (ElapsedMs(CallStart, FClock.Now()) >= 120000) throw ECmdException(DeviceError::Busy);
    } else if (B == kNak) {
      throw ECmdException(DeviceError::Nak, "<NAK>");
    } else if (ElapsedMs(CallStart, FClock.Now()) >= 60000) {
      throw ECmdException(DeviceError::NoResponse, "<01> first byte not recieved");
    }
  }
  ReadFrameBody(Cmd, Answer, Status);
}

void TRS32Device::DrainAnswer(IDeviceClock::TTimePoint CallStart) {
  // Until the line stays quiet for one byte time-out, or 7 s after the start of the call.
  uint8_t B = 0;
  while (ReadByte(kDrainByteTimeout, B) && ElapsedMs(CallStart, FClock.Now()) <= 7000) {
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
