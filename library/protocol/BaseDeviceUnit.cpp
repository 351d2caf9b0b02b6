#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/DeviceText.h"

#include <chrono>
#include <cstdio>
#include <random>

namespace fp {

// ---------------------------------------------------------------------------------------
// Frame arithmetic.

uint8_t RequestLen(size_t DataCount) { return static_cast<uint8_t>((0x24 + DataCount) & 0xFF); }

uint8_t AnswerLen(size_t DataCount) { return static_cast<uint8_t>((0x2B + DataCount) & 0xFF); }

int ExpectedCount(uint8_t Len) { return static_cast<int>(Len) - 0x20; }

std::string LenMismatchText(uint8_t Len, size_t Count) {
  return std::to_string(ExpectedCount(Len)) + "/" + std::to_string(Count);
}

std::string EchoMismatchText(uint8_t Received, uint8_t Expected) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "[%02X/%02X]", Received, Expected);
  return buf;
}

uint16_t ComputeChecksum(const uint8_t* Bytes, size_t Count) {
  uint32_t sum = 0;
  for (size_t i = 0; i < Count; ++i) sum += Bytes[i];
  return static_cast<uint16_t>(sum & 0xFFFF);
}

void EncodeChecksum(uint16_t Sum, uint8_t Out[4]) {
  for (int i = 0; i < 4; ++i) Out[i] = static_cast<uint8_t>(0x30 + ((Sum >> (12 - 4 * i)) & 0x0F));
}

namespace {

// Value in upper-case hexadecimal, at least MinDigits digits (as "%0*X" writes it). Written
// out here: it runs for every check sum byte of every answer, where snprintf costs more
// than the rest of reading the answer.
std::string HexText(uint32_t Value, size_t MinDigits) {
  char digits[8];
  size_t n = 0;
  do {
    digits[n++] = "0123456789ABCDEF"[Value & 0x0F];
    Value >>= 4;
  } while (Value != 0);
  std::string text(n < MinDigits ? MinDigits - n : 0, '0');
  while (n > 0) text += digits[--n];
  return text;
}

}  // namespace

std::string ChecksumDigitText(uint8_t Byte) {
  // The value is taken as a 32-bit integer, so a byte below 0x30 gives eight digits.
  return HexText(static_cast<uint32_t>(static_cast<int32_t>(Byte) - 0x30), 1);
}

std::string ChecksumText(uint32_t Sum) { return HexText(Sum, 4); }

TDataBuffer BuildRequestFrame(uint8_t Seq, uint8_t Cmd, const TDataBuffer& Data) {
  if (Data.size() > kMaxRequestData) throw ECmdException(DeviceError::InvalidInput, "[DataLen]");
  TDataBuffer frame;
  frame.reserve(Data.size() + 10);
  frame.push_back(kFrameStart);
  frame.push_back(RequestLen(Data.size()));
  frame.push_back(Seq);
  frame.push_back(Cmd);
  frame.insert(frame.end(), Data.begin(), Data.end());
  frame.push_back(kDataEnd);
  TBaseDevice::AddChecksum(frame);
  frame.push_back(kFrameEnd);
  return frame;
}

TDataBuffer BuildAnswerFrame(uint8_t Seq, uint8_t Cmd, const TDataBuffer& Data, const TDataBuffer& Status) {
  TDataBuffer frame;
  frame.push_back(kFrameStart);
  frame.push_back(static_cast<uint8_t>((0x25 + Data.size() + Status.size()) & 0xFF));
  frame.push_back(Seq);
  frame.push_back(Cmd);
  frame.insert(frame.end(), Data.begin(), Data.end());
  frame.push_back(kAnswerSeparator);
  frame.insert(frame.end(), Status.begin(), Status.end());
  frame.push_back(kDataEnd);
  TBaseDevice::AddChecksum(frame);
  frame.push_back(kFrameEnd);
  return frame;
}

// ---------------------------------------------------------------------------------------
// TBaseDevice: construction, sequence, exchange start.

TBaseDevice::TBaseDevice() {
  // Seeded anew at each construction, from the clock and the system's random source.
  std::seed_seq seed{static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()),
                     static_cast<uint64_t>(std::random_device{}())};
  std::mt19937 gen(seed);
  FSequence = static_cast<uint8_t>(std::uniform_int_distribution<int>(32, 79)(gen));
}

void TBaseDevice::NextSequence() {
  uint8_t s = static_cast<uint8_t>(FSequence + 1);
  if (s < kSeqFirst || s > kSeqLast) s = kSeqFirst;
  FSequence = s;
}

void TBaseDevice::CheckDataLength(const TDataBuffer& Data) {
  if (Data.size() > kMaxRequestData) throw ECmdException(DeviceError::InvalidInput, "[DataLen]");
}

bool TBaseDevice::BeginExchange(const TDataBuffer& Data) {
  FErrorText.clear();
  FErrorCode = 0;
  NextSequence();
  try {
    CheckDataLength(Data);
  } catch (const ECmdException& e) {
    RecordError(e, TDataBuffer(), std::string());
    return false;
  }
  return true;
}

TDataBuffer TBaseDevice::BuildFrame(uint8_t Cmd, const TDataBuffer& Data) const {
  return BuildRequestFrame(FSequence, Cmd, Data);
}

// ---------------------------------------------------------------------------------------
// The exchange loop.

bool TBaseDevice::Exchange(TExchangeLink& Link, uint8_t Cmd, TDataBuffer& Data, uint8_t Retries, TDataBuffer& Status) {
  if (!BeginExchange(Data)) return false;
  const TRetryPolicy& policy = Link.RetryPolicy();
  IDeviceClock& clock = Link.ExchangeClock();
  const auto t0 = clock.Now();
  int attempts = 0;      // the counted attempts
  bool written = false;  // a frame of this call went out whole
  TDataBuffer answer;
  for (;;) {
    const TRetryRule* rule = nullptr;
    try {
      const int32_t attemptCode = FErrorCode;
      const std::string attemptText = FErrorText;
      if (!Link.LinkReady()) {
        if (!written) throw ECmdException(DeviceError::PortNotActive, "[" + Link.LinkName() + "]");
        // The printer may have run the frame already written: the call must not read as
        // "not connected" (nothing sent). It keeps the code of its failed attempt (107 once
        // the attempts are used; 103, no answer, where that attempt left no code of its
        // own) and that attempt's text, and the failure to connect again is added.
        std::string connectFailure;
        if (FErrorText != attemptText)
          connectFailure = FErrorText.compare(0, attemptText.size(), attemptText) == 0
                               ? FErrorText.substr(attemptText.size())
                               : FErrorText;
        FErrorText = attemptText;
        int32_t code = attemptCode;
        if (attempts >= Retries)
          code = DeviceError::RetriesExhausted;
        else if (code == 0 || code == DeviceError::PortNotActive || code == DeviceError::WriteFailed)
          code = DeviceError::NoResponse;
        FErrorCode = code;
        if (policy.CodeText) FErrorText += ErrorCodeText(code, std::string());
        FErrorText += connectFailure + "[" + Link.LinkName() + "]";
        return false;
      }
      if (attempts >= Retries) throw ECmdException(DeviceError::RetriesExhausted, "[" + Link.LinkName() + "]");
      // Every attempt sends the same frame: the SEQ was stepped once, by BeginExchange.
      Link.SendFrame(BuildFrame(Cmd, Data));
      written = true;
      Status.clear();
      answer.clear();
      Link.ReadAnswer(Cmd, t0, answer, Status);
      Data = std::move(answer);
      FErrorText.clear();
      FErrorCode = 0;
      return true;
    } catch (const ECmdException& e) {
      // Each failed attempt adds its text, so the marks show the way to the last failure.
      if (policy.CodeText) FErrorText += ErrorCodeText(e.Code, std::string());
      FErrorText += e.Message;
      FErrorCode = e.Code;
      rule = policy.Find(e.Code);
    } catch (const std::exception& e) {
      rule = Link.OtherFailure(e);
    }

    if (!rule || rule->Next == TNextStep::Stop) return false;
    if (rule->Next == TNextStep::StopCounted) {
      FErrorText += "[" + std::to_string(attempts) + "]";
      return false;
    }
    if (rule->WithinMs != 0 && ElapsedMs(t0, clock.Now()) > rule->WithinMs) return false;
    if (rule->Next == TNextStep::DrainRetry) Link.DrainAnswer(t0);
    if (rule->PauseMs != 0) clock.SleepFor(std::chrono::milliseconds(rule->PauseMs));
    if (rule->Counted) ++attempts;
    FErrorText += rule->Mark;
    if (ElapsedWholeSeconds(t0, clock.Now()) > policy.WindowSeconds) return false;
  }
}

// ---------------------------------------------------------------------------------------
// Appenders.

void TBaseDevice::AddByte(uint8_t B, TDataBuffer& Buf) { Buf.push_back(B); }

void TBaseDevice::AddEscapedByte(uint8_t B, TDataBuffer& Buf) {
  if (B < 0x20 && B != 0x09 && B != 0x0A) {
    Buf.push_back(kEscape);
    Buf.push_back(static_cast<uint8_t>(B + 0x40));
  } else {
    Buf.push_back(B);
  }
}

void TBaseDevice::AddEscapedChar(char Ch, TDataBuffer& Buf) { AddEscapedByte(static_cast<uint8_t>(Ch), Buf); }

void TBaseDevice::AddEscapedText(std::string_view Text, TDataBuffer& Buf) {
  for (char ch : Text) AddEscapedChar(ch, Buf);
}

void TBaseDevice::AddBytes(const TDataBuffer& Src, TDataBuffer& Dst) { Dst.insert(Dst.end(), Src.begin(), Src.end()); }

void TBaseDevice::AddChecksum(TDataBuffer& Frame) {
  uint8_t bcc[4];
  EncodeChecksum(Frame.size() > 1 ? ComputeChecksum(Frame.data() + 1, Frame.size() - 1) : 0, bcc);
  Frame.insert(Frame.end(), bcc, bcc + 4);
}

// ---------------------------------------------------------------------------------------
// Text and fields.

std::string TBaseDevice::BufferToText(const TDataBuffer& Buf) { return BytesToText(Buf, 0, Buf.size()); }

std::string TBaseDevice::BytesToText(const TDataBuffer& Buf, size_t Start, size_t Count) {
  if (Start >= Buf.size()) return {};
  if (Count > Buf.size() - Start) Count = Buf.size() - Start;
  return std::string(reinterpret_cast<const char*>(Buf.data()) + Start, Count);
}

std::string TBaseDevice::ExtractCommaField(std::string& S) {
  size_t p = S.find(',');
  if (p == std::string::npos) {
    std::string all;
    all.swap(S);
    return all;
  }
  std::string field = S.substr(0, p);
  S.erase(0, p + 1);
  return field;
}

std::string TBaseDevice::ExtractSpaceField(std::string& S) {
  size_t p = S.find(' ');
  if (p == std::string::npos) {
    std::string all;
    all.swap(S);
    return all;
  }
  std::string field = S.substr(0, p);
  size_t rest = S.find_first_not_of(' ', p);
  S.erase(0, rest == std::string::npos ? S.size() : rest);
  return field;
}

int TBaseDevice::CountFields(std::string_view S) {
  int n = 0;
  bool inField = false;
  for (char ch : S) {
    if (ch == ',') {
      inField = false;
    } else if (!inField) {
      inField = true;
      ++n;
    }
  }
  return n;
}

// ---------------------------------------------------------------------------------------
// Recording a failure.

void TBaseDevice::RecordError(const std::exception& E, const TDataBuffer& Status, const std::string& Extra) {
  const auto* cmd = dynamic_cast<const ECmdException*>(&E);
  if (!cmd) {
    // Not a device failure (a conversion, a bad allocation...): its message is the text,
    // the code stays as the exchange left it.
    FErrorText = E.what();
    return;
  }
  FErrorCode = cmd->Code;
  FErrorText = ErrorCodeText(cmd->Code, cmd->Message);

  if (Extra.find_first_not_of(' ') != std::string::npos) {
    const std::string rest = WithoutErrorMarks(Extra);
    if (!rest.empty()) FErrorText += "#" + rest;
  }

  if (!Status.empty()) {
    std::string text;
    StatusErrorsText(Status, FErrorCode, text);
    FErrorText += " " + text;
  }
}

}  // namespace fp
