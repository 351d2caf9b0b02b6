#include "library/protocol/WireNumbers.h"

#include "library/protocol/BaseDeviceUnit.h"
#include "platform/DecimalRound.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace fp {

std::string FormatWireFixed(double Value, int Decimals) {
  std::string Out;
  if (!RoundDecimalText(Value, Decimals, Out)) throw ECmdException(DeviceError::InvalidInput, "[Number]");
  return Out;
}

int64_t WireUnits(double Value, int Decimals) {
  int64_t Units = 0;
  if (!RoundDecimalUnits(Value, Decimals, Units)) throw ECmdException(DeviceError::InvalidInput, "[Number]");
  return Units;
}

int64_t WireHundredths(double Value) { return WireUnits(Value, 2); }

std::string FormatWireAmount(double Value) { return FormatWireFixed(Value, 2); }

std::string FormatWireQuantity(double Value) { return FormatWireFixed(Value, 3); }

std::string FormatWireUpTo(double Value, int MaxDecimals) {
  std::string S = FormatWireFixed(Value, MaxDecimals);
  if (S.find('.') == std::string::npos) return S;
  while (S.back() == '0') S.pop_back();
  if (S.back() == '.') S.pop_back();
  return S;
}

bool ParseWireNumber(std::string_view Text, double& Value) {
  size_t I = 0;
  bool Negative = false;
  if (I < Text.size() && (Text[I] == '+' || Text[I] == '-')) {
    Negative = Text[I] == '-';
    ++I;
  }
  const size_t Start = I;
  size_t DigitCount = 0;
  bool Dot = false;
  for (; I < Text.size(); ++I) {
    char C = Text[I];
    if (C >= '0' && C <= '9') {
      ++DigitCount;
    } else if (C == '.' && !Dot) {
      Dot = true;
    } else {
      return false;
    }
  }
  if (DigitCount == 0) return false;
  double V = 0;
  auto R = std::from_chars(Text.data() + Start, Text.data() + Text.size(), V, std::chars_format::fixed);
  if (R.ec != std::errc() || R.ptr != Text.data() + Text.size()) return false;
  Value = Negative ? -V : V;
  return true;
}

bool ParseWireInteger(std::string_view Text, int64_t& Value) {
  size_t I = 0;
  if (I < Text.size() && Text[I] == '+') ++I;  // from_chars takes "-" itself, not "+"
  std::string_view Rest = Text.substr(I);
  if (Rest.empty() || (Rest[0] == '-' && I > 0)) return false;
  int64_t V = 0;
  auto R = std::from_chars(Rest.data(), Rest.data() + Rest.size(), V, 10);
  if (R.ec != std::errc() || R.ptr != Rest.data() + Rest.size()) return false;
  Value = V;
  return true;
}

}  // namespace fp
