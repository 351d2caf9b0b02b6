#include "platform/TextLines.h"

#include <gtest/gtest.h>

namespace fp::test {
namespace {

TEST(TextLines, SplitsAtEveryKindOfLineEnd) {
  using V = std::vector<std::string>;
  const std::pair<std::string, V> cases[] = {
      {"", {}},
      {"one", {"one"}},
      {"one\r\n", {"one"}},
      {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"a\n\r\nb", {"a", "", "b"}},  // LF, then CR LF: one empty line between
      {"a\r\rb", {"a", "", "b"}},    // two CRs are two line ends
      {"a\n\rb", {"a", "", "b"}},    // LF CR is not one line end
      {"\n\n", {"", ""}},
      {"a\r", {"a"}},
      {std::string("a\0b\nc", 5), {std::string("a\0b", 3), "c"}},  // NUL is an ordinary byte here
      {" \t x \n", {" \t x "}},                                    // nothing is trimmed
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(SplitLines(text), expected) << text;
}

}  // namespace
}  // namespace fp::test
