// The printer model's own frame codec: request frames as the host sends them, answer
// frames as the printer sends them. Written from the wire rules alone; it shares no code
// with the library's frame layer, so the two check each other.
//
// Request (host to printer):  01 LEN SEQ CMD DATA(escaped) 05 BCC(4) 03, LEN = 0x24 + n
// Answer  (printer to host):  01 LEN SEQ CMD DATA 04 S0..S5 05 BCC(4) 03, LEN = 0x2B + n
// BCC: the 16-bit sum of the bytes from LEN through the 0x05, sent as four bytes
// 0x30 + nibble, highest nibble first. Host data escapes every byte below 0x20 except
// TAB and LF as 0x10, byte + 0x40. Answer data is not escaped.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fp::model {

// Status bits as the printer keeps them: six bytes S0..S5, bit 7 never set here.
// On the wire each byte goes out as 0x80 | bits.
using StatusBits = std::array<uint8_t, 6>;

inline constexpr uint8_t kFrameStart = 0x01;
inline constexpr uint8_t kFrameEnd = 0x03;
inline constexpr uint8_t kStatusStart = 0x04;
inline constexpr uint8_t kDataEnd = 0x05;
inline constexpr uint8_t kEscape = 0x10;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kSyn = 0x16;

// The 16-bit sum of the bytes given (callers pass LEN through the 0x05).
uint16_t FrameSum(std::string_view bytes);
// The four check sum bytes of a sum: 0x30 + nibble, highest first.
std::string SumDigits(uint16_t sum);

// Host side escaping of command data, and its inverse (false on a 0x10 that is not
// followed by a byte 0x40..0x5F; such a byte is then taken unchanged).
std::string EscapeData(std::string_view data);
bool UnescapeData(std::string_view wire, std::string& data);

// A complete request frame for unescaped data (escaped here).
std::string BuildRequest(uint8_t seq, uint8_t cmd, std::string_view data);
// A complete answer frame; status holds the six bytes exactly as they go on the wire.
std::string BuildAnswer(uint8_t seq, uint8_t cmd, std::string_view data, const std::array<uint8_t, 6>& wireStatus);
// The wire form of status bits: 0x80 | bits per byte.
std::array<uint8_t, 6> WireStatus(const StatusBits& bits);

// One request frame as the printer read it.
struct HostFrame {
  uint8_t len = 0;
  uint8_t seq = 0;
  uint8_t cmd = 0;
  std::string data;      // unescaped command data
  std::string raw;       // every byte of the frame, 0x01 through the last byte
  bool lenOk = false;    // LEN matches the bytes received
  bool sumOk = false;    // the four check sum bytes match the sum
  bool escapeOk = true;  // every 0x10 was followed by 0x40..0x5F
  bool endOk = false;    // the frame ended with 0x03
  bool Valid() const { return lenOk && sumOk && escapeOk && endOk; }
};

// Byte-by-byte reader of request frames. Bytes outside a frame are skipped; a 0x01
// inside a frame starts a new one (escaped data never holds a raw 0x01).
class RequestParser {
 public:
  std::optional<HostFrame> Push(uint8_t byte);
  void Reset();

 private:
  enum class Stage { Idle, Len, Seq, Cmd, Data, Sum, End };
  void Start();
  Stage FStage = Stage::Idle;
  HostFrame FFrame;
  std::string FWireData;
  int FSumBytes = 0;
};

// One answer frame as a host would read it (used by test clients).
struct AnswerFrame {
  uint8_t len = 0;
  uint8_t seq = 0;
  uint8_t cmd = 0;
  std::string data;    // bytes between CMD and 0x04
  std::string status;  // bytes between 0x04 and 0x05, as received
  std::string raw;     // 0x01 through 0x03
  bool lenOk = false;
  bool sumOk = false;
  bool Valid() const { return lenOk && sumOk && status.size() == 6; }
};

// Byte-by-byte reader of answers: skips SYN, NAK and any other byte before 0x01
// (the caller looks at those itself when it cares).
class AnswerParser {
 public:
  std::optional<AnswerFrame> Push(uint8_t byte);
  void Reset();

 private:
  enum class Stage { Idle, Len, Seq, Cmd, Data, Status, Sum, End };
  Stage FStage = Stage::Idle;
  AnswerFrame FFrame;
  std::string FSumDigits;
};

}  // namespace fp::model
