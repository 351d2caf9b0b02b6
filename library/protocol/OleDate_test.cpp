#include "library/protocol/OleDate.h"

#include <gtest/gtest.h>

#include <limits>

namespace fp::test {
namespace {

double Encode(int y, int m, int d, int h = 0, int n = 0, int s = 0, int ms = 0) {
  double v = -1e9;
  EXPECT_TRUE(TryEncodeOleDateTime(y, m, d, h, n, s, ms, v));
  return v;
}

TEST(OleDate, KnownDaysAndTimes) {
  EXPECT_DOUBLE_EQ(Encode(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(Encode(1900, 1, 1), 2.0);
  EXPECT_DOUBLE_EQ(Encode(2015, 1, 5), 42009.0);
  EXPECT_DOUBLE_EQ(Encode(2000, 1, 1, 12), 36526.5);
  // Before day 0 the fraction counts forward from midnight of a negative day.
  EXPECT_DOUBLE_EQ(Encode(1899, 12, 29, 6), -1.25);
  EXPECT_DOUBLE_EQ(Encode(1, 1, 1), -693593.0);
  EXPECT_DOUBLE_EQ(Encode(9999, 12, 31), 2958465.0);
}

TEST(OleDate, InvalidPartsAreRefused) {
  struct Case {
    int y, m, d, h, n, s, ms;
  };
  const Case cases[] = {{2015, 2, 29, 0, 0, 0, 0}, {2016, 2, 30, 0, 0, 0, 0},   {2015, 13, 1, 0, 0, 0, 0},
                        {2015, 0, 1, 0, 0, 0, 0},  {2015, 4, 31, 0, 0, 0, 0},   {0, 1, 1, 0, 0, 0, 0},
                        {10000, 1, 1, 0, 0, 0, 0}, {2015, 1, 1, 24, 0, 0, 0},   {2015, 1, 1, 0, 60, 0, 0},
                        {2015, 1, 1, 0, 0, 60, 0}, {2015, 1, 1, 0, 0, 0, 1000}, {2015, 1, 1, -1, 0, 0, 0}};
  for (const Case& c : cases) {
    double v = 123.0;
    EXPECT_FALSE(TryEncodeOleDateTime(c.y, c.m, c.d, c.h, c.n, c.s, c.ms, v))
        << c.y << "-" << c.m << "-" << c.d << " " << c.h << ":" << c.n << ":" << c.s;
    EXPECT_EQ(v, 123.0);
  }
  double v = 0;
  EXPECT_TRUE(TryEncodeOleDateTime(2016, 2, 29, 23, 59, 59, 999, v));
}

TEST(OleDate, DecodeRoundTripsAndRejectsOutOfRange) {
  TOleDateParts p;
  ASSERT_TRUE(TryDecodeOleDateTime(Encode(2026, 12, 8, 22, 53, 12), p));
  EXPECT_EQ(p.Year, 2026);
  EXPECT_EQ(p.Month, 12);
  EXPECT_EQ(p.Day, 8);
  EXPECT_EQ(p.Hour, 22);
  EXPECT_EQ(p.Minute, 53);
  EXPECT_EQ(p.Second, 12);
  EXPECT_EQ(p.MilliSecond, 0);

  ASSERT_TRUE(TryDecodeOleDateTime(-1.25, p));
  EXPECT_EQ(p.Year, 1899);
  EXPECT_EQ(p.Day, 29);
  EXPECT_EQ(p.Hour, 6);

  // A time that rounds to 24:00 is the next midnight, not hour 24.
  ASSERT_TRUE(TryDecodeOleDateTime(42009.0 + 0.9999999999, p));
  EXPECT_EQ(p.Day, 6);
  EXPECT_EQ(p.Hour, 0);

  for (double bad :
       {-693594.0, 2958466.0, 1e300, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()})
    EXPECT_FALSE(TryDecodeOleDateTime(bad, p)) << bad;
}

TEST(OleDate, FormatPatterns) {
  const double v = Encode(2026, 12, 8, 22, 53, 12, 7);
  EXPECT_EQ(FormatOleDateTime("dd-mm-yy hh:nn", v), "08-12-26 22:53");
  EXPECT_EQ(FormatOleDateTime("ddmmyy", v), "081226");
  EXPECT_EQ(FormatOleDateTime("YYYY-MM-DD", v) + "T" + FormatOleDateTime("hh:nn:ss", v), "2026-12-08T22:53:12");
  EXPECT_EQ(FormatOleDateTime("ddmmyyyyhhnnss", v), "08122026225312");
  EXPECT_EQ(FormatOleDateTime("DD-MM-YY_HH-MM-SS", v), "08-12-26_22-53-12");
  EXPECT_EQ(FormatOleDateTime("ddmmyyyyhhnnzz", v), "08122026225307");
  EXPECT_EQ(FormatOleDateTime("d.m.yyyy", Encode(2026, 3, 5)), "5.3.2026");
  EXPECT_EQ(FormatOleDateTime("dd", 1e300), "");
}

}  // namespace
}  // namespace fp::test
