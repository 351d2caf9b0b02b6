#pragma once
// Code page 1251, the 8-bit text of the printer's wire, the library's log, receipt files
// and INI files. The tables are built once from iconv; a character that code page 1251
// cannot hold becomes "?", never an exception.
#include <cstdint>
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

// The other character encodings of receipt files (code 0 is code page 1251 itself).
constexpr uint8_t EncodingOEM = 1;    // the OEM code page 866
constexpr uint8_t EncodingCP855 = 2;  // code page 855

// One receipt line from encoding `code` (0 code page 1251, 1 OEM code page 866, 2 code
// page 855; any other code: unchanged) to code page 1251; same length. Characters that
// code page 1251 lacks (block, shade and box-drawing characters) become 0x00.
std::string ConvertCharEncoding(std::string_view line, uint8_t code);
// Code page 866 to code page 1251, same length.
std::string OemToAnsiStr(std::string_view text);

}  // namespace fp
