#pragma once
// The printer device: everything of a printer exchange that does not depend on the link.
//
//  - the request frame: escape rule, LEN, the sequence number SEQ and the check sum;
//  - the answer layout and small pure helpers for checking an answer and for the texts of
//    a refusal, which both transports use while they read the answer in their own order
//    with their own codes;
//  - the exchange loop of the transports (Exchange) and the parts a link gives it
//    (TExchangeLink, TRetryPolicy);
//  - the error codes with their texts and the status-bit tests;
//  - the generic command runner: every printer command is a short declaration that
//    RunCommand executes (build, send, status tests, fields, error record);
//  - splitting answer texts into fields and recording a failure in FErrorCode/FErrorText.
//
// The physical exchange is the abstract SendCommand. The serial and the TCP device run it
// through the one loop Exchange, each with its own link parts: sending a frame, reading an
// answer, making the link ready (reconnecting where the link does) and a retry table that
// says what each failure code does next.
//
// Contract for any SendCommand (so that FErrorText reads the same on every device):
//
//   bool TMyDevice::SendCommand(uint8_t Cmd, TDataBuffer& Data, uint8_t Retries,
//                               TDataBuffer& Status) {
//     if (!BeginExchange(Data)) return false;  // steps SEQ once, clears the error,
//                                              // refuses data longer than 219 bytes
//     ... attempts: TDataBuffer Frame = BuildFrame(Cmd, Data); write it; read the answer ...
//   }
//
// Exchange calls BeginExchange first, as this contract asks. BeginExchange records the
// refusal exactly as RunCommand does for a command: code 201, FErrorText = "Invalid input
// data. [DataLen]", no status texts, and nothing is sent. RunCommand refuses such data
// already before it calls SendCommand (without stepping SEQ); the check in BeginExchange
// covers callers of SendCommand that do not go through the runner. BuildFrame never sees
// data that is too long once BeginExchange passed.
#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "library/protocol/DeviceClock.h"

namespace fp {

// Command data, answer data and status bytes. An empty buffer is a normal value.
using TDataBuffer = std::vector<uint8_t>;

// The silent exception of the device layer: it carries a message and is never shown to a
// user as it is; the failure it describes ends up in FErrorCode/FErrorText.
class EAbort : public std::exception {
 public:
  explicit EAbort(std::string AMessage) : Message(std::move(AMessage)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  std::string Message;
};

// A failure with a device error code (see DeviceErrorText). The message is a short detail:
// a bracketed label ("[0/1]", "[InvStart]"), an angle-bracketed frame part ("<LEN>") or a
// text of the transport. A handler may change Code and Message before recording it.
class ECmdException : public EAbort {
 public:
  ECmdException(int32_t ACode, std::string AMessage = {}) : EAbort(std::move(AMessage)), Code(ACode) {}
  int32_t Code;
};

// ---------------------------------------------------------------------------------------
// Error codes and their texts.

// The codes by name (DeviceError::NoPaper is 210), from the one list of DeviceErrors.def.
namespace DeviceError {
enum TCode : int32_t {
#define FP_DEVICE_ERROR(Code, Name, Text) Name = Code,
#include "library/protocol/DeviceErrors.def"
#undef FP_DEVICE_ERROR
};
}  // namespace DeviceError

struct TDeviceErrorText {
  int32_t Code;
  const char* Text;  // 8-bit code page 1251
};
// The complete table of device error codes 101..256, in ascending order of code.
extern const TDeviceErrorText DeviceErrorTexts[];
extern const size_t DeviceErrorTextCount;
// The text of a code, or nullptr when the code has none.
const char* DeviceErrorText(int32_t Code);

// True when bit Bit (0..7) of byte ByteIndex of Status is 1. A byte beyond the end of
// Status reads as 0, so no test ever reads outside the buffer.
bool IsStatusBitSet(const TDataBuffer& Status, size_t ByteIndex, unsigned Bit);

// One bit of the six status bytes: byte 0..5, bit 0..7.
struct TStatusBit {
  uint8_t Byte;
  uint8_t Bit;
};
inline bool IsStatusBitSet(const TDataBuffer& Status, TStatusBit B) { return IsStatusBitSet(Status, B.Byte, B.Bit); }

// The status bits the driver reads, each named once (S<byte>.<bit>).
namespace StatusBit {
inline constexpr TStatusBit SyntaxError{0, 0};         // S0.0
inline constexpr TStatusBit InvalidCommand{0, 1};      // S0.1
inline constexpr TStatusBit ClockNotSet{0, 2};         // S0.2
inline constexpr TStatusBit PrinterFault{0, 4};        // S0.4
inline constexpr TStatusBit AmountOverflow{1, 0};      // S1.0
inline constexpr TStatusBit NotAllowedInMode{1, 1};    // S1.1
inline constexpr TStatusBit RamCleared{1, 2};          // S1.2
inline constexpr TStatusBit LowBattery{1, 3};          // S1.3
inline constexpr TStatusBit RamDestroyed{1, 4};        // S1.4
inline constexpr TStatusBit GprsNoAnswer{1, 6};        // S1.6
inline constexpr TStatusBit NoPaper{2, 0};             // S2.0
inline constexpr TStatusBit JournalEnd{2, 2};          // S2.2
inline constexpr TStatusBit FiscalOpen{2, 3};          // S2.3: a fiscal receipt is open
inline constexpr TStatusBit NonFiscalOpen{2, 5};       // S2.5: a comment receipt is open
inline constexpr TStatusBit FiscalMemoryError{4, 0};   // S4.0
inline constexpr TStatusBit FiscalMemoryFull{4, 4};    // S4.4
inline constexpr TStatusBit FiscalMemoryLocked{5, 0};  // S5.0
inline constexpr TStatusBit LastEntryFailed{5, 2};     // S5.2
}  // namespace StatusBit

// True when a fiscal or a comment receipt is open (S2.3 or S2.5).
inline bool IsAnyReceiptOpen(const TDataBuffer& Status) {
  return IsStatusBitSet(Status, StatusBit::FiscalOpen) || IsStatusBitSet(Status, StatusBit::NonFiscalOpen);
}

// ---------------------------------------------------------------------------------------
// Frame layout and the answer helpers both transports use.

constexpr uint8_t kFrameStart = 0x01;       // start of frame
constexpr uint8_t kFrameEnd = 0x03;         // end of frame
constexpr uint8_t kAnswerSeparator = 0x04;  // between answer data and status
constexpr uint8_t kDataEnd = 0x05;          // end of data (request) / status (answer)
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kSyn = 0x16;
constexpr uint8_t kEscape = 0x10;
constexpr uint8_t kSeqFirst = 0x20;
constexpr uint8_t kSeqLast = 0x7F;
constexpr size_t kStatusLength = 6;
// LEN is one byte: 0x24 + n must not pass 0xFF.
constexpr size_t kMaxRequestData = 219;

// LEN of a request with n data bytes (as on the wire): (0x24 + n) modulo 256.
uint8_t RequestLen(size_t DataCount);
// LEN of a well-formed answer with n data bytes: 0x2B + n (modulo 256).
uint8_t AnswerLen(size_t DataCount);
// The number of bytes from LEN through the closing 0x05 that LEN declares: LEN - 0x20
// (negative for a LEN below 0x20, which then never matches a count).
int ExpectedCount(uint8_t Len);
// The message of a LEN mismatch: LEN - 0x20, "/", the count, both in decimal ("14/15").
std::string LenMismatchText(uint8_t Len, size_t Count);
// The message of a wrong SEQ or CMD echo: "[" received "/" expected "]", each as two
// upper-case hexadecimal digits ("[2B/2A]").
std::string EchoMismatchText(uint8_t Received, uint8_t Expected);

// The check sum: the sum of the bytes given (from LEN through the 0x05), as 16 bits.
uint16_t ComputeChecksum(const uint8_t* Bytes, size_t Count);
// The four check sum bytes: the nibbles from the highest to the lowest, each 0x30 + nibble.
void EncodeChecksum(uint16_t Sum, uint8_t Out[4]);
// The check sum text of the transports: one received byte as the hexadecimal digit(s) of
// its value minus 0x30 (a byte 0x30..0x3F gives exactly one digit "0".."F"; anything else
// gives more, so the text then fails its four-digit test).
std::string ChecksumDigitText(uint8_t Byte);
// A computed sum as at least four upper-case hexadecimal digits ("0468").
std::string ChecksumText(uint32_t Sum);

// The complete request frame for SEQ, CMD and already escaped data. Raises
// ECmdException(201, "[DataLen]") for more than 219 data bytes.
TDataBuffer BuildRequestFrame(uint8_t Seq, uint8_t Cmd, const TDataBuffer& Data);
// A well-formed answer frame (for printer models and tests): data and status unescaped.
TDataBuffer BuildAnswerFrame(uint8_t Seq, uint8_t Cmd, const TDataBuffer& Data, const TDataBuffer& Status);

// ---------------------------------------------------------------------------------------
// The exchange loop and the parts a link gives it.
//
// TBaseDevice::Exchange runs one SendCommand on a link. Every attempt is the same: the link
// is made ready (101 when it cannot be), the counted attempts are checked against Retries
// (107), the frame is built and sent, and the link reads the answer. A failed attempt
// raises ECmdException with a code of the link; the link's retry table then says what
// follows. Retrying stops for good once the link's window has passed.

// What follows a failed attempt.
enum class TNextStep : uint8_t {
  Stop,         // the call ends with this failure
  StopCounted,  // the call ends; "[" + the number of counted attempts + "]" is appended
  Retry,        // another attempt, after PauseMs
  DrainRetry,   // the link first reads away what is left of the answer, then as Retry
};

// One row of a link's retry table. A code without a row stops the call without a mark.
struct TRetryRule {
  int32_t Code;
  TNextStep Next;
  bool Counted = false;  // the failed attempt counts against Retries
  uint16_t PauseMs = 0;  // slept on the device clock before the next attempt
  // Not 0: the attempt is repeated only while at most so many milliseconds have passed
  // since the call began; later the call ends with this failure.
  uint16_t WithinMs = 0;
  const char* Mark = "";  // appended to FErrorText when another attempt follows
};

// The fixed part of a link's retry policy.
struct TRetryPolicy {
  std::span<const TRetryRule> Rules;
  // No attempt follows once more than this many whole seconds have passed since the call
  // began.
  int WindowSeconds;
  // What a failed attempt appends to FErrorText: the code's text and the message (true),
  // or the message alone.
  bool CodeText;

  // The rule of Code, or nullptr when the table has none.
  const TRetryRule* Find(int32_t Code) const {
    for (const TRetryRule& r : Rules)
      if (r.Code == Code) return &r;
    return nullptr;
  }
};

// The parts of one link under the exchange loop. A transport implements them and runs its
// SendCommand as Exchange(*this, ...). Every part but OtherFailure reports a failure by
// raising ECmdException with the link's code.
class TExchangeLink {
 public:
  virtual const TRetryPolicy& RetryPolicy() const = 0;
  // The clock of the exchange's windows and pauses.
  virtual IDeviceClock& ExchangeClock() = 0;
  // The link as the messages of 101 and 107 name it, inside "[" and "]".
  virtual const std::string& LinkName() const = 0;
  // Before every attempt: true when the link is ready for a frame. A link that reconnects
  // does it here; it may record its own failure first, to which the 101 is appended.
  virtual bool LinkReady() = 0;
  // Writes one request frame; a frame that does not go out whole raises 102.
  virtual void SendFrame(const TDataBuffer& Frame) = 0;
  // Reads the answer to the frame just sent into Answer (its data) and Status, which
  // start empty. CallStart is when the call began.
  virtual void ReadAnswer(uint8_t Cmd, IDeviceClock::TTimePoint CallStart, TDataBuffer& Answer,
                          TDataBuffer& Status) = 0;
  // Reads away the rest of an answer that was not ours (TNextStep::DrainRetry); a link
  // whose table has no such row keeps this empty one.
  virtual void DrainAnswer(IDeviceClock::TTimePoint /*CallStart*/) {}
  // An exception other than ECmdException ended an attempt: records it in FErrorCode and
  // FErrorText and returns the rule of what follows (nullptr: the call ends).
  virtual const TRetryRule* OtherFailure(const std::exception& E) = 0;

 protected:
  ~TExchangeLink() = default;
};

// ---------------------------------------------------------------------------------------
// The command runner's declaration types.

// One status-bit test of a command: raises ECmdException(Code, "[Byte/Bit]") when the bit
// is set (WhenSet) or clear (!WhenSet). With OnlyEmptyAnswer the test applies only when
// the answer data is empty.
struct TStatusTest {
  uint8_t Byte;
  uint8_t Bit;
  bool WhenSet;
  int32_t Code;
  bool OnlyEmptyAnswer = false;
};
constexpr TStatusTest BitSet(uint8_t Byte, uint8_t Bit, int32_t Code) { return {Byte, Bit, true, Code, false}; }
constexpr TStatusTest BitClear(uint8_t Byte, uint8_t Bit, int32_t Code) { return {Byte, Bit, false, Code, false}; }
// "empty answer with Sb.n set: code"
constexpr TStatusTest BitSetEmptyAnswer(uint8_t Byte, uint8_t Bit, int32_t Code) {
  return {Byte, Bit, true, Code, true};
}
constexpr TStatusTest BitSet(TStatusBit B, int32_t Code) { return BitSet(B.Byte, B.Bit, Code); }
constexpr TStatusTest BitClear(TStatusBit B, int32_t Code) { return BitClear(B.Byte, B.Bit, Code); }
constexpr TStatusTest BitSetEmptyAnswer(TStatusBit B, int32_t Code) { return BitSetEmptyAnswer(B.Byte, B.Bit, Code); }

// The general status check between the command's own tests and its after-tests.
enum class TStatusCheck { None, Basic /* CheckStatusBasic */, Full /* CheckStatus */ };
// What RecordError receives as status on a failure inside the guard.
enum class TRecordStatus { WithStatus, WithoutStatus };
// What RecordError receives as Extra text.
enum class TRecordExtra { None, AnswerText /* the answer text, once the exchange took place */ };

// The answer of a successful exchange, handed to a command's field parser. Text starts as
// the whole answer text and is consumed by the field readers. Every reader raises the
// command-pattern failures: too few fields 200, a field that is not a number 201 + label.
class TAnswer {
 public:
  TAnswer(const TDataBuffer& AData, const TDataBuffer& AStatus);

  const TDataBuffer& Data;    // the answer data bytes
  const TDataBuffer& Status;  // the status bytes
  std::string Text;           // what is left of the answer text

  bool Empty() const { return Text.empty(); }
  // At least N fields in what is left (runs of characters other than ","), else
  // ECmdException(200, Label).
  void RequireFields(int N, const std::string& Label = {});
  std::string Field();       // ExtractCommaField
  std::string SpaceField();  // ExtractSpaceField
  // The next comma field as a number; not a valid number: ECmdException(201, Label).
  int64_t IntField(const std::string& Label);
  int32_t Int32Field(const std::string& Label);  // also 201 outside the 32-bit range
  double NumberField(const std::string& Label);
  double HundredthsField(const std::string& Label);  // NumberField / 100
  // The next comma field as a number, Default when it is not one (never fails).
  int64_t IntFieldOr(int64_t Default);
  double NumberFieldOr(double Default);
  double HundredthsFieldOr(double Default);  // the value read / 100, or Default
};

// The declaration of one command operation for RunCommand.
struct TCommand {
  uint8_t Cmd = 0;
  uint8_t Retries = 4;
  // Command data built beforehand with the escaping appenders...
  TDataBuffer Data;
  // ...and/or appended by Build inside the guard, so that argument checks may raise
  // ECmdException(201, label) before anything is sent.
  std::function<void(TDataBuffer& Data)> Build;
  std::vector<TStatusTest> Before;  // own tests, in order, before the general check
  TStatusCheck Check = TStatusCheck::None;
  std::vector<TStatusTest> After;              // own tests after the general check
  std::function<void(TAnswer& Answer)> Parse;  // fields into outputs; may raise
  TRecordStatus Record = TRecordStatus::WithStatus;
  TRecordExtra Extra = TRecordExtra::None;
  // Optional: changes an ECmdException caught in the guard before it is recorded (for
  // example a refusal recorded under a code of its own).
  std::function<void(ECmdException& E)> MapError;
  // Optional: runs after RecordError for a failure caught in the guard. Data is the data
  // buffer at the time: the answer data once the exchange took place, otherwise the
  // request data built so far.
  std::function<void(const std::exception& E, const TDataBuffer& Data)> AfterRecord;
  // The command only reads the printer's state. Every other command may change the
  // printer (a sale, a payment, a report, programming...): handing it to the link counts
  // in TBaseDevice::FChangingCommandsSent.
  bool ReadOnly = false;
};

// ---------------------------------------------------------------------------------------
// Records of the printer commands. Each group adds its records in its own region.

// --- records: information and reading ---

// Diagnostic information, slots 0..8 (each at most 255 characters): 0 the model name, 1 and
// 2 the next two blank-separated words, 3..5 the next three comma fields, 6 the serial
// number, 7 the fiscal memory number, 8 the whole answer text.
struct TDiagnosticInfo {
  static constexpr size_t MaxLength = 255;
  std::array<std::string, 9> Text;
};

// The day's totals of payment types 1..11 (index 0..10), in currency units.
struct TDailyPayments {
  std::array<double, 11> Sums{};
};

// The totals of one department. Marker is the first character of the answer ("P" when the
// department exists), '\0' when the answer was empty.
struct TDepartmentSum {
  char Marker = '\0';
  char TaxGroup = static_cast<char>(0xC0);
  int64_t LastCountSales = 0;
  double LastSum = 0;
  int64_t CountSales = 0;
  double TotalSum = 0;
  std::string Name;
  std::string AddText;
};

// A programmed article, as read back (and as programmed, with Quantity).
struct TPluData {
  int32_t PluNo = -1;
  std::string Name;
  char TaxGroup = static_cast<char>(0xC0);
  int32_t GroupNom = 1;
  double UnitPrice = 0;
  double Quantity = 0;
  double TotalSum = 0;
  double Sold = 0;
  double AvailQtty = 0;
};

// The comma fields 0..19 of the constants answer; a missing field is empty. Field 8 (the
// line length) comes back reduced by 2.
struct TPrnConst {
  std::array<std::string, 20> Text;
};

// --- records: receipts ---

// The data of an extended receipt opening (FPR_OpenFiscBonEx).
struct TFiskParam {
  int32_t OperNo = 0;  // not sent
  std::string OperName;
  std::string UniqueSellNo;  // must not be blank
  bool IsInvoice = false;
  bool IsRefund = false;        // looked at only when IsInvoice is false
  int64_t InvoiceNo = 0;        // not sent
  std::string RefundFMNo;       // fiscal memory of the printer that printed the receipt
  int32_t RefundReceiptNo = 0;  // above 0
  char RefundReason = '\0';     // 'O', 'R' or 'T'
  double RefundDateTime = 0;    // date-time value; 0 or less: not given
  int64_t RefundInvoiceNo = 0;  // 0 or less: not given
  std::string RefundFiscalNo;   // fiscal memory of the printer in use
  std::string Reserved;
};

// The invoice buyer data, ten texts by index: 0 company, 1 VAT number, 2 tax number (EIK),
// 3 town, 4 address, 5 MOL (not sent), 6 receiver, 7 and 8 unused, 9 the second field of the
// buyer block. Each text holds at most 255 characters: whoever fills it cuts longer ones.
struct TClientData {
  static constexpr size_t MaxLength = 255;
  std::array<std::string, 10> Text;
};

// --- records: reports, programming and service ---

// The definition of a department as SetFPR_Department sends it.
struct TDepartmentInfo {
  int32_t Number = 0;
  char TaxGroup = static_cast<char>(0xC0);  // VAT letter 0xC0..0xC7; not tested
  std::string Name;                         // first text line
  std::string AddText;                      // second text line; sent only when not empty
};

// ---------------------------------------------------------------------------------------

class TBaseDevice {
 public:
  TBaseDevice();
  virtual ~TBaseDevice() = default;
  TBaseDevice(const TBaseDevice&) = delete;
  TBaseDevice& operator=(const TBaseDevice&) = delete;

  // Text and code of the last failure; empty and 0 at the start of every exchange and after
  // a successful one.
  std::string FErrorText;
  int32_t FErrorCode = 0;
  // How many commands that may change the printer (TCommand::ReadOnly false) were handed
  // to the link; counted before the transport runs, so a command that may have reached the
  // printer counts. Its owner sets it to 0 when it wants to know what one call of its own
  // sends (the automation object does at the start of each call). While it is above 0, an
  // answer field that cannot be read fails with 200, not 201: 201 stays for what is refused
  // before sending.
  uint32_t FChangingCommandsSent = 0;

  // The link. SendCommand: see the contract at the top of this file. It never raises.
  virtual bool SendCommand(uint8_t Cmd, TDataBuffer& Data, uint8_t Retries, TDataBuffer& Status) = 0;
  virtual bool Connect() = 0;
  virtual void Disconnect() = 0;
  virtual bool IsConnected() = 0;

  // Appending to a buffer; all append at the end and never fail.
  static void AddByte(uint8_t B, TDataBuffer& Buf);
  // A byte below 0x20 other than TAB and LF goes as 0x10, byte + 0x40; others unchanged.
  static void AddEscapedByte(uint8_t B, TDataBuffer& Buf);
  static void AddEscapedChar(char Ch, TDataBuffer& Buf);
  static void AddEscapedText(std::string_view Text, TDataBuffer& Buf);
  static void AddBytes(const TDataBuffer& Src, TDataBuffer& Dst);
  // The four check sum bytes over Frame[1..end] (after the start byte, through the 0x05).
  static void AddChecksum(TDataBuffer& Frame);

  // Answer bytes as 8-bit text, one character per byte.
  static std::string BufferToText(const TDataBuffer& Buf);
  static std::string BytesToText(const TDataBuffer& Buf, size_t Start, size_t Count);
  // The text before the first ","; S becomes the text after it. No ",": all of S, S empty.
  static std::string ExtractCommaField(std::string& S);
  // The text before the first blank; S becomes what follows it without leading blanks.
  // No blank: all of S, S empty.
  static std::string ExtractSpaceField(std::string& S);
  // The number of maximal runs of characters other than ","; empty fields do not count.
  static int CountFields(std::string_view S);

  // The text of Code, one blank and Detail; a code without text gives " " + Detail.
  static std::string ErrorCodeText(int32_t Code, const std::string& Detail);
  // Six-byte length (200 "[6/n]"), S0.0 205, S0.1 204.
  void CheckStatusBasic(const TDataBuffer& Status);
  // CheckStatusBasic, then S1.1 216, S1.0 223.
  void CheckStatus(const TDataBuffer& Status);
  // Joins the texts of the set error bits except the one of ExcludeCode, starting from the
  // caller's Text; true when Text holds nothing but blanks.
  bool StatusErrorsText(const TDataBuffer& Status, int32_t ExcludeCode, std::string& Text);
  // The same over one more bit (S0.4) and without exclusion; FErrorCode := the code of each
  // set bit in turn.
  bool StatusErrorsTextAndCode(const TDataBuffer& Status, std::string& Text);

  // Turns a caught exception into FErrorCode/FErrorText (Status may be empty, Extra too).
  void RecordError(const std::exception& E, const TDataBuffer& Status, const std::string& Extra);

  // Runs one command operation: builds the data, refuses data longer than 219 bytes
  // (201 "[DataLen]", recorded without status), SendCommand (false: the transport's error
  // stands), then inside a guard the six-byte length check whenever any status test is
  // declared, the Before tests, the general check, the After tests and Parse. Any failure
  // in the guard is recorded with RecordError as declared (a 201 as 200 once a changing
  // command went out, see FChangingCommandsSent). Returns true on success; never raises.
  bool RunCommand(const TCommand& C);

  // Runs Op, a device operation of one or more commands, with nothing sent: each command
  // is built and checked as RunCommand checks it (201 where it would refuse before
  // sending, data longer than 219 bytes included), and one that passes counts as done
  // without reaching the link (its outputs keep their start values). Returns what Op
  // returns, with a refusal recorded as RunCommand records it. A caller that sends several
  // commands in one call checks the later ones with it before it sends the first.
  bool CheckOnly(const std::function<bool()>& Op);

  // --- information and reading commands ---
  // (BaseDeviceInfoCommands.cpp.) Outputs get their start values before anything is sent;
  // on a failure they hold what was read before it.

  // The printer clock as a date-time value (0 at the start).
  bool GetFPR_DateTime(double& DateTime);
  // The six status bytes, asked with waiting ("W", up to 4 attempts) or without ("X", one).
  bool GetFPR_Status(bool Wait, TDataBuffer& Status6);
  // Sends "1" when Flag, else "0".
  bool GetFPR_DiagnosticInfo(bool Flag, TDiagnosticInfo& Info);
  bool GetFPR_LastDocNumber(int32_t& Number);
  // The open receipt: whether it may be cancelled, its eight tax-group sums, whether it is
  // an invoice and the next invoice number. All start at false / 0.
  bool GetFPR_ReceiptInfo(bool& CanVoid, std::array<double, 8>& TaxSums, bool& IsInvoice, int64_t& NextInvoiceNo);
  // GetFPR_ReceiptInfo with the eight sums added up into Total.
  bool GetFPR_ReceiptTotal(bool& CanVoid, double& Total, bool& IsInvoice);
  // Header line Index (0..7), and all eight of them into Lines (stops at the first failure
  // with the lines read so far).
  bool GetFPR_HeaderLine(int32_t Index, std::string& Line);
  bool GetFPR_HeaderLines(std::vector<std::string>& Lines);
  // The invoice number range, or with Refund the credit-note range.
  bool GetFPR_InvoiceRange(bool Refund, int64_t& StartNo, int64_t& EndNo, int64_t& CurrentNo);
  // The day's totals of payment types 1..11; the short form reads 1..8 and sets 9..11 to 0.
  bool GetFPR_DailyPayments(TDailyPayments& Payments);
  bool GetFPR_DailyPaymentsShort(TDailyPayments& Payments);
  // Department totals; an answer without the marker "P" leaves the start values (true).
  // A "P" answer must carry the VAT letter (else 200 or 201 "[VatGrp]").
  bool GetFPR_DepartmentSum(int32_t Number, TDepartmentSum& Dep);
  // Department definition: Name and AddText trimmed. An answer without a VAT letter
  // (0xC0..0xC7) fails with 200 or 201 "[VatGrp]", and TaxGroup keeps the caller's value.
  bool GetFPR_DepartmentInfo(int32_t Number, std::string& Name, std::string& AddText, char& TaxGroup);
  // Article data. The printer's answer for an article it does not have (no marker "P")
  // fails with 203 and that answer after "#"; an answer without a VAT letter fails with
  // 200 or 201 "[VatGrp]".
  bool GetFPR_PluData(int32_t Number, TPluData& Plu);
  bool GetFPR_PayTypeName(uint32_t PayType, std::string& Name);
  bool GetFPR_Constants(TPrnConst& Consts);
  // The currency mode, -1 when the printer answers no number; untouched on a failure.
  bool GetFPR_CurrencyMode(int32_t& Mode);
  bool FPR_OpenDrawer(uint16_t PulseTime);

  // --- receipt commands ---
  // (BaseDeviceReceiptCommands.cpp.) VAT letters are 0xC0..0xC7 (group + 191); payment
  // letters C, D, I, J, K, L, M, N, P, Q, R. AllReceipt/FiscReceipt start at 0.

  static void ClearClientData(TClientData& Client);

  bool FPR_OpenFiscBon(uint16_t Operator, const std::string& Password, int32_t Till, bool Invoice, int32_t& AllReceipt,
                       int32_t& FiscReceipt);
  bool FPR_OpenFiscBonEx(const TFiskParam& FiskParam, int32_t& AllReceipt, int32_t& FiscReceipt);
  // The request data of FPR_OpenFiscBonEx for FiskParam, built as the command builds it; raises
  // ECmdException(201, ...) where the command would refuse before sending (data longer than
  // 219 bytes included). Sends nothing: a caller checks with it before it sends anything.
  static void BuildOpenFiscBonExData(const TFiskParam& FiskParam, TDataBuffer& Data);
  bool FPR_Sale(const std::string& Text1, const std::string& Text2, char VatLetter, double Price, double Quantity,
                double Percent);
  bool FPR_SaleByDepartment(const std::string& Text1, const std::string& Text2, uint8_t DepartmentNo, double Price,
                            double Quantity, double Percent);
  bool FPR_SaleProgPlu(bool PrefixD, int32_t PluNo, int32_t DepartmentNo, double Quantity, double Correction,
                       bool IsAbsolute);
  // SubTotal and the eight VatSums start at 0; a sum the answer does not carry stays 0.
  bool FPR_SubTotal(bool Print, bool IsAbsolute, bool Display, double& SubTotal, std::array<double, 8>& VatSums,
                    double Value);
  bool FPR_DiscountLastItem(bool IsAmount, double Value);
  // PaidCode is the printer's answer code ('\0' before it), Amount2 its second amount (0).
  bool FPR_Payment(const std::string& Text1, const std::string& Text2, char PayLetter, double Amount, char& PaidCode,
                   double& Amount2);
  bool FPR_PaymentByCurrency(const std::string& Text1, const std::string& Text2, char PayLetter, double Amount,
                             double Rate, const std::string& CurrencyCode, char& PaidCode, double& Amount2);
  bool FPR_PrintFiscText(const std::string& Text);
  bool FPR_SetInvoiceClient(const TClientData& Client);
  bool FPR_CloseFiscBon(int32_t& AllReceipt, int32_t& FiscReceipt);
  bool FPR_CancelFiscBon();
  // A refused second copy is recorded under 256.
  bool FPR_PrintDuplicate();
  bool FPR_OpenNonFiscBon(int32_t& AllReceipt, int32_t& FiscReceipt);
  bool FPR_PrintNonFiscText(const std::string& Text);
  bool FPR_CloseNonFiscBon(int32_t& AllReceipt);
  bool FPR_PrintBarcode(int32_t BarcodeType, const std::string& BarcodeData, bool Hri);
  // Brings the printer to no open receipt: cancels (or closes) a fiscal one, closes a
  // non-fiscal one. True only when the printer was seen with no fiscal receipt open.
  bool FPR_CloseOpenReceipts();
  // Gets an open fiscal receipt closed at any cost (cancel, or pay the rest and close).
  bool FPR_CancelAllRec();

  // --- report, programming and service commands ---
  // (BaseDeviceServiceCommands.cpp.) Every one runs CheckStatus after its own tests, except
  // FPR_CashInOut, which runs it first. Arguments that the printer cannot take fail with
  // 201 before anything is sent. Dates are date-time values (days since 30 December 1899).

  // The daily report: Z (with clearing) when ZReport, else X (no clearing).
  bool FPR_DailyReport(bool ZReport);
  // Fiscal memory report by block numbers, sent in ascending order; EndNo 0: none sent.
  bool FPR_FMReportByNumber(bool Short, uint32_t StartNo, uint32_t EndNo);
  // Fiscal memory report by dates ("ddmmyy"); EndDate 0: none sent. An EndDate before
  // StartDate, or a date that is no valid date-time value, fails with 201.
  bool FPR_FMReportByDate(bool Short, double StartDate, double EndDate);
  // The department and the article report (with clearing when ZReport). Closure, Total and
  // the eight VatSums start at 0; the sums come in hundredths.
  bool FPR_DepartmentReport(bool ZReport, int64_t& Closure, double& Total, std::array<double, 8>& VatSums);
  bool FPR_PluReport(bool ZReport, int64_t& Closure, double& Total, std::array<double, 8>& VatSums);
  // Sets the clock to the minute ("dd-mm-yy hh:nn"; seconds are not sent).
  bool SetFPR_DateTime(double DateTime);
  // Header line LineNo with the first 36 characters of Text.
  bool SetFPR_HeaderLine(uint16_t LineNo, const std::string& Text);
  // The barcode height in millimetres; above 30 mm (240 dots) fails with 201.
  bool SetFPR_BarcodeHeight(uint16_t HeightMm);
  // Name is sent with its blanks trimmed and must not be empty then ("[OpName]").
  bool SetFPR_Operator(uint16_t OperNo, const std::string& Password, const std::string& Name);
  // Sets the invoice range (with CreditNote the credit-note range). Both numbers at most
  // 99999999999 and End not below Start; the numbers the printer answers replace them.
  bool SetFPR_InvoiceRange(bool CreditNote, int64_t& Start, int64_t& End);
  bool SetFPR_Department(const TDepartmentInfo& Info);
  // Programs an article from PluNo, TaxGroup (0xC0..0xC7, else "[VatGrp]"), GroupNom,
  // UnitPrice, Quantity and the first 36 characters of Name.
  bool SetFPR_PluData(const TPluData& Plu);
  // Cash in (Amount above 0) or out (below 0). A refused cash out above the cash in the
  // drawer fails with 207, any other refusal with 206.
  bool FPR_CashInOut(double Amount);
  // Prints the diagnostic ticket.
  bool FPR_PrintDiagnostics();
  // The day's eight sums by tax group, in hundredths: turnover when Turnover, else VAT. A
  // field that is missing or not a number gives 0.
  bool GetFPR_DailyTaxation(bool Turnover, std::array<double, 8>& Sums);

  // The state of the fiscal transaction (BaseDeviceTransactionStatus.cpp), asked with the
  // letter "T" when T. IsOpen false, ItemsCount 0, Amount 0 and Tender 0 at the start;
  // HasTender tells whether the answer carried the tender field at all.
  bool GetFPR_TransactionStatus(bool T, bool& IsOpen, int32_t& ItemsCount, double& Amount, double& Tender,
                                bool& HasTender);
  bool GetFPR_TransactionStatus(bool T, bool& IsOpen, int32_t& ItemsCount, double& Amount, double& Tender);

 protected:
  // Raises ECmdException(201, "[DataLen]") when Data is longer than 219 bytes. The one
  // place of that rule: RunCommand, BeginExchange and BuildRequestFrame use it.
  static void CheckDataLength(const TDataBuffer& Data);
  // Steps FSequence: +1 modulo 256; below 0x20 or above 0x7F becomes 0x20.
  void NextSequence();
  // The start of every SendCommand, called once per call before the first attempt:
  // FErrorText empty, FErrorCode 0, NextSequence, then CheckDataLength; on refusal the
  // failure is recorded without status and the result is false (send nothing then).
  bool BeginExchange(const TDataBuffer& Data);
  // The request frame for this exchange's SEQ (FSequence), Cmd and the escaped Data.
  TDataBuffer BuildFrame(uint8_t Cmd, const TDataBuffer& Data) const;
  // A whole SendCommand on Link (see TExchangeLink): BeginExchange, then attempts until
  // one succeeds or the link's retry policy ends the call. Success: Data holds the answer
  // data and the error is cleared. Failure: Data is unchanged, FErrorCode and FErrorText
  // describe the last failure with the marks of the attempts before it. A link that cannot
  // be made ready fails with 101 while nothing of the call was written; once a frame went
  // out, the call keeps the code and text of its failed attempt instead (107 when the
  // attempts are used, else that attempt's code, 103 when it had none) with the link's own
  // failure and "[" + link name + "]" added. It never raises.
  bool Exchange(TExchangeLink& Link, uint8_t Cmd, TDataBuffer& Data, uint8_t Retries, TDataBuffer& Status);

  // Sequence number of the frames: 0x20..0x7F once an exchange has begun.
  uint8_t FSequence;

 private:
  // Set while CheckOnly runs its operation: RunCommand stops before the link.
  bool FCheckOnly = false;
};

}  // namespace fp
