#pragma once
// The receipt-file reader: reads one receipt file into command objects (ReadFile),
// performs it on the printer through the automation object (PrintPluList), collects the
// lines of its report file (".rep") and writes them (SaveRepFile); it also connects to
// the printer (Initialize, FastInit) and runs the service operations of the program's
// jobs. One reader belongs to one worker job and is used by that thread alone; nothing
// here needs a display or starts a thread.
//
// Text conventions: receipt lines, names, report lines and failure texts (LastError) are
// 8-bit code page 1251 std::string; paths are QString. Failures travel inside the reader
// as exceptions whose text begins with the bracketed name of what failed; the public
// operations catch them, log them and answer false (SaveRepFile raises).
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "filedriver/MiravokFprnProxy.h"
#include "filedriver/uConst.h"

namespace fp {

// ---- Command objects: one per record of a receipt file, owned by the reader in file
// order. ----

class TCommandObject {
 public:
  virtual ~TCommandObject() = default;
};

class TPluObject : public TCommandObject {
 public:
  std::string Number;  // the PLU number as read, untrimmed
  std::string Name;
  double Price = 0;
  double Quantity = 0;
  int32_t VatGroup = 2;
  int32_t Department = 1;
  std::string RawLine;
};

class TDiscountObject : public TCommandObject {
 public:
  uint8_t DiscType = 0;  // 1 percent on the last sale, 2 percent on the subtotal, 3 amount
  double Value = 0;      // negative for a discount
  std::string RawLine;
};

class TLineObject : public TCommandObject {
 public:
  std::string Text;
  std::string RawLine;
};

class TInOutAmount : public TCommandObject {
 public:
  double Amount = 0;  // positive cash in, negative cash out
  std::string RawLine;
};

class TPaymentObject : public TCommandObject {
 public:
  int32_t PayType = 0;
  double Course = 1;
  double Amount = 0;
  std::string Currency = "EUR";
  std::string RawLine;
};

class TInvoiceObject : public TCommandObject {
 public:
  std::string VatNumber;
  std::string TaxNumber;
  int64_t InvoiceNo = 0;  // 0: not given
  std::string FirmName;
  std::string Town;
  std::string Address;
  std::string Mol;
  std::string Customer;
  std::string RawLines;  // every invoice line of the file, each preceded by a CR
};

class TCopyBon : public TCommandObject {
 public:
  std::string RawLine;
};

class TStatusObject : public TCommandObject {
 public:
  std::string RawLine;
};

class TReportObject : public TCommandObject {
 public:
  uint8_t ReportType = 0;  // 0 X report, 1 Z report, 2 fiscal-memory report by dates
  std::string RawLine;
  int32_t Detailed = 0;
  DATE StartDate = 0;
  DATE EndDate = 0;
};

struct TRefundParam {
  int32_t ReceiptNo = 0;  // 0: no refund
  int32_t FiscalMemoryNo = 0;
  int32_t Reason = 1;
  std::string InvoiceNo;
  std::string InvoiceDate;
};

// What GetPLUData hands back for one article.
struct TProgPluData {
  int32_t PluNo = 0;
  int32_t TaxGrp = 0;
  uint8_t GrpNo = 1;
  double UnitPrice = 0;
  double TotalSum = 0;
  double SoldQtty = 0;
  double AvailQtty = 0;
  std::string Name;
};

// ---- String helpers of the parsers ----
namespace uECRFileReader {

// The largest receipt file ReadFile takes (1 MiB): over 20,000 lines of 50 characters,
// far more than one receipt can hold. A larger file is refused before it is read, so a
// stray huge file in the folder cannot take the program's memory.
inline constexpr size_t MaxFileSize = size_t(1) << 20;

// The first `count` characters of `text`, removed from it; fails with
// "[CopyToPosAndDel]Possition is out of range.(<text>, Possition: <count>)" when the text
// is shorter.
std::string CopyToPosAndDel(std::string& text, int count);
// The text before the first `separator` (all of it when there is none); `text` keeps what
// follows the separator (empty when there is none).
std::string CopyToCharAndDel(std::string& text, char separator);
// Every ',' becomes '.'.
std::string NormalizeDecimalSeparator(std::string text);
// Day, month and two-digit year from the first six characters of `text`, which are
// removed; the year number is the year itself (24 is the year 24). `def` when the parts do
// not form a date of the years 1 to 99.
DATE ParseShortDate(std::string& text, DATE def);

// Integer text: optional leading blanks, an optional sign and decimal digits, nothing
// after them.
bool TryStrToInt(const std::string& text, int32_t& value);
int32_t StrToIntDef(const std::string& text, int32_t def);
bool TryStrToInt64(const std::string& text, int64_t& value);
// Decimal text with '.' as decimal point, optionally surrounded by blanks.
bool TryStrToFloat(const std::string& text, double& value);
// Blanks and control characters removed from both ends / the end.
std::string Trim(const std::string& text);
std::string TrimRight(const std::string& text);

// A number as the pattern "0.00" (intDigits 1, decimals 2) or "0000000.00" formats it:
// halves away from zero, '.' as decimal point, at least intDigits digits before it, a
// leading '-' for negative values that do not round to zero.
std::string FormatFixed(double value, int intDigits, int decimals);
// An amount rounded to whole cents.
int64_t RoundCents(double value);
// Upper case of code page 1251 text (Latin and Cyrillic letters).
std::string UpperCp1251(const std::string& text);

// The error codes with which the automation library fails a call before any of it has
// gone to the printer: 201, an argument it cannot send (a number that is not finite, a pay
// letter it does not know, command data too long for one frame, a text it refuses); 502,
// a failure of the object itself (not connected, a pay type outside its table). Every
// other code may come after the command reached the printer, which may have run it.
inline constexpr int32_t RefusedBeforeSendingCodes[] = {201, 502};
bool RefusedBeforeSending(int32_t code);

// Date-time values of the automation interface and local time.
DATE DateTimeToOle(const QDateTime& local);
QDateTime OleToDateTime(DATE value);
// "ddmmyyyyhhnnss".
std::string FormatClock(DATE value);

}  // namespace uECRFileReader

class TECRFileReader {
 public:
  // factory: how the automation object is made (the program's is CreateMiravokFprn); it
  // runs at the first printer operation, in the thread that calls it.
  explicit TECRFileReader(TFprnFactory factory = CreateMiravokFprn);
  ~TECRFileReader();
  TECRFileReader(const TECRFileReader&) = delete;
  TECRFileReader& operator=(const TECRFileReader&) = delete;

  // ---- Fields ----
  QString LogDir;
  QString RepFileName;
  QString CurrentFile;
  std::vector<std::string> RepLines;
  std::vector<std::string> FileLines;
  std::string LastError;
  std::vector<std::unique_ptr<TCommandObject>> Commands;
  int32_t TextLineCount = 0;
  bool IsStatusFile = false;
  bool RepFilePrint = false;
  bool RepDetailPrint = false;
  bool IsReportFile = false;
  bool HasSales = false;
  // What PrintPluList did on the printer with the current file (cleared with the commands
  // and when PrintPluList starts): a receipt, fiscal or not, was opened; the printer
  // was sent a payment for it; it was closed; the opened receipt is non-fiscal; the printer
  // was sent a service command that cannot be taken back (an X, Z or fiscal-memory report,
  // a cash in or out, a copy of the last receipt). A payment or service command counts as
  // sent once its call has started, unless the library refused it before sending anything
  // (uECRFileReader::RefusedBeforeSending). The worker decides by them whether a file that
  // failed may have printed.
  bool ReceiptOpened = false;
  bool PaymentSent = false;
  bool ReceiptClosed = false;
  bool NonFiscalOpened = false;
  bool ServiceSent = false;
  int32_t CashierPOS = 1;
  int32_t CashierNo = 1;
  std::string CashierPass;
  std::string CashierName;
  std::string OperatorLine;
  int32_t LineLength = 0;
  TMiravokFprnProxy Fprn;
  std::string SerialNo;
  std::string FiscalNo;
  std::string Model;
  int32_t CurrencyMode = 0;
  int64_t NextInvoiceNo = 0;
  int64_t LastDocNo = 0;
  TRefundParam RefundParam;
  std::string UniqueSellNo;
  bool WatGrpBeginFromOne = false;
  uint8_t ComPort = 1;
  int32_t BaudRate = 115200;
  std::vector<TPayTypePair> PayTypePairs;
  int32_t AutoPayType = -1;

  // Seams: the local clock (dates of the fiscal-memory report lines) and the program's
  // version text (the empty receipt).
  std::function<QDateTime()> Clock = [] { return QDateTime::currentDateTime(); };
  std::function<QString()> FileVersion = [] { return uConst::GetFileVersion(); };

  // ---- Reading a receipt file ----
  void SetPayTypePairs(const std::vector<TPayTypePair>& pairs);
  bool ReadFile(const QString& path, uint8_t encoding);
  void ClearCommands();
  TInvoiceObject* FindInvoice() const;
  bool HasPayments() const;
  void AddInvoiceField(std::string text, int index);
  void Log(const std::string& text);
  void LogError(const std::string& text);

  // ---- Performing it ----
  bool PrintPluList();
  void AddRepLine(const std::string& text, bool forced = false);
  void OpenComentReceipt();
  void CloseReciept();

  // ---- Connection and service operations ----
  bool Initialize(bool search, const std::string& deviceSerialNo);
  bool FastInit(bool search, const std::string& deviceSerialNo);
  bool EmptyBON();
  bool CopyBON();
  bool RunFMDateReport(bool detailed, DATE startDate, DATE endDate);
  bool SumInOrOut(double amount);
  bool PrintBlockReport(int32_t firstBlock, int32_t lastBlock, bool detailed);
  bool PrintDepartmentReport(int32_t reset);
  bool PrintReport(uint8_t reset);
  bool PrintTest();
  bool ReadDepartmentSums(int32_t depNo, ComPtr<IDepartTotals>& totals);
  bool SetDepartment(int32_t nom, int32_t vatGroup, const std::string& description1,
                     const std::string& description2);
  int32_t GetLastErrorCode();
  void SaveRepFile();

 private:
  // Parsers, one record each.
  void FAddPlu(const std::string& line);
  void FAddExtPlu(const std::string& line);
  void FAddDiscount(const std::string& line);
  void FAddLine(const std::string& line);
  void FAddPayment(const std::string& line);
  void FAddInvoice(const std::string& line);
  void FAddReport(const std::string& line);
  void FAddOperator(const std::string& line);
  void FAddCopyBon(const std::string& line);
  void FAddStatusCmd(const std::string& line);
  void FAddInOutAmount(const std::string& line);
  void AddRefundParam(const std::string& line);
  void AddUniqueSellN(const std::string& line);
  void LoadFileLines(const QString& path);
  int32_t VatGroupOf(const std::string& digit) const;
  int32_t PluAsDepartment(const std::string& number) const;

  // Steps of PrintPluList.
  void FUpdatePluDataInPrinter();
  void OpenReceipt();
  void SendRefundParams();
  void PrintPlu(const TPluObject& plu);
  void PrintDiscount(const TDiscountObject& discount);
  void PrintLine(const TLineObject& line);
  void PrintPayment(const TPaymentObject& payment);
  void PrintCopy(const TCopyBon& copy);
  void PrintInOutAmount(const TInOutAmount& amount);
  void PrintReportObj(const TReportObject& report);
  void PrintStatusObj(const TStatusObject& status);
  // Runs a printer call whose effect cannot be taken back and fails like CheckRes. `sent`
  // is set before the call (a command the printer ran may still come back as a failure: a
  // lost or garbled answer) and cleared again only when it was clear before and the
  // library refused the call before sending anything.
  void SendIrrevocable(bool& sent, const std::function<int32_t()>& call);
  int32_t ReplacePayType(int32_t payType);
  void CheckRefundPayments() const;
  void AddREP_AddInfo();
  bool RefundMode() const { return RefundParam.ReceiptNo >= 1; }

  // The automation object's outcome: a non-zero Res, or a non-zero LastErrorCode after a
  // method that hands back a value, fails with LastErrorMessage.
  void CheckRes(int32_t res);
  void CheckErrorCode();
  struct TBonStatus {
    double TotalAmount = 0;
    double PayedAmount = 0;
    std::string DocNumber;
  };
  TBonStatus ReadRecieptStatus();
  // Connection steps shared by Initialize and FastInit.
  void InitConnection(bool search, const std::string& deviceSerialNo);
  void ReadCurrencyMode();
  std::string InitCompleteText() const;
};

}  // namespace fp
