#pragma once
// Numbers on the printer's wire: decimal text with "." as separator, the same on every
// machine whatever its locale (std::to_chars/from_chars; the process locale is never
// touched).
//
// Formatting rounds by the one rule of the system (platform/DecimalRound.h): halves away
// from zero on the decimal text of the value (2.675 -> "2.68", 1.005 -> "1.01", -2.345 ->
// "-2.35", 4.35 * 3 -> "13.05"). Amounts, quantities, the receipt layout and the call lines
// all use it. A result that rounds to zero has no sign ("-0.00" is written "0.00").
// A value that is not finite raises ECmdException(201, "[Number]"): it never reaches the
// printer.
//
// A number is judged against a limit or a total in the units that its wire text carries
// (WireHundredths, WireUnits): the amount compared is exactly the amount sent.
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
// Value as a whole number of units of its last place when written with Decimals decimals
// (WireUnits(2.5, 3) == 2500); an amount in hundredths exactly as FormatWireAmount writes
// it (WireHundredths(1.005) == 101). Not finite, or beyond 64 bits: ECmdException(201,
// "[Number]").
int64_t WireUnits(double Value, int Decimals);
int64_t WireHundredths(double Value);
// Up to MaxDecimals decimals without trailing zeros, and without "." when none remain
// ("0.######": 1.955830 -> "1.95583", 2.0 -> "2").
std::string FormatWireUpTo(double Value, int MaxDecimals);

// Strict decimal number; false (Value untouched) when Text is not one or out of range.
bool ParseWireNumber(std::string_view Text, double& Value);
// Strict integer: an optional sign and at least one digit; false when not or out of range.
bool ParseWireInteger(std::string_view Text, int64_t& Value);

}  // namespace fp
