#include "platform/Cp1251.h"

#include <gtest/gtest.h>
#include <iconv.h>

namespace fp::test {
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
    if (b == 0x98)
      EXPECT_EQ(back, "?");
    else
      EXPECT_EQ(back, one) << b;
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

// The code page 1251 byte of a character of another code page, 0 when code page 1251
// lacks it, as iconv sees it.
uint8_t ExpectedByIconv(const char* codePage, uint8_t byte) {
  iconv_t cd = iconv_open("UTF-16LE", codePage);
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  char in = static_cast<char>(byte);
  char16_t out[4] = {};
  char* pin = &in;
  char* pout = reinterpret_cast<char*>(out);
  size_t inLeft = 1, outLeft = sizeof out;
  size_t r = iconv(cd, &pin, &inLeft, &pout, &outLeft);
  iconv_close(cd);
  EXPECT_NE(r, static_cast<size_t>(-1));
  std::string c = fp::WideToCp1251(std::u16string(out, 1));
  return c == "?" ? 0 : static_cast<uint8_t>(c[0]);
}

TEST(ConvertCharEncodingTest, TablesAgreeWithIconv) {
  int unmapped855 = 0;
  for (int b = 0x80; b <= 0xFF; ++b) {
    const std::string in(1, static_cast<char>(b));
    const auto got855 = static_cast<uint8_t>(fp::ConvertCharEncoding(in, fp::EncodingCP855)[0]);
    EXPECT_EQ(got855, ExpectedByIconv("CP855", static_cast<uint8_t>(b))) << "CP855 byte " << b;
    unmapped855 += got855 == 0;
    const auto got866 = static_cast<uint8_t>(fp::ConvertCharEncoding(in, fp::EncodingOEM)[0]);
    EXPECT_EQ(got866, ExpectedByIconv("CP866", static_cast<uint8_t>(b))) << "CP866 byte " << b;
  }
  EXPECT_EQ(unmapped855, 29);
}

TEST(ConvertCharEncodingTest, Lines) {
  const std::string ascii = "#S1^Item 1^2.50\t;";
  for (uint8_t code : {0, 1, 2, 3, 255}) EXPECT_EQ(fp::ConvertCharEncoding(ascii, code), ascii);
  const std::string cp855 = "\x80\x81\x82\xB3\xA1\xA0z";
  EXPECT_EQ(fp::ConvertCharEncoding(cp855, fp::EncodingCP855), std::string("\x90\x80\x83\x00\xC0\xE0z", 7));
  EXPECT_EQ(fp::ConvertCharEncoding(cp855, 3), cp855);
  EXPECT_EQ(fp::OemToAnsiStr("\x8F\xE0\xA8\xA2\xA5\xF2"), "\xCF\xF0\xE8\xE2\xE5\xAA");
}

}  // namespace
}  // namespace fp::test
