#include "platform/Cp1251.h"

#include <gtest/gtest.h>

namespace {

TEST(Cp1251, BulgarianRoundTrip) {
  const std::string utf8 = "\xD0\x9A\xD0\xB0\xD1\x81\xD0\xB0 \xE2\x84\x96 1";  // "Каса № 1"
  const std::string cp = fp::Utf8ToCp1251(utf8);
  EXPECT_EQ(cp, std::string("\xCA\xE0\xF1\xE0 \xB9 1"));
  EXPECT_EQ(fp::Cp1251ToUtf8(cp), utf8);
  EXPECT_EQ(fp::WideToCp1251(fp::Cp1251ToWide(cp)), cp);
}

TEST(Cp1251, EveryByteSurvivesARoundTripExceptTheUndefinedOne) {
  for (int b = 0; b < 256; ++b) {
    std::string one(1, static_cast<char>(b));
    std::string back = fp::WideToCp1251(fp::Cp1251ToWide(one));
    if (b == 0x98) EXPECT_EQ(back, "?");
    else EXPECT_EQ(back, one) << b;
  }
}

TEST(Cp1251, UnmappableCharactersBecomeQuestionMarks) {
  EXPECT_EQ(fp::WideToCp1251(u"a\u4E2Db"), "a?b");
  EXPECT_EQ(fp::WideToCp1251(u"\U0001F600"), "?");  // one surrogate pair is one character
  EXPECT_EQ(fp::Utf8ToCp1251("x\xFFy"), "x?y");     // invalid UTF-8
}

TEST(Cp1251, Utf8AndWide) {
  EXPECT_EQ(fp::WideToUtf8(fp::Utf8ToWide("\xD0\x96 \xF0\x9F\x98\x80")), "\xD0\x96 \xF0\x9F\x98\x80");
}

}  // namespace
