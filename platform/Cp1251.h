#pragma once
// Code page 1251, the 8-bit text of the printer's wire, the library's log, receipt files
// and INI files. The tables are built once from iconv; a character that code page 1251
// cannot hold becomes "?", never an exception.
#include <string>
#include <string_view>

namespace fp {

// 8-bit code page 1251 text to UTF-16 and back.
std::u16string Cp1251ToWide(std::string_view text);
std::string WideToCp1251(std::u16string_view text);

// 8-bit code page 1251 text to UTF-8 and back (invalid UTF-8 sequences become "?").
std::string Cp1251ToUtf8(std::string_view text);
std::string Utf8ToCp1251(std::string_view text);

// UTF-8 and UTF-16 (surrogate pairs handled; invalid sequences become U+FFFD).
std::u16string Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::u16string_view text);

}  // namespace fp
