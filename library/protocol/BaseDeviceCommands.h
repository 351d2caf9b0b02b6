#pragma once
// What the printer command files share (BaseDeviceInfoCommands.cpp,
// BaseDeviceReceiptCommands.cpp, BaseDeviceServiceCommands.cpp,
// BaseDeviceTransactionStatus.cpp): the command bytes, the appenders of request data and
// the status tests that several commands make. Internal to the device, except the table
// of text fields (TTextField), which the automation object also reads to refuse its
// callers' texts before it sends anything.
#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/WireNumbers.h"

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace fp::device_commands {

// The command bytes. Some serve more than one operation, each with its own data.
inline constexpr uint8_t cmdOpenNonFiscBon = 0x26;
inline constexpr uint8_t cmdCloseNonFiscBon = 0x27;
inline constexpr uint8_t cmdPrintNonFiscText = 0x2A;
inline constexpr uint8_t cmdHeaderLine = 0x2B;  // read ("I"), set, barcode height ("B")
inline constexpr uint8_t cmdOpenFiscBon = 0x30;
inline constexpr uint8_t cmdSale = 0x31;  // by VAT letter and by department
inline constexpr uint8_t cmdSubTotal = 0x33;
inline constexpr uint8_t cmdPayment = 0x35;  // local and other currency
inline constexpr uint8_t cmdPrintFiscText = 0x36;
inline constexpr uint8_t cmdCloseFiscBon = 0x38;
inline constexpr uint8_t cmdInvoiceClient = 0x39;
inline constexpr uint8_t cmdSaleProgPlu = 0x3A;
inline constexpr uint8_t cmdCancelFiscBon = 0x3C;
inline constexpr uint8_t cmdSetDateTime = 0x3D;
inline constexpr uint8_t cmdGetDateTime = 0x3E;
inline constexpr uint8_t cmdDailyTaxation = 0x41;
inline constexpr uint8_t cmdInvoiceRange = 0x42;  // read and set
inline constexpr uint8_t cmdDailyReport = 0x45;
inline constexpr uint8_t cmdCashInOut = 0x46;
inline constexpr uint8_t cmdPrintDiagnostics = 0x47;
inline constexpr uint8_t cmdFMReportByNumberDetailed = 0x49;
inline constexpr uint8_t cmdStatus = 0x4A;
inline constexpr uint8_t cmdTransactionStatus = 0x4C;
inline constexpr uint8_t cmdFMReportByDateShort = 0x4F;
inline constexpr uint8_t cmdPrintBarcode = 0x54;
inline constexpr uint8_t cmdPayTypeName = 0x55;
inline constexpr uint8_t cmdDepartment = 0x57;  // read and set
inline constexpr uint8_t cmdDepartmentSum = 0x58;
inline constexpr uint8_t cmdDiagnosticInfo = 0x5A;
inline constexpr uint8_t cmdFMReportByDateDetailed = 0x5E;
inline constexpr uint8_t cmdFMReportByNumberShort = 0x5F;
inline constexpr uint8_t cmdSetOperator = 0x66;
inline constexpr uint8_t cmdReceiptInfo = 0x67;
inline constexpr uint8_t cmdOpenDrawer = 0x6A;
inline constexpr uint8_t cmdPluData = 0x6B;  // read ("R") and program ("P")
inline constexpr uint8_t cmdPrintDuplicate = 0x6D;
inline constexpr uint8_t cmdDailyPayments = 0x6E;
inline constexpr uint8_t cmdLastDocNumber = 0x71;
inline constexpr uint8_t cmdDepartmentReport = 0x75;
inline constexpr uint8_t cmdPluReport = 0x76;
inline constexpr uint8_t cmdConstants = 0x80;
inline constexpr uint8_t cmdCurrencyMode = 0x83;
inline constexpr uint8_t cmdOpenFiscBonEx = 0x90;
inline constexpr uint8_t cmdDiscountLastItem = 0x91;

// Appending to the request data: texts and single characters under the escape rule,
// integers in plain decimal digits.
inline void Add(std::string_view Text, TDataBuffer& Data) { TBaseDevice::AddEscapedText(Text, Data); }
inline void Add(char Ch, TDataBuffer& Data) { TBaseDevice::AddEscapedChar(Ch, Data); }
inline void AddInt(int64_t Value, TDataBuffer& Data) { Add(std::to_string(Value), Data); }

// A strict decimal integer (as ParseWireInteger) within the signed 32-bit range; Value is
// untouched when Text is none.
inline bool ParseInt32(std::string_view Text, int32_t& Value) {
  int64_t v = 0;
  if (!ParseWireInteger(Text, v) || v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    return false;
  Value = static_cast<int32_t>(v);
  return true;
}

// The status tests that commands of more than one file make.
inline constexpr TStatusTest NoPaper = BitSet(StatusBit::NoPaper, DeviceError::NoPaper);
inline constexpr TStatusTest NonFiscalOpen = BitSet(StatusBit::NonFiscalOpen, DeviceError::NonFiscalOpen);
inline constexpr TStatusTest FiscalOpen = BitSet(StatusBit::FiscalOpen, DeviceError::FiscalOpen);

}  // namespace fp::device_commands

namespace fp {

// ---------------------------------------------------------------------------------------
// Callers' texts inside a request. A text that another field of the same command follows
// must not hold a byte that the command reads as the end of that field: it would shift
// every field after it (a cashier name "Ivanov, I." would make the unique sale number of
// the opening read "I."). Such a text is refused with 201 before anything is sent. A text
// in a command's last field goes as given (free text lines, article names, barcode data,
// header lines, the second text of a department, the operator name of 0x66, the address
// of the buyer block, the currency code).

enum class TTextField : std::uint8_t {
  OperatorPassword,
  ExOperName,
  ExUniqueSellNo,
  SaleText,
  SaleSecondText,
  BuyerEik,
  BuyerSecondField,
  BuyerReceiver,
  BuyerCompany,
  BuyerVatNumber,
  BuyerTown,
  DepartmentName,
};

struct TTextFieldRule {
  TTextField Field;
  const char* Commands;         // where the field is sent
  std::string_view Separators;  // the bytes that end it there
  const char* Label;            // the label of the device's own refusal (201)
};

// The one table of these fields. The buyer block (0x39) separates its fields by TAB and
// the address from the town by LF; its VAT number counts as followed only when a town or
// an address comes after it, and its town only when an address does (see
// ShiftingBuyerText). LF also separates the two text lines of a sale or payment and the
// two texts of a department; the department's read answer separates them by TAB. The
// second text line of a sale or payment ends at the TAB before the item: an LF in it
// shifts nothing.
inline constexpr TTextFieldRule TextFieldRules[] = {
    {TTextField::OperatorPassword, "0x30 opening, 0x66 operator: password, then the till or the name", ",",
     "[OperPwd]"},
    {TTextField::ExOperName, "0x90 extended opening: operator name, then the sale number", ",", "[OperName]"},
    {TTextField::ExUniqueSellNo, "0x90 extended opening: sale number, then the invoice or refund part", ",",
     "[UniqueSellNo]"},
    {TTextField::SaleText, "0x31 sale, 0x35 payment: the first text line, then the second or the item", "\t\n",
     "[Text]"},
    {TTextField::SaleSecondText, "0x31 sale, 0x35 payment: the second text line, then the item or payment", "\t",
     "[Text]"},
    {TTextField::BuyerEik, "0x39 buyer block: EIK", "\t", "[EIK]"},
    {TTextField::BuyerSecondField, "0x39 buyer block: second field", "\t", "[Field2]"},
    {TTextField::BuyerReceiver, "0x39 buyer block: receiver", "\t", "[Receiver]"},
    {TTextField::BuyerCompany, "0x39 buyer block: company", "\t", "[Company]"},
    {TTextField::BuyerVatNumber, "0x39 buyer block: VAT number", "\t", "[VATNumber]"},
    {TTextField::BuyerTown, "0x39 buyer block: town, then LF and the address", "\t\n", "[Town]"},
    {TTextField::DepartmentName, "0x57 department: name, then LF and the second text", "\t\n", "[DepName]"},
};

// The rule of Field.
const TTextFieldRule& TextFieldRule(TTextField Field);
// True when Text holds none of the separators of Field.
bool FitsTextField(TTextField Field, std::string_view Text);
// ECmdException(201, the field's label) when Text does not fit Field.
void CheckTextField(TTextField Field, std::string_view Text);

// The buyer block's texts, by index of TClientData, and the field each one fills.
struct TBuyerText {
  size_t Index;
  TTextField Field;
};
// The first text of Client that another field of the buyer block follows and that holds
// one of its separators; nullptr when there is none.
const TBuyerText* ShiftingBuyerText(const TClientData& Client);

}  // namespace fp
