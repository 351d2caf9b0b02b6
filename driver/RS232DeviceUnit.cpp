#include "driver/RS232DeviceUnit.h"

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
    FErrorCode = 102;
    FErrorText = "Failed to close com port \"" + FPortName + "\": " + E.what();
  }
  try {
    // The port applies the fixed line settings (8N1, raw, no flow control) when it opens.
    FPort->Open();
    return FPort->Connected();
  } catch (const std::exception& E) {
    FErrorText = "Failed open port " + FPortName + "/" + FSpeedText + " " + E.what();
    FErrorCode = 102;
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

uint8_t TRS32Device::NextByte(int32_t Code, const char* Part) {
  uint8_t B = 0;
  if (!ReadByte(kAnswerByteTimeout, B)) throw ECmdException(Code, Part);
  return B;
}

void TRS32Device::ReadAnswer(uint8_t Cmd, TDataBuffer& Answer, TDataBuffer& Status) {
  uint32_t Sum = 0;
  size_t Count = 0;
  auto Add = [&](uint8_t B) {
    Sum += B;
    ++Count;
  };

  const uint8_t Len = NextByte(104, "<LEN>");
  Add(Len);
  const uint8_t Seq = NextByte(104, "<SEQ>");
  if (Seq != FSequence) throw ECmdException(109, EchoMismatchText(Seq, FSequence));
  Add(Seq);
  const uint8_t Echo = NextByte(104, "<CMD>");
  if (Echo != Cmd) throw ECmdException(132, EchoMismatchText(Echo, Cmd));
  Add(Echo);

  for (;;) {
    const uint8_t B = NextByte(105, "<DATA>");
    if (B > kAnswerSeparator) Answer.push_back(B);
    Add(B);
    if (B == kAnswerSeparator) break;
    if (Count > RS232MaxAnswerBytes) throw ECmdException(105, "<DATA>");
  }
  size_t StatusCount = 0;
  for (;;) {
    const uint8_t B = NextByte(105, "<STATUS>");
    if (B > kDataEnd) Status.push_back(B);
    Add(B);
    ++StatusCount;
    if (B == kDataEnd) break;
    if (Count > RS232MaxAnswerBytes) throw ECmdException(105, "<STATUS>");
  }
  if (StatusCount != kStatusLength + 1) throw ECmdException(105, "<STATUS>");

  std::string Text;
  size_t ChecksumBytes = 0;
  for (;;) {
    const uint8_t B = NextByte(105, "<BCC>");
    if (B == kFrameEnd) break;
    if (B > kFrameEnd) Text += ChecksumDigitText(B);
    if (++ChecksumBytes > RS232MaxAnswerBytes) throw ECmdException(105, "<BCC>");
  }

  if (static_cast<int>(Count) != ExpectedCount(Len)) throw ECmdException(112, LenMismatchText(Len, Count));
  if (Text.size() != 4) throw ECmdException(111, "[" + Text + "]");
  const std::string Computed = ChecksumText(Sum);
  if (Text != Computed) throw ECmdException(111, "[" + Text + "/" + Computed + "]");
}

void TRS32Device::Attempt(uint8_t Cmd, const TDataBuffer& Data, uint8_t Retries, int Attempts,
                          IDeviceClock::TTimePoint T0, TDataBuffer& Answer, TDataBuffer& Status) {
  if (!FPort->Connected()) throw ECmdException(101, "[" + FPortName + "]");
  if (Attempts >= Retries) throw ECmdException(107, "[" + FPortName + "]");

  const TDataBuffer Frame = BuildFrame(Cmd, Data);
  size_t Written = 0;
  try {
    FReadPos = FReadLen = 0;
    FPort->Purge();
    Written = FPort->Write(Frame.data(), Frame.size());
  } catch (const std::exception& E) {
    throw ECmdException(102, E.what());
  }
  if (Written != Frame.size())
    throw ECmdException(102, std::to_string(Written) + "/" + std::to_string(Frame.size()));

  Status.clear();
  Answer.clear();

  // The start of the answer. SYN: the printer is busy with the command and the wait goes on
  // (for 120 s from the start of the call); other stray bytes are passed over for 60 s.
  for (;;) {
    uint8_t B = 0;
    if (!ReadByte(kAnswerStartTimeout, B)) throw ECmdException(103, "<01>");
    if (B == kFrameStart) break;
    if (B == kSyn) {
      if (ElapsedMs(T0, FClock.Now()) >= 120000) throw ECmdException(120);
    } else if (B == kNak) {
      throw ECmdException(106, "<NAK>");
    } else if (ElapsedMs(T0, FClock.Now()) >= 60000) {
      throw ECmdException(103, "<01> first byte not recieved");
    }
  }
  ReadAnswer(Cmd, Answer, Status);
}

bool TRS32Device::SendCommand(uint8_t Cmd, TDataBuffer& Data, uint8_t Retries, TDataBuffer& Status) {
  if (!BeginExchange(Data)) return false;
  const auto T0 = FClock.Now();
  int Attempts = 0;
  bool Success = false;
  TDataBuffer Answer;
  for (;;) {
    bool Retry = false;
    try {
      Attempt(Cmd, Data, Retries, Attempts, T0, Answer, Status);
      Data = Answer;
      Success = true;
    } catch (const ECmdException& E) {
      FErrorText += ErrorCodeText(E.Code, std::string()) + E.Message;
      FErrorCode = E.Code;
      switch (E.Code) {
        case 103:
          // Only a missing answer start counts an attempt.
          if (ElapsedMs(T0, FClock.Now()) <= 4000) {
            ++Attempts;
            FErrorText += "\r\n[RETRY->]";
            Retry = true;
          }
          break;
        case 104:
        case 105:
        case 106:
        case 111:
        case 112:
          FClock.SleepFor(milliseconds(200));
          FErrorText += "\r\n[RETRY->>]";
          Retry = true;
          break;
        case 109:
        case 132: {
          // Read away the rest of the answer that was not ours before sending again.
          uint8_t B = 0;
          while (ReadByte(kDrainByteTimeout, B) && ElapsedMs(T0, FClock.Now()) <= 7000) {
          }
          FClock.SleepFor(milliseconds(50));
          FErrorText += "\r\n[RETRY->>>]";
          Retry = true;
          break;
        }
        case 107:
          FErrorText += "[" + std::to_string(Attempts) + "]";
          break;
        default:
          break;
      }
    } catch (const std::exception& E) {
      FErrorText = std::string("Unexpected error: ") + E.what();
    }
    if (Success || !Retry) break;
    if (ElapsedWholeSeconds(T0, FClock.Now()) > 40) break;
  }
  if (Success) {
    FErrorText.clear();
    FErrorCode = 0;
  }
  return Success;
}

}  // namespace fp
