#pragma once
// Helpers of the command operation tests: status bytes with chosen bits, the request data
// of the scripted device's calls as text, and checks of a recorded failure. Test-only.
#include "library/protocol/BaseDeviceUnit.h"
#include "tests/support/FakeDevice.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace fp::test {

// Size status bytes 0x80 (no bit of interest set) with the given bits, as {byte, bit}.
inline TDataBuffer StatusWith(std::initializer_list<std::pair<int, int>> Bits, size_t Size = 6) {
  TDataBuffer s(Size, 0x80);
  for (auto [Byte, Bit] : Bits) s[static_cast<size_t>(Byte)] |= static_cast<uint8_t>(1u << Bit);
  return s;
}

inline std::string Text(const TDataBuffer& B) { return TBaseDevice::BufferToText(B); }

// The sent commands in order, each as its command byte.
inline std::vector<int> SentCommands(const TFakeDevice& D) {
  std::vector<int> out;
  for (const auto& c : D.Calls) out.push_back(c.Cmd);
  return out;
}

// Op, answered with Reply, sends exactly one command: Cmd with Data (as text) and Retries,
// and succeeds.
template <class TOp>
void ExpectSendsOnce(const std::string& Name, TOp Op, TFakeDevice::TReply Reply, uint8_t Cmd, const std::string& Data,
                     uint8_t Retries) {
  TFakeDevice d;
  d.Push(std::move(Reply));
  EXPECT_TRUE(Op(d)) << Name << ": " << d.FErrorText;
  ASSERT_EQ(d.Calls.size(), 1u) << Name;
  EXPECT_EQ(d.Calls[0].Cmd, Cmd) << Name;
  EXPECT_EQ(Text(d.Calls[0].Data), Data) << Name;
  EXPECT_EQ(d.Calls[0].Retries, Retries) << Name;
}

// The device failed with Code and a text that begins with the code's text and Label.
inline ::testing::AssertionResult FailedWith(const TBaseDevice& D, int32_t Code, const std::string& Label) {
  const std::string head = TBaseDevice::ErrorCodeText(Code, Label);
  if (D.FErrorCode != Code)
    return ::testing::AssertionFailure() << "code " << D.FErrorCode << " (" << D.FErrorText << "), expected " << Code;
  if (D.FErrorText.compare(0, head.size(), head) != 0)
    return ::testing::AssertionFailure() << "text \"" << D.FErrorText << "\" does not begin with \"" << head << "\"";
  return ::testing::AssertionSuccess();
}

// A status test of a command as its table writes it: "Sb.n set: code" or "Sb.n clear: code".
struct TBitTest {
  int Byte, Bit;
  bool WhenSet;
  int32_t Code;
};

// Runs Op against status bytes in which every listed test fails, and expects the tests to
// fire in the listed order: the first failing one wins; once it passes, the next one wins.
// Op sends one command; Answer is the answer data it gets.
template <class TOp>
void ExpectTestOrder(const std::vector<TBitTest>& Tests, const std::string& Answer, TOp Op) {
  TDataBuffer status(6, 0x80);
  auto apply = [&status](const TBitTest& T, bool Fail) {
    const uint8_t mask = static_cast<uint8_t>(1u << T.Bit);
    const bool set = Fail ? T.WhenSet : !T.WhenSet;
    if (set)
      status[static_cast<size_t>(T.Byte)] |= mask;
    else
      status[static_cast<size_t>(T.Byte)] &= static_cast<uint8_t>(~mask);
  };
  for (const TBitTest& t : Tests) apply(t, true);
  for (const TBitTest& t : Tests) {
    TFakeDevice d;
    d.Push(TFakeDevice::Answer(Answer, status));
    EXPECT_FALSE(Op(d)) << "test S" << t.Byte << "." << t.Bit;
    EXPECT_TRUE(FailedWith(d, t.Code, "[" + std::to_string(t.Byte) + "/" + std::to_string(t.Bit) + "]"))
        << "test S" << t.Byte << "." << t.Bit;
    apply(t, false);
  }
  // All own tests pass: a syntax error is then found by the general check.
  status[0] |= 0x01;
  TFakeDevice d;
  d.Push(TFakeDevice::Answer(Answer, status));
  EXPECT_FALSE(Op(d));
  EXPECT_TRUE(FailedWith(d, 205, "[0/0]"));
}

}  // namespace fp::test
