// Everything the printer model remembers: its settable identity and error bits, its
// tables (header lines, departments, articles, invoice ranges, operators), the receipt
// being printed, the receipts printed so far, the day's sums and the clock.
// Amounts are kept in hundredths (cents) as 64-bit integers; quantities as doubles.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/printermodel/ModelFrame.h"

namespace fp::model {

// Byte and bit of each status flag the printer reports (byte index, bit mask).
namespace bit {
inline constexpr std::pair<int, uint8_t> SyntaxError{0, 0x01};     // S0.0
inline constexpr std::pair<int, uint8_t> InvalidCommand{0, 0x02};  // S0.1
inline constexpr std::pair<int, uint8_t> ClockNotSet{0, 0x04};     // S0.2
inline constexpr std::pair<int, uint8_t> PrinterFault{0, 0x10};    // S0.4 fault or cover open
inline constexpr std::pair<int, uint8_t> Overflow{1, 0x01};        // S1.0
inline constexpr std::pair<int, uint8_t> NotAllowed{1, 0x02};      // S1.1 not allowed in this mode
inline constexpr std::pair<int, uint8_t> RamCleared{1, 0x04};      // S1.2
inline constexpr std::pair<int, uint8_t> LowBattery{1, 0x08};      // S1.3
inline constexpr std::pair<int, uint8_t> RamDestroyed{1, 0x10};    // S1.4
inline constexpr std::pair<int, uint8_t> TaxTerminal{1, 0x40};     // S1.6 tax terminal silent
inline constexpr std::pair<int, uint8_t> NoPaper{2, 0x01};         // S2.0
inline constexpr std::pair<int, uint8_t> JournalEnd{2, 0x04};      // S2.2
inline constexpr std::pair<int, uint8_t> FiscalOpen{2, 0x08};      // S2.3
inline constexpr std::pair<int, uint8_t> NonFiscalOpen{2, 0x20};   // S2.5
inline constexpr std::pair<int, uint8_t> FmError{4, 0x01};         // S4.0
inline constexpr std::pair<int, uint8_t> FmFull{4, 0x10};          // S4.4
inline constexpr std::pair<int, uint8_t> FmLocked{5, 0x01};        // S5.0
inline constexpr std::pair<int, uint8_t> FmWriteFailed{5, 0x04};   // S5.2
}  // namespace bit

// Status bits with the given flags set.
StatusBits Bits(std::initializer_list<std::pair<int, uint8_t>> flags);
bool Has(const StatusBits& bits, std::pair<int, uint8_t> flag);

// The printer's clock: a civil date-time that runs on from the moment it was set.
class ModelClock {
 public:
  ModelClock();                          // starts at the machine's local time
  std::chrono::sys_seconds Now() const;  // civil time, in a sys_seconds value
  void Set(std::chrono::sys_seconds civil);
  void Set(int year, int month, int day, int hour, int minute, int second);
  void Freeze(bool frozen);  // a frozen clock keeps the time it was set to

 private:
  std::chrono::sys_seconds FBase;
  std::chrono::steady_clock::time_point FSetAt;
  bool FFrozen = false;
};

// The fields of the diagnostic answer: Model,ModeWord Version Build,Checksum,Switches,Serial,FmNumber.
struct DiagnosticFields {
  std::string model = "MODEL-T1";
  std::string modeWord = "1.00BG";  // put "ONLINE" in it for a printer in the ONLINE mode
  std::string version = "01JAN26";
  std::string build = "1200";
  std::string checksum = "4F2A";
  std::string switches = "00000000";
  std::string serial = "AB123456";
  std::string fmNumber = "50123456";
};

struct Department {
  uint8_t vat = 0xC0;  // VAT letter 0xC0..0xC7
  std::string name;
  std::string addText;
  int64_t lastCount = 0;     // sales since the last clearing
  int64_t lastSumCents = 0;  // turnover since the last clearing
  int64_t count = 0;         // all sales
  int64_t totalCents = 0;    // all turnover
};

struct Plu {
  uint8_t vat = 0xC0;
  int group = 1;
  int64_t priceCents = 0;
  double available = 0;
  double sold = 0;
  int64_t totalCents = 0;
  std::string name;
};

struct InvoiceRange {
  int64_t start = 0;
  int64_t end = 0;
  int64_t current = 0;  // the next number to be used
};

struct Operator {
  std::string password;
  std::string name;
};

enum class ReceiptKind { Fiscal, Invoice, Refund, NonFiscal };

struct Item {
  std::string text1, text2;
  int vatGroup = 1;    // 1..8
  int department = 0;  // 0: sold by VAT letter
  int plu = 0;         // 0: not an article sale
  int64_t priceCents = 0;
  double quantity = 1;
  int64_t amountCents = 0;  // after its own correction and a later correction of the last item
};

struct Payment {
  char letter = 'P';
  int64_t amountCents = 0;   // in the receipt's currency
  int64_t foreignCents = 0;  // the amount as sent, when paid in another currency
  double rate = 0;           // 0: the receipt's currency
  std::string currency;
};

struct Receipt {
  ReceiptKind kind = ReceiptKind::Fiscal;
  int64_t allNo = 0;   // counter of all documents when it was opened
  int64_t fiscNo = 0;  // counter of fiscal receipts (0 for non-fiscal)
  int64_t invoiceNo = 0;
  std::string opening;  // the opening command's data, unchanged
  std::string operatorText;
  std::string uniqueSellNo;
  std::string refundFmNo, refundReceiptNo, refundDateTime, refundInvoiceNo;
  char refundReason = 0;
  std::vector<Item> items;
  std::array<int64_t, 8> subtotalCorrections{};  // by VAT group
  std::vector<Payment> payments;
  std::vector<std::string> texts;     // free text lines
  std::vector<std::string> barcodes;  // the barcode commands' data
  std::string client;                 // the buyer block's data, empty when none was sent
  bool cancelled = false;
  bool duplicatePrinted = false;

  std::array<int64_t, 8> GroupSums() const;  // by VAT group, corrections included
  int64_t TotalCents() const;
  int64_t TenderCents() const;
  bool Fiscal() const { return kind != ReceiptKind::NonFiscal; }
};

struct DailySums {
  std::array<int64_t, 8> turnover{};   // by VAT group
  std::array<int64_t, 8> vat{};        // by VAT group
  std::array<int64_t, 11> payments{};  // by payment type 1..11 (letters of kPayTypeLetters)
  int64_t cashInCents = 0;
  int64_t cashOutCents = 0;
};

// The payment letters in the order of payment types 1 to 11 of the daily sums.
inline constexpr std::string_view kPayTypeLetters = "PNCDIJKLMQR";

struct ModelState {
  StatusBits errorBits{};    // settable error bits; S2.3 and S2.5 follow the open receipt
  bool statusInData = true;  // the status command also answers the six bytes as its data
  DiagnosticFields diag;
  std::array<std::string, 8> header{"MODEL SHOP", "1 TEST STREET", "", "", "", "", "", ""};
  std::map<int, Department> departments;
  std::map<int, Plu> plus;
  InvoiceRange invoices{1, 9999999, 1};
  InvoiceRange creditNotes{1, 9999999, 1};
  std::map<int, Operator> operators;
  std::map<char, std::string> payNames{{'P', "CASH"}, {'N', "CARD"}, {'C', "CHEQUE"}, {'D', "COUPON"}};
  std::vector<std::string> constants{"40", "56", "216", "72", "36", "40", "32", "42", "34", "8",
                                     "2",  "11", "1",   "0",  "0",  "0",  "0",  "0",  "0",  "0"};
  int currencyMode = 0;
  double currencyRate = 1.95583;                             // used by a payment that names the other currency with "L"
  std::array<double, 8> vatRates{0, 20, 20, 9, 0, 0, 0, 0};  // percent, by VAT group
  int barcodeDots = 80;

  std::optional<Receipt> open;      // the receipt being printed
  std::vector<Receipt> closed;      // every receipt ended so far (closed or cancelled), in order
  bool duplicateAvailable = false;  // the last fiscal receipt may still be copied once

  int64_t allReceipts = 0;   // counter of all documents
  int64_t fiscReceipts = 0;  // counter of fiscal receipts
  int64_t zReports = 0;
  int64_t departmentClosures = 0;
  int64_t pluClosures = 0;
  int drawerPulses = 0;
  int64_t cashCents = 0;  // cash in the drawer
  DailySums daily;
  std::vector<std::pair<uint8_t, std::string>> reports;  // report commands run, with their data
  ModelClock clock;
};

}  // namespace fp::model
