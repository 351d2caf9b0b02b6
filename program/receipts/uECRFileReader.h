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
#include <variant>
#include <vector>

#include "program/receipts/MiravokFprnProxy.h"
#include "program/app/uConst.h"
#include "program/receipts/uReceiptFolder.h"
#include "program/app/uProgramInfo.h"

namespace fp {

// ---- Command objects: one per record of a receipt file, held by the reader in file
// order as a TCommand (below). ----

struct TPluObject {
  std::string Number;  // the PLU number as read, untrimmed
  std::string Name;
  double Price = 0;
  double Quantity = 0;
  int32_t VatGroup = 2;
  int32_t Department = 1;
  std::string RawLine;
};

struct TDiscountObject {
  uint8_t DiscType = 0;  // 1 percent on the last sale, 2 percent on the subtotal, 3 amount
  double Value = 0;      // negative for a discount
  std::string RawLine;
};

struct TLineObject {
  std::string Text;
  std::string RawLine;
};

struct TInOutAmount {
  double Amount = 0;  // positive cash in, negative cash out
  std::string RawLine;
};

struct TPaymentObject {
  int32_t PayType = 0;
  double Course = 1;
  double Amount = 0;
  std::string Currency = "EUR";
  std::string RawLine;
};

struct TInvoiceObject {
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

struct TCopyBon {
  std::string RawLine;
};

struct TStatusObject {
  std::string RawLine;
};

struct TReportObject {
  uint8_t ReportType = 0;  // 0 X report, 1 Z report, 2 fiscal-memory report by dates
  std::string RawLine;
  int32_t Detailed = 0;
  DATE StartDate = 0;
  DATE EndDate = 0;
};

// One record of a receipt file.
using TCommand = std::variant<TPluObject, TDiscountObject, TLineObject, TInOutAmount, TPaymentObject, TInvoiceObject,
                              TCopyBon, TStatusObject, TReportObject>;

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

  // ---- Settings ----
  // The log folder (empty: no log lines).
  void SetLogDir(const QString& logDir) { FLogDir = logDir; }
  // Where the reader's exception-log lines go instead of the exception log of that folder
  // (the worker's, which holds back the repeats of a lasting failure); empty: written there.
  void SetExceptionLog(std::function<void(const QString&)> log) { FExceptionLog = std::move(log); }
  // Report files for every receipt file (a status query always gets one), and whether they
  // hold the printer's numbers and totals besides the file's lines.
  void SetRepFilePrint(bool on) { FRepFilePrint = on; }
  bool RepFilePrint() const { return FRepFilePrint; }
  void SetRepDetailPrint(bool on) { FRepDetailPrint = on; }
  // VAT group digits of the file count from 1 (else from 0).
  void SetWatGrpBeginFromOne(bool on) { FWatGrpBeginFromOne = on; }
  // The port and speed of the connection (the port found by a search replaces it).
  void SetComPort(uint8_t port) { FComPort = port; }
  void SetBaudRate(int32_t baudRate) { FBaudRate = baudRate; }
  // Adds pay-type replacement pairs.
  void SetPayTypePairs(const std::vector<TPayTypePair>& pairs);
  // The cashier password of every receipt that names none (code page 1251; trimmed here).
  void SetCashierPas(const std::string& password);
  // The PLU number field of a receipt line is the department number.
  void SetUsePluAsDepartNo(bool on) { FUsePluAsDepartNo = on; }
  // Seams: the local clock (dates of the fiscal-memory report lines) and the program's
  // version text (the empty receipt).
  void SetClock(std::function<QDateTime()> clock) { FClock = std::move(clock); }
  void SetFileVersion(std::function<QString()> fileVersion) { FFileVersion = std::move(fileVersion); }
  // Asked before each opening of a receipt: true when a receipt may still be open on the
  // printer (a failed file left it), so that the receipt's status is read before the
  // opening closes or cancels it, even without detailed reports.
  void SetStatusBeforeOpening(std::function<bool()> wanted) { FStatusBeforeOpening = std::move(wanted); }

  // ---- Reading a receipt file ----
  // Reads the receipt file `path`. With `fd` (a descriptor of that file opened by the
  // caller, e.g. the receipt folder's claim) the file is read through it and not opened
  // again; the descriptor stays open. Without it the file is opened without blocking and
  // without following a link, and only a regular file is read.
  bool ReadFile(const QString& path, uint8_t encoding, int fd = -1);
  // The last invoice record (null when there is none).
  TInvoiceObject* FindInvoice();
  const TInvoiceObject* FindInvoice() const;
  bool HasPayments() const;

  // What the last ReadFile found: the command objects in file order, the file and its
  // report file's name, the kind of file, the operator, the refund and unique sale number.
  const std::vector<TCommand>& Commands() const { return FCommands; }
  const QString& CurrentFile() const { return FCurrentFile; }
  const QString& RepFileName() const { return FRepFileName; }
  bool HasSales() const { return FHasSales; }
  bool IsReportFile() const { return FIsReportFile; }
  bool IsStatusFile() const { return FIsStatusFile; }
  int32_t TextLineCount() const { return FTextLineCount; }
  int32_t AutoPayType() const { return FAutoPayType; }
  int32_t CashierNo() const { return FCashierNo; }
  int32_t CashierPOS() const { return FCashierPOS; }
  const std::string& CashierName() const { return FCashierName; }
  const std::string& CashierPass() const { return FCashierPass; }
  const std::string& OperatorLine() const { return FOperatorLine; }
  const TRefundParam& RefundParam() const { return FRefundParam; }
  const std::string& UniqueSellNo() const { return FUniqueSellNo; }

  // ---- Performing it ----
  bool PrintPluList();
  // How far the current file got on the printer (cleared when a file is read and when
  // PrintPluList starts); the worker decides by it what a failed file becomes.
  const TFileProgress& Progress() const { return FProgress; }
  // The lines of the report file so far.
  const std::vector<std::string>& RepLines() const { return FRepLines; }
  // What the receipt status read just before the current file's opening found of a
  // receipt still open on the printer, which that opening then closes or cancels (cleared
  // when PrintPluList starts).
  struct TStatusBeforeOpening {
    bool Read = false;  // the status was read before the opening
    bool Open = false;  // a fiscal receipt was open
    double Total = 0;   // its total and what of it was paid
    double Paid = 0;
  };
  const TStatusBeforeOpening& StatusBeforeOpening() const { return FBeforeOpening; }

  // ---- Connection and service operations ----
  bool Initialize(bool search, const std::string& deviceSerialNo);
  bool FastInit(bool search, const std::string& deviceSerialNo);
  // Lets go of the automation object without closing its connection: the link goes without
  // a command, so nothing more reaches the printer it found (closing would close or cancel a
  // receipt left open there).
  void DropConnection() { FFprn.Release(); }
  bool EmptyBON();
  bool CopyBON();
  bool RunFMDateReport(bool detailed, DATE startDate, DATE endDate);
  bool SumInOrOut(double amount);
  bool PrintBlockReport(int32_t firstBlock, int32_t lastBlock, bool detailed);
  bool PrintDepartmentReport(int32_t reset);
  bool PrintReport(uint8_t reset);
  bool PrintTest();
  bool ReadDepartmentSums(int32_t depNo, ComPtr<IDepartTotals>& totals);
  bool SetDepartment(int32_t nom, int32_t vatGroup, const std::string& description1, const std::string& description2);
  int32_t GetLastErrorCode();
  void SaveRepFile();
  // The current file gets a report file: it has a report name, and report files are on or
  // it is a status query.
  bool RepFileWanted() const { return !FRepFileName.isEmpty() && (FRepFilePrint || FIsStatusFile); }
  // The report file's contents: each line with CR LF.
  std::string RepFileText() const;

  // The text of the last failure of a public operation.
  const std::string& LastError() const { return FLastError; }
  // The automation object's own text of its last failure (empty when it has none).
  std::string GetLastErrorMessage();
  // What the connection read of the printer (the port is the one found by a search).
  uint8_t ComPort() const { return FComPort; }
  const std::string& Model() const { return FModel; }
  const std::string& SerialNo() const { return FSerialNo; }
  const std::string& FiscalNo() const { return FFiscalNo; }
  int32_t LineLength() const { return FLineLength; }
  int64_t LastDocNo() const { return FLastDocNo; }
  int64_t NextInvoiceNo() const { return FNextInvoiceNo; }
  // -1 when the printer does not know the currency mode.
  int32_t CurrencyMode() const { return FCurrencyMode; }

 private:
  void ClearCommands();
  void AddInvoiceField(std::string text, int index);
  void Log(const std::string& text);
  void LogError(const std::string& text);
  void AddRepLine(const std::string& text, bool forced = false);
  void OpenComentReceipt();
  void CloseReciept();

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
  void LoadFileLines(const QString& path, int fd);
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
  // (a flag of the file's progress) is set before the call and cleared again only when it
  // was clear before and the library refused the call before sending anything
  // (TFileProgress::RefusedBeforeSending).
  void SendIrrevocable(bool& sent, const std::function<int32_t()>& call);
  int32_t ReplacePayType(int32_t payType);
  void CheckRefundPayments() const;
  void AddREP_AddInfo();
  bool RefundMode() const { return FRefundParam.ReceiptNo >= 1; }

  // The automation object's outcome: a non-zero Res, or a non-zero LastErrorCode after a
  // method that hands back a value, fails with LastErrorMessage.
  void CheckRes(int32_t res);
  void CheckErrorCode();
  struct TBonStatus {
    double TotalAmount = 0;
    double PayedAmount = 0;
    std::string DocNumber;
    bool IsOpen = false;
  };
  TBonStatus ReadRecieptStatus();
  // The status read before an opening, when it is wanted (reports or a receipt that may be
  // left open); it is kept in FBeforeOpening.
  bool WantStatusBeforeOpening(bool reports) const;
  void ReadStatusBeforeOpening();
  // Connection steps shared by Initialize and FastInit.
  void InitConnection(bool search, const std::string& deviceSerialNo);
  void ReadCurrencyMode();
  std::string InitCompleteText() const;
  // Runs one service operation: false after logging tag + the failure text.
  template <class F>
  bool RunService(const char* tag, F&& body);

  // Settings.
  QString FLogDir;
  std::function<void(const QString&)> FExceptionLog;
  bool FRepFilePrint = false;
  bool FRepDetailPrint = false;
  bool FWatGrpBeginFromOne = false;
  bool FUsePluAsDepartNo = false;
  std::string FDefaultCashierPass;  // what every file's cashier password starts as
  uint8_t FComPort = 1;
  int32_t FBaudRate = 115200;
  std::vector<TPayTypePair> FPayTypePairs;
  std::function<QDateTime()> FClock = [] { return QDateTime::currentDateTime(); };
  std::function<QString()> FFileVersion = [] { return uProgramInfo::GetFileVersion(); };

  // The current file.
  QString FCurrentFile;
  QString FRepFileName;
  std::vector<std::string> FFileLines;
  std::vector<std::string> FRepLines;
  std::vector<TCommand> FCommands;
  int32_t FTextLineCount = 0;
  bool FIsStatusFile = false;
  bool FIsReportFile = false;
  bool FHasSales = false;
  TFileProgress FProgress;
  TStatusBeforeOpening FBeforeOpening;
  std::function<bool()> FStatusBeforeOpening;
  int32_t FCashierPOS = 1;
  int32_t FCashierNo = 1;
  std::string FCashierPass;
  std::string FCashierName;
  std::string FOperatorLine;
  TRefundParam FRefundParam;
  std::string FUniqueSellNo;
  bool FUniqueSellNoGiven = false;  // this receipt handed FUniqueSellNo to the library
  int32_t FAutoPayType = -1;
  std::string FLastError;

  // The printer.
  TMiravokFprnProxy FFprn;
  int32_t FLineLength = 0;
  std::string FSerialNo;
  std::string FFiscalNo;
  std::string FModel;
  int32_t FCurrencyMode = 0;
  int64_t FNextInvoiceNo = 0;
  int64_t FLastDocNo = 0;
};

}  // namespace fp
