#pragma once
// System error texts as the operator reads them: the C locale's English text of an errno
// value, whatever locale the process (or a client of the library) has set. A Bulgarian
// desktop locale would otherwise paste UTF-8 Bulgarian into the 8-bit code page 1251 texts
// of the error messages and the logs. Every system error text of the library and of the
// program goes through here.
#include <string>
#include <system_error>

namespace fp {

// The C locale's text of the errno value Error ("No such file or directory").
std::string SysErrorText(int Error);
// The text of an error code: codes of the system and the generic category by their value
// (as SysErrorText), any other category (resolver, socket library) by its own message,
// which is English text already.
std::string SysErrorText(const std::error_code& Code);

// A system error raised with that text: what() is SysErrorText of its value.
class ESysError : public std::system_error {
 public:
  explicit ESysError(int Error) : std::system_error(Error, std::system_category()), FText(SysErrorText(Error)) {}
  const char* what() const noexcept override { return FText.c_str(); }

 private:
  std::string FText;
};

}  // namespace fp
