#pragma once
// Numbers on the printer's wire: decimal text with "." as separator, the same on every
// machine whatever its locale (std::to_chars/from_chars; the process locale is never
// touched).
//
// Formatting rounds halves away from zero on the decimal text of the value: its shortest
// text that reads back to it when that has at most 15 significant digits, otherwise the
// value written with 15 significant digits. So what the caller sees is what is rounded
// (2.675 -> "2.68", 1.005 -> "1.01", -2.345 -> "-2.35"), and a product that lies just
// below a half by binary noise rounds as the printer computes it (4.35 * 3, held as
// 13.049999999999999, -> "13.05"; 0.469 * 5 -> "2.35"). This is the one rounding rule of
// the library: amounts, quantities, the receipt layout and the call lines all use it.
// A result that rounds to zero has no sign ("-0.00" is written "0.00").
// A value that is not finite raises ECmdException(201, "[Number]"): it never reaches the
// printer.
//
// Parsing is strict: an optional sign, digits, an optional "." and digits, at least one
// digit ("5." and ".5" are numbers); no blanks, exponent, hexadecimal, inf or nan.
#include <cstdint>
#include <string>
#include <string_view>

namespace fp {

// Value with exactly Decimals (0..17) decimals.
std::string FormatWireFixed(double Value, int Decimals);
// Amounts, prices and percentages: two decimals ("0.00").
std::string FormatWireAmount(double Value);
// Quantities: three decimals ("0.000").
std::string FormatWireQuantity(double Value);
// Up to MaxDecimals decimals without trailing zeros, and without "." when none remain
// ("0.######": 1.955830 -> "1.95583", 2.0 -> "2").
std::string FormatWireUpTo(double Value, int MaxDecimals);

// Strict decimal number; false (Value untouched) when Text is not one or out of range.
bool ParseWireNumber(std::string_view Text, double& Value);
// Strict integer: an optional sign and at least one digit; false when not or out of range.
bool ParseWireInteger(std::string_view Text, int64_t& Value);

}  // namespace fp
