#include "library/protocol/WireNumbers.h"

#include "library/protocol/BaseDeviceUnit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace fp::test {
namespace {

TEST(WireNumbers, Formatting) {
  struct TCase {
    double Value;
    int Decimals;
    const char* Text;
  };
  const TCase cases[] = {
      {2.675, 2, "2.68"},
      {1.005, 2, "1.01"},
      {-2.345, 2, "-2.35"},
      {0.000004, 2, "0.00"},
      {0.000004, 3, "0.000"},
      {7, 2, "7.00"},
      {7, 3, "7.000"},
      {-0.001, 2, "0.00"},
      {-0.0, 2, "0.00"},
      {-0.005, 2, "-0.01"},
      {0.004999, 2, "0.00"},
      {9.995, 2, "10.00"},
      {-99.9995, 3, "-100.000"},
      {2.5, 3, "2.500"},
      {0.0005, 3, "0.001"},
      {1234567.125, 2, "1234567.13"},
      {12.5, 0, "13"},
      {-12.5, 0, "-13"},
      {1e20, 2, "100000000000000000000.00"},
      // Products that lie just below a half by binary noise round on their text of 15
      // significant digits, as the printer computes them.
      {4.35 * 3, 2, "13.05"},
      {0.469 * 5, 2, "2.35"},
      {1.15 * 0.3, 2, "0.35"},
      {-4.35 * 3, 2, "-13.05"},
      {0.1 + 0.2, 17, "0.30000000000000000"},
      {2.3449999, 2, "2.34"},
      {0.0004999999999999999, 3, "0.001"},
  };
  for (const TCase& c : cases) EXPECT_EQ(FormatWireFixed(c.Value, c.Decimals), c.Text) << c.Value;
  EXPECT_EQ(FormatWireAmount(2.675), "2.68");
  EXPECT_EQ(FormatWireQuantity(2.5), "2.500");
}

TEST(WireNumbers, FormattingUpToDecimals) {
  EXPECT_EQ(FormatWireUpTo(1.95583, 6), "1.95583");
  EXPECT_EQ(FormatWireUpTo(2, 6), "2");
  EXPECT_EQ(FormatWireUpTo(0.1234565, 6), "0.123457");
  EXPECT_EQ(FormatWireUpTo(-0.0000001, 6), "0");
  EXPECT_EQ(FormatWireUpTo(4.35 * 3, 15), "13.05");
  EXPECT_EQ(FormatWireUpTo(1234.5678901234567, 15), "1234.56789012346");
}

TEST(WireNumbers, NotFiniteIsRefused) {
  for (double v : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN()}) {
    try {
      FormatWireAmount(v);
      ADD_FAILURE() << "formatted " << v;
    } catch (const ECmdException& e) {
      EXPECT_EQ(e.Code, 201);
      EXPECT_EQ(e.Message, "[Number]");
    }
  }
}

TEST(WireNumbers, ParsingIsStrict) {
  struct TCase {
    const char* Text;
    bool Ok;
    double Value;
  };
  const TCase cases[] = {
      {"5", true, 5},      {"-2.35", true, -2.35},  {"+7", true, 7},   {"5.", true, 5},    {".5", true, 0.5},
      {"-.5", true, -0.5}, {"0012.50", true, 12.5}, {"1e3", false, 0}, {"inf", false, 0},  {"-inf", false, 0},
      {"nan", false, 0},   {" 5", false, 0},        {"5 ", false, 0},  {"0x10", false, 0}, {"1,5", false, 0},
      {"", false, 0},      {".", false, 0},         {"-", false, 0},   {"+-1", false, 0},  {"1.2.3", false, 0},
      {"--1", false, 0},
  };
  for (const TCase& c : cases) {
    double v = 123;
    EXPECT_EQ(ParseWireNumber(c.Text, v), c.Ok) << c.Text;
    EXPECT_DOUBLE_EQ(v, c.Ok ? c.Value : 123) << c.Text;
  }
}

TEST(WireNumbers, IntegerParsing) {
  struct TCase {
    const char* Text;
    bool Ok;
    int64_t Value;
  };
  const TCase cases[] = {
      {"0", true, 0},
      {"-12", true, -12},
      {"+12", true, 12},
      {"99999999999", true, 99999999999},
      {"9223372036854775807", true, INT64_MAX},
      {"9223372036854775808", false, 0},
      {"1.0", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {"+", false, 0},
      {" 1", false, 0},
      {"1 ", false, 0},
      {"+-1", false, 0},
      {"0x1", false, 0},
  };
  for (const TCase& c : cases) {
    int64_t v = 77;
    EXPECT_EQ(ParseWireInteger(c.Text, v), c.Ok) << c.Text;
    EXPECT_EQ(v, c.Ok ? c.Value : 77) << c.Text;
  }
}

}  // namespace
}  // namespace fp::test
