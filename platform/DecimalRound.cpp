#include "platform/DecimalRound.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <system_error>

namespace fp {

namespace {

// Value as the double nearest to its text of 15 significant digits: a value whose shortest
// text is that short comes back unchanged; others lose the noise of their last binary
// digits (13.049999999999999 becomes 13.05, 2.3449999999999998 becomes 2.345).
double SignificantValue(double Value) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, Value, std::chars_format::scientific, 14);
  double out = Value;
  std::from_chars(buf, r.ptr, out, std::chars_format::scientific);
  return out;
}

// Adds one unit of the last place to a decimal digit string ("199" -> "200", "99" ->
// "100").
void IncrementDigits(std::string& Digits) {
  for (size_t i = Digits.size(); i-- > 0;) {
    if (Digits[i] != '9') {
      ++Digits[i];
      return;
    }
    Digits[i] = '0';
  }
  Digits.insert(Digits.begin(), '1');
}

// The magnitude of a finite Value rounded to D decimals, as the digits of its units
// (without the point, at least D + 1 of them); Zero tells whether they are all "0".
std::string RoundedDigits(double Value, size_t D, bool& Zero) {
  // The shortest fixed-notation text of the significant value. A double needs at most 309
  // digits before and about 340 after the point; the buffer holds either.
  char buf[512];
  auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(SignificantValue(Value)), std::chars_format::fixed);
  std::string_view s(buf, static_cast<size_t>(r.ptr - buf));
  const size_t dot = s.find('.');
  std::string intPart(s.substr(0, dot));
  std::string fracPart(dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1));
  // A digit of 5 or more right after the kept places rounds the magnitude up, which is
  // halves away from zero.
  const bool up = fracPart.size() > D && fracPart[D] >= '5';
  fracPart.resize(D, '0');
  std::string digits = intPart + fracPart;
  if (up) IncrementDigits(digits);
  Zero = digits.find_first_not_of('0') == std::string::npos;
  return digits;
}

size_t ClampDecimals(int Decimals) { return static_cast<size_t>(Decimals < 0 ? 0 : Decimals > 17 ? 17 : Decimals); }

}  // namespace

bool RoundDecimalText(double Value, int Decimals, std::string& Out) {
  if (!std::isfinite(Value)) return false;
  const size_t d = ClampDecimals(Decimals);
  bool zero = false;
  const std::string digits = RoundedDigits(Value, d, zero);

  std::string intOut = digits.substr(0, digits.size() - d);
  if (intOut.empty()) intOut = "0";
  std::string text;
  if (std::signbit(Value) && !zero) text += '-';
  text += intOut;
  if (d > 0) {
    text += '.';
    text += digits.substr(digits.size() - d);
  }
  Out = std::move(text);
  return true;
}

bool RoundDecimalUnits(double Value, int Decimals, int64_t& Units) {
  if (!std::isfinite(Value)) return false;
  bool zero = false;
  const std::string digits = RoundedDigits(Value, ClampDecimals(Decimals), zero);
  uint64_t magnitude = 0;
  auto r = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
  if (r.ec != std::errc() || r.ptr != digits.data() + digits.size()) return false;
  constexpr uint64_t max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (magnitude > max) return false;  // -2^63 itself is no amount anyone sends
  Units = std::signbit(Value) ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

}  // namespace fp
