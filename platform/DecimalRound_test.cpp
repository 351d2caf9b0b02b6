#include "platform/DecimalRound.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace fp::test {
namespace {

// The text and the units of one rounding always name the same number.
TEST(DecimalRound, TextAndUnitsAgree) {
  struct TCase {
    double Value;
    int Decimals;
    const char* Text;
    int64_t Units;
  };
  const TCase cases[] = {
      {1.005, 2, "1.01", 101},  // llround(1.005 * 100) gives 100
      {2.675, 2, "2.68", 268},
      {-2.345, 2, "-2.35", -235},
      {0.000004, 2, "0.00", 0},
      {-0.001, 2, "0.00", 0},
      {-0.0, 2, "0.00", 0},
      {-0.005, 2, "-0.01", -1},
      {9.995, 2, "10.00", 1000},
      {0.0005, 3, "0.001", 1},
      {-99.9995, 3, "-100.000", -100000},
      {12.5, 0, "13", 13},
      {-12.5, 0, "-13", -13},
      {1234567.125, 2, "1234567.13", 123456713},
      // Just below a half by binary noise: rounded on the text of 15 significant digits.
      {4.35 * 3, 2, "13.05", 1305},
      {0.469 * 5, 2, "2.35", 235},
      {1.15 * 0.3, 2, "0.35", 35},
      {2.3449999, 2, "2.34", 234},
      {0.1 + 0.2, 17, "0.30000000000000000", 30000000000000000},
      // Decimals outside 0..17 are clamped.
      {2.5, -3, "3", 3},
  };
  for (const TCase& c : cases) {
    std::string text = "old";
    int64_t units = -77;
    EXPECT_TRUE(RoundDecimalText(c.Value, c.Decimals, text)) << c.Value;
    EXPECT_EQ(text, c.Text) << c.Value;
    EXPECT_TRUE(RoundDecimalUnits(c.Value, c.Decimals, units)) << c.Value;
    EXPECT_EQ(units, c.Units) << c.Value;
  }
}

TEST(DecimalRound, NotFiniteAndTooLargeAreRefused) {
  for (double v : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN()}) {
    std::string text = "old";
    int64_t units = -77;
    EXPECT_FALSE(RoundDecimalText(v, 2, text));
    EXPECT_EQ(text, "old");
    EXPECT_FALSE(RoundDecimalUnits(v, 2, units));
    EXPECT_EQ(units, -77);
  }
  // A text has no limit; units must fit 64 bits.
  std::string text;
  EXPECT_TRUE(RoundDecimalText(1e20, 2, text));
  EXPECT_EQ(text, "100000000000000000000.00");
  int64_t units = -77;
  EXPECT_FALSE(RoundDecimalUnits(1e20, 2, units));
  EXPECT_FALSE(RoundDecimalUnits(-1e17, 3, units));
  EXPECT_EQ(units, -77);
  EXPECT_TRUE(RoundDecimalUnits(-9e16, 2, units));
  EXPECT_EQ(units, -9000000000000000000);
}

}  // namespace
}  // namespace fp::test
