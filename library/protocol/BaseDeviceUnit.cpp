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
  char Buf[16];
  std::snprintf(Buf, sizeof Buf, "[%02X/%02X]", Received, Expected);
  return Buf;
}

uint16_t ComputeChecksum(const uint8_t* Bytes, size_t Count) {
  uint32_t Sum = 0;
  for (size_t I = 0; I < Count; ++I) Sum += Bytes[I];
  return static_cast<uint16_t>(Sum & 0xFFFF);
}

void EncodeChecksum(uint16_t Sum, uint8_t Out[4]) {
  for (int I = 0; I < 4; ++I) Out[I] = static_cast<uint8_t>(0x30 + ((Sum >> (12 - 4 * I)) & 0x0F));
}

std::string ChecksumDigitText(uint8_t Byte) {
  // The value is taken as a 32-bit integer, so a byte below 0x30 gives eight digits.
  char Buf[16];
  std::snprintf(Buf, sizeof Buf, "%X", static_cast<unsigned>(static_cast<int32_t>(Byte) - 0x30));
  return Buf;
}

std::string ChecksumText(uint32_t Sum) {
  char Buf[16];
  std::snprintf(Buf, sizeof Buf, "%04X", static_cast<unsigned>(Sum));
  return Buf;
}

TDataBuffer BuildRequestFrame(uint8_t Seq, uint8_t Cmd, const TDataBuffer& Data) {
  if (Data.size() > kMaxRequestData) throw ECmdException(DeviceError::InvalidInput, "[DataLen]");
  TDataBuffer Frame;
  Frame.reserve(Data.size() + 10);
  Frame.push_back(kFrameStart);
  Frame.push_back(RequestLen(Data.size()));
  Frame.push_back(Seq);
  Frame.push_back(Cmd);
  Frame.insert(Frame.end(), Data.begin(), Data.end());
  Frame.push_back(kDataEnd);
  TBaseDevice::AddChecksum(Frame);
  Frame.push_back(kFrameEnd);
  return Frame;
}

TDataBuffer BuildAnswerFrame(uint8_t Seq, uint8_t Cmd, const TDataBuffer& Data, const TDataBuffer& Status) {
  TDataBuffer Frame;
  Frame.push_back(kFrameStart);
  Frame.push_back(static_cast<uint8_t>((0x25 + Data.size() + Status.size()) & 0xFF));
  Frame.push_back(Seq);
  Frame.push_back(Cmd);
  Frame.insert(Frame.end(), Data.begin(), Data.end());
  Frame.push_back(kAnswerSeparator);
  Frame.insert(Frame.end(), Status.begin(), Status.end());
  Frame.push_back(kDataEnd);
  TBaseDevice::AddChecksum(Frame);
  Frame.push_back(kFrameEnd);
  return Frame;
}

// ---------------------------------------------------------------------------------------
// TBaseDevice: construction, sequence, exchange start.

TBaseDevice::TBaseDevice() {
  // Seeded anew at each construction, from the clock and the system's random source.
  std::seed_seq Seed{static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()),
                     static_cast<uint64_t>(std::random_device{}())};
  std::mt19937 Gen(Seed);
  FSequence = static_cast<uint8_t>(std::uniform_int_distribution<int>(32, 79)(Gen));
}

void TBaseDevice::NextSequence() {
  uint8_t S = static_cast<uint8_t>(FSequence + 1);
  if (S < kSeqFirst || S > kSeqLast) S = kSeqFirst;
  FSequence = S;
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
  } catch (const ECmdException& E) {
    RecordError(E, TDataBuffer(), std::string());
    return false;
  }
  return true;
}

TDataBuffer TBaseDevice::BuildFrame(uint8_t Cmd, const TDataBuffer& Data) const {
  return BuildRequestFrame(FSequence, Cmd, Data);
}

// ---------------------------------------------------------------------------------------
// The exchange loop.

bool TBaseDevice::Exchange(TExchangeLink& Link, uint8_t Cmd, TDataBuffer& Data, uint8_t Retries,
                           TDataBuffer& Status) {
  if (!BeginExchange(Data)) return false;
  const TRetryPolicy& Policy = Link.RetryPolicy();
  IDeviceClock& Clock = Link.ExchangeClock();
  const auto T0 = Clock.Now();
  int Attempts = 0;  // the counted attempts
  bool Written = false;  // a frame of this call went out whole
  TDataBuffer Answer;
  for (;;) {
    const TRetryRule* Rule = nullptr;
    try {
      const int32_t AttemptCode = FErrorCode;
      const std::string AttemptText = FErrorText;
      if (!Link.LinkReady()) {
        if (!Written) throw ECmdException(DeviceError::PortNotActive, "[" + Link.LinkName() + "]");
        // The printer may have run the frame already written: the call must not read as
        // "not connected" (nothing sent). It keeps the code of its failed attempt (107 once
        // the attempts are used; 103, no answer, where that attempt left no code of its
        // own) and that attempt's text, and the failure to connect again is added.
        std::string ConnectFailure;
        if (FErrorText != AttemptText)
          ConnectFailure = FErrorText.compare(0, AttemptText.size(), AttemptText) == 0
                               ? FErrorText.substr(AttemptText.size())
                               : FErrorText;
        FErrorText = AttemptText;
        int32_t Code = AttemptCode;
        if (Attempts >= Retries) Code = DeviceError::RetriesExhausted;
        else if (Code == 0 || Code == DeviceError::PortNotActive || Code == DeviceError::WriteFailed)
          Code = DeviceError::NoResponse;
        FErrorCode = Code;
        if (Policy.CodeText) FErrorText += ErrorCodeText(Code, std::string());
        FErrorText += ConnectFailure + "[" + Link.LinkName() + "]";
        return false;
      }
      if (Attempts >= Retries) throw ECmdException(DeviceError::RetriesExhausted, "[" + Link.LinkName() + "]");
      // Every attempt sends the same frame: the SEQ was stepped once, by BeginExchange.
      Link.SendFrame(BuildFrame(Cmd, Data));
      Written = true;
      Status.clear();
      Answer.clear();
      Link.ReadAnswer(Cmd, T0, Answer, Status);
      Data = std::move(Answer);
      FErrorText.clear();
      FErrorCode = 0;
      return true;
    } catch (const ECmdException& E) {
      // Each failed attempt adds its text, so the marks show the way to the last failure.
      if (Policy.CodeText) FErrorText += ErrorCodeText(E.Code, std::string());
      FErrorText += E.Message;
      FErrorCode = E.Code;
      Rule = Policy.Find(E.Code);
    } catch (const std::exception& E) {
      Rule = Link.OtherFailure(E);
    }

    if (!Rule || Rule->Next == TNextStep::Stop) return false;
    if (Rule->Next == TNextStep::StopCounted) {
      FErrorText += "[" + std::to_string(Attempts) + "]";
      return false;
    }
    if (Rule->WithinMs != 0 && ElapsedMs(T0, Clock.Now()) > Rule->WithinMs) return false;
    if (Rule->Next == TNextStep::DrainRetry) Link.DrainAnswer(T0);
    if (Rule->PauseMs != 0) Clock.SleepFor(std::chrono::milliseconds(Rule->PauseMs));
    if (Rule->Counted) ++Attempts;
    FErrorText += Rule->Mark;
    if (ElapsedWholeSeconds(T0, Clock.Now()) > Policy.WindowSeconds) return false;
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
  for (char Ch : Text) AddEscapedChar(Ch, Buf);
}

void TBaseDevice::AddBytes(const TDataBuffer& Src, TDataBuffer& Dst) { Dst.insert(Dst.end(), Src.begin(), Src.end()); }

void TBaseDevice::AddChecksum(TDataBuffer& Frame) {
  uint8_t Bcc[4];
  EncodeChecksum(Frame.size() > 1 ? ComputeChecksum(Frame.data() + 1, Frame.size() - 1) : 0, Bcc);
  Frame.insert(Frame.end(), Bcc, Bcc + 4);
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
  size_t P = S.find(',');
  if (P == std::string::npos) {
    std::string All;
    All.swap(S);
    return All;
  }
  std::string Field = S.substr(0, P);
  S.erase(0, P + 1);
  return Field;
}

std::string TBaseDevice::ExtractSpaceField(std::string& S) {
  size_t P = S.find(' ');
  if (P == std::string::npos) {
    std::string All;
    All.swap(S);
    return All;
  }
  std::string Field = S.substr(0, P);
  size_t Rest = S.find_first_not_of(' ', P);
  S.erase(0, Rest == std::string::npos ? S.size() : Rest);
  return Field;
}

int TBaseDevice::CountFields(std::string_view S) {
  int N = 0;
  bool InField = false;
  for (char Ch : S) {
    if (Ch == ',') {
      InField = false;
    } else if (!InField) {
      InField = true;
      ++N;
    }
  }
  return N;
}

// ---------------------------------------------------------------------------------------
// Recording a failure.

void TBaseDevice::RecordError(const std::exception& E, const TDataBuffer& Status, const std::string& Extra) {
  const auto* Cmd = dynamic_cast<const ECmdException*>(&E);
  if (!Cmd) {
    // Not a device failure (a conversion, a bad allocation...): its message is the text,
    // the code stays as the exchange left it.
    FErrorText = E.what();
    return;
  }
  FErrorCode = Cmd->Code;
  FErrorText = ErrorCodeText(Cmd->Code, Cmd->Message);

  if (Extra.find_first_not_of(' ') != std::string::npos) {
    const std::string Rest = WithoutErrorMarks(Extra);
    if (!Rest.empty()) FErrorText += "#" + Rest;
  }

  if (!Status.empty()) {
    std::string Text;
    StatusErrorsText(Status, FErrorCode, Text);
    FErrorText += " " + Text;
  }
}

}  // namespace fp
