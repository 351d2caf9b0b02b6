#pragma once
// Test helper: the process's locale set to another one for the object's life, as a client
// program or the desktop sets it. Header only; for tests.
#include <cerrno>
#include <clocale>
#include <cstring>
#include <string>

namespace fp::test {

// The Bulgarian desktop locale of the shops.
inline constexpr const char* kBulgarianLocale = "bg_BG.UTF-8";

class TScopedLocale {
 public:
  explicit TScopedLocale(const char* Name) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    FOld = old ? old : "C";
    FSet = std::setlocale(LC_ALL, Name) != nullptr;
  }
  ~TScopedLocale() { std::setlocale(LC_ALL, FOld.c_str()); }
  TScopedLocale(const TScopedLocale&) = delete;
  TScopedLocale& operator=(const TScopedLocale&) = delete;

  // True when the locale is set and the system's own texts of errno values are translated
  // in it (the C library's message catalogue is there): only then does a test under it
  // show anything.
  bool TranslatesSystemErrors() const {
    return FSet && std::string(std::strerror(ENOENT)) != "No such file or directory";
  }

 private:
  std::string FOld;
  bool FSet = false;
};

}  // namespace fp::test
