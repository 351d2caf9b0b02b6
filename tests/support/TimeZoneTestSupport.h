#pragma once
// Test helper: the process's time zone set to another one for the object's life, as a
// shop's machine has it. Header only; for tests.
#include <time.h>

#include <QByteArray>
#include <QtGlobal>

namespace fp::test {

// The time zone of the shops; its clocks go back at 04:00 summer time on the last Sunday
// of October and ahead at 03:00 on the last Sunday of March.
inline constexpr const char* kShopTimeZone = "Europe/Sofia";

class TScopedTimeZone {
 public:
  explicit TScopedTimeZone(const char* Name) : FOld(qgetenv("TZ")) {
    qputenv("TZ", Name);
    ::tzset();
  }
  ~TScopedTimeZone() {
    if (FOld.isNull())
      qunsetenv("TZ");
    else
      qputenv("TZ", FOld);
    ::tzset();
  }
  TScopedTimeZone(const TScopedTimeZone&) = delete;
  TScopedTimeZone& operator=(const TScopedTimeZone&) = delete;

 private:
  QByteArray FOld;
};

}  // namespace fp::test
