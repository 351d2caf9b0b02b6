#pragma once
// The words that the automation object prints or reports itself (operator name, refund,
// discount, total, payment and change lines, port-search failures), in Bulgarian and
// English. Texts are 8-bit code page 1251.
#include <cstdint>
#include <string>

namespace fp {

struct TReceiptText {
  std::uint8_t Id;
  const char* Bulgarian;  // Locale 0
  const char* English;    // Locales 1 and 2, and 3 unless Locale3 is set
  const char* Locale3;    // nullptr: as English
};

// The rows of the table, in Id order.
extern const TReceiptText ReceiptTexts[];
extern const std::size_t ReceiptTextCount;

// Sets Text to the word of row Id for the object's Locale: 0 Bulgarian, 1 to 3 English
// (with the Locale 3 forms). An Id without a row leaves Text as it was. Never fails.
// The object's own GetReceiptText(Id, Text) calls this with its FLocale.
void GetReceiptText(std::uint8_t Locale, std::uint8_t Id, std::string& Text);

}  // namespace fp
