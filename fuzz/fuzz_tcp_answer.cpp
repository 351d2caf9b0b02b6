// Fuzz target: the TCP device's analysis of the bytes collected in one attempt.
//
// Input: byte 0 the SEQ of the exchange, byte 1 the command byte, the rest the collected
// bytes (on the link they run from the first 0x01 through a 0x03; here they may be
// anything, which the analysis must bear as well).
//
// Checked besides the sanitizers: a refusal is an ECmdException with a code of the TCP
// reading; an accepted answer echoes SEQ and CMD and leaves six status bytes above 0x05
// and data bytes above 0x04; the well-formed frame of an accepted answer is accepted again
// with the same data and status.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "library/protocol/BaseDeviceUnit.h"
#include "library/transport/TCPDeviceUnit.h"

namespace {

using namespace fp;

[[noreturn]] void Broken(const char* What) {
  std::fprintf(stderr, "fuzz_tcp_answer: %s\n", What);
  std::abort();
}

// Analyses; true on acceptance, false on a refusal with one of the codes of the reading.
bool Analyse(const TDataBuffer& Collected, uint8_t Seq, uint8_t Cmd, TDataBuffer& Data, TDataBuffer& Status) {
  try {
    AnalyseTCPAnswer(Collected, Seq, Cmd, Data, Status);
    return true;
  } catch (const ECmdException& E) {
    switch (E.Code) {
      case 104:
      case 105:
      case 109:
      case 110:
      case 112: return false;
      default: Broken("a refusal with a code the TCP reading does not use");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Bytes, size_t Size) {
  if (Size < 2) return 0;
  const uint8_t Seq = Bytes[0];
  const uint8_t Cmd = Bytes[1];
  const TDataBuffer Collected(Bytes + 2, Bytes + Size);

  TDataBuffer Data = {0xAA}, Status = {0xBB};
  if (!Analyse(Collected, Seq, Cmd, Data, Status)) return 0;

  if (Collected[2] != Seq || Collected[3] != Cmd) Broken("accepted without the SEQ and CMD echo");
  if (Status.size() != kStatusLength) Broken("accepted without six status bytes");
  for (uint8_t B : Status)
    if (B <= kDataEnd) Broken("a status byte of 0x00..0x05");
  for (uint8_t B : Data)
    if (B <= kAnswerSeparator) Broken("an answer data byte of 0x00..0x04");

  TDataBuffer Data2, Status2;
  if (!Analyse(BuildAnswerFrame(Seq, Cmd, Data, Status), Seq, Cmd, Data2, Status2))
    Broken("the well-formed frame of an accepted answer was refused");
  if (Data2 != Data || Status2 != Status) Broken("the well-formed frame gave other data or status");
  return 0;
}
