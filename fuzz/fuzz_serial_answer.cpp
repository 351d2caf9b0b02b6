// Fuzz target: the serial device's byte-by-byte reading of an answer, run by the device's
// exchange loop with the serial retry table.
// What the printer sends is the fuzz input, handed out by a port of our own; the device
// runs on a clock of our own that only the port and the device's pauses move, so no real
// time passes: an empty read returns at once and counts as its whole time-out.
//
// Input: byte 0 Retries; byte 1 the sequence number before the exchange (the device steps
// it once); byte 2 the command byte; byte 3 how the port hands out bytes (bits 0-4: at most
// 1 + that many bytes per read; bit 5: pauses, see below; bits 6-7: the time one read with
// bytes takes, 0, 1, 10 or 250 ms); the rest is what the printer sends. With pauses on, a
// byte 0xFF followed by 0x00 is a byte 0xFF, and 0xFF followed by anything else is a read
// that finds the line silent for its whole time-out. Two exchanges run one after the other
// on the same device and line; after the input has been used up, the printer is silent.
//
// Checked besides the sanitizers: every attempt of a call sends the same frame, the SEQ of
// the second call follows the first's, the attempts stay within the retry window, a
// success leaves no error and at most six status bytes, a failure leaves a code of the
// device's table and the command data unchanged.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/DeviceClock.h"
#include "library/transport/RS232DeviceUnit.h"
#include "platform/SerialPort.h"

namespace {

using namespace fp;

[[noreturn]] void Broken(const char* What) {
  std::fprintf(stderr, "fuzz_serial_answer: %s\n", What);
  std::abort();
}

class TFuzzClock final : public IDeviceClock {
 public:
  TTimePoint Now() override { return TTimePoint{} + std::chrono::hours(1) + std::chrono::milliseconds(Offset); }
  void SleepFor(std::chrono::milliseconds Duration) override { Offset += Duration.count(); }
  long long Offset = 0;
};

// A read that finds the line silent.
constexpr int kPause = -1;

// The printer's side of the line: the bytes it sends, in reads of at most Chunk bytes.
class TFuzzPort final : public TComPort {
 public:
  TFuzzPort(TFuzzClock& Clock, std::vector<int> Line, size_t Chunk, long long StepMs)
      : FClock(Clock), FLine(std::move(Line)), FChunk(Chunk), FStepMs(StepMs) {}

  void SetPort(const std::string&) override {}
  std::string Port() const override { return "COM1"; }
  void SetBaudRate(std::uint32_t) override {}
  std::uint32_t BaudRate() const override { return 9600; }
  void Open() override { FOpen = true; }
  void Close() override { FOpen = false; }
  bool Connected() const override { return FOpen; }
  // Bytes the printer has not sent yet are not in the buffer: a purge leaves them.
  void Purge() override {}
  std::size_t Write(const void* Data, std::size_t Count) override {
    const auto* P = static_cast<const uint8_t*>(Data);
    Frames.emplace_back(P, P + Count);
    return Count;
  }
  std::size_t ReadWait(void* Data, std::size_t Count, int TimeoutMs) override {
    if (FPos >= FLine.size() || FLine[FPos] == kPause) {
      if (FPos < FLine.size()) ++FPos;
      FClock.Offset += TimeoutMs;
      return 0;
    }
    auto* Out = static_cast<uint8_t*>(Data);
    size_t N = 0;
    while (N < Count && N < FChunk && FPos < FLine.size() && FLine[FPos] != kPause)
      Out[N++] = static_cast<uint8_t>(FLine[FPos++]);
    FClock.Offset += FStepMs;
    return N;
  }
  std::uint32_t DeviceBaudRate() const override { return FOpen ? 9600 : 0; }

  std::vector<TDataBuffer> Frames;

 private:
  TFuzzClock& FClock;
  std::vector<int> FLine;
  size_t FPos = 0;
  size_t FChunk;
  long long FStepMs;
  bool FOpen = false;
};

// The line the printer sends, from the input after the header.
std::vector<int> LineOf(const uint8_t* Bytes, size_t Size, bool Pauses) {
  std::vector<int> Line;
  for (size_t I = 0; I < Size; ++I) {
    if (Pauses && Bytes[I] == 0xFF && I + 1 < Size)
      Line.push_back(Bytes[++I] == 0x00 ? 0xFF : kPause);
    else
      Line.push_back(Bytes[I]);
  }
  return Line;
}

class TFuzzDevice final : public TRS32Device {
 public:
  TFuzzDevice(std::unique_ptr<TComPort> Port, IDeviceClock& Clock) : TRS32Device(std::move(Port), Clock) {}
  void SetSequence(uint8_t S) { FSequence = S; }
  uint8_t Sequence() const { return FSequence; }
};

uint8_t NextSeq(uint8_t S) {
  const uint8_t N = static_cast<uint8_t>(S + 1);
  return N < kSeqFirst || N > kSeqLast ? kSeqFirst : N;
}

// One exchange; returns the SEQ it used.
uint8_t Exchange(TFuzzDevice& Device, TFuzzPort& Port, uint8_t Cmd, uint8_t Retries) {
  TDataBuffer Data = {'W'};
  const TDataBuffer Sent = Data;
  TDataBuffer Status;
  Port.Frames.clear();
  const bool Ok = Device.SendCommand(Cmd, Data, Retries, Status);
  const uint8_t Seq = Device.Sequence();

  const TDataBuffer Expected = BuildRequestFrame(Seq, Cmd, Sent);
  for (const TDataBuffer& F : Port.Frames)
    if (F != Expected) Broken("an attempt sent another frame than the first");
  // Retries come at least 50 ms apart within the 40 s window, besides the counted ones.
  if (Port.Frames.size() > 41000 / 50 + Retries + 1) Broken("more attempts than the 40 s window allows");
  if (Ok) {
    if (Device.FErrorCode != 0 || !Device.FErrorText.empty()) Broken("success with an error left");
    // A status byte of 0x00..0x05 is counted but not kept, so fewer than six may be left
    // (the status test of the command then fails); never more.
    if (Status.size() > kStatusLength) Broken("success with more than six status bytes");
    for (uint8_t B : Status)
      if (B <= kDataEnd) Broken("a status byte of 0x00..0x05");
    for (uint8_t B : Data)
      if (B <= kAnswerSeparator) Broken("an answer data byte of 0x00..0x04");
    if (Port.Frames.empty()) Broken("success without a frame sent");
  } else {
    if (DeviceErrorText(Device.FErrorCode) == nullptr) Broken("failure with a code outside the table");
    if (Data != Sent) Broken("failure changed the command data");
  }
  return Seq;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Bytes, size_t Size) {
  if (Size < 4) return 0;
  const uint8_t Retries = Bytes[0];
  const uint8_t SeqBefore = Bytes[1];
  const uint8_t Cmd = Bytes[2];
  const size_t Chunk = 1 + (Bytes[3] & 0x1F);
  const bool Pauses = (Bytes[3] & 0x20) != 0;
  static constexpr long long kSteps[] = {0, 1, 10, 250};
  const long long Step = kSteps[Bytes[3] >> 6];

  TFuzzClock Clock;
  auto Owned = std::make_unique<TFuzzPort>(Clock, LineOf(Bytes + 4, Size - 4, Pauses), Chunk, Step);
  TFuzzPort& Port = *Owned;
  TFuzzDevice Device(std::move(Owned), Clock);
  Device.SetPortName("COM1");
  if (!Device.Connect()) Broken("the port did not open");
  Device.SetSequence(SeqBefore);

  const uint8_t First = Exchange(Device, Port, Cmd, Retries);
  if (First != NextSeq(SeqBefore)) Broken("the first exchange did not step SEQ once");
  const uint8_t Second = Exchange(Device, Port, Cmd, Retries);
  if (Second != NextSeq(First)) Broken("the second exchange did not step SEQ once");
  return 0;
}
