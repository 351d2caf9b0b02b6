#include "library/protocol/WireNumbers.h"

#include "library/protocol/BaseDeviceUnit.h"
#include "platform/DecimalRound.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace fp {

std::string FormatWireFixed(double Value, int Decimals) {
  std::string out;
  if (!RoundDecimalText(Value, Decimals, out)) throw ECmdException(DeviceError::InvalidInput, "[Number]");
  return out;
}

int64_t WireUnits(double Value, int Decimals) {
  int64_t units = 0;
  if (!RoundDecimalUnits(Value, Decimals, units)) throw ECmdException(DeviceError::InvalidInput, "[Number]");
  return units;
}

int64_t WireHundredths(double Value) { return WireUnits(Value, 2); }

std::string FormatWireAmount(double Value) { return FormatWireFixed(Value, 2); }

std::string FormatWireQuantity(double Value) { return FormatWireFixed(Value, 3); }

std::string FormatWireUpTo(double Value, int MaxDecimals) {
  std::string s = FormatWireFixed(Value, MaxDecimals);
  if (s.find('.') == std::string::npos) return s;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s;
}

bool ParseWireNumber(std::string_view Text, double& Value) {
  size_t i = 0;
  bool negative = false;
  if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) {
    negative = Text[i] == '-';
    ++i;
  }
  const size_t start = i;
  size_t digitCount = 0;
  bool dot = false;
  for (; i < Text.size(); ++i) {
    char c = Text[i];
    if (c >= '0' && c <= '9') {
      ++digitCount;
    } else if (c == '.' && !dot) {
      dot = true;
    } else {
      return false;
    }
  }
  if (digitCount == 0) return false;
  double v = 0;
  auto r = std::from_chars(Text.data() + start, Text.data() + Text.size(), v, std::chars_format::fixed);
  if (r.ec != std::errc() || r.ptr != Text.data() + Text.size()) return false;
  Value = negative ? -v : v;
  return true;
}

bool ParseWireInteger(std::string_view Text, int64_t& Value) {
  size_t i = 0;
  if (i < Text.size() && Text[i] == '+') ++i;  // from_chars takes "-" itself, not "+"
  std::string_view rest = Text.substr(i);
  if (rest.empty() || (rest[0] == '-' && i > 0)) return false;
  int64_t v = 0;
  auto r = std::from_chars(rest.data(), rest.data() + rest.size(), v, 10);
  if (r.ec != std::errc() || r.ptr != rest.data() + rest.size()) return false;
  Value = v;
  return true;
}

}  // namespace fp
