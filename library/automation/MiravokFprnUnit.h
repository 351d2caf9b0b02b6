#pragma once
// TMiravokFprn: the automation object behind the coclass MiravokFprn. It owns the
// transport to the printer and the state of the receipt in progress, and serves the dual
// interface IMiravokFprn (73 entries) and IObjectSafety.
//
// Every entry of IMiravokFprn runs through one helper, RunMethod, which carries the call
// pattern of the object:
//
//   1. Res := -1 (when the entry has a Res);
//   2. ClearLastError;
//   3. the call line at level information (skipped when empty);
//   4. CheckConnected (unless the flag NoConnectionCheck is given);
//   5. the work;
//   6. Res := 0;
//   7. any exception of steps 2 to 6 goes to SetLastErrorFrom with the failure context;
//      the entry still answers S_OK.
//
// One caller at a time: RunMethod and Guard, and every read-out of the object's state,
// hold the object's call lock for the whole call (EnterCall), printer exchanges and the
// filling of result objects included. A call from another thread waits until the running
// one has ended instead of putting its frames between the other's on the one sequence
// counter of the link. The lock is recursive: an entry that the object calls from inside
// another of its entries (get_FPDateTimeAsString runs GetClock) passes straight through.
//
// A method written with it:
//
//   HRESULT TMiravokFprn::RunXReport(LONG* Res) {
//     return RunMethod(Res, "Run XReport failed", "Run X report", [&] {
//       CheckPrinterStatus();
//       EnsureNoOpenReceipt();
//       Check(FDevice->FPR_DailyReport(false));  // false: ECRException with the device's
//     });                                        // code and text (502 when its code is 0;
//                                                // recorded as 200 once a change was sent)
//   }
//
// A value method passes nullptr as Res and stores its value itself:
//
//   HRESULT TMiravokFprn::GetLastDocNumber(LONG* Res) {
//     if (Res) *Res = 0;
//     return RunMethod(nullptr, "GetLastBonNumber failed", "Get last doc nom", [&] {
//       int32_t N = 0;
//       Check(FDevice->GetFPR_LastDocNumber(N));
//       if (Res) *Res = N;
//     });
//   }
//
// Texts at the interface are wide; BstrToAnsi and AnsiToBstr convert them from and to the
// 8-bit code page 1251 text that the object works with. QuotedStr and FloatToStr write the
// arguments of call lines.
//
// The definitions are spread over files by subject: MiravokFprnUnit.cpp (state, call
// pattern, properties), MiravokFprnConnect.cpp, MiravokFprnReceipt.cpp,
// MiravokFprnSales.cpp, MiravokFprnReports.cpp, MiravokFprnReadBack.cpp.
#include <array>
#include <cstdint>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/DeviceClock.h"
#include "library/automation/MiravokFPAxX4_BG_TLB.h"
#include "platform/com/ComObject.h"
#include "platform/com/Dispatch.h"
#include "platform/com/OleAuto.h"

namespace fp {

// The failure of the object's own checks and of every failed printer command: a silent
// abort with an error code. Any other exception that reaches a method counts as code 502.
class ECRException : public EAbort {
 public:
  ECRException(int32_t ACode, std::string AMessage) : EAbort(std::move(AMessage)), Code(ACode) {}
  int32_t Code;
};

// The error codes that the object sets itself.
inline constexpr int32_t ErrPortNotActive = DeviceError::PortNotActive;  // "COM port is not active"
inline constexpr int32_t ErrInvalidAnswer = DeviceError::InvalidAnswer;  // a failure after a change was sent
inline constexpr int32_t ErrInvalidInput = DeviceError::InvalidInput;    // argument texts the object refuses
inline constexpr int32_t ErrNotInitialized = 502;                        // also every non-ECRException failure
inline constexpr int32_t ErrNoComPorts = 503;
inline constexpr int32_t ErrNoDevices = 504;

// The tags that say which step of an entry failed, in front of its error text or log line;
// kept for log readers, who search for them.
namespace LogTag {
inline constexpr const char* CancelRec = "[CancelRec]";
inline constexpr const char* OpenFiscBonEx = "[FPR_OpenFiscBonEx]";
inline constexpr const char* GetDepartmentSum = "[GetDepartmentSum]";
inline constexpr const char* AddBarcode = "[AddBarcode] ";
}  // namespace LogTag

inline constexpr const char* TextPortNotActive = "COM port is not active";
inline constexpr const char* TextNotInitialized = "Device is not initiqlized. Call \"init\" first!";

// Arguments the object refuses before it sends anything: ECRException 201 with the text of
// 201 and the argument's name in brackets, as "Invalid input data. [Price]".
[[noreturn]] void RaiseInvalidArgument(const std::string& Name);
// Value, when it is a finite number; NaN and infinities are refused naming the argument.
double FiniteArgument(double Value, const char* Name);
// An argument that the printer takes as an unsigned number: refused when below 0 or above
// Max (so -1 never goes out as 4294967295).
void CheckUnsignedArgument(int64_t Value, int64_t Max, const char* Name);
// A VAT group that goes to the printer as its letter (group + 191 in one byte): refused
// outside 1..8, so that 257 never goes out as the letter of group 1.
void CheckVatGroupArgument(int64_t Group, const char* Name);
// A caller's text that goes into Field of a request (the table in
// library/protocol/BaseDeviceCommands.h): refused when it holds a separator of that field.
enum class TTextField : std::uint8_t;
void CheckTextArgument(TTextField Field, const std::string& Text, const char* Name);

// The constant texts of GetDriverVersion and GetDriverVendor.
inline constexpr const char* DriverVersionText = "Fiscal Printer X4 vers: 1.18; ";
inline constexpr const char* DriverVendorText = "MIRAVOK, www.fiscal-printer.example";

// The source named in the error information of a failure that escapes an entry.
inline constexpr const char16_t* MiravokFprnSource = u"MiravokFPAxX4_BG.MiravokFprn";

// The serial port number on which the last successful InitEx of any object of the process
// found its printer; -1 before. Objects on several threads read and write it.
extern std::atomic<int32_t> LastFoundPort;

// Wide text of the interface to 8-bit code page 1251 text (a null BSTR is empty).
std::string BstrToAnsi(BSTR Text);
// A new BSTR holding the code page 1251 text as wide text.
BSTR AnsiToBstr(std::string_view Text);
// Stores a new BSTR with the text into *Target (no-op when Target is null). The old value
// is neither read nor freed (out-argument rule).
void SetBstrResult(BSTR* Target, std::string_view Text);
// Between single quotes, every single quote inside doubled.
std::string QuotedStr(std::string_view Text);
// A Double in its shortest decimal form with "." ("1.5", "-3", "0.3"), the same on every
// machine; "NAN", "INF" and "-INF" for values that are not finite.
std::string FloatToStr(double Value);

// Clears the record of an extended receipt opening: every field empty or 0, the refund
// reason "0"; Reserved is left as it was.
void ClearFiskParam(TFiskParam& P);

class TMiravokFprn : public TComObject<TMiravokFprn, TDispatchImpl<IMiravokFprn>, IObjectSafety> {
 public:
  TMiravokFprn(TComModule& Module, IUnknown* Outer);
  // Destroy: logs "Free objects." and frees the transport; nothing is sent to the printer.
  ~TMiravokFprn() override;

  // The setup that the class factory runs right after creating the object.
  void Initialize() override;

  // ---------------------------------------------------------------------------------------
  // IMiravokFprn, in the order of its function table.

  // connecting (MiravokFprnConnect.cpp)
  HRESULT Init(LONG ComPort, LONG PortSpeed, LONG Locale, LONG Language, BSTR SerialKey, LONG* Res) override;
  HRESULT Close() override;
  // receipt lifecycle (MiravokFprnReceipt.cpp)
  HRESULT StartBon(LONG BonType, LONG PLUNumbering, LONG CashierNo, BSTR CashierName, BSTR CashierPass, LONG CashierPOS,
                   BSTR InvNumber, BSTR InvTaxNumber, BSTR InvVATNumber, BSTR InvCompany, BSTR InvCity, BSTR InvAddress,
                   BSTR InvMOL, BSTR InvReceiver, LONG* Res) override;
  HRESULT EndBon(LONG* Res) override;
  // sales (MiravokFprnSales.cpp)
  HRESULT AddPLU(BSTR Numb, BSTR Name, double Price, double Quantity, LONG VATGroup, LONG* Res) override;
  HRESULT AddLine(BSTR Line, BSTR Command, LONG WordWrap, LONG* Res) override;
  HRESULT AddDiscount(LONG DiscType, double Value, LONG* Res) override;
  HRESULT AddBarcode(BSTR BData, LONG BType, LONG BHeight, LONG BHri, LONG* Res) override;
  HRESULT AddPayment(LONG Number, BSTR Name, double Ammount, double Cource, LONG* Res) override;
  // reports and service (MiravokFprnReports.cpp)
  HRESULT CopyLastBon(LONG* Res) override;
  HRESULT GetClock(DATE* Res) override;
  HRESULT SetClock(DATE Val, LONG* Res) override;
  HRESULT DisplayPrint(BSTR Line1, BSTR Line2, LONG* Res) override;
  HRESULT InOutMoney(double Ammount, LONG PayType, LONG* Res) override;
  HRESULT GetLastDocNumber(LONG* Res) override;
  HRESULT GetNextInvoiceNumber(BSTR* Res) override;
  HRESULT GetSerialNumber(BSTR* Res) override;
  HRESULT GetFiscalNumber(BSTR* Res) override;
  // properties and read-outs (MiravokFprnUnit.cpp)
  HRESULT GetDriverVersion(BSTR* Res) override;
  HRESULT GetDriverVendor(BSTR* Res) override;
  HRESULT GetPrinterModel(BSTR* Res) override;
  // reports and service
  HRESULT GetHardwareStatus(BSTR* Status, LONG* Res) override;
  HRESULT RunFMBlockReport(LONG StartBlock, LONG EndBlock, LONG Detailed, LONG* Res) override;
  HRESULT RunFMDateReport(DATE StartDate, DATE EndDate, LONG Detailed, LONG* Res) override;
  HRESULT RunXReport(LONG* Res) override;
  HRESULT RunZReport(LONG* Res) override;
  HRESULT RunPLUReport(LONG ZeroFlag, LONG PrintFlag, LONG* Res) override;
  HRESULT RunPrinterTest(LONG* Res) override;
  // properties
  HRESULT get_LogFilePath(BSTR* Value) override;
  HRESULT put_LogFilePath(BSTR value) override;
  HRESULT get_PrintInvDublicate(LONG* Value) override;
  HRESULT put_PrintInvDublicate(LONG value) override;
  // read-back (MiravokFprnReadBack.cpp)
  HRESULT GetRecieptStatus(IBonData** RecieptStatus) override;
  // properties
  HRESULT get_LastErrorCode(LONG* Value) override;
  HRESULT get_LastErrorMessage(BSTR* Value) override;
  // read-back
  HRESULT GetXReportData(IXReportData** XReportData) override;
  HRESULT GetAdvLinets(IAdvLines** AdvData) override;
  HRESULT SetAdvLine(LONG LineNo, BSTR LineText, LONG* Res) override;
  // properties
  HRESULT get_LineLength(LONG* Value) override;
  // sales
  HRESULT AddDeprtPlu(BSTR Numb, BSTR Name, LONG DeprtmentNo, double Price, double Quantity, LONG VATGrp,
                      LONG* Res) override;
  // read-back
  HRESULT SetDeparment(LONG Nom, LONG VATGrp, BSTR Description1, BSTR Description2, LONG* Res) override;
  HRESULT GetDeprtmentTotals(LONG Nom, IDepartTotals** DepartmentTotals) override;
  HRESULT GetDepartmentName(LONG DepNo, IDepartTotals** DepData) override;
  // connecting
  HRESULT InitEx(LONG PortSpeed, LONG Locale, LONG Language, BSTR SerialKey, BSTR DeviceSerialNo, LONG* Res) override;
  // properties
  HRESULT get_ComPort(LONG* Value) override;
  // read-back
  HRESULT GetPayType(LONG Nom, BSTR* Name, LONG* Res) override;
  // reports and service
  HRESULT ReportByDepartments(LONG Reset, LONG* Res) override;
  // read-back
  HRESULT GetPLUData(LONG PluNo, LONG* TaxGrp, std::int8_t* GrpNo, double* UnitPrice, double* TotalSum,
                     double* SoldQtty, double* AvailQtty, BSTR* Name, LONG* Res) override;
  HRESULT SetPluData(LONG PluNo, LONG TaxGrp, LONG GroupNo, double UnitPrice, BSTR Name, LONG* Res) override;
  // sales
  HRESULT AddProgPlu(LONG Numb, LONG DeprtmentNo, double Quantity, double Price, LONG VATGrp, LONG* Res) override;
  // properties
  HRESULT GetLastError(LONG LngCode, BSTR* Res) override;
  HRESULT GetErrCodeText(LONG ErrCode, LONG LangCode, BSTR* Res) override;
  // reports and service
  HRESULT OpenCashDrawer(LONG PulseTime, LONG* Res) override;
  // receipt lifecycle
  HRESULT AddUniqueSellNom(BSTR SellNom, LONG* Res) override;
  HRESULT SetRefundParams(LONG FiscalBlock, LONG Reason, LONG RecieptNo, BSTR InvDate, BSTR InvoiceNom,
                          LONG* Res) override;
  // reports and service
  HRESULT CheckPRNStatus(LONG* Status, LONG* Res) override;
  HRESULT GetNextRefundInvNumber(BSTR* Res) override;
  // properties
  HRESULT get_LastUniqueSellNo(BSTR* Value) override;
  // receipt lifecycle
  HRESULT VoidCurrentReciept(LONG* Res) override;
  // properties
  HRESULT get_FPName(BSTR* Value) override;
  HRESULT get_FPSerial(BSTR* Value) override;
  HRESULT get_FPFiscalNom(BSTR* Value) override;
  HRESULT get_FPVersion(BSTR* Value) override;
  HRESULT get_FPDateTimeAsString(BSTR* Value) override;
  HRESULT put_FPDateTimeAsString(BSTR value) override;
  // connecting
  HRESULT InitTCP(BSTR IPAddress, LONG IPPort, LONG Locale, LONG Language, BSTR SerialKey, LONG* Res) override;
  // reports and service
  HRESULT DisplayTop(BSTR Text, LONG* Res) override;
  HRESULT DisplayBottom(BSTR Text, LONG* Res) override;
  HRESULT DisplayClear(LONG* Res) override;
  HRESULT DisplayDateTime(LONG* Res) override;
  // properties
  HRESULT SetOperator(LONG OperNom, BSTR OperName, BSTR OperPass, LONG* Res) override;
  // read-back
  HRESULT GetCurrencyMode(LONG* CurrMode, LONG* Res) override;
  // sales
  HRESULT AddPaymentByCurrncy(LONG PayNo, BSTR PayText, double PayAmount, double PayCourse, BSTR CurrAbrev,
                              LONG* Res) override;

  // ---------------------------------------------------------------------------------------
  // IObjectSafety: both answer success and change nothing.
  HRESULT GetInterfaceSafetyOptions(REFIID riid, DWORD* pdwSupportedOptions, DWORD* pdwEnabledOptions) override;
  HRESULT SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask, DWORD dwEnabledOptions) override;

  // ---------------------------------------------------------------------------------------
  // For tests: hands the object a transport as a successful initialisation would leave it
  // (any old one is freed). Nothing is sent.
  void AttachDeviceForTest(std::unique_ptr<TBaseDevice> Device) { FDevice = std::move(Device); }
  TBaseDevice* DeviceForTest() const { return FDevice.get(); }

 protected:
  // ---------------------------------------------------------------------------------------
  // The call pattern.

  // Departures from the call pattern.
  enum TCallFlags : unsigned {
    CallDefault = 0,
    // Init, InitTCP, InitEx, Close, DisplayPrint: the work runs without CheckConnected.
    NoConnectionCheck = 1u << 0,
  };

  // Runs one entry by the call pattern (see the top of this file). Res may be null (value
  // methods, Close). Context is the failure context; an empty CallLine writes no call line.
  // The entry's answer is S_OK; only a failure while recording a failure (the log writer)
  // escapes to the error information of the call (E_UNEXPECTED).
  template <class TWork>
  HRESULT RunMethod(LONG* Res, const std::string& Context, const std::string& CallLine, TWork&& Work,
                    unsigned Flags = CallDefault) {
    return ComGuard(IMiravokFprn::Iid, MiravokFprnSource, [&]() -> HRESULT {
      const auto entry = EnterCall();
      if (Res) *Res = -1;
      try {
        BeginDeviceCall();
        ClearLastError();
        if (!CallLine.empty()) LogMessage(CallLine, LogInfo);
        if (!(Flags & NoConnectionCheck)) CheckConnected();
        Work();
        if (Res) *Res = 0;
      } catch (const std::exception& e) {
        SetLastErrorFrom(e, Context, "");
      } catch (...) {
        SetLastErrorFrom(EAbort("Unknown exception"), Context, "");
      }
      return S_OK;
    });
  }

  // Runs the body of an entry that does not follow the call pattern (the read-outs) so that
  // no exception escapes it: a failure becomes E_UNEXPECTED with error information.
  template <class TBody>
  HRESULT Guard(TBody&& Body) {
    return ComGuard(IMiravokFprn::Iid, MiravokFprnSource, [&]() -> HRESULT {
      const auto entry = EnterCall();
      Body();
      return S_OK;
    });
  }

  // The object's call lock, held until the returned guard goes (see the top of this file).
  [[nodiscard]] std::unique_lock<std::recursive_mutex> EnterCall() {
    return std::unique_lock<std::recursive_mutex>(FCallLock);
  }

  static constexpr std::uint8_t LogError = 0;
  static constexpr std::uint8_t LogInfo = 2;

  // FLastErrorCode := 0, FLastErrorMessage := empty.
  void ClearLastError();
  // Hands Msg to the process's log writer when a log folder is set; otherwise nothing.
  void LogMessage(const std::string& Msg, std::uint8_t Level);
  // ECRException 502 "Device is not initiqlized. Call "init" first!" without a transport,
  // ECRException 101 "COM port is not active" when its link is not open.
  void CheckConnected();
  // Records a failure: FLastErrorMessage := "[" + Context + "] " + message + " " + Extra;
  // FLastErrorCode := the ECRException's code, 502 for any other exception; an error line.
  // 201 and 502 tell a caller that nothing of the call reached the printer: once the call
  // handed a command that may change the printer to the link, such a failure takes the
  // device's code of the last exchange instead, or 200 when that is none of its own.
  void SetLastErrorFrom(const std::exception& E, const std::string& Context, const std::string& Extra);
  // The start of every call that may talk to the printer: the device's count of changing
  // commands starts from 0, so that SetLastErrorFrom sees what this call sent.
  void BeginDeviceCall() {
    if (FDevice) FDevice->FChangingCommandsSent = 0;
  }

  // After a device operation answered false: raises ECRException with the device's
  // FErrorCode and Tag + FErrorText. A device that failed without a code (0) is reported
  // as 502 with its text, so a failure never reads as success.
  [[noreturn]] void RaiseDeviceError(const std::string& Tag = {});
  // RaiseDeviceError when Ok is false.
  void Check(bool Ok, const std::string& Tag = {}) {
    if (!Ok) RaiseDeviceError(Tag);
  }

  // The receipt word Id in the language of FLocale; an Id without a row leaves Text as is.
  void GetReceiptText(std::uint8_t Id, std::string& Text) const;

  // ---------------------------------------------------------------------------------------
  // Fields, in the order of the object's state.

  std::unique_ptr<TBaseDevice> FDevice;  // the transport; absent before the first Init
  int32_t FComPort = 0;
  int32_t FLastErrorCode = 0;
  std::string FLastErrorMessage;
  std::uint8_t FLocale = 0;  // 0 Bulgarian, 1 to 3 English
  TDiagnosticInfo FDiagnosticInfo;
  std::uint8_t FLineLength = 0;
  double FReceiptTotal = 0;
  double FPaidTotal = 0;
  double FLastPrice = 0;
  double FLastQuantity = 0;
  bool FNonFiscalOpen = false;
  TClientData FClientData;
  bool FPrintInvDublicate = false;
  bool FPLUNumbering = false;
  int32_t FBonType = 0;
  std::string FLogFilePath;  // with a trailing "/"; empty: no logging
  std::uint8_t FLastVATGroup = 0;
  TDataBuffer FStatusBytes;
  TFiskParam FFiskParam;
  std::string FLastUniqueSellNo;
  bool FOnline = false;
  // One caller at a time (EnterCall).
  std::recursive_mutex FCallLock;

  // ---------------------------------------------------------------------------------------
  // Regions for the private operations and fields of each group of methods.

  // --- connecting ---
  // Reads and checks the status bytes into FStatusBytes; raises ECRException when the
  // printer reports an error state.
  void CheckPrinterStatus();
  // True when the connected printer's model name names a printer with extended commands.
  bool SupportsExtendedCommands();
  // The clock with which the transports that the initialisations make measure their
  // exchange windows (tests give a clock of their own).
  IDeviceClock* FTransportClock = &SteadyDeviceClock();
  // Frees the old transport and makes the new one (Make); a failure is recorded under
  // Context and answers false, and no transport is left then.
  template <class TMake>
  bool ReplaceTransport(const std::string& Context, TMake&& Make);
  // The start of every initialisation after its call line, whatever its outcome: the last
  // error cleared, FLocale 0, FPrintInvDublicate false, and the object in the state
  // without a receipt (a receipt of the old link is none of the new one's).
  void BeginInitialisation();
  // The end of Init and InitTCP: the old transport freed and a new one made by Make (a
  // unique_ptr to the transport class); Configure (given that transport) names the link;
  // then connect, check, read the printer's data. A failure is recorded and frees the
  // transport.
  template <class TMake, class TConfigure>
  void OpenInitialisedLink(LONG* Res, TMake&& Make, TConfigure&& Configure);
  // The status check and the diagnostic read of a fresh link, with the line length of the
  // model list; then the two log lines with model, line length and serial number.
  void ReadPrinterData();
  void LogPrinterData();
  // --- end connecting ---

  // --- receipt lifecycle ---
  // Keeps the printer's invoice (Kind 0) or credit-note range usable for Number.
  void UpdateInvoiceRange(int Kind, const std::string& Number);
  // Serial number, "-", operator as four digits, "-", the next document as seven digits.
  std::string GenerateUniqueSellNo(int32_t LastDocNo, int32_t CashierNo) const;
  // FFiskParam cleared, and with it the marks below.
  void ResetReceiptData();
  // The state without a receipt: FBonType 0, no non-fiscal receipt, running totals 0.
  void ResetReceiptState();
  // What EndBon resets once the receipt is closed (or gone): running totals, FBonType, the
  // receipt data.
  void ResetAfterEndBon();
  // The start of StartBon: FFiskParam keeps what the caller gave and no opening has used
  // up (the sale number, and the refund data for BonType 5 and 6); the rest of it, left
  // by an earlier attempt or receipt, is cleared. Any other type drops the refund data.
  void PrepareReceiptData(bool Refund);
  // An opening went to the link (whatever its answer: the printer may have opened the
  // receipt): the sale number and the refund data given for it are used up, and SellNo is
  // the number the opening carried (empty: none), which EndBon reports.
  void UseUpReceiptData(const std::string& SellNo);
  // EndBon failed: records the failure, and keeps the receipt state while the printer
  // still has the receipt open (or may have it), so that a second EndBon closes it.
  void FinishFailedEndBon(const std::exception& E);
  // After a failed EndBon: false only when the printer shows no open receipt, or the link
  // is closed; a link failure or a status that cannot be read counts as still open.
  bool ReceiptStillOpen();
  // EndBon on an underpaid fiscal receipt: has the printer cancel it or close it with the
  // rest paid in cash, logs which, and fails with "Payments are not enough".
  [[noreturn]] void UnderpaidCleanup(double Amount, double Tender);
  // The caller's sale number (AddUniqueSellNom) and refund data (SetRefundParams) in
  // FFiskParam that no opening has used up yet: they serve the next opening sent, also
  // when an attempt fails before its opening is sent.
  bool FRefundDataGiven = false;
  bool FSellNoGiven = false;
  // The sale number that the opening of the open receipt carried to the printer (the
  // extended opening of the ONLINE mode); empty when it carried none.
  std::string FOpenedSellNo;
  // --- end receipt lifecycle ---

  // --- sales ---
  // Prints one text line: as non-fiscal text while a non-fiscal receipt is open, else as
  // fiscal text; the Command BOLD, DBWIDTH or DBSTRIKE gives the line its print attribute
  // on printers with extended commands.
  void PrintFormattedLine(const std::string& Text, const std::string& Command);
  // Prints Lines as PrintFormattedLine does, once every one of them has passed the checks
  // of its command: a line the printer cannot take fails the call before the first line is
  // sent.
  void PrintLines(const std::vector<std::string>& Lines, const std::string& Command = {});
  // Raises the refusal (201) of a command that a call sends after another one, before the
  // call sends anything: Send runs with nothing sent (TBaseDevice::CheckOnly).
  void CheckBeforeSending(const std::function<bool()>& Send);
  // The command of PrintFormattedLine; its result.
  bool SendFormattedLine(const std::string& Text, const std::string& Command);
  // The department's totals; a failure raises with "[GetDepartmentSum]" before the text.
  void GetDepartmentSum(std::uint8_t DepNo, TDepartmentSum& Sum);
  // A payment of Value x Rate (rounded, in the receipt's currency) with pay type PayType:
  // laid out in a non-fiscal receipt, handed to SendToPrinter (with the payment letter and
  // that amount) in the printer's receipt types; FPaidTotal grows by the amount. A value
  // or rate that is no finite number is refused under its argument's name.
  void AddPaymentAmount(int32_t PayType, double Value, double Rate, const char* ValueName, const char* RateName,
                        const std::function<bool(char Letter, double Amount)>& SendToPrinter);
  // --- end sales ---

  // --- reports and service ---
  // Right after CheckPrinterStatus: when FStatusBytes shows a fiscal (S2.3) or a non-fiscal
  // (S2.5) receipt open, has the printer close or cancel it; its failure is raised.
  void EnsureNoOpenReceipt();
  // The current number of the invoice range (or of the credit-note range) as text.
  HRESULT ReadRangeNumber(BSTR* Res, bool CreditNote, const std::string& Context, const std::string& CallLine);
  // The field at Slot of the printer's diagnostic information, read now (with the flag set).
  HRESULT ReadDiagnosticText(BSTR* Res, size_t Slot, const std::string& Context, const std::string& CallLine);
  // --- end reports and service ---

  // --- read-back ---
  // --- end read-back ---
};

}  // namespace fp
