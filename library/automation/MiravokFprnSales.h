#pragma once
// The parts of selling that need no printer: rounding of amounts, the number texts of the
// lines the object lays out itself, justified lines, the word wrap of free text, the
// print attributes of a text line, the VAT and payment letters, and the layout of a
// non-fiscal receipt (sale, refund, discount, total, payment and change lines).
//
// Rounding and the number texts follow the one rule of the system (platform/DecimalRound.h,
// through library/protocol/WireNumbers.h): halves away from zero on the decimal text of at most 15
// significant digits (2.675 gives 2.68, 1.005 gives 1.01, a product such as 4.35 x 3, held
// as 13.049999999999999, gives 13.05).
//
// All texts are 8-bit code page 1251; widths count bytes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fp {

// X rounded to two decimals, halves away from zero on its decimal text; a magnitude below
// 0.00001 gives 0. A value that is not finite raises ECmdException(201, "[Number]").
double RoundAmount(double X);

// The number texts, "." as separator, halves away from zero, no sign on a zero result:
// quantities "0.000", amounts and prices "0.00", percentages "00.00%  " (at least two
// integer digits, then a percent sign and two blanks; "-" in front of a negative value).
std::string QuantityText(double Value);
std::string AmountText(double Value);
std::string PercentText(double Value);
// Every "." of Text replaced by ",".
std::string DecimalComma(std::string Text);

// Left, one blank and Right, with more blanks after Left until Width characters are
// reached. A text that is already Width characters or longer is never cut.
std::string JustifyLine(const std::string& Left, const std::string& Right, int Width);

// Breaks Text into lines of about Width characters and joins them with CR LF:
//  - a line ends only just after a break character (blank, ",", "-", "."), which stays on
//    its line; the next line starts with the character after it, blanks included;
//  - inside a quoted stretch (from a ' or " to the next quote of the same kind) no break
//    character counts and no line ends; a quote without its partner runs to the end;
//  - once a line holds Width characters or more and has a break character that is not its
//    first character, it ends after the last such break character; a longer word is
//    never cut;
//  - a CR LF pair outside quotes ends a line there;
//  - no line break follows the last line.
std::string WrapText(const std::string& Text, int Width);

// A text line with its print attribute: on a printer with extended commands the Command
// BOLD, DBWIDTH or DBSTRIKE (blanks trimmed, a to z in any case) wraps the text in the
// attribute's switch and the switch back to normal print; otherwise Text unchanged.
std::string ApplyPrintAttribute(const std::string& Text, const std::string& Command, bool Extended);

// The VAT letter of a VAT group: group + 191 as one byte (groups 1 to 8 give 0xC0..0xC7).
char VatGroupLetter(int32_t VatGroup);
// The printer's payment letter of a pay type 0 to 11; any other value raises EAbort
// "Invalid pay type nom: %d.".
char PaymentLetter(int32_t PayType);
// An amount in whole cents exactly as its wire text carries it (1.005 gives 101): the one
// form in which amounts are compared with totals and limits.
int64_t AmountCents(double Amount);

// The lines of a non-fiscal receipt: Width characters a line (the printer's line length),
// receipt words in the language of Locale.
struct TNonFiscalLayout {
  std::uint8_t Locale = 0;
  int Width = 0;

  std::string Word(std::uint8_t Id) const;
  // One "-" fewer than Width.
  std::string SeparatorLine() const;
  // "Numb ... Q x P" with decimal comma on the right-hand side.
  std::string NumberLine(const std::string& Numb, double Quantity, double UnitPrice) const;
  // "Name ... A L": Amount with decimal comma, a blank and the VAT letter.
  std::string AmountLine(const std::string& Name, double Amount, char Letter) const;
  // "REFUND ... V": Value with "0.00" and "." as separator.
  std::string RefundLine(double Value) const;
  // The lines of a discount (Value below 0) or surcharge of kind DiscType: 1 percent of the
  // last sale, 2 percent of the subtotal (after a SUBSUM line), 3 an amount. Amount
  // receives what the running total grows by. Another DiscType raises EAbort
  // "Invalid discount type.".
  std::vector<std::string> DiscountLines(int32_t DiscType, double Value, double LastPrice, double LastQuantity,
                                         double ReceiptTotal, char Letter, double& Amount) const;
  // The lines of a payment of Amount (in the receipt's currency) with pay type PayType:
  // the TOTAL block before the first payment (nothing paid before, in whole cents), the
  // Paid line with the payment letter and the Cash or Credit line.
  std::vector<std::string> PaymentLines(int32_t PayType, double Amount, double ReceiptTotal, double PaidBefore) const;
  // The CHANGE line when the payments exceed the total, compared in whole cents.
  std::optional<std::string> ChangeLine(double PaidTotal, double ReceiptTotal) const;
};

}  // namespace fp
