#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/CommandTestSupport.h"
#include "tests/support/FakeDevice.h"

#include <gtest/gtest.h>

#include <functional>

namespace fp::test {
namespace {

using test::StatusWith;

std::string Txt(int32_t Code) { return DeviceErrorText(Code); }

// The code and message a check raises, or 0 when it passes.
std::pair<int32_t, std::string> Raised(const std::function<void()>& Check) {
  try {
    Check();
  } catch (const ECmdException& e) {
    return {e.Code, e.Message};
  }
  return {0, ""};
}

TEST(ErrorTexts, CyrillicLettersAreSingleCp1251Bytes) {
  EXPECT_EQ(Txt(213),
            "Fisk.\xEC"
            "emory is locked.");
  EXPECT_EQ(Txt(233), "\xCEpened fiscal receipt.");
  EXPECT_EQ(Txt(235), "\xCEpened comment receipt.");
  EXPECT_EQ(Txt(130), "Printer returns an error: ");
}

TEST(ErrorTexts, CodesWithoutText) {
  for (int32_t code : {0, 100, 108, 113, 119, 121, 129, 131, 133, 199, 202, 232, 234, 252, 255, 257, 502})
    EXPECT_EQ(DeviceErrorText(code), nullptr) << code;
  EXPECT_EQ(DeviceErrorTextCount, 64u);
  for (size_t i = 1; i < DeviceErrorTextCount; ++i) EXPECT_LT(DeviceErrorTexts[i - 1].Code, DeviceErrorTexts[i].Code);
}

TEST(ErrorCodeText, CodeTextBlankDetail) {
  EXPECT_EQ(TBaseDevice::ErrorCodeText(130, "x"), "Printer returns an error:  x");
  EXPECT_EQ(TBaseDevice::ErrorCodeText(210, ""), "No paper. ");
  EXPECT_EQ(TBaseDevice::ErrorCodeText(108, "[a]"), " [a]");
}

TEST(IsStatusBitSet, BitsAndBytesOutsideTheBuffer) {
  TDataBuffer s = StatusWith({{2, 3}});
  EXPECT_TRUE(IsStatusBitSet(s, 2, 3));
  EXPECT_FALSE(IsStatusBitSet(s, 2, 2));
  EXPECT_TRUE(IsStatusBitSet(s, 5, 7));
  EXPECT_FALSE(IsStatusBitSet(TDataBuffer(5, 0xFF), 5, 0));
}

TEST(CheckStatus, OrderAndLength) {
  TFakeDevice dev;
  struct TCase {
    TDataBuffer Status;
    std::pair<int32_t, std::string> Basic, Full;
  };
  const TCase cases[] = {
      {TDataBuffer(6, 0x00), {0, ""}, {0, ""}},
      {StatusWith({{0, 0}, {0, 1}}), {205, "[0/0]"}, {205, "[0/0]"}},
      {StatusWith({{0, 1}, {1, 1}}), {204, "[0/1]"}, {204, "[0/1]"}},
      {StatusWith({{1, 0}, {1, 1}}), {0, ""}, {216, "[1/1]"}},
      {StatusWith({{1, 0}}), {0, ""}, {223, "[1/0]"}},
      // Bits that only the status texts and the commands test do not fail the checks.
      {StatusWith({{0, 2}, {0, 4}, {2, 0}, {2, 3}, {4, 4}}), {0, ""}, {0, ""}},
      {TDataBuffer(5, 0x80), {200, "[6/5]"}, {200, "[6/5]"}},
      {TDataBuffer(7, 0x80), {200, "[6/7]"}, {200, "[6/7]"}},
      {TDataBuffer(), {200, "[6/0]"}, {200, "[6/0]"}},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(Raised([&] { dev.CheckStatusBasic(c.Status); }), c.Basic);
    EXPECT_EQ(Raised([&] { dev.CheckStatus(c.Status); }), c.Full);
  }
}

TEST(StatusErrorsText, JoinsSetBitsWithTheirBlanksAndCommas) {
  TFakeDevice dev;
  std::string text;
  EXPECT_TRUE(dev.StatusErrorsText(TDataBuffer(6, 0), 0, text));
  EXPECT_EQ(text, "");

  text.clear();
  EXPECT_FALSE(dev.StatusErrorsText(StatusWith({{2, 0}, {4, 4}}), 0, text));
  EXPECT_EQ(text, " " + Txt(210) + " , " + Txt(212) + " ");

  text.clear();
  EXPECT_TRUE(dev.StatusErrorsText(StatusWith({{2, 0}}), 210, text));
  EXPECT_EQ(text, "");

  // S0.0 opens the text (replacing what the caller passed); the rest follow in fixed order,
  // S2.2 before S2.0 and S5.2 before S5.0. S0.4 is not visited here.
  text = "caller";
  EXPECT_FALSE(dev.StatusErrorsText(StatusWith({{5, 0}, {5, 2}, {2, 0}, {2, 2}, {0, 4}, {0, 0}}), 0, text));
  EXPECT_EQ(text, Txt(205) + " , " + Txt(224) + " , " + Txt(210) + " , " + Txt(214) + " , " + Txt(213) + " ");

  // Without S0.0 the caller's text stays in front.
  text = "caller";
  dev.StatusErrorsText(StatusWith({{1, 2}}), 0, text);
  EXPECT_EQ(text, "caller, " + Txt(222) + " ");

  // Every bit of the list, in its order.
  text.clear();
  dev.StatusErrorsText(TDataBuffer(6, 0xFF), 0, text);
  std::string expected;
  for (int32_t code : {205, 204, 218, 223, 216, 222, 221, 220, 224, 210, 211, 212, 214, 213})
    expected += (expected.empty() ? "" : ", ") + TBaseDevice::ErrorCodeText(code, "");
  EXPECT_EQ(text, expected);
}

TEST(StatusErrorsText, FiveByteStatusReadsNoFurther) {
  TFakeDevice dev;
  std::string text;
  EXPECT_FALSE(dev.StatusErrorsText(TDataBuffer(5, 0xFF), 0, text));
  EXPECT_EQ(text.find(Txt(213)), std::string::npos);
  EXPECT_NE(text.find(Txt(212)), std::string::npos);
}

TEST(StatusErrorsTextAndCode, IncludesS04AndLeavesTheLastCode) {
  TFakeDevice dev;
  std::string text;
  EXPECT_FALSE(dev.StatusErrorsTextAndCode(StatusWith({{0, 4}, {2, 0}}), text));
  EXPECT_EQ(dev.FErrorCode, 210);
  EXPECT_EQ(text, " " + Txt(219) + " , " + Txt(210) + " ");

  text.clear();
  EXPECT_FALSE(dev.StatusErrorsTextAndCode(StatusWith({{0, 0}, {0, 2}, {0, 4}}), text));
  EXPECT_EQ(dev.FErrorCode, 219);
  EXPECT_EQ(text, Txt(205) + " , " + Txt(218) + " , " + Txt(219) + " ");

  dev.FErrorCode = 7;
  text.clear();
  EXPECT_TRUE(dev.StatusErrorsTextAndCode(TDataBuffer(6, 0x80), text));
  EXPECT_EQ(dev.FErrorCode, 7);
}

}  // namespace
}  // namespace fp::test
