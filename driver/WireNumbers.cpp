#include "driver/WireNumbers.h"

#include "driver/BaseDeviceUnit.h"

#include <charconv>
#include <cmath>
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

// The decimal text that rounding works on, without its sign: the shortest fixed-notation
// text of SignificantValue(Value), split into the digits before the point and after it. A
// double needs at most 309 digits before and about 340 after the point; the buffer holds
// either.
void SignificantDigits(double Value, std::string& IntPart, std::string& FracPart) {
  char Buf[512];
  auto R = std::to_chars(Buf, Buf + sizeof Buf, std::fabs(SignificantValue(Value)),
                         std::chars_format::fixed);
  std::string_view S(Buf, static_cast<size_t>(R.ptr - Buf));
  size_t Dot = S.find('.');
  if (Dot == std::string_view::npos) {
    IntPart.assign(S);
    FracPart.clear();
  } else {
    IntPart.assign(S.substr(0, Dot));
    FracPart.assign(S.substr(Dot + 1));
  }
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

}  // namespace

std::string FormatWireFixed(double Value, int Decimals) {
  if (!std::isfinite(Value)) throw ECmdException(201, "[Number]");
  if (Decimals < 0) Decimals = 0;
  if (Decimals > 17) Decimals = 17;
  const size_t D = static_cast<size_t>(Decimals);

  std::string IntPart, FracPart;
  SignificantDigits(Value, IntPart, FracPart);
  // Round on the decimal text: a digit of 5 or more right after the kept places rounds
  // the magnitude up, which is halves away from zero.
  bool Up = FracPart.size() > D && FracPart[D] >= '5';
  FracPart.resize(D, '0');
  std::string Digits = IntPart + FracPart;
  if (Up) IncrementDigits(Digits);

  std::string IntOut = Digits.substr(0, Digits.size() - D);
  std::string FracOut = Digits.substr(Digits.size() - D);
  if (IntOut.empty()) IntOut = "0";
  bool Zero = Digits.find_first_not_of('0') == std::string::npos;

  std::string Out;
  if (std::signbit(Value) && !Zero) Out += '-';
  Out += IntOut;
  if (D > 0) {
    Out += '.';
    Out += FracOut;
  }
  return Out;
}

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
