#include "program/app/uConst.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace fp::test {
namespace {

TEST(GlobalsTest, ReadersGetWholeValues) {
  const QString a(500, 'a'), b(700, 'b');
  uConst::SetCashierPas(a);
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!stop) {
      QString v = uConst::CashierPas();
      if (v != a && v != b) ++bad;
      auto pairs = uConst::PayTypePairs();
      if (!pairs.empty() && pairs.size() != 3) ++bad;
    }
  });
  for (int i = 0; i < 2000; ++i) {
    uConst::SetCashierPas(i % 2 ? a : b);
    uConst::SetPayTypePairs({{1, 2}, {3, 4}, {5, 6}});
  }
  stop = true;
  reader.join();
  EXPECT_EQ(bad, 0);
  uConst::SetCashierPas("");
  uConst::SetPayTypePairs({});
}

}  // namespace
}  // namespace fp::test
