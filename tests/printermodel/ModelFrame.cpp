#include "tests/printermodel/ModelFrame.h"

namespace fp::model {

namespace {

// Frames longer than any LEN byte can describe are garbage: drop them.
constexpr size_t kMaxWireData = 300;

bool NeedsEscape(uint8_t b) { return b < 0x20 && b != 0x09 && b != 0x0A; }

}  // namespace

uint16_t FrameSum(std::string_view bytes) {
  uint16_t sum = 0;
  for (char c : bytes) sum = static_cast<uint16_t>(sum + static_cast<uint8_t>(c));
  return sum;
}

std::string SumDigits(uint16_t sum) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(0x30 + ((sum >> (12 - 4 * i)) & 0x0F));
  return out;
}

std::string EscapeData(std::string_view data) {
  std::string out;
  out.reserve(data.size());
  for (char c : data) {
    auto b = static_cast<uint8_t>(c);
    if (NeedsEscape(b)) {
      out.push_back(static_cast<char>(kEscape));
      out.push_back(static_cast<char>(b + 0x40));
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool UnescapeData(std::string_view wire, std::string& data) {
  data.clear();
  bool ok = true;
  for (size_t i = 0; i < wire.size(); ++i) {
    auto b = static_cast<uint8_t>(wire[i]);
    if (b == kEscape && i + 1 < wire.size()) {
      auto next = static_cast<uint8_t>(wire[++i]);
      if (next >= 0x40 && next <= 0x5F) {
        data.push_back(static_cast<char>(next - 0x40));
      } else {
        ok = false;
        data.push_back(static_cast<char>(next));
      }
    } else if (b == kEscape) {
      ok = false;
    } else {
      data.push_back(static_cast<char>(b));
    }
  }
  return ok;
}

std::string BuildRequest(uint8_t seq, uint8_t cmd, std::string_view data) {
  const std::string wire = EscapeData(data);
  std::string f;
  f.push_back(static_cast<char>(kFrameStart));
  f.push_back(static_cast<char>((0x24 + wire.size()) & 0xFF));
  f.push_back(static_cast<char>(seq));
  f.push_back(static_cast<char>(cmd));
  f += wire;
  f.push_back(static_cast<char>(kDataEnd));
  f += SumDigits(FrameSum(std::string_view(f).substr(1)));
  f.push_back(static_cast<char>(kFrameEnd));
  return f;
}

std::string BuildAnswer(uint8_t seq, uint8_t cmd, std::string_view data, const std::array<uint8_t, 6>& wireStatus) {
  std::string f;
  f.push_back(static_cast<char>(kFrameStart));
  f.push_back(static_cast<char>((0x2B + data.size()) & 0xFF));
  f.push_back(static_cast<char>(seq));
  f.push_back(static_cast<char>(cmd));
  f += data;
  f.push_back(static_cast<char>(kStatusStart));
  for (uint8_t s : wireStatus) f.push_back(static_cast<char>(s));
  f.push_back(static_cast<char>(kDataEnd));
  f += SumDigits(FrameSum(std::string_view(f).substr(1)));
  f.push_back(static_cast<char>(kFrameEnd));
  return f;
}

std::array<uint8_t, 6> WireStatus(const StatusBits& bits) {
  std::array<uint8_t, 6> w{};
  for (size_t i = 0; i < 6; ++i) w[i] = static_cast<uint8_t>(0x80 | bits[i]);
  return w;
}

// ---- RequestParser ----

void RequestParser::Reset() {
  FStage = Stage::Idle;
  FFrame = HostFrame{};
  FWireData.clear();
  FSumBytes = 0;
}

void RequestParser::Start() {
  Reset();
  FFrame.raw.push_back(static_cast<char>(kFrameStart));
  FStage = Stage::Len;
}

std::optional<HostFrame> RequestParser::Push(uint8_t b) {
  const char c = static_cast<char>(b);
  if (FStage == Stage::Idle) {
    if (b == kFrameStart) Start();
    return std::nullopt;
  }
  if (b == kFrameStart && FStage != Stage::Sum && FStage != Stage::End) {
    Start();
    return std::nullopt;
  }
  FFrame.raw.push_back(c);
  switch (FStage) {
    case Stage::Len:
      FFrame.len = b;
      FStage = Stage::Seq;
      break;
    case Stage::Seq:
      FFrame.seq = b;
      FStage = Stage::Cmd;
      break;
    case Stage::Cmd:
      FFrame.cmd = b;
      FStage = Stage::Data;
      break;
    case Stage::Data:
      if (b == kDataEnd) {
        FStage = Stage::Sum;
      } else {
        FWireData.push_back(c);
        if (FWireData.size() > kMaxWireData) Reset();
      }
      break;
    case Stage::Sum:
      if (++FSumBytes == 4) FStage = Stage::End;
      break;
    case Stage::End: {
      HostFrame f = std::move(FFrame);
      f.endOk = (b == kFrameEnd);
      f.lenOk = f.len == ((0x24 + FWireData.size()) & 0xFF);
      f.escapeOk = UnescapeData(FWireData, f.data);
      const size_t n = FWireData.size();
      const std::string_view raw(f.raw);
      f.sumOk = raw.substr(5 + n, 4) == SumDigits(FrameSum(raw.substr(1, 4 + n)));
      Reset();
      return f;
    }
    case Stage::Idle: break;
  }
  return std::nullopt;
}

// ---- AnswerParser ----

void AnswerParser::Reset() {
  FStage = Stage::Idle;
  FFrame = AnswerFrame{};
  FSumDigits.clear();
}

std::optional<AnswerFrame> AnswerParser::Push(uint8_t b) {
  const char c = static_cast<char>(b);
  if (FStage == Stage::Idle) {
    if (b == kFrameStart) {
      Reset();
      FFrame.raw.push_back(c);
      FStage = Stage::Len;
    }
    return std::nullopt;
  }
  FFrame.raw.push_back(c);
  switch (FStage) {
    case Stage::Len:
      FFrame.len = b;
      FStage = Stage::Seq;
      break;
    case Stage::Seq:
      FFrame.seq = b;
      FStage = Stage::Cmd;
      break;
    case Stage::Cmd:
      FFrame.cmd = b;
      FStage = Stage::Data;
      break;
    case Stage::Data:
      if (b == kStatusStart)
        FStage = Stage::Status;
      else
        FFrame.data.push_back(c);
      break;
    case Stage::Status:
      if (b == kDataEnd)
        FStage = Stage::Sum;
      else
        FFrame.status.push_back(c);
      break;
    case Stage::Sum:
      FSumDigits.push_back(c);
      if (FSumDigits.size() == 4) FStage = Stage::End;
      break;
    case Stage::End: {
      AnswerFrame f = std::move(FFrame);
      const size_t counted = f.raw.size() - 1 /*01*/ - 4 /*BCC*/ - 1 /*03*/;
      f.lenOk = f.len == ((0x20 + counted) & 0xFF) && b == kFrameEnd;
      f.sumOk = FSumDigits == SumDigits(FrameSum(std::string_view(f.raw).substr(1, counted)));
      Reset();
      return f;
    }
    case Stage::Idle: break;
  }
  return std::nullopt;
}

}  // namespace fp::model
