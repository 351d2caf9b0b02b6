#include "tests/printermodel/ModelFrame.h"

#include <gtest/gtest.h>

namespace fp::test {
namespace {

using namespace fp::model;

std::string Hex(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

std::optional<HostFrame> ParseRequest(const std::string& bytes) {
  RequestParser p;
  std::optional<HostFrame> f;
  for (char c : bytes)
    if (auto got = p.Push(static_cast<uint8_t>(c))) f = got;
  return f;
}

TEST(ModelFrame, RequestsOfTheWorkedExamples) {
  const std::string noData = Hex({0x01, 0x24, 0x2A, 0x71, 0x05, 0x30, 0x30, 0x3C, 0x34, 0x03});
  const std::string i3 = Hex({0x01, 0x26, 0x21, 0x2B, 0x49, 0x33, 0x05, 0x30, 0x30, 0x3F, 0x33, 0x03});
  EXPECT_EQ(BuildRequest(0x2A, 0x71, ""), noData);
  EXPECT_EQ(BuildRequest(0x21, 0x2B, "I3"), i3);

  auto f = ParseRequest(i3);
  ASSERT_TRUE(f);
  EXPECT_TRUE(f->Valid());
  EXPECT_EQ(f->seq, 0x21);
  EXPECT_EQ(f->cmd, 0x2B);
  EXPECT_EQ(f->data, "I3");
  EXPECT_EQ(f->raw, i3);
}

TEST(ModelFrame, AnswerOfTheWorkedExample) {
  const std::string expected = Hex({0x01, 0x2E, 0x2A, 0x71, 0x31, 0x32, 0x33, 0x04, 0x80, 0x80,
                                    0x80, 0x80, 0x80, 0x80, 0x05, 0x30, 0x34, 0x36, 0x38, 0x03});
  EXPECT_EQ(BuildAnswer(0x2A, 0x71, "123", WireStatus(StatusBits{})), expected);

  AnswerParser p;
  std::optional<AnswerFrame> a;
  for (char c : "\x16\x16" + expected) a = p.Push(static_cast<uint8_t>(c));
  ASSERT_TRUE(a);
  EXPECT_TRUE(a->Valid());
  EXPECT_EQ(a->data, "123");
  EXPECT_EQ(a->status, std::string(6, '\x80'));
}

TEST(ModelFrame, EscapedDataRoundTrip) {
  // 1 CR 2 TAB 3 goes out as 31 10 4D 32 09 33; LEN counts the escaped bytes.
  const std::string data = Hex({0x31, 0x0D, 0x32, 0x09, 0x33});
  EXPECT_EQ(EscapeData(data), Hex({0x31, 0x10, 0x4D, 0x32, 0x09, 0x33}));
  const std::string frame = BuildRequest(0x40, 0x36, data);
  EXPECT_EQ(static_cast<uint8_t>(frame[1]), 0x24 + 6);
  auto f = ParseRequest(frame);
  ASSERT_TRUE(f);
  EXPECT_TRUE(f->Valid());
  EXPECT_EQ(f->data, data);

  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  f = ParseRequest(BuildRequest(0x41, 0x36, all.substr(0, 200)));
  ASSERT_TRUE(f);
  EXPECT_EQ(f->data, all.substr(0, 200));
}

TEST(ModelFrame, DamagedRequestsAreFlagged) {
  const std::string good = BuildRequest(0x22, 0x4A, "W");
  struct Case {
    const char* name;
    std::string bytes;
    bool lenOk = false, sumOk = false, escapeOk = false, endOk = false;
  };
  std::string badSum = good;
  badSum[good.size() - 2] ^= 0x01;
  std::string badLen = good;
  badLen[1] = static_cast<char>(badLen[1] + 1);
  std::string badEnd = good;
  badEnd.back() = 0x04;
  const std::string badEscape = Hex({0x01, 0x26, 0x22, 0x36, 0x10, 0x20, 0x05}) + [] {
    std::string body = Hex({0x26, 0x22, 0x36, 0x10, 0x20, 0x05});
    return SumDigits(FrameSum(body)) + "\x03";
  }();
  const Case cases[] = {
      {.name = "check sum", .bytes = badSum, .lenOk = true, .sumOk = false, .escapeOk = true, .endOk = true},
      {.name = "length", .bytes = badLen, .lenOk = false, .sumOk = false, .escapeOk = true, .endOk = true},
      {.name = "end byte", .bytes = badEnd, .lenOk = true, .sumOk = true, .escapeOk = true, .endOk = false},
      {.name = "escape", .bytes = badEscape, .lenOk = true, .sumOk = true, .escapeOk = false, .endOk = true},
  };
  for (const Case& c : cases) {
    auto f = ParseRequest(c.bytes);
    ASSERT_TRUE(f) << c.name;
    EXPECT_FALSE(f->Valid()) << c.name;
    EXPECT_EQ(f->lenOk, c.lenOk) << c.name;
    EXPECT_EQ(f->sumOk, c.sumOk) << c.name;
    EXPECT_EQ(f->escapeOk, c.escapeOk) << c.name;
    EXPECT_EQ(f->endOk, c.endOk) << c.name;
  }
}

TEST(ModelFrame, GarbageAndABrokenFrameBeforeAGoodOne) {
  const std::string good = BuildRequest(0x23, 0x5A, "0");
  // Stray bytes, then a frame cut off mid-data: its successor's 0x01 starts over.
  auto f = ParseRequest(Hex({0x55, 0x03, 0x16}) + good.substr(0, 5) + good);
  ASSERT_TRUE(f);
  EXPECT_TRUE(f->Valid());
  EXPECT_EQ(f->cmd, 0x5A);
  EXPECT_EQ(f->data, "0");
}

}  // namespace
}  // namespace fp::test
