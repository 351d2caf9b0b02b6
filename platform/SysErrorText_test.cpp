#include "platform/SysErrorText.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <future>
#include <thread>

#include "tests/support/LocaleTestSupport.h"

namespace fp::test {
namespace {

TEST(SysErrorText, EnglishTextsUnderABulgarianLocale) {
  test::TScopedLocale bulgarian(test::kBulgarianLocale);
  if (!bulgarian.TranslatesSystemErrors()) GTEST_SKIP() << test::kBulgarianLocale << " is not available here";
  struct Case {
    int Error;
    const char* Text;
  };
  for (const Case& c : {Case{ENOENT, "No such file or directory"}, Case{EBUSY, "Device or resource busy"},
                        Case{ECONNREFUSED, "Connection refused"}, Case{ENOSPC, "No space left on device"}}) {
    EXPECT_EQ(SysErrorText(c.Error), c.Text);
    EXPECT_EQ(SysErrorText(std::error_code(c.Error, std::system_category())), c.Text);
    EXPECT_EQ(SysErrorText(std::make_error_code(std::errc(c.Error))), c.Text);  // generic
    EXPECT_STREQ(ESysError(c.Error).what(), c.Text);
  }
  // Texts of another category stay that category's own.
  EXPECT_EQ(SysErrorText(std::make_error_code(std::future_errc::no_state)),
            std::make_error_code(std::future_errc::no_state).message());
  // Every thread gets the same text (the C locale is the process's, the text the thread's).
  std::string other;
  std::thread([&] { other = SysErrorText(EACCES); }).join();
  EXPECT_EQ(other, "Permission denied");
}

}  // namespace
}  // namespace fp::test
