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
  TDataBuffer S(Size, 0x80);
  for (auto [Byte, Bit] : Bits) S[static_cast<size_t>(Byte)] |= static_cast<uint8_t>(1u << Bit);
  return S;
}

inline std::string Text(const TDataBuffer& B) { return TBaseDevice::BufferToText(B); }

// The sent commands in order, each as its command byte.
inline std::vector<int> SentCommands(const TFakeDevice& D) {
  std::vector<int> Out;
  for (const auto& C : D.Calls) Out.push_back(C.Cmd);
  return Out;
}

// Op, answered with Reply, sends exactly one command: Cmd with Data (as text) and Retries,
// and succeeds.
template <class TOp>
void ExpectSendsOnce(const std::string& Name, TOp Op, TFakeDevice::TReply Reply, uint8_t Cmd,
                     const std::string& Data, uint8_t Retries) {
  TFakeDevice D;
  D.Push(std::move(Reply));
  EXPECT_TRUE(Op(D)) << Name << ": " << D.FErrorText;
  ASSERT_EQ(D.Calls.size(), 1u) << Name;
  EXPECT_EQ(D.Calls[0].Cmd, Cmd) << Name;
  EXPECT_EQ(Text(D.Calls[0].Data), Data) << Name;
  EXPECT_EQ(D.Calls[0].Retries, Retries) << Name;
}

// The device failed with Code and a text that begins with the code's text and Label.
inline ::testing::AssertionResult FailedWith(const TBaseDevice& D, int32_t Code, const std::string& Label) {
  const std::string Head = TBaseDevice::ErrorCodeText(Code, Label);
  if (D.FErrorCode != Code)
    return ::testing::AssertionFailure() << "code " << D.FErrorCode << " (" << D.FErrorText << "), expected "
                                         << Code;
  if (D.FErrorText.compare(0, Head.size(), Head) != 0)
    return ::testing::AssertionFailure() << "text \"" << D.FErrorText << "\" does not begin with \"" << Head
                                         << "\"";
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
  TDataBuffer Status(6, 0x80);
  auto Apply = [&Status](const TBitTest& T, bool Fail) {
    const uint8_t Mask = static_cast<uint8_t>(1u << T.Bit);
    const bool Set = Fail ? T.WhenSet : !T.WhenSet;
    if (Set)
      Status[static_cast<size_t>(T.Byte)] |= Mask;
    else
      Status[static_cast<size_t>(T.Byte)] &= static_cast<uint8_t>(~Mask);
  };
  for (const TBitTest& T : Tests) Apply(T, true);
  for (const TBitTest& T : Tests) {
    TFakeDevice D;
    D.Push(TFakeDevice::Answer(Answer, Status));
    EXPECT_FALSE(Op(D)) << "test S" << T.Byte << "." << T.Bit;
    EXPECT_TRUE(FailedWith(D, T.Code, "[" + std::to_string(T.Byte) + "/" + std::to_string(T.Bit) + "]"))
        << "test S" << T.Byte << "." << T.Bit;
    Apply(T, false);
  }
  // All own tests pass: a syntax error is then found by the general check.
  Status[0] |= 0x01;
  TFakeDevice D;
  D.Push(TFakeDevice::Answer(Answer, Status));
  EXPECT_FALSE(Op(D));
  EXPECT_TRUE(FailedWith(D, 205, "[0/0]"));
}

}  // namespace fp::test
