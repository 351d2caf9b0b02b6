#include "library/automation/ReceiptTexts.h"

#include <gtest/gtest.h>

#include "platform/Cp1251.h"

namespace fp::test {
namespace {

std::string Word(std::uint8_t locale, std::uint8_t id) {
  std::string text;
  GetReceiptText(locale, id, text);
  return Cp1251ToUtf8(text);
}

TEST(ReceiptTextsTest, WordsByLocale) {
  struct TCase {
    std::uint8_t Locale, Id;
    const char* Utf8;
  } const cases[] = {
      {0, 7, "РЕСТО"},
      {1, 7, "CHANGE"},
      {2, 7, "CHANGE"},
      {3, 7, "CHANGE:"},
      {0, 1, "Оператор 1"},
      {1, 1, "Cashier 1"},
      {0, 2, "ВЪРНАТИ"},
      {1, 2, "REFUND"},
      {0, 3, "ОТСТЪПКА"},
      {0, 4, "НАДБАВКА"},
      {2, 4, "SERVICE CHARGE"},
      {0, 5, "МЕЖДИННА СУМА"},
      {0, 6, "ОБЩА СУМА"},
      {0, 8, "ПЛАТЕНИ"},
      {1, 8, "Paid"},
      {0, 53, "На кредит"},
      {3, 5, "SUBSUM"},
      {0, 52, "В брой"},
      {2, 53, "Credit"},
      {0, 57, "Не са открити ком.портове."},
      {1, 57, "No com ports found"},
      {0, 58, "Не са открити свързани устройства."},
      {3, 58, "No devices found"},
  };
  for (const TCase& c : cases) EXPECT_EQ(Word(c.Locale, c.Id), c.Utf8) << int(c.Locale) << "/" << int(c.Id);
}

TEST(ReceiptTextsTest, IdWithoutARowLeavesTheText) {
  for (std::uint8_t id : {0, 9, 51, 54, 255}) {
    for (std::uint8_t locale : {0, 3}) {
      std::string text = "kept";
      GetReceiptText(locale, id, text);
      EXPECT_EQ(text, "kept") << int(id);
    }
  }
}

}  // namespace
}  // namespace fp::test
