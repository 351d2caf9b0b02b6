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
  char Buf[64];
  auto R = std::to_chars(Buf, Buf + sizeof Buf, Value, std::chars_format::scientific, 14);
  double Out = Value;
  std::from_chars(Buf, R.ptr, Out, std::chars_format::scientific);
  return Out;
}

// Adds one unit of the last place to a decimal digit string ("199" -> "200", "99" ->
// "100").
void IncrementDigits(std::string& Digits) {
  for (size_t I = Digits.size(); I-- > 0;) {
    if (Digits[I] != '9') {
      ++Digits[I];
      return;
    }
    Digits[I] = '0';
  }
  Digits.insert(Digits.begin(), '1');
}

// The magnitude of a finite Value rounded to D decimals, as the digits of its units
// (without the point, at least D + 1 of them); Zero tells whether they are all "0".
std::string RoundedDigits(double Value, size_t D, bool& Zero) {
  // The shortest fixed-notation text of the significant value. A double needs at most 309
  // digits before and about 340 after the point; the buffer holds either.
  char Buf[512];
  auto R = std::to_chars(Buf, Buf + sizeof Buf, std::fabs(SignificantValue(Value)), std::chars_format::fixed);
  std::string_view S(Buf, static_cast<size_t>(R.ptr - Buf));
  const size_t Dot = S.find('.');
  std::string IntPart(S.substr(0, Dot));
  std::string FracPart(Dot == std::string_view::npos ? std::string_view() : S.substr(Dot + 1));
  // A digit of 5 or more right after the kept places rounds the magnitude up, which is
  // halves away from zero.
  const bool Up = FracPart.size() > D && FracPart[D] >= '5';
  FracPart.resize(D, '0');
  std::string Digits = IntPart + FracPart;
  if (Up) IncrementDigits(Digits);
  Zero = Digits.find_first_not_of('0') == std::string::npos;
  return Digits;
}

size_t ClampDecimals(int Decimals) { return static_cast<size_t>(Decimals < 0 ? 0 : Decimals > 17 ? 17 : Decimals); }

}  // namespace

bool RoundDecimalText(double Value, int Decimals, std::string& Out) {
  if (!std::isfinite(Value)) return false;
  const size_t D = ClampDecimals(Decimals);
  bool Zero = false;
  const std::string Digits = RoundedDigits(Value, D, Zero);

  std::string IntOut = Digits.substr(0, Digits.size() - D);
  if (IntOut.empty()) IntOut = "0";
  std::string Text;
  if (std::signbit(Value) && !Zero) Text += '-';
  Text += IntOut;
  if (D > 0) {
    Text += '.';
    Text += Digits.substr(Digits.size() - D);
  }
  Out = std::move(Text);
  return true;
}

bool RoundDecimalUnits(double Value, int Decimals, int64_t& Units) {
  if (!std::isfinite(Value)) return false;
  bool Zero = false;
  const std::string Digits = RoundedDigits(Value, ClampDecimals(Decimals), Zero);
  uint64_t Magnitude = 0;
  auto R = std::from_chars(Digits.data(), Digits.data() + Digits.size(), Magnitude);
  if (R.ec != std::errc() || R.ptr != Digits.data() + Digits.size()) return false;
  constexpr uint64_t Max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (Magnitude > Max) return false;  // -2^63 itself is no amount anyone sends
  Units = std::signbit(Value) ? -static_cast<int64_t>(Magnitude) : static_cast<int64_t>(Magnitude);
  return true;
}

}  // namespace fp
