#include "library/automation/ReceiptTexts.h"

namespace fp {

const TReceiptText ReceiptTexts[] = {
    {1, "\xCE\xEF\xE5\xF0\xE0\xF2\xEE\xF0 1", "Cashier 1", nullptr},
    {2, "\xC2\xDA\xD0\xCD\xC0\xD2\xC8", "REFUND", nullptr},
    {3, "\xCE\xD2\xD1\xD2\xDA\xCF\xCA\xC0", "DISCOUNT", nullptr},
    {4, "\xCD\xC0\xC4\xC1\xC0\xC2\xCA\xC0", "SERVICE CHARGE", nullptr},
    {5, "\xCC\xC5\xC6\xC4\xC8\xCD\xCD\xC0 \xD1\xD3\xCC\xC0", "SUBSUM", nullptr},
    {6, "\xCE\xC1\xD9\xC0 \xD1\xD3\xCC\xC0", "TOTAL", nullptr},
    {7, "\xD0\xC5\xD1\xD2\xCE", "CHANGE", "CHANGE:"},
    {8, "\xCF\xCB\xC0\xD2\xC5\xCD\xC8", "Paid", nullptr},
    {52, "\xC2 \xE1\xF0\xEE\xE9", "Cash", nullptr},
    {53, "\xCD\xE0 \xEA\xF0\xE5\xE4\xE8\xF2", "Credit", nullptr},
    {57, "\xCD\xE5 \xF1\xE0 \xEE\xF2\xEA\xF0\xE8\xF2\xE8 \xEA\xEE\xEC.\xEF\xEE\xF0\xF2\xEE\xE2\xE5.",
     "No com ports found", nullptr},
    {58,
     "\xCD\xE5 \xF1\xE0 \xEE\xF2\xEA\xF0\xE8\xF2\xE8 \xF1\xE2\xFA\xF0\xE7\xE0\xED\xE8 "
     "\xF3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xE0.",
     "No devices found", nullptr},
};

const std::size_t ReceiptTextCount = sizeof ReceiptTexts / sizeof ReceiptTexts[0];

void GetReceiptText(std::uint8_t Locale, std::uint8_t Id, std::string& Text) {
  for (const TReceiptText& row : ReceiptTexts) {
    if (row.Id != Id) continue;
    if (Locale == 0)
      Text = row.Bulgarian;
    else if (Locale == 3 && row.Locale3)
      Text = row.Locale3;
    else
      Text = row.English;
    return;
  }
}

}  // namespace fp
