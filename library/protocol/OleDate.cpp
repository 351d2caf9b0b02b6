#include "library/protocol/OleDate.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace fp {

namespace {

using namespace std::chrono;

constexpr std::int64_t kMSecsPerDay = 86'400'000;

// Day 0 of the date-time values.
constexpr sys_days kEpoch = sys_days{year{1899} / December / 30};
constexpr double kMinValue = static_cast<double>((sys_days{year{1} / January / 1} - kEpoch).count());
constexpr double kMaxValue = static_cast<double>((sys_days{year{9999} / December / 31} - kEpoch).count() + 1);

}  // namespace

bool TryEncodeOleDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second, int MilliSecond,
                          double& Value) {
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 || Day > 31) return false;
  if (Hour < 0 || Hour > 23 || Minute < 0 || Minute > 59 || Second < 0 || Second > 59 || MilliSecond < 0 ||
      MilliSecond > 999)
    return false;
  const year_month_day ymd{year{Year}, month{static_cast<unsigned>(Month)}, day{static_cast<unsigned>(Day)}};
  if (!ymd.ok()) return false;
  const double days = static_cast<double>((sys_days{ymd} - kEpoch).count());
  const std::int64_t ms = ((static_cast<std::int64_t>(Hour) * 60 + Minute) * 60 + Second) * 1000 + MilliSecond;
  const double time = static_cast<double>(ms) / static_cast<double>(kMSecsPerDay);
  // Before day 0 the fraction still runs forward from midnight, so it is subtracted.
  Value = days < 0 ? days - time : days + time;
  return true;
}

bool TryEncodeOleDateTime(const TOleDateParts& Parts, double& Value) {
  return TryEncodeOleDateTime(Parts.Year, Parts.Month, Parts.Day, Parts.Hour, Parts.Minute, Parts.Second,
                              Parts.MilliSecond, Value);
}

bool TryDecodeOleDateTime(double Value, TOleDateParts& Parts) {
  if (!std::isfinite(Value) || Value <= kMinValue - 1 || Value >= kMaxValue) return false;
  const double whole = std::trunc(Value);
  std::int64_t days = static_cast<std::int64_t>(whole);
  std::int64_t ms = std::llround(std::fabs(Value - whole) * static_cast<double>(kMSecsPerDay));
  if (ms >= kMSecsPerDay) {  // 23:59:59.9995 and later round up to the next midnight
    ms -= kMSecsPerDay;
    ++days;
  }
  const year_month_day ymd{kEpoch + std::chrono::days{days}};
  const int y = static_cast<int>(ymd.year());
  if (y < 1 || y > 9999) return false;
  Parts.Year = y;
  Parts.Month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  Parts.Day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  Parts.Hour = static_cast<int>(ms / 3'600'000);
  Parts.Minute = static_cast<int>(ms / 60'000 % 60);
  Parts.Second = static_cast<int>(ms / 1000 % 60);
  Parts.MilliSecond = static_cast<int>(ms % 1000);
  return true;
}

std::string FormatOleDateTime(std::string_view Pattern, double Value) {
  TOleDateParts p;
  if (!TryDecodeOleDateTime(Value, p)) return {};
  std::string out;
  auto number = [&out](int v, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, v);
    out += buf;
  };
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  bool afterHour = false;  // "mm" right after an hour token means minutes
  std::size_t i = 0;
  while (i < Pattern.size()) {
    const char c = lower(Pattern[i]);
    std::size_t run = 1;
    while (i + run < Pattern.size() && lower(Pattern[i + run]) == c) ++run;
    const std::size_t two = run >= 2 ? 2 : 1;  // "d" unpadded, "dd" two digits
    switch (c) {
      case 'y':
        if (run >= 4) {
          number(p.Year, 4);
          run = 4;
        } else {
          number(p.Year % 100, 2);
          run = two;
        }
        afterHour = false;
        break;
      case 'm':
        run = two;
        number(afterHour ? p.Minute : p.Month, static_cast<int>(two));
        afterHour = false;
        break;
      case 'd':
        run = two;
        number(p.Day, static_cast<int>(two));
        afterHour = false;
        break;
      case 'h':
        run = two;
        number(p.Hour, static_cast<int>(two));
        afterHour = true;
        break;
      case 'n':
        run = two;
        number(p.Minute, static_cast<int>(two));
        afterHour = false;
        break;
      case 's':
        run = two;
        number(p.Second, static_cast<int>(two));
        afterHour = false;
        break;
      case 'z':
        run = run > 3 ? 3 : run;
        number(p.MilliSecond, static_cast<int>(run));
        afterHour = false;
        break;
      default: out.append(run, Pattern[i]); break;
    }
    i += run;
  }
  return out;
}

}  // namespace fp
