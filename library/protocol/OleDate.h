// Date-time values as the automation interface carries them: a double counting the days
// since 30 December 1899, with the time of day as the fraction. Before that day the
// integral part is negative and the fraction still counts forward from midnight
// (-1.25 is 29 December 1899, 06:00). Valid values lie in the years 1 to 9999.
#pragma once

#include <string>
#include <string_view>

namespace fp {

// The parts of one date-time value; months and days count from 1.
struct TOleDateParts {
  int Year = 1899;
  int Month = 12;
  int Day = 30;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int MilliSecond = 0;
};

// Builds the value of a calendar date and time of day; false when the parts do not form a
// valid date (years 1 to 9999, real day of the month) and time (hours 0-23, minutes and
// seconds 0-59, milliseconds 0-999). Value is untouched then.
bool TryEncodeOleDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second, int MilliSecond,
                          double& Value);
bool TryEncodeOleDateTime(const TOleDateParts& Parts, double& Value);

// Splits a value into its parts, the time rounded to the millisecond; false when the value
// is not finite or lies outside the years 1 to 9999. Parts is untouched then.
bool TryDecodeOleDateTime(double Value, TOleDateParts& Parts);

// Formats a value by a pattern of these tokens (letters in either case):
//   yyyy four-digit year, yy two-digit year, mm month (minutes when it follows an hour
//   token), dd day, hh hour 00-23, nn minutes, ss seconds (a single letter of m, d, h, n,
//   s: without the leading zero), zzz / zz / z milliseconds with at least three, two or
//   one digits.
// Any other character is copied. A value that does not decode gives an empty text.
std::string FormatOleDateTime(std::string_view Pattern, double Value);

}  // namespace fp
