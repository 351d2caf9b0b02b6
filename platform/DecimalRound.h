#pragma once
// The one rounding rule of the system for amounts, prices, quantities and rates: halves
// away from zero on the decimal text of the value, the same on every machine whatever its
// locale. The library's wire texts, its receipt layout and its limit checks use it, and so
// does the receipt-file reader of the program.
//
// The decimal text is the value's shortest text that reads back to it when that has at
// most 15 significant digits, otherwise the value written with 15 significant digits. So
// what the caller sees is what is rounded (2.675 -> 2.68, 1.005 -> 1.01, -2.345 -> -2.35),
// and a product that lies just below a half by binary noise rounds as a cash register
// computes it (4.35 * 3, held as 13.049999999999999, -> 13.05; 0.469 * 5 -> 2.35).
//
//   std::string Text;
//   RoundDecimalText(1.005, 2, Text);     // "1.01"
//   int64_t Cents = 0;
//   RoundDecimalUnits(1.005, 2, Cents);   // 101: the same number in hundredths
//
// Compare amounts against limits and totals in the units of RoundDecimalUnits, never by
// rounding a second time (llround(x * 100) gives 100 for 1.005).
#include <cstdint>
#include <string>

namespace fp {

// Value rounded to Decimals places (clamped to 0..17) as text: "-" for a negative result
// that does not round to zero, at least one integer digit, then "." and exactly Decimals
// digits (no "." for 0 decimals). False, with Out untouched, for a value that is not finite.
bool RoundDecimalText(double Value, int Decimals, std::string& Out);

// The same rounded value as a whole number of units of its last place (1.005 at 2
// decimals gives 101, -2.345 gives -235). False, with Units untouched, for a value that is
// not finite or whose units do not fit a signed 64-bit number.
bool RoundDecimalUnits(double Value, int Decimals, int64_t& Units);

}  // namespace fp
