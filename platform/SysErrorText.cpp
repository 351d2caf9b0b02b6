#include "platform/SysErrorText.h"

#include <locale.h>
#include <string.h>

namespace fp {

namespace {

// The C locale, made once for the process and never freed (strerror_l may be called from
// any thread, also late during the process's end).
locale_t CLocale() {
  static const locale_t locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

}  // namespace

std::string SysErrorText(int Error) {
  const locale_t locale = CLocale();
  if (locale == static_cast<locale_t>(nullptr)) return "System error " + std::to_string(Error);
  // strerror_l gives a text that stays valid until the next call in this thread.
  return ::strerror_l(Error, locale);
}

std::string SysErrorText(const std::error_code& Code) {
  if (Code.category() == std::system_category() || Code.category() == std::generic_category())
    return SysErrorText(Code.value());
  return Code.message();
}

}  // namespace fp
