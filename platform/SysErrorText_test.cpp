#include "platform/SysErrorText.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <future>
#include <thread>

#include "tests/support/LocaleTestSupport.h"

namespace fp {
namespace {

TEST(SysErrorText, EnglishTextsUnderABulgarianLocale) {
  test::TScopedLocale Bulgarian(test::kBulgarianLocale);
  if (!Bulgarian.TranslatesSystemErrors()) GTEST_SKIP() << test::kBulgarianLocale << " is not available here";
  struct Case {
    int Error;
    const char* Text;
  };
  for (const Case& C : {Case{ENOENT, "No such file or directory"}, Case{EBUSY, "Device or resource busy"},
                        Case{ECONNREFUSED, "Connection refused"}, Case{ENOSPC, "No space left on device"}}) {
    EXPECT_EQ(SysErrorText(C.Error), C.Text);
    EXPECT_EQ(SysErrorText(std::error_code(C.Error, std::system_category())), C.Text);
    EXPECT_EQ(SysErrorText(std::make_error_code(std::errc(C.Error))), C.Text);  // generic
    EXPECT_STREQ(ESysError(C.Error).what(), C.Text);
  }
  // Texts of another category stay that category's own.
  EXPECT_EQ(SysErrorText(std::make_error_code(std::future_errc::no_state)),
            std::make_error_code(std::future_errc::no_state).message());
  // Every thread gets the same text (the C locale is the process's, the text the thread's).
  std::string Other;
  std::thread([&] { Other = SysErrorText(EACCES); }).join();
  EXPECT_EQ(Other, "Permission denied");
}

}  // namespace
}  // namespace fp
