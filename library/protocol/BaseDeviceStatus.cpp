// The device error codes with their texts, and the status-bit tests that turn the six
// status bytes of an answer into error codes.
#include "library/protocol/BaseDeviceUnit.h"

#include <algorithm>
#include <iterator>

namespace fp {

// The texts of DeviceErrors.def, in its order (ascending code).
const TDeviceErrorText DeviceErrorTexts[] = {
#define FP_DEVICE_ERROR(Code, Name, Text) {Code, Text},
#include "library/protocol/DeviceErrors.def"
#undef FP_DEVICE_ERROR
};
const size_t DeviceErrorTextCount = std::size(DeviceErrorTexts);

const char* DeviceErrorText(int32_t Code) {
  const TDeviceErrorText* end = DeviceErrorTexts + DeviceErrorTextCount;
  const TDeviceErrorText* it =
      std::lower_bound(DeviceErrorTexts, end, Code, [](const TDeviceErrorText& E, int32_t C) { return E.Code < C; });
  return it != end && it->Code == Code ? it->Text : nullptr;
}

bool IsStatusBitSet(const TDataBuffer& Status, size_t ByteIndex, unsigned Bit) {
  if (ByteIndex >= Status.size() || Bit > 7) return false;
  return (Status[ByteIndex] >> Bit) & 1;
}

std::string TBaseDevice::ErrorCodeText(int32_t Code, const std::string& Detail) {
  const char* text = DeviceErrorText(Code);
  return std::string(text ? text : "") + " " + Detail;
}

namespace {

struct TStatusBitCode {
  TStatusBit Bit;
  int32_t Code;
};

// The error bits in the order the status texts visit them. S0.4 (219) is visited only by
// StatusErrorsTextAndCode, right after S0.2.
constexpr TStatusBitCode kTextBits[] = {
    {StatusBit::SyntaxError, DeviceError::SyntaxError},
    {StatusBit::InvalidCommand, DeviceError::InvalidCommand},
    {StatusBit::ClockNotSet, DeviceError::ClockNotSet},
    {StatusBit::PrinterFault, DeviceError::PrinterFault},
    {StatusBit::AmountOverflow, DeviceError::AmountOverflow},
    {StatusBit::NotAllowedInMode, DeviceError::NotAllowedInMode},
    {StatusBit::RamCleared, DeviceError::RamCleared},
    {StatusBit::LowBattery, DeviceError::LowBattery},
    {StatusBit::RamDestroyed, DeviceError::RamDestroyed},
    {StatusBit::JournalEnd, DeviceError::JournalEnd},
    {StatusBit::NoPaper, DeviceError::NoPaper},
    {StatusBit::FiscalMemoryError, DeviceError::FiscalMemoryError},
    {StatusBit::FiscalMemoryFull, DeviceError::FiscalMemoryFull},
    {StatusBit::LastEntryFailed, DeviceError::LastEntryFailed},
    {StatusBit::FiscalMemoryLocked, DeviceError::FiscalMemoryLocked},
};

void RaiseWhenSet(const TDataBuffer& Status, TStatusBit B, int32_t Code) {
  if (IsStatusBitSet(Status, B))
    throw ECmdException(Code, "[" + std::to_string(B.Byte) + "/" + std::to_string(B.Bit) + "]");
}

// Joins the texts of the set bits of kTextBits (S0.4 only when WithFaultBit), leaving out
// ExcludeCode; calls OnSet for every bit joined. The first bit replaces the caller's
// text, every later one is added after ", "; a leading "," is then dropped.
template <typename F>
bool JoinStatusTexts(const TDataBuffer& Status, bool WithFaultBit, int32_t ExcludeCode, std::string& Text, F OnSet) {
  bool first = true;
  for (const TStatusBitCode& b : kTextBits) {
    if (b.Code == DeviceError::PrinterFault && !WithFaultBit) continue;
    bool isFirst = first;
    first = false;
    if (!IsStatusBitSet(Status, b.Bit) || b.Code == ExcludeCode) continue;
    OnSet(b.Code);
    if (isFirst)
      Text = TBaseDevice::ErrorCodeText(b.Code, std::string());
    else
      Text += ", " + TBaseDevice::ErrorCodeText(b.Code, std::string());
  }
  if (!Text.empty() && Text[0] == ',') Text.erase(0, 1);
  return Text.find_first_not_of(' ') == std::string::npos;
}

}  // namespace

void TBaseDevice::CheckStatusBasic(const TDataBuffer& Status) {
  if (Status.size() != kStatusLength)
    throw ECmdException(DeviceError::InvalidAnswer, "[6/" + std::to_string(Status.size()) + "]");
  RaiseWhenSet(Status, StatusBit::SyntaxError, DeviceError::SyntaxError);
  RaiseWhenSet(Status, StatusBit::InvalidCommand, DeviceError::InvalidCommand);
}

void TBaseDevice::CheckStatus(const TDataBuffer& Status) {
  CheckStatusBasic(Status);
  RaiseWhenSet(Status, StatusBit::NotAllowedInMode, DeviceError::NotAllowedInMode);
  RaiseWhenSet(Status, StatusBit::AmountOverflow, DeviceError::AmountOverflow);
}

bool TBaseDevice::StatusErrorsText(const TDataBuffer& Status, int32_t ExcludeCode, std::string& Text) {
  return JoinStatusTexts(Status, false, ExcludeCode, Text, [](int32_t) {});
}

bool TBaseDevice::StatusErrorsTextAndCode(const TDataBuffer& Status, std::string& Text) {
  // No code is left out: 0 is no code of the table.
  return JoinStatusTexts(Status, true, 0, Text, [this](int32_t Code) { FErrorCode = Code; });
}

}  // namespace fp
