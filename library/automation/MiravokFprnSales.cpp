// Sales, text lines, discounts, payments and barcodes of TMiravokFprn, and the pure
// helpers behind them (MiravokFprnSales.h).
#include "library/automation/MiravokFprnSales.h"

#include <array>
#include <cmath>

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
  double Out = 0;
  ParseWireNumber(FormatWireAmount(X), Out);
  return Out;
}

std::string QuantityText(double Value) { return FormatWireQuantity(Value); }

std::string AmountText(double Value) { return FormatWireAmount(Value); }

std::string PercentText(double Value) {
  std::string S = FormatWireAmount(Value);
  const bool Negative = !S.empty() && S[0] == '-';
  if (Negative) S.erase(0, 1);
  if (S.find('.') < 2) S.insert(0, 2 - S.find('.'), '0');
  return (Negative ? "-" : "") + S + "%  ";
}

std::string DecimalComma(std::string Text) {
  for (char& Ch : Text)
    if (Ch == '.') Ch = ',';
  return Text;
}

std::string JustifyLine(const std::string& Left, const std::string& Right, int Width) {
  const size_t Length = Left.size() + 1 + Right.size();
  const size_t Target = Width > 0 ? static_cast<size_t>(Width) : 0;
  const size_t Blanks = 1 + (Length < Target ? Target - Length : 0);
  return Left + std::string(Blanks, ' ') + Right;
}

std::string WrapText(const std::string& Text, int Width) {
  const size_t Limit = Width > 0 ? static_cast<size_t>(Width) : 0;
  std::vector<std::string> Lines;
  std::string Line;
  // Index in Line just after its last usable break character; 0: none yet.
  size_t BreakAfter = 0;
  char Quote = '\0';
  for (size_t I = 0; I < Text.size(); ++I) {
    const char Ch = Text[I];
    if (Quote == '\0' && Ch == '\r' && I + 1 < Text.size() && Text[I + 1] == '\n') {
      Lines.push_back(std::move(Line));
      Line.clear();
      BreakAfter = 0;
      ++I;
      continue;
    }
    Line += Ch;
    if (Quote != '\0') {
      if (Ch == Quote) Quote = '\0';
    } else if (IsQuoteChar(Ch)) {
      Quote = Ch;
    } else if (IsBreakChar(Ch) && Line.size() > 1) {
      BreakAfter = Line.size();
    }
    if (Quote == '\0' && BreakAfter > 0 && Line.size() >= Limit) {
      Lines.push_back(Line.substr(0, BreakAfter));
      Line.erase(0, BreakAfter);
      BreakAfter = 0;
    }
  }
  Lines.push_back(std::move(Line));
  std::string Out;
  for (size_t I = 0; I < Lines.size(); ++I) {
    if (I > 0) Out += "\r\n";
    Out += Lines[I];
  }
  return Out;
}

std::string ApplyPrintAttribute(const std::string& Text, const std::string& Command, bool Extended) {
  if (!Extended) return Text;
  std::string Key = TrimControls(Command);
  for (char& Ch : Key)
    if (Ch >= 'a' && Ch <= 'z') Ch = static_cast<char>(Ch - 'a' + 'A');
  const char* Switch = nullptr;
  if (Key == "BOLD") Switch = "^#5;";
  else if (Key == "DBWIDTH") Switch = "^#3;";
  else if (Key == "DBSTRIKE") Switch = "^#4;";
  if (!Switch) return Text;
  return Switch + Text + "^#2;";
}

char VatGroupLetter(int32_t VatGroup) {
  return static_cast<char>(static_cast<uint8_t>(static_cast<uint32_t>(VatGroup) + 191u));
}

char PaymentLetter(int32_t PayType) {
  static constexpr char Letters[] = {'P', 'P', 'N', 'C', 'D', 'I', 'J', 'K', 'L', 'M', 'Q', 'R'};
  if (PayType < 0 || PayType > 11) throw EAbort("Invalid pay type nom: " + std::to_string(PayType) + ".");
  return Letters[PayType];
}

int64_t AmountCents(double Amount) { return WireHundredths(Amount); }

// ---------------------------------------------------------------------------------------
// The non-fiscal layout.

std::string TNonFiscalLayout::Word(std::uint8_t Id) const {
  std::string Text;
  GetReceiptText(Locale, Id, Text);
  return Text;
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

std::string TNonFiscalLayout::RefundLine(double Value) const {
  return JustifyLine(Word(2), AmountText(Value), Width);
}

std::vector<std::string> TNonFiscalLayout::DiscountLines(int32_t DiscType, double Value, double LastPrice,
                                                         double LastQuantity, double ReceiptTotal,
                                                         char Letter, double& Amount) const {
  const std::string Name = Word(Value < 0 ? 3 : 4);
  std::vector<std::string> Lines;
  switch (DiscType) {
    case 1:
      Amount = RoundAmount(LastPrice * LastQuantity / 100 * Value);
      Lines.push_back(JustifyLine(Name + "  " + PercentText(Value),
                                  DecimalComma(AmountText(Amount)) + " " + Letter, Width));
      break;
    case 2:
      Lines.push_back(JustifyLine(Word(5), DecimalComma(AmountText(ReceiptTotal)), Width));
      // The small offset keeps a product that lies just below a half (by binary noise) on
      // the side of the half.
      Amount = RoundAmount(ReceiptTotal / 100 * Value + (Value >= 0 ? 0.001 : -0.001));
      Lines.push_back(DecimalComma(
          JustifyLine(Name + " " + PercentText(Value), AmountText(Amount) + " " + Letter, Width)));
      break;
    case 3:
      Amount = RoundAmount(Value);
      Lines.push_back(DecimalComma(JustifyLine(Name, AmountText(Value) + " " + Letter, Width)));
      break;
    default:
      throw EAbort("Invalid discount type.");
  }
  return Lines;
}

std::vector<std::string> TNonFiscalLayout::PaymentLines(int32_t PayType, double Amount, double ReceiptTotal,
                                                        double PaidBefore) const {
  std::vector<std::string> Lines;
  if (AmountCents(PaidBefore) == 0) {
    Lines.push_back(SeparatorLine());
    Lines.push_back(JustifyLine(Word(6), DecimalComma(AmountText(ReceiptTotal)), Width));
    Lines.push_back(SeparatorLine());
  }
  Lines.push_back(Word(8) + " " + PaymentLetter(PayType));
  Lines.push_back(JustifyLine(Word(PayType == 1 ? 52 : 53), DecimalComma(AmountText(Amount)), Width));
  return Lines;
}

std::optional<std::string> TNonFiscalLayout::ChangeLine(double PaidTotal, double ReceiptTotal) const {
  const int64_t Change = AmountCents(PaidTotal) - AmountCents(ReceiptTotal);
  if (Change <= 0) return std::nullopt;
  return JustifyLine(Word(7), DecimalComma(AmountText(static_cast<double>(Change) / 100)), Width);
}

// ---------------------------------------------------------------------------------------
// The receipt-filling methods of the automation object.

namespace {

constexpr int32_t BonNonFiscal = 1;

bool IsInvoiceType(int32_t BonType) { return BonType == 3 || BonType == 4; }
// The receipt types in which the printer keeps the receipt: fiscal, invoice, refund and
// credit note.
bool IsPrinterReceipt(int32_t BonType) { return BonType >= 2 && BonType <= 6; }

}  // namespace

void TMiravokFprn::PrintFormattedLine(const std::string& Text, const std::string& Command) {
  const std::string Line = ApplyPrintAttribute(Text, Command, SupportsExtendedCommands());
  if (FNonFiscalOpen)
    Check(FDevice->FPR_PrintNonFiscText(Line));
  else
    Check(FDevice->FPR_PrintFiscText(Line));
}

void TMiravokFprn::PrintLines(const std::vector<std::string>& Lines) {
  for (const std::string& Line : Lines) PrintFormattedLine(Line, "");
}

void TMiravokFprn::GetDepartmentSum(std::uint8_t DepNo, TDepartmentSum& Sum) {
  LogMessage("Get totals for department: " + std::to_string(DepNo), LogInfo);
  Check(FDevice->GetFPR_DepartmentSum(DepNo, Sum), LogTag::GetDepartmentSum);
}

HRESULT TMiravokFprn::AddPLU(BSTR Numb, BSTR Name, double Price, double Quantity, LONG VATGroup,
                             LONG* Res) {
  const std::string NumbText = BstrToAnsi(Numb);
  const std::string NameText = BstrToAnsi(Name);
  const std::string CallLine = "Add plu. Numb=" + QuotedStr(NumbText) + " Name=" + QuotedStr(NameText) +
                               " Price=" + FloatToStr(Price) + " Quantity=" + FloatToStr(Quantity) +
                               " VATGroup=" + std::to_string(VATGroup);
  return RunMethod(Res, "Add plu failed", CallLine, [&] {
    FiniteArgument(Price, "Price");
    FiniteArgument(Quantity, "Quantity");
    FiniteArgument(Price * Quantity, "Price");
    if (IsPrinterReceipt(FBonType)) {
      CheckVatGroupArgument(VATGroup, "VATGroup");
      CheckTextArgument(TTextField::SaleText, NumbText, "Numb");
      CheckTextArgument(TTextField::SaleSecondText, NameText, "Name");
    }
    const char Letter = VatGroupLetter(VATGroup);
    const double Amount = RoundAmount(Price * Quantity);
    FReceiptTotal += Amount;
    FLastPrice = Price;
    FLastQuantity = Quantity;
    FLastVATGroup = static_cast<std::uint8_t>(VATGroup);
    const bool Negative = Price < 0 || Quantity < 0;
    if (FBonType == BonNonFiscal) {
      const TNonFiscalLayout Layout{FLocale, FLineLength};
      if (FPLUNumbering) PrintFormattedLine(Layout.NumberLine(NumbText, Quantity, Price), "");
      PrintFormattedLine(Layout.AmountLine(NameText, Amount, Letter), "");
      if (Negative) PrintFormattedLine(Layout.RefundLine(Price * Quantity), "");
    } else if (IsPrinterReceipt(FBonType)) {
      if (IsInvoiceType(FBonType)) PrintFormattedLine(" ", "");
      // Any negative part makes the sale a return: a negative price, a positive quantity.
      double SentPrice = Price, SentQuantity = Quantity;
      if (Negative) {
        SentPrice = -std::fabs(Price);
        SentQuantity = std::fabs(Quantity);
      }
      Check(FDevice->FPR_Sale(NumbText, NameText, Letter, SentPrice, SentQuantity, 0));
    }
  });
}

HRESULT TMiravokFprn::AddDeprtPlu(BSTR Numb, BSTR Name, LONG DeprtmentNo, double Price,
                                  double Quantity, LONG VATGrp, LONG* Res) {
  const std::string NumbText = BstrToAnsi(Numb);
  const std::string NameText = BstrToAnsi(Name);
  const std::string CallLine = "AddDeprtPlu. Numb=" + QuotedStr(NumbText) + " Name=" + QuotedStr(NameText) +
                               " Price=" + FloatToStr(Price) + " Quantity=" + FloatToStr(Quantity) +
                               " DeprtmentNo=" + std::to_string(DeprtmentNo) +
                               ". VAT no=" + std::to_string(VATGrp);
  return RunMethod(Res, "AddDeprtPlu failed", CallLine, [&] {
    if (DeprtmentNo < 1 || DeprtmentNo > 50)
      throw ECRException(ErrInvalidInput, "Invalid department No:" + std::to_string(DeprtmentNo) +
                                              ". It has to be between 1 and 50");
    FiniteArgument(Price, "Price");
    FiniteArgument(Quantity, "Quantity");
    FiniteArgument(Price * Quantity, "Price");
    // The group and the name may reprogram the department (where an LF would start the
    // department's second text); the name goes into the sale with the number.
    CheckVatGroupArgument(VATGrp, "VATGrp");
    CheckTextArgument(TTextField::DepartmentName, NameText, "Name");
    if (IsPrinterReceipt(FBonType)) {
      CheckTextArgument(TTextField::SaleText, NumbText, "Numb");
      CheckTextArgument(TTextField::SaleSecondText, NameText, "Name");
    }
    const auto DepNo = static_cast<std::uint8_t>(DeprtmentNo);
    const char Letter = VatGroupLetter(VATGrp);

    // The department as the printer holds it: its definition, or else its totals. Either
    // read of a programmed department carries its VAT letter, or it fails.
    std::string DepName, DepText;
    char DepLetter = Letter;
    bool Programmed = true;
    if (!FDevice->GetFPR_DepartmentInfo(DeprtmentNo, DepName, DepText, DepLetter)) {
      TDepartmentSum Sum;
      GetDepartmentSum(DepNo, Sum);
      Programmed = Sum.Marker == 'P';
      DepName = Sum.Name;
      DepLetter = Sum.TaxGroup;
    }
    auto Upper = [](std::string S) {
      for (char& Ch : S)
        if (Ch >= 'a' && Ch <= 'z') Ch = static_cast<char>(Ch - 'a' + 'A');
      return S;
    };
    if (!Programmed || Upper(DepName) != Upper(TrimControls(NameText)) || DepLetter != Letter) {
      TDepartmentInfo Info;
      Info.Number = DepNo;
      Info.TaxGroup = Letter;
      Info.Name = NameText;
      Check(FDevice->SetFPR_Department(Info));
    }
    // A department that was not programmed had no letter of its own: it has the one it
    // was just given.
    if (!Programmed) DepLetter = Letter;

    const double Amount = RoundAmount(Price * Quantity);
    FReceiptTotal += Amount;
    FLastPrice = Price;
    FLastQuantity = Quantity;
    FLastVATGroup = static_cast<std::uint8_t>(VATGrp);
    if (FBonType == BonNonFiscal) {
      const TNonFiscalLayout Layout{FLocale, FLineLength};
      if (FPLUNumbering) PrintFormattedLine(Layout.NumberLine(NumbText, Quantity, Price), "");
      PrintFormattedLine(Layout.AmountLine(NameText, Amount, DepLetter), "");
      if (Price < 0 || Quantity < 0) PrintFormattedLine(Layout.RefundLine(Price * Quantity), "");
    } else if (IsPrinterReceipt(FBonType)) {
      if (FBonType != 2 && FBonType != 5) PrintFormattedLine(" ", "");
      Check(FDevice->FPR_SaleByDepartment(NumbText, NameText, DepNo, Price, Quantity, 0));
    }
  });
}

HRESULT TMiravokFprn::AddProgPlu(LONG Numb, LONG DeprtmentNo, double Quantity, double Price,
                                 LONG VATGrp, LONG* Res) {
  const std::string CallLine = "Add prog plu. Numb=\"" + std::to_string(Numb) + "\" Quantity=" +
                               FloatToStr(Quantity) + "\" Department No: " + std::to_string(DeprtmentNo) +
                               "\", Price=" + FloatToStr(Price) + "\" VatGrp No: " + std::to_string(VATGrp);
  return RunMethod(Res, "Add prog Plu failed", CallLine, [&] {
    FiniteArgument(Quantity, "Quantity");
    FiniteArgument(Price, "Price");
    CheckUnsignedArgument(Numb, INT32_MAX, "Numb");
    // The article as programmed in the printer. A failed read (the printer's answer that it
    // has no such article among them) leaves the caller's price and VAT group.
    TPluData Plu;
    Plu.TaxGroup = VatGroupLetter(VATGrp);
    double UnitPrice = Price;
    char Letter = VatGroupLetter(VATGrp);
    std::string ArticleName;
    if (FDevice->GetFPR_PluData(Numb, Plu) && Plu.PluNo != -1) {
      UnitPrice = Plu.UnitPrice;
      Letter = Plu.TaxGroup;
      ArticleName = Plu.Name;
    }
    FiniteArgument(UnitPrice * Quantity, "Quantity");

    const double Amount = RoundAmount(UnitPrice * Quantity);
    if (FBonType == BonNonFiscal) {
      const TNonFiscalLayout Layout{FLocale, FLineLength};
      if (FPLUNumbering) PrintFormattedLine(Layout.NumberLine(std::to_string(Numb), Quantity, UnitPrice), "");
      PrintFormattedLine(Layout.AmountLine(ArticleName, Amount, Letter), "");
      if (Quantity < 0) PrintFormattedLine(Layout.RefundLine(UnitPrice), "");
    } else if (IsPrinterReceipt(FBonType)) {
      if (FBonType != 2 && FBonType != 5) PrintFormattedLine(" ", "");
      Check(FDevice->FPR_SaleProgPlu(false, Numb, DeprtmentNo, Quantity, 0, false));
    }
    FReceiptTotal += Amount;
    FLastPrice = UnitPrice;
    FLastQuantity = Quantity;
    FLastVATGroup = static_cast<std::uint8_t>(static_cast<std::uint8_t>(Letter) - 191);
  });
}

HRESULT TMiravokFprn::AddLine(BSTR Line, BSTR Command, LONG WordWrap, LONG* Res) {
  const std::string Text = BstrToAnsi(Line);
  const std::string CommandText = BstrToAnsi(Command);
  const std::string CallLine = "Add Line=" + QuotedStr(Text) + ", WordWrap=" + std::to_string(WordWrap) +
                               ", Command=" + CommandText;
  return RunMethod(Res, "AddLine failed", CallLine, [&] {
    if (WordWrap <= 0) {
      PrintFormattedLine(Text, CommandText);
      return;
    }
    for (const std::string& Piece : SplitLines(WrapText(Text, FLineLength)))
      PrintFormattedLine(Piece, CommandText);
  });
}

HRESULT TMiravokFprn::AddDiscount(LONG DiscType, double Value, LONG* Res) {
  const std::string CallLine =
      "Add discount. DiscType=" + std::to_string(DiscType) + " Value=" + FloatToStr(Value);
  return RunMethod(Res, "Add discount failed.", CallLine, [&] {
    FiniteArgument(Value, "Value");
    if (FBonType == BonNonFiscal) {
      const TNonFiscalLayout Layout{FLocale, FLineLength};
      double Amount = 0;
      PrintLines(Layout.DiscountLines(DiscType, Value, FLastPrice, FLastQuantity, FReceiptTotal,
                                      VatGroupLetter(FLastVATGroup), Amount));
      FReceiptTotal += Amount;
      return;
    }
    double SubTotal = 0;
    std::array<double, 8> VatSums{};
    switch (DiscType) {
      case 1:
        Check(FDevice->FPR_DiscountLastItem(false, Value));
        break;
      case 2:
        Check(FDevice->FPR_SubTotal(false, false, false, SubTotal, VatSums, Value));
        break;
      case 3:
        Check(FDevice->FPR_SubTotal(false, true, false, SubTotal, VatSums, Value));
        break;
      default:
        throw EAbort("Invalid discount type.");
    }
  });
}

void TMiravokFprn::AddPaymentAmount(int32_t PayType, double Value, double Rate, const char* ValueName,
                                    const char* RateName,
                                    const std::function<bool(char Letter, double Amount)>& SendToPrinter) {
  const char Letter = PaymentLetter(PayType);
  FiniteArgument(Value, ValueName);
  FiniteArgument(Rate, RateName);
  FiniteArgument(Value * Rate, ValueName);
  // The amount in the receipt's currency: what the layout shows and the running sum counts.
  const double Amount = RoundAmount(Value * Rate);
  if (FBonType == BonNonFiscal) {
    const TNonFiscalLayout Layout{FLocale, FLineLength};
    PrintLines(Layout.PaymentLines(PayType, Amount, FReceiptTotal, FPaidTotal));
    FPaidTotal += Amount;
    if (auto Change = Layout.ChangeLine(FPaidTotal, FReceiptTotal)) PrintFormattedLine(*Change, "");
  } else if (IsPrinterReceipt(FBonType)) {
    Check(SendToPrinter(Letter, Amount));
    FPaidTotal += Amount;
  }
}

HRESULT TMiravokFprn::AddPayment(LONG Number, BSTR Name, double Ammount, double Cource, LONG* Res) {
  const std::string CallLine = "Add payment. Pay type nom=" + std::to_string(Number) + ", Name=" +
                               QuotedStr(BstrToAnsi(Name)) + ", Ammount=" + FloatToStr(Ammount) +
                               ", Cource=" + FloatToStr(Cource);
  return RunMethod(Res, "Add payment failed", CallLine, [&] {
    AddPaymentAmount(Number, Ammount, Cource, "Ammount", "Cource", [&](char Letter, double Amount) {
      char PaidCode = '\0';
      double Amount2 = 0;
      return FDevice->FPR_Payment("", "", Letter, Amount, PaidCode, Amount2);
    });
  });
}

HRESULT TMiravokFprn::AddPaymentByCurrncy(LONG PayNo, BSTR PayText, double PayAmount, double PayCourse,
                                          BSTR CurrAbrev, LONG* Res) {
  const std::string Currency = BstrToAnsi(CurrAbrev);
  const std::string CallLine = "Add payment and currency. Pay type nom=" + std::to_string(PayNo) +
                               ", PayText=" + QuotedStr(BstrToAnsi(PayText)) +
                               ", PayAmount=" + FloatToStr(PayAmount) + ", Cource=" + FloatToStr(PayCourse) +
                               ", CurrAbrev=" + Currency;
  return RunMethod(Res, "Add payment failed", CallLine, [&] {
    // The printer gets the foreign amount and the rate, and converts it itself.
    AddPaymentAmount(PayNo, PayAmount, PayCourse, "PayAmount", "PayCourse", [&](char Letter, double) {
      char PaidCode = '\0';
      double Amount2 = 0;
      return FDevice->FPR_PaymentByCurrency("", "", Letter, PayAmount, PayCourse, Currency, PaidCode,
                                            Amount2);
    });
  });
}

HRESULT TMiravokFprn::AddBarcode(BSTR BData, LONG BType, LONG BHeight, LONG BHri, LONG* Res) {
  const std::string Data = BstrToAnsi(BData);
  const std::string CallLine = " Add Barcode.  BData=" + QuotedStr(Data) + ", BType=" + std::to_string(BType) +
                               ", BHeight=" + std::to_string(BHeight) + ", BHri=" + std::to_string(BHri);
  return RunMethod(Res, "AddBarcode failed", CallLine, [&] {
    auto Quoted = [](LONG N) { return "\"" + std::to_string(N) + "\""; };
    const std::string Tag = LogTag::AddBarcode;
    LONG Type = BType, Height = BHeight, Hri = BHri;
    if (Type < 1 || Type > 6) {
      LogMessage(Tag + "Invalid barcode type " + Quoted(BType) + ". Using default type (QR code)", LogInfo);
      Type = 6;
    }
    if (Hri != 0 && Hri != 1) {
      LogMessage(Tag + "Invalid hri value " + Quoted(BHri) +
                     ". Valid values are 0 or 1. Using default value " + Quoted(1),
                 LogInfo);
      Hri = 1;
    }
    if (Height < 0 || Height > 200) {
      LogMessage(Tag + "Invalid height value " + Quoted(BHeight) +
                     ". Valid values are 0 or 200. Using default value " + Quoted(100),
                 LogInfo);
      Height = 100;
    }
    // A height the printer refuses leaves the one it has.
    if (!FDevice->SetFPR_BarcodeHeight(static_cast<std::uint16_t>(Height)))
      LogMessage(Tag + "Cant' set height " + Quoted(Height) + ". Printer error: " + FDevice->FErrorText, LogInfo);
    Check(FDevice->FPR_PrintBarcode(Type, Data, Hri == 1));
  });
}

}  // namespace fp
