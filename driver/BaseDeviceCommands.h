#pragma once
// What the printer command files share (BaseDeviceInfoCommands.cpp,
// BaseDeviceReceiptCommands.cpp, BaseDeviceServiceCommands.cpp,
// BaseDeviceTransactionStatus.cpp): the command bytes, the appenders of request data and
// the status tests that several commands make. Internal to the device; no other module
// includes it.
#include "driver/BaseDeviceUnit.h"
#include "driver/WireNumbers.h"

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
  int64_t V = 0;
  if (!ParseWireInteger(Text, V) || V < std::numeric_limits<int32_t>::min() ||
      V > std::numeric_limits<int32_t>::max())
    return false;
  Value = static_cast<int32_t>(V);
  return true;
}

// The status tests that commands of more than one file make.
inline constexpr TStatusTest NoPaper = BitSet(2, 0, 210);
inline constexpr TStatusTest NonFiscalOpen = BitSet(2, 5, 215);
inline constexpr TStatusTest FiscalOpen = BitSet(2, 3, 217);

}  // namespace fp::device_commands
