// Sales, text lines, discounts, payments and barcodes of TMiravokFprn, and the pure
// helpers behind them (MiravokFprnSales.h).
#include "library/automation/MiravokFprnSales.h"

#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "library/protocol/BaseDeviceCommands.h"
#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/DeviceText.h"
#include "library/automation/MiravokFprnUnit.h"
#include "library/automation/ReceiptTexts.h"
#include "library/protocol/WireNumbers.h"
#include "platform/TextLines.h"

namespace fp {

namespace {

bool IsBreakChar(char Ch) { return Ch == ' ' || Ch == ',' || Ch == '-' || Ch == '.'; }
bool IsQuoteChar(char Ch) { return Ch == '\'' || Ch == '"'; }

}  // namespace

double RoundAmount(double X) {
  if (std::fabs(X) < 0.00001) return 0;
  double out = 0;
  ParseWireNumber(FormatWireAmount(X), out);
  return out;
}

std::string QuantityText(double Value) { return FormatWireQuantity(Value); }

std::string AmountText(double Value) { return FormatWireAmount(Value); }

std::string PercentText(double Value) {
  std::string s = FormatWireAmount(Value);
  const bool negative = !s.empty() && s[0] == '-';
  if (negative) s.erase(0, 1);
  if (s.find('.') < 2) s.insert(0, 2 - s.find('.'), '0');
  return (negative ? "-" : "") + s + "%  ";
}

std::string DecimalComma(std::string Text) {
  for (char& ch : Text)
    if (ch == '.') ch = ',';
  return Text;
}

std::string JustifyLine(const std::string& Left, const std::string& Right, int Width) {
  const size_t length = Left.size() + 1 + Right.size();
  const size_t target = Width > 0 ? static_cast<size_t>(Width) : 0;
  const size_t blanks = 1 + (length < target ? target - length : 0);
  return Left + std::string(blanks, ' ') + Right;
}

std::string WrapText(const std::string& Text, int Width) {
  const size_t limit = Width > 0 ? static_cast<size_t>(Width) : 0;
  std::vector<std::string> lines;
  std::string line;
  // Index in Line just after its last usable break character; 0: none yet.
  size_t breakAfter = 0;
  char quote = '\0';
  for (size_t i = 0; i < Text.size(); ++i) {
    const char ch = Text[i];
    if (quote == '\0' && ch == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') {
      lines.push_back(std::move(line));
      line.clear();
      breakAfter = 0;
      ++i;
      continue;
    }
    line += ch;
    if (quote != '\0') {
      if (ch == quote) quote = '\0';
    } else if (IsQuoteChar(ch)) {
      quote = ch;
    } else if (IsBreakChar(ch) && line.size() > 1) {
      breakAfter = line.size();
    }
    if (quote == '\0' && breakAfter > 0 && line.size() >= limit) {
      lines.push_back(line.substr(0, breakAfter));
      line.erase(0, breakAfter);
      breakAfter = 0;
    }
  }
  lines.push_back(std::move(line));
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out += "\r\n";
    out += lines[i];
  }
  return out;
}

std::string ApplyPrintAttribute(const std::string& Text, const std::string& Command, bool Extended) {
  if (!Extended) return Text;
  std::string key = TrimControls(Command);
  for (char& ch : key)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  const char* switchTag = nullptr;
  if (key == "BOLD")
    switchTag = "^#5;";
  else if (key == "DBWIDTH")
    switchTag = "^#3;";
  else if (key == "DBSTRIKE")
    switchTag = "^#4;";
  if (!switchTag) return Text;
  return switchTag + Text + "^#2;";
}

char VatGroupLetter(int32_t VatGroup) {
  return static_cast<char>(static_cast<uint8_t>(static_cast<uint32_t>(VatGroup) + 191u));
}

char PaymentLetter(int32_t PayType) {
  static constexpr char letters[] = {'P', 'P', 'N', 'C', 'D', 'I', 'J', 'K', 'L', 'M', 'Q', 'R'};
  if (PayType < 0 || PayType > 11) throw EAbort("Invalid pay type nom: " + std::to_string(PayType) + ".");
  return letters[PayType];
}

int64_t AmountCents(double Amount) { return WireHundredths(Amount); }

// ---------------------------------------------------------------------------------------
// The non-fiscal layout.

std::string TNonFiscalLayout::Word(std::uint8_t Id) const {
  std::string text;
  GetReceiptText(Locale, Id, text);
  return text;
}

std::string TNonFiscalLayout::SeparatorLine() const {
  return std::string(Width > 1 ? static_cast<size_t>(Width - 1) : 0, '-');
}

std::string TNonFiscalLayout::NumberLine(const std::string& Numb, double Quantity, double UnitPrice) const {
  return JustifyLine(Numb, DecimalComma(QuantityText(Quantity) + " x " + AmountText(UnitPrice)), Width);
}

std::string TNonFiscalLayout::AmountLine(const std::string& Name, double Amount, char Letter) const {
  return JustifyLine(Name, DecimalComma(AmountText(Amount)) + " " + Letter, Width);
}

std::string TNonFiscalLayout::RefundLine(double Value) const { return JustifyLine(Word(2), AmountText(Value), Width); }

std::vector<std::string> TNonFiscalLayout::DiscountLines(int32_t DiscType, double Value, double LastPrice,
                                                         double LastQuantity, double ReceiptTotal, char Letter,
                                                         double& Amount) const {
  const std::string name = Word(Value < 0 ? 3 : 4);
  std::vector<std::string> lines;
  switch (DiscType) {
    case 1:
      Amount = RoundAmount(LastPrice * LastQuantity / 100 * Value);
      lines.push_back(
          JustifyLine(name + "  " + PercentText(Value), DecimalComma(AmountText(Amount)) + " " + Letter, Width));
      break;
    case 2:
      lines.push_back(JustifyLine(Word(5), DecimalComma(AmountText(ReceiptTotal)), Width));
      // The small offset keeps a product that lies just below a half (by binary noise) on
      // the side of the half.
      Amount = RoundAmount(ReceiptTotal / 100 * Value + (Value >= 0 ? 0.001 : -0.001));
      lines.push_back(
          DecimalComma(JustifyLine(name + " " + PercentText(Value), AmountText(Amount) + " " + Letter, Width)));
      break;
    case 3:
      Amount = RoundAmount(Value);
      lines.push_back(DecimalComma(JustifyLine(name, AmountText(Value) + " " + Letter, Width)));
      break;
    default: throw EAbort("Invalid discount type.");
  }
  return lines;
}

std::vector<std::string> TNonFiscalLayout::PaymentLines(int32_t PayType, double Amount, double ReceiptTotal,
                                                        double PaidBefore) const {
  std::vector<std::string> lines;
  if (AmountCents(PaidBefore) == 0) {
    lines.push_back(SeparatorLine());
    lines.push_back(JustifyLine(Word(6), DecimalComma(AmountText(ReceiptTotal)), Width));
    lines.push_back(SeparatorLine());
  }
  lines.push_back(Word(8) + " " + PaymentLetter(PayType));
  lines.push_back(JustifyLine(Word(PayType == 1 ? 52 : 53), DecimalComma(AmountText(Amount)), Width));
  return lines;
}

std::optional<std::string> TNonFiscalLayout::ChangeLine(double PaidTotal, double ReceiptTotal) const {
  const int64_t change = AmountCents(PaidTotal) - AmountCents(ReceiptTotal);
  if (change <= 0) return std::nullopt;
  return JustifyLine(Word(7), DecimalComma(AmountText(static_cast<double>(change) / 100)), Width);
}

// ---------------------------------------------------------------------------------------
// The receipt-filling methods of the automation object.

namespace {

constexpr int32_t BonNonFiscal = 1;

bool IsInvoiceType(int32_t BonType) { return BonType == 3 || BonType == 4; }
// The receipt types in which the printer keeps the receipt: fiscal, invoice, refund and
// credit note.
bool IsPrinterReceipt(int32_t BonType) { return BonType >= 2 && BonType <= 6; }

// The lines of a sale on a non-fiscal receipt: the number line (with numbering on), the
// name with the amount and the VAT letter, and the refund line when `refund` is given.
std::vector<std::string> SaleLines(const TNonFiscalLayout& Layout, bool Numbering, const std::string& Numb,
                                   const std::string& Name, double Quantity, double Price, double Amount, char Letter,
                                   std::optional<double> Refund) {
  std::vector<std::string> lines;
  if (Numbering) lines.push_back(Layout.NumberLine(Numb, Quantity, Price));
  lines.push_back(Layout.AmountLine(Name, Amount, Letter));
  if (Refund) lines.push_back(Layout.RefundLine(*Refund));
  return lines;
}

}  // namespace

bool TMiravokFprn::SendFormattedLine(const std::string& Text, const std::string& Command) {
  const std::string line = ApplyPrintAttribute(Text, Command, SupportsExtendedCommands());
  return FNonFiscalOpen ? FDevice->FPR_PrintNonFiscText(line) : FDevice->FPR_PrintFiscText(line);
}

void TMiravokFprn::PrintFormattedLine(const std::string& Text, const std::string& Command) {
  Check(SendFormattedLine(Text, Command));
}

void TMiravokFprn::CheckBeforeSending(const std::function<bool()>& Send) { Check(FDevice->CheckOnly(Send)); }

void TMiravokFprn::PrintLines(const std::vector<std::string>& Lines, const std::string& Command) {
  for (const std::string& line : Lines) CheckBeforeSending([&] { return SendFormattedLine(line, Command); });
  for (const std::string& line : Lines) PrintFormattedLine(line, Command);
}

void TMiravokFprn::GetDepartmentSum(std::uint8_t DepNo, TDepartmentSum& Sum) {
  LogMessage("Get totals for department: " + std::to_string(DepNo), LogInfo);
  Check(FDevice->GetFPR_DepartmentSum(DepNo, Sum), LogTag::GetDepartmentSum);
}

HRESULT TMiravokFprn::AddPLU(BSTR Numb, BSTR Name, double Price, double Quantity, LONG VATGroup, LONG* Res) {
  const std::string numbText = BstrToAnsi(Numb);
  const std::string nameText = BstrToAnsi(Name);
  const std::string callLine = "Add plu. Numb=" + QuotedStr(numbText) + " Name=" + QuotedStr(nameText) +
                               " Price=" + FloatToStr(Price) + " Quantity=" + FloatToStr(Quantity) +
                               " VATGroup=" + std::to_string(VATGroup);
  return RunMethod(Res, "Add plu failed", callLine, [&] {
    FiniteArgument(Price, "Price");
    FiniteArgument(Quantity, "Quantity");
    FiniteArgument(Price * Quantity, "Price");
    if (IsPrinterReceipt(FBonType)) {
      CheckVatGroupArgument(VATGroup, "VATGroup");
      CheckTextArgument(TTextField::SaleText, numbText, "Numb");
      CheckTextArgument(TTextField::SaleSecondText, nameText, "Name");
    }
    const char letter = VatGroupLetter(VATGroup);
    const double amount = RoundAmount(Price * Quantity);
    FReceiptTotal += amount;
    FLastPrice = Price;
    FLastQuantity = Quantity;
    FLastVATGroup = static_cast<std::uint8_t>(VATGroup);
    const bool negative = Price < 0 || Quantity < 0;
    if (FBonType == BonNonFiscal) {
      PrintLines(SaleLines(TNonFiscalLayout{FLocale, FLineLength}, FPLUNumbering, numbText, nameText, Quantity, Price,
                           amount, letter, negative ? std::optional<double>(Price * Quantity) : std::nullopt));
    } else if (IsPrinterReceipt(FBonType)) {
      // Any negative part makes the sale a return: a negative price, a positive quantity.
      double sentPrice = Price, sentQuantity = Quantity;
      if (negative) {
        sentPrice = -std::fabs(Price);
        sentQuantity = std::fabs(Quantity);
      }
      auto sale = [&] { return FDevice->FPR_Sale(numbText, nameText, letter, sentPrice, sentQuantity, 0); };
      if (IsInvoiceType(FBonType)) {
        CheckBeforeSending(sale);
        PrintFormattedLine(" ", "");
      }
      Check(sale());
    }
  });
}

HRESULT TMiravokFprn::AddDeprtPlu(BSTR Numb, BSTR Name, LONG DeprtmentNo, double Price, double Quantity, LONG VATGrp,
                                  LONG* Res) {
  const std::string numbText = BstrToAnsi(Numb);
  const std::string nameText = BstrToAnsi(Name);
  const std::string callLine = "AddDeprtPlu. Numb=" + QuotedStr(numbText) + " Name=" + QuotedStr(nameText) +
                               " Price=" + FloatToStr(Price) + " Quantity=" + FloatToStr(Quantity) +
                               " DeprtmentNo=" + std::to_string(DeprtmentNo) + ". VAT no=" + std::to_string(VATGrp);
  return RunMethod(Res, "AddDeprtPlu failed", callLine, [&] {
    if (DeprtmentNo < 1 || DeprtmentNo > 50)
      throw ECRException(ErrInvalidInput,
                         "Invalid department No:" + std::to_string(DeprtmentNo) + ". It has to be between 1 and 50");
    FiniteArgument(Price, "Price");
    FiniteArgument(Quantity, "Quantity");
    FiniteArgument(Price * Quantity, "Price");
    // The group and the name may reprogram the department (where an LF would start the
    // department's second text); the name goes into the sale with the number.
    CheckVatGroupArgument(VATGrp, "VATGrp");
    CheckTextArgument(TTextField::DepartmentName, nameText, "Name");
    if (IsPrinterReceipt(FBonType)) {
      CheckTextArgument(TTextField::SaleText, numbText, "Numb");
      CheckTextArgument(TTextField::SaleSecondText, nameText, "Name");
    }
    const auto depNo = static_cast<std::uint8_t>(DeprtmentNo);
    const char letter = VatGroupLetter(VATGrp);
    const double amount = RoundAmount(Price * Quantity);
    // The lines of a non-fiscal receipt, with the department's VAT letter.
    auto nonFiscalLines = [&](char Letter) {
      return SaleLines(TNonFiscalLayout{FLocale, FLineLength}, FPLUNumbering, numbText, nameText, Quantity, Price,
                       amount, Letter,
                       Price < 0 || Quantity < 0 ? std::optional<double>(Price * Quantity) : std::nullopt);
    };
    auto sale = [&] { return FDevice->FPR_SaleByDepartment(numbText, nameText, depNo, Price, Quantity, 0); };
    // What the sale sends is checked before the department is read or programmed: a sale
    // the printer cannot take (a quantity of 0) fails the call with nothing sent, and the
    // department stays as it was. The letter does not change what the lines' check finds.
    if (FBonType == BonNonFiscal) {
      for (const std::string& line : nonFiscalLines(letter))
        CheckBeforeSending([&] { return SendFormattedLine(line, ""); });
    } else if (IsPrinterReceipt(FBonType)) {
      CheckBeforeSending(sale);
    }

    // The department as the printer holds it: its definition, or else its totals. Either
    // read of a programmed department carries its VAT letter, or it fails.
    std::string depName, depText;
    char depLetter = letter;
    bool programmed = true;
    if (!FDevice->GetFPR_DepartmentInfo(DeprtmentNo, depName, depText, depLetter)) {
      TDepartmentSum sum;
      GetDepartmentSum(depNo, sum);
      programmed = sum.Marker == 'P';
      depName = sum.Name;
      depLetter = sum.TaxGroup;
    }
    auto upper = [](std::string S) {
      for (char& ch : S)
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
      return S;
    };
    if (!programmed || upper(depName) != upper(TrimControls(nameText)) || depLetter != letter) {
      TDepartmentInfo info;
      info.Number = depNo;
      info.TaxGroup = letter;
      info.Name = nameText;
      Check(FDevice->SetFPR_Department(info));
    }
    // A department that was not programmed had no letter of its own: it has the one it
    // was just given.
    if (!programmed) depLetter = letter;

    FReceiptTotal += amount;
    FLastPrice = Price;
    FLastQuantity = Quantity;
    FLastVATGroup = static_cast<std::uint8_t>(VATGrp);
    if (FBonType == BonNonFiscal) {
      PrintLines(nonFiscalLines(depLetter));
    } else if (IsPrinterReceipt(FBonType)) {
      if (FBonType != 2 && FBonType != 5) PrintFormattedLine(" ", "");
      Check(sale());
    }
  });
}

HRESULT TMiravokFprn::AddProgPlu(LONG Numb, LONG DeprtmentNo, double Quantity, double Price, LONG VATGrp, LONG* Res) {
  const std::string callLine = "Add prog plu. Numb=\"" + std::to_string(Numb) + "\" Quantity=" + FloatToStr(Quantity) +
                               "\" Department No: " + std::to_string(DeprtmentNo) + "\", Price=" + FloatToStr(Price) +
                               "\" VatGrp No: " + std::to_string(VATGrp);
  return RunMethod(Res, "Add prog Plu failed", callLine, [&] {
    FiniteArgument(Quantity, "Quantity");
    FiniteArgument(Price, "Price");
    CheckUnsignedArgument(Numb, INT32_MAX, "Numb");
    // The article as programmed in the printer. A failed read (the printer's answer that it
    // has no such article among them) leaves the caller's price and VAT group.
    TPluData plu;
    plu.TaxGroup = VatGroupLetter(VATGrp);
    double unitPrice = Price;
    char letter = VatGroupLetter(VATGrp);
    std::string articleName;
    if (FDevice->GetFPR_PluData(Numb, plu) && plu.PluNo != -1) {
      unitPrice = plu.UnitPrice;
      letter = plu.TaxGroup;
      articleName = plu.Name;
    }
    FiniteArgument(unitPrice * Quantity, "Quantity");

    const double amount = RoundAmount(unitPrice * Quantity);
    if (FBonType == BonNonFiscal) {
      PrintLines(SaleLines(TNonFiscalLayout{FLocale, FLineLength}, FPLUNumbering, std::to_string(Numb), articleName,
                           Quantity, unitPrice, amount, letter,
                           Quantity < 0 ? std::optional<double>(unitPrice) : std::nullopt));
    } else if (IsPrinterReceipt(FBonType)) {
      auto sale = [&] { return FDevice->FPR_SaleProgPlu(false, Numb, DeprtmentNo, Quantity, 0, false); };
      if (FBonType != 2 && FBonType != 5) {
        CheckBeforeSending(sale);
        PrintFormattedLine(" ", "");
      }
      Check(sale());
    }
    FReceiptTotal += amount;
    FLastPrice = unitPrice;
    FLastQuantity = Quantity;
    FLastVATGroup = static_cast<std::uint8_t>(static_cast<std::uint8_t>(letter) - 191);
  });
}

HRESULT TMiravokFprn::AddLine(BSTR Line, BSTR Command, LONG WordWrap, LONG* Res) {
  const std::string text = BstrToAnsi(Line);
  const std::string commandText = BstrToAnsi(Command);
  const std::string callLine =
      "Add Line=" + QuotedStr(text) + ", WordWrap=" + std::to_string(WordWrap) + ", Command=" + commandText;
  return RunMethod(Res, "AddLine failed", callLine, [&] {
    if (WordWrap <= 0) {
      PrintFormattedLine(text, commandText);
      return;
    }
    PrintLines(SplitLines(WrapText(text, FLineLength)), commandText);
  });
}

HRESULT TMiravokFprn::AddDiscount(LONG DiscType, double Value, LONG* Res) {
  const std::string callLine = "Add discount. DiscType=" + std::to_string(DiscType) + " Value=" + FloatToStr(Value);
  return RunMethod(Res, "Add discount failed.", callLine, [&] {
    FiniteArgument(Value, "Value");
    if (FBonType == BonNonFiscal) {
      const TNonFiscalLayout layout{FLocale, FLineLength};
      double amount = 0;
      PrintLines(layout.DiscountLines(DiscType, Value, FLastPrice, FLastQuantity, FReceiptTotal,
                                      VatGroupLetter(FLastVATGroup), amount));
      FReceiptTotal += amount;
      return;
    }
    double subTotal = 0;
    std::array<double, 8> vatSums{};
    switch (DiscType) {
      case 1: Check(FDevice->FPR_DiscountLastItem(false, Value)); break;
      case 2: Check(FDevice->FPR_SubTotal(false, false, false, subTotal, vatSums, Value)); break;
      case 3: Check(FDevice->FPR_SubTotal(false, true, false, subTotal, vatSums, Value)); break;
      default: throw EAbort("Invalid discount type.");
    }
  });
}

void TMiravokFprn::AddPaymentAmount(int32_t PayType, double Value, double Rate, const char* ValueName,
                                    const char* RateName,
                                    const std::function<bool(char Letter, double Amount)>& SendToPrinter) {
  const char letter = PaymentLetter(PayType);
  FiniteArgument(Value, ValueName);
  FiniteArgument(Rate, RateName);
  FiniteArgument(Value * Rate, ValueName);
  // The amount in the receipt's currency: what the layout shows and the running sum counts.
  const double amount = RoundAmount(Value * Rate);
  if (FBonType == BonNonFiscal) {
    const TNonFiscalLayout layout{FLocale, FLineLength};
    std::vector<std::string> lines = layout.PaymentLines(PayType, amount, FReceiptTotal, FPaidTotal);
    if (auto change = layout.ChangeLine(FPaidTotal + amount, FReceiptTotal)) lines.push_back(*change);
    PrintLines(lines);
    FPaidTotal += amount;
  } else if (IsPrinterReceipt(FBonType)) {
    Check(SendToPrinter(letter, amount));
    FPaidTotal += amount;
  }
}

HRESULT TMiravokFprn::AddPayment(LONG Number, BSTR Name, double Ammount, double Cource, LONG* Res) {
  const std::string callLine = "Add payment. Pay type nom=" + std::to_string(Number) +
                               ", Name=" + QuotedStr(BstrToAnsi(Name)) + ", Ammount=" + FloatToStr(Ammount) +
                               ", Cource=" + FloatToStr(Cource);
  return RunMethod(Res, "Add payment failed", callLine, [&] {
    AddPaymentAmount(Number, Ammount, Cource, "Ammount", "Cource", [&](char Letter, double Amount) {
      char paidCode = '\0';
      double amount2 = 0;
      return FDevice->FPR_Payment("", "", Letter, Amount, paidCode, amount2);
    });
  });
}

HRESULT TMiravokFprn::AddPaymentByCurrncy(LONG PayNo, BSTR PayText, double PayAmount, double PayCourse, BSTR CurrAbrev,
                                          LONG* Res) {
  const std::string currency = BstrToAnsi(CurrAbrev);
  const std::string callLine = "Add payment and currency. Pay type nom=" + std::to_string(PayNo) +
                               ", PayText=" + QuotedStr(BstrToAnsi(PayText)) + ", PayAmount=" + FloatToStr(PayAmount) +
                               ", Cource=" + FloatToStr(PayCourse) + ", CurrAbrev=" + currency;
  return RunMethod(Res, "Add payment failed", callLine, [&] {
    // The printer gets the foreign amount and the rate, and converts it itself.
    AddPaymentAmount(PayNo, PayAmount, PayCourse, "PayAmount", "PayCourse", [&](char Letter, double) {
      char paidCode = '\0';
      double amount2 = 0;
      return FDevice->FPR_PaymentByCurrency("", "", Letter, PayAmount, PayCourse, currency, paidCode, amount2);
    });
  });
}

HRESULT TMiravokFprn::AddBarcode(BSTR BData, LONG BType, LONG BHeight, LONG BHri, LONG* Res) {
  const std::string data = BstrToAnsi(BData);
  const std::string callLine = " Add Barcode.  BData=" + QuotedStr(data) + ", BType=" + std::to_string(BType) +
                               ", BHeight=" + std::to_string(BHeight) + ", BHri=" + std::to_string(BHri);
  return RunMethod(Res, "AddBarcode failed", callLine, [&] {
    auto quoted = [](LONG N) { return "\"" + std::to_string(N) + "\""; };
    const std::string tag = LogTag::AddBarcode;
    LONG type = BType, height = BHeight, hri = BHri;
    if (type < 1 || type > 6) {
      LogMessage(tag + "Invalid barcode type " + quoted(BType) + ". Using default type (QR code)", LogInfo);
      type = 6;
    }
    if (hri != 0 && hri != 1) {
      LogMessage(
          tag + "Invalid hri value " + quoted(BHri) + ". Valid values are 0 or 1. Using default value " + quoted(1),
          LogInfo);
      hri = 1;
    }
    if (height < 0 || height > 200) {
      LogMessage(tag + "Invalid height value " + quoted(BHeight) + ". Valid values are 0 or 200. Using default value " +
                     quoted(100),
                 LogInfo);
      height = 100;
    }
    auto print = [&] { return FDevice->FPR_PrintBarcode(type, data, hri == 1); };
    // Barcode data the printer cannot take fails the call before the height is sent.
    CheckBeforeSending(print);
    // A height the printer refuses leaves the one it has.
    if (!FDevice->SetFPR_BarcodeHeight(static_cast<std::uint16_t>(height)))
      LogMessage(tag + "Cant' set height " + quoted(height) + ". Printer error: " + FDevice->FErrorText, LogInfo);
    Check(print());
  });
}

}  // namespace fp
